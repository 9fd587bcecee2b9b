// Windows chores of the application: read locks on the source files of a conversion, bitmaps
// (a 32-bit display DIB, image files through the image holder, bitmap resources, copies of a
// rectangle), keeping the machine awake and the processor at full speed during capture and
// conversion, the screen saver, counting running copies of the program, and the video
// viewer's picture size. User-interface thread only. Callers own every bitmap returned and
// delete it with DeleteObject.
#pragma once

#include <windows.h>
#include <powrprof.h>

#include <cstdint>

// Process-wide read locks: while a name is held, other programs can read the file but not
// write, rename or delete it. Counted per name.
class CFileHandleMap {
public:
    // 1 when the file was opened now; 0 when it was already held (its count goes up) or
    // cannot be opened.
    static int Open(const char* name);
    // The remaining count; 0 when the file is released now or was not held.
    static int Close(const char* name);
    // How many times `name` is held (0 when not).
    static int GetCount(const char* name);
};

// A 32-bit BI_RGB DIB section, bottom-up or top-down by the sign of `height`. 1 on success.
int CreateDisplayDib(int width, int height, HBITMAP* bitmap, void** pixels);
// The image file decoded by the image holder, as a DIB section / a screen-compatible bitmap.
HBITMAP LoadImageFileBitmap(const char* path);
HBITMAP LoadBitmapFile(const char* path);
HBITMAP LoadBitmapFileRect(const char* path, int x, int y, int width, int height);
// A new screen-compatible bitmap holding that rectangle of `bitmap`; null (after the message
// "Copy bitmap fail.") when it cannot be made.
HBITMAP CopyBitmapRect(HBITMAP bitmap, int x, int y, int width, int height);
// LoadImageA of a bitmap resource; null after "Load bitmap resource [name] fail.".
HBITMAP LoadBitmapResource(HINSTANCE module, const char* name);
HBITMAP LoadBitmapResourceRect(HINSTANCE module, const char* name, int x, int y, int width, int height);

// SetThreadExecutionState with `flags`, when the system has it (looked up once at run time).
void KeepSystemAwake(DWORD flags);

// Power-scheme entry points of "Powrprof.DLL", looked up after each load of the library.
struct PowerApi {
    BOOLEAN(WINAPI* getActivePwrScheme)(PUINT) = nullptr;
    BOOLEAN(WINAPI* getCurrentPowerPolicies)(PGLOBAL_POWER_POLICY, PPOWER_POLICY) = nullptr;
    BOOLEAN(WINAPI* readProcessorPwrScheme)(UINT, PMACHINE_PROCESSOR_POWER_POLICY) = nullptr;
    BOOLEAN(WINAPI* writeProcessorPwrScheme)(UINT, PMACHINE_PROCESSOR_POWER_POLICY) = nullptr;
    BOOLEAN(WINAPI* setActivePwrScheme)(UINT, PGLOBAL_POWER_POLICY, PPOWER_POLICY) = nullptr;
};
// Where the power functions come from; tests replace it.
class PowerLibrary {
public:
    virtual ~PowerLibrary() = default;
    // Loads the library and fills `api` (missing entry points stay null); false when the
    // library is missing.
    virtual bool Load(PowerApi* api) = 0;
    virtual void Unload() = 0;
};
// Null restores the system's "Powrprof.DLL".
void SetPowerLibrary(PowerLibrary* library);

// Reads the active scheme and its global and power policies into the saved state: 1, or 0
// (saved scheme -1) when a function is missing or fails.
int SavePowerPolicy();
// Keeps the processor at full speed (no dynamic throttling) in the active scheme, saving what
// it replaces. Nested: only the outermost call changes anything; inner calls return 1.
// Nonzero on success or when the power functions are missing, 0 when a step fails.
int DisablePowerSaving();
// Puts back the scheme, policies and processor policy that the outermost DisablePowerSaving
// saved, once the last nested call is balanced; an unbalanced call does nothing and returns 1.
int RestorePowerScheme();
// The same nesting for the screen saver (SPI_SETSCREENSAVEACTIVE): the user's setting is put
// back once, by the restore that balances the first disable.
void DisableScreenSaver();
void RestoreScreenSaver();

// 1 when more than one running process has this program's file name (without extension,
// letter case ignored), else 0.
int IsAnotherInstanceRunning();
// The count of `exeNames` whose file name (no folder, no extension) equals that of `own`,
// ignoring case: the rule IsAnotherInstanceRunning applies to the process list.
int CountSameProgram(const char* own, const char* const* exeNames, int count);

// The video viewer's picture size for a clip of `width` x `height`: unchanged on screens
// below 768 pixels high; otherwise at least 320 x 240 and below 800 x 600 as requested,
// smaller sizes 300 x 225, and 800 x 600 from 800 wide or 600 high.
void FitViewerToScreen(int32_t* pictureWidth, int32_t* pictureHeight, int width, int height);
// The same rule with the screen height given.
void FitViewerSize(int screenHeight, int32_t* pictureWidth, int32_t* pictureHeight, int width, int height);
