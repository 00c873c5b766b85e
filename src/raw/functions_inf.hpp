// _FUNCTNS.INF: one 416-byte record per acquisition function.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

#include "error.hpp"

namespace tarnvale::raw {

inline constexpr std::size_t kFunctionRecordSize = 416;

struct FunctionInfo {
    std::uint32_t index = 0; // 1-based function number
    float cycle_time_s = 0;
    float interscan_delay_s = 0;
    float scan_time_s = 0;
    float mz_low = 0;
    float mz_high = 0;
    std::uint16_t tof_depth = 0;
    std::uint8_t function_type = 0;
    std::uint8_t scan_subtype = 0;

    bool is_lock_mass() const { return (scan_subtype & 0x80) != 0; }
};

struct FunctionTable {
    std::vector<FunctionInfo> functions;

    static Result<FunctionTable> from_bytes(std::span<const std::uint8_t> bytes);
    static Result<FunctionTable> from_path(const std::filesystem::path& path);
};

} // namespace tarnvale::raw
