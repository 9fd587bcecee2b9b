#include "filters/base/server.h"

#include <uuids.h>

#include <cstdio>
#include <new>

namespace {

HINSTANCE moduleHandle = nullptr;

// The factory of one class of the table. It counts as an object of the server, so the
// library stays loaded while a caller holds a factory.
class ClassFactory final : public CUnknown, public IClassFactory {
public:
    explicit ClassFactory(const FactoryTemplate& entry) : CUnknown(L"class factory", nullptr), entry_(entry) {}

    FILTERBASE_DECLARE_IUNKNOWN

    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IClassFactory) return GetInterface(static_cast<IClassFactory*>(this), out);
        return CUnknown::NonDelegatingQueryInterface(iid, out);
    }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        // COM aggregation: an outer object may only ask for our IUnknown.
        if (outer && iid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
        HRESULT hr = S_OK;
        CUnknown* object = entry_.create(outer, &hr);
        if (!object) return FAILED(hr) ? hr : E_OUTOFMEMORY;
        // Create by QueryInterface then Release: a failed query deletes the object.
        object->NonDelegatingAddRef();
        if (SUCCEEDED(hr)) hr = object->NonDelegatingQueryInterface(iid, out);
        object->NonDelegatingRelease();
        return hr;
    }

    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        ServerLock(lock != FALSE);
        return S_OK;
    }

private:
    const FactoryTemplate& entry_;
};

// Sets a string value (null name: the key's default value).
LONG SetString(HKEY key, const wchar_t* name, const wchar_t* value) {
    const DWORD bytes = static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t));
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), bytes);
}

HRESULT RegisterClassKeys(const FactoryTemplate& entry, const wchar_t* modulePath) {
    wchar_t guid[39];
    GuidToRegistryString(*entry.clsid, guid);
    wchar_t path[64];
    swprintf(path, 64, L"CLSID\\%ls", guid);
    HKEY clsidKey = nullptr;
    LONG rc = RegCreateKeyExW(HKEY_CLASSES_ROOT, path, 0, nullptr, 0, KEY_WRITE, nullptr, &clsidKey, nullptr);
    if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
    rc = SetString(clsidKey, nullptr, entry.name);
    HKEY serverKey = nullptr;
    if (rc == ERROR_SUCCESS)
        rc = RegCreateKeyExW(clsidKey, L"InprocServer32", 0, nullptr, 0, KEY_WRITE, nullptr, &serverKey, nullptr);
    if (rc == ERROR_SUCCESS) {
        rc = SetString(serverKey, nullptr, modulePath);
        if (rc == ERROR_SUCCESS) rc = SetString(serverKey, L"ThreadingModel", L"Both");
        RegCloseKey(serverKey);
    }
    RegCloseKey(clsidKey);
    return HRESULT_FROM_WIN32(rc);
}

HRESULT RemoveClassKeys(const FactoryTemplate& entry) {
    wchar_t guid[39];
    GuidToRegistryString(*entry.clsid, guid);
    wchar_t path[64];
    swprintf(path, 64, L"CLSID\\%ls", guid);
    const LONG rc = RegDeleteTreeW(HKEY_CLASSES_ROOT, path);
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(rc);
}

// Registers or removes the filters of the table with the filter mapper.
HRESULT RegisterFilters(std::span<const FactoryTemplate> classes, bool install) {
    IFilterMapper2* mapper = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                                  reinterpret_cast<void**>(&mapper));
    if (FAILED(hr)) return hr;
    HRESULT firstFailure = S_OK;
    for (const FactoryTemplate& entry : classes) {
        if (!entry.filter) continue;
        const CLSID& category = entry.filter->category ? *entry.filter->category : CLSID_LegacyAmFilterCategory;
        if (install) {
            REGFILTER2 data{};
            data.dwVersion = 1;
            data.dwMerit = entry.filter->merit;
            data.cPins = entry.filter->pinCount;
            data.rgPins = entry.filter->pins;
            hr = mapper->RegisterFilter(*entry.clsid, entry.name, nullptr, &category, nullptr, &data);
            if (FAILED(hr)) {
                firstFailure = hr;
                break;
            }
        } else {
            hr = mapper->UnregisterFilter(&category, nullptr, *entry.clsid);
            // A filter that was never registered is already gone.
            if (FAILED(hr) && hr != HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) && SUCCEEDED(firstFailure))
                firstFailure = hr;
        }
    }
    mapper->Release();
    return firstFailure;
}

}  // namespace

HINSTANCE ServerModule() {
    return moduleHandle ? moduleHandle : GetModuleHandleW(nullptr);
}
void ServerProcessAttach(HINSTANCE module) {
    moduleHandle = module;
}

BOOL ServerDllMain(HINSTANCE module, DWORD reason) {
    if (reason == DLL_PROCESS_ATTACH) ServerProcessAttach(module);
    return TRUE;
}

void GuidToRegistryString(REFGUID g, wchar_t (&text)[39]) {
    swprintf(text, 39, L"{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", static_cast<unsigned long>(g.Data1),
             g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6],
             g.Data4[7]);
}

HRESULT ServerGetClassObject(std::span<const FactoryTemplate> classes, REFCLSID clsid, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid != IID_IUnknown && iid != IID_IClassFactory) return E_NOINTERFACE;
    for (const FactoryTemplate& entry : classes) {
        if (*entry.clsid != clsid) continue;
        auto* factory = new (std::nothrow) ClassFactory(entry);
        if (!factory) return E_OUTOFMEMORY;
        factory->NonDelegatingAddRef();
        const HRESULT hr = factory->NonDelegatingQueryInterface(iid, out);
        factory->NonDelegatingRelease();
        return hr;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT ServerCanUnloadNow() {
    return ServerObjectCount() == 0 && ServerLockCount() == 0 ? S_OK : S_FALSE;
}

HRESULT ServerRegister(std::span<const FactoryTemplate> classes, bool install) {
    wchar_t modulePath[MAX_PATH];
    const DWORD length = GetModuleFileNameW(ServerModule(), modulePath, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return E_FAIL;

    // The filter mapper is a COM object; registration may be called on a thread
    // without COM (regsvr32 initialises it, other callers may not).
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    HRESULT result = S_OK;
    if (install) {
        for (const FactoryTemplate& entry : classes) {
            result = RegisterClassKeys(entry, modulePath);
            if (FAILED(result)) break;
        }
        if (SUCCEEDED(result)) result = RegisterFilters(classes, true);
        // A half-made registration is undone, so that a failure leaves nothing behind.
        if (FAILED(result)) {
            RegisterFilters(classes, false);
            for (const FactoryTemplate& entry : classes)
                RemoveClassKeys(entry);
        }
    } else {
        result = RegisterFilters(classes, false);
        for (const FactoryTemplate& entry : classes) {
            const HRESULT hr = RemoveClassKeys(entry);
            if (FAILED(hr) && SUCCEEDED(result)) result = hr;
        }
    }
    if (SUCCEEDED(com)) CoUninitialize();
    return result;
}

HRESULT ServerFilterKey(REFCLSID clsid, bool install) {
    wchar_t guid[39];
    GuidToRegistryString(clsid, guid);
    wchar_t name[64];
    swprintf(name, 64, L"Filter\\%ls", guid);
    if (!install) {
        RegDeleteKeyW(HKEY_CLASSES_ROOT, name);
        return S_OK;
    }
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, name, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return E_FAIL;
    RegCloseKey(key);
    return S_OK;
}
