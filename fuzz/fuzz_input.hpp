// Splits a fuzzer's byte string into typed fields; a field past the end reads as zero.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>

#include "bytes.hpp"
#include "display.hpp"
#include "numbers.hpp"
#include "text.hpp"
#include "utf8.hpp"

namespace tarnvale::fuzzing {

class FuzzInput {
  public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : bytes_(data, size) {}

    std::uint8_t take_u8() { return take(1) ? bytes_[at_ - 1] : 0; }
    std::uint32_t take_u32() { return take(4) ? load_u32(bytes_.data() + at_ - 4) : 0; }
    float take_f32() { return take(4) ? load_f32(bytes_.data() + at_ - 4) : 0.0f; }
    double take_f64() {
        if (!take(8)) return 0.0;
        const std::uint64_t low = load_u32(bytes_.data() + at_ - 8);
        const std::uint64_t high = load_u32(bytes_.data() + at_ - 4);
        return std::bit_cast<double>(low | (high << 32));
    }
    // Everything not taken yet.
    std::span<const std::uint8_t> rest() const { return bytes_.subspan(at_); }

  private:
    bool take(std::size_t count) {
        if (bytes_.size() - at_ < count) {
            at_ = bytes_.size();
            return false;
        }
        at_ += count;
        return true;
    }

    std::span<const std::uint8_t> bytes_;
    std::size_t at_ = 0;
};

// A broken invariant in a successful result: stop the fuzzer with a crash report.
inline void require(bool condition) {
    if (!condition) std::abort();
}

inline bool is_utf8(std::string_view text) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    return is_valid_utf8(std::span<const std::uint8_t>(bytes, text.size()));
}

} // namespace tarnvale::fuzzing
