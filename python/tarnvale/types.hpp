// The seven classes of the module. Their type objects are created once per
// process, on first use, and shared by every module object.
#pragma once

#include <Python.h>

#include <cstddef>

namespace tarnvale::py {

// In the order in which the module publishes them.
enum class ClassId { RawReader, RunHeader, FunctionInfo, Spectrum, ImsSpectrum, ChromChannel, ChromPoint };
inline constexpr std::size_t kClassCount = 7;

// The bare class name, as bound in the module and listed in __all__.
const char* class_name(ClassId id);

// Borrowed type object (kept alive for the rest of the process); null with an
// exception set if it could not be created.
PyTypeObject* class_type(ClassId id);

} // namespace tarnvale::py
