// The m/z gain of a run over retention time, from its lock scans: measured at each
// usable lock scan, linear in between, held constant before the first and after the
// last.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace tarnvale::processing {

class GainCurve {
  public:
    // Lock scans at `rt_min` with `gain`, in any order (equal times allowed); at least
    // one, every value finite.
    GainCurve(std::span<const double> rt_min, std::span<const double> gain);

    // The gain at a retention time (NaN for NaN: no gain can be said for it).
    double at(double rt_min) const;

    std::size_t lock_scans() const { return rt_min_.size(); }

  private:
    std::vector<double> rt_min_; // ascending
    std::vector<double> gain_;
};

} // namespace tarnvale::processing
