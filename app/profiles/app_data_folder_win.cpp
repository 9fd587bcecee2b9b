#include "app/profiles/app_data_folder_win.h"

#include <windows.h>

#include "app/services/paths.h"

namespace profiles {

bool CreateFolderPath(const std::string& path) {
    return ::CreateFolderPath(CString(path)) != 0;
}

bool WinAppDataFolder::Get(std::string& folder) {
    char path[MAX_PATH] = {};
    if (!GetAppDataFolder(path)) return false;
    folder = path;
    return true;
}

}  // namespace profiles
