// A top-level frame: optional menu from the resource module, commands routed on to the
// application, update-UI of menu items as a popup opens, and the end of the application's
// loop when the main frame goes away.
#pragma once

#include "framework/wnd.h"

class CFrameWnd : public CWnd {
    DECLARE_DYNCREATE(CFrameWnd)

public:
    // Frames are created with new and delete themselves when their window is destroyed,
    // unless this is cleared.
    BOOL m_bAutoDelete = TRUE;
    // Menu items without a command or update handler are disabled.
    BOOL m_bAutoMenuEnable = TRUE;

    // `menuId` 0: no menu; a missing menu fails the creation (error in AfxGetResourceError).
    BOOL Create(const char* className, const char* title, DWORD style = WS_OVERLAPPEDWINDOW,
                const RECT& rect = rectDefault, CWnd* parent = nullptr, UINT menuId = 0, DWORD exStyle = 0);

    BOOL OnCmdMsg(UINT nID, int nCode, void* pExtra, void* pHandlerInfo) override;
    // Runs the update-UI handlers of every command item of `popup`.
    void UpdateMenuCommandUI(HMENU popup);

    static const CRect rectDefault;

protected:
    void PostNcDestroy() override;
    LRESULT OnInitMenuPopup(WPARAM wParam, LPARAM lParam);
    DECLARE_MESSAGE_MAP()
};
