// Columns: every scan of one function as contiguous arrays, handed out as
// read-only memoryviews over the core's storage; chromatograms computed from them.
#include <array>
#include <cctype>

#include "common/arguments.hpp"
#include "common/box.hpp"
#include "common/convert.hpp"
#include "tools_ext/array_buffer.hpp"
#include "tools_ext/objects.hpp"
#include "tools_ext/tools_arguments.hpp"
#include "tools_ext/types.hpp"

namespace tarnvale::py::tools {

namespace {

using columns::Column;
using columns::FunctionColumns;

const FunctionColumns& columns_of(PyObject* self) { return unbox<FunctionColumns>(self); }

template <class T, Column<T> FunctionColumns::* Field> PyObject* array_getter(PyObject* self, void*) {
    return guarded([self] { return memoryview_of(columns_of(self).*Field); });
}

template <std::optional<Column<double>> FunctionColumns::* Field>
PyObject* optional_getter(PyObject* self, void*) {
    return guarded([self]() -> PyObject* {
        const std::optional<Column<double>>& column = columns_of(self).*Field;
        if (!column) Py_RETURN_NONE;
        return memoryview_of(*column);
    });
}

PyObject* get_func_index(PyObject* self, void*) { return to_py(columns_of(self).function); }

PyObject* get_encoding(PyObject* self, void*) {
    const char letter = static_cast<char>(std::tolower(encoding_letter(columns_of(self).encoding)));
    return PyUnicode_FromStringAndSize(&letter, 1);
}

PyObject* get_n_points(PyObject* self, void*) { return to_py(columns_of(self).n_points()); }

PyObject* get_skipped(PyObject* self, void*) {
    return guarded([self] { return int_list(columns_of(self).skipped); });
}

Py_ssize_t columns_length(PyObject* self) { return static_cast<Py_ssize_t>(columns_of(self).n_scans()); }

PyObject* columns_repr(PyObject* self) {
    const FunctionColumns& columns = columns_of(self);
    return PyUnicode_FromFormat("Columns(function %u, %zu scans, %zu points)", columns.function,
                                columns.n_scans(), columns.n_points());
}

PyObject* columns_scan(PyObject* self, PyObject* args, PyObject* kwds) {
    return guarded([&]() -> PyObject* {
        static constexpr std::array<const char*, 1> params{"scan_index"};
        std::array<PyObject*, 1> bound{};
        std::uint64_t scan = 0;
        if (!bind_arguments(args, kwds, "Columns.scan", params, bound) || !to_u64(bound[0], params[0], scan))
            return nullptr;
        const FunctionColumns& columns = columns_of(self);
        if (scan >= columns.n_scans()) {
            PyErr_Format(PyExc_IndexError, "scan %llu out of range (%zu scans)",
                         static_cast<unsigned long long>(scan), columns.n_scans());
            return nullptr;
        }
        const auto first = static_cast<std::size_t>(columns.scan_offsets.view()[scan]);
        const auto count = static_cast<std::size_t>(columns.scan_offsets.view()[scan + 1] - first);
        PyRef mz = PyRef::steal(memoryview_of(columns.mz.slice(first, count)));
        PyRef intensity = PyRef::steal(memoryview_of(columns.intensity.slice(first, count)));
        if (!mz || !intensity) return nullptr;
        return PyTuple_Pack(2, mz.get(), intensity.get());
    });
}

// A tuple of (rt_min, ...the traces asked for).
PyObject* traces_of(PyObject* self, const columns::ChromatogramRequest& request) {
    auto computed = columns::chromatograms_of(columns_of(self), request);
    if (!computed) return raise_runtime(computed.error());
    const columns::Chromatograms& traces = *computed;
    std::vector<PyRef> views;
    views.push_back(PyRef::steal(memoryview_of(traces.rt_min)));
    if (traces.tic) views.push_back(PyRef::steal(memoryview_of(*traces.tic)));
    if (traces.base_peak_mz && traces.base_peak_intensity) {
        views.push_back(PyRef::steal(memoryview_of(*traces.base_peak_mz)));
        views.push_back(PyRef::steal(memoryview_of(*traces.base_peak_intensity)));
    }
    if (!request.tic && !request.base_peak)
        views.push_back(PyRef::steal(memoryview_2d(traces.xic, traces.n_targets, traces.n_scans())));
    PyRef tuple = PyRef::steal(PyTuple_New(static_cast<Py_ssize_t>(views.size())));
    if (!tuple) return nullptr;
    for (std::size_t i = 0; i < views.size(); ++i) {
        if (!views[i]) return nullptr;
        PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), views[i].release());
    }
    return tuple.release();
}

PyObject* columns_tic(PyObject* self, PyObject* args, PyObject* kwds) {
    return guarded([&]() -> PyObject* {
        std::array<PyObject*, 0> bound{};
        if (!bind_arguments(args, kwds, "Columns.tic", {}, bound)) return nullptr;
        return traces_of(self, {true, false, {}});
    });
}

PyObject* columns_bpi(PyObject* self, PyObject* args, PyObject* kwds) {
    return guarded([&]() -> PyObject* {
        std::array<PyObject*, 0> bound{};
        if (!bind_arguments(args, kwds, "Columns.bpi", {}, bound)) return nullptr;
        return traces_of(self, {false, true, {}});
    });
}

PyObject* columns_xic(PyObject* self, PyObject* args, PyObject* kwds) {
    return guarded([&]() -> PyObject* {
        static constexpr std::array<const char*, 3> params{"targets", "ppm", "da"};
        std::array<PyObject*, 3> bound{};
        columns::ChromatogramRequest request;
        if (!bind_arguments(args, kwds, "Columns.xic", params, bound, 1) ||
            !to_targets(bound[0], bound[1], bound[2], "Columns.xic", request.targets))
            return nullptr;
        return traces_of(self, request);
    });
}

PyGetSetDef columns_getset[] = {
    read_only("func_index", get_func_index, "The function's number (1-based)."),
    read_only("encoding", get_encoding,
              "The function's encoding: \"a\", \"b\" (ion mobility), \"c\" or \"d\"."),
    read_only("scan_offsets", array_getter<std::uint64_t, &FunctionColumns::scan_offsets>,
              "uint64, one more than the scans: scan i's points are [scan_offsets[i], scan_offsets[i + 1])."),
    read_only("mz", array_getter<double, &FunctionColumns::mz>, "float64 calibrated m/z of every point."),
    read_only("intensity", array_getter<float, &FunctionColumns::intensity>,
              "float32 intensity of every point."),
    read_only("drift_time_ms", optional_getter<&FunctionColumns::drift_time_ms>,
              "float64 drift time (ms) of every point of an ion-mobility function; None otherwise."),
    read_only("rt_min", array_getter<float, &FunctionColumns::rt_min>,
              "float32 retention time (minutes) per scan."),
    read_only("collision_energy", optional_getter<&FunctionColumns::collision_energy>,
              "float64 collision energy per scan (NaN where a scan has none); None without statistics."),
    read_only(
        "etd_fragmentation_mode", optional_getter<&FunctionColumns::etd_fragmentation_mode>,
        "float64 ETD fragmentation mode per scan (NaN where a scan has none); None without statistics."),
    read_only("skipped", get_skipped,
              "The scans left empty because they could not be decoded (on_error='skip')."),
    read_only("n_points", get_n_points, "The number of points of all scans."),
    {},
};

PyMethodDef columns_methods[] = {
    {"scan", as_cfunction<columns_scan>(), kArgs,
     "scan($self, scan_index)\n--\n\nThe (mz, intensity) views of one scan (0-based)."},
    {"tic", as_cfunction<columns_tic>(), kArgs,
     "tic($self)\n--\n\n(rt_min, total intensity per scan), sums in float64."},
    {"bpi", as_cfunction<columns_bpi>(), kArgs,
     "bpi($self)\n--\n\n(rt_min, base peak m/z, base peak intensity) per scan: the first point of greatest "
     "intensity; 0 for an empty scan."},
    {"xic", as_cfunction<columns_xic>(), kArgs,
     "xic($self, targets, ppm=None, da=None)\n--\n\n"
     "(rt_min, xic): xic[t, scan] sums the intensity of the scan's points with |m/z - targets[t]| <= "
     "tolerance, the tolerance being targets[t] * ppm * 1e-6 or da."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot columns_slots[] = {
    {Py_tp_doc, const_cast<char*>("Every scan of one function as contiguous arrays (from Run.columns).")},
    {Py_tp_dealloc, reinterpret_cast<void*>(box_dealloc<FunctionColumns>)},
    {Py_tp_repr, reinterpret_cast<void*>(columns_repr)},
    {Py_tp_getset, columns_getset},
    {Py_tp_methods, columns_methods},
    {Py_sq_length, reinterpret_cast<void*>(columns_length)},
    {0, nullptr},
};

} // namespace

PyType_Spec columns_type_spec = {
    "tarnvale_tools._core.Columns", sizeof(Box<FunctionColumns>), 0, kResultTypeFlags, columns_slots,
};

PyObject* new_columns(FunctionColumns columns) {
    PyTypeObject* type = class_type(ClassId::Columns);
    if (type == nullptr) return nullptr;
    return box_alloc(type, std::move(columns));
}

PyObject* int_list(std::span<const std::uint64_t> values) {
    PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(values.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < values.size(); ++i) {
        PyObject* item = PyLong_FromUnsignedLongLong(values[i]);
        if (item == nullptr) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
    }
    return list.release();
}

} // namespace tarnvale::py::tools
