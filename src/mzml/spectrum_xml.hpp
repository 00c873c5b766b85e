// The <spectrum> element of one input spectrum.
#pragma once

#include <cstdint>
#include <string>

#include "error.hpp"
#include "mzml/array_encoder.hpp"
#include "mzml/input.hpp"

namespace tarnvale::mzml {

// Indentation of <spectrum> and <chromatogram> inside their lists.
inline constexpr std::string_view list_item_indent = "        ";

// What makes an input unwritable (arrays of different lengths, ms level 0,
// function 0, a drift time without its bin ...), as text naming the spectrum.
Result<void> check_spectrum(const SpectrumInput& spectrum);

// Appends the element from its '<' to the newline after "</spectrum>"; `index`
// is its position in the spectrum list. The input must have passed check_spectrum.
void append_spectrum(std::string& out, const SpectrumInput& spectrum, std::uint64_t index,
                     ArrayEncoder& encoder);

} // namespace tarnvale::mzml
