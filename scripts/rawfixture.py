#!/usr/bin/env python3
"""Writes synthetic Waters MassLynx ``.raw`` directories from a short description.

The description is a tree of dataclasses: a :class:`RawDir` holds the run header,
the instrument parameters, the acquisition functions (each with its scans, its
scan statistics and the way its files are named) and the chromatogram channels.
:meth:`RawDir.write` turns it into files.  Every binary record layout is built by
exactly one function below, so a layout is described in one place only.

Used by the Python test suite (with ``scripts/`` on ``sys.path``) and as a
command-line tool::

    python3 scripts/rawfixture.py demo OUTDIR

which writes ``OUTDIR/sample.raw`` (a SYNAPT acquisition with functions in
encodings A, B and D, statistics and two chromatogram channels) and
``OUTDIR/xevo.raw`` (a non-SYNAPT acquisition with an encoding C function) and
``OUTDIR/lcms.raw`` (a 4.5-minute SYNAPT LC-IMS run with eluting compounds, the
picture of ``make demo``).
"""

from __future__ import annotations

import argparse
import math
import random
import shutil
import struct
import sys
from collections.abc import Sequence
from dataclasses import dataclass, field
from pathlib import Path

# Sizes fixed by the file formats.
FUNCTNS_RECORD_SIZE = 416
INDEX_A_RECORD_SIZE = 22
INDEX_B_RECORD_SIZE = 30
INDEX_A_MARKER = 0x18
STS_PREAMBLE_SIZE = 32
STS_DESCRIPTOR_SIZE = 48
STS_NAME_SIZE = 42
CHROMS_PREAMBLE_SIZE = 128
CHROMS_RECORD_SIZE = 85
CHROMS_LABEL_SIZE = 81
CHRO_HEADER_SIZE = 128

# Statistics channel value types, as coded in a descriptor.
STS_U8, STS_I16, STS_U32, STS_F32 = 0, 1, 2, 3
_STS_FORMATS = {STS_U8: "<B", STS_I16: "<h", STS_U32: "<I", STS_F32: "<f"}

# Time-of-flight constants used by the reader: proton mass (kg), twice the
# elementary charge (C).
PROTON_MASS_KG = 1.6726219e-27
TWO_E_C = 3.2043532e-19


# ---------------------------------------------------------------------------
# Numbers
# ---------------------------------------------------------------------------


def f32(value: float) -> float:
    """The value rounded to the nearest 32-bit float, widened back."""
    result: float = struct.unpack("<f", struct.pack("<f", value))[0]
    return result


def number_text(value: float | int | str) -> str:
    """A number as written in the text files (shortest round-trip form)."""
    if isinstance(value, str):
        return value
    return repr(value) if isinstance(value, float) else str(value)


def tof_k_us(lteff_mm: float, veff_v: float) -> float:
    """Flight time (µs) of an ion of m/z 1, in the reader's evaluation order."""
    length_m = lteff_mm * 0.001
    return math.sqrt(PROTON_MASS_KG / (veff_v * TWO_E_C)) * length_m * 1000000.0


# ---------------------------------------------------------------------------
# m/z encoders
# ---------------------------------------------------------------------------


def encode_a(raw_mz: float) -> tuple[int, int]:
    """Encoding A word of a raw m/z: (exponent byte, 24-bit mantissa).

    The reader computes raw = mantissa * 2**(e - 24) with the mantissa's top bit
    set, so e is the binary exponent of the value and 0 <= e <= 15.
    """
    mantissa, exponent = _split_binary(raw_mz, 24)
    if not 0 <= exponent <= 15:
        raise ValueError(f"m/z {raw_mz} is outside the range of encoding A")
    return exponent << 4, mantissa


def encode_d(raw_mz: float) -> int:
    """Encoding D position word of a raw m/z: 5-bit exponent, 27-bit mantissa."""
    mantissa, exponent = _split_binary(raw_mz, 27)
    if not 0 <= exponent <= 31:
        raise ValueError(f"m/z {raw_mz} is outside the range of encoding D")
    return exponent << 27 | mantissa


def _split_binary(value: float, bits: int) -> tuple[int, int]:
    """Mantissa of `bits` bits with the top bit set, and the exponent e with
    value ~= mantissa * 2**(e - bits)."""
    if not value > 0 or math.isinf(value):
        raise ValueError(f"cannot encode m/z {value}")
    fraction, exponent = math.frexp(value)  # fraction in [0.5, 1)
    mantissa = round(fraction * (1 << bits))
    if mantissa == 1 << bits:  # rounding carried into the next binade
        mantissa >>= 1
        exponent += 1
    return mantissa, exponent


def raw_for_linear_cal(mz: float, coefficients: Sequence[float]) -> float:
    """The raw m/z whose calibrated value is `mz` under a linear T1 calibration
    of encodings A and D (c0 + c1 * sqrt(raw) = sqrt(m/z))."""
    c0, c1 = coefficients
    return ((math.sqrt(mz) - c0) / c1) ** 2


def position_for_mz(mz: float, mz_low: float, mz_high: float, first: int, last: int) -> float:
    """Time-bin position (encodings B and C) of an uncalibrated m/z, given the
    positions of a scan's first and last records, which the reader maps onto
    the function's m/z bounds."""
    low, high = math.sqrt(f32(mz_low)), math.sqrt(f32(mz_high))
    return first + (math.sqrt(mz) - low) / (high - low) * (last - first)


# ---------------------------------------------------------------------------
# Record layouts: one function per layout
# ---------------------------------------------------------------------------


def record_a(intensity: int, exponent_byte: int, mantissa: int) -> bytes:
    """Encoding A data record, 6 bytes: u16 intensity, exponent byte, u24 mantissa."""
    return struct.pack("<HB", intensity, exponent_byte) + mantissa.to_bytes(3, "little")


def record_b(intensity: int, drift_word: int, position: int, unused: int = 0) -> bytes:
    """Encoding B data record, 8 bytes: unused u16, intensity, drift word, position."""
    return struct.pack("<HHHH", unused, intensity, drift_word, position)


def record_c(intensity: int, position: int, fraction: int, unused: int = 0) -> bytes:
    """Encoding C data record, 8 bytes: unused u16, intensity, fraction, position."""
    return struct.pack("<HHHH", unused, intensity, fraction, position)


def record_d(intensity_word: int, position_word: int) -> bytes:
    """Encoding D data record, 8 bytes: u32 16.16 intensity, u32 position word."""
    return struct.pack("<II", intensity_word, position_word)


def index_record_a(offset: int, n_points: int, rt_min: float, aux_word: int, marker: int) -> bytes:
    """Variant A scan index record, 22 bytes."""
    count_word = (n_points & 0xFFFFFF) | (marker << 24)
    return struct.pack("<II4xfH4x", offset, count_word, rt_min, aux_word)


def index_record_b(offset: int, rt_min: float) -> bytes:
    """Variant B scan index record, 30 bytes."""
    return struct.pack("<12xf6xI4x", rt_min, offset)


def functns_record(info: FunctionRecord) -> bytes:
    """_FUNCTNS.INF record, 416 bytes; bytes that are not read hold `info.fill`."""
    record = bytearray([info.fill]) * FUNCTNS_RECORD_SIZE
    struct.pack_into("<BBf", record, 0, info.function_type, info.scan_subtype, info.cycle_time_s)
    struct.pack_into("<H", record, 16, info.tof_depth)
    struct.pack_into("<ff", record, 28, info.interscan_delay_s, info.scan_time_s)
    struct.pack_into("<f", record, 160, info.mz_low)
    struct.pack_into("<f", record, 288, info.mz_high)
    return bytes(record)


def sts_preamble(data_offset: int, record_size: int, n_desc: int) -> bytes:
    """_FUNCnnn.STS preamble, 32 bytes."""
    return struct.pack("<HHHH24x", data_offset, 0, record_size, n_desc)


def sts_descriptor(channel: StsChannel) -> bytes:
    """_FUNCnnn.STS channel descriptor, 48 bytes; the name is NUL-padded."""
    name = channel.name.encode() if isinstance(channel.name, str) else channel.name
    if len(name) > STS_NAME_SIZE:
        raise ValueError(f"statistics channel name longer than {STS_NAME_SIZE} bytes: {name!r}")
    return struct.pack("<HHH", channel.id_word, channel.value_type, channel.offset) + name.ljust(STS_NAME_SIZE, b"\0")


def sts_scan_record(channels: Sequence[StsChannel], values: Sequence[float | int], size: int) -> bytes:
    """One scan record of _FUNCnnn.STS: each channel's value at its offset."""
    record = bytearray(size)
    for channel, value in zip(channels, values, strict=True):
        struct.pack_into(_STS_FORMATS[channel.value_type], record, channel.offset, value)
    return bytes(record)


def chroms_preamble(n_meta: int, record_size: int = CHROMS_RECORD_SIZE) -> bytes:
    """_CHROMS.INF preamble, 128 bytes."""
    return struct.pack("<4xHH120x", record_size, n_meta)


def chroms_channel_record(source_type: int, label: bytes) -> bytes:
    """_CHROMS.INF channel record, 85 bytes: u32 source type, 81-byte label."""
    if len(label) > CHROMS_LABEL_SIZE:
        raise ValueError(f"chromatogram label longer than {CHROMS_LABEL_SIZE} bytes: {label!r}")
    return struct.pack("<I", source_type) + label.ljust(CHROMS_LABEL_SIZE, b"\0")


def chro_sample(rt_min: float, value: float) -> bytes:
    """_CHROnnn.DAT sample, 8 bytes: f32 retention time, f32 value."""
    return struct.pack("<ff", rt_min, value)


def cc_label(name: str, scale: float | str, units: str, hidden: bool = True) -> str:
    """A channel label carrying a $CC$ string ("$CC$", scale factor, three
    unused items, units). With `hidden` the $CC$ string follows a NUL, so it
    is found but does not become part of the channel name."""
    return f"{name}{chr(0) if hidden else ''}$CC$,{number_text(scale)},0,0,0,{units}"


# ---------------------------------------------------------------------------
# Description
# ---------------------------------------------------------------------------


@dataclass
class CalLine:
    """A "Cal Function N" line of _HEADER.TXT."""

    function: int | str
    coefficients: list[float | str] = field(default_factory=list)
    cal_type: str = "T1"

    def text(self) -> str:
        items = [number_text(c) for c in self.coefficients] + [self.cal_type]
        return f"$$ Cal Function {self.function}: {','.join(items)}"


@dataclass
class RunHeader:
    """_HEADER.TXT: the seven text fields (None = line absent) and calibrations."""

    version: str | None = "01.00"
    acquired_name: str | None = None
    acquired_date: str | None = "14-Jan-2021"
    acquired_time: str | None = "16:20:52"
    instrument: str | None = "QTOF"
    user_name: str | None = None
    sample_description: str | None = None
    cal: list[CalLine] = field(default_factory=list)
    extra_lines: list[str] = field(default_factory=list)
    line_end: str = "\r\n"

    def render(self) -> bytes:
        keys = (
            ("Version", self.version),
            ("Acquired Name", self.acquired_name),
            ("Acquired Date", self.acquired_date),
            ("Acquired Time", self.acquired_time),
            ("Instrument", self.instrument),
            ("User Name", self.user_name),
            ("Sample Description", self.sample_description),
        )
        lines = [f"$$ {key}: {value}" for key, value in keys if value is not None]
        lines += [cal.text() for cal in self.cal]
        lines += self.extra_lines
        return "".join(line + self.line_end for line in lines).encode()


@dataclass
class ExternSection:
    """A "Function Parameters - Function N - TITLE" section of _extern.inf."""

    number: int | str
    title: str = "TOF MS FUNCTION 1"
    start_mass: float | None = None
    end_mass: float | None = None
    set_mass: float | None = None
    adc_pusher_frequency: float | None = None
    extra_lines: list[str] = field(default_factory=list)

    def lines(self) -> list[str]:
        lines = [f"Function Parameters - Function {self.number} - {self.title}"]
        for key, value in (
            ("Start Mass", self.start_mass),
            ("End Mass", self.end_mass),
            ("Set Mass", self.set_mass),
            ("ADC Pusher Frequency (MHz)", self.adc_pusher_frequency),
        ):
            if value is not None:
                lines.append(f"{key}\t\t\t{number_text(value)}")
        return lines + self.extra_lines


@dataclass
class Extern:
    """_extern.inf: run parameters (None = line absent) and function sections."""

    lteff: float | str | None = 1800.0
    veff: float | str | None = 7200.0
    pusher_interval: float | str | None = 64.0
    polarity: str | None = "ES+"
    sections: list[ExternSection] = field(default_factory=list)
    extra_lines: list[str] = field(default_factory=list)
    line_end: str = "\r\n"

    def render(self) -> bytes:
        lines = ["Instrument Configuration:"]
        for key, value in (
            ("Lteff", self.lteff),
            ("Veff", self.veff),
            ("PusherInterval (us)", self.pusher_interval),
            ("Polarity", self.polarity),
        ):
            if value is not None:
                lines.append(f"{key}\t\t\t{number_text(value)}")
        lines += self.extra_lines
        for section in self.sections:
            lines += section.lines()
        return "".join(line + self.line_end for line in lines).encode()


@dataclass
class FunctionRecord:
    """The _FUNCTNS.INF record of a function."""

    function_type: int = 0x12
    scan_subtype: int = 0x01
    cycle_time_s: float = 1.0
    interscan_delay_s: float = 0.015
    scan_time_s: float = 0.985
    tof_depth: int = 4096
    mz_low: float = 50.0
    mz_high: float = 1200.0
    fill: int = 0


@dataclass
class Scan:
    """One scan: its retention time and its data records (or raw bytes)."""

    rt_min: float
    records: list[bytes] = field(default_factory=list)
    data: bytes | None = None  # raw scan bytes, used instead of `records`
    n_points: int | None = None  # Variant A count; default: bytes / record width
    offset: int | None = None  # default: where the scan lands in the data file
    aux_word: int = 0
    marker: int = INDEX_A_MARKER

    def payload(self) -> bytes:
        return self.data if self.data is not None else b"".join(self.records)


@dataclass
class StsChannel:
    """A statistics channel: name, value type (STS_U8 ... STS_F32), offset."""

    name: str | bytes
    value_type: int = STS_F32
    offset: int = 0
    id_word: int = 0


@dataclass
class Sts:
    """_FUNCnnn.STS: descriptors and one row of values per scan."""

    channels: list[StsChannel]
    values: list[list[float | int]]  # values[scan][channel]
    record_size: int = 16
    data_offset: int | None = None  # default: 32 + 48 * len(channels)
    trailing: bytes = b""

    def render(self) -> bytes:
        data_offset = self.data_offset
        if data_offset is None:
            data_offset = STS_PREAMBLE_SIZE + STS_DESCRIPTOR_SIZE * len(self.channels)
        parts = [sts_preamble(data_offset, self.record_size, len(self.channels))]
        parts += [sts_descriptor(channel) for channel in self.channels]
        parts += [sts_scan_record(self.channels, row, self.record_size) for row in self.values]
        parts.append(self.trailing)
        return b"".join(parts)


def collision_energy_sts(energies: Sequence[float]) -> Sts:
    """Statistics with an f32 "Collision Energy" channel and a u32 TIC-like channel."""
    channels = [StsChannel("Total Ion Current", STS_U32, 0, 1), StsChannel("Collision Energy", STS_F32, 4, 2)]
    return Sts(channels, [[1000 * (i + 1), energy] for i, energy in enumerate(energies)], record_size=8)


@dataclass
class Function:
    """An acquisition function: its _FUNCTNS.INF record and _FUNCnnn files.

    `encoding` chooses the index variant (A and D: 22-byte, B and C: 30-byte)
    and the data record width (A: 6 bytes, others 8) unless overridden.
    """

    encoding: str = "A"
    scans: list[Scan] = field(default_factory=list)
    info: FunctionRecord = field(default_factory=FunctionRecord)
    sts: Sts | bytes | None = None
    index_variant: str | None = None
    record_width: int | None = None
    prefix: str = ""
    lower_case: bool = False
    write_index: bool = True
    write_data: bool = True
    index_bytes: bytes | None = None  # replaces the generated index file
    data_bytes: bytes | None = None  # replaces the generated data file

    def variant(self) -> str:
        return self.index_variant or ("A" if self.encoding in ("A", "D") else "B")

    def width(self) -> int:
        return self.record_width or (6 if self.encoding == "A" else 8)

    def file_name(self, number: int, extension: str) -> str:
        name = f"{self.prefix}_FUNC{number:03d}.{extension}"
        return name.lower() if self.lower_case else name

    def render_data(self) -> bytes:
        if self.data_bytes is not None:
            return self.data_bytes
        return b"".join(scan.payload() for scan in self.scans)

    def render_index(self) -> bytes:
        if self.index_bytes is not None:
            return self.index_bytes
        records = []
        position = 0
        for scan in self.scans:
            payload = scan.payload()
            offset = position if scan.offset is None else scan.offset
            position += len(payload)
            if self.variant() == "A":
                n_points = scan.n_points if scan.n_points is not None else len(payload) // self.width()
                records.append(index_record_a(offset, n_points, scan.rt_min, scan.aux_word, scan.marker))
            else:
                records.append(index_record_b(offset, scan.rt_min))
        return b"".join(records)


@dataclass
class ChromTrace:
    """A chromatogram channel: its _CHROMS.INF record and its _CHROnnn.DAT."""

    label: str | bytes
    source_type: int = 4
    points: list[tuple[float, float]] | None = field(default_factory=list)  # None: no data file
    data: bytes | None = None  # replaces the generated data file
    file_name: str | None = None  # default: _CHRO{index + 3:03d}.DAT

    def label_bytes(self) -> bytes:
        return self.label.encode("cp1252") if isinstance(self.label, str) else self.label

    def render_data(self) -> bytes:
        if self.data is not None:
            return self.data
        return bytes(CHRO_HEADER_SIZE) + b"".join(chro_sample(rt, value) for rt, value in self.points or [])


def chro_file_name(channel_index: int) -> str:
    """Data file of a channel: numbered from 3 for channel 0."""
    return f"_CHRO{channel_index + 3:03d}.DAT"


@dataclass
class Chroms:
    """_CHROMS.INF (meta records, then channel records) and the channel files."""

    channels: list[ChromTrace] = field(default_factory=list)
    n_meta: int = 2
    record_size: int = CHROMS_RECORD_SIZE
    inf_bytes: bytes | None = None  # replaces the generated _CHROMS.INF
    file_name: str = "_CHROMS.INF"

    def render_inf(self) -> bytes:
        if self.inf_bytes is not None:
            return self.inf_bytes
        meta = [chroms_channel_record(0, f"meta {i}".encode()) for i in range(self.n_meta)]
        channels = [chroms_channel_record(c.source_type, c.label_bytes()) for c in self.channels]
        return chroms_preamble(self.n_meta, self.record_size) + b"".join(meta + channels)


@dataclass
class RawDir:
    """A whole .raw directory.

    `names` renames or (with None) omits the fixed files, keyed by their
    canonical names "_HEADER.TXT", "_extern.inf" and "_FUNCTNS.INF";
    `extra_files` adds arbitrary files (name -> bytes).
    """

    header: RunHeader = field(default_factory=RunHeader)
    extern: Extern = field(default_factory=Extern)
    functions: list[Function] = field(default_factory=list)
    chroms: Chroms | None = None
    names: dict[str, str | None] = field(default_factory=dict)
    functns_bytes: bytes | None = None  # replaces the generated _FUNCTNS.INF
    extra_files: dict[str, bytes] = field(default_factory=dict)

    def files(self) -> dict[str, bytes]:
        """Every file of the directory, name -> content."""
        files: dict[str, bytes] = {}

        def put(canonical: str, content: bytes) -> None:
            name = self.names.get(canonical, canonical)
            if name is not None:
                files[name] = content

        put("_HEADER.TXT", self.header.render())
        put("_extern.inf", self.extern.render())
        functns = self.functns_bytes
        if functns is None:
            functns = b"".join(functns_record(f.info) for f in self.functions)
        put("_FUNCTNS.INF", functns)
        for number, function in enumerate(self.functions, start=1):
            if function.write_index:
                files[function.file_name(number, "IDX")] = function.render_index()
            if function.write_data:
                files[function.file_name(number, "DAT")] = function.render_data()
            if function.sts is not None:
                sts = function.sts if isinstance(function.sts, bytes) else function.sts.render()
                files[function.file_name(number, "STS")] = sts
        if self.chroms is not None:
            files[self.chroms.file_name] = self.chroms.render_inf()
            for index, channel in enumerate(self.chroms.channels):
                if channel.points is not None or channel.data is not None:
                    files[channel.file_name or chro_file_name(index)] = channel.render_data()
        files.update(self.extra_files)
        return files

    def write(self, path: Path | str, replace: bool = False) -> Path:
        """Creates the directory `path` with every file; returns the path."""
        target = Path(path)
        if replace and target.exists():
            shutil.rmtree(target)
        target.mkdir(parents=True)
        for name, content in self.files().items():
            (target / name).write_bytes(content)
        return target


# ---------------------------------------------------------------------------
# Scan builders
# ---------------------------------------------------------------------------


def scan_a(rt_min: float, peaks: Sequence[tuple[float, int]]) -> Scan:
    """Encoding A scan from (raw m/z, intensity) pairs."""
    return Scan(rt_min, [record_a(intensity, *encode_a(mz)) for mz, intensity in peaks])


def scan_d(rt_min: float, peaks: Sequence[tuple[float, float]]) -> Scan:
    """Encoding D scan from (raw m/z, intensity) pairs; intensities in 16.16."""
    return Scan(rt_min, [record_d(round(intensity * 65536), encode_d(mz)) for mz, intensity in peaks])


def scan_b(rt_min: float, ions: Sequence[tuple[int, int, int]], first: int, last: int) -> Scan:
    """Encoding B scan from (position, drift word, intensity) ions, framed by two
    zero-intensity anchor records at positions `first` and `last`."""
    body = [record_b(intensity, drift, position) for position, drift, intensity in ions]
    return Scan(rt_min, [record_b(0, 0, first), *body, record_b(0, 0, last)])


def scan_c(rt_min: float, ions: Sequence[tuple[float, int]], first: int, last: int) -> Scan:
    """Encoding C scan from (position with fraction, intensity) ions, framed by
    zero-intensity anchor records at `first` and `last`."""
    body = []
    for position, intensity in ions:
        whole = math.floor(position)
        fraction = round((position - whole) * 65536)
        if fraction == 65536:
            whole, fraction = whole + 1, 0
        body.append(record_c(intensity, whole, fraction))
    return Scan(rt_min, [record_c(0, first, 0), *body, record_c(0, last, 0)])


# ---------------------------------------------------------------------------
# Profile peaks and a lock-mass drift, with their truth
# ---------------------------------------------------------------------------


@dataclass(frozen=True)
class GaussianPeak:
    """A peak of the sampled signal: its centre and width (sigma) in time bins and its
    apex in counts; a saturated detector reads `flat_at` counts at most (a flat top)."""

    position: float
    sigma: float
    height: float
    flat_at: float | None = None


def profile_counts(peaks: Sequence[GaussianPeak], rng: random.Random, floor: int = 4, reach: float = 5.0) -> dict[int, int]:
    """Counts per time bin: the peaks, rounded, on a floor of 0 to `floor` counts, over
    the bins within `reach` sigma of a peak (elsewhere nothing was recorded); a bin
    under a saturated top reads its ceiling exactly. Bins of 0 counts are left out."""
    signal: dict[int, float] = {}
    ceiling: dict[int, float] = {}
    for peak in peaks:
        for position in range(math.floor(peak.position - reach * peak.sigma), math.ceil(peak.position + reach * peak.sigma) + 1):
            z = (position - peak.position) / peak.sigma
            signal[position] = signal.get(position, 0.0) + peak.height * math.exp(-0.5 * z * z)
            if peak.flat_at is not None and abs(z) < 3:
                ceiling[position] = min(ceiling.get(position, math.inf), round(peak.flat_at))
    counts = {}
    for position in sorted(signal):
        count = min(round(signal[position]) + rng.randint(0, floor), ceiling.get(position, math.inf), 65535)
        if count > 0 and 0 <= position <= 65535:
            counts[position] = int(count)
    return counts


def profile_scan_b(rt_min: float, spectra: dict[int, dict[int, int]], first: int, last: int) -> Scan:
    """Encoding B scan of profile spectra, one per drift word (drift word -> bin ->
    counts), as the instrument writes them: drift bin by drift bin, each along the
    time-bin axis, framed by zero-intensity anchors at `first` and `last`."""
    records = [record_b(count, drift, position) for drift in sorted(spectra) for position, count in sorted(spectra[drift].items())]
    return Scan(rt_min, [record_b(0, 0, first), *records, record_b(0, 0, last)])


def profile_scan_c(rt_min: float, counts: dict[int, int], first: int, last: int) -> Scan:
    """Encoding C scan of one profile spectrum on whole bins (fraction 0)."""
    return Scan(rt_min, [record_c(0, first, 0), *(record_c(c, p, 0) for p, c in sorted(counts.items())), record_c(0, last, 0)])


@dataclass(frozen=True)
class LockMassDrift:
    """A planted m/z drift, as a flight tube warming up gives it: `start_ppm` at the
    start, `end_ppm` after `minutes`, along a smooth S-shaped curve."""

    start_ppm: float = -20.0
    end_ppm: float = 20.0
    minutes: float = 10.0

    def ppm(self, rt_min: float) -> float:
        share = min(max(rt_min / self.minutes, 0.0), 1.0)
        return self.start_ppm + (self.end_ppm - self.start_ppm) * (1 - math.cos(math.pi * share)) / 2

    def observed(self, mz: float, rt_min: float) -> float:
        """Where the instrument records an ion of m/z `mz` at `rt_min`."""
        return mz * (1 + self.ppm(rt_min) * 1e-6)


@dataclass(frozen=True)
class LockScanTruth:
    """One lock scan as written: its time, and the drift its reference peak shows
    (planted drift plus jitter), None when the scan holds no reference peak."""

    rt_min: float
    ppm: float | None


def lock_mass_scans(
    drift: LockMassDrift,
    reference: float,
    rng: random.Random,
    every_s: tuple[float, float] = (10.0, 30.0),
    jitter_ppm: float = 0.3,
    missing: float = 0.15,
    others: Sequence[tuple[float, float]] = ((278.1141, 900.0), (557.2799, 1800.0)),
) -> tuple[list[Scan], list[LockScanTruth]]:
    """Encoding D lock scans every `every_s` seconds over the drift's minutes: the
    reference at the drifted m/z with up to `jitter_ppm` of jitter, beside other ions
    (drifted too); a share `missing` of the scans lack the reference peak."""
    scans, truth = [], []
    rt = rng.uniform(*every_s) / 60
    while rt < drift.minutes:
        peaks = [(drift.observed(mz, rt), intensity) for mz, intensity in others]
        ppm = None
        if rng.random() >= missing:
            ppm = drift.ppm(rt) + rng.uniform(-jitter_ppm, jitter_ppm)
            peaks.append((reference * (1 + ppm * 1e-6), 6000.0 * rng.uniform(0.9, 1.1)))
        scans.append(scan_d(rt, sorted(peaks)))
        truth.append(LockScanTruth(rt, ppm))
        rt += rng.uniform(*every_s) / 60
    return scans, truth


# ---------------------------------------------------------------------------
# Demo
# ---------------------------------------------------------------------------

_DEMO_CAL = [0.0012, 0.99986]
_DEMO_PEAKS = [(195.0877, 800), (524.2649, 2500), (556.2766, 1200), (785.8426, 3100), (1048.5, 400)]


def demo_sample() -> RawDir:
    """SYNAPT acquisition: MS survey (A), IMS MS/MS (B), lock mass (D)."""
    survey = Function(
        "A",
        [
            scan_a(0.0167 * (i + 1), [(raw_for_linear_cal(mz, _DEMO_CAL), intensity * (i + 1)) for mz, intensity in _DEMO_PEAKS])
            for i in range(3)
        ],
        FunctionRecord(scan_subtype=0x01, mz_low=50.0, mz_high=1200.0),
        sts=collision_energy_sts([6.0, 6.0, 6.0]),
    )
    first, last = 100, 4100
    low, high = 50.0, 2000.0
    ims_scans = []
    for i in range(3):
        ions = []
        for mz, intensity in _DEMO_PEAKS[:4]:
            position = round(position_for_mz(mz, low, high, first, last))
            for drift_bin, share in ((9000, 1), (9800, 3), (10600, 1)):
                ions.append((position, drift_bin + 400 * i, intensity * share // 5))
        ims_scans.append(scan_b(0.0167 * (i + 1) + 0.005, ions, first, last))
    ims = Function(
        "B",
        ims_scans,
        FunctionRecord(scan_subtype=0x02, scan_time_s=0.5, mz_low=low, mz_high=high),
        sts=collision_energy_sts([20.0, 25.0, 30.0]),
    )
    lock_mass = Function(
        "D",
        [scan_d(0.25 * (i + 1), [(556.2766, 5000.5 + i), (278.1141, 320.25), (120.0813, 60.0)]) for i in range(3)],
        FunctionRecord(scan_subtype=0x81, mz_low=100.0, mz_high=1000.0),
    )
    header = RunHeader(
        acquired_name="sample",
        acquired_date="14-Jan-2021",
        acquired_time="16:20:52",
        instrument="SYNAPT G2-Si",
        user_name="demo",
        sample_description="synthetic leucine enkephalin run",
        cal=[
            CalLine(1, list(_DEMO_CAL), "T1"),
            CalLine(2, [0.0, 1.0], "T1"),
            CalLine(3, [], "T0"),
        ],
    )
    extern = Extern(
        sections=[
            ExternSection(1, "TOF MS FUNCTION", start_mass=50.0, end_mass=1200.0),
            ExternSection(2, "TOF MSMS FUNCTION", start_mass=50.0, end_mass=2000.0, set_mass=556.28),
            ExternSection(3, "REFERENCE FUNCTION", start_mass=100.0, end_mass=1000.0),
        ]
    )
    pressure = ChromTrace(cc_label("Pump Pressure", 0.1, "bar"), 4, [(0.05 * i, 310.0 + 2.5 * i) for i in range(8)])
    temperature = ChromTrace(cc_label("Column Temperature", 1.0, "°C"), 1, [(0.1 * i, 45.0) for i in range(4)])
    return RawDir(header, extern, [survey, ims, lock_mass], Chroms([pressure, temperature]))


def demo_xevo() -> RawDir:
    """Non-SYNAPT acquisition with a 30-byte index: encoding C."""
    first, last = 0, 20000
    low, high = 50.0, 1200.0
    scans = [
        scan_c(
            0.02 * (i + 1),
            [(position_for_mz(mz, low, high, first, last), intensity + 100 * i) for mz, intensity in _DEMO_PEAKS],
            first,
            last,
        )
        for i in range(4)
    ]
    header = RunHeader(instrument="XEVO-G2XSQTOF#NotSet", acquired_name="xevo", cal=[CalLine(1, [0.0, 1.0], "T1")])
    extern = Extern(polarity="ES-", sections=[ExternSection(1, "TOF MS FUNCTION")])
    return RawDir(header, extern, [Function("C", scans, FunctionRecord(mz_low=low, mz_high=high))])


# Compounds of the LC demo: (m/z, charge, apex RT in min, peak width sigma in
# min, apex intensity, drift time in ms, fragment m/z values).
_LC_COMPOUNDS = [
    (420.7321, 2, 1.10, 0.045, 9000, 3.2, [175.1190, 288.2030, 401.2871]),
    (524.2648, 1, 1.65, 0.050, 14000, 5.6, [221.1026, 278.1141, 397.2088]),
    (372.7050, 2, 2.05, 0.040, 7000, 2.9, [147.1128, 244.1656]),
    (653.3581, 2, 2.55, 0.050, 9000, 5.0, [262.1397, 375.2238, 504.2664]),
    (785.8426, 2, 2.60, 0.055, 20000, 6.1, [333.1881, 480.2565, 684.3464, 813.3890]),
    (1048.5000, 1, 2.66, 0.060, 8000, 8.4, [358.1822, 512.2560, 749.3712]),
    (503.9318, 3, 3.40, 0.050, 6000, 2.4, [199.1077, 347.2040, 520.3092]),
    (1176.5830, 1, 3.65, 0.060, 7000, 9.3, [441.2301, 644.3097, 901.4466]),
]
_LC_MINUTES, _LC_CYCLE_S = 4.5, 1.0
_LC_DRIFT_BIN_MS = 0.069  # 200 mobility bins span 13.8 ms
_LC_PEAK_SIGMA_BINS = 1.3  # profile peaks along the time-bin axis
_LC_DRIFT = LockMassDrift(-20.0, 20.0, _LC_MINUTES)  # the flight tube warming over the run
LEU_ENK = 556.276575  # leucine enkephalin [M+H]+, from C28H37N5O7 and the proton's mass


def _lc_ims_scan(rt_min: float, ions: list[tuple[float, float, float]], rng: random.Random) -> Scan:
    """Encoding B scan (scan time 0.5 s, m/z 50-2000) of (m/z, drift ms, intensity)
    ions, each a Gaussian profile peak along the time-bin axis in each of the
    neighbouring mobility bins it spreads over, plus low chemical noise."""
    first, last, scan_time_ms = 100, 60000, 500.0
    peaks: dict[int, list[GaussianPeak]] = {}
    for mz, drift_ms, intensity in ions:
        position = position_for_mz(mz, 50.0, 2000.0, first, last)
        centre = drift_ms / _LC_DRIFT_BIN_MS
        for offset in range(-4, 5):
            share = math.exp(-0.5 * (offset / 1.6) ** 2) / 4.0
            apex = intensity * share / (_LC_PEAK_SIGMA_BINS * math.sqrt(2 * math.pi))
            if apex >= 1.0:
                peaks.setdefault(round(centre) + offset, []).append(GaussianPeak(position, _LC_PEAK_SIGMA_BINS, apex))
    spectra = {mobility_bin: profile_counts(group, rng, floor=2) for mobility_bin, group in peaks.items()}
    for _ in range(40):
        mobility_bin = rng.randrange(8, 200)
        position = round(position_for_mz(rng.uniform(60.0, 1900.0), 50.0, 2000.0, first, last))
        bins = spectra.setdefault(mobility_bin, {})
        bins[position] = min(bins.get(position, 0) + rng.randint(1, 6), 65535)
    words = {mobility_bin: round(mobility_bin * _LC_DRIFT_BIN_MS / scan_time_ms * 65536) for mobility_bin in spectra}
    return profile_scan_b(rt_min, {words[b]: counts for b, counts in spectra.items() if counts}, first, last)


def _lc_ions(rt_min: float, fragments: bool, rng: random.Random) -> list[tuple[float, float, float]]:
    """Ions of the eluting compounds at `rt_min`, at the m/z the drifting instrument
    records: precursors with two isotopes (low energy) or their fragments at the
    precursor's drift time (high energy)."""
    ions = []
    for mz, charge, apex, sigma, height, drift_ms, products in _LC_COMPOUNDS:
        level = height * math.exp(-0.5 * ((rt_min - apex) / sigma) ** 2) * rng.uniform(0.9, 1.1)
        if level < 1.0:
            continue
        if fragments:
            ions += [(product, drift_ms, level * 0.4 * rng.uniform(0.5, 1.0)) for product in products]
        else:
            ions += [(mz + k * 1.00335 / charge, drift_ms, level * share) for k, share in enumerate((1.0, 0.55, 0.2))]
    return [(_LC_DRIFT.observed(mz, rt_min), drift_ms, level) for mz, drift_ms, level in ions]


def demo_lc() -> RawDir:
    """SYNAPT LC-IMS-MS^E run of 4.5 minutes: low-energy (MS1) and high-energy
    (MS2) ion-mobility functions in encoding B, profile data, eight compounds
    eluting as Gaussian peaks, a lock mass function (D, leucine enkephalin) every
    20 s, pump pressure and column temperature channels. Every m/z drifts from
    -20 to +20 ppm over the run (`_LC_DRIFT`), which lock-mass correction undoes."""
    rng = random.Random(13)
    n_cycles = round(_LC_MINUTES * 60 / _LC_CYCLE_S)
    times = [(i + 0.5) * _LC_CYCLE_S / 60 for i in range(n_cycles)]
    low = [_lc_ims_scan(t, _lc_ions(t, False, rng), rng) for t in times]
    high = [_lc_ims_scan(t + 0.5 / 60, _lc_ions(t + 0.5 / 60, True, rng), rng) for t in times]
    lock, _ = lock_mass_scans(_LC_DRIFT, LEU_ENK, rng, every_s=(20.0, 20.0), missing=0.1)
    def ims_record(subtype: int) -> FunctionRecord:
        return FunctionRecord(
            scan_subtype=subtype, cycle_time_s=_LC_CYCLE_S, interscan_delay_s=0.0, scan_time_s=0.5, mz_low=50.0, mz_high=2000.0
        )

    functions = [
        Function("B", low, ims_record(0x01), sts=collision_energy_sts([6.0] * n_cycles)),
        Function("B", high, ims_record(0x02), sts=collision_energy_sts([30.0] * n_cycles)),
        Function("D", lock, FunctionRecord(scan_subtype=0x81, mz_low=100.0, mz_high=1000.0)),
    ]
    header = RunHeader(
        acquired_name="lcms",
        acquired_date="02-Mar-2021",
        acquired_time="09:41:07",
        instrument="SYNAPT G2-Si",
        user_name="demo",
        sample_description="synthetic peptide digest, HDMSE",
        cal=[CalLine(1, [0.0, 1.0], "T1"), CalLine(2, [0.0, 1.0], "T1"), CalLine(3, [], "T0")],
    )
    extern = Extern(
        sections=[
            ExternSection(1, "TOF MS FUNCTION", start_mass=50.0, end_mass=2000.0),
            ExternSection(2, "TOF MSMS FUNCTION", start_mass=50.0, end_mass=2000.0),
            ExternSection(3, "REFERENCE FUNCTION", start_mass=100.0, end_mass=1000.0),
        ]
    )
    bend = [math.sin(math.pi * 0.02 * i / _LC_MINUTES) for i in range(226)]
    pressure = [(0.02 * i, 405.0 + 60.0 * b + rng.gauss(0, 0.8)) for i, b in enumerate(bend)]
    temperature = [(0.1 * i, 45.0 + rng.gauss(0, 0.04)) for i in range(46)]
    chroms = Chroms(
        [
            ChromTrace(cc_label("Pump Pressure", 1.0, "bar"), 4, pressure),
            ChromTrace(cc_label("Column Temperature", 1.0, "°C"), 1, temperature),
        ]
    )
    return RawDir(header, extern, functions, chroms)


def write_demo(outdir: Path | str) -> list[Path]:
    """Writes the demo directories into `outdir`, replacing earlier ones."""
    out = Path(outdir)
    return [
        demo_sample().write(out / "sample.raw", replace=True),
        demo_xevo().write(out / "xevo.raw", replace=True),
        demo_lc().write(out / "lcms.raw", replace=True),
    ]


def main(argv: Sequence[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description="Write synthetic MassLynx .raw directories.")
    commands = parser.add_subparsers(dest="command", required=True)
    demo = commands.add_parser("demo", help="write sample.raw (encodings A, B, D), xevo.raw (encoding C) and lcms.raw (LC-IMS)")
    demo.add_argument("outdir", type=Path)
    args = parser.parse_args(argv)
    for path in write_demo(args.outdir):
        print(path)
    return 0


if __name__ == "__main__":
    sys.exit(main())
