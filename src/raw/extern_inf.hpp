// _extern.inf: time-of-flight constants, polarity and function kinds.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string_view>

#include "error.hpp"

namespace tarnvale::raw {

enum class FunctionKind : std::uint8_t {
    TofMs = 0,
    Parent = 1,
    Msms = 2,
    Daughter = 3,
    Reference = 4,
    Other = 5
};
enum class Polarity : std::uint8_t { Positive, Negative };

struct ExternFunction {
    std::optional<double> adc_pusher_frequency;
    std::optional<double> set_mass;
    double start_mass = 0.0;
    double end_mass = 0.0;
    std::uint32_t number = 0;
    FunctionKind kind = FunctionKind::Other;
};

struct ExternInf {
    std::optional<double> pusher_interval; // µs
    double lteff = 0.0;                    // mm
    double veff = 0.0;                     // V
    std::map<std::uint32_t, ExternFunction> functions;
    std::optional<Polarity> polarity;

    static Result<ExternInf> from_str(std::string_view text);
    static Result<ExternInf> from_path(const std::filesystem::path& path);

    // 2 for Parent / Msms / Daughter functions, 1 otherwise (also when undescribed).
    std::uint32_t ms_level(std::uint32_t function) const;
};

} // namespace tarnvale::raw
