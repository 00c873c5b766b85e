#include "columns/chromatograms.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <format>
#include <limits>
#include <memory>

#include "columns/page_array.hpp"
#include "columns/scan_walk.hpp"
#include "log.hpp"
#include "raw/intensity_grid.hpp"

namespace tarnvale::columns {

namespace {

constexpr std::string_view kTarget = "tarnvale::columns";
// Totals of byte ranges (which a damaged index can make overlap) stop growing here,
// far below where they would overflow: they only weigh the work.
constexpr std::uint64_t kMaxTotal = std::uint64_t{1} << 62;

// The decoders' intensities sum exactly in any order up to raw::kExactSumPoints of
// them, so four running sums give the same result as one. Longer scans are summed
// one point after another.
using raw::kExactSumPoints;

// The arrays being filled, one value per scan (the traces target by target). The
// traces are fresh pages, zero until written: only the pages of a target's scans
// with points in its window are ever backed by memory.
struct Traces {
    static Result<Traces> make(const ChromatogramRequest& request, std::size_t scans) {
        const std::size_t targets = request.targets.size();
        if (scans != 0 && targets > std::numeric_limits<std::size_t>::max() / scans)
            return fail(Error::io(ENOMEM));
        TV_ASSIGN_OR_RETURN(PageArray xic, reserve_elements<double>(targets * scans));
        return Traces(request, scans, std::move(xic));
    }

    // Fills every requested value of `scan` from its points.
    void reduce(std::uint64_t scan, std::span<const double> mz, std::span<const float> intensity) {
        const auto s = static_cast<std::size_t>(scan);
        if (!tic.empty()) tic[s] = total_intensity(intensity);
        if (!base_peak_mz.empty()) {
            if (!intensity.empty()) {
                const std::size_t best = base_peak_index(intensity);
                base_peak_mz[s] = mz[best];
                base_peak_intensity[s] = intensity[best];
            }
        }
        if (n_targets > 0) {
            double* row = reinterpret_cast<double*>(xic.data()) + s;
            for (std::size_t i = 0; i < mz.size(); ++i) {
                const double value = static_cast<double>(intensity[i]);
                matcher.for_each_match(mz[i], [&](std::uint32_t t) { row[t * n_scans] += value; });
            }
        }
    }

    Chromatograms finish(const ChromatogramRequest& request, Column<float> rt_min,
                         std::vector<std::uint64_t> skipped) && {
        Chromatograms out;
        out.rt_min = std::move(rt_min);
        if (request.tic) out.tic = Column<double>::from_vector(std::move(tic));
        if (request.base_peak) {
            out.base_peak_mz = Column<double>::from_vector(std::move(base_peak_mz));
            out.base_peak_intensity = Column<float>::from_vector(std::move(base_peak_intensity));
        }
        out.xic = column_over<double>(std::move(xic), n_targets * n_scans);
        out.n_targets = n_targets;
        out.skipped = std::move(skipped);
        return out;
    }

    std::size_t n_scans;
    std::size_t n_targets;
    TargetMatcher matcher;
    std::vector<double> tic;
    std::vector<double> base_peak_mz;
    std::vector<float> base_peak_intensity;
    PageArray xic;

  private:
    Traces(const ChromatogramRequest& request, std::size_t scans, PageArray pages)
        : n_scans(scans), n_targets(request.targets.size()), matcher(request.targets), xic(std::move(pages)) {
        if (request.tic) tic.resize(n_scans);
        if (request.base_peak) {
            base_peak_mz.resize(n_scans);
            base_peak_intensity.resize(n_scans);
        }
    }
};

// Decodes into a small scratch area and reduces each scan as soon as it is complete.
class TraceSink {
  public:
    explicit TraceSink(Traces& traces) : traces_(traces) {}

    // Drift times are not needed, so the decoder is given nowhere to write them.
    PointOutput room(std::size_t records) {
        if (mz_.size() < records) {
            mz_.resize(records);
            intensity_.resize(records);
        }
        used_ = 0;
        return {mz_.data(), intensity_.data(), nullptr};
    }
    void done(std::uint64_t scan, std::size_t points) {
        traces_.reduce(scan, std::span<const double>(mz_).subspan(used_, points),
                       std::span<const float>(intensity_).subspan(used_, points));
        used_ += points;
    }
    void skipped(std::uint64_t scan) { skipped_.push_back(scan); }
    std::vector<std::uint64_t>& skipped_scans() { return skipped_; }

  private:
    Traces& traces_;
    std::vector<double> mz_;
    std::vector<float> intensity_;
    std::size_t used_ = 0;
    std::vector<std::uint64_t> skipped_;
};

} // namespace

double total_intensity(std::span<const float> intensity) {
    if (intensity.size() > kExactSumPoints) {
        double sum = 0.0;
        for (float value : intensity) sum += static_cast<double>(value);
        return sum;
    }
    double sums[4] = {0.0, 0.0, 0.0, 0.0};
    std::size_t i = 0;
    for (; i + 4 <= intensity.size(); i += 4)
        for (std::size_t lane = 0; lane < 4; ++lane) sums[lane] += static_cast<double>(intensity[i + lane]);
    for (; i < intensity.size(); ++i) sums[0] += static_cast<double>(intensity[i]);
    return (sums[0] + sums[1]) + (sums[2] + sums[3]);
}

// A running maximum makes every step wait for the one before it. The greatest value
// does not depend on the order it is looked for in, so four lanes look for it side
// by side; the running maximum's answer is then the first point equal to it, which
// also settles which of 0 and -0 it is.
std::size_t base_peak_index(std::span<const float> intensity) {
    constexpr std::size_t kLanes = 4;
    const float first = intensity[0];
    if (std::isnan(first)) return 0;
    float greatest[kLanes] = {first, first, first, first};
    std::size_t i = 1;
    for (; i + kLanes <= intensity.size(); i += kLanes) {
        for (std::size_t lane = 0; lane < kLanes; ++lane) {
            const float value = intensity[i + lane];
            greatest[lane] = value > greatest[lane] ? value : greatest[lane];
        }
    }
    for (; i < intensity.size(); ++i) greatest[0] = intensity[i] > greatest[0] ? intensity[i] : greatest[0];
    float top = greatest[0];
    for (std::size_t lane = 1; lane < kLanes; ++lane) top = greatest[lane] > top ? greatest[lane] : top;
    std::size_t at = 0;
    while (intensity[at] != top) ++at; // top is one of the values, and not NaN
    return at;
}

Result<Chromatograms> chromatograms_of(const FunctionColumns& columns, const ChromatogramRequest& request) {
    TV_ASSIGN_OR_RETURN(Traces traces, Traces::make(request, columns.n_scans()));
    const std::span<const std::uint64_t> offsets = columns.scan_offsets.view();
    const std::span<const double> mz = columns.mz.view();
    const std::span<const float> intensity = columns.intensity.view();
    for (std::size_t scan = 0; scan < columns.n_scans(); ++scan) {
        const auto first = static_cast<std::size_t>(offsets[scan]);
        const auto count = static_cast<std::size_t>(offsets[scan + 1] - offsets[scan]);
        traces.reduce(scan, mz.subspan(first, count), intensity.subspan(first, count));
    }
    return std::move(traces).finish(request, columns.rt_min, columns.skipped);
}

Result<Chromatograms> read_chromatograms(const Reader& reader, const FunctionEntry& entry,
                                         const ChromatogramRequest& request, const Options& options) {
    const std::uint64_t n = entry.scans.size();
    const ScanRanges byte_ranges(entry);
    std::uint64_t total = 0;
    for (std::uint64_t scan = 0; scan < n; ++scan)
        total = std::min(total, kMaxTotal) + byte_ranges(scan).length;
    const std::vector<ScanRange> ranges =
        split_scans(n, worker_count(options.threads, n), total,
                    [&](std::uint64_t scan) { return byte_ranges(scan).length; });
    const FunctionJob job(reader, entry, options, total, ranges.size());

    TV_ASSIGN_OR_RETURN(Traces traces, Traces::make(request, static_cast<std::size_t>(n)));
    std::vector<TraceSink> sinks;
    sinks.reserve(ranges.size());
    for (std::size_t k = 0; k < ranges.size(); ++k) sinks.emplace_back(traces);
    std::vector<Result<void>> results(ranges.size());
    std::vector<std::optional<Error>> first_skipped(ranges.size());
    FirstFailure first_failure;
    run_workers(ranges.size(), [&](std::size_t k) {
        ScanWalk<TraceSink> walk(job, sinks[k], &first_failure, k);
        results[k] = walk.run(ranges[k]);
        if (!results[k]) first_failure.record(k);
        first_skipped[k] = std::move(walk.first_skipped());
    });
    for (Result<void>& result : results)
        if (!result) return fail(std::move(result).error());

    std::vector<std::uint64_t> skipped;
    for (TraceSink& sink : sinks) skipped.append_range(sink.skipped_scans());
    log_skipped(entry, skipped, first_skipped);
    TV_LOG(log::Level::Debug, kTarget,
           std::format("function {}: chromatograms of {} scans, {} target(s), {} worker(s)", entry.number, n,
                       request.targets.size(), ranges.size()));
    return std::move(traces).finish(request, retention_times(entry), std::move(skipped));
}

} // namespace tarnvale::columns
