// The arguments the tools share: how a function is read (threads, on_error) and
// which extracted-ion traces are wanted (targets with ppm= or da=). Each returns
// false with a Python exception set when the argument is unusable; a null argument
// (not given) takes its default.
#pragma once

#include <Python.h>

#include <vector>

#include "columns/options.hpp"
#include "columns/target_matcher.hpp"
#include "export/options.hpp"

namespace tarnvale::py::tools {

// threads: an index >= 1 (default 1); on_error: "fail" (default) or "skip".
bool to_options(PyObject* threads, PyObject* on_error, columns::Options& out);

// targets: a sequence of m/z values; exactly one of ppm (relative) and da (absolute
// width), each a number or a sequence of one number per target. Every value must be
// finite and no tolerance negative. A ppm tolerance is m/z × ppm × 1e-6.
bool to_targets(PyObject* targets, PyObject* ppm, PyObject* da, const char* function,
                std::vector<columns::XicTarget>& out);

// A truth value (default `fallback`).
bool to_flag(PyObject* object, bool fallback, bool& out);

// on_error: "fail" (default) or "skip".
bool to_on_error(PyObject* on_error, columns::OnError& out);

// A conversion's selection: functions (an iterable of function numbers), ms_level
// (1 or 2), rt and mz ((min, max) pairs, either end None); None or absent selects
// everything. ValueError with the core's sentence for a selection it cannot use.
bool to_selection(PyObject* functions, PyObject* ms_level, PyObject* rt, PyObject* mz,
                  exporter::Selection& out);

} // namespace tarnvale::py::tools
