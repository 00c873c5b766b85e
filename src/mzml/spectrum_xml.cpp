#include "mzml/spectrum_xml.hpp"

#include <format>

#include "mzml/binary_array_xml.hpp"
#include "mzml/native_id.hpp"
#include "mzml/spectrum_summary.hpp"
#include "mzml/terms.hpp"
#include "mzml/xml.hpp"

namespace tarnvale::mzml {

namespace {

constexpr std::string_view in1 = "          ";         // spectrum content
constexpr std::string_view in2 = "            ";       // scan, precursor, binaryDataArray
constexpr std::string_view in3 = "              ";     // scan content, activation
constexpr std::string_view in4 = "                ";   // scanWindow, activation content
constexpr std::string_view in5 = "                  "; // scanWindow content

Result<void> invalid(const SpectrumInput& spectrum, std::string_view problem) {
    return parse_error("spectrum " + spectrum_id(spectrum.function, spectrum.scan, spectrum.drift_bin) +
                       ": " + std::string(problem));
}

void append_spectrum_params(std::string& out, const SpectrumInput& s, const SpectrumSummary& summary) {
    append_cv_param(out, in1, Term::MsLevel, std::to_string(s.ms_level));
    append_cv_param(out, in1, s.ms_level == 1 ? Term::Ms1Spectrum : Term::MsnSpectrum);
    append_cv_param(out, in1,
                    s.representation == Representation::Centroid ? Term::CentroidSpectrum
                                                                 : Term::ProfileSpectrum);
    if (s.polarity)
        append_cv_param(out, in1,
                        *s.polarity == Polarity::Positive ? Term::PositiveScan : Term::NegativeScan);
    append_number_param(out, in1, Term::TotalIonCurrent, summary.total_ion_current);
    if (!s.mz.empty()) {
        append_number_param(out, in1, Term::BasePeakMz, s.mz[summary.base_peak], Term::MzUnit);
        append_number_param(out, in1, Term::BasePeakIntensity, s.intensity[summary.base_peak],
                            Term::DetectorCounts);
        append_number_param(out, in1, Term::LowestObservedMz, summary.lowest_mz, Term::MzUnit);
        append_number_param(out, in1, Term::HighestObservedMz, summary.highest_mz, Term::MzUnit);
    }
    // Lock-mass (reference) functions stay in the file, marked so that tools can leave them out.
    if (s.lock_mass) append_user_param(out, in1, "lock mass function", "true", "xsd:boolean");
}

void append_scan_list(std::string& out, const SpectrumInput& s) {
    out += in1;
    out += "<scanList count=\"1\">\n";
    append_cv_param(out, in2, Term::NoCombination);
    out += in2;
    out += "<scan>\n";
    append_number_param(out, in3, Term::ScanStartTime, s.rt_minutes, Term::Minute);
    if (s.drift_time_ms)
        append_number_param(out, in3, Term::IonMobilityDriftTime, *s.drift_time_ms, Term::Millisecond);
    out += in3;
    out += "<scanWindowList count=\"1\">\n";
    out += in4;
    out += "<scanWindow>\n";
    append_number_param(out, in5, Term::ScanWindowLowerLimit, s.scan_window_low, Term::MzUnit);
    append_number_param(out, in5, Term::ScanWindowUpperLimit, s.scan_window_high, Term::MzUnit);
    out += in4;
    out += "</scanWindow>\n";
    out += in3;
    out += "</scanWindowList>\n";
    out += in2;
    out += "</scan>\n";
    out += in1;
    out += "</scanList>\n";
}

// Data-independent fragmentation selects no precursor: the precursor carries only
// its activation, and the dissociation method makes that activation complete.
void append_activation(std::string& out, double collision_energy) {
    out += in1;
    out += "<precursorList count=\"1\">\n";
    out += in2;
    out += "<precursor>\n";
    out += in3;
    out += "<activation>\n";
    append_cv_param(out, in4, Term::CollisionInducedDissociation);
    append_number_param(out, in4, Term::CollisionEnergy, collision_energy, Term::Electronvolt);
    out += in3;
    out += "</activation>\n";
    out += in2;
    out += "</precursor>\n";
    out += in1;
    out += "</precursorList>\n";
}

void append_arrays(std::string& out, const SpectrumInput& s, ArrayEncoder& encoder) {
    out += in1;
    out += s.drift_times_ms ? "<binaryDataArrayList count=\"3\">\n" : "<binaryDataArrayList count=\"2\">\n";
    append_binary_array(out, in2, encoder, s.mz, {Term::MzArray, Term::MzUnit});
    append_binary_array(out, in2, encoder, s.intensity, {Term::IntensityArray, Term::DetectorCounts});
    if (s.drift_times_ms)
        append_binary_array(out, in2, encoder, *s.drift_times_ms,
                            {Term::RawIonMobilityDriftTimeArray, Term::Millisecond});
    out += in1;
    out += "</binaryDataArrayList>\n";
}

} // namespace

Result<void> check_spectrum(const SpectrumInput& s) {
    if (s.function == 0) return invalid(s, "function numbers start at 1");
    if (s.ms_level == 0) return invalid(s, "ms level 0");
    if (s.intensity.size() != s.mz.size())
        return invalid(s, std::format("{} m/z values but {} intensities", s.mz.size(), s.intensity.size()));
    if (s.drift_times_ms && s.drift_times_ms->size() != s.mz.size())
        return invalid(
            s, std::format("{} m/z values but {} drift times", s.mz.size(), s.drift_times_ms->size()));
    if (s.drift_times_ms && s.drift_bin)
        return invalid(s, "a drift bin's spectrum cannot have a drift time array");
    if (s.drift_time_ms.has_value() != s.drift_bin.has_value())
        return invalid(s, "a drift bin and its drift time go together");
    return {};
}

void append_spectrum(std::string& out, const SpectrumInput& s, std::uint64_t index, ArrayEncoder& encoder) {
    const SpectrumSummary summary = summarize(s.mz, s.intensity);
    out += "<spectrum index=\"";
    append_decimal(out, index);
    out += "\" id=\"";
    append_spectrum_id(out, s.function, s.scan, s.drift_bin);
    out += "\" defaultArrayLength=\"";
    append_decimal(out, s.mz.size());
    out += "\">\n";
    append_spectrum_params(out, s, summary);
    append_scan_list(out, s);
    if (s.ms_level > 1 && s.collision_energy) append_activation(out, *s.collision_energy);
    append_arrays(out, s, encoder);
    out += list_item_indent;
    out += "</spectrum>\n";
}

} // namespace tarnvale::mzml
