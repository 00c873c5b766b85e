// Checking a selection, and which scans of a function it keeps.
#pragma once

#include <cstdint>
#include <string>

#include "error.hpp"
#include "export/options.hpp"
#include "reader/reader.hpp"

namespace tarnvale::exporter {

// An unusable selection as one sentence: an end that is not a finite number or is
// negative, a start after the end, an MS level other than 1 and 2, function 0.
Result<void> check_selection(const Selection& selection);

// "1.5:3", ":3", "1.5:" or ":", the form the command line takes.
std::string interval_text(const Interval& interval);

// The scans of a function whose retention times lie in `rt_min`: they all lie in
// [first, last), and there are `count` of them (last == first when there are none).
// Times are mostly ascending, but an index may hold any order: scans between first
// and last whose times lie outside are not selected.
struct ScanSpan {
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    std::uint64_t count = 0;
};
ScanSpan selected_scans(const FunctionEntry& entry, const Interval& rt_min);

// Whether the scan's retention time, as the index stores it, lies in `rt_min`.
inline bool selects_time(const Interval& rt_min, float time) {
    return rt_min.contains(static_cast<double>(time));
}

} // namespace tarnvale::exporter
