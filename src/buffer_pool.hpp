// Storage for large read buffers, kept for reuse once it is given back.
//
// A process that opens run after run reads every run's index and statistics files
// whole. Storage of that size comes from the system in fresh pages, and each 4 KiB
// page costs a fault the first time it is written: about a thousand faults for an
// index of a few megabytes, more than the read itself. Storage given back here is
// kept (within a bound) and handed to the next request it fits, so that the next
// run's files are read into pages that are already backed.
//
// Small requests go straight to the allocator, which reuses small blocks well. What
// is kept is bounded by kPoolBytes in all and kPoolBlocks blocks; the oldest block
// goes first when a newer one needs room.
//
// Requests of half a huge page or more get whole 2 MiB pages of their own mapping,
// which the kernel is asked to back with transparent huge pages where it offers them.
// Reading into 4 KiB pages spends much of its time translating addresses: four 1.1 MB
// index files, each read into a buffer of its own, took 1.7 times as long as into huge
// pages. The rest of the last huge page is the price, bounded by the request itself.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarnvale::buffer_pool {

// Requests smaller than this are not pooled.
inline constexpr std::size_t kPooledMinimum = std::size_t{128} << 10;
// The most that stays kept, in bytes and in blocks.
inline constexpr std::size_t kPoolBytes = std::size_t{32} << 20;
inline constexpr std::size_t kPoolBlocks = 16;

// Blocks from kHugeMinimum bytes are a whole number of huge pages when the kernel
// offers transparent huge pages (see huge_pages_offered()).
inline constexpr std::size_t kHugePage = std::size_t{2} << 20;
inline constexpr std::size_t kHugeMinimum = kHugePage / 2;

struct Block {
    std::uint8_t* data = nullptr;
    std::size_t capacity = 0;
    bool mapped = false; // a mapping of its own, not the allocator's
};

// Whether the kernel backs mappings that ask for it with huge pages; read once.
bool huge_pages_offered() noexcept;

// Uninitialised storage for at least `size` bytes (size > 0): a kept block of no more
// than twice the size when there is one, else fresh storage. Null data when memory
// runs out.
Block take(std::size_t size) noexcept;

// Hands the block back: kept for reuse, or freed. A null block is ignored.
void give_back(Block block) noexcept;

// What is kept now, and freeing all of it (for tests, and for callers that want the
// memory back at once).
std::size_t kept_bytes() noexcept;
std::size_t kept_blocks() noexcept;
void release_all() noexcept;

// A deleter that gives the storage of a block of `capacity` bytes back.
struct GiveBack {
    std::size_t capacity = 0;
    bool mapped = false;
    void operator()(std::uint8_t* data) const noexcept { give_back({data, capacity, mapped}); }
};

} // namespace tarnvale::buffer_pool
