"""Checks for every indexed mzML file the tests write: those shared with `make demo`
(scripts/mzml_validation.py: schemas, index and checksum, read-back with pyteomics and
pymzML), and the vocabulary checks against the ontologies psims ships."""

from __future__ import annotations

import functools
import re
from pathlib import Path

import mzml_validation
from mzml_validation import (  # noqa: F401  (the tests use them from here)
    ChromatogramRecord, SpectrumRecord, index_problems, read_bytes, read_pymzml, same_bits, schema_errors,
)


def read_pyteomics(path: str | Path) -> tuple[list[SpectrumRecord], list[ChromatogramRecord]]:
    """pyteomics's reading of a file, parsed once while the file is unchanged: several
    tests check the same converted file, the largest of which takes pyteomics some
    fifteen seconds. The records are shared between callers: read them, never change them."""
    stat = Path(path).stat()
    return _read_pyteomics_once(str(Path(path).resolve()), stat.st_mtime_ns, stat.st_size)


@functools.lru_cache(maxsize=8)
def _read_pyteomics_once(path: str, mtime_ns: int, size: int) -> tuple:
    # The time and size only key the cache: a file written again is parsed again.
    return mzml_validation.read_pyteomics(path)


def vocabulary_problems(accession: str, name: str, vocabularies: dict) -> list[str]:
    """What is wrong with an accession/name pair against the loaded ontologies ("MS", "UO")."""
    prefix = accession.split(":", 1)[0]
    if prefix not in vocabularies:
        return [f"{accession}: no ontology {prefix}"]
    try:
        term = vocabularies[prefix][accession]
    except KeyError:
        return [f"{accession} is not in {prefix}"]
    problems = []
    if term.name != name:
        problems.append(f"{accession} is named {term.name!r}, not {name!r}")
    if str(term.get("is_obsolete", "false")).lower() == "true":
        problems.append(f"{accession} ({name}) is obsolete")
    return problems


_CV_PARAM = re.compile(
    r'<cvParam cvRef="(\w+)" accession="([^"]+)" name="([^"]+)" value="[^"]*"'
    r'(?: unitCvRef="(\w+)" unitAccession="([^"]+)" unitName="([^"]+)")?/>'
)


def cv_params(path: str | Path) -> set[tuple[str, str, str]]:
    """Every distinct (cvRef, accession, name) of the file's cvParams and their units."""
    found = set()
    for match in _CV_PARAM.finditer(read_bytes(path).decode("utf-8")):
        found.add(match.group(1, 2, 3))
        if match.group(4):
            found.add(match.group(4, 5, 6))
    return found
