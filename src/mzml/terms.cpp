#include "mzml/terms.hpp"

#include <array>
#include <optional>
#include <string>

#include "mzml/xml.hpp"

namespace tarnvale::mzml {

namespace {

// The accession/name pairs, checked against the PSI-MS and UO ontologies by the tests.
constexpr std::array table = {
    TermInfo{Term::MsLevel, "MS:1000511", "ms level"},
    TermInfo{Term::MassSpectrum, "MS:1000294", "mass spectrum"},
    TermInfo{Term::PositivePolarityAcquisition, "MS:1000077", "positive polarity acquisition"},
    TermInfo{Term::NegativePolarityAcquisition, "MS:1000076", "negative polarity acquisition"},
    TermInfo{Term::Ms1Spectrum, "MS:1000579", "MS1 spectrum"},
    TermInfo{Term::MsnSpectrum, "MS:1000580", "MSn spectrum"},
    TermInfo{
        Term::ImsDataIndependentAcquisition, "MS:1003226",
        "data independent acquisition from dissociation of full mass range after ion mobility separation"},
    TermInfo{Term::CentroidSpectrum, "MS:1000127", "centroid spectrum"},
    TermInfo{Term::ProfileSpectrum, "MS:1000128", "profile spectrum"},
    TermInfo{Term::PositiveScan, "MS:1000130", "positive scan"},
    TermInfo{Term::NegativeScan, "MS:1000129", "negative scan"},
    TermInfo{Term::TotalIonCurrent, "MS:1000285", "total ion current"},
    TermInfo{Term::BasePeakMz, "MS:1000504", "base peak m/z"},
    TermInfo{Term::BasePeakIntensity, "MS:1000505", "base peak intensity"},
    TermInfo{Term::LowestObservedMz, "MS:1000528", "lowest observed m/z"},
    TermInfo{Term::HighestObservedMz, "MS:1000527", "highest observed m/z"},
    TermInfo{Term::ScanStartTime, "MS:1000016", "scan start time"},
    TermInfo{Term::ScanWindowLowerLimit, "MS:1000501", "scan window lower limit"},
    TermInfo{Term::ScanWindowUpperLimit, "MS:1000500", "scan window upper limit"},
    TermInfo{Term::IonMobilityDriftTime, "MS:1002476", "ion mobility drift time"},
    TermInfo{Term::NoCombination, "MS:1000795", "no combination"},
    TermInfo{Term::CollisionInducedDissociation, "MS:1000133", "collision-induced dissociation"},
    TermInfo{Term::CollisionEnergy, "MS:1000045", "collision energy"},
    TermInfo{Term::MzArray, "MS:1000514", "m/z array"},
    TermInfo{Term::IntensityArray, "MS:1000515", "intensity array"},
    TermInfo{Term::RawIonMobilityDriftTimeArray, "MS:1003153", "raw ion mobility drift time array"},
    TermInfo{Term::TimeArray, "MS:1000595", "time array"},
    TermInfo{Term::NonStandardDataArray, "MS:1000786", "non-standard data array"},
    TermInfo{Term::TemperatureArray, "MS:1000822", "temperature array"},
    TermInfo{Term::PressureArray, "MS:1000821", "pressure array"},
    TermInfo{Term::FlowRateArray, "MS:1000820", "flow rate array"},
    TermInfo{Term::Float64, "MS:1000523", "64-bit float"},
    TermInfo{Term::Float32, "MS:1000521", "32-bit float"},
    TermInfo{Term::ZlibCompression, "MS:1000574", "zlib compression"},
    TermInfo{Term::NoCompression, "MS:1000576", "no compression"},
    TermInfo{Term::NumpressLinear, "MS:1002312", "MS-Numpress linear prediction compression"},
    TermInfo{Term::NumpressSlof, "MS:1002314", "MS-Numpress short logged float compression"},
    TermInfo{Term::NumpressLinearZlib, "MS:1002746",
             "MS-Numpress linear prediction compression followed by zlib compression"},
    TermInfo{Term::NumpressSlofZlib, "MS:1002748",
             "MS-Numpress short logged float compression followed by zlib compression"},
    TermInfo{Term::TotalIonCurrentChromatogram, "MS:1000235", "total ion current chromatogram"},
    TermInfo{Term::BasePeakChromatogram, "MS:1000628", "basepeak chromatogram"},
    TermInfo{Term::PressureChromatogram, "MS:1003019", "pressure chromatogram"},
    TermInfo{Term::TemperatureChromatogram, "MS:1002715", "temperature chromatogram"},
    TermInfo{Term::FlowRateChromatogram, "MS:1003020", "flow rate chromatogram"},
    TermInfo{Term::AbsorptionChromatogram, "MS:1000812", "absorption chromatogram"},
    TermInfo{Term::EmissionChromatogram, "MS:1000813", "emission chromatogram"},
    TermInfo{Term::ElectromagneticRadiationChromatogram, "MS:1000811",
             "electromagnetic radiation chromatogram"},
    TermInfo{Term::WatersRawFormat, "MS:1000526", "Waters raw format"},
    TermInfo{Term::WatersNativeIdFormat, "MS:1000769", "Waters nativeID format"},
    TermInfo{Term::Sha1Checksum, "MS:1000569", "SHA-1"},
    TermInfo{Term::SampleName, "MS:1000002", "sample name"},
    TermInfo{Term::CustomUnreleasedSoftwareTool, "MS:1000799", "custom unreleased software tool"},
    TermInfo{Term::ConversionToMzml, "MS:1000544", "Conversion to mzML"},
    TermInfo{Term::PeakPicking, "MS:1000035", "peak picking"},
    TermInfo{Term::MzCalibration, "MS:1001485", "m/z calibration"},
    TermInfo{Term::WatersInstrumentModel, "MS:1000126", "Waters instrument model"},
    TermInfo{Term::SynaptG2Si, "MS:1002726", "SYNAPT G2-Si"},
    TermInfo{Term::SynaptG2Hdms, "MS:1001777", "Synapt G2 HDMS"},
    TermInfo{Term::SynaptHdms, "MS:1001781", "Synapt HDMS"},
    TermInfo{Term::SynaptXs, "MS:1003183", "Synapt XS"},
    TermInfo{Term::MzUnit, "MS:1000040", "m/z"},
    TermInfo{Term::DetectorCounts, "MS:1000131", "number of detector counts"},
    TermInfo{Term::AbsorbanceUnit, "UO:0000269", "absorbance unit"},
    TermInfo{Term::Minute, "UO:0000031", "minute"},
    TermInfo{Term::Millisecond, "UO:0000028", "millisecond"},
    TermInfo{Term::Electronvolt, "UO:0000266", "electronvolt"},
    TermInfo{Term::DegreeCelsius, "UO:0000027", "degree Celsius"},
    TermInfo{Term::Kelvin, "UO:0000012", "kelvin"},
    TermInfo{Term::Pascal, "UO:0000110", "pascal"},
    TermInfo{Term::MicrolitersPerMinute, "UO:0000271", "microliters per minute"},
};

// term_info indexes the table by the enumerator's value.
constexpr bool table_follows_enum() {
    for (std::size_t i = 0; i < table.size(); ++i)
        if (static_cast<std::size_t>(table[i].term) != i) return false;
    return table.back().term == Term::MicrolitersPerMinute;
}
static_assert(table_follows_enum(), "the term table must list every Term in declaration order");

// Each term's fixed text, made once: `<cvParam cvRef=… accession=… name=… value="`
// before the value, and as a unit, `" unitCvRef=… unitAccession=… unitName=…/>` and
// the newline after it. A parameter line is then a handful of appends.
struct TermText {
    std::string param_start;
    std::string unit_end;
};

std::string_view cv_ref_of(const TermInfo& info) {
    return info.accession.substr(0, info.accession.find(':'));
}

const std::array<TermText, table.size()>& term_texts() {
    static const std::array<TermText, table.size()> texts = [] {
        std::array<TermText, table.size()> made;
        for (std::size_t i = 0; i < table.size(); ++i) {
            const TermInfo& info = table[i];
            made[i].param_start = std::string("<cvParam cvRef=\"") + std::string(cv_ref_of(info)) +
                                  "\" accession=\"" + std::string(info.accession) + "\" name=\"" +
                                  std::string(info.name) + "\" value=\"";
            made[i].unit_end = std::string("\" unitCvRef=\"") + std::string(cv_ref_of(info)) +
                               "\" unitAccession=\"" + std::string(info.accession) + "\" unitName=\"" +
                               std::string(info.name) + "\"/>\n";
        }
        return made;
    }();
    return texts;
}

const TermText& text_of(Term term) { return term_texts()[static_cast<std::size_t>(term)]; }

void append_param_start(std::string& out, std::string_view indent, Term term) {
    out += indent;
    out += text_of(term).param_start;
}

void append_param_end(std::string& out, std::optional<Term> unit) {
    if (unit)
        out += text_of(*unit).unit_end;
    else
        out += "\"/>\n";
}

} // namespace

const TermInfo& term_info(Term term) { return table[static_cast<std::size_t>(term)]; }

std::span<const TermInfo> all_terms() { return table; }

std::string_view cv_ref(Term term) { return cv_ref_of(term_info(term)); }

void append_cv_param(std::string& out, std::string_view indent, Term term, std::string_view value) {
    append_param_start(out, indent, term);
    append_escaped_attribute(out, value);
    append_param_end(out, std::nullopt);
}

void append_cv_param(std::string& out, std::string_view indent, Term term, std::string_view value,
                     Term unit) {
    append_param_start(out, indent, term);
    append_escaped_attribute(out, value);
    append_param_end(out, unit);
}

void append_number_param(std::string& out, std::string_view indent, Term term, double value,
                         std::optional<Term> unit) {
    append_param_start(out, indent, term);
    append_xsd_double(out, value);
    append_param_end(out, unit);
}

void append_number_param(std::string& out, std::string_view indent, Term term, float value,
                         std::optional<Term> unit) {
    append_param_start(out, indent, term);
    append_xsd_float(out, value);
    append_param_end(out, unit);
}

void append_user_param(std::string& out, std::string_view indent, std::string_view name,
                       std::string_view value, std::string_view type) {
    out += indent;
    out += "<userParam";
    append_attribute(out, "name", name);
    append_attribute(out, "value", value);
    if (!type.empty()) append_attribute(out, "type", type);
    out += "/>\n";
}

} // namespace tarnvale::mzml
