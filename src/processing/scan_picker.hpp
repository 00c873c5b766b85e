// Peak picking of one decoded scan of encoding B or C, in place: the scan's records
// give the profile (time-bin positions, counts, drift words), the decoded points of
// the same records are overwritten by the peaks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "bytes.hpp"
#include "processing/peak_picking.hpp"
#include "processing/record_links.hpp"
#include "raw/scan_decoders.hpp"

namespace tarnvale::processing {

// Whether an encoding's records sample the time-bin axis, so that picking applies
// to them: B and C. A and D hold peak lists and pass unchanged.
constexpr bool picks_encoding(char encoding) { return encoding == 'B' || encoding == 'C'; }

// One per thread: it keeps its memory from scan to scan.
class ScanPicker {
  public:
    // `context` is the function's decode context; it must outlive the picker.
    ScanPicker(char encoding, const raw::DecodeContext& context, const PickingOptions& options);

    // `points` holds the `count` points that the decoder of the encoding wrote for
    // `scan` (whole records). Writes the scan's peaks over them, from the first point
    // on, in the order of their segments, and returns how many. A peak of one sample
    // alone in its segment keeps its point bit for bit; any other gets the m/z of its
    // position through the decoder's flight-time axis and calibration, the float32 of
    // its summed counts and (B) its segment's drift time.
    std::size_t pick(Bytes scan, raw::PointOutput points, std::size_t count);

  private:
    struct Output;
    template <bool kWithFraction> std::size_t pick_records(Bytes scan, std::size_t count, Output& out);
    // Writes a segment's peaks, whose first point is point `first_point`.
    void write_peaks(std::span<const PickedPeak> peaks, std::size_t first_point, Output& out) const;

    bool with_fraction_;
    const raw::DecodeContext* context_;
    raw::kernels::FlightTimeBounds bounds_;
    PeakPicker picker_;
    LinkRecords link_;
    std::vector<std::uint32_t> nexts_; // of the scan's records, from link_
};

} // namespace tarnvale::processing
