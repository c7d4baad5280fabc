// Runs jobs on worker threads and hands them back in the order they were
// submitted. A job is an object the caller fills (a segment's input and the
// buffers for its result), the work runs on it, and the caller takes it back
// to write its result out; the pool then reuses it, buffers and all, for a
// later job, so that segments cost no fresh memory once the first ones have
// passed. At most `limit()` jobs are prepared or in flight (submitted and not
// yet taken), so at most limit() + 1 jobs ever exist. A job's exception is
// rethrown by takeNext() when its turn comes, so failures surface in input
// order whatever the number of threads. With one thread the work runs inline
// in submit(), and no thread is started. With more, the threads start only
// once a second job is in flight, or when the producer says more will come
// (startThreadsEarly): a lone job (an input of one segment) runs on the
// producer's thread in takeNext(), rather than wait the milliseconds a new
// thread can take to first run on a processor that was idle. When the
// threads cannot start, the producer runs the work in takeNext() as well.
//
// One producer thread calls everything but the work; the pool's own threads
// run the work, each on a job that nothing else touches meanwhile.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace tavrine::container {

template <typename Job>
class OrderedPool {
public:
    using Work = std::function<void(Job&)>;

    explicit OrderedPool(unsigned threads)
        : limit_(threads <= 1 ? 1 : std::size_t{threads} + 1), threads_(threads <= 1 ? 1 : threads) {}

    OrderedPool(const OrderedPool&) = delete;
    OrderedPool& operator=(const OrderedPool&) = delete;

    // Work not yet started is dropped; running work finishes before the
    // threads join.
    ~OrderedPool() {
        {
            const std::lock_guard lock(mutex_);
            queue_.clear();
            stopping_ = true;
        }
        workAvailable_.notify_all();
    }

    std::size_t limit() const noexcept { return limit_; }
    bool full() const noexcept { return inFlight_.size() + prepared_.size() >= limit_; }
    // No submitted job waits to be taken.
    bool idle() const noexcept { return inFlight_.empty(); }

    // A job to fill for the next submit(): one taken back earlier, with the
    // buffers it had, or a new one. Several may be prepared before they are
    // submitted, in order. Precondition: !full().
    Job& prepare() {
        recycleTaken();
        std::unique_ptr<Slot> slot;
        if (spare_.empty()) {
            slot = std::make_unique<Slot>();
        } else {
            slot = std::move(spare_.back());
            spare_.pop_back();
        }
        prepared_.push_back(std::move(slot));
        return prepared_.back()->job;
    }

    // The job prepared last goes back unsubmitted (say, the input had ended).
    void unprepare() noexcept {
        spare_.push_back(std::move(prepared_.back()));
        prepared_.pop_back();
    }

    // Runs `work` on the oldest prepared job.
    void submit(Work work) {
        std::unique_ptr<Slot> slot = std::move(prepared_.front());
        prepared_.pop_front();
        slot->done = false;
        slot->error = nullptr;
        Slot& submitted = *slot;
        inFlight_.push_back(std::move(slot));
        if (threads_ == 1) {
            complete(submitted, work);
            return;
        }
        {
            const std::lock_guard lock(mutex_);
            queue_.emplace_back(&submitted, std::move(work));
        }
        if (inFlight_.size() >= 2) startThreads();
        workAvailable_.notify_one();
    }

    // Starts the threads now rather than once a second job is in flight: for
    // a producer that knows a job is not alone.
    void startThreadsEarly() {
        if (threads_ > 1) startThreads();
    }

    // Whether takeNext() would return without waiting.
    bool nextReady() {
        if (inFlight_.empty()) return false;
        const std::lock_guard lock(mutex_);
        return inFlight_.front()->done;
    }

    // The oldest submitted job, once its work is done, waiting for it if
    // needed; rethrows the exception the work ended with. The job is the
    // caller's until the next call of takeNext(), prepare() or
    // forEachSpareJob(), which may reuse it. Precondition: !idle().
    Job& takeNext() {
        recycleTaken();
        if (workers_.empty() && !inFlight_.front()->done) {
            // No thread runs: the oldest job is still first in the queue.
            std::pair<Slot*, Work> next = std::move(queue_.front());
            queue_.pop_front();
            complete(*next.first, next.second);
        }
        {
            std::unique_lock lock(mutex_);
            resultReady_.wait(lock, [this] { return inFlight_.front()->done; });
        }
        taken_ = std::move(inFlight_.front());
        inFlight_.pop_front();
        if (taken_->error) std::rethrow_exception(taken_->error);
        return taken_->job;
    }

    // Calls visit(job) for every job that is neither prepared nor in flight,
    // the one takeNext() gave last included (say, to release its buffers
    // when memory runs short).
    template <typename Visit>
    void forEachSpareJob(Visit visit) {
        recycleTaken();
        for (auto& slot : spare_) visit(slot->job);
    }

private:
    struct Slot {
        Job job;
        std::exception_ptr error;
        bool done = false;  // under mutex_ once submitted to a worker
    };

    static void complete(Slot& slot, Work& work) noexcept {
        try {
            work(slot.job);
        } catch (...) {
            slot.error = std::current_exception();
        }
        slot.done = true;
    }

    // Once; a thread that cannot start leaves the work to those that did,
    // or to the producer when none did.
    void startThreads() {
        if (threadsStarted_) return;
        threadsStarted_ = true;
        try {
            workers_.reserve(threads_);
            for (unsigned i = 0; i < threads_; ++i) workers_.emplace_back([this] { runJobs(); });
        } catch (const std::system_error&) {
        } catch (const std::bad_alloc&) {
        }
    }

    void recycleTaken() {
        if (taken_) spare_.push_back(std::move(taken_));
    }

    void runJobs() {
        for (;;) {
            std::pair<Slot*, Work> next;
            {
                std::unique_lock lock(mutex_);
                workAvailable_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
                if (queue_.empty()) return;  // stopping: the destructor dropped what was pending
                next = std::move(queue_.front());
                queue_.pop_front();
            }
            Slot& slot = *next.first;
            std::exception_ptr error;
            try {
                next.second(slot.job);
            } catch (...) {
                error = std::current_exception();
            }
            next.second = nullptr;  // frees what the work holds before the job waits its turn
            {
                const std::lock_guard lock(mutex_);
                slot.error = std::move(error);
                slot.done = true;
            }
            resultReady_.notify_all();
        }
    }

    const std::size_t limit_;
    const unsigned threads_;       // 1: the work runs inline in submit()
    bool threadsStarted_ = false;  // the producer's
    // The producer's own: the deques and vector themselves; a slot's fields
    // are the worker's from submit() until done is set under mutex_.
    std::deque<std::unique_ptr<Slot>> prepared_;
    std::deque<std::unique_ptr<Slot>> inFlight_;
    std::vector<std::unique_ptr<Slot>> spare_;
    std::unique_ptr<Slot> taken_;
    std::mutex mutex_;
    // A flag under mutex_ rather than the threads' stop tokens: waiting on a
    // stop token takes condition_variable_any, which under MinGW's winpthreads
    // runtime was seen to lose the wake-up of a new pool's threads.
    bool stopping_ = false;
    std::condition_variable workAvailable_;
    std::condition_variable resultReady_;
    std::deque<std::pair<Slot*, Work>> queue_;
    std::vector<std::jthread> workers_;  // last: joined first, while the rest still exists
};

}  // namespace tavrine::container
