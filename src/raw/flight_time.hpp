// How encodings B and C place a record on the flight-time axis: the scan's first and
// last records are mapped onto the flight times of the function's m/z bounds, and
// every position in between linearly. Shared by the decoders' kernels and by anyone
// who needs the flight time of a position between two records (a fitted peak).
#pragma once

#include <cstddef>
#include <optional>

#include "bytes.hpp"
#include "raw/record_layouts.hpp"

namespace tarnvale::raw::kernels {

// Flight times (µs) of a function's m/z bounds.
struct FlightTimeBounds {
    double t_low = 0;
    double t_high = 0;
};

// Linear map from a B or C record's time-bin position to flight time, anchored at
// the first and last record of the scan and the function's m/z bounds.
struct FlightTimeAxis {
    double first = 0;
    double slope = 0;
    double t_low = 0;

    // The flight time of a position (a record's, or one between records) as the B
    // decoder computes it for a whole position.
    double at(double position) const { return (position - first) * slope + t_low; }
};

// The axis of a B or C scan of whole records; none for an empty or one-record scan,
// or one whose last position does not exceed the first: such a scan decodes to nothing.
inline std::optional<FlightTimeAxis> whole_scan_axis(Bytes scan, FlightTimeBounds bounds) {
    using records::LayoutBC;
    const std::size_t count = scan.size() / LayoutBC::kSize;
    if (count < 2) return std::nullopt;
    const double first = LayoutBC::position(LayoutBC::load(scan.data()));
    const double last = LayoutBC::position(LayoutBC::load(scan.data() + (count - 1) * LayoutBC::kSize));
    if (first >= last) return std::nullopt;
    const double slope = (bounds.t_high - bounds.t_low) / (last - first);
    return FlightTimeAxis{first, slope, bounds.t_low};
}

} // namespace tarnvale::raw::kernels
