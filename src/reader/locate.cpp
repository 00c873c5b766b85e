#include "reader/locate.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <format>
#include <string>

#include "display.hpp"
#include "log.hpp"
#include "text.hpp"
#include "utf8.hpp"

namespace tarnvale {
namespace {

constexpr std::string_view kTarget = "tarnvale::reader";

// Owns an open directory stream so that every return path closes it.
class DirStream {
  public:
    explicit DirStream(DIR* dir) : dir_(dir) {}
    ~DirStream() {
        if (dir_ != nullptr) ::closedir(dir_);
    }
    DirStream(const DirStream&) = delete;
    DirStream& operator=(const DirStream&) = delete;

    DIR* get() const { return dir_; }

  private:
    DIR* dir_;
};

// Whether the entry itself (a symbolic link is not followed) is a regular file.
// File systems that leave d_type unknown are asked through lstat on the entry.
Result<bool> is_regular_entry(DIR* dir, const dirent& entry) {
    if (entry.d_type != DT_UNKNOWN) return entry.d_type == DT_REG;
    struct stat status{};
    if (::fstatat(::dirfd(dir), entry.d_name, &status, AT_SYMLINK_NOFOLLOW) != 0)
        return fail(Error::io(errno));
    return S_ISREG(status.st_mode);
}

// The next entry in listing order, null at the end; a failing read is an Io error.
Result<const dirent*> next_entry(DIR* dir) {
    errno = 0;
    const dirent* entry = ::readdir(dir);
    if (entry == nullptr && errno != 0) return fail(Error::io(errno));
    return entry;
}

bool ends_with(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

} // namespace

Result<std::optional<std::filesystem::path>> find_file(const std::filesystem::path& dir,
                                                       std::string_view name, LocateStyle style) {
    const bool logged = style == LocateStyle::Logged;
    const std::string wanted_key = ascii_upper(name);

    // A path with an embedded NUL would name a different directory to the OS.
    const bool nul_in_path = dir.native().find('\0') != std::string::npos;
    DirStream listing(nul_in_path ? nullptr : ::opendir(dir.c_str()));
    if (listing.get() == nullptr) {
        Error error = Error::io(nul_in_path ? EINVAL : errno);
        if (!logged) return fail(std::move(error));
        return fail(Error::context(std::format("listing {}", display_path(dir)), std::move(error)));
    }

    std::optional<std::filesystem::path> prefixed;
    for (;;) {
        TV_ASSIGN_OR_RETURN(const dirent* entry, next_entry(listing.get()));
        if (entry == nullptr) break;
        TV_ASSIGN_OR_RETURN(bool regular, is_regular_entry(listing.get(), *entry));
        if (!regular) continue;

        const std::string entry_name = lossy_utf8(std::string_view(entry->d_name));
        const std::string entry_key = ascii_upper(entry_name);
        if (entry_key == wanted_key) {
            std::filesystem::path found = dir / entry->d_name;
            if (logged && entry_name != name) {
                TV_LOG(log::Level::Trace, kTarget,
                       std::format("{}: using differently cased {}", name, display_path(found)));
            }
            return found;
        }
        if (ends_with(entry_key, wanted_key)) {
            if (prefixed) {
                return parse_error(std::format("multiple files match {} in {}", name, display_path(dir)));
            }
            prefixed = dir / entry->d_name;
        }
    }

    if (prefixed && logged) {
        TV_LOG(log::Level::Debug, kTarget,
               std::format("{}: using prefixed {}", name, display_path(*prefixed)));
    }
    return prefixed;
}

Result<std::filesystem::path> required_file(const std::filesystem::path& dir, std::string_view name) {
    TV_ASSIGN_OR_RETURN(std::optional<std::filesystem::path> found, find_file(dir, name));
    if (!found) return parse_error(std::format("required file {} missing in {}", name, display_path(dir)));
    return std::move(*found);
}

std::string numbered_name(std::string_view prefix, std::uint64_t n, std::string_view suffix) {
    return std::format("{}{:03}{}", prefix, n, suffix);
}

} // namespace tarnvale
