#include "mzml/native_id.hpp"

#include <format>
#include <iterator>

namespace tarnvale::mzml {

void append_spectrum_id(std::string& out, std::uint32_t function, std::uint64_t scan,
                        std::optional<std::uint32_t> drift_bin) {
    std::format_to(std::back_inserter(out), "function={} process=0 scan={}", function, scan);
    if (drift_bin) std::format_to(std::back_inserter(out), " driftBin={}", *drift_bin);
}

std::string spectrum_id(std::uint32_t function, std::uint64_t scan, std::optional<std::uint32_t> drift_bin) {
    std::string id;
    append_spectrum_id(id, function, scan, drift_bin);
    return id;
}

} // namespace tarnvale::mzml
