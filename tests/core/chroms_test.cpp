#include "raw/chroms.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "support/meta_records.hpp"
#include "support/support.hpp"
#include "text.hpp"

namespace tarnvale::raw {
namespace {

using testing::ChromChannelFields;
using testing::ChromsInfFields;

ChromsInf parse_ok(const std::vector<std::uint8_t>& bytes) {
    Result<ChromsInf> inf = ChromsInf::from_bytes(bytes);
    EXPECT_TRUE(inf.has_value()) << inf.error().to_string();
    return inf ? std::move(*inf) : ChromsInf{};
}

std::vector<std::uint8_t> with_u16(const std::vector<std::uint8_t>& bytes, std::size_t at,
                                   std::uint16_t value) {
    testing::ByteWriter writer;
    writer.append(bytes);
    writer.put_u16(at, value);
    return writer.take();
}

std::string utf8_of(char32_t c) {
    std::string out;
    append_utf8(out, c);
    return out;
}

std::string decode(std::string_view bytes) {
    return decode_cp1252({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
}

TEST(Cp1252, DecodesEveryByteToOneCharacter) {
    // 0x80..0x9F by the code page; 0x81, 0x8D, 0x8F, 0x90, 0x9D keep their C1 code points.
    constexpr std::array<char32_t, 32> kHigh{0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                             0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                             0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                             0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    for (unsigned byte = 0; byte < 256; ++byte) {
        const char32_t expected = byte >= 0x80 && byte <= 0x9F ? kHigh[byte - 0x80] : byte;
        const std::uint8_t input = static_cast<std::uint8_t>(byte);
        EXPECT_EQ(decode_cp1252(std::span(&input, 1)), utf8_of(expected)) << "byte " << byte;
    }
}

TEST(Cp1252, DecodesSequences) {
    EXPECT_EQ(decode("\x80 5\xB0"
                     "C \x81"),
              "\u20AC 5\u00B0C \u0081");
    EXPECT_EQ(decode(std::string_view("a\0b", 3)), std::string("a\0b", 3));
    EXPECT_EQ(decode(""), "");
}

TEST(ChromsInf, SmallestFileWithTwoMetaRecordsHasNoChannels) {
    const std::vector<std::uint8_t> bytes = testing::chroms_inf({.n_meta = 2});
    ASSERT_EQ(bytes.size(), 298u);
    EXPECT_TRUE(parse_ok(bytes).channels.empty());
}

TEST(ChromsInf, ChannelsFollowTheMetaRecordsInFileOrder) {
    testing::ByteWriter file;
    file.append(testing::chroms_inf(
        {.n_meta = 1,
         .channels = {{.source_type = 4, .label = "Pressure"}, {.source_type = 1, .label = "Temp"}}}));
    // A meta record that looks like a channel must be skipped.
    testing::put_chrom_channel(file, testing::kChromsHeaderBytes, {.source_type = 9, .label = "Meta"});
    const ChromsInf inf = parse_ok(file.bytes());
    ASSERT_EQ(inf.channels.size(), 2u);
    EXPECT_EQ(inf.channels[0].index, 0u);
    EXPECT_EQ(inf.channels[0].source_type, 4u);
    EXPECT_EQ(inf.channels[0].name, "Pressure");
    EXPECT_EQ(inf.channels[1].index, 1u);
    EXPECT_EQ(inf.channels[1].source_type, 1u);
    EXPECT_EQ(inf.channels[1].name, "Temp");
}

TEST(ChromsInf, TwoChannelsWithoutMetaRecords) {
    const std::vector<std::uint8_t> bytes =
        testing::chroms_inf({.channels = {{.label = "a"}, {.label = "b"}}});
    ASSERT_EQ(bytes.size(), 298u);
    EXPECT_EQ(parse_ok(bytes).channels.size(), 2u);
}

struct LabelCase {
    std::string label; // raw bytes of the 81-byte field (zero-padded)
    std::string name;
    double scale_f;
    std::string units;
};

class ChromsLabelTest : public ::testing::TestWithParam<LabelCase> {};

TEST_P(ChromsLabelTest, NameScaleAndUnits) {
    const LabelCase& c = GetParam();
    const ChromsInf inf =
        parse_ok(testing::chroms_inf({.channels = {{.label = c.label}, {.label = "other"}}}));
    const ChromChannel& channel = inf.channels.at(0);
    EXPECT_EQ(channel.name, c.name) << c.label;
    EXPECT_EQ(channel.scale_f, c.scale_f) << c.label;
    EXPECT_EQ(channel.units, c.units) << c.label;
}

const std::string kFullField = "X$CC$,2,a,b,c," + std::string(81 - 14, 'u');

INSTANTIATE_TEST_SUITE_P(
    Labels, ChromsLabelTest,
    ::testing::Values(LabelCase{"Pressure", "Pressure", 1.0, ""},
                      LabelCase{"Pump$CC$,0.1,a,b,c,bar,x", "Pump$CC$,0.1,a,b,c,bar,x", 0.1, "bar,x"},
                      LabelCase{"P$CC$,0.1,a,b,c", "P$CC$,0.1,a,b,c", 1.0, ""},
                      LabelCase{"P$CC$,abc,a,b,c,bar", "P$CC$,abc,a,b,c,bar", 1.0, ""},
                      LabelCase{"P$CC$, 2.5 ,a,b,c,bar", "P$CC$, 2.5 ,a,b,c,bar", 2.5, "bar"},
                      LabelCase{"$CC$,1e3,,,,V", "$CC$,1e3,,,,V", 1000.0, "V"},
                      LabelCase{"$CC$,-INF,a,b,c,u", "$CC$,-INF,a,b,c,u",
                                -std::numeric_limits<double>::infinity(), "u"},
                      LabelCase{"$CC$,0x10,a,b,c,u", "$CC$,0x10,a,b,c,u", 1.0, ""},
                      LabelCase{"$CC$,,a,b,c,u", "$CC$,,a,b,c,u", 1.0, ""},
                      // Units are not trimmed and are decoded from Windows-1252.
                      LabelCase{"T$CC$,1,a,b,c, \xB0"
                                "C ",
                                "T$CC$,1,a,b,c, \u00B0C ", 1.0, " \u00B0C "},
                      // The $CC$ text may sit after the NUL that ends the name.
                      LabelCase{std::string("Flow\0$CC$,3,a,b,c,mL/min", 24), "Flow", 3.0, "mL/min"},
                      LabelCase{std::string("F$CC$,3,a,b,c,mL\0junk", 21), "F$CC$,3,a,b,c,mL", 3.0, "mL"},
                      LabelCase{std::string("F$CC$,3,a,b\0,c,mL", 18), "F$CC$,3,a,b", 1.0, ""},
                      // The scale item must be valid UTF-8 before trimming: a lone 0xA0 is not.
                      LabelCase{"$CC$,\xA0"
                                "2,a,b,c,u",
                                "$CC$,\u00A0"
                                "2,a,b,c,u",
                                1.0, ""},
                      // U+00A0 written in UTF-8 is Unicode white space and is trimmed.
                      LabelCase{"$CC$,\xC2\xA0"
                                "2,a,b,c,u",
                                "$CC$,\u00C2\u00A0"
                                "2,a,b,c,u",
                                2.0, "u"},
                      // Only the first marker counts.
                      LabelCase{"$CC$,2,a,b,c,u1$CC$,3,a,b,c,u2", "$CC$,2,a,b,c,u1$CC$,3,a,b,c,u2", 2.0,
                                "u1$CC$,3,a,b,c,u2"},
                      LabelCase{"$cc$,2,a,b,c,u", "$cc$,2,a,b,c,u", 1.0, ""},
                      // A label filling the whole field: name and units run to its end.
                      LabelCase{kFullField, kFullField, 2.0, std::string(81 - 14, 'u')},
                      LabelCase{"\x80\x81\x9F", "\u20AC\u0081\u0178", 1.0, ""}));

TEST(ChromsInf, ScaleAcceptsNan) {
    const ChromsInf inf = parse_ok(testing::chroms_inf({.channels = {{.label = "$CC$,nan,a,b,c,u"}, {}}}));
    EXPECT_TRUE(std::isnan(inf.channels[0].scale_f));
    EXPECT_EQ(inf.channels[0].units, "u");
}

struct ErrorCase {
    std::string what;
    std::vector<std::uint8_t> bytes;
    std::string message;
};

class ChromsErrorTest : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(ChromsErrorTest, FailsWithExactMessage) {
    const ErrorCase& c = GetParam();
    Result<ChromsInf> inf = ChromsInf::from_bytes(c.bytes);
    ASSERT_FALSE(inf.has_value()) << c.what;
    EXPECT_EQ(inf.error().kind(), Error::Kind::Parse);
    EXPECT_EQ(inf.error().to_string(), "parse error: " + c.message) << c.what;
}

std::vector<std::uint8_t> resized(std::vector<std::uint8_t> bytes, std::size_t size) {
    bytes.resize(size, 0);
    return bytes;
}

const std::vector<std::uint8_t> kTwoChannels = testing::chroms_inf({.channels = {{}, {}}});

INSTANTIATE_TEST_SUITE_P(
    Files, ChromsErrorTest,
    ::testing::Values(ErrorCase{"empty", {}, "_CHROMS.INF too small: 0 bytes (need at least 298)"},
                      ErrorCase{"297 bytes", resized(kTwoChannels, 297),
                                "_CHROMS.INF too small: 297 bytes (need at least 298)"},
                      ErrorCase{"297 bad bytes", std::vector<std::uint8_t>(297, 0xFF),
                                "_CHROMS.INF too small: 297 bytes (need at least 298)"},
                      ErrorCase{"record size 84",
                                testing::chroms_inf({.channels = {{}, {}}, .record_size = 84}),
                                "_CHROMS.INF: record size field is 84, expected 85"},
                      ErrorCase{"record size 65535",
                                testing::chroms_inf({.channels = {{}, {}}, .record_size = 65535}),
                                "_CHROMS.INF: record size field is 65535, expected 85"},
                      ErrorCase{"meta beyond file", with_u16(kTwoChannels, 6, 3),
                                "_CHROMS.INF: file too small for declared 3 meta records"},
                      ErrorCase{"meta at u16 limit", with_u16(kTwoChannels, 6, 65535),
                                "_CHROMS.INF: file too small for declared 65535 meta records"},
                      ErrorCase{"partial channel", resized(kTwoChannels, 299),
                                "_CHROMS.INF: data section size 171 is not a multiple of 85"},
                      ErrorCase{"partial after meta", with_u16(resized(kTwoChannels, 300), 6, 2),
                                "_CHROMS.INF: data section size 2 is not a multiple of 85"}),
    [](const ::testing::TestParamInfo<ErrorCase>& info) {
        std::string name;
        for (char c : info.param.what) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        return name;
    });

TEST(ChroDat, ReadsPointsAfterTheHeader) {
    Result<std::vector<ChromPoint>> none = parse_chro_bytes(testing::chro_dat({}));
    ASSERT_TRUE(none.has_value());
    EXPECT_TRUE(none->empty());
    const std::vector<std::uint8_t> bytes = testing::chro_dat({{0.5f, 12.25f}, {0.75f, -3.0f}});
    ASSERT_EQ(bytes.size(), 144u);
    Result<std::vector<ChromPoint>> points = parse_chro_bytes(bytes);
    ASSERT_TRUE(points.has_value()) << points.error().to_string();
    ASSERT_EQ(points->size(), 2u);
    EXPECT_EQ((*points)[0].rt_min, 0.5f);
    EXPECT_EQ((*points)[0].value, 12.25f);
    EXPECT_EQ((*points)[1].rt_min, 0.75f);
    EXPECT_EQ((*points)[1].value, -3.0f);
}

TEST(ChroDat, SizeErrors) {
    const struct {
        std::size_t size;
        std::string message;
    } cases[] = {
        {0, "_CHRO*.DAT too small: 0 bytes (need at least 128)"},
        {127, "_CHRO*.DAT too small: 127 bytes (need at least 128)"},
        {140, "_CHRO*.DAT data section size 12 is not a multiple of 8"},
        {129, "_CHRO*.DAT data section size 1 is not a multiple of 8"},
    };
    for (const auto& c : cases) {
        Result<std::vector<ChromPoint>> points = parse_chro_bytes(std::vector<std::uint8_t>(c.size, 0));
        ASSERT_FALSE(points.has_value()) << c.size;
        EXPECT_EQ(points.error().kind(), Error::Kind::Parse);
        EXPECT_EQ(points.error().to_string(), "parse error: " + c.message);
    }
}

TEST(ChromsFromPath, ReadsBothFileKinds) {
    testing::TempDir dir;
    const auto inf_path =
        dir.write("_CHROMS.INF", testing::chroms_inf({.channels = {{.label = "A"}, {.label = "B"}}}));
    const auto dat_path = dir.write("_CHRO002.DAT", testing::chro_dat({{1.0f, 2.0f}}));
    Result<ChromsInf> inf = ChromsInf::from_path(inf_path);
    ASSERT_TRUE(inf.has_value()) << inf.error().to_string();
    EXPECT_EQ(inf->channels.at(1).name, "B");
    Result<std::vector<ChromPoint>> points = read_chro_dat(dat_path);
    ASSERT_TRUE(points.has_value()) << points.error().to_string();
    EXPECT_EQ(points->at(0).value, 2.0f);
}

TEST(ChromsFromPath, MissingFilesAreIoErrors) {
    testing::TempDir dir;
    Result<ChromsInf> inf = ChromsInf::from_path(dir.path() / "_CHROMS.INF");
    ASSERT_FALSE(inf.has_value());
    EXPECT_EQ(inf.error().to_string(), "I/O error: No such file or directory (os error 2)");
    Result<std::vector<ChromPoint>> points = read_chro_dat(dir.path() / "_CHRO001.DAT");
    ASSERT_FALSE(points.has_value());
    EXPECT_EQ(points.error().kind(), Error::Kind::Io);
}

} // namespace
} // namespace tarnvale::raw
