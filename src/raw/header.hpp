// _HEADER.TXT: run metadata and per-function calibration.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "error.hpp"
#include "raw/cal_type.hpp"

namespace tarnvale::raw {

struct FunctionCal {
    std::vector<double> coefficients; // c0, c1, … as written
    CalType cal_type = CalType::T0;
};

struct Header {
    std::optional<std::string> version;
    std::optional<std::string> acquired_name;
    std::optional<std::string> acquired_date;
    std::optional<std::string> acquired_time;
    std::optional<std::string> instrument;
    std::optional<std::string> operator_; // "User Name"
    std::optional<std::string> sample_description;
    std::map<std::uint32_t, FunctionCal> cal_functions;

    static Result<Header> from_str(std::string_view text);
    static Result<Header> from_path(const std::filesystem::path& path);
};

// The value part of one "Cal Function N" line: "c0,c1,…,T0|T1".
Result<FunctionCal> parse_cal_value(std::string_view value);

} // namespace tarnvale::raw
