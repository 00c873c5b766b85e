// _CHROMS.INF (channel descriptions) and _CHROnnn.DAT (channel samples).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "error.hpp"

namespace tarnvale::raw {

struct ChromChannel {
    std::size_t index = 0;
    std::uint32_t source_type = 0;
    std::string name;
    double scale_f = 1.0;
    std::string units;
};

struct ChromsInf {
    std::vector<ChromChannel> channels;

    static Result<ChromsInf> from_bytes(std::span<const std::uint8_t> bytes);
    static Result<ChromsInf> from_path(const std::filesystem::path& path);
};

struct ChromPoint {
    float rt_min = 0;
    float value = 0;
};

Result<std::vector<ChromPoint>> parse_chro_bytes(std::span<const std::uint8_t> bytes);
Result<std::vector<ChromPoint>> read_chro_dat(const std::filesystem::path& path);

} // namespace tarnvale::raw
