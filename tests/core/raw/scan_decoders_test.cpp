// Scan decoders: values of each encoding, calibration kinds, skipped records,
// framing of B and C scans, exact error texts, and bit-exact agreement with a
// plain, one-record-at-a-time transcription of the formulas.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <format>
#include <functional>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "bytes.hpp"
#include "raw/scan_decoders.hpp"
#include "support/scan_records.hpp"

namespace tarnvale::raw {
namespace {

using testing::join;
using testing::record_a;
using testing::record_b;
using testing::record_bc;
using testing::record_c;
using testing::record_d;

DecodeContext context(CalType type, std::vector<double> coefficients = {}) {
    DecodeContext c;
    c.cal_type = type;
    c.coefficients = std::move(coefficients);
    c.tof_k_us = 30.0;
    c.mz_low = 100.0;
    c.mz_high = 400.0;
    c.scan_time_ms = 20.0;
    return c;
}

// The decoded m/z values, or the error text.
struct Outcome {
    std::vector<double> mz;
    std::vector<float> intensity;
    std::string error;
};

using Decoder = std::function<Outcome(Bytes, const DecodeContext&)>;

template <class Spectrum> Outcome outcome_of(const Result<Spectrum>& result) {
    if (!result) return {{}, {}, result.error().to_string()};
    EXPECT_EQ(result->mz.size(), result->intensity.size());
    return {result->mz, result->intensity, ""};
}

const Decoder kDecodeA = [](Bytes s, const DecodeContext& c) { return outcome_of(decode_encoding_a(s, c)); };
const Decoder kDecodeB = [](Bytes s, const DecodeContext& c) { return outcome_of(decode_encoding_b(s, c)); };
const Decoder kDecodeC = [](Bytes s, const DecodeContext& c) { return outcome_of(decode_encoding_c(s, c)); };
const Decoder kDecodeD = [](Bytes s, const DecodeContext& c) { return outcome_of(decode_encoding_d(s, c)); };

// ---------------------------------------------------------------- calibration

struct CalibrationCase {
    const char* name;
    CalType type;
    std::vector<double> coefficients;
    double expected_mz; // for an uncalibrated m/z of 256
};

std::vector<CalibrationCase> calibration_cases() {
    return {
        {"T0", CalType::T0, {}, 256.0},
        {"T0IgnoresCoefficients", CalType::T0, {0.0, 2.0}, 256.0},
        {"T1Doubling", CalType::T1, {0.0, 2.0}, 1024.0},
        {"T1Constant", CalType::T1, {5.0}, 25.0},
        {"T1Quadratic", CalType::T1, {0.0, 0.0, 0.0625}, 256.0},     // 16² / 16
        {"T1Cubic", CalType::T1, {1.0, 0.0, 0.0, 1.0 / 256}, 289.0}, // 1 + 16³ / 256
        {"T1WithoutCoefficients", CalType::T1, {}, 0.0},
        {"T1Long", CalType::T1, {0.0, 0.0, 0.0, 0.0, 0.0, 1.0}, 1048576.0 * 1048576.0},
    };
}

void PrintTo(const CalibrationCase& c, std::ostream* os) { *os << c.name; }

class CalibrationTest : public ::testing::TestWithParam<CalibrationCase> {};

// A raw m/z of 256 is h = 16 before calibration in both A and D
// (D: e = 9, mantissa 2^26, so (2^26 × 2^-27) × 2^9 = 256).
TEST_P(CalibrationTest, AppliesToTheSquareRootInEncodingsAAndD) {
    const CalibrationCase& c = GetParam();
    const DecodeContext ctx = context(c.type, c.coefficients);
    Outcome a = kDecodeA(join({record_a(100, 0x90, 0x800000)}), ctx);
    ASSERT_EQ(a.error, "");
    EXPECT_EQ(a.mz, std::vector<double>{c.expected_mz});
    EXPECT_EQ(a.intensity, std::vector<float>{100.0f});
    Outcome d = kDecodeD(join({record_d(0x10000, (9u << 27) | (1u << 26))}), ctx);
    ASSERT_EQ(d.error, "");
    EXPECT_EQ(d.mz, std::vector<double>{c.expected_mz});
    const double h = calibrate(ctx, 16.0);
    EXPECT_EQ(h * h, c.expected_mz);
}

INSTANTIATE_TEST_SUITE_P(Kinds, CalibrationTest, ::testing::ValuesIn(calibration_cases()),
                         [](const auto& test) { return std::string(test.param.name); });

// ---------------------------------------------------------------- encodings A and D

TEST(EncodingATest, DecodesAWorkedRecord) {
    Outcome out =
        kDecodeA(std::vector<std::uint8_t>{0x64, 0x00, 0x90, 0x00, 0x00, 0x80}, context(CalType::T0));
    EXPECT_EQ(out.mz, std::vector<double>{256.0});
    EXPECT_EQ(out.intensity, std::vector<float>{100.0f});
}

TEST(EncodingATest, KeepsRecordOrderAndSkipsZeroIntensityRecordsUnchecked) {
    // Raw values 4, 0.5625 and 9: perfect squares, so the square root and squaring are exact.
    auto scan =
        join({record_a(7, 0x30, 0x800000), record_a(0, 0x01, 0x000000), record_a(65535, 0x00, 0x900000),
              record_a(0, 0xFF, 0x123456), record_a(1, 0x40, 0x900000)});
    Outcome out = kDecodeA(scan, context(CalType::T0));
    ASSERT_EQ(out.error, "");
    EXPECT_EQ(out.mz, (std::vector<double>{4.0, 0.5625, 9.0}));
    EXPECT_EQ(out.intensity, (std::vector<float>{7.0f, 65535.0f, 1.0f}));
}

TEST(EncodingDTest, DecodesPositionWordAndFixedPointIntensity) {
    auto scan = join({record_d(98304, (1u << 27) | (1u << 26)), record_d(0, 1), record_d(1, 0x04000000 | 1)});
    Outcome out = kDecodeD(scan, context(CalType::T0));
    ASSERT_EQ(out.error, "");
    ASSERT_EQ(out.mz.size(), 2u);
    EXPECT_EQ(out.mz[0], 1.0);
    EXPECT_EQ(out.intensity[0], 1.5f);
    EXPECT_EQ(out.mz[1], std::sqrt(0.5 + 0x1p-27) * std::sqrt(0.5 + 0x1p-27));
    EXPECT_EQ(out.intensity[1], static_cast<float>(0x1p-16));
}

// The first offending record (with intensity) fails the whole scan.
TEST(EncodingADTest, BadWordsFailShowingTheWord) {
    const std::string a = "parse error: Encoding A: unsupported m/z word ";
    const auto d = [](const char* word) {
        return std::format("parse error: Encoding D: position word {} lacks the leading mantissa bit", word);
    };
    const auto d_scan = [](std::uint32_t word) {
        return join({record_d(1, 0x0C000000), record_d(5, word), record_d(1, 0)});
    };
    const std::tuple<Decoder, std::vector<std::uint8_t>, std::string> cases[] = {
        {kDecodeA, {0x01, 0x00, 0x01, 0x00, 0x00, 0x80}, a + "01 00 00 80"}, // low nibble set
        {kDecodeA, join({record_a(5, 0x90, 0x7FFFFF)}), a + "90 ff ff 7f"},  // mantissa top bit clear
        {kDecodeA,
         join({record_a(5, 0x90, 0x800000), record_a(3, 0xAB, 0xCDEF01), record_a(2, 0x01, 0x000000)}),
         a + "ab 01 ef cd"},
        {kDecodeD, d_scan(1), d("0x00000001")},
        {kDecodeD, d_scan(0), d("0x00000000")},
        {kDecodeD, d_scan(0xFBFFFFFF), d("0xfbffffff")},
    };
    for (const auto& [decode, scan, error] : cases) {
        Outcome out = decode(scan, context(CalType::T0));
        EXPECT_TRUE(out.mz.empty()) << error;
        EXPECT_EQ(out.error, error);
    }
}

// ---------------------------------------------------------------- encodings B and C

TEST(EncodingBCTest, InterpolateFlightTimeBetweenTheMzBoundsThenCalibrate) {
    auto scan = join({record_bc(1, 0, 100), record_bc(2, 0, 150), record_bc(3, 0, 200)});
    for (const Decoder& decode : {kDecodeB, kDecodeC}) {
        Outcome out = decode(scan, context(CalType::T0));
        ASSERT_EQ(out.error, "");
        EXPECT_EQ(out.mz, (std::vector<double>{100.0, 225.0, 400.0}));
        EXPECT_EQ(out.intensity, (std::vector<float>{1.0f, 2.0f, 3.0f}));
        EXPECT_EQ(decode(scan, context(CalType::T1, {0.0, 2.0})).mz,
                  (std::vector<double>{400.0, 900.0, 1600.0}));
    }
}

TEST(EncodingBCTest, AnchorsAreFirstAndLastRecordsEvenWithoutIntensity) {
    auto scan = join({record_bc(0, 0, 100), record_bc(9, 0, 150), record_bc(0, 0, 200)});
    for (const Decoder& decode : {kDecodeB, kDecodeC}) {
        Outcome out = decode(scan, context(CalType::T0));
        EXPECT_EQ(out.mz, std::vector<double>{225.0});
        EXPECT_EQ(out.intensity, std::vector<float>{9.0f});
    }
}

TEST(EncodingBCTest, OnlyEncodingCReadsThePositionFraction) {
    auto scan = join({record_bc(1, 0, 100), record_bc(1, 32768, 150, 0xFFFF), record_bc(1, 0, 200)});
    double t = (32768 * 0x1p-16 + 50.0) * 3.0 + 300.0;
    EXPECT_EQ(kDecodeC(scan, context(CalType::T0)).mz[1], (t / 30.0) * (t / 30.0));
    EXPECT_EQ(kDecodeB(scan, context(CalType::T0)).mz[1], 225.0);
}

TEST(EncodingBTest, DriftTimeIsAFractionOfTheScanTime) {
    auto scan = join({record_b(1, 32768, 100), record_b(1, 0, 150), record_b(1, 65535, 200)});
    auto result = decode_encoding_b(scan, context(CalType::T0));
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->drift_time_ms, (std::vector<double>{10.0, 0.0, 65535.0 * 20.0 * 0x1p-16}));
    EXPECT_EQ(result->mz.size(), 3u);
}

// Without two distinct, increasing anchor positions there is no m/z axis.
TEST(EncodingBCTest, ScansWithoutAnIncreasingSpanDecodeToNothing) {
    const std::vector<std::uint8_t> scans[] = {
        {},
        join({record_bc(5, 0, 100)}),
        join({record_bc(1, 0, 150), record_bc(1, 0, 120), record_bc(1, 0, 150)}),
        join({record_bc(1, 0, 200), record_bc(1, 0, 300), record_bc(1, 0, 100)}),
        join({record_bc(1, 0, 65535), record_bc(1, 0, 0)}),
    };
    for (const auto& scan : scans) {
        for (const Decoder& decode : {kDecodeB, kDecodeC}) {
            Outcome out = decode(scan, context(CalType::T1, {1.0, 2.0}));
            EXPECT_EQ(out.error, "");
            EXPECT_TRUE(out.mz.empty()) << scan.size();
            EXPECT_TRUE(out.intensity.empty());
        }
        auto ims = decode_encoding_b(scan, context(CalType::T0));
        ASSERT_TRUE(ims.has_value());
        EXPECT_TRUE(ims->drift_time_ms.empty());
    }
}

// ---------------------------------------------------------------- sizes

TEST(ScanSizeTest, WholeRecordsOnly) {
    const auto error = [](char encoding, std::size_t length, int stride) {
        return std::format("parse error: Encoding {}: scan size {} is not a multiple of {}", encoding, length,
                           stride);
    };
    // clang-format off
    const std::tuple<Decoder, std::size_t, std::string> cases[] = {
        {kDecodeA, 0, ""}, {kDecodeB, 0, ""}, {kDecodeC, 0, ""}, {kDecodeD, 0, ""},
        {kDecodeA, 7, "parse error: Encoding A: scan size 7 is not a multiple of 6"},
        {kDecodeB, 12, error('B', 12, 8)}, {kDecodeC, 12, error('C', 12, 8)},
        {kDecodeD, 12, error('D', 12, 8)}, {kDecodeD, 6, error('D', 6, 8)}};
    // clang-format on
    for (const auto& [decode, length, message] : cases) {
        Outcome out = decode(std::vector<std::uint8_t>(length, 0), context(CalType::T0));
        EXPECT_EQ(out.error, message) << length;
        EXPECT_TRUE(out.mz.empty());
    }
}

// ---------------------------------------------------------------- bit-exactness

// The formulas written out plainly, one record at a time.
double reference_calibrate(const DecodeContext& c, double x) {
    if (c.cal_type == CalType::T0) return x;
    if (c.coefficients.empty()) return 0.0;
    double acc = 0.0;
    for (std::size_t k = c.coefficients.size(); k > 0; --k) acc = acc * x + c.coefficients[k - 1];
    return acc;
}

Outcome reference_a(Bytes scan, const DecodeContext& c) {
    Outcome out;
    for (std::size_t at = 0; at < scan.size(); at += 6) {
        const std::uint8_t* r = scan.data() + at;
        if (load_u16(r) == 0) continue;
        double raw = std::ldexp(r[3] | (r[4] << 8) | (r[5] << 16), (r[2] >> 4) - 24);
        double calibrated = reference_calibrate(c, std::sqrt(raw));
        out.mz.push_back(calibrated * calibrated);
        out.intensity.push_back(static_cast<float>(load_u16(r)));
    }
    return out;
}

Outcome reference_d(Bytes scan, const DecodeContext& c) {
    Outcome out;
    for (std::size_t at = 0; at < scan.size(); at += 8) {
        const std::uint8_t* r = scan.data() + at;
        if (load_u32(r) == 0) continue;
        std::uint32_t w = load_u32(r + 4);
        double raw = std::ldexp(std::ldexp(w & 0x7FFFFFF, -27), static_cast<int>(w >> 27));
        double calibrated = reference_calibrate(c, std::sqrt(raw));
        out.mz.push_back(calibrated * calibrated);
        out.intensity.push_back(static_cast<float>(std::ldexp(load_u32(r), -16)));
    }
    return out;
}

Outcome reference_bc(Bytes scan, const DecodeContext& c, bool with_fraction) {
    Outcome out;
    std::size_t n = scan.size() / 8;
    double first = load_u16(scan.data() + 6);
    double last = load_u16(scan.data() + (n - 1) * 8 + 6);
    double t_low = std::sqrt(c.mz_low) * c.tof_k_us;
    double slope = (std::sqrt(c.mz_high) * c.tof_k_us - t_low) / (last - first);
    for (std::size_t at = 0; at < scan.size(); at += 8) {
        const std::uint8_t* r = scan.data() + at;
        if (load_u16(r + 2) == 0) continue;
        double offset = static_cast<double>(load_u16(r + 6)) - first;
        if (with_fraction) offset = std::ldexp(load_u16(r + 4), -16) + offset;
        double t = offset * slope + t_low;
        double ratio = reference_calibrate(c, t) / c.tof_k_us;
        out.mz.push_back(ratio * ratio);
        out.intensity.push_back(static_cast<float>(load_u16(r + 2)));
    }
    return out;
}

// Records spread over every field's range; about one in eight has zero intensity.
// Encoding D intensity words cover the whole u32 range (rounding to f32, ties
// included). B/C positions are anchored at 1000 (first) and 60000 (last) with
// the records between anywhere in the u16 range, below the first included.
struct RandomScans {
    std::vector<std::uint8_t> a, d, bc;
};

RandomScans random_scans(std::size_t count) {
    std::mt19937_64 random(20240611);
    RandomScans scans;
    std::vector<testing::RecordA> a;
    std::vector<testing::Record8> d, bc;
    auto intensity = [&]() {
        return static_cast<std::uint32_t>(random() % 8 == 0 ? 0 : 1 + random() % 60000);
    };
    for (std::size_t i = 0; i < count; ++i) {
        std::uint8_t exponent = static_cast<std::uint8_t>((random() % 16) << 4);
        std::uint32_t mantissa = 0x800000 | (random() & 0x7FFFFF);
        a.push_back(record_a(static_cast<std::uint16_t>(intensity()), exponent, mantissa));
        std::uint32_t exponent_d = static_cast<std::uint32_t>(random() % 32);
        std::uint32_t word = (exponent_d << 27) | (1u << 26) | (random() & 0x3FFFFFF);
        std::uint32_t intensity_word = random() % 8 == 0 ? 0 : static_cast<std::uint32_t>(random() >> 32);
        if (i % 5 == 0) intensity_word = ((intensity_word | 0x80000000u) & 0xFFFFFF00u) | 0x80u; // f32 tie
        d.push_back(record_d(intensity_word, word));
        auto position = static_cast<std::uint16_t>(random());
        if (i == 0) position = 1000;
        if (i == count - 1) position = 60000;
        bc.push_back(record_bc(static_cast<std::uint16_t>(intensity()), static_cast<std::uint16_t>(random()),
                               position));
    }
    scans.a = join(a);
    scans.d = join(d);
    scans.bc = join(bc);
    return scans;
}

void expect_bit_identical(const Outcome& actual, const Outcome& expected) {
    ASSERT_EQ(actual.error, "");
    ASSERT_EQ(actual.mz.size(), expected.mz.size());
    ASSERT_EQ(actual.intensity.size(), expected.intensity.size());
    for (std::size_t i = 0; i < expected.mz.size(); ++i) {
        ASSERT_EQ(std::bit_cast<std::uint64_t>(actual.mz[i]), std::bit_cast<std::uint64_t>(expected.mz[i]))
            << "point " << i << ": " << actual.mz[i] << " vs " << expected.mz[i];
        ASSERT_EQ(std::bit_cast<std::uint32_t>(actual.intensity[i]),
                  std::bit_cast<std::uint32_t>(expected.intensity[i]))
            << "point " << i;
    }
}

class BitExactTest : public ::testing::TestWithParam<CalibrationCase> {};

TEST_P(BitExactTest, DecodersMatchThePlainFormulas) {
    // Coefficients typical of a TOF calibration, so every rounding step matters.
    DecodeContext c = context(GetParam().type, GetParam().coefficients);
    c.tof_k_us = 0.7224847745293227;
    c.mz_low = 50.0;
    c.mz_high = static_cast<double>(1999.9f);
    c.scan_time_ms = 1000.0 * static_cast<double>(0.3f);
    RandomScans scans = random_scans(500);
    expect_bit_identical(kDecodeA(scans.a, c), reference_a(scans.a, c));
    expect_bit_identical(kDecodeD(scans.d, c), reference_d(scans.d, c));
    expect_bit_identical(kDecodeB(scans.bc, c), reference_bc(scans.bc, c, false));
    expect_bit_identical(kDecodeC(scans.bc, c), reference_bc(scans.bc, c, true));
}

INSTANTIATE_TEST_SUITE_P(
    Calibrations, BitExactTest,
    ::testing::Values(CalibrationCase{"T0", CalType::T0, {1.0, 2.0}, 0},
                      CalibrationCase{"T1Empty", CalType::T1, {}, 0},
                      CalibrationCase{"T1One", CalType::T1, {0.00131}, 0},
                      CalibrationCase{"T1Two", CalType::T1, {-0.0123456789, 1.00001234567}, 0},
                      CalibrationCase{"T1Three", CalType::T1, {0.0131, 0.99987654321, 3.1e-7}, 0},
                      CalibrationCase{"T1Four", CalType::T1, {0.0131, 0.9998, 3.1e-7, -1.7e-10}, 0},
                      CalibrationCase{
                          "T1Six", CalType::T1, {0.0131, 0.9998, 3.1e-7, -1.7e-10, 2e-13, -3e-17}, 0}),
    [](const auto& test) { return std::string(test.param.name); });

} // namespace
} // namespace tarnvale::raw
