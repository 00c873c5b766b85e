#include "raw/func_sts.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "support/meta_records.hpp"
#include "support/support.hpp"

namespace tarnvale::raw {
namespace {

using namespace tarnvale::testing;

FuncSts parse_ok(const std::vector<std::uint8_t>& bytes) {
    Result<FuncSts> sts = FuncSts::from_bytes(bytes);
    EXPECT_TRUE(sts.has_value()) << sts.error().to_string();
    return sts ? std::move(*sts) : FuncSts{};
}

// Scan records of 16 bytes: scan s holds s+1 in its u8 at 0 and its f32 at 4,
// 0xFFFF at 8 and 0xFFFFFFFF at 12.
std::vector<std::uint8_t> sixteen_byte_records(std::size_t n_records) {
    ByteWriter records(16 * n_records);
    for (std::size_t s = 0; s < n_records; ++s) {
        records.put_u8(16 * s, static_cast<std::uint8_t>(s + 1));
        records.put_f32(16 * s + 4, static_cast<float>(s + 1) * 1.5f);
        records.put_u16(16 * s + 8, 0xFFFF);
        records.put_u32(16 * s + 12, 0xFFFFFFFF);
    }
    return records.take();
}

TEST(FuncSts, PreambleOnlyFileHasNoDescriptorsAndNoRecords) {
    const FuncSts sts = parse_ok(func_sts_file({.scan_record_size = 4}));
    EXPECT_TRUE(sts.descriptors.empty());
    EXPECT_EQ(sts.n_records, 0u);
    EXPECT_TRUE(sts.data.empty());
    EXPECT_EQ(sts.scan_record_size, 4u);
    EXPECT_FALSE(sts.collision_energy(0));
    EXPECT_FALSE(sts.etd_fragmentation_mode(0));
}

// The statistics keep the bytes they were given, and their copies share them.
TEST(FuncSts, CopiesReadTheSameValuesAfterTheOriginalIsGone) {
    std::vector<std::uint8_t> file =
        func_sts_file({.descriptors = {{.type_code = kStsF32, .offset = 4, .name = "Collision Energy"}},
                       .scan_record_size = 16,
                       .records = sixteen_byte_records(4)});
    std::optional<FuncSts> original = parse_ok(file);
    std::ranges::fill(file, std::uint8_t{0xEE});
    const FuncSts copy = *original;
    original.reset();
    ASSERT_EQ(copy.n_records, 4u);
    for (std::size_t s = 0; s < 4; ++s) EXPECT_EQ(copy.collision_energy(s), static_cast<float>(s + 1) * 1.5f);
}

TEST(FuncSts, CountsWholeRecordsAndIgnoresTrailingPart) {
    std::vector<std::uint8_t> records = sixteen_byte_records(3);
    records.insert(records.end(), {1, 2, 3, 4, 5});
    const FuncSts sts = parse_ok(func_sts_file(
        {.descriptors = {{.id_word = 0xBEEF, .type_code = kStsU8, .offset = 0, .name = "Count"}},
         .scan_record_size = 16,
         .records = records}));
    ASSERT_EQ(sts.descriptors.size(), 1u);
    EXPECT_EQ(sts.descriptors[0].id_word, 0xBEEF);
    EXPECT_EQ(sts.descriptors[0].value_type, ChannelEncoding::U8);
    EXPECT_EQ(sts.n_records, 3u);
    EXPECT_EQ(sts.data.size(), 48u);
    EXPECT_EQ(sts.value_at(sts.descriptors[0], 2), 3.0);
    EXPECT_FALSE(sts.value_at(sts.descriptors[0], 3));
}

TEST(FuncSts, NameEndsAtNulIsTrimmedAndStaysInsideItsField) {
    const std::pair<std::string, std::string> cases[] = {
        {"  Collision Energy  ", "Collision Energy"}, {std::string("Ramp\0tail", 9), "Ramp"},
        {std::string(42, 'N'), std::string(42, 'N')}, // fills the field; the next descriptor follows at once
        {"\t Temp \xFF\r\n", "Temp \uFFFD"},          {"", ""},
    };
    for (const auto& [raw_name, name] : cases) {
        const FuncSts sts = parse_ok(func_sts_file(
            {.descriptors = {{.name = raw_name}, {.id_word = 0x4242, .name = "b"}}, .scan_record_size = 4}));
        EXPECT_EQ(sts.descriptors.at(0).name, name);
        EXPECT_EQ(sts.descriptors.at(1).name, "b") << name;
    }
}

TEST(FuncSts, ReadsWidenedValueOrAbsentAtRecordEdge) {
    const struct {
        std::uint16_t type_code;
        std::uint16_t offset;
        std::optional<double> scan1_value;
    } cases[] = {
        {kStsU8, 0, 2.0},
        {kStsF32, 4, 3.0},
        {kStsI16, 8, -1.0},
        {kStsU8, 8, 255.0},
        {kStsU32, 12, 4294967295.0},
        {kStsI16, 14, -1.0},
        // Offset 15 of a 16-byte record: only a u8 fits.
        {kStsU8, 15, 255.0},
        {kStsI16, 15, std::nullopt},
        {kStsU32, 15, std::nullopt},
        {kStsF32, 15, std::nullopt},
        {kStsF32, 13, std::nullopt},
        {kStsU8, 16, std::nullopt},
        {kStsU8, 65535, std::nullopt},
    };
    for (const auto& c : cases) {
        const FuncSts sts =
            parse_ok(func_sts_file({.descriptors = {{.type_code = c.type_code, .offset = c.offset}},
                                    .scan_record_size = 16,
                                    .records = sixteen_byte_records(2)}));
        EXPECT_EQ(sts.value_at(sts.descriptors[0], 1), c.scan1_value)
            << "type " << c.type_code << " offset " << c.offset;
    }
}

TEST(FuncSts, ValueAtGuardsAgainstHugeOffsets) {
    const FuncSts sts = parse_ok(func_sts_file({.scan_record_size = 16, .records = sixteen_byte_records(1)}));
    ChannelDescriptor descriptor;
    descriptor.value_type = ChannelEncoding::U32;
    descriptor.offset = static_cast<std::size_t>(-2);
    EXPECT_FALSE(sts.value_at(descriptor, 0));
    EXPECT_FALSE(sts.value_at(descriptor, static_cast<std::size_t>(-1)));
}

TEST(FuncSts, NamedLookupsUseTheFirstExactMatchOnly) {
    const FuncSts sts = parse_ok(func_sts_file(
        {.descriptors = {{.type_code = kStsF32, .offset = 4, .name = "collision energy"},
                         {.type_code = kStsU8, .offset = 0, .name = "  Collision Energy  "},
                         {.type_code = kStsF32, .offset = 4, .name = "Collision Energy"},
                         {.type_code = kStsU32, .offset = 14, .name = "ETD Fragmentation Mode"},
                         {.type_code = kStsU32, .offset = 12, .name = "ETD Fragmentation Mode"}},
         .scan_record_size = 16,
         .records = sixteen_byte_records(2)}));
    EXPECT_EQ(sts.collision_energy(0), 1.0);
    EXPECT_EQ(sts.collision_energy(1), 2.0);
    EXPECT_FALSE(sts.collision_energy(2));
    // The first "ETD Fragmentation Mode" does not fit its record: absent, not the second one's value.
    EXPECT_FALSE(sts.etd_fragmentation_mode(0));
    EXPECT_EQ(sts.named_value("ETD", 0), std::nullopt);
}

std::vector<std::uint8_t> truncated(std::vector<std::uint8_t> bytes, std::size_t size) {
    bytes.resize(size);
    return bytes;
}

TEST(FuncSts, FailsWithExactMessage) {
    const StsFileFields two_descriptors{.descriptors = {{.name = "a"}, {.name = "b"}}, .scan_record_size = 4};
    const std::pair<std::vector<std::uint8_t>, std::string> cases[] = {
        {{}, "_FUNCnnn.STS too small: 0 bytes (need at least 32)"},
        {std::vector<std::uint8_t>(31, 0), "_FUNCnnn.STS too small: 31 bytes (need at least 32)"},
        {func_sts_file({.scan_record_size = 4, .data_offset = 32, .n_desc = 1}),
         "_FUNCnnn.STS: data_offset 32 does not match preamble + n_desc*48 = 80"},
        {func_sts_file({.scan_record_size = 4, .data_offset = 65535, .n_desc = 65535}),
         "_FUNCnnn.STS: data_offset 65535 does not match preamble + n_desc*48 = 3145712"},
        {std::vector<std::uint8_t>(32, 0),
         "_FUNCnnn.STS: data_offset 0 does not match preamble + n_desc*48 = 32"},
        {truncated(func_sts_file(two_descriptors), 127),
         "_FUNCnnn.STS: file too small for declared 2 descriptor records"},
        {func_sts_file({.scan_record_size = 4, .data_offset = 1376, .n_desc = 28}),
         "_FUNCnnn.STS: file too small for declared 28 descriptor records"},
        // The first unknown type is named, and the types are checked before the record size.
        {func_sts_file(
             {.descriptors = {{.type_code = 3}, {.type_code = 4}, {.type_code = 7}}, .scan_record_size = 4}),
         "_FUNCnnn.STS: unknown channel encoding type 4"},
        {func_sts_file({.descriptors = {{.type_code = 65535}}, .scan_record_size = 4}),
         "_FUNCnnn.STS: unknown channel encoding type 65535"},
        {func_sts_file({.descriptors = {{.name = "a"}}}), "_FUNCnnn.STS: scan_record_size is zero"},
        {func_sts_file({.descriptors = {{.type_code = 9}}}), "_FUNCnnn.STS: unknown channel encoding type 9"},
    };
    for (const auto& [bytes, message] : cases)
        EXPECT_EQ(error_text(FuncSts::from_bytes(bytes)), "parse error: " + message);
}

TEST(FuncStsFromPath, ReadsWholeFileOrPassesTheIoErrorOn) {
    TempDir dir;
    const auto path = dir.write(
        "_FUNC001.STS", func_sts_file({.descriptors = {{.type_code = kStsU8, .name = "Collision Energy"}},
                                       .scan_record_size = 16,
                                       .records = sixteen_byte_records(2)}));
    Result<FuncSts> sts = FuncSts::from_path(path);
    ASSERT_TRUE(sts.has_value()) << sts.error().to_string();
    EXPECT_EQ(sts->collision_energy(1), 2.0);

    EXPECT_EQ(error_text(FuncSts::from_path(dir.path() / "nothing.sts")), kNoSuchFile);
}

} // namespace
} // namespace tarnvale::raw
