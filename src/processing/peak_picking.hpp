// Peak picking of a sampled (profile) signal on the time-bin axis: segments of
// adjacent samples are split into peaks at deep enough valleys, and each peak gets
// one position and the sum of its counts.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "processing/count_logs.hpp"

namespace tarnvale::processing {

struct PickingOptions {
    double min_intensity = 0;     // peaks whose intensity is below this are dropped
    std::uint32_t min_points = 1; // peaks of fewer samples are dropped

    bool operator==(const PickingOptions&) const = default;
};

// What is wrong with the options, or none.
std::optional<std::string> problem_with(const PickingOptions& options);

// One scan's profile: samples in file order, each a position on the time-bin axis
// and a count (> 0). segment_start[i] is 1 where sample i begins a segment (sample 0
// always does): a run of samples on adjacent bins. All three have the same length.
struct ProfileView {
    std::span<const double> position;
    std::span<const std::uint32_t> counts;
    std::span<const std::uint8_t> segment_start;
};

struct PickedPeak {
    std::size_t first = 0; // samples [first, first + points) make the peak
    std::size_t points = 0;
    double position = 0; // fitted; a lone sample's own position
    double counts = 0;   // the samples' summed counts, exact
    bool alone = false;  // the only sample of its segment: a peak already
};

// Whether the lower of two maxima stands far enough above the valley between them
// for the two to be separate peaks.
inline bool deep_enough(double lower_maximum, double valley) {
    const double margin = std::max(3.0 * std::sqrt(lower_maximum), 0.1 * lower_maximum);
    return lower_maximum - valley > margin;
}

// l = l1 + b·h + a·h² about x1 (h = x - x1), a < 0.
struct Parabola {
    double x1 = 0;
    double a = 0;
    double b = 0;
    double vertex() const { return x1 - b / (2.0 * a); }
};

// The parabola through (x0, l0), (x1, l1), (x2, l2), x0 < x1 < x2, from the
// differences d0 = l0 - l1 and d2 = l2 - l1; none unless it opens downward.
inline std::optional<Parabola> downward_parabola(double x0, double x1, double x2, double d0, double d2) {
    // About the middle point: l = l1 + b·h + a·h².
    const double h0 = x0 - x1;
    const double h2 = x2 - x1;
    double a;
    double b;
    if (h0 == -1.0 && h2 == 1.0) {
        // Whole bins, as nearly every fit is: dividing by -1, 1 and 2 is exact, so this
        // gives the general case's bits with one division instead of four.
        a = (d2 + d0) * 0.5;
        b = d2 - a;
    } else {
        const double s0 = d0 / h0;
        const double s2 = d2 / h2;
        a = (s2 - s0) / (h2 - h0);
        b = s2 - a * h2;
    }
    if (!(a < 0)) return std::nullopt;
    return Parabola{x1, a, b};
}

// The Gaussian through an apex of `counts` and its two neighbours: counts at x are
// counts·exp(b·h + a·h²).
struct ApexGaussian {
    Parabola shape;
    double counts = 0;
    double at(double x) const {
        const double h = x - shape.x1;
        return counts * std::exp(shape.b * h + shape.a * h * h);
    }
};

// The Gaussian through three samples (x[1] the apex); none unless it opens downward.
inline std::optional<ApexGaussian> gaussian_through(const double (&x)[3], const double (&counts)[3]) {
    // The logarithms enter only as differences from the apex's: two of them, of ratios.
    const double d0 = std::log(counts[0] / counts[1]);
    const double d2 = std::log(counts[2] / counts[1]);
    if (const auto shape = downward_parabola(x[0], x[1], x[2], d0, d2))
        return ApexGaussian{*shape, counts[1]};
    return std::nullopt;
}

// The same through samples of whole counts, from the logarithms of the counts themselves.
inline std::optional<ApexGaussian> gaussian_through(const double (&x)[3], const std::uint32_t (&counts)[3]) {
    const CountLogs& logs = CountLogs::table();
    const double apex = logs(counts[1]);
    const double d0 = logs(counts[0]) - apex;
    const double d2 = logs(counts[2]) - apex;
    if (const auto shape = downward_parabola(x[0], x[1], x[2], d0, d2))
        return ApexGaussian{*shape, static_cast<double>(counts[1])};
    return std::nullopt;
}

// Splits segments at the valleys between their maxima and places each peak:
//  - a maximum is a sample, or a run of equal samples (a flat top), above both
//    neighbours (a segment's edge counts as lower);
//  - between the current peak's apex and the next maximum, the lowest sample (the
//    first of equal ones) is a valley; when the lower of the two maxima exceeds it by
//    more than max(3·sqrt(lower), lower / 10) the segment is split after the valley,
//    otherwise the two merge into one peak whose apex is the higher maximum (the
//    first of equal ones). Counting noise on a floor never splits a peak;
//  - a peak's position is the vertex of the parabola through the logarithms of its
//    apex and the apex's neighbours in the segment (a Gaussian through three
//    samples); where that is not defined (a flat top, an apex at a segment's edge) it
//    is the count-weighted mean position of the apex and its neighbours;
//  - a peak that shares its segment with others overlaps them: the tails of the
//    Gaussians of the peaks beside it (each through its own three samples) are
//    subtracted from its three samples before its Gaussian is fitted, unless the two
//    fits share a sample or what is left is no longer a peak (see corrected_vertex).
// Reuses its memory from call to call: one per thread.
class PeakPicker {
  public:
    explicit PeakPicker(const PickingOptions& options) : options_(options) {}

    // The peaks of every segment in order, without those the options drop; valid
    // until the next call.
    std::span<const PickedPeak> pick(ProfileView profile);

    // The peaks of the segment that begins at sample 0 of `samples`, as pick() finds
    // them, samples numbered from 0, and its number of samples. `Samples` gives
    // count(i) (> 0), position(i), and next(i): the count of sample i + 1 when it is in
    // the segment too, which it is for i = 0, and 0 when not. The peaks are valid
    // until the next call.
    struct SegmentPeaks {
        std::span<const PickedPeak> peaks;
        std::size_t length = 0;
    };
    template <class Samples> SegmentPeaks pick_segment(const Samples& samples);

    // Whether a lone sample with these counts is kept.
    bool keeps_lone(double counts) const {
        return options_.min_points <= 1 && static_cast<float>(counts) >= options_.min_intensity;
    }

  private:
    struct Maximum {
        std::size_t first = 0; // a flat top's samples [first, last]
        std::size_t last = 0;
    };
    // A peak of the segment being walked, not placed yet: samples [begin, end).
    struct Split {
        std::size_t begin = 0;
        std::size_t end = 0;
        std::uint64_t counts = 0;
        Maximum apex;
        // Through a signed integer, which converts in one instruction: a segment's
        // counts stay far below 2^63.
        double total() const { return static_cast<double>(static_cast<std::int64_t>(counts)); }
    };
    // The walk's state between maxima. No valley is looked for before the first apex
    // (nothing is below 0), and none has been found since the apex while it holds the
    // largest value.
    struct Walk {
        static constexpr std::uint32_t kNotLooking = 0;
        static constexpr std::uint32_t kNoneYet = 0xFFFF'FFFF;
        std::size_t peak_begin = 0;
        std::uint64_t begin_through = 0; // the segment's counts before the current peak
        Maximum apex;
        std::uint32_t apex_value = 0;
        std::size_t valley_at = 0;
        std::uint32_t valley_value = kNotLooking;
        std::uint64_t valley_through = 0; // the segment's counts up to and including the valley
    };

    // Splits the segment into splits_ and says how many samples it has.
    template <class Samples> std::size_t split_segment(const Samples& samples);
    // A maximum `top` of `value` is met: it merges into the current peak or starts the next.
    void maximum_met(Walk& walk, Maximum top, std::uint32_t value);
    bool keeps(const Split& peak) const {
        return peak.end - peak.begin >= options_.min_points &&
               static_cast<float>(peak.total()) >= options_.min_intensity;
    }
    // Places the kept peaks of a segment of `n` samples, split as splits_ says.
    template <class Samples> void place_peaks(const Samples& samples, std::size_t n);
    template <class Samples>
    std::optional<double> corrected_vertex(const Samples& samples, std::size_t k) const;

    PickingOptions options_;
    std::vector<PickedPeak> peaks_;
    std::vector<PickedPeak> segment_peaks_;
    std::vector<Split> splits_;
    std::vector<std::optional<ApexGaussian>> gaussians_; // of splits_, for overlapping peaks
};

// The Gaussian of a peak of a segment of `n` samples through its apex and the apex's
// neighbours; none for a flat top, an apex at an edge, or counts that do not peak.
template <class Samples>
std::optional<ApexGaussian> apex_gaussian(const Samples& samples, std::size_t n, std::size_t apex_first,
                                          std::size_t apex_last);

// Where a peak of a segment of `n` samples with this apex lies (see PeakPicker).
template <class Samples>
double peak_position(const Samples& samples, std::size_t n, std::size_t apex_first, std::size_t apex_last);

} // namespace tarnvale::processing

#include "processing/peak_picking_impl.hpp"
