// In-process COM server kit: the table of classes a library serves, its class factory,
// and the bodies of the four exports (DllGetClassObject, DllCanUnloadNow,
// DllRegisterServer, DllUnregisterServer).
//
// A library declares its classes once:
//
//   const FactoryTemplate kTemplates[] = {
//       {L"My Filter", &CLSID_MyFilter, &CMyFilter::CreateInstance, &kMyFilterSetup},
//       {L"My Page", &CLSID_MyPage, &CMyPage::CreateInstance, nullptr},
//   };
//   FILTERBASE_DEFINE_SERVER_EXPORTS(kTemplates)
//
// and lists the four exports in its .def file. Registration writes, for every class,
// HKEY_CLASSES_ROOT\CLSID\{clsid} (default value: the name) with the subkey
// InprocServer32 (default value: the library's path, ThreadingModel "Both"), and
// registers every class that carries a FilterSetup with the system filter mapper
// (IFilterMapper2) with its merit, pins and media types. Unregistration removes both.
#pragma once

#include <windows.h>
#include <strmif.h>

#include <span>

#include "filters/base/com_object.h"

// Creates an instance with the given outer unknown (null when not aggregated). On
// failure returns null and sets *hr (E_OUTOFMEMORY when allocation failed); on success
// *hr may be left as S_OK or set by a constructor that reports a failure.
using CreateInstanceFn = CUnknown* (*)(IUnknown* outer, HRESULT* hr);

// What the filter mapper learns about a filter class.
struct FilterSetup {
    DWORD merit;
    ULONG pinCount;
    const REGFILTERPINS* pins;
    // The category the filter is listed in; null for the DirectShow filters category.
    const CLSID* category = nullptr;
};

struct FactoryTemplate {
    const wchar_t* name;
    const CLSID* clsid;
    CreateInstanceFn create;
    const FilterSetup* filter;  // null for classes that are not filters (property pages)
};

// The module whose path registration writes; the current executable until
// ServerProcessAttach names the library.
HINSTANCE ServerModule();
void ServerProcessAttach(HINSTANCE module);

HRESULT ServerGetClassObject(std::span<const FactoryTemplate> classes, REFCLSID clsid, REFIID iid, void** out);
// S_OK when no object of the server is alive and no lock is held, else S_FALSE.
HRESULT ServerCanUnloadNow();
// Registers (`install` true) or removes every class of the table. Removal goes on past a
// failure so that as much as possible is removed, and answers the first failure.
HRESULT ServerRegister(std::span<const FactoryTemplate> classes, bool install);

// Creates (`install` true) or deletes the key HKEY_CLASSES_ROOT\Filter\{clsid} that
// filter libraries keep beside their registration. E_FAIL when it cannot be created;
// deleting a missing key is not a failure.
HRESULT ServerFilterKey(REFCLSID clsid, bool install);

// Registry form of a GUID, "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" (38 characters).
void GuidToRegistryString(REFGUID guid, wchar_t (&text)[39]);

// The entry point's work: remembers the module at process attach. Answers TRUE.
BOOL ServerDllMain(HINSTANCE module, DWORD reason);

// DllMain, DllGetClassObject and DllCanUnloadNow over a class table: the part of the
// exports every library has alike.
#define FILTERBASE_DEFINE_SERVER_ENTRY_EXPORTS(templates)                   \
    extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, void*) { \
        return ServerDllMain(module, reason);                               \
    }                                                                       \
    STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {      \
        return ServerGetClassObject(templates, clsid, iid, out);            \
    }                                                                       \
    STDAPI DllCanUnloadNow() {                                              \
        return ServerCanUnloadNow();                                        \
    }

// Defines DllMain and the four exports of a library over its class table, with a step of
// the library's own, `HRESULT extra(bool install)`, taken after the classes are registered
// (a failure is the registration's) and before they are removed (the classes go in any case;
// their failure comes first in the answer). Other libraries whose exports do more write
// them around ServerRegister, and their DllMain calls ServerDllMain.
#define FILTERBASE_DEFINE_SERVER_EXPORTS_WITH(templates, extra) \
    FILTERBASE_DEFINE_SERVER_ENTRY_EXPORTS(templates)           \
    STDAPI DllRegisterServer() {                                \
        const HRESULT hr = ServerRegister(templates, true);     \
        return FAILED(hr) ? hr : extra(true);                   \
    }                                                           \
    STDAPI DllUnregisterServer() {                              \
        const HRESULT own = extra(false);                       \
        const HRESULT hr = ServerRegister(templates, false);    \
        return FAILED(hr) ? hr : own;                           \
    }

// The same without a step of the library's own.
#define FILTERBASE_DEFINE_SERVER_EXPORTS(templates)   \
    FILTERBASE_DEFINE_SERVER_ENTRY_EXPORTS(templates) \
    STDAPI DllRegisterServer() {                      \
        return ServerRegister(templates, true);       \
    }                                                 \
    STDAPI DllUnregisterServer() {                    \
        return ServerRegister(templates, false);      \
    }
