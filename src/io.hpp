// File access used by the parsers and the reader. Every file is opened without
// blocking and must be a regular file, so that a FIFO or a device put where a data
// file belongs fails at once instead of stopping the process; every allocation that
// a file's size decides is bounded by a SizeLimit (size_limits.hpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <utility>

#include "buffer_pool.hpp"
#include "error.hpp"
#include "size_limits.hpp"

namespace tarnvale {

// Bytes read from a file: one allocation, left uninitialised until the read fills it,
// and never copied again; large storage comes from and goes back to buffer_pool.
// Converts to std::span<const std::uint8_t>.
class ByteBuffer {
  public:
    ByteBuffer() = default;
    // `size` bytes of uninitialised storage; running out of memory is an Io error.
    static Result<ByteBuffer> allocate(std::size_t size);

    const std::uint8_t* data() const { return bytes_.get(); }
    std::uint8_t* data() { return bytes_.get(); }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    const std::uint8_t* begin() const { return bytes_.get(); }
    const std::uint8_t* end() const { return bytes_.get() + size_; }
    std::uint8_t* begin() { return bytes_.get(); }
    std::uint8_t* end() { return bytes_.get() + size_; }
    std::span<const std::uint8_t> span() const { return {bytes_.get(), size_}; }
    std::span<std::uint8_t> writable() { return {bytes_.get(), size_}; }

    // Keeps only the first `size` bytes (no larger than now); the storage is not moved.
    void truncate(std::size_t size);

  private:
    using Storage = std::unique_ptr<std::uint8_t[], buffer_pool::GiveBack>;

    ByteBuffer(Storage bytes, std::size_t size) : bytes_(std::move(bytes)), size_(size) {}

    Storage bytes_;
    std::size_t size_ = 0;
};

// An open regular file: opened without blocking and checked with fstat; closed on
// destruction. A FIFO, device or socket is refused with the Io error
// "<path>: not a regular file (<type>)"; a directory with the OS error EISDIR.
class File {
  public:
    static Result<File> open(const std::filesystem::path& path);

    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File();

    // As fstat reported at open.
    std::uint64_t size() const { return size_; }

    // Exactly out.size() bytes at `offset`; a file that ends first is the short-read Io error.
    Result<void> read_exact_at(std::uint64_t offset, std::span<std::uint8_t> out) const;
    // Up to out.size() bytes at `offset`, fewer only where the file ends; the count read.
    Result<std::size_t> read_at(std::uint64_t offset, std::span<std::uint8_t> out) const;

  private:
    File(int fd, std::uint64_t size) : fd_(fd), size_(size) {}

    int fd_ = -1;
    std::uint64_t size_ = 0;
};

// Reads a whole file, sized from fstat within `limit`. A file that grows while it is
// read is read to its end as long as it stays within the limit; a larger one fails
// with an Io error naming the file, its size and the limit. Failures of the OS are
// Io errors carrying the OS error.
Result<ByteBuffer> read_whole_file(const std::filesystem::path& path, const SizeLimit& limit);

// Opens, reads exactly `length` bytes at `offset`, closes. A file shorter than
// offset + length gives the short-read Io error; a length over `limit` (within the
// file) the Io error naming the file, the length and the limit.
Result<ByteBuffer> read_exact_at(const std::filesystem::path& path, std::uint64_t offset,
                                 std::uint64_t length, const SizeLimit& limit);

// Size of a file, following symbolic links. Asks the file system without opening the
// file, so that it never blocks whatever the path names.
Result<std::uint64_t> file_size(const std::filesystem::path& path);

// Whether the path names a directory, following symbolic links; a failing query, or a
// path that the OS would see cut at an embedded NUL, is a no.
bool names_directory(const std::filesystem::path& path);

} // namespace tarnvale
