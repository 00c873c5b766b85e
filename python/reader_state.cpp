#include "reader_state.hpp"

#include <cstdint>
#include <limits>
#include <utility>

#include "reader/locate.hpp"
#include "text.hpp"

namespace tarnvale::py {

namespace {

std::unexpected<std::string> failure(std::string message) { return std::unexpected(std::move(message)); }
std::unexpected<std::string> failure(const Error& error) { return std::unexpected(error.to_string()); }

// A second read of the function table: unlike the reader's own, it keeps the
// records of functions that could not be opened, and adds no context.
Outcome<raw::FunctionTable> read_function_table(const std::filesystem::path& dir) {
    auto found = find_side_file(dir, "_FUNCTNS.INF");
    if (!found) return failure(found.error());
    if (!*found) return failure("_FUNCTNS.INF not found");
    auto table = raw::FunctionTable::from_path(**found);
    if (!table) return failure(table.error());
    return std::move(*table);
}

Outcome<std::optional<raw::ChromsInf>> read_channel_table(const std::filesystem::path& dir) {
    auto found = find_side_file(dir, "_CHROMS.INF");
    if (!found) return failure(found.error());
    if (!*found) return std::optional<raw::ChromsInf>();
    auto channels = raw::ChromsInf::from_path(**found);
    if (!channels) return failure("reading " + display_path(**found) + ": " + channels.error().to_string());
    return std::optional<raw::ChromsInf>(std::move(*channels));
}

constexpr std::uint64_t kFirstChroFile = 3;

std::string chro_file_name(std::uint64_t channel_index) {
    if (channel_index <= std::numeric_limits<std::uint64_t>::max() - kFirstChroFile)
        return numbered_name("_CHRO", channel_index + kFirstChroFile, ".DAT");
    return "_CHRO" + chro_file_number(channel_index) + ".DAT"; // at least 20 digits, no padding needed
}

} // namespace

Result<std::optional<std::filesystem::path>> find_side_file(const std::filesystem::path& dir,
                                                            std::string_view name) {
    return find_file(dir, name, LocateStyle::Quiet);
}

std::string chro_file_number(std::uint64_t channel_index) {
    if (channel_index <= std::numeric_limits<std::uint64_t>::max() - kFirstChroFile)
        return std::to_string(channel_index + kFirstChroFile);
    // 2^64 + r, where r (0, 1 or 2) is what the wrapped 64-bit sum leaves.
    std::uint64_t remainder = channel_index + kFirstChroFile;
    return "1844674407370955161" + std::string(1, static_cast<char>('6' + remainder));
}

Outcome<ReaderState> ReaderState::open(const std::filesystem::path& dir) {
    auto reader = Reader::open(dir);
    if (!reader) return failure(reader.error());
    auto table = read_function_table(dir);
    if (!table) return std::unexpected(std::move(table).error());
    auto chroms = read_channel_table(dir);
    if (!chroms) return std::unexpected(std::move(chroms).error());
    return ReaderState{std::move(*reader), dir, std::move(*table), std::move(*chroms)};
}

Outcome<const FunctionEntry*> ReaderState::function(std::uint32_t func_index) const {
    if (const FunctionEntry* entry = reader.function(func_index)) return entry;
    return failure("function " + std::to_string(func_index) + " not found");
}

Outcome<float> ReaderState::retention_time(std::uint32_t func_index, std::uint64_t scan_index) const {
    auto entry = function(func_index);
    if (!entry) return std::unexpected(std::move(entry).error());
    const raw::ScanIndex& scans = (*entry)->scans;
    if (scan_index >= scans.size()) return failure("scan " + std::to_string(scan_index) + " out of range");
    return scans.rt_min(static_cast<std::size_t>(scan_index));
}

Outcome<std::vector<raw::ChromPoint>> ReaderState::read_chrom(std::uint64_t channel_index) const {
    if (!chroms) return failure("no _CHROMS.INF in this .raw directory");
    auto found = find_side_file(dir, chro_file_name(channel_index));
    if (!found) return failure(found.error());
    if (!*found) return failure("CHRO file " + chro_file_number(channel_index) + " not found");
    auto points = raw::read_chro_dat(**found);
    if (!points) return failure("reading " + display_path(**found) + ": " + points.error().to_string());
    return std::move(*points);
}

} // namespace tarnvale::py
