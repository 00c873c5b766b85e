// The bytes of a <binary> element: a numeric array as little-endian IEEE values,
// optionally as one zlib stream, then base64 (standard alphabet, padded).
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "error.hpp"

namespace tarnvale::mzml {

enum class Compression : std::uint8_t { None, Zlib };

// The zlib level every stream is written with: fixed, so that a file's bytes never
// depend on anything but its input.
inline constexpr int zlib_level = 1;

// Keeps its compressor and scratch buffers between arrays; one per thread.
class ArrayEncoder {
  public:
    static Result<ArrayEncoder> create(Compression compression);

    ArrayEncoder(ArrayEncoder&&) noexcept;
    ArrayEncoder& operator=(ArrayEncoder&&) noexcept;
    ~ArrayEncoder();

    Compression compression() const { return compression_; }

    // The bytes that base64 turns into the element's text; valid until the next call.
    std::span<const std::uint8_t> payload(std::span<const double> values);
    std::span<const std::uint8_t> payload(std::span<const float> values);

  private:
    struct Compressor;
    ArrayEncoder(Compression compression, std::unique_ptr<Compressor> compressor);
    std::span<const std::uint8_t> payload_of_bytes(std::span<const std::uint8_t> little_endian);
    template <class Float> std::span<const std::uint8_t> little_endian_bytes(std::span<const Float> values);

    Compression compression_;
    std::unique_ptr<Compressor> compressor_; // null without compression
    std::vector<std::uint8_t> swapped_;      // big-endian hosts only
    std::vector<std::uint8_t> compressed_;
};

// The length of the base64 text of `bytes` bytes: the element's encodedLength.
std::size_t base64_length(std::size_t bytes);

// Appends the base64 text of the bytes.
void append_base64(std::span<const std::uint8_t> bytes, std::string& out);

} // namespace tarnvale::mzml
