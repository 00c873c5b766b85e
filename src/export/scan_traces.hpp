// What each scan adds to its function's total ion current and base peak
// chromatograms, worked out while the scan's points are fresh from the decoder.
#pragma once

#include <span>

namespace tarnvale::exporter {

struct ScanTrace {
    double tic = 0;
    double base_peak = 0;
};

// The values columns::chromatograms_of gives for a scan with these intensities:
// columns::total_intensity, and the intensity at columns::base_peak_index; both 0
// for a scan without points.
ScanTrace scan_trace(std::span<const float> intensity);

} // namespace tarnvale::exporter
