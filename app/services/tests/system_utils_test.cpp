#include "app/services/system_utils.h"

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "framework/app.h"
#include "tests/support/shell.h"

namespace {

// A copy of this program started with SERVICES_TEST_LINGER set only waits to be counted.
const bool kLingering = [] {
    char value[8];
    if (GetEnvironmentVariableA("SERVICES_TEST_LINGER", value, sizeof value) > 0) {
        Sleep(60000);
        ExitProcess(0);
    }
    return false;
}();

TEST(FileLock, HeldFilesRefuseWritersUntilTheLastClose) {
    const std::string path = testsupport::FixturePath(testsupport::UniqueName("locked"));
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    const auto canWrite = [&] {
        HANDLE w = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               0, nullptr);
        if (w == INVALID_HANDLE_VALUE) return false;
        CloseHandle(w);
        return true;
    };

    EXPECT_EQ(CFileHandleMap::Close(path.c_str()), 0);  // never opened
    EXPECT_EQ(CFileHandleMap::Open(path.c_str()), 1);
    EXPECT_EQ(CFileHandleMap::Open(path.c_str()), 0);  // already held: counted
    EXPECT_EQ(CFileHandleMap::GetCount(path.c_str()), 2);
    EXPECT_FALSE(canWrite());
    EXPECT_FALSE(DeleteFileA(path.c_str()));
    // Readers are welcome.
    HANDLE r = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(r, INVALID_HANDLE_VALUE);
    CloseHandle(r);

    EXPECT_EQ(CFileHandleMap::Close(path.c_str()), 1);
    EXPECT_FALSE(canWrite());
    EXPECT_EQ(CFileHandleMap::Close(path.c_str()), 0);
    EXPECT_TRUE(canWrite());
    EXPECT_EQ(CFileHandleMap::GetCount(path.c_str()), 0);
    EXPECT_EQ(CFileHandleMap::Open((path + ".missing").c_str()), 0);
    EXPECT_TRUE(DeleteFileA(path.c_str()));
}

TEST(Bitmaps, DisplayDibAndRectangles) {
    HBITMAP dib = nullptr;
    void* pixels = nullptr;
    ASSERT_EQ(CreateDisplayDib(320, -240, &dib, &pixels), 1);
    ASSERT_NE(pixels, nullptr);
    DIBSECTION ds{};
    ASSERT_EQ(GetObjectA(dib, sizeof ds, &ds), static_cast<int>(sizeof ds));
    EXPECT_EQ(ds.dsBmih.biSizeImage, 320u * 240 * 4);
    EXPECT_EQ(ds.dsBm.bmBitsPixel, 32);
    EXPECT_EQ(ds.dsBm.bmHeight, 240);
    // Top-down: the first row in memory is the top row. Paint the pixel at (10, 0) and (10, 5).
    auto* p = static_cast<uint32_t*>(pixels);
    p[10] = 0x00FF0000;
    p[5 * 320 + 12] = 0x000000FF;

    HBITMAP part = CopyBitmapRect(dib, 10, 0, 4, 6);
    ASSERT_NE(part, nullptr);
    HDC screen = GetDC(nullptr);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = 4;
    info.bmiHeader.biHeight = -6;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    uint32_t back[24] = {};
    EXPECT_EQ(GetDIBits(screen, part, 0, 6, back, &info, DIB_RGB_COLORS), 6);
    ReleaseDC(nullptr, screen);
    EXPECT_EQ(back[0] & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(back[5 * 4 + 2] & 0xFFFFFF, 0x0000FFu);
    EXPECT_EQ(back[1] & 0xFFFFFF, 0u);
    DeleteObject(part);
    DeleteObject(dib);
    EXPECT_EQ(CreateDisplayDib(0, 10, &dib, &pixels), 0);
}

TEST(Bitmaps, FailuresAreReportedByTheirMessages) {
    std::vector<std::string> shown;
    AfxSetMessageBoxHook([&](const MessageBoxRequest& r) {
        shown.push_back(r.text.str());
        return IDOK;
    });
    EXPECT_EQ(LoadBitmapResource(GetModuleHandleA(nullptr), "NOSUCHBITMAP"), nullptr);
    EXPECT_EQ(CopyBitmapRect(nullptr, 0, 0, 4, 4), nullptr);
    EXPECT_EQ(LoadBitmapResourceRect(GetModuleHandleA(nullptr), "NOSUCHBITMAP", 0, 0, 1, 1), nullptr);
    EXPECT_EQ(LoadImageFileBitmap(testsupport::FixturePath("no_such.png").c_str()), nullptr);
    EXPECT_EQ(LoadBitmapFileRect(testsupport::FixturePath("no_such.png").c_str(), 0, 0, 1, 1), nullptr);
    AfxSetMessageBoxHook(nullptr);
    EXPECT_EQ(shown, (std::vector<std::string>{"Load bitmap resource [NOSUCHBITMAP] fail.", "Copy bitmap fail.",
                                               "Load bitmap resource [NOSUCHBITMAP] fail."}));
}

TEST(Bitmaps, ImageFilesLoadWholeOrByRectangle) {
    ASSERT_EQ(testsupport::RunShell("[ -s utils_grid.bmp ] || ffmpeg -nostdin -loglevel error -y -f lavfi -i "
                                    "color=c=red:size=8x8,format=bgr24 -frames:v 1 -update 1 utils_grid.bmp"),
              0);
    const std::string path = testsupport::FixturePath("utils_grid.bmp");
    HBITMAP dib = LoadImageFileBitmap(path.c_str());
    ASSERT_NE(dib, nullptr);
    DIBSECTION ds{};
    EXPECT_EQ(GetObjectA(dib, sizeof ds, &ds), static_cast<int>(sizeof ds));
    EXPECT_EQ(ds.dsBm.bmWidth, 8);
    DeleteObject(dib);
    HBITMAP part = LoadBitmapFileRect(path.c_str(), 2, 2, 3, 5);
    ASSERT_NE(part, nullptr);
    BITMAP bm{};
    GetObjectA(part, sizeof bm, &bm);
    EXPECT_EQ(bm.bmWidth, 3);
    EXPECT_EQ(bm.bmHeight, 5);
    HDC screen = GetDC(nullptr);
    EXPECT_EQ(GetPixel(screen, 0, 0) == CLR_INVALID, false);
    HDC dc = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(dc, part);
    EXPECT_EQ(GetPixel(dc, 1, 1), RGB(255, 0, 0));
    SelectObject(dc, old);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    DeleteObject(part);
}

// A power library that records what it is asked.
class FakePower : public PowerLibrary {
public:
    static FakePower* self;
    bool present = true;
    int loads = 0, unloads = 0;
    UINT scheme = 3;
    MACHINE_PROCESSOR_POWER_POLICY stored{};
    std::vector<std::string> calls;
    GLOBAL_POWER_POLICY lastGlobal{};
    bool activatedWithPolicies = false;

    bool Load(PowerApi* api) override {
        ++loads;
        if (!present) return false;
        self = this;
        api->getActivePwrScheme = [](PUINT s) -> BOOLEAN {
            self->calls.push_back("GetActive");
            *s = self->scheme;
            return TRUE;
        };
        api->getCurrentPowerPolicies = [](PGLOBAL_POWER_POLICY g, PPOWER_POLICY) -> BOOLEAN {
            self->calls.push_back("GetPolicies");
            g->user.Revision = 77;
            return TRUE;
        };
        api->readProcessorPwrScheme = [](UINT, PMACHINE_PROCESSOR_POWER_POLICY p) -> BOOLEAN {
            self->calls.push_back("ReadProcessor");
            *p = self->stored;
            return TRUE;
        };
        api->writeProcessorPwrScheme = [](UINT s, PMACHINE_PROCESSOR_POWER_POLICY p) -> BOOLEAN {
            self->calls.push_back("WriteProcessor " + std::to_string(s) + " throttle " +
                                  std::to_string(p->ProcessorPolicyAc.DynamicThrottle) + "/" +
                                  std::to_string(p->ProcessorPolicyDc.DynamicThrottle));
            self->stored = *p;
            return TRUE;
        };
        api->setActivePwrScheme = [](UINT s, PGLOBAL_POWER_POLICY g, PPOWER_POLICY) -> BOOLEAN {
            self->calls.push_back("SetActive " + std::to_string(s) + (g ? " with policies" : ""));
            if (g) self->lastGlobal = *g;
            return TRUE;
        };
        return true;
    }
    void Unload() override { ++unloads; }
};
FakePower* FakePower::self = nullptr;

TEST(PowerSaving, NestedPairsRestoreTheOriginalOnce) {
    FakePower power;
    power.stored.ProcessorPolicyAc.DynamicThrottle = 2;
    power.stored.ProcessorPolicyDc.DynamicThrottle = 3;
    SetPowerLibrary(&power);

    EXPECT_EQ(RestorePowerScheme(), 1);  // unbalanced: nothing happens
    EXPECT_TRUE(power.calls.empty());

    EXPECT_EQ(DisablePowerSaving(), 1);
    EXPECT_EQ(power.calls, (std::vector<std::string>{"GetActive", "GetPolicies", "GetActive", "ReadProcessor",
                                                     "WriteProcessor 3 throttle 0/0", "SetActive 3"}));
    power.calls.clear();
    EXPECT_EQ(DisablePowerSaving(), 1);  // nested: no change, nothing saved over the original
    EXPECT_EQ(RestorePowerScheme(), 1);
    EXPECT_TRUE(power.calls.empty());

    EXPECT_EQ(RestorePowerScheme(), 1);  // the outermost restore puts the original back
    EXPECT_EQ(power.calls, (std::vector<std::string>{"WriteProcessor 3 throttle 2/3", "SetActive 3 with policies"}));
    EXPECT_EQ(power.lastGlobal.user.Revision, 77u);
    power.calls.clear();
    EXPECT_EQ(RestorePowerScheme(), 1);
    EXPECT_TRUE(power.calls.empty());
    EXPECT_EQ(power.loads, power.unloads);  // the library is freed on every path

    // Without the library nothing changes and capture goes on.
    FakePower missing;
    missing.present = false;
    SetPowerLibrary(&missing);
    EXPECT_EQ(SavePowerPolicy(), 0);
    EXPECT_EQ(DisablePowerSaving(), 1);
    EXPECT_EQ(RestorePowerScheme(), 1);
    SetPowerLibrary(nullptr);
}

TEST(PowerSaving, ScreenSaverNestingRestoresTheUsersSettingOnce) {
    BOOL active = FALSE;
    ASSERT_TRUE(SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, TRUE, nullptr, 0));
    RestoreScreenSaver();  // unbalanced: no change
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETSCREENSAVEACTIVE, 0, &active, 0));
    EXPECT_TRUE(active);
    DisableScreenSaver();
    DisableScreenSaver();
    SystemParametersInfoA(SPI_GETSCREENSAVEACTIVE, 0, &active, 0);
    EXPECT_FALSE(active);
    RestoreScreenSaver();
    SystemParametersInfoA(SPI_GETSCREENSAVEACTIVE, 0, &active, 0);
    EXPECT_FALSE(active);
    RestoreScreenSaver();
    SystemParametersInfoA(SPI_GETSCREENSAVEACTIVE, 0, &active, 0);
    EXPECT_TRUE(active);
}

TEST(Instances, CountsProgramsByFileName) {
    const char* names[] = {"vistrel.exe",  "VISTREL.EXE",  "C:\\other\\Vistrel.com",
                           "vistrel2.exe", "explorer.exe", "vistre.exe"};
    EXPECT_EQ(CountSameProgram("C:\\Program Files\\Vistrel\\Vistrel.exe", names, 6), 3);
    EXPECT_EQ(CountSameProgram("C:\\x\\explorer.exe", names, 6), 1);

    EXPECT_EQ(IsAnotherInstanceRunning(), 0);
    // A copy of this program under another folder, its name in other letters, still counts.
    char own[MAX_PATH];
    GetModuleFileNameA(nullptr, own, MAX_PATH);
    std::string file = std::strrchr(own, '\\') + 1;
    for (char& c : file)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    const std::string folder = testsupport::FixturePath(testsupport::UniqueName("copy"));
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    const std::string copy = folder + "\\" + file;
    ASSERT_TRUE(CopyFileA(own, copy.c_str(), FALSE));
    SetEnvironmentVariableA("SERVICES_TEST_LINGER", "1");
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::string commandLine = "\"" + copy + "\"";
    const BOOL started =
        CreateProcessA(copy.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
    SetEnvironmentVariableA("SERVICES_TEST_LINGER", nullptr);
    ASSERT_TRUE(started);
    int seen = 0;
    for (int i = 0; i < 100 && !seen; ++i) {
        seen = IsAnotherInstanceRunning();
        if (!seen) Sleep(50);
    }
    EXPECT_EQ(seen, 1);
    TerminateProcess(pi.hProcess, 0);
    WaitForSingleObject(pi.hProcess, 10000);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    DeleteFileA(copy.c_str());
    RemoveDirectoryA(folder.c_str());
}

TEST(ViewerSize, FitsTheScreen) {
    struct Case {
        int screenHeight, width, height, outWidth, outHeight;
    } cases[] = {
        {768, 640, 480, 640, 480}, {768, 1280, 720, 800, 600}, {768, 160, 120, 300, 225}, {768, 320, 240, 320, 240},
        {768, 799, 599, 799, 599}, {768, 800, 100, 800, 600},  {768, 100, 600, 800, 600}, {1024, 319, 500, 300, 225},
        {600, 1280, 720, 11, 22},  // below 768 pixels high: unchanged
    };
    for (const Case& c : cases) {
        int32_t w = 11, h = 22;
        FitViewerSize(c.screenHeight, &w, &h, c.width, c.height);
        EXPECT_EQ(w, c.outWidth) << c.width << "x" << c.height << " on " << c.screenHeight;
        EXPECT_EQ(h, c.outHeight) << c.width << "x" << c.height << " on " << c.screenHeight;
    }
}

}  // namespace
