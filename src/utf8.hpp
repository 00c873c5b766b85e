// UTF-8: decoding one character, lossy decoding of byte strings, encoding code
// points, and Windows-1252 text converted to UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tarnvale {

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

struct Utf8Char {
    char32_t code_point; // U+FFFD for an invalid subsequence
    std::size_t length;  // bytes consumed, at least one
    bool valid;
};

// decode_utf8_at for a lead byte of 0x80 or more.
Utf8Char decode_utf8_multibyte_at(std::string_view text, std::size_t at);

// Decodes the character at `at` (< text.size()). An invalid sequence consumes its
// maximal prefix that could still begin a well-formed sequence, at least one byte.
// ASCII, nearly all of the metadata files' text, is decided here without a call.
inline Utf8Char decode_utf8_at(std::string_view text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80) return {lead, 1, true};
    return decode_utf8_multibyte_at(text, at);
}

// Decodes UTF-8, replacing each maximal invalid subsequence with U+FFFD.
std::string lossy_utf8(std::span<const std::uint8_t> bytes);
std::string lossy_utf8(std::string_view bytes);
bool is_valid_utf8(std::span<const std::uint8_t> bytes);

// Appends the UTF-8 encoding of a code point; surrogates and values past U+10FFFF
// become U+FFFD.
void append_utf8(std::string& out, char32_t c);

// Windows-1252 to UTF-8; the five undefined bytes map to the C1 code points.
std::string decode_cp1252(std::span<const std::uint8_t> bytes);

} // namespace tarnvale
