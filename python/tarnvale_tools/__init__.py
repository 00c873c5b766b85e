"""Whole runs of Waters MassLynx ``.raw`` directories as arrays, and their chromatograms.

``tarnvale`` reads one scan at a time; ``tarnvale_tools`` reads every scan of a
function at once into contiguous columns, on several threads, and computes total
ion, base peak and extracted-ion chromatograms over whole functions.  Arrays are
read-only ``memoryview`` objects over the decoded data (no copy); ``numpy.asarray``
shares their memory, and numpy is not needed for anything else::

    import numpy as np
    import tarnvale_tools as tt

    run = tt.Run("sample.raw")
    cols = run.columns(1, threads=2)
    mz, intensity = cols.scan(17)
    rt, tic = run.tic(1)
    rt, xic = run.xic(1, [524.2648, 785.8426], ppm=10)
    np.asarray(xic).shape  # (2, number of scans)

Every method that reads scans also takes the keywords of :class:`Processing`:
``centroid=True`` picks the peaks of profile functions (ion mobility, encoding B; and
encoding C) and ``lock_mass=`` an m/z or a preset name (``"leu-enk"``,
``"leu-enk-neg"``, ``"glu-fib"``) corrects every function's m/z by the run's
lock-mass function::

    cols = run.columns(1, centroid=True, lock_mass="leu-enk")
    rt, observed, ppm = run.lock_mass_trace("leu-enk")

Function numbers are 1-based and scans 0-based, as in ``tarnvale``.  Log records
of the reader go to the ``logging`` loggers ``tarnvale.*``.
"""

from __future__ import annotations

from collections.abc import Sequence
from dataclasses import dataclass
from typing import Literal, NamedTuple, SupportsFloat, SupportsIndex, TypedDict, Unpack

from . import _core
from ._core import Chromatograms, Columns

__all__ = [
    "Run", "Columns", "Chromatograms", "Header", "Function", "Channel", "Scan", "Processing",
    "lock_mass_presets",
    "Outcome", "LeftOut", "DamagedRunError", "convert_many", "write_mzml", "write_parquet",
]

OnError = Literal["fail", "skip"]
Tolerance = SupportsFloat | Sequence[SupportsFloat] | None


class Processing(TypedDict, total=False):
    """What is done to every scan read, the same for columns, chromatograms, single
    scans and the writers.

    centroid
        Pick the peaks of profile functions (encodings B and C): each segment of
        adjacent time bins is split at deep valleys, each peak placed by a Gaussian
        through its apex and neighbours (once the Gaussians of the peaks overlapping
        it are taken off), with the sum of its counts.  Encodings A and D hold peak
        lists already and pass unchanged.
    min_intensity, min_points
        With ``centroid=True``: drop weaker peaks, and peaks of fewer bins.
    lock_mass
        Correct every function's m/z by the lock-mass function: the reference m/z, or
        a preset name (see :func:`lock_mass_presets`).  Each lock scan's peak nearest
        the reference gives a gain (reference / observed), interpolated linearly over
        retention time and held before the first and after the last lock scan.
    lock_mass_tolerance
        How far (Da, inclusive) from the reference a lock scan's peak may lie: 0.25.
    lock_mass_function
        The lock-mass function, needed when the run flags several.
    lock_mass_min_intensity
        A weaker lock peak counts as not found.

    Bad values raise ValueError; a run without a usable lock-mass function raises
    RuntimeError.
    """

    centroid: bool
    min_intensity: float
    min_points: int
    lock_mass: float | str | None
    lock_mass_tolerance: float
    lock_mass_function: int | None
    lock_mass_min_intensity: float


def lock_mass_presets() -> dict[str, tuple[str, float]]:
    """The calibrants ``lock_mass=`` knows by name: name -> (description, m/z), the m/z
    computed from the elemental formula with the proton's mass."""
    return {name: (description, mz) for name, description, mz in _core.lock_mass_presets()}


@dataclass(frozen=True, slots=True)
class Header:
    """The run header of ``_HEADER.TXT`` (None where a field is absent)."""

    version: str | None
    acquired_name: str | None
    acquired_date: str | None
    acquired_time: str | None
    instrument: str | None
    operator: str | None
    sample_description: str | None


@dataclass(frozen=True, slots=True)
class Function:
    """A readable acquisition function: its number (``index``, 1-based) and what it holds."""

    index: int
    encoding: Literal["a", "b", "c", "d"]
    ms_level: int
    n_scans: int
    mz_low: float
    mz_high: float
    scan_time_s: float
    is_lock_mass: bool
    is_ims: bool


@dataclass(frozen=True, slots=True)
class Channel:
    """A chromatogram channel of ``_CHROMS.INF`` (``index`` 0-based, as ``read_chrom`` takes it)."""

    index: int
    name: str
    units: str
    scale_f: float
    source_type: int


class Scan(NamedTuple):
    """One scan's points (float64 m/z, float32 intensity, float64 drift time or None
    unless the function is ion mobility) and its retention time in minutes."""

    mz: memoryview
    intensity: memoryview
    drift_time_ms: memoryview | None
    rt_min: float


class Run:
    """A ``.raw`` directory, opened once for reading whole functions.

    Opening reads the metadata and every scan index; bad input raises
    ``RuntimeError`` with the same messages as ``tarnvale.RawReader``.
    """

    __slots__ = ("_run", "header", "functions", "channels")

    header: Header
    functions: tuple[Function, ...]
    channels: tuple[Channel, ...]

    def __init__(self, path: str) -> None:
        self._run = _core.Run(path)
        self.header = Header(**self._run.header)
        self.functions = tuple(Function(**fields) for fields in self._run.functions)
        self.channels = tuple(Channel(**fields) for fields in self._run.channels)

    @property
    def path(self) -> str:
        """The path the run was opened with."""
        return self._run.path

    @property
    def name(self) -> str:
        """The directory's name, e.g. ``"sample.raw"``."""
        return self._run.name

    @property
    def polarity(self) -> Literal["positive", "negative"] | None:
        return self._run.polarity

    def function(self, func_index: SupportsIndex) -> Function:
        """The readable function with this number (RuntimeError, as everywhere else, if there is none)."""
        number = func_index.__index__()
        for function in self.functions:
            if function.index == number:
                return function
        raise RuntimeError(f"function {number} not found")

    def columns(
        self,
        func_index: SupportsIndex,
        threads: SupportsIndex = 1,
        on_error: OnError = "fail",
        **processing: Unpack[Processing],
    ) -> Columns:
        """Every scan of a function decoded into contiguous columns.

        With ``on_error="skip"`` a scan that cannot be decoded is left empty and
        listed in ``.skipped``; otherwise it fails the call, naming the scan.
        `processing`: see :class:`Processing`.
        """
        return self._run.columns(func_index, threads, on_error, **processing)

    def chromatograms(
        self,
        func_index: SupportsIndex,
        *,
        tic: bool = True,
        bpi: bool = True,
        targets: Sequence[SupportsFloat] | None = None,
        ppm: Tolerance = None,
        da: Tolerance = None,
        threads: SupportsIndex = 1,
        on_error: OnError = "fail",
        **processing: Unpack[Processing],
    ) -> Chromatograms:
        """TIC, base peak and extracted-ion traces in one pass, without keeping the points."""
        return self._run.chromatograms(func_index, tic, bpi, targets, ppm, da, threads, on_error, **processing)

    def tic(
        self,
        func_index: SupportsIndex,
        *,
        threads: SupportsIndex = 1,
        on_error: OnError = "fail",
        **processing: Unpack[Processing],
    ) -> tuple[memoryview, memoryview]:
        """(rt_min, total intensity) per scan."""
        traces = self.chromatograms(func_index, bpi=False, threads=threads, on_error=on_error, **processing)
        assert traces.tic is not None
        return traces.rt_min, traces.tic

    def bpi(
        self,
        func_index: SupportsIndex,
        *,
        threads: SupportsIndex = 1,
        on_error: OnError = "fail",
        **processing: Unpack[Processing],
    ) -> tuple[memoryview, memoryview, memoryview]:
        """(rt_min, base peak m/z, base peak intensity) per scan."""
        traces = self.chromatograms(func_index, tic=False, threads=threads, on_error=on_error, **processing)
        assert traces.bpi_mz is not None and traces.bpi is not None
        return traces.rt_min, traces.bpi_mz, traces.bpi

    def xic(
        self,
        func_index: SupportsIndex,
        targets: Sequence[SupportsFloat],
        *,
        ppm: Tolerance = None,
        da: Tolerance = None,
        threads: SupportsIndex = 1,
        on_error: OnError = "fail",
        **processing: Unpack[Processing],
    ) -> tuple[memoryview, memoryview]:
        """(rt_min, xic) with ``xic.shape == (len(targets), scans)``.

        A point counts for a target when ``|m/z - target| <= tolerance``, the
        tolerance being ``target * ppm * 1e-6`` or ``da``.
        """
        traces = self.chromatograms(
            func_index,
            tic=False,
            bpi=False,
            targets=targets,
            ppm=ppm,
            da=da,
            threads=threads,
            on_error=on_error,
            **processing,
        )
        return traces.rt_min, traces.xic

    def read_scan(
        self, func_index: SupportsIndex, scan_index: SupportsIndex, **processing: Unpack[Processing]
    ) -> Scan:
        """One scan decoded on its own, bit for bit as ``columns(func_index).scan(scan_index)``
        holds it (with the same `processing`), without reading the rest of the function."""
        return Scan(*self._run.read_scan(func_index, scan_index, **processing))

    def lock_mass_function(self, function: SupportsIndex | None = None) -> int:
        """The lock-mass function's number: `function` if the run can read it, else the
        one function flagged lock mass.  RuntimeError, naming the run, when there is
        none, or several and `function` is not given."""
        return self._run.lock_mass_function(function)

    def lock_mass_trace(
        self,
        mz: SupportsFloat | str,
        tolerance: SupportsFloat = 0.25,
        *,
        function: SupportsIndex | None = None,
        on_error: OnError = "fail",
    ) -> tuple[memoryview, memoryview, memoryview]:
        """(rt_min, observed_mz, ppm_error) as float64 arrays, one entry per scan of the
        lock-mass function (`function` when the run flags several): the m/z of the peak
        nearest `mz` (an m/z or a preset name) within `tolerance` Da, profile scans
        picked first, and ``(observed - mz) / mz * 1e6``; NaN where no peak was found."""
        return self._run.lock_mass_trace(mz, tolerance, function, on_error)

    def read_chrom(self, channel_index: SupportsIndex) -> tuple[memoryview, memoryview]:
        """A chromatogram channel as (rt_min, value) float32 arrays."""
        return self._run.read_chrom(channel_index)

    def __repr__(self) -> str:
        numbers = [function.index for function in self.functions]
        scans = [function.n_scans for function in self.functions]
        return f"Run({self.path!r}, functions={numbers}, scans={scans})"


# After Run and Function, which the export module uses.
from .export import DamagedRunError, LeftOut, Outcome, convert_many, write_mzml, write_parquet  # noqa: E402
