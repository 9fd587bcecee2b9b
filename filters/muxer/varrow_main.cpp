// The Varrow library: the multiplexer filter and its two property pages.
#include <windows.h>
#include <dshow.h>

#include "filters/base/server.h"
#include "filters/muxer/mux_filter.h"
#include "filters/muxer/mux_pages.h"
#include "filters/muxer/varrow_ids.h"

namespace {

const REGPINTYPES kAnyStream = {&MEDIATYPE_Stream, &MEDIASUBTYPE_NULL};
const REGPINTYPES kAnyInput[] = {{&MEDIATYPE_Video, &MEDIASUBTYPE_NULL}, {&MEDIATYPE_Audio, &MEDIASUBTYPE_NULL}};
const REGFILTERPINS kPins[] = {
    {const_cast<LPWSTR>(L"Input"), FALSE, FALSE, FALSE, TRUE, &CLSID_NULL, nullptr, 2, kAnyInput},
    {const_cast<LPWSTR>(L"Output"), FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, &kAnyStream},
};
const FilterSetup kSetup = {0x200000, 2, kPins};

const FactoryTemplate kTemplates[] = {
    {L"Kestrune Varrow Muxer", &CLSID_VarrowMuxer, &CMuxFilter::CreateInstance, &kSetup},
    {L"Kestrune Varrow Property Page", &CLSID_VarrowSettingsPage, &CMuxPropertyPage::CreateInstance, nullptr},
    {L"Kestrune Varrow Version Info Property Page", &CLSID_VarrowVersionPage, &CVersionPage::CreateInstance, nullptr},
};

}  // namespace

FILTERBASE_DEFINE_SERVER_EXPORTS(kTemplates)
