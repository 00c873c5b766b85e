#include "columns/data_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <format>
#include <limits>

#include "display.hpp"

namespace tarnvale::columns {

Result<DataFile> DataFile::open(const std::filesystem::path& path) {
    if (path.native().find('\0') != std::string::npos) return fail(Error::io(EINVAL));
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return fail(Error::io(errno));
    DataFile file(fd);
    struct stat info{};
    if (::fstat(fd, &info) != 0) return fail(Error::io(errno));
    if (!S_ISREG(info.st_mode))
        return parse_error(std::format("{} is not a regular file", display_path(path)));
    return file;
}

DataFile::~DataFile() {
    if (fd_ >= 0) ::close(fd_);
}

Result<void> DataFile::read_exact_at(std::uint64_t offset, std::span<std::uint8_t> out) const {
    constexpr auto max_offset = static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());
    if (offset > max_offset || out.size() > max_offset - offset) return fail(Error::io(EINVAL));
    std::size_t used = 0;
    while (used < out.size()) {
        const ssize_t got =
            ::pread(fd_, out.data() + used, out.size() - used, static_cast<off_t>(offset + used));
        if (got < 0) {
            if (errno == EINTR) continue;
            return fail(Error::io(errno));
        }
        if (got == 0) return fail(Error::io_short_read());
        used += static_cast<std::size_t>(got);
    }
    return {};
}

} // namespace tarnvale::columns
