// A group of worker threads, created once and reused. Run hands out items 0 .. count-1
// in increasing order to whichever thread is free, the caller included, and returns when
// every item is done; an item may therefore wait for an item of lower index to make
// progress. With one thread, or where threads cannot be created, the items run in the
// caller in order.
//
// Between runs the helpers first spin for a short while and only then sleep: a picture
// starts several runs in a row with little work between them, and waking a sleeping
// thread costs more than those gaps.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "common/threads.h"

namespace ombrisk {

// Waits until `counter` holds at least `target`; the acquire load makes what another
// thread wrote before raising it visible here. Spins for a few microseconds, then sleeps
// until the writer's notify (the writer calls RaiseCount, or notify_all after its store).
void AwaitCount(const std::atomic<int>& counter, int target);
// Stores `value` into `counter` with release order and wakes the threads that sleep in
// AwaitCount on it.
void RaiseCount(std::atomic<int>& counter, int value);

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
    // Helper `index` (0-based) serves every run that wakes more than `index` helpers.
    void Loop(int index);
    // Runs items until none is left to claim.
    void Claim();

    std::vector<std::unique_ptr<common::Thread>> workers_;
    // Written by the caller before it raises `run_`, read by the helpers it wakes after
    // they see the new value.
    const std::function<void(int)>* work_ = nullptr;
    int count_ = 0;
    // Set by the destructor before its last raise of `run_`.
    std::atomic<bool> quit_{false};
    // Each run raises the upper bits by one; the low byte holds how many helpers it
    // wakes (at most 62), so a helper learns with one load whether the run is its own.
    std::atomic<uint32_t> run_{0};
    static constexpr uint32_t kRunStep = 256;
    // The next item to claim, and the helpers of this run still at work: the caller
    // returns once it is 0.
    std::atomic<int> next_{0};
    std::atomic<int> busy_{0};
};

}  // namespace ombrisk
