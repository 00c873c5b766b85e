// Number syntax of the text files, and the number forms of messages and reprs.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tarnvale {

// Optional "+", one or more ASCII digits, value at most 4294967295. Nothing else.
std::optional<std::uint32_t> parse_u32(std::string_view text);
// Optional sign, digits with optional fraction (at least one digit), optional exponent;
// or inf / infinity / nan in any case with optional sign. Correctly rounded.
std::optional<double> parse_f64(std::string_view text);

// Shortest round-trip decimal, never an exponent, no decimal point when integral;
// NaN as "NaN", infinities as "inf" / "-inf", negative zero as "-0".
std::string format_f64(double value);
std::string format_f32(float value); // shortest form that reads back to the same f32
// The same texts appended to `out`.
void append_f64(std::string& out, double value);
void append_f32(std::string& out, float value);

// Fixed notation with `decimals` digits after the point (none and no point for 0),
// rounded from the exact binary value, ties to even; NaN / inf / -inf as words.
std::string format_fixed(double value, int decimals);

// Items joined as "[a, b, c]".
std::string format_list(std::span<const std::uint32_t> items);

} // namespace tarnvale
