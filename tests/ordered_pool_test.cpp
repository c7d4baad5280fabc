// The ordered pool: jobs back in submission order whatever finishes first, a
// bound on jobs in flight, jobs (and what they hold) reused instead of made
// anew, failures surfacing in order.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <random>
#include <set>
#include <stdexcept>
#include <thread>

#include "container/ordered_pool.h"

namespace tavrine::container {
namespace {

// A job that counts how many were ever made, as the reader's and writer's
// jobs would allocate buffers.
struct Job {
    Job() { ++made; }
    int value = 0;
    static inline std::atomic<int> made{0};
};

// Feeds `count` jobs through the pool the way the reader and writer do;
// work(i) is the work of job i, which starts out holding i. Returns the
// values taken out, in order.
std::vector<int> runAll(OrderedPool<Job>& pool, int count,
                        const std::function<OrderedPool<Job>::Work(int)>& work) {
    std::vector<int> out;
    for (int i = 0; i < count; ++i) {
        if (pool.full()) out.push_back(pool.takeNext().value);
        pool.prepare().value = i;
        pool.submit(work(i));
        while (pool.nextReady()) out.push_back(pool.takeNext().value);
    }
    while (!pool.idle()) out.push_back(pool.takeNext().value);
    return out;
}

TEST(OrderedPool, JobsComeBackInSubmissionOrderWhateverFinishesFirst) {
    std::mt19937 rng(7);
    std::vector<int> delays(200);
    for (auto& d : delays) d = static_cast<int>(rng() % 300);
    for (const unsigned threads : {1u, 2u, 4u}) {
        OrderedPool<Job> pool(threads);
        const auto out = runAll(pool, 200, [&](int i) {
            return [delay = delays[static_cast<std::size_t>(i)]](Job& job) {
                std::this_thread::sleep_for(std::chrono::microseconds(delay));
                job.value *= 3;
            };
        });
        ASSERT_EQ(out.size(), 200u);
        for (int i = 0; i < 200; ++i) ASSERT_EQ(out[static_cast<std::size_t>(i)], 3 * i) << threads;
    }
}

// A lone job runs on the producer's thread when it is taken; from the second
// job in flight on, the pool's threads run them.
TEST(OrderedPool, ALoneJobRunsOnTheProducersThreadAndLaterOnesOnThePools) {
    OrderedPool<Job> pool(2);
    std::thread::id ranOn[3];
    const auto noteThread = [&ranOn](int i) {
        return [&ranOn, i](Job&) { ranOn[i] = std::this_thread::get_id(); };
    };
    pool.prepare();
    pool.submit(noteThread(0));
    EXPECT_FALSE(pool.nextReady());
    pool.takeNext();
    EXPECT_EQ(ranOn[0], std::this_thread::get_id());
    for (int i = 1; i < 3; ++i) {
        pool.prepare();
        pool.submit(noteThread(i));
    }
    pool.takeNext();
    pool.takeNext();
    EXPECT_NE(ranOn[1], std::this_thread::get_id());
    EXPECT_NE(ranOn[2], std::this_thread::get_id());
}

// A producer that knows more jobs follow starts the threads with the first.
TEST(OrderedPool, AFirstJobRunsOnThePoolOnceThreadsStartEarly) {
    OrderedPool<Job> pool(2);
    pool.startThreadsEarly();
    std::thread::id ranOn;
    pool.prepare();
    pool.submit([&ranOn](Job&) { ranOn = std::this_thread::get_id(); });
    pool.takeNext();
    EXPECT_NE(ranOn, std::this_thread::get_id());
}

TEST(OrderedPool, AtMostLimitPlusOneJobsAreEverMadeAndTheyAreReused) {
    for (const unsigned threads : {1u, 3u}) {
        Job::made = 0;
        OrderedPool<Job> pool(threads);
        EXPECT_EQ(pool.limit(), threads == 1 ? 1u : threads + 1);
        std::set<const Job*> seen;
        const auto out = runAll(pool, 100, [&seen](int) {
            return [&seen](Job& job) {
                static std::mutex guard;
                const std::lock_guard lock(guard);
                seen.insert(&job);
            };
        });
        EXPECT_EQ(out.size(), 100u);
        EXPECT_LE(static_cast<std::size_t>(Job::made.load()), pool.limit() + 1) << threads;
        EXPECT_EQ(seen.size(), static_cast<std::size_t>(Job::made.load())) << threads;
    }
}

TEST(OrderedPool, SpareJobsAreTheTakenAndUnpreparedOnesNeverThoseInFlight) {
    OrderedPool<Job> pool(2);
    pool.prepare().value = 1;
    pool.prepare().value = 2;
    pool.prepare().value = 3;
    EXPECT_TRUE(pool.full());
    pool.unprepare();  // the one holding 3
    pool.submit([](Job& job) { job.value += 10; });
    pool.submit([](Job& job) { job.value += 10; });
    const auto spares = [&pool] {
        std::multiset<int> values;
        pool.forEachSpareJob([&values](Job& job) { values.insert(job.value); });
        return values;
    };
    EXPECT_EQ(spares(), std::multiset<int>{3});
    EXPECT_EQ(pool.takeNext().value, 11);
    EXPECT_EQ(spares(), (std::multiset<int>{3, 11}));
    Job& reused = pool.prepare();  // a spare, with what it held
    EXPECT_TRUE(reused.value == 3 || reused.value == 11);
    EXPECT_EQ(pool.takeNext().value, 12);
}

TEST(OrderedPool, AFailureSurfacesAtItsTurnAfterTheJobsBeforeIt) {
    for (const unsigned threads : {1u, 3u}) {
        OrderedPool<Job> pool(threads);
        bool failed = false;
        try {
            runAll(pool, 20, [](int i) {
                return [i](Job&) {
                    if (i == 5 || i == 9) throw std::runtime_error("job " + std::to_string(i));
                };
            });
        } catch (const std::runtime_error& error) {
            failed = true;
            EXPECT_STREQ(error.what(), "job 5");
        }
        EXPECT_TRUE(failed);
    }
}

TEST(OrderedPool, DestroyingItWithWorkPendingDropsTheRest) {
    std::atomic<int> ran{0};
    {
        OrderedPool<Job> pool(2);
        while (!pool.full()) {
            pool.prepare();
            pool.submit([&ran](Job&) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                ++ran;
            });
        }
    }
    EXPECT_LE(ran.load(), 3);
}

}  // namespace
}  // namespace tavrine::container
