#include "filters/encoder/property_pages.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <new>

#include "filters/base/server.h"
#include "filters/encoder/ombrisk_ids.h"

namespace ombrisk {

namespace {

constexpr UINT_PTR kTimerId = 1;
constexpr int kMaxEditChars = 50;
const wchar_t kNotSpecified[] = L"Not specified";

const wchar_t* const kProfiles[] = {L"Baseline", L"Main", L"Extended"};
constexpr int kProfileValues[] = {66, 77, 88};
const wchar_t* const kLevels[] = {L"Auto",      L"Level 1",   L"Level 1.1", L"Level 1.2", L"Level 1.3", L"Level 2",
                                  L"Level 2.1", L"Level 2.2", L"Level 3",   L"Level 3.1", L"Level 3.2", L"Level 4",
                                  L"Level 4.1", L"Level 4.2", L"Level 5",   L"Level 5.1"};
constexpr int kLevelValues[] = {52, 10, 11, 12, 13, 20, 21, 22, 30, 31, 32, 40, 41, 42, 50, 51};
const wchar_t* const kRateModes[] = {L"Constant quantizer", L"VBR", L"CBR"};
constexpr int kRateModeValues[] = {0, 2, 3};
const wchar_t* const kRdo[] = {L"Off", L"On"};
const wchar_t* const kRanges[] = {L"Short", L"Medium", L"Large"};
const wchar_t* const kSubpel[] = {L"Full pels", L"Half pels", L"Quarter pels"};

constexpr int kMainWords[] = {3, 4, 0, 1, 22, 21, 6, 13, 12, 10, 25, 31, 33, 35};
constexpr int kAdvancedLoaded[] = {0, 20, 15, 17, 16, 18, 19};
constexpr int kAdvancedWritten[] = {20, 15, 17, 16, 18, 19};

template <size_t N>
int IndexOf(const int (&values)[N], int value, int fallback) {
    for (size_t i = 0; i < N; ++i)
        if (values[i] == value) return int(i);
    return fallback;
}

int32_t* WordOf(EncoderSettings& s, int word) {
    if (word == 33) return nullptr;
    if (word == 35) return &s.fixedRate100;
    return &s.params[word];
}

}  // namespace

std::wstring GopPreview(int gop, int bFrames) {
    const int length = std::max(bFrames + 1, gop);
    if (length >= 40) return L"Very long GOP";
    std::wstring one = L"I";
    // Ends for any GOP length: each round writes at least one picture while fewer than
    // `gop` are written, and none once that many are.
    for (int n = 1; n < gop;) {
        for (int b = 0; b < bFrames && n < gop; ++b, ++n)
            one += L'B';
        if (n < gop) {
            one += L'P';
            ++n;
        }
    }
    const int repeats = length < 7 ? 4 : length < 13 ? 2 : 1;
    std::wstring text;
    for (int i = 0; i < repeats; ++i)
        text += one + L"  ";
    return text;
}

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

// ---- the settings pages' base ----

CEncoderPropertyPage::CEncoderPropertyPage(const wchar_t* name, IUnknown* outer, int dialogId, int titleId,
                                           const int* loaded, int loadedCount, const int* written, int writtenCount)
    : CBasePropertyPage(name, outer, dialogId, titleId),
      loadedWords_(loaded),
      loadedCount_(loadedCount),
      writtenWords_(written),
      writtenCount_(writtenCount) {
    DefaultSettings(&words_);
}

CEncoderPropertyPage::~CEncoderPropertyPage() {
    if (config_) config_->Release();
}

HRESULT CEncoderPropertyPage::OnConnect(IUnknown* object) {
    if (!object) return E_POINTER;
    IKestruneConfig* config = nullptr;
    if (FAILED(object->QueryInterface(IID_IKestruneConfig, reinterpret_cast<void**>(&config))) || !config)
        return E_NOINTERFACE;
    if (config_) config_->Release();
    config_ = config;
    LoadValues(false);
    return S_OK;
}

HRESULT CEncoderPropertyPage::OnDisconnect() {
    if (!config_) return E_UNEXPECTED;
    config_->Release();
    config_ = nullptr;
    return S_OK;
}

void CEncoderPropertyPage::LoadValues(bool defaults) {
    if (!config_) return;
    for (int i = 0; i < loadedCount_; ++i) {
        const int word = loadedWords_[i];
        const GUID* key = KeyOfWord(word);
        if (!key) continue;
        VARIANT v;
        VariantInit(&v);
        const HRESULT hr = defaults ? config_->GetDefaultValue(key, &v) : config_->GetValue(key, &v);
        if (SUCCEEDED(hr) && SUCCEEDED(VariantChangeType(&v, &v, 0, VT_I4))) {
            if (int32_t* w = WordOf(words_, word))
                *w = V_I4(&v);
            else
                words_.fixedRateOn = V_I4(&v) != 0;
        }
        VariantClear(&v);
    }
}

HRESULT CEncoderPropertyPage::WriteValues() {
    if (!config_) return E_UNEXPECTED;
    if (active_) ReadControls();
    for (int i = 0; i < writtenCount_; ++i) {
        const int word = writtenWords_[i];
        const GUID* key = KeyOfWord(word);
        if (!key) continue;
        VARIANT v;
        VariantInit(&v);
        if (const int32_t* w = WordOf(words_, word)) {
            V_VT(&v) = VT_INT;
            V_INT(&v) = *w;
        } else {
            V_VT(&v) = VT_BOOL;
            V_BOOL(&v) = words_.fixedRateOn ? 1 : 0;
        }
        const HRESULT hr = config_->SetValue(key, &v);
        VariantClear(&v);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

bool CEncoderPropertyPage::FilterRunning() {
    if (!config_) return false;
    VARIANT v;
    VariantInit(&v);
    bool running = false;
    if (SUCCEEDED(config_->GetValue(&kEncoderFilterState, &v)) && SUCCEEDED(VariantChangeType(&v, &v, 0, VT_I4)))
        running = V_I4(&v) != 0;
    VariantClear(&v);
    return running;
}

HRESULT CEncoderPropertyPage::OnActivate() {
    if (!config_) return E_UNEXPECTED;
    const bool dirty = IsDirty();
    CAutoLock lock(&pageLock_);
    loaded_ = false;
    // A clean page shows the filter's values as they are now; a dirty one keeps the
    // edits not yet applied (read back into the page copy when it was hidden).
    if (!dirty) LoadValues(false);
    updating_ = true;
    SetupControls();
    RenewControlState();
    updating_ = false;
    loaded_ = true;
    SetDirty(dirty);
    SetTimer(window_, kTimerId, 100, nullptr);
    active_ = true;
    return S_OK;
}

HRESULT CEncoderPropertyPage::OnDeactivate() {
    CAutoLock lock(&pageLock_);
    if (IsDirty()) ReadControls();
    if (window_) KillTimer(window_, kTimerId);
    active_ = false;
    loaded_ = false;
    return S_OK;
}

HRESULT CEncoderPropertyPage::OnApplyChanges() {
    HRESULT hr;
    {
        CAutoLock lock(&pageLock_);
        hr = WriteValues();
    }
    if (FAILED(hr)) return hr;
    VARIANT message;
    VariantInit(&message);
    hr = config_->Commit(&message);
    if (FAILED(hr)) {
        // A refusal without a message shows nothing.
        if (V_VT(&message) == VT_BSTR && V_BSTR(&message)) MessageBoxW(window_, V_BSTR(&message), nullptr, MB_OK);
    }
    VariantClear(&message);
    return hr;
}

INT_PTR CEncoderPropertyPage::OnReceiveMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_TIMER && wparam == kTimerId) {
        CAutoLock lock(&pageLock_);
        if (loaded_ && !updating_) {
            updating_ = true;
            RenewControlState();
            updating_ = false;
        }
        return TRUE;
    }
    const bool command = message == WM_COMMAND && Handles(LOWORD(wparam), HIWORD(wparam));
    const bool track = message == WM_HSCROLL && LOWORD(wparam) == TB_ENDTRACK && Handles(kQualityTrack, 0);
    if (command || track) {
        CAutoLock lock(&pageLock_);
        if (loaded_ && !updating_) {
            updating_ = true;
            SetDirty(true);
            ReadControls();
            RenewControlState();
            updating_ = false;
        }
        return TRUE;
    }
    return CBasePropertyPage::OnReceiveMessage(window, message, wparam, lparam);
}

void CEncoderPropertyPage::SetCombo(int id, int index) {
    if (index >= 0) SendDlgItemMessageW(window_, id, CB_SETCURSEL, WPARAM(index), 0);
}
int CEncoderPropertyPage::ComboIndex(int id) {
    return int(SendDlgItemMessageW(window_, id, CB_GETCURSEL, 0, 0));
}
void CEncoderPropertyPage::SetCheck(int id, bool checked) {
    CheckDlgButton(window_, id, checked ? BST_CHECKED : BST_UNCHECKED);
}
bool CEncoderPropertyPage::Checked(int id) {
    return IsDlgButtonChecked(window_, id) == BST_CHECKED;
}
void CEncoderPropertyPage::Enable(int id, bool enabled) {
    EnableWindow(GetDlgItem(window_, id), enabled);
}
void CEncoderPropertyPage::SetIntEdit(int id, int32_t value) {
    if (value == kUnsetWord)
        SetDlgItemTextW(window_, id, kNotSpecified);
    else
        SetDlgItemInt(window_, id, UINT(value), TRUE);
}
void CEncoderPropertyPage::ReadIntEdit(int id, int32_t* word) {
    wchar_t text[kMaxEditChars + 2] = L"";
    const int n = GetDlgItemTextW(window_, id, text, kMaxEditChars + 2);
    if (n >= kMaxEditChars) return;
    if (wcscmp(text, kNotSpecified) == 0) {
        *word = kUnsetWord;
        return;
    }
    *word = int32_t(wcstol(text, nullptr, 10));
}
void CEncoderPropertyPage::SetRateEdit(int id, int32_t rate100) {
    SetDlgItemTextW(window_, id, FrameRateText(rate100).c_str());
}
void CEncoderPropertyPage::ReadRateEdit(int id, int32_t* word) {
    wchar_t text[kMaxEditChars + 2] = L"";
    GetDlgItemTextW(window_, id, text, kMaxEditChars + 2);
    int32_t rate = 0;
    if (ParseFrameRate(text, &rate)) *word = rate;
}

// ---- Main settings ----

CUnknown* CMainSettingsPage::CreateInstance(IUnknown* outer, HRESULT* hr) {
    auto* page = new (std::nothrow) CMainSettingsPage(outer);
    if (!page) *hr = E_OUTOFMEMORY;
    return page;
}

CMainSettingsPage::CMainSettingsPage(IUnknown* outer)
    : CEncoderPropertyPage(L"h.264 encoder main settings page", outer, kMainDialog, kMainTitle, kMainWords,
                           int(std::size(kMainWords)), kMainWords, int(std::size(kMainWords))) {}

bool CMainSettingsPage::Handles(int id, int code) const {
    switch (id) {
        case kProfileCombo:
        case kLevelCombo:
        case kRateCombo:
            return code == CBN_SELCHANGE;
        case kAvgRateEdit:
        case kMaxRateEdit:
        case kTargetRateEdit:
        case kFixedRateEdit:
        case kGopEdit:
        case kBFramesEdit:
            return code == EN_CHANGE;
        case kSceneCheck:
        case kCabacRadio:
        case kCavlcRadio:
        case kInterlacedCheck:
        case kDeblockCheck:
        case kStampsCheck:
        case kFixedRateCheck:
        case kQualityTrack:
            return true;
        default:
            return false;
    }
}

void CMainSettingsPage::SetupControls() {
    auto fill = [&](int id, const wchar_t* const* texts, size_t n) {
        SendDlgItemMessageW(window_, id, CB_RESETCONTENT, 0, 0);
        for (size_t i = 0; i < n; ++i)
            SendDlgItemMessageW(window_, id, CB_ADDSTRING, 0, LPARAM(texts[i]));
    };
    fill(kProfileCombo, kProfiles, std::size(kProfiles));
    fill(kLevelCombo, kLevels, std::size(kLevels));
    fill(kRateCombo, kRateModes, std::size(kRateModes));
    SendDlgItemMessageW(window_, kGopEdit, EM_LIMITTEXT, 3, 0);
    SendDlgItemMessageW(window_, kBFramesEdit, EM_LIMITTEXT, 1, 0);
    SendDlgItemMessageW(window_, kAvgRateEdit, EM_LIMITTEXT, 5, 0);
    SendDlgItemMessageW(window_, kMaxRateEdit, EM_LIMITTEXT, 5, 0);
    SendDlgItemMessageW(window_, kTargetRateEdit, EM_LIMITTEXT, 5, 0);
    SendDlgItemMessageW(window_, kFixedRateEdit, EM_LIMITTEXT, 5, 0);
    SendDlgItemMessageW(window_, kQualityTrack, TBM_SETRANGE, TRUE, MAKELPARAM(0, 15));

    EncoderSettings& w = words_;
    SetCombo(kProfileCombo, IndexOf(kProfileValues, w[kParProfile], 1));
    // While the filter streams, the level it codes at.
    int level = w[kParLevel];
    if (FilterRunning()) {
        VARIANT v;
        VariantInit(&v);
        if (SUCCEEDED(config_->GetValue(KeyOfWord(kParLevel), &v)) && SUCCEEDED(VariantChangeType(&v, &v, 0, VT_I4)))
            level = V_I4(&v);
        VariantClear(&v);
    }
    SetCombo(kLevelCombo, IndexOf(kLevelValues, level, 0));
    SetIntEdit(kGopEdit, w[kParGopLength]);
    SetIntEdit(kBFramesEdit, w[kParBFrames]);
    SetCheck(kSceneCheck, w[kParSceneDetect] == 3);
    const bool main = w[kParProfile] == 77;
    SetCheck(kCabacRadio, main && w[kParCabac] == 1);
    SetCheck(kCavlcRadio, !main || w[kParCabac] == 0);
    if (w[kParProfile] == 66) SetIntEdit(kBFramesEdit, 0);
    SetCombo(kRateCombo, IndexOf(kRateModeValues, w[kParRateMode], 0));
    SendDlgItemMessageW(window_, kQualityTrack, TBM_SETPOS, TRUE, std::clamp(w[kParQuality], 0, 15));
    auto kbps = [&](int id, int32_t word) {
        if (word == kUnsetWord)
            SetIntEdit(id, word);
        else
            SetIntEdit(id, int32_t((int64_t(word) + 500) / 1000));
    };
    kbps(kAvgRateEdit, w[kParAvgBitRate]);
    kbps(kMaxRateEdit, w[kParMaxBitRate]);
    SetCheck(kInterlacedCheck, (w[kParFlags] & 1) != 0);
    SetCheck(kDeblockCheck, (w[kParFlags] & 2) != 0);
    SetCheck(kStampsCheck, (w[kParFlags] & 4) != 0);
    if (w[kParFrameRate100] <= 0) w[kParFrameRate100] = 3000;
    SetRateEdit(kTargetRateEdit, w[kParFrameRate100]);
    SetCheck(kFixedRateCheck, w.fixedRateOn);
    SetRateEdit(kFixedRateEdit, w.fixedRate100);
    SetDlgItemTextW(window_, kGopPreview, GopPreview(w[kParGopLength], w[kParBFrames]).c_str());
}

void CMainSettingsPage::ReadControls() {
    EncoderSettings& w = words_;
    const int profile = ComboIndex(kProfileCombo);
    if (profile >= 0 && profile < 3) w[kParProfile] = kProfileValues[profile];
    const int level = ComboIndex(kLevelCombo);
    w[kParLevel] = level >= 1 && level < int(std::size(kLevelValues)) ? kLevelValues[level] : 52;
    ReadIntEdit(kGopEdit, &w[kParGopLength]);
    ReadIntEdit(kBFramesEdit, &w[kParBFrames]);
    if (w[kParProfile] == 66) w[kParBFrames] = 0;
    w[kParSceneDetect] = Checked(kSceneCheck) ? 3 : 0;
    w[kParCabac] = Checked(kCabacRadio) ? 1 : 0;
    const int mode = ComboIndex(kRateCombo);
    if (mode >= 0 && mode < 3) w[kParRateMode] = kRateModeValues[mode];
    w[kParQuality] = int32_t(SendDlgItemMessageW(window_, kQualityTrack, TBM_GETPOS, 0, 0));
    auto kbps = [&](int id, int32_t* word) {
        int32_t value = *word;
        ReadIntEdit(id, &value);
        if (value == kUnsetWord)
            *word = kUnsetWord;
        else if (value != int32_t((int64_t(*word) + 500) / 1000) || *word == kUnsetWord)
            *word = int32_t(std::clamp<int64_t>(int64_t(value) * 1000, INT32_MIN, INT32_MAX));
    };
    kbps(kAvgRateEdit, &w[kParAvgBitRate]);
    kbps(kMaxRateEdit, &w[kParMaxBitRate]);
    w[kParFlags] =
        (Checked(kInterlacedCheck) ? 1 : 0) | (Checked(kDeblockCheck) ? 2 : 0) | (Checked(kStampsCheck) ? 4 : 0);
    ReadRateEdit(kTargetRateEdit, &w[kParFrameRate100]);
    w.fixedRateOn = Checked(kFixedRateCheck);
    ReadRateEdit(kFixedRateEdit, &w.fixedRate100);
    SetDlgItemTextW(window_, kGopPreview, GopPreview(w[kParGopLength], w[kParBFrames]).c_str());
}

void CMainSettingsPage::RenewControlState() {
    EncoderSettings& w = words_;
    const bool stopped = !FilterRunning();
    for (int id : {kProfileCombo, kLevelCombo, kGopEdit, kRateCombo, kDeblockCheck, kStampsCheck, kTargetRateEdit,
                   kFixedRateCheck})
        Enable(id, stopped);
    const bool main = w[kParProfile] == 77;
    Enable(kCabacRadio, main && stopped);
    Enable(kCavlcRadio, stopped);
    if (!main && Checked(kCabacRadio)) {
        SetCheck(kCabacRadio, false);
        SetCheck(kCavlcRadio, true);
        w[kParCabac] = 0;
    }
    const bool baseline = w[kParProfile] == 66;
    Enable(kBFramesEdit, stopped && !baseline);
    if (baseline && (w[kParBFrames] != 0 || GetDlgItemInt(window_, kBFramesEdit, nullptr, TRUE) != 0)) {
        w[kParBFrames] = 0;
        SetIntEdit(kBFramesEdit, 0);
    }
    Enable(kSceneCheck, stopped && w[kParGopLength] > w[kParBFrames] + 1);
    const bool constant = w[kParRateMode] == 0;
    Enable(kQualityTrack, constant && stopped);
    Enable(kQualityValue, constant && stopped);
    SetIntEdit(kQualityValue, w[kParQuality]);
    Enable(kAvgRateEdit, w[kParRateMode] == 2 || w[kParRateMode] == 3);
    Enable(kMaxRateEdit, w[kParRateMode] == 2);
    Enable(kInterlacedCheck, false);
    Enable(kFixedRateEdit, stopped && w.fixedRateOn);
    if (w.fixedRate100 < 100) {
        w.fixedRate100 = 100;
        SetRateEdit(kFixedRateEdit, 100);
    }
    if (w.fixedRateOn && w[kParFrameRate100] > w.fixedRate100) {
        w[kParFrameRate100] = w.fixedRate100;
        SetRateEdit(kTargetRateEdit, w.fixedRate100);
    }
}

// ---- Advanced settings ----

CUnknown* CAdvancedSettingsPage::CreateInstance(IUnknown* outer, HRESULT* hr) {
    auto* page = new (std::nothrow) CAdvancedSettingsPage(outer);
    if (!page) *hr = E_OUTOFMEMORY;
    return page;
}

CAdvancedSettingsPage::CAdvancedSettingsPage(IUnknown* outer)
    : CEncoderPropertyPage(L"h.264 encoder advanced settings page", outer, kAdvancedDialog, kAdvancedTitle,
                           kAdvancedLoaded, int(std::size(kAdvancedLoaded)), kAdvancedWritten,
                           int(std::size(kAdvancedWritten))) {}

bool CAdvancedSettingsPage::Handles(int id, int code) const {
    switch (id) {
        case kRdoCombo:
        case kRangeCombo:
        case kSubpelCombo:
            return code == CBN_SELCHANGE;
        case kMotionCheck:
        case kPartitionCheck:
        case kProfessionalCheck:
            return true;
        default:
            return false;
    }
}

void CAdvancedSettingsPage::SetupControls() {
    auto fill = [&](int id, const wchar_t* const* texts, size_t n) {
        SendDlgItemMessageW(window_, id, CB_RESETCONTENT, 0, 0);
        for (size_t i = 0; i < n; ++i)
            SendDlgItemMessageW(window_, id, CB_ADDSTRING, 0, LPARAM(texts[i]));
    };
    fill(kRdoCombo, kRdo, std::size(kRdo));
    fill(kRangeCombo, kRanges, std::size(kRanges));
    fill(kSubpelCombo, kSubpel, std::size(kSubpel));
    const EncoderSettings& w = words_;
    SetCombo(kRdoCombo, w[kParMbCoderLevel] == 0 ? 0 : 1);
    SetCheck(kProfessionalCheck, w[kParMbCoderLevel] == 2);
    SetCheck(kMotionCheck, w[kParMotionSearch] == 1);
    SetCombo(kRangeCombo, w[kParRangeY] <= 32 ? 0 : w[kParRangeY] <= 64 ? 1 : 2);
    SetCombo(kSubpelCombo, w[kParSubpelDepth] >= 0 && w[kParSubpelDepth] <= 2 ? w[kParSubpelDepth] : 0);
    SetCheck(kPartitionCheck, (w[kParPartitions] & 0x0E) != 0);
}

void CAdvancedSettingsPage::ReadControls() {
    EncoderSettings& w = words_;
    if (ComboIndex(kRdoCombo) == 0) {
        SetCheck(kProfessionalCheck, false);
        w[kParMbCoderLevel] = 0;
    } else {
        w[kParMbCoderLevel] = Checked(kProfessionalCheck) ? 2 : 1;
    }
    w[kParMotionSearch] = Checked(kMotionCheck) ? 1 : 0;
    const int range = ComboIndex(kRangeCombo);
    if (range >= 0 && range < 3) w[kParRangeX] = w[kParRangeY] = 32 << range;
    const int subpel = ComboIndex(kSubpelCombo);
    if (subpel >= 0 && subpel < 3) w[kParSubpelDepth] = subpel;
    w[kParPartitions] = Checked(kPartitionCheck) ? 15 : 1;
}

void CAdvancedSettingsPage::RenewControlState() {
    const EncoderSettings& w = words_;
    const bool stopped = !FilterRunning();
    const bool inter = stopped && w[kParGopLength] > 1;
    Enable(kRdoCombo, stopped);
    Enable(kProfessionalCheck, stopped);
    Enable(kMotionCheck, inter);
    Enable(kRangeCombo, inter && w[kParMotionSearch] != 0);
    Enable(kSubpelCombo, inter && w[kParMotionSearch] != 0);
    Enable(kPartitionCheck, inter && w[kParMotionSearch] != 0 && w[kParMbCoderLevel] != 0);
}

// ---- About ----

CUnknown* CAboutPage::CreateInstance(IUnknown* outer, HRESULT* hr) {
    auto* page = new (std::nothrow) CAboutPage(outer);
    if (!page) *hr = E_OUTOFMEMORY;
    return page;
}

CAboutPage::CAboutPage(IUnknown* outer)
    : CBasePropertyPage(L"h.264 encoder about page", outer, kAboutDialog, kAboutTitle) {}

HRESULT CAboutPage::OnActivate() {
    HMODULE module = ServerModule();
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16) /* RT_VERSION */);
    if (!found) return S_OK;
    HGLOBAL loaded = LoadResource(module, found);
    const DWORD size = SizeofResource(module, found);
    const BYTE* data = loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
    if (!data) return S_OK;
    // The fixed file information follows the key; found by its signature within bounds.
    for (DWORD at = 0; at + sizeof(VS_FIXEDFILEINFO) <= size; at += 4) {
        const auto* info = reinterpret_cast<const VS_FIXEDFILEINFO*>(data + at);
        if (info->dwSignature != 0xFEEF04BD) continue;
        wchar_t text[96];
        swprintf(text, 96, L"Version %u.%u.%u (build %u)", HIWORD(info->dwFileVersionMS), LOWORD(info->dwFileVersionMS),
                 HIWORD(info->dwFileVersionLS), LOWORD(info->dwFileVersionLS));
        SetDlgItemTextW(window_, kAboutVersion, text);
        break;
    }
    return S_OK;
}

}  // namespace ombrisk
