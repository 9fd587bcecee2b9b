#include "filters/encoder/dialog_controls.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>

namespace ombrisk {

namespace {
const wchar_t kNotSpecified[] = L"Not specified";
}  // namespace

std::wstring FrameRateText(int32_t rate100) {
    wchar_t text[32];
    swprintf(text, 32, L"%2d.%02d", rate100 / 100, std::abs(rate100 % 100));
    return text;
}

bool ParseFrameRate(const wchar_t* text, int32_t* rate100) {
    if (!text || wcslen(text) >= size_t(kMaxEditChars)) return false;
    while (*text == L' ')
        ++text;
    int64_t whole = 0, hundredths = 0;
    int digits = 0, fraction = 0;
    const wchar_t* p = text;
    for (; *p >= L'0' && *p <= L'9'; ++p, ++digits)
        whole = std::min<int64_t>(whole * 10 + (*p - L'0'), 100000000);
    if (*p == L'.') {
        for (++p; *p >= L'0' && *p <= L'9'; ++p, ++fraction)
            if (fraction < 2) hundredths = hundredths * 10 + (*p - L'0');
    }
    while (*p == L' ')
        ++p;
    if (*p || digits + fraction == 0) return false;
    if (fraction == 1) hundredths *= 10;
    *rate100 = int32_t(std::min<int64_t>(whole * 100 + hundredths, INT32_MAX));
    return true;
}

void CDialogControl::SetWindow(HWND window) {
    window_ = window;
    attached_ = window != nullptr;
}

void CDialogControl::SetDisabled(bool disabled) {
    if (attached_) EnableWindow(window_, !disabled);
}

LRESULT CDialogControl::Send(UINT message, WPARAM wparam, LPARAM lparam) const {
    return SendMessageW(window_, message, wparam, lparam);
}

void CComboControl::Clear() {
    if (attached_) Send(CB_RESETCONTENT, 0, 0);
}
void CComboControl::AddText(const wchar_t* text) {
    if (attached_) Send(CB_ADDSTRING, 0, LPARAM(text));
}
void CComboControl::Select(int index) {
    if (attached_ && index >= 0) Send(CB_SETCURSEL, WPARAM(index), 0);
}
int CComboControl::Selected() const {
    if (!attached_) return -1;
    const LRESULT index = Send(CB_GETCURSEL, 0, 0);
    return index < 0 ? -1 : int(index);
}

void CEditControl::LimitText(int characters) {
    if (attached_) Send(EM_LIMITTEXT, WPARAM(characters), 0);
}
void CEditControl::SetText(const wchar_t* text) {
    if (attached_) SetWindowTextW(window_, text);
}
void CEditControl::SetInt(int32_t value) {
    if (value == kUnsetWord) return SetText(kNotSpecified);
    wchar_t text[16];
    swprintf(text, 16, L"%d", int(value));
    SetText(text);
}
bool CEditControl::Text(wchar_t (&text)[kMaxEditChars + 2]) const {
    if (!attached_) return false;
    text[0] = 0;
    const int n = GetWindowTextW(window_, text, kMaxEditChars + 2);
    return n < kMaxEditChars;
}
bool CEditControl::ReadInt(int32_t* word) const {
    wchar_t text[kMaxEditChars + 2];
    if (!Text(text)) return false;
    *word = wcscmp(text, kNotSpecified) == 0 ? kUnsetWord : int32_t(wcstol(text, nullptr, 10));
    return true;
}
void CEditControl::SetFrameRate(int32_t rate100) {
    SetText(FrameRateText(rate100).c_str());
}
bool CEditControl::ReadFrameRate(int32_t* rate100) const {
    wchar_t text[kMaxEditChars + 2];
    return Text(text) && ParseFrameRate(text, rate100);
}

void CCheckControl::Set(int value) {
    if (attached_) Send(BM_SETCHECK, value ? BST_CHECKED : BST_UNCHECKED, 0);
}
int CCheckControl::Read() const {
    if (!attached_) return -1;
    return Send(BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
}

void CTrackbarControl::SetRange(int lower, int upper) {
    if (!attached_) return;
    lower_ = std::min(lower, upper);
    upper_ = std::max(lower, upper);
    Send(TBM_SETRANGE, TRUE, MAKELPARAM(lower_, upper_));
    SetPosition(position_);
}
void CTrackbarControl::SetPosition(int position) {
    if (!attached_) return;
    position_ = std::clamp(position, lower_, upper_);
    Send(TBM_SETPOS, TRUE, position_);
}
int CTrackbarControl::Position() {
    if (attached_) position_ = int(Send(TBM_GETPOS, 0, 0));
    return position_;
}

void CRadioGroup::SetTable(HWND dialog, const Button* table) {
    dialog_ = dialog;
    table_ = table;
}
void CRadioGroup::SetValue(int value) {
    if (!dialog_ || !table_) return;
    for (const Button* b = table_; b->id != 0; ++b)
        CheckDlgButton(dialog_, b->id, b->value == value ? BST_CHECKED : BST_UNCHECKED);
}
int CRadioGroup::Value() const {
    if (!dialog_ || !table_) return 0;
    for (const Button* b = table_; b->id != 0; ++b)
        if (IsDlgButtonChecked(dialog_, b->id) == BST_CHECKED) return b->value;
    return 0;
}

}  // namespace ombrisk
