#include "app/app_startup.h"

#include <direct.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/resources/resource_ids.h"
#include "app/services/paths.h"
#include "app/services/reg_value.h"
#include "app/skin/skin_images.h"
#include "app/skin/skin_layout.h"
#include "app/splash_about.h"
#include "framework/app.h"

namespace {

constexpr char kSplitterKey[] = "Software\\Corvane\\common\\BrevSplitter";
constexpr char kHarvexKey[] = "Software\\Corvane\\common\\Harvex\\Vistrel";

void WriteDword(const char* subkey, const char* name, DWORD value) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, subkey, 0, KEY_WRITE, &key) != ERROR_SUCCESS &&
        RegCreateKeyExA(HKEY_CURRENT_USER, subkey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    RegCloseKey(key);
}

std::string SplitterCacheFolder() {
    char folder[MAX_PATH] = {};
    if (!GetAppDataFolder(folder)) return {};
    return std::string(folder) + "SpltrCache";
}

}  // namespace

const char* GetSkinFileName(int screenWidth) {
    if (screenWidth >= 1024) return "skin\\skin1024x768.xml";
    if (screenWidth >= 800) return "skin\\skin800x600.xml";
    return "";
}

const char* GetSkinImageFolder(int screenWidth) {
    if (screenWidth >= 1024) return "skin\\1024x768";
    if (screenWidth >= 800) return "skin\\800x600";
    return "";
}

void SelectSkinImages() {
    SetSkinImageSource(GetSkinImageFolder(GetSystemMetrics(SM_CXSCREEN)), kSkinImageFolder);
}

int LoadSkin() {
    if (CSkinLayout::Load(GetSkinFileName(GetSystemMetrics(SM_CXSCREEN)))) return 1;
    ShowMessage("Skin");
    return 0;
}

void FreeSkin() {
    CSkinLayout::Free();
}

CSplashWnd* ShowSplash() {
    auto* splash = new CSplashWnd(nullptr);
    if (!splash->Create(IDD_SPLASH, nullptr)) {
        delete splash;
        ShowMessage("Create splash fail");
        return nullptr;
    }
    splash->SetWindowPos(HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    splash->ShowWindow(SW_SHOW);
    splash->UpdateWindow();
    return splash;
}

void SetSplashText(CSplashWnd* splash, const char* text) {
    if (splash && splash->m_hWnd) splash->SetStatusText(text);
}

int CloseSplash(CSplashWnd** splash) {
    if (!splash || !*splash) return 0;
    (*splash)->DestroyWindow();
    delete *splash;
    *splash = nullptr;
    return 1;
}

void WriteComponentSettings() {
    WriteDword(kSplitterKey, "Vistrel", 2050);
    const std::string cache = SplitterCacheFolder();
    if (!cache.empty()) {
        _mkdir(cache.c_str());
        SetFileAttributesA(cache.c_str(), FILE_ATTRIBUTE_HIDDEN);
        CRegStringValue(HKEY_CURRENT_USER, (std::string(kSplitterKey) + "\\Marquill").c_str(), "TempFolder", 1)
            .Set(cache.c_str());
    }
    WriteDword(kHarvexKey, "UIVMode", 4);
    CRegDwordValue(HKEY_CURRENT_USER, "Software\\Corvane\\MediaObj\\Vistrel", "ForcePellaud", 1).Set(6);
    CRegDwordValue(HKEY_CURRENT_USER, "Software\\Corvane\\Tamsel\\Vistrel", "ForcePellaud", 1).Set(6);
}

void RemoveComponentSettings() {
    RegDeleteKeyA(HKEY_CURRENT_USER, kHarvexKey);
    const std::string cache = SplitterCacheFolder();
    if (!cache.empty()) DeleteFolderTree(cache.c_str());
}

int IsInstallLanguage() {
    CRegDwordValue language(HKEY_LOCAL_MACHINE, "Software\\Corvane\\Vistrel\\1.0", "DovikSLang", 0);
    if (!language.Read()) language.Set(9);
    return GetSystemDefaultLangID() == language.Get() ? 1 : 0;
}

int GuiFontTenths(int size, int dotsPerInch) {
    return dotsPerInch > 0 ? size * 960 / dotsPerInch : size * 10;
}

BOOL MakeGuiFont(CFont& font) {
    CString face = AfxLoadString(IDS_GUI_FONT_FACE);
    CString size = AfxLoadString(IDS_CAPTION_POINT_SIZE);
    if (GetSystemMetrics(SM_CYSCREEN) <= 600) size = AfxLoadString(IDS_SMALL_FONT_SIZE);
    if (!IsInstallLanguage()) {
        size = AfxLoadString(IDS_CAPTION_POINT_SIZE);
        CRegStringValue system(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\GRE_Initialize",
                               "GUIFont.FaceName", 0);
        if (system.Read() && !system.IsEmpty()) face = system.GetString();
    }
    HDC dc = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
    const int dpi = dc ? GetDeviceCaps(dc, LOGPIXELSY) : 96;
    if (dc) DeleteDC(dc);
    return font.CreatePointFont(GuiFontTenths(atoi(size.c_str()), dpi), face);
}

void ShowMessage(const char* format, ...) {
    char text[544];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    AfxMessageBox(text, MB_OK);
}
