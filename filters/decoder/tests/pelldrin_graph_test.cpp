// The registered decoder filter in Wine's filter graph: registration, intelligent connection
// from a source of H.264 to a sink of pictures, pictures equal to ffmpeg's decode in every
// output format (and the conformance streams' MD5s), 'AVC1' input, a size change in
// mid-stream, pull-down field flags, and state changes and flushes without hang or leak.
#include <windows.h>
#include <dshow.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "filters/base/tests/com_test_util.h"
#include "filters/base/tests/test_filters.h"
#include "filters/decoder/tests/pelldrin_test_util.h"
#include "tests/support/ffprobe.h"
#include "tests/support/media_fixture.h"
#include "tests/support/shell.h"
#include "tests/support/trace_headers.h"
#include "tools/md5.h"

namespace {

using namespace pelldrintest;
using testfilters::CTestPushSource;
using testfilters::CTestSink;
using testfilters::SampleSpec;

constexpr REFERENCE_TIME kFrame = 400000;  // x264's default 25 frames per second

std::string ConformancePath(const std::string& name) {
    std::string path = std::string("Z:") + PELLDRIN_CONFORMANCE_DIR + "/" + name;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

// An x264 stream of `frames` intra pictures of testsrc2 at w x h.
std::vector<uint8_t> X264Stream(int w, int h, int frames, const std::string& options = "") {
    std::string yuv, h264;
    const std::string size = std::to_string(w) + "x" + std::to_string(h);
    EXPECT_TRUE(testsupport::MediaFixture("ffmpeg -v error -y -f lavfi -i testsrc2=size=" + size +
                                              ":rate=25 -frames:v " + std::to_string(frames) +
                                              " -pix_fmt yuv420p -f rawvideo {out}",
                                          "yuv", &yuv));
    EXPECT_TRUE(testsupport::MediaFixture("x264 --quiet --profile baseline --keyint 1 " + options + " --input-res " +
                                              size + " --fps 25 -o {out} " + testsupport::FixtureName(yuv),
                                          "264", &h264));
    return testsupport::ReadFileBytes(h264);
}

// ffmpeg's decode of a stream, as yuv420p pictures.
std::vector<uint8_t> FfmpegDecode(const std::vector<uint8_t>& stream) {
    const std::string name = testsupport::UniqueName("reference");
    {
        std::ofstream out(testsupport::FixturePath(name + ".264"), std::ios::binary);
        out.write(reinterpret_cast<const char*>(stream.data()), static_cast<std::streamsize>(stream.size()));
    }
    EXPECT_EQ(testsupport::RunShell("ffmpeg -v error -y -f h264 -i '" + name + ".264' -f rawvideo -pix_fmt yuv420p '" +
                                    name + ".yuv'"),
              0);
    return testsupport::ReadFileBytes(testsupport::FixturePath(name + ".yuv"));
}

class PelldrinGraphTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(com_.hr));
        ASSERT_TRUE(registration_.Held());
        dll_ = comtest::WinePath(PELLDRIN_AX);
        ASSERT_EQ(comtest::Regsvr32(dll_, false), 0);
        NewGraph();
    }
    void NewGraph() {
        ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                   reinterpret_cast<void**>(&graph_)),
                  S_OK);
    }
    void TearDown() override {
        if (graph_) graph_->Release();
        graph_ = nullptr;
    }

    // source -> (intelligent connection) -> sink; the filter the graph put between them.
    void Build(testfilters::SourceConfig sourceConfig, testfilters::SinkConfig sinkConfig) {
        source_ = CTestPushSource::Create(std::move(sourceConfig));
        sink_ = CTestSink::Create(std::move(sinkConfig));
        ASSERT_TRUE(source_ && sink_);
        ASSERT_EQ(graph_->AddFilter(source_, L"source"), S_OK);
        ASSERT_EQ(graph_->AddFilter(sink_, L"sink"), S_OK);
        IPin* out = comtest::FindPinByDirection(source_, PINDIR_OUTPUT);
        IPin* in = comtest::FindPinByDirection(sink_, PINDIR_INPUT);
        ASSERT_TRUE(out && in);
        EXPECT_EQ(graph_->Connect(out, in), S_OK);
        out->Release();
        in->Release();
        // The filter between them is the decoder.
        IPin* peer = nullptr;
        in = comtest::FindPinByDirection(sink_, PINDIR_INPUT);
        ASSERT_EQ(in->ConnectedTo(&peer), S_OK);
        PIN_INFO info{};
        ASSERT_EQ(peer->QueryPinInfo(&info), S_OK);
        CLSID clsid{};
        info.pFilter->GetClassID(&clsid);
        EXPECT_EQ(clsid, CLSID_KestruneAvcDecoder);
        decoder_ = info.pFilter;  // keeps the reference
        peer->Release();
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

    // Runs the graph to the sink's end of stream and stops it.
    void RunToEnd() {
        ASSERT_TRUE(SUCCEEDED(Control(&IMediaControl::Run)));
        EXPECT_TRUE(sink_->WaitEndOfStream(60000));
        EXPECT_EQ(Control(&IMediaControl::Stop), S_OK);
    }

    // A byte stream of w x h pictures through the graph into a sink that takes I420.
    void DecodeToI420(const std::vector<uint8_t>& stream, int w, int h) {
        testfilters::SourceConfig source;
        source.type = ByteStreamType(MEDIASUBTYPE_KestruneH264, w, h, kFrame);
        source.samples = ByteStreamSamples(stream, kFrame);
        testfilters::SinkConfig sink;
        sink.acceptedSubtypes = {kMediaSubtypeI420};
        CMediaType offered;
        ASSERT_EQ(BuildVideoType({&kMediaSubtypeI420, w, h, kFrame}, &offered), S_OK);
        sink.offeredTypes.push_back(offered);
        Build(std::move(source), std::move(sink));
        RunToEnd();
    }

    void ReleaseAll() {
        if (decoder_) decoder_->Release();
        decoder_ = nullptr;
        if (graph_) graph_->Release();
        graph_ = nullptr;
        if (source_) source_->Release();
        if (sink_) sink_->Release();
        source_ = nullptr;
        sink_ = nullptr;
    }

    comtest::ComScope com_;
    comtest::RegistrationLock registration_;
    std::wstring dll_;
    IGraphBuilder* graph_ = nullptr;
    CTestPushSource* source_ = nullptr;
    CTestSink* sink_ = nullptr;
    IBaseFilter* decoder_ = nullptr;
};

TEST_F(PelldrinGraphTest, RegistersAndUnregisters) {
    wchar_t key[80];
    swprintf(key, 80, L"Filter\\{04B31EE9-EC66-4CED-8FF4-A9E7E22D1D8B}");
    HKEY opened = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, key, 0, KEY_READ, &opened), ERROR_SUCCESS);
    RegCloseKey(opened);
    // The mapper lists the decoder for an H.264 byte stream.
    IFilterMapper2* mapper = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                               reinterpret_cast<void**>(&mapper)),
              S_OK);
    const GUID types[2] = {MEDIATYPE_Video, kMediaSubtypeVssh};
    IEnumMoniker* found = nullptr;
    ASSERT_EQ(mapper->EnumMatchingFilters(&found, 0, FALSE, MERIT_DO_NOT_USE, TRUE, 1, types, nullptr, nullptr, FALSE,
                                          FALSE, 0, nullptr, nullptr, nullptr),
              S_OK);
    bool listed = false;
    IMoniker* moniker = nullptr;
    while (found->Next(1, &moniker, nullptr) == S_OK) {
        IPropertyBag* bag = nullptr;
        if (SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&bag)))) {
            VARIANT name;
            VariantInit(&name);
            if (SUCCEEDED(bag->Read(L"FriendlyName", &name, nullptr)) && V_VT(&name) == VT_BSTR)
                listed |= wcscmp(V_BSTR(&name), kDecoderFilterName) == 0;
            VariantClear(&name);
            bag->Release();
        }
        moniker->Release();
    }
    found->Release();
    mapper->Release();
    EXPECT_TRUE(listed);

    ASSERT_EQ(comtest::Regsvr32(dll_, true), 0);
    EXPECT_NE(RegOpenKeyExW(HKEY_CLASSES_ROOT, key, 0, KEY_READ, &opened), ERROR_SUCCESS);
    IBaseFilter* filter = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_KestruneAvcDecoder, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                               reinterpret_cast<void**>(&filter)),
              REGDB_E_CLASSNOTREG);
    ASSERT_EQ(comtest::Regsvr32(dll_, false), 0);
    ASSERT_EQ(CoCreateInstance(CLSID_KestruneAvcDecoder, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                               reinterpret_cast<void**>(&filter)),
              S_OK);
    filter->Release();
}

// Every output format against ffmpeg's decode: same count, order, bytes (RGB within 1
// of BT.601) and times.
TEST_F(PelldrinGraphTest, DecodesIntoEveryOutputFormat) {
    comtest::Watchdog dog(300000);
    const int w = 176, h = 144, frames = 6;
    const std::vector<uint8_t> stream = X264Stream(w, h, frames);
    ASSERT_FALSE(stream.empty());
    const std::vector<uint8_t> reference = FfmpegDecode(stream);
    ASSERT_EQ(reference.size(), size_t(w * h * 3 / 2 * frames));
    struct Case {
        Out out;
        const GUID* subtype;
    };
    const Case cases[] = {{Out::yv12, &MEDIASUBTYPE_YV12},
                          {Out::i420, &kMediaSubtypeI420},
                          {Out::yuy2, &MEDIASUBTYPE_YUY2},
                          {Out::rgb24, &MEDIASUBTYPE_RGB24},
                          {Out::rgb32, &MEDIASUBTYPE_RGB32}};
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.out));
        testfilters::SourceConfig source;
        source.type = ByteStreamType(kMediaSubtypeVssh, w, h, kFrame);
        source.samples = ByteStreamSamples(stream, kFrame);
        testfilters::SinkConfig sink;
        sink.acceptedSubtypes = {*c.subtype};
        if (c.out == Out::i420) {
            // Not in the filter's own list: the sink proposes it.
            CMediaType offered;
            ASSERT_EQ(BuildVideoType({&kMediaSubtypeI420, w, h, kFrame}, &offered), S_OK);
            sink.offeredTypes.push_back(offered);
        }
        Build(std::move(source), std::move(sink));
        RunToEnd();
        const auto samples = sink_->Samples();
        ASSERT_EQ(samples.size(), size_t(frames));
        for (int i = 0; i < frames; ++i) {
            const auto expected = Expected(c.out, reference.data() + i * w * h * 3 / 2, w, h);
            EXPECT_LE(MaxDifference(samples[i].bytes, expected), Tolerance(c.out)) << "frame " << i;
            EXPECT_EQ(samples[i].start, i * kFrame);
            EXPECT_EQ(samples[i].stop, (i + 1) * kFrame);
            EXPECT_TRUE(samples[i].sync);
            EXPECT_EQ(samples[i].typeSpecificFlags, DWORD(AM_VIDEO_FLAG_WEAVE));
        }
        ReleaseAll();
        ASSERT_NO_FATAL_FAILURE(NewGraph());
    }
}

// The intra-only conformance streams through the graph give the MD5 of their decoded
// pictures.
TEST_F(PelldrinGraphTest, IntraConformanceStreamsMatchTheirMd5) {
    comtest::Watchdog dog(300000);
    std::map<std::string, std::string> expected;
    {
        std::ifstream in(ConformancePath("expected.tsv"));
        std::string file, vector, md5;
        std::getline(in, file);
        while (in >> file >> vector >> md5)
            expected[file] = md5;
    }
    ASSERT_FALSE(expected.empty());
    for (const char* name : {"BA1_Sony_D.jsv", "BAMQ1_JVC_C.264", "BASQP1_Sony_C.jsv", "NL1_Sony_D.jsv",
                             "NLMQ1_JVC_C.264", "SVA_BA1_B.264", "SVA_NL1_B.264"}) {
        SCOPED_TRACE(name);
        const std::vector<uint8_t> stream = testsupport::ReadFileBytes(ConformancePath(name));
        ASSERT_FALSE(stream.empty());
        std::string probe;
        const std::string copy = testsupport::UniqueName("conf") + ".264";
        {
            std::ofstream out(testsupport::FixturePath(copy), std::ios::binary);
            out.write(reinterpret_cast<const char*>(stream.data()), static_cast<std::streamsize>(stream.size()));
        }
        ASSERT_TRUE(testsupport::Ffprobe(testsupport::FixturePath(copy),
                                         "-select_streams v:0 -show_entries stream=width,height -of csv=p=0", &probe));
        const auto rows = testsupport::CsvRows(probe);
        ASSERT_FALSE(rows.empty());
        const int w = std::stoi(rows[0][0]), h = std::stoi(rows[0][1]);
        ASSERT_NO_FATAL_FAILURE(DecodeToI420(stream, w, h));
        tools::Md5 md5;
        for (const SampleSpec& s : sink_->Samples())
            md5.Update(s.bytes.data(), s.bytes.size());
        EXPECT_EQ(md5.HexDigest(), expected.at(name)) << sink_->Samples().size() << " pictures";
        ReleaseAll();
        ASSERT_NO_FATAL_FAILURE(NewGraph());
    }
}

// Field pictures through the graph (JM: a stream of field pairs, and one that mixes frame
// and field pictures): the frames, woven from their two fields, give the MD5 of the
// correct output.
TEST_F(PelldrinGraphTest, FieldPictureStreamsMatchTheirMd5) {
    comtest::Watchdog dog(300000);
    struct Case {
        const char* name;
        int width, height;
        const char* md5;
    };
    for (const Case& c : {Case{"field_cavlc_b1_ref2_temporal_288.264", 352, 288, "00a260c8f165c065279172265db630ba"},
                          Case{"paff_cabac_b2_ref3_576.264", 720, 576, "5f3abe5cce69dbe9075691a1779f5d58"}}) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> stream =
            testsupport::ReadFileBytes(ConformancePath(std::string("../h264-interlaced/") + c.name));
        ASSERT_FALSE(stream.empty());
        ASSERT_NO_FATAL_FAILURE(DecodeToI420(stream, c.width, c.height));
        tools::Md5 md5;
        for (const SampleSpec& s : sink_->Samples())
            md5.Update(s.bytes.data(), s.bytes.size());
        EXPECT_EQ(md5.HexDigest(), c.md5) << sink_->Samples().size() << " pictures";
        ReleaseAll();
        ASSERT_NO_FATAL_FAILURE(NewGraph());
    }
}

// P and B pictures through the graph (x264 Main with B pyramids: CAVLC with explicit
// weights, CABAC with temporal direct, and an interlaced stream of frame pictures): every
// picture equals ffmpeg's decode, in order.
TEST_F(PelldrinGraphTest, InterStreamsMatchFfmpeg) {
    comtest::Watchdog dog(300000);
    const int w = 352, h = 288, frames = 16;
    const size_t frameBytes = size_t(w * h * 3 / 2);
    for (const char* options : {"--profile main --keyint 30 --bframes 3 --b-pyramid normal --no-cabac --weightp 2",
                                "--profile main --keyint 30 --bframes 3 --b-pyramid normal --direct temporal",
                                "--profile main --keyint 30 --fake-interlaced"}) {
        SCOPED_TRACE(options);
        const std::vector<uint8_t> stream = X264Stream(w, h, frames, options);
        ASSERT_FALSE(stream.empty());
        const std::vector<uint8_t> reference = FfmpegDecode(stream);
        ASSERT_EQ(reference.size(), frameBytes * frames);
        ASSERT_NO_FATAL_FAILURE(DecodeToI420(stream, w, h));
        const auto samples = sink_->Samples();
        ASSERT_EQ(samples.size(), size_t(frames));
        for (int i = 0; i < frames; ++i) {
            const auto expected = Expected(Out::i420, reference.data() + i * frameBytes, w, h);
            EXPECT_EQ(MaxDifference(samples[i].bytes, expected), 0) << "picture " << i;
        }
        ReleaseAll();
        ASSERT_NO_FATAL_FAILURE(NewGraph());
    }
}

// 'AVC1' input: parameter sets in the format block, NAL units behind 2- or 4-byte lengths.
TEST_F(PelldrinGraphTest, LengthPrefixedInputDecodes) {
    comtest::Watchdog dog(300000);
    const int w = 176, h = 144, frames = 4;
    const std::vector<uint8_t> stream = X264Stream(w, h, frames, "--slices 2");
    const std::vector<uint8_t> reference = FfmpegDecode(stream);
    ASSERT_EQ(reference.size(), size_t(w * h * 3 / 2 * frames));
    for (int lengthSize : {2, 4}) {
        SCOPED_TRACE(lengthSize);
        std::vector<uint8_t> header;
        testfilters::SourceConfig source;
        source.samples = LengthPrefixedSamples(stream, kFrame, lengthSize, &header);
        source.type = Avc1Type(w, h, kFrame, lengthSize, header);
        testfilters::SinkConfig sink;
        sink.acceptedSubtypes = {MEDIASUBTYPE_YV12};
        Build(std::move(source), std::move(sink));
        RunToEnd();
        const auto samples = sink_->Samples();
        ASSERT_EQ(samples.size(), size_t(frames));
        for (int i = 0; i < frames; ++i)
            EXPECT_EQ(MaxDifference(samples[i].bytes, Expected(Out::yv12, reference.data() + i * w * h * 3 / 2, w, h)),
                      0)
                << "frame " << i;
        ReleaseAll();
        ASSERT_NO_FATAL_FAILURE(NewGraph());
    }
}

// Damaged length-prefixed samples: a length that runs past the sample ends its walk, a
// zero length is passed over, a sample of noise decodes to nothing; every intact picture
// still comes out.
TEST_F(PelldrinGraphTest, DamagedLengthPrefixedSamplesLoseNoIntactPicture) {
    comtest::Watchdog dog(120000);
    const int w = 176, h = 144, frames = 4;
    const std::vector<uint8_t> stream = X264Stream(w, h, frames);
    const std::vector<uint8_t> reference = FfmpegDecode(stream);
    std::vector<uint8_t> header;
    testfilters::SourceConfig source;
    auto samples = LengthPrefixedSamples(stream, kFrame, 4, &header);
    ASSERT_EQ(samples.size(), size_t(frames));
    samples[0].bytes.insert(samples[0].bytes.end(), {0xFF, 0xFF, 0xFF, 0xF0, 0x65, 0x88});  // runs past the end
    samples[1].bytes.insert(samples[1].bytes.begin(), {0, 0, 0, 0});                        // an empty unit
    SampleSpec noise;
    for (int i = 0; i < 64; ++i)
        noise.bytes.push_back(static_cast<uint8_t>(i * 37 + 11));
    noise.sync = false;
    samples.insert(samples.begin() + 2, noise);
    source.samples = samples;
    source.type = Avc1Type(w, h, kFrame, 4, header);
    testfilters::SinkConfig sink;
    sink.acceptedSubtypes = {MEDIASUBTYPE_YV12};
    Build(std::move(source), std::move(sink));
    RunToEnd();
    const auto got = sink_->Samples();
    ASSERT_EQ(got.size(), size_t(frames));
    for (int i = 0; i < frames; ++i)
        EXPECT_EQ(MaxDifference(got[i].bytes, Expected(Out::yv12, reference.data() + i * w * h * 3 / 2, w, h)), 0)
            << "frame " << i;
    ReleaseAll();
}

// A stream whose picture size changes: every old picture, then the first new one with
// the new type on its sample, all equal to ffmpeg's decode of each part.
TEST_F(PelldrinGraphTest, SizeChangeDeliversOldPicturesThenTheNewType) {
    comtest::Watchdog dog(300000);
    const std::vector<uint8_t> small = X264Stream(176, 144, 3);
    const std::vector<uint8_t> large = X264Stream(352, 288, 3);
    std::vector<uint8_t> both = small;
    both.insert(both.end(), large.begin(), large.end());
    const std::vector<uint8_t> refSmall = FfmpegDecode(small), refLarge = FfmpegDecode(large);
    testfilters::SourceConfig source;
    source.type = ByteStreamType(kMediaSubtypeVssh, 176, 144, kFrame);
    source.samples = ByteStreamSamples(both, kFrame);
    testfilters::SinkConfig sink;
    sink.acceptedSubtypes = {MEDIASUBTYPE_YV12};
    Build(std::move(source), std::move(sink));
    RunToEnd();
    const auto samples = sink_->Samples();
    ASSERT_EQ(samples.size(), 6u);
    for (int i = 0; i < 6; ++i) {
        const bool old = i < 3;
        const int w = old ? 176 : 352, h = old ? 144 : 288;
        const auto& ref = old ? refSmall : refLarge;
        EXPECT_EQ(samples[i].typeChange, i == 3) << i;
        EXPECT_EQ(MaxDifference(samples[i].bytes, Expected(Out::yv12, ref.data() + (i % 3) * w * h * 3 / 2, w, h)), 0)
            << "frame " << i;
        EXPECT_EQ(samples[i].start, i * kFrame);
    }
    const BITMAPINFOHEADER* bmi = GetBitmapHeader(samples[3].newType);
    ASSERT_NE(bmi, nullptr);
    EXPECT_EQ(bmi->biWidth, 352);
    EXPECT_EQ(bmi->biHeight, 288);
    ReleaseAll();
}

// 3:2 pull-down: each picture's duration and field flags follow its pic_struct as
// ffmpeg reads it.
TEST_F(PelldrinGraphTest, PulldownTimesAndFieldFlagsFollowPicStruct) {
    comtest::Watchdog dog(300000);
    const int frames = 8;
    const std::vector<uint8_t> stream = X264Stream(176, 144, frames, "--pulldown 32");
    const std::string copy = testsupport::UniqueName("pulldown") + ".264";
    {
        std::ofstream out(testsupport::FixturePath(copy), std::ios::binary);
        out.write(reinterpret_cast<const char*>(stream.data()), static_cast<std::streamsize>(stream.size()));
    }
    std::string log;
    ASSERT_TRUE(testsupport::RunTraceHeaders(copy, &log));
    std::vector<int> picStruct;
    for (const auto& section : testsupport::ParseTraceHeaders(log).sections)
        for (const auto& field : section.fields)
            if (field.name == "pic_struct") picStruct.push_back(static_cast<int>(field.value));
    ASSERT_EQ(picStruct.size(), size_t(frames));
    testfilters::SourceConfig source;
    source.type = ByteStreamType(kMediaSubtypeVssh, 176, 144, kFrame);
    source.samples = ByteStreamSamples(stream, kFrame);
    // Only the first sample carries a time: the others continue by their durations.
    for (size_t i = 1; i < source.samples.size(); ++i)
        source.samples[i].sync = false;
    testfilters::SinkConfig sink;
    sink.acceptedSubtypes = {MEDIASUBTYPE_YUY2};
    Build(std::move(source), std::move(sink));
    RunToEnd();
    const auto samples = sink_->Samples();
    ASSERT_EQ(samples.size(), size_t(frames));
    AM_MEDIA_TYPE connected{};
    IPin* in = comtest::FindPinByDirection(sink_, PINDIR_INPUT);
    ASSERT_EQ(in->ConnectionMediaType(&connected), S_OK);
    in->Release();
    const REFERENCE_TIME d = GetAvgTimePerFrame(connected);
    FreeMediaType(connected);
    ASSERT_GT(d, 0);
    // Every picture follows its pic_struct, the first included (its timing message comes
    // before the first sequence parameter set is active).
    EXPECT_EQ(samples[0].start, 0);
    for (int i = 0; i < frames; ++i) {
        REFERENCE_TIME duration = d;
        DWORD flags = AM_VIDEO_FLAG_WEAVE;
        switch (picStruct[i]) {
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
            default:
                break;
        }
        EXPECT_EQ(samples[i].typeSpecificFlags, flags) << "picture " << i << " pic_struct " << picStruct[i];
        if (i > 0) {
            EXPECT_EQ(samples[i].start, samples[i - 1].stop) << i;
        }
        EXPECT_EQ(samples[i].stop - samples[i].start, duration) << i;
    }
    // The pattern really varies (fields repeated and not).
    EXPECT_NE(std::count(picStruct.begin(), picStruct.end(), 5) + std::count(picStruct.begin(), picStruct.end(), 6), 0);
    ReleaseAll();
}

// An end-of-stream NAL unit inside a sample does not end the sample: the pictures after
// it in the same sample are decoded too.
TEST_F(PelldrinGraphTest, NalUnitsAfterEndOfStreamInOneSampleAreDecoded) {
    comtest::Watchdog dog(120000);
    const int w = 176, h = 144, frames = 4;
    const std::vector<uint8_t> stream = X264Stream(w, h, frames);
    const std::vector<uint8_t> reference = FfmpegDecode(stream);
    auto units = ByteStreamSamples(stream, kFrame);
    ASSERT_EQ(units.size(), size_t(frames));
    // Samples 0+1 and 2+3 joined, each with an end-of-stream unit between its two pictures.
    testfilters::SourceConfig source;
    source.type = ByteStreamType(kMediaSubtypeVssh, w, h, kFrame);
    for (int i = 0; i < frames; i += 2) {
        SampleSpec joined = units[i];
        joined.bytes.insert(joined.bytes.end(), {0, 0, 0, 1, 0x0B});
        joined.bytes.insert(joined.bytes.end(), units[i + 1].bytes.begin(), units[i + 1].bytes.end());
        source.samples.push_back(joined);
    }
    testfilters::SinkConfig sink;
    sink.acceptedSubtypes = {MEDIASUBTYPE_YV12};
    Build(std::move(source), std::move(sink));
    RunToEnd();
    const auto samples = sink_->Samples();
    ASSERT_EQ(samples.size(), size_t(frames));
    for (int i = 0; i < frames; ++i)
        EXPECT_EQ(MaxDifference(samples[i].bytes, Expected(Out::yv12, reference.data() + i * w * h * 3 / 2, w, h)), 0)
            << "frame " << i;
    ReleaseAll();
}

// The graph blocks the output pin while streaming: the block completes between two
// pictures, nothing is delivered while it holds, and after the unblock every picture
// still arrives.
TEST_F(PelldrinGraphTest, FlowControlHoldsAndReleasesTheStream) {
    comtest::Watchdog dog(300000);
    const std::vector<uint8_t> stream = X264Stream(176, 144, 40);
    testfilters::SourceConfig source;
    source.type = ByteStreamType(kMediaSubtypeVssh, 176, 144, kFrame);
    source.samples = ByteStreamSamples(stream, kFrame);
    testfilters::SinkConfig sink;
    sink.acceptedSubtypes = {MEDIASUBTYPE_YUY2};
    sink.receiveDelayMs = 5;
    Build(std::move(source), std::move(sink));
    IPin* out = comtest::FindPinByDirection(decoder_, PINDIR_OUTPUT);
    IPinFlowControl* flow = nullptr;
    ASSERT_EQ(out->QueryInterface(IID_IPinFlowControl, reinterpret_cast<void**>(&flow)), S_OK);
    out->Release();
    ASSERT_TRUE(SUCCEEDED(Control(&IMediaControl::Run)));
    ASSERT_TRUE(source_->WaitDelivered(3, 20000));
    HANDLE blocked = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_EQ(flow->Block(AM_PIN_FLOW_CONTROL_BLOCK, blocked), S_OK);
    EXPECT_EQ(WaitForSingleObject(blocked, 10000), WAIT_OBJECT_0);
    const size_t held = sink_->Samples().size();
    Sleep(300);
    EXPECT_EQ(sink_->Samples().size(), held) << "delivered while blocked";
    EXPECT_LT(held, 40u);
    EXPECT_EQ(flow->Block(0, nullptr), S_OK);
    EXPECT_TRUE(sink_->WaitEndOfStream(60000));
    EXPECT_EQ(sink_->Samples().size(), 40u);
    // A block that is still held when the graph stops does not hold the stop.
    EXPECT_EQ(Control(&IMediaControl::Stop), S_OK);
    sink_->ClearRecords();
    ASSERT_TRUE(SUCCEEDED(Control(&IMediaControl::Run)));
    ASSERT_TRUE(source_->WaitDelivered(43, 20000));
    ResetEvent(blocked);
    ASSERT_EQ(flow->Block(AM_PIN_FLOW_CONTROL_BLOCK, blocked), S_OK);
    EXPECT_EQ(WaitForSingleObject(blocked, 10000), WAIT_OBJECT_0);
    EXPECT_EQ(Control(&IMediaControl::Stop), S_OK);
    EXPECT_EQ(flow->Block(0, nullptr), S_OK);
    CloseHandle(blocked);
    flow->Release();
    ReleaseAll();
}

// Stop, pause, run and flushes in mid-stream against a slow sink: no hang, and when
// everything is released no object of the library is left.
TEST_F(PelldrinGraphTest, StateChangesAndFlushesNeitherHangNorLeak) {
    comtest::Watchdog dog(300000);
    const std::vector<uint8_t> stream = X264Stream(176, 144, 40);
    testfilters::SourceConfig source;
    source.type = ByteStreamType(kMediaSubtypeVssh, 176, 144, kFrame);
    source.samples = ByteStreamSamples(stream, kFrame);
    testfilters::SinkConfig sink;
    sink.acceptedSubtypes = {MEDIASUBTYPE_RGB32};
    sink.receiveDelayMs = 5;
    Build(std::move(source), std::move(sink));
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(SUCCEEDED(Control(&IMediaControl::Run)));
        EXPECT_TRUE(source_->WaitDelivered(5 + round, 20000));
        EXPECT_EQ(Control(&IMediaControl::Pause), S_OK);
        EXPECT_EQ(Control(&IMediaControl::Run), S_OK);
        EXPECT_EQ(source_->FlushAndResume(10), S_OK);
        EXPECT_EQ(Control(&IMediaControl::Stop), S_OK);
    }
    // A whole run after all that still delivers every picture.
    sink_->ClearRecords();
    RunToEnd();
    EXPECT_EQ(sink_->Samples().size(), 40u);
    ReleaseAll();
    HMODULE module = GetModuleHandleW(L"pelldrin.ax");
    ASSERT_NE(module, nullptr);
    using CanUnloadFn = HRESULT(STDAPICALLTYPE*)();
    auto canUnload = reinterpret_cast<CanUnloadFn>(reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
    ASSERT_NE(canUnload, nullptr);
    EXPECT_EQ(canUnload(), S_OK) << "objects of the decoder library are still alive";
}

}  // namespace
