// Pins: CBasePin (IPin and the connection protocol), CBaseInputPin (IMemInputPin, the
// receiving side of streaming) and CBaseOutputPin (allocator negotiation and delivery),
// with the media-type enumerator of a pin.
//
// A pin shares its filter's reference count: AddRef and Release on a pin go to the
// filter, and the filter deletes its pins when it is destroyed.
//
// Connection protocol, as IPin::Connect runs it on the output side (every step under the
// filter lock):
//   1. checks, in this order: null pin (E_POINTER); the peer's direction equals ours
//      (VFW_E_INVALID_DIRECTION); already connected (VFW_E_ALREADY_CONNECTED); the filter
//      is not stopped (VFW_E_NOT_STOPPED);
//   2. types: a fully specified type is the only one tried; otherwise the peer's types
//      (those matching a partial type), then ours; VFW_E_NO_ACCEPTABLE_TYPES when none
//      gives a connection;
//   3. one attempt: CheckConnect, CheckMediaType, SetMediaType, the peer's
//      ReceiveConnection, CompleteConnect (the output pin decides its allocator here).
//      A failure after the peer accepted disconnects the peer again, and every failure
//      runs BreakConnect and clears the connection and type, so a failed attempt leaves
//      both pins as they were.
// The receiving side (ReceiveConnection) makes the same checks in the same order, then
// CheckConnect, CheckMediaType, SetMediaType and CompleteConnect, and rolls back alike.
//
// Streaming: Receive, EndOfStream, NewSegment and the Deliver* calls run on the streaming
// thread and never take the filter lock (see locks.h). Connection fields are changed
// only while the filter is stopped, when no streaming thread runs, so the streaming
// thread reads them without a lock.
#pragma once

#include <windows.h>
#include <strmif.h>
#include <evcode.h>
#include <vfwmsgs.h>

#include <atomic>
#include <string>

#include "filters/base/com_object.h"
#include "filters/base/enumerator.h"
#include "filters/base/locks.h"
#include "filters/base/media_type.h"

class CBaseFilter;

class CBasePin : public CUnknown, public IPin, public IQualityControl {
public:
    // `lock` is the filter lock. `hr` is left alone (no construction step can fail);
    // it stays in the signature for derived pins that can fail.
    CBasePin(const wchar_t* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* hr, const wchar_t* pinName,
             PIN_DIRECTION direction);
    ~CBasePin() override;

    FILTERBASE_DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** out) override;
    // Counted on the filter.
    ULONG STDMETHODCALLTYPE NonDelegatingAddRef() override;
    ULONG STDMETHODCALLTYPE NonDelegatingRelease() override;

    // IPin
    HRESULT STDMETHODCALLTYPE Connect(IPin* receivePin, const AM_MEDIA_TYPE* type) override;
    HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override;
    HRESULT STDMETHODCALLTYPE Disconnect() override;
    HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** pin) override;
    HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE* type) override;
    HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO* info) override;
    HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* direction) override;
    HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* id) override;
    HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE* type) override;
    HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes** types) override;
    HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin** pins, ULONG* count) override;
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

    // IQualityControl: the base answers E_NOTIMPL to Notify and remembers the sink.
    HRESULT STDMETHODCALLTYPE Notify(IBaseFilter* self, Quality q) override;
    HRESULT STDMETHODCALLTYPE SetSink(IQualityControl* sink) override;

    // What a derived pin decides.
    // S_OK when the pin takes `type`; any other answer refuses it.
    virtual HRESULT CheckMediaType(const CMediaType* type) = 0;
    // The pin's preferred types by position: S_OK, VFW_S_NO_MORE_ITEMS past the last,
    // E_INVALIDARG below 0. The base has none.
    virtual HRESULT GetMediaType(int position, CMediaType* type);
    // Stores the connection type.
    virtual HRESULT SetMediaType(const CMediaType* type);
    // Before types are tried; a failure ends the attempt.
    virtual HRESULT CheckConnect(IPin* pin);
    // Undoes CheckConnect and CompleteConnect; runs on every disconnection and rollback.
    virtual HRESULT BreakConnect();
    virtual HRESULT CompleteConnect(IPin* receivePin);
    // Filter state changes: Active on Stopped to Paused, Inactive on any state to
    // Stopped, Run on Paused to Running. Called for connected pins only.
    virtual HRESULT Active();
    virtual HRESULT Inactive();
    virtual HRESULT Run(REFERENCE_TIME start);

    bool IsConnected() const { return connected_ != nullptr; }
    IPin* GetConnected() const { return connected_; }
    const CMediaType& CurrentMediaType() const { return type_; }
    const std::wstring& Name() const { return name_; }
    PIN_DIRECTION Direction() const { return direction_; }
    CBaseFilter* Filter() const { return filter_; }
    bool IsStopped() const;
    // Bumped when the list of GetMediaType changes; enumerators made earlier then
    // answer VFW_E_ENUM_OUT_OF_SYNC.
    LONG TypeVersion() const { return typeVersion_.load(); }
    void IncrementTypeVersion() { ++typeVersion_; }
    REFERENCE_TIME SegmentStart() const { return segmentStart_; }
    REFERENCE_TIME SegmentStop() const { return segmentStop_; }
    double SegmentRate() const { return segmentRate_; }

protected:
    // Connection internals for pins that extend the protocol (dynamic reconnection).
    HRESULT AttemptConnection(IPin* receivePin, const CMediaType* type);
    // Releases the connection and runs BreakConnect (the filter lock held).
    HRESULT DisconnectInternal();

    CBaseFilter* filter_;
    CCritSec* lock_;
    std::wstring name_;
    PIN_DIRECTION direction_;
    IPin* connected_ = nullptr;
    CMediaType type_;
    IQualityControl* qualitySink_ = nullptr;  // not counted, as the interface asks
    REFERENCE_TIME segmentStart_ = 0;
    REFERENCE_TIME segmentStop_ = 0x7FFFFFFFFFFFFFFFll;
    double segmentRate_ = 1.0;

private:
    // The checks after the null pin, in their order: direction, already connected,
    // stopped (the filter lock held).
    HRESULT CheckConnectable(IPin* peer);
    HRESULT AgreeMediaType(IPin* receivePin, const CMediaType* partial);
    HRESULT TryMediaTypes(IPin* receivePin, const CMediaType* partial, IEnumMediaTypes* types, HRESULT* last);

    std::atomic<LONG> typeVersion_{1};
};

class CBaseInputPin : public CBasePin, public IMemInputPin {
public:
    CBaseInputPin(const wchar_t* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* hr, const wchar_t* pinName);
    ~CBaseInputPin() override;

    FILTERBASE_DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** out) override;

    // IPin: streaming calls from upstream. EndOfStream in the base answers the
    // streaming check; flushing sets and clears the flushing flag.
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE BeginFlush() override;
    HRESULT STDMETHODCALLTYPE EndFlush() override;

    // IMemInputPin
    // Offers the pin's allocator (a system memory allocator, created on first use).
    HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator** allocator) override;
    HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override;
    HRESULT STDMETHODCALLTYPE GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) override;
    // The base checks the streaming state and reads the sample's properties (through
    // IMediaSample2 when the sample has it) into SampleProps(); a derived pin calls it
    // first and handles the sample when it answers S_OK. A sample that changes the type
    // to one CheckMediaType refuses: VFW_E_INVALIDMEDIATYPE.
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override;
    HRESULT STDMETHODCALLTYPE ReceiveMultiple(IMediaSample** samples, long count, long* processed) override;
    // S_OK: Receive may block. A pin that never blocks answers S_FALSE.
    HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override;

    // S_OK while samples may be received; S_FALSE while flushing;
    // VFW_E_NOT_CONNECTED, VFW_E_WRONG_STATE (stopped), VFW_E_RUNTIME_ERROR otherwise.
    HRESULT CheckStreaming();
    // After an error the pin refuses samples until the next flush or stop.
    void SetRuntimeError() { runtimeError_ = true; }
    bool IsFlushing() const { return flushing_; }
    bool IsReadOnly() const { return readOnly_; }
    IMemAllocator* Allocator() const { return allocator_; }
    // Properties of the sample being received (valid during Receive).
    const AM_SAMPLE2_PROPERTIES& SampleProps() const { return props_; }

    HRESULT BreakConnect() override;
    HRESULT Inactive() override;

protected:
    IMemAllocator* allocator_ = nullptr;
    bool readOnly_ = false;
    std::atomic<bool> flushing_{false};
    std::atomic<bool> runtimeError_{false};
    AM_SAMPLE2_PROPERTIES props_{};
    CMediaType propsType_;  // owns the type of a sample read without IMediaSample2
};

class CBaseOutputPin : public CBasePin {
public:
    CBaseOutputPin(const wchar_t* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* hr, const wchar_t* pinName);
    ~CBaseOutputPin() override;

    // An output pin receives no stream calls: E_UNEXPECTED.
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE BeginFlush() override;
    HRESULT STDMETHODCALLTYPE EndFlush() override;

    // Takes the peer's IMemInputPin (E_NOINTERFACE without one).
    HRESULT CheckConnect(IPin* pin) override;
    // Decides the allocator; a failure makes the connection roll back.
    HRESULT CompleteConnect(IPin* receivePin) override;
    HRESULT BreakConnect() override;
    // Commit and decommit the allocator (VFW_E_NO_ALLOCATOR without one).
    HRESULT Active() override;
    HRESULT Inactive() override;

    // Sets the allocator's buffer count, size and alignment. `request` holds the peer's
    // requirements (zero where it has none); the derived pin calls SetProperties and
    // checks what it was granted.
    virtual HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) = 0;
    // The peer's allocator first, then one of our own (InitAllocator); for each,
    // DecideBufferSize and the peer's NotifyAllocator. On failure *allocator is null.
    virtual HRESULT DecideAllocator(IMemInputPin* pin, IMemAllocator** allocator);
    // A system memory allocator.
    virtual HRESULT InitAllocator(IMemAllocator** allocator);

    // Streaming thread: a buffer from the allocator (may block until one is free;
    // fails with VFW_E_NOT_COMMITTED once the pin is inactive).
    HRESULT GetDeliveryBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop, DWORD flags);
    HRESULT Deliver(IMediaSample* sample);
    HRESULT DeliverEndOfStream();
    HRESULT DeliverBeginFlush();
    HRESULT DeliverEndFlush();
    HRESULT DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);

    // Dynamic reconnection: whether the peer would take `type` now (its QueryAccept),
    // and a reconnection through the filter graph with `type` (IFilterGraph2::ReconnectEx,
    // or IFilterGraph::Reconnect when the graph has no IFilterGraph2).
    HRESULT QueryAcceptDownstream(const AM_MEDIA_TYPE* type);
    HRESULT ReconnectThroughGraph(const AM_MEDIA_TYPE* type);

    IMemAllocator* Allocator() const { return allocator_; }
    IMemInputPin* InputPin() const { return input_; }

protected:
    IMemAllocator* allocator_ = nullptr;
    IMemInputPin* input_ = nullptr;
};

// IEnumMediaTypes over a pin's GetMediaType list. Holds a reference on the pin's filter.
struct MediaTypeListTraits {
    using Interface = IEnumMediaTypes;
    using Owner = CBasePin;
    using Item = AM_MEDIA_TYPE*;
    static const IID& Iid() { return IID_IEnumMediaTypes; }
    static LONG Version(CBasePin* pin) { return pin->TypeVersion(); }
    static HRESULT Fetch(CBasePin* pin, ULONG position, AM_MEDIA_TYPE** type);
    static void Free(AM_MEDIA_TYPE* type) { DeleteMediaType(type); }
};
using CEnumMediaTypes = CListEnumerator<MediaTypeListTraits>;
