// The decoder filter on the test display: its property pages in the system's property
// frame (screenshots, scripted edits that reach the filter's values and the registry),
// and playback through Wine's video renderer (a screenshot whose picture matches
// ffmpeg's decode of the first frame).
#include <windows.h>
#include <dshow.h>
#include <olectl.h>
#include <prsht.h>

#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "filters/base/tests/com_test_util.h"
#include "filters/base/tests/page_site.h"
#include "filters/base/tests/property_frame.h"
#include "filters/base/tests/test_filters.h"
#include "filters/decoder/decoder_settings.h"
#include "filters/decoder/pelldrin_ids.h"
#include "filters/decoder/property_pages.h"
#include "filters/decoder/tests/pelldrin_test_util.h"
#include "tests/support/ffprobe.h"
#include "tests/support/media_fixture.h"
#include "tests/support/screen.h"
#include "tests/support/shell.h"

namespace {

using namespace pelldrintest;

constexpr REFERENCE_TIME kFrame = 400000;

using comtest::ComSta;
using comtest::FindFrame;
using comtest::FindPageWith;
using comtest::WaitFor;

struct FrameScript {
    std::wstring version;
    bool aboutShown = false, settingsShown = false, applied = false;
    testsupport::Rgb banner;
    std::string failure;
};

// Drives the modal property frame from another thread: screenshots of both pages, edits
// on the settings page, Apply, then OK.
DWORD WINAPI DriveFrame(void* arg) {
    auto* script = static_cast<FrameScript*>(arg);
    HWND frame = WaitFor(FindFrame);
    if (!frame) {
        script->failure = "no property frame";
        return 0;
    }
    HWND about = WaitFor([&] { return FindPageWith(frame, pelldrin::kStaticVersion); });
    if (about) {
        wchar_t text[96] = L"";
        GetDlgItemTextW(about, pelldrin::kStaticVersion, text, 96);
        script->version = text;
        Sleep(300);
        script->aboutShown = static_cast<bool>(testsupport::CaptureScreen("pelldrin_about_page.png"));
        // The banner bitmap: a pixel inside it.
        HWND picture = nullptr;
        EnumChildWindows(
            about,
            [](HWND w, LPARAM p) -> BOOL {
                wchar_t cls[16] = L"";
                GetClassNameW(w, cls, 16);
                if ((GetWindowLongW(w, GWL_STYLE) & SS_TYPEMASK) == SS_BITMAP && _wcsicmp(cls, L"Static") == 0) {
                    *reinterpret_cast<HWND*>(p) = w;
                    return FALSE;
                }
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&picture));
        RECT r{};
        if (picture && GetWindowRect(picture, &r))
            testsupport::PixelAt("pelldrin_about_page.png", r.left + 6, r.top + 4, &script->banner);
    }
    // The settings page is the second tab.
    SendMessageW(frame, PSM_SETCURSEL, 1, 0);
    HWND page = WaitFor([&] { return FindPageWith(frame, pelldrin::kListErrorResilience); });
    if (!page) {
        script->failure = "no settings page";
        PostMessageW(frame, WM_COMMAND, IDCANCEL, 0);
        return 0;
    }
    Sleep(300);
    script->settingsShown = static_cast<bool>(testsupport::CaptureScreen("pelldrin_settings_page.png"));
    SendMessageW(GetDlgItem(page, pelldrin::kRadioReferenceOnly), BM_CLICK, 0, 0);
    SendMessageW(GetDlgItem(page, pelldrin::kCheckVerticalFilter), BM_CLICK, 0, 0);
    HWND list = GetDlgItem(page, pelldrin::kListErrorResilience);
    SendMessageW(list, CB_SETCURSEL, 3, 0);
    SendMessageW(page, WM_COMMAND, MAKEWPARAM(pelldrin::kListErrorResilience, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(list));
    Sleep(200);
    script->applied = static_cast<bool>(testsupport::CaptureScreen("pelldrin_settings_edited.png"));
    // Wine's frame never applies its pages (its Apply stays disabled): close it; the
    // test applies through the page's own interface below, as a frame does on Windows.
    PostMessageW(frame, WM_COMMAND, IDOK, 0);
    return 0;
}

TEST(PelldrinGui, PropertyPagesEditTheFilterAndTheRegistry) {
    ComSta com;
    ASSERT_TRUE(SUCCEEDED(com.hr));
    comtest::RegistrationLock registration;
    SettingsKeyLock settingsLock;
    ASSERT_EQ(comtest::Regsvr32(comtest::WinePath(PELLDRIN_AX), false), 0);
    RegDeleteKeyA(HKEY_CURRENT_USER, pelldrin::kDecoderRegistryKey);
    IBaseFilter* filter = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_KestruneAvcDecoder, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                               reinterpret_cast<void**>(&filter)),
              S_OK);
    IKestruneConfig* config = nullptr;
    ASSERT_EQ(filter->QueryInterface(IID_IKestruneConfig, reinterpret_cast<void**>(&config)), S_OK);
    // Values the page shows no control for: Apply must keep them.
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_BOOL;
    V_BOOL(&v) = VARIANT_FALSE;
    ASSERT_EQ(config->SetValue(&kDecoderEnableVideoInfo, &v), S_OK);
    V_BOOL(&v) = VARIANT_TRUE;
    ASSERT_EQ(config->SetValue(&kDecoderInvertFieldOrder, &v), S_OK);
    ASSERT_EQ(config->Commit(nullptr), S_OK);

    ISpecifyPropertyPages* specify = nullptr;
    ASSERT_EQ(filter->QueryInterface(IID_ISpecifyPropertyPages, reinterpret_cast<void**>(&specify)), S_OK);
    CAUUID pages{};
    ASSERT_EQ(specify->GetPages(&pages), S_OK);
    FrameScript script;
    HANDLE driver = CreateThread(nullptr, 0, DriveFrame, &script, 0, nullptr);
    IUnknown* object = filter;
    EXPECT_EQ(
        OleCreatePropertyFrame(nullptr, 40, 40, L"Pelldrin", 1, &object, pages.cElems, pages.pElems, 0, 0, nullptr),
        S_OK);
    WaitForSingleObject(driver, 60000);
    CloseHandle(driver);
    CoTaskMemFree(pages.pElems);
    specify->Release();
    EXPECT_EQ(script.failure, "");
    EXPECT_TRUE(script.aboutShown);
    EXPECT_TRUE(script.settingsShown);
    EXPECT_TRUE(script.applied);
    EXPECT_EQ(script.version, L"1.0.0 (build 30) beta");
    EXPECT_GT(script.banner.b, script.banner.r) << "the About banner is drawn";

    // The settings page on its own site: the same edits, then Apply.
    IPropertyPage* page = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_KestruneAvcDecoderSettingsPage, nullptr, CLSCTX_INPROC_SERVER, IID_IPropertyPage,
                               reinterpret_cast<void**>(&page)),
              S_OK);
    comtest::RecordingSite site;
    ASSERT_EQ(page->SetPageSite(&site), S_OK);
    ASSERT_EQ(page->SetObjects(1, &object), S_OK);
    HWND parent = CreateWindowExW(0, L"STATIC", L"page host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50, 500, 300,
                                  nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    RECT rect{0, 0, 480, 260};
    ASSERT_EQ(page->Activate(parent, &rect, FALSE), S_OK);
    HWND dialog = FindPageWith(parent, pelldrin::kListErrorResilience);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(page->IsPageDirty(), S_FALSE);
    // Changing only the list marks the page dirty; choosing the shown entry again clears it.
    HWND list = GetDlgItem(dialog, pelldrin::kListErrorResilience);
    auto choose = [&](int entry) {
        SendMessageW(list, CB_SETCURSEL, entry, 0);
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(pelldrin::kListErrorResilience, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(list));
    };
    choose(3);
    EXPECT_EQ(page->IsPageDirty(), S_OK);
    choose(1);
    EXPECT_EQ(page->IsPageDirty(), S_FALSE);
    SendMessageW(GetDlgItem(dialog, pelldrin::kRadioReferenceOnly), BM_CLICK, 0, 0);
    SendMessageW(GetDlgItem(dialog, pelldrin::kCheckVerticalFilter), BM_CLICK, 0, 0);
    choose(3);
    EXPECT_EQ(page->IsPageDirty(), S_OK);
    EXPECT_EQ(page->Apply(), S_OK);
    EXPECT_EQ(page->IsPageDirty(), S_FALSE);
    EXPECT_EQ(page->Deactivate(), S_OK);
    DestroyWindow(parent);
    page->SetObjects(0, nullptr);
    page->SetPageSite(nullptr);
    page->Release();

    auto value = [&](const GUID& key) {
        VARIANT out;
        VariantInit(&out);
        EXPECT_EQ(config->GetValue(&key, &out), S_OK);
        VariantChangeType(&out, &out, 0, VT_I4);
        return V_I4(&out);
    };
    EXPECT_EQ(value(kDecoderDecodingLevel), 2);
    EXPECT_EQ(value(kDecoderDeinterlaceMode), 1);
    EXPECT_EQ(value(kDecoderErrorResilienceMode), 3);
    EXPECT_EQ(value(kDecoderEnableVideoInfo), 0) << "not shown, kept";
    EXPECT_NE(value(kDecoderInvertFieldOrder), 0) << "not shown, kept";
    pelldrin::EConfig stored;
    stored.enableVideoInfo = true;
    ASSERT_EQ(pelldrin::LoadDecoderSettings(&stored), S_OK);
    EXPECT_EQ(stored.decodingLevel, pelldrin::kDecodeReferenceOnly);
    EXPECT_EQ(stored.errorResilienceMode, pelldrin::kSkipTillIdr);
    EXPECT_EQ(stored.deinterlaceMode, 1u);
    EXPECT_FALSE(stored.enableVideoInfo);
    EXPECT_TRUE(stored.invertFieldOrder);
    RegDeleteKeyA(HKEY_CURRENT_USER, pelldrin::kDecoderRegistryKey);
    config->Release();
    filter->Release();
}

// Rendering a source of H.264: the graph builder puts the decoder in front of a renderer.
TEST(PelldrinGui, RenderPicksTheDecoder) {
    comtest::ComScope com;
    ASSERT_TRUE(SUCCEEDED(com.hr));
    comtest::RegistrationLock registration;
    ASSERT_EQ(comtest::Regsvr32(comtest::WinePath(PELLDRIN_AX), false), 0);
    IGraphBuilder* graph = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                               reinterpret_cast<void**>(&graph)),
              S_OK);
    testfilters::SourceConfig config;
    config.type = ByteStreamType(MEDIASUBTYPE_KestruneH264, 176, 144, kFrame);
    config.samples.resize(1);
    config.samples[0].bytes = {0, 0, 0, 1, 0x09, 0xF0};
    auto* source = testfilters::CTestPushSource::Create(std::move(config));
    ASSERT_EQ(graph->AddFilter(source, L"source"), S_OK);
    IPin* out = comtest::FindPinByDirection(source, PINDIR_OUTPUT);
    ASSERT_EQ(graph->Render(out), S_OK);
    IPin* peer = nullptr;
    ASSERT_EQ(out->ConnectedTo(&peer), S_OK);
    PIN_INFO info{};
    ASSERT_EQ(peer->QueryPinInfo(&info), S_OK);
    CLSID clsid{};
    info.pFilter->GetClassID(&clsid);
    EXPECT_EQ(clsid, CLSID_KestruneAvcDecoder);
    IPin* decoderOut = comtest::FindPinByDirection(info.pFilter, PINDIR_OUTPUT);
    IPin* rendererIn = nullptr;
    EXPECT_EQ(decoderOut->ConnectedTo(&rendererIn), S_OK) << "the decoder's output is rendered";
    if (rendererIn) rendererIn->Release();
    decoderOut->Release();
    info.pFilter->Release();
    peer->Release();
    out->Release();
    graph->Release();
    source->Release();
}

// Playback: source -> decoder -> Wine's video renderer, run to the end; the renderer's
// window on the screen against ffmpeg's last picture.
TEST(PelldrinGui, PlaybackShowsTheDecodedPicture) {
    comtest::ComScope com;
    ASSERT_TRUE(SUCCEEDED(com.hr));
    comtest::RegistrationLock registration;
    ASSERT_EQ(comtest::Regsvr32(comtest::WinePath(PELLDRIN_AX), false), 0);
    const int w = 320, h = 240;
    std::string yuv, h264, rgb;
    const std::string src = "-f lavfi -i testsrc2=size=320x240:rate=25 -frames:v 5 -pix_fmt yuv420p";
    ASSERT_TRUE(testsupport::MediaFixture("ffmpeg -v error -y " + src + " -f rawvideo {out}", "yuv", &yuv));
    ASSERT_TRUE(
        testsupport::MediaFixture("x264 --quiet --profile baseline --keyint 1 --qp 12 --input-res 320x240 "
                                  "--fps 25 -o {out} " +
                                      testsupport::FixtureName(yuv),
                                  "264", &h264));
    ASSERT_TRUE(testsupport::MediaFixture(
        "ffmpeg -v error -y -i " + testsupport::FixtureName(h264) + " -pix_fmt rgb24 -f rawvideo {out}", "rgb", &rgb));
    const std::vector<uint8_t> stream = testsupport::ReadFileBytes(h264);
    // The last picture stays on the window when the stream ends.
    const std::vector<uint8_t> decoded = testsupport::ReadFileBytes(rgb);
    ASSERT_EQ(decoded.size(), size_t(w * h * 3 * 5));
    const std::vector<uint8_t> reference(decoded.end() - w * h * 3, decoded.end());

    IGraphBuilder* graph = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                               reinterpret_cast<void**>(&graph)),
              S_OK);
    testfilters::SourceConfig config;
    config.type = ByteStreamType(kMediaSubtypeVssh, w, h, kFrame);
    config.samples = ByteStreamSamples(stream, kFrame);
    auto* source = testfilters::CTestPushSource::Create(std::move(config));
    ASSERT_EQ(graph->AddFilter(source, L"source"), S_OK);
    // The decoder and Wine's video renderer, joined with the decoder's RGB32 type (the
    // renderer would take the first offered type, UYVY, and show it at full range).
    IBaseFilter* decoder = nullptr;
    IBaseFilter* renderer = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_KestruneAvcDecoder, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                               reinterpret_cast<void**>(&decoder)),
              S_OK);
    ASSERT_EQ(CoCreateInstance(CLSID_VideoRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                               reinterpret_cast<void**>(&renderer)),
              S_OK);
    ASSERT_EQ(graph->AddFilter(decoder, L"decoder"), S_OK);
    ASSERT_EQ(graph->AddFilter(renderer, L"renderer"), S_OK);
    IPin* out = comtest::FindPinByDirection(source, PINDIR_OUTPUT);
    IPin* decoderIn = comtest::FindPinByDirection(decoder, PINDIR_INPUT);
    IPin* decoderOut = comtest::FindPinByDirection(decoder, PINDIR_OUTPUT);
    IPin* rendererIn = comtest::FindPinByDirection(renderer, PINDIR_INPUT);
    ASSERT_EQ(graph->ConnectDirect(out, decoderIn, nullptr), S_OK);
    IEnumMediaTypes* types = nullptr;
    ASSERT_EQ(decoderOut->EnumMediaTypes(&types), S_OK);
    AM_MEDIA_TYPE* offered = nullptr;
    CMediaType rgb32;
    while (types->Next(1, &offered, nullptr) == S_OK) {
        if (offered->subtype == MEDIASUBTYPE_RGB32 && rgb32.majortype == GUID_NULL) rgb32 = *offered;
        DeleteMediaType(offered);
    }
    types->Release();
    ASSERT_EQ(rgb32.subtype, MEDIASUBTYPE_RGB32);
    ASSERT_EQ(graph->ConnectDirect(decoderOut, rendererIn, &rgb32), S_OK);
    for (IPin* pin : {out, decoderIn, decoderOut, rendererIn})
        pin->Release();
    IMediaControl* control = nullptr;
    IVideoWindow* window = nullptr;
    ASSERT_EQ(graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control)), S_OK);
    ASSERT_EQ(graph->QueryInterface(IID_IVideoWindow, reinterpret_cast<void**>(&window)), S_OK);
    window->put_WindowStyle(WS_POPUP | WS_CLIPSIBLINGS | WS_CLIPCHILDREN);
    window->SetWindowPosition(60, 60, w, h);
    window->put_Visible(OATRUE);
    control->Pause();
    OAFilterState state = State_Stopped;
    EXPECT_EQ(control->GetState(20000, &state), S_OK);
    EXPECT_EQ(state, State_Paused);
    // Running to the end leaves the last picture on the window.
    control->Run();
    IMediaEvent* events = nullptr;
    ASSERT_EQ(graph->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(&events)), S_OK);
    long code = 0;
    EXPECT_EQ(events->WaitForCompletion(20000, &code), S_OK);
    events->Release();
    Sleep(800);
    ASSERT_TRUE(testsupport::CaptureScreen("pelldrin_playback.png"));
    const std::string crop = testsupport::UniqueName("playback") + ".rgb";
    ASSERT_EQ(
        testsupport::RunShell("convert pelldrin_playback.png -crop 320x240+60+60 +repage -depth 8 rgb:'" + crop + "'"),
        0);
    const std::vector<uint8_t> shown = testsupport::ReadFileBytes(testsupport::FixturePath(crop));
    ASSERT_EQ(shown.size(), reference.size());
    double squares = 0;
    for (size_t i = 0; i < shown.size(); ++i) {
        const double d = static_cast<double>(shown[i]) - reference[i];
        squares += d * d;
    }
    const double mse = squares / static_cast<double>(shown.size());
    const double psnr = mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
    EXPECT_GE(psnr, 35.0) << "the renderer's window against ffmpeg's last picture";
    RecordProperty("psnr", std::to_string(psnr));
    printf("playback PSNR %.2f dB\n", psnr);
    control->Stop();
    window->put_Visible(OAFALSE);
    window->Release();
    control->Release();
    graph->Release();
    decoder->Release();
    renderer->Release();
    source->Release();
}

}  // namespace
