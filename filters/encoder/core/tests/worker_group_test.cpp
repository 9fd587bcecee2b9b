// The worker group: how many threads serve a number of slices, that every item runs
// exactly once per Run, threads or not, and that items are handed out in order, so that
// an item may wait for the one before it (as the rows of the loop filter do).
#include "filters/encoder/core/worker_group.h"

#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace ombrisk {
namespace {

TEST(WorkerGroup, ThreadCount) {
    struct Case {
        int items, processors, threads;
    } cases[] = {
        {1, 8, 1}, {4, 8, 4},    {8, 8, 8},     {8, 1, 1},    // one processor: every slice in the caller
        {9, 4, 9}, {100, 8, 10},                              // 100 = 10 x 10: the first count from 8 with no remainder
        {0, 4, 0}, {200, 2, 2},  {127, 64, 63}, {127, 2, 2},  // 127 is prime: 2 leaves 1, as any count
    };
    for (const Case& c : cases)
        EXPECT_EQ(CWorkerGroup::ThreadsFor(c.items, c.processors), c.threads) << c.items << " on " << c.processors;
}

TEST(WorkerGroup, EveryItemRunsOnce) {
    for (int threads : {0, 1, 3, 8, 63}) {
        CWorkerGroup group(threads);
        EXPECT_EQ(group.threads(), threads > 1 ? threads : 0);
        for (int count : {1, 5, 8, 70}) {
            std::vector<std::atomic<int>> runs(static_cast<size_t>(count));
            for (int round = 0; round < 3; ++round)
                group.Run(count, [&](int i) { ++runs[size_t(i)]; });
            for (int i = 0; i < count; ++i)
                EXPECT_EQ(runs[size_t(i)].load(), 3) << threads << " threads, item " << i << " of " << count;
        }
    }
}

TEST(WorkerGroup, ItemsMayWaitForEarlierOnes) {
    for (int threads : {0, 2, 3, 8}) {
        CWorkerGroup group(threads);
        for (int count : {1, 3, 40}) {
            // Item i waits until item i - 1 has finished: a chain that completes only when
            // no item is claimed before the ones ahead of it are in hand.
            std::vector<std::atomic<int>> finished(static_cast<size_t>(count));
            std::vector<std::thread::id> ran(static_cast<size_t>(count));
            group.Run(count, [&](int i) {
                if (i > 0)
                    while (finished[size_t(i - 1)].load(std::memory_order_acquire) == 0)
                        std::this_thread::yield();
                ran[size_t(i)] = std::this_thread::get_id();
                finished[size_t(i)].store(1, std::memory_order_release);
            });
            std::set<std::thread::id> used(ran.begin(), ran.end());
            for (int i = 0; i < count; ++i)
                EXPECT_EQ(finished[size_t(i)].load(), 1) << threads << " threads, item " << i << " of " << count;
            // The caller takes items too; with one item nothing else wakes.
            if (count == 1 || threads <= 1) {
                EXPECT_EQ(used, std::set<std::thread::id>{std::this_thread::get_id()});
            }
        }
    }
}

}  // namespace
}  // namespace ombrisk
