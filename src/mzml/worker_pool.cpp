#include "mzml/worker_pool.hpp"

#include <system_error>

namespace tarnvale::mzml {

WorkerPool::WorkerPool(unsigned workers) {
    for (unsigned worker = 1; worker < workers; ++worker) {
        try {
            threads_.emplace_back([this, worker] { work(worker); });
        } catch (const std::system_error&) {
            break;
        }
    }
}

WorkerPool::~WorkerPool() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& thread : threads_) thread.join();
}

void WorkerPool::drain(unsigned worker) {
    for (std::size_t item; (item = next_.fetch_add(1, std::memory_order_relaxed)) < count_;)
        (*task_)(item, worker);
}

void WorkerPool::work(unsigned worker) {
    std::uint64_t seen = 0;
    for (;;) {
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [&] { return stopping_ || generation_ != seen; });
        if (stopping_) return;
        seen = generation_;
        lock.unlock();
        drain(worker);
        lock.lock();
        if (--busy_ == 0) done_.notify_one();
    }
}

void WorkerPool::run(std::size_t count, const Task& task) {
    if (threads_.empty() || count <= 1) {
        for (std::size_t item = 0; item < count; ++item) task(item, 0);
        return;
    }
    {
        const std::lock_guard lock(mutex_);
        task_ = &task;
        count_ = count;
        next_.store(0, std::memory_order_relaxed);
        busy_ = static_cast<unsigned>(threads_.size());
        ++generation_;
    }
    wake_.notify_all();
    drain(0);
    std::unique_lock lock(mutex_);
    done_.wait(lock, [&] { return busy_ == 0; });
}

} // namespace tarnvale::mzml
