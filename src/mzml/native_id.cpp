#include "mzml/native_id.hpp"

#include "mzml/xml.hpp"

namespace tarnvale::mzml {

void append_spectrum_id(std::string& out, std::uint32_t function, std::uint64_t scan,
                        std::optional<std::uint32_t> drift_bin) {
    out += "function=";
    append_decimal(out, function);
    out += " process=0 scan=";
    append_decimal(out, scan);
    if (drift_bin) {
        out += " driftBin=";
        append_decimal(out, *drift_bin);
    }
}

std::string spectrum_id(std::uint32_t function, std::uint64_t scan, std::optional<std::uint32_t> drift_bin) {
    std::string id;
    append_spectrum_id(id, function, scan, drift_bin);
    return id;
}

} // namespace tarnvale::mzml
