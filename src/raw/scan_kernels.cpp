#include "raw/scan_kernels.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

#include "raw/record_layouts.hpp"

// A scan is walked in blocks of records. For each block one branch-free loop
// counts the records that carry a decodable point; when that is all of them (the
// common case) the conversion loops read the block straight from the scan.
// Otherwise the records with a point are packed into a small buffer that stays in
// the L1 cache, without branches, checked, and converted from there.
//
// The conversion loops (one per output array) have no calls, no branches and no
// table look-ups, so the compiler vectorises them; the calibration kind is
// resolved once per scan. Each loop computes every value by one fixed sequence of
// IEEE operations, the same in every lane of every vector width as in a plain
// loop, so all paths give the same bytes (the build never fuses a multiply and an
// add, on any path). Where a product of an integer and a power of two is needed,
// it is built directly from bits, which gives the identical, exact value.
//
// Each path's entry points are flattened: everything they call is compiled into
// them with the path's instruction set, and nothing compiled for a wider set is
// ever shared with a narrower path.

namespace tarnvale::raw::kernels {

namespace {

using records::LayoutA;
using records::LayoutBC;
using records::LayoutD;
using records::store_le64;

constexpr std::size_t kBlockRecords = 256;
constexpr double kInverse2Pow16 = 0x1p-16;

// ---------------------------------------------------------------- calibration

// Horner's rule from the last coefficient, starting from 0: the initial 0·x is
// kept because it is NaN for non-finite x, and the result must not change.
inline double horner(const double* coefficients, std::size_t count, double x) {
    double acc = 0.0;
    for (std::size_t k = count; k-- > 0;) acc = acc * x + coefficients[k];
    return acc;
}

struct Uncalibrated {
    double operator()(double x) const { return x; }
};

struct NoCoefficients {
    double operator()(double) const { return 0.0; }
};

// Polynomials of up to six terms get a fixed length, so that the loop over the
// coefficients unrolls and the loop over the points vectorises.
template <std::size_t N> struct FixedPolynomial {
    std::array<double, N> coefficients;
    double operator()(double x) const { return horner(coefficients.data(), N, x); }
};

// For an argument known to be positive and finite, 0·x is +0 and Horner's first
// step gives 0 + c[N-1] (which turns −0 into +0) for every point: computed once.
template <std::size_t N> struct FixedPolynomialOfPositive {
    double leading;
    std::array<double, N - 1> coefficients;
    double operator()(double x) const {
        double acc = leading;
        for (std::size_t k = N - 1; k-- > 0;) acc = acc * x + coefficients[k];
        return acc;
    }
};

struct Polynomial {
    const double* coefficients;
    std::size_t count;
    double operator()(double x) const { return horner(coefficients, count, x); }
};

template <std::size_t N, bool kPositive> auto fixed_polynomial(const std::vector<double>& c) {
    if constexpr (kPositive) {
        FixedPolynomialOfPositive<N> polynomial{};
        polynomial.leading = 0.0 + c[N - 1];
        std::copy_n(c.begin(), N - 1, polynomial.coefficients.begin());
        return polynomial;
    } else {
        FixedPolynomial<N> polynomial{};
        std::copy_n(c.begin(), N, polynomial.coefficients.begin());
        return polynomial;
    }
}

// Calls `body` with the calibration of `context` as a callable object. kPositive:
// every argument is positive and finite (the square roots of A and D).
template <bool kPositive, class Body> Outcome with_calibration(const DecodeContext& context, Body&& body) {
    if (context.cal_type == CalType::T0) return body(Uncalibrated{});
    const std::vector<double>& c = context.coefficients;
    switch (c.size()) {
    case 0:
        return body(NoCoefficients{});
    case 1:
        return body(fixed_polynomial<1, kPositive>(c));
    case 2:
        return body(fixed_polynomial<2, kPositive>(c));
    case 3:
        return body(fixed_polynomial<3, kPositive>(c));
    case 4:
        return body(fixed_polynomial<4, kPositive>(c));
    case 5:
        return body(fixed_polynomial<5, kPositive>(c));
    case 6:
        return body(fixed_polynomial<6, kPositive>(c));
    default:
        return body(Polynomial{c.data(), c.size()});
    }
}

// ---------------------------------------------------------------- record slots

// The conversion loops read records from 8-byte slots: the 8-byte encodings
// straight from the scan, encoding A from a block copied into slots (a 6-byte
// stride is an access pattern the compiler does not vectorise).
template <class Layout> struct Slots {
    const std::uint8_t* at;
    std::uint64_t operator()(std::size_t i) const { return Layout::load(at + 8 * i); }
};

// The output from point `written` on.
PointOutput advanced(PointOutput out, std::size_t written) {
    return {out.mz + written, out.intensity + written,
            out.drift_time_ms == nullptr ? nullptr : out.drift_time_ms + written};
}

// ---------------------------------------------------------------- conversions

template <class Layout, class Source>
void write_intensities(Source records, std::size_t count, float* __restrict intensity) {
    for (std::size_t i = 0; i < count; ++i) intensity[i] = Layout::intensity(records(i));
}

// A and D: raw m/z -> (calibrated sqrt(raw))². raw is always positive (its
// mantissa has the top bit set), so fabs changes nothing; it only tells the
// compiler that sqrt cannot fail, which lets it use vector square roots.
template <class Layout, class Calibration> struct RawMzPoints {
    Calibration calibrated;

    template <class Source> void operator()(Source records, std::size_t count, PointOutput out) const {
        double* __restrict mz = out.mz;
        for (std::size_t i = 0; i < count; ++i) {
            const double c = calibrated(std::sqrt(std::fabs(Layout::raw_mz(records(i)))));
            mz[i] = c * c;
        }
        write_intensities<Layout>(records, count, out.intensity);
    }
};

// B and C: flight time t (µs) -> (calibrated t / tof_k_us)², with t from
// `flight_time(record)`; B also writes drift times when asked for them.
template <class FlightTime, class Calibration, bool kDrift> struct FlightTimePoints {
    FlightTime flight_time;
    Calibration calibrated;
    double tof_k_us;
    double scan_time_ms;

    template <class Source> void operator()(Source records, std::size_t count, PointOutput out) const {
        double* __restrict mz = out.mz;
        for (std::size_t i = 0; i < count; ++i) {
            const double ratio = calibrated(flight_time(records(i))) / tof_k_us;
            mz[i] = ratio * ratio;
        }
        write_intensities<LayoutBC>(records, count, out.intensity);
        if constexpr (kDrift) {
            if (out.drift_time_ms == nullptr) return;
            double* __restrict drift = out.drift_time_ms;
            for (std::size_t i = 0; i < count; ++i)
                drift[i] = LayoutBC::word(records(i)) * scan_time_ms * kInverse2Pow16;
        }
    }
};

// ---------------------------------------------------------------- blocks

using SlotBuffer = std::array<std::uint8_t, 8 * kBlockRecords>;

// Copies `count` records of encoding A into slots; `ends_scan`: the last of them
// is the scan's last record, which a load that reads past it cannot fetch.
void copy_to_slots(const std::uint8_t* block, std::size_t count, bool ends_scan, std::uint8_t* slots) {
    const std::size_t by_wide_load = ends_scan ? count - 1 : count;
    for (std::size_t i = 0; i < by_wide_load; ++i) store_le64(slots + 8 * i, LayoutA::load(block + 6 * i));
    if (ends_scan) store_le64(slots + 8 * by_wide_load, LayoutA::load_exact(block + 6 * by_wide_load));
}

// How many records carry a point that can be decoded.
template <class Layout> std::size_t count_decodable(Slots<Layout> records, std::size_t count) {
    std::size_t decodable = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint64_t record = records(i);
        decodable += static_cast<std::size_t>(Layout::has_point(record) & Layout::valid(record));
    }
    return decodable;
}

// Copies the records with a point to the front of `kept` (which may be where they
// are), without branches; returns how many.
template <class Layout>
std::size_t keep_points(Slots<Layout> records, std::size_t count, std::uint8_t* kept) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint64_t record = records(i);
        store_le64(kept + 8 * n, record);
        n += static_cast<std::size_t>(Layout::has_point(record));
    }
    return n;
}

template <class Layout> std::optional<std::uint64_t> first_invalid(Slots<Layout> records, std::size_t count) {
    if constexpr (Layout::kChecked) {
        std::size_t valid = 0;
        for (std::size_t i = 0; i < count; ++i) valid += static_cast<std::size_t>(Layout::valid(records(i)));
        if (valid == count) return std::nullopt;
        for (std::size_t i = 0; i < count; ++i) {
            if (!Layout::valid(records(i))) return records(i);
        }
    }
    return std::nullopt;
}

template <class Layout, class Points>
Outcome decode_records(Bytes scan, const Points& points, PointOutput out) {
    const std::size_t total = scan.size() / Layout::kSize;
    alignas(64) SlotBuffer buffer;
    std::size_t written = 0;
    for (std::size_t first = 0; first < total; first += kBlockRecords) {
        const std::size_t count = std::min(kBlockRecords, total - first);
        const std::uint8_t* block = scan.data() + first * Layout::kSize;
        if constexpr (Layout::kSize != 8) {
            copy_to_slots(block, count, first + count == total, buffer.data());
            block = buffer.data();
        }
        const Slots<Layout> records{block};
        if (count_decodable(records, count) == count) {
            points(records, count, advanced(out, written));
            written += count;
            continue;
        }
        const std::size_t kept = keep_points(records, count, buffer.data());
        const Slots<Layout> kept_records{buffer.data()};
        if (auto invalid = first_invalid(kept_records, kept)) return {written, invalid};
        points(kept_records, kept, advanced(out, written));
        written += kept;
    }
    return {written, std::nullopt};
}

// ---------------------------------------------------------------- encodings

template <class Layout> Outcome decode_raw_mz(const Inputs& in) {
    return with_calibration<true>(in.context, [&](auto calibrated) {
        return decode_records<Layout>(in.scan, RawMzPoints<Layout, decltype(calibrated)>{calibrated}, in.out);
    });
}

Outcome decode_b(const Inputs& in) {
    const FlightTimeAxis a = in.axis;
    auto flight_time = [a](std::uint64_t record) {
        return (LayoutBC::position(record) - a.first) * a.slope + a.t_low;
    };
    return with_calibration<false>(in.context, [&](auto calibrated) {
        const FlightTimePoints<decltype(flight_time), decltype(calibrated), true> points{
            flight_time, calibrated, in.context.tof_k_us, in.context.scan_time_ms};
        return decode_records<LayoutBC>(in.scan, points, in.out);
    });
}

Outcome decode_c(const Inputs& in) {
    // The sum fraction × 2^-16 + (position − first) is formed in one exact step: the record's upper half
    // holds the 16.16 fixed-point position 65536·position + fraction, so the sum equals
    // (upper − 65536·first) × 2^-16, every intermediate being an integer below 2^33 or its exact
    // power-of-two scaling. upper is converted as a signed value offset by 2^31, which the vector
    // units convert directly.
    const FlightTimeAxis a = in.axis;
    const double bias = a.first * 65536.0 - 2147483648.0;
    auto flight_time = [a, bias](std::uint64_t record) {
        const auto upper = static_cast<std::int32_t>(LayoutBC::high_half(record) ^ 0x8000'0000u);
        return ((static_cast<double>(upper) - bias) * kInverse2Pow16) * a.slope + a.t_low;
    };
    return with_calibration<false>(in.context, [&](auto calibrated) {
        const FlightTimePoints<decltype(flight_time), decltype(calibrated), false> points{
            flight_time, calibrated, in.context.tof_k_us, 0.0};
        return decode_records<LayoutBC>(in.scan, points, in.out);
    });
}

// ---------------------------------------------------------------- paths

// One set of entry points per path, each flattened so that the whole decode is
// compiled with that path's instruction set. The attributes come last (they hold commas).
#define TV_KERNEL_SET(suffix, ...)                                                                           \
    __VA_ARGS__ Outcome decode_a_##suffix(const Inputs& in) { return decode_raw_mz<LayoutA>(in); }           \
    __VA_ARGS__ Outcome decode_b_##suffix(const Inputs& in) { return decode_b(in); }                         \
    __VA_ARGS__ Outcome decode_c_##suffix(const Inputs& in) { return decode_c(in); }                         \
    __VA_ARGS__ Outcome decode_d_##suffix(const Inputs& in) { return decode_raw_mz<LayoutD>(in); }           \
    constexpr KernelSet kKernels_##suffix{decode_a_##suffix, decode_b_##suffix, decode_c_##suffix,           \
                                          decode_d_##suffix};

TV_KERNEL_SET(baseline, [[gnu::flatten]])
#if defined(__x86_64__)
TV_KERNEL_SET(avx2, [[gnu::flatten, gnu::target("arch=x86-64-v3")]])
// GCC keeps to 256-bit vectors for x86-64-v4 unless told otherwise; clang takes no
// vector-width preference in a target attribute.
#if defined(__clang__)
TV_KERNEL_SET(avx512, [[gnu::flatten, gnu::target("arch=x86-64-v4")]])
#else
TV_KERNEL_SET(avx512, [[gnu::flatten, gnu::target("arch=x86-64-v4,prefer-vector-width=512")]])
#endif
#endif
#undef TV_KERNEL_SET

} // namespace

const KernelSet& kernels_for(DecoderPath path) {
#if defined(__x86_64__)
    switch (path) {
    case DecoderPath::Avx2:
        return kKernels_avx2;
    case DecoderPath::Avx512:
        return kKernels_avx512;
    case DecoderPath::Baseline:
        break;
    }
#else
    (void)path;
#endif
    return kKernels_baseline;
}

} // namespace tarnvale::raw::kernels
