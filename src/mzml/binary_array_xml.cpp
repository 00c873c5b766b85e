#include "mzml/binary_array_xml.hpp"

#include "mzml/xml.hpp"

namespace tarnvale::mzml {

namespace {

void append_array(std::string& out, std::string_view indent, std::span<const std::uint8_t> payload,
                  Term data_type, Compression compression, ArrayKind kind, std::string_view array_name) {
    const std::string inner = std::string(indent) + "  ";
    out += indent;
    out += "<binaryDataArray encodedLength=\"";
    append_decimal(out, base64_length(payload.size()));
    out += "\">\n";
    append_cv_param(out, inner, data_type);
    append_cv_param(out, inner,
                    compression == Compression::Zlib ? Term::ZlibCompression : Term::NoCompression);
    if (kind.unit)
        append_cv_param(out, inner, kind.array, array_name, *kind.unit);
    else
        append_cv_param(out, inner, kind.array, array_name);
    out += inner;
    out += "<binary>";
    append_base64(payload, out);
    out += "</binary>\n";
    out += indent;
    out += "</binaryDataArray>\n";
}

} // namespace

void append_binary_array(std::string& out, std::string_view indent, ArrayEncoder& encoder,
                         std::span<const double> values, ArrayKind kind, std::string_view array_name) {
    append_array(out, indent, encoder.payload(values), Term::Float64, encoder.compression(), kind,
                 array_name);
}

void append_binary_array(std::string& out, std::string_view indent, ArrayEncoder& encoder,
                         std::span<const float> values, ArrayKind kind) {
    append_array(out, indent, encoder.payload(values), Term::Float32, encoder.compression(), kind, {});
}

} // namespace tarnvale::mzml
