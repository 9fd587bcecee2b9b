// The DV capture page under Wine, driving the DV engine and the simulated camcorder: the
// page finds and opens the deck, previews its tape, moves it from its buttons with the time
// code following the tape, records with time and size limits into clips named after the
// capture prefix without replacing any file it did not write, survives the deck's removal
// during a recording, lists both simulated decks for the user's choice; and the device
// search and the capture-file prompt on their own. Files are judged by ffprobe and by the
// time codes of their DV frames.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/pages/capture_file_prompt_dlg.h"
#include "app/pages/dv_capture_page.h"
#include "app/pages/dv_devices.h"
#include "app/pages/tests/dv_test_deck.h"
#include "app/profiles/builtin_profiles.h"
#include "app/resources/resource_ids.h"
#include "app/services/settings_keys.h"
#include "app/skin/skin_edits.h"
#include "app/skin/skin_layout.h"
#include "app/skin/tests/window_support.h"
#include "engines/dv/dv_frame.h"
#include "engines/dv_camcorder/camcorder_ids.h"
#include "engines/tests/dv_deck_support.h"
#include "engines/tests/registered.h"
#include "filters/base/tests/com_test_util.h"
#include "tests/support/ffprobe.h"
#include "tests/support/media_fixture.h"
#include "tests/support/screen.h"
#include "tests/support/shell.h"

namespace {

using dv::kPalFrameBytes;
using dvtest::kTape;
using enginetest::FrameTimecodes;
using enginetest::kFastDeck;
using enginetest::ProbeSeconds;
using enginetest::Registered;
using enginetest::SetDeck;

void SetString(const char* key, const char* name, const std::string& value) {
    HKEY h = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &h, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(h, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), DWORD(value.size() + 1));
    RegCloseKey(h);
}

void SetSwitch(const char* name, DWORD value) {
    HKEY h = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kRecordingKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &h, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(h, name, 0, REG_BINARY, reinterpret_cast<const BYTE*>(&value), sizeof value);
    RegCloseKey(h);
}

int64_t FileBytes(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return int64_t(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
}

void WriteText(const std::string& path, const char* text) {
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    fputs(text, f);
    fclose(f);
}

std::string ReadText(const std::string& path) {
    const auto bytes = testsupport::ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

// The main page's stand-in: records the page's notifications.
class NoticeParent : public CWnd {
public:
    BOOL OnNotify(WPARAM, LPARAM lParam, LRESULT*) override {
        const auto* record = reinterpret_cast<const PageNotifyRecord*>(lParam);
        codes.push_back(record->hdr.code);
        if (record->hdr.code == 2028) clips.emplace_back(reinterpret_cast<const char*>(record->data));
        return TRUE;
    }
    std::vector<UINT> codes;
    std::vector<std::string> clips;
};

// Runs `step` from a thread timer, which also fires inside modal dialogs' loops.
std::function<bool()> g_step;
void CALLBACK RunStep(HWND, UINT, UINT_PTR id, DWORD) {
    if (g_step && g_step()) {
        g_step = nullptr;
        KillTimer(nullptr, id);
    }
}

HWND FindDialog(const char* caption) {
    return FindWindowA(reinterpret_cast<LPCSTR>(32770), caption);
}

class DvCapturePageTest : public SkinLayoutTest {
protected:
    // The deck, the engine and the string query are registered once for the program: each
    // registration and removal is a regsvr32 process, seconds of a loaded machine, and no
    // test of this suite changes them.
    static void SetUpTestSuite() {
        SkinLayoutTest::SetUpTestSuite();
        decks_ = std::make_unique<Registered>(DV_CAMCORDER_DLL);
        engine_ = std::make_unique<Registered>(DV_CAPTURE_DLL);
        query_ = std::make_unique<Registered>(STRING_QUERY_DLL);
        ASSERT_TRUE(testsupport::MediaFixture(kTape, "dv", &tape_));
    }
    static void TearDownTestSuite() {
        query_.reset();
        engine_.reset();
        decks_.reset();
        SkinLayoutTest::TearDownTestSuite();
    }
    void SetUp() override {
        ASSERT_TRUE(decks_->Ok() && engine_->Ok() && query_->Ok());
        SetDeck(tape_, 1);
        captures_ = testsupport::FixturePath(testsupport::UniqueName("captures"));
        ASSERT_TRUE(CreateDirectoryA(captures_.c_str(), nullptr));
        SetString(kVistrelKey, "CaptureDir", captures_);
        SetString(kVistrelKey, "CapturePrefix", "Capture");
        SetSwitch("CaptureFilePrompt", 0);
        SetSwitch("NoPreview", 0);
        SetSwitch("UseOverlay", 0);
        AfxSetMessageBoxHook([this](const MessageBoxRequest& r) {
            boxes_.push_back(r.id);
            return (r.type & MB_YESNO) ? IDNO : IDOK;
        });
        ASSERT_TRUE(parent_.CreateEx(0, AfxRegisterWndClass(0), "DV page test", WS_POPUP | WS_VISIBLE,
                                     CRect(0, 0, 1024, 768), nullptr, 0));
        SkinView* view = CSkinLayout::FindView("ENC_DV_PAGE");
        ASSERT_NE(view, nullptr);
        origin_ = CPoint(view->left, view->top);
        page_ = new CDVCapturePage;
        ASSERT_TRUE(page_->Create(CRect(view->left, view->top, view->left + view->width, view->top + view->height),
                                  3001, &parent_));
        page_->ShowWindow(SW_SHOW);
        Pump(300);
    }
    void TearDown() override {
        if (page_) {
            page_->DestroyWindow();
            delete page_;
        }
        parent_.DestroyWindow();
        AfxSetMessageBoxHook(nullptr);
        SetDeck(tape_, 1);
    }
    void Click(UINT id) {
        page_->SendMessage(WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
        Pump(50);
    }
    std::string Timecode() const {
        auto* edit = dynamic_cast<CGTimeCodeEdit*>(page_->Control(CDVCapturePage::kTimeCodeEdit));
        return edit ? std::string(edit->GetText().c_str()) : std::string();
    }
    // Frames at 25 a second of the time code shown.
    int64_t Frames() const {
        int h = 0, m = 0, s = 0, f = 0;
        if (sscanf(Timecode().c_str(), "%d:%d:%d:%d", &h, &m, &s, &f) != 4) return -1;
        return ((int64_t(h) * 60 + m) * 60 + s) * 25 + f;
    }
    // Pumps until `done` or `ms` passed.
    bool PumpUntil(const std::function<bool()>& done, DWORD ms) {
        const DWORD until = GetTickCount() + ms;
        while (!done()) {
            if (LONG(until - GetTickCount()) <= 0) return false;
            Pump(50);
        }
        return true;
    }
    bool Has(UINT code) const {
        return std::find(parent_.codes.begin(), parent_.codes.end(), code) != parent_.codes.end();
    }
    // Records from the current place until the page announced the end of the finish.
    void RecordUntilIdle(DWORD ms) {
        Click(CDVCapturePage::kPlay);
        Pump(500);
        Click(CDVCapturePage::kRecord);
        ASSERT_EQ(page_->GetState(), CDVCapturePage::kRecording) << "message boxes: " << boxes_.size();
        ASSERT_TRUE(PumpUntil([&] { return Has(2027); }, ms));
    }
    void SetTimeLimit(const char* text) {
        auto* check = dynamic_cast<CGButton*>(page_->Control(CDVCapturePage::kTimeLimitCheck));
        auto* edit = dynamic_cast<CGSimpleTimeEdit*>(page_->Control(CDVCapturePage::kTimeLimitEdit));
        ASSERT_TRUE(check && edit);
        check->SetCheck(1);
        edit->SetText(text);
    }

    comtest::ComScope com_;
    static inline std::unique_ptr<Registered> decks_, engine_, query_;
    static inline std::string tape_;
    std::string captures_;
    NoticeParent parent_;
    CDVCapturePage* page_ = nullptr;
    CPoint origin_;
    std::vector<UINT> boxes_;
};

TEST_F(DvCapturePageTest, FindsTheDeckPreviewsItsTapeAndMovesItWithTheTimeCode) {
    ASSERT_EQ(page_->DeviceTexts().size(), 2u);
    EXPECT_EQ(page_->CurrentDevice(), page_->DeviceTexts()[0]);
    EXPECT_NE(page_->CurrentDevice().find("Simulated DV Camcorder"), std::string::npos);
    EXPECT_EQ(page_->GetFrameRate(), 25.0f);
    EXPECT_EQ(page_->GetState(), CDVCapturePage::kPaused);  // a tape device opens paused
    EXPECT_TRUE(page_->IsSetupEnabled());                   // two decks to choose from
    EXPECT_TRUE(page_->IsSecondaryButtonEnabled());
    EXPECT_TRUE(testsupport::CaptureScreen("dv_page_idle.png"));

    Click(CDVCapturePage::kPlay);
    ASSERT_TRUE(PumpUntil([&] { return Frames() >= 25 * 60 + 25; }, 5000)) << Timecode();
    const int64_t playing = Frames();
    Pump(2000);
    const int64_t played = Frames() - playing;
    EXPECT_GE(played, 35) << "two seconds of play move about 50 frames";
    EXPECT_LE(played, 75);
    // The preview shows the tape's picture in the preview place: a test pattern, not black.
    ASSERT_TRUE(testsupport::CaptureScreen("dv_page_previewing.png"));
    const RECT& p = page_->PreviewRect();
    const int w = p.right - p.left, h = p.bottom - p.top;
    ASSERT_GT(w, 300);
    EXPECT_LT(testsupport::CountDarkPixels("dv_page_previewing.png", origin_.x + p.left, origin_.y + p.top, w, h, 16),
              w * h / 2);

    Click(CDVCapturePage::kPause);
    EXPECT_EQ(page_->GetState(), CDVCapturePage::kPaused);
    Pump(400);
    const int64_t paused = Frames();
    Pump(800);
    EXPECT_EQ(Frames(), paused) << "a paused tape keeps its time code";

    Click(CDVCapturePage::kFastForward);  // from pause: wind while playing
    EXPECT_EQ(page_->GetState(), CDVCapturePage::kWindingPlay);
    Pump(1000);
    EXPECT_GT(Frames() - paused, 60) << "winding moves faster than play";
    Click(CDVCapturePage::kStop);
    EXPECT_EQ(page_->GetState(), CDVCapturePage::kStopped);
    Pump(300);
    const int64_t wound = Frames();
    Click(CDVCapturePage::kRewind);
    EXPECT_TRUE(page_->GetState() == CDVCapturePage::kRewinding || page_->GetState() == CDVCapturePage::kStopped);
    Pump(800);
    EXPECT_LT(Frames(), wound) << "rewinding goes back";
    Click(CDVCapturePage::kStop);
    EXPECT_TRUE(boxes_.empty());
}

// The poll threads follow the deck's own mode changes, but a change they read before the
// user's last command does not undo it.
TEST_F(DvCapturePageTest, APollPressOlderThanTheLastCommandIsDropped) {
    const uint32_t before = page_->TransportGeneration();
    Click(CDVCapturePage::kPlay);
    ASSERT_EQ(page_->GetState(), CDVCapturePage::kPlaying);
    page_->SendMessage(CDVCapturePage::kPollPress, CDVCapturePage::kPause, LPARAM(before));
    EXPECT_EQ(page_->GetState(), CDVCapturePage::kPlaying);
    page_->SendMessage(CDVCapturePage::kPollPress, CDVCapturePage::kPause, LPARAM(page_->TransportGeneration()));
    EXPECT_EQ(page_->GetState(), CDVCapturePage::kPaused);

    // A press read just before a seek began, even with the seek's own generation, leaves it alone.
    auto* edit = dynamic_cast<CGTimeCodeEdit*>(page_->Control(CDVCapturePage::kTimeCodeEdit));
    ASSERT_NE(edit, nullptr);
    edit->SetText("00:01:30:00");
    Click(CDVCapturePage::kSeek);
    ASSERT_EQ(page_->GetState(), CDVCapturePage::kSeeking);
    page_->SendMessage(CDVCapturePage::kPollPress, CDVCapturePage::kPause, LPARAM(page_->TransportGeneration()));
    EXPECT_EQ(page_->GetState(), CDVCapturePage::kSeeking);
    Click(CDVCapturePage::kSeek);  // ends the seek
    EXPECT_EQ(page_->GetState(), CDVCapturePage::kPaused);
}

// SEEK winds the tape to the time code in the edit; the end of the search, reached or not,
// brings the page out of seeking to pause, with the search's message. The deck runs fast:
// the search needs the time codes, not their pace.
TEST_F(DvCapturePageTest, ASeekEndsPausedAtTheTimeCodeOrReportsOne) {
    SetDeck(tape_, 1, 0, 0, kFastDeck);
    auto* edit = dynamic_cast<CGTimeCodeEdit*>(page_->Control(CDVCapturePage::kTimeCodeEdit));
    ASSERT_NE(edit, nullptr);
    const struct {
        const char* target;
        UINT message;
    } cases[] = {{"00:01:20:05", IDS_DV_SEARCH_ENDED},
                 {"00:01:03:17", IDS_DV_SEARCH_ENDED},
                 {"00:05:00:00", IDS_DV_SEEK_FAILED}};  // past the tape's end
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target);
        boxes_.clear();
        edit->SetText(c.target);
        Click(CDVCapturePage::kSeek);
        ASSERT_EQ(page_->GetState(), CDVCapturePage::kSeeking);
        ASSERT_TRUE(PumpUntil([&] { return page_->GetState() != CDVCapturePage::kSeeking; }, 40000));
        EXPECT_EQ(page_->GetState(), CDVCapturePage::kPaused);
        EXPECT_EQ(boxes_, std::vector<UINT>{c.message});
        if (c.message == IDS_DV_SEARCH_ENDED) {
            Pump(300);
            int h = 0, m = 0, sec = 0, f = 0;
            ASSERT_EQ(sscanf(c.target, "%d:%d:%d:%d", &h, &m, &sec, &f), 4);
            EXPECT_NEAR(Frames(), ((int64_t(h) * 60 + m) * 60 + sec) * 25 + f, 1) << Timecode();
        }
    }
}

// Ten seconds by the time limit: the clip takes the capture prefix's name, leaves the file
// that had that name alone, lasts ten seconds within a frame and its time codes run on.
// The deck runs fast: the limit counts the frames' own times.
TEST_F(DvCapturePageTest, TheTimeLimitEndsATenSecondDvClipThatReplacesNothing) {
    SetDeck(tape_, 1, 0, 0, kFastDeck);
    const std::string taken = captures_ + "\\Capture.avi";
    WriteText(taken, "not a recording");
    SetTimeLimit("00:00:10");
    RecordUntilIdle(60000);
    EXPECT_TRUE(testsupport::CaptureScreen("dv_page_after_recording.png"));
    EXPECT_EQ(ReadText(taken), "not a recording");
    ASSERT_EQ(parent_.clips.size(), 1u);
    const std::string clip = parent_.clips[0];
    EXPECT_EQ(clip, captures_ + "\\Capture(0).avi");
    EXPECT_EQ(FileBytes(page_->OutputPath()), -1) << "the engine's file was moved to the final name";
    EXPECT_NEAR(ProbeSeconds(clip), 10.0, 0.04);
    const std::vector<int64_t> codes = FrameTimecodes(clip);
    ASSERT_EQ(codes.size(), 250u);
    for (size_t i = 1; i < codes.size(); ++i)
        ASSERT_EQ(codes[i], codes[i - 1] + 1) << i;
    EXPECT_EQ(page_->GetState(), CDVCapturePage::kStopped);
    EXPECT_TRUE(page_->Ready());
    EXPECT_TRUE(Has(2026));
    EXPECT_TRUE(boxes_.empty());
}

TEST_F(DvCapturePageTest, TheSizeLimitEndsTheClipAtTheLimit) {
    SetDeck(tape_, 1, 0, 0, kFastDeck);
    auto* check = dynamic_cast<CGButton*>(page_->Control(CDVCapturePage::kSizeLimitCheck));
    auto* edit = dynamic_cast<CGLEDEdit*>(page_->Control(CDVCapturePage::kSizeLimitEdit));
    ASSERT_TRUE(check && edit);
    check->SetCheck(1);
    edit->SetText("3000000");
    RecordUntilIdle(60000);
    ASSERT_EQ(parent_.clips.size(), 1u);
    const int64_t bytes = FileBytes(parent_.clips[0]);
    EXPECT_LE(bytes, 3000000);
    EXPECT_GT(bytes, int64_t(3000000 - 3 * kPalFrameBytes));
    EXPECT_GT(ProbeSeconds(parent_.clips[0]), 0.5);
}

TEST_F(DvCapturePageTest, ZeroLimitsRefuseToRecord) {
    SetTimeLimit("00:00:00");
    Click(CDVCapturePage::kRecord);
    EXPECT_EQ(boxes_, std::vector<UINT>{IDS_DV_TIME_LIMIT_ZERO});
    EXPECT_NE(page_->GetState(), CDVCapturePage::kRecording);
    dynamic_cast<CGButton*>(page_->Control(CDVCapturePage::kTimeLimitCheck))->SetCheck(0);
    auto* check = dynamic_cast<CGButton*>(page_->Control(CDVCapturePage::kSizeLimitCheck));
    check->SetCheck(1);
    dynamic_cast<CGLEDEdit*>(page_->Control(CDVCapturePage::kSizeLimitEdit))->SetText("0000");
    Click(CDVCapturePage::kRecord);
    EXPECT_EQ(boxes_.back(), UINT(IDS_DV_SIZE_LIMIT_ZERO));
    EXPECT_EQ(page_->GetState(), CDVCapturePage::kStopped);
    EXPECT_FALSE(Has(2026));
}

// Unplugging the deck mid-recording ends the recording at once; what was recorded is a
// whole clip and the page is left usable (no recording, engine bound again).
TEST_F(DvCapturePageTest, RemovingTheDeckWhileRecordingKeepsTheClipAndThePage) {
    Click(CDVCapturePage::kPlay);
    Pump(500);
    Click(CDVCapturePage::kRecord);
    ASSERT_EQ(page_->GetState(), CDVCapturePage::kRecording);
    ASSERT_TRUE(testsupport::CaptureScreen("dv_page_recording.png"));
    Pump(2500);
    SetDeck(tape_, 0);
    ASSERT_TRUE(PumpUntil([&] { return Has(2027); }, 20000));
    ASSERT_EQ(parent_.clips.size(), 1u);
    const double seconds = ProbeSeconds(parent_.clips[0]);
    EXPECT_GT(seconds, 1.5);
    EXPECT_LT(seconds, 8.0);
    SetDeck(tape_, 1);
    ASSERT_TRUE(PumpUntil([&] { return page_->GetState() != CDVCapturePage::kRecording && page_->Ready(); }, 5000));
    Pump(1500);  // the device re-check binds the engine again
    EXPECT_FALSE(page_->DeviceTexts().empty());
    EXPECT_NE(page_->GetState(), CDVCapturePage::kRecording);
}

// Profiles of the encoded kinds: the clip is recorded as DV and encoded afterwards, named
// ".mpg". H.264 goes into a transport stream (the multiplexer carries H.264 only there),
// MPEG-2 into a program stream; both keep the tape's sound. The deck runs fast: the limit
// counts the frames' own times.
TEST_F(DvCapturePageTest, EncodedProfilesRecordTheirVideoWithSound) {
    SetDeck(tape_, 1, 0, 0, kFastDeck);
    comtest::RegistrationLock lock;
    enginetest::NamedLock muxerLock(enginetest::kMuxerRegistrationLock);
    ASSERT_TRUE(lock.Held() && muxerLock.Held());
    Registered encoder(OMBRISK_AX), muxer(VARROW_AX);
    ASSERT_TRUE(encoder.Ok() && muxer.Ok());
    std::vector<profiles::ProfileSlot> slots(profiles::BuiltinProfileCount());
    ASSERT_TRUE(profiles::BuildBuiltinSlots(slots.data(), slots.size()));
    const auto firstOfClass = [&](int32_t cls) -> const profiles::ProfileSlot* {
        for (const profiles::ProfileSlot& slot : slots)
            if (slot.head.videoFormatClass == cls) return &slot;
        return nullptr;
    };
    const struct {
        int32_t cls;
        const char* format;
        const char* video;
        const char* clip;
    } cases[] = {{profiles::kClassH264, "mpegts", "h264", "Capture.mpg"},
                 {profiles::kClassMpeg2, "mpeg", "mpeg2video", "Capture(0).mpg"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.video);
        const profiles::ProfileSlot* slot = firstOfClass(c.cls);
        ASSERT_NE(slot, nullptr);
        auto record = std::make_unique<profiles::ProfileRecord>();
        record->head = slot->head;
        record->block = slot->block;
        page_->SetProfile(*record);
        SetTimeLimit("00:00:03");
        parent_.codes.clear();
        parent_.clips.clear();
        // The deck plays on while the clip before is encoded, a fast deck to the tape's end:
        // each case records from the tape's head.
        Click(CDVCapturePage::kRewind);
        ASSERT_TRUE(PumpUntil([&] { return Frames() >= 0 && Frames() < 25 * 61; }, 30000)) << Timecode();
        Click(CDVCapturePage::kStop);
        RecordUntilIdle(180000);
        ASSERT_EQ(parent_.clips.size(), 1u) << "message boxes: " << ::testing::PrintToString(boxes_);
        const std::string clip = parent_.clips[0];
        EXPECT_EQ(clip, captures_ + "\\" + c.clip);
        std::string format;
        ASSERT_TRUE(testsupport::Ffprobe(clip, "-show_entries format=format_name -of csv=p=0", &format));
        EXPECT_EQ(testsupport::CsvRows(format)[0][0], c.format);
        std::string streams;
        ASSERT_TRUE(testsupport::Ffprobe(clip, "-show_entries stream=codec_name,codec_type -of csv=p=0", &streams));
        bool video = false, audio = false;
        for (const auto& row : testsupport::CsvRows(streams)) {
            video = video || (row.size() == 2 && row[0] == c.video && row[1] == "video");
            audio = audio || (row.size() == 2 && row[1] == "audio");
        }
        EXPECT_TRUE(video) << streams;
        EXPECT_TRUE(audio) << streams;
        EXPECT_NEAR(ProbeSeconds(clip), 3.0, 0.25);
        EXPECT_TRUE(boxes_.empty());
    }
}

// Encoding after capture, in front and in the background, draws the skin's band behind its
// caption in the caption's place.
TEST_F(DvCapturePageTest, PostEncodingPhasesDrawTheirBackground) {
    auto* background = dynamic_cast<CGButton*>(page_->Control(CDVCapturePage::kNonRealtimeCheck));
    ASSERT_NE(background, nullptr);
    const int before = background->IsChecked();
    background->SetCheck(1);
    Click(CDVCapturePage::kNonRealtimeCheck);  // the background phase is that of encoding after capture
    const RECT& r = page_->PostEncodingRect();
    ASSERT_GT(r.right - r.left, 8);
    const auto notice = [&](UINT_PTR code, const char* text) {
        auto* payload = new CDVCapturePage::NoticePayload{0, text};
        page_->SendMessage(CDVCapturePage::kEngineNotice, code, reinterpret_cast<LPARAM>(payload));
        page_->UpdateWindow();
        Pump(100);
    };
    const struct {
        UINT_PTR code;
        const char* shot;
    } phases[] = {{engines::WM_NON_REALTIME_ENCODE, "dv_page_post_encoding.png"},
                  {engines::WM_POST_ENCODING_START, "dv_page_background_encoding.png"}};
    for (const auto& phase : phases) {
        SCOPED_TRACE(phase.shot);
        notice(phase.code, "Capture.mpg");
        ASSERT_TRUE(testsupport::CaptureScreen(phase.shot));
        // The band's ground left of the centred caption, and its accent rule at the bottom.
        testsupport::Rgb ground{}, rule{};
        ASSERT_TRUE(testsupport::PixelAt(phase.shot, origin_.x + r.left + 3, origin_.y + r.top + 8, &ground));
        ASSERT_TRUE(testsupport::PixelAt(phase.shot, origin_.x + r.left + 3, origin_.y + r.bottom - 1, &rule));
        EXPECT_EQ(ground, (testsupport::Rgb{0x17, 0x3A, 0x5E}));
        EXPECT_EQ(rule, (testsupport::Rgb{0x3C, 0x8D, 0xDE}));
    }
    background->SetCheck(before);
    Click(CDVCapturePage::kNonRealtimeCheck);
}

// Opens the selection with SETUP; in the dialog, notes the texts listed, chooses the second
// device and presses `button`.
void ChooseSecondDeckThen(CDVCapturePage* page, UINT button, std::vector<std::string>* listed) {
    g_step = [=] {
        HWND dialog = FindDialog("Select DV device");
        if (!dialog) return false;
        HWND combo = GetDlgItem(dialog, IDC_DV_DEVICE_COMBO);
        const int count = int(SendMessageA(combo, CB_GETCOUNT, 0, 0));
        for (int i = 0; i < count; ++i) {
            char text[260] = {};
            SendMessageA(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
            listed->emplace_back(text);
        }
        SendMessageA(combo, CB_SETCURSEL, 1, 0);
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_DV_DEVICE_COMBO, CBN_SELCHANGE), LPARAM(combo));
        PostMessageA(dialog, WM_COMMAND, button, 0);
        return true;
    };
    SetTimer(nullptr, 0, 100, RunStep);
    page->SendMessage(WM_COMMAND, MAKEWPARAM(CDVCapturePage::kSetup, BN_CLICKED), 0);
}

// The selection dialog lists both decks by their friendly names; choosing the second binds
// it at once and OK keeps it.
// The batch button lends the deck to the batch capture dialog; once the dialog closes the page
// has its engine back and follows the tape again.
TEST_F(DvCapturePageTest, TheBatchButtonLendsTheDeckToTheBatchDialogAndTakesItBack) {
    Click(CDVCapturePage::kPause);
    Pump(500);
    bool shown = false;
    g_step = [&] {
        HWND w = FindDialog("Batch capture");
        if (!w) return false;
        shown = IsWindowVisible(w) != 0;
        EXPECT_TRUE(testsupport::CaptureScreen("dv_page_batch_dialog.png"));
        PostMessageA(w, WM_COMMAND, MAKEWPARAM(3076, BN_CLICKED), 0);  // Cancel
        return true;
    };
    const UINT_PTR timer = SetTimer(nullptr, 0, 500, RunStep);
    Click(CDVCapturePage::kBatch);
    KillTimer(nullptr, timer);
    EXPECT_TRUE(shown);
    EXPECT_EQ(FindDialog("Batch capture"), nullptr);
    Click(CDVCapturePage::kPlay);
    const int64_t before = Frames();
    EXPECT_TRUE(PumpUntil([&] { return Frames() > before + 10; }, 10000)) << Timecode();
    Click(CDVCapturePage::kStop);
}

TEST_F(DvCapturePageTest, TheSelectionDialogListsBothDecksAndBindsTheChosenOne) {
    std::vector<std::string> listed;
    ChooseSecondDeckThen(page_, IDOK, &listed);
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_NE(listed[0].find("Simulated DV Camcorder"), std::string::npos);
    EXPECT_NE(listed[1].find("Second deck"), std::string::npos);
    EXPECT_EQ(page_->CurrentDevice(), listed[1]);
    EXPECT_TRUE(Has(2025));
    EXPECT_EQ(page_->GetState(), CDVCapturePage::kPaused);
}

TEST_F(DvCapturePageTest, CancellingTheSelectionReopensTheFirstDeck) {
    const std::string first = page_->CurrentDevice();
    std::vector<std::string> listed;
    ChooseSecondDeckThen(page_, IDCANCEL, &listed);
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(page_->CurrentDevice(), first);
    EXPECT_EQ(std::count(parent_.codes.begin(), parent_.codes.end(), 2025u), 2);
}

// ---- device discovery ----
class DvDeviceSearchTest : public ::testing::Test {
protected:
    static constexpr char kFake[] =
        "System\\CurrentControlSet\\Control\\DeviceClasses\\{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\##?#TEST#FAKE";
    void SetLinkedFake(DWORD linked, const char* name) {
        HKEY h = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, (std::string(kFake) + "\\#GLOBAL\\Control").c_str(), 0, nullptr,
                                  0, KEY_SET_VALUE, nullptr, &h, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExA(h, "Linked", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&linked), sizeof linked);
        RegCloseKey(h);
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, (std::string(kFake) + "\\#GLOBAL\\Device Parameters").c_str(), 0,
                                  nullptr, 0, KEY_SET_VALUE, nullptr, &h, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExA(h, "FriendlyName", 0, REG_SZ, reinterpret_cast<const BYTE*>(name), DWORD(strlen(name) + 1));
        RegCloseKey(h);
    }
    void TearDown() override { RegDeleteTreeA(HKEY_LOCAL_MACHINE, kFake); }
    comtest::ComScope com_;
};

TEST_F(DvDeviceSearchTest, RegisteredDecksAreFoundAndUnregisteredOnesAreNot) {
    {
        Registered query(STRING_QUERY_DLL);
        ASSERT_TRUE(query.Ok());
        {
            Registered decks(DV_CAMCORDER_DLL);
            ASSERT_TRUE(decks.Ok());
            EXPECT_EQ(dvdevices::FindDVDeviceInDeviceClasses(false), 1);
            EXPECT_EQ(dvdevices::FindDVDeviceInDeviceClasses(true), 0) << "a DV deck is not a listed device";
            EXPECT_TRUE(dvdevices::IsVideoInputDevice("1. Simulated DV Camcorder (DV)"));
        }
        EXPECT_EQ(dvdevices::FindDVDeviceInDeviceClasses(false), 0) << "unregistering removes the interfaces";
        // A listed device (the first listed name) counts for the listed search only, and only
        // while it is linked.
        std::string first;
        ASSERT_TRUE(dvdevices::QueryEngineString(4, "", &first));
        SetLinkedFake(0, first.c_str());
        EXPECT_EQ(dvdevices::FindDVDeviceInDeviceClasses(true), 0);
        SetLinkedFake(1, first.c_str());
        EXPECT_EQ(dvdevices::FindDVDeviceInDeviceClasses(true), 1);
        EXPECT_EQ(dvdevices::FindDVDeviceInDeviceClasses(false), 0);
        int kind = 0;
        EXPECT_TRUE(dvdevices::IsListedDevice((first + " 1").c_str(), &kind));
        EXPECT_EQ(kind, 1);
    }
    // Without the string query object nothing is listed, and any linked device with a
    // friendly name under "#GLOBAL" counts.
    EXPECT_EQ(dvdevices::FindDVDeviceInDeviceClasses(true), 0);
    EXPECT_EQ(dvdevices::FindDVDeviceInDeviceClasses(false), 1);
}

// ---- the capture-file prompt ----
class CaptureFilePromptTest : public ResourceLibraryTest {
protected:
    void SetUp() override {
        folder_ = testsupport::FixturePath(testsupport::UniqueName("prompt"));
        ASSERT_TRUE(CreateDirectoryA(folder_.c_str(), nullptr));
        AfxSetMessageBoxHook([this](const MessageBoxRequest& r) {
            boxes_.push_back(r.id);
            return (r.type & MB_YESNO) ? IDYES : IDOK;
        });
    }
    void TearDown() override { AfxSetMessageBoxHook(nullptr); }
    std::string At(const char* name) const { return folder_ + "\\" + name; }
    // Runs the prompt for `clip`, typing `name` and pressing `button`, then whatever the
    // dialog still shows is cancelled.
    INT_PTR Run(const char* clip, const char* name, UINT button, CString* result) {
        CCaptureFilePromptDlg dialog(nullptr, FALSE);
        dialog.SetPath(At(clip).c_str());
        int presses = 0;
        g_step = [&] {
            HWND w = FindDialog("Captured file");
            if (!w) return false;
            if (presses++ == 0) {
                SetDlgItemTextA(w, IDC_PROMPT_NAME, name);
                SendMessageA(w, WM_COMMAND, button, 0);
                if (IsWindow(w) && IsWindowVisible(w)) PostMessageA(w, WM_COMMAND, IDCANCEL, 0);
            }
            return true;
        };
        SetTimer(nullptr, 0, 50, RunStep);
        const INT_PTR answer = dialog.DoModal();
        *result = dialog.GetResultPath();
        return answer;
    }
    std::string folder_;
    std::vector<UINT> boxes_;
};

TEST_F(CaptureFilePromptTest, NamesWithReservedCharactersAreRefused) {
    for (const char* bad : {"", "a\\b", "a/b", "a:b", "a*b", "a?b", "a\"b", "a<b", "a>b", "a|b"})
        EXPECT_FALSE(CCaptureFilePromptDlg::IsValidName(bad)) << bad;
    EXPECT_TRUE(CCaptureFilePromptDlg::IsValidName("Holiday 2026 (beach)"));
    WriteText(At("A.avi"), "clip");
    CString result;
    EXPECT_EQ(Run("A.avi", "a?b", IDOK, &result), IDCANCEL);
    EXPECT_EQ(boxes_, std::vector<UINT>{IDS_PROMPT_BAD_NAME});
    EXPECT_EQ(ReadText(At("A.avi")), "clip");
}

TEST_F(CaptureFilePromptTest, ANewNameMovesTheClipAndItsContinuationsWithoutAGap) {
    WriteText(At("A.avi"), "clip");
    WriteText(At("A(0).avi"), "zero");
    WriteText(At("A(1).avi"), "one");
    WriteText(At("A(3).avi"), "three");  // after a gap: not the clip's
    CString result;
    EXPECT_EQ(Run("A.avi", "B", IDOK, &result), IDOK);
    EXPECT_EQ(std::string(result.c_str()), At("B.avi"));
    EXPECT_EQ(ReadText(At("B.avi")), "clip");
    EXPECT_EQ(ReadText(At("B(0).avi")), "zero");
    EXPECT_EQ(ReadText(At("B(1).avi")), "one");
    EXPECT_EQ(ReadText(At("A(3).avi")), "three");
    EXPECT_EQ(GetFileAttributesA(At("A.avi").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(boxes_.empty());
    // Keeping the name touches nothing.
    EXPECT_EQ(Run("B.avi", "B", IDOK, &result), IDOK);
    EXPECT_EQ(ReadText(At("B.avi")), "clip");
}

TEST_F(CaptureFilePromptTest, ATakenNameIsRefusedAndBothFilesStay) {
    WriteText(At("A.avi"), "clip");
    WriteText(At("Taken.avi"), "someone else's");
    CString result;
    EXPECT_EQ(Run("A.avi", "Taken", IDOK, &result), IDCANCEL);
    EXPECT_EQ(boxes_, std::vector<UINT>{IDS_PROMPT_TARGET_EXISTS});
    EXPECT_EQ(ReadText(At("Taken.avi")), "someone else's");
    EXPECT_EQ(ReadText(At("A.avi")), "clip");
}

TEST_F(CaptureFilePromptTest, DeleteRemovesTheClipAndItsContinuationsAndAnnouncesNothing) {
    WriteText(At("A.avi"), "clip");
    WriteText(At("A(0).avi"), "zero");
    WriteText(At("Other.avi"), "other");
    CString result;
    EXPECT_EQ(Run("A.avi", "A", IDC_PROMPT_DELETE, &result), IDCANCEL);
    EXPECT_TRUE(result.IsEmpty());
    EXPECT_EQ(GetFileAttributesA(At("A.avi").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesA(At("A(0).avi").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(ReadText(At("Other.avi")), "other");
}

// ---- the capture block ----
TEST(CaptureParams, ProfileClassesGiveTheirCaptureKindsAndValues) {
    const struct {
        int32_t cls;
        int kind;
    } cases[] = {{profiles::kClassAvi, 0},   {profiles::kClassDv, 0},   {profiles::kClassMpeg1, 1},
                 {profiles::kClassMpeg2, 2}, {profiles::kClassVcd, 3},  {profiles::kClassSvcd, 6},
                 {profiles::kClassDvd, 7},   {profiles::kClassH264, 8}, {profiles::kClassReal, -1}};
    for (const auto& c : cases) {
        auto record = std::make_unique<profiles::ProfileRecord>();
        record->head.videoFormatClass = c.cls;
        record->head.streamFlag = 1;
        engines::CaptureParams params{};
        params.encoderType = 77;
        uint32_t selection = 9;
        EXPECT_EQ(FillCaptureParams(*record, 25.0f, 0, &params, &selection), c.kind) << c.cls;
        EXPECT_EQ(params.encoderType, c.kind < 0 ? 77u : uint32_t(c.kind)) << c.cls;
    }
    // MPEG audio flags: 2 is 44000 (as the flag table says), an unknown flag keeps the field,
    // bit-rate code bit 8 is 128 kbit/s.
    auto record = std::make_unique<profiles::ProfileRecord>();
    ASSERT_TRUE(profiles::AllocMpegParams(*record));
    record->head.videoFormatClass = profiles::kClassMpeg2;
    record->head.streamFlag = 3;
    record->block.mpeg.streams[0].audio.samplesPerSecCode = 2;
    record->block.mpeg.streams[0].audio.bitsPerSample = 3;
    record->block.mpeg.streams[0].audio.bitRate = 1 << 8;
    engines::CaptureParams params{};
    params.mpeg.sampleBits = 123;
    uint32_t selection = 9;
    ASSERT_EQ(FillCaptureParams(*record, 25.0f, 0, &params, &selection), 2);
    EXPECT_EQ(selection, 0u);
    EXPECT_EQ(params.mpeg.samplingRate, 44000u);
    EXPECT_EQ(params.mpeg.sampleBits, 123u);
    EXPECT_EQ(params.mpeg.audioBitRate, 128000u);
    // H.264 with the main page's switch: 720 x 576 at 25 frames a second.
    record->head.videoFormatClass = profiles::kClassH264;
    memset(&record->block, 0, sizeof record->block);
    record->block.h264.width = 320;
    record->block.h264.height = 240;
    ASSERT_EQ(FillCaptureParams(*record, 25.0f, 1, &params, &selection), 8);
    EXPECT_EQ(params.h264.video[0], 720u);
    EXPECT_EQ(params.h264.video[1], 576u);
    ASSERT_EQ(FillCaptureParams(*record, 25.0f, 0, &params, &selection), 8);
    EXPECT_EQ(params.h264.video[0], 320u);
}

}  // namespace
