#include "export/scan_traces.hpp"

#include <cmath>
#include <cstddef>

#include "columns/chromatograms.hpp"

namespace tarnvale::exporter {

namespace {

constexpr std::size_t lanes = 4;

// A running maximum makes every step wait for the one before it. The greatest value
// does not depend on the order it is looked for in, so four lanes look for it side
// by side; the running maximum's answer is then the first point equal to it, which
// also settles which of 0 and -0 it is.
float greatest_intensity(std::span<const float> intensity) {
    if (intensity.empty()) return 0.0F;
    const float first = intensity[0];
    if (std::isnan(first)) return first; // nothing compares greater than it
    float greatest[lanes] = {first, first, first, first};
    std::size_t i = 1;
    for (; i + lanes <= intensity.size(); i += lanes) {
        for (std::size_t lane = 0; lane < lanes; ++lane) {
            const float value = intensity[i + lane];
            greatest[lane] = value > greatest[lane] ? value : greatest[lane];
        }
    }
    for (; i < intensity.size(); ++i) greatest[0] = intensity[i] > greatest[0] ? intensity[i] : greatest[0];
    float top = greatest[0];
    for (std::size_t lane = 1; lane < lanes; ++lane) top = greatest[lane] > top ? greatest[lane] : top;
    for (const float value : intensity)
        if (value == top) return value;
    return top; // not reached: top is one of the values
}

} // namespace

ScanTrace scan_trace(std::span<const float> intensity) {
    return {columns::total_intensity(intensity), static_cast<double>(greatest_intensity(intensity))};
}

} // namespace tarnvale::exporter
