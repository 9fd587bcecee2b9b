// The codec inventory's machine: the Video for Windows codec manager and the DirectShow
// video compressor category.
#include <windows.h>
#include <dshow.h>
#include <vfw.h>

#include <cstdio>

#include "app/profiles/codec_list.h"

namespace profiles {
namespace {

// The Video for Windows compressor wrapper filter.
constexpr CLSID kVfwCompressorWrapper = {0xD76E2820, 0x1563, 0x11CF, {0xAC, 0x98, 0x00, 0xAA, 0x00, 0x4C, 0x0F, 0xA9}};

std::string Narrow(const wchar_t* text, int bytes) {
    char buffer[260] = {};
    WideCharToMultiByte(CP_ACP, 0, text, -1, buffer, bytes, nullptr, nullptr);
    buffer[bytes - 1] = '\0';
    return buffer;
}

class WinCodecPlatform : public CodecPlatform {
public:
    bool OpenCompressor(uint32_t index, std::string* description, Handle* handle) override {
        ICINFO info{};
        info.dwSize = sizeof info;
        if (!ICInfo(ICTYPE_VIDEO, index, &info)) return false;
        *handle = 0;
        description->clear();
        HIC hic = ICOpen(ICTYPE_VIDEO, info.fccHandler, ICMODE_QUERY);
        if (!hic) return true;
        ICINFO full{};
        full.dwSize = sizeof full;
        if (ICGetInfo(hic, &full, sizeof full) != 0) *description = Narrow(full.szDescription, 260);
        *handle = reinterpret_cast<Handle>(hic);
        return true;
    }
    void CloseCompressor(Handle handle) override {
        if (handle) ICClose(reinterpret_cast<HIC>(handle));
    }
    bool ListCompressorFilters(std::vector<FoundFilter>* filters, std::string* error) override {
        ICreateDevEnum* devices = nullptr;
        HRESULT hr = CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                      reinterpret_cast<void**>(&devices));
        IEnumMoniker* monikers = nullptr;
        if (SUCCEEDED(hr)) hr = devices->CreateClassEnumerator(CLSID_VideoCompressorCategory, &monikers, 0);
        if (devices) devices->Release();
        if (FAILED(hr)) {
            char text[64];
            std::snprintf(text, sizeof text, "The video compressors cannot be listed (error 0x%08lX).",
                          static_cast<unsigned long>(hr));
            *error = text;
            return false;
        }
        if (hr == S_FALSE || !monikers) return true;  // an empty category
        IMoniker* moniker = nullptr;
        // Bounded like the codec manager pass.
        for (int n = 0; n < 1024 && monikers->Next(1, &moniker, nullptr) == S_OK; ++n) {
            FoundFilter found;
            IPropertyBag* bag = nullptr;
            if (SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&bag)))) {
                VARIANT name;
                VariantInit(&name);
                if (SUCCEEDED(bag->Read(L"FriendlyName", &name, nullptr)) && name.vt == VT_BSTR)
                    found.friendlyName = Narrow(name.bstrVal, 80);
                VariantClear(&name);
                bag->Release();
            }
            IBaseFilter* filter = nullptr;
            if (SUCCEEDED(
                    moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&filter)))) {
                CLSID cls{};
                found.vfwWrapper = SUCCEEDED(filter->GetClassID(&cls)) && IsEqualCLSID(cls, kVfwCompressorWrapper);
                found.filter = reinterpret_cast<Filter>(filter);
                filters->push_back(found);
            }
            moniker->Release();
        }
        monikers->Release();
        return true;
    }
    void ReleaseFilter(Filter filter) override {
        if (filter) reinterpret_cast<IBaseFilter*>(filter)->Release();
    }
    void ShowError(const std::string& text) override {
        MessageBoxA(nullptr, text.c_str(), nullptr, MB_OK | MB_ICONEXCLAMATION);
    }
    bool CanConfigure(Handle handle) override { return ICQueryConfigure(reinterpret_cast<HIC>(handle)); }
    void Configure(Handle handle, uintptr_t parentWindow) override {
        ICConfigure(reinterpret_cast<HIC>(handle), reinterpret_cast<HWND>(parentWindow));
    }
    uint32_t GetStateSize(Handle handle) override {
        const LRESULT size = ICGetStateSize(reinterpret_cast<HIC>(handle));
        return size > 0 ? static_cast<uint32_t>(size) : 0;
    }
    void GetState(Handle handle, void* buffer, uint32_t size) override {
        ICGetState(reinterpret_cast<HIC>(handle), buffer, size);
    }
};

}  // namespace

CodecPlatform& DefaultCodecPlatform() {
    static WinCodecPlatform platform;
    return platform;
}

}  // namespace profiles
