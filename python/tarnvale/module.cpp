// The module `tarnvale`: multi-phase initialisation with one exec step that
// installs the logging bridge and publishes the seven classes.
#include <Python.h>

#include "common/guard.hpp"
#include "common/log_bridge.hpp"
#include "common/py_ref.hpp"
#include "tarnvale/types.hpp"

namespace tarnvale::py {

namespace {

// The module's __all__ list (borrowed into a new reference), created when absent.
PyRef module_all(PyObject* module) {
    PyObject* found = nullptr;
    int present = PyObject_GetOptionalAttrString(module, "__all__", &found);
    if (present < 0) return PyRef();
    PyRef all = PyRef::steal(found);
    if (present == 0) {
        all = PyRef::steal(PyList_New(0));
        if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return PyRef();
        return all;
    }
    if (!PyList_Check(all.get())) {
        PyErr_Format(PyExc_TypeError, "__all__ must be a list, not %T", all.get());
        return PyRef();
    }
    return all;
}

int append_to_all(PyObject* all, const char* name) {
    PyRef text = PyRef::steal(PyUnicode_FromString(name));
    if (text && PyList_Append(all, text.get()) == 0) return 0;
    PyObject* cause = PyErr_GetRaisedException();
    PyErr_Format(PyExc_RuntimeError, "could not append __name__ to __all__: %S", cause);
    PyObject* raised = PyErr_GetRaisedException();
    PyException_SetCause(raised, cause);
    PyErr_SetRaisedException(raised);
    return -1;
}

int add_class(PyObject* module, ClassId id) {
    PyTypeObject* type = class_type(id);
    if (type == nullptr) return -1;
    PyRef all = module_all(module);
    if (!all) return -1;
    if (append_to_all(all.get(), class_name(id)) < 0) return -1;
    return PyModule_AddObjectRef(module, class_name(id), reinterpret_cast<PyObject*>(type));
}

int exec_module(PyObject* module) {
    return guarded([module] {
        if (install_log_bridge("tarnvale") < 0) return -1;
        for (std::size_t i = 0; i < kClassCount; ++i)
            if (add_class(module, static_cast<ClassId>(i)) < 0) return -1;
        return 0;
    });
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "tarnvale", // m_name
    "",         // m_doc
    0,          // m_size: no per-module state
    nullptr,    // m_methods: the module has no functions
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

} // namespace

} // namespace tarnvale::py

PyMODINIT_FUNC PyInit_tarnvale() { return PyModuleDef_Init(&tarnvale::py::module_def); }
