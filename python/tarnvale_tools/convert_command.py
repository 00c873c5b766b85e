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

from .export import FORMATS, MAX_JOBS, MissingExtra, Outcome, convert_many, find_runs, optional_module
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
        description="Converts each NAME.raw to OUTDIR/NAME.mzML (or NAME.parquet); a folder stands for the "
        "*.raw directories inside it. A run that fails is reported and the others still convert; the exit "
        "status is 0 only if every run converted.",
    )
    parser.add_argument("paths", nargs="+", metavar="RUN.raw|DIR",
                        help="the .raw directories, or folders holding them")
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
    parser.add_argument("--on-error", choices=["fail", "skip"], default="fail",
                        help="a scan or channel that cannot be read fails the run (fail, the default) or is left "
                        "out and listed (skip)")
    parser.add_argument("--functions", type=function_list, metavar="F[,F...]",
                        help="only these functions, e.g. 1,3")
    parser.add_argument("--ms-level", type=int, choices=[1, 2], help="only the functions of this MS level")
    parser.add_argument("--rt", type=value_range, metavar="MIN:MAX",
                        help="only scans of these retention times, in minutes (either end may be left open)")
    parser.add_argument("--mz", type=value_range, metavar="MIN:MAX",
                        help="only points of this m/z range; spectra stay, possibly empty")
    parser.add_argument("--recursive", action="store_true",
                        help="in folders, also convert the runs of their subfolders, keeping their layout under OUTDIR")
    parser.add_argument("--skip-existing", action="store_true",
                        help="leave runs whose output file is already there and complete")
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


def function_list(text: str) -> list[int]:
    try:
        return [int(item) for item in text.split(",")]
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a list of function numbers: {text!r}") from None


def value_range(text: str) -> tuple[float | None, float | None]:
    """ "MIN:MAX", either side empty for an open end."""
    low, colon, high = text.partition(":")
    try:
        if not colon:
            raise ValueError
        return (float(low) if low.strip() else None, float(high) if high.strip() else None)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not MIN:MAX: {text!r}") from None


def run(args: argparse.Namespace) -> int:
    """Converts the runs; one line per file written on stdout, one per failure on stderr."""
    options = _options(args)
    if isinstance(options, str):
        return _usage(args.parser, options)
    runs = find_runs(args.paths, recursive=args.recursive)
    problem = _processing_problem([run for run, place in runs if place is not None], options)
    if problem is not None:
        print(f"tarnvale convert: error: {problem}", file=sys.stderr)
        return EXIT_USAGE
    client = None
    try:
        if args.dask is not None:
            client = _connect(args.dask)
        with _Bars(len(runs)) as bars:
            outcomes = convert_many(
                args.paths, args.outdir, format=args.format, jobs=args.jobs, client=client,
                progress=bars.scans if client is None else None, on_outcome=bars.outcome,
                recursive=args.recursive, skip_existing=args.skip_existing, **options,
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
    options: dict[str, Any] = {
        "skip_lock_mass": args.skip_lockmass, "on_error": args.on_error, **processing_keywords(args)
    }
    selection = {"functions": args.functions, "ms_level": args.ms_level, "rt": args.rt, "mz": args.mz}
    options.update((key, value) for key, value in selection.items() if value is not None)
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
    runs and one over the scans of the batch, whose total grows by each run's scans
    as the run starts."""

    def __init__(self, files: int) -> None:
        self._files: Any = None
        self._scans: Any = None
        self._run: str | None = None
        self._before = 0  # the scans of the runs before the current one
        self._current = 0  # the current run's scans
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
            self._before += self._current
            self._scans.set_description(os.path.basename(os.path.normpath(run)), refresh=False)
        self._current = total
        self._scans.total = self._before + total
        self._scans.update(self._before + done - self._scans.n)

    def outcome(self, outcome: Outcome) -> None:
        if outcome.existing:
            self._print(f"kept {outcome.output} (already converted)", sys.stdout)
        elif outcome.ok:
            self._print(f"wrote {outcome.output} ({_count(outcome)})", sys.stdout)
        else:
            hint = " (--on-error skip writes the rest of the run)" if outcome.damaged else ""
            self._print(f"tarnvale convert: error: {_naming_the_run(outcome)}{hint}", sys.stderr)
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
    """ "12 spectra", "1 row; 3 scans and 1 channel skipped"."""
    n = outcome.count
    if outcome.output is not None and outcome.output.endswith(FORMATS["parquet"]):
        counted = f"{n} row" if n == 1 else f"{n} rows"
    else:
        counted = f"{n} spectrum" if n == 1 else f"{n} spectra"
    skipped = outcome.left_out.summary()
    return f"{counted}; {skipped}" if skipped else counted


def _usage(parser: argparse.ArgumentParser, message: str) -> int:
    parser.print_usage(sys.stderr)
    print(f"tarnvale convert: error: {message}", file=sys.stderr)
    return EXIT_USAGE
