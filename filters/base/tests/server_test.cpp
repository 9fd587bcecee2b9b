// The COM server kit: class factory, aggregation, object and lock counts, and
// registration of the pass-through library through regsvr32.
#include "filters/base/server.h"

#include <uuids.h>

#include <string>

#include <gtest/gtest.h>

#include "filters/base/tests/com_test_util.h"
#include "filters/base/tests/passthrough_filter.h"

namespace {

using comtest::RefCount;

constexpr CLSID kClsidSample = {0x1a2b3c4d, 0x0001, 0x0002, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr CLSID kClsidFailing = {0x1a2b3c4d, 0x0001, 0x0003, {1, 2, 3, 4, 5, 6, 7, 8}};

// A plain object answering IPersist, to exercise the factory and aggregation.
class SampleObject final : public CUnknown, public IPersist {
public:
    static CUnknown* Create(IUnknown* outer, HRESULT*) { return new SampleObject(outer); }
    FILTERBASE_DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IPersist) return GetInterface(static_cast<IPersist*>(this), out);
        return CUnknown::NonDelegatingQueryInterface(iid, out);
    }
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override {
        *clsid = kClsidSample;
        return S_OK;
    }

private:
    explicit SampleObject(IUnknown* outer) : CUnknown(L"sample", outer) {}
};

CUnknown* CreateFailing(IUnknown*, HRESULT* hr) {
    *hr = E_OUTOFMEMORY;
    return nullptr;
}

const FactoryTemplate kTable[] = {
    {L"Sample", &kClsidSample, &SampleObject::Create, nullptr},
    {L"Failing", &kClsidFailing, &CreateFailing, nullptr},
};

// An outer object that aggregates a SampleObject: its own count, and IPersist answered
// by the inner object.
class Outer final : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown) {
            *out = this;
            AddRef();
            return S_OK;
        }
        return inner ? inner->QueryInterface(iid, out) : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++count; }
    ULONG STDMETHODCALLTYPE Release() override { return --count; }
    ULONG count = 1;
    IUnknown* inner = nullptr;
};

IClassFactory* Factory(REFCLSID clsid) {
    IClassFactory* factory = nullptr;
    EXPECT_EQ(ServerGetClassObject(kTable, clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    return factory;
}

TEST(ServerKit, ClassObjectLookupAndArguments) {
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(ServerGetClassObject(kTable, kClsidPassThrough, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(ServerGetClassObject(kTable, kClsidSample, IID_IPersist, &out), E_NOINTERFACE);
    EXPECT_EQ(ServerGetClassObject(kTable, kClsidSample, IID_IClassFactory, nullptr), E_POINTER);
}

TEST(ServerKit, CreatesCountsAndUnloads) {
    const LONG baseObjects = ServerObjectCount();
    IClassFactory* factory = Factory(kClsidSample);
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(ServerCanUnloadNow(), S_FALSE) << "a held factory keeps the server loaded";

    IPersist* persist = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IPersist, reinterpret_cast<void**>(&persist)), S_OK);
    EXPECT_EQ(RefCount(persist), 1u);
    // A query for an interface the object lacks deletes the new object.
    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IBaseFilter, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(ServerObjectCount(), baseObjects + 2) << "factory and one object";

    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(persist->Release(), 0u);
    EXPECT_EQ(factory->Release(), 0u);
    EXPECT_EQ(ServerObjectCount(), baseObjects);
    EXPECT_EQ(ServerCanUnloadNow(), S_FALSE) << "the lock holds";
    ServerLock(false);
    ServerLock(false);  // unbalanced: ignored
    EXPECT_EQ(ServerLockCount(), 0);
    if (baseObjects == 0) {
        EXPECT_EQ(ServerCanUnloadNow(), S_OK);
    }
}

TEST(ServerKit, CreationFailureIsReported) {
    IClassFactory* factory = Factory(kClsidFailing);
    ASSERT_NE(factory, nullptr);
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, &out), E_OUTOFMEMORY);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(factory->Release(), 0u);
}

TEST(ServerKit, AggregationDelegatesToTheOuterObject) {
    IClassFactory* factory = Factory(kClsidSample);
    ASSERT_NE(factory, nullptr);
    Outer outer;
    void* out = nullptr;
    // An aggregated object may only be asked for its inner IUnknown.
    EXPECT_EQ(factory->CreateInstance(&outer, IID_IPersist, &out), CLASS_E_NOAGGREGATION);
    ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)), S_OK);
    EXPECT_EQ(outer.count, 1u) << "the inner object holds no reference on its outer";

    IPersist* persist = nullptr;
    ASSERT_EQ(outer.QueryInterface(IID_IPersist, reinterpret_cast<void**>(&persist)), S_OK);
    EXPECT_EQ(outer.count, 2u) << "references on the inner interfaces count on the outer object";
    IUnknown* identity = nullptr;
    ASSERT_EQ(persist->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
    EXPECT_EQ(identity, static_cast<IUnknown*>(&outer));
    identity->Release();
    persist->Release();
    EXPECT_EQ(outer.count, 1u);
    EXPECT_EQ(outer.inner->Release(), 0u) << "the outer object's reference on the inner IUnknown is the last";
    EXPECT_EQ(factory->Release(), 0u);
}

TEST(ServerKit, RegistryStringOfAGuid) {
    wchar_t text[39];
    GuidToRegistryString(kClsidPassThrough, text);
    EXPECT_STREQ(text, L"{6E1B3C52-8F0A-4D3B-9C61-2A7F5D0E4B19}");
}

// ---- registration through regsvr32 ----

std::wstring ClsidKey() {
    wchar_t guid[39];
    GuidToRegistryString(kClsidPassThrough, guid);
    return std::wstring(L"CLSID\\") + guid;
}

std::wstring InstanceKey() {
    wchar_t category[39], guid[39];
    GuidToRegistryString(CLSID_LegacyAmFilterCategory, category);
    GuidToRegistryString(kClsidPassThrough, guid);
    return std::wstring(L"CLSID\\") + category + L"\\Instance\\" + guid;
}

bool KeyExists(const std::wstring& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

std::wstring ReadString(const std::wstring& path, const wchar_t* name) {
    return comtest::ClassesRootString(path, name);
}

TEST(ServerRegistration, Regsvr32WritesAndRemovesEverything) {
    comtest::ComScope com;
    comtest::RegistrationLock lock;
    ASSERT_TRUE(lock.Held());
    const std::wstring dll = comtest::WinePath(PASSTHROUGH_DLL);
    // Start from a clean prefix state whatever an earlier run left.
    comtest::Regsvr32(dll, true);
    ASSERT_FALSE(KeyExists(ClsidKey()));
    ASSERT_FALSE(KeyExists(InstanceKey()));

    ASSERT_EQ(comtest::Regsvr32(dll, false), 0);
    EXPECT_EQ(ReadString(ClsidKey(), nullptr), kPassThroughName);
    EXPECT_EQ(ReadString(ClsidKey() + L"\\InprocServer32", nullptr), dll);
    EXPECT_EQ(ReadString(ClsidKey() + L"\\InprocServer32", L"ThreadingModel"), L"Both");
    // The filter mapper's record: name, class and the binary filter data with the pins.
    EXPECT_EQ(ReadString(InstanceKey(), L"FriendlyName"), kPassThroughName);
    DWORD dataBytes = 0;
    EXPECT_EQ(RegGetValueW(HKEY_CLASSES_ROOT, InstanceKey().c_str(), L"FilterData", RRF_RT_REG_BINARY, nullptr, nullptr,
                           &dataBytes),
              ERROR_SUCCESS);
    EXPECT_GT(dataBytes, 16u);

    // Created by class identifier from the registered library.
    IBaseFilter* filter = nullptr;
    ASSERT_EQ(CoCreateInstance(kClsidPassThrough, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                               reinterpret_cast<void**>(&filter)),
              S_OK);
    CLSID clsid{};
    EXPECT_EQ(filter->GetClassID(&clsid), S_OK);
    EXPECT_EQ(clsid, kClsidPassThrough);
    HMODULE module = GetModuleHandleW(L"passthrough.dll");
    ASSERT_NE(module, nullptr);
    auto canUnload = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
    ASSERT_NE(canUnload, nullptr);
    EXPECT_EQ(canUnload(), S_FALSE);
    EXPECT_EQ(filter->Release(), 0u);
    EXPECT_EQ(canUnload(), S_OK);

    ASSERT_EQ(comtest::Regsvr32(dll, true), 0);
    EXPECT_FALSE(KeyExists(ClsidKey()));
    EXPECT_FALSE(KeyExists(InstanceKey()));
    IBaseFilter* gone = nullptr;
    EXPECT_EQ(CoCreateInstance(kClsidPassThrough, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                               reinterpret_cast<void**>(&gone)),
              REGDB_E_CLASSNOTREG);
    // A second removal finds nothing to remove and still succeeds.
    EXPECT_EQ(comtest::Regsvr32(dll, true), 0);
}

}  // namespace
