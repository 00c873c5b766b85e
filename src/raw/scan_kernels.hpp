// The scan decoders' record loops, compiled once per DecoderPath. The decoders
// (scan_decoders.cpp) check sizes, frame B and C scans and word the errors; a
// kernel walks the records, drops those without a point and converts the rest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "bytes.hpp"
#include "raw/decoder_path.hpp"
#include "raw/flight_time.hpp"
#include "raw/record_layouts.hpp"
#include "raw/scan_decoders.hpp"

namespace tarnvale::raw::kernels {

struct Inputs {
    Bytes scan; // whole records
    const DecodeContext& context;
    FlightTimeAxis axis; // B and C only
    PointOutput out;
};

// The points written, and the first kept record that cannot be decoded (A and D),
// which ends the walk; the points before it are written but are no result.
struct Outcome {
    std::size_t written = 0;
    std::optional<std::uint64_t> invalid_record;
};

using Kernel = Outcome (*)(const Inputs&);

// A run of B or C scans of whole records, each on its own axis (whole_scan_axis),
// decoded in one call. Each scan's points follow the previous scan's from `out` on;
// written[i] is scan i's count.
struct RunInputs {
    std::span<const Bytes> scans;
    FlightTimeBounds bounds;
    const DecodeContext& context;
    PointOutput out;
    std::size_t* written;
};

using RunKernel = void (*)(const RunInputs&);

struct KernelSet {
    Kernel a;
    Kernel b;
    Kernel c;
    Kernel d;
    // B and C over several scans, the calibration resolved once for all of them.
    RunKernel b_run;
    RunKernel c_run;
};

// `path` must be one of available_decoder_paths().
const KernelSet& kernels_for(DecoderPath path);

} // namespace tarnvale::raw::kernels
