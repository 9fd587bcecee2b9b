#include "filters/base/filter.h"

#include <evcode.h>
#include <new>

CBaseFilter::CBaseFilter(const wchar_t* objectName, IUnknown* outer, CCritSec* lock, REFCLSID clsid)
    : CUnknown(objectName, outer), lock_(lock), clsid_(clsid) {}

CBaseFilter::~CBaseFilter() {
    if (clock_) clock_->Release();
}

HRESULT STDMETHODCALLTYPE CBaseFilter::NonDelegatingQueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (iid == IID_IBaseFilter || iid == IID_IMediaFilter || iid == IID_IPersist)
        return GetInterface(static_cast<IBaseFilter*>(this), out);
    return CUnknown::NonDelegatingQueryInterface(iid, out);
}

HRESULT STDMETHODCALLTYPE CBaseFilter::GetClassID(CLSID* clsid) {
    if (!clsid) return E_POINTER;
    *clsid = clsid_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::Stop() {
    CAutoLock lock(lock_);
    HRESULT result = S_OK;
    if (state_ != State_Stopped) {
        const int count = GetPinCount();
        for (int i = 0; i < count; ++i) {
            CBasePin* pin = GetPin(i);
            if (!pin || !pin->IsConnected()) continue;
            const HRESULT hr = pin->Inactive();
            if (FAILED(hr) && SUCCEEDED(result)) result = hr;
        }
    }
    state_ = State_Stopped;
    return result;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::Pause() {
    CAutoLock lock(lock_);
    if (state_ == State_Stopped) {
        const int count = GetPinCount();
        for (int i = 0; i < count; ++i) {
            CBasePin* pin = GetPin(i);
            if (!pin || !pin->IsConnected()) continue;
            const HRESULT hr = pin->Active();
            if (FAILED(hr)) {
                // Pins made active so far go back to inactive: a failed Pause leaves
                // the filter stopped as a whole.
                for (int j = 0; j < i; ++j) {
                    CBasePin* done = GetPin(j);
                    if (done && done->IsConnected()) done->Inactive();
                }
                return hr;
            }
        }
    }
    state_ = State_Paused;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::Run(REFERENCE_TIME start) {
    CAutoLock lock(lock_);
    start_ = start;
    const bool wasStopped = state_ == State_Stopped;
    if (wasStopped) {
        const HRESULT hr = Pause();
        if (FAILED(hr)) return hr;
    }
    if (state_ != State_Running) {
        const int count = GetPinCount();
        for (int i = 0; i < count; ++i) {
            CBasePin* pin = GetPin(i);
            if (!pin || !pin->IsConnected()) continue;
            const HRESULT hr = pin->Run(start);
            if (FAILED(hr)) {
                // From Stopped, every pin goes back to inactive, those already running
                // included, as a failed Pause does. From Paused the pins stay active, as
                // on Pause from Running.
                if (wasStopped) {
                    for (int j = 0; j < count; ++j) {
                        CBasePin* done = GetPin(j);
                        if (done && done->IsConnected()) done->Inactive();
                    }
                    state_ = State_Stopped;
                }
                return hr;
            }
        }
    }
    state_ = State_Running;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::GetState(DWORD, FILTER_STATE* state) {
    if (!state) return E_POINTER;
    *state = state_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::SetSyncSource(IReferenceClock* clock) {
    CAutoLock lock(lock_);
    if (clock) clock->AddRef();
    if (clock_) clock_->Release();
    clock_ = clock;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::GetSyncSource(IReferenceClock** clock) {
    if (!clock) return E_POINTER;
    CAutoLock lock(lock_);
    *clock = clock_;
    if (clock_) clock_->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::EnumPins(IEnumPins** pins) {
    if (!pins) return E_POINTER;
    *pins = new (std::nothrow) CEnumPins(this);
    return *pins ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::FindPin(LPCWSTR id, IPin** pin) {
    if (!id || !pin) return E_POINTER;
    *pin = nullptr;
    CAutoLock lock(lock_);
    const int count = GetPinCount();
    for (int i = 0; i < count; ++i) {
        CBasePin* candidate = GetPin(i);
        if (!candidate) continue;
        LPWSTR candidateId = nullptr;
        if (FAILED(candidate->QueryId(&candidateId))) continue;
        const bool same = wcscmp(candidateId, id) == 0;
        CoTaskMemFree(candidateId);
        if (same) return GetInterface(static_cast<IPin*>(candidate), reinterpret_cast<void**>(pin));
    }
    return VFW_E_NOT_FOUND;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::QueryFilterInfo(FILTER_INFO* info) {
    if (!info) return E_POINTER;
    CAutoLock lock(lock_);
    lstrcpynW(info->achName, name_.c_str(), MAX_FILTER_NAME);
    info->pGraph = graph_;
    if (graph_) graph_->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
    CAutoLock lock(lock_);
    graph_ = graph;
    sink_ = nullptr;
    if (graph) {
        // Kept without a reference: the sink is the graph itself, which outlives our
        // membership in it.
        IMediaEventSink* sink = nullptr;
        if (SUCCEEDED(graph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink)))) {
            sink_ = sink;
            sink->Release();
        }
    }
    name_ = name ? name : L"";
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::QueryVendorInfo(LPWSTR* info) {
    if (info) *info = nullptr;
    return E_NOTIMPL;
}

HRESULT CBaseFilter::NotifyEvent(long code, LONG_PTR param1, LONG_PTR param2) {
    IMediaEventSink* sink = sink_.load();
    if (!sink) return E_NOTIMPL;
    if (code == EC_COMPLETE) param2 = reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this));
    return sink->Notify(code, param1, param2);
}

HRESULT CBaseFilter::StreamTime(REFERENCE_TIME* time) {
    if (!time) return E_POINTER;
    if (!clock_) return VFW_E_NO_CLOCK;
    REFERENCE_TIME now = 0;
    const HRESULT hr = clock_->GetTime(&now);
    if (FAILED(hr)) return hr;
    *time = now - start_;
    return S_OK;
}

HRESULT PinListTraits::Fetch(CBaseFilter* filter, ULONG position, IPin** pin) {
    if (position >= static_cast<ULONG>(filter->GetPinCount())) return S_FALSE;
    CBasePin* found = filter->GetPin(static_cast<int>(position));
    if (!found) return S_FALSE;
    *pin = found;
    found->AddRef();
    return S_OK;
}
