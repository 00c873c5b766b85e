// How input text and paths appear inside messages and reprs.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace tarnvale {

// The text in double quotes with \\ \" \t \r \n \0 escapes and \u{hex} for other
// non-printable characters. Input is UTF-8; invalid bytes show as U+FFFD.
std::string debug_quote(std::string_view text);

// Display form of a path: its bytes as lossy UTF-8.
std::string display_path(const std::filesystem::path& path);

} // namespace tarnvale
