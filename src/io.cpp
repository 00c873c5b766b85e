#include "io.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <fcntl.h>
#include <format>
#include <limits>
#include <new>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>

#include "display.hpp"

namespace tarnvale {

namespace {

constexpr auto kMaxOffset = static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());

// A regular file's reads are not interrupted by signals on local file systems; where
// one is (a network mount), a few retries suffice, and a signal that keeps coming
// fails the read instead of holding the caller for ever.
constexpr int kMaxInterruptions = 64;

// Enough to tell whether a file has grown since fstat without a heap allocation.
constexpr std::size_t kGrowthProbe = 4096;

// A path with an embedded NUL cannot be handed to the OS; report it as an invalid argument.
bool has_embedded_nul(const std::filesystem::path& path) {
    return path.native().find('\0') != std::string::npos;
}

const char* file_type_name(mode_t mode) {
    if (S_ISFIFO(mode)) return "FIFO";
    if (S_ISCHR(mode)) return "character device";
    if (S_ISBLK(mode)) return "block device";
    if (S_ISSOCK(mode)) return "socket";
    return "unknown file type";
}

Error limit_exceeded(const std::filesystem::path& path, std::uint64_t size, const SizeLimit& limit) {
    return Error::io_refused(std::format("{}: file of {} bytes is over the {}-byte limit for {}",
                                         display_path(path), size, limit.bytes, limit.what));
}

Error grew_past_limit(const std::filesystem::path& path, const SizeLimit& limit) {
    return Error::io_refused(std::format("{}: file grew past the {}-byte limit for {} while being read",
                                         display_path(path), limit.bytes, limit.what));
}

Error range_exceeds_limit(const std::filesystem::path& path, std::uint64_t offset, std::uint64_t length,
                          const SizeLimit& limit) {
    return Error::io_refused(std::format("{}: {} bytes at offset {} are over the {}-byte limit for {}",
                                         display_path(path), length, offset, limit.bytes, limit.what));
}

// Storage for `used` bytes and more: twice as much, but no more than one byte past
// the limit, which is enough to see a file pass it.
std::size_t grown_capacity(std::uint64_t used, const SizeLimit& limit) {
    return static_cast<std::size_t>(
        std::min(std::max<std::uint64_t>(used * 2, kGrowthProbe), limit.bytes + 1));
}

// Moves the first `used` bytes into a larger buffer: the one copy a growing file costs
// per doubling.
Result<ByteBuffer> enlarge(const ByteBuffer& bytes, std::size_t used, std::size_t capacity) {
    TV_ASSIGN_OR_RETURN(ByteBuffer larger, ByteBuffer::allocate(capacity));
    std::copy_n(bytes.data(), used, larger.data());
    return larger;
}

// A file that has grown past the size fstat gave: `first` holds its first bytes and
// `probe` the ones after them. Reads on to the end of the file, failing as soon as it
// passes the limit.
Result<ByteBuffer> read_grown_file(const File& file, const std::filesystem::path& path,
                                   const SizeLimit& limit, const ByteBuffer& first,
                                   std::span<const std::uint8_t> probe) {
    std::size_t used = first.size();
    if (used + probe.size() > limit.bytes) return fail(grew_past_limit(path, limit));
    TV_ASSIGN_OR_RETURN(ByteBuffer bytes, enlarge(first, used, grown_capacity(used + probe.size(), limit)));
    std::copy(probe.begin(), probe.end(), bytes.data() + used);
    used += probe.size();
    for (;;) {
        const std::span<std::uint8_t> rest = bytes.writable().subspan(used);
        TV_ASSIGN_OR_RETURN(const std::size_t got, file.read_at(used, rest));
        used += got;
        if (used > limit.bytes) return fail(grew_past_limit(path, limit));
        if (got < rest.size()) {
            bytes.truncate(used);
            return bytes;
        }
        TV_ASSIGN_OR_RETURN(bytes, enlarge(bytes, used, grown_capacity(used, limit)));
    }
}

} // namespace

Result<ByteBuffer> ByteBuffer::allocate(std::size_t size) {
    if (size == 0) return ByteBuffer();
    const buffer_pool::Block block = buffer_pool::take(size);
    if (block.data == nullptr) return fail(Error::io(ENOMEM));
    return ByteBuffer(Storage(block.data, buffer_pool::GiveBack{block.capacity, block.mapped}), size);
}

void ByteBuffer::truncate(std::size_t size) { size_ = std::min(size, size_); }

Result<File> File::open(const std::filesystem::path& path) {
    if (has_embedded_nul(path)) return fail(Error::io(EINVAL));
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer. A
    // regular file ignores the flag, and anything else is refused below.
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < kMaxInterruptions; ++attempt) {
        fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (fd < 0 && errno != EINTR) break;
    }
    if (fd < 0) return fail(Error::io(errno));
    File file(fd, 0);
    struct stat info{};
    if (::fstat(fd, &info) != 0) return fail(Error::io(errno));
    // A directory keeps the error its read would give.
    if (S_ISDIR(info.st_mode)) return fail(Error::io(EISDIR));
    if (!S_ISREG(info.st_mode)) {
        return fail(Error::io_refused(
            std::format("{}: not a regular file ({})", display_path(path), file_type_name(info.st_mode))));
    }
    file.size_ = static_cast<std::uint64_t>(std::max<off_t>(info.st_size, 0));
    return file;
}

File::File(File&& other) noexcept : fd_(std::exchange(other.fd_, -1)), size_(std::exchange(other.size_, 0)) {}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

File::~File() {
    if (fd_ >= 0) ::close(fd_);
}

Result<std::size_t> File::read_at(std::uint64_t offset, std::span<std::uint8_t> out) const {
    if (offset > kMaxOffset || out.size() > kMaxOffset - offset) return fail(Error::io(EINVAL));
    std::size_t used = 0;
    int interruptions = 0;
    while (used < out.size()) {
        const ssize_t got =
            ::pread(fd_, out.data() + used, out.size() - used, static_cast<off_t>(offset + used));
        if (got < 0) {
            // EAGAIN is not retried: a descriptor that would block stays an error.
            if (errno == EINTR && ++interruptions < kMaxInterruptions) continue;
            return fail(Error::io(errno));
        }
        if (got == 0) break;
        interruptions = 0;
        used += static_cast<std::size_t>(got);
    }
    return used;
}

Result<void> File::read_exact_at(std::uint64_t offset, std::span<std::uint8_t> out) const {
    TV_ASSIGN_OR_RETURN(const std::size_t got, read_at(offset, out));
    if (got < out.size()) return fail(Error::io_short_read());
    return {};
}

Result<ByteBuffer> read_whole_file(const std::filesystem::path& path, const SizeLimit& limit) {
    TV_ASSIGN_OR_RETURN(const File file, File::open(path));
    if (file.size() > limit.bytes) return fail(limit_exceeded(path, file.size(), limit));
    TV_ASSIGN_OR_RETURN(ByteBuffer bytes, ByteBuffer::allocate(static_cast<std::size_t>(file.size())));
    TV_ASSIGN_OR_RETURN(const std::size_t got, file.read_at(0, bytes.writable()));
    if (got < bytes.size()) { // the file shrank since fstat
        bytes.truncate(got);
        return bytes;
    }
    // Files whose size fstat does not know (/proc) or that grew since: look for more.
    // Left uninitialised like the buffer: only the bytes a read fills are used.
    std::array<std::uint8_t, kGrowthProbe> probe;
    TV_ASSIGN_OR_RETURN(const std::size_t more, file.read_at(got, probe));
    if (more == 0) return bytes;
    return read_grown_file(file, path, limit, bytes, std::span<const std::uint8_t>(probe.data(), more));
}

Result<ByteBuffer> read_exact_at(const std::filesystem::path& path, std::uint64_t offset,
                                 std::uint64_t length, const SizeLimit& limit) {
    TV_ASSIGN_OR_RETURN(const File file, File::open(path));
    if (length == 0) return ByteBuffer();
    if (offset > kMaxOffset || length > kMaxOffset - offset) return fail(Error::io(EINVAL));
    // Allocate no more than the file holds: a damaged index may ask for anything.
    if (offset > file.size() || length > file.size() - offset) return fail(Error::io_short_read());
    if (length > limit.bytes) return fail(range_exceeds_limit(path, offset, length, limit));
    TV_ASSIGN_OR_RETURN(ByteBuffer bytes, ByteBuffer::allocate(static_cast<std::size_t>(length)));
    TV_RETURN_IF_ERROR(file.read_exact_at(offset, bytes.writable()));
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
