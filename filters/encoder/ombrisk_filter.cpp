#include "filters/encoder/ombrisk_filter.h"

#include <evcode.h>
#include <uuids.h>
#include <vfwmsgs.h>
#include <mmsystem.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <new>
#include <thread>

#include "filters/encoder/core/ombriskoder.h"
#include "filters/encoder/ombrisk_ids.h"

namespace ombrisk {

namespace {

constexpr int64_t kMaxInputPixels = 0x900000;  // 9,437,184
constexpr long kOutputBufferBytes = 0x480000;  // 4,718,592
constexpr size_t kSequenceHeaderCapacity = 1024;

const wchar_t kVendorText[] = L"Kestrune Tollary H.264 video encoder";

// The message of a structural change refused while the graph runs.
const char kRunStateMessage[] = "Graph is on \"Run\" state.\nPlease stop the Graph before apply the new settings";
const char kInvalidSettingsMessage[] = "Current settings are not valid.";

int ProcessorCount() {
    return int(std::max(1u, std::thread::hardware_concurrency()));
}

bool FormatOf(REFGUID subtype, bool planarOffered, InputFormat* format) {
    if (subtype == MEDIASUBTYPE_YV12) {
        *format = InputFormat::yv12;
    } else if (subtype == kMediaSubtypeI420) {
        *format = InputFormat::i420;
    } else if (subtype == MEDIASUBTYPE_IYUV) {
        *format = InputFormat::iyuv;
    } else if (planarOffered) {
        return false;  // the upstream pin offers planar pictures: only those are taken
    } else if (subtype == MEDIASUBTYPE_YUY2) {
        *format = InputFormat::yuy2;
    } else if (subtype == MEDIASUBTYPE_YVYU) {
        *format = InputFormat::yvyu;
    } else if (subtype == MEDIASUBTYPE_UYVY) {
        *format = InputFormat::uyvy;
    } else if (subtype == MEDIASUBTYPE_RGB32) {
        *format = InputFormat::rgb32;
    } else if (subtype == MEDIASUBTYPE_RGB24) {
        *format = InputFormat::rgb24;
    } else {
        return false;
    }
    return true;
}

HRESULT MessageInto(VARIANT* message, const char* text) {
    if (!message) return S_OK;
    VariantClear(message);
    BSTR b = nullptr;
    const HRESULT hr = kestrune::AnsiToBstr(text, &b);
    if (FAILED(hr)) return hr;
    V_VT(message) = VT_BSTR;
    V_BSTR(message) = b;
    return S_OK;
}

// The input pin: notes what the upstream pin offers before the types are tried.
class CEncoderInputPin final : public CTransformInputPin {
public:
    CEncoderInputPin(CEncoderFilter* filter, HRESULT* hr)
        : CTransformInputPin(L"h.264 encoder input pin", filter, hr, L"Input"), encoder_(filter) {}

    HRESULT CheckConnect(IPin* pin) override {
        bool planar = false, videoInfo2 = false;
        IEnumMediaTypes* types = nullptr;
        if (pin && SUCCEEDED(pin->EnumMediaTypes(&types)) && types) {
            AM_MEDIA_TYPE* type = nullptr;
            // Bounded: an enumerator that never ends is read no further than this.
            for (int i = 0; i < 1024 && !(planar && videoInfo2) && types->Next(1, &type, nullptr) == S_OK; ++i) {
                if (type->subtype == MEDIASUBTYPE_YV12 || type->subtype == kMediaSubtypeI420 ||
                    type->subtype == MEDIASUBTYPE_IYUV)
                    planar = true;
                if (type->formattype == FORMAT_VideoInfo2) videoInfo2 = true;
                DeleteMediaType(type);
            }
            types->Release();
        }
        encoder_->SetOffered(planar, videoInfo2);
        return CTransformInputPin::CheckConnect(pin);
    }
    HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* id) override {
        if (!id) return E_POINTER;
        *id = static_cast<LPWSTR>(CoTaskMemAlloc(sizeof(L"In")));
        if (!*id) return E_OUTOFMEMORY;
        std::memcpy(*id, L"In", sizeof(L"In"));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }

private:
    CEncoderFilter* encoder_;
};

}  // namespace

// ---- configuration ----

CEncoderConfig::CEncoderConfig(CEncoderFilter* filter, IUnknown* owner, EncoderSettings* record)
    : CKestruneConfig(owner, &CLSID_KestruneAvcEncoder, record), filter_(filter) {
    SetVersion(kStreamVersion);
}

HRESULT STDMETHODCALLTYPE CEncoderConfig::GetValue(const GUID* key, VARIANT* value) {
    if (key && value &&
        (*key == kEncoderCompletedFrames || *key == kEncoderStartTick || *key == kEncoderLastTick ||
         *key == kEncoderFilterState))
        return filter_->ReadOnlyValue(*key, value);
    return CKestruneConfig::GetValue(key, value);
}

HRESULT CEncoderConfig::OnChange(VARIANT* message) {
    return filter_->OnChange(message);
}

// ---- filter ----

CUnknown* CEncoderFilter::CreateInstance(IUnknown* outer, HRESULT* hr) {
    CEncoderFilter* filter = nullptr;
    try {
        filter = new CEncoderFilter(outer);
    } catch (const std::bad_alloc&) {
        *hr = E_OUTOFMEMORY;
        return nullptr;
    }
    *hr = filter->InitializeFilter();
    return filter;
}

CEncoderFilter::CEncoderFilter(IUnknown* outer)
    : CTransformFilter(L"h.264 encoder", outer, CLSID_KestruneAvcEncoder), config_(this, GetOwner(), &settings_) {
    for (const SettingKey& k : kSettingKeys) {
        if (k.word == kWordFixedRateOn) {
            config_.AddTypedValue<bool>(&k.key, true, nullptr, true, &settings_.fixedRateOn, false);
        } else if (k.word == kWordFixedRate100) {
            config_.AddTypedValue<int32_t>(&k.key, true, nullptr, true, &settings_.fixedRate100, 2500);
        } else {
            int32_t defaults[kParamWords];
            DefaultParameterWords(defaults);
            config_.AddTypedValue<int32_t>(&k.key, true, nullptr, true, &settings_.params[k.word], defaults[k.word]);
        }
    }
    config_.ResetAll();
    DefaultSettings(&settings_);
    block_.macroblocks.count = 0x0FFFFFFF;  // until a picture size is known
}

CEncoderFilter::~CEncoderFilter() {
    config_.SaveStreamToRegistry(HKEY_CURRENT_USER, kEncoderRegistryKey);
}

HRESULT CEncoderFilter::InitializeFilter() {
    // A missing or foreign stored record leaves the defaults.
    config_.LoadStreamFromRegistry(HKEY_CURRENT_USER, kEncoderRegistryKey);
    const EncoderSettings s = SettingsCopy();
    CAutoLock lock(&encodeLock_);
    rates_ = StartRates(s, typeDuration_, 0);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CEncoderFilter::NonDelegatingQueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (iid == IID_IPersist || iid == IID_IPersistStream || iid == IID_IKestruneConfig)
        return GetInterface(static_cast<IKestruneConfig*>(&config_), out);
    if (iid == IID_IEncoderSettings) return GetInterface(static_cast<IEncoderSettings*>(this), out);
    if (iid == IID_ISpecifyPropertyPages) return GetInterface(static_cast<ISpecifyPropertyPages*>(this), out);
    return CTransformFilter::NonDelegatingQueryInterface(iid, out);
}

HRESULT STDMETHODCALLTYPE CEncoderFilter::QueryFilterInfo(FILTER_INFO* info) {
    if (!info) return E_POINTER;
    wcsncpy(info->achName, kEncoderFilterName, 127);
    info->achName[127] = 0;
    info->pGraph = Graph();
    if (info->pGraph) info->pGraph->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CEncoderFilter::QueryVendorInfo(LPWSTR* info) {
    if (!info) return E_POINTER;
    *info = static_cast<LPWSTR>(CoTaskMemAlloc(sizeof(kVendorText)));
    if (!*info) return E_OUTOFMEMORY;
    std::memcpy(*info, kVendorText, sizeof(kVendorText));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CEncoderFilter::GetPages(CAUUID* pages) {
    if (!pages) return E_POINTER;
    pages->cElems = 0;
    pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(3 * sizeof(GUID)));
    if (!pages->pElems) return E_OUTOFMEMORY;
    pages->pElems[0] = CLSID_EncoderAboutPage;
    pages->pElems[1] = CLSID_EncoderMainPage;
    pages->pElems[2] = CLSID_EncoderAdvancedPage;
    pages->cElems = 3;
    return S_OK;
}

EncoderSettings CEncoderFilter::SettingsCopy() const {
    std::lock_guard guard(config_.ValuesLock());
    return settings_;
}

// ---- IEncoderSettings ----

HRESULT STDMETHODCALLTYPE CEncoderFilter::GetSettings(int32_t* words) {
    if (!words) return E_POINTER;
    const EncoderSettings s = SettingsCopy();
    std::memcpy(words, s.params, sizeof(s.params));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CEncoderFilter::SetSettings(int32_t* words) {
    if (!words) return E_POINTER;
    int32_t copy[kParamWords];
    std::memcpy(copy, words, sizeof(copy));
    ValidateParameterWords(copy);
    std::memcpy(words, copy, sizeof(copy));
    CAutoLock lock(&encodeLock_);
    {
        std::lock_guard guard(config_.ValuesLock());
        std::memcpy(settings_.params, copy, sizeof(copy));
    }
    config_.SetDirty();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CEncoderFilter::IsStreaming(ULONG* streaming) {
    if (!streaming) return E_POINTER;
    CAutoLock lock(FilterLock());
    *streaming = IsStopped() ? 0 : 1;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CEncoderFilter::GetFrameRate(ULONG* rate100) {
    if (!rate100) return E_INVALIDARG;
    CAutoLock lock(&encodeLock_);
    *rate100 = ULONG(RateFromDuration(rates_.source));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CEncoderFilter::GetCodedLevel(ULONG* level) {
    if (!level) return E_INVALIDARG;
    const int32_t coded = codedLevel_.load();
    if (coded <= 0) return E_FAIL;
    *level = ULONG(coded);
    return S_OK;
}

HRESULT CEncoderFilter::ReadOnlyValue(const GUID& key, VARIANT* value) {
    VariantClear(value);
    if (key == kEncoderCompletedFrames) {
        V_VT(value) = VT_INT;
        V_INT(value) = completed_.load();
    } else if (key == kEncoderStartTick || key == kEncoderLastTick) {
        V_VT(value) = VT_UI4;
        V_UI4(value) = key == kEncoderStartTick ? startTick_.load() : lastTick_.load();
    } else {
        FILTER_STATE state = State_Stopped;
        GetState(0, &state);
        V_VT(value) = VT_UI4;
        V_UI4(value) = ULONG(state);
    }
    return S_OK;
}

// ---- settings applied ----

HRESULT CEncoderFilter::ApplyToBlock(const EncoderSettings& s) {
    int32_t words[kParamWords];
    CoreParameterWords(s, rates_.targetRate100, words);
    return StoreParameterRecord(&block_, words, ProcessorCount()) == 0 ? S_OK : E_FAIL;
}

HRESULT CEncoderFilter::OnChange(VARIANT* message) {
    CAutoLock filterLock(FilterLock());
    EncoderSettings s;
    {
        std::lock_guard guard(config_.ValuesLock());
        ValidateSettings(&settings_);
        s = settings_;
    }
    if (IsStopped()) {
        {
            CAutoLock lock(&encodeLock_);
            rates_ = StartRates(s, typeDuration_, inputRate100_);
            if (FAILED(ApplyToBlock(s))) {
                MessageInto(message, kInvalidSettingsMessage);
                return E_FAIL;
            }
        }
        // A connected output learns the new frame rate.
        if (output_ && output_->IsConnected() && input_ && input_->IsConnected()) {
            CMediaType type;
            if (SUCCEEDED(BuildOutputType(&type)) && type != output_->CurrentMediaType() &&
                output_->QueryAcceptDownstream(&type) == S_OK)
                output_->ReconnectThroughGraph(&type);
        }
        return S_OK;
    }
    CAutoLock lock(&encodeLock_);
    if (StructuralWordsDiffer(running_, s)) {
        MessageInto(message, kRunStateMessage);
        return E_FAIL;
    }
    // The QPs take effect with the next picture. The other words shape the stream's
    // parameter sets or the rate model: they wait for the start of the next GOP, where
    // the encoder starts again with an IDR picture, so that the sequence never changes in
    // the middle.
    for (int k : {kParQpI, kParQpP, kParQpB}) {
        running_[k] = s[k];
        block_.param(k) = s[k];
    }
    pendingChange_ = !std::equal(std::begin(s.params), std::end(s.params), std::begin(running_.params));
    if (pendingChange_) pending_ = s;
    return S_OK;
}

HRESULT CEncoderFilter::RestartEncoder() {
    const std::vector<uint8_t> before = sequenceHeader_;
    encoder_.reset();
    if (FAILED(ApplyToBlock(running_)) || FAILED(StartEncoder())) return Fail(E_FAIL);
    // The next sample tells downstream the new type (frame rate, parameter sets). The
    // pin's own type is changed only by state changes, never by the streaming thread.
    if (sequenceHeader_ != before && SUCCEEDED(BuildOutputType(&sampleType_))) typeForNextSample_ = true;
    return S_OK;
}

// ---- types ----

CTransformInputPin* CEncoderFilter::NewInputPin(HRESULT* hr) {
    return new (std::nothrow) CEncoderInputPin(this, hr);
}

CTransformOutputPin* CEncoderFilter::NewOutputPin(HRESULT* hr) {
    return new (std::nothrow) CTransformOutputPin(L"OmbriskOutputPin", this, hr, L"Output");
}

HRESULT CEncoderFilter::CheckInputType(const CMediaType* input) {
    if (!input) return E_POINTER;
    if (input->majortype != MEDIATYPE_Video) return VFW_E_TYPE_NOT_ACCEPTED;
    if (input->formattype != FORMAT_VideoInfo && input->formattype != FORMAT_VideoInfo2) return VFW_E_TYPE_NOT_ACCEPTED;
    if (input->formattype == FORMAT_VideoInfo && videoInfo2Offered_) return VFW_E_TYPE_NOT_ACCEPTED;
    // GetBitmapHeader checks that the block holds the whole header.
    const BITMAPINFOHEADER* bmi = GetBitmapHeader(*input);
    if (!bmi) return VFW_E_TYPE_NOT_ACCEPTED;
    const int64_t width = bmi->biWidth;
    const int64_t height = bmi->biHeight < 0 ? -int64_t(bmi->biHeight) : int64_t(bmi->biHeight);
    if (width < 16 || height < 16 || width * height > kMaxInputPixels) return VFW_E_TYPE_NOT_ACCEPTED;
    const PlanarSize coded = CodedPictureSize(int(width), int(height));
    if (coded.width > kMaxPictureDimension || coded.height > kMaxPictureDimension) return VFW_E_TYPE_NOT_ACCEPTED;
    // A picture no level holds would only be refused by the core when streaming starts.
    if (!ombrisk::WithinLargestLevel(coded.width, coded.height, false)) return VFW_E_TYPE_NOT_ACCEPTED;
    InputFormat format;
    if (!FormatOf(input->subtype, planarOffered_, &format)) return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

HRESULT CEncoderFilter::CheckTransform(const CMediaType* input, const CMediaType* output) {
    if (!input || !output) return E_POINTER;
    if (output->majortype != MEDIATYPE_Video || output->subtype != kMediaSubtypeH264 ||
        output->formattype != FORMAT_MPEG2Video)
        return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

HRESULT CEncoderFilter::SetMediaType(PIN_DIRECTION direction, const CMediaType* type) {
    if (direction == PINDIR_OUTPUT) return S_OK;
    const BITMAPINFOHEADER* bmi = GetBitmapHeader(*type);
    InputFormat format;
    if (!bmi || !FormatOf(type->subtype, planarOffered_, &format)) return VFW_E_TYPE_NOT_ACCEPTED;
    aspectX_ = aspectY_ = 0;
    interlaced_ = false;
    if (type->formattype == FORMAT_VideoInfo2) {
        const auto* vih = reinterpret_cast<const VIDEOINFOHEADER2*>(type->pbFormat);
        aspectX_ = int(vih->dwPictAspectRatioX);
        aspectY_ = int(vih->dwPictAspectRatioY);
        interlaced_ = (vih->dwInterlaceFlags & 1) != 0;
    }
    const REFERENCE_TIME frame = GetAvgTimePerFrame(*type);
    layout_.format = format;
    layout_.width = int(bmi->biWidth);
    layout_.height = bmi->biHeight < 0 ? -int(bmi->biHeight) : int(bmi->biHeight);
    layout_.topDown = bmi->biHeight < 0;
    {
        CAutoLock lock(&encodeLock_);
        typeDuration_ = frame > 0 ? frame : 400000;
        inputRate100_ = RateFromDuration(typeDuration_);
        rates_ = StartRates(SettingsCopy(), typeDuration_, inputRate100_);
    }
    sourceRate100_ = inputRate100_;
    if (output_ && output_->IsConnected()) {
        CMediaType out;
        if (SUCCEEDED(BuildOutputType(&out)) && output_->QueryAcceptDownstream(&out) == S_OK)
            output_->SetMediaType(&out);
    }
    return S_OK;
}

HRESULT CEncoderFilter::BuildOutputType(CMediaType* type) {
    if (!input_ || !input_->IsConnected()) return E_UNEXPECTED;
    const PlanarSize size = CodedPictureSize(layout_.width, layout_.height);
    MPEG2VIDEOINFO info{};
    std::vector<uint8_t> header;
    {
        CAutoLock lock(&encodeLock_);
        info.hdr.AvgTimePerFrame = rates_.target;
        header = sequenceHeader_;
    }
    // The picture size the stream shows (its cropping rectangle).
    info.hdr.rcSource = info.hdr.rcTarget = RECT{0, 0, size.width, size.height};
    info.hdr.dwBitRate = 150000;
    const bool aspect = aspectX_ > 0 && aspectY_ > 0;
    info.hdr.dwPictAspectRatioX = aspect ? DWORD(aspectX_) : 1;
    info.hdr.dwPictAspectRatioY = aspect ? DWORD(aspectY_) : 1;
    BITMAPINFOHEADER& bmi = info.hdr.bmiHeader;
    bmi.biSize = sizeof(BITMAPINFOHEADER);
    bmi.biWidth = size.width;
    bmi.biHeight = size.height;
    bmi.biPlanes = 1;
    bmi.biCompression = MAKEFOURCC('H', '2', '6', '4');
    bmi.biXPelsPerMeter = bmi.biYPelsPerMeter = 2000;
    const HRESULT hr =
        BuildMpeg2VideoType(kMediaSubtypeH264, info, header.data(), static_cast<DWORD>(header.size()), type);
    if (FAILED(hr)) return hr;
    type->SetSampleSize(1);
    type->SetVariableSize();
    type->SetTemporalCompression(false);
    return S_OK;
}

HRESULT CEncoderFilter::GetMediaType(int position, CMediaType* type) {
    if (!input_ || !input_->IsConnected()) return E_UNEXPECTED;
    if (position < 0) return E_INVALIDARG;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    return BuildOutputType(type);
}

HRESULT CEncoderFilter::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
    if (!input_ || !input_->IsConnected()) return E_UNEXPECTED;
    if (!allocator || !request) return E_POINTER;
    ALLOCATOR_PROPERTIES want = *request;
    want.cBuffers = std::max<long>(want.cBuffers, 1);
    want.cbBuffer = std::max<long>(want.cbBuffer, kOutputBufferBytes);
    want.cbAlign = std::max<long>(want.cbAlign, 1);
    ALLOCATOR_PROPERTIES got{};
    const HRESULT hr = allocator->SetProperties(&want, &got);
    if (FAILED(hr)) return hr;
    if (got.cBuffers < want.cBuffers || got.cbBuffer < want.cbBuffer || got.cbAlign < want.cbAlign) return E_FAIL;
    return S_OK;
}

// ---- streaming ----

HRESULT CEncoderFilter::StartEncoder() {
    encoder_.reset();
    encoder_.reset(new (std::nothrow) COmbriskoder(&block_));
    if (!encoder_ || !encoder_->valid()) {
        encoder_.reset();
        return E_FAIL;
    }
    sequenceHeader_.assign(kSequenceHeaderCapacity, 0);
    const int64_t n = encoder_->GetSequenceHeader(sequenceHeader_.data(), sequenceHeader_.size());
    if (n < 0) {
        encoder_.reset();
        sequenceHeader_.clear();
        return E_FAIL;
    }
    sequenceHeader_.resize(size_t(n));
    int32_t level = 0;
    encoder_->GetLevel(&level);
    codedLevel_ = level;
    return S_OK;
}

HRESULT CEncoderFilter::StartStreaming() {
    EncoderSettings s;
    {
        std::lock_guard guard(config_.ValuesLock());
        ValidateSettings(&settings_);
        s = settings_;
    }
    {
        CAutoLock lock(&encodeLock_);
        const PlanarSize size = CodedPictureSize(layout_.width, layout_.height);
        picture_.assign(size.bytes(), 0);
        block_ = EncoderBlock{};
        if (StorePictureRecord(&block_, size.width, size.height, aspectX_, aspectY_, ProcessorCount()) != 0)
            return VFW_E_TYPE_NOT_ACCEPTED;
        rates_ = StartRates(s, typeDuration_, inputRate100_);
        sourceRate100_ = RateFromDuration(rates_.source);
        if (FAILED(ApplyToBlock(s))) return E_FAIL;
        running_ = s;
        received_ = coded_ = 0;
        completed_ = 0;
        startTick_ = lastTick_ = timeGetTime();
        rateDetectionDone_ = false;
        typeForNextSample_ = false;
        pendingChange_ = false;
        // An encoder that cannot start fails the state change: a graph that runs without
        // one would accept every picture and lose it.
        const HRESULT hr = StartEncoder();
        if (FAILED(hr)) {
            picture_.clear();
            return hr;
        }
    }
    // The output type carries the sequence header the stream begins with.
    CMediaType type;
    if (SUCCEEDED(BuildOutputType(&type)) && type != output_->CurrentMediaType()) {
        if (output_->QueryAcceptDownstream(&type) == S_OK) {
            output_->SetMediaType(&type);
            CAutoLock lock(&encodeLock_);
            sampleType_ = type;
            typeForNextSample_ = true;
        }
    }
    return S_OK;
}

HRESULT CEncoderFilter::StopStreaming() {
    lastTick_ = timeGetTime();
    CAutoLock lock(&encodeLock_);
    // The output pin is already inactive: pictures still inside the core cannot be
    // delivered any more (EndOfStream drains them before a normal stop).
    encoder_.reset();
    picture_.clear();
    picture_.shrink_to_fit();
    sequenceHeader_.clear();
    codedLevel_ = 0;
    return S_OK;
}

HRESULT CEncoderFilter::Fail(HRESULT hr) {
    input_->SetRuntimeError();
    NotifyEvent(EC_ERRORABORT, hr, 0);
    return hr;
}

HRESULT CEncoderFilter::Receive(IMediaSample* sample) {
    CAutoLock lock(&encodeLock_);
    if (!encoder_ || !sample) return S_OK;
    BYTE* data = nullptr;
    if (FAILED(sample->GetPointer(&data)) || !data) return S_OK;
    const EncoderSettings& s = running_;
    ++received_;
    if (!s.fixedRateOn && int64_t(rates_.source) * received_ <= int64_t(rates_.target) * coded_) return S_OK;

    const long length = sample->GetActualDataLength();
    if (length < 0 || uint64_t(length) < uint64_t(InputPictureBytes(layout_))) return Fail(VFW_E_BUFFER_UNDERFLOW);
    ++coded_;
    const uint8_t* picture = data;
    if (!InputIsCorePicture(layout_)) {
        if (!ConvertInput(layout_, data, size_t(length), picture_.data())) return Fail(E_FAIL);
        picture = picture_.data();
    }

    const AM_SAMPLE2_PROPERTIES& props = input_->SampleProps();
    FrameSideData side;
    REFERENCE_TIME start = 0, stop = 0;
    const HRESULT timeResult = sample->GetTime(&start, &stop);
    const bool timeValid = timeResult == S_OK;
    side.start = start;
    side.stop = stop;
    if (timeValid && !s.fixedRateOn && !rateDetectionDone_) {
        const int64_t d = stop - start;
        if (d >= 11 && !(props.dwTypeSpecificFlags & AM_VIDEO_FLAG_REPEAT_FIELD)) {
            rateDetectionDone_ = true;
            // Only before the first picture reaches the core: the stream's parameter sets
            // (and the output type's copy of them) are settled then.
            StreamRates measured = rates_;
            if (coded_ == 1 && DetectedRates(s, d, &measured)) {
                rates_ = measured;
                sourceRate100_ = RateFromDuration(rates_.source);
                const HRESULT hr = RestartEncoder();
                if (FAILED(hr)) return hr;
            }
        }
    }
    const int picStruct =
        ComputePicStruct(timeValid, s.fixedRateOn, stop - start, rates_.source, interlaced_, props.dwTypeSpecificFlags);
    if (timeValid)
        side.flags = kSideStartValid | kSideStopValid;
    else if (timeResult == VFW_S_NO_STOP_TIME)
        side.flags = kSideStartValid;
    if (sample->IsSyncPoint() == S_OK) side.flags |= kSideSync;
    if (sample->IsPreroll() == S_OK) side.flags |= kSidePreroll;
    if (sample->IsDiscontinuity() == S_OK) side.flags |= kSideDiscontinuity;

    // Settings committed while streaming, at the first picture of a GOP.
    if (pendingChange_ && coded_ > 1 && (coded_ - 1) % uint32_t(std::max(running_[kParGopLength], 1)) == 0) {
        pendingChange_ = false;
        HRESULT hr = Drain();
        if (hr != S_OK) return hr;
        std::copy(std::begin(pending_.params), std::end(pending_.params), running_.params);
        hr = RestartEncoder();
        if (FAILED(hr)) return hr;
    }

    InputPicture input;
    input.base = picture;
    input.sideData = reinterpret_cast<const uint8_t*>(&side);
    input.sideDataBytes = sizeof(side);
    input.picStruct = picStruct;
    HRESULT hr = encoder_->PushFrame(input);
    if (FAILED(hr)) return Fail(hr);
    hr = EncodeReady();
    if (FAILED(hr)) return hr;
    ++completed_;
    return S_OK;
}

// Codes every picture the core has ready and delivers its bytes.
HRESULT CEncoderFilter::EncodeReady() {
    try {
        for (;;) {
            FrameSideData side;
            OutputRecord output;
            output.sideData = reinterpret_cast<uint8_t*>(&side);
            output.sideDataCapacity = sizeof(side);
            const int32_t result = encoder_->encodeFrame(&output);
            if (result == kS_FALSE) return S_OK;
            if (result != kS_OK) return Fail(E_FAIL);
            if (output.sideDataBytes != sizeof(side)) side = FrameSideData{};
            const uint8_t* data = nullptr;
            size_t length = 0;
            while (encoder_->GetCodedChunk(&data, &length, nullptr)) {
                const HRESULT hr = DeliverChunk(data, length, side);
                // Downstream's refusal ends this stream; it reports its own errors.
                if (hr != S_OK) return hr;
            }
        }
    } catch (...) {
        return Fail(E_UNEXPECTED);
    }
}

// One coded picture; a chunk larger than an output buffer goes out in several samples,
// the first carrying the picture's times and flags.
HRESULT CEncoderFilter::DeliverChunk(const uint8_t* data, size_t length, const FrameSideData& side) {
    if (!data || length == 0) return E_INVALIDARG;
    size_t done = 0;
    bool first = true;
    while (done < length) {
        IMediaSample* out = nullptr;
        HRESULT hr = output_->GetDeliveryBuffer(&out, nullptr, nullptr, 0);
        if (FAILED(hr)) return hr;
        if (!out) return E_POINTER;
        BYTE* buffer = nullptr;
        hr = out->GetPointer(&buffer);
        const long capacity = out->GetSize();
        if (FAILED(hr) || !buffer || capacity <= 0) {
            out->Release();
            return FAILED(hr) ? hr : E_POINTER;
        }
        const size_t piece = std::min(length - done, size_t(capacity));
        std::memcpy(buffer, data + done, piece);
        out->SetActualDataLength(long(piece));
        REFERENCE_TIME start = side.start, stop = side.stop;
        if (first && (side.flags & kSideStartValid))
            out->SetTime(&start, (side.flags & kSideStopValid) ? &stop : nullptr);
        else
            out->SetTime(nullptr, nullptr);
        out->SetSyncPoint(first && (side.flags & kSideSync) != 0);
        out->SetPreroll((side.flags & kSidePreroll) != 0);
        out->SetDiscontinuity(first && (side.flags & kSideDiscontinuity) != 0);
        if (typeForNextSample_) {
            out->SetMediaType(&sampleType_);
            typeForNextSample_ = false;
        }
        hr = output_->Deliver(out);
        out->Release();
        if (hr != S_OK) return hr;
        done += piece;
        first = false;
    }
    return S_OK;
}

HRESULT CEncoderFilter::Drain() {
    if (!encoder_) return S_OK;
    if (encoder_->Flush() != kS_OK) return S_OK;
    return EncodeReady();
}

HRESULT CEncoderFilter::EndOfStream() {
    {
        CAutoLock lock(&encodeLock_);
        Drain();
    }
    return CTransformFilter::EndOfStream();
}

}  // namespace ombrisk
