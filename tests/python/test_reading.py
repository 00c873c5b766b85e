"""Opening directories and decoding their data end to end through the module.

Expected m/z values are computed here from the encodings' formulas
(decoding.py) on the very records the fixture wrote, and compared exactly."""

from __future__ import annotations

import gc
import math
from pathlib import Path

import decoding
import pytest
import samples
from rawfixture import (
    CalLine,
    Chroms,
    ChromTrace,
    Extern,
    Function,
    RawDir,
    RunHeader,
    Scan,
    chro_sample,
    encode_a,
    f32,
    index_record_a,
    record_a,
    record_b,
    record_d,
)

import tarnvale


def test_metadata(sample_reader) -> None:
    r = sample_reader
    h = r.header
    assert (h.version, h.acquired_name, h.acquired_date, h.acquired_time) == (
        "01.00",
        "sample",
        "14-Jan-2021",
        "16:20:52",
    )
    assert (h.instrument, h.operator, h.sample_description) == ("SYNAPT G2-Si", "operator", "QC: leucine enkephalin")
    assert r.polarity == "positive"
    description = samples.sample()
    for info, function in zip(r.functions, description.functions, strict=True):
        record = function.info
        assert (info.function_type, info.scan_subtype, info.tof_depth) == (0x12, record.scan_subtype, 4096)
        assert info.is_lock_mass is bool(record.scan_subtype & 0x80)
        for name in ("cycle_time_s", "interscan_delay_s", "scan_time_s", "mz_low", "mz_high"):
            assert getattr(info, name) == f32(getattr(record, name)), name
    assert [f.index for f in r.functions] == [1, 2, 3]
    assert [r.ms_level(n) for n in (0, 1, 2, 3, 99)] == [1, 1, 2, 1, 1]
    assert [r.function_encoding(n) for n in (1, 2, 3)] == ["a", "b", "d"]
    assert [r.n_scans(n) for n in (1, 2, 3)] == [3, 3, 2]
    for number, times in ((1, samples.RT_A), (2, samples.RT_B), (3, samples.RT_D)):
        assert [r.retention_time(number, i) for i in range(len(times))] == [f32(t) for t in times]


def test_values_widen_from_32_bits(sample_reader) -> None:
    assert sample_reader.retention_time(1, 0) == 0.016699999570846558
    assert sample_reader.read_chrom(0)[2].value == 0.10000000149011612
    assert sample_reader.functions[0].interscan_delay_s == 0.014999999664723873


@pytest.mark.parametrize(
    ("polarity", "expected"),
    [("ES+", "positive"), ("ES-", "negative"), ("es+", "positive"), ("Negative", "negative"), ("ESI", None), (None, None)],
)
def test_polarity(write_raw, polarity: str | None, expected: str | None) -> None:
    assert tarnvale.RawReader(write_raw(RawDir(extern=Extern(polarity=polarity)))).polarity == expected


def _kept(records: list[bytes], intensity_offset: int = 0) -> list[bytes]:
    return [r for r in records if int.from_bytes(r[intensity_offset : intensity_offset + 2], "little")]


@pytest.mark.parametrize("scan", range(3))
def test_encoding_a_values(sample_reader, scan: int) -> None:
    records = _kept(samples.SCANS_A[scan])
    spectrum = sample_reader.read_spectrum(1, scan)
    assert type(spectrum) is tarnvale.Spectrum
    assert spectrum.mz == [decoding.mz_a(r, samples.CAL_A, "T1") for r in records]
    assert spectrum.intensity == decoding.kept_u16_intensities(records, 0)
    assert len(spectrum) == len(records)


@pytest.mark.parametrize("scan", range(3))
def test_encoding_b_values(sample_reader, scan: int) -> None:
    records = samples.SCANS_B[scan]
    mz = decoding.flight_mz(
        records, samples.LTEFF, samples.VEFF, samples.MZ_LOW_B, samples.MZ_HIGH_B, samples.CAL_B, "T1"
    )
    ims = sample_reader.read_ims_spectrum(2, scan)
    assert type(ims) is tarnvale.ImsSpectrum
    assert ims.mz == mz
    assert ims.drift_time_ms == (decoding.drift_ms(records, samples.SCAN_TIME_B) if mz else [])
    assert ims.intensity == (decoding.kept_u16_intensities(records, 2) if mz else [])
    flat = sample_reader.read_spectrum(2, scan)
    assert type(flat) is tarnvale.Spectrum
    assert (flat.mz, flat.intensity, len(flat)) == (ims.mz, ims.intensity, len(ims))


def test_encoding_b_drift_and_known_values(sample_reader) -> None:
    ims = sample_reader.read_ims_spectrum(2, 0)
    assert ims.drift_time_ms[0] == 250.0  # drift word 32768 of a 500 ms scan
    assert len(ims) == 3


@pytest.mark.parametrize("scan", range(2))
def test_encoding_d_values_without_calibration(sample_reader, scan: int) -> None:
    records = [r for r in samples.SCANS_D[scan] if r[:4] != bytes(4)]
    spectrum = sample_reader.read_spectrum(3, scan)
    assert spectrum.mz == [decoding.mz_d(r) for r in records]
    assert spectrum.intensity == [decoding.intensity_d(r) for r in records]


def test_encoding_d_known_values(sample_reader) -> None:
    first, second = sample_reader.read_spectrum(3, 0), sample_reader.read_spectrum(3, 1)
    assert first.intensity == [1.5, 512.0]  # 0x01FFFFFF / 65536 rounds to 512 in 32 bits
    assert (second.mz[0], second.intensity[0]) == (1.0, 1.0)


@pytest.mark.parametrize("scan", range(2))
def test_encoding_c_values(write_raw, scan: int) -> None:
    reader = tarnvale.RawReader(write_raw(samples.xevo()))
    assert reader.function_encoding(1) == "c"
    assert reader.polarity == "negative"
    records = samples.SCANS_C[scan]
    expected = decoding.flight_mz(
        records, samples.LTEFF, samples.VEFF, samples.MZ_LOW_C, samples.MZ_HIGH_C, samples.CAL_C, "T1", True
    )
    spectrum = reader.read_spectrum(1, scan)
    assert spectrum.mz == expected
    assert spectrum.intensity == (decoding.kept_u16_intensities(records, 2) if expected else [])
    assert len(spectrum) == (3 if scan == 0 else 0)


def _square_root_squared(raw: float, factor: float = 1.0) -> float:
    h = factor * math.sqrt(raw)
    return h * h


@pytest.mark.parametrize(
    ("cal", "expected"),
    [
        (CalLine(1, [0.0, 1.0], "T1"), _square_root_squared),
        (CalLine(1, [0.0, 2.0], "T1"), lambda raw: _square_root_squared(raw, 2.0)),
        (CalLine(1, [5.0], "T1"), lambda raw: 25.0),
        (CalLine(1, [], "T1"), lambda raw: 0.0),
        (CalLine(1, [0.0, 2.0], "T0"), _square_root_squared),
        (None, _square_root_squared),
    ],
    ids=["identity", "double", "constant", "no coefficients", "T0", "no line"],
)
def test_calibration_end_to_end(write_raw, cal: CalLine | None, expected) -> None:
    header = RunHeader(cal=[cal] if cal else [])
    records = [record_a(100, 0x90, 0x800000), record_a(3, 0x10, 0x800000), record_a(1, 0xF0, 0xFFFFFF)]
    reader = tarnvale.RawReader(write_raw(RawDir(header, functions=[Function("A", [Scan(0.5, records)])])))
    raws = [256.0, 1.0, 0xFFFFFF * 2.0**-9]
    assert reader.read_spectrum(1, 0).mz == [expected(raw) for raw in raws]


def test_empty_spectra(sample_reader) -> None:
    for spectrum in (sample_reader.read_spectrum(1, 2), sample_reader.read_ims_spectrum(2, 1)):
        assert len(spectrum) == 0
        assert not spectrum
        assert spectrum.mz == [] and spectrum.intensity == []
        with pytest.raises(TypeError):
            spectrum[0]
        with pytest.raises(TypeError):
            iter(spectrum)
    assert sample_reader.read_ims_spectrum(2, 1).drift_time_ms == []
    assert sample_reader.read_spectrum(1, 0)


def test_new_objects_on_every_access(sample_reader) -> None:
    r = sample_reader
    assert r.functions is not r.functions
    assert r.channels is not r.channels
    assert r.header is not r.header
    assert [repr(f) for f in r.functions] == [repr(f) for f in r.functions]
    spectrum = r.read_spectrum(1, 0)
    mz = spectrum.mz
    assert mz is not spectrum.mz
    mz.clear()
    r.functions.clear()
    assert len(spectrum.mz) == 3 and len(r.functions) == 3


def test_results_outlive_the_reader(sample_path: str) -> None:
    reader = tarnvale.RawReader(sample_path)
    kept = (
        reader.header,
        reader.functions,
        reader.channels,
        reader.read_spectrum(1, 0),
        reader.read_ims_spectrum(2, 0),
        reader.read_chrom(1),
    )
    before = [repr(x) for x in kept]
    mz = kept[3].mz
    del reader
    gc.collect()
    assert [repr(x) for x in kept] == before
    assert kept[3].mz == mz and kept[0].instrument == "SYNAPT G2-Si"
    assert [p.value for p in kept[5]] == [f32(v) for _, v in samples.TEMPERATURE]


def test_skipped_function_is_listed_but_not_readable(write_raw) -> None:
    description = samples.sample()
    description.functions[1].write_data = False
    path = write_raw(description)
    reader = tarnvale.RawReader(path)
    assert [f.index for f in reader.functions] == [1, 2, 3]
    assert reader.ms_level(2) == 2
    for call in (reader.n_scans, reader.function_encoding, lambda n: reader.retention_time(n, 0)):
        with pytest.raises(RuntimeError, match="^function 2 not found$"):
            call(2)
    with pytest.raises(RuntimeError) as caught:
        reader.read_spectrum(2, 0)
    assert str(caught.value) == f"{path} function 2 scan 0: parse error: function 2 not present in bundle"
    assert reader.n_scans(3) == 2


def test_every_function_skipped(write_raw) -> None:
    description = samples.sample()
    for function in description.functions:
        function.write_index = False
    reader = tarnvale.RawReader(write_raw(description))
    assert len(reader.functions) == 3
    with pytest.raises(RuntimeError, match="^function 1 not found$"):
        reader.n_scans(1)


def test_unreadable_statistics_do_not_stop_opening(write_raw) -> None:
    description = samples.sample()
    description.functions[0].sts = bytes(10)
    reader = tarnvale.RawReader(write_raw(description))
    assert len(reader.read_spectrum(1, 0)) == 3


def _a_index(*scans: tuple[int, int]) -> Function:
    """A 22-byte-index function with the given (offset, n_points) records."""
    scan_list = [Scan(0.1 * i, offset=offset, n_points=n) for i, (offset, n) in enumerate(scans)]
    size = max(offset + 8 * n for offset, n in scans)
    return Function("A", scan_list, data_bytes=bytes(size))


@pytest.mark.parametrize(
    ("function", "instrument", "encoding"),
    [
        (Function("B", [Scan(0.1, [record_b(1, 1, 1)])]), "Synapt G2-S", "b"),
        (Function("B", [Scan(0.1, [record_b(1, 1, 1)])]), "SYNAPT", "b"),
        (Function("B", [Scan(0.1, [record_b(1, 1, 1)])]), "Xevo G2-XS", "c"),
        (Function("B", [Scan(0.1, [record_b(1, 1, 1)])]), "SYNAP", "c"),
        (Function("B", [Scan(0.1, [record_b(1, 1, 1)])]), None, "c"),
        (_a_index((0, 100), (600, 100), (1200, 100)), "SYNAPT G2", "a"),
        (_a_index((0, 100), (800, 100)), "QTOF", "d"),
        (_a_index((0, 100)), "QTOF", "a"),
        (_a_index((0, 100), (700, 100), (1400, 100)), "QTOF", "a"),
        (_a_index((0, 50), (0, 100), (600, 90)), "QTOF", "a"),
        (_a_index((0, 0), (800, 100), (1600, 100), (2200, 100)), "QTOF", "d"),
        (_a_index((100, 10), (0, 10), (80, 10)), "QTOF", "d"),
    ],
)
def test_encoding_is_inferred(write_raw, function: Function, instrument: str | None, encoding: str) -> None:
    reader = tarnvale.RawReader(write_raw(RawDir(RunHeader(instrument=instrument), functions=[function])))
    assert reader.function_encoding(1) == encoding


@pytest.mark.parametrize(("break_order", "scans"), [(False, 15), (True, 11)])
def test_index_length_fitting_both_strides(write_raw, break_order: bool, scans: int) -> None:
    offsets = list(range(0, 150, 10))
    if break_order:
        offsets[7] = 5
    index = b"".join(index_record_a(offset, 1, 0.01 * i, 0, 0x18) for i, offset in enumerate(offsets))
    assert len(index) == 330
    function = Function("A", index_bytes=index, data_bytes=bytes(160))
    reader = tarnvale.RawReader(write_raw(RawDir(functions=[function])))
    assert reader.n_scans(1) == scans
    assert reader.function_encoding(1) == ("a" if scans == 15 else "c")


def test_variant_b_scan_extents(write_raw) -> None:
    x = [record_b(0, 0, 10), record_b(5, 1, 20), record_b(6, 2, 30)]
    y = [record_b(7, 3, 40), record_b(8, 4, 50), record_b(0, 0, 60)]
    data = b"".join(x + y)
    # Scan 0 starts after scan 1: its next offset is smaller, so it reads nothing;
    # scan 1 (the last) extends to the end of the file.
    function = Function("B", [Scan(0.1, offset=24), Scan(0.2, offset=0)], data_bytes=data)
    description = RawDir(RunHeader(instrument="SYNAPT"), functions=[function])
    reader = tarnvale.RawReader(write_raw(description))
    assert len(reader.read_ims_spectrum(1, 0)) == 0
    whole = reader.read_ims_spectrum(1, 1)
    assert whole.mz == decoding.flight_mz(x + y, 1800.0, 7200.0, 50.0, 1200.0)
    assert whole.intensity == [5.0, 6.0, 7.0, 8.0]


def test_variant_a_reads_clamp_to_the_file(write_raw) -> None:
    records = [record_d(65536 * (i + 1), 0x0C000000 + i) for i in range(3)]
    # Two scans spaced 8 bytes per point (encoding D); the second claims 10
    # points but only 2 records remain; a third lies beyond the end.
    scans = [Scan(0.1, records[:1]), Scan(0.2, records[1:], n_points=10), Scan(0.3, offset=1000, n_points=10)]
    reader = tarnvale.RawReader(write_raw(RawDir(functions=[Function("D", scans)])))
    assert reader.function_encoding(1) == "d"
    assert reader.read_spectrum(1, 1).intensity == [2.0, 3.0]
    assert len(reader.read_spectrum(1, 2)) == 0


def test_channels(sample_reader) -> None:
    channels = sample_reader.channels
    assert [(c.index, c.source_type, c.name, c.scale_f, c.units) for c in channels] == [
        (0, 4, "Pump Pressure", 0.1, "bar"),
        (1, 1, "Temp \u20ac\u00b0\u0081", 2.5, "\u00b0C,x"),
    ]
    for channel, points in zip(channels, (samples.PRESSURE, samples.TEMPERATURE), strict=True):
        read = sample_reader.read_chrom(channel.index)
        assert all(type(p) is tarnvale.ChromPoint for p in read)
        assert [(p.rt_min, p.value) for p in read] == [(f32(t), f32(v)) for t, v in points]


@pytest.mark.parametrize(
    ("channel", "file_name"),
    [(0, "_CHRO003.DAT"), (0, "_chro003.dat"), (0, "RUN_CHRO003.DAT"), (5, "_CHRO008.DAT"), (7, "_CHRO010.DAT"),
     (997, "_CHRO1000.DAT")],
)
def test_chrom_file_numbering(write_raw, channel: int, file_name: str) -> None:
    content = bytes(128) + chro_sample(1.25, float(channel))
    traces = [ChromTrace("a", points=None), ChromTrace("b", points=None)]
    description = RawDir(chroms=Chroms(traces), extra_files={file_name: content})
    reader = tarnvale.RawReader(write_raw(description))
    points = reader.read_chrom(channel)
    assert [(p.rt_min, p.value) for p in points] == [(1.25, float(channel))]
    with pytest.raises(RuntimeError, match=f"^CHRO file {channel + 4} not found$"):
        reader.read_chrom(channel + 1)


def test_chrom_files_are_read_on_each_call(sample_path: str) -> None:
    reader = tarnvale.RawReader(sample_path)
    assert len(reader.read_chrom(0)) == 3
    (Path(sample_path) / "_CHRO003.DAT").write_bytes(bytes(128))
    assert reader.read_chrom(0) == []
    assert len(reader.channels) == 2


def test_exact_name_wins_over_one_prefixed_name(write_raw) -> None:
    description = samples.sample()
    description.extra_files["X_HEADER.TXT"] = b"$$ Instrument: wrong\n$$ Cal Function x: 1,T1\n"
    description.extra_files["old_FUNC001.IDX"] = bytes(7)
    reader = tarnvale.RawReader(write_raw(description))
    assert reader.header.instrument == "SYNAPT G2-Si"
    assert reader.n_scans(1) == 3


def test_only_regular_files_are_found(write_raw, tmp_path: Path) -> None:
    source = write_raw(samples.sample(), "source.raw")
    description = samples.sample()
    description.functions[0].write_index = False
    assert description.chroms is not None
    description.chroms.file_name = "_CHROMS.INF.orig"
    path = Path(write_raw(description))
    (path / "_FUNC001.IDX").mkdir()
    (path / "_CHROMS.INF").symlink_to(Path(source) / "_CHROMS.INF")
    (path / "_FUNC002.STS").unlink()
    (path / "_FUNC002.STS").symlink_to(Path(source) / "_FUNC002.STS")
    (path / "_FUNC003.IDX").unlink()
    (path / "_FUNC003.IDX").symlink_to(Path(source) / "_FUNC003.IDX")
    reader = tarnvale.RawReader(str(path))
    assert reader.channels == []
    for number in (1, 3):
        with pytest.raises(RuntimeError, match=f"^function {number} not found$"):
            reader.n_scans(number)
    assert reader.n_scans(2) == 3
    # A symbolic link to a directory is still a directory to open.
    link = tmp_path / "link.raw"
    link.symlink_to(source)
    assert tarnvale.RawReader(str(link)).n_scans(3) == 2


def test_large_scan(write_raw) -> None:
    records = [record_a(1 + i % 60000, *encode_a(50.0 + i * 0.019)) for i in range(60000)]
    reader = tarnvale.RawReader(write_raw(RawDir(functions=[Function("A", [Scan(1.0, records)])])))
    spectrum = reader.read_spectrum(1, 0)
    assert len(spectrum) == 60000
    assert spectrum.mz == [decoding.mz_a(r) for r in records]
    assert spectrum.intensity == [float(1 + i % 60000) for i in range(60000)]
