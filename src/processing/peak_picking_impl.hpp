// The picker's templates (peak_picking.hpp), instantiated for whatever holds the
// samples: arrays, or a scan's records read in place.
#pragma once

#include <algorithm>
#include <cmath>
#include <limits>

namespace tarnvale::processing {

// A single-sample apex `i` and the samples on either side of it.
struct ApexSamples {
    double x[3];
    double counts[3];
};

template <class Samples> ApexSamples apex_samples(const Samples& samples, std::size_t i) {
    return {{samples.position(i - 1), samples.position(i), samples.position(i + 1)},
            {static_cast<double>(samples.count(i - 1)), static_cast<double>(samples.count(i)),
             static_cast<double>(samples.count(i + 1))}};
}

template <class Samples>
std::optional<ApexGaussian> apex_gaussian(const Samples& samples, std::size_t n, std::size_t apex_first,
                                          std::size_t apex_last) {
    if (apex_first != apex_last || apex_first == 0 || apex_last + 1 >= n) return std::nullopt;
    const ApexSamples apex = apex_samples(samples, apex_first);
    return gaussian_through(apex.x, apex.counts);
}

template <class Samples>
double weighted_centroid(const Samples& samples, std::size_t n, std::size_t apex_first,
                         std::size_t apex_last) {
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

template <class Samples>
double peak_position(const Samples& samples, std::size_t n, std::size_t apex_first, std::size_t apex_last) {
    if (const auto gaussian = apex_gaussian(samples, n, apex_first, apex_last))
        return gaussian->shape.vertex();
    return weighted_centroid(samples, n, apex_first, apex_last);
}

// One pass over the segment. A run of equal samples is a maximum once the sample after
// it is lower (or the segment ends) and the sample before it was lower (or it starts
// the segment). The current peak keeps its apex and the lowest sample since the apex
// (the first of equal ones); every maximum met then either starts a new peak after
// that valley or merges into the current one. The lowest sample between the apex and
// the next maximum is never in that maximum: its values exceed the sample before it.
// Counts are summed as integers, exactly.
inline void PeakPicker::begin_segment(std::uint32_t count) {
    splits_.clear();
    peak_begin_ = 0;
    valley_value_ = kNotLooking;
    sum_ = 0;
    run_first_ = 0;
    run_value_ = count;
    run_rising_ = true;
    last_ = count;
}

inline void PeakPicker::next_sample(std::size_t i, std::uint32_t count) {
    const std::uint32_t previous = last_;
    last_ = count;
    sum_ += previous;
    if (previous < valley_value_) {
        valley_at_ = i - 1;
        valley_value_ = previous;
        valley_through_ = sum_;
    }
    if (count == run_value_) return;
    if (run_rising_ && count < run_value_) maximum_met(i - 1);
    run_rising_ = count > run_value_;
    run_first_ = i;
    run_value_ = count;
}

inline void PeakPicker::maximum_met(std::size_t last) {
    if (valley_value_ != kNotLooking) {
        const std::uint32_t lower = std::min(apex_value_, run_value_);
        // Within 3 counts of the valley no maximum is deep enough (the margin is at least
        // 3·sqrt(1)): a floor's wobbles are settled without a square root.
        if (valley_value_ + std::uint64_t{3} < lower &&
            deep_enough(static_cast<double>(lower), static_cast<double>(valley_value_))) {
            splits_.push_back({peak_begin_, valley_at_ + 1, valley_through_, apex_});
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
    if (run_rising_) maximum_met(n - 1);
    splits_.push_back({peak_begin_, n, sum_, apex_});
    place_peaks(samples, n);
    return segment_peaks_;
}

template <class Samples>
std::span<const PickedPeak> PeakPicker::pick_segment(const Samples& samples, std::size_t n) {
    begin_segment(samples.count(0));
    for (std::size_t i = 1; i < n; ++i) next_sample(i, samples.count(i));
    return end_segment(samples, n);
}

template <class Samples> void PeakPicker::place_peaks(const Samples& samples, std::size_t n) {
    segment_peaks_.clear();
    // A peak alone in its segment needs no neighbours' Gaussians: the short segments of
    // a noise floor, which the options mostly drop, are decided before any logarithm.
    if (splits_.size() == 1) {
        const Split& peak = splits_[0];
        if (keeps(peak))
            segment_peaks_.push_back({peak.begin, peak.end - peak.begin,
                                      peak_position(samples, n, peak.apex.first, peak.apex.last),
                                      static_cast<double>(peak.counts), false});
        return;
    }
    // Overlapping peaks: every one's own Gaussian first, those dropped included, so that
    // where a peak lies does not depend on the options.
    gaussians_.clear();
    for (const Split& peak : splits_)
        gaussians_.push_back(apex_gaussian(samples, n, peak.apex.first, peak.apex.last));
    for (std::size_t k = 0; k < splits_.size(); ++k) {
        const Split& peak = splits_[k];
        if (!keeps(peak)) continue;
        const std::optional<ApexGaussian>& own = gaussians_[k];
        double position;
        if (own)
            position = corrected_vertex(samples, k).value_or(own->shape.vertex());
        else
            position = weighted_centroid(samples, n, peak.apex.first, peak.apex.last);
        segment_peaks_.push_back(
            {peak.begin, peak.end - peak.begin, position, static_cast<double>(peak.counts), false});
    }
}

// The tail of a Gaussian beside a peak pulls the peak's own fit towards it, by up to a
// third of a bin for two peaks 3 sigma apart: subtracting the neighbours' Gaussians
// (each fitted on its own, so each still a little pulled) takes most of that away. None
// when no neighbour has a Gaussian that may be subtracted (one whose three samples
// are not this peak's), or what is left is not a peak of three positive samples.
template <class Samples>
std::optional<double> PeakPicker::corrected_vertex(const Samples& samples, std::size_t k) const {
    const std::size_t i = splits_[k].apex.first;
    auto [x, counts] = apex_samples(samples, i);
    bool corrected = false;
    for (const std::size_t m : {k - 1, k + 1}) {
        if (m >= splits_.size()) continue; // k - 1 wraps around for the first
        const std::optional<ApexGaussian>& neighbour = gaussians_[m];
        const std::size_t apex = splits_[m].apex.first;
        if (!neighbour || (apex > i ? apex - i : i - apex) <= 2) continue;
        for (int j = 0; j < 3; ++j) counts[j] -= neighbour->at(x[j]);
        corrected = true;
    }
    if (!corrected || !(counts[0] > 0 && counts[2] > 0 && counts[1] >= counts[0] && counts[1] >= counts[2]))
        return std::nullopt;
    if (const auto gaussian = gaussian_through(x, counts)) return gaussian->shape.vertex();
    return std::nullopt;
}

} // namespace tarnvale::processing
