// A group of worker threads, created once and reused: Run hands items 0 .. count-1 to the
// threads (thread t takes t, t + T, t + 2T, ...) and returns when every item is done.
// With one thread, or where threads cannot be created, the items run in the caller.
#pragma once

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

    explicit CWorkerGroup(int threads);
    ~CWorkerGroup();
    CWorkerGroup(const CWorkerGroup&) = delete;
    CWorkerGroup& operator=(const CWorkerGroup&) = delete;

    // The threads actually running (0 when every item runs in the caller).
    int threads() const { return int(workers_.size()); }
    void Run(int count, const std::function<void(int)>& work);

private:
    struct Worker {
        common::Thread thread;
        common::Event go{common::Event::Mode::AutoReset};
        common::Event done{common::Event::Mode::AutoReset};
    };
    void Loop(Worker* self, int index);

    std::vector<std::unique_ptr<Worker>> workers_;
    // Written by the caller before the go events, read by the workers after them.
    const std::function<void(int)>* work_ = nullptr;
    int count_ = 0;
    bool quit_ = false;
};

}  // namespace ombrisk
