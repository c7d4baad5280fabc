// Runs tasks on worker threads and hands their results back in the order the
// tasks were submitted. At most `limit()` tasks are in flight (submitted and
// not yet taken), which bounds the memory their inputs and results hold. A
// task's exception is rethrown by takeNext() when its turn comes, so failures
// surface in input order whatever the number of threads. With one thread the
// tasks run inline in submit(), and no thread is started.
//
// One producer thread calls submit(), full(), idle(), nextReady() and
// takeNext(); the pool's own threads run the tasks.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace tavrine::container {

template <typename Result>
class OrderedPool {
public:
    using Task = std::function<Result()>;

    explicit OrderedPool(unsigned threads)
        : limit_(threads <= 1 ? 1 : std::size_t{threads} + 1) {
        if (threads <= 1) return;
        workers_.reserve(threads);
        for (unsigned i = 0; i < threads; ++i) {
            workers_.emplace_back([this] { runTasks(); });
        }
    }

    OrderedPool(const OrderedPool&) = delete;
    OrderedPool& operator=(const OrderedPool&) = delete;

    // Pending tasks are dropped; running ones finish before the threads join.
    ~OrderedPool() {
        {
            const std::lock_guard lock(mutex_);
            queue_.clear();
            stopping_ = true;
        }
        workAvailable_.notify_all();
    }

    std::size_t limit() const noexcept { return limit_; }
    bool full() const noexcept { return submitted_ - taken_ >= limit_; }
    bool idle() const noexcept { return submitted_ == taken_; }

    // Precondition: !full().
    void submit(Task task) {
        const std::uint64_t sequence = submitted_;
        if (workers_.empty()) {
            slots_.emplace_back();
            ++submitted_;
            complete(slots_.back(), task);
            return;
        }
        {
            const std::lock_guard lock(mutex_);
            slots_.emplace_back();
            queue_.emplace_back(sequence, std::move(task));
            ++submitted_;
        }
        workAvailable_.notify_one();
    }

    // Whether takeNext() would return without waiting.
    bool nextReady() {
        const std::lock_guard lock(mutex_);
        return !slots_.empty() && slots_.front().done;
    }

    // The result of the oldest task not yet taken, waiting for it if needed;
    // rethrows the exception the task ended with. Precondition: !idle().
    Result takeNext() {
        Slot slot;
        {
            std::unique_lock lock(mutex_);
            resultReady_.wait(lock, [this] { return slots_.front().done; });
            slot = std::move(slots_.front());
            slots_.pop_front();
            ++taken_;
        }
        if (slot.error) std::rethrow_exception(slot.error);
        return std::move(*slot.result);
    }

private:
    struct Slot {
        std::optional<Result> result;
        std::exception_ptr error;
        bool done = false;
    };

    static void complete(Slot& slot, Task& task) {
        try {
            slot.result.emplace(task());
        } catch (...) {
            slot.error = std::current_exception();
        }
        slot.done = true;
    }

    void runTasks() {
        for (;;) {
            std::pair<std::uint64_t, Task> job;
            {
                std::unique_lock lock(mutex_);
                workAvailable_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
                if (queue_.empty()) return;  // stopping: the destructor dropped what was pending
                job = std::move(queue_.front());
                queue_.pop_front();
            }
            Slot finished;
            complete(finished, job.second);
            job.second = nullptr;  // frees the task's input before the result waits its turn
            {
                const std::lock_guard lock(mutex_);
                // At most limit() tasks are in flight, so the index fits any size_t.
                slots_[static_cast<std::size_t>(job.first - taken_)] = std::move(finished);
            }
            resultReady_.notify_all();
        }
    }

    const std::size_t limit_;
    std::uint64_t submitted_ = 0;  // producer thread only
    std::uint64_t taken_ = 0;      // written by the producer under mutex_
    std::mutex mutex_;
    // A flag under mutex_ rather than the threads' stop tokens: waiting on a
    // stop token takes condition_variable_any, which under MinGW's winpthreads
    // runtime was seen to lose the wake-up of a new pool's threads.
    bool stopping_ = false;
    std::condition_variable workAvailable_;
    std::condition_variable resultReady_;
    std::deque<std::pair<std::uint64_t, Task>> queue_;
    std::deque<Slot> slots_;  // slots_[i] belongs to task number taken_ + i
    std::vector<std::jthread> workers_;  // last: joined first, while the rest still exists
};

}  // namespace tavrine::container
