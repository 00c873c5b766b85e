"""Every RuntimeError message of RawReader, through real directories."""

from __future__ import annotations

import os
from collections.abc import Callable
from pathlib import Path

import pytest
import samples
from rawfixture import (
    Chroms,
    ChromTrace,
    Extern,
    Function,
    RawDir,
    Scan,
    chroms_channel_record,
    chroms_preamble,
    record_a,
    record_b,
    record_c,
    record_d,
)

import tarnvale

Change = Callable[[RawDir], None]


def _names(**names: str | None) -> Change:
    return lambda d: d.names.update({k.replace("__", "."): v for k, v in names.items()})


def _extra(**files: bytes) -> Change:
    return lambda d: d.extra_files.update({k.replace("__", "."): v for k, v in files.items()})


def _header_line(line: str) -> Change:
    return lambda d: d.header.extra_lines.append(line)


def _chroms_bytes(content: bytes) -> Change:
    def change(d: RawDir) -> None:
        assert d.chroms is not None
        d.chroms.inf_bytes = content

    return change


def _both(*changes: Change) -> Change:
    def change(d: RawDir) -> None:
        for c in changes:
            c(d)

    return change


def _no_index_1(d: RawDir) -> None:
    d.functions[0].write_index = False


def _no_lteff(d: RawDir) -> None:
    d.extern.lteff = None


def _no_veff(d: RawDir) -> None:
    d.extern.veff = None


def _index_bytes(d: RawDir) -> None:
    d.functions[0].index_bytes = bytes(50)


_CHANNEL = chroms_channel_record(4, b"Pressure")

CONSTRUCTOR_FAILURES = [
    ("no header", _names(_HEADER__TXT=None), "parse error: required file _HEADER.TXT missing in {path}"),
    ("no extern", _names(_extern__inf=None), "parse error: required file _extern.inf missing in {path}"),
    ("no functns", _names(_FUNCTNS__INF=None), "parse error: required file _FUNCTNS.INF missing in {path}"),
    (
        "two prefixed headers",
        _both(_names(_HEADER__TXT="A_HEADER.TXT"), _extra(B_HEADER__TXT=b"")),
        "parse error: multiple files match _HEADER.TXT in {path}",
    ),
    (
        "two prefixed function tables",
        _both(_names(_FUNCTNS__INF="x_functns.inf"), _extra(Y_FUNCTNS__INF=b"")),
        "parse error: multiple files match _FUNCTNS.INF in {path}",
    ),
    (
        "calibration type",
        _header_line("$$ Cal Function 2: 1.0,2.0,t1"),
        'reading {path}/_HEADER.TXT: parse error: _HEADER.TXT: unknown calibration type "t1"',
    ),
    (
        "calibration function number",
        _header_line("$$ Cal Function x: 1,T1"),
        'reading {path}/_HEADER.TXT: parse error: _HEADER.TXT: invalid function index in key "Cal Function x"',
    ),
    (
        "calibration coefficient",
        _header_line("$$ Cal Function 2: 1.0, x,T1"),
        'reading {path}/_HEADER.TXT: parse error: _HEADER.TXT: invalid coefficient " x"',
    ),
    ("no Lteff", _no_lteff, "reading {path}/_extern.inf: parse error: _extern.inf: Lteff field not found"),
    ("no Veff", _no_veff, "reading {path}/_extern.inf: parse error: _extern.inf: Veff field not found"),
    (
        "function table size",
        _extra(_FUNCTNS__INF=bytes(415)),
        "reading {path}/_FUNCTNS.INF: parse error: _FUNCTNS.INF: file size 415 is not a multiple of 416 (record size)",
    ),
    (
        "index size",
        _index_bytes,
        "reading {path}/_FUNC001.IDX: parse error: _FUNCnnn.IDX: size 50 is not a multiple of 22 (Variant A) "
        "or 30 (Variant B)",
    ),
    (
        "two prefixed indexes",
        _both(_no_index_1, _extra(A_FUNC001__IDX=bytes(22), B_FUNC001__IDX=bytes(22))),
        "parse error: multiple files match _FUNC001.IDX in {path}",
    ),
    (
        "two prefixed channel tables",
        _both(lambda d: setattr(d.chroms, "file_name", "a_CHROMS.INF"), _extra(b_CHROMS__INF=b"")),
        "parse error: multiple files match _CHROMS.INF in {path}",
    ),
    (
        "channel table too small",
        _chroms_bytes(bytes(297)),
        "reading {path}/_CHROMS.INF: parse error: _CHROMS.INF too small: 297 bytes (need at least 298)",
    ),
    (
        "channel record size",
        _chroms_bytes(chroms_preamble(2, 84) + bytes(170)),
        "reading {path}/_CHROMS.INF: parse error: _CHROMS.INF: record size field is 84, expected 85",
    ),
    (
        "channel meta records",
        _chroms_bytes(chroms_preamble(10) + _CHANNEL * 2),
        "reading {path}/_CHROMS.INF: parse error: _CHROMS.INF: file too small for declared 10 meta records",
    ),
    (
        "channel data section",
        _chroms_bytes(chroms_preamble(0) + _CHANNEL * 2 + b"\0"),
        "reading {path}/_CHROMS.INF: parse error: _CHROMS.INF: data section size 171 is not a multiple of 85",
    ),
]


@pytest.mark.parametrize(
    ("change", "message"), [c[1:] for c in CONSTRUCTOR_FAILURES], ids=[c[0] for c in CONSTRUCTOR_FAILURES]
)
def test_constructor_failures(write_raw, change: Change, message: str) -> None:
    description = samples.sample()
    change(description)
    path = write_raw(description)
    with pytest.raises(RuntimeError) as caught:
        tarnvale.RawReader(path)
    assert type(caught.value) is RuntimeError
    assert str(caught.value) == message.format(path=path)


def test_path_that_is_no_directory(tmp_path: Path) -> None:
    missing = str(tmp_path / "no" / "such.raw")
    regular = tmp_path / "file.raw"
    regular.write_bytes(b"")
    for path in (missing, str(regular), ""):
        with pytest.raises(RuntimeError) as caught:
            tarnvale.RawReader(path)
        assert str(caught.value) == f"'{path}' is not a directory"


def test_lookup_names_are_case_and_prefix_tolerant(write_raw) -> None:
    description = samples.sample()
    description.names.update({"_HEADER.TXT": "_header.txt", "_FUNCTNS.INF": "RUN_FUNCTNS.INF"})
    description.functions[0].lower_case = True
    description.functions[1].prefix = "sample"
    assert description.chroms is not None
    description.chroms.file_name = "_chroms.inf"
    reader = tarnvale.RawReader(write_raw(description))
    assert [reader.n_scans(n) for n in (1, 2, 3)] == [3, 3, 2]
    assert reader.header.instrument == "SYNAPT G2-Si"
    assert len(reader.channels) == 2


@pytest.mark.parametrize(
    ("call", "message"),
    [
        (lambda r: r.n_scans(0), "function 0 not found"),
        (lambda r: r.n_scans(4), "function 4 not found"),
        (lambda r: r.function_encoding(9), "function 9 not found"),
        (lambda r: r.retention_time(9, 0), "function 9 not found"),
        (lambda r: r.retention_time(1, 3), "scan 3 out of range"),
        (lambda r: r.retention_time(2, 2**40), f"scan {2**40} out of range"),
        (lambda r: r.read_spectrum(9, 0), "{path} function 9 scan 0: parse error: function 9 not present in bundle"),
        (
            lambda r: r.read_spectrum(1, 3),
            "{path} function 1 scan 3: parse error: function 1 scan 3 out of range",
        ),
        (
            lambda r: r.read_ims_spectrum(1, 3),
            "{path} function 1 scan 3: parse error: function 1 scan 3 out of range",
        ),
        (
            lambda r: r.read_spectrum(1, 2**64 - 1),
            "{path} function 1 scan 18446744073709551615: parse error: function 1 scan 18446744073709551615 "
            "out of range",
        ),
        (
            lambda r: r.read_ims_spectrum(2**32 - 1, 0),
            "{path} function 4294967295 scan 0: parse error: function 4294967295 not present in bundle",
        ),
        (lambda r: r.read_ims_spectrum(1, 0), "function is not IMS; use read_spectrum instead"),
        (lambda r: r.read_ims_spectrum(1, 2), "function is not IMS; use read_spectrum instead"),
        (lambda r: r.read_ims_spectrum(3, 0), "function is not IMS; use read_spectrum instead"),
        (lambda r: r.read_chrom(2), "CHRO file 5 not found"),
        (lambda r: r.read_chrom(7), "CHRO file 10 not found"),
    ],
)
def test_method_failures_leave_the_reader_usable(sample_path: str, call, message: str) -> None:
    reader = tarnvale.RawReader(sample_path)
    with pytest.raises(RuntimeError) as caught:
        call(reader)
    assert type(caught.value) is RuntimeError
    assert str(caught.value) == message.format(path=sample_path)
    assert len(reader.read_spectrum(1, 0)) == 3


def _single(encoding: str, *scans: Scan, data: bytes | None = None, instrument: str = "SYNAPT G2-Si") -> RawDir:
    description = RawDir(functions=[Function(encoding, list(scans), data_bytes=data)])
    description.header.instrument = instrument
    return description


DECODE_FAILURES = [
    (
        "A word",
        _single("A", Scan(0.1, [record_a(1, 0x01, 0x800000)])),
        "parse error: Encoding A: unsupported m/z word 01 00 00 80",
    ),
    (
        "A top bit",
        _single("A", Scan(0.1, [record_a(0, 0, 0), record_a(9, 0x20, 0x7FFFFF)])),
        "parse error: Encoding A: unsupported m/z word 20 ff ff 7f",
    ),
    (
        "A size",
        _single("A", Scan(0.1, n_points=2), data=bytes(7)),
        "parse error: Encoding A: scan size 7 is not a multiple of 6",
    ),
    (
        "D word",
        _single("D", Scan(0.1, [record_d(1, 1)]), Scan(0.2, [record_d(1, 0x0C000000)])),
        "parse error: Encoding D: position word 0x00000001 lacks the leading mantissa bit",
    ),
    (
        "B size",
        _single("B", Scan(0.1, data=bytes(12)), Scan(0.2, [record_b(1, 1, 1)])),
        "parse error: Encoding B: scan size 12 is not a multiple of 8",
    ),
    (
        "C size",
        _single("C", Scan(0.1, data=bytes(12)), Scan(0.2, [record_c(1, 1, 1)]), instrument="Xevo G2-XS"),
        "parse error: Encoding C: scan size 12 is not a multiple of 8",
    ),
]


@pytest.mark.parametrize(
    ("description", "message"), [c[1:] for c in DECODE_FAILURES], ids=[c[0] for c in DECODE_FAILURES]
)
def test_decoder_failures_name_directory_function_and_scan(write_raw, description: RawDir, message: str) -> None:
    path = write_raw(description)
    reader = tarnvale.RawReader(path)
    for read in (reader.read_spectrum, reader.read_ims_spectrum):
        with pytest.raises(RuntimeError) as caught:
            read(1, 0)
        assert str(caught.value) == f"{path} function 1 scan 0: {message}"


def test_data_file_changed_after_opening(sample_path: str) -> None:
    reader = tarnvale.RawReader(sample_path)
    dat = Path(sample_path) / "_FUNC001.DAT"
    dat.write_bytes(dat.read_bytes()[:10])
    with pytest.raises(RuntimeError) as caught:
        reader.read_spectrum(1, 0)
    assert str(caught.value) == f"{sample_path} function 1 scan 0: I/O error: failed to fill whole buffer"
    os.remove(dat)
    with pytest.raises(RuntimeError) as caught:
        reader.read_spectrum(1, 1)
    assert str(caught.value) == (
        f"{sample_path} function 1 scan 1: I/O error: No such file or directory (os error 2)"
    )
    assert reader.n_scans(1) == 3  # metadata was read at construction


@pytest.mark.parametrize(
    ("files", "message"),
    [
        ({"_CHRO003.DAT": bytes(140)}, "reading {path}/_CHRO003.DAT: parse error: _CHRO*.DAT data section size 12 "
         "is not a multiple of 8"),
        ({"_CHRO003.DAT": bytes(100)}, "reading {path}/_CHRO003.DAT: parse error: _CHRO*.DAT too small: 100 bytes "
         "(need at least 128)"),
        ({"A_CHRO003.DAT": bytes(128), "B_CHRO003.DAT": bytes(128)},
         "parse error: multiple files match _CHRO003.DAT in {path}"),
    ],
    ids=["data section", "too small", "two prefixed"],
)
def test_chrom_file_failures(write_raw, files: dict[str, bytes], message: str) -> None:
    description = RawDir(chroms=Chroms([ChromTrace("Pressure", points=None)]), extra_files=files)
    path = write_raw(description)
    reader = tarnvale.RawReader(path)
    with pytest.raises(RuntimeError) as caught:
        reader.read_chrom(0)
    assert str(caught.value) == message.format(path=path)


def test_no_channel_table(write_raw) -> None:
    path = write_raw(RawDir(extern=Extern(), extra_files={"_CHRO003.DAT": bytes(136)}))
    reader = tarnvale.RawReader(path)
    assert reader.channels == []
    with pytest.raises(RuntimeError) as caught:
        reader.read_chrom(0)
    assert str(caught.value) == "no _CHROMS.INF in this .raw directory"
    assert repr(reader).endswith("0 function(s), 0 channel(s))")
