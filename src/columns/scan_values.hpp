// Per-scan values that need no decoding: retention times from the index and
// channels of the statistics file.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "columns/column.hpp"
#include "columns/page_array.hpp"
#include "error.hpp"
#include "reader/reader.hpp"

namespace tarnvale::columns {

// The whole function's retention times.
Column<float> retention_times(const FunctionEntry& entry);
// A statistics channel per scan (NaN where a scan has no value), or none without the channel.
std::optional<Column<double>> statistics_column(const FunctionEntry& entry, std::string_view channel);

// The same columns, filled a range of scans at a time by the workers that decode
// those scans, so that no pass over all scans is left for one thread afterwards.
class ScanValues {
  public:
    static Result<ScanValues> reserve(const FunctionEntry& entry);

    // Scans [first, last); ranges of different calls must not overlap.
    void fill(std::uint64_t first, std::uint64_t last) const;

    Column<float> take_rt_min() { return column_over<float>(std::move(rt_min_), n_); }
    std::optional<Column<double>> take_collision_energy() { return take(collision_energy_); }
    std::optional<Column<double>> take_etd_fragmentation_mode() { return take(etd_fragmentation_mode_); }

  private:
    struct Channel {
        const raw::ChannelDescriptor* descriptor = nullptr;
        PageArray values;
    };

    explicit ScanValues(const FunctionEntry& entry) : entry_(&entry), n_(entry.scans.size()) {}
    static Result<std::optional<Channel>> reserve_channel(const FunctionEntry& entry, std::string_view name);
    std::optional<Column<double>> take(std::optional<Channel>& channel) const;

    const FunctionEntry* entry_;
    std::size_t n_;
    PageArray rt_min_;
    std::optional<Channel> collision_energy_;
    std::optional<Channel> etd_fragmentation_mode_;
};

} // namespace tarnvale::columns
