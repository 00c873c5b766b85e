"""The spectra a conversion should write, built scan by scan from tarnvale.RawReader:
the reference the mzML read-back tests compare with, selections included."""

from __future__ import annotations

from collections.abc import Collection

import numpy as np

import tarnvale
import tarnvale_tools as tt

Range = tuple[float | None, float | None]


def drift_word(drift_ms: float, scan_time_s: float) -> int:
    return round(drift_ms * 65536 / (float(np.float32(scan_time_s)) * 1000.0))


def _within(value: np.ndarray | float, bounds: Range | None) -> np.ndarray | bool:
    low, high = bounds or (None, None)
    inside = np.ones(np.shape(value), bool)
    if low is not None:
        inside &= np.asarray(value) >= low
    if high is not None:
        inside &= np.asarray(value) <= high
    return inside


def expected_spectra(
    raw_path: str,
    ims: str = "combined",
    skip_lock_mass: bool = False,
    *,
    functions: Collection[int] | None = None,
    ms_level: int | None = None,
    rt: Range | None = None,
    mz: Range | None = None,
    left_out: dict[int, list[int]] | None = None,
) -> dict[str, tuple]:
    """Spectrum id -> (ms level, m/z, intensity, drift times or None) as the reader
    decodes them: of the selected functions and times, points outside `mz` dropped,
    the scans of `left_out` (function -> scans) missing."""
    reader = tarnvale.RawReader(raw_path)
    expected = {}
    for function in tt.Run(raw_path).functions:
        if (skip_lock_mass and function.is_lock_mass) or (functions is not None and function.index not in functions):
            continue
        if ms_level is not None and function.ms_level != ms_level:
            continue
        for scan in range(function.n_scans):
            if scan in (left_out or {}).get(function.index, []) or not _within(reader.retention_time(function.index, scan), rt):
                continue
            key = f"function={function.index} process=0 scan={scan}"
            if not function.is_ims:
                s = reader.read_spectrum(function.index, scan)
                kept = _within(np.array(s.mz, "<f8"), mz)
                expected[key] = (function.ms_level, np.array(s.mz, "<f8")[kept], np.array(s.intensity, "<f4")[kept], None)
                continue
            s = reader.read_ims_spectrum(function.index, scan)
            kept = _within(np.array(s.mz, "<f8"), mz)
            points = np.array(s.mz, "<f8")[kept], np.array(s.drift_time_ms, "<f8")[kept], np.array(s.intensity, "<f4")[kept]
            expected.update(_ims_spectra(key, function, ims, *points))
    return expected


def _ims_spectra(key: str, function: tt.Function, ims: str, mz: np.ndarray, drift: np.ndarray, intensity: np.ndarray) -> dict:
    if ims == "combined":
        order = np.lexsort((drift, mz))  # stable: by m/z, then drift time, then decode order
        return {key: (function.ms_level, mz[order], intensity[order], drift[order])}
    spectra = {}
    for time in np.unique(drift):
        points = np.flatnonzero(drift == time)
        points = points[np.argsort(mz[points], kind="stable")]
        spectra[f"{key} driftBin={drift_word(time, function.scan_time_s)}"] = (function.ms_level, mz[points], intensity[points], None)
    return spectra
