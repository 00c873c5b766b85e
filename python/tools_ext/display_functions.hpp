// Module functions for showing arrays in a browser: an array as JSON text, the
// points of a long trace worth drawing at a screen's width, points summed into a
// grid of bins, and points of equal value summed into one. Each takes arrays through the buffer protocol and
// works without the interpreter lock.
#pragma once

#include <Python.h>

namespace tarnvale::py::tools {

// json_array(values, picks=None) -> bytes
PyObject* json_array(PyObject* module, PyObject* args, PyObject* kwds);
extern const char json_array_doc[];

// points_to_draw(x, y, width, low=None, high=None) -> memoryview of uint64
PyObject* points_to_draw(PyObject* module, PyObject* args, PyObject* kwds);
extern const char points_to_draw_doc[];

// bin_grid(x, y, weight, x_bins, y_bins, x_range=None, y_range=None)
//     -> (cells, row_totals, x_range, y_range)
PyObject* bin_grid(PyObject* module, PyObject* args, PyObject* kwds);
extern const char bin_grid_doc[];

// sum_by_value(keys, weights) -> (values, sums)
PyObject* sum_by_value(PyObject* module, PyObject* args, PyObject* kwds);
extern const char sum_by_value_doc[];

} // namespace tarnvale::py::tools
