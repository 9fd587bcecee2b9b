#include "app/pages/batch_capture_dlg.h"

#include <windowsx.h>

#include <algorithm>
#include <cmath>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "app/pages/batch_merge_dialogs.h"
#include "app/pages/dv_capture_page.h"
#include "app/pages/dv_devices.h"
#include "app/profiles/profile_select_dlg.h"
#include "app/resources/resource_ids.h"
#include "app/services/mixer.h"
#include "app/services/preferences.h"
#include "app/services/reg_value.h"
#include "app/services/settings_keys.h"
#include "app/skin/common_dialogs.h"
#include "app/skin/skin_controls.h"
#include "app/skin/skin_edits.h"
#include "app/skin/skin_images.h"
#include "app/skin/skin_layout.h"
#include "app/skin/skin_sliders.h"
#include "app/skin/skin_volume.h"
#include "engines/client/engine_client.h"
#include "framework/app.h"

namespace {

constexpr const char* kView = "BATCH";
constexpr const char* kLayout = "LAYOUT1";
constexpr int kClientWidth = 762, kClientHeight = 594;
constexpr DWORD kThreadJoinMs = 5000;     // a poll or scan thread ends within this once told
constexpr DWORD kPauseWaitMs = 10000;     // the deck pauses within this before a scan
constexpr DWORD kScanDrainMs = 10000;     // the scan's last samples arrive within this after its stop
constexpr int kClipboardTries = 100;      // 100 ms apart: a thumbnail reaches the clipboard in 10 s
constexpr int64_t kScanLimitMinutes = 5;  // a scan ends once its segments exceed this

std::atomic<CDVBatchCaptureDlg*> g_dialog{nullptr};
std::atomic<HWND> g_dialogWindow{nullptr};

DWORD RecordingSwitch(const char* name, DWORD fallback) {
    CRegBinValue value(HKEY_CURRENT_USER, kRecordingKey, name, 1);
    if (value.Read()) return value.Get();
    value.Set(fallback);
    return fallback;
}

void SetRecordingSwitch(const char* name, DWORD value) {
    CRegBinValue(HKEY_CURRENT_USER, kRecordingKey, name, 1).Set(value);
}

// The engine's packed time code holds hours in its lowest byte; the list's in its highest.
uint32_t FromEngineTimecode(DWORD tc) {
    return batchcap::PackTimecode(tc & 0xFF, tc >> 8 & 0xFF, tc >> 16 & 0xFF, tc >> 24 & 0xFF);
}

bool CodeCarriesText(UINT_PTR code) {
    return code == engines::WM_REC_FINISH || code == engines::WM_NON_REALTIME_ENCODE ||
           code == engines::WM_NON_REALTIME_REC_FINISH || code == engines::WM_REC_STOPPED_MSG;
}

bool FileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

SkinControlBinding Row(const char* name, uint32_t id, uint32_t tooltip = 0) {
    SkinControlBinding row{};
    std::snprintf(row.name, sizeof row.name, "%s", name);
    row.id = id;
    row.tooltipId = tooltip;
    return row;
}

std::string Format(UINT id, int value) {
    char text[512] = {};
    const CString pattern = AfxLoadString(id);
    std::snprintf(text, sizeof text, pattern.c_str(), value);
    return text;
}

}  // namespace

CDVBatchCaptureDlg::CDVBatchCaptureDlg(CWnd* page) : CDialog(IDD_BATCH_CAPTURE, page), page_(page) {
    CRegStringValue name(HKEY_CURRENT_USER, kRecordingKey, "DVProfileName", 1);
    if (!name.Read()) name.Set("VCD NTSC");
    CRegDwordValue type(HKEY_CURRENT_USER, kRecordingKey, "DVProfileType", 1);
    if (!type.Read()) type.Set(5);
    nonRealtime_ = RecordingSwitch("NonRealtime", 1);
    RecordingSwitch("DVRecAutoStop", 1);
    RecordingSwitch("DurRecAutoStop", 5);
    const SkinControlBinding rows[kButtonRows] = {
        Row("IDC_BUTTON_CAP_PLAY", kTapePlay),
        Row("IDC_BUTTON_CAP_PAUSE", kTapePause),
        Row("IDC_BUTTON_CAP_STOP", kTapeStop),
        Row("IDC_BUTTON_CAP_REWIND", kTapeRewind),
        Row("IDC_BUTTON_CAP_FASTFORWORD", kTapeWind),
        Row("IDC_BUTTON_CAP_PREVFRAME", kTapePrevFrame),
        Row("IDC_BUTTON_CAP_NEXTFRAME", kTapeNextFrame),
        Row("IDC_BUTTON_DV_SEEK", kSeek),
        Row("IDC_CHK_CAP_NONREALTIME", kNonRealtimeCheck),
        Row("IDC_BUTTON_BATCH_NOTE", kNote),
        Row("IDC_BUTTON_DV_VOL", kVolume),
        Row("IDC_BUTTON_SHUTTLE_LEFT", kShuttleLeft),
        Row("IDC_BUTTON_SHUTTLE_RIGHT", kShuttleRight),
        Row("IDC_BUTTON_PROFILESETUP_F2", kProfile),
        Row("IDC_BUTTON_CAP_NEXT_STEP", kNext),
        Row("IDC_BUTTON_CAP_PREV_STEP", kBack),
        Row("IDC_BUTTON_CAP_CANCEL", kCancel),
        Row("IDC_BUTTON_BATCH_FILE_PLAY", kReviewPlay, 3111),
        Row("IDC_BUTTON_BATCH_FILE_PAUSE", kReviewPause, 3112),
        Row("IDC_BUTTON_BATCH_FILE_STOP", kReviewStop, 3113),
        Row("IDC_BUTTON_BATCH_FILE_NEXTFRAME", kReviewNextFrame, 3114),
        Row("IDC_BUTTON_BATCH_FILE_PREVFRAME", kReviewPrevFrame, 3115),
        Row("IDC_BUTTON_BATCH_FILE_FASTFORWARD", kReviewFast, 3116),
        Row("IDC_BATCH_BUTTONMERGE", kMerge, 3109),
        Row("IDC_BATCH_BUTTONAUTOMERGE", kAutoMerge, 3110),
    };
    std::copy(std::begin(rows), std::end(rows), buttons_);
    statics_[0] = Row("IDC_STATIC_TIMECODE", kTimecodeCaption);
    statics_[1] = Row("IDC_STATIC_PROFILE", kProfileStatic);
    statics_[2] = Row("IDC_STATIC_STEP_CAPTION", kStepCaption);
    statics_[3] = Row("IDC_STATIC_STEP_DESC", kStepDescription);
    statics_[4] = Row("IDC_STATIC_BATCH_SPEED", kSpeedStatic);
    statics_[5] = Row("IDC_STATIC_NONREALTIME", kNonRealtimeCaption);
    timecodeEdit_[0] = Row("IDC_EDIT_DV_TIMECODE", kTimecodeEdit);
    reviewSlider_[0] = Row("IDC_SLIDER_BATCH_PREVIEW", kReviewSlider);
    pollStop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

CDVBatchCaptureDlg::~CDVBatchCaptureDlg() {
    if (m_hWnd) DestroyWindow();
    if (pollStop_) CloseHandle(pollStop_);
}

void CDVBatchCaptureDlg::SetEngine(ISystemLayerDV* engine, engines::CaptureParams* params, float frameRate,
                                   const char* device, int pageDeviceClass, const char* captureFolder) {
    engine_ = engine;
    params_ = params;
    frameRate_ = frameRate;
    device_ = device ? device : "";
    pageDeviceClass_ = pageDeviceClass;
    captureFolder_ = captureFolder ? captureFolder : "";
    if (!cache_ && FAILED(CreateThumbnailCache(&cache_))) cache_ = nullptr;
    list_.SetThumbnailCache(cache_);
    if (engine_) engine_->SetCallback(&CDVBatchCaptureDlg::OnEngineNotify);
}

CWnd* CDVBatchCaptureDlg::Control(UINT id) const {
    for (const auto& r : buttons_)
        if (r.id == id) return r.control;
    for (const auto& r : statics_)
        if (r.id == id && r.control) return r.control;
    if (id == kTimecodeEdit) return timecodeEdit_[0].control;
    if (id == kReviewSlider) return reviewSlider_[0].control;
    if (id == kProgressSlider) return progress_;
    return nullptr;
}

// ---- set-up ----
BOOL CDVBatchCaptureDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    RECT frame{0, 0, kClientWidth, kClientHeight};
    AdjustWindowRectEx(&frame, DWORD(GetWindowLongA(m_hWnd, GWL_STYLE)), FALSE,
                       DWORD(GetWindowLongA(m_hWnd, GWL_EXSTYLE)));
    const int w = frame.right - frame.left, h = frame.bottom - frame.top;
    const int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
    ::SetWindowPos(m_hWnd, nullptr, (sw - w) / 2, sh > 600 ? (sh - h) / 2 : 0, w, h, SWP_NOZORDER);

    CreateSkinButtons(this, kView, buttons_, kButtonRows, 1);
    CreateSkinStatics(this, kView, statics_, kStaticRows, 1);
    CreateSkinTimeCodeEdits(this, kView, timecodeEdit_, 1);
    CreateSkinSelectSliders(this, kView, reviewSlider_, 1);
    if (auto* caption = dynamic_cast<CGStatic*>(statics_[0].control))
        caption->SetText(AfxLoadString(IDS_DV_TIMECODE_CAPTION).c_str());
    progress_ = CreateSkinProgressSlider(this, kView, kLayout, "IDC_DISPLAY_SELECTSLIDER", kProgressSlider,
                                         "batch_progress_bg.png", "batch_progress_fill.png");
    const auto rectOf = [](const char* name, RECT* out) {
        if (SkinStaticNode* node = CSkinLayout::FindStatic(kView, kLayout, name))
            *out = RECT{node->left, node->top, node->left + node->width, node->top + node->height};
    };
    rectOf("MONITOR", &monitor_);
    rectOf("DRAW_POST_ENCODING", &postEncodingRect_);
    rectOf("IDC_SLIDER_SHUTTLE", &shuttleRect_);
    rectOf("IDC_FILEPLAYBACK_BK", &playbackRect_);
    rectOf("IDC_BATCH_VOL_DV", &volumeTape_);
    rectOf("IDC_BATCH_VOL_FILE", &volumeFile_);
    RECT listRect{};
    rectOf("LISTCTRL", &listRect);
    background_ = LoadSkinBitmap("Batch_BG.png");
    playbackArt_ = LoadSkinBitmap("Batch_FilePlayback.png");
    shuttleStrip_ = LoadSkinBitmap("EncDVShuttle.jpg");
    list_.Create(listRect, this, kList, kView);
    list_.SetItemSize(112, 104);
    list_.SetThumbnailSize(96, 72);
    list_.SetBitmaps(LoadSkinBitmap("Batch ThumbnailNormal.JPG"), LoadSkinBitmap("Batch ThumbnailSelected.JPG"),
                     LoadSkinBitmap("Batch ThumbnailShine.JPG"), LoadSkinBitmap("Batch ThumbnailProcess.JPG"),
                     LoadSkinBitmap("EncDVCheckBox.jpg"));
    CRegStringValue profile(HKEY_CURRENT_USER, kRecordingKey, "DVProfileName", 0);
    profile.Read();
    ShowProfileName(profile.GetString());
    Check(kNonRealtimeCheck, nonRealtime_ != 0);
    ApplyStep();
    g_dialog = this;
    g_dialogWindow = m_hWnd;
    BindEngine();
    return TRUE;
}

BOOL CDVBatchCaptureDlg::DestroyWindow() {
    if (!m_hWnd) return FALSE;
    closing_ = true;
    KillTimer(kTimerReview);
    KillTimer(kTimerScanLimit);
    KillTimer(kTimerProgress);
    if (quickScan_ || scanWorker_.joinable()) StopQuickScan();
    if (batchRunning_) StopBatchCapture();
    StopPolling();
    if (engine_) engine_->SetCallback(nullptr);
    g_dialog = nullptr;
    g_dialogWindow = nullptr;
    MSG msg;
    while (PeekMessageA(&msg, m_hWnd, kEngineNotice, kEngineNotice, PM_REMOVE))
        delete reinterpret_cast<Notice*>(msg.lParam);
    while (PeekMessageA(&msg, m_hWnd, kScanSegment, kScanSegment, PM_REMOVE)) {
        auto* event = reinterpret_cast<ScanEvent*>(msg.lParam);
        if (event->thumbnail) DeleteObject(event->thumbnail);
        delete event;
    }
    CloseReview();
    for (IClipPlayer** p : {&player_, &stills_})
        if (*p) (*p)->Release(), *p = nullptr;
    DestroySkinButtons(buttons_, kButtonRows);
    DestroySkinStatics(kView, statics_, kStaticRows);
    DestroySkinTimeCodeEdits(kView, timecodeEdit_, 1);
    DestroySkinSelectSliders(kView, reviewSlider_, 1);
    if (progress_) {
        progress_->DestroyWindow();
        delete progress_;
        progress_ = nullptr;
    }
    list_.DestroyWindow();
    for (HBITMAP* b : {&background_, &playbackArt_, &shuttleStrip_, &postEncodingArt_})
        if (*b) DeleteObject(*b), *b = nullptr;
    if (cache_) {
        cache_->Release();
        cache_ = nullptr;
    }
    if (!scanPath_.empty() && FileExists(scanPath_)) DeleteFileA(scanPath_.c_str());
    const BOOL done = CDialog::DestroyWindow();
    if (page_ && page_->m_hWnd) ::SendMessageA(page_->m_hWnd, 0x7E9, 0, 0);
    return done;
}

// While attached the engine draws the deck's frames into the preview place; an empty place
// detaches it, so that the review player or the post-encoding picture shows there instead.
void CDVBatchCaptureDlg::AttachPreview(bool attach) {
    static const RECT kNowhere{};
    if (engine_) engine_->SetPreviewWindow(m_hWnd, attach ? &preview_ : &kNowhere);
}

void CDVBatchCaptureDlg::FitPreview() {
    const int w = monitor_.right - monitor_.left, h = monitor_.bottom - monitor_.top;
    const double scale = frameRate_ == 25.0f ? std::min(w / 360.0, h / 288.0) : std::min(w / 360.0, h / 240.0);
    const int vw = int(360 * scale), vh = int((frameRate_ == 25.0f ? 288 : 240) * scale);
    preview_ = RECT{monitor_.left + (w - vw) / 2, monitor_.top + (h - vh) / 2, 0, 0};
    preview_.right = preview_.left + vw;
    preview_.bottom = preview_.top + vh;
    if (auto* edit = dynamic_cast<CGTimeCodeEdit*>(Control(kTimecodeEdit)))
        edit->SetStandardValue(frameRate_ == 25.0f ? 0 : 1);
}

DWORD CDVBatchCaptureDlg::PreviewOptions() {
    DWORD options = 0;
    if (RecordingSwitch("NoPreview", 0) == 0) options |= 1;
    if (RecordingSwitch("UseOverlay", 0) != 0) options |= 2;
    return options;
}

void CDVBatchCaptureDlg::BindEngine() {
    if (!engine_) return;
    float rate = frameRate_;
    if (SUCCEEDED(engine_->GetFrameRate(&rate))) frameRate_ = rate;
    int kind = 0;
    special_ = !dvdevices::EngineInfoAvailable() || dvdevices::IsListedDevice(device_.c_str(), &kind);
    deviceKind_ = kind;
    EnableControl(kShuttleLeft, false);
    EnableControl(kShuttleRight, false);
    FitPreview();
    engine_->SetOptions(PreviewOptions());
    engine_->SetPreviewWindow(m_hWnd, &preview_);
    PauseIfTape();
    StartPolling();
    const uint32_t type = params_ ? params_->encoderType : 0;
    if (type == 0 || type == 8) {
        nonRealtime_ = type == 8 ? 1 : 0;
        Check(kNonRealtimeCheck, type == 8);
        EnableControl(kNonRealtimeCheck, false);
    }
}

// A deck just bound: paused when it holds a tape, else the user is told.
void CDVBatchCaptureDlg::PauseIfTape() {
    if (!HasTape()) {
        AfxMessageBox(IDS_DV_NO_TAPE, MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    engine_->Pause();
    state_ = kPaused;
    SetTransportButtons(213);
}

bool CDVBatchCaptureDlg::HasTape() {
    if (!engine_) return false;
    DWORD present = 1, status = 0;
    const HRESULT hr = engine_->GetMediaStatus(&present, &status);
    return !(SUCCEEDED(hr) && present == 0);
}

// ---- controls ----
void CDVBatchCaptureDlg::ShowControl(UINT id, bool show) {
    if (CWnd* c = Control(id); c && c->m_hWnd) c->ShowWindow(show ? SW_SHOW : SW_HIDE);
}

void CDVBatchCaptureDlg::EnableControl(UINT id, bool on) {
    CWnd* c = Control(id);
    if (!c || !c->m_hWnd) return;
    if (auto* b = dynamic_cast<CGButtonBase*>(c))
        b->Enable(on);
    else
        c->EnableWindow(on);
}

void CDVBatchCaptureDlg::Check(UINT id, bool on) {
    if (auto* b = dynamic_cast<CGButton*>(Control(id))) b->SetCheck(on ? 1 : 0);
}

void CDVBatchCaptureDlg::Press(UINT id) {
    SendMessageA(m_hWnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
}

void CDVBatchCaptureDlg::SetTransportButtons(int code) {
    for (UINT id : {kTapePlay, kTapePause, kTapeStop, kTapeRewind, kTapeWind, kTapePrevFrame, kTapeNextFrame})
        Check(id, false);
    for (UINT id : {kTapePlay, kTapePause, kTapeStop, kTapeRewind, kTapeWind})
        EnableControl(id, true);
    EnableControl(kTapePrevFrame, false);
    EnableControl(kTapeNextFrame, false);
    switch (code) {
        case 212:
            Check(kTapePlay, true);
            break;
        case 213:
        case 219:
        case 220:
            Check(kTapePause, true);
            if (code == 213 && pageDeviceClass_ != 0) {
                EnableControl(kTapePrevFrame, true);
                EnableControl(kTapeNextFrame, true);
            }
            break;
        case 214:
            break;
        case 215:
            Check(kTapeRewind, true);
            break;
        case 216:
            Check(kTapeWind, true);
            break;
        case 217:
            Check(kTapePlay, true), Check(kTapeRewind, true);
            break;
        case 218:
            Check(kTapePlay, true), Check(kTapeWind, true);
            break;
        case 222:
            for (UINT id : {kTapePlay, kTapePause, kTapeRewind, kTapeWind})
                EnableControl(id, false);
            Check(kTapePlay, true);
            break;
        default:  // 211, 221
            for (UINT id : {kTapePlay, kTapePause, kTapeRewind, kTapeWind})
                EnableControl(id, false);
            if (code != 221) EnableControl(kTapeStop, false);
            break;
    }
}

// Seek and time code follow `on`; the batch run and a scan hold the tape's buttons.
void CDVBatchCaptureDlg::EnableStepControls(bool on) {
    const bool running = batchRunning_.load();
    EnableControl(kSeek, on && !running && step_ != kReview && step_ != kCaptured);
    EnableControl(kTimecodeEdit, on && !running && step_ == kStart);
    EnableControl(kProfile, on && !running && step_ == kReview);
    if (running || quickScan_)
        for (UINT id : {kTapePlay, kTapePause, kTapeStop, kTapeRewind, kTapeWind, kTapePrevFrame, kTapeNextFrame})
            EnableControl(id, false);
}

void CDVBatchCaptureDlg::SetDescription(UINT id, int count) {
    description_ = count >= 0 ? Format(id, count) : std::string(AfxLoadString(id).c_str());
    if (auto* s = dynamic_cast<CGStatic*>(Control(kStepDescription))) s->SetText(description_.c_str());
}

void CDVBatchCaptureDlg::ApplyStep() {
    static const UINT kNextCaption[] = {IDS_BATCH_NEXT_SCAN, IDS_BATCH_NEXT_STOP_SCAN, IDS_BATCH_NEXT_CAPTURE,
                                        IDS_BATCH_NEXT_STOP, IDS_BATCH_NEXT_FINISH};
    static const UINT kCaption[] = {IDS_BATCH_STEP0_CAPTION, IDS_BATCH_STEP1_CAPTION, IDS_BATCH_STEP2_CAPTION,
                                    IDS_BATCH_STEP3_CAPTION, IDS_BATCH_STEP4_CAPTION};
    const int s = step_.load();
    if (auto* next = dynamic_cast<CGButton*>(Control(kNext)))
        next->SetToolTip(AfxLoadString(kNextCaption[s]).c_str(), TRUE);
    if (auto* caption = dynamic_cast<CGStatic*>(Control(kStepCaption)))
        caption->SetText(AfxLoadString(kCaption[s]).c_str());
    switch (s) {
        case kStart:
            SetDescription(IDS_BATCH_STEP0_DESC, -1);
            break;
        case kScan:
            SetDescription(IDS_BATCH_SCAN_COUNT, list_.Count());
            break;
        case kReview:
            SetDescription(IDS_BATCH_REVIEW_COUNT, list_.Count());
            break;
        case kCapture:
            SetDescription(IDS_BATCH_CAPTURED_COUNT, list_.CountStatusTwo());
            break;
        default:
            SetDescription(IDS_BATCH_FINISHED_COUNT, int(captured_.size()));
            break;
    }
    const bool tape = s == kStart || s == kScan || s == kCapture;
    for (UINT id : {kTapePlay, kTapePause, kTapeStop, kTapeRewind, kTapeWind, kTapePrevFrame, kTapeNextFrame,
                    kShuttleLeft, kShuttleRight})
        ShowControl(id, tape);
    ShowControl(kSeek, s != kCaptured);
    const bool review = s == kReview || s == kCaptured;
    for (UINT id : {kReviewPlay, kReviewStop, kReviewNextFrame, kReviewPrevFrame, kReviewFast})
        ShowControl(id, review);
    ShowControl(kReviewPause, false);
    ShowControl(kReviewSlider, review);
    ShowControl(kProgressSlider, s == kCapture);
    if (s != kReview && s != kCapture && list_.m_hWnd) list_.ShowWindow(s == kStart ? SW_HIDE : SW_SHOW);
    ShowControl(kBack, s != kStart);
    ShowControl(kNonRealtimeCheck, s == kReview);
    ShowControl(kNonRealtimeCaption, s == kReview);
    ShowControl(kNote, s == kStart);
    ShowControl(kSpeedStatic, false);
    if (CWnd* volume = Control(kVolume); volume && volume->m_hWnd) {
        const RECT& place = review ? volumeFile_ : volumeTape_;
        if (place.right > place.left)
            ::SetWindowPos(volume->m_hWnd, nullptr, place.left, place.top, place.right - place.left,
                           place.bottom - place.top, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    // Enabled by step.
    if (HMENU menu = ::GetSystemMenu(m_hWnd, FALSE))
        EnableMenuItem(menu, SC_CLOSE, MF_BYCOMMAND | (s == kScan || s == kCapture ? MF_GRAYED : MF_ENABLED));
    EnableControl(kMerge, false);
    EnableControl(kAutoMerge, s == kReview);
    EnableControl(kProfile, s == kReview);
    list_.Enable(s == kStart || s == kReview || s == kCaptured);
    for (UINT id : {kTapePlay, kTapePause, kTapeStop, kTapeRewind, kTapeWind})
        EnableControl(id, s == kStart);
    EnableControl(kTapePrevFrame, s == kStart && special_);
    EnableControl(kTapeNextFrame, s == kStart && special_);
    EnableControl(kSeek, s == kStart);
    EnableControl(kTimecodeEdit, s == kStart);
    for (UINT id : {kReviewPlay, kReviewStop, kReviewNextFrame, kReviewPrevFrame, kReviewFast, kReviewSlider})
        EnableControl(id, s == kReview);
    EnableControl(kBack, s == kReview || s == kCaptured);
    EnableControl(kNext, s != kScan || list_.Count() > 0);
    EnableControl(kCancel, s == kStart || s == kReview);
    if (m_hWnd) ::InvalidateRect(m_hWnd, nullptr, FALSE);
}

// ---- wizard ----
void CDVBatchCaptureDlg::OnNext() {
    if (device_.empty()) {
        AfxMessageBox(IDS_BATCH_NO_DEVICE, MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    if (stepping_) return;
    stepping_ = true;
    advanceRequested_ = true;
    if (step_ == kCapture) {
        StopBatchCapture();
    } else if (step_ == kCaptured) {
        stepping_ = false;
        EndDialog(1);
        return;
    } else if (step_ == kStart) {
        step_ = kScan;
        ApplyStep();
        if (!StartQuickScan()) {
            step_ = kStart;
            ApplyStep();
        } else {
            SetDescription(IDS_BATCH_SCAN_COUNT, 0);
        }
    } else if (step_ == kScan) {
        StopQuickScan();
        if (list_.CountChecked() == 0) {
            step_ = kStart;
            list_.RemoveAll();
            ApplyStep();
        } else {
            step_ = kReview;
            ApplyStep();
            AttachPreview(false);
            OpenScanFileForReview();
            SetDescription(IDS_BATCH_REVIEW_COUNT, list_.Count());
        }
    } else if (step_ == kReview) {
        if (list_.CountChecked() == 0) {
            step_ = kCaptured;
            CloseReview();
            ApplyStep();
        } else {
            step_ = kCapture;
            CloseReview();
            ApplyStep();
            if (progress_) progress_->SetRange(0, 0, TRUE);
            AttachPreview(true);
            StartBatchCapture();
            SetDescription(IDS_BATCH_CAPTURED_COUNT, list_.CountStatusTwo());
        }
    }
    stepping_ = false;
}

void CDVBatchCaptureDlg::OnBack() {
    advanceRequested_ = false;
    switch (step_) {
        case kStart:
            EndDialog(2);
            return;
        case kScan:
            StopQuickScan();
            list_.RemoveAll();
            step_ = kStart;
            break;
        case kReview:
            CloseReview();
            list_.RemoveAll();
            AttachPreview(true);
            step_ = kStart;
            break;
        case kCapture:
            StopBatchCapture();
            if (scanCount_ <= 0) {
                list_.RemoveAll();
                step_ = kStart;
            } else {
                AttachPreview(false);
                step_ = kReview;
                ApplyStep();
                OpenScanFileForReview();
            }
            break;
        case kCaptured:
            captured_.clear();
            if (scanCount_ <= 0) {
                step_ = kStart;
            } else {
                step_ = kReview;
                list_.ClearStatus();
                ApplyStep();
                OpenScanFileForReview();
            }
            break;
        default:
            break;
    }
    ApplyStep();
}

void CDVBatchCaptureDlg::OnOK() {
    if (step_ == kStart || step_ == kReview || step_ == kCaptured) CDialog::OnOK();
}

void CDVBatchCaptureDlg::OnCancel() {
    if (step_ == kStart || step_ == kReview || step_ == kCaptured) CDialog::OnCancel();
}

// The popup sets the level of the first mixer with recording lines; the button shows its mute.
void CDVBatchCaptureDlg::OnVolume() {
    if (volumePopup_) return;
    char device[260] = {};
    FindMixerDevice(kMixerHasWaveIn, device, sizeof device);
    LONG muted = 0;
    if (GetMixerMute(device, -1, &muted)) Check(kVolume, muted != 0);
    CGVolumeControl popup(this);
    volumePopup_ = &popup;
    popup.DoModal();
    popup.DestroyWindow();
    volumePopup_ = nullptr;
    if (GetMixerMute(device, -1, &muted)) Check(kVolume, muted != 0);
}

// The name as much of it as fits `width` pixels in the static's font, "..." ending a shortened
// one; a character is never cut (a double-byte one stays whole).
std::string CDVBatchCaptureDlg::FitProfileName(const std::string& name, int width) {
    CWnd* label = Control(kProfileStatic);
    if (!label || !label->m_hWnd || width <= 0) return name;
    HDC dc = ::GetDC(label->m_hWnd);
    HFONT font = nullptr;
    if (auto* s = dynamic_cast<CGStatic*>(label)) font = s->GetOwnFont();
    HGDIOBJ old = SelectObject(dc, font ? font : GetStockObject(DEFAULT_GUI_FONT));
    const auto fits = [dc, width](const std::string& text) {
        SIZE size{};
        GetTextExtentPoint32A(dc, text.c_str(), int(text.size()), &size);
        return size.cx <= width;
    };
    std::string shown = name;
    if (!fits(name)) {
        std::vector<size_t> ends;  // where each whole character ends
        for (size_t i = 0; i < name.size(); ++i) {
            if (IsDBCSLeadByte(BYTE(name[i])) && i + 1 < name.size()) ++i;
            ends.push_back(i + 1);
        }
        shown = "...";
        for (size_t k = ends.size(); k-- > 0;) {
            const std::string candidate = name.substr(0, ends[k]) + "...";
            if (fits(candidate)) {
                shown = candidate;
                break;
            }
        }
    }
    SelectObject(dc, old);
    ::ReleaseDC(label->m_hWnd, dc);
    return shown;
}

void CDVBatchCaptureDlg::ShowProfileName(const std::string& name) {
    auto* label = dynamic_cast<CGStatic*>(Control(kProfileStatic));
    if (!label || !label->m_hWnd) return;
    RECT r{};
    label->GetClientRect(&r);
    label->SetText(FitProfileName(name, r.right - r.left - 4).c_str());
    label->SetToolTip(name.c_str(), TRUE);
}

// The DV profile choice: the chosen profile goes into the page's capture block, and the switch
// follows what the profile can do (DV records only in real time, H.264 only afterwards).
void CDVBatchCaptureDlg::OnProfile() {
    if (profileDialog_) return;
    CRegDwordValue type(HKEY_CURRENT_USER, kRecordingKey, "DVProfileType", 1);
    CRegStringValue name(HKEY_CURRENT_USER, kRecordingKey, "DVProfileName", 1);
    profiles::CProfileSelectDlg dialog(this);
    dialog.SetProfileManager(store_);
    dialog.SetDeviceFlag(pageDeviceClass_ == 1);
    dialog.SetCurrent(profiles::kPageDvCapture, type.Read() ? int32_t(type.Get()) : profiles::kClassH264,
                      name.Read() ? name.GetString() : "", std::fabs(frameRate_ - 29.97f) < 0.01f ? 1 : 0);
    profileDialog_ = &dialog;
    const INT_PTR answer = dialog.DoModal();
    profileDialog_ = nullptr;
    if (answer != IDOK || !m_hWnd) return;
    if (!type.Read()) type.Set(3);
    if (!name.Read()) name.Set(AfxLoadString(IDS_DEFAULT_H264_PROFILE).c_str());
    const int32_t cls = int32_t(type.Get());
    profiles::ProfileRecord record{};
    if (cls == profiles::kClassDv) {
        record.head.videoFormatClass = profiles::kClassDv;
        std::snprintf(record.head.name, sizeof record.head.name, "%s", AfxLoadString(IDS_NATIVE_DV_PROFILE).c_str());
        record.block.dv.videoFormat = std::fabs(frameRate_ - 29.97f) < 0.01f ? 2000 : 2001;
        record.block.dv.audioFormat = 32000;
        record.block.dv.channel = 2;
        record.block.dv.fileFormat = 1;
    } else {
        if (profiles::IsMpegFormatClass(cls)) profiles::AllocMpegParams(record);
        if (cls == profiles::kClassH264) profiles::AllocH264Params(record);
        record.head.attribute = 1;
        if (store_) store_->ReadProfile(cls, 0, record, name.GetString(), 0);
    }
    uint32_t selection = 0;
    if (params_) FillCaptureParams(record, frameRate_, 0, params_, &selection);
    ShowProfileName(std::string(record.head.name, strnlen(record.head.name, sizeof record.head.name)));
    const uint32_t kind = params_ ? params_->encoderType : 0;
    if (kind == 0 || (!special_ && (kind == 1 || kind == 2 || kind == 3 || kind == 6 || kind == 7))) {
        nonRealtime_ = 0;
        Check(kNonRealtimeCheck, false);
        EnableControl(kNonRealtimeCheck, false);
    } else if (kind == 8) {
        nonRealtime_ = 1;
        Check(kNonRealtimeCheck, true);
        EnableControl(kNonRealtimeCheck, false);
    } else {
        EnableControl(kNonRealtimeCheck, true);
    }
    profiles::FreeProfileParams(record);
}

void CDVBatchCaptureDlg::OnNonRealtimeCheck() {
    nonRealtime_ = nonRealtime_ ? 0 : 1;
    Check(kNonRealtimeCheck, nonRealtime_ != 0);
    SetRecordingSwitch("NonRealtime", nonRealtime_);
}

BOOL CDVBatchCaptureDlg::OnCommand(WPARAM wParam, LPARAM lParam) {
    const UINT id = LOWORD(wParam);
    if (HIWORD(wParam) != BN_CLICKED) return CDialog::OnCommand(wParam, lParam);
    switch (id) {
        case kNext:
            OnNext();
            return TRUE;
        case kBack:
            OnBack();
            return TRUE;
        case kCancel:
            if (step_ == kScan || step_ == kCapture) return TRUE;
            OnTape(kTapeStop);
            EndDialog(1);
            return TRUE;
        case kTapePlay:
        case kTapePause:
        case kTapeStop:
        case kTapeRewind:
        case kTapeWind:
        case kTapePrevFrame:
        case kTapeNextFrame:
            OnTape(id);
            return TRUE;
        case kSeek:
            OnSeekButton();
            return TRUE;
        case kNonRealtimeCheck:
            OnNonRealtimeCheck();
            return TRUE;
        case kVolume:
            OnVolume();
            return TRUE;
        case kProfile:
            OnProfile();
            return TRUE;
        case kMerge:
            OnMerge();
            return TRUE;
        case kAutoMerge:
            OnAutoMerge();
            return TRUE;
        case kNote: {
            CBatchNoteDlg note(this);
            note.DoModal();
            return TRUE;
        }
        case kReviewPlay:
        case kReviewPause:
        case kReviewStop:
        case kReviewNextFrame:
        case kReviewPrevFrame:
        case kReviewFast:
            OnReviewButton(id);
            return TRUE;
        case 3085:
        case 3086:
            return TRUE;
        default:
            break;
    }
    return CDialog::OnCommand(wParam, lParam);
}

// ---- tape transport ----
void CDVBatchCaptureDlg::OnTape(UINT id) {
    if (!engine_) return;
    ++transportGen_;
    const int s = state_;
    const bool needsTape = id != kTapeStop;
    if (needsTape && !HasTape()) {
        AfxMessageBox(IDS_DV_NO_TAPE, MB_OK | MB_ICONEXCLAMATION);
        if (id != kTapePrevFrame && id != kTapeNextFrame) Check(id, false);
        return;
    }
    switch (id) {
        case kTapePlay:
            if (s == kPlaying) return Check(id, true);
            SetTransportButtons(212);
            engine_->Play();
            state_ = kPlaying;
            break;
        case kTapePause:
            if (s == kPaused) return Check(id, true);
            SetTransportButtons(213);
            engine_->Pause();
            state_ = kPaused;
            break;
        case kTapeStop:
            if (s == kStopped) return;
            if (s == kSeeking) {
                engine_->EndSeek();
            } else if (s == kRecording && encodingPhase_ != 2) {
                engine_->StopRecord();
                return;
            } else if (encodingPhase_ == 2) {
                if (AfxMessageBox(IDS_DV_CONFIRM_ABORT_ENCODING, MB_YESNO | MB_DEFBUTTON2 | MB_ICONQUESTION) != IDYES)
                    return;
                engine_->AbortRecord();
            } else {
                engine_->Stop();
            }
            SetTransportButtons(214);
            state_ = kStopped;
            tapeEndIgnore_ = false;
            break;
        case kTapeRewind:
            if (s == kRewinding || s == kRewindingPlay) return Check(id, true);
            if (s == kPlaying || s == kPaused || s == kWindingPlay) {
                engine_->RewindPlay();
                SetTransportButtons(217);
                state_ = kRewindingPlay;
            } else {
                engine_->Rewind();
                Sleep(100);
                DWORD mode = 0;
                engine_->GetTransportMode(&mode);
                if (mode != DWORD(engines::kTransportStop)) {
                    SetTransportButtons(215);
                    state_ = kRewinding;
                } else {
                    SetTransportButtons(214);
                    state_ = kStopped;
                }
            }
            break;
        case kTapeWind:
            if (s == kWinding || s == kWindingPlay) return Check(id, true);
            if (s == kPlaying || s == kPaused || s == kRewindingPlay) {
                engine_->FastForwardPlay();
                SetTransportButtons(218);
                state_ = kWindingPlay;
            } else {
                engine_->FastForward();
                SetTransportButtons(216);
                state_ = kWinding;
            }
            break;
        case kTapeNextFrame:
        case kTapePrevFrame:
            if (s >= kWinding && s <= kRewindingPlay) engine_->Pause();
            if (id == kTapeNextFrame)
                engine_->StepForward();
            else
                engine_->StepBackward();
            break;
        default:
            break;
    }
}

void CDVBatchCaptureDlg::OnSeekButton() {
    if (!engine_) return;
    if (state_ == kSeeking) {
        engine_->EndSeek();
        state_ = kPaused;
        return;
    }
    if (!HasTape()) {
        AfxMessageBox(IDS_DV_NO_TAPE, MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    auto* edit = dynamic_cast<CGTimeCodeEdit*>(Control(kTimecodeEdit));
    if (!edit) return;
    const DWORD target = DWORD(edit->GetHours()) | DWORD(edit->GetMinutes()) << 8 | DWORD(edit->GetSeconds()) << 16 |
                         DWORD(edit->GetFrames()) << 24;
    OnTape(kTapePause);
    if (FAILED(engine_->SeekTimecode(target)))
        AfxMessageBox(IDS_DV_SEEK_FAILED, MB_OK | MB_ICONEXCLAMATION);
    else
        state_ = kSeeking;
}

// ---- painting ----
void CDVBatchCaptureDlg::Paint() {
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(m_hWnd, &ps);
    HDC from = CreateCompatibleDC(dc);
    if (background_) {
        HGDIOBJ old = SelectObject(from, background_);
        BitBlt(dc, 0, 0, kClientWidth, kClientHeight, from, 0, 0, SRCCOPY);
        SelectObject(from, old);
    }
    const bool review = step_ == kReview || step_ == kCaptured;
    if (review && playbackArt_) {
        BITMAP info{};
        GetObjectA(playbackArt_, sizeof info, &info);
        HGDIOBJ old = SelectObject(from, playbackArt_);
        StretchBlt(dc, playbackRect_.left, playbackRect_.top, playbackRect_.right - playbackRect_.left,
                   playbackRect_.bottom - playbackRect_.top, from, 0, 0, info.bmWidth, info.bmHeight, SRCCOPY);
        SelectObject(from, old);
    } else {
        HBRUSH black = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
        FillRect(dc, &monitor_, black);
    }
    if (review && stillMode_ && still_) {
        BITMAP info{};
        GetObjectA(still_, sizeof info, &info);
        HGDIOBJ old = SelectObject(from, still_);
        SetStretchBltMode(dc, HALFTONE);
        StretchBlt(dc, preview_.left, preview_.top, preview_.right - preview_.left, preview_.bottom - preview_.top,
                   from, 0, 0, info.bmWidth, std::abs(info.bmHeight), SRCCOPY);
        SelectObject(from, old);
    }
    if (!review && shuttleStrip_) {
        // Step 0 shows the shuttle's position, the others its idle cell (32); the strip's
        // cells are as wide as the shuttle's place, position 16 sharing cell 15.
        const int position = step_ == kStart ? shuttlePos_ : 32;
        const int cellWidth = shuttleRect_.right - shuttleRect_.left;
        HGDIOBJ old = SelectObject(from, shuttleStrip_);
        BitBlt(dc, shuttleRect_.left, shuttleRect_.top, cellWidth, shuttleRect_.bottom - shuttleRect_.top, from,
               cellWidth * (position <= 15 ? position : position - 1), 0, SRCCOPY);
        SelectObject(from, old);
    }
    if (encodingPhase_ == 2 || encodingPhase_ == 3) {
        BITMAP info{};
        if (postEncodingArt_ && GetObjectA(postEncodingArt_, sizeof info, &info)) {
            const int w = std::min<int>(info.bmWidth, preview_.right - preview_.left);
            const int h = std::min<int>(std::abs(info.bmHeight), preview_.bottom - preview_.top);
            HGDIOBJ old = SelectObject(from, postEncodingArt_);
            BitBlt(dc, preview_.left + (preview_.right - preview_.left - w) / 2,
                   preview_.top + (preview_.bottom - preview_.top - h) / 2, w, h, from, 0, 0, SRCCOPY);
            SelectObject(from, old);
        }
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, GetSysColor(encodeClock_.blink ? COLOR_HIGHLIGHTTEXT : COLOR_HIGHLIGHT));
        HGDIOBJ oldFont = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
        RECT r = postEncodingRect_;
        DrawTextA(dc, encodeClock_.caption.c_str(), -1, &r, DT_CENTER | DT_WORDBREAK);
        SelectObject(dc, oldFont);
    }
    DeleteDC(from);
    ::EndPaint(m_hWnd, &ps);
}

// ---- quick scan ----
bool CDVBatchCaptureDlg::StartQuickScan() {
    if (!HasTape()) {
        AfxMessageBox(IDS_DV_NO_TAPE, MB_OK | MB_ICONEXCLAMATION);
        return false;
    }
    if (lastMode_ != DWORD(engines::kTransportFreeze)) {
        engine_->Pause();
        DWORD mode = 0;
        const DWORD until = GetTickCount() + kPauseWaitMs;
        for (;;) {
            if (SUCCEEDED(engine_->GetTransportMode(&mode)) && mode == DWORD(engines::kTransportFreeze)) break;
            if (LONG(until - GetTickCount()) <= 0) return false;
            PumpFor(250);
        }
        lastMode_ = mode;
    }
    if (OpenClipboard(m_hWnd)) {
        EmptyClipboard();
        CloseClipboard();
    }
    std::string folder = captureFolder_;
    if (!folder.empty() && folder.back() != '\\') folder += '\\';
    scanPath_ = batchcap::MakeUniqueName(folder + "quick_scan.avi", FileExists);
    {
        std::lock_guard<std::mutex> hold(queueLock_);
        queue_.clear();
    }
    openItem_ = -1;
    scanCount_ = -1;
    limitReached_ = false;
    scanGiveUp_ = false;
    scanDone_ = false;
    ++transportGen_;
    quickScan_ = true;
    try {
        scanWorker_ = std::thread([this] { ScanWorker(); });
    } catch (...) {
        quickScan_ = false;
        AfxMessageBox(IDS_BATCH_SCAN_FAILED, MB_OK | MB_ICONEXCLAMATION);
        return false;
    }
    if (scanPath_.empty() || FAILED(engine_->StartQuickScan(scanPath_.c_str()))) {
        quickScan_ = false;
        scanGiveUp_ = true;
        scanWorker_.join();
        AfxMessageBox(IDS_BATCH_SCAN_FAILED, MB_OK | MB_ICONEXCLAMATION);
        return false;
    }
    state_ = kPlaying;
    EnableStepControls(false);
    return true;
}

// Engine thread: only the copy, the queue and the frame put on the clipboard.
void CDVBatchCaptureDlg::QueueSample(const uint8_t* bytes) {
    if (!bytes || !bytes[25] || limitReached_) return;
    std::lock_guard<std::mutex> hold(queueLock_);
    queue_.emplace_back(bytes, bytes + batchcap::kScanSampleBytes);
    // The clipboard may be held for a moment by the worker reading the scene before.
    for (int tries = 0; bytes[26] && engine_ && tries < 10; ++tries) {
        if (SUCCEEDED(engine_->QuickScanMark())) break;
        Sleep(5);
    }
}

HBITMAP CDVBatchCaptureDlg::GrabClipboardThumbnail() {
    for (int i = 0; i < kClipboardTries && !IsClipboardFormatAvailable(CF_DIB); ++i) {
        if (scanGiveUp_) return nullptr;
        Sleep(100);
    }
    if (!OpenClipboard(nullptr)) return nullptr;
    HBITMAP bitmap = nullptr;
    if (HANDLE data = GetClipboardData(CF_DIB)) {
        const SIZE_T bytes = GlobalSize(data);
        if (const auto* header = static_cast<const BITMAPINFOHEADER*>(GlobalLock(data))) {
            const int64_t width = header->biWidth, height = std::abs(int64_t(header->biHeight));
            const size_t colours =
                header->biBitCount <= 8 ? (header->biClrUsed ? header->biClrUsed : 1u << header->biBitCount) : 0;
            const size_t bitsAt = header->biSize + colours * sizeof(RGBQUAD);
            const size_t stride = size_t((width * header->biBitCount + 31) / 32 * 4);
            // The header must describe a picture that lies within the clipboard's block.
            if (header->biSize >= sizeof(BITMAPINFOHEADER) && width > 0 && width <= 4096 && height > 0 &&
                height <= 4096 && bitsAt + stride * size_t(height) <= bytes) {
                HDC screen = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
                void* bits = nullptr;
                bitmap = CreateDIBSection(screen, reinterpret_cast<const BITMAPINFO*>(header), DIB_RGB_COLORS, &bits,
                                          nullptr, 0);
                if (bitmap && bits)
                    std::memcpy(bits, reinterpret_cast<const uint8_t*>(header) + bitsAt, stride * size_t(height));
                DeleteDC(screen);
            }
            GlobalUnlock(data);
        }
    }
    EmptyClipboard();
    CloseClipboard();
    return bitmap;
}

void CDVBatchCaptureDlg::ScanWorker() {
    struct Done {
        std::atomic<bool>& flag;
        ~Done() { flag = true; }
    } done{scanDone_};
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL);
    bool open = false;
    int index = 0;
    batchcap::BatchClipInfo clip;
    for (;;) {
        std::vector<uint8_t> sample;
        {
            std::lock_guard<std::mutex> hold(queueLock_);
            if (scanGiveUp_ || (!quickScan_ && !open && queue_.empty()) || limitReached_) {
                queue_.clear();
                return;
            }
            if (!queue_.empty()) {
                sample = std::move(queue_.front());
                queue_.pop_front();
            }
        }
        if (sample.empty()) {
            Sleep(1);
            continue;
        }
        const batchcap::ScanSample s = batchcap::ParseScanSample(sample.data());
        if (!batchcap::TimecodeValid(s.timecode)) continue;  // impossible time code: dropped
        const HWND window = g_dialogWindow.load();
        if (s.start) {
            clip = {};
            clip.inTimecode = s.timecode;
            clip.inTime = s.mediaTime;
            clip.startStamp = s.stamp;
            clip.scanValue = s.scanValue;
            // A scene whose picture never reached the clipboard is listed without a thumbnail
            // rather than lost.
            auto* event = new ScanEvent{true, index, clip, GrabClipboardThumbnail()};
            open = true;
            if (!window || !PostMessageA(window, kScanSegment, 0, reinterpret_cast<LPARAM>(event))) {
                if (event->thumbnail) DeleteObject(event->thumbnail);
                delete event;
                open = false;
            }
        } else if (open) {
            clip.outTime = s.mediaTime;
            clip.outTimecode = s.timecode;
            clip.endStamp = s.stamp;
            auto* event = new ScanEvent{false, index, clip, nullptr};
            if (!window || !PostMessageA(window, kScanSegment, 0, reinterpret_cast<LPARAM>(event))) delete event;
            ++index;
            open = false;
        }
    }
}

void CDVBatchCaptureDlg::OnScanEvent(ScanEvent* event) {
    if (event->start) {
        auto clip = std::make_unique<batchcap::BatchClipInfo>(event->clip);
        list_.AddClipFromBitmap("00:00:00:00", event->thumbnail, std::move(clip));
        openItem_ = list_.Count() - 1;
        EnableControl(kBack, false);
        EnableControl(kNext, true);
        if (step_ == kScan) SetDescription(IDS_BATCH_SCAN_COUNT, list_.Count());
    } else if (openItem_ >= 0) {
        batchcap::BatchClipInfo* clip = list_.GetClipRecord(openItem_);
        if (clip) {
            clip->outTime = event->clip.outTime;
            clip->outTimecode = event->clip.outTimecode;
            clip->endStamp = event->clip.endStamp;
            list_.SetLabel(openItem_, CEncBatchListCtrl::DurationLabel(*clip, frameRate_).c_str());
        }
        openItem_ = -1;
        if (!limitReached_ && list_.TotalDuration(frameRate_) / (60 * batchcap::kUnitsPerSecond) >= kScanLimitMinutes &&
            list_.TotalDuration(frameRate_) > kScanLimitMinutes * 60 * batchcap::kUnitsPerSecond) {
            limitReached_ = true;
            SetTimer(kTimerScanLimit, 10, nullptr);
        }
    }
    if (event->thumbnail) DeleteObject(event->thumbnail);
    delete event;
}

void CDVBatchCaptureDlg::StopQuickScan() {
    quickScan_ = false;
    if (engine_) engine_->StopQuickScan();
    // The scan's last samples come through the engine's notices; the worker ends once the open
    // segment is closed. A segment whose end never comes is given up after the bound.
    const DWORD until = GetTickCount() + kScanDrainMs;
    while (scanWorker_.joinable() && !scanDone_ && LONG(until - GetTickCount()) > 0)
        PumpFor(50);
    // The worker looks at the give-up flag at least every 100 ms, so the join is short.
    scanGiveUp_ = !scanDone_.load();
    if (scanWorker_.joinable()) scanWorker_.join();
    // Segments the worker posted before it ended.
    MSG msg;
    while (PeekMessageA(&msg, m_hWnd, kScanSegment, kScanSegment, PM_REMOVE))
        OnScanEvent(reinterpret_cast<ScanEvent*>(msg.lParam));
    if (state_ == kPlaying) state_ = kStopped;
    FinishScanList();
    EnableStepControls(true);
    SetTransportButtons(214);
    ::InvalidateRect(m_hWnd, nullptr, FALSE);
}

void CDVBatchCaptureDlg::FinishScanList() {
    scanBusy_ = true;
    const int count = list_.Count();
    // Each scene's thumbnail is read again from the scan file: a bar shows how far that got.
    const std::string caption = AfxLoadString(IDS_BATCH_FINISHING).c_str();
    CProgressDialog progress(this, caption.c_str());
    progress.ShowCancel(FALSE);
    progress.SetRange(0, std::max(count, 1), 1);
    progress.ShowWindow(SW_SHOW);
    for (int i = 0; i < count; ++i) {
        char title[300];
        std::snprintf(title, sizeof title, "%s %d", caption.c_str(), i);
        progress.SetTitle(title);
        progress.PumpMessages(FALSE);
        finishSteps_ = i + 1;
        batchcap::BatchClipInfo* clip = list_.GetClipRecord(i);
        if (!clip) {
            progress.StepIt();
            continue;
        }
        clip->scanEnded = 1;
        if (i != 0) clip->frameFlags |= batchcap::kStartFrameUnknown;
        if (i != count - 1) clip->frameFlags |= batchcap::kEndFrameUnknown;
        clip->sourcePath = scanPath_;
        auto copy = std::make_unique<batchcap::BatchClipInfo>(*clip);
        const std::string label = CEncBatchListCtrl::DurationLabel(*copy, frameRate_);
        if (!list_.ReplaceClip(i, scanPath_.c_str(), label.c_str(), std::move(copy))) list_.SetLabel(i, label.c_str());
        progress.StepIt();
    }
    progress.DestroyWindow();
    for (int i = 0; i < list_.Count();) {
        const batchcap::BatchClipInfo* clip = list_.GetClipRecord(i);
        if (!clip || batchcap::PruneSegment(*clip))
            list_.RemoveClip(i, false);
        else
            ++i;
    }
    SetDescription(IDS_BATCH_SCAN_COUNT, list_.Count());
    scanCount_ = list_.Count();
    scanBusy_ = false;
}

// ---- the batch run ----
void CDVBatchCaptureDlg::StartBatchCapture() {
    if (!HasTape()) {
        AfxMessageBox(IDS_DV_NO_TAPE, MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    std::string base;
    const DWORD attributes = GetFileAttributesA(captureFolder_.c_str());
    if (captureFolder_.empty() || attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        AfxMessageBox(IDS_FOLDER_MISSING, MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    base = captureFolder_;
    if (base.back() != '\\') base += '\\';
    base += "Default";
    if (!params_) return;
    std::snprintf(params_->captureFileName, sizeof params_->captureFileName, "%s", base.c_str());
    const auto* area = reinterpret_cast<const uint8_t*>(params_) + engines::kBatchAreaOffset;
    int added = 0;
    std::vector<uint8_t> record(engines::kSegmentRecordBytes);
    for (int i = 0; i < list_.Count(); ++i) {
        const CEncBatchListCtrl::Entry* entry = list_.GetEntry(i);
        if (!entry || !entry->checked || !entry->clip) continue;
        batchcap::BuildSegmentRecord(*entry->clip, nonRealtime_, area, engines::kBatchAreaBytes, record.data(),
                                     record.size());
        engine_->AddBatchSegment(record.data());
        ++added;
    }
    if (added == 0) {
        AfxMessageBox(IDS_BATCH_EMPTY, MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    // The list shows only what is captured; the run's n-th clip is its n-th item, and the files
    // of an earlier run are no longer listed.
    list_.ShowChecked();
    captured_.clear();
    currentSegment_ = 0;
    userStopped_ = false;
    deckFailed_ = false;
    batchEndedGuard_ = false;
    engine_->SetOptions(PreviewOptions() | (nonRealtime_ == 1 ? 4 : 0));
    if (RecordingSwitch("DVParamSetup", 0) == 1) {
        CRegBin8Value offset(HKEY_CURRENT_USER, kRecordingKey, "SeekOffset", 1);
        if (!offset.Read()) offset.Set(2.0);
        const float value = float(offset.Get());
        engine_->SetSeekOffset(&value);
    }
    ++transportGen_;
    if (FAILED(engine_->StartBatchCapture())) {
        AfxMessageBox(IDS_BATCH_REFUSED, MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    batchRunning_ = true;
    EnableStepControls(false);
}

void CDVBatchCaptureDlg::StopBatchCapture() {
    if (!batchRunning_ || !engine_) return;
    userStopped_ = true;
    if (state_ != kSeeking && nonRealtime_ == 1 && encodingPhase_ == 2) {
        engine_->AbortRecord();
        engine_->StopRecord();
        return;
    }
    engine_->StopBatchCapture(2);
    batchRunning_ = false;
}

// The clip takes the capture folder and prefix with its own extension, at a free name; a clip
// that cannot be moved there stays where the engine wrote it, and the user is told.
std::string CDVBatchCaptureDlg::RenameCapturedClip(const std::string& clip) {
    std::string folder = GetCaptureDir().c_str();
    if (!folder.empty() && folder.back() != '\\') folder += '\\';
    const size_t dot = clip.find_last_of('.'), slash = clip.find_last_of("\\/");
    const std::string extension =
        dot != std::string::npos && (slash == std::string::npos || dot > slash) ? clip.substr(dot) : ".avi";
    const std::string target = batchcap::MakeUniqueName(folder + GetCapturePrefix().c_str() + extension, FileExists);
    if (!target.empty() && MoveFileExA(clip.c_str(), target.c_str(), MOVEFILE_COPY_ALLOWED)) return target;
    char text[1024];
    std::snprintf(text, sizeof text, AfxLoadString(IDS_DV_RENAME_FAILED).c_str(), clip.c_str());
    AfxMessageBox(text, MB_OK | MB_ICONEXCLAMATION);
    return clip;
}

void CDVBatchCaptureDlg::OnClipFinished(const std::string& path) {
    list_.SetStatus(currentSegment_, 2);
    captured_.push_back(path);
    if (page_ && page_->m_hWnd) ::SendMessageA(page_->m_hWnd, 0x7E8, WPARAM(path.c_str()), 0);
    ++currentSegment_;
    if (step_ == kCapture) SetDescription(IDS_BATCH_CAPTURED_COUNT, list_.CountStatusTwo());
}

void CDVBatchCaptureDlg::OnBatchFinished() {
    if (closing_ || step_ == kCaptured) return;
    step_ = kCaptured;
    list_.ClearStatus();
    AttachPreview(false);
    ApplyStep();
    if (list_.Count() > 0 && !captured_.empty()) {
        list_.SelectItem(0);
        OnListClick(0);
    }
    SetDescription(IDS_BATCH_FINISHED_COUNT, int(captured_.size()));
    currentSegment_ = 0;
    batchEndedGuard_ = false;
}

void CDVBatchCaptureDlg::OnMerge() {
    if (step_ != kReview) return;
    list_.Join(1, frameRate_, 0);
    SetDescription(IDS_BATCH_REVIEW_COUNT, list_.Count());
    EnableControl(kMerge, false);
}

void CDVBatchCaptureDlg::OnAutoMerge() {
    if (step_ != kReview) return;
    CAutoMergeDlg choice(this);
    if (choice.DoModal() != IDOK) return;
    list_.Join(int(choice.Type()), frameRate_, choice.Duration());
    SetDescription(IDS_BATCH_REVIEW_COUNT, list_.Count());
}

// Once a second while clips are recorded: the encoder's progress, and while it encodes after
// the recording the minutes it has left, blinking.
void CDVBatchCaptureDlg::OnProgressTimer() {
    if (recordingPhase_ == 2) {
        KillTimer(kTimerProgress);
        progressTimer_ = false;
        state_ = kStopped;
        EnableStepControls(true);
        ::InvalidateRect(m_hWnd, nullptr, FALSE);
        recordingPhase_ = 0;
        return;
    }
    if (nonRealtime_ == 1 && encodeClock_.Tick(engine_, progress_, encodingPhase_)) {
        ::InvalidateRect(m_hWnd, &preview_, FALSE);
        ::InvalidateRect(m_hWnd, &postEncodingRect_, FALSE);
    }
}

// ---- the review player ----
// The player plays into the preview's place. A clip the playback graph cannot render (a DV
// file where no DV decoder is installed) is reviewed as stills: a probing player decodes the
// frame at each position and the dialog draws it, the timer moving the position while playing.
bool CDVBatchCaptureDlg::OpenReviewFile(const std::string& path) {
    if (!player_) {
        if (FAILED(CreateClipPlayer(&player_)) || !player_) {
            player_ = nullptr;
            return false;
        }
        player_->Initialize(m_hWnd, &preview_);
    }
    CloseReview();
    reviewPath_ = path;
    stillMode_ = false;
    reviewOpen_ = player_->Open(path.c_str(), 0, 0, 0);
    if (SUCCEEDED(reviewOpen_)) {
        player_->SetDisplayMode(0);
        player_->SetOpenOption(1);
        player_->ShowVideo(TRUE);
    } else {
        if (!stills_ && FAILED(CreateClipPlayer(&stills_))) stills_ = nullptr;
        if (!stills_ || FAILED(reviewOpen_ = stills_->Open(path.c_str(), 0, 0, 0))) {
            reviewPath_.clear();
            return false;
        }
        stillMode_ = true;
    }
    reviewDuration_ = 0;
    Source()->GetDuration(&reviewDuration_);
    if (auto* slider = dynamic_cast<CGSelectSlider*>(Control(kReviewSlider))) {
        slider->SetRange64(0, reviewDuration_, TRUE);
        slider->SetPos(0, FALSE);
    }
    return true;
}

IClipPlayer* CDVBatchCaptureDlg::Source() const {
    return stillMode_ ? stills_ : player_;
}

void CDVBatchCaptureDlg::OpenScanFileForReview() {
    if (!OpenReviewFile(scanPath_)) return;
    list_.ClearSelection();
    const batchcap::BatchClipInfo* first = list_.GetClipRecord(0);
    scanBase_ = first ? batchcap::TimecodeToTime(first->inTimecode, frameRate_) - first->inTime : 0;
    ReviewSeek(0);
    ShowReviewPlay(true);
}

void CDVBatchCaptureDlg::CloseReview() {
    KillTimer(kTimerReview);
    if (player_) {
        player_->Stop();
        player_->ShowVideo(FALSE);
        player_->Close();
    }
    if (stills_) stills_->Close();
    if (still_) DeleteObject(still_), still_ = nullptr;
    reviewPath_.clear();
    reviewState_ = 2;
    if (m_hWnd) ::InvalidateRect(m_hWnd, &preview_, FALSE);
}

void CDVBatchCaptureDlg::ShowReviewPlay(bool playShown) {
    ShowControl(kReviewPlay, playShown);
    ShowControl(kReviewPause, !playShown);
}

void CDVBatchCaptureDlg::ShowDisplayTime(int64_t position) {
    const int64_t shown = step_ == kReview ? position + scanBase_ : position;
    if (auto* edit = dynamic_cast<CGTimeCodeEdit*>(Control(kTimecodeEdit))) edit->SetTime(shown);
}

void CDVBatchCaptureDlg::DrawStill(int64_t position) {
    HBITMAP frame = nullptr;
    if (!stills_ || FAILED(stills_->GetFrameBitmap(&frame, position, 0)) || !frame) return;
    if (still_) DeleteObject(still_);
    still_ = frame;
    ::InvalidateRect(m_hWnd, &preview_, FALSE);
}

void CDVBatchCaptureDlg::ReviewSeek(int64_t position) {
    reviewPosition_ = position;
    if (auto* slider = dynamic_cast<CGSelectSlider*>(Control(kReviewSlider))) slider->SetPos(position, FALSE);
    if (!reviewPath_.empty() && FileExists(reviewPath_)) {
        const int64_t duration = reviewDuration_;
        const int64_t from =
            position >= duration ? std::max<int64_t>(duration - batchcap::FramesToTime(2, frameRate_), 0) : position;
        if (stillMode_) {
            reviewPosition_ = from;
            DrawStill(from);
        } else if (player_) {
            player_->SetPlayRange(from, duration);
        }
    }
    ShowDisplayTime(position);
}

void CDVBatchCaptureDlg::OnListClick(int index) {
    if (step_ == kReview) {
        if (index < 0) {
            EnableControl(kMerge, false);
            return;
        }
        OnReviewButton(kReviewPause);
        if (const batchcap::BatchClipInfo* clip = list_.GetClipRecord(index)) ReviewSeek(clip->inTime);
        int count = 0;
        list_.GetSelection(&count, nullptr);
        EnableControl(kMerge, count >= 2);
    } else if (step_ == kCaptured) {
        if (index < 0) {
            CloseReview();
            for (UINT id : {kReviewPlay, kReviewPause, kReviewStop, kReviewNextFrame, kReviewPrevFrame, kReviewFast,
                            kReviewSlider})
                EnableControl(id, false);
            ReviewSeek(0);
            return;
        }
        if (index >= int(captured_.size())) return;
        const std::string& path = captured_[size_t(index)];
        if (!FileExists(path)) {
            CloseReview();
            return;
        }
        if (path == reviewPath_) return;
        if (!OpenReviewFile(path)) return;
        ReviewSeek(0);
        for (UINT id :
             {kReviewPlay, kReviewPause, kReviewStop, kReviewNextFrame, kReviewPrevFrame, kReviewFast, kReviewSlider})
            EnableControl(id, true);
    }
}

void CDVBatchCaptureDlg::OnReviewButton(UINT id) {
    if ((step_ != kReview && step_ != kCaptured) || reviewPath_.empty()) return;
    IClipPlayer* playing = stillMode_ ? nullptr : player_;
    auto label = [this](const char* text) {
        if (auto* s = dynamic_cast<CGStatic*>(Control(kSpeedStatic))) s->SetText(text);
        ShowControl(kSpeedStatic, text && *text);
        speedTicks_ = 0;
    };
    auto rest = [&] {
        rate_ = 0.34f;
        multiplier_ = 0;
        label("");
    };
    switch (id) {
        case kReviewPlay:
            if (reviewState_ == 0) return;
            rest();
            if (playing) playing->SetRate(step_ == kReview ? 0.34f : 1.0f);
            SetTimer(kTimerReview, 100, nullptr);
            ShowReviewPlay(false);
            reviewState_ = 0;
            break;
        case kReviewPause:
            if (reviewState_ == 2) return;
            if (playing) playing->Pause();
            KillTimer(kTimerReview);
            ShowReviewPlay(true);
            rest();
            reviewState_ = 2;
            break;
        case kReviewStop:
            if (playing) playing->Stop();
            KillTimer(kTimerReview);
            ShowReviewPlay(true);
            rest();
            ReviewSeek(0);
            if (step_ == kReview) list_.ClearSelection();
            reviewState_ = 2;
            break;
        case kReviewNextFrame:
        case kReviewPrevFrame: {
            if (playing) playing->Pause();
            KillTimer(kTimerReview);
            DWORD inOut = 1, step = 0;
            Source()->GetSelection(&inOut, &step);
            if (step == 0) step = DWORD(batchcap::FramesToTime(1, frameRate_));
            const int64_t at = id == kReviewNextFrame ? std::min(reviewPosition_ + int64_t(step), reviewDuration_)
                                                      : std::max<int64_t>(reviewPosition_ - int64_t(step), 0);
            ReviewSeek(at);
            ShowReviewPlay(true);
            rest();
            reviewState_ = 2;
            break;
        }
        case kReviewFast: {
            rate_ += 0.34f;
            multiplier_ += 1;
            if (rate_ > 1.0f) {
                if (rate_ <= 1.1f)
                    rate_ = 1.0f, multiplier_ = 2;
                else
                    rate_ = 0.34f, multiplier_ = 0;
            }
            if (playing) playing->SetRate(step_ == kReview ? rate_ : float(multiplier_ + 1));
            SetTimer(kTimerReview, 100, nullptr);
            char text[16];
            std::snprintf(text, sizeof text, "%dX", multiplier_ + 1);
            label(multiplier_ ? text : "");
            ShowReviewPlay(rate_ <= 0.34f);
            reviewState_ = 1;
            break;
        }
        default:
            break;
    }
}

void CDVBatchCaptureDlg::OnReviewTimer() {
    int64_t position = 0;
    if (stillMode_) {
        // A tick of 100 ms at the review's speed.
        const double speed = step_ == kReview ? rate_ : multiplier_ + 1;
        position = reviewPosition_ + int64_t(speed * batchcap::kUnitsPerSecond / 10);
        if (position >= reviewDuration_) {
            OnReviewButton(kReviewStop);
            return;
        }
        DrawStill(position);
    } else if (!player_ || FAILED(player_->GetPosition(&position))) {
        return;
    }
    if (step_ == kReview) list_.SelectByTime(position);
    reviewPosition_ = position;
    if (auto* slider = dynamic_cast<CGSelectSlider*>(Control(kReviewSlider))) slider->SetPos(position, FALSE);
    ShowDisplayTime(position);
    if (++speedTicks_ >= 30) ShowControl(kSpeedStatic, false);
}

void CDVBatchCaptureDlg::OnReviewSlider() {
    auto* slider = dynamic_cast<CGSelectSlider*>(Control(kReviewSlider));
    if (!slider || reviewPath_.empty()) return;
    OnReviewButton(kReviewPause);
    int64_t position = 0;
    slider->GetPos(&position);
    if (step_ == kReview) list_.SelectByTime(position);
    ReviewSeek(position);
}

// ---- engine notices ----
void CALLBACK CDVBatchCaptureDlg::OnEngineNotify(UINT_PTR, UINT_PTR code, UINT_PTR param, UINT_PTR) {
    CDVBatchCaptureDlg* dialog = g_dialog.load();
    const HWND window = g_dialogWindow.load();
    if (!dialog || !window) return;
    if (code == engines::WM_QUICK_SCAN_SAMPLE) {
        dialog->QueueSample(reinterpret_cast<const uint8_t*>(param));
        return;
    }
    auto* notice = new Notice;
    notice->param = param;
    if (CodeCarriesText(code) && param) {
        const char* text = reinterpret_cast<const char*>(param);
        notice->text.assign(text, strnlen(text, 2 * MAX_PATH));
    }
    if (!PostMessageA(window, kEngineNotice, code, reinterpret_cast<LPARAM>(notice))) delete notice;
}

void CDVBatchCaptureDlg::OnNotice(UINT_PTR code, const Notice& notice) {
    switch (code) {
        case engines::WM_REC_START:
            recordingPhase_ = 1;
            state_ = kRecording;
            list_.SetStatus(currentSegment_, 1);
            list_.SelectItem(currentSegment_);
            if (!progressTimer_) progressTimer_ = SetTimer(kTimerProgress, 1000, nullptr) != 0;
            encodeClock_.Start();
            EnableStepControls(false);
            if (nonRealtime_ == 1) encodingPhase_ = 1;
            if (step_ == kCapture) AttachPreview(true);
            break;
        case engines::WM_REC_FINISH:
        case engines::WM_NON_REALTIME_REC_FINISH:
            if (!notice.text.empty()) OnClipFinished(RenameCapturedClip(notice.text));
            recordingPhase_ = 2;
            state_ = kStopped;
            tapeEndIgnore_ = false;
            lastMode_ = 4096;
            if (code == engines::WM_NON_REALTIME_REC_FINISH) {
                encodingPhase_ = 4;
                if (progress_) progress_->SetRange(0, 0, TRUE);
                ::InvalidateRect(m_hWnd, nullptr, FALSE);
            }
            break;
        case engines::WM_NON_REALTIME_ENCODE: {
            // A clip kept as AVI needs no encoding afterwards.
            const std::string& clip = notice.text;
            const bool avi = clip.size() >= 3 && _stricmp(clip.c_str() + clip.size() - 3, "AVI") == 0;
            if (!avi) {
                encodingPhase_ = 2;
                AttachPreview(false);
                encodeClock_.caption = AfxLoadString(IDS_DV_POST_ENCODING).c_str();
                if (!postEncodingArt_) postEncodingArt_ = LoadSkinBitmap("Batch PostEncodingBK.jpg");
                ::InvalidateRect(m_hWnd, nullptr, FALSE);
            }
            if (batchEndedGuard_ && engine_) {
                Sleep(1000);
                engine_->AbortRecord();
            }
            break;
        }
        case engines::WM_POST_ENCODING_START:
            if (nonRealtime_ == 1) {
                encodingPhase_ = 3;
                AttachPreview(false);
                encodeClock_.BackgroundBegins();
                encodeClock_.caption = AfxLoadString(IDS_DV_POST_ENCODING_BACKGROUND).c_str();
                if (!postEncodingArt_) postEncodingArt_ = LoadSkinBitmap("PostEncodingBK.bmp");
                ::InvalidateRect(m_hWnd, nullptr, FALSE);
            }
            break;
        case engines::WM_REC_CLOCK_RESET:
            // Recording goes on: the time spent encoding in between is not recording time.
            state_ = kRecording;
            encodingPhase_ = 1;
            encodeClock_.BackgroundEnds();
            if (step_ == kCapture) AttachPreview(true);
            break;
        case engines::kSeekBegun:
            if (batchRunning_) SetTransportButtons(211);
            state_ = kSeeking;
            break;
        case engines::WM_DV_ERROR: {
            const HRESULT hr = HRESULT(ULONG(notice.param));
            if (batchRunning_ && FAILED(hr)) deckFailed_ = true;
            if (step_ != kReview && step_ != kCaptured && !batchRunning_ && !tapeEndIgnore_) {
                if (hr == S_OK) AfxMessageBox(IDS_DV_SEARCH_ENDED, MB_OK | MB_ICONINFORMATION);
                if (hr == engines::kSeekNotOnTape || hr == engines::kSeekDeckFailed)
                    AfxMessageBox(IDS_DV_SEEK_FAILED, MB_OK | MB_ICONEXCLAMATION);
            }
            state_ = kPaused;
            tapeEndIgnore_ = false;
            if (!batchRunning_) {
                SetTransportButtons(213);
                EnableStepControls(true);
            }
            break;
        }
        case engines::kBatchFinished:
        case engines::kBatchEnded: {
            if (batchEndedGuard_) break;
            batchEndedGuard_ = true;
            batchRunning_ = false;
            state_ = kBatchDone;
            SetTransportButtons(214);
            EnableStepControls(true);
            if (code == engines::kBatchEnded && !userStopped_) {
                // The deck stopped answering or failed: the run ends here, what it recorded stays.
                AfxMessageBox(Format(IDS_BATCH_ENDED_EARLY, int(captured_.size())).c_str(), MB_OK | MB_ICONEXCLAMATION);
                OnBatchFinished();
            } else if (code == engines::kBatchFinished || advanceRequested_) {
                OnBatchFinished();
            }
            break;
        }
        case engines::WM_REC_FAILED:
            if (engine_) engine_->StopRecord();
            AfxMessageBox(IDS_DV_RECORDING_FAILED, MB_OK | MB_ICONEXCLAMATION);
            if (nonRealtime_ == 0) state_ = kStopped;
            EnableStepControls(true);
            break;
        case engines::WM_REC_STOPPED_MSG: {
            if (engine_) engine_->Stop();
            state_ = kStopped;
            batchRunning_ = false;
            char text[1024];
            std::snprintf(text, sizeof text, AfxLoadString(IDS_DV_RECORDING_STOPPED).c_str(), notice.text.c_str());
            AfxMessageBox(text, MB_OK | MB_ICONEXCLAMATION);
            SetTransportButtons(214);
            EnableStepControls(true);
            break;
        }
        case engines::WM_DEVICE_CHANGED:
            // The engine reports each opening of a device; the dialog's own are no change.
            if (ownOpens_ > 0 && notice.param != 1) {
                --ownOpens_;
                break;
            }
            deviceChange_ = notice.param == 1 ? 2 : 3;
            if (step_ == kScan)
                Press(kNext);  // the scan ends; its scenes are reviewed
            else if (step_ == kCapture)
                StopBatchCapture();
            SetTimer(kTimerDeviceChange, 300, nullptr);
            break;
        case engines::WM_DEVICE_REMOVED:
            deviceChange_ = 1;
            // The engine reports a lost deck here and has closed the scan file: the scan ends
            // with the scenes found so far, which are reviewed (a batch run ends by itself,
            // keeping its clips).
            if (step_ == kScan) Press(kNext);
            SetTimer(kTimerDeviceChange, 300, nullptr);
            break;
        case engines::WM_TAPE_END_IGNORE:
            tapeEndIgnore_ = true;
            break;
        default:
            break;
    }
}

// ---- the shuttle ----
void CDVBatchCaptureDlg::ShuttleTo(int position) {
    shuttlePos_ = position;
    shuttleForward_ = position >= 16;
    EnableControl(kShuttleLeft, position < 15);
    EnableControl(kShuttleRight, position > 16 && position != 32);
    ::InvalidateRect(m_hWnd, &shuttleRect_, FALSE);
    if (engine_) engine_->Shuttle(DWORD(position));
}

bool CDVBatchCaptureDlg::ShuttleUsable() const {
    return engine_ && step_ == kStart && deviceMode_ != 1 && !(pageDeviceClass_ != 0 && deviceKind_ == 2);
}

void CDVBatchCaptureDlg::OnShuttleDown(POINT point) {
    const int s = state_;
    if (!ShuttleUsable() || !PtInRect(&shuttleRect_, point) || s == kRecording || s == kSeeking) return;
    if (!HasTape()) {
        AfxMessageBox(IDS_DV_NO_TAPE, MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    const int width = std::max<int>(shuttleRect_.right - shuttleRect_.left, 1);
    const int position = std::min(31, int((point.x - shuttleRect_.left) * 32 / width));
    if (s != kPlaying && s != kPaused) OnTape(kTapePlay);
    ShuttleTo(position);
    dragging_ = true;
    ::SetCapture(m_hWnd);
}

void CDVBatchCaptureDlg::OnShuttleMove(POINT point) {
    const int s = state_;
    if (dragging_) {
        if (s == kRecording || quickScan_ || batchRunning_ || (special_ && deviceKind_ == 2)) return;
        const int width = std::max<int>(shuttleRect_.right - shuttleRect_.left, 1);
        const int position = point.x < shuttleRect_.left     ? 0
                             : point.x >= shuttleRect_.right ? 31
                                                             : int((point.x - shuttleRect_.left) * 31 / width);
        ShuttleTo(position);
        return;
    }
    const bool over = ShuttleUsable() && PtInRect(&shuttleRect_, point) && s != kRecording && s != kSeeking;
    ::SetCursor(over ? LoadCursor(nullptr, IDC_HAND) : LoadCursor(nullptr, IDC_ARROW));
}

// Letting go: the deck is brought to a standstill, paused, from the middle of the side it was on.
void CDVBatchCaptureDlg::OnShuttleUp() {
    if (!dragging_) return;
    ShuttleTo(shuttleForward_ ? 16 : 15);
    OnTape(kTapePause);
    DWORD mode = 0;
    for (int tries = 0; engine_ && tries < 20 && SUCCEEDED(engine_->GetTransportMode(&mode)) &&
                        mode != DWORD(engines::kTransportFreeze);
         ++tries)
        engine_->Pause();
    state_ = kPaused;
    SetTransportButtons(213);
    dragging_ = false;
    ReleaseCapture();
    ::SetCursor(LoadCursor(nullptr, IDC_ARROW));
}

// ---- device changes ----
// Once the deck is idle (and no clip is being encoded), the devices are closed and found again.
void CDVBatchCaptureDlg::OnDeviceChangeTimer() {
    if (deviceChange_ == 0) {
        KillTimer(kTimerDeviceChange);
        return;
    }
    const int s = state_;
    const bool idle = deviceChange_ == 2 || s == kLive || s == kStopped || s == kPaused;
    const bool encodingDone = nonRealtime_ != 1 || encodingPhase_ == 0 || encodingPhase_ == 4;
    if (!idle || !encodingDone || deviceTimerBusy_) return;
    deviceTimerBusy_ = true;
    CloseDevices();
    ReopenDevices();
    if (profileDialog_) profileDialog_->EndDialog(0);
    KillTimer(kTimerDeviceChange);
    deviceChange_ = 0;
    deviceTimerBusy_ = false;
}

void CDVBatchCaptureDlg::CloseDevices() {
    OpenDeviceByLabel(nullptr);
    if (engine_) engine_->Uninitialize();
    devices_.clear();
}

void CDVBatchCaptureDlg::ReopenDevices() {
    if (!engine_) return;
    engine_->Initialize();
    engine_->SetCallback(&CDVBatchCaptureDlg::OnEngineNotify);
    devices_ = dvdevices::EnumerateDevices(engine_);
    ++reopens_;
    if (devices_.empty()) {
        for (UINT id : {kTapePlay, kTapePause, kTapeStop, kTapeRewind, kTapeWind, kTapePrevFrame, kTapeNextFrame, kSeek,
                        kNext, kBack})
            EnableControl(id, false);
        deviceLabel_.clear();
        device_.clear();
        deviceChange_ = 0;
        return;
    }
    // Of several decks, the one that was open: by its label, or, before the dialog labelled
    // one itself, by the name of the deck the page lent it.
    dvdevices::DeviceLabel* open = nullptr;
    if (devices_.size() > 1)
        for (dvdevices::DeviceLabel& entry : devices_)
            if (deviceLabel_.empty() ? !device_.empty() && entry.engineName == device_
                                     : entry.text.find(deviceLabel_) != std::string::npos) {
                open = &entry;
                break;
            }
    if (!open) {
        open = &devices_.front();
        if (open->text.size() > 3) open->text.erase(0, 3);
    }
    OpenDeviceByLabel(open->text.c_str());
    deviceChange_ = 0;
}

bool CDVBatchCaptureDlg::OpenDeviceByLabel(const char* label) {
    if (!engine_) return false;
    engine_->Stop();
    HRESULT hr = engine_->OpenDevice(nullptr);
    StopPolling();
    if (!label) return SUCCEEDED(hr);
    const dvdevices::DeviceLabel* chosen = nullptr;
    hr = E_FAIL;
    for (const dvdevices::DeviceLabel& entry : devices_)
        if (entry.text == label) {
            chosen = &entry;
            hr = engine_->OpenDevice(entry.engineName.c_str());
            break;
        }
    if (FAILED(hr)) {
        chosen = nullptr;
        for (const dvdevices::DeviceLabel& entry : devices_)
            if (!entry.engineName.empty()) {
                hr = engine_->OpenDevice(entry.engineName.c_str());
                if (SUCCEEDED(hr)) chosen = &entry;
                break;
            }
    }
    if (FAILED(hr) || !chosen) return false;
    ++ownOpens_;
    deviceLabel_ = chosen->text;
    device_ = chosen->engineName;
    int kind = 0;
    special_ = !dvdevices::EngineInfoAvailable() || dvdevices::IsListedDevice(device_.c_str(), &kind);
    deviceKind_ = kind;
    float rate = frameRate_;
    if (SUCCEEDED(engine_->GetFrameRate(&rate))) frameRate_ = rate;
    FitPreview();
    engine_->SetOptions(PreviewOptions());
    engine_->SetPreviewWindow(m_hWnd, &preview_);
    DWORD mode = 0;
    const auto disableAll = [this] {
        for (const auto& row : buttons_)
            EnableControl(row.id, false);
        list_.Enable(false);
    };
    if (FAILED(engine_->GetDeviceMode(&mode))) {
        AfxMessageBox(IDS_DV_BAD_MODE, MB_OK | MB_ICONEXCLAMATION);
    } else if ((deviceMode_ = int(mode)) == 1) {
        AfxMessageBox(IDS_DV_BATCH_CAMERA, MB_OK | MB_ICONEXCLAMATION);
        disableAll();
    } else if (mode != 2) {
        engine_->Pause();
        AfxMessageBox(IDS_DV_BAD_MODE, MB_OK | MB_ICONEXCLAMATION);
        disableAll();
    } else {
        PauseIfTape();
        StartPolling();
        ApplyStep();
    }
    return true;
}

// ---- poll threads ----
bool CDVBatchCaptureDlg::WaitStop(DWORD ms) {
    return WaitForSingleObject(pollStop_, ms) == WAIT_OBJECT_0;
}

void CDVBatchCaptureDlg::PumpFor(DWORD ms) {
    const DWORD until = GetTickCount() + ms;
    do {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (ms) Sleep(10);
    } while (LONG(until - GetTickCount()) > 0);
}

void CDVBatchCaptureDlg::StartPolling() {
    StopPolling();
    if (!engine_ || !pollStop_) return;
    ResetEvent(pollStop_);
    try {
        timecodeThread_ = std::thread([this] { TimecodePoll(); });
        modeThread_ = std::thread([this] { ModePoll(); });
    } catch (...) {
        SetEvent(pollStop_);
    }
}

void CDVBatchCaptureDlg::StopPolling() {
    if (pollStop_) SetEvent(pollStop_);
    // The threads only post, so they end at their next look at the event.
    for (std::thread* t : {&timecodeThread_, &modeThread_})
        if (t->joinable()) t->join();
}

void CDVBatchCaptureDlg::TimecodePoll() {
    DWORD previous = 0xFFFFFFFF;
    int unchanged = 0;
    DWORD autoStop = RecordingSwitch("DVRecAutoStop", 1), seconds = RecordingSwitch("DurRecAutoStop", 5);
    while (!WaitStop(100)) {
        DWORD tc = 0;
        if (FAILED(engine_->GetTimecode(&tc))) continue;
        const HWND window = g_dialogWindow.load();
        if (tc != previous) {
            if (window && step_ != kReview && step_ != kCaptured) PostMessageA(window, kShowTimecode, tc, 0);
            unchanged = 0;
            previous = tc;
            continue;
        }
        const int s = state_;
        const bool playing = s == kPlaying || lastMode_ == DWORD(engines::kTransportPlay);
        const bool recording = s == kRecording || lastMode_ == DWORD(engines::kTransportRecord);
        if (!playing && !recording && !quickScan_) {
            unchanged = 0;
            continue;
        }
        ++unchanged;
        const DWORD a = RecordingSwitch("DVRecAutoStop", 1), b = RecordingSwitch("DurRecAutoStop", 5);
        if (a != autoStop || b != seconds) autoStop = a, seconds = b, unchanged = 0;
        if (autoStop && unchanged >= int(seconds * 10) && encodingPhase_ != 2 && encodingPhase_ != 3 &&
            !batchRunning_) {
            if (quickScan_) {
                quickScan_ = false;
                if (window) PostMessageA(window, kScanEnd, 0, 0);
            } else if (window) {
                PostMessageA(window, kPollPress, kTapeStop, LPARAM(transportGen_.load()));
            }
            unchanged = 0;
        }
    }
}

void CDVBatchCaptureDlg::ModePoll() {
    static const struct {
        DWORD mode;
        UINT button;
    } kPresses[] = {{4296, kTapePlay}, {4297, kTapeStop}, {4298, kTapePause}, {4300, kTapeWind}, {4301, kTapeRewind}};
    for (;;) {
        // The step is read after the wait: the user may have moved on meanwhile.
        if (WaitStop(step_ == kReview || step_ == kCaptured ? 500 : 2000)) return;
        const int step = step_;
        const HWND window = g_dialogWindow.load();
        const LPARAM generation = LPARAM(transportGen_.load());
        DWORD mode = 0;
        if (step == kReview || step == kCaptured) {
            if (SUCCEEDED(engine_->GetTransportMode(&mode)) && mode != DWORD(engines::kTransportStop) && window)
                PostMessageA(window, kPollPress, kTapeStop, kReviewStopPress);
            continue;
        }
        const int s = state_;
        if (s == kRecording || s == kSeeking || encodingPhase_ == 2 || encodingPhase_ == 3 || tapeEndIgnore_ ||
            batchRunning_)
            continue;
        if (FAILED(engine_->GetTransportMode(&mode))) continue;
        if (quickScan_) {
            // The scan plays the tape: it ends once the deck leaves play (the tape's end).
            if (mode != DWORD(engines::kTransportPlay) && mode != DWORD(engines::kTransportFreeze)) {
                quickScan_ = false;
                if (window) PostMessageA(window, kScanEnd, 0, 0);
                if (WaitStop(1000)) return;
            }
            continue;
        }
        if (mode != lastMode_) {
            for (const auto& p : kPresses)
                if (p.mode == mode && window) PostMessageA(window, kPollPress, p.button, generation);
            lastMode_ = mode;
        }
    }
}

LRESULT CDVBatchCaptureDlg::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case kEngineNotice: {
            std::unique_ptr<Notice> notice(reinterpret_cast<Notice*>(lParam));
            if (notice) OnNotice(wParam, *notice);
            return 0;
        }
        case kScanSegment:
            OnScanEvent(reinterpret_cast<ScanEvent*>(lParam));
            return 0;
        case kShowTimecode:
            if (wParam != lastShown_) {
                lastShown_ = DWORD(wParam);
                const uint32_t tc = FromEngineTimecode(DWORD(wParam));
                if (auto* edit = dynamic_cast<CGTimeCodeEdit*>(Control(kTimecodeEdit));
                    edit && step_ != kReview && step_ != kCaptured)
                    edit->SetTime(batchcap::TimecodeValid(tc) ? batchcap::TimecodeToTime(tc, frameRate_) : 0);
            }
            return 0;
        case kPollPress:
            if (lParam == kReviewStopPress) {
                // Review: the deck is kept stopped. A press read before the user went on to a
                // run is dropped: it would stop the deck under the run's first segment.
                if (engine_ && (step_ == kReview || step_ == kCaptured) && !batchRunning_) {
                    engine_->Stop();
                    lastMode_ = DWORD(engines::kTransportStop);
                }
            } else if (!quickScan_ && !batchRunning_ && LPARAM(transportGen_.load()) == lParam) {
                // Only a press whose read of the deck no transport command has overtaken.
                OnTape(UINT(wParam));
            }
            return 0;
        case kScanEnd:
            if (step_ == kScan) Press(kNext);
            return 0;
        case kListClick:
            OnListClick(int(wParam));
            return 0;
        case kListChanged:
            return 0;
        case kPlayerRangeEnd:
            OnReviewButton(kReviewStop);
            return 0;
        case WM_TIMER:
            if (wParam == kTimerProgress) OnProgressTimer();
            if (wParam == kTimerDeviceChange) OnDeviceChangeTimer();
            if (wParam == kTimerReview) OnReviewTimer();
            if (wParam == kTimerScanLimit) {
                KillTimer(kTimerScanLimit);
                Press(kNext);
            }
            return 0;
        case WM_HSCROLL:
            if (reinterpret_cast<HWND>(lParam) && Control(kReviewSlider) &&
                reinterpret_cast<HWND>(lParam) == Control(kReviewSlider)->m_hWnd)
                OnReviewSlider();
            return 0;
        case WM_LBUTTONDOWN:
            OnShuttleDown(POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
            return 0;
        case WM_MOUSEMOVE:
            OnShuttleMove(POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
            return 0;
        case WM_LBUTTONUP:
            OnShuttleUp();
            return 0;
        case WM_ERASEBKGND:
            return 1;
        case WM_PAINT:
            Paint();
            return 0;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == SC_CLOSE && (step_ == kScan || step_ == kCapture)) return 0;
            break;
        default:
            break;
    }
    return CDialog::WindowProc(message, wParam, lParam);
}
