// Finding a raw directory's files by exact, differently cased or prefixed name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

// The regular files of a directory as one listing saw them, for looking up many names
// at the cost of one listing: an open of a run with a thousand functions in a
// directory of a hundred thousand files would otherwise list it three thousand times.
// Every search gives exactly what find_file would have given for the directory as
// listed, log lines and errors included.
class DirectoryListing {
  public:
    // Lists `dir`. A directory that cannot be opened fails as find_file fails in
    // `style`; a failure later in the listing is kept for the searches that reach it.
    static Result<DirectoryListing> read(const std::filesystem::path& dir,
                                         LocateStyle style = LocateStyle::Logged);

    const std::filesystem::path& dir() const { return dir_; }

    // As find_file(dir(), name, style), without listing again.
    Result<std::optional<std::filesystem::path>> find(std::string_view name,
                                                      LocateStyle style = LocateStyle::Logged) const;
    // As required_file(dir(), name), without listing again.
    Result<std::filesystem::path> require(std::string_view name) const;

  private:
    struct Entry {
        std::string name; // as on disk
        std::string key;  // lossy UTF-8, ASCII upper case
    };
    // An entry's position by the last bytes of its key: every name that can match a
    // wanted key ends with the same bytes as that key.
    struct TailPosition {
        std::uint64_t tail;
        std::size_t position;
    };

    explicit DirectoryListing(std::filesystem::path dir) : dir_(std::move(dir)) {}
    void index_tails();

    std::filesystem::path dir_;
    std::vector<Entry> entries_;        // regular files in listing order, up to a failure
    std::vector<TailPosition> by_tail_; // entries with keys of at least 8 bytes, by (tail, position)
    int failure_ = 0;                   // the OS error that ended the listing early, or 0
};

// How many directory listings this process has started; tests count them.
std::uint64_t directory_listings_started();

// "_FUNC007.IDX", "_FUNC1000.DAT": the prefix, n zero-padded to three digits, the suffix.
std::string numbered_name(std::string_view prefix, std::uint64_t n, std::string_view suffix);

} // namespace tarnvale
