// Byte-building helpers shared by the core tests.
#pragma once

#include <bit>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "error.hpp"

namespace tarnvale::testing {

// A growable little-endian byte buffer; put_* write at an absolute offset,
// growing the buffer with zeros as needed.
class ByteWriter {
  public:
    ByteWriter() = default;
    explicit ByteWriter(std::size_t size) : bytes_(size, 0) {}

    ByteWriter& put_u8(std::size_t at, std::uint8_t v) { return put_le(at, v, 1); }
    ByteWriter& put_u16(std::size_t at, std::uint16_t v) { return put_le(at, v, 2); }
    ByteWriter& put_u32(std::size_t at, std::uint32_t v) { return put_le(at, v, 4); }
    ByteWriter& put_f32(std::size_t at, float v) { return put_le(at, std::bit_cast<std::uint32_t>(v), 4); }
    ByteWriter& put_bytes(std::size_t at, std::span<const std::uint8_t> data) {
        grow(at + data.size());
        for (std::size_t i = 0; i < data.size(); ++i) bytes_[at + i] = data[i];
        return *this;
    }
    ByteWriter& put_text(std::size_t at, std::string_view text) {
        return put_bytes(at, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
    }
    ByteWriter& append(std::span<const std::uint8_t> data) { return put_bytes(bytes_.size(), data); }

    std::size_t size() const { return bytes_.size(); }
    const std::vector<std::uint8_t>& bytes() const { return bytes_; }
    std::vector<std::uint8_t> take() { return std::move(bytes_); }

  private:
    ByteWriter& put_le(std::size_t at, std::uint64_t v, std::size_t width) {
        grow(at + width);
        for (std::size_t i = 0; i < width; ++i) bytes_[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
        return *this;
    }
    void grow(std::size_t size) {
        if (bytes_.size() < size) bytes_.resize(size, 0);
    }

    std::vector<std::uint8_t> bytes_;
};

inline std::vector<std::uint8_t> bytes_of(std::string_view text) { return {text.begin(), text.end()}; }

// The display text of a result's error, or "no error". The text also fixes the error's kind:
// "parse error: …" and "I/O error: …" leaves, context prefixes before them.
template <class T> std::string error_text(const Result<T>& result) {
    return result ? std::string("no error") : result.error().to_string();
}

// The error text of reading a file that does not exist.
inline constexpr std::string_view kNoSuchFile = "I/O error: No such file or directory (os error 2)";

// A fresh, empty directory under the system temporary directory, removed on destruction.
class TempDir {
  public:
    TempDir();
    // Below `parent` rather than the system's temporary directory, which may be RAM-backed.
    explicit TempDir(const std::filesystem::path& parent);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // Writes a file below the directory (creating parents) and returns its path.
    std::filesystem::path write(std::string_view name, std::span<const std::uint8_t> bytes) const;
    std::filesystem::path write(std::string_view name, std::string_view text) const;

  private:
    std::filesystem::path path_;
};

} // namespace tarnvale::testing
