// Thread primitives shared by the platform-free cores: a joining thread, auto- and
// manual-reset events with timed waits, and a counting semaphore. Built on the standard
// library only, so the same code runs natively and on Windows.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace common {

// A thread that is joined, never detached or terminated, when it goes out of scope.
class Thread {
public:
    Thread() = default;
    ~Thread() { Join(); }
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Starts `body` on a new thread. False if a thread is already running here or the
    // system could not create one (the error is a value, not an exception).
    bool Start(std::function<void()> body);
    // Waits for the thread to end; does nothing when none was started.
    void Join();
    bool Running() const { return thread_.joinable(); }

private:
    std::thread thread_;
};

// A Win32-style event. An auto-reset event releases one waiter per Set and clears
// itself; a manual-reset event stays set, releasing every waiter, until Reset.
class Event {
public:
    enum class Mode { AutoReset, ManualReset };

    explicit Event(Mode mode, bool initiallySet = false);
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set();
    void Reset();
    bool IsSet() const;

    void Wait();
    // True if the event was signalled within `timeout`; false on time-out.
    bool WaitFor(std::chrono::milliseconds timeout);

private:
    bool TakeLocked();

    const Mode mode_;
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    bool set_;
};

// A counting semaphore with a ceiling: Release beyond `maxCount` fails and changes
// nothing, as a Win32 semaphore does.
class Semaphore {
public:
    Semaphore(int32_t initialCount, int32_t maxCount);
    Semaphore(const Semaphore&) = delete;
    Semaphore& operator=(const Semaphore&) = delete;

    // Adds `count` (at least 1). False, and no change, if the ceiling would be passed.
    bool Release(int32_t count = 1);
    void Acquire();
    // True if a unit was taken within `timeout`.
    bool TryAcquireFor(std::chrono::milliseconds timeout);
    int32_t Count() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    int32_t count_;
    const int32_t max_;
};

}  // namespace common
