"""The ``tarnvale info`` subcommand: an overview of a run, as text or as JSON."""

from __future__ import annotations

import argparse
import json
import sys
from typing import Any

from .plot_command import positive_int, scan_number
from .processing_options import (
    EXIT_USAGE, UsageProblem, add_lock_mass_arguments, lock_mass_request,
)


def add_parser(subparsers: Any) -> None:
    """Registers ``info`` on the ``tarnvale`` command's subparsers."""
    parser: argparse.ArgumentParser = subparsers.add_parser(
        "info",
        help="print an overview of a run",
        description="Prints the run header, the functions, the retention-time range, the base peak of one "
        "scan and the chromatogram channels; with --lock-mass, how far the lock mass is off.",
    )
    parser.add_argument("path", metavar="RUN.raw", help="the .raw directory")
    parser.add_argument("--json", action="store_true", help="print the overview as JSON")
    parser.add_argument("--function", type=positive_int, metavar="F",
                        help="function for the base peak (default: the first with scans)")
    parser.add_argument("--scan", type=scan_number, default=0, metavar="N",
                        help="scan for the base peak, 0-based (default: 0)")
    add_lock_mass_arguments(parser, "report how far the lock mass is off, before and after correction")
    parser.set_defaults(run=run)


def run(args: argparse.Namespace) -> int:
    """Prints the overview; 1 when the run or the chosen scan cannot be read."""
    from . import overview

    try:
        lock_mass = lock_mass_request("info", args)
    except UsageProblem as problem:
        print(problem, file=sys.stderr)
        return EXIT_USAGE
    try:
        found = overview.gather(args.path, args.function, args.scan, lock_mass)
    except RuntimeError as error:
        print(f"tarnvale info: error: {error}", file=sys.stderr)
        return 1
    if not args.json:
        return overview.print_text(found, sys.stdout, sys.stderr, prefix="tarnvale info: error: ")
    print(json.dumps(overview.as_json(found), indent=2))
    if found.base_peak_error is not None:
        print(f"tarnvale info: error: base peak: {found.base_peak_error}", file=sys.stderr)
        return 1
    return 0
