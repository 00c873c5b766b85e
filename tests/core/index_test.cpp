// Scan index parsing: layout choice by file length, the marker/order tie-break
// for lengths that fit both strides, field extraction and failures.
#include <gtest/gtest.h>

#include <cerrno>
#include <format>
#include <vector>

#include "bytes.hpp"
#include "io.hpp"
#include "raw/index.hpp"
#include "support/log_capture.hpp"
#include "support/scan_records.hpp"

namespace tarnvale::raw {
namespace {

using testing::IndexARecord;
using testing::IndexBRecord;

// `count` Variant A records with offsets 0, step, 2·step, … and the marker set.
std::vector<IndexARecord> ordered_a_records(std::size_t count, std::uint32_t step = 100) {
    std::vector<IndexARecord> records(count);
    for (std::size_t i = 0; i < count; ++i) {
        records[i].offset = static_cast<std::uint32_t>(i) * step;
        records[i].n_points = static_cast<std::uint32_t>(i) + 1;
        records[i].rt_min = 0.5f * static_cast<float>(i);
    }
    return records;
}

ScanIndex parse_ok(const std::vector<std::uint8_t>& bytes) {
    auto index = ScanIndex::from_bytes(bytes);
    EXPECT_TRUE(index.has_value()) << (index ? "" : index.error().to_string());
    return index ? std::move(*index) : ScanIndex{};
}

TEST(ScanIndexTest, EmptyFileIsVariantAWithoutScansAndLogsNothing) {
    testing::LogCapture capture;
    ScanIndex index = parse_ok({});
    EXPECT_TRUE(index.is_variant_a());
    EXPECT_EQ(index.size(), 0u);
    EXPECT_TRUE(capture.records().empty());
}

TEST(ScanIndexTest, VariantAFieldsAreRead) {
    auto bytes = testing::index_a({
        {.offset = 0, .n_points = 0xABCDEF, .rt_min = 1.25f, .aux_word = 0xBEEF, .filler = 0xFF},
        {.offset = 0xFFFFFFF0, .n_points = 16, .rt_min = -2.5f, .aux_word = 7},
    });
    ScanIndex index = parse_ok(bytes);
    ASSERT_TRUE(index.is_variant_a());
    const auto& records = *index.variant_a();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].offset, 0u);
    EXPECT_EQ(records[0].n_points, 0xABCDEFu);
    EXPECT_EQ(records[0].rt_min, 1.25f);
    EXPECT_EQ(records[0].aux_word, 0xBEEF);
    EXPECT_EQ(records[1].offset, 0xFFFFFFF0u);
    EXPECT_EQ(index.rt_min(1), -2.5f);
}

TEST(ScanIndexTest, MarkerByteNeverLeaksIntoPointCount) {
    // Bytes 4..7 = 10 00 00 18.
    auto bytes = testing::index_a({{.offset = 0, .n_points = 16}});
    ASSERT_EQ(bytes[7], 0x18);
    ScanIndex index = parse_ok(bytes);
    EXPECT_EQ(index.variant_a()->at(0).n_points, 16u);
}

TEST(ScanIndexTest, VariantBFieldsAreRead) {
    auto bytes = testing::index_b({
        {.offset = 4096, .rt_min = 0.75f, .filler = 0x18},
        {.offset = 12, .rt_min = 3.0f, .filler = 0xFF},
    });
    ScanIndex index = parse_ok(bytes);
    ASSERT_FALSE(index.is_variant_a());
    const auto& records = *index.variant_b();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].offset, 4096u);
    EXPECT_EQ(records[0].rt_min, 0.75f);
    EXPECT_EQ(records[1].offset, 12u);
    EXPECT_EQ(index.rt_min(1), 3.0f);
}

struct LengthCase {
    std::size_t length;
    bool variant_a;
    std::size_t scans;
};

class ScanIndexLengthTest : public ::testing::TestWithParam<LengthCase> {};

// Lengths that fit only one stride pick it without looking at the content,
// even when the content would suggest the other layout.
TEST_P(ScanIndexLengthTest, LengthAloneChoosesTheLayout) {
    const LengthCase c = GetParam();
    std::vector<std::uint8_t> bytes(c.length, 0x18);
    ScanIndex index = parse_ok(bytes);
    EXPECT_EQ(index.is_variant_a(), c.variant_a);
    EXPECT_EQ(index.size(), c.scans);
}

INSTANTIATE_TEST_SUITE_P(Lengths, ScanIndexLengthTest,
                         ::testing::Values(LengthCase{22, true, 1}, LengthCase{44, true, 2},
                                           LengthCase{30, false, 1}, LengthCase{60, false, 2},
                                           LengthCase{660 + 22, true, 31}, LengthCase{660 + 30, false, 23}));

class ScanIndexBadLengthTest : public ::testing::TestWithParam<std::size_t> {};

TEST_P(ScanIndexBadLengthTest, FailsNamingLengthAndBothStrides) {
    std::vector<std::uint8_t> bytes(GetParam(), 0);
    auto index = ScanIndex::from_bytes(bytes);
    ASSERT_FALSE(index.has_value());
    EXPECT_EQ(index.error().kind(), Error::Kind::Parse);
    EXPECT_EQ(index.error().to_string(),
              std::format("parse error: _FUNCnnn.IDX: size {} is not a multiple of 22 (Variant A) "
                          "or 30 (Variant B)",
                          GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Lengths, ScanIndexBadLengthTest, ::testing::Values(1, 21, 23, 29, 50, 331));

// ---------------------------------------------------------------- 330-byte ties

struct TieCase {
    const char* name;
    std::vector<std::uint8_t> bytes;
    bool variant_a;
};

std::vector<std::uint8_t> ordered_tie_file(std::size_t length) {
    return testing::index_a(ordered_a_records(length / 22));
}

std::vector<TieCase> tie_cases() {
    std::vector<TieCase> cases;
    cases.push_back({"OrderedWithMarkers", ordered_tie_file(330), true});
    cases.push_back({"LongerOrderedWithMarkers", ordered_tie_file(990), true});

    auto equal = ordered_a_records(15);
    for (auto& record : equal) record.offset = 500;
    cases.push_back({"EqualOffsetsCountAsOrdered", testing::index_a(equal), true});

    auto unordered = ordered_a_records(15);
    unordered[9].offset = unordered[8].offset - 1;
    cases.push_back({"OneOffsetDecreases", testing::index_a(unordered), false});

    auto last_unordered = ordered_a_records(15);
    last_unordered[14].offset = 0;
    cases.push_back({"LastOffsetDecreases", testing::index_a(last_unordered), false});

    // Unsigned comparison: 0x80000000 after 0x7FFFFFFF is an increase.
    auto high_bit = ordered_a_records(15);
    high_bit[13].offset = 0x7FFFFFFF;
    high_bit[14].offset = 0x80000000;
    cases.push_back({"OffsetsCompareUnsigned", testing::index_a(high_bit), true});

    auto one_marker = ordered_a_records(15);
    one_marker[6].marker = 0x19;
    cases.push_back({"OneMissingMarker", testing::index_a(one_marker), false});

    auto last_marker = ordered_a_records(15);
    last_marker[14].marker = 0x00;
    cases.push_back({"LastMissingMarker", testing::index_a(last_marker), false});
    return cases;
}

class ScanIndexTieTest : public ::testing::TestWithParam<TieCase> {};

TEST_P(ScanIndexTieTest, MarkersAndOrderChooseTheLayoutAndTheChoiceIsLogged) {
    const TieCase& c = GetParam();
    testing::LogCapture capture;
    ScanIndex index = parse_ok(c.bytes);
    EXPECT_EQ(index.is_variant_a(), c.variant_a);
    EXPECT_EQ(index.size(), c.bytes.size() / (c.variant_a ? 22 : 30));

    auto records = capture.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].level, log::Level::Debug);
    EXPECT_EQ(records[0].target, "tarnvale::raw::index");
    EXPECT_EQ(records[0].message,
              std::format("_FUNCnnn.IDX: {} bytes fits both strides; record markers select {}",
                          c.bytes.size(), c.variant_a ? "22-byte Variant A" : "30-byte Variant B"));
}

TEST_P(ScanIndexTieTest, ChoiceDoesNotDependOnLogging) {
    const TieCase& c = GetParam();
    testing::LogCapture capture;
    log::set_max_level(log::Level::Info);
    ScanIndex index = parse_ok(c.bytes);
    log::set_max_level(log::Level::Trace);
    EXPECT_EQ(index.is_variant_a(), c.variant_a);
    EXPECT_TRUE(capture.records().empty());
}

INSTANTIATE_TEST_SUITE_P(Ties, ScanIndexTieTest, ::testing::ValuesIn(tie_cases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ScanIndexTest, TieReadAsVariantBTakesFieldsFromThirtyByteRecords) {
    auto records = ordered_a_records(15);
    records[0].offset = 1000; // decreases at record 1
    auto bytes = testing::index_a(records);
    ScanIndex index = parse_ok(bytes);
    ASSERT_FALSE(index.is_variant_a());
    ASSERT_EQ(index.size(), 11u);
    // Record k of the B reading: offset at byte 30k + 22, rt_min at 30k + 12.
    for (std::size_t k = 0; k < 11; ++k) {
        EXPECT_EQ(index.variant_b()->at(k).offset, load_u32(bytes.data() + 30 * k + 22));
        EXPECT_EQ(index.rt_min(k), load_f32(bytes.data() + 30 * k + 12));
    }
}

// ---------------------------------------------------------------- files

TEST(ScanIndexTest, FromPathReadsTheFile) {
    testing::TempDir dir;
    auto path = dir.write("_FUNC001.IDX", testing::index_b({{.offset = 8, .rt_min = 1.5f}}));
    auto index = ScanIndex::from_path(path);
    ASSERT_TRUE(index.has_value());
    EXPECT_FALSE(index->is_variant_a());
    EXPECT_EQ(index->variant_b()->at(0).offset, 8u);
}

TEST(ScanIndexTest, FromPathPassesTheIoErrorOnUnchanged) {
    testing::TempDir dir;
    auto index = ScanIndex::from_path(dir.path() / "_FUNC001.IDX");
    ASSERT_FALSE(index.has_value());
    EXPECT_EQ(index.error().kind(), Error::Kind::Io);
    EXPECT_EQ(index.error().to_string(), Error::io(ENOENT).to_string());
}

TEST(ScanIndexTest, FromPathReportsSizeErrors) {
    testing::TempDir dir;
    auto path = dir.write("_FUNC001.IDX", std::vector<std::uint8_t>(50, 0));
    auto index = ScanIndex::from_path(path);
    ASSERT_FALSE(index.has_value());
    EXPECT_EQ(index.error().to_string(),
              "parse error: _FUNCnnn.IDX: size 50 is not a multiple of 22 (Variant A) or 30 (Variant B)");
}

TEST(ScanIndexTest, RecordParsersIgnoreATrailingRemainder) {
    std::vector<std::uint8_t> bytes = testing::index_a(ordered_a_records(2));
    bytes.resize(bytes.size() + 21, 0xFF);
    EXPECT_EQ(parse_variant_a(bytes).size(), 2u);
    EXPECT_EQ(parse_variant_b(bytes).size(), 2u); // 65 bytes
}

} // namespace
} // namespace tarnvale::raw
