// The common dialogs on the resource library's templates: information pairs, progress text,
// cancel paths and message pumping, the captured multi-selection walk, and the HTML view's
// creation and teardown.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/resources/resource_ids.h"
#include "app/services/resource_library.h"
#include "app/skin/common_dialogs.h"
#include "app/skin/tests/window_support.h"
#include "framework/resources.h"

namespace {

using CommonDialogTest = ResourceLibraryTest;

TEST_F(CommonDialogTest, InfoDialogShowsCompletePairsOnly) {
    CInfoDialog info("Name", "clip.mpg", "Size", "", "", "orphan value");
    ASSERT_TRUE(info.Create(IDD_INFORMATION));
    info.ShowWindow(SW_SHOW);
    auto visible = [&](int id) { return ::IsWindowVisible(::GetDlgItem(info.m_hWnd, id)) != 0; };
    EXPECT_TRUE(visible(IDC_INFO_LABEL_1));
    EXPECT_TRUE(visible(IDC_INFO_VALUE_1));
    EXPECT_STREQ(info.GetDlgItemText(IDC_INFO_LABEL_1).c_str(), "Name");
    EXPECT_STREQ(info.GetDlgItemText(IDC_INFO_VALUE_1).c_str(), "clip.mpg");
    EXPECT_FALSE(visible(IDC_INFO_LABEL_2)) << "an empty value hides its label too";
    EXPECT_FALSE(visible(IDC_INFO_VALUE_2));
    EXPECT_FALSE(visible(IDC_INFO_LABEL_3));
    EXPECT_FALSE(visible(IDC_INFO_VALUE_3));
    info.DestroyWindow();
}

// A window that counts the key-downs it gets.
class KeyWindow : public CWnd {
public:
    int keys = 0;
    BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override {
        if (message == WM_KEYDOWN) ++keys;
        return CWnd::OnWndMsg(message, wParam, lParam, result);
    }
};

TEST_F(CommonDialogTest, ProgressTextCancelAndPumping) {
    CProgressDialog progress(nullptr, "Converting");
    ASSERT_TRUE(progress.IsWindow());
    EXPECT_FALSE(progress.GetStyle() & WS_SYSMENU);
    EXPECT_STREQ(progress.GetWindowText().c_str(), "Converting");

    progress.SetRange(7, 7, 1);  // equal bounds: 0 %, no division
    progress.SetPos(7);
    progress.SetPos(1000);
    EXPECT_STREQ(progress.GetWindowText().c_str(), "Converting");
    progress.SetRange(0, 200, 10);
    progress.SetPos(100);
    EXPECT_STREQ(progress.GetWindowText().c_str(), "Converting [50%]");
    EXPECT_EQ(progress.StepIt(), 100) << "the bar's previous position";
    EXPECT_STREQ(progress.GetWindowText().c_str(), "Converting [55%]");
    progress.SetCaptionFormat("Copying");
    progress.SetPos(200);
    EXPECT_STREQ(progress.GetWindowText().c_str(), "Copying [100%]");
    progress.SetTitle("C:\\a\\very\\long\\path\\to\\a\\file.mpg");
    EXPECT_STREQ(progress.GetDlgItemText(IDC_PROGRESS_TEXT).c_str(), "C:\\a\\very\\long\\path\\to\\a\\file.mpg");
    progress.ShowCancel(FALSE);
    EXPECT_FALSE(::IsWindowVisible(::GetDlgItem(progress.m_hWnd, IDC_PROGRESS_CANCEL)));

    // Escape without the flag is an ordinary key; with it, it cancels.
    KeyWindow target;
    ASSERT_TRUE(target.CreateEx(0, nullptr, "keys", WS_POPUP, CRect(0, 0, 10, 10), nullptr, 0));
    target.PostMessage(WM_KEYDOWN, VK_ESCAPE, 0);
    progress.PumpMessages(FALSE);
    EXPECT_EQ(target.keys, 1);
    EXPECT_FALSE(progress.IsCancelled());
    target.PostMessage(WM_KEYDOWN, VK_ESCAPE, 0);
    progress.PumpMessages(TRUE);
    EXPECT_EQ(target.keys, 1);
    EXPECT_TRUE(progress.IsCancelled());
    target.DestroyWindow();

    CProgressDialog closed(nullptr, "Closing");
    closed.SendMessage(WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_TRUE(closed.IsCancelled());
    CProgressDialog button(nullptr, "Button");
    button.SendMessage(WM_COMMAND, MAKEWPARAM(IDC_PROGRESS_CANCEL, BN_CLICKED),
                       reinterpret_cast<LPARAM>(::GetDlgItem(button.m_hWnd, IDC_PROGRESS_CANCEL)));
    EXPECT_TRUE(button.IsCancelled());
}

TEST_F(CommonDialogTest, CapturedSelectionWalksEveryName) {
    CGFileDialog dialog(TRUE, nullptr, nullptr, OFN_ALLOWMULTISELECT);
    std::string selection;
    for (int i = 0; i < 600; ++i)
        selection += "\"clip " + std::to_string(i) + ".mpg\" ";
    dialog.CaptureSelection("C:\\Videos", selection);
    POSITION pos = dialog.GetStartPosition();
    int count = 0;
    while (pos) {
        const CString path = dialog.GetNextPathName(pos);
        EXPECT_EQ(std::string(path.c_str()), "C:\\Videos\\clip " + std::to_string(count) + ".mpg");
        if (++count > 1000) break;
    }
    EXPECT_EQ(count, 600);
    EXPECT_EQ(dialog.m_ofn.lStructSize, sizeof(OPENFILENAMEA));
}

TEST_F(CommonDialogTest, MessageFileDialogTextAndEndings) {
    const std::string longPath = "C:\\" + std::string(40, 'a') + "\\" + std::string(40, 'b') + "\\" +
                                 std::string(40, 'c') + "\\missing clip.mpg";
    CMessageFileDialog message("The file is missing.", longPath.c_str());
    const std::string text = message.GetMessageText().c_str();
    ASSERT_EQ(text.rfind("The file is missing.\n\n", 0), 0u) << text;
    const std::string shown = text.substr(std::string("The file is missing.\n\n").size());
    EXPECT_LT(shown.size(), longPath.size()) << "shortened";
    EXPECT_NE(shown.find("..."), std::string::npos) << shown;
    EXPECT_NE(shown.find("missing clip.mpg"), std::string::npos) << "the file name stays: " << shown;
    ASSERT_TRUE(message.Create(IDD_MESSAGE_FILE));
    EXPECT_STREQ(message.GetDlgItemText(IDC_MESSAGE_TEXT).c_str(), text.c_str());
    message.DestroyWindow();
}

// A stand-in for the browse window: keeps the status texts and selections it is sent.
class BrowseWindow : public CWnd {
public:
    std::vector<std::string> status, selected;
    BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override {
        if (message == BFFM_SETSTATUSTEXTA) status.push_back(reinterpret_cast<const char*>(lParam));
        if (message == BFFM_SETSELECTIONA && wParam) selected.push_back(reinterpret_cast<const char*>(lParam));
        return CWnd::OnWndMsg(message, wParam, lParam, result);
    }
};

TEST_F(CommonDialogTest, FolderBrowserFollowsTheSelectionWithAShortStatus) {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    std::string folder = std::string(temp) + "folder browser test with a long name";
    CreateDirectoryA(folder.c_str(), nullptr);
    CFolderBrowser browser("C:\\start", BIF_RETURNONLYFSDIRS | BIF_STATUSTEXT, nullptr);
    BrowseWindow window;
    ASSERT_TRUE(window.CreateEx(0, nullptr, "browse", WS_POPUP, CRect(0, 0, 10, 10), nullptr, 0));
    EXPECT_EQ(browser.OnCallback(window.m_hWnd, BFFM_INITIALIZED, 0), 0);
    EXPECT_EQ(window.selected, std::vector<std::string>{"C:\\start"});
    EXPECT_EQ(window.status, std::vector<std::string>{"C:\\start"});
    LPITEMIDLIST item = nullptr;
    std::wstring wide(folder.begin(), folder.end());
    ASSERT_EQ(SHParseDisplayName(wide.c_str(), nullptr, &item, 0, nullptr), S_OK);
    browser.OnCallback(window.m_hWnd, BFFM_SELCHANGED, reinterpret_cast<LPARAM>(item));
    CoTaskMemFree(item);
    char expected[MAX_PATH] = {};
    GetLongPathNameA(folder.c_str(), expected, MAX_PATH);
    EXPECT_STRCASEEQ(browser.GetFolder().c_str(), expected);
    ASSERT_EQ(window.status.size(), 2u);
    EXPECT_EQ(window.status[1], std::string(expected).substr(0, 35) + "...");
    window.DestroyWindow();
    RemoveDirectoryA(folder.c_str());
}

TEST_F(CommonDialogTest, HtmlViewCreatesSizedOrLeavesNothing) {
    CWnd parent;
    ASSERT_TRUE(parent.CreateEx(0, nullptr, "html host", WS_POPUP | WS_VISIBLE, CRect(0, 0, 300, 200), nullptr, 0));
    {
        CHtmlCtrl html;
        const BOOL created = html.Resize(RECT{10, 20, 200, 100}, &parent);
        if (created) {
            EXPECT_EQ(html.GetDlgCtrlID(), 0xE900);
            CRect r;
            html.GetWindowRect(&r);
            parent.ScreenToClient(&r);
            EXPECT_EQ(r, CRect(10, 20, 210, 120));
            EXPECT_EQ(html.SendMessage(WM_MOUSEACTIVATE, reinterpret_cast<WPARAM>(parent.m_hWnd),
                                       MAKELPARAM(HTCLIENT, WM_RBUTTONDOWN)),
                      MA_NOACTIVATEANDEAT);
        } else {
            // No browser engine here: the failure is reported and no window stays behind.
            EXPECT_TRUE(FAILED(html.GetCreateError()));
            EXPECT_EQ(::GetWindow(parent.m_hWnd, GW_CHILD), nullptr);
        }
    }
    EXPECT_EQ(::GetWindow(parent.m_hWnd, GW_CHILD), nullptr) << "the view is gone with its object";
    parent.DestroyWindow();
}

}  // namespace
