// The data records of the four scan encodings, each read into one little-endian
// integer (record byte k at bits 8k..8k+7), and the fields the decoders take from
// it. Shared by the decoders' framing and their record loops.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tarnvale::raw::records {

// Eight bytes from `p` as a little-endian integer (the processors we build for are
// little-endian; the byte swap keeps the meaning elsewhere).
inline std::uint64_t load_le64(const std::uint8_t* p) {
    std::uint64_t value;
    std::memcpy(&value, p, sizeof value);
    if constexpr (std::endian::native == std::endian::big) value = std::byteswap(value);
    return value;
}

inline void store_le64(std::uint8_t* p, std::uint64_t value) {
    if constexpr (std::endian::native == std::endian::big) value = std::byteswap(value);
    std::memcpy(p, &value, sizeof value);
}

// Every layout states, as bit masks of the loaded integer, its intensity field (a
// record without intensity carries no point) and the bits that a record with a
// point must have set (kRequired) and clear (kForbidden).
template <class Layout> std::uint32_t intensity_field(std::uint64_t record) {
    return static_cast<std::uint32_t>((record & Layout::kIntensityMask) >>
                                      std::countr_zero(Layout::kIntensityMask));
}

template <class Layout> bool has_point(std::uint64_t record) {
    return (record & Layout::kIntensityMask) != 0;
}

template <class Layout> bool valid(std::uint64_t record) {
    return (record & (Layout::kRequired | Layout::kForbidden)) == Layout::kRequired;
}

// Encoding A, 6 bytes: intensity u16, exponent byte, 24-bit mantissa.
struct LayoutA {
    static constexpr std::size_t kSize = 6;
    static constexpr std::uint64_t kIntensityMask = 0xFFFF;
    static constexpr std::uint64_t kRequired = 0x8000'0000'0000; // the mantissa's top bit (bit 47)
    static constexpr std::uint64_t kForbidden = 0xF'0000;        // the exponent byte's low nibble
    // From an 8-byte slot (see the decoders' record loops): bits 48..63 are whatever
    // followed the record, and no field below reads them.
    static std::uint64_t load(const std::uint8_t* r) { return load_le64(r); }
    // The record's own six bytes, bits 48..63 clear: for a record that may end the scan.
    static std::uint64_t load_exact(const std::uint8_t* r) {
        std::uint64_t value = 0;
        for (std::size_t k = 0; k < kSize; ++k) value |= std::uint64_t{r[k]} << (8 * k);
        return value;
    }
    static std::uint8_t byte(std::uint64_t record, int k) {
        return static_cast<std::uint8_t>(record >> (8 * k));
    }
    static float intensity(std::uint64_t record) {
        return static_cast<float>(static_cast<std::int32_t>(intensity_field<LayoutA>(record)));
    }
    // mantissa × 2^(e − 24) with the mantissa's top bit set is 1.f × 2^(e − 1):
    // biased exponent e + 1022, and the 23 bits below the top bit as the fraction.
    // Both fields are shifted into place from the record (e at bits 20..23 to
    // 52..55, f at bits 24..46 to 29..51) and the bias added on top (e + 1022 < 2048).
    static double raw_mz(std::uint64_t record) {
        constexpr std::uint64_t kExponent = std::uint64_t{0xF} << 52;
        constexpr std::uint64_t kFraction = std::uint64_t{0x7F'FFFF} << 29;
        const std::uint64_t fields = ((record << 32) & kExponent) | ((record << 5) & kFraction);
        return std::bit_cast<double>(fields + (std::uint64_t{1022} << 52));
    }
};

// Encoding D, 8 bytes: intensity u32 in 16.16 fixed point, position word u32.
struct LayoutD {
    static constexpr std::size_t kSize = 8;
    static constexpr std::uint64_t kIntensityMask = 0xFFFF'FFFF;
    static constexpr std::uint64_t kRequired = std::uint64_t{1} << 58; // bit 26 of the position word
    static constexpr std::uint64_t kForbidden = 0;
    static std::uint64_t load(const std::uint8_t* r) { return load_le64(r); }
    static std::uint32_t position_word(std::uint64_t record) {
        return static_cast<std::uint32_t>(record >> 32);
    }
    // f32(word × 2^-16 in f64) rounds the exact value word × 2^-16 once, and so does
    // high + low × 2^-16 in f32 with the word's 16-bit halves converted exactly (the
    // product is exact, the sum rounds once). Written out rather than as a conversion
    // from unsigned, which GCC lowers to a fused multiply-add for x86-64-v3: this way
    // no path has one.
    static float intensity(std::uint64_t record) {
        const auto word = static_cast<std::uint32_t>(record);
        const auto high = static_cast<float>(static_cast<std::int32_t>(word >> 16));
        const auto low = static_cast<float>(static_cast<std::int32_t>(word & 0xFFFF));
        return high + low * 0x1p-16f;
    }
    // (mantissa × 2^-27) × 2^e with bit 26 of the mantissa set is 1.f × 2^(e − 1):
    // biased exponent e + 1022, and the 26 bits below the top bit as the fraction.
    // Both fields are shifted into place from the record (e at bits 59..63 to
    // 52..56, f at bits 32..57 to 26..51) and the bias added on top (e + 1022 < 2048).
    static double raw_mz(std::uint64_t record) {
        constexpr std::uint64_t kExponent = std::uint64_t{0x1F} << 52;
        constexpr std::uint64_t kFraction = std::uint64_t{0x3FF'FFFF} << 26;
        const std::uint64_t fields = ((record >> 7) & kExponent) | ((record >> 6) & kFraction);
        return std::bit_cast<double>(fields + (std::uint64_t{1022} << 52));
    }
};

// Encodings B and C, 8 bytes: two unread bytes, intensity u16, a u16 word
// (drift for B, position fraction for C), time-bin position u16. Every record
// with a point is decodable.
struct LayoutBC {
    static constexpr std::size_t kSize = 8;
    static constexpr std::uint64_t kIntensityMask = 0xFFFF'0000;
    static constexpr std::uint64_t kRequired = 0;
    static constexpr std::uint64_t kForbidden = 0;
    static std::uint64_t load(const std::uint8_t* r) { return load_le64(r); }
    // The 16-bit fields are converted through int32, which the vector units convert directly.
    static float intensity(std::uint64_t record) {
        return static_cast<float>(static_cast<std::int32_t>(intensity_field<LayoutBC>(record)));
    }
    static std::uint32_t high_half(std::uint64_t record) { return static_cast<std::uint32_t>(record >> 32); }
    static double word(std::uint64_t record) { return static_cast<std::int32_t>(high_half(record) & 0xFFFF); }
    static double position(std::uint64_t record) {
        return static_cast<std::int32_t>(high_half(record) >> 16);
    }
};

} // namespace tarnvale::raw::records
