#!/usr/bin/env python3
"""Whole functions of a Waters MassLynx .raw directory as numpy arrays.

Reads every scan of one function at once and prints its total ion current apex,
the strongest m/z of the summed spectrum and their extracted-ion chromatograms:

    python3 whole_run_numpy.py path/to/sample.raw
    python3 whole_run_numpy.py path/to/sample.raw --function 2 --mz 524.2648 785.8426 --ppm 10

The arrays are read-only views of the decoded data; numpy reads them without copying.
"""

from __future__ import annotations

import argparse
import sys
from collections.abc import Sequence

import numpy as np

import tarnvale_tools as tt


def strongest_mz(mz: np.ndarray, intensity: np.ndarray, count: int) -> list[float]:
    """The peaks of the summed spectrum (points binned to 0.01) with the most intensity,
    each at its intensity-weighted m/z."""
    _, where = np.unique(np.round(mz, 2), return_inverse=True)
    summed = np.bincount(where, weights=intensity)
    centre = np.bincount(where, weights=mz * intensity) / np.where(summed > 0, summed, 1)
    return [round(float(centre[i]), 4) for i in np.argsort(summed)[::-1][:count]]


def main(argv: Sequence[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("path")
    parser.add_argument("--function", type=int, default=1, help="1-based function number (default 1)")
    parser.add_argument("--mz", type=float, nargs="*", default=[], help="XIC targets (default: the two strongest)")
    parser.add_argument("--ppm", type=float, default=10.0, help="XIC width in ppm (default 10)")
    args = parser.parse_args(argv)

    try:
        run = tt.Run(args.path)
        function = run.function(args.function)
        cols = run.columns(args.function, threads=2)
        mz, intensity = np.asarray(cols.mz), np.asarray(cols.intensity)
        rt, tic = (np.asarray(a) for a in run.tic(args.function))
        targets = args.mz or strongest_mz(mz, intensity, 2)
        _, xic = run.xic(args.function, targets, ppm=args.ppm)
    except RuntimeError as error:
        print(f"error: {error}", file=sys.stderr)
        return 1

    print(run)
    print(
        f"function {function.index}: encoding {function.encoding}, MS{function.ms_level}, {len(cols)} scans, "
        f"{cols.n_points} points, m/z {mz.min() if len(mz) else 0:.4f}-{mz.max() if len(mz) else 0:.4f}"
    )
    apex = int(np.argmax(tic))
    print(f"TIC apex: scan {apex}, RT {rt[apex]:.4f} min, {tic[apex]:.0f} counts")
    print(f"XIC at {args.ppm:g} ppm:")
    print("  RT (min)  " + "".join(f"{target:>12.4f}" for target in targets))
    for scan, row in enumerate(np.asarray(xic).T):
        print(f"  {rt[scan]:8.4f}  " + "".join(f"{value:12.0f}" for value in row))
    return 0


if __name__ == "__main__":
    sys.exit(main())
