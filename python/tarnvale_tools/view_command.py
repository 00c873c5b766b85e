"""The ``tarnvale view`` subcommand: runs in the browser, served from this machine.

Imports none of the web libraries until the command runs, so that the command
line works (and says what is missing) without the ``view`` extra.
"""

from __future__ import annotations

import argparse
import importlib.util
import sys
from typing import Any

from .plot_command import scan_number

MISSING_EXTRA = "tarnvale view needs fastapi, uvicorn and plotly: pip install 'tarnvale[view]'"
EXIT_MISSING_EXTRA = 2
REQUIRED_MODULES = ("fastapi", "uvicorn", "plotly")


def add_parser(subparsers: Any) -> None:
    """Registers ``view`` on the ``tarnvale`` command's subparsers."""
    parser: argparse.ArgumentParser = subparsers.add_parser(
        "view",
        help="look into runs in the browser",
        description="Serves the runs to a page in the browser: chromatograms of every function, spectra, "
        "ion-mobility maps, extracted-ion traces, metadata and chromatogram channels. Prints the page's "
        "address, which carries a random access token, and stops on Ctrl-C.",
    )
    parser.add_argument("paths", nargs="+", metavar="RUN.raw", help="the .raw directories to serve")
    parser.add_argument("--port", type=port_number, default=0, metavar="N",
                        help="port to listen on (default: any free port)")
    parser.add_argument("--host", default=None, metavar="H",
                        help="address to listen on (default: 127.0.0.1, this machine only)")
    parser.add_argument("--no-browser", action="store_true", help="print the address without opening a browser")
    parser.add_argument("--cache-mb", type=scan_number, default=512, metavar="MB",
                        help="memory for chromatograms kept between requests, per run (default: 512)")
    parser.set_defaults(run=run)


def port_number(text: str) -> int:
    value = scan_number(text)
    if value > 65535:
        raise argparse.ArgumentTypeError(f"must be a port number (0 to 65535), not {text!r}")
    return value


def extras_installed() -> bool:
    try:
        return all(importlib.util.find_spec(name) is not None for name in REQUIRED_MODULES)
    except (ImportError, ValueError):  # a module set to None in sys.modules
        return False


def run(args: argparse.Namespace) -> int:
    """Serves until interrupted; the exit status (errors go to stderr as one line)."""
    if not extras_installed():
        print(MISSING_EXTRA, file=sys.stderr)
        return EXIT_MISSING_EXTRA
    from .view.server import ServeOptions, serve

    options = ServeOptions(args.paths, args.host, args.port, not args.no_browser, args.cache_mb * 1024 * 1024)
    return serve(options, sys.stdout, sys.stderr)
