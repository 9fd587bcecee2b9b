// The filters' configuration interfaces: GUID-keyed settings carried as VARIANTs.
// IKestruneConfig is answered by every filter (and by the multiplexer's programs and
// streams); IKestruneConfigEx, the multiplexer's extension, by the same pointer;
// IKestruneConfigSink is the client's change sink that an owner may be given.
#pragma once

#include <windows.h>

#include <objidl.h>
#include <oaidl.h>

// {08B81CB2-3380-4994-A4F3-F0B6E99747F4}
inline constexpr IID IID_IKestruneConfig = {
    0x08B81CB2, 0x3380, 0x4994, {0xA4, 0xF3, 0xF0, 0xB6, 0xE9, 0x97, 0x47, 0xF4}};
// {CBA3F141-5934-42D7-8356-6949A9DF81A9}
inline constexpr IID IID_IKestruneConfigEx = {
    0xCBA3F141, 0x5934, 0x42D7, {0x83, 0x56, 0x69, 0x49, 0xA9, 0xDF, 0x81, 0xA9}};
// {19B14C27-81C7-425E-81B4-B488521D07B4}
inline constexpr IID IID_IKestruneConfigSink = {
    0x19B14C27, 0x81C7, 0x425E, {0x81, 0xB4, 0xB4, 0x88, 0x52, 0x1D, 0x07, 0xB4}};
// {F5A37777-FD24-4733-A79A-2CBFEAAE0C88}: opens every persisted configuration.
inline constexpr GUID KestruneConfigStreamHeader = {
    0xF5A37777, 0xFD24, 0x4733, {0xA7, 0x9A, 0x2C, 0xBF, 0xEA, 0xAE, 0x0C, 0x88}};

// Slots 3-7 are IPersistStream's.
struct IKestruneConfig : public IPersistStream {
    virtual HRESULT STDMETHODCALLTYPE GetDefaultValue(const GUID* key, VARIANT* value) = 0;  // 8
    virtual HRESULT STDMETHODCALLTYPE GetParameterRange(const GUID* key, VARIANT* minimum, VARIANT* maximum,
                                                        VARIANT* step) = 0;                       // 9
    virtual HRESULT STDMETHODCALLTYPE GetValue(const GUID* key, VARIANT* value) = 0;              // 10
    virtual HRESULT STDMETHODCALLTYPE IsWritable(const GUID* key) = 0;                            // 11
    virtual HRESULT STDMETHODCALLTYPE IsSupported(const GUID* key) = 0;                           // 12
    virtual HRESULT STDMETHODCALLTYPE ResetToDefaults() = 0;                                      // 13
    virtual HRESULT STDMETHODCALLTYPE SetValue(const GUID* key, VARIANT* value) = 0;              // 14
    virtual HRESULT STDMETHODCALLTYPE Commit(VARIANT* message) = 0;                               // 15
    virtual HRESULT STDMETHODCALLTYPE SaveStreamToRegistry(HKEY root, const char* subkey) = 0;    // 16
    virtual HRESULT STDMETHODCALLTYPE LoadStreamFromRegistry(HKEY root, const char* subkey) = 0;  // 17
};

struct IKestruneConfigEx : public IKestruneConfig {
    virtual HRESULT STDMETHODCALLTYPE EnumParameters(ULONG* count, const GUID** keys) = 0;  // 18
    virtual HRESULT STDMETHODCALLTYPE GetParameterInfo(const GUID* key, BSTR* name, ULONG* count, VARIANT* values,
                                                       BSTR* names) = 0;                              // 19
    virtual HRESULT STDMETHODCALLTYPE GetEnumName(const GUID* key, VARIANT* value, BSTR* name) = 0;   // 20
    virtual HRESULT STDMETHODCALLTYPE GetEnumValue(const GUID* key, BSTR* text, VARIANT* value) = 0;  // 21
    virtual HRESULT STDMETHODCALLTYPE SetNotifySink(IUnknown* sink) = 0;                              // 22
    virtual HRESULT STDMETHODCALLTYPE ReservedMethod() = 0;                                           // 23
};

struct IKestruneConfigSink : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE OnValueChanged(const GUID* key, VARIANT* value) = 0;
};
