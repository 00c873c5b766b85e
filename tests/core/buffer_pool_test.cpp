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
        {1 * MiB, 1 * MiB, true, true},
        {1 * MiB, 600 * KiB, true, true},
        {1 * MiB, 512 * KiB, true, true},      // exactly half
        {1 * MiB, 512 * KiB - 1, true, false}, // would waste more than it holds
        {1 * MiB, 1 * MiB + 1, true, false},   // too small
        {64 * KiB, 64 * KiB, false, false},    // small blocks are not kept
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
    for (std::size_t size : {4 * MiB, 1 * MiB, 2 * MiB, 3 * MiB}) blocks.push_back(take(size));
    for (const Block& block : blocks) give_back(block);
    const Block taken = take(1536 * KiB);
    EXPECT_EQ(taken.data, blocks[2].data); // 2 MiB, not the older 4 or 3 MiB ones
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
        {1 * MiB, kPoolBlocks + 4, kPoolBlocks}, // bounded by the number of blocks
        {5 * MiB, 10, kPoolBytes / (5 * MiB)},   // bounded by the bytes
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
        std::vector<std::uint8_t*> taken(c.kept_blocks);
        for (std::uint8_t*& data : taken) data = take(c.size).data;
        std::ranges::sort(newest);
        std::ranges::sort(taken);
        EXPECT_EQ(taken, newest);
        for (std::uint8_t* data : taken) give_back({data, c.size});
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
#endif

} // namespace
} // namespace tarnvale
