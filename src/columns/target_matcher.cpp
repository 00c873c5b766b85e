#include "columns/target_matcher.hpp"

#include <algorithm>
#include <limits>

namespace tarnvale::columns {

namespace {

// A few bins per target keep the table small enough for the cache, and most
// points land in a bin that lists no target at all.
constexpr std::size_t kBinsPerTarget = 64;
constexpr std::size_t kMaxBins = std::size_t{1} << 16;
// The bin lists never hold more entries than this (wide, overlapping windows
// make a coarser table instead).
constexpr std::size_t kMaxMembers = std::size_t{1} << 22;
// Bins are never narrower than this fraction of the m/z they lie at, so that the
// rounding of the bin arithmetic (a few units in the last place) stays far below
// the one bin each window is widened by.
constexpr double kMinRelativeWidth = 0x1p-30;

// A finite window that can hold a point.
bool usable(const XicTarget& target) {
    return std::isfinite(target.mz) && std::isfinite(target.tolerance) && target.tolerance >= 0;
}

// The rule can never hold: a negative tolerance, or NaN anywhere in the target.
bool hopeless(const XicTarget& target) { return !(target.tolerance >= 0) || std::isnan(target.mz); }

} // namespace

TargetMatcher::TargetMatcher(std::span<const XicTarget> targets) : targets_(targets.begin(), targets.end()) {
    double low = std::numeric_limits<double>::infinity();
    double high = -low;
    std::size_t count = 0;
    for (std::size_t t = 0; t < targets_.size(); ++t)
        if (!usable(targets_[t]) && !hopeless(targets_[t]))
            everywhere_.push_back(static_cast<std::uint32_t>(t));
    for (const XicTarget& target : targets_) {
        if (!usable(target)) continue;
        low = std::min(low, target.mz - target.tolerance);
        high = std::max(high, target.mz + target.tolerance);
        ++count;
    }
    if (count == 0) {
        starts_.assign(1, 0); // no bins: every point falls outside
        return;
    }
    const double min_width = std::max(std::max(std::fabs(low), std::fabs(high)) * kMinRelativeWidth, 1e-300);
    const double span = high - low;
    std::size_t bins = std::min(kMaxBins, std::max<std::size_t>(1, count * kBinsPerTarget));
    if (!(span / static_cast<double>(bins) >= min_width))
        bins = std::max<std::size_t>(
            1, static_cast<std::size_t>(std::min(span / min_width, static_cast<double>(bins))));

    std::vector<std::pair<std::size_t, std::size_t>> covered(targets_.size());
    for (;;) {
        const double width = std::max(span / static_cast<double>(bins), min_width);
        // One margin bin below the lowest window and one above the highest.
        origin_ = low - width;
        scale_ = 1.0 / width;
        const std::size_t total = bins + 3;
        bin_limit_ = static_cast<double>(total);
        auto bin_of = [&](double mz) {
            const double position = std::clamp((mz - origin_) * scale_, 0.0, bin_limit_ - 1);
            return static_cast<std::size_t>(position);
        };
        std::size_t members = 0;
        for (std::size_t t = 0; t < targets_.size(); ++t) {
            if (!usable(targets_[t])) continue;
            const std::size_t first = bin_of(targets_[t].mz - targets_[t].tolerance);
            const std::size_t last = bin_of(targets_[t].mz + targets_[t].tolerance);
            covered[t] = {first == 0 ? 0 : first - 1, std::min(last + 1, total - 1)};
            members += covered[t].second - covered[t].first + 1;
        }
        if (members <= kMaxMembers || bins == 1) break;
        bins /= 2;
    }

    const auto total = static_cast<std::size_t>(bin_limit_);
    starts_.assign(total + 1, 0);
    for (std::size_t t = 0; t < targets_.size(); ++t) {
        if (!usable(targets_[t])) continue;
        for (std::size_t b = covered[t].first; b <= covered[t].second; ++b) ++starts_[b + 1];
    }
    for (std::size_t b = 0; b < total; ++b) starts_[b + 1] += starts_[b];
    members_.resize(starts_[total]);
    std::vector<std::uint32_t> fill(starts_.begin(), starts_.end() - 1);
    for (std::size_t t = 0; t < targets_.size(); ++t) {
        if (!usable(targets_[t])) continue;
        for (std::size_t b = covered[t].first; b <= covered[t].second; ++b)
            members_[fill[b]++] = static_cast<std::uint32_t>(t);
    }
}

} // namespace tarnvale::columns
