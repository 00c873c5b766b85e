// Finding a raw directory's files by exact, differently cased or prefixed name.
#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

#include "error.hpp"

namespace tarnvale {

enum class LocateStyle {
    Logged, // logs the differently-cased / prefixed choice; listing failures get "listing …" context
    Quiet,  // no log lines; a listing failure is returned as the bare Io error
};

// One listing of `dir`: an exact (any ASCII case) regular-file match wins at once,
// otherwise a single regular file whose name ends with `name`; two such prefixed
// files are the "multiple files match" error.
Result<std::optional<std::filesystem::path>>
find_file(const std::filesystem::path& dir, std::string_view name, LocateStyle style = LocateStyle::Logged);

// As find_file, but not found is "required file … missing in …".
Result<std::filesystem::path> required_file(const std::filesystem::path& dir, std::string_view name);

// "_FUNC007.IDX", "_FUNC1000.DAT": the prefix, n zero-padded to three digits, the suffix.
std::string numbered_name(std::string_view prefix, std::uint64_t n, std::string_view suffix);

} // namespace tarnvale
