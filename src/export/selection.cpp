#include "export/selection.hpp"

#include <cmath>
#include <format>

#include "numbers.hpp"

namespace tarnvale::exporter {

namespace {

Result<void> check_interval(const Interval& interval, std::string_view what) {
    for (const std::optional<double>& end : {interval.low, interval.high}) {
        if (!end) continue;
        if (!std::isfinite(*end))
            return parse_error(std::format("{} {}: {} is not a finite number", what, interval_text(interval),
                                           format_f64(*end)));
        if (*end < 0)
            return parse_error(
                std::format("{} {}: {} is negative", what, interval_text(interval), format_f64(*end)));
    }
    if (interval.low && interval.high && *interval.low > *interval.high)
        return parse_error(std::format("{} {}: the start is after the end", what, interval_text(interval)));
    return {};
}

} // namespace

Result<void> check_selection(const Selection& selection) {
    for (const std::uint32_t function : selection.functions)
        if (function == 0) return parse_error("function 0 selected: functions are numbered from 1");
    if (selection.ms_level && *selection.ms_level != 1 && *selection.ms_level != 2)
        return parse_error(std::format("MS level {} selected: 1 and 2 are possible", *selection.ms_level));
    TV_RETURN_IF_ERROR(check_interval(selection.rt_min, "retention times"));
    return check_interval(selection.mz, "m/z range");
}

std::string interval_text(const Interval& interval) {
    std::string text;
    if (interval.low) text += format_f64(*interval.low);
    text += ':';
    if (interval.high) text += format_f64(*interval.high);
    return text;
}

ScanSpan selected_scans(const FunctionEntry& entry, const Interval& rt_min) {
    const std::uint64_t n = entry.scans.size();
    if (rt_min.is_everything()) return {0, n, n};
    ScanSpan span;
    for (std::uint64_t scan = 0; scan < n; ++scan) {
        if (!selects_time(rt_min, entry.scans.rt_min(scan))) continue;
        if (span.count == 0) span.first = scan;
        span.last = scan + 1;
        ++span.count;
    }
    return span;
}

} // namespace tarnvale::exporter
