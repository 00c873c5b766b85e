#include "columns/scan_values.hpp"

#include <limits>
#include <vector>

namespace tarnvale::columns {

namespace {

void fill_retention_times(const FunctionEntry& entry, std::uint64_t first, std::uint64_t last, float* out) {
    for (std::uint64_t scan = first; scan < last; ++scan) out[scan] = entry.scans.rt_min(scan);
}

void fill_channel(const FunctionEntry& entry, const raw::ChannelDescriptor& channel, std::uint64_t first,
                  std::uint64_t last, double* out) {
    for (std::uint64_t scan = first; scan < last; ++scan)
        out[scan] = entry.sts->value_at(channel, scan).value_or(std::numeric_limits<double>::quiet_NaN());
}

const raw::ChannelDescriptor* find_channel(const FunctionEntry& entry, std::string_view name) {
    return entry.sts ? entry.sts->channel(name) : nullptr;
}

} // namespace

Column<float> retention_times(const FunctionEntry& entry) {
    std::vector<float> rt(entry.scans.size());
    fill_retention_times(entry, 0, rt.size(), rt.data());
    return Column<float>::from_vector(std::move(rt));
}

std::optional<Column<double>> statistics_column(const FunctionEntry& entry, std::string_view channel) {
    const raw::ChannelDescriptor* descriptor = find_channel(entry, channel);
    if (descriptor == nullptr) return std::nullopt;
    std::vector<double> values(entry.scans.size());
    fill_channel(entry, *descriptor, 0, values.size(), values.data());
    return Column<double>::from_vector(std::move(values));
}

Result<ScanValues> ScanValues::reserve(const FunctionEntry& entry) {
    ScanValues values(entry);
    TV_ASSIGN_OR_RETURN(values.rt_min_, reserve_elements<float>(values.n_));
    TV_ASSIGN_OR_RETURN(values.collision_energy_, reserve_channel(entry, raw::kCollisionEnergy));
    TV_ASSIGN_OR_RETURN(values.etd_fragmentation_mode_, reserve_channel(entry, raw::kEtdFragmentationMode));
    return values;
}

Result<std::optional<ScanValues::Channel>> ScanValues::reserve_channel(const FunctionEntry& entry,
                                                                       std::string_view name) {
    const raw::ChannelDescriptor* descriptor = find_channel(entry, name);
    if (descriptor == nullptr) return std::optional<Channel>();
    TV_ASSIGN_OR_RETURN(PageArray values, reserve_elements<double>(entry.scans.size()));
    return std::optional<Channel>(Channel{descriptor, std::move(values)});
}

void ScanValues::fill(std::uint64_t first, std::uint64_t last) const {
    fill_retention_times(*entry_, first, last, reinterpret_cast<float*>(rt_min_.data()));
    for (const std::optional<Channel>* channel : {&collision_energy_, &etd_fragmentation_mode_}) {
        if (*channel)
            fill_channel(*entry_, *(*channel)->descriptor, first, last,
                         reinterpret_cast<double*>((*channel)->values.data()));
    }
}

std::optional<Column<double>> ScanValues::take(std::optional<Channel>& channel) const {
    if (!channel) return std::nullopt;
    return column_over<double>(std::move(channel->values), n_);
}

} // namespace tarnvale::columns
