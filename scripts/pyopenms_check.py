"""Loads every *.mzML and *.mzML.gz of a directory with pyopenms and runs its semantic
validator, MzMLFile().isSemanticallyValid (OpenMS's mapping of PSI-MS terms onto mzML
elements). Where the directory holds NAME.expected.json beside a file (the values that
went in: arrays as the hex of their little-endian bytes, as the tests write them), the
arrays are checked too: those pyopenms loaded, and every array of the file decoded
again here, MS-Numpress ones with pynumpress, an implementation independent of the
writer's. Runs on a Python that pyopenms publishes wheels for: see
scripts/pyopenms-check.sh.

OpenMS's mapping file wants a value on MS:1003153 (raw ion mobility drift time
array) and lists no binary data type for it, so it reports every such array twice,
whatever the array's width. Those two messages, exactly twice per MS:1003153 array,
are the only ones allowed; anything else fails the file.

    python pyopenms_check.py DIR
"""

from __future__ import annotations

import base64
import gzip
import json
import math
import re
import sys
import zlib
from collections import Counter
from pathlib import Path
from xml.etree import ElementTree

import numpy as np
import pynumpress
import pyopenms as oms

ALLOWED = (
    re.compile(
        r"Binary data array of type 'MS:1003153 ! raw ion mobility drift time array' cannot have "
        r"the value type 'MS:10005(21|23) ! (32|64)-bit float'\."
    ),
    re.compile(
        r"Value-type required, but not given \(xsd:decimal\): 'MS:1003153 - raw ion mobility drift time array' "
        r"value='' at element '/mzML/run/spectrumList/spectrum/binaryDataArrayList/binaryDataArray'"
    ),
)

NS = "{http://psi.hupo.org/ms/mzml}"
ZLIB = {"MS:1000574", "MS:1002746", "MS:1002748"}
LINEAR = {"MS:1002312", "MS:1002746"}
SLOF = {"MS:1002314", "MS:1002748"}
ARRAY_NAMES = {"MS:1000514": "mz", "MS:1000515": "intensity", "MS:1000595": "time"}
FLOAT32_ROUNDING = 2.0**-24


def declared_count(text: str, element: str) -> int:
    found = re.search(rf'<{element}List count="(\d+)"', text)
    return int(found.group(1)) if found else 0


def read_text(path: Path) -> str:
    data = path.read_bytes()
    return (gzip.decompress(data) if path.name.endswith(".gz") else data).decode("utf-8")


def expected_of(path: Path) -> dict | None:
    stem = path.name.removesuffix(".gz").removesuffix(".mzML")
    sidecar = path.with_name(f"{stem}.expected.json")
    return json.loads(sidecar.read_text()) if sidecar.exists() else None


def hex_array(text: str | None, dtype: str) -> np.ndarray:
    return np.frombuffer(bytes.fromhex(text or ""), dtype=dtype).astype(dtype)


def close(actual: np.ndarray, expected: np.ndarray, tolerance: np.ndarray | float) -> bool:
    """Same length; each value equal (NaN to NaN) or within its tolerance."""
    if len(actual) != len(expected):
        return False
    actual, expected = actual.astype(np.float64), expected.astype(np.float64)
    with np.errstate(invalid="ignore"):
        same = (actual == expected) | (np.isnan(actual) & np.isnan(expected))
        return bool(np.all(same | (np.abs(actual - expected) <= tolerance)))


def linear_problem(stored: bytes, values: np.ndarray, expected: np.ndarray) -> str | None:
    """Linear prediction: within half a step of the fixed point, as exact as a 32-bit
    float (within 2^-24 below 1), and the fixed point the format's reference chooses."""
    fixed_point = float(np.frombuffer(stored[:8], ">f8")[0])
    step = 0.5 / fixed_point + 4 * np.finfo(np.float64).eps * np.abs(expected)
    if not close(values, expected, step):
        return f"linear prediction beyond 0.5/{fixed_point}"
    if not close(values, expected, FLOAT32_ROUNDING * np.maximum(1.0, np.abs(expected))):
        return "linear prediction less exact than a 32-bit float"
    reference = pynumpress.optimal_linear_fixed_point(expected) if len(expected) > 1 else math.inf
    if math.isfinite(reference) and reference != fixed_point:
        return f"linear fixed point {fixed_point}, the reference chooses {reference}"
    return None


def slof_problem(stored: bytes, values: np.ndarray, expected: np.ndarray) -> str | None:
    """Short logged floats: (value + 1) within exp(±0.5 / fixed point), the fixed point
    the format's reference chooses."""
    fixed_point = float(np.frombuffer(stored[:8], ">f8")[0])
    if not close(values + 1, expected + 1, (expected + 1) * (math.expm1(0.5 / fixed_point) + 1e-12)):
        return f"short logged floats beyond exp(0.5/{fixed_point})"
    reference = pynumpress.optimal_slof_fixed_point(expected)
    if reference != fixed_point:
        return f"slof fixed point {fixed_point}, the reference chooses {reference}"
    return None


def array_problem(array: ElementTree.Element, expected: np.ndarray, f32_mz: bool) -> str | None:
    """Decodes one binaryDataArray on its own and compares it with what went in."""
    terms = {p.get("accession") for p in array.iter(f"{NS}cvParam")}
    stored = base64.b64decode((array.findtext(f"{NS}binary") or "").encode())
    if terms & ZLIB:
        stored = zlib.decompress(stored)
    if terms & LINEAR:
        return linear_problem(stored, pynumpress.decode_linear(np.frombuffer(stored, np.uint8)), expected)
    if terms & SLOF:
        return slof_problem(stored, pynumpress.decode_slof(np.frombuffer(stored, np.uint8)), expected)
    values = np.frombuffer(stored, "<f4" if "MS:1000521" in terms else "<f8")
    wanted = expected.astype("<f4") if "MS:1000521" in terms and (f32_mz or expected.dtype == "<f4") else expected
    return None if values.tobytes() == wanted.astype(values.dtype).tobytes() else "plain values differ"


def decoded_problems(path: Path, expected: dict) -> list[str]:
    """Every array of the file against the expected values, by element id."""
    wanted = {s["id"]: {"mz": hex_array(s["mz"], "<f8"), "intensity": hex_array(s["intensity"], "<f4")}
              for s in expected["spectra"]}
    wanted |= {c["id"]: {"time": hex_array(c["time"], "<f8"), "intensity": hex_array(c["values"], "<f8")}
               for c in expected["chromatograms"]}
    f32_mz = expected.get("mz_precision") == 32
    problems = []
    opener = gzip.open if path.name.endswith(".gz") else open
    with opener(path, "rb") as stream:
        for _, element in ElementTree.iterparse(stream):
            if element.tag not in (f"{NS}spectrum", f"{NS}chromatogram"):
                continue
            for array in element.iter(f"{NS}binaryDataArray"):
                kind = next((ARRAY_NAMES[p.get("accession")] for p in array.iter(f"{NS}cvParam")
                             if p.get("accession") in ARRAY_NAMES), None)
                if kind is not None and kind in wanted.get(element.get("id"), {}):
                    problem = array_problem(array, wanted[element.get("id")][kind], f32_mz)
                    if problem:
                        problems.append(f"{element.get('id')} {kind}: {problem}")
            element.clear()
    return problems


def loaded_problems(experiment: oms.MSExperiment, expected: dict) -> list[str]:
    """pyopenms's spectra against the expected values: exact, or within the bounds of
    the file's lossy encodings (and the 32-bit float pyopenms keeps intensities in)."""
    lossy = expected.get("numpress") or expected.get("mz_precision") == 32
    wanted = {s["id"]: s for s in expected["spectra"]}
    problems = []
    for spectrum in experiment.getSpectra():
        native_id = spectrum.getNativeID()
        mz, intensity = spectrum.get_peaks()
        want_mz, want_intensity = hex_array(wanted[native_id]["mz"], "<f8"), hex_array(wanted[native_id]["intensity"], "<f4")
        order = np.argsort(want_mz, kind="stable")  # pyopenms sorts the peaks it loads by m/z
        want_mz, want_intensity = want_mz[order], want_intensity[order]
        mz_tolerance = FLOAT32_ROUNDING * np.maximum(1.0, np.abs(want_mz)) if lossy else 0.0
        if not close(mz, want_mz, mz_tolerance):
            problems.append(f"pyopenms {native_id}: m/z differ")
        ratio = 0.0
        if expected.get("numpress") and len(want_intensity) and np.all(np.isfinite(want_intensity)):
            fixed_point = math.floor(65535 / max(1.0, math.log(float(want_intensity.max()) + 1)))
            ratio = math.expm1(0.5 / fixed_point) + FLOAT32_ROUNDING
        want = want_intensity.astype(np.float64)
        if not close(intensity, want, (want + 1) * ratio):
            problems.append(f"pyopenms {native_id}: intensities differ")
    return problems


def problems_of(path: Path) -> list[str]:
    text = read_text(path)
    valid, errors, warnings = oms.MzMLFile().isSemanticallyValid(str(path))
    messages = list(errors) + list(warnings)
    problems = [m for m in messages if not any(p.fullmatch(m) for p in ALLOWED)]
    drift_arrays = text.count('accession="MS:1003153"')
    known = len(messages) - len(problems)
    if known != 2 * drift_arrays:
        problems.append(f"{known} messages about MS:1003153 for {drift_arrays} raw drift time arrays")
    if not valid and not messages:
        problems.append("not valid, without a message")
    experiment = oms.MSExperiment()
    oms.MzMLFile().load(str(path), experiment)
    loaded = (experiment.getNrSpectra(), experiment.getNrChromatograms())
    declared = (declared_count(text, "spectrum"), declared_count(text, "chromatogram"))
    if loaded != declared:
        problems.append(f"loaded {loaded[0]} spectra and {loaded[1]} chromatograms, the file declares {declared}")
    expected = expected_of(path)
    if expected is not None:
        with np.errstate(all="ignore"):  # the samples' NaNs and infinities, converted on purpose
            problems += loaded_problems(experiment, expected) + decoded_problems(path, expected)
    return problems


def main(directory: str) -> int:
    files = sorted([*Path(directory).glob("*.mzML"), *Path(directory).glob("*.mzML.gz")])
    if not files:
        print(f"pyopenms-check: no *.mzML in {directory}", file=sys.stderr)
        return 1
    failed = 0
    for path in files:
        try:
            problems = problems_of(path)
        except Exception as error:  # pyopenms raises RuntimeError subclasses for unreadable files
            problems = [f"{type(error).__name__}: {error}"]
        print(f"pyopenms {oms.__version__}: {path.name}: {'ok' if not problems else 'FAILED'}")
        for problem, times in Counter(problems).items():
            print(f"  {problem}" + (f" (x{times})" if times > 1 else ""))
        failed += bool(problems)
    print(f"pyopenms: {len(files) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: pyopenms_check.py DIR")
    sys.exit(main(sys.argv[1]))
