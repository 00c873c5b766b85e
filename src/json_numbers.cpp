#include "json_numbers.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <string_view>
#include <system_error>
#include <type_traits>

namespace tarnvale {

namespace {

// Python's repr switches to an exponent below 1e-4 and from 1e16 on; `point` is
// where the decimal point falls after the first `point` significant digits.
constexpr int kSmallestFixedPoint = -3;
constexpr int kLargestFixedPoint = 16;

// Longest scientific form: sign, 17 digits, point, "e-308".
constexpr std::size_t kScientificMax = 32;

void append_zeros(std::string& out, int count) { out.append(static_cast<std::size_t>(count), '0'); }

// Lays out shortest `digits` with the decimal point after `point` of them
// (point <= 0: before them, with -point zeros in between).
void append_fixed(std::string& out, std::string_view digits, int point) {
    const auto count = static_cast<int>(digits.size());
    if (point <= 0) {
        out += "0.";
        append_zeros(out, -point);
        out += digits;
    } else if (point >= count) {
        out += digits;
        append_zeros(out, point - count);
        out += ".0";
    } else {
        out += digits.substr(0, static_cast<std::size_t>(point));
        out += '.';
        out += digits.substr(static_cast<std::size_t>(point));
    }
}

void append_scientific(std::string& out, std::string_view digits, int exponent) {
    out += digits[0];
    if (digits.size() > 1) {
        out += '.';
        out += digits.substr(1);
    }
    out += exponent < 0 ? "e-" : "e+";
    const int magnitude = exponent < 0 ? -exponent : exponent;
    if (magnitude < 10) out += '0';
    std::array<char, 8> text{};
    const auto [end, error] = std::to_chars(text.data(), text.data() + text.size(), magnitude);
    out.append(text.data(), end);
}

template <class T> void append_value(std::string& out, T value) {
    if constexpr (std::is_same_v<T, std::uint64_t>) {
        std::array<char, 24> text{};
        const auto [end, error] = std::to_chars(text.data(), text.data() + text.size(), value);
        out.append(text.data(), end);
    } else {
        append_json_number(out, static_cast<double>(value));
    }
}

template <class T> void append_all(std::string& out, std::span<const T> values) {
    out.reserve(out.size() + values.size() * 20 + 2);
    out += '[';
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i != 0) out += ',';
        append_value(out, values[i]);
    }
    out += ']';
}

template <class T>
void append_picked(std::string& out, std::span<const T> values, std::span<const std::uint64_t> picks) {
    out.reserve(out.size() + picks.size() * 20 + 2);
    out += '[';
    for (std::size_t i = 0; i < picks.size(); ++i) {
        if (i != 0) out += ',';
        append_value(out, values[static_cast<std::size_t>(picks[i])]);
    }
    out += ']';
}

} // namespace

void append_json_number(std::string& out, double value) {
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    // Shortest round-trip digits in scientific form, "-d.ddde+XX", taken apart.
    std::array<char, kScientificMax> text{};
    const auto [end, error] =
        std::to_chars(text.data(), text.data() + text.size(), value, std::chars_format::scientific);
    std::string_view form(text.data(), static_cast<std::size_t>(end - text.data()));
    if (form.front() == '-') {
        out += '-';
        form.remove_prefix(1);
    }
    const std::size_t e = form.find('e');
    std::array<char, 20> digits{};
    std::size_t count = 0;
    for (char c : form.substr(0, e))
        if (c != '.') digits[count++] = c;
    int exponent = 0;
    std::string_view exponent_text = form.substr(e + 1);
    if (exponent_text.front() == '+') exponent_text.remove_prefix(1);
    std::from_chars(exponent_text.data(), exponent_text.data() + exponent_text.size(), exponent);
    const std::string_view significant(digits.data(), count);
    const int point = exponent + 1;
    if (point >= kSmallestFixedPoint && point <= kLargestFixedPoint)
        append_fixed(out, significant, point);
    else
        append_scientific(out, significant, exponent);
}

void append_json_array(std::string& out, std::span<const double> values) { append_all(out, values); }
void append_json_array(std::string& out, std::span<const float> values) { append_all(out, values); }
void append_json_array(std::string& out, std::span<const std::uint64_t> values) { append_all(out, values); }

void append_json_array(std::string& out, std::span<const double> values,
                       std::span<const std::uint64_t> picks) {
    append_picked(out, values, picks);
}
void append_json_array(std::string& out, std::span<const float> values,
                       std::span<const std::uint64_t> picks) {
    append_picked(out, values, picks);
}
void append_json_array(std::string& out, std::span<const std::uint64_t> values,
                       std::span<const std::uint64_t> picks) {
    append_picked(out, values, picks);
}

} // namespace tarnvale
