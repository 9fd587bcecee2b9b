// The encoder's property pages on the test display: the three pages in the system's
// property frame (screenshots), scripted edits on the Main and Advanced pages that reach
// the filter's values through Apply, and the pages' text rules.
#include <windows.h>
#include <commctrl.h>
#include <dshow.h>
#include <olectl.h>
#include <prsht.h>

#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "filters/base/tests/com_test_util.h"
#include "filters/base/tests/page_site.h"
#include "filters/base/tests/property_frame.h"
#include "filters/config/kestrune_config.h"
#include "filters/encoder/ombrisk_ids.h"
#include "filters/encoder/property_pages.h"
#include "filters/encoder/tests/ombrisk_test_util.h"
#include "tests/support/screen.h"

namespace {

using namespace ombrisk;

using comtest::ComSta;
using comtest::FindFrame;
using comtest::FindPageWith;
using comtest::WaitFor;

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

// A settings page of the library on its own site, shown in a window of the test.
class HostedPage {
public:
    HostedPage(const CLSID& clsid, IUnknown* object) {
        if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IPropertyPage,
                                    reinterpret_cast<void**>(&page_))))
            return;
        page_->SetPageSite(&site_);
        page_->SetObjects(1, &object);
        parent_ = CreateWindowExW(0, L"STATIC", L"page host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50, 520, 420,
                                  nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    }
    ~HostedPage() {
        if (parent_) DestroyWindow(parent_);
        if (!page_) return;
        page_->SetObjects(0, nullptr);
        page_->SetPageSite(nullptr);
        page_->Release();
    }
    HostedPage(const HostedPage&) = delete;
    HostedPage& operator=(const HostedPage&) = delete;

    IPropertyPage* Page() const { return page_; }
    HRESULT Activate() {
        RECT rect{0, 0, 500, 400};
        return page_ ? page_->Activate(parent_, &rect, FALSE) : E_FAIL;
    }
    // The page's dialog, found by one of its controls.
    HWND Dialog(int control) const { return FindPageWith(parent_, control); }

private:
    IPropertyPage* page_ = nullptr;
    comtest::RecordingSite site_;
    HWND parent_ = nullptr;
};

LONG Value(IKestruneConfig* config, int word) {
    VARIANT v;
    VariantInit(&v);
    EXPECT_EQ(config->GetValue(KeyOfWord(word), &v), S_OK);
    VariantChangeType(&v, &v, 0, VT_I4);
    return V_I4(&v);
}

// The registered encoder, from its default settings (what earlier tests stored is
// removed first), and its settings interface.
void OpenEncoder(IBaseFilter** filter, IKestruneConfig** config) {
    ASSERT_EQ(comtest::Regsvr32(comtest::WinePath(OMBRISK_AX), false), 0);
    RegDeleteKeyA(HKEY_CURRENT_USER, kEncoderRegistryKey);
    ASSERT_EQ(CoCreateInstance(CLSID_KestruneAvcEncoder, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                               reinterpret_cast<void**>(filter)),
              S_OK);
    ASSERT_EQ((*filter)->QueryInterface(IID_IKestruneConfig, reinterpret_cast<void**>(config)), S_OK);
}

TEST(OmbriskGui, PropertyPagesShowAndEditTheSettings) {
    ComSta com;
    ASSERT_TRUE(SUCCEEDED(com.hr));
    comtest::RegistrationLock registration;
    ombrisktest::NamedLock settingsLock(ombrisktest::kSettingsKeyLock);
    IBaseFilter* filter = nullptr;
    IKestruneConfig* config = nullptr;
    ASSERT_NO_FATAL_FAILURE(OpenEncoder(&filter, &config));

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
        HostedPage hosted(clsid, object);
        ASSERT_EQ(hosted.Activate(), S_OK);
        HWND dialog = hosted.Dialog(mark);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(hosted.Page()->IsPageDirty(), S_FALSE);
        edit(dialog);
        EXPECT_EQ(hosted.Page()->IsPageDirty(), S_OK);
        EXPECT_EQ(hosted.Page()->Apply(), S_OK);
        EXPECT_EQ(hosted.Page()->Deactivate(), S_OK);
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

    // An edit not yet applied survives hiding and showing the page again.
    {
        {
            HostedPage hosted(CLSID_EncoderMainPage, object);
            ASSERT_EQ(hosted.Activate(), S_OK);
            SetDlgItemTextW(hosted.Dialog(kGopPreview), kGopEdit, L"20");
            EXPECT_EQ(hosted.Page()->Deactivate(), S_OK);
            ASSERT_EQ(hosted.Activate(), S_OK);
            EXPECT_EQ(GetDlgItemInt(hosted.Dialog(kGopPreview), kGopEdit, nullptr, FALSE), 20u);
            EXPECT_EQ(hosted.Page()->IsPageDirty(), S_OK);
            EXPECT_EQ(hosted.Page()->Apply(), S_OK);
            EXPECT_EQ(hosted.Page()->Deactivate(), S_OK);
        }
        EXPECT_EQ(Value(config, kParGopLength), 20);
        VARIANT gop;
        VariantInit(&gop);
        V_VT(&gop) = VT_INT;
        V_INT(&gop) = 12;
        ASSERT_EQ(config->SetValue(KeyOfWord(kParGopLength), &gop), S_OK);
        ASSERT_EQ(config->Commit(nullptr), S_OK);
    }

    // The edits reach the encoder: a run at 29.97 frames/s codes Baseline with an I
    // picture every 12.
    {
        using namespace ombrisktest;
        const FormatCase c{&MEDIASUBTYPE_YV12, InputFormat::yv12, 64, 48};
        const std::vector<uint8_t> yuv = ClipYuv(64, 48, 8);
        testfilters::SourceConfig sourceConfig;
        sourceConfig.type = SourceType(c, 333667);
        sourceConfig.samples = SourceSamples(c, yuv, 14, 333667);
        auto* source = testfilters::CTestPushSource::Create(std::move(sourceConfig));
        auto* sink = testfilters::CTestSink::Create({});
        IGraphBuilder* graph = nullptr;
        ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                   reinterpret_cast<void**>(&graph)),
                  S_OK);
        ASSERT_EQ(graph->AddFilter(source, L"source"), S_OK);
        ASSERT_EQ(graph->AddFilter(filter, L"encoder"), S_OK);
        ASSERT_EQ(graph->AddFilter(sink, L"sink"), S_OK);
        for (auto [from, to] : {std::pair<IBaseFilter*, IBaseFilter*>{source, filter}, {filter, sink}}) {
            IPin* out = comtest::FindPinByDirection(from, PINDIR_OUTPUT);
            IPin* in = comtest::FindPinByDirection(to, PINDIR_INPUT);
            EXPECT_EQ(graph->ConnectDirect(out, in, nullptr), S_OK);
            out->Release();
            in->Release();
        }
        IMediaControl* control = nullptr;
        ASSERT_EQ(graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control)), S_OK);
        ASSERT_TRUE(SUCCEEDED(control->Run()));
        EXPECT_TRUE(sink->WaitEndOfStream(60000));
        EXPECT_EQ(control->Stop(), S_OK);
        control->Release();
        std::vector<uint8_t> stream;
        for (const testfilters::SampleSpec& sample : sink->Samples())
            stream.insert(stream.end(), sample.bytes.begin(), sample.bytes.end());
        graph->Release();
        source->Release();
        sink->Release();
        const std::string name = testsupport::UniqueName("ombrisk_pages") + ".264";
        {
            std::ofstream out(testsupport::FixturePath(name), std::ios::binary);
            out.write(reinterpret_cast<const char*>(stream.data()), std::streamsize(stream.size()));
        }
        EXPECT_EQ(ShellOutput("ffprobe -v error -show_entries stream=profile -of csv=p=0 '" + name + "'"),
                  "Baseline\n");
        const std::string frames =
            ShellOutput("ffprobe -v error -show_entries frame=pict_type -of csv=p=0 '" + name + "' | tr -d '\\n'");
        EXPECT_EQ(frames, "IPPPPPPPPPPPIP");
    }

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

// The control objects over real controls, and before they are bound.
TEST(OmbriskGui, DialogControlObjects) {
    INITCOMMONCONTROLSEX init{sizeof(init), ICC_BAR_CLASSES};
    ASSERT_TRUE(InitCommonControlsEx(&init));
    HWND parent = CreateWindowExW(0, L"STATIC", L"controls", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(parent, nullptr);
    auto child = [&](const wchar_t* cls, DWORD style, int id) {
        return CreateWindowExW(0, cls, L"", WS_CHILD | style, 0, 0, 200, 100, parent, HMENU(INT_PTR(id)),
                               GetModuleHandleW(nullptr), nullptr);
    };

    // Not bound (also after a null window): reads answer -1, the remembered position or
    // failure, and the word keeps its value.
    CComboControl combo;
    CEditControl edit;
    CCheckControl check;
    CTrackbarControl track;
    combo.SetWindow(nullptr);
    EXPECT_FALSE(combo.Attached());
    EXPECT_EQ(combo.Selected(), -1);
    EXPECT_EQ(check.Read(), -1);
    track.SetPosition(7);
    EXPECT_EQ(track.Position(), 0);
    int32_t word = 123;
    EXPECT_FALSE(edit.ReadInt(&word));
    EXPECT_FALSE(edit.ReadFrameRate(&word));
    EXPECT_EQ(word, 123);

    combo.SetWindow(child(L"COMBOBOX", CBS_DROPDOWNLIST, 1));
    edit.SetWindow(child(L"EDIT", 0, 2));
    check.SetWindow(child(L"BUTTON", BS_AUTOCHECKBOX, 3));
    track.SetWindow(child(TRACKBAR_CLASSW, 0, 4));
    ASSERT_TRUE(combo.Attached() && edit.Attached() && check.Attached() && track.Attached());

    for (const wchar_t* text : {L"a", L"b", L"c"})
        combo.AddText(text);
    EXPECT_EQ(combo.Selected(), -1);
    combo.Select(2);
    combo.Select(-1);  // ignored
    EXPECT_EQ(combo.Selected(), 2);
    combo.Clear();
    EXPECT_EQ(combo.Selected(), -1);

    struct IntCase {
        const wchar_t* text;
        bool read;
        int32_t word;
    } ints[] = {{L"Not specified", true, kUnsetWord},
                {L"1499", true, 1499},
                {L"-3", true, -3},
                {L"abc", true, 0},
                {L"", true, 0},
                {L"7x", true, 7}};
    for (const IntCase& c : ints) {
        SetWindowTextW(edit.Window(), c.text);
        int32_t w = 55;
        EXPECT_EQ(edit.ReadInt(&w), c.read);
        EXPECT_EQ(w, c.word) << std::string(c.text, c.text + wcslen(c.text));
    }
    // Text of 50 characters or more is not read; 49 is.
    word = 55;
    SetWindowTextW(edit.Window(), std::wstring(50, L'1').c_str());
    EXPECT_FALSE(edit.ReadInt(&word));
    EXPECT_EQ(word, 55);
    SetWindowTextW(edit.Window(), (std::wstring(47, L'0') + L"12").c_str());
    EXPECT_TRUE(edit.ReadInt(&word));
    EXPECT_EQ(word, 12);
    wchar_t text[64] = L"";
    edit.SetInt(kUnsetWord);
    GetWindowTextW(edit.Window(), text, 64);
    EXPECT_STREQ(text, L"Not specified");
    EXPECT_TRUE(edit.ReadInt(&word));
    EXPECT_EQ(word, kUnsetWord);
    edit.SetFrameRate(2997);
    GetWindowTextW(edit.Window(), text, 64);
    EXPECT_STREQ(text, L"29.97");
    EXPECT_TRUE(edit.ReadFrameRate(&word));
    EXPECT_EQ(word, 2997);
    edit.LimitText(3);
    EXPECT_EQ(SendMessageW(edit.Window(), EM_GETLIMITTEXT, 0, 0), 3);

    check.Set(7);
    EXPECT_EQ(check.Read(), 1);
    check.Set(0);
    EXPECT_EQ(check.Read(), 0);
    check.SetDisabled(true);
    EXPECT_FALSE(IsWindowEnabled(check.Window()));
    check.SetDisabled(false);
    EXPECT_TRUE(IsWindowEnabled(check.Window()));

    // Bounds put in order; the position clamped into them, and again when they shrink.
    track.SetRange(15, 0);
    EXPECT_EQ(SendMessageW(track.Window(), TBM_GETRANGEMIN, 0, 0), 0);
    EXPECT_EQ(SendMessageW(track.Window(), TBM_GETRANGEMAX, 0, 0), 15);
    track.SetPosition(40);
    EXPECT_EQ(track.Position(), 15);
    track.SetRange(0, 5);
    EXPECT_EQ(SendMessageW(track.Window(), TBM_GETPOS, 0, 0), 5);
    track.SetPosition(-2);
    EXPECT_EQ(track.Position(), 0);

    child(L"BUTTON", BS_RADIOBUTTON, 10);
    child(L"BUTTON", BS_RADIOBUTTON, 11);
    static constexpr CRadioGroup::Button kButtons[] = {{10, 1}, {11, 0}, {0, 0}};
    CRadioGroup radio;
    EXPECT_EQ(radio.Value(), 0);
    radio.SetTable(parent, kButtons);
    radio.SetValue(1);
    EXPECT_EQ(IsDlgButtonChecked(parent, 10), UINT(BST_CHECKED));
    EXPECT_EQ(IsDlgButtonChecked(parent, 11), UINT(BST_UNCHECKED));
    EXPECT_EQ(radio.Value(), 1);
    radio.SetValue(0);
    EXPECT_EQ(IsDlgButtonChecked(parent, 10), UINT(BST_UNCHECKED));
    EXPECT_EQ(radio.Value(), 0);
    EXPECT_EQ(IsDlgButtonChecked(parent, 11), UINT(BST_CHECKED));
    radio.SetValue(5);  // no such button: every one clear
    EXPECT_EQ(IsDlgButtonChecked(parent, 10) | IsDlgButtonChecked(parent, 11), UINT(BST_UNCHECKED));
    DestroyWindow(parent);
}

// LoadDefaults puts the filter's defaults into a page (here one never shown, so its
// controls are not bound) without marking it dirty; applying then writes them.
TEST(OmbriskGui, LoadDefaultsGivesThePageTheFilterDefaults) {
    ComSta com;
    ASSERT_TRUE(SUCCEEDED(com.hr));
    comtest::RegistrationLock registration;
    ombrisktest::NamedLock settingsLock(ombrisktest::kSettingsKeyLock);
    IBaseFilter* filter = nullptr;
    IKestruneConfig* config = nullptr;
    ASSERT_NO_FATAL_FAILURE(OpenEncoder(&filter, &config));
    auto defaultOf = [&](int word) {
        VARIANT v;
        VariantInit(&v);
        EXPECT_EQ(config->GetDefaultValue(KeyOfWord(word), &v), S_OK);
        VariantChangeType(&v, &v, 0, VT_I4);
        return V_I4(&v);
    };
    // Values away from the defaults, on both pages' words.
    const std::pair<int, int> changed[] = {
        {kParProfile, 66}, {kParGopLength, 77}, {kParRateMode, 3}, {kParFrameRate100, 1500}, {kParMotionSearch, 0}};
    for (auto [word, value] : changed) {
        ASSERT_NE(defaultOf(word), value);
        VARIANT v;
        VariantInit(&v);
        V_VT(&v) = VT_INT;
        V_INT(&v) = value;
        ASSERT_EQ(config->SetValue(KeyOfWord(word), &v), S_OK);
    }
    ASSERT_EQ(config->Commit(nullptr), S_OK);

    IUnknown* object = filter;
    for (auto create : {&CMainSettingsPage::CreateInstance, &CAdvancedSettingsPage::CreateInstance}) {
        HRESULT hr = S_OK;
        CUnknown* made = create(nullptr, &hr);
        ASSERT_NE(made, nullptr);
        IPropertyPage* page = nullptr;
        ASSERT_EQ(made->NonDelegatingQueryInterface(IID_IPropertyPage, reinterpret_cast<void**>(&page)), S_OK);
        ASSERT_EQ(page->SetObjects(1, &object), S_OK);
        auto* settings = static_cast<CEncoderPropertyPage*>(made);
        settings->LoadDefaults();
        EXPECT_EQ(page->IsPageDirty(), S_FALSE);
        EXPECT_EQ(settings->OnApplyChanges(), S_OK);
        EXPECT_EQ(page->SetObjects(0, nullptr), S_OK);
        page->Release();
    }
    for (auto [word, value] : changed)
        EXPECT_EQ(Value(config, word), defaultOf(word)) << "word " << word;
    EXPECT_EQ(config->ResetToDefaults(), S_OK);
    config->Release();
    filter->Release();
    RegDeleteKeyA(HKEY_CURRENT_USER, kEncoderRegistryKey);
}

}  // namespace
