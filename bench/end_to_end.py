#!/usr/bin/env python3
"""End-to-end cost of the Python module, as ratios against plain file reads.

Writes a synthetic acquisition (one encoding-A function, SCANS scans of POINTS
points each), then measures in the same run:

- opening: ``RawReader(path)`` against reading every metadata and index file
  with ``open().read()``;
- reading: ``read_spectrum`` plus fetching ``mz`` and ``intensity`` as lists for
  every scan, against reading each scan's bytes with ``os.pread`` alone, and
  against the same bytes decoded by numpy (when installed) into arrays.

Run with the module on ``PYTHONPATH`` and ``scripts/`` importable, for example
``PYTHONPATH=build/python python3 bench/end_to_end.py``.
"""

from __future__ import annotations

import os
import sys
import tempfile
import time
from collections.abc import Callable
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "scripts"))

import rawfixture  # noqa: E402
import tarnvale  # noqa: E402

SCANS = 400
POINTS = 2000
REPEATS = 5


def build(path: Path) -> None:
    peaks = [(100.0 + 0.45 * i, 1 + (i * 37) % 5000) for i in range(POINTS)]
    scan = rawfixture.scan_a(0.0, peaks)
    scans = [rawfixture.Scan(0.01 * (i + 1), records=scan.records) for i in range(SCANS)]
    header = rawfixture.RunHeader(instrument="QTOF", cal=[rawfixture.CalLine(1, [0.0, 1.0], "T1")])
    rawfixture.RawDir(header=header, functions=[rawfixture.Function("A", scans)]).write(path)


def best(fn: Callable[[], None]) -> float:
    times = []
    for _ in range(REPEATS):
        start = time.perf_counter()
        fn()
        times.append(time.perf_counter() - start)
    return min(times)


def main() -> int:
    with tempfile.TemporaryDirectory() as tmp:
        path = Path(tmp) / "bench.raw"
        build(path)
        metadata = [path / name for name in ("_HEADER.TXT", "_extern.inf", "_FUNCTNS.INF", "_FUNC001.IDX")]
        record = 6 * POINTS

        def open_reader() -> None:
            tarnvale.RawReader(str(path))

        def read_metadata() -> None:
            for file in metadata:
                file.read_bytes()
            os.stat(path / "_FUNC001.DAT")

        reader = tarnvale.RawReader(str(path))

        def read_spectra() -> None:
            for scan in range(SCANS):
                spectrum = reader.read_spectrum(1, scan)
                spectrum.mz
                spectrum.intensity

        def read_bytes() -> None:
            fd = os.open(path / "_FUNC001.DAT", os.O_RDONLY)
            try:
                for scan in range(SCANS):
                    os.pread(fd, record, scan * record)
            finally:
                os.close(fd)

        results = {
            "open": (best(open_reader), best(read_metadata), "plain metadata reads"),
            "read all scans": (best(read_spectra), best(read_bytes), "os.pread of each scan"),
        }
        try:
            import numpy as np

            dtype = np.dtype([("intensity", "<u2"), ("exponent", "u1"), ("mantissa", "u1", 3)])

            def numpy_decode() -> None:
                fd = os.open(path / "_FUNC001.DAT", os.O_RDONLY)
                try:
                    for scan in range(SCANS):
                        rec = np.frombuffer(os.pread(fd, record, scan * record), dtype=dtype)
                        m = rec["mantissa"].astype(np.uint32)
                        mantissa = m[:, 0] | (m[:, 1] << 8) | (m[:, 2] << 16)
                        raw = np.ldexp(mantissa.astype(np.float64), (rec["exponent"] >> 4).astype(np.int32) - 24)
                        (np.sqrt(raw) ** 2).tolist()
                        rec["intensity"].astype(np.float32).tolist()
                finally:
                    os.close(fd)

            results["read all scans (numpy)"] = (best(read_spectra), best(numpy_decode), "numpy decode to lists")
        except ImportError:
            pass

        print(f"{SCANS} scans x {POINTS} points, encoding A; best of {REPEATS}")
        for name, (ours, base, label) in results.items():
            print(f"{name:24s} tarnvale {ours * 1e3:8.2f} ms   {label} {base * 1e3:8.2f} ms   ratio {ours / base:5.2f}x")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
