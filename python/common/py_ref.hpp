// A small owner of one strong reference to a Python object.
#pragma once

#include <Python.h>

#include <utility>

namespace tarnvale::py {

class PyRef {
  public:
    PyRef() = default;
    // Takes over a new reference (null is allowed and means "failed").
    static PyRef steal(PyObject* object) { return PyRef(object); }
    // Adds a reference of its own to a borrowed object.
    static PyRef borrow(PyObject* object) { return PyRef(Py_XNewRef(object)); }

    PyRef(const PyRef&) = delete;
    PyRef& operator=(const PyRef&) = delete;
    PyRef(PyRef&& other) noexcept : object_(other.release()) {}
    PyRef& operator=(PyRef&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~PyRef() { Py_XDECREF(object_); }

    PyObject* get() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }
    // Hands the reference to the caller.
    PyObject* release() { return std::exchange(object_, nullptr); }
    void reset(PyObject* object = nullptr) { Py_XDECREF(std::exchange(object_, object)); }

  private:
    explicit PyRef(PyObject* object) : object_(object) {}
    PyObject* object_ = nullptr;
};

} // namespace tarnvale::py
