#include "reader/acquisition.hpp"

#include <format>
#include <limits>

#include "display.hpp"
#include "reader/locate.hpp"

namespace tarnvale {

namespace {

constexpr std::uint64_t kFirstChroFile = 3;

std::unexpected<QueryError> refuse(std::string message) {
    return std::unexpected(QueryError(std::move(message)));
}
std::unexpected<QueryError> refuse(const Error& error) { return std::unexpected(QueryError(error)); }

// "reading <path>: <error>" for a file that was found but could not be read.
QueryError reading_failed(const std::filesystem::path& path, Error error) {
    return QueryError(Error::context(std::format("reading {}", display_path(path)), std::move(error)));
}

QueryResult<std::optional<raw::ChromsInf>> read_channel_table(const DirectoryListing& listing) {
    auto found = listing.find("_CHROMS.INF", LocateStyle::Quiet);
    if (!found) return refuse(found.error());
    if (!*found) return std::optional<raw::ChromsInf>();
    auto channels = raw::ChromsInf::from_path(**found);
    if (!channels) return std::unexpected(reading_failed(**found, std::move(channels).error()));
    return std::optional<raw::ChromsInf>(std::move(*channels));
}

} // namespace

QueryResult<Acquisition> Acquisition::open(const std::filesystem::path& dir) {
    // The tables are found in the listing the Reader's open made: one listing per open.
    auto opened = Reader::open_listed(dir);
    if (!opened) return refuse(opened.error());
    auto channel_table = read_channel_table(opened->listing);
    if (!channel_table) return std::unexpected(std::move(channel_table).error());
    return Acquisition(std::move(opened->reader), std::move(opened->function_table),
                       std::move(*channel_table));
}

QueryResult<const FunctionEntry*> Acquisition::function(std::uint32_t func_index) const {
    if (const FunctionEntry* entry = reader_.function(func_index)) return entry;
    return refuse(std::format("function {} not found", func_index));
}

QueryResult<float> Acquisition::retention_time(std::uint32_t func_index, std::uint64_t scan_index) const {
    TV_ASSIGN_OR_RETURN(const FunctionEntry* entry, function(func_index));
    if (scan_index >= entry->scans.size()) return refuse(std::format("scan {} out of range", scan_index));
    return entry->scans.rt_min(scan_index);
}

QueryResult<std::vector<raw::ChromPoint>> Acquisition::read_chrom(std::uint64_t channel_index) const {
    if (!channel_table_) return refuse("no _CHROMS.INF in this .raw directory");
    auto found = find_side_file(chro_file_name(channel_index));
    if (!found) return refuse(found.error());
    if (!*found) return refuse(std::format("CHRO file {} not found", chro_file_number(channel_index)));
    auto points = raw::read_chro_dat(**found);
    if (!points) return std::unexpected(reading_failed(**found, std::move(points).error()));
    return std::move(*points);
}

Result<std::optional<std::filesystem::path>> Acquisition::find_side_file(std::string_view name) const {
    return find_file(reader_.dir, name, LocateStyle::Quiet);
}

std::string chro_file_number(std::uint64_t channel_index) {
    if (channel_index <= std::numeric_limits<std::uint64_t>::max() - kFirstChroFile)
        return std::to_string(channel_index + kFirstChroFile);
    // 2^64 + r, where r (0, 1 or 2) is what the wrapped 64-bit sum leaves.
    const std::uint64_t remainder = channel_index + kFirstChroFile;
    return std::format("1844674407370955161{}", 6 + remainder);
}

std::string chro_file_name(std::uint64_t channel_index) {
    if (channel_index <= std::numeric_limits<std::uint64_t>::max() - kFirstChroFile)
        return numbered_name("_CHRO", channel_index + kFirstChroFile, ".DAT");
    return "_CHRO" + chro_file_number(channel_index) + ".DAT"; // 20 digits, no padding needed
}

} // namespace tarnvale
