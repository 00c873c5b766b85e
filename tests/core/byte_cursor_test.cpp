// The byte cursor of the fixed-layout parsers: its size checks in 64-bit
// arithmetic, their messages, and little-endian fields of records taken in turn.
#include "byte_cursor.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "support/support.hpp"

namespace tarnvale {
namespace {

using testing::ByteWriter;
using testing::error_text;

constexpr std::uint64_t kU64Max = std::numeric_limits<std::uint64_t>::max();

TEST(ByteCursor, NeedChecksWhatFollowsThePosition) {
    const std::vector<std::uint8_t> bytes(300, 0);
    const struct {
        std::uint64_t skip;
        std::uint64_t n;
        std::string what; // empty: the plain size check
        std::string outcome;
    } cases[] = {
        {0, 0, "", "no error"},
        {0, 300, "", "no error"},
        {0, 301, "", "parse error: F too small: 300 bytes (need at least 301)"},
        {128, 172, "", "no error"},
        {128, 173, "", "parse error: F too small: 300 bytes (need at least 301)"},
        {300, 0, "", "no error"},
        {300, 1, "", "parse error: F too small: 300 bytes (need at least 301)"},
        // Sizes a damaged count field can produce do not wrap around.
        {0, kU64Max, "", "parse error: F too small: 300 bytes (need at least 18446744073709551615)"},
        {128, kU64Max, "", "parse error: F too small: 300 bytes (need at least 18446744073709551615)"},
        {128, 85ull * 65535, "declared 65535 meta records",
         "parse error: F: file too small for declared 65535 meta records"},
        {128, 172, "declared 2 meta records", "no error"},
        {0, kU64Max, "x", "parse error: F: file too small for x"},
    };
    for (const auto& c : cases) {
        ByteCursor file(bytes, "F");
        file.skip(c.skip);
        EXPECT_EQ(error_text(c.what.empty() ? file.need(c.n) : file.need(c.n, c.what)), c.outcome)
            << c.skip << " + " << c.n;
        EXPECT_EQ(file.remaining(), 300 - c.skip);
    }
}

TEST(ByteCursor, RecordsAreTakenInTurnAndReadLittleEndian) {
    ByteWriter writer;
    writer.put_u8(0, 0xAB).put_u16(1, 0x1234).put_u32(3, 0xDEADBEEF).put_f32(7, -1.5f);
    writer.put_u8(11, 0x7F).put_u32(12, 7).put_u16(16, 0xFFFF);
    const std::vector<std::uint8_t> bytes = writer.take();

    ByteCursor file(bytes, "F");
    EXPECT_EQ(file.size(), 18u);
    const ByteCursor first = file.take(11);
    EXPECT_EQ(first.size(), 11u);
    EXPECT_EQ(first.u8_at(0), 0xAB);
    EXPECT_EQ(first.u16_at(1), 0x1234);
    EXPECT_EQ(first.u32_at(3), 0xDEADBEEFu);
    EXPECT_EQ(first.f32_at(7), -1.5f);
    EXPECT_EQ(file.remaining(), 7u);

    // Offsets count from the position, also in the cursor that is left.
    EXPECT_EQ(file.u8_at(0), 0x7F);
    EXPECT_EQ(file.u32_at(1), 7u);
    EXPECT_EQ(file.bytes_at(5, 2).size(), 2u);
    file.skip(5);
    EXPECT_EQ(file.u16_at(0), 0xFFFF);
    EXPECT_EQ(file.rest().size(), 2u);
    // A taken record names the same file in its messages.
    EXPECT_EQ(error_text(first.need(12)), "parse error: F too small: 11 bytes (need at least 12)");
}

} // namespace
} // namespace tarnvale
