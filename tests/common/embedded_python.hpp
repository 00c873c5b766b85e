// An interpreter embedded in a test program of the binding helpers: started once
// before the first test, with small helpers to run Python code and look at the
// exception a call left.
#pragma once

#include <Python.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "common/py_ref.hpp"

namespace tarnvale::testing {

class EmbeddedPython : public ::testing::Environment {
  public:
    void SetUp() override { Py_Initialize(); }
};

inline ::testing::Environment* const kEmbeddedPython =
    ::testing::AddGlobalTestEnvironment(new EmbeddedPython); // owned by GoogleTest

// Runs statements in __main__; a failure fails the test with its traceback printed.
inline void run_python(const char* code) { EXPECT_EQ(PyRun_SimpleString(code), 0) << code; }

// The value of an expression evaluated in __main__, as its str().
inline std::string python_str(const char* expression) {
    PyObject* globals = PyModule_GetDict(PyImport_AddModule("__main__"));
    py::PyRef value = py::PyRef::steal(PyRun_String(expression, Py_eval_input, globals, globals));
    py::PyRef text = value ? py::PyRef::steal(PyObject_Str(value.get())) : py::PyRef();
    if (!text) {
        PyErr_Print();
        return "<failed: " + std::string(expression) + ">";
    }
    return PyUnicode_AsUTF8(text.get());
}

// The pending exception's class name and str(), cleared; {"", ""} when none is set.
inline std::pair<std::string, std::string> take_exception() {
    py::PyRef raised = py::PyRef::steal(PyErr_GetRaisedException());
    if (!raised) return {"", ""};
    py::PyRef text = py::PyRef::steal(PyObject_Str(raised.get()));
    return {Py_TYPE(raised.get())->tp_name, text ? PyUnicode_AsUTF8(text.get()) : "<no str>"};
}

} // namespace tarnvale::testing
