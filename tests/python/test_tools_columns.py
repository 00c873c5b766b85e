"""tarnvale_tools: whole functions as columns and their chromatograms, against
per-scan decoding with tarnvale and against plain numpy computations on the columns."""

from __future__ import annotations

import gc
import io
import sys
from collections.abc import Callable

import numpy as np
import pytest
import samples
import tools_samples

import tarnvale
import tarnvale_tools as tt

THREADS = [1, 2, 8]


def _directories() -> dict[str, Callable[[], object]]:
    found: dict[str, Callable[[], object]] = {
        "sample": samples.sample, "xevo": samples.xevo, "tied maxima": tools_samples.tied_maxima
    }
    for encoding in tools_samples.ENCODINGS:
        for seed in (1, 2):
            found[f"random {encoding}{seed}"] = lambda e=encoding, s=seed: tools_samples.random_raw(e, s)
    return found


DIRECTORIES = _directories()


@pytest.fixture(params=list(DIRECTORIES))
def raw_path(request: pytest.FixtureRequest, write_raw) -> str:
    return write_raw(DIRECTORIES[request.param]())


def _function_numbers(path: str) -> list[int]:
    return [function.index for function in tt.Run(path).functions]


@pytest.mark.parametrize("threads", THREADS)
def test_columns_equal_per_scan_decoding(raw_path: str, threads: int) -> None:
    reader = tarnvale.RawReader(raw_path)
    run = tt.Run(raw_path)
    for number in _function_numbers(raw_path):
        cols = run.columns(number, threads=threads, on_error="skip")
        assert len(cols) == reader.n_scans(number) == len(cols.rt_min)
        assert cols.encoding == reader.function_encoding(number)
        offsets = cols.scan_offsets.tolist()
        assert offsets[0] == 0 and offsets[-1] == cols.n_points == len(cols.mz) == len(cols.intensity)
        skipped = []
        for scan in range(len(cols)):
            assert cols.rt_min[scan] == reader.retention_time(number, scan)
            mz, intensity = cols.scan(scan)
            try:
                spectrum = reader.read_spectrum(number, scan)
            except RuntimeError:
                skipped.append(scan)
                assert len(mz) == 0
                continue
            assert mz.tolist() == spectrum.mz and intensity.tolist() == spectrum.intensity
            if cols.encoding == "b":
                drift = cols.drift_time_ms
                assert drift is not None
                assert drift[offsets[scan] : offsets[scan + 1]].tolist() == reader.read_ims_spectrum(number, scan).drift_time_ms
        assert cols.skipped == skipped
        assert (cols.drift_time_ms is None) == (cols.encoding != "b")


def test_failing_scan_fails_the_call_with_decode_scans_message(write_raw) -> None:
    path = write_raw(tools_samples.random_raw("C", 3))
    reader = tarnvale.RawReader(path)
    last = reader.n_scans(1) - 1
    expected = samples.runtime_error(lambda: reader.read_spectrum(1, last))
    assert expected.endswith("parse error: Encoding C: scan size " + expected.split("scan size ")[1])
    for threads in THREADS:
        assert samples.runtime_error(lambda: tt.Run(path).columns(1, threads=threads)) == expected
        assert samples.runtime_error(lambda: tt.Run(path).tic(1, threads=threads)) == expected
        assert tt.Run(path).columns(1, threads=threads, on_error="skip").skipped == [last]


def test_statistics_per_scan(write_raw) -> None:
    cols = tt.Run(write_raw(samples.sample())).columns(2)
    assert cols.collision_energy is not None and cols.collision_energy.tolist() == [20.0, 25.0, 30.0]
    assert cols.etd_fragmentation_mode is None  # the statistics file has no such channel
    assert tt.Run(write_raw(samples.sample(), "b.raw")).columns(3).collision_energy is None  # no statistics file


def _sequential_sum(values: np.ndarray) -> float:
    return float(np.cumsum(values)[-1]) if len(values) else 0.0


@pytest.mark.parametrize("threads", [1, 8])
def test_chromatograms_equal_numpy_on_the_columns(raw_path: str, threads: int) -> None:
    run = tt.Run(raw_path)
    for number in _function_numbers(raw_path):
        cols = run.columns(number, on_error="skip")
        offsets = np.asarray(cols.scan_offsets)
        mz = np.asarray(cols.mz)
        intensity = np.asarray(cols.intensity).astype(np.float64)
        scans = [slice(int(a), int(b)) for a, b in zip(offsets[:-1], offsets[1:], strict=True)]
        targets = [float(mz[i]) for i in range(0, len(mz), max(1, len(mz) // 7))] + [500.0, 1e9]

        tic = [_sequential_sum(intensity[s]) for s in scans]
        first_max = [int(np.argmax(intensity[s])) + s.start if s.stop > s.start else -1 for s in scans]
        bpi_mz = [float(mz[i]) if i >= 0 else 0.0 for i in first_max]
        bpi = [float(intensity[i]) if i >= 0 else 0.0 for i in first_max]
        xic = {}
        for name, width in (("ppm", 20.0), ("da", 0.5)):
            tolerance = [t * width * 1e-6 if name == "ppm" else width for t in targets]
            xic[name] = [
                [_sequential_sum(np.where(np.abs(mz[s] - t) <= w, intensity[s], 0.0)) for s in scans]
                for t, w in zip(targets, tolerance, strict=True)
            ]

        rt, got_tic = run.tic(number, threads=threads, on_error="skip")
        assert got_tic.tolist() == tic == cols.tic()[1].tolist()
        assert rt.tolist() == cols.rt_min.tolist()
        _, got_mz, got_bpi = run.bpi(number, threads=threads, on_error="skip")
        assert got_mz.tolist() == bpi_mz and got_bpi.tolist() == bpi
        _, got_mz, got_bpi = cols.bpi()
        assert got_mz.tolist() == bpi_mz and got_bpi.tolist() == bpi
        for name in ("ppm", "da"):
            width = {name: 20.0 if name == "ppm" else 0.5}
            _, got = run.xic(number, targets, threads=threads, on_error="skip", **width)
            assert got.shape == (len(targets), len(cols))
            assert got.tolist() == xic[name] == cols.xic(targets, **width)[1].tolist()
        both = run.chromatograms(number, targets=targets, da=[0.5] * len(targets), threads=threads, on_error="skip")
        assert both.tic is not None and both.tic.tolist() == tic
        assert both.xic.tolist() == xic["da"] and both.skipped == cols.skipped and len(both) == len(cols)


def test_views_are_read_only_shared_and_outlive_run_and_columns(sample_path: str) -> None:
    run = tt.Run(sample_path)
    cols = run.columns(1)
    mz_view, intensity_view = cols.mz, cols.intensity
    expected = mz_view.tolist()
    array = np.asarray(cols.mz)
    assert np.shares_memory(array, np.asarray(cols.mz))  # every view is over the same storage
    assert not array.flags.writeable
    with pytest.raises(ValueError):
        array[0] = 1.0
    for view in (mz_view, intensity_view, cols.scan_offsets, cols.scan(0)[0]):
        assert view.readonly
        with pytest.raises(TypeError):
            view[0] = 0
    with pytest.raises(TypeError):
        io.BytesIO(bytes(8)).readinto(mz_view.obj)  # asks the storage itself for a writable buffer
    del run, cols
    gc.collect()
    assert mz_view.tolist() == expected and array.tolist() == expected


def test_views_without_numpy(sample_path: str) -> None:
    cols = tt.Run(sample_path).columns(2)
    view = memoryview(cols.mz)
    assert (view.format, view.itemsize, view.ndim, view.shape) == ("d", 8, 1, (cols.n_points,))
    assert (cols.intensity.format, cols.scan_offsets.format, cols.rt_min.format) == ("f", "Q", "f")
    assert view[2:4].tolist() == cols.mz.tolist()[2:4]
    assert bytes(cols.intensity) == np.asarray(cols.intensity).tobytes()
    _, xic = cols.xic([524.2648, 785.8426, 1.0], ppm=10)
    assert (xic.shape, xic.strides, xic.format) == ((3, 3), (24, 8), "d")
    assert xic[1, 2] == xic.tolist()[1][2]
    _, empty = cols.xic([], da=1.0)
    assert empty.shape == (0, 3) and empty.tolist() == []


def test_no_references_leak(sample_path: str) -> None:
    run = tt.Run(sample_path)
    targets = [524.2648, 785.8426]

    def work() -> None:
        cols = run.columns(2, threads=2)
        cols.mz.tolist()
        cols.scan(1)
        cols.xic(targets, ppm=10)
        np.asarray(cols.drift_time_ms).sum()
        run.tic(1)
        run.xic(1, targets, da=[0.1, 0.2])
        run.read_chrom(0)
        for bad in (lambda: run.columns(9), lambda: run.xic(1, targets), lambda: cols.scan(99)):
            with pytest.raises((RuntimeError, TypeError, IndexError)):
                bad()

    for _ in range(20):
        work()
    gc.collect()
    blocks, run_refs, target_refs = sys.getallocatedblocks(), sys.getrefcount(run), sys.getrefcount(targets)
    for _ in range(300):
        work()
    gc.collect()
    assert sys.getrefcount(run) == run_refs and sys.getrefcount(targets) == target_refs
    assert sys.getallocatedblocks() - blocks < 300  # a leak of anything per call would be thousands


def test_metadata_as_plain_values(sample_path: str) -> None:
    run = tt.Run(sample_path)
    reader = tarnvale.RawReader(sample_path)
    assert run.path == sample_path and run.name == "sample.raw" and run.polarity == reader.polarity
    assert run.header.instrument == reader.header.instrument == "SYNAPT G2-Si"
    assert repr(run) == f"Run({sample_path!r}, functions=[1, 2, 3], scans=[3, 3, 2])"
    for function, info in zip(run.functions, reader.functions, strict=True):
        assert function.index == info.index and function.ms_level == reader.ms_level(info.index)
        assert function.encoding == reader.function_encoding(info.index) and function.n_scans == reader.n_scans(info.index)
        assert (function.mz_low, function.mz_high, function.scan_time_s) == (info.mz_low, info.mz_high, info.scan_time_s)
        assert function.is_lock_mass == info.is_lock_mass and function.is_ims == (function.encoding == "b")
    assert run.function(2).is_ims
    assert samples.runtime_error(lambda: run.function(4)) == samples.runtime_error(lambda: run.columns(4))
    assert [(c.index, c.name, c.units, c.scale_f) for c in run.channels] == [
        (c.index, c.name, c.units, c.scale_f) for c in reader.channels
    ]
    rt, value = run.read_chrom(1)
    assert [(p.rt_min, p.value) for p in reader.read_chrom(1)] == list(zip(rt.tolist(), value.tolist(), strict=True))
