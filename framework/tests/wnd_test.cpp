// Windows: notification and colour reflection, registered messages, subclassing of an
// existing window, creation of a control by registered class name, and a worker thread
// driving a window through the handle map.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "framework/framework.h"
#include "framework/tests/window_helpers.h"

namespace {

constexpr UINT kCustomNotify = 6077;  // a private notification code
constexpr int kChildId = 1001;
const UINT kRegisteredMessage = RegisterWindowMessageA("FrameworkTestRegistered");

std::vector<std::string> log_lines;

// A control that takes back its own click notification and its colouring.
class ReflectingStatic : public CStatic {
    DECLARE_DYNCREATE(ReflectingStatic)

public:
    CBrush red{RGB(255, 0, 0)};
    void OnReflectedCustom(NMHDR* header, LRESULT* result) {
        log_lines.push_back("child:custom " + std::to_string(header->idFrom));
        *result = 42;
    }
    void OnReflectedClicked() { log_lines.push_back("child:clicked"); }
    HBRUSH CtlColor(CDC* dc, UINT type) {
        log_lines.push_back("child:ctlcolor " + std::to_string(type));
        dc->SetBkMode(TRANSPARENT);
        return red;
    }
    DECLARE_MESSAGE_MAP()
};
IMPLEMENT_DYNCREATE(ReflectingStatic, CStatic)
BEGIN_MESSAGE_MAP(ReflectingStatic, CStatic)
ON_NOTIFY_REFLECT(kCustomNotify, OnReflectedCustom)
ON_CONTROL_REFLECT(STN_CLICKED, OnReflectedClicked)
ON_WM_CTLCOLOR_REFLECT()
END_MESSAGE_MAP()

class ParentWnd : public CWnd {
public:
    void OnChildEvent(NMHDR* header, LRESULT* result) {
        log_lines.push_back("parent:notify " + std::to_string(static_cast<int>(header->code)));
        *result = 7;
    }
    void OnRangeNotify(UINT id, NMHDR*, LRESULT*) { log_lines.push_back("parent:range " + std::to_string(id)); }
    void OnChildClicked() { log_lines.push_back("parent:clicked"); }
    LRESULT OnRegistered(WPARAM wp, LPARAM lp) { return static_cast<LRESULT>(wp + lp); }
    LRESULT OnApp(WPARAM wp, LPARAM) {
        log_lines.push_back("app " + std::to_string(wp) +
                            (GetCurrentThreadId() == ui_thread ? " on ui" : " elsewhere"));
        return 0;
    }
    LRESULT OnAppQuery(WPARAM wp, LPARAM) { return static_cast<LRESULT>(wp * 2); }
    DWORD ui_thread = GetCurrentThreadId();
    DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(ParentWnd, CWnd)
ON_NOTIFY(NM_CLICK, kChildId, OnChildEvent)
ON_NOTIFY(kCustomNotify, kChildId, OnChildEvent)
ON_NOTIFY_RANGE(NM_DBLCLK, 2000, 2010, OnRangeNotify)
ON_CONTROL(STN_CLICKED, kChildId + 1, OnChildClicked)
ON_REGISTERED_MESSAGE(kRegisteredMessage, OnRegistered)
ON_MESSAGE(WM_APP, OnApp)
ON_MESSAGE(WM_APP + 1, OnAppQuery)
END_MESSAGE_MAP()

LRESULT SendNotify(CWnd& parent, HWND from, UINT_PTR id, UINT code) {
    NMHDR header{from, id, code};
    return parent.SendMessage(WM_NOTIFY, id, reinterpret_cast<LPARAM>(&header));
}

struct WindowsFixture : ::testing::Test {
    ParentWnd parent;
    void SetUp() override {
        log_lines.clear();
        ASSERT_TRUE(parent.CreateEx(0, nullptr, "parent", WS_POPUP | WS_VISIBLE, CRect(10, 10, 310, 210), nullptr, 0));
    }
};

}  // namespace

TEST_F(WindowsFixture, NotificationsAreReflectedToTheControlThatSentThem) {
    // The control is created by its registered class name, as the skin factory does.
    CObject* made = CRuntimeClass::CreateObject("ReflectingStatic");
    ASSERT_NE(made, nullptr);
    auto* child = static_cast<ReflectingStatic*>(made);
    ASSERT_TRUE(child->Create("", WS_CHILD | WS_VISIBLE | SS_NOTIFY, CRect(0, 0, 50, 50), &parent, kChildId));
    CStatic plain;  // no reflection entries: its notifications stay with the parent
    ASSERT_TRUE(plain.Create("", WS_CHILD | WS_VISIBLE | SS_NOTIFY, CRect(60, 0, 90, 50), &parent, kChildId + 1));

    EXPECT_EQ(SendNotify(parent, *child, kChildId, kCustomNotify), 42);
    EXPECT_EQ(SendNotify(parent, *child, kChildId, NM_CLICK), 7);  // not reflected: the parent's entry
    SendNotify(parent, nullptr, 2005, NM_DBLCLK);
    SendNotify(parent, nullptr, 2011, NM_DBLCLK);  // outside the range: nobody
    parent.SendMessage(WM_COMMAND, MAKEWPARAM(kChildId, STN_CLICKED), reinterpret_cast<LPARAM>(child->m_hWnd));
    parent.SendMessage(WM_COMMAND, MAKEWPARAM(kChildId + 1, STN_CLICKED), reinterpret_cast<LPARAM>(plain.m_hWnd));

    CClientDC dc(child);
    const auto brush = reinterpret_cast<HBRUSH>(parent.SendMessage(
        WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc.m_hDC), reinterpret_cast<LPARAM>(child->m_hWnd)));
    EXPECT_EQ(brush, static_cast<HBRUSH>(child->red));

    const std::vector<std::string> want{"child:custom 1001", "parent:notify -2", "parent:range 2005",
                                        "child:clicked",     "parent:clicked",   "child:ctlcolor 6"};
    EXPECT_EQ(log_lines, want);
    child->DestroyWindow();
    EXPECT_EQ(child->m_hWnd, nullptr);
    delete child;
}

TEST_F(WindowsFixture, RegisteredMessagesAndSubclassedWindows) {
    EXPECT_EQ(parent.SendMessage(kRegisteredMessage, 20, 22), 42);

    // A window created outside the framework, then subclassed into an object.
    HWND raw = CreateWindowExA(0, "STATIC", "raw", WS_CHILD | WS_VISIBLE | SS_NOTIFY, 0, 60, 40, 20, parent,
                               reinterpret_cast<HMENU>(kChildId), nullptr, nullptr);
    ASSERT_NE(raw, nullptr);
    EXPECT_EQ(CWnd::FromHandlePermanent(raw), nullptr);
    CWnd* temporary = CWnd::FromHandle(raw);
    EXPECT_EQ(temporary->GetWindowText(), "raw");
    ReflectingStatic control;
    ASSERT_TRUE(control.SubclassDlgItem(kChildId, &parent));
    EXPECT_EQ(CWnd::FromHandlePermanent(raw), &control);
    EXPECT_EQ(CWnd::FromHandle(raw), &control);
    EXPECT_EQ(SendNotify(parent, raw, kChildId, kCustomNotify), 42);
    EXPECT_FALSE(control.SubclassWindow(raw));  // already attached
    EXPECT_EQ(control.UnsubclassWindow(), raw);
    EXPECT_EQ(SendNotify(parent, raw, kChildId, kCustomNotify), 7);  // the parent's entry again
    EXPECT_EQ(control.GetWindowText(), "");                          // detached: no window
    CWnd::DeleteTempMap();
    DestroyWindow(raw);
}

namespace {

struct WorkerShared {
    HWND window = nullptr;
    HWND child = nullptr;
    CWnd* seen_object = nullptr;
    LRESULT answer = 0;
    CString title;
    int child_id = 0;
    std::atomic<bool> done{false};
};

UINT WorkerMain(void* param) {
    auto* shared = static_cast<WorkerShared*>(param);
    CWnd* wnd = CWnd::FromHandle(shared->window);  // the permanent object, from another thread
    shared->seen_object = wnd;
    wnd->PostMessage(WM_APP, 5);
    shared->answer = wnd->SendMessage(WM_APP + 1, 21);
    shared->title = wnd->GetWindowText();
    // A window without an object gets a temporary one owned by this thread.
    shared->child_id = CWnd::FromHandle(shared->child)->GetDlgCtrlID();
    shared->done = true;
    return 0;
}

}  // namespace

TEST_F(WindowsFixture, WorkerThreadDrivesAWindowThroughTheHandleMap) {
    HWND child = CreateWindowExA(0, "STATIC", "", WS_CHILD, 0, 0, 10, 10, parent, reinterpret_cast<HMENU>(1234),
                                 nullptr, nullptr);
    WorkerShared shared;
    shared.window = parent.m_hWnd;
    shared.child = child;
    CWinThread* worker = AfxBeginThread(WorkerMain, &shared, THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED);
    ASSERT_NE(worker, nullptr);
    worker->m_bAutoDelete = FALSE;
    worker->ResumeThread();
    // The worker's SendMessage needs this thread to keep taking messages.
    for (int i = 0;
         i < 1000 && MsgWaitForMultipleObjects(1, &worker->m_hThread, FALSE, 5000, QS_ALLINPUT) != WAIT_OBJECT_0; ++i)
        AfxPumpWaitingMessages();
    AfxPumpWaitingMessages();
    EXPECT_TRUE(shared.done);
    delete worker;
    EXPECT_EQ(shared.seen_object, &parent);
    EXPECT_EQ(shared.answer, 42);
    EXPECT_EQ(shared.title, "parent");
    EXPECT_EQ(shared.child_id, 1234);
    EXPECT_EQ(log_lines, (std::vector<std::string>{"app 5 on ui"}));
    DestroyWindow(child);
}
