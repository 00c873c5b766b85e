#include "columns/scan_values.hpp"

#include <limits>
#include <vector>

namespace tarnvale::columns {

namespace {

void fill_retention_times(const FunctionEntry& entry, std::uint64_t first, std::uint64_t last, float* out) {
    for (std::uint64_t scan = first; scan < last; ++scan) out[scan] = entry.scans.rt_min(scan);
}

void fill_channel(const raw::FuncSts& sts, const raw::ChannelDescriptor& channel, std::uint64_t first,
                  std::uint64_t last, double* out) {
    for (std::uint64_t scan = first; scan < last; ++scan)
        out[scan] = sts.value_at(channel, scan).value_or(std::numeric_limits<double>::quiet_NaN());
}

} // namespace

Column<float> retention_times(const FunctionEntry& entry) {
    std::vector<float> rt(entry.scans.size());
    fill_retention_times(entry, 0, rt.size(), rt.data());
    return Column<float>::from_vector(std::move(rt));
}

ScanValues::ScanValues(const FunctionEntry& entry)
    : entry_(&entry), n_(entry.scans.size()), rt_min_(std::make_shared_for_overwrite<float[]>(n_)),
      collision_energy_(reserve_channel(raw::kCollisionEnergy)),
      etd_fragmentation_mode_(reserve_channel(raw::kEtdFragmentationMode)) {}

std::optional<ScanValues::Channel> ScanValues::reserve_channel(std::string_view name) const {
    if (!entry_->sts) return std::nullopt;
    const raw::ChannelDescriptor* descriptor = entry_->sts->channel(name);
    if (descriptor == nullptr) return std::nullopt;
    return Channel{&*entry_->sts, descriptor, std::make_shared_for_overwrite<double[]>(n_)};
}

void ScanValues::fill(std::uint64_t first, std::uint64_t last) const {
    fill_retention_times(*entry_, first, last, rt_min_.get());
    for (const std::optional<Channel>* channel : {&collision_energy_, &etd_fragmentation_mode_}) {
        if (*channel)
            fill_channel(*(*channel)->sts, *(*channel)->descriptor, first, last, (*channel)->values.get());
    }
}

std::optional<Column<double>> ScanValues::take(const std::optional<Channel>& channel) const {
    if (!channel) return std::nullopt;
    return Column<double>(channel->values, channel->values.get(), n_);
}

} // namespace tarnvale::columns
