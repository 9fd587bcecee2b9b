#include "app/pages/file_batch_list.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <vector>

#include "app/pages/batch_rules.h"
#include "app/pages/room_routing.h"
#include "app/resources/resource_ids.h"
#include "app/services/text_fonts.h"
#include "app/services/tv_format.h"
#include "app/skin/common_dialogs.h"
#include "app/skin/skin_layout.h"
#include "engines/client/engine_client.h"
#include "framework/string.h"

IMPLEMENT_DYNAMIC(CFileBatchList, CRoomList)

namespace {

const char* FileNamePart(const char* path) {
    const char* slash = std::max(std::strrchr(path, '\\'), std::strrchr(path, '/'));
    return slash ? slash + 1 : path;
}

// A segment scan's notice, sent from the worker to the list's window.
constexpr UINT kSegmentNoticeMessage = WM_APP + 320;

}  // namespace

CString FormatClassText(uint32_t formatClass) {
    UINT id = 0;
    if (formatClass >= 1 && formatClass <= 10)
        id = IDS_FORMAT_AVI + formatClass - 1;
    else if (formatClass == 11 || formatClass == 12)
        id = IDS_FORMAT_SEGMENT;
    else if (formatClass == 15)
        id = IDS_FORMAT_AUDIO;
    return id ? AfxLoadString(id) : CString();
}

int CSegmentScanProgress::OnNotice(DWORD code, UINT_PTR value) {
    switch (code) {
        case 2:
            state_ = kRunning;
            if (dialog_) {
                dialog_->SetCaptionFormat(AfxLoadString(IDS_READING_SEGMENTS));
                dialog_->SetRange(0, 100, 1);
                dialog_->SetPos(0);
                dialog_->ClearCancel();
            }
            return 1;
        case 1:
            if (state_ == kRunning && dialog_) {
                dialog_->SetPos(static_cast<int>(std::min<UINT_PTR>(value, 100)));
                dialog_->PumpMessages(FALSE);
            }
            return 1;
        case 3:
            state_ = kDone;
            return 1;
        default:
            return code < 8 ? 1 : 0;
    }
}

HRESULT ForEachSegment(const char* path, ClipPlayerCallback callback, void* context, const SegmentVisitor& each) {
    if (!path || std::strlen(path) >= sizeof(FileBatchEntry{}.path)) return E_FAIL;
    const HRESULT com = CoInitialize(nullptr);
    IClipPlayer* player = nullptr;
    DWORD count = 0;
    HRESULT hr = CreateClipPlayer(&player);
    if (SUCCEEDED(hr)) {
        player->SetCallback(callback, context);
        hr = player->Open(path, 0, 0, 0);
        if (SUCCEEDED(hr)) hr = player->GetSegmentCount(&count);
    }
    int64_t base = 0;  // where the segment listed last ends on the player's time line
    for (DWORD i = 0; SUCCEEDED(hr) && i < count; ++i) {
        engines::SegmentRecord record{};
        if (FAILED(player->GetSegment(i, reinterpret_cast<BYTE*>(&record)))) continue;
        each(player, record, filepage::SegmentClipOf(record, base));
        base = record.timelineEnd;
    }
    if (player) {
        player->SetCallback(nullptr, nullptr);
        player->Close();
    }
    ReleaseInterface(&player);
    if (SUCCEEDED(com)) CoUninitialize();
    return FAILED(hr) ? E_FAIL : S_OK;
}

CFileBatchList::CFileBatchList() {
    // The list holds at most 2,500 entries on NT-family systems and 800 on the 9x family.
    entryLimit_ = (GetVersion() & 0x80000000u) ? 800 : 2500;
}

BOOL CFileBatchList::CreateIn(const RECT& rect, CWnd* owner) {
    const char* cls = AfxRegisterWndClass(CS_DBLCLKS, LoadCursor(nullptr, IDC_ARROW));
    if (!Create(cls, "BatchList", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, rect, owner, kListId, kScrollBarId,
                "BATCH_LIST", "LAYOUT1", nullptr) ||
        !list_)
        return FALSE;
    // Items keep the order they are given; the list sorts them by order number itself.
    list_->ModifyStyle(LVS_SORTASCENDING | LVS_TYPEMASK, LVS_REPORT | LVS_SHOWSELALWAYS);
    viewType_ = LVS_REPORT;
    list_->SetItemCallback(&CFileBatchList::ItemCallback, this);
    list_->EnableDragReorder(TRUE);
    const struct {
        UINT header;
        int width, format;
    } columns[] = {{0, 28, LVCFMT_CENTER},
                   {IDS_COLUMN_FILE, 163, LVCFMT_LEFT},
                   {IDS_COLUMN_DURATION, 82, LVCFMT_CENTER},
                   {IDS_COLUMN_TYPE, 50, LVCFMT_CENTER}};
    for (int i = 0; i < 4; ++i) {
        const CString header = columns[i].header ? AfxLoadString(columns[i].header) : CString();
        list_->InsertColumn(i, header, columns[i].format, columns[i].width);
    }
    SetMetricB(1);
    BuildImageList(rect);
    return TRUE;
}

void CFileBatchList::BuildImageList(const RECT& rect) {
    CRoomList::BuildImageList(rect);
    SkinStaticNode* node = CSkinLayout::FindStatic("BATCH_LIST", "LAYOUT1", "ROOMLIST");
    if (!node || !list_) return;
    const int width = node->width;
    const int first = static_cast<int>(width * 0.08), second = static_cast<int>(width * 0.46),
              third = static_cast<int>(width * 0.23);
    int widths[] = {first, second, third, std::max(width - first - second - third, 0)};
    // The number, duration and type columns take what their widest text needs where their
    // share is narrower (a 272-pixel list on the small screen); the file name gives it up.
    const std::array<int, 4> need = ColumnTextWidths();
    for (const int column : {0, 2, 3})
        widths[column] = std::max(widths[column], need[column]);
    widths[1] = std::max(width - widths[0] - widths[2] - widths[3], need[1]);
    list_->SendMessage(WM_SETREDRAW, FALSE);
    for (int column = 0; column < 4; ++column)
        list_->SendMessage(LVM_SETCOLUMNWIDTH, column, widths[column]);
    for (int i = 0; i < list_->GetItemCount(); ++i)
        WriteColumns(i);
    list_->SendMessage(WM_SETREDRAW, TRUE);
}

std::array<int, 4> CFileBatchList::ColumnTextWidths() const {
    std::array<int, 4> need{};
    if (!list_ || !list_->m_hWnd) return need;
    HDC dc = ::GetDC(list_->m_hWnd);
    if (!dc) return need;
    const auto widest = [dc](HFONT font, const std::vector<CString>& texts) {
        HGDIOBJ old = SelectObject(dc, font);
        int most = 0;
        for (const CString& text : texts) {
            SIZE size{};
            if (GetTextExtentPoint32A(dc, text, text.GetLength(), &size)) most = std::max<int>(most, size.cx);
        }
        SelectObject(dc, old);
        return most;
    };
    // Numbers and time codes drawn with the font's widest digit in every place.
    const auto widestDigits = [&widest](HFONT font, const CString& pattern) {
        std::vector<CString> texts;
        for (char digit = '0'; digit <= '9'; ++digit) {
            CString text = pattern;
            for (int i = 0; i < text.GetLength(); ++i)
                if (text.GetAt(i) >= '0' && text.GetAt(i) <= '9') text.SetAt(i, digit);
            texts.push_back(text);
        }
        return widest(font, texts);
    };
    HFONT cellFont = GetAppGuiFont();
    HFONT headerFont =
        list_->Header().m_hWnd ? reinterpret_cast<HFONT>(list_->Header().SendMessage(WM_GETFONT)) : nullptr;
    if (!headerFont) headerFont = cellFont;
    std::vector<CString> types;
    for (uint32_t formatClass = 1; formatClass <= 15; ++formatClass)
        types.push_back(FormatClassText(formatClass));
    char limit[16];
    std::snprintf(limit, sizeof limit, "%d", entryLimit_);
    const int cells[] = {widestDigits(cellFont, limit), 0, widestDigits(cellFont, FormatTimeCode(0, 0)),
                         widest(cellFont, types)};
    for (int column = 0; column < 4; ++column) {
        char header[64] = {};
        LVCOLUMNA info{};
        info.mask = LVCF_TEXT;
        info.pszText = header;
        info.cchTextMax = sizeof header;
        if (!list_->SendMessage(LVM_GETCOLUMNA, column, reinterpret_cast<LPARAM>(&info))) header[0] = '\0';
        need[column] = std::max(cells[column], widest(headerFont, {CString(header)})) + kColumnTextMargin;
    }
    ::ReleaseDC(list_->m_hWnd, dc);
    return need;
}

FileBatchEntry* CFileBatchList::ProbeFile(const char* path) {
    if (!path || std::strlen(path) >= sizeof(FileBatchEntry{}.path)) return nullptr;
    engines::ClipInfo info{};
    info.mediaKind = 0;
    // QueryClipInfo initialises COM on this thread for its own clip player and leaves
    // `info` untouched when the file cannot be opened: a kind of 0 says so.
    QueryClipInfo(path, &info, nullptr, nullptr, 0);
    if (info.mediaKind == 0) return nullptr;
    auto* entry = new FileBatchEntry{};
    entry->progressMark = -1;
    std::snprintf(entry->path, sizeof entry->path, "%s", path);
    entry->media = info;
    entry->inPoint = 0;
    entry->outPoint = info.duration;
    return entry;
}

HRESULT CFileBatchList::ProbeSegments(const char* path, CProgressDialog* dialog, std::vector<FileBatchEntry*>* made) {
    if (!made) return E_FAIL;
    // The dialog is handed over before the scan's first notice, which reaches it through
    // the list's window (a synchronous send), and taken back after the last.
    scan_.SetDialog(dialog);
    const HRESULT hr = ForEachSegment(
        path, &CFileBatchList::SegmentNotice, this,
        [&](IClipPlayer* player, const engines::SegmentRecord& record, const filepage::SegmentClip& clip) {
            auto* entry = new FileBatchEntry{};
            entry->progressMark = -1;
            std::snprintf(entry->path, sizeof entry->path, "%s", path);
            entry->inPoint = clip.inPoint;
            entry->outPoint = clip.outPoint;
            QueryClipInfo(path, &entry->media, player, nullptr, 0);
            entry->media.duration = entry->media.inLength = entry->media.outLength = clip.length;
            entry->media.width = record.width;
            entry->media.height = record.height;
            entry->media.videoBitRate = record.videoBitRate;
            made->push_back(entry);
        });
    scan_.SetDialog(nullptr);
    return hr;
}

void CALLBACK CFileBatchList::SegmentNotice(DWORD code, UINT_PTR value, void* context) {
    auto* list = static_cast<CFileBatchList*>(context);
    if (list && list->m_hWnd) ::SendMessageA(list->m_hWnd, kSegmentNoticeMessage, code, static_cast<LPARAM>(value));
}

int CFileBatchList::AddEntry(FileBatchEntry* entry, bool keepOrder) {
    if (!entry) return E_FAIL;
    if (!keepOrder)
        entry->order = nextOrder_++;
    else
        nextOrder_ = std::max(nextOrder_, entry->order + 1);
    const int index = AddItem(entry->path, entry);
    if (index < 0) {
        delete entry;
        return 0;
    }
    list_->SetItemState(index, LVIS_SELECTED, LVIS_SELECTED);
    WriteColumns(index);
    list_->EnsureVisible(index, FALSE);
    SyncScrollBarFromList(list_);
    return 1;
}

void CFileBatchList::WriteColumns(int index) {
    FileBatchEntry* entry = Entry(index);
    if (!entry) return;
    char number[16];
    std::snprintf(number, sizeof number, "%d", index + 1);
    list_->SetItemText(index, 0, number);
    list_->SetItemText(index, 1, FileNamePart(entry->path));
    list_->SetItemText(index, 2, FormatTimeCode(entry->media.duration, 0));
    list_->SetItemText(index, 3, FormatClassText(entry->media.formatClass));
}

FileBatchEntry* CFileBatchList::Entry(int index) const {
    void* data = nullptr;
    return GetItemData(index, &data) ? static_cast<FileBatchEntry*>(data) : nullptr;
}

int CFileBatchList::FindEntryByPath(const char* path) const {
    if (!path || !list_) return -1;
    for (int i = 0; i < list_->GetItemCount(); ++i)
        if (const FileBatchEntry* entry = Entry(i); entry && std::strcmp(entry->path, path) == 0) return i;
    return -1;
}

bool CFileBatchList::IsSelected(int index) const {
    return list_ && (list_->SendMessage(LVM_GETITEMSTATE, index, LVIS_SELECTED) & LVIS_SELECTED) != 0;
}

void CFileBatchList::ClearSelection() {
    if (!list_ || (list_->GetStyle() & LVS_SINGLESEL)) return;
    for (int i = 0; i < list_->GetItemCount(); ++i)
        if (!list_->SetItemState(i, 0, LVIS_SELECTED)) break;
}

void CFileBatchList::SelectOnly(int index) {
    ClearSelection();
    if (!list_ || index < 0 || index >= list_->GetItemCount()) return;
    list_->SetItemState(index, LVIS_SELECTED, LVIS_SELECTED);
    list_->EnsureVisible(index, FALSE);
}

void CFileBatchList::Resort() {
    if (!list_) return;
    list_->SendMessage(LVM_SORTITEMS, 0, reinterpret_cast<LPARAM>(+[](LPARAM a, LPARAM b, LPARAM) -> int {
                           const auto* x = reinterpret_cast<const FileBatchEntry*>(a);
                           const auto* y = reinterpret_cast<const FileBatchEntry*>(b);
                           return x->order < y->order ? -1 : x->order > y->order ? 1 : 0;
                       }));
    if (GetSelectedCount() == 1) list_->EnsureVisible(GetNextSelected(-1, nullptr), FALSE);
    for (int i = 0; i < list_->GetItemCount(); ++i)
        WriteColumns(i);
    list_->Invalidate(FALSE);
}

int CFileBatchList::MoveSelection(int target) {
    if (!list_) return 0;
    const int n = list_->GetItemCount();
    std::vector<int32_t> orders(n);
    std::vector<bool> selected(n);
    for (int i = 0; i < n; ++i) {
        orders[i] = Entry(i) ? Entry(i)->order : 0;
        selected[i] = IsSelected(i);
    }
    const std::vector<int32_t> moved = filepage::MoveOrders(orders, selected, target);
    if (moved.empty()) return 0;
    for (int i = 0; i < n; ++i)
        if (FileBatchEntry* entry = Entry(i)) entry->order = moved[i];
    Resort();
    return 1;
}

void CFileBatchList::SetAllMarks(int32_t mark) {
    for (int i = 0; i < Count(); ++i)
        if (FileBatchEntry* entry = Entry(i)) entry->progressMark = mark;
    if (list_) list_->Invalidate(FALSE);
}

void CFileBatchList::SetMark(int index, int32_t mark) {
    if (FileBatchEntry* entry = Entry(index)) entry->progressMark = mark;
    if (list_) list_->Invalidate(FALSE);
}

int CFileBatchList::FreeItemData(void* data) {
    delete static_cast<FileBatchEntry*>(data);
    return 0;
}

int CFileBatchList::ItemCallback(int item, HBITMAP*, void* context, int* highlight) {
    const FileBatchEntry* entry = static_cast<CFileBatchList*>(context)->Entry(item);
    if (!entry) return 0;
    *highlight = entry->progressMark;
    return 1;
}

LRESULT CFileBatchList::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kSegmentNoticeMessage)
        return scan_.OnNotice(static_cast<DWORD>(wParam), static_cast<UINT_PTR>(lParam));
    if (LRESULT routed = 0; RouteRoomListMessage(this, message, wParam, lParam, &routed)) return routed;
    if (message == WM_NOTIFY && list_) {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        if (header && header->hwndFrom == list_->m_hWnd) {
            LRESULT result = 0;
            switch (header->code) {
                case GLN_KEYUP:
                    OnListKeyDown(header, &result);
                    return result;
                case NM_RCLICK: {
                    OnItemClick(header, &result);
                    NMHDR notice{m_hWnd, kListId, kNotifyContextMenu};
                    if (parent_) parent_->SendMessage(WM_NOTIFY, kListId, reinterpret_cast<LPARAM>(&notice));
                    return 0;
                }
                case GLN_DRAGDROP:
                    if (GetSelectedCount() > 0 && MoveSelection(list_->HitTestCursor()) && parent_) {
                        NMHDR notice{m_hWnd, kListId, kNotifyReordered};
                        parent_->SendMessage(WM_NOTIFY, kListId, reinterpret_cast<LPARAM>(&notice));
                    }
                    return 0;
                case LVN_GETINFOTIPA: {
                    auto* tip = reinterpret_cast<NMLVGETINFOTIPA*>(lParam);
                    if (const FileBatchEntry* entry = Entry(tip->iItem); entry && tip->pszText && tip->cchTextMax > 0)
                        std::snprintf(tip->pszText, static_cast<size_t>(std::min(tip->cchTextMax, 1024)), "%s",
                                      entry->path);
                    return 0;
                }
                default:
                    break;
            }
        }
    }
    return CRoomList::WindowProc(message, wParam, lParam);
}
