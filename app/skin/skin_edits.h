// The LED entry fields of the skins: the number edit, the hours-minutes-seconds edit and the
// time-code edit with its two spin buttons. Each draws its text in glyphs cut from the LED
// picture (three panels of 13 glyphs: disabled, highlighted, normal) over a background
// picture, and leaves the typing rules to the models of time_edit_model.h.
// User-interface thread only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "app/skin/skin_controls.h"
#include "app/skin/time_edit_model.h"
#include "framework/wnd.h"

// Posted on Enter (wParam 13, lParam the edit object) or focus loss (wParam 8, lParam the
// window) by the number edit.
constexpr UINT WM_GLEDEDIT_NOTIFY = 0x178A;
// Posted on Enter by the time edits: wParam 13, lParam the edit object.
constexpr UINT WM_GTIMEEDIT_ENTER = 0x178B;
// Posted by a spin button to the time-code edit: wParam 202 up or 203 down.
constexpr UINT WM_GSPIN_STEP = 0x1791;
constexpr UINT kSpinUpId = 202;
constexpr UINT kSpinDownId = 203;

// What the three fields share: geometry, pictures, glyph drawing, tooltip and cursor.
class CGLedFieldBase : public CWnd {
public:
    void SetToolTip(const char* text, BOOL activate);
    // The cursor shown over this field (null: the arrow). Only this window's cursor changes;
    // the window class is shared and stays as it is.
    void SetCursor(HCURSOR cursor) { cursor_ = cursor; }
    HCURSOR GetFieldCursor() const { return cursor_; }
    HWND GetToolTipWindow() const { return tooltip_.Window(); }
    BOOL PreTranslateMessage(MSG* msg) override;

protected:
    BOOL CreateField(DWORD style, const RECT& rect, HBITMAP background, int width, int height, CWnd* parent, UINT id,
                     int extraWidth);
    void SetGlyphs(HBITMAP glyphs);
    // Background, then one glyph per character of `text`.
    void PaintText(HDC dc, const std::string& text, int first, int last, bool timeEdit);
    void PostToParent(UINT message, WPARAM wParam, LPARAM lParam) const;
    void PostCommand(WORD code) const;
    void SendCommand(WORD code) const;
    // Common messages: painting, erase, dialog code, cursor, double click, reflected colour.
    bool HandleCommon(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result, bool showCursor);

    UINT id_ = 0;
    int width_ = 0, height_ = 0;
    HBITMAP background_ = nullptr;
    HBITMAP glyphs_ = nullptr;
    CRect rect_;
    skin::LedMetrics metrics_;
    int glyphHeight_ = 0;
    SkinToolTip tooltip_;
    HCURSOR cursor_ = nullptr;
};

class CGLEDEdit : public CGLedFieldBase {
    DECLARE_DYNAMIC(CGLEDEdit)

public:
    BOOL Create(DWORD style, const RECT& rect, HBITMAP background, int width, int height, CWnd* parent, UINT id,
                const char* windowName, int, int);
    void SetLedBitmap(HBITMAP glyphs);
    void SetText(const char* text);
    CString GetText() const { return model_.Display().c_str(); }
    void SetHighlight(int first, int last);
    void Enable(BOOL enable);
    const skin::LedNumberModel& Model() const { return model_; }

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    skin::LedNumberModel model_;
};

// The hours-minutes-seconds edit and the time-code edit share their keyboard, mouse and
// timer handling; the model decides what each does.
class CGTimeFieldBase : public CGLedFieldBase {
public:
    void SetLedBitmap(HBITMAP glyphs) { SetGlyphs(glyphs); }
    void SetText(const char* text);
    void SetMaximum(const char* text);
    void SetHighlight(int first, int last);
    int GetHours() const { return model_.Field(0); }
    int GetMinutes() const { return model_.Field(1); }
    int GetSeconds() const { return model_.Field(2); }
    CString GetText() const { return model_.Display().c_str(); }
    const skin::TimeFieldModel& Model() const { return model_; }
    UINT_PTR InputTimer() const { return inputTimer_; }
    UINT_PTR ArrowTimer() const { return arrowTimer_; }

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

protected:
    explicit CGTimeFieldBase(int frameRate) : model_(frameRate) {}
    virtual bool Writable() const { return true; }
    virtual void Changed() {}
    // Steps the field at the caret, restarting the input timer (id 1, or 2 after a wheel).
    void StepField(int direction, UINT_PTR timerId);
    void KillTimers();
    void StartInputTimer(UINT_PTR id);
    void Redraw();
    void EndEditing();
    // The x width of the digits, whose thirds or quarters choose the field.
    virtual int DigitsWidth() const { return rect_.Width(); }

    skin::TimeFieldModel model_;
    UINT_PTR inputTimer_ = 0;
    UINT_PTR arrowTimer_ = 0;
};

class CGSimpleTimeEdit : public CGTimeFieldBase {
    DECLARE_DYNAMIC(CGSimpleTimeEdit)

public:
    CGSimpleTimeEdit() : CGTimeFieldBase(0) {}
    BOOL Create(DWORD style, const RECT& rect, HBITMAP background, int width, int height, CWnd* parent, UINT id,
                const char* windowName, int, int);
};

class CGTimeSpinButton : public CWnd {
    DECLARE_DYNAMIC(CGTimeSpinButton)

public:
    BOOL Create(CWnd* parent, const char* name, DWORD style, DWORD exStyle, UINT id);
    void SetSkin(int left, int top, HBITMAP strip, int width, int height, int initialState);
    int GetState() const { return state_; }

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void Show(int state);

    int state_ = 0;
    int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
    HBITMAP strip_ = nullptr;
    CRgn hitRegion_;
    bool tracking_ = false;
};

class CGTimeCodeEdit : public CGTimeFieldBase {
    DECLARE_DYNAMIC(CGTimeCodeEdit)

public:
    // The standard comes from the "DisplayCurFrame" setting (1 NTSC, else PAL).
    CGTimeCodeEdit();
    explicit CGTimeCodeEdit(int standard);
    BOOL Create(DWORD style, const RECT& rect, int gap, HBITMAP background, int width, int height, CWnd* parent,
                UINT id, const char* spinName, DWORD spinStyle, DWORD spinExStyle, int incrementLeft, int incrementTop,
                int decrementLeft, int decrementTop, HBITMAP incrementStrip, HBITMAP decrementStrip, int spinWidth,
                int spinHeight, int spinInitialState, int);
    void SetTime(int64_t time);
    void GetTime(int64_t* time) const {
        if (time) *time = model_.Time();
    }
    int GetFrames() const { return model_.Field(3); }
    // Changes the arithmetic's standard only: nothing is redrawn or clamped.
    void SetStandardValue(int standard);
    int GetStandardValue() const { return standard_; }
    void SetReadOnly(BOOL readOnly) { readOnly_ = readOnly != 0; }
    void SelectField(int index);
    CGTimeSpinButton& IncrementButton() { return increment_; }
    CGTimeSpinButton& DecrementButton() { return decrement_; }

protected:
    bool Writable() const override { return !readOnly_; }
    int DigitsWidth() const override { return rect_.Width(); }

private:
    int standard_;
    bool readOnly_ = false;
    CGTimeSpinButton increment_, decrement_;
};
