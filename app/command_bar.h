// The frame's command bars: one menu bar window across the top of the frame's client area,
// built from a menu resource. Its top-level items open their popups below them (by mouse
// or Alt+mnemonic); the popups' commands go to the frame, whose update-UI handlers set
// their enabled and checked state as a popup opens. Drawn from the skin view "MENU_BAR"
// (its background and, for the item under the mouse or open, the subview "HOT").
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "framework/frame.h"
#include "framework/wnd.h"

class CCommandBars : public CWnd {
public:
    CCommandBars();
    ~CCommandBars() override;

    // Creates the bar over the top of `site`'s client area from menu resource `menuId`;
    // false when the menu or the window cannot be made.
    BOOL Create(CFrameWnd* site, UINT menuId);
    int GetHeight() const { return height_; }
    HMENU GetMenu() const { return menu_.m_hMenu; }
    int GetItemCount() const { return static_cast<int>(items_.size()); }
    // Item `index`'s text (with its "&") and place in bar coordinates.
    const std::string& GetItemText(int index) const { return items_.at(static_cast<size_t>(index)).text; }
    RECT GetItemRect(int index) const { return items_.at(static_cast<size_t>(index)).rect; }
    int GetHotItem() const { return hot_; }

    // With `byPosition`, removes the item at position `item` of the popup at top-level index
    // `top`; otherwise removes the command `item` from that popup, searching its nested
    // popups from the last to the first. False when nothing was removed.
    BOOL RemoveMenuItem(int top, UINT item, BOOL byPosition);

    // The frame's messages on their way: keyboard access to the bar (Alt+mnemonic as
    // WM_SYSCHAR, and WM_SYSCOMMAND SC_KEYMENU). True when the bar took the message.
    BOOL PreTranslateFrameMessage(MSG* msg);
    BOOL OnFrameWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

    // Opens the popup of top-level item `index` below it; returns when it is closed.
    void OpenPopup(int index);
    // The top-level item whose mnemonic is `ch`, or -1.
    int FindMnemonic(char ch) const;

    void OnPaint();
    BOOL OnEraseBkgnd(CDC*) { return TRUE; }
    void OnMouseMove(UINT flags, CPoint point);
    void OnLButtonDown(UINT flags, CPoint point);
    LRESULT OnMouseLeave(WPARAM, LPARAM);

    DECLARE_MESSAGE_MAP()

private:
    struct Item {
        std::string text;
        RECT rect;
        HMENU popup;
    };
    void Layout();
    int ItemAt(CPoint point) const;
    void SetHot(int index);

    CFrameWnd* site_ = nullptr;
    CMenu menu_;
    std::vector<Item> items_;
    int height_ = 22;
    int hot_ = -1;
    bool tracking_ = false;
    HFONT font_ = nullptr;
};
