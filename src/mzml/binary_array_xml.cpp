#include "mzml/binary_array_xml.hpp"

#include "mzml/xml.hpp"

namespace tarnvale::mzml {

namespace {

ArrayRole role_of(Term array) {
    switch (array) {
    case Term::MzArray:
        return ArrayRole::Mz;
    case Term::TimeArray:
        return ArrayRole::Time;
    case Term::IntensityArray:
        return ArrayRole::Intensity;
    default:
        return ArrayRole::Other;
    }
}

void append_array(std::string& out, std::string_view indent, const EncodedArray& encoded, ArrayKind kind,
                  std::string_view array_name) {
    const std::string inner = std::string(indent) + "  ";
    out += indent;
    out += "<binaryDataArray encodedLength=\"";
    append_decimal(out, base64_length(encoded.payload.size()));
    out += "\">\n";
    append_cv_param(out, inner, encoded.data_type);
    append_cv_param(out, inner, encoded.compression);
    if (kind.unit)
        append_cv_param(out, inner, kind.array, array_name, *kind.unit);
    else
        append_cv_param(out, inner, kind.array, array_name);
    out += inner;
    out += "<binary>";
    append_base64(encoded.payload, out);
    out += "</binary>\n";
    out += indent;
    out += "</binaryDataArray>\n";
}

} // namespace

void append_binary_array(std::string& out, std::string_view indent, ArrayEncoder& encoder,
                         std::span<const double> values, ArrayKind kind, std::string_view array_name) {
    append_array(out, indent, encoder.encode(values, role_of(kind.array)), kind, array_name);
}

void append_binary_array(std::string& out, std::string_view indent, ArrayEncoder& encoder,
                         std::span<const float> values, ArrayKind kind) {
    append_array(out, indent, encoder.encode(values, role_of(kind.array)), kind, {});
}

} // namespace tarnvale::mzml
