#!/usr/bin/env python3
"""End-to-end cost of tarnvale_tools from Python, as ratios measured in one run.

Writes synthetic acquisitions (encoding A at 4 and at 1,000 points per scan, and an
ion-mobility function in encoding B), then measures, best of REPEATS, interleaved:

- columns: ``Run.columns(1)`` in ns per point, on 1 and 2 threads;
- sweep: the same function read scan by scan with ``RawReader.read_spectrum`` and its
  ``.mz`` / ``.intensity`` lists (timed on a sample of the scans and scaled to all
  of them), as a multiple of the columns' time;
- tic, xic100: ``Run.tic`` and ``Run.xic`` with 100 targets of 10 ppm, as multiples
  of the columns' time;
- memory: the peak resident memory one ``Run.columns`` call adds (measured in a fresh
  interpreter), as a multiple of the bytes of the arrays it returns;
- 2T cpu/wall: the process CPU time over the wall time of the fastest two-thread call:
  near 2 when both threads ran at once, near 1 when the second one found no free core
  (on a machine shared with other work, a two-thread call slower than one thread shows
  this, not a fault of the code).

Run with the modules on ``PYTHONPATH``, for example
``PYTHONPATH=build/python python3 bench/tools_end_to_end.py``. SCANS_SMALL and
SCANS_LARGE in the environment change the numbers of scans.
"""

from __future__ import annotations

import os
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "scripts"))

import rawfixture  # noqa: E402

sys.path.insert(0, str(Path(__file__).resolve().parent))
import end_to_end  # noqa: E402

import tarnvale  # noqa: E402
import tarnvale_tools as tt  # noqa: E402

REPEATS = 5
SWEEP_SAMPLE = 2000  # scans read one by one, scaled to the whole function
SETS = [  # name, encoding, scans, points per scan
    ("A4", "A", int(os.environ.get("SCANS_SMALL", 200_000)), 4),
    ("A1000", "A", int(os.environ.get("SCANS_LARGE", 20_000)), 1000),
    ("B1000 (IMS)", "B", int(os.environ.get("SCANS_LARGE", 20_000)), 1000),
]
TEMPLATES = 16


def _records(encoding: str, points: int, seed: int) -> bytes:
    out = []
    for i in range(points):
        intensity = 1 + (seed * 7919 + i * 104729) % 65535
        if encoding == "A":
            out.append(rawfixture.record_a(intensity, *rawfixture.encode_a(50.0 + 1950.0 * (i + 0.5) / points)))
        else:
            out.append(rawfixture.record_b(intensity, (i * 37) % 65536, 100 + i * 60000 // points))
    return b"".join(out)


def build(path: Path, encoding: str, scans: int, points: int) -> None:
    templates = [_records(encoding, points, seed) for seed in range(TEMPLATES)]
    scan_list = [
        rawfixture.Scan(0.001 * i, data=templates[i % TEMPLATES], n_points=points if encoding == "A" else None)
        for i in range(scans)
    ]
    function = rawfixture.Function(encoding, scan_list, rawfixture.FunctionRecord(mz_low=50.0, mz_high=2000.0))
    function.data_bytes = b"".join(templates[i % TEMPLATES] for i in range(scans))
    header = rawfixture.RunHeader(
        instrument="SYNAPT G2-Si" if encoding == "B" else "XEVO-G2XSQTOF",
        cal=[rawfixture.CalLine(1, [0.0131, 0.99987654321, 3.1e-7], "T1")],
    )
    rawfixture.RawDir(header=header, functions=[function]).write(path)


MEMORY_CHILD = r"""
import ctypes, sys
import tarnvale_tools as tt
run = tt.Run(sys.argv[1])
ctypes.CDLL(None).malloc_trim(0)
def kib(field):
    for line in open("/proc/self/status"):
        if line.startswith(field):
            return int(line.split()[1])
with open("/proc/self/clear_refs", "w") as refs:
    refs.write("5")
before = kib("VmRSS:")
cols = run.columns(1, threads=int(sys.argv[2]))
peak = kib("VmHWM:")
arrays = [cols.scan_offsets, cols.mz, cols.intensity, cols.rt_min, cols.drift_time_ms]
size = sum(a.nbytes for a in arrays if a is not None)
print((peak - before) * 1024 / size)
"""


def peak_memory_ratio(path: Path, threads: int) -> float:
    env = dict(os.environ)
    done = subprocess.run(
        [sys.executable, "-c", MEMORY_CHILD, str(path), str(threads)], env=env, capture_output=True, text=True, check=True
    )
    return float(done.stdout)


def two_thread_overlap(run: tt.Run) -> float:
    best_wall, its_cpu = float("inf"), 0.0
    for _ in range(REPEATS):
        cpu, wall = time.process_time(), time.perf_counter()
        run.columns(1, threads=2)
        wall, cpu = time.perf_counter() - wall, time.process_time() - cpu
        if wall < best_wall:
            best_wall, its_cpu = wall, cpu
    return its_cpu / best_wall


def measure(path: Path, scans: int, points: int) -> dict[str, float]:
    run = tt.Run(str(path))
    reader = tarnvale.RawReader(str(path))
    sample = range(0, scans, max(1, scans // SWEEP_SAMPLE))
    targets = [50.0 + 1950.0 * (t + 0.37) / 100 for t in range(100)]

    def sweep() -> None:
        for scan in sample:
            spectrum = reader.read_spectrum(1, scan)
            spectrum.mz
            spectrum.intensity

    times = end_to_end.best_of(
        {
            "columns 1T": lambda: run.columns(1),
            "columns 2T": lambda: run.columns(1, threads=2),
            "tic": lambda: run.tic(1),
            "xic100": lambda: run.xic(1, targets, ppm=10),
            "sweep": sweep,
        },
        REPEATS,
    )
    times["sweep"] *= scans / len(sample)
    times["memory"] = peak_memory_ratio(path, 1)
    times["overlap"] = two_thread_overlap(run)
    return times


def main() -> int:
    print(f"best of {REPEATS}, interleaved; sweep timed on {SWEEP_SAMPLE} scans and scaled")
    print(f"{'set':12s} {'points':>10s} {'ns/pt 1T':>9s} {'1T/2T':>6s} {'sweep/col':>10s} {'tic/col':>8s} {'xic/col':>8s} {'mem':>5s} {'2T cpu/wall':>11s}")
    with tempfile.TemporaryDirectory() as tmp:
        for name, encoding, scans, points in SETS:
            path = Path(tmp) / f"{name.split()[0]}.raw"
            build(path, encoding, scans, points)
            t = measure(path, scans, points)
            one = t["columns 1T"]
            print(
                f"{name:12s} {scans * points:10d} {one * 1e9 / (scans * points):9.2f} {one / t['columns 2T']:6.2f} "
                f"{t['sweep'] / one:10.0f} {t['tic'] / one:8.2f} {t['xic100'] / one:8.2f} {t['memory']:5.2f} "
                f"{t['overlap']:11.2f}"
            )
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
