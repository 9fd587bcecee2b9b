#include "app/skin/time_edit_model.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace skin {
namespace {

constexpr int64_t kUnitsPerSecond = 10'000'000;
// The most digit cells an LED field gets, whatever its width.
constexpr int kMaxLedCells = 64;
// The caret never runs further right than this (typing moves it on without a field).
constexpr int kMaxCaret = 30;

// Decimal value of the leading digits (after an optional '-'), saturating at 10^15.
int64_t ParseDigits(const std::string& text) {
    size_t i = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (negative) i = 1;
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = std::min<int64_t>(value * 10 + (text[i] - '0'), 1'000'000'000'000'000);
    return negative ? -value : value;
}

int FieldValue(const std::string& text) {
    return static_cast<int>(std::clamp<int64_t>(ParseDigits(text), -1'000'000, 1'000'000));
}

std::string Two(int value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d", value);
    return buf;
}

std::string Part(const std::string& text, size_t at, size_t n) {
    return at < text.size() ? text.substr(at, n) : std::string();
}

}  // namespace

int LedGlyphCell(char c, bool timeEdit) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c == '.') return 10;
    if (c == '-') return timeEdit ? 12 : 10;
    if (c == ':') return 11;
    return -1;
}

int LedGlyphPanel(bool enabled, int index, int highlightFirst, int highlightLast) {
    if (!enabled) return 0;
    return highlightFirst <= index && index <= highlightLast ? 1 : 2;
}

LedMetrics LedMetricsFor(int bitmapWidth) {
    LedMetrics m;
    m.panelWidth = std::max(bitmapWidth, 0) / 3;
    m.glyphWidth = m.panelWidth / 13;
    return m;
}

void LedNumberModel::SetCells(int width, int glyphWidth) {
    cells_ = glyphWidth > 0 && width > 0 ? std::min(width / glyphWidth, kMaxLedCells) : 0;
    display_.append(static_cast<size_t>(cells_), '0');
    if (static_cast<size_t>(cells_) < maximum_.size()) {
        int64_t top = 1;
        for (int i = 0; i < cells_; ++i)
            top *= 10;
        maximum_ = std::to_string(top - 1);
    }
}

void LedNumberModel::Press() {
    typedCount_ = 0;
    typed_.clear();
}

void LedNumberModel::Release() {
    first_ = 0;
    last_ = cells_;
}

void LedNumberModel::Arrow() {
    typedCount_ = 0;
    first_ = last_ = -1;
}

void LedNumberModel::Enter() {
    first_ = last_ = -1;
    typedCount_ = 0;
}

bool LedNumberModel::Digit(char digit) {
    if (digit < '0' || digit > '9') return false;
    if (typedCount_ < cells_) {
        const std::string candidate = typed_ + digit;
        if (ParseDigits(maximum_) < ParseDigits(candidate)) return true;  // above the maximum: dropped
        ++typedCount_;
        typed_ = candidate;
        std::string value = std::to_string(ParseDigits(candidate));
        if (value.size() < static_cast<size_t>(cells_)) value.insert(0, cells_ - value.size(), '0');
        display_ = value;
    } else if (typedCount_ > cells_) {
        typedCount_ = 1;
        typed_.assign(1, digit);
        first_ = last_ = -1;
    }
    if (typedCount_ == cells_) first_ = last_ = -1;
    return true;
}

TimeFieldModel::TimeFieldModel(int frameRate)
    : frameRate_(frameRate == 30   ? 30
                 : frameRate == 25 ? 25
                                   : 0),
      caret_(frameRate_ ? 9 : 7) {
    maximum_ = frameRate_ ? "99:59:59:" + Two(LastFrame()) : "99:59:59";
    display_ = frameRate_ ? "00:00:00:00" : "00:00:00";
}

int TimeFieldModel::FieldAt(int caret) const {
    if (caret < 3) return 0;
    if (caret < 6) return 1;
    if (caret < 9) return 2;
    if (frameRate_ && caret < 12) return 3;
    return -1;
}

int TimeFieldModel::Field(int index) const {
    return index >= 0 && index < FieldCount() ? FieldValue(fields_[index]) : 0;
}

void TimeFieldModel::Split(const std::string& text) {
    if (text.empty()) return;
    if (frameRate_ && text.size() > 7 && text[7] == '.') {
        fields_[0] = Part(text, 0, 2), fields_[1] = Part(text, 3, 2);
        fields_[2] = Part(text, 6, 1), fields_[3] = Part(text, 8, 1);
        return;
    }
    for (int i = 0; i < FieldCount(); ++i)
        fields_[i] = Part(text, 3 * i, 2);
}

void TimeFieldModel::SetText(const std::string& text) {
    display_ = text;
    Split(text);
}

void TimeFieldModel::SetMaximum(const std::string& text) {
    maximum_ = text;
    Split(display_);
}

void TimeFieldModel::SetTime(int64_t time) {
    if (!frameRate_) return;
    display_ = TimeToTimeCodeText(time, frameRate_);
    Split(display_);
}

int64_t TimeFieldModel::Time() const {
    return TimeCodeTextToTime(Candidate(), frameRate_);
}

std::string TimeFieldModel::Candidate() const {
    std::string text = Two(Field(0));
    for (int i = 1; i < FieldCount(); ++i)
        text += ":" + Two(Field(i));
    return text;
}

void TimeFieldModel::ShowClamped() {
    const std::string candidate = Candidate();
    if (maximum_ <= candidate) {
        display_ = maximum_;
        Split(maximum_);
        ResetTyping();
    } else {
        display_ = candidate;
    }
}

void TimeFieldModel::Press() {
    ResetTyping();
}

void TimeFieldModel::Release(int x, int width) {
    Commit();
    const int parts = FieldCount();
    int field = -1;
    for (int i = 0; i < parts && field < 0; ++i)
        if (x < (i + 1) * width / parts) field = i;
    if (field < 0 && parts == 4 && x <= width) field = 3;
    if (field >= 0) caret_ = 3 * field;
    HighlightCaret();
    typedCount_ = 0;
}

bool TimeFieldModel::Digit(char digit) {
    if (digit < '0' || digit > '9') return false;
    if (typedCount_ < 2) {
        ++typedCount_;
        typed_ += digit;
        const int field = FieldAt(caret_);
        if (field >= 0) fields_[field] = typed_;
        ShowClamped();
    }
    if (typedCount_ == 2) {
        Commit();
        ResetTyping();
        caret_ = std::min(caret_ + 3, kMaxCaret);
        HighlightCaret();
    }
    return true;
}

void TimeFieldModel::Commit() {
    if (typedCount_ == 0 || typed_.empty()) return;
    std::string text = typed_.size() == 1 ? "0" + typed_ : typed_;
    const int field = FieldAt(caret_);
    const int value = FieldValue(text);
    if ((field == 1 || field == 2) && value > 59) text = "59";
    if (field == 3 && value > LastFrame()) text = Two(LastFrame());
    if (field >= 0) fields_[field] = text;
    ShowClamped();
    ResetTyping();
}

void TimeFieldModel::Enter() {
    ClearHighlight();
    // The time-code edit keeps its typed-digit count; the simple edit starts afresh.
    if (!frameRate_) typedCount_ = 0;
}

void TimeFieldModel::Arrow(int direction) {
    Commit();
    typedCount_ = 0;
    if (direction < 0 && caret_ > 0) caret_ = std::max(caret_ - 3, 0);
    if (direction > 0 && caret_ < 9) caret_ += 3;
    HighlightCaret();
}

void TimeFieldModel::Step(int direction) {
    ResetTyping();
    const int field = FieldAt(caret_);
    bool carried = false;
    if (field >= 0) {
        int h = Field(0), m = Field(1), s = Field(2), f = frameRate_ ? Field(3) : 0;
        const int values[4] = {h, m, s, f};
        int v = values[field] + (direction > 0 ? 1 : -1);
        int carry = 0;
        switch (field) {
            case 0:
                v = std::max(v, 0);
                break;
            case 1:
                carry = v > 59 ? 3 : v < 0 ? -3 : 0;
                break;
            case 2:
                carry = v > 59 ? 2 : v < 0 ? -2 : 0;
                break;
            default:
                if (v > LastFrame()) v = 0, carry = 1;
                if (v < 0) carry = -1;
                break;
        }
        typed_ = Two(v);
        if (carry == 0) {
            if (caret_ == 3 * field) fields_[field] = typed_;
        } else {
            carried = true;
            // Each pass settles one carry and may raise the next larger one; at most three.
            while (carry != 0) {
                const int now = carry;
                carry = 0;
                switch (now) {
                    case 1:
                        f = 0;
                        if (++s == 60) s = 0, carry = 2;
                        break;
                    case 2:
                        s = 0;
                        if (++m == 60) m = 0, carry = 3;
                        break;
                    case 3:
                        m = 0, ++h;
                        break;
                    case -3:
                        if (h > 0) --h, m = 59;
                        break;
                    case -2:
                        if (m >= 1)
                            --m, s = 59;
                        else if (h > 0)
                            --h, m = 59, s = 59;
                        break;
                    case -1:
                        // Borrowing a second; at 00:00:00 the value stays as it is.
                        if (h == 0 && m == 0 && s == 0) break;
                        f = LastFrame();
                        if (s >= 1)
                            --s;
                        else if (m >= 1)
                            --m, s = 59;
                        else
                            --h, m = 59, s = 59;
                        break;
                }
            }
            fields_[0] = Two(h), fields_[1] = Two(m), fields_[2] = Two(s);
            if (frameRate_) fields_[3] = Two(f);
        }
    }
    if (Field(0) > 99) {
        // A carry out of 99 hours stops at the maximum, so a step up never lowers the value.
        if (carried)
            Split(maximum_);
        else
            fields_[0] = "99", fields_[1] = "59";
    }
    ShowClamped();
    typed_.clear();
    HighlightCaret();
}

void TimeFieldModel::SelectField(int index) {
    if (index < 0 || index > 3 || (index == 0 && !frameRate_)) return;
    Press();
    caret_ = 3 * (3 - index);
    HighlightCaret();
}

int64_t TimeCodeTextToTime(const std::string& text, int frameRate) {
    const int h = FieldValue(Part(text, 0, 2)), m = FieldValue(Part(text, 3, 2));
    const int s = FieldValue(Part(text, 6, 2)), f = FieldValue(Part(text, 9, 2));
    const double frame = frameRate == 30 ? static_cast<double>(0.033333335f) : static_cast<double>(0.04f);
    const double seconds = static_cast<double>(h) * 3600 + m * 60 + s + f * frame;
    return static_cast<int64_t>(seconds * kUnitsPerSecond);
}

std::string TimeToTimeCodeText(int64_t time, int frameRate) {
    const int rate = frameRate == 30 ? 30 : 25;
    const std::string maximum = "99:59:59:" + Two(rate - 1);
    if (time < 0) time = 0;
    int64_t total = time / kUnitsPerSecond;
    const double fraction = static_cast<double>(time % kUnitsPerSecond) * 0.0000001;
    int frames = static_cast<int>(std::floor(fraction * rate + 0.5));
    if (frames >= rate) frames = 0, ++total;
    if (total / 3600 > 99) return maximum;
    const int h = static_cast<int>(total / 3600), m = static_cast<int>(total / 60 % 60);
    const int s = static_cast<int>(total % 60);
    return Two(h) + ":" + Two(m) + ":" + Two(s) + ":" + Two(frames);
}

}  // namespace skin
