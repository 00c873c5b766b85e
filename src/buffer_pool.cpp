#include "buffer_pool.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <fcntl.h>
#include <mutex>
#include <new>
#include <string_view>
#include <sys/mman.h>
#include <unistd.h>

#if defined(__has_include)
#if __has_include(<sanitizer/asan_interface.h>)
#include <sanitizer/asan_interface.h>
#endif
#endif

// Kept blocks are poisoned under AddressSanitizer, so that a use after give_back is
// still reported although the memory is not freed.
#ifndef ASAN_POISON_MEMORY_REGION
#define ASAN_POISON_MEMORY_REGION(addr, size) ((void)(addr), (void)(size))
#define ASAN_UNPOISON_MEMORY_REGION(addr, size) ((void)(addr), (void)(size))
#endif

namespace tarnvale::buffer_pool {

namespace {

// Kept blocks, oldest first. A fixed array: keeping a block never allocates.
struct Pool {
    std::mutex mutex;
    std::array<Block, kPoolBlocks> blocks{};
    std::size_t count = 0;
    std::size_t bytes = 0;

    Block remove(std::size_t at) {
        const Block block = blocks[at];
        std::move(blocks.begin() + static_cast<std::ptrdiff_t>(at) + 1,
                  blocks.begin() + static_cast<std::ptrdiff_t>(count),
                  blocks.begin() + static_cast<std::ptrdiff_t>(at));
        --count;
        bytes -= block.capacity;
        return block;
    }
};

// Never destroyed: buffers may be given back while the process exits.
Pool& pool() {
    static Pool* const instance = new Pool;
    return *instance;
}

void free_block(Block block) noexcept {
    ASAN_UNPOISON_MEMORY_REGION(block.data, block.capacity);
    if (block.mapped) {
        ::munmap(block.data, block.capacity);
        return;
    }
    delete[] block.data;
}

// "always" or "madvise" is the setting in use, between brackets; "never" or a kernel
// without the file offers none. Read with the system calls themselves: the project's
// file reading takes its buffers from this pool.
bool read_huge_page_setting() noexcept {
    const int fd = ::open("/sys/kernel/mm/transparent_hugepage/enabled", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    std::array<char, 128> text{};
    const ssize_t got = ::read(fd, text.data(), text.size() - 1);
    ::close(fd);
    if (got <= 0) return false;
    const std::string_view setting(text.data(), static_cast<std::size_t>(got));
    return setting.contains("[always]") || setting.contains("[madvise]");
}

// Whole huge pages for `size` bytes, aligned to a huge page: a mapping one page larger
// than needed, cut down to the aligned part. Null data when the system refuses.
Block map_huge_pages(std::size_t size) noexcept {
    if (size > SIZE_MAX - 2 * kHugePage) return {};
    const std::size_t capacity = (size + kHugePage - 1) / kHugePage * kHugePage;
    void* const mapping =
        ::mmap(nullptr, capacity + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED) return {};
    auto* const start = static_cast<std::uint8_t*>(mapping);
    const std::size_t misalignment = reinterpret_cast<std::uintptr_t>(start) % kHugePage;
    const std::size_t before = misalignment == 0 ? 0 : kHugePage - misalignment;
    if (before != 0) ::munmap(start, before);
    std::uint8_t* const data = start + before;
    ::munmap(data + capacity, kHugePage - before); // never empty: before < kHugePage
    ::madvise(data, capacity, MADV_HUGEPAGE);      // a hint: small pages serve as well if refused
    return {data, capacity, true};
}

Block fresh_block(std::size_t size) noexcept {
    if (size >= kHugeMinimum && huge_pages_offered()) {
        if (const Block block = map_huge_pages(size); block.data != nullptr) {
            // Under AddressSanitizer, the rest of the last page is out of bounds like a
            // kept block's rest (see take).
            ASAN_POISON_MEMORY_REGION(block.data + size, block.capacity - size);
            return block;
        }
    }
    // Default-initialised: the bytes stay as the allocator left them until a read fills them.
    auto* data = new (std::nothrow) std::uint8_t[size];
    if (data == nullptr) return {};
    return {data, size};
}

// The smallest kept block that holds `size` bytes without wasting more than as much again.
Block take_kept(std::size_t size) noexcept {
    Pool& kept = pool();
    const std::lock_guard lock(kept.mutex);
    std::size_t best = kept.count;
    for (std::size_t i = 0; i < kept.count; ++i) {
        const std::size_t capacity = kept.blocks[i].capacity;
        if (capacity >= size && capacity / 2 <= size &&
            (best == kept.count || capacity < kept.blocks[best].capacity))
            best = i;
    }
    if (best == kept.count) return {};
    return kept.remove(best);
}

} // namespace

bool huge_pages_offered() noexcept {
    static const bool offered = read_huge_page_setting();
    return offered;
}

Block take(std::size_t size) noexcept {
    if (size >= kPooledMinimum) {
        if (const Block block = take_kept(size); block.data != nullptr) {
            // Only the requested bytes: a use of the rest is reported as out of bounds.
            ASAN_UNPOISON_MEMORY_REGION(block.data, size);
            return block;
        }
    }
    return fresh_block(size);
}

void give_back(Block block) noexcept {
    if (block.data == nullptr) return;
    if (block.capacity < kPooledMinimum || block.capacity > kPoolBytes) {
        free_block(block);
        return;
    }
    ASAN_POISON_MEMORY_REGION(block.data, block.capacity);
    std::array<Block, kPoolBlocks> evicted{};
    std::size_t evicted_count = 0;
    {
        Pool& kept = pool();
        const std::lock_guard lock(kept.mutex);
        while (kept.count == kPoolBlocks || kept.bytes + block.capacity > kPoolBytes)
            evicted[evicted_count++] = kept.remove(0);
        kept.blocks[kept.count++] = block;
        kept.bytes += block.capacity;
    }
    // Freed outside the lock.
    for (std::size_t i = 0; i < evicted_count; ++i) free_block(evicted[i]);
}

std::size_t kept_bytes() noexcept {
    Pool& kept = pool();
    const std::lock_guard lock(kept.mutex);
    return kept.bytes;
}

std::size_t kept_blocks() noexcept {
    Pool& kept = pool();
    const std::lock_guard lock(kept.mutex);
    return kept.count;
}

void release_all() noexcept {
    std::array<Block, kPoolBlocks> all{};
    std::size_t count = 0;
    {
        Pool& kept = pool();
        const std::lock_guard lock(kept.mutex);
        count = kept.count;
        std::copy_n(kept.blocks.begin(), count, all.begin());
        kept.count = 0;
        kept.bytes = 0;
    }
    for (std::size_t i = 0; i < count; ++i) free_block(all[i]);
}

} // namespace tarnvale::buffer_pool
