#include "export/batch_columns.hpp"

#include <algorithm>
#include <cstring>
#include <format>
#include <iterator>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "columns/scan_walk.hpp"
#include "columns/workers.hpp"
#include "display.hpp"
#include "export/selection.hpp"
#include "log.hpp"
#include "size_limits.hpp"

namespace tarnvale::exporter {

namespace {

using columns::Column;
using columns::PointOutput;
using columns::RecordWidth;
using columns::ScanRange;

// The point arrays of a batch, each reserved for the most points its scans' records
// can decode to, without zero-filling: every point used is written by a decoder.
struct BatchArrays {
    std::shared_ptr<double[]> mz;
    std::shared_ptr<float[]> intensity;
    std::shared_ptr<double[]> drift_time_ms; // encoding B only

    BatchArrays(std::size_t points, bool ion_mobility)
        : mz(std::make_shared_for_overwrite<double[]>(points)),
          intensity(std::make_shared_for_overwrite<float[]>(points)),
          drift_time_ms(ion_mobility ? std::make_shared_for_overwrite<double[]>(points) : nullptr) {}

    // Moves `count` points from `from` down to `to` (to <= from).
    void move_down(std::size_t to, std::size_t from, std::size_t count) const {
        if (to == from || count == 0) return;
        std::memmove(mz.get() + to, mz.get() + from, count * sizeof(double));
        std::memmove(intensity.get() + to, intensity.get() + from, count * sizeof(float));
        if (drift_time_ms)
            std::memmove(drift_time_ms.get() + to, drift_time_ms.get() + from, count * sizeof(double));
    }
};

// What a batch keeps of each scan: the scans of the selected times, each unless the
// data file ends within its bytes, and of those the points of the selected m/z range.
class Keep {
  public:
    Keep(const Reader& reader, const FunctionEntry& entry, std::span<const float> rt_min,
         const BatchFilter& filter)
        : reader_(reader), entry_(entry), ranges_(entry), rt_min_(rt_min), filter_(filter) {}

    bool selected(std::uint64_t scan) const { return selects_time(filter_.rt_min, rt_min_[scan]); }
    bool all_points() const { return filter_.mz.is_everything(); }
    bool point(double mz) const { return filter_.mz.contains(mz); }

    // Such a scan decodes to what is left of it, silently short: it counts as unreadable.
    std::optional<Error> cut_short(std::uint64_t scan) const {
        const std::uint64_t end = ranges_.indexed_end(scan);
        if (end <= ranges_.dat_len()) return std::nullopt;
        const std::uint64_t offset = entry_.scans.offset(scan);
        return scan_error(
            reader_.dir, entry_.number, scan,
            Error::parse(std::format("the index places it at bytes {}..{}, past the end of {} "
                                     "({} bytes)",
                                     offset, end, display_path(entry_.dat_path), ranges_.dat_len())));
    }

  private:
    const Reader& reader_;
    const FunctionEntry& entry_;
    ScanRanges ranges_;
    std::span<const float> rt_min_;
    const BatchFilter& filter_;
};

// One worker's part: its points from where the record bound of the scans before its
// range begins; the offsets it writes count from its own first point until the parts
// are joined. The decoder writes at the end of the points kept so far; a scan's
// points are then kept in place, moved down over those dropped, or let go.
class BatchSink {
  public:
    BatchSink(const BatchArrays& arrays, std::size_t base, std::uint64_t first_scan, DecodedBatch& batch,
              std::uint64_t* offsets, const Keep& keep)
        : mz_(arrays.mz.get() + base), intensity_(arrays.intensity.get() + base),
          drift_(arrays.drift_time_ms ? arrays.drift_time_ms.get() + base : nullptr), first_scan_(first_scan),
          offsets_(offsets), traces_(batch.traces.data()), written_(batch.written.data()), keep_(keep) {}

    PointOutput room(std::size_t) {
        next_ = points_;
        return {mz_ + points_, intensity_ + points_, drift_ != nullptr ? drift_ + points_ : nullptr};
    }
    // The scan's chromatogram values are taken while its points are still in cache.
    void done(std::uint64_t scan, std::size_t points) {
        const std::size_t from = next_;
        next_ += points;
        if (!keep_.selected(scan)) return close(scan, points_, false);
        if (std::optional<Error> cut = keep_.cut_short(scan)) return left_out(scan, std::move(*cut));
        const std::size_t start = points_;
        if (keep_.all_points()) {
            move_down(start, from, points);
            points_ += points;
        } else {
            for (std::size_t p = from; p < from + points; ++p)
                if (keep_.point(mz_[p])) move_down(points_++, p, 1);
        }
        close(scan, start, true);
    }
    void skipped(std::uint64_t scan, const Error& error) {
        if (!keep_.selected(scan)) return close(scan, points_, false);
        left_out(scan, keep_.cut_short(scan).value_or(error.clone()));
    }

    std::size_t points() const { return points_; }
    std::vector<SkippedScan>& left_out_scans() { return left_out_; }
    std::optional<Error>& first_error() { return first_error_; }

  private:
    void move_down(std::size_t to, std::size_t from, std::size_t count) const {
        if (to == from || count == 0) return;
        std::memmove(mz_ + to, mz_ + from, count * sizeof(double));
        std::memmove(intensity_ + to, intensity_ + from, count * sizeof(float));
        if (drift_ != nullptr) std::memmove(drift_ + to, drift_ + from, count * sizeof(double));
    }
    void close(std::uint64_t scan, std::size_t start, bool written) {
        const auto i = static_cast<std::size_t>(scan - first_scan_);
        traces_[i] = written ? scan_trace({intensity_ + start, points_ - start}) : ScanTrace{};
        written_[i] = written ? 1 : 0;
        offsets_[i + 1] = points_;
    }
    void left_out(std::uint64_t scan, Error error) {
        left_out_.push_back({scan, error.to_string()});
        if (!first_error_) first_error_.emplace(std::move(error));
        close(scan, points_, false);
    }

    double* mz_;
    float* intensity_;
    double* drift_;
    std::uint64_t first_scan_;
    std::uint64_t* offsets_;
    ScanTrace* traces_;
    std::uint8_t* written_;
    const Keep& keep_;
    std::size_t points_ = 0; // kept
    std::size_t next_ = 0;   // where the next scan's decoded points begin
    std::vector<SkippedScan> left_out_;
    std::optional<Error> first_error_;
};

// A scan larger than one scan may be is refused by the walk before anything is
// written for it, so its records count only up to that limit.
std::uint64_t record_bound(const RecordWidth& width, const ByteRange& range) {
    return width.records(std::min(range.length, kScanLimit.bytes));
}

} // namespace

std::uint64_t batch_end(const FunctionEntry& entry, std::uint64_t first, const BatchLimits& limits) {
    const ScanRanges ranges(entry);
    const std::uint64_t n = entry.scans.size();
    std::uint64_t bytes = 0; // within dat_len: scan ranges are clamped to the file
    std::uint64_t last = first;
    while (last < n && last - first < std::max<std::uint64_t>(limits.scans, 1)) {
        const std::uint64_t length = ranges(last).length;
        if (last > first && length > limits.bytes - std::min(bytes, limits.bytes)) break;
        bytes += length;
        ++last;
    }
    return last;
}

Result<DecodedBatch> read_batch(const Reader& reader, const FunctionEntry& entry, const Column<float>& rt_min,
                                std::uint64_t first, std::uint64_t last, unsigned threads,
                                const BatchFilter& filter) {
    const std::uint64_t n = last - first;
    const ScanRanges byte_ranges(entry);
    const RecordWidth width(record_width(entry.encoding));
    std::uint64_t bound = 0;
    for (std::uint64_t scan = first; scan < last; ++scan) bound += record_bound(width, byte_ranges(scan));

    std::vector<ScanRange> ranges =
        columns::split_scans(n, columns::worker_count(threads, n), bound,
                             [&](std::uint64_t i) { return record_bound(width, byte_ranges(first + i)); });
    // The walk goes on past a scan it cannot decode: whether that fails the batch
    // depends on the scan's selection, which the sinks know.
    const columns::Options options{threads, columns::OnError::Skip, 0, filter.processing};
    const columns::FunctionJob job(reader, entry, options, bound * record_width(entry.encoding),
                                   ranges.size());
    const BatchArrays arrays(static_cast<std::size_t>(bound), entry.encoding == Encoding::B);
    auto offsets = std::make_shared<std::vector<std::uint64_t>>(static_cast<std::size_t>(n) + 1, 0);
    DecodedBatch batch;
    batch.traces.resize(static_cast<std::size_t>(n));
    batch.written.resize(static_cast<std::size_t>(n));
    const Keep keep(reader, entry, rt_min.view(), filter);

    std::vector<BatchSink> sinks;
    sinks.reserve(ranges.size());
    for (ScanRange& range : ranges) {
        sinks.emplace_back(arrays, static_cast<std::size_t>(range.before), first, batch, offsets->data(),
                           keep);
        range.first += first;
        range.last += first;
    }
    std::vector<Result<void>> results(ranges.size());
    columns::run_workers(ranges.size(), [&](std::size_t k) {
        columns::ScanWalk<BatchSink> walk(job, sinks[k], nullptr, k);
        results[k] = walk.run(ranges[k]);
    });
    for (Result<void>& result : results)
        if (!result) return fail(std::move(result).error());
    for (BatchSink& sink : sinks) {
        std::optional<Error>& error = sink.first_error();
        if (filter.on_error == columns::OnError::Fail && error.has_value()) return fail(std::move(*error));
        std::ranges::move(sink.left_out_scans(), std::back_inserter(batch.skipped));
    }

    // Join the workers' parts: each moves down to where the points before it end.
    std::size_t total = 0;
    for (std::size_t k = 0; k < ranges.size(); ++k) {
        arrays.move_down(total, static_cast<std::size_t>(ranges[k].before), sinks[k].points());
        for (std::uint64_t scan = ranges[k].first + 1; scan <= ranges[k].last; ++scan)
            (*offsets)[static_cast<std::size_t>(scan - first)] += total;
        total += sinks[k].points();
    }

    columns::FunctionColumns& columns = batch.columns;
    columns.function = entry.number;
    columns.encoding = entry.encoding;
    columns.scan_offsets = Column<std::uint64_t>(offsets, offsets->data(), offsets->size());
    columns.mz = Column<double>(arrays.mz, arrays.mz.get(), total);
    columns.intensity = Column<float>(arrays.intensity, arrays.intensity.get(), total);
    if (arrays.drift_time_ms)
        columns.drift_time_ms = Column<double>(arrays.drift_time_ms, arrays.drift_time_ms.get(), total);
    columns.rt_min = rt_min.slice(static_cast<std::size_t>(first), static_cast<std::size_t>(n));
    for (const SkippedScan& skipped : batch.skipped) columns.skipped.push_back(skipped.scan);
    return batch;
}

Result<columns::FunctionColumns> read_function(const Reader& reader, const FunctionEntry& entry,
                                               unsigned threads, const BatchFilter& filter) {
    const Column<float> rt_min = columns::retention_times(entry);
    const ScanSpan span = selected_scans(entry, filter.rt_min);
    columns::FunctionColumns columns;
    std::vector<std::uint64_t> offsets(rt_min.size() + 1, 0);
    if (span.count > 0) {
        TV_ASSIGN_OR_RETURN(DecodedBatch batch,
                            read_batch(reader, entry, rt_min, span.first, span.last, threads, filter));
        for (const SkippedScan& skipped : batch.skipped)
            TV_LOG(log::Level::Warn, "tarnvale::export", "skipping " + skipped.error);
        const std::span<const std::uint64_t> within = batch.columns.scan_offsets.view();
        std::ranges::copy(within, offsets.begin() + static_cast<std::ptrdiff_t>(span.first));
        std::ranges::fill(offsets.begin() + static_cast<std::ptrdiff_t>(span.last) + 1, offsets.end(),
                          within.back());
        columns = std::move(batch.columns);
    } else {
        columns.function = entry.number;
        columns.encoding = entry.encoding;
        columns.mz = Column<double>::from_vector({});
        columns.intensity = Column<float>::from_vector({});
        if (entry.encoding == Encoding::B) columns.drift_time_ms = Column<double>::from_vector({});
    }
    columns.scan_offsets = Column<std::uint64_t>::from_vector(std::move(offsets));
    columns.rt_min = rt_min;
    return columns;
}

} // namespace tarnvale::exporter
