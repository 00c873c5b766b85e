#!/usr/bin/env python3
"""What peak picking and lock-mass correction cost a conversion, as ratios measured in
one run.

Writes a synthetic ion-mobility run of profile data (encoding B: SCANS scans, each
with PEAKS Gaussian peaks in each of three drift bins, on a floor of a few counts) and
a lock-mass function every 20 s (encoding D), every m/z drifting from -20 to +20 ppm.
Then measures, best of REPEATS, interleaved, on one thread: the conversion to mzML as
decoded (profile), with --centroid, with --lock-mass, and with both; and the columns
of the profile function with and without picking.

- centroid / profile: what a centroided conversion takes beside a profile one (the
  picking is paid for, the smaller arrays to compress and write are gained back);
  the tool promises at most 1.15.
- lock mass overhead: (profile + lock mass) / profile - 1, the lock scans read and
  every m/z multiplied; promised at most 5 %.
- picking per point: the columns' extra time per profile point with centroid=True.

Run with the modules on PYTHONPATH, for example
``PYTHONPATH=build/python python3 bench/processing.py``; SCANS and PEAKS in the
environment change the size.
"""

from __future__ import annotations

import os
import random
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "scripts"))
sys.path.insert(0, str(Path(__file__).resolve().parent))

import end_to_end  # noqa: E402
import rawfixture  # noqa: E402

import tarnvale_tools as tt  # noqa: E402

REPEATS = 5
SCANS = int(os.environ.get("SCANS", 3000))
PEAKS = int(os.environ.get("PEAKS", 60))
TEMPLATES = 24  # distinct scans, repeated to make up the run
FIRST, LAST, LOW, HIGH = 100, 60000, 50.0, 2000.0
LEU_ENK = 556.276575


def build(path: Path) -> int:
    """Writes the run; returns its number of profile points."""
    rng = random.Random(7)
    minutes = SCANS * 0.5 / 60
    drift = rawfixture.LockMassDrift(-20.0, 20.0, minutes)
    templates = []
    for _ in range(TEMPLATES):
        peaks = [
            rawfixture.GaussianPeak(rng.uniform(FIRST + 50, LAST - 50), rng.uniform(1.0, 3.0), 100 * 300 ** rng.random())
            for _ in range(PEAKS)
        ]
        spectra = {word: rawfixture.profile_counts(peaks, rng) for word in (8000, 9000, 10000)}
        templates.append(rawfixture.profile_scan_b(0.0, spectra, FIRST, LAST).payload())
    scans = [rawfixture.Scan((i + 0.5) * 0.5 / 60, data=templates[i % TEMPLATES]) for i in range(SCANS)]
    lock, _ = rawfixture.lock_mass_scans(drift, LEU_ENK, rng, every_s=(20.0, 20.0), missing=0.0)
    functions = [
        rawfixture.Function("B", scans, rawfixture.FunctionRecord(scan_time_s=0.5, mz_low=LOW, mz_high=HIGH)),
        rawfixture.Function("D", lock, rawfixture.FunctionRecord(scan_subtype=0x81, mz_low=100.0, mz_high=1000.0)),
    ]
    cal = [rawfixture.CalLine(1, [0.0, 1.0], "T1"), rawfixture.CalLine(2, [], "T0")]
    header = rawfixture.RunHeader(instrument="SYNAPT G2-Si", cal=cal)
    rawfixture.RawDir(header, rawfixture.Extern(), functions).write(path)
    return sum(len(t) for t in (templates[i % TEMPLATES] for i in range(SCANS))) // 8


def main() -> int:
    with tempfile.TemporaryDirectory() as tmp:
        raw = Path(tmp) / "profile.raw"
        points = build(raw)
        run = tt.Run(str(raw))
        out = Path(tmp) / "out.mzML"
        lock = {"lock_mass": "leu-enk"}
        times = end_to_end.best_of(
            {
                "profile": lambda: tt.write_mzml(raw, out),
                "centroid": lambda: tt.write_mzml(raw, out, centroid=True),
                "profile+lock": lambda: tt.write_mzml(raw, out, **lock),
                "centroid+lock": lambda: tt.write_mzml(raw, out, centroid=True, **lock),
                "columns": lambda: run.columns(1),
                "columns centroid": lambda: run.columns(1, centroid=True),
            },
            REPEATS,
        )
        picked = run.columns(1, centroid=True).n_points
    profile = times["profile"]
    print(f"run: {SCANS} scans, {points} profile points ({picked} peaks picked); best of {REPEATS}, interleaved, 1 thread")
    for name in ("profile", "centroid", "profile+lock", "centroid+lock"):
        print(f"  convert {name:14s} {times[name]:7.3f} s  {times[name] / profile:5.3f} x profile")
    print(f"  columns            {times['columns']:7.3f} s; with centroid=True {times['columns centroid']:7.3f} s")
    print("ratios:")
    print(f"  centroid / profile conversion: {times['centroid'] / profile:.3f} (promised <= 1.15)")
    print(f"  lock-mass overhead:            {times['profile+lock'] / profile - 1:+.1%} (promised <= 5 %)")
    extra = (times["columns centroid"] - times["columns"]) / points * 1e9
    print(f"  picking: {extra:.1f} ns per profile point beside {times['columns'] / points * 1e9:.1f} ns to decode it")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
