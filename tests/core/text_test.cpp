// Lines and white space: line splitting, White_Space trimming and splitting, ASCII
// upper case. Each table row names its input; a failing row prints it.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "display.hpp"
#include "text.hpp"
#include "utf8.hpp"

namespace tarnvale {
namespace {

template <class Range> std::vector<std::string> strings(const Range& pieces) {
    std::vector<std::string> out;
    out.reserve(pieces.size());
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

TEST(Text, AsciiUpperChangesOnlyAsciiLetters) {
    EXPECT_EQ(ascii_upper("abcXYZ \u00e9 1_"), "ABCXYZ \u00e9 1_");
}
} // namespace
} // namespace tarnvale
