// Binding the arguments of a call to parameters that are all required and may
// each be given positionally or by keyword.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <span>

namespace tarnvale::py {

// Fills `bound` (borrowed references, one per parameter) or raises TypeError
// naming `function` ("RawReader.n_scans") and the argument concerned: too many
// positional arguments, an unexpected keyword, an argument given both by
// position and by name, or a missing argument, checked in this order.
bool bind_arguments(PyObject* args, PyObject* kwds, const char* function, std::span<const char* const> params,
                    std::span<PyObject*> bound);

template <std::size_t N>
bool bind_arguments(PyObject* args, PyObject* kwds, const char* function, const char* const (&params)[N],
                    std::array<PyObject*, N>& bound) {
    return bind_arguments(args, kwds, function, std::span<const char* const>(params),
                          std::span<PyObject*>(bound));
}

} // namespace tarnvale::py
