#include "export/scan_traces.hpp"

#include "columns/chromatograms.hpp"

namespace tarnvale::exporter {

ScanTrace scan_trace(std::span<const float> intensity) {
    const double base_peak =
        intensity.empty() ? 0.0 : static_cast<double>(intensity[columns::base_peak_index(intensity)]);
    return {columns::total_intensity(intensity), base_peak};
}

} // namespace tarnvale::exporter
