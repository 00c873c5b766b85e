// A function's .DAT file, opened once for a whole run of reads.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <utility>

#include "error.hpp"

namespace tarnvale::columns {

class DataFile {
  public:
    // Opens without blocking (a FIFO in the file's place must not hang the call) and
    // accepts only a regular file.
    static Result<DataFile> open(const std::filesystem::path& path);

    DataFile(DataFile&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    DataFile& operator=(DataFile&&) = delete;
    DataFile(const DataFile&) = delete;
    DataFile& operator=(const DataFile&) = delete;
    ~DataFile();

    // Fills `out` from `offset`; the end of the file before that is the short-read error.
    Result<void> read_exact_at(std::uint64_t offset, std::span<std::uint8_t> out) const;

  private:
    explicit DataFile(int fd) : fd_(fd) {}
    int fd_;
};

} // namespace tarnvale::columns
