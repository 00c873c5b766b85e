#include "processing/gain_curve.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace tarnvale::processing {

GainCurve::GainCurve(std::span<const double> rt_min, std::span<const double> gain) {
    std::vector<std::size_t> order(rt_min.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::ranges::stable_sort(order, [&](std::size_t a, std::size_t b) { return rt_min[a] < rt_min[b]; });
    rt_min_.reserve(order.size());
    gain_.reserve(order.size());
    for (const std::size_t i : order) {
        rt_min_.push_back(rt_min[i]);
        gain_.push_back(gain[i]);
    }
}

double GainCurve::at(double rt_min) const {
    if (std::isnan(rt_min)) return std::numeric_limits<double>::quiet_NaN();
    // The first lock scan after rt_min: rt_min lies in [rt_min_[j - 1], rt_min_[j]),
    // an interval of positive length.
    const auto after = std::ranges::upper_bound(rt_min_, rt_min);
    if (after == rt_min_.begin()) return gain_.front();
    if (after == rt_min_.end()) return gain_.back();
    const auto j = static_cast<std::size_t>(after - rt_min_.begin());
    const double fraction = (rt_min - rt_min_[j - 1]) / (rt_min_[j] - rt_min_[j - 1]);
    return gain_[j - 1] + (gain_[j] - gain_[j - 1]) * fraction;
}

} // namespace tarnvale::processing
