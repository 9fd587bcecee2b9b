// The main encode page: the hub window inside the main panel. It owns the profile store, the
// current profile record and the hosted pages (file conversion, DV capture, export room),
// switches between the pages, shows the chosen profile's summary and the disk space, keeps
// the busy state, follows DV device arrival and removal, takes the pages' notifications and
// dispatches the panel's commands (WM_ENCMAIN_COMMAND).
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "app/pages/page_slots.h"
#include "app/profiles/codec_thread.h"
#include "app/profiles/profile_manager.h"
#include "app/profiles/profile_record.h"
#include "app/skin/enc_base_page.h"
#include "app/skin/skin_factory.h"
#include "framework/wnd.h"

constexpr UINT WM_ENCMAIN_COMMAND = 0xFB9;

// Control ids of the page.
constexpr UINT kIdMainPage = 1001;
constexpr UINT kIdButtonFile = 1002;
constexpr UINT kIdButtonDV = 1003;
constexpr UINT kIdButtonMark = 1004;
constexpr UINT kIdButtonProfile = 1017;
constexpr UINT kIdFilePage = 2001;
constexpr UINT kIdDVPage = 3001;

// Busy states and shown pages.
constexpr int kIdle = 0;
constexpr int kBusyCapture = 1;
constexpr int kBusyConvert = 2;
constexpr int kShownNone = 0;
constexpr int kShownDV = 1;
constexpr int kShownFile = 2;

// Notifications the main page sends its parent (WM_NOTIFY codes).
constexpr UINT kNotifyCaptureStarted = 2024;
constexpr UINT kNotifyCaptureEnded = 2025;
constexpr UINT kNotifyConvertStarted = 2026;
constexpr UINT kNotifyConvertEnded = 2027;

// "%.2f" value and unit of a bit rate: above 10,000 bit/s in kbps, otherwise in bps.
void FormatBitRate(double bitsPerSecond, double* value, const char** unit);
// Bits per second of an audio bit-rate code (a single bit); -1 outside the table.
int64_t AudioBitRateOfCode(int64_t code);
// kHz of a sample-rate code (4 → 32, 2 → 44, 1 → 48, 8 → 96; any other → 48).
int SampleRateKhzOfCode(int32_t code);
// Resource string of a profile class's name; 0 for a class without one.
UINT ProfileClassNameId(int32_t videoFormatClass);

class CEncMainPage : public CWnd {
public:
    CEncMainPage();
    ~CEncMainPage() override;

    virtual BOOL Create(const RECT& rect, UINT id, CWnd* parent);

    // Handlers of the page's buttons, also reached from commands 4201, 4202 and 4101.
    void ShowFilePage();
    void ShowDVPage();
    void OnProfileButton();
    void OnMarkButton();

    void ApplyProfileSelection(int pageKind, float frameRate);
    void UpdateProfileSummary();
    void UpdateTargetFolderText();
    void UpdateRequiredSpaceText();
    void UpdateBusyControls();
    int HasDVDevice();
    void NotifyPanel(UINT code);

    // Queries of the panel's enable rules and keyboard translator.
    int GetBusyState() const { return busy_; }
    int GetShownPage() const { return shown_; }
    int IsDVButtonEnabled() const;
    int IsDVSetupEnabled();
    int IsExportItemSelected();
    int IsCommandEnabled(UINT code);
    int IsFilePrimaryEnabled();
    int IsDVSecondaryEnabled();
    int IsProjectModified();

    // Project commands.
    int AskSaveModified();
    void OpenProject(const char* path);
    void SaveProject(const char* path);
    void NewProject();
    void SetProjectTitle(const char* name);
    // The caption after a change of the file page's list: the project name (or the untitled
    // text) with a trailing star for the unsaved change.
    void FormatTitleText();
    const std::string& GetProjectName() const { return projectName_; }
    void OnDropFiles(HDROP drop);
    LRESULT OpenBatchIfIdle();

    LRESULT OnEncMainCommand(WPARAM code, LPARAM);
    // The file page's list was changed by the user (WM_ROOMLIST_MODECHANGED from it): the
    // caption is marked.
    LRESULT OnFileListChanged(WPARAM from, LPARAM);
    BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* result) override;

    // The page's hosted pages and store, for the panel and for tests.
    FilePageSlot* GetFilePage() const { return filePage_; }
    DVPageSlot* GetDVPage() const { return dvPage_; }
    ExportRoomSlot* GetExportRoom() const { return exportRoom_; }
    profiles::CProfileManager* GetProfileManager() const { return store_.get(); }
    const profiles::ProfileRecord& GetRecord() const { return record_; }
    // The text of one of the page's statics (by control id), as last set.
    CString GetStaticText(UINT id) const;
    CWnd* GetControl(UINT id) const;

    void OnPaint();
    BOOL OnEraseBkgnd(CDC*) { return TRUE; }
    void OnDestroy();
    void OnTimer(UINT_PTR id);
    LRESULT OnDeviceChange(WPARAM event, LPARAM data);

    DECLARE_MESSAGE_MAP()

protected:
    // The modal steps, one place each, so that they can be driven without a person: a file
    // dialog (open or save; false on Cancel), the profile selection dialog (IDCANCEL or
    // another answer), and a question box.
    virtual bool RunProjectFileDialog(bool open, CString& path);
    virtual bool RunViewFileDialog(CString& path);
    virtual INT_PTR RunProfileDialog();
    virtual int Ask(UINT stringId, UINT type);

private:
    void CreateControls();
    void SetStatic(UINT id, const char* text);
    void CheckRadio(UINT id, int check);
    void EnableRadio(UINT id, BOOL enable);
    void ShowStatic(UINT id, bool show);
    void SaveProjectAs();
    void DestroyDVPage();
    void MakeDVProfileRecord(float frameRate);
    int FindDefaultMpeg2Profile();
    double VideoBitRate() const;

    std::unique_ptr<profiles::ProfileStrings> strings_;
    std::unique_ptr<profiles::AppDataFolder> dataFolder_;
    std::unique_ptr<profiles::CProfileManager> store_;
    // Lists the codecs for the store; ends (and is waited for) before the store goes.
    std::unique_ptr<profiles::CodecThread> codecThread_;
    profiles::ProfileRecord record_{};
    FilePageSlot* filePage_ = nullptr;
    DVPageSlot* dvPage_ = nullptr;
    ExportRoomSlot* exportRoom_ = nullptr;
    int shown_ = kShownNone;
    int busy_ = kIdle;
    char targetFolder_[MAX_PATH] = {};
    std::string projectName_;
    HDEVNOTIFY deviceNotify_ = nullptr;
    SkinControlBinding radios_[2];
    SkinControlBinding buttons_[2];
    SkinControlBinding statics_[22];
};
