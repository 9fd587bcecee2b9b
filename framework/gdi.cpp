#include "framework/gdi.h"

#include "framework/resources.h"
#include "framework/wnd.h"

bool CGdiObject::Attach(HGDIOBJ object) {
    DeleteObject();
    m_hObject = object;
    return object != nullptr;
}

HGDIOBJ CGdiObject::Detach() {
    HGDIOBJ object = m_hObject;
    m_hObject = nullptr;
    return object;
}

bool CGdiObject::DeleteObject() {
    if (!m_hObject) return false;
    const bool done = ::DeleteObject(m_hObject) != 0;
    m_hObject = nullptr;
    return done;
}

namespace {

// Tenths of a point to a (negative, character-height) logical height at the DC's
// vertical resolution: pixels = tenths * LOGPIXELSY / 720.
LONG PointHeight(LONG tenths, HDC dc) {
    HDC screen = dc ? nullptr : GetDC(nullptr);
    const int dpi = GetDeviceCaps(dc ? dc : screen, LOGPIXELSY);
    if (screen) ReleaseDC(nullptr, screen);
    return -MulDiv(tenths < 0 ? -tenths : tenths, dpi, 720);
}

}  // namespace

bool CFont::CreatePointFont(int tenths, const char* face, HDC dc) {
    LOGFONTA font{};
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfHeight = tenths;
    lstrcpynA(font.lfFaceName, face ? face : "", LF_FACESIZE);
    return CreatePointFontIndirect(&font, dc);
}

bool CFont::CreatePointFontIndirect(const LOGFONTA* font, HDC dc) {
    LOGFONTA copy = *font;
    copy.lfHeight = PointHeight(font->lfHeight, dc);
    return CreateFontIndirect(&copy);
}

bool CBitmap::LoadBitmap(UINT id) {
    HBITMAP bitmap = LoadBitmapA(AfxGetResourceHandle(), MAKEINTRESOURCEA(id));
    if (!bitmap) {
        AfxSetResourceError("bitmap", id);
        return false;
    }
    AfxClearResourceError();
    return Attach(bitmap);
}

CSize CBitmap::GetSize() const {
    BITMAP bm{};
    return GetBitmap(&bm) ? CSize(bm.bmWidth, bm.bmHeight) : CSize();
}

CDC::~CDC() {
    DeleteDC();
}

bool CDC::CreateCompatibleDC(HDC other) {
    DeleteDC();
    m_hDC = ::CreateCompatibleDC(other);
    owned_ = m_hDC != nullptr;
    return owned_;
}

bool CDC::CreateDC(const char* driver, const char* device) {
    DeleteDC();
    m_hDC = ::CreateDCA(driver, device, nullptr, nullptr);
    owned_ = m_hDC != nullptr;
    return owned_;
}

bool CDC::DeleteDC() {
    if (!m_hDC || !owned_) return false;
    ::DeleteDC(m_hDC);
    m_hDC = nullptr;
    owned_ = false;
    return true;
}

void CDC::FillSolidRect(const RECT& r, COLORREF colour) {
    const COLORREF old = ::SetBkColor(m_hDC, colour);
    ::ExtTextOutA(m_hDC, 0, 0, ETO_OPAQUE, &r, nullptr, 0, nullptr);
    ::SetBkColor(m_hDC, old);
}

CSize CDC::GetTextExtent(const char* text, int length) const {
    SIZE size{};
    GetTextExtentPoint32A(m_hDC, text, length, &size);
    return CSize(size.cx, size.cy);
}

CPaintDC::CPaintDC(CWnd* wnd) : hwnd_(wnd->m_hWnd) {
    Attach(BeginPaint(hwnd_, &m_ps));
}

CPaintDC::~CPaintDC() {
    EndPaint(hwnd_, &m_ps);
    Detach();
}

CClientDC::CClientDC(CWnd* wnd) : hwnd_(wnd ? wnd->m_hWnd : nullptr) {
    Attach(GetDC(hwnd_));
}

CClientDC::~CClientDC() {
    if (m_hDC) ReleaseDC(hwnd_, Detach());
}

CWindowDC::CWindowDC(CWnd* wnd) : CClientDC(wnd ? wnd->m_hWnd : nullptr, GetWindowDC(wnd ? wnd->m_hWnd : nullptr)) {}
