#include "filters/base/pins.h"

#include <uuids.h>

#include <new>

#include "filters/base/filter.h"

namespace {

// A peer offers at most this many types; an enumerator that never ends is cut off.
constexpr int kMaxPeerTypes = 1024;

}  // namespace

CBasePin::CBasePin(const wchar_t* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT*, const wchar_t* pinName,
                   PIN_DIRECTION direction)
    : CUnknown(objectName, nullptr),
      filter_(filter),
      lock_(lock),
      name_(pinName ? pinName : L""),
      direction_(direction) {}

CBasePin::~CBasePin() {
    if (connected_) connected_->Release();
}

HRESULT STDMETHODCALLTYPE CBasePin::NonDelegatingQueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (iid == IID_IPin) return GetInterface(static_cast<IPin*>(this), out);
    if (iid == IID_IQualityControl) return GetInterface(static_cast<IQualityControl*>(this), out);
    if (iid == IID_IUnknown) return GetInterface(static_cast<IPin*>(this), out);
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CBasePin::NonDelegatingAddRef() {
    return filter_->AddRef();
}
ULONG STDMETHODCALLTYPE CBasePin::NonDelegatingRelease() {
    return filter_->Release();
}

bool CBasePin::IsStopped() const {
    return filter_->IsStopped();
}

HRESULT STDMETHODCALLTYPE CBasePin::Connect(IPin* receivePin, const AM_MEDIA_TYPE* type) {
    if (!receivePin) return E_POINTER;
    CAutoLock lock(lock_);
    const HRESULT hr = CheckConnectable(receivePin);
    if (FAILED(hr)) return hr;
    const CMediaType partial = type ? CMediaType(*type) : CMediaType();
    return AgreeMediaType(receivePin, type ? &partial : nullptr);
}

HRESULT CBasePin::CheckConnectable(IPin* peer) {
    PIN_DIRECTION peerDirection;
    const HRESULT hr = peer->QueryDirection(&peerDirection);
    if (FAILED(hr)) return hr;
    if (peerDirection == direction_) return VFW_E_INVALID_DIRECTION;
    if (connected_) return VFW_E_ALREADY_CONNECTED;
    if (!IsStopped()) return VFW_E_NOT_STOPPED;
    return S_OK;
}

HRESULT CBasePin::AgreeMediaType(IPin* receivePin, const CMediaType* partial) {
    if (partial && !partial->IsPartiallySpecified()) return AttemptConnection(receivePin, partial);

    HRESULT last = VFW_E_NO_ACCEPTABLE_TYPES;
    // The peer's types first, then ours.
    for (int round = 0; round < 2; ++round) {
        IEnumMediaTypes* types = nullptr;
        const HRESULT hr = round == 0 ? receivePin->EnumMediaTypes(&types) : EnumMediaTypes(&types);
        if (FAILED(hr) || !types) continue;
        const HRESULT tried = TryMediaTypes(receivePin, partial, types, &last);
        types->Release();
        if (tried == S_OK) return S_OK;
    }
    // A failure after a type was agreed (an allocator that could not be set up) tells
    // more than "no acceptable types".
    return last;
}

HRESULT CBasePin::TryMediaTypes(IPin* receivePin, const CMediaType* partial, IEnumMediaTypes* types, HRESULT* last) {
    for (int n = 0; n < kMaxPeerTypes; ++n) {
        AM_MEDIA_TYPE* raw = nullptr;
        ULONG fetched = 0;
        if (types->Next(1, &raw, &fetched) != S_OK || fetched != 1 || !raw) {
            DeleteMediaType(raw);
            return S_FALSE;
        }
        const CMediaType candidate(*raw);
        DeleteMediaType(raw);
        if (partial && !candidate.MatchesPartial(partial)) continue;
        const HRESULT hr = AttemptConnection(receivePin, &candidate);
        if (SUCCEEDED(hr)) return S_OK;
        // Refusals of the type itself do not hide a later, more telling failure.
        if (hr != VFW_E_TYPE_NOT_ACCEPTED && hr != S_FALSE && hr != E_FAIL) *last = hr;
    }
    return S_FALSE;
}

HRESULT CBasePin::AttemptConnection(IPin* receivePin, const CMediaType* type) {
    HRESULT hr = CheckConnect(receivePin);
    if (FAILED(hr)) {
        BreakConnect();
        return hr;
    }
    hr = CheckMediaType(type);
    if (hr == S_OK) {
        connected_ = receivePin;
        connected_->AddRef();
        hr = SetMediaType(type);
        if (SUCCEEDED(hr)) {
            hr = receivePin->ReceiveConnection(this, type);
            if (SUCCEEDED(hr)) {
                hr = CompleteConnect(receivePin);
                if (SUCCEEDED(hr)) return S_OK;
                // The peer took the connection; give it back.
                receivePin->Disconnect();
            }
        }
    } else if (SUCCEEDED(hr) || hr == E_FAIL || hr == E_INVALIDARG) {
        hr = VFW_E_TYPE_NOT_ACCEPTED;
    }
    if (connected_) {
        connected_->Release();
        connected_ = nullptr;
    }
    type_ = CMediaType();
    BreakConnect();
    return hr;
}

HRESULT STDMETHODCALLTYPE CBasePin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) {
    if (!connector || !type) return E_POINTER;
    CAutoLock lock(lock_);
    HRESULT hr = CheckConnectable(connector);
    if (FAILED(hr)) return hr;

    hr = CheckConnect(connector);
    if (FAILED(hr)) {
        BreakConnect();
        return hr;
    }
    const CMediaType offered(*type);
    hr = CheckMediaType(&offered);
    if (hr != S_OK) {
        BreakConnect();
        return FAILED(hr) && hr != E_FAIL && hr != E_INVALIDARG ? hr : VFW_E_TYPE_NOT_ACCEPTED;
    }
    connected_ = connector;
    connected_->AddRef();
    hr = SetMediaType(&offered);
    if (SUCCEEDED(hr)) hr = CompleteConnect(connector);
    if (FAILED(hr)) {
        connected_->Release();
        connected_ = nullptr;
        type_ = CMediaType();
        BreakConnect();
    }
    return hr;
}

HRESULT STDMETHODCALLTYPE CBasePin::Disconnect() {
    CAutoLock lock(lock_);
    if (!IsStopped()) return VFW_E_NOT_STOPPED;
    return DisconnectInternal();
}

HRESULT CBasePin::DisconnectInternal() {
    if (!connected_) return S_FALSE;
    const HRESULT hr = BreakConnect();
    if (FAILED(hr)) return hr;
    connected_->Release();
    connected_ = nullptr;
    type_ = CMediaType();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::ConnectedTo(IPin** pin) {
    if (!pin) return E_POINTER;
    CAutoLock lock(lock_);
    *pin = connected_;
    if (!connected_) return VFW_E_NOT_CONNECTED;
    connected_->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::ConnectionMediaType(AM_MEDIA_TYPE* type) {
    if (!type) return E_POINTER;
    CAutoLock lock(lock_);
    if (!connected_) {
        *type = AM_MEDIA_TYPE{};
        return VFW_E_NOT_CONNECTED;
    }
    return CopyMediaType(type, &type_);
}

HRESULT STDMETHODCALLTYPE CBasePin::QueryPinInfo(PIN_INFO* info) {
    if (!info) return E_POINTER;
    info->pFilter = filter_;
    filter_->AddRef();
    lstrcpynW(info->achName, name_.c_str(), MAX_PIN_NAME);
    info->dir = direction_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::QueryDirection(PIN_DIRECTION* direction) {
    if (!direction) return E_POINTER;
    *direction = direction_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::QueryId(LPWSTR* id) {
    if (!id) return E_POINTER;
    const size_t bytes = (name_.size() + 1) * sizeof(wchar_t);
    *id = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (!*id) return E_OUTOFMEMORY;
    memcpy(*id, name_.c_str(), bytes);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::QueryAccept(const AM_MEDIA_TYPE* type) {
    if (!type) return E_POINTER;
    const CMediaType proposed(*type);
    return CheckMediaType(&proposed) == S_OK ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE CBasePin::EnumMediaTypes(IEnumMediaTypes** types) {
    if (!types) return E_POINTER;
    *types = new (std::nothrow) CEnumMediaTypes(this);
    return *types ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE CBasePin::QueryInternalConnections(IPin**, ULONG*) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CBasePin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    segmentStart_ = start;
    segmentStop_ = stop;
    segmentRate_ = rate;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::Notify(IBaseFilter*, Quality) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CBasePin::SetSink(IQualityControl* sink) {
    CAutoLock lock(lock_);
    qualitySink_ = sink;
    return S_OK;
}

HRESULT CBasePin::GetMediaType(int position, CMediaType*) {
    return position < 0 ? E_INVALIDARG : VFW_S_NO_MORE_ITEMS;
}

HRESULT CBasePin::SetMediaType(const CMediaType* type) {
    type_ = *type;
    return type_.cbFormat == type->cbFormat ? S_OK : E_OUTOFMEMORY;
}

HRESULT CBasePin::CheckConnect(IPin*) {
    return S_OK;
}
HRESULT CBasePin::BreakConnect() {
    return S_OK;
}
HRESULT CBasePin::CompleteConnect(IPin*) {
    return S_OK;
}
HRESULT CBasePin::Active() {
    return S_OK;
}
HRESULT CBasePin::Inactive() {
    return S_OK;
}
HRESULT CBasePin::Run(REFERENCE_TIME) {
    return S_OK;
}

// ---- CBaseInputPin ----

CBaseInputPin::CBaseInputPin(const wchar_t* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* hr,
                             const wchar_t* pinName)
    : CBasePin(objectName, filter, lock, hr, pinName, PINDIR_INPUT) {}

CBaseInputPin::~CBaseInputPin() {
    if (allocator_) allocator_->Release();
}

HRESULT STDMETHODCALLTYPE CBaseInputPin::NonDelegatingQueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (iid == IID_IMemInputPin) return GetInterface(static_cast<IMemInputPin*>(this), out);
    return CBasePin::NonDelegatingQueryInterface(iid, out);
}

HRESULT CBaseInputPin::CheckStreaming() {
    if (!connected_) return VFW_E_NOT_CONNECTED;
    if (IsStopped()) return VFW_E_WRONG_STATE;
    if (flushing_) return S_FALSE;
    if (runtimeError_) return VFW_E_RUNTIME_ERROR;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseInputPin::EndOfStream() {
    return CheckStreaming();
}

HRESULT STDMETHODCALLTYPE CBaseInputPin::BeginFlush() {
    flushing_ = true;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseInputPin::EndFlush() {
    flushing_ = false;
    runtimeError_ = false;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseInputPin::GetAllocator(IMemAllocator** allocator) {
    if (!allocator) return E_POINTER;
    CAutoLock lock(lock_);
    if (!allocator_) {
        const HRESULT hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                                            reinterpret_cast<void**>(&allocator_));
        if (FAILED(hr)) {
            allocator_ = nullptr;
            *allocator = nullptr;
            return hr;
        }
    }
    *allocator = allocator_;
    allocator_->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseInputPin::NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) {
    if (!allocator) return E_POINTER;
    CAutoLock lock(lock_);
    allocator->AddRef();
    if (allocator_) allocator_->Release();
    allocator_ = allocator;
    readOnly_ = readOnly != FALSE;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CBaseInputPin::Receive(IMediaSample* sample) {
    if (!sample) return E_POINTER;
    HRESULT hr = CheckStreaming();
    if (hr != S_OK) return hr;

    props_ = AM_SAMPLE2_PROPERTIES{};
    IMediaSample2* sample2 = nullptr;
    if (SUCCEEDED(sample->QueryInterface(IID_IMediaSample2, reinterpret_cast<void**>(&sample2)))) {
        hr = sample2->GetProperties(sizeof(props_), reinterpret_cast<BYTE*>(&props_));
        sample2->Release();
        if (FAILED(hr)) return hr;
    } else {
        // Build the same record from the IMediaSample answers.
        props_.cbData = sizeof(props_);
        props_.dwSampleFlags = 0;
        hr = sample->GetTime(&props_.tStart, &props_.tStop);
        if (SUCCEEDED(hr)) {
            props_.dwSampleFlags |= AM_SAMPLE_TIMEVALID;
            if (hr == S_OK) props_.dwSampleFlags |= AM_SAMPLE_STOPVALID;
        }
        if (sample->IsSyncPoint() == S_OK) props_.dwSampleFlags |= AM_SAMPLE_SPLICEPOINT;
        if (sample->IsPreroll() == S_OK) props_.dwSampleFlags |= AM_SAMPLE_PREROLL;
        if (sample->IsDiscontinuity() == S_OK) props_.dwSampleFlags |= AM_SAMPLE_DATADISCONTINUITY;
        AM_MEDIA_TYPE* changed = nullptr;
        if (sample->GetMediaType(&changed) == S_OK && changed) {
            propsType_ = *changed;
            props_.pMediaType = &propsType_;
            props_.dwSampleFlags |= AM_SAMPLE_TYPECHANGED;
        }
        DeleteMediaType(changed);
        sample->GetPointer(&props_.pbBuffer);
        props_.lActual = sample->GetActualDataLength();
        props_.cbBuffer = sample->GetSize();
        props_.dwStreamId = AM_STREAM_MEDIA;
    }
    if ((props_.dwSampleFlags & AM_SAMPLE_TYPECHANGED) && props_.pMediaType) {
        const CMediaType changed(*props_.pMediaType);
        if (CheckMediaType(&changed) != S_OK) return VFW_E_INVALIDMEDIATYPE;
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseInputPin::ReceiveMultiple(IMediaSample** samples, long count, long* processed) {
    if (!samples || !processed) return E_POINTER;
    *processed = 0;
    HRESULT hr = S_OK;
    while (*processed < count) {
        hr = Receive(samples[*processed]);
        if (hr != S_OK) break;
        ++*processed;
    }
    return hr;
}

HRESULT STDMETHODCALLTYPE CBaseInputPin::ReceiveCanBlock() {
    return S_OK;
}

HRESULT CBaseInputPin::BreakConnect() {
    if (allocator_) {
        allocator_->Decommit();
        allocator_->Release();
        allocator_ = nullptr;
    }
    return S_OK;
}

HRESULT CBaseInputPin::Inactive() {
    runtimeError_ = false;
    flushing_ = false;
    if (allocator_) return allocator_->Decommit();
    return S_OK;
}

// ---- CBaseOutputPin ----

CBaseOutputPin::CBaseOutputPin(const wchar_t* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* hr,
                               const wchar_t* pinName)
    : CBasePin(objectName, filter, lock, hr, pinName, PINDIR_OUTPUT) {}

CBaseOutputPin::~CBaseOutputPin() {
    if (allocator_) allocator_->Release();
    if (input_) input_->Release();
}

HRESULT STDMETHODCALLTYPE CBaseOutputPin::EndOfStream() {
    return E_UNEXPECTED;
}
HRESULT STDMETHODCALLTYPE CBaseOutputPin::BeginFlush() {
    return E_UNEXPECTED;
}
HRESULT STDMETHODCALLTYPE CBaseOutputPin::EndFlush() {
    return E_UNEXPECTED;
}

HRESULT CBaseOutputPin::CheckConnect(IPin* pin) {
    HRESULT hr = CBasePin::CheckConnect(pin);
    if (FAILED(hr)) return hr;
    if (input_) {
        input_->Release();
        input_ = nullptr;
    }
    hr = pin->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&input_));
    if (FAILED(hr)) {
        input_ = nullptr;
        return E_NOINTERFACE;
    }
    return S_OK;
}

HRESULT CBaseOutputPin::CompleteConnect(IPin*) {
    return DecideAllocator(input_, &allocator_);
}

HRESULT CBaseOutputPin::BreakConnect() {
    if (allocator_) {
        allocator_->Decommit();
        allocator_->Release();
        allocator_ = nullptr;
    }
    if (input_) {
        input_->Release();
        input_ = nullptr;
    }
    return S_OK;
}

HRESULT CBaseOutputPin::Active() {
    return allocator_ ? allocator_->Commit() : VFW_E_NO_ALLOCATOR;
}
HRESULT CBaseOutputPin::Inactive() {
    return allocator_ ? allocator_->Decommit() : VFW_E_NO_ALLOCATOR;
}

HRESULT CBaseOutputPin::DecideAllocator(IMemInputPin* pin, IMemAllocator** allocator) {
    *allocator = nullptr;
    ALLOCATOR_PROPERTIES requirements{};
    pin->GetAllocatorRequirements(&requirements);
    if (requirements.cbAlign == 0) requirements.cbAlign = 1;

    // One candidate allocator: sized by DecideBufferSize, then handed to the peer. On
    // failure the candidate is released and *allocator left null.
    auto tryAllocator = [&](HRESULT obtained) {
        HRESULT hr = obtained;
        if (SUCCEEDED(hr) && *allocator) {
            ALLOCATOR_PROPERTIES request = requirements;
            hr = DecideBufferSize(*allocator, &request);
            if (SUCCEEDED(hr)) hr = pin->NotifyAllocator(*allocator, FALSE);
            if (SUCCEEDED(hr)) return S_OK;
        } else if (SUCCEEDED(hr)) {
            hr = E_NOINTERFACE;
        }
        if (*allocator) {
            (*allocator)->Release();
            *allocator = nullptr;
        }
        return hr;
    };
    // The peer's allocator first, then our own.
    if (SUCCEEDED(tryAllocator(pin->GetAllocator(allocator)))) return S_OK;
    return tryAllocator(InitAllocator(allocator));
}

HRESULT CBaseOutputPin::InitAllocator(IMemAllocator** allocator) {
    return CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                            reinterpret_cast<void**>(allocator));
}

HRESULT CBaseOutputPin::GetDeliveryBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop,
                                          DWORD flags) {
    if (!sample) return E_POINTER;
    *sample = nullptr;
    if (!allocator_) return VFW_E_NO_ALLOCATOR;
    return allocator_->GetBuffer(sample, start, stop, flags);
}

HRESULT CBaseOutputPin::Deliver(IMediaSample* sample) {
    if (!input_) return VFW_E_NOT_CONNECTED;
    return input_->Receive(sample);
}

HRESULT CBaseOutputPin::DeliverEndOfStream() {
    return connected_ ? connected_->EndOfStream() : VFW_E_NOT_CONNECTED;
}
HRESULT CBaseOutputPin::DeliverBeginFlush() {
    return connected_ ? connected_->BeginFlush() : VFW_E_NOT_CONNECTED;
}
HRESULT CBaseOutputPin::DeliverEndFlush() {
    return connected_ ? connected_->EndFlush() : VFW_E_NOT_CONNECTED;
}

HRESULT CBaseOutputPin::DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    return connected_ ? connected_->NewSegment(start, stop, rate) : VFW_E_NOT_CONNECTED;
}

HRESULT CBaseOutputPin::QueryAcceptDownstream(const AM_MEDIA_TYPE* type) {
    if (!type) return E_POINTER;
    return connected_ ? connected_->QueryAccept(type) : VFW_E_NOT_CONNECTED;
}

HRESULT CBaseOutputPin::ReconnectThroughGraph(const AM_MEDIA_TYPE* type) {
    IFilterGraph* graph = filter_->Graph();
    if (!graph) return VFW_E_NOT_IN_GRAPH;
    IFilterGraph2* graph2 = nullptr;
    if (SUCCEEDED(graph->QueryInterface(IID_IFilterGraph2, reinterpret_cast<void**>(&graph2)))) {
        const HRESULT hr = graph2->ReconnectEx(this, type);
        graph2->Release();
        return hr;
    }
    return graph->Reconnect(this);
}

// ---- media type list ----

HRESULT MediaTypeListTraits::Fetch(CBasePin* pin, ULONG position, AM_MEDIA_TYPE** type) {
    CMediaType found;
    if (pin->GetMediaType(static_cast<int>(position), &found) != S_OK) return S_FALSE;
    *type = CreateMediaType(&found);
    return *type ? S_OK : E_OUTOFMEMORY;
}
