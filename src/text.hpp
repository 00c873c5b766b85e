// Lines and white space of UTF-8 text: splitting at line feeds, trimming and
// splitting at Unicode white space, ASCII upper case.
#pragma once

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
bool is_non_ascii_whitespace(char32_t c);
inline bool is_unicode_whitespace(char32_t c) {
    if (c < 0x80) return c == 0x20 || (c >= 0x09 && c <= 0x0D);
    return is_non_ascii_whitespace(c);
}

// Splits at runs of Unicode white space, dropping empty pieces.
std::vector<std::string_view> split_whitespace(std::string_view text);

std::string ascii_upper(std::string_view text);

} // namespace tarnvale
