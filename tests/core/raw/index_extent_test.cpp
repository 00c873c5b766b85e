// The largest end a Variant A index addresses: every instruction-set path against a
// plain loop over the records, on buffers of exactly the records' size (so that a
// load past the last record shows under the address sanitizer).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "bytes.hpp"
#include "raw/decoder_path.hpp"
#include "raw/index.hpp"
#include "raw/index_extent.hpp"

namespace tarnvale::raw {
namespace {

std::uint64_t plain_largest_end(const std::vector<std::uint8_t>& records, std::uint32_t width) {
    std::uint64_t largest = 0;
    for (std::size_t at = 0; at < records.size(); at += kIndexStrideA) {
        const std::uint64_t offset = load_u32(records.data() + at);
        const std::uint64_t points = load_u32(records.data() + at + 4) & 0xFF'FFFF;
        largest = std::max(largest, offset + points * width);
    }
    return largest;
}

void expect_every_path_plain(const std::vector<std::uint8_t>& records, std::uint32_t width,
                             const char* what) {
    const std::size_t count = records.size() / kIndexStrideA;
    const std::uint64_t expected = plain_largest_end(records, width);
    for (const DecoderPath path : available_decoder_paths()) {
        EXPECT_EQ(largest_record_end(records.empty() ? nullptr : records.data(), count, width, path),
                  expected)
            << what << ", " << count << " records, width " << width << ", path " << to_string(path);
    }
}

constexpr std::uint32_t kWidths[] = {6, 8, 1, 0, 0xFFFF'FFFF};

TEST(LargestRecordEnd, RandomBytesAtEveryCountAroundTheStepSizes) {
    std::mt19937_64 random(20261207);
    std::vector<std::size_t> counts;
    for (std::size_t count = 0; count <= 41; ++count) counts.push_back(count);
    counts.insert(counts.end(), {1000, 4099});
    for (const std::size_t count : counts) {
        std::vector<std::uint8_t> records(count * kIndexStrideA);
        for (auto& byte : records) byte = static_cast<std::uint8_t>(random());
        for (const std::uint32_t width : kWidths) expect_every_path_plain(records, width, "random bytes");
    }
}

TEST(LargestRecordEnd, OneLargeRecordAtEachPlace) {
    // The largest end in each lane of each step and in the records after the last whole step.
    for (std::size_t count = 1; count <= 19; ++count) {
        for (std::size_t place = 0; place < count; ++place) {
            std::vector<std::uint8_t> records(count * kIndexStrideA, 0);
            for (std::size_t i = 0; i < count; ++i) {
                records[i * kIndexStrideA + 4] = 1;    // one point
                records[i * kIndexStrideA + 7] = 0x18; // marker, not a count
            }
            records[place * kIndexStrideA + 1] = 0x23; // offset 0x2300
            for (const std::uint32_t width : kWidths)
                expect_every_path_plain(records, width, "one large record");
        }
    }
}

TEST(LargestRecordEnd, FieldExtremesAndFillerBytes) {
    struct Case {
        const char* what;
        std::uint8_t fill;            // every byte of every record
        std::uint32_t offset;         // then these two fields of every record
        std::uint32_t points_and_top; // 24-bit count; the top byte is not part of it
    };
    const Case cases[] = {
        {"all bytes 0xFF", 0xFF, 0xFFFF'FFFF, 0xFFFF'FFFF},
        {"largest offset, no points", 0xFF, 0xFFFF'FFFF, 0xFF00'0000},
        {"no offset, largest count", 0x00, 0, 0x00FF'FFFF},
        {"everything zero", 0x00, 0, 0},
        {"count bit 23 only", 0xAA, 0x8000'0000, 0x1880'0000},
    };
    for (const Case& c : cases) {
        for (const std::size_t count : {1u, 4u, 7u, 8u, 9u, 16u}) {
            std::vector<std::uint8_t> records(count * kIndexStrideA, c.fill);
            for (std::size_t i = 0; i < count; ++i) {
                for (std::size_t b = 0; b < 4; ++b) {
                    records[i * kIndexStrideA + b] = static_cast<std::uint8_t>(c.offset >> (8 * b));
                    records[i * kIndexStrideA + 4 + b] =
                        static_cast<std::uint8_t>(c.points_and_top >> (8 * b));
                }
            }
            for (const std::uint32_t width : kWidths) expect_every_path_plain(records, width, c.what);
        }
    }
}

} // namespace
} // namespace tarnvale::raw
