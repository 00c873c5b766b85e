"""The runs a viewer serves, each opened once, with what its page asks for
repeatedly (chromatograms, extracted-ion traces, channels) kept in a cache bounded
in bytes.  Everything here works on the core's arrays (memoryviews) and checks
the request's numbers against the run; it knows nothing of HTTP.
"""

from __future__ import annotations

import math
import os
import threading
from collections.abc import Sequence
from dataclasses import dataclass
from typing import Any, Literal

from .. import Channel, Function, Processing, Run, lock_mass_presets
from .cache import BoundedCache


class RequestError(Exception):
    """A request the run cannot answer as asked: an unknown function, channel or
    scan, or values out of range.  Its message names what is wrong."""


class DataError(Exception):
    """The run's data for a request could not be read (a damaged scan, say)."""


@dataclass(frozen=True, slots=True)
class ProcessingChoice:
    """What is done to the scans read: peak picking of profile functions and a
    lock-mass correction by a reference m/z or a preset's name (tarnvale_tools'
    ``centroid=`` and ``lock_mass=``)."""

    centroid: bool = False
    lock_mass: float | str | None = None
    lock_mass_tolerance: float | None = None  # Da; tarnvale_tools' default when None

    def keywords(self) -> Processing:
        found: Processing = {}
        if self.centroid:
            found["centroid"] = True
        if self.lock_mass is not None:
            found["lock_mass"] = self.lock_mass
            if self.lock_mass_tolerance is not None:
                found["lock_mass_tolerance"] = self.lock_mass_tolerance
        return found


NO_PROCESSING = ProcessingChoice()


@dataclass(frozen=True, slots=True)
class LockMassTrace:
    """Per lock scan: the reference's observed m/z and its error in ppm (NaN where
    the scan has no such peak)."""

    reference_mz: float
    tolerance_da: float
    rt_min: memoryview
    observed_mz: memoryview
    ppm_error: memoryview


@dataclass(frozen=True, slots=True)
class Traces:
    """TIC and base peak of a function, one value per scan; scans that could not be
    decoded are listed in `skipped` and are 0 in the traces."""

    rt_min: memoryview
    tic: memoryview
    bpi_mz: memoryview
    bpi: memoryview
    skipped: tuple[int, ...]


@dataclass(frozen=True, slots=True)
class XicTraces:
    """One extracted-ion trace per target: row t of `xic` (flat, targets x scans)."""

    rt_min: memoryview
    xic: memoryview[float]
    tolerances: tuple[float, ...]
    skipped: tuple[int, ...]

    def row(self, target: int) -> memoryview[float]:
        scans = len(self.rt_min)
        return self.xic[target * scans : (target + 1) * scans]


@dataclass(frozen=True, slots=True)
class ScanPoints:
    """One scan's points; `drift_time_ms` is None unless the function is ion mobility."""

    function: Function
    scan: int
    rt_min: float
    mz: memoryview
    intensity: memoryview
    drift_time_ms: memoryview | None


@dataclass(frozen=True, slots=True)
class ChannelTrace:
    channel: Channel
    rt_min: memoryview
    value: memoryview


Kept = Traces | XicTraces | ChannelTrace | LockMassTrace


def _nbytes(value: Kept) -> int:
    if isinstance(value, Traces):
        return sum(array.nbytes for array in (value.rt_min, value.tic, value.bpi_mz, value.bpi))
    if isinstance(value, XicTraces):
        return value.rt_min.nbytes + value.xic.nbytes
    if isinstance(value, LockMassTrace):
        return value.rt_min.nbytes + value.observed_mz.nbytes + value.ppm_error.nbytes
    return value.rt_min.nbytes + value.value.nbytes


def worker_threads() -> int:
    return min(4, os.process_cpu_count() or 1)


class ServedRun:
    """One run named on the command line, by its position `index` among them."""

    def __init__(self, index: int, path: str, cache_bytes: int, threads: int | None = None) -> None:
        self.index = index
        self.path = path
        self.run = Run(path)  # RuntimeError: the run cannot be opened
        self.threads = threads or worker_threads()
        self._cache: BoundedCache[Kept] = BoundedCache(cache_bytes, _nbytes)
        self._overview: dict[str, Any] | None = None
        self._overview_lock = threading.Lock()

    @property
    def name(self) -> str:
        return self.run.name

    def overview(self) -> dict[str, Any]:
        """What ``tarnvale info --json`` prints for the run."""
        with self._overview_lock:
            if self._overview is None:
                from .. import overview

                try:
                    self._overview = overview.as_json(overview.gather(self.path))
                except RuntimeError as error:
                    raise DataError(str(error)) from None
            return self._overview

    def function(self, number: int) -> Function:
        for function in self.run.functions:
            if function.index == number:
                return function
        numbers = ", ".join(str(f.index) for f in self.run.functions) or "none"
        raise RequestError(f"{self.name} has no function {number} (functions: {numbers})")

    def check_scan(self, function: Function, scan: int) -> None:
        if not 0 <= scan < function.n_scans:
            scans = "no scans" if function.n_scans == 0 else f"scans 0 to {function.n_scans - 1}"
            raise RequestError(f"function {function.index} of {self.name} has {scans}, not {scan}")

    def traces(self, number: int) -> Traces:
        function = self.function(number)

        def compute() -> Traces:
            try:
                found = self.run.chromatograms(function.index, threads=self.threads, on_error="skip")
            except RuntimeError as error:
                raise DataError(str(error)) from None
            assert found.tic is not None and found.bpi_mz is not None and found.bpi is not None
            return Traces(found.rt_min, found.tic, found.bpi_mz, found.bpi, tuple(found.skipped))

        return self._kept(("traces", function.index), compute, Traces)

    def xic(
        self, number: int, targets: Sequence[float], tolerance: float, unit: Literal["ppm", "da"],
        processing: ProcessingChoice = NO_PROCESSING,
    ) -> XicTraces:
        function = self.function(number)
        self.check_processing(processing)
        key = ("xic", function.index, tuple(targets), tolerance, unit, processing)

        def compute() -> XicTraces:
            ppm, da = (tolerance, None) if unit == "ppm" else (None, tolerance)
            try:
                found = self.run.chromatograms(
                    function.index, tic=False, bpi=False, targets=list(targets), ppm=ppm, da=da,
                    threads=self.threads, on_error="skip", **processing.keywords(),
                )
            except RuntimeError as error:
                raise DataError(str(error)) from None
            flat = found.xic.cast("B").cast("d")
            tolerances = tuple(t * tolerance * 1e-6 if unit == "ppm" else tolerance for t in targets)
            return XicTraces(found.rt_min, flat, tolerances, tuple(found.skipped))

        return self._kept(key, compute, XicTraces)

    def scan(self, number: int, scan: int, processing: ProcessingChoice = NO_PROCESSING) -> ScanPoints:
        function = self.function(number)
        self.check_scan(function, scan)
        self.check_processing(processing)
        try:
            points = self.run.read_scan(function.index, scan, **processing.keywords())
        except ValueError as error:
            raise RequestError(str(error)) from None
        except RuntimeError as error:
            raise DataError(str(error)) from None
        return ScanPoints(function, scan, points.rt_min, points.mz, points.intensity, points.drift_time_ms)

    def check_processing(self, processing: ProcessingChoice) -> None:
        """RequestError when the run cannot be corrected as asked (no lock-mass function,
        no lock scan with the reference): the request's fault, not the data's."""
        if processing.lock_mass is not None:
            self.lock_mass(processing.lock_mass, processing.lock_mass_tolerance)

    def lock_mass(self, reference: float | str, tolerance: float | None) -> LockMassTrace:
        """The lock-mass function's trace of `reference` (an m/z or a preset name)."""
        key = ("lock mass", reference, tolerance)

        def compute() -> LockMassTrace:
            within = 0.25 if tolerance is None else tolerance
            try:
                rt_min, observed, ppm = self.run.lock_mass_trace(reference, within, on_error="skip")
            except (ValueError, RuntimeError) as error:
                raise RequestError(str(error)) from None
            mz = lock_mass_presets()[reference][1] if isinstance(reference, str) else reference
            if all(math.isnan(value) for value in observed.tolist()):
                raise RequestError(f"{self.name}: none of the {len(observed)} lock scans has a peak within "
                                   f"{within} Da of m/z {mz}")
            return LockMassTrace(mz, within, rt_min, observed, ppm)

        return self._kept(key, compute, LockMassTrace)

    def channel(self, index: int) -> ChannelTrace:
        if not 0 <= index < len(self.run.channels):
            count = len(self.run.channels)
            which = "no chromatogram channels" if count == 0 else f"channels 0 to {count - 1}"
            raise RequestError(f"{self.name} has {which}, not {index}")
        channel = self.run.channels[index]

        def compute() -> ChannelTrace:
            try:
                rt_min, value = self.run.read_chrom(channel.index)
            except RuntimeError as error:
                raise DataError(str(error)) from None
            return ChannelTrace(channel, rt_min, value)

        return self._kept(("channel", index), compute, ChannelTrace)

    def _kept[T: Kept](self, key: tuple[object, ...], compute: Any, kind: type[T]) -> T:
        value = self._cache.get(key, compute)
        assert isinstance(value, kind)
        return value
