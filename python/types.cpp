#include "types.hpp"

#include <atomic>
#include <cstddef>

#include "raw_reader.hpp"
#include "results.hpp"

namespace tarnvale::py {

namespace {

constexpr std::size_t kClassCount = kPublishedClasses.size();

// One slot per class; a type object stored here is never released.
std::array<std::atomic<PyObject*>, kClassCount> created_types{};

PyType_Spec& spec_of(ClassId id) {
    switch (id) {
    case ClassId::RawReader:
        return raw_reader_spec();
    case ClassId::RunHeader:
        return run_header_spec();
    case ClassId::FunctionInfo:
        return function_info_spec();
    case ClassId::Spectrum:
        return spectrum_spec();
    case ClassId::ImsSpectrum:
        return ims_spectrum_spec();
    case ClassId::ChromChannel:
        return chrom_channel_spec();
    case ClassId::ChromPoint:
        break;
    }
    return chrom_point_spec();
}

} // namespace

const char* class_name(ClassId id) {
    switch (id) {
    case ClassId::RawReader:
        return "RawReader";
    case ClassId::RunHeader:
        return "RunHeader";
    case ClassId::FunctionInfo:
        return "FunctionInfo";
    case ClassId::Spectrum:
        return "Spectrum";
    case ClassId::ImsSpectrum:
        return "ImsSpectrum";
    case ClassId::ChromChannel:
        return "ChromChannel";
    case ClassId::ChromPoint:
        break;
    }
    return "ChromPoint";
}

PyTypeObject* class_type(ClassId id) {
    std::atomic<PyObject*>& slot = created_types[static_cast<std::size_t>(id)];
    PyObject* existing = slot.load(std::memory_order_acquire);
    if (existing != nullptr) return reinterpret_cast<PyTypeObject*>(existing);
    PyObject* created = PyType_FromSpec(&spec_of(id));
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
