#!/usr/bin/env python3
"""What skipping costs: the conversion benchmark's synthetic run (``bench_export
--write-run``, SCANS scans of 1,000 points plus an ion-mobility function of a tenth as
many) converted to mzML without skipping (the floor, measured in the same run), with
``on_error="skip"`` while every scan reads (one pass, as without), and with its last
scan cut short by the end of its data file: the worst case, found only as the file is
finished, when every selected scan is decoded once more and the file written again.
Best of ROUNDS rounds, the three taking turns; printed as ratios to the floor.

    PYTHONPATH=build/python python3 bench/export_skipping.py [--scans 20000] [--threads 1]
        [--rounds 3] [--bench-export build/bench_export]
"""

from __future__ import annotations

import argparse
import logging
import os
import shutil
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

from compact_mzml import benchmark_run  # noqa: E402

import tarnvale_tools as tt  # noqa: E402


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--scans", type=int, default=20000)
    parser.add_argument("--threads", type=int, default=1)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--bench-export", type=Path, default=Path("build/bench_export"))
    args = parser.parse_args()
    logging.disable(logging.WARNING)  # the skipped scan's warning
    with tempfile.TemporaryDirectory() as work:
        healthy = benchmark_run(Path(work), args.scans, args.bench_export)
        damaged = Path(work) / "damaged.raw"
        shutil.copytree(healthy, damaged)
        last = max(damaged.glob("_FUNC*.DAT"))  # the function written last
        os.truncate(last, last.stat().st_size - 3)
        cases = {
            "no skipping (floor)": (healthy, "fail"),
            "skipping, every scan reads": (healthy, "skip"),
            "skipping, the last scan cut short": (damaged, "skip"),
        }
        best = dict.fromkeys(cases, float("inf"))
        for _ in range(args.rounds):
            for name, (run, on_error) in cases.items():
                start = time.perf_counter()
                tt.write_mzml(run, Path(work) / "out.mzML", threads=args.threads, on_error=on_error)
                best[name] = min(best[name], time.perf_counter() - start)
    floor = best["no skipping (floor)"]
    print(f"{args.scans} scans, {args.threads} thread(s), best of {args.rounds}")
    for name, seconds in best.items():
        print(f"  {name:36} {seconds:7.2f} s  {seconds / floor:5.2f}x")
    return 0


if __name__ == "__main__":
    sys.exit(main())
