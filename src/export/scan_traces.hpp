// What each scan adds to its function's total ion current and base peak
// chromatograms, worked out while the scan's points are fresh from the decoder.
#pragma once

#include <span>

namespace tarnvale::exporter {

struct ScanTrace {
    double tic = 0;
    double base_peak = 0;
};

// The values columns::chromatograms_of gives for a scan with these intensities: the
// total from columns::total_intensity, and the greatest intensity as a running maximum from the first point
// keeps it (a NaN there stays, later NaNs are passed over, and of equal values the
// first is kept); both 0 for a scan without points.
ScanTrace scan_trace(std::span<const float> intensity);

} // namespace tarnvale::exporter
