// The RawReader class: opens a .raw directory and answers questions about it.
// An instance owns the opened Acquisition and the path str it was given.
#pragma once

#include <Python.h>

#include "common/box.hpp"
#include "common/py_ref.hpp"
#include "reader/acquisition.hpp"

namespace tarnvale::py {

struct RawReader {
    Acquisition acquisition;
    PyRef path; // the constructor's argument as an exact str, for messages and the repr
};

inline const Acquisition& acquisition_of(PyObject* self) { return unbox<RawReader>(self).acquisition; }
inline PyObject* path_of(PyObject* self) { return unbox<RawReader>(self).path.get(); }

extern PyType_Spec raw_reader_type_spec;

// The method table of the class (null-terminated).
extern PyMethodDef raw_reader_methods[];

} // namespace tarnvale::py
