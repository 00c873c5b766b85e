"""The ``tarnvale plot`` subcommand: a quick-look picture of a run.

Imports neither numpy nor matplotlib until the command runs, so that the
command line works (and says what is missing) without the ``plot`` extra.
"""

from __future__ import annotations

import argparse
import sys
from pathlib import Path
from typing import Any

from .processing_options import (
    EXIT_USAGE, UsageProblem, add_lock_mass_arguments, lock_mass_request,
)

FORMATS = {".png": "png", ".pdf": "pdf", ".svg": "svg"}
MISSING_MATPLOTLIB = "tarnvale plot needs matplotlib: pip install 'tarnvale[plot]'"
EXIT_MISSING_EXTRA = 2


def add_parser(subparsers: Any) -> None:
    """Registers ``plot`` on the ``tarnvale`` command's subparsers."""
    parser: argparse.ArgumentParser = subparsers.add_parser(
        "plot",
        help="draw a quick-look picture of a run",
        description="Draws the chromatograms of every function, the chromatogram channels, "
        "extracted-ion traces and one scan (with its ion-mobility map) into one picture.",
    )
    parser.add_argument("path", metavar="RUN.raw", help="the .raw directory")
    parser.add_argument("-o", "--output", type=Path, default=Path("quicklook.png"),
                        help="picture to write; .png, .pdf or .svg (default: quicklook.png)")
    parser.add_argument("--function", type=positive_int, metavar="F",
                        help="function whose scan and XICs are shown (default: the first MS1 survey)")
    which = parser.add_mutually_exclusive_group()
    which.add_argument("--scan", type=scan_number, metavar="N", help="scan to show, 0-based (default: the TIC apex)")
    which.add_argument("--rt", type=float, metavar="MIN", help="show the scan nearest this retention time")
    parser.add_argument("--xic", type=positive_float, nargs="+", default=[], metavar="MZ",
                        help="draw extracted-ion traces of these m/z values")
    parser.add_argument("--ppm", type=positive_float, default=10.0, help="XIC tolerance in ppm (default: 10)")
    add_lock_mass_arguments(parser, "draw the lock mass's error (ppm) over the lock-mass function's panel")
    parser.set_defaults(run=run)


def positive_float(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a number: {text!r}") from None
    if not 0 < value < float("inf"):
        raise argparse.ArgumentTypeError(f"must be a positive number, not {text!r}")
    return value


def positive_int(text: str) -> int:
    value = scan_number(text)
    if value == 0:
        raise argparse.ArgumentTypeError("function numbers start at 1")
    return value


def scan_number(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a whole number: {text!r}") from None
    if value < 0:
        raise argparse.ArgumentTypeError(f"must not be negative, not {text!r}")
    return value


def run(args: argparse.Namespace) -> int:
    """Draws the picture; returns the exit status (errors go to stderr as one line)."""
    output: Path = args.output
    image_format = FORMATS.get(output.suffix.lower())
    if image_format is None:
        return _fail(f"cannot write {output}: the name must end in .png, .pdf or .svg")
    if not _use_agg():
        print(MISSING_MATPLOTLIB, file=sys.stderr)
        return EXIT_MISSING_EXTRA

    from .atomic import OutputError, write_atomically
    from .plot import DPI, quicklook_figure
    from .quicklook import QuickLookError, ScanChoice, gather

    try:
        lock_mass = lock_mass_request("plot", args)
    except UsageProblem as problem:
        print(problem, file=sys.stderr)
        return EXIT_USAGE
    choice = ScanChoice(args.function, args.scan, args.rt)
    try:
        figure = quicklook_figure(gather(args.path, choice, args.xic, args.ppm, lock_mass))
        write_atomically(output, lambda path: figure.savefig(path, format=image_format, dpi=DPI))
    except (QuickLookError, OutputError, RuntimeError) as error:
        return _fail(str(error))
    print(f"wrote {output}")
    return 0


def _use_agg() -> bool:
    """Selects the file-only Agg backend before anything loads pyplot; False
    when matplotlib (or numpy, which it needs) is missing."""
    try:
        import matplotlib
        import numpy  # noqa: F401
    except ImportError:
        return False
    matplotlib.use("Agg")
    return True


def _fail(message: str) -> int:
    print(f"tarnvale plot: error: {message}", file=sys.stderr)
    return 1
