// The video viewer: a modal, skinned window that plays one media file, or one time range of
// it, through the clip player. Callers build one on the stack with the file and range, may
// size it from the clip's picture (FitViewerToScreen), run it with DoModal and destroy it;
// nothing is read back. Times are 100-ns units; positions on the playback slider are
// absolute (start to end), the time field shows the position less the start.
//
//   CVideoViewerDlg viewer(path, inPoint, outPoint, this);
//   viewer.FitViewerToScreen(frameWidth, frameHeight);
//   viewer.DoModal();
#pragma once

#include <windows.h>

#include <cstdint>

#include "app/skin/skin_factory.h"
#include "framework/dialog.h"
#include "framework/gdi.h"

struct IClipPlayer;
class CGSelectSlider;
class CGMagnifySlider;
class CGTimeCodeEdit;
class CGButton;
class CGStatic;

// The sizes of the viewer for a picture of videoWidth x videoHeight: the client area (the
// picture with its margins, clamped so that the window, `frame` pixels larger than its client
// area each way, stays within the track limits) and the picture's rectangle in it.
struct ViewerSizes {
    int clientWidth = 0, clientHeight = 0;
    RECT video{};
};
ViewerSizes ComputeViewerSizes(int videoWidth, int videoHeight, SIZE frame);
// The picture's rectangle in a client area: the area less the margins, cut to the picture's
// aspect ratio and centred.
RECT ViewerVideoRect(int clientWidth, int clientHeight, int videoWidth, int videoHeight);

class CVideoViewerDlg : public CDialog {
    DECLARE_DYNAMIC(CVideoViewerDlg)

public:
    // Track limits of the window and the margins around the picture, in pixels.
    static constexpr int kMinWidth = 396, kMinHeight = 402, kMaxWidth = 1304, kMaxHeight = 1074;
    static constexpr int kMarginLeft = 13, kMarginRight = 13, kMarginTop = 11, kMarginBottom = 92;
    static constexpr UINT_PTR kTimerId = 1;
    static constexpr UINT kTimerMs = 100;

    CVideoViewerDlg(const char* path, int64_t start, int64_t end, CWnd* parent);
    ~CVideoViewerDlg() override;

    // The picture size from the clip's (the screen rule of the services' FitViewerToScreen).
    void FitViewerToScreen(int width, int height);
    // Plays [start, end] of `path` in a viewer sized for a clip of the given picture size, and
    // returns when the user closes it.
    static void ShowModal(const char* path, int64_t start, int64_t end, uint32_t width, uint32_t height, CWnd* parent);

    BOOL OnInitDialog() override;
    BOOL DestroyWindow() override;
    BOOL PreTranslateMessage(MSG* msg) override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

    // What the window shows, for its callers' tests.
    int PlayState() const { return playState_; }
    int64_t SliderPosition() const;
    int64_t TimeFieldTime() const;
    RECT VideoRect() const { return videoRect_; }
    SIZE VideoSize() const { return {videoWidth_, videoHeight_}; }
    IClipPlayer* Player() const { return player_; }
    double Rate() const { return rate_; }
    bool VolumeLatched() const { return Latched(kVolume); }

    // The transport, as its buttons and keys run it.
    void Play();
    void Pause();
    void Stop();
    void FastForward();
    void FrameStep(bool forward);
    // A seek by the playback slider to `position` (absolute), as a drag ending there does.
    void SlideTo(int64_t position);
    // A typed seek to `time` (from the start of the range), as Enter in the time field does.
    void TypeTime(int64_t time);

private:
    enum Control {
        kStop,
        kPlay,
        kPause,
        kFastForward,
        kMinus,
        kPlus,
        kVolume,
        kMarkIn,
        kMarkOut,
        kEnableMag,
        kDisableMag,
        kMagUp,
        kMagDown,
        kButtonCount
    };
    CGButton* Button(int index) const;
    CGSelectSlider* Slider() const;
    CGTimeCodeEdit* TimeEdit() const;
    CGStatic* SpeedLabel() const;

    bool OpenPlayer();
    void ComputeSizes();
    void Layout(int clientWidth, int clientHeight);
    void ComposeBackground(int clientWidth, int clientHeight);
    void Paint();
    void ShowTime(int64_t position);
    bool Seek(int64_t position, int64_t* used);
    void SetLatch(int index, bool on);
    bool Latched(int index) const;
    void ShowButton(int index, bool show);
    void EnableButton(int index, bool on);
    bool Usable(int index) const;
    void NormalSpeed();
    void UpdateSpeedLabel();
    void KeepAwake();
    void RestoreAwake();
    void StartTimer();
    void KillTimer();
    void Poll();
    void OnScroll(int code);
    void OnEndNotice();
    void OnFailure(int index, UINT stringId);
    void OnVolume();
    bool OnKey(const MSG& msg);
    void StopControlsState();

    char path_[MAX_PATH] = {};
    int64_t start_ = 0, end_ = 0, length_ = 0;
    IClipPlayer* player_ = nullptr;
    DWORD mediaKind_ = 0;
    HBITMAP background_ = nullptr;
    SIZE backgroundSize_{};
    HDC backgroundDc_ = nullptr, bufferDc_ = nullptr;
    HBITMAP buffer_ = nullptr;
    HGDIOBJ oldBackground_ = nullptr, oldBuffer_ = nullptr;
    HBITMAP audioThumbnail_ = nullptr;
    int videoWidth_ = 640, videoHeight_ = 480;
    SIZE frame_{};
    int clientWidth_ = 0, clientHeight_ = 0;
    RECT videoRect_{};
    RECT screenRect_{};
    UINT_PTR timer_ = 0;
    SkinControlBinding buttons_[kButtonCount] = {};
    SkinControlBinding statics_[2] = {};
    SkinControlBinding timeEdit_[1] = {};
    SkinControlBinding slider_[1] = {};
    SkinControlBinding magnify_[1] = {};
    int speedIndex_ = 0;
    double rate_ = 1.0;
    int ticks_ = 0;
    int playState_ = 1;
    bool failureArmed_[5] = {true, true, true, true, true};
    bool resumePending_ = false;
    int savedSpeed_ = 0;
    bool awake_ = false;
};
