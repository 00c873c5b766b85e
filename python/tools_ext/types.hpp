// The classes of tarnvale_tools._core. Their type objects are created once per
// process, on first use, and shared by every module object.
#pragma once

#include <Python.h>

#include <cstddef>

namespace tarnvale::py::tools {

// Run, Columns and Chromatograms are published; ArrayBuffer is the object behind
// every memoryview the others hand out.
enum class ClassId { Run, Columns, Chromatograms, ArrayBuffer };
inline constexpr std::size_t kClassCount = 4;
inline constexpr std::size_t kPublishedClassCount = 3;

// The bare class name.
const char* class_name(ClassId id);

// Borrowed type object (kept alive for the rest of the process); null with an
// exception set if it could not be created.
PyTypeObject* class_type(ClassId id);

extern PyType_Spec run_type_spec;
extern PyType_Spec columns_type_spec;
extern PyType_Spec chromatograms_type_spec;
extern PyType_Spec array_buffer_type_spec;

} // namespace tarnvale::py::tools
