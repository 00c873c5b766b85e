#include "raw/functions_inf.hpp"

#include <format>

#include "byte_cursor.hpp"
#include "raw/parse_file.hpp"

namespace tarnvale::raw {

namespace {

// Reads the interpreted fields of one complete 416-byte record.
FunctionInfo read_function_record(const ByteCursor& record, std::uint32_t index) {
    FunctionInfo info;
    info.index = index;
    info.function_type = record.u8_at(0);
    info.scan_subtype = record.u8_at(1);
    info.cycle_time_s = record.f32_at(2);
    info.tof_depth = record.u16_at(16);
    info.interscan_delay_s = record.f32_at(28);
    info.scan_time_s = record.f32_at(32);
    info.mz_low = record.f32_at(160);
    info.mz_high = record.f32_at(288);
    return info;
}

} // namespace

Result<FunctionTable> FunctionTable::from_bytes(std::span<const std::uint8_t> bytes) {
    if (bytes.size() % kFunctionRecordSize != 0)
        return parse_error(std::format("_FUNCTNS.INF: file size {} is not a multiple of {} (record size)",
                                       bytes.size(), kFunctionRecordSize));
    ByteCursor file(bytes, "_FUNCTNS.INF");
    FunctionTable table;
    table.functions.reserve(bytes.size() / kFunctionRecordSize);
    // A function's number is its record's 1-based position.
    for (std::uint32_t number = 1; file.remaining() > 0; ++number)
        table.functions.push_back(read_function_record(file.take(kFunctionRecordSize), number));
    return table;
}

Result<FunctionTable> FunctionTable::from_path(const std::filesystem::path& path) {
    return parse_file(path, kMetadataFileLimit, &from_bytes);
}

} // namespace tarnvale::raw
