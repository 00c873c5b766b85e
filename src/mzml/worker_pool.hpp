// A fixed set of threads that share out the items of one job at a time; the
// calling thread works too. Which thread does an item never matters to the
// result: each item writes only its own output, and the calling thread consumes
// the items strictly in order.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace tarnvale::mzml {

class WorkerPool {
  public:
    using Task = std::function<void(std::size_t item, unsigned worker)>;
    using Consume = std::function<void(std::size_t item)>;

    // `workers` counts the caller; threads the system refuses to start are done without.
    explicit WorkerPool(unsigned workers);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // Workers available to run(); worker numbers passed to a task are below this.
    unsigned size() const { return static_cast<unsigned>(threads_.size()) + 1; }

    // Calls task(item, worker) once for every item in [0, count), on any worker,
    // and consume(item) on the calling thread for every item in ascending order as
    // soon as its task is done. While the next item is not done, the calling thread
    // takes on tasks itself, so consuming overlaps with the other items' tasks.
    void run(std::size_t count, const Task& task, const Consume& consume);

  private:
    void work(unsigned worker);
    void drain(unsigned worker);
    void prepare_flags(std::size_t count);

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
    std::unique_ptr<std::atomic<bool>[]> finished_; // per item of the current job
    std::size_t finished_capacity_ = 0;
};

} // namespace tarnvale::mzml
