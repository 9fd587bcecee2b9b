// The program Vistrel.exe: it starts to its main panel (screenshot with pixel checks of the
// menu bar, the page buttons and a summary text) and closes cleanly; a second copy hands its
// arguments to the running one and exits, also when the running one cannot be reached; and
// start-up failures end with their message, never a crash or a hang.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/command_bar.h"
#include "app/enc_main_page.h"
#include "app/main_panel.h"
#include "app/project_file.h"
#include "app/skin/skin_layout.h"
#include "app/skin/skin_list.h"
#include "app/skin/tests/window_support.h"
#include "app/tests/program_process.h"
#include "app/vistrel_app.h"
#include "filters/base/tests/com_test_util.h"
#include "framework/app.h"
#include "tests/support/screen.h"
#include "tests/support/shell.h"

namespace {

// Brightest or darkest grey level (0-255) in a rectangle of a capture; -1 on failure.
int GreyExtreme(const std::string& png, int x, int y, int w, int h, bool brightest) {
    const std::string out = testsupport::UniqueName("grey") + ".txt";
    const int rc =
        testsupport::RunShell("convert '" + png + "' -crop " + std::to_string(w) + "x" + std::to_string(h) + "+" +
                              std::to_string(x) + "+" + std::to_string(y) + " -colorspace gray -format '%[fx:int(255*" +
                              (brightest ? "maxima" : "minima") + ")]' info: > '" + out + "'");
    if (rc != 0) return -1;
    const std::string text = testsupport::ReadFixtureFile(out);
    return text.empty() ? -1 : atoi(text.c_str());
}

TEST(VistrelProgram, StartsToTheMainPanelAndClosesCleanly) {
    EncoderRegistered encoder(OMBRISK_AX);
    ASSERT_TRUE(encoder.Ok());
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Corvane\\Vistrel\\1.0\\Recording");
    Process p("\"" + ProgramPath() + "\"");
    ASSERT_TRUE(p.started);
    HWND panel = WaitForWindow(p, kMainPanelClass, 30000);
    ASSERT_NE(panel, nullptr) << "no main panel";
    EXPECT_NE(GetDlgItem(panel, kIdMainPage), nullptr) << "no main page";
    // The pointer away from the buttons, so that none shows its hover face.
    SetCursorPos(1000, 700);
    Sleep(2000);
    ASSERT_TRUE(testsupport::CaptureScreen("vistrel_main.png"));
    RECT w{};
    GetWindowRect(panel, &w);
    RECT c{};
    GetClientRect(panel, &c);
    POINT origin{0, 0};
    ClientToScreen(panel, &origin);
    // The menu bar: its ground, and its item texts drawn on it.
    testsupport::Rgb bar;
    ASSERT_TRUE(testsupport::PixelAt("vistrel_main.png", origin.x + 600, origin.y + 11, &bar));
    EXPECT_NEAR(bar.r, 0x2D, 12);
    EXPECT_NEAR(bar.g, 0x3D, 12);
    EXPECT_NEAR(bar.b, 0x51, 12);
    const std::string png = "vistrel_main.png";  // the shell runs in the fixture folder
    EXPECT_GT(GreyExtreme(png, origin.x + 4, origin.y + 2, 200, 18, true), 200) << "no menu texts";
    // The page buttons: the checked "File" radio button's face, the unchecked "DV" one's.
    testsupport::Rgb file, dv;
    ASSERT_TRUE(testsupport::PixelAt("vistrel_main.png", origin.x + 16 + 24, origin.y + 64 + 6, &file));
    ASSERT_TRUE(testsupport::PixelAt("vistrel_main.png", origin.x + 16 + 24, origin.y + 108 + 6, &dv));
    EXPECT_EQ(file, (testsupport::Rgb{0x1E, 0x5F, 0x9E}));
    EXPECT_TRUE((dv == testsupport::Rgb{0x3C, 0x8D, 0xDE}) || (dv == testsupport::Rgb{0x5B, 0x68, 0x77}))
        << dv.r << "," << dv.g << "," << dv.b;
    // The profile type's value field: light art, with the text ("H.264") in dark ink on it.
    testsupport::Rgb field;
    ASSERT_TRUE(testsupport::PixelAt("vistrel_main.png", origin.x + 440 + 190, origin.y + 119 + 11, &field));
    EXPECT_EQ(field, (testsupport::Rgb{0xDC, 0xE4, 0xEE}));
    EXPECT_LT(GreyExtreme(png, origin.x + 440 + 3, origin.y + 119 + 3, 90, 14, false), 100) << "no summary text";

    PostMessageA(panel, WM_CLOSE, 0, 0);
    ASSERT_TRUE(RunToEnd(p, nullptr, 20000));
    EXPECT_EQ(p.ExitCode(), 0u);
}

// Start-up failures in a copy of the program in a folder of its own.
class StartupFailure : public ::testing::Test {
protected:
    void SetUp() override {
        folder = testsupport::FixturePath(testsupport::UniqueName("vistrel_copy"));
        CreateDirectoryA(folder.c_str(), nullptr);
        ASSERT_TRUE(CopyFileA(ProgramPath().c_str(), (folder + "\\Vistrel.exe").c_str(), FALSE));
    }
    void WithLibrary() {
        ASSERT_TRUE(CopyFileA((ProgramFolder() + "\\Tovrt.dll").c_str(), (folder + "\\Tovrt.dll").c_str(), FALSE));
    }
    std::string folder;
};

TEST_F(StartupFailure, NoResourceLibraryEndsWithoutAMessage) {
    Process p("\"" + folder + "\\Vistrel.exe\"", folder);
    ASSERT_TRUE(p.started);
    std::vector<std::string> messages;
    ASSERT_TRUE(RunToEnd(p, &messages, 30000));
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(WindowOf(p, kMainPanelClass), nullptr);
}

TEST_F(StartupFailure, MissingOrBrokenSkinEndsWithTheSkinMessage) {
    EncoderRegistered encoder(OMBRISK_AX);
    ASSERT_TRUE(encoder.Ok());
    WithLibrary();
    {
        Process p("\"" + folder + "\\Vistrel.exe\"", folder);
        std::vector<std::string> messages;
        ASSERT_TRUE(RunToEnd(p, &messages, 30000));
        ASSERT_FALSE(messages.empty());
        EXPECT_EQ(messages.back(), "Skin");
    }
    // A skin file that does not parse: whatever the reader says first, "Skin" at the end.
    CreateDirectoryA((folder + "\\skin").c_str(), nullptr);
    for (const char* name : {"\\skin\\skin1024x768.xml", "\\skin\\skin800x600.xml"}) {
        FILE* f = fopen((folder + name).c_str(), "wb");
        ASSERT_NE(f, nullptr);
        fputs("<?xml version=\"1.0\"?>\n<APP ID=\"x\"><VIEW ID=\"A\"></APP>", f);
        fclose(f);
    }
    Process p("\"" + folder + "\\Vistrel.exe\"", folder);
    std::vector<std::string> messages;
    ASSERT_TRUE(RunToEnd(p, &messages, 30000));
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back(), "Skin");
}

// This process is the running copy: the single-instance mapping and a main panel of
// class "Vistrel"; the program started with arguments is the second copy.
class HandOver : public SkinLayoutTest {
protected:
    void SetUp() override {
        mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READONLY, 0, 32, kSingleInstanceName);
        ASSERT_NE(mapping, nullptr);
    }
    void MakePanel() {
        WNDCLASSA wc{};
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));
        wc.lpszClassName = kMainPanelClass;
        ASSERT_TRUE(AfxRegisterClass(&wc));
        panel = new CMainPanel;
        panel->m_bAutoDelete = FALSE;
        RECT rect{};
        panel->GetInitialRect(&rect);
        ASSERT_TRUE(
            panel->CreateEx(0, kMainPanelClass, "Vistrel", WS_POPUP | WS_CAPTION | WS_SYSMENU, rect, nullptr, 0));
        ASSERT_NE(panel->GetMainPage(), nullptr);
        panel->ShowWindow(SW_SHOW);
    }
    void TearDown() override {
        if (panel) {
            panel->DestroyWindow();
            delete panel;
        }
        if (mapping) CloseHandle(mapping);
    }
    HANDLE mapping = nullptr;
    CMainPanel* panel = nullptr;
};

TEST_F(HandOver, SecondCopyHandsItsProjectToTheFirstAndExits) {
    MakePanel();
    // A real project file, so that the first copy can open what it is handed.
    const std::string project = testsupport::FixturePath(testsupport::UniqueName("holiday") + ".qzt");
    {
        CProjectFile saved;
        ASSERT_EQ(saved.Save(project.c_str()), 1);
    }
    Process p("\"" + ProgramPath() + "\" \"" + project + "\" second.txt");
    ASSERT_TRUE(p.started);
    // The first copy keeps answering while the second one hands over.
    const DWORD end = GetTickCount() + 30000;
    while (!p.Ended() && static_cast<LONG>(end - GetTickCount()) > 0)
        Pump(50);
    ASSERT_TRUE(p.Ended()) << "the second copy did not exit";
    EXPECT_EQ(FindWindowA(kMainPanelClass, nullptr), panel->m_hWnd) << "the second copy made a panel of its own";
    Pump(100);
    EXPECT_EQ(panel->GetMainPage()->GetProjectName(), project);
    // A change of the batch list marks the caption with a star after the project's name; a
    // room list's change of view mode does not.
    char caption[512] = {};
    panel->GetMainPage()->SendMessage(WM_ROOMLIST_MODECHANGED, 1000, 0);
    GetWindowTextA(panel->m_hWnd, caption, sizeof caption);
    EXPECT_TRUE(std::string(caption).ends_with(project)) << caption;
    panel->GetMainPage()->SendMessage(WM_ROOMLIST_MODECHANGED, kIdFilePage, 0);
    GetWindowTextA(panel->m_hWnd, caption, sizeof caption);
    EXPECT_TRUE(std::string(caption).ends_with(project + "*")) << caption;
    DeleteFileA(project.c_str());
}

TEST_F(HandOver, SecondCopyExitsWhenTheFirstCannotBeReached) {
    // No window of the running copy at all.
    {
        Process p("\"" + ProgramPath() + "\" C:\\a.qzt");
        ASSERT_TRUE(p.started);
        EXPECT_EQ(WaitForSingleObject(p.info.hProcess, 30000), WAIT_OBJECT_0);
    }
    // A window that does not answer: this thread does not pump while it waits.
    MakePanel();
    // Handed over once this thread pumps again: a real (empty) project, so no message box.
    const std::string project = testsupport::FixturePath(testsupport::UniqueName("late") + ".qzt");
    {
        CProjectFile saved;
        ASSERT_EQ(saved.Save(project.c_str()), 1);
    }
    Process p("\"" + ProgramPath() + "\" \"" + project + "\"");
    ASSERT_TRUE(p.started);
    EXPECT_EQ(WaitForSingleObject(p.info.hProcess, 60000), WAIT_OBJECT_0) << "the second copy hangs";
    Pump(200);
    DeleteFileA(project.c_str());
}

TEST(HandOverText, EachArgumentIsOneMessageWithoutItsEnd) {
    // A window of this thread that keeps what it receives.
    static std::vector<std::pair<ULONG_PTR, std::string>> got;
    got.clear();
    WNDCLASSA wc{};
    wc.lpfnWndProc = [](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
        if (m == WM_COPYDATA) {
            const auto* d = reinterpret_cast<const COPYDATASTRUCT*>(l);
            got.push_back({d->dwData, std::string(static_cast<const char*>(d->lpData), d->cbData)});
            return 0;
        }
        return DefWindowProcA(h, m, w, l);
    };
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "HandOverSink";
    RegisterClassA(&wc);
    HWND sink = CreateWindowA("HandOverSink", "", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(sink, nullptr);
    EXPECT_EQ(HandOverCommandLine(sink, "one.qzt \"two words.qzt\" three", 1000), 3);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0], (std::pair<ULONG_PTR, std::string>{7, "one.qzt"}));
    EXPECT_EQ(got[1], (std::pair<ULONG_PTR, std::string>{13, "two words.qzt"}));
    EXPECT_EQ(got[2], (std::pair<ULONG_PTR, std::string>{5, "three"}));
    // A 300-character argument arrives cut to 259.
    got.clear();
    EXPECT_EQ(HandOverCommandLine(sink, std::string(300, 'x').c_str(), 1000), 1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].second.size(), 259u);
    DestroyWindow(sink);
}

}  // namespace

namespace {

// The panel of this process with its menu bar and main page (no hosted pages).
using MainPanelTest = HandOver;

TEST_F(MainPanelTest, MenuBarCarriesTheMenuAndItsPopupsTakeTheirStateFromTheRules) {
    MakePanel();
    CCommandBars* bars = panel->GetMenuBar();
    ASSERT_NE(bars, nullptr);
    EXPECT_EQ(panel->GetCommandBars(), bars);
    ASSERT_EQ(bars->GetItemCount(), 4);
    EXPECT_EQ(bars->GetItemText(0), "&File");
    EXPECT_EQ(bars->GetItemText(3), "&Help");
    EXPECT_EQ(bars->FindMnemonic('m'), 2);
    EXPECT_EQ(bars->FindMnemonic('z'), -1);
    const RECT r = bars->GetItemRect(1);
    EXPECT_GT(r.right, r.left);
    EXPECT_EQ(panel->GetMenuBarRect().bottom - panel->GetMenuBarRect().top, 22);

    // Update-UI as a popup opens: idle on the file page, without a DV device or export room.
    HMENU mode = GetSubMenu(bars->GetMenu(), 2);
    HMENU edit = GetSubMenu(bars->GetMenu(), 1);
    panel->UpdateMenuCommandUI(mode);
    panel->UpdateMenuCommandUI(edit);
    EXPECT_FALSE(GetMenuState(mode, 4201, MF_BYCOMMAND) & MF_GRAYED);
    EXPECT_EQ(GetMenuState(mode, 4202, MF_BYCOMMAND) & MF_GRAYED,
              panel->GetMainPage()->IsDVButtonEnabled() ? 0u : static_cast<UINT>(MF_GRAYED));
    EXPECT_TRUE(GetMenuState(edit, 4102, MF_BYCOMMAND) & MF_GRAYED) << "Rename needs a selected export item";
    EXPECT_FALSE(GetMenuState(edit, 4103, MF_BYCOMMAND) & MF_GRAYED);

    // Removing a command from a popup, by command and by position.
    EXPECT_TRUE(bars->RemoveMenuItem(3, 4411, FALSE));
    EXPECT_EQ(GetMenuState(GetSubMenu(bars->GetMenu(), 3), 4411, MF_BYCOMMAND), static_cast<UINT>(-1));
    EXPECT_FALSE(bars->RemoveMenuItem(3, 4411, FALSE));
    EXPECT_FALSE(bars->RemoveMenuItem(7, 0, TRUE));
}

std::vector<std::pair<HWND, WPARAM>> g_pageCommands;
LRESULT CALLBACK WatchPageCommands(int code, WPARAM wParam, LPARAM lParam) {
    const auto* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && call->message == WM_ENCMAIN_COMMAND) g_pageCommands.push_back({call->hwnd, call->wParam});
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST_F(MainPanelTest, MenuCommandsReachTheMainPageAndTheRestStayWithThePanel) {
    MakePanel();
    HHOOK hook = SetWindowsHookExA(WH_CALLWNDPROC, WatchPageCommands, nullptr, GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    g_pageCommands.clear();
    for (UINT code : {4001u, 4101u, 4102u, 4201u, 4210u, 4301u, 4305u, 4401u, 4408u})
        panel->SendMessage(WM_COMMAND, code, 0);
    UnhookWindowsHookEx(hook);
    const HWND page = panel->GetMainPage()->m_hWnd;
    const std::vector<std::pair<HWND, WPARAM>> expected = {{page, 4001}, {page, 4101}, {page, 4102}, {page, 4201},
                                                           {page, 4210}, {page, 4301}, {page, 4305}};
    EXPECT_EQ(g_pageCommands, expected);
}

TEST_F(MainPanelTest, ShortcutsAreTakenOrPassedOnAsTheTableSays) {
    MakePanel();
    struct Key {
        UINT vk;
        bool ctrl, shift;
        BOOL consumed;
    };
    // Idle, file page shown, no DV device.
    const Key keys[] = {
        {VK_F9, false, false, TRUE},     {VK_F10, false, false, TRUE},     {'N', true, false, FALSE},
        {'R', true, false, TRUE},        {'P', true, false, TRUE},         {VK_RETURN, true, false, TRUE},
        {'V', true, false, TRUE},        {VK_OEM_2, true, false, TRUE},    {'U', true, false, TRUE},
        {VK_SPACE, false, false, FALSE}, {VK_ESCAPE, false, false, FALSE}, {'A', true, false, FALSE},
    };
    for (const Key& k : keys) {
        BYTE state[256] = {};
        GetKeyboardState(state);
        state[VK_CONTROL] = k.ctrl ? 0x80 : 0;
        state[VK_SHIFT] = k.shift ? 0x80 : 0;
        SetKeyboardState(state);
        MSG msg{panel->m_hWnd, WM_KEYDOWN, k.vk, 0, 0, {}};
        EXPECT_EQ(panel->TranslateShortcut(&msg), k.consumed) << "key " << k.vk << (k.ctrl ? " with Ctrl" : "");
    }
    BYTE state[256] = {};
    GetKeyboardState(state);
    state[VK_CONTROL] = state[VK_SHIFT] = 0;
    SetKeyboardState(state);
}

TEST_F(MainPanelTest, SuspendAndSessionEndFollowTheBusyState) {
    MakePanel();
    EXPECT_EQ(panel->SendMessage(WM_POWERBROADCAST, 0, 0), TRUE);
    EXPECT_EQ(panel->SendMessage(WM_QUERYENDSESSION, 0, 0), TRUE);
    EXPECT_EQ(panel->GetCaptionFeatures(), 251u);
    // The page's capture notification limits the caption to minimise.
    NMHDR header{panel->GetMainPage()->m_hWnd, kIdMainPage, kNotifyCaptureStarted};
    panel->SendMessage(WM_NOTIFY, kIdMainPage, reinterpret_cast<LPARAM>(&header));
    EXPECT_EQ(panel->GetCaptionFeatures(), 2u);
    header.code = kNotifyCaptureEnded;
    panel->SendMessage(WM_NOTIFY, kIdMainPage, reinterpret_cast<LPARAM>(&header));
    EXPECT_EQ(panel->GetCaptionFeatures(), 255u);
}

}  // namespace
