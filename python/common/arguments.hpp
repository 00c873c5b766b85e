// Arguments of the extension's callables: binding them to parameters that are
// all required and may each be given positionally or by keyword, converting
// them, and the shape every method shares (call_with_arguments).
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <tuple>
#include <utility>

#include "common/convert.hpp"
#include "common/guard.hpp"

namespace tarnvale::py {

// Fills `bound` (borrowed references, one per parameter) or raises TypeError
// naming `function` ("RawReader.n_scans") and the argument concerned: too many
// positional arguments, an unexpected keyword, an argument given both by
// position and by name, or a missing argument, checked in this order.
bool bind_arguments(PyObject* args, PyObject* kwds, const char* function, std::span<const char* const> params,
                    std::span<PyObject*> bound);

// As above, but only the first `required` parameters must be given; the slot of a
// later one that is not given stays null (its default applies).
bool bind_arguments(PyObject* args, PyObject* kwds, const char* function, std::span<const char* const> params,
                    std::span<PyObject*> bound, std::size_t required);

// Index-like arguments (int, bool, objects with __index__). A wrong type raises
// TypeError, a negative or too large value OverflowError; either carries the note
// "while processing '<param>'". Return false with the exception set on failure.
bool to_u32(PyObject* object, const char* param, std::uint32_t& out);
bool to_u64(PyObject* object, const char* param, std::uint64_t& out);

// A real number (float, int, or anything with __float__ or __index__); a wrong type
// raises TypeError with the note. False with the exception set on failure.
bool to_f64(PyObject* object, const char* param, double& out);

// A path argument must be a str instance (bytes and path objects are refused the
// same way, with the note); the result is an exact str holding the same text.
PyObject* to_path_str(PyObject* object, const char* function, const char* param);

// The file-system form of a path string (surrogate-escaped bytes become the raw
// bytes again). `out` stays empty when the text cannot name a file: it holds a
// NUL character or cannot be encoded. False only for a Python failure (set).
bool fs_path(PyObject* path_str, std::optional<std::filesystem::path>& out);

// A parameter: its name, and the C++ type its argument is converted to.
template <class T> struct Param {
    const char* name;
};

inline bool convert_argument(PyObject* object, const char* param, std::uint32_t& out) {
    return to_u32(object, param, out);
}
inline bool convert_argument(PyObject* object, const char* param, std::uint64_t& out) {
    return to_u64(object, param, out);
}

namespace detail {

template <class Values, std::size_t... I>
bool convert_arguments(std::span<PyObject* const> bound, std::span<const char* const> names, Values& values,
                       std::index_sequence<I...>) {
    return (convert_argument(bound[I], names[I], std::get<I>(values)) && ...);
}

} // namespace detail

// The shape of every method: the arguments are bound and all converted, in
// parameter order, before `body` runs with the converted values; what it returns
// is handed to Python by to_py_result (a failed Result raises RuntimeError). A
// C++ exception never leaves.
template <class Body, class... T>
PyObject* call_with_arguments(PyObject* args, PyObject* kwds, const char* function, Body&& body,
                              Param<T>... params) {
    return guarded([&]() -> PyObject* {
        const std::array<const char*, sizeof...(T)> names{params.name...};
        std::array<PyObject*, sizeof...(T)> bound{};
        if (!bind_arguments(args, kwds, function, names, bound)) return nullptr;
        std::tuple<T...> values{};
        if (!detail::convert_arguments(bound, names, values, std::index_sequence_for<T...>{})) return nullptr;
        return to_py_result(std::apply(body, std::move(values)));
    });
}

} // namespace tarnvale::py
