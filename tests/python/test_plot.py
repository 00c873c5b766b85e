"""The quick-look figure: the data drawn in every panel, read back out of the
matplotlib artists, equals what tarnvale_tools reads from the run."""

from __future__ import annotations

from collections import defaultdict
from typing import Any

import numpy as np
import pytest
from plot_runs import PEAKS, PRESSURE, WEIGHTS, quick_run, run_of

pytest.importorskip("matplotlib")
import tarnvale_tools as tt  # noqa: E402
from tarnvale_tools.plot import label_peaks, quicklook_figure  # noqa: E402
from tarnvale_tools.quicklook import MAX_FUNCTION_PANELS, QuickLookError, ScanChoice, gather  # noqa: E402


def panels(path: str, choice: ScanChoice = ScanChoice(), **options: Any) -> dict[str, Any]:
    figure = quicklook_figure(gather(path, choice, **options))
    return {axes.get_label(): axes for axes in figure.axes}


def line(axes: Any, label: str) -> tuple[np.ndarray, np.ndarray]:
    (found,) = [artist for artist in axes.get_lines() if artist.get_label() == label]
    return np.asarray(found.get_xdata()), np.asarray(found.get_ydata())


def sticks(axes: Any) -> tuple[np.ndarray, np.ndarray]:
    segments = axes.collections[0].get_segments()
    return np.array([s[1][0] for s in segments]), np.array([s[1][1] for s in segments])


@pytest.fixture
def quick(write_raw: Any) -> str:
    return write_raw(quick_run())


def test_chromatogram_panels_draw_the_runs_traces(quick: str) -> None:
    run = tt.Run(quick)
    drawn = panels(quick, xic_targets=[524.2649, 785.8426], ppm=10.0)
    for function in run.functions:
        rt, tic = run.tic(function.index)
        _, _, bpi = run.bpi(function.index)
        axes = drawn[f"function {function.index}"]
        assert np.array_equal(line(axes, "TIC")[0], rt) and np.array_equal(line(axes, "TIC")[1], tic)
        assert np.array_equal(line(axes, "BPI")[1], bpi)
        assert ("LOCK MASS" in axes.get_title(loc="left")) == function.is_lock_mass
    rt, xic = run.xic(1, [524.2649, 785.8426], ppm=10.0)
    for row, target in enumerate((524.2649, 785.8426)):
        assert np.array_equal(line(drawn["xic"], f"m/z {target:.4f}")[1], np.asarray(xic)[row])
    assert np.asarray(xic)[0].max() == 2500 * max(WEIGHTS)  # the target was found
    rt, values = run.read_chrom(0)
    assert np.array_equal(line(drawn["channel 0"], "samples")[1], values)
    assert np.array_equal(values, np.float32([v for _, v in PRESSURE]))
    assert "(bar)" in drawn["channel 0"].get_title(loc="left")
    assert "not found" in " ".join(t.get_text() for t in drawn["channel 1"].texts)  # its file is missing


def test_sticks_of_a_scan_are_its_points(quick: str) -> None:
    drawn = panels(quick, ScanChoice(scan_index=3))
    mz, intensity = tt.Run(quick).columns(1).scan(3)
    assert np.array_equal(sticks(drawn["spectrum"])[0], mz)
    assert np.array_equal(sticks(drawn["spectrum"])[1], intensity)
    assert {"heat map", "mobilogram"}.isdisjoint(drawn)
    labels = sorted(float(text.get_text()) for text in drawn["spectrum"].texts if text.get_text()[0].isdigit())
    # 556.2766 would sit on the stronger 524.2649's label
    assert labels == pytest.approx([mz for mz, _ in PEAKS if mz != 556.2766], abs=1e-4)


def test_ion_mobility_scan_panels(quick: str) -> None:
    drawn = panels(quick, ScanChoice(func_index=2, scan_index=1))
    columns = tt.Run(quick).columns(2)
    begin, end = np.asarray(columns.scan_offsets)[1:3]
    mz, drift = np.asarray(columns.mz)[begin:end], np.asarray(columns.drift_time_ms)[begin:end]
    intensity = np.asarray(columns.intensity)[begin:end].astype(np.float64)
    by_mz: dict[float, float] = defaultdict(float)
    by_drift: dict[float, float] = defaultdict(float)
    for m, d, i in zip(mz, drift, intensity):
        by_mz[m] += i
        by_drift[d] += i
    assert len(by_mz) < len(mz)  # the same m/z recurs at several drift times
    drawn_mz, drawn_sum = sticks(drawn["spectrum"])
    assert dict(zip(drawn_mz, drawn_sum)) == by_mz
    sums, centres = line(drawn["mobilogram"], "mobilogram")
    assert dict(zip(centres, sums)) == pytest.approx(by_drift)
    (mesh,) = drawn["heat map"].collections
    assert mesh.get_array().sum() == pytest.approx(intensity.sum())
    assert type(mesh.norm).__name__ == "LogNorm"
    assert drawn["heat map"].get_xlim() == drawn["spectrum"].get_xlim() == (50.0, 2000.0)  # the function's window


@pytest.mark.parametrize(
    ("choice", "scan"),
    [
        (ScanChoice(), 2),  # the TIC apex
        (ScanChoice(scan_index=4), 4),
        (ScanChoice(rt_min=0.29), 2),
        (ScanChoice(rt_min=0.54), 4),  # within half a scan interval past the last scan
        (ScanChoice(rt_min=0.06), 0),
    ],
)
def test_scan_choice(quick: str, choice: ScanChoice, scan: int) -> None:
    data = gather(quick, choice)
    assert data.scan.scan_index == scan
    assert data.scan.rt_min == pytest.approx(0.1 * (scan + 1))
    assert line(panels(quick, choice)["function 1"], "_scan")[0][0] == pytest.approx(0.1 * (scan + 1))


@pytest.mark.parametrize(
    ("kinds", "chosen"),
    [(["ms1", "ims", "lock"], 1), (["lock", "msms", "ms1"], 3), (["lock", "msms"], 2), (["lock"], 1),
     (["empty", "lock", "ms1"], 3)],
)
def test_default_function_is_the_first_survey(write_raw: Any, kinds: list[str], chosen: int) -> None:
    assert gather(write_raw(run_of(kinds))).scan.function.index == chosen


def test_many_functions_keep_the_chosen_one(write_raw: Any) -> None:
    path = write_raw(run_of(["lock"] * 10 + ["ms1"]))
    data = gather(path)
    assert [t.function.index for t in data.traces] == [*range(1, MAX_FUNCTION_PANELS), 11]
    assert data.hidden_functions == (8, 9, 10)
    assert quicklook_figure(data).get_suptitle().endswith("\n(functions 8, 9, 10 not shown)")


@pytest.mark.parametrize(
    ("choice", "message"),
    [
        (ScanChoice(func_index=4), "sample.raw has no function 4 (functions: 1, 2, 3)"),
        (ScanChoice(scan_index=5), "function 1 of sample.raw has scans 0 to 4, not 5"),
        (ScanChoice(rt_min=0.56), "retention time 0.56 min is outside function 1 of sample.raw (0.1000 to 0.5000 min)"),
        (ScanChoice(func_index=3, rt_min=-1), "retention time -1 min is outside function 3"),
    ],
)
def test_choices_the_run_cannot_satisfy(quick: str, choice: ScanChoice, message: str) -> None:
    with pytest.raises(QuickLookError, match="^" + message.replace("(", r"\(").replace(")", r"\)")):
        gather(quick, choice)


@pytest.mark.parametrize(
    ("mz", "intensity", "labelled"),
    [
        ([100.0, 101.0, 150.0, 200.0], [5.0, 9.0, 7.0, 1.0], [1, 2, 3]),  # 100 is too close to 101
        ([100.0, 150.0, 200.0], [1000.0, 9.0, 0.0], [0]),  # below 1 % of the base peak, or nothing
        (list(np.arange(100.0, 1000.0, 50.0)), list(np.arange(18.0, 0.0, -1.0)), list(range(8))),  # at most 8
        ([], [], []),
    ],
)
def test_peak_labels(mz: list[float], intensity: list[float], labelled: list[int]) -> None:
    assert label_peaks(np.array(mz), np.array(intensity), (100.0, 1000.0)) == labelled
