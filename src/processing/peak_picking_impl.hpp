// The picker's templates (peak_picking.hpp), instantiated for whatever holds the
// samples: arrays, or a scan's records read in place.
#pragma once

#include <algorithm>
#include <cmath>
#include <limits>

namespace tarnvale::processing {

template <class Samples>
double peak_position(const Samples& samples, std::size_t n, std::size_t apex_first, std::size_t apex_last) {
    if (apex_first == apex_last && apex_first > 0 && apex_last + 1 < n) {
        // The logarithms enter only as differences from the apex's: two of them, of ratios.
        const std::size_t i = apex_first;
        const auto apex = static_cast<double>(samples.count(i));
        const double d0 = std::log(static_cast<double>(samples.count(i - 1)) / apex);
        const double d2 = std::log(static_cast<double>(samples.count(i + 1)) / apex);
        if (const auto vertex = parabola_vertex(samples.position(i - 1), samples.position(i),
                                                samples.position(i + 1), d0, d2))
            return *vertex;
    }
    const std::size_t from = apex_first > 0 ? apex_first - 1 : apex_first;
    const std::size_t to = apex_last + 1 < n ? apex_last + 1 : apex_last;
    double weight = 0;
    double sum = 0;
    for (std::size_t i = from; i <= to; ++i) {
        const auto count = static_cast<double>(samples.count(i));
        weight += count;
        sum += count * samples.position(i);
    }
    return sum / weight;
}

// One pass over the segment. A run of equal samples is a maximum once the sample after
// it is lower (or the segment ends) and the sample before it was lower (or it starts
// the segment). The current peak keeps its apex and the lowest sample since the apex
// (the first of equal ones); every maximum met then either starts a new peak after
// that valley or merges into the current one. The lowest sample between the apex and
// the next maximum is never in that maximum: its values exceed the sample before it.
// Counts are summed as integers, exactly.
inline void PeakPicker::begin_segment(std::uint32_t count) {
    segment_peaks_.clear();
    peak_begin_ = 0;
    valley_value_ = kNotLooking;
    sum_ = 0;
    run_first_ = 0;
    run_value_ = count;
    run_rising_ = true;
    last_ = count;
}

template <class Samples>
inline void PeakPicker::next_sample(const Samples& samples, std::size_t i, std::uint32_t count) {
    const std::uint32_t previous = last_;
    last_ = count;
    sum_ += previous;
    if (previous < valley_value_) {
        valley_at_ = i - 1;
        valley_value_ = previous;
        valley_through_ = sum_;
    }
    if (count == run_value_) return;
    if (run_rising_ && count < run_value_) maximum_met(samples, i - 1);
    run_rising_ = count > run_value_;
    run_first_ = i;
    run_value_ = count;
}

template <class Samples> void PeakPicker::maximum_met(const Samples& samples, std::size_t last) {
    if (valley_value_ != kNotLooking) {
        const std::uint32_t lower = std::min(apex_value_, run_value_);
        // Within 3 counts of the valley no maximum is deep enough (the margin is at least
        // 3·sqrt(1)): a floor's wobbles are settled without a square root.
        if (valley_value_ + std::uint64_t{3} < lower &&
            deep_enough(static_cast<double>(lower), static_cast<double>(valley_value_))) {
            // The segment's length is not known yet: only the apex's neighbours are
            // needed, and the next maximum lies beyond the valley.
            add_peak(samples, last + 1, peak_begin_, valley_at_ + 1, valley_through_, apex_);
            peak_begin_ = valley_at_ + 1;
            sum_ -= valley_through_;
        } else if (run_value_ <= apex_value_) {
            return; // merged: the apex and its valley stay
        }
    }
    apex_ = {run_first_, last};
    apex_value_ = run_value_;
    valley_value_ = kNoneYet;
}

template <class Samples>
std::span<const PickedPeak> PeakPicker::end_segment(const Samples& samples, std::size_t n) {
    sum_ += last_;
    if (run_rising_) maximum_met(samples, n - 1);
    add_peak(samples, n, peak_begin_, n, sum_, apex_);
    return segment_peaks_;
}

template <class Samples>
std::span<const PickedPeak> PeakPicker::pick_segment(const Samples& samples, std::size_t n) {
    begin_segment(samples.count(0));
    for (std::size_t i = 1; i < n; ++i) next_sample(samples, i, samples.count(i));
    return end_segment(samples, n);
}

template <class Samples>
void PeakPicker::add_peak(const Samples& samples, std::size_t n, std::size_t begin, std::size_t end,
                          std::uint64_t counts, Maximum apex) {
    const std::size_t points = end - begin;
    const auto total = static_cast<double>(counts);
    if (points < options_.min_points || static_cast<float>(total) < options_.min_intensity) return;
    segment_peaks_.push_back({begin, points, peak_position(samples, n, apex.first, apex.last), total, false});
}

} // namespace tarnvale::processing
