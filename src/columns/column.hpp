// A finished array of the columns layer: immutable, and shared by everyone who
// still views it, whatever owns its memory (a vector, or pages of their own).
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <utility>
#include <vector>

namespace tarnvale::columns {

template <class T> class Column {
  public:
    Column() = default;
    Column(std::shared_ptr<const void> owner, const T* data, std::size_t size)
        : owner_(std::move(owner)), data_(data), size_(size) {}

    static Column from_vector(std::vector<T> values) {
        auto owned = std::make_shared<const std::vector<T>>(std::move(values));
        const T* data = owned->data();
        const std::size_t size = owned->size();
        return Column(std::move(owned), data, size);
    }

    std::span<const T> view() const { return {data_, size_}; }
    const T* data() const { return data_; }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    // Keeps the memory alive; whoever hands the array on holds a copy of it.
    const std::shared_ptr<const void>& owner() const { return owner_; }

    // `count` elements from `start` (start + count <= size()), sharing the memory.
    Column slice(std::size_t start, std::size_t count) const { return Column(owner_, data_ + start, count); }

  private:
    std::shared_ptr<const void> owner_;
    const T* data_ = nullptr;
    std::size_t size_ = 0;
};

} // namespace tarnvale::columns
