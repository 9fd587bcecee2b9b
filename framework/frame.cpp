#include "framework/frame.h"

#include "framework/app.h"

IMPLEMENT_DYNCREATE(CFrameWnd, CWnd)

BEGIN_MESSAGE_MAP(CFrameWnd, CWnd)
ON_MESSAGE(WM_INITMENUPOPUP, OnInitMenuPopup)
END_MESSAGE_MAP()

const CRect CFrameWnd::rectDefault{static_cast<int>(CW_USEDEFAULT), static_cast<int>(CW_USEDEFAULT), 0, 0};

BOOL CFrameWnd::Create(const char* className, const char* title, DWORD style, const RECT& rect, CWnd* parent,
                       UINT menuId, DWORD exStyle) {
    CMenu menu;
    if (menuId && !menu.LoadMenu(menuId)) return FALSE;
    RECT r = rect;
    if (rect.left == static_cast<LONG>(CW_USEDEFAULT))
        r = RECT{static_cast<LONG>(CW_USEDEFAULT), static_cast<LONG>(CW_USEDEFAULT), 0, 0};
    if (!CreateEx(exStyle, className, title, style & ~WS_CHILD, r, parent, 0)) return FALSE;
    if (menu.m_hMenu) ::SetMenu(m_hWnd, menu.Detach());  // the window owns and destroys its menu
    return TRUE;
}

BOOL CFrameWnd::OnCmdMsg(UINT nID, int nCode, void* pExtra, void* pHandlerInfo) {
    if (CWnd::OnCmdMsg(nID, nCode, pExtra, pHandlerInfo)) return TRUE;
    CWinApp* app = AfxGetApp();
    return app && app->OnCmdMsg(nID, nCode, pExtra, pHandlerInfo);
}

void CFrameWnd::UpdateMenuCommandUI(HMENU popup) {
    const int count = GetMenuItemCount(popup);
    for (int i = 0; i < count; ++i) {
        const UINT id = GetMenuItemID(popup, i);
        if (id == 0 || id == static_cast<UINT>(-1))  // separators and submenus
            continue;
        CCmdUI ui;
        ui.m_nID = id;
        ui.m_nIndex = static_cast<UINT>(i);
        ui.m_hMenu = popup;
        ui.DoUpdate(this, m_bAutoMenuEnable);
    }
}

LRESULT CFrameWnd::OnInitMenuPopup(WPARAM wParam, LPARAM lParam) {
    if (!HIWORD(lParam))  // not the window menu
        UpdateMenuCommandUI(reinterpret_cast<HMENU>(wParam));
    return Default();
}

void CFrameWnd::PostNcDestroy() {
    CWinApp* app = AfxGetApp();
    if (app && app->m_pMainWnd == this) {
        app->m_pMainWnd = nullptr;
        PostQuitMessage(0);
    }
    if (m_bAutoDelete) delete this;
}
