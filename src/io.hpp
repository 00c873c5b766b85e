// File access used by the parsers and the reader. No handle outlives a call.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "error.hpp"

namespace tarnvale {

// Reads a whole file; an unreadable file is an Io error carrying the OS error.
Result<std::vector<std::uint8_t>> read_whole_file(const std::filesystem::path& path);

// Opens, reads exactly `length` bytes at `offset`, closes. A file shorter than
// offset + length gives the short-read Io error.
Result<std::vector<std::uint8_t>> read_exact_at(const std::filesystem::path& path, std::uint64_t offset,
                                                std::uint64_t length);

// Size of a file, following symbolic links.
Result<std::uint64_t> file_size(const std::filesystem::path& path);

// Whether the path names a directory, following symbolic links; a failing query, or a
// path that the OS would see cut at an embedded NUL, is a no.
bool names_directory(const std::filesystem::path& path);

} // namespace tarnvale
