// The seven classes of the module. Their type objects are created once per
// process, on first use, and shared by every module object.
#pragma once

#include <Python.h>

#include <array>

namespace tarnvale::py {

enum class ClassId { RawReader, RunHeader, FunctionInfo, Spectrum, ImsSpectrum, ChromChannel, ChromPoint };

// The order in which the module publishes its classes.
inline constexpr std::array<ClassId, 7> kPublishedClasses = {
    ClassId::RawReader,   ClassId::RunHeader,    ClassId::FunctionInfo, ClassId::Spectrum,
    ClassId::ImsSpectrum, ClassId::ChromChannel, ClassId::ChromPoint,
};

// The bare class name, as bound in the module and listed in __all__.
const char* class_name(ClassId id);

// Borrowed type object (kept alive for the rest of the process); null with an
// exception set if it could not be created.
PyTypeObject* class_type(ClassId id);

} // namespace tarnvale::py
