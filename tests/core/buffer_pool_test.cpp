#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "buffer_pool.hpp"
#include "io.hpp"
#include "size_limits.hpp"
#include "support/support.hpp"

namespace tarnvale {
namespace {

using namespace buffer_pool;

constexpr std::size_t KiB = 1024;
constexpr std::size_t MiB = 1024 * KiB;

class BufferPoolTest : public ::testing::Test {
  protected:
    void SetUp() override { release_all(); }
    void TearDown() override { release_all(); }
};

// Takes `size` bytes, writes every one (as a read would), and gives them back.
void use_and_give_back(std::size_t size) {
    const Block block = take(size);
    ASSERT_NE(block.data, nullptr);
    std::memset(block.data, 0x5a, size);
    give_back(block);
}

TEST_F(BufferPoolTest, ReusesAKeptBlockOnlyWhenItFitsWithoutMuchWaste) {
    struct Case {
        std::size_t given_back;
        std::size_t requested;
        bool kept;
        bool reused;
    };
    const Case cases[] = {
        // Below kHugeMinimum, so that a block holds exactly what was asked for.
        {768 * KiB, 768 * KiB, true, true},
        {768 * KiB, 600 * KiB, true, true},
        {768 * KiB, 384 * KiB, true, true},      // exactly half
        {768 * KiB, 384 * KiB - 1, true, false}, // would waste more than it holds
        {768 * KiB, 768 * KiB + 1, true, false}, // too small
        {64 * KiB, 64 * KiB, false, false},      // small blocks are not kept
        {kPooledMinimum, kPooledMinimum, true, true},
        {kPoolBytes, kPoolBytes, true, true}, // as large as the pool holds
        {kPoolBytes + 1, kPoolBytes + 1, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.given_back << " given back, " << c.requested << " requested");
        release_all();
        const Block first = take(c.given_back);
        ASSERT_NE(first.data, nullptr);
        std::memset(first.data, 1, c.given_back);
        give_back(first);
        EXPECT_EQ(kept_blocks(), c.kept ? 1u : 0u);
        const Block second = take(c.requested);
        ASSERT_NE(second.data, nullptr);
        EXPECT_EQ(kept_blocks(), c.kept && !c.reused ? 1u : 0u);
        if (c.reused) {
            EXPECT_EQ(second.data, first.data);
        }
        EXPECT_GE(second.capacity, c.requested);
        std::memset(second.data, 2, c.requested); // all of it is usable
        give_back(second);
    }
}

TEST_F(BufferPoolTest, TakesTheSmallestBlockThatFits) {
    std::vector<Block> blocks;
    for (std::size_t size : {640 * KiB, 256 * KiB, 384 * KiB, 512 * KiB}) blocks.push_back(take(size));
    for (const Block& block : blocks) give_back(block);
    const Block taken = take(320 * KiB);
    EXPECT_EQ(taken.data, blocks[2].data); // 384 KiB, not the older 640 or 512 KiB ones
    give_back(taken);
    EXPECT_EQ(kept_blocks(), 4u);
}

TEST_F(BufferPoolTest, KeepsNoMoreThanItsBoundsAndDropsTheOldestFirst) {
    struct Case {
        std::size_t size;
        std::size_t count;
        std::size_t kept_blocks;
    };
    const Case cases[] = {
        // Whole huge pages, so that every block holds exactly its size.
        {2 * MiB, kPoolBlocks + 4, kPoolBlocks}, // bounded by the number of blocks
        {6 * MiB, 10, kPoolBytes / (6 * MiB)},   // bounded by the bytes
        {kPoolBytes, 3, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.count << " blocks of " << c.size);
        release_all();
        std::vector<Block> blocks(c.count);
        for (Block& block : blocks) block = take(c.size);
        for (const Block& block : blocks) give_back(block);
        EXPECT_EQ(kept_blocks(), c.kept_blocks);
        EXPECT_LE(kept_bytes(), kPoolBytes);
        EXPECT_EQ(kept_bytes(), c.kept_blocks * c.size);
        // The newest are the ones kept: taking them all back gives exactly those.
        std::vector<std::uint8_t*> newest;
        for (std::size_t i = c.count - c.kept_blocks; i < c.count; ++i) newest.push_back(blocks[i].data);
        std::vector<Block> taken(c.kept_blocks);
        for (Block& block : taken) block = take(c.size);
        std::vector<std::uint8_t*> taken_data;
        taken_data.reserve(taken.size());
        for (const Block& block : taken) taken_data.push_back(block.data);
        std::ranges::sort(newest);
        std::ranges::sort(taken_data);
        EXPECT_EQ(taken_data, newest);
        for (const Block& block : taken) give_back(block);
    }
}

TEST_F(BufferPoolTest, ByteBuffersOfAFileReadAfterAnotherReuseItsStorage) {
    testing::TempDir dir;
    const auto write = [&](const char* name, std::size_t size, std::uint8_t seed) {
        std::vector<std::uint8_t> bytes(size);
        for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(seed + i * 7);
        dir.write(name, bytes);
        return bytes;
    };
    const auto first_bytes = write("first", 900 * KiB, 3);
    const auto second_bytes = write("second", 700 * KiB, 11);
    const std::uint8_t* first_storage = nullptr;
    {
        auto first = read_whole_file(dir.path() / "first", kIndexFileLimit);
        ASSERT_TRUE(first.has_value());
        EXPECT_TRUE(std::ranges::equal(first->span(), first_bytes));
        first_storage = first->data();
    }
    auto second = read_whole_file(dir.path() / "second", kIndexFileLimit);
    ASSERT_TRUE(second.has_value());
    EXPECT_EQ(second->data(), first_storage);
    EXPECT_EQ(second->size(), second_bytes.size()); // not the kept block's capacity
    EXPECT_TRUE(std::ranges::equal(second->span(), second_bytes));
}

TEST_F(BufferPoolTest, ThreadsTakingAndGivingBackStayWithinTheBounds) {
    auto work = [](unsigned seed) {
        std::mt19937_64 random(seed);
        std::uniform_int_distribution<std::size_t> size(64 * KiB, 6 * MiB);
        for (int i = 0; i < 300; ++i) {
            auto buffer = ByteBuffer::allocate(size(random));
            ASSERT_TRUE(buffer.has_value());
            buffer->data()[0] = 1;
            buffer->data()[buffer->size() - 1] = 1;
        }
    };
    std::vector<std::thread> threads;
    threads.reserve(4);
    for (unsigned t = 0; t < 4; ++t) threads.emplace_back(work, t);
    for (std::thread& thread : threads) thread.join();
    EXPECT_LE(kept_bytes(), kPoolBytes);
    EXPECT_LE(kept_blocks(), kPoolBlocks);
}

TEST_F(BufferPoolTest, LargeBlocksAreWholeHugePagesWhenTheKernelOffersThem) {
    struct Case {
        std::size_t size;
        std::size_t huge_capacity; // where huge pages are offered
    };
    const Case cases[] = {
        {kHugeMinimum - 1, 0}, // not a huge block: exactly the size
        {kHugeMinimum, kHugePage},      {kHugePage - 1, kHugePage}, {kHugePage, kHugePage},
        {kHugePage + 1, 2 * kHugePage}, {5 * MiB + 3, 6 * MiB},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.size << " bytes");
        release_all();
        const bool huge = c.huge_capacity != 0 && huge_pages_offered();
        const Block block = take(c.size);
        ASSERT_NE(block.data, nullptr);
        EXPECT_EQ(block.mapped, huge);
        EXPECT_EQ(block.capacity, huge ? c.huge_capacity : c.size);
        if (huge) {
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block.data) % kHugePage, 0u);
        }
        std::memset(block.data, 0x5a, c.size);
        give_back(block);
        // Kept, and handed out again with what it is.
        const Block again = take(c.size);
        EXPECT_EQ(again.data, block.data);
        EXPECT_EQ(again.capacity, block.capacity);
        EXPECT_EQ(again.mapped, block.mapped);
        give_back(again);
    }
}

TEST_F(BufferPoolTest, NullBlocksAreIgnored) {
    give_back({});
    EXPECT_EQ(kept_blocks(), 0u);
    use_and_give_back(kPooledMinimum);
    EXPECT_EQ(kept_blocks(), 1u);
}

#if defined(__SANITIZE_ADDRESS__)
// Kept storage is not freed, so AddressSanitizer would not see a use after give_back
// unless the pool marks it.
TEST_F(BufferPoolTest, AUseAfterGiveBackIsStillReportedUnderAddressSanitizer) {
    EXPECT_DEATH(
        {
            const Block block = take(1 * MiB);
            give_back(block);
            volatile std::uint8_t* data = block.data;
            data[100] = 1;
        },
        "use-after-poison");
}

// A block may hold more than was asked for: a kept larger block, or the rest of a huge
// page. Bytes past the request are out of bounds for AddressSanitizer all the same.
TEST_F(BufferPoolTest, BytesPastTheRequestAreReportedUnderAddressSanitizer) {
    const std::size_t sizes[] = {kHugeMinimum + 10, 600 * KiB};
    for (const std::size_t size : sizes) {
        SCOPED_TRACE(::testing::Message() << size << " bytes");
        release_all();
        give_back(take(768 * KiB)); // the kept block that 600 KiB is given
        EXPECT_DEATH(
            {
                const Block block = take(size);
                volatile std::uint8_t* data = block.data;
                data[size] = 1;
            },
            "use-after-poison|heap-buffer-overflow");
    }
}
#endif

} // namespace
} // namespace tarnvale
