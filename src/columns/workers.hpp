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

// Scans [first, last) of one function.
struct ScanRange {
    std::uint64_t first = 0;
    std::uint64_t last = 0;
};

// How many workers share `n_scans` scans when `threads` are asked for: never more
// than the scans, and never an unbounded number.
std::size_t worker_count(unsigned threads, std::uint64_t n_scans);

// Splits scans 0..n (n = prefix.size() - 1) into `parts` contiguous, non-empty
// ranges of about equal cost, where prefix[i] is the bytes (or points) of the scans
// before scan i; every scan also costs a little on its own, so that ranges of empty
// scans are split too. parts <= n, or n == 0 and no ranges.
std::vector<ScanRange> split_scans(std::span<const std::uint64_t> prefix, std::size_t parts);

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
