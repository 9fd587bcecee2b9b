#include "app/profiles/codec_thread.h"

#include <algorithm>
#include <chrono>

#ifdef _WIN32
#include <objbase.h>
#endif

namespace profiles {

CodecThread::~CodecThread() {
    if (thread_.joinable()) thread_.join();
    if (store_) store_->SetCodecThreadDone(nullptr);
}

void CodecThread::Start(CProfileManager& store, WMRuntime* wm) {
    if (thread_.joinable()) return;
    store.SetCodecThreadDone(&done_);
    store_ = &store;
    thread_ = std::thread([this, &store, wm] {
#ifdef _WIN32
        // Multithreaded: what the thread creates is used later from the user-interface
        // thread. COM is not uninitialised here: ending the apartment would unload the filter
        // libraries whose objects the codec list keeps.
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
#endif
        store.EnumerateCodecs(1);
        store.LoadStreamInfoProfiles(wm);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_.store(true, std::memory_order_release);
        }
        finished_.notify_all();
    });
}

bool CodecThread::Wait(uint32_t timeoutMs, const std::function<bool()>& pump) {
    if (!thread_.joinable()) return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            const auto now = std::chrono::steady_clock::now();
            if (Done() || now >= deadline) return Done();
            finished_.wait_until(lock, std::min(deadline, now + std::chrono::milliseconds(kPumpIntervalMs)),
                                 [this] { return Done(); });
            if (Done()) return true;
        }
        if (pump && !pump()) return Done();
    }
}

}  // namespace profiles
