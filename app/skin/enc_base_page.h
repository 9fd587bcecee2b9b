// The common base window of the work pages (DV capture, file conversion): a child window with
// a fixed creation recipe, a table of child controls shown at once, the page-to-parent
// notification, the busy cursor, and the rules by which output file names are made.
// User-interface thread only.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include "framework/string.h"
#include "framework/wnd.h"

class CGButton;
class CGVolumeControl;

// The WM_NOTIFY record of the pages: the notification header and one value. The value may
// carry the address of a text, so it is pointer-sized; it is valid only during the call.
struct PageNotifyRecord {
    NMHDR hdr;
    LPARAM data;
};

class CEncBasePage : public CWnd {
    DECLARE_DYNAMIC(CEncBasePage)

public:
    static constexpr int kChildSlots = 22;

    CEncBasePage();
    virtual BOOL Create(const RECT* rect, UINT id, CWnd* parent);
    void ShowControls();
    LRESULT NotifyParent(UINT code, LPARAM data);
    // The wait cursor (busy) or the arrow over this page, shown at once. Only this window's
    // cursor changes; the window class is shared and stays as it is.
    void SetBusyCursor(BOOL busy);
    void SetVolumeButton(CGButton* button) { volumeButton_ = button; }
    CGButton* GetVolumeButton() const { return volumeButton_; }
    // The volume button's command: the button shows the speakers' mute state before and
    // after the volume popup, which runs modally.
    void OnVolume();
    CGVolumeControl* GetVolumePopup() const { return volumePopup_; }
    // The speakers' mute switch of the first mixer device shown on the volume button;
    // ToggleMute also turns it over first. 0 when there is no such device.
    int ShowMute();
    int ToggleMute();
    void OnOpenLink();
    // The stem of output file names: the conversion or capture folder and the page name, or
    // "" (after a message) when that folder is not a directory.
    CString GetTargetFolder(BOOL fromConvertDir);
    const CString& GetName() const { return name_; }

    CWnd* m_children[kChildSlots] = {};
    int32_t m_pageValue = 0;

    BOOL OnEraseBkgnd(CDC*) { return TRUE; }
    BOOL OnSetCursor(CWnd* wnd, UINT hitTest, UINT message);
    // The destroy step of the derived pages' WM_DESTROY handlers.
    void OnDestroy();

    DECLARE_MESSAGE_MAP()

protected:
    // A folder is tested with this; tests replace it.
    virtual bool IsDirectory(const char* path) const;
    // The capture or conversion folder setting.
    virtual CString FolderSetting(BOOL fromConvertDir) const;

private:
    CGButton* volumeButton_ = nullptr;
    CGVolumeControl* volumePopup_ = nullptr;
    CString name_ = "Default";
    HCURSOR cursor_ = nullptr;
};

// `path` when nothing of that name exists, else the first free "drive folder base(n).ext"
// for n = 0, 1, ... below kMaxUniqueNameTries; "" when every one of those names is taken
// (the caller reports it rather than searching a crowded folder without end).
inline constexpr unsigned kMaxUniqueNameTries = 10000;
CString MakeUniqueFileName(const char* path);
// The first two characters of the capture or conversion folder, a backslash and a zero into
// `out` (at least 4 bytes). 0.
int GetTargetDriveRoot(BOOL fromConvertDir, char* out);
// The first two characters of `folder`, a backslash and a zero into `out` (4 bytes).
void DriveRootOf(const char* folder, char* out);
