// What the layers above may ask of every scan they read: peak picking of profile
// scans and lock-mass correction. A request is checked and prepared once per run
// (the lock scans read, the gains worked out); the preparation then processes each
// scan the same way whoever reads it, on any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "bytes.hpp"
#include "error.hpp"
#include "processing/gain_curve.hpp"
#include "processing/lock_mass.hpp"
#include "processing/peak_picking.hpp"
#include "processing/scan_picker.hpp"
#include "reader/reader.hpp"

namespace tarnvale::processing {

struct ProcessingRequest {
    std::optional<PickingOptions> centroid;   // pick the peaks of profile functions
    std::optional<LockMassOptions> lock_mass; // correct every function's m/z

    bool empty() const { return !centroid && !lock_mass; }
    bool operator==(const ProcessingRequest&) const = default;
};

// What is wrong with the request's values, or none.
std::optional<std::string> problem_with(const ProcessingRequest& request);

struct LockMassCorrection {
    std::uint32_t function = 0;
    double reference_mz = 0;
    double tolerance_da = 0;
    double min_intensity = 0;
    GainCurve gains;
};

struct ScanProcessing {
    std::optional<PickingOptions> picking;
    std::optional<LockMassCorrection> lock_mass;

    bool empty() const { return !picking && !lock_mass; }
};

// Checks the request and, for a lock-mass correction, reads the lock scans and works
// out the gains. Errors name the run.
Result<ScanProcessing> prepare(const Reader& reader, const ProcessingRequest& request);

// Applies a preparation to the scans of one function: picks the peaks of a profile
// scan, then multiplies every m/z by the gain at the scan's retention time (in
// float64; drift times stay). One per thread; `processing`, `entry` and `context`
// must outlive it.
class ScanProcessor {
  public:
    ScanProcessor(const ScanProcessing& processing, const FunctionEntry& entry,
                  const raw::DecodeContext& context);

    // Whether it changes this function's points at all.
    bool active() const { return picker_.has_value() || gains_ != nullptr; }
    // Whether it can change how many points a scan has (a picking of profile scans).
    bool picks() const { return picker_.has_value(); }

    // `points` holds the `count` points the function's decoder wrote for `scan`,
    // whose bytes (whole records) are `bytes`; writes the processed points over them
    // and returns how many there are.
    std::size_t apply(std::uint64_t scan, Bytes bytes, raw::PointOutput points, std::size_t count);

    // Only the correction, for points that need no picking (A and D).
    void correct(std::uint64_t scan, double* mz, std::size_t count) const;

  private:
    const FunctionEntry* entry_;
    const GainCurve* gains_;
    std::optional<ScanPicker> picker_;
};

// One scan as decode_scan reads it, then processed as the columns process it: the
// reference every processed read of many scans is checked against.
Result<DecodedScan> read_processed_scan(const Reader& reader, std::uint32_t func_index,
                                        std::uint64_t scan_index, const ScanProcessing& processing);

} // namespace tarnvale::processing
