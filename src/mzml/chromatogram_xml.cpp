#include "mzml/chromatogram_xml.hpp"

#include <format>
#include <iterator>

#include "mzml/binary_array_xml.hpp"
#include "mzml/channel_terms.hpp"
#include "mzml/spectrum_xml.hpp"
#include "mzml/terms.hpp"
#include "mzml/xml.hpp"

namespace tarnvale::mzml {

namespace {

constexpr std::string_view in1 = "          ";   // chromatogram content
constexpr std::string_view in2 = "            "; // binaryDataArray

struct ValueArray {
    ArrayKind kind;
    std::string_view name; // the value of a non-standard data array's term
};

// Instrument channels keep their own name and units text as user parameters.
ValueArray append_type_params(std::string& out, const ChromatogramInput& c) {
    switch (c.kind) {
    case ChromatogramKind::TotalIonCurrent:
        append_cv_param(out, in1, Term::TotalIonCurrentChromatogram);
        return {{Term::IntensityArray, Term::DetectorCounts}, {}};
    case ChromatogramKind::BasePeak:
        append_cv_param(out, in1, Term::BasePeakChromatogram);
        return {{Term::IntensityArray, Term::DetectorCounts}, {}};
    case ChromatogramKind::InstrumentChannel:
        break;
    }
    const ChannelTerms terms = channel_terms(c.channel_name, c.channel_units);
    append_cv_param(out, in1, channel_chromatogram_type(c.channel_name, c.channel_units));
    append_user_param(out, in1, "channel name", c.channel_name, "xsd:string");
    append_user_param(out, in1, "channel units", c.channel_units, "xsd:string");
    if (terms.array != Term::NonStandardDataArray) return {{terms.array, terms.unit}, {}};
    return {{terms.array, terms.unit}, c.channel_name.empty() ? std::string_view(c.id) : c.channel_name};
}

} // namespace

Result<void> check_chromatogram(const ChromatogramInput& c) {
    if (c.id.empty()) return parse_error("a chromatogram without an id");
    if (c.time_minutes.size() != c.values.size())
        return parse_error(std::format("chromatogram \"{}\": {} times but {} values", c.id,
                                       c.time_minutes.size(), c.values.size()));
    return {};
}

void append_chromatogram(std::string& out, const ChromatogramInput& c, std::uint64_t index,
                         ArrayEncoder& encoder) {
    std::format_to(std::back_inserter(out), "<chromatogram index=\"{}\"", index);
    append_attribute(out, "id", c.id);
    std::format_to(std::back_inserter(out), " defaultArrayLength=\"{}\">\n", c.time_minutes.size());
    const ValueArray values = append_type_params(out, c);
    out += in1;
    out += "<binaryDataArrayList count=\"2\">\n";
    append_binary_array(out, in2, encoder, c.time_minutes, {Term::TimeArray, Term::Minute});
    append_binary_array(out, in2, encoder, c.values, values.kind, values.name);
    out += in1;
    out += "</binaryDataArrayList>\n";
    out += list_item_indent;
    out += "</chromatogram>\n";
}

} // namespace tarnvale::mzml
