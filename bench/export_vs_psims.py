#!/usr/bin/env python3
"""Converting a run to mzML beside psims writing the same spectra, in one run.

psims is handed the spectra already decoded (numpy views of the columns), with the
same array types and zlib compression, so that its time is the writing alone; ours is
the whole conversion, reading and decoding included, on one thread and on two.
SCANS in the environment sets the number of scans (1,000 points each).

Run with the modules on ``PYTHONPATH``, for example
``PYTHONPATH=build/python python3 bench/export_vs_psims.py``.
"""

from __future__ import annotations

import os
import sys
import tempfile
import time
import warnings
from collections.abc import Callable
from pathlib import Path

import numpy as np
from psims.mzml.writer import MzMLWriter

sys.path.insert(0, str(Path(__file__).resolve().parent))

import tools_end_to_end  # noqa: E402

import tarnvale_tools as tt  # noqa: E402

SCANS = int(os.environ.get("SCANS", 5_000))
POINTS = 1000


def write_with_psims(run: tt.Run, out: Path) -> None:
    cols = run.columns(1)
    offsets = np.asarray(cols.scan_offsets)
    mz, intensity, rt = np.asarray(cols.mz), np.asarray(cols.intensity), np.asarray(cols.rt_min)
    encoding = {"m/z array": np.float64, "intensity array": np.float32}
    with MzMLWriter(open(out, "wb"), close=True) as writer:
        writer.controlled_vocabularies()
        with writer.run(id="bench"):
            with writer.spectrum_list(count=len(cols)):
                for scan in range(len(cols)):
                    first, last = int(offsets[scan]), int(offsets[scan + 1])
                    writer.write_spectrum(
                        mz[first:last],
                        intensity[first:last],
                        id=f"function=1 process=0 scan={scan}",
                        params=["MS1 spectrum", {"ms level": 1}, "centroid spectrum"],
                        scan_start_time=float(rt[scan]),
                        encoding=encoding,
                        compression="zlib",
                    )


def seconds(action: Callable[[], object], repeats: int) -> float:
    best = float("inf")
    for _ in range(repeats):
        start = time.perf_counter()
        action()
        best = min(best, time.perf_counter() - start)
    return best


def main() -> None:
    warnings.simplefilter("ignore")  # psims warns of the optional references this minimal file leaves out
    with tempfile.TemporaryDirectory(dir=os.environ.get("TMPDIR")) as temp:
        raw = Path(temp) / "bench.raw"
        tools_end_to_end.build(raw, "A", SCANS, POINTS)
        run = tt.Run(str(raw))
        ours = Path(temp) / "ours.mzML"
        theirs = Path(temp) / "psims.mzML"
        one = seconds(lambda: tt.write_mzml(str(raw), str(ours), threads=1), 3)
        two = seconds(lambda: tt.write_mzml(str(raw), str(ours), threads=2), 3)
        psims = seconds(lambda: write_with_psims(run, theirs), 1)
        size_ours, size_psims = ours.stat().st_size / 1e6, theirs.stat().st_size / 1e6
    print(f"{SCANS} scans x {POINTS} points, zlib")
    print(f"psims (decoded spectra):  {psims:7.3f} s  {size_psims / psims:7.1f} MB/s  ({size_psims:.0f} MB)")
    print(f"tarnvale, 1 thread:       {one:7.3f} s  {size_ours / one:7.1f} MB/s  ({size_ours:.0f} MB)")
    print(f"tarnvale, 2 threads:      {two:7.3f} s  {size_ours / two:7.1f} MB/s")
    print(f"faster than psims: {psims / one:.1f}x on 1 thread, {psims / two:.1f}x on 2")


if __name__ == "__main__":
    main()
