#include "app/profiles/h264_profile_sheet.h"

#include <commctrl.h>

#include <cstdio>
#include <cstring>

#include "app/resources/resource_ids.h"
#include "framework/app.h"

namespace profiles {
namespace {

constexpr int32_t kH264NameClasses[] = {kClassMpeg1, kClassVcd,       kClassMpeg2, kClassSvcd,
                                        kClassDvd,   kClassQuickTime, kClassReal,  kClassH264};

template <size_t N>
void FillRows(HWND page, int id, const LabelledValue (&rows)[N], int32_t value) {
    std::vector<std::string> texts;
    for (const LabelledValue& row : rows)
        texts.push_back(LoadText(row.label));
    FillCombo(page, id, texts, FindRow(rows, value));
}

// The value of the chosen row; `value` unchanged when the combo's text matches no row.
template <size_t N>
void ReadRows(HWND page, int id, const LabelledValue (&rows)[N], int32_t& value) {
    const std::string text = ComboText(page, id);
    for (const LabelledValue& row : rows) {
        if (LoadText(row.label) == text) {
            value = row.value;
            return;
        }
    }
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Sheet

CH264ProfileSet::CH264ProfileSet(UINT captionId, CWnd* parent, UINT firstPage)
    : CPropertySheet(captionId, parent, firstPage), namePage_(*this), videoPage_(*this), audioPage_(*this) {
    AddPage(&namePage_);
    AddPage(&videoPage_);
    AddPage(&audioPage_);
}

void CH264ProfileSet::Prepare(CProfileManager& store, ProfileRecord& callerRecord, int32_t keepOrgSize) {
    store_ = &store;
    caller_ = &callerRecord;
    keepOrgSize_ = keepOrgSize;
    working_ = std::make_unique<ProfileRecord>();
    ProfileRecord& w = *working_;
    std::memset(&w, 0, sizeof w);
    w.head.videoFormatClass = kClassH264;
    AllocH264Params(w);
    w.head.attribute = kAttrDvCapturePage | kAttrFileConvertPage;
    const std::string name(callerRecord.head.name, strnlen(callerRecord.head.name, sizeof callerRecord.head.name));
    // The store's lookup keeps the KeepOrgSize of what it reads; the caller's flag stands.
    int32_t keep = 0;
    store.GetKeepOrgSize(&keep);
    if (store.ReadProfile(callerRecord.head.videoFormatClass, 0, w, name.c_str(), 0) != kProfileOk) {
        // Not in the store (yet): start from the caller's own values.
        std::memcpy(&w, &callerRecord, sizeof w);
    }
    store.SetKeepOrgSize(keep);
    H264Block& h = w.block.h264;
    h.frameRate = callerRecord.block.h264.frameRate;
    if ((w.head.attribute & kAttrUserMade) == 0) {
        if (h.frameRate == 29.97f) {
            h.width = 720;
            h.height = 480;
        } else if (h.frameRate == 25.0f) {
            h.width = 720;
            h.height = 576;
        }
    }
}

INT_PTR CH264ProfileSet::DoModal() {
    if (!working_) return -1;
    const INT_PTR result = CPropertySheet::DoModal();
    if (result == IDOK) Commit();
    working_.reset();
    return result;
}

void CH264ProfileSet::Commit() {
    if (!working_ || !caller_) return;
    const ProfileRecord& w = *working_;
    std::memcpy(caller_->head.name, w.head.name, sizeof w.head.name);
    std::memcpy(caller_->head.description, w.head.description, sizeof w.head.description);
    H264Block& to = caller_->block.h264;
    const H264Block& from = w.block.h264;
    // The eighteen values and the parameter count; the caller's stream block stays its own.
    std::memcpy(&to, &from, offsetof(H264Block, keepOrgSize));
    to.streams[0].audio = from.streams[0].audio;
}

bool CH264ProfileSet::IsH264NameHeld(const std::string& name) {
    for (int32_t cls : kH264NameClasses) {
        if (store_->ProfileNameExists(cls, name.c_str())) return true;
    }
    return false;
}

// ---------------------------------------------------------------------------------------
// Name page

CH264ProfileNameSet::CH264ProfileNameSet(CH264ProfileSet& sheet) : CPropertyPage(IDD_H264_NAME), sheet_(sheet) {}

BOOL CH264ProfileNameSet::OnInitDialog() {
    CPropertyPage::OnInitDialog();
    ProfileRecord& w = *sheet_.GetWorkingRecord();
    SendDlgItemMessageA(m_hWnd, IDC_H264_DESCRIPTION, EM_LIMITTEXT, kH264DescriptionLimit, 0);
    std::string name(w.head.name, strnlen(w.head.name, sizeof w.head.name));
    if (sheet_.NewProfile()) {
        name = ProposeFreeName(name, kH264NameLimit, [&](const std::string& n) { return sheet_.IsH264NameHeld(n); });
        CopyText(w.head.name, name.data(), name.size());
    } else {
        EnableDlgItem(m_hWnd, IDC_H264_NAME, false);
    }
    savedName_ = name;
    SetDlgText(m_hWnd, IDC_H264_NAME, name);
    SetDlgText(m_hWnd, IDC_H264_DESCRIPTION,
               ForEdit(std::string(w.head.description, strnlen(w.head.description, sizeof w.head.description))));
    if (list_.CreateOver(this, IDC_H264_PROPERTIES))
        list_.Fill(H264PropertyRows(w, [](uint32_t id) { return LoadText(id); }));
    return TRUE;
}

uint32_t CH264ProfileNameSet::NameProblem(const std::string& name) const {
    if (!sheet_.NewProfile()) return 0;
    const bool fits = name.size() <= kH264NameLimit;
    const uint32_t problem = CheckProfileName(
        name, kH264NameLimit, fits && !name.empty() && sheet_.IsH264NameHeld(name), IDS_PROFILE_NAME_TOO_LONG);
    return problem == IDS_NAME_HELD ? IDS_H264_NAME_HELD : problem;
}

BOOL CH264ProfileNameSet::OnCommand(WPARAM wParam, LPARAM lParam) {
    if (LOWORD(wParam) == IDC_H264_NAME && HIWORD(wParam) == EN_KILLFOCUS && sheet_.NewProfile() &&
        ::GetFocus() != ::GetDlgItem(::GetParent(m_hWnd), IDCANCEL)) {
        if (const uint32_t problem = NameProblem(DlgText(m_hWnd, IDC_H264_NAME))) {
            AfxMessageBox(problem, MB_OK | MB_ICONEXCLAMATION);
            SetDlgText(m_hWnd, IDC_H264_NAME, savedName_);
        }
    }
    return CPropertyPage::OnCommand(wParam, lParam);
}

BOOL CH264ProfileNameSet::OnKillActive() {
    ProfileRecord& w = *sheet_.GetWorkingRecord();
    std::string name = DlgText(m_hWnd, IDC_H264_NAME);
    if (NameProblem(name) != 0) {
        name = savedName_;
        SetDlgText(m_hWnd, IDC_H264_NAME, name);
    }
    CopyText(w.head.name, name.data(), name.size());
    const std::string description = DlgText(m_hWnd, IDC_H264_DESCRIPTION);
    CopyText(w.head.description, description.data(), description.size());
    return TRUE;
}

// ---------------------------------------------------------------------------------------
// Video page

CH264ProfileVideoSet::CH264ProfileVideoSet(CH264ProfileSet& sheet) : CPropertyPage(IDD_H264_VIDEO), sheet_(sheet) {}

int CH264ProfileVideoSet::EditNumber(int id) const {
    return ClampEditText(DlgText(m_hWnd, id), INT_MIN, 0, INT_MAX).value;
}

BOOL CH264ProfileVideoSet::OnInitDialog() {
    CPropertyPage::OnInitDialog();
    const H264Block& h = sheet_.GetWorkingRecord()->block.h264;
    correcting_ = true;
    SetDlgText(m_hWnd, IDC_H264_GOP, std::to_string(h.gopLength));
    SetDlgText(m_hWnd, IDC_H264_BFRAMES, std::to_string(h.bFrames));
    UpdatePattern();
    CheckRadioButton(m_hWnd, IDC_H264_CABAC, IDC_H264_CAVLC, h.entropyCoding == 1 ? IDC_H264_CABAC : IDC_H264_CAVLC);
    FillRows(m_hWnd, IDC_H264_RATE_CONTROL, kRateControlRows, h.rateControlMode);
    SetDlgText(m_hWnd, IDC_H264_CBR_EDIT, std::to_string(h.cbrQuality));
    SendDlgItemMessageA(m_hWnd, IDC_H264_CBR_SLIDER, TBM_SETRANGE, FALSE, MAKELPARAM(0, 15));
    SendDlgItemMessageA(m_hWnd, IDC_H264_CBR_SLIDER, TBM_SETPOS, TRUE, h.cbrQuality);
    SetDlgText(m_hWnd, IDC_H264_BITRATE, std::to_string(h.videoBitRate / 1000));
    SetDlgText(m_hWnd, IDC_H264_MAX_BITRATE, std::to_string(h.maxBitRate / 1000));
    CheckDlgButton(IDC_H264_SBD, h.sbdMode ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(IDC_H264_DEBLOCK, h.deblock ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(IDC_H264_MOTION, h.useMotionEstimation ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(IDC_H264_PARTITION, h.enablePartition ? BST_CHECKED : BST_UNCHECKED);
    SetDlgText(m_hWnd, IDC_H264_FRAME_RATE, h.frameRate == 29.97f ? "29.97" : h.frameRate == 25.0f ? "25.00" : "");
    FillRows(m_hWnd, IDC_H264_DISTORTION, kDistortionRows, h.distortionOpt);
    FillRows(m_hWnd, IDC_H264_SEARCH_RANGE, kSearchRangeRows, h.searchWRange);
    FillRows(m_hWnd, IDC_H264_SUBPEL, kSubPixelRows, h.subPixelAccuracy);
    CheckRadioButton(m_hWnd, IDC_H264_KEEP_SIZE, IDC_H264_CHOSEN_SIZE,
                     sheet_.GetKeepOrgSize() ? IDC_H264_KEEP_SIZE : IDC_H264_CHOSEN_SIZE);
    std::vector<std::string> sizes;
    for (const FrameSizeRow& row : kFrameSizes)
        sizes.push_back(LoadText(row.label));
    FillCombo(m_hWnd, IDC_H264_FRAME_SIZE, sizes, FindFrameSize(h.width, h.height));
    correcting_ = false;
    ApplyEnabling();
    return TRUE;
}

void CH264ProfileVideoSet::UpdatePattern() {
    SetDlgText(m_hWnd, IDC_H264_PATTERN, BuildGopPattern(EditNumber(IDC_H264_GOP), EditNumber(IDC_H264_BFRAMES)));
}

void CH264ProfileVideoSet::ApplyEnabling() {
    int32_t rateControl = -1, distortion = -1;
    ReadRows(m_hWnd, IDC_H264_RATE_CONTROL, kRateControlRows, rateControl);
    ReadRows(m_hWnd, IDC_H264_DISTORTION, kDistortionRows, distortion);
    const bool motion = IsDlgButtonChecked(IDC_H264_MOTION) != 0;
    EnableDlgItem(m_hWnd, IDC_H264_CBR_EDIT, rateControl != 1);
    EnableDlgItem(m_hWnd, IDC_H264_CBR_SLIDER, rateControl != 1);
    EnableDlgItem(m_hWnd, IDC_H264_BITRATE, rateControl != 0);
    EnableDlgItem(m_hWnd, IDC_H264_MAX_BITRATE, rateControl != 0);
    EnableDlgItem(m_hWnd, IDC_H264_PARTITION, distortion != 0);
    EnableDlgItem(m_hWnd, IDC_H264_SEARCH_RANGE, motion);
    EnableDlgItem(m_hWnd, IDC_H264_SUBPEL, motion);
}

void CH264ProfileVideoSet::CheckEdit(int id, bool onChange) {
    const H264Block& h = sheet_.GetWorkingRecord()->block.h264;
    int minimum = 0, fallback = 0, maximum = 0;
    switch (id) {
        case IDC_H264_GOP:
            minimum = EditNumber(IDC_H264_BFRAMES) + 1;
            fallback = 30;
            maximum = 60;
            break;
        case IDC_H264_BFRAMES:
            fallback = 1;
            maximum = std::min(EditNumber(IDC_H264_GOP) - 1, 9);
            break;
        case IDC_H264_BITRATE:
            fallback = h.videoBitRate / 1000;
            maximum = onChange ? kH264MaxVideoKbps : std::min(EditNumber(IDC_H264_MAX_BITRATE), kH264MaxVideoKbps);
            break;
        case IDC_H264_MAX_BITRATE:
            minimum = onChange ? 0 : std::max(EditNumber(IDC_H264_BITRATE), 0);
            fallback = h.maxBitRate / 1000;
            maximum = kH264MaxPeakKbps;
            break;
        default:
            return;
    }
    if (maximum < minimum) maximum = minimum;
    const std::string text = DlgText(m_hWnd, id);
    // While typing, an emptied edit is the start of a new number, not a mistake.
    if (onChange && text.empty()) return;
    const ClampResult r = ClampEditText(text, minimum, fallback, maximum);
    if (r.notNumber) AfxMessageBox(IDS_NOT_A_NUMBER, MB_OK | MB_ICONEXCLAMATION);
    if (r.changed) {
        correcting_ = true;
        SetDlgText(m_hWnd, id, std::to_string(r.value));
        correcting_ = false;
    }
    if (id == IDC_H264_GOP || id == IDC_H264_BFRAMES) UpdatePattern();
}

LRESULT CH264ProfileVideoSet::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_HSCROLL && reinterpret_cast<HWND>(lParam) == ::GetDlgItem(m_hWnd, IDC_H264_CBR_SLIDER)) {
        const LRESULT pos = SendDlgItemMessageA(m_hWnd, IDC_H264_CBR_SLIDER, TBM_GETPOS, 0, 0);
        SetDlgText(m_hWnd, IDC_H264_CBR_EDIT, std::to_string(pos));
    }
    return CPropertyPage::WindowProc(message, wParam, lParam);
}

BOOL CH264ProfileVideoSet::OnCommand(WPARAM wParam, LPARAM lParam) {
    const int id = LOWORD(wParam), code = HIWORD(wParam);
    if (!correcting_) {
        if (code == EN_KILLFOCUS) {
            CheckEdit(id, false);
        } else if (code == EN_CHANGE && (id == IDC_H264_BITRATE || id == IDC_H264_MAX_BITRATE)) {
            CheckEdit(id, true);
        } else if (code == EN_CHANGE && (id == IDC_H264_GOP || id == IDC_H264_BFRAMES)) {
            UpdatePattern();
        } else if ((code == CBN_SELCHANGE && (id == IDC_H264_RATE_CONTROL || id == IDC_H264_DISTORTION)) ||
                   (code == BN_CLICKED && id == IDC_H264_MOTION)) {
            ApplyEnabling();
        }
    }
    return CPropertyPage::OnCommand(wParam, lParam);
}

BOOL CH264ProfileVideoSet::OnKillActive() {
    HWND focus = ::GetFocus();
    for (int id : {IDC_H264_GOP, IDC_H264_BFRAMES, IDC_H264_BITRATE, IDC_H264_MAX_BITRATE}) {
        if (focus == ::GetDlgItem(m_hWnd, id)) CheckEdit(id, false);
    }
    H264Block& h = sheet_.GetWorkingRecord()->block.h264;
    h.gopLength = EditNumber(IDC_H264_GOP);
    h.bFrames = EditNumber(IDC_H264_BFRAMES);
    h.entropyCoding = IsDlgButtonChecked(IDC_H264_CABAC) ? 1 : 0;
    ReadRows(m_hWnd, IDC_H264_RATE_CONTROL, kRateControlRows, h.rateControlMode);
    h.cbrQuality = EditNumber(IDC_H264_CBR_EDIT);
    h.videoBitRate = EditNumber(IDC_H264_BITRATE) * 1000;
    h.maxBitRate = EditNumber(IDC_H264_MAX_BITRATE) * 1000;
    h.sbdMode = IsDlgButtonChecked(IDC_H264_SBD) ? 1 : 0;
    h.deblock = IsDlgButtonChecked(IDC_H264_DEBLOCK) ? 1 : 0;
    ReadRows(m_hWnd, IDC_H264_DISTORTION, kDistortionRows, h.distortionOpt);
    h.useMotionEstimation = IsDlgButtonChecked(IDC_H264_MOTION) ? 1 : 0;
    ReadRows(m_hWnd, IDC_H264_SEARCH_RANGE, kSearchRangeRows, h.searchWRange);
    h.searchHRange = h.searchWRange;
    ReadRows(m_hWnd, IDC_H264_SUBPEL, kSubPixelRows, h.subPixelAccuracy);
    h.enablePartition = IsDlgButtonChecked(IDC_H264_PARTITION) ? 1 : 0;
    sheet_.SetKeepOrgSize(IsDlgButtonChecked(IDC_H264_KEEP_SIZE) ? 1 : 0);
    const int row = ComboSelection(m_hWnd, IDC_H264_FRAME_SIZE);
    if (row >= 0 && row < static_cast<int>(std::size(kFrameSizes))) {
        h.width = kFrameSizes[row].width;
        h.height = kFrameSizes[row].height;
    }
    return TRUE;
}

// ---------------------------------------------------------------------------------------
// Audio page

CH264ProfileAudioSet::CH264ProfileAudioSet(CH264ProfileSet& sheet) : CPropertyPage(IDD_H264_AUDIO), sheet_(sheet) {}

BOOL CH264ProfileAudioSet::OnInitDialog() {
    CPropertyPage::OnInitDialog();
    const int64_t code = sheet_.GetWorkingRecord()->block.h264.streams[0].audio.bitRate;
    std::vector<std::string> texts;
    int selected = -1;
    for (size_t i = 0; i < std::size(kH264AudioRates); ++i) {
        texts.push_back(kH264AudioRates[i].label);
        if ((code & 0xFFFFFFFF) == kH264AudioRates[i].code && (code >> 32) == 0) selected = static_cast<int>(i);
    }
    FillCombo(m_hWnd, IDC_H264_AUDIO_BITRATE, texts, selected);
    return TRUE;
}

BOOL CH264ProfileAudioSet::OnCommand(WPARAM wParam, LPARAM lParam) {
    if (LOWORD(wParam) == IDC_H264_AUDIO_BITRATE && HIWORD(wParam) == CBN_SELCHANGE) {
        const int row = ComboSelection(m_hWnd, IDC_H264_AUDIO_BITRATE);
        if (row >= 0 && row < static_cast<int>(std::size(kH264AudioRates)))
            sheet_.GetWorkingRecord()->block.h264.streams[0].audio.bitRate = kH264AudioRates[row].code;
    }
    return CPropertyPage::OnCommand(wParam, lParam);
}

}  // namespace profiles
