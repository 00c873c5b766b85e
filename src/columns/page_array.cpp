#include "columns/page_array.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

namespace tarnvale::columns {

namespace {

// Large arrays ask for huge pages: a fresh page is zeroed either way, but one
// fault per 2 MiB instead of per 4 KiB makes filling the array several times cheaper.
constexpr std::size_t kHugePageThreshold = std::size_t{4} << 20;
// Moving a block at a time bounds what is held twice while moving.
constexpr std::size_t kMoveBlock = std::size_t{1} << 20;

std::size_t page_size() {
    static const auto size = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    return size;
}

std::size_t round_up(std::size_t value, std::size_t unit) { return (value + unit - 1) / unit * unit; }
std::size_t round_down(std::size_t value, std::size_t unit) { return value / unit * unit; }

} // namespace

Result<PageArray> PageArray::reserve(std::size_t bytes) {
    if (bytes == 0) return PageArray();
    if (bytes > std::numeric_limits<std::size_t>::max() - page_size()) return fail(Error::io(ENOMEM));
    const std::size_t mapped = round_up(bytes, page_size());
    // No swap is reserved for the bound: only the pages written are ever backed.
    void* base =
        ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (base == MAP_FAILED) return fail(Error::io(errno));
    if (mapped >= kHugePageThreshold) (void)::madvise(base, mapped, MADV_HUGEPAGE); // a hint only
    return PageArray(static_cast<std::byte*>(base), mapped);
}

PageArray& PageArray::operator=(PageArray&& other) noexcept {
    if (this != &other) {
        if (base_ != nullptr) ::munmap(base_, mapped_);
        base_ = std::exchange(other.base_, nullptr);
        mapped_ = std::exchange(other.mapped_, 0);
    }
    return *this;
}

PageArray::~PageArray() {
    if (base_ != nullptr) ::munmap(base_, mapped_);
}

void PageArray::discard(std::size_t from, std::size_t to) {
    const std::size_t start = round_up(from, page_size());
    const std::size_t end = std::min(round_down(to, page_size()), mapped_);
    if (start < end) (void)::madvise(base_ + start, end - start, MADV_DONTNEED);
}

void PageArray::move_down(std::size_t to, std::size_t from, std::size_t bytes) {
    if (to == from || bytes == 0) return;
    std::size_t discarded = from; // source bytes below this were given back already (or never held)
    for (std::size_t done = 0; done < bytes;) {
        const std::size_t step = std::min(kMoveBlock, bytes - done);
        std::memmove(base_ + to + done, base_ + from + done, step);
        done += step;
        // The source bytes moved so far are free wherever the destination does not reach.
        const std::size_t free_from = std::max(discarded, to + done);
        if (free_from < from + done) {
            discard(free_from, from + done);
            discarded = round_down(from + done, page_size());
        }
    }
}

void PageArray::shrink(std::size_t bytes) {
    const std::size_t keep = round_up(bytes, page_size());
    if (keep >= mapped_) return;
    if (keep == 0) {
        ::munmap(base_, mapped_);
        base_ = nullptr;
        mapped_ = 0;
        return;
    }
    ::munmap(base_ + keep, mapped_ - keep);
    mapped_ = keep;
}

} // namespace tarnvale::columns
