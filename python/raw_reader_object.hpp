// Layout of a RawReader instance, shared by the files that implement the class.
#pragma once

#include <Python.h>

#include "box.hpp"
#include "py_ref.hpp"
#include "reader_state.hpp"

namespace tarnvale::py {

struct ReaderHandle {
    ReaderState state;
    PyRef path; // the constructor's argument as an exact str, for messages and the repr
};

inline const ReaderState& state_of(PyObject* self) { return unbox<ReaderHandle>(self).state; }
inline PyObject* path_of(PyObject* self) { return unbox<ReaderHandle>(self).path.get(); }

// The method table of the class (null-terminated).
extern PyMethodDef raw_reader_methods[];

} // namespace tarnvale::py
