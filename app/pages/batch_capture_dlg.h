// The batch capture dialog: a five-step wizard over the DV capture page's engine. Step 0 the
// user positions the tape; step 1 the engine scans it and the dialog lists the scenes it
// reports; step 2 the scenes are reviewed in the scan file, kept, dropped and joined; step 3
// every kept segment is captured in one engine run, each clip named after the capture prefix
// and handed to the page; step 4 the captured files are reviewed.
//
// Threads: every engine call that changes state and every list operation runs on the
// interface thread. The engine's callback runs on the engine's thread: a scan sample is
// queued there (and its frame put on the clipboard), every other notice is posted to the
// window in order. The scan worker turns samples into segments (the start frame's thumbnail
// from the clipboard) and posts them to the window. Two poll threads read the time code
// (every 100 ms) and the transport mode and only post. Waits on the threads are bounded.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/pages/batch_capture_list.h"
#include "app/pages/batch_capture_model.h"
#include "app/pages/dv_devices.h"
#include "app/pages/dv_transport.h"
#include "app/skin/skin_factory.h"
#include "engines/capture_params.h"
#include "engines/interfaces.h"
#include "framework/dialog.h"

struct IClipPlayer;
struct IThumbnailCache;
class CGButton;
class CGStatic;
class CGTimeCodeEdit;
class CGSelectSlider;
class CGRegionSlider;
class CGVolumeControl;
namespace profiles {
class CProfileManager;
}

class CDVBatchCaptureDlg : public CDialog, public DVTransport {
public:
    enum Step : int { kStart = 0, kScan = 1, kReview = 2, kCapture = 3, kCaptured = 4 };
    // State 0 is set when a batch ends and counts as stopped.
    static constexpr State kBatchDone = kLive;
    enum : UINT {
        kSeek = 3014,
        kTapePlay = 3061,
        kTapePause = 3062,
        kTapeStop = 3063,
        kTapeRewind = 3064,
        kTapeWind = 3065,
        kTapePrevFrame = 3066,
        kTapeNextFrame = 3067,
        kNonRealtimeCheck = 3069,
        kNote = 3070,
        kVolume = 3010,
        kShuttleLeft = 3026,
        kShuttleRight = 3027,
        kProfile = 3073,
        kNext = 3074,
        kBack = 3075,
        kCancel = 3076,
        kReviewPlay = 3077,
        kReviewPause = 3078,
        kReviewStop = 3079,
        kReviewNextFrame = 3080,
        kReviewPrevFrame = 3081,
        kReviewFast = 3082,
        kMerge = 3083,
        kAutoMerge = 3117,
        kReviewSlider = 3087,
        kTimecodeEdit = 3088,
        kTimecodeCaption = 3025,
        kProfileStatic = 3090,
        kStepCaption = 3091,
        kStepDescription = 3092,
        kSpeedStatic = 2020,
        kNonRealtimeCaption = 3040,
        kProgressSlider = 3038,
        kList = 3119,
    };
    static constexpr UINT kListClick = WM_USER + 1;        // 0x401, wParam the item or -1
    static constexpr UINT kListChanged = WM_USER + 2;      // 0x402
    static constexpr UINT kScanEnd = 0x7E8;                // from the poll threads: the tape stopped
    static constexpr UINT kPlayerRangeEnd = 0x800B;        // from the clip player
    static constexpr UINT kEngineNotice = WM_APP + 0x2F0;  // wParam code, lParam Notice*
    static constexpr UINT kShowTimecode = WM_APP + 0x2F1;  // wParam the packed engine time code
    static constexpr UINT kScanSegment = WM_APP + 0x2F2;   // lParam ScanEvent*
    static constexpr UINT kPollPress = WM_APP + 0x2F3;     // wParam a tape button, lParam the generation
    static constexpr LPARAM kReviewStopPress = -1;         // lParam of a review's stop of the deck
    static constexpr UINT_PTR kTimerProgress = 2, kTimerDeviceChange = 10, kTimerReview = 20, kTimerScanLimit = 30;

    explicit CDVBatchCaptureDlg(CWnd* page);
    ~CDVBatchCaptureDlg() override;

    // The page's engine (not released here), its capture block (the batch area goes into every
    // segment record), frame rate, device, device class and capture folder.
    void SetEngine(ISystemLayerDV* engine, engines::CaptureParams* params, float frameRate, const char* device,
                   int pageDeviceClass, const char* captureFolder);
    void SetProfileManager(profiles::CProfileManager* store) { store_ = store; }

    BOOL OnInitDialog() override;
    BOOL DestroyWindow() override;
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    void OnOK() override;
    void OnCancel() override;

    // ---- state, for the page and tests ----
    int GetStep() const { return step_; }
    int GetState() const { return state_.load(); }
    bool BatchRunning() const { return batchRunning_.load(); }
    bool Scanning() const { return quickScan_.load(); }
    CEncBatchListCtrl& List() { return list_; }
    const std::vector<std::string>& CapturedFiles() const { return captured_; }
    const std::string& ScanPath() const { return scanPath_; }
    IClipPlayer* Player() const { return player_; }
    HRESULT ReviewOpenResult() const { return reviewOpen_; }
    // The file in review, and whether it is shown as stills (no playback graph for it).
    const std::string& ReviewFile() const { return reviewPath_; }
    int64_t ReviewPosition() const { return reviewPosition_; }
    float ReviewRate() const { return rate_; }
    bool ReviewAsStills() const { return stillMode_; }
    std::string Description() const { return description_; }
    DWORD NonRealtime() const { return nonRealtime_.load(); }
    // 0 none, 1 recording to be encoded later, 2 encoding, 3 encoding in the background, 4 done.
    int EncodingPhase() const { return encodingPhase_.load(); }
    int FinishSteps() const { return finishSteps_; }
    int ShuttlePosition() const { return shuttlePos_; }
    const RECT& PreviewRect() const { return preview_; }
    float FrameRate() const { return frameRate_; }
    // How often the devices were found again after a change, and the label of the one open.
    int DeviceReopens() const { return reopens_; }
    const std::string& DeviceLabelText() const { return deviceLabel_; }
    // The devices found at the last look, and whether a change still waits to be looked at.
    size_t DeviceCount() const { return devices_.size(); }
    bool DeviceChangePending() const { return deviceChange_ != 0; }
    CWnd* Control(UINT id) const;
    // Clicks a control as the user does.
    void Press(UINT id);

private:
    struct Notice {
        UINT_PTR param = 0;
        std::string text;
    };
    struct ScanEvent {
        bool start = false;
        int index = 0;
        batchcap::BatchClipInfo clip;
        HBITMAP thumbnail = nullptr;
    };

    // Engine binding and transport.
    void BindEngine();
    bool HasTape();
    void PauseIfTape();
    void SetTransportButtons(int code);
    void OnTape(UINT id);
    void OnSeekButton();
    void FitPreview();
    void AttachPreview(bool attach);
    DWORD PreviewOptions();
    void EnableStepControls(bool on);

    // Wizard.
    void OnNext();
    void OnBack();
    void ApplyStep();
    void SetDescription(UINT id, int count);
    void ShowControl(UINT id, bool show);
    void EnableControl(UINT id, bool on);
    void Check(UINT id, bool on);
    void OnNonRealtimeCheck();
    void OnVolume();
    void OnProfile();
    std::string FitProfileName(const std::string& name, int width);
    void ShowProfileName(const std::string& name);

    // Quick scan.
    bool StartQuickScan();
    void StopQuickScan();
    void ScanWorker();
    void OnScanEvent(ScanEvent* event);
    void FinishScanList();
    HBITMAP GrabClipboardThumbnail();
    void QueueSample(const uint8_t* bytes);

    // Batch run.
    void StartBatchCapture();
    void StopBatchCapture();
    void OnClipFinished(const std::string& path);
    void OnBatchFinished();
    std::string RenameCapturedClip(const std::string& clip);
    void OnMerge();
    void OnAutoMerge();
    void OnProgressTimer();

    // The shuttle strip: positions 0-31, 15 and 16 the standstill either side of the middle.
    void ShuttleTo(int position);
    bool ShuttleUsable() const;
    void OnShuttleDown(POINT point);
    void OnShuttleMove(POINT point);
    void OnShuttleUp();

    // Device changes.
    void OnDeviceChangeTimer();
    bool OpenDeviceByLabel(const char* label);
    void CloseDevices();
    void ReopenDevices();

    // Review player.
    bool OpenReviewFile(const std::string& path);
    IClipPlayer* Source() const;
    void DrawStill(int64_t position);
    void OpenScanFileForReview();
    void OnListClick(int index);
    void ReviewSeek(int64_t position);
    void ShowDisplayTime(int64_t position);
    void OnReviewButton(UINT id);
    void OnReviewTimer();
    void OnReviewSlider();
    void ShowReviewPlay(bool playShown);
    void CloseReview();

    // Notices and polls.
    static void CALLBACK OnEngineNotify(UINT_PTR engine, UINT_PTR code, UINT_PTR param, UINT_PTR extra);
    void OnNotice(UINT_PTR code, const Notice& notice);
    void StartPolling();
    void StopPolling();
    void TimecodePoll();
    void ModePoll();
    bool WaitStop(DWORD ms);
    void PumpFor(DWORD ms);

    void Paint();

    CWnd* page_ = nullptr;
    ISystemLayerDV* engine_ = nullptr;
    engines::CaptureParams* params_ = nullptr;
    profiles::CProfileManager* store_ = nullptr;
    IThumbnailCache* cache_ = nullptr;
    IClipPlayer* player_ = nullptr;
    float frameRate_ = 25.0f;
    std::string device_, captureFolder_;
    int pageDeviceClass_ = 0;
    bool special_ = true;

    // Controls.
    static constexpr int kButtonRows = 25;
    SkinControlBinding buttons_[kButtonRows] = {};
    // Text labels only: the skin's poster and icon places are rectangles, not windows.
    static constexpr int kStaticRows = 6;
    SkinControlBinding statics_[kStaticRows] = {};
    SkinControlBinding timecodeEdit_[1] = {};
    SkinControlBinding reviewSlider_[1] = {};
    CGRegionSlider* progress_ = nullptr;
    CEncBatchListCtrl list_;
    RECT monitor_{}, preview_{}, postEncodingRect_{}, shuttleRect_{}, playbackRect_{};
    RECT volumeTape_{}, volumeFile_{};  // the volume button's places while the tape or a file is shown
    HBITMAP background_ = nullptr, playbackArt_ = nullptr, shuttleStrip_ = nullptr;
    std::string description_;
    CGVolumeControl* volumePopup_ = nullptr;  // while the volume popup is open
    CDialog* profileDialog_ = nullptr;        // while the profile choice is open

    // Wizard and transport state.
    std::atomic<int> step_{kStart};
    bool stepping_ = false, closing_ = false;
    std::atomic<int> state_{0};
    std::atomic<DWORD> lastMode_{4096};
    // Counts the transport commands of the interface thread; a poll's press is taken only when
    // none ran since its read of the deck.
    std::atomic<uint32_t> transportGen_{0};
    std::atomic<DWORD> nonRealtime_{1};
    std::atomic<int> encodingPhase_{0};
    std::atomic<bool> tapeEndIgnore_{false};

    // Quick scan.
    std::atomic<bool> quickScan_{false};
    std::atomic<bool> limitReached_{false};
    std::atomic<bool> scanGiveUp_{false};
    std::atomic<bool> scanDone_{true};
    std::string scanPath_;
    std::mutex queueLock_;
    std::deque<std::vector<uint8_t>> queue_;
    std::thread scanWorker_;
    int scanCount_ = -1;
    bool scanBusy_ = false;
    int openItem_ = -1;    // the list item of the segment open in the scan, or -1
    int finishSteps_ = 0;  // the scenes the last finishing of the list went through

    // Batch run.
    std::atomic<bool> batchRunning_{false};
    bool batchEndedGuard_ = false, advanceRequested_ = false, userStopped_ = false;
    bool deckFailed_ = false;
    int currentSegment_ = 0;
    std::vector<std::string> captured_;

    // Recording and encoding afterwards: clocks in GetTickCount milliseconds, the pause total
    // (time spent encoding between recordings) in seconds.
    int recordingPhase_ = 0;  // 1 recording, 2 a clip finished
    bool progressTimer_ = false;
    DVEncodeClock encodeClock_;
    HBITMAP postEncodingArt_ = nullptr;

    // Review.
    int reviewState_ = 2;
    float rate_ = 0.34f;
    int multiplier_ = 0;
    int speedTicks_ = 0;
    int64_t scanBase_ = 0;
    int64_t reviewPosition_ = 0, reviewDuration_ = 0;
    HRESULT reviewOpen_ = S_FALSE;
    std::string reviewPath_;
    IClipPlayer* stills_ = nullptr;
    bool stillMode_ = false;
    HBITMAP still_ = nullptr;

    // Devices: as the engine enumerated them, the label of the one open, its kind; the state of
    // a change (0 none, 1 arrived, 2 or 3 removed) and the engine's notices of the dialog's own
    // openings still to come.
    std::vector<dvdevices::DeviceLabel> devices_;
    std::string deviceLabel_;
    int deviceKind_ = 0;
    int deviceMode_ = 2;  // 1 camera, 2 tape
    int shuttlePos_ = 16;
    bool shuttleForward_ = true, dragging_ = false;
    int deviceChange_ = 0, ownOpens_ = 0;
    bool deviceTimerBusy_ = false;
    int reopens_ = 0;

    // Polling.
    std::thread timecodeThread_, modeThread_;
    HANDLE pollStop_ = nullptr;
    DWORD lastShown_ = 0xFFFFFFFF;
};
