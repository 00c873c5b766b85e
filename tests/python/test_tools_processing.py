"""Peak picking and lock-mass correction through tarnvale_tools: the keywords'
failures, processed columns against processed single scans, the planted drift
corrected within its targets, and the arrays still shared."""

from __future__ import annotations

import random

import numpy as np
import pytest
import tarnvale_tools as tt
from rawfixture import (
    CalLine, Extern, Function, FunctionRecord, GaussianPeak, LockMassDrift, RawDir, RunHeader, lock_mass_scans,
    position_for_mz, profile_counts, profile_scan_b, profile_scan_c, scan_d,
)

LEU_ENK = tt.lock_mass_presets()["leu-enk"][1]
FIRST, LAST, LOW, HIGH = 100, 60000, 50.0, 2000.0


def drifted_run(seed: int, minutes: float = 10.0, survey_every_s: float = 2.0) -> tuple[RawDir, LockMassDrift, list]:
    """Profile B (function 1) and C (2) scans and a D survey (3) whose m/z drift from
    -20 to +20 ppm, and D lock scans (4) every 10-30 s, some without the reference."""
    rng = random.Random(seed)
    drift = LockMassDrift(-20.0, 20.0, minutes)
    truth = sorted(rng.uniform(150.0, 1500.0) for _ in range(12))
    times = [(i + 0.5) * survey_every_s / 60 for i in range(int(minutes * 60 / survey_every_s))]

    def peaks(rt: float) -> list[GaussianPeak]:
        return [
            GaussianPeak(position_for_mz(drift.observed(mz, rt), LOW, HIGH, FIRST, LAST), rng.uniform(1, 3), rng.uniform(300, 20000))
            for mz in truth
        ]

    ims = [profile_scan_b(t, {word: profile_counts(peaks(t), rng) for word in (9000, 9400)}, FIRST, LAST) for t in times]
    tof = [profile_scan_c(t, profile_counts(peaks(t), rng), FIRST, LAST) for t in times]
    survey = [scan_d(t, [(drift.observed(mz, t), 1000.0) for mz in truth]) for t in times]
    lock, _ = lock_mass_scans(drift, LEU_ENK, rng)
    record = FunctionRecord(scan_time_s=0.5, mz_low=LOW, mz_high=HIGH)
    functions = [
        Function("B", ims, record),
        Function("C", tof, record, index_variant="B"),
        Function("D", survey, FunctionRecord(mz_low=LOW, mz_high=HIGH)),
        Function("D", lock, FunctionRecord(scan_subtype=0x81, mz_low=100.0, mz_high=1000.0)),
    ]
    header = RunHeader(instrument="SYNAPT G2-Si", cal=[CalLine(n, [0.0, 1.0], "T1") for n in (1, 2)])
    return RawDir(header, Extern(), functions), drift, truth


@pytest.fixture(scope="module")
def drifted(tmp_path_factory) -> tuple[str, LockMassDrift, list]:
    raw, drift, truth = drifted_run(7)
    return str(raw.write(tmp_path_factory.mktemp("drift") / "drift.raw")), drift, truth


@pytest.mark.parametrize(
    ("keywords", "error", "message"),
    [
        ({"lock_mass": "leucine"}, ValueError, "lock_mass must be an m/z or one of leu-enk"),
        ({"lock_mass": -1.0}, ValueError, "the lock-mass m/z must be a finite number > 0, not -1"),
        ({"lock_mass": "leu-enk", "lock_mass_tolerance": -0.1}, ValueError, "tolerance must be a finite number >= 0"),
        ({"lock_mass_tolerance": 0.1}, ValueError, "lock_mass_tolerance applies only with lock_mass"),
        ({"min_intensity": 5}, ValueError, "min_intensity applies only with centroid=True"),
        ({"centroid": True, "min_points": 0}, ValueError, "the minimum points per peak must be at least 1"),
        ({"centroid": True, "min_intensity": float("nan")}, ValueError, "minimum intensity must be a finite number"),
        ({"lock_mass": "leu-enk", "lock_mass_function": 9}, RuntimeError, "lock-mass function 9 is not a readable"),
        ({"lock_mass": 300.0}, RuntimeError, "none of the"),
        ({"lock_mass": "x" * 3, "centroid": "yes"}, ValueError, "lock_mass must be"),
        ({"centroid": True, "min_points": "2"}, TypeError, "'str' object cannot be interpreted as an integer"),
    ],
)
def test_bad_keywords(drifted, keywords: dict, error: type, message: str) -> None:
    run = tt.Run(drifted[0])
    for call in (lambda: run.columns(1, **keywords), lambda: run.tic(3, **keywords), lambda: run.read_scan(1, 0, **keywords)):
        with pytest.raises(error, match=message.replace("(", r"\(")):
            call()


def test_lock_functions_must_be_there_and_single(write_raw, drifted) -> None:
    raw, _, _ = drifted_run(3, minutes=1.0)
    raw.functions[3].info.scan_subtype = 0x01
    none = tt.Run(write_raw(raw, "none.raw"))
    with pytest.raises(RuntimeError, match="no lock-mass function"):
        none.columns(1, lock_mass="leu-enk")
    raw.functions[2].info.scan_subtype = raw.functions[3].info.scan_subtype = 0x81
    two = tt.Run(write_raw(raw, "two.raw"))
    with pytest.raises(RuntimeError, match=r"several lock-mass functions \(3, 4\)"):
        two.lock_mass_trace("leu-enk")
    assert len(two.lock_mass_trace("leu-enk", function=4)[0]) == len(raw.functions[3].scans)


@pytest.mark.parametrize("function", [1, 2, 3, 4])
def test_processed_columns_equal_processed_scans(drifted, function: int) -> None:
    run = tt.Run(drifted[0])
    keywords = {"centroid": True, "min_intensity": 20.0, "lock_mass": "leu-enk"}
    one = run.columns(function, **keywords)
    two = run.columns(function, threads=2, **keywords)
    for name in ("scan_offsets", "mz", "intensity"):
        assert bytes(getattr(one, name)) == bytes(getattr(two, name))
    for scan in range(len(one)):
        alone = run.read_scan(function, scan, **keywords)
        mz, intensity = one.scan(scan)
        assert (bytes(alone.mz), bytes(alone.intensity)) == (bytes(mz), bytes(intensity))
    if function in (1, 2):  # profile functions shrink to their peaks
        assert one.n_points < run.columns(function).n_points / 3
    traces = run.chromatograms(function, targets=[500.0], da=400.0, **keywords)
    offsets = np.asarray(one.scan_offsets).astype(np.int64)
    intensity = np.asarray(one.intensity, dtype=np.float64)
    sums = [intensity[offsets[i] : offsets[i + 1]].sum() for i in range(len(one))]
    assert np.allclose(np.asarray(traces.tic), sums)


def test_the_planted_drift_is_corrected(drifted) -> None:
    path, drift, truth = drifted
    run = tt.Run(path)
    rt, observed, ppm = (np.asarray(a) for a in run.lock_mass_trace("leu-enk"))
    found = ~np.isnan(observed)
    assert 0 < found.sum() < len(rt)  # some lock scans lack the reference
    expected = np.array([drift.ppm(t) for t in rt[found]])
    assert np.abs(ppm[found] - expected).max() <= 0.31  # the jitter planted
    errors = {}
    for name, keywords in (("before", {}), ("after", {"lock_mass": "leu-enk"})):
        mz = np.asarray(run.columns(3, **keywords).mz).reshape(-1, len(truth))
        error = (mz - np.array(truth)) / np.array(truth) * 1e6
        errors[name] = float(np.sqrt(np.mean(error**2))), float(np.abs(error).max())
    assert errors["before"][1] > 19
    assert errors["after"][0] <= 0.5 and errors["after"][1] <= 1.5, errors


def test_centroided_profile_lands_on_the_truth(drifted) -> None:
    path, drift, truth = drifted
    run = tt.Run(path)
    for function in (1, 2):
        cols = run.columns(function, centroid=True, min_intensity=100.0, lock_mass="leu-enk")
        for scan in range(0, len(cols), 37):
            mz = np.sort(np.unique(np.asarray(cols.scan(scan)[0])))
            nearest = np.array([mz[np.argmin(np.abs(mz - t))] for t in truth])
            # A tenth of a bin is about 6 ppm at m/z 1000 on this axis.
            assert np.all(np.abs(nearest - truth) / truth * 1e6 < 15), (function, scan)


def test_processed_columns_stay_shared(drifted) -> None:
    run = tt.Run(drifted[0])
    cols = run.columns(1, centroid=True, lock_mass="leu-enk")
    assert np.shares_memory(np.asarray(cols.mz), np.asarray(cols.scan(0)[0]))
    assert cols.mz.readonly
