// One definition per result class (its name, docstring, repr, properties and an
// optional length) from which its type spec follows; the instance layout,
// deallocation and flags are the same for all of them.
#pragma once

#include <Python.h>

#include <array>

#include "common/box.hpp"

namespace tarnvale::py {

// Instances own one record of type T.
template <class T> struct ResultClass {
    // `qualified_name` is "builtins.<Name>"; `length`, when given, fills the sq_length slot.
    ResultClass(const char* qualified_name, const char* doc, reprfunc repr, PyGetSetDef* getset,
                lenfunc length = nullptr)
        : slots{{{Py_tp_doc, const_cast<char*>(doc)},
                 {Py_tp_dealloc, reinterpret_cast<void*>(box_dealloc<T>)},
                 {Py_tp_repr, reinterpret_cast<void*>(repr)},
                 {Py_tp_getset, getset},
                 {length != nullptr ? Py_sq_length : 0, reinterpret_cast<void*>(length)},
                 {0, nullptr}}},
          spec{qualified_name, static_cast<int>(sizeof(Box<T>)), 0, kResultTypeFlags, slots.data()} {}
    ResultClass(const ResultClass&) = delete; // `spec` points into `slots`
    ResultClass& operator=(const ResultClass&) = delete;

    std::array<PyType_Slot, 6> slots;
    PyType_Spec spec;
};

} // namespace tarnvale::py
