// The DV capture page: binds the DV capture engine to a device, shows its preview, drives the
// tape from its buttons, from the main page's commands and from the device's own mode, and
// records with time and size limits, naming the finished clip and handing it to the main page.
//
// Threads: the user-interface thread does every engine call that changes state. Two poll
// threads read the time code (every 100 ms) and the transport mode (every 2 s) and act only
// by posting messages to the page. The engine's callback runs on the engine's thread and only
// posts its notice, in order, to the page (kEngineNotice). Fields the threads share are atomic.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "app/pages/dv_transport.h"
#include "app/pages/page_slots.h"
#include "app/skin/enc_base_page.h"
#include "app/skin/skin_factory.h"
#include "engines/capture_params.h"
#include "engines/interfaces.h"

class CGButton;
class CGStatic;
class CGLEDEdit;
class CGSimpleTimeEdit;
class CGTimeCodeEdit;
class CGRegionSlider;
class CDVDeviceSelectDlg;

// Fills the engine's capture block from a profile record; `frameRate` is the device's,
// `keepOrgSize` the main page's H.264 switch. Fields the class does not use keep their values.
// The capture kind (0 DV/AVI, 1-7 MPEG kinds, 8 H.264), or -1 for a class the engine cannot
// record.
int FillCaptureParams(const profiles::ProfileRecord& record, float frameRate, int32_t keepOrgSize,
                      engines::CaptureParams* params, uint32_t* streamSelection);

class CDVCapturePage : public CEncBasePage, public DVPageSlot, public DVTransport {
public:
    // Control ids.
    enum : UINT {
        kPlay = 3002,
        kPause = 3003,
        kStop = 3004,
        kRewind = 3005,
        kFastForward = 3006,
        kPrevFrame = 3007,
        kNextFrame = 3008,
        kRecord = 3009,
        kVolume = 3010,
        kMakerLink = 3011,
        kSetup = 3012,
        kBatch = 3013,
        kSeek = 3014,
        kTimeLimitCheck = 3015,
        kSizeLimitCheck = 3016,
        kHelpButton = 3019,
        kShuttleLeft = 3026,
        kShuttleRight = 3027,
        kNonRealtimeCheck = 3039,
        kSizeLimitEdit = 3022,
        kTimeLimitEdit = 3023,
        kTimeCodeEdit = 3088,
        kProgressSlider = 3038,
    };
    // Window messages of the page.
    static constexpr UINT kEngineNotice = WM_APP + 0x2E0;  // wParam code, lParam NoticePayload*
    // A notice's parameter carried to the window: the text it points to, copied on the
    // engine's thread (the engine's buffer lives only for the callback). The window frees it.
    struct NoticePayload {
        UINT_PTR param = 0;
        std::string text;
    };
    static constexpr UINT kShowTimecode = WM_APP + 0x2E1;  // wParam the packed time code
    static constexpr UINT kPollPress = WM_APP + 0x2E2;     // wParam a button, lParam the transport generation
    static constexpr UINT kBatchClip = 0x7E8;
    static constexpr UINT kBatchClosed = 0x7E9;

    CDVCapturePage();
    ~CDVCapturePage() override;

    // ---- the main page's slot ----
    CWnd* Window() override { return this; }
    void SetProfileManager(profiles::CProfileManager* store) override { store_ = store; }
    BOOL Create(const RECT& rect, UINT id, CWnd* parent) override;
    float GetFrameRate() override { return frameRate_; }
    int IsDeviceTypeOne() override { return deviceClass_ == 1 ? 1 : 0; }
    void SetProfile(const profiles::ProfileRecord& record) override;
    void SetH264Selection(int32_t keepOrgSize) override { keepOrgSize_ = keepOrgSize; }
    int64_t GetRecordedSize() override;
    int IsSetupEnabled() override;
    int IsSecondaryButtonEnabled() override;
    int IsCommandEnabled(UINT code) override;
    LRESULT OnTransportCommand(UINT code) override;
    LRESULT OnRecordCommand(UINT code) override;
    LRESULT SetupIfEnabled() override;
    LRESULT OnBatchIfIdle() override;

    // 0 usable; 0x80000001 no device, 0x80000002 not a tape device, 0x80000003 the mode query
    // failed, E_FAIL no engine.
    static HRESULT CheckDVDevice();

    // ---- state, for the page's owner and tests ----
    int GetState() const { return state_.load(); }
    const std::string& CurrentDevice() const { return currentDevice_; }
    const std::vector<std::string>& DeviceTexts() const { return deviceTexts_; }
    const std::string& ClipPath() const { return clipPath_; }
    const std::string& OutputPath() const { return outputPath_; }
    const RECT& PreviewRect() const { return preview_; }
    const RECT& PostEncodingRect() const { return postEncodingRect_; }
    bool Ready() const { return ready_.load(); }
    uint32_t TransportGeneration() const { return transportGen_.load(); }
    CWnd* Control(UINT id) const;
    CDVDeviceSelectDlg* SelectDialog() const { return selectDialog_; }

    // ---- message handlers ----
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
    BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* result) override;
    void OnPaint();
    void OnTimer(UINT_PTR id);
    void OnDestroy();
    void OnLButtonDown(UINT flags, CPoint point);
    void OnLButtonUp(UINT flags, CPoint point);
    void OnMouseMove(UINT flags, CPoint point);
    LRESULT OnEngineNotice(WPARAM code, LPARAM payload);
    LRESULT OnShowTimecode(WPARAM timecode, LPARAM);
    LRESULT OnPollPress(WPARAM button, LPARAM generation);
    LRESULT OnBatchClipMessage(WPARAM path, LPARAM);
    LRESULT OnBatchClosedMessage(WPARAM, LPARAM);

    DECLARE_MESSAGE_MAP()

private:
    struct DeviceEntry {
        std::string engineName;
        std::string text;
    };

    // Binding and devices.
    HRESULT BindEngine();
    void ReleaseEngine();
    HRESULT OpenDevice(const char* text);
    bool MediaPresent();
    bool CheckMedia(UINT button);
    void ComputePreviewRect();
    DWORD PreviewOptions(bool atRecord);
    void OpenSelectDialog();
    void OpenBatchDialog();

    // Transport.
    void Press(UINT id);
    void OnPlay();
    void OnPause();
    void OnStopButton();
    void OnRewind();
    void OnFastForward();
    void OnStep(bool forward);
    void OnSeek();
    void UpdateControls();
    void Check(UINT id, bool on);
    void EnableControl(UINT id, bool on);
    void SetState(int state) { state_ = state; }

    // Shuttle.
    void DrawShuttle(HDC dc);
    void DrawPostEncodingArt(HDC dc);
    void LoadPostEncodingArt(const char* fileName);
    void ShuttleTo(int step);
    int StepAt(int x) const;

    // Recording.
    void OnRecordButton();
    bool RecordStart();
    void OnLimitCheck(UINT id);
    void OnLimitEditChange(UINT id);
    void GiveFinalName();
    void Finish();

    // Poll threads.
    void StartPolling();
    void StopPolling();
    void TimecodePoll();
    void ModePoll();
    bool WaitStop(DWORD ms);

    // Registry switches of the recording key.
    static DWORD RecordingSwitch(const char* name, DWORD fallback, bool writeMissing);
    static void SetRecordingSwitch(const char* name, DWORD value);
    DWORD NonRealtime() const { return nonRealtime_.load(); }
    void SetNonRealtime(DWORD value);

    static void CALLBACK EngineCallback(UINT_PTR engine, UINT_PTR code, UINT_PTR param, UINT_PTR reserved);

    // Controls.
    static constexpr int kButtonRows = 19;
    static constexpr int kStaticRows = 6;
    SkinControlBinding buttons_[kButtonRows];
    SkinControlBinding statics_[kStaticRows];
    SkinControlBinding edits_[2];
    SkinControlBinding timecodeEdit_[1];
    CGRegionSlider* progress_ = nullptr;

    profiles::CProfileManager* store_ = nullptr;
    ISystemLayerDV* engine_ = nullptr;
    std::vector<DeviceEntry> devices_;
    std::vector<std::string> deviceTexts_;
    std::string currentDevice_;
    float frameRate_ = 29.97f;
    int deviceClass_ = 0, listedKind_ = 0;
    std::atomic<int> deviceMode_{0};
    std::atomic<int> state_{kLive};
    std::atomic<DWORD> lastTransport_{4096};
    // Counts the transport commands run on the interface thread; a poll thread's press is
    // taken only when none ran since its read of the deck.
    std::atomic<uint32_t> transportGen_{0};
    std::atomic<DWORD> nonRealtime_{1};
    RECT preview_{}, previewBack_{}, postEncodingRect_{}, shuttleRect_{};
    HBITMAP shuttleStrip_ = nullptr;
    HBITMAP postEncodingArt_ = nullptr;  // loaded once, by the first post-encoding phase
    HCURSOR shuttleCursor_ = nullptr;
    int shuttleStep_ = 16;
    bool shuttleForward_ = true, dragging_ = false;
    bool startMark_ = false;

    // Recording.
    engines::CaptureParams params_{};
    int captureKind_ = 0;
    int32_t keepOrgSize_ = 0;
    std::string outputPath_, clipPath_;
    std::atomic<int> recordingPhase_{2};
    std::atomic<int> postEncoding_{0};
    std::atomic<bool> ready_{true};
    std::atomic<bool> tapeEndIgnore_{false};
    bool stopPending_ = false;
    int deviceChange_ = 0;
    int ownOpens_ = 0;  // openings of ours whose WM_DEVICE_CHANGED has not come yet
    bool recheckGuard_ = false;
    DWORD clockStart_ = 0, postEncodingStart_ = 0, backgroundSeconds_ = 0;
    bool clockRunning_ = false, blink_ = false;
    std::string postCaption_;

    // Polling.
    std::thread timecodeThread_, modeThread_;
    HANDLE pollStop_ = nullptr;
    DWORD lastShown_ = 0xFFFFFFFF;

    CDVDeviceSelectDlg* selectDialog_ = nullptr;
    bool created_ = false;
};
