// The caption buttons of a skinned window that draws its own non-client area: their art (a
// strip of four cells per button: normal, hover, pressed, disabled), their places at the
// caption's right end, and their mouse handling. A button under the mouse shows its hover
// look until the system's leave notice; a press takes the mouse without the system's move
// loop (which would swallow the release), and the button acts on release over the button it
// was pressed on. The window gives the codes, the redraw and the action.
#pragma once

#include <windows.h>
#include <commctrl.h>

class CCaptionButtons {
public:
    // What the window decides. Codes are the window's own; 0 is no button.
    class Owner {
    public:
        // The button under screen point (x, y): its hover code when `hover`, else its press code.
        virtual int CaptionButtonAt(int x, int y, bool hover) const = 0;
        virtual void RedrawCaptionButtons() = 0;
        // `pressed` was released over itself.
        virtual void CaptionButtonClicked(int pressed) = 0;
        // The hover code changed (0: the mouse left the buttons).
        virtual void CaptionHoverChanged(int hover) { (void)hover; }

    protected:
        ~Owner() = default;
    };

    static constexpr int kStrips = 4;
    static constexpr int kCells = 4;

    explicit CCaptionButtons(Owner* owner) : owner_(owner) {}
    ~CCaptionButtons();
    CCaptionButtons(const CCaptionButtons&) = delete;
    CCaptionButtons& operator=(const CCaptionButtons&) = delete;

    // Cuts strip `index` (four cells side by side) into its first `cells` icons, `key` the
    // transparent colour; a cell's size becomes the button size. The bitmap stays the caller's.
    void LoadStrip(int index, HBITMAP strip, COLORREF key, int cells);
    SIZE ButtonSize() const { return SIZE{width_, height_}; }
    HICON Icon(int index, int cell) const { return icons_[index][cell]; }

    // The button place under screen point (x, y) of a window at `window` (screen coordinates):
    // the first place is the close button's at the caption's right end, the second and third
    // to its left; 0 when none. `inset` shrinks each button's rectangle on every side.
    int PlaceAt(const RECT& window, int x, int y, int inset) const;
    // The left edge of button place `place` (1 to 3) in a window `width` pixels wide; the top
    // edge is kTop.
    int PlaceLeft(int width, int place) const { return width - place * width_ - 4 - 2 * (place - 1); }
    static constexpr int kTop = 4;

    int Hot() const { return hot_; }
    int Pressed() const { return pressed_; }

    // WM_NCMOUSEMOVE, WM_NCMOUSELEAVE, WM_NCLBUTTONDOWN on a button, WM_LBUTTONUP while one is
    // pressed and WM_CAPTURECHANGED of `window`. True when the message was handled, with its
    // result in `result`; false when it goes on to the window's own handling.
    bool OnMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
    // A press at screen point (x, y): true when it was on a button, which now holds the mouse.
    bool Press(HWND window, int x, int y);

private:
    void MouseMove(HWND window, bool leave, int x, int y);
    bool Release(HWND window, POINT client);

    Owner* owner_;
    HIMAGELIST lists_[kStrips] = {};
    HICON icons_[kStrips][kCells] = {};
    int width_ = 0, height_ = 0;
    int hot_ = 0;
    int pressed_ = 0;
    bool tracking_ = false;
};
