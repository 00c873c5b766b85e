#include "tools_ext/damaged_run.hpp"

#include <atomic>

#include "common/convert.hpp"
#include "common/py_ref.hpp"

namespace tarnvale::py::tools {

namespace {

std::atomic<PyObject*> created{nullptr};

} // namespace

PyObject* damaged_run_error() {
    PyObject* existing = created.load(std::memory_order_acquire);
    if (existing != nullptr) return existing;
    PyObject* made = PyErr_NewExceptionWithDoc(
        "tarnvale_tools._core.DamagedRunError",
        "A scan or chromatogram channel of the run cannot be read; on_error='skip' writes the rest.",
        PyExc_RuntimeError, nullptr);
    if (made == nullptr) return nullptr;
    // Two threads may race on a free-threaded build; the loser drops its copy.
    if (!created.compare_exchange_strong(existing, made, std::memory_order_acq_rel)) {
        Py_DECREF(made);
        return existing;
    }
    return made;
}

PyObject* raise_damaged_run(const Error& error) {
    PyObject* type = damaged_run_error();
    if (type == nullptr) return nullptr;
    PyRef text = PyRef::steal(to_py_str(error.to_string()));
    if (text) PyErr_SetObject(type, text.get());
    return nullptr;
}

} // namespace tarnvale::py::tools
