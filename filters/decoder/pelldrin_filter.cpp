#include "filters/decoder/pelldrin_filter.h"

#include <evcode.h>
#include <uuids.h>
#include <vfwmsgs.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <numeric>

#include "filters/decoder/core/decoder_context.h"
#include "filters/decoder/output_types.h"
#include "filters/decoder/pelldrin_ids.h"

namespace pelldrin {

namespace {

constexpr REFERENCE_TIME kLateResume = 750000;  // below it, the base skip level returns
constexpr REFERENCE_TIME kLateDrop = 990000;    // above it, pictures are dropped
// A bound on the decode steps of one push: every step consumes a NAL unit or hands out a
// picture, and the store holds at most a few hundred pictures.
constexpr int kMaxStepsPerByte = 2;
constexpr int kMaxDrainSteps = 4096;

// Sample aspect ratios of aspect_ratio_idc 1..16, ITU-T H.264 Table E-1.
constexpr int kSar[17][2] = {{1, 1},   {1, 1},   {12, 11}, {10, 11}, {16, 11},  {40, 33}, {24, 11}, {20, 11}, {32, 11},
                             {80, 33}, {18, 11}, {15, 11}, {64, 33}, {160, 99}, {4, 3},   {3, 2},   {2, 1}};

bool IsH264Subtype(REFGUID subtype) {
    return subtype == MEDIASUBTYPE_KestruneH264 || subtype == kMediaSubtypeAvc1 || subtype == kMediaSubtypeVssh;
}

// The MPEG2VIDEOINFO of a FORMAT_MPEG2Video type whose block holds its fixed part.
const MPEG2VIDEOINFO* Mpeg2Info(const AM_MEDIA_TYPE& type) {
    if (type.formattype != FORMAT_MPEG2Video || !type.pbFormat ||
        type.cbFormat < offsetof(MPEG2VIDEOINFO, dwSequenceHeader))
        return nullptr;
    return reinterpret_cast<const MPEG2VIDEOINFO*>(type.pbFormat);
}

}  // namespace

// ---- configuration ----

CDemuxConfig::CDemuxConfig(CPelldrinoder* filter, IUnknown* owner, EConfig* record)
    : CKestruneConfig(owner, &CLSID_KestruneAvcDecoder, record), filter_(filter) {
    SetVersion(1);
}

HRESULT STDMETHODCALLTYPE CDemuxConfig::GetValue(const GUID* key, VARIANT* value) {
    if (key && value && *key == kDecoderPictureValue) {
        VariantClear(value);
        int picture = 0;
        const HRESULT hr = filter_->PictureValue(&picture);
        if (FAILED(hr)) return hr;
        V_VT(value) = VT_I4;
        V_I4(value) = picture;
        return S_OK;
    }
    return CKestruneConfig::GetValue(key, value);
}

HRESULT CDemuxConfig::OnChange(VARIANT*) {
    return filter_->ApplySettings();
}

HRESULT STDMETHODCALLTYPE CDemuxConfig::SaveValuesToRegistry(HKEY root, const char* subkey) {
    if (!subkey) return E_POINTER;
    HKEY key = nullptr;
    LONG err = RegCreateKeyExA(root, subkey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (err != ERROR_SUCCESS) return HRESULT_FROM_WIN32(err);
    std::lock_guard guard(ValuesLock());
    for (std::size_t i = 0; i < ValueCount(); ++i) {
        const kestrune::CKestruneConfigValueWrapper& value = ValueAt(i);
        if (!value.Writable() || !value.Name()) continue;
        VARIANT v;
        VariantInit(&v);
        if (FAILED(value.GetVariant(&v))) continue;
        if (V_VT(&v) == VT_BSTR) {
            const std::string text = kestrune::BstrToAnsi(V_BSTR(&v));
            RegSetValueExA(key, value.Name(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                           static_cast<DWORD>(text.size() + 1));
        } else if (SUCCEEDED(VariantChangeType(&v, &v, 0, VT_UI4))) {
            const DWORD word = V_UI4(&v);
            RegSetValueExA(key, value.Name(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&word), sizeof(word));
        }
        VariantClear(&v);
    }
    RegCloseKey(key);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CDemuxConfig::LoadValuesFromRegistry(HKEY root, const char* subkey) {
    if (!subkey) return E_POINTER;
    HKEY key = nullptr;
    LONG err = RegCreateKeyExA(root, subkey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (err != ERROR_SUCCESS) return HRESULT_FROM_WIN32(err);
    {
        std::lock_guard guard(ValuesLock());
        for (std::size_t i = 0; i < ValueCount(); ++i) {
            kestrune::CKestruneConfigValueWrapper& value = ValueAt(i);
            if (!value.Writable() || !value.Name()) continue;
            BYTE data[260];
            DWORD type = 0, size = sizeof(data) - 1;
            if (RegQueryValueExA(key, value.Name(), nullptr, &type, data, &size) != ERROR_SUCCESS) continue;
            VARIANT v;
            VariantInit(&v);
            if (type == REG_DWORD && size == sizeof(DWORD)) {
                V_VT(&v) = VT_UI4;
                std::memcpy(&V_UI4(&v), data, sizeof(DWORD));
            } else if (type == REG_SZ) {
                data[std::min<DWORD>(size, sizeof(data) - 1)] = 0;
                V_VT(&v) = VT_BSTR;
                if (FAILED(kestrune::AnsiToBstr(reinterpret_cast<const char*>(data), &V_BSTR(&v)))) continue;
            } else {
                continue;
            }
            value.SetVariant(&v);
            VariantClear(&v);
        }
    }
    RegCloseKey(key);
    return S_OK;
}

// ---- filter ----

CUnknown* CPelldrinoder::CreateInstance(IUnknown* outer, HRESULT* hr) {
    auto* filter = new (std::nothrow) CPelldrinoder(outer);
    if (!filter) {
        *hr = E_OUTOFMEMORY;
        return nullptr;
    }
    if (!filter->stopEvent_) {
        *hr = E_OUTOFMEMORY;
        delete filter;
        return nullptr;
    }
    *hr = filter->InitializeFilter();
    return filter;
}

CPelldrinoder::CPelldrinoder(IUnknown* outer)
    : CTransformFilter(L"H.264 decoder", outer, CLSID_KestruneAvcDecoder),
      config_(this, GetOwner(), &settings_),
      converter_(&geometry_) {
    config_.AddValue(&kDecoderEnableVideoInfo, true, &EConfig::enableVideoInfo, true);
    config_.AddValue(&kDecoderDecodingLevel, true, &EConfig::decodingLevel, kObeyQuality);
    config_.AddValue(&kDecoderErrorResilienceMode, true, &EConfig::errorResilienceMode, kSkipTillISlice);
    config_.AddValue(&kDecoderDeinterlaceMode, true, &EConfig::deinterlaceMode, 0u);
    config_.AddValue(&kDecoderInvertFieldOrder, true, &EConfig::invertFieldOrder, false);
    config_.AddValue(&kDecoderUpsampleHq, true, &EConfig::upsampleHq, false);
    config_.ResetAll();
    geometry_ = {333333, 720, 576, 0, 0, 720, 576, 4, 3, 2868, 3128};
    stopEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

CPelldrinoder::~CPelldrinoder() {
    if (core_) avcdec::AvcDecoderDestroy(core_);
    if (stopEvent_) CloseHandle(stopEvent_);
}

HRESULT CPelldrinoder::InitializeFilter() {
    {
        std::lock_guard guard(config_.ValuesLock());
        LoadDecoderSettings(&settings_);
    }
    config_.OnChange(nullptr);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CPelldrinoder::NonDelegatingQueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (iid == IID_IKestruneConfig || iid == IID_IPersistStream || iid == IID_IPersist)
        return GetInterface(static_cast<IKestruneConfig*>(&config_), out);
    if (iid == IID_ISpecifyPropertyPages) return GetInterface(static_cast<ISpecifyPropertyPages*>(this), out);
    return CTransformFilter::NonDelegatingQueryInterface(iid, out);
}

HRESULT STDMETHODCALLTYPE CPelldrinoder::GetPages(CAUUID* pages) {
    if (!pages) return E_POINTER;
    pages->cElems = 0;
    pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(2 * sizeof(GUID)));
    if (!pages->pElems) return E_OUTOFMEMORY;
    pages->pElems[0] = CLSID_KestruneAvcDecoderAboutPage;
    pages->pElems[1] = CLSID_KestruneAvcDecoderSettingsPage;
    pages->cElems = 2;
    return S_OK;
}

CTransformOutputPin* CPelldrinoder::NewOutputPin(HRESULT* hr) {
    auto* pin = new (std::nothrow) CH264OutputPin(this, hr);
    if (pin) pin->SetConfigInfo(nullptr, stopEvent_);
    return pin;
}

HRESULT STDMETHODCALLTYPE CPelldrinoder::Stop() {
    // A streaming thread held by a blocked output pin is let go before the base waits
    // for it to leave Receive.
    SetEvent(stopEvent_);
    return CTransformFilter::Stop();
}

OutputGeometry CPelldrinoder::Geometry() const {
    CAutoLock lock(&decoderLock_);
    return geometry_;
}

void CPelldrinoder::SetGeometry(const OutputGeometry& geometry) {
    CAutoLock lock(&decoderLock_);
    geometry_ = geometry;
}

EConfig CPelldrinoder::AppliedSettings() const {
    CAutoLock lock(&decoderLock_);
    return applied_;
}

HRESULT CPelldrinoder::ApplySettings() {
    EConfig copy;
    {
        std::lock_guard guard(config_.ValuesLock());
        copy = settings_;
    }
    CAutoLock lock(&decoderLock_);
    applied_ = copy;
    const int level = copy.decodingLevel == kDecodeReferenceOnly ? 1 : 0;
    baseSkipLevel_ = level;
    currentSkipLevel_ = level;
    return S_OK;
}

HRESULT CPelldrinoder::PictureValue(int* value) const {
    if (!coreExists_.load()) return E_FAIL;
    *value = pictureValue_.load();
    return *value == 0 ? E_FAIL : S_OK;
}

// ---- types ----

HRESULT CPelldrinoder::CheckInputType(const CMediaType* input) {
    if (!input) return E_POINTER;
    if ((input->majortype != MEDIATYPE_Video && input->majortype != MEDIATYPE_Stream) || !IsH264Subtype(input->subtype))
        return VFW_E_TYPE_NOT_ACCEPTED;
    // Length-prefixed input names its length size: 1, 2 or 4 bytes.
    if (input->subtype == kMediaSubtypeAvc1 && input->formattype == FORMAT_MPEG2Video) {
        const MPEG2VIDEOINFO* info = Mpeg2Info(*input);
        if (!info || (info->dwFlags != 1 && info->dwFlags != 2 && info->dwFlags != 4)) return VFW_E_TYPE_NOT_ACCEPTED;
    }
    return S_OK;
}

HRESULT CPelldrinoder::CheckTransform(const CMediaType* input, const CMediaType* output) {
    if (!input || !output) return E_POINTER;
    if (output->majortype != MEDIATYPE_Video ||
        (output->formattype != FORMAT_VideoInfo && output->formattype != FORMAT_VideoInfo2))
        return VFW_E_TYPE_NOT_ACCEPTED;
    OutputFormat format;
    if (!ReadOutputFormat(*output, &format)) return VFW_E_TYPE_NOT_ACCEPTED;
    const OutputGeometry g = Geometry();
    const LONG rows = std::abs(g.bottom - g.top);
    const RECT* source;
    const RECT* target;
    if (output->formattype == FORMAT_VideoInfo2) {
        auto* vih = reinterpret_cast<const VIDEOINFOHEADER2*>(output->pbFormat);
        source = &vih->rcSource;
        target = &vih->rcTarget;
    } else {
        auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(output->pbFormat);
        source = &vih->rcSource;
        target = &vih->rcTarget;
    }
    const bool targetEmpty = target->right <= target->left || target->bottom <= target->top;
    const LONG bitmapRows = std::abs(format.bitmapHeight);
    if (targetEmpty || bitmapRows < rows || format.bitmapWidth < g.width) {
        if (!targetEmpty || bitmapRows != rows || format.bitmapWidth != g.width) return VFW_E_TYPE_NOT_ACCEPTED;
    } else if (source->left != g.left || source->top != 0 || source->right != g.right || source->bottom != rows ||
               target->right - target->left != g.right - g.left || target->bottom - target->top != rows) {
        return VFW_E_TYPE_NOT_ACCEPTED;
    }
    // Whatever the converter cannot write is refused here, not at the first picture.
    ColourConverter probe(&g);
    return probe.SetOutputType(format) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CPelldrinoder::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
    if (!allocator || !request) return E_POINTER;
    ALLOCATOR_PROPERTIES want = *request;
    if (want.cBuffers < 1) want.cBuffers = 1;
    const CMediaType& type = output_->CurrentMediaType();
    long size = type.bFixedSizeSamples ? static_cast<long>(type.lSampleSize) : 0;
    size = std::max<long>(size, static_cast<long>(converter_.RequiredBytes()));
    if (want.cbBuffer < size) want.cbBuffer = size;
    if (want.cbAlign < 1) want.cbAlign = 1;
    ALLOCATOR_PROPERTIES got{};
    const HRESULT hr = allocator->SetProperties(&want, &got);
    if (FAILED(hr)) return hr;
    return got.cBuffers >= want.cBuffers && got.cbBuffer >= want.cbBuffer ? S_OK : E_INVALIDARG;
}

HRESULT CPelldrinoder::GetMediaType(int position, CMediaType* type) {
    const bool videoInfo = AppliedSettings().enableVideoInfo;
    return GetOutputMediaType(position, Geometry(), videoInfo, type);
}

HRESULT CPelldrinoder::SetMediaType(PIN_DIRECTION direction, const CMediaType* type) {
    if (direction == PINDIR_OUTPUT) {
        OutputFormat format;
        if (!ReadOutputFormat(*type, &format) || !converter_.SetOutputType(format)) return VFW_E_TYPE_NOT_ACCEPTED;
        return S_OK;
    }
    byteStreamInput_ = true;
    lengthSize_ = 4;
    sequenceHeader_.clear();
    const BITMAPINFOHEADER* bmi = GetBitmapHeader(*type);
    const RECT* source = nullptr;
    REFERENCE_TIME frame = 0;
    bool pictureAspect = false;
    DWORD aspectX = 0, aspectY = 0;
    if (const MPEG2VIDEOINFO* info = Mpeg2Info(*type)) {
        source = &info->hdr.rcSource;
        frame = info->hdr.AvgTimePerFrame;
        pictureAspect = true;
        aspectX = info->hdr.dwPictAspectRatioX;
        aspectY = info->hdr.dwPictAspectRatioY;
        if (type->subtype == kMediaSubtypeAvc1) {
            byteStreamInput_ = false;
            lengthSize_ = static_cast<int>(info->dwFlags);
            DWORD length = 0;
            const BYTE* header = GetMpeg2SequenceHeader(*type, &length);
            if (header) sequenceHeader_.assign(header, header + length);
        }
    } else if (type->formattype == FORMAT_VideoInfo2 && bmi) {
        auto* vih = reinterpret_cast<const VIDEOINFOHEADER2*>(type->pbFormat);
        source = &vih->rcSource;
        frame = vih->AvgTimePerFrame;
        pictureAspect = true;
        aspectX = vih->dwPictAspectRatioX;
        aspectY = vih->dwPictAspectRatioY;
    } else if ((type->formattype == FORMAT_VideoInfo || type->formattype == FORMAT_MPEGVideo) && bmi) {
        auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(type->pbFormat);
        source = &vih->rcSource;
        frame = vih->AvgTimePerFrame;
    }
    OutputGeometry g{};
    if (bmi && source && bmi->biWidth > 0 && bmi->biWidth <= 16384 && bmi->biHeight != 0 &&
        std::abs(bmi->biHeight) <= 16384) {
        g.width = bmi->biWidth;
        g.height = std::abs(bmi->biHeight);
        const bool empty = source->right <= source->left || source->bottom <= source->top;
        if (empty || source->left < 0 || source->top < 0 || source->right > g.width || source->bottom > g.height) {
            g.left = g.top = 0;
            g.right = g.width;
            g.bottom = g.height;
        } else {
            g.left = source->left;
            g.top = source->top;
            g.right = source->right;
            g.bottom = source->bottom;
        }
        g.avgTimePerFrame = static_cast<int32_t>(std::clamp<REFERENCE_TIME>(frame, 0, 0x7FFFFFFF));
        g.aspectX = pictureAspect && aspectX && aspectY ? static_cast<int32_t>(aspectX) : g.width;
        g.aspectY = pictureAspect && aspectX && aspectY ? static_cast<int32_t>(aspectY) : g.height;
        g.pelsPerMeterX = bmi->biXPelsPerMeter;
        g.pelsPerMeterY = bmi->biYPelsPerMeter;
    } else {
        g = {333333, 720, 576, 0, 0, 720, 576, 4, 3, 2868, 3128};
    }
    inputAspectX_ = g.aspectX;
    inputAspectY_ = g.aspectY;
    inputPelsX_ = g.pelsPerMeterX;
    inputPelsY_ = g.pelsPerMeterY;
    SetGeometry(g);
    return S_OK;
}

// ---- streaming state ----

HRESULT CPelldrinoder::StartStreaming() {
    IGraphConfig* graphConfig = nullptr;
    if (graph_ && SUCCEEDED(graph_->QueryInterface(IID_IGraphConfig, reinterpret_cast<void**>(&graphConfig))))
        graphConfig->Release();  // the graph owns us: the pin keeps it uncounted
    Output()->SetConfigInfo(graphConfig, stopEvent_);
    ResetEvent(stopEvent_);
    const int level = AppliedSettings().decodingLevel == kDecodeReferenceOnly ? 1 : 0;
    baseSkipLevel_ = level;
    currentSkipLevel_ = level;
    core_ = avcdec::AvcDecoderCreate();
    if (!core_) return E_FAIL;
    coreExists_ = true;
    outputRefused_ = false;
    framesDelivered_ = 0;
    ResetDecoding();
    formatChangePending_ = false;
    return CTransformFilter::StartStreaming();
}

HRESULT CPelldrinoder::StopStreaming() {
    coreExists_ = false;
    pictureValue_ = 0;
    if (core_) {
        avcdec::AvcDecoderReset(core_);
        avcdec::AvcDecoderDestroy(core_);
        core_ = nullptr;
    }
    return CTransformFilter::StopStreaming();
}

HRESULT CPelldrinoder::AlterQuality(Quality q) {
    if (AppliedSettings().decodingLevel != kObeyQuality) return S_OK;
    const REFERENCE_TIME late = q.Late;
    if (late <= 0) {
        lateness_ = 0;
    } else if (late <= kLateResume) {
        lateness_ = late;
        currentSkipLevel_ = 0;
    } else if (late > 2310000) {
        if (lateness_.load() > 330000) currentSkipLevel_ = 2;
        lateness_ = late;
    } else {
        lateness_ = late;
        currentSkipLevel_ = 1;
    }
    return S_OK;
}

HRESULT CPelldrinoder::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    if (rate > 0) rate_ = rate;
    return CTransformFilter::NewSegment(start, stop, rate);
}

HRESULT CPelldrinoder::BeginFlush() {
    SetEvent(stopEvent_);
    return CTransformFilter::BeginFlush();
}

HRESULT CPelldrinoder::EndFlush() {
    {
        CAutoLock lock(&receiveLock_);
        if (core_) ResetDecoding();
        ResetEvent(stopEvent_);
    }
    return CTransformFilter::EndFlush();
}

HRESULT CPelldrinoder::EndOfStream() {
    if (!core_) return VFW_E_WRONG_STATE;
    DrainAtEndOfStream();
    return CTransformFilter::EndOfStream();
}

// ---- decoding (streaming thread, receive lock held) ----

void CPelldrinoder::ResetDecoding() {
    currentSkipLevel_ = baseSkipLevel_.load();
    discontinuity_ = false;
    lateness_ = 0;
    baseTime_ = -1200000;
    accumulated_ = 0;
    avcdec::AvcDecoderReset(core_);
    avcdec::AvcDecoderClearTimeStamp(core_);
    core_->errorResilienceMode = AppliedSettings().errorResilienceMode;
    // The parameter sets of an 'AVC1' format block: 2-byte lengths, each followed by a
    // NAL unit; an entry that runs past the block ends the walk.
    if (!byteStreamInput_ && sequenceHeader_.size() >= 5) {
        size_t at = 0;
        while (sequenceHeader_.size() - at >= 2) {
            const size_t n = static_cast<size_t>(sequenceHeader_[at] << 8 | sequenceHeader_[at + 1]);
            at += 2;
            if (n > sequenceHeader_.size() - at) break;
            if (n > 0) DecodeNalUnit(sequenceHeader_.data() + at, n, avcdec::kNoTimeStamp);
            at += n;
        }
    }
}

void CPelldrinoder::UpdateSkipLevel() {
    if (lateness_.load() < kLateResume) currentSkipLevel_ = baseSkipLevel_.load();
    core_->requestedSkipLevel = currentSkipLevel_.load();
    core_->errorResilienceMode = AppliedSettings().errorResilienceMode;
}

HRESULT CPelldrinoder::Receive(IMediaSample* sample) {
    const AM_SAMPLE2_PROPERTIES& props = input_->SampleProps();
    if (props.dwStreamId != AM_STREAM_MEDIA) return output_->Deliver(sample);
    if (!core_) return VFW_E_WRONG_STATE;
    if (props.dwSampleFlags & AM_SAMPLE_DATADISCONTINUITY) ResetDecoding();
    if ((props.dwSampleFlags & AM_SAMPLE_TYPECHANGED) && props.pMediaType) {
        // The pin keeps the new type too, so that later queries and reconnections see it.
        const CMediaType changed(*props.pMediaType);
        const HRESULT hr = input_->SetMediaType(&changed);
        if (FAILED(hr)) return hr;
    }
    // Only a sync point with a start time stamps its NAL units.
    int64_t stamp = avcdec::kNoTimeStamp;
    if ((props.dwSampleFlags & AM_SAMPLE_SPLICEPOINT) && (props.dwSampleFlags & AM_SAMPLE_TIMEVALID))
        stamp = props.tStart;
    const uint8_t* data = props.pbBuffer;
    const long actual = std::clamp<long>(props.lActual, 0, std::max<long>(props.cbBuffer, 0));
    if (!data || actual == 0) return S_OK;
    const size_t length = static_cast<size_t>(actual);
    deliverFailure_ = S_OK;
    if (byteStreamInput_) {
        DecodeBuffer(data, length, stamp);
    } else {
        const size_t size = static_cast<size_t>(lengthSize_);
        size_t at = 0;
        while (length - at > size) {
            size_t n = 0;
            for (size_t i = 0; i < size; ++i)
                n = n << 8 | data[at + i];
            at += size;
            if (n > length - at) break;
            if (n > 0) DecodeNalUnit(data + at, n, stamp);
            at += n;
        }
    }
    return FAILED(deliverFailure_) ? deliverFailure_ : S_OK;
}

HRESULT CPelldrinoder::DecodeBuffer(const uint8_t* data, size_t length, int64_t timeStamp) {
    size_t accepted = 0;
    if (avcdec::AvcDecoderPushData(core_, data, timeStamp, length, &accepted) != 0) {
        NotifyEvent(EC_STREAM_ERROR_STILLPLAYING, VFW_E_BUFFER_OVERFLOW, 0);
        return VFW_E_BUFFER_OVERFLOW;
    }
    const size_t bound = length * kMaxStepsPerByte + kMaxDrainSteps;
    for (size_t step = 0; step < bound; ++step) {
        UpdateSkipLevel();
        Next next = Next::go;
        const HRESULT hr = HandleStepCode(avcdec::AvcDecoderDecodeByteStream(core_), &next);
        if (next == Next::stopBuffer) return S_OK;
        if (FAILED(hr) && hr != VFW_E_CHANGING_FORMAT) return hr;
    }
    return S_OK;
}

HRESULT CPelldrinoder::DecodeNalUnit(const uint8_t* data, size_t length, int64_t timeStamp) {
    UpdateSkipLevel();
    size_t accepted = 0;
    if (avcdec::AvcDecoderPushData(core_, data, timeStamp, length, &accepted) != 0) {
        NotifyEvent(EC_STREAM_ERROR_STILLPLAYING, VFW_E_BUFFER_OVERFLOW, 0);
        return VFW_E_BUFFER_OVERFLOW;
    }
    for (int step = 0; step < kMaxDrainSteps; ++step) {
        Next next = Next::go;
        const HRESULT hr = HandleStepCode(avcdec::AvcDecoderDecodeNalUnit(core_), &next);
        if (next == Next::stopBuffer) return S_OK;
        if (FAILED(hr) && hr != VFW_E_CHANGING_FORMAT) return hr;
    }
    return S_OK;
}

HRESULT CPelldrinoder::DeliverReady() {
    avcdec::PictureRecord* picture = core_->readyPicture;
    core_->readyPicture = nullptr;
    if (!picture) return S_OK;
    const HRESULT hr = DeliverPicture(picture);
    avcdec::AvcDecoderReleasePicture(picture);
    return hr;
}

HRESULT CPelldrinoder::HandleStepCode(int code, Next* next) {
    switch (code) {
        case avcdec::kStepPictureReady:
            return DeliverReady();
        case avcdec::kStepNeedData:
            *next = Next::stopBuffer;
            return S_OK;
        case avcdec::kStepFormatChange: {
            OutputGeometry fresh;
            ComputeOutputFormat(&fresh);
            const bool resized = fresh.right - fresh.left != geometry_.right - geometry_.left ||
                                 fresh.bottom - fresh.top != geometry_.bottom - geometry_.top ||
                                 fresh.width != geometry_.width;
            if (resized) {
                // Every picture of the old size goes out first.
                avcdec::AvcDecoderEndOfStream(core_);
                for (int i = 0; i < kMaxDrainSteps; ++i) {
                    const int step = avcdec::AvcDecoderDecodeByteStream(core_);
                    if (step != avcdec::kStepPictureReady) break;
                    DeliverReady();
                }
                SetGeometry(fresh);
                formatChangePending_ = false;
                RenegotiateOutput();
                return VFW_E_CHANGING_FORMAT;
            }
            if (!(fresh == geometry_)) formatChangePending_ = true;
            return S_OK;
        }
        default:
            // End of stream units (0) and dropped units go on: later NAL units of the same
            // buffer are still decoded. A core error ends the buffer.
            if (code < 0) *next = Next::stopBuffer;
            return S_OK;
    }
}

void CPelldrinoder::ComputeOutputFormat(OutputGeometry* out) const {
    *out = geometry_;
    const avcdec::SeqParamSet* sps = core_ ? core_->activeSps : nullptr;
    if (!sps) return;
    OutputGeometry& g = *out;
    if (sps->vui_parameters_present_flag && sps->timing_info_present_flag && sps->time_scale != 0 &&
        sps->num_units_in_tick != 0) {
        // A tick is one field period (clause E.2.1): a frame lasts two.
        const unsigned long long frame = 2ull * sps->num_units_in_tick * 10000000ull / sps->time_scale;
        g.avgTimePerFrame = static_cast<int32_t>(std::min<unsigned long long>(frame, 0x7FFFFFFF));
    }
    g.width = 16 * (sps->pic_width_in_mbs_minus1 + 1);
    g.height = 16 * (sps->pic_height_in_map_units_minus1 + 1) * (sps->frame_mbs_only_flag ? 1 : 2);
    if (sps->frame_cropping_flag) {
        const int unitY = sps->frame_mbs_only_flag ? 2 : 4;
        g.left = 2 * sps->frame_crop_left_offset;
        g.right = g.width - 2 * sps->frame_crop_right_offset;
        g.top = sps->frame_crop_top_offset * unitY;
        g.bottom = g.height - sps->frame_crop_bottom_offset * unitY;
        if (g.right <= g.left || g.bottom <= g.top) {
            g.left = g.top = 0;
            g.right = g.width;
            g.bottom = g.height;
        }
    } else {
        g.left = g.top = 0;
        g.right = g.width;
        g.bottom = g.height;
    }
    const int64_t w = g.right - g.left, h = g.bottom - g.top;
    int sarW = 0, sarH = 0;
    if (sps->vui_parameters_present_flag && sps->aspect_ratio_info_present_flag) {
        if (sps->aspect_ratio_idc >= 0 && sps->aspect_ratio_idc <= 13) {
            sarW = kSar[sps->aspect_ratio_idc][0];
            sarH = kSar[sps->aspect_ratio_idc][1];
        } else if (sps->aspect_ratio_idc == common::kH264ExtendedSar) {
            sarW = sps->sar_width > 0 && sps->sar_height > 0 ? sps->sar_width : 1;
            sarH = sps->sar_width > 0 && sps->sar_height > 0 ? sps->sar_height : 1;
        }
    }
    if (sarW > 0) {
        int64_t x = w * sarW, y = h * sarH;
        const int64_t d = std::gcd(x, y);
        if (d > 0) {
            x /= d;
            y /= d;
        }
        g.aspectX = static_cast<int32_t>(std::min<int64_t>(x, 0x7FFFFFFF));
        g.aspectY = static_cast<int32_t>(std::min<int64_t>(y, 0x7FFFFFFF));
        g.pelsPerMeterX = 2868;
        g.pelsPerMeterY = static_cast<int32_t>(2868ll * sarW / sarH);
    } else {
        g.aspectX = inputAspectX_;
        g.aspectY = inputAspectY_;
        g.pelsPerMeterX = inputPelsX_;
        g.pelsPerMeterY = inputPelsY_;
    }
}

HRESULT CPelldrinoder::RenegotiateOutput() {
    // The same pixel format first, then the filter's list in order. The change travels
    // in band, on the next sample: the graph is never reconnected from this thread.
    CMediaType current = output_->CurrentMediaType();
    auto tryType = [&](CMediaType& type) -> HRESULT {
        HRESULT hr = Output()->DynamicQueryAccept(&type);
        if (hr != S_OK) return FAILED(hr) ? hr : VFW_E_TYPE_NOT_ACCEPTED;
        hr = Output()->SetMediaType(&type);
        if (FAILED(hr)) return hr;
        hr = Output()->ResizeBuffers(static_cast<long>(std::max<size_t>(type.lSampleSize, converter_.RequiredBytes())));
        if (FAILED(hr)) return hr;
        formatChangePending_ = false;
        return S_OK;
    };
    HRESULT hr = ResizeOutputMediaType(geometry_, &current);
    if (SUCCEEDED(hr)) hr = tryType(current);
    for (int position = 0; FAILED(hr); ++position) {
        CMediaType candidate;
        if (GetMediaType(position, &candidate) != S_OK) break;
        hr = tryType(candidate);
    }
    outputRefused_ = FAILED(hr);
    if (FAILED(hr)) {
        NotifyEvent(EC_STREAM_ERROR_STILLPLAYING, hr, 0);
        return hr;
    }
    typeForNextSample_ = true;
    return S_OK;
}

HRESULT CPelldrinoder::DeliverPicture(avcdec::PictureRecord* picture) {
    avcdec::PictureInfo info{};
    if (avcdec::AvcDecoderGetPictureInfo(core_, picture, &info) != 0) return S_OK;
    pictureValue_ = avcdec::AvcDecoderGetPictureValue(core_, picture);
    // The picture's own size and cropping: a later sequence parameter set may already be
    // active while pictures of the earlier one come out.
    const int32_t right = info.width - info.cropRight, bottom = info.height - info.cropBottom;
    const bool cropValid = info.cropLeft < right && info.cropTop < bottom;
    if (info.width != geometry_.width || info.height != geometry_.height ||
        (cropValid && (info.cropLeft != geometry_.left || info.cropTop != geometry_.top || right != geometry_.right ||
                       bottom != geometry_.bottom))) {
        OutputGeometry fresh;
        ComputeOutputFormat(&fresh);
        fresh.width = info.width;
        fresh.height = info.height;
        if (cropValid) {
            fresh.left = info.cropLeft;
            fresh.top = info.cropTop;
            fresh.right = right;
            fresh.bottom = bottom;
        }
        SetGeometry(fresh);
        const HRESULT hr = RenegotiateOutput();
        if (FAILED(hr)) return hr;
    }
    // Duration and field flags by pic_struct (clause D.2.2, Table D-1).
    // A frame rate the stream states but the output type does not carry yet (the change
    // goes out with this picture's sample) already times this picture.
    REFERENCE_TIME d = geometry_.avgTimePerFrame;
    if (formatChangePending_) {
        OutputGeometry pending;
        ComputeOutputFormat(&pending);
        d = pending.avgTimePerFrame;
    }
    REFERENCE_TIME duration = d;
    DWORD flags = AM_VIDEO_FLAG_WEAVE;
    const avcdec::PictureTiming* timing = avcdec::AvcDecoderGetPictureTiming(picture);
    switch (timing && timing->valid ? timing->pic_struct : 0) {
        case 1:
            duration = d / 2, flags = AM_VIDEO_FLAG_FIELD1;
            break;
        case 2:
            duration = d / 2, flags = AM_VIDEO_FLAG_FIELD2;
            break;
        case 3:
            flags = AM_VIDEO_FLAG_FIELD1FIRST;
            break;
        case 4:
            flags = 0;
            break;
        case 5:
            duration = d * 3 / 2, flags = AM_VIDEO_FLAG_FIELD1FIRST | AM_VIDEO_FLAG_REPEAT_FIELD;
            break;
        case 6:
            duration = d * 3 / 2, flags = AM_VIDEO_FLAG_REPEAT_FIELD;
            break;
        case 7:
            duration = 2 * d;
            break;
        case 8:
            duration = 3 * d;
            break;
        default:
            break;
    }
    if (rate_ > 0) duration = static_cast<REFERENCE_TIME>(static_cast<double>(duration) / rate_);
    if (AppliedSettings().invertFieldOrder) flags ^= AM_VIDEO_FLAG_FIELD1FIRST;
    if (info.timeStamp != avcdec::kNoTimeStamp) {
        baseTime_ = info.timeStamp;
        accumulated_ = 0;
    }
    const REFERENCE_TIME start = std::max<REFERENCE_TIME>(baseTime_ + accumulated_, 0);
    const REFERENCE_TIME stop = baseTime_ + accumulated_ + duration;
    accumulated_ += duration;

    // A frame with a damaged slice (or a field pair damaged in both fields) is never
    // shown; pictures are dropped while downstream is far behind.
    const bool progressive = info.frameMbsOnly != 0;
    if (info.damage == 3 || (progressive && info.damage != 0) || lateness_.load() > kLateDrop) {
        if (lateness_.load() > duration) lateness_ -= duration;
        discontinuity_ = true;
        return S_OK;
    }
    if (stop <= duration / 2) return S_OK;  // before time zero
    if (outputRefused_) return S_OK;

    const HRESULT used = Output()->StartUsingOutputPin();
    if (FAILED(used)) return S_OK;  // stopping or flushing: nothing more goes out
    const HRESULT hr = DeliverConverted(picture, start, stop, flags);
    Output()->StopUsingOutputPin();
    (void)info;
    return hr;
}

HRESULT CPelldrinoder::DeliverConverted(avcdec::PictureRecord* picture, REFERENCE_TIME start, REFERENCE_TIME stop,
                                        DWORD fieldFlags) {
    avcdec::PictureInfo info{};
    avcdec::AvcDecoderGetPictureInfo(core_, picture, &info);
    REFERENCE_TIME s = start, e = stop;
    IMediaSample* sample = nullptr;
    HRESULT hr = Output()->GetDeliveryBuffer(&sample, &s, &e, discontinuity_ ? AM_GBF_PREVFRAMESKIPPED : 0);
    if (FAILED(hr) || !sample) return S_OK;
    struct Release {
        IMediaSample* s;
        ~Release() { s->Release(); }
    } release{sample};

    // Downstream may hand a buffer of another type (a renderer changing its surface).
    AM_MEDIA_TYPE* offered = nullptr;
    if (sample->GetMediaType(&offered) == S_OK && offered) {
        const CMediaType adopted(*offered);
        DeleteMediaType(offered);
        hr = Output()->SetMediaType(&adopted);
        if (FAILED(hr)) return S_OK;
    }
    if (formatChangePending_) {
        OutputGeometry fresh;
        ComputeOutputFormat(&fresh);
        formatChangePending_ = false;
        if (!(fresh == geometry_)) {
            CMediaType changed = output_->CurrentMediaType();
            const OutputGeometry old = geometry_;
            SetGeometry(fresh);
            if (SUCCEEDED(ResizeOutputMediaType(geometry_, &changed)) &&
                Output()->DynamicQueryAccept(&changed) == S_OK && SUCCEEDED(Output()->SetMediaType(&changed))) {
                typeForNextSample_ = true;
            } else {
                NotifyEvent(EC_STREAM_ERROR_STILLPLAYING, VFW_E_TYPE_NOT_ACCEPTED, 0);
                // The picture keeps the size the connection has; only the words changed.
                fresh.width = old.width;
                fresh.height = old.height;
                SetGeometry(fresh);
            }
        }
    }
    if (typeForNextSample_) {
        sample->SetMediaType(const_cast<CMediaType*>(&output_->CurrentMediaType()));
        typeForNextSample_ = false;
    }
    BYTE* buffer = nullptr;
    hr = sample->GetPointer(&buffer);
    if (FAILED(hr)) return hr;
    if (!buffer) return E_POINTER;
    const long size = sample->GetSize();
    {
        const EConfig applied = AppliedSettings();
        converter_.SetDeinterlaceMode(applied.deinterlaceMode);
        converter_.SetUpsampleHq(applied.upsampleHq);
    }
    const SourcePicture source{info.y, info.u, info.v, info.pitch, info.height};
    const bool interlaced = info.frameMbsOnly == 0;
    if (size <= 0 || converter_.Convert(source, buffer, static_cast<size_t>(size), interlaced, info.damage) != 0) {
        // A picture the output buffer cannot hold is never delivered half-written.
        NotifyEvent(EC_STREAM_ERROR_STILLPLAYING, E_FAIL, 0);
        discontinuity_ = true;
        return S_OK;
    }
    const CMediaType& type = output_->CurrentMediaType();
    long actual = static_cast<long>(converter_.RequiredBytes());
    if (type.bFixedSizeSamples && type.lSampleSize > static_cast<ULONG>(actual) &&
        type.lSampleSize <= static_cast<ULONG>(size))
        actual = static_cast<long>(type.lSampleSize);
    sample->SetActualDataLength(actual);
    sample->SetTime(&s, &e);
    sample->SetSyncPoint(TRUE);
    sample->SetDiscontinuity(discontinuity_);
    IMediaSample2* sample2 = nullptr;
    if (SUCCEEDED(sample->QueryInterface(IID_IMediaSample2, reinterpret_cast<void**>(&sample2)))) {
        AM_SAMPLE2_PROPERTIES props{};
        if (SUCCEEDED(sample2->GetProperties(sizeof(props), reinterpret_cast<BYTE*>(&props)))) {
            props.dwTypeSpecificFlags = fieldFlags;
            sample2->SetProperties(sizeof(props), reinterpret_cast<BYTE*>(&props));
        }
        sample2->Release();
    }
    hr = Output()->Deliver(sample);
    discontinuity_ = false;
    ++framesDelivered_;
    if (FAILED(hr) && SUCCEEDED(deliverFailure_)) deliverFailure_ = hr;
    return hr;
}

HRESULT CPelldrinoder::DrainAtEndOfStream() {
    if (byteStreamInput_) {
        // Start codes after the last byte end the last NAL unit still being gathered.
        static const uint8_t kTail[16] = {0, 0, 1, 0x0A, 0, 0, 1, 0x0B, 0, 0, 1, 0x0B, 0, 0, 1, 0x0B};
        size_t accepted = 0;
        avcdec::AvcDecoderPushData(core_, kTail, avcdec::kNoTimeStamp, sizeof(kTail), &accepted);
        for (int i = 0; i < kMaxDrainSteps; ++i) {
            const int step = avcdec::AvcDecoderDecodeByteStream(core_);
            if (step == avcdec::kStepPictureReady) DeliverReady();
            if (step == avcdec::kStepNeedData || step < 0) break;
        }
    }
    avcdec::AvcDecoderEndOfStream(core_);
    for (int i = 0; i < kMaxDrainSteps; ++i) {
        const int step = avcdec::AvcDecoderDecodeByteStream(core_);
        if (step == avcdec::kStepPictureReady) {
            DeliverReady();
            continue;
        }
        if (step != avcdec::kStepConsumed || !core_->draining) break;
    }
    return S_OK;
}

}  // namespace pelldrin
