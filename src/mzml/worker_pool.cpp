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
    for (std::size_t item; (item = next_.fetch_add(1, std::memory_order_relaxed)) < count_;) {
        (*task_)(item, worker);
        finished_[item].store(true, std::memory_order_release);
        finished_[item].notify_one();
    }
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

void WorkerPool::prepare_flags(std::size_t count) {
    if (count > finished_capacity_) {
        finished_ = std::make_unique<std::atomic<bool>[]>(count);
        finished_capacity_ = count;
    }
    for (std::size_t item = 0; item < count; ++item) finished_[item].store(false, std::memory_order_relaxed);
}

void WorkerPool::run(std::size_t count, const Task& task, const Consume& consume) {
    if (threads_.empty() || count <= 1) {
        for (std::size_t item = 0; item < count; ++item) {
            task(item, 0);
            consume(item);
        }
        return;
    }
    prepare_flags(count);
    {
        const std::lock_guard lock(mutex_);
        task_ = &task;
        count_ = count;
        next_.store(0, std::memory_order_relaxed);
        busy_ = static_cast<unsigned>(threads_.size());
        ++generation_;
    }
    wake_.notify_all();
    for (std::size_t consumed = 0; consumed < count;) {
        if (finished_[consumed].load(std::memory_order_acquire)) {
            consume(consumed++);
        } else if (const std::size_t item = next_.fetch_add(1, std::memory_order_relaxed); item < count) {
            task(item, 0);
            finished_[item].store(true, std::memory_order_release);
        } else {
            finished_[consumed].wait(false,
                                     std::memory_order_acquire); // every item is taken: await the next one
        }
    }
    // The workers may still be leaving drain(); the job's state must outlive them.
    std::unique_lock lock(mutex_);
    done_.wait(lock, [&] { return busy_ == 0; });
}

} // namespace tarnvale::mzml
