#include "tools_ext/types.hpp"

#include <array>
#include <atomic>
#include <string_view>

namespace tarnvale::py::tools {

namespace {

constexpr std::array<PyType_Spec*, kClassCount> kSpecs{&run_type_spec, &columns_type_spec,
                                                       &chromatograms_type_spec, &array_buffer_type_spec};

constexpr std::string_view kModulePrefix = "tarnvale_tools._core.";

// One slot per class; a type object stored here is never released.
std::array<std::atomic<PyObject*>, kClassCount> created_types{};

} // namespace

const char* class_name(ClassId id) {
    return kSpecs[static_cast<std::size_t>(id)]->name + kModulePrefix.size();
}

PyTypeObject* class_type(ClassId id) {
    std::atomic<PyObject*>& slot = created_types[static_cast<std::size_t>(id)];
    PyObject* existing = slot.load(std::memory_order_acquire);
    if (existing != nullptr) return reinterpret_cast<PyTypeObject*>(existing);
    PyObject* created = PyType_FromSpec(kSpecs[static_cast<std::size_t>(id)]);
    if (created == nullptr) return nullptr;
    // Two threads may race to create the same type on a free-threaded build;
    // the loser drops its copy and uses the winner's.
    if (!slot.compare_exchange_strong(existing, created, std::memory_order_acq_rel)) {
        Py_DECREF(created);
        return reinterpret_cast<PyTypeObject*>(existing);
    }
    return reinterpret_cast<PyTypeObject*>(created);
}

} // namespace tarnvale::py::tools
