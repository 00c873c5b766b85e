"""The ``tarnvale convert`` subcommand: runs to indexed mzML or Parquet files.

pyarrow, dask and tqdm are imported only when the options ask for them, so the
command works (and says what to install) without those extras.
"""

from __future__ import annotations

import argparse
import os
import sys
from pathlib import Path
from typing import Any

from .export import FORMATS, MAX_JOBS, MissingExtra, Outcome, convert_many, optional_module
from .processing_options import (
    add_centroid_arguments, add_lock_mass_arguments, lock_function_problem, problem_with, processing_keywords,
)

EXIT_FAILED = 1
EXIT_USAGE = 2
NO_TQDM = "tarnvale convert: no progress bar without tqdm: pip install 'tarnvale[progress]'"


def add_parser(subparsers: Any) -> None:
    """Registers ``convert`` on the ``tarnvale`` command's subparsers."""
    parser: argparse.ArgumentParser = subparsers.add_parser(
        "convert",
        help="convert runs to indexed mzML or Parquet",
        description="Converts each NAME.raw to OUTDIR/NAME.mzML (or NAME.parquet). A run that fails is "
        "reported and the others still convert; the exit status is 0 only if every run converted.",
    )
    parser.add_argument("paths", nargs="+", metavar="RUN.raw", help="the .raw directories")
    parser.add_argument("-o", "--outdir", type=Path, required=True, metavar="OUTDIR",
                        help="directory for the output files (created if missing)")
    parser.add_argument("--format", choices=list(FORMATS), default="mzml", help="output format (default: mzml)")
    parser.add_argument("--jobs", type=job_count, default=1, metavar="N",
                        help="threads per conversion (default: 1)")
    parser.add_argument("--no-compression", action="store_true", help="mzML: binary arrays without zlib")
    parser.add_argument("--numpress", action="store_true",
                        help="mzML: m/z and times by MS-Numpress linear prediction, intensities as its short "
                        "logged floats (lossy, within the codecs' bounds), then zlib unless --no-compression")
    parser.add_argument("--mz-precision", type=int, choices=[32, 64], default=None,
                        help="mzML: bits of the m/z values written as floats (default: 64)")
    parser.add_argument("--gzip", action="store_true", help="mzML: the whole file as gzip, OUTDIR/NAME.mzML.gz")
    parser.add_argument("--ims", choices=["combined", "per-bin"], default=None,
                        help="mzML: ion mobility as one spectrum per scan with a drift-time array "
                        "(combined, the default) or one spectrum per drift bin (per-bin)")
    parser.add_argument("--skip-lockmass", action="store_true", help="leave lock-mass functions out")
    add_centroid_arguments(parser)
    add_lock_mass_arguments(parser, "correct every function's m/z by the lock-mass function")
    parser.add_argument("--dask", metavar="ADDRESS",
                        help="convert on this Dask scheduler, one task per run (the workers must see the same paths)")
    parser.set_defaults(run=run, parser=parser)


def job_count(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a whole number: {text!r}") from None
    if not 1 <= value <= MAX_JOBS:
        raise argparse.ArgumentTypeError(f"must be from 1 to {MAX_JOBS}, not {text!r}")
    return value


def run(args: argparse.Namespace) -> int:
    """Converts the runs; one line per file written on stdout, one per failure on stderr."""
    options = _options(args)
    if isinstance(options, str):
        return _usage(args.parser, options)
    problem = _processing_problem(args.paths, options)
    if problem is not None:
        print(f"tarnvale convert: error: {problem}", file=sys.stderr)
        return EXIT_USAGE
    client = None
    try:
        if args.dask is not None:
            client = _connect(args.dask)
        with _Bars(len(args.paths)) as bars:
            outcomes = convert_many(
                args.paths, args.outdir, format=args.format, jobs=args.jobs, client=client,
                progress=bars.scans if client is None else None, on_outcome=bars.outcome, **options,
            )
    except MissingExtra as error:
        print(f"tarnvale convert: {error}", file=sys.stderr)
        return EXIT_USAGE
    except ValueError as error:
        return _usage(args.parser, str(error))
    except _ClusterError as error:
        print(f"tarnvale convert: error: {error}", file=sys.stderr)
        return EXIT_FAILED
    finally:
        if client is not None:
            client.close()
    return 0 if all(outcome.ok for outcome in outcomes) else EXIT_FAILED


def _processing_problem(paths: list[str], options: dict[str, Any]) -> str | None:
    """A processing option no run could use, or a run that cannot be corrected by its
    lock mass: found before anything is converted."""
    problem = problem_with({key: value for key, value in options.items() if key in _PROCESSING})
    for path in paths:
        problem = problem or lock_function_problem(path, options)
    return problem


_PROCESSING = ("centroid", "min_intensity", "min_points", "lock_mass", "lock_mass_tolerance", "lock_mass_function")


def _options(args: argparse.Namespace) -> dict[str, Any] | str:
    """The writer's options, or what is wrong with them."""
    options: dict[str, Any] = {"skip_lock_mass": args.skip_lockmass, **processing_keywords(args)}
    mzml_only = {
        "--no-compression": args.no_compression,
        "--ims": args.ims is not None,
        "--numpress": args.numpress,
        "--mz-precision": args.mz_precision is not None,
        "--gzip": args.gzip,
    }
    if args.format == "mzml":
        options["compression"] = not args.no_compression
        options["ims"] = args.ims or "combined"
        options["numpress"] = args.numpress
        options["mz_precision"] = args.mz_precision or 64
        options["gzip"] = args.gzip
        return options
    given = [flag for flag, used in mzml_only.items() if used]
    if given:
        return f"{' and '.join(given)} {'applies' if len(given) == 1 else 'apply'} to mzML only"
    return options


class _ClusterError(Exception):
    pass


def _connect(address: str) -> Any:
    client = optional_module("dask.distributed", "--dask needs dask.distributed", "dask").Client
    try:
        return client(address, timeout=10)
    except (OSError, TimeoutError, ValueError) as error:
        raise _ClusterError(f"cannot reach the Dask scheduler at {address}: {error}") from None


class _Bars:
    """Prints each outcome; with tqdm and a terminal on stderr, also a bar over the
    files and one over the current run's scans."""

    def __init__(self, files: int) -> None:
        self._files: Any = None
        self._scans: Any = None
        self._run: str | None = None
        self._tqdm: Any = None
        if not sys.stderr.isatty():
            return
        try:
            tqdm = optional_module("tqdm", "", "progress").tqdm
        except MissingExtra:
            print(NO_TQDM, file=sys.stderr)
            return
        self._tqdm = tqdm
        self._files = tqdm(total=files, unit="run", desc="runs", position=0)
        self._scans = tqdm(total=0, unit="scan", desc="scans", position=1, leave=False)

    def __enter__(self) -> _Bars:
        return self

    def __exit__(self, *_: object) -> None:
        for bar in (self._scans, self._files):
            if bar is not None:
                bar.close()

    def scans(self, run: str, done: int, total: int) -> None:
        if self._scans is None:
            return
        if run != self._run:
            self._run = run
            self._scans.set_description(os.path.basename(os.path.normpath(run)), refresh=False)
            self._scans.reset(total=total)
        self._scans.update(done - self._scans.n)

    def outcome(self, outcome: Outcome) -> None:
        if outcome.ok:
            self._print(f"wrote {outcome.output} ({_count(outcome)})", sys.stdout)
        else:
            self._print(f"tarnvale convert: error: {_naming_the_run(outcome)}", sys.stderr)
        if self._files is not None:
            self._files.update(1)

    def _print(self, line: str, stream: Any) -> None:
        if self._tqdm is None:
            print(line, file=stream, flush=True)
        else:
            self._tqdm.write(line, file=stream)


def _naming_the_run(outcome: Outcome) -> str:
    """The error, after the run's path unless the message names the run already."""
    error = outcome.error or ""
    return error if os.path.basename(os.path.normpath(outcome.path)) in error else f"{outcome.path}: {error}"


def _count(outcome: Outcome) -> str:
    n = outcome.count
    if outcome.output is not None and outcome.output.endswith(FORMATS["parquet"]):
        return f"{n} row" if n == 1 else f"{n} rows"
    return f"{n} spectrum" if n == 1 else f"{n} spectra"


def _usage(parser: argparse.ArgumentParser, message: str) -> int:
    parser.print_usage(sys.stderr)
    print(f"tarnvale convert: error: {message}", file=sys.stderr)
    return EXIT_USAGE
