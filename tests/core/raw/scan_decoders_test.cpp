// Scan decoders: values of each encoding, calibration kinds, skipped records,
// framing of B and C scans, exact error texts, and bit-exact agreement with a
// plain, one-record-at-a-time transcription of the formulas.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <format>
#include <functional>
#include <limits>
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

// The formulas written out plainly, one record at a time, with the checks and messages.
double reference_calibrate(const DecodeContext& c, double x) {
    if (c.cal_type == CalType::T0) return x;
    if (c.coefficients.empty()) return 0.0;
    double acc = 0.0;
    for (std::size_t k = c.coefficients.size(); k > 0; --k) acc = acc * x + c.coefficients[k - 1];
    return acc;
}

struct Reference {
    std::vector<double> mz;
    std::vector<float> intensity;
    std::vector<double> drift;
    std::string error;
};

Reference failure(std::string error) {
    Reference out;
    out.error = std::move(error);
    return out;
}

Reference reference_a(Bytes scan, const DecodeContext& c) {
    Reference out;
    for (std::size_t at = 0; at < scan.size(); at += 6) {
        const std::uint8_t* r = scan.data() + at;
        if (load_u16(r) == 0) continue;
        if ((r[5] & 0x80) == 0 || (r[2] & 0x0F) != 0) {
            return failure(
                std::format("parse error: Encoding A: unsupported m/z word {:02x} {:02x} {:02x} {:02x}", r[2],
                            r[3], r[4], r[5]));
        }
        double raw = std::ldexp(r[3] | (r[4] << 8) | (r[5] << 16), (r[2] >> 4) - 24);
        double calibrated = reference_calibrate(c, std::sqrt(raw));
        out.mz.push_back(calibrated * calibrated);
        out.intensity.push_back(static_cast<float>(load_u16(r)));
    }
    return out;
}

Reference reference_d(Bytes scan, const DecodeContext& c) {
    Reference out;
    for (std::size_t at = 0; at < scan.size(); at += 8) {
        const std::uint8_t* r = scan.data() + at;
        if (load_u32(r) == 0) continue;
        std::uint32_t w = load_u32(r + 4);
        if ((w & (1u << 26)) == 0) {
            return failure(std::format(
                "parse error: Encoding D: position word {:#010x} lacks the leading mantissa bit", w));
        }
        double raw = std::ldexp(std::ldexp(w & 0x7FFFFFF, -27), static_cast<int>(w >> 27));
        double calibrated = reference_calibrate(c, std::sqrt(raw));
        out.mz.push_back(calibrated * calibrated);
        out.intensity.push_back(static_cast<float>(std::ldexp(load_u32(r), -16)));
    }
    return out;
}

// Expects at least two records with increasing anchor positions.
Reference reference_bc(Bytes scan, const DecodeContext& c, bool with_fraction) {
    Reference out;
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
        if (!with_fraction) out.drift.push_back(load_u16(r + 4) * c.scan_time_ms * 0x1p-16);
    }
    return out;
}

// A value no decoder writes (a signalling NaN; arithmetic only ever yields quiet ones),
// which shows a write past the room a decoder is given.
constexpr std::uint64_t kUnwrittenBits = 0xFFF1'2345'6789'ABCD;
constexpr std::uint32_t kUnwrittenBits32 = 0xFF81'2345;

// Decodes with the record loops of `path` into arrays with room for every record
// and one more, which must stay untouched.
// What `decode` (an into-decoder of `encoding` bound to its scan) writes, checking that
// nothing is written past the room.
template <class Decode> Reference decode_to_reference(char encoding, Bytes scan, Decode&& decode) {
    const std::size_t room = max_points(scan, encoding == 'A' ? kRecordWidthA : kRecordWidthD);
    Reference out;
    out.mz.assign(room + 1, std::bit_cast<double>(kUnwrittenBits));
    out.intensity.assign(room + 1, std::bit_cast<float>(kUnwrittenBits32));
    if (encoding == 'B') out.drift.assign(room + 1, std::bit_cast<double>(kUnwrittenBits));
    const PointOutput into{out.mz.data(), out.intensity.data(), encoding == 'B' ? out.drift.data() : nullptr};
    Result<std::size_t> written = decode(into);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(out.mz[room]), kUnwrittenBits) << "mz written past the room";
    EXPECT_EQ(std::bit_cast<std::uint32_t>(out.intensity[room]), kUnwrittenBits32)
        << "intensity past the room";
    if (encoding == 'B') {
        EXPECT_EQ(std::bit_cast<std::uint64_t>(out.drift[room]), kUnwrittenBits)
            << "drift time past the room";
    }
    if (!written) return failure(written.error().to_string());
    EXPECT_LE(*written, room);
    out.mz.resize(*written);
    out.intensity.resize(*written);
    if (encoding == 'B') out.drift.resize(*written);
    return out;
}

Reference decode_with_path(char encoding, Bytes scan, const DecodeContext& c, DecoderPath path) {
    return decode_to_reference(encoding, scan, [&](PointOutput into) {
        return encoding == 'A'   ? decode_encoding_a_into(scan, c, into, path)
               : encoding == 'B' ? decode_encoding_b_into(scan, c, into, path)
               : encoding == 'C' ? decode_encoding_c_into(scan, c, into, path)
                                 : decode_encoding_d_into(scan, c, into, path);
    });
}

Reference decode_with_function_decoder(char encoding, Bytes scan, const DecodeContext& c) {
    const FunctionDecoder decoder(encoding, c);
    return decode_to_reference(encoding, scan, [&](PointOutput into) { return decoder.decode(scan, into); });
}

template <class T, class Bits>
void expect_same_bits(const std::vector<T>& actual, const std::vector<T>& expected, const char* what) {
    ASSERT_EQ(actual.size(), expected.size()) << what;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(std::bit_cast<Bits>(actual[i]), std::bit_cast<Bits>(expected[i]))
            << what << " of point " << i << ": " << actual[i] << " vs " << expected[i];
    }
}

void expect_bit_identical(const Reference& actual, const Reference& expected) {
    ASSERT_EQ(actual.error, expected.error);
    expect_same_bits<double, std::uint64_t>(actual.mz, expected.mz, "mz");
    expect_same_bits<float, std::uint32_t>(actual.intensity, expected.intensity, "intensity");
    expect_same_bits<double, std::uint64_t>(actual.drift, expected.drift, "drift time");
}

// Random records spread over every field's range: A and D exponents from the
// smallest to the largest, D intensity words over the whole u32 range with ties of
// the rounding to f32, B/C words and positions over the whole u16 range (anchors
// at 1000 and 60000, positions between them anywhere, below the first included).
// `dropped(i)` says which records carry no point (zero intensity, and for A and D
// an invalid m/z word as well, which must then be ignored).
struct Scans {
    std::vector<std::uint8_t> a, d, bc;
};

template <class Dropped> Scans random_scans(std::size_t count, std::uint64_t seed, Dropped dropped) {
    std::mt19937_64 random(seed);
    std::vector<testing::RecordA> a;
    std::vector<testing::Record8> d, bc;
    for (std::size_t i = 0; i < count; ++i) {
        const bool drop = dropped(i, random);
        // Every ninth record takes the extremes of its fields in turn: smallest and
        // largest exponents and fractions, and the largest intensities.
        const std::size_t extreme = i % 9 < 4 ? i % 9 : 4;
        const bool high = i % 2 != 0;
        auto intensity = static_cast<std::uint16_t>(drop ? 0 : 1 + random() % 65535);
        if (!drop && extreme < 4) intensity = high ? 0xFFFF : 1;
        auto exponent = static_cast<std::uint8_t>((random() % 16) << 4);
        std::uint32_t mantissa = 0x800000 | (random() & 0x7FFFFF);
        if (extreme < 2) exponent = high ? 0xF0 : 0x00;
        if (extreme >= 2 && extreme < 4) mantissa = high ? 0xFFFFFF : 0x800000;
        a.push_back(drop ? record_a(0, 0x0F, 0x123456) : record_a(intensity, exponent, mantissa));
        auto exponent_d = static_cast<std::uint32_t>(random() % 32);
        std::uint32_t fraction_d = static_cast<std::uint32_t>(random()) & 0x3FFFFFF;
        if (extreme < 2) exponent_d = high ? 31 : 0;
        if (extreme >= 2 && extreme < 4) fraction_d = high ? 0x3FFFFFF : 0;
        std::uint32_t intensity_word = static_cast<std::uint32_t>(random() >> 32) | 1u;
        if (i % 5 == 0) intensity_word = ((intensity_word | 0x80000000u) & 0xFFFFFF00u) | 0x80u; // f32 tie
        if (i % 7 == 0) intensity_word = 0xFFFFFFFFu >> (random() % 32);
        d.push_back(drop ? record_d(0, 0x12345)
                         : record_d(intensity_word, (exponent_d << 27) | (1u << 26) | fraction_d));
        auto position = static_cast<std::uint16_t>(random());
        auto word = static_cast<std::uint16_t>(random());
        if (extreme < 4) position = word = high ? 0xFFFF : 0;
        if (i == 0) position = 1000;
        if (i == count - 1) position = 60000;
        bc.push_back(record_bc(intensity, word, position, static_cast<std::uint16_t>(random())));
    }
    return {join(a), join(d), join(bc)};
}

// Scans whose blocks are all kept, all dropped, or dropped at the edges of blocks
// of 64, 128 and 256 records, and mixed at random.
std::vector<std::pair<std::string, Scans>> scan_cases() {
    const auto edge = [](std::size_t i) {
        for (const std::size_t block : {std::size_t{64}, std::size_t{128}, std::size_t{256}}) {
            if (i % block == 0 || i % block == block - 1) return true;
        }
        return false;
    };
    return {
        {"random", random_scans(777, 20240611, [](std::size_t, std::mt19937_64& r) { return r() % 8 == 0; })},
        {"all kept", random_scans(1037, 7, [](std::size_t, std::mt19937_64&) { return false; })},
        {"block edges dropped",
         random_scans(1037, 8, [&](std::size_t i, std::mt19937_64&) { return edge(i); })},
        {"last dropped", random_scans(513, 9, [](std::size_t i, std::mt19937_64&) { return i == 512; })},
        {"all dropped", random_scans(300, 10, [](std::size_t, std::mt19937_64&) { return true; })},
        {"two records", random_scans(2, 11, [](std::size_t, std::mt19937_64&) { return false; })},
        // Blocks with gaps before, between and after blocks without (the decoders
        // change strategy from block to block).
        {"gaps in the first block only",
         random_scans(1100, 12, [](std::size_t i, std::mt19937_64&) { return i == 5; })},
        {"gaps in every other block of 256",
         random_scans(1300, 13,
                      [](std::size_t i, std::mt19937_64& r) { return (i / 256) % 2 == 0 && r() % 3 == 0; })},
        {"gaps in every third block of 256",
         random_scans(1300, 14,
                      [](std::size_t i, std::mt19937_64&) { return (i / 256) % 3 == 1 && i % 256 == 255; })},
        // Odd record counts, and counts just past and short of a block: encoding A's
        // records at the end of a scan are read one at a time.
        {"three records", random_scans(3, 15, [](std::size_t, std::mt19937_64&) { return false; })},
        {"255 records", random_scans(255, 16, [](std::size_t, std::mt19937_64&) { return false; })},
        {"257 records, last block dropped",
         random_scans(257, 17, [](std::size_t i, std::mt19937_64&) { return i == 256; })},
        {"511 records", random_scans(511, 18, [](std::size_t i, std::mt19937_64&) { return i == 509; })},
        // A dropped record at every place of a small scan, in turn.
        {"one in eleven dropped",
         random_scans(400, 19, [](std::size_t i, std::mt19937_64&) { return i % 11 == 3; })},
    };
}

struct ContextCase {
    const char* name;
    DecodeContext context;
};

void PrintTo(const ContextCase& c, std::ostream* os) { *os << c.name; }
} // namespace
void PrintTo(DecoderPath path, std::ostream* os) { *os << to_string(path); }
namespace {

DecodeContext tof_context(CalType type, std::vector<double> coefficients) {
    DecodeContext c = context(type, std::move(coefficients));
    c.tof_k_us = 0.7224847745293227;
    c.mz_low = 50.0;
    c.mz_high = static_cast<double>(1999.9f);
    c.scan_time_ms = 1000.0 * static_cast<double>(0.3f);
    return c;
}

template <class Change> ContextCase changed(const char* name, Change change) {
    DecodeContext c = tof_context(CalType::T1, {0.0131, 0.99987654321, 3.1e-7});
    change(c);
    return {name, c};
}

// Every calibration shape, with coefficients typical of a TOF calibration so that
// every rounding step matters, and odd values where each input can carry them.
std::vector<ContextCase> context_cases() {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const double denormal = std::numeric_limits<double>::denorm_min() * 12345;
    return {
        {"T0", tof_context(CalType::T0, {1.0, 2.0})},
        {"T1Empty", tof_context(CalType::T1, {})},
        {"T1One", tof_context(CalType::T1, {0.00131})},
        {"T1Two", tof_context(CalType::T1, {-0.0123456789, 1.00001234567})},
        {"T1Three", tof_context(CalType::T1, {0.0131, 0.99987654321, 3.1e-7})},
        {"T1Four", tof_context(CalType::T1, {0.0131, 0.9998, 3.1e-7, -1.7e-10})},
        {"T1Five", tof_context(CalType::T1, {0.0131, 0.9998, 3.1e-7, -1.7e-10, 2e-13})},
        {"T1Six", tof_context(CalType::T1, {0.0131, 0.9998, 3.1e-7, -1.7e-10, 2e-13, -3e-17})},
        {"T1Seven", tof_context(CalType::T1, {0.0131, 0.9998, 3.1e-7, -1.7e-10, 2e-13, -3e-17, 1e-21})},
        {"T1NegativeZeroLeading", tof_context(CalType::T1, {0.5, -0.0})},
        {"T1NegativeZeros", tof_context(CalType::T1, {-0.0, 1.0, -0.0})},
        {"T1NaN", tof_context(CalType::T1, {0.0131, nan, 3.1e-7})},
        {"T1Infinite", tof_context(CalType::T1, {-inf, 1.0})},
        {"T1Denormal", tof_context(CalType::T1, {denormal, 1.0, denormal})},
        {"T1Huge", tof_context(CalType::T1, {0.0, 1e300, 1e-300})},
        changed("NegativeMzLow", [](DecodeContext& c) { c.mz_low = -50.0; }),
        changed("NaNMzHigh", [nan](DecodeContext& c) { c.mz_high = nan; }),
        changed("ZeroTof", [](DecodeContext& c) { c.tof_k_us = 0.0; }),
        changed("NegativeZeroTof", [](DecodeContext& c) { c.tof_k_us = -0.0; }),
        changed("DenormalTof", [denormal](DecodeContext& c) { c.tof_k_us = denormal; }),
        changed("EqualMzBounds", [](DecodeContext& c) { c.mz_low = c.mz_high; }),
        // One NaN, with a payload, in both bounds. (Of two different NaNs meeting in an
        // addition, which one the sum carries is the compiler's choice of operand order,
        // which differs between builds: only a single NaN is carried the same on every path.)
        changed("NaNMzBounds",
                [nan](DecodeContext& c) {
                    c.mz_low = std::bit_cast<double>(std::bit_cast<std::uint64_t>(nan) | 0x1234);
                    c.mz_high = c.mz_low;
                }),
        changed("InfiniteScanTime", [inf](DecodeContext& c) { c.scan_time_ms = inf; }),
        changed("NaNScanTime", [nan](DecodeContext& c) { c.scan_time_ms = -nan; }),
        changed("NegativeZeroScanTime", [](DecodeContext& c) { c.scan_time_ms = -0.0; }),
        changed("DenormalScanTime", [denormal](DecodeContext& c) { c.scan_time_ms = denormal; }),
    };
}

class BitExactTest : public ::testing::TestWithParam<std::tuple<ContextCase, DecoderPath>> {};

TEST_P(BitExactTest, EveryPathMatchesThePlainFormulas) {
    const auto& [context_case, path] = GetParam();
    const DecodeContext& c = context_case.context;
    for (const auto& [name, scans] : scan_cases()) {
        SCOPED_TRACE(name);
        expect_bit_identical(decode_with_path('A', scans.a, c, path), reference_a(scans.a, c));
        expect_bit_identical(decode_with_path('D', scans.d, c, path), reference_d(scans.d, c));
        expect_bit_identical(decode_with_path('B', scans.bc, c, path), reference_bc(scans.bc, c, false));
        expect_bit_identical(decode_with_path('C', scans.bc, c, path), reference_bc(scans.bc, c, true));
    }
}

std::string path_test_name(const ::testing::TestParamInfo<std::tuple<ContextCase, DecoderPath>>& info) {
    return std::format("{}_{}", std::get<0>(info.param).name, to_string(std::get<1>(info.param)));
}

std::vector<DecoderPath> decoder_paths() {
    const auto paths = available_decoder_paths();
    return {paths.begin(), paths.end()};
}

INSTANTIATE_TEST_SUITE_P(Contexts, BitExactTest,
                         ::testing::Combine(::testing::ValuesIn(context_cases()),
                                            ::testing::ValuesIn(decoder_paths())),
                         path_test_name);

// The decoders that return vectors (on the best path) give the same as well.
class VectorDecoderTest : public ::testing::TestWithParam<ContextCase> {};

template <class Spectrum> Reference reference_of(const Result<Spectrum>& spectrum) {
    if (!spectrum) return failure(spectrum.error().to_string());
    Reference out;
    out.mz = spectrum->mz;
    out.intensity = spectrum->intensity;
    if constexpr (requires { spectrum->drift_time_ms; }) out.drift = spectrum->drift_time_ms;
    return out;
}

TEST_P(VectorDecoderTest, MatchThePlainFormulas) {
    const DecodeContext& c = GetParam().context;
    for (const auto& [name, scans] : scan_cases()) {
        SCOPED_TRACE(name);
        expect_bit_identical(reference_of(decode_encoding_a(scans.a, c)), reference_a(scans.a, c));
        expect_bit_identical(reference_of(decode_encoding_d(scans.d, c)), reference_d(scans.d, c));
        expect_bit_identical(reference_of(decode_encoding_b(scans.bc, c)), reference_bc(scans.bc, c, false));
        Reference c_only = reference_bc(scans.bc, c, true);
        expect_bit_identical(reference_of(decode_encoding_c(scans.bc, c)), c_only);
    }
}

INSTANTIATE_TEST_SUITE_P(Contexts, VectorDecoderTest, ::testing::ValuesIn(context_cases()),
                         [](const auto& test) { return std::string(test.param.name); });

// A function's decoder, which looks up its record loops and flight-time bounds once,
// gives what the per-scan decoders give, values and errors.
class FunctionDecoderTest : public ::testing::TestWithParam<ContextCase> {};

TEST_P(FunctionDecoderTest, MatchesThePerScanDecoders) {
    const DecodeContext& c = GetParam().context;
    const DecoderPath best = best_decoder_path();
    for (const auto& [name, scans] : scan_cases()) {
        SCOPED_TRACE(name);
        expect_bit_identical(decode_with_function_decoder('A', scans.a, c),
                             decode_with_path('A', scans.a, c, best));
        expect_bit_identical(decode_with_function_decoder('D', scans.d, c),
                             decode_with_path('D', scans.d, c, best));
        for (char encoding : {'B', 'C'}) {
            expect_bit_identical(decode_with_function_decoder(encoding, scans.bc, c),
                                 decode_with_path(encoding, scans.bc, c, best));
        }
    }
    // Sizes that are no whole number of records, and scans too short to frame.
    const std::vector<std::uint8_t> bytes(17, 0x81);
    for (std::size_t size : {0u, 1u, 6u, 7u, 8u, 16u, 17u}) {
        const Bytes scan(bytes.data(), size);
        for (char encoding : {'A', 'B', 'C', 'D'}) {
            SCOPED_TRACE(std::format("{} bytes of encoding {}", size, encoding));
            expect_bit_identical(decode_with_function_decoder(encoding, scan, c),
                                 decode_with_path(encoding, scan, c, best));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Contexts, FunctionDecoderTest, ::testing::ValuesIn(context_cases()),
                         [](const auto& test) { return std::string(test.param.name); });

// Several scans in one call give what one call per scan gives, one scan's points
// after the other's. The records of each case are cut into scans of the record counts
// of a pattern taken in turn, so that runs hold empty and one-record scans (no points),
// scans whose ends are no axis (no points), dropped records inside short scans, and
// scans longer than a block.
struct RunPattern {
    const char* name;
    std::vector<std::size_t> records; // per scan, in turn
};

const RunPattern kRunPatterns[] = {
    {"short scans", {4}},
    {"empty and one-record scans between", {0, 3, 1, 2, 0, 5}},
    {"a block and more between short ones", {2, 300, 7, 256, 1}},
    {"scans of a whole block", {256}},
    {"scans just past a few records", {16, 17, 40}},
    // Scans of four to eight records, one after the other and between scans of
    // other lengths, and every length up to just past a few records.
    {"scans of four to eight records", {4, 5, 6, 7, 8}},
    {"small scans between others", {4, 4, 3, 8, 9, 5, 0, 4, 1, 6, 16, 7, 2}},
    {"every length to 17", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17}},
};

std::vector<Bytes> cut_into_scans(Bytes records, std::span<const std::size_t> pattern, std::size_t width) {
    std::vector<Bytes> scans;
    for (std::size_t at = 0, k = 0; at < records.size(); ++k) {
        const std::size_t bytes = std::min(pattern[k % pattern.size()] * width, records.size() - at);
        scans.push_back(records.subspan(at, bytes));
        at += bytes;
    }
    return scans;
}

Reference decode_scans_with_function_decoder(char encoding, std::span<const Bytes> scans,
                                             const DecodeContext& c, DecoderPath path) {
    const FunctionDecoder decoder(encoding, c, path);
    std::size_t bytes = 0;
    for (const Bytes scan : scans) bytes += scan.size();
    std::vector<std::size_t> points(scans.size());
    const std::vector<std::uint8_t> as_long_as_the_run(bytes); // sizes the room
    return decode_to_reference(encoding, as_long_as_the_run, [&](PointOutput into) -> Result<std::size_t> {
        TV_RETURN_IF_ERROR(decoder.decode_scans(scans, into, points));
        std::size_t total = 0;
        for (std::size_t count : points) total += count;
        return total;
    });
}

Reference decode_one_by_one(char encoding, std::span<const Bytes> scans, const DecodeContext& c) {
    Reference all;
    for (const Bytes scan : scans) {
        Reference one = decode_with_function_decoder(encoding, scan, c);
        if (!one.error.empty()) return one;
        all.mz.append_range(one.mz);
        all.intensity.append_range(one.intensity);
        all.drift.append_range(one.drift);
    }
    return all;
}

class DecodeScansTest : public ::testing::TestWithParam<ContextCase> {};

TEST_P(DecodeScansTest, MatchesOneCallPerScan) {
    const DecodeContext& c = GetParam().context;
    for (const auto& [name, scans] : scan_cases()) {
        for (const RunPattern& pattern : kRunPatterns) {
            SCOPED_TRACE(std::format("{}, {}", name, pattern.name));
            for (char encoding : {'A', 'B', 'C', 'D'}) {
                const Bytes records = encoding == 'A'   ? Bytes(scans.a)
                                      : encoding == 'D' ? Bytes(scans.d)
                                                        : Bytes(scans.bc);
                const std::vector<Bytes> run =
                    cut_into_scans(records, pattern.records, encoding == 'A' ? 6 : 8);
                const Reference one_by_one = decode_one_by_one(encoding, run, c);
                // Every path's run loops, against one call per scan on the best path.
                for (const DecoderPath path : available_decoder_paths()) {
                    SCOPED_TRACE(to_string(path));
                    expect_bit_identical(decode_scans_with_function_decoder(encoding, run, c, path),
                                         one_by_one);
                }
            }
        }
    }
}

TEST_P(DecodeScansTest, FailsWithTheErrorOfTheFirstScanThatFails) {
    const DecodeContext& c = GetParam().context;
    const Scans scans = random_scans(40, 21, [](std::size_t, std::mt19937_64&) { return false; });
    for (char encoding : {'B', 'C'}) {
        SCOPED_TRACE(encoding);
        const Bytes records(scans.bc);
        // The third scan is no whole number of records, the fifth neither.
        const std::vector<Bytes> run = {records.subspan(0, 32), records.subspan(32, 8),
                                        records.subspan(40, 13), records.subspan(56, 16),
                                        records.subspan(72, 9)};
        for (const DecoderPath path : available_decoder_paths()) {
            SCOPED_TRACE(to_string(path));
            const Reference got = decode_scans_with_function_decoder(encoding, run, c, path);
            EXPECT_EQ(got.error, decode_with_function_decoder(encoding, run[2], c).error);
            EXPECT_FALSE(got.error.empty());
        }
    }
}

// A scan of each length to 17, with a record without a point at each of its places
// (or none), first, between scans of four records and last in a run: the loops over
// small scans must hand such a scan on and take up the scans after it again.
TEST_P(DecodeScansTest, ScansOfEveryLengthWithADroppedRecordAnywhere) {
    const DecodeContext& c = GetParam().context;
    for (std::size_t length = 0; length <= 17; ++length) {
        for (std::size_t dropped = 0; dropped <= length; ++dropped) { // `length`: none dropped
            // Each scan's first and last records span an axis.
            const Scans small = random_scans(length, 31 + length,
                                             [&](std::size_t i, std::mt19937_64&) { return i == dropped; });
            const Scans fours = random_scans(4, 30, [](std::size_t, std::mt19937_64&) { return false; });
            const Bytes scan(small.bc);
            const Bytes four(fours.bc);
            const std::vector<std::vector<Bytes>> runs = {
                {scan, four, four}, {four, scan, four}, {four, four, scan}, {scan}};
            for (char encoding : {'B', 'C'}) {
                for (const std::vector<Bytes>& run : runs) {
                    const Reference one_by_one = decode_one_by_one(encoding, run, c);
                    for (const DecoderPath path : available_decoder_paths()) {
                        SCOPED_TRACE(std::format("{} records, record {} dropped, {}, {}", length, dropped,
                                                 encoding, to_string(path)));
                        expect_bit_identical(decode_scans_with_function_decoder(encoding, run, c, path),
                                             one_by_one);
                    }
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Contexts, DecodeScansTest, ::testing::ValuesIn(context_cases()),
                         [](const auto& test) { return std::string(test.param.name); });

class DecoderPathTest : public ::testing::TestWithParam<DecoderPath> {};

// The first kept record that cannot be decoded ends the scan, wherever it lies
// in a block, on every path; one without a point before it is ignored.
TEST_P(DecoderPathTest, FirstInvalidKeptRecordFailsTheScan) {
    const DecodeContext c = context(CalType::T0);
    for (const std::size_t bad : std::to_array<std::size_t>({0, 1, 63, 64, 255, 256, 257, 598, 599})) {
        Scans scans = random_scans(600, bad, [](std::size_t, std::mt19937_64&) { return false; });
        auto put = [](std::vector<std::uint8_t>& scan, std::size_t at, auto record) {
            std::copy(record.begin(), record.end(),
                      scan.begin() + static_cast<std::ptrdiff_t>(at * record.size()));
        };
        put(scans.a, bad, record_a(9, 0x91, 0xABCDEF));
        put(scans.d, bad, record_d(9, 0x0BADBEEF));
        if (bad + 1 < 600) {
            put(scans.a, bad + 1, record_a(9, 0x90, 0x123456));
            put(scans.d, bad + 1, record_d(9, 0x1));
        }
        if (bad > 0) {
            put(scans.a, bad - 1, record_a(0, 0x01, 0x000000));
            put(scans.d, bad - 1, record_d(0, 0x0));
        }
        SCOPED_TRACE(bad);
        const Reference a = decode_with_path('A', scans.a, c, GetParam());
        EXPECT_EQ(a.error, "parse error: Encoding A: unsupported m/z word 91 ef cd ab");
        EXPECT_EQ(a.error, reference_a(scans.a, c).error);
        const Reference d = decode_with_path('D', scans.d, c, GetParam());
        EXPECT_EQ(d.error,
                  "parse error: Encoding D: position word 0x0badbeef lacks the leading mantissa bit");
        EXPECT_EQ(d.error, reference_d(scans.d, c).error);
    }
}

// Encoding B writes drift times only when asked for them.
TEST_P(DecoderPathTest, EncodingBWithoutDriftTimes) {
    const DecodeContext c = tof_context(CalType::T0, {});
    const Scans scans = scan_cases().front().second;
    std::vector<double> mz(max_points(scans.bc, kRecordWidthB));
    std::vector<float> intensity(mz.size());
    auto written = decode_encoding_b_into(scans.bc, c, {mz.data(), intensity.data(), nullptr}, GetParam());
    ASSERT_TRUE(written.has_value());
    mz.resize(*written);
    intensity.resize(*written);
    const Reference expected = reference_bc(scans.bc, c, false);
    expect_bit_identical({mz, intensity, {}, ""}, {expected.mz, expected.intensity, {}, ""});
}

INSTANTIATE_TEST_SUITE_P(Paths, DecoderPathTest, ::testing::ValuesIn(decoder_paths()),
                         [](const auto& test) { return std::string(to_string(test.param)); });

TEST(DecoderPathTest, BaselineIsAlwaysAvailableAndTheBestIsTheWidest) {
    const auto paths = available_decoder_paths();
    ASSERT_FALSE(paths.empty());
    EXPECT_EQ(paths.front(), DecoderPath::Baseline);
    EXPECT_EQ(best_decoder_path(), paths.back());
    EXPECT_TRUE(std::ranges::is_sorted(paths));
}

} // namespace
} // namespace tarnvale::raw
