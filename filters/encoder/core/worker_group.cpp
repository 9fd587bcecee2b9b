#include "filters/encoder/core/worker_group.h"

#include <algorithm>
#include <chrono>
#include <thread>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace ombrisk {
namespace {

// How long a thread polls before it sleeps: the gaps between a picture's runs and
// between the macroblocks a wavefront waits for are shorter than this, a slice or a
// picture read from the source is longer.
constexpr std::chrono::microseconds kSpinTime{50};

// Polls until `done()` holds or kSpinTime has passed; true when it holds. The first polls
// only pause; later ones give the processor up, so that on a busy machine the thread
// being waited for can run. The clock is read once every 16 polls.
template <class Done>
bool SpinUntil(const Done& done) {
    const auto until = std::chrono::steady_clock::now() + kSpinTime;
    for (int polls = 1;; ++polls) {
        if (done()) return true;
        if (polls < 32) {
#if defined(__x86_64__) || defined(__i386__)
            _mm_pause();
#endif
        } else {
            std::this_thread::yield();
        }
        if (polls % 16 == 0 && std::chrono::steady_clock::now() >= until) return done();
    }
}

// Waits until `ok(value)` holds for the value of `a` (acquire loads): spins first, then
// sleeps until a notify of `a` after each value that does not satisfy it.
template <class T, class Ok>
T Await(const std::atomic<T>& a, const Ok& ok) {
    T v;
    if (SpinUntil([&] { return ok(v = a.load(std::memory_order_acquire)); })) return v;
    for (v = a.load(std::memory_order_acquire); !ok(v); v = a.load(std::memory_order_acquire))
        a.wait(v, std::memory_order_acquire);
    return v;
}

}  // namespace

void AwaitCount(const std::atomic<int>& counter, int target) {
    Await(counter, [target](int v) { return v >= target; });
}

void RaiseCount(std::atomic<int>& counter, int value) {
    counter.store(value, std::memory_order_release);
    counter.notify_all();
}

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
        workers_.push_back(std::make_unique<common::Thread>());
        if (!workers_.back()->Start([this, i] { Loop(i); })) {
            // No thread: the threads that started (and the caller) take every item.
            workers_.pop_back();
            break;
        }
    }
}

CWorkerGroup::~CWorkerGroup() {
    quit_.store(true, std::memory_order_relaxed);
    // Every helper sees a new run (the count of woken helpers is irrelevant to quit).
    run_.fetch_add(kRunStep, std::memory_order_release);
    run_.notify_all();
    for (auto& w : workers_)
        w->Join();
}

void CWorkerGroup::Claim() {
    for (int i = next_.fetch_add(1, std::memory_order_relaxed); i < count_;
         i = next_.fetch_add(1, std::memory_order_relaxed))
        (*work_)(i);
}

void CWorkerGroup::Loop(int index) {
    // No run can have started before the helpers were made: every run is new to it.
    uint32_t seen = 0;
    for (;;) {
        const uint32_t now = Await(run_, [seen](uint32_t v) { return v != seen; });
        seen = now;
        if (quit_.load(std::memory_order_relaxed)) return;
        // A run that wakes fewer helpers leaves this one out; the caller does not wait
        // for it, so it touches nothing of that run.
        if (int(now % kRunStep) <= index) continue;
        Claim();
        // The release half publishes this helper's items to the caller.
        if (busy_.fetch_sub(1, std::memory_order_acq_rel) == 1) busy_.notify_one();
    }
}

void CWorkerGroup::Run(int count, const std::function<void(int)>& work) {
    // Only as many helpers take part as there are items beside the caller's first.
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
    const uint32_t last = run_.load(std::memory_order_relaxed);
    run_.store((last / kRunStep + 1) * kRunStep + uint32_t(helpers), std::memory_order_release);
    run_.notify_all();
    Claim();
    Await(busy_, [](int v) { return v == 0; });
    work_ = nullptr;
}

}  // namespace ombrisk
