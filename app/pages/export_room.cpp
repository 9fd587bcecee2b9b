#include "app/pages/export_room.h"

#include <shlwapi.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "app/pages/batch_rules.h"
#include "app/pages/file_batch_list.h"
#include "app/pages/room_routing.h"
#include "app/pages/video_viewer_dlg.h"
#include "app/resources/resource_ids.h"
#include "app/services/system_utils.h"
#include "app/services/text_fonts.h"
#include "app/services/tv_format.h"
#include "app/skin/common_dialogs.h"
#include "app/skin/skin_images.h"
#include "app/skin/skin_layout.h"
#include "engines/client/engine_client.h"
#include "framework/app.h"

IMPLEMENT_DYNAMIC(CExportRoom, CRoomList)

namespace {

constexpr const char* kView = "EXPORT_ROOM";

const char* FileNamePart(const char* path) {
    const char* slash = std::strrchr(path, '\\');
    const char* other = std::strrchr(path, '/');
    if (other > slash) slash = other;
    return slash ? slash + 1 : path;
}

int Tell(UINT id, const CString& text, HWND owner) {
    MessageBoxRequest request;
    request.id = id;
    request.text = text;
    request.caption = AfxGetAppName();
    request.type = MB_OK | MB_ICONEXCLAMATION;
    request.owner = owner;
    return AfxShowMessageBox(request);
}

// "%.2f %s" of a byte count in its unit.
CString SizeText(int64_t bytes) {
    double value = 0;
    char unit[32] = {};
    FormatByteSize(bytes, &value, unit, sizeof unit);
    CString text;
    text.Format("%.2f %s", value, unit);
    return text;
}

// A video bit rate in the byte units, per second.
CString BitRateText(uint32_t bitsPerSecond) {
    CString text;
    text.Format("%s%s", SizeText(bitsPerSecond).c_str(), AfxLoadString(IDS_PROP_PER_SECOND).c_str());
    return text;
}

// The file's modification date, "YYYY/MM/DD"; empty when its status cannot be read.
CString DateText(const char* path) {
    struct _stat64 status {};
    if (_stat64(path, &status) != 0) return CString();
    const time_t when = static_cast<time_t>(status.st_mtime);
    struct tm local {};
    if (localtime_s(&local, &when) != 0) return CString();
    char text[32] = {};
    std::strftime(text, sizeof text, "%Y/%m/%d", &local);
    return CString(text);
}

CString ChannelText(uint32_t mode) {
    switch (mode) {
        case 1:
            return AfxLoadString(IDS_CHANNELS_STEREO);
        case 2:
            return AfxLoadString(IDS_PROP_DUAL_CHANNEL);
        case 3:
            return AfxLoadString(IDS_PROP_JOINT_STEREO);
        default:
            return AfxLoadString(IDS_CHANNELS_MONO);
    }
}

// One line "label: value[unit]" of a properties section.
void AddLine(CString* section, UINT label, const CString& value, const CString& unit = CString()) {
    CString line;
    line.Format("%s: %s%s\r\n", AfxLoadString(label).c_str(), value.c_str(), unit.c_str());
    *section += line;
}

CString Number(const char* format, double value) {
    CString text;
    text.Format(format, value);
    return text;
}

}  // namespace

void CExportRoom::FilePropertyTexts(const char* path, const engines::ClipInfo& media, CString texts[3]) {
    for (int i = 0; i < 3; ++i)
        texts[i] = CString();
    if (!path) return;
    AddLine(&texts[0], IDS_PROP_FILE, path);
    AddLine(&texts[0], IDS_PROP_TYPE, FormatClassText(media.formatClass));
    AddLine(&texts[0], IDS_PROP_SIZE, SizeText(media.fileBytes));
    if (const CString date = DateText(path); !date.IsEmpty()) AddLine(&texts[0], IDS_PROP_DATE, date);
    const uint32_t cls = media.formatClass;
    const uint32_t mode106 = media.value26 >> 16;
    const auto samplingLine = [&](CString* section) {
        if (media.audioSampleRate)
            AddLine(section, IDS_PROP_SAMPLING, Number("%.0f", media.audioSampleRate / 1000),
                    AfxLoadString(IDS_KHZ_SUFFIX));
    };
    if (media.mediaKind == engines::kClipVideo) {
        AddLine(&texts[1], IDS_PROP_DURATION, FormatTimeCode(media.duration, 0));
        // An unknown bit rate (0: a variable-rate stream) is left out rather than shown as 0.
        if ((cls == 3 || cls == 4 || cls == 11) && media.videoBitRate)
            AddLine(&texts[1], IDS_PROP_BIT_RATE, BitRateText(media.videoBitRate));
        CString size;
        size.Format("%ux%u", media.width, media.height);
        AddLine(&texts[1], IDS_PROP_FRAME_SIZE, size);
        AddLine(&texts[1], IDS_PROP_FRAME_RATE, Number("%.2f ", media.frameRate), AfxLoadString(IDS_PROP_FPS));
        samplingLine(&texts[2]);
        if (cls == 3 || cls == 4) {
            if (media.audioBitRate)
                AddLine(&texts[2], IDS_PROP_BIT_RATE, Number("%.0f", media.audioBitRate / 1000),
                        AfxLoadString(IDS_PROP_KBPS));
            AddLine(&texts[2], IDS_PROP_CHANNELS, ChannelText(media.audioChannelMode));
        } else if (mode106) {
            AddLine(&texts[2], IDS_PROP_CHANNELS, ChannelText(mode106 - 1));
        }
    } else if (media.mediaKind == engines::kClipAudio) {
        samplingLine(&texts[1]);
        if ((cls == 66 || cls == 68) && media.audioBytesPerSecond)
            AddLine(&texts[1], IDS_PROP_BIT_RATE, Number("%.0f", (media.audioBytesPerSecond * 8) / 1000),
                    AfxLoadString(IDS_PROP_KBPS));
        if (mode106) AddLine(&texts[1], IDS_PROP_CHANNELS, ChannelText(mode106 - 1));
    }
}

void CExportRoom::ShowFileProperties(const char* path, const engines::ClipInfo& media, CWnd* owner) {
    CString texts[3];
    FilePropertyTexts(path, media, texts);
    const bool audioOnly = media.mediaKind == engines::kClipAudio;
    CInfoDialog dialog(AfxLoadString(IDS_PROP_GENERAL), texts[0],
                       AfxLoadString(audioOnly ? IDS_PROP_AUDIO : IDS_PROP_VIDEO), texts[1],
                       AfxLoadString(IDS_PROP_AUDIO), texts[2], owner);
    dialog.DoModal();
}

CString CExportRoom::TipText(int index) const {
    const ExportRoomEntry* entry = Entry(index);
    if (!entry || !list_) return CString();
    char compact[MAX_PATH] = {};
    std::snprintf(compact, sizeof compact, "%s", entry->path);
    if (HDC dc = ::GetDC(list_->m_hWnd)) {
        PathCompactPathA(dc, compact, 20);
        ::ReleaseDC(list_->m_hWnd, dc);
    }
    const engines::ClipInfo& m = entry->media;
    CString size;
    size.Format("%ux%u", m.width, m.height);
    const CString rate = Number("%.2f", m.frameRate);
    CString tip;
    if (m.videoBitRate)
        tip.FormatId(IDS_ROOM_TIP_BITRATE, compact, FormatClassText(m.formatClass).c_str(),
                     SizeText(m.fileBytes).c_str(), DateText(entry->path).c_str(), BitRateText(m.videoBitRate).c_str(),
                     size.c_str(), rate.c_str());
    else
        tip.FormatId(IDS_ROOM_TIP, compact, FormatClassText(m.formatClass).c_str(), SizeText(m.fileBytes).c_str(),
                     DateText(entry->path).c_str(), size.c_str(), rate.c_str());
    return tip;
}

BOOL CExportRoom::Create(const RECT& rect, CWnd* parent) {
    if (SkinStaticNode* icon = CSkinLayout::FindStatic(kView, "LAYOUT1", "IDC_EXPROOM_ICONVIEW_ICON"))
        iconWidth_ = icon->width, iconHeight_ = icon->height;
    int reportWidth = 16, reportHeight = 16;
    if (SkinStaticNode* report = CSkinLayout::FindStatic(kView, "LAYOUT1", "IDC_EXPROOM_REPORTVIEW_ICON"))
        reportWidth = report->width, reportHeight = report->height;
    if (SkinStaticNode* poster = CSkinLayout::FindStatic(kView, "LAYOUT1", "IDC_EXPROOM_POSTER"))
        poster_ = CRect(poster->left, poster->top, poster->left + poster->width, poster->top + poster->height);
    SetLayout(iconWidth_, iconHeight_, reportWidth, reportHeight, poster_.left, poster_.top, poster_.right,
              poster_.bottom);
    const char* cls = AfxRegisterWndClass(CS_DBLCLKS, LoadCursor(nullptr, IDC_ARROW));
    if (!CRoomList::Create(cls, "ExportRoom", WS_CHILD | WS_VISIBLE, rect, parent, kListId, kScrollBarId, kView,
                           "LAYOUT1", nullptr) ||
        !list_)
        return FALSE;
    list_->ModifyStyle(LVS_SORTASCENDING | LVS_TYPEMASK, LVS_ICON | LVS_SHOWSELALWAYS);
    viewType_ = LVS_ICON;
    BuildImageList(rect);
    if (SkinStaticNode* room = CSkinLayout::FindStatic(kView, "LAYOUT1", "ROOM"))
        if (!room->background.source.empty())
            SetBackgroundBitmap(roomBackground_ = LoadSkinBitmap(room->background.source.c_str()));
    const char* strips[3] = {"room_strip_base.png", "room_strip_shine.png", "room_strip_select.png"};
    for (int i = 0; i < 3; ++i)
        strips_[i] = LoadSkinBitmap(strips[i]);
    list_->SetItemCallback(
        +[](int item, HBITMAP* bitmap, void* context, int*) -> int {
            auto* room = static_cast<CExportRoom*>(context);
            if (!room->Entry(item)) return 0;
            *bitmap = reinterpret_cast<HBITMAP>(static_cast<INT_PTR>(room->RefreshItem(item)));
            return 1;
        },
        this);
    progress_ = new CProgressDialog(this, "");
    progress_->ShowWindow(SW_HIDE);
    scan_.SetDialog(progress_);
    return TRUE;
}

ExportRoomEntry* CExportRoom::Entry(int index) const {
    void* data = nullptr;
    return GetItemData(index, &data) ? static_cast<ExportRoomEntry*>(data) : nullptr;
}

int CExportRoom::SelectedIndex() const {
    return CRoomList::GetSelectedCount() == 1 ? GetNextSelected(-1, nullptr) : -1;
}

ExportRoomEntry* CExportRoom::MakeEntry(const char* path) {
    if (!path || std::strlen(path) >= sizeof(ExportRoomEntry{}.path)) return nullptr;
    auto* entry = new ExportRoomEntry{};
    std::snprintf(entry->path, sizeof entry->path, "%s", path);
    void* pixels = nullptr;
    CreateDisplayDib(poster_.Width(), poster_.Height(), &entry->thumbnail, &pixels);
    QueryClipInfo(path, &entry->media, nullptr, entry->thumbnail ? &entry->thumbnail : nullptr, 0);
    if (entry->media.mediaKind == 0) {
        FreeItemData(entry);
        return nullptr;
    }
    entry->inPoint = 0;
    entry->outPoint = entry->media.duration;
    return entry;
}

void CExportRoom::AddFile(const char* path) {
    if (filepage::IsSegmentedFile(path)) {
        AddSegments(path);
        return;
    }
    InsertEntry(MakeEntry(path));
}

void CExportRoom::AddSegments(const char* path) {
    if (progress_) {
        progress_->SetTitle(path);
        progress_->ShowWindow(SW_SHOW);
    }
    ForEachSegment(
        path,
        +[](DWORD code, UINT_PTR value, void* context) {
            static_cast<CExportRoom*>(context)->scan_.OnNotice(code, value);
        },
        this,
        [&](IClipPlayer* player, const engines::SegmentRecord& record, const filepage::SegmentClip& clip) {
            auto* entry = new ExportRoomEntry{};
            std::snprintf(entry->path, sizeof entry->path, "%s", path);
            void* pixels = nullptr;
            CreateDisplayDib(poster_.Width(), poster_.Height(), &entry->thumbnail, &pixels);
            QueryClipInfo(path, &entry->media, player, entry->thumbnail ? &entry->thumbnail : nullptr, clip.inPoint);
            entry->inPoint = clip.inPoint;
            entry->outPoint = clip.outPoint;
            entry->media.duration = entry->media.inLength = entry->media.outLength = clip.length;
            entry->media.width = record.width;
            entry->media.height = record.height;
            entry->media.videoBitRate = record.videoBitRate;
            InsertEntry(entry);
        });
    if (progress_) progress_->ShowWindow(SW_HIDE);
}

void CExportRoom::InsertEntry(ExportRoomEntry* entry) {
    if (!entry) return;
    const int index = AddItem(FileNamePart(entry->path), entry);
    if (index < 0) {
        FreeItemData(entry);
        return;
    }
    list_->EnsureVisible(index, FALSE);
    ScrollToWholeRows(true);
}

int CExportRoom::TopRowCutPixels(int* pitch) const {
    *pitch = 0;
    if (!list_ || list_->ViewType() != LVS_ICON || list_->GetItemCount() == 0) return 0;
    RECT first{};
    first.left = LVIR_BOUNDS;
    if (!list_->SendMessage(LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&first))) return 0;
    *pitch = HIWORD(list_->SendMessage(LVM_GETITEMSPACING, FALSE, 0));
    // Rows lie one pitch apart from the first item's row; one of them straddles the top edge
    // when the first row's top lies above it by other than whole pitches.
    if (*pitch <= 0 || first.top >= 0) return 0;
    return static_cast<int>(-static_cast<int64_t>(first.top) % *pitch);
}

void CExportRoom::ScrollToWholeRows(bool forward) {
    int pitch = 0;
    const int cut = TopRowCutPixels(&pitch);
    if (cut) {
        // Scrolling stops at the end of the list, so the step forward may fall short; what is
        // left of the cut is then taken back.
        if (forward || 2 * cut >= pitch) list_->Scroll(0, pitch - cut);
        if (const int left = TopRowCutPixels(&pitch)) list_->Scroll(0, -left);
    }
    SyncScrollBarFromList(list_);
}

void CExportRoom::SyncListFromScrollBar(CGNewScrollBar* bar) {
    CRoomList::SyncListFromScrollBar(bar);
    ScrollToWholeRows(false);
}

int CExportRoom::RefreshItem(int index) {
    const ExportRoomEntry* entry = Entry(index);
    if (!entry || !list_ || list_->ViewType() != LVS_ICON) return 0;
    HDC screen = ::GetDC(nullptr);
    HBITMAP result = CreateCompatibleBitmap(screen, iconWidth_, iconHeight_);
    HDC dc = CreateCompatibleDC(screen), source = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(dc, result);
    const bool selected = (list_->SendMessage(LVM_GETITEMSTATE, index, LVIS_SELECTED) & LVIS_SELECTED) != 0;
    const bool hot = static_cast<int>(list_->SendMessage(LVM_GETHOTITEM)) == index;
    if (HBITMAP strip = strips_[selected ? 2 : hot ? 1 : 0]) {
        HGDIOBJ oldSource = SelectObject(source, strip);
        BitBlt(dc, 0, 0, iconWidth_, iconHeight_, source, 0, 0, SRCCOPY);
        SelectObject(source, oldSource);
    }
    if (entry->thumbnail) {
        HGDIOBJ oldSource = SelectObject(source, entry->thumbnail);
        BitBlt(dc, poster_.left, poster_.top, poster_.Width(), poster_.Height(), source, 0, 0, SRCCOPY);
        SelectObject(source, oldSource);
    }
    SelectObject(dc, old);
    DeleteDC(dc);
    DeleteDC(source);
    ::ReleaseDC(nullptr, screen);
    return static_cast<int>(reinterpret_cast<INT_PTR>(result));
}

int CExportRoom::FreeItemData(void* data) {
    auto* entry = static_cast<ExportRoomEntry*>(data);
    if (!entry) return 0;
    if (entry->thumbnail) DeleteObject(entry->thumbnail);
    delete entry;
    return 1;
}

LRESULT CExportRoom::ViewSelected() {
    const ExportRoomEntry* entry = Entry(SelectedIndex());
    if (!entry || GetFileAttributesA(entry->path) == INVALID_FILE_ATTRIBUTES) return 0;
    CVideoViewerDlg::ShowModal(entry->path, entry->inPoint, entry->outPoint, entry->media.width, entry->media.height,
                               this);
    return 1;
}

LRESULT CExportRoom::OpenFile(const char* path) {
    // Disc title files are viewed through their titles, never whole.
    const char* dot = path ? std::strrchr(path, '.') : nullptr;
    if (!path || (dot && (_stricmp(dot, ".vob") == 0 || _stricmp(dot, ".vro") == 0))) return 0;
    if (progress_) {
        progress_->SetCaptionFormat(AfxLoadString(IDS_OPENING_FILE));
        progress_->SetTitle(path);
        progress_->SetRange(0, 100, 1);
        // From 0 so that the caption is written again whatever the dialog showed last.
        progress_->SetPos(0);
        progress_->SetPos(100);
        progress_->ShowWindow(SW_SHOW);
        progress_->PumpMessages(FALSE);
    }
    ExportRoomEntry* entry = MakeEntry(path);
    if (progress_) progress_->ShowWindow(SW_HIDE);
    if (!entry) return 0;
    CVideoViewerDlg::ShowModal(entry->path, 0, entry->media.duration, entry->media.width, entry->media.height, this);
    FreeItemData(entry);
    return 1;
}

LRESULT CExportRoom::RenameSelected() {
    const int index = SelectedIndex();
    ExportRoomEntry* entry = Entry(index);
    if (!entry) return 0;
    CRenameDlg dialog(nullptr);
    dialog.SetPath(entry->path);
    if (dialog.DoModal() != IDOK) return 0;
    dialog.GetPath(entry->path, sizeof entry->path);
    list_->SetItemText(index, 0, FileNamePart(entry->path));
    list_->SetFocus();
    list_->RedrawItems(index, index);
    return 1;
}

void CExportRoom::OnCommand(UINT id) {
    const int index = SelectedIndex();
    ExportRoomEntry* entry = Entry(index);
    if (!entry) return;
    switch (id) {
        case 4411:
            ViewSelected();
            break;
        case 4412:
            // The file goes first; the item follows only when it is really gone, so that a
            // file that could not be deleted stays reachable from the list.
            if (DeleteFileA(entry->path) || GetFileAttributesA(entry->path) == INVALID_FILE_ATTRIBUTES)
                DeleteItem(index);
            break;
        case 4413:
            DeleteItem(index);
            break;
        case 4414:
            RenameSelected();
            break;
        case 4415:
            ShowFileProperties(entry->path, entry->media, this);
            break;
        default:
            break;
    }
    SyncScrollBarFromList(list_);
}

LRESULT CExportRoom::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (LRESULT routed = 0; RouteRoomListMessage(this, message, wParam, lParam, &routed)) return routed;
    if (message == WM_NOTIFY && list_) {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        if (header && header->hwndFrom == list_->m_hWnd) {
            switch (header->code) {
                case NM_DBLCLK:
                    ViewSelected();
                    return 0;
                case LVN_GETINFOTIPA: {
                    auto* tip = reinterpret_cast<NMLVGETINFOTIPA*>(lParam);
                    if (tip->pszText && tip->cchTextMax > 0) {
                        const CString text = TipText(tip->iItem);
                        std::snprintf(tip->pszText, static_cast<size_t>(std::min(tip->cchTextMax, 1024)), "%s",
                                      text.c_str());
                    }
                    return 0;
                }
                case NM_RCLICK:
                    if (SelectedIndex() >= 0) {
                        if (HMENU menu = LoadMenuA(AfxGetResourceHandle(), MAKEINTRESOURCEA(IDR_EXPORT_ROOM_MENU))) {
                            POINT at;
                            GetCursorPos(&at);
                            TrackPopupMenu(GetSubMenu(menu, 0), TPM_LEFTALIGN | TPM_RIGHTBUTTON, at.x, at.y, 0, m_hWnd,
                                           nullptr);
                            DestroyMenu(menu);
                        }
                    }
                    return 0;
                default:
                    break;
            }
        }
    }
    if (message == WM_COMMAND && LOWORD(wParam) >= 4411 && LOWORD(wParam) <= 4415) {
        OnCommand(LOWORD(wParam));
        return 0;
    }
    if (message == WM_DESTROY) {
        scan_.SetDialog(nullptr);
        delete progress_;
        progress_ = nullptr;
        for (HBITMAP& strip : strips_)
            if (strip) DeleteObject(strip), strip = nullptr;
        SetBackgroundBitmap(nullptr);
        if (roomBackground_) DeleteObject(roomBackground_), roomBackground_ = nullptr;
    }
    return CRoomList::WindowProc(message, wParam, lParam);
}

// ---- the rename dialog ----

CRenameDlg::CRenameDlg(CWnd* parent) : CDialog(IDD_RENAME, parent) {}

void CRenameDlg::SetPath(const char* path) {
    std::snprintf(path_, sizeof path_, "%s", path ? path : "");
}

void CRenameDlg::GetPath(char* buffer, size_t size) const {
    if (buffer && size) std::snprintf(buffer, size, "%s", path_);
}

BOOL CRenameDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    char drive[_MAX_DRIVE], folder[_MAX_DIR], name[_MAX_FNAME], extension[_MAX_EXT];
    if (_splitpath_s(path_, drive, sizeof drive, folder, sizeof folder, name, sizeof name, extension,
                     sizeof extension) != 0)
        name[0] = extension[0] = '\0';
    SetDlgItemTextA(m_hWnd, IDC_RENAME_NAME, name);
    SetDlgItemTextA(m_hWnd, IDC_RENAME_EXTENSION, extension);
    return TRUE;
}

void CRenameDlg::OnOK() {
    char drive[_MAX_DRIVE], folder[_MAX_DIR], oldName[_MAX_FNAME], extension[_MAX_EXT];
    if (_splitpath_s(path_, drive, sizeof drive, folder, sizeof folder, oldName, sizeof oldName, extension,
                     sizeof extension) != 0)
        return;
    char typed[256] = {};
    GetDlgItemTextA(m_hWnd, IDC_RENAME_NAME, typed, sizeof typed);
    std::string name(typed);
    const int valid = filepage::CheckName(&name);
    if (valid && name == oldName) {
        EndDialog(IDOK);
        return;
    }
    if (!valid) {
        Tell(IDS_RENAME_INVALID, AfxLoadString(IDS_RENAME_INVALID), m_hWnd);
        return;
    }
    char target[MAX_PATH * 2];
    std::snprintf(target, sizeof target, "%s%s%s%s", drive, folder, name.c_str(), extension);
    if (std::strlen(target) >= sizeof path_) {
        Tell(IDS_RENAME_INVALID, AfxLoadString(IDS_RENAME_INVALID), m_hWnd);
        return;
    }
    if (GetFileAttributesA(target) != INVALID_FILE_ATTRIBUTES) {
        Tell(IDS_RENAME_EXISTS, AfxLoadString(IDS_RENAME_EXISTS), m_hWnd);
        return;
    }
    // The new name is taken only when the file was really moved; otherwise the dialog stays
    // open with the path unchanged.
    if (!MoveFileA(path_, target)) {
        CString text;
        text.FormatId(IDS_OUTPUT_NOT_RENAMED, target, path_);
        Tell(IDS_OUTPUT_NOT_RENAMED, text, m_hWnd);
        return;
    }
    SetPath(target);
    EndDialog(IDOK);
}
