#include "app/skin/skin_sliders.h"

#include <windowsx.h>

#include <algorithm>

#include "app/skin/skin_draw.h"

namespace {

constexpr UINT_PTR kWheelTimer = 1;
constexpr UINT kWheelEndMs = 1000;

}  // namespace

// ---- CGSliderBase ----

CGSliderBase::~CGSliderBase() {
    FreeImages();
    DropSurface();
}

HBITMAP CGSliderBase::CopyOf(HBITMAP image) {
    return image ? static_cast<HBITMAP>(CopyImage(image, IMAGE_BITMAP, 0, 0, 0)) : nullptr;
}

CGSliderBase::ImageSize CGSliderBase::SizeOf(HBITMAP image) {
    BITMAP info{};
    if (!image || !GetObjectA(image, sizeof info, &info)) return ImageSize{0, 0};
    return ImageSize{static_cast<int>(info.bmWidth), static_cast<int>(info.bmHeight)};
}

void CGSliderBase::Replace(HBITMAP& slot, HBITMAP image) {
    if (!image) return;
    if (slot) DeleteObject(slot);
    slot = CopyOf(image);
}

void CGSliderBase::SetBackgroundBitmap(HBITMAP image) {
    Replace(background_, image);
}

bool CGSliderBase::StoreRegionBitmap(HBITMAP image, int index, BOOL threePart) {
    if (!image) return false;
    if (model_.RegionCount() == 0)
        index = 0;
    else if (index < 0 || index >= model_.RegionCount())
        return false;
    Replace(regionImages_[index], image);
    threePart_ = threePart != 0;
    return true;
}

void CGSliderBase::FreeImages() {
    for (HBITMAP& image : regionImages_)
        if (image) DeleteObject(image), image = nullptr;
    for (HBITMAP* image : {&background_, &inMark_, &outMark_, &thumb_})
        if (*image) DeleteObject(*image), *image = nullptr;
}

void CGSliderBase::DropSurface() {
    if (surface_) DeleteObject(surface_);
    surface_ = nullptr;
    surfaceSize_ = SIZE{0, 0};
}

void CGSliderBase::DrawKeyed(HDC dc, HBITMAP image, int x, int y, int w, int h, int sx, int sy) const {
    DrawKeyedBitmap(dc, image, x, y, w, h, sx, sy, key_);
}

void CGSliderBase::PostCode(int code) const {
    if (HWND parent = ::GetParent(m_hWnd))
        ::PostMessageA(parent, WM_HSCROLL, MAKEWPARAM(code, 0), reinterpret_cast<LPARAM>(m_hWnd));
}

void CGSliderBase::Post(const skin::SliderEvents& events) {
    for (int code : events.codes)
        PostCode(code);
    if (events.repaint) {
        Invalidate(FALSE);
        UpdateWindow();
    }
}

void CGSliderBase::ApplyCursor(skin::SliderCursor kind) {
    HCURSOR chosen = nullptr;
    switch (kind) {
        case skin::SliderCursor::Unchanged:
            return;
        case skin::SliderCursor::Selection:
            if (!selectionCursor_) return;  // nothing is set when there is none
            chosen = selectionCursor_;
            break;
        case skin::SliderCursor::Thumb:
            chosen = thumbCursor_;
            break;
        case skin::SliderCursor::Edge:
            chosen = edgeCursor_;
            break;
        case skin::SliderCursor::Move:
            chosen = moveCursor_;
            break;
        case skin::SliderCursor::Arrow:
            break;
    }
    cursor_ = chosen ? chosen : LoadCursor(nullptr, IDC_ARROW);
    ::SetCursor(cursor_);
}

LRESULT CGSliderBase::MouseMessage(UINT message, WPARAM wParam, LPARAM lParam, bool* handled) {
    *handled = true;
    const int x = GET_X_LPARAM(lParam), y = GET_Y_LPARAM(lParam);
    // The region slider leaves keys, the wheel and focus to the native trackbar.
    const bool native = model_.Flavor() == skin::SliderFlavor::Region;
    if (native && message != WM_LBUTTONDOWN && message != WM_MOUSEMOVE && message != WM_LBUTTONUP &&
        message != WM_CAPTURECHANGED) {
        *handled = false;
        return 0;
    }
    switch (message) {
        case WM_LBUTTONDOWN: {
            ::SetFocus(m_hWnd);
            const bool wasDown = model_.ButtonDown();
            const skin::SliderEvents e = model_.Press(x, y);
            if (wasDown) return 0;
            ::SetCapture(m_hWnd);
            if (wheelTimer_) {
                KillTimer(kWheelTimer);
                wheelTimer_ = 0;
                PostCode(skin::kSbEndScroll);
            }
            Post(e);
            return 0;
        }
        case WM_MOUSEMOVE: {
            const skin::SliderEvents e = model_.Move(x, y);
            if (e.trackLeave && !tracking_) {
                TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, m_hWnd, 0};
                tracking_ = _TrackMouseEvent(&track) != 0;
            }
            ApplyCursor(e.cursor);
            Post(e);
            return 0;
        }
        case WM_LBUTTONUP: {
            const skin::SliderEvents e = model_.Release();
            if (::GetCapture() == m_hWnd) ReleaseCapture();
            Post(e);
            return 0;
        }
        case WM_MOUSELEAVE: {
            tracking_ = false;
            const skin::SliderEvents e = model_.Leave();
            if (::GetCapture() == m_hWnd) ReleaseCapture();
            Post(e);
            return 0;
        }
        case WM_MOUSEWHEEL: {
            if (!model_.ThumbShown()) return 0;
            if (wheelTimer_) KillTimer(kWheelTimer);
            wheelTimer_ = SetTimer(kWheelTimer, kWheelEndMs) ? kWheelTimer : 0;
            Post(model_.Wheel(GET_WHEEL_DELTA_WPARAM(wParam)));
            // The native trackbar does not see the wheel: its own scroll notifications would
            // reach the parent as if they were this slider's.
            return 0;
        }
        case WM_TIMER:
            if (wParam == kWheelTimer && wheelTimer_) {
                KillTimer(kWheelTimer);
                wheelTimer_ = 0;
                PostCode(skin::kSbEndScroll);
            }
            return 0;
        case WM_KILLFOCUS:
            CSliderCtrl::WindowProc(message, wParam, lParam);
            if (wheelTimer_) {
                PostCode(skin::kSbEndScroll);
                KillTimer(kWheelTimer);
                wheelTimer_ = 0;
            }
            return 0;
        case WM_KEYDOWN:
            if (::GetParent(m_hWnd) && (wParam == VK_HOME || wParam == VK_END)) Post(model_.HomeEnd(wParam == VK_END));
            return 0;
        case WM_KEYUP:
        case WM_CAPTURECHANGED:
            return 0;
        default:
            *handled = false;
            return 0;
    }
}

LRESULT CGSliderBase::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_ERASEBKGND:
            return TRUE;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(m_hWnd, &ps);
            CRect client;
            GetClientRect(&client);
            if (!suppressPaint_ && client.Width() > 0 && client.Height() > 0) {
                if (!surface_ || surfaceSize_.cx != client.Width() || surfaceSize_.cy != client.Height()) {
                    DropSurface();
                    surface_ = CreateCompatibleBitmap(dc, client.Width(), client.Height());
                    surfaceSize_ = SIZE{client.Width(), client.Height()};
                }
                HDC memory = CreateCompatibleDC(dc);
                HGDIOBJ old = SelectObject(memory, surface_);
                FillRect(memory, &client, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
                UpdateTrack();
                PaintAll(memory, client);
                BitBlt(dc, 0, 0, client.Width(), client.Height(), memory, 0, 0, SRCCOPY);
                SelectObject(memory, old);
                DeleteDC(memory);
            }
            EndPaint(m_hWnd, &ps);
            return 0;
        }
        case WM_SETCURSOR:
            if (LOWORD(lParam) == HTCLIENT) {
                ::SetCursor(cursor_ ? cursor_ : LoadCursor(nullptr, IDC_ARROW));
                return TRUE;
            }
            break;
        case WM_LBUTTONDBLCLK:
            return 0;
        case WM_DESTROY:
            if (wheelTimer_) KillTimer(kWheelTimer);
            wheelTimer_ = 0;
            FreeImages();
            DropSurface();
            break;
        default:
            break;
    }
    bool handled = false;
    const LRESULT result = MouseMessage(message, wParam, lParam, &handled);
    if (handled) return result;
    return CSliderCtrl::WindowProc(message, wParam, lParam);
}

// ---- CGThumbSliderBase ----

void CGThumbSliderBase::UpdateTrack() {
    CRect client;
    GetClientRect(&client);
    const int mark = SizeOf(outMark_).cx;
    if (mark > 0) {
        model_.SetTrack(client.left + mark, client.right - mark);
    } else {
        CRect channel;
        SendMessage(TBM_GETCHANNELRECT, 0, reinterpret_cast<LPARAM>(&channel));
        model_.SetTrack(channel.left, channel.right);
    }
}

void CGThumbSliderBase::SetMarkAndThumbBitmaps(HBITMAP inMark, HBITMAP outMark, HBITMAP thumb, int thumbTop,
                                               int thumbBottom) {
    Replace(inMark_, inMark);
    if (outMark) {
        Replace(outMark_, outMark);
        model_.SetMarkWidth(SizeOf(outMark_).cx);
        model_.SetMarkHeight(SizeOf(outMark_).cy);
        UpdateTrack();
        model_.SetThumbCell(model_.ThumbRight() - model_.ThumbLeft(), model_.ThumbTop(), model_.ThumbBottom());
    }
    if (thumb) {
        Replace(thumb_, thumb);
        model_.SetThumbCell(SizeOf(thumb_).cx / 4, thumbTop, thumbBottom);
    }
}

void CGThumbSliderBase::SetRegionBitmap(HBITMAP image, int bandTop, int index, BOOL threePart) {
    if (StoreRegionBitmap(image, index, threePart)) bandTop_ = bandTop;
}

void CGThumbSliderBase::Repaint() {
    if (!m_hWnd) return;
    Invalidate(FALSE);
    UpdateWindow();
}

void CGThumbSliderBase::ApplyPosCursor(BOOL setCursor) {
    if (!setCursor) return;
    POINT p{};
    GetCursorPos(&p);
    ::ScreenToClient(m_hWnd, &p);
    ApplyCursor(model_.OverThumb(p.x, p.y) ? skin::SliderCursor::Thumb : skin::SliderCursor::Arrow);
}

void CGThumbSliderBase::Place(int x, int y, int width, int height) {
    SetWindowRgn(m_hWnd, CreateRectRgn(0, 0, width, height), TRUE);
    SetWindowPos(nullptr, x, y, width, height, SWP_NOACTIVATE | SWP_NOZORDER);
    UpdateTrack();
}

void CGThumbSliderBase::PaintRegionBand(HDC dc, bool alwaysEnds) const {
    const int trackLeft = model_.TrackLeft(), trackRight = model_.TrackRight();
    for (int i = 0; i < model_.RegionCount(); ++i) {
        const skin::SliderRegion& r = model_.Region(i);
        HBITMAP image = regionImages_[i];
        const int left = std::max(r.left, trackLeft), right = std::min(r.right, trackRight);
        if (!image || right < left) continue;
        const ImageSize size = SizeOf(image);
        for (const skin::Blit& b : skin::RegionBlits(size.cx, left, right, trackRight, threePart_, alwaysEnds))
            DrawKeyed(dc, image, b.target, bandTop_, b.width, size.cy, b.source, 0);
    }
}

void CGThumbSliderBase::PaintThumb(HDC dc) const {
    if (!model_.ThumbShown() || !thumb_) return;
    const ImageSize size = SizeOf(thumb_);
    const int cell = size.cx / 4;
    const int shift = model_.Grab() == 1 ? model_.DragShift() : 0;
    const int height = std::min<int>(size.cy, model_.ThumbBottom() - model_.ThumbTop());
    DrawKeyed(dc, thumb_, model_.ThumbLeft() + shift, model_.ThumbTop(), cell, height, model_.ThumbLook() * cell, 0);
}

// ---- CGMagnifySlider ----

IMPLEMENT_DYNAMIC(CGMagnifySlider, CSliderCtrl)

BOOL CGMagnifySlider::Create(DWORD style, const RECT& rect, CWnd* parent, UINT id) {
    if (!CSliderCtrl::Create(style | WS_CHILD, rect, parent, id)) return FALSE;
    SetDlgCtrlID(static_cast<int>(id));
    UpdateTrack();
    model_.SetThumbCell(0, 0, 0);
    return TRUE;
}

void CGMagnifySlider::SetRange64(int64_t minimum, int64_t maximum, BOOL) {
    model_.SetRange(minimum, maximum);
    Invalidate(FALSE);
}

BOOL CGMagnifySlider::SetPos(int64_t position, BOOL setCursor) {
    if (!model_.SetPos(position)) return FALSE;
    ApplyPosCursor(setCursor);
    Invalidate(FALSE);
    return TRUE;
}

void CGMagnifySlider::SetTickRange(int64_t first, int64_t last, BOOL redraw) {
    model_.SetTickRange(first, last);
    if (redraw) Repaint();
}

void CGMagnifySlider::SetTickInterval(int64_t interval) {
    model_.SetTickInterval(interval);
    Invalidate(FALSE);
}

void CGMagnifySlider::SetWheelBounds(int64_t lower, int64_t upper, BOOL redraw) {
    model_.SetWheelBounds(lower, upper);
    if (redraw) Repaint();
}

void CGMagnifySlider::SetRegion(int index, int64_t start, int64_t end) {
    if (model_.SetRegion(index, start, end)) Repaint();
}

void CGMagnifySlider::SetRegionStart(int64_t start, int index) {
    model_.SetRegionStart(index, start);
}

void CGMagnifySlider::SetRegionEnd(int64_t end, int index) {
    model_.SetRegionEnd(index, end);
}

void CGMagnifySlider::SetSelectionAndPos(int64_t in, int64_t out, int64_t position) {
    model_.SetSelectionAndPos(in, out, position);
    Invalidate(FALSE);
}

void CGMagnifySlider::ApplySkin(const RECT& rect, HBITMAP inMark, HBITMAP outMark, HBITMAP thumb, HBITMAP background,
                                HBITMAP regionImage, int bandTop, int thumbTop, int thumbBottom) {
    const CRect r(rect);
    Place(r.left, r.top, r.Width(), r.Height());
    SetMarkAndThumbBitmaps(inMark, outMark, thumb, thumbTop, thumbBottom);
    SetBackgroundBitmap(background);
    SetRegionBitmap(regionImage, bandTop, 0, TRUE);
    MoveTo(r.left, r.top, r.Width(), r.Height());
}

void CGMagnifySlider::MoveTo(int x, int y, int width, int height) {
    Place(x, y, width, height);
    int64_t start = 0, end = 0;
    model_.GetRegion(0, &start, &end);
    if (model_.RegionCount() > 0) model_.SetSelectionAndPos(start, end, model_.Pos());
    for (int i = 0; i < model_.RegionCount(); ++i) {
        model_.GetRegion(i, &start, &end);
        model_.SetRegion(i, start, end);
    }
    DropSurface();
    RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
}

void CGMagnifySlider::PaintAll(HDC dc, const CRect& client) {
    const ImageSize back = SizeOf(background_);
    for (const skin::Blit& b : skin::MagnifyBackgroundBlits(back.cx, client.Width()))
        DrawKeyed(dc, background_, b.target, 0, b.width, back.cy, b.source, 0);
    PaintRegionBand(dc, false);
    if (model_.RegionsShown() && (inMark_ || outMark_)) {
        const ImageSize in = SizeOf(inMark_), out = SizeOf(outMark_);
        for (int i = 0; i < model_.RegionCount(); ++i) {
            const skin::SliderRegion& r = model_.Region(i);
            if (model_.StartMarks() && inMark_)
                DrawKeyed(dc, inMark_, std::max<int>(r.left - in.cx, client.left), 0, in.cx, in.cy, 0, 0);
            if (model_.EndMarks() && outMark_)
                DrawKeyed(dc, outMark_, std::min<int>(r.right, client.right - out.cx), 0, out.cx, out.cy, 0, 0);
        }
    }
    for (const skin::Tick& tick : model_.Ticks()) {
        MoveToEx(dc, tick.x, client.bottom - (tick.longTick ? 8 : 4), nullptr);
        LineTo(dc, tick.x, client.bottom);
    }
    PaintThumb(dc);
}

// ---- CGSelectSlider ----

IMPLEMENT_DYNAMIC(CGSelectSlider, CSliderCtrl)

CGSelectSlider::CGSelectSlider() : CGThumbSliderBase(skin::SliderFlavor::Select) {}

CGSelectSlider::~CGSelectSlider() {
    for (HBITMAP image : {leftPiece_, rightPiece_, upperBand_, lowerBand_, grip_})
        if (image) DeleteObject(image);
}

BOOL CGSelectSlider::Create(DWORD style, const RECT& rect, CWnd* parent, UINT id) {
    if (!CSliderCtrl::Create(style | WS_CHILD, rect, parent, id)) return FALSE;
    SetDlgCtrlID(static_cast<int>(id));
    UpdateTrack();
    model_.SetThumbCell(0, 0, 0);
    SetSelectionRows();
    return TRUE;
}

void CGSelectSlider::SetSelectionRows() {
    CRect client;
    if (m_hWnd) GetClientRect(&client);
    const int bottom = SizeOf(upperBand_).cy + SizeOf(leftPiece_).cy;
    model_.SetSelectionRows(client.top, bottom, bottom + SizeOf(lowerBand_).cy, client.bottom);
}

void CGSelectSlider::SetRange64(int64_t minimum, int64_t maximum, BOOL) {
    model_.SetRange(minimum, maximum);
}

void CGSelectSlider::GetRange64(int64_t* minimum, int64_t* maximum) const {
    if (minimum) *minimum = model_.Minimum();
    if (maximum) *maximum = model_.Maximum();
}

BOOL CGSelectSlider::SetPos(int64_t position, BOOL setCursor) {
    if (!model_.SetPos(position)) return FALSE;
    ApplyPosCursor(setCursor);
    Repaint();
    return TRUE;
}

void CGSelectSlider::SetRegion(int index, int64_t start, int64_t end) {
    if (model_.SetRegion(index, start, end)) Repaint();
}

void CGSelectSlider::SetRegionStart(int index, int64_t start) {
    if (model_.SetRegionStart(index, start)) Repaint();
}

void CGSelectSlider::SetRegionEnd(int index, int64_t end) {
    if (model_.SetRegionEnd(index, end)) Repaint();
}

int64_t CGSelectSlider::GetRegionStart(int index) const {
    int64_t start = 0;
    model_.GetRegion(index, &start, nullptr);
    return start;
}

int64_t CGSelectSlider::GetRegionEnd(int index) const {
    int64_t end = 0;
    model_.GetRegion(index, nullptr, &end);
    return end;
}

BOOL CGSelectSlider::SetSelection(int64_t start, int64_t end, HBITMAP leftPiece, HBITMAP rightPiece, HBITMAP upperBand,
                                  HBITMAP lowerBand, HBITMAP grip) {
    if (start > end) return FALSE;
    if (leftPiece && rightPiece && upperBand && lowerBand && grip) {
        Replace(leftPiece_, leftPiece);
        Replace(rightPiece_, rightPiece);
        Replace(upperBand_, upperBand);
        Replace(lowerBand_, lowerBand);
        Replace(grip_, grip);
    }
    SetSelectionRows();
    model_.SetSelection(start, end);
    if (model_.SelectionShown()) Repaint();
    return TRUE;
}

void CGSelectSlider::GetSelection(int64_t* start, int64_t* end) const {
    if (start) *start = model_.SelectionStart();
    if (end) *end = model_.SelectionEnd();
}

void CGSelectSlider::ShowSelection(BOOL on) {
    model_.ShowSelection(on != 0);
    Repaint();
}

void CGSelectSlider::ApplySkin(const RECT& rect, HBITMAP inMark, HBITMAP outMark, HBITMAP thumb, HBITMAP background,
                               HBITMAP regionImage, HBITMAP leftPiece, HBITMAP rightPiece, HBITMAP upperBand,
                               HBITMAP lowerBand, HBITMAP grip, int bandTop, int thumbTop, int thumbBottom) {
    const CRect r(rect);
    SetSelection(model_.SelectionStart(), model_.SelectionEnd(), leftPiece, rightPiece, upperBand, lowerBand, grip);
    Place(r.left, r.top, r.Width(), r.Height());
    SetMarkAndThumbBitmaps(inMark, outMark, thumb, thumbTop, thumbBottom);
    SetBackgroundBitmap(background);
    SetRegionBitmap(regionImage, bandTop, 0, TRUE);
    MoveTo(r.left, r.top, r.Width(), r.Height());
}

void CGSelectSlider::MoveTo(int x, int y, int width, int height) {
    Place(x, y, width, height);
    model_.SetPos(model_.Pos());
    for (int i = 0; i < model_.RegionCount(); ++i) {
        int64_t start = 0, end = 0;
        model_.GetRegion(i, &start, &end);
        model_.SetRegion(i, start, end);
    }
    SetSelection(model_.SelectionStart(), model_.SelectionEnd());
    DropSurface();
    RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
}

void CGSelectSlider::DrawBand(HDC dc, HBITMAP band, int y, int left, int right, int end) const {
    const ImageSize size = SizeOf(band);
    if (!band || size.cx <= 0) return;
    DrawKeyed(dc, band, left - end, y, end, size.cy, 0, 0);
    const int column = std::min(3, std::max(size.cx - 10, 0));
    if (column > 0)
        for (int x = left; x < right; x += 3)
            DrawKeyed(dc, band, x, y, std::min(column, right - x), size.cy, 10, 0);
    DrawKeyed(dc, band, right, y, end, size.cy, std::max<int>(size.cx - end, 0), 0);
}

void CGSelectSlider::PaintAll(HDC dc, const CRect& client) {
    const ImageSize back = SizeOf(background_);
    for (const skin::Blit& b : skin::SelectBackgroundBlits(back.cx, client.Width()))
        DrawKeyed(dc, background_, b.target, 0, b.width, back.cy, b.source, 0);
    PaintRegionBand(dc, true);
    if (leftPiece_ && rightPiece_ && model_.SelectionShown()) {
        const int d = model_.Grab() == 2 ? model_.DragShift() : 0;
        const ImageSize piece = SizeOf(leftPiece_), upper = SizeOf(upperBand_);
        const int w = piece.cx;
        const int left = model_.SelectionLeft() + d, right = model_.SelectionRight() + d;
        DrawBand(dc, upperBand_, client.top, left, right, w);
        DrawKeyed(dc, leftPiece_, left - w, client.top + upper.cy, w, piece.cy, 0, 0);
        const ImageSize rightSize = SizeOf(rightPiece_);
        DrawKeyed(dc, rightPiece_, right, client.top + upper.cy, rightSize.cx, rightSize.cy, 0, 0);
        DrawBand(dc, lowerBand_, client.top + upper.cy + piece.cy, left, right, w);
        const ImageSize gripSize = SizeOf(grip_);
        const int gripTop = client.top + upper.cy + piece.cy + SizeOf(lowerBand_).cy;
        for (const skin::Blit& b : skin::GripBlits(gripSize.cx, w, model_.GripLeft() + d, model_.GripRight() + d))
            DrawKeyed(dc, grip_, b.target, gripTop, b.width, gripSize.cy, b.source, 0);
    }
    const int count = model_.RegionCount();
    if (inMark_ && outMark_ && showMarks_ && count > 0) {
        const ImageSize in = SizeOf(inMark_), out = SizeOf(outMark_);
        DrawKeyed(dc, inMark_, std::max<int>(model_.Region(0).left - in.cx, client.left), 0, in.cx, in.cy, 0, 0);
        DrawKeyed(dc, outMark_, std::min<int>(model_.Region(count - 1).right, client.right - out.cx), 0, out.cx, out.cy,
                  0, 0);
    }
    PaintThumb(dc);
}

// ---- CGRegionSlider ----

IMPLEMENT_DYNAMIC(CGRegionSlider, CSliderCtrl)

CGRegionSlider::CGRegionSlider() : CGSliderBase(skin::SliderFlavor::Region) {
    model_.SetNativeX([this](int64_t value) { return NativeX(value); });
}

int CGRegionSlider::NativeX(int64_t value) {
    if (!m_hWnd) return 0;
    suppressPaint_ = true;
    SendMessage(TBM_SETPOS, TRUE, static_cast<LPARAM>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX)));
    RECT thumb{};
    SendMessage(TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&thumb));
    suppressPaint_ = false;
    return (thumb.left + thumb.right) / 2;
}

void CGRegionSlider::SetRange(int minimum, int maximum, BOOL redraw) {
    CSliderCtrl::SetRange(minimum, maximum, redraw);
    model_.SetRange(minimum, maximum);
}

void CGRegionSlider::SetRegionEnd(int index, int end) {
    if (!model_.SetRegionEnd(index, end)) return;
    Invalidate(FALSE);
    UpdateWindow();
}

void CGRegionSlider::SetRegionBitmap(HBITMAP image, int index, BOOL threePart) {
    StoreRegionBitmap(image, index, threePart);
}

void CGRegionSlider::UpdateTrack() {
    CRect channel;
    SendMessage(TBM_GETCHANNELRECT, 0, reinterpret_cast<LPARAM>(&channel));
    model_.SetTrack(channel.left, channel.right);
}

void CGRegionSlider::PaintAll(HDC dc, const CRect& client) {
    if (background_) {
        const ImageSize back = SizeOf(background_);
        DrawBitmapPart(dc, background_, 0, 0, back.cx, back.cy, 0, 0);
    }
    for (int i = 0; i < model_.RegionCount(); ++i) {
        HBITMAP image = regionImages_[i];
        if (!image) continue;
        const skin::SliderRegion& r = model_.Region(i);
        const ImageSize size = SizeOf(image);
        // Without three parts the image is revealed from the region's left like a progress
        // fill, also when the region reaches the channel's end.
        for (const skin::Blit& b :
             skin::RegionBlits(size.cx, r.left, r.right, model_.TrackRight(), threePart_, !threePart_))
            DrawKeyed(dc, image, b.target, client.bottom - size.cy, b.width, size.cy, b.source, 0);
    }
}
