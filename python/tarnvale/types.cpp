#include "tarnvale/types.hpp"

#include <array>
#include <atomic>
#include <string_view>

#include "tarnvale/raw_reader.hpp"
#include "tarnvale/results.hpp"

namespace tarnvale::py {

namespace {

struct ClassEntry {
    ClassId id;
    PyType_Spec* spec; // named "builtins.<class name>"
};

constexpr std::array<ClassEntry, kClassCount> kClasses{{
    {ClassId::RawReader, &raw_reader_type_spec},
    {ClassId::RunHeader, &run_header_class.spec},
    {ClassId::FunctionInfo, &function_info_class.spec},
    {ClassId::Spectrum, &spectrum_class.spec},
    {ClassId::ImsSpectrum, &ims_spectrum_class.spec},
    {ClassId::ChromChannel, &chrom_channel_class.spec},
    {ClassId::ChromPoint, &chrom_point_class.spec},
}};

constexpr bool rows_in_id_order() {
    for (std::size_t i = 0; i < kClasses.size(); ++i)
        if (static_cast<std::size_t>(kClasses[i].id) != i) return false;
    return true;
}
static_assert(rows_in_id_order(), "kClasses is indexed by ClassId");

constexpr std::string_view kModulePrefix = "builtins.";

// One slot per class; a type object stored here is never released.
std::array<std::atomic<PyObject*>, kClassCount> created_types{};

const ClassEntry& entry(ClassId id) { return kClasses[static_cast<std::size_t>(id)]; }

} // namespace

const char* class_name(ClassId id) { return entry(id).spec->name + kModulePrefix.size(); }

PyTypeObject* class_type(ClassId id) {
    std::atomic<PyObject*>& slot = created_types[static_cast<std::size_t>(id)];
    PyObject* existing = slot.load(std::memory_order_acquire);
    if (existing != nullptr) return reinterpret_cast<PyTypeObject*>(existing);
    PyObject* created = PyType_FromSpec(entry(id).spec);
    if (created == nullptr) return nullptr;
    // Two threads may race to create the same type on a free-threaded build;
    // the loser drops its copy and uses the winner's.
    if (!slot.compare_exchange_strong(existing, created, std::memory_order_acq_rel)) {
        Py_DECREF(created);
        return reinterpret_cast<PyTypeObject*>(existing);
    }
    return reinterpret_cast<PyTypeObject*>(created);
}

} // namespace tarnvale::py
