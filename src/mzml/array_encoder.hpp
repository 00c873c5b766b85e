// The bytes of a <binary> element: a numeric array as little-endian IEEE values or,
// with numpress, in one of its codecs; optionally as one zlib stream; then base64
// (standard alphabet, padded). Also the data type and compression terms that say so.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "error.hpp"
#include "mzml/terms.hpp"

namespace tarnvale::mzml {

enum class Compression : std::uint8_t { None, Zlib };
enum class Precision : std::uint8_t { Float64, Float32 };

// The zlib level every stream is written with: fixed, so that a file's bytes never
// depend on anything but its input.
inline constexpr int zlib_level = 1;

// How a file's arrays are written.
struct ArrayEncoding {
    Compression compression = Compression::Zlib; // applied last, after numpress if any
    // m/z and time arrays by linear prediction, intensities as short logged floats
    // (numpress.hpp); an array numpress refuses is written as without it.
    bool numpress = false;
    // m/z arrays written as IEEE values; one holding a value beyond the range of 32-bit
    // floats stays 64-bit.
    Precision mz_precision = Precision::Float64;
};

// What an array holds: it decides the numpress codec and, for m/z, the precision.
enum class ArrayRole : std::uint8_t { Mz, Time, Intensity, Other };

struct EncodedArray {
    std::span<const std::uint8_t> payload; // what base64 turns into the element's text
    Term data_type;                        // the type the values decode to
    Term compression;
};

// Keeps its compressor and scratch buffers between arrays; one per thread.
class ArrayEncoder {
  public:
    static Result<ArrayEncoder> create(const ArrayEncoding& encoding);

    ArrayEncoder(ArrayEncoder&&) noexcept;
    ArrayEncoder& operator=(ArrayEncoder&&) noexcept;
    ~ArrayEncoder();

    const ArrayEncoding& encoding() const { return encoding_; }

    // The array as its role and the encoding ask; the payload is valid until the next call.
    EncodedArray encode(std::span<const double> values, ArrayRole role);
    EncodedArray encode(std::span<const float> values, ArrayRole role);

    // The IEEE values, compressed as the encoding says; valid until the next call.
    std::span<const std::uint8_t> payload(std::span<const double> values);
    std::span<const std::uint8_t> payload(std::span<const float> values);

  private:
    struct Compressor;
    ArrayEncoder(const ArrayEncoding& encoding, std::unique_ptr<Compressor> compressor);
    std::span<const std::uint8_t> payload_of_bytes(std::span<const std::uint8_t> little_endian);
    template <class Float> std::span<const std::uint8_t> little_endian_bytes(std::span<const Float> values);
    template <class Float>
    bool try_numpress(std::span<const Float> values, ArrayRole role, EncodedArray& out);
    Term plain_compression() const;
    bool narrow(std::span<const double> values);

    ArrayEncoding encoding_;
    std::unique_ptr<Compressor> compressor_; // null without compression
    std::vector<std::uint8_t> swapped_;      // big-endian hosts only
    std::vector<std::uint8_t> compressed_;
    std::vector<std::uint8_t> numpressed_;
    std::vector<float> narrowed_; // m/z values as 32-bit floats
};

// The length of the base64 text of `bytes` bytes: the element's encodedLength.
std::size_t base64_length(std::size_t bytes);

// Appends the base64 text of the bytes.
void append_base64(std::span<const std::uint8_t> bytes, std::string& out);

} // namespace tarnvale::mzml
