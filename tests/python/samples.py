"""Descriptions of the .raw directories the tests read.

`sample()` is a SYNAPT acquisition with one function per 1-D/IMS encoding the
instrument can produce (A, B, D), scan statistics and two chromatogram
channels; `xevo()` is a non-SYNAPT acquisition whose 30-byte index makes its
function encoding C.  Tests copy and alter these descriptions.  `runtime_error`
returns the exact message of a failing call.
"""

from __future__ import annotations

from collections.abc import Callable

import pytest
from rawfixture import (
    CalLine, Chroms, ChromTrace, Extern, ExternSection, Function, FunctionRecord, RawDir, RunHeader, Scan, cc_label,
    collision_energy_sts, encode_a, encode_d, position_for_mz, record_a, record_b, record_c, record_d,
)

LTEFF, VEFF = 1800.0, 7200.0
CAL_A = [0.0012, 0.99986]
CAL_B = [0.05, 1.0002, 1e-7]

# Function 1, encoding A. Scan 2 is empty; the zero-intensity record carries an
# invalid m/z word that must be skipped, not rejected.
SCANS_A = [
    [record_a(100, 0x90, 0x800000), record_a(0, 0x01, 0x000001), record_a(65535, *encode_a(1048.5))]
    + [record_a(7, *encode_a(0.75))],
    [record_a(1234, *encode_a(524.2649)), record_a(50, *encode_a(32767.9))],
    [],
]
RT_A = [0.0167, 0.0333, 0.05]

# Function 2, encoding B: anchors at positions 100 and 4100. Scan 1 holds a
# single record, which decodes to an empty IMS spectrum.
FIRST_B, LAST_B = 100, 4100
MZ_LOW_B, MZ_HIGH_B, SCAN_TIME_B = 50.0, 2000.0, 0.5
SCANS_B = [
    [record_b(0, 0, FIRST_B), record_b(300, 32768, 1000)]
    + [record_b(20, 9000, round(position_for_mz(556.2766, MZ_LOW_B, MZ_HIGH_B, FIRST_B, LAST_B)))]
    + [record_b(0, 65535, 3000, unused=0xFFFF), record_b(65535, 65535, 4000), record_b(0, 0, LAST_B)],
    [record_b(10, 10, 10)],
    [record_b(5, 100, FIRST_B), record_b(6, 200, 2100), record_b(7, 300, LAST_B)],
]
RT_B = [0.02, 0.04, 0.06]

# Function 3, encoding D (8-byte spacing of a 22-byte index), lock mass, no
# calibration line.
SCANS_D = [
    [record_d(98304, encode_d(556.2766)), record_d(0x01FFFFFF, encode_d(278.1141)), record_d(0, 1)],
    [record_d(65536, 0x0C000000), record_d(3 << 16, encode_d(1.0e9))],
]
RT_D = [0.25, 0.5]

PRESSURE = [(0.0, 310.0), (0.05, 312.5), (0.1, 0.1)]
TEMPERATURE = [(0.0, 45.0), (1.5, -2.0)]
TEMPERATURE_LABEL = b"Temp \x80\xb0\x81\0$CC$, 2.5 ,a,b,c,\xb0C,x"


def _scans(times: list[float], records: list[list[bytes]]) -> list[Scan]:
    return [Scan(rt, list(scan)) for rt, scan in zip(times, records, strict=True)]


def sample() -> RawDir:
    header = RunHeader(
        version="01.00", acquired_name="sample", acquired_date="14-Jan-2021", acquired_time="16:20:52",
        instrument="SYNAPT G2-Si", user_name="operator", sample_description="QC: leucine enkephalin",
        cal=[CalLine(1, list(CAL_A), "T1"), CalLine(2, list(CAL_B), "T1")],
    )
    extern = Extern(
        lteff=LTEFF, veff=VEFF, polarity="ES+",
        sections=[
            ExternSection(1, "TOF MS FUNCTION", start_mass=50.0, end_mass=1200.0),
            ExternSection(2, "TOF MSMS FUNCTION", set_mass=556.28),
            ExternSection(3, "REFERENCE FUNCTION"),
        ],
    )
    functions = [
        Function(
            "A", _scans(RT_A, SCANS_A), FunctionRecord(scan_subtype=0x01, mz_low=50.0, mz_high=1200.0),
            sts=collision_energy_sts([6.0, 6.0, 6.0]),
        ),
        Function(
            "B", _scans(RT_B, SCANS_B),
            FunctionRecord(scan_subtype=0x02, scan_time_s=SCAN_TIME_B, mz_low=MZ_LOW_B, mz_high=MZ_HIGH_B),
            sts=collision_energy_sts([20.0, 25.0, 30.0]),
        ),
        Function("D", _scans(RT_D, SCANS_D), FunctionRecord(scan_subtype=0x81, mz_low=100.0, mz_high=1000.0)),
    ]
    pressure = ChromTrace(cc_label("Pump Pressure", 0.1, "bar"), 4, list(PRESSURE))
    chroms = Chroms([pressure, ChromTrace(TEMPERATURE_LABEL, 1, list(TEMPERATURE))])
    return RawDir(header, extern, functions, chroms)


FIRST_C, LAST_C = 0, 20000
MZ_LOW_C, MZ_HIGH_C = 50.0, 1200.0
CAL_C = [0.01, 0.9999]
SCANS_C = [
    [record_c(0, FIRST_C, 0), record_c(10, 5000, 0), record_c(20, 5000, 32768), record_c(30, 12345, 65535)]
    + [record_c(0, LAST_C, 0)],
    [record_c(1, 7, 0), record_c(2, 7, 0)],
]


def xevo() -> RawDir:
    header = RunHeader(instrument="XEVO-G2XSQTOF#NotSet", cal=[CalLine(1, list(CAL_C), "T1")])
    extern = Extern(lteff=LTEFF, veff=VEFF, polarity="ES-", sections=[ExternSection(1, "TOF MS FUNCTION")])
    function = Function("C", _scans([0.1, 0.2], SCANS_C), FunctionRecord(mz_low=MZ_LOW_C, mz_high=MZ_HIGH_C))
    return RawDir(header, extern, [function])


def runtime_error(call: Callable[[], object]) -> str:
    """The message of the RuntimeError (that very type, no subclass) `call` raises."""
    with pytest.raises(RuntimeError) as caught:
        call()
    assert type(caught.value) is RuntimeError
    return str(caught.value)
