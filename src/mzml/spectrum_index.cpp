#include "mzml/spectrum_index.hpp"

namespace tarnvale::mzml {

bool SpectrumIndex::continues(const IdRun& run, std::uint32_t function, std::uint64_t scan,
                              std::optional<std::uint32_t> drift_bin) const {
    if (run.function != function || run.first_bin.has_value() != drift_bin.has_value()) return false;
    if (!drift_bin) return scan == run.first_scan + run.length;
    return scan == run.first_scan && std::uint64_t{*drift_bin} == *run.first_bin + run.length;
}

void SpectrumIndex::add(std::uint32_t function, std::uint64_t scan, std::optional<std::uint32_t> drift_bin,
                        std::uint64_t offset) {
    offsets_.push_back(offset);
    if (!runs_.empty() && continues(runs_.back(), function, scan, drift_bin)) {
        ++runs_.back().length;
        return;
    }
    runs_.push_back({function, scan, drift_bin, 1});
}

} // namespace tarnvale::mzml
