// A bound on a test body: ends the process when the body does not finish in time, so
// that a hang in a state change shows as a failure, not as a test that never ends.
// (Assertions stay on the test thread.)
#pragma once

#include <windows.h>

#include <cstdio>

namespace comtest {

class Watchdog {
public:
    explicit Watchdog(DWORD timeoutMs) : timeoutMs_(timeoutMs), done_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        thread_ = CreateThread(nullptr, 0, &Watchdog::Watch, this, 0, nullptr);
    }
    ~Watchdog() {
        SetEvent(done_);
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
        CloseHandle(done_);
    }

private:
    static DWORD WINAPI Watch(void* self) {
        auto* dog = static_cast<Watchdog*>(self);
        if (WaitForSingleObject(dog->done_, dog->timeoutMs_) == WAIT_TIMEOUT) {
            fprintf(stderr, "watchdog: the test did not finish within %lu ms\n", dog->timeoutMs_);
            fflush(stderr);
            ExitProcess(3);
        }
        return 0;
    }
    DWORD timeoutMs_;
    HANDLE done_;
    HANDLE thread_ = nullptr;
};

}  // namespace comtest
