// Instances of the extension's classes own one C++ value each, on the C++ heap;
// the Python object holds the pointer and frees it when destroyed.
#pragma once

#include <Python.h>

#include <memory>
#include <utility>

#include "common/convert.hpp"
#include "common/guard.hpp"

namespace tarnvale::py {

// Result classes: no constructor, no subclasses, no __dict__, no weak references.
inline constexpr unsigned int kResultTypeFlags =
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION;

template <class T> struct Box {
    PyObject_HEAD T* value;
};

template <class T> const T& unbox(PyObject* self) { return *reinterpret_cast<Box<T>*>(self)->value; }

template <class T> void box_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    delete reinterpret_cast<Box<T>*>(self)->value;
    type->tp_free(self);
    Py_DECREF(type); // instances of heap types own a reference to their type
}

// A new instance of `type` owning `value`. May throw std::bad_alloc (callers run
// under guarded()); null with an exception set on a Python failure.
template <class T> PyObject* box_alloc(PyTypeObject* type, T value) {
    auto owned = std::make_unique<T>(std::move(value));
    PyObject* self = type->tp_alloc(type, 0);
    if (self == nullptr) return nullptr;
    reinterpret_cast<Box<T>*>(self)->value = owned.release();
    return self;
}

// Getter of a read-only property exposing one field of the owned record; every
// access builds a new Python value.
template <class T, auto Field> PyObject* field_getter(PyObject* self, void*) {
    return guarded([self] { return to_py(unbox<T>(self).*Field); });
}

// A property without setter, so assigning or deleting it raises AttributeError.
constexpr PyGetSetDef read_only(const char* name, getter get, const char* doc) {
    return PyGetSetDef{name, get, nullptr, doc, nullptr};
}

} // namespace tarnvale::py
