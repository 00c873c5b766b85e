#include "mzml/spectrum_summary.hpp"

#include <cmath>
#include <limits>

namespace tarnvale::mzml {

namespace {

std::size_t first_number(std::span<const float> intensity) {
    std::size_t at = 0;
    while (at < intensity.size() && std::isnan(intensity[at])) ++at;
    return at;
}

} // namespace

// One pass over both arrays: each addition of the sum waits for the one before it,
// and the comparisons, which depend on nothing but their own running values, fill
// that wait. The running values stay in registers rather than being reloaded.
SpectrumSummary summarize(std::span<const double> mz, std::span<const float> intensity) {
    const std::size_t count = mz.size() < intensity.size() ? mz.size() : intensity.size();
    // The base peak starts at the first intensity that is a number; a NaN never
    // compares greater, so it is passed over, and of equal values the first is kept.
    const std::size_t first = first_number(intensity);
    std::size_t best = first < intensity.size() ? first : 0;
    float greatest = first < intensity.size() ? intensity[first] : 0.0F;
    double total = 0;
    // A NaN never compares less or greater, so it is passed over; the first of equal
    // values (0 and -0) is kept. Without any other value the range stays inverted.
    double lowest = std::numeric_limits<double>::infinity();
    double highest = -lowest;
    for (std::size_t i = 0; i < count; ++i) {
        const float value = intensity[i];
        total += static_cast<double>(value);
        const bool greater = value > greatest;
        greatest = greater ? value : greatest;
        best = greater ? i : best;
        const double at = mz[i];
        lowest = at < lowest ? at : lowest;
        highest = at > highest ? at : highest;
    }
    SpectrumSummary summary;
    summary.total_ion_current = total;
    summary.base_peak = best;
    const bool none = lowest > highest;
    summary.lowest_mz = none ? std::numeric_limits<double>::quiet_NaN() : lowest;
    summary.highest_mz = none ? std::numeric_limits<double>::quiet_NaN() : highest;
    return summary;
}

} // namespace tarnvale::mzml
