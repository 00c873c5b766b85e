#include "processing/scan_picker.hpp"

#include "raw/flight_time.hpp"
#include "raw/record_layouts.hpp"

namespace tarnvale::processing {

namespace {

using raw::records::LayoutBC;

constexpr double kFractionScale = 0x1p-16;

} // namespace

ScanPicker::ScanPicker(char encoding, const raw::DecodeContext& context, const PickingOptions& options)
    : with_fraction_(encoding == 'C'), drift_splits_(encoding == 'B'), context_(&context),
      bounds_(raw::flight_time_bounds(context)), picker_(options) {}

// A segment is a run of records with a point, with nothing between them in the file,
// whose positions step by exactly one bin and (B) whose drift words are equal: a
// record without a point, a gap in the positions or another drift bin ends it.
bool ScanPicker::read_profile(Bytes scan, std::size_t count) {
    position_.clear();
    counts_.clear();
    segment_start_.clear();
    bool after_gap = true;
    std::uint32_t previous_position = 0;
    std::uint32_t previous_word = 0;
    for (std::size_t at = 0; at + LayoutBC::kSize <= scan.size(); at += LayoutBC::kSize) {
        const std::uint64_t record = LayoutBC::load(scan.data() + at);
        const std::uint32_t intensity = raw::records::intensity_field<LayoutBC>(record);
        if (intensity == 0) {
            after_gap = true;
            continue;
        }
        const std::uint32_t high = LayoutBC::high_half(record);
        const std::uint32_t whole = high >> 16;
        const std::uint32_t word = high & 0xFFFF;
        const bool starts =
            after_gap || whole != previous_position + 1 || (drift_splits_ && word != previous_word);
        segment_start_.push_back(starts ? 1 : 0);
        position_.push_back(with_fraction_
                                ? static_cast<double>(whole) + static_cast<double>(word) * kFractionScale
                                : static_cast<double>(whole));
        counts_.push_back(intensity);
        after_gap = false;
        previous_position = whole;
        previous_word = word;
    }
    return counts_.size() == count;
}

std::size_t ScanPicker::pick(Bytes scan, raw::PointOutput points, std::size_t count) {
    if (count == 0) return 0;
    const std::optional<raw::kernels::FlightTimeAxis> axis = raw::kernels::whole_scan_axis(scan, bounds_);
    // The decoder wrote points for every record with a point exactly when the scan has an axis.
    if (!axis || !read_profile(scan, count)) return count;
    const std::span<const PickedPeak> peaks =
        picker_.pick({.position = position_, .counts = counts_, .segment_start = segment_start_});
    std::size_t written = 0;
    for (const PickedPeak& peak : peaks) {
        // A peak's first sample is never before the next point to write: the points
        // are read before they are written over.
        double mz = points.mz[peak.first];
        float intensity = points.intensity[peak.first];
        if (!peak.alone) {
            mz = raw::mz_at_flight_time(*context_, axis->at(peak.position));
            intensity = static_cast<float>(peak.counts);
        }
        points.mz[written] = mz;
        points.intensity[written] = intensity;
        if (points.drift_time_ms != nullptr) points.drift_time_ms[written] = points.drift_time_ms[peak.first];
        ++written;
    }
    return written;
}

} // namespace tarnvale::processing
