// A batch of consecutive scans of one function decoded into contiguous columns, so
// that a conversion holds one batch of points at a time rather than a whole function.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "columns/function_columns.hpp"
#include "error.hpp"
#include "export/options.hpp"
#include "export/scan_traces.hpp"
#include "reader/reader.hpp"

namespace tarnvale::exporter {

// The end of the batch that starts at `first` (< the function's scan count).
std::uint64_t batch_end(const FunctionEntry& entry, std::uint64_t first, const BatchLimits& limits);

// Which scans and points of a batch are kept, what a scan that cannot be read does,
// and what is done to each scan's points.
struct BatchFilter {
    columns::OnError on_error = columns::OnError::Fail;
    Interval rt_min = {}; // scans outside are left empty and not written
    Interval mz = {};     // points outside are dropped
    std::shared_ptr<const processing::ScanProcessing> processing = nullptr; // none: points as decoded
};

struct SkippedScan {
    std::uint64_t scan = 0;
    std::string error; // decode_scan's error for it, or that the data file ends within it
};

struct DecodedBatch {
    columns::FunctionColumns columns;
    std::vector<ScanTrace> traces;     // one per scan, of the points kept
    std::vector<std::uint8_t> written; // one per scan: 1 for a selected scan that was read
    std::vector<SkippedScan> skipped;  // selected scans that could not be read, ascending
};

// Scans [first, last) decoded on up to `threads` threads: scan i of the result is
// scan first + i of the function, with decode_scan's points for it bit for bit (those
// in the filter's m/z range) and the same bytes whatever the number of threads;
// `rt_min` holds the retention times of the whole function (columns::retention_times).
// A scan the filter's times leave out is empty and never fails. A selected scan that
// cannot be decoded, or whose bytes the index places past the end of the data file
// (which decode_scan would read cut short), fails the call with OnError::Fail (the
// first in scan order) and is left empty and listed with OnError::Skip. With the
// filter's processing, every scan's points are processed as read_processed_scan gives
// them, before the m/z range applies.
Result<DecodedBatch> read_batch(const Reader& reader, const FunctionEntry& entry,
                                const columns::Column<float>& rt_min, std::uint64_t first, std::uint64_t last,
                                unsigned threads, const BatchFilter& filter = {});

// A whole function read as one batch of the filter's times, its columns indexed by
// the function's own scan numbers (scans outside the times empty) and its skipped
// list those of read_batch, each logged as a warning: what a long table of the
// function's points holds. Memory is that of the function's selected scans.
Result<columns::FunctionColumns> read_function(const Reader& reader, const FunctionEntry& entry,
                                               unsigned threads, const BatchFilter& filter);

} // namespace tarnvale::exporter
