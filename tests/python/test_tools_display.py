"""What the viewer asks of the extension: arrays as JSON text, the points of a trace
to draw at a width, points binned into a grid, and single scans read on their own."""

from __future__ import annotations

import array
import json
import math
import random
import struct

import pytest
import tools_samples

import tarnvale_tools as tt
from tarnvale_tools import _core

AWKWARD = [
    0.0, -0.0, 0.1, 0.3, 1.0, 2.5, 1234.0, 1e-4, 1e-5, 0.00012345, 1e15, 1e16, 9999999999999998.0, 123456789.0,
    123456789012345680.0, 1e22, 5e-324, 2.2250738585072014e-308, 1.7976931348623157e308, -1.5e-7, 65535.0,
    math.pi, -math.e, 524.2648, 0.1 + 0.2, float("nan"), float("inf"), float("-inf"),
]


def _random_doubles(count: int) -> list[float]:
    rng = random.Random(7)
    return [struct.unpack("<d", struct.pack("<Q", rng.getrandbits(64)))[0] for _ in range(count)]


def _python_text(values: list[float]) -> bytes:
    return json.dumps([v if math.isfinite(v) else None for v in values], separators=(",", ":")).encode()


@pytest.mark.parametrize(
    ("typecode", "values"),
    [
        ("d", AWKWARD),
        ("d", _random_doubles(5000)),
        ("f", AWKWARD),  # each rounded to float32, then written as that value widened
        ("f", [struct.unpack("<f", struct.pack("<I", bits))[0] for bits in range(0, 2**32, 2**32 // 4099)]),
        ("Q", [0, 1, 2**53 + 1, 2**64 - 1]),
        ("d", []),
    ],
)
def test_json_array_is_python_json_with_null_for_non_finite(typecode: str, values: list[float]) -> None:
    buffer = array.array(typecode, values)
    assert _core.json_array(buffer) == _python_text(buffer.tolist())
    picks = array.array("Q", [i for i in range(len(values)) if i % 3 != 1][::-1])
    assert _core.json_array(memoryview(buffer), memoryview(picks)) == _python_text([buffer[i] for i in picks])


@pytest.mark.parametrize(
    ("call", "error", "message"),
    [
        (lambda: _core.json_array([1.0]), TypeError, "values must be an array (a buffer), not list"),
        (lambda: _core.json_array(array.array("i", [1])), TypeError, "float64, float32 or uint64 values"),
        (lambda: _core.json_array(memoryview(b"ab" * 8).cast("d", (2, 1))), ValueError, "one-dimensional"),
        (lambda: _core.json_array(array.array("d", [1.0]), array.array("Q", [1])), IndexError, "picks holds 1"),
        (lambda: _core.json_array(array.array("d", [1.0]), array.array("d", [0.0])), TypeError, "uint64"),
        (lambda: _core.points_to_draw(array.array("d", [1.0]), array.array("d", []), 5), ValueError, "x holds 1"),
        (lambda: _core.points_to_draw(array.array("d"), array.array("d"), 0), ValueError, "width must be at least 1"),
        (lambda: _core.points_to_draw(array.array("d"), array.array("d"), 1, float("nan")), ValueError, "finite"),
        (lambda: _core.points_to_draw(array.array("Q"), array.array("d"), 1), TypeError, "x must hold float"),
        (lambda: _core.bin_grid(*_grid_points(3), 0, 5), ValueError, "x_bins must be 1 to"),
        (lambda: _core.bin_grid(*_grid_points(3), 2**13, 2**12), ValueError, "a grid of at most 16777216 cells"),
        (lambda: _core.bin_grid(*_grid_points(3), 5, 5, (2.0, 2.0)), ValueError, "x_range needs finite ends with low < high"),
        (lambda: _core.bin_grid(*_grid_points(3), 5, 5, None, (0.0, math.inf)), ValueError, "y_range needs finite"),
        (lambda: _core.bin_grid(*_grid_points(3), 5, 5, [0.0, 1.0]), TypeError, "x_range must be a (low, high) tuple"),
        (lambda: _core.bin_grid(*_grid_points(3)[:2], array.array("d", [1.0] * 3), 5, 5), TypeError, "float32"),
        (lambda: _core.sum_by_value(array.array("d", [1.0]), array.array("f")), ValueError, "keys holds 1 values"),
        (lambda: _core.sum_by_value(array.array("f", [1.0]), array.array("f", [1.0])), TypeError, "float64"),
    ],
)
def test_bad_arguments(call, error: type[Exception], message: str) -> None:
    with pytest.raises(error, match=message.replace("(", r"\(").replace(")", r"\)")):
        call()


def _trace(count: int, seed: int, nan_share: float = 0.0) -> tuple[array.array, array.array]:
    rng = random.Random(seed)
    x = array.array("f", sorted(rng.uniform(0.0, 90.0) for _ in range(count)))
    y = array.array("d", (math.nan if rng.random() < nan_share else rng.uniform(0.0, 10.0) for _ in range(count)))
    return x, y


@pytest.mark.parametrize("width", [1, 2, 3, 7, 64, 499, 500, 1000])
@pytest.mark.parametrize("nan_share", [0.0, 0.3])
def test_reduced_traces_keep_every_spike_and_only_true_points(width: int, nan_share: float) -> None:
    x, y = _trace(1000, width, nan_share)
    for spike in (0, 1, 517, 998, 999):
        spiked = array.array("d", y)
        spiked[spike] = 1e6
        spiked[(spike + 500) % 1000] = -1e6  # and a dip
        kept = _core.points_to_draw(x, spiked, width).tolist()
        assert spike in kept and (spike + 500) % 1000 in kept
        assert kept == sorted(set(kept)) and len(kept) <= 2 * width
        if len(y) <= 2 * width:
            assert kept == list(range(len(y)))


def test_reduction_per_pixel_column() -> None:
    # Ten columns over x 0..9.99: each keeps its own lowest and highest point.
    x = array.array("d", [i / 100 for i in range(1000)])
    y = array.array("d", [(i * 7919) % 1000 for i in range(1000)])
    kept = set(_core.points_to_draw(x, y, 10).tolist())
    expected = set()
    for column in range(10):
        members = range(column * 100, column * 100 + 100)
        expected |= {min(members, key=y.__getitem__), max(members, key=y.__getitem__)}
    assert kept == expected


@pytest.mark.parametrize(
    ("low", "high", "inside", "outside"),
    [(None, None, range(0, 1000), []), (2.0, 3.0, range(200, 301), [199, 301]), (None, 0.5, range(0, 51), [51]),
     (9.5, None, range(950, 1000), [949]), (20.0, 30.0, range(0), [999]), (3.995, 4.005, range(0), [399, 401])],
)
def test_reduction_window_and_its_neighbours(low: float | None, high: float | None, inside: range, outside: list[int]) -> None:
    x = array.array("d", [i / 100 for i in range(1000)])
    x[400] = math.nan  # no place on the axis: never drawn
    x[600] = 7.0  # a second point at 7.0, out of order: the first one is the neighbour
    y = array.array("f", [float(i % 13) for i in range(1000)])
    for width in (3, 10**9):
        kept = _core.points_to_draw(x, y, width, low, high).tolist()
        assert set(kept) - set(inside) == set(outside) and 400 not in kept
        if width > len(inside):
            assert kept == sorted({i for i in inside if i != 400} | set(outside))
    assert _core.points_to_draw(x, y, 5, 6.995, 6.999).tolist() == [600, 699]


def _grid_points(count: int, seed: int = 3) -> tuple[array.array, array.array, array.array]:
    rng = random.Random(seed)
    x = array.array("d", (rng.uniform(100.0, 200.0) for _ in range(count)))
    y = array.array("d", (rng.uniform(0.0, 10.0) for _ in range(count)))
    weight = array.array("f", (float(rng.randrange(1, 65536)) for _ in range(count)))
    return x, y, weight


@pytest.mark.parametrize(
    ("x_range", "y_range", "bins"),
    [(None, None, (7, 5)), ((120.0, 180.0), (2.0, 8.0), (60, 3)), ((150.0, 150.5), None, (1, 1)), (None, (9.0, 9.5), (4, 9))],
)
def test_grid_sums_each_point_into_its_cell(x_range, y_range, bins: tuple[int, int]) -> None:
    x, y, weight = _grid_points(2000)
    x[5], y[6] = math.nan, math.nan
    cells, totals, used_x, used_y = _core.bin_grid(x, y, weight, *bins, x_range, y_range)
    finite_x = [v for v in x if math.isfinite(v)]
    finite_y = [v for v in y if math.isfinite(v)]
    assert used_x == (x_range or (min(finite_x), max(finite_x)))
    assert used_y == (y_range or (min(finite_y), max(finite_y)))
    expected = [[0.0] * bins[0] for _ in range(bins[1])]
    for xi, yi, wi in zip(x, y, weight):
        if not (used_x[0] <= xi <= used_x[1] and used_y[0] <= yi <= used_y[1]):
            continue
        column = min(int((xi - used_x[0]) / (used_x[1] - used_x[0]) * bins[0]), bins[0] - 1)
        row = min(int((yi - used_y[0]) / (used_y[1] - used_y[0]) * bins[1]), bins[1] - 1)
        expected[row][column] += wi
    assert cells.tolist() == expected
    assert totals.tolist() == [sum(row) for row in expected]


def test_grid_of_no_points_or_one_value() -> None:
    empty = array.array("d")
    assert _core.bin_grid(empty, empty, array.array("f"), 2, 2)[2:] == ((0.0, 1.0), (0.0, 1.0))
    one = array.array("d", [4.0])
    cells, totals, x_range, _ = _core.bin_grid(one, one, array.array("f", [2.0]), 3, 1)
    assert (cells.tolist(), x_range) == ([[0.0, 2.0, 0.0]], (3.5, 4.5))


@pytest.mark.parametrize("distinct", [1, 7, 500, 5000])
def test_points_of_equal_value_are_summed_in_point_order(distinct: int) -> None:
    rng = random.Random(distinct)
    levels = [rng.uniform(50.0, 2000.0) for _ in range(distinct)]
    keys = array.array("d", (rng.choice(levels) for _ in range(5000)))
    keys[10] = keys[20] = math.nan
    weights = array.array("f", (float(rng.randrange(0, 65536)) * 0.25 for _ in range(5000)))
    expected: dict[float, float] = {}
    for key, weight in zip(keys, weights):
        if not math.isnan(key):
            expected[key] = expected.get(key, 0.0) + weight
    values, sums = _core.sum_by_value(keys, weights)
    assert (values.tolist(), sums.tolist()) == (sorted(expected), [expected[k] for k in sorted(expected)])


@pytest.mark.parametrize("encoding", tools_samples.ENCODINGS)
def test_read_scan_equals_the_columns(write_raw, encoding: str) -> None:
    run = tt.Run(write_raw(tools_samples.random_raw(encoding, 1)))
    for function in run.functions:
        columns = run.columns(function.index, on_error="skip")
        for scan in range(len(columns)):
            if scan in columns.skipped:
                with pytest.raises(RuntimeError, match=f"function {function.index} scan {scan}: "):
                    run.read_scan(function.index, scan)
                continue
            read = run.read_scan(function.index, scan)
            mz, intensity = columns.scan(scan)
            assert (read.mz.tolist(), read.intensity.tolist()) == (mz.tolist(), intensity.tolist())
            assert read.rt_min == columns.rt_min[scan]
            first, last = columns.scan_offsets[scan], columns.scan_offsets[scan + 1]
            drift = None if columns.drift_time_ms is None else columns.drift_time_ms[first:last].tolist()
            assert (None if read.drift_time_ms is None else read.drift_time_ms.tolist()) == drift
        with pytest.raises(RuntimeError, match=f"function {function.index} scan {len(columns)} out of range"):
            run.read_scan(function.index, len(columns))
