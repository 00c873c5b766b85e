// Everything before the first spectrum, the text between the lists, and
// everything after the last chromatogram up to the index.
#pragma once

#include <string>

#include "error.hpp"
#include "mzml/input.hpp"

namespace tarnvale::mzml {

// An unusable description (a malformed checksum, an empty run id ...), as text.
Result<void> check_run(const RunDescription& run);

// From the XML declaration to the <spectrumList> open tag.
std::string header_xml(const RunDescription& run);
// Closes the spectrum list and, when chromatograms follow, opens their list.
std::string between_lists_xml(const RunDescription& run);
// Closes the chromatogram list (when there is one), the run and <mzML>.
std::string after_lists_xml(const RunDescription& run);

} // namespace tarnvale::mzml
