// The numpress codecs: awkward arrays come back within each codec's error bound, or
// are refused (and then written as plain floats with the file's compression); the
// terms say which. The decoder below follows the format's published description; the
// host-side check decodes the written files with an independent implementation too.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "mzml/array_encoder.hpp"
#include "mzml/numpress.hpp"

namespace tarnvale::mzml {
namespace {

using f64 = std::numeric_limits<double>;
using Bytes = std::vector<std::uint8_t>;

double fixed_point_of(const Bytes& bytes) {
    std::uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits = bits << 8 | bytes[static_cast<std::size_t>(i)];
    return std::bit_cast<double>(bits);
}

// Half-bytes high half first; a header half-byte counts the leading zeros (0-8) or
// ones (9-15, 8 + count) left out, the rest follow from the lowest up. The end is the
// last half-byte read, or a zero low half left (padding).
std::vector<double> decode_linear(const Bytes& bytes) {
    std::vector<std::int64_t> ints;
    for (std::size_t at = 8; at + 4 <= std::min<std::size_t>(bytes.size(), 16); at += 4)
        ints.push_back(bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
                       std::int64_t{bytes[at + 3]} << 24);
    std::size_t half = 32;
    const auto next = [&] { return half % 2 ? bytes.at(half++ / 2) & 0xfu : bytes.at(half++ / 2) >> 4u; };
    const std::size_t end = 2 * bytes.size() - ((bytes.back() & 0xf) == 0 ? 1 : 0);
    while (ints.size() >= 2 && half < end) {
        const unsigned header = next(), omitted = header <= 8 ? header : header - 8;
        std::uint32_t residual = header > 8 ? ~0u << (32 - 4 * omitted) : 0;
        for (unsigned i = 0; i < 8 - omitted; ++i) residual |= next() << (4 * i);
        ints.push_back(2 * ints.back() - ints[ints.size() - 2] + static_cast<std::int32_t>(residual));
    }
    std::vector<double> values(ints.size());
    const double fixed_point = fixed_point_of(bytes);
    std::ranges::transform(ints, values.begin(),
                           [&](std::int64_t y) { return static_cast<double>(y) / fixed_point; });
    return values;
}

std::vector<double> decode_slof(const Bytes& bytes) {
    const double fixed_point = fixed_point_of(bytes);
    std::vector<double> values;
    for (std::size_t at = 8; at + 1 < bytes.size(); at += 2)
        values.push_back(std::exp((bytes[at] | bytes[at + 1] << 8) / fixed_point) - 1);
    return values;
}

std::vector<double> ascending_mz(std::size_t count, std::uint64_t seed) {
    std::mt19937_64 random(seed);
    std::vector<double> mz(count);
    double at = 50;
    for (double& value : mz) value = at += std::uniform_real_distribution(1e-4, 20.0)(random);
    return mz;
}

struct Case {
    std::string name;
    std::vector<double> values;
    bool linear; // expected to be encoded (true) or refused
    bool slof;
};

std::vector<Case> cases() {
    const double nan = f64::quiet_NaN(), inf = f64::infinity();
    std::vector<double> times(3000);
    for (std::size_t i = 0; i < times.size(); ++i) times[i] = static_cast<double>(i) * 0.02;
    // Whole numbers whose residuals take every length, both signs, up to 2^30: the
    // fixed point comes out as 1 and every value exact.
    std::vector<double> jumps = {1, 2};
    const auto add_residual = [&jumps](double residual) {
        jumps.push_back(jumps.back() + (jumps.back() - jumps[jumps.size() - 2]) + residual);
    };
    for (int shift = 0; shift <= 30; ++shift) {
        add_residual(std::ldexp(1.0, shift));
        if (shift < 30) add_residual(1 - std::ldexp(1.0, shift + 1));
    }
    return {
        {"empty", {}, false, false},
        {"one value", {445.12003}, false, true},
        {"two values", {100.5, 1999.99}, true, true},
        {"a small value beside a large one", {0.5, 1999.99}, false, true},
        {"zeros", {0, 0, 0, 0, 0}, true, true},
        {"negative zero", {-0.0, 0, -0.0}, true, true},
        {"m/z, 2000 points", ascending_mz(2000, 3), true, true},
        {"repeated m/z", {300.1, 300.1, 300.1, 301.7, 301.7, 302.0}, true, true},
        {"retention times", times, true, true},
        {"small steps", {1e-7, 2e-7, 3.5e-7, 3.6e-7}, true, true},
        {"residuals of every length", jumps, true, false},
        {"one intensity of 1e38", {1, 1e38, 5}, false, true},
        {"largest double", {f64::max()}, false, true},
        {"tiny values (come back as zeros)", {1e-300, 2e-300, 3e-300}, true, true},
        {"subnormal", {f64::denorm_min()}, false, true},
        {"a jump to 1e9", {100, 100.1, 1e9}, false, true},
        {"negative first value", {-1, 2, 3}, false, false},
        {"negative later values", {5, 3, 1, -1, -3.25}, true, false},
        {"NaN", {100, nan, 300}, false, false},
        {"infinity", {100, 200, inf}, false, false},
        {"negative infinity", {-inf}, false, false},
    };
}

// Each value within half a step of the fixed point (and as exact as a 32-bit float),
// or (value + 1) within a factor exp(±0.5 / fixed point); or the array refused, with
// nothing left behind.
TEST(MzmlNumpress, AwkwardArraysComeBackWithinTheBoundOrAreRefused) {
    for (const Case& c : cases()) {
        for (const bool linear : {true, false}) {
            SCOPED_TRACE(c.name + (linear ? ", linear prediction" : ", short logged floats"));
            Bytes bytes = {0xaa}; // what was there before stays
            const bool written =
                linear ? numpress::append_linear(c.values, bytes) : numpress::append_slof(c.values, bytes);
            ASSERT_EQ(written, linear ? c.linear : c.slof);
            bytes.erase(bytes.begin());
            if (!written) {
                EXPECT_TRUE(bytes.empty());
                continue;
            }
            const double step = 0.5 / fixed_point_of(bytes);
            const std::vector<double> decoded = linear ? decode_linear(bytes) : decode_slof(bytes);
            ASSERT_EQ(decoded.size(), c.values.size());
            for (std::size_t i = 0; i < decoded.size(); ++i) {
                const double v = c.values[i], error = std::abs(decoded[i] - v);
                if (linear)
                    EXPECT_TRUE(error <= step + 4 * f64::epsilon() * std::abs(v) &&
                                error <= 0x1p-24 * std::max(1.0, std::abs(v)))
                        << i << ": " << v << " came back as " << decoded[i];
                else
                    EXPECT_LE(std::abs((decoded[i] + 1) / (v + 1) - 1), std::expm1(step) + 1e-12) << i;
            }
        }
    }
}

struct Expected {
    ArrayEncoding encoding;
    ArrayRole role;
    std::vector<double> values;
    Term data_type;
    Term compression;
};

// The terms follow what was written: numpress values decode to 64-bit floats; a
// refused array goes out as it would without numpress, with the file's compression.
TEST(MzmlNumpress, TermsSayHowEachArrayWasWritten) {
    const ArrayEncoding numpress_zlib{Compression::Zlib, true, Precision::Float64};
    const ArrayEncoding numpress_only{Compression::None, true, Precision::Float32};
    const ArrayEncoding float32{Compression::None, false, Precision::Float32};
    const std::vector<double> mz = {100.5, 200.25, 300.125};
    // clang-format off
    const Expected table[] = {
        {numpress_zlib, ArrayRole::Mz, mz, Term::Float64, Term::NumpressLinearZlib},
        {numpress_only, ArrayRole::Mz, mz, Term::Float64, Term::NumpressLinear},
        {numpress_zlib, ArrayRole::Time, mz, Term::Float64, Term::NumpressLinearZlib},
        {numpress_zlib, ArrayRole::Intensity, mz, Term::Float64, Term::NumpressSlofZlib},
        {numpress_only, ArrayRole::Intensity, mz, Term::Float64, Term::NumpressSlof},
        {numpress_zlib, ArrayRole::Other, mz, Term::Float64, Term::ZlibCompression},
        {numpress_only, ArrayRole::Mz, {}, Term::Float32, Term::NoCompression},
        {numpress_only, ArrayRole::Mz, {1, f64::quiet_NaN()}, Term::Float32, Term::NoCompression},
        {numpress_zlib, ArrayRole::Intensity, {-1, 5}, Term::Float64, Term::ZlibCompression},
        {float32, ArrayRole::Mz, {f64::infinity(), f64::quiet_NaN()}, Term::Float32, Term::NoCompression},
        {float32, ArrayRole::Mz, {100, 1e39}, Term::Float64, Term::NoCompression}, // beyond a 32-bit float
        {float32, ArrayRole::Time, mz, Term::Float64, Term::NoCompression},
    };
    // clang-format on
    for (const Expected& row : table) {
        auto encoder = ArrayEncoder::create(row.encoding);
        ASSERT_TRUE(encoder);
        const EncodedArray encoded = encoder->encode(row.values, row.role);
        EXPECT_EQ(term_info(encoded.data_type).accession, term_info(row.data_type).accession);
        EXPECT_EQ(term_info(encoded.compression).accession, term_info(row.compression).accession)
            << static_cast<int>(row.role) << " " << row.values.size();
    }
}

} // namespace
} // namespace tarnvale::mzml
