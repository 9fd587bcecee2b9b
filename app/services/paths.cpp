#include "app/services/paths.h"

#include <direct.h>
#include <mbstring.h>
#include <objbase.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cstring>
#include <string>

#include "app/services/reg_value.h"
#include "app/services/settings_keys.h"

namespace {

char g_appFolder[MAX_PATH];

void CopyTerminated(char* out, size_t size, const char* text) {
    if (out == nullptr || size == 0) return;
    const size_t n = strnlen(text, size - 1);
    std::memcpy(out, text, n);
    out[n] = '\0';
}

bool IsFolder(const std::string& path) {
    const DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

// The path the system reaches when it opens `path` (links followed), "" when unknown.
std::string FinalPath(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return {};
    char real[MAX_PATH * 2];
    const DWORD n = GetFinalPathNameByHandleA(h, real, sizeof real, FILE_NAME_NORMALIZED);
    CloseHandle(h);
    if (n == 0 || n >= sizeof real) return {};
    return std::string(real, n);
}

// A folder entry that is a link (symbolic link, junction, mount point) rather than a file or
// folder of its own. Besides the reparse attribute, the place that opening the entry reaches must be
// the entry's own place inside its parent (`parentFinal`, the parent's FinalPath): it is not
// when the system follows a link it does not mark (a Unix symbolic link seen through Wine).
// An entry that cannot be judged counts as a link, so it is never walked into.
bool IsLinkedEntry(const std::string& parentFinal, const std::string& entry, const char* name, DWORD attributes) {
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return true;
    if (parentFinal.empty()) return true;
    const std::string expected = parentFinal + (parentFinal.back() == '\\' ? "" : "\\") + name;
    return _stricmp(FinalPath(entry).c_str(), expected.c_str()) != 0;
}

// Removes a link (to a file or a folder) itself, never what it points to. Only done when the
// system opens the link rather than its target: Wine follows Unix symbolic links even then,
// and deleting through such a handle would delete the target, so there the link stays.
bool RemoveLink(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    bool done = false;
    if (GetFileInformationByHandle(h, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        FILE_DISPOSITION_INFO dispose = {TRUE};
        done = SetFileInformationByHandle(h, FileDispositionInfo, &dispose, sizeof dispose) != 0;
    }
    CloseHandle(h);
    return done;
}

int DeleteTree(const std::string& folder, int depth) {
    if (!IsFolder(folder)) return 0;
    if (depth < 64) {
        WIN32_FIND_DATAA found;
        HANDLE find = FindFirstFileA((folder + "\\*.*").c_str(), &found);
        const std::string parentFinal = FinalPath(folder);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                if (!std::strcmp(found.cFileName, ".") || !std::strcmp(found.cFileName, "..")) continue;
                const std::string entry = folder + "\\" + found.cFileName;
                if (IsLinkedEntry(parentFinal, entry, found.cFileName, found.dwFileAttributes)) {
                    RemoveLink(entry);
                } else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    DeleteTree(entry, depth + 1);
                } else {
                    SetFileAttributesA(entry.c_str(), FILE_ATTRIBUTE_NORMAL);
                    DeleteFileA(entry.c_str());
                }
            } while (FindNextFileA(find, &found));
            FindClose(find);
        }
    }
    return RemoveDirectoryA(folder.c_str()) ? 1 : 0;
}

void Walk(const std::string& folder, CStringArray& files, const char* extensions, int recurse, int depth) {
    WIN32_FIND_DATAA found;
    char pattern[MAX_PATH + 8];
    CopyTerminated(pattern, MAX_PATH, folder.c_str());
    PathAddBackslashA(pattern);
    const std::string base = pattern;
    HANDLE find = FindFirstFileA((base + "*.*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return;
    const std::string parentFinal = FinalPath(folder);
    do {
        if (!std::strcmp(found.cFileName, ".") || !std::strcmp(found.cFileName, "..")) continue;
        const std::string entry = base + found.cFileName;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (recurse && depth < 64 && !IsLinkedEntry(parentFinal, entry, found.cFileName, found.dwFileAttributes))
                Walk(entry, files, extensions, recurse, depth + 1);
            continue;
        }
        if (extensions == nullptr) continue;
        char ext[_MAX_EXT] = {};
        _splitpath(entry.c_str(), nullptr, nullptr, nullptr, ext);
        _mbslwr(reinterpret_cast<unsigned char*>(ext));
        if (_mbsstr(reinterpret_cast<const unsigned char*>(extensions), reinterpret_cast<unsigned char*>(ext)))
            files.Add(CString(entry));
    } while (FindNextFileA(find, &found));
    FindClose(find);
}

}  // namespace

void GetModuleFolder(HMODULE module, char* out, DWORD size) {
    if (out == nullptr || size == 0) return;
    char path[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameA(module, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) {
        out[0] = '\0';
        return;
    }
    char drive[_MAX_DRIVE], dir[_MAX_DIR];
    _splitpath(path, drive, dir, nullptr, nullptr);
    CopyTerminated(out, size, (std::string(drive) + dir).c_str());
}

int FindProgramFolder(char* out) {
    GetModuleFolder(nullptr, out, MAX_PATH);
    const std::string marker = std::string(out) + "Malrt.dll";
    if (marker.size() < MAX_PATH && PathFileExistsA(marker.c_str())) return 1;
    const DWORD n = GetCurrentDirectoryA(MAX_PATH, out);
    if (n == 0 || n >= MAX_PATH) {
        out[0] = '\0';
        return 0;
    }
    return static_cast<int>(n);
}

void SetAppFolder(const char* path) {
    CopyTerminated(g_appFolder, MAX_PATH, path ? path : "");
    const size_t n = std::strlen(g_appFolder);
    if ((n == 0 || g_appFolder[n - 1] != '\\') && n + 1 < MAX_PATH) {
        g_appFolder[n] = '\\';
        g_appFolder[n + 1] = '\0';
    }
}

char* GetAppFolder(char* out, DWORD size) {
    CopyTerminated(out, size, g_appFolder);
    return out;
}

int GetAppDataFolder(char* out) {
    char base[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathA(nullptr, base, CSIDL_APPDATA, TRUE)) return 0;
    CRegStringValue version(HKEY_LOCAL_MACHINE, kVistrelKey, "Version", 0);
    version.Read();
    std::string folder = std::string(base) + "\\Corvane\\Vistrel\\";
    if (!version.IsEmpty()) folder += std::string(version.GetString()) + "\\";
    CopyTerminated(out, MAX_PATH, folder.c_str());
    CreateFolderPath(out);
    return 1;
}

int CreateFolderPath(CString path) {
    const std::string p = path.str();
    if (PathFileExistsA(p.c_str())) {
        SetFileAttributesA(p.c_str(), FILE_ATTRIBUTE_NORMAL);
        return 1;
    }
    for (size_t pos = p.find('\\', 3); pos != std::string::npos; pos = p.find('\\', pos + 1)) {
        const std::string folder = p.substr(0, pos);
        if (!IsFolder(folder) && _mkdir(folder.c_str()) != 0) return 0;
    }
    SetFileAttributesA(p.c_str(), FILE_ATTRIBUTE_NORMAL);
    return 1;
}

int DeleteFolderTree(const char* folder) {
    if (folder == nullptr) return 0;
    std::string f = folder;
    while (f.size() > 3 && f.back() == '\\')
        f.pop_back();
    return DeleteTree(f, 0);
}

CString ResolveShortcut(const char* path) {
    CString result(path);
    if (result.IsEmpty()) return result;
    const HRESULT init = CoInitialize(nullptr);
    IShellLinkA* link = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                   reinterpret_cast<void**>(&link)))) {
        IPersistFile* file = nullptr;
        if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
            wchar_t wide[MAX_PATH] = {};
            if (MultiByteToWideChar(CP_ACP, 0, path, -1, wide, MAX_PATH) > 0 &&
                SUCCEEDED(file->Load(wide, STGM_READ))) {
                char target[MAX_PATH] = {};
                WIN32_FIND_DATAA data;
                if (SUCCEEDED(link->GetPath(target, MAX_PATH, &data, SLGP_UNCPRIORITY)) && target[0] != '\0')
                    result = target;
            }
            file->Release();
        }
        link->Release();
    }
    if (SUCCEEDED(init)) CoUninitialize();
    return result;
}

int WalkFolderRecursive(const char* path, CStringArray& files, const char* extensions, int recurse) {
    const CString resolved = ResolveShortcut(path);
    if (!PathIsDirectoryA(resolved.c_str())) {
        files.Add(resolved);
        return files.GetSize();
    }
    Walk(resolved.str(), files, extensions, recurse, 0);
    return files.GetSize();
}
