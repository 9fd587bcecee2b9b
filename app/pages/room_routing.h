// The room list's own handling of its list control's notifications and of the scroll
// messages between the list and its scroll bar, shared by the batch list and the export room.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include "app/skin/skin_list.h"

// Handles NM_CLICK and LVN_ITEMCHANGED from `room`'s list control, and the scroll messages;
// true (with the window result in `result`) when the message was one of them.
inline bool RouteRoomListMessage(CRoomList* room, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    *result = 0;
    if (message == 0x178C) {
        *result = room->OnScrollBarChanged(wParam, lParam);
        return true;
    }
    if (message == WM_GLIST_SCROLLED) {
        *result = room->OnListScrolled(wParam, lParam);
        return true;
    }
    auto* header = reinterpret_cast<NMHDR*>(lParam);
    if (message != WM_NOTIFY || !room->List() || !header || header->hwndFrom != room->List()->m_hWnd) return false;
    if (header->code == NM_CLICK) {
        room->OnItemClick(header, result);
        return true;
    }
    if (header->code == LVN_ITEMCHANGED) {
        room->OnItemChanged(header, result);
        return true;
    }
    return false;
}
