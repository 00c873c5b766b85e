// Chromatograms of one function: total ion current, base peak and extracted-ion
// traces, one value per scan, from the columns or straight from the file.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "columns/column.hpp"
#include "columns/function_columns.hpp"
#include "columns/options.hpp"
#include "columns/target_matcher.hpp"
#include "error.hpp"
#include "reader/reader.hpp"

namespace tarnvale::columns {

struct ChromatogramRequest {
    bool tic = false;
    bool base_peak = false;
    std::vector<XicTarget> targets; // one extracted-ion trace per target
};

// Per scan, with float64 sums in decode order: the total intensity; the base peak,
// the first point of greatest intensity (m/z and intensity 0 for an empty scan);
// per target the summed intensity of the points with |m/z - target| <= tolerance.
struct Chromatograms {
    Column<float> rt_min;
    std::optional<Column<double>> tic;
    std::optional<Column<double>> base_peak_mz;
    std::optional<Column<float>> base_peak_intensity;
    // n_targets rows of n_scans values, target by target (no rows without targets).
    Column<double> xic;
    std::size_t n_targets = 0;
    std::vector<std::uint64_t> skipped; // scans left at 0 (OnError::Skip)

    std::size_t n_scans() const { return rt_min.size(); }
};

// One scan's total ion current as every chromatogram of the project sums it, in
// float64: four interleaved running sums (exact, so equal to summing in decode
// order) up to 2^21 points, one point after another beyond.
double total_intensity(std::span<const float> intensity);

// Where a scan's base peak is: the first point of greatest intensity (the first
// when it is NaN, which nothing compares greater than; later NaNs are passed over).
// `intensity` is not empty.
std::size_t base_peak_index(std::span<const float> intensity);

// From columns already read; their skipped scans are carried over.
Result<Chromatograms> chromatograms_of(const FunctionColumns& columns, const ChromatogramRequest& request);

// Straight from the file, decoding a chunk at a time without keeping the points:
// the same values as chromatograms_of(read_columns(...)), and the same failures.
Result<Chromatograms> read_chromatograms(const Reader& reader, const FunctionEntry& entry,
                                         const ChromatogramRequest& request, const Options& options);

} // namespace tarnvale::columns
