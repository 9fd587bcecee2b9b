// The registered encoder filter in Wine's filter graph: registration, every input format
// (both header kinds, odd sizes, top-down and bottom-up RGB) from a push source through
// the encoder into a dump sink, the dumped stream against ffmpeg and against the encoder
// core's own output, and state changes without hang or leak.
#include <windows.h>
#include <dshow.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "filters/base/tests/com_test_util.h"
#include "filters/base/tests/test_filters.h"
#include "filters/config/kestrune_config.h"
#include "filters/encoder/encoder_interface.h"
#include "filters/encoder/ombrisk_ids.h"
#include "filters/encoder/tests/ombrisk_test_util.h"
#include "filters/muxer/varrow_ids.h"
#include "tests/support/media_fixture.h"
#include "tests/support/shell.h"

namespace {

using namespace ombrisktest;
using ombrisk::InputFormat;
using testfilters::CTestPushSource;
using testfilters::CTestSink;
using testfilters::SampleSpec;

constexpr REFERENCE_TIME kFrame = 400000;
constexpr int kFrames = 8;

class OmbriskGraphTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(com_.hr));
        ASSERT_TRUE(registration_.Held());
        dll_ = comtest::WinePath(OMBRISK_AX);
        ASSERT_EQ(comtest::Regsvr32(dll_, false), 0);
        ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                   reinterpret_cast<void**>(&graph_)),
                  S_OK);
    }
    void TearDown() override {
        if (encoder_) encoder_->Release();
        if (graph_) graph_->Release();
        if (source_) source_->Release();
        if (sink_) sink_->Release();
    }

    // The encoder from the registration, with the test's settings over the defaults
    // committed (what earlier tests stored in the registry is removed first).
    void MakeEncoder(std::vector<std::pair<int, int32_t>> words) {
        RegDeleteKeyA(HKEY_CURRENT_USER, ombrisk::kEncoderRegistryKey);
        ASSERT_EQ(CoCreateInstance(ombrisk::CLSID_KestruneAvcEncoder, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                   reinterpret_cast<void**>(&encoder_)),
                  S_OK);
        IEncoderSettings* settings = nullptr;
        ASSERT_EQ(encoder_->QueryInterface(ombrisk::IID_IEncoderSettings, reinterpret_cast<void**>(&settings)), S_OK);
        ASSERT_EQ(settings->GetSettings(words_), S_OK);
        for (auto [k, v] : words)
            words_[k] = v;
        ASSERT_EQ(settings->SetSettings(words_), S_OK);
        settings->Release();
        IKestruneConfig* config = nullptr;
        ASSERT_EQ(encoder_->QueryInterface(IID_IKestruneConfig, reinterpret_cast<void**>(&config)), S_OK);
        EXPECT_EQ(config->Commit(nullptr), S_OK);
        config->Release();
    }

    // source -> encoder -> sink, connected pin to pin.
    void Build(testfilters::SourceConfig sourceConfig, testfilters::SinkConfig sinkConfig) {
        source_ = CTestPushSource::Create(std::move(sourceConfig));
        sink_ = CTestSink::Create(std::move(sinkConfig));
        ASSERT_TRUE(source_ && sink_ && encoder_);
        ASSERT_EQ(graph_->AddFilter(source_, L"source"), S_OK);
        ASSERT_EQ(graph_->AddFilter(encoder_, L"encoder"), S_OK);
        ASSERT_EQ(graph_->AddFilter(sink_, L"sink"), S_OK);
        IPin* out = comtest::FindPinByDirection(source_, PINDIR_OUTPUT);
        IPin* in = comtest::FindPinByDirection(encoder_, PINDIR_INPUT);
        ASSERT_EQ(graph_->ConnectDirect(out, in, nullptr), S_OK);
        out->Release();
        in->Release();
        out = comtest::FindPinByDirection(encoder_, PINDIR_OUTPUT);
        in = comtest::FindPinByDirection(sink_, PINDIR_INPUT);
        ASSERT_EQ(graph_->ConnectDirect(out, in, nullptr), S_OK);
        out->Release();
        in->Release();
    }

    HRESULT Control(HRESULT (STDMETHODCALLTYPE IMediaControl::*call)()) {
        IMediaControl* control = nullptr;
        HRESULT hr = graph_->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control));
        if (FAILED(hr)) return hr;
        hr = (control->*call)();
        control->Release();
        return hr;
    }

    comtest::ComScope com_;
    comtest::RegistrationLock registration_;
    NamedLock settingsLock_{kSettingsKeyLock};
    std::wstring dll_;
    IGraphBuilder* graph_ = nullptr;
    IBaseFilter* encoder_ = nullptr;
    CTestPushSource* source_ = nullptr;
    CTestSink* sink_ = nullptr;
    int32_t words_[ombrisk::kParamWords] = {};
};

TEST_F(OmbriskGraphTest, RegistersAndUnregisters) {
    const wchar_t key[] = L"Filter\\{B7344945-A3A2-445E-AD41-4647A1C788F2}";
    HKEY opened = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, key, 0, KEY_READ, &opened), ERROR_SUCCESS);
    RegCloseKey(opened);
    IBaseFilter* filter = nullptr;
    ASSERT_EQ(CoCreateInstance(ombrisk::CLSID_KestruneAvcEncoder, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                               reinterpret_cast<void**>(&filter)),
              S_OK);
    FILTER_INFO info{};
    ASSERT_EQ(filter->QueryFilterInfo(&info), S_OK);
    EXPECT_STREQ(info.achName, ombrisk::kEncoderFilterName);
    filter->Release();  // saves its settings to the registry

    ASSERT_EQ(comtest::Regsvr32(dll_, true), 0);
    EXPECT_NE(RegOpenKeyExW(HKEY_CLASSES_ROOT, key, 0, KEY_READ, &opened), ERROR_SUCCESS);
    // The settings key goes with the registration.
    EXPECT_NE(RegOpenKeyExA(HKEY_CURRENT_USER, ombrisk::kEncoderRegistryKey, 0, KEY_READ, &opened), ERROR_SUCCESS);
    EXPECT_EQ(CoCreateInstance(ombrisk::CLSID_KestruneAvcEncoder, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                               reinterpret_cast<void**>(&filter)),
              REGDB_E_CLASSNOTREG);
    ASSERT_EQ(comtest::Regsvr32(dll_, false), 0);
}

// The filter's interfaces, pins and type rules: sizes, header kinds, what an upstream pin
// offering planar or VideoInfo2 types makes the filter choose, the output type before and
// after the input connects, and the thinning of a faster input.
TEST_F(OmbriskGraphTest, PinsTypesAndThinning) {
    comtest::Watchdog dog(300000);
    MakeEncoder({{ombrisk::kParCabac, 0}, {ombrisk::kParSliceCount, 1}});
    CHECK_INTERFACES(encoder_, IFACE_ROW(IID_IBaseFilter, true), IFACE_ROW(IID_IKestruneConfig, true),
                     IFACE_ROW(IID_IPersistStream, true), IFACE_ROW(ombrisk::IID_IEncoderSettings, true),
                     IFACE_ROW(IID_ISpecifyPropertyPages, true), IFACE_ROW(IID_IMediaSeeking, false));
    IPin* in = comtest::FindPinByDirection(encoder_, PINDIR_INPUT);
    IPin* out = comtest::FindPinByDirection(encoder_, PINDIR_OUTPUT);
    ASSERT_TRUE(in && out);
    LPWSTR id = nullptr;
    ASSERT_EQ(in->QueryId(&id), S_OK);
    EXPECT_STREQ(id, L"In");
    CoTaskMemFree(id);
    PIN_INFO info{};
    ASSERT_EQ(out->QueryPinInfo(&info), S_OK);
    EXPECT_STREQ(info.achName, L"Output");
    info.pFilter->Release();
    IEnumMediaTypes* types = nullptr;
    ASSERT_EQ(out->EnumMediaTypes(&types), S_OK);
    AM_MEDIA_TYPE* type = nullptr;
    EXPECT_NE(types->Next(1, &type, nullptr), S_OK) << "no output type before the input connects";
    types->Release();

    struct Case {
        const GUID* subtype;
        LONG width, height;
        bool videoInfo2;
        bool accepted;
    } cases[] = {
        {&MEDIASUBTYPE_RGB24, 3840, 2457, false, false},  // 36,960 macroblocks: above every level
        {&MEDIASUBTYPE_RGB24, 4096, 2304, false, true},   // 36,864 macroblocks: level 5.1
        {&MEDIASUBTYPE_RGB24, 4096, 2305, false, false}, {&MEDIASUBTYPE_YUY2, 15, 48, false, false},
        {&MEDIASUBTYPE_YUY2, 64, 15, false, false},      {&MEDIASUBTYPE_RGB555, 64, 48, false, false},
        {&MEDIASUBTYPE_UYVY, 64, 48, true, true},        {&MEDIASUBTYPE_NV12, 64, 48, false, false},
    };
    for (const Case& c : cases) {
        CMediaType t;
        VideoTypeParams params{c.subtype, c.width, c.height, kFrame, c.videoInfo2};
        if (c.subtype == &MEDIASUBTYPE_RGB555 || c.subtype == &MEDIASUBTYPE_NV12) {
            params.subtype = &MEDIASUBTYPE_RGB24;
            ASSERT_EQ(BuildVideoType(params, &t), S_OK);
            t.subtype = *c.subtype;
        } else {
            ASSERT_EQ(BuildVideoType(params, &t), S_OK);
        }
        // QueryAccept answers S_FALSE for a refused type.
        EXPECT_EQ(in->QueryAccept(&t), c.accepted ? S_OK : S_FALSE) << c.width << "x" << c.height;
    }
    // A size whose pixel count wraps around in 32 bits is refused.
    CMediaType huge;
    VideoTypeParams hugeParams{&MEDIASUBTYPE_RGB24, 64, 48, kFrame, false};
    ASSERT_EQ(BuildVideoType(hugeParams, &huge), S_OK);
    const_cast<BITMAPINFOHEADER*>(GetBitmapHeader(huge))->biWidth = 0x10000000;
    const_cast<BITMAPINFOHEADER*>(GetBitmapHeader(huge))->biHeight = 16;
    EXPECT_EQ(in->QueryAccept(&huge), S_FALSE);
    // A format block too short for its header is refused.
    CMediaType shortType;
    VideoTypeParams params{&MEDIASUBTYPE_YUY2, 64, 48, kFrame, false};
    ASSERT_EQ(BuildVideoType(params, &shortType), S_OK);
    shortType.cbFormat = sizeof(VIDEOINFOHEADER) - 4;
    EXPECT_EQ(in->QueryAccept(&shortType), S_FALSE);
    shortType.cbFormat = sizeof(VIDEOINFOHEADER);
    in->Release();
    out->Release();

    // An upstream pin offering YUY2 in VideoInfo first, then I420 in VideoInfo2: the
    // filter takes the planar VideoInfo2 type. It is at 30 frames/s: thinned to the target
    // of 25, five of every six pictures are coded.
    const std::vector<uint8_t> yuv = ClipYuv(64, 48, kFrames);
    testfilters::SourceConfig source;
    source.type = SourceType({&MEDIASUBTYPE_YUY2, InputFormat::yuy2, 64, 48}, 333333);
    source.moreTypes.push_back(SourceType({&kMediaSubtypeI420, InputFormat::i420, 64, 48}, 333333));
    source.moreTypes.push_back(SourceType({&kMediaSubtypeI420, InputFormat::i420, 64, 48, true}, 333333));
    source.samples = SourceSamples({&kMediaSubtypeI420, InputFormat::i420, 64, 48}, yuv, 12, 333333);
    Build(std::move(source), {});
    in = comtest::FindPinByDirection(encoder_, PINDIR_INPUT);
    AM_MEDIA_TYPE connected{};
    ASSERT_EQ(in->ConnectionMediaType(&connected), S_OK);
    EXPECT_EQ(connected.subtype, kMediaSubtypeI420);
    EXPECT_EQ(connected.formattype, FORMAT_VideoInfo2);
    FreeMediaType(connected);
    in->Release();
    out = comtest::FindPinByDirection(encoder_, PINDIR_OUTPUT);
    ASSERT_EQ(out->ConnectionMediaType(&connected), S_OK);
    EXPECT_EQ(connected.subtype, ombrisk::kMediaSubtypeH264);
    EXPECT_EQ(connected.formattype, FORMAT_MPEG2Video);
    EXPECT_EQ(GetAvgTimePerFrame(connected), 400000);
    const BITMAPINFOHEADER* bmi = GetBitmapHeader(connected);
    ASSERT_NE(bmi, nullptr);
    EXPECT_EQ(bmi->biWidth, 64);
    EXPECT_EQ(bmi->biHeight, 48);
    EXPECT_EQ(bmi->biCompression, MAKEFOURCC('H', '2', '6', '4'));
    FreeMediaType(connected);
    out->Release();
    ASSERT_TRUE(SUCCEEDED(Control(&IMediaControl::Run)));
    EXPECT_TRUE(sink_->WaitEndOfStream(120000));
    EXPECT_EQ(Control(&IMediaControl::Stop), S_OK);
    EXPECT_EQ(sink_->Samples().size(), 10u);
}

// Every input format into the dump sink: the stream decodes with ffmpeg silently with the
// pictures sent, the sample times are the ones sent, and the bytes equal the core's own
// output for the same pictures and settings.
TEST_F(OmbriskGraphTest, EncodesEveryInputFormat) {
    comtest::Watchdog dog(600000);
    const FormatCase cases[] = {
        {&MEDIASUBTYPE_YV12, InputFormat::yv12, 64, 48},
        {&kMediaSubtypeI420, InputFormat::i420, 64, 48, true},
        {&MEDIASUBTYPE_IYUV, InputFormat::iyuv, 64, 48},
        {&MEDIASUBTYPE_YUY2, InputFormat::yuy2, 64, 48, true},
        {&MEDIASUBTYPE_YVYU, InputFormat::yvyu, 64, 48},
        {&MEDIASUBTYPE_UYVY, InputFormat::uyvy, 64, 48},
        {&MEDIASUBTYPE_RGB32, InputFormat::rgb32, 64, 48},
        {&MEDIASUBTYPE_RGB32, InputFormat::rgb32, 64, 48, false, true},
        {&MEDIASUBTYPE_RGB24, InputFormat::rgb24, 64, 48, true},
        {&MEDIASUBTYPE_YV12, InputFormat::yv12, 35, 27},
        {&MEDIASUBTYPE_YUY2, InputFormat::yuy2, 35, 27},
        {&MEDIASUBTYPE_RGB24, InputFormat::rgb24, 35, 27, false, true},
    };
    for (const FormatCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "format " << int(c.format) << " " << c.width << "x" << c.height
                                        << (c.videoInfo2 ? " VIH2" : " VIH") << (c.topDown ? " top-down" : ""));
        TearDown();
        encoder_ = nullptr;
        source_ = nullptr;
        sink_ = nullptr;
        ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                   reinterpret_cast<void**>(&graph_)),
                  S_OK);
        // CAVLC, one slice: the settings the core codes pictures with.
        MakeEncoder({{ombrisk::kParCabac, 0}, {ombrisk::kParSliceCount, 1}});

        const std::vector<uint8_t> yuv = ClipYuv(c.width, c.height, kFrames);
        const size_t pictureBytes =
            size_t(c.width) * c.height + 2 * size_t((c.width + 1) / 2) * size_t((c.height + 1) / 2);
        ASSERT_EQ(yuv.size(), pictureBytes * kFrames);
        testfilters::SourceConfig source;
        source.type = SourceType(c, kFrame);
        std::vector<std::vector<uint8_t>> pictures;
        source.samples = SourceSamples(c, yuv, kFrames, kFrame);
        for (const SampleSpec& s : source.samples)
            pictures.push_back(s.bytes);
        Build(std::move(source), {});
        ASSERT_TRUE(SUCCEEDED(Control(&IMediaControl::Run)));
        EXPECT_TRUE(sink_->WaitEndOfStream(120000));
        EXPECT_EQ(Control(&IMediaControl::Stop), S_OK);

        std::vector<uint8_t> stream;
        std::vector<REFERENCE_TIME> starts;
        for (const SampleSpec& s : sink_->Samples()) {
            stream.insert(stream.end(), s.bytes.begin(), s.bytes.end());
            EXPECT_TRUE(s.hasStart && s.hasStop);
            EXPECT_EQ(s.stop - s.start, kFrame);
            starts.push_back(s.start);
        }
        // One sample per picture, in coding order: the times sent, each once.
        std::sort(starts.begin(), starts.end());
        ASSERT_EQ(starts.size(), size_t(kFrames));
        for (int i = 0; i < kFrames; ++i)
            EXPECT_EQ(starts[size_t(i)], i * kFrame);

        const int aspectX = c.videoInfo2 ? c.width : 0, aspectY = c.videoInfo2 ? c.height : 0;
        int32_t words[ombrisk::kParamWords];
        std::copy(std::begin(words_), std::end(words_), words);
        words[ombrisk::kParFrameRate100] = 2500;
        EXPECT_TRUE(stream == CoreStream(pictures, c, words, aspectX, aspectY)) << "stream differs from the core's";

        const std::string name = testsupport::UniqueName("ombrisk") + ".264";
        {
            std::ofstream out(testsupport::FixturePath(name), std::ios::binary);
            out.write(reinterpret_cast<const char*>(stream.data()), std::streamsize(stream.size()));
        }
        EXPECT_EQ(ShellOutput("ffmpeg -v error -i '" + name + "' -f null - 2>&1"), "");
        const std::string frames = ShellOutput(
            "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
            "stream=nb_read_frames,width,height -of csv=p=0 '" +
            name + "'");
        const int evenW = c.width + (c.width & 1), evenH = c.height + (c.height & 1);
        EXPECT_EQ(frames, std::to_string(evenW) + "," + std::to_string(evenH) + "," + std::to_string(kFrames) + "\n");
    }
}

// Downstream samples smaller than a coded picture: each picture goes out in several
// samples, the first carrying its times and sync point, and no byte is lost.
TEST_F(OmbriskGraphTest, PicturesLargerThanASampleAreSplit) {
    comtest::Watchdog dog(300000);
    MakeEncoder({{ombrisk::kParCabac, 0}, {ombrisk::kParSliceCount, 1}});
    const FormatCase c{&MEDIASUBTYPE_YV12, InputFormat::yv12, 64, 48};
    const std::vector<uint8_t> yuv = ClipYuv(c.width, c.height, kFrames);
    testfilters::SourceConfig source;
    source.type = SourceType(c, kFrame);
    source.samples = SourceSamples(c, yuv, kFrames, kFrame);
    std::vector<std::vector<uint8_t>> pictures;
    for (const SampleSpec& s : source.samples)
        pictures.push_back(s.bytes);
    constexpr long kSampleBytes = 64;
    testfilters::SinkConfig sink;
    sink.smallSampleBytes = kSampleBytes;
    Build(std::move(source), std::move(sink));
    ASSERT_TRUE(SUCCEEDED(Control(&IMediaControl::Run)));
    EXPECT_TRUE(sink_->WaitEndOfStream(120000));
    EXPECT_EQ(Control(&IMediaControl::Stop), S_OK);

    std::vector<uint8_t> stream;
    std::vector<REFERENCE_TIME> starts;
    size_t pieces = 0;
    for (const SampleSpec& s : sink_->Samples()) {
        ASSERT_FALSE(s.bytes.empty());
        EXPECT_LE(s.bytes.size(), size_t(kSampleBytes));
        stream.insert(stream.end(), s.bytes.begin(), s.bytes.end());
        if (s.hasStart) {
            EXPECT_TRUE(s.hasStop);
            starts.push_back(s.start);
        } else {
            EXPECT_FALSE(s.sync);
            EXPECT_FALSE(s.hasStop);
            ++pieces;
        }
    }
    // Every picture once, and the pictures larger than a sample in several pieces.
    std::sort(starts.begin(), starts.end());
    ASSERT_EQ(starts.size(), size_t(kFrames));
    for (int i = 0; i < kFrames; ++i)
        EXPECT_EQ(starts[size_t(i)], i * kFrame);
    EXPECT_GT(pieces, 0u);
    EXPECT_GE(sink_->Samples().size(), (stream.size() + kSampleBytes - 1) / kSampleBytes);

    int32_t words[ombrisk::kParamWords];
    std::copy(std::begin(words_), std::end(words_), words);
    words[ombrisk::kParFrameRate100] = 2500;
    EXPECT_TRUE(stream == CoreStream(pictures, c, words, 0, 0)) << "stream differs from the core's";
    const std::string name = testsupport::UniqueName("ombrisk_split") + ".264";
    {
        std::ofstream out(testsupport::FixturePath(name), std::ios::binary);
        out.write(reinterpret_cast<const char*>(stream.data()), std::streamsize(stream.size()));
    }
    EXPECT_EQ(ShellOutput("ffmpeg -v error -i '" + name + "' -f null - 2>&1"), "");
    EXPECT_EQ(ShellOutput("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                          "stream=nb_read_frames -of csv=p=0 '" +
                          name + "'"),
              std::to_string(kFrames) + "\n");
}

// Stop, pause and run in mid-stream against a slow sink, then a full run: no hang, and
// the filter is released to its last reference.
TEST_F(OmbriskGraphTest, StateChangesDoNotHangOrLeak) {
    comtest::Watchdog dog(300000);
    MakeEncoder({{ombrisk::kParCabac, 0}, {ombrisk::kParSliceCount, 1}});
    const FormatCase c{&MEDIASUBTYPE_YUY2, InputFormat::yuy2, 64, 48};
    const std::vector<uint8_t> yuv = ClipYuv(64, 48, kFrames);
    testfilters::SourceConfig source;
    source.type = SourceType(c, kFrame);
    source.samples = SourceSamples(c, yuv, 40, kFrame);
    testfilters::SinkConfig sink;
    sink.receiveDelayMs = 5;
    Build(std::move(source), std::move(sink));
    for (int round = 0; round < 3; ++round) {
        EXPECT_EQ(Control(&IMediaControl::Pause), S_OK);
        EXPECT_TRUE(SUCCEEDED(Control(&IMediaControl::Run)));
        Sleep(30);
        EXPECT_EQ(Control(&IMediaControl::Pause), S_OK);
        EXPECT_EQ(Control(&IMediaControl::Stop), S_OK);
    }
    sink_->ClearRecords();
    ASSERT_TRUE(SUCCEEDED(Control(&IMediaControl::Run)));
    EXPECT_TRUE(sink_->WaitEndOfStream(120000));
    EXPECT_EQ(Control(&IMediaControl::Stop), S_OK);
    EXPECT_EQ(sink_->Samples().size(), 40u);
    graph_->Release();
    graph_ = nullptr;
    EXPECT_EQ(encoder_->Release(), 0u);
    encoder_ = nullptr;
}

// Encoder and multiplexer in one graph: a transport stream that ffprobe reads with every
// picture in it.
TEST_F(OmbriskGraphTest, EncodesIntoATransportStreamThroughTheMultiplexer) {
    comtest::Watchdog dog(300000);
    NamedLock varrowRegistration(kVarrowRegistrationLock);
    ASSERT_TRUE(varrowRegistration.Held());
    ASSERT_EQ(comtest::Regsvr32(comtest::WinePath(VARROW_AX), false), 0);
    MakeEncoder({{ombrisk::kParCabac, 0}, {ombrisk::kParSliceCount, 1}});
    IBaseFilter* muxer = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_VarrowMuxer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                               reinterpret_cast<void**>(&muxer)),
              S_OK);
    IKestruneConfig* muxConfig = nullptr;
    ASSERT_EQ(muxer->QueryInterface(IID_IKestruneConfig, reinterpret_cast<void**>(&muxConfig)), S_OK);
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_I4;
    V_I4(&v) = 2;  // transport stream
    ASSERT_TRUE(SUCCEEDED(muxConfig->SetValue(&kParamOutput, &v)));
    muxConfig->Release();

    constexpr int kPictures = 25;
    const FormatCase c{&MEDIASUBTYPE_YUY2, InputFormat::yuy2, 64, 48};
    const std::vector<uint8_t> yuv = ClipYuv(64, 48, kFrames);
    testfilters::SourceConfig source;
    source.type = SourceType(c, kFrame);
    source.samples = SourceSamples(c, yuv, kPictures, kFrame);
    source_ = CTestPushSource::Create(std::move(source));
    const std::string name = testsupport::UniqueName("ombrisk_varrow") + ".ts";
    testfilters::SinkConfig sinkConfig;
    const std::string path = testsupport::FixturePath(name);
    sinkConfig.dataFile = std::wstring(path.begin(), path.end());
    sink_ = CTestSink::Create(std::move(sinkConfig));
    ASSERT_EQ(graph_->AddFilter(source_, L"source"), S_OK);
    ASSERT_EQ(graph_->AddFilter(encoder_, L"encoder"), S_OK);
    ASSERT_EQ(graph_->AddFilter(muxer, L"multiplexer"), S_OK);
    ASSERT_EQ(graph_->AddFilter(sink_, L"sink"), S_OK);
    auto connect = [&](IBaseFilter* from, IBaseFilter* to) {
        IPin* out = comtest::FindPinByDirection(from, PINDIR_OUTPUT);
        IPin* in = comtest::FindPinByDirection(to, PINDIR_INPUT);
        ASSERT_TRUE(out && in);
        EXPECT_EQ(graph_->ConnectDirect(out, in, nullptr), S_OK);
        out->Release();
        in->Release();
    };
    connect(source_, encoder_);
    connect(encoder_, muxer);
    connect(muxer, sink_);
    // The encoder reads no file: the multiplexer takes its pictures whole, uncut.
    IPin* muxInput = comtest::FindPinByDirection(muxer, PINDIR_INPUT);
    ASSERT_NE(muxInput, nullptr);
    IKestruneConfig* streamConfig = nullptr;
    ASSERT_EQ(muxInput->QueryInterface(IID_IKestruneConfig, reinterpret_cast<void**>(&streamConfig)), S_OK);
    muxInput->Release();
    VariantInit(&v);
    ASSERT_EQ(streamConfig->GetValue(&kParamCompleting, &v), S_OK);
    streamConfig->Release();
    ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_I4), S_OK);
    EXPECT_EQ(V_I4(&v), 0);
    ASSERT_TRUE(SUCCEEDED(Control(&IMediaControl::Run)));
    EXPECT_TRUE(sink_->WaitEndOfStream(120000));
    EXPECT_EQ(Control(&IMediaControl::Stop), S_OK);
    graph_->Release();
    graph_ = nullptr;
    muxer->Release();

    EXPECT_EQ(ShellOutput("ffmpeg -v error -i '" + name + "' -f null - 2>&1"), "");
    std::string probed = ShellOutput(
        "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
        "stream=codec_name,width,height,nb_read_frames -of csv=p=0 '" +
        name + "'");
    // The stream is listed under its program and on its own: the last line.
    while (!probed.empty() && (probed.back() == '\n' || probed.back() == '\r'))
        probed.pop_back();
    probed = probed.substr(probed.find_last_of('\n') == std::string::npos ? 0 : probed.find_last_of('\n') + 1);
    EXPECT_EQ(probed, "h264,64,48," + std::to_string(kPictures));
}

// The NAL unit types of a byte stream in order.
std::vector<int> NalTypes(const std::vector<uint8_t>& s) {
    std::vector<int> types;
    for (size_t i = 0; i + 3 < s.size(); ++i)
        if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1) types.push_back(s[i + 3] & 0x1F);
    return types;
}

// The first sample lasts 24 frames/s while the type says 25: the run codes at the
// measured rate, the first output sample carries the new type (its parameter sets equal
// the stream's own), and the stored target rate stays as the user set it.
TEST_F(OmbriskGraphTest, MeasuredFrameRateReachesTheOutputType) {
    comtest::Watchdog dog(300000);
    MakeEncoder({{ombrisk::kParCabac, 0}, {ombrisk::kParSliceCount, 1}});
    constexpr REFERENCE_TIME kFilm = 417083;
    const FormatCase c{&MEDIASUBTYPE_YV12, InputFormat::yv12, 64, 48};
    const std::vector<uint8_t> yuv = ClipYuv(64, 48, kFrames);
    testfilters::SourceConfig source;
    source.type = SourceType(c, kFrame);
    source.samples = SourceSamples(c, yuv, kFrames, kFilm);
    Build(std::move(source), {});
    ASSERT_TRUE(SUCCEEDED(Control(&IMediaControl::Run)));
    EXPECT_TRUE(sink_->WaitEndOfStream(120000));
    EXPECT_EQ(Control(&IMediaControl::Stop), S_OK);
    const std::vector<SampleSpec> samples = sink_->Samples();
    ASSERT_EQ(samples.size(), size_t(kFrames));
    ASSERT_TRUE(samples[0].typeChange);
    EXPECT_EQ(GetAvgTimePerFrame(samples[0].newType), kFilm);
    DWORD headerLength = 0;
    const BYTE* header = GetMpeg2SequenceHeader(samples[0].newType, &headerLength);
    ASSERT_NE(header, nullptr);
    ASSERT_GE(samples[0].bytes.size(), headerLength);
    EXPECT_TRUE(std::equal(header, header + headerLength, samples[0].bytes.begin()))
        << "the type's parameter sets open the stream";
    IKestruneConfig* config = nullptr;
    ASSERT_EQ(encoder_->QueryInterface(IID_IKestruneConfig, reinterpret_cast<void**>(&config)), S_OK);
    VARIANT v;
    VariantInit(&v);
    ASSERT_EQ(config->GetValue(ombrisk::KeyOfWord(ombrisk::kParFrameRate100), &v), S_OK);
    EXPECT_EQ(V_INT(&v), 2500);
    config->Release();
}

// A change committed while streaming waits for the next GOP: the pictures before it keep
// one slice, the first with two slices is an IDR picture, and the stream decodes.
TEST_F(OmbriskGraphTest, ChangesWhileStreamingStartAtTheNextIdr) {
    comtest::Watchdog dog(300000);
    MakeEncoder({{ombrisk::kParCabac, 0},
                 {ombrisk::kParSliceCount, 1},
                 {ombrisk::kParGopLength, 5},
                 {ombrisk::kParBFrames, 0},
                 {ombrisk::kParSceneDetect, 0}});
    constexpr int kPictures = 30;
    const FormatCase c{&MEDIASUBTYPE_YV12, InputFormat::yv12, 64, 48};
    const std::vector<uint8_t> yuv = ClipYuv(64, 48, kFrames);
    testfilters::SourceConfig source;
    source.type = SourceType(c, kFrame);
    source.samples = SourceSamples(c, yuv, kPictures, kFrame);
    testfilters::SinkConfig sink;
    sink.receiveDelayMs = 20;  // keeps the stream going while the test commits
    Build(std::move(source), std::move(sink));
    ASSERT_TRUE(SUCCEEDED(Control(&IMediaControl::Run)));
    ASSERT_TRUE(source_->WaitDelivered(7, 60000));
    IKestruneConfig* config = nullptr;
    ASSERT_EQ(encoder_->QueryInterface(IID_IKestruneConfig, reinterpret_cast<void**>(&config)), S_OK);
    IEncoderSettings* settings = nullptr;
    ASSERT_EQ(encoder_->QueryInterface(ombrisk::IID_IEncoderSettings, reinterpret_cast<void**>(&settings)), S_OK);
    words_[ombrisk::kParSliceCount] = 2;
    ASSERT_EQ(settings->SetSettings(words_), S_OK);
    settings->Release();
    EXPECT_EQ(config->Commit(nullptr), S_OK);
    config->Release();
    EXPECT_TRUE(sink_->WaitEndOfStream(120000));
    EXPECT_EQ(Control(&IMediaControl::Stop), S_OK);

    std::vector<uint8_t> stream;
    std::vector<std::vector<int>> pictures;
    for (const SampleSpec& s : sink_->Samples()) {
        stream.insert(stream.end(), s.bytes.begin(), s.bytes.end());
        std::vector<int> slices;
        for (int t : NalTypes(s.bytes))
            if (t == 1 || t == 5) slices.push_back(t);
        pictures.push_back(slices);
    }
    ASSERT_EQ(pictures.size(), size_t(kPictures));
    size_t first = 0;
    while (first < pictures.size() && pictures[first].size() == 1)
        ++first;
    ASSERT_LT(first, pictures.size()) << "the change never took effect";
    EXPECT_GE(first, 7u);
    EXPECT_EQ(first % 5, 0u) << "at a GOP start";
    EXPECT_EQ(pictures[first], (std::vector<int>{5, 5}));
    for (size_t i = first; i < pictures.size(); ++i)
        EXPECT_EQ(pictures[i].size(), 2u);
    const std::string name = testsupport::UniqueName("ombrisk_change") + ".264";
    {
        std::ofstream out(testsupport::FixturePath(name), std::ios::binary);
        out.write(reinterpret_cast<const char*>(stream.data()), std::streamsize(stream.size()));
    }
    EXPECT_EQ(ShellOutput("ffmpeg -v error -i '" + name + "' -f null - 2>&1"), "");
}

// A fixed frame rate codes every picture at that rate; samples without a stop time give
// coded pictures with a start time only; a sample shorter than a picture stops the stream
// with an error to the graph, after the pictures before it.
TEST_F(OmbriskGraphTest, FixedRateKeepsEveryPictureAndShortSamplesAreRefused) {
    comtest::Watchdog dog(300000);
    MakeEncoder({{ombrisk::kParCabac, 0}, {ombrisk::kParSliceCount, 1}, {ombrisk::kParBFrames, 0}});
    IKestruneConfig* config = nullptr;
    ASSERT_EQ(encoder_->QueryInterface(IID_IKestruneConfig, reinterpret_cast<void**>(&config)), S_OK);
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_BOOL;
    V_BOOL(&v) = VARIANT_TRUE;
    ASSERT_EQ(config->SetValue(ombrisk::KeyOfWord(ombrisk::kWordFixedRateOn), &v), S_OK);
    V_VT(&v) = VT_INT;
    V_INT(&v) = 3000;
    ASSERT_EQ(config->SetValue(ombrisk::KeyOfWord(ombrisk::kWordFixedRate100), &v), S_OK);
    ASSERT_EQ(config->Commit(nullptr), S_OK);
    config->Release();

    const FormatCase c{&MEDIASUBTYPE_RGB32, InputFormat::rgb32, 64, 48};
    const std::vector<uint8_t> yuv = ClipYuv(64, 48, kFrames);
    testfilters::SourceConfig source;
    source.type = SourceType(c, 333333);
    source.samples = SourceSamples(c, yuv, 12, 333333);
    source.samples[11].bytes.resize(source.samples[11].bytes.size() - 4);
    for (SampleSpec& sample : source.samples)
        sample.hasStop = false;
    Build(std::move(source), {});
    IMediaEvent* events = nullptr;
    ASSERT_EQ(graph_->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(&events)), S_OK);
    ASSERT_TRUE(SUCCEEDED(Control(&IMediaControl::Run)));
    long code = 0;
    LONG_PTR p1 = 0, p2 = 0;
    bool aborted = false;
    for (int i = 0; i < 100 && !aborted; ++i) {
        if (events->GetEvent(&code, &p1, &p2, 100) != S_OK) continue;
        aborted = code == EC_ERRORABORT;
        if (aborted) {
            EXPECT_EQ(HRESULT(p1), VFW_E_BUFFER_UNDERFLOW);
        }
        events->FreeEventParams(code, p1, p2);
    }
    events->Release();
    EXPECT_TRUE(aborted);
    EXPECT_EQ(Control(&IMediaControl::Stop), S_OK);
    // The eleven pictures before the short one, every one coded (thinned to 25 frames/s
    // they would be ten).
    EXPECT_EQ(sink_->Samples().size(), 11u);
    // Samples without a stop time give samples with a start time only.
    for (const SampleSpec& sample : sink_->Samples()) {
        EXPECT_TRUE(sample.hasStart);
        EXPECT_FALSE(sample.hasStop);
    }
    AM_MEDIA_TYPE connected{};
    IPin* out = comtest::FindPinByDirection(encoder_, PINDIR_OUTPUT);
    ASSERT_EQ(out->ConnectionMediaType(&connected), S_OK);
    EXPECT_EQ(GetAvgTimePerFrame(connected), 333333);
    FreeMediaType(connected);
    out->Release();
}

LONG GetInt(IKestruneConfig* config, const GUID& key) {
    VARIANT v;
    VariantInit(&v);
    EXPECT_EQ(config->GetValue(&key, &v), S_OK);
    VariantChangeType(&v, &v, 0, VT_I4);
    return V_I4(&v);
}
HRESULT SetInt(IKestruneConfig* config, const GUID& key, LONG value) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_INT;
    V_INT(&v) = value;
    return config->SetValue(&key, &v);
}

// The settings through a persistence stream and the registry; a stored frame rate that
// the input overrides at run time stays as the user set it; changes while running: the
// QPs are taken, a GOP change is refused with the message.
TEST_F(OmbriskGraphTest, SettingsRoundTripsAndRunTimeChanges) {
    comtest::Watchdog dog(300000);
    const GUID& gop = *ombrisk::KeyOfWord(ombrisk::kParGopLength);
    const GUID& rate = *ombrisk::KeyOfWord(ombrisk::kParFrameRate100);
    const GUID& qpP = *ombrisk::KeyOfWord(ombrisk::kParQpP);
    MakeEncoder({{ombrisk::kParCabac, 0}, {ombrisk::kParSliceCount, 1}});
    IKestruneConfig* config = nullptr;
    ASSERT_EQ(encoder_->QueryInterface(IID_IKestruneConfig, reinterpret_cast<void**>(&config)), S_OK);

    // Stream: 24 header bytes and 32 per value.
    IStream* stream = nullptr;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
    ULARGE_INTEGER size{};
    ASSERT_EQ(config->GetSizeMax(&size), S_OK);
    EXPECT_EQ(size.QuadPart, 24u + 29u * 32u);
    ASSERT_EQ(SetInt(config, gop, 12), S_OK);
    ASSERT_EQ(config->Save(stream, FALSE), S_OK);
    STATSTG stat{};
    stream->Stat(&stat, STATFLAG_NONAME);
    EXPECT_EQ(stat.cbSize.QuadPart, 24u + 29u * 32u);
    ASSERT_EQ(SetInt(config, gop, 40), S_OK);
    LARGE_INTEGER zero{};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    ASSERT_EQ(config->Load(stream), S_OK);
    EXPECT_EQ(GetInt(config, gop), 12);
    stream->Release();

    // A target of 30.00 frames/s over a 25 frames/s input: the run codes at 25, the
    // record keeps 30.00.
    ASSERT_EQ(SetInt(config, rate, 3000), S_OK);
    ASSERT_EQ(config->Commit(nullptr), S_OK);
    const FormatCase c{&kMediaSubtypeI420, InputFormat::i420, 64, 48};
    const std::vector<uint8_t> yuv = ClipYuv(64, 48, kFrames);
    testfilters::SourceConfig source;
    source.type = SourceType(c, kFrame);
    source.samples = SourceSamples(c, yuv, kFrames, kFrame);
    source.sendEndOfStream = false;
    Build(std::move(source), {});
    ASSERT_TRUE(SUCCEEDED(Control(&IMediaControl::Run)));
    ASSERT_TRUE(source_->WaitDelivered(kFrames, 60000));
    EXPECT_EQ(GetInt(config, ombrisk::kEncoderFilterState), 2);
    EXPECT_EQ(GetInt(config, rate), 3000);
    // While running: a QP change is taken, a GOP change refused with its message.
    ASSERT_EQ(SetInt(config, qpP, 30), S_OK);
    EXPECT_EQ(config->Commit(nullptr), S_OK);
    ASSERT_EQ(SetInt(config, gop, 24), S_OK);
    VARIANT message;
    VariantInit(&message);
    EXPECT_EQ(config->Commit(&message), E_FAIL);
    ASSERT_EQ(V_VT(&message), VT_BSTR);
    EXPECT_EQ(std::wstring(V_BSTR(&message)).rfind(L"Graph is on \"Run\" state.", 0), 0u);
    VariantClear(&message);
    EXPECT_GE(GetInt(config, ombrisk::kEncoderCompletedFrames), 1);
    EXPECT_EQ(Control(&IMediaControl::Stop), S_OK);
    EXPECT_EQ(GetInt(config, ombrisk::kEncoderFilterState), 0);
    ASSERT_EQ(SetInt(config, gop, 12), S_OK);
    EXPECT_EQ(config->Commit(nullptr), S_OK);
    config->Release();

    // The registry: the filter saves when it is destroyed and the next one loads it.
    graph_->Release();
    graph_ = nullptr;
    encoder_->Release();
    encoder_ = nullptr;
    ASSERT_EQ(CoCreateInstance(ombrisk::CLSID_KestruneAvcEncoder, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                               reinterpret_cast<void**>(&encoder_)),
              S_OK);
    ASSERT_EQ(encoder_->QueryInterface(IID_IKestruneConfig, reinterpret_cast<void**>(&config)), S_OK);
    EXPECT_EQ(GetInt(config, gop), 12);
    EXPECT_EQ(GetInt(config, rate), 3000);
    EXPECT_EQ(GetInt(config, qpP), 30);
    EXPECT_EQ(config->ResetToDefaults(), S_OK);
    EXPECT_EQ(GetInt(config, rate), 2500);
    config->Release();
}

}  // namespace
