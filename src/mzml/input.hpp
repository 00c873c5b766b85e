// What the writer is given: the run's description, spectra and chromatograms.
// The spans point into the caller's arrays and are read only during the call
// that receives them.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "mzml/terms.hpp"

namespace tarnvale::mzml {

enum class Polarity : std::uint8_t { Positive, Negative };
enum class Representation : std::uint8_t { Centroid, Profile };

// What the file holds (the fileContent terms): spectrum kinds, the types of the
// chromatograms, and the acquisition's polarity, named when nothing else is written.
struct FileContent {
    bool ms1 = false;
    bool msn = false;
    bool ion_mobility = false;
    std::vector<Term> chromatograms = {}; // each type once, in the order of the chromatograms
    std::optional<Polarity> polarity = {};
};

struct UserParam {
    std::string name;
    std::string value;
};

// Peak picking of profile spectra, with the settings that dropped peaks.
struct PeakPicking {
    double min_intensity = 0;
    std::uint32_t min_points = 1;
};

// A lock-mass correction of every m/z, as the data processing reports it.
struct LockMassCalibration {
    double reference_mz = 0;
    double tolerance_da = 0;
    double min_intensity = 0;
    std::uint32_t function = 0;        // the lock-mass function
    std::uint64_t lock_scans_used = 0; // those in which the reference was found
};

// What was done to the spectra beyond converting them.
struct DataProcessing {
    std::optional<PeakPicking> peak_picking;
    std::optional<LockMassCalibration> lock_mass;
};

struct RunDescription {
    std::string run_id;                    // made into a valid xs:ID for <run id>, kept as is for <mzML id>
    std::string source_name;               // the acquisition directory's name, e.g. "sample.raw"
    std::string source_location;           // file URI of the directory holding it (see file_uri.hpp)
    std::string function_table_sha1;       // 40 lower-case hex digits: SHA-1 of _FUNCTNS.INF
    std::optional<std::string> instrument; // the run header's instrument text
    // The acquisition as its header describes it; each absent when the header lacks it.
    std::optional<std::string> start_time_stamp; // xs:dateTime without a zone: "2021-01-14T16:20:52"
    std::optional<std::string> sample_name;
    std::optional<std::string> sample_description;
    std::optional<std::string> operator_name;
    FileContent content;
    DataProcessing processing;
    std::string software_version;
    // User parameters of the conversion's data processing: what was selected, and
    // what could not be read and was left out.
    std::vector<UserParam> processing_notes;
    // The lists' count attributes come before their elements, so the numbers are
    // needed up front; finish() fails when a different number was written.
    std::uint64_t spectrum_count = 0;
    std::uint64_t chromatogram_count = 0;
};

struct SpectrumInput {
    std::uint32_t function = 1;             // 1-based function number
    std::uint64_t scan = 0;                 // 0-based scan index
    std::optional<std::uint32_t> drift_bin; // one spectrum per drift bin
    std::uint32_t ms_level = 1;
    std::optional<Polarity> polarity = {};
    double rt_minutes = 0;
    double scan_window_low = 0; // the function's m/z range
    double scan_window_high = 0;
    std::optional<double> collision_energy; // written for MSn only
    Representation representation = Representation::Centroid;
    bool lock_mass = false;
    std::optional<double> drift_time_ms; // the drift bin's time, with drift_bin
    std::span<const double> mz;
    std::span<const float> intensity;
    std::optional<std::span<const double>> drift_times_ms; // one per point: a whole ion-mobility scan
};

enum class ChromatogramKind : std::uint8_t { TotalIonCurrent, BasePeak, InstrumentChannel };

struct ChromatogramInput {
    std::string id;
    ChromatogramKind kind = ChromatogramKind::TotalIonCurrent;
    std::string channel_name;  // instrument channels only
    std::string channel_units; // instrument channels only
    std::span<const double> time_minutes;
    std::span<const double> values;
};

} // namespace tarnvale::mzml
