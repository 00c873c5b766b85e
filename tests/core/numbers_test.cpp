// Number syntax and rounding, shortest and fixed formatting, and lists.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "display.hpp"
#include "numbers.hpp"

namespace tarnvale {
namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
const double nan = std::numeric_limits<double>::quiet_NaN();
const double min_subnormal = std::numeric_limits<double>::denorm_min();
const double max_finite = std::numeric_limits<double>::max();

std::string repeat(char c, std::size_t n) { return std::string(n, c); }

TEST(Numbers, ParseU32AcceptsOnlyPlainDecimal) {
    // clang-format off
    const std::pair<std::string, std::optional<std::uint32_t>> cases[] = {
        {"0", 0}, {"+0", 0}, {"007", 7}, {"4294967295", 4294967295u}, {"+4294967295", 4294967295u},
        {"0000000000004294967295", 4294967295u}, {"4294967296", std::nullopt},
        {"99999999999999999999999", std::nullopt}, {"-1", std::nullopt}, {"-0", std::nullopt},
        {"", std::nullopt}, {"+", std::nullopt}, {"++1", std::nullopt}, {" 1", std::nullopt},
        {"1 ", std::nullopt}, {"1a", std::nullopt}, {"0x10", std::nullopt}, {"1.0", std::nullopt},
        {"\u0661", std::nullopt}};
    // clang-format on
    for (const auto& [text, value] : cases) EXPECT_EQ(parse_u32(text), value) << debug_quote(text);
}

// Accepted texts with their value (compared bit for bit; NaN: any NaN of the same
// sign), and rejected ones (no value).
TEST(Numbers, ParseF64AcceptsDecimalAndSpecialWordsAndRoundsCorrectly) {
    // clang-format off
    const std::pair<std::string, std::optional<double>> cases[] = {
        {"1", 1.0}, {"+1", 1.0}, {"-0", -0.0}, {"0", 0.0}, {"1.", 1.0}, {".5", 0.5}, {"-.5e-3", -0.0005},
        {"007.250", 7.25}, {"1e5", 1e5}, {"1E5", 1e5}, {"1e+5", 1e5}, {"1.2e-3", 0.0012}, {"0.1", 0.1},
        {"infinity", inf}, {"-Infinity", -inf}, {"+INF", inf}, {"nan", nan}, {"+NaN", nan}, {"-nan", -nan},
        // Overflow and underflow, including exponents far beyond any type.
        {"1e99999999999", inf}, {"1e400", inf}, {"1e-99999999999", 0.0}, {"-1e-400", -0.0},
        {"0e99999999999999999999", 0.0}, {"1.7976931348623157e308", max_finite},
        {"1.7976931348623158e308", max_finite},     // below the halfway point
        {"1.7976931348623159e308", inf},            // above it
        {"4.9e-324", min_subnormal},
        {"2.4703282292062328e-324", min_subnormal}, // just above half of it
        {"2.47032822920623272e-324", 0.0},          // just below half of it
        {"2.2250738585072011e-308", 2.2250738585072011e-308},
        // Long digit strings still round correctly.
        {"0." + repeat('0', 400) + "1e401", 1.0}, {"1" + repeat('0', 400) + "e-400", 1.0},
        {"9007199254740993", 9007199254740992.0}, // tie, to even
        {"9007199254740993.0000000000000000000000001", 9007199254740994.0},
        // Rejected.
        {"", {}}, {"+", {}}, {"-", {}}, {".", {}}, {"1e", {}}, {"1e+", {}}, {"e5", {}}, {".e5", {}},
        {" 1", {}}, {"1 ", {}}, {"0x10", {}}, {"1,5", {}}, {"1.2.3", {}}, {"1e5.0", {}}, {"--1", {}},
        {"nan(1)", {}}, {"infinit", {}}, {"infinityy", {}}, {"\u0661", {}}, {"1f", {}}};
    // clang-format on
    for (const auto& [text, value] : cases) {
        SCOPED_TRACE(debug_quote(text.substr(0, 40)));
        const auto got = parse_f64(text);
        ASSERT_EQ(got.has_value(), value.has_value());
        if (!got) continue;
        if (std::isnan(*value)) {
            EXPECT_TRUE(std::isnan(*got));
            EXPECT_EQ(std::signbit(*got), std::signbit(*value));
        } else {
            EXPECT_EQ(std::bit_cast<std::uint64_t>(*got), std::bit_cast<std::uint64_t>(*value))
                << "gave " << format_f64(*got);
        }
    }
}

TEST(Numbers, ParseF64AgreesWithStrtodOnRandomDecimals) {
    std::mt19937_64 random(2024);
    const auto digits = [&](std::size_t count) {
        std::string out;
        for (std::size_t i = 0; i < count; ++i) out += static_cast<char>('0' + random() % 10);
        return out;
    };
    for (int round = 0; round < 5000; ++round) {
        std::string text = digits(1 + random() % 25);
        if (random() % 2) text += "." + digits(random() % 25);
        text += "e" + std::to_string(static_cast<int>(random() % 700) - 350);
        const auto got = parse_f64(text);
        ASSERT_TRUE(got.has_value()) << text;
        const double expected = std::strtod(text.c_str(), nullptr);
        EXPECT_EQ(std::bit_cast<std::uint64_t>(*got), std::bit_cast<std::uint64_t>(expected)) << text;
    }
}

TEST(Numbers, FormatF64IsTheShortestRoundTripInFixedNotation) {
    // clang-format off
    const std::pair<double, std::string> cases[] = {
        {0.1 + 0.2, "0.30000000000000004"}, {1000.0, "1000"}, {-1.5, "-1.5"}, {0.0, "0"}, {-0.0, "-0"},
        {nan, "NaN"}, {-nan, "NaN"}, {inf, "inf"}, {-inf, "-inf"}, {1e-7, "0.0000001"},
        {1.0 / 3.0, "0.3333333333333333"}, {9007199254740992.0, "9007199254740992"},
        {1e21, "1000000000000000000000"}, {123456789012345680000.0, "123456789012345680000"},
        {max_finite, "17976931348623157" + repeat('0', 292)}, {min_subnormal, "0." + repeat('0', 323) + "5"}};
    // clang-format on
    for (const auto& [value, text] : cases) EXPECT_EQ(format_f64(value), text);
}

TEST(Numbers, FormatF32UsesTheShortestSinglePrecisionDigits) {
    EXPECT_EQ(format_f32(50.1f), "50.1");
    EXPECT_EQ(format_f64(static_cast<double>(50.1f)), "50.099998474121094");
    EXPECT_EQ(format_f32(16777216.0f), "16777216");
    EXPECT_EQ(format_f32(std::numeric_limits<float>::max()), "340282350000000000000000000000000000000");
    EXPECT_EQ(format_f32(std::numeric_limits<float>::denorm_min()), "0." + repeat('0', 44) + "1");
    EXPECT_EQ(format_f32(-0.0f), "-0");
    EXPECT_EQ(format_f32(std::numeric_limits<float>::quiet_NaN()), "NaN");
    EXPECT_EQ(format_f32(-std::numeric_limits<float>::infinity()), "-inf");
}

TEST(Numbers, FormattedValuesReadBackExactly) {
    std::mt19937_64 random(99);
    for (int round = 0; round < 10000; ++round) {
        const double value = std::bit_cast<double>(random());
        const float single = std::bit_cast<float>(static_cast<std::uint32_t>(random()));
        if (std::isfinite(value)) {
            const std::string text = format_f64(value);
            ASSERT_EQ(text.find_first_of("eE"), std::string::npos) << text;
            const double read_back = parse_f64(text).value_or(0.5);
            ASSERT_EQ(std::bit_cast<std::uint64_t>(read_back), std::bit_cast<std::uint64_t>(value)) << text;
        }
        if (std::isfinite(single)) {
            const std::string text = format_f32(single);
            ASSERT_EQ(std::bit_cast<std::uint32_t>(std::strtof(text.c_str(), nullptr)),
                      std::bit_cast<std::uint32_t>(single))
                << text;
        }
    }
}

TEST(Numbers, FormatFixedRoundsTheExactValueHalfToEven) {
    struct Case {
        double value;
        int decimals;
        std::string text;
    };
    // clang-format off
    const Case cases[] = {
        {1.5, 4, "1.5000"}, {0.5, 0, "0"}, {2.5, 0, "2"}, {1.5, 0, "2"}, {-1.25, 1, "-1.2"},
        {0.125, 2, "0.12"}, {0.375, 2, "0.38"},
        {2.675, 2, "2.67"}, // the binary value lies below the tie
        {0.1, 20, "0.10000000000000000555"}, {-0.0, 1, "-0.0"},
        {1180591620717411303424.0, 0, "1180591620717411303424"}, {nan, 4, "NaN"}, {inf, 2, "inf"},
        {-inf, 2, "-inf"}};
    // clang-format on
    for (const Case& c : cases) EXPECT_EQ(format_fixed(c.value, c.decimals), c.text);
}

TEST(Numbers, FormatListJoinsWithCommaAndSpace) {
    EXPECT_EQ(format_list(std::vector<std::uint32_t>{}), "[]");
    EXPECT_EQ(format_list(std::vector<std::uint32_t>{7}), "[7]");
    EXPECT_EQ(format_list(std::vector<std::uint32_t>{1, 2, 4294967295u}), "[1, 2, 4294967295]");
}
} // namespace
} // namespace tarnvale
