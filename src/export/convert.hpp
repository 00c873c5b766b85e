// Converting a whole run to one indexed mzML file: every scan of every selected
// function as a spectrum (or, for ion mobility, one per drift bin), then each such
// function's total ion current and base peak chromatograms and every chromatogram
// channel of the run. Scans are decoded and written a batch at a time, so memory is
// bounded by a batch (and a few numbers per scan for the chromatograms) whatever the
// run's size. The file's bytes are the same for every thread count and batch size.
//
// The header gives the numbers of spectra and chromatograms and lists what was left
// out, so they must be known before the first spectrum. When a scan of the per-bin
// layout's functions must be decoded to count its spectra, or when skipping finds a
// scan that cannot be read while writing, every selected scan is decoded once before
// the file is (re)started; a run that reads whole is written in one pass.
#pragma once

#include <filesystem>

#include "error.hpp"
#include "export/options.hpp"

namespace tarnvale::exporter {

// Writes `out` under a temporary name and renames it only once complete: a failure,
// including one the progress callback returns, leaves nothing under `out`. Errors
// read "converting RAW: ...".
ConversionResult<ConversionSummary> convert_to_mzml(const std::filesystem::path& raw,
                                                    const std::filesystem::path& out,
                                                    const ConversionOptions& options,
                                                    const Progress& progress = {});

} // namespace tarnvale::exporter
