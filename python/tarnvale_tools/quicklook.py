"""What a quick-look picture of a run shows, gathered as plain numpy arrays.

`gather` opens a run once and collects the TIC and base-peak chromatogram of
every function, the chromatogram channels, the extracted-ion traces asked for
and the one scan to show in detail.  Nothing here draws: the figure (``plot``)
only receives these arrays, so what it shows can be checked against the run.
Needs numpy (which matplotlib needs anyway).
"""

from __future__ import annotations

import os
from collections.abc import Sequence
from dataclasses import dataclass
from typing import Any

import numpy as np
import numpy.typing as npt
import tarnvale

from . import Channel, Function, Header, Run, lock_mass_presets

Array = npt.NDArray[Any]

# More function panels than this make the picture taller than a screen; the
# chosen function is always shown, the others in file order up to the limit.
MAX_FUNCTION_PANELS = 8


class QuickLookError(Exception):
    """A choice the run cannot satisfy (a function, scan or retention time it lacks)."""


@dataclass(frozen=True, slots=True)
class FunctionTraces:
    """TIC and base peak of one function; `skipped` scans could not be decoded."""

    function: Function
    rt_min: Array
    tic: Array
    bpi: Array
    bpi_mz: Array
    skipped: int


@dataclass(frozen=True, slots=True)
class ChannelTrace:
    """A chromatogram channel's samples, or why they could not be read."""

    channel: Channel
    rt_min: Array
    values: Array
    problem: str | None = None


@dataclass(frozen=True, slots=True)
class XicTraces:
    """Extracted-ion traces of one function: `values[i]` belongs to `targets[i]`."""

    func_index: int
    targets: tuple[float, ...]
    ppm: float
    rt_min: Array
    values: Array


@dataclass(frozen=True, slots=True)
class ScanData:
    """One scan's points; `drift_time_ms` is None unless the function is ion mobility."""

    function: Function
    scan_index: int
    rt_min: float
    mz: Array
    intensity: Array
    drift_time_ms: Array | None


@dataclass(frozen=True, slots=True)
class ScanChoice:
    """Which scan to show: by number, by retention time, or (neither) the TIC apex."""

    func_index: int | None = None
    scan_index: int | None = None
    rt_min: float | None = None


@dataclass(frozen=True, slots=True)
class LockMassTrace:
    """How far the lock-mass function found its reference off, per lock scan (NaN
    where it was not found)."""

    function: int
    mz: float
    rt_min: Array
    ppm: Array


@dataclass(frozen=True, slots=True)
class QuickLook:
    """Everything the picture shows; `hidden_functions` did not fit."""

    run_name: str
    header: Header
    traces: tuple[FunctionTraces, ...]
    channels: tuple[ChannelTrace, ...]
    xic: XicTraces | None
    scan: ScanData
    hidden_functions: tuple[int, ...]
    lock_mass: LockMassTrace | None = None


def gather(
    path: str,
    choice: ScanChoice = ScanChoice(),
    xic_targets: Sequence[float] = (),
    ppm: float = 10.0,
    lock_mass: dict[str, Any] | None = None,
) -> QuickLook:
    """Reads what the picture of the run at `path` shows; with `lock_mass` (the
    keywords of :meth:`Run.lock_mass_trace`) also the lock mass's error over time.

    Raises QuickLookError for a choice the run cannot satisfy and RuntimeError
    (from the reader) for a run that cannot be read.
    """
    run = Run(path)
    function = choose_function(run, choice.func_index)
    shown = functions_to_show(run.functions, function)
    threads = min(4, os.process_cpu_count() or 1)
    traces = tuple(function_traces(run, f, threads) for f in shown)
    chosen = next(t for t in traces if t.function is function)
    scan_index = choose_scan(run.name, chosen, choice)
    xic = xic_traces(run, function, xic_targets, ppm, threads) if xic_targets else None
    hidden = tuple(f.index for f in run.functions if f not in shown)
    scan = read_scan(path, function, scan_index, float(chosen.rt_min[scan_index]))
    lock = None if lock_mass is None else lock_mass_trace(run, **lock_mass)
    return QuickLook(run.name, run.header, traces, channel_traces(run), xic, scan, hidden, lock)


def lock_mass_trace(run: Run, mz: float | str, tolerance: float = 0.25, function: int | None = None) -> LockMassTrace:
    number = run.lock_mass_function(function)
    rt_min, _, ppm = run.lock_mass_trace(mz, tolerance, function=number)
    reference = lock_mass_presets()[mz.lower()][1] if isinstance(mz, str) else float(mz)
    return LockMassTrace(number, reference, np.asarray(rt_min), np.asarray(ppm))


def choose_function(run: Run, func_index: int | None) -> Function:
    """The function asked for, or by default the first MS1 survey that is not lock mass."""
    if not run.functions:
        raise QuickLookError(f"{run.name} has no readable function")
    if func_index is not None:
        try:
            return run.function(func_index)
        except RuntimeError:
            numbers = ", ".join(str(f.index) for f in run.functions)
            raise QuickLookError(f"{run.name} has no function {func_index} (functions: {numbers})") from None
    return min(run.functions, key=_survey_rank)


def _survey_rank(function: Function) -> tuple[bool, bool, bool, int]:
    """Sorts functions with scans first, then anything before lock mass, MS1
    before MSn, and then by number."""
    return (function.n_scans == 0, function.is_lock_mass, function.ms_level != 1, function.index)


def functions_to_show(functions: Sequence[Function], chosen: Function) -> tuple[Function, ...]:
    """The first MAX_FUNCTION_PANELS functions, the last place going to `chosen` if it lies beyond."""
    shown = list(functions[:MAX_FUNCTION_PANELS])
    if chosen not in shown:
        shown[-1] = chosen
    return tuple(shown)


def function_traces(run: Run, function: Function, threads: int) -> FunctionTraces:
    # A scan that cannot be decoded leaves a gap (zero) in the traces rather than
    # hiding the whole run; the panel says how many there were.
    traces = run.chromatograms(function.index, threads=threads, on_error="skip")
    assert traces.tic is not None and traces.bpi is not None and traces.bpi_mz is not None
    return FunctionTraces(
        function,
        np.asarray(traces.rt_min),
        np.asarray(traces.tic),
        np.asarray(traces.bpi),
        np.asarray(traces.bpi_mz),
        len(traces.skipped),
    )


def choose_scan(run_name: str, traces: FunctionTraces, choice: ScanChoice) -> int:
    """The scan number to show in detail, checked against the function."""
    function = traces.function
    n_scans = len(traces.rt_min)
    if n_scans == 0:
        raise QuickLookError(f"function {function.index} of {run_name} has no scans")
    if choice.scan_index is not None:
        if not 0 <= choice.scan_index < n_scans:
            raise QuickLookError(
                f"function {function.index} of {run_name} has scans 0 to {n_scans - 1}, not {choice.scan_index}"
            )
        return choice.scan_index
    if choice.rt_min is not None:
        return scan_at(run_name, function.index, traces.rt_min, choice.rt_min)
    return int(np.argmax(traces.tic))


def scan_at(run_name: str, func_index: int, rt_min: Array, target: float) -> int:
    """The scan nearest to `target`, which must lie within the function's scans
    (give or take half the median spacing between them)."""
    first, last = float(rt_min[0]), float(rt_min[-1])
    slack = float(np.median(np.diff(rt_min))) / 2 if len(rt_min) > 1 else 0.0
    if not first - slack <= target <= last + slack:
        raise QuickLookError(
            f"retention time {target:g} min is outside function {func_index} of {run_name} "
            f"({first:.4f} to {last:.4f} min)"
        )
    return int(np.argmin(np.abs(rt_min.astype(np.float64) - target)))


def xic_traces(run: Run, function: Function, targets: Sequence[float], ppm: float, threads: int) -> XicTraces:
    rt_min, values = run.xic(function.index, list(targets), ppm=ppm, threads=threads, on_error="skip")
    return XicTraces(function.index, tuple(targets), ppm, np.asarray(rt_min), np.asarray(values))


def channel_traces(run: Run) -> tuple[ChannelTrace, ...]:
    """Every channel; one whose file cannot be read keeps its panel with the reason."""
    traces = []
    for channel in run.channels:
        try:
            rt_min, values = run.read_chrom(channel.index)
        except RuntimeError as error:
            empty = np.zeros(0, dtype=np.float32)
            traces.append(ChannelTrace(channel, empty, empty, str(error)))
            continue
        traces.append(ChannelTrace(channel, np.asarray(rt_min), np.asarray(values)))
    return tuple(traces)


def read_scan(path: str, function: Function, scan_index: int, rt_min: float) -> ScanData:
    """One scan, read on its own: decoding a whole function for it would cost
    the whole function's memory and time."""
    reader = tarnvale.RawReader(path)
    if function.is_ims:
        ims = reader.read_ims_spectrum(function.index, scan_index)
        drift: Array | None = np.asarray(ims.drift_time_ms, dtype=np.float64)
        mz, intensity = ims.mz, ims.intensity
    else:
        spectrum = reader.read_spectrum(function.index, scan_index)
        drift, mz, intensity = None, spectrum.mz, spectrum.intensity
    return ScanData(
        function,
        scan_index,
        rt_min,
        np.asarray(mz, dtype=np.float64),
        np.asarray(intensity, dtype=np.float32),
        drift,
    )
