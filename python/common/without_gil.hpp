// Running core work with the interpreter lock released, so that other Python
// threads go on while a whole function is read and decoded.
#pragma once

#include <Python.h>

#include <exception>
#include <optional>
#include <type_traits>
#include <utility>

namespace tarnvale::py {

// Runs `body` (which must not touch Python objects) without the interpreter lock and
// returns its result once the lock is held again. An exception it throws is carried
// past the release and rethrown with the lock held.
template <class F> auto without_interpreter_lock(F&& body) -> std::invoke_result_t<F&> {
    std::optional<std::invoke_result_t<F&>> result;
    std::exception_ptr failure;
    Py_BEGIN_ALLOW_THREADS try { result.emplace(body()); } catch (...) {
        failure = std::current_exception();
    }
    Py_END_ALLOW_THREADS if (failure) std::rethrow_exception(failure);
    return std::move(*result);
}

} // namespace tarnvale::py
