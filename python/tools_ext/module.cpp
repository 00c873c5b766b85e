// The module `tarnvale_tools._core`: multi-phase initialisation with one exec step
// that installs this extension's own logging bridge (its copy of the core logs
// under the same `tarnvale.*` logger names) and publishes the classes.
#include <Python.h>

#include <array>

#include "common/arguments.hpp"
#include "common/guard.hpp"
#include "common/log_bridge.hpp"
#include "tools_ext/damaged_run.hpp"
#include "tools_ext/display_functions.hpp"
#include "tools_ext/processing_arguments.hpp"
#include "tools_ext/tools_arguments.hpp"
#include "tools_ext/types.hpp"
#include "tools_ext/write_mzml.hpp"

namespace tarnvale::py::tools {

namespace {

int add_class(PyObject* module, ClassId id) {
    PyTypeObject* type = class_type(id);
    if (type == nullptr) return -1;
    return PyModule_AddObjectRef(module, class_name(id), reinterpret_cast<PyObject*>(type));
}

int exec_module(PyObject* module) {
    return guarded([module] {
        if (install_log_bridge("tarnvale_tools._core") < 0) return -1;
        for (std::size_t i = 0; i < kPublishedClassCount; ++i)
            if (add_class(module, static_cast<ClassId>(i)) < 0) return -1;
        PyObject* damaged = damaged_run_error();
        if (damaged == nullptr) return -1;
        return PyModule_AddObjectRef(module, "DamagedRunError", damaged);
    });
}

// check_selection(*, functions=None, ms_level=None, rt=None, mz=None): ValueError for
// a selection a conversion cannot use, so that a batch is refused before it starts.
PyObject* check_selection(PyObject*, PyObject* args, PyObject* kwds) {
    return guarded([&]() -> PyObject* {
        static constexpr std::array<const char*, 4> params{"functions", "ms_level", "rt", "mz"};
        std::array<PyObject*, 4> bound{};
        exporter::Selection selection;
        if (!bind_arguments(args, kwds, "check_selection", params, bound, 0) ||
            !to_selection(bound[0], bound[1], bound[2], bound[3], selection))
            return nullptr;
        Py_RETURN_NONE;
    });
}

PyMethodDef module_methods[] = {
    {"check_selection", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(check_selection)),
     METH_VARARGS | METH_KEYWORDS,
     "check_selection(*, functions=None, ms_level=None, rt=None, mz=None)\n--\n\n"
     "Raises ValueError for a selection a conversion cannot use."},
    {"write_mzml", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(write_mzml)),
     METH_VARARGS | METH_KEYWORDS, write_mzml_doc},
    {"lock_mass_presets", lock_mass_presets, METH_NOARGS, lock_mass_presets_doc},
    {"check_processing", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(check_processing)),
     METH_VARARGS | METH_KEYWORDS, check_processing_doc},
    {"json_array", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(json_array)),
     METH_VARARGS | METH_KEYWORDS, json_array_doc},
    {"points_to_draw", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(points_to_draw)),
     METH_VARARGS | METH_KEYWORDS, points_to_draw_doc},
    {"bin_grid", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(bin_grid)),
     METH_VARARGS | METH_KEYWORDS, bin_grid_doc},
    {"sum_by_value", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(sum_by_value)),
     METH_VARARGS | METH_KEYWORDS, sum_by_value_doc},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "tarnvale_tools._core",
    "Whole functions of a Waters MassLynx .raw directory as arrays, their chromatograms, whole runs "
    "converted to indexed mzML, and arrays made ready for a browser.",
    0, // m_size: no per-module state
    module_methods,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

} // namespace

} // namespace tarnvale::py::tools

// The name is the one CPython looks for in a module named _core.
// NOLINTNEXTLINE(bugprone-reserved-identifier)
PyMODINIT_FUNC PyInit__core() { return PyModuleDef_Init(&tarnvale::py::tools::module_def); }
