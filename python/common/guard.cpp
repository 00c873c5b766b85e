#include "common/guard.hpp"

namespace tarnvale::py {

void raise_current_cpp_exception() noexcept {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& error) {
        PyErr_Format(PyExc_RuntimeError, "internal error: %s", error.what());
    } catch (...) {
        PyErr_SetString(PyExc_RuntimeError, "internal error: unknown C++ exception");
    }
}

} // namespace tarnvale::py
