// Builders for the binary records of scan index files (_FUNCnnn.IDX) and scan
// data files (_FUNCnnn.DAT). This is the one place in the tests that knows
// their byte layouts; tests and fixtures compose files from these pieces.
//
// Index records:
//   Variant A, 22 bytes: offset u32 @0, n_points u24 @4, marker 0x18 @7,
//                        rt_min f32 @12, aux_word u16 @16.
//   Variant B, 30 bytes: rt_min f32 @12, offset u32 @22.
// Data records:
//   A, 6 bytes: intensity u16 @0, exponent byte @2 (exponent in the high nibble),
//               mantissa u24 @3 (top bit set); raw m/z = mantissa * 2^(e-24).
//   B, 8 bytes: intensity u16 @2, drift word u16 @4, time-bin position u16 @6.
//   C, 8 bytes: intensity u16 @2, position fraction u16 @4, position u16 @6.
//   D, 8 bytes: intensity u32 @0 (16.16 fixed point), position word u32 @4:
//               exponent in bits 31..27, mantissa in bits 26..0 (bit 26 set);
//               raw m/z = (mantissa * 2^-27) * 2^e.
// Bytes that the readers do not interpret are written as `filler`, so tests can
// check that they really are ignored.
//
// Everything here is for building test input: out-of-range requests throw
// std::invalid_argument rather than silently producing a different record.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <stdexcept>
#include <vector>

#include "support.hpp"

namespace tarnvale::testing {

inline constexpr std::size_t kIndexARecordSize = 22;
inline constexpr std::size_t kIndexBRecordSize = 30;
inline constexpr std::uint8_t kIndexAMarker = 0x18;

inline constexpr std::size_t kRecordSizeA = 6;
inline constexpr std::size_t kRecordSizeB = 8;
inline constexpr std::size_t kRecordSizeC = 8;
inline constexpr std::size_t kRecordSizeD = 8;

using RecordA = std::array<std::uint8_t, kRecordSizeA>;
using Record8 = std::array<std::uint8_t, 8>; // encodings B, C and D

// ---------------------------------------------------------------- scan index

struct IndexARecord {
    std::uint32_t offset = 0;
    std::uint32_t n_points = 0; // only the low 24 bits fit; higher bits throw
    float rt_min = 0;
    std::uint16_t aux_word = 0;
    std::uint8_t marker = kIndexAMarker; // anything else makes a 330-multiple file read as Variant B
    std::uint8_t filler = 0;             // value of the uninterpreted bytes 8..11 and 18..21
};

struct IndexBRecord {
    std::uint32_t offset = 0;
    float rt_min = 0;
    std::uint8_t filler = 0; // value of the uninterpreted bytes 0..11, 16..21 and 26..29
};

// Writes one Variant A record at byte `at` of `out`.
inline void put_index_a(ByteWriter& out, std::size_t at, const IndexARecord& record) {
    if (record.n_points > 0xFFFFFF) throw std::invalid_argument("n_points does not fit in 24 bits");
    for (std::size_t i = 0; i < kIndexARecordSize; ++i) out.put_u8(at + i, record.filler);
    out.put_u32(at + 0, record.offset);
    out.put_u32(at + 4, record.n_points | (std::uint32_t{record.marker} << 24));
    out.put_f32(at + 12, record.rt_min);
    out.put_u16(at + 16, record.aux_word);
}

// Writes one Variant B record at byte `at` of `out`.
inline void put_index_b(ByteWriter& out, std::size_t at, const IndexBRecord& record) {
    for (std::size_t i = 0; i < kIndexBRecordSize; ++i) out.put_u8(at + i, record.filler);
    out.put_f32(at + 12, record.rt_min);
    out.put_u32(at + 22, record.offset);
}

// A whole Variant A index file: the records back to back.
inline std::vector<std::uint8_t> index_a(std::span<const IndexARecord> records) {
    ByteWriter out(records.size() * kIndexARecordSize);
    for (std::size_t i = 0; i < records.size(); ++i) put_index_a(out, i * kIndexARecordSize, records[i]);
    return out.take();
}
inline std::vector<std::uint8_t> index_a(std::initializer_list<IndexARecord> records) {
    return index_a(std::span<const IndexARecord>(records.begin(), records.size()));
}

// A whole Variant B index file: the records back to back.
inline std::vector<std::uint8_t> index_b(std::span<const IndexBRecord> records) {
    ByteWriter out(records.size() * kIndexBRecordSize);
    for (std::size_t i = 0; i < records.size(); ++i) put_index_b(out, i * kIndexBRecordSize, records[i]);
    return out.take();
}
inline std::vector<std::uint8_t> index_b(std::initializer_list<IndexBRecord> records) {
    return index_b(std::span<const IndexBRecord>(records.begin(), records.size()));
}

// ---------------------------------------------------------------- scan data

// Encoding A record from its raw fields. `exponent_byte` is byte 2 as stored
// (exponent in the high nibble; a non-zero low nibble makes the record invalid),
// `mantissa24` the 24-bit mantissa (valid records have bit 23 set).
inline RecordA record_a(std::uint16_t intensity, std::uint8_t exponent_byte, std::uint32_t mantissa24) {
    if (mantissa24 > 0xFFFFFF) throw std::invalid_argument("mantissa does not fit in 24 bits");
    return {static_cast<std::uint8_t>(intensity),
            static_cast<std::uint8_t>(intensity >> 8),
            exponent_byte,
            static_cast<std::uint8_t>(mantissa24),
            static_cast<std::uint8_t>(mantissa24 >> 8),
            static_cast<std::uint8_t>(mantissa24 >> 16)};
}

// Splits a positive value into (exponent, mantissa) with
// value ~= mantissa * 2^(exponent - bits), mantissa in [2^(bits-1), 2^bits),
// rounding the mantissa to nearest. Throws unless the exponent lies in [0, max_exponent].
struct FloatWord {
    int exponent;
    std::uint32_t mantissa;
};
inline FloatWord split_float_word(double value, int bits, int max_exponent) {
    if (!(value > 0) || !std::isfinite(value)) throw std::invalid_argument("raw m/z must be positive");
    int exponent = 0;
    double fraction = std::frexp(value, &exponent); // value = fraction * 2^exponent, fraction in [0.5, 1)
    double mantissa = std::round(std::ldexp(fraction, bits));
    if (mantissa >= std::ldexp(1.0, bits)) { // rounded up to the next power of two
        mantissa = std::ldexp(1.0, bits - 1);
        ++exponent;
    }
    if (exponent < 0 || exponent > max_exponent)
        throw std::invalid_argument("raw m/z out of encodable range");
    return {exponent, static_cast<std::uint32_t>(mantissa)};
}

// Encoding A record holding the raw (uncalibrated) m/z `raw_mz`, rounded to the
// nearest encodable value; encodable values lie in [0.5, 32768).
inline RecordA record_a_mz(std::uint16_t intensity, double raw_mz) {
    FloatWord word = split_float_word(raw_mz, 24, 15);
    return record_a(intensity, static_cast<std::uint8_t>(word.exponent << 4), word.mantissa);
}

// The value an encoding A record with these fields decodes to before calibration.
inline double raw_mz_a(std::uint8_t exponent_byte, std::uint32_t mantissa24) {
    return std::ldexp(static_cast<double>(mantissa24), (exponent_byte >> 4) - 24);
}

// Encoding B or C record: `word` is the drift word (B) or the position fraction (C).
// `leading` fills the two uninterpreted bytes at the start.
inline Record8 record_bc(std::uint16_t intensity, std::uint16_t word, std::uint16_t position,
                         std::uint16_t leading = 0) {
    return {static_cast<std::uint8_t>(leading),   static_cast<std::uint8_t>(leading >> 8),
            static_cast<std::uint8_t>(intensity), static_cast<std::uint8_t>(intensity >> 8),
            static_cast<std::uint8_t>(word),      static_cast<std::uint8_t>(word >> 8),
            static_cast<std::uint8_t>(position),  static_cast<std::uint8_t>(position >> 8)};
}
inline Record8 record_b(std::uint16_t intensity, std::uint16_t drift_word, std::uint16_t position) {
    return record_bc(intensity, drift_word, position);
}
inline Record8 record_c(std::uint16_t intensity, std::uint16_t fraction, std::uint16_t position) {
    return record_bc(intensity, fraction, position);
}

// Encoding D record from its raw words.
inline Record8 record_d(std::uint32_t intensity_word, std::uint32_t position_word) {
    Record8 record{};
    for (std::size_t i = 0; i < 4; ++i) {
        record[i] = static_cast<std::uint8_t>(intensity_word >> (8 * i));
        record[4 + i] = static_cast<std::uint8_t>(position_word >> (8 * i));
    }
    return record;
}

// Encoding D position word for the raw m/z `raw_mz`, rounded to the nearest
// encodable value; encodable values lie in [0.5, 2^31).
inline std::uint32_t position_word_d(double raw_mz) {
    FloatWord word = split_float_word(raw_mz, 27, 31);
    return (static_cast<std::uint32_t>(word.exponent) << 27) | word.mantissa;
}

// Encoding D intensity word for `intensity` in 16.16 fixed point, rounded to nearest.
inline std::uint32_t intensity_word_d(double intensity) {
    double word = std::round(std::ldexp(intensity, 16));
    if (!(word >= 0 && word <= 4294967295.0)) throw std::invalid_argument("intensity out of 16.16 range");
    return static_cast<std::uint32_t>(word);
}

// Encoding D record holding `raw_mz` and `intensity`.
inline Record8 record_d_mz(double intensity, double raw_mz) {
    return record_d(intensity_word_d(intensity), position_word_d(raw_mz));
}

// The value an encoding D position word decodes to before calibration.
inline double raw_mz_d(std::uint32_t position_word) {
    return std::ldexp(static_cast<double>(position_word & 0x7FFFFFF),
                      static_cast<int>(position_word >> 27) - 27);
}

// Concatenates records (or any byte runs) into one scan or file.
template <class Record> inline std::vector<std::uint8_t> join(std::span<const Record> records) {
    std::vector<std::uint8_t> out;
    out.reserve(records.size() * std::tuple_size_v<Record>);
    for (const Record& record : records) out.insert(out.end(), record.begin(), record.end());
    return out;
}
template <class Record> inline std::vector<std::uint8_t> join(std::initializer_list<Record> records) {
    return join(std::span<const Record>(records.begin(), records.size()));
}
template <class Record> inline std::vector<std::uint8_t> join(const std::vector<Record>& records) {
    return join(std::span<const Record>(records));
}

} // namespace tarnvale::testing
