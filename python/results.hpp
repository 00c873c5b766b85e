// The six result classes: Spectrum, ImsSpectrum, ChromPoint, ChromChannel,
// RunHeader and FunctionInfo. Each instance owns a copy of one core record.
#pragma once

#include <Python.h>

#include "raw/chroms.hpp"
#include "raw/data.hpp"
#include "raw/functions_inf.hpp"
#include "raw/header.hpp"

namespace tarnvale::py {

PyType_Spec& spectrum_spec();
PyType_Spec& ims_spectrum_spec();
PyType_Spec& chrom_point_spec();
PyType_Spec& chrom_channel_spec();
PyType_Spec& run_header_spec();
PyType_Spec& function_info_spec();

// New instances; null with an exception set on failure. They may throw
// std::bad_alloc, so callers run them under guarded().
PyObject* new_spectrum(raw::Spectrum spectrum);
PyObject* new_ims_spectrum(raw::ImsSpectrum spectrum);
PyObject* new_chrom_point(const raw::ChromPoint& point);
PyObject* new_chrom_channel(const raw::ChromChannel& channel);
PyObject* new_run_header(const raw::Header& header);
PyObject* new_function_info(const raw::FunctionInfo& info);

} // namespace tarnvale::py
