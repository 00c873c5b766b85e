#include "data.hpp"

#include <array>
#include <cmath>
#include <format>
#include <optional>

#include "../bytes.hpp"

// Every decoder works in two passes. The first walks the records once, skips
// those with zero intensity, validates the rest and stores each kept point's
// uncalibrated quantity (raw m/z for A and D, flight time for B and C) in the
// m/z vector. The second maps that vector in place through calibration and the
// final conversion to m/z. The second pass has no branches and no calls, so the
// compiler can vectorise it; the calibration kind is resolved once per scan.
// All arithmetic follows the documented evaluation order exactly.

namespace tarnvale::raw {

namespace {

constexpr std::size_t kRecordSizeA = 6;
constexpr std::size_t kRecordSize8 = 8; // encodings B, C and D
constexpr double kInverse2Pow16 = 0x1p-16;

// ---------------------------------------------------------------- calibration

// Horner's rule from the last coefficient, starting from 0 as documented: the
// initial 0·x is kept because it matters for non-finite x.
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
    for (std::size_t k = 0; k < N; ++k) polynomial.coefficients[k] = coefficients[k];
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

// A and D: raw m/z -> (calibrated sqrt(raw))². raw is always positive (its
// mantissa has the top bit set), so fabs changes nothing; it only tells the
// compiler that sqrt cannot fail, which lets it use vector square roots.
void finish_mz_from_raw(std::vector<double>& values, const DecodeContext& context) {
    with_calibration(context, [&values](auto calibrated) {
        double* v = values.data();
        const std::size_t n = values.size();
        for (std::size_t i = 0; i < n; ++i) {
            double c = calibrated(std::sqrt(std::fabs(v[i])));
            v[i] = c * c;
        }
    });
}

// B and C: flight time t (µs) -> (calibrated t / tof_k_us)².
void finish_mz_from_flight_time(std::vector<double>& values, const DecodeContext& context) {
    const double tof_k_us = context.tof_k_us;
    with_calibration(context, [&values, tof_k_us](auto calibrated) {
        double* v = values.data();
        const std::size_t n = values.size();
        for (std::size_t i = 0; i < n; ++i) {
            double ratio = calibrated(v[i]) / tof_k_us;
            v[i] = ratio * ratio;
        }
    });
}

// ---------------------------------------------------------------- powers of two

// scale[e] = 2^(e + shift): multiplying an integer mantissa by it is exact and
// equals the documented product of powers of two.
template <std::size_t Count, int Shift> constexpr std::array<double, Count> powers_of_two() {
    std::array<double, Count> table{};
    for (std::size_t e = 0; e < Count; ++e) {
        double value = 1.0;
        int exponent = static_cast<int>(e) + Shift;
        for (; exponent > 0; --exponent) value *= 2.0;
        for (; exponent < 0; ++exponent) value *= 0.5;
        table[e] = value;
    }
    return table;
}

constexpr auto kScaleA = powers_of_two<16, -24>(); // mantissa24 × 2^(e − 24)
constexpr auto kScaleD = powers_of_two<32, -27>(); // (mantissa27 × 2^-27) × 2^e, both steps exact

Error size_error(char encoding, std::size_t length, std::size_t stride) {
    return Error::parse(
        std::format("Encoding {}: scan size {} is not a multiple of {}", encoding, length, stride));
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
    if (scan.size() % kRecordSize8 != 0) return fail(size_error(encoding, scan.size(), kRecordSize8));
    const std::size_t count = scan.size() / kRecordSize8;
    if (count == 1) return std::nullopt;
    const double first = load_u16(scan.data() + 6);
    const double last = load_u16(scan.data() + (count - 1) * kRecordSize8 + 6);
    if (first >= last) return std::nullopt;
    const double t_low = std::sqrt(context.mz_low) * context.tof_k_us;
    const double slope = (std::sqrt(context.mz_high) * context.tof_k_us - t_low) / (last - first);
    return FlightTimeAxis{first, slope, t_low};
}

} // namespace

double calibrate(const DecodeContext& context, double x) {
    if (context.cal_type == CalType::T0) return x;
    if (context.coefficients.empty()) return 0.0;
    return horner(context.coefficients.data(), context.coefficients.size(), x);
}

Result<Spectrum> decode_encoding_a(Bytes scan, const DecodeContext& context) {
    if (scan.size() % kRecordSizeA != 0) return fail(size_error('A', scan.size(), kRecordSizeA));
    const std::size_t count = scan.size() / kRecordSizeA;
    Spectrum out;
    out.mz.reserve(count);
    out.intensity.reserve(count);
    const std::uint8_t* end = scan.data() + scan.size();
    for (const std::uint8_t* r = scan.data(); r != end; r += kRecordSizeA) {
        const std::uint16_t intensity = load_u16(r);
        if (intensity == 0) continue;
        if ((r[5] & 0x80) == 0 || (r[2] & 0x0F) != 0) {
            return parse_error(std::format("Encoding A: unsupported m/z word {:02x} {:02x} {:02x} {:02x}",
                                           r[2], r[3], r[4], r[5]));
        }
        const std::uint32_t mantissa = r[3] | (r[4] << 8) | (r[5] << 16);
        out.mz.push_back(static_cast<double>(mantissa) * kScaleA[r[2] >> 4]);
        out.intensity.push_back(static_cast<float>(intensity));
    }
    finish_mz_from_raw(out.mz, context);
    return out;
}

Result<Spectrum> decode_encoding_d(Bytes scan, const DecodeContext& context) {
    if (scan.size() % kRecordSize8 != 0) return fail(size_error('D', scan.size(), kRecordSize8));
    const std::size_t count = scan.size() / kRecordSize8;
    Spectrum out;
    out.mz.reserve(count);
    out.intensity.reserve(count);
    const std::uint8_t* end = scan.data() + scan.size();
    for (const std::uint8_t* r = scan.data(); r != end; r += kRecordSize8) {
        const std::uint32_t intensity_word = load_u32(r);
        if (intensity_word == 0) continue;
        const std::uint32_t word = load_u32(r + 4);
        if ((word & (1u << 26)) == 0) {
            return parse_error(
                std::format("Encoding D: position word {:#010x} lacks the leading mantissa bit", word));
        }
        out.mz.push_back(static_cast<double>(word & 0x7FFFFFF) * kScaleD[word >> 27]);
        out.intensity.push_back(static_cast<float>(static_cast<double>(intensity_word) * kInverse2Pow16));
    }
    finish_mz_from_raw(out.mz, context);
    return out;
}

Result<ImsSpectrum> decode_encoding_b(Bytes scan, const DecodeContext& context) {
    TV_ASSIGN_OR_RETURN(std::optional<FlightTimeAxis> axis, flight_time_axis('B', scan, context));
    ImsSpectrum out;
    if (!axis) return out;
    const std::size_t count = scan.size() / kRecordSize8;
    out.mz.reserve(count);
    out.drift_time_ms.reserve(count);
    out.intensity.reserve(count);
    const double scan_time_ms = context.scan_time_ms;
    const std::uint8_t* end = scan.data() + scan.size();
    for (const std::uint8_t* r = scan.data(); r != end; r += kRecordSize8) {
        const std::uint16_t intensity = load_u16(r + 2);
        if (intensity == 0) continue;
        const double drift_word = load_u16(r + 4);
        const double position = load_u16(r + 6);
        out.mz.push_back((position - axis->first) * axis->slope + axis->t_low);
        out.drift_time_ms.push_back(drift_word * scan_time_ms * kInverse2Pow16);
        out.intensity.push_back(static_cast<float>(intensity));
    }
    finish_mz_from_flight_time(out.mz, context);
    return out;
}

Result<Spectrum> decode_encoding_c(Bytes scan, const DecodeContext& context) {
    TV_ASSIGN_OR_RETURN(std::optional<FlightTimeAxis> axis, flight_time_axis('C', scan, context));
    Spectrum out;
    if (!axis) return out;
    const std::size_t count = scan.size() / kRecordSize8;
    out.mz.reserve(count);
    out.intensity.reserve(count);
    const std::uint8_t* end = scan.data() + scan.size();
    for (const std::uint8_t* r = scan.data(); r != end; r += kRecordSize8) {
        const std::uint16_t intensity = load_u16(r + 2);
        if (intensity == 0) continue;
        const double fraction = load_u16(r + 4);
        const double position = load_u16(r + 6);
        out.mz.push_back((fraction * kInverse2Pow16 + (position - axis->first)) * axis->slope + axis->t_low);
        out.intensity.push_back(static_cast<float>(intensity));
    }
    finish_mz_from_flight_time(out.mz, context);
    return out;
}

} // namespace tarnvale::raw
