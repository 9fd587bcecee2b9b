// A property page site for page tests: counts its references and records the status
// changes a page reports.
#pragma once

#include <windows.h>
#include <ocidl.h>

namespace comtest {

class RecordingSite final : public IPropertyPageSite {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IPropertyPageSite) {
            *out = this;
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    HRESULT STDMETHODCALLTYPE OnStatusChange(DWORD flags) override {
        lastStatus = flags;
        dirtyReports += flags == PROPPAGESTATUS_DIRTY;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetLocaleID(LCID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetPageContainer(IUnknown**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG*) override { return E_NOTIMPL; }

    ULONG refs = 1;  // the test's own
    DWORD lastStatus = 0;
    int dirtyReports = 0;
};

}  // namespace comtest
