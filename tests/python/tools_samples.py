"""Directories for the tarnvale_tools tests: random functions of every encoding,
with calibration, statistics, zero-intensity records, a scan clamped at the end
of the data file and a last scan cut short inside a record; and scans whose
greatest intensity is at more than one m/z."""

from __future__ import annotations

import random

from rawfixture import (
    CalLine, Extern, Function, FunctionRecord, RawDir, RunHeader, Scan, collision_energy_sts, encode_a, encode_d,
    position_for_mz, record_a, record_b, record_c, record_d, scan_a, scan_b,
)

ENCODINGS = ["A", "B", "C", "D"]


def _intensity(rng: random.Random) -> int:
    return 0 if rng.random() < 0.15 else rng.randrange(1, 65536)


def _records(encoding: str, rng: random.Random, count: int) -> list[bytes]:
    if encoding == "A":
        return [record_a(_intensity(rng), *encode_a(rng.uniform(40.0, 4000.0))) for _ in range(count)]
    if encoding == "D":
        return [record_d(_intensity(rng) << rng.randrange(0, 16), encode_d(rng.uniform(40.0, 4000.0))) for _ in range(count)]
    position = rng.randrange(0, 2000)
    records = []
    for _ in range(count):
        word = rng.randrange(0, 65536)
        if encoding == "B":
            records.append(record_b(_intensity(rng), word, position, rng.randrange(0, 65536)))
        else:
            records.append(record_c(_intensity(rng), position, word))
        position = min(position + rng.randrange(1, 3000), 65535)
    return records


def random_raw(encoding: str, seed: int, scans: int = 40, max_points: int = 12, damaged: bool = True) -> RawDir:
    rng = random.Random(f"{encoding}{seed}")
    scan_list = []
    for i in range(scans):
        count = rng.randrange(1 if i < 2 else 0, max_points + 1)
        scan_list.append(Scan(0.01 * (i + 1), _records(encoding, rng, count)))
    function = Function(
        encoding,
        scan_list,
        FunctionRecord(scan_time_s=rng.uniform(0.1, 2.0), mz_low=rng.uniform(20.0, 100.0), mz_high=rng.uniform(1000.0, 4000.0)),
        sts=collision_energy_sts([rng.uniform(5.0, 50.0) for _ in range(scans - rng.randrange(0, 3))]),
    )
    if damaged:
        if encoding in ("A", "D"):
            scan_list[-2].n_points = len(scan_list[-2].records) + 1000  # clamped at the end of the file
        function.data_bytes = function.render_data() + bytes([7] * rng.randrange(1, 6))  # a record cut short
    cal = [CalLine(1, [rng.uniform(-0.01, 0.01), rng.uniform(0.999, 1.001), rng.uniform(-1e-6, 1e-6)], "T1")]
    header = RunHeader(instrument="SYNAPT G2-Si" if encoding == "B" else "XEVO-G2XSQTOF", cal=cal)
    return RawDir(header, Extern(lteff=rng.uniform(900.0, 2000.0), veff=rng.uniform(5000.0, 10000.0)), [function])


def tied_maxima() -> RawDir:
    """Scans whose greatest intensity is at two different m/z (and drift times), the
    two side by side, far apart, and first and last: the base peak is the first."""
    peaks = [
        [(300.0, 100), (400.0, 900), (500.0, 900), (600.0, 50)],
        [(200.0, 7), (300.0, 9000), (350.0, 1), (400.0, 1), (450.0, 1), (500.0, 1), (550.0, 1), (600.0, 9000)],
        [(300.0, 4000), (350.0, 1), (400.0, 2), (450.0, 3), (500.0, 4), (550.0, 4000)],
    ]
    survey = Function("A", [scan_a(0.01 * (i + 1), scan) for i, scan in enumerate(peaks)], FunctionRecord())
    first, last, low, high = 100, 4100, 50.0, 2000.0

    def ions(scan: list[tuple[float, int]]) -> list[tuple[int, int, int]]:
        return [(round(position_for_mz(mz, low, high, first, last)), 900 - i, n) for i, (mz, n) in enumerate(scan)]

    mobility = Function(
        "B", [scan_b(0.01 * (i + 1) + 0.005, ions(scan), first, last) for i, scan in enumerate(peaks)],
        FunctionRecord(scan_time_s=0.5, mz_low=low, mz_high=high),
    )
    header = RunHeader(instrument="SYNAPT G2-Si", cal=[CalLine(1, [0.0, 1.0], "T1"), CalLine(2, [0.0, 1.0], "T1")])
    return RawDir(header, Extern(), [survey, mobility])
