// The volume popup of the pages: a borderless dialog (template 121) holding a vertical
// slider drawn from four skin pictures, with a level bar and a mute button. Moving the thumb
// sets the speakers volume through the audio mixer; the mute button toggles the speakers'
// mute; a click outside the slider closes the popup. Thumb and level arithmetic live in
// VolumeModel (scroll_model.h). User-interface thread only.
#pragma once

#include <windows.h>

#include "app/skin/scroll_model.h"
#include "app/skin/skin_controls.h"
#include "framework/dialog.h"

// Posted by the slider to the popup when a click lands outside it (wParam its id).
constexpr UINT WM_GVOLUME_CLOSE = 0x1796;
// Sent with the new mute state in wParam, by the slider to the popup and by the popup to
// its owner.
constexpr UINT WM_GVOLUME_MUTE = 0x179C;
constexpr UINT kVolumeMuteButtonId = 200;
constexpr UINT kVolumeSliderId = 201;
constexpr UINT kVolumePopupId = 121;

class CGVolumeAdjust : public CWnd {
    DECLARE_DYNAMIC(CGVolumeAdjust)

public:
    CGVolumeAdjust() : model_(true, 33, 103, 20, 7, 20) {}
    ~CGVolumeAdjust() override;
    // The pictures become the slider's (thumb, background, level) and the mute button's
    // (its strip); the mixer is read once.
    BOOL Create(CWnd* parent, const char* name, DWORD style, DWORD exStyle, UINT id, int orientation, int left, int top,
                HBITMAP thumb, HBITMAP background, HBITMAP level, HBITMAP muteStrip, int thumbWidth, int thumbHeight,
                int levelWidth, int levelHeight, int muteWidth, int muteHeight, int width, int height,
                int muteInitialState, int stepsMaximum, int levelSteps);
    void SetRange(int minimum, int maximum);
    void SetPosition(int position);
    int GetPosition() const;
    CPoint GetThumbCentre() const;
    CGButton& MuteButton() { return mute_; }
    bool Dragging() const { return dragging_; }
    int ThumbLook() const { return look_; }
    const skin::VolumeModel& Model() const { return model_; }
    const char* DeviceName() const { return device_; }

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    bool Vertical() const { return orientation_ == 0; }
    bool InMute(CPoint p) const { return muteRect_.PtInRect(p) != 0; }
    bool InControl(CPoint p) const { return p.x >= 0 && p.y >= 0 && p.x < width_ && p.y < height_; }
    bool OverThumb(CPoint p) const;
    CRect ThumbRect(int shift) const;
    void GiveCaptureToMute();
    void PostToParent(UINT message, WPARAM wParam, LPARAM lParam) const;
    void ToggleMute();
    void WriteVolume() const;
    void Paint(HDC dc);
    // The thumb offset along the axis after moving by the drag distance, within bounds.
    int DraggedThumb() const;

    skin::VolumeModel model_;
    CGButton mute_;
    int orientation_ = 0;
    int width_ = 33, height_ = 103;
    int thumbWidth_ = 20, thumbHeight_ = 7, levelWidth_ = 10, levelHeight_ = 72;
    HBITMAP thumb_ = nullptr, background_ = nullptr, level_ = nullptr;
    CRect muteRect_{5, 82, 28, 100};
    CPoint current_, previous_;
    bool dragging_ = false;
    bool pressOff_ = false;
    bool tracking_ = false;
    int look_ = 0;
    char device_[260] = {};
};

class CGVolumeControl : public CDialog {
    DECLARE_DYNAMIC(CGVolumeControl)

public:
    explicit CGVolumeControl(CWnd* owner) : CDialog(kVolumePopupId, owner), owner_(owner) {}
    BOOL OnInitDialog() override;
    BOOL DestroyWindow() override;
    CGVolumeAdjust& Slider() { return slider_; }

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    CGVolumeAdjust slider_;
    CWnd* owner_;
    CRect placing_;
};
