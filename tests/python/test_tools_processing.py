"""Peak picking and lock-mass correction through tarnvale_tools: the keywords'
failures, processed columns against processed single scans, the planted drift
corrected within its targets, and the arrays still shared."""

from __future__ import annotations

import json
import random
import re
import shutil
from pathlib import Path

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
    cal = [CalLine(n, [0.0, 1.0], "T1") for n in (1, 2)] + [CalLine(n, [], "T0") for n in (3, 4)]
    header = RunHeader(instrument="SYNAPT G2-Si", cal=cal)
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


@pytest.mark.filterwarnings("ignore:Testing an element's truth value:DeprecationWarning")  # pymzML under 3.14
def test_converted_mzml_says_what_was_done_and_holds_the_processed_scans(drifted, tmp_path) -> None:
    import mzml_checks
    import tarnvale
    from mzml_verdicts import verdicts

    path = drifted[0]
    keywords = {"centroid": True, "min_intensity": 20.0, "lock_mass": "leu-enk"}
    one, two = tmp_path / "one.mzML", tmp_path / "two.mzML"
    tt.write_mzml(path, one, **keywords)
    tt.write_mzml(path, two, threads=2, **keywords)
    assert one.read_bytes() == two.read_bytes()
    assert [problem for _, _, problem in verdicts(path, str(one)) if problem] == []
    text = one.read_text()
    head = text.split("<run ", 1)[0]
    for term in ('accession="MS:1000035" name="peak picking"', 'accession="MS:1001485" name="m/z calibration"',
                 '<userParam name="lock mass reference m/z" value="556.276575014131" type="xsd:double"/>',
                 '<userParam name="lock mass tolerance (Da)" value="0.25" type="xsd:double"/>',
                 '<userParam name="lock mass function" value="4" type="xsd:integer"/>',
                 '<userParam name="minimum peak intensity" value="20" type="xsd:double"/>'):
        assert term in head, term
    used = int(re.search(r'"lock scans used" value="(\d+)"', head).group(1))
    trace = tt.Run(path).lock_mass_trace("leu-enk")[1]
    assert used == int(np.count_nonzero(~np.isnan(np.asarray(trace))))
    spectra, _ = mzml_checks.read_pyteomics(one)
    assert spectra and all(spectrum.centroid for spectrum in spectra)  # B picked; C, D centroid already
    samples_dir = Path(tarnvale.__file__).resolve().parent.parent / "mzml-samples"
    samples_dir.mkdir(exist_ok=True)
    shutil.copyfile(one, samples_dir / "tools_processed_centroid_lockmass.mzML")  # for the pyopenms check
    plain = tmp_path / "plain.mzML"
    tt.write_mzml(path, plain)
    assert "MS:1000035" not in plain.read_text().split("<run ", 1)[0]


def test_parquet_and_batches_take_the_same_keywords(drifted, tmp_path) -> None:
    pq = pytest.importorskip("pyarrow.parquet")
    pc = pytest.importorskip("pyarrow.compute")
    path = drifted[0]
    keywords = {"centroid": True, "lock_mass": "leu-enk"}
    tt.write_parquet(path, tmp_path / "run.parquet", **keywords)
    table = pq.read_table(tmp_path / "run.parquet")
    metadata = json.loads(table.schema.metadata[b"tarnvale.run"])
    assert metadata["processing"] == keywords
    picked = table.filter(pc.equal(table["function"], 1))
    assert picked["mz"].to_pylist() == tt.Run(path).columns(1, **keywords).mz.tolist()
    outcomes = tt.convert_many([path], tmp_path / "batch", **keywords)
    assert outcomes[0].ok and "MS:1001485" in Path(outcomes[0].output).read_text()
    with pytest.raises(ValueError, match="lock-mass tolerance"):
        tt.convert_many([path], tmp_path / "bad", lock_mass="leu-enk", lock_mass_tolerance=-1)


@pytest.mark.parametrize(
    ("args", "message"),
    [
        (["--lock-mass", "leucine"], "--lock-mass must be an m/z or one of leu-enk"),
        (["--lock-mass", "leu-enk", "--lock-mass-tolerance", "-0.5"], "tolerance must be a finite number >= 0"),
        (["--lock-mass-tolerance", "1"], "--lock-mass-tolerance applies only with --lock-mass"),
        (["--lock-mass", "leu-enk", "--lock-mass-function", "9"], "lock-mass function 9 is not a readable"),
        (["--lock-mass", "leu-enk", "--unflagged"], "the run has no lock-mass function"),
        (["--min-intensity", "5", "--convert"], "--min-intensity applies only with --centroid"),
        (["--centroid", "--min-points", "0", "--convert"], "the minimum points per peak must be at least 1"),
    ],
)
@pytest.mark.parametrize("command", ["convert", "info", "plot"])
def test_command_line_refuses_bad_values_with_one_line(
    drifted, write_raw, tmp_path, capsys, command: str, args: list[str], message: str
) -> None:
    from tarnvale_tools.cli import main

    if "--convert" in args and command != "convert":
        pytest.skip("peak picking is an option of convert")
    path = drifted[0]
    if "--unflagged" in args:
        raw, _, _ = drifted_run(5, minutes=1.0)
        raw.functions[3].info.scan_subtype = 0x01
        path = write_raw(raw, "unflagged.raw")
    options = [arg for arg in args if arg not in ("--unflagged", "--convert")]
    where = {"convert": ["-o", str(tmp_path / "out")], "info": [], "plot": ["-o", str(tmp_path / "q.png")]}[command]
    status = main([command, path, *where, *options])
    err = capsys.readouterr().err.strip().splitlines()
    assert status == 2 and len(err) == 1 and message in err[0], err
    assert not (tmp_path / "out").exists() and not (tmp_path / "q.png").exists()


def test_info_reports_the_lock_mass_before_and_after_correction(drifted, capsys) -> None:
    from tarnvale_tools.cli import main

    assert main(["info", drifted[0], "--lock-mass", "leu-enk"]) == 0
    lines = capsys.readouterr().out.splitlines()
    at = next(i for i, line in enumerate(lines) if line.startswith("Lock mass 556.2766 (function 4, within 0.25 Da)"))
    before, after = lines[at + 1], lines[at + 2]
    assert before.startswith("  before correction: median ") and after.startswith("  after correction:  median ")
    assert main(["info", drifted[0], "--lock-mass", "556.276575", "--json"]) == 0
    lock = json.loads(capsys.readouterr().out)["lock_mass"]
    assert lock["function"] == 4 and 0 < lock["found"] < lock["lock_scans"]
    assert lock["ppm_error_before"]["min"] < -15 and lock["ppm_error_before"]["max"] > 15  # the planted drift
    assert abs(lock["ppm_error_after"]["median"]) < 0.5 and lock["ppm_error_after"]["max"] < 1.5


def test_plot_draws_the_ppm_trace_over_the_lock_mass_panel(drifted) -> None:
    pytest.importorskip("matplotlib")
    from tarnvale_tools.plot import quicklook_figure
    from tarnvale_tools.quicklook import gather

    figure = quicklook_figure(gather(drifted[0], lock_mass={"mz": "leu-enk"}))
    (axes,) = [a for a in figure.axes if a.get_label() == "lock mass ppm"]
    rt, _, ppm = tt.Run(drifted[0]).lock_mass_trace("leu-enk")
    (line,) = axes.get_lines()[1:]
    assert np.array_equal(line.get_ydata(), np.asarray(ppm), equal_nan=True)
    assert np.array_equal(line.get_xdata(), np.asarray(rt))
