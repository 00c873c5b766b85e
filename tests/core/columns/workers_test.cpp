// Splitting scans over workers, running them, and moving memory within a page array.
#include "columns/workers.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "columns/page_array.hpp"

namespace tarnvale::columns {
namespace {

struct SplitCase {
    std::vector<std::uint64_t> bytes; // per scan
    std::size_t parts;
    std::vector<std::uint64_t> boundaries; // where ranges 1.. begin
};

// Checks that `ranges` cover every scan in order, each non-empty and starting at a
// multiple of `block`, with the cost before each exact; returns where ranges 1.. begin.
std::vector<std::uint64_t> checked_boundaries(const std::vector<ScanRange>& ranges,
                                              const std::vector<std::uint64_t>& bytes,
                                              std::uint64_t block = 1) {
    std::vector<std::uint64_t> boundaries;
    std::uint64_t before = 0;
    for (std::size_t k = 0; k < ranges.size(); ++k) {
        EXPECT_LT(ranges[k].first, ranges[k].last);
        EXPECT_EQ(ranges[k].first, k == 0 ? 0 : ranges[k - 1].last);
        EXPECT_EQ(ranges[k].first % block, 0u);
        EXPECT_EQ(ranges[k].before, before);
        for (std::uint64_t i = ranges[k].first; i < ranges[k].last; ++i) before += bytes[i];
        if (k > 0) boundaries.push_back(ranges[k].first);
    }
    if (!ranges.empty()) {
        EXPECT_EQ(ranges.back().last, bytes.size());
    }
    return boundaries;
}

TEST(SplitScans, ContiguousNonEmptyRangesOfAboutEqualCost) {
    const SplitCase cases[] = {
        {{100, 100, 100, 100}, 2, {2}},
        {{100, 100, 100, 100}, 4, {1, 2, 3}},
        {{1000, 0, 0, 0, 0, 0}, 2, {1}}, // the heavy scan alone
        {{0, 0, 0, 0, 0, 0}, 3, {2, 4}}, // empty scans cost a little each
        {{0, 0, 0, 0, 0, 5000}, 2, {5}}, // every range keeps a scan
        {{10, 10, 10}, 3, {1, 2}},       // as many parts as scans
        {{5000, 0, 0}, 3, {1, 2}},       // the later ranges get a scan each
        {{7}, 1, {}},
    };
    for (const SplitCase& c : cases) {
        std::uint64_t total = 0;
        for (std::uint64_t b : c.bytes) total += b;
        const std::vector<ScanRange> ranges =
            split_scans(c.bytes.size(), c.parts, total, [&](std::uint64_t i) { return c.bytes[i]; });
        ASSERT_EQ(ranges.size(), c.parts);
        EXPECT_EQ(checked_boundaries(ranges, c.bytes), c.boundaries);
    }
    EXPECT_TRUE(split_scans(0, 2, 0, [](std::uint64_t) { return std::uint64_t{0}; }).empty());
}

// Splitting at block boundaries from sums per block: one scan per block is the plain
// split; larger blocks cut only at block edges, with `before` exact and a short last block.
struct BlockCase {
    std::vector<std::uint64_t> bytes; // per scan
    std::size_t parts;
    std::uint64_t block;
    std::vector<std::uint64_t> boundaries; // none: those of split_scans
};

TEST(SplitBlocks, CutsAtBlockEdgesWithExactWeightsBefore) {
    const BlockCase cases[] = {
        {{100, 100, 100, 100}, 2, 1, {}},
        {{1000, 0, 0, 0, 0, 0}, 2, 1, {}},
        {{0, 0, 0, 0, 0, 5000}, 2, 1, {}},
        {{5000, 0, 0}, 3, 1, {}},
        {{100, 100, 100, 100, 100, 100, 100}, 2, 2, {4}}, // the last block holds one scan
        {{100, 100, 100, 100, 100, 100, 100, 100}, 4, 2, {2, 4, 6}},
        {{900, 0, 0, 0, 0, 0, 0, 0, 0}, 3, 3, {3, 6}}, // the heavy block alone, then a block each
        {{0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 2, 4, {8}},   // the first edge at or past half the cost
    };
    for (const BlockCase& c : cases) {
        const std::uint64_t n = c.bytes.size();
        std::vector<std::uint64_t> before_block;
        std::uint64_t total = 0;
        for (std::uint64_t i = 0; i < n; ++i) {
            if (i % c.block == 0) before_block.push_back(total);
            total += c.bytes[i];
        }
        before_block.push_back(total);
        const std::vector<ScanRange> ranges = split_blocks(n, c.parts, c.block, before_block);
        ASSERT_EQ(ranges.size(), c.parts);
        const std::vector<std::uint64_t> boundaries = checked_boundaries(ranges, c.bytes, c.block);
        if (c.boundaries.empty()) {
            const std::vector<ScanRange> plain =
                split_scans(n, c.parts, total, [&](std::uint64_t i) { return c.bytes[i]; });
            std::vector<std::uint64_t> expected;
            for (std::size_t k = 1; k < plain.size(); ++k) expected.push_back(plain[k].first);
            EXPECT_EQ(boundaries, expected);
        } else {
            EXPECT_EQ(boundaries, c.boundaries);
        }
    }
}

TEST(WorkerCount, NeverMoreThanTheScansAndAtLeastOne) {
    EXPECT_EQ(worker_count(0, 10), 1u);
    EXPECT_EQ(worker_count(8, 3), 3u);
    EXPECT_EQ(worker_count(8, 0), 0u);
    EXPECT_EQ(worker_count(100000, 1000000), 256u);
}

TEST(RunWorkers, EveryWorkerRunsOnceAndTheLowestFailureIsRethrown) {
    std::vector<std::atomic<int>> runs(6);
    run_workers(6, [&](std::size_t k) { ++runs[k]; });
    for (const auto& count : runs) EXPECT_EQ(count.load(), 1);
    try {
        run_workers(4, [](std::size_t k) {
            if (k >= 2) throw std::runtime_error(std::to_string(k));
        });
        FAIL() << "no exception";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "2");
    }
}

TEST(FirstFailure, RemembersTheLowestWorker) {
    FirstFailure first;
    EXPECT_FALSE(first.before(0));
    first.record(5);
    first.record(7);
    EXPECT_TRUE(first.before(6));
    EXPECT_FALSE(first.before(5));
    first.record(2);
    EXPECT_TRUE(first.before(3));
}

// Moves across several blocks, overlapping and not, keep every byte in order.
TEST(PageArray, MovingDownKeepsTheBytesAndShrinkingKeepsThePrefix) {
    struct Move {
        std::size_t to, from, bytes;
    };
    const Move moves[] = {
        {0, 100, 3 << 20}, {4096, std::size_t{4096} * 700, 5 << 20}, {10, 11, 12345}, {0, 0, 100}, {7, 9, 0}};
    for (const Move& move : moves) {
        auto pages = PageArray::reserve(move.from + move.bytes + 1);
        ASSERT_TRUE(pages);
        auto* bytes = reinterpret_cast<unsigned char*>(pages->data());
        for (std::size_t i = 0; i < move.bytes; ++i)
            bytes[move.from + i] = static_cast<unsigned char>(i * 7 + i / 251);
        pages->move_down(move.to, move.from, move.bytes);
        for (std::size_t i = 0; i < move.bytes; ++i)
            ASSERT_EQ(bytes[move.to + i], static_cast<unsigned char>(i * 7 + i / 251)) << "byte " << i;
        pages->shrink(move.to + move.bytes);
        EXPECT_GE(pages->mapped(), move.to + move.bytes);
        for (std::size_t i = 0; i < move.bytes; i += 4093)
            ASSERT_EQ(bytes[move.to + i], static_cast<unsigned char>(i * 7 + i / 251));
    }
    auto empty = PageArray::reserve(0);
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->data(), nullptr);
}

} // namespace
} // namespace tarnvale::columns
