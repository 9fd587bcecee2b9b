// The codec thread: lists the installed video compressors and the Windows Media profiles
// away from the user-interface thread (opening every codec can take seconds), then sets its
// done flag as its last act. The profile store reads what the thread made only once the flag
// is set; the profile dialog waits for it, bounded and with its window kept answering.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "app/profiles/profile_manager.h"

namespace profiles {

class CodecThread {
public:
    CodecThread() = default;
    // Waits for the thread without bound (it touches the store until it is done), then takes
    // its done flag back from the store, which outlives it.
    ~CodecThread();
    CodecThread(const CodecThread&) = delete;
    CodecThread& operator=(const CodecThread&) = delete;

    // Starts the thread on `store` (`wm` null: the machine's Windows Media runtime). The
    // store must outlive this object.
    void Start(CProfileManager& store, WMRuntime* wm = nullptr);
    bool Started() const { return thread_.joinable(); }
    bool Done() const { return done_.load(std::memory_order_acquire); }
    // Waits at most `timeoutMs` for the done flag, calling `pump` between waits of at most
    // `kPumpIntervalMs` so that the caller's window keeps answering; `pump` returns false to
    // end the wait early. True when done.
    bool Wait(uint32_t timeoutMs, const std::function<bool()>& pump = {});

    static constexpr uint32_t kPumpIntervalMs = 20;

private:
    std::atomic<bool> done_{false};
    CProfileManager* store_ = nullptr;  // the store holding a pointer to done_
    std::mutex mutex_;
    std::condition_variable finished_;
    std::thread thread_;
};

}  // namespace profiles
