// Which instruction set the scan decoders' record loops run with. Every path gives
// the same bytes; the wider ones only do more records per instruction.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace tarnvale::raw {

enum class DecoderPath : std::uint8_t {
    Baseline = 0, // x86-64 (SSE2), or whatever the build targets elsewhere
    Avx2 = 1,     // x86-64-v3
    Avx512 = 2,   // x86-64-v4
};

constexpr std::string_view to_string(DecoderPath path) {
    switch (path) {
    case DecoderPath::Avx2:
        return "avx2";
    case DecoderPath::Avx512:
        return "avx512";
    case DecoderPath::Baseline:
        break;
    }
    return "baseline";
}

// The paths this processor runs, from Baseline up; the last is the one the decoders use.
std::span<const DecoderPath> available_decoder_paths();

// The widest available path, decided once, on first use.
DecoderPath best_decoder_path();

} // namespace tarnvale::raw
