// What every intensity the scan decoders produce has in common: it is a multiple of
// 2^-16 no larger than 2^16 in magnitude. Any sum of up to 2^21 such values needs at
// most 53 significant bits and is exact in float64, so the order of the additions
// cannot change it: sums of them may be taken in lanes.
#pragma once

#include <cstddef>

namespace tarnvale::raw {

// One over the grid's step: an intensity times this is a whole number.
inline constexpr float kIntensityGridScale = 65536.0F;
// The most intensities on the grid whose sum is exact whatever its order.
inline constexpr std::size_t kExactSumPoints = std::size_t{1} << 21;

} // namespace tarnvale::raw
