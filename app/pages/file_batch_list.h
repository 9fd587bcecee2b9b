// The file conversion page's list of source files: one FileBatchEntry per item, kept in the
// order of the entries' order numbers, with the report columns number, file, duration and
// format, and a progress mark drawn on each item. The probing of a file happens off the
// user-interface thread (ProbeFile touches no window); everything else runs on it.
#pragma once

#include <windows.h>

#include <array>
#include <functional>
#include <vector>

#include "app/pages/batch_rules.h"
#include "app/project_format.h"
#include "app/skin/skin_list.h"
#include "engines/interfaces.h"

class CProgressDialog;

// The text of a media block's format class ("MPEG-2", "DVD title", ...); empty for classes
// without one.
CString FormatClassText(uint32_t formatClass);

// The progress of a clip player's segment scan shown in a progress dialog: notice 2 (start)
// resets the dialog to string 299 at 0 %, 1 carries the percentage, 3 ends the scan.
// User-interface thread.
class CSegmentScanProgress {
public:
    enum State { kIdle = 0, kRunning = 1, kDone = 2 };
    void SetDialog(CProgressDialog* dialog) { dialog_ = dialog; }
    // 1 for the notices the player may send (0-7), 0 for others.
    int OnNotice(DWORD code, UINT_PTR value);
    int State() const { return state_; }

private:
    CProgressDialog* dialog_ = nullptr;
    int state_ = kIdle;
};

// Opens `path` in a new clip player whose segment notices go to `callback`, and calls
// `each` for every segment the player can give, with the player still open on the file and
// where the segment lies as a list entry. E_FAIL when the file cannot be opened or its
// segments cannot be counted. The calling thread's COM is initialised for the call.
using SegmentVisitor = std::function<void(IClipPlayer*, const engines::SegmentRecord&, const filepage::SegmentClip&)>;
HRESULT ForEachSegment(const char* path, ClipPlayerCallback callback, void* context, const SegmentVisitor& each);

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
    // One new entry per segment of a disc file (".vob", ".vro") into `made`, each with its
    // in and out point and its own length, size and bit rate; `dialog` shows the scan's
    // progress. Runs on the add-files worker: the scan's notices reach the dialog through
    // the list's window. E_FAIL when the file gives no segments.
    HRESULT ProbeSegments(const char* path, CProgressDialog* dialog, std::vector<FileBatchEntry*>* made);
    int SegmentScanState() const { return scan_.State(); }
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

    // Room each column needs for its header and its widest possible cell text, in the list's
    // fonts, margins included; for the file names (of any length) their header's alone.
    std::array<int, 4> ColumnTextWidths() const;
    static constexpr int kColumnTextMargin = 8;  // pixels; cells are drawn 2 pixels in from each edge

private:
    void WriteColumns(int index);
    static int ItemCallback(int item, HBITMAP* bitmap, void* context, int* highlight);

    static void CALLBACK SegmentNotice(DWORD code, UINT_PTR value, void* context);

    CSegmentScanProgress scan_;
    int entryLimit_ = 2500;
    int32_t nextOrder_ = 0;
};
