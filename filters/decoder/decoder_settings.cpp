#include "filters/decoder/decoder_settings.h"

namespace pelldrin {

namespace {

HRESULT WriteDword(HKEY key, const char* name, DWORD value) {
    const LONG err = RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
    return HRESULT_FROM_WIN32(err);
}

// The value when it is a 4-byte REG_DWORD within [low, high].
bool ReadDword(HKEY key, const char* name, DWORD low, DWORD high, DWORD* value) {
    DWORD type = 0, read = 0, size = sizeof(read);
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&read), &size) != ERROR_SUCCESS)
        return false;
    if (type != REG_DWORD || size != sizeof(read) || read < low || read > high) return false;
    *value = read;
    return true;
}

}  // namespace

HRESULT SaveDecoderSettings(const EConfig& s) {
    HKEY key = nullptr;
    const LONG err =
        RegCreateKeyExA(HKEY_CURRENT_USER, kDecoderRegistryKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (err != ERROR_SUCCESS) return HRESULT_FROM_WIN32(err);
    HRESULT hr = WriteDword(key, "EnableVideoInfo", s.enableVideoInfo ? 1 : 0);
    if (SUCCEEDED(hr)) hr = WriteDword(key, "DecodingLevel", static_cast<DWORD>(s.decodingLevel));
    if (SUCCEEDED(hr)) hr = WriteDword(key, "DeinterlaceMode", s.deinterlaceMode);
    if (SUCCEEDED(hr)) hr = WriteDword(key, "InvertFieldOrder", s.invertFieldOrder ? 1 : 0);
    if (SUCCEEDED(hr)) hr = WriteDword(key, "UpsampleHQ", s.upsampleHq ? 1 : 0);
    if (SUCCEEDED(hr)) hr = WriteDword(key, "ErrorResilienceMode", static_cast<DWORD>(s.errorResilienceMode));
    RegCloseKey(key);
    return hr;
}

HRESULT LoadDecoderSettings(EConfig* s) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kDecoderRegistryKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return S_FALSE;
    DWORD v = 0;
    if (ReadDword(key, "EnableVideoInfo", 0, 0xFFFFFFFF, &v)) s->enableVideoInfo = v != 0;
    if (ReadDword(key, "DecodingLevel", 0, 2, &v)) s->decodingLevel = static_cast<AVC_DECODING_LEVEL>(v);
    if (ReadDword(key, "DeinterlaceMode", 0, 0xFFFFFFFF, &v)) s->deinterlaceMode = v;
    if (ReadDword(key, "InvertFieldOrder", 0, 0xFFFFFFFF, &v)) s->invertFieldOrder = v != 0;
    if (ReadDword(key, "UpsampleHQ", 0, 0xFFFFFFFF, &v)) s->upsampleHq = v != 0;
    if (ReadDword(key, "ErrorResilienceMode", 0, 3, &v))
        s->errorResilienceMode = static_cast<AVC_ERROR_RESILIENCE_MODE>(v);
    RegCloseKey(key);
    return S_OK;
}

}  // namespace pelldrin
