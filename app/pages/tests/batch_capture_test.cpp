// The batch capture: its records and their arithmetic on their own, and the wizard under Wine
// driving the DV engine and the simulated camcorder over a tape of four scenes: the quick scan
// finds the scenes, two of them are joined, the batch records one file per segment (judged by
// ffprobe and by the time codes of their DV frames), the review player shows a captured file,
// a deck that stops answering ends a run with the files kept, and a run stopped by the user
// keeps its files and the list.
#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/pages/batch_capture_dlg.h"
#include "app/pages/batch_capture_model.h"
#include "app/pages/batch_merge_dialogs.h"
#include "app/resources/resource_ids.h"
#include "app/services/settings_keys.h"
#include "app/skin/skin_controls.h"
#include "app/skin/skin_layout.h"
#include "app/skin/skin_list.h"
#include "app/skin/skin_scrollbar.h"
#include "app/skin/tests/window_support.h"
#include "engines/capture_params.h"
#include "engines/dv/dv_frame.h"
#include "engines/tests/dv_deck_support.h"
#include "engines/tests/registered.h"
#include "filters/base/tests/com_test_util.h"
#include "tests/support/ffprobe.h"
#include "tests/support/media_fixture.h"
#include "tests/support/screen.h"
#include "tests/support/shell.h"

namespace {

using batchcap::BatchClipInfo;
using batchcap::PackTimecode;

// ---- the records ----
BatchClipInfo Clip(uint32_t in, uint32_t out, uint64_t startStamp = 0, uint64_t endStamp = 0) {
    BatchClipInfo c;
    c.inTimecode = in;
    c.outTimecode = out;
    c.startStamp = startStamp;
    c.endStamp = endStamp;
    return c;
}

TEST(BatchCaptureModel, SegmentRecordCarriesTimecodesStampsAndTheBatchArea) {
    BatchClipInfo clip =
        Clip(PackTimecode(0, 1, 5, 7), PackTimecode(0, 1, 9, 24), 0x150304050607ull, 0x15030405060Bull);
    clip.scanValue = 0x11223344;
    uint8_t area[engines::kBatchAreaBytes] = {};
    std::snprintf(reinterpret_cast<char*>(area) + 4, 64, "C:\\captures\\Default");
    std::vector<uint8_t> record(engines::kSegmentRecordBytes, 0xEE);
    batchcap::BuildSegmentRecord(clip, 1, area, sizeof area, record.data(), record.size());
    const std::vector<uint8_t> head(record.begin(), record.begin() + 52);
    std::vector<uint8_t> want(52, 0);
    want[4] = 1;
    for (auto [at, v] : std::vector<std::pair<int, int>>{
             {8, 0},  {9, 1},   {10, 5},    {11, 7},    {12, 0x15}, {13, 0x03}, {14, 0x04}, {16, 0x05},
             {17, 6}, {18, 7},  {36, 0x44}, {37, 0x33}, {38, 0x22}, {39, 0x11}, {40, 0},    {41, 1},
             {42, 9}, {43, 24}, {44, 0x15}, {45, 3},    {46, 4},    {48, 5},    {49, 6},    {50, 0x0B}})
        want[size_t(at)] = uint8_t(v);
    EXPECT_EQ(head, want);
    EXPECT_STREQ(reinterpret_cast<const char*>(&record[engines::kSegmentHeaderBytes + 4]), "C:\\captures\\Default");
    // Unknown frames are sent as 255.
    clip.frameFlags = batchcap::kStartFrameUnknown | batchcap::kEndFrameUnknown;
    batchcap::BuildSegmentRecord(clip, 0, area, sizeof area, record.data(), record.size());
    EXPECT_EQ(record[11], 255);
    EXPECT_EQ(record[43], 255);
    EXPECT_EQ(record[4], 0);
}

// The list's bar (0-100) over the rows it can scroll by, both ways, to whole rows.
TEST(BatchCaptureModel, ListScrollBarFollowsWholeRows) {
    const struct {
        int first, rows, visible, bar;
    } cases[] = {
        {0, 10, 3, 0}, {7, 10, 3, 100}, {3, 10, 3, 42}, {9, 10, 3, 100},  // beyond the last page: the end
        {0, 2, 3, 0},  {1, 3, 3, 0},    {0, 0, 0, 0},   {5, 105, 5, 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.first << " of " << c.rows << " rows, " << c.visible << " shown");
        EXPECT_EQ(batchcap::ScrollBarOfRows(c.first, c.rows, c.visible), c.bar);
        const int back = batchcap::FirstRowOfScrollBar(c.bar, c.rows, c.visible);
        EXPECT_EQ(back, std::clamp(c.first, 0, std::max(c.rows - std::max(c.visible, 1), 0)));
    }
    EXPECT_EQ(batchcap::FirstRowOfScrollBar(50, 10, 3), 4) << "3.5 rows: the nearest whole row";
    EXPECT_EQ(batchcap::FirstRowOfScrollBar(-20, 10, 3), 0);
    EXPECT_EQ(batchcap::FirstRowOfScrollBar(250, 10, 3), 7);
}

TEST(BatchCaptureModel, DurationsAndTheirTexts) {
    struct Case {
        uint32_t in, out;
        float rate;
        const char* text;
    } cases[] = {
        {PackTimecode(0, 1, 0, 0), PackTimecode(0, 1, 4, 24), 25.0f, "00:00:04:24"},
        {PackTimecode(0, 1, 5, 20), PackTimecode(0, 2, 5, 3), 25.0f, "00:00:59:08"},
        {PackTimecode(1, 59, 50, 0), PackTimecode(2, 0, 0, 0), 29.97f, "00:00:10:00"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(batchcap::TimeText(batchcap::ClipDuration(Clip(c.in, c.out), c.rate), c.rate), c.text);
    }
    // The tool tip's recording dates: the year of the century turns at 90.
    EXPECT_EQ(batchcap::StampText(0x150304050607ULL), "Date: 04:03:2021\n Time: 05:06:07");
    EXPECT_EQ(batchcap::StampText(0x5F0C1F173B3BULL), "Date: 31:12:1995\n Time: 23:59:59");
    EXPECT_EQ(batchcap::TimecodeSecondsText(PackTimecode(1, 2, 3, 24)), "01:02:03");

    EXPECT_LT(batchcap::ClipDuration(Clip(PackTimecode(0, 0, 9, 0), PackTimecode(0, 0, 8, 0)), 25.0f), 0);
}

TEST(BatchCaptureModel, JoinRunsByTimecodeSelectionAndStamp) {
    const BatchClipInfo a = Clip(PackTimecode(0, 1, 0, 0), PackTimecode(0, 1, 4, 24), 0x150304050607, 0x15030405060B);
    const BatchClipInfo b = Clip(PackTimecode(0, 1, 5, 0), PackTimecode(0, 1, 9, 24), 0x15030405060C, 0x150304050610);
    const BatchClipInfo c = Clip(PackTimecode(0, 1, 2, 0), PackTimecode(0, 1, 8, 0), 0x150304060000, 0x150304060005);
    const BatchClipInfo d = Clip(PackTimecode(0, 1, 9, 0), PackTimecode(0, 1, 20, 0), 0x150305060006, 0x150305060010);
    using Runs = std::vector<std::vector<size_t>>;
    // Mode 0: checked neighbours whose in is not before the previous out; c goes back in time.
    std::vector<batchcap::JoinItem> items = {
        {true, false, &a}, {true, false, &b}, {true, false, &c}, {true, false, &d}};
    EXPECT_EQ(batchcap::JoinRuns(items, 0, 0), (Runs{{0, 1}, {2, 3}}));
    items[1].checked = false;
    EXPECT_EQ(batchcap::JoinRuns(items, 0, 0), (Runs{{2, 3}}));
    // Mode 1: the selected items only.
    items = {{true, true, &a}, {true, true, &b}, {true, false, &c}, {true, true, &d}};
    EXPECT_EQ(batchcap::JoinRuns(items, 1, 0), (Runs{{0, 1}}));
    // Mode 2: same day, start less than the limit after the previous end: a-b 1 s apart,
    // b-c 58 min, c-d on another day.
    items = {{true, false, &a}, {true, false, &b}, {true, false, &c}, {true, false, &d}};
    EXPECT_EQ(batchcap::JoinRuns(items, 2, 2 * batchcap::kUnitsPerSecond), (Runs{{0, 1}}));
    EXPECT_EQ(batchcap::JoinRuns(items, 2, 3600 * batchcap::kUnitsPerSecond), (Runs{{0, 1, 2}}));
    BatchClipInfo joined = a;
    batchcap::JoinInto(&joined, b);
    EXPECT_EQ(joined.outTimecode, b.outTimecode);
    EXPECT_EQ(joined.endStamp, b.endStamp);
    EXPECT_EQ(joined.inTimecode, a.inTimecode);
}

TEST(BatchCaptureModel, ScanPruningSamplesAndUniqueNames) {
    const uint32_t start = PackTimecode(0, 1, 0, 10);
    EXPECT_TRUE(batchcap::PruneSegment(Clip(start, PackTimecode(0, 1, 3, 24))));       // 3 s
    EXPECT_FALSE(batchcap::PruneSegment(Clip(start, PackTimecode(0, 1, 4, 0))));       // 4 s
    EXPECT_TRUE(batchcap::PruneSegment(Clip(start, 0)));                               // no end came
    EXPECT_TRUE(batchcap::PruneSegment(Clip(start, PackTimecode(0, 1, 9, 0), 9, 9)));  // stamps do not move
    EXPECT_FALSE(batchcap::PruneSegment(Clip(start, PackTimecode(0, 1, 9, 0))));       // a tape without dates

    uint8_t raw[32] = {0, 1, 5, 3, 0x15, 0x03, 0x04, 0, 0x05, 0x06, 0x07};
    const int64_t time = 2000000;
    std::memcpy(raw + 16, &time, 8);
    raw[25] = 1;
    raw[26] = 1;
    raw[28] = 4;
    const batchcap::ScanSample s = batchcap::ParseScanSample(raw);
    EXPECT_EQ(s.timecode, PackTimecode(0, 1, 5, 3));
    EXPECT_EQ(s.stamp, 0x150304050607ull);
    EXPECT_EQ(s.mediaTime, time);
    EXPECT_TRUE(s.queued && s.start);
    EXPECT_EQ(s.scanValue, 4u);
    EXPECT_FALSE(batchcap::TimecodeValid(PackTimecode(24, 0, 0, 0)));
    EXPECT_FALSE(batchcap::TimecodeValid(PackTimecode(0, 0, 0, 30)));

    std::vector<std::string> taken = {"C:\\c\\quick_scan.avi", "C:\\c\\quick_scan(0).avi"};
    auto exists = [&](const std::string& p) { return std::find(taken.begin(), taken.end(), p) != taken.end(); };
    EXPECT_EQ(batchcap::MakeUniqueName("C:\\c\\quick_scan.avi", exists), "C:\\c\\quick_scan(1).avi");
    EXPECT_EQ(batchcap::MakeUniqueName("C:\\c\\free.avi", exists), "C:\\c\\free.avi");
}

// ---- the wizard under Wine ----
// Four scenes of 5 s each from 00:01:00:00, recorded 2021-03-04 05:06:07, with sound.
const char* kFourScenes =
    "ffmpeg -filter_complex \"testsrc=s=720x576:r=25:d=5,format=yuv420p[a];smptebars=s=720x576:r=25:d=5,"
    "format=yuv420p[b];mandelbrot=s=720x576:r=25,trim=duration=5,format=yuv420p[c];"
    "color=c=0x3060C0:s=720x576:r=25:d=5,format=yuv420p[d];[a][b][c][d]concat=n=4:v=1:a=0\" "
    "-f lavfi -i sine=sample_rate=48000:duration=20 -c:v dvvideo -c:a pcm_s16le -ac 2 -timecode 00:01:00:00 "
    "-metadata creation_time=2021-03-04T05:06:07Z -f dv {out}";
// The first two of those scenes.
const char* kTwoScenes =
    "ffmpeg -filter_complex \"testsrc=s=720x576:r=25:d=5,format=yuv420p[a];smptebars=s=720x576:r=25:d=5,"
    "format=yuv420p[b];[a][b]concat=n=2:v=1:a=0\" "
    "-f lavfi -i sine=sample_rate=48000:duration=10 -c:v dvvideo -c:a pcm_s16le -ac 2 -timecode 00:01:00:00 "
    "-metadata creation_time=2021-03-04T05:06:07Z -f dv {out}";
// Two scenes of an NTSC tape (29.97 frames a second, time codes counting 30).
const char* kNtscScenes =
    "ffmpeg -filter_complex \"testsrc=s=720x480:r=30000/1001:d=5,format=yuv411p[a];"
    "color=c=0x3060C0:s=720x480:r=30000/1001:d=5,format=yuv411p[b];[a][b]concat=n=2:v=1:a=0\" "
    "-f lavfi -i sine=sample_rate=48000:duration=10 -c:v dvvideo -c:a pcm_s16le -ac 2 -timecode 00:01:00:00 "
    "-f dv {out}";
constexpr int64_t kTapeStart = 60 * 25;  // 00:01:00:00 in frames
constexpr int64_t kScene = 5 * 25;

void SetValue(const char* key, const char* name, DWORD type, const void* data, DWORD bytes) {
    HKEY h = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &h, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(h, name, 0, type, static_cast<const BYTE*>(data), bytes);
    RegCloseKey(h);
}
void SetString(const char* key, const char* name, const std::string& value) {
    SetValue(key, name, REG_SZ, value.c_str(), DWORD(value.size() + 1));
}
void SetSwitch(const char* name, DWORD value) {
    SetValue(kRecordingKey, name, REG_BINARY, &value, sizeof value);
}

// Runs `step` from a thread timer, which also fires inside a modal dialog's loop.
std::function<bool()> g_step;
void CALLBACK RunStep(HWND, UINT, UINT_PTR id, DWORD) {
    if (g_step && g_step()) {
        g_step = nullptr;
        KillTimer(nullptr, id);
    }
}

int64_t Frames(uint32_t tc) {
    return batchcap::TcWholeSeconds(tc) * 25 + batchcap::TcFrames(tc);
}

// The DV page's stand-in: collects the clips the dialog hands over.
class PageStandIn : public CWnd {
public:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == 0x7E8 && wParam) clips.emplace_back(reinterpret_cast<const char*>(wParam));
        if (message == 0x7E9) ++closed;
        return CWnd::WindowProc(message, wParam, lParam);
    }
    std::vector<std::string> clips;
    int closed = 0;
};

class BatchCaptureDialog : public SkinLayoutTest {
protected:
    // The engines are registered once for the program: each registration and removal is a
    // regsvr32 process, seconds of a loaded machine, and no test changes them.
    static void SetUpTestSuite() {
        SkinLayoutTest::SetUpTestSuite();
        deck_ = std::make_unique<enginetest::Registered>(DV_CAMCORDER_DLL);
        engineServer_ = std::make_unique<enginetest::Registered>(DV_CAPTURE_DLL);
        query_ = std::make_unique<enginetest::Registered>(STRING_QUERY_DLL);
        player_ = std::make_unique<enginetest::SharedRegistered>(CLIP_PLAYER_DLL);
        cache_ = std::make_unique<enginetest::SharedRegistered>(THUMBNAIL_CACHE_DLL);
        ASSERT_TRUE(testsupport::MediaFixture(kFourScenes, "dv", &tape_));
    }
    static void TearDownTestSuite() {
        cache_.reset();
        player_.reset();
        query_.reset();
        engineServer_.reset();
        deck_.reset();
        SkinLayoutTest::TearDownTestSuite();
    }
    void SetUp() override {
        ASSERT_TRUE(deck_->Ok() && engineServer_->Ok() && query_->Ok() && player_->Ok() && cache_->Ok());
        enginetest::SetDeck(tape_, 1);
        captures_ = testsupport::FixturePath(testsupport::UniqueName("batch"));
        ASSERT_TRUE(CreateDirectoryA(captures_.c_str(), nullptr));
        SetString(kVistrelKey, "CaptureDir", captures_);
        SetString(kVistrelKey, "CapturePrefix", "Batch");
        for (const char* name : {"NoPreview", "UseOverlay", "NonRealtime", "DVParamSetup"})
            SetSwitch(name, 0);
        AfxSetMessageBoxHook([this](const MessageBoxRequest& r) {
            boxes_.push_back(r.id);
            texts_.emplace_back(r.text.c_str());
            return IDOK;
        });
        ASSERT_EQ(CoCreateInstance(CLSID_SystemLayerDV, nullptr, CLSCTX_INPROC_SERVER, IID_ISystemLayerDV,
                                   reinterpret_cast<void**>(&engine_)),
                  S_OK);
        ASSERT_EQ(engine_->Initialize(), S_OK);
        ASSERT_EQ(engine_->OpenDevice("Simulated DV Camcorder"), S_OK);
        ASSERT_TRUE(
            page_.CreateEx(0, AfxRegisterWndClass(0), "Batch test page", WS_POPUP, CRect(0, 0, 10, 10), nullptr, 0));
    }
    void TearDown() override {
        if (dialog_) {
            dialog_->DestroyWindow();
            delete dialog_;
        }
        page_.DestroyWindow();
        if (engine_) {
            engine_->Uninitialize();
            engine_->Release();
        }
        AfxSetMessageBoxHook(nullptr);
        enginetest::SetDeck(tape_, 1);
    }
    // Puts the tape `command` makes into the deck, playing `speed` times as fast as real
    // time, and opens the deck afresh on it.
    void LoadTape(const char* command, std::string* tape, DWORD speed = 1) {
        ASSERT_TRUE(testsupport::MediaFixture(command, "dv", tape));
        enginetest::SetDeck(*tape, 1, 0, 0, speed);
        engine_->OpenDevice(nullptr);
        ASSERT_EQ(engine_->OpenDevice("Simulated DV Camcorder"), S_OK);
    }
    void Open(float frameRate = 25.0f, const char* device = "Simulated DV Camcorder") {
        dialog_ = new CDVBatchCaptureDlg(&page_);
        dialog_->SetEngine(engine_, &params_, frameRate, device, 2, captures_.c_str());
        ASSERT_TRUE(dialog_->Create(IDD_BATCH_CAPTURE, &page_));
        dialog_->ShowWindow(SW_SHOW);
        Pump(500);
    }
    bool PumpUntil(const std::function<bool()>& done, DWORD ms) {
        const DWORD until = GetTickCount() + ms;
        while (!done()) {
            if (LONG(until - GetTickCount()) <= 0) return false;
            Pump(50);
        }
        return true;
    }
    void Shot(const char* name) {
        Pump(300);
        EXPECT_TRUE(testsupport::CaptureScreen(name));
    }
    std::string Boxes() const {
        std::string text = "step " + std::to_string(dialog_ ? dialog_->GetStep() : -1) + " state " +
                           std::to_string(dialog_ ? dialog_->GetState() : -1) + " scanning " +
                           std::to_string(dialog_ ? dialog_->Scanning() : 0) + " \"" +
                           (dialog_ ? dialog_->Description() : std::string()) + "\" device openings " +
                           std::to_string(dialog_ ? dialog_->DeviceReopens() : -1) + " message boxes:";
        for (UINT id : boxes_)
            text += " " + std::to_string(id);
        for (const std::string& t : texts_)
            text += " [" + t + "]";
        return text;
    }
    // A pixel of the dialog as shown, in its client coordinates.
    COLORREF Pixel(int x, int y) const {
        HDC dc = GetDC(dialog_->m_hWnd);
        const COLORREF c = GetPixel(dc, x, y);
        ReleaseDC(dialog_->m_hWnd, dc);
        return c;
    }
    static bool Near(COLORREF c, COLORREF want, int tolerance = 14) {
        return std::abs(GetRValue(c) - GetRValue(want)) <= tolerance &&
               std::abs(GetGValue(c) - GetGValue(want)) <= tolerance &&
               std::abs(GetBValue(c) - GetBValue(want)) <= tolerance;
    }
    // A skinned button keeps its own enabled state.
    bool Enabled(UINT id) const {
        auto* button = dynamic_cast<CGButtonBase*>(dialog_->Control(id));
        return button ? button->IsEnabled() != 0 : dialog_->Control(id)->IsWindowEnabled() != 0;
    }
    // Waits until the dialog has looked at every device change and is bound to a deck that
    // answers: a deck opened while it was still unplugged reports its loss in turn and is
    // looked for once more.
    bool SettledOnAnsweringDeck() {
        return PumpUntil(
            [&] {
                DWORD mode = 0;
                return !dialog_->DeviceChangePending() &&
                       (dialog_->DeviceCount() == 0 || SUCCEEDED(engine_->GetTransportMode(&mode)));
            },
            30000);
    }
    std::vector<uint32_t> InTimecodes() {
        std::vector<uint32_t> codes;
        for (int i = 0; i < dialog_->List().Count(); ++i)
            codes.push_back(dialog_->List().GetClipRecord(i)->inTimecode);
        return codes;
    }

    comtest::ComScope com_;
    static inline std::unique_ptr<enginetest::Registered> deck_, engineServer_, query_;
    static inline std::unique_ptr<enginetest::SharedRegistered> player_, cache_;
    static inline std::string tape_;
    std::string captures_;
    ISystemLayerDV* engine_ = nullptr;
    engines::CaptureParams params_{};
    PageStandIn page_;
    CDVBatchCaptureDlg* dialog_ = nullptr;
    std::vector<UINT> boxes_;
    std::vector<std::string> texts_;
};

TEST_F(BatchCaptureDialog, ScansJoinsCapturesAndReviews) {
    enginetest::SetDeck(tape_, 1, 0, 0, enginetest::kFastDeck);
    Open();
    ASSERT_EQ(dialog_->GetStep(), CDVBatchCaptureDlg::kStart);
    ASSERT_EQ(dialog_->GetState(), CDVBatchCaptureDlg::kPaused) << "message boxes: " << boxes_.size();
    Shot("batch_step0_start.png");

    // Quick scan: the deck plays the tape to its end, which ends the scan and opens the review.
    dialog_->Press(CDVBatchCaptureDlg::kNext);
    ASSERT_EQ(dialog_->GetStep(), CDVBatchCaptureDlg::kScan);
    ASSERT_TRUE(PumpUntil([&] { return dialog_->List().Count() >= 2; }, 40000)) << Boxes();
    Shot("batch_step1_scanning.png");
    ASSERT_TRUE(PumpUntil([&] { return dialog_->GetStep() == CDVBatchCaptureDlg::kReview; }, 60000));
    const std::vector<uint32_t> starts = InTimecodes();
    ASSERT_EQ(starts.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_NEAR(Frames(starts[i]), kTapeStart + int64_t(i) * kScene, 1);
    }
    EXPECT_NE(dialog_->Player(), nullptr);
    EXPECT_NE(GetFileAttributesA(dialog_->ScanPath().c_str()), INVALID_FILE_ATTRIBUTES);
    Shot("batch_step2_review.png");

    // Scenes 2 and 3 joined: three segments of 5, 10 and 5 s.
    dialog_->List().SelectItems({1, 2});
    dialog_->Press(CDVBatchCaptureDlg::kMerge);
    ASSERT_EQ(dialog_->List().Count(), 3);
    dialog_->List().SelectItems({});

    // The batch: one file per segment, named after the capture prefix, handed to the page.
    dialog_->Press(CDVBatchCaptureDlg::kNext);
    ASSERT_EQ(dialog_->GetStep(), CDVBatchCaptureDlg::kCapture) << "message boxes: " << boxes_.size();
    ASSERT_TRUE(PumpUntil([&] { return dialog_->CapturedFiles().size() >= 1; }, 60000));
    Shot("batch_step3_capturing.png");
    ASSERT_TRUE(PumpUntil([&] { return dialog_->GetStep() == CDVBatchCaptureDlg::kCaptured; }, 120000));
    const std::vector<std::string> files = dialog_->CapturedFiles();
    ASSERT_EQ(files.size(), 3u) << "message boxes: " << boxes_.size();
    EXPECT_EQ(page_.clips, files);
    EXPECT_EQ(files[0], captures_ + "\\Batch.avi");
    EXPECT_EQ(files[1], captures_ + "\\Batch(0).avi");
    const int64_t spans[3][2] = {{kTapeStart, kTapeStart + kScene - 1},
                                 {kTapeStart + kScene, kTapeStart + 3 * kScene - 1},
                                 {kTapeStart + 3 * kScene, kTapeStart + 4 * kScene - 1}};
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(files[i]);
        const std::vector<int64_t> codes = enginetest::FrameTimecodes(files[i]);
        ASSERT_FALSE(codes.empty());
        EXPECT_EQ(codes.front(), spans[i][0]);
        EXPECT_EQ(codes.back(), spans[i][1]);
        // Continuous: every frame follows the one before.
        for (size_t k = 1; k < codes.size(); ++k)
            ASSERT_EQ(codes[k], codes[k - 1] + 1) << "frame " << k;
        EXPECT_NEAR(enginetest::ProbeSeconds(files[i]), double(spans[i][1] - spans[i][0] + 1) / 25, 0.05);
    }
    // The review player shows the first captured file, played for a moment.
    EXPECT_EQ(dialog_->ReviewFile(), files[0]) << std::hex << dialog_->ReviewOpenResult() << " " << Boxes();
    dialog_->Press(CDVBatchCaptureDlg::kReviewPlay);
    Pump(1500);
    dialog_->Press(CDVBatchCaptureDlg::kReviewPause);
    Shot("batch_step4_review_player.png");
}

// Runs that end early, on a tape of two scenes: one the user stops after its first segment,
// back to the review with its list, and one whose deck stops answering after its first
// segment, which ends with a message. Each keeps the file it recorded.
TEST_F(BatchCaptureDialog, RunsStoppedByTheUserOrByAnUnansweringDeckKeepTheirFiles) {
    std::string tape;
    ASSERT_NO_FATAL_FAILURE(LoadTape(kTwoScenes, &tape, enginetest::kFastDeck));
    Open();
    dialog_->Press(CDVBatchCaptureDlg::kNext);
    ASSERT_TRUE(PumpUntil([&] { return dialog_->GetStep() == CDVBatchCaptureDlg::kReview; }, 60000)) << Boxes();
    ASSERT_EQ(dialog_->List().Count(), 2) << Boxes();
    // The runs race the user's stop and the deck's silence against the tape: in real time.
    enginetest::SetDeck(tape, 1);

    // Stopped by the user after its first segment: the file and the list stay.
    dialog_->Press(CDVBatchCaptureDlg::kNext);
    ASSERT_EQ(dialog_->GetStep(), CDVBatchCaptureDlg::kCapture);
    ASSERT_TRUE(PumpUntil([&] { return dialog_->CapturedFiles().size() >= 1; }, 60000)) << Boxes();
    const std::string kept = dialog_->CapturedFiles()[0];
    dialog_->Press(CDVBatchCaptureDlg::kBack);
    Pump(500);
    EXPECT_EQ(dialog_->GetStep(), CDVBatchCaptureDlg::kReview);
    EXPECT_FALSE(dialog_->BatchRunning());
    EXPECT_EQ(dialog_->List().Count(), 2);
    const std::vector<int64_t> codes = enginetest::FrameTimecodes(kept);
    ASSERT_EQ(codes.size(), size_t(kScene)) << kept << " " << Boxes();
    EXPECT_EQ(codes.front(), kTapeStart);

    // A deck that stops answering after the first segment: the run ends with a message and
    // the file it recorded stays.
    boxes_.clear();
    texts_.clear();
    dialog_->Press(CDVBatchCaptureDlg::kNext);
    ASSERT_TRUE(PumpUntil([&] { return dialog_->CapturedFiles().size() >= 1; }, 60000)) << Boxes();
    enginetest::SetDeck(tape, 1, 1);
    ASSERT_TRUE(PumpUntil([&] { return dialog_->GetStep() == CDVBatchCaptureDlg::kCaptured; }, 150000)) << Boxes();
    const std::string early = AfxLoadString(IDS_BATCH_ENDED_EARLY).c_str();
    EXPECT_EQ(std::count_if(texts_.begin(), texts_.end(),
                            [&](const std::string& t) { return t.compare(0, 30, early, 0, 30) == 0; }),
              1)
        << Boxes();
    ASSERT_GE(dialog_->CapturedFiles().size(), 1u);
    const std::vector<int64_t> first = enginetest::FrameTimecodes(dialog_->CapturedFiles()[0]);
    ASSERT_EQ(first.size(), size_t(kScene)) << Boxes();
    EXPECT_EQ(first.front(), kTapeStart);
}

// The shuttle drives the deck while it is dragged and leaves it paused; a deck unplugged
// while the dialog is open is looked for again, and the dialog follows what it finds.
TEST_F(BatchCaptureDialog, ShuttleLeavesTheDeckPausedAndAnUnpluggedDeckIsLookedForAgain) {
    Open();
    auto* caption = dialog_->Control(CDVBatchCaptureDlg::kTimecodeCaption);
    ASSERT_NE(caption, nullptr) << "the time code's caption under its own id";
    EXPECT_EQ(caption->GetDlgCtrlID(), int(CDVBatchCaptureDlg::kTimecodeCaption));
    const SkinStaticNode* strip = CSkinLayout::FindStatic("BATCH", "LAYOUT1", "IDC_SLIDER_SHUTTLE");
    ASSERT_NE(strip, nullptr);
    const HWND w = dialog_->m_hWnd;
    const int y = strip->top + strip->height / 2;
    SendMessageA(w, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(strip->left + strip->width * 3 / 4, y));
    EXPECT_EQ(dialog_->ShuttlePosition(), 24);
    SendMessageA(w, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(strip->left + strip->width + 30, y));
    EXPECT_EQ(dialog_->ShuttlePosition(), 31);
    EXPECT_TRUE(Enabled(CDVBatchCaptureDlg::kShuttleRight));
    EXPECT_FALSE(Enabled(CDVBatchCaptureDlg::kShuttleLeft));
    Pump(500);
    SendMessageA(w, WM_LBUTTONUP, 0, MAKELPARAM(strip->left + strip->width + 30, y));
    EXPECT_EQ(dialog_->ShuttlePosition(), 16) << "dragged right: the standstill on the forward side";
    EXPECT_EQ(dialog_->GetState(), CDVBatchCaptureDlg::kPaused);
    DWORD mode = 0;
    ASSERT_EQ(engine_->GetTransportMode(&mode), S_OK);
    EXPECT_EQ(mode, DWORD(engines::kTransportFreeze));
    EXPECT_FALSE(Enabled(CDVBatchCaptureDlg::kShuttleRight));
    Shot("batch_step0_shuttle.png");

    dialog_->Press(CDVBatchCaptureDlg::kTapePlay);
    Pump(500);
    enginetest::SetDeck(tape_, 0);
    Pump(1000);
    // The devices are looked for once the deck stands still.
    EXPECT_EQ(dialog_->DeviceReopens(), 0);
    dialog_->Press(CDVBatchCaptureDlg::kTapeStop);
    ASSERT_TRUE(PumpUntil([&] { return dialog_->DeviceReopens() >= 1; }, 20000)) << Boxes();
    enginetest::SetDeck(tape_, 1);
    ASSERT_TRUE(SettledOnAnsweringDeck()) << Boxes();
    if (dialog_->DeviceLabelText().empty()) {
        // Nothing found: the tape can be neither moved nor scanned.
        EXPECT_FALSE(Enabled(CDVBatchCaptureDlg::kTapePlay));
        EXPECT_FALSE(Enabled(CDVBatchCaptureDlg::kNext));
    } else {
        // Found again: a lone deck's label without the "1. " of a list (judged by the list the
        // dialog itself found, not by a later look that may differ); the deck paused.
        const std::string label = dialog_->DeviceLabelText();
        EXPECT_NE(label.find("Simulated DV Camcorder"), std::string::npos) << label;
        if (dialog_->DeviceCount() == 1) {
            EXPECT_NE(label.substr(0, 3), "1. ");
        }
        EXPECT_EQ(dialog_->GetState(), CDVBatchCaptureDlg::kPaused) << Boxes();
    }
}

// Of the camcorder's two decks the page lent the second: unplugged and found again, that deck
// is bound again, not the first of the list.
TEST_F(BatchCaptureDialog, ADeckFoundAgainAmongSeveralIsTheOneThatWasOpen) {
    const char* second = "Simulated DV Camcorder (Second deck)";
    engine_->OpenDevice(nullptr);
    ASSERT_EQ(engine_->OpenDevice(second), S_OK);
    Open(25.0f, second);
    enginetest::SetDeck(tape_, 0);
    ASSERT_TRUE(PumpUntil([&] { return dialog_->DeviceReopens() >= 1; }, 20000)) << Boxes();
    enginetest::SetDeck(tape_, 1);
    ASSERT_TRUE(SettledOnAnsweringDeck()) << Boxes();
    ASSERT_GT(dialog_->DeviceCount(), 1u);
    EXPECT_NE(dialog_->DeviceLabelText().find("Second deck"), std::string::npos) << dialog_->DeviceLabelText();
    EXPECT_EQ(dialog_->GetState(), CDVBatchCaptureDlg::kPaused) << Boxes();
}

// The deck unplugged in the middle of a scan: the scan ends with the scenes found so far; and
// in the middle of a batch: the run ends with a message, the files recorded stay.
TEST_F(BatchCaptureDialog, ADeckUnpluggedDuringTheScanOrTheBatchKeepsWhatWasDone) {
    enginetest::SetDeck(tape_, 1, 0, 0, enginetest::kFastDeck);
    Open();
    dialog_->Press(CDVBatchCaptureDlg::kNext);
    // Two whole scenes and the start of a third.
    ASSERT_TRUE(PumpUntil([&] { return dialog_->List().Count() >= 3; }, 40000)) << Boxes();
    enginetest::SetDeck(tape_, 0);
    Pump(1500);
    enginetest::SetDeck(tape_, 1, 0, 0, enginetest::kFastDeck);
    ASSERT_TRUE(PumpUntil([&] { return dialog_->GetStep() == CDVBatchCaptureDlg::kReview; }, 30000)) << Boxes();
    const int kept = dialog_->List().Count();
    std::string spans;
    for (int i = 0; i < kept; ++i)
        spans += " " + std::to_string(Frames(dialog_->List().GetClipRecord(i)->inTimecode)) + "-" +
                 std::to_string(Frames(dialog_->List().GetClipRecord(i)->outTimecode));
    SCOPED_TRACE(spans);
    EXPECT_GE(kept, 2);
    EXPECT_LT(kept, 4) << "the scan ended at the removal";
    ASSERT_TRUE(PumpUntil([&] { return dialog_->DeviceReopens() >= 1; }, 20000)) << Boxes();
    ASSERT_TRUE(SettledOnAnsweringDeck()) << Boxes();
    ASSERT_FALSE(dialog_->DeviceLabelText().empty()) << "found again once plugged in: " << Boxes();

    boxes_.clear();
    texts_.clear();
    dialog_->Press(CDVBatchCaptureDlg::kNext);
    ASSERT_EQ(dialog_->GetStep(), CDVBatchCaptureDlg::kCapture) << Boxes();
    ASSERT_TRUE(PumpUntil([&] { return dialog_->CapturedFiles().size() >= 1; }, 60000)) << Boxes();
    enginetest::SetDeck(tape_, 0);
    ASSERT_TRUE(PumpUntil([&] { return dialog_->GetStep() == CDVBatchCaptureDlg::kCaptured; }, 90000)) << Boxes();
    EXPECT_FALSE(dialog_->BatchRunning());
    EXPECT_FALSE(boxes_.empty()) << "the user is told the run ended early: " << Boxes();
    const std::vector<std::string> files = dialog_->CapturedFiles();
    ASSERT_GE(files.size(), 1u);
    EXPECT_LE(files.size(), size_t(kept))
        << "the segment cut short by the removal is kept too, if any of it was recorded";
    // The first segment was recorded whole on the deck found again, before the removal.
    const std::vector<int64_t> codes = enginetest::FrameTimecodes(files[0]);
    ASSERT_FALSE(codes.empty()) << files[0] << " " << Boxes();
    EXPECT_EQ(codes.front(), kTapeStart);
    EXPECT_EQ(codes.back(), kTapeStart + kScene - 1) << Boxes();
    EXPECT_EQ(enginetest::ProbeFrames(files[0]), kScene);
    EXPECT_NEAR(enginetest::ProbeSeconds(files[0]), double(kScene) / 25, 0.05);
    EXPECT_EQ(dialog_->List().Count(), kept);
}

// An NTSC tape: the scan finds its scenes by their 30-frame time codes, and the review fits
// the picture at its own shape and plays the scan file.
TEST_F(BatchCaptureDialog, AnNtscTapeIsScannedAndReviewedAtItsOwnRate) {
    std::string ntsc;
    ASSERT_NO_FATAL_FAILURE(LoadTape(kNtscScenes, &ntsc));
    // The engine knows the tape's system once a frame has come, as it has under the page.
    engine_->Play();
    ASSERT_TRUE(PumpUntil(
        [&] {
            float rate = 0;
            return SUCCEEDED(engine_->GetFrameRate(&rate)) && rate > 29.0f;
        },
        10000));
    engine_->Pause();
    Pump(500);
    enginetest::SetDeck(ntsc, 1, 0, 0, enginetest::kFastDeck);  // the scan needs the frames, not their pace
    Open(29.97f);
    EXPECT_NEAR(dialog_->FrameRate(), 29.97f, 0.01f);
    const RECT& r = dialog_->PreviewRect();
    EXPECT_EQ(r.right - r.left, 360);
    EXPECT_EQ(r.bottom - r.top, 240);
    dialog_->Press(CDVBatchCaptureDlg::kNext);
    ASSERT_TRUE(PumpUntil([&] { return dialog_->GetStep() == CDVBatchCaptureDlg::kReview; }, 60000)) << Boxes();
    const std::vector<uint32_t> starts = InTimecodes();
    ASSERT_EQ(starts.size(), 2u) << Boxes();
    // The first scene starts where the tape stood (a little played already), the second at the cut.
    const auto frames = [](uint32_t tc) { return batchcap::TcWholeSeconds(tc) * 30 + batchcap::TcFrames(tc); };
    EXPECT_GE(frames(starts[0]), 60 * 30);
    EXPECT_LT(frames(starts[0]), 60 * 30 + 150);
    EXPECT_NEAR(frames(starts[1]), 60 * 30 + 150, 1);
    EXPECT_EQ(dialog_->FinishSteps(), 2);
    dialog_->Press(CDVBatchCaptureDlg::kReviewPlay);
    Pump(1500);
    // Faster review: each press adds a third of the tape's speed, shown as "2X" and then "3X"
    // (the tape's own speed); one more goes back to the slow review, its label hidden.
    const struct {
        const char* label;
        float rate;
    } speeds[] = {{"2X", 0.68f}, {"3X", 1.0f}, {"", 0.34f}};
    CWnd* speed = dialog_->Control(CDVBatchCaptureDlg::kSpeedStatic);
    ASSERT_NE(speed, nullptr);
    for (const auto& s : speeds) {
        SCOPED_TRACE(s.rate);
        dialog_->Press(CDVBatchCaptureDlg::kReviewFast);
        EXPECT_NEAR(dialog_->ReviewRate(), s.rate, 0.01f);
        EXPECT_EQ(speed->IsWindowVisible() != 0, *s.label != 0);
        if (*s.label) {
            EXPECT_STREQ(speed->GetWindowText().c_str(), s.label);
        }
        const int64_t before = dialog_->ReviewPosition();
        Pump(1000);
        EXPECT_GT(dialog_->ReviewPosition(), before) << "the review plays on";
    }
    dialog_->Press(CDVBatchCaptureDlg::kReviewPause);
    Shot("batch_ntsc_review.png");

    // The profile button: the choice (here the native DV profile) goes into the page's capture
    // block and is shown, and the switch follows it: DV is recorded in real time only.
    const DWORD dvClass = 2;
    SetValue(kRecordingKey, "DVProfileType", REG_DWORD, &dvClass, sizeof dvClass);
    params_.encoderType = engines::kEncoderH264;
    bool chosen = false;
    g_step = [&] {
        HWND w = FindWindowA(reinterpret_cast<LPCSTR>(32770), "Profile");
        if (!w) return false;
        PostMessageA(w, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        chosen = true;
        return true;
    };
    const UINT_PTR timer = SetTimer(nullptr, 0, 100, RunStep);
    dialog_->Press(CDVBatchCaptureDlg::kProfile);
    KillTimer(nullptr, timer);
    ASSERT_TRUE(chosen);
    EXPECT_EQ(params_.encoderType, 0u);
    EXPECT_STREQ(dialog_->Control(CDVBatchCaptureDlg::kProfileStatic)->GetWindowText().c_str(),
                 AfxLoadString(IDS_NATIVE_DV_PROFILE).c_str());
    EXPECT_EQ(dialog_->NonRealtime(), 0u);
    EXPECT_FALSE(Enabled(CDVBatchCaptureDlg::kNonRealtimeCheck));
    EXPECT_FALSE(dialog_->ReviewFile().empty());
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kRecordingKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        RegDeleteValueA(key, "DVProfileType");  // the next dialog writes its default again
        RegCloseKey(key);
    }
}

// An H.264 batch records each segment and encodes it afterwards: the dialog shows the
// encoding, and the files it hands over are H.264 of the segments' lengths (ffprobe).
TEST_F(BatchCaptureDialog, AnH264BatchShowsTheEncodingAndGivesH264Files) {
    comtest::RegistrationLock lock;
    enginetest::NamedLock muxerLock(enginetest::kMuxerRegistrationLock);
    ASSERT_TRUE(lock.Held() && muxerLock.Held());
    enginetest::Registered encoder(OMBRISK_AX), muxer(VARROW_AX);
    ASSERT_TRUE(encoder.Ok() && muxer.Ok());
    params_.encoderType = engines::kEncoderH264;
    ASSERT_EQ(engine_->SetEncoderType(&params_), S_OK);
    enginetest::SetDeck(tape_, 1, 0, 0, enginetest::kFastDeck);
    Open();
    EXPECT_EQ(dialog_->NonRealtime(), 1u) << "an H.264 profile records first and encodes afterwards";
    EXPECT_FALSE(Enabled(CDVBatchCaptureDlg::kNonRealtimeCheck));
    dialog_->Press(CDVBatchCaptureDlg::kNext);
    ASSERT_TRUE(PumpUntil([&] { return dialog_->GetStep() == CDVBatchCaptureDlg::kReview; }, 90000)) << Boxes();
    ASSERT_EQ(dialog_->List().Count(), 4);
    for (int i = 2; i < 4; ++i)
        dialog_->List().SetChecked(i, false);
    dialog_->Press(CDVBatchCaptureDlg::kNext);
    ASSERT_EQ(dialog_->GetStep(), CDVBatchCaptureDlg::kCapture) << Boxes();
    ASSERT_TRUE(PumpUntil([&] { return dialog_->EncodingPhase() == 2 || dialog_->EncodingPhase() == 3; }, 120000))
        << Boxes();
    // While the clip is encoded the post-encoding picture holds the preview's place: the deck's
    // frames (several have come meanwhile) no longer cover it. The progress under it shows its
    // ground where it is not filled.
    Pump(600);
    const int phase = dialog_->EncodingPhase();
    const RECT& preview = dialog_->PreviewRect();
    const COLORREF middle = Pixel((preview.left + preview.right) / 2, (preview.top + preview.bottom) / 2);
    const SkinSimpleSliderNode* bar = CSkinLayout::FindSimpleSlider("BATCH", "LAYOUT1", "IDC_DISPLAY_SELECTSLIDER");
    ASSERT_NE(bar, nullptr);
    const COLORREF end = Pixel(bar->left + bar->width - 4, bar->top + bar->height / 2);
    EXPECT_TRUE(testsupport::CaptureScreen("batch_step3_encoding.png"));
    if (phase == 2 || phase == 3) {
        EXPECT_TRUE(Near(middle, RGB(0x17, 0x3A, 0x5E)) || Near(middle, RGB(0x1B, 0x24, 0x30)))
            << std::hex << middle << " in phase " << phase;
    }
    EXPECT_TRUE(Near(end, RGB(0x26, 0x34, 0x45)) || Near(end, RGB(0x3C, 0x8D, 0xDE))) << std::hex << end;
    ASSERT_TRUE(PumpUntil([&] { return dialog_->GetStep() == CDVBatchCaptureDlg::kCaptured; }, 180000)) << Boxes();
    EXPECT_EQ(dialog_->EncodingPhase(), 4);
    const std::vector<std::string> files = dialog_->CapturedFiles();
    ASSERT_EQ(files.size(), 2u) << Boxes();
    EXPECT_EQ(page_.clips, files);
    EXPECT_EQ(files[0], captures_ + "\\Batch.mpg");
    EXPECT_EQ(files[1], captures_ + "\\Batch(0).mpg");
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        std::string probed;
        ASSERT_TRUE(testsupport::Ffprobe(
            file, "-select_streams v:0 -count_frames -show_entries stream=codec_name,nb_read_frames -of csv=p=0",
            &probed));
        const auto rows = testsupport::CsvRows(probed);
        ASSERT_FALSE(rows.empty()) << probed;
        ASSERT_EQ(rows[0].size(), 2u) << probed;
        EXPECT_EQ(rows[0][0], "h264");
        EXPECT_NEAR(std::stoi(rows[0][1]), kScene, 2);
    }
}

// ---- the clip list in a window of its own, with the dialog's skin ----
class BatchList : public SkinLayoutTest {
protected:
    void SetUp() override {
        const SkinStaticNode* place = CSkinLayout::FindStatic("BATCH", "LAYOUT1", "LISTCTRL");
        ASSERT_NE(place, nullptr);
        ASSERT_TRUE(host_.CreateEx(0, AfxRegisterWndClass(0), "Batch list", WS_POPUP | WS_VISIBLE,
                                   CRect(0, 0, place->width + 20, place->height + 20), nullptr, 0));
        ASSERT_TRUE(list_.Create(CRect(10, 10, 10 + place->width, 10 + place->height), &host_, 3119, "BATCH"));
        list_.SetItemSize(112, 104);
        list_.SetThumbnailSize(96, 72);
    }
    void TearDown() override {
        list_.DestroyWindow();
        host_.DestroyWindow();
    }
    // A picture of one-pixel columns, black and white in turn.
    static HBITMAP Stripes(int width, int height) {
        std::vector<uint32_t> pixels(size_t(width) * height);
        for (size_t i = 0; i < pixels.size(); ++i)
            pixels[i] = (i % size_t(width)) % 2 ? 0xFFFFFF : 0;
        BITMAPINFO layout{};
        layout.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        HDC screen = GetDC(nullptr);
        HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
        SetDIBits(screen, bitmap, 0, UINT(height), pixels.data(), &layout, DIB_RGB_COLORS);
        ReleaseDC(nullptr, screen);
        return bitmap;
    }
    std::unique_ptr<BatchClipInfo> Record(int second) {
        auto clip =
            std::make_unique<BatchClipInfo>(Clip(PackTimecode(0, 1, second, 0), PackTimecode(0, 1, second + 1, 0),
                                                 0x150304050607ULL + second, 0x150304050608ULL + second));
        clip->inTime = int64_t(second) * batchcap::kUnitsPerSecond;
        clip->outTime = clip->inTime + batchcap::kUnitsPerSecond;
        return clip;
    }

    comtest::ComScope com_;
    CWnd host_;
    CEncBatchListCtrl list_;
};

// A frame handed in is reduced to the thumbnail by averaging: one-pixel stripes become their
// mean grey, where dropping columns would leave black or white.
TEST_F(BatchList, AFrameHandedInIsAveragedIntoItsThumbnail) {
    for (const auto& size : {std::pair{720, 576}, std::pair{193, 145}}) {
        SCOPED_TRACE(size.first);
        HBITMAP frame = Stripes(size.first, size.second);
        ASSERT_TRUE(list_.AddClipFromBitmap("00:00:01:00", frame, Record(list_.Count())));
        DeleteObject(frame);
        const HBITMAP thumb = list_.GetEntry(list_.Count() - 1)->thumbnail;
        BITMAP info{};
        ASSERT_TRUE(thumb && GetObjectA(thumb, sizeof info, &info));
        EXPECT_EQ(info.bmWidth, 96);
        EXPECT_EQ(std::abs(info.bmHeight), 72);
        std::vector<uint32_t> pixels(96 * 72);
        BITMAPINFO layout{};
        layout.bmiHeader = {sizeof(BITMAPINFOHEADER), 96, -72, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        HDC screen = GetDC(nullptr);
        ASSERT_EQ(GetDIBits(screen, thumb, 0, 72, pixels.data(), &layout, DIB_RGB_COLORS), 72);
        ReleaseDC(nullptr, screen);
        int off = 0;
        for (uint32_t p : pixels)
            for (int shift : {0, 8, 16})
                if (std::abs(int((p >> shift) & 0xFF) - 128) > 12) ++off;
        EXPECT_EQ(off, 0) << "first pixel " << std::hex << pixels[0];
    }
}

// The skinned bar stands for the list's rows: moving it scrolls the list by whole rows, and
// the list scrolled by a selection moves the bar; the list's own bar is not shown.
TEST_F(BatchList, TheSkinnedBarAndTheListFollowEachOther) {
    ASSERT_NE(list_.ScrollBar(), nullptr);
    const SkinStaticNode* room = CSkinLayout::FindStatic("BATCH", "LAYOUT1", "ROOMLIST");
    ASSERT_NE(room, nullptr);
    RECT shown{};
    ASSERT_NE(GetWindowRgnBox(list_.ListWindow(), &shown), ERROR);
    EXPECT_EQ(shown.right - shown.left, room->width);
    HBITMAP frame = Stripes(96, 72);
    for (int i = 0; i < 24; ++i)
        ASSERT_TRUE(list_.AddClipFromBitmap("00:00:01:00", frame, Record(i)));
    DeleteObject(frame);
    Pump(300);
    EXPECT_EQ(list_.ScrollBarPosition(), 0);
    EXPECT_EQ(list_.FirstVisibleRow(), 0);

    list_.SelectItem(23);
    Pump(300);
    EXPECT_GT(list_.FirstVisibleRow(), 0);
    EXPECT_EQ(list_.ScrollBarPosition(), 100) << "the last row shown: the bar at its end";

    list_.ScrollBar()->SetPos(0);
    list_.SendMessage(WM_GSCROLLBAR_CHANGED, CEncBatchListCtrl::kScrollBarId, 0);
    Pump(300);
    EXPECT_EQ(list_.FirstVisibleRow(), 0);
    EXPECT_EQ(GetScrollPos(list_.ListWindow(), SB_VERT), 0);
    EXPECT_EQ(list_.ScrollBarPosition(), 0);

    list_.SelectItem(23);
    Pump(300);
    const int end = list_.FirstVisibleRow();
    ASSERT_GE(end, 2) << "enough rows for a middle";
    list_.ScrollBar()->SetPos(50);
    list_.SendMessage(WM_GSCROLLBAR_CHANGED, CEncBatchListCtrl::kScrollBarId, 0);
    Pump(300);
    EXPECT_EQ(list_.FirstVisibleRow(), (end + 1) / 2);
    EXPECT_EQ(GetScrollPos(list_.ListWindow(), SB_VERT) % 108, 0) << "whole rows";
}

// The list view asks for an item's tip in either character set; the answer names the
// recording dates and time codes and never writes past the buffer it is given.
TEST_F(BatchList, TheToolTipAnswersTheListViewWithinItsBuffer) {
    HBITMAP frame = Stripes(96, 72);
    ASSERT_TRUE(list_.AddClipFromBitmap("00:00:01:00", frame, Record(5)));
    DeleteObject(frame);
    const std::string expected = list_.InfoTip(0);
    ASSERT_NE(expected.find("00:01:05"), std::string::npos) << expected;
    ASSERT_NE(expected.find("2021"), std::string::npos) << expected;

    // The list view's request: NMLVGETINFOTIPA or NMLVGETINFOTIPW for item 0.
    const auto ask = [this](auto request, UINT code, auto* buffer, int capacity) {
        request.hdr = {list_.ListWindow(), CEncBatchListCtrl::kListId, code};
        request.pszText = buffer;
        request.cchTextMax = capacity;
        request.iItem = 0;
        list_.SendMessage(WM_NOTIFY, CEncBatchListCtrl::kListId, reinterpret_cast<LPARAM>(&request));
    };
    char narrow[512];
    memset(narrow, '#', sizeof narrow);
    ask(NMLVGETINFOTIPA{}, LVN_GETINFOTIPA, narrow, 400);
    EXPECT_EQ(std::string(narrow), expected);
    memset(narrow, '#', sizeof narrow);
    ask(NMLVGETINFOTIPA{}, LVN_GETINFOTIPA, narrow, 10);
    EXPECT_EQ(std::string(narrow), expected.substr(0, 9));
    EXPECT_EQ(narrow[10], '#');
    wchar_t wide[512] = {};
    ask(NMLVGETINFOTIPW{}, LVN_GETINFOTIPW, wide, 400);
    EXPECT_EQ(std::wstring(wide), std::wstring(expected.begin(), expected.end()));
}

}  // namespace

namespace {

class BatchSmallDialogs : public SkinLayoutTest {};

TEST_F(BatchSmallDialogs, AutoMergeRemembersItsChoiceAndTurnsHoursAndMinutesIntoTime) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kRecordingKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegDeleteValueA(key, "AutoMergeType");
    const auto stored = [key]() -> long {
        DWORD value = 0, bytes = sizeof value;
        return RegQueryValueExA(key, "AutoMergeType", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &bytes) ==
                       ERROR_SUCCESS
                   ? long(value)
                   : -1;
    };
    const struct {
        UINT radio;  // 0: none pressed
        int hours, minutes;
        UINT close;
        bool durationEnabledAtStart;
        DWORD type;
        int64_t duration;
        long storedAfter;
    } cases[] = {
        {IDC_AUTO_MERGE_BY_DATE, 1, 30, IDOK, false, 2, 54000000000LL, 2},  // a first run starts by time code
        {0, 0, 0, IDCANCEL, true, 2, 0, 2},                                 // the stored type is shown; Cancel keeps it
        {IDC_AUTO_MERGE_BY_TIMECODE, 5, 5, IDOK, true, 0, 0, 0},            // by time code: no duration
        {IDC_AUTO_MERGE_BY_DATE, 0, 45, IDOK, false, 2, 27000000000LL, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.storedAfter);
        CAutoMergeDlg dialog;
        EXPECT_GE(stored(), 0) << "the type is written before the dialog is shown";
        bool enabledAtStart = !c.durationEnabledAtStart;
        g_step = [&] {
            HWND w = FindWindowA(reinterpret_cast<LPCSTR>(32770), "Join scenes automatically");
            if (!w) return false;
            enabledAtStart = IsWindowEnabled(GetDlgItem(w, IDC_AUTO_MERGE_HOURS)) != 0;
            if (c.radio) SendMessageA(GetDlgItem(w, int(c.radio)), BM_CLICK, 0, 0);
            EXPECT_EQ(IsWindowEnabled(GetDlgItem(w, IDC_AUTO_MERGE_MINUTES)) != 0,
                      c.radio ? c.radio == IDC_AUTO_MERGE_BY_DATE : c.durationEnabledAtStart);
            SendDlgItemMessageA(w, IDC_AUTO_MERGE_HOURS, CB_SETCURSEL, WPARAM(c.hours), 0);
            SendDlgItemMessageA(w, IDC_AUTO_MERGE_MINUTES, CB_SETCURSEL, WPARAM(c.minutes), 0);
            PostMessageA(w, WM_COMMAND, MAKEWPARAM(c.close, BN_CLICKED), 0);
            return true;
        };
        const UINT_PTR timer = SetTimer(nullptr, 0, 100, RunStep);
        const INT_PTR answer = dialog.DoModal();
        KillTimer(nullptr, timer);
        EXPECT_EQ(answer, c.close == IDOK ? 1 : 2);
        EXPECT_EQ(enabledAtStart, c.durationEnabledAtStart);
        if (c.close == IDOK) {
            EXPECT_EQ(dialog.Type(), c.type);
            EXPECT_EQ(dialog.Duration(), c.duration);
        } else {
            EXPECT_EQ(dialog.Duration(), 0);
        }
        EXPECT_EQ(stored(), c.storedAfter);
    }
    RegCloseKey(key);
}

TEST_F(BatchSmallDialogs, NoteShowsItsTextsWithBoldTitles) {
    CBatchNoteDlg note;
    std::vector<std::string> texts;
    std::vector<LONG> weights;
    g_step = [&] {
        HWND w = FindWindowA(reinterpret_cast<LPCSTR>(32770), "About batch capture");
        if (!w) return false;
        for (int id : {IDC_BATCH_NOTE_TITLE1, IDC_BATCH_NOTE_TEXT1, IDC_BATCH_NOTE_TITLE2, IDC_BATCH_NOTE_TEXT2}) {
            char text[512] = {};
            GetDlgItemTextA(w, id, text, sizeof text);
            texts.emplace_back(text);
            LOGFONTA font{};
            GetObjectA(reinterpret_cast<HFONT>(SendDlgItemMessageA(w, id, WM_GETFONT, 0, 0)), sizeof font, &font);
            weights.push_back(font.lfWeight);
        }
        EXPECT_TRUE(testsupport::CaptureScreen("batch_note.png"));
        PostMessageA(w, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        return true;
    };
    const UINT_PTR timer = SetTimer(nullptr, 0, 300, RunStep);
    note.DoModal();
    KillTimer(nullptr, timer);
    ASSERT_EQ(texts.size(), 4u);
    const UINT ids[] = {IDS_BATCH_NOTE_TITLE1, IDS_BATCH_NOTE_TEXT1, IDS_BATCH_NOTE_TITLE2, IDS_BATCH_NOTE_TEXT2};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_FALSE(texts[i].empty());
        EXPECT_EQ(texts[i], AfxLoadString(ids[i]).c_str());
    }
    EXPECT_EQ(weights[0], FW_BOLD);
    EXPECT_EQ(weights[2], FW_BOLD);
    EXPECT_LT(weights[1], FW_BOLD);
}

}  // namespace
