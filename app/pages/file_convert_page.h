// The file conversion page: the batch list of source files with its add-files worker, the
// list buttons, the transport of the preview, and the conversion run that drives the file
// conversion engine entry by entry (or all entries into one output) and hands each finished
// file to the main page under its final name. User-interface thread, except the worker's
// probing.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "app/pages/file_pages.h"
#include "app/pages/page_slots.h"
#include "app/profiles/profile_record.h"
#include "app/project_format.h"
#include "app/skin/enc_base_page.h"
#include "app/skin/skin_factory.h"
#include "engines/interfaces.h"

class CFileBatchList;
class CGSelectSlider;
class CGTimeCodeEdit;
class CProgressDialog;

// Page notifications to the main page.
enum : UINT {
    EPN_FILE_CLIP_READY = 3025,  // data: the output's path
    EPN_FILE_BUSY = 3026,
    EPN_FILE_IDLE = 3027,
    EPN_FILE_REFRESH = 3028,
    EPN_FILE_REFRESH2 = 3029,
};
// The add-files worker has ended.
constexpr UINT WM_FILES_ADDED = 0xBD0;

class CFileConvertPage : public CEncBasePage, public FilePageSlot {
public:
    enum State { kIdle = 0, kReady = 1, kPlaying = 2, kPaused = 3, kFastForward = 4, kConverting = 7, kFinished = 8 };

    CFileConvertPage();
    ~CFileConvertPage() override;

    // FilePageSlot
    CWnd* Window() override { return this; }
    BOOL Create(const RECT& rect, UINT id, CWnd* parent) override;
    void SetProfile(const profiles::ProfileRecord& record) override;
    void SetH264Selection(int32_t keepOrgSize) override { keepSize_ = keepOrgSize; }
    void ResetEngine() override;
    void StopEngine() override;
    void UpdateControls() override;
    void Refresh() override;
    int GetState() override { return listChanged_; }
    void LoadProjectEntries(const CPtrList& entries) override;
    void FillProjectEntries(CPtrList& entries) override;
    int64_t GetTotalDuration() override;
    int IsCommandEnabled(UINT code) override;
    int IsPrimaryButtonEnabled() override;
    LRESULT OnTransportCommand(UINT code) override;
    LRESULT OnAddCommand(UINT code) override;
    LRESULT OnConvertCommand(UINT code) override;
    LRESULT OnListCommand(UINT code) override;
    void OnDropFiles(HDROP drop) override;

    // Starts the add-files worker on `paths` (the dialog, the folder walk and drops end here).
    void AddFiles(const std::vector<std::string>& paths);
    bool WorkerRunning() const { return worker_ != nullptr; }
    int PageState() const { return state_; }
    float PlayRate() const { return rate_; }
    CFileBatchList* BatchList() const { return list_; }
    const profiles::ProfileRecord& Profile() const { return *profile_; }
    const CString& OutputName() const { return outputName_; }
    CWnd* Control(UINT id) const;
    CGSelectSlider* Slider() const;
    CGTimeCodeEdit* TimeEdit() const;
    IFileEngineControl* Engine() const { return control_; }
    void GetListRect(RECT* rect) const;

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void InitEngine();
    void CreateControls();
    void EnableControlsByState();
    void RebuildTimeline(bool all, int index);
    void ShowControl(UINT id, bool show);
    void EnableControl(UINT id, bool enable);
    bool ControlEnabled(UINT id) const;
    void SetSpeedText();
    void TitleChanged();
    void PausePreview();
    void CloseEntryHandles();

    void OnPlay();
    void OnPause();
    // The end of playing: the play timer killed, the rate back to 1.0, the state set.
    void EndPlay(int state);
    void OnStop();
    void OnFastForward();
    // Preview positions are timeline times (100 ns) inside the current clip.
    void OnFrameStep(bool forward);
    void OnSliderMoved();
    void OnTimeTyped();
    void OnPlayTimer();
    // The slider and the time-code edit show `position`.
    void ShowPosition(int64_t position);
    // The preview range from `position` to the clip's end; a start at the very end moves
    // back 80 ms so that a picture is still shown.
    void SetPreviewFrom(int64_t position, DWORD flag);
    int64_t SliderPosition() const;
    void OnAdd();
    void OnAddFolder();
    void OnListMenu();
    void OnListMenuCommand(UINT id);
    void OnDelete();
    void OnUp();
    void OnDown();
    // The conversion run.
    void OnConvertStart();
    void OnConvertAbort();
    void OnConvertDone();
    void OnProgressTimer();
    void RestorePower();
    // The final name of a finished output: the prefix name made unique; "" after a message
    // when no free name is left.
    CString FinalOutputName();
    CString OutputStem(const CString& name) const;

    static unsigned __stdcall WorkerMain(void* page);
    LRESULT OnWorkerStep(WPARAM wParam, LPARAM lParam);
    void OnFilesAdded();
    void WaitForWorker();

    SkinControlBinding buttons_[14] = {};
    SkinControlBinding statics_[3] = {};
    SkinControlBinding slider_[1] = {};
    SkinControlBinding timeEdit_[1] = {};
    CFileBatchList* list_ = nullptr;
    CProgressDialog* progress_ = nullptr;
    profiles::ProfileRecord* profile_ = nullptr;
    IFileEngineTimeline* timeline_ = nullptr;
    IFileEngineControl* control_ = nullptr;
    int32_t keepSize_ = 0;
    int state_ = kIdle;
    int aborted_ = 0;
    float rate_ = 1.0f;
    int speedTicks_ = 0;
    UINT_PTR playTimer_ = 0, progressTimer_ = 0;
    FileBatchEntry* current_ = nullptr;
    int listChanged_ = 0;
    int currentIndex_ = 0;
    CString outputName_;
    CString addFolder_, addFolderExport_;

    // The add-files worker: its thread, the paths it works through, and the stop request
    // of the page's destruction.
    HANDLE worker_ = nullptr;
    std::vector<std::string> pending_;
    std::atomic<bool> stopWorker_{false};
};

// The supported-file patterns of the file dialogs ("*.mpg;...;*.avi", and with the second
// group the DVD patterns too).
CString BuildOpenFileFilterText(bool secondGroup);
