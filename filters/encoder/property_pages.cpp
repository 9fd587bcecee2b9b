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

constexpr int kMainWords[] = {kParProfile, kParLevel,        kParGopLength,    kParBFrames,      kParSceneDetect,
                              kParCabac,   kParRateMode,     kParAvgBitRate,   kParMaxBitRate,   kParQuality,
                              kParFlags,   kParFrameRate100, kWordFixedRateOn, kWordFixedRate100};
constexpr int kAdvancedLoaded[] = {kParGopLength, kParMbCoderLevel, kParMotionSearch, kParRangeY,
                                   kParRangeX,    kParSubpelDepth,  kParPartitions};
constexpr int kAdvancedWritten[] = {kParMbCoderLevel, kParMotionSearch, kParRangeY,
                                    kParRangeX,       kParSubpelDepth,  kParPartitions};
constexpr CRadioGroup::Button kEntropyButtons[] = {{kCabacRadio, 1}, {kCavlcRadio, 0}, {0, 0}};

template <size_t N>
void Fill(CComboControl& combo, const wchar_t* const (&texts)[N]) {
    combo.Clear();
    for (const wchar_t* text : texts)
        combo.AddText(text);
}

template <size_t N>
int IndexOf(const int (&values)[N], int value, int fallback) {
    for (size_t i = 0; i < N; ++i)
        if (values[i] == value) return int(i);
    return fallback;
}

int32_t* WordOf(EncoderSettings& s, int word) {
    if (word == kWordFixedRateOn) return nullptr;
    if (word == kWordFixedRate100) return &s.fixedRate100;
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
    const HRESULT setup = SetupControls();
    updating_ = false;
    loaded_ = setup == S_OK;
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

void CEncoderPropertyPage::SetDirty(bool dirty) {
    CBasePropertyPage::SetDirty(dirty);
}

void CEncoderPropertyPage::LoadDefaults() {
    CAutoLock lock(&pageLock_);
    LoadValues(true);
    loaded_ = false;
    updating_ = true;
    const HRESULT hr = SetupControls();
    updating_ = false;
    loaded_ = hr == S_OK;
}

void CEncoderPropertyPage::Bind(CDialogControl& control, int id) {
    control.SetWindow(window_ ? GetDlgItem(window_, id) : nullptr);
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

HRESULT CMainSettingsPage::SetupControls() {
    CAutoLock lock(&pageLock_);
    Bind(profile_, kProfileCombo);
    Bind(level_, kLevelCombo);
    Bind(gop_, kGopEdit);
    Bind(bFrames_, kBFramesEdit);
    Bind(preview_, kGopPreview);
    Bind(scene_, kSceneCheck);
    Bind(cabac_, kCabacRadio);
    Bind(cavlc_, kCavlcRadio);
    Bind(rateMode_, kRateCombo);
    Bind(avgRate_, kAvgRateEdit);
    Bind(maxRate_, kMaxRateEdit);
    Bind(quality_, kQualityTrack);
    Bind(qualityValue_, kQualityValue);
    Bind(interlaced_, kInterlacedCheck);
    Bind(deblock_, kDeblockCheck);
    Bind(stamps_, kStampsCheck);
    Bind(targetRate_, kTargetRateEdit);
    Bind(fixedRate_, kFixedRateEdit);
    Bind(fixedRateOn_, kFixedRateCheck);

    Fill(profile_, kProfiles);
    Fill(level_, kLevels);
    Fill(rateMode_, kRateModes);
    gop_.LimitText(3);
    bFrames_.LimitText(1);
    avgRate_.LimitText(5);
    maxRate_.LimitText(5);
    targetRate_.LimitText(5);
    fixedRate_.LimitText(5);
    entropy_.SetTable(window_, kEntropyButtons);
    quality_.SetRange(0, 15);

    EncoderSettings& w = words_;
    profile_.Select(IndexOf(kProfileValues, w[kParProfile], 1));
    // While the filter streams, the level it codes at.
    int level = w[kParLevel];
    if (FilterRunning()) {
        VARIANT v;
        VariantInit(&v);
        if (SUCCEEDED(config_->GetValue(KeyOfWord(kParLevel), &v)) && SUCCEEDED(VariantChangeType(&v, &v, 0, VT_I4)))
            level = V_I4(&v);
        VariantClear(&v);
    }
    level_.Select(IndexOf(kLevelValues, level, 0));
    gop_.SetInt(w[kParGopLength]);
    bFrames_.SetInt(w[kParBFrames]);
    scene_.Set(w[kParSceneDetect] == 3);
    entropy_.SetValue(w[kParProfile] == 77 ? w[kParCabac] : 0);
    if (w[kParProfile] == 66) bFrames_.SetInt(0);
    rateMode_.Select(IndexOf(kRateModeValues, w[kParRateMode], 0));
    quality_.SetPosition(w[kParQuality]);
    auto kbps = [&](CEditControl& edit, int32_t word) {
        edit.SetInt(word == kUnsetWord ? word : int32_t((int64_t(word) + 500) / 1000));
    };
    kbps(avgRate_, w[kParAvgBitRate]);
    kbps(maxRate_, w[kParMaxBitRate]);
    interlaced_.Set(w[kParFlags] & 1);
    deblock_.Set(w[kParFlags] & 2);
    stamps_.Set(w[kParFlags] & 4);
    if (w[kParFrameRate100] <= 0) w[kParFrameRate100] = 3000;
    targetRate_.SetFrameRate(w[kParFrameRate100]);
    fixedRateOn_.Set(w.fixedRateOn);
    fixedRate_.SetFrameRate(w.fixedRate100);
    ShowPreview();
    RenewControlState();
    return S_OK;
}

void CMainSettingsPage::ShowPreview() {
    preview_.SetText(GopPreview(words_[kParGopLength], words_[kParBFrames]).c_str());
}

void CMainSettingsPage::ReadControls() {
    EncoderSettings& w = words_;
    const int profile = profile_.Selected();
    if (profile >= 0 && profile < 3) w[kParProfile] = kProfileValues[profile];
    const int level = level_.Selected();
    if (level_.Attached()) w[kParLevel] = level >= 1 && level < int(std::size(kLevelValues)) ? kLevelValues[level] : 52;
    gop_.ReadInt(&w[kParGopLength]);
    bFrames_.ReadInt(&w[kParBFrames]);
    if (w[kParProfile] == 66) w[kParBFrames] = 0;
    if (const int scene = scene_.Read(); scene >= 0) w[kParSceneDetect] = scene ? 3 : 0;
    if (cabac_.Attached()) w[kParCabac] = entropy_.Value();
    const int mode = rateMode_.Selected();
    if (mode >= 0 && mode < 3) w[kParRateMode] = kRateModeValues[mode];
    w[kParQuality] = quality_.Position();
    auto kbps = [&](const CEditControl& edit, int32_t* word) {
        int32_t value = *word;
        if (!edit.ReadInt(&value)) return;
        if (value == kUnsetWord)
            *word = kUnsetWord;
        else if (value != int32_t((int64_t(*word) + 500) / 1000) || *word == kUnsetWord)
            *word = int32_t(std::clamp<int64_t>(int64_t(value) * 1000, INT32_MIN, INT32_MAX));
    };
    kbps(avgRate_, &w[kParAvgBitRate]);
    kbps(maxRate_, &w[kParMaxBitRate]);
    const int interlaced = interlaced_.Read(), deblock = deblock_.Read(), stamps = stamps_.Read();
    if (interlaced >= 0 && deblock >= 0 && stamps >= 0) w[kParFlags] = interlaced | deblock << 1 | stamps << 2;
    targetRate_.ReadFrameRate(&w[kParFrameRate100]);
    if (const int fixed = fixedRateOn_.Read(); fixed >= 0) w.fixedRateOn = fixed == 1;
    fixedRate_.ReadFrameRate(&w.fixedRate100);
    ShowPreview();
}

void CMainSettingsPage::RenewControlState() {
    EncoderSettings& w = words_;
    const bool running = FilterRunning();
    for (CDialogControl* c : std::initializer_list<CDialogControl*>{&profile_, &level_, &gop_, &rateMode_, &deblock_,
                                                                    &stamps_, &targetRate_, &fixedRateOn_})
        c->SetDisabled(running);
    const bool main = w[kParProfile] == 77;
    cabac_.SetDisabled(!main || running);
    cavlc_.SetDisabled(running);
    if (!main && cabac_.Read() == 1) {
        entropy_.SetValue(0);
        w[kParCabac] = 0;
    }
    const bool baseline = w[kParProfile] == 66;
    bFrames_.SetDisabled(running || baseline);
    int32_t shown = 0;
    if (baseline && (w[kParBFrames] != 0 || (bFrames_.ReadInt(&shown) && shown != 0))) {
        w[kParBFrames] = 0;
        bFrames_.SetInt(0);
    }
    scene_.SetDisabled(running || w[kParGopLength] <= w[kParBFrames] + 1);
    const bool constant = w[kParRateMode] == 0;
    quality_.SetDisabled(!constant || running);
    qualityValue_.SetDisabled(!constant || running);
    qualityValue_.SetInt(w[kParQuality]);
    avgRate_.SetDisabled(w[kParRateMode] != 2 && w[kParRateMode] != 3);
    maxRate_.SetDisabled(w[kParRateMode] != 2);
    interlaced_.SetDisabled(true);
    fixedRate_.SetDisabled(running || !w.fixedRateOn);
    if (w.fixedRate100 < 100) {
        w.fixedRate100 = 100;
        fixedRate_.SetFrameRate(100);
    }
    if (w.fixedRateOn && w[kParFrameRate100] > w.fixedRate100) {
        w[kParFrameRate100] = w.fixedRate100;
        targetRate_.SetFrameRate(w.fixedRate100);
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

HRESULT CAdvancedSettingsPage::SetupControls() {
    CAutoLock lock(&pageLock_);
    Bind(rdo_, kRdoCombo);
    Bind(motion_, kMotionCheck);
    Bind(range_, kRangeCombo);
    Bind(subpel_, kSubpelCombo);
    Bind(partition_, kPartitionCheck);
    Bind(professional_, kProfessionalCheck);
    Fill(rdo_, kRdo);
    Fill(range_, kRanges);
    Fill(subpel_, kSubpel);
    const EncoderSettings& w = words_;
    rdo_.Select(w[kParMbCoderLevel] == 0 ? 0 : 1);
    professional_.Set(w[kParMbCoderLevel] == 2);
    motion_.Set(w[kParMotionSearch] == 1);
    range_.Select(w[kParRangeY] <= 32 ? 0 : w[kParRangeY] <= 64 ? 1 : 2);
    subpel_.Select(w[kParSubpelDepth] >= 0 && w[kParSubpelDepth] <= 2 ? w[kParSubpelDepth] : 0);
    partition_.Set((w[kParPartitions] & 0x0E) != 0);
    RenewControlState();
    return S_OK;
}

void CAdvancedSettingsPage::ReadControls() {
    EncoderSettings& w = words_;
    const int rdo = rdo_.Selected();
    if (rdo == 0) {
        professional_.Set(0);
        w[kParMbCoderLevel] = 0;
    } else if (rdo > 0) {
        w[kParMbCoderLevel] = professional_.Read() == 1 ? 2 : 1;
    }
    if (const int motion = motion_.Read(); motion >= 0) w[kParMotionSearch] = motion;
    const int range = range_.Selected();
    if (range >= 0 && range < 3) w[kParRangeX] = w[kParRangeY] = 32 << range;
    const int subpel = subpel_.Selected();
    if (subpel >= 0 && subpel < 3) w[kParSubpelDepth] = subpel;
    if (const int partition = partition_.Read(); partition >= 0) w[kParPartitions] = partition ? 15 : 1;
}

void CAdvancedSettingsPage::RenewControlState() {
    const EncoderSettings& w = words_;
    const bool stopped = !FilterRunning();
    const bool inter = stopped && w[kParGopLength] > 1;
    rdo_.SetDisabled(!stopped);
    professional_.SetDisabled(!stopped);
    motion_.SetDisabled(!inter);
    range_.SetDisabled(!(inter && w[kParMotionSearch] != 0));
    subpel_.SetDisabled(!(inter && w[kParMotionSearch] != 0));
    partition_.SetDisabled(!(inter && w[kParMotionSearch] != 0 && w[kParMbCoderLevel] != 0));
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
