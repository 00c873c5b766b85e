"""An overview of a run, as text or as JSON: the header, the functions with their
scans and retention times, the base peak of one scan and the chromatogram channels.

Everything is read first into an ``Overview``; ``print_text`` and ``as_json`` only
render it, so that both forms say the same.  A part that cannot be read (a function's
files, a channel, the chosen scan) is recorded as a problem instead of ending the
overview; only a run that cannot be opened at all raises (RuntimeError).
"""

from __future__ import annotations

from collections.abc import Sequence
from dataclasses import dataclass
from typing import Any, TextIO

import tarnvale

__all__ = [
    "BasePeak", "ChannelSummary", "FunctionSummary", "LockMassSummary", "Overview", "Spread", "as_json", "gather",
    "print_text",
]

HEADER_FIELDS = [
    ("Version", "version"),
    ("Acquired name", "acquired_name"),
    ("Acquired date", "acquired_date"),
    ("Acquired time", "acquired_time"),
    ("Instrument", "instrument"),
    ("Operator", "operator"),
    ("Sample description", "sample_description"),
]


@dataclass(frozen=True)
class FunctionSummary:
    """What the overview shows of one function; `scans` is None when the
    reader could not open the function's files."""

    info: tarnvale.FunctionInfo
    ms_level: int
    encoding: str | None = None
    scans: int | None = None
    rt_first: float | None = None
    rt_last: float | None = None
    problem: str | None = None


@dataclass(frozen=True)
class BasePeak:
    """The most intense point of one scan; `mz` is None for an empty scan."""

    function: int
    scan: int
    rt: float
    ions: bool  # an ion-mobility scan, whose points are ions with drift times
    points: int
    mz: float | None = None
    intensity: float | None = None
    drift_time_ms: float | None = None
    total_intensity: float = 0.0


@dataclass(frozen=True)
class ChannelSummary:
    channel: tarnvale.ChromChannel
    points: int | None
    problem: str | None = None


@dataclass(frozen=True)
class Spread:
    """Median and range of a set of ppm errors."""

    median: float
    low: float
    high: float


@dataclass(frozen=True)
class LockMassSummary:
    """Where the lock-mass function found its reference: `before` the error of the m/z
    observed in each lock scan, `after` what is left of it once corrected by the gains
    of the other lock scans (the correction's error between lock scans); None where
    too few lock scans found the reference."""

    mz: float
    tolerance_da: float
    function: int
    lock_scans: int
    found: int
    before: Spread | None
    after: Spread | None


@dataclass(frozen=True)
class Overview:
    name: str
    header: dict[str, str | None]
    polarity: str | None
    functions: list[FunctionSummary]
    base_peak: BasePeak | None  # None: no function has scans, or the scan could not be read
    base_peak_error: str | None
    channels: list[ChannelSummary]
    lock_mass: LockMassSummary | None = None  # only when asked for


def gather(
    path: str, function: int | None = None, scan: int = 0, lock_mass: dict[str, Any] | None = None
) -> Overview:
    """Reads the overview of the run at `path`; the base peak of `scan` in `function`
    (default: the first function with scans); with `lock_mass` (the keywords of
    :meth:`tarnvale_tools.Run.lock_mass_trace`) how far the lock mass is off.
    RuntimeError when the run cannot be opened or its lock scans read."""
    reader = tarnvale.RawReader(path)
    summaries = [summarize(reader, info) for info in reader.functions]
    header = {key: getattr(reader.header, key) for _, key in HEADER_FIELDS}
    chosen = function if function is not None else default_function(summaries)
    peak, error = None, None
    if chosen is not None:
        try:
            peak = base_peak(reader, chosen, scan)
        except (RuntimeError, OverflowError) as problem:
            error = str(problem)
    channels = [_channel(reader, channel) for channel in reader.channels]
    lock = None if lock_mass is None else lock_mass_summary(path, **lock_mass)
    return Overview(path, header, reader.polarity, summaries, peak, error, channels, lock)


def lock_mass_summary(path: str, mz: float | str, tolerance: float = 0.25, function: int | None = None) -> LockMassSummary:
    """The lock-mass trace of the run at `path` summarised (RuntimeError when it cannot be read)."""
    import tarnvale_tools

    run = tarnvale_tools.Run(path)
    number = run.lock_mass_function(function)
    rt, observed, _ = run.lock_mass_trace(mz, tolerance, function=number)
    reference = tarnvale_tools.lock_mass_presets()[mz.lower()][1] if isinstance(mz, str) else mz
    found = [(t, o) for t, o in zip(rt.tolist(), observed.tolist(), strict=True) if o == o]
    before = [(o - reference) / reference * 1e6 for _, o in found]
    after = [_left_out_error(found, i, reference) for i in range(len(found))] if len(found) > 1 else []
    return LockMassSummary(reference, tolerance, number, len(rt), len(found), _spread(before), _spread(after))


def _left_out_error(found: Sequence[tuple[float, float]], i: int, reference: float) -> float:
    """The ppm error left at lock scan i once corrected by the gains of the others:
    linear between them, held beyond the first and the last."""
    others = [(t, reference / o) for j, (t, o) in enumerate(found) if j != i]
    t, o = found[i]
    before = [p for p in others if p[0] <= t]
    after = [p for p in others if p[0] > t]
    if not before or not after:
        gain = (before[-1] if before else after[0])[1]
    else:
        (t0, g0), (t1, g1) = before[-1], after[0]
        gain = g0 + (g1 - g0) * (t - t0) / (t1 - t0)
    return (o * gain - reference) / reference * 1e6


def _spread(values: Sequence[float]) -> Spread | None:
    if not values:
        return None
    ordered = sorted(values)
    middle = len(ordered) // 2
    median = ordered[middle] if len(ordered) % 2 else (ordered[middle - 1] + ordered[middle]) / 2
    return Spread(median, ordered[0], ordered[-1])


def summarize(reader: tarnvale.RawReader, info: tarnvale.FunctionInfo) -> FunctionSummary:
    level = reader.ms_level(info.index)
    try:
        encoding = reader.function_encoding(info.index)
        scans = reader.n_scans(info.index)
        if scans == 0:
            return FunctionSummary(info, level, encoding, 0)
        first = reader.retention_time(info.index, 0)
        last = reader.retention_time(info.index, scans - 1)
    except RuntimeError as error:
        return FunctionSummary(info, level, problem=str(error))
    return FunctionSummary(info, level, encoding, scans, first, last)


def default_function(summaries: Sequence[FunctionSummary]) -> int | None:
    """The first function that has scans."""
    return next((s.info.index for s in summaries if s.scans), None)


def base_peak(reader: tarnvale.RawReader, function: int, scan: int) -> BasePeak:
    """The most intense point of a scan (with its drift time for ion-mobility data).
    RuntimeError or OverflowError when the scan cannot be read."""
    spectrum: tarnvale.Spectrum | tarnvale.ImsSpectrum
    if reader.function_encoding(function) == "b":
        spectrum = reader.read_ims_spectrum(function, scan)
    else:
        spectrum = reader.read_spectrum(function, scan)
    rt = reader.retention_time(function, scan)
    ions = isinstance(spectrum, tarnvale.ImsSpectrum)
    if not spectrum:
        return BasePeak(function, scan, rt, ions, 0)
    intensities = spectrum.intensity
    peak = max(range(len(spectrum)), key=intensities.__getitem__)
    drift = spectrum.drift_time_ms[peak] if isinstance(spectrum, tarnvale.ImsSpectrum) else None
    return BasePeak(function, scan, rt, ions, len(spectrum), spectrum.mz[peak], intensities[peak], drift, sum(intensities))


def _channel(reader: tarnvale.RawReader, channel: tarnvale.ChromChannel) -> ChannelSummary:
    try:
        return ChannelSummary(channel, len(reader.read_chrom(channel.index)))
    except RuntimeError as error:
        return ChannelSummary(channel, None, str(error))


def table(headers: Sequence[str], rows: Sequence[Sequence[str]], indent: str = "  ") -> list[str]:
    """Rows under headers, text columns left-aligned and number columns right-aligned."""
    widths = [max(len(row[i]) for row in [headers, *rows]) for i in range(len(headers))]
    numeric = [all(_is_number(row[i]) for row in rows) and bool(rows) for i in range(len(headers))]

    def line(cells: Sequence[str]) -> str:
        parts = [c.rjust(w) if right else c.ljust(w) for c, w, right in zip(cells, widths, numeric, strict=True)]
        return (indent + "  ".join(parts)).rstrip()

    return [line(headers), *(line(row) for row in rows)]


def _is_number(text: str) -> bool:
    try:
        float(text)
    except ValueError:
        return False
    return True


def number(value: float) -> str:
    """Integral values without a fraction, others with four decimals."""
    return str(int(value)) if value.is_integer() else f"{value:.4f}"


def print_text(overview: Overview, out: TextIO, err: TextIO, prefix: str = "error: ") -> int:
    """Prints the overview; an unreadable base peak goes to `err` at its place, after
    `prefix`.  Returns 1 when the base peak could not be read, else 0."""
    for line in _header_lines(overview) + _function_lines(overview.functions) + _retention_lines(overview.functions):
        print(line, file=out)
    status = 0
    if overview.base_peak_error is not None:
        out.flush()
        print(f"{prefix}base peak: {overview.base_peak_error}", file=err)
        status = 1
    else:
        for line in _base_peak_lines(overview.base_peak):
            print(line, file=out)
    for line in _channel_lines(overview.channels):
        print(line, file=out)
    if overview.lock_mass is not None:
        for line in _lock_mass_lines(overview.lock_mass):
            print(line, file=out)
    return status


def _header_lines(overview: Overview) -> list[str]:
    lines = [overview.name, "=" * len(overview.name), "Run header"]
    fields = [(label, overview.header[key]) for label, key in HEADER_FIELDS] + [("Polarity", overview.polarity)]
    lines += [f"  {label:<20}{value if value is not None else '(not recorded)'}" for label, value in fields]
    return lines


def _function_lines(summaries: Sequence[FunctionSummary]) -> list[str]:
    lines = ["", f"Functions ({len(summaries)})"]
    if not summaries:
        return [*lines, "  (none)"]
    rows = []
    for s in summaries:
        rt = "-" if s.rt_first is None or s.rt_last is None else f"{s.rt_first:.4f}-{s.rt_last:.4f}"
        rows.append(
            [
                str(s.info.index),
                s.encoding or "-",
                str(s.ms_level),
                "-" if s.scans is None else str(s.scans),
                f"{number(s.info.mz_low)}-{number(s.info.mz_high)}",
                rt,
                "yes" if s.info.is_lock_mass else "no",
            ]
        )
    lines += table(["#", "encoding", "MS level", "scans", "m/z range", "RT (min)", "lock mass"], rows)
    lines += [f"  function {s.info.index} is not readable: {s.problem}" for s in summaries if s.problem is not None]
    return lines


def _retention_lines(summaries: Sequence[FunctionSummary]) -> list[str]:
    span = retention_range(summaries)
    if span is None:
        return ["", "Retention time: no scans"]
    return ["", f"Retention time: {span[0]:.4f} - {span[1]:.4f} min"]


def retention_range(summaries: Sequence[FunctionSummary]) -> tuple[float, float] | None:
    firsts = [s.rt_first for s in summaries if s.rt_first is not None]
    lasts = [s.rt_last for s in summaries if s.rt_last is not None]
    return (min(firsts), max(lasts)) if firsts and lasts else None


def _base_peak_lines(peak: BasePeak | None) -> list[str]:
    if peak is None:
        return ["", "Base peak: no function with scans"]
    where = f"function {peak.function}, scan {peak.scan} (RT {peak.rt:.4f} min)"
    if peak.mz is None or peak.intensity is None:
        return ["", f"Base peak of {where}: the scan is empty"]
    drift = "" if peak.drift_time_ms is None else f", drift time {peak.drift_time_ms:.4f} ms"
    kind = "ions" if peak.ions else "points"
    return [
        "",
        f"Base peak of {where}: m/z {peak.mz:.4f}{drift}, intensity {number(peak.intensity)}",
        f"  {peak.points} {kind}; total intensity {number(peak.total_intensity)}",
    ]


def _channel_lines(channels: Sequence[ChannelSummary]) -> list[str]:
    lines = ["", f"Chromatogram channels ({len(channels)})"]
    if not channels:
        return [*lines, "  (none)"]
    rows = []
    for summary in channels:
        c = summary.channel
        points = "-" if summary.points is None else str(summary.points)
        rows.append([str(c.index), c.name, c.units or "-", f"{c.scale_f:g}", str(c.source_type), points])
    lines += table(["#", "name", "units", "scale", "source", "points"], rows)
    lines += [f"  channel {s.channel.index} is not readable: {s.problem}" for s in channels if s.problem is not None]
    return lines


def _lock_mass_lines(lock: LockMassSummary) -> list[str]:
    def spread(values: Spread | None) -> str:
        if values is None:
            return "-"
        return f"median {values.median:+.2f} ppm, {values.low:+.2f} to {values.high:+.2f} ppm"

    return [
        "",
        f"Lock mass {lock.mz:.4f} (function {lock.function}, within {lock.tolerance_da:g} Da): "
        f"found in {lock.found} of {lock.lock_scans} lock scans",
        f"  before correction: {spread(lock.before)}",
        f"  after correction:  {spread(lock.after)} (each lock scan corrected by the others)",
    ]


def as_json(overview: Overview) -> dict[str, Any]:
    """The overview as JSON-ready values: numbers unrounded, absent values null."""
    span = retention_range(overview.functions)
    peak = overview.base_peak
    return {
        "path": overview.name,
        "header": {**overview.header, "polarity": overview.polarity},
        "functions": [_function_json(s) for s in overview.functions],
        "retention_time_min": None if span is None else {"first": span[0], "last": span[1]},
        "base_peak": None if peak is None else _base_peak_json(peak),
        "base_peak_error": overview.base_peak_error,
        "channels": [_channel_json(s) for s in overview.channels],
    } | ({} if overview.lock_mass is None else {"lock_mass": _lock_mass_json(overview.lock_mass)})


def _lock_mass_json(lock: LockMassSummary) -> dict[str, Any]:
    def spread(values: Spread | None) -> dict[str, float] | None:
        return None if values is None else {"median": values.median, "min": values.low, "max": values.high}

    return {
        "mz": lock.mz,
        "tolerance_da": lock.tolerance_da,
        "function": lock.function,
        "lock_scans": lock.lock_scans,
        "found": lock.found,
        "ppm_error_before": spread(lock.before),
        "ppm_error_after": spread(lock.after),
    }


def _function_json(s: FunctionSummary) -> dict[str, Any]:
    return {
        "index": s.info.index,
        "encoding": s.encoding,
        "ms_level": s.ms_level,
        "scans": s.scans,
        "mz_low": s.info.mz_low,
        "mz_high": s.info.mz_high,
        "rt_first_min": s.rt_first,
        "rt_last_min": s.rt_last,
        "lock_mass": s.info.is_lock_mass,
        "problem": s.problem,
    }


def _base_peak_json(peak: BasePeak) -> dict[str, Any]:
    return {
        "function": peak.function,
        "scan": peak.scan,
        "rt_min": peak.rt,
        "ion_mobility": peak.ions,
        "points": peak.points,
        "mz": peak.mz,
        "intensity": peak.intensity,
        "drift_time_ms": peak.drift_time_ms,
        "total_intensity": peak.total_intensity,
    }


def _channel_json(s: ChannelSummary) -> dict[str, Any]:
    c = s.channel
    return {
        "index": c.index,
        "name": c.name,
        "units": c.units,
        "scale": c.scale_f,
        "source_type": c.source_type,
        "points": s.points,
        "problem": s.problem,
    }
