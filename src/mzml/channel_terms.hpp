// How an instrument channel is described: its chromatogram type and the kind and
// unit of its value array, from its units and name.
#pragma once

#include <optional>
#include <string_view>

#include "mzml/terms.hpp"

namespace tarnvale::mzml {

struct ChannelTerms {
    std::optional<Term> type; // none when neither units nor name say what is measured
    // A typed array where the units text names exactly the unit its term allows
    // (°C, K, Pa, µL/min, AU); otherwise a non-standard data array named after the
    // channel, since no unit term may be given for it.
    Term array = Term::NonStandardDataArray;
    std::optional<Term> unit;
};

// Units decide first (bar, psi, Pa → pressure; °C, K → temperature; µL/min, mL/min
// → flow rate; AU, mAU → absorption); then the start of a word of the name
// (pressure, temp, flow, UV, absorb, fluoresc). Comparisons ignore ASCII case.
ChannelTerms channel_terms(std::string_view name, std::string_view units);

// The chromatogram type a channel is written with: its own, or, when neither units
// nor name say what is measured, the broadest type of a signal other than ions.
Term channel_chromatogram_type(std::string_view name, std::string_view units);

} // namespace tarnvale::mzml
