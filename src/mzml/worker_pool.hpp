// A fixed set of threads that share out the items of one job at a time; the
// calling thread works too. Which thread does an item never matters to the
// result: each item writes only its own output.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace tarnvale::mzml {

class WorkerPool {
  public:
    using Task = std::function<void(std::size_t item, unsigned worker)>;

    // `workers` counts the caller; threads the system refuses to start are done without.
    explicit WorkerPool(unsigned workers);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // Workers available to run(); worker numbers passed to a task are below this.
    unsigned size() const { return static_cast<unsigned>(threads_.size()) + 1; }

    // Calls task(item, worker) once for every item in [0, count); returns when all are done.
    void run(std::size_t count, const Task& task);

  private:
    void work(unsigned worker);
    void drain(unsigned worker);

    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    std::uint64_t generation_ = 0;
    unsigned busy_ = 0;
    bool stopping_ = false;
    const Task* task_ = nullptr;
    std::size_t count_ = 0;
    std::atomic<std::size_t> next_{0};
};

} // namespace tarnvale::mzml
