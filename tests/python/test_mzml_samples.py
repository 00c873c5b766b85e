"""The synthetic mzML samples of the C++ writer (tests/core/mzml/support/sample_writer.cpp),
checked the way every mzML the project writes is checked: the schemas (psims), the
index and checksum (mzml_checks.index_problems), read-back with pyteomics and pymzML
compared bit for bit with what went in, and every accession/name pair against the
ontologies psims ships. The samples stay in BUILD/mzml-samples, where the host's
pyopenms check (scripts/pyopenms-check.sh) finds them."""

from __future__ import annotations

import hashlib
import json
import re
import shutil
import subprocess
import sys
from collections.abc import Callable
from pathlib import Path

import mzml_checks
import numpy as np
import pytest

# pymzML's spectra clear themselves when collected and warn about it under Python 3.14.
pytestmark = pytest.mark.filterwarnings("ignore:Testing an element's truth value:DeprecationWarning")

# name -> file name. The numpress samples are decoded on the host, where pynumpress runs
# (scripts/pyopenms-check.sh); here their structure is checked, and every other sample
# read back value for value.
NAMES = ["combined_zlib", "combined_none", "per_bin_zlib", "per_bin_none", "combined_numpress_zlib",
         "per_bin_numpress_f32", "combined_f32_gzip"]
SAMPLES = {name: name + (".mzML.gz" if name.endswith("gzip") else ".mzML") for name in NAMES}
READABLE = [name for name in SAMPLES if "numpress" not in name]


def _build_dir() -> Path:
    import tarnvale

    return Path(tarnvale.__file__).resolve().parent.parent


@pytest.fixture(scope="session")
def sample_writer() -> Path:
    program = _build_dir() / "mzml_sample_writer"
    assert program.is_file(), f"{program} is missing: build the project first"
    return program


@pytest.fixture(scope="session")
def sample_dir(sample_writer: Path) -> Path:
    directory = _build_dir() / "mzml-samples"
    shutil.rmtree(directory, ignore_errors=True)
    subprocess.run([str(sample_writer), str(directory)], check=True, timeout=120)
    return directory


@pytest.fixture(scope="session")
def vocabularies() -> dict:
    from psims.controlled_vocabulary.controlled_vocabulary import load_psims, load_uo

    return {"MS": load_psims(), "UO": load_uo()}


def _array(hex_text: str | None, dtype: str) -> np.ndarray | None:
    return None if hex_text is None else np.frombuffer(bytes.fromhex(hex_text), dtype=dtype)


def _scalar(hex_text: str | None) -> float | None:
    return None if hex_text is None else float(_array(hex_text, "<f8")[0])


def _expected(sample_dir: Path, name: str) -> dict:
    return json.loads((sample_dir / f"{name}.expected.json").read_text())


def _compare_spectrum(actual: mzml_checks.SpectrumRecord, expected: dict, full: bool, mz_type: str) -> None:
    assert actual.id == expected["id"]
    assert actual.ms_level == expected["ms_level"]
    assert actual.rt == _scalar(expected["rt"])
    mz = _array(expected["mz"], "<f8")
    if mz_type == "<f4" and np.all(np.abs(mz[np.isfinite(mz)]) <= np.finfo("<f4").max):
        with np.errstate(invalid="ignore"):
            mz = mz.astype("<f4")  # beyond a 32-bit float, an array stays 64-bit
    assert mzml_checks.same_bits(actual.mz, mz), actual.id
    assert mzml_checks.same_bits(actual.intensity, _array(expected["intensity"], "<f4")), actual.id
    assert mzml_checks.same_bits(actual.drift, _array(expected["drift"], "<f8")), actual.id
    if full:  # what pyteomics reports beyond the arrays
        assert actual.centroid == expected["centroid"]
        assert actual.polarity == expected["polarity"]
        assert actual.lock_mass == expected["lock_mass"]
        assert actual.drift_time == _scalar(expected["drift_time"])
        energy = expected["collision_energy"] if expected["ms_level"] > 1 else None
        assert actual.collision_energy == _scalar(energy)


@pytest.mark.parametrize("name", SAMPLES)
def test_schema_valid(sample_dir: Path, name: str) -> None:
    assert mzml_checks.schema_errors(sample_dir / SAMPLES[name]) == []


@pytest.mark.parametrize("name", SAMPLES)
def test_index_and_checksum(sample_dir: Path, name: str) -> None:
    assert mzml_checks.index_problems(sample_dir / SAMPLES[name]) == []


@pytest.mark.parametrize("reader", ["pyteomics", "pymzml"])
@pytest.mark.parametrize("name", READABLE)
def test_read_back_equals_input(sample_dir: Path, name: str, reader: str) -> None:
    read = mzml_checks.read_pyteomics if reader == "pyteomics" else mzml_checks.read_pymzml
    spectra, chromatograms = read(sample_dir / SAMPLES[name])
    expected = _expected(sample_dir, name)
    mz_type = "<f4" if expected["mz_precision"] == 32 else "<f8"
    assert len(spectra) == len(expected["spectra"])
    for actual, wanted in zip(spectra, expected["spectra"], strict=True):
        _compare_spectrum(actual, wanted, full=reader == "pyteomics", mz_type=mz_type)
    assert [c.id for c in chromatograms] == [c["id"] for c in expected["chromatograms"]]
    for actual, wanted in zip(chromatograms, expected["chromatograms"], strict=True):
        assert mzml_checks.same_bits(actual.time, _array(wanted["time"], "<f8")), actual.id
        if actual.values is not None or reader == "pyteomics":  # pymzML reads intensity arrays only
            assert mzml_checks.same_bits(actual.values, _array(wanted["values"], "<f8")), actual.id


def test_instrument_channels_keep_name_and_units(sample_dir: Path) -> None:
    _, chromatograms = mzml_checks.read_pyteomics(sample_dir / "combined_zlib.mzML")
    channels = {c.id: c.params for c in chromatograms if c.id.startswith("channel")}
    assert [(p["channel name"], p["channel units"]) for p in channels.values()] == [
        ("Pump Pressure", "bar"), ("Column Temperature", "°C"), ("Flow Rate", "µL/min")
    ]
    assert "pressure chromatogram" in channels["channel 0"] and "Pump Pressure" in channels["channel 0"]
    assert "temperature chromatogram" in channels["channel 1"] and "temperature array" in channels["channel 1"]


def test_terms_are_in_the_ontologies(sample_writer: Path, sample_dir: Path, vocabularies: dict) -> None:
    listed = subprocess.run([str(sample_writer), "--terms"], check=True, capture_output=True, text=True).stdout
    table = [tuple(line.split("\t")) for line in listed.splitlines()]
    assert len(table) > 40
    problems = [p for accession, name in table for p in mzml_checks.vocabulary_problems(accession, name, vocabularies)]
    for file_name in SAMPLES.values():
        for cv_ref, accession, term_name in mzml_checks.cv_params(sample_dir / file_name):
            if not accession.startswith(cv_ref + ":"):
                problems.append(f"{accession} with cvRef {cv_ref}")
            problems += mzml_checks.vocabulary_problems(accession, term_name, vocabularies)
    assert sorted(set(problems)) == []


@pytest.mark.parametrize(
    ("parent", "children"),
    [
        ("MS:1000031", ["MS:1000126", "MS:1002726", "MS:1001777", "MS:1001781", "MS:1003183"]),  # instrument model
        ("MS:1000626", ["MS:1000235", "MS:1000628", "MS:1003019", "MS:1002715", "MS:1003020", "MS:1000812", "MS:1000811"]),
        ("MS:1000513", ["MS:1000514", "MS:1000515", "MS:1003153", "MS:1000595", "MS:1000786", "MS:1000822"]),
        ("MS:1000044", ["MS:1000133"]),  # dissociation method: completes the activation
        ("MS:1000524", ["MS:1000579", "MS:1000580", "MS:1003226"]),  # data file content
        ("MS:1000572", ["MS:1000574", "MS:1000576", "MS:1002312", "MS:1002314", "MS:1002746", "MS:1002748"]),
        ("MS:1000518", ["MS:1000521", "MS:1000523"]),  # binary data type
        ("MS:1000452", ["MS:1000544", "MS:1000035", "MS:1001485"]),  # data transformation (processingMethod)
    ],
)
def test_terms_have_the_kind_validators_expect(vocabularies: dict, parent: str, children: list[str]) -> None:
    for accession in children:
        assert vocabularies["MS"][accession].is_of_type(parent), accession


def _restamp(data: bytes) -> bytes:
    """Recomputes the checksum, so that only the damage under test remains."""
    match = re.search(rb"<fileChecksum>([0-9a-f]{40})", data)
    digest = hashlib.sha1(data[: match.start(1)]).hexdigest().encode()
    return data[: match.start(1)] + digest + data[match.end(1) :]


def _shift_offset(kind: str, nth: int, by: int) -> Callable[[bytes], bytes]:
    def damage(data: bytes) -> bytes:
        block = data.index(f'<index name="{kind}">'.encode())
        match = list(re.finditer(rb"\">(\d+)</offset>", data[block:]))[nth]
        start, end = block + match.start(1), block + match.end(1)
        return _restamp(data[:start] + str(int(data[start:end]) + by).encode() + data[end:])

    return damage


def _replace(old: bytes, new: bytes, restamp: bool) -> Callable[[bytes], bytes]:
    def damage(data: bytes) -> bytes:
        changed = data.replace(old, new, 1)
        assert changed != data
        return _restamp(changed) if restamp else changed

    return damage


def _flip_binary_byte(data: bytes) -> bytes:
    at = data.index(b"<binary>") + len(b"<binary>") + 5
    return data[:at] + (b"B" if data[at : at + 1] != b"B" else b"C") + data[at + 1 :]


def _drop_index_line(data: bytes) -> bytes:
    line = re.search(rb"\n\s*<offset idRef=\"function=2 process=0 scan=1\">\d+</offset>", data)
    return _restamp(data[: line.start()] + data[line.end() :])


@pytest.mark.parametrize(
    ("damage", "problem"),
    [
        (_shift_offset("spectrum", 0, 1), "spectrum offset .* of 'function=1 process=0 scan=0' does not point"),
        (_shift_offset("spectrum", 3, 7), "'function=1 process=0 scan=3' does not point"),
        (_shift_offset("spectrum", 5, -1), "'function=2 process=0 scan=0' does not point"),
        (_shift_offset("chromatogram", 1, 1), "chromatogram offset .* of 'BPC function=1'"),
        (_replace(b'idRef="function=2 process=0 scan=2"', b'idRef="function=2 process=0 scan=3"', True),
         "points at another element than 'function=2 process=0 scan=3'"),
        (_drop_index_line, "14 spectrum elements but 13 offsets"),
        (_replace(b"<indexListOffset>", b"<indexListOffset>1", True), "indexListOffset .* does not point"),
        (_flip_binary_byte, "fileChecksum .* but the SHA-1 is"),
        (_replace(b'id="RAW1"', b'id="RAW2"', False), "fileChecksum .* but the SHA-1 is"),
        (_replace(b"<fileChecksum>", b"<fileChecksum>0", False), "no fileChecksum"),
    ],
)
def test_index_checker_catches_damage(sample_dir: Path, tmp_path: Path, damage, problem: str) -> None:
    damaged = tmp_path / "damaged.mzML"
    damaged.write_bytes(damage((sample_dir / "combined_zlib.mzML").read_bytes()))
    problems = mzml_checks.index_problems(damaged)
    assert any(re.search(problem, p) for p in problems), problems


def test_samples_identical_across_runs(sample_writer: Path, sample_dir: Path, tmp_path: Path) -> None:
    """The writer's bytes depend on nothing but its input (the C++ tests vary threads and batches)."""
    subprocess.run([str(sample_writer), str(tmp_path)], check=True, timeout=120)
    for file_name in SAMPLES.values():
        assert (tmp_path / file_name).read_bytes() == (sample_dir / file_name).read_bytes(), file_name


if __name__ == "__main__":
    sys.exit(pytest.main([__file__]))
