"""Every RuntimeError message of RawReader, through real directories."""

from __future__ import annotations

import os
from collections.abc import Callable
from pathlib import Path

import pytest
import samples
from rawfixture import (
    Chroms, ChromTrace, Extern, Function, RawDir, Scan, chroms_channel_record, chroms_preamble, record_a, record_b,
    record_c, record_d,
)
from samples import runtime_error

import tarnvale

Change = Callable[[RawDir], object]
U32_MAX, U64_MAX = 2**32 - 1, 2**64 - 1


def _files(names: dict[str, str | None] | None = None, **extra: bytes) -> Change:
    """Renames (None: leaves out) generated files and adds `extra` ones (dots written as __)."""
    files = {k.replace("__", "."): v for k, v in extra.items()}
    return lambda d: (d.names.update(names or {}), d.extra_files.update(files))


def _header_line(line: str) -> Change:
    return lambda d: d.header.extra_lines.append(line)


def _chroms_bytes(content: bytes) -> Change:
    return lambda d: setattr(d.chroms, "inf_bytes", content)


_CHANNEL = chroms_channel_record(4, b"Pressure")
_HEADER = "reading {path}/_HEADER.TXT: parse error: _HEADER.TXT: "
_EXTERN = "reading {path}/_extern.inf: parse error: _extern.inf: "
_CHROMS = "reading {path}/_CHROMS.INF: parse error: _CHROMS.INF"

CONSTRUCTOR_FAILURES = {
    "no header": (_files({"_HEADER.TXT": None}), "parse error: required file _HEADER.TXT missing in {path}"),
    "no extern": (_files({"_extern.inf": None}), "parse error: required file _extern.inf missing in {path}"),
    "no functns": (_files({"_FUNCTNS.INF": None}), "parse error: required file _FUNCTNS.INF missing in {path}"),
    "two prefixed headers": (
        _files({"_HEADER.TXT": "A_HEADER.TXT"}, B_HEADER__TXT=b""),
        "parse error: multiple files match _HEADER.TXT in {path}",
    ),
    "two prefixed function tables": (
        _files({"_FUNCTNS.INF": "x_functns.inf"}, Y_FUNCTNS__INF=b""),
        "parse error: multiple files match _FUNCTNS.INF in {path}",
    ),
    "two prefixed indexes": (
        lambda d: (
            setattr(d.functions[0], "write_index", False),
            _files(A_FUNC001__IDX=bytes(22), B_FUNC001__IDX=bytes(22))(d),
        ),
        "parse error: multiple files match _FUNC001.IDX in {path}",
    ),
    "two prefixed channel tables": (
        lambda d: (setattr(d.chroms, "file_name", "a_CHROMS.INF"), _files(b_CHROMS__INF=b"")(d)),
        "parse error: multiple files match _CHROMS.INF in {path}",
    ),
    "calibration type": (_header_line("$$ Cal Function 2: 1.0,2.0,t1"), _HEADER + 'unknown calibration type "t1"'),
    "calibration function number": (
        _header_line("$$ Cal Function x: 1,T1"),
        _HEADER + 'invalid function index in key "Cal Function x"',
    ),
    "calibration coefficient": (_header_line("$$ Cal Function 2: 1.0, x,T1"), _HEADER + 'invalid coefficient " x"'),
    "no Lteff": (lambda d: setattr(d.extern, "lteff", None), _EXTERN + "Lteff field not found"),
    "no Veff": (lambda d: setattr(d.extern, "veff", None), _EXTERN + "Veff field not found"),
    "function table size": (
        _files(_FUNCTNS__INF=bytes(415)),
        "reading {path}/_FUNCTNS.INF: parse error: _FUNCTNS.INF: file size 415 is not a multiple of 416 (record size)",
    ),
    "index size": (
        lambda d: setattr(d.functions[0], "index_bytes", bytes(50)),
        "reading {path}/_FUNC001.IDX: parse error: _FUNCnnn.IDX: size 50 is not a multiple of 22 (Variant A) "
        "or 30 (Variant B)",
    ),
    "channel table too small": (_chroms_bytes(bytes(297)), _CHROMS + " too small: 297 bytes (need at least 298)"),
    "channel record size": (
        _chroms_bytes(chroms_preamble(2, 84) + bytes(170)),
        _CHROMS + ": record size field is 84, expected 85",
    ),
    "channel meta records": (
        _chroms_bytes(chroms_preamble(10) + _CHANNEL * 2),
        _CHROMS + ": file too small for declared 10 meta records",
    ),
    "channel data section": (
        _chroms_bytes(chroms_preamble(0) + _CHANNEL * 2 + b"\0"),
        _CHROMS + ": data section size 171 is not a multiple of 85",
    ),
}


@pytest.mark.parametrize(("change", "message"), CONSTRUCTOR_FAILURES.values(), ids=CONSTRUCTOR_FAILURES)
def test_constructor_failures(write_raw, change: Change, message: str) -> None:
    description = samples.sample()
    change(description)
    path = write_raw(description)
    assert runtime_error(lambda: tarnvale.RawReader(path)) == message.format(path=path)


def test_path_that_is_no_directory(tmp_path: Path) -> None:
    regular = tmp_path / "file.raw"
    regular.write_bytes(b"")
    for path in (str(tmp_path / "no" / "such.raw"), str(regular), ""):
        assert runtime_error(lambda: tarnvale.RawReader(path)) == f"'{path}' is not a directory"


NOT_IMS = "function is not IMS; use read_spectrum instead"
METHOD_FAILURES = [
    (lambda r: r.n_scans(0), "function 0 not found"),
    (lambda r: r.n_scans(4), "function 4 not found"),
    (lambda r: r.function_encoding(9), "function 9 not found"),
    (lambda r: r.retention_time(9, 0), "function 9 not found"),
    (lambda r: r.retention_time(1, 3), "scan 3 out of range"),
    (lambda r: r.retention_time(2, 2**40), f"scan {2**40} out of range"),
    (lambda r: r.read_spectrum(9, 0), "{path} function 9 scan 0: parse error: function 9 not present in bundle"),
    (lambda r: r.read_spectrum(1, 3), "{path} function 1 scan 3: parse error: function 1 scan 3 out of range"),
    (lambda r: r.read_ims_spectrum(1, 3), "{path} function 1 scan 3: parse error: function 1 scan 3 out of range"),
    (lambda r: r.read_ims_spectrum(1, 0), NOT_IMS),
    (lambda r: r.read_ims_spectrum(1, 2), NOT_IMS),  # an empty scan
    (lambda r: r.read_ims_spectrum(3, 0), NOT_IMS),
    (lambda r: r.read_chrom(2), "CHRO file 5 not found"),
    # The largest values each parameter accepts.
    (lambda r: r.n_scans(U32_MAX), f"function {U32_MAX} not found"),
    (lambda r: r.retention_time(1, U64_MAX), f"scan {U64_MAX} out of range"),
    (lambda r: r.read_chrom(U64_MAX - 3), f"CHRO file {U64_MAX} not found"),
    (
        lambda r: r.read_spectrum(1, U64_MAX),
        f"{{path}} function 1 scan {U64_MAX}: parse error: function 1 scan {U64_MAX} out of range",
    ),
    (
        lambda r: r.read_ims_spectrum(U32_MAX, 0),
        f"{{path}} function {U32_MAX} scan 0: parse error: function {U32_MAX} not present in bundle",
    ),
]


@pytest.mark.parametrize(("call", "message"), METHOD_FAILURES)
def test_method_failures_leave_the_reader_usable(sample_path: str, call, message: str) -> None:
    reader = tarnvale.RawReader(sample_path)
    assert runtime_error(lambda: call(reader)) == message.format(path=sample_path)
    assert len(reader.read_spectrum(1, 0)) == 3


def _single(encoding: str, *scans: Scan, data: bytes | None = None, instrument: str = "SYNAPT G2-Si") -> RawDir:
    description = RawDir(functions=[Function(encoding, list(scans), data_bytes=data)])
    description.header.instrument = instrument
    return description


DECODE_FAILURES = {
    "A word": (_single("A", Scan(0.1, [record_a(1, 0x01, 0x800000)])), "Encoding A: unsupported m/z word 01 00 00 80"),
    "A top bit": (
        _single("A", Scan(0.1, [record_a(0, 0, 0), record_a(9, 0x20, 0x7FFFFF)])),
        "Encoding A: unsupported m/z word 20 ff ff 7f",
    ),
    "A size": (_single("A", Scan(0.1, n_points=2), data=bytes(7)), "Encoding A: scan size 7 is not a multiple of 6"),
    "D word": (
        _single("D", Scan(0.1, [record_d(1, 1)]), Scan(0.2, [record_d(1, 0x0C000000)])),
        "Encoding D: position word 0x00000001 lacks the leading mantissa bit",
    ),
    "B size": (
        _single("B", Scan(0.1, data=bytes(12)), Scan(0.2, [record_b(1, 1, 1)])),
        "Encoding B: scan size 12 is not a multiple of 8",
    ),
    "C size": (
        _single("C", Scan(0.1, data=bytes(12)), Scan(0.2, [record_c(1, 1, 1)]), instrument="Xevo G2-XS"),
        "Encoding C: scan size 12 is not a multiple of 8",
    ),
}


@pytest.mark.parametrize(("description", "message"), DECODE_FAILURES.values(), ids=DECODE_FAILURES)
def test_decoder_failures_name_directory_function_and_scan(write_raw, description: RawDir, message: str) -> None:
    path = write_raw(description)
    reader = tarnvale.RawReader(path)
    for read in (reader.read_spectrum, reader.read_ims_spectrum):
        assert runtime_error(lambda: read(1, 0)) == f"{path} function 1 scan 0: parse error: {message}"


def test_data_file_changed_after_opening(sample_path: str) -> None:
    reader = tarnvale.RawReader(sample_path)
    dat = Path(sample_path) / "_FUNC001.DAT"
    dat.write_bytes(dat.read_bytes()[:10])
    assert runtime_error(lambda: reader.read_spectrum(1, 0)) == (
        f"{sample_path} function 1 scan 0: I/O error: failed to fill whole buffer"
    )
    os.remove(dat)
    assert runtime_error(lambda: reader.read_spectrum(1, 1)) == (
        f"{sample_path} function 1 scan 1: I/O error: No such file or directory (os error 2)"
    )
    assert reader.n_scans(1) == 3  # metadata was read at construction


_CHRO = "reading {path}/_CHRO003.DAT: parse error: _CHRO*.DAT "


@pytest.mark.parametrize(
    ("files", "message"),
    [
        ({"_CHRO003.DAT": bytes(140)}, _CHRO + "data section size 12 is not a multiple of 8"),
        ({"_CHRO003.DAT": bytes(100)}, _CHRO + "too small: 100 bytes (need at least 128)"),
        (
            {"A_CHRO003.DAT": bytes(128), "B_CHRO003.DAT": bytes(128)},
            "parse error: multiple files match _CHRO003.DAT in {path}",
        ),
    ],
    ids=["data section", "too small", "two prefixed"],
)
def test_chrom_file_failures(write_raw, files: dict[str, bytes], message: str) -> None:
    path = write_raw(RawDir(chroms=Chroms([ChromTrace("Pressure", points=None)]), extra_files=files))
    assert runtime_error(lambda: tarnvale.RawReader(path).read_chrom(0)) == message.format(path=path)


def test_no_channel_table(open_raw) -> None:
    reader = open_raw(RawDir(extern=Extern(), extra_files={"_CHRO003.DAT": bytes(136)}))
    assert reader.channels == []
    assert runtime_error(lambda: reader.read_chrom(0)) == "no _CHROMS.INF in this .raw directory"
