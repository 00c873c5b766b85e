#include "mzml/output_file.hpp"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "display.hpp"

namespace tarnvale::mzml {

namespace {

constexpr int max_name_attempts = 64;
// How many written bytes gather before they are handed to the disk.
constexpr std::uint64_t writeback_step = std::uint64_t{8} << 20;
// How many of the last bytes written the page cache keeps; older ones are waited for
// on their way to the disk and then let go, from a boundary that is a multiple of
// every page size so that no page is left behind between two releases.
constexpr std::uint64_t writeback_window = 4 * writeback_step;
constexpr std::uint64_t release_alignment = std::uint64_t{1} << 20;
constexpr std::size_t max_stem_bytes = 200;

Error file_error(std::string_view what, const std::filesystem::path& path, int os_error) {
    return Error::context(std::string(what) + " " + display_path(path), Error::io(os_error));
}

// Unique per process and per call; the random part separates processes that
// share a directory and a pid namespace.
std::string temporary_name(const std::filesystem::path& final_path) {
    static std::atomic<unsigned> counter{0};
    static const unsigned process_salt = std::random_device{}();
    const unsigned serial = counter.fetch_add(1, std::memory_order_relaxed);
    // Part of a long final name is enough to recognise it, and the whole temporary
    // name has to stay within the 255 bytes a file name may have.
    const std::string stem = final_path.filename().string().substr(0, max_stem_bytes);
    return "." + stem + "." + std::to_string(::getpid()) + "-" +
           std::to_string(process_salt ^ (serial * 2654435761u)) + ".tmp";
}

std::filesystem::path directory_of(const std::filesystem::path& path) {
    return path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
}

// Makes the rename itself durable; a file system that cannot sync directories is
// not an error worth failing a finished conversion for.
void sync_directory(const std::filesystem::path& directory) {
    const UniqueFd fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.valid()) ::fsync(fd.get());
}

bool has_embedded_nul(const std::filesystem::path& path) {
    return path.native().find('\0') != std::string::npos;
}

} // namespace

Result<OutputFile> OutputFile::create(const std::filesystem::path& final_path) {
    if (has_embedded_nul(final_path) || !final_path.has_filename())
        return fail(file_error("creating", final_path, EINVAL));
    const std::filesystem::path directory = directory_of(final_path);
    for (int attempt = 0; attempt < max_name_attempts; ++attempt) {
        std::filesystem::path candidate = directory / temporary_name(final_path);
        int fd;
        do {
            fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        } while (fd < 0 && errno == EINTR);
        if (fd >= 0) return OutputFile(final_path, std::move(candidate), UniqueFd(fd));
        if (errno != EEXIST) return fail(file_error("creating a temporary file for", final_path, errno));
    }
    return fail(file_error("creating a temporary file for", final_path, EEXIST));
}

OutputFile::OutputFile(std::filesystem::path final_path, std::filesystem::path temporary_path, UniqueFd fd)
    : final_path_(std::move(final_path)), temporary_path_(std::move(temporary_path)), fd_(std::move(fd)) {}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : final_path_(std::move(other.final_path_)), temporary_path_(std::move(other.temporary_path_)),
      fd_(std::move(other.fd_)), pending_(std::exchange(other.pending_, false)), written_(other.written_),
      written_back_(other.written_back_), released_(other.released_) {}

OutputFile::~OutputFile() { discard(); }

void OutputFile::discard() {
    fd_.close();
    if (std::exchange(pending_, false)) ::unlink(temporary_path_.c_str());
}

Result<void> OutputFile::write(std::string_view bytes) {
    if (!fd_.valid()) return fail(file_error("writing", final_path_, EBADF));
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd_.get(), bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return fail(file_error("writing", final_path_, errno));
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
        written_ += static_cast<std::uint64_t>(written);
    }
    if (written_ - written_back_ >= writeback_step) {
        if (const int os_error = start_writeback(); os_error != 0)
            return fail(file_error("writing", final_path_, os_error));
    }
    return {};
}

// Starts writing the bytes so far to the disk without waiting for them, so that the
// disk works while the file is being made and commit()'s sync has only the last few
// megabytes left to wait for. Bytes handed over several steps ago have mostly reached
// the disk by now: they are waited for and their pages leave the page cache. Gigabytes
// of output then pass through the same few megabytes of memory instead of each write
// taking pages nothing has used yet, whose first use (on a virtual machine, about 3 s
// of system time for 2.8 GB) costs more than the copy into them; and the file takes
// no more of the page cache than the window. A disk slower than the writing sets the
// pace, as the sync in commit() would have in the end anyway.
//
// Starting writeback reports nothing, and its failures are left to the sync in commit().
// A wait does report them, and the OS reports a failed write-back once per open file:
// the sync would not see it again, so a failed wait fails the write here. Where the
// call does not apply (EINVAL, ESPIPE, ENOSYS) everything is left to the sync.
int OutputFile::start_writeback() {
    int os_error = 0;
#ifdef __linux__
    ::sync_file_range(fd_.get(), static_cast<off_t>(written_back_),
                      static_cast<off_t>(written_ - written_back_), SYNC_FILE_RANGE_WRITE);
    if (written_ - released_ >= writeback_window + release_alignment) {
        const std::uint64_t release_end =
            (written_ - writeback_window) / release_alignment * release_alignment;
        const auto from = static_cast<off_t>(released_);
        const auto length = static_cast<off_t>(release_end - released_);
        if (::sync_file_range(fd_.get(), from, length,
                              SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE |
                                  SYNC_FILE_RANGE_WAIT_AFTER) != 0 &&
            errno != EINVAL && errno != ESPIPE && errno != ENOSYS)
            os_error = errno;
        ::posix_fadvise(fd_.get(), from, length, POSIX_FADV_DONTNEED);
        released_ = release_end;
    }
#endif
    written_back_ = written_;
    return os_error;
}

Result<void> OutputFile::commit() {
    if (!fd_.valid()) return fail(file_error("committing", final_path_, EBADF));
    if (::fsync(fd_.get()) != 0 || fd_.close() != 0) {
        const int os_error = errno;
        discard();
        return fail(file_error("writing", final_path_, os_error));
    }
    if (::rename(temporary_path_.c_str(), final_path_.c_str()) != 0) {
        const int os_error = errno;
        discard();
        return fail(file_error("renaming the finished file onto", final_path_, os_error));
    }
    pending_ = false;
    sync_directory(directory_of(final_path_));
    return {};
}

} // namespace tarnvale::mzml
