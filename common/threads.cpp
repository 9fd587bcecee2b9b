#include "threads.h"

#include <system_error>

namespace common {

bool Thread::Start(std::function<void()> body) {
    if (thread_.joinable() || !body) return false;
    try {
        thread_ = std::thread(std::move(body));
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void Thread::Join() {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

Event::Event(Mode mode, bool initiallySet) : mode_(mode), set_(initiallySet) {}

void Event::Set() {
    {
        std::lock_guard lock(mutex_);
        set_ = true;
    }
    if (mode_ == Mode::AutoReset)
        cv_.notify_one();
    else
        cv_.notify_all();
}

void Event::Reset() {
    std::lock_guard lock(mutex_);
    set_ = false;
}

bool Event::IsSet() const {
    std::lock_guard lock(mutex_);
    return set_;
}

bool Event::TakeLocked() {
    if (!set_) return false;
    if (mode_ == Mode::AutoReset) set_ = false;
    return true;
}

void Event::Wait() {
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [this] { return set_; });
    TakeLocked();
}

bool Event::WaitFor(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    if (!cv_.wait_for(lock, timeout, [this] { return set_; })) return false;
    return TakeLocked();
}

Semaphore::Semaphore(int32_t initialCount, int32_t maxCount)
    : count_(initialCount < 0 ? 0 : initialCount), max_(maxCount < 1 ? 1 : maxCount) {
    if (count_ > max_) count_ = max_;
}

bool Semaphore::Release(int32_t count) {
    if (count < 1) return false;
    {
        std::lock_guard lock(mutex_);
        if (count > max_ - count_) return false;
        count_ += count;
    }
    if (count == 1)
        cv_.notify_one();
    else
        cv_.notify_all();
    return true;
}

void Semaphore::Acquire() {
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [this] { return count_ > 0; });
    --count_;
}

bool Semaphore::TryAcquireFor(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    if (!cv_.wait_for(lock, timeout, [this] { return count_ > 0; })) return false;
    --count_;
    return true;
}

int32_t Semaphore::Count() const {
    std::lock_guard lock(mutex_);
    return count_;
}

}  // namespace common
