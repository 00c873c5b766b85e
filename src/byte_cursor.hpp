// A walk over the bytes of one fixed-layout file. need() checks, in 64-bit
// arithmetic, that the bytes a parsing step is about to read are there, and
// fails with a message naming the file; the reads after a successful need()
// stay within what it checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "bytes.hpp"
#include "error.hpp"

namespace tarnvale {

class ByteCursor {
  public:
    // `file` names the file kind in messages ("_CHROMS.INF").
    ByteCursor(Bytes bytes, std::string_view file) : bytes_(bytes), file_(file) {}

    std::uint64_t size() const { return bytes_.size(); }
    std::uint64_t remaining() const { return bytes_.size() - position_; }

    // `n` more bytes must follow: "<file> too small: <size> bytes (need at least <position + n>)".
    Result<void> need(std::uint64_t n) const;
    // `n` more bytes must follow for `what`: "<file>: file too small for <what>".
    Result<void> need(std::uint64_t n, std::string_view what) const;

    // Fields at fixed offsets from the position, little-endian.
    std::uint8_t u8_at(std::size_t offset) const { return bytes_[position_ + offset]; }
    std::uint16_t u16_at(std::size_t offset) const { return load_u16(at(offset)); }
    std::uint32_t u32_at(std::size_t offset) const { return load_u32(at(offset)); }
    float f32_at(std::size_t offset) const { return load_f32(at(offset)); }
    Bytes bytes_at(std::size_t offset, std::size_t length) const {
        return bytes_.subspan(position_ + offset, length);
    }

    // The next `n` bytes as a cursor of their own (a record); the position moves past them.
    // Inline: the parsers take one record per loop iteration.
    ByteCursor take(std::uint64_t n) {
        ByteCursor record(bytes_.subspan(position_, n), file_);
        position_ += n;
        return record;
    }
    void skip(std::uint64_t n) { position_ += n; }
    // Everything from the position on.
    Bytes rest() const { return bytes_.subspan(position_); }

  private:
    const std::uint8_t* at(std::size_t offset) const { return bytes_.data() + position_ + offset; }

    Bytes bytes_;
    std::string_view file_;
    std::size_t position_ = 0;
};

} // namespace tarnvale
