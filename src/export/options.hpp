// What a conversion to mzML is asked for, and what it reports back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "error.hpp"
#include "mzml/array_encoder.hpp"
#include "processing/scan_processing.hpp"

namespace tarnvale::exporter {

// How the scans of an ion-mobility function become spectra.
enum class ImsLayout : std::uint8_t {
    Combined, // one spectrum per scan with a drift-time array, points by m/z then drift time
    PerBin,   // one spectrum per drift bin that holds points, each point by m/z
};

// How many scans are decoded and written at a time: memory is bounded by one batch
// whatever the run's size. A batch ends at `scans` scans or before the scan that
// would take its data bytes over `bytes`; it always holds at least one scan.
struct BatchLimits {
    std::uint64_t scans = 1024;
    std::uint64_t bytes = std::uint64_t{8} << 20;
};

struct ConversionOptions {
    mzml::Compression compression = mzml::Compression::Zlib;
    bool numpress = false;
    mzml::Precision mz_precision = mzml::Precision::Float64;
    bool gzip = false; // the whole file as gzip
    ImsLayout ims = ImsLayout::Combined;
    bool skip_lock_mass = false;
    unsigned threads = 1; // decoding and encoding, the calling thread included: 1 to 256
    BatchLimits batch = {};
    // Peak picking of profile functions and lock-mass correction of every function,
    // prepared once for the run.
    processing::ProcessingRequest processing = {};
};

struct ConversionSummary {
    std::uint64_t spectra = 0;
    std::uint64_t chromatograms = 0;
    std::uint64_t scans = 0;
};

// Called between batches with the scans written so far and the scans to write in
// all; an error it returns stops the conversion with that error.
using Progress = std::function<Result<void>(std::uint64_t done, std::uint64_t total)>;

} // namespace tarnvale::exporter
