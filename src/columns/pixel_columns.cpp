#include "columns/pixel_columns.hpp"

#include <algorithm>
#include <cmath>

namespace tarnvale::columns {

namespace {

constexpr std::uint64_t kNone = std::numeric_limits<std::uint64_t>::max();

bool inside(double x, AxisWindow window) { return std::isfinite(x) && x >= window.low && x <= window.high; }

// Maps x in [low, high] to a column in [0, width). Both ends are halved first, so
// that their difference is finite for any pair of finite doubles.
class ColumnScale {
  public:
    ColumnScale(double low, double high, std::size_t width)
        : low_half_(low * 0.5), span_half_(high * 0.5 - low * 0.5), width_(width) {}

    std::size_t column(double x) const {
        if (!(span_half_ > 0)) return 0;
        const double position = (x * 0.5 - low_half_) / span_half_ * static_cast<double>(width_);
        if (!(position > 0)) return 0;
        if (!(position < static_cast<double>(width_))) return width_ - 1;
        return static_cast<std::size_t>(position);
    }

  private:
    double low_half_;
    double span_half_;
    std::size_t width_;
};

struct ColumnPicks {
    std::uint64_t first = kNone;
    std::uint64_t lowest = kNone;
    std::uint64_t highest = kNone;
};

// The points just outside the window: the one of greatest x below it and the one of
// least x above it (the first of equals), so that a line drawn reaches its edges.
struct Neighbours {
    std::uint64_t below = kNone;
    std::uint64_t above = kNone;

    template <class X> void consider(std::span<const X> x, std::size_t i, AxisWindow window) {
        const auto v = static_cast<double>(x[i]);
        if (!std::isfinite(v)) return;
        if (v < window.low && (below == kNone || v > static_cast<double>(x[below]))) below = i;
        if (v > window.high && (above == kNone || v < static_cast<double>(x[above]))) above = i;
    }

    void add_to(std::vector<std::uint64_t>& kept) const {
        for (const std::uint64_t i : {below, above})
            if (i != kNone) kept.push_back(i);
    }
};

template <class X, class Y>
std::vector<std::uint64_t> reduce(std::span<const X> x, std::span<const Y> y, AxisWindow window,
                                  std::size_t width) {
    std::size_t count = 0;
    double low = std::numeric_limits<double>::infinity();
    double high = -low;
    Neighbours neighbours;
    for (std::size_t i = 0; i < x.size(); ++i) {
        const auto v = static_cast<double>(x[i]);
        neighbours.consider(x, i, window);
        if (!inside(v, window)) continue;
        ++count;
        low = std::min(low, v);
        high = std::max(high, v);
    }
    std::vector<std::uint64_t> kept;
    if (count <= 2 * width) {
        kept.reserve(count + 2);
        for (std::size_t i = 0; i < x.size(); ++i)
            if (inside(static_cast<double>(x[i]), window)) kept.push_back(i);
        neighbours.add_to(kept);
        std::ranges::sort(kept);
        return kept;
    }
    const ColumnScale scale(std::isfinite(window.low) ? window.low : low,
                            std::isfinite(window.high) ? window.high : high, width);
    std::vector<ColumnPicks> columns(width);
    for (std::size_t i = 0; i < x.size(); ++i) {
        const auto v = static_cast<double>(x[i]);
        if (!inside(v, window)) continue;
        ColumnPicks& picks = columns[scale.column(v)];
        if (picks.first == kNone) picks.first = i;
        const Y value = y[i];
        if (std::isnan(value)) continue;
        if (picks.lowest == kNone || value < y[picks.lowest]) picks.lowest = i;
        if (picks.highest == kNone || value > y[picks.highest]) picks.highest = i;
    }
    kept.reserve(2 * width + 2);
    for (const ColumnPicks& picks : columns) {
        if (picks.lowest != kNone) {
            kept.push_back(std::min(picks.lowest, picks.highest));
            if (picks.highest != picks.lowest) kept.push_back(std::max(picks.lowest, picks.highest));
        } else if (picks.first != kNone) {
            kept.push_back(picks.first);
        }
    }
    neighbours.add_to(kept);
    // Columns follow x, indices the order of the trace: the same when x ascends.
    std::ranges::sort(kept);
    return kept;
}

} // namespace

std::vector<std::uint64_t> points_to_draw(std::span<const float> x, std::span<const double> y,
                                          AxisWindow window, std::size_t width) {
    return reduce(x, y, window, width);
}
std::vector<std::uint64_t> points_to_draw(std::span<const float> x, std::span<const float> y,
                                          AxisWindow window, std::size_t width) {
    return reduce(x, y, window, width);
}
std::vector<std::uint64_t> points_to_draw(std::span<const double> x, std::span<const float> y,
                                          AxisWindow window, std::size_t width) {
    return reduce(x, y, window, width);
}
std::vector<std::uint64_t> points_to_draw(std::span<const double> x, std::span<const double> y,
                                          AxisWindow window, std::size_t width) {
    return reduce(x, y, window, width);
}

} // namespace tarnvale::columns
