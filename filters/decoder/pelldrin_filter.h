// The H.264 decoder filter: an input pin taking an H.264 byte stream or 'AVC1'
// length-prefixed NAL units, the decoder core, and an output pin delivering YUV or RGB
// pictures through the colour converter, with times and field flags from the stream.
// Its settings are values of the configuration framework behind IKestruneConfig.
#pragma once

#include <windows.h>
#include <strmif.h>
#include <ocidl.h>

#include <atomic>
#include <cstdint>
#include <vector>

#include "filters/base/transform.h"
#include "filters/config/config_impl.h"
#include "filters/decoder/colour_convert.h"
#include "filters/decoder/decoder_settings.h"
#include "filters/decoder/output_pin.h"

namespace avcdec {
struct AvcDecoderContext;
struct PictureRecord;
}  // namespace avcdec

namespace pelldrin {

class CPelldrinoder;

// The filter's configuration object: the six settings, the read-only picture value, and
// the registry methods of the decoder's build.
class CDemuxConfig final : public kestrune::CKestruneConfig<kestrune::DecoderBuild, EConfig> {
public:
    CDemuxConfig(CPelldrinoder* filter, IUnknown* owner, EConfig* record);

    HRESULT STDMETHODCALLTYPE GetValue(const GUID* key, VARIANT* value) override;
    // Values with a registry name as REG_DWORD (integers) or REG_SZ (text) under
    // root\subkey; the decoder's values have none, so these only open the key.
    virtual HRESULT STDMETHODCALLTYPE SaveValuesToRegistry(HKEY root, const char* subkey);
    virtual HRESULT STDMETHODCALLTYPE LoadValuesFromRegistry(HKEY root, const char* subkey);

    HRESULT CheckVersion() override { return Version() == 1 ? S_OK : E_FAIL; }
    HRESULT OnChange(VARIANT* message) override;

private:
    CPelldrinoder* filter_;
};

class CPelldrinoder final : public CTransformFilter, public ISpecifyPropertyPages {
public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* hr);

    FILTERBASE_DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** out) override;
    // ISpecifyPropertyPages: the About page, then the settings page.
    HRESULT STDMETHODCALLTYPE GetPages(CAUUID* pages) override;

    HRESULT STDMETHODCALLTYPE Stop() override;

    HRESULT CheckInputType(const CMediaType* input) override;
    HRESULT CheckTransform(const CMediaType* input, const CMediaType* output) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
    HRESULT GetMediaType(int position, CMediaType* type) override;
    HRESULT SetMediaType(PIN_DIRECTION direction, const CMediaType* type) override;
    HRESULT CheckConnect(PIN_DIRECTION, IPin*) override { return S_OK; }
    HRESULT StartStreaming() override;
    HRESULT StopStreaming() override;
    HRESULT AlterQuality(Quality q) override;
    HRESULT Receive(IMediaSample* sample) override;
    HRESULT EndOfStream() override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;
    HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

    // Applies the settings record (OnChange of the configuration).
    HRESULT ApplySettings();
    // The read-only picture value: E_FAIL without a core or a picture (never reads the
    // core from the caller's thread).
    HRESULT PictureValue(int* value) const;

    // For tests: frames delivered and pictures dropped since streaming started.
    LONG FramesDelivered() const { return framesDelivered_.load(); }
    int CurrentSkipLevel() const { return currentSkipLevel_.load(); }
    REFERENCE_TIME Lateness() const { return lateness_.load(); }

private:
    explicit CPelldrinoder(IUnknown* outer);
    ~CPelldrinoder() override;
    HRESULT InitializeFilter();
    CTransformOutputPin* NewOutputPin(HRESULT* hr) override;

    CH264OutputPin* Output() const { return static_cast<CH264OutputPin*>(output_); }
    EConfig AppliedSettings() const;
    // The output geometry is written by the streaming thread (and by type changes while
    // stopped) under the decoder lock; other threads read a copy.
    OutputGeometry Geometry() const;
    void SetGeometry(const OutputGeometry& geometry);

    // Streaming thread.
    enum class Next { go, stopBuffer };
    void ResetDecoding();
    HRESULT DecodeBuffer(const uint8_t* data, size_t length, int64_t timeStamp);
    HRESULT DecodeNalUnit(const uint8_t* data, size_t length, int64_t timeStamp);
    HRESULT HandleStepCode(int code, Next* next);
    HRESULT DeliverReady();
    HRESULT DeliverPicture(avcdec::PictureRecord* picture);
    HRESULT DeliverConverted(avcdec::PictureRecord* picture, REFERENCE_TIME start, REFERENCE_TIME stop,
                             DWORD fieldFlags);
    HRESULT DrainAtEndOfStream();
    void ComputeOutputFormat(OutputGeometry* out) const;
    HRESULT RenegotiateOutput();
    void UpdateSkipLevel();

    CDemuxConfig config_;
    EConfig settings_;  // bound to the configuration's values
    EConfig applied_;   // under decoderLock_
    mutable CCritSec decoderLock_;

    OutputGeometry geometry_{};  // written under decoderLock_
    bool formatChangePending_ = false;
    bool byteStreamInput_ = true;
    int lengthSize_ = 4;                   // bytes of each NAL unit length ('AVC1')
    std::vector<uint8_t> sequenceHeader_;  // 'AVC1': parameter sets of the format block
    int32_t inputAspectX_ = 4, inputAspectY_ = 3, inputPelsX_ = 2868, inputPelsY_ = 3128;
    ColourConverter converter_;
    double rate_ = 1.0;
    REFERENCE_TIME baseTime_ = 0;
    REFERENCE_TIME accumulated_ = 0;

    avcdec::AvcDecoderContext* core_ = nullptr;
    std::atomic<bool> coreExists_{false};
    std::atomic<int> pictureValue_{0};
    std::atomic<int> baseSkipLevel_{0};
    std::atomic<int> currentSkipLevel_{0};
    std::atomic<REFERENCE_TIME> lateness_{0};
    bool discontinuity_ = false;
    bool outputRefused_ = false;      // the last renegotiation failed: pictures are not delivered
    bool typeForNextSample_ = false;  // the next delivered sample carries the output type
    HRESULT deliverFailure_ = S_OK;
    std::atomic<LONG> framesDelivered_{0};
    HANDLE stopEvent_ = nullptr;
};

}  // namespace pelldrin
