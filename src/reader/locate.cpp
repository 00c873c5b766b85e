#include "reader/locate.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <expected>
#include <format>
#include <string>
#include <utility>

#include "display.hpp"
#include "log.hpp"
#include "text.hpp"
#include "utf8.hpp"

namespace tarnvale {
namespace {

constexpr std::string_view kTarget = "tarnvale::reader";

// Keys shorter than this are searched entry by entry; every name the reader looks up
// ("_HEADER.TXT", "_FUNC001.IDX", …) is longer.
constexpr std::size_t kTailBytes = 8;

std::atomic<std::uint64_t> listings_started{0};

// Owns an open directory stream so that every return path closes it.
class DirStream {
  public:
    explicit DirStream(DIR* dir) : dir_(dir) {}
    DirStream(DirStream&& other) noexcept : dir_(std::exchange(other.dir_, nullptr)) {}
    ~DirStream() {
        if (dir_ != nullptr) ::closedir(dir_);
    }
    DirStream(const DirStream&) = delete;
    DirStream& operator=(const DirStream&) = delete;
    DirStream& operator=(DirStream&&) = delete;

    DIR* get() const { return dir_; }

  private:
    DIR* dir_;
};

// Opens the listing; a failure is the Io error, with "listing …" context in the logged style.
Result<DirStream> open_listing(const std::filesystem::path& dir, LocateStyle style) {
    listings_started.fetch_add(1, std::memory_order_relaxed);
    // A path with an embedded NUL would name a different directory to the OS.
    const bool nul_in_path = dir.native().find('\0') != std::string::npos;
    DirStream listing(nul_in_path ? nullptr : ::opendir(dir.c_str()));
    if (listing.get() != nullptr) return listing;
    Error error = Error::io(nul_in_path ? EINVAL : errno);
    if (style == LocateStyle::Quiet) return fail(std::move(error));
    return fail(Error::context(std::format("listing {}", display_path(dir)), std::move(error)));
}

// Whether the entry itself (a symbolic link is not followed) is a regular file, or the
// OS error of asking. File systems that leave d_type unknown are asked through lstat.
std::expected<bool, int> is_regular_entry(DIR* dir, const dirent& entry) {
    if (entry.d_type != DT_UNKNOWN) return entry.d_type == DT_REG;
    struct stat status{};
    if (::fstatat(::dirfd(dir), entry.d_name, &status, AT_SYMLINK_NOFOLLOW) != 0)
        return std::unexpected(errno);
    return S_ISREG(status.st_mode);
}

// The next entry in listing order, null at the end, or the OS error of a failing read.
std::expected<const dirent*, int> next_entry(DIR* dir) {
    errno = 0;
    const dirent* entry = ::readdir(dir);
    if (entry == nullptr && errno != 0) return std::unexpected(errno);
    return entry;
}

// The form names are compared in: lossy UTF-8, ASCII letters in upper case.
std::string name_key(std::string_view name) { return ascii_upper(lossy_utf8(name)); }

bool ends_with(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

std::uint64_t tail_of(std::string_view key) {
    std::uint64_t tail = 0;
    std::memcpy(&tail, key.data() + key.size() - kTailBytes, kTailBytes);
    return tail;
}

// The search for one name over regular files offered in listing order: the rules of
// find_file, shared by the streaming lookup and the listing snapshot.
class NameSearch {
  public:
    NameSearch(const std::filesystem::path& dir, std::string_view name, LocateStyle style)
        : dir_(dir), name_(name), key_(ascii_upper(name)), logged_(style == LocateStyle::Logged) {}

    const std::string& key() const { return key_; }

    // Looks at the next regular file; true once the search is decided (an exact match,
    // or a second prefixed one).
    bool offer(std::string_view entry_name, std::string_view entry_key) {
        if (entry_key == key_) {
            exact_ = dir_ / entry_name;
            if (logged_ && entry_name != name_ && lossy_utf8(entry_name) != name_) {
                TV_LOG(log::Level::Trace, kTarget,
                       std::format("{}: using differently cased {}", name_, display_path(*exact_)));
            }
            return true;
        }
        if (!ends_with(entry_key, key_)) return false;
        if (prefixed_) {
            ambiguous_ = true;
            return true;
        }
        prefixed_ = dir_ / entry_name;
        return false;
    }

    // What the search came to once decided or once every file was offered.
    Result<std::optional<std::filesystem::path>> outcome() {
        if (exact_) return std::move(exact_);
        if (ambiguous_)
            return parse_error(std::format("multiple files match {} in {}", name_, display_path(dir_)));
        if (prefixed_ && logged_) {
            TV_LOG(log::Level::Debug, kTarget,
                   std::format("{}: using prefixed {}", name_, display_path(*prefixed_)));
        }
        return std::move(prefixed_);
    }

  private:
    const std::filesystem::path& dir_;
    std::string_view name_;
    std::string key_;
    bool logged_;
    std::optional<std::filesystem::path> exact_;
    std::optional<std::filesystem::path> prefixed_;
    bool ambiguous_ = false;
};

Result<std::filesystem::path> found_or_missing(Result<std::optional<std::filesystem::path>> found,
                                               std::string_view name, const std::filesystem::path& dir) {
    if (!found) return fail(std::move(found).error());
    if (!*found) return parse_error(std::format("required file {} missing in {}", name, display_path(dir)));
    return std::move(**found);
}

} // namespace

Result<std::optional<std::filesystem::path>> find_file(const std::filesystem::path& dir,
                                                       std::string_view name, LocateStyle style) {
    TV_ASSIGN_OR_RETURN(const DirStream listing, open_listing(dir, style));
    NameSearch search(dir, name, style);
    for (;;) {
        const auto entry = next_entry(listing.get());
        if (!entry) return fail(Error::io(entry.error()));
        if (*entry == nullptr) break;
        const auto regular = is_regular_entry(listing.get(), **entry);
        if (!regular) return fail(Error::io(regular.error()));
        if (!*regular) continue;
        const std::string_view entry_name((*entry)->d_name);
        if (search.offer(entry_name, name_key(entry_name))) break;
    }
    return search.outcome();
}

Result<std::filesystem::path> required_file(const std::filesystem::path& dir, std::string_view name) {
    return found_or_missing(find_file(dir, name), name, dir);
}

Result<DirectoryListing> DirectoryListing::read(const std::filesystem::path& dir, LocateStyle style) {
    TV_ASSIGN_OR_RETURN(const DirStream stream, open_listing(dir, style));
    DirectoryListing listing(dir);
    for (;;) {
        const auto entry = next_entry(stream.get());
        if (!entry) {
            listing.failure_ = entry.error();
            break;
        }
        if (*entry == nullptr) break;
        const auto regular = is_regular_entry(stream.get(), **entry);
        if (!regular) {
            listing.failure_ = regular.error();
            break;
        }
        if (!*regular) continue;
        const std::string_view name((*entry)->d_name);
        listing.entries_.push_back({std::string(name), name_key(name)});
    }
    listing.index_tails();
    return listing;
}

void DirectoryListing::index_tails() {
    by_tail_.reserve(entries_.size());
    for (std::size_t position = 0; position < entries_.size(); ++position) {
        const std::string& key = entries_[position].key;
        if (key.size() >= kTailBytes) by_tail_.push_back({tail_of(key), position});
    }
    std::ranges::sort(by_tail_, {}, [](const TailPosition& p) { return std::pair(p.tail, p.position); });
}

Result<std::optional<std::filesystem::path>> DirectoryListing::find(std::string_view name,
                                                                    LocateStyle style) const {
    NameSearch search(dir_, name, style);
    const std::string& key = search.key();
    bool decided = false;
    auto offer = [&](std::size_t position) {
        decided = search.offer(entries_[position].name, entries_[position].key);
    };
    if (key.size() >= kTailBytes) {
        // Only names ending in the key's last bytes can match; in listing order.
        const auto same_tail = std::ranges::equal_range(by_tail_, tail_of(key), {}, &TailPosition::tail);
        for (auto it = same_tail.begin(); it != same_tail.end() && !decided; ++it) offer(it->position);
    } else {
        for (std::size_t position = 0; position < entries_.size() && !decided; ++position) offer(position);
    }
    // A listing that failed part way fails every search that was not decided before.
    if (!decided && failure_ != 0) return fail(Error::io(failure_));
    return search.outcome();
}

Result<std::filesystem::path> DirectoryListing::require(std::string_view name) const {
    return found_or_missing(find(name), name, dir_);
}

std::uint64_t directory_listings_started() { return listings_started.load(std::memory_order_relaxed); }

std::string numbered_name(std::string_view prefix, std::uint64_t n, std::string_view suffix) {
    // Formed by hand: an open forms three names per function, and std::format costs
    // more than the rest of finding them.
    std::array<char, 20> digits{};
    const auto written = std::to_chars(digits.data(), digits.data() + digits.size(), n).ptr - digits.data();
    const auto width = static_cast<std::size_t>(written);
    std::string name;
    name.reserve(prefix.size() + std::max<std::size_t>(width, 3) + suffix.size());
    name.append(prefix);
    if (width < 3) name.append(3 - width, '0');
    name.append(digits.data(), width);
    name.append(suffix);
    return name;
}

} // namespace tarnvale
