#include "columns/value_sums.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace tarnvale::columns {

ValueSums sum_by_value(std::span<const double> keys, std::span<const float> weights) {
    std::vector<std::size_t> order;
    order.reserve(keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i)
        if (!std::isnan(keys[i])) order.push_back(i);
    // Stable: within one value the points keep their order, and so does the sum.
    std::ranges::stable_sort(order, [&](std::size_t a, std::size_t b) { return keys[a] < keys[b]; });
    ValueSums out;
    for (const std::size_t i : order) {
        if (out.values.empty() || out.values.back() != keys[i]) {
            out.values.push_back(keys[i]);
            out.sums.push_back(0.0);
        }
        out.sums.back() += static_cast<double>(weights[i]);
    }
    return out;
}

} // namespace tarnvale::columns
