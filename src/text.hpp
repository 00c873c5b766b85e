// Text helpers shared by the parsers: lines, trimming, number syntax and
// formatting, debug quoting, lossy UTF-8.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarnvale {

// Splits at each LF, dropping one CR directly before it; a last line without LF counts.
// A CR not followed by LF stays in the line. A trailing LF does not start an empty line.
std::vector<std::string_view> split_lines(std::string_view text);

// Trims characters with the Unicode White_Space property from both ends (UTF-8 input).
std::string_view trim(std::string_view text);
std::string_view trim_start(std::string_view text);
std::string_view trim_end(std::string_view text);
bool is_unicode_whitespace(char32_t c);

// Splits at runs of Unicode white space, dropping empty pieces.
std::vector<std::string_view> split_whitespace(std::string_view text);

// Decodes UTF-8, replacing each maximal invalid subsequence with U+FFFD.
std::string lossy_utf8(std::span<const std::uint8_t> bytes);
std::string lossy_utf8(std::string_view bytes);
bool is_valid_utf8(std::span<const std::uint8_t> bytes);

// Appends the UTF-8 encoding of a code point.
void append_utf8(std::string& out, char32_t c);

std::string ascii_upper(std::string_view text);

// Optional "+", one or more ASCII digits, value at most 4294967295. Nothing else.
std::optional<std::uint32_t> parse_u32(std::string_view text);
// Optional sign, digits with optional fraction (at least one digit), optional exponent;
// or inf / infinity / nan in any case with optional sign. Correctly rounded.
std::optional<double> parse_f64(std::string_view text);

// Shortest round-trip decimal, never an exponent, no decimal point when integral;
// NaN as "NaN", infinities as "inf" / "-inf", negative zero as "-0".
std::string format_f64(double value);
std::string format_f32(float value); // shortest form that reads back to the same f32

// Fixed notation with `decimals` digits after the point (none and no point for 0),
// rounded from the exact binary value, ties to even; NaN / inf / -inf as words.
std::string format_fixed(double value, int decimals);

// The text in double quotes with \\ \" \t \r \n \0 escapes and \u{hex} for other
// non-printable characters. Input is UTF-8.
std::string debug_quote(std::string_view text);

// Display form of a path: its bytes as lossy UTF-8.
std::string display_path(const std::filesystem::path& path);

// Items joined as "[a, b, c]".
std::string format_list(std::span<const std::uint32_t> items);

} // namespace tarnvale
