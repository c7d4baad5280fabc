// The ordered pool: results in submission order whatever finishes first, a
// bound on tasks in flight, failures surfacing in order.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <stdexcept>
#include <thread>

#include "container/ordered_pool.h"

namespace tavrine::container {
namespace {

// Feeds `count` tasks through the pool the way the reader and writer do and
// returns what came out, in order.
template <typename Make>
std::vector<int> runAll(OrderedPool<int>& pool, int count, Make make) {
    std::vector<int> out;
    for (int i = 0; i < count; ++i) {
        if (pool.full()) out.push_back(pool.takeNext());
        pool.submit(make(i));
        while (pool.nextReady()) out.push_back(pool.takeNext());
    }
    while (!pool.idle()) out.push_back(pool.takeNext());
    return out;
}

TEST(OrderedPool, ResultsComeInSubmissionOrderWhateverFinishesFirst) {
    std::mt19937 rng(7);
    std::vector<int> delays(200);
    for (auto& d : delays) d = static_cast<int>(rng() % 300);
    for (const unsigned threads : {1u, 2u, 4u}) {
        OrderedPool<int> pool(threads);
        const auto out = runAll(pool, 200, [&](int i) {
            return [i, delay = delays[static_cast<std::size_t>(i)]] {
                std::this_thread::sleep_for(std::chrono::microseconds(delay));
                return i;
            };
        });
        ASSERT_EQ(out.size(), 200u);
        for (int i = 0; i < 200; ++i) ASSERT_EQ(out[static_cast<std::size_t>(i)], i) << threads;
    }
}

// Counts live task objects: a task holds its input until it has run.
struct LiveCounter {
    explicit LiveCounter(std::atomic<int>& live) : live_(live) { ++live_; }
    LiveCounter(const LiveCounter&) = delete;
    LiveCounter& operator=(const LiveCounter&) = delete;
    ~LiveCounter() { --live_; }
    std::atomic<int>& live_;
};

TEST(OrderedPool, TasksInFlightStayWithinTheLimitAndInputsGoOnceRun) {
    for (const unsigned threads : {1u, 3u}) {
        OrderedPool<int> pool(threads);
        EXPECT_EQ(pool.limit(), threads == 1 ? 1u : threads + 1);
        std::atomic<int> live{0};
        int peak = 0;
        const auto out = runAll(pool, 100, [&](int i) {
            auto input = std::make_shared<LiveCounter>(live);
            peak = std::max(peak, live.load());
            return [input = std::move(input), i] { return i; };
        });
        EXPECT_EQ(out.size(), 100u);
        EXPECT_LE(static_cast<std::size_t>(peak), pool.limit()) << threads;
        EXPECT_EQ(live.load(), 0);
    }
}

TEST(OrderedPool, AFailureSurfacesAtItsTurnAfterTheResultsBeforeIt) {
    for (const unsigned threads : {1u, 3u}) {
        OrderedPool<int> pool(threads);
        std::vector<int> out;
        bool failed = false;
        try {
            out = runAll(pool, 20, [](int i) {
                return [i]() -> int {
                    if (i == 5 || i == 9) throw std::runtime_error("task " + std::to_string(i));
                    return i;
                };
            });
        } catch (const std::runtime_error& error) {
            failed = true;
            EXPECT_STREQ(error.what(), "task 5");
        }
        EXPECT_TRUE(failed);
    }
}

TEST(OrderedPool, DestroyingItWithWorkPendingDropsTheRest) {
    std::atomic<int> ran{0};
    {
        OrderedPool<int> pool(2);
        while (!pool.full()) {
            pool.submit([&ran] {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                return ++ran;
            });
        }
    }
    EXPECT_LE(ran.load(), 3);
}

}  // namespace
}  // namespace tavrine::container
