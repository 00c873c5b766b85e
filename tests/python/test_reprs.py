"""Exact reprs of every class, including rounding ties and quoting."""

from __future__ import annotations

import math

import pytest
import samples
from rawfixture import Chroms, ChromTrace, Function, FunctionRecord, RawDir, RunHeader, cc_label

import tarnvale

# (mz_low, mz_high, scan_subtype) -> repr of the FunctionInfo in position index.
FUNCTION_REPRS = [
    ((50.0, 1200.0, 0x01), "mz=[50,1200], scan_subtype=0x01, lock_mass=false"),
    ((50.5, 1200.5, 0x81), "mz=[50,1200], scan_subtype=0x81, lock_mass=true"),
    ((49.5, 51.5, 0x00), "mz=[50,52], scan_subtype=0x00, lock_mass=false"),
    ((0.5, 2.5, 0xFF), "mz=[0,2], scan_subtype=0xff, lock_mass=true"),
    ((50.1, 1999.9, 0x7F), "mz=[50,2000], scan_subtype=0x7f, lock_mass=false"),
    ((1e10, 65504.0, 0x80), "mz=[10000000000,65504], scan_subtype=0x80, lock_mass=true"),
]


def test_function_info_reprs(open_raw) -> None:
    functions = [
        Function("A", [], FunctionRecord(mz_low=low, mz_high=high, scan_subtype=subtype), write_index=False)
        for (low, high, subtype), _ in FUNCTION_REPRS
    ]
    infos = open_raw(RawDir(functions=functions)).functions
    assert [repr(info) for info in infos] == [
        f"FunctionInfo(index={i}, {text})" for i, (_, text) in enumerate(FUNCTION_REPRS, start=1)
    ]
    assert [(info.scan_subtype, info.is_lock_mass) for info in infos] == [
        (subtype, bool(subtype & 0x80)) for (_, _, subtype), _ in FUNCTION_REPRS
    ]


# (rt_min, value) written as 32-bit floats -> the repr of the point read back.
CHROM_POINTS = [
    ((1.5, -2.0), "rt_min=1.5000, value=-2.0000"),
    ((2.25, 0.03125), "rt_min=2.2500, value=0.0312"),  # exact tie: rounds to the even digit
    ((0.09375, -0.03125), "rt_min=0.0938, value=-0.0312"),
    ((1.03125, 0.15625), "rt_min=1.0312, value=0.1562"),
    ((0.1, 12345.678), "rt_min=0.1000, value=12345.6777"),  # nearest f32 values, not the decimal ones
    ((-0.00001, 3.4028234663852886e38), "rt_min=-0.0000, value=340282346638528859811704183484516925440.0000"),
    ((math.nan, math.inf), "rt_min=NaN, value=inf"),
    ((-math.inf, 0.0), "rt_min=-inf, value=0.0000"),
]


def test_chrom_point_reprs(open_raw) -> None:
    points = open_raw(RawDir(chroms=Chroms([ChromTrace("Pressure", 4, [p for p, _ in CHROM_POINTS])]))).read_chrom(0)
    assert [repr(p) for p in points] == [f"ChromPoint({text})" for _, text in CHROM_POINTS]


@pytest.mark.parametrize(
    ("instrument", "date", "expected"),
    [
        (None, None, 'RunHeader(instrument="", acquired_date="")'),
        ("QTOF", "14-Jan-2021", 'RunHeader(instrument="QTOF", acquired_date="14-Jan-2021")'),
        ('Say "hi"', "a\\b", 'RunHeader(instrument="Say \\"hi\\"", acquired_date="a\\\\b")'),
        ("tab\there", "it's", 'RunHeader(instrument="tab\\there", acquired_date="it\'s")'),
        ("Zürich µ", "x\x01y\x7fz", 'RunHeader(instrument="Zürich µ", acquired_date="x\\u{1}y\\u{7f}z")'),
        ("cr\rinside", "nul\x00x", 'RunHeader(instrument="cr\\rinside", acquired_date="nul\\0x")'),
    ],
)
def test_run_header_repr(open_raw, instrument: str | None, date: str | None, expected: str) -> None:
    header = RunHeader(version=None, acquired_date=date, acquired_time=None, instrument=instrument)
    result = open_raw(RawDir(header=header)).header
    assert repr(result) == expected
    assert (result.instrument, result.acquired_date) == (instrument, date)


def test_chrom_channel_reprs(open_raw) -> None:
    channels = [
        ChromTrace(cc_label("Pressure", 1, "bar")),
        ChromTrace("O'Brien pump"),
        ChromTrace(cc_label("Flow", "0.5", "'ml'/min", hidden=False)),
    ]
    assert [repr(c) for c in open_raw(RawDir(chroms=Chroms(channels))).channels] == [
        "ChromChannel(index=0, name='Pressure', units='bar')",
        "ChromChannel(index=1, name='O'Brien pump', units='')",
        "ChromChannel(index=2, name='Flow$CC$,0.5,0,0,0,'ml'/min', units=''ml'/min')",
    ]


def test_spectrum_and_reader_reprs(tmp_path) -> None:
    path = str(samples.sample().write(tmp_path / "it's here.raw"))
    reader = tarnvale.RawReader(path)
    assert repr(reader) == f"RawReader('{path}', 3 function(s), 2 channel(s))"
    assert repr(reader.read_spectrum(1, 0)) == "Spectrum(3 peaks)"
    assert repr(reader.read_spectrum(1, 2)) == "Spectrum(0 peaks)"
    assert repr(reader.read_ims_spectrum(2, 0)) == "ImsSpectrum(3 ions)"
    assert repr(reader.read_ims_spectrum(2, 1)) == "ImsSpectrum(0 ions)"
    bare = str(RawDir().write(tmp_path / "bare.raw"))
    assert repr(tarnvale.RawReader(bare)) == f"RawReader('{bare}', 0 function(s), 0 channel(s))"
