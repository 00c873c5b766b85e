#!/usr/bin/env python3
"""Draws the two figures of docs/processing.md from synthetic runs the fixture writer
makes, read by tarnvale_tools as users read them:

- peak-picking.png: a profile scan (encoding B) with peaks alone, an overlapping pair,
  a saturated top and a shoulder on a floor of a few counts, the peaks picked from it,
  and one apex with the Gaussian (a parabola of the logarithms) through it;
- lock-mass.png: a run whose m/z drift from -20 to +20 ppm: the lock mass's error per
  lock scan with the correction interpolated between them, and survey ions before and
  after correction.

    PYTHONPATH=build/python python3 scripts/processing_figures.py docs
"""

from __future__ import annotations

import math
import random
import sys
import tempfile
from pathlib import Path

import matplotlib

matplotlib.use("Agg")
import numpy as np  # noqa: E402
from matplotlib.figure import Figure  # noqa: E402

sys.path.insert(0, str(Path(__file__).resolve().parent))
import rawfixture  # noqa: E402

import tarnvale_tools as tt  # noqa: E402

FIRST, LAST, LOW, HIGH = 100, 60000, 50.0, 2000.0
PROFILE = [  # centre (bin), sigma (bins), apex (counts), saturated at
    (1130.3, 1.4, 2600.0, None),
    (1171.0, 2.0, 2200.0, None),
    (1178.2, 2.0, 1500.0, None),  # 3.6 sigma from the one before
    (1222.6, 2.6, 3400.0, 2500.0),  # a saturated (flat) top
    (1262.0, 1.6, 1900.0, None),
    (1266.5, 1.6, 300.0, None),  # a shoulder: merges into the peak before
]
COLOURS = {"data": "#9aa7b8", "peak": "#b0203a", "truth": "#1f4e9c", "drift": "#9a5a00", "after": "#1f7a3a"}


def position_of(mz: np.ndarray) -> np.ndarray:
    low, high = math.sqrt(rawfixture.f32(LOW)), math.sqrt(rawfixture.f32(HIGH))
    return FIRST + (np.sqrt(mz) - low) / (high - low) * (LAST - FIRST)


def picking_figure(out: Path, work: Path) -> None:
    rng = random.Random(5)
    peaks = [rawfixture.GaussianPeak(c, s, h, f) for c, s, h, f in PROFILE]
    counts = rawfixture.profile_counts(peaks, rng, floor=4, reach=4.5)
    scan = rawfixture.profile_scan_b(0.5, {9000: counts}, FIRST, LAST)
    header = rawfixture.RunHeader(instrument="SYNAPT G2-Si", cal=[rawfixture.CalLine(1, [], "T0")])
    record = rawfixture.FunctionRecord(scan_time_s=0.5, mz_low=LOW, mz_high=HIGH)
    raw = rawfixture.RawDir(header, rawfixture.Extern(), [rawfixture.Function("B", [scan, scan], record)])
    run = tt.Run(str(raw.write(work / "profile.raw")))
    profile, picked = run.read_scan(1, 0), run.read_scan(1, 0, centroid=True)
    bins, heights = position_of(np.asarray(profile.mz)), np.asarray(profile.intensity)
    places, sums = position_of(np.asarray(picked.mz)), np.asarray(picked.intensity)

    figure = Figure(figsize=(11, 4.2), dpi=110, layout="constrained")
    left, right = figure.subplots(1, 2, width_ratios=[3, 1.2])
    left.bar(bins, heights, width=1.0, color=COLOURS["data"], label="profile: counts per time bin")
    for c, _, _, _ in PROFILE:
        left.plot([c], [-120], marker="^", color=COLOURS["truth"], ms=6, clip_on=False)
    left.plot([], [], marker="^", ls="", color=COLOURS["truth"], label="true centres")
    top = heights.max()
    previous = -math.inf
    for place, total in zip(places, sums, strict=True):
        left.axvline(place, color=COLOURS["peak"], lw=1.1)
        side = "left" if place - previous < 12 else "right"  # labels of close peaks point apart
        left.text(place + (0.8 if side == "left" else -0.8), top * 1.04, f"{total:,.0f}", ha=side, va="bottom",
                  fontsize=8, color=COLOURS["peak"])
        previous = place
    left.plot([], [], color=COLOURS["peak"], label="picked peaks (summed counts above)")
    left.set_xlim(bins.min() - 3, bins.max() + 3)
    left.set_ylim(-250, top * 1.18)
    left.set_xlabel("time bin")
    left.set_ylabel("counts")
    left.set_title("Peaks picked from adjacent bins: the pair stays two, the saturated top is kept,\n"
                   "the shoulder merges into its peak", loc="left", fontsize=10)
    left.legend(loc="upper center", bbox_to_anchor=(0.55, 0.9), fontsize=8, frameon=False)

    # The first peak's apex: the parabola through the logarithms of three counts.
    apex = int(np.argmin(np.abs(bins - PROFILE[0][0])))
    apex = apex + int(np.argmax(heights[apex - 2 : apex + 3])) - 2
    x, y = bins[apex - 1 : apex + 2], np.log(heights[apex - 1 : apex + 2].astype(np.float64))
    a, b, c = np.polyfit(x - x[1], y, 2)
    vertex = x[1] - b / (2 * a)
    fine = np.linspace(x[0] - 0.8, x[2] + 0.8, 200)
    right.plot(fine, a * (fine - x[1]) ** 2 + b * (fine - x[1]) + c, color=COLOURS["peak"], lw=1.2,
               label="parabola through\nthe three logarithms")
    right.plot(x, y, "o", color=COLOURS["data"], ms=7, label="apex and neighbours")
    right.axvline(vertex, color=COLOURS["peak"], ls="--", lw=1.0, label=f"vertex: bin {vertex:.3f}")
    right.axvline(PROFILE[0][0], color=COLOURS["truth"], ls=":", lw=1.0, label=f"true centre: {PROFILE[0][0]:.3f}")
    right.set_xlabel("time bin")
    right.set_ylabel("log(counts)")
    right.set_title("One apex: a Gaussian\nthrough three bins", loc="left", fontsize=10)
    right.legend(loc="lower center", fontsize=7.5, frameon=False)
    figure.savefig(out / "peak-picking.png")


def lock_mass_figure(out: Path, work: Path) -> None:
    rng = random.Random(11)
    minutes = 10.0
    drift = rawfixture.LockMassDrift(-20.0, 20.0, minutes)
    truth = [195.0877, 524.2648, 785.8426, 1048.5]
    times = [(i + 0.5) * 4 / 60 for i in range(int(minutes * 15))]
    survey = [rawfixture.scan_d(t, [(drift.observed(mz, t), 1000.0) for mz in truth]) for t in times]
    lock, lock_truth = rawfixture.lock_mass_scans(drift, rawfixture.LEU_ENK, rng)
    functions = [
        rawfixture.Function("D", survey, rawfixture.FunctionRecord(mz_low=LOW, mz_high=HIGH)),
        rawfixture.Function("D", lock, rawfixture.FunctionRecord(scan_subtype=0x81, mz_low=100.0, mz_high=1000.0)),
    ]
    header = rawfixture.RunHeader(instrument="SYNAPT G2-Si", cal=[rawfixture.CalLine(n, [], "T0") for n in (1, 2)])
    run = tt.Run(str(rawfixture.RawDir(header, rawfixture.Extern(), functions).write(work / "drift.raw")))
    rt, _, ppm = (np.asarray(a) for a in run.lock_mass_trace("leu-enk"))
    found = ~np.isnan(ppm)
    before = run.columns(1)
    after = run.columns(1, lock_mass="leu-enk")
    scan_rt = np.asarray(before.rt_min)

    def errors(cols: tt.Columns) -> np.ndarray:
        mz = np.asarray(cols.mz).reshape(-1, len(truth))
        return (mz - np.array(truth)) / np.array(truth) * 1e6

    figure = Figure(figsize=(11, 4.2), dpi=110, layout="constrained")
    left, right = figure.subplots(1, 2)
    curve = np.linspace(0, minutes, 400)
    left.plot(curve, [drift.ppm(t) for t in curve], color="0.6", lw=1.0, label="drift planted")
    held = np.concatenate(([0.0], rt[found], [minutes]))
    values = np.concatenate(([ppm[found][0]], ppm[found], [ppm[found][-1]]))
    left.plot(held, values, color=COLOURS["drift"], lw=1.2, label="correction: linear between lock scans,\nheld before the first and after the last")
    left.plot(rt[found], ppm[found], "o", color=COLOURS["drift"], ms=4.5, label="reference found in a lock scan")
    left.plot(rt[~found], np.full(int((~found).sum()), -24.0), "x", color="black", ms=6, label="lock scan without the reference")
    left.set_xlabel("retention time (min)")
    left.set_ylabel("lock mass error (ppm)")
    left.set_title(f"Leucine enkephalin {rawfixture.LEU_ENK:.4f}: {int(found.sum())} of {len(rt)} lock scans", loc="left", fontsize=10)
    left.legend(loc="upper left", fontsize=7.5, frameon=False)
    left.set_ylim(-27, 27)
    for column, mz in enumerate(truth):
        right.plot(scan_rt, errors(before)[:, column], color="0.7", lw=0.8)
        right.plot(scan_rt, errors(after)[:, column], color=COLOURS["after"], lw=0.8)
    right.plot([], [], color="0.7", label="survey ions as recorded")
    corrected = errors(after)
    right.plot([], [], color=COLOURS["after"],
               label=f"corrected: RMS {np.sqrt(np.mean(corrected ** 2)):.2f} ppm, at most {np.abs(corrected).max():.2f}")
    right.set_xlabel("retention time (min)")
    right.set_ylabel("m/z error (ppm)")
    right.set_title("Every m/z times the gain at its scan's retention time", loc="left", fontsize=10)
    right.legend(loc="upper left", fontsize=7.5, frameon=False)
    right.set_ylim(-27, 27)
    figure.savefig(out / "lock-mass.png")


def main(argv: list[str]) -> int:
    if len(argv) != 1:
        print("usage: processing_figures.py OUTDIR", file=sys.stderr)
        return 2
    out = Path(argv[0])
    out.mkdir(parents=True, exist_ok=True)
    with tempfile.TemporaryDirectory() as work:
        picking_figure(out, Path(work))
        lock_mass_figure(out, Path(work))
    print(f"wrote {out / 'peak-picking.png'} and {out / 'lock-mass.png'}")
    return 0


if __name__ == "__main__":
    raise SystemExit(main(sys.argv[1:]))
