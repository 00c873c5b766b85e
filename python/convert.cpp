#include "convert.hpp"

#include <cstring>
#include <string>

#include "py_ref.hpp"

namespace tarnvale::py {

namespace {

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
    unsigned long long value = PyLong_AsUnsignedLongLong(index.get());
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

PyObject* raise_runtime(std::string_view message) {
    PyRef text = PyRef::steal(to_py_str(message));
    if (text) PyErr_SetObject(PyExc_RuntimeError, text.get());
    return nullptr;
}

PyObject* to_py_err(const Error& error) { return raise_runtime(error.to_string()); }

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
