#!/usr/bin/env python3
"""Sizes and conversion times of the compact mzML options, as one table.

Converts the three demo runs and the conversion benchmark's synthetic run (written by
``bench_export --write-run``: SCANS scans of 1,000 points in encoding A plus an
ion-mobility function of a tenth as many) with each option set: plain (no
compression), zlib (the default), numpress, numpress + zlib, 32-bit m/z (with zlib)
and gzip (with zlib). Each conversion is timed in this process, on THREADS threads,
the best of ROUNDS rounds with the option sets taking turns; sizes and times are
printed beside the plain conversion's, the floor measured in the same run (the
conversion without any compression work), as a Markdown table for
docs/performance.md.

    PYTHONPATH=build/python python3 bench/compact_mzml.py [--scans 24000] [--threads 1]
        [--rounds 3] [--bench-export build/bench_export] [--out DIR]

The files go to a temporary directory (or --out, e.g. a RAM-backed one to leave the
disk out of the times) and are removed as soon as they are measured.
"""

from __future__ import annotations

import argparse
import os
import subprocess
import sys
import tempfile
import time
from pathlib import Path

TOP = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(TOP / "scripts"))

import rawfixture  # noqa: E402

import tarnvale_tools as tt  # noqa: E402

OPTION_SETS = {
    "plain": {"compression": False},
    "zlib": {},
    "numpress": {"numpress": True, "compression": False},
    "numpress + zlib": {"numpress": True},
    "32-bit m/z": {"mz_precision": 32},
    "gzip": {"gzip": True},
}


def benchmark_run(directory: Path, scans: int, program: Path) -> Path:
    """The conversion benchmark's synthetic run, written by the benchmark itself."""
    done = subprocess.run([str(program), "--write-run", str(directory), str(scans)], check=True,
                          capture_output=True, text=True)
    return Path(done.stdout.strip())


def measure(run: Path, out: Path, options: dict, threads: int) -> tuple[float, int]:
    """Seconds and bytes of one conversion; the file is removed once measured."""
    start = time.perf_counter()
    tt.write_mzml(run, out, threads=threads, **options)
    seconds = time.perf_counter() - start
    size = out.stat().st_size
    out.unlink()
    return seconds, size


def measure_run(run: Path, out_dir: Path, threads: int, rounds: int) -> dict[str, tuple[float, int]]:
    best: dict[str, tuple[float, int]] = {}
    for round_ in range(rounds):
        names = list(OPTION_SETS) if round_ % 2 == 0 else list(reversed(OPTION_SETS))
        for name in names:
            options = OPTION_SETS[name]
            out = out_dir / (run.stem + (".mzML.gz" if options.get("gzip") else ".mzML"))
            seconds, size = measure(run, out, options, threads)
            if name not in best or seconds < best[name][0]:
                best[name] = (seconds, size)
    return best


def size_text(size: int) -> str:
    return f"{size / 1e6:,.1f} MB" if size >= 1e6 else f"{size / 1e3:,.1f} kB"


def time_text(seconds: float) -> str:
    return f"{seconds:,.2f} s" if seconds >= 1 else f"{seconds * 1e3:,.1f} ms"


def table(results: dict[str, dict[str, tuple[float, int]]]) -> str:
    lines = ["| run | option | size | size / plain | time | time / plain |",
             "| --- | --- | ---: | ---: | ---: | ---: |"]
    for run, measured in results.items():
        plain_seconds, plain_size = measured["plain"]
        for name, (seconds, size) in measured.items():
            lines.append(f"| {run} | {name} | {size_text(size)} | {size / plain_size:.3f} | "
                         f"{time_text(seconds)} | {seconds / plain_seconds:.2f} |")
    return "\n".join(lines)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--scans", type=int, default=24_000, help="scans of the benchmark run (default 24,000)")
    parser.add_argument("--threads", type=int, default=1)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--bench-export", type=Path, default=None,
                        help="the bench_export program (default: build/ or build-bench/bench_export)")
    parser.add_argument("--out", type=Path, default=None, help="where the mzML files go while measured")
    args = parser.parse_args()
    program = args.bench_export or next(
        (p for p in (TOP / "build" / "bench_export", TOP / "build-bench" / "bench_export") if p.exists()), None)
    if program is None:
        parser.error("no bench_export program: build it (make build) or name it with --bench-export")
    load = os.getloadavg()[0]
    with tempfile.TemporaryDirectory(prefix="tarnvale-compact-") as temp:
        runs_dir, out_dir = Path(temp) / "runs", args.out or Path(temp) / "out"
        out_dir.mkdir(parents=True, exist_ok=True)
        runs = rawfixture.write_demo(runs_dir)
        runs.append(benchmark_run(runs_dir, args.scans, program))
        results = {}
        for run in runs:
            name = run.name if run != runs[-1] else f"benchmark, {args.scans:,} + {args.scans // 10:,} IMS scans"
            results[name] = measure_run(run, out_dir, args.threads, args.rounds)
            print(f"measured {name}", file=sys.stderr)
    print(f"threads: {args.threads}; best of {args.rounds} rounds; load average before: {load:.1f}, "
          f"after: {os.getloadavg()[0]:.1f}")
    print(table(results))
    return 0


if __name__ == "__main__":
    sys.exit(main())
