// Arrays leave the extension as read-only memoryviews over the core's own storage:
// an ArrayBuffer object holds a shared reference to the storage and exports it
// through the buffer protocol, and each memoryview keeps its ArrayBuffer alive. No
// element is copied, and the storage lives as long as any view of it.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>

#include "columns/column.hpp"

namespace tarnvale::py::tools {

// A new memoryview of the whole column, one-dimensional.
template <class T> PyObject* memoryview_of(const columns::Column<T>& column);

// A new two-dimensional memoryview: `rows` rows of column.size() / rows values
// (rows > 0), or shape (0, columns_if_empty) for an empty column.
PyObject* memoryview_2d(const columns::Column<double>& column, std::size_t rows,
                        std::size_t columns_if_empty);

extern template PyObject* memoryview_of(const columns::Column<double>&);
extern template PyObject* memoryview_of(const columns::Column<float>&);
extern template PyObject* memoryview_of(const columns::Column<std::uint64_t>&);

} // namespace tarnvale::py::tools
