// UTF-8 decoding with replacement, encoding of code points, and Windows-1252 text.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <span>
#include <string>
#include <utility>

#include "display.hpp"
#include "support/support.hpp"
#include "utf8.hpp"

namespace tarnvale {
namespace {

const std::string R = "\xEF\xBF\xBD"; // U+FFFD

TEST(Utf8, LossyUtf8ReplacesEachMaximalInvalidSubsequence) {
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

TEST(Utf8, LossyOutputIsAlwaysValidAndKeepsValidInput) {
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

TEST(Utf8, AppendUtf8EncodesScalarValues) {
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

std::string utf8_of(char32_t c) {
    std::string out;
    append_utf8(out, c);
    return out;
}

std::string decode(std::string_view bytes) {
    return decode_cp1252({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
}

TEST(Cp1252, DecodesEveryByteToOneCharacter) {
    // 0x80..0x9F by the code page; 0x81, 0x8D, 0x8F, 0x90, 0x9D keep their C1 code points.
    constexpr std::array<char32_t, 32> kHigh{0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                             0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                             0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                             0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    for (unsigned byte = 0; byte < 256; ++byte) {
        const char32_t expected = byte >= 0x80 && byte <= 0x9F ? kHigh[byte - 0x80] : byte;
        const std::uint8_t input = static_cast<std::uint8_t>(byte);
        EXPECT_EQ(decode_cp1252(std::span(&input, 1)), utf8_of(expected)) << "byte " << byte;
    }
}

TEST(Cp1252, DecodesSequences) {
    EXPECT_EQ(decode("\x80 5\xB0"
                     "C \x81"),
              "\u20AC 5\u00B0C \u0081");
    EXPECT_EQ(decode(std::string_view("a\0b", 3)), std::string("a\0b", 3));
    EXPECT_EQ(decode(""), "");
}

} // namespace
} // namespace tarnvale
