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

bool is_written(std::span<const std::uint8_t> written, std::size_t scan) {
    return written.empty() || written[scan] != 0;
}

// Whether points [begin, end) already are in the order the stable sort would give:
// no point precedes the one before it on (key, then tie).
bool in_order(std::span<const double> key, std::span<const double> tie, std::size_t begin, std::size_t end) {
    for (std::size_t p = begin + 1; p < end; ++p) {
        if (same(key[p], key[p - 1]) ? precedes(tie[p], tie[p - 1]) : precedes(key[p], key[p - 1]))
            return false;
    }
    return true;
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

// Every scan's points sorted on its own: by m/z then drift time, or by drift time
// then m/z. The sort is stable, so points equal in both keep the order they were
// decoded in. Scans are mostly decoded in m/z order already: a scan in order is left
// as it is, and a batch of such scans is not copied at all.
void BatchSpectra::reorder(const FunctionColumns& batch, std::span<const double> drift, bool by_drift_first) {
    const std::span<const double> mz = batch.mz.view();
    const std::span<const float> intensity = batch.intensity.view();
    const std::span<const double> key = by_drift_first ? drift : mz;
    const std::span<const double> tie = by_drift_first ? mz : drift;
    const auto by_key = [&](std::size_t a, std::size_t b) {
        if (!same(key[a], key[b])) return precedes(key[a], key[b]);
        return precedes(tie[a], tie[b]);
    };
    bool moved = false;
    for (std::size_t i = 0; i < batch.n_scans(); ++i) {
        const std::size_t begin = begin_of(batch, i);
        const std::size_t end = begin_of(batch, i + 1);
        if (in_order(key, tie, begin, end)) continue;
        if (!moved) {
            order_.resize(mz.size());
            std::iota(order_.begin(), order_.end(), std::size_t{0});
            moved = true;
        }
        std::stable_sort(order_.begin() + static_cast<std::ptrdiff_t>(begin),
                         order_.begin() + static_cast<std::ptrdiff_t>(end), by_key);
    }
    if (!moved) {
        sorted_mz_ = mz;
        sorted_intensity_ = intensity;
        sorted_drift_ = drift;
        return;
    }
    mz_.resize(mz.size());
    intensity_.resize(mz.size());
    drift_.resize(mz.size());
    for (std::size_t p = 0; p < mz.size(); ++p) {
        mz_[p] = mz[order_[p]];
        intensity_[p] = intensity[order_[p]];
        drift_[p] = drift[order_[p]];
    }
    sorted_mz_ = mz_;
    sorted_intensity_ = intensity_;
    sorted_drift_ = drift_;
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
        if (p == begin || !same(sorted_drift_[p], sorted_drift_[p - 1])) {
            starts.push_back(p);
            times.push_back(sorted_drift_[p]);
        }
    }
    starts.push_back(end);
    const std::vector<std::uint32_t> bins = drift_bins(times, scan_time_ms);
    for (std::size_t b = 0; b < bins.size(); ++b) {
        mzml::SpectrumInput s = scan;
        const std::size_t count = starts[b + 1] - starts[b];
        s.drift_bin = bins[b];
        s.drift_time_ms = times[b];
        s.mz = sorted_mz_.subspan(starts[b], count);
        s.intensity = sorted_intensity_.subspan(starts[b], count);
        inputs_.push_back(s);
    }
}

void BatchSpectra::build(const FunctionPlan& plan, const FunctionColumns& batch, std::uint64_t first_scan,
                         ImsLayout layout, std::span<const std::uint8_t> written) {
    inputs_.clear();
    const bool ion_mobility = batch.drift_time_ms.has_value();
    if (batch.drift_time_ms) reorder(batch, batch.drift_time_ms->view(), layout == ImsLayout::PerBin);
    const double scan_time_ms = static_cast<double>(plan.entry->info.scan_time_s) * 1000.0;
    for (std::size_t i = 0; i < batch.n_scans(); ++i) {
        if (!is_written(written, i)) continue;
        mzml::SpectrumInput s = scan_input(plan, batch, first_scan, i);
        const std::size_t begin = begin_of(batch, i);
        const std::size_t count = begin_of(batch, i + 1) - begin;
        if (ion_mobility && layout == ImsLayout::PerBin) {
            add_bins(s, begin, begin + count, scan_time_ms);
            continue;
        }
        if (ion_mobility) {
            s.mz = sorted_mz_.subspan(begin, count);
            s.intensity = sorted_intensity_.subspan(begin, count);
            s.drift_times_ms = sorted_drift_.subspan(begin, count);
        } else {
            s.mz = batch.mz.view().subspan(begin, count);
            s.intensity = batch.intensity.view().subspan(begin, count);
        }
        inputs_.push_back(s);
    }
}

std::uint64_t count_drift_bins(const FunctionColumns& batch, std::span<const std::uint8_t> written) {
    std::uint64_t bins = 0;
    if (!batch.drift_time_ms) {
        for (std::size_t i = 0; i < batch.n_scans(); ++i)
            if (is_written(written, i)) ++bins;
        return bins;
    }
    const std::span<const double> drift = batch.drift_time_ms->view();
    std::vector<double> times;
    for (std::size_t i = 0; i < batch.n_scans(); ++i) {
        if (!is_written(written, i)) continue;
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
