#include "processing/scan_picker.hpp"

#include "raw/flight_time.hpp"
#include "raw/record_layouts.hpp"

namespace tarnvale::processing {

namespace {

using raw::records::LayoutBC;

constexpr double kFractionScale = 0x1p-16;

// The records of a scan from one on, read where they lie: counts and time-bin
// positions (with C's fraction), and the words record_links wrote for them.
template <bool kWithFraction> struct RecordSamples {
    const std::uint8_t* records;
    const std::uint32_t* nexts;
    std::uint64_t at(std::size_t i) const { return LayoutBC::load(records + i * LayoutBC::kSize); }
    std::uint32_t count(std::size_t i) const { return raw::records::intensity_field<LayoutBC>(at(i)); }
    double position(std::size_t i) const {
        const std::uint32_t high = LayoutBC::high_half(at(i));
        const auto whole = static_cast<double>(high >> 16);
        if constexpr (kWithFraction) return whole + static_cast<double>(high & 0xFFFF) * kFractionScale;
        return whole;
    }
    std::uint32_t next(std::size_t i) const { return nexts[i]; }
};

} // namespace

// Where the peaks go: the points are written over from the first on, each read before
// it is written over (a peak's first point is never before the next one written).
struct ScanPicker::Output {
    raw::PointOutput points;
    raw::kernels::FlightTimeAxis axis;
    std::size_t written = 0;

    void copy(std::size_t point) {
        points.mz[written] = points.mz[point];
        points.intensity[written] = points.intensity[point];
        if (points.drift_time_ms != nullptr) points.drift_time_ms[written] = points.drift_time_ms[point];
        ++written;
    }
};

ScanPicker::ScanPicker(char encoding, const raw::DecodeContext& context, const PickingOptions& options)
    : with_fraction_(encoding == 'C'), context_(&context), bounds_(raw::flight_time_bounds(context)),
      picker_(options), link_(record_links(with_fraction_, raw::best_decoder_path())) {}

void ScanPicker::write_peaks(std::span<const PickedPeak> peaks, std::size_t first_point, Output& out) const {
    for (const PickedPeak& peak : peaks) {
        const std::size_t point = first_point + peak.first;
        const double drift = out.points.drift_time_ms != nullptr ? out.points.drift_time_ms[point] : 0.0;
        out.points.mz[out.written] = raw::mz_at_flight_time(*context_, out.axis.at(peak.position));
        out.points.intensity[out.written] = static_cast<float>(peak.counts);
        if (out.points.drift_time_ms != nullptr) out.points.drift_time_ms[out.written] = drift;
        ++out.written;
    }
}

// A segment is a run of records with a point, with nothing between them in the file,
// whose positions step by exactly one bin and (B) whose drift words are equal: a
// record without a point, a gap in the positions or another drift bin ends it. The
// records with a point are the decoder's points, in order.
template <bool kWithFraction>
std::size_t ScanPicker::pick_records(Bytes scan, std::size_t count, Output& out) {
    const std::size_t records = scan.size() / LayoutBC::kSize;
    nexts_.resize(records);
    link_(scan, nexts_.data());
    std::size_t first_point = 0; // the point of the next record with a point
    for (std::size_t r = 0; r < records;) {
        const RecordSamples<kWithFraction> segment{scan.data() + r * LayoutBC::kSize, nexts_.data() + r};
        if (segment.count(0) == 0) {
            ++r;
        } else if (segment.next(0) == 0) {
            if (picker_.keeps_lone(static_cast<double>(out.points.intensity[first_point])))
                out.copy(first_point);
            ++first_point;
            ++r;
        } else {
            const PeakPicker::SegmentPeaks picked = picker_.pick_segment(segment);
            write_peaks(picked.peaks, first_point, out);
            first_point += picked.length;
            r += picked.length;
        }
    }
    // Every point was a record with a point: a scan whose records say otherwise keeps its points.
    return first_point == count ? out.written : count;
}

std::size_t ScanPicker::pick(Bytes scan, raw::PointOutput points, std::size_t count) {
    if (count == 0) return 0;
    const std::optional<raw::kernels::FlightTimeAxis> axis = raw::kernels::whole_scan_axis(scan, bounds_);
    // The decoder wrote points for every record with a point exactly when the scan has an axis.
    if (!axis) return count;
    Output out{points, *axis};
    return with_fraction_ ? pick_records<true>(scan, count, out) : pick_records<false>(scan, count, out);
}

} // namespace tarnvale::processing
