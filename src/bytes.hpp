// Little-endian loads from byte spans. Callers check bounds before loading.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <span>

namespace tarnvale {

using Bytes = std::span<const std::uint8_t>;

inline std::uint16_t load_u16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::int16_t load_i16(const std::uint8_t* p) { return static_cast<std::int16_t>(load_u16(p)); }
inline std::uint32_t load_u32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline float load_f32(const std::uint8_t* p) { return std::bit_cast<float>(load_u32(p)); }

} // namespace tarnvale
