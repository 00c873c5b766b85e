// The RawReader class: opens a .raw directory and answers questions about it.
#pragma once

#include <Python.h>

namespace tarnvale::py {

PyType_Spec& raw_reader_spec();

} // namespace tarnvale::py
