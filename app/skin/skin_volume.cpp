#include "app/skin/skin_volume.h"

#include <windowsx.h>

#include <algorithm>

#include "app/services/mixer.h"
#include "app/skin/skin_draw.h"
#include "app/skin/skin_images.h"

namespace {

const char* SliderClass() {
    return AfxRegisterWndClass(CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS, LoadCursor(nullptr, IDC_ARROW));
}

}  // namespace

// ---- CGVolumeAdjust ----

IMPLEMENT_DYNAMIC(CGVolumeAdjust, CWnd)

CGVolumeAdjust::~CGVolumeAdjust() {
    for (HBITMAP image : {thumb_, background_, level_})
        if (image) DeleteObject(image);
}

BOOL CGVolumeAdjust::Create(CWnd* parent, const char* name, DWORD style, DWORD exStyle, UINT id, int orientation,
                            int left, int top, HBITMAP thumb, HBITMAP background, HBITMAP level, HBITMAP muteStrip,
                            int thumbWidth, int thumbHeight, int levelWidth, int levelHeight, int muteWidth,
                            int muteHeight, int width, int height, int muteInitialState, int stepsMaximum, int) {
    if (!CreateEx(exStyle, SliderClass(), name ? name : "", style | WS_CHILD | WS_CLIPCHILDREN,
                  CRect(left, top, left + width, top + height), parent, id)) {
        for (HBITMAP image : {thumb, background, level, muteStrip})
            if (image) DeleteObject(image);
        return FALSE;
    }
    SetDlgCtrlID(static_cast<int>(id));
    orientation_ = orientation;
    width_ = width, height_ = height;
    thumbWidth_ = thumbWidth, thumbHeight_ = thumbHeight, levelWidth_ = levelWidth, levelHeight_ = levelHeight;
    thumb_ = thumb, background_ = background, level_ = level;
    model_ = skin::VolumeModel(Vertical(), width, height, thumbWidth, thumbHeight, stepsMaximum);
    muteRect_ = CRect(5, height - 21, 5 + muteWidth, height - 21 + muteHeight);
    if (mute_.Create(this, "", WS_CHILD, 0, kVolumeMuteButtonId, FALSE))
        mute_.SetSkin(muteRect_.left, muteRect_.top, muteStrip, muteWidth, muteHeight, muteInitialState, 0, 0, 0, 1, 1,
                      1);
    else if (muteStrip)
        DeleteObject(muteStrip);
    char found[260] = {};
    if (FindMixerDevice(kMixerHasSpeakers, found, sizeof found) == S_OK) {
        lstrcpynA(device_, found, sizeof device_);
        const double volume = GetMixerVolume(device_);
        SetPosition(volume > 0 ? static_cast<int>(volume * stepsMaximum) : 0);
        LONG muted = 0;
        if (GetMixerMute(device_, -1, &muted)) {
            SetMixerMute(device_, -1, muted);
            mute_.SetCheck(muted ? 1 : 0);
        }
    } else {
        SetPosition(0);
    }
    return TRUE;
}

void CGVolumeAdjust::SetRange(int minimum, int maximum) {
    model_ = skin::VolumeModel(Vertical(), width_, height_, thumbWidth_, thumbHeight_, maximum - minimum);
}

void CGVolumeAdjust::SetPosition(int position) {
    if (!model_.SetPosition(position)) return;
    if (m_hWnd) Invalidate(FALSE);
}

int CGVolumeAdjust::GetPosition() const {
    return std::clamp(model_.Position(), 0, model_.Maximum());
}

CRect CGVolumeAdjust::ThumbRect(int shift) const {
    const int at = model_.Thumb() + shift;
    return Vertical() ? CRect(6, at, 6 + thumbWidth_, at + thumbHeight_)
                      : CRect(at, 6, at + thumbWidth_, 6 + thumbHeight_);
}

CPoint CGVolumeAdjust::GetThumbCentre() const {
    return ThumbRect(0).CenterPoint();
}

bool CGVolumeAdjust::OverThumb(CPoint p) const {
    return ThumbRect(0).PtInRect(p) != 0;
}

int CGVolumeAdjust::DraggedThumb() const {
    const int distance = Vertical() ? current_.y - previous_.y : current_.x - previous_.x;
    return model_.ClampThumb(model_.Thumb() + distance);
}

void CGVolumeAdjust::PostToParent(UINT message, WPARAM wParam, LPARAM lParam) const {
    if (HWND parent = ::GetParent(m_hWnd)) ::PostMessageA(parent, message, wParam, lParam);
}

void CGVolumeAdjust::GiveCaptureToMute() {
    if (::GetCapture() == m_hWnd) ReleaseCapture();
    mute_.SetCaptureParentOnLeave(TRUE);
    ::SetCapture(mute_.m_hWnd);
}

void CGVolumeAdjust::WriteVolume() const {
    const int maximum = model_.Maximum();
    const int position = model_.PositionFor(DraggedThumb());
    SetMixerVolume(device_, maximum > 0 ? static_cast<double>(position) / maximum : 0.0);
}

void CGVolumeAdjust::ToggleMute() {
    LONG muted = 0;
    GetMixerMute(device_, -1, &muted);
    const LONG next = muted ? 0 : 1;
    SetMixerMute(device_, -1, next);
    mute_.SetCheck(next);
    if (HWND parent = ::GetParent(m_hWnd)) ::SendMessageA(parent, WM_GVOLUME_MUTE, static_cast<WPARAM>(next), 0);
}

void CGVolumeAdjust::Paint(HDC dc) {
    DrawBitmapPart(dc, background_, 0, 0, width_, height_, 0, 0);
    if (Vertical()) {
        const skin::VolumeModel::Bar bar = model_.LevelBar(levelHeight_);
        DrawBitmapPart(dc, level_, 12, 6 + bar.source, levelWidth_, bar.length, 0, bar.source);
    } else {
        const skin::VolumeModel::Bar bar = model_.LevelBar(levelWidth_);
        DrawBitmapPart(dc, level_, 6, 12, bar.length, levelHeight_, 0, 0);
    }
    const CRect thumb = ThumbRect(dragging_ ? DraggedThumb() - model_.Thumb() : 0);
    DrawKeyedBitmap(dc, thumb_, thumb.left, thumb.top, thumbWidth_, thumbHeight_, look_ * thumbWidth_, 0,
                    kSkinKeyColor);
}

LRESULT CGVolumeAdjust::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    const CPoint point(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
    switch (message) {
        case WM_ERASEBKGND:
            return TRUE;
        case WM_PAINT: {
            CPaintDC paint(this);
            CRect client(0, 0, width_, height_);
            CMemDC memory(&paint, &client);
            Paint(memory.m_hDC);
            return 0;
        }
        case WM_LBUTTONDBLCLK:
            return 0;
        case WM_LBUTTONDOWN:
            ::SetFocus(m_hWnd);
            if (InMute(point)) {
                // The mute button takes the press itself (a click on it never moves the thumb).
                GiveCaptureToMute();
                ::SendMessageA(mute_.m_hWnd, WM_LBUTTONDOWN, wParam,
                               MAKELPARAM(point.x - muteRect_.left, point.y - muteRect_.top));
                return 0;
            }
            if (!InControl(point)) {
                if (::GetCapture() == m_hWnd) ReleaseCapture();
                if (HWND parent = ::GetParent(m_hWnd)) ::SetFocus(parent);
                PostToParent(WM_GVOLUME_CLOSE, static_cast<WPARAM>(GetDlgCtrlID()), 0);
                ShowWindow(SW_HIDE);
                return 0;
            }
            ::SetCapture(m_hWnd);
            current_ = previous_ = GetThumbCentre();
            if (!dragging_) {
                if (!OverThumb(point)) {
                    PostToParent(Vertical() ? WM_VSCROLL : WM_HSCROLL, SB_ENDSCROLL, reinterpret_cast<LPARAM>(m_hWnd));
                    current_ = point;
                    pressOff_ = true;
                } else {
                    dragging_ = true;
                    current_ = previous_ = point;
                    PostToParent(Vertical() ? WM_VSCROLL : WM_HSCROLL, SB_THUMBTRACK, reinterpret_cast<LPARAM>(m_hWnd));
                }
            }
            look_ = 2;
            Invalidate(FALSE);
            return 0;
        case WM_MOUSEMOVE:
            ::SetCursor(LoadCursor(nullptr, IDC_ARROW));
            if (InMute(point) && !dragging_) {
                GiveCaptureToMute();
            } else if (InControl(point) && ::GetCapture() != m_hWnd) {
                ::SetCapture(m_hWnd);
            }
            if (dragging_) {
                current_ = point;
                const int dragged = DraggedThumb();
                // Limit the pointer so that the thumb stays within its bounds.
                const int limited = previous_.y + (dragged - model_.Thumb());
                if (Vertical())
                    current_.y = limited;
                else
                    current_.x = previous_.x + (dragged - model_.Thumb());
                if (::GetCapture() == m_hWnd) {
                    Invalidate(FALSE);
                    WriteVolume();
                    PostToParent(Vertical() ? WM_VSCROLL : WM_HSCROLL, SB_THUMBTRACK, reinterpret_cast<LPARAM>(m_hWnd));
                }
            } else {
                const int look = OverThumb(point) ? 1 : 0;
                if (look != look_) look_ = look, Invalidate(FALSE);
                if (InControl(point) && !tracking_) {
                    TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, m_hWnd, 0};
                    tracking_ = _TrackMouseEvent(&track) != 0;
                }
            }
            return 0;
        case WM_LBUTTONUP:
            if (pressOff_) {
                pressOff_ = false;
                const int position = model_.PositionFor(DraggedThumb());
                SetPosition(position);
                const int maximum = model_.Maximum();
                SetMixerVolume(device_, maximum > 0 ? static_cast<double>(position) / maximum : 0.0);
            } else if (dragging_) {
                const int position = model_.PositionFor(DraggedThumb());
                dragging_ = false;
                SetPosition(position);
                PostToParent(Vertical() ? WM_VSCROLL : WM_HSCROLL, SB_ENDSCROLL, reinterpret_cast<LPARAM>(m_hWnd));
                PostToParent(WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(), 8), reinterpret_cast<LPARAM>(m_hWnd));
            }
            current_ = previous_ = GetThumbCentre();
            look_ = 0;
            Invalidate(FALSE);
            return 0;
        case WM_MOUSELEAVE:
            tracking_ = false;
            dragging_ = false;
            look_ = 0;
            Invalidate(FALSE);
            return 0;
        case WM_KEYDOWN:
            if (GetKeyState(VK_CONTROL) < 0) {
                if (wParam == VK_ADD) SetPosition(GetPosition() + 1);
                if (wParam == VK_SUBTRACT) SetPosition(GetPosition() - 1);
                if (wParam == VK_BACK) ToggleMute();
            }
            return 0;
        case WM_COMMAND:
            if (LOWORD(wParam) == kVolumeMuteButtonId && HIWORD(wParam) == BN_CLICKED) ToggleMute();
            return 0;
        default:
            break;
    }
    return CWnd::WindowProc(message, wParam, lParam);
}

// ---- CGVolumeControl ----

IMPLEMENT_DYNAMIC(CGVolumeControl, CDialog)

BOOL CGVolumeControl::OnInitDialog() {
    CDialog::OnInitDialog();
    SetDlgCtrlID(static_cast<int>(kVolumePopupId));
    HBITMAP thumb = LoadSkinBitmap("VolumeThumb.jpg");
    HBITMAP background = LoadSkinBitmap("VolumeControl_bg.jpg");
    HBITMAP level = LoadSkinBitmap("Volume_Max.jpg");
    HBITMAP mute = LoadSkinBitmap("VolumeBtn mute.jpg");
    slider_.Create(this, "", WS_CHILD | WS_VISIBLE, 0, kVolumeSliderId, 0, 0, 0, thumb, background, level, mute, 20, 7,
                   10, 72, 23, 18, 33, 103, 0, 20, 50);
    if (slider_.m_hWnd) slider_.MoveWindow(0, 0, 33, 103);
    // The thumb's centre comes to lie under the pointer.
    POINT pointer{};
    GetCursorPos(&pointer);
    ::ScreenToClient(m_hWnd, &pointer);
    const CPoint centre = slider_.m_hWnd ? slider_.GetThumbCentre() : CPoint(0, 0);
    GetWindowRect(&placing_);
    int borders = 0;
    if (owner_ && owner_->m_hWnd) {
        CRect window, client;
        owner_->GetWindowRect(&window);
        owner_->GetClientRect(&client);
        borders = window.Width() - client.Width();
    }
    int left = placing_.left + (pointer.x - centre.x);
    int top = placing_.top + (pointer.y - centre.y) + borders;
    const int screenWidth = GetSystemMetrics(SM_CXSCREEN), screenHeight = GetSystemMetrics(SM_CYSCREEN);
    left = std::max(std::min(left, screenWidth - 33), 0);
    top = std::max(std::min(top, screenHeight - 103), 0);
    SetWindowPos(nullptr, left, top, 33, 103, SWP_NOZORDER | SWP_NOACTIVATE);
    return TRUE;
}

BOOL CGVolumeControl::DestroyWindow() {
    if (!m_hWnd || !::IsWindow(m_hWnd)) return TRUE;
    return CDialog::DestroyWindow();
}

LRESULT CGVolumeControl::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_GVOLUME_CLOSE) {
        EndDialog(1);
        return 0;
    }
    if (message == WM_GVOLUME_MUTE) {
        if (owner_ && owner_->m_hWnd) ::SendMessageA(owner_->m_hWnd, WM_GVOLUME_MUTE, wParam, 0);
        return 0;
    }
    return CDialog::WindowProc(message, wParam, lParam);
}
