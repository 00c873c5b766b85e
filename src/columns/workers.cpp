#include "columns/workers.hpp"

#include <algorithm>
#include <exception>
#include <thread>

namespace tarnvale::columns {

namespace {

// A worker per core is plenty; this only keeps a careless request from starting
// thousands of threads.
constexpr unsigned kMaxWorkers = 256;
// What a scan costs beyond its bytes (index look-up, decoder call), in bytes.
constexpr std::uint64_t kScanCost = 64;

} // namespace

std::size_t worker_count(unsigned threads, std::uint64_t n_scans) {
    const std::uint64_t wanted = std::clamp(threads, 1u, kMaxWorkers);
    return static_cast<std::size_t>(std::min(wanted, n_scans));
}

std::vector<ScanRange> split_scans(std::span<const std::uint64_t> prefix, std::size_t parts) {
    std::vector<ScanRange> ranges;
    if (prefix.size() < 2 || parts == 0) return ranges;
    const std::uint64_t n = prefix.size() - 1;
    // cost(i) = prefix[i] + kScanCost * i grows with i; in long double so that no product overflows.
    auto cost = [&](std::uint64_t i) {
        return static_cast<long double>(prefix[i]) +
               static_cast<long double>(kScanCost) * static_cast<long double>(i);
    };
    const long double total = cost(n);
    ranges.reserve(parts);
    std::uint64_t first = 0;
    for (std::size_t k = 1; k <= parts; ++k) {
        std::uint64_t last = n;
        if (k < parts) {
            const long double target = total * static_cast<long double>(k) / static_cast<long double>(parts);
            // The first boundary at or beyond the target, leaving a scan for each later range.
            std::uint64_t lo = first + 1;
            std::uint64_t hi = n - (parts - k);
            while (lo < hi) {
                const std::uint64_t mid = lo + (hi - lo) / 2;
                if (cost(mid) < target)
                    lo = mid + 1;
                else
                    hi = mid;
            }
            last = lo;
        }
        ranges.push_back({first, last});
        first = last;
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
