#!/usr/bin/env python3
"""Prints each validator's verdict on mzML files converted from runs: psims's schema
validation, the index and SHA-1 checker, and read-back with pyteomics and with pymzML,
every spectrum's arrays compared with what tarnvale reads from the run (m/z bit for
bit, intensity as float32; an ion-mobility scan's points in m/z, then drift-time order).
A file whose data processing lists peak picking or an m/z calibration by lock mass is
compared with the run's scans read by tarnvale_tools with the same processing.

    python3 scripts/mzml_verdicts.py RUN.raw FILE.mzML [RUN.raw FILE.mzML ...]

Exit status 1 when any file fails any check.
"""

from __future__ import annotations

import re
import sys
import warnings
from collections.abc import Callable, Sequence

import numpy as np
from mzml_validation import SpectrumRecord, index_problems, read_bytes, read_pymzml, read_pyteomics, schema_errors

import tarnvale

_NATIVE_ID = re.compile(r"function=(\d+) process=0 scan=(\d+)")
_USER_PARAM = re.compile(r'<userParam name="([^"]+)" value="([^"]*)"')


def processing_of(path: str) -> dict[str, object]:
    """The processing keywords the file's data processing lists (peak picking, lock mass)."""
    head = read_bytes(path)[: 1 << 16].decode("utf-8", "replace").split("<run ", 1)[0]
    params = dict(_USER_PARAM.findall(head))
    keywords: dict[str, object] = {}
    if 'accession="MS:1000035"' in head:
        keywords.update(centroid=True, min_intensity=float(params["minimum peak intensity"]),
                        min_points=int(params["minimum points per peak"]))
    if 'accession="MS:1001485"' in head:
        keywords.update(lock_mass=float(params["lock mass reference m/z"]),
                        lock_mass_tolerance=float(params["lock mass tolerance (Da)"]),
                        lock_mass_min_intensity=float(params["lock mass minimum intensity"]),
                        lock_mass_function=int(params["lock mass function"]))
    return keywords


class _Processed:
    """The run's scans as tarnvale_tools reads them with a processing, in the shape of
    tarnvale's spectra."""

    def __init__(self, run: str, keywords: dict[str, object]) -> None:
        import tarnvale_tools

        self._run, self._keywords = tarnvale_tools.Run(run), keywords
        self._encodings = {f.index: f.encoding for f in self._run.functions}

    def function_encoding(self, function: int) -> str:
        return self._encodings[function]

    def read_spectrum(self, function: int, scan: int) -> object:
        return self._run.read_scan(function, scan, **self._keywords)

    read_ims_spectrum = read_spectrum


def _expected(reader: tarnvale.RawReader, function: int, scan: int) -> tuple[np.ndarray, np.ndarray, np.ndarray | None]:
    if reader.function_encoding(function) != "b":
        spectrum = reader.read_spectrum(function, scan)
        return np.array(spectrum.mz, dtype=np.float64), np.array(spectrum.intensity, dtype=np.float32), None
    ims = reader.read_ims_spectrum(function, scan)
    mz = np.array(ims.mz, dtype=np.float64)
    drift = np.array(ims.drift_time_ms, dtype=np.float64)
    order = np.lexsort((drift, mz))
    return mz[order], np.array(ims.intensity, dtype=np.float32)[order], drift[order]


def _mismatch(reader: tarnvale.RawReader, record: SpectrumRecord) -> str | None:
    found = _NATIVE_ID.fullmatch(record.id)
    if found is None:
        return f"spectrum id {record.id!r} is not a native id"
    mz, intensity, drift = _expected(reader, int(found.group(1)), int(found.group(2)))
    if record.mz.astype(np.float64).tobytes() != mz.tobytes():
        return f"{record.id}: m/z differs from the run's"
    if record.intensity.astype(np.float32).tobytes() != intensity.tobytes():
        return f"{record.id}: intensity differs from the run's"
    if drift is not None and (record.drift is None or record.drift.astype(np.float64).tobytes() != drift.tobytes()):
        return f"{record.id}: drift times differ from the run's"
    return None


def _read_back(read: Callable[[str], tuple[list[SpectrumRecord], list[object]]], reader: tarnvale.RawReader, path: str) -> str:
    spectra, chromatograms = read(path)
    problems = [p for p in (_mismatch(reader, record) for record in spectra) if p is not None]
    if problems:
        raise ValueError(f"{len(problems)} spectra differ, first {problems[0]}")
    return f"{len(spectra)} spectra, {len(chromatograms)} chromatograms; arrays equal the run's"


def verdicts(run: str, path: str) -> list[tuple[str, str | None, str | None]]:
    """(check, verdict, problem) for each check of one file."""
    keywords = processing_of(path)
    reader = _Processed(run, keywords) if keywords else tarnvale.RawReader(run)

    def schema() -> str:
        errors = schema_errors(path)
        if errors:
            raise ValueError(f"{len(errors)} schema errors, first {errors[0]}")
        return "valid against the indexed mzML 1.1 schemas"

    def index() -> str:
        problems = index_problems(path)
        if problems:
            raise ValueError(f"{len(problems)} problems, first {problems[0]}")
        return "every offset, indexListOffset and the SHA-1 check out"

    checks: list[tuple[str, Callable[[], str]]] = [
        ("psims schema", schema),
        ("index and SHA-1", index),
        ("pyteomics", lambda: _read_back(read_pyteomics, reader, path)),
        ("pymzML", lambda: _read_back(read_pymzml, reader, path)),
    ]
    results: list[tuple[str, str | None, str | None]] = []
    for name, check in checks:
        try:
            results.append((name, check(), None))
        except Exception as error:  # a validator's failure is the verdict, whatever its type
            results.append((name, None, f"{type(error).__name__}: {error}"))
    return results


def main(argv: Sequence[str]) -> int:
    if len(argv) % 2 or not argv:
        print("usage: mzml_verdicts.py RUN.raw FILE.mzML [RUN.raw FILE.mzML ...]", file=sys.stderr)
        return 2
    failed = 0
    with warnings.catch_warnings():  # pymzML's spectra warn about their own cleanup under 3.14
        warnings.simplefilter("ignore", DeprecationWarning)
        for run, path in zip(argv[::2], argv[1::2], strict=True):
            print(path)
            for name, verdict, problem in verdicts(run, path):
                print(f"  {name + ':':<17}{verdict if problem is None else 'FAILED: ' + problem}")
                failed += problem is not None
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
