// Locks, events and the worker thread of the filters.
//
// Locking rules of every filter built on these classes:
// - The filter lock (CBaseFilter's) guards state transitions, connections and the pin
//   list. Application threads take it; the streaming thread never does, because a
//   transition (Stop) holds it while it waits for streaming to end.
// - The streaming lock (CTransformFilter's receive lock, a sink's own) serialises
//   Receive, EndOfStream and flushing on the streaming thread. A transition that must
//   wait for the streaming thread takes it after the filter lock, never before.
#pragma once

#include <windows.h>

class CCritSec {
public:
    CCritSec() { InitializeCriticalSection(&section_); }
    ~CCritSec() { DeleteCriticalSection(&section_); }
    CCritSec(const CCritSec&) = delete;
    CCritSec& operator=(const CCritSec&) = delete;

    void Lock() { EnterCriticalSection(&section_); }
    void Unlock() { LeaveCriticalSection(&section_); }

private:
    CRITICAL_SECTION section_;
};

// Holds a critical section for the lifetime of the scope.
class CAutoLock {
public:
    explicit CAutoLock(CCritSec* lock) : lock_(lock) { lock_->Lock(); }
    ~CAutoLock() { lock_->Unlock(); }
    CAutoLock(const CAutoLock&) = delete;
    CAutoLock& operator=(const CAutoLock&) = delete;

private:
    CCritSec* lock_;
};

// A Win32 event. Creation failure leaves a null handle, which Valid() reports.
class CAmEvent {
public:
    explicit CAmEvent(bool manualReset = false) : handle_(CreateEventW(nullptr, manualReset, FALSE, nullptr)) {}
    ~CAmEvent() {
        if (handle_) CloseHandle(handle_);
    }
    CAmEvent(const CAmEvent&) = delete;
    CAmEvent& operator=(const CAmEvent&) = delete;

    bool Valid() const { return handle_ != nullptr; }
    HANDLE Handle() const { return handle_; }
    void Set() { SetEvent(handle_); }
    void Reset() { ResetEvent(handle_); }
    // True when the event was signalled within `timeoutMs`.
    bool Wait(DWORD timeoutMs) { return WaitForSingleObject(handle_, timeoutMs) == WAIT_OBJECT_0; }
    bool Check() { return Wait(0); }

private:
    HANDLE handle_;
};

// A worker thread driven by a request/reply command channel: another thread posts one
// command with CallWorker and waits for the worker's reply; the worker takes commands
// with GetRequest (blocking) or CheckRequest (polling between pieces of work) and
// answers each with Reply. One command is in flight at a time.
class CAmThread {
public:
    // How long CallWorker waits for a reply before it gives up (a worker that hangs must
    // not hang the caller, which is usually a state transition).
    static constexpr DWORD kReplyTimeoutMs = 10000;
    // What CallWorker answers when the worker did not reply in time or is not running.
    static constexpr HRESULT kNoReply = HRESULT_FROM_WIN32(ERROR_TIMEOUT);

    CAmThread() = default;
    virtual ~CAmThread();
    CAmThread(const CAmThread&) = delete;
    CAmThread& operator=(const CAmThread&) = delete;

    // Starts the thread running ThreadProc. False when one is running or it failed.
    bool Create();
    bool ThreadExists() const { return thread_ != nullptr; }
    // Posts `command` and waits up to `timeoutMs` for the worker's reply.
    HRESULT CallWorker(DWORD command, DWORD timeoutMs = kReplyTimeoutMs);
    // Waits up to `timeoutMs` for the thread to end and closes it. False, with the
    // thread left in place, when it did not end in time.
    bool Close(DWORD timeoutMs = kReplyTimeoutMs);

protected:
    // The worker's body; its return value is the thread's exit code.
    virtual DWORD ThreadProc() = 0;
    // Worker side: waits for the next command.
    DWORD GetRequest();
    // Worker side: true and the command when one is waiting.
    bool CheckRequest(DWORD* command);
    // Worker side: answers the current command.
    void Reply(HRESULT result);

private:
    static DWORD WINAPI Start(void* self);

    HANDLE thread_ = nullptr;
    CCritSec callLock_;      // one caller at a time
    CAmEvent requestEvent_;  // auto-reset: a command is waiting
    CAmEvent replyEvent_;    // auto-reset: the worker answered
    DWORD command_ = 0;
    HRESULT reply_ = S_OK;
};
