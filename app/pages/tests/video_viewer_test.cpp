// The video viewer under the test display with the registered clip player: it opens
// ffmpeg-made clips of the four kinds and our encoder's H.264 in a program stream, plays
// (what the screen shows against ffmpeg's frame at the reported position), pauses, steps,
// seeks by the slider and the time field and stops, at positions ffprobe agrees with; and
// it sizes itself by the fit-to-screen rule.
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/pages/video_viewer_dlg.h"
#include "app/resources/resource_ids.h"
#include "app/skin/skin_volume.h"
#include "app/skin/tests/one_card_mixer.h"
#include "app/skin/tests/window_support.h"
#include "engines/client/engine_client.h"
#include "engines/interfaces.h"
#include "engines/tests/registered.h"
#include "filters/base/tests/com_test_util.h"
#include "tests/support/ffprobe.h"
#include "tests/support/media_fixture.h"
#include "tests/support/ombrisk_fixture.h"
#include "tests/support/screen.h"
#include "tests/support/shell.h"

namespace {

using enginetest::Registered;

// Luma of 0x00RRGGBB pixels, ITU-R BT.601 weights.
double Luma(uint32_t p) {
    return 0.299 * ((p >> 16) & 0xFF) + 0.587 * ((p >> 8) & 0xFF) + 0.114 * (p & 0xFF);
}

// What the screen shows in `rect` of `window`'s client area, top-down 0x00RRGGBB.
std::vector<uint32_t> Screen(HWND window, const RECT& rect) {
    const int w = rect.right - rect.left, h = rect.bottom - rect.top;
    std::vector<uint32_t> pixels(size_t(w) * h);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = SelectObject(memory, bitmap);
    POINT origin{rect.left, rect.top};
    ClientToScreen(window, &origin);
    BitBlt(memory, 0, 0, w, h, screen, origin.x, origin.y, SRCCOPY);
    SelectObject(memory, old);
    BITMAPINFO want{};
    want.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    GetDIBits(memory, bitmap, 0, h, pixels.data(), &want, DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

// ffmpeg's frames of a 25-frame clip, scaled to w x h, top-down 0x00RRGGBB; frame n shows
// from n x 40 ms.
constexpr int64_t kFrame = 400000;
std::vector<std::vector<uint32_t>> FfmpegFrames(const std::string& clip, int w, int h) {
    const std::string out = testsupport::UniqueName("frames") + ".bgra";
    testsupport::RunShell("ffmpeg -v error -y -i '" + testsupport::FixtureName(clip) + "' -an -vf 'scale=" +
                              std::to_string(w) + ":" + std::to_string(h) + "' -pix_fmt bgra -f rawvideo '" + out + "'",
                          testsupport::UniqueName("ffmpeg") + ".log");
    const std::string bytes = testsupport::ReadFixtureFile(out);
    const size_t one = size_t(w) * h * 4;
    std::vector<std::vector<uint32_t>> frames;
    for (size_t at = 0; one && at + one <= bytes.size(); at += one) {
        frames.emplace_back(size_t(w) * h);
        memcpy(frames.back().data(), bytes.data() + at, one);
    }
    return frames;
}
const std::vector<uint32_t>& FrameAt(const std::vector<std::vector<uint32_t>>& frames, int64_t time) {
    static const std::vector<uint32_t> none;
    const int64_t n = time / kFrame;
    return n >= 0 && n < int64_t(frames.size()) ? frames[size_t(n)] : none;
}

double Psnr(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
    if (a.size() != b.size() || a.empty()) return 0;
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        const double d = Luma(a[i] & 0xFFFFFF) - Luma(b[i] & 0xFFFFFF);
        sum += d * d;
    }
    const double mse = sum / double(a.size());
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

// The PSNR of the picture in `rect` against `expected` once the window shows it: a paused
// player draws the frame of a seek when its decoder gets to it, later on a loaded machine, so
// the screen is read again for up to 5 s until it matches (above 30 dB).
double ShownPsnr(HWND window, const RECT& rect, const std::vector<uint32_t>& expected) {
    double psnr = Psnr(Screen(window, rect), expected);
    for (int waited = 0; psnr <= 30.0 && waited < 5000; waited += 100) {
        Pump(100);
        psnr = Psnr(Screen(window, rect), expected);
    }
    return psnr;
}

// The clip's duration by the clip player, as the view-media command's probe gives it.
int64_t ProbeDuration(const std::string& path) {
    IClipPlayer* player = nullptr;
    if (FAILED(CreateClipPlayer(&player))) return -1;
    LONGLONG duration = -1;
    if (SUCCEEDED(player->Open(path.c_str(), 0, 0, 0))) player->GetDuration(&duration);
    player->Release();
    return duration;
}

// ffprobe's duration of the clip's video: the frames it decodes at its frame rate.
int64_t FfprobeDuration(const std::string& path) {
    std::string out;
    if (!testsupport::Ffprobe(path,
                              "-select_streams v:0 -count_frames -show_entries stream=nb_read_frames,r_frame_rate "
                              "-of csv=p=0",
                              &out))
        return -1;
    const auto rows = testsupport::CsvRows(out);
    if (rows.empty() || rows[0].size() < 2) return -1;
    const std::string rate = rows[0][0];
    const double num = std::atof(rate.c_str());
    const size_t slash = rate.find('/');
    const double den = slash == std::string::npos ? 1 : std::atof(rate.c_str() + slash + 1);
    return int64_t(std::atoll(rows[0][1].c_str()) * 1e7 * den / num);
}

class VideoViewerTest : public SkinLayoutTest {
protected:
    static void SetUpTestSuite() {
        SkinLayoutTest::SetUpTestSuite();
        AfxSetMessageBoxHook([](const MessageBoxRequest& r) {
            ADD_FAILURE() << "unexpected message: " << r.text.c_str();
            return IDOK;
        });
    }
    static void TearDownTestSuite() {
        AfxSetMessageBoxHook(nullptr);
        SkinLayoutTest::TearDownTestSuite();
    }
};

struct Clip {
    const char* name;
    const char* command;  // nullptr: our encoder's H.264 in a program stream
    int width, height;
    // The screen's picture is compared with ffmpeg's frame of the position.
    bool screenCheck;
};

const Clip kClips[] = {
    {"MPEG-2 PS",
     "ffmpeg -f lavfi -i testsrc=size=640x480:rate=25 -f lavfi -i sine=sample_rate=48000 -t 3 "
     "-c:v mpeg2video -q:v 2 -c:a mp2 -f vob {out}",
     640, 480, true},
    {"AVI", "ffmpeg -f lavfi -i testsrc=size=640x480:rate=25 -t 3 -c:v mjpeg -q:v 2 {out}", 640, 480, true},
    {"DV AVI",
     "ffmpeg -f lavfi -i testsrc=size=720x576:rate=25 -f lavfi -i sine=sample_rate=48000 -t 3 -c:v dvvideo "
     "-pix_fmt yuv420p -c:a pcm_s16le {out}",
     720, 576, true},
    {"H.264 PS", nullptr, 640, 480, true},
};

TEST_F(VideoViewerTest, PlaysPausesStepsAndSeeksTheFourKindsAtFfprobesPositions) {
    comtest::ComScope com;
    enginetest::RegisteredPlayback registered(CLIP_PLAYER_DLL, PELLDRIN_AX);
    ASSERT_TRUE(registered.Ok());
    const int64_t frame = 400000;  // the PAL TV format's frame, the test prefix's setting
    for (const Clip& clip : kClips) {
        SCOPED_TRACE(clip.name);
        std::string path;
        if (clip.command) {
            ASSERT_TRUE(testsupport::MediaFixture(clip.command, clip.name[0] == 'M' ? "mpg" : "avi", &path));
        } else {
            ASSERT_TRUE(testsupport::OmbriskProgramStream(
                "ffmpeg -f lavfi -i testsrc=size=640x480:rate=25 -t 3 -pix_fmt yuv420p {out}", "25", 2, 12, &path));
        }
        const int64_t end = ProbeDuration(path);
        ASSERT_GT(end, 0);
        EXPECT_NEAR(double(end), double(FfprobeDuration(path)), double(frame));

        CVideoViewerDlg viewer(path.c_str(), 0, end, nullptr);
        viewer.FitViewerToScreen(clip.width, clip.height);
        ASSERT_TRUE(viewer.Create(IDD_VIDEO_VIEWER, nullptr));
        SetWindowPos(viewer.m_hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        Pump(500);
        ASSERT_TRUE(IsWindowVisible(viewer.m_hWnd));
        EXPECT_EQ(viewer.PlayState(), 1);
        EXPECT_EQ(viewer.SliderPosition(), 0);
        const RECT video = viewer.VideoRect();
        const int vw = video.right - video.left, vh = video.bottom - video.top;
        // The picture keeps the clip's shape.
        EXPECT_NEAR(double(vw) / vh, double(clip.width) / clip.height, 0.02);

        // Playing: the screen shows ffmpeg's frame at the position the player reports. The
        // system's filter graph under Wine starts its filters 200 ms after the clock time it
        // takes as the start of the stream, and reports positions from that time: the picture
        // runs 200 ms (5 frames) behind the position. The frame shown may further be the one
        // before (drawn a little late, or captured just before the next is drawn).
        // On a loaded machine the graph starts, and the renderer draws, later still: each of
        // the three checks waits until the position is past the graph's delay (a frame of the
        // clip is due on the screen), then reads the screen and the positions around it again
        // while the clip plays until the picture is a frame of that span. A player that shows
        // other frames than those of its position never matches.
        const std::vector<std::vector<uint32_t>> frames = FfmpegFrames(path, vw, vh);
        ASSERT_EQ(frames.size(), 75u);
        viewer.Play();
        EXPECT_EQ(viewer.PlayState(), 2);
        constexpr int64_t kGraphDelay = 2000000;
        LONGLONG started = 0;
        for (int waited = 0; waited < 10000 && started <= kGraphDelay + 4 * kFrame; waited += 20) {
            Pump(20);
            ASSERT_EQ(viewer.Player()->GetPosition(&started), S_OK);
        }
        for (int capture = 0; capture < 3; ++capture) {
            double best = 0;
            LONGLONG before = 0, after = 0;
            for (;;) {
                // Read first: positions short of the end after it mean the clip was playing then.
                const int state = viewer.PlayState();
                ASSERT_EQ(viewer.Player()->GetPosition(&before), S_OK);
                const std::vector<uint32_t> shown = Screen(viewer.m_hWnd, video);
                ASSERT_EQ(viewer.Player()->GetPosition(&after), S_OK);
                ASSERT_LT(after, end - kFrame) << "no match before the clip's end; best " << best;
                EXPECT_EQ(state, 2) << "stopped before the clip's end";
                best = 0;
                for (int64_t t = before - kGraphDelay - 2 * kFrame; t <= after - kGraphDelay + kFrame; t += kFrame)
                    best = std::max(best, Psnr(shown, FrameAt(frames, t)));
                if (!clip.screenCheck || best > 30.0) break;
                Pump(20);
            }
            if (clip.screenCheck) {
                EXPECT_GT(best, 30.0) << "at " << before / double(kFrame) << " frames";
            }
            Pump(200);
        }

        // Paused, then one frame forward and back.
        viewer.Pause();
        EXPECT_EQ(viewer.PlayState(), 1);
        Pump(200);
        const int64_t paused = viewer.SliderPosition();
        viewer.FrameStep(true);
        EXPECT_EQ(viewer.SliderPosition(), paused + frame);
        // The time field counts whole frames.
        EXPECT_NEAR(double(viewer.TimeFieldTime()), double(paused + frame), double(frame));
        viewer.FrameStep(false);
        viewer.FrameStep(false);
        EXPECT_EQ(viewer.SliderPosition(), std::max<int64_t>(paused - frame, 0));

        // A seek with the slider and one typed into the time field: the player is there and
        // the screen shows ffmpeg's frame of that time.
        // A paused player holds the position of a seek at once; the picture comes when the
        // decoder gets to it, which ShownPsnr waits for.
        const int64_t target = 16 * frame + frame / 4;
        viewer.SlideTo(target);
        LONGLONG position = -1;
        ASSERT_EQ(viewer.Player()->GetPosition(&position), S_OK);
        EXPECT_NEAR(double(position), double(target), double(frame));
        EXPECT_NEAR(double(viewer.TimeFieldTime()), double(target), double(frame));
        if (clip.screenCheck) {
            EXPECT_GT(ShownPsnr(viewer.m_hWnd, video, FrameAt(frames, target)), 30.0);
        }
        const int64_t typed = 40 * frame;
        viewer.TypeTime(typed);
        EXPECT_EQ(viewer.SliderPosition(), typed);
        ASSERT_EQ(viewer.Player()->GetPosition(&position), S_OK);
        EXPECT_NEAR(double(position), double(typed), double(frame));
        if (clip.screenCheck) {
            EXPECT_GT(ShownPsnr(viewer.m_hWnd, video, FrameAt(frames, typed)), 30.0);
        }
        // A typed time past the end is held to the end of the range.
        viewer.TypeTime(end + 50 * frame);
        EXPECT_EQ(viewer.SliderPosition(), end);
        EXPECT_NEAR(double(viewer.TimeFieldTime()), double(end), double(frame));

        // Stop rewinds to the start.
        viewer.Play();
        Pump(300);
        viewer.Stop();
        EXPECT_EQ(viewer.PlayState(), 1);
        EXPECT_EQ(viewer.SliderPosition(), 0);
        EXPECT_EQ(viewer.TimeFieldTime(), 0);
        std::string shot = "video_viewer_" + std::to_string(&clip - kClips) + ".png";
        EXPECT_TRUE(testsupport::CaptureScreen(shot));
        viewer.DestroyWindow();
    }
}

// Fast forward steps through 2x to 16x and back to normal speed; a failure notice stops
// playback and is told once per Play.
TEST_F(VideoViewerTest, FastForwardCyclesItsSpeedsAndAFailureIsToldOncePerPlay) {
    comtest::ComScope com;
    enginetest::SharedRegistered server(CLIP_PLAYER_DLL);
    ASSERT_TRUE(server.Ok());
    std::string path;
    ASSERT_TRUE(testsupport::MediaFixture(kClips[0].command, "mpg", &path));
    CVideoViewerDlg viewer(path.c_str(), 0, ProbeDuration(path), nullptr);
    ASSERT_TRUE(viewer.Create(IDD_VIDEO_VIEWER, nullptr));
    Pump(300);
    HWND label = GetDlgItem(viewer.m_hWnd, 7116);
    ASSERT_NE(label, nullptr);
    EXPECT_FALSE(IsWindowVisible(label));
    for (const double rate : {2.0, 4.0, 8.0, 16.0, 1.0}) {
        viewer.FastForward();
        EXPECT_EQ(viewer.Rate(), rate);
        EXPECT_EQ(viewer.PlayState(), 2);
        EXPECT_EQ(IsWindowVisible(label) != FALSE, rate != 1.0) << rate;
    }
    static std::vector<std::string> told;
    told.clear();
    AfxSetMessageBoxHook([](const MessageBoxRequest& r) {
        told.push_back(r.text.c_str());
        return IDOK;
    });
    viewer.Play();
    PostMessageW(viewer.m_hWnd, 0x80CF, 0, 0);
    PostMessageW(viewer.m_hWnd, 0x80CF, 0, 0);
    Pump(300);
    EXPECT_EQ(viewer.PlayState(), 1);
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0], std::string(AfxLoadString(IDS_VIEWER_ABORTED)));
    viewer.Play();
    PostMessageW(viewer.m_hWnd, 0x80CF, 0, 0);
    Pump(300);
    EXPECT_EQ(told.size(), 2u);
    AfxSetMessageBoxHook([](const MessageBoxRequest& r) {
        ADD_FAILURE() << "unexpected message: " << r.text.c_str();
        return IDOK;
    });
    viewer.DestroyWindow();
}

// A key press as the message loop hands it to the viewer, with Ctrl held or not; whether the
// viewer consumed it.
bool Key(CVideoViewerDlg& viewer, WPARAM key, bool ctrl = false) {
    BYTE keys[256] = {};
    GetKeyboardState(keys);
    keys[VK_CONTROL] = ctrl ? 0x80 : 0;
    SetKeyboardState(keys);
    MSG msg{viewer.m_hWnd, WM_KEYDOWN, key, 1, GetTickCount(), {}};
    const BOOL consumed = viewer.PreTranslateMessage(&msg);
    keys[VK_CONTROL] = 0;
    SetKeyboardState(keys);
    Pump(150);
    return consumed != FALSE;
}

// The keyboard runs the transport as the buttons do, and every key is consumed (Enter and
// Esc never close the viewer); the volume popup and Ctrl+Backspace show and set the
// speakers' mute on the volume button.
TEST_F(VideoViewerTest, KeysRunTheTransportAndTheVolumeButtonShowsTheMute) {
    comtest::ComScope com;
    enginetest::SharedRegistered server(CLIP_PLAYER_DLL);
    ASSERT_TRUE(server.Ok());
    static OneCard card;
    card.mute = 1;
    SetMixerApi(&card);
    std::string path;
    ASSERT_TRUE(testsupport::MediaFixture(kClips[1].command, "avi", &path));
    const int64_t end = ProbeDuration(path);
    ASSERT_GT(end, 20000000);
    static CVideoViewerDlg* viewer;
    CVideoViewerDlg dialog(path.c_str(), 0, end, nullptr);
    viewer = &dialog;
    ASSERT_TRUE(dialog.Create(IDD_VIDEO_VIEWER, nullptr));
    Pump(300);
    EXPECT_TRUE(dialog.VolumeLatched()) << "the speakers are muted when the viewer opens";
    constexpr int64_t kAny = -1, kSecond = 10000000;
    struct Step {
        const char* what;
        WPARAM key;
        bool ctrl;
        int state;
        double rate;
        int64_t slider;  // kAny: wherever playback is
    };
    const Step steps[] = {
        {"Space plays", VK_SPACE, false, 2, 1.0, kAny},
        {"F plays fast", 'F', false, 2, 2.0, kAny},
        {"Esc does not stop fast playback", VK_ESCAPE, false, 2, 2.0, kAny},
        {"Space returns to normal speed", VK_SPACE, false, 2, 1.0, kAny},
        {"Space pauses", VK_SPACE, false, 1, 1.0, kAny},
        {"Home goes to the start", VK_HOME, false, 1, 1.0, 0},
        {"Page Down goes 1 s on", VK_NEXT, false, 1, 1.0, kSecond},
        {"'.' steps a frame on", VK_OEM_PERIOD, false, 1, 1.0, kSecond + kFrame},
        {"',' steps a frame back", VK_OEM_COMMA, false, 1, 1.0, kSecond},
        {"Page Up goes 1 s back", VK_PRIOR, false, 1, 1.0, 0},
        {"Page Up stops at the start", VK_PRIOR, false, 1, 1.0, 0},
        // A seek to the clip's very end is made 80 ms before it, and shown there.
        {"End goes to the end", VK_END, false, 1, 1.0, end - 800000},
        {"Page Down stops at the end", VK_NEXT, false, 1, 1.0, end - 800000},
        {"Home again", VK_HOME, false, 1, 1.0, 0},
        {"Space plays again", VK_SPACE, false, 2, 1.0, kAny},
        {"'[' pauses", VK_OEM_4, false, 1, 1.0, kAny},
        {"Space plays once more", VK_SPACE, false, 2, 1.0, kAny},
        {"Esc stops at the start", VK_ESCAPE, false, 1, 1.0, 0},
        {"Space plays", VK_SPACE, false, 2, 1.0, kAny},
        {"Ctrl+/ stops", VK_OEM_2, true, 1, 1.0, 0},
        {"Enter does nothing", VK_RETURN, false, 1, 1.0, 0},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        EXPECT_TRUE(Key(dialog, step.key, step.ctrl));
        EXPECT_EQ(dialog.PlayState(), step.state);
        EXPECT_EQ(dialog.Rate(), step.rate);
        if (step.slider != kAny) {
            EXPECT_EQ(dialog.SliderPosition(), step.slider);
            LONGLONG position = -1;
            ASSERT_EQ(dialog.Player()->GetPosition(&position), S_OK);
            EXPECT_EQ(position, step.slider);
        }
    }
    EXPECT_TRUE(IsWindow(dialog.m_hWnd));

    // Ctrl+U: the popup runs modally; the user unmutes in it (the popup tells its owner),
    // then clicks outside it.
    card.mute = 1;
    static bool latchedInPopup, popupSeen;
    latchedInPopup = true, popupSeen = false;
    // The popup: a shown window that the viewer owns. The timer runs until it has found it.
    SetTimer(nullptr, 0, 200, [](HWND, UINT, UINT_PTR id, DWORD) {
        HWND popup = nullptr;
        EnumThreadWindows(
            GetCurrentThreadId(),
            [](HWND w, LPARAM found) {
                if (IsWindowVisible(w) && GetWindow(w, GW_OWNER) == viewer->m_hWnd) *reinterpret_cast<HWND*>(found) = w;
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&popup));
        if (!popup) return;
        KillTimer(nullptr, id);
        popupSeen = true;
        card.mute = 0;
        SendMessageW(popup, WM_GVOLUME_MUTE, 0, 0);
        latchedInPopup = viewer->VolumeLatched();
        PostMessageW(popup, WM_GVOLUME_CLOSE, 0, 0);
    });
    EXPECT_TRUE(Key(dialog, 'U', true));
    EXPECT_TRUE(popupSeen);
    EXPECT_FALSE(latchedInPopup) << "the latch follows the popup's mute";
    EXPECT_FALSE(dialog.VolumeLatched());
    // Ctrl+Backspace toggles the mute; the latch shows it.
    EXPECT_TRUE(Key(dialog, VK_BACK, true));
    EXPECT_EQ(card.mute, 1);
    EXPECT_TRUE(dialog.VolumeLatched());
    EXPECT_TRUE(Key(dialog, VK_BACK, true));
    EXPECT_EQ(card.mute, 0);
    EXPECT_FALSE(dialog.VolumeLatched());
    // Backspace alone leaves it.
    EXPECT_TRUE(Key(dialog, VK_BACK));
    EXPECT_EQ(card.mute, 0);
    dialog.DestroyWindow();
    SetMixerApi(nullptr);
}

// A display change rebuilds the slider's images as they were; a press on the window's body
// drags the window.
TEST_F(VideoViewerTest, RedrawsItsSliderAfterADisplayChangeAndMovesByItsBody) {
    comtest::ComScope com;
    enginetest::SharedRegistered server(CLIP_PLAYER_DLL);
    ASSERT_TRUE(server.Ok());
    std::string path;
    ASSERT_TRUE(testsupport::MediaFixture(kClips[1].command, "avi", &path));
    const int64_t end = ProbeDuration(path);
    ASSERT_GT(end, 0);
    CVideoViewerDlg viewer(path.c_str(), 0, end, nullptr);
    ASSERT_TRUE(viewer.Create(IDD_VIDEO_VIEWER, nullptr));
    SetWindowPos(viewer.m_hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    Pump(300);
    const RECT video = viewer.VideoRect();

    // The display change: the slider (its thumb away from the start) looks as before.
    viewer.SlideTo(end / 2);
    Pump(200);
    HWND slider = GetDlgItem(viewer.m_hWnd, 7118);
    ASSERT_NE(slider, nullptr);
    RECT before{}, after{};
    GetWindowRect(slider, &before);
    MapWindowPoints(nullptr, viewer.m_hWnd, reinterpret_cast<POINT*>(&before), 2);
    const std::vector<uint32_t> drawn = Screen(viewer.m_hWnd, before);
    SendMessageW(viewer.m_hWnd, WM_DISPLAYCHANGE, 32,
                 MAKELPARAM(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)));
    RedrawWindow(slider, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    Pump(200);
    GetWindowRect(slider, &after);
    MapWindowPoints(nullptr, viewer.m_hWnd, reinterpret_cast<POINT*>(&after), 2);
    EXPECT_TRUE(EqualRect(&before, &after));
    EXPECT_TRUE(Screen(viewer.m_hWnd, after) == drawn) << "the slider is drawn again as before";

    // A press on the body left of the picture, a move and a release: the window follows.
    RECT window{};
    GetWindowRect(viewer.m_hWnd, &window);
    POINT body{video.left / 2, (video.top + video.bottom) / 2};
    ClientToScreen(viewer.m_hWnd, &body);
    SetCursorPos(body.x, body.y);
    Pump(100);
    INPUT input[3] = {};
    for (INPUT& i : input)
        i.type = INPUT_MOUSE;
    input[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    // Absolute moves: 0-65535 across the screen.
    const auto absolute = [](int at, int extent) { return LONG((at * 65535 + extent / 2) / (extent - 1)); };
    input[1].mi = {absolute(body.x + 40, GetSystemMetrics(SM_CXSCREEN)),
                   absolute(body.y + 30, GetSystemMetrics(SM_CYSCREEN)),
                   0,
                   MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE,
                   0,
                   0};
    input[2].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    // All three at once: the press starts the window's move loop, which takes the move and
    // the release from the queue. Should the loop miss the release, a second one ends it.
    SendInput(3, input, sizeof(INPUT));
    const UINT_PTR watchdog = SetTimer(nullptr, 0, 3000, [](HWND, UINT, UINT_PTR, DWORD) {
        INPUT up{};
        up.type = INPUT_MOUSE;
        up.mi.dwFlags = MOUSEEVENTF_LEFTUP;
        SendInput(1, &up, sizeof up);
    });
    Pump(500);
    KillTimer(nullptr, watchdog);
    RECT moved{};
    GetWindowRect(viewer.m_hWnd, &moved);
    EXPECT_EQ(moved.left - window.left, 40);
    EXPECT_EQ(moved.top - window.top, 30);
    viewer.DestroyWindow();
}

TEST_F(VideoViewerTest, AClipThePlayerCannotOpenEndsTheViewerAtOnce) {
    comtest::ComScope com;
    enginetest::SharedRegistered server(CLIP_PLAYER_DLL);
    ASSERT_TRUE(server.Ok());
    const std::string missing = testsupport::FixturePath(testsupport::UniqueName("missing") + ".mpg");
    CVideoViewerDlg viewer(missing.c_str(), 0, 10000000, nullptr);
    EXPECT_NE(viewer.DoModal(), IDOK);
    EXPECT_EQ(viewer.m_hWnd, nullptr);
}

// A still (one picture, no sound) shows its picture with the transport off: every transport
// button and the slider disabled, "--:--:--:--" in the read-only time field, and Space
// plays nothing.
TEST_F(VideoViewerTest, AStillShowsItsPictureWithTheTransportOff) {
    comtest::ComScope com;
    enginetest::SharedRegistered server(CLIP_PLAYER_DLL);
    ASSERT_TRUE(server.Ok());
    const struct {
        const char* command;
        const char* extension;
    } stills[] = {
        {"ffmpeg -f lavfi -i testsrc=size=640x480:rate=25 -frames:v 1 -c:v mpeg2video -q:v 2 -f vob {out}", "mpg"},
        {"ffmpeg -f lavfi -i testsrc=size=640x480:rate=25 -frames:v 1 -c:v mjpeg -q:v 2 {out}", "avi"},
    };
    for (const auto& still : stills) {
        SCOPED_TRACE(still.extension);
        std::string path;
        ASSERT_TRUE(testsupport::MediaFixture(still.command, still.extension, &path));
        CVideoViewerDlg viewer(path.c_str(), 0, ProbeDuration(path), nullptr);
        viewer.FitViewerToScreen(640, 480);
        ASSERT_TRUE(viewer.Create(IDD_VIDEO_VIEWER, nullptr));
        SetWindowPos(viewer.m_hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        Pump(300);
        DWORD kind = 0;
        ASSERT_EQ(viewer.Player()->GetMediaInfo(&kind), S_OK);
        EXPECT_EQ(kind, 2u);
        for (int id = 7102; id <= 7107; ++id)
            EXPECT_FALSE(IsWindowEnabled(GetDlgItem(viewer.m_hWnd, id))) << id;
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(viewer.m_hWnd, 7118)));
        // The time field shows the unset time and takes no typing.
        HWND field = GetDlgItem(viewer.m_hWnd, 7117);
        SetFocus(field);
        SendMessageW(field, WM_CHAR, '1', 0);
        char text[32] = {};
        GetWindowTextA(field, text, sizeof text);
        EXPECT_STREQ(text, "--:--:--:--");
        Key(viewer, VK_SPACE);
        EXPECT_EQ(viewer.PlayState(), 1);
        const RECT video = viewer.VideoRect();
        const auto frames = FfmpegFrames(path, video.right - video.left, video.bottom - video.top);
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_GT(ShownPsnr(viewer.m_hWnd, video, frames[0]), 30.0);
        viewer.DestroyWindow();
    }
}

// A clip of sound alone: where the machine has no sound output (the test prefix has no
// audio driver) the viewer says so and does not open; with one it opens on the clip.
TEST_F(VideoViewerTest, ASoundClipWithoutASoundOutputIsToldAndNotOpened) {
    comtest::ComScope com;
    enginetest::SharedRegistered server(CLIP_PLAYER_DLL);
    ASSERT_TRUE(server.Ok());
    std::string path;
    ASSERT_TRUE(
        testsupport::MediaFixture("ffmpeg -f lavfi -i sine=sample_rate=44100 -t 2 -c:a pcm_s16le {out}", "avi", &path));
    static std::vector<std::string> told;
    told.clear();
    AfxSetMessageBoxHook([](const MessageBoxRequest& r) {
        told.push_back(r.text.c_str());
        return IDOK;
    });
    const bool soundOutput = waveOutGetNumDevs() != 0;
    CVideoViewerDlg viewer(path.c_str(), 0, ProbeDuration(path), nullptr);
    if (!soundOutput) {
        EXPECT_NE(viewer.DoModal(), IDOK);
        EXPECT_EQ(viewer.m_hWnd, nullptr);
    } else {
        ASSERT_TRUE(viewer.Create(IDD_VIDEO_VIEWER, nullptr));
    }
    AfxSetMessageBoxHook([](const MessageBoxRequest& r) {
        ADD_FAILURE() << "unexpected message: " << r.text.c_str();
        return IDOK;
    });
    if (!soundOutput) {
        ASSERT_EQ(told.size(), 1u);
        EXPECT_EQ(told[0], std::string(AfxLoadString(IDS_VIEWER_NO_SOUND_OUTPUT)));
    } else {
        EXPECT_TRUE(told.empty());
        DWORD kind = 0;
        ASSERT_EQ(viewer.Player()->GetMediaInfo(&kind), S_OK);
        EXPECT_EQ(kind, 3u);
        viewer.DestroyWindow();
    }
}

// The picture size by the screen rule, the window within its track limits, and the picture
// rectangle keeping the clip's shape at every window size.
TEST_F(VideoViewerTest, FitsSmallAndLargeClipsToTheScreen) {
    if (GetSystemMetrics(SM_CYSCREEN) < 768) GTEST_SKIP() << "the rule sizes only on screens 768 pixels high";
    comtest::ComScope com;
    enginetest::SharedRegistered server(CLIP_PLAYER_DLL);
    ASSERT_TRUE(server.Ok());
    struct Case {
        int width, height;
        int videoWidth, videoHeight;
    };
    for (const Case& c : {Case{100, 100, 300, 225}, Case{1920, 1080, 800, 600}}) {
        SCOPED_TRACE(c.width);
        std::string path;
        ASSERT_TRUE(testsupport::MediaFixture("ffmpeg -f lavfi -i testsrc=size=" + std::to_string(c.width) + "x" +
                                                  std::to_string(c.height) +
                                                  ":rate=25 -t 1 -c:v mpeg2video -q:v 4 -f vob {out}",
                                              "mpg", &path));
        CVideoViewerDlg viewer(path.c_str(), 0, ProbeDuration(path), nullptr);
        viewer.FitViewerToScreen(c.width, c.height);
        EXPECT_EQ(viewer.VideoSize().cx, c.videoWidth);
        EXPECT_EQ(viewer.VideoSize().cy, c.videoHeight);
        ASSERT_TRUE(viewer.Create(IDD_VIDEO_VIEWER, nullptr));
        Pump(300);
        RECT client{};
        GetClientRect(viewer.m_hWnd, &client);
        RECT window{};
        GetWindowRect(viewer.m_hWnd, &window);
        const int frameW = (window.right - window.left) - client.right;
        const int frameH = (window.bottom - window.top) - client.bottom;
        const int wantW = std::clamp(13 + c.videoWidth + 13 + frameW, 396, 1304) - frameW;
        const int wantH = std::clamp(11 + c.videoHeight + 92 + frameH, 402, 1074) - frameH;
        EXPECT_EQ(client.right, wantW);
        EXPECT_EQ(client.bottom, wantH);
        // Shrinking stops at the track limits; the picture keeps its shape.
        SetWindowPos(viewer.m_hWnd, nullptr, 0, 0, 100, 100, SWP_NOMOVE | SWP_NOZORDER);
        Pump(200);
        GetWindowRect(viewer.m_hWnd, &window);
        EXPECT_EQ(window.right - window.left, 396);
        EXPECT_EQ(window.bottom - window.top, 402);
        const RECT video = viewer.VideoRect();
        EXPECT_NEAR(double(video.right - video.left) / (video.bottom - video.top), double(c.videoWidth) / c.videoHeight,
                    0.02);
        // The clip player draws into that rectangle.
        HWND child = nullptr;
        for (HWND w = GetWindow(viewer.m_hWnd, GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT)) {
            RECT r{};
            GetWindowRect(w, &r);
            MapWindowPoints(nullptr, viewer.m_hWnd, reinterpret_cast<POINT*>(&r), 2);
            if (r.left == video.left && r.top == video.top && r.right == video.right && r.bottom == video.bottom)
                child = w;
        }
        EXPECT_NE(child, nullptr);
        viewer.DestroyWindow();
    }
}

// The sizes by themselves: clamps at both track limits and the centred picture.
TEST(ViewerSizes, ClampToTheTrackLimitsAndCentreThePicture) {
    const SIZE frame{8, 30};
    ViewerSizes s = ComputeViewerSizes(100, 100, frame);
    EXPECT_EQ(s.clientWidth, 396 - 8);
    EXPECT_EQ(s.clientHeight, 402 - 30);
    // A square picture in a wider area: width cut, centred.
    EXPECT_EQ(s.video.bottom - s.video.top, s.video.right - s.video.left);
    EXPECT_EQ(s.video.top, 11);
    s = ComputeViewerSizes(2000, 1500, frame);
    EXPECT_EQ(s.clientWidth, 1304 - 8);
    EXPECT_EQ(s.clientHeight, 1074 - 30);
    const RECT r = ViewerVideoRect(666, 583, 640, 480);
    EXPECT_EQ(r.left, 13);
    EXPECT_EQ(r.top, 11);
    EXPECT_EQ(r.right, 653);
    EXPECT_EQ(r.bottom, 491);
    // Taller area: the height is cut and the excess halved.
    const RECT tall = ViewerVideoRect(666, 683, 640, 480);
    EXPECT_EQ(tall.top, 11 + (580 - 480) / 2);
    EXPECT_EQ(tall.bottom - tall.top, 480);
}

}  // namespace
