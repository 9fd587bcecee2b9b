#include "filters/base/transform.h"

#include <evcode.h>

#include <new>

// ---- CTransformInputPin ----

CTransformInputPin::CTransformInputPin(const wchar_t* objectName, CTransformFilter* filter, HRESULT* hr,
                                       const wchar_t* pinName)
    : CBaseInputPin(objectName, filter, filter->FilterLock(), hr, pinName), transform_(filter) {}

HRESULT STDMETHODCALLTYPE CTransformInputPin::Receive(IMediaSample* sample) {
    CAutoLock lock(transform_->ReceiveLock());
    HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK) return hr;
    return transform_->Receive(sample);
}

HRESULT STDMETHODCALLTYPE CTransformInputPin::EndOfStream() {
    CAutoLock lock(transform_->ReceiveLock());
    const HRESULT hr = CheckStreaming();
    if (hr != S_OK) return hr;
    return transform_->EndOfStream();
}

HRESULT STDMETHODCALLTYPE CTransformInputPin::BeginFlush() {
    CAutoLock lock(lock_);
    if (!IsConnected() || !transform_->OutputPin()->IsConnected()) return VFW_E_NOT_CONNECTED;
    CBaseInputPin::BeginFlush();
    return transform_->BeginFlush();
}

HRESULT STDMETHODCALLTYPE CTransformInputPin::EndFlush() {
    CAutoLock lock(lock_);
    if (!IsConnected() || !transform_->OutputPin()->IsConnected()) return VFW_E_NOT_CONNECTED;
    // Wait for a Receive in progress (now refused downstream) to leave, so that no
    // sample from before the flush is delivered after it.
    { CAutoLock receiving(transform_->ReceiveLock()); }
    const HRESULT hr = transform_->EndFlush();
    CBaseInputPin::EndFlush();
    return hr;
}

HRESULT STDMETHODCALLTYPE CTransformInputPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    CBasePin::NewSegment(start, stop, rate);
    return transform_->NewSegment(start, stop, rate);
}

HRESULT CTransformInputPin::CheckMediaType(const CMediaType* type) {
    HRESULT hr = transform_->CheckInputType(type);
    if (hr != S_OK) return hr;
    // With the output connected, the new input type must still give its type.
    CTransformOutputPin* output = transform_->OutputPin();
    if (output && output->IsConnected()) return transform_->CheckTransform(type, &output->CurrentMediaType());
    return S_OK;
}

HRESULT CTransformInputPin::SetMediaType(const CMediaType* type) {
    HRESULT hr = CBaseInputPin::SetMediaType(type);
    if (FAILED(hr)) return hr;
    return transform_->SetMediaType(PINDIR_INPUT, type);
}

HRESULT CTransformInputPin::CheckConnect(IPin* pin) {
    const HRESULT hr = transform_->CheckConnect(PINDIR_INPUT, pin);
    if (FAILED(hr)) return hr;
    return CBaseInputPin::CheckConnect(pin);
}

HRESULT CTransformInputPin::BreakConnect() {
    transform_->BreakConnect(PINDIR_INPUT);
    return CBaseInputPin::BreakConnect();
}

HRESULT CTransformInputPin::CompleteConnect(IPin* receivePin) {
    const HRESULT hr = transform_->CompleteConnect(PINDIR_INPUT, receivePin);
    if (FAILED(hr)) return hr;
    return CBaseInputPin::CompleteConnect(receivePin);
}

// ---- CTransformOutputPin ----

CTransformOutputPin::CTransformOutputPin(const wchar_t* objectName, CTransformFilter* filter, HRESULT* hr,
                                         const wchar_t* pinName)
    : CBaseOutputPin(objectName, filter, filter->FilterLock(), hr, pinName), transform_(filter) {}

HRESULT STDMETHODCALLTYPE CTransformOutputPin::Notify(IBaseFilter*, Quality q) {
    const HRESULT hr = transform_->AlterQuality(q);
    if (hr != S_FALSE) return hr;
    // Pass it upstream, to the sink named by SetSink or to the pin feeding our input.
    if (qualitySink_) return qualitySink_->Notify(transform_, q);
    IPin* upstream = transform_->InputPin()->GetConnected();
    if (!upstream) return VFW_E_NOT_FOUND;
    IQualityControl* control = nullptr;
    if (FAILED(upstream->QueryInterface(IID_IQualityControl, reinterpret_cast<void**>(&control))))
        return VFW_E_NOT_FOUND;
    const HRESULT passed = control->Notify(transform_, q);
    control->Release();
    return passed;
}

HRESULT CTransformOutputPin::CheckMediaType(const CMediaType* type) {
    CTransformInputPin* input = transform_->InputPin();
    if (!input->IsConnected()) return E_INVALIDARG;
    return transform_->CheckTransform(&input->CurrentMediaType(), type);
}

HRESULT CTransformOutputPin::GetMediaType(int position, CMediaType* type) {
    if (!transform_->InputPin()->IsConnected()) return E_UNEXPECTED;
    return transform_->GetMediaType(position, type);
}

HRESULT CTransformOutputPin::SetMediaType(const CMediaType* type) {
    HRESULT hr = CBaseOutputPin::SetMediaType(type);
    if (FAILED(hr)) return hr;
    return transform_->SetMediaType(PINDIR_OUTPUT, type);
}

HRESULT CTransformOutputPin::CheckConnect(IPin* pin) {
    // The output types follow from the input type.
    if (!transform_->InputPin()->IsConnected()) return E_UNEXPECTED;
    const HRESULT hr = transform_->CheckConnect(PINDIR_OUTPUT, pin);
    if (FAILED(hr)) return hr;
    return CBaseOutputPin::CheckConnect(pin);
}

HRESULT CTransformOutputPin::BreakConnect() {
    transform_->BreakConnect(PINDIR_OUTPUT);
    return CBaseOutputPin::BreakConnect();
}

HRESULT CTransformOutputPin::CompleteConnect(IPin* receivePin) {
    const HRESULT hr = transform_->CompleteConnect(PINDIR_OUTPUT, receivePin);
    if (FAILED(hr)) return hr;
    return CBaseOutputPin::CompleteConnect(receivePin);
}

HRESULT CTransformOutputPin::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
    return transform_->DecideBufferSize(allocator, request);
}

// ---- CTransformFilter ----

CTransformFilter::CTransformFilter(const wchar_t* objectName, IUnknown* outer, REFCLSID clsid)
    : CBaseFilter(objectName, outer, &filterLock_, clsid) {}

CTransformFilter::~CTransformFilter() {
    delete output_;
    delete input_;
}

CBasePin* CTransformFilter::GetPin(int n) {
    if (!input_) {
        HRESULT hr = S_OK;
        input_ = NewInputPin(&hr);
        if (!input_ || FAILED(hr)) {
            delete input_;
            input_ = nullptr;
            return nullptr;
        }
        output_ = NewOutputPin(&hr);
        if (!output_ || FAILED(hr)) {
            delete output_;
            output_ = nullptr;
            delete input_;
            input_ = nullptr;
            return nullptr;
        }
    }
    if (n == 0) return input_;
    if (n == 1) return output_;
    return nullptr;
}

CTransformInputPin* CTransformFilter::NewInputPin(HRESULT* hr) {
    return new (std::nothrow) CTransformInputPin(L"transform input pin", this, hr, L"XForm In");
}

CTransformOutputPin* CTransformFilter::NewOutputPin(HRESULT* hr) {
    return new (std::nothrow) CTransformOutputPin(L"transform output pin", this, hr, L"XForm Out");
}

HRESULT STDMETHODCALLTYPE CTransformFilter::FindPin(LPCWSTR id, IPin** pin) {
    if (!id || !pin) return E_POINTER;
    // The pins answer to "In" and "Out" as well as their names.
    if (wcscmp(id, L"In") == 0 || wcscmp(id, L"Out") == 0) {
        CBasePin* found = GetPin(id[0] == L'I' ? 0 : 1);
        *pin = found;
        if (!found) return VFW_E_NOT_FOUND;
        found->AddRef();
        return S_OK;
    }
    return CBaseFilter::FindPin(id, pin);
}

HRESULT STDMETHODCALLTYPE CTransformFilter::Stop() {
    CAutoLock lock(&filterLock_);
    if (state_ == State_Stopped) return S_OK;
    if (!input_ || !input_->IsConnected() || !output_->IsConnected()) {
        state_ = State_Stopped;
        eosDelivered_ = false;
        return S_OK;
    }
    // Refuse new samples, then wait for the one in progress to leave.
    input_->Inactive();
    CAutoLock receiving(&receiveLock_);
    output_->Inactive();
    HRESULT hr = S_OK;
    if (streaming_) {
        hr = StopStreaming();
        streaming_ = false;
    }
    state_ = State_Stopped;
    eosDelivered_ = false;
    return hr;
}

HRESULT STDMETHODCALLTYPE CTransformFilter::Pause() {
    CAutoLock lock(&filterLock_);
    HRESULT hr = S_OK;
    if (state_ == State_Paused) return S_OK;
    if (input_ && input_->IsConnected() && output_->IsConnected() && state_ == State_Stopped) {
        hr = StartStreaming();
        if (FAILED(hr)) return hr;
        streaming_ = true;
    } else if (input_ && !input_->IsConnected() && output_ && output_->IsConnected() && !eosDelivered_) {
        // Nothing will ever arrive: tell downstream at once.
        output_->DeliverEndOfStream();
        eosDelivered_ = true;
    }
    hr = CBaseFilter::Pause();
    if (FAILED(hr) && streaming_ && state_ == State_Stopped) {
        StopStreaming();
        streaming_ = false;
    }
    return hr;
}

HRESULT CTransformFilter::Transform(IMediaSample*, IMediaSample*) {
    return E_UNEXPECTED;
}
HRESULT CTransformFilter::SetMediaType(PIN_DIRECTION, const CMediaType*) {
    return S_OK;
}
HRESULT CTransformFilter::CheckConnect(PIN_DIRECTION, IPin*) {
    return S_OK;
}
HRESULT CTransformFilter::BreakConnect(PIN_DIRECTION) {
    return S_OK;
}
HRESULT CTransformFilter::StartStreaming() {
    return S_OK;
}
HRESULT CTransformFilter::StopStreaming() {
    return S_OK;
}
HRESULT CTransformFilter::AlterQuality(Quality) {
    return S_FALSE;
}

HRESULT CTransformFilter::CompleteConnect(PIN_DIRECTION direction, IPin*) {
    // A new input type may change what the output gives: reconnect the output when it
    // is connected with a type the transform no longer produces.
    if (direction == PINDIR_INPUT && output_ && output_->IsConnected()) {
        if (CheckTransform(&input_->CurrentMediaType(), &output_->CurrentMediaType()) != S_OK)
            return output_->ReconnectThroughGraph(nullptr);
    }
    return S_OK;
}

HRESULT CTransformFilter::InitializeOutputSample(IMediaSample* in, IMediaSample** out) {
    *out = nullptr;
    const AM_SAMPLE2_PROPERTIES& props = input_->SampleProps();
    const DWORD flags = (props.dwSampleFlags & AM_SAMPLE_SPLICEPOINT) ? 0 : AM_GBF_NOTASYNCPOINT;
    HRESULT hr = output_->GetDeliveryBuffer(
        out, (props.dwSampleFlags & AM_SAMPLE_TIMEVALID) ? const_cast<REFERENCE_TIME*>(&props.tStart) : nullptr,
        (props.dwSampleFlags & AM_SAMPLE_STOPVALID) ? const_cast<REFERENCE_TIME*>(&props.tStop) : nullptr, flags);
    if (FAILED(hr)) return hr;
    IMediaSample* sample = *out;
    if (props.dwSampleFlags & AM_SAMPLE_TIMEVALID)
        sample->SetTime(const_cast<REFERENCE_TIME*>(&props.tStart), (props.dwSampleFlags & AM_SAMPLE_STOPVALID)
                                                                        ? const_cast<REFERENCE_TIME*>(&props.tStop)
                                                                        : nullptr);
    else
        sample->SetTime(nullptr, nullptr);
    sample->SetSyncPoint((props.dwSampleFlags & AM_SAMPLE_SPLICEPOINT) != 0);
    sample->SetPreroll((props.dwSampleFlags & AM_SAMPLE_PREROLL) != 0);
    sample->SetDiscontinuity((props.dwSampleFlags & AM_SAMPLE_DATADISCONTINUITY) != 0 || sampleSkipped_);
    REFERENCE_TIME mediaStart = 0, mediaStop = 0;
    if (in->GetMediaTime(&mediaStart, &mediaStop) == S_OK)
        sample->SetMediaTime(&mediaStart, &mediaStop);
    else
        sample->SetMediaTime(nullptr, nullptr);
    // Field flags and the other type-specific flags travel with the picture.
    IMediaSample2* out2 = nullptr;
    if (SUCCEEDED(sample->QueryInterface(IID_IMediaSample2, reinterpret_cast<void**>(&out2)))) {
        AM_SAMPLE2_PROPERTIES outProps{};
        if (SUCCEEDED(out2->GetProperties(sizeof(outProps), reinterpret_cast<BYTE*>(&outProps)))) {
            outProps.dwTypeSpecificFlags = props.dwTypeSpecificFlags;
            out2->SetProperties(sizeof(outProps), reinterpret_cast<BYTE*>(&outProps));
        }
        out2->Release();
    }
    return S_OK;
}

HRESULT CTransformFilter::Receive(IMediaSample* sample) {
    // Samples of another stream (control data) pass straight through.
    if (input_->SampleProps().dwStreamId != AM_STREAM_MEDIA) return output_->Deliver(sample);
    IMediaSample* out = nullptr;
    HRESULT hr = InitializeOutputSample(sample, &out);
    if (FAILED(hr)) return hr;
    hr = Transform(sample, out);
    if (hr == S_OK) {
        hr = output_->Deliver(out);
        sampleSkipped_ = false;
    } else if (hr == S_FALSE) {
        // A dropped sample: the next one delivered is marked as a discontinuity.
        sampleSkipped_ = true;
        hr = S_OK;
    } else {
        // A failed transform stops this stream; the graph is told once.
        input_->SetRuntimeError();
        NotifyEvent(EC_ERRORABORT, hr, 0);
    }
    out->Release();
    return hr;
}

HRESULT CTransformFilter::EndOfStream() {
    return output_->DeliverEndOfStream();
}
HRESULT CTransformFilter::BeginFlush() {
    return output_->DeliverBeginFlush();
}
HRESULT CTransformFilter::EndFlush() {
    return output_->DeliverEndFlush();
}

HRESULT CTransformFilter::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    return output_->DeliverNewSegment(start, stop, rate);
}
