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
from rawfixture import CalLine, Chroms, ChromTrace, Extern, Function, RawDir, RunHeader, Scan, chro_sample, encode_a
from rawfixture import f32, record_a
from samples import runtime_error

import tarnvale


def test_metadata(sample_reader) -> None:
    r, h = sample_reader, sample_reader.header
    assert (h.version, h.acquired_name, h.acquired_date, h.acquired_time) == (
        "01.00", "sample", "14-Jan-2021", "16:20:52"
    )
    assert (h.instrument, h.operator, h.sample_description) == ("SYNAPT G2-Si", "operator", "QC: leucine enkephalin")
    assert r.polarity == "positive"
    for info, function in zip(r.functions, samples.sample().functions, strict=True):
        record = function.info
        assert (info.function_type, info.scan_subtype, info.tof_depth) == (0x12, record.scan_subtype, 4096)
        assert info.is_lock_mass is bool(record.scan_subtype & 0x80)
        for name in ("cycle_time_s", "interscan_delay_s", "scan_time_s", "mz_low", "mz_high"):
            assert getattr(info, name) == f32(getattr(record, name)), name  # widened from 32 bits
    assert [f.index for f in r.functions] == [1, 2, 3]
    assert [r.ms_level(n) for n in (0, 1, 2, 3, 99)] == [1, 1, 2, 1, 1]
    assert [r.function_encoding(n) for n in (1, 2, 3)] == ["a", "b", "d"]
    assert [r.n_scans(n) for n in (1, 2, 3)] == [3, 3, 2]
    for number, times in ((1, samples.RT_A), (2, samples.RT_B), (3, samples.RT_D)):
        assert [r.retention_time(number, i) for i in range(len(times))] == [f32(t) for t in times]


@pytest.mark.parametrize(
    ("polarity", "expected"),
    [("ES+", "positive"), ("ES-", "negative"), ("es+", "positive"), ("Negative", "negative")]
    + [("ESI", None), (None, None)],
)
def test_polarity(open_raw, polarity: str | None, expected: str | None) -> None:
    assert open_raw(RawDir(extern=Extern(polarity=polarity))).polarity == expected


def _expected_a(scan: int) -> tuple[list[float], list[float]]:
    kept = [r for r in samples.SCANS_A[scan] if r[:2] != bytes(2)]
    return [decoding.mz_a(r, samples.CAL_A, "T1") for r in kept], decoding.kept_u16_intensities(kept, 0)


def _expected_d(scan: int) -> tuple[list[float], list[float]]:
    kept = [r for r in samples.SCANS_D[scan] if r[:4] != bytes(4)]  # uncalibrated
    return [decoding.mz_d(r) for r in kept], [decoding.intensity_d(r) for r in kept]


@pytest.mark.parametrize(
    ("function", "scan", "expected"), [(1, s, _expected_a) for s in range(3)] + [(3, s, _expected_d) for s in range(2)]
)
def test_one_dimensional_values(sample_reader, function: int, scan: int, expected) -> None:
    spectrum = sample_reader.read_spectrum(function, scan)
    assert type(spectrum) is tarnvale.Spectrum
    assert (spectrum.mz, spectrum.intensity) == expected(scan)
    assert len(spectrum) == len(spectrum.mz) and bool(spectrum) == bool(spectrum.mz)  # scan 2 of function 1 is empty


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
    assert (len(ims), bool(ims)) == (len(mz), bool(mz))  # scan 1 decodes to no ions
    flat = sample_reader.read_spectrum(2, scan)
    assert type(flat) is tarnvale.Spectrum
    assert (flat.mz, flat.intensity, len(flat)) == (ims.mz, ims.intensity, len(ims))


def test_known_values(sample_reader) -> None:
    assert sample_reader.read_ims_spectrum(2, 0).drift_time_ms[0] == 250.0  # drift word 32768 of a 500 ms scan
    first, second = sample_reader.read_spectrum(3, 0), sample_reader.read_spectrum(3, 1)
    assert first.intensity == [1.5, 512.0]  # 0x01FFFFFF / 65536 rounds to 512 in 32 bits
    assert (second.mz[0], second.intensity[0]) == (1.0, 1.0)


@pytest.mark.parametrize("scan", range(2))
def test_encoding_c_values(open_raw, scan: int) -> None:
    records = samples.SCANS_C[scan]
    expected = decoding.flight_mz(
        records, samples.LTEFF, samples.VEFF, samples.MZ_LOW_C, samples.MZ_HIGH_C, samples.CAL_C, "T1", True
    )
    reader = open_raw(samples.xevo())
    assert reader.function_encoding(1) == "c"
    spectrum = reader.read_spectrum(1, scan)
    assert (spectrum.mz, len(spectrum)) == (expected, 3 if scan == 0 else 0)
    assert spectrum.intensity == (decoding.kept_u16_intensities(records, 2) if expected else [])


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
def test_calibration_end_to_end(open_raw, cal: CalLine | None, expected) -> None:
    records = [record_a(100, 0x90, 0x800000), record_a(3, 0x10, 0x800000), record_a(1, 0xF0, 0xFFFFFF)]
    reader = open_raw(RawDir(RunHeader(cal=[cal] if cal else []), functions=[Function("A", [Scan(0.5, records)])]))
    raws = [256.0, 1.0, 0xFFFFFF * 2.0**-9]
    assert reader.read_spectrum(1, 0).mz == [expected(raw) for raw in raws]


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
    kept = (reader.header, reader.functions, reader.channels)
    kept += (reader.read_spectrum(1, 0), reader.read_ims_spectrum(2, 0), reader.read_chrom(1))
    before = [repr(x) for x in kept]
    mz = kept[3].mz
    del reader
    gc.collect()
    assert [repr(x) for x in kept] == before
    assert kept[3].mz == mz and kept[0].instrument == "SYNAPT G2-Si"
    assert [p.value for p in kept[5]] == [f32(v) for _, v in samples.TEMPERATURE]


@pytest.mark.parametrize(
    ("missing", "skipped", "n_scans"), [("write_data", {2}, {1: 3, 3: 2}), ("write_index", {1, 2, 3}, {})]
)
def test_skipped_functions_are_listed_but_not_readable(write_raw, missing: str, skipped: set[int], n_scans) -> None:
    description = samples.sample()
    for number in skipped:
        setattr(description.functions[number - 1], missing, False)
    path = write_raw(description)
    reader = tarnvale.RawReader(path)
    assert [f.index for f in reader.functions] == [1, 2, 3]
    assert reader.ms_level(2) == 2
    for n in skipped:
        for call in (reader.n_scans, reader.function_encoding, lambda n: reader.retention_time(n, 0)):
            assert runtime_error(lambda: call(n)) == f"function {n} not found"
        assert runtime_error(lambda: reader.read_spectrum(n, 0)) == (
            f"{path} function {n} scan 0: parse error: function {n} not present in bundle"
        )
    assert {n: reader.n_scans(n) for n in n_scans} == n_scans


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
def test_chrom_file_numbering(open_raw, channel: int, file_name: str) -> None:
    content = bytes(128) + chro_sample(1.25, float(channel))
    traces = [ChromTrace("a", points=None), ChromTrace("b", points=None)]
    reader = open_raw(RawDir(chroms=Chroms(traces), extra_files={file_name: content}))
    assert [(p.rt_min, p.value) for p in reader.read_chrom(channel)] == [(1.25, float(channel))]
    assert runtime_error(lambda: reader.read_chrom(channel + 1)) == f"CHRO file {channel + 4} not found"


def test_chrom_files_are_read_on_each_call(sample_path: str) -> None:
    reader = tarnvale.RawReader(sample_path)
    assert len(reader.read_chrom(0)) == 3
    (Path(sample_path) / "_CHRO003.DAT").write_bytes(bytes(128))
    assert reader.read_chrom(0) == []
    assert len(reader.channels) == 2


def _odd_names(d: RawDir) -> None:
    d.names.update({"_HEADER.TXT": "_header.txt", "_FUNCTNS.INF": "RUN_FUNCTNS.INF"})
    d.functions[0].lower_case = True
    d.functions[1].prefix = "sample"
    setattr(d.chroms, "file_name", "_chroms.inf")


def _decoy_names(d: RawDir) -> None:
    d.extra_files["X_HEADER.TXT"] = b"$$ Instrument: wrong\n$$ Cal Function x: 1,T1\n"
    d.extra_files["old_FUNC001.IDX"] = bytes(7)


@pytest.mark.parametrize("rename", [_odd_names, _decoy_names], ids=["case and prefix tolerant", "exact name wins"])
def test_file_name_lookup(open_raw, rename) -> None:
    description = samples.sample()
    rename(description)
    reader = open_raw(description)
    assert [reader.n_scans(n) for n in (1, 2, 3)] == [3, 3, 2]
    assert reader.header.instrument == "SYNAPT G2-Si"
    assert len(reader.channels) == 2


def test_only_regular_files_are_found(write_raw, tmp_path: Path) -> None:
    source = write_raw(samples.sample(), "source.raw")
    description = samples.sample()
    description.functions[0].write_index = False
    assert description.chroms is not None
    description.chroms.file_name = "_CHROMS.INF.orig"
    path = Path(write_raw(description))
    (path / "_FUNC001.IDX").mkdir()
    for name in ("_CHROMS.INF", "_FUNC002.STS", "_FUNC003.IDX"):
        (path / name).unlink(missing_ok=True)
        (path / name).symlink_to(Path(source) / name)
    reader = tarnvale.RawReader(str(path))
    assert reader.channels == []
    assert [runtime_error(lambda: reader.n_scans(n)) for n in (1, 3)] == [f"function {n} not found" for n in (1, 3)]
    assert reader.n_scans(2) == 3
    # A symbolic link to a directory is still a directory to open.
    link = tmp_path / "link.raw"
    link.symlink_to(source)
    assert tarnvale.RawReader(str(link)).n_scans(3) == 2


def test_large_scan(open_raw) -> None:
    records = [record_a(1 + i % 60000, *encode_a(50.0 + i * 0.019)) for i in range(60000)]
    spectrum = open_raw(RawDir(functions=[Function("A", [Scan(1.0, records)])])).read_spectrum(1, 0)
    assert len(spectrum) == 60000
    assert spectrum.mz == [decoding.mz_a(r) for r in records]
    assert spectrum.intensity == [float(1 + i % 60000) for i in range(60000)]
