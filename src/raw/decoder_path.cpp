#include "raw/decoder_path.hpp"

#include <array>
#include <cstddef>

namespace tarnvale::raw {

namespace {

struct AvailablePaths {
    std::array<DecoderPath, 3> paths{DecoderPath::Baseline};
    std::size_t count = 1;
};

// The processor and the operating system must both support a level (the check
// includes whether the OS saves the wide registers).
AvailablePaths detect_paths() {
    AvailablePaths available;
#if defined(__x86_64__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("x86-64-v3")) available.paths[available.count++] = DecoderPath::Avx2;
    if (__builtin_cpu_supports("x86-64-v4")) available.paths[available.count++] = DecoderPath::Avx512;
#endif
    return available;
}

const AvailablePaths& available() {
    static const AvailablePaths paths = detect_paths();
    return paths;
}

} // namespace

std::span<const DecoderPath> available_decoder_paths() {
    const AvailablePaths& paths = available();
    return {paths.paths.data(), paths.count};
}

DecoderPath best_decoder_path() { return available_decoder_paths().back(); }

} // namespace tarnvale::raw
