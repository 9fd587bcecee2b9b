// The encoder's property pages on the test display: the three pages in the system's
// property frame (screenshots), scripted edits on the Main and Advanced pages that reach
// the filter's values through Apply, and the pages' text rules.
#include <windows.h>
#include <dshow.h>
#include <olectl.h>
#include <prsht.h>

#include <string>

#include <gtest/gtest.h>

#include "filters/base/tests/com_test_util.h"
#include "filters/base/tests/page_site.h"
#include "filters/config/kestrune_config.h"
#include "filters/encoder/ombrisk_ids.h"
#include "filters/encoder/property_pages.h"
#include "filters/encoder/tests/ombrisk_test_util.h"
#include "tests/support/screen.h"

namespace {

using namespace ombrisk;

struct ComSta {
    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ~ComSta() {
        if (SUCCEEDED(hr)) CoUninitialize();
    }
};

HWND FindFrame() {
    struct Search {
        HWND found = nullptr;
    } search;
    EnumWindows(
        [](HWND w, LPARAM p) -> BOOL {
            DWORD pid = 0;
            GetWindowThreadProcessId(w, &pid);
            wchar_t cls[32] = L"";
            GetClassNameW(w, cls, 32);
            if (pid == GetCurrentProcessId() && IsWindowVisible(w) && wcscmp(cls, L"#32770") == 0) {
                reinterpret_cast<Search*>(p)->found = w;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND FindPageWith(HWND root, int id) {
    struct Search {
        int id;
        HWND found = nullptr;
    } search{id};
    EnumChildWindows(
        root,
        [](HWND w, LPARAM p) -> BOOL {
            auto* s = reinterpret_cast<Search*>(p);
            if (IsWindowVisible(w) && GetDlgItem(w, s->id)) {
                s->found = w;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

template <class F>
HWND WaitFor(F find, DWORD timeoutMs = 20000) {
    for (DWORD waited = 0; waited < timeoutMs; waited += 50) {
        if (HWND w = find()) return w;
        Sleep(50);
    }
    return nullptr;
}

struct FrameScript {
    std::wstring version, preview;
    bool shots[3] = {};
    std::string failure;
};

// Drives the modal frame from another thread: a screenshot of each page, then OK.
DWORD WINAPI DriveFrame(void* arg) {
    auto* script = static_cast<FrameScript*>(arg);
    HWND frame = WaitFor(FindFrame);
    if (!frame) {
        script->failure = "no property frame";
        return 0;
    }
    const int marks[3] = {kAboutVersion, kGopPreview, kSubpelCombo};
    const char* names[3] = {"ombrisk_about_page.png", "ombrisk_main_page.png", "ombrisk_advanced_page.png"};
    for (int i = 0; i < 3; ++i) {
        SendMessageW(frame, PSM_SETCURSEL, WPARAM(i), 0);
        HWND page = WaitFor([&] { return FindPageWith(frame, marks[i]); });
        if (!page) {
            script->failure = std::string("page missing: ") + names[i];
            break;
        }
        wchar_t text[96] = L"";
        if (i == 0) {
            GetDlgItemTextW(page, kAboutVersion, text, 96);
            script->version = text;
        } else if (i == 1) {
            GetDlgItemTextW(page, kGopPreview, text, 96);
            script->preview = text;
        }
        Sleep(300);
        script->shots[i] = static_cast<bool>(testsupport::CaptureScreen(names[i]));
    }
    PostMessageW(frame, WM_COMMAND, IDOK, 0);
    return 0;
}

LONG Value(IKestruneConfig* config, int word) {
    VARIANT v;
    VariantInit(&v);
    EXPECT_EQ(config->GetValue(KeyOfWord(word), &v), S_OK);
    VariantChangeType(&v, &v, 0, VT_I4);
    return V_I4(&v);
}

TEST(OmbriskGui, PropertyPagesShowAndEditTheSettings) {
    ComSta com;
    ASSERT_TRUE(SUCCEEDED(com.hr));
    comtest::RegistrationLock registration;
    ombrisktest::SettingsKeyLock settingsLock;
    ASSERT_EQ(comtest::Regsvr32(comtest::WinePath(OMBRISK_AX), false), 0);
    RegDeleteKeyA(HKEY_CURRENT_USER, kEncoderRegistryKey);
    IBaseFilter* filter = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_KestruneAvcEncoder, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                               reinterpret_cast<void**>(&filter)),
              S_OK);
    IKestruneConfig* config = nullptr;
    ASSERT_EQ(filter->QueryInterface(IID_IKestruneConfig, reinterpret_cast<void**>(&config)), S_OK);

    ISpecifyPropertyPages* specify = nullptr;
    ASSERT_EQ(filter->QueryInterface(IID_ISpecifyPropertyPages, reinterpret_cast<void**>(&specify)), S_OK);
    CAUUID pages{};
    ASSERT_EQ(specify->GetPages(&pages), S_OK);
    ASSERT_EQ(pages.cElems, 3u);
    FrameScript script;
    HANDLE driver = CreateThread(nullptr, 0, DriveFrame, &script, 0, nullptr);
    IUnknown* object = filter;
    EXPECT_EQ(
        OleCreatePropertyFrame(nullptr, 40, 40, L"Ombrisk", 1, &object, pages.cElems, pages.pElems, 0, 0, nullptr),
        S_OK);
    WaitForSingleObject(driver, 60000);
    CloseHandle(driver);
    CoTaskMemFree(pages.pElems);
    specify->Release();
    EXPECT_EQ(script.failure, "");
    EXPECT_TRUE(script.shots[0] && script.shots[1] && script.shots[2]);
    EXPECT_EQ(script.version, L"Version 0.1.1 (build 41211)");
    EXPECT_EQ(script.preview, L"IBPBPBPBPBPBPBPBPBPBPBPBPBPBPB  ");

    // The Main page on its own site: Baseline, GOP 12, CBR at 1500 kbps, target 29.97.
    auto host = [&](const CLSID& clsid, int mark, auto edit) {
        IPropertyPage* page = nullptr;
        ASSERT_EQ(
            CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IPropertyPage, reinterpret_cast<void**>(&page)),
            S_OK);
        comtest::RecordingSite site;
        ASSERT_EQ(page->SetPageSite(&site), S_OK);
        ASSERT_EQ(page->SetObjects(1, &object), S_OK);
        HWND parent = CreateWindowExW(0, L"STATIC", L"page host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50, 520, 420,
                                      nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        RECT rect{0, 0, 500, 400};
        ASSERT_EQ(page->Activate(parent, &rect, FALSE), S_OK);
        HWND dialog = FindPageWith(parent, mark);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(page->IsPageDirty(), S_FALSE);
        edit(dialog);
        EXPECT_EQ(page->IsPageDirty(), S_OK);
        EXPECT_EQ(page->Apply(), S_OK);
        EXPECT_EQ(page->Deactivate(), S_OK);
        DestroyWindow(parent);
        page->SetObjects(0, nullptr);
        page->SetPageSite(nullptr);
        page->Release();
    };
    auto choose = [](HWND dialog, int id, int entry) {
        HWND combo = GetDlgItem(dialog, id);
        SendMessageW(combo, CB_SETCURSEL, WPARAM(entry), 0);
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), LPARAM(combo));
    };
    host(CLSID_EncoderMainPage, kGopPreview, [&](HWND dialog) {
        choose(dialog, kProfileCombo, 0);
        SetDlgItemTextW(dialog, kGopEdit, L"12");
        choose(dialog, kRateCombo, 2);
        SetDlgItemTextW(dialog, kAvgRateEdit, L"1500");
        SetDlgItemTextW(dialog, kTargetRateEdit, L"29.97");
        wchar_t text[64] = L"";
        GetDlgItemTextW(dialog, kGopPreview, text, 64);
        EXPECT_STREQ(text, L"IPPPPPPPPPPP  IPPPPPPPPPPP  ");
        EXPECT_EQ(GetDlgItemInt(dialog, kBFramesEdit, nullptr, FALSE), 0u) << "Baseline has no B pictures";
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, kCabacRadio)));
        EXPECT_TRUE(IsDlgButtonChecked(dialog, kCavlcRadio));
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, kMaxRateEdit))) << "maximum rate only for VBR";
    });
    EXPECT_EQ(Value(config, kParProfile), 66);
    EXPECT_EQ(Value(config, kParGopLength), 12);
    EXPECT_EQ(Value(config, kParBFrames), 0);
    EXPECT_EQ(Value(config, kParCabac), 0);
    EXPECT_EQ(Value(config, kParRateMode), 3);
    EXPECT_EQ(Value(config, kParAvgBitRate), 1500000);
    EXPECT_EQ(Value(config, kParMaxBitRate), kUnsetWord) << "\"Not specified\" left untouched";
    EXPECT_EQ(Value(config, kParFrameRate100), 2997);

    // Advanced: "Off" clears the professional box; a medium range, half pels.
    host(CLSID_EncoderAdvancedPage, kSubpelCombo, [&](HWND dialog) {
        SendMessageW(GetDlgItem(dialog, kProfessionalCheck), BM_CLICK, 0, 0);
        choose(dialog, kRdoCombo, 0);
        EXPECT_FALSE(IsDlgButtonChecked(dialog, kProfessionalCheck));
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, kPartitionCheck)));
        choose(dialog, kRangeCombo, 0);
        choose(dialog, kSubpelCombo, 1);
    });
    EXPECT_EQ(Value(config, kParMbCoderLevel), 0);
    EXPECT_EQ(Value(config, kParRangeX), 32);
    EXPECT_EQ(Value(config, kParRangeY), 32);
    EXPECT_EQ(Value(config, kParSubpelDepth), 1);

    EXPECT_EQ(config->ResetToDefaults(), S_OK);
    config->Release();
    filter->Release();
    RegDeleteKeyA(HKEY_CURRENT_USER, kEncoderRegistryKey);
}

TEST(OmbriskGui, PageTextRules) {
    EXPECT_EQ(GopPreview(6, 1), L"IBPBPB  IBPBPB  IBPBPB  IBPBPB  ");
    EXPECT_EQ(GopPreview(300, 2), L"Very long GOP");
    EXPECT_EQ(GopPreview(0, 0), L"I  I  I  I  ");  // ends for a GOP length of 0
    EXPECT_EQ(GopPreview(-5, 0), L"I  I  I  I  ");
    EXPECT_EQ(FrameRateText(2997), L"29.97");
    EXPECT_EQ(FrameRateText(500), L" 5.00");
    struct Case {
        const wchar_t* text;
        bool ok;
        int32_t rate;
    } cases[] = {{L"29.97", true, 2997}, {L"30", true, 3000},  {L"23.976", true, 2397}, {L"0.1", true, 10},
                 {L" 5.00", true, 500},  {L"abc", false, 0},   {L"", false, 0},         {L"12x", false, 0},
                 {L"59.94", true, 5994}, {L"1.005", true, 100}};
    for (const Case& c : cases) {
        int32_t rate = -1;
        EXPECT_EQ(ParseFrameRate(c.text, &rate), c.ok) << std::string(c.text, c.text + wcslen(c.text));
        if (c.ok) {
            EXPECT_EQ(rate, c.rate);
        }
    }
    // 50 characters or more are not read.
    int32_t rate = -1;
    EXPECT_FALSE(ParseFrameRate(std::wstring(50, L'1').c_str(), &rate));
}

}  // namespace
