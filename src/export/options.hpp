// What a conversion to mzML is asked for, and what it reports back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "columns/options.hpp"
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

// Values from `low` to `high`, both included; an absent end leaves that side open.
struct Interval {
    std::optional<double> low = {};
    std::optional<double> high = {};

    bool contains(double value) const { return (!low || value >= *low) && (!high || value <= *high); }
    bool is_everything() const { return !low && !high; }
};

// What of a run is converted: functions by number, one MS level, scans by retention
// time (minutes) and points by m/z. An empty list or interval selects everything; a
// scan outside the times is left out, a point outside the m/z range is dropped from
// its spectrum, which stays (possibly empty).
struct Selection {
    std::vector<std::uint32_t> functions = {};
    std::optional<std::uint32_t> ms_level = {}; // 1 or 2
    Interval rt_min = {};
    Interval mz = {};
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
    // Skip: a scan that cannot be decoded (or that the end of its data file cuts
    // short) and a chromatogram channel that cannot be read are left out, listed in
    // the file and in the summary; Fail: the first of them fails the conversion.
    columns::OnError on_error = columns::OnError::Fail;
    Selection selection = {};
};

// A function or a chromatogram channel left out, and why.
struct LeftOutItem {
    std::uint64_t number = 0; // function number, or channel index
    std::string reason;
};

struct LeftOutScans {
    std::uint32_t function = 0;
    std::vector<std::uint64_t> scans; // ascending
};

// What a conversion could not write: selected functions whose files are missing,
// and with OnError::Skip the scans and channels that could not be read.
struct LeftOut {
    std::vector<LeftOutItem> functions;
    std::vector<LeftOutScans> scans; // functions with at least one scan left out, in order
    std::vector<LeftOutItem> channels;

    bool empty() const { return functions.empty() && scans.empty() && channels.empty(); }
};

struct ConversionSummary {
    std::uint64_t spectra = 0;
    std::uint64_t chromatograms = 0;
    std::uint64_t scans = 0; // scans decoded: those of the selected times, left-out ones included
    LeftOut left_out;
};

// Why a conversion stopped. `damaged` tells a scan or channel that could not be read,
// which OnError::Skip would have left out, from every other failure.
struct ConversionFailure {
    Error error;
    bool damaged = false;

    std::string to_string() const { return error.to_string(); }
};

template <class T> using ConversionResult = std::expected<T, ConversionFailure>;

// Called between batches with the scans written so far and the scans to write in
// all; an error it returns stops the conversion with that error.
using Progress = std::function<Result<void>(std::uint64_t done, std::uint64_t total)>;

} // namespace tarnvale::exporter
