"""Small runs for the quick-look picture's tests, with known chromatograms.

`quick_run()` is a SYNAPT acquisition with an MS1 survey (encoding A) whose TIC
peaks at scan 2, an ion-mobility MS/MS function (B) whose ions recur at several
drift times, a lock mass function (D), a pressure channel and a channel whose
data file is missing.  `run_of(kinds)` builds runs of chosen function kinds.
"""

from __future__ import annotations

from collections.abc import Sequence

from rawfixture import (
    CalLine, Chroms, ChromTrace, Extern, ExternSection, Function, FunctionRecord, RawDir, RunHeader, cc_label,
    position_for_mz, scan_a, scan_b, scan_d,
)

PEAKS = [(195.0877, 800), (524.2649, 2500), (556.2766, 1200), (785.8426, 3100)]
WEIGHTS = [1, 3, 7, 4, 2]  # scan 2 is the TIC apex
RT_A = [0.1 * (i + 1) for i in range(len(WEIGHTS))]
FIRST_B, LAST_B = 100, 30000
PRESSURE = [(0.05 * i, 300.0 + i) for i in range(12)]


def survey(weights: Sequence[int] = WEIGHTS) -> Function:
    return Function("A", [scan_a(rt, [(mz, h * w) for mz, h in PEAKS]) for rt, w in zip(RT_A, weights)],
                    FunctionRecord(mz_low=100.0, mz_high=1200.0))


def mobility(n_scans: int = 3) -> Function:
    def position(mz: float) -> int:
        return round(position_for_mz(mz, 50.0, 2000.0, FIRST_B, LAST_B))

    ions = [(position(mz), drift, h // (k + 1)) for mz, h in PEAKS for k, drift in enumerate((900, 1000, 1300))]
    scans = [scan_b(0.1 * (i + 1) + 0.02, ions[i:], FIRST_B, LAST_B) for i in range(n_scans)]
    return Function("B", scans, FunctionRecord(scan_subtype=0x02, scan_time_s=0.5, mz_low=50.0, mz_high=2000.0))


def lock_mass() -> Function:
    scans = [scan_d(0.25 * (i + 1), [(556.2766, 5000.0 + i), (278.1141, 320.25)]) for i in range(3)]
    return Function("D", scans, FunctionRecord(scan_subtype=0x81, mz_low=100.0, mz_high=1000.0))


# Function kinds of run_of: the function and its _extern.inf title.
KINDS = {
    "ms1": (survey, "TOF MS FUNCTION"),
    "msms": (survey, "TOF MSMS FUNCTION"),
    "ims": (mobility, "TOF MSMS FUNCTION"),
    "lock": (lock_mass, "REFERENCE FUNCTION"),
    "empty": (lambda: survey([]), "TOF MS FUNCTION"),
}


def run_of(kinds: Sequence[str], channels: bool = False) -> RawDir:
    functions = [KINDS[kind][0]() for kind in kinds]
    sections = [ExternSection(n, KINDS[kind][1]) for n, kind in enumerate(kinds, start=1)]
    cal = [CalLine(n, [0.0, 1.0]) if f.encoding != "D" else CalLine(n, [], "T0") for n, f in enumerate(functions, 1)]
    header = RunHeader(acquired_name="quick", instrument="SYNAPT G2-Si", sample_description="plot test", cal=cal)
    traces = [ChromTrace(cc_label("Pump Pressure", 1.0, "bar"), 4, PRESSURE), ChromTrace("Broken", 1, None)]
    return RawDir(header, Extern(sections=sections), functions, Chroms(traces) if channels else None)


def quick_run() -> RawDir:
    return run_of(["ms1", "ims", "lock"], channels=True)
