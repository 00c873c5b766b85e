#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "support/support.hpp"
#include "text.hpp"

namespace tarnvale {
namespace {

const std::string R = "\xEF\xBF\xBD"; // U+FFFD
constexpr double inf = std::numeric_limits<double>::infinity();

std::string repeat(char c, std::size_t n) { return std::string(n, c); }

// ---- lines ---------------------------------------------------------------------------------

struct LinesCase {
    std::string text;
    std::vector<std::string> lines;
};

void PrintTo(const LinesCase& c, std::ostream* os) { *os << debug_quote(c.text); }

class SplitLines : public ::testing::TestWithParam<LinesCase> {};

TEST_P(SplitLines, SplitsAtLineFeedsDroppingOneCarriageReturn) {
    const auto& param = GetParam();
    std::vector<std::string> got;
    for (auto line : split_lines(param.text)) got.emplace_back(line);
    EXPECT_EQ(got, param.lines);
}

INSTANTIATE_TEST_SUITE_P(Text, SplitLines,
                         ::testing::Values(LinesCase{"", {}}, LinesCase{"a", {"a"}}, LinesCase{"a\n", {"a"}},
                                           LinesCase{"a\nb", {"a", "b"}}, LinesCase{"a\r\nb\r\n", {"a", "b"}},
                                           LinesCase{"a\rb", {"a\rb"}}, LinesCase{"a\r", {"a\r"}},
                                           LinesCase{"a\r\r\n", {"a\r"}}, LinesCase{"\n\n", {"", ""}},
                                           LinesCase{"\r\n", {""}}, LinesCase{"\na\n\n", {"", "a", ""}}));

// ---- white space ---------------------------------------------------------------------------

struct TrimCase {
    std::string text;
    std::string both;
    std::string start;
    std::string end;
};

void PrintTo(const TrimCase& c, std::ostream* os) { *os << debug_quote(c.text); }

class Trim : public ::testing::TestWithParam<TrimCase> {};

TEST_P(Trim, RemovesUnicodeWhiteSpaceOnly) {
    const auto& param = GetParam();
    EXPECT_EQ(trim(param.text), param.both);
    EXPECT_EQ(trim_start(param.text), param.start);
    EXPECT_EQ(trim_end(param.text), param.end);
}

INSTANTIATE_TEST_SUITE_P(
    Text, Trim,
    ::testing::Values(TrimCase{"", "", "", ""}, TrimCase{"   ", "", "", ""},
                      TrimCase{"  a b  ", "a b", "a b  ", "  a b"},
                      TrimCase{"\t\n\v\f\r a\r", "a", "a\r", "\t\n\v\f\r a"},
                      TrimCase{"\u3000a\u3000", "a", "a\u3000", "\u3000a"},
                      TrimCase{"\u0085a\u0085", "a", "a\u0085", "\u0085a"},
                      TrimCase{"\u00A0\u1680\u2000\u200A\u2028a\u2029\u202F\u205F", "a",
                               "a\u2029\u202F\u205F", "\u00A0\u1680\u2000\u200A\u2028a"},
                      // Not white space: byte-order mark, zero-width space, Mongolian vowel separator.
                      TrimCase{"\uFEFFa\uFEFF", "\uFEFFa\uFEFF", "\uFEFFa\uFEFF", "\uFEFFa\uFEFF"},
                      TrimCase{"\u200Ba\u180E", "\u200Ba\u180E", "\u200Ba\u180E", "\u200Ba\u180E"},
                      // Broken sequences are not white space, even when they resemble its tail.
                      TrimCase{"\xff \x80\x80", "\xff \x80\x80", "\xff \x80\x80", "\xff \x80\x80"},
                      TrimCase{" a\xe3\x80", "a\xe3\x80", "a\xe3\x80", " a\xe3\x80"},
                      TrimCase{" \x80\x80\x80 ", "\x80\x80\x80", "\x80\x80\x80 ", " \x80\x80\x80"}));

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
    const auto pieces = [](std::string_view text) {
        std::vector<std::string> out;
        for (auto piece : split_whitespace(text)) out.emplace_back(piece);
        return out;
    };
    EXPECT_EQ(pieces("  a\u3000b\t\tc  "), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(pieces("abc"), (std::vector<std::string>{"abc"}));
    EXPECT_EQ(pieces("x\uFEFFy z"), (std::vector<std::string>{"x\uFEFFy", "z"}));
    EXPECT_TRUE(pieces("").empty());
    EXPECT_TRUE(pieces(" \u0085 ").empty());
}

// ---- lossy UTF-8 ---------------------------------------------------------------------------

struct LossyCase {
    std::string bytes;
    std::string decoded; // as CPython's bytes.decode("utf-8", "replace") gives it
    bool valid;
};

void PrintTo(const LossyCase& c, std::ostream* os) { *os << debug_quote(c.bytes); }

class LossyUtf8 : public ::testing::TestWithParam<LossyCase> {};

TEST_P(LossyUtf8, ReplacesEachMaximalInvalidSubsequence) {
    const auto& param = GetParam();
    EXPECT_EQ(lossy_utf8(param.bytes), param.decoded);
    const auto bytes = testing::bytes_of(param.bytes);
    EXPECT_EQ(lossy_utf8(std::span<const std::uint8_t>(bytes)), param.decoded);
    EXPECT_EQ(is_valid_utf8(bytes), param.valid);
}

INSTANTIATE_TEST_SUITE_P(
    Text, LossyUtf8,
    ::testing::Values(
        LossyCase{"", "", true}, LossyCase{"abc", "abc", true}, LossyCase{"\xe2\x82\xac", "\u20ac", true},
        LossyCase{"\xef\xbf\xbd", R, true}, LossyCase{"\xf4\x8f\xbf\xbf", "\U0010FFFF", true},
        LossyCase{"\xed\x9f\xbf", "\uD7FF", true}, LossyCase{"\xf0\x9f\x98\x80", "\U0001F600", true},
        LossyCase{"\xe2\x82", R, false}, // truncated at the end
        LossyCase{"\xe2\x82"
                  "a",
                  R + "a", false},                           // truncated before ASCII
        LossyCase{"\xf0\x80\x80\x80", R + R + R + R, false}, // overlong
        LossyCase{"\xe0\x80\x80", R + R + R, false},         // overlong
        LossyCase{"\xc0\xaf", R + R, false},                 // overlong
        LossyCase{"\xed\xa0\x80", R + R + R, false},         // surrogate
        LossyCase{"\xf4\x90\x80\x80", R + R + R + R, false}, // above U+10FFFF
        LossyCase{"\xf8\x88\x80\x80\x80", R + R + R + R + R, false}, LossyCase{"\xff\xfe", R + R, false},
        LossyCase{"\x80", R, false}, LossyCase{"\xc2", R, false},
        LossyCase{"\xc2"
                  "A",
                  R + "A", false},
        LossyCase{"\xe0\xa0", R, false}, LossyCase{"a\xf0\x9f\x98", "a" + R, false},
        LossyCase{"\xf0\x9f\x98\xf0\x9f\x98\x80", R + "\U0001F600", false},
        LossyCase{"\xe1\x80\xe2\xf0\x91\x92\xf1\xbf"
                  "A",
                  R + R + R + R + "A", false},
        LossyCase{"abcdefghijklmnop\xffq", "abcdefghijklmnop" + R + "q", false}));

TEST(Text, LossyOutputIsAlwaysValidAndKeepsValidInput) {
    std::mt19937 random(12345);
    for (int round = 0; round < 20000; ++round) {
        std::string bytes(random() % 12, '\0');
        // Mostly non-ASCII bytes, so that sequences of every shape and length occur.
        for (char& b : bytes) b = static_cast<char>(random() % 4 == 0 ? random() % 0x80 : 0x80 | random());
        const std::string decoded = lossy_utf8(bytes);
        ASSERT_TRUE(is_valid_utf8(testing::bytes_of(decoded))) << testing::bytes_of(bytes).size();
        if (is_valid_utf8(testing::bytes_of(bytes))) {
            ASSERT_EQ(decoded, bytes);
        }
    }
}

TEST(Text, AppendUtf8EncodesScalarValues) {
    const auto encode = [](char32_t c) {
        std::string out;
        append_utf8(out, c);
        return out;
    };
    EXPECT_EQ(encode(U'A'), "A");
    EXPECT_EQ(encode(0x7FF), "\xdf\xbf");
    EXPECT_EQ(encode(0x800), "\xe0\xa0\x80");
    EXPECT_EQ(encode(0xFFFF), "\xef\xbf\xbf");
    EXPECT_EQ(encode(0x10000), "\xf0\x90\x80\x80");
    EXPECT_EQ(encode(0x10FFFF), "\xf4\x8f\xbf\xbf");
    EXPECT_EQ(encode(0xD800), R);   // surrogates are not scalar values
    EXPECT_EQ(encode(0x110000), R); // out of range
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

struct U32Case {
    std::string text;
    std::optional<std::uint32_t> value;
};

void PrintTo(const U32Case& c, std::ostream* os) { *os << debug_quote(c.text); }

class ParseU32 : public ::testing::TestWithParam<U32Case> {};

TEST_P(ParseU32, AcceptsOnlyPlainDecimal) { EXPECT_EQ(parse_u32(GetParam().text), GetParam().value); }

INSTANTIATE_TEST_SUITE_P(
    Text, ParseU32,
    ::testing::Values(U32Case{"0", 0}, U32Case{"+0", 0}, U32Case{"007", 7}, U32Case{"+02", 2},
                      U32Case{"4294967295", 4294967295u}, U32Case{"+4294967295", 4294967295u},
                      U32Case{"0000000000004294967295", 4294967295u}, U32Case{"4294967296", std::nullopt},
                      U32Case{"99999999999999999999999", std::nullopt}, U32Case{"-1", std::nullopt},
                      U32Case{"-0", std::nullopt}, U32Case{"", std::nullopt}, U32Case{"+", std::nullopt},
                      U32Case{"++1", std::nullopt}, U32Case{" 1", std::nullopt}, U32Case{"1 ", std::nullopt},
                      U32Case{"1a", std::nullopt}, U32Case{"0x10", std::nullopt},
                      U32Case{"1_000", std::nullopt}, U32Case{"1.0", std::nullopt},
                      U32Case{"\u0661", std::nullopt}));

struct F64Case {
    std::string text;
    std::optional<double> value; // compared bit for bit (NaN: any NaN of the same sign)
};

void PrintTo(const F64Case& c, std::ostream* os) { *os << debug_quote(c.text.substr(0, 40)); }

class ParseF64 : public ::testing::TestWithParam<F64Case> {};

TEST_P(ParseF64, AcceptsTheDocumentedSyntaxAndRoundsCorrectly) {
    const auto& param = GetParam();
    const auto got = parse_f64(param.text);
    ASSERT_EQ(got.has_value(), param.value.has_value()) << param.text;
    if (!got) return;
    if (std::isnan(*param.value)) {
        EXPECT_TRUE(std::isnan(*got));
        EXPECT_EQ(std::signbit(*got), std::signbit(*param.value));
    } else {
        EXPECT_EQ(std::bit_cast<std::uint64_t>(*got), std::bit_cast<std::uint64_t>(*param.value))
            << param.text << " gave " << format_f64(*got);
    }
}

const double nan = std::numeric_limits<double>::quiet_NaN();
const double min_subnormal = std::numeric_limits<double>::denorm_min();
const double max_finite = std::numeric_limits<double>::max();

INSTANTIATE_TEST_SUITE_P(
    Accepted, ParseF64,
    ::testing::Values(F64Case{"1", 1.0}, F64Case{"+1", 1.0}, F64Case{"-0", -0.0}, F64Case{"0", 0.0},
                      F64Case{"1.", 1.0}, F64Case{".5", 0.5}, F64Case{"-.5e-3", -0.0005}, F64Case{"1.5", 1.5},
                      F64Case{"007.250", 7.25}, F64Case{"1e5", 1e5}, F64Case{"1E5", 1e5},
                      F64Case{"1e+5", 1e5}, F64Case{"1e-5", 1e-5}, F64Case{"1.2e-3", 0.0012},
                      F64Case{"0.99986", 0.99986}, F64Case{"0.1", 0.1}, F64Case{"infinity", inf},
                      F64Case{"inF", inf}, F64Case{"-Infinity", -inf}, F64Case{"+INF", inf},
                      F64Case{"nan", nan}, F64Case{"+NaN", nan}, F64Case{"-nan", -nan},
                      // Overflow and underflow, including exponents far beyond any type.
                      F64Case{"1e99999999999", inf}, F64Case{"-1e99999999999", -inf}, F64Case{"1e400", inf},
                      F64Case{"1e-99999999999", 0.0}, F64Case{"-1e-400", -0.0}, F64Case{"0e99999", 0.0},
                      F64Case{"0e99999999999999999999", 0.0}, F64Case{"1.7976931348623157e308", max_finite},
                      F64Case{"1.7976931348623158e308", max_finite}, // below the halfway point
                      F64Case{"1.7976931348623159e308", inf},        // above it
                      F64Case{"4.9e-324", min_subnormal}, F64Case{"5e-324", min_subnormal},
                      F64Case{"2.4703282292062328e-324", min_subnormal}, // just above half of it
                      F64Case{"2.47032822920623272e-324", 0.0},          // just below half of it
                      F64Case{"2.2250738585072011e-308", 2.2250738585072011e-308},
                      // Long digit strings still round correctly.
                      F64Case{"0." + repeat('0', 400) + "1e401", 1.0},
                      F64Case{"1" + repeat('0', 400) + "e-400", 1.0},
                      F64Case{"9007199254740993", 9007199254740992.0}, // tie, to even
                      F64Case{"9007199254740993.0000000000000000000000001", 9007199254740994.0}));

INSTANTIATE_TEST_SUITE_P(Rejected, ParseF64,
                         ::testing::Values(F64Case{"", std::nullopt}, F64Case{"+", std::nullopt},
                                           F64Case{"-", std::nullopt}, F64Case{".", std::nullopt},
                                           F64Case{"-.", std::nullopt}, F64Case{"1e", std::nullopt},
                                           F64Case{"1e+", std::nullopt}, F64Case{"e5", std::nullopt},
                                           F64Case{".e5", std::nullopt}, F64Case{" 1", std::nullopt},
                                           F64Case{"1 ", std::nullopt}, F64Case{"0x10", std::nullopt},
                                           F64Case{"1_000", std::nullopt}, F64Case{"1,5", std::nullopt},
                                           F64Case{"1.2.3", std::nullopt}, F64Case{"1e5.0", std::nullopt},
                                           F64Case{"--1", std::nullopt}, F64Case{"+-1", std::nullopt},
                                           F64Case{"nan(1)", std::nullopt}, F64Case{"infinit", std::nullopt},
                                           F64Case{"infinityy", std::nullopt}, F64Case{"in f", std::nullopt},
                                           F64Case{"\u0661", std::nullopt}, F64Case{"1d5", std::nullopt},
                                           F64Case{"1f", std::nullopt}));

TEST(Text, ParseF64AgreesWithStrtodOnRandomDecimals) {
    std::mt19937_64 random(2024);
    const auto digits = [&](std::size_t count) {
        std::string out;
        for (std::size_t i = 0; i < count; ++i) out += static_cast<char>('0' + random() % 10);
        return out;
    };
    for (int round = 0; round < 20000; ++round) {
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

struct FormatCase {
    double value;
    std::string text;
};

void PrintTo(const FormatCase& c, std::ostream* os) { *os << debug_quote(c.text.substr(0, 40)); }

class FormatF64 : public ::testing::TestWithParam<FormatCase> {};

TEST_P(FormatF64, ShortestRoundTripInFixedNotation) {
    EXPECT_EQ(format_f64(GetParam().value), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Text, FormatF64,
    ::testing::Values(FormatCase{0.1 + 0.2, "0.30000000000000004"}, FormatCase{1000.0, "1000"},
                      FormatCase{0.5, "0.5"}, FormatCase{-1.5, "-1.5"}, FormatCase{0.0, "0"},
                      FormatCase{-0.0, "-0"}, FormatCase{nan, "NaN"}, FormatCase{-nan, "NaN"},
                      FormatCase{inf, "inf"}, FormatCase{-inf, "-inf"}, FormatCase{1e-7, "0.0000001"},
                      FormatCase{0.001, "0.001"}, FormatCase{1.0 / 3.0, "0.3333333333333333"},
                      FormatCase{9007199254740992.0, "9007199254740992"},
                      FormatCase{1e21, "1000000000000000000000"},
                      FormatCase{123456789012345680000.0, "123456789012345680000"},
                      FormatCase{1e300, "1" + repeat('0', 300)},
                      FormatCase{max_finite, "17976931348623157" + repeat('0', 292)},
                      FormatCase{min_subnormal, "0." + repeat('0', 323) + "5"}));

TEST(Text, FormatF32UsesTheShortestSinglePrecisionDigits) {
    EXPECT_EQ(format_f32(50.1f), "50.1");
    EXPECT_EQ(format_f64(static_cast<double>(50.1f)), "50.099998474121094");
    EXPECT_EQ(format_f32(0.1f), "0.1");
    EXPECT_EQ(format_f32(16777216.0f), "16777216");
    EXPECT_EQ(format_f32(std::numeric_limits<float>::max()), "340282350000000000000000000000000000000");
    EXPECT_EQ(format_f32(std::numeric_limits<float>::denorm_min()), "0." + repeat('0', 44) + "1");
    EXPECT_EQ(format_f32(-0.0f), "-0");
    EXPECT_EQ(format_f32(std::numeric_limits<float>::quiet_NaN()), "NaN");
    EXPECT_EQ(format_f32(-std::numeric_limits<float>::infinity()), "-inf");
}

TEST(Text, FormattedValuesReadBackExactly) {
    std::mt19937_64 random(99);
    for (int round = 0; round < 50000; ++round) {
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

struct FixedCase {
    double value;
    int decimals;
    std::string text;
};

void PrintTo(const FixedCase& c, std::ostream* os) { *os << debug_quote(c.text); }

class FormatFixed : public ::testing::TestWithParam<FixedCase> {};

TEST_P(FormatFixed, RoundsTheExactValueHalfToEven) {
    EXPECT_EQ(format_fixed(GetParam().value, GetParam().decimals), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Text, FormatFixed,
    ::testing::Values(FixedCase{1.5, 4, "1.5000"}, FixedCase{2.25, 4, "2.2500"}, FixedCase{50.5, 0, "50"},
                      FixedCase{0.5, 0, "0"}, FixedCase{2.5, 0, "2"}, FixedCase{1.5, 0, "2"},
                      FixedCase{-1.25, 1, "-1.2"}, FixedCase{0.125, 2, "0.12"}, FixedCase{0.375, 2, "0.38"},
                      FixedCase{2.675, 2, "2.67"}, // the binary value lies below the tie
                      FixedCase{0.1, 20, "0.10000000000000000555"}, FixedCase{-0.0, 1, "-0.0"},
                      FixedCase{1180591620717411303424.0, 0, "1180591620717411303424"},
                      FixedCase{nan, 4, "NaN"}, FixedCase{inf, 2, "inf"}, FixedCase{-inf, 2, "-inf"}));

// ---- debug quoting -------------------------------------------------------------------------

struct QuoteCase {
    std::string text;
    std::string quoted;
};

void PrintTo(const QuoteCase& c, std::ostream* os) { *os << c.quoted; }

class DebugQuote : public ::testing::TestWithParam<QuoteCase> {};

TEST_P(DebugQuote, EscapesControlAndNonPrintableCharacters) {
    EXPECT_EQ(debug_quote(GetParam().text), GetParam().quoted);
}

INSTANTIATE_TEST_SUITE_P(
    Text, DebugQuote,
    ::testing::Values(
        QuoteCase{"", "\"\""}, QuoteCase{"Cal Function x", "\"Cal Function x\""},
        QuoteCase{"a\"b\\c", "\"a\\\"b\\\\c\""}, QuoteCase{"\t\r\n", "\"\\t\\r\\n\""},
        QuoteCase{std::string("a\0b", 3), "\"a\\0b\""}, QuoteCase{"it's", "\"it's\""},
        QuoteCase{"\x01\x1b\x7f", "\"\\u{1}\\u{1b}\\u{7f}\""},
        QuoteCase{"\u0085\u00a0\u00ad", "\"\\u{85}\\u{a0}\\u{ad}\""},
        QuoteCase{"\u200b\u2028\u202e\u3000\ufeff", "\"\\u{200b}\\u{2028}\\u{202e}\\u{3000}\\u{feff}\""},
        QuoteCase{"\ue000\U000E0001\U0010FFFF\uFFFF", "\"\\u{e000}\\u{e0001}\\u{10ffff}\\u{ffff}\""},
        QuoteCase{"\u0600\u180e\U000110BD\U0001D173\U0010FFFE\uFDD0",
                  "\"\\u{600}\\u{180e}\\u{110bd}\\u{1d173}\\u{10fffe}\\u{fdd0}\""},
        QuoteCase{"\u0301\u00ff\uFDCF\uFDF0\uFFFD\U000F0000x",
                  "\"\u0301\u00ff\uFDCF\uFDF0\uFFFD\\u{f0000}x\""},
        QuoteCase{" \u00e9\u65e5\U0001F600" + R, "\" \u00e9\u65e5\U0001F600" + R + "\""},
        QuoteCase{"a\xff"
                  "b",
                  "\"a" + R + "b\""}));

} // namespace
} // namespace tarnvale
