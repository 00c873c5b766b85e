"""The checks every indexed mzML file the project writes must pass, shared by the tests
and `make demo`: schema validation with psims, the project's own index checker, and
read-back with pyteomics and pymzML into plain records whose arrays can be compared
bit for bit with what was written.

pyteomics and pymzML do not verify the index (pyteomics returned the right spectrum
with an offset moved by 7 bytes), so index_problems checks it: every offset points at
the `<` of the element it names, indexListOffset at `<indexList`, and fileChecksum is
the SHA-1 of the file up to the end of its own open tag. A file named *.gz is read
through gzip: its index and checksum are those of the mzML text."""

from __future__ import annotations

import gzip
import hashlib
import html
import re
import warnings
from dataclasses import dataclass, field
from pathlib import Path

import numpy as np

_INDEX_LIST_OFFSET = re.compile(rb"<indexListOffset>(\d+)</indexListOffset>")
_FILE_CHECKSUM = re.compile(rb"<fileChecksum>([0-9a-fA-F]{40})</fileChecksum>")
_INDEX = re.compile(rb'<index name="(\w+)">(.*?)</index>', re.S)
_OFFSET = re.compile(rb'<offset idRef="([^"]*)">(\d+)</offset>')
_ID_ATTRIBUTE = re.compile(rb'\sid="([^"]*)"')


def read_bytes(path: str | Path) -> bytes:
    """The file's mzML text as bytes, decompressed when the name ends in .gz."""
    data = Path(path).read_bytes()
    return gzip.decompress(data) if str(path).endswith(".gz") else data


def _source(path: str | Path):
    """What the readers open: the path, or a gzip stream for a *.gz file."""
    return gzip.open(path) if str(path).endswith(".gz") else str(path)


def schema_errors(path: str | Path) -> list[str]:
    """The messages of psims's validation against the indexed mzML 1.1 schemas; empty when valid."""
    from psims.validation import validate

    valid, schema = validate(_source(path))
    return [] if valid else [str(error) for error in schema.error_log]


def _element_problem(data: bytes, kind: bytes, id_ref: bytes, offset: int) -> str | None:
    name = html.unescape(id_ref.decode())
    if not data.startswith(b"<" + kind + b" ", offset):
        return f"{kind.decode()} offset {offset} of {name!r} does not point at <{kind.decode()}"
    start_tag = data[offset : data.find(b">", offset)]
    found = _ID_ATTRIBUTE.search(start_tag)
    if found is None or html.unescape(found.group(1).decode()) != name:
        return f"{kind.decode()} offset {offset} points at another element than {name!r}"
    return None


def _index_problems(data: bytes, index_list: int) -> list[str]:
    problems = []
    body = data[:index_list]
    for kind, entries in _INDEX.findall(data, index_list):
        offsets = _OFFSET.findall(entries)
        for id_ref, offset in offsets:
            if (problem := _element_problem(data, kind, id_ref, int(offset))) is not None:
                problems.append(problem)
        elements = body.count(b"<" + kind + b" ")
        if elements != len(offsets):
            problems.append(f"{elements} {kind.decode()} elements but {len(offsets)} offsets")
    return problems


def index_problems(path: str | Path) -> list[str]:
    """Everything wrong with the file's index and checksum; empty for a sound file."""
    data = read_bytes(path)
    problems = []
    list_offset = _INDEX_LIST_OFFSET.search(data)
    if list_offset is None:
        problems.append("no indexListOffset")
        index_list = data.rfind(b"<indexList ")
    else:
        index_list = int(list_offset.group(1))
        if not data.startswith(b"<indexList ", index_list):
            problems.append(f"indexListOffset {index_list} does not point at <indexList")
            index_list = data.rfind(b"<indexList ")
    problems += _index_problems(data, index_list)
    checksum = _FILE_CHECKSUM.search(data)
    if checksum is None:
        problems.append("no fileChecksum")
    else:
        actual = hashlib.sha1(data[: checksum.start(1)]).hexdigest()
        if checksum.group(1).decode().lower() != actual:
            problems.append(f"fileChecksum {checksum.group(1).decode()} but the SHA-1 is {actual}")
    return problems


@dataclass
class SpectrumRecord:
    id: str
    ms_level: int
    centroid: bool | None
    polarity: str | None
    rt: float
    collision_energy: float | None
    drift_time: float | None
    lock_mass: bool
    mz: np.ndarray
    intensity: np.ndarray
    drift: np.ndarray | None = None


@dataclass
class ChromatogramRecord:
    id: str
    time: np.ndarray
    values: np.ndarray | None
    params: dict = field(default_factory=dict)


def same_bits(actual: np.ndarray | None, expected: np.ndarray | None) -> bool:
    """Same dtype, same length and the same bytes (NaN payloads, signed zeros included).
    An empty array matches an empty array of any dtype: readers cannot tell an empty array's type."""
    if actual is None or expected is None:
        return actual is None and expected is None
    if len(actual) == 0 and len(expected) == 0:
        return True
    return actual.dtype == expected.dtype and actual.tobytes() == expected.tobytes()


def _polarity(params: dict) -> str | None:
    if "positive scan" in params:
        return "positive"
    return "negative" if "negative scan" in params else None


def _pyteomics_spectrum(s: dict) -> SpectrumRecord:
    scan = s["scanList"]["scan"][0]
    precursors = s.get("precursorList", {}).get("precursor", [])
    energy = precursors[0]["activation"].get("collision energy") if precursors else None
    return SpectrumRecord(
        id=s["id"],
        ms_level=int(s["ms level"]),
        centroid=True if "centroid spectrum" in s else False if "profile spectrum" in s else None,
        polarity=_polarity(s),
        rt=float(scan["scan start time"]),
        collision_energy=None if energy is None else float(energy),
        drift_time=None if "ion mobility drift time" not in scan else float(scan["ion mobility drift time"]),
        lock_mass=s.get("lock mass function") == "true",
        mz=s["m/z array"],
        intensity=s["intensity array"],
        drift=s.get("raw ion mobility drift time array"),
    )


def _pyteomics_chromatogram(c: dict) -> ChromatogramRecord:
    arrays = {k: v for k, v in c.items() if isinstance(v, np.ndarray)}
    time = arrays.pop("time array")
    (values,) = arrays.values()  # intensity, a typed array, or a non-standard one named after the channel
    return ChromatogramRecord(id=c["id"], time=time, values=values, params=c)


def read_pyteomics(path: str | Path) -> tuple[list[SpectrumRecord], list[ChromatogramRecord]]:
    from pyteomics import mzml

    with mzml.MzML(_source(path), decode_binary=True) as reader:
        spectra = [_pyteomics_spectrum(s) for s in reader.iterfind("spectrum")]
        reader.reset()
        chromatograms = [_pyteomics_chromatogram(c) for c in reader.iterfind("chromatogram")]
    return spectra, chromatograms


def _pymzml_spectrum(item) -> SpectrumRecord:
    has_drift = any(e.get("accession") == "MS:1003153" for e in item.element.iter())
    return SpectrumRecord(
        id=item.element.get("id"),
        ms_level=item.ms_level,
        centroid=None,
        polarity=None,
        rt=float(item.scan_time_in_minutes()),
        collision_energy=None,
        drift_time=None,
        lock_mass=False,
        mz=item.mz,
        intensity=item.i,
        drift=item.get_array("raw ion mobility drift time array") if has_drift else None,
    )


def read_pymzml(path: str | Path) -> tuple[list[SpectrumRecord], list[ChromatogramRecord]]:
    """Spectra and chromatograms in file order. pymzML exposes intensity arrays only:
    a chromatogram with another value array has values None."""
    import pymzml

    spectra, chromatograms = [], []
    with warnings.catch_warnings():  # pymzML's own deprecation warnings are not about the file
        warnings.simplefilter("ignore", DeprecationWarning)
        for item in pymzml.run.Reader(str(path), skip_chromatogram=False):
            if isinstance(item, pymzml.spec.Chromatogram):
                values = item.i if item.i is not None and len(item.i) == len(item.time) else None
                chromatograms.append(ChromatogramRecord(id=item.ID, time=item.time, values=values))
            else:
                spectra.append(_pymzml_spectrum(item))
    return spectra, chromatograms
