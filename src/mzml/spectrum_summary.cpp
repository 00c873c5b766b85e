#include "mzml/spectrum_summary.hpp"

#include <cmath>
#include <limits>

namespace tarnvale::mzml {

namespace {

std::size_t first_greatest(std::span<const float> intensity) {
    std::size_t best = 0;
    bool found = false;
    for (std::size_t i = 0; i < intensity.size(); ++i) {
        if (std::isnan(intensity[i])) continue;
        if (!found || intensity[i] > intensity[best]) best = i;
        found = true;
    }
    return best;
}

} // namespace

SpectrumSummary summarize(std::span<const double> mz, std::span<const float> intensity) {
    SpectrumSummary summary;
    for (const float value : intensity) summary.total_ion_current += static_cast<double>(value);
    summary.base_peak = first_greatest(intensity);
    // A NaN never compares less or greater, so it is passed over; the first of equal
    // values (0 and -0) is kept. Without any other value the range stays inverted.
    double lowest = std::numeric_limits<double>::infinity();
    double highest = -lowest;
    for (const double value : mz) {
        lowest = value < lowest ? value : lowest;
        highest = value > highest ? value : highest;
    }
    const bool none = lowest > highest;
    summary.lowest_mz = none ? std::numeric_limits<double>::quiet_NaN() : lowest;
    summary.highest_mz = none ? std::numeric_limits<double>::quiet_NaN() : highest;
    return summary;
}

} // namespace tarnvale::mzml
