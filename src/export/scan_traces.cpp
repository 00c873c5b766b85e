#include "export/scan_traces.hpp"

#include <cmath>
#include <cstddef>

namespace tarnvale::exporter {

namespace {

// Beyond this many points the lanes' partial sums would differ from those of the
// columns' whole-function path, which sums such scans one point after another.
constexpr std::size_t exact_sum_points = std::size_t{1} << 21;
constexpr std::size_t lanes = 4;

double total_intensity(std::span<const float> intensity) {
    if (intensity.size() > exact_sum_points) {
        double sum = 0.0;
        for (const float value : intensity) sum += static_cast<double>(value);
        return sum;
    }
    double sums[lanes] = {0.0, 0.0, 0.0, 0.0};
    std::size_t i = 0;
    for (; i + lanes <= intensity.size(); i += lanes)
        for (std::size_t lane = 0; lane < lanes; ++lane)
            sums[lane] += static_cast<double>(intensity[i + lane]);
    for (; i < intensity.size(); ++i) sums[0] += static_cast<double>(intensity[i]);
    return (sums[0] + sums[1]) + (sums[2] + sums[3]);
}

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
    return {total_intensity(intensity), static_cast<double>(greatest_intensity(intensity))};
}

} // namespace tarnvale::exporter
