// A batch of consecutive scans of one function decoded into contiguous columns, so
// that a conversion holds one batch of points at a time rather than a whole function.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "columns/function_columns.hpp"
#include "error.hpp"
#include "export/options.hpp"
#include "export/scan_traces.hpp"
#include "reader/reader.hpp"

namespace tarnvale::exporter {

// The end of the batch that starts at `first` (< the function's scan count).
std::uint64_t batch_end(const FunctionEntry& entry, std::uint64_t first, const BatchLimits& limits);

struct DecodedBatch {
    columns::FunctionColumns columns;
    std::vector<ScanTrace> traces; // one per scan, taken as each scan was decoded
};

// Scans [first, last) decoded on up to `threads` threads: scan i of the result is
// scan first + i of the function, with decode_scan's points for it bit for bit and
// the same bytes whatever the number of threads; `rt_min` holds the retention times
// of the whole function (columns::retention_times). A scan that cannot be decoded
// fails the call with decode_scan's error for it (the first in scan order). With
// `processing`, every scan's points are processed as read_processed_scan gives them.
Result<DecodedBatch> read_batch(const Reader& reader, const FunctionEntry& entry,
                                const columns::Column<float>& rt_min, std::uint64_t first, std::uint64_t last,
                                unsigned threads,
                                std::shared_ptr<const processing::ScanProcessing> processing = nullptr);

} // namespace tarnvale::exporter
