// Conversion of the core's values into Python objects, and of its failures into
// RuntimeError.
#pragma once

#include <Python.h>

#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "error.hpp"
#include "reader/query_error.hpp"

namespace tarnvale::py {

// RuntimeError carrying the message (UTF-8) exactly: a text of the extension's own,
// the complete display text of a core Error, or a failed query's message. Always
// returns null.
PyObject* raise_runtime(std::string_view message);
PyObject* raise_runtime(const Error& error);
PyObject* raise_runtime(const QueryError& error);

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

template <class T> inline constexpr bool kIsExpected = false;
template <class T, class E> inline constexpr bool kIsExpected<std::expected<T, E>> = true;

// What a callable's body produced, handed to Python: an object as it is (null
// meaning an exception is set), a failed Result as RuntimeError, a value through to_py.
template <class R> PyObject* to_py_result(R&& result) {
    using Value = std::remove_cvref_t<R>;
    if constexpr (std::is_same_v<Value, PyObject*>) {
        return result;
    } else if constexpr (kIsExpected<Value>) {
        if (!result) return raise_runtime(result.error());
        return to_py_result(*std::forward<R>(result));
    } else {
        return to_py(std::forward<R>(result));
    }
}

} // namespace tarnvale::py
