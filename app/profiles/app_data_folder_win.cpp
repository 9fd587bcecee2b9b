#include "app/profiles/app_data_folder_win.h"

#include <direct.h>
#include <shlobj.h>
#include <windows.h>

namespace profiles {
namespace {

// The installation's "Version" value (HKEY_LOCAL_MACHINE), empty when it is missing or
// not a string. Read bounded: at most 1,023 characters.
std::string InstalledVersion() {
    char value[1024] = {};
    DWORD size = sizeof value - 1;
    DWORD type = 0;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Corvane\\Vistrel\\1.0", 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return {};
    }
    LONG r = RegQueryValueExA(key, "Version", nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    if (r != ERROR_SUCCESS || type != REG_SZ) return {};
    value[size < sizeof value ? size : sizeof value - 1] = '\0';
    return value;
}

bool FolderExists(const std::string& path) {
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

bool CreateFolderPath(const std::string& path) {
    if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        return true;
    }
    // Past a drive root such as "C:\".
    for (size_t pos = path.find('\\', 3); pos != std::string::npos; pos = path.find('\\', pos + 1)) {
        const std::string folder = path.substr(0, pos);
        if (!FolderExists(folder) && _mkdir(folder.c_str()) != 0) return false;
    }
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    return true;
}

bool WinAppDataFolder::Get(std::string& folder) {
    char base[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathA(nullptr, base, CSIDL_APPDATA, TRUE)) return false;
    folder = base;
    folder += "\\Corvane\\Vistrel\\";
    const std::string version = InstalledVersion();
    if (!version.empty()) folder += version + "\\";
    CreateFolderPath(folder);
    return true;
}

}  // namespace profiles
