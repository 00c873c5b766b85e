// Debug quoting of input text and the display form of paths.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>

#include "display.hpp"

namespace tarnvale {
namespace {

const std::string R = "\xEF\xBF\xBD"; // U+FFFD

TEST(Display, DebugQuoteEscapesControlAndNonPrintableCharacters) {
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

TEST(Display, DisplayPathShowsInvalidBytesAsReplacementCharacters) {
    EXPECT_EQ(display_path(std::filesystem::path("dir/a\xff"
                                                 "b.raw")),
              "dir/a" + R + "b.raw");
    EXPECT_EQ(display_path(std::filesystem::path("/x/\u00e9.raw/")), "/x/\u00e9.raw/");
}
} // namespace
} // namespace tarnvale
