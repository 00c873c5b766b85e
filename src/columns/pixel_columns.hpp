// Which points of a long trace to draw on a screen `width` pixel columns wide:
// for each column its lowest and its highest point, so that a peak one point wide
// is never lost however far the trace is reduced. The points are returned as
// indices into the trace; their values are the trace's own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

namespace tarnvale::columns {

// The part of the x axis shown, ends included; an infinite end leaves that side open.
struct AxisWindow {
    double low = -std::numeric_limits<double>::infinity();
    double high = std::numeric_limits<double>::infinity();
};

// Indices, ascending, of the points (x[i], y[i]) to draw: of those with a finite x
// inside `window`, all when there are at most 2 * width, otherwise per pixel column
// the first point of lowest and the first point of highest y (a NaN y is neither; a
// column of NaN only keeps its first point); and the nearest point outside the
// window on either side (greatest x below it, least x above it), so that a line
// drawn reaches the window's edges. The columns divide the window (its open ends
// closed at the outermost x inside it) into `width` equal parts. x.size() == y.size() and width >= 1; storage
// per column is only taken when reducing, that is for fewer columns than half the points.
std::vector<std::uint64_t> points_to_draw(std::span<const float> x, std::span<const double> y,
                                          AxisWindow window, std::size_t width);
std::vector<std::uint64_t> points_to_draw(std::span<const float> x, std::span<const float> y,
                                          AxisWindow window, std::size_t width);
std::vector<std::uint64_t> points_to_draw(std::span<const double> x, std::span<const float> y,
                                          AxisWindow window, std::size_t width);
std::vector<std::uint64_t> points_to_draw(std::span<const double> x, std::span<const double> y,
                                          AxisWindow window, std::size_t width);

} // namespace tarnvale::columns
