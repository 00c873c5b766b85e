// The spectra of one batch of scans as the mzML writer takes them: views of the
// batch's columns, or for ion mobility arrays of their own in the order the layout
// asks for (every point once, by m/z then drift time, or drift bin by drift bin).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "columns/function_columns.hpp"
#include "export/function_plan.hpp"
#include "export/options.hpp"
#include "mzml/input.hpp"

namespace tarnvale::exporter {

class BatchSpectra {
  public:
    // The spectra of `batch`, whose scan i is scan first_scan + i of the plan's function:
    // of every scan, or of those whose entry in `written` is not 0 when it is given.
    // The inputs view `batch` and this object: both must outlive their use.
    void build(const FunctionPlan& plan, const columns::FunctionColumns& batch, std::uint64_t first_scan,
               ImsLayout layout, std::span<const std::uint8_t> written = {});

    std::span<const mzml::SpectrumInput> inputs() const { return inputs_; }

  private:
    mzml::SpectrumInput scan_input(const FunctionPlan& plan, const columns::FunctionColumns& batch,
                                   std::uint64_t first_scan, std::size_t i) const;
    void reorder(const columns::FunctionColumns& batch, std::span<const double> drift, bool by_drift_first);
    void add_bins(mzml::SpectrumInput scan, std::size_t begin, std::size_t end, double scan_time_ms);

    std::vector<std::size_t> order_;
    std::vector<double> mz_;
    std::vector<float> intensity_;
    std::vector<double> drift_;
    // The reordered points: the arrays above, or the batch's own columns when every
    // scan of the batch already is in the order asked for.
    std::span<const double> sorted_mz_;
    std::span<const float> sorted_intensity_;
    std::span<const double> sorted_drift_;
    std::vector<mzml::SpectrumInput> inputs_;
};

// How many drift bins hold points in each scan of an ion-mobility batch (each scan
// `written` marks, when given), added up: the spectra the batch becomes with
// ImsLayout::PerBin.
std::uint64_t count_drift_bins(const columns::FunctionColumns& batch,
                               std::span<const std::uint8_t> written = {});

// The drift bin numbers of a scan's distinct drift times (ascending): the drift word
// each time was decoded from, recovered exactly from the function's scan time; or,
// where that does not give distinct numbers (no usable scan time), the times' ranks.
std::vector<std::uint32_t> drift_bins(std::span<const double> distinct_times_ms, double scan_time_ms);

} // namespace tarnvale::exporter
