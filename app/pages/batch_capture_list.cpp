#include "app/pages/batch_capture_list.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "app/resources/resource_ids.h"
#include "app/services/text_fonts.h"
#include "engines/client/engine_client.h"
#include "engines/interfaces.h"
#include "framework/app.h"

namespace {

constexpr const char* kClassName = "LISTCTRL";
constexpr COLORREF kTransparent = RGB(255, 0, 255);
constexpr COLORREF kGround = RGB(0x1B, 0x24, 0x30);  // the list's ground between items
// Places inside an item, in pixels from its upper left.
constexpr int kThumbLeft = 8, kThumbTop = 4;
constexpr int kCheckLeft = 4, kCheckSize = 16;

bool FileExamined(const std::string& path) {
    struct _stati64 info {};
    return !path.empty() && _stati64(path.c_str(), &info) == 0;
}

}  // namespace

CEncBatchListCtrl::Entry::~Entry() {
    if (thumbnail) DeleteObject(thumbnail);
}

CEncBatchListCtrl::CEncBatchListCtrl() {
    if (FAILED(CreateClipPlayer(&player_))) player_ = nullptr;
}

CEncBatchListCtrl::~CEncBatchListCtrl() {
    if (m_hWnd) DestroyWindow();
    if (player_) {
        player_->Close();
        player_->Release();
    }
    for (HBITMAP& b : grounds_)
        if (b) DeleteObject(b), b = nullptr;
    if (checks_) DeleteObject(checks_);
    if (images_) ImageList_Destroy(images_);
}

BOOL CEncBatchListCtrl::Create(const RECT& rect, CWnd* parent, UINT id) {
    WNDCLASSA wc{};
    if (!GetClassInfoA(AfxGetInstanceHandle(), kClassName, &wc)) {
        wc.lpfnWndProc = ::DefWindowProcA;
        wc.hInstance = AfxGetInstanceHandle();
        wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
        wc.lpszClassName = kClassName;
        RegisterClassA(&wc);
    }
    if (!CWnd::CreateEx(WS_EX_NOPARENTNOTIFY, kClassName, "", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, rect, parent,
                        id))
        return FALSE;
    RECT client{};
    ::GetClientRect(m_hWnd, &client);
    list_ = CreateWindowExA(0, WC_LISTVIEWA, "",
                            WS_CHILD | WS_VISIBLE | WS_VSCROLL | LVS_ICON | LVS_SHOWSELALWAYS | LVS_AUTOARRANGE, 0, 0,
                            client.right, client.bottom, m_hWnd, reinterpret_cast<HMENU>(UINT_PTR(kListId)),
                            AfxGetInstanceHandle(), nullptr);
    if (!list_) return FALSE;
    ListView_SetExtendedListViewStyle(list_, LVS_EX_FULLROWSELECT | LVS_EX_INFOTIP);
    ListView_SetBkColor(list_, kGround);
    ListView_SetTextBkColor(list_, kGround);
    SetItemSize(itemWidth_, itemHeight_);
    return TRUE;
}

void CEncBatchListCtrl::SetItemSize(int width, int height) {
    itemWidth_ = width;
    itemHeight_ = height;
    if (!list_) return;
    // One blank image sized so that the list lays items out at the item size; the control
    // draws every item itself.
    if (images_) ImageList_Destroy(images_);
    images_ = ImageList_Create(std::max(width - 16, 1), std::max(height - 25, 1), ILC_COLOR8, 1, 1);
    HDC screen = ::GetDC(nullptr);
    HBITMAP blank = CreateCompatibleBitmap(screen, std::max(width - 16, 1), std::max(height - 25, 1));
    ::ReleaseDC(nullptr, screen);
    ImageList_Add(images_, blank, nullptr);
    DeleteObject(blank);
    ListView_SetImageList(list_, images_, LVSIL_NORMAL);
    ListView_SetIconSpacing(list_, width + 4, height + 4);
}

void CEncBatchListCtrl::SetBitmaps(HBITMAP normal, HBITMAP selected, HBITMAP current, HBITMAP capturing,
                                   HBITMAP checks) {
    HBITMAP given[4] = {normal, selected, current, capturing};
    for (int i = 0; i < 4; ++i) {
        if (grounds_[i]) DeleteObject(grounds_[i]);
        grounds_[i] = given[i];
    }
    if (checks_) DeleteObject(checks_);
    checks_ = checks;
}

void CEncBatchListCtrl::ShowCheckMarks(bool show) {
    showChecks_ = show;
    if (list_) ::InvalidateRect(list_, nullptr, FALSE);
}

std::string CEncBatchListCtrl::DurationLabel(const batchcap::BatchClipInfo& clip, float frameRate) {
    return batchcap::TimeText(batchcap::ClipDuration(clip, frameRate), frameRate);
}

// ---- thumbnails ----
HBITMAP CEncBatchListCtrl::ThumbnailOf(const std::string& path, int64_t time) {
    HBITMAP bitmap = nullptr;
    if (cache_ && cache_->Lookup(path.c_str(), time, &bitmap) && bitmap) return bitmap;
    if (!player_) return nullptr;
    char open[MAX_PATH] = {};
    player_->GetFileName(open, sizeof open);
    if (path != open) {
        player_->Close();
        if (FAILED(player_->Open(path.c_str(), 0, 0, 0))) return nullptr;
    }
    DWORD kind = 0;
    if (FAILED(player_->GetMediaInfo(&kind))) return nullptr;
    HBITMAP frame = nullptr;
    if (FAILED(player_->GetFrameBitmap(&frame, time, 2)) || !frame) return nullptr;
    bitmap = FitBitmap(frame);
    DeleteObject(frame);
    if (bitmap && cache_) cache_->Store(path.c_str(), time, bitmap);
    return bitmap;
}

HBITMAP CEncBatchListCtrl::FitBitmap(HBITMAP source) const {
    BITMAP info{};
    if (!source || !GetObjectA(source, sizeof info, &info)) return nullptr;
    HDC screen = ::GetDC(nullptr);
    HDC from = CreateCompatibleDC(screen), to = CreateCompatibleDC(screen);
    HBITMAP fitted = CreateCompatibleBitmap(screen, thumbWidth_, thumbHeight_);
    ::ReleaseDC(nullptr, screen);
    HGDIOBJ oldFrom = SelectObject(from, source), oldTo = SelectObject(to, fitted);
    SetStretchBltMode(to, HALFTONE);
    StretchBlt(to, 0, 0, thumbWidth_, thumbHeight_, from, 0, 0, info.bmWidth, std::abs(info.bmHeight), SRCCOPY);
    SelectObject(from, oldFrom);
    SelectObject(to, oldTo);
    DeleteDC(from);
    DeleteDC(to);
    return fitted;
}

// ---- entries ----
bool CEncBatchListCtrl::AddClip(const char* path, const char* label, std::unique_ptr<batchcap::BatchClipInfo> clip) {
    if (!path || !FileExamined(path)) return false;
    auto entry = std::make_unique<Entry>();
    entry->clipPath = path;
    entry->label = label ? label : "";
    entry->thumbnail = ThumbnailOf(entry->clipPath, clip ? clip->inTime : 0);
    entry->clip = std::move(clip);
    entries_.push_back(std::move(entry));
    AddItem(int(entries_.size()) - 1);
    return true;
}

bool CEncBatchListCtrl::AddClipFromBitmap(const char* label, HBITMAP bitmap,
                                          std::unique_ptr<batchcap::BatchClipInfo> clip) {
    auto entry = std::make_unique<Entry>();
    entry->label = label ? label : "";
    entry->thumbnail = FitBitmap(bitmap);
    entry->clip = std::move(clip);
    entries_.push_back(std::move(entry));
    AddItem(int(entries_.size()) - 1);
    return true;
}

bool CEncBatchListCtrl::ReplaceClip(int index, const char* path, const char* label,
                                    std::unique_ptr<batchcap::BatchClipInfo> clip) {
    Entry* entry = GetEntry(index);
    if (!entry || !path || !FileExamined(path)) return false;
    if (HBITMAP fresh = ThumbnailOf(path, clip ? clip->inTime : 0)) {
        if (entry->thumbnail) DeleteObject(entry->thumbnail);
        entry->thumbnail = fresh;
    }
    entry->clipPath = path;
    entry->label = label ? label : "";
    entry->clip = std::move(clip);
    entry->checked = true;
    entry->status = 0;
    RedrawEntry(index);
    return true;
}

void CEncBatchListCtrl::RemoveClip(int index, bool notify) {
    if (index < 0 || index >= Count()) return;
    if (notify) ::SendMessageA(::GetParent(m_hWnd), kEntryChanged, WPARAM(entries_[size_t(index)].get()), 1);
    entries_.erase(entries_.begin() + index);
    const auto item = std::find(shown_.begin(), shown_.end(), index);
    if (item != shown_.end()) {
        ListView_DeleteItem(list_, int(item - shown_.begin()));
        shown_.erase(item);
    }
    for (int& e : shown_)
        if (e > index) --e;
}

void CEncBatchListCtrl::RemoveAll() {
    if (list_) ListView_DeleteAllItems(list_);
    shown_.clear();
    entries_.clear();
}

CEncBatchListCtrl::Entry* CEncBatchListCtrl::GetEntry(int index) const {
    return index >= 0 && index < Count() ? entries_[size_t(index)].get() : nullptr;
}

batchcap::BatchClipInfo* CEncBatchListCtrl::GetClipRecord(int index) const {
    Entry* e = GetEntry(index);
    return e ? e->clip.get() : nullptr;
}

void CEncBatchListCtrl::SetStatus(int index, int status) {
    if (Entry* e = GetEntry(index)) {
        e->status = status;
        RedrawEntry(index);
    }
}

void CEncBatchListCtrl::SetLabel(int index, const char* text) {
    if (Entry* e = GetEntry(index)) {
        e->label = text ? text : "";
        RedrawEntry(index);
    }
}

void CEncBatchListCtrl::SetChecked(int index, bool checked) {
    if (Entry* e = GetEntry(index)) {
        e->checked = checked;
        RedrawEntry(index);
    }
}

int CEncBatchListCtrl::CountChecked() const {
    return int(std::count_if(entries_.begin(), entries_.end(), [](const auto& e) { return e->checked; }));
}

int CEncBatchListCtrl::CountStatusTwo() const {
    return int(std::count_if(entries_.begin(), entries_.end(), [](const auto& e) { return e->status == 2; }));
}

int CEncBatchListCtrl::GetSelection(int* count, bool* contiguousChecked) const {
    int first = -1, n = 0, previous = -2;
    bool contiguous = true;
    for (int item = -1; list_ && (item = ListView_GetNextItem(list_, item, LVNI_SELECTED)) >= 0;) {
        const int e = EntryOfItem(item);
        if (first < 0) first = e;
        if (previous != -2 && e != previous + 1) contiguous = false;
        if (const Entry* entry = GetEntry(e); !entry || !entry->checked) contiguous = false;
        previous = e;
        ++n;
    }
    if (count) *count = n;
    if (contiguousChecked) *contiguousChecked = n > 0 && contiguous;
    return first;
}

void CEncBatchListCtrl::ClearSelection() {
    if (list_) ListView_SetItemState(list_, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
}

void CEncBatchListCtrl::SelectItems(const std::vector<int>& indices) {
    ClearSelection();
    for (int index : indices) {
        const auto item = std::find(shown_.begin(), shown_.end(), index);
        if (item == shown_.end()) continue;
        const int i = int(item - shown_.begin());
        ListView_SetItemState(list_, i, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
        ListView_EnsureVisible(list_, i, FALSE);
    }
}

void CEncBatchListCtrl::SelectItem(int index) {
    SelectItems({index});
}

void CEncBatchListCtrl::SelectByTime(int64_t time) {
    for (int i = 0; i < Count(); ++i) {
        const batchcap::BatchClipInfo* c = entries_[size_t(i)]->clip.get();
        if (c && time >= c->inTime && time <= c->outTime) {
            int count = 0;
            if (GetSelection(&count, nullptr) != i || count != 1) SelectItem(i);
            return;
        }
    }
}

void CEncBatchListCtrl::ShowChecked() {
    Rebuild(1);
}
void CEncBatchListCtrl::ShowStatusTwo() {
    Rebuild(2);
}
void CEncBatchListCtrl::ShowAll() {
    ClearStatus();
    Rebuild(0);
}
void CEncBatchListCtrl::ClearStatus() {
    for (auto& e : entries_)
        e->status = 0;
    if (list_) ::InvalidateRect(list_, nullptr, FALSE);
}

void CEncBatchListCtrl::Rebuild(int filter) {
    if (!list_) return;
    ListView_DeleteAllItems(list_);
    shown_.clear();
    for (int i = 0; i < Count(); ++i) {
        const Entry& e = *entries_[size_t(i)];
        if ((filter == 1 && !e.checked) || (filter == 2 && e.status != 2)) continue;
        AddItem(i);
    }
}

void CEncBatchListCtrl::AddItem(int entryIndex) {
    if (!list_) return;
    LVITEMA item{};
    item.mask = LVIF_IMAGE | LVIF_TEXT;
    item.iItem = int(shown_.size());
    item.iImage = 0;
    item.pszText = const_cast<char*>("");
    if (ListView_InsertItem(list_, &item) >= 0) shown_.push_back(entryIndex);
}

int CEncBatchListCtrl::EntryOfItem(int item) const {
    return item >= 0 && item < int(shown_.size()) ? shown_[size_t(item)] : -1;
}

void CEncBatchListCtrl::RedrawEntry(int index) {
    const auto item = std::find(shown_.begin(), shown_.end(), index);
    if (item != shown_.end() && list_)
        ListView_RedrawItems(list_, int(item - shown_.begin()), int(item - shown_.begin()));
    if (list_) ::UpdateWindow(list_);
}

void CEncBatchListCtrl::Join(int mode, float frameRate, int64_t limit) {
    std::vector<batchcap::JoinItem> items(entries_.size());
    for (size_t i = 0; i < entries_.size(); ++i)
        items[i] = {entries_[i]->checked, false, entries_[i]->clip.get()};
    for (int item = -1; list_ && (item = ListView_GetNextItem(list_, item, LVNI_SELECTED)) >= 0;)
        if (const int e = EntryOfItem(item); e >= 0) items[size_t(e)].selected = true;
    const HWND parent = ::GetParent(m_hWnd);
    auto runs = batchcap::JoinRuns(items, mode, limit);
    // From the last run backwards, so that the indices of the runs before stay valid.
    for (auto run = runs.rbegin(); run != runs.rend(); ++run) {
        Entry* into = GetEntry(int(run->front()));
        ::SendMessageA(parent, kEntryChanged, WPARAM(into), 1);
        for (size_t k = 1; k < run->size(); ++k)
            batchcap::JoinInto(into->clip.get(), *GetEntry(int((*run)[k]))->clip);
        into->label = DurationLabel(*into->clip, frameRate);
        ::SendMessageA(parent, kEntryChanged, WPARAM(into), 0);
        for (size_t k = run->size() - 1; k >= 1; --k)
            RemoveClip(int((*run)[k]), true);
        RedrawEntry(int(run->front()));
    }
}

int64_t CEncBatchListCtrl::TotalDuration(float frameRate) const {
    int64_t total = 0;
    for (const auto& e : entries_)
        if (e->clip) total += batchcap::ClipDuration(*e->clip, frameRate);
    return total;
}

void CEncBatchListCtrl::Enable(bool on) {
    if (list_) ::EnableWindow(list_, on);
}

// ---- drawing and clicks ----
void CEncBatchListCtrl::DrawTransparent(HDC dc, HBITMAP strip, int cell, int x, int y) const {
    if (!strip) return;
    HDC from = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(from, strip);
    TransparentBlt(dc, x, y, kCheckSize, kCheckSize, from, cell * kCheckSize, 0, kCheckSize, kCheckSize, kTransparent);
    SelectObject(from, old);
    DeleteDC(from);
}

void CEncBatchListCtrl::DrawItem(HDC dc, const RECT& rect, const Entry& entry, bool selected) {
    const int w = rect.right - rect.left, h = rect.bottom - rect.top;
    HDC memory = CreateCompatibleDC(dc);
    HBITMAP canvas = CreateCompatibleBitmap(dc, w, h);
    HGDIOBJ oldCanvas = SelectObject(memory, canvas);
    HBITMAP ground = entry.status == 1 ? grounds_[3] : (entry.status == 2 || selected) ? grounds_[1] : grounds_[0];
    HDC from = CreateCompatibleDC(dc);
    if (ground) {
        BITMAP info{};
        GetObjectA(ground, sizeof info, &info);
        HGDIOBJ old = SelectObject(from, ground);
        StretchBlt(memory, 0, 0, w, h, from, 0, 0, info.bmWidth, info.bmHeight, SRCCOPY);
        SelectObject(from, old);
    } else {
        FillRect(memory, &rect, static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH)));
    }
    if (entry.thumbnail) {
        HGDIOBJ old = SelectObject(from, entry.thumbnail);
        BitBlt(memory, kThumbLeft, kThumbTop, thumbWidth_, thumbHeight_, from, 0, 0, SRCCOPY);
        SelectObject(from, old);
    }
    DeleteDC(from);
    const int checkTop = kThumbTop + thumbHeight_ + 6;
    if (showChecks_) DrawTransparent(memory, checks_, entry.checked ? 1 : 0, kCheckLeft, checkTop);
    SetBkMode(memory, TRANSPARENT);
    SetTextColor(memory, RGB(255, 255, 255));
    HGDIOBJ oldFont = SelectObject(memory, GetAppGuiFont() ? GetAppGuiFont() : GetStockObject(DEFAULT_GUI_FONT));
    RECT text{kCheckLeft + 18, checkTop + 1, kCheckLeft + 105, checkTop + 16};
    DrawTextA(memory, entry.label.c_str(), -1, &text, DT_LEFT | DT_SINGLELINE | DT_VCENTER);
    SelectObject(memory, oldFont);
    BitBlt(dc, rect.left, rect.top, w, h, memory, 0, 0, SRCCOPY);
    SelectObject(memory, oldCanvas);
    DeleteObject(canvas);
    DeleteDC(memory);
}

LRESULT CEncBatchListCtrl::OnCustomDraw(NMLVCUSTOMDRAW* draw) {
    switch (draw->nmcd.dwDrawStage) {
        case CDDS_PREPAINT:
            return CDRF_NOTIFYITEMDRAW;
        case CDDS_ITEMPREPAINT: {
            const int item = int(draw->nmcd.dwItemSpec);
            const Entry* entry = GetEntry(EntryOfItem(item));
            if (!entry) return CDRF_DODEFAULT;
            RECT bounds{};
            ListView_GetItemRect(list_, item, &bounds, LVIR_BOUNDS);
            const bool selected = ListView_GetItemState(list_, item, LVIS_SELECTED) != 0;
            RECT place{bounds.left, bounds.top, bounds.left + itemWidth_, bounds.top + itemHeight_};
            DrawItem(draw->nmcd.hdc, place, *entry, selected);
            return CDRF_SKIPDEFAULT;
        }
        default:
            return CDRF_DODEFAULT;
    }
}

void CEncBatchListCtrl::OnClick() {
    int count = 0;
    const int first = GetSelection(&count, nullptr);
    if (count == 1 && showChecks_) {
        POINT at{};
        GetCursorPos(&at);
        ::ScreenToClient(list_, &at);
        const auto item = std::find(shown_.begin(), shown_.end(), first);
        RECT bounds{};
        if (item != shown_.end() && ListView_GetItemRect(list_, int(item - shown_.begin()), &bounds, LVIR_BOUNDS)) {
            const int top = bounds.top + kThumbTop + thumbHeight_ + 6;
            const RECT check{bounds.left + kCheckLeft, top, bounds.left + kCheckLeft + kCheckSize, top + kCheckSize};
            if (PtInRect(&check, at)) {
                SetChecked(first, !GetEntry(first)->checked);
                return;
            }
        }
    }
    ::SendMessageA(::GetParent(m_hWnd), kItemClicked, WPARAM(first), 0);
}

// The tip of a clip: when its first and last frames were recorded, and their time codes.
std::string CEncBatchListCtrl::InfoTip(int item) const {
    const batchcap::BatchClipInfo* clip = GetClipRecord(item);
    if (!clip) return {};
    char text[512] = {};
    std::snprintf(text, sizeof text, AfxLoadString(IDS_BATCH_CLIP_TIP).c_str(),
                  batchcap::StampText(clip->startStamp).c_str(),
                  batchcap::TimecodeSecondsText(clip->inTimecode).c_str(), batchcap::StampText(clip->endStamp).c_str(),
                  batchcap::TimecodeSecondsText(clip->outTimecode).c_str());
    return text;
}

void CEncBatchListCtrl::OnInfoTip(NMHDR* header) {
    if (header->code == LVN_GETINFOTIPA) {
        auto* tip = reinterpret_cast<NMLVGETINFOTIPA*>(header);
        if (tip->pszText && tip->cchTextMax > 0) lstrcpynA(tip->pszText, InfoTip(tip->iItem).c_str(), tip->cchTextMax);
    } else {
        auto* tip = reinterpret_cast<NMLVGETINFOTIPW*>(header);
        if (tip->pszText && tip->cchTextMax > 0)
            MultiByteToWideChar(CP_ACP, 0, InfoTip(tip->iItem).c_str(), -1, tip->pszText, tip->cchTextMax),
                tip->pszText[tip->cchTextMax - 1] = 0;
    }
}

LRESULT CEncBatchListCtrl::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NOTIFY) {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        if (header && header->hwndFrom == list_) {
            if (header->code == NM_CUSTOMDRAW) return OnCustomDraw(reinterpret_cast<NMLVCUSTOMDRAW*>(lParam));
            if (header->code == NM_CLICK) {
                OnClick();
                return 0;
            }
            if (header->code == LVN_GETINFOTIPA || header->code == LVN_GETINFOTIPW) {
                OnInfoTip(header);
                return 0;
            }
        }
    }
    if (message == WM_SIZE && list_) ::MoveWindow(list_, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
    if (message == WM_DESTROY) {
        RemoveAll();
        list_ = nullptr;
    }
    return CWnd::WindowProc(message, wParam, lParam);
}
