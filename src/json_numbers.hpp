// Numbers as JSON text, for arrays handed to a browser: each value is the shortest
// decimal that reads back to the same double, laid out as Python's repr lays it out
// (so the text equals json.dumps of the same values), and a value JSON cannot hold
// (NaN, an infinity) is written as null.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace tarnvale {

// "0.1", "1234.0", "1e+16", "1.5e-07", "-0.0"; "null" for NaN and the infinities.
void append_json_number(std::string& out, double value);

// "[v0,v1,...]" without spaces. A float is written as its value widened to double,
// so that 0.1f reads back as the double nearest to that float, not as 0.1.
void append_json_array(std::string& out, std::span<const double> values);
void append_json_array(std::string& out, std::span<const float> values);
void append_json_array(std::string& out, std::span<const std::uint64_t> values);

// The values at `picks` only, in the order of `picks`; every pick is < values.size().
void append_json_array(std::string& out, std::span<const double> values,
                       std::span<const std::uint64_t> picks);
void append_json_array(std::string& out, std::span<const float> values, std::span<const std::uint64_t> picks);
void append_json_array(std::string& out, std::span<const std::uint64_t> values,
                       std::span<const std::uint64_t> picks);

} // namespace tarnvale
