// Scan index parsing: layout choice by file length, the marker/order tie-break
// for lengths that fit both strides, field extraction and failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <format>
#include <optional>
#include <tuple>
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
    ASSERT_EQ(index.size(), 2u);
    const ScanIndexA records[] = {index.record_a(0), index.record_a(1)};
    EXPECT_EQ(records[0].offset, 0u);
    EXPECT_EQ(records[0].n_points, 0xABCDEFu);
    EXPECT_EQ(records[0].rt_min, 1.25f);
    EXPECT_EQ(records[0].aux_word, 0xBEEF);
    EXPECT_EQ(records[1].offset, 0xFFFFFFF0u);
    EXPECT_EQ(index.rt_min(1), -2.5f);
    // Bytes 26..29 are 10 00 00 18: the marker byte never leaks into the point count.
    ASSERT_EQ(bytes[22 + 7], 0x18);
    EXPECT_EQ(records[1].n_points, 16u);
}

TEST(ScanIndexTest, VariantBFieldsAreRead) {
    auto bytes = testing::index_b({
        {.offset = 4096, .rt_min = 0.75f, .filler = 0x18},
        {.offset = 12, .rt_min = 3.0f, .filler = 0xFF},
    });
    ScanIndex index = parse_ok(bytes);
    ASSERT_FALSE(index.is_variant_a());
    ASSERT_EQ(index.size(), 2u);
    const ScanIndexB records[] = {index.record_b(0), index.record_b(1)};
    EXPECT_EQ(records[0].offset, 4096u);
    EXPECT_EQ(records[0].rt_min, 0.75f);
    EXPECT_EQ(records[1].offset, 12u);
    EXPECT_EQ(index.rt_min(1), 3.0f);
}

// Lengths that fit only one stride pick it without looking at the content,
// even when the content would suggest the other layout.
TEST(ScanIndexTest, LengthAloneChoosesTheLayout) {
    const std::tuple<std::size_t, bool, std::size_t> cases[] = {{22, true, 1},        {44, true, 2},
                                                                {30, false, 1},       {60, false, 2},
                                                                {660 + 22, true, 31}, {660 + 30, false, 23}};
    for (const auto& [length, variant_a, scans] : cases) {
        ScanIndex index = parse_ok(std::vector<std::uint8_t>(length, 0x18));
        EXPECT_EQ(index.is_variant_a(), variant_a) << length;
        EXPECT_EQ(index.size(), scans) << length;
    }
}

TEST(ScanIndexTest, OtherLengthsFailNamingTheLengthAndBothStrides) {
    for (const std::size_t length : {1uz, 21uz, 23uz, 29uz, 50uz, 331uz}) {
        auto index = ScanIndex::from_bytes(std::vector<std::uint8_t>(length, 0));
        ASSERT_FALSE(index.has_value()) << length;
        EXPECT_EQ(index.error().kind(), Error::Kind::Parse);
        EXPECT_EQ(index.error().to_string(),
                  std::format("parse error: _FUNCnnn.IDX: size {} is not a multiple of 22 (Variant A) "
                              "or 30 (Variant B)",
                              length));
    }
}

// ---------------------------------------------------------------- 330-byte ties

struct TieCase {
    const char* name;
    std::vector<std::uint8_t> bytes;
    bool variant_a;
};

// 15 ordered records with markers (330 bytes, or 990 for 45), then one change.
std::vector<TieCase> tie_cases() {
    using Records = std::vector<IndexARecord>;
    const auto file = [](std::size_t count, auto change) {
        Records records = ordered_a_records(count);
        change(records);
        return testing::index_a(records);
    };
    const auto unchanged = [](Records&) {};
    return {
        {"OrderedWithMarkers", file(15, unchanged), true},
        {"LongerOrderedWithMarkers", file(45, unchanged), true},
        {"EqualOffsetsCountAsOrdered",
         file(15,
              [](Records& r) {
                  for (auto& x : r) x.offset = 500;
              }),
         true},
        {"OneOffsetDecreases", file(15, [](Records& r) { r[9].offset = r[8].offset - 1; }), false},
        {"LastOffsetDecreases", file(15, [](Records& r) { r[14].offset = 0; }), false},
        // Unsigned comparison: 0x80000000 after 0x7FFFFFFF is an increase.
        {"OffsetsCompareUnsigned",
         file(15, [](Records& r) { r[13].offset = 0x7FFFFFFF, r[14].offset = 0x80000000; }), true},
        {"OneMissingMarker", file(15, [](Records& r) { r[6].marker = 0x19; }), false},
        {"LastMissingMarker", file(15, [](Records& r) { r[14].marker = 0x00; }), false},
    };
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

    // The choice does not depend on the record being logged.
    capture.clear();
    log::set_max_level(log::Level::Info);
    ScanIndex quiet = parse_ok(c.bytes);
    log::set_max_level(log::Level::Trace);
    EXPECT_EQ(quiet.is_variant_a(), c.variant_a);
    EXPECT_TRUE(capture.records().empty());
}

INSTANTIATE_TEST_SUITE_P(Ties, ScanIndexTieTest, ::testing::ValuesIn(tie_cases()),
                         [](const auto& test) { return std::string(test.param.name); });

TEST(ScanIndexTest, TieReadAsVariantBTakesFieldsFromThirtyByteRecords) {
    auto records = ordered_a_records(15);
    records[0].offset = 1000; // decreases at record 1
    auto bytes = testing::index_a(records);
    ScanIndex index = parse_ok(bytes);
    ASSERT_FALSE(index.is_variant_a());
    ASSERT_EQ(index.size(), 11u);
    // Record k of the B reading: offset at byte 30k + 22, rt_min at 30k + 12.
    for (std::size_t k = 0; k < 11; ++k) {
        EXPECT_EQ(index.record_b(k).offset, load_u32(bytes.data() + 30 * k + 22));
        EXPECT_EQ(index.rt_min(k), load_f32(bytes.data() + 30 * k + 12));
    }
}

// ---------------------------------------------------------------- files

TEST(ScanIndexTest, FromPathReadsTheFileAndPassesErrorsOn) {
    testing::TempDir dir;
    auto index = ScanIndex::from_path(dir.write("_FUNC001.IDX", testing::index_b({{.offset = 8}})));
    ASSERT_TRUE(index.has_value());
    EXPECT_FALSE(index->is_variant_a());
    EXPECT_EQ(index->record_b(0).offset, 8u);

    auto missing = ScanIndex::from_path(dir.path() / "_FUNC002.IDX");
    ASSERT_FALSE(missing.has_value());
    EXPECT_EQ(missing.error().kind(), Error::Kind::Io);
    EXPECT_EQ(missing.error().to_string(), "I/O error: No such file or directory (os error 2)");

    auto bad_size = ScanIndex::from_path(dir.write("_FUNC003.IDX", std::vector<std::uint8_t>(50, 0)));
    ASSERT_FALSE(bad_size.has_value());
    EXPECT_EQ(bad_size.error().to_string(),
              "parse error: _FUNCnnn.IDX: size 50 is not a multiple of 22 (Variant A) or 30 (Variant B)");
}

// The index keeps the bytes it was given or read, and its copies share them: each
// reads the same fields after the original, and the input, are gone.
TEST(ScanIndexTest, CopiesReadTheSameFieldsAfterTheOriginalIsGone) {
    testing::TempDir dir;
    const std::vector<IndexARecord> expected = ordered_a_records(5, 700);
    std::vector<std::uint8_t> bytes = testing::index_a(expected);
    std::optional<ScanIndex> from_memory = parse_ok(bytes);
    auto read = ScanIndex::from_path(dir.write("_FUNC001.IDX", bytes));
    ASSERT_TRUE(read.has_value());
    std::optional<ScanIndex> from_file = std::move(*read);
    std::ranges::fill(bytes, std::uint8_t{0xEE});
    for (std::optional<ScanIndex>* original : {&from_memory, &from_file}) {
        const ScanIndex copy = **original;
        original->reset();
        ASSERT_EQ(copy.size(), expected.size());
        for (std::size_t k = 0; k < expected.size(); ++k) {
            EXPECT_EQ(copy.offset(k), expected[k].offset);
            EXPECT_EQ(copy.n_points(k), expected[k].n_points);
            EXPECT_EQ(copy.rt_min(k), expected[k].rt_min);
            EXPECT_EQ(copy.record_a(k).n_points, expected[k].n_points);
        }
    }
}

TEST(ScanIndexTest, RecordParsersIgnoreATrailingRemainder) {
    std::vector<std::uint8_t> bytes = testing::index_a(ordered_a_records(2));
    bytes.resize(bytes.size() + 21, 0xFF);
    EXPECT_EQ(parse_variant_a(bytes).size(), 2u);
    EXPECT_EQ(parse_variant_b(bytes).size(), 2u); // 65 bytes
}

} // namespace
} // namespace tarnvale::raw
