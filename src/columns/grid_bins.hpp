// Points with two coordinates summed into a grid of bins, for a picture of a scan's
// ions by m/z and drift time the size of the screen that shows it.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace tarnvale::columns {

// `bins` equal bins over [low, high]; the last bin includes `high`.
struct GridAxis {
    double low = 0;
    double high = 0;
    std::size_t bins = 0;
};

struct Grid {
    // y.bins rows of x.bins cells, row by row: the summed weight of the points in each.
    std::vector<double> cells;
    // Per row, the summed weight of its points: the grid's profile along y.
    std::vector<double> row_totals;
};

// Sums each point's weight (in float64, in point order) into the cell its x and y
// fall in; points outside either axis, or with a NaN coordinate, count nowhere. The
// spans have one size; each axis has low < high, both finite, and bins >= 1; the
// caller bounds x.bins * y.bins, the size of the grid.
Grid bin_grid(std::span<const double> x, std::span<const double> y, std::span<const float> weight,
              GridAxis x_axis, GridAxis y_axis);

// The least and greatest finite value, or none when there is no finite value.
std::optional<std::pair<double, double>> finite_extent(std::span<const double> values);

// The bin of `value` on `axis`, or axis.bins when it lies outside (or is NaN).
std::size_t bin_of(double value, const GridAxis& axis);

} // namespace tarnvale::columns
