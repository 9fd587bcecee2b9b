#include "app/profiles/profile_select_dlg.h"

#include <cstring>

#include "app/profiles/h264_profile_sheet.h"
#include "app/profiles/profile_dialog_support.h"
#include "app/profiles/profile_editor_sheet.h"
#include "app/resources/resource_ids.h"
#include "app/services/reg_value.h"
#include "engines/client/compressor_search.h"
#include "app/services/settings_keys.h"
#include "framework/app.h"

namespace profiles {
namespace {

// The store's texts from the resource library.
class LibraryStrings : public ProfileStrings {
public:
    std::string Load(uint32_t id) const override { return LoadText(id); }
};
const LibraryStrings kStrings;

std::vector<std::string> Texts(const std::vector<uint32_t>& ids) {
    std::vector<std::string> texts;
    for (uint32_t id : ids)
        texts.push_back(LoadText(id));
    return texts;
}

int IndexOf(const std::vector<uint32_t>& ids, uint32_t id) {
    for (size_t i = 0; i < ids.size(); ++i) {
        if (ids[i] == id) return static_cast<int>(i);
    }
    return -1;
}

void PrepareFor(ProfileRecord& record, int32_t cls, uint32_t mask) {
    std::memset(&record, 0, sizeof record);
    record.head.videoFormatClass = cls;
    if (IsMpegFormatClass(cls)) AllocMpegParams(record);
    if (cls == kClassH264) AllocH264Params(record);
    record.head.attribute = mask;
}

}  // namespace

CProfileSelectDlg::CProfileSelectDlg(CWnd* parent) : CDialog(IDD_PROFILE_SELECT, parent) {}

CProfileSelectDlg::~CProfileSelectDlg() = default;

void CProfileSelectDlg::SetCurrent(int pageKind, int32_t cls, const char* name, int frameRate) {
    pageKind_ = pageKind;
    class_ = cls;
    name_ = name ? name : "";
    if (frameRate == 1) frameRate_ = kRateNtscValue;
    if (frameRate == 0) frameRate_ = kRatePalValue;
}

BOOL CProfileSelectDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    ShowDlgItem(m_hWnd, IDC_PROFILE_H264, false);
    if (deviceLock_) {
        // Locked to the MV profile of the connected device.
        FillCombo(m_hWnd, IDC_PROFILE_CATEGORY, {LoadText(kCategoryMpeg2)}, 0);
        FillCombo(m_hWnd, IDC_PROFILE_TYPE, {LoadText(kTypeRealTime)}, 0);
        FillCombo(m_hWnd, IDC_PROFILE_RATE, Texts({kRateNtsc, kRatePal}), frameRate_ == kRateNtscValue ? 0 : 1);
        FillCombo(m_hWnd, IDC_PROFILE_NAME, {LoadText(IDS_MV_PROFILE)}, 0);
        SetDlgText(m_hWnd, IDC_PROFILE_DESCRIPTION, LoadText(IDS_MV_DESCRIPTION));
        for (int id : {IDC_PROFILE_CATEGORY, IDC_PROFILE_TYPE, IDC_PROFILE_RATE, IDC_PROFILE_NAME, IDC_PROFILE_NEW,
                       IDC_PROFILE_EDIT, IDC_PROFILE_DELETE})
            EnableDlgItem(m_hWnd, id, false);
        ShowDlgItem(m_hWnd, IDC_PROFILE_CODEC, false);
        return TRUE;
    }
    if (store_ != nullptr) CheckProfileFile();
    model_ = std::make_unique<ProfileSelectModel>(store_, kStrings, pageKind_, divx_);
    model_->Open(class_, name_, frameRate_);
    Refresh();
    return TRUE;
}

void CProfileSelectDlg::CheckProfileFile() {
    const ProfileStatus status = store_->CheckProfileFile();
    if (status == kProfileOk) return;
    CString text;
    text.FormatId(IDS_PROFILE_FILE_REFUSED, store_->ProfilePath().c_str(),
                  static_cast<const char*>(AfxLoadString(status == kProfileFileFull ? IDS_PROFILE_FILE_TOO_LARGE
                                                                                    : IDS_PROFILE_FILE_UNUSABLE)));
    MessageBoxRequest ask;
    ask.text = text;
    ask.type = MB_YESNO | MB_ICONEXCLAMATION;
    ask.owner = m_hWnd;
    if (AfxShowMessageBox(ask) != IDYES) return;
    std::string aside;
    MessageBoxRequest told;
    told.owner = m_hWnd;
    if (store_->SetProfileFileAside(&aside) == kProfileOk) {
        told.text.FormatId(IDS_PROFILE_FILE_KEPT, aside.c_str());
        told.type = MB_OK | MB_ICONINFORMATION;
    } else {
        told.text.FormatId(IDS_PROFILE_NOT_SAVED, store_->ProfilePath().c_str(),
                           static_cast<const char*>(AfxLoadString(IDS_PROFILE_FILE_UNUSABLE)));
        told.type = MB_OK | MB_ICONEXCLAMATION;
    }
    AfxShowMessageBox(told);
}

void CProfileSelectDlg::Refresh() {
    const ProfileSelectModel& m = *model_;
    FillCombo(m_hWnd, IDC_PROFILE_CATEGORY, Texts(m.Categories()), IndexOf(m.Categories(), m.Category()));
    FillCombo(m_hWnd, IDC_PROFILE_TYPE, Texts(m.Types()), IndexOf(m.Types(), m.Type()));
    FillCombo(m_hWnd, IDC_PROFILE_RATE, Texts(m.Rates()), IndexOf(m.Rates(), m.Rate()));
    EnableDlgItem(m_hWnd, IDC_PROFILE_TYPE, !m.NativeDv());
    EnableDlgItem(m_hWnd, IDC_PROFILE_RATE, m.RateEnabled());
    if (m.NativeDv()) {
        FillCombo(m_hWnd, IDC_PROFILE_NAME, {LoadText(kNativeDvProfile)}, 0);
        SetDlgText(m_hWnd, IDC_PROFILE_DESCRIPTION, LoadText(kNativeDvDescription));
    } else {
        std::vector<std::string> names;
        for (const ProfileSummary* s : m.Listed())
            names.push_back(s->name);
        FillCombo(m_hWnd, IDC_PROFILE_NAME, names, m.Selected());
        SetDlgText(m_hWnd, IDC_PROFILE_DESCRIPTION, m.Selected() >= 0 ? m.Current().description : "");
    }
    EnableDlgItem(m_hWnd, IDC_PROFILE_NAME, !m.NativeDv());
    EnableDlgItem(m_hWnd, IDC_PROFILE_NEW, m.CanCreate() && store_ != nullptr);
    EnableDlgItem(m_hWnd, IDC_PROFILE_EDIT, m.CanEdit() && store_ != nullptr);
    EnableDlgItem(m_hWnd, IDC_PROFILE_DELETE, m.CanEdit() && store_ != nullptr);
    EnableDlgItem(m_hWnd, IDC_PROFILE_DETAILS, m.CanDetail());
    ShowDlgItem(m_hWnd, IDC_PROFILE_INFO, m.InformationVisible());
    EnableDlgItem(m_hWnd, IDC_PROFILE_INFO, m.InformationEnabled());
    ShowDlgItem(m_hWnd, IDC_PROFILE_CODEC, m.CodecVisible() && store_ != nullptr);
}

BOOL CProfileSelectDlg::OnCommand(WPARAM wParam, LPARAM lParam) {
    const int id = LOWORD(wParam), code = HIWORD(wParam);
    if (waitingForCodecs_) {
        if ((id == IDOK || id == IDCANCEL) && code == BN_CLICKED) closeAfterWait_ = id;
        return TRUE;
    }
    if (model_ && code == CBN_SELENDOK) {
        const int sel = ComboSelection(m_hWnd, id);
        switch (id) {
            case IDC_PROFILE_CATEGORY:
                if (sel >= 0 && sel < static_cast<int>(model_->Categories().size()))
                    model_->ChooseCategory(model_->Categories()[static_cast<size_t>(sel)]);
                break;
            case IDC_PROFILE_TYPE:
                if (sel >= 0 && sel < static_cast<int>(model_->Types().size()))
                    model_->ChooseType(model_->Types()[static_cast<size_t>(sel)]);
                break;
            case IDC_PROFILE_RATE:
                if (sel >= 0 && sel < static_cast<int>(model_->Rates().size()))
                    model_->ChooseRate(model_->Rates()[static_cast<size_t>(sel)]);
                break;
            case IDC_PROFILE_NAME:
                if (sel >= 0 && sel < static_cast<int>(model_->Listed().size()))
                    model_->ChooseProfile(model_->Listed()[static_cast<size_t>(sel)]->name);
                break;
            default:
                return CDialog::OnCommand(wParam, lParam);
        }
        Refresh();
        return TRUE;
    }
    if (code == BN_CLICKED) {
        switch (id) {
            case IDC_PROFILE_NEW:
                OnNew();
                return TRUE;
            case IDC_PROFILE_EDIT:
                OnEdit();
                return TRUE;
            case IDC_PROFILE_DELETE:
                OnDelete();
                return TRUE;
            case IDC_PROFILE_INFO:
                OnInformation();
                return TRUE;
            case IDC_PROFILE_DETAILS:
                OnDetails();
                return TRUE;
            case IDC_PROFILE_CODEC:
                OnCodecSettings();
                return TRUE;
            default:
                break;
        }
    }
    return CDialog::OnCommand(wParam, lParam);
}

bool CProfileSelectDlg::ReadCurrent(ProfileRecord& record) {
    if (store_ == nullptr || !model_ || model_->NativeDv()) return false;
    const ProfileSummary& current = model_->Current();
    PrepareFor(record, current.videoFormatClass, static_cast<uint32_t>(pageKind_));
    return store_->ReadProfile(current.videoFormatClass, 0, record, current.name.c_str(), 0) == kProfileOk;
}

bool CProfileSelectDlg::RunEditor(ProfileRecord& record, bool newProfile) {
    if (record.head.videoFormatClass == kClassH264) {
        CH264ProfileSet sheet(IDS_PROFILE_LABEL, this);
        // The profile takes the rate chosen here.
        record.block.h264.frameRate = model_->FrameRate();
        int32_t keep = 0;
        store_->GetKeepOrgSize(&keep);
        sheet.Prepare(*store_, record, keep);
        sheet.SetNewProfile(newProfile);
        if (sheet.DoModal() != IDOK) return false;
        record.block.h264.keepOrgSize = sheet.GetKeepOrgSize();
        store_->SetKeepOrgSize(sheet.GetKeepOrgSize());
        return true;
    }
    CSetProfileDlg sheet(newProfile, *store_, record, IDS_PROFILE_LABEL, this);
    if (sheet.DoModal() != IDOK) return false;
    ApplyMpegEditorResult(sheet.Result(), record);
    if (record.head.videoFormatClass == kClassMpeg1 || record.head.videoFormatClass == kClassMpeg2) {
        if (MpegParam* p = FindMpegParam(record.block.mpeg, kParamFrameRate)) p->value.f = model_->FrameRate();
    }
    return true;
}

void CProfileSelectDlg::Store(ProfileRecord& record, const std::string& oldName) {
    record.head.attribute |= kAttrUserMade | kAttrStorable;
    record.head.group = kGroupUser;
    // An edit replaces the old profile in the same atomic write: nothing is lost when it fails.
    const ProfileStatus status = oldName.empty()
                                     ? store_->WriteProfile(record, nullptr)
                                     : store_->ReplaceProfile(record.head.videoFormatClass, oldName.c_str(), record);
    if (status != kProfileOk) {
        ReportStoreFailure(this, *store_, status);
        return;
    }
    model_->Stored(record, oldName);
    Refresh();
}

void CProfileSelectDlg::OnNew() {
    auto record = std::make_unique<ProfileRecord>();
    if (!ReadCurrent(*record)) return;
    if (!RunEditor(*record, true)) return;
    Store(*record, "");
}

void CProfileSelectDlg::OnEdit() {
    auto record = std::make_unique<ProfileRecord>();
    if (!model_->Current().IsUser() || !ReadCurrent(*record)) return;
    const std::string oldName = model_->Current().name;
    if (!RunEditor(*record, false)) return;
    Store(*record, oldName);
}

void CProfileSelectDlg::OnDelete() {
    if (store_ == nullptr || !model_->Current().IsUser()) return;
    const ProfileSummary current = model_->Current();
    const ProfileStatus status = store_->DeleteProfile(current.videoFormatClass, current.name.c_str());
    if (status != kProfileOk) {
        ReportStoreFailure(this, *store_, status);
        return;
    }
    model_->Removed();
    Refresh();
}

void CProfileSelectDlg::OnInformation() {
    auto record = std::make_unique<ProfileRecord>();
    std::string text;
    if (ReadCurrent(*record) && record->head.stringId4 != 0) text = LoadText(record->head.stringId4);
    if (text.empty()) {
        AfxMessageBox(IDS_NO_PROFILE_INFORMATION, MB_OK | MB_ICONINFORMATION);
        return;
    }
    AfxMessageBox(text.c_str(), MB_OK | MB_ICONINFORMATION);
}

void CProfileSelectDlg::OnDetails() {
    auto record = std::make_unique<ProfileRecord>();
    std::vector<uint8_t> state;
    if (deviceLock_) {
        // The camcorder's own MPEG-2 profile.
        if (store_ == nullptr) return;
        PrepareFor(*record, kClassMpeg2, kAttrDvCapturePage);
        if (store_->FindGroupProfile(kClassMpeg2, kGroupCamcorder, kAttrDvCapturePage, *record) != kProfileOk) return;
    } else {
        if (!ReadCurrent(*record)) return;
        if (record->head.videoFormatClass == kClassAvi) {
            char video[260] = {};
            if (SUCCEEDED(FindVideoCompressor(video)) && CodecsReady()) store_->UseAviCompressor(*record, video, state);
            store_->ApplyAviFrameSize(*record, model_->FrameRate() == kRateNtscValue);
        }
    }
    CProfileDetailDlg details(record.get(), this);
    details.DoModal();
}

bool CProfileSelectDlg::CodecsReady() {
    if (codecThread_ != nullptr && codecThread_->Started()) return WaitForCodecs();
    // No codec thread: the inventory is made here, once; later calls find it made.
    store_->EnumerateCodecs(1);
    return true;
}

void CProfileSelectDlg::OnCodecSettings() {
    if (store_ == nullptr || !CodecsReady()) return;
    store_->SelectDefaultCodec();
    store_->ConfigureCodec(reinterpret_cast<uintptr_t>(m_hWnd));
}

bool CProfileSelectDlg::WaitForCodecs() {
    if (codecThread_->Done()) return true;
    static constexpr int kControls[] = {IDC_PROFILE_CATEGORY, IDC_PROFILE_TYPE, IDC_PROFILE_RATE,   IDC_PROFILE_NAME,
                                        IDC_PROFILE_NEW,      IDC_PROFILE_EDIT, IDC_PROFILE_DELETE, IDC_PROFILE_DETAILS,
                                        IDC_PROFILE_INFO,     IDC_PROFILE_CODEC};
    for (int id : kControls)
        EnableDlgItem(m_hWnd, id, false);
    HCURSOR cursor = ::SetCursor(::LoadCursor(nullptr, IDC_WAIT));
    waitingForCodecs_ = true;
    closeAfterWait_ = 0;
    bool quit = false;
    const bool done = codecThread_->Wait(kCodecWaitMs, [&] {
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                quit = true;
                ::PostQuitMessage(static_cast<int>(msg.wParam));
                return false;
            }
            if (!::IsDialogMessageA(m_hWnd, &msg)) {
                ::TranslateMessage(&msg);
                ::DispatchMessageA(&msg);
            }
        }
        return closeAfterWait_ == 0;
    });
    waitingForCodecs_ = false;
    ::SetCursor(cursor);
    if (model_) Refresh();
    EnableDlgItem(m_hWnd, IDC_PROFILE_CODEC, true);
    if (quit) return false;
    if (closeAfterWait_ != 0) {
        ::PostMessageA(m_hWnd, WM_COMMAND, MAKEWPARAM(closeAfterWait_, BN_CLICKED), 0);
        return false;
    }
    if (!done) AfxMessageBox(IDS_CODECS_STILL_LISTED, MB_OK | MB_ICONINFORMATION);
    return done;
}

void CProfileSelectDlg::OnOK() {
    if (deviceLock_ || !model_) {
        EndDialog(IDOK);
        return;
    }
    chosenClass_ = model_->CurrentClass();
    chosenName_ = model_->NativeDv() ? std::string() : model_->Current().name;
    frameRate_ = model_->FrameRate();
    const bool file = pageKind_ == kPageFileConvert;
    CRegDwordValue type(HKEY_CURRENT_USER, kRecordingKey, file ? "FileProfileType" : "DVProfileType", 1);
    CRegStringValue name(HKEY_CURRENT_USER, kRecordingKey, file ? "FileProfileName" : "DVProfileName", 1);
    type.Set(static_cast<DWORD>(chosenClass_));
    name.Set(chosenName_.c_str());
    if (file) {
        CRegDwordValue rate(HKEY_CURRENT_USER, kRecordingKey, "ProfileFrameRate", 1);
        rate.Set(frameRate_ == kRateNtscValue ? 1 : 0);
    }
    EndDialog(IDOK);
}

}  // namespace profiles
