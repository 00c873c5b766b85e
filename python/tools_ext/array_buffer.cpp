#include "tools_ext/array_buffer.hpp"

#include <array>
#include <memory>

#include "common/box.hpp"
#include "common/py_ref.hpp"
#include "tools_ext/types.hpp"

namespace tarnvale::py::tools {

namespace {

struct ArrayBuffer {
    std::shared_ptr<const void> owner;
    const void* data = nullptr;
    const char* format = "B"; // struct module syntax, native order
    Py_ssize_t itemsize = 1;
    int ndim = 1;
    std::array<Py_ssize_t, 2> shape{};
    std::array<Py_ssize_t, 2> strides{};
};

template <class T> constexpr const char* format_of() {
    if constexpr (std::is_same_v<T, double>) {
        return "d";
    } else if constexpr (std::is_same_v<T, float>) {
        return "f";
    } else {
        static_assert(std::is_same_v<T, std::uint64_t> && sizeof(unsigned long long) == 8);
        return "Q";
    }
}

// An empty array still exports a valid address.
constexpr double kNothing = 0.0;

int array_getbuffer(PyObject* self, Py_buffer* view, int flags) {
    if ((flags & PyBUF_WRITABLE) == PyBUF_WRITABLE) {
        PyErr_SetString(PyExc_BufferError, "tarnvale_tools arrays are read-only");
        view->obj = nullptr;
        return -1;
    }
    auto& array = *reinterpret_cast<Box<ArrayBuffer>*>(self)->value;
    view->buf = const_cast<void*>(array.data != nullptr ? array.data : &kNothing);
    view->obj = Py_NewRef(self);
    view->len = array.itemsize;
    for (int d = 0; d < array.ndim; ++d) view->len *= array.shape[static_cast<std::size_t>(d)];
    view->readonly = 1;
    view->itemsize = array.itemsize;
    view->format = (flags & PyBUF_FORMAT) == PyBUF_FORMAT ? const_cast<char*>(array.format) : nullptr;
    view->ndim = array.ndim;
    // The data is C-contiguous, so a consumer that asks for less gets plain bytes.
    view->shape = (flags & PyBUF_ND) == PyBUF_ND ? array.shape.data() : nullptr;
    view->strides = (flags & PyBUF_STRIDES) == PyBUF_STRIDES ? array.strides.data() : nullptr;
    view->suboffsets = nullptr;
    view->internal = nullptr;
    return 0;
}

PyType_Slot array_buffer_slots[] = {
    {Py_tp_doc, const_cast<char*>("Storage of a tarnvale_tools array; read it through a memoryview.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(box_dealloc<ArrayBuffer>)},
    {Py_bf_getbuffer, reinterpret_cast<void*>(array_getbuffer)},
    {0, nullptr},
};

PyObject* memoryview_over(ArrayBuffer array) {
    PyTypeObject* type = class_type(ClassId::ArrayBuffer);
    if (type == nullptr) return nullptr;
    PyRef exporter = PyRef::steal(box_alloc(type, std::move(array)));
    if (!exporter) return nullptr;
    return PyMemoryView_FromObject(exporter.get());
}

template <class T> ArrayBuffer array_of(const columns::Column<T>& column) {
    ArrayBuffer array;
    array.owner = column.owner();
    array.data = column.data();
    array.format = format_of<T>();
    array.itemsize = sizeof(T);
    array.ndim = 1;
    array.shape[0] = static_cast<Py_ssize_t>(column.size());
    array.strides[0] = static_cast<Py_ssize_t>(sizeof(T));
    return array;
}

} // namespace

PyType_Spec array_buffer_type_spec = {
    "tarnvale_tools._core.ArrayBuffer", sizeof(Box<ArrayBuffer>), 0, kResultTypeFlags, array_buffer_slots,
};

template <class T> PyObject* memoryview_of(const columns::Column<T>& column) {
    return memoryview_over(array_of(column));
}

PyObject* memoryview_2d(const columns::Column<double>& column, std::size_t rows,
                        std::size_t columns_if_empty) {
    const std::size_t per_row = rows == 0 ? columns_if_empty : column.size() / rows;
    ArrayBuffer array = array_of(column);
    array.ndim = 2;
    array.shape = {static_cast<Py_ssize_t>(rows), static_cast<Py_ssize_t>(per_row)};
    array.strides = {static_cast<Py_ssize_t>(per_row * sizeof(double)),
                     static_cast<Py_ssize_t>(sizeof(double))};
    return memoryview_over(std::move(array));
}

template PyObject* memoryview_of(const columns::Column<double>&);
template PyObject* memoryview_of(const columns::Column<float>&);
template PyObject* memoryview_of(const columns::Column<std::uint64_t>&);

} // namespace tarnvale::py::tools
