// Geometry values and owned GDI objects: each wrapper deletes what it created or was given
// to own, and Detach hands the handle back without deleting it.
#pragma once

#include <windows.h>

#include "framework/object.h"

struct CPoint : POINT {
    CPoint() : POINT{0, 0} {}
    CPoint(int x0, int y0) : POINT{x0, y0} {}
    explicit CPoint(LPARAM lp) : POINT{static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))} {}
    bool operator==(const CPoint& o) const { return x == o.x && y == o.y; }
};

struct CSize : SIZE {
    CSize() : SIZE{0, 0} {}
    CSize(int w, int h) : SIZE{w, h} {}
};

struct CRect : RECT {
    CRect() : RECT{0, 0, 0, 0} {}
    CRect(int l, int t, int r, int b) : RECT{l, t, r, b} {}
    CRect(const RECT& r) : RECT(r) {}  // NOLINT: implicit like the framework's
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    CSize Size() const { return CSize(Width(), Height()); }
    CPoint TopLeft() const { return CPoint(left, top); }
    CPoint BottomRight() const { return CPoint(right, bottom); }
    CPoint CenterPoint() const { return CPoint((left + right) / 2, (top + bottom) / 2); }
    bool IsRectEmpty() const { return right <= left || bottom <= top; }
    bool PtInRect(POINT p) const { return p.x >= left && p.x < right && p.y >= top && p.y < bottom; }
    void SetRect(int l, int t, int r, int b) { *this = CRect(l, t, r, b); }
    void OffsetRect(int dx, int dy) {
        left += dx;
        right += dx;
        top += dy;
        bottom += dy;
    }
    void InflateRect(int dx, int dy) {
        left -= dx;
        right += dx;
        top -= dy;
        bottom += dy;
    }
    void DeflateRect(int dx, int dy) { InflateRect(-dx, -dy); }
    bool IntersectRect(const RECT& a, const RECT& b) { return ::IntersectRect(this, &a, &b) != 0; }
    bool operator==(const CRect& o) const { return EqualRect(this, &o) != 0; }
    operator RECT*() { return this; }              // NOLINT
    operator const RECT*() const { return this; }  // NOLINT
};

class CGdiObject : public CObject {
public:
    CGdiObject() = default;
    CGdiObject(const CGdiObject&) = delete;
    CGdiObject& operator=(const CGdiObject&) = delete;
    ~CGdiObject() override { DeleteObject(); }

    HGDIOBJ m_hObject = nullptr;
    HGDIOBJ GetSafeHandle() const { return m_hObject; }
    bool Attach(HGDIOBJ object);
    HGDIOBJ Detach();
    bool DeleteObject();
    int GetObject(int size, void* out) const { return m_hObject ? ::GetObjectA(m_hObject, size, out) : 0; }
};

class CPen : public CGdiObject {
public:
    bool CreatePen(int style, int width, COLORREF colour) { return Attach(::CreatePen(style, width, colour)); }
    operator HPEN() const { return static_cast<HPEN>(m_hObject); }  // NOLINT
};

class CBrush : public CGdiObject {
public:
    CBrush() = default;
    explicit CBrush(COLORREF colour) { CreateSolidBrush(colour); }
    bool CreateSolidBrush(COLORREF colour) { return Attach(::CreateSolidBrush(colour)); }
    bool CreatePatternBrush(HBITMAP bitmap) { return Attach(::CreatePatternBrush(bitmap)); }
    operator HBRUSH() const { return static_cast<HBRUSH>(m_hObject); }  // NOLINT
};

class CFont : public CGdiObject {
public:
    bool CreateFontIndirect(const LOGFONTA* font) { return Attach(::CreateFontIndirectA(font)); }
    // Height in tenths of a point, converted to pixels at `dc`'s vertical resolution (the
    // screen's when null).
    bool CreatePointFont(int tenths, const char* face, HDC dc = nullptr);
    bool CreatePointFontIndirect(const LOGFONTA* font, HDC dc = nullptr);
    bool GetLogFont(LOGFONTA* out) const { return GetObject(sizeof *out, out) == sizeof *out; }
    operator HFONT() const { return static_cast<HFONT>(m_hObject); }  // NOLINT
};

class CBitmap : public CGdiObject {
public:
    // Bitmap resource `id` of the resource module; false (error in AfxGetResourceError)
    // when it is missing.
    bool LoadBitmap(UINT id);
    bool CreateCompatibleBitmap(HDC dc, int width, int height) {
        return Attach(::CreateCompatibleBitmap(dc, width, height));
    }
    bool GetBitmap(BITMAP* out) const { return GetObject(sizeof *out, out) == sizeof *out; }
    CSize GetSize() const;
    operator HBITMAP() const { return static_cast<HBITMAP>(m_hObject); }  // NOLINT
};

class CRgn : public CGdiObject {
public:
    bool CreateRectRgn(int l, int t, int r, int b) { return Attach(::CreateRectRgn(l, t, r, b)); }
    bool CreateRectRgnIndirect(const RECT& r) { return Attach(::CreateRectRgnIndirect(&r)); }
    bool CreateEllipticRgn(int l, int t, int r, int b) { return Attach(::CreateEllipticRgn(l, t, r, b)); }
    bool CreateRoundRectRgn(int l, int t, int r, int b, int w, int h) {
        return Attach(::CreateRoundRectRgn(l, t, r, b, w, h));
    }
    bool CreatePolygonRgn(const POINT* points, int count, int mode) {
        return Attach(::CreatePolygonRgn(points, count, mode));
    }
    int CombineRgn(HRGN a, HRGN b, int mode) { return ::CombineRgn(*this, a, b, mode); }
    bool PtInRegion(int x, int y) const { return ::PtInRegion(*this, x, y) != 0; }
    int OffsetRgn(int dx, int dy) { return ::OffsetRgn(*this, dx, dy); }
    operator HRGN() const { return static_cast<HRGN>(m_hObject); }  // NOLINT
};

class CWnd;

// A device context; owns the DC it created (memory DCs, CreateDC) and releases the DCs of
// the derived paint, client and window DCs; an attached DC is only borrowed.
class CDC : public CObject {
public:
    CDC() = default;
    CDC(const CDC&) = delete;
    CDC& operator=(const CDC&) = delete;
    ~CDC() override;

    HDC m_hDC = nullptr;
    operator HDC() const { return m_hDC; }  // NOLINT
    HDC GetSafeHdc() const { return m_hDC; }
    void Attach(HDC dc) {
        m_hDC = dc;
        owned_ = false;
    }
    HDC Detach() {
        HDC dc = m_hDC;
        m_hDC = nullptr;
        return dc;
    }
    bool CreateCompatibleDC(HDC other);
    bool CreateDC(const char* driver, const char* device = nullptr);
    bool DeleteDC();

    HGDIOBJ SelectObject(HGDIOBJ object) { return ::SelectObject(m_hDC, object); }
    HGDIOBJ SelectObject(const CGdiObject* object) { return ::SelectObject(m_hDC, object->m_hObject); }
    HGDIOBJ SelectStockObject(int index) { return ::SelectObject(m_hDC, GetStockObject(index)); }
    int SelectClipRgn(HRGN region) { return ::SelectClipRgn(m_hDC, region); }
    int GetDeviceCaps(int index) const { return ::GetDeviceCaps(m_hDC, index); }
    int SetBkMode(int mode) { return ::SetBkMode(m_hDC, mode); }
    COLORREF SetBkColor(COLORREF c) { return ::SetBkColor(m_hDC, c); }
    COLORREF SetTextColor(COLORREF c) { return ::SetTextColor(m_hDC, c); }
    bool BitBlt(int x, int y, int w, int h, HDC src, int sx, int sy, DWORD rop) {
        return ::BitBlt(m_hDC, x, y, w, h, src, sx, sy, rop) != 0;
    }
    bool StretchBlt(int x, int y, int w, int h, HDC src, int sx, int sy, int sw, int sh, DWORD rop) {
        return ::StretchBlt(m_hDC, x, y, w, h, src, sx, sy, sw, sh, rop) != 0;
    }
    void FillRect(const RECT& r, HBRUSH brush) { ::FillRect(m_hDC, &r, brush); }
    void FillSolidRect(const RECT& r, COLORREF colour);
    void FrameRect(const RECT& r, HBRUSH brush) { ::FrameRect(m_hDC, &r, brush); }
    bool Rectangle(int l, int t, int r, int b) { return ::Rectangle(m_hDC, l, t, r, b) != 0; }
    bool MoveTo(int x, int y) { return ::MoveToEx(m_hDC, x, y, nullptr) != 0; }
    bool LineTo(int x, int y) { return ::LineTo(m_hDC, x, y) != 0; }
    bool TextOut(int x, int y, const char* text, int length) { return ::TextOutA(m_hDC, x, y, text, length) != 0; }
    int DrawText(const char* text, int length, RECT* r, UINT format) {
        return ::DrawTextA(m_hDC, text, length, r, format);
    }
    CSize GetTextExtent(const char* text, int length) const;
    bool FillRgn(HRGN region, HBRUSH brush) { return ::FillRgn(m_hDC, region, brush) != 0; }
    int SaveDC() { return ::SaveDC(m_hDC); }
    bool RestoreDC(int saved) { return ::RestoreDC(m_hDC, saved) != 0; }

protected:
    bool owned_ = false;
};

// The DC of a WM_PAINT: BeginPaint on construction, EndPaint on destruction.
class CPaintDC : public CDC {
public:
    explicit CPaintDC(CWnd* wnd);
    ~CPaintDC() override;
    PAINTSTRUCT m_ps{};

private:
    HWND hwnd_;
};

// GetDC / GetWindowDC of a window, released on destruction.
class CClientDC : public CDC {
public:
    explicit CClientDC(CWnd* wnd);
    ~CClientDC() override;

protected:
    CClientDC(HWND hwnd, HDC dc) : hwnd_(hwnd) { Attach(dc); }
    HWND hwnd_;
};

class CWindowDC : public CClientDC {
public:
    explicit CWindowDC(CWnd* wnd);
};
