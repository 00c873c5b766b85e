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
    std::uint64_t bytes(std::uint64_t records) const { return eight_ ? records * 8 : records * 6; }
    // Whether `bytes` are exactly records(bytes) records, from that count: no second division.
    bool whole(std::uint64_t bytes, std::uint64_t records) const { return this->bytes(records) == bytes; }

  private:
    bool eight_;
};

// Each scan's records, width.records(ScanRanges(entry)(scan).length), for passes over
// every scan of a function: with a Variant A index, the count in the index unless the
// scan runs past the end of the file, without working out its byte range.
class ScanRecords {
  public:
    explicit ScanRecords(const FunctionEntry& entry)
        : scans_(entry.scans), ranges_(entry), width_(record_width(entry.encoding)), dat_len_(entry.dat_len),
          variant_a_(entry.scans.is_variant_a()) {}

    std::uint64_t operator()(std::uint64_t scan) const {
        if (variant_a_) {
            const std::uint64_t offset = scans_.offset(scan);
            const std::uint64_t records = scans_.n_points(scan);
            if (offset <= dat_len_ && width_.bytes(records) <= dat_len_ - offset) return records;
            return past_the_end(scan);
        }
        return width_.records(ranges_(scan).length);
    }

  private:
    // Out of line, so that a pass over many scans keeps its registers for the common case.
    [[gnu::noinline]] std::uint64_t past_the_end(std::uint64_t scan) const {
        return width_.records(ranges_(scan).length);
    }

    raw::ScanIndex scans_; // a copy, which shares the bytes, keeps its fields in registers
    ScanRanges ranges_;
    RecordWidth width_;
    std::uint64_t dat_len_;
    bool variant_a_;
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
