// Chromatograms: the traces of one function read in one pass, as read-only memoryviews.
#include "common/box.hpp"
#include "common/convert.hpp"
#include "tools_ext/array_buffer.hpp"
#include "tools_ext/objects.hpp"
#include "tools_ext/types.hpp"

namespace tarnvale::py::tools {

namespace {

using columns::Column;

struct ChromatogramsState {
    columns::Chromatograms traces;
    std::uint32_t func_index;
};

const columns::Chromatograms& traces_of(PyObject* self) { return unbox<ChromatogramsState>(self).traces; }

template <class T, std::optional<Column<T>> columns::Chromatograms::* Field>
PyObject* optional_getter(PyObject* self, void*) {
    return guarded([self]() -> PyObject* {
        const std::optional<Column<T>>& column = traces_of(self).*Field;
        if (!column) Py_RETURN_NONE;
        return memoryview_of(*column);
    });
}

PyObject* get_rt_min(PyObject* self, void*) {
    return guarded([self] { return memoryview_of(traces_of(self).rt_min); });
}

PyObject* get_xic(PyObject* self, void*) {
    return guarded([self] {
        const columns::Chromatograms& traces = traces_of(self);
        return memoryview_2d(traces.xic, traces.n_targets, traces.n_scans());
    });
}

PyObject* get_func_index(PyObject* self, void*) { return to_py(unbox<ChromatogramsState>(self).func_index); }

PyObject* get_skipped(PyObject* self, void*) {
    return guarded([self] { return int_list(traces_of(self).skipped); });
}

Py_ssize_t chromatograms_length(PyObject* self) { return static_cast<Py_ssize_t>(traces_of(self).n_scans()); }

PyObject* chromatograms_repr(PyObject* self) {
    const columns::Chromatograms& traces = traces_of(self);
    return PyUnicode_FromFormat("Chromatograms(function %u, %zu scans, %zu target(s))",
                                unbox<ChromatogramsState>(self).func_index, traces.n_scans(),
                                traces.n_targets);
}

PyGetSetDef chromatograms_getset[] = {
    read_only("func_index", get_func_index, "The function's number (1-based)."),
    read_only("rt_min", get_rt_min, "float32 retention time (minutes) per scan."),
    read_only("tic", optional_getter<double, &columns::Chromatograms::tic>,
              "float64 total intensity per scan; None unless asked for."),
    read_only("bpi_mz", optional_getter<double, &columns::Chromatograms::base_peak_mz>,
              "float64 m/z of each scan's base peak (0 for an empty scan); None unless asked for."),
    read_only("bpi", optional_getter<float, &columns::Chromatograms::base_peak_intensity>,
              "float32 intensity of each scan's base peak (0 for an empty scan); None unless asked for."),
    read_only("xic", get_xic, "float64, shape (targets, scans): each target's summed intensity per scan."),
    read_only("skipped", get_skipped,
              "The scans left at 0 because they could not be decoded (on_error='skip')."),
    {},
};

PyType_Slot chromatograms_slots[] = {
    {Py_tp_doc, const_cast<char*>("Chromatograms of one function (from Run.chromatograms).")},
    {Py_tp_dealloc, reinterpret_cast<void*>(box_dealloc<ChromatogramsState>)},
    {Py_tp_repr, reinterpret_cast<void*>(chromatograms_repr)},
    {Py_tp_getset, chromatograms_getset},
    {Py_sq_length, reinterpret_cast<void*>(chromatograms_length)},
    {0, nullptr},
};

} // namespace

PyType_Spec chromatograms_type_spec = {
    "tarnvale_tools._core.Chromatograms",
    sizeof(Box<ChromatogramsState>),
    0,
    kResultTypeFlags,
    chromatograms_slots,
};

PyObject* new_chromatograms(columns::Chromatograms chromatograms, std::uint32_t func_index) {
    PyTypeObject* type = class_type(ClassId::Chromatograms);
    if (type == nullptr) return nullptr;
    return box_alloc(type, ChromatogramsState{std::move(chromatograms), func_index});
}

} // namespace tarnvale::py::tools
