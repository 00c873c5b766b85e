#include "mzml/xml.hpp"

#include <cmath>

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

void append_escaped(std::string& out, std::string_view text, bool in_attribute) {
    if (is_valid_utf8({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()})) {
        append_escaped_utf8(out, text, in_attribute);
    } else {
        append_escaped_utf8(out, lossy_utf8(text), in_attribute);
    }
}

} // namespace

void append_escaped_text(std::string& out, std::string_view text) { append_escaped(out, text, false); }

void append_escaped_attribute(std::string& out, std::string_view text) { append_escaped(out, text, true); }

void append_attribute(std::string& out, std::string_view name, std::string_view value) {
    out += ' ';
    out += name;
    out += "=\"";
    append_escaped_attribute(out, value);
    out += '"';
}

namespace {

template <class Float> std::string xsd_number(Float value, std::string shortest) {
    if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
    return shortest;
}

} // namespace

std::string xsd_double(double value) { return xsd_number(value, format_f64(value)); }

std::string xsd_float(float value) { return xsd_number(value, format_f32(value)); }

std::string ncname(std::string_view text) {
    std::string name;
    if (text.empty() || !(is_ascii_letter(text.front()) || text.front() == '_')) name += '_';
    for (const char c : text)
        name += is_ascii_letter(c) || is_ascii_digit(c) || c == '-' || c == '.' || c == '_' ? c : '_';
    return name;
}

} // namespace tarnvale::mzml
