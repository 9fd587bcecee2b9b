// Objects over the controls of a property page's dialog. Each is bound to its control
// with SetWindow; until a non-null window is given it is not attached, and every
// operation other than SetWindow does nothing: selection and check reads answer -1, a
// track bar read the remembered position, and an edit read fails (the caller's word
// keeps its value).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "filters/encoder/encoder_settings.h"

namespace ombrisk {

// Edit text of this many characters or more is not read.
inline constexpr int kMaxEditChars = 50;

// A frame rate x 100 as the edits show it ("%2d.%02d"), and an edit's text back: a
// decimal number read digit by digit (no rounding drift), truncated to hundredths;
// false for text that is not such a number or is kMaxEditChars characters or longer.
std::wstring FrameRateText(int32_t rate100);
bool ParseFrameRate(const wchar_t* text, int32_t* rate100);

class CDialogControl {
public:
    virtual ~CDialogControl() = default;
    virtual void SetWindow(HWND window);
    virtual void SetDisabled(bool disabled);

    HWND Window() const { return window_; }
    bool Attached() const { return attached_; }

protected:
    LRESULT Send(UINT message, WPARAM wparam, LPARAM lparam) const;

    HWND window_ = nullptr;
    bool attached_ = false;
};

class CComboControl : public CDialogControl {
public:
    void Clear();
    void AddText(const wchar_t* text);
    // A negative index is ignored.
    void Select(int index);
    // -1 when nothing is selected.
    int Selected() const;
};

class CEditControl : public CDialogControl {
public:
    void LimitText(int characters);
    void SetText(const wchar_t* text);
    // An integer; the unset marker shows as "Not specified".
    void SetInt(int32_t value);
    // "Not specified" reads as the unset marker, other text as its decimal value (0 for
    // text that is not a number).
    bool ReadInt(int32_t* word) const;
    // A word holding a frame rate x 100, shown as "%2d.%02d".
    void SetFrameRate(int32_t rate100);
    // A decimal number, truncated to hundredths; fails for text that is not one.
    bool ReadFrameRate(int32_t* rate100) const;

private:
    // The text, or false when it is too long to be read.
    bool Text(wchar_t (&text)[kMaxEditChars + 2]) const;
};

class CCheckControl : public CDialogControl {
public:
    // Checked for any non-zero value.
    void Set(int value);
    // 1 when checked, 0 when not (an indeterminate state reads as 0).
    int Read() const;
};

class CTrackbarControl : public CDialogControl {
public:
    // The bounds in order; the remembered position is set again within them.
    void SetRange(int lower, int upper);
    // Clamped into the range.
    void SetPosition(int position);
    int Position();

private:
    int lower_ = 0;
    int upper_ = 0;
    int position_ = 0;
};

// Radio buttons of a dialog, each standing for a value.
class CRadioGroup {
public:
    struct Button {
        int id;  // 0 ends a table
        int value;
    };
    void SetTable(HWND dialog, const Button* table);
    // Checks each button exactly when its value is `value`.
    void SetValue(int value);
    // The value of the first checked button; 0 when none is.
    int Value() const;

private:
    HWND dialog_ = nullptr;
    const Button* table_ = nullptr;
};

}  // namespace ombrisk
