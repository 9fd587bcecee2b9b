#include "app/services/preferences.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <cstring>

#include "app/services/reg_value.h"
#include "app/services/settings_keys.h"
#include "app/services/text_core.h"
#include "app/services/tv_format.h"

namespace {

CString WithBackslash(const char* folder) {
    CString s(folder);
    if (s.IsEmpty() || s.GetAt(s.GetLength() - 1) != '\\') s += '\\';
    return s;
}

CString GetFolder(const char* name) {
    CRegStringValue value(HKEY_CURRENT_USER, kVistrelKey, name, 1);
    if (value.Read() && !value.IsEmpty() && PathIsDirectoryA(value.GetString()))
        return WithBackslash(value.GetString());
    return GetDocumentsFolder();
}

void SetFolder(const char* name, const char* folder) {
    const CString stored = (folder != nullptr && folder[0] != '\0' && PathIsDirectoryA(folder)) ? WithBackslash(folder)
                                                                                                : GetDocumentsFolder();
    CRegStringValue(HKEY_CURRENT_USER, kVistrelKey, name, 1).Set(stored);
}

CString GetPrefix(const char* name, const char* fallback) {
    CRegStringValue value(HKEY_CURRENT_USER, kVistrelKey, name, 1);
    if (value.Read() && !value.IsEmpty()) return CString(value.GetString());
    return CString(fallback);
}

DWORD GetSwitch(const char* name, DWORD fallback, bool writeBack) {
    CRegBinValue value(HKEY_CURRENT_USER, kVistrelKey, name, 1);
    if (value.Read()) return value.Get();
    if (writeBack) value.Set(fallback);
    return fallback;
}

void SetSwitch(const char* name, DWORD v) {
    CRegBinValue(HKEY_CURRENT_USER, kVistrelKey, name, 1).Set(v);
}

void SetText(const char* name, const char* text) {
    CRegStringValue(HKEY_CURRENT_USER, kVistrelKey, name, 1).Set(text ? text : "");
}

}  // namespace

CString GetDocumentsFolder() {
    char path[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathA(nullptr, path, CSIDL_PERSONAL, FALSE)) return CString();
    return WithBackslash(path);
}

CString GetExportDir() {
    return GetFolder("ExportDir");
}
CString GetCaptureDir() {
    return GetFolder("CaptureDir");
}
CString GetConvertDir() {
    return GetFolder("ConvertDir");
}
CString GetCapturePrefix() {
    return GetPrefix("CapturePrefix", "Capture");
}
CString GetConvertPrefix() {
    return GetPrefix("ConvertPrefix", "Convert");
}
DWORD GetMerge() {
    return GetSwitch("Merge", 0, false);
}
DWORD GetLoadLastProject() {
    return GetSwitch("LoadLastProject", 0, true);
}
DWORD GetPreviewVideo() {
    return GetSwitch("PreviewVideo", 1, false);
}
DWORD GetTVFormat() {
    return ReadTvFormatSetting(1);
}

int GetLastProjectName(char* buffer, DWORD size) {
    CRegStringValue value(HKEY_CURRENT_USER, kVistrelKey, "LastProjectName", 1);
    if (!value.Read()) return 0;
    services::CopyTextBounded(buffer, size, value.GetString());
    return 1;
}

void SetExportDir(const char* folder) {
    SetFolder("ExportDir", folder);
}
void SetCaptureDir(const char* folder) {
    SetFolder("CaptureDir", folder);
}
void SetConvertDir(const char* folder) {
    SetFolder("ConvertDir", folder);
}
void SetCapturePrefix(const char* prefix) {
    SetText("CapturePrefix", prefix);
}
void SetConvertPrefix(const char* prefix) {
    SetText("ConvertPrefix", prefix);
}
void SetLastProjectName(const char* name) {
    SetText("LastProjectName", name);
}
void SetMerge(DWORD value) {
    SetSwitch("Merge", value);
}
void SetLoadLastProject(DWORD value) {
    SetSwitch("LoadLastProject", value);
}
void SetPreviewVideo(DWORD value) {
    SetSwitch("PreviewVideo", value);
}
void SetTVFormat(DWORD value) {
    CRegBinIntValue(HKEY_CURRENT_USER, kVistrelKey, "TVFormat", 1).Set(value);
}
