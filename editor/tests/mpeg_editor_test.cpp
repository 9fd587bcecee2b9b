// The editing component through COM, as a host drives it: registration, the state rules
// of its interfaces, the three outputs, completion reported once per run with its status,
// the engine with separate lists, and runs that leave no thread or handle behind.
#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <tuple>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "editor/core/tests/host_fixtures.h"
#include "editor/core/tests/join_fixtures.h"
#include "editor/mpeg_editor_interfaces.h"
#include "filters/base/tests/com_test_util.h"
#include "filters/muxer/core/tests/systems_checker.h"
#include "tools/mpeg_join.h"
#include "editor/core/tests/ps_fixtures.h"

namespace {

using editor_test::Shell;

constexpr int64_t kSecond = 10000000;
constexpr DWORD kAllOnes = 0xFFFFFFFF;

std::string DvdClip(int tone) {
    return editor_test::Clip("pal-dvd", "720x576", "-bf 2 -g 12 -c:a mp2 -b:a 224k", tone);
}

DWORD Low(int64_t t) {
    return DWORD(uint64_t(t) & 0xFFFFFFFF);
}
LONG High(int64_t t) {
    return LONG(uint64_t(t) >> 32);
}

std::wstring ClsidKey() {
    return L"CLSID\\{4D3A5A43-DC49-4A8B-85DE-53E7C9885497}";
}

std::wstring ReadString(const std::wstring& path, const wchar_t* name) {
    return comtest::ClassesRootString(path, name);
}

// What the host hears of its runs.
struct Done {
    std::atomic<int> calls{0};
    std::atomic<int> status{-1};
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    // Called from the callback: what the host does there.
    void (*inCallback)(Done*) = nullptr;
    IMpegEditor* editor = nullptr;
    ~Done() { CloseHandle(event); }
    bool Wait(DWORD ms = 60000) { return WaitForSingleObject(event, ms) == WAIT_OBJECT_0; }
};

void CALLBACK OnDone(int status, void* user) {
    Done* d = static_cast<Done*>(user);
    d->status = status;
    ++d->calls;
    if (d->inCallback) d->inCallback(d);
    SetEvent(d->event);
}

// Every test holds the registration (parallel test processes register and remove the
// one class) and creates the object by class identifier, as a host does.
class Splicery : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(com_.hr));
        ASSERT_TRUE(lock_.Held());
        ASSERT_EQ(comtest::Regsvr32(dll_, false), 0);
        ASSERT_EQ(CoCreateInstance(CLSID_MpegEditor, nullptr, CLSCTX_INPROC_SERVER, IID_IMpegEditor,
                                   reinterpret_cast<void**>(&editor_)),
                  S_OK);
    }
    void TearDown() override {
        if (editor_) editor_->Release();
    }
    IMpegEditor2* Editor2() {
        IMpegEditor2* e2 = nullptr;
        EXPECT_EQ(editor_->QueryInterface(IID_IMpegEditor2, reinterpret_cast<void**>(&e2)), S_OK);
        if (e2) e2->Release();  // the test keeps editor_
        return e2;
    }
    HRESULT Add(const std::string& path, double in, double out) {
        return editor_->AddClip(path.c_str(), Low(int64_t(in * kSecond)), High(int64_t(in * kSecond)),
                                Low(int64_t(out * kSecond)), High(int64_t(out * kSecond)), TRUE);
    }

    comtest::ComScope com_;
    comtest::RegistrationLock lock_;
    const std::wstring dll_ = comtest::WinePath(SPLICERY_DLL);
    IMpegEditor* editor_ = nullptr;
};

TEST_F(Splicery, RegistersAndUnregisters) {
    EXPECT_EQ(ReadString(ClsidKey(), nullptr), kMpegEditorName);
    EXPECT_EQ(ReadString(ClsidKey() + L"\\InprocServer32", nullptr), dll_);
    EXPECT_EQ(ReadString(ClsidKey() + L"\\InprocServer32", L"ThreadingModel"), L"Both");
    CHECK_INTERFACES(editor_, IFACE_ROW(IID_IMpegEditor, true), IFACE_ROW(IID_IMpegEditor2, true),
                     IFACE_ROW(IID_IMpegEditorAudio, true), IFACE_ROW(IID_IMpegEditorHost, false),
                     IFACE_ROW(IID_IPersist, false));
    editor_->Release();
    editor_ = nullptr;
    ASSERT_EQ(comtest::Regsvr32(dll_, true), 0);
    EXPECT_EQ(ReadString(ClsidKey(), nullptr), L"<missing>");
    IMpegEditor* gone = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_MpegEditor, nullptr, CLSCTX_INPROC_SERVER, IID_IMpegEditor,
                               reinterpret_cast<void**>(&gone)),
              REGDB_E_CLASSNOTREG);
}

// The state rules and argument checks, step by step from a new object.
TEST_F(Splicery, StateRulesAndArguments) {
    const std::string a = DvdClip(300), b = DvdClip(500);
    const std::string junk = testsupport::FixturePath(testsupport::UniqueName("junk") + ".mpg");
    {
        std::FILE* f = std::fopen(junk.c_str(), "wb");
        ASSERT_TRUE(f);
        std::fputs("not a program stream", f);
        std::fclose(f);
    }
    const std::string longPath(300, 'x');
    IMpegEditorAudio* audio = nullptr;
    ASSERT_EQ(editor_->QueryInterface(IID_IMpegEditorAudio, reinterpret_cast<void**>(&audio)), S_OK);
    IMpegEditor* e = editor_;
    LONGLONG c = 0, t = 0;
    LONG n = -1, type = -1;
    char name[260];
    struct Step {
        const char* what;
        std::function<HRESULT()> call;
        HRESULT expected;
    };
    const std::vector<Step> steps = {
        {"AddClip before Initialize", [&] { return Add(a, 0, 1); }, E_FAIL},
        {"Stop before Initialize", [&] { return e->Stop(); }, E_FAIL},
        {"Pause before Initialize", [&] { return e->Pause(); }, E_FAIL},
        {"output type 0", [&] { return e->Initialize(0, 1); }, E_INVALIDARG},
        {"output type 5", [&] { return e->Initialize(5, 1); }, E_INVALIDARG},
        {"audio type 0", [&] { return e->Initialize(2, 0); }, E_INVALIDARG},
        {"audio type 5", [&] { return e->Initialize(2, 5); }, E_INVALIDARG},
        {"Initialize", [&] { return e->Initialize(2, 1); }, S_OK},
        {"Pause when not running", [&] { return e->Pause(); }, E_FAIL},
        {"Stop when not running", [&] { return e->Stop(); }, S_OK},
        {"GetProgress when not running", [&] { return e->GetProgress(&c, &t); }, E_FAIL},
        {"null audio format", [&] { return audio->SetAudioFormat(nullptr); }, E_INVALIDARG},
        {"output name too long", [&] { return e->SetOutputFileName(longPath.c_str()); }, E_INVALIDARG},
        {"clip path too long", [&] { return Add(longPath, 0, 1); }, E_INVALIDARG},
        {"null clip path", [&] { return e->AddClip(nullptr, 0, 0, kAllOnes, LONG(kAllOnes), TRUE); }, E_INVALIDARG},
        {"host segment without times", [&] { return e->AddClip(nullptr, kAllOnes, -1, kAllOnes, -1, FALSE); },
         E_INVALIDARG},
        {"host segment ending before it starts", [&] { return e->AddClip(nullptr, 10, 0, 5, 0, FALSE); }, E_INVALIDARG},
        {"video list segment ending before it starts",
         [&] { return Editor2()->AddVideoClip(nullptr, 10, 0, 5, 0, FALSE); }, E_INVALIDARG},
        {"audio list segment without room", [&] { return Editor2()->AddAudioClip(nullptr, 0, 0, 10, 0, FALSE, 0, 0); },
         E_OUTOFMEMORY},
        {"video list segment callback", [&] { return Editor2()->SetVideoSegmentCallback(nullptr, nullptr); }, S_OK},
        {"audio list segment callback", [&] { return Editor2()->SetAudioSegmentCallback(nullptr, nullptr); }, S_OK},
        {"no room yet", [&] { return Add(a, 0, 1); }, E_OUTOFMEMORY},
        {"room for one", [&] { return e->SetMaxClips(1); }, S_OK},
        {"not a program stream", [&] { return Add(junk, 0, 1); }, E_FAIL},
        {"first clip", [&] { return Add(a, 1, 3); }, S_OK},
        {"list full", [&] { return Add(b, 1, 3); }, E_OUTOFMEMORY},
        {"same types keep the list", [&] { return e->Initialize(2, 1); }, S_OK},
        {"still full", [&] { return Add(b, 1, 3); }, E_OUTOFMEMORY},
        {"other types discard it", [&] { return e->Initialize(1, 1); }, S_OK},
        {"room again", [&] { return Add(b, 1, 3); }, S_OK},
        {"no output file yet", [&] { return e->GetOutputFileName(0, name); }, E_FAIL},
        {"file count", [&] { return e->GetOutputFileCount(&n); }, S_OK},
        {"file type of a DVD clip", [&] { return e->GetFileType(a.c_str(), &type); }, S_OK},
        {"file type without out", [&] { return e->GetFileType(a.c_str(), nullptr); }, E_FAIL},
        {"time search in junk", [&] { return e->FindTime(junk.c_str(), 0, 0, 0, &c); }, E_FAIL},
        {"time search", [&] { return e->FindTime(a.c_str(), Low(3 * kSecond), 0, 0, &c); }, S_OK},
        {"sink without out pointers", [&] { return e->GetAudioSink(nullptr, nullptr); }, E_POINTER},
        {"video sink",
         [&] {
             SinkProc p = nullptr;
             void* x = nullptr;
             const HRESULT hr = e->GetVideoSink(&p, &x);
             // Outside a run the sink drops what it is given.
             return p && x && p(0, 0, reinterpret_cast<const BYTE*>("\0\0\1\xB3"), 4, x) ? hr : E_UNEXPECTED;
         },
         S_OK},
    };
    for (const Step& s : steps)
        EXPECT_EQ(s.call(), s.expected) << s.what;
    EXPECT_EQ(n, 0);
    EXPECT_EQ(type, 2);
    // Mode 0: the first GOP at or after the target (GOPs of 0.48 s).
    EXPECT_GE(c, 3 * kSecond);
    EXPECT_LT(c, 3 * kSecond + 4800000);
    audio->Release();
}

// A host output stream: collects the bytes, or refuses them.
class HostStream final : public IMpegEditorHost {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IMpegEditorHost) {
            *out = static_cast<IMpegEditorHost*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    HRESULT STDMETHODCALLTYPE Abort() override {
        ++aborts;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Write(const BYTE* data, LONG length, LONG* written) override {
        if (refuse) return E_FAIL;
        bytes.insert(bytes.end(), data, data + length);
        *written = length;
        return S_OK;
    }
    std::atomic<ULONG> refs{1};
    std::atomic<int> aborts{0};
    bool refuse = false;
    std::vector<uint8_t> bytes;
};

struct Collected {
    std::vector<uint8_t> bytes;
    int finals = 0;
};

BOOL CALLBACK Collect(const BYTE* data, LONG length, BOOL end, void* user) {
    Collected* c = static_cast<Collected*>(user);
    if (end)
        ++c->finals;
    else
        c->bytes.insert(c->bytes.end(), data, data + length);
    return TRUE;
}

// The same join to a file (split into parts), to a callback and to a host stream; the
// run is reported once with status 0, and the three carry the same bytes.
TEST_F(Splicery, FileCallbackAndHostStreamOutputs) {
    const std::string a = DvdClip(300), b = DvdClip(500);
    ASSERT_EQ(editor_->Initialize(2, 1), S_OK);
    ASSERT_EQ(editor_->SetMaxClips(2), S_OK);
    ASSERT_EQ(Add(a, 0.5, 4.5), S_OK);
    ASSERT_EQ(Add(b, 1.0, 5.0), S_OK);
    const std::string out = testsupport::FixturePath(testsupport::UniqueName("join") + ".mpg");
    ASSERT_EQ(editor_->SetOutputFileName(out.c_str()), S_OK);
    ASSERT_EQ(editor_->SetSplitSize(Low(1000000), 0), S_OK);
    Done done;
    ASSERT_EQ(editor_->Start(&OnDone, &done), S_OK);
    ASSERT_TRUE(done.Wait());
    EXPECT_EQ(done.status, kEditDone);
    LONG count = 0;
    ASSERT_EQ(editor_->GetOutputFileCount(&count), S_OK);
    ASSERT_GE(count, 2);
    std::vector<uint8_t> joined;
    for (LONG i = 0; i < count; ++i) {
        char part[260] = "";
        ASSERT_EQ(editor_->GetOutputFileName(i, part), S_OK);
        const std::vector<uint8_t> bytes = editor_test::ReadFile(part);
        EXPECT_FALSE(bytes.empty()) << part;
        EXPECT_EQ(Shell("ffmpeg -nostdin -v error -i '" + editor_test::FixtureName(part) + "' -f null -"), "") << part;
        EXPECT_EQ(muxertest::CheckProgramStream(bytes, false).error, "") << part;
        if (i == 0) {
            EXPECT_EQ(std::string(part), out);
        }
        joined.insert(joined.end(), bytes.begin(), bytes.end());
    }
    char part1[260] = "";
    ASSERT_EQ(editor_->GetOutputFileName(1, part1), S_OK);
    EXPECT_EQ(std::string(part1), out.substr(0, out.size() - 4) + ".0001.mpg");
    EXPECT_EQ(editor_->GetOutputFileName(count, part1), E_FAIL);

    // One output, to a callback and a host stream, with the name still stored: no file.
    ASSERT_EQ(editor_->SetSplitSize(0, 0), S_OK);
    const std::string unused = testsupport::FixturePath(testsupport::UniqueName("unused") + ".mpg");
    ASSERT_EQ(editor_->SetOutputFileName(unused.c_str()), S_OK);
    Collected collected;
    HostStream host;
    ASSERT_EQ(editor_->SetOutputCallback(&Collect, &collected), S_OK);
    ASSERT_EQ(editor_->SetOutputStream(&host), S_OK);
    EXPECT_EQ(host.refs, 2u);
    ASSERT_EQ(editor_->Start(&OnDone, &done), S_OK);
    ASSERT_TRUE(done.Wait());
    EXPECT_EQ(done.status, kEditDone);
    EXPECT_EQ(done.calls, 2);
    EXPECT_EQ(collected.finals, 1);
    // One part holds the join that the parts held, less their own ends.
    EXPECT_NEAR(double(collected.bytes.size()), double(joined.size()), 3 * 2048 * double(count));
    EXPECT_TRUE(collected.bytes == host.bytes);
    EXPECT_EQ(editor_test::ReadFile(unused).size(), 0u);
    ASSERT_EQ(editor_->GetOutputFileCount(&count), S_OK);
    EXPECT_EQ(count, 1);

    // A host stream that refuses the bytes fails the run: status 3, once.
    host.refuse = true;
    ASSERT_EQ(editor_->Start(&OnDone, &done), S_OK);
    ASSERT_TRUE(done.Wait());
    EXPECT_EQ(done.status, kEditFailed);
    EXPECT_EQ(done.calls, 3);
    ASSERT_EQ(editor_->SetOutputStream(nullptr), S_OK);
    EXPECT_EQ(host.refs, 1u);
}

// Sorted presentation times (90 kHz) of one stream of a file, as ffprobe reads them.
std::vector<int64_t> ShownTimes(const std::string& name, const char* stream) {
    const std::string csv = Shell("ffprobe -v error -select_streams " + std::string(stream) +
                                  " -show_entries packet=pts -of csv=p=0 '" + name + "'");
    std::vector<int64_t> times;
    size_t at = 0;
    while (at < csv.size()) {
        const size_t end = std::min(csv.find('\n', at), csv.size());
        const std::string line = csv.substr(at, end - at);
        if (!line.empty() && line[0] >= '0' && line[0] <= '9') times.push_back(std::stoll(line));
        at = end + 1;
    }
    std::sort(times.begin(), times.end());
    return times;
}

// A minute of a clip with three streams (MPEG-2 video, MPEG audio, AC-3) through the
// object: every picture the input stamps keeps its time and the audio its distance to the
// video, both streams run a minute in whole frames with every picture stamped, and the
// bytes are those the core writes for the same cut.
TEST_F(Splicery, AMinuteOfThreeStreamsIsTheCoresJoin) {
    std::string clip;
    ASSERT_TRUE(testsupport::MediaFixture(
        "ffmpeg -f lavfi -i testsrc=size=720x576:rate=25 -f lavfi -i sine=frequency=440:sample_rate=48000 -t 60 "
        "-map 0:v -map 1:a -map 1:a -target pal-dvd -aspect 4:3 -bf 2 -g 12 -c:a:0 mp2 -b:a:0 224k -c:a:1 ac3 "
        "{out}",
        "mpg", &clip));
    ASSERT_EQ(editor_->Initialize(2, 1), S_OK);
    ASSERT_EQ(editor_->SetMaxClips(1), S_OK);
    ASSERT_EQ(Add(clip, 0.0, 60.0), S_OK);
    const std::string out = testsupport::FixturePath(testsupport::UniqueName("minute") + ".mpg");
    ASSERT_EQ(editor_->SetOutputFileName(out.c_str()), S_OK);
    Done done;
    ASSERT_EQ(editor_->Start(&OnDone, &done), S_OK);
    ASSERT_TRUE(done.Wait(300000));
    EXPECT_EQ(done.status, kEditDone);
    const std::vector<uint8_t> bytes = editor_test::ReadFile(out);
    ASSERT_FALSE(bytes.empty());

    const std::string name = editor_test::FixtureName(out), input = editor_test::FixtureName(clip);
    EXPECT_EQ(Shell("ffmpeg -nostdin -v error -i '" + name + "' -f null -"), "");
    EXPECT_EQ(Shell("ffprobe -v warning '" + name + "'"), "");
    EXPECT_EQ(muxertest::CheckProgramStream(bytes, false).error, "");
    EXPECT_EQ(muxertest::FrameTimesFault(
                  Shell("ffprobe -v error -show_entries packet=stream_index,pts -of csv=p=0 '" + name + "'"),
                  {3600, 2160}, 60),
              "");
    const std::vector<int64_t> video = ShownTimes(name, "v:0"), source = ShownTimes(input, "v:0");
    const std::vector<int64_t> audio = ShownTimes(name, "a:0"), sourceAudio = ShownTimes(input, "a:0");
    // ffmpeg stamps 1299 of the 1500 pictures; each of those is one of ours, one offset on.
    EXPECT_EQ(video.size(), 1500u);
    ASSERT_GT(source.size(), 1000u);
    ASSERT_FALSE(audio.empty());
    ASSERT_FALSE(sourceAudio.empty());
    for (const int64_t t : source) {
        const int64_t want = t - source[0] + video[0];
        const auto found = std::lower_bound(video.begin(), video.end(), want - 1);
        ASSERT_TRUE(found != video.end() && *found <= want + 1) << "no picture at input time " << t;
    }
    EXPECT_NEAR(audio[0] - video[0], sourceAudio[0] - source[0], 2160);

    const std::string core = testsupport::FixturePath(testsupport::UniqueName("core") + ".mpg");
    const tools::JoinResult r = tools::RunJoin({"--type", "mpeg2", "-o", core, clip, "0.000", "60.000"});
    ASSERT_EQ(r.status, 0) << r.message;
    EXPECT_TRUE(editor_test::ReadFile(core) == bytes) << "the object's output differs from the core's";
}

// An SVCD join through the object keeps the system target decoder's rules, ffprobe reads
// it without a warning and vcdimager builds a disc of it.
TEST_F(Splicery, SvcdJoinPassesTheJudges) {
    const std::string a = editor_test::Clip("pal-svcd", "480x576", "", 300);
    const std::string b = editor_test::Clip("pal-svcd", "480x576", "", 500);
    ASSERT_EQ(editor_->Initialize(4, 1), S_OK);
    ASSERT_EQ(editor_->SetMaxClips(2), S_OK);
    ASSERT_EQ(Add(a, 1.3, 5.7), S_OK);
    ASSERT_EQ(Add(b, 2.1, 6.5), S_OK);
    const std::string out = testsupport::FixturePath(testsupport::UniqueName("svcd") + ".mpg");
    ASSERT_EQ(editor_->SetOutputFileName(out.c_str()), S_OK);
    Done done;
    ASSERT_EQ(editor_->Start(&OnDone, &done), S_OK);
    ASSERT_TRUE(done.Wait());
    EXPECT_EQ(done.status, kEditDone);
    const std::vector<uint8_t> bytes = editor_test::ReadFile(out);
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(bytes.size() % 2324, 0u);
    EXPECT_EQ(muxertest::CheckProgramStream(bytes, false).error, "");
    const std::string name = editor_test::FixtureName(out);
    EXPECT_EQ(Shell("ffprobe -v warning '" + name + "'"), "");
    const std::string said = Shell("vcdimager -t svcd -c '" + name + ".cue' -b '" + name + ".bin' '" + name + "'");
    EXPECT_EQ(said.find("exit "), std::string::npos) << said;
    EXPECT_EQ(said.find("ERR"), std::string::npos) << said;
}

BOOL CALLBACK Slow(const BYTE*, LONG, BOOL, void*) {
    Sleep(2);
    return TRUE;
}

// A long run: pause and resume, then Stop, reported once as stopped; a second Stop and
// the end of the run make no further report.
TEST_F(Splicery, PauseResumeAndStopReportOnce) {
    const std::string a = DvdClip(300);
    ASSERT_EQ(editor_->Initialize(2, 1), S_OK);
    ASSERT_EQ(editor_->SetMaxClips(6), S_OK);
    for (int i = 0; i < 6; ++i)
        ASSERT_EQ(Add(a, 0, 8), S_OK);
    ASSERT_EQ(editor_->SetOutputCallback(&Slow, nullptr), S_OK);
    Done done;
    ASSERT_EQ(editor_->Start(&OnDone, &done), S_OK);
    EXPECT_EQ(editor_->Start(&OnDone, &done), S_OK);  // already running: nothing new
    EXPECT_EQ(editor_->SetVideoRate(1000000), E_FAIL);
    EXPECT_EQ(editor_->SetMaxClips(3), E_FAIL);
    EXPECT_EQ(Add(a, 0, 1), E_FAIL);
    Sleep(100);
    ASSERT_EQ(editor_->Pause(), S_OK);
    EXPECT_EQ(editor_->Pause(), S_OK);
    LONGLONG current = 0, total = 0;
    ASSERT_EQ(editor_->GetProgress(&current, &total), S_OK);
    EXPECT_EQ(total, 6 * 8 * kSecond);
    ASSERT_EQ(editor_->Start(&OnDone, &done), S_OK);  // resumes
    Sleep(100);
    ASSERT_EQ(editor_->Stop(), S_OK);
    ASSERT_TRUE(done.Wait(5000));
    EXPECT_EQ(done.status, kEditStopped);
    EXPECT_EQ(editor_->Stop(), S_OK);
    Sleep(100);
    EXPECT_EQ(done.calls, 1);
}

// Releasing the object while it runs stops the run and joins its threads first: the
// host hears once that the run was stopped.
TEST_F(Splicery, ReleaseWhileRunningStopsFirst) {
    const std::string a = DvdClip(300);
    ASSERT_EQ(editor_->Initialize(2, 1), S_OK);
    ASSERT_EQ(editor_->SetMaxClips(4), S_OK);
    for (int i = 0; i < 4; ++i)
        ASSERT_EQ(Add(a, 0, 8), S_OK);
    ASSERT_EQ(editor_->SetOutputCallback(&Slow, nullptr), S_OK);
    Done done;
    ASSERT_EQ(editor_->Start(&OnDone, &done), S_OK);
    Sleep(100);
    EXPECT_EQ(editor_->Release(), 0u);
    editor_ = nullptr;
    // The run was over when Release returned.
    EXPECT_EQ(WaitForSingleObject(done.event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(done.calls, 1);
    EXPECT_EQ(done.status, kEditStopped);
}

// The host releases the object, or stops it, from inside its completion callback: no
// deadlock, one report.
TEST_F(Splicery, CallbackMayStopOrReleaseTheObject) {
    const std::string a = DvdClip(300);
    ASSERT_EQ(editor_->Initialize(2, 1), S_OK);
    ASSERT_EQ(editor_->SetMaxClips(1), S_OK);
    ASSERT_EQ(Add(a, 1, 2), S_OK);
    Collected sink;
    ASSERT_EQ(editor_->SetOutputCallback(&Collect, &sink), S_OK);
    for (const bool release : {false, true}) {
        Done done;
        done.editor = editor_;
        done.inCallback =
            release ? +[](Done* d) { d->editor->Release(); } : +[](Done* d) { EXPECT_EQ(d->editor->Stop(), S_OK); };
        ASSERT_EQ(editor_->Start(&OnDone, &done), S_OK);
        ASSERT_TRUE(done.Wait(20000)) << (release ? "release" : "stop");
        EXPECT_EQ(done.status, kEditDone);
        EXPECT_EQ(done.calls, 1);
    }
    editor_ = nullptr;  // released in the callback
}

// The engine with separate lists through IMpegEditor2: a video-only and an audio-only
// join, each with one stream, both decoding without a word.
TEST_F(Splicery, SeparateListsGiveVideoOnlyAndAudioOnlyJoins) {
    const std::string a = DvdClip(300), b = DvdClip(500);
    // Engine 1 exists with a clip of both streams: it must not run along.
    ASSERT_EQ(editor_->Initialize(2, 1), S_OK);
    ASSERT_EQ(editor_->SetMaxClips(1), S_OK);
    ASSERT_EQ(Add(a, 0, 2), S_OK);
    IMpegEditor2* e2 = Editor2();
    ASSERT_TRUE(e2);
    for (const bool video : {true, false}) {
        ASSERT_EQ(e2->SetMaxVideoClips(video ? 2 : 0), S_OK);
        ASSERT_EQ(e2->SetMaxAudioClips(video ? 0 : 2), S_OK);
        ASSERT_EQ(e2->Initialize(2, 1), S_OK);
        for (const auto& [path, in, out] : {std::tuple{a, 0.5, 3.5}, std::tuple{b, 1.0, 4.0}}) {
            const int64_t i = int64_t(in * kSecond), o = int64_t(out * kSecond);
            if (video)
                ASSERT_EQ(e2->AddVideoClip(path.c_str(), Low(i), High(i), Low(o), High(o), TRUE), S_OK);
            else
                ASSERT_EQ(e2->AddAudioClip(path.c_str(), Low(i), High(i), Low(o), High(o), TRUE, 0, 0), S_OK);
        }
        const std::string out = testsupport::FixturePath(testsupport::UniqueName("lists") + ".mpg");
        ASSERT_EQ(e2->SetOutputFileName(out.c_str()), S_OK);
        Done done;
        ASSERT_EQ(e2->Start(&OnDone, &done), S_OK);
        EXPECT_EQ(e2->Pause(), S_OK);  // engine 2 does not pause; the run goes on
        ASSERT_TRUE(done.Wait());
        EXPECT_EQ(done.status, kEditDone);
        const std::string name = editor_test::FixtureName(out);
        EXPECT_EQ(Shell("ffmpeg -nostdin -v error -i '" + name + "' -f null -"), "");
        EXPECT_EQ(editor_test::StreamKinds(name), video ? "video" : "audio");
    }
    // A failed run of engine 2 is reported once and returns to the initialised state.
    HostStream refusing;
    refusing.refuse = true;
    ASSERT_EQ(e2->SetOutputStream(&refusing), S_OK);
    Done failed;
    ASSERT_EQ(e2->Start(&OnDone, &failed), S_OK);
    ASSERT_TRUE(failed.Wait());
    EXPECT_EQ(failed.status, kEditFailed);
    EXPECT_EQ(e2->SetOutputStream(nullptr), S_OK);  // a guarded call: not running
    EXPECT_EQ(e2->AddAudioClip(a.c_str(), 0, 0, kAllOnes, LONG(kAllOnes), TRUE, 0, 0), E_OUTOFMEMORY);  // full
    EXPECT_EQ(failed.calls, 1);

    LONGLONG duration = 0;
    EXPECT_EQ(e2->ProbeClip(a.c_str(), &duration, 1), S_OK);
    EXPECT_NEAR(double(duration) / kSecond, 8.0, 0.1);
    EXPECT_EQ(e2->ProbeClip(nullptr, &duration, 1), E_FAIL);
}

// A host of host segments as the component sees it: it takes the two sinks from the
// object and renders when the engine asks, or stalls inside the segment, or refuses it.
struct SegmentHost {
    enum Mode { kRender, kStall, kRefuse };
    editor_test::Host host;
    Mode mode = kRender;
    bool renderVideo = true, renderAudio = true;  // the sinks this host renders through
    SinkProc video = nullptr, audio = nullptr;
    void* videoContext = nullptr;
    void* audioContext = nullptr;
    std::vector<std::pair<int64_t, int64_t>> asked;  // on the engine's walker thread only
    HANDLE askedEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);

    SegmentHost(IMpegEditor* editor, double seconds)
        : host(editor_test::HostVideo(seconds), editor_test::HostAudio(seconds)) {
        EXPECT_EQ(editor->GetVideoSink(&video, &videoContext), S_OK);
        EXPECT_EQ(editor->GetAudioSink(&audio, &audioContext), S_OK);
    }
    ~SegmentHost() {
        host.Join();
        CloseHandle(askedEvent);
    }
    static editor_test::HostSink Through(SinkProc proc, void* context) {
        return [proc, context](int64_t t, const uint8_t* d, size_t n) {
            EXPECT_TRUE(proc(Low(t), High(t), d, LONG(n), context));
        };
    }
};

BOOL CALLBACK OnSegment(DWORD inLow, LONG inHigh, DWORD outLow, LONG outHigh, void* user) {
    SegmentHost* h = static_cast<SegmentHost*>(user);
    const int64_t in = int64_t((uint64_t(uint32_t(inHigh)) << 32) | inLow);
    h->asked.emplace_back(in, int64_t((uint64_t(uint32_t(outHigh)) << 32) | outLow));
    SetEvent(h->askedEvent);
    switch (h->mode) {
        case SegmentHost::kRefuse:
            return FALSE;
        case SegmentHost::kStall:
            // Some pictures, then nothing more: the segment never ends by itself.
            for (size_t i = 0; i < 10 && i < h->host.samples.size(); ++i)
                h->video(Low(in + h->host.times[i]), High(in + h->host.times[i]), h->host.samples[i].data(),
                         LONG(h->host.samples[i].size()), h->videoContext);
            return TRUE;
        case SegmentHost::kRender: {
            const editor_test::HostSink none = [](int64_t, const uint8_t*, size_t) {};
            h->host.Render(h->renderVideo ? SegmentHost::Through(h->video, h->videoContext) : none,
                           h->renderAudio ? SegmentHost::Through(h->audio, h->audioContext) : none, in);
            return TRUE;
        }
    }
    return FALSE;
}

// File cut, host segment, file cut through the object: the host is asked once for the
// segment's times and renders it on its own threads through the object's sinks; the
// join decodes without a word and its time stamps run on across both joins.
TEST_F(Splicery, HostSegmentJoinsBetweenFileCuts) {
    const std::string a = DvdClip(300);
    SegmentHost h(editor_, 3);
    ASSERT_GT(h.host.samples.size(), 70u);
    ASSERT_EQ(editor_->Initialize(2, 1), S_OK);
    ASSERT_EQ(editor_->SetMaxClips(3), S_OK);
    ASSERT_EQ(Add(a, 1.3, 4.1), S_OK);
    ASSERT_EQ(editor_->AddClip(nullptr, Low(5 * kSecond), 0, Low(8 * kSecond), 0, FALSE), S_OK);
    ASSERT_EQ(Add(a, 0.5, 3.3), S_OK);
    const std::string out = testsupport::FixturePath(testsupport::UniqueName("segment") + ".mpg");
    ASSERT_EQ(editor_->SetOutputFileName(out.c_str()), S_OK);
    Done done;
    EXPECT_EQ(editor_->Start(&OnDone, &done), E_FAIL) << "a host segment with nobody to render it";
    ASSERT_EQ(editor_->SetSegmentCallback(&OnSegment, &h), S_OK);
    ASSERT_EQ(editor_->Start(&OnDone, &done), S_OK);
    ASSERT_TRUE(done.Wait());
    h.host.Join();
    EXPECT_EQ(done.status, kEditDone);
    EXPECT_EQ(done.calls, 1);
    ASSERT_EQ(h.asked.size(), 1u);
    EXPECT_EQ(h.asked[0], std::make_pair(5 * kSecond, 8 * kSecond));

    const std::string name = editor_test::FixtureName(out);
    EXPECT_EQ(Shell("ffmpeg -nostdin -v error -i '" + name + "' -f null -"), "");
    double duration = 0;
    ASSERT_NO_FATAL_FAILURE(editor_test::CheckTimeLine(out, 150, &duration));
    EXPECT_NEAR(duration, 2.8 + 3.0 + 2.8, 2 * 0.6);
}

// Engine 2 through the object, each list with a host segment of its own: video cut
// 1.3-4.1 s, a 3 s segment, cut 0.5-3.3 s; audio cut 0.5-3.5 s, a 3 s segment whose first
// 0.5 s is skipped, cut 1.0-3.6 s. Each host is asked once, renders through its own sink,
// and both streams run on across the joins.
TEST_F(Splicery, SeparateListsTakeHostSegments) {
    const std::string a = DvdClip(300), b = DvdClip(700);
    SegmentHost hv(editor_, 3), ha(editor_, 3);
    hv.renderAudio = false;
    ha.renderVideo = false;
    IMpegEditor2* e2 = Editor2();
    ASSERT_TRUE(e2);
    ASSERT_EQ(e2->SetMaxVideoClips(3), S_OK);
    ASSERT_EQ(e2->SetMaxAudioClips(3), S_OK);
    ASSERT_EQ(e2->Initialize(2, 1), S_OK);
    auto add = [&](bool video, const std::string& path, double in, double out, double skip) {
        const int64_t i = int64_t(in * kSecond), o = int64_t(out * kSecond), s = int64_t(skip * kSecond);
        const char* p = path.empty() ? nullptr : path.c_str();
        const BOOL file = path.empty() ? FALSE : TRUE;
        return video ? e2->AddVideoClip(p, Low(i), High(i), Low(o), High(o), file)
                     : e2->AddAudioClip(p, Low(i), High(i), Low(o), High(o), file, Low(s), High(s));
    };
    ASSERT_EQ(add(true, a, 1.3, 4.1, 0), S_OK);
    ASSERT_EQ(add(true, "", 5, 8, 0), S_OK);
    ASSERT_EQ(add(true, a, 0.5, 3.3, 0), S_OK);
    ASSERT_EQ(add(false, b, 0.5, 3.5, 0), S_OK);
    ASSERT_EQ(add(false, "", 2, 5, 0.5), S_OK);
    ASSERT_EQ(add(false, b, 1.0, 3.6, 0), S_OK);
    const std::string out = testsupport::FixturePath(testsupport::UniqueName("segments2") + ".mpg");
    ASSERT_EQ(e2->SetOutputFileName(out.c_str()), S_OK);
    ASSERT_EQ(e2->SetVideoSegmentCallback(&OnSegment, &hv), S_OK);
    Done done;
    EXPECT_EQ(e2->Start(&OnDone, &done), E_FAIL) << "an audio segment with nobody to render it";
    ASSERT_EQ(e2->SetAudioSegmentCallback(&OnSegment, &ha), S_OK);
    ASSERT_EQ(e2->Start(&OnDone, &done), S_OK);
    ASSERT_TRUE(done.Wait());
    hv.host.Join();
    ha.host.Join();
    EXPECT_EQ(done.status, kEditDone);
    EXPECT_EQ(done.calls, 1);
    ASSERT_EQ(hv.asked.size(), 1u);
    EXPECT_EQ(hv.asked[0], std::make_pair(5 * kSecond, 8 * kSecond));
    ASSERT_EQ(ha.asked.size(), 1u);
    EXPECT_EQ(ha.asked[0], std::make_pair(2 * kSecond, 5 * kSecond));

    const std::string name = editor_test::FixtureName(out);
    EXPECT_EQ(Shell("ffmpeg -nostdin -v error -i '" + name + "' -f null -"), "");
    EXPECT_EQ(editor_test::StreamKinds(name), "video audio");
    for (const char* kind : {"v", "a"}) {
        SCOPED_TRACE(kind);
        std::vector<int64_t> pts;
        for (const auto& p : editor_test::ProbePackets(out, kind))
            if (p.hasPts) pts.push_back(p.pts);
        ASSERT_GT(pts.size(), 150u);
        std::sort(pts.begin(), pts.end());
        const int64_t step = kind[0] == 'v' ? 3600 : 2160;  // one picture, one MPEG audio frame
        for (size_t i = 1; i < pts.size(); ++i)
            ASSERT_TRUE(pts[i] > pts[i - 1] && pts[i] - pts[i - 1] <= step) << pts[i - 1] << " -> " << pts[i];
        const double seconds = double(pts.back() + step - pts.front()) / 90000.0;
        if (kind[0] == 'v')
            EXPECT_NEAR(seconds, 2.8 + 3.0 + 2.8, 2 * 0.6);
        else
            EXPECT_NEAR(seconds, 3.0 + 2.5 + 2.6, 0.1);
    }
}

// Stop while the host sits inside a segment that never ends returns and is reported
// once as stopped; the sinks then return at once. A host that refuses its segment fails
// the run, reported once.
TEST_F(Splicery, StopDuringAHostSegment) {
    const std::string a = DvdClip(300);
    for (const SegmentHost::Mode mode : {SegmentHost::kStall, SegmentHost::kRefuse}) {
        SCOPED_TRACE(int(mode));
        SegmentHost h(editor_, 1);
        h.mode = mode;
        ASSERT_GE(h.host.samples.size(), 10u);
        ASSERT_EQ(editor_->Initialize(2, 1), S_OK);
        ASSERT_EQ(editor_->SetMaxClips(2), S_OK);
        ASSERT_EQ(Add(a, 0, 2), S_OK);
        ASSERT_EQ(editor_->AddClip(nullptr, 0, 0, Low(3 * kSecond), 0, FALSE), S_OK);
        Collected sink;
        ASSERT_EQ(editor_->SetOutputCallback(&Collect, &sink), S_OK);
        ASSERT_EQ(editor_->SetSegmentCallback(&OnSegment, &h), S_OK);
        Done done;
        ASSERT_EQ(editor_->Start(&OnDone, &done), S_OK);
        ASSERT_EQ(WaitForSingleObject(h.askedEvent, 60000), WAIT_OBJECT_0);
        if (mode == SegmentHost::kStall) {
            Sleep(200);
            EXPECT_EQ(WaitForSingleObject(done.event, 0), WAIT_TIMEOUT) << "the run waits for the segment";
            // A bound against a hang, far above the time a stop takes.
            const ULONGLONG t0 = GetTickCount64();
            ASSERT_EQ(editor_->Stop(), S_OK);
            EXPECT_LT(GetTickCount64() - t0, 10000u);
            ASSERT_TRUE(done.Wait(10000));
            EXPECT_EQ(done.status, kEditStopped);
            h.video(0, 0, h.host.samples[0].data(), LONG(h.host.samples[0].size()), h.videoContext);
            h.audio(0, 0, h.host.audio.data(), 1000, h.audioContext);
        } else {
            ASSERT_TRUE(done.Wait());
            EXPECT_EQ(done.status, kEditFailed);
        }
        EXPECT_EQ(editor_->Stop(), S_OK);
        Sleep(100);
        EXPECT_EQ(done.calls, 1);
        EXPECT_EQ(h.asked.size(), 1u);
        // Other types give the next case a new, empty list.
        ASSERT_EQ(editor_->Initialize(1, 1), S_OK);
    }
}

int ThreadCount() {
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snap == INVALID_HANDLE_VALUE) return -1;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    int n = 0;
    for (BOOL ok = Thread32First(snap, &entry); ok; ok = Thread32Next(snap, &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++n;
    CloseHandle(snap);
    return n;
}

// Open handles of the process, counted by asking after every handle value in use
// (GetProcessHandleCount is not answered under Wine).
int HandleCount() {
    int n = 0;
    DWORD flags = 0;
    for (UINT_PTR v = 4; v <= 65536; v += 4)
        if (GetHandleInformation(reinterpret_cast<HANDLE>(v), &flags)) ++n;
    return n;
}

// Twenty runs on one object leave the process with the threads and handles it had after
// a few. (Wine and the threads library keep a few of their own for later use, so the
// measure is growth with the number of runs: a leak per run shows as twenty.)
TEST_F(Splicery, TwentyRunsLeaveNoThreadOrHandle) {
    const std::string a = DvdClip(300);
    Collected sink;
    auto runs = [&](IMpegEditor* e, int n) {
        ASSERT_EQ(e->Initialize(2, 1), S_OK);
        ASSERT_EQ(e->SetMaxClips(1), S_OK);
        ASSERT_EQ(e->AddClip(a.c_str(), Low(kSecond), 0, Low(2 * kSecond), 0, TRUE), S_OK);
        ASSERT_EQ(e->SetOutputCallback(&Collect, &sink), S_OK);
        Done done;
        for (int i = 0; i < n; ++i) {
            ASSERT_EQ(e->Start(&OnDone, &done), S_OK);
            ASSERT_TRUE(done.Wait());
            ASSERT_EQ(done.status, kEditDone);
        }
        EXPECT_EQ(done.calls, n);
    };
    runs(editor_, 5);  // the first runs load what stays loaded
    editor_->Release();
    editor_ = nullptr;
    Sleep(200);
    const int handles0 = HandleCount();
    const int threads0 = ThreadCount();
    ASSERT_EQ(CoCreateInstance(CLSID_MpegEditor, nullptr, CLSCTX_INPROC_SERVER, IID_IMpegEditor,
                               reinterpret_cast<void**>(&editor_)),
              S_OK);
    runs(editor_, 20);
    editor_->Release();
    editor_ = nullptr;
    Sleep(200);
    EXPECT_GT(handles0, 0);
    EXPECT_LE(HandleCount(), handles0 + 3);
    EXPECT_LE(ThreadCount(), threads0 + 1);
}

}  // namespace
