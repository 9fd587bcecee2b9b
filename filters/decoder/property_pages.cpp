#include "filters/decoder/property_pages.h"

#include <commctrl.h>

#include <cstdio>
#include <new>

#include "filters/base/server.h"
#include "filters/decoder/pelldrin_ids.h"

namespace pelldrin {

namespace {

const wchar_t* const kModeNames[4] = {L"Decode anyway", L"Skip till I slice", L"Skip bogus reference",
                                      L"Skip till IDR"};

HRESULT ReadValue(IKestruneConfig* config, const GUID& key, VARTYPE type, VARIANT* out) {
    VariantInit(out);
    HRESULT hr = config->GetValue(&key, out);
    if (FAILED(hr)) return hr;
    return VariantChangeType(out, out, 0, type);
}

HRESULT WriteValue(IKestruneConfig* config, const GUID& key, VARTYPE type, LONG value) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = type;
    if (type == VT_BOOL)
        V_BOOL(&v) = value ? VARIANT_TRUE : VARIANT_FALSE;
    else
        V_I4(&v) = value;
    const HRESULT hr = config->SetValue(&key, &v);
    VariantClear(&v);
    return hr;
}

}  // namespace

CUnknown* EPropertyPage::CreateInstance(IUnknown* outer, HRESULT* hr) {
    auto* page = new (std::nothrow) EPropertyPage(outer);
    if (!page) *hr = E_OUTOFMEMORY;
    return page;
}

EPropertyPage::EPropertyPage(IUnknown* outer)
    : CBasePropertyPage(L"H.264 decoder settings page", outer, kSettingsDialog, kSettingsTitle) {}

EPropertyPage::~EPropertyPage() {
    if (config_) config_->Release();
}

HRESULT EPropertyPage::OnConnect(IUnknown* object) {
    if (!object) return E_POINTER;
    IKestruneConfig* config = nullptr;
    const HRESULT hr = object->QueryInterface(IID_IKestruneConfig, reinterpret_cast<void**>(&config));
    if (FAILED(hr)) return hr;
    if (!config) return E_NOINTERFACE;
    if (config_) config_->Release();
    config_ = config;
    active_ = false;
    return S_OK;
}

HRESULT EPropertyPage::OnDisconnect() {
    if (config_) config_->Release();
    config_ = nullptr;
    return S_OK;
}

HRESULT EPropertyPage::OnActivate() {
    if (!config_) return E_UNEXPECTED;
    EConfig read;
    VARIANT v;
    if (SUCCEEDED(ReadValue(config_, kDecoderEnableVideoInfo, VT_BOOL, &v))) {
        read.enableVideoInfo = V_BOOL(&v) != VARIANT_FALSE;
        if (SUCCEEDED(ReadValue(config_, kDecoderDecodingLevel, VT_I4, &v))) {
            read.decodingLevel = static_cast<AVC_DECODING_LEVEL>(V_I4(&v));
            if (SUCCEEDED(ReadValue(config_, kDecoderDeinterlaceMode, VT_UI4, &v))) {
                read.deinterlaceMode = V_UI4(&v);
                if (SUCCEEDED(ReadValue(config_, kDecoderInvertFieldOrder, VT_BOOL, &v))) {
                    read.invertFieldOrder = V_BOOL(&v) != VARIANT_FALSE;
                    if (SUCCEEDED(ReadValue(config_, kDecoderUpsampleHq, VT_BOOL, &v))) {
                        read.upsampleHq = V_BOOL(&v) != VARIANT_FALSE;
                        if (SUCCEEDED(ReadValue(config_, kDecoderErrorResilienceMode, VT_I4, &v)))
                            read.errorResilienceMode = static_cast<AVC_ERROR_RESILIENCE_MODE>(V_I4(&v));
                    }
                }
            }
        }
    }
    shown_ = read;
    const int radio = read.decodingLevel == kDecodeAll             ? kRadioDecodeAll
                      : read.decodingLevel == kDecodeReferenceOnly ? kRadioReferenceOnly
                                                                   : kRadioObeyQuality;
    CheckRadioButton(window_, kRadioObeyQuality, kRadioDecodeAll, radio);
    CheckDlgButton(window_, kCheckVerticalFilter, read.deinterlaceMode != 0 ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(window_, kCheckUpsampleHq, read.upsampleHq ? BST_CHECKED : BST_UNCHECKED);
    HWND list = GetDlgItem(window_, kListErrorResilience);
    SendMessageW(list, CB_RESETCONTENT, 0, 0);
    for (const wchar_t* name : kModeNames)
        SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
    SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(read.errorResilienceMode), 0);
    active_ = true;
    return S_OK;
}

HRESULT EPropertyPage::OnDeactivate() {
    active_ = false;
    return S_OK;
}

EConfig EPropertyPage::FromControls() const {
    // Settings without a control keep the values read at activation.
    EConfig c = shown_;
    if (IsDlgButtonChecked(window_, kRadioDecodeAll) == BST_CHECKED)
        c.decodingLevel = kDecodeAll;
    else if (IsDlgButtonChecked(window_, kRadioReferenceOnly) == BST_CHECKED)
        c.decodingLevel = kDecodeReferenceOnly;
    else
        c.decodingLevel = kObeyQuality;
    // A non-zero mode shown as checked stays as it was.
    const bool vertical = IsDlgButtonChecked(window_, kCheckVerticalFilter) == BST_CHECKED;
    c.deinterlaceMode = vertical ? (shown_.deinterlaceMode != 0 ? shown_.deinterlaceMode : 1) : 0;
    c.upsampleHq = IsDlgButtonChecked(window_, kCheckUpsampleHq) == BST_CHECKED;
    const LRESULT selected = SendDlgItemMessageW(window_, kListErrorResilience, CB_GETCURSEL, 0, 0);
    if (selected >= 0 && selected <= 3) c.errorResilienceMode = static_cast<AVC_ERROR_RESILIENCE_MODE>(selected);
    return c;
}

void EPropertyPage::DirtyTest() {
    SetDirty(!(FromControls() == shown_));
}

INT_PTR EPropertyPage::OnReceiveMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_COMMAND && active_) {
        DirtyTest();
        return 1;
    }
    return CBasePropertyPage::OnReceiveMessage(window, message, wparam, lparam);
}

HRESULT EPropertyPage::OnApplyChanges() {
    if (!config_) return E_FAIL;
    const EConfig c = FromControls();
    HRESULT hr = WriteValue(config_, kDecoderEnableVideoInfo, VT_BOOL, c.enableVideoInfo);
    if (SUCCEEDED(hr)) hr = WriteValue(config_, kDecoderDecodingLevel, VT_I4, c.decodingLevel);
    if (SUCCEEDED(hr)) hr = WriteValue(config_, kDecoderDeinterlaceMode, VT_I4, static_cast<LONG>(c.deinterlaceMode));
    if (SUCCEEDED(hr)) hr = WriteValue(config_, kDecoderInvertFieldOrder, VT_BOOL, c.invertFieldOrder);
    if (SUCCEEDED(hr)) hr = WriteValue(config_, kDecoderUpsampleHq, VT_BOOL, c.upsampleHq);
    if (SUCCEEDED(hr)) hr = WriteValue(config_, kDecoderErrorResilienceMode, VT_I4, c.errorResilienceMode);
    // A refused value is reported: nothing is committed or stored.
    if (FAILED(hr)) return hr;
    hr = config_->Commit(nullptr);
    if (FAILED(hr)) return hr;
    shown_ = c;
    SaveDecoderSettings(c);
    return S_OK;
}

CUnknown* EPropertyPageAbout::CreateInstance(IUnknown* outer, HRESULT* hr) {
    auto* page = new (std::nothrow) EPropertyPageAbout(outer);
    if (!page) *hr = E_OUTOFMEMORY;
    return page;
}

EPropertyPageAbout::EPropertyPageAbout(IUnknown* outer)
    : CBasePropertyPage(L"H.264 decoder about page", outer, kAboutDialog, kAboutTitle) {}

HRESULT EPropertyPageAbout::OnActivate() {
    HMODULE module = ServerModule();
    HRSRC found = FindResourceW(module, L"#1", MAKEINTRESOURCEW(16) /* RT_VERSION */);
    if (!found) return S_OK;
    HGLOBAL loaded = LoadResource(module, found);
    const DWORD size = SizeofResource(module, found);
    const BYTE* data = loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
    if (!data || size < 40) return S_OK;
    // The fixed file information follows the "VS_VERSION_INFO" key; find its signature
    // within the resource's bounds.
    for (DWORD at = 0; at + sizeof(VS_FIXEDFILEINFO) <= size; at += 4) {
        const auto* info = reinterpret_cast<const VS_FIXEDFILEINFO*>(data + at);
        if (info->dwSignature != 0xFEEF04BD) continue;
        wchar_t text[96];
        swprintf(text, 96, L"%u.%u.%u (build %u) beta", HIWORD(info->dwFileVersionMS), LOWORD(info->dwFileVersionMS),
                 HIWORD(info->dwFileVersionLS), LOWORD(info->dwFileVersionLS));
        SetDlgItemTextW(window_, kStaticVersion, text);
        break;
    }
    return S_OK;
}

}  // namespace pelldrin
