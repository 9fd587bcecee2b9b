// The file conversion page's list of source files: one FileBatchEntry per item, kept in the
// order of the entries' order numbers, with the report columns number, file, duration and
// format, and a progress mark drawn on each item. The probing of a file happens off the
// user-interface thread (ProbeFile touches no window); everything else runs on it.
#pragma once

#include <windows.h>

#include "app/project_format.h"
#include "app/skin/skin_list.h"

class CFileBatchList : public CRoomList {
    DECLARE_DYNAMIC(CFileBatchList)

public:
    static constexpr UINT kListId = 2026;
    static constexpr UINT kScrollBarId = 2027;
    // Sent to the owner: a right click on the list (context menu), and a drag that reordered
    // the entries.
    static constexpr UINT kNotifyContextMenu = 4026;
    static constexpr UINT kNotifyReordered = 2026;

    CFileBatchList();
    // Creates the list window inside `owner` at `rect`, its parts from the skin view
    // "BATCH_LIST", the four columns and the item font. 0 when the parts cannot be made.
    BOOL CreateIn(const RECT& rect, CWnd* owner);

    // A new entry for `path` from the clip query (order number 0, mark -1, in point 0, out
    // point the duration), or null when the file cannot be opened. Any thread.
    static FileBatchEntry* ProbeFile(const char* path);
    // Appends `entry` (owned by the list from now on) as the last item, selected, with the
    // next order number unless `keepOrder`. 1; E_FAIL for null; 0 when the item could not be
    // inserted (the entry is freed).
    int AddEntry(FileBatchEntry* entry, bool keepOrder = false);
    int FindEntryByPath(const char* path) const;
    FileBatchEntry* Entry(int index) const;
    int Count() const { return static_cast<int>(entries_.size()); }
    int EntryLimit() const { return entryLimit_; }
    bool IsSelected(int index) const;
    void ClearSelection();
    void SelectOnly(int index);
    // Items sorted by order number; the column texts written again (so the first column
    // numbers the visible order).
    void Resort();
    int MoveSelection(int target);
    // Every entry's progress mark, or one entry's, and the items repainted.
    void SetAllMarks(int32_t mark);
    void SetMark(int index, int32_t mark);

    int FreeItemData(void* data) override;
    void BuildImageList(const RECT& rect) override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void WriteColumns(int index);
    static int ItemCallback(int item, HBITMAP* bitmap, void* context, int* highlight);

    int entryLimit_ = 2500;
    int32_t nextOrder_ = 0;
};
