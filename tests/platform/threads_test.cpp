// Tests of the worker pool: every item once, worker indices in range, any thread count.
#include "platform/threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

namespace {

struct ThreadCountGuard {
    ~ThreadCountGuard() { set_thread_count(0); }
};

TEST(ParallelFor, CoversEveryItemOnceWithWorkersInRangeForAnyThreadCount) {
    ThreadCountGuard guard;
    for (int threads : {1, 2, 3, 7}) {
        set_thread_count(threads);
        for (int count : {0, 1, 5, 1000, 4099}) {
            for (int grain : {1, 7, 64, 10000}) {
                std::vector<std::atomic<int>> seen(count);
                std::atomic<bool> bad_range{false}, bad_worker{false};
                parallel_for(count, grain, [&](int begin, int end, int worker) {
                    if (begin < 0 || end > count || end - begin > grain || begin >= end)
                        bad_range = true;
                    if (worker < 0 || worker >= threads) bad_worker = true;
                    for (int i = begin; i < end; ++i) ++seen[i];
                });
                EXPECT_FALSE(bad_range) << threads << " threads, " << count << " items";
                EXPECT_FALSE(bad_worker) << threads << " threads, " << count << " items";
                for (int i = 0; i < count; ++i) ASSERT_EQ(seen[i], 1) << i;
            }
        }
    }
}

TEST(ParallelFor, ThreadCountChangesBetweenRunsLoseNoWorkAndNeverHang) {
    // A pool made anew must not take the run before it for new: that worker would count
    // itself done twice, and a run could end early or wait forever.
    ThreadCountGuard guard;
    for (int round = 0; round < 3000; ++round) {
        set_thread_count(2 + round % 3 * 2);
        std::atomic<int> items{0};
        parallel_for(64, 1, [&](int begin, int end, int) { items += end - begin; });
        ASSERT_EQ(items, 64) << "round " << round;
    }
}

TEST(ParallelFor, UsesMoreThanOneThreadWhenAsked) {
    ThreadCountGuard guard;
    set_thread_count(4);
    std::vector<std::atomic<int>> by_worker(4);
    // Slow chunks, so that workers that wake late still find some left.
    parallel_for(400, 1, [&](int, int, int worker) {
        volatile double x = 0;
        for (int k = 0; k < 20000; ++k) x = x + k;
        ++by_worker[worker];
    });
    int used = 0;
    for (auto& n : by_worker) used += n > 0;
    EXPECT_GE(used, 2);
    EXPECT_EQ(thread_count(), 4);
}

}  // namespace
