// The DV capture engine driving the simulated camcorder under the system's DirectShow:
// device discovery by friendly name, recordings ended by time and size limits, a batch of
// segments, a quick scan over a tape with cuts, and the ends a user or the deck can force
// (stop, abort, unplugging). Files are judged by ffprobe and by the time codes of their
// frames.
#include <windows.h>
#include <edevdefs.h>
#include <vfwmsgs.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "engines/dv/dv_avi_writer.h"
#include "engines/dv/dv_frame.h"
#include "engines/dv_camcorder/camcorder_ids.h"
#include "engines/dv_engine/h264_encode.h"
#include "engines/interfaces.h"
#include "engines/tests/dv_deck_support.h"
#include "engines/tests/registered.h"
#include "filters/base/tests/com_test_util.h"
#include "tests/support/ffprobe.h"
#include "tests/support/media_fixture.h"
#include "tests/support/shell.h"

namespace {

using enginetest::FrameTimecodes;
using enginetest::kFastDeck;
using enginetest::ProbeSeconds;
using enginetest::Registered;
using enginetest::SetDeck;

// A tape of three scenes, 6 s each, starting at 00:01:00:00, recorded 2021-03-04 05:06:07.
const char* kTape =
    "ffmpeg -filter_complex \"testsrc=s=720x576:r=25:d=6,format=yuv420p[a];smptebars=s=720x576:r=25:d=6,"
    "format=yuv420p[b];mandelbrot=s=720x576:r=25,trim=duration=6,format=yuv420p[c];[a][b][c]concat=n=3:v=1:a=0\" "
    "-f lavfi -i sine=sample_rate=48000:duration=18 -c:v dvvideo -c:a pcm_s16le -ac 2 -timecode 00:01:00:00 "
    "-metadata creation_time=2021-03-04T05:06:07Z -f dv {out}";

struct Notice {
    UINT_PTR code;
    UINT_PTR param;
    std::string text;
    std::vector<uint8_t> bytes;
    DWORD thread;
};

std::mutex g_lock;
std::vector<Notice> g_notices;

void CALLBACK OnNotice(UINT_PTR, UINT_PTR code, UINT_PTR param, UINT_PTR) {
    Notice n{code, param, {}, {}, GetCurrentThreadId()};
    if (param && (code == engines::WM_REC_FINISH || code == engines::WM_REC_FAILED ||
                  code == engines::WM_NON_REALTIME_ENCODE || code == engines::WM_NON_REALTIME_REC_FINISH))
        n.text = reinterpret_cast<const char*>(param);
    if (param && code == engines::WM_QUICK_SCAN_SAMPLE) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(param);
        n.bytes.assign(bytes, bytes + 32);
    }
    std::lock_guard<std::mutex> hold(g_lock);
    g_notices.push_back(std::move(n));
}

std::vector<Notice> Notices() {
    std::lock_guard<std::mutex> hold(g_lock);
    return g_notices;
}

// Waits until `count` notices of `code` arrived, for at most `ms`.
bool WaitFor(UINT_PTR code, size_t count, DWORD ms) {
    const DWORD until = GetTickCount() + ms;
    for (;;) {
        size_t seen = 0;
        for (const Notice& n : Notices())
            seen += n.code == code;
        if (seen >= count) return true;
        if (LONG(until - GetTickCount()) <= 0) return false;
        Sleep(20);
    }
}

std::string PathOf(const Notice& n) {
    return n.text;
}

class DvEngine : public ::testing::Test {
protected:
    // The deck and the engine are registered once for the program: each registration and
    // removal is a regsvr32 process, seconds of a loaded machine, and no test changes them.
    static void SetUpTestSuite() {
        deck_ = std::make_unique<Registered>(DV_CAMCORDER_DLL);
        engine_ = std::make_unique<Registered>(DV_CAPTURE_DLL);
    }
    static void TearDownTestSuite() {
        engine_.reset();
        deck_.reset();
    }
    void SetUp() override {
        ASSERT_TRUE(deck_ && deck_->Ok());
        ASSERT_TRUE(engine_ && engine_->Ok());
        ASSERT_TRUE(testsupport::MediaFixture(kTape, "dv", &tape_));
        SetDeck(tape_, 1);
        {
            std::lock_guard<std::mutex> hold(g_lock);
            g_notices.clear();
        }
        ASSERT_EQ(CoCreateInstance(CLSID_SystemLayerDV, nullptr, CLSCTX_INPROC_SERVER, IID_ISystemLayerDV,
                                   reinterpret_cast<void**>(&dv_)),
                  S_OK);
        ASSERT_EQ(dv_->Initialize(), S_OK);
        ASSERT_EQ(dv_->SetCallback(OnNotice), S_OK);
    }
    void TearDown() override {
        if (dv_) {
            dv_->Uninitialize();
            dv_->Release();
        }
        SetDeck(tape_, 1);
    }
    HRESULT Open() {
        const std::string name = "Simulated DV Camcorder";
        return dv_->OpenDevice(name.c_str());
    }
    // Capture parameters for plain DV into `path`.
    engines::CaptureParams Params(const std::string& path) {
        engines::CaptureParams p{};
        p.encoderType = engines::kEncoderDv;
        strncpy(p.outputPath, path.c_str(), sizeof p.outputPath - 1);
        return p;
    }
    // Waits until the deck's time code is `frames` on from where it stands now (`rate`
    // frames a second), for at most 10 seconds: that much tape played, however busy the
    // machine is.
    bool PlayedFrames(int64_t frames, int rate) {
        DWORD tc = 0;
        if (dv_->GetTimecode(&tc) != S_OK) return false;
        const int64_t until = dv::Timecode::Unpack(tc).ToFrames(rate) + frames;
        const DWORD end = GetTickCount() + 10000;
        for (;;) {
            Sleep(20);
            if (dv_->GetTimecode(&tc) != S_OK) return false;
            if (dv::Timecode::Unpack(tc).ToFrames(rate) >= until) return true;
            if (LONG(end - GetTickCount()) <= 0) return false;
        }
    }
    // Winds the tape back to its start, where the deck stops, and plays it: a recording then
    // has the whole tape before it, however long the checks before it took.
    bool PlayFromStart() {
        dv_->Rewind();  // a deck already at the start may stop before the wind is seen
        const DWORD end = GetTickCount() + 10000;
        DWORD mode = 0;
        while (dv_->GetTransportMode(&mode) == S_OK && mode != DWORD(engines::kTransportStop)) {
            if (LONG(end - GetTickCount()) <= 0) return false;
            Sleep(20);
        }
        return mode == DWORD(engines::kTransportStop) && dv_->Play() == S_OK;
    }
    std::string Scratch(const char* stem) { return testsupport::FixturePath(testsupport::UniqueName(stem) + ".avi"); }
    // A batch segment record from `in` to `out` into files named after `captureFile`.
    HRESULT AddSegment(const dv::Timecode& in, const dv::Timecode& out, const std::string& captureFile) {
        std::vector<BYTE> record(engines::kSegmentRecordBytes, 0);
        memcpy(&record[8], &in, 4);
        memcpy(&record[40], &out, 4);
        strncpy(reinterpret_cast<char*>(&record[engines::kSegmentHeaderBytes + 4]), captureFile.c_str(),
                engines::kCaptureTextBytes - 1);
        return dv_->AddBatchSegment(record.data());
    }

    comtest::ComScope com_;
    static inline std::unique_ptr<Registered> deck_, engine_;
    std::string tape_;
    ISystemLayerDV* dv_ = nullptr;
};

TEST_F(DvEngine, FindsTheSimulatedDeckByNameAndReportsItsState) {
    char name[128] = {};
    bool found = false;
    HRESULT hr = S_OK;
    for (DWORD i = 0; i < 32 && hr == S_OK; ++i) {
        hr = dv_->EnumDevice(i, name, sizeof name);
        ASSERT_GE(hr, 0) << i;
        found = found || strcmp(name, "Simulated DV Camcorder") == 0;
    }
    EXPECT_EQ(hr, S_FALSE);  // the last device says so
    EXPECT_TRUE(found);
    EXPECT_LT(dv_->EnumDevice(64, name, sizeof name), 0);
    EXPECT_EQ(dv_->OpenDevice("No such deck"), VFW_E_NOT_FOUND);
    DWORD mode = 0;
    EXPECT_EQ(dv_->GetTransportMode(&mode), VFW_E_NOT_CONNECTED);

    ASSERT_EQ(Open(), S_OK);
    EXPECT_TRUE(WaitFor(engines::WM_DEVICE_CHANGED, 1, 2000));
    DWORD tape = 0, status = 0;
    ASSERT_EQ(dv_->GetMediaStatus(&tape, &status), S_OK);
    EXPECT_EQ(tape, 1u);
    ASSERT_EQ(dv_->GetDeviceMode(&mode), S_OK);
    EXPECT_EQ(mode, 2u);  // a tape deck
    DWORD tc = 0;
    ASSERT_EQ(dv_->GetTimecode(&tc), S_OK);
    EXPECT_EQ(tc, (dv::Timecode{0, 1, 0, 0}.Packed()));

    // Transport: play moves the time code on in real time; pause freezes it.
    ASSERT_EQ(dv_->Play(), S_OK);
    ASSERT_EQ(dv_->GetTransportMode(&mode), S_OK);
    EXPECT_EQ(mode, DWORD(engines::kTransportPlay));
    Sleep(1000);
    ASSERT_EQ(dv_->Pause(), S_OK);
    ASSERT_EQ(dv_->GetTransportMode(&mode), S_OK);
    EXPECT_EQ(mode, DWORD(engines::kTransportFreeze));
    ASSERT_EQ(dv_->GetTimecode(&tc), S_OK);
    const int64_t played = dv::Timecode::Unpack(tc).ToFrames(25) - dv::Timecode{0, 1, 0, 0}.ToFrames(25);
    EXPECT_GT(played, 15);
    EXPECT_LT(played, 40);
    ASSERT_EQ(dv_->StepForward(), S_OK);
    DWORD stepped = 0;
    ASSERT_EQ(dv_->GetTimecode(&stepped), S_OK);
    EXPECT_EQ(dv::Timecode::Unpack(stepped).ToFrames(25), dv::Timecode::Unpack(tc).ToFrames(25) + 1);
    float rate = 0;
    ASSERT_EQ(dv_->GetFrameRate(&rate), S_OK);
    EXPECT_EQ(rate, 25.0f);

    // Seeking by time code, backwards and forwards, lands on the frame.
    std::vector<HRESULT> seekEnds;
    const auto lastEnd = [] {
        HRESULT end = E_UNEXPECTED;
        for (const Notice& n : Notices())
            if (n.code == engines::WM_DV_ERROR) end = HRESULT(n.param);
        return end;
    };
    for (const dv::Timecode target : {dv::Timecode{0, 1, 0, 10}, dv::Timecode{0, 1, 12, 3}}) {
        ASSERT_EQ(dv_->SeekTimecode(target.Packed()), S_OK);
        const DWORD until = GetTickCount() + 15000;
        do {
            Sleep(50);
            ASSERT_EQ(dv_->GetTimecode(&tc), S_OK);
        } while (tc != target.Packed() && LONG(until - GetTickCount()) > 0);
        EXPECT_EQ(tc, target.Packed());
        ASSERT_TRUE(WaitFor(engines::WM_DV_ERROR, seekEnds.size() + 1, 2000)) << "each seek's end is noticed";
        seekEnds.push_back(lastEnd());
    }
    // A time code past the tape's end winds to the end and is noticed as not on the tape.
    ASSERT_EQ(dv_->SeekTimecode(dv::Timecode{0, 5, 0, 0}.Packed()), S_OK);
    ASSERT_TRUE(WaitFor(engines::WM_DV_ERROR, 3, 30000));
    seekEnds.push_back(lastEnd());
    EXPECT_EQ(seekEnds, (std::vector<HRESULT>{S_OK, S_OK, engines::kSeekNotOnTape}));
    EXPECT_TRUE(WaitFor(engines::kSeekBegun, 3, 1000));
    // Every notice came on one thread, the engine's own.
    const std::vector<Notice> notices = Notices();
    ASSERT_FALSE(notices.empty());
    for (const Notice& n : notices) {
        EXPECT_EQ(n.thread, notices.front().thread);
        EXPECT_NE(n.thread, GetCurrentThreadId());
    }
}

// The application pauses the deck when told that a seek began: its commands during the seek
// neither fail nor end the seek, whose own end is the only error notice; ending the seek
// leaves the deck paused where it stood.
TEST_F(DvEngine, CommandsDuringASeekLeaveItAndEndingItPausesTheDeck) {
    ASSERT_EQ(Open(), S_OK);
    const auto errors = [] {
        std::vector<HRESULT> found;
        for (const Notice& n : Notices())
            if (n.code == engines::WM_DV_ERROR) found.push_back(HRESULT(n.param));
        return found;
    };
    const dv::Timecode target{0, 1, 12, 3};
    ASSERT_EQ(dv_->SeekTimecode(target.Packed()), S_OK);
    ASSERT_TRUE(WaitFor(engines::kSeekBegun, 1, 5000));
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(dv_->Pause(), S_OK) << i;
        Sleep(30);
    }
    ASSERT_TRUE(WaitFor(engines::WM_DV_ERROR, 1, 30000));
    DWORD tc = 0;
    ASSERT_EQ(dv_->GetTimecode(&tc), S_OK);
    EXPECT_EQ(tc, target.Packed());
    EXPECT_EQ(errors(), std::vector<HRESULT>{S_OK});

    // Ended while winding back to the tape's start: paused, the time code holding still,
    // and no end notice for a seek the caller ended.
    ASSERT_EQ(dv_->SeekTimecode(dv::Timecode{0, 1, 0, 0}.Packed()), S_OK);
    ASSERT_TRUE(WaitFor(engines::kSeekBegun, 2, 5000));
    Sleep(100);
    ASSERT_EQ(dv_->EndSeek(), S_OK);
    DWORD mode = 0;
    ASSERT_EQ(dv_->GetTransportMode(&mode), S_OK);
    EXPECT_EQ(mode, DWORD(engines::kTransportFreeze));
    ASSERT_EQ(dv_->GetTimecode(&tc), S_OK);
    Sleep(300);
    DWORD later = 0;
    ASSERT_EQ(dv_->GetTimecode(&later), S_OK);
    EXPECT_EQ(later, tc);
    EXPECT_EQ(errors().size(), 1u);
}

// A camcorder in camera mode: the engine reports it as such, records its live picture and
// the camera refuses to wind.
TEST_F(DvEngine, ACameraInCameraModeRecordsItsLivePicture) {
    SetDeck(tape_, 1, 0, 1, kFastDeck);
    ASSERT_EQ(Open(), S_OK);
    DWORD mode = 0;
    ASSERT_EQ(dv_->GetDeviceMode(&mode), S_OK);
    EXPECT_EQ(mode, 1u);
    const std::string out = Scratch("camera");
    const engines::CaptureParams params = Params(out);
    ASSERT_EQ(dv_->SetEncoderType(&params), S_OK);
    ASSERT_EQ(dv_->SetTimeLimit(dv::Timecode{0, 0, 2, 0}.Packed()), S_OK);
    ASSERT_EQ(dv_->Play(), S_OK);
    ASSERT_EQ(dv_->StartRecord(), S_OK);
    ASSERT_TRUE(WaitFor(engines::WM_REC_FINISH, 1, 10000));
    EXPECT_EQ(FrameTimecodes(out).size(), 50u);
    EXPECT_LT(dv_->FastForward(), 0);
}

TEST_F(DvEngine, TheTimeLimitEndsATenSecondRecordingWithContinuousTimeCodes) {
    SetDeck(tape_, 1, 0, 0, kFastDeck);
    ASSERT_EQ(Open(), S_OK);
    const std::string out = Scratch("ten");
    const engines::CaptureParams params = Params(out);
    ASSERT_EQ(dv_->SetEncoderType(&params), S_OK);
    ASSERT_EQ(dv_->SetTimeLimit(dv::Timecode{0, 0, 10, 0}.Packed()), S_OK);
    ASSERT_EQ(dv_->Play(), S_OK);
    ASSERT_EQ(dv_->StartRecord(), S_OK);
    ASSERT_TRUE(WaitFor(engines::WM_REC_FINISH, 1, 20000));
    std::vector<Notice> notices = Notices();
    ASSERT_TRUE(WaitFor(engines::WM_REC_START, 1, 0));
    std::string finished;
    for (const Notice& n : notices)
        if (n.code == engines::WM_REC_FINISH) finished = PathOf(n);
    EXPECT_EQ(finished, out);
    EXPECT_NEAR(ProbeSeconds(out), 10.0, 0.04);
    const std::vector<int64_t> codes = FrameTimecodes(out);
    ASSERT_EQ(codes.size(), 250u);
    for (size_t i = 1; i < codes.size(); ++i)
        ASSERT_EQ(codes[i], codes[i - 1] + 1) << i;
    EXPECT_EQ(dv_->StopRecord(), S_FALSE);  // already ended by the limit
}

// The H.264 type records DV and encodes it afterwards through our encoder and multiplexer
// filters; with the non-realtime option the application hears of both phases.
TEST_F(DvEngine, TheH264TypeEncodesTheRecordingAfterwards) {
    comtest::RegistrationLock lock;
    enginetest::NamedLock muxerLock(enginetest::kMuxerRegistrationLock);
    ASSERT_TRUE(lock.Held() && muxerLock.Held());
    SetDeck(tape_, 1, 0, 0, kFastDeck);
    ASSERT_EQ(Open(), S_OK);
    const std::string out = testsupport::FixturePath(testsupport::UniqueName("h264") + ".mpg");
    engines::CaptureParams params = Params(out);
    params.encoderType = engines::kEncoderH264;
    ASSERT_EQ(dv_->SetEncoderType(&params), S_OK);
    comtest::Regsvr32(comtest::WinePath(OMBRISK_AX), true);
    EXPECT_EQ(dv_->StartRecord(), REGDB_E_CLASSNOTREG);  // nothing is recorded without the encoder
    EXPECT_FALSE(WaitFor(engines::WM_REC_START, 1, 0));
    Registered encoder(OMBRISK_AX), muxer(VARROW_AX);
    ASSERT_TRUE(encoder.Ok() && muxer.Ok());
    ASSERT_EQ(dv_->SetOptions(1 | 4), S_OK);
    ASSERT_EQ(dv_->SetTimeLimit(dv::Timecode{0, 0, 2, 0}.Packed()), S_OK);
    ASSERT_EQ(dv_->Play(), S_OK);
    ASSERT_EQ(dv_->StartRecord(), S_OK);
    ASSERT_TRUE(WaitFor(engines::WM_NON_REALTIME_REC_FINISH, 1, 90000));
    std::vector<UINT_PTR> codes;
    for (const Notice& n : Notices()) {
        if (n.code == engines::WM_NON_REALTIME_ENCODE || n.code == engines::WM_NON_REALTIME_REC_FINISH) {
            EXPECT_EQ(PathOf(n), out);
        }
        if (n.code == engines::WM_DV_ERROR) ADD_FAILURE() << std::hex << n.param;
        if (n.code != engines::WM_DEVICE_CHANGED) codes.push_back(n.code);
        EXPECT_NE(n.thread, GetCurrentThreadId());
    }
    EXPECT_EQ(codes, (std::vector<UINT_PTR>{engines::WM_REC_START, engines::WM_NON_REALTIME_ENCODE,
                                            engines::WM_NON_REALTIME_REC_FINISH}));
    DWORD done = 0, total = 0;
    ASSERT_EQ(dv_->GetEncodeProgress(&done, &total), S_OK);
    EXPECT_EQ(total, 50u);
    EXPECT_EQ(done, total);
    // The DV recording was only the encoder's input.
    EXPECT_EQ(GetFileAttributesA((out + ".capture.avi").c_str()), INVALID_FILE_ATTRIBUTES);
    std::string probed;
    ASSERT_TRUE(testsupport::Ffprobe(
        out,
        "-select_streams v:0 -count_frames -show_entries stream=codec_name,width,height,nb_read_frames -of csv=p=0",
        &probed));
    const auto rows = testsupport::CsvRows(probed);
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows[0], (std::vector<std::string>{"h264", "720", "576", "50"}));
    EXPECT_NEAR(ProbeSeconds(out), 2.0, 0.1);  // the recording's rate kept
    // The tape's sound joins the pictures.
    std::string sound;
    ASSERT_TRUE(testsupport::Ffprobe(
        out, "-select_streams a:0 -show_entries stream=codec_name,sample_rate,channels -of csv=p=0", &sound));
    const auto soundRows = testsupport::CsvRows(sound);  // a transport stream lists it under its program too
    ASSERT_FALSE(soundRows.empty());
    EXPECT_EQ(soundRows[0], (std::vector<std::string>{"mp2", "48000", "2"}));
    // The pictures are the tape's: frame 10 of the stream is one of the tape's first four
    // seconds (the recording began where the deck stood), compared at a quarter size.
    const auto gray = [](const std::string& clip, const std::string& filter) {
        const std::string raw = testsupport::UniqueName("gray") + ".y";
        testsupport::RunShell("ffmpeg -v error -y -i '" + testsupport::FixtureName(clip) + "' -vf '" + filter +
                              "scale=180:144,format=gray' -vsync passthrough -f rawvideo '" + raw + "'");
        return testsupport::ReadFixtureFile(raw);
    };
    const std::string encoded = gray(out, "select=eq(n\\,10),");
    const std::string tape = gray(tape_, "trim=end_frame=100,");
    ASSERT_EQ(encoded.size(), 180u * 144u);
    ASSERT_EQ(tape.size(), 100u * encoded.size());
    double best = 0;
    for (size_t f = 0; f < 100; ++f) {
        double sum = 0;
        for (size_t i = 0; i < encoded.size(); ++i) {
            const double d = double(uint8_t(encoded[i])) - double(uint8_t(tape[f * encoded.size() + i]));
            sum += d * d;
        }
        best = std::max(best, 10 * std::log10(255.0 * 255.0 / (sum / double(encoded.size()) + 1e-9)));
    }
    EXPECT_GT(best, 35.0);
    // ffmpeg decodes it without a complaint.
    const std::string log = testsupport::UniqueName("decode") + ".log";
    EXPECT_EQ(testsupport::RunShell("ffmpeg -v error -i '" + testsupport::FixtureName(out) + "' -f null -", log), 0);
    EXPECT_EQ(testsupport::ReadFixtureFile(log), "");
}

// The MPEG kinds record DV and convert it afterwards with FFmpeg's MPEG encoders, at the
// block's size and rates, sound included.
TEST_F(DvEngine, TheMpeg2KindConvertsTheRecordingWithItsSound) {
    SetDeck(tape_, 1, 0, 0, kFastDeck);
    ASSERT_EQ(Open(), S_OK);
    const std::string out = testsupport::FixturePath(testsupport::UniqueName("mpeg2") + ".mpg");
    engines::CaptureParams params = Params(out);
    params.encoderType = engines::kEncoderMpeg2;
    engines::MpegCaptureSettings& m = params.mpeg;
    const uint32_t video[4] = {720, 576, 6000000, 0};
    std::memcpy(m.videoValues, video, sizeof video);
    const float rate = 25.0f;
    std::memcpy(&m.rateValue, &rate, sizeof rate);
    strncpy(m.text, "IBBPBBPBBPBBP", sizeof m.text - 1);
    m.moreVideoValues[4] = 1;  // interlaced
    m.moreVideoValues[6] = 8000000;
    const uint32_t audio[3] = {2, 2, 2};
    std::memcpy(m.audioValues, audio, sizeof audio);
    m.samplingRate = 48000;
    m.sampleBits = 16;
    m.audioBitRate = 192000;
    ASSERT_EQ(dv_->SetEncoderType(&params), S_OK);
    ASSERT_EQ(dv_->SetTimeLimit(dv::Timecode{0, 0, 2, 0}.Packed()), S_OK);
    ASSERT_EQ(dv_->Play(), S_OK);
    ASSERT_EQ(dv_->StartRecord(), S_OK);
    ASSERT_TRUE(WaitFor(engines::WM_REC_FINISH, 1, 90000));
    for (const Notice& n : Notices()) {
        if (n.code == engines::WM_DV_ERROR) ADD_FAILURE() << std::hex << n.param;
        if (n.code == engines::WM_REC_FINISH) {
            EXPECT_EQ(PathOf(n), out);
        }
    }
    EXPECT_EQ(GetFileAttributesA((out + ".capture.avi").c_str()), INVALID_FILE_ATTRIBUTES);
    std::string probed;
    ASSERT_TRUE(testsupport::Ffprobe(out,
                                     "-count_frames -show_entries stream=codec_name,width,height,sample_rate,channels,"
                                     "nb_read_frames -of csv=p=0",
                                     &probed));
    const auto rows = testsupport::CsvRows(probed);
    ASSERT_EQ(rows.size(), 2u) << probed;
    EXPECT_EQ(rows[0], (std::vector<std::string>{"mpeg2video", "720", "576", "50"}));
    EXPECT_EQ(rows[1][0], "mp2");
    EXPECT_EQ(rows[1][1], "48000");
    EXPECT_EQ(rows[1][2], "2");
    const std::string log = testsupport::UniqueName("decode") + ".log";
    EXPECT_EQ(testsupport::RunShell("ffmpeg -v error -i '" + testsupport::FixtureName(out) + "' -f null -", log), 0);
    EXPECT_EQ(testsupport::ReadFixtureFile(log), "");
}

// A batch of the H.264 type encodes every segment into a file of its own, and the batch
// ends after the last of them.
TEST_F(DvEngine, AnH264BatchEncodesEachSegmentIntoItsOwnFile) {
    comtest::RegistrationLock lock;
    enginetest::NamedLock muxerLock(enginetest::kMuxerRegistrationLock);
    ASSERT_TRUE(lock.Held() && muxerLock.Held());
    SetDeck(tape_, 1, 0, 0, kFastDeck);
    ASSERT_EQ(Open(), S_OK);
    const std::string stem = testsupport::FixturePath(testsupport::UniqueName("h264batch")), base = stem + ".mpg";
    engines::CaptureParams params = Params(base);
    params.encoderType = engines::kEncoderH264;
    ASSERT_EQ(dv_->SetEncoderType(&params), S_OK);
    const float offset = 1.0f;
    ASSERT_EQ(dv_->SetSeekOffset(&offset), S_OK);
    const dv::Timecode spans[2][2] = {{{0, 1, 1, 0}, {0, 1, 1, 24}}, {{0, 1, 7, 5}, {0, 1, 8, 4}}};
    for (const auto& span : spans)
        ASSERT_EQ(AddSegment(span[0], span[1], base), S_OK);
    comtest::Regsvr32(comtest::WinePath(OMBRISK_AX), true);
    EXPECT_EQ(dv_->StartBatchCapture(), REGDB_E_CLASSNOTREG);  // nothing recorded, the segments kept
    Registered encoder(OMBRISK_AX), muxer(VARROW_AX);
    ASSERT_TRUE(encoder.Ok() && muxer.Ok());
    ASSERT_EQ(dv_->SetOptions(1 | 4), S_OK);  // encoding after capture shown as such
    ASSERT_EQ(dv_->StartBatchCapture(), S_OK);
    ASSERT_TRUE(WaitFor(engines::kBatchFinished, 1, 120000));
    std::vector<std::string> files;
    std::vector<UINT_PTR> capture;  // the capture's own notices, in order
    int foreground = 0;
    bool endedLast = false;
    for (const Notice& n : Notices()) {
        if (n.code == engines::WM_DV_ERROR) ADD_FAILURE() << std::hex << n.param;
        if (n.code == engines::WM_NON_REALTIME_REC_FINISH) files.push_back(PathOf(n));
        if (n.code == engines::WM_REC_START || n.code == engines::WM_POST_ENCODING_START ||
            n.code == engines::WM_REC_CLOCK_RESET)
            capture.push_back(n.code);
        if (n.code == engines::WM_NON_REALTIME_ENCODE) {
            ++foreground;
            EXPECT_EQ(PathOf(n), stem + "-002.mpg");
        }
        endedLast = n.code == engines::kBatchFinished;
    }
    EXPECT_TRUE(endedLast);  // after every segment's file
    // The first segment's encoding goes to the background while the second is captured; the
    // last one's is the encoding after capture.
    EXPECT_EQ(capture, (std::vector<UINT_PTR>{engines::WM_REC_START, engines::WM_POST_ENCODING_START,
                                              engines::WM_REC_CLOCK_RESET, engines::WM_REC_START}));
    EXPECT_EQ(foreground, 1);
    ASSERT_EQ(files.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(files[i]);
        char suffix[16];
        snprintf(suffix, sizeof suffix, "-%03u.mpg", unsigned(i + 1));
        EXPECT_EQ(files[i], stem + suffix);
        EXPECT_EQ(GetFileAttributesA((files[i] + ".capture.avi").c_str()), INVALID_FILE_ATTRIBUTES);
        std::string probed;
        ASSERT_TRUE(testsupport::Ffprobe(
            files[i], "-select_streams v:0 -count_frames -show_entries stream=codec_name,nb_read_frames -of csv=p=0",
            &probed));
        const auto rows = testsupport::CsvRows(probed);
        ASSERT_FALSE(rows.empty());
        EXPECT_EQ(rows[0], (std::vector<std::string>{"h264", "25"}));
    }
}

// The size limit bounds the encoded file as well: an encoding that would outgrow it fails
// and leaves no file (the engine then hands over the DV recording, itself within the limit).
TEST_F(DvEngine, TheSizeLimitBoundsTheEncodedFile) {
    comtest::RegistrationLock lock;
    enginetest::NamedLock muxerLock(enginetest::kMuxerRegistrationLock);
    ASSERT_TRUE(lock.Held() && muxerLock.Held());
    Registered encoder(OMBRISK_AX), muxer(VARROW_AX);
    ASSERT_TRUE(encoder.Ok() && muxer.Ok());
    std::string dvAvi;
    ASSERT_TRUE(testsupport::MediaFixture("ffmpeg -f lavfi -i testsrc=s=720x576:r=25:d=0.4 -c:v dvvideo -f avi {out}",
                                          "avi", &dvAvi));
    const struct {
        uint64_t limit;
        HRESULT expected;
    } cases[] = {{0, S_OK}, {4 * 1024 * 1024, S_OK}, {4000, HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE)}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.limit);
        const std::string out = testsupport::FixturePath(testsupport::UniqueName("bounded") + ".mpg");
        const std::atomic<bool> cancel{false};
        std::atomic<uint32_t> done{0};
        EXPECT_EQ(engines::EncodeDvToH264(std::wstring(dvAvi.begin(), dvAvi.end()),
                                          std::wstring(out.begin(), out.end()), 25, cancel, &done, 60000, c.limit),
                  c.expected);
        const std::vector<uint8_t> file = testsupport::ReadFileBytes(out);
        if (SUCCEEDED(c.expected)) {
            EXPECT_GT(file.size(), 4000u);
            if (c.limit) {
                EXPECT_LE(file.size(), c.limit);
            }
        } else {
            EXPECT_EQ(GetFileAttributesA(out.c_str()), INVALID_FILE_ATTRIBUTES);
        }
    }
}

// A recording of several RIFF lists (as one past 1 GB is) goes through the system's
// splitter into the encoder whole.
TEST_F(DvEngine, ARecordingOfSeveralRiffListsEncodesWhole) {
    comtest::RegistrationLock lock;
    enginetest::NamedLock muxerLock(enginetest::kMuxerRegistrationLock);
    ASSERT_TRUE(lock.Held() && muxerLock.Held());
    Registered encoder(OMBRISK_AX), muxer(VARROW_AX);
    ASSERT_TRUE(encoder.Ok() && muxer.Ok());
    const std::vector<uint8_t> tape = testsupport::ReadFileBytes(tape_);
    const std::string recording = testsupport::FixturePath(testsupport::UniqueName("riffs") + ".avi");
    dv::AviWriter writer(1'000'000);
    ASSERT_TRUE(writer.Open(recording, dv::System::kPal, dv::AviType::kType2));
    const int frames = 20;
    for (int i = 0; i < frames; ++i)
        ASSERT_TRUE(
            writer.AddFrame(std::span<const uint8_t>(tape).subspan(i * dv::kPalFrameBytes, dv::kPalFrameBytes)));
    EXPECT_EQ(writer.Riffs(), 4u);
    ASSERT_TRUE(writer.Finish());
    const std::string out = testsupport::FixturePath(testsupport::UniqueName("riffs") + ".mpg");
    const std::atomic<bool> cancel{false};
    std::atomic<uint32_t> done{0};
    ASSERT_EQ(engines::EncodeDvToH264(std::wstring(recording.begin(), recording.end()),
                                      std::wstring(out.begin(), out.end()), 25, cancel, &done, 60000, 0),
              S_OK);
    std::string probed;
    ASSERT_TRUE(testsupport::Ffprobe(
        out, "-select_streams v:0 -count_frames -show_entries stream=nb_read_frames -of csv=p=0", &probed));
    const auto rows = testsupport::CsvRows(probed);
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows[0], (std::vector<std::string>{std::to_string(frames)}));
}

TEST_F(DvEngine, TheSizeLimitEndsTheFileBeforeItIsReached) {
    ASSERT_EQ(Open(), S_OK);
    const std::string out = Scratch("size");
    const engines::CaptureParams params = Params(out);
    ASSERT_EQ(dv_->SetEncoderType(&params), S_OK);
    const DWORD limit = 3000000;
    ASSERT_EQ(dv_->SetSizeLimit(limit), S_OK);
    ASSERT_EQ(dv_->Play(), S_OK);
    ASSERT_EQ(dv_->StartRecord(), S_OK);
    ASSERT_TRUE(WaitFor(engines::WM_REC_FINISH, 1, 10000));
    const std::vector<uint8_t> file = testsupport::ReadFileBytes(out);
    EXPECT_LE(file.size(), limit);
    EXPECT_GT(file.size() + 144000, limit);  // one more frame would not have fitted
    // Headers, then per frame its chunk and its idx1 and ix00 entries.
    const std::vector<int64_t> codes = FrameTimecodes(out);
    EXPECT_EQ(codes.size(), (file.size() - 12288 - 8 - 32) / (144000 + 8 + 16 + 8));
}

TEST_F(DvEngine, ABatchOfThreeSegmentsGivesThreeFilesWithTheirTimeCodes) {
    SetDeck(tape_, 1, 0, 0, kFastDeck);
    ASSERT_EQ(Open(), S_OK);
    const std::string base = Scratch("batch");
    const float offset = 1.0f;
    ASSERT_EQ(dv_->SetSeekOffset(&offset), S_OK);
    const dv::Timecode spans[3][2] = {
        {{0, 1, 1, 0}, {0, 1, 2, 0}},
        {{0, 1, 7, 10}, {0, 1, 8, 0}},
        {{0, 1, 3, 0}, {0, 1, 4, 12}},  // behind the one before: the deck rewinds
    };
    for (const auto& span : spans)
        ASSERT_EQ(AddSegment(span[0], span[1], base), S_OK);
    ASSERT_EQ(dv_->StartBatchCapture(), S_OK);
    ASSERT_TRUE(WaitFor(engines::kBatchFinished, 1, 90000));
    std::vector<std::string> files;
    for (const Notice& n : Notices())
        if (n.code == engines::WM_REC_FINISH) files.push_back(PathOf(n));
    ASSERT_EQ(files.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(files[i]);
        const std::vector<int64_t> codes = FrameTimecodes(files[i]);
        ASSERT_FALSE(codes.empty());
        EXPECT_EQ(codes.front(), spans[i][0].ToFrames(25));
        EXPECT_EQ(codes.back(), spans[i][1].ToFrames(25));
        EXPECT_EQ(int64_t(codes.size()), spans[i][1].ToFrames(25) - spans[i][0].ToFrames(25) + 1);
    }
    EXPECT_EQ(dv_->StartBatchCapture(), E_INVALIDARG);  // the segments were used up
}

TEST_F(DvEngine, QuickScanReportsEachSceneOfTheTape) {
    SetDeck(tape_, 1, 0, 0, kFastDeck);
    ASSERT_EQ(Open(), S_OK);
    const std::string scan = Scratch("quick_scan");
    ASSERT_EQ(dv_->StartQuickScan(scan.c_str()), S_OK);
    // The deck plays to the tape's end and stops there.
    DWORD mode = 0;
    const DWORD until = GetTickCount() + 30000;
    do {
        Sleep(200);
        ASSERT_EQ(dv_->GetTransportMode(&mode), S_OK);
    } while (mode != DWORD(engines::kTransportStop) && LONG(until - GetTickCount()) > 0);
    ASSERT_EQ(mode, DWORD(engines::kTransportStop));
    Sleep(300);
    ASSERT_EQ(dv_->StopQuickScan(), S_OK);
    ASSERT_EQ(dv_->QuickScanMark(), S_OK);
    ASSERT_TRUE(OpenClipboard(nullptr));
    HANDLE dib = GetClipboardData(CF_DIB);
    ASSERT_NE(dib, nullptr);
    const auto* header = static_cast<const BITMAPINFOHEADER*>(GlobalLock(dib));
    EXPECT_EQ(header->biWidth, 90);
    GlobalUnlock(dib);
    CloseClipboard();

    ASSERT_TRUE(WaitFor(engines::WM_QUICK_SCAN_SAMPLE, 6, 2000));
    std::vector<std::pair<bool, int64_t>> samples;  // start flag, time code in frames
    std::vector<uint64_t> stamps;
    for (const Notice& n : Notices())
        if (n.code == engines::WM_QUICK_SCAN_SAMPLE) {
            ASSERT_EQ(n.bytes.size(), 32u);
            EXPECT_EQ(n.bytes[25], 1);  // queued
            const dv::Timecode tc{n.bytes[0], n.bytes[1], n.bytes[2], n.bytes[3]};
            samples.emplace_back(n.bytes[26] != 0, tc.ToFrames(25));
            uint64_t stamp = 0;
            for (int at : {4, 5, 6, 8, 9, 10})  // bytes 5 to 0 of the 48-bit stamp
                stamp = stamp << 8 | n.bytes[at];
            stamps.push_back(stamp);
        }
    const int64_t start = dv::Timecode{0, 1, 0, 0}.ToFrames(25);
    const std::vector<std::pair<bool, int64_t>> want = {
        {true, start},        {false, start + 149}, {true, start + 150},
        {false, start + 299}, {true, start + 300},  {false, start + 449},
    };
    EXPECT_EQ(samples, want);
    // The recording date and time of each sample's frame: 21-03-04 05:06, seconds from 07.
    std::vector<uint64_t> wantStamps;
    for (const auto& [open, frames] : want)
        wantStamps.push_back(0x150304050600ull + 7 + uint64_t(frames - start) / 25);
    EXPECT_EQ(stamps, wantStamps);
    EXPECT_NEAR(ProbeSeconds(scan), 18.0, 0.04);
}

// The deck unplugged during a scan: the scene it was in is closed at the last frame scanned,
// before the removal is noticed, and the scan file holds the frames scanned.
TEST_F(DvEngine, AScanEndedByTheDecksRemovalClosesItsOpenScene) {
    SetDeck(tape_, 1, 0, 0, kFastDeck);
    ASSERT_EQ(Open(), S_OK);
    const std::string scan = Scratch("lost_scan");
    ASSERT_EQ(dv_->StartQuickScan(scan.c_str()), S_OK);
    ASSERT_TRUE(WaitFor(engines::WM_QUICK_SCAN_SAMPLE, 3, 30000)) << "the second scene's start";
    ASSERT_TRUE(PlayedFrames(25, 25));
    SetDeck(tape_, 0);
    ASSERT_TRUE(WaitFor(engines::WM_DEVICE_REMOVED, 1, 30000));
    std::vector<std::pair<bool, int64_t>> samples;  // start flag, time code in frames
    bool removed = false;
    for (const Notice& n : Notices()) {
        if (n.code == engines::WM_DEVICE_REMOVED) removed = true;
        if (n.code != engines::WM_QUICK_SCAN_SAMPLE) continue;
        EXPECT_FALSE(removed) << "a scan sample after the removal";
        const dv::Timecode tc{n.bytes[0], n.bytes[1], n.bytes[2], n.bytes[3]};
        samples.emplace_back(n.bytes[26] != 0, tc.ToFrames(25));
    }
    const int64_t start = dv::Timecode{0, 1, 0, 0}.ToFrames(25);
    ASSERT_EQ(samples.size(), 4u);
    EXPECT_EQ(samples[2], std::make_pair(true, start + 150));
    EXPECT_FALSE(samples[3].first);
    EXPECT_GE(samples[3].second, start + 175);
    EXPECT_LT(samples[3].second, start + 300);
    EXPECT_EQ(dv_->StopQuickScan(), S_FALSE) << "the scan has ended";
    EXPECT_EQ(int64_t(FrameTimecodes(scan).size()), samples[3].second - start + 1);
}

TEST_F(DvEngine, ADeckThatNeverFreezesEndsTheWaitWithAnError) {
    ASSERT_EQ(Open(), S_OK);
    ASSERT_EQ(dv_->Play(), S_OK);
    SetDeck(tape_, 1, 1);
    // The deck takes the command and goes on playing: the wait ends, bounded, in an error
    // that is also noticed; the deck is still playing.
    EXPECT_EQ(dv_->Pause(), VFW_E_TIMEOUT);
    ASSERT_TRUE(WaitFor(engines::WM_DV_ERROR, 1, 1000));
    DWORD mode = 0;
    ASSERT_EQ(dv_->GetTransportMode(&mode), S_OK);
    EXPECT_EQ(mode, DWORD(engines::kTransportPlay));
    // A seek on it ends as the deck's failure after a few commands it did not carry out,
    // well within the seek's own bound of two minutes.
    ASSERT_EQ(dv_->SeekTimecode(dv::Timecode{0, 1, 0, 0}.Packed()), S_OK);
    ASSERT_TRUE(WaitFor(engines::WM_DV_ERROR, 2, 30000));
    HRESULT seekEnd = S_OK;
    for (const Notice& n : Notices())
        if (n.code == engines::WM_DV_ERROR) seekEnd = HRESULT(n.param);
    EXPECT_EQ(seekEnd, engines::kSeekDeckFailed);
    // Once the deck carries commands out again, the same command succeeds.
    SetDeck(tape_, 1, 0);
    EXPECT_EQ(dv_->Pause(), S_OK);
}

TEST_F(DvEngine, StopAbortAndUnplugEndRecordingsKeepingWhatWasRecorded) {
    SetDeck(tape_, 1, 0, 0, kFastDeck);
    ASSERT_EQ(Open(), S_OK);
    // Stop and abort, each after about a second.
    for (const bool abort : {false, true}) {
        SCOPED_TRACE(abort ? "abort" : "stop");
        const std::string out = Scratch(abort ? "aborted" : "stopped");
        engines::CaptureParams params = Params(out);
        params.dv.fileFormat = abort ? 1 : 2;  // the stopped one is a type-2 file
        ASSERT_EQ(dv_->SetEncoderType(&params), S_OK);
        ASSERT_TRUE(PlayFromStart());
        ASSERT_EQ(dv_->StartRecord(), S_OK);
        // A second of tape, however late the deck's ticks come on a busy machine.
        ASSERT_TRUE(PlayedFrames(25, 25));
        ASSERT_EQ(abort ? dv_->AbortRecord() : dv_->StopRecord(), S_OK);
        ASSERT_TRUE(WaitFor(engines::WM_REC_FINISH, abort ? 2 : 1, 10000));
        const std::vector<int64_t> codes = FrameTimecodes(out);
        EXPECT_GT(codes.size(), 15u);
        EXPECT_GT(ProbeSeconds(out), 0.6);
        // Type 1 keeps the interleaved stream; type 2 has its own audio stream, which
        // ffmpeg decodes.
        const std::vector<uint8_t> file = testsupport::ReadFileBytes(out);
        const std::string whole(file.begin(), file.end());
        const std::string head = whole.substr(0, whole.find("movi"));  // the headers
        EXPECT_EQ(head.find("iavs") != std::string::npos, abort);
        EXPECT_EQ(head.find("auds") != std::string::npos, !abort);
        if (!abort) {
            EXPECT_EQ(testsupport::RunShell("ffmpeg -v error -i '" + testsupport::FixtureName(out) +
                                            "' -map 0:a:0 -f null -"),
                      0);
        }
    }
    // Unplugged while recording: the removal is noticed, the file is complete and the
    // transport refuses commands.
    const std::string out = Scratch("unplugged");
    const engines::CaptureParams params = Params(out);
    ASSERT_EQ(dv_->SetEncoderType(&params), S_OK);
    ASSERT_TRUE(PlayFromStart());
    ASSERT_EQ(dv_->StartRecord(), S_OK);
    ASSERT_TRUE(PlayedFrames(25, 25));
    SetDeck(tape_, 0);
    // Bounds for a loaded machine, where the deck's frames wait on the writer's disk.
    ASSERT_TRUE(WaitFor(engines::WM_DEVICE_REMOVED, 1, 30000));
    ASSERT_TRUE(WaitFor(engines::WM_REC_FINISH, 3, 30000));
    const std::vector<int64_t> codes = FrameTimecodes(out);
    EXPECT_GT(codes.size(), 15u);
    for (size_t i = 1; i < codes.size(); ++i)
        ASSERT_EQ(codes[i], codes[i - 1] + 1) << i;
    EXPECT_LT(dv_->Play(), 0);
    DWORD mode = 0;
    EXPECT_LT(dv_->GetTransportMode(&mode), 0);
    EXPECT_EQ(dv_->OpenDevice(nullptr), S_OK);
}

}  // namespace

namespace {

// Luma PSNR of the screen's `width` x `height` pixels at `origin` against ffmpeg's frame
// `index` of `clip` scaled to that size.
double ScreenPsnr(POINT origin, int width, int height, const std::string& clip, int index) {
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, origin.x, origin.y, SRCCOPY);
    SelectObject(memory, old);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    std::vector<uint32_t> shown(size_t(width) * height);
    GetDIBits(memory, bitmap, 0, UINT(height), shown.data(), &info, DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    const std::string out = testsupport::UniqueName("preview") + ".bgra";
    if (testsupport::RunShell("ffmpeg -v error -i '" + testsupport::FixtureName(clip) + "' -vf 'select=eq(n\\," +
                              std::to_string(index) + "),scale=" + std::to_string(width) + ":" +
                              std::to_string(height) + "' -frames:v 1 -pix_fmt bgra -f rawvideo '" + out + "'") != 0)
        return 0;
    const std::string want = testsupport::ReadFixtureFile(out);
    if (want.size() != shown.size() * 4) return 0;
    const auto luma = [](uint32_t p) {
        return 0.299 * ((p >> 16) & 0xFF) + 0.587 * ((p >> 8) & 0xFF) + 0.114 * (p & 0xFF);
    };
    double sum = 0;
    for (size_t i = 0; i < shown.size(); ++i) {
        uint32_t w;
        memcpy(&w, want.data() + i * 4, 4);
        const double d = luma(shown[i]) - luma(w);
        sum += d * d;
    }
    return 10 * std::log10(255.0 * 255.0 / (sum / double(shown.size()) + 1e-9));
}

TEST_F(DvEngine, PreviewShowsThePictureTheDeckPlays) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"DvPreviewTest";
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    RegisterClassW(&wc);
    HWND window = CreateWindowW(L"DvPreviewTest", L"preview", WS_POPUP | WS_VISIBLE, 0, 0, 360, 288, nullptr, nullptr,
                                wc.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    const RECT rect{0, 0, 360, 288};
    ASSERT_EQ(dv_->SetPreviewWindow(window, &rect), S_OK);
    ASSERT_EQ(Open(), S_OK);
    ASSERT_EQ(dv_->Play(), S_OK);
    ASSERT_TRUE(PlayedFrames(25, 25));
    ASSERT_EQ(dv_->Pause(), S_OK);
    Sleep(200);
    DWORD tc = 0;
    ASSERT_EQ(dv_->GetTimecode(&tc), S_OK);
    // The last frame shown is the one before the head.
    const int index = int(dv::Timecode::Unpack(tc).ToFrames(25) - dv::Timecode{0, 1, 0, 0}.ToFrames(25)) - 1;
    ASSERT_GT(index, 0);
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    const double same = ScreenPsnr(origin, 360, 288, tape_, index);
    const double otherScene = ScreenPsnr(origin, 360, 288, tape_, 200);
    EXPECT_GT(same, 18.0);
    EXPECT_GT(same, otherScene + 3);
    EXPECT_EQ(dv_->SetPreviewWindow(nullptr, nullptr), S_OK);
    EXPECT_EQ(dv_->OpenDevice(nullptr), S_OK);
    DestroyWindow(window);
}

// A 525/60 tape (4:1:1 macroblocks) previews and marks like a 625/50 one: the preview
// shows the frame at the head, the mark is the frame at an eighth of its size.
TEST_F(DvEngine, NtscTapePreviewsAndMarks) {
    std::string ntsc;
    ASSERT_TRUE(testsupport::MediaFixture(
        "ffmpeg -filter_complex \"testsrc=s=720x480:r=30000/1001:d=2,format=yuv411p[a];smptebars=s=720x480:"
        "r=30000/1001:d=2,format=yuv411p[b];[a][b]concat=n=2:v=1:a=0\" -f lavfi -i sine=sample_rate=48000:duration=4 "
        "-c:v dvvideo -c:a pcm_s16le -ac 2 -timecode 00:01:00:00 -f dv {out}",
        "dv", &ntsc));
    SetDeck(ntsc, 1);
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"DvNtscPreviewTest";
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    RegisterClassW(&wc);
    HWND window = CreateWindowW(L"DvNtscPreviewTest", L"preview", WS_POPUP | WS_VISIBLE, 0, 0, 360, 240, nullptr,
                                nullptr, wc.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    const RECT rect{0, 0, 360, 240};
    ASSERT_EQ(dv_->SetPreviewWindow(window, &rect), S_OK);
    ASSERT_EQ(Open(), S_OK);
    float rate = 0;
    // The stopped deck has sent no frame yet: the rate comes from the connection.
    ASSERT_EQ(dv_->GetFrameRate(&rate), S_OK);
    EXPECT_NEAR(rate, 29.97f, 0.01f);
    ASSERT_EQ(dv_->Play(), S_OK);
    ASSERT_TRUE(PlayedFrames(30, 30));
    ASSERT_EQ(dv_->Pause(), S_OK);
    Sleep(200);
    ASSERT_EQ(dv_->GetFrameRate(&rate), S_OK);
    EXPECT_NEAR(rate, 29.97f, 0.01f);
    DWORD tc = 0;
    ASSERT_EQ(dv_->GetTimecode(&tc), S_OK);
    const int index = int(dv::Timecode::Unpack(tc).ToFrames(30) - dv::Timecode{0, 1, 0, 0}.ToFrames(30)) - 1;
    ASSERT_GT(index, 0);
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    const double same = ScreenPsnr(origin, 360, 240, ntsc, index);
    EXPECT_GT(same, 18.0);
    EXPECT_GT(same, ScreenPsnr(origin, 360, 240, ntsc, 90) + 3);  // the other scene

    ASSERT_EQ(dv_->QuickScanMark(), S_OK);
    ASSERT_TRUE(OpenClipboard(nullptr));
    HANDLE dib = GetClipboardData(CF_DIB);
    ASSERT_NE(dib, nullptr);
    const auto* header = static_cast<const BITMAPINFOHEADER*>(GlobalLock(dib));
    EXPECT_EQ(header->biWidth, 90);
    EXPECT_EQ(header->biHeight, -60);
    GlobalUnlock(dib);
    CloseClipboard();
    EXPECT_EQ(dv_->SetPreviewWindow(nullptr, nullptr), S_OK);
    EXPECT_EQ(dv_->OpenDevice(nullptr), S_OK);
    DestroyWindow(window);
}

}  // namespace
