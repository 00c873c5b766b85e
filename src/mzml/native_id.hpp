// Spectrum ids in the Waters nativeID form.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tarnvale::mzml {

// "function=F process=0 scan=S"; one spectrum per drift bin appends " driftBin=B",
// which keeps the ids unique while every reader that parses the nativeID form
// still finds the scan it came from.
void append_spectrum_id(std::string& out, std::uint32_t function, std::uint64_t scan,
                        std::optional<std::uint32_t> drift_bin);
std::string spectrum_id(std::uint32_t function, std::uint64_t scan, std::optional<std::uint32_t> drift_bin);

} // namespace tarnvale::mzml
