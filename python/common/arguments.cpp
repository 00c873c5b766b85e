#include "common/arguments.hpp"

#include <algorithm>
#include <cstring>
#include <string>

#include "common/py_ref.hpp"

namespace tarnvale::py {

namespace {

// The position of the parameter called `name`, or params.size().
std::size_t position_of(PyObject* name, std::span<const char* const> params) {
    for (std::size_t i = 0; i < params.size(); ++i)
        if (PyUnicode_Check(name) && PyUnicode_EqualToUTF8(name, params[i])) return i;
    return params.size();
}

bool bind_positional(PyObject* args, const char* function, std::span<PyObject*> bound) {
    const Py_ssize_t given = PyTuple_GET_SIZE(args);
    const auto accepted = static_cast<Py_ssize_t>(bound.size());
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
        const std::size_t position = position_of(name, params);
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

void add_param_note(const char* param) {
    PyObject* pending = PyErr_GetRaisedException();
    if (pending == nullptr) return;
    PyRef note = PyRef::steal(PyUnicode_FromFormat("while processing '%s'", param));
    PyRef added = note ? PyRef::steal(PyObject_CallMethod(pending, "add_note", "O", note.get())) : PyRef();
    // A failure to attach the note must not hide the conversion error itself.
    if (!added) PyErr_Clear();
    PyErr_SetRaisedException(pending);
}

// PyNumber_Index accepts exactly what Python accepts as an index (int, bool,
// __index__) and refuses float and str with TypeError; PyLong_AsUnsignedLongLong
// raises OverflowError for negative and too large values.
bool to_unsigned(PyObject* object, const char* param, unsigned long long max, unsigned long long& out) {
    PyRef index = PyRef::steal(PyNumber_Index(object));
    if (!index) {
        add_param_note(param);
        return false;
    }
    const unsigned long long value = PyLong_AsUnsignedLongLong(index.get());
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
        add_param_note(param);
        return false;
    }
    if (value > max) {
        PyErr_SetString(PyExc_OverflowError, "int too big to convert");
        add_param_note(param);
        return false;
    }
    out = value;
    return true;
}

} // namespace

bool bind_arguments(PyObject* args, PyObject* kwds, const char* function, std::span<const char* const> params,
                    std::span<PyObject*> bound) {
    return bind_arguments(args, kwds, function, params, bound, bound.size());
}

bool bind_arguments(PyObject* args, PyObject* kwds, const char* function, std::span<const char* const> params,
                    std::span<PyObject*> bound, std::size_t required) {
    for (PyObject*& slot : bound) slot = nullptr;
    if (!bind_positional(args, function, bound)) return false;
    if (kwds != nullptr && !bind_keywords(kwds, function, params, bound)) return false;
    for (std::size_t i = 0; i < std::min(required, bound.size()); ++i) {
        if (bound[i] == nullptr) {
            PyErr_Format(PyExc_TypeError, "%s() missing required argument '%s' (pos %zu)", function,
                         params[i], i + 1);
            return false;
        }
    }
    return true;
}

bool to_u32(PyObject* object, const char* param, std::uint32_t& out) {
    unsigned long long value = 0;
    if (!to_unsigned(object, param, UINT32_MAX, value)) return false;
    out = static_cast<std::uint32_t>(value);
    return true;
}

bool to_u64(PyObject* object, const char* param, std::uint64_t& out) {
    unsigned long long value = 0;
    if (!to_unsigned(object, param, UINT64_MAX, value)) return false;
    out = static_cast<std::uint64_t>(value);
    return true;
}

bool to_f64(PyObject* object, const char* param, double& out) {
    const double value = PyFloat_AsDouble(object);
    if (value == -1.0 && PyErr_Occurred()) {
        add_param_note(param);
        return false;
    }
    out = value;
    return true;
}

PyObject* to_path_str(PyObject* object, const char* function, const char* param) {
    if (!PyUnicode_Check(object)) {
        PyErr_Format(PyExc_TypeError, "%s() argument '%s' must be str, not %.200s", function, param,
                     Py_TYPE(object)->tp_name);
        add_param_note(param);
        return nullptr;
    }
    // An exact str copy: the reader keeps the text, not a subclass instance.
    return PyUnicode_FromObject(object);
}

bool fs_path(PyObject* path_str, std::optional<std::filesystem::path>& out) {
    out.reset();
    PyRef encoded = PyRef::steal(PyUnicode_EncodeFSDefault(path_str));
    if (!encoded) {
        // Text that the file-system encoding cannot express names no directory.
        if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) return false;
        PyErr_Clear();
        return true;
    }
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(encoded.get(), &data, &size) < 0) return false;
    // The operating system would see the text cut at the first NUL and might
    // find some other directory; such a path names nothing.
    if (std::memchr(data, 0, static_cast<std::size_t>(size)) != nullptr) return true;
    out.emplace(std::string(data, static_cast<std::size_t>(size)));
    return true;
}

} // namespace tarnvale::py
