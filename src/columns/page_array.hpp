// Memory for an array whose final length is only bounded in advance: the bound
// is reserved as address space, and only the pages actually written are backed
// by memory, so reserving the bound costs nothing until it is used.
#pragma once

#include <cerrno>
#include <cstddef>
#include <limits>
#include <memory>
#include <utility>

#include "columns/column.hpp"
#include "error.hpp"

namespace tarnvale::columns {

class PageArray {
  public:
    // Reserves `bytes` of zero-filled address space; nothing for 0 bytes.
    static Result<PageArray> reserve(std::size_t bytes);

    PageArray() = default;
    PageArray(PageArray&& other) noexcept
        : base_(std::exchange(other.base_, nullptr)), mapped_(std::exchange(other.mapped_, 0)) {}
    PageArray& operator=(PageArray&& other) noexcept;
    PageArray(const PageArray&) = delete;
    PageArray& operator=(const PageArray&) = delete;
    ~PageArray();

    std::byte* data() const { return base_; }
    std::size_t mapped() const { return mapped_; }

    // Moves `bytes` from offset `from` down to offset `to` (to <= from), giving back
    // the memory of the source pages as they are emptied, so that moving never
    // holds more than the data plus one block.
    void move_down(std::size_t to, std::size_t from, std::size_t bytes);

    // Keeps the first `bytes` and returns the pages beyond them to the system.
    void shrink(std::size_t bytes);

  private:
    PageArray(std::byte* base, std::size_t mapped) : base_(base), mapped_(mapped) {}
    // Gives back the whole pages within [from, to); they read as zeros afterwards.
    void discard(std::size_t from, std::size_t to);

    std::byte* base_ = nullptr;
    std::size_t mapped_ = 0;
};

// A column over the first `size` elements of `pages` (of T), owning the pages.
template <class T> Column<T> column_over(PageArray pages, std::size_t size) {
    auto owned = std::make_shared<PageArray>(std::move(pages));
    const auto* data = reinterpret_cast<const T*>(owned->data());
    return Column<T>(std::move(owned), data, size);
}

// Zero-filled pages for `count` elements of T; fails cleanly when count * sizeof(T) overflows.
template <class T> Result<PageArray> reserve_elements(std::size_t count) {
    if (count > std::numeric_limits<std::size_t>::max() / sizeof(T)) return fail(Error::io(ENOMEM));
    return PageArray::reserve(count * sizeof(T));
}

} // namespace tarnvale::columns
