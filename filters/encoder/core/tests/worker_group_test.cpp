// The worker group: how many threads serve a number of slices, and that every item runs
// exactly once per Run, threads or not.
#include "filters/encoder/core/worker_group.h"

#include <algorithm>
#include <atomic>
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

// A wavefront over a grid, as the loop filter runs one: cell (x, y) reads the finished
// cells (x - 1, y) and (x + 1, y - 1). Every thread count gives the raster-order values.
TEST(WorkerGroup, WavefrontGivesTheRasterOrderResult) {
    constexpr int kCols = 13, kRows = 21;
    const auto cell = [](std::vector<int>& g, int x, int y) {
        const int left = x > 0 ? g[size_t(y * kCols + x - 1)] : 1;
        const int upRight = y > 0 ? g[size_t((y - 1) * kCols + std::min(x + 1, kCols - 1))] : 2;
        g[size_t(y * kCols + x)] = (left * 31 + upRight * 17 + x) % 10007;
    };
    std::vector<int> want(kCols * kRows);
    for (int y = 0; y < kRows; ++y)
        for (int x = 0; x < kCols; ++x)
            cell(want, x, y);
    for (int threads : {0, 2, 3, 8}) {
        CWorkerGroup group(threads);
        CProgress progress(kRows);
        for (int round = 0; round < 3; ++round) {
            std::vector<int> got(kCols * kRows, 0);
            progress.Reset();
            group.Run(kRows, [&](int y) {
                for (int x = 0; x < kCols; ++x) {
                    if (y > 0) progress.WaitFor(y - 1, std::min(x + 2, kCols));
                    cell(got, x, y);
                    progress.Publish(y, x + 1);
                }
            });
            EXPECT_EQ(got, want) << threads << " threads";
        }
    }
}

}  // namespace
}  // namespace ombrisk
