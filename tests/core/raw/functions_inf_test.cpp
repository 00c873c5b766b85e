#include "raw/functions_inf.hpp"

#include <gtest/gtest.h>

#include <format>
#include <vector>

#include "support/meta_records.hpp"
#include "support/support.hpp"

namespace tarnvale::raw {
namespace {

using testing::FunctionRecordFields;

// Every field different from record to record. Odd seeds mark a lock-mass function (bit 7 of
// the subtype); even seeds set low bits only, which must not count.
FunctionRecordFields distinct_fields(std::uint8_t seed) {
    return FunctionRecordFields{.function_type = static_cast<std::uint8_t>(0x10 + seed),
                                .scan_subtype =
                                    static_cast<std::uint8_t>(seed % 2 == 1 ? 0x80 | seed : 0x01 | seed),
                                .cycle_time_s = 1.25f + seed,
                                .tof_depth = static_cast<std::uint16_t>(0x1234 + seed),
                                .interscan_delay_s = 0.015f * seed,
                                .scan_time_s = 0.9f + seed,
                                .mz_low = 50.1f + seed,
                                .mz_high = 1200.7f + seed};
}

void expect_fields(const FunctionInfo& info, std::uint8_t seed, std::uint32_t index) {
    const FunctionRecordFields f = distinct_fields(seed);
    EXPECT_EQ(info.index, index);
    EXPECT_EQ(info.function_type, f.function_type);
    EXPECT_EQ(info.scan_subtype, f.scan_subtype);
    EXPECT_EQ(info.is_lock_mass(), seed % 2 == 1);
    EXPECT_EQ(info.cycle_time_s, f.cycle_time_s);
    EXPECT_EQ(info.tof_depth, f.tof_depth);
    EXPECT_EQ(info.interscan_delay_s, f.interscan_delay_s);
    EXPECT_EQ(info.scan_time_s, f.scan_time_s);
    EXPECT_EQ(info.mz_low, f.mz_low);
    EXPECT_EQ(info.mz_high, f.mz_high);
}

TEST(FunctionTable, RecordsInFileOrderWithOneBasedIndicesAndOnlyTheirFields) {
    // Every byte set, then the interpreted fields written over it: nothing else may leak in.
    testing::ByteWriter file;
    file.put_bytes(0, std::vector<std::uint8_t>(3 * testing::kFunctionRecordBytes, 0xEE));
    for (std::uint8_t k = 0; k < 3; ++k)
        testing::put_function_record(file, k * testing::kFunctionRecordBytes, distinct_fields(k + 1));
    Result<FunctionTable> table = FunctionTable::from_bytes(file.bytes());
    ASSERT_TRUE(table.has_value()) << table.error().to_string();
    ASSERT_EQ(table->functions.size(), 3u);
    for (std::uint8_t k = 0; k < 3; ++k) expect_fields(table->functions[k], k + 1, k + 1);

    Result<FunctionTable> empty = FunctionTable::from_bytes({});
    ASSERT_TRUE(empty.has_value());
    EXPECT_TRUE(empty->functions.empty());
}

TEST(FunctionTable, RejectsLengthNotAMultipleOfTheRecordSize) {
    for (const std::size_t size : {1uz, 415uz, 417uz, 831uz, 833uz})
        EXPECT_EQ(
            testing::error_text(FunctionTable::from_bytes(std::vector<std::uint8_t>(size, 0))),
            std::format("parse error: _FUNCTNS.INF: file size {} is not a multiple of 416 (record size)",
                        size));
}

TEST(FunctionTableFromPath, ReadsWholeFileOrPassesTheIoErrorOn) {
    testing::TempDir dir;
    const auto path =
        dir.write("_FUNCTNS.INF", testing::functions_inf({distinct_fields(1), distinct_fields(2)}));
    Result<FunctionTable> table = FunctionTable::from_path(path);
    ASSERT_TRUE(table.has_value()) << table.error().to_string();
    ASSERT_EQ(table->functions.size(), 2u);
    expect_fields(table->functions[1], 2, 2);

    EXPECT_EQ(testing::error_text(FunctionTable::from_path(dir.path() / "nothing.inf")),
              testing::kNoSuchFile);
}

} // namespace
} // namespace tarnvale::raw
