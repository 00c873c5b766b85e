// Lock-mass correction: where a run's lock-mass function finds its reference ion in
// each lock scan, and the gain (reference / observed m/z) that follows from it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "error.hpp"
#include "processing/gain_curve.hpp"
#include "reader/reader.hpp"

namespace tarnvale::processing {

struct LockMassOptions {
    double reference_mz = 0;                    // the reference ion's m/z, > 0
    double tolerance_da = 0.25;                 // how far from it a peak may be found (inclusive)
    double min_intensity = 0;                   // a weaker peak does not count as found
    std::optional<std::uint32_t> function = {}; // the lock-mass function; needed when there are several
    bool skip_unreadable = false;               // a lock scan that cannot be decoded is left out, not fatal

    bool operator==(const LockMassOptions&) const = default;
};

// What is wrong with the options, or none.
std::optional<std::string> problem_with(const LockMassOptions& options);

// The function named, or the run's one function whose scan subtype has the lock-mass
// bit; fails when it is missing, when there are several and none is named, and when
// the function named cannot be read.
Result<const FunctionEntry*> lock_mass_function(const Reader& reader, std::optional<std::uint32_t> chosen);

// One entry per lock scan, in scan order.
struct LockMassTrace {
    std::uint32_t function = 0;
    double reference_mz = 0;
    double tolerance_da = 0;
    std::vector<std::uint64_t> scan;
    std::vector<double> rt_min;
    std::vector<double> observed_mz; // NaN where no peak lies within the tolerance
    std::vector<double> intensity;   // the peak's; NaN where none
};

// Reads every scan of the lock-mass function, picks profile scans (B, C) with the
// default options whatever the caller's own picking, and takes the peak nearest the
// reference within the tolerance (the first of equally near ones). A scan that
// cannot be decoded fails the call, or with skip_unreadable counts as not found.
Result<LockMassTrace> read_lock_mass_trace(const Reader& reader, const LockMassOptions& options);

// Usable lock scans: a peak was found, at least min_intensity strong, at a finite
// retention time.
std::vector<std::size_t> usable_lock_scans(const LockMassTrace& trace, double min_intensity);

// The gains of the usable lock scans; the others are left out with one warning.
// Fails when none is usable: a correction never silently does nothing.
Result<GainCurve> gain_curve(const Reader& reader, const LockMassTrace& trace, double min_intensity);

} // namespace tarnvale::processing
