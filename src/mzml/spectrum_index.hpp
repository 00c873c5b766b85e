// Where each written spectrum starts, for the index at the end of the file.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace tarnvale::mzml {

// Ids are not kept as text: consecutive spectra of one function whose scan counts
// up by one (or, one spectrum per drift bin, whose bin counts up within a scan)
// share one run of ids, so a whole run costs about 8 bytes per spectrum.
class SpectrumIndex {
  public:
    void add(std::uint32_t function, std::uint64_t scan, std::optional<std::uint32_t> drift_bin,
             std::uint64_t offset);
    std::size_t size() const { return offsets_.size(); }

    // Calls visit(function, scan, drift_bin, offset) for every spectrum in order.
    template <class Visit> void for_each(Visit&& visit) const {
        std::size_t at = 0;
        for (const IdRun& run : runs_) {
            for (std::uint64_t step = 0; step < run.length; ++step, ++at) {
                if (const std::optional<std::uint32_t> first_bin = run.first_bin)
                    visit(run.function, run.first_scan, std::optional<std::uint32_t>(*first_bin + step),
                          offsets_[at]);
                else
                    visit(run.function, run.first_scan + step, std::optional<std::uint32_t>(), offsets_[at]);
            }
        }
    }

  private:
    struct IdRun {
        std::uint32_t function;
        std::uint64_t first_scan;
        std::optional<std::uint32_t> first_bin;
        std::uint64_t length;
    };
    bool continues(const IdRun& run, std::uint32_t function, std::uint64_t scan,
                   std::optional<std::uint32_t> drift_bin) const;

    std::vector<std::uint64_t> offsets_;
    std::vector<IdRun> runs_;
};

} // namespace tarnvale::mzml
