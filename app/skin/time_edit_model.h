// What the LED number edit and the two time edits do with keys, clicks and steps, apart from
// any window: digits typed into cells or fields, the carry and borrow between fields, the
// clamp to a maximum text, and the conversion between time-code text and time values
// (signed 64-bit counts of 100-ns units). Platform-free; the window classes drive it.
#pragma once

#include <cstdint>
#include <string>

namespace skin {

int64_t TimeCodeTextToTime(const std::string& text, int frameRate);

// Glyph cells of the LED picture: 0-9 the digits, 10 the point, 11 the colon, 12 the dash.
// The number edit draws "-" from cell 10 (its minus sign); the time edits from cell 12.
// -1: the character is not drawn (its cell shows the background).
int LedGlyphCell(char c, bool timeEdit);
// Panel of the glyph picture for character `index`: 0 disabled, 1 highlighted, 2 normal.
int LedGlyphPanel(bool enabled, int index, int highlightFirst, int highlightLast);

// Glyph metrics of an LED picture of `bitmapWidth` pixels: three panels of 13 glyphs.
struct LedMetrics {
    int panelWidth = 0;
    int glyphWidth = 0;  // also the advance from one cell to the next
};
LedMetrics LedMetricsFor(int bitmapWidth);

// The LED number edit: a row of digit cells, typed into from the right up to a maximum.
class LedNumberModel {
public:
    // The number of cells of a `width`-pixel field; 0 when the glyph has no width. Fills the
    // display with that many zeros and lowers the maximum to as many nines when fewer than
    // its digits fit.
    void SetCells(int width, int glyphWidth);
    void SetText(const std::string& text) { display_ = text; }
    void Press();    // a click: typing starts afresh
    void Release();  // all cells highlighted
    void Arrow();    // left or right arrow: typing starts afresh, no highlight
    void Enter();    // typing ends
    // A digit '0'-'9'; other characters are ignored (false).
    bool Digit(char digit);
    void SetHighlight(int first, int last) { first_ = first, last_ = last; }

    int Cells() const { return cells_; }
    const std::string& Display() const { return display_; }
    const std::string& Maximum() const { return maximum_; }
    int HighlightFirst() const { return first_; }
    int HighlightLast() const { return last_; }
    int TypedCount() const { return typedCount_; }

private:
    int cells_ = 0;
    int typedCount_ = 0;
    std::string display_, typed_, maximum_ = "99999999";
    int first_ = -1, last_ = -1;
};

// Frames per second of the two TV standards; the simple time edit has no frames field.
constexpr int kNtsc = 1;
constexpr int kPal = 0;

// The hours-minutes-seconds edit (frameRate 0, text "HH:MM:SS") and the time-code edit
// (frameRate 30 or 25, text "HH:MM:SS:FF"). Fields stand at character 0, 3, 6 and 9; the
// caret is the character position of the field being edited.
class TimeFieldModel {
public:
    // frameRate 0: three fields, maximum "99:59:59", caret 7. 25 or 30: four fields, maximum
    // "99:59:59:24" or "...:29", caret 9.
    explicit TimeFieldModel(int frameRate);

    int FieldCount() const { return frameRate_ ? 4 : 3; }
    int FrameRate() const { return frameRate_; }
    // Changes the frame rate of the arithmetic only; the texts stay as they are.
    void SetFrameRate(int frameRate) { frameRate_ = frameRate == 30 ? 30 : frameRate == 25 ? 25 : frameRate_; }

    // The display becomes `text`, split into the fields (an empty text leaves them alone).
    void SetText(const std::string& text);
    // The maximum text; the display is split again.
    void SetMaximum(const std::string& text);
    // Time-code edit: the display made from a time (see TimeToTimeCodeText).
    void SetTime(int64_t time);
    int64_t Time() const;  // the time of the field values
    int64_t MaximumTime() const { return TimeCodeTextToTime(maximum_, frameRate_); }
    int Field(int index) const;  // 0 hours, 1 minutes, 2 seconds, 3 frames

    // A click starting an edit: typed digits cleared.
    void Press();
    // A release at x of a `width`-pixel field: pending digits committed and the field under
    // x selected (thirds or quarters of the width); beyond the width the caret stays.
    void Release(int x, int width);
    // A digit '0'-'9' (true) or another character (false, nothing changes).
    bool Digit(char digit);
    void Enter();
    // Left (-1) or right (+1): pending digits committed and the caret moved by one field.
    void Arrow(int direction);
    // Up (+1) or down (-1) of the field at the caret, with carries between the fields.
    void Step(int direction);
    // Commits a pending digit (a single digit gets a leading zero; field limits apply).
    void Commit();
    // Selects field `index` as SelectField does: 3 hours, 2 minutes, 1 seconds, 0 frames.
    void SelectField(int index);
    void SetHighlight(int first, int last) { first_ = first, last_ = last; }
    void ClearHighlight() { first_ = last_ = -1; }
    void ResetTyping() { typedCount_ = 0, typed_.clear(); }

    const std::string& Display() const { return display_; }
    const std::string& Maximum() const { return maximum_; }
    int Caret() const { return caret_; }
    int HighlightFirst() const { return first_; }
    int HighlightLast() const { return last_; }
    int TypedCount() const { return typedCount_; }

private:
    int LastFrame() const { return frameRate_ - 1; }
    // Field index of a caret position, or -1 past the last field.
    int FieldAt(int caret) const;
    void Split(const std::string& text);
    std::string Candidate() const;
    // Shows the candidate, or the maximum (fields included) when the candidate reaches it.
    void ShowClamped();
    void HighlightCaret() { first_ = caret_, last_ = caret_ + 1; }

    int frameRate_;
    std::string display_, maximum_, typed_;
    std::string fields_[4] = {"00", "00", "00", "00"};
    int typedCount_ = 0;
    int caret_;
    int first_ = -1, last_ = -1;
};

// "HH:MM:SS:FF" → time: (h·3600 + m·60 + s + f·d) · 10^7 truncated, where d is the frame
// duration rounded to single precision (0.033333335 NTSC, 0.04 PAL); the sum is formed in
// double precision. A text too short to hold the fields counts its missing fields as 0.
int64_t TimeCodeTextToTime(const std::string& text, int frameRate);
// time → "HH:MM:SS:FF", frames rounded to the nearest and a full second carried on. Negative
// times count as 0; times beyond 99:59:59 and the last frame give that maximum.
std::string TimeToTimeCodeText(int64_t time, int frameRate);

}  // namespace skin
