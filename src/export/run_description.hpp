// The run's description for the mzML header: names, source file, instrument,
// content, and the numbers of spectra and chromatograms to come.
#pragma once

#include <cstdint>
#include <span>

#include "error.hpp"
#include "export/function_plan.hpp"
#include "mzml/input.hpp"
#include "reader/acquisition.hpp"

namespace tarnvale::exporter {

// The file's id: the directory's name without its ".raw" extension.
std::string run_id_of(std::string_view directory_name);

// Everything but the counts, which the caller fills in.
Result<mzml::RunDescription> describe_run(const Acquisition& acquisition,
                                          std::span<const FunctionPlan> plans);

} // namespace tarnvale::exporter
