"""Expected decoded values, computed from the encodings' formulas in the same
evaluation order as the reader (Python floats are IEEE binary64 and never fuse
a multiply with an add), so results compare bit for bit."""

from __future__ import annotations

import math
import struct
from collections.abc import Sequence

from rawfixture import f32, tof_k_us


def calibrated(x: float, coefficients: Sequence[float], cal_type: str) -> float:
    if cal_type == "T0":
        return x
    if not coefficients:
        return 0.0
    acc = 0.0
    for c in reversed(coefficients):
        acc = acc * x + c
    return acc


def _square(x: float) -> float:
    return x * x


def mz_a(record: bytes, coefficients: Sequence[float] = (), cal_type: str = "T0") -> float:
    exponent = record[2] >> 4
    mantissa = record[3] | record[4] << 8 | record[5] << 16
    raw = mantissa * 2.0 ** (exponent - 24)
    return _square(calibrated(math.sqrt(raw), coefficients, cal_type))


def mz_d(record: bytes, coefficients: Sequence[float] = (), cal_type: str = "T0") -> float:
    word = struct.unpack_from("<I", record, 4)[0]
    raw = ((word & 0x7FFFFFF) * 2.0**-27) * 2.0 ** (word >> 27)
    return _square(calibrated(math.sqrt(raw), coefficients, cal_type))


def intensity_d(record: bytes) -> float:
    return f32(struct.unpack_from("<I", record, 0)[0] * 2.0**-16)


def _u16(record: bytes, offset: int) -> int:
    value: int = struct.unpack_from("<H", record, offset)[0]
    return value


def flight_mz(
    records: Sequence[bytes],
    lteff: float,
    veff: float,
    mz_low: float,
    mz_high: float,
    coefficients: Sequence[float] = (),
    cal_type: str = "T0",
    with_fraction: bool = False,
) -> list[float]:
    """m/z of the kept records of an encoding B (or, `with_fraction`, C) scan."""
    if len(records) < 2:
        return []
    k = tof_k_us(lteff, veff)
    first, last = float(_u16(records[0], 6)), float(_u16(records[-1], 6))
    if first >= last:
        return []
    t_low = math.sqrt(f32(mz_low)) * k
    slope = (math.sqrt(f32(mz_high)) * k - t_low) / (last - first)
    result = []
    for record in records:
        if _u16(record, 2) == 0:
            continue
        steps = _u16(record, 6) - first
        if with_fraction:
            steps = _u16(record, 4) * 2.0**-16 + steps
        t = steps * slope + t_low
        result.append(_square(calibrated(t, coefficients, cal_type) / k))
    return result


def drift_ms(records: Sequence[bytes], scan_time_s: float) -> list[float]:
    scan_time_ms = f32(scan_time_s) * 1000.0
    return [_u16(r, 4) * scan_time_ms * 2.0**-16 for r in records if _u16(r, 2) != 0]


def kept_u16_intensities(records: Sequence[bytes], offset: int) -> list[float]:
    return [float(_u16(r, offset)) for r in records if _u16(r, offset) != 0]
