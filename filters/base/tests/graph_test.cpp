// The base classes in Wine's filter graph: video source -> pass-through transform (from
// the registered library, created by class identifier) -> recording sink, for every
// source format; repeated state changes; flushing; stopping in mid-stream; media type
// changes. Every test ends with every object's count back at zero.
#include <windows.h>
#include <dshow.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "filters/base/tests/com_test_util.h"
#include "filters/base/tests/passthrough_filter.h"
#include "filters/base/tests/test_filters.h"
#include "filters/base/tests/watchdog.h"
#include "tests/support/media_fixture.h"
#include "tests/support/shell.h"

namespace {

using comtest::RefCount;
using comtest::Watchdog;
using testfilters::CTestPushSource;
using testfilters::CTestSink;
using testfilters::SampleSpec;

std::wstring Wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

class GraphTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(com_.hr));
        ASSERT_TRUE(registration_.Held());
        dll_ = comtest::WinePath(PASSTHROUGH_DLL);
        ASSERT_EQ(comtest::Regsvr32(dll_, false), 0);
        ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                   reinterpret_cast<void**>(&graph_)),
                  S_OK);
    }

    void TearDown() override {
        if (graph_) graph_->Release();
        comtest::Regsvr32(dll_, true);
    }

    // A new pass-through transform, created by class identifier from the registry.
    IBaseFilter* NewTransform() {
        IBaseFilter* filter = nullptr;
        EXPECT_EQ(CoCreateInstance(kClsidPassThrough, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                   reinterpret_cast<void**>(&filter)),
                  S_OK);
        return filter;
    }

    // Adds the filters and connects them in a chain, each pin pair with ConnectDirect.
    void Chain(std::vector<IBaseFilter*> filters) {
        for (size_t i = 0; i < filters.size(); ++i)
            ASSERT_EQ(graph_->AddFilter(filters[i], (L"filter " + std::to_wstring(i)).c_str()), S_OK);
        for (size_t i = 0; i + 1 < filters.size(); ++i) {
            IPin* out = comtest::FindPinByDirection(filters[i], PINDIR_OUTPUT);
            IPin* in = comtest::FindPinByDirection(filters[i + 1], PINDIR_INPUT);
            ASSERT_TRUE(out && in);
            EXPECT_EQ(graph_->ConnectDirect(out, in, nullptr), S_OK) << "link " << i;
            out->Release();
            in->Release();
        }
    }

    // Source -> transform -> a slow sink (2 ms a sample), so that streaming lasts long
    // enough to be interrupted.
    void SlowChain(const testfilters::VideoStreamConfig& video, CTestPushSource** source, CTestSink** sink,
                   IBaseFilter** transform) {
        testfilters::SourceConfig config;
        ASSERT_EQ(testfilters::MakeVideoStream(video, &config.type, &config.samples), S_OK);
        *source = CTestPushSource::Create(std::move(config));
        testfilters::SinkConfig sinkConfig;
        sinkConfig.receiveDelayMs = 2;
        *sink = CTestSink::Create(sinkConfig);
        *transform = NewTransform();
        ASSERT_TRUE(*source && *sink && *transform);
        Chain({*source, *transform, *sink});
    }

    HRESULT Control(HRESULT (STDMETHODCALLTYPE IMediaControl::*call)()) {
        IMediaControl* control = nullptr;
        HRESULT hr = graph_->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control));
        if (FAILED(hr)) return hr;
        hr = (control->*call)();
        control->Release();
        return hr;
    }
    HRESULT Run() { return Control(&IMediaControl::Run); }
    HRESULT Pause() { return Control(&IMediaControl::Pause); }
    HRESULT Stop() { return Control(&IMediaControl::Stop); }

    // Waits (bounded) for every renderer's end of stream.
    HRESULT WaitForCompletion(DWORD timeoutMs, long* code) {
        IMediaEvent* events = nullptr;
        HRESULT hr = graph_->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(&events));
        if (FAILED(hr)) return hr;
        hr = events->WaitForCompletion(static_cast<long>(timeoutMs), code);
        events->Release();
        return hr;
    }

    // Releases the graph; afterwards each filter must hold only the test's reference,
    // and releasing that must destroy it.
    void ReleaseGraphAndFilters(std::vector<IBaseFilter*> filters) {
        EXPECT_EQ(graph_->Release(), 0u);
        graph_ = nullptr;
        for (IBaseFilter* filter : filters) {
            EXPECT_EQ(RefCount(filter), 1u);
            EXPECT_EQ(filter->Release(), 0u);
        }
    }

    comtest::ComScope com_;
    comtest::RegistrationLock registration_;
    std::wstring dll_;
    IGraphBuilder* graph_ = nullptr;
};

void ExpectSameSamples(const std::vector<SampleSpec>& sent, const std::vector<SampleSpec>& got) {
    ASSERT_EQ(got.size(), sent.size());
    for (size_t i = 0; i < sent.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "sample " << i);
        EXPECT_TRUE(got[i].bytes == sent[i].bytes);
        EXPECT_EQ(got[i].hasStart, sent[i].hasStart);
        EXPECT_EQ(got[i].hasStop, sent[i].hasStart && sent[i].hasStop);
        if (sent[i].hasStart) {
            EXPECT_EQ(got[i].start, sent[i].start);
        }
        if (sent[i].hasStart && sent[i].hasStop) {
            EXPECT_EQ(got[i].stop, sent[i].stop);
        }
        EXPECT_EQ(got[i].sync, sent[i].sync);
        EXPECT_EQ(got[i].preroll, sent[i].preroll);
        EXPECT_EQ(got[i].discontinuity, sent[i].discontinuity);
        EXPECT_EQ(got[i].typeSpecificFlags, sent[i].typeSpecificFlags);
    }
}

std::string ReadWholeFile(const std::wstring& path) {
    std::string bytes;
    HANDLE file =
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got)
        bytes.append(buffer, got);
    CloseHandle(file);
    return bytes;
}

// Varies the sample fields a stream can carry: no stop time, preroll, sync points and
// field flags.
void VaryFields(int index, SampleSpec& sample) {
    sample.hasStop = index != 2;
    sample.preroll = index == 1;
    sample.sync = index % 3 == 0;
    sample.typeSpecificFlags = index % 2 ? AM_VIDEO_FLAG_FIELD1FIRST | AM_VIDEO_FLAG_INTERLEAVED_FRAME : 0;
}

TEST_F(GraphTest, EveryFormatPassesThroughUnchanged) {
    comtest::Watchdog dog(300000);
    const GUID* subtypes[] = {&MEDIASUBTYPE_YV12, &kMediaSubtypeI420, &MEDIASUBTYPE_IYUV,  &MEDIASUBTYPE_YUY2,
                              &MEDIASUBTYPE_YVYU, &MEDIASUBTYPE_UYVY, &MEDIASUBTYPE_RGB32, &MEDIASUBTYPE_RGB24};
    for (const GUID* subtype : subtypes) {
        for (bool vih2 : {false, true}) {
            const VideoFormatInfo* info = FindVideoFormat(*subtype);
            SCOPED_TRACE(testing::Message() << "fourcc 0x" << std::hex << info->fourcc << " bits " << std::dec
                                            << info->bitCount << (vih2 ? " VIDEOINFOHEADER2" : " VIDEOINFOHEADER"));
            if (!graph_) {
                ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                           reinterpret_cast<void**>(&graph_)),
                          S_OK);
            }
            testfilters::VideoStreamConfig video;
            video.subtype = subtype;
            video.width = 38;  // rows of RGB24 need padding
            video.height = 30;
            video.videoInfo2 = vih2;
            video.frames = 8;
            video.firstStart = 1000;
            video.customize = VaryFields;
            testfilters::SourceConfig sourceConfig;
            ASSERT_EQ(testfilters::MakeVideoStream(video, &sourceConfig.type, &sourceConfig.samples), S_OK);
            const std::vector<SampleSpec> sent = sourceConfig.samples;
            const CMediaType type = sourceConfig.type;

            testfilters::SinkConfig sinkConfig;
            sinkConfig.dataFile = Wide(testsupport::FixturePath(testsupport::UniqueName("passthrough") + ".raw"));
            CTestPushSource* source = CTestPushSource::Create(std::move(sourceConfig));
            CTestSink* sink = CTestSink::Create(sinkConfig);
            IBaseFilter* transform = NewTransform();
            ASSERT_TRUE(source && sink && transform);
            Chain({source, transform, sink});

            AM_MEDIA_TYPE connected;
            ASSERT_EQ(sink->InputPin()->ConnectionMediaType(&connected), S_OK);
            EXPECT_TRUE(CMediaType(connected) == type) << "the transform hands on the source's type";
            FreeMediaType(connected);

            ASSERT_EQ(Run(), S_OK);
            long code = 0;
            EXPECT_EQ(WaitForCompletion(10000, &code), S_OK);
            EXPECT_EQ(code, EC_COMPLETE);
            EXPECT_EQ(Stop(), S_OK);

            ExpectSameSamples(sent, sink->Samples());
            EXPECT_EQ(sink->Counts().endOfStreams, 1);
            std::string expectedBytes;
            for (const SampleSpec& s : sent)
                expectedBytes.append(s.bytes.begin(), s.bytes.end());
            ReleaseGraphAndFilters({source, sink, transform});
            // The sink's file is complete once the sink is gone.
            EXPECT_TRUE(ReadWholeFile(sinkConfig.dataFile) == expectedBytes) << "bytes the sink wrote";
            EXPECT_NE(ReadWholeFile(sinkConfig.dataFile + L".log").find("end-of-stream"), std::string::npos);
        }
    }
}

TEST_F(GraphTest, RawFileSourceThroughTheTransform) {
    std::string clip;
    ASSERT_TRUE(testsupport::MediaFixture(
        "ffmpeg -f lavfi -i testsrc=size=64x48:rate=25 -frames:v 6 -pix_fmt yuv420p -f rawvideo {out}", "yuv", &clip));
    testfilters::VideoStreamConfig video;
    video.subtype = &kMediaSubtypeI420;
    video.frames = 100;  // the file has 6: the stream ends with the file
    video.rawFile = Wide(clip);
    testfilters::SourceConfig config;
    ASSERT_EQ(testfilters::MakeVideoStream(video, &config.type, &config.samples), S_OK);
    ASSERT_EQ(config.samples.size(), 6u);
    const std::string fileBytes = ReadWholeFile(video.rawFile);
    const std::vector<SampleSpec> sent = config.samples;
    CTestPushSource* source = CTestPushSource::Create(std::move(config));
    CTestSink* sink = CTestSink::Create({});
    IBaseFilter* transform = NewTransform();
    Chain({source, transform, sink});
    ASSERT_EQ(Run(), S_OK);
    long code = 0;
    EXPECT_EQ(WaitForCompletion(10000, &code), S_OK);
    EXPECT_EQ(Stop(), S_OK);
    const std::vector<SampleSpec> got = sink->Samples();
    ExpectSameSamples(sent, got);
    std::string received;
    for (const SampleSpec& s : got)
        received.append(s.bytes.begin(), s.bytes.end());
    EXPECT_TRUE(received == fileBytes);
    ReleaseGraphAndFilters({source, sink, transform});
}

// The index of a generated picture from its start time.
int IndexOf(const SampleSpec& sample, REFERENCE_TIME duration) {
    return static_cast<int>(sample.start / duration);
}

void ExpectPatternPictures(const std::vector<SampleSpec>& got, REFERENCE_TIME duration) {
    for (const SampleSpec& s : got) {
        ASSERT_TRUE(s.hasStart);
        const int index = IndexOf(s, duration);
        EXPECT_TRUE(s.bytes == testfilters::PatternFrame(index, static_cast<DWORD>(s.bytes.size())))
            << "picture " << index << " arrived damaged";
    }
}

TEST_F(GraphTest, HundredStateCyclesLoseNothingAndLeaveNothing) {
    comtest::Watchdog dog(300000);
    testfilters::VideoStreamConfig video;
    video.subtype = &MEDIASUBTYPE_YUY2;
    video.frames = 6;
    testfilters::SourceConfig config;
    ASSERT_EQ(testfilters::MakeVideoStream(video, &config.type, &config.samples), S_OK);
    CTestPushSource* source = CTestPushSource::Create(std::move(config));
    CTestSink* sink = CTestSink::Create({});
    IBaseFilter* transform = NewTransform();
    Chain({source, transform, sink});

    for (int cycle = 0; cycle < 100; ++cycle) {
        SCOPED_TRACE(testing::Message() << "cycle " << cycle);
        ASSERT_EQ(Stop(), S_OK);
        // (Streaming starts with Pause: the source delivers from then on.)
        const int before = source->Delivered();
        ASSERT_TRUE(SUCCEEDED(Pause()));
        ASSERT_EQ(Run(), S_OK);
        // Half the cycles stop once streaming is under way, half at once (usually
        // before the worker has delivered anything).
        if (cycle % 2) {
            ASSERT_TRUE(source->WaitDelivered(before + 1, 10000));
        }
        ASSERT_EQ(Stop(), S_OK);
        // Every sample the transform accepted reached the sink.
        ASSERT_EQ(static_cast<int>(sink->Samples().size()), source->Delivered());
        EXPECT_EQ(source->State(), State_Stopped);
        EXPECT_EQ(sink->State(), State_Stopped);
    }
    ExpectPatternPictures(sink->Samples(), video.avgTimePerFrame);
    EXPECT_GE(source->Delivered(), 50);
    ReleaseGraphAndFilters({source, sink, transform});
}

TEST_F(GraphTest, FlushDuringStreamingThenResume) {
    comtest::Watchdog dog(120000);
    testfilters::VideoStreamConfig video;
    video.subtype = &MEDIASUBTYPE_UYVY;
    video.frames = 200;
    CTestPushSource* source = nullptr;
    CTestSink* sink = nullptr;
    IBaseFilter* transform = nullptr;
    ASSERT_NO_FATAL_FAILURE(SlowChain(video, &source, &sink, &transform));

    ASSERT_EQ(Run(), S_OK);
    ASSERT_TRUE(source->WaitDelivered(20, 10000));
    ASSERT_EQ(source->FlushAndResume(150), S_OK);
    long code = 0;
    EXPECT_EQ(WaitForCompletion(20000, &code), S_OK);
    EXPECT_EQ(Stop(), S_OK);

    const CTestSink::Counters counts = sink->Counts();
    EXPECT_EQ(counts.beginFlushes, 1);
    EXPECT_EQ(counts.endFlushes, 1);
    EXPECT_GE(counts.newSegments, 1);
    EXPECT_EQ(counts.endOfStreams, 1);
    const std::vector<SampleSpec> got = sink->Samples();
    ExpectPatternPictures(got, video.avgTimePerFrame);
    // In order before the flush, then exactly the resumed run 150..199.
    std::vector<int> after;
    int previous = -1;
    bool resumed = false;
    for (const SampleSpec& s : got) {
        const int index = IndexOf(s, video.avgTimePerFrame);
        if (index == 150) resumed = true;
        if (resumed) {
            after.push_back(index);
        } else {
            EXPECT_GT(index, previous);
            EXPECT_LT(index, 150);
        }
        previous = index;
    }
    ASSERT_EQ(after.size(), 50u);
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(after[i], 150 + i);
    EXPECT_EQ(static_cast<int>(got.size()), source->Delivered());
    ReleaseGraphAndFilters({source, sink, transform});
}

TEST_F(GraphTest, StopInMidStreamKeepsWhatWasDelivered) {
    comtest::Watchdog dog(120000);
    testfilters::VideoStreamConfig video;
    video.subtype = &MEDIASUBTYPE_RGB24;
    video.frames = 500;
    CTestPushSource* source = nullptr;
    CTestSink* sink = nullptr;
    IBaseFilter* transform = nullptr;
    ASSERT_NO_FATAL_FAILURE(SlowChain(video, &source, &sink, &transform));

    ASSERT_EQ(Run(), S_OK);
    ASSERT_TRUE(source->WaitDelivered(30, 10000));
    ASSERT_EQ(Stop(), S_OK);
    const int delivered = source->Delivered();
    const std::vector<SampleSpec> got = sink->Samples();
    EXPECT_LT(delivered, 500) << "the stop came in the middle";
    EXPECT_EQ(static_cast<int>(got.size()), delivered);
    for (size_t i = 0; i < got.size(); ++i)
        EXPECT_EQ(IndexOf(got[i], video.avgTimePerFrame), static_cast<int>(i));
    ExpectPatternPictures(got, video.avgTimePerFrame);
    EXPECT_EQ(sink->Counts().endOfStreams, 0);
    Sleep(50);
    EXPECT_EQ(source->Delivered(), delivered) << "nothing is delivered after Stop returned";
    ReleaseGraphAndFilters({source, sink, transform});
}

TEST_F(GraphTest, MediaTypeChangeReachesTheSink) {
    testfilters::VideoStreamConfig video;
    video.subtype = &MEDIASUBTYPE_RGB32;
    video.frames = 5;
    CMediaType changed;
    ASSERT_EQ(BuildVideoType({&MEDIASUBTYPE_RGB32, 64, 48, 200000}, &changed), S_OK);
    video.customize = [&changed](int index, SampleSpec& sample) {
        if (index == 3) {
            sample.typeChange = true;
            sample.newType = changed;
        }
    };
    testfilters::SourceConfig config;
    ASSERT_EQ(testfilters::MakeVideoStream(video, &config.type, &config.samples), S_OK);
    config.moreTypes.push_back(changed);
    CTestPushSource* source = CTestPushSource::Create(std::move(config));
    CTestSink* sink = CTestSink::Create({});
    Chain({source, sink});
    ASSERT_EQ(Run(), S_OK);
    long code = 0;
    EXPECT_EQ(WaitForCompletion(10000, &code), S_OK);
    EXPECT_EQ(Stop(), S_OK);
    const std::vector<SampleSpec> got = sink->Samples();
    ASSERT_EQ(got.size(), 5u);
    for (size_t i = 0; i < got.size(); ++i)
        EXPECT_EQ(got[i].typeChange, i == 3) << "sample " << i;
    EXPECT_TRUE(got[3].newType == changed);
    EXPECT_TRUE(sink->InputPin()->CurrentMediaType() == changed) << "later samples have the new type";
    ReleaseGraphAndFilters({source, sink});
}

TEST_F(GraphTest, ByteStreamSourceDeliversGivenSamples) {
    testfilters::SourceConfig config;
    config.type = CMediaType(&MEDIATYPE_Stream);
    config.type.subtype = MEDIASUBTYPE_MPEG2_VIDEO;
    const int sizes[] = {1, 700, 33, 4096};
    for (int i = 0; i < 4; ++i) {
        SampleSpec sample;
        sample.bytes = testfilters::PatternFrame(i, sizes[i]);
        sample.hasStart = i != 1;  // a sample without times
        sample.start = i * 1000;
        sample.stop = i * 1000 + 500;
        sample.sync = i == 0;
        config.samples.push_back(sample);
    }
    const std::vector<SampleSpec> sent = config.samples;
    CTestPushSource* source = CTestPushSource::Create(std::move(config));
    CTestSink* sink = CTestSink::Create({});
    Chain({source, sink});
    ASSERT_EQ(Run(), S_OK);
    long code = 0;
    EXPECT_EQ(WaitForCompletion(10000, &code), S_OK);
    EXPECT_EQ(Stop(), S_OK);
    ExpectSameSamples(sent, sink->Samples());
    ReleaseGraphAndFilters({source, sink});
}

}  // namespace

namespace {

// The dynamic reconnection hooks: asking the peer about a type, and a reconnection
// with a new type through the graph.
TEST_F(GraphTest, OutputPinAsksThePeerAndReconnectsWithANewType) {
    CMediaType rgb32, rgb24;
    ASSERT_EQ(BuildVideoType({&MEDIASUBTYPE_RGB32, 16, 16, 400000}, &rgb32), S_OK);
    ASSERT_EQ(BuildVideoType({&MEDIASUBTYPE_RGB24, 16, 16, 400000}, &rgb24), S_OK);
    testfilters::SourceConfig config;
    config.type = rgb32;
    config.moreTypes.push_back(rgb24);
    CTestPushSource* source = CTestPushSource::Create(std::move(config));
    testfilters::SinkConfig picky;
    picky.acceptedSubtypes = {MEDIASUBTYPE_RGB32};
    CTestSink* sink = CTestSink::Create(picky);
    Chain({source, sink});
    EXPECT_EQ(source->OutputPin()->QueryAcceptDownstream(&rgb32), S_OK);
    EXPECT_EQ(source->OutputPin()->QueryAcceptDownstream(&rgb24), S_FALSE);
    ReleaseGraphAndFilters({source, sink});

    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                               reinterpret_cast<void**>(&graph_)),
              S_OK);
    config = {};
    config.type = rgb32;
    config.moreTypes.push_back(rgb24);
    source = CTestPushSource::Create(std::move(config));
    sink = CTestSink::Create({});
    Chain({source, sink});
    EXPECT_EQ(source->OutputPin()->QueryAcceptDownstream(&rgb24), S_OK);
    ASSERT_EQ(source->OutputPin()->ReconnectThroughGraph(&rgb24), S_OK);
    EXPECT_TRUE(sink->InputPin()->CurrentMediaType() == rgb24);
    EXPECT_TRUE(source->OutputPin()->CurrentMediaType() == rgb24);
    ASSERT_NE(source->OutputPin()->Allocator(), nullptr) << "the new connection has its allocator";
    ASSERT_EQ(Run(), S_OK);
    long code = 0;
    EXPECT_EQ(WaitForCompletion(10000, &code), S_OK);
    EXPECT_EQ(Stop(), S_OK);
    ReleaseGraphAndFilters({source, sink});
}

}  // namespace
