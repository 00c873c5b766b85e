#!/usr/bin/env python3
"""Print an overview of a Waters MassLynx .raw directory.

Shows the run header, the acquisition functions, the retention-time range, the
base peak (most intense point) of one scan and the chromatogram channels:

    python3 inspect_raw.py path/to/sample.raw
    python3 inspect_raw.py path/to/sample.raw --function 2 --scan 10

Failures of the reader are reported as messages, with exit status 1.  The same
overview, also as JSON, is `tarnvale info`; both come from tarnvale_tools.overview,
which shows how the tarnvale module's calls are used.
"""

from __future__ import annotations

import argparse
import sys
from collections.abc import Sequence

from tarnvale_tools import overview


def parse_arguments(argv: Sequence[str] | None) -> argparse.Namespace:
    parser = argparse.ArgumentParser(description="Print an overview of a Waters MassLynx .raw directory.")
    parser.add_argument("raw_dir", help="path of the .raw directory")
    parser.add_argument(
        "--function", type=int, metavar="F", help="function for the base peak (1-based; default: first with scans)"
    )
    parser.add_argument("--scan", type=int, default=0, metavar="N", help="scan for the base peak (0-based; default 0)")
    args = parser.parse_args(argv)
    if args.function is not None and args.function < 1:
        parser.error("--function must be 1 or more")
    if args.scan < 0:
        parser.error("--scan must be 0 or more")
    return args


def main(argv: Sequence[str] | None = None) -> int:
    args = parse_arguments(argv)
    try:
        found = overview.gather(args.raw_dir, args.function, args.scan)
    except RuntimeError as error:
        print(f"error: {error}", file=sys.stderr)
        return 1
    return overview.print_text(found, sys.stdout, sys.stderr)


if __name__ == "__main__":
    sys.exit(main())
