// The HTML view: the system browser activated in place inside the view, following its
// size, keys offered to the browser before the view's dialog keys, mouse activation that
// a derived view swallows, every reference let go on destruction, and a clear failure
// when the browser cannot be made on the calling thread.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "framework/framework.h"
#include "framework/tests/window_helpers.h"

namespace {

std::vector<std::string> html_log;

// The rectangle of `child` in the client coordinates of `parent`.
RECT RectIn(HWND parent, HWND child) {
    RECT r{};
    ::GetWindowRect(child, &r);
    ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

bool SameRect(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

std::string Text(const RECT& r) {
    char text[64];
    std::snprintf(text, sizeof text, "(%ld,%ld)-(%ld,%ld)", r.left, r.top, r.right, r.bottom);
    return text;
}

// A view that refuses activation by a right-button press and swallows the press.
class SwallowingView : public CHtmlView {
public:
    int OnMouseActivate(CWnd* topLevel, UINT hitTest, UINT mouseMessage) {
        html_log.push_back("activate:" + std::to_string(mouseMessage));
        if (mouseMessage == WM_RBUTTONDOWN) return MA_NOACTIVATEANDEAT;
        return CHtmlView::OnMouseActivate(topLevel, hitTest, mouseMessage);
    }
    DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(SwallowingView, CHtmlView)
ON_WM_MOUSEACTIVATE()
END_MESSAGE_MAP()

struct HtmlViewTest : ::testing::Test {
    CWnd parent;
    void SetUp() override {
        html_log.clear();
        ASSERT_TRUE(parent.CreateEx(0, nullptr, "html host", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN,
                                    CRect(40, 40, 460, 340), nullptr, 0));
    }
};

// The browser's in-place active object, watched: its TranslateAccelerator is replaced in
// this one object's interface table by a recorder that answers S_OK (taken) for F5 and
// asks the real browser otherwise. The table is put back before the object goes.
using TranslateFn = HRESULT(STDMETHODCALLTYPE*)(IOleInPlaceActiveObject*, MSG*);
constexpr int kTranslateSlot = 5;  // IUnknown (3), IOleWindow (2), then TranslateAccelerator
constexpr int kActiveObjectSlots = 10;
TranslateFn real_translate = nullptr;

HRESULT STDMETHODCALLTYPE RecordingTranslate(IOleInPlaceActiveObject* self, MSG* msg) {
    html_log.push_back("browser:" + std::to_string(msg->message) + ":" + std::to_string(msg->wParam));
    if (msg->message == WM_KEYDOWN && msg->wParam == VK_F5) return S_OK;
    return real_translate(self, msg);
}

struct WatchedActiveObject {
    IOleInPlaceActiveObject* object = nullptr;
    void** original = nullptr;
    void* patched[kActiveObjectSlots] = {};
    explicit WatchedActiveObject(IWebBrowser2* browser) {
        if (FAILED(browser->QueryInterface(IID_IOleInPlaceActiveObject, reinterpret_cast<void**>(&object)))) return;
        original = *reinterpret_cast<void***>(object);
        for (int i = 0; i < kActiveObjectSlots; ++i)
            patched[i] = original[i];
        real_translate = reinterpret_cast<TranslateFn>(original[kTranslateSlot]);
        patched[kTranslateSlot] = reinterpret_cast<void*>(&RecordingTranslate);
        *reinterpret_cast<void***>(object) = patched;
    }
    ~WatchedActiveObject() {
        if (!object) return;
        *reinterpret_cast<void***>(object) = original;
        object->Release();
    }
};

// The reference count of `unknown` as it stands (one AddRef and its Release).
ULONG RefCount(IUnknown* unknown) {
    unknown->AddRef();
    return unknown->Release();
}

}  // namespace

TEST_F(HtmlViewTest, BrowserIsActivatedInPlaceAndFollowsTheView) {
    CHtmlView view;
    EXPECT_EQ(view.Navigate2("about:blank"), E_UNEXPECTED);  // no browser before Create
    EXPECT_EQ(view.SetRegisterAsDropTarget(FALSE), E_UNEXPECTED);
    // A red view on a green host: what covers the view on screen is the browser's own
    // window. The classes keep their brushes for the life of the process.
    static const CBrush green(RGB(0, 255, 0)), red(RGB(255, 0, 0));
    CWnd host;
    ASSERT_TRUE(host.CreateEx(0, AfxRegisterWndClass(0, LoadCursor(nullptr, IDC_ARROW), green), "html host",
                              WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, CRect(40, 40, 460, 340), nullptr, 0));
    parent.ShowWindow(SW_HIDE);
    ASSERT_TRUE(view.Create(AfxRegisterWndClass(0, LoadCursor(nullptr, IDC_ARROW), red), nullptr, WS_CHILD | WS_VISIBLE,
                            CRect(10, 20, 310, 220), &host, 0xE900))
        << std::hex << view.GetCreateError();
    EXPECT_EQ(view.GetDlgCtrlID(), 0xE900);
    ASSERT_NE(view.GetBrowser(), nullptr);
    HWND browser_window = view.GetBrowserWindow();
    ASSERT_NE(browser_window, nullptr);
    EXPECT_EQ(::GetParent(browser_window), view.m_hWnd);
    EXPECT_TRUE(::IsWindowVisible(browser_window));
    EXPECT_TRUE(SameRect(RectIn(view, browser_window), RECT{0, 0, 300, 200})) << Text(RectIn(view, browser_window));

    // The automation interface answers. (Wine's getter reads FALSE whatever was put.)
    IWebBrowser2* browser = view.GetBrowser();
    VARIANT_BOOL drop = VARIANT_TRUE;
    ASSERT_EQ(view.SetRegisterAsDropTarget(FALSE), S_OK);
    ASSERT_EQ(browser->get_RegisterAsDropTarget(&drop), S_OK);
    EXPECT_EQ(drop, VARIANT_FALSE);

    // The browser fills the view as it is resized; a derived view can still move it
    // outside its client area (2 pixels up and left hides the browser's border).
    view.MoveWindow(10, 20, 200, 120);
    EXPECT_TRUE(SameRect(RectIn(view, browser_window), RECT{0, 0, 200, 120})) << Text(RectIn(view, browser_window));
    ::MoveWindow(browser_window, -2, -2, 204, 124, TRUE);
    EXPECT_TRUE(SameRect(RectIn(view, browser_window), RECT{-2, -2, 202, 122})) << Text(RectIn(view, browser_window));
    view.MoveWindow(10, 20, 400, 260);
    EXPECT_TRUE(SameRect(RectIn(view, browser_window), RECT{0, 0, 400, 260})) << Text(RectIn(view, browser_window));

    // Navigation of a local file is accepted by the browser; with the page engine missing
    // the page itself never loads, so the view stays the browser's plain window.
    char folder[MAX_PATH];
    ASSERT_NE(GetTempPathA(MAX_PATH, folder), 0u);
    const std::string page = std::string(folder) + "framework_html_view.html";
    FILE* file = std::fopen(page.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fputs("<html><body bgcolor=\"#FF0000\">red</body></html>", file);
    std::fclose(file);
    const HRESULT navigated = view.Navigate2(page.c_str());
    std::printf("Navigate2(local file) = 0x%08lx\n", static_cast<unsigned long>(navigated));
    EXPECT_EQ(navigated, S_OK);
    PumpFor(500);
    ASSERT_TRUE(testsupport::CaptureScreen("framework_html_view.png"));
    RECT on_screen{};
    ::GetWindowRect(browser_window, &on_screen);
    testsupport::Rgb centre, corner, beside;
    ASSERT_TRUE(testsupport::PixelAt("framework_html_view.png", (on_screen.left + on_screen.right) / 2,
                                     (on_screen.top + on_screen.bottom) / 2, &centre));
    ASSERT_TRUE(testsupport::PixelAt("framework_html_view.png", on_screen.right - 3, on_screen.bottom - 3, &corner));
    ASSERT_TRUE(testsupport::PixelAt("framework_html_view.png", on_screen.right + 4, on_screen.top + 10, &beside));
    const testsupport::Rgb kRed{255, 0, 0}, kGreen{0, 255, 0};
    EXPECT_EQ(beside, kGreen);
    for (const testsupport::Rgb& covered : {centre, corner}) {
        EXPECT_NE(covered, kRed) << "the view shows through where the browser should be";
        EXPECT_NE(covered, kGreen);
    }
    ::DeleteFileA(page.c_str());
}

TEST_F(HtmlViewTest, KeysGoToTheBrowserBeforeTheViewsDialogKeys) {
    CHtmlView view;
    ASSERT_TRUE(view.Create(nullptr, nullptr, WS_CHILD | WS_VISIBLE, CRect(0, 0, 300, 200), &parent, 0xE900))
        << std::hex << view.GetCreateError();
    KeyLoggingEdit edit;  // a child of the view beside the browser, holding the focus
    edit.log = &html_log;
    ASSERT_TRUE(edit.Create(WS_CHILD | WS_VISIBLE | WS_TABSTOP, CRect(0, 0, 80, 20), &view, 100));
    edit.SetFocus();
    WatchedActiveObject watched(view.GetBrowser());
    ASSERT_NE(watched.object, nullptr);

    struct Case {
        UINT key;
        std::vector<std::string> want;
    };
    const Case cases[] = {
        // Not the browser's: the view's dialog-key handling delivers it to the edit.
        {'A', {"pre:edit", "browser:256:65", "keydown:65"}},
        // Taken by the browser: nobody else sees it.
        {VK_F5, {"pre:edit", "browser:256:116"}},
    };
    for (const Case& c : cases) {
        html_log.clear();
        MSG msg{edit.m_hWnd, WM_KEYDOWN, c.key, 1, GetTickCount(), {0, 0}};
        if (!AfxWalkPreTranslateTree(&msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        EXPECT_EQ(html_log, c.want) << "key " << c.key;
    }
    // Other messages are not offered to the browser.
    html_log.clear();
    MSG paint{edit.m_hWnd, WM_NULL, 0, 0, GetTickCount(), {0, 0}};
    EXPECT_FALSE(view.PreTranslateMessage(&paint));
    EXPECT_TRUE(html_log.empty());
}

TEST_F(HtmlViewTest, ARightButtonPressIsSwallowedWhenTheViewSaysSo) {
    // The plain view lets the press through to the browser; the derived one eats it.
    struct Case {
        bool swallow;
        bool want_press;
    };
    for (const Case c : {Case{false, true}, Case{true, false}}) {
        html_log.clear();
        CHtmlView plain;
        SwallowingView swallowing;
        CHtmlView& view = c.swallow ? swallowing : plain;
        ASSERT_TRUE(view.Create(nullptr, nullptr, WS_CHILD | WS_VISIBLE, CRect(0, 0, 300, 200), &parent, 0xE900))
            << std::hex << view.GetCreateError();
        ::SetForegroundWindow(parent);
        PumpFor(100);
        RECT r{};
        ::GetWindowRect(view.GetBrowserWindow(), &r);
        ::SetCursorPos((r.left + r.right) / 2, (r.top + r.bottom) / 2);
        INPUT press[2] = {};
        press[0].type = press[1].type = INPUT_MOUSE;
        press[0].mi.dwFlags = MOUSEEVENTF_RIGHTDOWN;
        press[1].mi.dwFlags = MOUSEEVENTF_RIGHTUP;
        ASSERT_EQ(SendInput(2, press, sizeof(INPUT)), 2u);
        bool pressed = false;
        const DWORD end = GetTickCount() + 500;
        while (static_cast<LONG>(end - GetTickCount()) > 0) {
            MSG msg;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (msg.message == WM_RBUTTONDOWN && (msg.hwnd == view.m_hWnd || ::IsChild(view, msg.hwnd)))
                    pressed = true;
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
            Sleep(10);
        }
        EXPECT_EQ(pressed, c.want_press) << (c.swallow ? "swallowing view" : "plain view");
        if (c.swallow) {
            EXPECT_EQ(html_log, (std::vector<std::string>{"activate:516"}));
        }
        view.DestroyWindow();
    }
}

TEST_F(HtmlViewTest, DestructionReleasesTheBrowserAndTheSite) {
    // Each way a view goes: its own DestroyWindow, its parent's destruction, its object's end.
    enum class End { DestroyView, DestroyParent, DeleteObject };
    for (End end : {End::DestroyView, End::DestroyParent, End::DeleteObject}) {
        CWnd host;
        ASSERT_TRUE(host.CreateEx(0, nullptr, "host", WS_POPUP | WS_VISIBLE, CRect(0, 0, 200, 200), nullptr, 0));
        auto* view = new CHtmlView;
        ASSERT_TRUE(view->Create(nullptr, nullptr, WS_CHILD | WS_VISIBLE, CRect(0, 0, 100, 100), &host, 1))
            << std::hex << view->GetCreateError();
        EXPECT_EQ(CHtmlView::LiveSiteObjects(), 1);
        IWebBrowser2* browser = view->GetBrowser();
        browser->AddRef();  // kept past the view to read its count at the end
        HWND browser_window = view->GetBrowserWindow();
        EXPECT_GE(RefCount(browser), 2u);
        switch (end) {
            case End::DestroyView:
                view->DestroyWindow();
                break;
            case End::DestroyParent:
                host.DestroyWindow();
                break;
            case End::DeleteObject:
                delete view;
                view = nullptr;
                break;
        }
        EXPECT_EQ(CHtmlView::LiveSiteObjects(), 0) << static_cast<int>(end);
        EXPECT_FALSE(::IsWindow(browser_window));
        if (view) {
            EXPECT_EQ(view->GetBrowser(), nullptr);
            EXPECT_EQ(view->m_hWnd, nullptr);
            delete view;
        }
        EXPECT_EQ(browser->Release(), 0u) << "the view left references behind, end " << static_cast<int>(end);
    }
}

namespace {

struct MtaAttempt {
    BOOL created = TRUE;
    HRESULT error = S_OK;
    HWND window = reinterpret_cast<HWND>(1);
};

DWORD WINAPI CreateInMultithreadedApartment(void* param) {
    auto* attempt = static_cast<MtaAttempt*>(param);
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    {
        CWnd host;
        host.CreateEx(0, nullptr, "mta host", WS_POPUP, CRect(0, 0, 100, 100), nullptr, 0);
        CHtmlView view;
        attempt->created = view.Create(nullptr, nullptr, WS_CHILD, CRect(0, 0, 50, 50), &host, 1);
        attempt->error = view.GetCreateError();
        attempt->window = view.m_hWnd;
    }
    CoUninitialize();
    return 0;
}

}  // namespace

TEST(HtmlViewFailure, CreateFailsClearlyWhereOleCannotStart) {
    // In-place activation needs a single-threaded apartment: a thread already in the
    // multithreaded one gets a failure from Create, no window and no site left behind.
    MtaAttempt attempt;
    HANDLE thread = CreateThread(nullptr, 0, CreateInMultithreadedApartment, &attempt, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitForSingleObject(thread, 30000), WAIT_OBJECT_0);
    CloseHandle(thread);
    EXPECT_FALSE(attempt.created);
    EXPECT_EQ(attempt.error, RPC_E_CHANGED_MODE);
    EXPECT_EQ(attempt.window, nullptr);
    EXPECT_EQ(CHtmlView::LiveSiteObjects(), 0);
}
