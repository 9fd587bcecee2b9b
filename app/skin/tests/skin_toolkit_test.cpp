// The second half of the skinned controls under the test display, made by the control
// factory from the default skin's TOOLKIT_GALLERY view: the messages each sends for
// presses, drags, releases, keys and the wheel, the volume popup over a model sound card,
// the room list on a real list view, and screenshots of the main states.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "app/services/mixer.h"
#include "app/services/resource_library.h"
#include "app/skin/enc_base_page.h"
#include "app/skin/skin_edits.h"
#include "app/skin/skin_factory.h"
#include "app/skin/skin_images.h"
#include "app/skin/skin_layout.h"
#include "app/skin/skin_list.h"
#include "app/skin/skin_scrollbar.h"
#include "app/skin/skin_sliders.h"
#include "app/skin/skin_volume.h"
#include "app/skin/tests/one_card_mixer.h"
#include "app/skin/tests/window_support.h"
#include "framework/app.h"
#include "framework/resources.h"
#include "tests/support/screen.h"
#include "tests/support/shell.h"

namespace {

constexpr const char* kView = "TOOLKIT_GALLERY";

std::string Hex(int code) {
    char text[16];
    std::snprintf(text, sizeof text, "%X", code);
    return text;
}

// A parent that logs what its controls tell it, one line per message.
class LogParent : public CWnd {
public:
    std::vector<std::string> log;
    std::vector<std::string> Take() {
        Pump();
        std::vector<std::string> out;
        out.swap(log);
        return out;
    }
    BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override {
        switch (message) {
            case WM_HSCROLL:
                log.push_back("hscroll " + std::to_string(LOWORD(wParam)));
                return TRUE;
            case WM_VSCROLL:
                log.push_back("vscroll " + std::to_string(LOWORD(wParam)));
                return TRUE;
            case WM_COMMAND:
                log.push_back("command " + std::to_string(LOWORD(wParam)) + " " + std::to_string(HIWORD(wParam)));
                return TRUE;
            case WM_NOTIFY: {
                const auto* header = reinterpret_cast<const NMHDR*>(lParam);
                log.push_back("notify " + std::to_string(static_cast<int>(header->code)));
                return TRUE;
            }
            case WM_ERASEBKGND:
                *result = 1;
                return TRUE;
            case WM_PAINT: {
                PAINTSTRUCT ps;
                HDC dc = BeginPaint(m_hWnd, &ps);
                FillRect(dc, &ps.rcPaint, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
                EndPaint(m_hWnd, &ps);
                return TRUE;
            }
            default:
                if (message >= 0x800 && message < 0x1800 && message != WM_GLIST_SCROLLED) {
                    // The scroll bar's code travels in lParam; the others' in wParam.
                    const auto value = message == WM_GSCROLLBAR_CHANGED ? static_cast<WPARAM>(lParam) : wParam;
                    log.push_back("msg " + Hex(static_cast<int>(message)) + " " + std::to_string(value));
                    return TRUE;
                }
                return CWnd::OnWndMsg(message, wParam, lParam, result);
        }
    }
};

SkinControlBinding Row(const char* name, uint32_t id) {
    SkinControlBinding row{};
    std::snprintf(row.name, sizeof row.name, "%s", name);
    row.id = id;
    return row;
}

using Log = std::vector<std::string>;

// The resource library and the default skin's art (ResourceLibraryTest), and its layout.
class SkinToolkitTest : public ResourceLibraryTest {
protected:
    static void SetUpTestSuite() {
        ResourceLibraryTest::SetUpTestSuite();
        AfxSetMessageBoxHook([](const MessageBoxRequest& r) {
            ADD_FAILURE() << "unexpected message: " << r.text.c_str();
            return IDOK;
        });
        ASSERT_EQ(CSkinLayout::Load("skin\\skin1024x768.xml"), 1);
    }
    static void TearDownTestSuite() {
        CSkinLayout::Free();
        AfxSetMessageBoxHook(nullptr);
        ResourceLibraryTest::TearDownTestSuite();
    }
    void SetUp() override {
        ASSERT_TRUE(parent.CreateEx(0, nullptr, "toolkit", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN,
                                    CRect(0, 0, 640, 400), nullptr, 0));
        SetWindowPos(parent.m_hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        Pump();
    }
    void TearDown() override { parent.DestroyWindow(); }

    static void Mouse(CWnd* wnd, UINT message, int x, int y, WPARAM keys = 0) {
        wnd->SendMessage(message, keys, MAKELPARAM(x, y));
    }
    static void Click(CWnd* wnd, int x, int y) {
        Mouse(wnd, WM_MOUSEMOVE, x, y);
        Mouse(wnd, WM_LBUTTONDOWN, x, y, MK_LBUTTON);
        Mouse(wnd, WM_LBUTTONUP, x, y);
    }
    static void Type(CWnd* wnd, const char* text) {
        for (const char* c = text; *c; ++c)
            wnd->SendMessage(WM_CHAR, static_cast<WPARAM>(*c), 0);
    }
    static void Key(CWnd* wnd, UINT vk) {
        wnd->SendMessage(WM_KEYDOWN, vk, 0);
        wnd->SendMessage(WM_KEYUP, vk, 0);
    }
    static void Wheel(CWnd* wnd, int delta) { wnd->SendMessage(WM_MOUSEWHEEL, MAKEWPARAM(0, delta), 0); }

    LogParent parent;
};

// Pixels of the last screenshot in a rectangle that have one colour (within 8 per channel).
int CountColour(const std::string& png, const RECT& r, testsupport::Rgb rgb) {
    const std::string out = testsupport::UniqueName("colours") + ".txt";
    char command[400];
    std::snprintf(command, sizeof command,
                  "convert '%s' -crop %ldx%ld+%ld+%ld +repage -depth 8 txt:- | tail -n +2 | "
                  "awk '{gsub(/[()]/,\"\",$2); split($2,c,\",\"); d=(c[1]-%d)^2+(c[2]-%d)^2+(c[3]-%d)^2; "
                  "if (d<=192) n++} END {print n+0}' >'%s'",
                  png.c_str(), r.right - r.left, r.bottom - r.top, r.left, r.top, rgb.r, rgb.g, rgb.b, out.c_str());
    if (testsupport::RunShell(command) != 0) return -1;
    const std::string text = testsupport::ReadFixtureFile(out);
    std::remove(testsupport::FixturePath(out).c_str());
    return std::atoi(text.c_str());
}

RECT ScreenRect(CWnd* wnd) {
    RECT r;
    wnd->GetWindowRect(&r);
    return r;
}

// ---- Factory ----

TEST_F(SkinToolkitTest, FactoryPlacesEveryControlAndGivesTheImagesBack) {
    SkinControlBinding edits[] = {Row("T_LED", 301), Row("T_TIME", 302), Row("T_PLAIN", 303)};
    SkinControlBinding codes[] = {Row("T_TIMECODE", 304)};
    SkinControlBinding bars[] = {Row("T_HSCROLL", 305)};
    SkinControlBinding selects[] = {Row("T_SELECT", 306)};
    SkinControlBinding magnifies[] = {Row("T_MAGNIFY", 307), Row("NO_SUCH", 308)};
    for (int round = 0; round < 2; ++round) {
        CreateSkinEdits(&parent, kView, edits, 3);
        CreateSkinTimeCodeEdits(&parent, kView, codes, 1);
        CreateSkinNewScrollBars(&parent, kView, bars, 1);
        CreateSkinSelectSliders(&parent, kView, selects, 1);
        CreateSkinMagnifySliders(&parent, kView, magnifies, 2);
        EXPECT_NE(dynamic_cast<CGLEDEdit*>(edits[0].control), nullptr);
        EXPECT_NE(dynamic_cast<CGSimpleTimeEdit*>(edits[1].control), nullptr);
        EXPECT_EQ(edits[2].control, nullptr) << "an edit of type 0 gets no control";
        EXPECT_EQ(magnifies[1].control, nullptr);
        struct Expect {
            SkinControlBinding* row;
            SkinKind kind;
            int extraWidth;
        };
        for (const Expect& e :
             {Expect{&edits[0], SkinKind::Edit, 0}, Expect{&edits[1], SkinKind::Edit, 0},
              Expect{&codes[0], SkinKind::SpinTimeEdit, 20}, Expect{&selects[0], SkinKind::SelectSlider, 0},
              Expect{&magnifies[0], SkinKind::MagnifySlider, 0}}) {
            ASSERT_NE(e.row->control, nullptr) << e.row->name;
            SkinNode* node = FindNodeInView(CSkinLayout::FindView(kView), e.kind, e.row->name);
            RECT r;
            e.row->control->GetWindowRect(&r);
            MapWindowPoints(nullptr, parent.m_hWnd, reinterpret_cast<POINT*>(&r), 2);
            EXPECT_EQ(r.left, node->left) << e.row->name;
            EXPECT_EQ(r.top, node->top) << e.row->name;
            EXPECT_EQ(r.right - r.left, node->width + e.extraWidth) << e.row->name;
            EXPECT_EQ(r.bottom - r.top, node->height) << e.row->name;
            EXPECT_EQ(e.row->control->GetDlgCtrlID(), static_cast<int>(e.row->id));
        }
        // The scroll bar: two 16-pixel buttons and the 200-pixel track.
        RECT bar;
        bars[0].control->GetWindowRect(&bar);
        EXPECT_EQ(bar.right - bar.left, 232);
        EXPECT_EQ(bar.bottom - bar.top, 16);
        auto* edit = static_cast<SkinEditNode*>(FindNodeInView(CSkinLayout::FindView(kView), SkinKind::Edit, "T_LED"));
        EXPECT_NE(edit->ledNumber.bitmap, nullptr);
        DestroySkinEdits(kView, edits, 3);
        DestroySkinTimeCodeEdits(kView, codes, 1);
        DestroySkinNewScrollBars(kView, bars, 1);
        DestroySkinSelectSliders(kView, selects, 1);
        DestroySkinMagnifySliders(kView, magnifies, 2);
        for (SkinControlBinding* row : {&edits[0], &edits[1], &codes[0], &bars[0], &selects[0], &magnifies[0]})
            EXPECT_EQ(row->control, nullptr);
        EXPECT_EQ(edit->ledNumber.bitmap, nullptr) << "the last user gave the LED picture back";
        auto* select = static_cast<SkinSelectSliderNode*>(
            FindNodeInView(CSkinLayout::FindView(kView), SkinKind::SelectSlider, "T_SELECT"));
        for (SkinImage* image : select->Images())
            EXPECT_EQ(image->bitmap, nullptr) << image->source;
    }
}

// ---- Edits ----

TEST_F(SkinToolkitTest, LedEditTypesDigitsAndReportsEnterAndFocusLoss) {
    SkinControlBinding edits[] = {Row("T_LED", 301)};
    CreateSkinEdits(&parent, kView, edits, 1);
    auto* led = static_cast<CGLEDEdit*>(edits[0].control);
    ASSERT_NE(led, nullptr);
    EXPECT_EQ(led->Model().Cells(), 8);
    EXPECT_EQ(std::string(led->GetText()), "00000000");
    Click(led, 10, 5);
    EXPECT_EQ(GetFocus(), led->m_hWnd);
    Type(led, "12x34");
    EXPECT_EQ(std::string(led->GetText()), "00001234");
    EXPECT_EQ(parent.Take(), (Log{"command 301 768", "command 301 768", "command 301 768", "command 301 768"}));
    // The highlighted panel while editing, the normal one after Enter.
    Pump(100);
    const RECT r = ScreenRect(led);
    ASSERT_TRUE(testsupport::CaptureScreen("toolkit_led_editing.png"));
    EXPECT_GT(CountColour("toolkit_led_editing.png", r, {0x9F, 0xE8, 0xFF}), 20);
    EXPECT_EQ(CountColour("toolkit_led_editing.png", r, {0x56, 0xC8, 0xF0}), 0);
    led->SendMessage(WM_CHAR, VK_RETURN, 0);
    EXPECT_EQ(parent.Take(), (Log{"msg 178A 13"}));
    Pump(100);
    ASSERT_TRUE(testsupport::CaptureScreen("toolkit_led_normal.png"));
    EXPECT_EQ(CountColour("toolkit_led_normal.png", r, {0x9F, 0xE8, 0xFF}), 0);
    EXPECT_GT(CountColour("toolkit_led_normal.png", r, {0x56, 0xC8, 0xF0}), 20);
    ::SetFocus(parent.m_hWnd);
    EXPECT_EQ(parent.Take(), (Log{"msg 178A 8"}));
    led->Enable(FALSE);
    Pump(100);
    ASSERT_TRUE(testsupport::CaptureScreen("toolkit_led_disabled.png"));
    EXPECT_GT(CountColour("toolkit_led_disabled.png", r, {0x46, 0x50, 0x5C}), 20);
    DestroySkinEdits(kView, edits, 1);
}

TEST_F(SkinToolkitTest, SimpleTimeEditStepsTypesAndEndsByItsTimer) {
    SkinControlBinding edits[] = {Row("T_TIME", 302)};
    CreateSkinEdits(&parent, kView, edits, 1);
    auto* time = static_cast<CGSimpleTimeEdit*>(edits[0].control);
    ASSERT_NE(time, nullptr);
    EXPECT_NE(time->GetFieldCursor(), nullptr);
    EXPECT_EQ(GetClassLongPtrA(time->m_hWnd, GCLP_HCURSOR), reinterpret_cast<LONG_PTR>(LoadCursor(nullptr, IDC_ARROW)))
        << "the shared class cursor stays as it was";
    time->SetText("00:00:59");
    Click(time, 80, 5);  // the seconds third
    EXPECT_EQ(time->InputTimer(), 1u);
    Key(time, VK_UP);
    EXPECT_EQ(std::string(time->GetText()), "00:01:00");
    EXPECT_EQ(time->ArrowTimer(), 4u);
    Click(time, 40, 5);  // minutes
    Type(time, "75");
    EXPECT_EQ(std::string(time->GetText()), "00:59:00");
    EXPECT_EQ(time->GetMinutes(), 59);
    Wheel(time, -120);
    EXPECT_EQ(time->InputTimer(), 2u);
    EXPECT_EQ(std::string(time->GetText()), "00:58:59");
    parent.Take();
    // The input timer's expiry gives the focus back and the parent hears EN_KILLFOCUS.
    time->SendMessage(WM_TIMER, 2, 0);
    EXPECT_EQ(GetFocus(), parent.m_hWnd);
    EXPECT_EQ(parent.Take(), (Log{"command 302 512"}));
    EXPECT_EQ(time->Model().HighlightFirst(), -1);
    DestroySkinEdits(kView, edits, 1);
}

TEST_F(SkinToolkitTest, TimeCodeEditSpinsAndHonoursReadOnly) {
    SkinControlBinding codes[] = {Row("T_TIMECODE", 304)};
    CreateSkinTimeCodeEdits(&parent, kView, codes, 1);
    auto* code = static_cast<CGTimeCodeEdit*>(codes[0].control);
    ASSERT_NE(code, nullptr);
    code->SetStandardValue(0);
    code->SetTime(599'999'999);
    EXPECT_EQ(std::string(code->GetText()), "00:01:00:00");
    // The increment button posts a step; the edit steps its frames field.
    CGTimeSpinButton& up = code->IncrementButton();
    Click(&up, 4, 4);
    Pump();
    EXPECT_EQ(std::string(code->GetText()), "00:01:00:01");
    int64_t time = 0;
    code->GetTime(&time);
    EXPECT_EQ(time, 60 * 10'000'000LL + 399'999);
    parent.Take();

    code->SetReadOnly(TRUE);
    Click(code, 5, 5);
    Type(code, "12");
    Key(code, VK_UP);
    Wheel(code, 120);
    Click(&up, 4, 4);
    Pump();
    EXPECT_EQ(std::string(code->GetText()), "00:01:00:01");
    code->SendMessage(WM_CHAR, VK_RETURN, 0);
    ::SetFocus(code->m_hWnd);
    ::SetFocus(parent.m_hWnd);
    const Log log = parent.Take();
    EXPECT_NE(std::find(log.begin(), log.end(), "msg 178B 13"), log.end());
    EXPECT_NE(std::find(log.begin(), log.end(), "command 304 512"), log.end()) << "focus loss is still reported";
    EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const std::string& s) { return s == "command 304 768"; }), 0);
    DestroySkinTimeCodeEdits(kView, codes, 1);
}

// ---- Sliders ----

TEST_F(SkinToolkitTest, MagnifySliderDragWheelAndKeys) {
    SkinControlBinding rows[] = {Row("T_MAGNIFY", 307)};
    CreateSkinMagnifySliders(&parent, kView, rows, 1);
    auto* slider = static_cast<CGMagnifySlider*>(rows[0].control);
    ASSERT_NE(slider, nullptr);
    slider->SetRange64(0, 100'000'000, TRUE);
    slider->SetWheelBounds(0, 100'000'000, FALSE);
    slider->SetPos(50'000'000, FALSE);
    const int centre = slider->Model().ThumbCentre();
    EXPECT_EQ(centre, 150);  // track 8..292 (marks 8 wide): 8 + 142
    parent.Take();
    // Press on the thumb, drag past the end, release: 5 on every move and one 8.
    Mouse(slider, WM_MOUSEMOVE, centre, 30);
    Mouse(slider, WM_LBUTTONDOWN, centre, 30, MK_LBUTTON);
    Mouse(slider, WM_MOUSEMOVE, centre + 40, 30, MK_LBUTTON);
    Mouse(slider, WM_MOUSEMOVE, 400, 30, MK_LBUTTON);
    EXPECT_EQ(GetCapture(), slider->m_hWnd);
    Mouse(slider, WM_LBUTTONUP, 400, 30);
    EXPECT_EQ(parent.Take(), (Log{"hscroll 5", "hscroll 5", "hscroll 8"}));
    EXPECT_EQ(slider->GetPos(), 100'000'000);
    EXPECT_EQ(GetCapture(), nullptr);
    // Three wheel notches: three 5s, then one 8 a second after the last.
    for (int i = 0; i < 3; ++i)
        Wheel(slider, 120);
    EXPECT_EQ(slider->GetPos(), 70'000'000);
    EXPECT_EQ(parent.Take(), (Log{"hscroll 5", "hscroll 5", "hscroll 5"}));
    EXPECT_TRUE(slider->WheelTimerRunning());
    Pump(1300);
    EXPECT_EQ(parent.Take(), (Log{"hscroll 8"}));
    Key(slider, VK_HOME);
    Key(slider, VK_LEFT);
    EXPECT_EQ(parent.Take(), (Log{"hscroll 8"}));
    EXPECT_EQ(slider->GetPos(), 0);
    // A track press jumps the thumb to the press point on release.
    Click(slider, 200, 30);
    EXPECT_EQ(parent.Take(), (Log{"hscroll 4", "hscroll 8"}));
    EXPECT_EQ(slider->Model().ThumbCentre(), 200);
    slider->ShowThumb(FALSE);
    Wheel(slider, 120);
    EXPECT_TRUE(parent.Take().empty());
    // Moved and widened: the thumb and the region follow the new track.
    slider->ShowThumb(TRUE);
    slider->SetPos(50'000'000, FALSE);
    slider->MoveTo(8, 100, 500, 40);
    EXPECT_EQ(slider->Model().TrackRight(), 492);
    EXPECT_EQ(slider->Model().ThumbCentre(), 250);
    RECT moved;
    slider->GetWindowRect(&moved);
    EXPECT_EQ(moved.right - moved.left, 500);
    DestroySkinMagnifySliders(kView, rows, 1);
}

TEST_F(SkinToolkitTest, SelectSliderGripAndRegionEdits) {
    SkinControlBinding rows[] = {Row("T_SELECT", 306)};
    CreateSkinSelectSliders(&parent, kView, rows, 1);
    auto* slider = static_cast<CGSelectSlider*>(rows[0].control);
    ASSERT_NE(slider, nullptr);
    slider->SetSelection(100, 200);
    const int gripX = (slider->Model().GripLeft() + slider->Model().GripRight()) / 2;
    parent.Take();
    Mouse(slider, WM_MOUSEMOVE, gripX, 16);
    Mouse(slider, WM_LBUTTONDOWN, gripX, 16, MK_LBUTTON);
    Mouse(slider, WM_MOUSEMOVE, gripX + 30, 16, MK_LBUTTON);
    Mouse(slider, WM_MOUSEMOVE, gripX + 400, 16, MK_LBUTTON);
    Mouse(slider, WM_LBUTTONUP, gripX + 400, 16);
    EXPECT_EQ(parent.Take(), (Log{"hscroll 6025", "hscroll 6025", "hscroll 8"}));
    int64_t start = 0, end = 0;
    slider->GetSelection(&start, &end);
    EXPECT_EQ(end, 500);
    EXPECT_EQ(slider->Model().SelectionRight(), slider->Model().TrackRight());
    // A region's edge: nothing on the press, 9 on every move, only 8 on release.
    slider->SetRegion(0, 100, 300);
    const int left = slider->Model().Region(0).left;
    Mouse(slider, WM_MOUSEMOVE, left - 3, 10);
    Mouse(slider, WM_LBUTTONDOWN, left - 3, 10, MK_LBUTTON);
    EXPECT_TRUE(parent.Take().empty());
    Mouse(slider, WM_MOUSEMOVE, left - 30, 10, MK_LBUTTON);
    Mouse(slider, WM_MOUSEMOVE, left - 40, 10, MK_LBUTTON);
    Mouse(slider, WM_LBUTTONUP, left - 40, 10);
    EXPECT_EQ(parent.Take(), (Log{"hscroll 9", "hscroll 9", "hscroll 8"}));
    int64_t regionStart = 0, regionEnd = 0;
    slider->GetRegion(0, &regionStart, &regionEnd);
    EXPECT_LT(regionStart, 100);
    EXPECT_EQ(regionEnd, 300);
    int64_t position = 0;
    EXPECT_TRUE(slider->GetPos(&position));
    EXPECT_EQ(position, regionStart) << "the position follows the dragged edge";
    EXPECT_EQ(slider->GetRegionStart(3), -1);
    slider->ShowThumb(FALSE);
    EXPECT_FALSE(slider->GetPos(&position));
    DestroySkinSelectSliders(kView, rows, 1);
}

TEST_F(SkinToolkitTest, RegionSliderFillsLikeAProgressBar) {
    SkinSimpleSliderNode* node = CSkinLayout::FindSimpleSlider(kView, "ALL", "T_REGION");
    ASSERT_NE(node, nullptr);
    CGRegionSlider slider;
    ASSERT_TRUE(slider.Create(WS_VISIBLE | TBS_NOTICKS | TBS_TOP,
                              CRect(node->left, node->top, node->left + node->width, node->top + node->height), &parent,
                              3038));
    HBITMAP back = LoadSkinBitmap("tk_slider_bg.png");
    HBITMAP fill = LoadSkinBitmap("tk_region.png");
    slider.SetBackgroundBitmap(back);
    slider.SetRange(0, 100, TRUE);
    slider.SetRegionCount(1);
    slider.SetRegionBitmap(fill, 0, FALSE);
    DeleteObject(back);
    DeleteObject(fill);
    slider.SetEdgeDragEnabled(FALSE);
    slider.SetMoveDragEnabled(FALSE);
    slider.SetRegionEnd(0, 50);
    slider.SetRegionCount(11);
    EXPECT_EQ(slider.Model().RegionCount(), 1);
    const skin::SliderRegion& region = slider.Model().Region(0);
    CRect channel;
    slider.SendMessage(TBM_GETCHANNELRECT, 0, reinterpret_cast<LPARAM>(&channel));
    // Positions map over the channel less the native thumb's length.
    EXPECT_NEAR(region.right - region.left, channel.Width() / 2, 12);
    EXPECT_GT(region.right - region.left, 100);
    // With its drags off a press still reports 5 and the release 4; the region stays.
    parent.Take();
    Click(&slider, (region.left + region.right) / 2, 5);
    EXPECT_EQ(parent.Take(), (Log{"hscroll 5", "hscroll 4"}));
    Mouse(&slider, WM_MOUSEMOVE, region.right - 2, 5);
    Mouse(&slider, WM_LBUTTONDOWN, region.right + 2, 5, MK_LBUTTON);
    Mouse(&slider, WM_MOUSEMOVE, region.right + 60, 5, MK_LBUTTON);
    Mouse(&slider, WM_LBUTTONUP, region.right + 60, 5);
    int64_t start = 0, end = 0;
    slider.GetRegion(0, &start, &end);
    EXPECT_EQ(end, 50);
    Pump(100);
    const RECT r = ScreenRect(&slider);
    ASSERT_TRUE(testsupport::CaptureScreen("toolkit_region.png"));
    // The fill's first piece at the bar's left, nothing of it past the middle.
    const int y = r.bottom - 4;
    const RECT filled{r.left + region.left + 1, y, r.left + region.left + 9, y + 1};
    const RECT empty{r.left + region.right + 4, y, r.left + region.right + 40, y + 1};
    EXPECT_EQ(CountColour("toolkit_region.png", filled, {0xC0, 0x50, 0x30}), 8);
    EXPECT_EQ(CountColour("toolkit_region.png", empty, {0xC0, 0x50, 0x30}), 0);
    EXPECT_EQ(CountColour("toolkit_region.png", empty, {0x40, 0xB0, 0xA0}), 0);
    slider.SetRegionEnd(0, 0);
    Pump(100);
    ASSERT_TRUE(testsupport::CaptureScreen("toolkit_region_empty.png"));
    EXPECT_EQ(CountColour("toolkit_region_empty.png", filled, {0xC0, 0x50, 0x30}), 0);
    slider.DestroyWindow();
}

// ---- Scroll bar ----

TEST_F(SkinToolkitTest, ScrollBarButtonsRepeatWheelAndFocus) {
    SkinControlBinding bars[] = {Row("T_HSCROLL", 305)};
    CreateSkinNewScrollBars(&parent, kView, bars, 1);
    auto* bar = static_cast<CGNewScrollBar*>(bars[0].control);
    ASSERT_NE(bar, nullptr);
    bar->SetRange(0, 100);
    bar->SetPage(100, 10);
    bar->SetPos(50);
    parent.Take();
    Click(bar, 5, 5);
    EXPECT_EQ(parent.Take(), (Log{"msg 178C 38"}));
    EXPECT_EQ(bar->GetPos(), 49);
    // Holding the second button: the first step after 500 ms, then every 100 ms.
    Mouse(bar, WM_LBUTTONDOWN, 20, 5, MK_LBUTTON);
    Pump(1000);
    Mouse(bar, WM_LBUTTONUP, 20, 5);
    const Log held = parent.Take();
    ASSERT_GE(held.size(), 4u);
    EXPECT_EQ(held.back(), "msg 178C 40");
    for (size_t i = 0; i + 1 < held.size(); ++i)
        EXPECT_EQ(held[i], "msg 178C 0");
    EXPECT_EQ(bar->GetPos(), 49 + static_cast<int>(held.size()));
    Wheel(bar, -120);
    EXPECT_EQ(parent.Take(), (Log{"msg 178C 522"}));
    ::SetFocus(bar->m_hWnd);
    ::SetFocus(parent.m_hWnd);
    EXPECT_EQ(parent.Take(), (Log{"msg 178D 0"}));
    // Screenshot: the thumb's normal cell over the track, the first button's normal cell.
    bar->SetPos(0);
    Pump(100);
    const RECT r = ScreenRect(bar);
    ASSERT_TRUE(testsupport::CaptureScreen("toolkit_scrollbar.png"));
    testsupport::Rgb rgb;
    ASSERT_TRUE(testsupport::PixelAt("toolkit_scrollbar.png", r.left + 36, r.top + 8, &rgb));
    EXPECT_EQ(rgb, (testsupport::Rgb{0xE0, 0xA0, 0x30}));
    ASSERT_TRUE(testsupport::PixelAt("toolkit_scrollbar.png", r.left + 2, r.top + 2, &rgb));
    EXPECT_EQ(rgb, (testsupport::Rgb{0x3C, 0x8D, 0xDE}));
    // Both buttons carry their arrows.
    ASSERT_TRUE(testsupport::PixelAt("toolkit_scrollbar.png", r.left + 8, r.top + 8, &rgb));
    EXPECT_EQ(rgb, (testsupport::Rgb{0xE8, 0xEE, 0xF5})) << "the back arrow";
    EXPECT_GT(testsupport::CountLightPixels("toolkit_scrollbar.png", r.left + 16, r.top, 16, 16, 220), 8)
        << "the forward arrow";
    ASSERT_TRUE(testsupport::PixelAt("toolkit_scrollbar.png", r.left + 150, r.top + 8, &rgb));
    EXPECT_EQ(rgb, (testsupport::Rgb{0x10, 0x18, 0x20}));
    DestroySkinNewScrollBars(kView, bars, 1);
}

// ---- Volume popup ----

void SetControlKey(bool down) {
    BYTE keys[256] = {};
    GetKeyboardState(keys);
    keys[VK_CONTROL] = down ? 0x80 : 0;
    SetKeyboardState(keys);
}

TEST_F(SkinToolkitTest, VolumePopupShowsAndSetsTheMixer) {
    OneCard card;
    card.mute = 1;
    SetMixerApi(&card);
    SetCursorPos(100, 100);
    CGVolumeControl popup(&parent);
    ASSERT_TRUE(popup.Create(kVolumePopupId, &parent));
    popup.ShowWindow(SW_SHOW);
    CGVolumeAdjust& slider = popup.Slider();
    ASSERT_NE(slider.m_hWnd, nullptr);
    EXPECT_EQ(popup.GetDlgCtrlID(), 121);
    CRect window;
    popup.GetWindowRect(&window);
    EXPECT_EQ(window.Width(), 33);
    EXPECT_EQ(window.Height(), 103);
    // A mixer volume of one half: position 10 of 20 and a level bar 36 pixels high.
    EXPECT_EQ(slider.GetPosition(), 10);
    EXPECT_EQ(slider.Model().LevelBar(72).length, 36);
    EXPECT_TRUE(slider.MuteButton().IsChecked()) << "the button shows the speakers' mute";
    Pump(100);
    ASSERT_TRUE(testsupport::CaptureScreen("toolkit_volume.png"));
    testsupport::Rgb bar, above;
    ASSERT_TRUE(testsupport::PixelAt("toolkit_volume.png", window.left + 17, window.top + 70, &bar));
    ASSERT_TRUE(testsupport::PixelAt("toolkit_volume.png", window.left + 17, window.top + 30, &above));
    EXPECT_GT(bar.g, bar.r + 50) << "the level bar's green below the level";
    EXPECT_EQ(above, (testsupport::Rgb{0x26, 0x34, 0x45})) << "the background above it";

    // The mute button toggles the speakers' mute and the owner hears the new state.
    parent.Take();
    Click(&slider.MuteButton(), 5, 5);
    EXPECT_EQ(parent.Take(), (Log{"msg 179C 0"}));
    EXPECT_EQ(card.mute, 0);
    EXPECT_FALSE(slider.MuteButton().IsChecked());
    Click(&slider.MuteButton(), 5, 5);
    EXPECT_EQ(parent.Take(), (Log{"msg 179C 1"}));
    EXPECT_EQ(card.mute, 1);
    EXPECT_TRUE(slider.MuteButton().IsChecked());

    // A thumb drag to the top sets full volume.
    const CPoint centre = slider.GetThumbCentre();
    Mouse(&slider, WM_MOUSEMOVE, centre.x, centre.y);
    Mouse(&slider, WM_LBUTTONDOWN, centre.x, centre.y, MK_LBUTTON);
    EXPECT_TRUE(slider.Dragging());
    Mouse(&slider, WM_MOUSEMOVE, centre.x, 0, MK_LBUTTON);
    EXPECT_EQ(card.volume, 65535u);
    Mouse(&slider, WM_LBUTTONUP, centre.x, 0);
    EXPECT_EQ(slider.GetPosition(), 20);
    // Keys act only with Ctrl down, and never beyond the range.
    slider.SendMessage(WM_KEYDOWN, VK_SUBTRACT, 0);
    EXPECT_EQ(slider.GetPosition(), 20);
    SetControlKey(true);
    slider.SendMessage(WM_KEYDOWN, VK_ADD, 0);
    EXPECT_EQ(slider.GetPosition(), 20);
    slider.SendMessage(WM_KEYDOWN, VK_SUBTRACT, 0);
    EXPECT_EQ(slider.GetPosition(), 19);
    SetControlKey(false);
    // A press outside the slider closes the popup.
    Mouse(&slider, WM_LBUTTONDOWN, 200, 200, MK_LBUTTON);
    Pump();
    EXPECT_FALSE(popup.IsWindowVisible());
    popup.DestroyWindow();
    EXPECT_EQ(card.open, 0);
    SetMixerApi(nullptr);
}

OneCard* g_card = nullptr;
CEncBasePage* g_page = nullptr;

TEST_F(SkinToolkitTest, PageVolumeButtonFollowsTheMuteAroundTheModalPopup) {
    OneCard card;
    card.mute = 1;
    SetMixerApi(&card);
    SkinControlBinding buttons[] = {Row("IDC_BUTTON_VOLUME", 3010)};
    CreateSkinButtons(&parent, "ENC_MAIN_PAGE", buttons, 1, 1);
    auto* button = static_cast<CGButton*>(buttons[0].control);
    ASSERT_NE(button, nullptr);
    CEncBasePage page;
    const RECT place{0, 0, 300, 200};
    ASSERT_TRUE(page.Create(&place, 77, &parent));
    page.SetVolumeButton(button);
    g_card = &card;
    g_page = &page;
    // While the popup runs, the mute is switched off elsewhere and the popup closed.
    SetTimer(nullptr, 0, 300, [](HWND, UINT, UINT_PTR id, DWORD) {
        KillTimer(nullptr, id);
        g_card->mute = 0;
        EXPECT_TRUE(g_page->GetVolumeButton()->IsChecked()) << "checked from the mixer before the popup";
        ASSERT_NE(g_page->GetVolumePopup(), nullptr);
        g_page->GetVolumePopup()->PostMessage(WM_GVOLUME_CLOSE, kVolumeSliderId, 0);
    });
    page.OnVolume();
    EXPECT_FALSE(button->IsChecked());
    EXPECT_EQ(page.GetVolumePopup(), nullptr);
    page.DestroyWindow();
    DestroySkinButtons(buttons, 1);
    SetMixerApi(nullptr);
}

// ---- Room list ----

class TestRoomList : public CRoomList {
public:
    int freed = 0;
    int hooks = 0;
    void HookE(int, void*) override { ++hooks; }
    std::vector<int> notices;
    int FreeItemData(void* data) override {
        ++freed;
        delete static_cast<int*>(data);
        return 0;
    }
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == WM_GSCROLLBAR_CHANGED) return OnScrollBarChanged(wParam, lParam);
        if (message == WM_GLIST_SCROLLED) return OnListScrolled(wParam, lParam);
        const LRESULT result = CRoomList::WindowProc(message, wParam, lParam);
        if (message == WM_NOTIFY) {
            auto* header = reinterpret_cast<NMHDR*>(lParam);
            LRESULT ignored = 0;
            if (header->code == LVN_ITEMCHANGED) OnItemChanged(header, &ignored);
            if (header->code == static_cast<UINT>(NM_CLICK)) OnItemClick(header, &ignored);
            if (header->code == GLN_KEYUP) OnListKeyDown(header, &ignored);
            if (header->code == GLN_KEYUP || header->code == GLN_DRAGDROP) notices.push_back(header->code);
        }
        return result;
    }
};

int DrawEveryItem(int, HBITMAP*, void*, int*) {
    return 1;
}

// Icon view: every item's picture is a 24 x 24 square of one colour.
int DrawSquares(int, HBITMAP* bitmap, void*, int*) {
    HDC screen = GetDC(nullptr);
    *bitmap = CreateCompatibleBitmap(screen, 24, 24);
    HDC dc = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(dc, *bitmap);
    const RECT all{0, 0, 24, 24};
    HBRUSH brush = CreateSolidBrush(RGB(0xC0, 0x40, 0xC0));
    FillRect(dc, &all, brush);
    DeleteObject(brush);
    SelectObject(dc, old);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return 1;
}

int Count(const Log& log, const std::string& line) {
    return static_cast<int>(std::count(log.begin(), log.end(), line));
}

TEST_F(SkinToolkitTest, RoomListSelectionNoticesDropsAndScrollSync) {
    static_assert(offsetof(GLNKeyUp, key) == sizeof(NMHDR), "the key follows the pointer-sized header");
    TestRoomList room;
    ASSERT_TRUE(room.Create(nullptr, "", WS_CHILD | WS_VISIBLE, CRect(0, 0, 640, 400), &parent, 500, 501, kView, "ALL",
                            nullptr));
    CGListCtrl* list = room.List();
    ASSERT_NE(list, nullptr);
    ASSERT_NE(room.ScrollBar(), nullptr);
    room.Relayout(CRect(0, 0, 640, 400), TRUE);
    // Empty: the bar's thumb fills its track.
    EXPECT_EQ(room.ScrollBar()->Model().ThumbLength(), room.ScrollBar()->Model().TrackLength());
    room.SetSortKey(0, 1);
    list->InsertColumn(0, "Name", LVCFMT_LEFT, 200);
    EXPECT_EQ(room.SetViewType(1), -1);
    list->SetItemCallback(DrawEveryItem, nullptr);
    for (int i = 0; i < 40; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "item %02d", i);
        room.AddItem(name, new int(i));
    }
    room.Relayout(CRect(0, 0, 640, 400), TRUE);
    Pump(100);
    EXPECT_EQ(room.SetViewType(1), 1);
    EXPECT_EQ(room.hooks, 0) << "the same view type changes nothing";
    EXPECT_NE(list->Header().m_hWnd, nullptr) << "the report header is owner-drawn by the list's header class";
    EXPECT_EQ(list->Header().SortColumn(), 0);
    NMHEADERA track{};
    track.hdr = {list->Header().m_hWnd, 0, static_cast<UINT>(HDN_BEGINTRACKA)};
    EXPECT_EQ(list->SendMessage(WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&track)), 1) << "columns keep their widths";

    // Selection operations.
    EXPECT_EQ(room.SelectRange(2, 4, 0), 1);
    EXPECT_EQ(room.GetSelectedCount(), 3);
    // The selected run is framed in blue and tinted; other rows show the tiled ground.
    Pump(150);
    ASSERT_TRUE(testsupport::CaptureScreen("toolkit_room_list.png"));
    RECT row3 = {LVIR_BOUNDS, 0, 0, 0}, row7 = {LVIR_BOUNDS, 0, 0, 0};
    list->SendMessage(LVM_GETITEMRECT, 3, reinterpret_cast<LPARAM>(&row3));
    list->SendMessage(LVM_GETITEMRECT, 7, reinterpret_cast<LPARAM>(&row7));
    const RECT lr = ScreenRect(list);
    testsupport::Rgb frame, tinted, plain;
    ASSERT_TRUE(testsupport::PixelAt("toolkit_room_list.png", lr.left + row3.left, lr.top + row3.top + 3, &frame));
    ASSERT_TRUE(
        testsupport::PixelAt("toolkit_room_list.png", lr.left + row3.right - 30, lr.top + row3.top + 3, &tinted));
    ASSERT_TRUE(
        testsupport::PixelAt("toolkit_room_list.png", lr.left + row7.right - 30, lr.top + row7.top + 3, &plain));
    EXPECT_GT(frame.b, 200);
    EXPECT_LT(frame.r, 40);
    EXPECT_EQ(plain, (testsupport::Rgb{0xE4, 0xEA, 0xF1}));
    // The blue blended at alpha 25 over the light ground.
    EXPECT_NEAR(tinted.b, (0xF1 * 230 + 255 * 25) / 255, 4);
    EXPECT_NEAR(tinted.r, (0xE4 * 230 + 10 * 25) / 255, 4);
    // The rows' black text stands out on the light ground, and the header's text on its face.
    EXPECT_GT(testsupport::CountDarkPixels("toolkit_room_list.png", lr.left + row7.left, lr.top + row7.top, 120,
                                           row7.bottom - row7.top, 80),
              10)
        << "legible row text";
    RECT hr;
    ::GetWindowRect(list->Header().m_hWnd, &hr);
    testsupport::Rgb face;
    ASSERT_TRUE(testsupport::PixelAt("toolkit_room_list.png", hr.left + 4, hr.top + 3, &face));
    EXPECT_EQ(face, (testsupport::Rgb{240, 239, 231}));
    // Right of the last column too, up to the list's visible edge.
    ASSERT_TRUE(testsupport::PixelAt("toolkit_room_list.png", lr.right - GetSystemMetrics(SM_CXVSCROLL) - 4, hr.top + 3,
                                     &face));
    EXPECT_EQ(face, (testsupport::Rgb{240, 239, 231})) << "the header beyond its last column";
    EXPECT_GT(testsupport::CountDarkPixels("toolkit_room_list.png", hr.left, hr.top, 200, hr.bottom - hr.top, 80), 5)
        << "the header's title";
    EXPECT_EQ(room.SelectRange(5, 2, 0), 0);
    EXPECT_EQ(room.GetSelectedCount(), 3);
    void* data = nullptr;
    EXPECT_EQ(room.GetNextSelected(-5, &data), 2);
    EXPECT_EQ(*static_cast<int*>(data), 2);
    EXPECT_EQ(room.IsSelectionContiguous(), 1);
    EXPECT_EQ(room.SelectRange(8, 8, 1), 1);
    EXPECT_EQ(room.IsSelectionContiguous(), 0);
    EXPECT_EQ(room.SelectRange(-1, -1, 0), 1);
    EXPECT_EQ(room.GetSelectedCount(), 0);
    parent.Take();

    // One notice per click, however many items changed; one per key, none for Delete.
    room.SelectRange(2, 6, 0);
    RECT item = {};
    item.left = LVIR_BOUNDS;
    list->SendMessage(LVM_GETITEMRECT, 10, reinterpret_cast<LPARAM>(&item));
    Click(list, item.left + 20, (item.top + item.bottom) / 2);
    Pump();
    EXPECT_EQ(Count(parent.Take(), "msg 820 500"), 1);
    EXPECT_EQ(room.GetNextSelected(-1, nullptr), 10);
    Key(list, VK_DOWN);
    EXPECT_EQ(Count(parent.Take(), "msg 820 500"), 1);
    EXPECT_EQ(room.GetNextSelected(-1, nullptr), 11);
    room.SelectRange(3, 3, 1);
    Key(list, VK_DELETE);
    EXPECT_EQ(Count(parent.Take(), "msg 820 500"), 0);
    // With notices disabled only the mode change gets through.
    room.SetNotifyEnabled(0);
    room.SelectRange(1, 1, 0);
    Click(list, item.left + 20, (item.top + item.bottom) / 2);
    EXPECT_EQ(room.SetMetricB(2), -1);
    EXPECT_EQ(parent.Take(), (Log{"msg 822 500"}));
    room.SetNotifyEnabled(1);

    // Drag reorder: a drop on the dragged run says nothing, elsewhere GLN_DRAGDROP.
    list->EnableDragReorder(TRUE);
    room.SelectRange(2, 4, 0);
    RECT three = {LVIR_BOUNDS, 0, 0, 0}, eight = {LVIR_BOUNDS, 0, 0, 0};
    list->SendMessage(LVM_GETITEMRECT, 3, reinterpret_cast<LPARAM>(&three));
    list->SendMessage(LVM_GETITEMRECT, 8, reinterpret_cast<LPARAM>(&eight));
    room.notices.clear();
    Mouse(list, WM_LBUTTONDOWN, three.left + 20, three.top + 2, MK_LBUTTON);
    EXPECT_TRUE(list->Dragging());
    Mouse(list, WM_LBUTTONUP, three.left + 20, three.top + 2);
    EXPECT_TRUE(room.notices.empty());
    room.SelectRange(2, 4, 0);
    Mouse(list, WM_LBUTTONDOWN, three.left + 20, three.top + 2, MK_LBUTTON);
    Mouse(list, WM_LBUTTONUP, eight.left + 20, eight.top + 2);
    EXPECT_EQ(room.notices, (std::vector<int>{static_cast<int>(GLN_DRAGDROP)}));
    list->EnableDragReorder(FALSE);
    Pump();

    // Scroll sync on the real list view: report rows count twice on the bar.
    list->SendMessage(LVM_ENSUREVISIBLE, 0, FALSE);
    const int rowHeight = item.bottom - item.top;
    list->Scroll(0, 5 * rowHeight);
    Pump(150);
    EXPECT_EQ(list->SendMessage(LVM_GETTOPINDEX), 5);
    EXPECT_EQ(room.ScrollBar()->GetPos(), 10);
    // The bar's second button steps 2 (one row), and the list follows.
    const int along = room.ScrollBar()->Model().FirstButtonAt() + 20;
    Click(room.ScrollBar(), 8, along);
    Pump(150);
    EXPECT_EQ(room.ScrollBar()->GetPos(), 12);
    EXPECT_EQ(list->SendMessage(LVM_GETTOPINDEX), 6);

    // Select all, and delete a selected run: each item's data freed once.
    EXPECT_EQ(room.SelectAll(), 1);
    EXPECT_EQ(room.GetSelectedCount(), 40);
    room.SelectRange(10, 12, 0);
    EXPECT_EQ(room.DeleteSelected(), 1);
    EXPECT_EQ(room.freed, 3);
    EXPECT_EQ(room.GetCount(1), 37);
    EXPECT_EQ(room.GetCount(0), 37);

    // An item whose data is not the room list's is deleted without freeing.
    int foreign = 7;
    const int index = list->InsertItem(list->GetItemCount(), "foreign");
    list->SetItemData(index, reinterpret_cast<DWORD_PTR>(&foreign));
    const int before = room.freed;
    EXPECT_EQ(room.DeleteItem(index), 1);
    EXPECT_EQ(room.freed, before);
    EXPECT_EQ(room.DeleteItem(0), 1);
    EXPECT_EQ(room.freed, before + 1);
    // Icon view: the callback's pictures are drawn (and the list deletes them).
    EXPECT_EQ(room.SetViewType(0), 1);
    room.SetLayout(64, 48, 64, 16, 0, 0, 260, 200);
    list->SetItemCallback(DrawSquares, nullptr);
    room.Relayout(CRect(0, 0, 640, 400), TRUE);
    list->Invalidate(FALSE);
    Pump(200);
    ASSERT_TRUE(testsupport::CaptureScreen("toolkit_room_icons.png"));
    EXPECT_GE(CountColour("toolkit_room_icons.png", ScreenRect(list), {0xC0, 0x40, 0xC0}), 4 * 24 * 24);

    room.DestroyWindow();
    EXPECT_EQ(room.freed, 40);
    EXPECT_EQ(room.List(), nullptr);
}

// ---- Screenshots of the sliders, the spin buttons and the list ----

TEST_F(SkinToolkitTest, ScreenshotShowsSlidersSpinButtonsAndListRows) {
    SkinControlBinding codes[] = {Row("T_TIMECODE", 304)};
    SkinControlBinding selects[] = {Row("T_SELECT", 306)};
    SkinControlBinding magnifies[] = {Row("T_MAGNIFY", 307)};
    CreateSkinTimeCodeEdits(&parent, kView, codes, 1);
    CreateSkinSelectSliders(&parent, kView, selects, 1);
    CreateSkinMagnifySliders(&parent, kView, magnifies, 1);
    auto* magnify = static_cast<CGMagnifySlider*>(magnifies[0].control);
    auto* select = static_cast<CGSelectSlider*>(selects[0].control);
    auto* code = static_cast<CGTimeCodeEdit*>(codes[0].control);
    ASSERT_TRUE(magnify && select && code);
    magnify->ShowRegions(TRUE);
    magnify->SetSelectionAndPos(20, 60, 80);
    magnify->SetTickRange(0, 100, FALSE);
    magnify->SetTickInterval(10);
    select->SetSelection(100, 400);
    select->SetPos(250, FALSE);
    // The decrement button pressed, the increment button hovered.
    Mouse(&code->DecrementButton(), WM_LBUTTONDOWN, 3, 3, MK_LBUTTON);
    Mouse(&code->IncrementButton(), WM_MOUSEMOVE, 3, 3);
    Pump(150);
    ASSERT_TRUE(testsupport::CaptureScreen("toolkit_gallery.png"));
    const std::string png = "toolkit_gallery.png";
    testsupport::Rgb rgb;
    // Magnify slider: thumb at 80, the region 20..60 in the band, the start and end marks.
    const RECT m = ScreenRect(magnify);
    const int thumb = magnify->Model().ThumbCentre();
    ASSERT_TRUE(testsupport::PixelAt(png, m.left + thumb, m.top + 26, &rgb));
    EXPECT_EQ(rgb, (testsupport::Rgb{0xE0, 0xA0, 0x30}));
    ASSERT_TRUE(testsupport::PixelAt(png, m.left + thumb - 5, m.top + 26, &rgb));
    EXPECT_EQ(rgb, (testsupport::Rgb{0x26, 0x34, 0x45})) << "the thumb's magenta edge is not drawn";
    const skin::SliderRegion& region = magnify->Model().Region(0);
    const RECT band{m.left + region.left + 12, m.top + 6, m.left + region.right - 12, m.top + 7};
    EXPECT_EQ(CountColour(png, band, {0x40, 0xB0, 0xA0}), band.right - band.left) << "the region's middle piece";
    ASSERT_TRUE(testsupport::PixelAt(png, m.left + region.left - 6, m.top + 1, &rgb));
    EXPECT_EQ(rgb, (testsupport::Rgb{0x30, 0xD0, 0x60})) << "the in-mark left of the region";
    ASSERT_TRUE(testsupport::PixelAt(png, m.left + region.right + 1, m.top + 1, &rgb));
    EXPECT_EQ(rgb, (testsupport::Rgb{0xD0, 0x40, 0x60})) << "the out-mark right of it";
    // Ticks every 10 values, longer at multiples of 30: column of a long tick.
    const std::vector<skin::Tick> ticks = magnify->Model().Ticks();
    ASSERT_GE(ticks.size(), 4u);
    ASSERT_TRUE(testsupport::PixelAt(png, m.left + ticks[3].x, m.bottom - 7, &rgb));
    EXPECT_EQ(rgb, (testsupport::Rgb{0, 0, 0}));
    ASSERT_TRUE(testsupport::PixelAt(png, m.left + ticks[1].x, m.bottom - 7, &rgb));
    EXPECT_NE(rgb, (testsupport::Rgb{0, 0, 0}));
    // Select slider: the bracket's bands and pieces, and the grip's ornament.
    const RECT sr = ScreenRect(select);
    const RECT upper{sr.left + select->Model().SelectionLeft(), sr.top, sr.left + select->Model().SelectionRight(),
                     sr.top + 2};
    EXPECT_EQ(CountColour(png, upper, {0xE8, 0xE0, 0x40}), 2 * (upper.right - upper.left));
    ASSERT_TRUE(testsupport::PixelAt(png, sr.left + select->Model().SelectionLeft() - 2, sr.top + 6, &rgb));
    EXPECT_EQ(rgb, (testsupport::Rgb{0xE8, 0xE0, 0x40})) << "the left piece";
    const int grip = (select->Model().GripLeft() + select->Model().GripRight()) / 2;
    ASSERT_TRUE(testsupport::PixelAt(png, sr.left + grip, sr.top + 17, &rgb));
    EXPECT_EQ(rgb, (testsupport::Rgb{0xFF, 0xFF, 0xFF})) << "the grip's ornament";
    // Spin buttons: pressed and hover cells.
    const RECT down = ScreenRect(&code->DecrementButton()), up = ScreenRect(&code->IncrementButton());
    ASSERT_TRUE(testsupport::PixelAt(png, down.left + 1, down.top + 1, &rgb));
    EXPECT_EQ(rgb, (testsupport::Rgb{0x50, 0x80, 0xB0}));
    ASSERT_TRUE(testsupport::PixelAt(png, up.left + 1, up.top + 1, &rgb));
    EXPECT_EQ(rgb, (testsupport::Rgb{0x5A, 0xA6, 0xF0}));
    // Each carries its arrow.
    for (const RECT& b : {down, up}) {
        ASSERT_TRUE(testsupport::PixelAt(png, b.left + 8, b.top + 4, &rgb));
        EXPECT_EQ(rgb, (testsupport::Rgb{0xE8, 0xEE, 0xF5}));
    }
    // The time code reads as one run: each colon's ink sits in the middle of its cell, with
    // none at the cell's left edge, where a glyph drawn off-centre leaves a gap behind it.
    const RECT tc = ScreenRect(code);
    const int cellWidth = 11;
    for (int colon : {2, 5, 8}) {
        const int x = tc.left + colon * cellWidth;
        EXPECT_GT(testsupport::CountLightPixels(png, x + 4, tc.top, 3, 17, 80), 1) << colon;
        EXPECT_EQ(testsupport::CountLightPixels(png, x, tc.top, 3, 17, 80), 0) << colon;
    }
    Mouse(&code->DecrementButton(), WM_LBUTTONUP, 3, 3);
    DestroySkinTimeCodeEdits(kView, codes, 1);
    DestroySkinSelectSliders(kView, selects, 1);
    DestroySkinMagnifySliders(kView, magnifies, 1);
}

// ---- Static text from another thread ----

struct TextJob {
    CGStatic* label;
    HANDLE done;
};

TEST_F(SkinToolkitTest, StaticSetTextFromAnotherThreadReturnsWhileTheInterfaceIsBusy) {
    CGStatic label;
    ASSERT_TRUE(label.Create("old", WS_CHILD | WS_VISIBLE, CRect(8, 300, 208, 322), nullptr, 0, 0, &parent, 900));
    Pump();
    TextJob job{&label, CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    HANDLE worker = CreateThread(
        nullptr, 0,
        [](LPVOID data) -> DWORD {
            auto* j = static_cast<TextJob*>(data);
            j->label->SetText("new");
            SetEvent(j->done);
            return 0;
        },
        &job, 0, nullptr);
    ASSERT_NE(worker, nullptr);
    // The interface thread does not pump while it waits: the call has to come back on its
    // own (its send gives up after 500 ms), long before this wait would.
    EXPECT_EQ(WaitForSingleObject(job.done, 4000), WAIT_OBJECT_0);
    Pump(200);
    EXPECT_EQ(WaitForSingleObject(worker, 5000), WAIT_OBJECT_0);
    CloseHandle(worker);
    CloseHandle(job.done);
    EXPECT_EQ(std::string(label.GetWindowText()), "new") << "the text arrives once the interface is free";
    label.DestroyWindow();
}

}  // namespace
