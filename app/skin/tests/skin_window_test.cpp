// Skinned windows under the test display: a page built from the default skin by the control
// factory, buttons' messages for clicks, auto-repeat, drag-off, disabled and radio groups,
// screenshots of each button state and of static text, and view backgrounds compared with
// ImageMagick's composition of the same art.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "app/services/resource_library.h"
#include "app/skin/enc_base_page.h"
#include "app/skin/skin_controls.h"
#include "app/skin/skin_factory.h"
#include "app/skin/skin_images.h"
#include "app/skin/skin_layout.h"
#include "app/skin/skin_xml.h"
#include "framework/app.h"
#include "framework/resources.h"
#include "tests/support/screen.h"
#include "tests/support/shell.h"

namespace {

constexpr const char* kView = "ENC_MAIN_PAGE";

std::string ProgramFolder() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path);
    return folder.substr(0, folder.rfind('\\'));
}

// The Linux path of a Windows path on drive Z: (Wine maps Z: to the root).
std::string UnixPath(std::string path) {
    if (path.size() > 2 && (path[0] == 'Z' || path[0] == 'z') && path[1] == ':') path = path.substr(2);
    for (char& c : path)
        if (c == '\\') c = '/';
    return path;
}

void Pump(DWORD ms = 60) {
    const DWORD end = GetTickCount() + ms;
    do {
        AfxPumpWaitingMessages();
        Sleep(5);
    } while (static_cast<LONG>(end - GetTickCount()) > 0);
}

// A parent that logs the messages its controls send.
class LogParent : public CWnd {
public:
    std::vector<std::string> log;
    int paints = 0;
    BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override {
        if (message == WM_COMMAND && lParam) {
            log.push_back("command " + std::to_string(LOWORD(wParam)) + " " + std::to_string(HIWORD(wParam)));
            return TRUE;
        }
        if (message == WM_GBUTTON_CLICKED) {
            log.push_back("clicked " + std::to_string(wParam));
            return TRUE;
        }
        if (message == WM_NOTIFY) {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            log.push_back("notify " + std::to_string(header->idFrom) + " " +
                          std::to_string(static_cast<int>(header->code)));
            return TRUE;
        }
        if (message == WM_PAINT) {
            ++paints;
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(m_hWnd, &ps);
            PaintSkinViewBackground(dc, kView);
            EndPaint(m_hWnd, &ps);
            return TRUE;
        }
        if (message == WM_ERASEBKGND) {
            *result = 1;
            return TRUE;
        }
        return CWnd::OnWndMsg(message, wParam, lParam, result);
    }
};

class SkinWindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        library_ = LoadResourceLibrary();
        AfxSetResourceHandle(library_);
        AfxSetMessageBoxHook([](const MessageBoxRequest& r) {
            ADD_FAILURE() << "unexpected message: " << r.text.c_str();
            return IDOK;
        });
        art_ = ProgramFolder() + "\\skin\\1024x768";
        SetSkinImageSource(art_.c_str(), kSkinImageFolder);
        ASSERT_EQ(CSkinLayout::Load("skin\\skin1024x768.xml"), 1);
    }
    static void TearDownTestSuite() {
        CSkinLayout::Free();
        AfxSetMessageBoxHook(nullptr);
        AfxSetResourceHandle(nullptr);
        FreeResourceLibrary(library_);
    }
    void SetUp() override {
        ASSERT_TRUE(parent.CreateEx(0, nullptr, "skin page", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN,
                                    CRect(0, 0, 1024, 768), nullptr, 0));
        SetWindowPos(parent.m_hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        Pump();
    }
    void TearDown() override { parent.DestroyWindow(); }

    // Sends a mouse message at client point (x, y) of `wnd`.
    static void Mouse(CWnd* wnd, UINT message, int x, int y, WPARAM keys) {
        wnd->SendMessage(message, keys, MAKELPARAM(x, y));
    }

    static HINSTANCE library_;
    static std::string art_;
    LogParent parent;
};
HINSTANCE SkinWindowTest::library_ = nullptr;
std::string SkinWindowTest::art_;

SkinControlBinding Row(const char* name, uint32_t id, uint32_t repeat = 0) {
    SkinControlBinding row{};
    std::snprintf(row.name, sizeof row.name, "%s", name);
    row.id = id;
    row.repeat = repeat;
    return row;
}

struct ChildInfo {
    std::string className;
    int id;
    RECT rect;
    bool visible;
};

BOOL CALLBACK CollectChild(HWND child, LPARAM data) {
    auto* children = reinterpret_cast<std::vector<ChildInfo>*>(data);
    char name[64] = {};
    GetClassNameA(child, name, sizeof name);
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
    children->push_back({name, GetDlgCtrlID(child), r, IsWindowVisible(child) != 0});
    return TRUE;
}

TEST_F(SkinWindowTest, PageMatchesTheSkinAndGivesItsGdiObjectsBack) {
    SkinControlBinding radios[] = {Row("IDC_BUTTON_FILE", 1002), Row("IDC_BUTTON_DV", 1003)};
    SkinControlBinding buttons[] = {Row("IDC_BUTTON_MARK", 1004), Row("IDC_BUTTON_PROFILE", 1017),
                                    Row("NO_SUCH_BUTTON", 1099)};
    SkinControlBinding hidden[] = {Row("IDC_BUTTON_VOLUME", 3010)};
    // Two labels showing the same node picture: the bitmap is shared and freed once.
    SkinControlBinding statics[] = {Row("IDC_STATIC_PROFILE_VALUE_PATH", 1020), Row("IDC_STATIC_PROFILE_TYPE", 1007),
                                    Row("IDC_STATIC_PROFILE_VALUE_PATH", 1030)};
    for (int round = 0; round < 2; ++round) {
        CreateSkinRadioButtons(&parent, kView, radios, 2);
        CreateSkinButtons(&parent, kView, buttons, 3, 1);
        CreateSkinButtons(&parent, kView, hidden, 1, 0);
        CreateSkinStatics(&parent, kView, statics, 3, 1);
        EXPECT_EQ(buttons[2].control, nullptr) << "a name without a node gets no control";

        std::vector<ChildInfo> children;
        EnumChildWindows(parent.m_hWnd, CollectChild, reinterpret_cast<LPARAM>(&children));
        struct Expected {
            SkinControlBinding* row;
            SkinKind kind;
            bool visible;
        };
        const Expected expected[] = {{&radios[0], SkinKind::Button, true},  {&radios[1], SkinKind::Button, true},
                                     {&buttons[0], SkinKind::Button, true}, {&buttons[1], SkinKind::Button, true},
                                     {&hidden[0], SkinKind::Button, false}, {&statics[0], SkinKind::Static, true},
                                     {&statics[1], SkinKind::Static, true}, {&statics[2], SkinKind::Static, true}};
        int skinned = 0;
        for (const ChildInfo& c : children)
            if (c.className.rfind("tooltips", 0) != 0) ++skinned;
        EXPECT_EQ(skinned, 8);
        for (const Expected& e : expected) {
            ASSERT_NE(e.row->control, nullptr) << e.row->name;
            SkinNode* node = FindNodeInView(CSkinLayout::FindView(kView), e.kind, e.row->name);
            ASSERT_NE(node, nullptr);
            const ChildInfo* found = nullptr;
            for (const ChildInfo& c : children)
                if (c.id == static_cast<int>(e.row->id)) found = &c;
            ASSERT_NE(found, nullptr) << e.row->name;
            EXPECT_EQ(found->className, e.kind == SkinKind::Static ? "Static" : found->className);
            EXPECT_EQ(found->rect.left, node->left) << e.row->name;
            EXPECT_EQ(found->rect.top, node->top) << e.row->name;
            EXPECT_EQ(found->rect.right - found->rect.left, node->width) << e.row->name;
            EXPECT_EQ(found->rect.bottom - found->rect.top, node->height) << e.row->name;
            EXPECT_EQ(found->visible, e.visible) << e.row->name;
        }
        EXPECT_EQ(static_cast<CGStatic*>(statics[1].control)->GetStyle() & SS_TYPEMASK, static_cast<DWORD>(SS_RIGHT));
        auto* shared = static_cast<SkinStaticNode*>(
            FindNodeInView(CSkinLayout::FindView(kView), SkinKind::Static, "IDC_STATIC_PROFILE_VALUE_PATH"));
        EXPECT_EQ(static_cast<CGStatic*>(statics[0].control)->GetBackground(),
                  static_cast<CGStatic*>(statics[2].control)->GetBackground());
        EXPECT_EQ(shared->background.users, 2);
        auto* file = static_cast<CGRadioButton*>(radios[0].control);
        ASSERT_EQ(file->GroupCount(), 1);
        EXPECT_EQ(file->GroupMember(0), radios[1].control);
        Pump();
        // Every GDI object the controls made or loaded: strips, caption fonts, the statics'
        // own fonts and the shared node picture. (Wine's process GDI count is not kept, so
        // the objects are checked one by one.)
        std::vector<HGDIOBJ> made;
        for (SkinControlBinding* row : {&radios[0], &radios[1]}) {
            auto* radio = static_cast<CGRadioButton*>(row->control);
            made.insert(made.end(), {radio->GetStrip(), radio->GetCaptionFont()});
        }
        for (SkinControlBinding* row : {&buttons[0], &buttons[1], &hidden[0]}) {
            auto* button = static_cast<CGButton*>(row->control);
            made.insert(made.end(), {button->GetStrip(), button->GetCaptionFont()});
        }
        for (SkinControlBinding& row : statics)
            made.push_back(static_cast<CGStatic*>(row.control)->GetOwnFont());
        made.push_back(shared->background.bitmap);
        for (HGDIOBJ object : made)
            ASSERT_NE(GetObjectType(object), 0u);

        DestroySkinStatics(kView, statics, 3);
        EXPECT_EQ(shared->background.bitmap, nullptr) << "freed after the last user";
        DestroySkinButtons(buttons, 3);
        DestroySkinButtons(hidden, 1);
        DestroySkinRadioButtons(radios, 2);
        for (SkinControlBinding* row : {&radios[0], &buttons[0], &statics[0], &hidden[0]})
            EXPECT_EQ(row->control, nullptr);
        Pump();
        for (HGDIOBJ object : made)
            EXPECT_EQ(GetObjectType(object), 0u) << "round " << round;
    }
}

TEST_F(SkinWindowTest, ButtonMessagesForClickRepeatDragOffAndDisabled) {
    SkinControlBinding rows[] = {Row("IDC_BUTTON_MARK", 1004), Row("IDC_BUTTON_PROFILE", 1017, 1),
                                 Row("IDC_BUTTON_VOLUME", 3010)};
    CreateSkinButtons(&parent, kView, rows, 3, 1);
    auto* mark = static_cast<CGButton*>(rows[0].control);
    auto* repeat = static_cast<CGButton*>(rows[1].control);
    auto* toggle = static_cast<CGButton*>(rows[2].control);
    ASSERT_TRUE(mark && repeat && toggle);
    Pump();

    // A click: press and release over the button.
    Mouse(mark, WM_LBUTTONDOWN, 20, 10, MK_LBUTTON);
    EXPECT_EQ(mark->GetVisualState(), 2);
    EXPECT_TRUE(parent.log.empty()) << "nothing is sent on press";
    Mouse(mark, WM_LBUTTONUP, 20, 10, 0);
    Pump();
    EXPECT_EQ(parent.log, (std::vector<std::string>{"command 1004 0", "clicked 1004"}));

    // Drag off and release: nothing; drag back on: pressed again, and the release clicks.
    parent.log.clear();
    Mouse(mark, WM_LBUTTONDOWN, 20, 10, MK_LBUTTON);
    Mouse(mark, WM_MOUSEMOVE, 20, 400, MK_LBUTTON);
    EXPECT_EQ(mark->GetVisualState(), 0);
    Mouse(mark, WM_MOUSEMOVE, 20, 10, MK_LBUTTON);
    EXPECT_EQ(mark->GetVisualState(), 2);
    Mouse(mark, WM_MOUSEMOVE, 20, 400, MK_LBUTTON);
    Mouse(mark, WM_LBUTTONUP, 20, 400, 0);
    Pump();
    EXPECT_TRUE(parent.log.empty());
    Mouse(mark, WM_LBUTTONDOWN, 20, 10, MK_LBUTTON);
    Mouse(mark, WM_MOUSEMOVE, 20, 400, MK_LBUTTON);
    Mouse(mark, WM_MOUSEMOVE, 20, 10, MK_LBUTTON);
    Mouse(mark, WM_LBUTTONUP, 20, 10, 0);
    Pump();
    EXPECT_EQ(parent.log, (std::vector<std::string>{"command 1004 0", "clicked 1004"}));

    // Auto-repeat: each timer tick while pressed repeats the command; the release over the
    // button adds one more and the clicked message.
    parent.log.clear();
    Mouse(repeat, WM_LBUTTONDOWN, 20, 10, MK_LBUTTON);
    for (int i = 0; i < 3; ++i)
        repeat->SendMessage(WM_TIMER, 1);
    Mouse(repeat, WM_LBUTTONUP, 20, 10, 0);
    Pump();
    EXPECT_EQ(parent.log, (std::vector<std::string>{"command 1017 0", "command 1017 0", "command 1017 0",
                                                    "command 1017 0", "clicked 1017"}));
    // Once the pointer has left, ticks repeat nothing more for that press.
    parent.log.clear();
    Mouse(repeat, WM_LBUTTONDOWN, 20, 10, MK_LBUTTON);
    repeat->SendMessage(WM_TIMER, 1);
    Mouse(repeat, WM_MOUSEMOVE, 20, 400, MK_LBUTTON);
    repeat->SendMessage(WM_TIMER, 1);
    Mouse(repeat, WM_MOUSEMOVE, 20, 10, MK_LBUTTON);
    repeat->SendMessage(WM_TIMER, 1);
    Mouse(repeat, WM_LBUTTONUP, 20, 400, 0);
    Pump();
    EXPECT_EQ(parent.log, (std::vector<std::string>{"command 1017 0"}));

    // A real hold: the timer starts after 500 ms and repeats every 100 ms.
    parent.log.clear();
    Mouse(repeat, WM_LBUTTONDOWN, 20, 10, MK_LBUTTON);
    Pump(900);
    Mouse(repeat, WM_LBUTTONUP, 20, 10, 0);
    Pump();
    EXPECT_GE(parent.log.size(), 3u) << "repeats and the final click";
    EXPECT_EQ(parent.log.back(), "clicked 1017");

    // Toggle: a click flips the check; SetCheck takes 0 and 1 only; a push button ignores it.
    parent.log.clear();
    Mouse(toggle, WM_LBUTTONDOWN, 5, 5, MK_LBUTTON);
    Mouse(toggle, WM_LBUTTONUP, 5, 5, 0);
    EXPECT_TRUE(toggle->IsChecked());
    toggle->SetCheck(2);
    EXPECT_TRUE(toggle->IsChecked());
    toggle->SetCheck(0);
    EXPECT_FALSE(toggle->IsChecked());
    mark->SetCheck(1);
    EXPECT_FALSE(mark->IsChecked());

    // Tooltips: none for a null text; one tool, whose text follows the last call.
    mark->SetToolTip(nullptr, TRUE);
    EXPECT_EQ(mark->GetToolTipWindow(), nullptr);
    mark->SetToolTip("Mark the clip", TRUE);
    mark->SetToolTip("Mark this clip", TRUE);
    ASSERT_NE(mark->GetToolTipWindow(), nullptr);
    EXPECT_EQ(SendMessageA(mark->GetToolTipWindow(), TTM_GETTOOLCOUNT, 0, 0), 1);
    char tip[64] = {};
    TTTOOLINFOA info{};
    info.cbSize = TTTOOLINFOA_V2_SIZE;
    info.hwnd = mark->m_hWnd;
    info.uId = 1;
    info.lpszText = tip;
    SendMessageA(mark->GetToolTipWindow(), TTM_GETTEXTA, sizeof tip, reinterpret_cast<LPARAM>(&info));
    EXPECT_STREQ(tip, "Mark this clip");

    // Disabled: presses, releases, moves and right clicks do nothing; enabling restores.
    Pump();
    parent.log.clear();
    mark->Enable(FALSE);
    EXPECT_TRUE(mark->IsWindowEnabled()) << "disabled is a look, not the window state";
    Mouse(mark, WM_LBUTTONDOWN, 20, 10, MK_LBUTTON);
    Mouse(mark, WM_LBUTTONUP, 20, 10, 0);
    Mouse(mark, WM_RBUTTONDOWN, 20, 10, MK_RBUTTON);
    Mouse(mark, WM_MOUSEMOVE, 20, 10, 0);
    Pump();
    EXPECT_TRUE(parent.log.empty());
    EXPECT_EQ(mark->GetVisualState(), 3);
    mark->Enable(TRUE);
    mark->EnableWindow(FALSE);
    EXPECT_EQ(mark->GetVisualState(), 3) << "WM_ENABLE maps onto the visual state";
    mark->EnableWindow(TRUE);
    EXPECT_EQ(mark->GetVisualState(), 0);
    Mouse(mark, WM_RBUTTONDOWN, 20, 10, MK_RBUTTON);
    Mouse(mark, WM_LBUTTONDBLCLK, 20, 10, MK_LBUTTON);
    Mouse(mark, WM_LBUTTONUP, 20, 10, 0);
    Pump();
    EXPECT_EQ(parent.log, (std::vector<std::string>{"notify 1004 " + std::to_string(static_cast<int>(NM_RCLICK)),
                                                    "command 1004 5", "command 1004 0", "clicked 1004"}));
    DestroySkinButtons(rows, 3);
}

TEST_F(SkinWindowTest, RadioGroupsKeepOneChecked) {
    SkinControlBinding rows[] = {Row("IDC_BUTTON_FILE", 1002), Row("IDC_BUTTON_DV", 1003),
                                 Row("IDC_BUTTON_VOLUME", 1005)};
    CreateSkinRadioButtons(&parent, kView, rows, 3);
    CGRadioButton* r[3];
    for (int i = 0; i < 3; ++i) {
        r[i] = static_cast<CGRadioButton*>(rows[i].control);
        ASSERT_NE(r[i], nullptr);
        EXPECT_EQ(r[i]->GroupCount(), 2);
    }
    r[0]->SetCheck(1);
    Pump();
    Mouse(r[1], WM_LBUTTONDOWN, 10, 10, MK_LBUTTON);
    Mouse(r[1], WM_LBUTTONUP, 10, 10, 0);
    Pump();
    EXPECT_FALSE(r[0]->IsChecked());
    EXPECT_TRUE(r[1]->IsChecked());
    EXPECT_FALSE(r[2]->IsChecked());
    // Clicking the checked one keeps it checked and reports the click again.
    Mouse(r[1], WM_LBUTTONDOWN, 10, 10, MK_LBUTTON);
    Mouse(r[1], WM_LBUTTONUP, 10, 10, 0);
    Pump();
    EXPECT_TRUE(r[1]->IsChecked());
    EXPECT_EQ(parent.log, (std::vector<std::string>{"command 1003 0", "command 1003 0"}));
    DestroySkinRadioButtons(rows, 3);

    // A table longer than a group can hold: every button's group stays within its array.
    std::vector<SkinControlBinding> many;
    for (int i = 0; i < 13; ++i)
        many.push_back(Row(i % 2 ? "IDC_BUTTON_DV" : "IDC_BUTTON_FILE", 1100 + i));
    CreateSkinRadioButtons(&parent, kView, many.data(), 13);
    for (auto& row : many)
        EXPECT_LE(static_cast<CGRadioButton*>(row.control)->GroupCount(), CGRadioButton::kMaxGroup);
    EXPECT_EQ(static_cast<CGRadioButton*>(many[0].control)->GroupCount(), CGRadioButton::kMaxGroup);
    DestroySkinRadioButtons(many.data(), 13);
}

testing::AssertionResult Near(const testsupport::Rgb& got, const char* hex) {
    unsigned r, g, b;
    std::sscanf(hex, "#%02x%02x%02x", &r, &g, &b);
    if (std::abs(got.r - static_cast<int>(r)) <= 2 && std::abs(got.g - static_cast<int>(g)) <= 2 &&
        std::abs(got.b - static_cast<int>(b)) <= 2)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "got " << got.r << "," << got.g << "," << got.b << " want " << hex;
}

TEST_F(SkinWindowTest, ScreenshotShowsEachButtonStateAndStaticText) {
    SkinControlBinding rows[] = {Row("IDC_BUTTON_MARK", 1004), Row("IDC_BUTTON_PROFILE", 1017)};
    SkinControlBinding radios[] = {Row("IDC_BUTTON_FILE", 1002), Row("IDC_BUTTON_DV", 1003)};
    SkinControlBinding texts[] = {Row("IDC_STATIC_PROFILE_VALUE_TYPE", 1021), Row("IDC_STATIC_PROFILE_TYPE", 1007)};
    CreateSkinButtons(&parent, kView, rows, 2, 1);
    CreateSkinRadioButtons(&parent, kView, radios, 2);
    CreateSkinStatics(&parent, kView, texts, 2, 1);
    auto* mark = static_cast<CGButton*>(rows[0].control);
    auto* profile = static_cast<CGButton*>(rows[1].control);
    auto* file = static_cast<CGRadioButton*>(radios[0].control);
    auto* dv = static_cast<CGRadioButton*>(radios[1].control);
    auto* value = static_cast<CGStatic*>(texts[0].control);
    auto* label = static_cast<CGStatic*>(texts[1].control);
    file->SetCheck(1);
    dv->Enable(FALSE);
    profile->Enable(FALSE);
    value->SetText("MPEG-2 Program Stream");
    label->SetTextColor(RGB(255, 255, 255));
    label->SetText("Type:");
    parent.Invalidate(FALSE);
    parent.UpdateWindow();
    Pump(200);
    ASSERT_TRUE(testsupport::CaptureScreen("skin_states_normal.png"));
    // Pressed: the button holds the capture while the left button is down.
    Mouse(mark, WM_LBUTTONDOWN, 20, 10, MK_LBUTTON);
    mark->UpdateWindow();
    Pump(200);
    ASSERT_TRUE(testsupport::CaptureScreen("skin_states_pressed.png"));
    Mouse(mark, WM_LBUTTONUP, 20, 400, 0);
    Mouse(mark, WM_MOUSEMOVE, 20, 10, 0);
    EXPECT_EQ(mark->GetVisualState(), 1);
    mark->UpdateWindow();
    Pump(200);
    ASSERT_TRUE(testsupport::CaptureScreen("skin_states_hover.png"));

    // Probes on each face, clear of the caption: x + 30, y + 6.
    auto probe = [](const char* png, CWnd* w) {
        RECT r;
        w->GetWindowRect(&r);
        testsupport::Rgb rgb;
        EXPECT_TRUE(testsupport::PixelAt(png, r.left + 30, r.top + 6, &rgb));
        return rgb;
    };
    EXPECT_TRUE(Near(probe("skin_states_normal.png", mark), "#3C8DDE"));
    EXPECT_TRUE(Near(probe("skin_states_pressed.png", mark), "#2A6AAE"));
    EXPECT_TRUE(Near(probe("skin_states_hover.png", mark), "#5AA6F0"));
    EXPECT_TRUE(Near(probe("skin_states_normal.png", profile), "#5B6877"));
    EXPECT_TRUE(Near(probe("skin_states_normal.png", file), "#1E5F9E"));
    EXPECT_TRUE(Near(probe("skin_states_normal.png", dv), "#5B6877"));
    // Corners outside the outline show the page behind (the magenta key is cut away).
    RECT r;
    mark->GetWindowRect(&r);
    testsupport::Rgb corner;
    ASSERT_TRUE(testsupport::PixelAt("skin_states_normal.png", r.left, r.top, &corner));
    EXPECT_FALSE(Near(corner, "#FF00FF"));
    // No key colour shows on a button in any state (the pressed face keeps the outline).
    for (const char* png : {"skin_states_normal.png", "skin_states_pressed.png", "skin_states_hover.png"})
        EXPECT_EQ(testsupport::CountKeyColourPixels(png, r.left, r.top, r.right - r.left, r.bottom - r.top), 0) << png;

    // The value field keeps its light picture around the text in the default black ink; the
    // label draws white on the page.
    value->GetWindowRect(&r);
    testsupport::Rgb field;
    ASSERT_TRUE(testsupport::PixelAt("skin_states_normal.png", r.right - 4, r.top + 4, &field));
    EXPECT_TRUE(Near(field, "#DCE4EE"));
    for (CWnd* text : {static_cast<CWnd*>(value), static_cast<CWnd*>(label)}) {
        const bool dark = text == value;
        text->GetWindowRect(&r);
        char script[256];
        std::snprintf(script, sizeof script,
                      "convert skin_states_normal.png -crop %ldx%ld+%ld+%ld -colorspace Gray -format '%%[fx:%s]' "
                      "info: > skin_text_max.txt",
                      r.right - r.left, r.bottom - r.top, r.left, r.top, dark ? "minima" : "maxima");
        ASSERT_EQ(testsupport::RunShell(script), 0);
        const double extreme = std::stod(testsupport::ReadFixtureFile("skin_text_max.txt"));
        if (dark)
            EXPECT_LT(extreme, 0.3) << "black text is drawn";
        else
            EXPECT_GT(extreme, 0.85) << "white text is drawn";
    }
    DestroySkinStatics(kView, texts, 2);
    DestroySkinRadioButtons(radios, 2);
    DestroySkinButtons(rows, 2);
}

// Writes the 32-bit top-down pixels as a 24-bit BMP file.
void WriteBmp(const std::string& path, const uint8_t* pixels, int width, int height) {
    const int stride = (width * 3 + 3) & ~3;
    BITMAPFILEHEADER file{};
    BITMAPINFOHEADER info{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + stride * height;
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof file);
    out.write(reinterpret_cast<const char*>(&info), sizeof info);
    std::vector<char> row(stride, 0);
    for (int y = height - 1; y >= 0; --y) {
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                row[x * 3 + c] = static_cast<char>(pixels[(y * width + x) * 4 + c]);
        out.write(row.data(), stride);
    }
}

TEST_F(SkinWindowTest, ViewBackgroundEqualsImageMagicksComposition) {
    struct Case {
        const char* view;
        int width, height;
        std::string compose;  // ImageMagick steps over the art folder
    };
    const std::string art = UnixPath(art_);
    const std::vector<Case> cases = {
        // One exact copy, a column tiled down, and a body tiled both ways with partial tiles.
        {"ENC_MAIN_PAGE", 1024, 768,
         "'" + art + "/main_header.png' -geometry +0+0 -composite \\( -size 240x720 'tile:" + art +
             "/main_side.png' \\) -geometry +0+48 -composite \\( -size 784x720 'tile:" + art +
             "/main_body.png' \\) -geometry +240+48 -composite"},
        {"ENC_DV_PAGE", 384, 632, "\\( -size 384x632 'tile:" + art + "/page_dv.png' \\) -geometry +0+0 -composite"},
    };
    for (const Case& c : cases) {
        HDC screen = GetDC(nullptr);
        HDC dc = CreateCompatibleDC(screen);
        ReleaseDC(nullptr, screen);
        BITMAPINFO info{};
        info.bmiHeader = {sizeof(BITMAPINFOHEADER), c.width, -c.height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        void* bits = nullptr;
        HBITMAP dib = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        ASSERT_NE(dib, nullptr);
        HGDIOBJ old = SelectObject(dc, dib);
        ASSERT_EQ(PaintSkinViewBackground(dc, c.view), 1);
        GdiFlush();
        const std::string name = std::string("skin_bg_") + c.view;
        WriteBmp(testsupport::FixturePath(name + ".bmp"), static_cast<const uint8_t*>(bits), c.width, c.height);
        SelectObject(dc, old);
        DeleteObject(dib);
        DeleteDC(dc);
        const std::string script = "convert -size " + std::to_string(c.width) + "x" + std::to_string(c.height) +
                                   " xc:black " + c.compose + " -alpha off 'BMP3:" + name +
                                   "_expected.bmp' && compare -metric AE '" + name + ".bmp' '" + name +
                                   "_expected.bmp' null: 2> " + name + "_ae.txt; cat " + name + "_ae.txt";
        testsupport::RunShell(script, name + ".log");
        EXPECT_EQ(testsupport::ReadFixtureFile(name + "_ae.txt"), "0")
            << c.view << ": " << testsupport::ReadFixtureFile(name + ".log");
    }
    HDC screen = GetDC(nullptr);
    EXPECT_EQ(PaintSkinViewBackground(screen, "NO_VIEW"), 0);
    ReleaseDC(nullptr, screen);
}

TEST_F(SkinWindowTest, BackgroundsOfOddSizesTileOrStop) {
    // A 50x20 picture over a 120x20 subview: three tiles, the last 20 wide. A picture
    // declared 0 wide over a larger subview cannot tile and paints nothing, and painting ends.
    const std::string skin = testsupport::FixturePath("odd_skin.xml");
    std::ofstream(skin) << "<APP><V ID=\"ODD\"><SUBVIEW ID=\"a\" WIDTH=\"120\" HEIGHT=\"20\">"
                           "<BACKGROUNDIMAGE SOURCE=\"tile50.png\" WIDTH=\"50\" HEIGHT=\"20\"/></SUBVIEW>"
                           "<SUBVIEW ID=\"b\" TOP=\"20\" WIDTH=\"120\" HEIGHT=\"20\">"
                           "<BACKGROUNDIMAGE SOURCE=\"tile50.png\" WIDTH=\"0\" HEIGHT=\"20\"/></SUBVIEW>"
                           "<SUBVIEW ID=\"c\" TOP=\"40\" WIDTH=\"2147483647\" HEIGHT=\"2147483647\">"
                           "<BACKGROUNDIMAGE SOURCE=\"tile50.png\" WIDTH=\"1\" HEIGHT=\"1\"/></SUBVIEW></V></APP>";
    ASSERT_EQ(testsupport::RunShell("convert -size 50x20 xc:red -fill blue -draw 'rectangle 40,0 49,19' "
                                    "PNG24:tile50.png"),
              0);
    CSkinLayout::Free();
    SetSkinImageSource(testsupport::FixturePath("").c_str(), kSkinImageFolder);
    ASSERT_EQ(ParseSkinFile(skin.c_str()), 1);
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP canvas = CreateCompatibleBitmap(screen, 120, 60);
    ReleaseDC(nullptr, screen);
    HGDIOBJ old = SelectObject(dc, canvas);
    RECT all{0, 0, 120, 60};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    // The picture of no width cannot be loaded, and the bitmap loader says so.
    std::vector<std::string> boxes;
    AfxSetMessageBoxHook([&](const MessageBoxRequest& r) {
        boxes.push_back(r.text.c_str());
        return IDOK;
    });
    EXPECT_EQ(PaintSkinViewBackground(dc, "ODD"), 1);
    EXPECT_EQ(boxes, std::vector<std::string>{"Copy bitmap fail."});
    AfxSetMessageBoxHook([](const MessageBoxRequest& r) {
        ADD_FAILURE() << "unexpected message: " << r.text.c_str();
        return IDOK;
    });
    const int columns[] = {5, 45, 55, 95, 105, 115};
    const COLORREF want[] = {RGB(255, 0, 0), RGB(0, 0, 255), RGB(255, 0, 0),
                             RGB(0, 0, 255), RGB(255, 0, 0), RGB(255, 0, 0)};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(GetPixel(dc, columns[i], 10), want[i]) << columns[i];
    EXPECT_EQ(GetPixel(dc, 60, 30), RGB(255, 255, 255)) << "a zero-width picture paints nothing";
    EXPECT_EQ(GetPixel(dc, 60, 50), RGB(255, 0, 0)) << "the huge subview is painted where the target is";
    SelectObject(dc, old);
    DeleteObject(canvas);
    DeleteDC(dc);
    CSkinLayout::Free();
    SetSkinImageSource(art_.c_str(), kSkinImageFolder);
    ASSERT_EQ(CSkinLayout::Load("skin\\skin1024x768.xml"), 1);
}

// The page base: creation recipe, notifications, controls shown at once, busy cursor, and
// output names.
class ParentOfPage : public CWnd {
public:
    std::vector<std::string> log;
    BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override {
        if (message == WM_NOTIFY) {
            const auto* record = reinterpret_cast<const PageNotifyRecord*>(lParam);
            log.push_back(std::to_string(wParam) + " " + std::to_string(record->hdr.code) + " " +
                          reinterpret_cast<const char*>(record->data));
            *result = 42;
            return TRUE;
        }
        return CWnd::OnWndMsg(message, wParam, lParam, result);
    }
};

class TestPage : public CEncBasePage {
public:
    CString folder;
    bool IsDirectory(const char* path) const override { return CEncBasePage::IsDirectory(path); }
    CString FolderSetting(BOOL) const override { return folder; }
};

TEST_F(SkinWindowTest, PageBaseNotifiesShowsAndNamesFiles) {
    ParentOfPage owner;
    ASSERT_TRUE(owner.CreateEx(0, nullptr, "owner", WS_POPUP, CRect(0, 0, 200, 200), nullptr, 0));
    TestPage page;
    const CRect rect(5, 6, 105, 86);
    ASSERT_TRUE(page.Create(&rect, 3001, &owner));
    char text[32] = {};
    GetWindowTextA(page.m_hWnd, text, sizeof text);
    EXPECT_STREQ(text, "EncBasePage");
    EXPECT_TRUE(page.GetStyle() & WS_CLIPCHILDREN);
    EXPECT_FALSE(page.GetStyle() & WS_VISIBLE);
    const char* clip = "C:\\clips\\one.avi";
    EXPECT_EQ(page.NotifyParent(2025, reinterpret_cast<LPARAM>(clip)), 42);
    EXPECT_EQ(owner.log, std::vector<std::string>{"3001 2025 C:\\clips\\one.avi"});
    page.ShowControls();  // all slots empty: nothing happens
    CStatic child;
    ASSERT_TRUE(child.Create("x", WS_CHILD, CRect(0, 0, 10, 10), &page, 7));
    page.m_children[3] = &child;
    page.ShowControls();
    EXPECT_TRUE(child.GetStyle() & WS_VISIBLE);

    // The busy cursor is this window's own: the shared class cursor stays the arrow.
    page.SetBusyCursor(TRUE);
    EXPECT_EQ(reinterpret_cast<HCURSOR>(GetClassLongPtrA(page.m_hWnd, GCLP_HCURSOR)), LoadCursor(nullptr, IDC_ARROW));
    EXPECT_TRUE(
        page.SendMessage(WM_SETCURSOR, reinterpret_cast<WPARAM>(page.m_hWnd), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)));
    EXPECT_EQ(GetCursor(), LoadCursor(nullptr, IDC_WAIT));
    page.SetBusyCursor(FALSE);

    // Output names.
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    const std::string dir = std::string(temp) + "skin_page_" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(dir.c_str(), nullptr);
    page.folder = (dir + "\\").c_str();
    EXPECT_EQ(std::string(page.GetTargetFolder(FALSE).c_str()), dir + "\\Default");
    page.folder = dir.c_str();
    EXPECT_EQ(std::string(page.GetTargetFolder(TRUE).c_str()), dir + "\\Default");
    std::vector<std::string> boxes;
    AfxSetMessageBoxHook([&](const MessageBoxRequest& r) {
        boxes.push_back(std::to_string(r.id));
        return IDOK;
    });
    page.folder = (dir + "\\gone").c_str();
    EXPECT_TRUE(page.GetTargetFolder(FALSE).IsEmpty());
    EXPECT_EQ(boxes, std::vector<std::string>{"3126"});
    const std::string base = dir + "\\X.avi";
    EXPECT_EQ(std::string(MakeUniqueFileName(base.c_str()).c_str()), base);
    std::ofstream(base) << "x";
    EXPECT_EQ(std::string(MakeUniqueFileName(base.c_str()).c_str()), dir + "\\X(0).avi");
    std::ofstream(dir + "\\X(0).avi") << "x";
    EXPECT_EQ(std::string(MakeUniqueFileName(base.c_str()).c_str()), dir + "\\X(1).avi");
    std::ofstream(dir + "\\B") << "x";
    EXPECT_EQ(std::string(MakeUniqueFileName((dir + "\\B").c_str()).c_str()), dir + "\\B(0)");
    for (const char* f : {"X.avi", "X(0).avi", "B"})
        DeleteFileA((dir + "\\" + f).c_str());
    RemoveDirectoryA(dir.c_str());
    char root[4];
    DriveRootOf("D:\\Video", root);
    EXPECT_STREQ(root, "D:\\");
    DriveRootOf("\\\\server\\share", root);
    EXPECT_STREQ(root, "\\\\\\") << "a share gives three backslashes";
    AfxSetMessageBoxHook([](const MessageBoxRequest& r) {
        ADD_FAILURE() << "unexpected message: " << r.text.c_str();
        return IDOK;
    });
    child.DestroyWindow();
    page.DestroyWindow();
    owner.DestroyWindow();
}

}  // namespace

namespace {

COLORREF PixelOf(HBITMAP bitmap, int x, int y) {
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, bitmap);
    const COLORREF c = GetPixel(dc, x, y);
    SelectObject(dc, old);
    DeleteDC(dc);
    return c;
}

int WidthOf(HBITMAP bitmap) {
    BITMAP info{};
    GetObjectA(bitmap, sizeof info, &info);
    return info.bmWidth;
}

TEST_F(SkinWindowTest, StateStripsComeFromTheNormalImagesFile) {
    // cells.png: four 10x8 cells (red, green, blue, yellow), then four more at x = 60, 70,
    // 80, 90 (cyan, white, grey, olive). eight.png: eight cells side by side.
    ASSERT_EQ(testsupport::RunShell(
                  "convert -size 100x8 xc:black -fill red -draw 'rectangle 0,0 9,7' -fill lime -draw 'rectangle 10,0 "
                  "19,7' -fill blue -draw 'rectangle 20,0 29,7' -fill yellow -draw 'rectangle 30,0 39,7' -fill cyan "
                  "-draw 'rectangle 60,0 69,7' -fill white -draw 'rectangle 70,0 79,7' -fill gray50 -draw 'rectangle "
                  "80,0 89,7' -fill olive -draw 'rectangle 90,0 99,7' PNG24:cells.png && convert -size 80x8 "
                  "xc:red -fill blue -draw 'rectangle 40,0 79,7' PNG24:eight.png"),
              0);
    const std::string folder = testsupport::FixturePath("");
    ASSERT_EQ(SetSkinImageSource(folder.c_str(), kSkinImageFolder), 1);
    SkinButtonNode node;
    node.width = 10;
    node.height = 8;
    for (SkinImage* image : node.Images()) {
        image->source = "cells.png";
        image->width = 10;
        image->height = 8;
    }
    node.check.left = 60;
    node.hoverDown.left = 70;
    node.downCheck.left = 80;
    node.disabledCheck.left = 90;

    HBITMAP push = BuildButtonStateStrip(&node);
    ASSERT_NE(push, nullptr);
    EXPECT_EQ(WidthOf(push), 40);
    EXPECT_EQ(PixelOf(push, 35, 4), RGB(255, 255, 0));
    DeleteObject(push);

    node.toggle = 1;
    HBITMAP toggle = BuildButtonStateStrip(&node);
    ASSERT_NE(toggle, nullptr);
    EXPECT_EQ(WidthOf(toggle), 80);
    const COLORREF cells[8] = {RGB(255, 0, 0),   RGB(0, 255, 0),     RGB(0, 0, 255),     RGB(255, 255, 0),
                               RGB(0, 255, 255), RGB(255, 255, 255), RGB(127, 127, 127), RGB(128, 128, 0)};
    for (int i = 0; i < 8; ++i) {
        const COLORREF c = PixelOf(toggle, i * 10 + 5, 4);
        EXPECT_LE(std::abs(GetRValue(c) - GetRValue(cells[i])) + std::abs(GetGValue(c) - GetGValue(cells[i])) +
                      std::abs(GetBValue(c) - GetBValue(cells[i])),
                  3)
            << "cell " << i;
    }
    DeleteObject(toggle);

    // A file exactly eight cells wide is the strip as it stands.
    node.normal.source = "eight.png";
    HBITMAP whole = BuildButtonStateStrip(&node);
    ASSERT_NE(whole, nullptr);
    EXPECT_EQ(WidthOf(whole), 80);
    EXPECT_EQ(PixelOf(whole, 75, 4), RGB(0, 0, 255));
    EXPECT_EQ(PixelOf(whole, 45, 4), RGB(0, 0, 255)) << "cell 4 is the file's own, not the check image's";
    DeleteObject(whole);

    EXPECT_EQ(SetSkinImageSource("no_such_library.dll", kSkinImageLibrary), 0);
    EXPECT_EQ(SetSkinImageSource(folder.c_str(), 3), 0);
    EXPECT_EQ(GetSkinImageFolder(), std::string(folder.c_str()).substr(0, folder.size() - 1));
    SetSkinImageSource(art_.c_str(), kSkinImageFolder);
}

TEST_F(SkinWindowTest, StaticTextClicksAndKeepsItsOwnFont) {
    SkinControlBinding rows[] = {Row("IDC_STATIC_PROFILE_TYPE", 1007)};
    CreateSkinStatics(&parent, kView, rows, 1, 1);
    auto* label = static_cast<CGStatic*>(rows[0].control);
    ASSERT_NE(label, nullptr);
    HFONT first = label->GetOwnFont();
    ASSERT_NE(first, nullptr);
    LOGFONTA lf{};
    lf.lfHeight = 20;
    HFONT mine = CreateFontIndirectA(&lf);
    label->SetFont(mine, TRUE);
    EXPECT_EQ(GetObjectType(first), 0u) << "the earlier own font is deleted";
    HFONT own = label->GetOwnFont();
    EXPECT_NE(own, mine);
    DeleteObject(mine);
    EXPECT_EQ(reinterpret_cast<HFONT>(label->SendMessage(WM_GETFONT)), own);
    EXPECT_NE(GetObjectType(own), 0u) << "the caller's font was the caller's";
    label->SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
    Pump();
    EXPECT_EQ(parent.log, std::vector<std::string>{"command 1007 0"});

    // New text over the page's own background repaints the page under the label first; a
    // label with its own picture leaves the page alone.
    SkinControlBinding fields[] = {Row("IDC_STATIC_PROFILE_VALUE_CODEC", 1027)};
    CreateSkinStatics(&parent, kView, fields, 1, 1);
    Pump();
    int before = parent.paints;
    label->SetText("Codec:");
    EXPECT_EQ(parent.paints, before + 1);
    before = parent.paints;
    static_cast<CGStatic*>(fields[0].control)->SetText("MPEG-2");
    EXPECT_EQ(parent.paints, before);
    char text[32] = {};
    GetWindowTextA(fields[0].control->m_hWnd, text, sizeof text);
    EXPECT_STREQ(text, "MPEG-2");
    DestroySkinStatics(kView, fields, 1);
    DestroySkinStatics(kView, rows, 1);
}

TEST_F(SkinWindowTest, StretchBitmapDrawsTheNodesRectangleFromTheOrigin) {
    // The track strip's second cell (16 x 16 of 0x18222E at x 16), stretched to left + width.
    SkinImage node;
    node.source = "tk_sb_track.png";
    node.left = 16;
    node.width = 16;
    node.height = 16;
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP target = CreateCompatibleBitmap(screen, 64, 32);
    ReleaseDC(nullptr, screen);
    HGDIOBJ old = SelectObject(dc, target);
    RECT all{0, 0, 64, 32};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    ASSERT_EQ(StretchBitmap(dc, &node), 1);
    EXPECT_EQ(GetPixel(dc, 0, 0), RGB(0x18, 0x22, 0x2E));
    EXPECT_EQ(GetPixel(dc, 31, 15), RGB(0x18, 0x22, 0x2E)) << "stretched to 32 x 16";
    EXPECT_EQ(GetPixel(dc, 32, 0), RGB(255, 255, 255));
    EXPECT_EQ(GetPixel(dc, 0, 16), RGB(255, 255, 255));
    SkinImage none;
    EXPECT_EQ(StretchBitmap(dc, &none), 0);
    SelectObject(dc, old);
    DeleteObject(target);
    DeleteDC(dc);
}

TEST_F(SkinWindowTest, MemoryDcCoversTheClipBoxAndCopiesBack) {
    HDC screen = GetDC(nullptr);
    CDC target;
    target.CreateCompatibleDC(screen);
    HBITMAP canvas = CreateCompatibleBitmap(screen, 50, 40);
    ReleaseDC(nullptr, screen);
    HGDIOBJ old = target.SelectObject(canvas);
    RECT all{0, 0, 50, 40};
    FillRect(target, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    HRGN clip = CreateRectRgn(5, 5, 25, 20);
    SelectClipRgn(target, clip);
    DeleteObject(clip);
    {
        CMemDC memory(&target);
        EXPECT_EQ(memory.Rect(), CRect(5, 5, 25, 20));
        HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
        FillRect(memory, &all, red);
        DeleteObject(red);
        EXPECT_EQ(GetPixel(target, 10, 10), RGB(0, 0, 0)) << "nothing reaches the target before the end";
    }
    SelectClipRgn(target, nullptr);
    EXPECT_EQ(GetPixel(target, 10, 10), RGB(255, 0, 0));
    EXPECT_EQ(GetPixel(target, 30, 30), RGB(0, 0, 0));
    target.SelectObject(old);
    DeleteObject(canvas);
}

}  // namespace
