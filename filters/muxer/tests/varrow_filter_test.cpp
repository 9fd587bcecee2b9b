// The multiplexer filter in Wine: registration, its parameter tree through the
// configuration interfaces, persistence, and real graphs of Wine's filter graph manager
// (test sources -> the filter -> a recording sink) whose output the outside tools judge.
#include <windows.h>
#include <dshow.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "filters/base/tests/com_test_util.h"
#include "filters/base/media_type.h"
#include "filters/base/tests/test_filters.h"
#include "filters/config/kestrune_config.h"
#include "filters/muxer/core/tests/systems_checker.h"
#include "filters/muxer/tests/varrow_test_util.h"
#include "filters/muxer/varrow_ids.h"
#include "tests/support/ffprobe.h"
#include "tests/support/media_fixture.h"
#include "tests/support/shell.h"

namespace {

using namespace varrowtest;
using testfilters::CTestPushSource;
using testfilters::CTestSink;

std::wstring ClsidKey(const GUID& clsid) {
    wchar_t text[64];
    StringFromGUID2(clsid, text, 64);
    return std::wstring(L"CLSID\\") + text;
}

bool KeyExists(const std::wstring& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// The DirectShow filters category of the filter mapper.
const std::wstring kMapperInstances = L"CLSID\\{083863F1-70DE-11D0-BD40-00A0C911CE86}\\Instance\\";

TEST(VarrowRegistration, RegistersAndRemovesItsClassesAndFilterEntry) {
    comtest::ComScope com;
    Registered reg;
    ASSERT_TRUE(reg.Ok());
    wchar_t filter[64];
    StringFromGUID2(CLSID_VarrowMuxer, filter, 64);
    for (const GUID* clsid : {&CLSID_VarrowMuxer, &CLSID_VarrowSettingsPage, &CLSID_VarrowVersionPage})
        EXPECT_TRUE(KeyExists(ClsidKey(*clsid) + L"\\InprocServer32"));
    EXPECT_TRUE(KeyExists(kMapperInstances + filter));
    ASSERT_EQ(comtest::Regsvr32(reg.Dll(), true), 0);
    for (const GUID* clsid : {&CLSID_VarrowMuxer, &CLSID_VarrowSettingsPage, &CLSID_VarrowVersionPage})
        EXPECT_FALSE(KeyExists(ClsidKey(*clsid)));
    EXPECT_FALSE(KeyExists(kMapperInstances + filter));
}

class VarrowTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(com_.hr));
        ASSERT_TRUE(reg_.Ok());
        filter_ = NewVarrow();
        ASSERT_NE(filter_, nullptr);
        config_ = ConfigOf(filter_);
        ASSERT_NE(config_, nullptr);
    }
    void TearDown() override {
        if (config_) config_->Release();
        if (graph_) graph_->Release();
        if (filter_) {
            EXPECT_EQ(filter_->Release(), 0u);
        }
    }
    void NewGraph() {
        ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                   reinterpret_cast<void**>(&graph_)),
                  S_OK);
        ASSERT_EQ(graph_->AddFilter(filter_, L"Varrow"), S_OK);
    }
    // Connects a source's output to the filter's pin `input` through the graph.
    void ConnectSource(IBaseFilter* source, const wchar_t* input, const wchar_t* name) {
        ASSERT_EQ(graph_->AddFilter(source, name), S_OK);
        IPin* out = comtest::FindPinByDirection(source, PINDIR_OUTPUT);
        IPin* in = FindPin(filter_, input);
        ASSERT_TRUE(out && in);
        EXPECT_EQ(graph_->ConnectDirect(out, in, nullptr), S_OK) << "to " << Narrow(input);
        out->Release();
        in->Release();
        CompleteUnits(input);
    }
    // "Completing Access Unit" follows the upstream: off behind a push source, which reads
    // no file. The test sources deliver a file's bytes in pieces that ignore access units,
    // as a file reader does, so their streams are cut as a file reader's are.
    void CompleteUnits(const wchar_t* input) {
        IKestruneConfigEx* stream = Stream(input);
        ASSERT_NE(stream, nullptr);
        if (GetInt(stream, kParamStreamType) != 9) {
            EXPECT_EQ(GetInt(stream, kParamCompleting), 0) << "no file reader upstream of " << Narrow(input);
            EXPECT_TRUE(SUCCEEDED(SetInt(stream, kParamCompleting, 1)));
            EXPECT_EQ(GetInt(stream, kParamCompleting), 1);
        }
        stream->Release();
    }
    void ConnectSink(IBaseFilter* sink) {
        ASSERT_EQ(graph_->AddFilter(sink, L"sink"), S_OK);
        IPin* out = FindPin(filter_, L"Varrow Out");
        IPin* in = comtest::FindPinByDirection(sink, PINDIR_INPUT);
        ASSERT_TRUE(out && in);
        EXPECT_EQ(graph_->ConnectDirect(out, in, nullptr), S_OK);
        out->Release();
        in->Release();
    }
    static std::string Narrow(const wchar_t* w) {
        std::string s;
        for (; *w; ++w)
            s += static_cast<char>(*w);
        return s;
    }
    IKestruneConfigEx* Stream(const wchar_t* pin) {
        IPin* p = FindPin(filter_, pin);
        IKestruneConfigEx* c = ConfigOf(p);
        if (p) p->Release();
        return c;
    }

    comtest::ComScope com_;
    Registered reg_;
    IBaseFilter* filter_ = nullptr;
    IKestruneConfigEx* config_ = nullptr;
    IGraphBuilder* graph_ = nullptr;
};

int CountObjects(IKestruneConfig* owner, const GUID& query) {
    int n = 0;
    IKestruneConfigEx* at = nullptr;
    while (IKestruneConfigEx* next = NextObject(owner, query, at)) {
        if (at) at->Release();
        at = next;
        if (++n > 1000) break;
    }
    if (at) at->Release();
    return n;
}

TEST_F(VarrowTest, FreshFilterAndTheTreeCommands) {
    EXPECT_EQ(comtest::RefCount(filter_), 2u);
    CHECK_INTERFACES(filter_, IFACE_ROW(IID_IBaseFilter, true), IFACE_ROW(IID_IPersistStream, true),
                     IFACE_ROW(IID_IKestruneConfig, true), IFACE_ROW(IID_IKestruneConfigEx, true),
                     IFACE_ROW(IID_ISpecifyPropertyPages, true), IFACE_ROW(IID_IMediaSeeking, false));
    FILTER_INFO info = {};
    ASSERT_EQ(filter_->QueryFilterInfo(&info), S_OK);
    EXPECT_STREQ(info.achName, L"Kestrune Varrow Muxer");
    IPin* input = FindPin(filter_, L"Input0");
    ASSERT_NE(input, nullptr);
    input->Release();
    IEnumPins* pins = nullptr;
    ASSERT_EQ(filter_->EnumPins(&pins), S_OK);
    IPin* all[4] = {};
    ULONG got = 0;
    pins->Next(4, all, &got);
    pins->Release();
    EXPECT_EQ(got, 2u);
    for (ULONG i = 0; i < got; ++i)
        all[i]->Release();

    // Pages: settings then version.
    ISpecifyPropertyPages* pages = nullptr;
    ASSERT_EQ(filter_->QueryInterface(IID_ISpecifyPropertyPages, reinterpret_cast<void**>(&pages)), S_OK);
    CAUUID ids = {};
    ASSERT_EQ(pages->GetPages(&ids), S_OK);
    ASSERT_EQ(ids.cElems, 2u);
    EXPECT_TRUE(ids.pElems[0] == CLSID_VarrowSettingsPage && ids.pElems[1] == CLSID_VarrowVersionPage);
    CoTaskMemFree(ids.pElems);
    pages->Release();

    VARIANT v;
    VariantInit(&v);
    ASSERT_EQ(config_->GetValue(&kParamRunning, &v), S_OK);
    EXPECT_EQ(V_VT(&v), VT_BOOL);
    EXPECT_EQ(V_BOOL(&v), 0);
    EXPECT_EQ(GetInt(config_, kParamOutput), 2);
    EXPECT_EQ(CountObjects(config_, kQueryNextProgram), 1);

    // Programs: the last cannot go; new ones get unique numbers; program stream output
    // leaves one.
    IKestruneConfigEx* first = NextObject(config_, kQueryNextProgram, nullptr);
    ASSERT_NE(first, nullptr);
    V_VT(&v) = VT_UNKNOWN;
    V_UNKNOWN(&v) = first;
    first->AddRef();
    EXPECT_EQ(config_->SetValue(&kCommandDeleteProgram, &v), E_FAIL);
    VariantClear(&v);
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(config_->SetValue(&kCommandCreateProgram, &v), S_OK);
        VariantClear(&v);
    }
    EXPECT_EQ(CountObjects(config_, kQueryNextProgram), 3);
    std::vector<int64_t> numbers;
    for (IKestruneConfigEx* p = NextObject(config_, kQueryNextProgram, nullptr); p;) {
        numbers.push_back(GetInt(p, kParamProgramNumber));
        IKestruneConfigEx* next = NextObject(config_, kQueryNextProgram, p);
        p->Release();
        p = next;
    }
    std::sort(numbers.begin(), numbers.end());
    EXPECT_EQ(numbers, (std::vector<int64_t>{1, 2, 3}));
    EXPECT_EQ(SetInt(config_, kParamOutput, 1), S_OK);
    EXPECT_EQ(CountObjects(config_, kQueryNextProgram), 1);
    EXPECT_EQ(config_->IsSupported(&kParamTransportStreamId), S_FALSE);
    EXPECT_EQ(config_->SetValue(&kCommandCreateProgram, &v), E_FAIL);
    first->Release();

    // Refusals: ranges, an unconnected output, H.264 in a program stream, read-only values.
    IKestruneConfigEx* stream = Stream(L"Input0");
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(SetInt(stream, kParamStreamType, 10), E_FAIL);
    EXPECT_EQ(SetInt(config_, kParamOutput, 2), S_OK);
    EXPECT_EQ(SetInt(stream, kParamStreamType, 10), S_OK);
    EXPECT_EQ(SetInt(config_, kParamOutput, 1), E_FAIL) << "an H.264 stream keeps the transport stream";
    EXPECT_EQ(GetInt(stream, kParamStreamPesId), 0xE0);
    EXPECT_EQ(SetInt(config_, kParamOutputBufferSize, 4096), E_FAIL) << "output pin not connected";
    EXPECT_EQ(SetInt(config_, kParamOutputBufferSize, 120000), S_FALSE);
    EXPECT_EQ(SetInt(config_, kParamTransportStreamId, 65535), E_FAIL);
    EXPECT_EQ(SetInt(config_, kParamTransportStreamId, 65534), S_OK);
    EXPECT_EQ(SetInt(config_, kParamMuxerTime, 5), E_ACCESSDENIED);
    EXPECT_EQ(config_->IsWritable(&kParamMuxerTime), S_FALSE);
    // A stream whose "Stream ID" is set to a program's PID gets another.
    IKestruneConfigEx* program = NextObject(config_, kQueryNextProgram, nullptr);
    ASSERT_NE(program, nullptr);
    const int64_t pmt = GetInt(program, kParamProgramId);
    EXPECT_EQ(SetInt(stream, kParamStreamId, static_cast<int32_t>(pmt)), S_OK);
    EXPECT_NE(GetInt(stream, kParamStreamId), pmt);
    // A stream made and deleted by command: the pin goes from the filter, and the object
    // still held answers no more interfaces.
    VariantInit(&v);
    ASSERT_EQ(program->SetValue(&kCommandCreateStream, &v), S_OK);
    ASSERT_EQ(V_VT(&v), VT_UNKNOWN);
    IUnknown* made = V_UNKNOWN(&v);
    made->AddRef();
    EXPECT_EQ(CountObjects(program, kQueryNextStream), 2);
    EXPECT_EQ(program->SetValue(&kCommandDeleteStream, &v), S_OK);
    EXPECT_EQ(CountObjects(program, kQueryNextStream), 1);
    IUnknown* again = nullptr;
    EXPECT_EQ(made->QueryInterface(IID_IPin, reinterpret_cast<void**>(&again)), E_UNEXPECTED);
    EXPECT_EQ(again, nullptr);
    made->Release();
    VariantClear(&v);
    program->Release();
    stream->Release();
}

// A graph of sources, the filter and a recording sink, with the settings of `format`.
struct Muxed {
    std::string name;  // in the fixture folder
    std::vector<uint8_t> bytes;
    testfilters::SinkConfig sink;
};

class VarrowGraphTest : public VarrowTest {
protected:
    void Build(const std::string& format, const std::vector<const Elementary*>& inputs, Muxed* out,
               DWORD sinkDelayMs = 0) {
        NewGraph();
        if (format != "ts") {
            ASSERT_EQ(SetInt(config_, kParamOutput, 1), S_OK);
        }
        if (format == "dvd") {
            ASSERT_EQ(SetInt(config_, kParamCompatibility, 1), S_OK);
        }
        for (size_t i = 0; i < inputs.size(); ++i) {
            CTestPushSource* source = MakeSource(*inputs[i]);
            ASSERT_NE(source, nullptr);
            sources_.push_back(source);
            const std::wstring pin = L"Input" + std::to_wstring(i);
            ConnectSource(source, pin.c_str(), (L"source " + std::to_wstring(i)).c_str());
        }
        out->name = testsupport::UniqueName("varrow") + (format == "ts" ? ".ts" : format == "dvd" ? ".vob" : ".mpg");
        out->sink.dataFile = Wide(testsupport::FixturePath(out->name));
        out->sink.receiveDelayMs = sinkDelayMs;
        sink_ = CTestSink::Create(out->sink);
        ASSERT_NE(sink_, nullptr);
        ConnectSink(sink_);
    }
    // Releases the graph and every filter; the sink's file is complete afterwards.
    void Finish(Muxed* out) {
        if (graph_) {
            EXPECT_EQ(graph_->Release(), 0u);
        }
        graph_ = nullptr;
        for (CTestPushSource* s : sources_)
            EXPECT_EQ(s->Release(), 0u);
        sources_.clear();
        if (sink_) {
            EXPECT_EQ(sink_->Release(), 0u);
        }
        sink_ = nullptr;
        out->bytes = testsupport::ReadFileBytes(testsupport::FixturePath(out->name));
    }
    void TearDown() override {
        Muxed ignored;
        if (graph_ || sink_) Finish(&ignored);
        VarrowTest::TearDown();
    }

    std::vector<CTestPushSource*> sources_;
    CTestSink* sink_ = nullptr;
};

struct Expect {
    const char* kind;
    const char* format;  // ffmpeg's raw muxer
    const char* codec;
    const char* id;  // in a program stream
};
const Expect kExpect[] = {{"m2v", "mpeg2video", "mpeg2video", "0x1e0"},
                          {"mp2", "mp2", "mp2", "0x1c0"},
                          {"ac3", "ac3", "ac3", "0x80"},
                          {"264", "h264", "h264", "0x1e0"},
                          {"aac", "adts", "aac", "0x1c0"}};
const Expect& ExpectOf(const std::string& kind) {
    for (const Expect& e : kExpect)
        if (kind == e.kind) return e;
    return kExpect[0];
}

// The judges of the multiplexer core's own tests, on the filter's output.
void Judge(const Muxed& m, const std::string& format, const std::vector<const Elementary*>& inputs) {
    ASSERT_FALSE(m.bytes.empty());
    const muxertest::SystemsReport report = format == "ts" ? muxertest::CheckTransportStream(m.bytes)
                                                           : muxertest::CheckProgramStream(m.bytes, format == "dvd");
    EXPECT_EQ(report.error, "");
    EXPECT_EQ(report.pesPackets.size(), inputs.size());
    if (format == "ts") {
        EXPECT_LE(report.maxPcrGap, 2700000);
        EXPECT_LE(report.maxPatGap, 13500000);
    } else {
        EXPECT_EQ(report.endCode, format == "ps");
    }
    std::string text;
    EXPECT_EQ(Shell("ffmpeg -nostdin -v error -i '" + m.name + "' -f null -", &text), 0);
    EXPECT_EQ(text, "");
    // Each input is the output stream of its codec (a DVD stream lists its navigation
    // packets first; streams are listed in the order their first packets come).
    ASSERT_EQ(Shell("ffprobe -v error -show_entries stream=codec_name,id -of csv=p=0 '" + m.name + "'", &text), 0);
    std::vector<std::string> listed;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line))
        if (!line.empty()) listed.push_back(line);
    if (format == "dvd") {
        ASSERT_FALSE(listed.empty());
        EXPECT_EQ(listed[0].substr(0, listed[0].find(',')), "dvd_nav_packet");
    }
    for (size_t i = 0; i < inputs.size(); ++i) {
        const Expect& e = ExpectOf(inputs[i]->kind);
        size_t index = 0;
        while (index < listed.size() && listed[index].substr(0, listed[index].find(',')) != e.codec)
            ++index;
        ASSERT_LT(index, listed.size()) << "no " << e.codec << " stream in " << text;
        if (format != "ts") {
            EXPECT_NE(listed[index].find(e.id), std::string::npos) << listed[index];
        }
        const std::string copy = testsupport::UniqueName("copy") + "." + e.kind;
        ASSERT_EQ(Shell("ffmpeg -nostdin -v error -i '" + m.name + "' -map 0:" + std::to_string(index) +
                            " -c copy -f " + e.format + " " + copy,
                        &text),
                  0)
            << text;
        EXPECT_TRUE(testsupport::ReadFileBytes(testsupport::FixturePath(copy)) == inputs[i]->bytes)
            << inputs[i]->kind << " is not the input byte for byte";
    }
}

// Counts the change notices the filter sends, by key.
class CountingSink final : public IKestruneConfigSink {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IKestruneConfigSink) {
            *out = static_cast<IKestruneConfigSink*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs)); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(InterlockedDecrement(&refs)); }
    HRESULT STDMETHODCALLTYPE OnValueChanged(const GUID* key, VARIANT* value) override {
        if (*key == kParamMuxerTime) InterlockedIncrement(&clock);
        if (*key == kParamRunning) running.push_back(V_BOOL(value));
        return S_OK;
    }
    LONG refs = 1;
    LONG clock = 0;
    std::vector<int> running;  // the control thread's changes only
};

struct GraphCase {
    const char* format;
    std::vector<const char*> kinds;
};

class VarrowFormats : public VarrowGraphTest, public testing::WithParamInterface<GraphCase> {};

TEST_P(VarrowFormats, LiveStreamsPassTheJudges) {
    Watchdog dog(300000);
    const GraphCase& c = GetParam();
    std::vector<Elementary> es(c.kinds.size());
    std::vector<const Elementary*> inputs;
    for (size_t i = 0; i < c.kinds.size(); ++i) {
        ASSERT_TRUE(MakeElementary(c.kinds[i], &es[i]));
        inputs.push_back(&es[i]);
    }
    Muxed m;
    Build(c.format, inputs, &m);
    // Small samples: the allocator is asked again, and the clock goes out many times.
    ASSERT_EQ(SetInt(config_, kParamOutputBufferSize, 16384), S_OK);
    CountingSink notices;
    ASSERT_EQ(config_->SetNotifySink(&notices), S_OK);
    ASSERT_EQ(Control(graph_, &IMediaControl::Run), S_OK);
    EXPECT_EQ(WaitForCompletion(graph_, 120000), S_OK);
    EXPECT_EQ(Control(graph_, &IMediaControl::Stop), S_OK);
    ASSERT_EQ(config_->SetNotifySink(nullptr), S_OK);
    EXPECT_EQ(notices.refs, 1);
    EXPECT_GT(notices.clock, 1) << "the clock is published while running";
    EXPECT_EQ(notices.running, (std::vector<int>{1, 0}));
    // Every sample but the last is full.
    const std::vector<testfilters::SampleSpec> samples = sink_->Samples();
    ASSERT_GT(samples.size(), 2u);
    for (size_t i = 0; i < samples.size(); ++i) {
        if (i + 1 < samples.size()) {
            EXPECT_EQ(samples[i].bytes.size(), 16384u) << "sample " << i;
        } else {
            EXPECT_LE(samples[i].bytes.size(), 16384u);
        }
    }
    EXPECT_EQ(sink_->Counts().endOfStreams, 1);
    EXPECT_GT(GetInt(config_, kParamMuxerTime), 0);
    IKestruneConfigEx* s0 = Stream(L"Input0");
    ASSERT_NE(s0, nullptr);
    EXPECT_GT(GetInt(s0, kParamCurrentPts), 0);
    s0->Release();
    Finish(&m);
    Judge(m, c.format, inputs);
}

INSTANTIATE_TEST_SUITE_P(Graphs, VarrowFormats,
                         testing::Values(GraphCase{"ps", {"m2v", "mp2"}}, GraphCase{"dvd", {"m2v", "ac3"}},
                                         GraphCase{"ts", {"m2v", "mp2"}}, GraphCase{"ts", {"264", "aac"}}),
                         [](const testing::TestParamInfo<GraphCase>& info) {
                             std::string name = info.param.format;
                             for (const char* k : info.param.kinds)
                                 name += std::string("_") + k;
                             return name;
                         });

// A minute of video with MPEG and AC-3 audio through the graph, twice: the same bytes both
// times, the judges pass, and every stream keeps its input's frame times (one PTS per
// frame, evenly stepped over the minute).
class VarrowMinute : public VarrowGraphTest, public testing::WithParamInterface<const char*> {};

TEST_P(VarrowMinute, ThreeStreamsStayValidAndTheSameOnEveryRun) {
    Watchdog dog(600000);
    const std::string format = GetParam();
    std::vector<Elementary> es(3);
    std::vector<const Elementary*> inputs;
    const char* kinds[3] = {"m2v", "mp2", "ac3"};
    for (size_t i = 0; i < 3; ++i) {
        ASSERT_TRUE(MakeElementary(kinds[i], &es[i], 60));
        inputs.push_back(&es[i]);
    }
    std::vector<Muxed> runs(2);
    for (Muxed& m : runs) {
        Build(format, inputs, &m);
        ASSERT_EQ(Control(graph_, &IMediaControl::Run), S_OK);
        EXPECT_EQ(WaitForCompletion(graph_, 300000), S_OK);
        EXPECT_EQ(Control(graph_, &IMediaControl::Stop), S_OK);
        Finish(&m);
    }
    EXPECT_TRUE(runs[0].bytes == runs[1].bytes) << "two runs differ";
    Judge(runs[0], format, inputs);
    std::string text;
    ASSERT_EQ(Shell("ffprobe -v error -show_entries packet=stream_index,pts -of csv=p=0 '" + runs[0].name + "'", &text),
              0);
    EXPECT_EQ(muxertest::FrameTimesFault(text, {2160, 2880, 3600}, 60), "");
}

INSTANTIATE_TEST_SUITE_P(Graphs, VarrowMinute, testing::Values("ps", "dvd", "ts"));

// A program or transport stream made by ffmpeg arrives whole on one pin; the streams
// found inside it are multiplexed again. The judges compare with the elementary streams
// that ffmpeg copies out of the input.
struct MultiplexedCase {
    const char* input;   // mpg or ts
    const char* output;  // ps, dvd or ts
};

class VarrowMultiplexed : public VarrowGraphTest, public testing::WithParamInterface<MultiplexedCase> {
protected:
    // The streams inside `input` in its own order, each copied out by ffmpeg.
    void CopyOut(const Elementary& input, std::vector<Elementary>* out) {
        const std::string name = input.path.substr(input.path.find_last_of("/\\") + 1);
        const std::pair<const char*, const char*> kinds[] = {{"m2v", "mpeg2video"}, {"mp2", "mp2"}};
        for (const auto& [kind, format] : kinds) {
            Elementary e;
            e.kind = kind;
            e.path = testsupport::UniqueName("inside") + "." + kind;
            std::string text;
            ASSERT_EQ(Shell("ffmpeg -nostdin -v error -i '" + name + "' -map 0:" + (e.kind == "m2v" ? "v" : "a") +
                                " -c copy -f " + format + " " + e.path,
                            &text),
                      0)
                << text;
            e.bytes = testsupport::ReadFileBytes(testsupport::FixturePath(e.path));
            ASSERT_FALSE(e.bytes.empty());
            out->push_back(std::move(e));
        }
    }
    // The streams of the first program: (pin name, "Auto created" shown and set, live).
    std::vector<std::tuple<std::wstring, bool, bool>> ProgramStreams() {
        std::vector<std::tuple<std::wstring, bool, bool>> list;
        IKestruneConfigEx* program = NextObject(config_, kQueryNextProgram, nullptr);
        if (!program) return list;
        for (IKestruneConfigEx* s = NextObject(program, kQueryNextStream, nullptr); s;) {
            VARIANT name, live;
            VariantInit(&name);
            VariantInit(&live);
            s->GetValue(&kQueryPinName, &name);
            s->GetValue(&kQueryLive, &live);
            list.emplace_back(V_VT(&name) == VT_BSTR ? V_BSTR(&name) : L"", GetInt(s, kParamAutoCreated) == 1,
                              V_VT(&live) == VT_BOOL && V_BOOL(&live));
            VariantClear(&name);
            IKestruneConfigEx* next = NextObject(program, kQueryNextStream, s);
            s->Release();
            s = next;
        }
        program->Release();
        return list;
    }
};

TEST_P(VarrowMultiplexed, StreamsFoundInsideTheInputPassTheJudges) {
    Watchdog dog(300000);
    const MultiplexedCase& c = GetParam();
    Elementary input;
    ASSERT_TRUE(MakeElementary(c.input, &input));
    std::vector<Elementary> inside;
    ASSERT_NO_FATAL_FAILURE(CopyOut(input, &inside));
    Muxed m;
    ASSERT_NO_FATAL_FAILURE(Build(c.output, {&input}, &m));
    IKestruneConfigEx* carrier = Stream(L"Input0");
    ASSERT_NE(carrier, nullptr);
    EXPECT_EQ(GetInt(carrier, kParamStreamType), 9);
    carrier->Release();
    // A program that carries a multiplexed input takes no other stream: no spare pin.
    IPin* spare = nullptr;
    EXPECT_EQ(filter_->FindPin(L"Input1", &spare), VFW_E_NOT_FOUND);
    if (spare) spare->Release();
    ASSERT_EQ(Control(graph_, &IMediaControl::Run), S_OK);
    EXPECT_EQ(WaitForCompletion(graph_, 120000), S_OK);
    // While running, the found streams sit in the carrier's program, "Auto created" and
    // live, yet the filter enumerates no pin for them.
    using Row = std::tuple<std::wstring, bool, bool>;
    EXPECT_EQ(ProgramStreams(),
              (std::vector<Row>{Row{L"Input0", false, true}, Row{L"Input1", true, true}, Row{L"Input2", true, true}}));
    IEnumPins* pins = nullptr;
    ASSERT_EQ(filter_->EnumPins(&pins), S_OK);
    IPin* pin[4] = {};
    ULONG got = 0;
    pins->Next(4, pin, &got);
    for (ULONG i = 0; i < got; ++i)
        pin[i]->Release();
    pins->Release();
    EXPECT_EQ(got, 2u);
    EXPECT_EQ(Control(graph_, &IMediaControl::Stop), S_OK);
    // They lived for the run only.
    EXPECT_EQ(ProgramStreams(), (std::vector<Row>{Row{L"Input0", false, true}}));
    EXPECT_EQ(sink_->Counts().endOfStreams, 1);
    Finish(&m);
    Judge(m, c.output, {&inside[0], &inside[1]});
}

INSTANTIATE_TEST_SUITE_P(Graphs, VarrowMultiplexed,
                         testing::Values(MultiplexedCase{"mpg", "ps"}, MultiplexedCase{"ts", "ts"},
                                         MultiplexedCase{"ts", "dvd"}, MultiplexedCase{"mpg", "ts"}),
                         [](const testing::TestParamInfo<MultiplexedCase>& info) {
                             return std::string(info.param.input) + "_to_" + info.param.output;
                         });

// Stops in mid-stream delete the found streams and the next run finds them again; a
// flush of the multiplexed input passes downstream once and the output goes on.
TEST_F(VarrowMultiplexed, StopsAndAFlushInMidStream) {
    Watchdog dog(300000);
    Elementary input;
    ASSERT_TRUE(MakeElementary("mpg", &input));
    Muxed m;
    // A slow sink holds the worker, so that the source is still streaming.
    ASSERT_NO_FATAL_FAILURE(Build("ts", {&input}, &m, 20));
    using Row = std::tuple<std::wstring, bool, bool>;
    const std::vector<Row> stopped{Row{L"Input0", false, true}};
    for (int i = 0; i < 10; ++i) {
        SCOPED_TRACE(testing::Message() << "cycle " << i);
        ASSERT_EQ(Control(graph_, &IMediaControl::Run), S_OK);
        sources_[0]->WaitDelivered(2 * (i + 1), 20000);
        ASSERT_EQ(Control(graph_, &IMediaControl::Stop), S_OK);
        EXPECT_EQ(ProgramStreams(), stopped);
    }
    sink_->ClearRecords();
    ASSERT_EQ(Control(graph_, &IMediaControl::Run), S_OK);
    // (Bounded wait for the parser to find both streams.)
    for (int wait = 0; wait < 4000 && ProgramStreams().size() < 3; ++wait)
        Sleep(5);
    ASSERT_EQ(ProgramStreams().size(), 3u);
    EXPECT_EQ(sources_[0]->FlushAndResume(4), S_OK);
    EXPECT_EQ(WaitForCompletion(graph_, 120000), S_OK);
    EXPECT_EQ(ProgramStreams().size(), 3u) << "the found streams stay through a flush";
    EXPECT_EQ(Control(graph_, &IMediaControl::Stop), S_OK);
    EXPECT_EQ(ProgramStreams(), stopped);
    const auto counts = sink_->Counts();
    EXPECT_EQ(counts.beginFlushes, 1);
    EXPECT_EQ(counts.endFlushes, 1);
    EXPECT_EQ(counts.endOfStreams, 1);
    // The last run's bytes, after the flush: both streams, a sound structure.
    std::vector<uint8_t> last;
    for (const testfilters::SampleSpec& sample : sink_->Samples())
        last.insert(last.end(), sample.bytes.begin(), sample.bytes.end());
    const muxertest::SystemsReport report = muxertest::CheckTransportStream(last);
    EXPECT_EQ(report.error, "");
    EXPECT_EQ(report.pesPackets.size(), 2u);
}

TEST_F(VarrowGraphTest, HundredStateCyclesThenAFullRunLosesNothing) {
    Watchdog dog(500000);
    Elementary video, audio;
    ASSERT_TRUE(MakeElementary("m2v", &video));
    ASSERT_TRUE(MakeElementary("mp2", &audio));
    Muxed m;
    Build("ps", {&video, &audio}, &m);
    // While not stopped the tree and the output kind stay as they are.
    ASSERT_EQ(Control(graph_, &IMediaControl::Pause), S_OK);
    VARIANT v;
    VariantInit(&v);
    ASSERT_EQ(config_->GetValue(&kParamRunning, &v), S_OK);
    EXPECT_EQ(V_VT(&v), VT_BOOL);
    EXPECT_EQ(V_BOOL(&v), 1);
    EXPECT_EQ(SetInt(config_, kParamOutput, 1), E_FAIL) << "even to its current value";
    EXPECT_EQ(config_->SetValue(&kCommandCreateProgram, &v), E_FAIL);
    IKestruneConfigEx* program = NextObject(config_, kQueryNextProgram, nullptr);
    ASSERT_NE(program, nullptr);
    VariantClear(&v);
    EXPECT_EQ(program->SetValue(&kCommandCreateStream, &v), E_FAIL);
    program->Release();
    for (int i = 0; i < 100; ++i) {
        SCOPED_TRACE(testing::Message() << "cycle " << i);
        ASSERT_EQ(Control(graph_, &IMediaControl::Pause), S_OK);
        ASSERT_EQ(Control(graph_, &IMediaControl::Run), S_OK);
        if (i % 3 == 0) {
            ASSERT_EQ(Control(graph_, &IMediaControl::Pause), S_OK);
        }
        ASSERT_EQ(Control(graph_, &IMediaControl::Stop), S_OK);
    }
    sink_->ClearRecords();
    // The sink's file holds every cycle's bytes: the judged file is a new sink's.
    IPin* out = FindPin(filter_, L"Varrow Out");
    ASSERT_NE(out, nullptr);
    graph_->Disconnect(out);
    IPin* in = comtest::FindPinByDirection(sink_, PINDIR_INPUT);
    graph_->Disconnect(in);
    in->Release();
    out->Release();
    graph_->RemoveFilter(sink_);
    sink_->Release();
    m.name = testsupport::UniqueName("cycled") + ".mpg";
    m.sink.dataFile = Wide(testsupport::FixturePath(m.name));
    sink_ = CTestSink::Create(m.sink);
    ConnectSink(sink_);
    ASSERT_EQ(Control(graph_, &IMediaControl::Run), S_OK);
    // (The graph may still hold the completion of a cycle that reached the end: the new
    // sink's own end of stream is what counts.)
    EXPECT_TRUE(sink_->WaitEndOfStream(120000));
    EXPECT_EQ(Control(graph_, &IMediaControl::Stop), S_OK);
    Finish(&m);
    Judge(m, "ps", {&video, &audio});
}

// A source with two output pins and one streaming thread, as a demultiplexer: it delivers
// the samples of both pins in one given order, blocking wherever a pin's allocator is
// empty, then ends both streams.
class CTwoPinSource final : public CBaseFilter {
public:
    struct Step {
        int pin;
        size_t sample;
    };
    static CTwoPinSource* Create(testfilters::SourceConfig first, testfilters::SourceConfig second,
                                 std::vector<Step> order) {
        auto* filter = new (std::nothrow) CTwoPinSource(std::move(first), std::move(second), std::move(order));
        if (filter) filter->AddRef();
        return filter;
    }
    int GetPinCount() override { return 2; }
    CBasePin* GetPin(int n) override { return n >= 0 && n < 2 ? &pins_[n] : nullptr; }

    HRESULT STDMETHODCALLTYPE Pause() override {
        const bool start = IsStopped();
        const HRESULT hr = CBaseFilter::Pause();
        if (SUCCEEDED(hr) && start && !thread_.joinable()) thread_ = std::thread([this] { Stream(); });
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Stop() override {
        // Inactive decommits the allocators, which wakes the thread blocked on a buffer.
        const HRESULT hr = CBaseFilter::Stop();
        if (thread_.joinable()) thread_.join();
        return hr;
    }

private:
    class Pin final : public CBaseOutputPin {
    public:
        Pin(CBaseFilter* filter, CCritSec* lock, testfilters::SourceConfig config, const wchar_t* name)
            : CBaseOutputPin(L"two-pin source pin", filter, lock, nullptr, name), config_(std::move(config)) {}
        HRESULT CheckMediaType(const CMediaType* type) override { return *type == config_.type ? S_OK : S_FALSE; }
        HRESULT GetMediaType(int position, CMediaType* type) override {
            if (position < 0) return E_INVALIDARG;
            if (position > 0) return VFW_S_NO_MORE_ITEMS;
            *type = config_.type;
            return S_OK;
        }
        HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
            ALLOCATOR_PROPERTIES want = *request, got{};
            want.cBuffers = std::max<long>(want.cBuffers, 4);
            want.cbBuffer = std::max<long>(want.cbBuffer, 32768);
            want.cbAlign = std::max<long>(want.cbAlign, 1);
            const HRESULT hr = allocator->SetProperties(&want, &got);
            return FAILED(hr) ? hr : got.cbBuffer >= want.cbBuffer ? S_OK : E_FAIL;
        }
        // False once downstream or the allocator refuses (stopping).
        bool Send(size_t index) {
            const testfilters::SampleSpec& spec = config_.samples[index];
            IMediaSample* sample = nullptr;
            if (FAILED(GetDeliveryBuffer(&sample, nullptr, nullptr, 0))) return false;
            BYTE* data = nullptr;
            HRESULT hr = sample->GetPointer(&data);
            if (SUCCEEDED(hr) && spec.bytes.size() <= static_cast<size_t>(sample->GetSize())) {
                memcpy(data, spec.bytes.data(), spec.bytes.size());
                sample->SetActualDataLength(static_cast<long>(spec.bytes.size()));
                REFERENCE_TIME start = spec.start;
                sample->SetTime(spec.hasStart ? &start : nullptr, nullptr);
                sample->SetSyncPoint(spec.sync);
                hr = Deliver(sample);
            } else {
                hr = E_FAIL;
            }
            sample->Release();
            return SUCCEEDED(hr);
        }
        testfilters::SourceConfig config_;
    };

    CTwoPinSource(testfilters::SourceConfig first, testfilters::SourceConfig second, std::vector<Step> order)
        : CBaseFilter(L"two-pin source", nullptr, &lock_, GUID_NULL),
          pins_{{this, &lock_, std::move(first), L"Out0"}, {this, &lock_, std::move(second), L"Out1"}},
          order_(std::move(order)) {}
    ~CTwoPinSource() override {
        if (thread_.joinable()) thread_.join();
    }
    void Stream() {
        for (const Step& step : order_)
            if (!pins_[step.pin].Send(step.sample)) return;
        pins_[0].DeliverEndOfStream();
        pins_[1].DeliverEndOfStream();
    }

    CCritSec lock_;
    Pin pins_[2];
    std::vector<Step> order_;
    std::thread thread_;
};

// One thread of a two-pin source delivers more video than the filter's video pool holds
// before the first audio sample: the audio pin, never fed yet, does not hold the video
// for good (the thread blocked on the video pool could never bring its audio), and the
// output is complete.
TEST_F(VarrowGraphTest, TwoPinsOnOneUpstreamThreadFinish) {
    Watchdog dog(300000);
    Elementary video, audio;
    video.kind = "m2v";
    video.seconds = 16;
    ASSERT_TRUE(
        testsupport::MediaFixture("ffmpeg -f lavfi -i testsrc=size=352x288:rate=25 -t 16 -c:v mpeg2video "
                                  "-b:v 8M -minrate 8M -maxrate 8M -bufsize 1835008 -f mpeg2video {out}",
                                  "m2v", &video.path));
    video.bytes = testsupport::ReadFileBytes(video.path);
    ASSERT_GT(video.bytes.size(), 15000000u) << "the video must outgrow the filter's pool before any audio";
    ASSERT_TRUE(MakeElementary("mp2", &audio, 16));
    testfilters::SourceConfig v = SourceConfigOf(video), a = SourceConfigOf(audio);
    // The filter's video pool holds 12 s at the announced rate: 13 s of video come first,
    // then both streams by byte share.
    std::vector<CTwoPinSource::Step> order;
    const size_t lead = v.samples.size() * 13 / 16;
    for (size_t i = 0; i < lead; ++i)
        order.push_back({0, i});
    for (size_t i = lead, k = 0; i < v.samples.size() || k < a.samples.size();) {
        if (k < a.samples.size() && (i >= v.samples.size() || k * v.samples.size() <= i * a.samples.size()))
            order.push_back({1, k++});
        else
            order.push_back({0, i++});
    }
    CTwoPinSource* source = CTwoPinSource::Create(std::move(v), std::move(a), std::move(order));
    ASSERT_NE(source, nullptr);
    NewGraph();
    ASSERT_EQ(SetInt(config_, kParamOutput, 1), S_OK);
    ASSERT_EQ(graph_->AddFilter(source, L"two-pin source"), S_OK);
    for (int i = 0; i < 2; ++i) {
        IPin* out = FindPin(source, i == 0 ? L"Out0" : L"Out1");
        IPin* in = FindPin(filter_, i == 0 ? L"Input0" : L"Input1");
        ASSERT_TRUE(out && in);
        EXPECT_EQ(graph_->ConnectDirect(out, in, nullptr), S_OK);
        out->Release();
        in->Release();
        CompleteUnits(i == 0 ? L"Input0" : L"Input1");
    }
    Muxed m;
    m.name = testsupport::UniqueName("two_pins") + ".mpg";
    m.sink.dataFile = Wide(testsupport::FixturePath(m.name));
    sink_ = CTestSink::Create(m.sink);
    ASSERT_NE(sink_, nullptr);
    ConnectSink(sink_);
    ASSERT_EQ(Control(graph_, &IMediaControl::Run), S_OK);
    EXPECT_EQ(WaitForCompletion(graph_, 120000), S_OK) << "the never-fed audio held the blocked thread's video";
    EXPECT_EQ(Control(graph_, &IMediaControl::Stop), S_OK);
    Finish(&m);
    EXPECT_EQ(source->Release(), 0u);
    // Both streams whole: every picture and audio frame of the inputs is in the output.
    // (The audio comes a second of video late, so its first units are written after
    // their decoding time; the systems checker rejects that timing.)
    const muxertest::SystemsReport r = muxertest::CheckProgramStream(m.bytes, false);
    EXPECT_EQ(r.pesPackets.size(), 2u);
    std::string text;
    for (const char* map : {"0:v", "0:a"}) {
        const std::string copy = testsupport::UniqueName("two_pins_es");
        ASSERT_EQ(Shell("ffmpeg -nostdin -v error -i '" + m.name + "' -map " + map + " -c copy -f " +
                            (std::string(map) == "0:v" ? "mpeg2video " : "mp2 ") + copy,
                        &text),
                  0)
            << text;
        EXPECT_TRUE(testsupport::ReadFileBytes(testsupport::FixturePath(copy)) ==
                    (std::string(map) == "0:v" ? video.bytes : audio.bytes))
            << map << " is not the input byte for byte";
    }
}

TEST_F(VarrowGraphTest, FlushInMidStreamEndsAndResumes) {
    Watchdog dog(300000);
    Elementary video, audio;
    ASSERT_TRUE(MakeElementary("m2v", &video));
    ASSERT_TRUE(MakeElementary("mp2", &audio));
    Muxed m;
    // A slow sink holds the worker, so that the sources are still streaming at the flush.
    Build("ts", {&video, &audio}, &m, 20);
    ASSERT_EQ(Control(graph_, &IMediaControl::Run), S_OK);
    ASSERT_TRUE(sources_[0]->WaitDelivered(2, 20000));
    EXPECT_EQ(sources_[0]->FlushAndResume(4), S_OK);
    EXPECT_EQ(WaitForCompletion(graph_, 120000), S_OK);
    EXPECT_EQ(Control(graph_, &IMediaControl::Stop), S_OK);
    const auto counts = sink_->Counts();
    EXPECT_EQ(counts.beginFlushes, 1);
    EXPECT_EQ(counts.endFlushes, 1);
    EXPECT_EQ(counts.endOfStreams, 1);
    Finish(&m);
    // After the flush the streams go on: the file still holds both, and its structure holds.
    const muxertest::SystemsReport report = muxertest::CheckTransportStream(m.bytes);
    EXPECT_EQ(report.pesPackets.size(), 2u);
    std::string text;
    EXPECT_EQ(Shell("ffprobe -v error -show_entries stream=codec_name -of csv=p=0 '" + m.name + "'", &text), 0);
    EXPECT_NE(text.find("mpeg2video"), std::string::npos) << text;
    EXPECT_NE(text.find("mp2"), std::string::npos) << text;
}

TEST_F(VarrowGraphTest, H264IsRefusedForAProgramStream) {
    Elementary video;
    ASSERT_TRUE(MakeElementary("264", &video));
    NewGraph();
    ASSERT_EQ(SetInt(config_, kParamOutput, 1), S_OK);
    CTestPushSource* source = MakeSource(video);
    sources_.push_back(source);
    ASSERT_EQ(graph_->AddFilter(source, L"source"), S_OK);
    IPin* out = comtest::FindPinByDirection(source, PINDIR_OUTPUT);
    IPin* in = FindPin(filter_, L"Input0");
    EXPECT_TRUE(FAILED(graph_->ConnectDirect(out, in, nullptr)));
    IPin* peer = nullptr;
    EXPECT_EQ(in->ConnectedTo(&peer), VFW_E_NOT_CONNECTED);
    in->Release();
    out->Release();
    ASSERT_EQ(SetInt(config_, kParamOutput, 2), S_OK);
    out = comtest::FindPinByDirection(source, PINDIR_OUTPUT);
    in = FindPin(filter_, L"Input0");
    EXPECT_EQ(graph_->ConnectDirect(out, in, nullptr), S_OK);
    IKestruneConfigEx* stream = ConfigOf(in);
    EXPECT_EQ(GetInt(stream, kParamStreamType), 10);
    EXPECT_EQ(GetInt(stream, kParamAnnouncedRate), 3) << "25 frames per second";
    EXPECT_EQ(SetInt(config_, kParamOutput, 1), E_FAIL);
    stream->Release();
    in->Release();
    out->Release();
}

TEST_F(VarrowGraphTest, SeekingGoesUpstreamAndABadPacketSizeRefusesToStart) {
    Elementary video;
    ASSERT_TRUE(MakeElementary("m2v", &video));
    Muxed m;
    Build("ts", {&video}, &m);
    IPin* out = FindPin(filter_, L"Varrow Out");
    IMediaSeeking* seeking = nullptr;
    ASSERT_EQ(out->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&seeking)), S_OK);
    out->Release();
    // The test source offers no seeking: queries answer E_NOTIMPL, setters do nothing.
    LONGLONG duration = 0;
    EXPECT_EQ(seeking->GetDuration(&duration), E_NOTIMPL);
    EXPECT_EQ(seeking->SetRate(1.0), S_OK);
    seeking->Release();

    // A fixed PES size too small for the headers: the filter refuses to start, and stays
    // stopped, rather than writing a broken stream.
    IKestruneConfigEx* stream = Stream(L"Input0");
    ASSERT_NE(stream, nullptr);
    ASSERT_EQ(SetInt(stream, kParamPesPacketSize, 100), S_OK);
    EXPECT_TRUE(FAILED(filter_->Pause()));
    FILTER_STATE state = State_Running;
    EXPECT_EQ(filter_->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Stopped);
    ASSERT_EQ(SetInt(stream, kParamPesPacketSize, 0), S_OK);
    EXPECT_EQ(filter_->Pause(), S_OK);
    EXPECT_EQ(filter_->Stop(), S_OK);
    stream->Release();
}

// Persistence: the tree with its connected streams through a stream and the registry.
TEST_F(VarrowGraphTest, SettingsRoundTripThroughStreamAndRegistry) {
    Elementary video, audio;
    ASSERT_TRUE(MakeElementary("m2v", &video));
    ASSERT_TRUE(MakeElementary("mp2", &audio));
    Muxed m;
    Build("ts", {&video, &audio}, &m);
    ASSERT_EQ(SetInt(config_, kParamTransportStreamId, 77), S_OK);
    ASSERT_EQ(SetInt(config_, kParamOutputBufferSize, 65536), S_OK);
    IKestruneConfigEx* audioStream = Stream(L"Input1");
    ASSERT_NE(audioStream, nullptr);
    ASSERT_EQ(SetInt(audioStream, kParamPesPacketSize, 4000), S_OK);
    ASSERT_EQ(SetInt(audioStream, kParamStreamId, 0x345), S_OK);
    const int64_t audioPes = GetInt(audioStream, kParamStreamPesId);
    audioStream->Release();

    IStream* stream = nullptr;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
    ASSERT_EQ(config_->Save(stream, TRUE), S_OK);
    ASSERT_EQ(config_->SaveStreamToRegistry(HKEY_CURRENT_USER, "Software\\Kestrune Tollary\\VarrowTest"), S_OK);

    auto check = [&](IBaseFilter* copy) {
        IKestruneConfigEx* c = ConfigOf(copy);
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(GetInt(c, kParamTransportStreamId), 77);
        EXPECT_EQ(GetInt(c, kParamOutputBufferSize), 65536);
        IPin* pin = FindPin(copy, L"Input1");
        ASSERT_NE(pin, nullptr) << "the saved stream comes back on its pin number";
        IKestruneConfigEx* s = ConfigOf(pin);
        pin->Release();
        EXPECT_EQ(GetInt(s, kParamStreamType), 7);
        EXPECT_EQ(GetInt(s, kParamPesPacketSize), 4000);
        EXPECT_EQ(GetInt(s, kParamStreamId), 0x345);
        EXPECT_EQ(GetInt(s, kParamStreamPesId), audioPes);
        s->Release();
        c->Release();
    };
    IBaseFilter* fromStream = NewVarrow();
    IKestruneConfigEx* c1 = ConfigOf(fromStream);
    LARGE_INTEGER zero = {};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    EXPECT_EQ(c1->Load(stream), S_OK);
    c1->Release();
    check(fromStream);
    EXPECT_EQ(fromStream->Release(), 0u);

    IBaseFilter* fromRegistry = NewVarrow();
    IKestruneConfigEx* c2 = ConfigOf(fromRegistry);
    EXPECT_EQ(c2->LoadStreamFromRegistry(HKEY_CURRENT_USER, "Software\\Kestrune Tollary\\VarrowTest"), S_OK);
    c2->Release();
    check(fromRegistry);
    EXPECT_EQ(fromRegistry->Release(), 0u);
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Kestrune Tollary\\VarrowTest");

    // A new output kind reconnects downstream with its subtype.
    ASSERT_EQ(SetInt(config_, kParamOutput, 1), S_OK);
    IPin* sinkPin = comtest::FindPinByDirection(sink_, PINDIR_INPUT);
    AM_MEDIA_TYPE mt = {};
    ASSERT_EQ(sinkPin->ConnectionMediaType(&mt), S_OK);
    EXPECT_TRUE(mt.subtype == MEDIASUBTYPE_MPEG2_PROGRAM);
    FreeMediaType(mt);
    sinkPin->Release();

    // A damaged stream: wrong header, nothing but a fresh tree left, and a clear failure.
    IStream* bad = nullptr;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &bad), S_OK);
    const char junk[40] = "not a configuration stream";
    bad->Write(junk, sizeof junk, nullptr);
    bad->Seek(zero, STREAM_SEEK_SET, nullptr);
    IBaseFilter* damaged = NewVarrow();
    IKestruneConfigEx* c3 = ConfigOf(damaged);
    EXPECT_EQ(c3->Load(bad), E_FAIL);
    EXPECT_EQ(CountObjects(c3, kQueryNextProgram), 1);
    c3->Release();
    EXPECT_EQ(damaged->Release(), 0u);
    bad->Release();
    stream->Release();
}

}  // namespace
