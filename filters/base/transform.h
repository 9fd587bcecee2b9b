// CTransformFilter: one input pin, one output pin, one output sample per input sample.
// A derived filter supplies the type checks, the output types, the buffer size and
// Transform; the base runs the connection, state and streaming rules:
//
// - The output pin connects only after the input pin; its types come from the filter's
//   GetMediaType and are checked with CheckTransform against the input type.
// - Pause from Stopped runs StartStreaming (under the filter lock) before the pins are
//   made active; Stop makes the input pin inactive first (so upstream Receive calls are
//   refused from then on), takes the receive lock so that a Receive in progress ends,
//   then makes the output pin inactive and runs StopStreaming.
// - Receive, EndOfStream and NewSegment run on the upstream streaming thread under the
//   receive lock and never take the filter lock. BeginFlush and EndFlush come from an
//   application thread under the filter lock; BeginFlush does not take the receive lock
//   (a Receive blocked downstream is released by the flush it forwards), EndFlush does.
#pragma once

#include "filters/base/filter.h"

class CTransformFilter;

class CTransformInputPin : public CBaseInputPin {
public:
    CTransformInputPin(const wchar_t* objectName, CTransformFilter* filter, HRESULT* hr, const wchar_t* pinName);

    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override;
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE BeginFlush() override;
    HRESULT STDMETHODCALLTYPE EndFlush() override;
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

    HRESULT CheckMediaType(const CMediaType* type) override;
    HRESULT SetMediaType(const CMediaType* type) override;
    HRESULT CheckConnect(IPin* pin) override;
    HRESULT BreakConnect() override;
    HRESULT CompleteConnect(IPin* receivePin) override;

protected:
    CTransformFilter* transform_;
};

class CTransformOutputPin : public CBaseOutputPin {
public:
    CTransformOutputPin(const wchar_t* objectName, CTransformFilter* filter, HRESULT* hr, const wchar_t* pinName);

    // Quality messages from downstream go to AlterQuality; S_FALSE from it passes the
    // message on upstream.
    HRESULT STDMETHODCALLTYPE Notify(IBaseFilter* self, Quality q) override;

    HRESULT CheckMediaType(const CMediaType* type) override;
    HRESULT GetMediaType(int position, CMediaType* type) override;
    HRESULT SetMediaType(const CMediaType* type) override;
    HRESULT CheckConnect(IPin* pin) override;
    HRESULT BreakConnect() override;
    HRESULT CompleteConnect(IPin* receivePin) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;

protected:
    CTransformFilter* transform_;
};

class CTransformFilter : public CBaseFilter {
public:
    CTransformFilter(const wchar_t* objectName, IUnknown* outer, REFCLSID clsid);
    ~CTransformFilter() override;

    // Pin 0 is the input, pin 1 the output; both are made on the first call.
    int GetPinCount() override { return 2; }
    CBasePin* GetPin(int n) override;

    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE Pause() override;
    HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR id, IPin** pin) override;

    // What a derived filter decides.
    virtual HRESULT CheckInputType(const CMediaType* input) = 0;
    virtual HRESULT CheckTransform(const CMediaType* input, const CMediaType* output) = 0;
    virtual HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) = 0;
    virtual HRESULT GetMediaType(int position, CMediaType* type) = 0;
    // Fills `out` from `in`; S_FALSE drops the sample (nothing is delivered).
    virtual HRESULT Transform(IMediaSample* in, IMediaSample* out);

    // Hooks with default behaviour.
    virtual HRESULT SetMediaType(PIN_DIRECTION direction, const CMediaType* type);
    virtual HRESULT CheckConnect(PIN_DIRECTION direction, IPin* pin);
    virtual HRESULT BreakConnect(PIN_DIRECTION direction);
    virtual HRESULT CompleteConnect(PIN_DIRECTION direction, IPin* receivePin);
    virtual HRESULT StartStreaming();
    virtual HRESULT StopStreaming();
    // S_FALSE: not handled here, pass the quality message upstream.
    virtual HRESULT AlterQuality(Quality q);

    // Streaming (on the upstream thread, under the receive lock).
    // The base: an output buffer, InitializeOutputSample, Transform, Deliver.
    virtual HRESULT Receive(IMediaSample* sample);
    virtual HRESULT EndOfStream();
    virtual HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);
    // Application thread, under the filter lock.
    virtual HRESULT BeginFlush();
    virtual HRESULT EndFlush();

    // An output buffer carrying the input sample's times and flags.
    HRESULT InitializeOutputSample(IMediaSample* in, IMediaSample** out);

    CTransformInputPin* InputPin() const { return input_; }
    CTransformOutputPin* OutputPin() const { return output_; }
    CCritSec* ReceiveLock() { return &receiveLock_; }

protected:
    // Make the pins (on the first GetPin); a filter with its own pin classes makes them
    // here. Null or a failed *hr: GetPin makes no pins.
    virtual CTransformInputPin* NewInputPin(HRESULT* hr);
    virtual CTransformOutputPin* NewOutputPin(HRESULT* hr);

    CCritSec filterLock_;
    CCritSec receiveLock_;
    CTransformInputPin* input_ = nullptr;
    CTransformOutputPin* output_ = nullptr;
    bool streaming_ = false;      // between StartStreaming and StopStreaming
    bool sampleSkipped_ = false;  // the last Transform dropped its sample
    bool eosDelivered_ = false;
};
