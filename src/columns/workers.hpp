// Splitting a function's scans over threads, and running the threads.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <span>
#include <vector>

namespace tarnvale::columns {

// Scans [first, last) of one function, and the weight (bytes or records) of the
// scans before them.
struct ScanRange {
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    std::uint64_t before = 0;
};

// How many workers share `n_scans` scans when `threads` are asked for: never more
// than the scans, and never an unbounded number.
std::size_t worker_count(unsigned threads, std::uint64_t n_scans);

// What a scan costs beyond its weight (index look-up, decoder call), in bytes.
inline constexpr std::uint64_t kScanCost = 64;

// Splits scans 0..n-1 into `parts` contiguous, non-empty ranges of about equal cost,
// where weight(i) is scan i's bytes (or records) and `total` their sum (sums that do
// not fit in 64 bits stay at the largest value); every scan
// also costs a little on its own, so that ranges of empty scans are split too.
// parts <= n, or n == 0 and no ranges. One part needs no look at the weights; more
// parts one pass over them.
template <class Weight>
std::vector<ScanRange> split_scans(std::uint64_t n, std::size_t parts, std::uint64_t total, Weight&& weight) {
    std::vector<ScanRange> ranges;
    if (n == 0 || parts == 0) return ranges;
    ranges.reserve(parts);
    // In long double, so that no product overflows.
    const long double cost = static_cast<long double>(total) + static_cast<long double>(kScanCost * n);
    std::uint64_t before = 0;
    ScanRange current{0, 0, 0};
    for (std::uint64_t i = 0; i < n && ranges.size() + 1 < parts; ++i) {
        const std::size_t k = ranges.size() + 1; // the boundary looked for
        const long double target = cost * static_cast<long double>(k) / static_cast<long double>(parts);
        const long double reached =
            static_cast<long double>(before) + static_cast<long double>(kScanCost * i);
        // A boundary once the cost is reached, or where every later range keeps just one scan.
        if (i > current.first && (reached >= target || n - i == parts - k)) {
            current.last = i;
            ranges.push_back(current);
            current = {i, 0, before};
        }
        const std::uint64_t w = weight(i);
        before = w > std::numeric_limits<std::uint64_t>::max() - before
                     ? std::numeric_limits<std::uint64_t>::max()
                     : before + w;
    }
    current.last = n;
    ranges.push_back(current);
    return ranges;
}

// The same split at multiples of `block` scans, for a caller that summed the weights
// already: before_block[b] is the weight of the scans before scan b × block, for
// b = 0..ceil(n / block), the last entry the total. Every scan still costs kScanCost;
// `before` is exact. parts <= the number of blocks.
std::vector<ScanRange> split_blocks(std::uint64_t n, std::size_t parts, std::uint64_t block,
                                    std::span<const std::uint64_t> before_block);

// Runs work(0) on the calling thread and work(1..count-1) on threads of their own,
// and returns when all have finished. An exception thrown by any of them is rethrown
// afterwards (the lowest-numbered one's).
void run_workers(std::size_t count, const std::function<void(std::size_t)>& work);

// The lowest-numbered worker that failed. Workers cover ascending scan ranges and
// stop at their first failure, so that worker's failure is the first in scan
// order whatever the number of threads; the workers after it may stop early.
class FirstFailure {
  public:
    void record(std::size_t worker) {
        std::size_t current = lowest_.load(std::memory_order_relaxed);
        while (worker < current &&
               !lowest_.compare_exchange_weak(current, worker, std::memory_order_relaxed)) {
        }
    }
    bool before(std::size_t worker) const { return lowest_.load(std::memory_order_relaxed) < worker; }

  private:
    std::atomic<std::size_t> lowest_{std::numeric_limits<std::size_t>::max()};
};

} // namespace tarnvale::columns
