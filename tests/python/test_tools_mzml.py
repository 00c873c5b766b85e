"""tarnvale_tools._core.write_mzml: synthetic runs of every encoding and the demo
runs converted to indexed mzML and checked by every validator: the schemas (psims),
the project's index and checksum checker, and read-back with pyteomics and pymzML,
every array compared with tarnvale.RawReader (m/z bit for bit, intensity exact as
float32). The files are left in BUILD/mzml-samples for the host's pyopenms check."""

from __future__ import annotations

import json
import re
import shutil
from pathlib import Path

import mzml_checks
import numpy as np
import pytest
import rawfixture
import samples
import tools_samples
from expected_spectra import drift_word, expected_spectra

import tarnvale
import tarnvale_tools as tt
from tarnvale_tools import _core

# pymzML's spectra clear themselves when collected and warn about it under Python 3.14.
pytestmark = pytest.mark.filterwarnings("ignore:Testing an element's truth value:DeprecationWarning")

def _lcms_with_solvent_channel() -> rawfixture.RawDir:
    """The LC run with a third channel whose units ("%B") name no unit and whose name
    no chromatogram type: it must still make a file every reader accepts."""
    run = rawfixture.demo_lc()
    solvent = [(0.1 * i, 5.0 + 2.0 * i) for i in range(46)]
    run.chroms.channels.append(rawfixture.ChromTrace(rawfixture.cc_label("Solvent B", 1.0, "%B"), 4, solvent))
    return run


RUNS = {
    "a": lambda: tools_samples.random_raw("A", 1, damaged=False),
    "b": lambda: tools_samples.random_raw("B", 2, damaged=False),
    "c": lambda: tools_samples.random_raw("C", 3, damaged=False),
    "d": lambda: tools_samples.random_raw("D", 4, damaged=False),
    "sample": samples.sample,
    "lcms": rawfixture.demo_lc,
    "lcms_solvent": _lcms_with_solvent_channel,
}

# (run, compression, ims, skip_lock_mass)
CONVERSIONS = [
    ("a", True, "combined", False),
    ("b", True, "combined", False),
    ("b", False, "per-bin", False),
    ("c", False, "combined", False),
    ("d", True, "per-bin", False),
    ("sample", True, "combined", False),
    ("sample", True, "per-bin", True),
    ("lcms", True, "combined", False),
    ("lcms", True, "per-bin", True),
    ("lcms_solvent", False, "combined", True),
]

# The runs with several functions, channels and lock mass, as an instrument writes them.
REAL_RUN_CONVERSIONS = [c for c in CONVERSIONS if c[0] in ("sample", "lcms", "lcms_solvent")]

ID = re.compile(r"function=(\d+) process=0 scan=(\d+)(?: driftBin=(\d+))?")


def _label(run: str, compression: bool, ims: str, skip: bool) -> str:
    return f"tools_{run}_{'zlib' if compression else 'none'}_{ims}{'_nolock' if skip else ''}"


@pytest.fixture(scope="module")
def raw_dirs(tmp_path_factory: pytest.TempPathFactory) -> dict[str, str]:
    root = tmp_path_factory.mktemp("runs")
    return {name: str(make().write(root / f"{name}.raw")) for name, make in RUNS.items()}


@pytest.fixture(scope="module")
def converted(raw_dirs: dict[str, str], tmp_path_factory: pytest.TempPathFactory) -> dict[tuple, tuple[Path, int]]:
    """Every conversion, written once; copied where the pyopenms check finds it."""
    out = tmp_path_factory.mktemp("mzml")
    samples_dir = Path(tarnvale.__file__).resolve().parent.parent / "mzml-samples"
    samples_dir.mkdir(exist_ok=True)
    files = {}
    for case in CONVERSIONS:
        run, compression, ims, skip = case
        path = out / f"{_label(*case)}.mzML"
        written, _ = _core.write_mzml(raw_dirs[run], str(path), compression=compression, ims=ims, skip_lock_mass=skip)
        shutil.copyfile(path, samples_dir / path.name)
        files[case] = (path, written)
    return files


@pytest.mark.parametrize("case", CONVERSIONS, ids=[_label(*c) for c in CONVERSIONS])
def test_schema_and_index(converted: dict, case: tuple) -> None:
    path, _ = converted[case]
    assert mzml_checks.schema_errors(path) == []
    assert mzml_checks.index_problems(path) == []


@pytest.mark.parametrize("reader", ["pyteomics", "pymzml"])
@pytest.mark.parametrize("case", CONVERSIONS, ids=[_label(*c) for c in CONVERSIONS])
def test_spectra_read_back_as_decoded(raw_dirs: dict, converted: dict, case: tuple, reader: str) -> None:
    run, _, ims, skip = case
    path, written = converted[case]
    read = mzml_checks.read_pyteomics if reader == "pyteomics" else mzml_checks.read_pymzml
    spectra, _ = read(path)
    expected = expected_spectra(raw_dirs[run], ims, skip)
    assert written == len(spectra)
    assert [s.id for s in spectra] == list(expected)
    for spectrum in spectra:
        ms_level, mz, intensity, drift = expected[spectrum.id]
        assert spectrum.ms_level == ms_level
        assert mzml_checks.same_bits(spectrum.mz, mz), spectrum.id
        assert mzml_checks.same_bits(spectrum.intensity, intensity), spectrum.id
        if reader == "pymzml" and len(mz) == 0 and drift is not None:
            assert spectrum.drift is None  # pymzML finds no arrays in an empty spectrum
            continue
        assert mzml_checks.same_bits(spectrum.drift, drift), spectrum.id


@pytest.mark.parametrize("case", REAL_RUN_CONVERSIONS, ids=lambda c: _label(*c))
def test_spectrum_metadata(raw_dirs: dict, converted: dict, case: tuple) -> None:
    run_name, _, ims, _ = case
    path, _ = converted[case]
    spectra, _ = mzml_checks.read_pyteomics(path)
    run = tt.Run(raw_dirs[run_name])
    functions = {f.index: f for f in run.functions}
    reader = tarnvale.RawReader(raw_dirs[run_name])
    energies = {f.index: run.columns(f.index).collision_energy for f in run.functions}
    for spectrum in spectra:
        function, scan, _ = (None if g is None else int(g) for g in ID.fullmatch(spectrum.id).groups())
        info = functions[function]
        assert spectrum.centroid == (info.encoding != "b"), spectrum.id  # B is the profile encoding
        assert spectrum.polarity == run.polarity
        assert spectrum.rt == float(np.float32(reader.retention_time(function, scan)))
        assert spectrum.lock_mass == info.is_lock_mass
        energy = None if energies[function] is None else energies[function][scan]
        has_energy = info.ms_level > 1 and energy is not None and not np.isnan(energy)
        assert spectrum.collision_energy == (energy if has_energy else None)
        if ims == "per-bin" and info.is_ims:
            assert drift_word(spectrum.drift_time, info.scan_time_s) == int(ID.fullmatch(spectrum.id).group(3))


@pytest.mark.parametrize("case", REAL_RUN_CONVERSIONS, ids=lambda c: _label(*c))
def test_chromatograms_equal_the_columns(raw_dirs: dict, converted: dict, case: tuple) -> None:
    run_name, _, _, skip = case
    path, _ = converted[case]
    _, chromatograms = mzml_checks.read_pyteomics(path)
    run = tt.Run(raw_dirs[run_name])
    expected = {}
    for f in run.functions:
        if skip and f.is_lock_mass:
            continue
        rt, tic = run.tic(f.index)
        _, _, bpi = run.bpi(f.index)
        time = np.asarray(rt, dtype="<f4").astype("<f8")
        expected[f"TIC function={f.index}"] = (time, np.asarray(tic, "<f8"))
        expected[f"BPC function={f.index}"] = (time, np.asarray(bpi, "<f4").astype("<f8"))
    for channel in run.channels:
        rt, values = run.read_chrom(channel.index)
        expected[f"channel {channel.index}"] = (np.asarray(rt).astype("<f8"), np.asarray(values).astype("<f8"))
    assert [c.id for c in chromatograms] == list(expected)
    for c in chromatograms:
        assert mzml_checks.same_bits(c.time, expected[c.id][0]), c.id
        assert mzml_checks.same_bits(c.values, expected[c.id][1]), c.id
    names = [(c.params["channel name"], c.params["channel units"]) for c in chromatograms if c.id.startswith("channel")]
    assert names == [(ch.name, ch.units) for ch in run.channels]
    types = {"Pump Pressure": "pressure chromatogram", "Column Temperature": "temperature chromatogram",
             "Solvent B": "electromagnetic radiation chromatogram"}  # no type of its own: the broadest
    for c in chromatograms:
        if c.id.startswith("channel") and c.params["channel name"] in types:
            assert types[c.params["channel name"]] in c.params, c.id


# (run, options): the smaller files. Each is read back here as far as the readers of the
# root can (pyteomics has no numpress decoder without pynumpress); the numpress files
# go, with the values that went in, to the host check, which decodes them with
# pynumpress and pyopenms.
COMPACT = [
    ("lcms", {"gzip": True}),
    ("sample", {"mz_precision": 32, "gzip": True}),
    ("lcms", {"mz_precision": 32, "compression": False}),
    ("lcms", {"numpress": True}),
    ("sample", {"numpress": True, "compression": False, "mz_precision": 32, "ims": "per-bin"}),
]


def _compact_label(run: str, options: dict) -> str:
    return f"tools_{run}_" + "_".join(f"{k}-{v}" for k, v in options.items())


def _write_expected(path: Path, expected: dict[str, tuple], options: dict) -> None:
    """The values that went in, as the host check reads them beside the file."""
    spectra = [{"id": key, "mz": mz.tobytes().hex(), "intensity": intensity.tobytes().hex()}
               for key, (_, mz, intensity, _) in expected.items()]
    document = {"numpress": options.get("numpress", False), "mz_precision": options.get("mz_precision", 64),
                "spectra": spectra, "chromatograms": []}
    path.write_text(json.dumps(document))


@pytest.mark.parametrize(("run", "options"), COMPACT, ids=[_compact_label(*c) for c in COMPACT])
def test_compact_files(raw_dirs: dict, converted: dict, tmp_path: Path, run: str, options: dict) -> None:
    label = _compact_label(run, options)
    path = tmp_path / (label + (".mzML.gz" if options.get("gzip") else ".mzML"))
    written, _ = _core.write_mzml(raw_dirs[run], str(path), **options)
    assert mzml_checks.schema_errors(path) == []
    assert mzml_checks.index_problems(path) == []
    expected = expected_spectra(raw_dirs[run], options.get("ims", "combined"), False)
    assert written == len(expected)
    samples_dir = Path(tarnvale.__file__).resolve().parent.parent / "mzml-samples"
    samples_dir.mkdir(exist_ok=True)
    shutil.copyfile(path, samples_dir / path.name)
    if options == {"gzip": True}:  # the text is the plain file's, byte for byte
        assert mzml_checks.read_bytes(path) == converted[("lcms", True, "combined", False)][0].read_bytes()
        return
    if options.get("numpress"):
        _write_expected(samples_dir / f"{label}.expected.json", expected, options)
        return
    spectra, _ = mzml_checks.read_pyteomics(path)
    for spectrum in spectra:
        _, mz, intensity, drift = expected[spectrum.id]
        assert mzml_checks.same_bits(spectrum.mz, mz.astype("<f4") if options.get("mz_precision") == 32 else mz)
        assert mzml_checks.same_bits(spectrum.intensity, intensity), spectrum.id
        assert mzml_checks.same_bits(spectrum.drift, drift), spectrum.id


def test_threads_give_the_same_bytes(raw_dirs: dict, tmp_path: Path) -> None:
    outputs = []
    for threads in (1, 2, 3):
        path = tmp_path / f"lcms_{threads}.mzML"
        _core.write_mzml(raw_dirs["lcms"], str(path), threads=threads)
        outputs.append(path.read_bytes())
    assert outputs[0] == outputs[1] == outputs[2]


def test_progress_counts_scans_up_to_the_total(raw_dirs: dict, tmp_path: Path) -> None:
    calls: list[tuple[int, int]] = []
    _core.write_mzml(raw_dirs["lcms"], str(tmp_path / "out.mzML"), progress=lambda done, total: calls.append((done, total)))
    total = sum(f.n_scans for f in tt.Run(raw_dirs["lcms"]).functions)
    assert calls and calls[-1] == (total, total)
    assert all(t == total for _, t in calls)
    assert [d for d, _ in calls] == sorted({d for d, _ in calls})


def test_progress_exception_stops_and_leaves_no_file(raw_dirs: dict, tmp_path: Path) -> None:
    class Stop(Exception):
        pass

    def stop(done: int, total: int) -> None:
        raise Stop(f"{done} of {total}")

    with pytest.raises(Stop):
        _core.write_mzml(raw_dirs["lcms"], str(tmp_path / "out.mzML"), progress=stop)
    assert list(tmp_path.iterdir()) == []


@pytest.mark.parametrize(
    ("arguments", "error", "message"),
    [
        ({"ims": "stacked"}, ValueError, "ims must be"),
        ({"threads": 0}, ValueError, "threads must be at least 1"),
        ({"threads": 257}, RuntimeError, "257 threads"),
        ({"progress": 5}, TypeError, "progress must be callable"),
        ({"compression": "zlib", "bogus": 1}, TypeError, "bogus"),
        ({"mz_precision": 16}, ValueError, "mz_precision must be 32 or 64, not 16"),
        ({"mz_precision": True}, ValueError, "mz_precision must be 32 or 64, not True"),
    ],
)
def test_bad_arguments(raw_dirs: dict, tmp_path: Path, arguments: dict, error: type, message: str) -> None:
    with pytest.raises(error, match=message):
        _core.write_mzml(raw_dirs["a"], str(tmp_path / "out.mzML"), **arguments)
    assert list(tmp_path.iterdir()) == []


def test_options_are_keyword_only(raw_dirs: dict, tmp_path: Path) -> None:
    with pytest.raises(TypeError, match="takes 2 positional arguments but 3 were given"):
        _core.write_mzml(raw_dirs["a"], str(tmp_path / "out.mzML"), False)


def test_bad_runs_name_the_run(tmp_path: Path, write_raw) -> None:
    missing = str(tmp_path / "missing.raw")
    with pytest.raises(RuntimeError, match=f"^converting {re.escape(missing)}: .*not a directory"):
        _core.write_mzml(missing, str(tmp_path / "out.mzML"))
    damaged = write_raw(tools_samples.random_raw("C", 7, damaged=True), "damaged.raw")
    out = tmp_path / "out" / "damaged.mzML"
    out.parent.mkdir()
    with pytest.raises(RuntimeError, match=f"^converting {re.escape(damaged)}: .*function 1 scan \\d+: "):
        _core.write_mzml(damaged, str(out))
    assert list(out.parent.iterdir()) == []


_MZML = "{http://psi.hupo.org/ms/mzml}"


@pytest.mark.parametrize(
    ("fields", "start", "sample", "operator"),
    [
        ({}, "2021-01-14T16:20:52", ("sample", "synthetic leucine enkephalin run"), "demo"),
        (
            {"acquired_name": "a<&>\"'\x01b\ufffe", "sample_description": "x\ty\x1f", "user_name": "o\x0bp",
             "acquired_date": "29-Feb-2021"},
            None,
            ("a<&>\"'\ufffdb\ufffd", "x\ty\ufffd"),
            "o\ufffdp",
        ),
        ({"acquired_name": None, "sample_description": None, "user_name": None, "acquired_time": None}, None, None, None),
    ],
    ids=["demo", "hostile", "bare"],
)
def test_the_run_header_reaches_the_file(
    request: pytest.FixtureRequest, tmp_path: Path, fields: dict, start: str | None, sample: tuple | None, operator: str | None
) -> None:
    import xml.etree.ElementTree as ElementTree

    raw = rawfixture.demo_sample()
    for name, value in fields.items():
        setattr(raw.header, name, value)
    out = tmp_path / "header.mzML"
    tt.write_mzml(str(raw.write(tmp_path / "header.raw")), out)
    mzml = ElementTree.parse(out).getroot().find(f"{_MZML}mzML")
    run = mzml.find(f"{_MZML}run")
    assert run.get("startTimeStamp") == start
    operators = [p.get("value") for p in run.findall(f"{_MZML}userParam") if p.get("name") == "operator"]
    assert operators == ([] if operator is None else [operator])
    element = mzml.find(f"{_MZML}sampleList/{_MZML}sample")
    if sample is None:
        assert element is None and run.get("sampleRef") is None
    else:
        params = {p.get("name"): p.get("value") for p in element}
        assert (element.get("name"), params["sample name"], params["sample description"]) == (sample[0], *sample)
        assert run.get("sampleRef") == element.get("id")
    assert mzml_checks.schema_errors(out) == []
    samples_dir = Path(tarnvale.__file__).resolve().parent.parent / "mzml-samples"
    samples_dir.mkdir(exist_ok=True)
    shutil.copyfile(out, samples_dir / f"tools_header_{request.node.callspec.id}.mzML")
