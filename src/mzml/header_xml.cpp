#include "mzml/header_xml.hpp"

#include <algorithm>
#include <format>
#include <iterator>
#include <string>

#include "mzml/instrument_model.hpp"
#include "mzml/terms.hpp"
#include "mzml/xml.hpp"

namespace tarnvale::mzml {

namespace {

constexpr std::string_view source_file_id = "RAW1";
constexpr std::string_view software_id = "tarnvale";
constexpr std::string_view instrument_id = "IC1";
constexpr std::string_view processing_id = "tarnvale_conversion";
constexpr std::string_view sample_id = "sample1";

constexpr std::string_view namespaces = "xmlns=\"http://psi.hupo.org/ms/mzml\" "
                                        "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"";
constexpr std::string_view schema_base = "http://psi.hupo.org/ms/mzml http://psidev.info/files/ms/mzML/xsd/";

bool is_lower_hex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

void append_root_and_cv_list(std::string& out, const RunDescription& run) {
    out += "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";
    std::format_to(std::back_inserter(out), "<indexedmzML {} xsi:schemaLocation=\"{}mzML1.1.2_idx.xsd\">\n",
                   namespaces, schema_base);
    std::format_to(std::back_inserter(out), "  <mzML {} xsi:schemaLocation=\"{}mzML1.1.0.xsd\"", namespaces,
                   schema_base);
    append_attribute(out, "id", run.run_id);
    out += " version=\"1.1.0\">\n"
           "    <cvList count=\"2\">\n"
           "      <cv id=\"MS\" fullName=\"Proteomics Standards Initiative Mass Spectrometry Ontology\" "
           "URI=\"http://purl.obolibrary.org/obo/ms/psi-ms.obo\"/>\n"
           "      <cv id=\"UO\" fullName=\"Unit Ontology\" URI=\"http://purl.obolibrary.org/obo/uo.obo\"/>\n"
           "    </cvList>\n";
}

// Pressure, temperature and flow-rate chromatograms have types of their own, but no
// term of what a data file holds names them.
bool names_file_content(Term chromatogram_type) {
    switch (chromatogram_type) {
    case Term::TotalIonCurrentChromatogram:
    case Term::BasePeakChromatogram:
    case Term::AbsorptionChromatogram:
    case Term::EmissionChromatogram:
    case Term::ElectromagneticRadiationChromatogram:
        return true;
    default:
        return false;
    }
}

// The file's content must name at least one term. A file of pressure traces alone
// (every function left out) is named by the acquisition's polarity, and a file
// without spectra or chromatograms by the kind of data it was converted from.
void append_file_content(std::string& out, const FileContent& content) {
    constexpr std::string_view in = "        ";
    const std::size_t start = out.size();
    if (content.ms1) append_cv_param(out, in, Term::Ms1Spectrum);
    if (content.msn) append_cv_param(out, in, Term::MsnSpectrum);
    if (content.ion_mobility) append_cv_param(out, in, Term::ImsDataIndependentAcquisition);
    for (const Term type : content.chromatograms)
        if (names_file_content(type)) append_cv_param(out, in, type);
    if (out.size() != start) return;
    if (content.polarity)
        append_cv_param(out, in,
                        *content.polarity == Polarity::Positive ? Term::PositivePolarityAcquisition
                                                                : Term::NegativePolarityAcquisition);
    else
        append_cv_param(out, in, Term::MassSpectrum);
}

void append_file_description(std::string& out, const RunDescription& run) {
    out += "    <fileDescription>\n      <fileContent>\n";
    append_file_content(out, run.content);
    out += "      </fileContent>\n      <sourceFileList count=\"1\">\n";
    std::format_to(std::back_inserter(out), "        <sourceFile id=\"{}\"", source_file_id);
    append_attribute(out, "name", run.source_name);
    append_attribute(out, "location", run.source_location);
    out += ">\n";
    append_cv_param(out, "          ", Term::WatersNativeIdFormat);
    append_cv_param(out, "          ", Term::WatersRawFormat);
    append_cv_param(out, "          ", Term::Sha1Checksum, run.function_table_sha1);
    out += "        </sourceFile>\n      </sourceFileList>\n    </fileDescription>\n";
}

// The acquired name is the sample's name; nothing in the vocabulary names a sample's
// free-text description.
void append_sample_list(std::string& out, const RunDescription& run) {
    if (!run.sample_name && !run.sample_description) return;
    constexpr std::string_view in = "        ";
    std::format_to(std::back_inserter(out), "    <sampleList count=\"1\">\n      <sample id=\"{}\"",
                   sample_id);
    if (run.sample_name) append_attribute(out, "name", *run.sample_name);
    out += ">\n";
    if (run.sample_name) append_cv_param(out, in, Term::SampleName, *run.sample_name);
    if (run.sample_description)
        append_user_param(out, in, "sample description", *run.sample_description, "xsd:string");
    out += "      </sample>\n    </sampleList>\n";
}

void append_software(std::string& out, const RunDescription& run) {
    out += "    <softwareList count=\"1\">\n";
    std::format_to(std::back_inserter(out), "      <software id=\"{}\"", software_id);
    append_attribute(out, "version", run.software_version);
    out += ">\n";
    append_cv_param(out, "        ", Term::CustomUnreleasedSoftwareTool, "tarnvale");
    out += "      </software>\n    </softwareList>\n";
}

void append_instrument(std::string& out, const RunDescription& run) {
    constexpr std::string_view in = "        ";
    const std::string text = run.instrument.value_or("");
    const Term model = instrument_model(text);
    std::format_to(
        std::back_inserter(out),
        "    <instrumentConfigurationList count=\"1\">\n      <instrumentConfiguration id=\"{}\">\n",
        instrument_id);
    append_cv_param(out, in, model);
    if (model == Term::WatersInstrumentModel && !text.empty())
        append_user_param(out, in, "instrument model", text, "xsd:string");
    out += "      </instrumentConfiguration>\n    </instrumentConfigurationList>\n";
}

void open_processing_method(std::string& out, int order) {
    std::format_to(std::back_inserter(out), "        <processingMethod order=\"{}\" softwareRef=\"{}\">\n",
                   order, software_id);
}

// The conversion (with what it selected and left out), then what was done to the
// spectra in the order it was done: peaks picked, then every m/z corrected by the lock mass, with what the
// correction used.
void append_data_processing(std::string& out, const RunDescription& run) {
    const DataProcessing& processing = run.processing;
    constexpr std::string_view in = "          ";
    constexpr std::string_view close = "        </processingMethod>\n";
    std::format_to(std::back_inserter(out),
                   "    <dataProcessingList count=\"1\">\n      <dataProcessing id=\"{}\">\n", processing_id);
    int order = 0;
    open_processing_method(out, order++);
    append_cv_param(out, in, Term::ConversionToMzml);
    for (const UserParam& note : run.processing_notes)
        append_user_param(out, in, note.name, note.value, "xsd:string");
    out += close;
    if (const auto& picking = processing.peak_picking) {
        open_processing_method(out, order++);
        append_cv_param(out, in, Term::PeakPicking);
        append_user_param(out, in, "minimum peak intensity", xsd_double(picking->min_intensity),
                          "xsd:double");
        append_user_param(out, in, "minimum points per peak", std::to_string(picking->min_points),
                          "xsd:integer");
        out += close;
    }
    if (const auto& lock = processing.lock_mass) {
        open_processing_method(out, order++);
        append_cv_param(out, in, Term::MzCalibration);
        append_user_param(out, in, "lock mass reference m/z", xsd_double(lock->reference_mz), "xsd:double");
        append_user_param(out, in, "lock mass tolerance (Da)", xsd_double(lock->tolerance_da), "xsd:double");
        append_user_param(out, in, "lock mass minimum intensity", xsd_double(lock->min_intensity),
                          "xsd:double");
        append_user_param(out, in, "lock mass function", std::to_string(lock->function), "xsd:integer");
        append_user_param(out, in, "lock scans used", std::to_string(lock->lock_scans_used), "xsd:integer");
        out += close;
    }
    out += "      </dataProcessing>\n    </dataProcessingList>\n";
}

// The run's xs:ID, made unlike the document's other ids ("RAW1.raw" would repeat
// the source file's).
std::string run_xml_id(std::string_view run_id) {
    std::string id = ncname(run_id);
    for (const std::string_view taken :
         {source_file_id, software_id, instrument_id, processing_id, sample_id})
        if (id == taken) return "run_" + id;
    return id;
}

void append_run_start(std::string& out, const RunDescription& run) {
    std::format_to(std::back_inserter(out),
                   "    <run id=\"{}\" defaultInstrumentConfigurationRef=\"{}\" defaultSourceFileRef=\"{}\"",
                   run_xml_id(run.run_id), instrument_id, source_file_id);
    if (run.sample_name || run.sample_description)
        std::format_to(std::back_inserter(out), " sampleRef=\"{}\"", sample_id);
    if (run.start_time_stamp) append_attribute(out, "startTimeStamp", *run.start_time_stamp);
    out += ">\n";
    if (run.operator_name) append_user_param(out, "      ", "operator", *run.operator_name, "xsd:string");
}

// "YYYY-MM-DDThh:mm:ss", digits where digits belong: an xs:dateTime without a zone.
bool is_date_time(std::string_view text) {
    constexpr std::string_view shape = "dddd-dd-ddTdd:dd:dd";
    if (text.size() != shape.size()) return false;
    for (std::size_t i = 0; i < shape.size(); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (shape[i] == 'd' ? !digit : text[i] != shape[i]) return false;
    }
    return true;
}

} // namespace

Result<void> check_run(const RunDescription& run) {
    const std::string_view sha1 = run.function_table_sha1;
    if (sha1.size() != 40 || !std::ranges::all_of(sha1, is_lower_hex))
        return parse_error("the function table checksum is not 40 lower-case hexadecimal digits");
    if (run.source_name.empty()) return parse_error("the source directory has no name");
    if (run.software_version.empty()) return parse_error("the software version is empty");
    if (run.start_time_stamp && !is_date_time(*run.start_time_stamp))
        return parse_error("the start time stamp is not of the form YYYY-MM-DDThh:mm:ss");
    return {};
}

std::string header_xml(const RunDescription& run) {
    std::string out;
    append_root_and_cv_list(out, run);
    append_file_description(out, run);
    append_sample_list(out, run);
    append_software(out, run);
    append_instrument(out, run);
    append_data_processing(out, run);
    append_run_start(out, run);
    std::format_to(std::back_inserter(out),
                   "      <spectrumList count=\"{}\" defaultDataProcessingRef=\"{}\">\n", run.spectrum_count,
                   processing_id);
    return out;
}

std::string between_lists_xml(const RunDescription& run) {
    std::string out = "      </spectrumList>\n";
    // The schema wants at least one chromatogram in a chromatogram list.
    if (run.chromatogram_count > 0)
        std::format_to(std::back_inserter(out),
                       "      <chromatogramList count=\"{}\" defaultDataProcessingRef=\"{}\">\n",
                       run.chromatogram_count, processing_id);
    return out;
}

std::string after_lists_xml(const RunDescription& run) {
    std::string out = run.chromatogram_count > 0 ? "      </chromatogramList>\n" : "";
    out += "    </run>\n  </mzML>\n";
    return out;
}

} // namespace tarnvale::mzml
