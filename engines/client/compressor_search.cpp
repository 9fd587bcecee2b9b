#include "engines/client/compressor_search.h"

#include <dshow.h>
#include <uuids.h>

#include <cstring>

namespace {

template <typename T>
void SafeRelease(T*& p) {
    if (p) p->Release();
    p = nullptr;
}

// The ANSI form of a wide name, cut at a character boundary to fit `bytes` with its NUL.
void ToAnsi(const wchar_t* wide, char* out, size_t bytes) {
    out[0] = 0;
    int n = WideCharToMultiByte(CP_ACP, 0, wide, -1, out, static_cast<int>(bytes), nullptr, nullptr);
    if (n > 0) return;
    // Too long: convert one character less until it fits.
    size_t length = wcslen(wide);
    while (length > 0) {
        --length;
        n = WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(length), out, static_cast<int>(bytes) - 1, nullptr,
                                nullptr);
        if (n > 0) {
            out[n] = 0;
            return;
        }
    }
    out[0] = 0;
}

void FreeMediaType(AM_MEDIA_TYPE* type) {
    if (!type) return;
    if (type->cbFormat) CoTaskMemFree(type->pbFormat);
    if (type->pUnk) type->pUnk->Release();
    CoTaskMemFree(type);
}

enum class WalkResult { kFound, kNone, kNoEnumerator };

// Walks the category's monikers until one's filter is of class `wrapper` and its ANSI name
// begins with `prefix`; that filter (a reference added) and its name come back.
WalkResult FindCompressor(const CLSID& category, const CLSID& wrapper, const char* prefix, char* name, size_t nameBytes,
                          IBaseFilter** found, HRESULT* error) {
    *found = nullptr;
    ICreateDevEnum* devices = nullptr;
    *error = CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                              IID_ICreateDevEnum, reinterpret_cast<void**>(&devices));
    if (FAILED(*error)) return WalkResult::kNoEnumerator;
    IEnumMoniker* monikers = nullptr;
    *error = devices->CreateClassEnumerator(category, &monikers, 0);
    SafeRelease(devices);
    if (FAILED(*error)) return WalkResult::kNoEnumerator;
    if (*error != S_OK || !monikers) return WalkResult::kNone;  // S_FALSE: empty category
    monikers->Reset();
    WalkResult result = WalkResult::kNone;
    IMoniker* moniker = nullptr;
    while (result == WalkResult::kNone && monikers->Next(1, &moniker, nullptr) == S_OK) {
        IPropertyBag* bag = nullptr;
        IBaseFilter* filter = nullptr;
        VARIANT value;
        VariantInit(&value);
        char text[kAudioCompressorNameBytes] = {};
        CLSID clsid = CLSID_NULL;
        bool ok = SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&bag)));
        value.vt = VT_BSTR;
        ok = ok && SUCCEEDED(bag->Read(L"FriendlyName", &value, nullptr)) && value.vt == VT_BSTR && value.bstrVal;
        if (ok) ToAnsi(value.bstrVal, text, nameBytes);
        ok = ok &&
             SUCCEEDED(moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&filter)));
        ok = ok && SUCCEEDED(filter->GetClassID(&clsid));
        if (ok && clsid == wrapper && CompressorNameMatches(text, prefix)) {
            memcpy(name, text, nameBytes);
            *found = filter;
            filter = nullptr;
            result = WalkResult::kFound;
        }
        VariantClear(&value);
        SafeRelease(filter);
        SafeRelease(bag);
        SafeRelease(moniker);
    }
    SafeRelease(monikers);
    return result;
}

}  // namespace

bool CompressorNameMatches(const char* name, const char* prefix) {
    const size_t length = strlen(prefix);
    return strlen(name) >= length && memcmp(name, prefix, length) == 0;
}

HRESULT CheckFilterCreatable(const CLSID& clsid) {
    IBaseFilter* filter = nullptr;
    if (FAILED(
            CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, reinterpret_cast<void**>(&filter))))
        filter = nullptr;
    if (!filter) return E_FAIL;
    filter->Release();
    return S_OK;
}

HRESULT FindVideoCompressor(char* name) {
    if (!name) return E_POINTER;
    IBaseFilter* filter = nullptr;
    HRESULT error = S_OK;
    const WalkResult result = FindCompressor(CLSID_VideoCompressorCategory, CLSID_AVICo, "DivX", name,
                                             kVideoCompressorNameBytes, &filter, &error);
    if (result == WalkResult::kNoEnumerator) {
        char text[MAX_ERROR_TEXT_LEN + 1] = {};
        AMGetErrorTextA(error, text, MAX_ERROR_TEXT_LEN);
        MessageBoxA(nullptr, text, nullptr, MB_OK);
    }
    SafeRelease(filter);
    return result == WalkResult::kFound ? S_OK : E_FAIL;
}

HRESULT FindAudioCompressor(char* name, WAVEFORMATEX** format) {
    if (!name) return E_POINTER;
    IBaseFilter* filter = nullptr;
    HRESULT error = S_OK;
    if (FindCompressor(CLSID_AudioCompressorCategory, CLSID_ACMWrapper, "MPEG Layer-3", name, kAudioCompressorNameBytes,
                       &filter, &error) != WalkResult::kFound)
        return E_FAIL;
    const HRESULT hr = MatchCompressorWaveFormat(filter, format);
    SafeRelease(filter);
    return hr;
}

HRESULT MatchCompressorWaveFormat(IUnknown* filter, WAVEFORMATEX** format) {
    if (!filter || !format || !*format) return E_FAIL;
    IBaseFilter* base = nullptr;
    if (FAILED(filter->QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&base)))) return E_FAIL;
    ICaptureGraphBuilder2* builder = nullptr;
    IAMStreamConfig* config = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                                   reinterpret_cast<void**>(&builder)))) {
        if (FAILED(
                builder->FindInterface(nullptr, nullptr, base, IID_IAMStreamConfig, reinterpret_cast<void**>(&config))))
            config = nullptr;
    }
    SafeRelease(builder);
    SafeRelease(base);
    if (!config) return E_FAIL;
    int count = 0, capsBytes = 0;
    HRESULT result = E_FAIL;
    if (SUCCEEDED(config->GetNumberOfCapabilities(&count, &capsBytes)) && count > 0 && capsBytes > 0 &&
        capsBytes <= 65536) {
        const BYTE* wanted = reinterpret_cast<const BYTE*>(*format);
        for (int i = 0; i < count && result != S_OK; ++i) {
            BYTE* caps = static_cast<BYTE*>(CoTaskMemAlloc(static_cast<size_t>(capsBytes)));
            if (!caps) break;
            AM_MEDIA_TYPE* type = nullptr;
            if (SUCCEEDED(config->GetStreamCaps(i, &type, caps)) && type && type->formattype == FORMAT_WaveFormatEx &&
                type->pbFormat && type->cbFormat >= sizeof(WAVEFORMATEX) &&
                memcmp(type->pbFormat + 2, wanted + 2, 14) == 0) {
                const auto* codec = reinterpret_cast<const WAVEFORMATEX*>(type->pbFormat);
                // The codec's extra bytes are copied only as far as its format block holds them.
                const size_t extra = codec->cbSize <= type->cbFormat - sizeof(WAVEFORMATEX) ? codec->cbSize : 0;
                auto* copy = static_cast<WAVEFORMATEX*>(CoTaskMemAlloc(sizeof(WAVEFORMATEX) + extra));
                if (copy) {
                    memcpy(copy, codec, sizeof(WAVEFORMATEX) + extra);
                    copy->cbSize = static_cast<WORD>(extra);
                    *format = copy;
                    result = S_OK;
                }
            }
            FreeMediaType(type);
            CoTaskMemFree(caps);
        }
    }
    SafeRelease(config);
    return result;
}
