#include "raw/scan_decoders.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <format>
#include <optional>
#include <ranges>

#include "bytes.hpp"

// The decoders walk a scan in blocks of records, in two steps per block.
//
// 1. Keep: a scalar loop skips records with zero intensity, validates the others
//    and copies each kept record, as one little-endian integer, into a small
//    buffer that stays in the L1 cache. This is the only loop with branches.
// 2. Convert: branch-free loops turn the kept records into m/z, intensity and
//    drift values and append them to the result. They have no calls and no
//    table look-ups, so the compiler vectorises them (the square roots of A and
//    D dominate the cost and run two or more at a time); the calibration kind
//    is resolved once per block.
//
// Every value is computed by one fixed sequence of IEEE operations, the same in
// the vector loops as in a plain one, so results are bit-for-bit reproducible
// on every build (which is also why the build never fuses a multiply and an
// add). Where a product of an integer and a power of two is needed, it is built
// directly from bits, which gives the identical, exact value.

namespace tarnvale::raw {

namespace {

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

// Short polynomials get a fixed length so that the loop over coefficients unrolls.
template <std::size_t N> struct FixedPolynomial {
    std::array<double, N> coefficients;
    double operator()(double x) const { return horner(coefficients.data(), N, x); }
};

struct Polynomial {
    const double* coefficients;
    std::size_t count;
    double operator()(double x) const { return horner(coefficients, count, x); }
};

template <std::size_t N> FixedPolynomial<N> fixed_polynomial(const std::vector<double>& coefficients) {
    FixedPolynomial<N> polynomial;
    std::copy_n(coefficients.begin(), N, polynomial.coefficients.begin());
    return polynomial;
}

// Calls `body` with the calibration of `context` as a callable object.
template <class Body> void with_calibration(const DecodeContext& context, Body&& body) {
    if (context.cal_type == CalType::T0) return body(Uncalibrated{});
    const std::vector<double>& c = context.coefficients;
    switch (c.size()) {
    case 0:
        return body(NoCoefficients{});
    case 1:
        return body(fixed_polynomial<1>(c));
    case 2:
        return body(fixed_polynomial<2>(c));
    case 3:
        return body(fixed_polynomial<3>(c));
    case 4:
        return body(fixed_polynomial<4>(c));
    default:
        return body(Polynomial{c.data(), c.size()});
    }
}

// ---------------------------------------------------------------- record layouts

// Each layout reads a record into one little-endian integer (record byte k at
// bits 8k..8k+7), says whether it carries a point and, if kChecked, whether a
// record with a point is decodable.

std::uint64_t load_u64(const std::uint8_t* p) {
    return static_cast<std::uint64_t>(load_u32(p)) | (static_cast<std::uint64_t>(load_u32(p + 4)) << 32);
}

// Encoding A, 6 bytes: intensity u16, exponent byte, 24-bit mantissa.
struct LayoutA {
    static constexpr std::size_t kSize = 6;
    static constexpr bool kChecked = true;
    static std::uint64_t load(const std::uint8_t* r) {
        return load_u16(r) | (static_cast<std::uint64_t>(load_u32(r + 2)) << 16);
    }
    static bool has_point(std::uint64_t record) { return (record & 0xFFFF) != 0; }
    // Exponent low nibble (bits 16..19) clear, mantissa top bit (bit 47) set.
    static bool valid(std::uint64_t record) { return (record & 0x8000'000F'0000) == 0x8000'0000'0000; }
    static Error invalid(std::uint64_t record) {
        auto byte = [record](int k) { return static_cast<std::uint8_t>(record >> (8 * k)); };
        return Error::parse(std::format("Encoding A: unsupported m/z word {:02x} {:02x} {:02x} {:02x}",
                                        byte(2), byte(3), byte(4), byte(5)));
    }
    static float intensity(std::uint64_t record) {
        return static_cast<float>(static_cast<std::int32_t>(record & 0xFFFF));
    }
    // mantissa × 2^(e − 24) with the mantissa's top bit set is 1.f × 2^(e − 1):
    // biased exponent e + 1022, and the 23 bits below the top bit as the fraction.
    static double raw_mz(std::uint64_t record) {
        const std::uint64_t exponent = (record >> 20) & 0xF;
        const std::uint64_t fraction = (record >> 24) & 0x7F'FFFF;
        return std::bit_cast<double>(((exponent + 1022) << 52) | (fraction << 29));
    }
};

// Encoding D, 8 bytes: intensity u32 in 16.16 fixed point, position word u32.
struct LayoutD {
    static constexpr std::size_t kSize = 8;
    static constexpr bool kChecked = true;
    static std::uint64_t load(const std::uint8_t* r) { return load_u64(r); }
    static bool has_point(std::uint64_t record) { return static_cast<std::uint32_t>(record) != 0; }
    static std::uint32_t position_word(std::uint64_t record) {
        return static_cast<std::uint32_t>(record >> 32);
    }
    static bool valid(std::uint64_t record) { return (position_word(record) & (1u << 26)) != 0; }
    static Error invalid(std::uint64_t record) {
        return Error::parse(std::format("Encoding D: position word {:#010x} lacks the leading mantissa bit",
                                        position_word(record)));
    }
    // f32(word × 2^-16 in f64) rounds the exact value word × 2^-16 once; so does
    // f32(word) × 2^-16, because scaling by a power of two commutes with rounding
    // while the result stays a normal float (it lies in [2^-16, 2^16]). The
    // single-precision form converts four words at a time.
    static float intensity(std::uint64_t record) {
        return static_cast<float>(static_cast<std::uint32_t>(record)) * 0x1p-16f;
    }
    // (mantissa × 2^-27) × 2^e with bit 26 of the mantissa set is 1.f × 2^(e − 1):
    // biased exponent e + 1022, and the 26 bits below the top bit as the fraction.
    static double raw_mz(std::uint64_t record) {
        const std::uint64_t word = position_word(record);
        return std::bit_cast<double>((((word >> 27) + 1022) << 52) | ((word & 0x3FF'FFFF) << 26));
    }
};

// Encodings B and C, 8 bytes: two unread bytes, intensity u16, a u16 word
// (drift for B, position fraction for C), time-bin position u16.
struct LayoutBC {
    static constexpr std::size_t kSize = 8;
    static std::uint64_t load(const std::uint8_t* r) { return load_u64(r); }
    static std::uint32_t intensity_word(std::uint64_t record) {
        return static_cast<std::uint32_t>(record) >> 16;
    }
    static bool has_point(std::uint64_t record) { return intensity_word(record) != 0; }
    static constexpr bool kChecked = false; // every kept record is decodable
    // The 16-bit fields are converted through int32, which the vector units convert directly.
    static float intensity(std::uint64_t record) {
        return static_cast<float>(static_cast<std::int32_t>(intensity_word(record)));
    }
    static std::uint32_t high_half(std::uint64_t record) { return static_cast<std::uint32_t>(record >> 32); }
    static double word(std::uint64_t record) { return static_cast<std::int32_t>(high_half(record) & 0xFFFF); }
    static double position(std::uint64_t record) {
        return static_cast<std::int32_t>(high_half(record) >> 16);
    }
};

// ---------------------------------------------------------------- blocks

// The kept records of one block.
struct KeptRecords {
    std::array<std::uint64_t, kBlockRecords> record;
    std::size_t count = 0;

    std::span<const std::uint64_t> view() const { return {record.data(), count}; }
};

template <class Layout> Result<void> keep_block(Bytes block, KeptRecords& kept) {
    std::size_t count = 0; // a local, so that it stays in a register
    for (const std::uint8_t* r = block.data(); r != block.data() + block.size(); r += Layout::kSize) {
        const std::uint64_t record = Layout::load(r);
        if (!Layout::has_point(record)) continue;
        if constexpr (Layout::kChecked) {
            if (!Layout::valid(record)) return fail(Layout::invalid(record));
        }
        kept.record[count++] = record;
    }
    kept.count = count;
    return {};
}

// Keeps the records of each block of `scan` and hands them to `append`; the
// first invalid record ends the walk.
template <class Layout, class Append> Result<void> for_each_block(Bytes scan, Append append) {
    KeptRecords kept;
    const std::size_t block_bytes = kBlockRecords * Layout::kSize;
    for (std::size_t at = 0; at < scan.size(); at += block_bytes) {
        TV_RETURN_IF_ERROR(
            keep_block<Layout>(scan.subspan(at, std::min(block_bytes, scan.size() - at)), kept));
        append(kept.view());
    }
    return {};
}

template <class Layout>
void append_intensities(std::span<const std::uint64_t> kept, std::vector<float>& out) {
    // A lambda rather than the function itself: a function pointer is not inlined into the loop.
    out.append_range(kept |
                     std::views::transform([](std::uint64_t record) { return Layout::intensity(record); }));
}

// A and D: raw m/z -> (calibrated sqrt(raw))². raw is always positive (its
// mantissa has the top bit set), so fabs changes nothing; it only tells the
// compiler that sqrt cannot fail, which lets it use vector square roots.
template <class Layout>
void append_mz_from_raw(std::span<const std::uint64_t> kept, std::vector<double>& mz,
                        const DecodeContext& context) {
    with_calibration(context, [&](auto calibrated) {
        mz.append_range(kept | std::views::transform([calibrated](std::uint64_t record) {
                            double c = calibrated(std::sqrt(std::fabs(Layout::raw_mz(record))));
                            return c * c;
                        }));
    });
}

template <class Layout> Result<Spectrum> decode_raw_mz(Bytes scan, const DecodeContext& context) {
    Spectrum out;
    out.mz.reserve(scan.size() / Layout::kSize);
    out.intensity.reserve(scan.size() / Layout::kSize);
    TV_RETURN_IF_ERROR(for_each_block<Layout>(scan, [&](std::span<const std::uint64_t> kept) {
        append_mz_from_raw<Layout>(kept, out.mz, context);
        append_intensities<Layout>(kept, out.intensity);
    }));
    return out;
}

// ---------------------------------------------------------------- B and C

// Linear map from a record's time-bin position to flight time, anchored at the
// first and last record of the scan and the function's m/z bounds.
struct FlightTimeAxis {
    double first;
    double slope;
    double t_low;
};

// B and C share the framing: empty and one-record scans, and scans whose last
// position does not exceed the first, decode to nothing.
Result<std::optional<FlightTimeAxis>> flight_time_axis(char encoding, Bytes scan,
                                                       const DecodeContext& context) {
    if (scan.empty()) return std::nullopt;
    if (scan.size() % LayoutBC::kSize != 0) {
        return parse_error(
            std::format("Encoding {}: scan size {} is not a multiple of 8", encoding, scan.size()));
    }
    const std::size_t count = scan.size() / LayoutBC::kSize;
    if (count == 1) return std::nullopt;
    const double first = LayoutBC::position(LayoutBC::load(scan.data()));
    const double last = LayoutBC::position(LayoutBC::load(scan.data() + (count - 1) * LayoutBC::kSize));
    if (first >= last) return std::nullopt;
    const double t_low = std::sqrt(context.mz_low) * context.tof_k_us;
    const double slope = (std::sqrt(context.mz_high) * context.tof_k_us - t_low) / (last - first);
    return FlightTimeAxis{first, slope, t_low};
}

// B and C: flight time t (µs) -> (calibrated t / tof_k_us)², with t from `flight_time(record)`.
template <class FlightTime>
void append_mz_from_flight_time(std::span<const std::uint64_t> kept, FlightTime flight_time,
                                std::vector<double>& mz, const DecodeContext& context) {
    const double tof_k_us = context.tof_k_us;
    with_calibration(context, [&](auto calibrated) {
        mz.append_range(kept |
                        std::views::transform([calibrated, flight_time, tof_k_us](std::uint64_t record) {
                            double ratio = calibrated(flight_time(record)) / tof_k_us;
                            return ratio * ratio;
                        }));
    });
}

} // namespace

double calibrate(const DecodeContext& context, double x) {
    if (context.cal_type == CalType::T0) return x;
    if (context.coefficients.empty()) return 0.0;
    return horner(context.coefficients.data(), context.coefficients.size(), x);
}

Result<Spectrum> decode_encoding_a(Bytes scan, const DecodeContext& context) {
    if (scan.size() % LayoutA::kSize != 0) {
        return parse_error(std::format("Encoding A: scan size {} is not a multiple of 6", scan.size()));
    }
    return decode_raw_mz<LayoutA>(scan, context);
}

Result<Spectrum> decode_encoding_d(Bytes scan, const DecodeContext& context) {
    if (scan.size() % LayoutD::kSize != 0) {
        return parse_error(std::format("Encoding D: scan size {} is not a multiple of 8", scan.size()));
    }
    return decode_raw_mz<LayoutD>(scan, context);
}

Result<ImsSpectrum> decode_encoding_b(Bytes scan, const DecodeContext& context) {
    TV_ASSIGN_OR_RETURN(std::optional<FlightTimeAxis> axis, flight_time_axis('B', scan, context));
    ImsSpectrum out;
    if (!axis) return out;
    const std::size_t count = scan.size() / LayoutBC::kSize;
    out.mz.reserve(count);
    out.drift_time_ms.reserve(count);
    out.intensity.reserve(count);
    const FlightTimeAxis a = *axis;
    const double scan_time_ms = context.scan_time_ms;
    auto flight_time = [a](std::uint64_t record) {
        return (LayoutBC::position(record) - a.first) * a.slope + a.t_low;
    };
    auto drift_time_ms = [scan_time_ms](std::uint64_t record) {
        return LayoutBC::word(record) * scan_time_ms * kInverse2Pow16;
    };
    TV_RETURN_IF_ERROR(for_each_block<LayoutBC>(scan, [&](std::span<const std::uint64_t> kept) {
        append_mz_from_flight_time(kept, flight_time, out.mz, context);
        out.drift_time_ms.append_range(kept | std::views::transform(drift_time_ms));
        append_intensities<LayoutBC>(kept, out.intensity);
    }));
    return out;
}

Result<Spectrum> decode_encoding_c(Bytes scan, const DecodeContext& context) {
    TV_ASSIGN_OR_RETURN(std::optional<FlightTimeAxis> axis, flight_time_axis('C', scan, context));
    Spectrum out;
    if (!axis) return out;
    out.mz.reserve(scan.size() / LayoutBC::kSize);
    out.intensity.reserve(scan.size() / LayoutBC::kSize);
    // The sum fraction × 2^-16 + (position − first) is formed in one exact step: the record's upper half
    // holds the 16.16 fixed-point position 65536·position + fraction, so the sum equals
    // (upper − 65536·first) × 2^-16, every intermediate being an integer below 2^33 or its exact
    // power-of-two scaling. upper is converted as a signed value offset by 2^31, which the vector
    // units convert directly.
    const FlightTimeAxis a = *axis;
    const double bias = a.first * 65536.0 - 2147483648.0;
    auto flight_time = [a, bias](std::uint64_t record) {
        const auto upper = static_cast<std::int32_t>(LayoutBC::high_half(record) ^ 0x8000'0000u);
        return ((static_cast<double>(upper) - bias) * kInverse2Pow16) * a.slope + a.t_low;
    };
    TV_RETURN_IF_ERROR(for_each_block<LayoutBC>(scan, [&](std::span<const std::uint64_t> kept) {
        append_mz_from_flight_time(kept, flight_time, out.mz, context);
        append_intensities<LayoutBC>(kept, out.intensity);
    }));
    return out;
}

namespace {

template <class Layout> std::size_t count_points(Bytes records) {
    std::size_t count = 0;
    const std::size_t whole = records.size() / Layout::kSize * Layout::kSize;
    for (std::size_t at = 0; at < whole; at += Layout::kSize)
        if (Layout::has_point(Layout::load(records.data() + at))) ++count;
    return count;
}

} // namespace

std::size_t count_points_a(Bytes records) { return count_points<LayoutA>(records); }
std::size_t count_points_d(Bytes records) { return count_points<LayoutD>(records); }

} // namespace tarnvale::raw
