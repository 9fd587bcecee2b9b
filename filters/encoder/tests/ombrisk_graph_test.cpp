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

// yuv420p pictures of testsrc2 at w x h (scaled, since the source makes even sizes only).
std::vector<uint8_t> ClipYuv(int w, int h, int frames) {
    std::string yuv;
    const std::string size = std::to_string(w + (w & 1)) + "x" + std::to_string(h + (h & 1));
    EXPECT_TRUE(testsupport::MediaFixture(
        "ffmpeg -v error -y -f lavfi -i testsrc2=size=" + size + ":rate=25 -frames:v " + std::to_string(frames) +
            " -vf scale=" + std::to_string(w) + ":" + std::to_string(h) + " -pix_fmt yuv420p -f rawvideo {out}",
        "yuv", &yuv));
    return testsupport::ReadFileBytes(yuv);
}

// Runs `script` in the fixture folder and returns what it printed on standard output
// and error together.
std::string ShellOutput(const std::string& script) {
    const std::string log = testsupport::UniqueName("shell") + ".log";
    testsupport::RunShell(script, log);
    return testsupport::ReadFixtureFile(log);
}

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

    // The encoder from the registration, with the test's settings committed.
    void MakeEncoder(std::vector<std::pair<int, int32_t>> words) {
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
    SettingsKeyLock settingsLock_;
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
        for (int i = 0; i < kFrames; ++i) {
            pictures.push_back(SourcePicture(yuv.data() + pictureBytes * i, c));
            SampleSpec s;
            s.bytes = pictures.back();
            s.start = i * kFrame;
            s.stop = s.start + kFrame;
            s.discontinuity = i == 0;
            source.samples.push_back(std::move(s));
        }
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

// Stop, pause and run in mid-stream against a slow sink, then a full run: no hang, and
// the filter is released to its last reference.
TEST_F(OmbriskGraphTest, StateChangesDoNotHangOrLeak) {
    comtest::Watchdog dog(300000);
    MakeEncoder({{ombrisk::kParCabac, 0}, {ombrisk::kParSliceCount, 1}});
    const FormatCase c{&MEDIASUBTYPE_YUY2, InputFormat::yuy2, 64, 48};
    const std::vector<uint8_t> yuv = ClipYuv(64, 48, kFrames);
    testfilters::SourceConfig source;
    source.type = SourceType(c, kFrame);
    for (int i = 0; i < 40; ++i) {
        SampleSpec s;
        s.bytes = SourcePicture(yuv.data() + size_t(64 * 48 * 3 / 2) * (i % kFrames), c);
        s.start = i * kFrame;
        s.stop = s.start + kFrame;
        source.samples.push_back(std::move(s));
    }
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
    for (int i = 0; i < kFrames; ++i) {
        SampleSpec s;
        s.bytes.assign(yuv.begin() + i * 64 * 48 * 3 / 2, yuv.begin() + (i + 1) * 64 * 48 * 3 / 2);
        s.start = i * kFrame;
        s.stop = s.start + kFrame;
        source.samples.push_back(std::move(s));
    }
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
