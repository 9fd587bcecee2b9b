#include "app/splash_about.h"

#include <commctrl.h>

#include <vector>

#include "app/skin/bitmap_region.h"
#include "app/gxt_frame.h"
#include "app/resources/resource_ids.h"
#include "app/services/reg_value.h"
#include "app/skin/skin_images.h"

namespace {

constexpr COLORREF kSplashKey = RGB(255, 0, 255);
constexpr const char kFilterFolder[] = "C:\\Program Files\\Common Files\\Kestrune\\";
constexpr const char kEncoderFilter[] = "Ombrisk.ax";
constexpr int kMaxFilterVersion = 63;

// The version block of a file, empty when it has none.
std::vector<char> ReadVersionBlock(const char* path) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path, &ignored);
    std::vector<char> block;
    if (size == 0) return block;
    block.resize(size);
    if (!GetFileVersionInfoA(path, 0, size, block.data())) block.clear();
    return block;
}

// A string of the block, bounded by the length the block gives for it.
CString QueryString(std::vector<char>& block, const char* key) {
    char* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), key, reinterpret_cast<void**>(&value), &length) || !value || length == 0)
        return CString();
    size_t n = 0;
    while (n < length && value[n])
        ++n;
    return CString(value, static_cast<int>(n));
}

}  // namespace

HRGN BitmapToRowRegion(HBITMAP bitmap, COLORREF key) {
    int w = 0, h = 0;
    std::vector<DWORD> px;
    if (!ReadBitmapPixels(bitmap, &w, &h, &px)) return nullptr;
    const DWORD k = (static_cast<DWORD>(GetRValue(key)) << 16) | (GetGValue(key) << 8) | GetBValue(key);
    HRGN region = CreateRectRgn(0, 0, 0, 0);
    for (int y = 0; y < h; ++y) {
        const DWORD* row = &px[static_cast<size_t>(y) * w];
        int first = -1, last = -1;
        for (int x = 0; x < w; ++x)
            if (row[x] != k) {
                if (first < 0) first = x;
                last = x;
            }
        if (first < 0 || last == first) continue;  // fewer than two opaque pixels
        HRGN span = CreateRectRgn(first, y, last + 1, y + 1);
        CombineRgn(region, region, span, RGN_OR);
        DeleteObject(span);
    }
    return region;
}

int GetFileProductVersion(CString& out, const char* path) {
    out = "";
    char own[MAX_PATH] = {};
    if (!path) {
        if (!GetModuleFileNameA(nullptr, own, MAX_PATH)) return 0;
        path = own;
    }
    std::vector<char> block = ReadVersionBlock(path);
    if (block.empty()) return 0;
    struct Translation {
        WORD language, codePage;
    }* translation = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length) ||
        !translation || length < sizeof *translation)
        return 0;
    char key[64];
    wsprintfA(key, "\\StringFileInfo\\%04x%04x\\ProductVersion", translation->language, translation->codePage);
    const CString value = QueryString(block, key);
    if (value.IsEmpty()) return 0;
    out = value;
    return 1;
}

CString GetFileVersionString(const char* path) {
    std::vector<char> block = ReadVersionBlock(path);
    if (block.empty()) return CString();
    CString value = QueryString(block, "\\StringFileInfo\\040904b0\\FileVersion");
    if (value.GetLength() > kMaxFilterVersion) value = CString(value.c_str(), kMaxFilterVersion);
    return value;
}

CString GetFilterFileVersion(const char* name) {
    return GetFileVersionString((std::string(kFilterFolder) + name).c_str());
}

BEGIN_MESSAGE_MAP(CSplashWnd, CDialog)
ON_WM_PAINT()
END_MESSAGE_MAP()

CSplashWnd::CSplashWnd(CWnd* parent) : CDialog(IDD_SPLASH, parent) {}

CSplashWnd::~CSplashWnd() = default;

BOOL CSplashWnd::OnInitDialog() {
    CDialog::OnInitDialog();
    if (!picture_.Attach(LoadSkinBitmap("VistrelSplash_NoAC3.BMP"))) return FALSE;
    const CSize size = picture_.GetSize();
    width_ = size.cx;
    height_ = size.cy;
    HRGN region = BitmapToRowRegion(picture_, kSplashKey);
    MoveWindow(0, 0, width_, height_, FALSE);
    if (region) SetWindowRgn(m_hWnd, region, TRUE);  // the window owns it now
    CenterWindow();
    return TRUE;
}

void CSplashWnd::SetStatusText(const char* text) {
    status_ = text;
    InvalidateRect(nullptr, FALSE);
    UpdateWindow();
}

void CSplashWnd::OnPaint() {
    CPaintDC dc(this);
    if (!picture_.m_hObject) return;
    CDC source;
    source.CreateCompatibleDC(dc);
    HGDIOBJ old = source.SelectObject(&picture_);
    dc.BitBlt(0, 0, width_, height_, source, 0, 0, SRCCOPY);
    source.SelectObject(old);
}

BEGIN_MESSAGE_MAP(CAboutDlg, CGDialog)
ON_WM_PAINT()
ON_WM_CTLCOLOR()
ON_MESSAGE(WM_RBUTTONUP, OnRButtonUp)
END_MESSAGE_MAP()

CAboutDlg::CAboutDlg(CWnd* parent) : CGDialog(IDD_ABOUT, parent) {}

BOOL CAboutDlg::OnInitDialog() {
    CGDialog::OnInitDialog();
    tooltip_ = CreateWindowExA(0, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
                               CW_USEDEFAULT, CW_USEDEFAULT, m_hWnd, nullptr, nullptr, nullptr);
    if (picture_.LoadBitmap(IDB_ABOUT)) {
        const CSize size = picture_.GetSize();
        width_ = size.cx;
        height_ = size.cy;
        CWindowDC windowDc(this);
        memory_.CreateCompatibleDC(windowDc);
        oldBitmap_ = memory_.SelectObject(&picture_);
        memory_.SetBkMode(TRANSPARENT);
        memory_.SetTextColor(RGB(255, 255, 255));
    }
    MoveWindow(0, 0, width_ + 2 * GetFrameMetrics(SM_CXFRAME) - 2,
               height_ + GetFrameMetrics(SM_CYFRAME) + GetFrameMetrics(SM_CYCAPTION) + 1, FALSE);
    CenterWindow();
    GetFileProductVersion(version_, nullptr);
    CRegStringValue build(HKEY_LOCAL_MACHINE, "Software\\Corvane\\Vistrel\\1.0\\BuildInfo", "SR_No", 0);
    build_ = build.Read() ? CString(build.GetString()) : CString();
    filterVersion_ = GetFilterFileVersion(kEncoderFilter);
    return TRUE;
}

CString CAboutDlg::GetVersionLine() const {
    CString line = version_;
    line += "  ";
    line += build_;
    return line;
}

BOOL CAboutDlg::PreTranslateMessage(MSG* msg) {
    if (tooltip_ && ::IsWindow(tooltip_)) ::SendMessageA(tooltip_, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(msg));
    return CGDialog::PreTranslateMessage(msg);
}

BOOL CAboutDlg::DestroyWindow() {
    if (tooltip_ && ::IsWindow(tooltip_)) ::DestroyWindow(tooltip_);
    tooltip_ = nullptr;
    if (memory_.m_hDC && oldBitmap_) memory_.SelectObject(oldBitmap_);
    oldBitmap_ = nullptr;
    memory_.DeleteDC();
    return CGDialog::DestroyWindow();
}

void CAboutDlg::OnPaint() {
    CPaintDC dc(this);
    if (!memory_.m_hDC) return;
    // The texts go onto the kept picture itself, redrawn at every paint, in the picture's
    // version band (rows 303-318).
    const CString left = GetVersionLine();
    CRect leftRect(5, 303, 355, 318);
    memory_.DrawText(left, -1, &leftRect, DT_LEFT | DT_TOP);
    CRect rightRect(width_ - 350, 303, width_, 318);
    memory_.DrawText(filterLine_, -1, &rightRect, DT_RIGHT);
    dc.BitBlt(0, 0, width_, height_, memory_, 0, 0, SRCCOPY);
}

HBRUSH CAboutDlg::OnCtlColor(CDC* dc, CWnd* control, UINT type) {
    if (type == CTLCOLOR_DLG) return static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
    (void)dc;
    (void)control;
    return reinterpret_cast<HBRUSH>(Default());
}

LRESULT CAboutDlg::OnRButtonUp(WPARAM, LPARAM) {
    Default();
    CString line = kEncoderFilter;
    line += ": ";
    line += filterVersion_.IsEmpty() ? CString("Not available") : filterVersion_;
    filterLine_ = line;
    RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    return 0;
}
