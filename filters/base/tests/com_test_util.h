// Helpers of the filter tests: COM on the test thread, reference counts, an interface
// matrix reported at the caller's line, the pass-through library's registration, a
// watchdog against hangs.
#pragma once

#include <windows.h>
#include <dshow.h>

#include <cstdio>
#include <initializer_list>
#include <string>
#include <utility>

#include <gtest/gtest.h>
#include "filters/base/tests/named_lock.h"
#include "filters/base/tests/watchdog.h"

namespace comtest {

struct ComScope {
    HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    ~ComScope() {
        if (SUCCEEDED(hr)) CoUninitialize();
    }
};

// The reference count as the object reports it (AddRef answers the new count).
inline ULONG RefCount(IUnknown* object) {
    object->AddRef();
    return object->Release();
}

// One row of an interface matrix: the interface and whether the object answers it.
struct Row {
    const IID* iid;
    const char* name;
    bool supported;
};
#define IFACE_ROW(iid, supported) \
    comtest::Row {                \
        &iid, #iid, supported     \
    }

// Checks each row, the COM identity (every interface answers the same IUnknown), that
// a failed query clears its out-pointer, and that no query changes the count.
inline void CheckInterfaces(IUnknown* object, std::initializer_list<Row> rows, int line) {
    SCOPED_TRACE(testing::Message() << "interface matrix called from line " << line);
    const ULONG before = RefCount(object);
    IUnknown* identity = nullptr;
    ASSERT_EQ(object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
    for (const Row& row : rows) {
        void* out = reinterpret_cast<void*>(0xdeadbeef);
        const HRESULT hr = object->QueryInterface(*row.iid, &out);
        if (row.supported) {
            EXPECT_EQ(hr, S_OK) << row.name;
            if (hr != S_OK) continue;
            IUnknown* itf = static_cast<IUnknown*>(out);
            IUnknown* back = nullptr;
            EXPECT_EQ(itf->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&back)), S_OK) << row.name;
            EXPECT_EQ(back, identity) << row.name << " breaks COM identity";
            if (back) back->Release();
            itf->Release();
        } else {
            EXPECT_EQ(hr, E_NOINTERFACE) << row.name;
            EXPECT_EQ(out, nullptr) << row.name;
        }
    }
    identity->Release();
    EXPECT_EQ(RefCount(object), before);
}
#define CHECK_INTERFACES(object, ...) comtest::CheckInterfaces(object, {__VA_ARGS__}, __LINE__)

// A Linux path of the build as a Windows path under Wine.
inline std::wstring WinePath(const char* unixPath) {
    std::wstring path = L"Z:";
    for (const char* c = unixPath; *c; ++c)
        path += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
    return path;
}

// Runs a program with a bounded wait; its exit code, or -1 when it could not run or
// did not end in time.
inline long RunProgram(std::wstring commandLine, DWORD timeoutMs = 120000) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return -1;
    long code = -1;
    if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0) {
        DWORD exitCode = 0;
        GetExitCodeProcess(process.hProcess, &exitCode);
        code = static_cast<long>(exitCode);
    } else {
        TerminateProcess(process.hProcess, 1);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

// A string value under HKEY_CLASSES_ROOT (`name` null for the key's default value), or
// "<missing>".
inline std::wstring ClassesRootString(const std::wstring& path, const wchar_t* name) {
    wchar_t value[512] = L"";
    DWORD bytes = sizeof value - sizeof(wchar_t);
    if (RegGetValueW(HKEY_CLASSES_ROOT, path.c_str(), name, RRF_RT_REG_SZ, nullptr, value, &bytes) != ERROR_SUCCESS)
        return L"<missing>";
    return value;
}

inline long Regsvr32(const std::wstring& dll, bool unregister) {
    return RunProgram(std::wstring(L"regsvr32.exe /s ") + (unregister ? L"/u " : L"") + L"\"" + dll + L"\"");
}

// Tests that depend on the registration of the pass-through library hold this
// machine-wide mutex, so that parallel test processes do not register and remove it
// under each other.
class RegistrationLock : public NamedLock {
public:
    RegistrationLock() : NamedLock(L"CaptureSuite.filterbase.registration", 300000) {}
};

}  // namespace comtest

namespace comtest {

// The pass-through transform straight from its library, without the registry.
inline IBaseFilter* LoadPassThrough(const CLSID& clsid) {
    HMODULE module = LoadLibraryW(WinePath(PASSTHROUGH_DLL).c_str());
    if (!module) return nullptr;
    using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto get = reinterpret_cast<GetClassObjectFn>(reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    if (!get) return nullptr;
    IClassFactory* factory = nullptr;
    if (FAILED(get(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)))) return nullptr;
    IBaseFilter* filter = nullptr;
    factory->CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&filter));
    factory->Release();
    return filter;
}

// The pin of `filter` with direction `direction` (a reference added), or null.
inline IPin* FindPinByDirection(IBaseFilter* filter, PIN_DIRECTION direction) {
    IEnumPins* pins = nullptr;
    if (FAILED(filter->EnumPins(&pins))) return nullptr;
    IPin* pin = nullptr;
    IPin* found = nullptr;
    while (!found && pins->Next(1, &pin, nullptr) == S_OK) {
        PIN_DIRECTION dir;
        if (SUCCEEDED(pin->QueryDirection(&dir)) && dir == direction)
            found = pin;
        else
            pin->Release();
    }
    pins->Release();
    return found;
}

}  // namespace comtest
