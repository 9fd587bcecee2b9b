#include "filters/encoder/core/worker_group.h"

#include <algorithm>

namespace ombrisk {

int CWorkerGroup::ThreadsFor(int items, int processors) {
    constexpr int kMaxThreads = 63;
    processors = std::max(processors, 1);
    if (items <= 0) return 0;
    if (items <= processors) return std::min(items, kMaxThreads);
    int best = std::min(processors, kMaxThreads), bestRemainder = items % best;
    for (int t = best + 1; t <= kMaxThreads && t <= items; ++t)
        if (items % t < bestRemainder) best = t, bestRemainder = items % t;
    return best;
}

CWorkerGroup::CWorkerGroup(int threads) {
    const int helpers = std::min(threads, 63) - 1;
    if (helpers <= 0) return;
    workers_.reserve(size_t(helpers));
    for (int i = 0; i < helpers; ++i) {
        auto w = std::make_unique<Worker>();
        Worker* raw = w.get();
        workers_.push_back(std::move(w));
        if (!raw->thread.Start([this, raw] { Loop(raw); })) {
            // No thread: the threads that started (and the caller) take every item.
            workers_.pop_back();
            break;
        }
    }
}

CWorkerGroup::~CWorkerGroup() {
    quit_ = true;
    for (auto& w : workers_)
        w->go.Set();
    for (auto& w : workers_)
        w->thread.Join();
}

void CWorkerGroup::Claim() {
    for (int i = next_.fetch_add(1, std::memory_order_relaxed); i < count_;
         i = next_.fetch_add(1, std::memory_order_relaxed))
        (*work_)(i);
}

void CWorkerGroup::Loop(Worker* self) {
    for (;;) {
        self->go.Wait();
        if (quit_) return;
        Claim();
        // The release half publishes this helper's items to the helper that finishes
        // last, and through its Set to the caller.
        if (busy_.fetch_sub(1, std::memory_order_acq_rel) == 1) done_.Set();
    }
}

void CWorkerGroup::Run(int count, const std::function<void(int)>& work) {
    // Only as many helpers wake as there are items beside the caller's first.
    const int helpers = std::min(count - 1, int(workers_.size()));
    if (helpers <= 0) {
        for (int i = 0; i < count; ++i)
            work(i);
        return;
    }
    work_ = &work;
    count_ = count;
    next_.store(0, std::memory_order_relaxed);
    busy_.store(helpers, std::memory_order_relaxed);
    for (int i = 0; i < helpers; ++i)
        workers_[size_t(i)]->go.Set();
    Claim();
    done_.Wait();
    work_ = nullptr;
}

}  // namespace ombrisk
