// The application's list control (a list view whose items the owner draws through a
// callback over a tiled background, with its native scroll bars hidden), its owner-drawn
// header with a sort arrow, and the room list: the container behind the file list and the
// export room that owns a list control and a skinned vertical scroll bar, keeps one data
// pointer per item, keeps the two in step and reports selection changes to its parent.
// User-interface thread only.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <vector>

#include "app/skin/skin_factory.h"
#include "app/skin/skin_scrollbar.h"
#include "framework/controls.h"

// WM_NOTIFY codes of the list control.
constexpr UINT GLN_KEYUP = 0x17BC;
constexpr UINT GLN_DRAGDROP = 0x17BD;
// Posted by the list control when its vertical scroll state changed: wParam the list.
constexpr UINT WM_GLIST_SCROLLED = 0x17BA;
// Sent by the room list to its parent: wParam its control id, lParam 0.
constexpr UINT WM_ROOMLIST_SELCHANGED = 0x820;
constexpr UINT WM_ROOMLIST_MODECHANGED = 0x822;

// The key-release notification: the header, the 16-bit key and a 32-bit flags value. The
// header's fields are pointer-sized, so the record takes the platform's layout.
struct GLNKeyUp {
    NMHDR hdr;
    WORD key;
    UINT flags;
};

class CGHeaderCtrl : public CHeaderCtrl {
    DECLARE_DYNAMIC(CGHeaderCtrl)

public:
    CGHeaderCtrl();
    ~CGHeaderCtrl() override;
    void SetSortIndicator(int column, BOOL ascending);
    int SortColumn() const { return sortColumn_; }
    BOOL SortAscending() const { return ascending_; }
    // Takes over `header` and makes every item owner-drawn.
    BOOL SubclassHeader(HWND header);
    void DrawItem(const DRAWITEMSTRUCT* item);
    // The common-controls version as major * 65536 + minor; 0 when it cannot be read.
    static BOOL GetComCtlVersion(DWORD* version);
    HIMAGELIST Arrows() const { return arrows_; }

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    int sortColumn_ = -1;
    BOOL ascending_ = TRUE;
    HIMAGELIST arrows_ = nullptr;
};

// Asks the owner for one item's picture (icon view) and highlight (report view). `bitmap`
// starts null and `highlight` -1; a returned bitmap becomes the list's, which deletes it.
using ListItemCallback = int (*)(int item, HBITMAP* bitmap, void* context, int* highlight);

class CGListCtrl : public CListCtrl {
    DECLARE_DYNAMIC(CGListCtrl)

public:
    ~CGListCtrl() override;
    virtual BOOL Create(DWORD style, const RECT& rect, CWnd* parent, UINT id);
    virtual void SetWindowRect(const RECT& rect, BOOL repaint);
    virtual void MoveTo(int x, int y, int width, int height, BOOL repaint);
    virtual void Scroll(int dx, int dy);
    void SetItemRect(const RECT& rect, int which);
    void SetSortIndicator(int column, BOOL ascending);
    void SetItemCallback(ListItemCallback callback, void* context);
    // Takes ownership of `bitmap`; null is ignored.
    void SetBackgroundBitmap(HBITMAP bitmap);
    HBITMAP BackgroundBitmap() const { return background_; }
    void EnableDragReorder(BOOL on) { dragReorder_ = on != 0; }
    int HitTestCursor() const;
    int DrawItems(int first, int last, HDC dc);
    int IsSelectionContiguous() const;
    int ViewType() const { return static_cast<int>(GetStyle() & LVS_TYPEMASK); }
    CGHeaderCtrl& Header() { return header_; }
    bool Dragging() const { return dragging_; }

    BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* result) override;
    // The list's own notifications, seen before its parent handles them.
    BOOL OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void MakeBackBuffer();
    void DropBackBuffer();
    void NotifyParent(UINT code, NMHDR* header, size_t) const;
    void UpdateHot(bool notify);
    void RedrawOne(int item);
    void Paint();
    bool ScrollStateChanged();
    void SelectedRun(int* first, int* last) const;

    CGHeaderCtrl header_;
    SCROLLINFO cached_{};
    int hot_ = -1, hotPart_ = -1;
    bool marquee_ = false;
    int labelEdit_ = -1;
    BOOL ascending_ = TRUE;
    bool trackingLeave_ = false;
    ListItemCallback callback_ = nullptr;
    void* context_ = nullptr;
    HDC backDc_ = nullptr;
    HBITMAP backBitmap_ = nullptr;
    HGDIOBJ backOld_ = nullptr;
    SIZE backSize_{};
    HBITMAP background_ = nullptr;
    int backgroundWidth_ = 0, backgroundHeight_ = 0;
    CRect picture_, label_;
    bool dragging_ = false, dragReorder_ = false;
};

class CRoomList : public CWnd {
    DECLARE_DYNAMIC(CRoomList)

public:
    CRoomList();
    ~CRoomList() override;

    virtual void SetLayout(int cellWidth, int cellHeight, int labelWidth, int labelHeight, int left, int top, int right,
                           int bottom);
    virtual int HookA(int, int, int, int) { return 0; }
    virtual int HookB(int) { return 0; }
    virtual int GetItemData(int index, void** data) const;
    virtual int GetSelectedCount() const;
    virtual int GetCount(int fromList) const;
    virtual int SelectRange(int first, int last, int add);
    virtual int GetNextSelected(int after, void** data) const;
    virtual int SelectAll();
    virtual int DeleteSelected();
    virtual int DeleteItem(int index);
    virtual int DeleteAllItems();
    virtual int GetViewType() const { return viewType_; }
    virtual int SetViewType(int type);
    virtual int GetMetricB() const { return listMode_; }
    virtual int SetMetricB(int mode);
    virtual int GetSortColumn() const { return sortColumn_; }
    virtual int GetSortAscending() const { return sortAscending_; }
    virtual int SetSortKey(int column, int ascending);
    virtual void HookC(int, int) {}
    virtual void UpdateScrollBar();
    // The target is kept for the derived lists; the window handle is pointer-sized.
    virtual LRESULT SetNotifyTarget(HWND window, UINT message, LRESULT value);
    virtual void SetBackgroundBitmap(HBITMAP bitmap) { background_ = bitmap; }
    virtual int GetAuxValue() const { return auxValue_; }
    virtual int SetNotifyEnabled(int flag);
    virtual int IsNotifyEnabled() const { return notifyEnabled_; }
    virtual void RedrawItems(int index);
    virtual BOOL Create(const char* className, const char* windowName, DWORD style, const RECT& rect, CWnd* parent,
                        UINT id, UINT scrollBarId, const char* viewName, const char* subViewName, void* context);
    virtual void Relayout(const RECT& rect, BOOL repaint);
    virtual void SetRect(int x, int y, int width, int height, BOOL repaint);
    virtual int HookD() { return 0; }
    virtual int FreeItemData(void*) { return 0; }
    virtual int RefreshItem(int) { return 0; }
    virtual void HookE(int, void*) {}
    virtual void ForwardToParent(UINT message, LPARAM lParam);
    virtual void SyncScrollBarFromList(CGListCtrl* list);
    virtual void SyncListFromScrollBar(CGNewScrollBar* bar);
    virtual void BuildImageList(const RECT& rect);
    virtual HBITMAP CreateBackgroundBitmap(int width, int height);
    virtual skin::IconSpacing ComputeIconSpacing(int width, int height);
    BOOL DestroyWindow() override;

    // Adds an item whose data the list owns from now on; its index, or -1.
    int AddItem(const char* text, void* data);
    int IsSelectionContiguous() const;
    CGListCtrl* List() const { return list_; }
    CGNewScrollBar* ScrollBar() const { return scrollBar_; }
    const std::vector<void*>& Entries() const { return entries_; }
    bool SelectionChangedFlag() const { return selectionChanged_; }
    HWND NotifyWindow() const { return notifyWindow_; }

    // Handlers the derived lists route in their message maps.
    LRESULT OnScrollBarChanged(WPARAM, LPARAM);
    LRESULT OnListScrolled(WPARAM, LPARAM);
    void OnItemChanged(NMHDR* header, LRESULT* result);
    void OnItemClick(NMHDR* header, LRESULT* result);
    void OnListKeyDown(NMHDR* header, LRESULT* result);

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

protected:
    CWnd* parent_ = nullptr;
    char viewName_[40] = {};
    char subViewName_[40] = {};
    HWND notifyWindow_ = nullptr;
    UINT notifyMessage_ = 0;
    LRESULT notifyValue_ = 0;
    HBITMAP background_ = nullptr;
    int cellWidth_ = 10, cellHeight_ = 10, labelWidth_ = 10, labelHeight_ = 10;
    CRect layout_{0, 0, 10, 10};
    int viewType_ = -1;
    int listMode_ = -1;
    int sortColumn_ = -1, sortAscending_ = 1;
    int auxValue_ = 0;
    CGListCtrl* list_ = nullptr;
    CGNewScrollBar* scrollBar_ = nullptr;
    CImageList normalImages_, smallImages_;
    std::vector<void*> entries_;
    bool selectionChanged_ = false;
    int notifyEnabled_ = 1;
    SkinControlBinding scrollBinding_{};
    UINT id_ = 0;
};
