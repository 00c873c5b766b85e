"""The fixture writer's encoders against the byte examples of the formats, so
that a fault in the fixtures cannot cancel out a fault in the reader."""

from __future__ import annotations

from pathlib import Path

import pytest
from rawfixture import (
    Chroms, RawDir, encode_a, encode_d, f32, index_record_a, index_record_b, position_for_mz, record_a, record_d,
    write_demo,
)


@pytest.mark.parametrize(
    ("encode", "mz", "word"),
    [(encode_a, 256.0, (0x90, 0x800000)), (encode_a, 1.0, (0x10, 0x800000)), (encode_a, 0.5, (0x00, 0x800000))]
    + [(encode_a, 32767.0, (0xF0, 0xFFFE00)), (encode_d, 1.0, 0x0C000000), (encode_d, 0.5, 0x04000000)]
    + [(encode_d, 3.0, 0x16000000)],
)
def test_encoded_words(encode, mz: float, word: object) -> None:
    assert encode(mz) == word


def test_record_bytes() -> None:
    assert record_a(100, *encode_a(256.0)) == bytes.fromhex("640090000080")
    assert record_d(98304, 0x0C000000) == bytes.fromhex("008001000000000c")
    a = index_record_a(0x01020304, 16, 1.5, 0xBEEF, 0x18)
    assert len(a) == 22 and a[:8] == bytes.fromhex("0403020110000018") and a[16:18] == b"\xef\xbe"
    b = index_record_b(7, 2.0)
    assert len(b) == 30 and b[22:26] == bytes.fromhex("07000000") and b[12:16] == bytes.fromhex("00000040")
    assert len(RawDir(chroms=Chroms()).files()["_CHROMS.INF"]) == 298


@pytest.mark.parametrize(
    ("encode", "mz"), [(encode_a, 32768.0), (encode_a, 0.25), (encode_d, 2.0**31), (encode_d, 0.0)]
)
def test_out_of_range_values_are_refused(encode, mz: float) -> None:
    with pytest.raises(ValueError):
        encode(mz)


def test_positions_span_the_mass_range() -> None:
    assert position_for_mz(f32(50.1), 50.1, 2000.0, 100, 4100) == 100
    assert position_for_mz(2000.0, 50.1, 2000.0, 100, 4100) == 4100


def test_demo_directories(tmp_path: Path) -> None:
    sample, xevo, lcms = write_demo(tmp_path)
    assert sorted(p.name for p in sample.iterdir()) == [
        "_CHRO003.DAT", "_CHRO004.DAT", "_CHROMS.INF",
        "_FUNC001.DAT", "_FUNC001.IDX", "_FUNC001.STS", "_FUNC002.DAT", "_FUNC002.IDX", "_FUNC002.STS",
        "_FUNC003.DAT", "_FUNC003.IDX", "_FUNCTNS.INF", "_HEADER.TXT", "_extern.inf",
    ]
    assert (xevo / "_FUNC001.IDX").stat().st_size % 30 == 0
    assert (lcms / "_FUNC002.IDX").stat().st_size == 270 * 30 and (lcms / "_CHRO004.DAT").is_file()
    write_demo(tmp_path)  # replaces earlier output
