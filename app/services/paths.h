// Where the application finds and keeps its files: the application folder (the program's
// data files, such as the profile "template"), the per-user application data folder, folder
// chains made before a file is written, and the folder walkers (recursive delete, shortcut
// resolution, recursive collection by extension). ANSI paths of at most MAX_PATH (260)
// characters; user-interface thread only.
#pragma once

#include <windows.h>

#include "framework/string.h"

// Drive and directory of the module's file (null = the program), with their trailing
// backslash, into `out` of `size` bytes (cut to fit, always terminated; nothing when 0).
void GetModuleFolder(HMODULE module, char* out, DWORD size);
// The application folder: the program's folder when "Malrt.dll" lies beside it, else the
// current directory (without a trailing backslash). `out` holds 260 characters.
int FindProgramFolder(char* out);
// Stores the application folder (cut to 259 characters), adding a trailing backslash.
void SetAppFolder(const char* path);
// Copies the application folder into `out` of `size` bytes, cut to fit and terminated at
// index size-1 at the latest; writes nothing when size is 0. Returns `out`.
char* GetAppFolder(char* out, DWORD size);
// The per-user folder: the roaming application data folder, "\Corvane\Vistrel\", then the
// HKEY_LOCAL_MACHINE "Version" text and "\" when there is one; created when missing. `out`
// holds 260 characters. 1 on success, 0 when the shell folder cannot be had.
int GetAppDataFolder(char* out);
// Creates every missing folder of `path` that is followed by a backslash (past a drive root),
// then resets the path's attributes to normal. 1 on success, 0 at the first folder that cannot
// be made (those made before it stay).
int CreateFolderPath(CString path);
// Deletes all files and subfolders of `folder`, then the folder. A link or junction inside
// is never followed: it is removed as a link where the system can address the link itself,
// and otherwise (Unix links seen through Wine) left in place. Nothing outside the folder is
// touched. Returns the result of removing the folder itself: 0 when it does not exist or is
// not empty afterwards (a file that could not be deleted, a link left in place).
int DeleteFolderTree(const char* folder);
// The target of a shell link, else the path itself ("" for "").
CString ResolveShortcut(const char* path);
// Adds to `files` the path itself when it is not a folder (whatever its extension), or the
// folder's files whose lower-cased extension (with its dot) occurs in `extensions` (one
// lower-case string of dotted extensions; null collects none), walking subfolders when
// `recurse` is set (links are not followed; at most 64 levels). Returns the array's size.
int WalkFolderRecursive(const char* path, CStringArray& files, const char* extensions, int recurse);
