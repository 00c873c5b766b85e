// Whether a function's calibration polynomial is applied to decoded values.
#pragma once

#include <cstdint>
#include <string_view>

namespace tarnvale::raw {

enum class CalType : std::uint8_t { T0 = 0, T1 = 1 };

constexpr std::string_view to_string(CalType type) { return type == CalType::T1 ? "T1" : "T0"; }

} // namespace tarnvale::raw
