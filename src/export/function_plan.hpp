// Which functions of a run become spectra, and what every spectrum of a function
// says about itself.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "export/options.hpp"
#include "mzml/input.hpp"
#include "reader/reader.hpp"

namespace tarnvale::exporter {

struct FunctionPlan {
    const FunctionEntry* entry = nullptr;
    std::uint32_t ms_level = 1;
    std::optional<mzml::Polarity> polarity;
    mzml::Representation representation = mzml::Representation::Centroid;
    bool lock_mass = false;
    double window_low = 0;
    double window_high = 0;
    bool ion_mobility = false;
};

// Encodings A and D store each peak as an m/z word with its intensity, with no
// record for an empty stretch of the axis: peak lists, so centroid. Encoding C
// stores each point at a fractional time-bin position, which only a peak's centroid
// has (a sample of the signal sits on a whole bin), and its records do not lie on
// adjacent bins: centroid too. Encoding B stores time-of-flight bins with their
// counts, the sampled signal itself: profile, until its peaks are picked.
mzml::Representation representation_of(Encoding encoding, bool picked);

// Every readable function in the reader's order, lock-mass functions left out when asked.
std::vector<FunctionPlan> plan_functions(const Reader& reader, const ConversionOptions& options);

} // namespace tarnvale::exporter
