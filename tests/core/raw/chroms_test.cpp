#include "raw/chroms.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "support/meta_records.hpp"
#include "support/support.hpp"

namespace tarnvale::raw {
namespace {

using namespace tarnvale::testing;

ChromsInf parse_ok(const std::vector<std::uint8_t>& bytes) {
    Result<ChromsInf> inf = ChromsInf::from_bytes(bytes);
    EXPECT_TRUE(inf.has_value()) << inf.error().to_string();
    return inf ? std::move(*inf) : ChromsInf{};
}

std::vector<std::uint8_t> with_u16(const std::vector<std::uint8_t>& bytes, std::size_t at,
                                   std::uint16_t value) {
    ByteWriter writer;
    writer.append(bytes);
    writer.put_u16(at, value);
    return writer.take();
}

TEST(ChromsInf, SmallestFilesHoldTwoMetaOrTwoChannelRecords) {
    const std::vector<std::uint8_t> meta_only = chroms_inf({.n_meta = 2});
    const std::vector<std::uint8_t> channels_only =
        chroms_inf({.channels = {{.label = "a"}, {.label = "b"}}});
    ASSERT_EQ(meta_only.size(), 298u);
    ASSERT_EQ(channels_only.size(), 298u);
    EXPECT_TRUE(parse_ok(meta_only).channels.empty());
    EXPECT_EQ(parse_ok(channels_only).channels.size(), 2u);
}

TEST(ChromsInf, ChannelsFollowTheMetaRecordsInFileOrder) {
    ByteWriter file;
    file.append(chroms_inf(
        {.n_meta = 1,
         .channels = {{.source_type = 4, .label = "Pressure"}, {.source_type = 1, .label = "Temp"}}}));
    // A meta record that looks like a channel must be skipped.
    put_chrom_channel(file, kChromsHeaderBytes, {.source_type = 9, .label = "Meta"});
    const ChromsInf inf = parse_ok(file.bytes());
    ASSERT_EQ(inf.channels.size(), 2u);
    EXPECT_EQ(inf.channels[0].index, 0u);
    EXPECT_EQ(inf.channels[0].source_type, 4u);
    EXPECT_EQ(inf.channels[0].name, "Pressure");
    EXPECT_EQ(inf.channels[1].index, 1u);
    EXPECT_EQ(inf.channels[1].source_type, 1u);
    EXPECT_EQ(inf.channels[1].name, "Temp");
}

TEST(ChromsInf, LabelGivesNameScaleAndUnits) {
    const std::string full_field = "X$CC$,2,a,b,c," + std::string(81 - 14, 'u');
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        std::string label; // raw bytes of the 81-byte field (zero-padded)
        std::string name;
        double scale_f;
        std::string units;
    } cases[] = {
        {"Pressure", "Pressure", 1.0, ""},
        {"Pump$CC$,0.1,a,b,c,bar,x", "Pump$CC$,0.1,a,b,c,bar,x", 0.1, "bar,x"},
        {"P$CC$,0.1,a,b,c", "P$CC$,0.1,a,b,c", 1.0, ""},
        {"P$CC$,abc,a,b,c,bar", "P$CC$,abc,a,b,c,bar", 1.0, ""},
        {"P$CC$, 2.5 ,a,b,c,bar", "P$CC$, 2.5 ,a,b,c,bar", 2.5, "bar"},
        {"$CC$,1e3,,,,V", "$CC$,1e3,,,,V", 1000.0, "V"},
        {"$CC$,-INF,a,b,c,u", "$CC$,-INF,a,b,c,u", -std::numeric_limits<double>::infinity(), "u"},
        {"$CC$,nan,a,b,c,u", "$CC$,nan,a,b,c,u", nan, "u"},
        {"$CC$,0x10,a,b,c,u", "$CC$,0x10,a,b,c,u", 1.0, ""},
        {"$CC$,,a,b,c,u", "$CC$,,a,b,c,u", 1.0, ""},
        // Units are not trimmed and are decoded from Windows-1252.
        {"T$CC$,1,a,b,c, \xB0"
         "C ",
         "T$CC$,1,a,b,c, \u00B0C ", 1.0, " \u00B0C "},
        // The $CC$ text may sit after the NUL that ends the name.
        {std::string("Flow\0$CC$,3,a,b,c,mL/min", 24), "Flow", 3.0, "mL/min"},
        {std::string("F$CC$,3,a,b,c,mL\0junk", 21), "F$CC$,3,a,b,c,mL", 3.0, "mL"},
        {std::string("F$CC$,3,a,b\0,c,mL", 18), "F$CC$,3,a,b", 1.0, ""},
        // The scale item must be valid UTF-8 before trimming: a lone 0xA0 is not.
        {"$CC$,\xA0"
         "2,a,b,c,u",
         "$CC$,\u00A0"
         "2,a,b,c,u",
         1.0, ""},
        // U+00A0 written in UTF-8 is Unicode white space and is trimmed.
        {"$CC$,\xC2\xA0"
         "2,a,b,c,u",
         "$CC$,\u00C2\u00A0"
         "2,a,b,c,u",
         2.0, "u"},
        // Only the first marker counts.
        {"$CC$,2,a,b,c,u1$CC$,3,a,b,c,u2", "$CC$,2,a,b,c,u1$CC$,3,a,b,c,u2", 2.0, "u1$CC$,3,a,b,c,u2"},
        {"$cc$,2,a,b,c,u", "$cc$,2,a,b,c,u", 1.0, ""},
        // A label filling the whole field: name and units run to its end.
        {full_field, full_field, 2.0, std::string(81 - 14, 'u')},
        {"\x80\x81\x9F", "\u20AC\u0081\u0178", 1.0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const ChromsInf inf = parse_ok(chroms_inf({.channels = {{.label = c.label}, {.label = "other"}}}));
        const ChromChannel& channel = inf.channels.at(0);
        EXPECT_EQ(channel.name, c.name);
        if (std::isnan(c.scale_f)) {
            EXPECT_TRUE(std::isnan(channel.scale_f)) << channel.scale_f;
        } else {
            EXPECT_EQ(channel.scale_f, c.scale_f);
        }
        EXPECT_EQ(channel.units, c.units);
        EXPECT_EQ(inf.channels.at(1).name, "other");
    }
}

std::vector<std::uint8_t> resized(std::vector<std::uint8_t> bytes, std::size_t size) {
    bytes.resize(size, 0);
    return bytes;
}

TEST(ChromsInf, FailsWithExactMessage) {
    const std::vector<std::uint8_t> two_channels = chroms_inf({.channels = {{}, {}}});
    const std::pair<std::vector<std::uint8_t>, std::string> cases[] = {
        {{}, "_CHROMS.INF too small: 0 bytes (need at least 298)"},
        {resized(two_channels, 297), "_CHROMS.INF too small: 297 bytes (need at least 298)"},
        {std::vector<std::uint8_t>(297, 0xFF), "_CHROMS.INF too small: 297 bytes (need at least 298)"},
        {chroms_inf({.channels = {{}, {}}, .record_size = 84}),
         "_CHROMS.INF: record size field is 84, expected 85"},
        {chroms_inf({.channels = {{}, {}}, .record_size = 65535}),
         "_CHROMS.INF: record size field is 65535, expected 85"},
        {with_u16(two_channels, 6, 3), "_CHROMS.INF: file too small for declared 3 meta records"},
        {with_u16(two_channels, 6, 65535), "_CHROMS.INF: file too small for declared 65535 meta records"},
        {resized(two_channels, 299), "_CHROMS.INF: data section size 171 is not a multiple of 85"},
        {with_u16(resized(two_channels, 300), 6, 2),
         "_CHROMS.INF: data section size 2 is not a multiple of 85"},
    };
    for (const auto& [bytes, message] : cases)
        EXPECT_EQ(error_text(ChromsInf::from_bytes(bytes)), "parse error: " + message);
}

TEST(ChroDat, ReadsPointsAfterTheHeader) {
    auto pairs = [](const Result<std::vector<ChromPoint>>& points) {
        std::vector<std::pair<float, float>> out;
        if (!points) ADD_FAILURE() << points.error().to_string();
        for (const ChromPoint& point : points.value_or(std::vector<ChromPoint>{}))
            out.emplace_back(point.rt_min, point.value);
        return out;
    };
    EXPECT_TRUE(pairs(parse_chro_bytes(chro_dat({}))).empty());
    const std::vector<std::pair<float, float>> points = {{0.5f, 12.25f}, {0.75f, -3.0f}};
    const std::vector<std::uint8_t> bytes = chro_dat(points);
    ASSERT_EQ(bytes.size(), 144u);
    EXPECT_EQ(pairs(parse_chro_bytes(bytes)), points);
}

TEST(ChroDat, SizeErrors) {
    const std::pair<std::size_t, std::string> cases[] = {
        {0, "_CHRO*.DAT too small: 0 bytes (need at least 128)"},
        {127, "_CHRO*.DAT too small: 127 bytes (need at least 128)"},
        {140, "_CHRO*.DAT data section size 12 is not a multiple of 8"},
        {129, "_CHRO*.DAT data section size 1 is not a multiple of 8"},
    };
    for (const auto& [size, message] : cases)
        EXPECT_EQ(error_text(parse_chro_bytes(std::vector<std::uint8_t>(size, 0))),
                  "parse error: " + message);
}

TEST(ChromsFromPath, ReadsBothFileKindsOrPassesTheIoErrorOn) {
    TempDir dir;
    Result<ChromsInf> inf = ChromsInf::from_path(
        dir.write("_CHROMS.INF", chroms_inf({.channels = {{.label = "A"}, {.label = "B"}}})));
    ASSERT_TRUE(inf.has_value()) << inf.error().to_string();
    EXPECT_EQ(inf->channels.at(1).name, "B");
    Result<std::vector<ChromPoint>> points =
        read_chro_dat(dir.write("_CHRO002.DAT", chro_dat({{1.0f, 2.0f}})));
    ASSERT_TRUE(points.has_value()) << points.error().to_string();
    EXPECT_EQ(points->at(0).value, 2.0f);

    EXPECT_EQ(error_text(ChromsInf::from_path(dir.path() / "nothing.inf")), kNoSuchFile);
    EXPECT_EQ(error_text(read_chro_dat(dir.path() / "nothing.dat")), kNoSuchFile);
}

} // namespace
} // namespace tarnvale::raw
