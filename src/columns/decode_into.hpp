// Record counts of a function's scans, and which encodings decode a run of whole
// scans in one call.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bytes.hpp"
#include "error.hpp"
#include "raw/scan_decoders.hpp"
#include "reader/reader.hpp"

namespace tarnvale::columns {

using raw::PointOutput;

// Record counts for a record width of 6 or 8 bytes (record_width()), by division by a
// constant rather than by a variable: a walk over short scans divides several times per scan.
class RecordWidth {
  public:
    explicit RecordWidth(std::uint32_t width) : eight_(width == 8) {}

    std::uint64_t records(std::uint64_t bytes) const { return eight_ ? bytes / 8 : bytes / 6; }
    bool whole(std::uint64_t bytes) const { return eight_ ? bytes % 8 == 0 : bytes % 6 == 0; }

  private:
    bool eight_;
};

// The points that records of encoding A or D decode to, without decoding them.
std::size_t count_points(Encoding encoding, Bytes records);

// Whether the points of consecutive records do not depend on where one scan ends
// and the next begins, so that a run of whole scans decodes in one call: A and D.
// (B and C place each scan's points on a flight-time axis of its own.)
constexpr bool decodes_across_scans(Encoding encoding) {
    return encoding == Encoding::A || encoding == Encoding::D;
}

} // namespace tarnvale::columns
