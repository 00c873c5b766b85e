"""Runs written in open formats: indexed mzML (by the C++ core) and Parquet (through pyarrow).

pyarrow is imported only by ``write_parquet``, so this module (and the package) imports
without the ``parquet`` extra; ``MissingExtra`` says what to install when it is absent.

The Parquet file is one long table, one row per point::

    function       uint32   1-based function number
    scan           uint64   0-based scan index within the function
    rt_min         float32  the scan's retention time
    mz             float64
    intensity      float32
    drift_time_ms  float64  null outside ion-mobility functions

The drift-time column is always there, so that the files of a cohort share one schema
and read as one dataset; a function without ion mobility stores it as an all-null
column, which costs next to nothing.  Each function is one row group, built from the
function's columns without copying the points, so that memory is bounded by the
largest function rather than by the run.  The schema's metadata ``tarnvale.run`` holds
JSON describing the run's functions (MS level, lock mass, ion mobility).
"""

from __future__ import annotations

import importlib
import json
import os
import secrets
from collections.abc import Callable, Iterable, Mapping, Sequence
from dataclasses import dataclass
from pathlib import Path
from typing import Any, Literal, Unpack

from . import Function, Processing, Run, _core
from .atomic import OutputError, write_atomically

__all__ = ["FORMATS", "MissingExtra", "Outcome", "Progress", "convert_many", "output_path", "write_mzml", "write_parquet"]

Progress = Callable[[int, int], object]
"""progress(done_scans, total_scans), called between batches of scans."""

ImsLayout = Literal["combined", "per-bin"]
MzPrecision = Literal[32, 64]
Format = Literal["mzml", "parquet"]

MAX_JOBS = 256
"""The most threads the core's writers take for one run."""

FORMATS: Mapping[str, str] = {"mzml": ".mzML", "parquet": ".parquet"}
"""Output format -> the extension its files get."""


class MissingExtra(ImportError):
    """An optional dependency is not installed; the message says which extra brings it."""


def write_mzml(
    run_path: str | os.PathLike[str],
    out_path: str | os.PathLike[str],
    *,
    compression: bool = True,
    ims: ImsLayout = "combined",
    skip_lock_mass: bool = False,
    threads: int = 1,
    progress: Progress | None = None,
    numpress: bool = False,
    mz_precision: MzPrecision = 64,
    gzip: bool = False,
    **processing: Unpack[Processing],
) -> int:
    """Writes the run as indexed mzML 1.1; returns the number of spectra written.

    The file appears under `out_path` only once complete.  Ion-mobility scans become
    one spectrum each with a drift-time array (``ims="combined"``) or one spectrum per
    drift bin (``ims="per-bin"``).  Smaller files: ``numpress=True`` writes m/z and
    time arrays by MS-Numpress linear prediction and intensities as its short logged
    floats (lossy within the codecs' bounds; `compression` then applies on top),
    ``mz_precision=32`` m/z arrays as 32-bit floats, ``gzip=True`` the whole file as
    gzip (name it ``.mzML.gz``).  `processing` (see :class:`Processing`) picks peaks
    and corrects the lock mass; picked spectra are marked centroid and the file's data
    processing lists what was done.  RuntimeError, naming the file, on failure."""
    return _core.write_mzml(
        os.fspath(run_path),
        os.fspath(out_path),
        compression=compression,
        ims=ims,
        skip_lock_mass=skip_lock_mass,
        threads=threads,
        progress=progress,
        numpress=numpress,
        mz_precision=mz_precision,
        gzip=gzip,
        **processing,
    )


def write_parquet(
    run_path: str | os.PathLike[str],
    out_path: str | os.PathLike[str],
    *,
    skip_lock_mass: bool = False,
    threads: int = 1,
    progress: Progress | None = None,
    **processing: Unpack[Processing],
) -> int:
    """Writes the run's points as the long table described in the module's docstring;
    returns the number of rows.  `threads` decode each function; `progress` is called
    after each function; `processing` as :meth:`Run.columns` takes it.  RuntimeError
    when the run cannot be read, OutputError when the file cannot be written; either
    way nothing is left under `out_path`."""
    pa, pq = _pyarrow()
    run = Run(os.fspath(run_path))
    functions = [f for f in run.functions if not (skip_lock_mass and f.is_lock_mass)]
    metadata = _run_metadata(run, functions, processing)
    schema = pa.schema(_schema_fields(pa), metadata={"tarnvale.run": metadata})
    total_scans = sum(f.n_scans for f in functions)
    rows = 0

    def write(path: Path) -> None:
        nonlocal rows
        done = 0
        with pq.ParquetWriter(path, schema) as writer:
            for function in functions:
                table = _function_table(pa, schema, run, function, threads, processing)
                if table.num_rows:
                    writer.write_table(table, row_group_size=table.num_rows)
                rows += table.num_rows
                done += function.n_scans
                del table  # the function's columns go before the next function's are read
                if progress is not None:
                    progress(done, total_scans)

    write_atomically(Path(out_path), write)
    return rows


def _schema_fields(pa: Any) -> list[Any]:
    return [
        pa.field("function", pa.uint32(), nullable=False),
        pa.field("scan", pa.uint64(), nullable=False),
        pa.field("rt_min", pa.float32(), nullable=False),
        pa.field("mz", pa.float64(), nullable=False),
        pa.field("intensity", pa.float32(), nullable=False),
        pa.field("drift_time_ms", pa.float64(), nullable=True),
    ]


def _function_table(
    pa: Any, schema: Any, run: Run, function: Function, threads: int, processing: Mapping[str, Any]
) -> Any:
    """One function's rows, the point columns shared with the decoded columns; the
    scan and retention-time columns are expanded from the scan offsets by pyarrow."""
    pc = importlib.import_module("pyarrow.compute")
    cols = run.columns(function.index, threads=threads, **processing)
    points = cols.n_points
    scans = len(cols)
    offsets = _array(pa, pa.uint64(), scans + 1, cols.scan_offsets)
    counts = pc.subtract(offsets[1:], offsets[:-1])
    # Run-end encoding needs strictly increasing ends: empty scans have no run.
    filled = pc.greater(counts, 0)
    ends = pc.filter(offsets[1:], filled).cast(pa.int64())
    scan = pc.run_end_decode(pa.RunEndEncodedArray.from_arrays(ends, pc.indices_nonzero(filled)))
    rt = pc.take(_array(pa, pa.float32(), scans, cols.rt_min), scan)
    drift = cols.drift_time_ms
    columns = [
        pa.repeat(pa.scalar(function.index, pa.uint32()), points),
        scan,
        rt,
        _array(pa, pa.float64(), points, cols.mz),
        _array(pa, pa.float32(), points, cols.intensity),
        pa.nulls(points, pa.float64()) if drift is None else _array(pa, pa.float64(), points, drift),
    ]
    return pa.Table.from_arrays(columns, schema=schema)


def _array(pa: Any, kind: Any, length: int, view: memoryview) -> Any:
    """An arrow array over the memory of `view`, without copying it."""
    return pa.Array.from_buffers(kind, length, [None, pa.py_buffer(view)])


def _run_metadata(run: Run, functions: list[Function], processing: Mapping[str, Any]) -> str:
    described = [
        {
            "function": f.index,
            "ms_level": f.ms_level,
            "lock_mass": f.is_lock_mass,
            "ion_mobility": f.is_ims,
            "scans": f.n_scans,
        }
        for f in functions
    ]
    described_run: dict[str, Any] = {"run": run.name, "polarity": run.polarity, "functions": described}
    done = {key: value for key, value in processing.items() if value is not None}
    if done:  # what was done to the points: peak picking, lock-mass correction
        described_run["processing"] = done
    return json.dumps(described_run)


def _pyarrow() -> tuple[Any, Any]:
    return (
        optional_module("pyarrow", "Parquet output needs pyarrow", "parquet"),
        optional_module("pyarrow.parquet", "Parquet output needs pyarrow", "parquet"),
    )


def optional_module(name: str, need: str, extra: str) -> Any:
    """The module of an optional extra (typed loosely: these libraries ship no types);
    MissingExtra saying what to install when it is absent."""
    try:
        return importlib.import_module(name)
    except ImportError:
        raise MissingExtra(f"{need}: pip install 'tarnvale[{extra}]'") from None


@dataclass(frozen=True, slots=True)
class Outcome:
    """What became of one run of a batch: the file written and how many spectra (mzML)
    or rows (Parquet) it holds, or the error that stopped it (output None)."""

    path: str
    output: str | None
    error: str | None = None
    count: int = 0

    @property
    def ok(self) -> bool:
        return self.error is None


BatchProgress = Callable[[str, int, int], object]
"""progress(run_path, done_scans, total_scans) while a run converts (local batches only)."""


def output_path(
    run_path: str | os.PathLike[str], outdir: str | os.PathLike[str], format: Format = "mzml", gzip: bool = False
) -> Path:
    """``NAME.raw`` -> ``OUTDIR/NAME.mzML`` (``NAME.mzML.gz`` with `gzip`, or
    ``NAME.parquet``); a name without the ``.raw`` extension keeps its whole name."""
    name = os.path.basename(os.path.normpath(os.fspath(run_path)))
    stem = name[: -len(".raw")] if name.lower().endswith(".raw") and len(name) > len(".raw") else name
    return Path(outdir) / (stem + FORMATS[format] + (".gz" if gzip else ""))


def convert_many(
    paths: Iterable[str | os.PathLike[str]],
    outdir: str | os.PathLike[str],
    *,
    format: Format = "mzml",
    jobs: int = 1,
    client: Any = None,
    progress: BatchProgress | None = None,
    on_outcome: Callable[[Outcome], object] | None = None,
    **options: Any,
) -> list[Outcome]:
    """Converts every run to ``OUTDIR/NAME.mzML`` (or ``.parquet``); returns one Outcome
    per run, in the order given.  A run that fails does not stop the others.

    Locally the runs convert one after the other, each on `jobs` threads: the core
    spreads a run's decoding, compression and encoding over its threads with the
    interpreter lock released, so one run at a time keeps both cores busy while memory
    stays that of one run's batch.  With a ``dask.distributed.Client`` each run is one
    task on the cluster (decoding on `jobs` threads of its worker); the workers must
    see the runs and OUTDIR at the same paths, which are made absolute here.
    `options` go to the writer (``compression``, ``ims``, ``skip_lock_mass``, ``numpress``,
    ``mz_precision``, ``gzip`` for mzML, ``skip_lock_mass`` for Parquet, and for both the
    keywords of :class:`Processing`); with ``gzip`` the files are ``NAME.mzML.gz``;
    `on_outcome` is called as each run finishes.
    ValueError for bad options or two runs that would write the same file;
    MissingExtra when Parquet is asked for without pyarrow."""
    runs = [os.fspath(path) for path in paths]
    _check_options(format, jobs, options)
    outputs = _outputs(runs, outdir, format, bool(options.get("gzip", False)))
    if client is not None:
        return _convert_on_cluster(client, runs, outputs, format, jobs, options, on_outcome)
    if format == "parquet":
        _pyarrow()
    outcomes = []
    for run, output in zip(runs, outputs, strict=True):
        report = None if progress is None else (lambda done, total, run=run: progress(run, done, total))
        outcome = convert_one(run, output, format, jobs, options, report)
        if on_outcome is not None:
            on_outcome(outcome)
        outcomes.append(outcome)
    return outcomes


def convert_one(
    run: str, output: str, format: Format, threads: int, options: Mapping[str, Any], progress: Progress | None = None
) -> Outcome:
    """Converts one run, turning every failure of the run or the output into the Outcome's error."""
    try:
        _make_directory(Path(output).parent)
        if format == "mzml":
            count = write_mzml(run, output, threads=threads, progress=progress, **options)
        else:
            count = write_parquet(run, output, threads=threads, progress=progress, **options)
    except (RuntimeError, OutputError, MissingExtra) as error:
        return Outcome(run, None, str(error))
    except OSError as error:  # pyarrow's own I/O errors
        return Outcome(run, None, f"cannot write {output}: {error.strerror or error}")
    return Outcome(run, output, None, count)


def _make_directory(directory: Path) -> None:
    try:
        directory.mkdir(parents=True, exist_ok=True)
    except OSError as error:
        raise OutputError(f"cannot create {directory}: {error.strerror or error}") from None


def _outputs(runs: Sequence[str], outdir: str | os.PathLike[str], format: Format, gzip: bool) -> list[str]:
    outputs = [str(output_path(run, outdir, format, gzip)) for run in runs]
    first: dict[str, str] = {}
    for run, output in zip(runs, outputs, strict=True):
        if output in first:
            raise ValueError(f"{first[output]} and {run} would both be written to {output}")
        first[output] = run
    return outputs


_PROCESSING = frozenset(Processing.__optional_keys__)
_OPTIONS: Mapping[str, frozenset[str]] = {
    "mzml": frozenset({"compression", "ims", "skip_lock_mass", "numpress", "mz_precision", "gzip"}) | _PROCESSING,
    "parquet": frozenset({"skip_lock_mass"}) | _PROCESSING,
}


def _check_options(format: Format, jobs: int, options: Mapping[str, Any]) -> None:
    if format not in FORMATS:
        raise ValueError(f"format must be one of {', '.join(FORMATS)}, not {format!r}")
    if isinstance(jobs, bool) or not isinstance(jobs, int) or not 1 <= jobs <= MAX_JOBS:
        raise ValueError(f"jobs must be a whole number from 1 to {MAX_JOBS}, not {jobs!r}")
    unknown = sorted(set(options) - _OPTIONS[format])
    if unknown:
        raise ValueError(f"{format} output takes no option {', '.join(unknown)}")
    if options.get("ims", "combined") not in ("combined", "per-bin"):
        raise ValueError(f"ims must be 'combined' or 'per-bin', not {options['ims']!r}")
    precision = options.get("mz_precision", 64)
    if isinstance(precision, bool) or precision not in (32, 64):
        raise ValueError(f"mz_precision must be 32 or 64, not {precision!r}")
    _core.check_processing(**{key: value for key, value in options.items() if key in _PROCESSING})


def _convert_on_cluster(
    client: Any,
    runs: list[str],
    outputs: list[str],
    format: Format,
    jobs: int,
    options: Mapping[str, Any],
    on_outcome: Callable[[Outcome], object] | None,
) -> list[Outcome]:
    """One task per run; a task that dies (a worker lost, say) is that run's error."""
    as_completed = optional_module("dask.distributed", "a Dask client needs dask.distributed", "dask").as_completed
    batch = secrets.token_hex(4)
    keys = [f"tarnvale-convert-{batch}-{i}" for i in range(len(runs))]
    futures = client.map(
        convert_one,
        [os.path.abspath(run) for run in runs],
        [os.path.abspath(output) for output in outputs],
        key=keys,
        format=format,
        threads=jobs,
        options=dict(options),
    )
    position = {future.key: i for i, future in enumerate(futures)}
    outcomes: list[Outcome | None] = [None] * len(runs)
    for future in as_completed(futures):
        i = position[future.key]
        if future.status == "finished":
            outcome: Outcome = future.result()
            outcome = Outcome(runs[i], None if outcome.output is None else outputs[i], outcome.error, outcome.count)
        elif future.status == "error":
            outcome = Outcome(runs[i], None, f"the task converting it failed: {future.exception()!r}")
        else:
            outcome = Outcome(runs[i], None, f"the task converting it was {future.status}")
        outcomes[i] = outcome
        if on_outcome is not None:
            on_outcome(outcome)
    return [outcome for outcome in outcomes if outcome is not None]
