// The preference values under HKEY_CURRENT_USER kVistrelKey: three output folders, two
// file-name prefixes, four switches and the last project's name. Getters read the registry
// on every call (falling back to HKEY_LOCAL_MACHINE); setters write at once. Only
// "LoadLastProject" and "TVFormat" write their default back when missing.
#pragma once

#include <windows.h>

#include "framework/string.h"

// The stored folder with a trailing backslash when it names an existing folder; otherwise
// (missing, empty, gone) the user's documents folder with a trailing backslash. A folder that
// no longer exists is not rewritten.
CString GetExportDir();
CString GetCaptureDir();
CString GetConvertDir();
// The stored prefix when present and not empty, else "Capture" / "Convert".
CString GetCapturePrefix();
CString GetConvertPrefix();
DWORD GetMerge();            // default 0, not written back
DWORD GetLoadLastProject();  // default 0, written back
DWORD GetPreviewVideo();     // default 1, not written back
DWORD GetTVFormat();         // 0 PAL or 1 NTSC; seeded from "DisplayCurFrame" once (tv_format.h)
// Copies the stored name into `buffer` of `size` bytes (cut to fit, terminated): 1, or 0 with
// nothing written when the value is missing.
int GetLastProjectName(char* buffer, DWORD size);

// A folder that exists is stored with a trailing backslash; an empty text or one that names
// no folder stores the documents folder instead.
void SetExportDir(const char* folder);
void SetCaptureDir(const char* folder);
void SetConvertDir(const char* folder);
void SetCapturePrefix(const char* prefix);
void SetConvertPrefix(const char* prefix);
void SetLastProjectName(const char* name);
void SetMerge(DWORD value);
void SetLoadLastProject(DWORD value);
void SetPreviewVideo(DWORD value);
void SetTVFormat(DWORD value);

// The user's documents folder (not created) with a trailing backslash; "" when the shell
// cannot say.
CString GetDocumentsFolder();
