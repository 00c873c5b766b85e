#include "tools_ext/buffer_argument.hpp"

#include <optional>
#include <string_view>

namespace tarnvale::py::tools {

namespace {

// The kind a struct-module format names, native or little-endian (this is a
// little-endian platform); numpy writes uint64 as "L", memoryviews as "Q".
std::optional<ElementKind> kind_of(std::string_view format, Py_ssize_t itemsize) {
    if (!format.empty() && (format.front() == '@' || format.front() == '=' || format.front() == '<'))
        format.remove_prefix(1);
    if (format == "d" && itemsize == 8) return ElementKind::F64;
    if (format == "f" && itemsize == 4) return ElementKind::F32;
    if ((format == "Q" || format == "L") && itemsize == 8) return ElementKind::U64;
    return std::nullopt;
}

} // namespace

bool BufferArgument::acquire(PyObject* object, const char* param) {
    if (PyObject_GetBuffer(object, &view_, PyBUF_C_CONTIGUOUS | PyBUF_FORMAT) < 0) {
        PyErr_Clear();
        PyErr_Format(PyExc_TypeError, "%s must be an array (a buffer), not %.200s", param,
                     Py_TYPE(object)->tp_name);
        return false;
    }
    held_ = true;
    const std::optional<ElementKind> kind =
        kind_of(view_.format != nullptr ? view_.format : "B", view_.itemsize);
    if (!kind) {
        PyErr_Format(PyExc_TypeError, "%s must hold float64, float32 or uint64 values, not format '%s'",
                     param, view_.format != nullptr ? view_.format : "B");
        return false;
    }
    if (view_.ndim != 1) {
        PyErr_Format(PyExc_ValueError, "%s must be one-dimensional, not %d-dimensional", param, view_.ndim);
        return false;
    }
    kind_ = *kind;
    size_ = static_cast<std::size_t>(view_.len / view_.itemsize);
    return true;
}

} // namespace tarnvale::py::tools
