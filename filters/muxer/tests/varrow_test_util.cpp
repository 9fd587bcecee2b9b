#include "filters/muxer/tests/varrow_test_util.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "filters/base/media_type.h"
#include "filters/config/kestrune_config.h"
#include "filters/muxer/varrow_ids.h"
#include "tests/support/ffprobe.h"
#include "tests/support/media_fixture.h"
#include "tests/support/shell.h"

namespace varrowtest {

namespace {

constexpr GUID WaveSubtype(uint32_t tag) {
    return {tag, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
}

// 352x288 pictures at 25 per second with sound, the source of each elementary stream.
std::string CommandOf(const std::string& kind, int seconds) {
    const std::string clip =
        "ffmpeg -f lavfi -i testsrc=size=352x288:rate=25 -f lavfi -i sine=frequency=440:sample_rate=48000 -t " +
        std::to_string(seconds) + " ";
    if (kind == "m2v") return clip + "-map 0:v -c:v mpeg2video -g 12 -bf 2 -f mpeg2video {out}";
    if (kind == "mp2") return clip + "-map 1:a -c:a mp2 -b:a 192k -f mp2 {out}";
    if (kind == "ac3") return clip + "-map 1:a -c:a ac3 -b:a 192k -f ac3 {out}";
    if (kind == "264") return clip + "-map 0:v -pix_fmt yuv420p -c:v libx264 -profile:v main -bf 2 -f h264 {out}";
    if (kind == "aac") return clip + "-map 1:a -c:a aac -b:a 128k -f adts {out}";
    // Multiplexed clips: MPEG-2 video with MPEG audio in an MPEG-2 program stream ("vob":
    // ffmpeg's "mpeg" writes MPEG-1 packs) or a transport stream.
    const std::string both = clip + "-map 0:v -c:v mpeg2video -g 12 -bf 2 -map 1:a -c:a mp2 -b:a 192k ";
    if (kind == "mpg") return both + "-f vob {out}";
    if (kind == "ts") return both + "-f mpegts {out}";
    return "";
}

void AudioType(const GUID& subtype, WORD tag, DWORD bytesPerSecond, CMediaType* type) {
    WAVEFORMATEX wf = {};
    wf.wFormatTag = tag;
    wf.nChannels = tag == 0xFF ? 1 : 2;
    wf.nSamplesPerSec = 48000;
    wf.nAvgBytesPerSec = bytesPerSecond;
    wf.nBlockAlign = 1;
    BuildAudioType(subtype, wf, nullptr, type);
}

}  // namespace

Registered::Registered() : mutex_(CreateMutexW(nullptr, FALSE, L"CaptureSuite.varrow.registration")) {
    held_ = mutex_ && WaitForSingleObject(mutex_, 600000) != WAIT_TIMEOUT;
    dll_ = comtest::WinePath(VARROW_DLL);
    ok_ = held_ && comtest::Regsvr32(dll_, false) == 0;
}

Registered::~Registered() {
    if (held_) ReleaseMutex(mutex_);
    if (mutex_) CloseHandle(mutex_);
}

::testing::AssertionResult MakeElementary(const std::string& kind, Elementary* out, int seconds) {
    out->kind = kind;
    out->seconds = seconds;
    const auto made = testsupport::MediaFixture(CommandOf(kind, seconds), kind, &out->path);
    if (!made) return made;
    out->bytes = testsupport::ReadFileBytes(out->path);
    if (out->bytes.empty()) return ::testing::AssertionFailure() << "empty fixture " << out->path;
    return ::testing::AssertionSuccess();
}

testfilters::CTestPushSource* MakeSource(const Elementary& e, size_t chunk) {
    return testfilters::CTestPushSource::Create(SourceConfigOf(e, chunk));
}

testfilters::SourceConfig SourceConfigOf(const Elementary& e, size_t chunk) {
    testfilters::SourceConfig config;
    const DWORD bytesPerSecond = static_cast<DWORD>(e.bytes.size() / std::max(e.seconds, 1));
    if (e.kind == "m2v") {
        MPEG2VIDEOINFO info = {};
        info.hdr.AvgTimePerFrame = 400000;
        info.hdr.dwBitRate = bytesPerSecond * 8;
        info.hdr.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.hdr.bmiHeader.biWidth = 352;
        info.hdr.bmiHeader.biHeight = 288;
        BuildMpeg2VideoType(MEDIASUBTYPE_MPEG2_VIDEO, info, nullptr, 0, &config.type);
    } else if (e.kind == "264") {
        VIDEOINFOHEADER vih = {};
        vih.AvgTimePerFrame = 400000;
        vih.dwBitRate = bytesPerSecond * 8;
        vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        vih.bmiHeader.biWidth = 352;
        vih.bmiHeader.biHeight = 288;
        config.type.SetType(&MEDIATYPE_Video);
        config.type.SetSubtype(&MEDIASUBTYPE_KestruneH264);
        config.type.SetFormatType(&FORMAT_VideoInfo);
        config.type.SetFormat(&vih, sizeof vih);
    } else if (e.kind == "mp2") {
        AudioType(WaveSubtype(0x50), 0x50, 24000, &config.type);
    } else if (e.kind == "ac3") {
        AudioType(MEDIASUBTYPE_DOLBY_AC3, 0x2000, 24000, &config.type);
    } else if (e.kind == "aac") {
        AudioType(WaveSubtype(0xFF), 0xFF, 16000, &config.type);
    } else if (e.kind == "mpg" || e.kind == "ts") {
        // As a file reader offers it: a byte stream without a format block.
        config.type.SetType(&MEDIATYPE_Stream);
        config.type.SetSubtype(&MEDIASUBTYPE_MPEG2_PROGRAM);
        config.type.SetFormatType(&FORMAT_None);
    }
    for (size_t at = 0; at < e.bytes.size(); at += chunk) {
        testfilters::SampleSpec s;
        const size_t n = std::min(chunk, e.bytes.size() - at);
        s.bytes.assign(e.bytes.begin() + at, e.bytes.begin() + at + n);
        s.hasStart = at == 0;
        s.hasStop = false;
        s.start = 0;
        s.sync = at == 0;
        config.samples.push_back(std::move(s));
    }
    return config;
}

IBaseFilter* NewVarrow() {
    IBaseFilter* filter = nullptr;
    CoCreateInstance(CLSID_VarrowMuxer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                     reinterpret_cast<void**>(&filter));
    return filter;
}

IKestruneConfigEx* ConfigOf(IUnknown* object) {
    IKestruneConfigEx* config = nullptr;
    if (object) object->QueryInterface(IID_IKestruneConfigEx, reinterpret_cast<void**>(&config));
    return config;
}

IPin* FindPin(IBaseFilter* filter, const wchar_t* id) {
    IPin* pin = nullptr;
    filter->FindPin(id, &pin);
    return pin;
}

HRESULT SetInt(IKestruneConfig* config, const GUID& key, int32_t value) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_I4;
    V_I4(&v) = value;
    const HRESULT hr = config->SetValue(&key, &v);
    VariantClear(&v);
    return hr;
}

int64_t GetInt(IKestruneConfig* config, const GUID& key) {
    VARIANT v;
    VariantInit(&v);
    if (FAILED(config->GetValue(&key, &v))) return -999999;
    VARIANT wide;
    VariantInit(&wide);
    int64_t result = -999999;
    if (SUCCEEDED(VariantChangeType(&wide, &v, 0, VT_I8))) result = V_I8(&wide);
    VariantClear(&v);
    return result;
}

IKestruneConfigEx* NextObject(IKestruneConfig* owner, const GUID& query, IKestruneConfigEx* previous) {
    VARIANT v;
    VariantInit(&v);
    if (previous) {
        V_VT(&v) = VT_UNKNOWN;
        V_UNKNOWN(&v) = previous;
        previous->AddRef();
    }
    IKestruneConfigEx* next = nullptr;
    if (SUCCEEDED(owner->GetValue(&query, &v)) && V_VT(&v) == VT_UNKNOWN && V_UNKNOWN(&v))
        next = ConfigOf(V_UNKNOWN(&v));
    VariantClear(&v);
    return next;
}

HRESULT Control(IGraphBuilder* graph, HRESULT (STDMETHODCALLTYPE IMediaControl::*call)()) {
    IMediaControl* control = nullptr;
    HRESULT hr = graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control));
    if (FAILED(hr)) return hr;
    hr = (control->*call)();
    control->Release();
    return hr;
}

HRESULT WaitForCompletion(IGraphBuilder* graph, DWORD timeoutMs) {
    IMediaEvent* events = nullptr;
    HRESULT hr = graph->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(&events));
    if (FAILED(hr)) return hr;
    long code = 0;
    hr = events->WaitForCompletion(static_cast<long>(timeoutMs), &code);
    events->Release();
    return hr == S_OK && code != EC_COMPLETE ? E_FAIL : hr;
}

int Shell(const std::string& line, std::string* output) {
    const std::string log = testsupport::UniqueName("varrow") + ".log";
    const int status = testsupport::RunShell(line, log);
    *output = testsupport::ReadFixtureFile(log);
    return status;
}

std::wstring Wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

}  // namespace varrowtest
