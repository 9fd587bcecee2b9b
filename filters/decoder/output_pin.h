// The decoder's output pin: a transform output pin that the graph can block and unblock
// while it rebuilds the graph downstream (IPinFlowControl), and that the filter uses
// around each delivery, so that a blocked pin holds the streaming thread between
// pictures rather than for the whole run. Every wait is bounded.
#pragma once

#include <windows.h>
#include <strmif.h>

#include "filters/base/transform.h"

namespace pelldrin {

class CH264OutputPin final : public CTransformOutputPin, public IPinFlowControl {
public:
    CH264OutputPin(CTransformFilter* filter, HRESULT* hr);
    ~CH264OutputPin() override;

    FILTERBASE_DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** out) override;
    HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* id) override;
    HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE* type) override;

    // IPinFlowControl
    HRESULT STDMETHODCALLTYPE Block(DWORD flags, HANDLE event) override;

    HRESULT Active() override;
    HRESULT Inactive() override;

    // Streaming side. StartUsingOutputPin waits (bounded) while the pin is blocked; it
    // answers VFW_E_STATE_CHANGED when the stop event ends the wait.
    HRESULT StartUsingOutputPin();
    void StopUsingOutputPin();
    bool StreamingThreadUsingOutputPin();
    // The filter's stop event (signalled by Stop, BeginFlush and Inactive) and the graph.
    void SetConfigInfo(IGraphConfig* graphConfig, HANDLE stopEvent);
    void SignalStop() {
        if (stopEvent_) SetEvent(stopEvent_);
    }
    void ResetStop() {
        if (stopEvent_) ResetEvent(stopEvent_);
    }

    // Asks downstream whether it takes `type` now (IPinConnection::DynamicQueryAccept
    // when the peer has it, else QueryAccept).
    HRESULT DynamicQueryAccept(const AM_MEDIA_TYPE* type);
    // Buffers of at least `bytes` from the connected allocator (decommitted, set and
    // committed again); the allocator's answer on failure.
    HRESULT ResizeBuffers(long bytes);

    // Bounds of the waits: a synchronous block and a streaming thread held by a block.
    static constexpr DWORD kBlockWaitMs = 10000;
    static constexpr DWORD kUseWaitMs = 60000;

private:
    HRESULT BlockAsynchronously(HANDLE event);
    HRESULT BlockSynchronously();
    HRESULT Unblock();
    void CompleteBlock();

    CCritSec pinLock_;
    HANDLE unblockedEvent_ = nullptr;
    HANDLE blockCallerEvent_ = nullptr;
    int blockState_ = 0;  // 0 not blocked, 1 pending (streaming thread in the pin), 2 blocked
    DWORD blockingThreadId_ = 0;
    int useCount_ = 0;
    HANDLE stopEvent_ = nullptr;           // the filter's, not owned
    IGraphConfig* graphConfig_ = nullptr;  // not counted: the graph owns the filter
};

}  // namespace pelldrin
