#include "text.hpp"

#include <cstdint>

#include "utf8.hpp"

namespace tarnvale {

namespace {

// Length of the white-space character that ends `text`, or 0. Every white-space
// character starts with a lead byte, so matching the last one or few bytes is exact.
std::size_t trailing_whitespace_length(std::string_view text) {
    for (std::size_t length = 1; length <= 3 && length <= text.size(); ++length) {
        const std::size_t at = text.size() - length;
        const auto lead = static_cast<std::uint8_t>(text[at]);
        if (lead >= 0x80 && lead < 0xC0) continue; // continuation byte: look further back
        const Utf8Char decoded = decode_utf8_at(text, at);
        return decoded.length == length && is_unicode_whitespace(decoded.code_point) ? length : 0;
    }
    return 0;
}

} // namespace

std::vector<std::string_view> split_lines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t line_feed = text.find('\n', start);
        if (line_feed == std::string_view::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        std::size_t end = line_feed;
        if (end > start && text[end - 1] == '\r') --end;
        lines.push_back(text.substr(start, end - start));
        start = line_feed + 1;
    }
    return lines;
}

bool is_non_ascii_whitespace(char32_t c) {
    switch (c) {
    case 0x85:
    case 0xA0:
    case 0x1680:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000:
        return true;
    default:
        return c >= 0x2000 && c <= 0x200A;
    }
}

std::string_view trim_start(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size()) {
        const Utf8Char decoded = decode_utf8_at(text, at);
        if (!is_unicode_whitespace(decoded.code_point)) break;
        at += decoded.length;
    }
    return text.substr(at);
}

std::string_view trim_end(std::string_view text) {
    while (const std::size_t length = trailing_whitespace_length(text)) text.remove_suffix(length);
    return text;
}

std::string_view trim(std::string_view text) { return trim_end(trim_start(text)); }

std::vector<std::string_view> split_whitespace(std::string_view text) {
    std::vector<std::string_view> pieces;
    std::size_t at = 0;
    std::size_t piece_start = 0;
    while (at < text.size()) {
        const Utf8Char decoded = decode_utf8_at(text, at);
        if (is_unicode_whitespace(decoded.code_point)) {
            if (at > piece_start) pieces.push_back(text.substr(piece_start, at - piece_start));
            piece_start = at + decoded.length;
        }
        at += decoded.length;
    }
    if (text.size() > piece_start) pieces.push_back(text.substr(piece_start));
    return pieces;
}

std::string ascii_upper(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

} // namespace tarnvale
