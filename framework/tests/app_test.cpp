// The application object: start-up failure, the message loop with idle processing,
// command routing from the frame to the application, update-UI of a menu from the
// resource library, and the PreTranslateMessage chain.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/framework.h"
#include "framework/tests/test_resources.h"
#include "framework/tests/window_helpers.h"

namespace {

std::vector<std::string> events;

class FailingApp : public CWinApp {
public:
    BOOL InitInstance() override {
        events.push_back("init");
        return FALSE;
    }
    int ExitInstance() override {
        events.push_back("exit");
        return 7;
    }
};

class TestFrame : public CFrameWnd {
public:
    KeyLoggingEdit edit;
    BOOL PreTranslateMessage(MSG* msg) override {
        if (msg->message == WM_KEYDOWN) events.push_back("pre:frame");
        return FALSE;
    }
    int OnCreate(LPCREATESTRUCTA cs) {
        if (CFrameWnd::OnCreate(cs) == -1) return -1;
        events.push_back("create");
        edit.log = &events;
        return edit.Create(WS_CHILD | WS_VISIBLE | WS_BORDER, CRect(10, 10, 200, 40), this, 77) ? 0 : -1;
    }
    void OnOpen() { events.push_back("cmd:open"); }
    void OnView(UINT id) { events.push_back("cmd:view " + std::to_string(id)); }
    void OnUpdateOpen(CCmdUI* ui) {
        events.push_back("ui:open");
        ui->Enable(TRUE);
    }
    void OnUpdateView(CCmdUI* ui) {
        events.push_back("ui:view " + std::to_string(ui->m_nID));
        ui->Enable(ui->m_nID != ID_VIEW_THIRD);
    }
    void OnUpdateChecked(CCmdUI* ui) {
        events.push_back("ui:checked");
        ui->SetCheck(1);
    }
    DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(TestFrame, CFrameWnd)
ON_WM_CREATE()
ON_COMMAND(ID_FILE_OPEN_ITEM, OnOpen)
ON_COMMAND_RANGE(ID_VIEW_FIRST, ID_VIEW_THIRD, OnView)
ON_UPDATE_COMMAND_UI(ID_FILE_OPEN_ITEM, OnUpdateOpen)
ON_UPDATE_COMMAND_UI_RANGE(ID_VIEW_FIRST, ID_VIEW_THIRD, OnUpdateView)
ON_UPDATE_COMMAND_UI(ID_CHECKED_ITEM, OnUpdateChecked)
END_MESSAGE_MAP()

class RunningApp : public CWinApp {
public:
    explicit RunningApp(const char* name) : CWinApp(name) {}
    TestFrame* frame = nullptr;
    bool close_posted = false;
    UINT menu_states[7] = {};

    BOOL InitInstance() override {
        events.push_back("init");
        frame = new TestFrame;
        if (!frame->Create(nullptr, "Frame test", WS_OVERLAPPEDWINDOW | WS_VISIBLE, CRect(50, 50, 450, 300), nullptr,
                           IDR_TEST_MENU)) {
            delete frame;
            return FALSE;
        }
        m_pMainWnd = frame;
        frame->edit.SetFocus();
        frame->PostMessage(WM_COMMAND, ID_FILE_OPEN_ITEM);
        frame->PostMessage(WM_COMMAND, ID_VIEW_SECOND);
        frame->PostMessage(WM_COMMAND, ID_CHECKED_ITEM);  // handled by the application
        frame->PostMessage(WM_COMMAND, ID_UNHANDLED);     // handled by nobody
        frame->PostMessage(WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(GetSubMenu(GetMenu(*frame), 0)), 0);
        frame->edit.PostMessage(WM_KEYDOWN, 'Q', 1);
        return TRUE;
    }
    BOOL PreTranslateMessage(MSG* msg) override {
        if (CWinApp::PreTranslateMessage(msg)) return TRUE;
        if (msg->message == WM_KEYDOWN) events.push_back("pre:app");
        return FALSE;
    }
    BOOL OnIdle(LONG count) override {
        const BOOL more = CWinApp::OnIdle(count);
        if (!close_posted && count == 0) {
            events.push_back("idle");
            HMENU popup = GetSubMenu(GetMenu(*frame), 0);
            for (int i = 0; i < 7; ++i)
                menu_states[i] = GetMenuState(popup, static_cast<UINT>(i), MF_BYPOSITION);
            close_posted = true;
            frame->PostMessage(WM_CLOSE);
        }
        return more;
    }
    int ExitInstance() override {
        events.push_back("exit");
        return CWinApp::ExitInstance();
    }
    void OnChecked() { events.push_back("app:checked"); }
    DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(RunningApp, CWinApp)
ON_COMMAND(ID_CHECKED_ITEM, OnChecked)
END_MESSAGE_MAP()

}  // namespace

TEST(AppTest, ExitInstanceRunsAfterAFailedInitInstance) {
    events.clear();
    FailingApp app;
    EXPECT_EQ(AfxWinMain(nullptr, "--test", SW_SHOW), 7);
    EXPECT_EQ(events, (std::vector<std::string>{"init", "exit"}));
    EXPECT_STREQ(app.m_lpCmdLine, "--test");
}

using AppRunTest = TestResources;

TEST_F(AppRunTest, FrameRoutesCommandsUpdatesMenuAndEndsTheLoop) {
    events.clear();
    RunningApp app("Framework test");
    EXPECT_EQ(AfxWinMain(nullptr, "", SW_SHOW), 0);
    EXPECT_EQ(app.m_pMainWnd, nullptr);  // the frame went with its window
    const std::vector<std::string> want{"init", "create", "cmd:open", "cmd:view 403", "app:checked",
                                        // WM_INITMENUPOPUP: the items in menu order; 405 has no handler and 406 only an
                                        // update handler in the frame.
                                        "ui:open", "ui:view 402", "ui:view 403", "ui:view 404", "ui:checked",
                                        // The key reaches the focused edit's PreTranslateMessage first, then its
                                        // parent's, then the application's, and only then the edit itself.
                                        "pre:edit", "pre:frame", "pre:app", "keydown:81", "idle", "exit"};
    EXPECT_EQ(events, want);
    // Menu positions: 0 open, 1 separator, 2-4 views, 5 unhandled, 6 checked.
    EXPECT_FALSE(app.menu_states[0] & MF_GRAYED);
    EXPECT_FALSE(app.menu_states[2] & MF_GRAYED);
    EXPECT_TRUE(app.menu_states[4] & MF_GRAYED);   // disabled by its update handler
    EXPECT_TRUE(app.menu_states[5] & MF_GRAYED);   // no command handler anywhere
    EXPECT_FALSE(app.menu_states[6] & MF_GRAYED);  // the application handles its command
    EXPECT_TRUE(app.menu_states[6] & MF_CHECKED);
}
