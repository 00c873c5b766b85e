// The run's description for the mzML header: names, source file, instrument, the
// acquisition's own metadata, and what the conversion selected and left out.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "error.hpp"
#include "export/options.hpp"
#include "mzml/input.hpp"
#include "reader/acquisition.hpp"

namespace tarnvale::exporter {

// The file's id: the directory's name without its ".raw" extension.
std::string run_id_of(std::string_view directory_name);

// Everything but the content, the counts and the processing notes, which the caller
// fills in.
Result<mzml::RunDescription> describe_run(const Acquisition& acquisition);

// "3-5,9": ascending numbers, consecutive ones as ranges.
std::string compact_ranges(std::span<const std::uint64_t> ascending);

// One user parameter per part of the selection that is not everything, then one per
// function, scans of a function and channel left out.
std::vector<mzml::UserParam> processing_notes(const Selection& selection, const LeftOut& left_out);

} // namespace tarnvale::exporter
