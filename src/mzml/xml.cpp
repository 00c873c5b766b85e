#include "mzml/xml.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <type_traits>

#include "numbers.hpp"
#include "utf8.hpp"

namespace tarnvale::mzml {

namespace {

constexpr std::string_view replacement = "\xEF\xBF\xBD"; // U+FFFD

bool is_ascii_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }

// U+FFFE and U+FFFF in UTF-8.
bool is_noncharacter_at(std::string_view text, std::size_t at) {
    return text.substr(at, 2) == "\xEF\xBF" && at + 2 < text.size() &&
           (text[at + 2] == '\xBE' || text[at + 2] == '\xBF');
}

// Escapes valid UTF-8; `in_attribute` adds the quote and white-space references.
void append_escaped_utf8(std::string& out, std::string_view text, bool in_attribute) {
    for (std::size_t at = 0; at < text.size(); ++at) {
        const char c = text[at];
        switch (c) {
        case '&':
            out += "&amp;";
            continue;
        case '<':
            out += "&lt;";
            continue;
        case '>':
            out += "&gt;";
            continue;
        case '"':
            out += in_attribute ? "&quot;" : "\"";
            continue;
        case '\t':
            out += in_attribute ? "&#9;" : "\t";
            continue;
        case '\n':
            out += in_attribute ? "&#10;" : "\n";
            continue;
        case '\r':
            out += "&#13;"; // a literal CR would be folded into LF even in content
            continue;
        default:
            break;
        }
        if (static_cast<unsigned char>(c) < 0x20) {
            out += replacement;
        } else if (is_noncharacter_at(text, at)) {
            out += replacement;
            at += 2;
        } else {
            out += c;
        }
    }
}

// Printable ASCII other than & < > and " reads the same escaped or not: numbers and
// the writer's own words, most of what it writes, are appended as they are.
bool needs_no_escape(std::string_view text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x80 || c == '&' || c == '<' || c == '>' || c == '"') return false;
    }
    return true;
}

void append_escaped(std::string& out, std::string_view text, bool in_attribute) {
    if (needs_no_escape(text)) {
        out += text;
    } else if (is_valid_utf8({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()})) {
        append_escaped_utf8(out, text, in_attribute);
    } else {
        append_escaped_utf8(out, lossy_utf8(text), in_attribute);
    }
}

} // namespace

void append_escaped_text(std::string& out, std::string_view text) { append_escaped(out, text, false); }

void append_escaped_attribute(std::string& out, std::string_view text) { append_escaped(out, text, true); }

void append_decimal(std::string& out, std::uint64_t value) {
    std::array<char, std::numeric_limits<std::uint64_t>::digits10 + 1> digits;
    const auto result = std::to_chars(digits.data(), digits.data() + digits.size(), value);
    out.append(digits.data(), result.ptr);
}

void append_attribute(std::string& out, std::string_view name, std::string_view value) {
    out += ' ';
    out += name;
    out += "=\"";
    append_escaped_attribute(out, value);
    out += '"';
}

namespace {

// format_f64 / format_f32 but for the infinities, which xs:double spells INF and -INF.
template <class Float> void append_xsd_number(std::string& out, Float value) {
    if (std::isinf(value)) {
        out += value < 0 ? "-INF" : "INF";
    } else if constexpr (std::is_same_v<Float, float>) {
        append_f32(out, value);
    } else {
        append_f64(out, value);
    }
}

} // namespace

void append_xsd_double(std::string& out, double value) { append_xsd_number(out, value); }

void append_xsd_float(std::string& out, float value) { append_xsd_number(out, value); }

std::string xsd_double(double value) {
    std::string text;
    append_xsd_double(text, value);
    return text;
}

std::string xsd_float(float value) {
    std::string text;
    append_xsd_float(text, value);
    return text;
}

std::string ncname(std::string_view text) {
    std::string name;
    if (text.empty() || !(is_ascii_letter(text.front()) || text.front() == '_')) name += '_';
    for (const char c : text)
        name += is_ascii_letter(c) || is_ascii_digit(c) || c == '-' || c == '.' || c == '_' ? c : '_';
    return name;
}

} // namespace tarnvale::mzml
