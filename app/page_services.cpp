#include "app/page_services.h"

#include <setupapi.h>

#include <cstring>
#include <string>

#include "engines/interfaces.h"

const GUID kCaptureDeviceClass = {0x65e8773d, 0x8f56, 0x11d0, {0xa3, 0xb9, 0x00, 0xa0, 0xc9, 0x22, 0x31, 0x96}};

int ClassifyWindowsVersion(DWORD platformId, DWORD major, DWORD minor) {
    if (platformId == VER_PLATFORM_WIN32_WINDOWS) {
        if (minor == 0) return 1;
        if (minor == 10) return 2;
        if (minor == 90) return 3;
        return 0;
    }
    if (platformId == VER_PLATFORM_WIN32_NT) {
        if (major == 3) return 4;
        if (major == 4) return 5;
        if (major == 5 && minor == 0) return 6;
        if (major == 5 && minor == 1) return 7;
    }
    return 0;
}

int GetWindowsVersionClass() {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExA(&info)) return 0;
#pragma GCC diagnostic pop
    return ClassifyWindowsVersion(info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion);
}

namespace {

// A device of the capture class counts as DV when its name or path says so: the
// Microsoft DV camcorder driver names its devices "... DV ..." and AV/C units sit on 1394.
bool LooksLikeDV(std::string text) {
    for (char& c : text)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    if (text.find("1394") != std::string::npos || text.find("avc") != std::string::npos) return true;
    size_t at = 0;
    while ((at = text.find("dv", at)) != std::string::npos) {
        const bool startOk = at == 0 || !isalpha(static_cast<unsigned char>(text[at - 1]));
        const bool endOk = at + 2 >= text.size() || !isalpha(static_cast<unsigned char>(text[at + 2]));
        if (startOk && endOk) return true;
        at += 2;
    }
    return false;
}

}  // namespace

int FindDVDeviceInDeviceClasses(int) {
    HDEVINFO set = SetupDiGetClassDevsA(&kCaptureDeviceClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return 0;
    int found = 0;
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    for (DWORD i = 0; !found && SetupDiEnumDeviceInterfaces(set, nullptr, &kCaptureDeviceClass, i, &data); ++i) {
        // Linked: the interface is enabled (SPINT_ACTIVE).
        if (!(data.Flags & SPINT_ACTIVE)) continue;
        char buffer[1024] = {};
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer);
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        if (!SetupDiGetDeviceInterfaceDetailA(set, &data, detail, sizeof buffer - 1, nullptr, &device)) continue;
        std::string text = detail->DevicePath;
        char name[512] = {};
        if (SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_FRIENDLYNAME, nullptr, reinterpret_cast<BYTE*>(name),
                                              sizeof name - 1, nullptr))
            text += std::string(" ") + name;
        found = LooksLikeDV(text) ? 1 : 0;
    }
    SetupDiDestroyDeviceInfoList(set);
    return found;
}

int QueryEngineStringInclude(char* text) {
    if (!text) return 0;
    text[0] = 0;
    IEngineInfo* info = nullptr;
    if (FAILED(CoCreateInstance(CLSID_EngineInfo, nullptr, CLSCTX_INPROC_SERVER, IID_IEngineInfo,
                                reinterpret_cast<void**>(&info))) ||
        !info)
        return 0;
    char buffer[256] = "include MicroMV";
    const HRESULT hr = info->QueryString(buffer, sizeof buffer);
    info->Release();
    if (FAILED(hr)) return 0;
    buffer[sizeof buffer - 1] = 0;
    memcpy(text, buffer, sizeof buffer);
    return 1;
}
