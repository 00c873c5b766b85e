#include "tools_ext/display_functions.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "columns/grid_bins.hpp"
#include "columns/pixel_columns.hpp"
#include "columns/value_sums.hpp"
#include "common/arguments.hpp"
#include "common/guard.hpp"
#include "common/py_ref.hpp"
#include "common/without_gil.hpp"
#include "json_numbers.hpp"
#include "tools_ext/array_buffer.hpp"
#include "tools_ext/buffer_argument.hpp"

namespace tarnvale::py::tools {

namespace {

// A grid of 2^24 cells is 128 MiB of float64.
constexpr std::uint64_t kMaxCells = std::uint64_t{1} << 24;

template <class T> std::string json_text(const BufferArgument& values, const BufferArgument* picks) {
    std::string out;
    if (picks == nullptr)
        append_json_array(out, values.as<T>());
    else
        append_json_array(out, values.as<T>(), picks->as<std::uint64_t>());
    return out;
}

bool picks_in_range(const BufferArgument& picks, std::size_t size) {
    for (const std::uint64_t pick : picks.as<std::uint64_t>()) {
        if (pick >= size) {
            PyErr_Format(PyExc_IndexError, "picks holds %llu, beyond the %zu values",
                         static_cast<unsigned long long>(pick), size);
            return false;
        }
    }
    return true;
}

// An optional finite number; a null or None object leaves `out` as it is.
bool optional_finite(PyObject* object, const char* param, double& out) {
    if (object == nullptr || object == Py_None) return true;
    if (!to_f64(object, param, out)) return false;
    if (!std::isfinite(out)) {
        PyErr_Format(PyExc_ValueError, "%s must be finite", param);
        return false;
    }
    return true;
}

// An axis of `bins` bins over `range` ((low, high), finite, low < high), or when
// `range` is None over the finite extent of `values` (one unit wide around a
// single value; 0 to 1 without any).
bool to_axis(PyObject* range, PyObject* bins, const BufferArgument& values, const char* axis,
             columns::GridAxis& out) {
    const std::string bins_name = std::string(axis) + "_bins";
    const std::string range_name = std::string(axis) + "_range";
    std::uint64_t count = 0;
    if (!to_u64(bins, bins_name.c_str(), count)) return false;
    if (count == 0 || count > kMaxCells) {
        PyErr_Format(PyExc_ValueError, "%s must be 1 to %llu", bins_name.c_str(),
                     static_cast<unsigned long long>(kMaxCells));
        return false;
    }
    out.bins = static_cast<std::size_t>(count);
    if (range == nullptr || range == Py_None) {
        const auto extent =
            without_interpreter_lock([&] { return columns::finite_extent(values.as<double>()); });
        out.low = extent ? extent->first : 0.0;
        out.high = extent ? extent->second : 1.0;
        if (out.low == out.high) {
            out.low -= 0.5;
            out.high += 0.5;
        }
        return true;
    }
    if (!PyTuple_Check(range) || PyTuple_GET_SIZE(range) != 2) {
        PyErr_Format(PyExc_TypeError, "%s must be a (low, high) tuple", range_name.c_str());
        return false;
    }
    if (!to_f64(PyTuple_GET_ITEM(range, 0), range_name.c_str(), out.low) ||
        !to_f64(PyTuple_GET_ITEM(range, 1), range_name.c_str(), out.high))
        return false;
    if (!std::isfinite(out.low) || !std::isfinite(out.high) || !(out.low < out.high)) {
        PyErr_Format(PyExc_ValueError, "%s needs finite ends with low < high", range_name.c_str());
        return false;
    }
    return true;
}

template <class X, class Y>
std::vector<std::uint64_t> reduce(const BufferArgument& x, const BufferArgument& y,
                                  columns::AxisWindow window, std::size_t width) {
    return columns::points_to_draw(x.as<X>(), y.as<Y>(), window, width);
}

// Dispatches on the element kinds of x and y (each float64 or float32).
std::vector<std::uint64_t> reduce_any(const BufferArgument& x, const BufferArgument& y,
                                      columns::AxisWindow window, std::size_t width) {
    const bool x_f64 = x.kind() == ElementKind::F64;
    const bool y_f64 = y.kind() == ElementKind::F64;
    if (x_f64)
        return y_f64 ? reduce<double, double>(x, y, window, width)
                     : reduce<double, float>(x, y, window, width);
    return y_f64 ? reduce<float, double>(x, y, window, width) : reduce<float, float>(x, y, window, width);
}

bool is_float(const BufferArgument& buffer, const char* param) {
    if (buffer.kind() == ElementKind::U64) {
        PyErr_Format(PyExc_TypeError, "%s must hold float64 or float32 values", param);
        return false;
    }
    return true;
}

bool has_kind(const BufferArgument& buffer, ElementKind kind, const char* param, const char* what) {
    if (buffer.kind() != kind) {
        PyErr_Format(PyExc_TypeError, "%s must hold %s values", param, what);
        return false;
    }
    return true;
}

} // namespace

const char json_array_doc[] =
    "json_array(values, picks=None)\n--\n\n"
    "The JSON text of a float64, float32 or uint64 array (of values[picks] when picks, a uint64 array,\n"
    "is given): shortest round-trip numbers laid out as json.dumps lays them out, a float32 as its\n"
    "value widened to float64, NaN and infinities as null.";

PyObject* json_array(PyObject*, PyObject* args, PyObject* kwds) {
    return guarded([&]() -> PyObject* {
        static constexpr std::array<const char*, 2> params{"values", "picks"};
        std::array<PyObject*, 2> bound{};
        if (!bind_arguments(args, kwds, "json_array", params, bound, 1)) return nullptr;
        BufferArgument values;
        BufferArgument picks;
        const bool picked = bound[1] != nullptr && bound[1] != Py_None;
        if (!values.acquire(bound[0], "values") ||
            (picked &&
             (!picks.acquire(bound[1], "picks") || !has_kind(picks, ElementKind::U64, "picks", "uint64") ||
              !picks_in_range(picks, values.size()))))
            return nullptr;
        const BufferArgument* chosen = picked ? &picks : nullptr;
        std::string text = without_interpreter_lock([&] {
            switch (values.kind()) {
            case ElementKind::F64:
                return json_text<double>(values, chosen);
            case ElementKind::F32:
                return json_text<float>(values, chosen);
            case ElementKind::U64:
                break;
            }
            return json_text<std::uint64_t>(values, chosen);
        });
        return PyBytes_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
    });
}

const char points_to_draw_doc[] =
    "points_to_draw(x, y, width, low=None, high=None)\n--\n\n"
    "Indices (uint64, ascending) of the points (x[i], y[i]) to draw at `width` pixel columns: of those\n"
    "with a finite x in [low, high], all when there are at most 2 * width, otherwise each column's first\n"
    "lowest and first highest point, so that no peak is lost; and the nearest point outside [low, high]\n"
    "on either side, so that a line reaches the edges.";

PyObject* points_to_draw(PyObject*, PyObject* args, PyObject* kwds) {
    return guarded([&]() -> PyObject* {
        static constexpr std::array<const char*, 5> params{"x", "y", "width", "low", "high"};
        std::array<PyObject*, 5> bound{};
        if (!bind_arguments(args, kwds, "points_to_draw", params, bound, 3)) return nullptr;
        BufferArgument x;
        BufferArgument y;
        std::uint64_t width = 0;
        columns::AxisWindow window;
        if (!x.acquire(bound[0], "x") || !is_float(x, "x") || !y.acquire(bound[1], "y") ||
            !is_float(y, "y") || !to_u64(bound[2], "width", width) ||
            !optional_finite(bound[3], "low", window.low) || !optional_finite(bound[4], "high", window.high))
            return nullptr;
        if (x.size() != y.size()) {
            PyErr_Format(PyExc_ValueError, "x holds %zu values and y %zu", x.size(), y.size());
            return nullptr;
        }
        if (width == 0) {
            PyErr_SetString(PyExc_ValueError, "width must be at least 1");
            return nullptr;
        }
        // Per-column storage is only allocated when there are more than 2 * width points,
        // so a width beyond any trace costs nothing.
        const auto columns = static_cast<std::size_t>(std::min<std::uint64_t>(width, SIZE_MAX / 4));
        std::vector<std::uint64_t> kept =
            without_interpreter_lock([&] { return reduce_any(x, y, window, columns); });
        return memoryview_of(columns::Column<std::uint64_t>::from_vector(std::move(kept)));
    });
}

const char bin_grid_doc[] =
    "bin_grid(x, y, weight, x_bins, y_bins, x_range=None, y_range=None)\n--\n\n"
    "(cells, row_totals, x_range, y_range): the float32 weights of the points (x[i], y[i]) (float64)\n"
    "summed in float64 into y_bins rows of x_bins equal bins over x_range x y_range, each a (low,\n"
    "high) tuple or by default the finite extent of the values, and per row their total. Points\n"
    "outside the grid count nowhere.";

PyObject* bin_grid(PyObject*, PyObject* args, PyObject* kwds) {
    return guarded([&]() -> PyObject* {
        static constexpr std::array<const char*, 7> params{"x",      "y",       "weight", "x_bins",
                                                           "y_bins", "x_range", "y_range"};
        std::array<PyObject*, 7> bound{};
        if (!bind_arguments(args, kwds, "bin_grid", params, bound, 5)) return nullptr;
        BufferArgument x;
        BufferArgument y;
        BufferArgument weight;
        if (!x.acquire(bound[0], "x") || !has_kind(x, ElementKind::F64, "x", "float64") ||
            !y.acquire(bound[1], "y") || !has_kind(y, ElementKind::F64, "y", "float64") ||
            !weight.acquire(bound[2], "weight") || !has_kind(weight, ElementKind::F32, "weight", "float32"))
            return nullptr;
        if (x.size() != y.size() || x.size() != weight.size()) {
            PyErr_Format(PyExc_ValueError, "x, y and weight hold %zu, %zu and %zu values", x.size(), y.size(),
                         weight.size());
            return nullptr;
        }
        columns::GridAxis x_axis;
        columns::GridAxis y_axis;
        if (!to_axis(bound[5], bound[3], x, "x", x_axis) || !to_axis(bound[6], bound[4], y, "y", y_axis))
            return nullptr;
        if (static_cast<std::uint64_t>(x_axis.bins) * y_axis.bins > kMaxCells) {
            PyErr_Format(PyExc_ValueError, "a grid of at most %llu cells, not %zu x %zu",
                         static_cast<unsigned long long>(kMaxCells), x_axis.bins, y_axis.bins);
            return nullptr;
        }
        columns::Grid grid = without_interpreter_lock([&] {
            return columns::bin_grid(x.as<double>(), y.as<double>(), weight.as<float>(), x_axis, y_axis);
        });
        PyRef cells = PyRef::steal(memoryview_2d(columns::Column<double>::from_vector(std::move(grid.cells)),
                                                 y_axis.bins, x_axis.bins));
        PyRef totals =
            PyRef::steal(memoryview_of(columns::Column<double>::from_vector(std::move(grid.row_totals))));
        if (!cells || !totals) return nullptr;
        return Py_BuildValue("(OO(dd)(dd))", cells.get(), totals.get(), x_axis.low, x_axis.high, y_axis.low,
                             y_axis.high);
    });
}

const char sum_by_value_doc[] =
    "sum_by_value(keys, weights)\n--\n\n"
    "(values, sums): the distinct float64 keys, ascending, each with the float32 weights of its points\n"
    "summed in float64 in point order; points with a NaN key are left out.";

PyObject* sum_by_value(PyObject*, PyObject* args, PyObject* kwds) {
    return guarded([&]() -> PyObject* {
        static constexpr std::array<const char*, 2> params{"keys", "weights"};
        std::array<PyObject*, 2> bound{};
        BufferArgument keys;
        BufferArgument weights;
        if (!bind_arguments(args, kwds, "sum_by_value", params, bound) || !keys.acquire(bound[0], "keys") ||
            !has_kind(keys, ElementKind::F64, "keys", "float64") || !weights.acquire(bound[1], "weights") ||
            !has_kind(weights, ElementKind::F32, "weights", "float32"))
            return nullptr;
        if (keys.size() != weights.size()) {
            PyErr_Format(PyExc_ValueError, "keys holds %zu values and weights %zu", keys.size(),
                         weights.size());
            return nullptr;
        }
        columns::ValueSums summed = without_interpreter_lock(
            [&] { return columns::sum_by_value(keys.as<double>(), weights.as<float>()); });
        PyRef values =
            PyRef::steal(memoryview_of(columns::Column<double>::from_vector(std::move(summed.values))));
        PyRef sums =
            PyRef::steal(memoryview_of(columns::Column<double>::from_vector(std::move(summed.sums))));
        if (!values || !sums) return nullptr;
        return PyTuple_Pack(2, values.get(), sums.get());
    });
}

} // namespace tarnvale::py::tools
