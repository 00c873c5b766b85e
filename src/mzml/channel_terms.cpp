#include "mzml/channel_terms.hpp"

#include <array>
#include <string>
#include <vector>

#include "text.hpp"

namespace tarnvale::mzml {

namespace {

struct UnitRow {
    std::string_view units; // upper case
    ChannelTerms terms;
};

constexpr ChannelTerms untyped(Term type) { return {type, Term::NonStandardDataArray, std::nullopt}; }
constexpr ChannelTerms typed(Term type, Term array, Term unit) { return {type, array, unit}; }

constexpr std::array unit_rows = {
    UnitRow{"PA", typed(Term::PressureChromatogram, Term::PressureArray, Term::Pascal)},
    UnitRow{"BAR", untyped(Term::PressureChromatogram)},
    UnitRow{"PSI", untyped(Term::PressureChromatogram)},
    UnitRow{"KPA", untyped(Term::PressureChromatogram)},
    UnitRow{"MPA", untyped(Term::PressureChromatogram)},
    UnitRow{"\xC2\xB0"
            "C",
            typed(Term::TemperatureChromatogram, Term::TemperatureArray, Term::DegreeCelsius)},
    UnitRow{"DEGC", typed(Term::TemperatureChromatogram, Term::TemperatureArray, Term::DegreeCelsius)},
    UnitRow{"C", typed(Term::TemperatureChromatogram, Term::TemperatureArray, Term::DegreeCelsius)},
    UnitRow{"K", typed(Term::TemperatureChromatogram, Term::TemperatureArray, Term::Kelvin)},
    UnitRow{"UL/MIN", typed(Term::FlowRateChromatogram, Term::FlowRateArray, Term::MicrolitersPerMinute)},
    UnitRow{"\xC2\xB5L/MIN",
            typed(Term::FlowRateChromatogram, Term::FlowRateArray, Term::MicrolitersPerMinute)},
    UnitRow{"\xCE\xBCL/MIN",
            typed(Term::FlowRateChromatogram, Term::FlowRateArray, Term::MicrolitersPerMinute)},
    UnitRow{"ML/MIN", untyped(Term::FlowRateChromatogram)},
    UnitRow{"AU", typed(Term::AbsorptionChromatogram, Term::IntensityArray, Term::AbsorbanceUnit)},
    UnitRow{"MAU", untyped(Term::AbsorptionChromatogram)},
};

struct NameRow {
    std::string_view word; // upper case
    Term type;
};

constexpr std::array name_rows = {
    NameRow{"PRESSURE", Term::PressureChromatogram}, NameRow{"TEMP", Term::TemperatureChromatogram},
    NameRow{"FLOW", Term::FlowRateChromatogram},     NameRow{"ABSORB", Term::AbsorptionChromatogram},
    NameRow{"UV", Term::AbsorptionChromatogram},     NameRow{"FLUORESC", Term::EmissionChromatogram},
};

bool is_ascii_alnum(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// The runs of ASCII letters and digits: "Column Temp. (front)" has three words.
std::vector<std::string_view> words(std::string_view text) {
    std::vector<std::string_view> found;
    std::size_t at = 0;
    while (at < text.size()) {
        while (at < text.size() && !is_ascii_alnum(text[at])) ++at;
        const std::size_t start = at;
        while (at < text.size() && is_ascii_alnum(text[at])) ++at;
        if (at > start) found.push_back(text.substr(start, at - start));
    }
    return found;
}

} // namespace

ChannelTerms channel_terms(std::string_view name, std::string_view units) {
    const std::string units_upper = ascii_upper(trim(units));
    for (const UnitRow& row : unit_rows)
        if (units_upper == row.units) return row.terms;
    const std::string name_upper = ascii_upper(name);
    for (const std::string_view word : words(name_upper))
        for (const NameRow& row : name_rows)
            if (word.starts_with(row.word)) return untyped(row.type);
    return {};
}

Term channel_chromatogram_type(std::string_view name, std::string_view units) {
    // Every chromatogram needs a type, and none says "some other quantity". A channel
    // whose units and name say nothing (solvent composition "%B", an unnamed analog
    // input) gets the type of a non-ion signal that an instrument's detector inputs
    // (light scattering, UV, fluorescence) belong to; the channel's own name and units
    // go beside it as user parameters.
    return channel_terms(name, units).type.value_or(Term::ElectromagneticRadiationChromatogram);
}

} // namespace tarnvale::mzml
