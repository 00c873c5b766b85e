#include "display.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <iterator>

#include "utf8.hpp"

namespace tarnvale {

namespace {

struct CodePointRange {
    char32_t first;
    char32_t last;
};

// Characters that debug quoting writes as \u{…}, sorted: controls (Cc), spaces other
// than U+0020 and the line/paragraph separators (Zs, Zl, Zp), format characters (Cf),
// surrogates and private use (Cs, Co) and the noncharacters U+FDD0–U+FDEF. They are
// invisible or ambiguous in a message; every other character stands as it is.
constexpr CodePointRange non_printable_ranges[] = {
    {0x0000, 0x001F},   {0x007F, 0x00A0},    {0x00AD, 0x00AD},   {0x0600, 0x0605},   {0x061C, 0x061C},
    {0x06DD, 0x06DD},   {0x070F, 0x070F},    {0x0890, 0x0891},   {0x08E2, 0x08E2},   {0x1680, 0x1680},
    {0x180E, 0x180E},   {0x2000, 0x200F},    {0x2028, 0x202F},   {0x205F, 0x2064},   {0x2066, 0x206F},
    {0x3000, 0x3000},   {0xD800, 0xF8FF},    {0xFDD0, 0xFDEF},   {0xFEFF, 0xFEFF},   {0xFFF9, 0xFFFB},
    {0x110BD, 0x110BD}, {0x110CD, 0x110CD},  {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A},
    {0xE0000, 0xE007F}, {0xF0000, 0x10FFFF},
};

bool is_printable(char32_t c) {
    if (c >= 0x20 && c < 0x7F) return true;
    if ((c & 0xFFFE) == 0xFFFE) return false; // U+xFFFE and U+xFFFF of every plane
    const auto starts_after = [](char32_t value, const CodePointRange& range) { return value < range.first; };
    const auto* after =
        std::upper_bound(std::begin(non_printable_ranges), std::end(non_printable_ranges), c, starts_after);
    return after == std::begin(non_printable_ranges) || c > std::prev(after)->last;
}

void append_hex_escape(std::string& out, char32_t c) {
    std::array<char, 8> digits;
    const auto result =
        std::to_chars(digits.data(), digits.data() + digits.size(), static_cast<std::uint32_t>(c), 16);
    out += "\\u{";
    out.append(digits.data(), result.ptr);
    out += '}';
}

} // namespace

std::string debug_quote(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for (std::size_t at = 0; at < text.size();) {
        const Utf8Char decoded = decode_utf8_at(text, at);
        const char32_t c = decoded.code_point;
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '"':
            out += "\\\"";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\0':
            out += "\\0";
            break;
        default:
            if (!is_printable(c))
                append_hex_escape(out, c);
            else if (decoded.valid)
                out.append(text.substr(at, decoded.length));
            else
                append_utf8(out, kReplacementCharacter);
        }
        at += decoded.length;
    }
    out += '"';
    return out;
}

std::string display_path(const std::filesystem::path& path) {
    return lossy_utf8(std::string_view(path.native()));
}

} // namespace tarnvale
