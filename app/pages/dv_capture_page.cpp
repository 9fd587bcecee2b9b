#include "app/pages/dv_capture_page.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "app/pages/batch_capture_dlg.h"
#include "app/pages/capture_file_prompt_dlg.h"
#include "app/pages/dv_devices.h"
#include "app/pages/dv_page_install.h"
#include "app/page_services.h"
#include "app/resources/resource_ids.h"
#include "app/services/mixer.h"
#include "app/services/preferences.h"
#include "app/services/reg_value.h"
#include "app/services/settings_keys.h"
#include "app/services/system_utils.h"
#include "app/skin/skin_controls.h"
#include "app/skin/skin_edits.h"
#include "app/skin/skin_images.h"
#include "app/skin/skin_layout.h"
#include "app/skin/skin_sliders.h"
#include "framework/app.h"

namespace {

constexpr char kView[] = "ENC_DV_PAGE";
constexpr char kLayout[] = "LAYOUT1";
constexpr UINT_PTR kClockTimer = 4, kFinishTimer = 5, kRecheckTimer = 10;
constexpr int kStillReads = 50;     // unchanged time codes (100 ms apart) that stop a moving tape
constexpr int kFileWaitTries = 10;  // seconds the finish waits for the clip file
constexpr int kMaxContinuations = 10000;

// The process-wide page window the engine callback posts to.
std::atomic<HWND> g_pageWindow{nullptr};

bool CodeCarriesText(UINT_PTR code) {
    return code == engines::WM_REC_FINISH || code == engines::WM_NON_REALTIME_ENCODE ||
           code == engines::WM_NON_REALTIME_REC_FINISH || code == engines::WM_REC_STOPPED_MSG ||
           code == engines::WM_REC_FAILED;
}

DWORD PackTimecode(int h, int m, int s, int f) {
    return DWORD(h & 0xFF) | DWORD(m & 0xFF) << 8 | DWORD(s & 0xFF) << 16 | DWORD(f & 0xFF) << 24;
}

bool EndsWithNoCase(const std::string& text, const char* tail) {
    const size_t n = strlen(tail);
    return text.size() >= n && lstrcmpiA(text.c_str() + text.size() - n, tail) == 0;
}

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool LastWrite(const std::string& path, FILETIME* time) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool ok = GetFileTime(file, nullptr, nullptr, time) != FALSE;
    CloseHandle(file);
    return ok;
}

int32_t MpegValue(const profiles::MpegBlock& b, size_t i) {
    return i < profiles::kMpegParamCount ? b.params[i].value.i : 0;
}

}  // namespace

int FillCaptureParams(const profiles::ProfileRecord& record, float frameRate, int32_t keepOrgSize,
                      engines::CaptureParams* params, uint32_t* streamSelection) {
    using namespace profiles;
    const int32_t cls = record.head.videoFormatClass;
    int kind = -1;
    switch (cls) {
        case kClassAvi:
        case kClassDv:
            kind = 0;
            break;
        case kClassMpeg1:
            kind = 1;
            break;
        case kClassMpeg2:
            kind = 2;
            break;
        case kClassVcd:
            kind = 3;
            break;
        case kClassSvcd:
            kind = 6;
            break;
        case kClassDvd:
            kind = 7;
            break;
        case kClassH264:
            kind = 8;
            break;
        default:
            return -1;
    }
    if (record.head.streamFlag == 3) *streamSelection = 0;
    if (record.head.streamFlag == 1) *streamSelection = 1;
    if (record.head.streamFlag == 2) *streamSelection = 2;
    params->encoderType = uint32_t(kind);
    if (cls == kClassDv) {
        params->dv.videoFormat = record.block.dv.videoFormat;
        params->dv.audioFormat = record.block.dv.audioFormat;
        params->dv.channels = record.block.dv.channel;
        params->dv.fileFormat = record.block.dv.fileFormat;
    } else if (kind >= 1 && kind <= 7) {
        const MpegBlock& b = record.block.mpeg;
        engines::MpegCaptureSettings& m = params->mpeg;
        m.streamSelection = *streamSelection;
        const size_t video[4] = {4, 5, 0, 3};
        for (int i = 0; i < 4; ++i)
            m.videoValues[i] = uint32_t(MpegValue(b, video[i]));
        uint32_t rateBits = 0;
        static_assert(sizeof rateBits == sizeof frameRate);
        memcpy(&rateBits, &frameRate, sizeof rateBits);
        m.rateValue = kind >= 3 ? uint32_t(MpegValue(b, 6)) : rateBits;
        memcpy(m.text, b.params[7].value.text, sizeof m.text);
        m.text[sizeof m.text - 1] = 0;
        const size_t more[8] = {8, 9, 10, 11, 12, 1, 2, 16};
        for (int i = 0; i < 8; ++i)
            m.moreVideoValues[i] = uint32_t(MpegValue(b, more[i]));
        const ProfileAudioFormat& a = b.streams[0].audio;
        m.audioValues[0] = uint32_t(a.encoderType);
        m.audioValues[1] = uint32_t(a.audioMode);
        m.audioValues[2] = uint32_t(a.channels);
        switch (a.samplesPerSecCode) {
            case 1:
                m.samplingRate = 48000;
                break;
            case 2:
                m.samplingRate = 44000;
                break;  // as the profile's flag table says
            case 4:
                m.samplingRate = 32000;
                break;
            case 8:
                m.samplingRate = 96000;
                break;
            default:
                break;
        }
        switch (a.bitsPerSample) {
            case 1:
                m.sampleBits = 16;
                break;
            case 2:
                m.sampleBits = 20;
                break;
            case 4:
                m.sampleBits = 24;
                break;
            default:
                break;
        }
        const uint64_t code = uint64_t(a.bitRate);
        if ((code >> 32) == 0 && code && (code & (code - 1)) == 0) {
            int k = 0;
            while (!(code >> k & 1))
                ++k;
            if (k < profiles::kAudioBitRateCodes) m.audioBitRate = uint32_t(profiles::kAudioBitRates[k]);
        }
        m.moreAudioValues[0] = uint32_t(a.layer);
        m.moreAudioValues[1] = uint32_t(a.misc);
        m.moreAudioValues[2] = uint32_t(a.samplesPerFrame);
    } else if (kind == 8) {
        const H264Block& h = record.block.h264;
        static_assert(sizeof params->h264.video == offsetof(H264Block, streamBlockCount));
        static_assert(sizeof params->h264.audio == sizeof h.streams[0].audio);
        memcpy(params->h264.video, &h, sizeof params->h264.video);
        memcpy(params->h264.audio, &h.streams[0].audio, sizeof params->h264.audio);
        if (keepOrgSize) {
            params->h264.video[0] = 720;
            params->h264.video[1] = frameRate > 29.0f && frameRate < 31.0f ? 480 : 576;
        }
    }
    return kind;
}

BEGIN_MESSAGE_MAP(CDVCapturePage, CEncBasePage)
ON_WM_PAINT()
ON_WM_TIMER()
ON_WM_DESTROY()
ON_WM_LBUTTONDOWN()
ON_WM_LBUTTONUP()
ON_WM_MOUSEMOVE()
ON_WM_ERASEBKGND()
ON_WM_SETCURSOR()
ON_MESSAGE(CDVCapturePage::kEngineNotice, OnEngineNotice)
ON_MESSAGE(CDVCapturePage::kShowTimecode, OnShowTimecode)
ON_MESSAGE(CDVCapturePage::kPollPress, OnPollPress)
ON_MESSAGE(CDVCapturePage::kBatchClip, OnBatchClipMessage)
ON_MESSAGE(CDVCapturePage::kBatchClosed, OnBatchClosedMessage)
END_MESSAGE_MAP()

CDVCapturePage::CDVCapturePage() {
    const struct {
        const char* name;
        UINT id;
    } buttons[kButtonRows] = {{"IDC_BUTTON_DV_PLAY", kPlay},
                              {"IDC_BUTTON_DV_PAUSE", kPause},
                              {"IDC_BUTTON_DV_STOP", kStop},
                              {"IDC_BUTTON_DV_REWIND", kRewind},
                              {"IDC_BUTTON_DV_FASTFORWORD", kFastForward},
                              {"IDC_BUTTON_DV_PREVFRAME", kPrevFrame},
                              {"IDC_BUTTON_DV_NEXTFRAME", kNextFrame},
                              {"IDC_BUTTON_DV_RECORD", kRecord},
                              {"IDC_BUTTON_DV_VOL", kVolume},
                              {"IDC_BUTTON_DV_CORVANE_MARK", kMakerLink},
                              {"IDC_BUTTON_DV_SETUP", kSetup},
                              {"IDC_BUTTON_DV_BATCH", kBatch},
                              {"IDC_BUTTON_DV_SEEK", kSeek},
                              {"IDC_CHK_CAP_TIME_LIMIT", kTimeLimitCheck},
                              {"IDC_CHK_CAP_SIZE_LIMIT", kSizeLimitCheck},
                              {"IDC_BUTTON_DV_MB", kHelpButton},
                              {"IDC_BUTTON_SHUTTLE_LEFT", kShuttleLeft},
                              {"IDC_BUTTON_SHUTTLE_RIGHT", kShuttleRight},
                              {"IDC_CHK_DV_NONREALTIME", kNonRealtimeCheck}};
    for (int i = 0; i < kButtonRows; ++i) {
        buttons_[i] = {};
        lstrcpynA(buttons_[i].name, buttons[i].name, sizeof buttons_[i].name);
        buttons_[i].id = buttons[i].id;
        buttons_[i].repeat = buttons[i].id == kPrevFrame || buttons[i].id == kNextFrame;
    }
    const struct {
        const char* name;
        UINT id;
    } statics[kStaticRows] = {{"IDC_STATIC_DV_LIMIT_OPTION", 3017}, {"IDC_STATIC_TIMECODE_CAPTION", 3018},
                              {"IDC_STATIC_DV_TIME_LIMIT", 3020},   {"IDC_STATIC_DV_SIZE_LIMIT", 3021},
                              {"IDC_STATIC_TIMECODE", 3025},        {"IDC_STATIC_NONREALTIME", 3040}};
    for (int i = 0; i < kStaticRows; ++i) {
        statics_[i] = {};
        lstrcpynA(statics_[i].name, statics[i].name, sizeof statics_[i].name);
        statics_[i].id = statics[i].id;
    }
    edits_[0] = {};
    lstrcpynA(edits_[0].name, "IDC_EDIT_CAP_SIZE_LIMIT", sizeof edits_[0].name);
    edits_[0].id = kSizeLimitEdit;
    edits_[1] = {};
    lstrcpynA(edits_[1].name, "IDC_EDIT_CAP_TIME_LIMIT", sizeof edits_[1].name);
    edits_[1].id = kTimeLimitEdit;
    timecodeEdit_[0] = {};
    lstrcpynA(timecodeEdit_[0].name, "IDC_EDIT_DV_TIMECODE", sizeof timecodeEdit_[0].name);
    timecodeEdit_[0].id = kTimeCodeEdit;
    params_.dv.fileFormat = 1;
}

CDVCapturePage::~CDVCapturePage() {
    if (pollStop_) CloseHandle(pollStop_);
}

CWnd* CDVCapturePage::Control(UINT id) const {
    for (const auto& row : buttons_)
        if (row.id == id) return row.control;
    for (const auto& row : statics_)
        if (row.id == id) return row.control;
    for (const auto& row : edits_)
        if (row.id == id) return row.control;
    if (id == kTimeCodeEdit) return timecodeEdit_[0].control;
    if (id == kProgressSlider) return progress_;
    return nullptr;
}

// ---- registry switches ----
DWORD CDVCapturePage::RecordingSwitch(const char* name, DWORD fallback, bool writeMissing) {
    CRegBinValue value(HKEY_CURRENT_USER, kRecordingKey, name, 1);
    if (value.Read()) return value.Get();
    if (writeMissing) value.Set(fallback);
    return fallback;
}

void CDVCapturePage::SetRecordingSwitch(const char* name, DWORD value) {
    CRegBinValue(HKEY_CURRENT_USER, kRecordingKey, name, 1).Set(value);
}

void CDVCapturePage::SetNonRealtime(DWORD value) {
    nonRealtime_ = value;
    SetRecordingSwitch("NonRealtime", value);
}

// ---- creation and destruction ----
BOOL CDVCapturePage::Create(const RECT& rect, UINT id, CWnd* parent) {
    DisableScreenSaver();
    KeepSystemAwake(ES_CONTINUOUS | ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED);
    DisablePowerSaving();
    created_ = true;
    nonRealtime_ = RecordingSwitch("NonRealtime", 1, true);
    pollStop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!pollStop_ || !CEncBasePage::Create(&rect, id, parent)) return FALSE;
    g_pageWindow = m_hWnd;
    CreateSkinButtons(this, kView, buttons_, kButtonRows, 1);
    CreateSkinStatics(this, kView, statics_, kStaticRows, 1);
    CreateSkinEdits(this, kView, edits_, 2);
    CreateSkinTimeCodeEdits(this, kView, timecodeEdit_, 1);
    if (auto* vol = dynamic_cast<CGButton*>(Control(kVolume))) SetVolumeButton(vol);
    if (auto* edit = dynamic_cast<CGLEDEdit*>(Control(kSizeLimitEdit))) edit->SetText("0000");
    if (auto* edit = dynamic_cast<CGSimpleTimeEdit*>(Control(kTimeLimitEdit))) edit->SetText("00:00:00");
    progress_ = CreateSkinProgressSlider(this, kView, kLayout, "IDC_SLIDER_NONREALTIME", kProgressSlider,
                                         "dv_progress_bg.png", "dv_progress_fill.png");
    const auto rectOf = [](const char* name, RECT* out) {
        if (SkinStaticNode* node = CSkinLayout::FindStatic(kView, kLayout, name))
            *out = RECT{node->left, node->top, node->left + node->width, node->top + node->height};
    };
    rectOf("BLUE_PREVIEW_BK", &previewBack_);
    rectOf("DRAW_POST_ENCODING", &postEncodingRect_);
    rectOf("IDC_SLIDER_SHUTTLE", &shuttleRect_);
    preview_ = previewBack_;
    shuttleStrip_ = LoadSkinBitmap("EncDVShuttle.jpg");
    shuttleCursor_ = LoadCursor(nullptr, IDC_SIZEWE);
    const HRESULT bound = BindEngine();
    UpdateControls();
    return SUCCEEDED(bound);
}

void CDVCapturePage::OnDestroy() {
    KillTimer(kClockTimer);
    KillTimer(kFinishTimer);
    KillTimer(kRecheckTimer);
    if (engine_) OpenDevice(nullptr);
    ReleaseEngine();
    g_pageWindow = nullptr;
    // Notices posted before the callback was cleared carry copies that are freed here.
    MSG msg;
    while (PeekMessageA(&msg, m_hWnd, kEngineNotice, kEngineNotice, PM_REMOVE))
        delete reinterpret_cast<NoticePayload*>(msg.lParam);
    devices_.clear();
    deviceTexts_.clear();
    DestroySkinButtons(buttons_, kButtonRows);
    DestroySkinStatics(kView, statics_, kStaticRows);
    DestroySkinEdits(kView, edits_, 2);
    DestroySkinTimeCodeEdits(kView, timecodeEdit_, 1);
    if (progress_) {
        progress_->DestroyWindow();
        delete progress_;
        progress_ = nullptr;
    }
    if (shuttleStrip_) DeleteObject(shuttleStrip_);
    shuttleStrip_ = nullptr;
    if (postEncodingArt_) DeleteObject(postEncodingArt_);
    postEncodingArt_ = nullptr;
    if (created_) {
        RestoreScreenSaver();
        KeepSystemAwake(ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED);
        KeepSystemAwake(ES_CONTINUOUS);
        RestorePowerScheme();
        created_ = false;
    }
    CEncBasePage::OnDestroy();
}

// ---- the engine ----
void CALLBACK CDVCapturePage::EngineCallback(UINT_PTR, UINT_PTR code, UINT_PTR param, UINT_PTR) {
    const HWND window = g_pageWindow.load();
    if (!window) return;
    auto* payload = new NoticePayload;
    payload->param = param;
    if (CodeCarriesText(code) && param) {
        const char* text = reinterpret_cast<const char*>(param);
        payload->text.assign(text, strnlen(text, 2 * MAX_PATH));
    }
    if (!PostMessageA(window, kEngineNotice, code, reinterpret_cast<LPARAM>(payload))) delete payload;
}

void CDVCapturePage::ReleaseEngine() {
    StopPolling();
    if (!engine_) return;
    engine_->SetCallback(nullptr);
    engine_->Uninitialize();
    engine_->Release();
    engine_ = nullptr;
}

HRESULT CDVCapturePage::BindEngine() {
    ReleaseEngine();
    if (FAILED(CoCreateInstance(CLSID_SystemLayerDV, nullptr, CLSCTX_INPROC_SERVER, IID_ISystemLayerDV,
                                reinterpret_cast<void**>(&engine_))) ||
        !engine_) {
        engine_ = nullptr;
        AfxMessageBox("System Layer Interface (DV) Load Failed!", MB_OK | MB_ICONERROR);
        return E_FAIL;
    }
    engine_->Initialize();
    engine_->SetCallback(&CDVCapturePage::EngineCallback);
    ownOpens_ = 0;
    devices_.clear();
    deviceTexts_.clear();
    for (const dvdevices::DeviceLabel& device : dvdevices::EnumerateDevices(engine_))
        devices_.push_back(DeviceEntry{device.engineName, device.text});
    if (devices_.empty()) {
        UpdateControls();
        return E_FAIL;
    }
    DeviceEntry* open = &devices_.front();
    if (devices_.size() > 1) {
        open = nullptr;
        for (DeviceEntry& entry : devices_)
            if (entry.text.find(currentDevice_) != std::string::npos) {
                open = &entry;
                break;
            }
    }
    if (!open || devices_.size() == 1) {
        open = &devices_.front();
        if (open->text.size() > 3) open->text.erase(0, 3);
    }
    for (const DeviceEntry& entry : devices_)
        deviceTexts_.push_back(entry.text);
    return OpenDevice(open->text.c_str());
}

HRESULT CDVCapturePage::CheckDVDevice() {
    ISystemLayerDV* engine = nullptr;
    if (FAILED(CoCreateInstance(CLSID_SystemLayerDV, nullptr, CLSCTX_INPROC_SERVER, IID_ISystemLayerDV,
                                reinterpret_cast<void**>(&engine))) ||
        !engine)
        return E_FAIL;
    engine->Initialize();
    HRESULT result = static_cast<HRESULT>(0x80000001);
    char name[129] = {};
    if (SUCCEEDED(engine->EnumDevice(0, name, 128))) {
        engine->OpenDevice(name);
        DWORD mode = 0;
        if (FAILED(engine->GetDeviceMode(&mode)))
            result = static_cast<HRESULT>(0x80000003);
        else
            result = mode == 2 ? S_OK : static_cast<HRESULT>(0x80000002);
        engine->OpenDevice(nullptr);
    }
    engine->SetCallback(nullptr);
    engine->Uninitialize();
    engine->Release();
    return result;
}

void CDVCapturePage::ComputePreviewRect() {
    const int w = previewBack_.right - previewBack_.left, h = previewBack_.bottom - previewBack_.top;
    const bool pal = frameRate_ == 25.0f;
    const int ph = pal ? 288 : 240;
    const double s = std::min(double(w) / 360, double(h) / ph);
    const int sw = int(360 * s), sh = int(ph * s);
    preview_.left = previewBack_.left + (w - sw) / 2;
    preview_.top = previewBack_.top + (h - sh) / 2;
    preview_.right = preview_.left + sw;
    preview_.bottom = preview_.top + sh;
    if (auto* edit = dynamic_cast<CGTimeCodeEdit*>(Control(kTimeCodeEdit))) edit->SetStandardValue(pal ? 0 : 1);
}

DWORD CDVCapturePage::PreviewOptions(bool atRecord) {
    DWORD options = 0;
    if (RecordingSwitch("NoPreview", 0, true) == 0) options |= 1;
    if (RecordingSwitch("UseOverlay", atRecord ? 0 : 1, true) != 0) options |= 2;
    return options;
}

HRESULT CDVCapturePage::OpenDevice(const char* text) {
    if (!engine_) return E_FAIL;
    SetBusyCursor(TRUE);
    engine_->Stop();
    engine_->OpenDevice(nullptr);
    StopPolling();
    currentDevice_.clear();
    frameRate_ = 29.97f;
    deviceClass_ = listedKind_ = 0;
    deviceMode_ = 0;
    if (!text) {
        SetBusyCursor(FALSE);
        UpdateControls();
        return S_OK;
    }
    const DeviceEntry* entry = nullptr;
    for (const DeviceEntry& e : devices_)
        if (e.text == text) entry = &e;
    if (!entry) {
        SetBusyCursor(FALSE);
        return E_FAIL;
    }
    HRESULT hr = engine_->OpenDevice(entry->engineName.c_str());
    if (SUCCEEDED(hr)) ++ownOpens_;
    if (FAILED(hr)) {
        SetBusyCursor(FALSE);
        UpdateControls();
        return hr;
    }
    currentDevice_ = entry->text;
    int kind = 0;
    // Class 1: a listed device, which records MPEG-2 itself; class 2: a DV device.
    deviceClass_ = !dvdevices::EngineInfoAvailable()                             ? 0
                   : dvdevices::IsListedDevice(entry->engineName.c_str(), &kind) ? 1
                                                                                 : 2;
    listedKind_ = kind;
    float rate = 29.97f;
    if (SUCCEEDED(engine_->GetFrameRate(&rate))) frameRate_ = rate;
    ComputePreviewRect();
    hr = engine_->SetOptions(PreviewOptions(false));
    engine_->SetPreviewWindow(m_hWnd, &preview_);
    DWORD mode = 0;
    if (FAILED(engine_->GetDeviceMode(&mode))) {
        AfxMessageBox(IDS_DV_BAD_MODE, MB_OK | MB_ICONEXCLAMATION);
    } else if (mode == 1) {
        deviceMode_ = 1;
        engine_->Play();
        SetState(kLive);
    } else if (mode == 2) {
        deviceMode_ = 2;
        if (MediaPresent())
            Press(kPause);
        else
            AfxMessageBox(IDS_DV_NO_TAPE, MB_OK | MB_ICONEXCLAMATION);
        StartPolling();
    } else {
        engine_->Pause();
        AfxMessageBox(IDS_DV_BAD_MODE, MB_OK | MB_ICONEXCLAMATION);
    }
    if (deviceClass_ == 1) SetNonRealtime(0);
    UpdateControls();
    SetBusyCursor(FALSE);
    Invalidate(FALSE);
    return hr;
}

bool CDVCapturePage::MediaPresent() {
    if (!engine_) return false;
    DWORD present = 1, status = 0;
    if (FAILED(engine_->GetMediaStatus(&present, &status))) return true;
    return present != 0;
}

bool CDVCapturePage::CheckMedia(UINT button) {
    if (MediaPresent()) return true;
    AfxMessageBox(IDS_DV_NO_TAPE, MB_OK | MB_ICONEXCLAMATION);
    Check(button, false);
    return false;
}

void CDVCapturePage::OpenSelectDialog() {
    std::vector<std::string> texts;
    for (const std::string& t : deviceTexts_)
        if (!t.empty()) texts.push_back(t);
    CDVDeviceSelectDlg dialog(this, texts, currentDevice_.c_str());
    selectDialog_ = &dialog;
    dialog.DoModal();
    selectDialog_ = nullptr;
}

// ---- commands ----
void CDVCapturePage::Press(UINT id) {
    SendMessage(WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(nullptr));
}

BOOL CDVCapturePage::OnCommand(WPARAM wParam, LPARAM lParam) {
    const UINT id = LOWORD(wParam), code = HIWORD(wParam);
    if (code == EN_CHANGE && (id == kTimeLimitEdit || id == kSizeLimitEdit)) {
        OnLimitEditChange(id);
        return TRUE;
    }
    if (code != BN_CLICKED) return CEncBasePage::OnCommand(wParam, lParam);
    if ((id >= kPlay && id <= kRecord) || id == kSeek) ++transportGen_;
    switch (id) {
        case kPlay:
            OnPlay();
            break;
        case kPause:
            OnPause();
            break;
        case kStop:
            OnStopButton();
            break;
        case kRewind:
            OnRewind();
            break;
        case kFastForward:
            OnFastForward();
            break;
        case kNextFrame:
            OnStep(true);
            break;
        case kPrevFrame:
            OnStep(false);
            break;
        case kSeek:
            OnSeek();
            break;
        case kRecord:
            OnRecordButton();
            break;
        case kVolume:
            OnVolume();
            break;
        case kMakerLink:
            OnOpenLink();
            break;
        case kSetup:
            if (IsSetupEnabled()) OpenSelectDialog();
            break;
        case kBatch:
            OnBatchIfIdle();
            break;
        case kTimeLimitCheck:
        case kSizeLimitCheck:
            OnLimitCheck(id);
            break;
        case kNonRealtimeCheck:
            if (auto* b = dynamic_cast<CGButton*>(Control(id))) SetNonRealtime(b->IsChecked() ? 1 : 0);
            break;
        default:
            return CEncBasePage::OnCommand(wParam, lParam);
    }
    return TRUE;
}

void CDVCapturePage::OnPlay() {
    if (!engine_) return;
    if (state_ == kPlaying) {
        Check(kPlay, true);
        return;
    }
    if (!CheckMedia(kPlay)) return;
    startMark_ = true;
    Invalidate(FALSE);
    engine_->Play();
    startMark_ = false;
    SetState(kPlaying);
    UpdateControls();
}

void CDVCapturePage::OnPause() {
    if (!engine_) return;
    if (state_ == kPaused) {
        Check(kPause, true);
        return;
    }
    if (!CheckMedia(kPause)) return;
    engine_->Pause();
    SetState(kPaused);
    UpdateControls();
}

void CDVCapturePage::OnStopButton() {
    if (!engine_) return;
    const int state = state_;
    if (postEncoding_ == 2 && state != kStopped && state != kSeeking) {
        if (AfxMessageBox(IDS_DV_CONFIRM_ABORT_ENCODING, MB_YESNO | MB_DEFBUTTON2) != IDYES) return;
        engine_->AbortRecord();
        SetState(kStopped);
        tapeEndIgnore_ = false;
        UpdateControls();
        Invalidate(FALSE);
        return;
    }
    if (state == kStopped) {
        UpdateControls();
        return;
    }
    if (state == kRecording && recordingPhase_ != 2) {
        // The state changes when the engine reports the finish.
        SetBusyCursor(TRUE);
        engine_->StopRecord();
        return;
    }
    if (state == kSeeking) {
        if (SUCCEEDED(engine_->EndSeek())) Check(kSeek, false);
    } else {
        engine_->Stop();
    }
    SetState(kStopped);
    tapeEndIgnore_ = false;
    UpdateControls();
}

void CDVCapturePage::OnRewind() {
    if (!engine_) return;
    const int state = state_;
    if (state == kRewinding || state == kRewindingPlay) {
        Check(kRewind, true);
        return;
    }
    if (!CheckMedia(kRewind)) return;
    if (state == kPlaying || state == kPaused || state == kWindingPlay) {
        engine_->RewindPlay();
        SetState(kRewindingPlay);
    } else {
        engine_->Rewind();
        Sleep(100);
        DWORD mode = 0;
        if (SUCCEEDED(engine_->GetTransportMode(&mode)))
            SetState(mode == engines::kTransportStop ? kStopped : kRewinding);
    }
    UpdateControls();
}

void CDVCapturePage::OnFastForward() {
    if (!engine_) return;
    const int state = state_;
    if (state == kWinding || state == kWindingPlay) {
        Check(kFastForward, true);
        return;
    }
    if (!CheckMedia(kFastForward)) return;
    if (state == kPlaying || state == kPaused || state == kRewindingPlay) {
        engine_->FastForwardPlay();
        SetState(kWindingPlay);
    } else {
        engine_->FastForward();
        SetState(kWinding);
    }
    UpdateControls();
}

void CDVCapturePage::OnStep(bool forward) {
    if (!engine_ || !CheckMedia(forward ? kNextFrame : kPrevFrame)) return;
    if (state_ >= kWinding && state_ <= kRewindingPlay) engine_->Pause();
    if (forward)
        engine_->StepForward();
    else
        engine_->StepBackward();
}

void CDVCapturePage::OnSeek() {
    if (!engine_) return;
    if (state_ == kSeeking) {
        engine_->EndSeek();
        SetState(kPaused);
        UpdateControls();
        return;
    }
    if (!CheckMedia(kSeek)) return;
    auto* edit = dynamic_cast<CGTimeCodeEdit*>(Control(kTimeCodeEdit));
    if (!edit) return;
    const DWORD target = PackTimecode(edit->GetHours(), edit->GetMinutes(), edit->GetSeconds(), edit->GetFrames());
    if (deviceClass_ != 2 && GetWindowsVersionClass() == 3)
        engine_->Stop();
    else
        Press(kPause);
    if (SUCCEEDED(engine_->SeekTimecode(target))) {
        SetState(kSeeking);
    } else {
        Check(kSeek, false);
        AfxMessageBox(IDS_DV_SEEK_FAILED, MB_OK | MB_ICONEXCLAMATION);
    }
    UpdateControls();
}

// ---- controls ----
void CDVCapturePage::Check(UINT id, bool on) {
    if (auto* b = dynamic_cast<CGButton*>(Control(id))) b->SetCheck(on ? 1 : 0);
}

void CDVCapturePage::EnableControl(UINT id, bool on) {
    CWnd* c = Control(id);
    if (!c || !c->m_hWnd) return;
    if (auto* b = dynamic_cast<CGButtonBase*>(c))
        b->Enable(on);
    else
        c->EnableWindow(on);
}

void CDVCapturePage::UpdateControls() {
    if (!m_hWnd) return;
    const int s = state_;
    const bool device = !devices_.empty() && engine_;
    const bool tape = device && deviceMode_ != 1;
    const bool busy = s == kRecording || s == kSeeking;
    for (UINT id : {kPlay, kPause, kRewind, kFastForward})
        EnableControl(id, tape && !busy);
    Check(kPlay, s == kPlaying || s == kWindingPlay || s == kRewindingPlay);
    Check(kPause, s == kPaused);
    Check(kRewind, s == kRewinding || s == kRewindingPlay);
    Check(kFastForward, s == kWinding || s == kWindingPlay);
    EnableControl(kStop, tape);
    Check(kStop, s == kStopped);
    EnableControl(kPrevFrame, tape && s == kPaused);
    EnableControl(kNextFrame, tape && s == kPaused);
    EnableControl(kRecord, device && !busy);
    Check(kRecord, s == kRecording);
    EnableControl(kSetup, devices_.size() > 1 && s != kRecording);
    EnableControl(kBatch, tape && !busy);
    EnableControl(kSeek, tape && !busy);
    for (UINT id : {kTimeLimitCheck, kSizeLimitCheck, kSizeLimitEdit, kTimeLimitEdit, kTimeCodeEdit})
        EnableControl(id, device && !busy);
    EnableControl(kHelpButton, s != kRecording);
    EnableControl(kNonRealtimeCheck,
                  device && s != kRecording && captureKind_ != 0 && captureKind_ != 8 && deviceClass_ != 1);
    Check(kNonRealtimeCheck, NonRealtime() == 1);
    char mixer[260] = {};
    LONG muted = 0;
    if (SUCCEEDED(FindMixerDevice(kMixerHasSpeakers, mixer, sizeof mixer)) && GetMixerMute(mixer, -1, &muted))
        Check(kVolume, muted != 0);
}

int CDVCapturePage::IsSetupEnabled() {
    auto* b = dynamic_cast<CGButtonBase*>(Control(kSetup));
    return b && b->IsEnabled() ? 1 : 0;
}

int CDVCapturePage::IsSecondaryButtonEnabled() {
    auto* b = dynamic_cast<CGButtonBase*>(Control(kRecord));
    return b && b->IsEnabled() ? 1 : 0;
}

int CDVCapturePage::IsCommandEnabled(UINT code) {
    UINT id = 0;
    if (code == 4301) id = kPlay;
    if (code == 4302) id = kStop;
    if (code == 4303) id = kFastForward;
    if (!id) return 1;
    auto* b = dynamic_cast<CGButtonBase*>(Control(id));
    return b && b->IsEnabled() ? 1 : 0;
}

LRESULT CDVCapturePage::OnRecordCommand(UINT code) {
    if (code == 4208) Press(kRecord);
    if (code == 4209) Press(kStop);
    return 1;
}

LRESULT CDVCapturePage::OnTransportCommand(UINT code) {
    switch (code) {
        case 4301:
            Press(state_ == kStopped || state_ == kPaused ? kPlay : kPause);
            break;
        case 4302:
            Press(kStop);
            break;
        case 4303:
            Press(kFastForward);
            break;
        case 4304:
            Press(kRewind);
            break;
        case 4308: {
            char mixer[260] = {};
            LONG muted = 0;
            if (SUCCEEDED(FindMixerDevice(kMixerHasSpeakers, mixer, sizeof mixer)) && GetMixerMute(mixer, -1, &muted) &&
                SetMixerMute(mixer, -1, muted ? 0 : 1))
                Check(kVolume, !muted);
            break;
        }
        case 4309:
            OnVolume();
            break;
        default:
            break;
    }
    return 1;
}

LRESULT CDVCapturePage::SetupIfEnabled() {
    if (!IsSetupEnabled()) return 0;
    OpenSelectDialog();
    return 1;
}

LRESULT CDVCapturePage::OnBatchIfIdle() {
    if (state_ == kRecording || state_ == kSeeking) return 0;
    OpenBatchDialog();
    return 1;
}

// The batch dialog borrows the engine: the page's polls stop and its callback is replaced
// until the dialog's closing message (kBatchClosed) gives them back.
void CDVCapturePage::OpenBatchDialog() {
    if (!engine_ || devices_.empty()) return;
    if (deviceMode_ == 1) {
        AfxMessageBox(IDS_DV_BATCH_CAMERA, MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    StopPolling();
    const std::string folder = GetCaptureDir().c_str();
    CDVBatchCaptureDlg dialog(this);
    dialog.SetEngine(engine_, &params_, frameRate_, currentDevice_.c_str(), deviceClass_, folder.c_str());
    dialog.SetProfileManager(store_);
    dialog.DoModal();
    SetNonRealtime(dialog.NonRealtime());
    UpdateControls();
}

BOOL CDVCapturePage::OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* result) {
    const auto* header = reinterpret_cast<const NMHDR*>(lParam);
    if (header && header->code == CDVDeviceSelectDlg::kNotifyChosen && selectDialog_ &&
        header->hwndFrom == selectDialog_->m_hWnd) {
        const auto* record = reinterpret_cast<const DeviceChosenRecord*>(lParam);
        const std::string text(record->text, strnlen(record->text, sizeof record->text));
        OpenDevice(text.c_str());
        NotifyParent(2025, 0);
        return TRUE;
    }
    return CEncBasePage::OnNotify(wParam, lParam, result);
}

LRESULT CDVCapturePage::OnBatchClipMessage(WPARAM path, LPARAM) {
    char text[258] = {};
    if (path) lstrcpynA(text, reinterpret_cast<const char*>(path), sizeof text);
    NotifyParent(2028, reinterpret_cast<LPARAM>(text));
    return 0;
}

LRESULT CDVCapturePage::OnBatchClosedMessage(WPARAM, LPARAM) {
    if (!engine_) return 0;
    engine_->SetCallback(&CDVCapturePage::EngineCallback);
    ComputePreviewRect();
    if (!MediaPresent()) AfxMessageBox(IDS_DV_NO_TAPE, MB_OK | MB_ICONEXCLAMATION);
    StartPolling();
    engine_->SetPreviewWindow(m_hWnd, &preview_);
    SetState(kLive);
    return 0;
}

// ---- painting and the shuttle ----
void CDVCapturePage::OnPaint() {
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(m_hWnd, &ps);
    PaintSkinViewBackground(dc, kView);
    const int s = state_;
    if (startMark_ || (s != kLive && s != kStopped) || devices_.empty())
        FillRect(dc, &previewBack_, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    DrawShuttle(dc);
    if (postEncoding_ == 2 || postEncoding_ == 3) {
        DrawPostEncodingArt(dc);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, blink_ ? RGB(255, 200, 64) : RGB(232, 238, 245));
        RECT r = postEncodingRect_;
        DrawTextA(dc, postCaption_.c_str(), -1, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    }
    ::EndPaint(m_hWnd, &ps);
}

// The post-encoding area's picture, fitted to the area; black when the skin has none.
void CDVCapturePage::DrawPostEncodingArt(HDC dc) {
    const RECT& r = postEncodingRect_;
    BITMAP info{};
    if (!postEncodingArt_ || !GetObject(postEncodingArt_, sizeof info, &info) || info.bmWidth <= 0 ||
        info.bmHeight <= 0) {
        FillRect(dc, &r, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        return;
    }
    HDC mem = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(mem, postEncodingArt_);
    SetStretchBltMode(dc, COLORONCOLOR);
    StretchBlt(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, mem, 0, 0, info.bmWidth, info.bmHeight, SRCCOPY);
    SelectObject(mem, old);
    DeleteDC(mem);
}

// Both post-encoding phases share one picture, loaded by the first of them that needs it.
void CDVCapturePage::LoadPostEncodingArt(const char* fileName) {
    if (!postEncodingArt_) postEncodingArt_ = LoadSkinBitmap(fileName);
}

void CDVCapturePage::DrawShuttle(HDC dc) {
    if (!shuttleStrip_) return;
    int step = shuttleStep_;
    const int s = state_;
    if (deviceMode_ != 2 || listedKind_ == 2 || s == kRecording || s == kSeeking || postEncoding_ == 2) step = 32;
    const int frame = step < 16 ? step : step - 1;
    const int w = shuttleRect_.right - shuttleRect_.left, h = shuttleRect_.bottom - shuttleRect_.top;
    HDC mem = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(mem, shuttleStrip_);
    BitBlt(dc, shuttleRect_.left, shuttleRect_.top, w, h, mem, frame * w, 0, SRCCOPY);
    SelectObject(mem, old);
    DeleteDC(mem);
    Check(kShuttleLeft, step < 15);
    Check(kShuttleRight, step >= 17 && step <= 31);
}

int CDVCapturePage::StepAt(int x) const {
    const int w = shuttleRect_.right - shuttleRect_.left;
    if (w <= 0) return 16;
    if (x < shuttleRect_.left) return 0;
    if (x >= shuttleRect_.right) return 31;
    return std::min<int>(31, (x - shuttleRect_.left) * 32 / w);
}

void CDVCapturePage::ShuttleTo(int step) {
    shuttleStep_ = step;
    shuttleForward_ = step >= 16;
    InvalidateRect(&shuttleRect_, FALSE);
    if (engine_) engine_->Shuttle(DWORD(step));
}

void CDVCapturePage::OnLButtonDown(UINT, CPoint point) {
    if (listedKind_ == 2) return;
    const int s = state_;
    if (!engine_ || !PtInRect(&shuttleRect_, point) || deviceMode_ != 2 || s == kRecording || s == kSeeking) return;
    if (!MediaPresent()) {
        AfxMessageBox(IDS_DV_NO_TAPE, MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    const int step = StepAt(point.x);
    if (s != kPlaying && s != kPaused) Press(kPlay);
    ShuttleTo(step);
    dragging_ = true;
    ::SetCapture(m_hWnd);
}

void CDVCapturePage::OnMouseMove(UINT, CPoint point) {
    if (listedKind_ == 2) return;
    const int s = state_;
    if (dragging_) {
        if (s != kRecording) ShuttleTo(StepAt(point.x));
        return;
    }
    const bool over = PtInRect(&shuttleRect_, point) && deviceMode_ == 2 && s != kRecording && s != kSeeking;
    ::SetCursor(over ? shuttleCursor_ : LoadCursor(nullptr, IDC_ARROW));
}

void CDVCapturePage::OnLButtonUp(UINT, CPoint) {
    if (!dragging_) return;
    dragging_ = false;
    ShuttleTo(shuttleForward_ ? 16 : 15);
    Press(kPause);
    DWORD mode = 0;
    for (int tries = 0;
         engine_ && tries < 20 && SUCCEEDED(engine_->GetTransportMode(&mode)) && mode != engines::kTransportFreeze;
         ++tries)
        engine_->Pause();
    SetState(kPaused);
    ReleaseCapture();
    ::SetCursor(LoadCursor(nullptr, IDC_ARROW));
    UpdateControls();
}

// ---- recording ----
void CDVCapturePage::SetProfile(const profiles::ProfileRecord& record) {
    uint32_t selection = 0;
    const int kind = FillCaptureParams(record, frameRate_, keepOrgSize_, &params_, &selection);
    if (kind >= 0) captureKind_ = kind;
    if (record.head.videoFormatClass == profiles::kClassDv) SetNonRealtime(0);
    if (record.head.videoFormatClass == profiles::kClassH264) SetNonRealtime(1);
    UpdateControls();
}

int64_t CDVCapturePage::GetRecordedSize() {
    if (state_ != kRecording || recordingPhase_ != 0 || outputPath_.empty()) return 0;
    struct _stati64 st {};
    if (_stati64(outputPath_.c_str(), &st) != 0) return 0;
    return st.st_size;
}

void CDVCapturePage::OnRecordButton() {
    if (state_ == kRecording) {
        Check(kRecord, true);
        return;
    }
    startMark_ = true;
    Invalidate(FALSE);
    UpdateWindow();
    RecordStart();
    startMark_ = false;
    ready_ = false;
    Invalidate(FALSE);
}

bool CDVCapturePage::RecordStart() {
    if (!engine_) return false;
    if (deviceClass_ == 2 && !CheckMedia(kRecord)) return false;
    const CString stem = GetTargetFolder(FALSE);
    if (stem.IsEmpty()) {
        Press(kStop);
        return false;
    }
    const std::string path = std::string(stem.c_str()) + (captureKind_ != 0 ? ".mpg" : ".avi");
    outputPath_ = MakeUniqueFileName(path.c_str()).c_str();
    lstrcpynA(params_.outputPath, outputPath_.c_str(), sizeof params_.outputPath);
    engines::CaptureParams block = params_;
    if (deviceClass_ == 1) block.encoderType = 0;
    if (FAILED(engine_->SetEncoderType(&block))) {
        AfxMessageBox(IDS_DV_PARAMS_REFUSED, MB_OK | MB_ICONEXCLAMATION);
        Press(kStop);
        return false;
    }
    auto* timeCheck = dynamic_cast<CGButton*>(Control(kTimeLimitCheck));
    auto* timeEdit = dynamic_cast<CGSimpleTimeEdit*>(Control(kTimeLimitEdit));
    DWORD timeLimit = 0;
    if (timeCheck && timeCheck->IsChecked() && timeEdit) {
        const int h = timeEdit->GetHours(), m = timeEdit->GetMinutes(), s = timeEdit->GetSeconds();
        if (h == 0 && m == 0 && s == 0) {
            AfxMessageBox(IDS_DV_TIME_LIMIT_ZERO, MB_OK | MB_ICONEXCLAMATION);
            Press(kStop);
            return false;
        }
        timeLimit = PackTimecode(h, m, s, 0);
    }
    engine_->SetTimeLimit(timeLimit);
    auto* sizeCheck = dynamic_cast<CGButton*>(Control(kSizeLimitCheck));
    auto* sizeEdit = dynamic_cast<CGLEDEdit*>(Control(kSizeLimitEdit));
    DWORD sizeLimit = 0;
    if (sizeCheck && sizeCheck->IsChecked() && sizeEdit) {
        sizeLimit = DWORD(_strtoui64(sizeEdit->GetText().c_str(), nullptr, 10) & 0xFFFFFFFFu);
        if (sizeLimit == 0) {
            AfxMessageBox(IDS_DV_SIZE_LIMIT_ZERO, MB_OK | MB_ICONEXCLAMATION);
            SetState(kStopped);
            UpdateControls();
            return false;
        }
        char root[4] = {};
        GetTargetDriveRoot(FALSE, root);
        ULARGE_INTEGER available{};
        if (GetDiskFreeSpaceExA(root, &available, nullptr, nullptr) && available.HighPart == 0 &&
            available.LowPart < sizeLimit) {
            sizeLimit = available.LowPart;
            char text[16];
            std::snprintf(text, sizeof text, "%lu", static_cast<unsigned long>(sizeLimit));
            sizeEdit->SetText(text);
        }
    }
    engine_->SetSizeLimit(sizeLimit);
    DWORD options = PreviewOptions(true);
    if (GetWindowsVersionClass() == 3 && captureKind_ == 8) options &= ~DWORD(2);
    if (NonRealtime() == 1 && captureKind_ != 0) options |= 4;
    engine_->SetOptions(options);
    postEncoding_ = 0;
    SetState(kRecording);
    if (SUCCEEDED(engine_->StartRecord())) {
        recordingPhase_ = 1;
        lastTransport_ = 4096;
        UpdateControls();
        NotifyParent(2026, 0);
        return true;
    }
    AfxMessageBox(IDS_DV_RECORD_START_FAILED, MB_OK | MB_ICONEXCLAMATION);
    engine_->Stop();
    SetState(kStopped);
    UpdateControls();
    return false;
}

void CDVCapturePage::OnLimitCheck(UINT id) {
    auto* check = dynamic_cast<CGButton*>(Control(id));
    if (!check) return;
    if (id == kTimeLimitCheck) {
        auto* edit = dynamic_cast<CGSimpleTimeEdit*>(Control(kTimeLimitEdit));
        if (!edit) return;
        if (!check->IsChecked())
            edit->SetText("00:00:00");
        else if (strcmp(edit->GetText().c_str(), "00:00:00") == 0)
            edit->SetText("00:00:01");
    } else {
        auto* edit = dynamic_cast<CGLEDEdit*>(Control(kSizeLimitEdit));
        if (!edit) return;
        if (!check->IsChecked())
            edit->SetText("0000");
        else if (_strtoui64(edit->GetText().c_str(), nullptr, 10) == 0)
            edit->SetText("0001");
    }
}

void CDVCapturePage::OnLimitEditChange(UINT id) {
    if (id == kTimeLimitEdit) {
        if (auto* edit = dynamic_cast<CGSimpleTimeEdit*>(Control(id)))
            Check(kTimeLimitCheck, strcmp(edit->GetText().c_str(), "00:00:00") != 0);
    } else if (auto* edit = dynamic_cast<CGLEDEdit*>(Control(id))) {
        Check(kSizeLimitCheck, _strtoui64(edit->GetText().c_str(), nullptr, 10) != 0);
    }
}

// The clip takes the capture folder's prefix name. It is moved only to a name no file has,
// and a failed move is reported: the clip then stays where and as the engine wrote it.
void CDVCapturePage::GiveFinalName() {
    if (clipPath_.empty()) return;
    std::string folder = GetCaptureDir().c_str();
    if (!folder.empty() && folder.back() != '\\') folder += '\\';
    // A DV recording the engine kept after a failed encoding stays an ".avi".
    const bool avi = captureKind_ == 0 || EndsWithNoCase(clipPath_, ".avi");
    const std::string wanted = folder + GetCapturePrefix().c_str() + (avi ? ".avi" : ".mpg");
    const std::string target = MakeUniqueFileName(wanted.c_str()).c_str();
    if (lstrcmpiA(target.c_str(), clipPath_.c_str()) == 0) return;
    if (MoveFileA(clipPath_.c_str(), target.c_str())) {
        clipPath_ = target;
        return;
    }
    CString text;
    text.FormatId(IDS_DV_RENAME_FAILED, clipPath_.c_str());
    AfxMessageBox(text, MB_OK | MB_ICONEXCLAMATION);
}

void CDVCapturePage::Finish() {
    SetBusyCursor(TRUE);
    if (RecordingSwitch("CaptureFilePrompt", 1, true) != 0) {
        CCaptureFilePromptDlg prompt(this, TRUE);
        prompt.SetPath(clipPath_.c_str());
        if (prompt.DoModal() != IDOK) {
            SetBusyCursor(FALSE);
            Press(kStop);
            ready_ = true;
            return;
        }
        clipPath_ = prompt.GetResultPath().c_str();
    }
    bool present = false;
    for (int i = 0; i < kFileWaitTries && !present; ++i) {
        present = Exists(clipPath_);
        if (!present) Sleep(1000);
    }
    SetBusyCursor(FALSE);
    FILETIME clipTime{};
    if (!present) {
        AfxMessageBox(IDS_DV_CLIP_MISSING, MB_OK | MB_ICONEXCLAMATION);
    } else {
        LastWrite(clipPath_, &clipTime);
        char text[258] = {};
        lstrcpynA(text, clipPath_.c_str(), sizeof text);
        NotifyParent(2028, reinterpret_cast<LPARAM>(text));
        char drive[_MAX_DRIVE] = {}, dir[_MAX_DIR] = {}, name[_MAX_FNAME] = {}, ext[_MAX_EXT] = {};
        if (_splitpath_s(clipPath_.c_str(), drive, sizeof drive, dir, sizeof dir, name, sizeof name, ext, sizeof ext) ==
            0) {
            for (int n = 0; n < kMaxContinuations; ++n) {
                char path[MAX_PATH * 2];
                std::snprintf(path, sizeof path, "%s%s%s(%d)%s", drive, dir, name, n, ext);
                if (!Exists(path)) {
                    if (n == 0) continue;
                    break;
                }
                FILETIME t{};
                if (!LastWrite(path, &t)) continue;
                if (CompareFileTime(&t, &clipTime) >= 0) {
                    lstrcpynA(text, path, sizeof text);
                    NotifyParent(2028, reinterpret_cast<LPARAM>(text));
                }
            }
        }
    }
    Press(kStop);
    ready_ = true;
}

// ---- notices and timers ----
LRESULT CDVCapturePage::OnEngineNotice(WPARAM code, LPARAM data) {
    std::unique_ptr<NoticePayload> payload(reinterpret_cast<NoticePayload*>(data));
    if (!payload) return 0;
    switch (code) {
        case engines::WM_REC_START:
            recordingPhase_ = 1;
            SetState(kRecording);
            backgroundSeconds_ = 0;
            postEncodingStart_ = 0;
            if (!clockRunning_) clockRunning_ = SetTimer(kClockTimer, 1000) != 0;
            clockStart_ = GetTickCount();
            UpdateControls();
            if (NonRealtime() == 1) postEncoding_ = 1;
            NotifyParent(2026, 0);
            break;
        case engines::WM_REC_FINISH:
            recordingPhase_ = 2;
            clipPath_ = payload->text;
            GiveFinalName();
            lastTransport_ = 4096;
            tapeEndIgnore_ = false;
            SetTimer(kFinishTimer, 100);
            break;
        case engines::WM_DEVICE_CHANGED:
            // The engine reports each opening of a device; the page's own openings are not
            // changes of the device.
            if (ownOpens_ > 0 && payload->param != 1) {
                --ownOpens_;
                break;
            }
            deviceChange_ = payload->param == 1 ? 2 : 3;
            SetTimer(kRecheckTimer, 300);
            break;
        case engines::WM_DEVICE_REMOVED:
            deviceChange_ = 1;
            SetTimer(kRecheckTimer, 300);
            break;
        case engines::kSeekBegun:
            if (NonRealtime() != 0 && state_ == kRecording) stopPending_ = true;
            if (deviceClass_ != 2 && GetWindowsVersionClass() == 3) {
                if (engine_) engine_->Stop();
            } else {
                Press(kPause);
            }
            SetState(kSeeking);
            UpdateControls();
            break;
        case engines::WM_DV_ERROR: {
            const HRESULT hr = static_cast<HRESULT>(payload->param);
            if (NonRealtime() != 0 && stopPending_) {
                stopPending_ = false;
                SetState(kRecording);
                tapeEndIgnore_ = false;
                Press(kStop);
                break;
            }
            if (!tapeEndIgnore_ && hr == 0) AfxMessageBox(IDS_DV_SEARCH_ENDED, MB_OK | MB_ICONINFORMATION);
            if (hr == static_cast<HRESULT>(0x80040100) || hr == static_cast<HRESULT>(0x80040102))
                AfxMessageBox(IDS_DV_SEEK_FAILED, MB_OK | MB_ICONEXCLAMATION);
            // A failed seek leaves the deck paused; an error during a recording leaves the
            // recording to its own finish notice.
            if (state_ != kRecording) {
                Press(kPause);
                SetState(kPaused);
            }
            tapeEndIgnore_ = false;
            UpdateControls();
            break;
        }
        case engines::WM_REC_FAILED:
            if (engine_) engine_->StopRecord();
            AfxMessageBox(IDS_DV_RECORDING_FAILED, MB_OK | MB_ICONEXCLAMATION);
            if (NonRealtime() == 0) SetState(kStopped);
            recordingPhase_ = 2;
            ready_ = true;
            UpdateControls();
            NotifyParent(2027, 0);
            break;
        case engines::WM_NON_REALTIME_ENCODE:
            if (!EndsWithNoCase(payload->text, "AVI")) {
                postEncoding_ = 2;
                postCaption_ = AfxLoadString(IDS_DV_POST_ENCODING).c_str();
                LoadPostEncodingArt("Capture PostEncodingBK.jpg");
                Invalidate(FALSE);
            }
            break;
        case engines::WM_NON_REALTIME_REC_FINISH:
            clipPath_ = payload->text;
            GiveFinalName();
            recordingPhase_ = 2;
            SetState(kStopped);
            postEncoding_ = 4;
            lastTransport_ = 4096;
            tapeEndIgnore_ = false;
            if (progress_ && progress_->m_hWnd) progress_->SetRegionEnd(0, 0);
            SetTimer(kFinishTimer, 100);
            break;
        case engines::WM_POST_ENCODING_START:
            if (NonRealtime() == 1) {
                postEncoding_ = 3;
                postEncodingStart_ = GetTickCount();
                postCaption_ = AfxLoadString(IDS_DV_POST_ENCODING_BACKGROUND).c_str();
                LoadPostEncodingArt("capture postencodingbk.jpg");
                Invalidate(FALSE);
            }
            break;
        case engines::WM_REC_CLOCK_RESET:
            SetState(kRecording);
            postEncoding_ = 1;
            if (postEncodingStart_) backgroundSeconds_ += (GetTickCount() - postEncodingStart_) / 1000;
            postEncodingStart_ = 0;
            InvalidateRect(&previewBack_, FALSE);
            break;
        case engines::WM_REC_STOPPED_MSG: {
            if (engine_) engine_->Stop();
            SetState(kStopped);
            std::string reason = payload->text;
            if (!reason.empty()) reason[0] = static_cast<char>(toupper(static_cast<unsigned char>(reason[0])));
            CString text;
            text.FormatId(IDS_DV_RECORDING_STOPPED, reason.c_str());
            AfxMessageBox(text, MB_OK | MB_ICONEXCLAMATION);
            UpdateControls();
            break;
        }
        case engines::WM_TAPE_END_IGNORE:
            tapeEndIgnore_ = true;
            break;
        default:
            break;
    }
    return 0;
}

void CDVCapturePage::OnTimer(UINT_PTR id) {
    if (id == kFinishTimer) {
        KillTimer(kFinishTimer);
        Finish();
        NotifyParent(2027, 0);
        return;
    }
    if (id == kClockTimer) {
        if (recordingPhase_ == 2) {
            SetState(kStopped);
            KillTimer(kClockTimer);
            clockRunning_ = false;
            UpdateControls();
            if (deviceMode_ == 1 && engine_) {
                engine_->Play();
                SetState(kLive);
            }
            Invalidate(FALSE);
            return;
        }
        DWORD elapsed = (GetTickCount() - clockStart_) / 1000;
        if (NonRealtime() == 1) {
            DWORD background = backgroundSeconds_;
            if (postEncoding_ == 3 && postEncodingStart_) background += (GetTickCount() - postEncodingStart_) / 1000;
            elapsed = elapsed > background ? elapsed - background : 0;
        }
        recordingPhase_ = 0;
        NotifyParent(2030, 0);
        if (NonRealtime() == 1 && engine_) {
            DWORD done = 0, total = 0;
            if (SUCCEEDED(engine_->GetEncodeProgress(&done, &total)) && total && progress_) {
                progress_->SetRange(0, int(std::min<DWORD>(total, 0x7FFFFFFF)), TRUE);
                progress_->SetRegionEnd(0, int(std::min(done, total)));
            }
            if (postEncoding_ == 2 && done > 0 && done <= total && elapsed > 0) {
                const double perMinute = double(done) / elapsed * 60;
                CString left;
                left.FormatId(IDS_DV_MINUTES_LEFT, int((total - done) / perMinute));
                postCaption_ = std::string(AfxLoadString(IDS_DV_POST_ENCODING).c_str()) + left.c_str();
            }
            if (postEncoding_ == 2 || postEncoding_ == 3) {
                blink_ = !blink_;
                InvalidateRect(&postEncodingRect_, FALSE);
            }
        }
        return;
    }
    if (id == kRecheckTimer) {
        if (deviceChange_ == 0) {
            KillTimer(kRecheckTimer);
            return;
        }
        const int s = state_;
        const bool stateOk = deviceChange_ == 2 || s == kLive || s == kStopped || s == kPaused;
        const bool encodingOk = NonRealtime() != 1 || postEncoding_ == 0 || postEncoding_ == 4;
        if (!stateOk || !encodingOk || !ready_ || recheckGuard_) return;
        recheckGuard_ = true;
        if (deviceChange_ == 2) {
            std::string name = currentDevice_;
            if (listedKind_ == 2) dvdevices::QueryEngineString(5, "", &name);
            CString text;
            text.FormatId(IDS_DV_DEVICE_ARRIVED, name.c_str());
            AfxMessageBox(text, MB_OK | MB_ICONINFORMATION);
        }
        deviceChange_ = 0;
        KillTimer(kRecheckTimer);
        recheckGuard_ = false;
        if (selectDialog_) selectDialog_->EndDialog(IDCANCEL);
        if (engine_) OpenDevice(nullptr);
        if (FAILED(BindEngine())) NotifyParent(2024, 0);
        UpdateControls();
        Invalidate(FALSE);
    }
}

LRESULT CDVCapturePage::OnShowTimecode(WPARAM timecode, LPARAM) {
    const int h = int(timecode & 0xFF), m = int(timecode >> 8 & 0xFF), s = int(timecode >> 16 & 0xFF),
              f = int(timecode >> 24 & 0xFF);
    char text[16];
    if (h < 24 && m < 60 && s < 60 && f < 30)
        std::snprintf(text, sizeof text, "%02d:%02d:%02d:%02d", h, m, s, f);
    else
        lstrcpynA(text, "--:--:--:--", sizeof text);
    if (auto* edit = dynamic_cast<CGTimeCodeEdit*>(Control(kTimeCodeEdit))) edit->SetText(text);
    if (auto* label = dynamic_cast<CGStatic*>(Control(3025))) label->SetText(text);
    return 0;
}

// A press the poll threads asked for is dropped when a transport command ran since they read
// the deck: what they saw is older than what the user or the page did.
// The poll threads leave a seek alone, so a press that arrives while seeking was read before
// the seek began (between the SEEK click and the state change) and is dropped.
LRESULT CDVCapturePage::OnPollPress(WPARAM button, LPARAM generation) {
    if (state_ == kSeeking) return 0;
    if (static_cast<uint32_t>(generation) == transportGen_.load()) Press(static_cast<UINT>(button));
    return 0;
}

// ---- poll threads ----
bool CDVCapturePage::WaitStop(DWORD ms) {
    return WaitForSingleObject(pollStop_, ms) == WAIT_OBJECT_0;
}

void CDVCapturePage::StartPolling() {
    StopPolling();
    if (!engine_ || !pollStop_) return;
    ResetEvent(pollStop_);
    lastShown_ = 0xFFFFFFFF;
    try {
        timecodeThread_ = std::thread([this] { TimecodePoll(); });
        modeThread_ = std::thread([this] { ModePoll(); });
    } catch (...) {
        StopPolling();
    }
}

// The threads wait on the stop event, so the join is bounded by one engine call.
void CDVCapturePage::StopPolling() {
    if (!timecodeThread_.joinable() && !modeThread_.joinable()) return;
    const int before = state_;
    SetState(kPollEnding);
    if (pollStop_) SetEvent(pollStop_);
    if (timecodeThread_.joinable()) timecodeThread_.join();
    if (modeThread_.joinable()) modeThread_.join();
    SetState(before == kPollEnding ? kLive : kLive);
}

void CDVCapturePage::TimecodePoll() {
    int still = 0;
    const HWND window = m_hWnd;
    while (!WaitStop(100)) {
        if (state_ == kPollEnding) return;
        const uint32_t generation = transportGen_;
        DWORD code = 0;
        if (deviceMode_ == 2 && FAILED(engine_->GetTimecode(&code))) continue;
        if (code == lastShown_) {
            const int s = state_;
            const DWORD mode = lastTransport_;
            const bool playing = s == kPlaying || mode == engines::kTransportPlay;
            const bool recording = s == kRecording || mode == engines::kTransportRecord;
            if (!playing && !recording) {
                still = 0;
                continue;
            }
            if (++still < kStillReads || mode == engines::kTransportFreeze) continue;
            if (postEncoding_ == 2 || postEncoding_ == 3 || tapeEndIgnore_) continue;
            ::PostMessageA(window, kPollPress, kStop, LPARAM(generation));
            still = 0;
            continue;
        }
        ::PostMessageA(window, kShowTimecode, code, 0);
        lastShown_ = code;
        still = 0;
    }
}

void CDVCapturePage::ModePoll() {
    const HWND window = m_hWnd;
    while (!WaitStop(2000)) {
        if (state_ == kPollEnding) return;
        const uint32_t generation = transportGen_;  // before the state: a later command makes it stale
        const int s = state_;
        if (s == kSeeking || postEncoding_ == 2 || postEncoding_ == 3 || tapeEndIgnore_) continue;
        DWORD mode = 0;
        if (FAILED(engine_->GetTransportMode(&mode))) continue;
        if (s == kRecording) {
            if (mode == engines::kTransportPlay) continue;
            if (NonRealtime() == 1) {
                if (WaitStop(2000)) return;
                DWORD again = 0;
                if (FAILED(engine_->GetTransportMode(&again)) || again == engines::kTransportPlay ||
                    state_ != kRecording || postEncoding_ == 2) {
                    if (WaitStop(1000)) return;
                    continue;
                }
            }
            ::PostMessageA(window, kPollPress, kStop, LPARAM(generation));
            if (WaitStop(1000)) return;
            continue;
        }
        if (mode != lastTransport_) {
            UINT press = 0;
            switch (mode) {
                case engines::kTransportPlay:
                    press = kPlay;
                    break;
                case engines::kTransportStop:
                    press = kStop;
                    break;
                case engines::kTransportFreeze:
                    press = kPause;
                    break;
                case engines::kTransportWind:
                    press = kFastForward;
                    break;
                case engines::kTransportRewind:
                    press = kRewind;
                    break;
                default:
                    break;
            }
            if (press) ::PostMessageA(window, kPollPress, press, LPARAM(generation));
            lastTransport_ = mode;
        }
    }
}

void InstallDVCapturePage(PageFactory* factory) {
    factory->newDVPage = [] { return static_cast<DVPageSlot*>(new CDVCapturePage); };
    factory->checkDVDevice = [] { return CDVCapturePage::CheckDVDevice(); };
    // A DV deck, or a device of the listed kinds.
    factory->findDVDevice = [] {
        return dvdevices::FindDVDeviceInDeviceClasses(false) || dvdevices::FindDVDeviceInDeviceClasses(true) ? 1 : 0;
    };
}
