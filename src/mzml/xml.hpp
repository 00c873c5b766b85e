// XML text helpers: escaping character data and attribute values, and names
// usable as xs:ID values.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarnvale::mzml {

// Appends text as element content: & < > escaped. Input that is not UTF-8 is
// decoded lossily, and characters XML 1.0 cannot carry at all (C0 controls other
// than tab, LF and CR; U+FFFE, U+FFFF) become U+FFFD.
void append_escaped_text(std::string& out, std::string_view text);

// Appends text as an attribute value between double quotes: as above, plus " and
// tab, LF and CR as character references so that attribute normalisation keeps them.
void append_escaped_attribute(std::string& out, std::string_view text);

// The unsigned integer in decimal, as std::format's "{}" writes it.
void append_decimal(std::string& out, std::uint64_t value);

// ` name="value"` with the value escaped.
void append_attribute(std::string& out, std::string_view name, std::string_view value);

// Shortest round-trip decimals in the xs:double / xs:float lexical space: infinities
// are "INF" and "-INF", NaN is "NaN"; never an exponent, never the locale's separator.
std::string xsd_double(double value);
std::string xsd_float(float value);
// The same texts appended to `out`.
void append_xsd_double(std::string& out, double value);
void append_xsd_float(std::string& out, float value);

// A valid xs:ID (an XML NCName) made from the text: every character other than
// ASCII letters, digits, '-', '.' and '_' becomes '_', and a '_' goes in front when
// the text is empty or does not start with a letter or '_'.
std::string ncname(std::string_view text);

} // namespace tarnvale::mzml
