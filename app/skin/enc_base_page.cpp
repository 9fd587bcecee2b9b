#include "app/skin/enc_base_page.h"

#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/resources/resource_ids.h"
#include "app/services/mixer.h"
#include "app/services/preferences.h"
#include "app/skin/skin_controls.h"
#include "app/skin/skin_volume.h"
#include "framework/app.h"

IMPLEMENT_DYNAMIC(CEncBasePage, CWnd)

BEGIN_MESSAGE_MAP(CEncBasePage, CWnd)
ON_WM_ERASEBKGND()
ON_WM_SETCURSOR()
END_MESSAGE_MAP()

CEncBasePage::CEncBasePage() = default;

BOOL CEncBasePage::Create(const RECT* rect, UINT id, CWnd* parent) {
    const char* className = AfxRegisterWndClass(0, LoadCursor(nullptr, IDC_ARROW));
    const RECT r = rect ? *rect : RECT{0, 0, 0, 0};
    if (!CWnd::Create(className, "EncBasePage", WS_CHILD, r, parent, id)) return FALSE;
    ModifyStyle(0, WS_CLIPCHILDREN);
    return TRUE;
}

void CEncBasePage::ShowControls() {
    for (CWnd* child : m_children) {
        if (!child || !child->m_hWnd) continue;
        child->ShowWindow(SW_SHOW);
        child->Invalidate(FALSE);
        child->UpdateWindow();
    }
}

LRESULT CEncBasePage::NotifyParent(UINT code, LPARAM data) {
    HWND parent = ::GetParent(m_hWnd);
    if (!parent) return 0;
    PageNotifyRecord record{};
    record.hdr.hwndFrom = m_hWnd;
    record.hdr.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID());
    record.hdr.code = code;
    record.data = data;
    return ::SendMessageA(parent, WM_NOTIFY, static_cast<WPARAM>(GetDlgCtrlID()), reinterpret_cast<LPARAM>(&record));
}

void CEncBasePage::SetBusyCursor(BOOL busy) {
    cursor_ = LoadCursor(nullptr, busy ? IDC_WAIT : IDC_ARROW);
    ::SetCursor(cursor_);
}

BOOL CEncBasePage::OnSetCursor(CWnd* wnd, UINT hitTest, UINT message) {
    if (cursor_ && hitTest == HTCLIENT) {
        ::SetCursor(cursor_);
        return TRUE;
    }
    return CWnd::OnSetCursor(wnd, hitTest, message);
}

void CEncBasePage::OnOpenLink() {
    CString link = AfxLoadString(IDS_OPEN_OUTPUT_FOLDER);
    ShellExecuteA(m_hWnd, "Open", link, nullptr, nullptr, SW_SHOWNORMAL);
}

void CEncBasePage::OnVolume() {
    if (!volumeButton_ || volumePopup_) return;
    char device[260] = {};
    FindMixerDevice(kMixerHasSpeakers, device, sizeof device);
    LONG muted = 0;
    if (GetMixerMute(device, -1, &muted)) volumeButton_->SetCheck(muted ? 1 : 0);
    volumePopup_ = new CGVolumeControl(this);
    volumePopup_->DoModal();
    if (GetMixerMute(device, -1, &muted) && volumeButton_) volumeButton_->SetCheck(muted ? 1 : 0);
    volumePopup_->DestroyWindow();
    delete volumePopup_;
    volumePopup_ = nullptr;
}

int CEncBasePage::ShowMute() {
    char device[260] = {};
    LONG muted = 0;
    if (FAILED(FindMixerDevice(kMixerHasSpeakers, device, sizeof device)) || !GetMixerMute(device, -1, &muted))
        return 0;
    if (volumeButton_) volumeButton_->SetCheck(muted ? 1 : 0);
    return 1;
}

int CEncBasePage::ToggleMute() {
    char device[260] = {};
    LONG muted = 0;
    if (FAILED(FindMixerDevice(kMixerHasSpeakers, device, sizeof device)) || !GetMixerMute(device, -1, &muted) ||
        !SetMixerMute(device, -1, muted ? 0 : 1))
        return 0;
    return ShowMute();
}

void CEncBasePage::OnDestroy() {
    // The popup's modal loop still runs below OnVolume on this thread: it is ended and its
    // window destroyed here, and OnVolume deletes the object when the loop returns.
    if (volumePopup_) {
        volumePopup_->EndDialog(0);
        volumePopup_->DestroyWindow();
    }
    Default();
}

bool CEncBasePage::IsDirectory(const char* path) const {
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

CString CEncBasePage::FolderSetting(BOOL fromConvertDir) const {
    return fromConvertDir ? GetConvertDir() : GetCaptureDir();
}

CString CEncBasePage::GetTargetFolder(BOOL fromConvertDir) {
    CString folder = FolderSetting(fromConvertDir);
    if (!IsDirectory(folder)) {
        AfxMessageBox(IDS_FOLDER_MISSING, MB_OK);
        return CString();
    }
    std::string path(folder.c_str());
    if (path.empty() || path.back() != '\\') path += '\\';
    path += name_.c_str();
    return CString(path.c_str());
}

CString MakeUniqueFileName(const char* path) {
    if (!path) return CString();
    if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) return CString(path);
    char drive[_MAX_DRIVE], folder[_MAX_DIR], base[_MAX_FNAME], extension[_MAX_EXT];
    if (_splitpath_s(path, drive, sizeof drive, folder, sizeof folder, base, sizeof base, extension,
                     sizeof extension) != 0)
        return CString(path);
    char name[MAX_PATH * 2];
    for (unsigned counter = 0; counter < kMaxUniqueNameTries; ++counter) {
        std::snprintf(name, sizeof name, "%s%s%s(%u)%s", drive, folder, base, counter, extension);
        if (GetFileAttributesA(name) == INVALID_FILE_ATTRIBUTES) return CString(name);
    }
    return CString();
}

void DriveRootOf(const char* folder, char* out) {
    const char* text = folder ? folder : "";
    out[0] = text[0];
    out[1] = text[0] ? text[1] : '\0';
    out[2] = '\\';
    out[3] = '\0';
}

int GetTargetDriveRoot(BOOL fromConvertDir, char* out) {
    CString folder = fromConvertDir ? GetConvertDir() : GetCaptureDir();
    DriveRootOf(folder.c_str(), out);
    return 0;
}
