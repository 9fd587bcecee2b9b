#include "filters/decoder/output_pin.h"

#include <vfwmsgs.h>

namespace pelldrin {

namespace {

HRESULT LastError() {
    const DWORD err = GetLastError();
    return err ? HRESULT_FROM_WIN32(err) : E_UNEXPECTED;
}

}  // namespace

CH264OutputPin::CH264OutputPin(CTransformFilter* filter, HRESULT* hr)
    : CTransformOutputPin(L"H.264 decoder output pin", filter, hr, L"XForm Out") {
    unblockedEvent_ = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    if (!unblockedEvent_ && hr && SUCCEEDED(*hr)) *hr = LastError();
}

CH264OutputPin::~CH264OutputPin() {
    if (blockCallerEvent_) CloseHandle(blockCallerEvent_);
    if (unblockedEvent_) CloseHandle(unblockedEvent_);
}

HRESULT STDMETHODCALLTYPE CH264OutputPin::NonDelegatingQueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (iid == IID_IPinFlowControl) return GetInterface(static_cast<IPinFlowControl*>(this), out);
    // Seeking passes through to the pin that feeds the decoder.
    if (iid == IID_IMediaSeeking) {
        IPin* upstream = transform_->InputPin() ? transform_->InputPin()->GetConnected() : nullptr;
        *out = nullptr;
        return upstream ? upstream->QueryInterface(iid, out) : E_NOINTERFACE;
    }
    return CTransformOutputPin::NonDelegatingQueryInterface(iid, out);
}

HRESULT STDMETHODCALLTYPE CH264OutputPin::QueryId(LPWSTR* id) {
    if (!id) return E_POINTER;
    *id = static_cast<LPWSTR>(CoTaskMemAlloc(sizeof(L"Out")));
    if (!*id) return E_OUTOFMEMORY;
    memcpy(*id, L"Out", sizeof(L"Out"));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CH264OutputPin::QueryAccept(const AM_MEDIA_TYPE* type) {
    return CTransformOutputPin::QueryAccept(type);
}

HRESULT STDMETHODCALLTYPE CH264OutputPin::Block(DWORD flags, HANDLE event) {
    if (flags >= 2) return E_INVALIDARG;
    HRESULT hr;
    if (flags == AM_PIN_FLOW_CONTROL_BLOCK) {
        if (event) {
            if (!ResetEvent(event)) return LastError();
            hr = BlockAsynchronously(event);
        } else {
            hr = BlockSynchronously();
        }
    } else {
        if (event) return E_INVALIDARG;
        hr = Unblock();
    }
    return FAILED(hr) ? hr : S_OK;
}

HRESULT CH264OutputPin::BlockAsynchronously(HANDLE event) {
    CAutoLock lock(&pinLock_);
    if (blockState_ != 0)
        return blockingThreadId_ == GetCurrentThreadId() ? VFW_E_PIN_ALREADY_BLOCKED_ON_THIS_THREAD
                                                         : VFW_E_PIN_ALREADY_BLOCKED;
    HANDLE copy = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), event, GetCurrentProcess(), &copy, EVENT_MODIFY_STATE, FALSE, 0))
        return LastError();
    blockCallerEvent_ = copy;
    blockState_ = 1;
    blockingThreadId_ = GetCurrentThreadId();
    if (useCount_ == 0) CompleteBlock();
    return S_OK;
}

HRESULT CH264OutputPin::BlockSynchronously() {
    HANDLE done = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!done) return LastError();
    HRESULT hr = BlockAsynchronously(done);
    if (SUCCEEDED(hr)) {
        // The streaming thread leaves the pin after one delivery at most; a delivery that
        // never returns must not hold the caller for ever.
        switch (WaitForSingleObject(done, kBlockWaitMs)) {
            case WAIT_OBJECT_0:
                hr = S_OK;
                break;
            case WAIT_TIMEOUT:
                Unblock();
                hr = VFW_E_TIMEOUT;
                break;
            case WAIT_FAILED:
                hr = LastError();
                break;
            default:
                hr = E_UNEXPECTED;
                break;
        }
    }
    CloseHandle(done);
    return hr;
}

void CH264OutputPin::CompleteBlock() {
    ResetEvent(unblockedEvent_);
    if (blockCallerEvent_) {
        SetEvent(blockCallerEvent_);
        CloseHandle(blockCallerEvent_);
        blockCallerEvent_ = nullptr;
    }
    blockState_ = 2;
}

HRESULT CH264OutputPin::Unblock() {
    CAutoLock lock(&pinLock_);
    if (blockState_ == 0) return S_FALSE;
    SetEvent(unblockedEvent_);
    if (blockCallerEvent_) {
        SetEvent(blockCallerEvent_);
        CloseHandle(blockCallerEvent_);
        blockCallerEvent_ = nullptr;
    }
    blockState_ = 0;
    blockingThreadId_ = 0;
    return S_OK;
}

HRESULT CH264OutputPin::StartUsingOutputPin() {
    CAutoLock lock(&pinLock_);
    while (blockState_ == 2) {
        HANDLE waits[2] = {unblockedEvent_, stopEvent_};
        const DWORD count = stopEvent_ ? 2 : 1;
        pinLock_.Unlock();
        const DWORD got = WaitForMultipleObjects(count, waits, FALSE, kUseWaitMs);
        pinLock_.Lock();
        if (got == WAIT_OBJECT_0) continue;
        if (got == WAIT_OBJECT_0 + 1) return VFW_E_STATE_CHANGED;
        if (got == WAIT_TIMEOUT) return VFW_E_TIMEOUT;
        if (got == WAIT_FAILED) return LastError();
        return E_UNEXPECTED;
    }
    ++useCount_;
    return S_OK;
}

void CH264OutputPin::StopUsingOutputPin() {
    CAutoLock lock(&pinLock_);
    if (useCount_ > 0 && --useCount_ == 0 && blockState_ == 1) CompleteBlock();
}

bool CH264OutputPin::StreamingThreadUsingOutputPin() {
    CAutoLock lock(&pinLock_);
    return useCount_ != 0;
}

void CH264OutputPin::SetConfigInfo(IGraphConfig* graphConfig, HANDLE stopEvent) {
    CAutoLock lock(&pinLock_);
    graphConfig_ = graphConfig;
    stopEvent_ = stopEvent;
}

HRESULT CH264OutputPin::Active() {
    ResetStop();
    return CTransformOutputPin::Active();
}

HRESULT CH264OutputPin::Inactive() {
    SignalStop();
    return CTransformOutputPin::Inactive();
}

HRESULT CH264OutputPin::DynamicQueryAccept(const AM_MEDIA_TYPE* type) {
    IPin* peer = GetConnected();
    if (!peer) return VFW_E_NOT_CONNECTED;
    IPinConnection* dynamic = nullptr;
    if (SUCCEEDED(peer->QueryInterface(IID_IPinConnection, reinterpret_cast<void**>(&dynamic)))) {
        const HRESULT hr = dynamic->DynamicQueryAccept(type);
        dynamic->Release();
        return hr;
    }
    return peer->QueryAccept(type);
}

HRESULT CH264OutputPin::ResizeBuffers(long bytes) {
    if (!allocator_) return VFW_E_NO_ALLOCATOR;
    ALLOCATOR_PROPERTIES now{};
    HRESULT hr = allocator_->GetProperties(&now);
    if (FAILED(hr)) return hr;
    if (now.cbBuffer >= bytes) return S_OK;
    hr = allocator_->Decommit();
    if (FAILED(hr)) return hr;
    ALLOCATOR_PROPERTIES want = now, got{};
    want.cbBuffer = bytes;
    if (want.cBuffers < 1) want.cBuffers = 1;
    hr = allocator_->SetProperties(&want, &got);
    const HRESULT committed = allocator_->Commit();
    if (FAILED(hr)) return hr;
    if (FAILED(committed)) return committed;
    return got.cbBuffer >= bytes ? S_OK : E_FAIL;
}

}  // namespace pelldrin
