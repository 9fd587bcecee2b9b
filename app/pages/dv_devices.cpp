#include "app/pages/dv_devices.h"

#include <dshow.h>

#include <cstdio>
#include <cstring>

#include "app/resources/resource_ids.h"
#include "engines/interfaces.h"
#include "framework/app.h"

namespace dvdevices {

namespace {

constexpr DWORD kQueryBytes = 256;
constexpr int kMaxKeys = 1024;  // caps on registry walks: the keys come from outside

LONG ReadDword(HKEY root, const std::string& key, const char* name, DWORD* value) {
    HKEY h = nullptr;
    LONG rc = RegOpenKeyExA(root, key.c_str(), 0, KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS, &h);
    if (rc != ERROR_SUCCESS) return rc;
    DWORD type = 0, bytes = sizeof *value;
    rc = RegQueryValueExA(h, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &bytes);
    RegCloseKey(h);
    if (rc == ERROR_SUCCESS && (type != REG_DWORD || bytes != sizeof *value)) rc = ERROR_INVALID_DATA;
    return rc;
}

LONG ReadString(HKEY root, const std::string& key, const char* name, std::string* value) {
    HKEY h = nullptr;
    LONG rc = RegOpenKeyExA(root, key.c_str(), 0, KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS, &h);
    if (rc != ERROR_SUCCESS) return rc;
    char buffer[256] = {};
    DWORD type = 0, bytes = sizeof buffer - 1;
    rc = RegQueryValueExA(h, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes);
    RegCloseKey(h);
    if (rc != ERROR_SUCCESS) return rc;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_INVALID_DATA;
    buffer[std::min<DWORD>(bytes, sizeof buffer - 1)] = 0;
    value->assign(buffer, strnlen(buffer, sizeof buffer));
    return ERROR_SUCCESS;
}

bool SubkeyAt(HKEY root, const std::string& key, DWORD index, std::string* name) {
    HKEY h = nullptr;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_ENUMERATE_SUB_KEYS, &h) != ERROR_SUCCESS) return false;
    char buffer[512] = {};
    DWORD bytes = sizeof buffer;
    const LONG rc = RegEnumKeyExA(h, index, buffer, &bytes, nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(h);
    if (rc != ERROR_SUCCESS) return false;
    name->assign(buffer, strnlen(buffer, sizeof buffer));
    return true;
}

}  // namespace

bool QueryEngineString(int slot, const char* input, std::string* answer) {
    answer->clear();
    IEngineInfo* info = nullptr;
    if (FAILED(CoCreateInstance(CLSID_EngineInfo, nullptr, CLSCTX_INPROC_SERVER, IID_IEngineInfo,
                                reinterpret_cast<void**>(&info))) ||
        !info)
        return false;
    char buffer[kQueryBytes] = {};
    lstrcpynA(buffer, input ? input : "", kQueryBytes);
    HRESULT hr = E_FAIL;
    if (slot == 3) hr = info->QueryString(buffer, kQueryBytes);
    if (slot == 4) hr = info->QueryString2(buffer, kQueryBytes);
    if (slot == 5) hr = info->QueryString3(buffer, kQueryBytes);
    info->Release();
    if (FAILED(hr)) return false;
    answer->assign(buffer, strnlen(buffer, kQueryBytes));
    return true;
}

std::string IncludeText() {
    std::string text;
    QueryEngineString(3, "include MicroMV", &text);
    return text;
}

bool EngineInfoAvailable() {
    std::string ignored;
    return QueryEngineString(3, "", &ignored);
}

bool IsListedDevice(const char* name, int* kind) {
    *kind = 0;
    if (!name) return false;
    std::string first, second;
    QueryEngineString(4, "", &first);
    QueryEngineString(5, "", &second);
    if (!first.empty() && strstr(name, first.c_str())) {
        *kind = 1;
        return true;
    }
    if (!second.empty() && strstr(name, second.c_str())) {
        *kind = 2;
        return true;
    }
    return false;
}

bool IsVideoInputDevice(const char* name) {
    if (!name) return false;
    ICreateDevEnum* devices = nullptr;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                reinterpret_cast<void**>(&devices))))
        return false;
    bool found = false;
    IEnumMoniker* monikers = nullptr;
    if (devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0) == S_OK) {
        IMoniker* moniker = nullptr;
        for (int guard = 0; !found && guard < 256 && monikers->Next(1, &moniker, nullptr) == S_OK; ++guard) {
            IPropertyBag* bag = nullptr;
            if (SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&bag)))) {
                VARIANT v;
                VariantInit(&v);
                if (SUCCEEDED(bag->Read(L"FriendlyName", &v, nullptr)) && v.vt == VT_BSTR && v.bstrVal) {
                    char friendly[260] = {};
                    WideCharToMultiByte(CP_ACP, 0, v.bstrVal, -1, friendly, sizeof friendly - 1, nullptr, nullptr);
                    found = friendly[0] && strstr(name, friendly);
                }
                VariantClear(&v);
                bag->Release();
            }
            moniker->Release();
        }
        monikers->Release();
    }
    devices->Release();
    return found;
}

int FindDVDeviceInDeviceClasses(bool listed) {
    const std::string answer = IncludeText();
    std::string interfaceKey, reference;
    for (DWORD i = 0; i < kMaxKeys && SubkeyAt(HKEY_LOCAL_MACHINE, kCaptureClassKey, i, &interfaceKey); ++i) {
        const std::string base = std::string(kCaptureClassKey) + "\\" + interfaceKey;
        for (DWORD j = 0; j < kMaxKeys && SubkeyAt(HKEY_LOCAL_MACHINE, base, j, &reference); ++j) {
            const std::string key = base + "\\" + reference;
            DWORD linked = 0;
            if (ReadDword(HKEY_LOCAL_MACHINE, key + "\\Control", "Linked", &linked) != ERROR_SUCCESS || !linked)
                continue;
            std::string friendly;
            if (ReadString(HKEY_LOCAL_MACHINE, key + "\\Device Parameters", "FriendlyName", &friendly) !=
                    ERROR_SUCCESS ||
                friendly.empty())
                continue;
            const bool named = answer.find(friendly) != std::string::npos;
            if (listed) {
                if (named) return 1;
                continue;
            }
            if (reference != "#GLOBAL" && !IsVideoInputDevice(friendly.c_str())) continue;
            if (!named) return 1;
        }
    }
    return 0;
}

std::vector<DeviceLabel> EnumerateDevices(ISystemLayerDV* engine) {
    std::vector<DeviceLabel> devices;
    for (DWORD index = 0; engine && index < 64; ++index) {
        char name[129] = {};
        const HRESULT hr = engine->EnumDevice(index, name, 128);
        if (FAILED(hr)) break;
        DeviceLabel entry;
        entry.engineName = name;
        std::string label = entry.engineName;
        const size_t open = label.rfind('('), close = label.rfind(')');
        if (open != std::string::npos && close != std::string::npos && close > open)
            label = label.substr(open + 1, close - open - 1);
        if (lstrcmpiA(label.c_str(), "victor") == 0) label = AfxLoadString(IDS_DV_LABEL_LISTED_MAKER).c_str();
        int kind = 0;
        const bool listed = IsListedDevice(name, &kind);
        char text[260];
        std::snprintf(text, sizeof text, "%u. %s %s", unsigned(index + 1), label.c_str(),
                      AfxLoadString(listed ? IDS_DV_KIND_LISTED : IDS_DV_KIND_PLAIN).c_str());
        entry.text = text;
        devices.push_back(entry);
        if (hr != S_OK) break;
    }
    return devices;
}

}  // namespace dvdevices

BEGIN_MESSAGE_MAP(CDVDeviceSelectDlg, CDialog)
ON_CBN_SELCHANGE(IDC_DV_DEVICE_COMBO, OnSelChange)
END_MESSAGE_MAP()

CDVDeviceSelectDlg::CDVDeviceSelectDlg(CWnd* page, std::vector<std::string> texts, const char* current)
    : CDialog(IDD_DV_DEVICE_SELECT, page),
      page_(page),
      texts_(std::move(texts)),
      initial_(current ? current : ""),
      lastSent_(initial_) {}

BOOL CDVDeviceSelectDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    HWND combo = ::GetDlgItem(m_hWnd, IDC_DV_DEVICE_COMBO);
    for (const std::string& text : texts_)
        ::SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    ::SendMessageA(combo, CB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(initial_.c_str()));
    return TRUE;
}

void CDVDeviceSelectDlg::Send(const std::string& text) {
    if (!page_ || !page_->m_hWnd) return;
    DeviceChosenRecord record{};
    record.hdr.hwndFrom = m_hWnd;
    record.hdr.idFrom = IDD_DV_DEVICE_SELECT;
    record.hdr.code = kNotifyChosen;
    lstrcpynA(record.text, text.c_str(), sizeof record.text);
    ::SendMessageA(page_->m_hWnd, WM_NOTIFY, IDD_DV_DEVICE_SELECT, reinterpret_cast<LPARAM>(&record));
    lastSent_ = text;
}

void CDVDeviceSelectDlg::OnSelChange() {
    HWND combo = ::GetDlgItem(m_hWnd, IDC_DV_DEVICE_COMBO);
    const LRESULT index = ::SendMessageA(combo, CB_GETCURSEL, 0, 0);
    if (index < 0 || static_cast<size_t>(index) >= texts_.size()) return;
    char text[260] = {};
    const LRESULT length = ::SendMessageA(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length < 0 || length >= static_cast<LRESULT>(sizeof text)) return;
    ::SendMessageA(combo, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text));
    if (lastSent_ != text) Send(text);
}

void CDVDeviceSelectDlg::OnCancel() {
    if (lastSent_ != initial_) Send(initial_);
    CDialog::OnCancel();
}
