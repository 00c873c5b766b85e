#include "io.hpp"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <optional>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace tarnvale {

namespace {

// Owns one open file descriptor and closes it on every way out of a call.
class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    FileDescriptor& operator=(FileDescriptor&&) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }

  private:
    int fd_;
};

constexpr std::size_t first_read_chunk = std::size_t{64} * 1024;

// A path with an embedded NUL cannot be handed to the OS; report it as an invalid argument.
bool has_embedded_nul(const std::filesystem::path& path) {
    return path.native().find('\0') != std::string::npos;
}

Result<FileDescriptor> open_for_reading(const std::filesystem::path& path) {
    if (has_embedded_nul(path)) return fail(Error::io(EINVAL));
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return fail(Error::io(errno));
    return FileDescriptor(fd);
}

// Bytes the file holds from `offset` on, when the descriptor is a regular file.
std::optional<std::uint64_t> regular_bytes_from(int fd, std::uint64_t offset) {
    struct stat info{};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0) return std::nullopt;
    const auto size = static_cast<std::uint64_t>(info.st_size);
    return size > offset ? size - offset : 0;
}

} // namespace

Result<std::vector<std::uint8_t>> read_whole_file(const std::filesystem::path& path) {
    TV_ASSIGN_OR_RETURN(const FileDescriptor file, open_for_reading(path));
    // The size is only a hint: the file is read until end of file even if it changed.
    const std::uint64_t hint = regular_bytes_from(file.get(), 0).value_or(0);
    std::vector<std::uint8_t> bytes(std::max<std::uint64_t>(hint + 1, first_read_chunk));
    std::size_t used = 0;
    for (;;) {
        if (used == bytes.size()) bytes.resize(bytes.size() * 2);
        const ssize_t got = ::read(file.get(), bytes.data() + used, bytes.size() - used);
        if (got < 0) {
            if (errno == EINTR) continue;
            return fail(Error::io(errno));
        }
        if (got == 0) break;
        used += static_cast<std::size_t>(got);
    }
    bytes.resize(used);
    bytes.shrink_to_fit();
    return bytes;
}

Result<std::vector<std::uint8_t>> read_exact_at(const std::filesystem::path& path, std::uint64_t offset,
                                                std::uint64_t length) {
    TV_ASSIGN_OR_RETURN(const FileDescriptor file, open_for_reading(path));
    if (length == 0) return std::vector<std::uint8_t>();
    constexpr auto max_offset = static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());
    if (offset > max_offset || length > max_offset - offset) return fail(Error::io(EINVAL));
    // The buffer grows with what is actually read, so a bogus length taken from a
    // damaged index cannot allocate more than the file holds (and never more than length).
    // A small read is allocated whole; asking the file's size would cost more than it saves.
    const std::uint64_t available = length <= first_read_chunk
                                        ? length
                                        : regular_bytes_from(file.get(), offset).value_or(first_read_chunk);
    std::vector<std::uint8_t> bytes(std::min(length, std::max<std::uint64_t>(available, 1)));
    std::uint64_t used = 0;
    while (used < length) {
        if (used == bytes.size())
            bytes.resize(std::min(length, std::max<std::uint64_t>(used * 2, first_read_chunk)));
        const ssize_t got =
            ::pread(file.get(), bytes.data() + used, bytes.size() - used, static_cast<off_t>(offset + used));
        if (got < 0) {
            if (errno == EINTR) continue;
            return fail(Error::io(errno));
        }
        if (got == 0) return fail(Error::io_short_read());
        used += static_cast<std::uint64_t>(got);
    }
    return bytes;
}

Result<std::uint64_t> file_size(const std::filesystem::path& path) {
    if (has_embedded_nul(path)) return fail(Error::io(EINVAL));
    struct stat info{};
    if (::stat(path.c_str(), &info) != 0) return fail(Error::io(errno));
    return static_cast<std::uint64_t>(info.st_size);
}

bool names_directory(const std::filesystem::path& path) {
    std::error_code ignored; // a failing query counts as "no"
    return !has_embedded_nul(path) && std::filesystem::is_directory(path, ignored);
}

} // namespace tarnvale
