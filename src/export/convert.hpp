// Converting a whole run to one indexed mzML file: every scan of every function as a
// spectrum (or, for ion mobility, one per drift bin), then each function's total ion
// current and base peak chromatograms and every chromatogram channel of the run.
// Scans are decoded and written a batch at a time, so memory is bounded by a batch
// (and a few numbers per scan for the chromatograms) whatever the run's size. The
// file's bytes are the same for every thread count and batch size.
#pragma once

#include <filesystem>

#include "error.hpp"
#include "export/options.hpp"

namespace tarnvale::exporter {

// Writes `out` under a temporary name and renames it only once complete: a failure,
// including one the progress callback returns, leaves nothing under `out`. Errors
// read "converting RAW: ...".
Result<ConversionSummary> convert_to_mzml(const std::filesystem::path& raw, const std::filesystem::path& out,
                                          const ConversionOptions& options, const Progress& progress = {});

} // namespace tarnvale::exporter
