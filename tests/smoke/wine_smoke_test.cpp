// End-to-end check of the Windows path under Wine: the registry, the DirectShow filter
// graph manager and MSXML through COM, and a fixture made on the Linux side.
#include <windows.h>

#include <dshow.h>
#include <msxml2.h>

#include <cstdlib>
#include <fstream>

#include <gtest/gtest.h>

#include "tests/support/media_fixture.h"
#include "tests/support/shell.h"

namespace {

// MSXML 3's public class and interface identifiers; mingw's headers declare them but no
// import library defines them.
constexpr CLSID kClsidDomDocument30 = {0xf5078f32, 0xc551, 0x11d3, {0x89, 0xb9, 0x00, 0x00, 0xf8, 0x1f, 0xe2, 0x21}};
constexpr IID kIidXmlDomDocument = {0x2933bf81, 0x7b36, 0x11d2, {0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60}};

struct ComScope {
    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ~ComScope() {
        if (SUCCEEDED(hr)) CoUninitialize();
    }
};

}  // namespace

TEST(WineSmoke, RegistryValueRoundTrips) {
    const wchar_t* key_path = L"Software\\CaptureSuiteTests\\Smoke";
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, key_path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const DWORD written = 0x12345678;
    ASSERT_EQ(RegSetValueExW(key, L"Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&written), sizeof written),
              ERROR_SUCCESS);
    DWORD read = 0, type = 0, size = sizeof read;
    ASSERT_EQ(RegQueryValueExW(key, L"Number", nullptr, &type, reinterpret_cast<BYTE*>(&read), &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(read, written);
    RegCloseKey(key);
    EXPECT_EQ(RegDeleteTreeW(HKEY_CURRENT_USER, key_path), ERROR_SUCCESS);
}

TEST(WineSmoke, FilterGraphManagerIsCreatable) {
    ComScope com;
    ASSERT_TRUE(SUCCEEDED(com.hr));
    IGraphBuilder* graph = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                               reinterpret_cast<void**>(&graph)),
              S_OK);
    IMediaControl* control = nullptr;
    EXPECT_EQ(graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control)), S_OK);
    if (control) control->Release();
    EXPECT_EQ(graph->Release(), 0u);
}

TEST(WineSmoke, MsxmlParsesADocument) {
    ComScope com;
    ASSERT_TRUE(SUCCEEDED(com.hr));
    IXMLDOMDocument* doc = nullptr;
    ASSERT_EQ(CoCreateInstance(kClsidDomDocument30, nullptr, CLSCTX_INPROC_SERVER, kIidXmlDomDocument,
                               reinterpret_cast<void**>(&doc)),
              S_OK);
    BSTR xml = SysAllocString(L"<skin><view name=\"main\" width=\"800\"/></skin>");
    VARIANT_BOOL ok = VARIANT_FALSE;
    EXPECT_EQ(doc->loadXML(xml, &ok), S_OK);
    EXPECT_EQ(ok, VARIANT_TRUE);
    SysFreeString(xml);

    BSTR query = SysAllocString(L"/skin/view/@width");
    IXMLDOMNode* node = nullptr;
    ASSERT_EQ(doc->selectSingleNode(query, &node), S_OK);
    SysFreeString(query);
    BSTR text = nullptr;
    EXPECT_EQ(node->get_text(&text), S_OK);
    EXPECT_STREQ(text, L"800");
    SysFreeString(text);
    node->Release();
    doc->Release();
}

TEST(WineSmoke, FixtureMadeOnTheLinuxSideIsReadable) {
    std::string path;
    ASSERT_TRUE(testsupport::MediaFixture(
        "ffmpeg -f lavfi -i color=c=black:size=32x32:rate=25 -frames:v 2 -pix_fmt yuv420p -f rawvideo {out}", "yuv",
        &path));
    ASSERT_EQ(path.rfind("Z:\\", 0), 0u) << path;
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    EXPECT_EQ(static_cast<long long>(in.tellg()), 2ll * 32 * 32 * 3 / 2);
}

// The runner starts every program with address-space randomisation off (ADDR_NO_RANDOMIZE,
// 0x0040000): otherwise Wine's early heap may land on the page Wine needs at 0x7ffe0000
// and the program exits before it starts. Processes a program starts inherit the setting,
// as this shell does from the test.
TEST(WineSmoke, ProgramsRunWithoutAddressSpaceRandomisation) {
    const std::string out = testsupport::UniqueName("personality");
    ASSERT_EQ(testsupport::RunShell("cat /proc/self/personality > '" + out + "'"), 0);
    const std::string text = testsupport::ReadFixtureFile(out);
    ASSERT_FALSE(text.empty());
    EXPECT_NE(std::strtoul(text.c_str(), nullptr, 16) & 0x0040000ul, 0ul) << "personality " << text;
}
