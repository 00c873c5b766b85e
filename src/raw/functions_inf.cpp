#include "functions_inf.hpp"

#include <format>

#include "../bytes.hpp"
#include "../io.hpp"

namespace tarnvale::raw {

namespace {

// Reads the interpreted fields of one complete 416-byte record.
FunctionInfo read_function_record(const std::uint8_t* record, std::uint32_t index) {
    FunctionInfo info;
    info.index = index;
    info.function_type = record[0];
    info.scan_subtype = record[1];
    info.cycle_time_s = load_f32(record + 2);
    info.tof_depth = load_u16(record + 16);
    info.interscan_delay_s = load_f32(record + 28);
    info.scan_time_s = load_f32(record + 32);
    info.mz_low = load_f32(record + 160);
    info.mz_high = load_f32(record + 288);
    return info;
}

} // namespace

Result<FunctionTable> FunctionTable::from_bytes(std::span<const std::uint8_t> bytes) {
    if (bytes.size() % kFunctionRecordSize != 0)
        return parse_error(std::format("_FUNCTNS.INF: file size {} is not a multiple of {} (record size)",
                                       bytes.size(), kFunctionRecordSize));
    const std::size_t count = bytes.size() / kFunctionRecordSize;
    FunctionTable table;
    table.functions.reserve(count);
    for (std::size_t k = 0; k < count; ++k)
        table.functions.push_back(
            read_function_record(bytes.data() + k * kFunctionRecordSize, static_cast<std::uint32_t>(k + 1)));
    return table;
}

Result<FunctionTable> FunctionTable::from_path(const std::filesystem::path& path) {
    TV_ASSIGN_OR_RETURN(const std::vector<std::uint8_t> bytes, read_whole_file(path));
    return from_bytes(bytes);
}

} // namespace tarnvale::raw
