"""The ``tarnvale`` command: each subcommand lives in its own module, which
registers its parser with ``add_parser(subparsers)`` and its handler with
``set_defaults(run=handler)``; a handler returns the exit status."""

from __future__ import annotations

import argparse
from collections.abc import Sequence

from . import convert_command, info_command, plot_command, view_command


def main(argv: Sequence[str] | None = None) -> int:
    parser = argparse.ArgumentParser(prog="tarnvale", description="Waters MassLynx .raw runs at the command line.")
    subparsers = parser.add_subparsers(title="commands", metavar="COMMAND", required=True)
    convert_command.add_parser(subparsers)
    info_command.add_parser(subparsers)
    plot_command.add_parser(subparsers)
    view_command.add_parser(subparsers)
    args = parser.parse_args(argv)
    try:
        status: int = args.run(args)
    except KeyboardInterrupt:
        return 130
    return status
