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
    if (threads <= 1) return;
    workers_.reserve(size_t(std::min(threads, 63)));
    for (int i = 0; i < std::min(threads, 63); ++i) {
        auto w = std::make_unique<Worker>();
        Worker* raw = w.get();
        workers_.push_back(std::move(w));
        if (!raw->thread.Start([this, raw, i] { Loop(raw, i); })) {
            // No thread: the caller runs the items of the threads that did not start.
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

void CWorkerGroup::Loop(Worker* self, int index) {
    for (;;) {
        self->go.Wait();
        if (quit_) return;
        // The group's size is final before the first go.
        const int stride = int(workers_.size());
        for (int i = index; i < count_; i += stride)
            (*work_)(i);
        self->done.Set();
    }
}

void CWorkerGroup::Run(int count, const std::function<void(int)>& work) {
    if (workers_.empty()) {
        for (int i = 0; i < count; ++i)
            work(i);
        return;
    }
    work_ = &work;
    count_ = count;
    for (auto& w : workers_)
        w->go.Set();
    for (auto& w : workers_)
        w->done.Wait();
    work_ = nullptr;
}

}  // namespace ombrisk
