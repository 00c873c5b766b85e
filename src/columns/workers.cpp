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
