#include "columns/grid_bins.hpp"

#include <algorithm>
#include <cmath>

namespace tarnvale::columns {

std::optional<std::pair<double, double>> finite_extent(std::span<const double> values) {
    std::optional<std::pair<double, double>> extent;
    for (const double value : values) {
        if (!std::isfinite(value)) continue;
        if (!extent)
            extent.emplace(value, value);
        else
            extent = std::pair{std::min(extent->first, value), std::max(extent->second, value)};
    }
    return extent;
}

std::size_t bin_of(double value, const GridAxis& axis) {
    if (!(value >= axis.low && value <= axis.high)) return axis.bins;
    // Halved ends keep the span finite for any two finite doubles.
    const double span = axis.high * 0.5 - axis.low * 0.5;
    const double position = (value * 0.5 - axis.low * 0.5) / span * static_cast<double>(axis.bins);
    if (!(position > 0)) return 0;
    if (!(position < static_cast<double>(axis.bins))) return axis.bins - 1;
    return static_cast<std::size_t>(position);
}

Grid bin_grid(std::span<const double> x, std::span<const double> y, std::span<const float> weight,
              GridAxis x_axis, GridAxis y_axis) {
    Grid grid{std::vector<double>(x_axis.bins * y_axis.bins, 0.0), std::vector<double>(y_axis.bins, 0.0)};
    for (std::size_t i = 0; i < x.size(); ++i) {
        const std::size_t column = bin_of(x[i], x_axis);
        const std::size_t row = bin_of(y[i], y_axis);
        if (column == x_axis.bins || row == y_axis.bins) continue;
        const auto w = static_cast<double>(weight[i]);
        grid.cells[row * x_axis.bins + column] += w;
        grid.row_totals[row] += w;
    }
    return grid;
}

} // namespace tarnvale::columns
