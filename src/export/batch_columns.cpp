#include "export/batch_columns.hpp"

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "columns/scan_walk.hpp"
#include "columns/workers.hpp"
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

// One worker's part: its points from where the record bound of the scans before its
// range begins; the offsets it writes count from its own first point until the parts
// are joined.
class BatchSink {
  public:
    BatchSink(const BatchArrays& arrays, std::size_t base, std::uint64_t first_scan, std::uint64_t* offsets,
              ScanTrace* traces)
        : mz_(arrays.mz.get() + base), intensity_(arrays.intensity.get() + base),
          drift_(arrays.drift_time_ms ? arrays.drift_time_ms.get() + base : nullptr), first_scan_(first_scan),
          offsets_(offsets), traces_(traces) {}

    PointOutput room(std::size_t) const {
        return {mz_ + points_, intensity_ + points_, drift_ != nullptr ? drift_ + points_ : nullptr};
    }
    // The scan's chromatogram values are taken while its points are still in cache.
    void done(std::uint64_t scan, std::size_t points) {
        traces_[scan - first_scan_] = scan_trace({intensity_ + points_, points});
        points_ += points;
        offsets_[scan - first_scan_ + 1] = points_;
    }
    // Not reached: the walk fails instead of skipping.
    void skipped(std::uint64_t scan) { offsets_[scan - first_scan_ + 1] = points_; }

    std::size_t points() const { return points_; }

  private:
    double* mz_;
    float* intensity_;
    double* drift_;
    std::uint64_t first_scan_;
    std::uint64_t* offsets_;
    ScanTrace* traces_;
    std::size_t points_ = 0;
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
                                std::shared_ptr<const processing::ScanProcessing> processing) {
    const std::uint64_t n = last - first;
    const ScanRanges byte_ranges(entry);
    const RecordWidth width(record_width(entry.encoding));
    std::uint64_t bound = 0;
    for (std::uint64_t scan = first; scan < last; ++scan) bound += record_bound(width, byte_ranges(scan));

    std::vector<ScanRange> ranges =
        columns::split_scans(n, columns::worker_count(threads, n), bound,
                             [&](std::uint64_t i) { return record_bound(width, byte_ranges(first + i)); });
    const columns::Options options{threads, columns::OnError::Fail, 0, std::move(processing)};
    const columns::FunctionJob job(reader, entry, options, bound * record_width(entry.encoding),
                                   ranges.size());
    const BatchArrays arrays(static_cast<std::size_t>(bound), entry.encoding == Encoding::B);
    auto offsets = std::make_shared<std::vector<std::uint64_t>>(static_cast<std::size_t>(n) + 1, 0);
    std::vector<ScanTrace> traces(static_cast<std::size_t>(n));

    std::vector<BatchSink> sinks;
    for (ScanRange& range : ranges) {
        sinks.emplace_back(arrays, static_cast<std::size_t>(range.before), first, offsets->data(),
                           traces.data());
        range.first += first;
        range.last += first;
    }
    std::vector<Result<void>> results(ranges.size());
    columns::FirstFailure first_failure;
    columns::run_workers(ranges.size(), [&](std::size_t k) {
        columns::ScanWalk<BatchSink> walk(job, sinks[k], &first_failure, k);
        results[k] = walk.run(ranges[k]);
        if (!results[k]) first_failure.record(k);
    });
    for (Result<void>& result : results)
        if (!result) return fail(std::move(result).error());

    // Join the workers' parts: each moves down to where the points before it end.
    std::size_t total = 0;
    for (std::size_t k = 0; k < ranges.size(); ++k) {
        arrays.move_down(total, static_cast<std::size_t>(ranges[k].before), sinks[k].points());
        for (std::uint64_t scan = ranges[k].first + 1; scan <= ranges[k].last; ++scan)
            (*offsets)[static_cast<std::size_t>(scan - first)] += total;
        total += sinks[k].points();
    }

    columns::FunctionColumns batch;
    batch.function = entry.number;
    batch.encoding = entry.encoding;
    batch.scan_offsets = Column<std::uint64_t>(offsets, offsets->data(), offsets->size());
    batch.mz = Column<double>(arrays.mz, arrays.mz.get(), total);
    batch.intensity = Column<float>(arrays.intensity, arrays.intensity.get(), total);
    if (arrays.drift_time_ms)
        batch.drift_time_ms = Column<double>(arrays.drift_time_ms, arrays.drift_time_ms.get(), total);
    batch.rt_min = rt_min.slice(static_cast<std::size_t>(first), static_cast<std::size_t>(n));
    return DecodedBatch{std::move(batch), std::move(traces)};
}

} // namespace tarnvale::exporter
