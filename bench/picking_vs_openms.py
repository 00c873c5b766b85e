#!/usr/bin/env python3
"""tarnvale's peak picking beside OpenMS's PeakPickerHiRes on the same synthetic profile
spectra: position error, recall and extra peaks against the known truth, and the time
per core.

The spectra: SPECTRA ion-mobility scans (encoding B, one drift bin each) of PEAKS
Gaussian peaks, 1 to 4 bins wide (sigma), apexes from 100 to 30,000 counts
(log-uniform), a quarter of them with a partner 3 to 4 sigma away (60 to 100 % as
high), 15 % with a saturated (flat) top, on a floor of 0 to 4 counts.

Two steps, because pyopenms has no wheels for the Python tarnvale runs on:

    python3 bench/picking_vs_openms.py prepare DIR     (tarnvale's Python)
        writes DIR/spectra.raw and the truth, picks with tarnvale (Run.columns with
        centroid=True, min_intensity=MIN_SUM), and saves in DIR/spectra.npz the profile
        spectra exactly as tarnvale decodes them, its peaks and its times;
    python3 bench/picking_vs_openms.py compare DIR     (a Python with pyopenms)
        picks the saved spectra with PeakPickerHiRes (default parameters, one thread;
        peaks below MIN_APEX counts dropped, the floor's bumps) and prints both side by
        side.

Between the two, `time DIR` and `time-openms DIR` take turns timing each side again
(each keeps its best), so that a busy moment of a shared machine hits both alike.

Both read the same spectra: tarnvale from the run, PeakPickerHiRes from the arrays
tarnvale decoded from it, bit for bit. Positions are compared in time bins (the m/z of
a peak mapped back through the run's flight-time axis). Times are the best of REPEATS:
tarnvale's picking is its total ion current read with centroid=True minus the same
read without (each decodes every scan and keeps no points); PeakPickerHiRes's is its
pick() over the spectra already in memory. `scripts/bench-picking.sh` runs both steps.
"""

from __future__ import annotations

import json
import math
import os
import random
import sys
import time
from pathlib import Path

import numpy as np

REPEATS = 5
SPECTRA = int(os.environ.get("SPECTRA", 200))
PEAKS = int(os.environ.get("PEAKS", 40))
FIRST, LAST, LOW, HIGH = 100, 60000, 50.0, 2000.0
MIN_SUM = 150.0  # tarnvale: summed counts; the floor alone sums to less
MIN_APEX = 20.0  # PeakPickerHiRes: apex counts, ten times the floor's mean


# ---------------------------------------------------------------- shared


def position_of(mz: np.ndarray) -> np.ndarray:
    """The time-bin position of an m/z on the run's axis (uncalibrated, T0)."""
    low, high = math.sqrt(float(np.float32(LOW))), math.sqrt(float(np.float32(HIGH)))
    return FIRST + (np.sqrt(mz) - low) / (high - low) * (LAST - FIRST)


def score(truth: dict[str, np.ndarray], scans: np.ndarray, positions: np.ndarray) -> dict[str, float]:
    """Each true peak, strongest first, takes the nearest unused picked peak of its scan
    within one sigma (at least a bin). Position RMS of apexes of 1,000 counts or more:
    peaks alone, peaks of an overlapping pair (whose centre the sum's apex misses, for
    any picker) and saturated tops apart; recall, of all and of saturated tops; and the
    share of picked peaks that match none."""
    errors: dict[str, list[float]] = {"alone": [], "pair": [], "flat": []}
    found = found_flat = extra = 0
    for scan in np.unique(truth["scan"]):
        mine = positions[scans == scan]
        used = np.zeros(len(mine), dtype=bool)
        in_scan = np.flatnonzero(truth["scan"] == scan)
        for t in in_scan[np.argsort(-truth["height"][in_scan], kind="stable")]:
            distance = np.abs(mine - truth["position"][t])
            distance[used] = np.inf
            best = int(np.argmin(distance)) if len(mine) else -1
            if best < 0 or distance[best] > max(1.0, truth["sigma"][t]):
                continue
            used[best] = True
            found += 1
            found_flat += bool(truth["flat"][t])
            if truth["height"][t] >= 1000:
                kind = "flat" if truth["flat"][t] else "pair" if truth["paired"][t] else "alone"
                errors[kind].append(float(mine[best] - truth["position"][t]))
        extra += int(np.count_nonzero(~used))
    rms = {kind: math.sqrt(sum(e * e for e in values) / len(values)) if values else math.nan for kind, values in errors.items()}
    return {
        **rms,
        "recall": found / len(truth["scan"]),
        "flat_recall": found_flat / max(int(np.count_nonzero(truth["flat"])), 1),
        "extra": extra / max(len(positions), 1),
    }


# ---------------------------------------------------------------- prepare (tarnvale)


def truth_of_scan(rng: random.Random) -> list[tuple[float, float, float, bool]]:
    peaks = []
    at = FIRST + 200.0
    step = (LAST - FIRST - 400) / PEAKS
    for _ in range(PEAKS):
        sigma, height = 1 + 3 * rng.random(), 100 * 300 ** rng.random()
        centre, kind = at + rng.random() * step * 0.5, rng.random()
        peaks.append((centre, sigma, height, kind < 0.15))
        if kind > 0.75:
            peaks.append((centre + (3 + rng.random()) * sigma, sigma, height * (0.6 + 0.4 * rng.random()), False))
        at += step
    return peaks


def time_tarnvale(directory: Path) -> None:
    """Times tarnvale's picking of the prepared run again, keeping the best times."""
    sys.path.insert(0, str(Path(__file__).resolve().parent))
    import end_to_end

    import tarnvale_tools as tt

    run = tt.Run(str(directory / "spectra.raw"))
    # The total ion current decodes every scan into a small buffer and keeps nothing:
    # with and without picking, the difference is the picking alone.
    times = end_to_end.best_of(
        {
            "plain": lambda: run.tic(1),
            "picked": lambda: run.tic(1, centroid=True, min_intensity=MIN_SUM),
            "columns": lambda: run.columns(1, centroid=True, min_intensity=MIN_SUM),
        },
        REPEATS,
    )
    record = directory / "tarnvale.json"
    kept = json.loads(record.read_text())
    kept.update({name: min(value, kept.get(name, math.inf)) for name, value in times.items()})
    record.write_text(json.dumps(kept))


def prepare(directory: Path) -> None:
    sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "scripts"))
    sys.path.insert(0, str(Path(__file__).resolve().parent))
    import end_to_end
    import rawfixture

    import tarnvale_tools as tt

    rng = random.Random(2024)
    truth: dict[str, list[float]] = {"scan": [], "position": [], "sigma": [], "height": [], "flat": [], "paired": []}
    scans = []
    for scan in range(SPECTRA):
        peaks = []
        drawn = truth_of_scan(rng)
        for centre, sigma, height, flat in drawn:
            peaks.append(rawfixture.GaussianPeak(centre, sigma, height, 0.8 * height if flat else None))
            paired = any(0 < abs(other[0] - centre) < 5 * max(sigma, other[1]) for other in drawn)
            for key, value in zip(truth, (scan, centre, sigma, height, flat, paired), strict=True):
                truth[key].append(value)
        counts = rawfixture.profile_counts(peaks, rng)
        scans.append(rawfixture.profile_scan_b(0.01 * (scan + 1), {9000: counts}, FIRST, LAST))
    record = rawfixture.FunctionRecord(scan_time_s=0.5, mz_low=LOW, mz_high=HIGH)
    header = rawfixture.RunHeader(instrument="SYNAPT G2-Si", cal=[rawfixture.CalLine(1, [], "T0")])
    raw = directory / "spectra.raw"
    rawfixture.RawDir(header, rawfixture.Extern(), [rawfixture.Function("B", scans, record)]).write(raw, replace=True)

    run = tt.Run(str(raw))
    profile = run.columns(1)
    picked = run.columns(1, centroid=True, min_intensity=MIN_SUM)
    offsets = np.asarray(picked.scan_offsets).astype(np.int64)
    np.savez(
        directory / "spectra.npz",
        offsets=np.asarray(profile.scan_offsets).astype(np.int64),
        mz=np.asarray(profile.mz),
        intensity=np.asarray(profile.intensity),
        picked_scan=np.repeat(np.arange(SPECTRA), np.diff(offsets)),
        picked_mz=np.asarray(picked.mz),
        **{f"truth_{key}": np.asarray(values) for key, values in truth.items()},
    )
    (directory / "tarnvale.json").write_text(json.dumps({"profile_points": profile.n_points}))
    (directory / "openms.json").unlink(missing_ok=True)
    time_tarnvale(directory)
    print(f"prepared {SPECTRA} spectra, {len(truth['scan'])} true peaks, {profile.n_points} profile points in {directory}")


# ---------------------------------------------------------------- compare (pyopenms)


def compare(directory: Path, quiet: bool = False) -> None:
    import pyopenms

    data = np.load(directory / "spectra.npz")
    mine = json.loads((directory / "tarnvale.json").read_text())
    truth = {key[len("truth_"):]: data[key] for key in data.files if key.startswith("truth_")}
    spectra = []
    count = len(data["offsets"]) - 1
    for scan in range(count):
        spectrum = pyopenms.MSSpectrum()
        begin, end = data["offsets"][scan], data["offsets"][scan + 1]
        order = np.argsort(data["mz"][begin:end], kind="stable")
        spectrum.set_peaks((data["mz"][begin:end][order], data["intensity"][begin:end][order].astype(np.float64)))
        spectrum.setType(pyopenms.SpectrumSettings.SpectrumType.PROFILE)
        spectra.append(spectrum)
    picker = pyopenms.PeakPickerHiRes()
    record = directory / "openms.json"
    best = json.loads(record.read_text())["pick"] if record.exists() else math.inf
    outputs: list = []
    for _ in range(REPEATS):
        outputs = [pyopenms.MSSpectrum() for _ in spectra]
        start = time.perf_counter()
        for spectrum, output in zip(spectra, outputs, strict=True):
            picker.pick(spectrum, output)
        best = min(best, time.perf_counter() - start)
    record.write_text(json.dumps({"pick": best}))
    if quiet:
        return
    openms_scans, openms_mz = [], []
    for scan, output in enumerate(outputs):
        mz, intensity = output.get_peaks()
        keep = intensity >= MIN_APEX
        openms_scans.append(np.full(int(keep.sum()), scan))
        openms_mz.append(mz[keep])
    theirs = score(truth, np.concatenate(openms_scans), position_of(np.concatenate(openms_mz)))
    ours = score(truth, data["picked_scan"], position_of(data["picked_mz"]))
    picking = mine["picked"] - mine["plain"]
    points = mine["profile_points"]
    print(f"{count} spectra, {len(truth['scan'])} true peaks, {points} profile points; best of {REPEATS}, one thread")
    print(f"{'':28s}{'tarnvale':>12s}{'PeakPickerHiRes':>18s}")
    print(f"{'position RMS (bins)':28s}{'':12s}{'':18s}   apexes >= 1,000 counts")
    print(f"{'  peaks alone':28s}{ours['alone']:12.4f}{theirs['alone']:18.4f}")
    print(f"{'  pairs 3-4 sigma apart':28s}{ours['pair']:12.4f}{theirs['pair']:18.4f}")
    print(f"{'  saturated tops':28s}{ours['flat']:12.4f}{theirs['flat']:18.4f}")
    print(f"{'recall':28s}{ours['recall']:12.4f}{theirs['recall']:18.4f}")
    print(f"{'  of saturated tops':28s}{ours['flat_recall']:12.4f}{theirs['flat_recall']:18.4f}")
    print(f"{'extra peaks':28s}{ours['extra']:12.4f}{theirs['extra']:18.4f}")
    print(f"{'time (ms)':28s}{picking * 1e3:12.1f}{best * 1e3:18.1f}   picking only")
    print(f"{'  ns per profile point':28s}{picking / points * 1e9:12.1f}{best / points * 1e9:18.1f}")
    print(f"PeakPickerHiRes / tarnvale: {best / picking:.1f}x the time per core "
          f"({best / mine['columns']:.1f}x tarnvale's whole centroided read into columns, decoding included)")


STEPS = {
    "prepare": prepare,
    "time": time_tarnvale,
    "time-openms": lambda directory: compare(directory, quiet=True),
    "compare": compare,
}

if __name__ == "__main__":
    if len(sys.argv) != 3 or sys.argv[1] not in STEPS:
        print(f"usage: picking_vs_openms.py {'|'.join(STEPS)} DIR", file=sys.stderr)
        raise SystemExit(2)
    target = Path(sys.argv[2])
    target.mkdir(parents=True, exist_ok=True)
    STEPS[sys.argv[1]](target)
