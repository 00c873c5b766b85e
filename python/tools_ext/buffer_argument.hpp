// A one-dimensional array argument read through the buffer protocol (a memoryview
// of this extension, a numpy array, array.array): float64, float32 or uint64, held
// for as long as the argument object lives.
#pragma once

#include <Python.h>

#include <cstdint>
#include <span>

namespace tarnvale::py::tools {

enum class ElementKind { F64, F32, U64 };

class BufferArgument {
  public:
    BufferArgument() = default;
    BufferArgument(const BufferArgument&) = delete;
    BufferArgument& operator=(const BufferArgument&) = delete;
    ~BufferArgument() {
        if (held_) PyBuffer_Release(&view_);
    }

    // Takes the buffer of `object`; false with TypeError or ValueError set (naming
    // `param`) when it is not a C-contiguous one-dimensional array of one of the kinds.
    bool acquire(PyObject* object, const char* param);

    ElementKind kind() const { return kind_; }
    std::size_t size() const { return size_; }
    template <class T> std::span<const T> as() const { return {static_cast<const T*>(view_.buf), size_}; }

  private:
    Py_buffer view_{};
    bool held_ = false;
    ElementKind kind_ = ElementKind::F64;
    std::size_t size_ = 0;
};

} // namespace tarnvale::py::tools
