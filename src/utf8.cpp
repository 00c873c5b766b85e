#include "utf8.hpp"

#include <array>
#include <cstring>

namespace tarnvale {

namespace {

Utf8Char invalid(std::size_t length) { return {kReplacementCharacter, length, false}; }

bool in_range(std::uint8_t byte, std::uint8_t low, std::uint8_t high) { return byte >= low && byte <= high; }

// Length of the valid UTF-8 prefix; ASCII runs are checked eight bytes at a time.
std::size_t valid_utf8_prefix(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size()) {
        if (at + 8 <= text.size()) {
            std::uint64_t chunk;
            std::memcpy(&chunk, text.data() + at, 8);
            if ((chunk & 0x8080808080808080ULL) == 0) {
                at += 8;
                continue;
            }
        }
        const Utf8Char decoded = decode_utf8_at(text, at);
        if (!decoded.valid) return at;
        at += decoded.length;
    }
    return at;
}

std::string_view as_chars(std::span<const std::uint8_t> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// Windows-1252 for 0x80..0x9F; the five bytes the code page leaves undefined
// keep their C1 control code points so that no byte is lost.
constexpr std::array<char16_t, 32> kCp1252High{
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

} // namespace

// The substitution practice recommended by Unicode, which CPython's "replace" error handler follows too.
Utf8Char decode_utf8_multibyte_at(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    const std::uint8_t lead = byte(at);

    std::size_t needed;                   // continuation bytes after the lead byte
    std::uint8_t low = 0x80, high = 0xBF; // allowed range of the first continuation byte
    char32_t value;
    if (in_range(lead, 0xC2, 0xDF)) {
        needed = 1;
        value = lead & 0x1Fu;
    } else if (in_range(lead, 0xE0, 0xEF)) {
        needed = 2;
        value = lead & 0x0Fu;
        if (lead == 0xE0) low = 0xA0;  // no overlong forms
        if (lead == 0xED) high = 0x9F; // no surrogates
    } else if (in_range(lead, 0xF0, 0xF4)) {
        needed = 3;
        value = lead & 0x07u;
        if (lead == 0xF0) low = 0x90;  // no overlong forms
        if (lead == 0xF4) high = 0x8F; // nothing above U+10FFFF
    } else {
        return invalid(1);
    }

    std::size_t length = 1;
    for (std::size_t i = 0; i < needed; ++i, ++length) {
        if (at + length >= text.size()) return invalid(length);
        const std::uint8_t next = byte(at + length);
        if (!(i == 0 ? in_range(next, low, high) : in_range(next, 0x80, 0xBF))) return invalid(length);
        value = (value << 6) | (next & 0x3Fu);
    }
    return {value, length, true};
}

bool is_valid_utf8(std::span<const std::uint8_t> bytes) {
    const auto text = as_chars(bytes);
    return valid_utf8_prefix(text) == text.size();
}

std::string lossy_utf8(std::string_view bytes) {
    std::size_t valid = valid_utf8_prefix(bytes);
    if (valid == bytes.size()) return std::string(bytes);
    std::string out;
    out.reserve(bytes.size() + 16);
    out.append(bytes.substr(0, valid));
    for (std::size_t at = valid; at < bytes.size();) {
        const Utf8Char decoded = decode_utf8_at(bytes, at);
        if (decoded.valid)
            out.append(bytes.substr(at, decoded.length));
        else
            append_utf8(out, kReplacementCharacter);
        at += decoded.length;
    }
    return out;
}

std::string lossy_utf8(std::span<const std::uint8_t> bytes) { return lossy_utf8(as_chars(bytes)); }

void append_utf8(std::string& out, char32_t c) {
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = kReplacementCharacter;
    const auto unit = [](char32_t bits) { return static_cast<char>(bits); };
    if (c < 0x80) {
        out += unit(c);
    } else if (c < 0x800) {
        out += unit(0xC0 | (c >> 6));
        out += unit(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += unit(0xE0 | (c >> 12));
        out += unit(0x80 | ((c >> 6) & 0x3F));
        out += unit(0x80 | (c & 0x3F));
    } else {
        out += unit(0xF0 | (c >> 18));
        out += unit(0x80 | ((c >> 12) & 0x3F));
        out += unit(0x80 | ((c >> 6) & 0x3F));
        out += unit(0x80 | (c & 0x3F));
    }
}

std::string decode_cp1252(std::span<const std::uint8_t> bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (const std::uint8_t byte : bytes) {
        if (byte >= 0x80 && byte <= 0x9F)
            append_utf8(text, kCp1252High[byte - 0x80u]);
        else
            append_utf8(text, byte);
    }
    return text;
}

} // namespace tarnvale
