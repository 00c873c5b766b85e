#include "common/convert.hpp"

#include "common/py_ref.hpp"

namespace tarnvale::py {

namespace {

template <class T> PyObject* make_float_list(std::span<const T> values) {
    PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(values.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < values.size(); ++i) {
        PyObject* item = PyFloat_FromDouble(static_cast<double>(values[i]));
        if (item == nullptr) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
    }
    return list.release();
}

} // namespace

PyObject* raise_runtime(std::string_view message) {
    PyRef text = PyRef::steal(to_py_str(message));
    if (text) PyErr_SetObject(PyExc_RuntimeError, text.get());
    return nullptr;
}

PyObject* raise_runtime(const Error& error) { return raise_runtime(error.to_string()); }

PyObject* raise_runtime(const QueryError& error) { return raise_runtime(error.message()); }

PyObject* to_py_str(std::string_view text) {
    return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
}

PyObject* to_py_optional_str(const std::optional<std::string>& text) {
    if (!text) Py_RETURN_NONE;
    return to_py_str(*text);
}

PyObject* float_list(std::span<const double> values) { return make_float_list(values); }
PyObject* float_list(std::span<const float> values) { return make_float_list(values); }

} // namespace tarnvale::py
