// Peak picking of a sampled (profile) signal on the time-bin axis: segments of
// adjacent samples are split into peaks at deep enough valleys, and each peak gets
// one position and the sum of its counts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

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

// Splits every segment at the valleys between its maxima and places each peak:
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
//    is the count-weighted mean position of the apex and its neighbours.
// Reuses its memory from call to call: one per thread.
class PeakPicker {
  public:
    explicit PeakPicker(const PickingOptions& options) : options_(options) {}

    // The peaks of every segment in order, without those the options drop; valid
    // until the next call.
    std::span<const PickedPeak> pick(ProfileView profile);

  private:
    struct Maximum {
        std::size_t first = 0; // a flat top's samples [first, last]
        std::size_t last = 0;
    };

    void pick_segment(ProfileView profile, std::size_t begin, std::size_t end);
    void find_maxima(std::span<const std::uint32_t> counts, std::size_t begin, std::size_t end);
    void add_peak(ProfileView profile, std::size_t begin, std::size_t end, std::size_t segment_begin,
                  std::size_t segment_end, Maximum apex);

    PickingOptions options_;
    std::vector<Maximum> maxima_;
    std::vector<PickedPeak> peaks_;
};

// Where a peak of a segment [begin, end) with this apex lies (see PeakPicker).
double peak_position(ProfileView profile, std::size_t begin, std::size_t end, std::size_t apex_first,
                     std::size_t apex_last);

// Whether the lower of two maxima stands far enough above the valley between them
// for the two to be separate peaks.
bool deep_enough(double lower_maximum, double valley);

} // namespace tarnvale::processing
