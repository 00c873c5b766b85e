// The per-spectrum values derived from the arrays: total ion current, base peak,
// observed m/z range.
#pragma once

#include <cstddef>
#include <span>

#include "raw/decoder_path.hpp"

namespace tarnvale::mzml {

struct SpectrumSummary {
    double total_ion_current = 0; // f64 sum of the intensities in point order
    std::size_t base_peak = 0;    // first point of greatest intensity; 0 when every intensity is NaN
    double lowest_mz = 0;         // smallest and largest m/z, NaN ignored;
    double highest_mz = 0;        // both only meaningful with at least one point
};

// The spans have the same length (the writer checks it first). On the scan
// decoders' AVX-512 path the points are taken sixteen at a time; every path gives
// the same bits.
SpectrumSummary summarize(std::span<const double> mz, std::span<const float> intensity);

// The same on the given path, which must be one of raw::available_decoder_paths().
SpectrumSummary summarize_on(raw::DecoderPath path, std::span<const double> mz,
                             std::span<const float> intensity);

} // namespace tarnvale::mzml
