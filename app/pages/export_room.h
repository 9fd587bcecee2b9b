// The export room: the main page's list of finished output files, each with a thumbnail (icon
// view) or a row (report view), and the commands on one selected file: delete it, take it
// off the list, rename it. The rename dialog gives a file a new name on the disk.
// User-interface thread.
#pragma once

#include <windows.h>

#include "app/pages/file_batch_list.h"
#include "app/pages/page_slots.h"
#include "app/skin/skin_list.h"
#include "engines/clip_info.h"
#include "framework/dialog.h"

struct ExportRoomEntry {
    char path[260];
    HBITMAP thumbnail;  // a DIB section of the poster size
    int64_t inPoint;    // 100-ns units within the file
    int64_t outPoint;
    engines::ClipInfo media;
};

class CExportRoom : public CRoomList, public ExportRoomSlot {
    DECLARE_DYNAMIC(CExportRoom)

public:
    static constexpr UINT kListId = 1000;
    static constexpr UINT kScrollBarId = 1001;

    CWnd* Window() override { return this; }
    BOOL Create(const RECT& rect, CWnd* parent) override;
    int GetSelectedCount() override { return CRoomList::GetSelectedCount(); }
    void AddFile(const char* path) override;
    LRESULT ViewSelected() override;
    LRESULT RenameSelected() override;
    LRESULT OpenFile(const char* path) override;

    // The file properties dialog of a file and its media block (also the file page's).
    static void ShowFileProperties(const char* path, const engines::ClipInfo& media, CWnd* owner);
    // Its three sections: general, and by media kind video and audio (or audio alone).
    static void FilePropertyTexts(const char* path, const engines::ClipInfo& media, CString texts[3]);
    // The tip of item `index`: its file, type, size, date, bit rate, frame size and rate.
    CString TipText(int index) const;

    ExportRoomEntry* Entry(int index) const;
    // The room's own progress dialog: a disc file's title scan and the opening of a file to
    // view.
    CProgressDialog* Progress() const { return progress_; }
    int Count() const { return static_cast<int>(entries_.size()); }
    // The context-menu commands (4411-4415) on the one selected item.
    void OnCommand(UINT id);

    int FreeItemData(void* data) override;
    int RefreshItem(int index) override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    ExportRoomEntry* MakeEntry(const char* path);
    // A disc file's segments, one item each, with their in and out points.
    void AddSegments(const char* path);
    // Appends `entry` (owned from now on) as the last item; freed when it cannot be.
    void InsertEntry(ExportRoomEntry* entry);
    int SelectedIndex() const;

    CSegmentScanProgress scan_;
    CProgressDialog* progress_ = nullptr;  // hidden between uses
    CRect poster_{0, 0, 104, 70};
    int iconWidth_ = 120, iconHeight_ = 96;
    HBITMAP strips_[3] = {};
    HBITMAP roomBackground_ = nullptr;
};

// Asks for a new name of a file (its extension stays) and renames the file on the disk.
class CRenameDlg : public CDialog {
public:
    explicit CRenameDlg(CWnd* parent = nullptr);
    void SetPath(const char* path);
    void GetPath(char* buffer, size_t size) const;
    const char* Path() const { return path_; }
    BOOL OnInitDialog() override;
    void OnOK() override;

private:
    char path_[260] = {};
};
