// tarnvale_tools._core.DamagedRunError: the RuntimeError of a scan or chromatogram
// channel that cannot be read, which on_error="skip" would leave out.
#pragma once

#include <Python.h>

#include "error.hpp"

namespace tarnvale::py::tools {

// Borrowed (kept for the rest of the process), created on first use; null with an
// exception set if it could not be.
PyObject* damaged_run_error();

// Raises it with the error's text; always null.
PyObject* raise_damaged_run(const Error& error);

} // namespace tarnvale::py::tools
