// The batch capture dialog's list of tape segments: one thumbnail per segment with its
// duration, a check mark that decides whether it is captured and a status (1 capturing, 2
// captured or marked). The control owns its entries and the clip records they point to; it
// tells its parent of clicks (kItemClicked, wParam the first selected index or -1) and of
// joined or removed entries (kEntryChanged, wParam the entry, lParam 1 before, 0 after).
//
// Thumbnails come from the thumbnail cache when it holds the clip's frame, else from the clip
// player (and are stored in the cache), or from a bitmap the caller hands in.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <memory>
#include <string>
#include <vector>

#include "app/pages/batch_capture_model.h"
#include "framework/wnd.h"

struct IClipPlayer;
struct IThumbnailCache;

class CEncBatchListCtrl : public CWnd {
public:
    static constexpr UINT kItemClicked = WM_USER + 1;
    static constexpr UINT kEntryChanged = WM_USER + 2;
    static constexpr UINT kListId = 100;

    struct Entry {
        std::string clipPath;
        std::string label;
        HBITMAP thumbnail = nullptr;
        bool checked = true;
        int status = 0;
        std::unique_ptr<batchcap::BatchClipInfo> clip;
        ~Entry();
    };

    CEncBatchListCtrl();
    ~CEncBatchListCtrl() override;

    BOOL Create(const RECT& rect, CWnd* parent, UINT id);
    void SetItemSize(int width, int height);
    void SetThumbnailSize(int width, int height) { thumbWidth_ = width, thumbHeight_ = height; }
    void SetThumbnailCache(IThumbnailCache* cache) { cache_ = cache; }
    // Bitmaps the control draws with (it owns them from here on): the item grounds for normal,
    // selected, current and capturing items, and the check marks (two cells, on magenta).
    void SetBitmaps(HBITMAP normal, HBITMAP selected, HBITMAP current, HBITMAP capturing, HBITMAP checks);
    void ShowCheckMarks(bool show);

    // A new checked entry whose thumbnail is the clip's frame at its in time; refused (false)
    // when the file cannot be examined.
    bool AddClip(const char* path, const char* label, std::unique_ptr<batchcap::BatchClipInfo> clip);
    // A new checked entry with a copy of `bitmap`, fitted to the thumbnail size.
    bool AddClipFromBitmap(const char* label, HBITMAP bitmap, std::unique_ptr<batchcap::BatchClipInfo> clip);
    // The entry at `index` takes `path`, `label` and the record; its thumbnail is made again from
    // the file, and kept when the file gives none.
    bool ReplaceClip(int index, const char* path, const char* label, std::unique_ptr<batchcap::BatchClipInfo> clip);
    void RemoveClip(int index, bool notify);
    void RemoveAll();

    int Count() const { return int(entries_.size()); }
    Entry* GetEntry(int index) const;
    batchcap::BatchClipInfo* GetClipRecord(int index) const;
    // The tool tip's text for an item: recording dates and time codes of its first and last frames.
    std::string InfoTip(int item) const;
    void SetStatus(int index, int status);
    void SetLabel(int index, const char* text);
    void SetChecked(int index, bool checked);
    int CountChecked() const;
    int CountStatusTwo() const;
    // The first selected index (-1 when none), the selected count, and whether the selected items
    // are consecutive and all checked.
    int GetSelection(int* count, bool* contiguousChecked) const;
    void SelectItem(int index);
    void SelectItems(const std::vector<int>& indices);
    void ClearSelection();
    // Selects the entry whose in-to-out range in the quick-scan file holds `time`.
    void SelectByTime(int64_t time);
    // Shows only checked entries, only status-2 entries, or all (clearing every status).
    void ShowChecked();
    void ShowStatusTwo();
    void ShowAll();
    void ClearStatus();
    void Join(int mode, float frameRate, int64_t limit);
    int64_t TotalDuration(float frameRate) const;
    void Enable(bool on);
    // The label of a clip record: its duration at the frame rate.
    static std::string DurationLabel(const batchcap::BatchClipInfo& clip, float frameRate);

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void OnInfoTip(NMHDR* header);
    void Rebuild(int filter);
    void AddItem(int entryIndex);
    int EntryOfItem(int item) const;
    void RedrawEntry(int index);
    LRESULT OnCustomDraw(NMLVCUSTOMDRAW* draw);
    void OnClick();
    HBITMAP ThumbnailOf(const std::string& path, int64_t time);
    HBITMAP FitBitmap(HBITMAP source) const;
    void DrawItem(HDC dc, const RECT& rect, const Entry& entry, bool selected);
    void DrawTransparent(HDC dc, HBITMAP strip, int cell, int x, int y) const;

    HWND list_ = nullptr;
    HIMAGELIST images_ = nullptr;
    std::vector<std::unique_ptr<Entry>> entries_;
    std::vector<int> shown_;  // the entry index of each list item
    IClipPlayer* player_ = nullptr;
    IThumbnailCache* cache_ = nullptr;
    HBITMAP grounds_[4] = {};
    HBITMAP checks_ = nullptr;
    int itemWidth_ = 112, itemHeight_ = 104;
    int thumbWidth_ = 96, thumbHeight_ = 72;
    bool showChecks_ = true;
};
