#!/usr/bin/env python3
"""Print an overview of a Waters MassLynx .raw directory.

Shows the run header, the acquisition functions, the retention-time range, the
base peak (most intense point) of one scan and the chromatogram channels:

    python3 inspect_raw.py path/to/sample.raw
    python3 inspect_raw.py path/to/sample.raw --function 2 --scan 10

Failures of the reader are reported as messages, with exit status 1.
"""

from __future__ import annotations

import argparse
import sys
from collections.abc import Sequence
from dataclasses import dataclass

import tarnvale


@dataclass(frozen=True)
class FunctionSummary:
    """What the inspector shows of one function; `scans` is None when the
    reader could not open the function's files."""

    info: tarnvale.FunctionInfo
    ms_level: int
    encoding: str | None = None
    scans: int | None = None
    rt_first: float | None = None
    rt_last: float | None = None
    problem: str | None = None


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


def print_header(name: str, reader: tarnvale.RawReader) -> None:
    header = reader.header
    print(name)
    print("=" * len(name))
    print("Run header")
    fields = [
        ("Version", header.version),
        ("Acquired name", header.acquired_name),
        ("Acquired date", header.acquired_date),
        ("Acquired time", header.acquired_time),
        ("Instrument", header.instrument),
        ("Operator", header.operator),
        ("Sample description", header.sample_description),
        ("Polarity", reader.polarity),
    ]
    for label, value in fields:
        print(f"  {label:<20}{value if value is not None else '(not recorded)'}")


def print_functions(summaries: Sequence[FunctionSummary]) -> None:
    print()
    print(f"Functions ({len(summaries)})")
    if not summaries:
        print("  (none)")
        return
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
    for line in table(["#", "encoding", "MS level", "scans", "m/z range", "RT (min)", "lock mass"], rows):
        print(line)
    for s in summaries:
        if s.problem is not None:
            print(f"  function {s.info.index} is not readable: {s.problem}")


def print_retention_range(summaries: Sequence[FunctionSummary]) -> None:
    firsts = [s.rt_first for s in summaries if s.rt_first is not None]
    lasts = [s.rt_last for s in summaries if s.rt_last is not None]
    print()
    if firsts and lasts:
        print(f"Retention time: {min(firsts):.4f} - {max(lasts):.4f} min")
    else:
        print("Retention time: no scans")


def print_base_peak(reader: tarnvale.RawReader, function: int, scan: int) -> None:
    """Prints the most intense point of a scan (with its drift time for
    ion-mobility data). Raises RuntimeError or OverflowError when the scan
    cannot be read."""
    spectrum: tarnvale.Spectrum | tarnvale.ImsSpectrum
    if reader.function_encoding(function) == "b":
        spectrum = reader.read_ims_spectrum(function, scan)
    else:
        spectrum = reader.read_spectrum(function, scan)
    rt = reader.retention_time(function, scan)
    where = f"function {function}, scan {scan} (RT {rt:.4f} min)"
    print()
    if not spectrum:
        print(f"Base peak of {where}: the scan is empty")
        return
    intensities = spectrum.intensity
    peak = max(range(len(spectrum)), key=intensities.__getitem__)
    drift = ""
    if isinstance(spectrum, tarnvale.ImsSpectrum):
        drift = f", drift time {spectrum.drift_time_ms[peak]:.4f} ms"
    print(f"Base peak of {where}: m/z {spectrum.mz[peak]:.4f}{drift}, intensity {number(intensities[peak])}")
    kind = "ions" if isinstance(spectrum, tarnvale.ImsSpectrum) else "points"
    print(f"  {len(spectrum)} {kind}; total intensity {number(sum(intensities))}")


def print_channels(reader: tarnvale.RawReader) -> None:
    channels = reader.channels
    print()
    print(f"Chromatogram channels ({len(channels)})")
    if not channels:
        print("  (none)")
        return
    rows = []
    problems = []
    for channel in channels:
        try:
            points = str(len(reader.read_chrom(channel.index)))
        except RuntimeError as error:
            points = "-"
            problems.append(f"  channel {channel.index} is not readable: {error}")
        units = channel.units or "-"
        rows.append([str(channel.index), channel.name, units, f"{channel.scale_f:g}", str(channel.source_type), points])
    for line in table(["#", "name", "units", "scale", "source", "points"], rows):
        print(line)
    for problem in problems:
        print(problem)


def default_function(summaries: Sequence[FunctionSummary]) -> int | None:
    """The first function that has scans."""
    return next((s.info.index for s in summaries if s.scans), None)


def parse_arguments(argv: Sequence[str] | None) -> argparse.Namespace:
    parser = argparse.ArgumentParser(description="Print an overview of a Waters MassLynx .raw directory.")
    parser.add_argument("raw_dir", help="path of the .raw directory")
    parser.add_argument(
        "--function", type=int, metavar="F", help="function for the base peak (1-based; default: first with scans)"
    )
    parser.add_argument("--scan", type=int, default=0, metavar="N", help="scan for the base peak (0-based; default 0)")
    args = parser.parse_args(argv)
    if args.function is not None and args.function < 1:
        parser.error("--function must be 1 or more")
    if args.scan < 0:
        parser.error("--scan must be 0 or more")
    return args


def main(argv: Sequence[str] | None = None) -> int:
    args = parse_arguments(argv)
    try:
        reader = tarnvale.RawReader(args.raw_dir)
    except RuntimeError as error:
        print(f"error: {error}", file=sys.stderr)
        return 1
    summaries = [summarize(reader, info) for info in reader.functions]
    print_header(args.raw_dir, reader)
    print_functions(summaries)
    print_retention_range(summaries)
    status = 0
    function = args.function if args.function is not None else default_function(summaries)
    if function is None:
        print()
        print("Base peak: no function with scans")
    else:
        try:
            print_base_peak(reader, function, args.scan)
        except (RuntimeError, OverflowError) as error:
            sys.stdout.flush()
            print(f"error: base peak: {error}", file=sys.stderr)
            status = 1
    print_channels(reader)
    return status


if __name__ == "__main__":
    sys.exit(main())
