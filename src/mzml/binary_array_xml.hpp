// One <binaryDataArray> element: encodedLength, data type, compression, array
// type with its unit, and the base64 text.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "mzml/array_encoder.hpp"
#include "mzml/terms.hpp"

namespace tarnvale::mzml {

struct ArrayKind {
    Term array;
    std::optional<Term> unit;
};

// `indent` is the element's own indentation; the text starts with it and ends with a
// newline. `array_name` is the value of the array term (a non-standard array's name).
// The array term decides how the encoder treats the values (m/z, times, intensities).
void append_binary_array(std::string& out, std::string_view indent, ArrayEncoder& encoder,
                         std::span<const double> values, ArrayKind kind, std::string_view array_name = {});
void append_binary_array(std::string& out, std::string_view indent, ArrayEncoder& encoder,
                         std::span<const float> values, ArrayKind kind);

} // namespace tarnvale::mzml
