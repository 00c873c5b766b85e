// Text helpers: line splitting, White_Space trimming, lossy UTF-8, number
// syntax and rounding, shortest and fixed formatting, debug quoting. Each
// table row names its input; a failing row prints it.
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

#include "support/support.hpp"
#include "text.hpp"

namespace tarnvale {
namespace {

const std::string R = "\xEF\xBF\xBD"; // U+FFFD
constexpr double inf = std::numeric_limits<double>::infinity();
const double nan = std::numeric_limits<double>::quiet_NaN();
const double min_subnormal = std::numeric_limits<double>::denorm_min();
const double max_finite = std::numeric_limits<double>::max();

std::string repeat(char c, std::size_t n) { return std::string(n, c); }

template <class Range> std::vector<std::string> strings(Range pieces) {
    std::vector<std::string> out;
    for (auto piece : pieces) out.emplace_back(piece);
    return out;
}

// ---- lines and white space -----------------------------------------------------------------

TEST(Text, SplitLinesSplitsAtLineFeedsDroppingOneCarriageReturn) {
    // clang-format off
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {"", {}}, {"a", {"a"}}, {"a\n", {"a"}}, {"a\nb", {"a", "b"}}, {"a\r\nb\r\n", {"a", "b"}},
        {"a\rb", {"a\rb"}}, {"a\r", {"a\r"}}, {"a\r\r\n", {"a\r"}}, {"\n\n", {"", ""}}, {"\r\n", {""}},
        {"\na\n\n", {"", "a", ""}}};
    // clang-format on
    for (const auto& [text, lines] : cases) EXPECT_EQ(strings(split_lines(text)), lines) << debug_quote(text);
}

TEST(Text, TrimRemovesUnicodeWhiteSpaceOnly) {
    struct Case {
        std::string text, both, start, end;
    };
    const Case cases[] = {{"", "", "", ""},
                          {"   ", "", "", ""},
                          {"  a b  ", "a b", "a b  ", "  a b"},
                          {"\t\n\v\f\r a\r", "a", "a\r", "\t\n\v\f\r a"},
                          {"\u3000a\u3000", "a", "a\u3000", "\u3000a"},
                          // Not white space: byte-order mark, zero-width space, Mongolian vowel separator.
                          {"\uFEFFa\uFEFF", "\uFEFFa\uFEFF", "\uFEFFa\uFEFF", "\uFEFFa\uFEFF"},
                          {"\u200Ba\u180E", "\u200Ba\u180E", "\u200Ba\u180E", "\u200Ba\u180E"},
                          // Broken sequences are not white space, even when they resemble its tail.
                          {"\xff \x80\x80", "\xff \x80\x80", "\xff \x80\x80", "\xff \x80\x80"},
                          {" a\xe3\x80", "a\xe3\x80", "a\xe3\x80", " a\xe3\x80"},
                          {" \x80\x80\x80 ", "\x80\x80\x80", "\x80\x80\x80 ", " \x80\x80\x80"}};
    for (const Case& c : cases) {
        EXPECT_EQ(trim(c.text), c.both) << debug_quote(c.text);
        EXPECT_EQ(trim_start(c.text), c.start) << debug_quote(c.text);
        EXPECT_EQ(trim_end(c.text), c.end) << debug_quote(c.text);
    }
}

TEST(Text, WhiteSpaceSetIsExactlyTheUnicodeProperty) {
    const std::vector<char32_t> expected = {0x09,   0x0A,   0x0B,   0x0C,   0x0D,   0x20,   0x85,
                                            0xA0,   0x1680, 0x2000, 0x2001, 0x2002, 0x2003, 0x2004,
                                            0x2005, 0x2006, 0x2007, 0x2008, 0x2009, 0x200A, 0x2028,
                                            0x2029, 0x202F, 0x205F, 0x3000};
    std::vector<char32_t> found;
    for (char32_t c = 0; c <= 0x10FFFF; ++c)
        if (is_unicode_whitespace(c)) found.push_back(c);
    EXPECT_EQ(found, expected);
    // Every one of them is trimmed from both ends when encoded.
    for (char32_t c : expected) {
        std::string text;
        append_utf8(text, c);
        text += "x";
        append_utf8(text, c);
        EXPECT_EQ(trim(text), "x") << std::hex << static_cast<std::uint32_t>(c);
    }
}

TEST(Text, SplitWhitespaceDropsEmptyPieces) {
    using Pieces = std::vector<std::string>;
    EXPECT_EQ(strings(split_whitespace("  a\u3000b\t\tc  ")), (Pieces{"a", "b", "c"}));
    EXPECT_EQ(strings(split_whitespace("abc")), (Pieces{"abc"}));
    EXPECT_EQ(strings(split_whitespace("x\uFEFFy z")), (Pieces{"x\uFEFFy", "z"}));
    EXPECT_TRUE(strings(split_whitespace("")).empty());
    EXPECT_TRUE(strings(split_whitespace(" \u0085 ")).empty());
}

// ---- lossy UTF-8 ---------------------------------------------------------------------------

TEST(Text, LossyUtf8ReplacesEachMaximalInvalidSubsequence) {
    struct Case {
        std::string bytes;
        std::string decoded; // as CPython's bytes.decode("utf-8", "replace") gives it
        bool valid;
    };
    // clang-format off
    const Case cases[] = {
        {"", "", true}, {"\xe2\x82\xac", "\u20ac", true}, {"\xef\xbf\xbd", R, true},
        {"\xf4\x8f\xbf\xbf", "\U0010FFFF", true}, {"\xed\x9f\xbf", "\uD7FF", true},
        {"\xf0\x9f\x98\x80", "\U0001F600", true},
        {"\xe2\x82", R, false},                     // truncated at the end
        {"\xe2\x82" "a", R + "a", false},            // truncated before ASCII
        {"\xf0\x80\x80\x80", R + R + R + R, false}, // overlong
        {"\xe0\x80\x80", R + R + R, false},         // overlong
        {"\xc0\xaf", R + R, false},                 // overlong
        {"\xed\xa0\x80", R + R + R, false},         // surrogate
        {"\xf4\x90\x80\x80", R + R + R + R, false}, // above U+10FFFF
        {"\xf8\x88\x80\x80\x80", R + R + R + R + R, false}, {"\xff\xfe", R + R, false}, {"\x80", R, false},
        {"\xc2", R, false}, {"\xe0\xa0", R, false}, {"a\xf0\x9f\x98", "a" + R, false},
        {"\xf0\x9f\x98\xf0\x9f\x98\x80", R + "\U0001F600", false},
        {"\xe1\x80\xe2\xf0\x91\x92\xf1\xbf" "A", R + R + R + R + "A", false},
        {"abcdefghijklmnop\xffq", "abcdefghijklmnop" + R + "q", false}};
    // clang-format on
    for (const Case& c : cases) {
        const auto bytes = testing::bytes_of(c.bytes);
        EXPECT_EQ(lossy_utf8(c.bytes), c.decoded) << debug_quote(c.bytes);
        EXPECT_EQ(lossy_utf8(std::span<const std::uint8_t>(bytes)), c.decoded) << debug_quote(c.bytes);
        EXPECT_EQ(is_valid_utf8(bytes), c.valid) << debug_quote(c.bytes);
    }
}

TEST(Text, LossyOutputIsAlwaysValidAndKeepsValidInput) {
    std::mt19937 random(12345);
    for (int round = 0; round < 5000; ++round) {
        std::string bytes(random() % 12, '\0');
        // Mostly non-ASCII bytes, so that sequences of every shape and length occur.
        for (char& b : bytes) b = static_cast<char>(random() % 4 == 0 ? random() % 0x80 : 0x80 | random());
        const std::string decoded = lossy_utf8(bytes);
        ASSERT_TRUE(is_valid_utf8(testing::bytes_of(decoded))) << debug_quote(bytes);
        if (is_valid_utf8(testing::bytes_of(bytes))) {
            ASSERT_EQ(decoded, bytes);
        }
    }
}

TEST(Text, AppendUtf8EncodesScalarValues) {
    // clang-format off
    const std::pair<char32_t, std::string> cases[] = {
        {U'A', "A"}, {0x7FF, "\xdf\xbf"}, {0x800, "\xe0\xa0\x80"}, {0xFFFF, "\xef\xbf\xbf"},
        {0x10000, "\xf0\x90\x80\x80"}, {0x10FFFF, "\xf4\x8f\xbf\xbf"},
        {0xD800, R},   // surrogates are not scalar values
        {0x110000, R}, // out of range
    };
    // clang-format on
    for (const auto& [c, encoded] : cases) {
        std::string out;
        append_utf8(out, c);
        EXPECT_EQ(out, encoded) << std::hex << static_cast<std::uint32_t>(c);
    }
}

TEST(Text, SmallHelpers) {
    EXPECT_EQ(ascii_upper("abcXYZ \u00e9 1_"), "ABCXYZ \u00e9 1_");
    EXPECT_EQ(format_list(std::vector<std::uint32_t>{}), "[]");
    EXPECT_EQ(format_list(std::vector<std::uint32_t>{7}), "[7]");
    EXPECT_EQ(format_list(std::vector<std::uint32_t>{1, 2, 4294967295u}), "[1, 2, 4294967295]");
    EXPECT_EQ(display_path(std::filesystem::path("dir/a\xff"
                                                 "b.raw")),
              "dir/a" + R + "b.raw");
    EXPECT_EQ(display_path(std::filesystem::path("/x/\u00e9.raw/")), "/x/\u00e9.raw/");
}

// ---- number syntax -------------------------------------------------------------------------

TEST(Text, ParseU32AcceptsOnlyPlainDecimal) {
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
TEST(Text, ParseF64AcceptsTheDocumentedSyntaxAndRoundsCorrectly) {
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

TEST(Text, ParseF64AgreesWithStrtodOnRandomDecimals) {
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

// ---- number formatting ---------------------------------------------------------------------

TEST(Text, FormatF64IsTheShortestRoundTripInFixedNotation) {
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

TEST(Text, FormatF32UsesTheShortestSinglePrecisionDigits) {
    EXPECT_EQ(format_f32(50.1f), "50.1");
    EXPECT_EQ(format_f64(static_cast<double>(50.1f)), "50.099998474121094");
    EXPECT_EQ(format_f32(16777216.0f), "16777216");
    EXPECT_EQ(format_f32(std::numeric_limits<float>::max()), "340282350000000000000000000000000000000");
    EXPECT_EQ(format_f32(std::numeric_limits<float>::denorm_min()), "0." + repeat('0', 44) + "1");
    EXPECT_EQ(format_f32(-0.0f), "-0");
    EXPECT_EQ(format_f32(std::numeric_limits<float>::quiet_NaN()), "NaN");
    EXPECT_EQ(format_f32(-std::numeric_limits<float>::infinity()), "-inf");
}

TEST(Text, FormattedValuesReadBackExactly) {
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

TEST(Text, FormatFixedRoundsTheExactValueHalfToEven) {
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

// ---- debug quoting -------------------------------------------------------------------------

TEST(Text, DebugQuoteEscapesControlAndNonPrintableCharacters) {
    const std::pair<std::string, std::string> cases[] = {
        {"", "\"\""},
        {"Cal Function x", "\"Cal Function x\""},
        {"a\"b\\c", "\"a\\\"b\\\\c\""},
        {"\t\r\n", "\"\\t\\r\\n\""},
        {std::string("a\0b", 3), "\"a\\0b\""},
        {"it's", "\"it's\""},
        {"\x01\x1b\x7f", "\"\\u{1}\\u{1b}\\u{7f}\""},
        {"\u0085\u00a0\u00ad", "\"\\u{85}\\u{a0}\\u{ad}\""},
        {"\u200b\u2028\u202e\u3000\ufeff", "\"\\u{200b}\\u{2028}\\u{202e}\\u{3000}\\u{feff}\""},
        {"\ue000\U000E0001\U0010FFFF\uFFFF", "\"\\u{e000}\\u{e0001}\\u{10ffff}\\u{ffff}\""},
        {"\u0600\u180e\U000110BD\U0001D173\U0010FFFE\uFDD0",
         "\"\\u{600}\\u{180e}\\u{110bd}\\u{1d173}\\u{10fffe}\\u{fdd0}\""},
        {"\u0301\u00ff\uFDCF\uFDF0\uFFFD\U000F0000x", "\"\u0301\u00ff\uFDCF\uFDF0\uFFFD\\u{f0000}x\""},
        {" \u00e9\u65e5\U0001F600" + R, "\" \u00e9\u65e5\U0001F600" + R + "\""},
        {"a\xff"
         "b",
         "\"a" + R + "b\""}};
    for (const auto& [text, quoted] : cases) EXPECT_EQ(debug_quote(text), quoted) << quoted;
}

} // namespace
} // namespace tarnvale
