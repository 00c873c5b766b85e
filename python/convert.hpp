// Conversion between Python arguments/results and the core's values, and the
// mapping of failures onto Python exceptions.
#pragma once

#include <Python.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "error.hpp"

namespace tarnvale::py {

// Index-like arguments (int, bool, objects with __index__). A wrong type raises
// TypeError, a negative or too large value OverflowError; either carries the note
// "while processing '<param>'". Return false with the exception set on failure.
bool to_u32(PyObject* object, const char* param, std::uint32_t& out);
bool to_u64(PyObject* object, const char* param, std::uint64_t& out);

// A path argument must be a str instance (bytes and path objects are refused the
// same way, with the note); the result is an exact str holding the same text.
PyObject* to_path_str(PyObject* object, const char* function, const char* param);

// The file-system form of a path string (surrogate-escaped bytes become the raw
// bytes again). `out` stays empty when the text cannot name a file: it holds a
// NUL character or cannot be encoded. False only for a Python failure (set).
bool fs_path(PyObject* path_str, std::optional<std::filesystem::path>& out);

// RuntimeError carrying `message` (UTF-8) exactly; always returns null.
PyObject* raise_runtime(std::string_view message);
// RuntimeError whose message is the complete display text of a core Error.
PyObject* to_py_err(const Error& error);

// New str from UTF-8 text (the core only produces valid UTF-8; anything else is
// replaced rather than refused).
PyObject* to_py_str(std::string_view text);
PyObject* to_py_optional_str(const std::optional<std::string>& text);

// New list of new floats, in stored order; f32 values are widened exactly.
PyObject* float_list(std::span<const double> values);
PyObject* float_list(std::span<const float> values);

// A new Python value for one field of a core record.
template <class T>
    requires std::is_unsigned_v<T> && (!std::is_same_v<T, bool>)
PyObject* to_py(T value) {
    return PyLong_FromUnsignedLongLong(value);
}
inline PyObject* to_py(float value) { return PyFloat_FromDouble(static_cast<double>(value)); }
inline PyObject* to_py(double value) { return PyFloat_FromDouble(value); }
inline PyObject* to_py(const std::string& text) { return to_py_str(text); }
inline PyObject* to_py(const std::optional<std::string>& text) { return to_py_optional_str(text); }
inline PyObject* to_py(const std::vector<double>& values) { return float_list(values); }
inline PyObject* to_py(const std::vector<float>& values) { return float_list(values); }

} // namespace tarnvale::py
