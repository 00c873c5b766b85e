#include "processing/peak_picking.hpp"

#include <algorithm>
#include <cmath>
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

bool deep_enough(double lower_maximum, double valley) {
    const double margin = std::max(3.0 * std::sqrt(lower_maximum), 0.1 * lower_maximum);
    return lower_maximum - valley > margin;
}

namespace {

// The vertex of the parabola through (x0, l0), (x1, l1), (x2, l2), x0 < x1 < x2,
// written about the middle point; none unless it opens downward.
std::optional<double> parabola_vertex(double x0, double l0, double x1, double l1, double x2, double l2) {
    const double d0 = x0 - x1;
    const double d2 = x2 - x1;
    const double s0 = (l0 - l1) / d0;
    const double s2 = (l2 - l1) / d2;
    const double a = (s2 - s0) / (d2 - d0);
    if (!(a < 0)) return std::nullopt;
    const double b = s2 - a * d2;
    return x1 - b / (2.0 * a);
}

double weighted_mean_position(ProfileView profile, std::size_t from, std::size_t to) {
    double weight = 0;
    double sum = 0;
    for (std::size_t i = from; i <= to; ++i) {
        const auto count = static_cast<double>(profile.counts[i]);
        weight += count;
        sum += count * profile.position[i];
    }
    return sum / weight;
}

} // namespace

double peak_position(ProfileView profile, std::size_t begin, std::size_t end, std::size_t apex_first,
                     std::size_t apex_last) {
    const bool inner = apex_first > begin && apex_last + 1 < end;
    if (apex_first == apex_last && inner) {
        const std::size_t i = apex_first;
        const auto log_count = [&](std::size_t k) {
            return std::log(static_cast<double>(profile.counts[k]));
        };
        if (const auto vertex =
                parabola_vertex(profile.position[i - 1], log_count(i - 1), profile.position[i], log_count(i),
                                profile.position[i + 1], log_count(i + 1)))
            return *vertex;
    }
    return weighted_mean_position(profile, apex_first > begin ? apex_first - 1 : apex_first,
                                  apex_last + 1 < end ? apex_last + 1 : apex_last);
}

std::span<const PickedPeak> PeakPicker::pick(ProfileView profile) {
    peaks_.clear();
    const std::size_t n = profile.counts.size();
    for (std::size_t begin = 0; begin < n;) {
        std::size_t end = begin + 1;
        while (end < n && profile.segment_start[end] == 0) ++end;
        pick_segment(profile, begin, end);
        begin = end;
    }
    return peaks_;
}

void PeakPicker::find_maxima(std::span<const std::uint32_t> counts, std::size_t begin, std::size_t end) {
    maxima_.clear();
    for (std::size_t first = begin; first < end;) {
        std::size_t last = first;
        while (last + 1 < end && counts[last + 1] == counts[first]) ++last;
        const bool above_left = first == begin || counts[first - 1] < counts[first];
        const bool above_right = last + 1 == end || counts[last + 1] < counts[first];
        if (above_left && above_right) maxima_.push_back({first, last});
        first = last + 1;
    }
}

// Walks the maxima from left to right, carrying the current peak's apex and the
// lowest sample since it; every maximum either starts a new peak after that valley
// or merges into the current one.
void PeakPicker::pick_segment(ProfileView profile, std::size_t begin, std::size_t end) {
    const std::span<const std::uint32_t> counts = profile.counts;
    if (end - begin == 1) {
        const PickedPeak lone{begin, 1, profile.position[begin], static_cast<double>(counts[begin]), true};
        if (options_.min_points <= 1 && static_cast<float>(lone.counts) >= options_.min_intensity)
            peaks_.push_back(lone);
        return;
    }
    find_maxima(counts, begin, end);
    std::size_t peak_begin = begin;
    Maximum apex = maxima_.front();
    std::optional<std::size_t> valley; // the lowest sample since the apex, up to the last maximum merged
    for (std::size_t k = 1; k < maxima_.size(); ++k) {
        const Maximum next = maxima_[k];
        for (std::size_t i = maxima_[k - 1].last + 1; i < next.first; ++i)
            if (!valley || counts[i] < counts[*valley]) valley = i;
        const std::uint32_t lower = std::min(counts[apex.first], counts[next.first]);
        if (deep_enough(static_cast<double>(lower), static_cast<double>(counts[*valley]))) {
            add_peak(profile, peak_begin, *valley + 1, begin, end, apex);
            peak_begin = *valley + 1;
            apex = next;
            valley.reset();
        } else if (counts[next.first] > counts[apex.first]) {
            apex = next;
            valley.reset();
        }
    }
    add_peak(profile, peak_begin, end, begin, end, apex);
}

void PeakPicker::add_peak(ProfileView profile, std::size_t begin, std::size_t end, std::size_t segment_begin,
                          std::size_t segment_end, Maximum apex) {
    const std::size_t points = end - begin;
    double counts = 0;
    for (std::size_t i = begin; i < end; ++i) counts += static_cast<double>(profile.counts[i]);
    if (points < options_.min_points || static_cast<float>(counts) < options_.min_intensity) return;
    const double position = peak_position(profile, segment_begin, segment_end, apex.first, apex.last);
    peaks_.push_back({begin, points, position, counts, false});
}

} // namespace tarnvale::processing
