// The H.264 encoder filter: an input pin taking YUV (planar 4:2:0, packed 4:2:2) or RGB
// pictures, the encoder core behind its facade, and an output pin giving the H.264 byte
// stream with start codes. Its settings record lives behind IKestruneConfig (GUID-keyed
// values, stream and registry persistence) and IEncoderSettings (the whole record).
//
// Locks, always taken in this order: the filter lock (state changes, OnChange), the
// receive lock (the streaming thread), the encode lock (the facade, the encoder block, the
// streaming state), the configuration's values lock (the bound settings record; held
// only while copying). The streaming thread never takes the filter lock.
//
// The stored settings record is the user's: nothing that happens at run time (input
// types, measured rates) writes into it. The effective rates live in the filter's state
// and reach the core in its copy of the parameter words.
#pragma once

#include <windows.h>
#include <strmif.h>
#include <ocidl.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "filters/base/transform.h"
#include "filters/config/config_impl.h"
#include "filters/encoder/core/encoder_block.h"
#include "filters/encoder/encoder_interface.h"
#include "filters/encoder/encoder_settings.h"
#include "filters/encoder/input_convert.h"

namespace ombrisk {

class COmbriskoder;
class CEncoderFilter;

// Side data that travels with each picture through the core (24 bytes).
struct FrameSideData {
    int64_t start = 0;  // 100 ns
    int64_t stop = 0;
    uint32_t flags = 0;  // FrameSideFlag bits
    uint32_t unused = 0;
};
static_assert(sizeof(FrameSideData) == 24);
enum FrameSideFlag : uint32_t {
    kSideSync = 1,
    kSidePreroll = 2,
    kSideDiscontinuity = 4,
    kSideStartValid = 8,
    kSideStopValid = 16,
};

class CEncoderConfig final : public kestrune::CKestruneConfig<kestrune::EncoderBuild, EncoderSettings> {
public:
    CEncoderConfig(CEncoderFilter* filter, IUnknown* owner, EncoderSettings* record);
    // Answers the four read-only streaming values before the list is searched.
    HRESULT STDMETHODCALLTYPE GetValue(const GUID* key, VARIANT* value) override;
    HRESULT CheckVersion() override { return Version() == kStreamVersion ? S_OK : E_FAIL; }
    HRESULT OnChange(VARIANT* message) override;

    static constexpr uint32_t kStreamVersion = 21;

private:
    CEncoderFilter* filter_;
};

class CEncoderFilter final : public CTransformFilter, public ISpecifyPropertyPages, public IEncoderSettings {
public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* hr);

    FILTERBASE_DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** out) override;

    // IBaseFilter: the fixed filter name, whatever the graph called it; the vendor text.
    HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO* info) override;
    HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR* info) override;
    // ISpecifyPropertyPages: About, Main settings, Advanced settings.
    HRESULT STDMETHODCALLTYPE GetPages(CAUUID* pages) override;
    // IEncoderSettings
    HRESULT STDMETHODCALLTYPE GetSettings(int32_t* words) override;
    HRESULT STDMETHODCALLTYPE SetSettings(int32_t* words) override;
    HRESULT STDMETHODCALLTYPE IsStreaming(ULONG* streaming) override;
    HRESULT STDMETHODCALLTYPE GetFrameRate(ULONG* rate100) override;
    HRESULT STDMETHODCALLTYPE GetCodedLevel(ULONG* level) override;

    HRESULT CheckInputType(const CMediaType* input) override;
    HRESULT CheckTransform(const CMediaType* input, const CMediaType* output) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
    HRESULT GetMediaType(int position, CMediaType* type) override;
    HRESULT SetMediaType(PIN_DIRECTION direction, const CMediaType* type) override;
    HRESULT StartStreaming() override;
    HRESULT StopStreaming() override;
    HRESULT Receive(IMediaSample* sample) override;
    HRESULT EndOfStream() override;

    // The configuration's change hook: validates the record and applies it (stopped), or
    // applies what may change while streaming and refuses structural changes.
    HRESULT OnChange(VARIANT* message);
    // The read-only values of the configuration.
    HRESULT ReadOnlyValue(const GUID& key, VARIANT* value);

    // Set by the input pin while it connects: what the upstream pin offers.
    void SetOffered(bool planar, bool videoInfo2) {
        planarOffered_ = planar;
        videoInfo2Offered_ = videoInfo2;
    }

private:
    explicit CEncoderFilter(IUnknown* outer);
    ~CEncoderFilter() override;
    HRESULT InitializeFilter();
    CTransformInputPin* NewInputPin(HRESULT* hr) override;
    CTransformOutputPin* NewOutputPin(HRESULT* hr) override;

    EncoderSettings SettingsCopy() const;
    // The output type for the current input, rates and sequence header.
    HRESULT BuildOutputType(CMediaType* type);
    // Stores the record's parameter words (with the effective frame rate) in the encoder
    // block; under the encode lock.
    HRESULT ApplyToBlock(const EncoderSettings& settings);
    // Creates the facade on the block and reads its sequence header; under the encode lock.
    HRESULT StartEncoder();
    // Streaming thread: a new encoder on the running record (a new IDR period); the next
    // sample carries the output type when the parameter sets changed.
    HRESULT RestartEncoder();

    // Streaming thread, under the encode lock.
    HRESULT EncodeReady();
    HRESULT DeliverChunk(const uint8_t* data, size_t length, const FrameSideData& side);
    HRESULT Drain();
    HRESULT Fail(HRESULT hr);

    CEncoderConfig config_;
    EncoderSettings settings_;  // the user's record, bound to the configuration's values
    bool planarOffered_ = false;
    bool videoInfo2Offered_ = false;

    // Input, set while stopped by the input type.
    InputLayout layout_;
    int aspectX_ = 0, aspectY_ = 0;
    bool interlaced_ = false;
    int64_t typeDuration_ = 400000;  // the input type's frame duration
    int32_t inputRate100_ = 0;       // the input type's frame rate x 100

    // Streaming state, under encodeLock_.
    mutable CCritSec encodeLock_;
    EncoderBlock block_;
    EncoderSettings running_;  // the record the running encoder codes with
    EncoderSettings pending_;  // committed while streaming, for the next GOP
    bool pendingChange_ = false;
    StreamRates rates_;
    std::unique_ptr<COmbriskoder> encoder_;
    std::vector<uint8_t> picture_;
    std::vector<uint8_t> sequenceHeader_;
    uint32_t received_ = 0;
    uint32_t coded_ = 0;
    bool rateDetectionDone_ = false;
    bool typeForNextSample_ = false;  // the next delivered sample carries sampleType_
    CMediaType sampleType_;
    std::atomic<int32_t> completed_{0};
    std::atomic<uint32_t> startTick_{0};
    std::atomic<uint32_t> lastTick_{0};
    std::atomic<int32_t> sourceRate100_{0};
    std::atomic<int32_t> codedLevel_{0};  // 0 while no encoder runs
};

}  // namespace ombrisk
