// The encoder library's class table and exports: the filter and its three pages.
// Registration also keeps the key "Filter\{clsid}" under HKEY_CLASSES_ROOT; removal
// deletes it and the filter's settings key.
#include <windows.h>
#include <uuids.h>

#include <cwchar>

#include "filters/base/server.h"
#include "filters/encoder/ombrisk_filter.h"
#include "filters/encoder/ombrisk_ids.h"
#include "filters/encoder/property_pages.h"

namespace {

using namespace ombrisk;

const REGPINTYPES kInputTypes[] = {{&MEDIATYPE_Video, &GUID_NULL}};
const REGPINTYPES kOutputTypes[] = {{&MEDIATYPE_Video, &kMediaSubtypeH264}};
const REGFILTERPINS kPins[] = {
    {const_cast<LPWSTR>(L"Input"), FALSE, FALSE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, kInputTypes},
    {const_cast<LPWSTR>(L"Output"), FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, kOutputTypes},
};
// MERIT_DO_NOT_USE: graphs take the encoder only when asked for it by name.
const FilterSetup kSetup = {0x00200000, 2, kPins};

const FactoryTemplate kTemplates[] = {
    {kEncoderFilterName, &CLSID_KestruneAvcEncoder, &CEncoderFilter::CreateInstance, &kSetup},
    {L"About", &CLSID_EncoderAboutPage, &CAboutPage::CreateInstance, nullptr},
    {L"Main settings", &CLSID_EncoderMainPage, &CMainSettingsPage::CreateInstance, nullptr},
    {L"Advanced settings", &CLSID_EncoderAdvancedPage, &CAdvancedSettingsPage::CreateInstance, nullptr},
};

}  // namespace

FILTERBASE_DEFINE_SERVER_ENTRY_EXPORTS(kTemplates)

STDAPI DllRegisterServer() {
    const HRESULT hr = ServerRegister(kTemplates, true);
    if (FAILED(hr)) return hr;
    if (FAILED(ServerFilterKey(CLSID_KestruneAvcEncoder, true))) return E_FAIL;
    return hr;
}

STDAPI DllUnregisterServer() {
    const HRESULT hr = ServerRegister(kTemplates, false);
    if (SUCCEEDED(hr)) ServerFilterKey(CLSID_KestruneAvcEncoder, false);
    RegDeleteKeyA(HKEY_CURRENT_USER, kEncoderRegistryKey);
    return hr;
}
