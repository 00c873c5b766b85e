// The data records of the four scan encodings, each read into one little-endian
// integer (record byte k at bits 8k..8k+7), and the fields the decoders take from
// it. Shared by the decoders' framing and their record loops.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace tarnvale::raw::records {

// Eight bytes from `p` as a little-endian integer (the processors we build for are little-endian;
// the byte swap keeps the meaning elsewhere).
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

// Encoding A, 6 bytes: intensity u16, exponent byte, 24-bit mantissa.
struct LayoutA {
    static constexpr std::size_t kSize = 6;
    static constexpr bool kChecked = true;
    // Reads two bytes past the record (masked off), which lets one load fetch it; the
    // last record of a scan, which has nothing after it, is read with load_exact.
    static std::uint64_t load(const std::uint8_t* r) { return load_le64(r) & 0xFFFF'FFFF'FFFF; }
    static std::uint64_t load_exact(const std::uint8_t* r) {
        std::uint64_t value = 0;
        for (std::size_t k = 0; k < kSize; ++k) value |= std::uint64_t{r[k]} << (8 * k);
        return value;
    }
    static bool has_point(std::uint64_t record) { return (record & 0xFFFF) != 0; }
    // Exponent low nibble (bits 16..19) clear, mantissa top bit (bit 47) set.
    static bool valid(std::uint64_t record) { return (record & 0x8000'000F'0000) == 0x8000'0000'0000; }
    static std::uint8_t byte(std::uint64_t record, int k) {
        return static_cast<std::uint8_t>(record >> (8 * k));
    }
    static float intensity(std::uint64_t record) {
        return static_cast<float>(static_cast<std::int32_t>(record & 0xFFFF));
    }
    // mantissa × 2^(e − 24) with the mantissa's top bit set is 1.f × 2^(e − 1):
    // biased exponent e + 1022, and the 23 bits below the top bit as the fraction.
    static double raw_mz(std::uint64_t record) {
        const std::uint64_t exponent = (record >> 20) & 0xF;
        const std::uint64_t fraction = (record >> 24) & 0x7F'FFFF;
        return std::bit_cast<double>(((exponent + 1022) << 52) | (fraction << 29));
    }
};

// Encoding D, 8 bytes: intensity u32 in 16.16 fixed point, position word u32.
struct LayoutD {
    static constexpr std::size_t kSize = 8;
    static constexpr bool kChecked = true;
    static std::uint64_t load(const std::uint8_t* r) { return load_le64(r); }
    static bool has_point(std::uint64_t record) { return static_cast<std::uint32_t>(record) != 0; }
    static std::uint32_t position_word(std::uint64_t record) {
        return static_cast<std::uint32_t>(record >> 32);
    }
    static bool valid(std::uint64_t record) { return (record & (std::uint64_t{1} << 58)) != 0; }
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
    static double raw_mz(std::uint64_t record) {
        const std::uint64_t word = position_word(record);
        return std::bit_cast<double>((((word >> 27) + 1022) << 52) | ((word & 0x3FF'FFFF) << 26));
    }
};

// Encodings B and C, 8 bytes: two unread bytes, intensity u16, a u16 word
// (drift for B, position fraction for C), time-bin position u16.
struct LayoutBC {
    static constexpr std::size_t kSize = 8;
    static constexpr bool kChecked = false; // every kept record is decodable
    static std::uint64_t load(const std::uint8_t* r) { return load_le64(r); }
    static std::uint32_t intensity_word(std::uint64_t record) {
        return static_cast<std::uint32_t>(record) >> 16;
    }
    static bool has_point(std::uint64_t record) { return (record & 0xFFFF'0000) != 0; }
    static bool valid(std::uint64_t) { return true; }
    // The 16-bit fields are converted through int32, which the vector units convert directly.
    static float intensity(std::uint64_t record) {
        return static_cast<float>(static_cast<std::int32_t>(intensity_word(record)));
    }
    static std::uint32_t high_half(std::uint64_t record) { return static_cast<std::uint32_t>(record >> 32); }
    static double word(std::uint64_t record) { return static_cast<std::int32_t>(high_half(record) & 0xFFFF); }
    static double position(std::uint64_t record) {
        return static_cast<std::int32_t>(high_half(record) >> 16);
    }
};

} // namespace tarnvale::raw::records
