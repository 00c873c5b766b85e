#include "export/batch_spectra.hpp"

#include <algorithm>
#include <cmath>
#include <compare>
#include <numeric>

namespace tarnvale::exporter {

namespace {

using columns::FunctionColumns;

// A strict total order on doubles (NaN included), so that sorting is defined for any
// decoded value and gives the same order everywhere.
bool precedes(double a, double b) { return std::is_lt(std::strong_order(a, b)); }
bool same(double a, double b) { return std::is_eq(std::strong_order(a, b)); }

std::size_t begin_of(const FunctionColumns& batch, std::size_t i) {
    return static_cast<std::size_t>(batch.scan_offsets.view()[i]);
}

} // namespace

mzml::SpectrumInput BatchSpectra::scan_input(const FunctionPlan& plan, const FunctionColumns& batch,
                                             std::uint64_t first_scan, std::size_t i) const {
    mzml::SpectrumInput s;
    s.function = plan.entry->number;
    s.scan = first_scan + i;
    s.ms_level = plan.ms_level;
    s.polarity = plan.polarity;
    s.rt_minutes = static_cast<double>(batch.rt_min.view()[i]);
    s.scan_window_low = plan.window_low;
    s.scan_window_high = plan.window_high;
    s.collision_energy = plan.entry->collision_energy(s.scan);
    s.representation = plan.representation;
    s.lock_mass = plan.lock_mass;
    return s;
}

// Every scan's points in a copy of the batch's arrays, each scan sorted on its own:
// by m/z then drift time, or by drift time then m/z. The sort is stable, so points
// equal in both keep the order they were decoded in.
void BatchSpectra::reorder(const FunctionColumns& batch, std::span<const double> drift, bool by_drift_first) {
    const std::span<const double> mz = batch.mz.view();
    const std::span<const float> intensity = batch.intensity.view();
    const auto by_mz = [&](std::size_t a, std::size_t b) {
        if (!same(mz[a], mz[b])) return precedes(mz[a], mz[b]);
        return precedes(drift[a], drift[b]);
    };
    const auto by_drift = [&](std::size_t a, std::size_t b) {
        if (!same(drift[a], drift[b])) return precedes(drift[a], drift[b]);
        return precedes(mz[a], mz[b]);
    };
    order_.resize(mz.size());
    for (std::size_t i = 0; i < batch.n_scans(); ++i) {
        const auto first = order_.begin() + static_cast<std::ptrdiff_t>(begin_of(batch, i));
        const auto last = order_.begin() + static_cast<std::ptrdiff_t>(begin_of(batch, i + 1));
        std::iota(first, last, begin_of(batch, i));
        if (by_drift_first)
            std::stable_sort(first, last, by_drift);
        else
            std::stable_sort(first, last, by_mz);
    }
    mz_.resize(mz.size());
    intensity_.resize(mz.size());
    drift_.resize(mz.size());
    for (std::size_t p = 0; p < order_.size(); ++p) {
        mz_[p] = mz[order_[p]];
        intensity_[p] = intensity[order_[p]];
        drift_[p] = drift[order_[p]];
    }
}

std::vector<std::uint32_t> drift_bins(std::span<const double> distinct_times_ms, double scan_time_ms) {
    std::vector<std::uint32_t> bins;
    bins.reserve(distinct_times_ms.size());
    // A drift time is the drift word times the scan time over 65536: dividing again
    // gives the word back exactly (the scaling by 65536 is exact, and each rounding
    // is far below one half of a word).
    if (std::isfinite(scan_time_ms) && scan_time_ms > 0) {
        for (const double time : distinct_times_ms) {
            const double word = time * 65536.0 / scan_time_ms;
            if (!(word >= 0 && word <= 65535.5)) break;
            const auto bin = static_cast<std::uint32_t>(std::lround(word));
            if (!bins.empty() && bin <= bins.back()) break;
            bins.push_back(bin);
        }
        if (bins.size() == distinct_times_ms.size()) return bins;
    }
    bins.clear();
    for (std::size_t rank = 0; rank < distinct_times_ms.size(); ++rank)
        bins.push_back(static_cast<std::uint32_t>(rank));
    return bins;
}

// One spectrum per run of equal drift times in points [begin, end) of the reordered arrays.
void BatchSpectra::add_bins(mzml::SpectrumInput scan, std::size_t begin, std::size_t end,
                            double scan_time_ms) {
    std::vector<std::size_t> starts;
    std::vector<double> times;
    for (std::size_t p = begin; p < end; ++p) {
        if (p == begin || !same(drift_[p], drift_[p - 1])) {
            starts.push_back(p);
            times.push_back(drift_[p]);
        }
    }
    starts.push_back(end);
    const std::vector<std::uint32_t> bins = drift_bins(times, scan_time_ms);
    for (std::size_t b = 0; b < bins.size(); ++b) {
        mzml::SpectrumInput s = scan;
        const std::size_t count = starts[b + 1] - starts[b];
        s.drift_bin = bins[b];
        s.drift_time_ms = times[b];
        s.mz = std::span<const double>(mz_).subspan(starts[b], count);
        s.intensity = std::span<const float>(intensity_).subspan(starts[b], count);
        inputs_.push_back(s);
    }
}

void BatchSpectra::build(const FunctionPlan& plan, const FunctionColumns& batch, std::uint64_t first_scan,
                         ImsLayout layout) {
    inputs_.clear();
    const bool ion_mobility = batch.drift_time_ms.has_value();
    if (batch.drift_time_ms) reorder(batch, batch.drift_time_ms->view(), layout == ImsLayout::PerBin);
    const double scan_time_ms = static_cast<double>(plan.entry->info.scan_time_s) * 1000.0;
    for (std::size_t i = 0; i < batch.n_scans(); ++i) {
        mzml::SpectrumInput s = scan_input(plan, batch, first_scan, i);
        const std::size_t begin = begin_of(batch, i);
        const std::size_t count = begin_of(batch, i + 1) - begin;
        if (ion_mobility && layout == ImsLayout::PerBin) {
            add_bins(s, begin, begin + count, scan_time_ms);
            continue;
        }
        if (ion_mobility) {
            s.mz = std::span<const double>(mz_).subspan(begin, count);
            s.intensity = std::span<const float>(intensity_).subspan(begin, count);
            s.drift_times_ms = std::span<const double>(drift_).subspan(begin, count);
        } else {
            s.mz = batch.mz.view().subspan(begin, count);
            s.intensity = batch.intensity.view().subspan(begin, count);
        }
        inputs_.push_back(s);
    }
}

std::uint64_t count_drift_bins(const FunctionColumns& batch) {
    if (!batch.drift_time_ms) return batch.n_scans();
    const std::span<const double> drift = batch.drift_time_ms->view();
    std::vector<double> times;
    std::uint64_t bins = 0;
    for (std::size_t i = 0; i < batch.n_scans(); ++i) {
        const std::size_t begin = begin_of(batch, i);
        times.assign(drift.begin() + static_cast<std::ptrdiff_t>(begin),
                     drift.begin() + static_cast<std::ptrdiff_t>(begin_of(batch, i + 1)));
        std::ranges::sort(times, precedes);
        const auto repeated = std::ranges::unique(times, same);
        bins += times.size() - repeated.size();
    }
    return bins;
}

} // namespace tarnvale::exporter
