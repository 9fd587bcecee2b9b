// CBasePropertyPage: an IPropertyPage over a dialog template of the server's module.
// A derived page supplies the OnConnect / OnDisconnect / OnActivate / OnDeactivate /
// OnApplyChanges / OnReceiveMessage steps; the base keeps the page site, the dialog
// window and the dirty state:
// - SetObjects(1 object) calls OnConnect with it; SetObjects(0) calls OnDisconnect.
// - Activate creates the dialog as a child of the given parent and calls OnActivate;
//   Deactivate calls OnDeactivate and destroys it. A page that was shown and hidden
//   keeps its dirty state.
// - Apply: E_UNEXPECTED before SetObjects; S_OK with nothing to do when not dirty;
//   otherwise OnApplyChanges, and a success clears the dirty state.
// - Window messages of the dialog go to OnReceiveMessage first.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include "filters/base/com_object.h"

class CBasePropertyPage : public CUnknown, public IPropertyPage {
public:
    // `dialogId` names the dialog template and `titleId` the string resource of the
    // tab title, both in ServerModule().
    CBasePropertyPage(const wchar_t* objectName, IUnknown* outer, int dialogId, int titleId);
    ~CBasePropertyPage() override;

    FILTERBASE_DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** out) override;

    // IPropertyPage
    HRESULT STDMETHODCALLTYPE SetPageSite(IPropertyPageSite* site) override;
    HRESULT STDMETHODCALLTYPE Activate(HWND parent, LPCRECT rect, BOOL modal) override;
    HRESULT STDMETHODCALLTYPE Deactivate() override;
    HRESULT STDMETHODCALLTYPE GetPageInfo(PROPPAGEINFO* info) override;
    HRESULT STDMETHODCALLTYPE SetObjects(ULONG count, IUnknown** objects) override;
    HRESULT STDMETHODCALLTYPE Show(UINT show) override;
    HRESULT STDMETHODCALLTYPE Move(LPCRECT rect) override;
    HRESULT STDMETHODCALLTYPE IsPageDirty() override;
    HRESULT STDMETHODCALLTYPE Apply() override;
    HRESULT STDMETHODCALLTYPE Help(LPCOLESTR helpDir) override;
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG* msg) override;

    // Derived pages.
    virtual HRESULT OnConnect(IUnknown* object);
    virtual HRESULT OnDisconnect();
    virtual HRESULT OnActivate();
    virtual HRESULT OnDeactivate();
    virtual HRESULT OnApplyChanges();
    // Answers the dialog procedure's result; the base handles nothing (FALSE).
    virtual INT_PTR OnReceiveMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

    HWND Window() const { return window_; }
    bool IsDirty() const { return dirty_; }

protected:
    // Stores the dirty state and tells the page site (PROPPAGESTATUS_DIRTY when dirty,
    // PROPPAGESTATUS_VALIDATE when clean).
    void SetDirty(bool dirty);

    IPropertyPageSite* site_ = nullptr;  // counted
    HWND window_ = nullptr;
    bool dirty_ = false;
    bool connected_ = false;
    int dialogId_;
    int titleId_;

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    // Size of the dialog template in pixels (measured on a hidden instance).
    bool DialogSize(SIZE* size);
};
