// tarnvale_tools._core.write_mzml: a whole run to one indexed mzML file.
#pragma once

#include <Python.h>

#include "export/options.hpp"

namespace tarnvale::py::tools {

// The module function (METH_VARARGS | METH_KEYWORDS) and its docstring.
PyObject* write_mzml(PyObject* module, PyObject* args, PyObject* kwds);
extern const char write_mzml_doc[];

// {"functions": {number: reason}, "scans": {function: [scans]}, "channels": {index: reason}}.
PyObject* left_out_dict(const exporter::LeftOut& left_out);

} // namespace tarnvale::py::tools
