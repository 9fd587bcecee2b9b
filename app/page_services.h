// What the shell asks of the system about capture devices and the Windows version: the
// version class start-up checks, whether a DV device is registered under the capture device
// interface class, and the engine string query's list of DV device names.
#pragma once

#include <windows.h>

// The version class from GetVersionExA: 9x family minor 0 → 1, 10 → 2, 90 → 3; NT family
// major 3 → 4, major 4 → 5, 5.0 → 6, 5.1 → 7; anything else 0.
int GetWindowsVersionClass();
// The same classification of given version numbers (platform id VER_PLATFORM_WIN32_*).
int ClassifyWindowsVersion(DWORD platformId, DWORD major, DWORD minor);

// Nonzero when a device registered and linked under the capture device interface class
// {65e8773d-8f56-11d0-a3b9-00a0c9223196} is a DV device (its friendly name or device path
// names DV, or it is a 1394 AV/C unit). `flags` is kept for callers; only 0 or nonzero
// matters to them.
int FindDVDeviceInDeviceClasses(int flags);

// 1 with `text` (256 bytes) holding the engine string query's DV device names, or 0 with an
// empty text when that object cannot be created or does not answer.
int QueryEngineStringInclude(char* text);

// The capture device interface class.
extern const GUID kCaptureDeviceClass;
