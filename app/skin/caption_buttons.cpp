#include "app/skin/caption_buttons.h"

CCaptionButtons::~CCaptionButtons() {
    for (auto& cells : icons_)
        for (HICON& icon : cells)
            if (icon) DestroyIcon(icon);
    for (HIMAGELIST list : lists_)
        if (list) ImageList_Destroy(list);
}

void CCaptionButtons::LoadStrip(int index, HBITMAP strip, COLORREF key, int cells) {
    BITMAP info{};
    if (index < 0 || index >= kStrips || !strip || !GetObjectA(strip, sizeof info, &info)) return;
    if (info.bmWidth < kCells || info.bmHeight <= 0) return;
    width_ = info.bmWidth / kCells;
    height_ = info.bmHeight;
    lists_[index] = ImageList_Create(width_, height_, ILC_COLOR24 | ILC_MASK, kCells, 1);
    if (!lists_[index]) return;
    ImageList_AddMasked(lists_[index], strip, key);
    for (int cell = 0; cell < cells && cell < kCells; ++cell)
        icons_[index][cell] = ImageList_GetIcon(lists_[index], cell, ILD_NORMAL);
}

int CCaptionButtons::PlaceAt(const RECT& window, int x, int y, int inset) const {
    if (!(y > window.top + kTop + inset && y < window.top + height_ - inset)) return 0;
    const int w = window.right - window.left;
    for (int place = 1; place <= 3; ++place) {
        const int left = window.left + PlaceLeft(w, place);
        const int right = place == 1 ? window.right - 4 : window.left + PlaceLeft(w, place - 1);
        if (x > left + inset && x < right - inset) return place;
    }
    return 0;
}

bool CCaptionButtons::OnMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    const POINT p{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    switch (message) {
        case WM_NCMOUSEMOVE:
            MouseMove(window, false, p.x, p.y);
            return false;
        case WM_NCMOUSELEAVE:
            MouseMove(window, true, 0, 0);
            *result = 0;
            return true;
        case WM_NCLBUTTONDOWN:
            if (wParam != HTCAPTION || !Press(window, p.x, p.y)) return false;
            *result = 0;
            return true;
        case WM_LBUTTONUP:
            if (!Release(window, p)) return false;
            *result = 0;
            return true;
        case WM_CAPTURECHANGED:
            // Capture taken away while a button is held (another window, a menu): the press ends.
            if (pressed_ && reinterpret_cast<HWND>(lParam) != window) {
                pressed_ = hot_ = 0;
                owner_->RedrawCaptionButtons();
            }
            return false;
        default:
            return false;
    }
}

void CCaptionButtons::MouseMove(HWND window, bool leave, int x, int y) {
    if (leave) tracking_ = false;  // the notice is spent either way
    if (pressed_) return;          // a held button keeps its pressed look
    const int before = hot_;
    hot_ = leave ? 0 : owner_->CaptionButtonAt(x, y, true);
    if (hot_ && !tracking_) {
        TRACKMOUSEEVENT tme{sizeof tme, TME_LEAVE | TME_NONCLIENT, window, 0};
        if (TrackMouseEvent(&tme)) tracking_ = true;
    }
    if (hot_ == before) return;
    owner_->RedrawCaptionButtons();
    owner_->CaptionHoverChanged(hot_);
}

bool CCaptionButtons::Press(HWND window, int x, int y) {
    const int button = owner_->CaptionButtonAt(x, y, false);
    if (!button) return false;
    SetCapture(window);
    pressed_ = button;
    owner_->RedrawCaptionButtons();
    return true;
}

bool CCaptionButtons::Release(HWND window, POINT client) {
    if (!pressed_) return false;
    const int button = pressed_;
    pressed_ = hot_ = 0;
    owner_->RedrawCaptionButtons();
    ReleaseCapture();
    ClientToScreen(window, &client);
    if (owner_->CaptionButtonAt(client.x, client.y, false) == button) owner_->CaptionButtonClicked(button);
    return true;
}
