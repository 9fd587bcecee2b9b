// The decoder library's class table and exports: the filter and its two pages.
// Registration also keeps the key "Filter\{clsid}" under HKEY_CLASSES_ROOT.
#include <windows.h>
#include <uuids.h>

#include "filters/base/server.h"
#include "filters/decoder/pelldrin_filter.h"
#include "filters/decoder/pelldrin_ids.h"
#include "filters/decoder/property_pages.h"

namespace {

const REGPINTYPES kInputTypes[] = {
    {&MEDIATYPE_Video, &MEDIASUBTYPE_KestruneH264},
    {&MEDIATYPE_Video, &kMediaSubtypeAvc1},
    {&MEDIATYPE_Video, &kMediaSubtypeVssh},
};
const REGPINTYPES kOutputTypes[] = {{&MEDIATYPE_Video, &GUID_NULL}};
const REGFILTERPINS kPins[] = {
    {const_cast<LPWSTR>(L"Input"), FALSE, FALSE, FALSE, FALSE, &CLSID_NULL, const_cast<LPWSTR>(L"Output"), 3,
     kInputTypes},
    {const_cast<LPWSTR>(L"Output"), FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, const_cast<LPWSTR>(L"Input"), 1,
     kOutputTypes},
};
const FilterSetup kSetup = {0x00800100, 2, kPins};

const FactoryTemplate kTemplates[] = {
    {kDecoderFilterName, &CLSID_KestruneAvcDecoder, &pelldrin::CPelldrinoder::CreateInstance, &kSetup},
    {kSettingsPageName, &CLSID_KestruneAvcDecoderSettingsPage, &pelldrin::EPropertyPage::CreateInstance, nullptr},
    {kAboutPageName, &CLSID_KestruneAvcDecoderAboutPage, &pelldrin::EPropertyPageAbout::CreateInstance, nullptr},
};

}  // namespace

FILTERBASE_DEFINE_SERVER_ENTRY_EXPORTS(kTemplates)

STDAPI DllRegisterServer() {
    const HRESULT hr = ServerRegister(kTemplates, true);
    if (FAILED(hr)) return hr;
    if (FAILED(ServerFilterKey(CLSID_KestruneAvcDecoder, true))) return E_FAIL;
    return S_OK;
}

STDAPI DllUnregisterServer() {
    const HRESULT hr = ServerRegister(kTemplates, false);
    if (SUCCEEDED(hr)) ServerFilterKey(CLSID_KestruneAvcDecoder, false);
    return hr;
}
