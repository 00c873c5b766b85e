#include "columns/function_columns.hpp"

#include <unistd.h>

#include <algorithm>
#include <format>
#include <limits>
#include <memory>

#include "columns/page_array.hpp"
#include "columns/scan_walk.hpp"
#include "display.hpp"
#include "log.hpp"

namespace tarnvale::columns {

namespace {

constexpr std::string_view kTarget = "tarnvale::columns";

// Writes each worker's points from where its scans' upper bound begins, and records
// each scan's end as if every worker before it filled its bound: true unless records
// were dropped or scans skipped there, and fixed up when the parts are joined.
class ColumnSink {
  public:
    ColumnSink(double* mz, float* intensity, double* drift_time_ms, std::uint64_t* scan_offsets,
               std::uint64_t base)
        : mz_(mz), intensity_(intensity), drift_time_ms_(drift_time_ms), scan_offsets_(scan_offsets),
          base_(base) {}

    PointOutput room(std::size_t) const {
        return {mz_ + points_, intensity_ + points_,
                drift_time_ms_ != nullptr ? drift_time_ms_ + points_ : nullptr};
    }
    void done(std::uint64_t scan, std::size_t points) {
        points_ += points;
        scan_offsets_[scan + 1] = base_ + points_;
    }
    // In locals: a store to the offsets could otherwise alias the members.
    void done_each(std::uint64_t first, std::span<const std::size_t> points) {
        std::uint64_t* const ends = scan_offsets_ + first + 1;
        const std::uint64_t base = base_;
        std::size_t total = points_;
        for (std::size_t i = 0; i < points.size(); ++i) {
            total += points[i];
            ends[i] = base + total;
        }
        points_ = total;
    }
    void skipped(std::uint64_t scan) {
        scan_offsets_[scan + 1] = base_ + points_;
        skipped_.push_back(scan);
    }

    std::size_t points() const { return points_; }
    std::vector<std::uint64_t>& skipped_scans() { return skipped_; }

  private:
    double* mz_;
    float* intensity_;
    double* drift_time_ms_;
    std::uint64_t* scan_offsets_;
    std::uint64_t base_;
    std::size_t points_ = 0;
    std::vector<std::uint64_t> skipped_;
};

// The point arrays while they are filled: reserved for the upper bound.
struct PointArrays {
    PageArray mz;
    PageArray intensity;
    std::optional<PageArray> drift_time_ms;

    // Moves a worker's points from `from` down to `to` (in points).
    void move_down(std::size_t to, std::size_t from, std::size_t points) {
        mz.move_down(to * sizeof(double), from * sizeof(double), points * sizeof(double));
        intensity.move_down(to * sizeof(float), from * sizeof(float), points * sizeof(float));
        if (drift_time_ms)
            drift_time_ms->move_down(to * sizeof(double), from * sizeof(double), points * sizeof(double));
    }
    void shrink(std::size_t points) {
        mz.shrink(points * sizeof(double));
        intensity.shrink(points * sizeof(float));
        if (drift_time_ms) drift_time_ms->shrink(points * sizeof(double));
    }
};

template <class T> T* typed(const PageArray& pages) { return reinterpret_cast<T*>(pages.data()); }

std::size_t bytes_per_point(Encoding encoding) {
    return sizeof(double) + sizeof(float) + (encoding == Encoding::B ? sizeof(double) : 0);
}

std::uint64_t physical_memory() {
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long page = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || page <= 0) return std::numeric_limits<std::uint64_t>::max();
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page);
}

// Functions this many times larger than kSplitBlock scans per worker are split at
// multiples of kSplitBlock scans, from sums per block that the workers take in
// parallel: the calling thread is left no pass over all scans of its own.
constexpr std::uint64_t kSplitBlock = 1024;
constexpr std::uint64_t kBlocksPerWorker = 8;

// The most points the function's scans can decode to (their records), which the
// arrays are reserved for, and the records before every kSplitBlock-th scan when
// the split is made by blocks.
struct PointBound {
    std::uint64_t points = 0;
    std::vector<std::uint64_t> before_block;
};

bool split_by_blocks(std::uint64_t n, std::size_t workers) {
    return workers > 1 && n / kSplitBlock >= kBlocksPerWorker * workers;
}

Error too_many_points(const Reader& reader, const FunctionEntry& entry) {
    return Error::context(
        std::format("{} function {}", display_path(reader.dir), entry.number),
        Error::parse(std::format(
            "the index addresses more points than the {} bytes of memory of this machine can hold",
            physical_memory())));
}

// The records of scans [first, last), or none once they pass `limit`.
std::optional<std::uint64_t> records_within(const FunctionEntry& entry, std::uint64_t first,
                                            std::uint64_t last, std::uint64_t limit) {
    const ScanRecords records_of(entry);
    std::uint64_t points = 0;
    for (std::uint64_t scan = first; scan < last; ++scan) {
        const std::uint64_t records = records_of(scan);
        if (records > limit - points) return std::nullopt;
        points += records;
    }
    return points;
}

// Fails when the bound cannot be held in memory at all, which only a damaged index
// can make happen.
Result<PointBound> point_bound(const Reader& reader, const FunctionEntry& entry, std::size_t workers) {
    const std::uint64_t n = entry.scans.size();
    const std::uint64_t limit = physical_memory() / bytes_per_point(entry.encoding);
    PointBound bound;
    if (!split_by_blocks(n, workers)) {
        const std::optional<std::uint64_t> points = records_within(entry, 0, n, limit);
        if (!points) return fail(too_many_points(reader, entry));
        bound.points = *points;
        return bound;
    }
    // Each worker sums its share of the blocks; a block past the limit is recorded as over it.
    const std::uint64_t blocks = (n + kSplitBlock - 1) / kSplitBlock;
    std::vector<std::uint64_t> per_block(static_cast<std::size_t>(blocks));
    run_workers(workers, [&](std::size_t k) {
        for (std::uint64_t b = blocks * k / workers; b < blocks * (k + 1) / workers; ++b) {
            const std::uint64_t first = b * kSplitBlock;
            per_block[b] =
                records_within(entry, first, std::min(n, first + kSplitBlock), limit).value_or(limit + 1);
        }
    });
    bound.before_block.reserve(static_cast<std::size_t>(blocks) + 1);
    for (const std::uint64_t points : per_block) {
        if (points > limit - bound.points) return fail(too_many_points(reader, entry));
        bound.before_block.push_back(bound.points);
        bound.points += points;
    }
    bound.before_block.push_back(bound.points);
    return bound;
}

std::vector<ScanRange> split_function(const FunctionEntry& entry, std::size_t workers,
                                      const PointBound& bound) {
    const std::uint64_t n = entry.scans.size();
    if (!bound.before_block.empty()) return split_blocks(n, workers, kSplitBlock, bound.before_block);
    const ScanRecords records_of(entry);
    return split_scans(n, workers, bound.points, records_of);
}

Result<PointArrays> reserve_points(Encoding encoding, std::uint64_t bound) {
    const auto points = static_cast<std::size_t>(bound);
    PointArrays arrays;
    TV_ASSIGN_OR_RETURN(arrays.mz, PageArray::reserve(points * sizeof(double)));
    TV_ASSIGN_OR_RETURN(arrays.intensity, PageArray::reserve(points * sizeof(float)));
    if (encoding == Encoding::B) {
        TV_ASSIGN_OR_RETURN(arrays.drift_time_ms, PageArray::reserve(points * sizeof(double)));
    }
    return arrays;
}

} // namespace

void log_skipped(const FunctionEntry& entry, std::span<const std::uint64_t> skipped,
                 std::span<const std::optional<Error>> first_per_worker) {
    for (const std::optional<Error>& first : first_per_worker) {
        if (!first) continue;
        TV_LOG(log::Level::Warn, kTarget,
               std::format("function {}: {} scan(s) could not be decoded and are left empty; the first: {}",
                           entry.number, skipped.size(), first->to_string()));
        return;
    }
}

namespace {

// Joins the workers' parts: moves each down to where the points before it end, and
// takes the difference off its scans' ends. Nothing moves unless a part before
// fell short of its bound (records without a point, skipped scans).
std::size_t join_parts(PointArrays& arrays, std::span<std::uint64_t> offsets,
                       std::span<const ScanRange> ranges, std::span<const ColumnSink> sinks) {
    std::size_t total = 0;
    for (std::size_t k = 0; k < ranges.size(); ++k) {
        const auto base = static_cast<std::size_t>(ranges[k].before);
        if (base != total) {
            arrays.move_down(total, base, sinks[k].points());
            for (std::uint64_t i = ranges[k].first + 1; i <= ranges[k].last; ++i) offsets[i] -= base - total;
        }
        total += sinks[k].points();
    }
    return total;
}

} // namespace

Result<FunctionColumns> read_columns(const Reader& reader, const FunctionEntry& entry,
                                     const Options& options) {
    const std::uint64_t n = entry.scans.size();
    const std::size_t workers = worker_count(options.threads, n);
    TV_ASSIGN_OR_RETURN(const PointBound bounds, point_bound(reader, entry, workers));
    const std::uint64_t bound = bounds.points;
    const std::vector<ScanRange> ranges = split_function(entry, workers, bounds);
    // Every entry is written: the first here, the others by the workers.
    TV_ASSIGN_OR_RETURN(PageArray offset_pages,
                        reserve_elements<std::uint64_t>(static_cast<std::size_t>(n) + 1));
    const std::span<std::uint64_t> offsets(typed<std::uint64_t>(offset_pages),
                                           static_cast<std::size_t>(n) + 1);
    offsets[0] = 0;
    ScanValues scan_values(entry);
    const FunctionJob job(reader, entry, options, bound * record_width(entry.encoding), ranges.size());
    TV_ASSIGN_OR_RETURN(PointArrays arrays, reserve_points(entry.encoding, bound));

    // Each worker starts writing where the bound of the scans before its range ends.
    std::vector<ColumnSink> sinks;
    sinks.reserve(ranges.size());
    for (const ScanRange& range : ranges) {
        const auto base = static_cast<std::size_t>(range.before);
        double* drift = arrays.drift_time_ms ? typed<double>(*arrays.drift_time_ms) + base : nullptr;
        sinks.emplace_back(typed<double>(arrays.mz) + base, typed<float>(arrays.intensity) + base, drift,
                           offsets.data(), range.before);
    }
    std::vector<Result<void>> results(ranges.size());
    std::vector<std::optional<Error>> first_skipped(ranges.size());
    FirstFailure first_failure;
    run_workers(ranges.size(), [&](std::size_t k) {
        ScanWalk<ColumnSink> walk(job, sinks[k], &first_failure, k);
        results[k] = walk.run(ranges[k]);
        if (results[k])
            scan_values.fill(ranges[k].first, ranges[k].last);
        else
            first_failure.record(k);
        first_skipped[k] = std::move(walk.first_skipped());
        TV_LOG(log::Level::Debug, kTarget,
               std::format("function {} scans {}..{}: {} points", entry.number, ranges[k].first,
                           ranges[k].last, sinks[k].points()));
    });
    for (Result<void>& result : results)
        if (!result) return fail(std::move(result).error());

    FunctionColumns columns;
    const std::size_t total = join_parts(arrays, offsets, ranges, sinks);
    arrays.shrink(total);
    for (ColumnSink& sink : sinks) columns.skipped.append_range(sink.skipped_scans());
    log_skipped(entry, columns.skipped, first_skipped);

    columns.function = entry.number;
    columns.encoding = entry.encoding;
    columns.scan_offsets = column_over<std::uint64_t>(std::move(offset_pages), offsets.size());
    columns.mz = column_over<double>(std::move(arrays.mz), total);
    columns.intensity = column_over<float>(std::move(arrays.intensity), total);
    if (arrays.drift_time_ms)
        columns.drift_time_ms = column_over<double>(std::move(*arrays.drift_time_ms), total);
    columns.rt_min = scan_values.take_rt_min();
    columns.collision_energy = scan_values.take_collision_energy();
    columns.etd_fragmentation_mode = scan_values.take_etd_fragmentation_mode();
    TV_LOG(
        log::Level::Debug, kTarget,
        std::format("function {}: {} scans, {} points, {} worker(s)", entry.number, n, total, ranges.size()));
    return columns;
}

} // namespace tarnvale::columns
