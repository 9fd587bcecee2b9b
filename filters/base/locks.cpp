#include "filters/base/locks.h"

CAmThread::~CAmThread() {
    // The derived part is gone by now, so the thread must have been closed by it; a
    // thread still running here would run on a destroyed object. Wait without bound
    // only as the last resort of a caller that forgot Close.
    if (thread_) {
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
    }
}

DWORD WINAPI CAmThread::Start(void* self) {
    return static_cast<CAmThread*>(self)->ThreadProc();
}

bool CAmThread::Create() {
    if (thread_ || !request_event_.Valid() || !reply_event_.Valid()) return false;
    request_event_.Reset();
    reply_event_.Reset();
    thread_ = CreateThread(nullptr, 0, &CAmThread::Start, this, 0, nullptr);
    return thread_ != nullptr;
}

HRESULT CAmThread::CallWorker(DWORD command, DWORD timeout_ms) {
    CAutoLock lock(&call_lock_);
    if (!thread_) return kNoReply;
    command_ = command;
    reply_event_.Reset();
    request_event_.Set();
    // Wait for the reply or for the thread to end, whichever comes first.
    HANDLE handles[2] = {reply_event_.Handle(), thread_};
    const DWORD woke = WaitForMultipleObjects(2, handles, FALSE, timeout_ms);
    if (woke == WAIT_OBJECT_0) return reply_;
    return kNoReply;
}

bool CAmThread::Close(DWORD timeout_ms) {
    if (!thread_) return true;
    if (WaitForSingleObject(thread_, timeout_ms) != WAIT_OBJECT_0) return false;
    CloseHandle(thread_);
    thread_ = nullptr;
    return true;
}

DWORD CAmThread::GetRequest() {
    WaitForSingleObject(request_event_.Handle(), INFINITE);
    return command_;
}

bool CAmThread::CheckRequest(DWORD* command) {
    if (!request_event_.Check()) return false;
    // The check consumed the auto-reset signal; the command is now being handled.
    if (command) *command = command_;
    return true;
}

void CAmThread::Reply(HRESULT result) {
    reply_ = result;
    reply_event_.Set();
}
