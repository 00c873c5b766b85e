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
    const std::size_t i = apex_first;
    const double x[3] = {samples.position(i - 1), samples.position(i), samples.position(i + 1)};
    const std::uint32_t counts[3] = {samples.count(i - 1), samples.count(i), samples.count(i + 1)};
    return gaussian_through(x, counts);
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

// One pass over the segment, from one turn of the signal to the next: up to a run of
// equal samples; that run is a maximum when the sample after it is lower (or the
// segment ends), and the samples down from it to the next rise are where the valley
// is looked for. The current peak keeps its apex and the lowest sample since the apex
// (the first of equal ones); every maximum met then either starts a new peak after
// that valley or merges into the current one. The lowest sample between the apex and
// the next maximum is never in that maximum: its values exceed the sample before it.
// Counts are summed as integers, exactly. The inner loops run along the flanks with
// one comparison a sample: which way the next sample goes is what costs.
template <class Samples> std::size_t PeakPicker::split_segment(const Samples& samples) {
    splits_.clear();
    Walk walk;
    std::size_t i = 0;
    std::uint64_t through = 0; // the counts of samples [0, i)
    std::uint32_t value = samples.count(0);
    for (;;) {
        for (std::uint32_t next; (next = samples.next(i)) > value; ++i) {
            through += value;
            value = next;
        }
        const std::size_t first = i;
        for (; samples.next(i) == value; ++i) through += value;
        through += value;
        std::uint32_t next = samples.next(i);
        if (next > value) { // a step on the way up
            value = next;
            ++i;
            continue;
        }
        maximum_met(walk, {first, i}, value);
        if (next == 0) break;
        // Down to the next rise: samples of 1 to `value` counts (0 is none).
        do {
            value = next;
            ++i;
            through += value;
            if (value < walk.valley_value) {
                walk.valley_at = i;
                walk.valley_value = value;
                walk.valley_through = through;
            }
            next = samples.next(i);
        } while (next - 1 < value);
        if (next == 0) break;
        value = next;
        ++i;
    }
    splits_.push_back({walk.peak_begin, i + 1, through - walk.begin_through, walk.apex});
    return i + 1;
}

inline void PeakPicker::maximum_met(Walk& walk, Maximum top, std::uint32_t value) {
    if (walk.valley_value != Walk::kNotLooking) {
        const std::uint32_t lower = std::min(walk.apex_value, value);
        // Within 3 counts of the valley no maximum is deep enough (the margin is at least
        // 3·sqrt(1)): a floor's wobbles are settled without a square root.
        if (walk.valley_value + std::uint64_t{3} < lower &&
            deep_enough(static_cast<double>(lower), static_cast<double>(walk.valley_value))) {
            splits_.push_back(
                {walk.peak_begin, walk.valley_at + 1, walk.valley_through - walk.begin_through, walk.apex});
            walk.peak_begin = walk.valley_at + 1;
            walk.begin_through = walk.valley_through;
        } else if (value <= walk.apex_value) {
            return; // merged: the apex and its valley stay
        }
    }
    walk.apex = top;
    walk.apex_value = value;
    walk.valley_value = Walk::kNoneYet;
}

template <class Samples> PeakPicker::SegmentPeaks PeakPicker::pick_segment(const Samples& samples) {
    const std::size_t n = split_segment(samples);
    place_peaks(samples, n);
    return {segment_peaks_, n};
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
                                      peak.total(), false});
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
        segment_peaks_.push_back({peak.begin, peak.end - peak.begin, position, peak.total(), false});
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
