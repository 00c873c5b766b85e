// tarnvale_tools._core.write_mzml: a whole run to one indexed mzML file.
#pragma once

#include <Python.h>

namespace tarnvale::py::tools {

// The module function (METH_VARARGS | METH_KEYWORDS) and its docstring.
PyObject* write_mzml(PyObject* module, PyObject* args, PyObject* kwds);
extern const char write_mzml_doc[];

} // namespace tarnvale::py::tools
