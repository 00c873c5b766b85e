// Which functions of a run become spectra, what every spectrum of a function says
// about itself, and which selected functions cannot be read at all.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "error.hpp"
#include "export/options.hpp"
#include "mzml/input.hpp"
#include "reader/acquisition.hpp"

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

// Every readable function the options select (function numbers, MS level, lock mass
// left out), in the reader's order. A selected number that the run's function table
// does not hold fails, naming the numbers it holds.
Result<std::vector<FunctionPlan>> plan_functions(const Acquisition& acquisition,
                                                 const ConversionOptions& options);

// The functions of the run's table that the options select but the reader could not
// open, because their index or data file is missing: named with the missing files.
std::vector<LeftOutItem> unreadable_functions(const Acquisition& acquisition,
                                              const ConversionOptions& options);

} // namespace tarnvale::exporter
