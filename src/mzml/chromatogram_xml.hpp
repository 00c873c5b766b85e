// The <chromatogram> element of one input chromatogram.
#pragma once

#include <cstdint>
#include <string>

#include "error.hpp"
#include "mzml/array_encoder.hpp"
#include "mzml/input.hpp"

namespace tarnvale::mzml {

// Time and value arrays of different lengths, or an empty id, as text naming the chromatogram.
Result<void> check_chromatogram(const ChromatogramInput& chromatogram);

// Appends the element from its '<' to the newline after "</chromatogram>". Both
// arrays are written as 64-bit floats, times in minutes.
void append_chromatogram(std::string& out, const ChromatogramInput& chromatogram, std::uint64_t index,
                         ArrayEncoder& encoder);

} // namespace tarnvale::mzml
