// Every entry point that the interpreter calls runs its body through guarded():
// a C++ exception (std::bad_alloc from a container, say) must never unwind into
// the interpreter, so it becomes a Python exception and the entry point reports
// failure the way the interpreter expects for its return type.
#pragma once

#include <Python.h>

#include <exception>
#include <new>
#include <type_traits>

namespace tarnvale::py {

// Turns the exception being handled into a Python exception. Call only from a catch block.
void raise_current_cpp_exception() noexcept;

template <class R> constexpr R failure_value() {
    if constexpr (std::is_pointer_v<R>) {
        return nullptr;
    } else {
        return static_cast<R>(-1);
    }
}

template <class F> auto guarded(F&& body) noexcept -> std::invoke_result_t<F&> {
    using R = std::invoke_result_t<F&>;
    try {
        return body();
    } catch (...) {
        raise_current_cpp_exception();
        return failure_value<R>();
    }
}

} // namespace tarnvale::py
