// A view that hosts the system web browser control (CLSID_WebBrowser) as an OLE object
// activated in place inside a child window of its own. The view is the browser's
// container: it gives the object a client site, an in-place site and a frame (one small
// COM object that the view owns a reference to), keeps the browser's window filling its
// client area, offers keys to the browser before its own dialog-key handling, and on
// destruction deactivates and closes the object and releases every interface it holds.
#pragma once

#include <windows.h>
#include <exdisp.h>
#include <oleidl.h>

#include "framework/wnd.h"

class CHtmlView : public CWnd {
    DECLARE_DYNCREATE(CHtmlView)

public:
    CHtmlView() = default;
    ~CHtmlView() override;

    // Creates the view window (`className` null: the framework's default class) and the
    // browser in place inside it, filling its client area. FALSE, with no window left
    // behind, when OLE cannot start on this thread or the browser cannot be created or
    // activated; GetCreateError then tells why.
    BOOL Create(const char* className, const char* windowName, DWORD style, const RECT& rect, CWnd* parent, UINT id,
                void* context = nullptr) override;
    HRESULT GetCreateError() const { return create_error_; }

    // The browser's automation interface, owned by the view (null before Create or after
    // the window is gone); AddRef it to keep it longer.
    IWebBrowser2* GetBrowser() const { return browser_; }
    // The browser's in-place window, a child of the view.
    HWND GetBrowserWindow() const { return browser_window_; }

    // Navigates to a URL, a local file path or a res: URL. The browser's result, or
    // E_UNEXPECTED without a browser.
    HRESULT Navigate2(const char* url, DWORD flags = 0, const char* targetFrame = nullptr);
    // Whether the browser registers its window as a drop target (files dropped on it open).
    HRESULT SetRegisterAsDropTarget(BOOL on);

    // Keys go first to the browser (its in-place active object's TranslateAccelerator),
    // then to the view's dialog-key handling (tabbing among the view's children).
    BOOL PreTranslateMessage(MSG* msg) override;

    // Mouse activation: the default processing. Derived views refuse or swallow presses here.
    int OnMouseActivate(CWnd* topLevel, UINT hitTest, UINT mouseMessage);
    void OnSize(UINT type, int cx, int cy);
    void OnDestroy();

    // Site objects of any view still alive (referenced by a view or by a browser): zero
    // once every view is gone and every browser has let go of its site.
    static LONG LiveSiteObjects();

protected:
    DECLARE_MESSAGE_MAP()

private:
    class Site;
    // Deactivates, closes and releases the browser and the site; ends OLE for this view.
    void ReleaseBrowser();

    Site* site_ = nullptr;
    IOleObject* object_ = nullptr;
    IWebBrowser2* browser_ = nullptr;
    HWND browser_window_ = nullptr;
    bool ole_started_ = false;
    HRESULT create_error_ = S_OK;
};
