// Worker threads that run one step on each block of a stream, each thread
// with a working state of its own (a block sorter, an inverse sort table),
// while the caller's thread takes the blocks back in the order it gave them.
// The caller's thread is one of the threads: rather than wait for a step, it
// runs the oldest one not yet started itself, so that n threads keep n cores
// busy, not n + 1 threads sharing them. The jobs live in a ring of fixed
// depth that the caller fills and empties, so memory stays at `depth` jobs
// and one state per thread whatever the stream's length, and nothing is
// allocated per block. Steps start in the order the jobs were given.
//
// One caller thread uses back(), submit(), frontReady(), front(), pop() and
// finishSteps(); a step touches a job only between its submit() and the
// moment the step is marked done, under the mutex that front() also takes.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/compiler.h"

namespace tavrine {

// A thread that finds nothing to do watches a counter (the steps submitted,
// those done, a turn passed) for a while before it sleeps: a sleeping thread
// costs the one that wakes it a system call, and on a virtual machine tens
// of microseconds more while its idle processor comes back. The watch lasts
// a fixed time, longer than the caller's thread takes to code a block (up to
// about 150 microseconds, on random data), so that a worker waiting for the
// next block keeps watching until it comes; it is timed by the clock, since
// a `pause` step lasts differently long on different processors.
namespace watching {

using Clock = std::chrono::steady_clock;
inline constexpr std::chrono::microseconds kWatchTime{200};
inline constexpr std::uint32_t kWatchesPerClockRead = 64;

// The end of a thread's watch, from the first time it is asked for.
class WatchDeadline {
public:
    Clock::time_point until() noexcept {
        if (!set_) until_ = Clock::now() + kWatchTime;
        set_ = true;
        return until_;
    }

private:
    Clock::time_point until_{};
    bool set_ = false;
};

// Whether `counter` moved from `seen` before `until`.
inline bool watchForChange(const std::atomic<std::uint64_t>& counter, std::uint64_t seen,
                           Clock::time_point until) noexcept {
    for (;;) {
        for (std::uint32_t i = 0; i < kWatchesPerClockRead; ++i) {
            if (counter.load(std::memory_order_relaxed) != seen) return true;
            platform::relaxWhileWaiting();
        }
        if (Clock::now() >= until) return false;
    }
}

}  // namespace watching

template <typename Job, typename State>
class BlockWorkers {
public:
    using Step = void (*)(State&, Job&);

    // Starts `workers` threads (at least 1) beside the caller's over a ring
    // of `depth` jobs (at least 1). Throws std::bad_alloc, or
    // std::system_error when a thread cannot be started; the threads already
    // running are then joined.
    BlockWorkers(unsigned workers, std::size_t depth, Step step)
        : step_(step), jobs_(depth), done_(depth, false), errors_(depth) {
        workers_.reserve(workers);
        for (unsigned i = 0; i < workers; ++i) {
            workers_.emplace_back([this] { run(); });
        }
    }

    BlockWorkers(const BlockWorkers&) = delete;
    BlockWorkers& operator=(const BlockWorkers&) = delete;

    // Steps not yet started are dropped; running ones finish before the
    // threads are joined.
    ~BlockWorkers() {
        {
            const std::lock_guard lock(mutex_);
            queued_ = 0;
            stopping_ = true;
            // Workers watching for a submit() stop watching.
            submitted_.store(submitted_.load(std::memory_order_relaxed) + 1,
                             std::memory_order_relaxed);
        }
        workAvailable_.notify_all();
    }

    bool empty() const noexcept { return inFlight_ == 0; }
    bool full() const noexcept { return inFlight_ == jobs_.size(); }
    std::size_t inFlight() const noexcept { return inFlight_; }

    // The free job that submit() hands over next. Precondition: !full().
    Job& back() noexcept { return jobs_[slot(head_ + inFlight_)]; }

    // Hands back() to the workers.
    void submit() {
        {
            const std::lock_guard lock(mutex_);
            done_[slot(head_ + inFlight_)] = false;
            ++queued_;
            submitted_.store(submitted_.load(std::memory_order_relaxed) + 1,
                             std::memory_order_relaxed);
        }
        ++inFlight_;
        workAvailable_.notify_one();
    }

    // Whether front() would return without waiting. Precondition: !empty().
    bool frontReady() {
        const std::lock_guard lock(mutex_);
        return done_[slot(head_)];
    }

    // The oldest job given, once its step is done; until then the caller's
    // thread runs the steps not yet started, oldest first. Rethrows what the
    // step threw. Precondition: !empty().
    Job& front() {
        const std::size_t at = slot(head_);
        waitForStep(at);
        if (errors_[at]) std::rethrow_exception(errors_[at]);
        return jobs_[at];
    }

    // Waits until every job given has had its step, as front() waits for
    // the oldest, and keeps what the steps threw with their jobs: after it no
    // step touches a job or what a job points to.
    void finishSteps() {
        for (std::size_t k = 0; k < inFlight_; ++k) waitForStep(slot(head_ + k));
    }

    // Jobs the ring holds at most.
    std::size_t depth() const noexcept { return jobs_.size(); }

    // Frees front()'s job for back(). Precondition: !empty() and its step done.
    void pop() noexcept {
        errors_[slot(head_)] = nullptr;
        head_ = slot(head_ + 1);
        --inFlight_;
    }

private:
    std::size_t slot(std::size_t index) const noexcept { return index % jobs_.size(); }

    // The oldest job not yet started: queued_ jobs wait behind the next one
    // to start, in ring order. Precondition: mutex_ held, queued_ != 0.
    std::size_t takeNextQueued() noexcept {
        const std::size_t at = nextToStart_;
        nextToStart_ = slot(nextToStart_ + 1);
        --queued_;
        return at;
    }

    // Returns once the step of the job at `at` is done; meanwhile the
    // caller's thread runs the steps not yet started, oldest first.
    void waitForStep(std::size_t at) {
        std::unique_lock lock(mutex_);
        watching::WatchDeadline deadline;
        while (!done_[at]) {
            if (queued_ == 0) {
                // As a worker does, it watches a while before it sleeps;
                // another job's step may end first.
                const std::uint64_t seen = completed_.load(std::memory_order_relaxed);
                lock.unlock();
                const bool changed = watching::watchForChange(completed_, seen, deadline.until());
                lock.lock();
                if (!changed && !done_[at] && queued_ == 0) stepDone_.wait(lock);
                continue;
            }
            const std::size_t next = takeNextQueued();
            lock.unlock();
            runStep(callerState_, next);
            lock.lock();
        }
    }

    void runStep(State& state, std::size_t at) {
        try {
            step_(state, jobs_[at]);
        } catch (...) {
            errors_[at] = std::current_exception();
        }
        {
            const std::lock_guard lock(mutex_);
            done_[at] = true;
            completed_.store(completed_.load(std::memory_order_relaxed) + 1,
                             std::memory_order_relaxed);
        }
        stepDone_.notify_one();
    }

    void run() {
        State state;
        for (;;) {
            std::size_t at = 0;
            {
                std::unique_lock lock(mutex_);
                watching::WatchDeadline deadline;
                // The caller's thread may take a job it has just submitted
                // (front() runs steps not yet started) before this one gets
                // the lock: then this one watches on, up to the deadline.
                while (queued_ == 0 && !stopping_) {
                    const std::uint64_t seen = submitted_.load(std::memory_order_relaxed);
                    lock.unlock();
                    const bool changed = watching::watchForChange(submitted_, seen, deadline.until());
                    lock.lock();
                    if (!changed) break;
                }
                workAvailable_.wait(lock, [this] { return stopping_ || queued_ != 0; });
                if (queued_ == 0) return;  // stopping: the destructor dropped what was queued
                at = takeNextQueued();
            }
            runStep(state, at);
        }
    }

    const Step step_;
    std::vector<Job> jobs_;
    std::vector<bool> done_;                   // under mutex_
    std::vector<std::exception_ptr> errors_;   // written by a step's thread before its done_ flag
    State callerState_;                        // the caller's, for the steps it runs itself
    std::size_t head_ = 0;                     // caller only: the oldest job in flight
    std::size_t inFlight_ = 0;                 // caller only: submitted and not popped
    std::size_t nextToStart_ = 0;              // under mutex_
    std::size_t queued_ = 0;                   // under mutex_: submitted and not started
    // Written under mutex_, read without it by threads watching for a change.
    std::atomic<std::uint64_t> submitted_{0};
    std::atomic<std::uint64_t> completed_{0};
    // Under mutex_, rather than the threads' stop tokens: waiting on a stop
    // token takes condition_variable_any, which under MinGW's winpthreads
    // runtime was seen to lose the wake-up of new threads (OrderedPool).
    bool stopping_ = false;
    std::mutex mutex_;
    std::condition_variable workAvailable_;
    std::condition_variable stepDone_;
    std::vector<std::jthread> workers_;  // last: joined first, while the rest still exists
};

}  // namespace tavrine
