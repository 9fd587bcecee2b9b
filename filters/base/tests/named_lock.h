// A machine-wide mutex held for a scope, with a bounded wait: test processes that run in
// parallel and share one Wine prefix hold it around registry state they change (a
// library's registration, a filter's stored settings).
#pragma once

#include <windows.h>

namespace comtest {

class NamedLock {
public:
    explicit NamedLock(const wchar_t* name, DWORD waitMs = 600000) : mutex_(CreateMutexW(nullptr, FALSE, name)) {
        held_ = mutex_ && WaitForSingleObject(mutex_, waitMs) != WAIT_TIMEOUT;
    }
    ~NamedLock() {
        if (held_) ReleaseMutex(mutex_);
        if (mutex_) CloseHandle(mutex_);
    }
    NamedLock(const NamedLock&) = delete;
    NamedLock& operator=(const NamedLock&) = delete;
    bool Held() const { return held_; }

private:
    HANDLE mutex_;
    bool held_ = false;
};

}  // namespace comtest
