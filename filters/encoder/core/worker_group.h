// A group of worker threads, created once and reused. Run hands out items 0 .. count-1
// in increasing order to whichever thread is free, the caller included, and returns when
// every item is done; an item may therefore wait for an item of lower index to make
// progress. With one thread, or where threads cannot be created, the items run in the
// caller in order.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

#include "common/threads.h"

namespace ombrisk {

class CWorkerGroup {
public:
    // Threads for `items` items on a machine with `processors` processors: all of them
    // when they fit, else the count from the processors to 63 that divides the items most
    // evenly (the first such count). Never more than 63.
    static int ThreadsFor(int items, int processors);

    // `threads` threads run the items: the caller of Run and threads - 1 helpers.
    explicit CWorkerGroup(int threads);
    ~CWorkerGroup();
    CWorkerGroup(const CWorkerGroup&) = delete;
    CWorkerGroup& operator=(const CWorkerGroup&) = delete;

    // The threads that run items, the caller included (0 when every item runs in the
    // caller alone).
    int threads() const { return workers_.empty() ? 0 : int(workers_.size()) + 1; }
    void Run(int count, const std::function<void(int)>& work);

private:
    struct Worker {
        common::Thread thread;
        common::Event go{common::Event::Mode::AutoReset};
    };
    void Loop(Worker* self);
    // Runs items until none is left to claim.
    void Claim();

    std::vector<std::unique_ptr<Worker>> workers_;
    // Written by the caller before the go events, read by the helpers after them.
    const std::function<void(int)>* work_ = nullptr;
    int count_ = 0;
    bool quit_ = false;
    // The next item to claim, and the helpers of this Run still at work: the last one
    // to finish sets `done_`.
    std::atomic<int> next_{0};
    std::atomic<int> busy_{0};
    common::Event done_{common::Event::Mode::AutoReset};
};

}  // namespace ombrisk
