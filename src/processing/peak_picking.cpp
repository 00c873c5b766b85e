#include "processing/peak_picking.hpp"

#include <format>

#include "numbers.hpp"

namespace tarnvale::processing {

std::optional<std::string> problem_with(const PickingOptions& options) {
    if (!std::isfinite(options.min_intensity) || options.min_intensity < 0)
        return std::format("the minimum intensity must be a finite number >= 0, not {}",
                           format_f64(options.min_intensity));
    if (options.min_points < 1) return std::string("the minimum points per peak must be at least 1");
    return std::nullopt;
}

namespace {

// The samples of a profile's arrays from `begin` on.
struct ArraySamples {
    const ProfileView& profile;
    std::size_t begin;
    std::uint32_t count(std::size_t i) const { return profile.counts[begin + i]; }
    double position(std::size_t i) const { return profile.position[begin + i]; }
    std::uint32_t next(std::size_t i) const {
        const std::size_t at = begin + i + 1;
        return at < profile.counts.size() && profile.segment_start[at] == 0 ? profile.counts[at] : 0;
    }
};

} // namespace

std::span<const PickedPeak> PeakPicker::pick(ProfileView profile) {
    peaks_.clear();
    for (std::size_t begin = 0; begin < profile.counts.size();) {
        const ArraySamples samples{profile, begin};
        if (samples.next(0) == 0) {
            const auto counts = static_cast<double>(profile.counts[begin]);
            if (keeps_lone(counts)) peaks_.push_back({begin, 1, profile.position[begin], counts, true});
            ++begin;
            continue;
        }
        const SegmentPeaks segment = pick_segment(samples);
        for (PickedPeak peak : segment.peaks) {
            peak.first += begin;
            peaks_.push_back(peak);
        }
        begin += segment.length;
    }
    return peaks_;
}

} // namespace tarnvale::processing
