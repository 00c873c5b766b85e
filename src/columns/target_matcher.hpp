// Which extracted-ion targets a point's m/z falls in, for many targets at once.
//
// The m/z axis over all target windows is cut into bins; each bin lists the targets
// whose window (widened by a bin on either side) touches it. A point looks up its
// bin and tests only those targets with the exact rule |m/z - target| <= tolerance,
// so the bins only decide what is tested, never the result.
// Targets with a negative tolerance match nothing.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tarnvale::columns {

struct XicTarget {
    double mz = 0;
    double tolerance = 0; // in m/z units (Da); a point counts when |m/z - mz| <= tolerance
};

class TargetMatcher {
  public:
    explicit TargetMatcher(std::span<const XicTarget> targets);

    // Calls hit(target_index) for every target whose window holds `mz`.
    template <class Hit> void for_each_match(double mz, Hit&& hit) const {
        for (std::uint32_t t : everywhere_) test(t, mz, hit);
        const double position = (mz - origin_) * scale_;
        if (!(position >= 0.0 && position < bin_limit_)) return; // also NaN
        const auto bin = static_cast<std::size_t>(position);
        for (std::uint32_t k = starts_[bin]; k < starts_[bin + 1]; ++k) test(members_[k], mz, hit);
    }

    std::size_t bins() const { return starts_.size() - 1; }

  private:
    template <class Hit> void test(std::uint32_t t, double mz, Hit& hit) const {
        if (std::fabs(mz - targets_[t].mz) <= targets_[t].tolerance) hit(t);
    }

    std::vector<XicTarget> targets_;
    // Targets without a finite window (infinite or NaN m/z or tolerance): the rule
    // decides for them at every point.
    std::vector<std::uint32_t> everywhere_;
    double origin_ = 0;
    double scale_ = 0;                   // bins per m/z unit
    double bin_limit_ = 0;               // the number of bins
    std::vector<std::uint32_t> starts_;  // bins + 1 entries into members_
    std::vector<std::uint32_t> members_; // target indices, bin by bin
};

} // namespace tarnvale::columns
