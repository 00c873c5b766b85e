// Every controlled-vocabulary term the writer uses, in one table (terms.cpp),
// and the emitters of cvParam and userParam elements.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tarnvale::mzml {

enum class Term : std::uint8_t {
    // spectrum and file content
    MsLevel,
    MassSpectrum,
    PositivePolarityAcquisition,
    NegativePolarityAcquisition,
    Ms1Spectrum,
    MsnSpectrum,
    ImsDataIndependentAcquisition,
    CentroidSpectrum,
    ProfileSpectrum,
    PositiveScan,
    NegativeScan,
    TotalIonCurrent,
    BasePeakMz,
    BasePeakIntensity,
    LowestObservedMz,
    HighestObservedMz,
    // scan
    ScanStartTime,
    ScanWindowLowerLimit,
    ScanWindowUpperLimit,
    IonMobilityDriftTime,
    NoCombination,
    // activation
    CollisionInducedDissociation,
    CollisionEnergy,
    // binary data arrays
    MzArray,
    IntensityArray,
    RawIonMobilityDriftTimeArray,
    TimeArray,
    NonStandardDataArray,
    TemperatureArray,
    PressureArray,
    FlowRateArray,
    Float64,
    Float32,
    ZlibCompression,
    NoCompression,
    NumpressLinear,
    NumpressSlof,
    NumpressLinearZlib,
    NumpressSlofZlib,
    // chromatogram types
    TotalIonCurrentChromatogram,
    BasePeakChromatogram,
    PressureChromatogram,
    TemperatureChromatogram,
    FlowRateChromatogram,
    AbsorptionChromatogram,
    EmissionChromatogram,
    ElectromagneticRadiationChromatogram,
    // source file, sample, software, processing
    WatersRawFormat,
    WatersNativeIdFormat,
    Sha1Checksum,
    SampleName,
    CustomUnreleasedSoftwareTool,
    ConversionToMzml,
    PeakPicking,
    MzCalibration,
    // instrument models
    WatersInstrumentModel,
    SynaptG2Si,
    SynaptG2Hdms,
    SynaptHdms,
    SynaptXs,
    // units
    MzUnit,
    DetectorCounts,
    AbsorbanceUnit,
    Minute,
    Millisecond,
    Electronvolt,
    DegreeCelsius,
    Kelvin,
    Pascal,
    MicrolitersPerMinute,
};

struct TermInfo {
    Term term;
    std::string_view accession; // "MS:1000511"
    std::string_view name;      // exactly as in the ontology
};

const TermInfo& term_info(Term term);
// Every row of the table, in the order of Term.
std::span<const TermInfo> all_terms();
// "MS" or "UO": the cvList id the accession belongs to.
std::string_view cv_ref(Term term);

// One line `<indent><cvParam cvRef=… accession=… name=… value=…/>\n`, with unit
// attributes when a unit is given. Values are escaped.
void append_cv_param(std::string& out, std::string_view indent, Term term, std::string_view value = {});
void append_cv_param(std::string& out, std::string_view indent, Term term, std::string_view value, Term unit);
// The same with a number as the value, in the xs:double / xs:float forms of xsd_double
// and xsd_float (which need no escaping).
void append_number_param(std::string& out, std::string_view indent, Term term, double value,
                         std::optional<Term> unit = std::nullopt);
void append_number_param(std::string& out, std::string_view indent, Term term, float value,
                         std::optional<Term> unit = std::nullopt);

// One line `<indent><userParam name=… value=… type=…/>\n`; no type attribute when empty.
void append_user_param(std::string& out, std::string_view indent, std::string_view name,
                       std::string_view value, std::string_view type = {});

} // namespace tarnvale::mzml
