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

// Samples [begin, begin + n) of a profile's arrays.
struct ArraySamples {
    const ProfileView& profile;
    std::size_t begin;
    std::uint32_t count(std::size_t i) const { return profile.counts[begin + i]; }
    double position(std::size_t i) const { return profile.position[begin + i]; }
};

} // namespace

std::span<const PickedPeak> PeakPicker::pick(ProfileView profile) {
    peaks_.clear();
    const std::size_t n = profile.counts.size();
    for (std::size_t begin = 0; begin < n;) {
        std::size_t end = begin + 1;
        while (end < n && profile.segment_start[end] == 0) ++end;
        if (end - begin == 1) {
            const auto counts = static_cast<double>(profile.counts[begin]);
            if (keeps_lone(counts)) peaks_.push_back({begin, 1, profile.position[begin], counts, true});
        } else {
            for (PickedPeak peak : pick_segment(ArraySamples{profile, begin}, end - begin)) {
                peak.first += begin;
                peaks_.push_back(peak);
            }
        }
        begin = end;
    }
    return peaks_;
}

} // namespace tarnvale::processing
