#include "arguments.hpp"

namespace tarnvale::py {

namespace {

// The position of the parameter called `name`, or params.size().
std::size_t position_of(PyObject* name, std::span<const char* const> params) {
    for (std::size_t i = 0; i < params.size(); ++i)
        if (PyUnicode_Check(name) && PyUnicode_EqualToUTF8(name, params[i])) return i;
    return params.size();
}

bool bind_positional(PyObject* args, const char* function, std::span<PyObject*> bound) {
    Py_ssize_t given = PyTuple_GET_SIZE(args);
    auto accepted = static_cast<Py_ssize_t>(bound.size());
    if (given > accepted) {
        PyErr_Format(PyExc_TypeError, "%s() takes at most %zd argument%s (%zd given)", function, accepted,
                     accepted == 1 ? "" : "s", given);
        return false;
    }
    for (Py_ssize_t i = 0; i < given; ++i) bound[static_cast<std::size_t>(i)] = PyTuple_GET_ITEM(args, i);
    return true;
}

bool bind_keywords(PyObject* kwds, const char* function, std::span<const char* const> params,
                   std::span<PyObject*> bound) {
    Py_ssize_t cursor = 0;
    PyObject* name = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(kwds, &cursor, &name, &value)) {
        std::size_t position = position_of(name, params);
        if (position == params.size()) {
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%S'", function, name);
            return false;
        }
        if (bound[position] != nullptr) {
            PyErr_Format(PyExc_TypeError, "argument for %s() given by name ('%s') and position (%zu)",
                         function, params[position], position + 1);
            return false;
        }
        bound[position] = value;
    }
    return true;
}

} // namespace

bool bind_arguments(PyObject* args, PyObject* kwds, const char* function, std::span<const char* const> params,
                    std::span<PyObject*> bound) {
    for (PyObject*& slot : bound) slot = nullptr;
    if (!bind_positional(args, function, bound)) return false;
    if (kwds != nullptr && !bind_keywords(kwds, function, params, bound)) return false;
    for (std::size_t i = 0; i < bound.size(); ++i) {
        if (bound[i] == nullptr) {
            PyErr_Format(PyExc_TypeError, "%s() missing required argument '%s' (pos %zu)", function,
                         params[i], i + 1);
            return false;
        }
    }
    return true;
}

} // namespace tarnvale::py
