// file:// URIs for the sourceFile location.
#pragma once

#include <filesystem>
#include <string>

namespace tarnvale::mzml {

// "file://" and the absolute, lexically normalised path with every byte outside
// the unreserved set and '/' percent-encoded: /data/run 1 → file:///data/run%201.
// A relative path is taken against the current directory.
std::string file_uri(const std::filesystem::path& path);

} // namespace tarnvale::mzml
