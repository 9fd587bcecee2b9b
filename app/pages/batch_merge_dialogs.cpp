#include "app/pages/batch_merge_dialogs.h"

#include <cstdio>
#include <cstdlib>

#include "app/resources/resource_ids.h"
#include "app/services/reg_value.h"
#include "app/services/settings_keys.h"
#include "app/services/text_fonts.h"
#include "framework/app.h"

namespace {

constexpr int kHours = 24, kMinutes = 60;  // the choices of the two combo boxes
constexpr int64_t kUnitsPerMinute = 60LL * 10000000;

}  // namespace

CAutoMergeDlg::CAutoMergeDlg(CWnd* parent) : CDialog(IDD_BATCH_AUTO_MERGE, parent) {
    CRegDwordValue stored(HKEY_CURRENT_USER, kRecordingKey, "AutoMergeType", 1);
    if (!stored.Read()) stored.Set(kByTimecode);
    type_ = stored.Get();
}

BOOL CAutoMergeDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    const struct {
        UINT id;
        int count;
    } combos[] = {{IDC_AUTO_MERGE_HOURS, kHours}, {IDC_AUTO_MERGE_MINUTES, kMinutes}};
    for (const auto& combo : combos) {
        HWND box = ::GetDlgItem(m_hWnd, int(combo.id));
        for (int i = 0; i < combo.count; ++i) {
            char text[8];
            std::snprintf(text, sizeof text, "%d", i);
            ::SendMessageA(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
        }
        ::SendMessageA(box, CB_SETCURSEL, 0, 0);
    }
    if (type_ == kByTimecode) {
        ::CheckDlgButton(m_hWnd, IDC_AUTO_MERGE_BY_TIMECODE, BST_CHECKED);
        EnableDuration(false);
    } else if (type_ == kByRecordingDate) {
        ::CheckDlgButton(m_hWnd, IDC_AUTO_MERGE_BY_DATE, BST_CHECKED);
        EnableDuration(true);
    }
    return TRUE;
}

void CAutoMergeDlg::EnableDuration(bool on) {
    for (UINT id : {IDC_AUTO_MERGE_HOURS, IDC_AUTO_MERGE_MINUTES})
        ::EnableWindow(::GetDlgItem(m_hWnd, int(id)), on);
}

int64_t CAutoMergeDlg::ChosenNumber(UINT id) const {
    HWND box = ::GetDlgItem(m_hWnd, int(id));
    const LRESULT index = ::SendMessageA(box, CB_GETCURSEL, 0, 0);
    if (index < 0) return 0;
    char text[16] = {};
    const LRESULT length = ::SendMessageA(box, CB_GETLBTEXTLEN, WPARAM(index), 0);
    if (length <= 0 || length >= LRESULT(sizeof text)) return 0;
    ::SendMessageA(box, CB_GETLBTEXT, WPARAM(index), reinterpret_cast<LPARAM>(text));
    return std::strtoll(text, nullptr, 10);
}

BOOL CAutoMergeDlg::OnCommand(WPARAM wParam, LPARAM lParam) {
    const UINT id = LOWORD(wParam);
    if (HIWORD(wParam) == BN_CLICKED && (id == IDC_AUTO_MERGE_BY_TIMECODE || id == IDC_AUTO_MERGE_BY_DATE)) {
        EnableDuration(::IsDlgButtonChecked(m_hWnd, IDC_AUTO_MERGE_BY_DATE) == BST_CHECKED);
        return TRUE;
    }
    return CDialog::OnCommand(wParam, lParam);
}

void CAutoMergeDlg::OnOK() {
    type_ = ::IsDlgButtonChecked(m_hWnd, IDC_AUTO_MERGE_BY_DATE) == BST_CHECKED ? kByRecordingDate : kByTimecode;
    CRegDwordValue(HKEY_CURRENT_USER, kRecordingKey, "AutoMergeType", 1).Set(type_);
    if (type_ == kByRecordingDate)
        duration_ = (ChosenNumber(IDC_AUTO_MERGE_HOURS) * 60 + ChosenNumber(IDC_AUTO_MERGE_MINUTES)) * kUnitsPerMinute;
    CDialog::OnOK();
}

CBatchNoteDlg::CBatchNoteDlg(CWnd* parent) : CDialog(IDD_BATCH_NOTE, parent) {}

CBatchNoteDlg::~CBatchNoteDlg() {
    if (bold_) DeleteObject(bold_);
}

BOOL CBatchNoteDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    LOGFONTA font{};
    HFONT base = GetAppGuiFont();
    if (!base || !GetObjectA(base, sizeof font, &font))
        GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof font, &font);
    font.lfHeight = -16;
    font.lfWeight = FW_BOLD;
    bold_ = CreateFontIndirectA(&font);
    const struct {
        UINT control, text;
        bool bold;
    } rows[] = {{IDC_BATCH_NOTE_TITLE1, IDS_BATCH_NOTE_TITLE1, true},
                {IDC_BATCH_NOTE_TEXT1, IDS_BATCH_NOTE_TEXT1, false},
                {IDC_BATCH_NOTE_TITLE2, IDS_BATCH_NOTE_TITLE2, true},
                {IDC_BATCH_NOTE_TEXT2, IDS_BATCH_NOTE_TEXT2, false}};
    for (const auto& row : rows) {
        HWND control = ::GetDlgItem(m_hWnd, int(row.control));
        if (row.bold && bold_) ::SendMessageA(control, WM_SETFONT, WPARAM(bold_), FALSE);
        ::SetWindowTextA(control, AfxLoadString(row.text).c_str());
    }
    return TRUE;
}

BOOL CBatchNoteDlg::DestroyWindow() {
    const BOOL done = CDialog::DestroyWindow();
    if (bold_) DeleteObject(bold_), bold_ = nullptr;
    return done;
}
