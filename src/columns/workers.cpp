#include "columns/workers.hpp"

#include <algorithm>
#include <exception>
#include <thread>

namespace tarnvale::columns {

namespace {

// A worker per core is plenty; this only keeps a careless request from starting
// thousands of threads.
constexpr unsigned kMaxWorkers = 256;

} // namespace

std::size_t worker_count(unsigned threads, std::uint64_t n_scans) {
    const std::uint64_t wanted = std::clamp(threads, 1u, kMaxWorkers);
    return static_cast<std::size_t>(std::min(wanted, n_scans));
}

std::vector<ScanRange> split_blocks(std::uint64_t n, std::size_t parts, std::uint64_t block,
                                    std::span<const std::uint64_t> before_block) {
    const std::uint64_t blocks = before_block.size() - 1;
    auto scans_in = [&](std::uint64_t b) { return std::min(block, n - b * block); };
    // A block's weight carries the cost of its scans but one, which split_scans adds.
    std::vector<ScanRange> ranges =
        split_scans(blocks, parts, before_block.back() + kScanCost * (n - blocks), [&](std::uint64_t b) {
            return before_block[b + 1] - before_block[b] + kScanCost * (scans_in(b) - 1);
        });
    for (ScanRange& range : ranges) {
        range.before = before_block[range.first];
        range.first *= block;
        range.last = std::min(range.last * block, n);
    }
    return ranges;
}

void run_workers(std::size_t count, const std::function<void(std::size_t)>& work) {
    std::vector<std::exception_ptr> failures(count);
    auto guarded = [&](std::size_t k) {
        try {
            work(k);
        } catch (...) {
            failures[k] = std::current_exception();
        }
    };
    {
        std::vector<std::jthread> threads;
        threads.reserve(count > 0 ? count - 1 : 0);
        for (std::size_t k = 1; k < count; ++k) threads.emplace_back(guarded, k);
        if (count > 0) guarded(0);
    } // the threads join here
    for (const std::exception_ptr& failure : failures)
        if (failure) std::rethrow_exception(failure);
}

} // namespace tarnvale::columns
