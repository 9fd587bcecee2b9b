// The registered clip player playing ffmpeg-made clips: frames for stills and thumbnails
// against ffmpeg's own decoding of the same frame, playback into a window (what the
// screen shows), the end notices of a play range, and the transport's answers.
#include <windows.h>
#include <vfwmsgs.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "engines/client/engine_client.h"
#include "engines/tests/registered.h"
#include "filters/base/tests/com_test_util.h"
#include "tests/support/ffprobe.h"
#include "tests/support/media_fixture.h"
#include "tests/support/ombrisk_fixture.h"
#include "tests/support/shell.h"

namespace {

using enginetest::Registered;

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;  // top-down 0x00RRGGBB
};

Picture FromBitmap(HBITMAP bitmap) {
    Picture picture;
    BITMAP info{};
    if (!GetObjectW(bitmap, sizeof info, &info)) return picture;
    BITMAPINFO want{};
    want.bmiHeader = {sizeof(BITMAPINFOHEADER), info.bmWidth, -info.bmHeight, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    picture.pixels.resize(size_t(info.bmWidth) * info.bmHeight);
    HDC dc = GetDC(nullptr);
    const int rows = GetDIBits(dc, bitmap, 0, info.bmHeight, picture.pixels.data(), &want, DIB_RGB_COLORS);
    ReleaseDC(nullptr, dc);
    if (rows != info.bmHeight) return {};
    picture.width = info.bmWidth;
    picture.height = info.bmHeight;
    for (uint32_t& p : picture.pixels)
        p &= 0xFFFFFF;
    return picture;
}

// ffmpeg's decodings of frames of clips, in RGB, by clip, frame, size and scale (an ffmpeg
// scale filter argument, or empty): kept for the program, as each ffmpeg run is a process
// started from Wine.
using FrameKey = std::tuple<std::string, int, int, int, std::string>;
std::map<FrameKey, Picture> g_ffmpegFrames;

// Decodes frames `indices` of `clip` with ffmpeg in one run (select keeps the frames in
// decoding output order, passthrough writes each once) into g_ffmpegFrames; false if ffmpeg
// failed or gave fewer bytes than the frames need.
bool DecodeFfmpegFrames(const std::string& clip, std::set<int> indices, int width, int height,
                        const std::string& scale = "") {
    for (auto it = indices.begin(); it != indices.end();)
        it = *it < 0 || g_ffmpegFrames.count({clip, *it, width, height, scale}) ? indices.erase(it) : std::next(it);
    if (indices.empty()) return true;
    const std::string out = testsupport::UniqueName("frames") + ".bgra";
    std::string filters = "select=";
    for (const int index : indices)
        filters += (index == *indices.begin() ? "eq(n\\," : "+eq(n\\,") + std::to_string(index) + ")";
    if (!scale.empty()) filters += ",format=bgra,scale=" + scale;
    const int status =
        testsupport::RunShell("ffmpeg -v error -y -i '" + testsupport::FixtureName(clip) + "' -vf '" + filters +
                                  "' -fps_mode passthrough -pix_fmt bgra -f rawvideo '" + out + "'",
                              testsupport::UniqueName("ffmpeg") + ".log");
    if (status != 0) return false;
    const std::string bytes = testsupport::ReadFixtureFile(out);
    const size_t one = size_t(width) * height * 4;
    if (bytes.size() != one * indices.size()) return false;
    size_t at = 0;
    for (const int index : indices) {
        Picture& picture = g_ffmpegFrames[{clip, index, width, height, scale}];
        picture.width = width;
        picture.height = height;
        picture.pixels.resize(size_t(width) * height);
        memcpy(picture.pixels.data(), bytes.data() + at, one);
        for (uint32_t& p : picture.pixels)
            p &= 0xFFFFFF;
        at += one;
    }
    return true;
}

// ffmpeg's decoding of frame `index` of `clip` (empty when ffmpeg could not give it):
// decoded now unless DecodeFfmpegFrames already has it.
Picture FfmpegFrame(const std::string& clip, int index, int width, int height, const std::string& scale = "") {
    if (!DecodeFfmpegFrames(clip, {index}, width, height, scale)) return {};
    const auto found = g_ffmpegFrames.find({clip, index, width, height, scale});
    return found == g_ffmpegFrames.end() ? Picture{} : found->second;
}

// PSNR of the luma (ITU-R BT.601 weights) of two pictures: the system's colour converter
// and ffmpeg's upsample chroma differently, which says nothing about the frame chosen.
double Psnr(const Picture& a, const Picture& b) {
    if (a.width != b.width || a.height != b.height || a.pixels.empty()) return 0;
    const auto luma = [](uint32_t p) {
        return 0.299 * ((p >> 16) & 0xFF) + 0.587 * ((p >> 8) & 0xFF) + 0.114 * (p & 0xFF);
    };
    double sum = 0;
    for (size_t i = 0; i < a.pixels.size(); ++i) {
        const double d = luma(a.pixels[i]) - luma(b.pixels[i]);
        sum += d * d;
    }
    const double mse = sum / double(a.pixels.size());
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

struct Clip {
    const char* command;
    const char* extension;
    int width, height;
    double frameRate;
};

const Clip kClips[] = {
    {"ffmpeg -f lavfi -i testsrc=size=320x240:rate=25 -t 3 -c:v mpeg1video -q:v 2 -f mpeg {out}", "mpg", 320, 240, 25},
    {"ffmpeg -f lavfi -i testsrc=size=720x480:rate=30000/1001 -f lavfi -i sine=sample_rate=48000 -t 3 "
     "-target ntsc-dvd -q:v 2 {out}",
     "mpg", 720, 480, 30000.0 / 1001},
    {"ffmpeg -f lavfi -i testsrc=size=720x576:rate=25 -f lavfi -i sine=sample_rate=48000 -t 3 -c:v dvvideo "
     "-pix_fmt yuv420p -c:a pcm_s16le {out}",
     "avi", 720, 576, 25},
    // H.264 in a program stream without a stream map: our source and decoder.
    {"ffmpeg -f lavfi -i testsrc=size=320x240:rate=25 -f lavfi -i sine=sample_rate=48000 -t 2 -c:v libx264 "
     "-profile:v main -pix_fmt yuv420p -bf 2 -g 12 -c:a mp2 -f vob {out}",
     "mpg", 320, 240, 25},
};
const Clip& kH264Clip = kClips[3];

TEST(ClipPlayerFrames, StillsAndThumbnailsMatchFfmpegsFrameAtThePosition) {
    comtest::ComScope com;
    enginetest::RegisteredPlayback registered(CLIP_PLAYER_DLL, PELLDRIN_AX);
    ASSERT_TRUE(registered.Ok());
    for (const Clip& clip : kClips) {
        SCOPED_TRACE(clip.command);
        std::string path;
        ASSERT_TRUE(testsupport::MediaFixture(clip.command, clip.extension, &path));
        IClipPlayer* player = nullptr;
        ASSERT_EQ(CreateClipPlayer(&player), S_OK);
        ASSERT_EQ(player->Open(path.c_str(), 0, 0, 0), S_OK);
        // A quarter frame into frame 31: that frame shows there.
        const int index = 31;
        const LONGLONG position = LONGLONG((index + 0.25) * 1e7 / clip.frameRate);
        ASSERT_TRUE(DecodeFfmpegFrames(path, {index, index + 4}, clip.width, clip.height));

        HBITMAP still = nullptr;
        ASSERT_EQ(player->GetFrameBitmap(&still, position, 0), S_OK);
        const Picture got = FromBitmap(still);
        DeleteObject(still);
        ASSERT_EQ(got.width, clip.width);
        ASSERT_EQ(got.height, clip.height);
        const Picture want = FfmpegFrame(path, index, clip.width, clip.height);
        ASSERT_FALSE(want.pixels.empty());
        EXPECT_GT(Psnr(got, want), 35.0);
        // Frames a little apart differ (testsrc moves), so the comparison finds a wrong frame.
        EXPECT_LT(Psnr(got, FfmpegFrame(path, index + 4, clip.width, clip.height)), 35.0);

        HBITMAP thumb = nullptr;
        ASSERT_EQ(player->GetFrameBitmap(&thumb, position, 2), S_OK);
        const Picture small = FromBitmap(thumb);
        DeleteObject(thumb);
        // Within 160 x 120, aspect kept.
        const bool wide = clip.width * 120 >= clip.height * 160;
        const int thumbWidth = wide ? 160 : (clip.width * 120 + clip.height / 2) / clip.height;
        const int thumbHeight = wide ? (clip.height * 160 + clip.width / 2) / clip.width : 120;
        ASSERT_EQ(small.width, thumbWidth);
        ASSERT_EQ(small.height, thumbHeight);
        EXPECT_GT(
            Psnr(small, FfmpegFrame(path, index, thumbWidth, thumbHeight,
                                    std::to_string(thumbWidth) + ":" + std::to_string(thumbHeight) + ":flags=area")),
            35.0);

        // Past the end: the last frame, not an error.
        HBITMAP last = nullptr;
        EXPECT_EQ(player->GetFrameBitmap(&last, LONGLONG(60e7), 0), S_OK);
        if (last) DeleteObject(last);
        EXPECT_EQ(ReleaseInterface(&player), S_OK);
    }
}

// Our encoder's H.264 in a program stream that ffmpeg made: with B pictures its pictures
// carry no time stamps, without them each is stamped. A frame at a time is the frame
// ffmpeg decodes there, before, at and after the IDR pictures and on B pictures.
struct OmbriskClip {
    int bFrames;
    int gop;
};
const OmbriskClip kOmbriskClips[] = {{2, 12}, {0, 10}};
const char* const kOmbriskSource = "ffmpeg -f lavfi -i testsrc=size=320x240:rate=25 -t 2 -pix_fmt yuv420p {out}";

TEST(ClipPlayerFrames, OurEncodersH264InAProgramStreamMatchesFfmpegsFrames) {
    comtest::ComScope com;
    enginetest::RegisteredPlayback registered(CLIP_PLAYER_DLL, PELLDRIN_AX);
    ASSERT_TRUE(registered.Ok());
    for (const OmbriskClip& clip : kOmbriskClips) {
        SCOPED_TRACE(testing::Message() << "B pictures " << clip.bFrames << ", GOP " << clip.gop);
        std::string path;
        ASSERT_TRUE(testsupport::OmbriskProgramStream(kOmbriskSource, "25", clip.bFrames, clip.gop, &path));
        std::string counted;
        ASSERT_TRUE(testsupport::Ffprobe(
            path, "-select_streams v:0 -count_frames -show_entries stream=nb_read_frames -of csv=p=0", &counted));
        const int frames = std::atoi(counted.c_str());
        ASSERT_EQ(frames, 50);
        IClipPlayer* player = nullptr;
        ASSERT_EQ(CreateClipPlayer(&player), S_OK);
        ASSERT_EQ(player->Open(path.c_str(), 0, 0, 0), S_OK);
        DWORD formatClass = 0, width = 0, height = 0;
        LONGLONG duration = 0;
        EXPECT_EQ(player->GetFormatClass(&formatClass), S_OK);
        EXPECT_EQ(player->GetProperty14(&width), S_OK);
        EXPECT_EQ(player->GetProperty13(&height), S_OK);
        EXPECT_EQ(width, 320u);
        EXPECT_EQ(height, 240u);
        ASSERT_EQ(player->GetDuration(&duration), S_OK);
        EXPECT_NEAR(double(duration), frames * 4e5, 4e5);
        const std::initializer_list<int> indices = {0, 5, clip.gop - 1, clip.gop, clip.gop + 1, 31, frames - 1};
        std::set<int> compared;
        for (const int index : indices)
            for (const int other : {index - 1, index, index + 1})
                if (other >= 0 && other < frames) compared.insert(other);
        ASSERT_TRUE(DecodeFfmpegFrames(path, compared, 320, 240));
        for (const int index : indices) {
            SCOPED_TRACE(index);
            HBITMAP still = nullptr;
            ASSERT_EQ(player->GetFrameBitmap(&still, LONGLONG(index * 4e5 + 1e5), 0), S_OK);
            const Picture got = FromBitmap(still);
            DeleteObject(still);
            ASSERT_EQ(got.width, 320);
            ASSERT_EQ(got.height, 240);
            const double right = Psnr(got, FfmpegFrame(path, index, 320, 240));
            EXPECT_GT(right, 35.0);
            // Neighbours differ little (testsrc moves slowly), but less than the frame itself:
            // a frame off by one fails.
            for (const int other : {index - 1, index + 1}) {
                if (other < 0 || other >= frames) continue;
                EXPECT_GT(right, Psnr(got, FfmpegFrame(path, other, 320, 240)) + 1) << "frame " << other;
            }
        }
        EXPECT_EQ(ReleaseInterface(&player), S_OK);
    }
}

// The callback's notices in order: code and parameter.
std::vector<std::pair<DWORD, UINT_PTR>> g_notices;
void CALLBACK RecordNotice(DWORD code, UINT_PTR param, void* context) {
    if (context == &g_notices) g_notices.emplace_back(code, param);
}

TEST(ClipPlayerSegments, JoinedRecordingsAreReportedSegmentBySegmentWithProgress) {
    comtest::ComScope com;
    enginetest::SharedRegistered server(CLIP_PLAYER_DLL);
    ASSERT_TRUE(server.Ok());
    std::string first, second;
    ASSERT_TRUE(testsupport::MediaFixture(kClips[0].command, kClips[0].extension, &first));
    ASSERT_TRUE(testsupport::MediaFixture(kClips[1].command, kClips[1].extension, &second));
    const std::string joined = testsupport::UniqueName("joined") + ".mpg";
    ASSERT_EQ(testsupport::RunShell("cat '" + testsupport::FixtureName(first) + "' '" +
                                    testsupport::FixtureName(second) + "' > '" + joined + "'"),
              0);
    IClipPlayer* player = nullptr;
    ASSERT_EQ(CreateClipPlayer(&player), S_OK);
    DWORD count = 0;
    EXPECT_EQ(player->GetSegmentCount(&count), E_UNEXPECTED);  // nothing open
    ASSERT_EQ(player->SetCallback(RecordNotice, &g_notices), S_OK);
    ASSERT_EQ(player->Open(testsupport::FixturePath(joined).c_str(), 0, 0, 0), S_OK);
    g_notices.clear();
    ASSERT_EQ(player->GetSegmentCount(&count), S_OK);
    ASSERT_EQ(count, 2u);
    ASSERT_GE(g_notices.size(), 3u);
    EXPECT_EQ(g_notices.front().first, 2u);
    EXPECT_EQ(g_notices.back().first, 3u);
    EXPECT_EQ(g_notices[g_notices.size() - 2], std::make_pair(DWORD(1), UINT_PTR(100)));

    BYTE record[128];
    ASSERT_EQ(player->GetSegment(1, record), S_OK);
    uint32_t width = 0, height = 0;
    int64_t previousEnd = 0, videoStart = 0;
    memcpy(&width, record + 84, 4);
    memcpy(&height, record + 88, 4);
    memcpy(&videoStart, record + 40, 8);
    EXPECT_EQ(width, 720u);
    EXPECT_EQ(height, 480u);
    ASSERT_EQ(player->GetSegment(0, record), S_OK);
    memcpy(&previousEnd, record + 72, 8);
    EXPECT_GE(videoStart, previousEnd);
    EXPECT_EQ(player->GetSegment(2, record), E_INVALIDARG);

    // An AVI file is one segment, the whole clip.
    std::string avi;
    ASSERT_TRUE(testsupport::MediaFixture(kClips[2].command, kClips[2].extension, &avi));
    ASSERT_EQ(player->Open(avi.c_str(), 0, 0, 0), S_OK);
    ASSERT_EQ(player->GetSegmentCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    LONGLONG duration = 0, end = 0;
    ASSERT_EQ(player->GetDuration(&duration), S_OK);
    ASSERT_EQ(player->GetSegment(0, record), S_OK);
    memcpy(&end, record + 48, 8);
    EXPECT_EQ(end, duration);
    EXPECT_EQ(ReleaseInterface(&player), S_OK);
}

// A top-level window whose messages the test reads; playback draws into its client area.
struct OwnerWindow {
    HWND hwnd = nullptr;
    OwnerWindow(int width, int height) {
        WNDCLASSW wc{};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"ClipPlayerTestOwner";
        wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
        RegisterClassW(&wc);
        RECT r{0, 0, width, height};
        AdjustWindowRect(&r, WS_POPUP, FALSE);
        hwnd = CreateWindowW(L"ClipPlayerTestOwner", L"clip", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0,
                             r.right - r.left, r.bottom - r.top, nullptr, nullptr, wc.hInstance, nullptr);
    }
    ~OwnerWindow() {
        if (hwnd) DestroyWindow(hwnd);
    }
    // Pumps messages until one of `wanted` arrives or `ms` pass; the message or 0.
    UINT WaitNotice(std::initializer_list<UINT> wanted, DWORD ms) {
        const DWORD until = GetTickCount() + ms;
        for (;;) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                for (UINT w : wanted)
                    if (msg.message == w && msg.hwnd == hwnd) return w;
                DispatchMessageW(&msg);
            }
            if (LONG(until - GetTickCount()) <= 0) return 0;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        }
    }
    // What the screen shows in the client area.
    Picture Screen(int width, int height) {
        HDC screen = GetDC(nullptr);
        HDC memory = CreateCompatibleDC(screen);
        HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
        HGDIOBJ old = SelectObject(memory, bitmap);
        POINT origin{0, 0};
        ClientToScreen(hwnd, &origin);
        BitBlt(memory, 0, 0, width, height, screen, origin.x, origin.y, SRCCOPY);
        SelectObject(memory, old);
        DeleteDC(memory);
        ReleaseDC(nullptr, screen);
        Picture picture = FromBitmap(bitmap);
        DeleteObject(bitmap);
        return picture;
    }
};

// Writes `picture` as a 32-bit BMP into the fixture folder, for people to look at.
void SaveBmp(const Picture& picture, const std::string& name) {
    BITMAPFILEHEADER file{};
    BITMAPINFOHEADER info{sizeof info, picture.width, -picture.height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    const DWORD bytes = DWORD(picture.pixels.size() * 4);
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + bytes;
    HANDLE h =
        CreateFileA(testsupport::FixturePath(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(h, &file, sizeof file, &written, nullptr);
    WriteFile(h, &info, sizeof info, &written, nullptr);
    WriteFile(h, picture.pixels.data(), bytes, &written, nullptr);
    CloseHandle(h);
}

TEST(ClipPlayerPlayback, PlaysIntoTheOwnersWindowAndPostsTheEndOfItsRange) {
    comtest::ComScope com;
    enginetest::SharedRegistered server(CLIP_PLAYER_DLL);
    ASSERT_TRUE(server.Ok());
    const Clip& clip = kClips[0];
    std::string path;
    ASSERT_TRUE(testsupport::MediaFixture(clip.command, clip.extension, &path));
    OwnerWindow owner(clip.width, clip.height);
    ASSERT_NE(owner.hwnd, nullptr);

    IClipPlayer* player = nullptr;
    ASSERT_EQ(CreateClipPlayer(&player), S_OK);
    // Transport calls before a clip is open are refused, not crashes.
    LONGLONG position = -1;
    EXPECT_EQ(player->GetPosition(&position), E_UNEXPECTED);
    EXPECT_EQ(player->SetRate(1.0f), E_UNEXPECTED);
    const RECT rect{0, 0, clip.width, clip.height};
    ASSERT_EQ(player->Initialize(owner.hwnd, &rect), S_OK);
    // The viewer's order.
    ASSERT_EQ(player->Open(path.c_str(), 0, 0, 0), S_OK);
    ASSERT_EQ(player->ShowVideo(TRUE), S_OK);
    LONGLONG duration = 0;
    ASSERT_EQ(player->GetDuration(&duration), S_OK);
    ASSERT_EQ(player->SetPlayRange(LONGLONG(1.25e7), duration), S_OK);
    EXPECT_EQ(player->SetOpenOption(1), S_OK);
    DWORD flag = 1, step = 0;
    EXPECT_EQ(player->GetSelection(&flag, &step), S_OK);
    EXPECT_EQ(step, 400000u);

    // The video is drawn in a visible child of the owner covering the given rectangle, and
    // the screen there shows frame 31 (paused at 1.25 s).
    owner.WaitNotice({}, 1000);
    HWND video = GetWindow(owner.hwnd, GW_CHILD);
    ASSERT_NE(video, nullptr);
    EXPECT_TRUE(IsWindowVisible(video));
    RECT placed{};
    GetWindowRect(video, &placed);
    MapWindowPoints(nullptr, owner.hwnd, reinterpret_cast<POINT*>(&placed), 2);
    EXPECT_EQ(placed.left, rect.left);
    EXPECT_EQ(placed.top, rect.top);
    EXPECT_EQ(placed.right, rect.right);
    EXPECT_EQ(placed.bottom, rect.bottom);
    const Picture shown = owner.Screen(clip.width, clip.height);
    SaveBmp(shown, "clip_player_window.bmp");
    EXPECT_GT(Psnr(shown, FfmpegFrame(path, 31, clip.width, clip.height)), 30.0);
    EXPECT_EQ(player->GetPosition(&position), S_OK);
    EXPECT_NEAR(double(position), 1.25e7, 1e5);

    // Play to the clip's end: the clip-end notice; the position has moved on.
    ASSERT_EQ(player->SetRate(1.0f), S_OK);
    owner.WaitNotice({}, 300);
    EXPECT_EQ(player->GetPosition(&position), S_OK);
    EXPECT_GT(position, LONGLONG(1.25e7));
    EXPECT_EQ(owner.WaitNotice({0x800B, 0x80C8, 0x80CF, 0x80D0, 0x80D1, 0x80D2, 0x80D3}, 8000), 0x80C8u);

    // A range that ends inside the clip: the range-end notice, within about its length.
    ASSERT_EQ(player->SetPlayRange(LONGLONG(0.5e7), LONGLONG(1.0e7)), S_OK);
    ASSERT_EQ(player->SetRate(2.0f), S_OK);
    EXPECT_EQ(owner.WaitNotice({0x800B, 0x80C8, 0x80CF, 0x80D0, 0x80D1, 0x80D2, 0x80D3}, 5000), 0x800Bu);
    EXPECT_EQ(player->GetPosition(&position), S_OK);
    EXPECT_LE(position, LONGLONG(1.0e7));

    // A new rectangle for the open clip (the owner's layout changed) moves the picture.
    const RECT smaller{10, 20, 10 + clip.width / 2, 20 + clip.height / 2};
    ASSERT_EQ(player->Initialize(owner.hwnd, &smaller), S_OK);
    GetWindowRect(video, &placed);
    MapWindowPoints(nullptr, owner.hwnd, reinterpret_cast<POINT*>(&placed), 2);
    EXPECT_TRUE(EqualRect(&placed, &smaller));
    EXPECT_EQ(player->Pause(), S_OK);
    EXPECT_EQ(player->Stop(), S_OK);
    EXPECT_EQ(player->SetPlayRange(LONGLONG(2e7), LONGLONG(1e7)), E_INVALIDARG);
    EXPECT_EQ(player->Close(), S_OK);
    EXPECT_EQ(player->ShowVideo(TRUE), E_UNEXPECTED);
    EXPECT_EQ(ReleaseInterface(&player), S_OK);
}

TEST(ClipPlayerPlayback, PlaysH264InAProgramStreamThroughOurDecoder) {
    comtest::ComScope com;
    comtest::RegistrationLock lock;
    ASSERT_TRUE(lock.Held());
    enginetest::SharedRegistered server(CLIP_PLAYER_DLL);
    ASSERT_TRUE(server.Ok());
    const Clip& clip = kH264Clip;
    std::string path;
    ASSERT_TRUE(testsupport::MediaFixture(clip.command, clip.extension, &path));
    OwnerWindow owner(clip.width, clip.height);
    ASSERT_NE(owner.hwnd, nullptr);
    IClipPlayer* player = nullptr;
    ASSERT_EQ(CreateClipPlayer(&player), S_OK);
    const RECT rect{0, 0, clip.width, clip.height};
    ASSERT_EQ(player->Initialize(owner.hwnd, &rect), S_OK);
    // Without the decoder registered the clip cannot play, and the player says so.
    comtest::Regsvr32(comtest::WinePath(PELLDRIN_AX), true);
    EXPECT_EQ(player->Open(path.c_str(), 0, 0, 0), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(player->ShowVideo(TRUE), E_UNEXPECTED);
    Registered decoder(PELLDRIN_AX);
    ASSERT_TRUE(decoder.Ok());
    ASSERT_EQ(player->Open(path.c_str(), 0, 0, 0), S_OK);
    LONGLONG duration = 0;
    ASSERT_EQ(player->GetDuration(&duration), S_OK);
    // Against the frames ffprobe decodes (its stream duration spans only the PES stamps).
    std::string counted;
    ASSERT_TRUE(testsupport::Ffprobe(
        path, "-select_streams v:0 -count_frames -show_entries stream=nb_read_frames -of csv=p=0", &counted));
    const int frames = std::atoi(counted.c_str());
    ASSERT_GT(frames, 0);
    EXPECT_NEAR(double(duration), frames * 1e7 / clip.frameRate, 1e7 / clip.frameRate);
    const int first = 20, last = 34;
    ASSERT_TRUE(DecodeFfmpegFrames(path, {13, first, last, frames - 1}, clip.width, clip.height));
    ASSERT_EQ(player->ShowVideo(TRUE), S_OK);
    ASSERT_EQ(player->SetRate(1.0f), S_OK);
    EXPECT_EQ(owner.WaitNotice({0x800B, 0x80C8, 0x80CF, 0x80D0, 0x80D1, 0x80D2, 0x80D3}, 10000), 0x80C8u);
    // The window shows the clip's last frame.
    owner.WaitNotice({}, 300);
    const Picture shown = owner.Screen(clip.width, clip.height);
    SaveBmp(shown, "clip_player_h264_window.bmp");
    EXPECT_GT(Psnr(shown, FfmpegFrame(path, frames - 1, clip.width, clip.height)), 30.0);
    EXPECT_EQ(player->Stop(), S_OK);
    // A range inside the clip, beginning between two IDR pictures: the stopped player
    // shows its first frame, plays to its end and reports the end of a range.
    ASSERT_EQ(
        player->SetPlayRange(LONGLONG(first * 1e7 / clip.frameRate), LONGLONG((last + 0.5) * 1e7 / clip.frameRate)),
        S_OK);
    owner.WaitNotice({}, 500);
    const Picture cued = owner.Screen(clip.width, clip.height);
    const double atFirst = Psnr(cued, FfmpegFrame(path, first, clip.width, clip.height));
    EXPECT_GT(atFirst, 30.0);
    EXPECT_GT(atFirst, Psnr(cued, FfmpegFrame(path, 13, clip.width, clip.height)) + 3);  // not the IDR before it
    ASSERT_EQ(player->SetRate(1.0f), S_OK);
    EXPECT_EQ(owner.WaitNotice({0x800B, 0x80C8, 0x80CF, 0x80D0, 0x80D1, 0x80D2, 0x80D3}, 10000), 0x800Bu);
    owner.WaitNotice({}, 300);
    const Picture ended = owner.Screen(clip.width, clip.height);
    const double atLast = Psnr(ended, FfmpegFrame(path, last, clip.width, clip.height));
    EXPECT_GT(atLast, 30.0);
    EXPECT_GT(atLast, Psnr(ended, FfmpegFrame(path, frames - 1, clip.width, clip.height)) + 3);
    // A new range while playing: the stream restarts there and ends at its end.
    ASSERT_EQ(player->SetPlayRange(0, duration), S_OK);
    ASSERT_EQ(player->SetRate(1.0f), S_OK);
    owner.WaitNotice({}, 200);
    ASSERT_EQ(
        player->SetPlayRange(LONGLONG(first * 1e7 / clip.frameRate), LONGLONG((last + 0.5) * 1e7 / clip.frameRate)),
        S_OK);
    EXPECT_EQ(owner.WaitNotice({0x800B, 0x80C8, 0x80CF, 0x80D0, 0x80D1, 0x80D2, 0x80D3}, 10000), 0x800Bu);
    owner.WaitNotice({}, 300);
    EXPECT_GT(Psnr(owner.Screen(clip.width, clip.height), FfmpegFrame(path, last, clip.width, clip.height)), 30.0);
    EXPECT_EQ(player->Stop(), S_OK);
    EXPECT_EQ(player->Close(), S_OK);
    EXPECT_EQ(ReleaseInterface(&player), S_OK);
}

}  // namespace
