// Every scan of one function decoded into contiguous columns.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "columns/column.hpp"
#include "columns/options.hpp"
#include "columns/scan_values.hpp"
#include "error.hpp"
#include "reader/reader.hpp"

namespace tarnvale::columns {

struct FunctionColumns {
    std::uint32_t function = 0;
    Encoding encoding = Encoding::A;
    // n_scans + 1 entries: scan i's points are [scan_offsets[i], scan_offsets[i + 1]).
    Column<std::uint64_t> scan_offsets;
    Column<double> mz;
    Column<float> intensity;
    std::optional<Column<double>> drift_time_ms; // encoding B (ion mobility) only
    Column<float> rt_min;                        // per scan
    // Per scan, from the statistics file; NaN for a scan without a value, absent
    // when the function has no statistics file or no channel of that name.
    std::optional<Column<double>> collision_energy;
    std::optional<Column<double>> etd_fragmentation_mode;
    // With OnError::Skip: the scans that could not be decoded (left empty), ascending.
    std::vector<std::uint64_t> skipped;

    std::size_t n_scans() const { return rt_min.size(); }
    std::size_t n_points() const { return mz.size(); }
};

// Decodes every scan of `entry` (a function of `reader`). Each scan's points are
// bit for bit those of reader.decode_scan for it, whatever the number of threads;
// a scan that cannot be decoded fails the call with decode_scan's error for it (the
// first such scan), or with OnError::Skip is left empty and listed.
Result<FunctionColumns> read_columns(const Reader& reader, const FunctionEntry& entry,
                                     const Options& options);

// With OnError::Skip: one warning naming how many scans were skipped and the first
// one's error (the first worker's that skipped any).
void log_skipped(const FunctionEntry& entry, std::span<const std::uint64_t> skipped,
                 std::span<const std::optional<Error>> first_per_worker);

} // namespace tarnvale::columns
