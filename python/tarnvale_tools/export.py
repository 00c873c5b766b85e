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
JSON describing the run's functions (MS level, lock mass, ion mobility), the
selection the file was written with, and what could not be read and was skipped.

Both writers take the same selection (``functions``, ``ms_level``, and ``rt`` and
``mz``: ``(min, max)`` pairs in minutes and m/z, either end ``None``) and ``on_error``:
with ``"skip"`` the scans (and, for mzML, the chromatogram channels) that cannot be
read are left out and listed; with ``"fail"`` the first raises ``DamagedRunError``.
"""

from __future__ import annotations

import dataclasses
import importlib
import json
import os
import secrets
import zlib
from collections.abc import Callable, Iterable, Mapping, Sequence
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any, Literal, Unpack

from . import Function, Processing, Run, _core
from ._core import DamagedRunError
from .atomic import OutputError, write_atomically

__all__ = [
    "FORMATS", "DamagedRunError", "LeftOut", "MissingExtra", "Outcome", "Progress", "Written",
    "convert_many", "find_runs", "output_path", "write_mzml", "write_parquet",
]

Progress = Callable[[int, int], object]
"""progress(done_scans, total_scans), called between batches of scans."""

ImsLayout = Literal["combined", "per-bin"]
MzPrecision = Literal[32, 64]
Format = Literal["mzml", "parquet"]
OnError = Literal["fail", "skip"]
Range = tuple[float | None, float | None]

MAX_JOBS = 256
"""The most threads the core's writers take for one run."""

FORMATS: Mapping[str, str] = {"mzml": ".mzML", "parquet": ".parquet"}
"""Output format -> the extension its files get."""


class MissingExtra(ImportError):
    """An optional dependency is not installed; the message says which extra brings it."""


@dataclass(frozen=True, slots=True, repr=False)
class LeftOut:
    """What a conversion could not read and left out: selected functions whose files
    are missing (number -> reason), scans by function, and chromatogram channels
    (index -> reason; mzML only)."""

    functions: Mapping[int, str] = field(default_factory=dict)
    scans: Mapping[int, Sequence[int]] = field(default_factory=dict)
    channels: Mapping[int, str] = field(default_factory=dict)

    def __bool__(self) -> bool:
        return bool(self.functions or self.scans or self.channels)

    def __repr__(self) -> str:
        shown = (f"{name}={value!r}" for name, value in self._parts() if value)
        return f"LeftOut({', '.join(shown)})"

    def _parts(self) -> tuple[tuple[str, Mapping[int, Any]], ...]:
        return (("functions", self.functions), ("scans", self.scans), ("channels", self.channels))

    def summary(self) -> str:
        """For example "3 scans and 1 channel skipped"; empty when nothing was."""
        scans = sum(len(scans) for scans in self.scans.values())
        parts = [
            _counted(n, noun)
            for n, noun in ((len(self.functions), "function"), (scans, "scan"), (len(self.channels), "channel"))
            if n
        ]
        if not parts:
            return ""
        listed = parts[0] if len(parts) == 1 else f"{', '.join(parts[:-1])} and {parts[-1]}"
        return f"{listed} skipped"


def _counted(n: int, noun: str) -> str:
    return f"1 {noun}" if n == 1 else f"{n} {noun}s"


class Written(int):
    """The number of spectra (mzML) or rows (Parquet) written, with ``left_out``: what
    could not be read and was left out."""

    left_out: LeftOut

    def __new__(cls, count: int, left_out: LeftOut | None = None) -> Written:
        written = super().__new__(cls, count)
        written.left_out = LeftOut() if left_out is None else left_out
        return written

    def __reduce__(self) -> tuple[Any, ...]:
        return (Written, (int(self), self.left_out))


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
    on_error: OnError = "fail",
    functions: Iterable[int] | None = None,
    ms_level: int | None = None,
    rt: Range | None = None,
    mz: Range | None = None,
    **processing: Unpack[Processing],
) -> Written:
    """Writes the run as indexed mzML 1.1; returns the number of spectra written.

    The file appears under `out_path` only once complete.  Ion-mobility scans become
    one spectrum each with a drift-time array (``ims="combined"``) or one spectrum per
    drift bin (``ims="per-bin"``).  Smaller files: ``numpress=True`` writes m/z and
    time arrays by MS-Numpress linear prediction and intensities as its short logged
    floats (lossy within the codecs' bounds; `compression` then applies on top),
    ``mz_precision=32`` m/z arrays as 32-bit floats, ``gzip=True`` the whole file as
    gzip (name it ``.mzML.gz``).  `processing` (see :class:`Processing`) picks peaks
    and corrects the lock mass; picked spectra are marked centroid and the file's data
    processing lists what was done.  DamagedRunError for a scan or channel that cannot
    be read (unless ``on_error="skip"``), RuntimeError, naming the file, for other
    failures, ValueError for a selection that cannot be used."""
    count, left_out = _core.write_mzml(
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
        on_error=on_error,
        functions=functions,
        ms_level=ms_level,
        rt=rt,
        mz=mz,
        **processing,
    )
    return Written(count, LeftOut(**left_out))


def write_parquet(
    run_path: str | os.PathLike[str],
    out_path: str | os.PathLike[str],
    *,
    skip_lock_mass: bool = False,
    threads: int = 1,
    progress: Progress | None = None,
    on_error: OnError = "fail",
    functions: Iterable[int] | None = None,
    ms_level: int | None = None,
    rt: Range | None = None,
    mz: Range | None = None,
    **processing: Unpack[Processing],
) -> Written:
    """Writes the run's points as the long table described in the module's docstring;
    returns the number of rows.  `threads` decode each function; `progress` is called
    after each function; `processing` as :meth:`Run.columns` takes it.  DamagedRunError
    for a scan that cannot be read (unless ``on_error="skip"``), RuntimeError when the
    run cannot be read, OutputError when the file cannot be written; either way nothing
    is left under `out_path`.  ValueError for a selection that cannot be used."""
    pa, pq = _pyarrow()
    _core.check_selection(functions=functions, ms_level=ms_level, rt=rt, mz=mz)
    selection: dict[str, Any] = {"functions": functions, "ms_level": ms_level, "rt": rt, "mz": mz}
    run = Run(os.fspath(run_path))
    numbers, unreadable = run._run.export_plan(functions, ms_level, skip_lock_mass)
    chosen = [run.function(number) for number in numbers]
    total_scans = sum(f.n_scans for f in chosen)
    skipped: dict[int, list[int]] = {}
    rows = 0

    def write(path: Path) -> None:
        nonlocal rows
        done = 0
        # The metadata, which lists the scans skipped, goes in once every function was
        # read; without the arrow schema's own copy of it, which is written first.
        schema = pa.schema(_schema_fields(pa))
        with pq.ParquetWriter(path, schema, store_schema=False) as writer:
            for function in chosen:
                cols = run._run.export_columns(function.index, threads, on_error, rt, mz, **processing)
                if cols.skipped:
                    skipped[function.index] = cols.skipped
                table = _function_table(pa, schema, function, cols)
                if table.num_rows:
                    writer.write_table(table, row_group_size=table.num_rows)
                rows += table.num_rows
                done += function.n_scans
                del table, cols  # the function's columns go before the next function's are read
                if progress is not None:
                    progress(done, total_scans)
            metadata = _run_metadata(run, chosen, selection, LeftOut(unreadable, skipped), processing)
            writer.add_key_value_metadata({"tarnvale.run": metadata})

    write_atomically(Path(out_path), write)
    return Written(rows, LeftOut(unreadable, skipped))


def _schema_fields(pa: Any) -> list[Any]:
    return [
        pa.field("function", pa.uint32(), nullable=False),
        pa.field("scan", pa.uint64(), nullable=False),
        pa.field("rt_min", pa.float32(), nullable=False),
        pa.field("mz", pa.float64(), nullable=False),
        pa.field("intensity", pa.float32(), nullable=False),
        pa.field("drift_time_ms", pa.float64(), nullable=True),
    ]


def _function_table(pa: Any, schema: Any, function: Function, cols: _core.Columns) -> Any:
    """One function's rows, the point columns shared with the decoded columns; the
    scan and retention-time columns are expanded from the scan offsets by pyarrow."""
    pc = importlib.import_module("pyarrow.compute")
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


def _run_metadata(
    run: Run, functions: list[Function], selection: Mapping[str, Any], left_out: LeftOut, processing: Mapping[str, Any]
) -> str:
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
    chosen = {key: sorted(set(value)) if key == "functions" else value for key, value in selection.items() if value is not None}
    skipped = {
        "functions": {str(number): reason for number, reason in left_out.functions.items()},
        "scans": {str(number): compact_ranges(scans) for number, scans in left_out.scans.items()},
    }
    described_run: dict[str, Any] = {
        "run": run.name, "polarity": run.polarity, "functions": described, "selection": chosen, "skipped": skipped
    }
    done = {key: value for key, value in processing.items() if value is not None}
    if done:  # what was done to the points: peak picking, lock-mass correction
        described_run["processing"] = done
    return json.dumps(described_run)


def compact_ranges(ascending: Sequence[int]) -> str:
    """``[3, 4, 5, 9]`` -> ``"3-5,9"``, as the mzML files list skipped scans."""
    parts: list[str] = []
    start = 0
    for i in range(1, len(ascending) + 1):
        if i == len(ascending) or ascending[i] != ascending[i - 1] + 1:
            first, last = ascending[start], ascending[i - 1]
            parts.append(str(first) if first == last else f"{first}-{last}")
            start = i
    return ",".join(parts)


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


@dataclass(frozen=True, slots=True, repr=False)
class Outcome:
    """What became of one run of a batch: the file written and how many spectra (mzML)
    or rows (Parquet) it holds, with what could not be read (``left_out``); or the
    error that stopped it (output None; ``damaged`` when it was a scan or channel that
    ``on_error="skip"`` would have left out); or, with ``skip_existing``, the complete
    file found under its output name (``existing``)."""

    path: str
    output: str | None
    error: str | None = None
    count: int = 0
    left_out: LeftOut = field(default_factory=LeftOut)
    damaged: bool = False
    existing: bool = False

    @property
    def ok(self) -> bool:
        return self.error is None

    def __repr__(self) -> str:
        """The first four fields, and the others where they say something."""
        shown = [f"path={self.path!r}", f"output={self.output!r}", f"error={self.error!r}", f"count={self.count!r}"]
        shown += [f"left_out={self.left_out!r}"] if self.left_out else []
        shown += [f"{name}=True" for name in ("damaged", "existing") if getattr(self, name)]
        return f"Outcome({', '.join(shown)})"


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


def is_run_directory(path: str | os.PathLike[str]) -> bool:
    """A run rather than a folder of runs: named ``*.raw``, or holding a run header."""
    name = os.path.basename(os.path.normpath(os.fspath(path)))
    if name.lower().endswith(".raw"):
        return True
    try:
        return any(entry.lower() == "_header.txt" for entry in os.listdir(path))
    except OSError:
        return True  # not a readable directory: converting it says why


def find_runs(paths: Iterable[str | os.PathLike[str]], *, recursive: bool = False) -> list[tuple[str, str | None]]:
    """Each path with the folder its output goes to, relative to the output directory:
    a run as itself (``""``), a folder as every ``*.raw`` directly inside it, by name,
    or with `recursive` in its subfolders too, under their path within it.  A folder
    without runs gives itself with None."""
    found: list[tuple[str, str | None]] = []
    for path in (os.fspath(p) for p in paths):
        if not os.path.isdir(path) or is_run_directory(path):
            found.append((path, ""))
            continue
        runs: list[tuple[str, str | None]] = list(_runs_in(path, recursive))
        found += runs if runs else [(path, None)]
    return found


def _runs_in(folder: str, recursive: bool) -> list[tuple[str, str]]:
    runs = []
    for directory, subfolders, _ in os.walk(folder):
        relative = os.path.relpath(directory, folder)
        relative = "" if relative == "." else relative
        for name in sorted(subfolders):
            if name.lower().endswith(".raw"):
                runs.append((os.path.join(directory, name), relative))
        # Runs are not searched for runs; only folders are walked, and only with `recursive`.
        subfolders[:] = sorted(n for n in subfolders if recursive and not n.lower().endswith(".raw"))
    return runs


def convert_many(
    paths: Iterable[str | os.PathLike[str]],
    outdir: str | os.PathLike[str],
    *,
    format: Format = "mzml",
    jobs: int = 1,
    client: Any = None,
    progress: BatchProgress | None = None,
    on_outcome: Callable[[Outcome], object] | None = None,
    recursive: bool = False,
    skip_existing: bool = False,
    **options: Any,
) -> list[Outcome]:
    """Converts every run to ``OUTDIR/NAME.mzML`` (or ``.parquet``); returns one Outcome
    per run, in the order given.  A run that fails does not stop the others.

    A path that is a folder rather than a run stands for the ``*.raw`` directories
    directly inside it, or with `recursive` in its subfolders too, each written to the
    same relative place under OUTDIR (see find_runs).  With `skip_existing` a run
    whose output name already holds a complete file is not converted again, so that
    an interrupted batch resumes where it stopped.

    Locally the runs convert one after the other, each on `jobs` threads: the core
    spreads a run's decoding, compression and encoding over its threads with the
    interpreter lock released, so one run at a time keeps both cores busy while memory
    stays that of one run's batch.  With a ``dask.distributed.Client`` each run is one
    task on the cluster (decoding on `jobs` threads of its worker); the workers must
    see the runs and OUTDIR at the same paths, which are made absolute here.
    `options` go to the writer (``compression``, ``ims``, ``numpress``, ``mz_precision``,
    ``gzip`` for mzML; ``skip_lock_mass``, ``on_error``, ``functions``, ``ms_level``,
    ``rt``, ``mz`` and the keywords of :class:`Processing` for both); with ``gzip`` the
    files are ``NAME.mzML.gz``; `on_outcome` is called as each run finishes.
    ValueError for bad options or two runs that would write the same file;
    MissingExtra when Parquet is asked for without pyarrow."""
    found = find_runs(paths, recursive=recursive)
    runs = [run for run, _ in found]
    _check_options(format, jobs, options)
    outputs = _outputs(found, outdir, format, bool(options.get("gzip", False)))
    if format == "parquet" and client is None:
        _pyarrow()
    outcomes: list[Outcome | None] = [None] * len(runs)
    pending = []
    for i, (run, output) in enumerate(zip(runs, outputs, strict=True)):
        if output is None:
            where = "in it or its subfolders" if recursive else "directly in it"
            outcomes[i] = Outcome(run, None, f"{run}: a folder with no .raw directories {where}")
        elif skip_existing and is_complete(output, format):
            outcomes[i] = Outcome(run, output, existing=True)
        else:
            pending.append(i)
    if client is not None:
        for outcome in outcomes:
            if outcome is not None and on_outcome is not None:
                on_outcome(outcome)
        converted = _convert_on_cluster(
            client, [runs[i] for i in pending], [str(outputs[i]) for i in pending], format, jobs, options, on_outcome
        )
        for i, outcome in zip(pending, converted, strict=True):
            outcomes[i] = outcome
        return [outcome for outcome in outcomes if outcome is not None]
    for i, run in enumerate(runs):
        outcome = outcomes[i]
        if outcome is None:
            report = None if progress is None else (lambda done, total, run=run: progress(run, done, total))
            outcome = outcomes[i] = convert_one(run, str(outputs[i]), format, jobs, options, report)
        if on_outcome is not None:
            on_outcome(outcome)
    return [outcome for outcome in outcomes if outcome is not None]


# The last bytes of a complete file of each format.
_COMPLETE_ENDING: Mapping[str, bytes] = {"mzml": b"</indexedmzML>\n", "parquet": b"PAR1"}


# The compressed size of a gzip file's last member is well below this: members hold
# 1 MiB of text each.
_LAST_MEMBER_BYTES = 4 << 20


def is_complete(path: str | os.PathLike[str], format: Format) -> bool:
    """Whether a file ends as a complete file of the format ends (a ``.gz`` file once
    its last member is inflated).  Files are only ever renamed onto their final name
    once whole; this also tells apart what another program left there cut short."""
    ending = _COMPLETE_ENDING[format]
    gzipped = os.fspath(path).endswith(".gz")
    try:
        with open(path, "rb") as file:
            size = file.seek(0, os.SEEK_END)
            tail = max(0, size - (_LAST_MEMBER_BYTES if gzipped else len(ending)))
            file.seek(tail)
            data = file.read()
    except OSError:
        return False
    return _last_member_ends_with(data, ending) if gzipped else data == ending


def _last_member_ends_with(data: bytes, ending: bytes) -> bool:
    """Whether some gzip member in `data` inflates to the end of `data`, ending so."""
    at = len(data)
    while (at := data.rfind(b"\x1f\x8b\x08", 0, at)) >= 0:
        member = zlib.decompressobj(wbits=31)
        try:
            text = member.decompress(data[at:])
        except zlib.error:
            continue
        if member.eof and not member.unused_data:
            return text.endswith(ending)
    return False


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
    except DamagedRunError as error:
        return Outcome(run, None, str(error), damaged=True)
    except (RuntimeError, OutputError, MissingExtra) as error:
        return Outcome(run, None, str(error))
    except OSError as error:  # pyarrow's own I/O errors
        return Outcome(run, None, f"cannot write {output}: {error.strerror or error}")
    return Outcome(run, output, None, count, count.left_out)


def _make_directory(directory: Path) -> None:
    try:
        directory.mkdir(parents=True, exist_ok=True)
    except OSError as error:
        raise OutputError(f"cannot create {directory}: {error.strerror or error}") from None


def _outputs(
    found: Sequence[tuple[str, str | None]], outdir: str | os.PathLike[str], format: Format, gzip: bool
) -> list[str | None]:
    """Each run's output name; None for a folder without runs."""
    outputs = [
        None if relative is None else str(output_path(run, Path(outdir) / relative, format, gzip))
        for run, relative in found
    ]
    first: dict[str, str] = {}
    for (run, _), output in zip(found, outputs, strict=True):
        if output is None:
            continue
        if output in first:
            raise ValueError(f"{first[output]} and {run} would both be written to {output}")
        first[output] = run
    return outputs


_PROCESSING = frozenset(Processing.__optional_keys__)
_SHARED_OPTIONS = frozenset({"skip_lock_mass", "on_error", "functions", "ms_level", "rt", "mz"}) | _PROCESSING
_OPTIONS: Mapping[str, frozenset[str]] = {
    "mzml": _SHARED_OPTIONS | {"compression", "ims", "numpress", "mz_precision", "gzip"},
    "parquet": _SHARED_OPTIONS,
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
    if options.get("on_error", "fail") not in ("fail", "skip"):
        raise ValueError(f"on_error must be 'fail' or 'skip', not {options['on_error']!r}")
    _core.check_selection(**{key: options[key] for key in ("functions", "ms_level", "rt", "mz") if key in options})


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
            output = None if outcome.output is None else outputs[i]
            outcome = dataclasses.replace(outcome, path=runs[i], output=output)
        elif future.status == "error":
            outcome = Outcome(runs[i], None, f"the task converting it failed: {future.exception()!r}")
        else:
            outcome = Outcome(runs[i], None, f"the task converting it was {future.status}")
        outcomes[i] = outcome
        if on_outcome is not None:
            on_outcome(outcome)
    return [outcome for outcome in outcomes if outcome is not None]
