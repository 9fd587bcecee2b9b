#include "app/profiles/profile_editor_sheet.h"

#include <commctrl.h>

#include <cstring>

#include "app/resources/resource_ids.h"
#include "framework/app.h"

namespace profiles {
namespace {

// Classes searched for a taken name: the MPEG family, QuickTime and Real.
constexpr int32_t kNameClasses[] = {kClassMpeg1, kClassVcd,       kClassMpeg2, kClassSvcd,
                                    kClassDvd,   kClassQuickTime, kClassReal};

int32_t Param(const ProfileRecord& r, uint32_t id) {
    const MpegParam* p = FindMpegParam(r.block.mpeg, id);
    return p ? p->value.i : 0;
}

bool FixedFormat(const ProfileRecord& r) {
    return r.head.videoFormatClass == kClassVcd || r.head.videoFormatClass == kClassSvcd;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Sheet

CSetProfileDlg::CSetProfileDlg(bool newProfile, CProfileManager& store, const ProfileRecord& record, UINT captionId,
                               CWnd* parent, UINT firstPage)
    : CPropertySheet(captionId, parent, firstPage),
      newProfile_(newProfile),
      store_(store),
      record_(std::make_unique<ProfileRecord>(record)),
      namePage_(*this),
      videoPage_(*this),
      audioPage_(*this) {
    result_.name.assign(record.head.name, strnlen(record.head.name, sizeof record.head.name));
    result_.description.assign(record.head.description,
                               strnlen(record.head.description, sizeof record.head.description));
    AddPage(&namePage_);
    AddPage(&videoPage_);
    AddPage(&audioPage_);
}

bool CSetProfileDlg::NameHeld(const std::string& name) {
    for (int32_t cls : kNameClasses) {
        if (store_.ProfileNameExists(cls, name.c_str())) return true;
    }
    return false;
}

// ---------------------------------------------------------------------------------------
// Name page

CProfileNamePage::CProfileNamePage(CSetProfileDlg& sheet) : CPropertyPage(IDD_PROFILE_NAME), sheet_(sheet) {}

BOOL CProfileNamePage::OnInitDialog() {
    CPropertyPage::OnInitDialog();
    if (list_.CreateOver(this, IDC_PROFILE_PROPERTIES)) list_.Fill(NamePageRows(sheet_.Record()));
    SendDlgItemMessageA(m_hWnd, IDC_PROFILE_DESCRIPTION_EDIT, EM_LIMITTEXT, kEditorDescriptionLimit, 0);
    MpegEditorResult& result = sheet_.Result();
    if (sheet_.NewProfile()) {
        result.name =
            ProposeFreeName(result.name, kEditorNameLimit, [&](const std::string& n) { return sheet_.NameHeld(n); });
    } else {
        EnableDlgItem(m_hWnd, IDC_PROFILE_NAME_EDIT, false);
    }
    SetDlgText(m_hWnd, IDC_PROFILE_NAME_EDIT, result.name);
    SetDlgText(m_hWnd, IDC_PROFILE_DESCRIPTION_EDIT, ForEdit(result.description));
    return TRUE;
}

uint32_t CProfileNamePage::NameProblem() const {
    if (!sheet_.NewProfile()) return 0;
    const std::string name = DlgText(m_hWnd, IDC_PROFILE_NAME_EDIT);
    const bool fits = name.size() <= kEditorNameLimit;
    return CheckProfileName(name, kEditorNameLimit, fits && !name.empty() && sheet_.NameHeld(name),
                            IDS_PROFILE_NAME_TOO_LONG);
}

BOOL CProfileNamePage::OnCommand(WPARAM wParam, LPARAM lParam) {
    const int id = LOWORD(wParam), code = HIWORD(wParam);
    if (id == IDC_PROFILE_NAME_EDIT && sheet_.NewProfile()) {
        if (code == EN_CHANGE) {
            EnableDlgItem(::GetParent(m_hWnd), IDOK, NameProblem() == 0);
        } else if (code == EN_KILLFOCUS) {
            // Focus moving to the sheet's Cancel must not be stopped by a message.
            HWND focus = ::GetFocus();
            if (focus != ::GetDlgItem(::GetParent(m_hWnd), IDCANCEL)) {
                if (const uint32_t problem = NameProblem()) {
                    EnableDlgItem(::GetParent(m_hWnd), IDOK, false);
                    AfxMessageBox(problem, MB_OK | MB_ICONEXCLAMATION);
                }
            }
        }
    }
    return CPropertyPage::OnCommand(wParam, lParam);
}

BOOL CProfileNamePage::OnKillActive() {
    if (const uint32_t problem = NameProblem()) {
        AfxMessageBox(problem, MB_OK | MB_ICONEXCLAMATION);
        ::SetFocus(::GetDlgItem(m_hWnd, IDC_PROFILE_NAME_EDIT));
        return FALSE;
    }
    MpegEditorResult& result = sheet_.Result();
    if (sheet_.NewProfile()) result.name = DlgText(m_hWnd, IDC_PROFILE_NAME_EDIT);
    result.description = DlgText(m_hWnd, IDC_PROFILE_DESCRIPTION_EDIT);
    if (result.description.size() > kEditorDescriptionLimit) result.description.resize(kEditorDescriptionLimit);
    return TRUE;
}

// ---------------------------------------------------------------------------------------
// Video page

CProfileVideoPage::CProfileVideoPage(CSetProfileDlg& sheet) : CPropertyPage(IDD_PROFILE_VIDEO), sheet_(sheet) {}

BOOL CProfileVideoPage::OnInitDialog() {
    CPropertyPage::OnInitDialog();
    const ProfileRecord& r = sheet_.Record();
    MpegEditorResult& res = sheet_.Result();
    std::vector<std::string> sizes;
    for (const FrameSizeRow& row : kFrameSizes)
        sizes.push_back(LoadText(row.label));
    res.width = Param(r, kParamWidth);
    res.height = Param(r, kParamHeight);
    FillCombo(m_hWnd, IDC_VIDEO_RESOLUTION, sizes, FindFrameSize(res.width, res.height));
    kbps_ = Param(r, kParamVideoBitRate) / 1000;
    res.speedQuality = Param(r, kParamSpeedQuality);
    res.preProcessing = Param(r, kParamPreProcessing);
    res.interlacing = r.head.fieldOrder == 0 ? Param(r, kParamInterlacing) : 0;

    updating_ = true;
    SendDlgItemMessageA(m_hWnd, IDC_VIDEO_BITRATE_SLIDER, TBM_SETRANGE, FALSE, MAKELPARAM(kMpegMinKbps, kMpegMaxKbps));
    SendDlgItemMessageA(m_hWnd, IDC_VIDEO_BITRATE_SLIDER, TBM_SETTICFREQ, 1000, 0);
    SendDlgItemMessageA(m_hWnd, IDC_VIDEO_BITRATE_SLIDER, TBM_SETPOS, TRUE, kbps_);
    SendDlgItemMessageA(m_hWnd, IDC_VIDEO_BITRATE_EDIT, EM_LIMITTEXT, 5, 0);
    SetDlgText(m_hWnd, IDC_VIDEO_BITRATE_EDIT, std::to_string(kbps_));
    SendDlgItemMessageA(m_hWnd, IDC_VIDEO_SPEED_QUALITY, TBM_SETRANGE, FALSE, MAKELPARAM(0, 7));
    SendDlgItemMessageA(m_hWnd, IDC_VIDEO_SPEED_QUALITY, TBM_SETTIC, 0, 1);
    SendDlgItemMessageA(m_hWnd, IDC_VIDEO_SPEED_QUALITY, TBM_SETPOS, TRUE, res.speedQuality);
    CheckDlgButton(IDC_VIDEO_PREPROCESS_1, (res.preProcessing & 1) ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(IDC_VIDEO_PREPROCESS_2, (res.preProcessing & 2) ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(IDC_VIDEO_INTERLACING, res.interlacing ? BST_CHECKED : BST_UNCHECKED);
    EnableDlgItem(m_hWnd, IDC_VIDEO_INTERLACING, r.head.fieldOrder == 0);
    if (FixedFormat(r)) {
        for (int id : {IDC_VIDEO_BITRATE_SLIDER, IDC_VIDEO_BITRATE_EDIT, IDC_VIDEO_RESOLUTION})
            EnableDlgItem(m_hWnd, id, false);
    }
    updating_ = false;
    return TRUE;
}

LRESULT CProfileVideoPage::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_HSCROLL && !updating_) {
        HWND bar = reinterpret_cast<HWND>(lParam);
        if (bar == ::GetDlgItem(m_hWnd, IDC_VIDEO_BITRATE_SLIDER)) {
            kbps_ = static_cast<int32_t>(SendDlgItemMessageA(m_hWnd, IDC_VIDEO_BITRATE_SLIDER, TBM_GETPOS, 0, 0));
            updating_ = true;
            SetDlgText(m_hWnd, IDC_VIDEO_BITRATE_EDIT, std::to_string(kbps_));
            updating_ = false;
        }
        sheet_.Result().videoModified = true;
    }
    return CPropertyPage::WindowProc(message, wParam, lParam);
}

BOOL CProfileVideoPage::OnCommand(WPARAM wParam, LPARAM lParam) {
    const int id = LOWORD(wParam), code = HIWORD(wParam);
    if (!updating_) {
        if (id == IDC_VIDEO_BITRATE_EDIT && code == EN_CHANGE) {
            const std::string text = DlgText(m_hWnd, IDC_VIDEO_BITRATE_EDIT).substr(0, 5);
            kbps_ = std::atoi(text.c_str());
            updating_ = true;
            SendDlgItemMessageA(m_hWnd, IDC_VIDEO_BITRATE_SLIDER, TBM_SETPOS, TRUE, kbps_);
            updating_ = false;
            sheet_.Result().videoModified = true;
        } else if ((id == IDC_VIDEO_RESOLUTION && code == CBN_SELCHANGE) ||
                   (code == BN_CLICKED &&
                    (id == IDC_VIDEO_PREPROCESS_1 || id == IDC_VIDEO_PREPROCESS_2 || id == IDC_VIDEO_INTERLACING))) {
            sheet_.Result().videoModified = true;
        }
    }
    return CPropertyPage::OnCommand(wParam, lParam);
}

BOOL CProfileVideoPage::OnKillActive() {
    MpegEditorResult& res = sheet_.Result();
    if (!res.videoModified) return TRUE;
    const int row = ComboSelection(m_hWnd, IDC_VIDEO_RESOLUTION);
    if (row >= 0 && row < static_cast<int>(std::size(kFrameSizes))) {
        res.width = kFrameSizes[row].width;
        res.height = kFrameSizes[row].height;
    }
    res.preProcessing =
        (IsDlgButtonChecked(IDC_VIDEO_PREPROCESS_1) ? 1 : 0) + (IsDlgButtonChecked(IDC_VIDEO_PREPROCESS_2) ? 2 : 0);
    res.interlacing = IsDlgButtonChecked(IDC_VIDEO_INTERLACING) ? 1 : 0;
    res.speedQuality = static_cast<int32_t>(SendDlgItemMessageA(m_hWnd, IDC_VIDEO_SPEED_QUALITY, TBM_GETPOS, 0, 0));
    res.bitRateKbps = kbps_ < kMpegMinKbps ? kMpegMinKbps : kbps_ > kMpegMaxKbps ? kMpegMaxKbps : kbps_;
    return TRUE;
}

// ---------------------------------------------------------------------------------------
// Audio page

CProfileAudioPage::CProfileAudioPage(CSetProfileDlg& sheet) : CPropertyPage(IDD_PROFILE_AUDIO), sheet_(sheet) {}

BOOL CProfileAudioPage::OnInitDialog() {
    CPropertyPage::OnInitDialog();
    const ProfileRecord& r = sheet_.Record();
    int64_t rate = 0;
    int selected = -1;
    std::vector<std::string> texts;
    const bool known = AudioBitRateFromCode(r.block.mpeg.streams[0].audio.bitRate, &rate);
    for (size_t i = 0; i < std::size(kMpegAudioKbps); ++i) {
        texts.push_back(std::to_string(kMpegAudioKbps[i]));
        if (known && rate / 1000 == kMpegAudioKbps[i]) selected = static_cast<int>(i);
    }
    FillCombo(m_hWnd, IDC_AUDIO_BITRATE, texts, selected);
    sheet_.Result().audioBitRate = static_cast<int32_t>(rate);
    if (FixedFormat(r)) EnableDlgItem(m_hWnd, IDC_AUDIO_BITRATE, false);
    return TRUE;
}

BOOL CProfileAudioPage::OnCommand(WPARAM wParam, LPARAM lParam) {
    if (LOWORD(wParam) == IDC_AUDIO_BITRATE && HIWORD(wParam) == CBN_SELCHANGE) sheet_.Result().audioModified = true;
    return CPropertyPage::OnCommand(wParam, lParam);
}

BOOL CProfileAudioPage::OnKillActive() {
    MpegEditorResult& res = sheet_.Result();
    const int row = ComboSelection(m_hWnd, IDC_AUDIO_BITRATE);
    if (res.audioModified && row >= 0 && row < static_cast<int>(std::size(kMpegAudioKbps)))
        res.audioBitRate = kMpegAudioKbps[row] * 1000;
    return TRUE;
}

}  // namespace profiles
