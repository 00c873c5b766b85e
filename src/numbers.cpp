#include "numbers.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <locale.h>

namespace tarnvale {

namespace {

bool equals_ignoring_ascii_case(std::string_view text, std::string_view lower_word) {
    if (text.size() != lower_word.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != lower_word[i]) return false;
    }
    return true;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

std::size_t skip_digits(std::string_view text, std::size_t at) {
    while (at < text.size() && is_digit(text[at])) ++at;
    return at;
}

// Whether `text` (sign already removed) is digits, optional fraction, optional exponent.
bool is_decimal_syntax(std::string_view text) {
    std::size_t at = skip_digits(text, 0);
    std::size_t digits = at;
    if (at < text.size() && text[at] == '.') {
        const std::size_t fraction_end = skip_digits(text, at + 1);
        digits += fraction_end - (at + 1);
        at = fraction_end;
    }
    if (digits == 0) return false;
    if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
        ++at;
        if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
        const std::size_t exponent_end = skip_digits(text, at);
        if (exponent_end == at) return false;
        at = exponent_end;
    }
    return at == text.size();
}

// strtod in the C locale; used when from_chars declines a value that over- or underflows.
double strtod_c_locale(const std::string& text) {
    static const locale_t c_locale = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    if (c_locale == static_cast<locale_t>(nullptr)) return std::strtod(text.c_str(), nullptr);
    return ::strtod_l(text.c_str(), nullptr, c_locale);
}

// Converts validated decimal syntax (no sign) to the nearest double.
double convert_decimal(std::string_view digits) {
    double value = 0.0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error == std::errc() && end == digits.data() + digits.size()) return value;
    // Out of range: from_chars leaves the value untouched, strtod gives inf or the
    // correctly rounded subnormal / zero.
    return strtod_c_locale(std::string(digits));
}

// Shortest round-trip digits laid out in fixed notation: the significant digits are
// the shortest ones that read back to the same value, padded with zeros (1e300 is a 1
// and 300 zeros, not the exact binary expansion), and there is never an exponent.
// Written straight into `out`: the mzML writer lays out a handful per spectrum.
template <class Float> void append_shortest(std::string& out, Float value) {
    if (std::isnan(value)) {
        out += "NaN";
        return;
    }
    if (std::isinf(value)) {
        out += value < 0 ? "-inf" : "inf";
        return;
    }
    std::array<char, 64> buffer;
    const auto result =
        std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, std::chars_format::scientific);
    std::string_view scientific(buffer.data(), static_cast<std::size_t>(result.ptr - buffer.data()));
    if (scientific.front() == '-') {
        out += '-';
        scientific.remove_prefix(1);
    }
    // "d.ddde±xx" or "de±xx": the digits are the first one and those after the point.
    const std::size_t exponent_mark = scientific.find('e');
    const char first = scientific.front();
    const std::string_view rest = exponent_mark > 1 ? scientific.substr(2, exponent_mark - 2) : "";
    std::string_view exponent_text = scientific.substr(exponent_mark + 1);
    if (exponent_text.front() == '+') exponent_text.remove_prefix(1);
    int exponent = 0;
    std::from_chars(exponent_text.data(), exponent_text.data() + exponent_text.size(), exponent);

    // Digits before the decimal point (zero or negative: leading zeros after "0.").
    const long integer_digits = static_cast<long>(exponent) + 1;
    const std::size_t digit_count = 1 + rest.size();
    if (integer_digits <= 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-integer_digits), '0');
        out += first;
        out += rest;
    } else if (static_cast<std::size_t>(integer_digits) >= digit_count) {
        out += first;
        out += rest;
        out.append(static_cast<std::size_t>(integer_digits) - digit_count, '0');
    } else {
        const auto split = static_cast<std::size_t>(integer_digits) - 1; // digits of `rest` before the point
        out += first;
        out += rest.substr(0, split);
        out += '.';
        out += rest.substr(split);
    }
}

template <class Float> std::string format_shortest(Float value) {
    std::string out;
    append_shortest(out, value);
    return out;
}

} // namespace

std::optional<std::uint32_t> parse_u32(std::string_view text) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : text) {
        if (!is_digit(c)) return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (value > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

std::optional<double> parse_f64(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    double magnitude;
    if (equals_ignoring_ascii_case(text, "inf") || equals_ignoring_ascii_case(text, "infinity"))
        magnitude = std::numeric_limits<double>::infinity();
    else if (equals_ignoring_ascii_case(text, "nan"))
        magnitude = std::numeric_limits<double>::quiet_NaN();
    else if (is_decimal_syntax(text))
        magnitude = convert_decimal(text);
    else
        return std::nullopt;
    return negative ? -magnitude : magnitude;
}

std::string format_f64(double value) { return format_shortest(value); }

std::string format_f32(float value) { return format_shortest(value); }

void append_f64(std::string& out, double value) { append_shortest(out, value); }

void append_f32(std::string& out, float value) { append_shortest(out, value); }

std::string format_fixed(double value, int decimals) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    if (decimals < 0) decimals = 0;
    std::string buffer(static_cast<std::size_t>(decimals) + 320, '\0');
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                      std::chars_format::fixed, decimals);
    buffer.resize(static_cast<std::size_t>(result.ptr - buffer.data()));
    return buffer;
}

std::string format_list(std::span<const std::uint32_t> items) {
    std::string out = "[";
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) out += ", ";
        out += std::to_string(items[i]);
    }
    out += ']';
    return out;
}

} // namespace tarnvale
