#include "app/pages/file_convert_page.h"

#include <commdlg.h>
#include <process.h>
#include <shellapi.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>

#include "app/input_folder_browser.h"
#include "app/pages/batch_rules.h"
#include "app/pages/export_room.h"
#include "app/pages/file_batch_list.h"
#include "app/pages/video_viewer_dlg.h"
#include "app/resources/resource_ids.h"
#include "app/services/paths.h"
#include "app/services/preferences.h"
#include "app/services/system_utils.h"
#include "app/services/tv_format.h"
#include "app/skin/common_dialogs.h"
#include "app/skin/skin_controls.h"
#include "app/skin/skin_draw.h"
#include "app/skin/skin_edits.h"
#include "app/skin/skin_images.h"
#include "app/skin/skin_layout.h"
#include "app/skin/skin_sliders.h"
#include "engines/client/engine_client.h"
#include "engines/file_engine/file_engine_records.h"
#include "framework/app.h"

namespace {

enum : UINT {
    kIdList = 2002,
    kIdAdd = 2006,
    kIdDelete = 2007,
    kIdUp = 2008,
    kIdDown = 2009,
    kIdStart = 2010,
    kIdAbort = 2011,
    kIdPlay = 2012,
    kIdPause = 2013,
    kIdStop = 2014,
    kIdFastForward = 2015,
    kIdPrevFrame = 2016,
    kIdNextFrame = 2017,
    kIdVolume = 2018,
    kIdMark = 2019,
    kIdSpeed = 2020,
    kIdSlider = 2021,
    kIdTimeEdit = 2022,
    kIdFinishRate = 2023,
};
constexpr UINT kPlayTimer = 1, kProgressTimer = 2;
// A preview range may not start at the clip's very end: it starts 80 ms (100-ns units) before.
constexpr int64_t kEndGuard = 800000;
constexpr char kNoTime[] = "--:--:--:--";
constexpr UINT kPreviewEnded = WM_APP + 200, kConvertDone = WM_APP + 202;
// The worker's requests to the user-interface thread (sent, so they run in order).
constexpr UINT kWorkerStep = WM_APP + 310;
enum WorkerStep : WPARAM { kStepProgress = 1, kStepAskDuplicate = 2, kStepAdd = 3 };
struct WorkerProgress {
    int index, count;
    const char* path;
};
constexpr const char* kView = "ENC_FILE_PAGE";

int Ask(UINT id, UINT type, HWND owner, const CString& text) {
    MessageBoxRequest request;
    request.id = id;
    request.text = text;
    request.caption = AfxGetAppName();
    request.type = type;
    request.owner = owner;
    return AfxShowMessageBox(request);
}

void WriteClip(std::vector<BYTE>& r, size_t offset, const void* value, size_t bytes) {
    std::memcpy(r.data() + offset, value, bytes);
}

}  // namespace

CString BuildOpenFileFilterText(bool secondGroup) {
    CString text;
    text.Format("%s;%s;", AfxLoadString(IDS_FILTER_MPEG).c_str(), AfxLoadString(IDS_FILTER_AVI).c_str());
    if (secondGroup) {
        CString more;
        more.Format("%s%s;%s;", text.c_str(), AfxLoadString(IDS_FILTER_VOB).c_str(),
                    AfxLoadString(IDS_FILTER_VRO).c_str());
        text = more;
    }
    return CString(text.c_str(), text.GetLength() - 1);
}

void InstallFilePages(PageFactory& factory) {
    factory.newFilePage = [] { return static_cast<FilePageSlot*>(new CFileConvertPage); };
    factory.newExportRoom = [] { return static_cast<ExportRoomSlot*>(new CExportRoom); };
    factory.buildOpenFileFilter = [] { return BuildOpenFileFilterText(true); };
    factory.isSupportedInputFile = [](const char* path) { return filepage::IsSupportedInputFile(path); };
}

CFileConvertPage::CFileConvertPage() : profile_(new profiles::ProfileRecord{}) {
    const struct {
        const char* name;
        UINT id;
        uint32_t repeat;
    } buttons[14] = {{"IDC_BUTTON_FILE_PLAY", kIdPlay, 0},
                     {"IDC_BUTTON_FILE_PAUSE", kIdPause, 0},
                     {"IDC_BUTTON_FILE_STOP", kIdStop, 0},
                     {"IDC_BUTTON_FILE_FASTFORWARD", kIdFastForward, 1},
                     {"IDC_BUTTON_FILE_PREVFRAME", kIdPrevFrame, 1},
                     {"IDC_BUTTON_FILE_NEXTFRAME", kIdNextFrame, 1},
                     {"IDC_BUTTON_FILE_VOL", kIdVolume, 1},
                     {"IDC_BUTTON_FILE_CORVANE_MARK", kIdMark, 0},
                     {"IDC_BUTTON_FILE_ADD", kIdAdd, 0},
                     {"IDC_BUTTON_FILE_DELETE", kIdDelete, 0},
                     {"IDC_BUTTON_FILE_UP", kIdUp, 1},
                     {"IDC_BUTTON_FILE_DOWN", kIdDown, 1},
                     {"IDC_BUTTON_FILE_CONVERT_START", kIdStart, 0},
                     {"IDC_BUTTON_FILE_CONVERT_ABORT", kIdAbort, 0}};
    for (int i = 0; i < 14; ++i) {
        std::snprintf(buttons_[i].name, sizeof buttons_[i].name, "%s", buttons[i].name);
        buttons_[i].id = buttons[i].id;
        buttons_[i].repeat = buttons[i].repeat;
    }
    const struct {
        const char* name;
        UINT id;
    } statics[3] = {{"IDC_STATIC_BATCH_LIST", kIdList},
                    {"IDC_STATIC_BATCH_SPEED", kIdSpeed},
                    {"IDC_STATIC_FINISH_RATE", kIdFinishRate}};
    for (int i = 0; i < 3; ++i) {
        std::snprintf(statics_[i].name, sizeof statics_[i].name, "%s", statics[i].name);
        statics_[i].id = statics[i].id;
    }
    std::snprintf(slider_[0].name, sizeof slider_[0].name, "%s", "IDC_DISPLAY_SELECTSLIDER");
    slider_[0].id = kIdSlider;
    std::snprintf(timeEdit_[0].name, sizeof timeEdit_[0].name, "%s", "IDC_DISPLAY_SPINTIMEEDITDURATION");
    timeEdit_[0].id = kIdTimeEdit;
}

CFileConvertPage::~CFileConvertPage() {
    delete profile_;
}

BOOL CFileConvertPage::Create(const RECT& rect, UINT id, CWnd* parent) {
    if (!CEncBasePage::Create(&rect, id, parent)) return FALSE;
    progress_ = new CProgressDialog(parent, "");
    progress_->ShowWindow(SW_HIDE);
    CoInitialize(nullptr);
    if ((!timeline_ || !control_) && FAILED(CreateFileEngine(&timeline_, &control_)))
        timeline_ = nullptr, control_ = nullptr;
    InitEngine();
    CreateControls();
    return TRUE;
}

void CFileConvertPage::InitEngine() {
    // Without an engine the page still lists files; every engine call below is skipped.
    if (!timeline_ || !control_) return;
    timeline_->EnableUpdates(FALSE);
    timeline_->RemoveClips(1, -1);
    timeline_->RemoveClips(2, -1);
    control_->SetFrameRate(GetTVFormat() == 0 ? 2500 : 3000);
    CRect screen;
    if (SkinStaticNode* node = CSkinLayout::FindStatic(kView, "LAYOUT1", "ORIGIONSCREEN"))
        screen = CRect(node->left, node->top, node->left + node->width, node->top + node->height);
    control_->SetPreviewWindow(m_hWnd, screen.left, screen.top, screen.right, screen.bottom);
    control_->SetNotifyWindow(m_hWnd);
    control_->Prepare(0, 0, 0, 0, 0);
    control_->EnablePreview(FALSE);
    timeline_->EnableUpdates(TRUE);
}

void CFileConvertPage::CreateControls() {
    CreateSkinButtons(this, kView, buttons_, 14, 1);
    CreateSkinStatics(this, kView, statics_, 3, 1);
    SetVolumeButton(dynamic_cast<CGButton*>(Control(kIdVolume)));
    if (auto* caption = dynamic_cast<CGStatic*>(Control(kIdList)))
        caption->SetText(AfxLoadString(IDS_BATCH_LIST_CAPTION));
    if (auto* speed = dynamic_cast<CGStatic*>(Control(kIdSpeed))) speed->SetText("");
    rate_ = 1.0f;
    SetSpeedText();
    CreateSkinSelectSliders(this, kView, slider_, 1);
    if (CGSelectSlider* slider = Slider()) {
        slider->SetRegionCount(0);
        slider->ShowThumb(FALSE);
        slider->EnableWindow(TRUE);
    }
    CreateSkinTimeCodeEdits(this, kView, timeEdit_, 1);
    if (CGTimeCodeEdit* edit = TimeEdit()) edit->SetStandardValue(IsNtscTvFormat(0));
    CRect room;
    if (SkinStaticNode* node = CSkinLayout::FindStatic("BATCH_LIST", "LAYOUT1", "ROOM"))
        room = CRect(node->left, node->top, node->left + node->width, node->top + node->height);
    list_ = new CFileBatchList;
    if (!list_->CreateIn(room, this)) {
        delete list_;
        list_ = nullptr;
    }
    EnableControlsByState();
}

CWnd* CFileConvertPage::Control(UINT id) const {
    for (const auto& row : buttons_)
        if (row.id == id) return row.control;
    for (const auto& row : statics_)
        if (row.id == id) return row.control;
    if (id == kIdSlider) return slider_[0].control;
    if (id == kIdTimeEdit) return timeEdit_[0].control;
    return nullptr;
}

CGSelectSlider* CFileConvertPage::Slider() const {
    return dynamic_cast<CGSelectSlider*>(slider_[0].control);
}

CGTimeCodeEdit* CFileConvertPage::TimeEdit() const {
    return dynamic_cast<CGTimeCodeEdit*>(timeEdit_[0].control);
}

void CFileConvertPage::ShowControl(UINT id, bool show) {
    if (CWnd* control = Control(id); control && control->m_hWnd) control->ShowWindow(show ? SW_SHOW : SW_HIDE);
}

void CFileConvertPage::EnableControl(UINT id, bool enable) {
    if (auto* button = dynamic_cast<CGButtonBase*>(Control(id))) button->Enable(enable);
}

bool CFileConvertPage::ControlEnabled(UINT id) const {
    auto* button = dynamic_cast<CGButtonBase*>(Control(id));
    return button && button->IsEnabled();
}

void CFileConvertPage::SetProfile(const profiles::ProfileRecord& record) {
    *profile_ = record;
}

void CFileConvertPage::ResetEngine() {
    if (control_) control_->Prepare(0, 0, 0, 0, 0);
}

void CFileConvertPage::StopEngine() {
    OnStop();
    if (control_) control_->Close();
}

void CFileConvertPage::EnableControlsByState() {
    const int n = list_ ? list_->Count() : 0;
    const int selected = list_ ? list_->GetSelectedCount() : 0;
    const bool one = selected == 1;
    const bool converting = state_ == kConverting;
    if (control_) control_->EnablePreview(one ? TRUE : FALSE);
    if (CGTimeCodeEdit* edit = TimeEdit()) {
        if (!one) edit->SetText(kNoTime);
        bool readOnly = !one || state_ == kPlaying || state_ == kFastForward;
        if (one && state_ == kConverting) readOnly = true;
        if (one && state_ == kFinished) readOnly = false;
        edit->SetReadOnly(readOnly ? TRUE : FALSE);
    }
    if (CGSelectSlider* slider = Slider()) slider->EnableWindow(converting ? FALSE : TRUE);
    EnableControl(kIdVolume, true);
    ShowMute();
    EnableControl(kIdPlay, one && !converting);
    ShowControl(kIdPlay, state_ != kPlaying);
    ShowControl(kIdPause, state_ == kPlaying);
    for (UINT id : {kIdStop, kIdFastForward, kIdPrevFrame, kIdNextFrame})
        EnableControl(id, one && !converting);
    EnableControl(kIdAdd, !converting);
    EnableControl(kIdDelete, n >= 1 && !converting);
    int first = -1, last = -1;
    for (int i = 0; list_ && i < n; ++i)
        if (list_->IsSelected(i)) {
            if (first < 0) first = i;
            last = i;
        }
    const bool movable = n >= 2 && !converting && selected > 0 && selected < n;
    EnableControl(kIdUp, movable && first != 0);
    EnableControl(kIdDown, movable && last != n - 1);
    EnableControl(kIdStart, n > 0);
    ShowControl(kIdStart, !converting);
    ShowControl(kIdAbort, converting);
    ShowControl(kIdFinishRate, converting);
}

void CFileConvertPage::UpdateControls() {
    if (current_ && control_) control_->Pause();
    current_ = nullptr;
    if (list_ && list_->GetSelectedCount() == 1) {
        current_ = list_->Entry(list_->GetNextSelected(-1, nullptr));
        if (current_ && control_) control_->SetRange(current_->timelineStart, current_->timelineEnd, 0);
        if (current_) {
            if (CGSelectSlider* slider = Slider()) {
                slider->EnableWindow(TRUE);
                slider->ShowThumb(TRUE);
                slider->SetRange64(current_->timelineStart, current_->timelineEnd, TRUE);
            }
            if (CGTimeCodeEdit* edit = TimeEdit())
                edit->SetMaximum(FormatTimeCode(current_->timelineEnd - current_->timelineStart, 0));
            ShowPosition(current_->timelineStart);
        }
        state_ = kReady;
    }
    CGSelectSlider* slider = Slider();
    if (!current_ && slider) {
        slider->ShowThumb(FALSE);
        slider->EnableWindow(FALSE);
    }
    EnableControlsByState();
}

void CFileConvertPage::CloseEntryHandles() {
    for (int i = 0; list_ && i < list_->Count(); ++i)
        if (const FileBatchEntry* entry = list_->Entry(i)) {
            CFileHandleMap::Close(entry->path);
            CFileHandleMap::Close(entry->path);
        }
}

void CFileConvertPage::PausePreview() {
    if (state_ == kPlaying || state_ == kFastForward) OnPause();
}

void CFileConvertPage::Refresh() {
    PausePreview();
    CloseEntryHandles();
    if (list_) list_->DeleteAllItems();
    current_ = nullptr;
    RebuildTimeline(true, -1);
    listChanged_ = 0;
}

void CFileConvertPage::LoadProjectEntries(const CPtrList& entries) {
    Refresh();
    CWnd* main = GetParent();
    if (main) main->EnableWindow(FALSE);
    progress_->SetPos(0);
    progress_->ClearCancel();
    progress_->SetCaptionFormat(AfxLoadString(IDS_ADDING_FILES));
    progress_->SetRange(0, 100, 1);
    progress_->ShowWindow(SW_SHOW);
    const int n = static_cast<int>(entries.GetCount());
    int k = 0;
    for (POSITION pos = entries.GetHeadPosition(); pos && list_;) {
        const auto* record = static_cast<const FileBatchEntry*>(entries.GetNext(pos));
        ++k;
        if (!record) continue;
        progress_->SetTitle(record->path);
        progress_->SetPos(100 * k / std::max(n, 1));
        progress_->PumpMessages(FALSE);
        if (progress_->IsCancelled()) break;
        auto* entry = new FileBatchEntry(*record);
        list_->AddEntry(entry, true);
        list_->Resort();
    }
    RebuildTimeline(true, -1);
    progress_->ShowWindow(SW_HIDE);
    UpdateControls();
    if (main) main->EnableWindow(TRUE);
}

void CFileConvertPage::FillProjectEntries(CPtrList& entries) {
    for (int i = 0; list_ && i < list_->Count(); ++i)
        if (const FileBatchEntry* entry = list_->Entry(i)) entries.AddTail(new FileBatchEntry(*entry));
}

int64_t CFileConvertPage::GetTotalDuration() {
    int64_t total = 0;
    for (int i = 0; list_ && i < list_->Count(); ++i)
        if (const FileBatchEntry* entry = list_->Entry(i)) total += entry->outPoint - entry->inPoint;
    return total;
}

int CFileConvertPage::IsCommandEnabled(UINT code) {
    switch (code) {
        case 4301:
            return ControlEnabled(kIdPlay);
        case 4302:
            return ControlEnabled(kIdStop);
        case 4303:
            return ControlEnabled(kIdFastForward);
        default:
            return 1;
    }
}

int CFileConvertPage::IsPrimaryButtonEnabled() {
    return ControlEnabled(kIdStart) ? 1 : 0;
}

LRESULT CFileConvertPage::OnTransportCommand(UINT code) {
    const auto send = [this](UINT id) { SendMessage(WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); };
    switch (code) {
        case 4301:
            send(state_ != kPaused && state_ != kReady ? kIdPause : kIdPlay);
            break;
        case 4302:
            send(kIdStop);
            break;
        case 4303:
            send(kIdFastForward);
            break;
        case 4306:
            send(kIdPrevFrame);
            break;
        case 4307:
            send(kIdNextFrame);
            break;
        case 4308:
            ToggleMute();
            break;
        case 4309:
            OnVolume();
            break;
        default:
            break;
    }
    return 1;
}

LRESULT CFileConvertPage::OnAddCommand(UINT code) {
    if (code == 4204) SendMessage(WM_COMMAND, MAKEWPARAM(kIdAdd, BN_CLICKED), 0);
    if (code == 4205) OnAddFolder();
    return 1;
}

void CFileConvertPage::OnAddFolder() {
    if (state_ == kConverting) return;
    PausePreview();
    const CString exportDir = GetExportDir();
    if (addFolder_.IsEmpty() || !(addFolderExport_ == exportDir)) addFolder_ = exportDir;
    addFolderExport_ = exportDir;
    CInputFolderBrowser browser(this, addFolder_);
    if (browser.Browse() != IDOK || !IsDirectory(browser.GetFolder())) return;
    std::string extensions(BuildOpenFileFilterText(true).c_str());
    for (char& c : extensions)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    CStringArray files;
    WalkFolderRecursive(browser.GetFolder(), files, extensions.c_str(), GetIncludeSubfolders());
    std::vector<std::string> paths;
    for (int i = 0; i < files.GetSize(); ++i)
        paths.emplace_back(files[i].c_str());
    AddFiles(paths);
}

void CFileConvertPage::OnListMenu() {
    if (!list_ || list_->GetSelectedCount() == 0) return;
    if (state_ == kPlaying) OnStop();
    HMENU menu = LoadMenuA(AfxGetResourceHandle(), MAKEINTRESOURCEA(IDR_BATCH_LIST_MENU));
    if (!menu) return;
    HMENU popup = GetSubMenu(menu, 0);
    if (list_->GetSelectedCount() > 1) {
        for (UINT id : {4416u, 4417u, 4418u, 4419u, 4421u})
            DeleteMenu(popup, id, MF_BYCOMMAND);
        DeleteMenu(popup, 0, MF_BYPOSITION);  // the separator left at the top
    }
    POINT at;
    GetCursorPos(&at);
    TrackPopupMenu(popup, TPM_LEFTALIGN | TPM_RIGHTBUTTON, at.x, at.y, 0, m_hWnd, nullptr);
    DestroyMenu(menu);
}

void CFileConvertPage::OnListMenuCommand(UINT id) {
    if (!list_) return;
    const int first = list_->GetNextSelected(-1, nullptr);
    const FileBatchEntry* entry = list_->Entry(first);
    if (!entry || (id != 4420 && list_->GetSelectedCount() != 1)) return;
    if (GetFileAttributesA(entry->path) == INVALID_FILE_ATTRIBUTES) return;
    if (id == 4416) {
        CVideoViewerDlg::ShowModal(entry->path, entry->inPoint, entry->outPoint, entry->media.width,
                                   entry->media.height, this);
        return;
    }
    if (id == 4421) {
        CExportRoom::ShowFileProperties(entry->path, entry->media, this);
        return;
    }
    const UINT button[] = {0, kIdUp, kIdDown, kIdAdd, kIdDelete, 0};
    if (const UINT target = button[id - 4416]) SendMessage(WM_COMMAND, MAKEWPARAM(target, BN_CLICKED), 0);
}

LRESULT CFileConvertPage::OnConvertCommand(UINT code) {
    if (code == 4206) SendMessage(WM_COMMAND, MAKEWPARAM(kIdStart, BN_CLICKED), 0);
    if (code == 4207) SendMessage(WM_COMMAND, MAKEWPARAM(kIdAbort, BN_CLICKED), 0);
    return 1;
}

LRESULT CFileConvertPage::OnListCommand(UINT code) {
    if (code >= 4310 && code <= 4313) SendMessage(WM_COMMAND, MAKEWPARAM(kIdAdd + (code - 4310), BN_CLICKED), 0);
    return 1;
}

void CFileConvertPage::OnDropFiles(HDROP drop) {
    std::vector<std::string> paths;
    const UINT count = DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        char path[MAX_PATH] = {};
        if (DragQueryFileA(drop, i, path, MAX_PATH)) paths.emplace_back(path);
    }
    AddFiles(paths);
}

void CFileConvertPage::GetListRect(RECT* rect) const {
    if (rect && list_ && list_->m_hWnd) list_->GetWindowRect(rect);
}

void CFileConvertPage::TitleChanged() {
    listChanged_ = 1;
    // The main page refreshes its title text from the list-changed state.
    if (CWnd* main = GetParent()) main->SendMessage(WM_ROOMLIST_MODECHANGED, GetDlgCtrlID(), 0);
}

// ---- transport ----

void CFileConvertPage::SetSpeedText() {
    if (rate_ != 1.0f) {
        char text[16];
        std::snprintf(text, sizeof text, "%dX", static_cast<int>(rate_));
        if (auto* speed = dynamic_cast<CGStatic*>(Control(kIdSpeed))) speed->SetText(text);
        ShowControl(kIdSpeed, true);
    } else {
        speedTicks_ = 0;
        ShowControl(kIdSpeed, false);
    }
}

void CFileConvertPage::OnPlay() {
    if (!current_) return;
    if (control_) control_->Play(1.0f);
    state_ = kPlaying;
    rate_ = 1.0f;
    SetSpeedText();
    playTimer_ = SetTimer(kPlayTimer, 100);
    EnableControlsByState();
}

void CFileConvertPage::EndPlay(int state) {
    state_ = state;
    KillTimer(kPlayTimer);
    playTimer_ = 0;
    rate_ = 1.0f;
    SetSpeedText();
    EnableControlsByState();
}

void CFileConvertPage::OnPause() {
    if (control_) control_->Pause();
    EndPlay(kPaused);
}

void CFileConvertPage::OnStop() {
    if (!current_) return;
    if (control_) {
        control_->Pause();
        control_->SetRange(current_->timelineStart, current_->timelineEnd, 0);
    }
    ShowPosition(current_->timelineStart);
    EndPlay(kReady);
}

int64_t CFileConvertPage::SliderPosition() const {
    int64_t position = current_ ? current_->timelineStart : 0;
    if (CGSelectSlider* slider = Slider()) slider->GetPos(&position);
    return position;
}

void CFileConvertPage::ShowPosition(int64_t position) {
    if (!current_) return;
    if (CGSelectSlider* slider = Slider()) slider->SetPos(position, FALSE);
    if (CGTimeCodeEdit* edit = TimeEdit()) edit->SetText(FormatTimeCode(position - current_->timelineStart, 0));
}

void CFileConvertPage::SetPreviewFrom(int64_t position, DWORD flag) {
    if (!current_ || !control_) return;
    int64_t start = position;
    if (start >= current_->timelineEnd) start = std::max(current_->timelineStart, current_->timelineEnd - kEndGuard);
    control_->SetRange(start, current_->timelineEnd, flag);
}

void CFileConvertPage::OnFrameStep(bool forward) {
    if (!current_) return;
    if (state_ == kPlaying) OnPause();
    // A held button's commands step further the longer it is held.
    const auto* button = dynamic_cast<const CGButton*>(Control(forward ? kIdNextFrame : kIdPrevFrame));
    const int64_t step = FramesToTime(1) * (button ? button->RepeatMultiplier() : 1);
    const int64_t at = SliderPosition();
    int64_t position;
    if (forward)
        position = at + step < current_->timelineEnd ? at + step : current_->timelineEnd;
    else
        position = at - step > current_->timelineStart ? at - step : current_->timelineStart;
    ShowPosition(position);
    SetPreviewFrom(position, 1);
    rate_ = 1.0f;
    SetSpeedText();
}

void CFileConvertPage::OnSliderMoved() {
    if (!current_) return;
    const int64_t position = SliderPosition();
    ShowPosition(position);
    SetPreviewFrom(position, 0);
}

void CFileConvertPage::OnTimeTyped() {
    CGTimeCodeEdit* edit = TimeEdit();
    if (!current_ || !edit) return;
    OnPause();
    TimeCode tc;
    tc.hours = static_cast<uint8_t>(edit->GetHours());
    tc.minutes = static_cast<uint8_t>(edit->GetMinutes());
    tc.seconds = static_cast<uint8_t>(edit->GetSeconds());
    tc.frames = static_cast<uint8_t>(edit->GetFrames());
    int64_t time = 0;
    TimeCodeToTime(tc, &time);
    // The edit's largest time is the clip's length; a typed time past it still ends at the end.
    const int64_t position = std::min(current_->timelineStart + time, current_->timelineEnd);
    ShowPosition(position);
    SetPreviewFrom(position, 1);
}

void CFileConvertPage::OnPlayTimer() {
    LONGLONG position = 0;
    if (current_ && control_ && control_->GetPosition(&position) == S_OK) ShowPosition(position);
    if (speedTicks_ * 100 < 3000) {
        if (rate_ != 1.0f) ShowControl(kIdSpeed, true);
        ++speedTicks_;
    } else {
        ShowControl(kIdSpeed, false);
    }
}

void CFileConvertPage::OnFastForward() {
    if (!current_) return;
    static const float kRates[] = {1.0f, 2.0f, 4.0f, 8.0f, 16.0f};
    float next = 1.0f;
    for (int i = 0; i < 5; ++i)
        if (kRates[i] == rate_) next = kRates[(i + 1) % 5];
    state_ = kFastForward;
    rate_ = next;
    if (control_) control_->Play(rate_);
    speedTicks_ = 0;
    if (!playTimer_) playTimer_ = SetTimer(kPlayTimer, 100);
    SetSpeedText();
    EnableControlsByState();
}

// ---- list edits ----

void CFileConvertPage::OnAdd() {
    PausePreview();
    CString filter;
    filter.Format("%s (%s)|%s|", AfxLoadString(IDS_SUPPORTED_FILES).c_str(), BuildOpenFileFilterText(true).c_str(),
                  BuildOpenFileFilterText(true).c_str());
    const CString exportDir = GetExportDir();
    if (addFolder_.IsEmpty() || !(addFolderExport_ == exportDir)) addFolder_ = exportDir;
    addFolderExport_ = exportDir;
    std::vector<char> names(64 * 1024, 0);
    std::string winFilter(filter.c_str());
    for (char& c : winFilter)
        if (c == '|') c = '\0';
    OPENFILENAMEA ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = m_hWnd;
    ofn.lpstrFilter = winFilter.c_str();
    ofn.lpstrFile = names.data();
    ofn.nMaxFile = static_cast<DWORD>(names.size());
    ofn.lpstrInitialDir = addFolder_.c_str();
    ofn.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_ALLOWMULTISELECT | OFN_HIDEREADONLY;
    if (!GetOpenFileNameA(&ofn)) return;
    TitleChanged();
    std::vector<std::string> paths;
    const std::string first(names.data());
    if (names[first.size() + 1] == '\0') {
        paths.push_back(first);
        addFolder_ = first.substr(0, first.find_last_of('\\') + 1).c_str();
    } else {
        addFolder_ = first.c_str();
        for (const char* p = names.data() + first.size() + 1; *p; p += std::strlen(p) + 1)
            paths.push_back(first + "\\" + p);
    }
    AddFiles(paths);
}

void CFileConvertPage::OnDelete() {
    if (!list_ || list_->GetSelectedCount() == 0) return;
    TitleChanged();
    PausePreview();
    CloseEntryHandles();
    list_->DeleteSelected();
    current_ = nullptr;
    RebuildTimeline(true, -1);
    EnableControlsByState();
    list_->Resort();
    NotifyParent(EPN_FILE_REFRESH2, 0);
}

void CFileConvertPage::OnUp() {
    if (!list_ || list_->GetSelectedCount() == 0) return;
    TitleChanged();
    list_->MoveSelection(list_->GetNextSelected(-1, nullptr) - 1);
    UpdateControls();
}

void CFileConvertPage::OnDown() {
    if (!list_ || list_->GetSelectedCount() == 0 || list_->GetSelectedCount() == list_->Count()) return;
    int last = -1;
    for (int i = 0; i < list_->Count(); ++i)
        if (list_->IsSelected(i)) last = i;
    TitleChanged();
    list_->MoveSelection(last + 1);
    UpdateControls();
}

// ---- the add-files worker ----

void CFileConvertPage::AddFiles(const std::vector<std::string>& paths) {
    if (worker_ || !list_) return;
    pending_ = paths;
    list_->ClearSelection();
    UpdateControls();
    progress_->SetCaptionFormat(AfxLoadString(IDS_ADDING_FILES));
    progress_->SetPos(0);
    progress_->ClearCancel();
    if (CWnd* main = GetParent()) main->EnableWindow(FALSE);
    stopWorker_ = false;
    worker_ = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &CFileConvertPage::WorkerMain, this, 0, nullptr));
    if (!worker_) OnFilesAdded();
}

unsigned __stdcall CFileConvertPage::WorkerMain(void* argument) {
    auto* page = static_cast<CFileConvertPage*>(argument);
    if (!page) return static_cast<unsigned>(E_FAIL);
    const HWND window = page->m_hWnd;
    const int n = static_cast<int>(page->pending_.size());
    CoInitialize(nullptr);
    for (int i = 0; i < n && !page->stopWorker_; ++i) {
        const std::string& path = page->pending_[i];
        WorkerProgress step{i, n, path.c_str()};
        if (!::SendMessageA(window, kWorkerStep, kStepProgress, reinterpret_cast<LPARAM>(&step))) break;
        if (!filepage::IsSupportedInputFile(path.c_str())) continue;
        if (!::SendMessageA(window, kWorkerStep, kStepAskDuplicate, reinterpret_cast<LPARAM>(path.c_str()))) continue;
        // The probe runs here, off the user-interface thread; the list takes the entries there.
        std::vector<FileBatchEntry*> made;
        if (filepage::IsSegmentedFile(path.c_str()))
            page->list_->ProbeSegments(path.c_str(), page->progress_, &made);
        else if (FileBatchEntry* entry = CFileBatchList::ProbeFile(path.c_str()))
            made.push_back(entry);
        for (FileBatchEntry* entry : made)
            if (!::SendMessageA(window, kWorkerStep, kStepAdd, reinterpret_cast<LPARAM>(entry))) delete entry;
        Sleep(10);
    }
    CoUninitialize();
    ::SendMessageA(window, WM_FILES_ADDED, 0, 0);
    return 0;
}

LRESULT CFileConvertPage::OnWorkerStep(WPARAM wParam, LPARAM lParam) {
    if (stopWorker_ || !list_) return 0;
    switch (wParam) {
        case kStepProgress: {
            const auto* step = reinterpret_cast<const WorkerProgress*>(lParam);
            if (list_->Count() >= list_->EntryLimit()) {
                const bool nt = list_->EntryLimit() == 2500;
                CString text;
                text.FormatId(nt ? IDS_LIST_FULL_NT : IDS_LIST_FULL_9X, list_->EntryLimit(), nt ? 2500 : 800);
                Ask(nt ? IDS_LIST_FULL_NT : IDS_LIST_FULL_9X, MB_OK, m_hWnd, text);
                return 0;
            }
            progress_->SetCaptionFormat(AfxLoadString(IDS_ADDING_FILES));
            progress_->ShowWindow(SW_SHOW);
            progress_->SetTitle(step->path);
            progress_->SetRange(0, 100, 1);
            progress_->SetPos(100 * (step->index + 1) / std::max(step->count, 1));
            progress_->PumpMessages(FALSE);
            return progress_->IsCancelled() ? 0 : 1;
        }
        case kStepAskDuplicate: {
            const char* path = reinterpret_cast<const char*>(lParam);
            if (list_->FindEntryByPath(path) < 0) return 1;
            CString text;
            text.FormatId(IDS_ALREADY_LISTED, path);
            return Ask(IDS_ALREADY_LISTED, MB_YESNO | MB_DEFBUTTON2 | MB_ICONQUESTION, m_hWnd, text) == IDYES ? 1 : 0;
        }
        case kStepAdd:
            // A disc file's segments come one by one; those past the limit are not taken.
            if (list_->Count() >= list_->EntryLimit()) return 0;
            list_->AddEntry(reinterpret_cast<FileBatchEntry*>(lParam));
            list_->Resort();
            return 1;
        default:
            return 0;
    }
}

void CFileConvertPage::OnFilesAdded() {
    if (worker_) {
        // The worker's last act is this send; it ends right after.
        WaitForSingleObject(worker_, 5000);
        CloseHandle(worker_);
        worker_ = nullptr;
    }
    progress_->ShowWindow(SW_HIDE);
    EnableControlsByState();
    if (CWnd* main = GetParent()) main->EnableWindow(TRUE);
    RebuildTimeline(true, -1);
    NotifyParent(EPN_FILE_REFRESH, 0);
}

void CFileConvertPage::WaitForWorker() {
    if (!worker_) return;
    stopWorker_ = true;
    // The worker may be inside a send to this thread: serve sent messages while waiting.
    while (MsgWaitForMultipleObjects(1, &worker_, FALSE, INFINITE, QS_SENDMESSAGE) == WAIT_OBJECT_0 + 1) {
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    CloseHandle(worker_);
    worker_ = nullptr;
}

// ---- the conversion run ----

void CFileConvertPage::RebuildTimeline(bool all, int index) {
    if (timeline_ && control_ && list_) {
        timeline_->Reset();
        CloseEntryHandles();
        timeline_->EnableUpdates(FALSE);
        int n = timeline_->GetClipCount(0);
        int64_t p = 0;
        std::vector<BYTE> clip(fileengine::kClipRecordBytes, 0);
        if (n > 0 && SUCCEEDED(timeline_->GetClip(0, n - 1, clip.data())))
            std::memcpy(&p, clip.data() + fileengine::kClipTimelineEnd, 8);
        for (int i = 0; i < list_->Count(); ++i) {
            if (!all && i != index) continue;
            FileBatchEntry* entry = list_->Entry(i);
            if (!entry || entry->media.mediaKind != engines::kClipVideo) continue;
            entry->timelineStart = p;
            entry->timelineEnd = p + entry->media.duration;
            std::fill(clip.begin(), clip.end(), 0);
            const uint32_t one = 1, two = 2;
            WriteClip(clip, fileengine::kClipTimelineStart, &entry->timelineStart, 8);
            WriteClip(clip, fileengine::kClipTimelineEnd, &entry->timelineEnd, 8);
            WriteClip(clip, fileengine::kClipKind, &one, 4);
            WriteClip(clip, fileengine::kClipFlag, &one, 4);
            WriteClip(clip, fileengine::kClipPath, entry->path, sizeof entry->path);
            WriteClip(clip, fileengine::kClipInOut, &entry->inPoint, 8);
            WriteClip(clip, fileengine::kClipInOut + 8, &entry->outPoint, 8);
            // A disc file's segment carries its own place in the file, whatever class the
            // player gave it.
            const bool ownRange = entry->media.formatClass == 11 || entry->media.formatClass == 12 ||
                                  filepage::IsSegmentedFile(entry->path);
            const int64_t rangeStart = ownRange ? entry->inPoint : 0;
            const int64_t rangeEnd = ownRange ? entry->outPoint : entry->media.duration;
            WriteClip(clip, fileengine::kClipSourceRange, &rangeStart, 8);
            WriteClip(clip, fileengine::kClipSourceRange + 8, &rangeEnd, 8);
            WriteClip(clip, fileengine::kClipMedia, &entry->media, sizeof entry->media);
            CFileHandleMap::Open(entry->path);
            timeline_->AddClip(0, n, clip.data());
            // The sound clip: the same record with its own kind, range and rate, and the
            // media block marked as sound.
            WriteClip(clip, fileengine::kClipKind, &two, 4);
            const int64_t zero = 0;
            WriteClip(clip, fileengine::kClipInOut, &zero, 8);
            WriteClip(clip, fileengine::kClipInOut + 8, &zero, 8);
            WriteClip(clip, fileengine::kClipSourceRange, &zero, 8);
            WriteClip(clip, fileengine::kClipSourceRange + 8, &zero, 8);
            WriteClip(clip, fileengine::kClipAudioRange, &rangeStart, 8);
            WriteClip(clip, fileengine::kClipAudioRange + 8, &rangeEnd, 8);
            const float rate = 1.0f;
            WriteClip(clip, fileengine::kClipRate, &rate, 4);
            engines::ClipInfo audio = entry->media;
            if (audio.mediaKind == 1) audio.formatClass = audio.value25;
            audio.mediaKind = 3;
            WriteClip(clip, fileengine::kClipMedia, &audio, sizeof audio);
            timeline_->AddClip(1, n, clip.data());
            timeline_->SetClipRange(1, n, 0, 0, 1.0f);
            timeline_->SetClipRange(1, n, 1, entry->timelineEnd - entry->timelineStart, 1.0f);
            p = entry->timelineEnd;
            ++n;
        }
        timeline_->EnableUpdates(TRUE);
    }
    UpdateControls();
}

CString CFileConvertPage::OutputStem(const CString& name) const {
    CString stem;
    stem.Format("%s%s%s", GetConvertDir().c_str(), name.c_str(),
                filepage::OutputExtension(profile_->head.videoFormatClass));
    return stem;
}

void CFileConvertPage::RestorePower() {
    SetScreenSaverActive(TRUE);
    KeepSystemAwake(ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED);
    KeepSystemAwake(ES_CONTINUOUS);
    RestorePowerScheme();
}

void CFileConvertPage::OnConvertStart() {
    if (!timeline_ || !control_ || !list_ || list_->Count() == 0) return;
    SetScreenSaverActive(FALSE);
    KeepSystemAwake(ES_CONTINUOUS | ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED);
    DisablePowerSaving();
    progressTimer_ = SetTimer(kProgressTimer, 100);
    list_->ClearSelection();
    aborted_ = 0;
    const CString stem = OutputStem(GetName());
    const CString unique = MakeUniqueFileName(stem);
    bool ok = !unique.IsEmpty();
    if (!ok) {
        CString text;
        text.FormatId(IDS_NO_FREE_NAME, stem.c_str());
        Ask(IDS_NO_FREE_NAME, MB_OK | MB_ICONEXCLAMATION, m_hWnd, text);
    }
    const bool merged = GetMerge() != 0;
    if (ok) {
        std::snprintf(profile_->head.outputFileName, sizeof profile_->head.outputFileName, "%s", unique.c_str());
        outputName_ = unique;
        if (profile_->head.videoFormatClass == profiles::kClassH264 && !merged && keepSize_) {
            if (const FileBatchEntry* entry = list_->Entry(currentIndex_))
                filepage::KeepSizeFrame(static_cast<int32_t>(entry->media.width),
                                        static_cast<int32_t>(entry->media.height), &profile_->block.h264.width,
                                        &profile_->block.h264.height);
        }
        ok = filepage::HandOverProfile(*profile_, [this](const profiles::ProfileRecord& record) {
            return SUCCEEDED(control_->SetProfile(reinterpret_cast<const BYTE*>(&record)));
        });
    }
    if (ok) {
        control_->SetPreviewDuringConvert(GetPreviewVideo() ? TRUE : FALSE);
        if (!merged) {
            if (currentIndex_ > 0) list_->SetMark(currentIndex_ - 1, 100);
            RebuildTimeline(false, currentIndex_);
            list_->SelectOnly(currentIndex_);
        } else {
            RebuildTimeline(true, -1);
        }
        ok = SUCCEEDED(control_->StartConvert(0, 0, 0, 0, 0));
    }
    if (!ok) {
        KillTimer(kProgressTimer);
        progressTimer_ = 0;
        RestorePower();
        return;
    }
    NotifyParent(EPN_FILE_BUSY, 0);
    state_ = kConverting;
    EnableControlsByState();
}

void CFileConvertPage::OnProgressTimer() {
    float fraction = 0;
    if (!control_ || control_->GetProgress(&fraction) != S_OK) return;
    char text[16];
    std::snprintf(text, sizeof text, "%d%%", static_cast<int>(fraction * 100));
    if (auto* rate = dynamic_cast<CGStatic*>(Control(kIdFinishRate))) rate->SetText(text);
    if (CGSelectSlider* slider = Slider()) {
        slider->ShowThumb(TRUE);
        slider->EnableWindow(FALSE);
        slider->SetRange64(0, 99, FALSE);
        slider->SetPos(static_cast<int64_t>(fraction * 100), FALSE);
    }
    LONGLONG total = 0;
    control_->GetDuration(&total);
    if (CGTimeCodeEdit* edit = TimeEdit())
        edit->SetText(FormatTimeCode(static_cast<int64_t>(static_cast<double>(total) * fraction), 0));
}

CString CFileConvertPage::FinalOutputName() {
    const CString stem = OutputStem(GetConvertPrefix());
    const CString unique = MakeUniqueFileName(stem);
    if (unique.IsEmpty()) {
        CString text;
        text.FormatId(IDS_NO_FREE_NAME, stem.c_str());
        Ask(IDS_NO_FREE_NAME, MB_OK | MB_ICONEXCLAMATION, m_hWnd, text);
    }
    return unique;
}

void CFileConvertPage::OnConvertDone() {
    if (!aborted_ && GetFileAttributesA(outputName_) != INVALID_FILE_ATTRIBUTES) {
        // The output is written under a working name and then given its final one. A move
        // that fails leaves the file where it is, and the export room is told that path.
        const CString finished = outputName_;
        const CString final = FinalOutputName();
        CString ready = finished;
        if (!final.IsEmpty() && !(final == finished)) {
            if (MoveFileA(finished, final)) {
                ready = final;
            } else {
                CString text;
                text.FormatId(IDS_OUTPUT_NOT_RENAMED, final.c_str(), finished.c_str());
                Ask(IDS_OUTPUT_NOT_RENAMED, MB_OK | MB_ICONEXCLAMATION, m_hWnd, text);
            }
        }
        NotifyParent(EPN_FILE_CLIP_READY, reinterpret_cast<LPARAM>(ready.c_str()));
    }
    control_->Prepare(0, 0, 0, 0, 0);
    NotifyParent(EPN_FILE_IDLE, 0);
    KillTimer(kProgressTimer);
    KillTimer(kPlayTimer);
    progressTimer_ = playTimer_ = 0;
    rate_ = 1.0f;
    SetSpeedText();
    if (GetMerge() == 0) {
        RebuildTimeline(true, -1);
        ++currentIndex_;
        if (currentIndex_ < list_->Count()) {
            OnConvertStart();
            return;
        }
        currentIndex_ = 0;
        list_->ClearSelection();
        state_ = kFinished;
        EnableControlsByState();
        list_->SetAllMarks(-1);
    } else {
        currentIndex_ = 0;
        state_ = kFinished;
        EnableControlsByState();
    }
    RestorePower();
}

void CFileConvertPage::OnConvertAbort() {
    if (state_ != kConverting) return;
    currentIndex_ = list_->Count();
    aborted_ = 1;
    list_->SetAllMarks(-1);
    control_->Abort(1);
    NotifyParent(EPN_FILE_IDLE, 0);
    KillTimer(kProgressTimer);
    progressTimer_ = 0;
    RestorePower();
}

LRESULT CFileConvertPage::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            if (LOWORD(wParam) == kIdTimeEdit && HIWORD(wParam) == EN_KILLFOCUS) {
                OnTimeTyped();
                return 0;
            }
            if (HIWORD(wParam) != BN_CLICKED && HIWORD(wParam) != 0) break;
            switch (LOWORD(wParam)) {
                case kIdPlay:
                    OnPlay();
                    return 0;
                case kIdPause:
                    OnPause();
                    return 0;
                case kIdStop:
                    OnStop();
                    return 0;
                case kIdFastForward:
                    OnFastForward();
                    return 0;
                case kIdPrevFrame:
                case kIdNextFrame:
                    if (state_ != kConverting) OnFrameStep(LOWORD(wParam) == kIdNextFrame);
                    return 0;
                case kIdAdd:
                    if (state_ != kConverting) OnAdd();
                    return 0;
                case kIdDelete:
                    if (state_ != kConverting) OnDelete();
                    return 0;
                case kIdUp:
                    if (state_ != kConverting) OnUp();
                    return 0;
                case kIdDown:
                    if (state_ != kConverting) OnDown();
                    return 0;
                case kIdStart:
                    if (state_ != kConverting) {
                        currentIndex_ = 0;
                        OnConvertStart();
                    }
                    return 0;
                case kIdAbort:
                    OnConvertAbort();
                    return 0;
                case kIdVolume:
                    OnVolume();
                    return 0;
                case kIdMark:
                    OnOpenLink();
                    return 0;
                default:
                    if (LOWORD(wParam) >= 4416 && LOWORD(wParam) <= 4421 && state_ != kConverting) {
                        OnListMenuCommand(LOWORD(wParam));
                        return 0;
                    }
                    break;
            }
            break;
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            if (header && header->code == CFileBatchList::kNotifyContextMenu && list_ &&
                header->hwndFrom == list_->m_hWnd) {
                OnListMenu();
                return 0;
            }
            if (header && header->code == CFileBatchList::kNotifyReordered && list_ &&
                header->hwndFrom == list_->m_hWnd) {
                TitleChanged();
                UpdateControls();
                return 0;
            }
            break;
        }
        case WM_TIMER:
            if (wParam == kProgressTimer) {
                OnProgressTimer();
                return 0;
            }
            if (wParam == kPlayTimer) {
                OnPlayTimer();
                return 0;
            }
            break;
        case WM_HSCROLL:
            if (Slider() && reinterpret_cast<HWND>(lParam) == Slider()->m_hWnd) {
                if (state_ != kConverting) OnSliderMoved();
                return 0;
            }
            break;
        case WM_GTIMEEDIT_ENTER:
            if (state_ != kConverting) OnTimeTyped();
            return 0;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(m_hWnd, &ps);
            CRect client;
            GetClientRect(&client);
            PaintOffScreen(dc, client.Width(), client.Height(), [](HDC memory) {
                PaintSkinViewBackground(memory, kView);
                // The preview's place stays dark while no clip plays in it.
                if (SkinStaticNode* node = CSkinLayout::FindStatic(kView, "LAYOUT1", "ORIGIONSCREEN")) {
                    const RECT screen{node->left, node->top, node->left + node->width, node->top + node->height};
                    FillRect(memory, &screen, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
                }
            });
            EndPaint(m_hWnd, &ps);
            return 0;
        }
        case WM_ROOMLIST_SELCHANGED:
            if (state_ != kConverting) UpdateControls();
            return 0;
        case kWorkerStep:
            return OnWorkerStep(wParam, lParam);
        case WM_FILES_ADDED:
            OnFilesAdded();
            return 0;
        case kPreviewEnded:
            OnStop();
            return 0;
        case kConvertDone:
            OnConvertDone();
            return 0;
        case WM_DESTROY:
            WaitForWorker();
            delete progress_;
            progress_ = nullptr;
            CloseEntryHandles();
            if (timeline_ && control_) ReleaseFileEngine(&timeline_, &control_);
            timeline_ = nullptr;
            control_ = nullptr;
            DestroySkinButtons(buttons_, 14);
            DestroySkinStatics(kView, statics_, 3);
            DestroySkinSelectSliders(kView, slider_, 1);
            DestroySkinTimeCodeEdits(kView, timeEdit_, 1);
            if (list_) {
                list_->DestroyWindow();
                delete list_;
                list_ = nullptr;
            }
            CEncBasePage::OnDestroy();
            break;
        default:
            break;
    }
    return CEncBasePage::WindowProc(message, wParam, lParam);
}
