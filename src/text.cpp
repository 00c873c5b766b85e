#include "text.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <limits>
#include <locale.h>

namespace tarnvale {

namespace {

constexpr char32_t replacement_character = 0xFFFD;

struct Decoded {
    char32_t code_point; // U+FFFD for an invalid subsequence
    std::size_t length;  // bytes consumed, at least one
    bool valid;
};

Decoded invalid(std::size_t length) { return {replacement_character, length, false}; }

bool in_range(std::uint8_t byte, std::uint8_t low, std::uint8_t high) { return byte >= low && byte <= high; }

// Decodes the character at `at`. An invalid sequence consumes its maximal prefix
// that could still begin a well-formed sequence (at least one byte), which is the
// substitution practice recommended by Unicode and used by CPython's "replace".
Decoded decode_at(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    const std::uint8_t lead = byte(at);
    if (lead < 0x80) return {lead, 1, true};

    std::size_t needed;                   // continuation bytes after the lead byte
    std::uint8_t low = 0x80, high = 0xBF; // allowed range of the first continuation byte
    char32_t value;
    if (in_range(lead, 0xC2, 0xDF)) {
        needed = 1;
        value = lead & 0x1F;
    } else if (in_range(lead, 0xE0, 0xEF)) {
        needed = 2;
        value = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;  // no overlong forms
        if (lead == 0xED) high = 0x9F; // no surrogates
    } else if (in_range(lead, 0xF0, 0xF4)) {
        needed = 3;
        value = lead & 0x07;
        if (lead == 0xF0) low = 0x90;  // no overlong forms
        if (lead == 0xF4) high = 0x8F; // nothing above U+10FFFF
    } else {
        return invalid(1);
    }

    std::size_t length = 1;
    for (std::size_t i = 0; i < needed; ++i, ++length) {
        if (at + length >= text.size()) return invalid(length);
        const std::uint8_t next = byte(at + length);
        if (!(i == 0 ? in_range(next, low, high) : in_range(next, 0x80, 0xBF))) return invalid(length);
        value = (value << 6) | (next & 0x3F);
    }
    return {value, length, true};
}

// Length of the valid UTF-8 prefix; ASCII runs are checked eight bytes at a time.
std::size_t valid_utf8_prefix(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size()) {
        if (at + 8 <= text.size()) {
            std::uint64_t chunk;
            std::memcpy(&chunk, text.data() + at, 8);
            if ((chunk & 0x8080808080808080ULL) == 0) {
                at += 8;
                continue;
            }
        }
        const auto decoded = decode_at(text, at);
        if (!decoded.valid) return at;
        at += decoded.length;
    }
    return at;
}

std::string_view as_chars(std::span<const std::uint8_t> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// Length of the white-space character that ends `text`, or 0. Every white-space
// character starts with a lead byte, so matching the last one or few bytes is exact.
std::size_t trailing_whitespace_length(std::string_view text) {
    for (std::size_t length = 1; length <= 3 && length <= text.size(); ++length) {
        const std::size_t at = text.size() - length;
        const auto lead = static_cast<std::uint8_t>(text[at]);
        if (lead >= 0x80 && lead < 0xC0) continue; // continuation byte: look further back
        const auto decoded = decode_at(text, at);
        return decoded.length == length && is_unicode_whitespace(decoded.code_point) ? length : 0;
    }
    return 0;
}

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
template <class Float> std::string format_shortest(Float value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    std::array<char, 64> buffer;
    const auto result =
        std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, std::chars_format::scientific);
    std::string_view scientific(buffer.data(), static_cast<std::size_t>(result.ptr - buffer.data()));

    std::string out;
    if (scientific.front() == '-') {
        out += '-';
        scientific.remove_prefix(1);
    }
    // "d.ddde±xx" or "de±xx"
    const std::size_t exponent_mark = scientific.find('e');
    std::string digits(1, scientific.front());
    if (exponent_mark > 1) digits.append(scientific.substr(2, exponent_mark - 2));
    std::string_view exponent_text = scientific.substr(exponent_mark + 1);
    if (exponent_text.front() == '+') exponent_text.remove_prefix(1);
    int exponent = 0;
    std::from_chars(exponent_text.data(), exponent_text.data() + exponent_text.size(), exponent);

    // Number of digits before the decimal point (zero or negative: leading zeros after "0.").
    const long integer_digits = static_cast<long>(exponent) + 1;
    if (integer_digits <= 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-integer_digits), '0');
        out += digits;
    } else if (static_cast<std::size_t>(integer_digits) >= digits.size()) {
        out += digits;
        out.append(static_cast<std::size_t>(integer_digits) - digits.size(), '0');
    } else {
        const auto split = static_cast<std::size_t>(integer_digits);
        out += digits.substr(0, split);
        out += '.';
        out += digits.substr(split);
    }
    return out;
}

struct CodePointRange {
    char32_t first;
    char32_t last;
};

// Characters that debug quoting writes as \u{…}, sorted: controls (Cc), spaces other
// than U+0020 and the line/paragraph separators (Zs, Zl, Zp), format characters (Cf),
// surrogates and private use (Cs, Co) and the noncharacters U+FDD0–U+FDEF. They are
// invisible or ambiguous in a message; every other character stands as it is.
constexpr CodePointRange non_printable_ranges[] = {
    {0x0000, 0x001F},   {0x007F, 0x00A0},    {0x00AD, 0x00AD},   {0x0600, 0x0605},   {0x061C, 0x061C},
    {0x06DD, 0x06DD},   {0x070F, 0x070F},    {0x0890, 0x0891},   {0x08E2, 0x08E2},   {0x1680, 0x1680},
    {0x180E, 0x180E},   {0x2000, 0x200F},    {0x2028, 0x202F},   {0x205F, 0x2064},   {0x2066, 0x206F},
    {0x3000, 0x3000},   {0xD800, 0xF8FF},    {0xFDD0, 0xFDEF},   {0xFEFF, 0xFEFF},   {0xFFF9, 0xFFFB},
    {0x110BD, 0x110BD}, {0x110CD, 0x110CD},  {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A},
    {0xE0000, 0xE007F}, {0xF0000, 0x10FFFF},
};

bool is_printable(char32_t c) {
    if (c >= 0x20 && c < 0x7F) return true;
    if ((c & 0xFFFE) == 0xFFFE) return false; // U+xFFFE and U+xFFFF of every plane
    const auto starts_after = [](char32_t value, const CodePointRange& range) { return value < range.first; };
    const auto* after =
        std::upper_bound(std::begin(non_printable_ranges), std::end(non_printable_ranges), c, starts_after);
    return after == std::begin(non_printable_ranges) || c > std::prev(after)->last;
}

void append_hex_escape(std::string& out, char32_t c) {
    std::array<char, 8> digits;
    const auto result =
        std::to_chars(digits.data(), digits.data() + digits.size(), static_cast<std::uint32_t>(c), 16);
    out += "\\u{";
    out.append(digits.data(), result.ptr);
    out += '}';
}

} // namespace

std::vector<std::string_view> split_lines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t line_feed = text.find('\n', start);
        if (line_feed == std::string_view::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        std::size_t end = line_feed;
        if (end > start && text[end - 1] == '\r') --end;
        lines.push_back(text.substr(start, end - start));
        start = line_feed + 1;
    }
    return lines;
}

bool is_unicode_whitespace(char32_t c) {
    switch (c) {
    case 0x09:
    case 0x0A:
    case 0x0B:
    case 0x0C:
    case 0x0D:
    case 0x20:
    case 0x85:
    case 0xA0:
    case 0x1680:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000:
        return true;
    default:
        return c >= 0x2000 && c <= 0x200A;
    }
}

std::string_view trim_start(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size()) {
        const auto decoded = decode_at(text, at);
        if (!is_unicode_whitespace(decoded.code_point)) break;
        at += decoded.length;
    }
    return text.substr(at);
}

std::string_view trim_end(std::string_view text) {
    while (const std::size_t length = trailing_whitespace_length(text)) text.remove_suffix(length);
    return text;
}

std::string_view trim(std::string_view text) { return trim_end(trim_start(text)); }

std::vector<std::string_view> split_whitespace(std::string_view text) {
    std::vector<std::string_view> pieces;
    std::size_t at = 0;
    std::size_t piece_start = 0;
    while (at < text.size()) {
        const auto decoded = decode_at(text, at);
        if (is_unicode_whitespace(decoded.code_point)) {
            if (at > piece_start) pieces.push_back(text.substr(piece_start, at - piece_start));
            piece_start = at + decoded.length;
        }
        at += decoded.length;
    }
    if (text.size() > piece_start) pieces.push_back(text.substr(piece_start));
    return pieces;
}

bool is_valid_utf8(std::span<const std::uint8_t> bytes) {
    const auto text = as_chars(bytes);
    return valid_utf8_prefix(text) == text.size();
}

std::string lossy_utf8(std::string_view bytes) {
    std::size_t valid = valid_utf8_prefix(bytes);
    if (valid == bytes.size()) return std::string(bytes);
    std::string out;
    out.reserve(bytes.size() + 16);
    out.append(bytes.substr(0, valid));
    for (std::size_t at = valid; at < bytes.size();) {
        const auto decoded = decode_at(bytes, at);
        if (decoded.valid)
            out.append(bytes.substr(at, decoded.length));
        else
            append_utf8(out, replacement_character);
        at += decoded.length;
    }
    return out;
}

std::string lossy_utf8(std::span<const std::uint8_t> bytes) { return lossy_utf8(as_chars(bytes)); }

void append_utf8(std::string& out, char32_t c) {
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = replacement_character;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::string ascii_upper(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

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

std::string debug_quote(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for (std::size_t at = 0; at < text.size();) {
        const auto decoded = decode_at(text, at);
        const char32_t c = decoded.code_point;
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '"':
            out += "\\\"";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\0':
            out += "\\0";
            break;
        default:
            if (!is_printable(c))
                append_hex_escape(out, c);
            else if (decoded.valid)
                out.append(text.substr(at, decoded.length));
            else
                append_utf8(out, replacement_character);
        }
        at += decoded.length;
    }
    out += '"';
    return out;
}

std::string display_path(const std::filesystem::path& path) {
    return lossy_utf8(std::string_view(path.native()));
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
