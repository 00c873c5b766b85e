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
    double lowest = std::numeric_limits<double>::quiet_NaN();
    double highest = lowest;
    for (const double value : mz) {
        // fmin/fmax return the other operand when one is NaN.
        lowest = std::fmin(lowest, value);
        highest = std::fmax(highest, value);
    }
    summary.lowest_mz = lowest;
    summary.highest_mz = highest;
    return summary;
}

} // namespace tarnvale::mzml
