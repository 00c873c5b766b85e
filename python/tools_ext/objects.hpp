// The published classes of tarnvale_tools._core and what their instances own.
#pragma once

#include <Python.h>

#include <memory>

#include "columns/chromatograms.hpp"
#include "columns/function_columns.hpp"
#include "common/py_ref.hpp"
#include "reader/acquisition.hpp"
#include "tools_ext/processing_arguments.hpp"

namespace tarnvale::py::tools {

// Run: an opened directory, the path str it was opened with, and its last
// preparation of peak picking and lock-mass correction.
struct RunState {
    Acquisition acquisition;
    PyRef path;
    std::unique_ptr<ProcessingCache> processing = std::make_unique<ProcessingCache>();
};

// A new Columns object owning `columns`; null with an exception set.
PyObject* new_columns(columns::FunctionColumns columns);

// A new Chromatograms object owning `chromatograms` (of function `func_index`).
PyObject* new_chromatograms(columns::Chromatograms chromatograms, std::uint32_t func_index);

// A new list of ints.
PyObject* int_list(std::span<const std::uint64_t> values);

// The interpreter calls a METH_VARARGS | METH_KEYWORDS method with keywords.
template <PyObject* (*Method)(PyObject*, PyObject*, PyObject*)> PyCFunction as_cfunction() {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(Method));
}
inline constexpr int kArgs = METH_VARARGS | METH_KEYWORDS;

} // namespace tarnvale::py::tools
