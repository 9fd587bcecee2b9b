// The encoder's property pages on the test display: the three pages in the system's
// property frame (screenshots), scripted edits on the Main and Advanced pages that reach
// the filter's values through Apply, and the pages' text rules.
#include <windows.h>
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

TEST(OmbriskGui, PropertyPagesShowAndEditTheSettings) {
    ComSta com;
    ASSERT_TRUE(SUCCEEDED(com.hr));
    comtest::RegistrationLock registration;
    ombrisktest::NamedLock settingsLock(ombrisktest::kSettingsKeyLock);
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

}  // namespace
