#include "mzml/spectrum_summary.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "raw/intensity_grid.hpp"

namespace tarnvale::mzml {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// Intensities on the decoders' grid (raw/intensity_grid.hpp) sum exactly in any
// order, up to raw::kExactSumPoints of them; other sums are made one point after
// another.
using raw::kExactSumPoints;
constexpr float kGridScale = raw::kIntensityGridScale;

std::size_t first_number(std::span<const float> intensity) {
    std::size_t at = 0;
    while (at < intensity.size() && std::isnan(intensity[at])) ++at;
    return at;
}

// One pass over both arrays: each addition of the sum waits for the one before it,
// and the comparisons, which depend on nothing but their own running values, fill
// that wait. The running values stay in registers rather than being reloaded.
SpectrumSummary summarize_in_order(std::span<const double> mz, std::span<const float> intensity) {
    const std::size_t count = mz.size();
    // The base peak starts at the first intensity that is a number; a NaN never
    // compares greater, so it is passed over, and of equal values the first is kept.
    const std::size_t first = first_number(intensity);
    std::size_t best = first < intensity.size() ? first : 0;
    float greatest = first < intensity.size() ? intensity[first] : 0.0F;
    double total = 0;
    // A NaN never compares less or greater, so it is passed over; the first of equal
    // values (0 and -0) is kept. Without any other value the range stays inverted.
    double lowest = kInfinity;
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

// ---------------------------------------------------------------- lanes

#if defined(__x86_64__)

// The same values from sixteen running values of each kind side by side in
// registers, so that no step waits on the one before. What lanes cannot give the
// way the loop above does is settled after:
//  - the sum, when an intensity is off the grid or there are too many, is made
//    again in point order;
//  - the base peak is the first point equal to the greatest intensity (the one
//    the loop above keeps; NaN is never equal, and without any number it is 0);
//  - a smallest or largest m/z of zero takes its sign from the first point that
//    is zero, as the loop above keeps the first of 0 and -0.
// The max and min instructions give their second operand when the first is NaN,
// so with the running value second a NaN is passed over, as above.
#define TV_AVX512 gnu::target("arch=x86-64-v4")

struct LaneValues {
    double total = 0;
    float greatest = -std::numeric_limits<float>::infinity();
    double lowest = kInfinity;
    double highest = -kInfinity;
    bool on_grid = true;
};

[[TV_AVX512]] LaneValues lane_values_avx512(const double* mz, const float* intensity, std::size_t count) {
    __m512d total_low = _mm512_setzero_pd(), total_high = _mm512_setzero_pd();
    __m512 greatest = _mm512_set1_ps(-std::numeric_limits<float>::infinity());
    __m512d lowest_a = _mm512_set1_pd(kInfinity), lowest_b = lowest_a;
    __m512d highest_a = _mm512_set1_pd(-kInfinity), highest_b = highest_a;
    const __m512 grid_scale = _mm512_set1_ps(kGridScale);
    __mmask16 on_grid = 0xFFFF;
    std::size_t i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m512 value = _mm512_loadu_ps(intensity + i);
        total_low = _mm512_add_pd(total_low, _mm512_cvtps_pd(_mm512_castps512_ps256(value)));
        total_high = _mm512_add_pd(total_high, _mm512_cvtps_pd(_mm512_extractf32x8_ps(value, 1)));
        greatest = _mm512_max_ps(value, greatest);
        const __m512d at_a = _mm512_loadu_pd(mz + i), at_b = _mm512_loadu_pd(mz + i + 8);
        lowest_a = _mm512_min_pd(at_a, lowest_a);
        lowest_b = _mm512_min_pd(at_b, lowest_b);
        highest_a = _mm512_max_pd(at_a, highest_a);
        highest_b = _mm512_max_pd(at_b, highest_b);
        // A NaN or an infinity fails the second test.
        const __m512 scaled = _mm512_mul_ps(value, grid_scale);
        const __m512 whole = _mm512_roundscale_ps(scaled, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
        on_grid = _kand_mask16(on_grid, _mm512_cmp_ps_mask(whole, scaled, _CMP_EQ_OQ));
        on_grid = _kand_mask16(on_grid, _mm512_cmp_ps_mask(_mm512_abs_ps(value), grid_scale, _CMP_LE_OQ));
    }
    LaneValues values;
    values.total = _mm512_reduce_add_pd(_mm512_add_pd(total_low, total_high));
    values.greatest = _mm512_reduce_max_ps(greatest);
    values.lowest = _mm512_reduce_min_pd(_mm512_min_pd(lowest_a, lowest_b));
    values.highest = _mm512_reduce_max_pd(_mm512_max_pd(highest_a, highest_b));
    values.on_grid = on_grid == 0xFFFF;
    for (; i < count; ++i) {
        const float value = intensity[i];
        values.total += static_cast<double>(value);
        values.greatest = value > values.greatest ? value : values.greatest;
        values.lowest = mz[i] < values.lowest ? mz[i] : values.lowest;
        values.highest = mz[i] > values.highest ? mz[i] : values.highest;
        const float scaled = value * kGridScale;
        values.on_grid = values.on_grid && std::trunc(scaled) == scaled && std::fabs(value) <= kGridScale;
    }
    return values;
}

// The first point holding `value` (compared with ==), or `count` when none does.
[[TV_AVX512]] std::size_t first_equal_avx512(const float* values, std::size_t count, float value) {
    const __m512 wanted = _mm512_set1_ps(value);
    std::size_t i = 0;
    for (; i + 16 <= count; i += 16) {
        const __mmask16 equal = _mm512_cmp_ps_mask(_mm512_loadu_ps(values + i), wanted, _CMP_EQ_OQ);
        if (equal != 0) return i + static_cast<std::size_t>(std::countr_zero(static_cast<unsigned>(equal)));
    }
    while (i < count && !(values[i] == value)) ++i;
    return i;
}

std::size_t first_zero(std::span<const double> values) {
    std::size_t i = 0;
    while (i < values.size() && values[i] != 0) ++i;
    return i;
}

[[TV_AVX512]] SpectrumSummary summarize_avx512(std::span<const double> mz, std::span<const float> intensity) {
    const std::size_t count = mz.size();
    const LaneValues values = lane_values_avx512(mz.data(), intensity.data(), count);
    SpectrumSummary summary;
    if (values.on_grid && count <= kExactSumPoints) {
        summary.total_ion_current = values.total;
    } else {
        double total = 0;
        for (const float value : intensity) total += static_cast<double>(value);
        summary.total_ion_current = total;
    }
    const std::size_t best = first_equal_avx512(intensity.data(), count, values.greatest);
    summary.base_peak = best < count ? best : 0;
    if (values.lowest > values.highest) {
        summary.lowest_mz = summary.highest_mz = std::numeric_limits<double>::quiet_NaN();
        return summary;
    }
    summary.lowest_mz = values.lowest == 0 ? mz[first_zero(mz)] : values.lowest;
    summary.highest_mz = values.highest == 0 ? mz[first_zero(mz)] : values.highest;
    return summary;
}

#undef TV_AVX512
#endif

} // namespace

SpectrumSummary summarize_on(raw::DecoderPath path, std::span<const double> mz,
                             std::span<const float> intensity) {
    if (intensity.size() < mz.size()) mz = mz.first(intensity.size());
    intensity = intensity.first(mz.size());
#if defined(__x86_64__)
    if (path == raw::DecoderPath::Avx512) return summarize_avx512(mz, intensity);
#else
    (void)path;
#endif
    return summarize_in_order(mz, intensity);
}

SpectrumSummary summarize(std::span<const double> mz, std::span<const float> intensity) {
    static const raw::DecoderPath path = raw::best_decoder_path();
    return summarize_on(path, mz, intensity);
}

} // namespace tarnvale::mzml
