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
    if (thread_ || !requestEvent_.Valid() || !replyEvent_.Valid()) return false;
    requestEvent_.Reset();
    replyEvent_.Reset();
    thread_ = CreateThread(nullptr, 0, &CAmThread::Start, this, 0, nullptr);
    return thread_ != nullptr;
}

HRESULT CAmThread::CallWorker(DWORD command, DWORD timeoutMs) {
    CAutoLock lock(&callLock_);
    if (!thread_) return kNoReply;
    command_ = command;
    replyEvent_.Reset();
    requestEvent_.Set();
    // Wait for the reply or for the thread to end, whichever comes first.
    HANDLE handles[2] = {replyEvent_.Handle(), thread_};
    const DWORD woke = WaitForMultipleObjects(2, handles, FALSE, timeoutMs);
    if (woke == WAIT_OBJECT_0) return reply_;
    return kNoReply;
}

bool CAmThread::Close(DWORD timeoutMs) {
    if (!thread_) return true;
    if (WaitForSingleObject(thread_, timeoutMs) != WAIT_OBJECT_0) return false;
    CloseHandle(thread_);
    thread_ = nullptr;
    return true;
}

DWORD CAmThread::GetRequest() {
    WaitForSingleObject(requestEvent_.Handle(), INFINITE);
    return command_;
}

bool CAmThread::CheckRequest(DWORD* command) {
    if (!requestEvent_.Check()) return false;
    // The check consumed the auto-reset signal; the command is now being handled.
    if (command) *command = command_;
    return true;
}

void CAmThread::Reply(HRESULT result) {
    reply_ = result;
    replyEvent_.Set();
}
