// CBaseFilter: IBaseFilter over a derived filter's pins, with the state machine
// Stopped / Paused / Running, the reference clock and stream time, membership of a
// filter graph and event notification to it.
//
// Rules (see also locks.h and pins.h):
// - Every transition runs under the filter lock passed to the constructor.
// - Pause from Stopped calls Active on each connected pin, Stop calls Inactive on each
//   connected pin, Run calls Run on each connected pin (after Pause when stopped).
//   The first failure ends the transition and is answered; the state then stays where
//   it was for Pause and Run, and is Stopped for Stop. A failed Pause, or a failed Run
//   from Stopped, makes the pins it made active inactive again (running ones included).
//   Pins are not told of Running to Paused, so a Run that fails from Paused leaves them
//   active.
// - The filter graph does not hold a reference from us (it holds one on us), so the
//   graph and its event sink are kept as plain pointers between JoinFilterGraph calls.
//   NotifyEvent runs on streaming threads without the filter lock: the sink pointer is
//   atomic, so such a thread reads either the graph's sink or none, never a torn value.
#pragma once

#include <windows.h>
#include <strmif.h>

#include <atomic>
#include <string>

#include "filters/base/com_object.h"
#include "filters/base/enumerator.h"
#include "filters/base/locks.h"
#include "filters/base/pins.h"

class CBaseFilter : public CUnknown, public IBaseFilter {
public:
    CBaseFilter(const wchar_t* objectName, IUnknown* outer, CCritSec* lock, REFCLSID clsid);
    ~CBaseFilter() override;

    FILTERBASE_DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** out) override;

    // IPersist
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override;
    // IMediaFilter
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE Pause() override;
    HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME start) override;
    HRESULT STDMETHODCALLTYPE GetState(DWORD timeoutMs, FILTER_STATE* state) override;
    HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock* clock) override;
    HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock** clock) override;
    // IBaseFilter
    HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** pins) override;
    HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR id, IPin** pin) override;
    HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO* info) override;
    HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
    // E_NOTIMPL in the base.
    HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR* info) override;

    // The derived filter's pins; GetPin answers null past the end.
    virtual int GetPinCount() = 0;
    virtual CBasePin* GetPin(int n) = 0;

    // Sends an event to the graph's IMediaEventSink (E_NOTIMPL when not in a graph).
    // EC_COMPLETE carries this filter as its second parameter, as the graph expects.
    HRESULT NotifyEvent(long code, LONG_PTR param1, LONG_PTR param2);
    // Clock time less the start time of Run: VFW_E_NO_CLOCK without a clock.
    HRESULT StreamTime(REFERENCE_TIME* time);

    FILTER_STATE State() const { return state_.load(); }
    bool IsStopped() const { return state_.load() == State_Stopped; }
    bool IsActive() const { return state_.load() != State_Stopped; }
    CCritSec* FilterLock() const { return lock_; }
    IFilterGraph* Graph() const { return graph_; }
    REFERENCE_TIME StartTime() const { return start_; }
    // Bumped by a filter whose pin list changed; pin enumerators made earlier then
    // answer VFW_E_ENUM_OUT_OF_SYNC.
    LONG PinVersion() const { return pinVersion_.load(); }
    void IncrementPinVersion() { ++pinVersion_; }

protected:
    CCritSec* lock_;
    std::atomic<FILTER_STATE> state_{State_Stopped};
    IReferenceClock* clock_ = nullptr;  // counted
    REFERENCE_TIME start_ = 0;
    IFilterGraph* graph_ = nullptr;                // not counted: the graph owns us
    std::atomic<IMediaEventSink*> sink_{nullptr};  // not counted, likewise; read by streaming threads
    std::wstring name_;
    CLSID clsid_;

private:
    std::atomic<LONG> pinVersion_{1};
};

// IEnumPins over a filter's GetPin list. Holds a reference on the filter.
struct PinListTraits {
    using Interface = IEnumPins;
    using Owner = CBaseFilter;
    using Item = IPin*;
    static const IID& Iid() { return IID_IEnumPins; }
    static LONG Version(CBaseFilter* filter) { return filter->PinVersion(); }
    static HRESULT Fetch(CBaseFilter* filter, ULONG position, IPin** pin);
    static void Free(IPin* pin) { pin->Release(); }
};
using CEnumPins = CListEnumerator<PinListTraits>;
