// Per-scan values that need no decoding: retention times from the index and
// channels of the statistics file.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "columns/column.hpp"
#include "reader/reader.hpp"

namespace tarnvale::columns {

// The whole function's retention times.
Column<float> retention_times(const FunctionEntry& entry);

// The retention times and the statistics channels (NaN where a scan has no value;
// none without the channel), filled a range of scans at a time by the workers that
// decode those scans, so that no pass over all scans is left for one thread afterwards.
// The arrays come from the heap, uninitialised: every element is filled, and a
// heap block freed by an earlier read is reused without faulting its pages in again.
class ScanValues {
  public:
    explicit ScanValues(const FunctionEntry& entry);

    // Scans [first, last); ranges of different calls must not overlap.
    void fill(std::uint64_t first, std::uint64_t last) const;

    Column<float> take_rt_min() { return Column<float>(rt_min_, rt_min_.get(), n_); }
    std::optional<Column<double>> take_collision_energy() const { return take(collision_energy_); }
    std::optional<Column<double>> take_etd_fragmentation_mode() const {
        return take(etd_fragmentation_mode_);
    }

  private:
    struct Channel {
        const raw::FuncSts* sts = nullptr;
        const raw::ChannelDescriptor* descriptor = nullptr;
        std::shared_ptr<double[]> values;
    };

    std::optional<Channel> reserve_channel(std::string_view name) const;
    std::optional<Column<double>> take(const std::optional<Channel>& channel) const;

    const FunctionEntry* entry_;
    std::size_t n_;
    std::shared_ptr<float[]> rt_min_;
    std::optional<Channel> collision_energy_;
    std::optional<Channel> etd_fragmentation_mode_;
};

} // namespace tarnvale::columns
