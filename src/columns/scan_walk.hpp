// Reading and decoding a range of a function's scans in scan order, in large
// sequential reads, handing the points to a sink.
//
// The walk reads a chunk of the .DAT file at a time: the bytes of as many
// consecutive scans as fit in the chunk size (a larger scan is read on its own).
// Within a chunk, scans of encodings A and D whose bytes follow each other in the
// file are decoded by one decoder call (their points do not depend on where a scan
// ends), then split into scans again; consecutive B and C scans are handed to the
// decoder together, each still framed on its own flight-time axis.
// Every scan's points are those Reader::decode_scan gives for it, and every failure
// is the one decode_scan reports for that scan: a chunk that cannot be read is read
// again scan by scan as decode_scan reads it (as is a scan over the size limit of
// one scan), a run that cannot be decoded is decoded again scan by scan.
//
// A sink takes the points in scan order:
//   PointOutput room(std::size_t records)  where the next decoder call writes, with
//                                          room for `records` points;
//   void done(std::uint64_t scan, std::size_t points)  the next `points` points
//                                          written are those of `scan`;
//   void done_each(std::uint64_t first, std::span<const std::size_t> points)
//                                          optional: the same for scans first, first + 1, ...;
//   void skipped(std::uint64_t scan)       `scan` could not be decoded and is left empty;
//   void skipped(std::uint64_t scan, const Error& error)
//                                          optional: the same with decode_scan's error for it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "columns/decode_into.hpp"
#include "columns/options.hpp"
#include "columns/workers.hpp"
#include "error.hpp"
#include "io.hpp"
#include "processing/scan_processing.hpp"
#include "reader/reader.hpp"
#include "size_limits.hpp"

namespace tarnvale::columns {

// What every walk over one function shares.
struct FunctionJob {
    FunctionJob(const Reader& reader_, const FunctionEntry& entry_, const Options& options,
                std::uint64_t total_bytes, std::size_t workers);
    FunctionJob(const FunctionJob&) = delete;
    FunctionJob& operator=(const FunctionJob&) = delete;

    const Reader& reader;
    const FunctionEntry& entry;
    ScanRanges ranges;
    raw::DecodeContext context;
    raw::FunctionDecoder decoder; // refers to `context`: a job stays where it is built
    RecordWidth width;
    std::size_t chunk_bytes;
    OnError on_error;
    std::shared_ptr<const processing::ScanProcessing> processing; // none: points as decoded
};

// Runs of A and D scans decoded in one call are cut at this many records, so that
// what one call writes stays in the cache for a sink that reads it right after.
inline constexpr std::size_t kRunRecords = 16384;
// A chunk holds at most this many scans, which bounds the list of their byte ranges.
inline constexpr std::size_t kChunkScans = 8192;
// B and C scans go to the decoder this many at a time at most (and kRunRecords records).
inline constexpr std::size_t kRunScans = 1024;

template <class Sink> class ScanWalk {
  public:
    // `first_failure`, when given, stops the walk early once a worker numbered
    // below `worker` has failed.
    ScanWalk(const FunctionJob& job, Sink& sink, const FirstFailure* first_failure = nullptr,
             std::size_t worker = 0)
        : job_(job), sink_(sink), first_failure_(first_failure), worker_(worker) {
        ranges_.resize(kChunkScans);
        records_.resize(kChunkScans);
        if (!decodes_across_scans(job_.entry.encoding)) {
            run_scans_.resize(kRunScans);
            run_points_.resize(kRunScans);
        }
        if (job_.processing) {
            processor_.emplace(*job_.processing, job_.entry, job_.context);
            if (!processor_->active()) processor_.reset();
        }
    }

    // Decodes scans [range.first, range.last). With OnError::Fail the first scan that
    // cannot be decoded ends the walk with decode_scan's error for it.
    Result<void> run(ScanRange range);

    // With OnError::Skip: the error of the first scan skipped, if any.
    std::optional<Error>& first_skipped() { return first_skipped_; }

  private:
    // Scans [first, last) whose bytes all lie within [lo, hi) of the file.
    struct Chunk {
        std::uint64_t first = 0;
        std::uint64_t last = 0;
        std::uint64_t lo = 0;
        std::uint64_t hi = 0;
    };

    Chunk gather(std::uint64_t first, std::uint64_t last);
    Result<void> decode_chunk(const Chunk& chunk, Bytes data);
    Result<void> decode_chunk_scan_by_scan(const Chunk& chunk);
    // Scans [begin, end) of the chunk, whose bytes follow each other: `bytes` of them
    // from scan `begin` on, `records` records.
    Result<void> decode_run(const Chunk& chunk, std::size_t begin, std::size_t end, Bytes data,
                            std::size_t bytes, std::size_t records);
    Result<void> decode_one(std::uint64_t scan, Bytes bytes);
    // B and C: the scans of the chunk in runs of whole scans, one decoder call per run.
    Result<void> decode_chunk_in_runs(const Chunk& chunk, Bytes data);
    // Scans [begin, end) of the chunk, a run listed in run_scans_.
    Result<void> decode_scans(const Chunk& chunk, std::size_t begin, std::size_t end, std::size_t records);
    Result<void> failed(std::uint64_t scan, Error error);
    // Hands the sink the points of scans first, first + 1, ... at once, if it takes them so.
    void done_each(std::uint64_t first, std::span<const std::size_t> points) {
        if constexpr (requires { sink_.done_each(first, points); }) {
            sink_.done_each(first, points);
        } else {
            for (std::size_t i = 0; i < points.size(); ++i) sink_.done(first + i, points[i]);
        }
    }
    std::span<std::uint8_t> buffer(std::size_t bytes);
    // With a processor: processes the points of consecutive scans first, first + 1, ...
    // decoded one after the other from `out` on, points[i] of them for scan first + i,
    // whose bytes are bytes_of(i); leaves each scan's processed points right after the
    // previous scan's and its count in points[i].
    template <class BytesOf>
    void process(processing::ScanProcessor& processor, std::uint64_t first, std::span<std::size_t> points,
                 PointOutput out, BytesOf&& bytes_of);
    // The scan's bytes within a chunk read into `data`; none for an empty scan, which
    // may lie anywhere.
    Bytes bytes_or_none(const Chunk& chunk, std::size_t i, Bytes data) const {
        return ranges_[i].length == 0 ? Bytes{} : bytes_of(chunk, i, data);
    }
    // The scan's bytes within a chunk read into `data`.
    Bytes bytes_of(const Chunk& chunk, std::size_t i, Bytes data) const {
        return data.subspan(static_cast<std::size_t>(ranges_[i].offset - chunk.lo),
                            static_cast<std::size_t>(ranges_[i].length));
    }

    const FunctionJob& job_;
    Sink& sink_;
    const FirstFailure* first_failure_;
    std::size_t worker_;
    std::vector<ByteRange> ranges_;    // of the scans of the current chunk, from its first on
    std::vector<std::size_t> records_; // the same scans' whole records, counted once
    std::vector<Bytes> run_scans_;     // B and C: the bytes of the scans of a run, and their points
    std::vector<std::size_t> run_points_;
    std::unique_ptr<std::uint8_t[]> buffer_;
    std::size_t capacity_ = 0;
    std::optional<Error> first_skipped_;
    std::optional<processing::ScanProcessor> processor_;
    std::vector<std::size_t> processed_points_; // A and D runs: each scan's points
};

template <class Sink> Result<void> ScanWalk<Sink>::run(ScanRange range) {
    if (range.first >= range.last) return {};
    auto file = File::open(job_.entry.dat_path);
    if (!file) {
        // decode_scan opens the file for every scan, so every scan fails the same way.
        const Error error = std::move(file).error();
        for (std::uint64_t scan = range.first; scan < range.last; ++scan)
            TV_RETURN_IF_ERROR(failed(scan, error.clone()));
        return {};
    }
    for (std::uint64_t scan = range.first; scan < range.last;) {
        if (first_failure_ != nullptr && first_failure_->before(worker_)) return {};
        const Chunk chunk = gather(scan, range.last);
        if (chunk.hi == chunk.lo) {
            TV_RETURN_IF_ERROR(decode_chunk(chunk, {}));
        } else if (chunk.hi - chunk.lo > kScanLimit.bytes) {
            TV_RETURN_IF_ERROR(decode_chunk_scan_by_scan(chunk)); // one scan over the limit
        } else {
            const std::span<std::uint8_t> data = buffer(static_cast<std::size_t>(chunk.hi - chunk.lo));
            if (file->read_exact_at(chunk.lo, data))
                TV_RETURN_IF_ERROR(decode_chunk(chunk, data));
            else
                TV_RETURN_IF_ERROR(decode_chunk_scan_by_scan(chunk));
        }
        scan = chunk.last;
    }
    return {};
}

template <class Sink>
typename ScanWalk<Sink>::Chunk ScanWalk<Sink>::gather(std::uint64_t first, std::uint64_t last) {
    // Copies in locals: the lists written below could alias the job's members, which
    // every scan would then load again.
    const ScanRanges ranges = job_.ranges;
    const RecordWidth width = job_.width;
    const std::uint64_t chunk_bytes = job_.chunk_bytes;
    ByteRange* const ranges_out = ranges_.data();
    std::size_t* const records_out = records_.data();
    std::uint64_t lo = 0;
    std::uint64_t hi = 0;
    bool holds_bytes = false;
    const std::uint64_t end = std::min(last, first + kChunkScans);
    std::uint64_t scan = first;
    for (; scan < end; ++scan) {
        const ByteRange range = ranges(scan);
        if (range.length != 0) {
            // Within dat_len, so the end cannot overflow.
            const std::uint64_t range_end = range.offset + range.length;
            const std::uint64_t new_lo = holds_bytes ? std::min(lo, range.offset) : range.offset;
            const std::uint64_t new_hi = holds_bytes ? std::max(hi, range_end) : range_end;
            // A scan over the limit of one scan goes alone, to fail as decode_scan fails it.
            if (holds_bytes && (new_hi - new_lo > chunk_bytes || range.length > kScanLimit.bytes)) break;
            lo = new_lo;
            hi = new_hi;
            holds_bytes = true;
        }
        const auto i = static_cast<std::size_t>(scan - first);
        ranges_out[i] = range;
        records_out[i] = static_cast<std::size_t>(width.records(range.length));
        if (range.length > kScanLimit.bytes) {
            ++scan;
            break;
        }
    }
    return {first, scan, lo, hi};
}

template <class Sink> Result<void> ScanWalk<Sink>::decode_chunk(const Chunk& chunk, Bytes data) {
    if (!decodes_across_scans(job_.entry.encoding)) return decode_chunk_in_runs(chunk, data);
    const RecordWidth width = job_.width;
    const auto count = static_cast<std::size_t>(chunk.last - chunk.first);
    for (std::size_t i = 0; i < count;) {
        const ByteRange& range = ranges_[i];
        if (range.length == 0) {
            sink_.done(chunk.first + i, 0);
            ++i;
            continue;
        }
        std::size_t end = i + 1;
        std::uint64_t next_offset = range.offset + range.length;
        std::uint64_t records = records_[i];
        if (width.whole(range.length, records)) {
            // Extend the run over whole scans that follow on in the file.
            for (; end < count; ++end) {
                const ByteRange& next = ranges_[end];
                if (next.length == 0) continue;
                const std::uint64_t more = records_[end];
                if (next.offset != next_offset || !width.whole(next.length, more) ||
                    records + more > kRunRecords)
                    break;
                next_offset += next.length;
                records += more;
            }
        }
        if (end - i > 1)
            TV_RETURN_IF_ERROR(decode_run(chunk, i, end, data,
                                          static_cast<std::size_t>(next_offset - range.offset),
                                          static_cast<std::size_t>(records)));
        else
            TV_RETURN_IF_ERROR(decode_one(chunk.first + i, bytes_of(chunk, i, data)));
        i = end;
    }
    return {};
}

template <class Sink>
Result<void> ScanWalk<Sink>::decode_run(const Chunk& chunk, std::size_t begin, std::size_t end, Bytes data,
                                        std::size_t bytes, std::size_t records) {
    const std::size_t start = static_cast<std::size_t>(ranges_[begin].offset - chunk.lo);
    const PointOutput out = sink_.room(records);
    auto decoded = job_.decoder.decode(data.subspan(start, bytes), out);
    if (!decoded) {
        // Find the scan that fails: decode_scan's error names it.
        for (std::size_t i = begin; i < end; ++i)
            TV_RETURN_IF_ERROR(decode_one(chunk.first + i, bytes_or_none(chunk, i, data)));
        return {};
    }
    if (processor_) {
        processed_points_.resize(end - begin);
        for (std::size_t i = begin; i < end; ++i)
            processed_points_[i - begin] =
                *decoded == records ? records_[i]
                                    : count_points(job_.entry.encoding, bytes_or_none(chunk, i, data));
        process(*processor_, chunk.first + begin, processed_points_, out,
                [&](std::size_t i) { return bytes_or_none(chunk, begin + i, data); });
        done_each(chunk.first + begin, processed_points_);
        return {};
    }
    // Records of zero intensity give no point; only then must each scan's points be counted.
    if (*decoded == records) {
        done_each(chunk.first + begin, std::span<const std::size_t>(records_).subspan(begin, end - begin));
        return {};
    }
    for (std::size_t i = begin; i < end; ++i)
        sink_.done(chunk.first + i, count_points(job_.entry.encoding, bytes_or_none(chunk, i, data)));
    return {};
}

template <class Sink> Result<void> ScanWalk<Sink>::decode_chunk_in_runs(const Chunk& chunk, Bytes data) {
    const RecordWidth width = job_.width;
    const auto count = static_cast<std::size_t>(chunk.last - chunk.first);
    for (std::size_t i = 0; i < count;) {
        // A run ends before a scan that is no whole number of records, which goes on its own.
        // The run's scans are listed for the decoder as it grows.
        std::size_t end = i;
        std::uint64_t records = 0;
        for (; end < count && end - i < kRunScans; ++end) {
            const std::uint64_t more = records_[end];
            if (!width.whole(ranges_[end].length, more)) break;
            if (end > i && records + more > kRunRecords) break;
            records += more;
            run_scans_[end - i] = bytes_or_none(chunk, end, data);
        }
        if (end == i) {
            TV_RETURN_IF_ERROR(decode_one(chunk.first + i, bytes_of(chunk, i, data)));
            ++i;
            continue;
        }
        TV_RETURN_IF_ERROR(decode_scans(chunk, i, end, static_cast<std::size_t>(records)));
        i = end;
    }
    return {};
}

template <class Sink>
Result<void> ScanWalk<Sink>::decode_scans(const Chunk& chunk, std::size_t begin, std::size_t end,
                                          std::size_t records) {
    const std::span<const Bytes> scans(run_scans_.data(), end - begin);
    const PointOutput out = sink_.room(records);
    if (!job_.decoder.decode_scans(scans, out, run_points_)) {
        // Find the scan that fails: decode_scan's error names it.
        for (std::size_t i = 0; i < scans.size(); ++i)
            TV_RETURN_IF_ERROR(decode_one(chunk.first + begin + i, scans[i]));
        return {};
    }
    const std::span<std::size_t> points = std::span<std::size_t>(run_points_).first(end - begin);
    if (processor_)
        process(*processor_, chunk.first + begin, points, out, [&](std::size_t i) { return scans[i]; });
    done_each(chunk.first + begin, points);
    return {};
}

template <class Sink> Result<void> ScanWalk<Sink>::decode_one(std::uint64_t scan, Bytes bytes) {
    const PointOutput out = sink_.room(static_cast<std::size_t>(job_.width.records(bytes.size())));
    auto decoded = job_.decoder.decode(bytes, out);
    if (!decoded) return failed(scan, std::move(decoded).error());
    sink_.done(scan, processor_ ? processor_->apply(scan, bytes, out, *decoded) : *decoded);
    return {};
}

template <class Sink>
template <class BytesOf>
void ScanWalk<Sink>::process(processing::ScanProcessor& processor, std::uint64_t first,
                             std::span<std::size_t> points, PointOutput out, BytesOf&& bytes_of) {
    std::size_t read = 0;
    std::size_t written = 0;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const std::size_t kept = processor.apply(first + i, bytes_of(i), advanced(out, read), points[i]);
        if (written != read && kept != 0) {
            // Picking left fewer points in an earlier scan: this one's move down after them.
            std::memmove(out.mz + written, out.mz + read, kept * sizeof(double));
            std::memmove(out.intensity + written, out.intensity + read, kept * sizeof(float));
            if (out.drift_time_ms != nullptr)
                std::memmove(out.drift_time_ms + written, out.drift_time_ms + read, kept * sizeof(double));
        }
        read += points[i];
        written += kept;
        points[i] = kept;
    }
}

template <class Sink> Result<void> ScanWalk<Sink>::decode_chunk_scan_by_scan(const Chunk& chunk) {
    for (std::size_t i = 0; i < static_cast<std::size_t>(chunk.last - chunk.first); ++i) {
        const std::uint64_t scan = chunk.first + i;
        if (ranges_[i].length == 0) {
            sink_.done(scan, 0);
            continue;
        }
        auto read = read_exact_at(job_.entry.dat_path, ranges_[i].offset, ranges_[i].length, kScanLimit);
        if (!read)
            TV_RETURN_IF_ERROR(failed(scan, std::move(read).error()));
        else
            TV_RETURN_IF_ERROR(decode_one(scan, read->span()));
    }
    return {};
}

template <class Sink> Result<void> ScanWalk<Sink>::failed(std::uint64_t scan, Error error) {
    Error wrapped = scan_error(job_.reader.dir, job_.entry.number, scan, std::move(error));
    if (job_.on_error == OnError::Fail) return fail(std::move(wrapped));
    if constexpr (requires { sink_.skipped(scan, wrapped); })
        sink_.skipped(scan, wrapped);
    else
        sink_.skipped(scan);
    if (!first_skipped_) first_skipped_.emplace(std::move(wrapped));
    return {};
}

template <class Sink> std::span<std::uint8_t> ScanWalk<Sink>::buffer(std::size_t bytes) {
    if (bytes > capacity_) {
        // Not zero-filled: every read overwrites what it uses.
        buffer_.reset();
        buffer_ = std::make_unique_for_overwrite<std::uint8_t[]>(bytes);
        capacity_ = bytes;
    }
    return {buffer_.get(), bytes};
}

} // namespace tarnvale::columns
