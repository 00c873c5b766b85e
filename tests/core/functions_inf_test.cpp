#include "raw/functions_inf.hpp"

#include <gtest/gtest.h>

#include <vector>

#include "support/meta_records.hpp"
#include "support/support.hpp"

namespace tarnvale::raw {
namespace {

using testing::FunctionRecordFields;

FunctionRecordFields distinct_fields(std::uint8_t seed) {
    return FunctionRecordFields{.function_type = static_cast<std::uint8_t>(0x10 + seed),
                                .scan_subtype = static_cast<std::uint8_t>(seed),
                                .cycle_time_s = 1.25f + seed,
                                .tof_depth = static_cast<std::uint16_t>(0x1234 + seed),
                                .interscan_delay_s = 0.015f * seed,
                                .scan_time_s = 0.9f + seed,
                                .mz_low = 50.1f + seed,
                                .mz_high = 1200.7f + seed};
}

void expect_fields(const FunctionInfo& info, const FunctionRecordFields& f, std::uint32_t index) {
    EXPECT_EQ(info.index, index);
    EXPECT_EQ(info.function_type, f.function_type);
    EXPECT_EQ(info.scan_subtype, f.scan_subtype);
    EXPECT_EQ(info.cycle_time_s, f.cycle_time_s);
    EXPECT_EQ(info.tof_depth, f.tof_depth);
    EXPECT_EQ(info.interscan_delay_s, f.interscan_delay_s);
    EXPECT_EQ(info.scan_time_s, f.scan_time_s);
    EXPECT_EQ(info.mz_low, f.mz_low);
    EXPECT_EQ(info.mz_high, f.mz_high);
}

TEST(FunctionTable, EmptyFileGivesNoFunctions) {
    Result<FunctionTable> table = FunctionTable::from_bytes({});
    ASSERT_TRUE(table.has_value());
    EXPECT_TRUE(table->functions.empty());
}

TEST(FunctionTable, RecordsInFileOrderWithOneBasedIndices) {
    const std::vector<FunctionRecordFields> fields{distinct_fields(1), distinct_fields(2),
                                                   distinct_fields(3)};
    Result<FunctionTable> table = FunctionTable::from_bytes(testing::functions_inf(fields));
    ASSERT_TRUE(table.has_value()) << table.error().to_string();
    ASSERT_EQ(table->functions.size(), 3u);
    for (std::uint32_t k = 0; k < 3; ++k) expect_fields(table->functions[k], fields[k], k + 1);
}

TEST(FunctionTable, UninterpretedBytesDoNotLeakIntoFields) {
    // Every byte set, then the interpreted fields written over it.
    testing::ByteWriter record;
    record.put_bytes(0, std::vector<std::uint8_t>(testing::kFunctionRecordBytes, 0xEE));
    const FunctionRecordFields fields = distinct_fields(7);
    testing::put_function_record(record, 0, fields);
    Result<FunctionTable> table = FunctionTable::from_bytes(record.bytes());
    ASSERT_TRUE(table.has_value());
    expect_fields(table->functions.at(0), fields, 1);
}

TEST(FunctionTable, LockMassIsBitSevenOfScanSubtype) {
    const std::vector<FunctionRecordFields> fields{{.scan_subtype = 0x81}, {.scan_subtype = 0x01}};
    Result<FunctionTable> table = FunctionTable::from_bytes(testing::functions_inf(fields));
    ASSERT_TRUE(table.has_value());
    EXPECT_EQ(table->functions[0].scan_subtype, 0x81);
    EXPECT_TRUE(table->functions[0].is_lock_mass());
    EXPECT_FALSE(table->functions[1].is_lock_mass());
}

class FunctionTableSizeTest : public ::testing::TestWithParam<std::size_t> {};

TEST_P(FunctionTableSizeTest, RejectsLengthNotAMultipleOfTheRecordSize) {
    const std::size_t size = GetParam();
    Result<FunctionTable> table = FunctionTable::from_bytes(std::vector<std::uint8_t>(size, 0));
    ASSERT_FALSE(table.has_value());
    EXPECT_EQ(table.error().kind(), Error::Kind::Parse);
    EXPECT_EQ(table.error().to_string(), "parse error: _FUNCTNS.INF: file size " + std::to_string(size) +
                                             " is not a multiple of 416 (record size)");
}

INSTANTIATE_TEST_SUITE_P(Sizes, FunctionTableSizeTest, ::testing::Values(1, 415, 417, 831, 833));

TEST(FunctionTableFromPath, ReadsWholeFile) {
    testing::TempDir dir;
    const auto path =
        dir.write("_FUNCTNS.INF", testing::functions_inf({distinct_fields(1), distinct_fields(2)}));
    Result<FunctionTable> table = FunctionTable::from_path(path);
    ASSERT_TRUE(table.has_value()) << table.error().to_string();
    ASSERT_EQ(table->functions.size(), 2u);
    expect_fields(table->functions[1], distinct_fields(2), 2);
}

TEST(FunctionTableFromPath, MissingFileIsAnIoError) {
    testing::TempDir dir;
    Result<FunctionTable> table = FunctionTable::from_path(dir.path() / "_FUNCTNS.INF");
    ASSERT_FALSE(table.has_value());
    EXPECT_EQ(table.error().kind(), Error::Kind::Io);
    EXPECT_EQ(table.error().to_string(), "I/O error: No such file or directory (os error 2)");
}

} // namespace
} // namespace tarnvale::raw
