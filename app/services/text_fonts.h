// Text services of the pages and dialogs: fonts derived from the application's GUI font, a
// label fitted to a window's width with a trailing "...", a path compacted to a width, and a
// byte count with its unit name from the resource library (strings 125-128). Every output
// buffer comes with its size and is never written past. User-interface thread only.
#pragma once

#include <windows.h>

#include <cstdint>

#include "framework/gdi.h"
#include "framework/string.h"
#include "framework/wnd.h"

// The application's GUI font, which every function here takes its face and attributes from.
// The application object registers its font at start-up; until then the system's GUI font
// serves. The font stays owned by the caller of SetAppGuiFont.
void SetAppGuiFont(HFONT font);
HFONT GetAppGuiFont();

// A new font like the GUI font with lfHeight `height` (logical units) and, when `bold`, weight
// 700. The caller owns and deletes it; null when the font cannot be made.
CFont* CreateFontFromLogFont(int height, int bold);
// Leaves `text` as it is when it fits the window's client width in the window's font;
// otherwise the longest prefix (whole characters, double-byte pairs kept together) that with
// "..." is narrower than the client width, followed by "..."; "..." alone when nothing fits.
void FitTextToWindow(CWnd* window, CString& text);
// `text` with newlines turned into spaces and shortened in the middle with "..." to fit
// `width` pixels (the screen DC's font), copied into `out` of `outSize` bytes (cut to fit,
// always terminated). Nothing happens when `out` or `text` is null or outSize is 0.
void FitPathToWidth(char* out, size_t outSize, const char* text, int width);
// The unit for `bytes` (GB from 2^30, MB from 2^20, KB from 1,024, else bytes) and the count
// in it; the unit's name (resource strings 125-128) is copied into `unit` of `unitSize` bytes.
// 1, or 0 when `unit` is null or unitSize is 0.
int FormatByteSize(int64_t bytes, double* value, char* unit, size_t unitSize);
// The trace sink: formats printf-style into a text of at most 543 characters (longer output
// is cut) and hands it to the debugger's output; nothing is shown or kept.
void FormatString(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Forgets the unit names, so the next FormatByteSize loads them again (after the resource
// module changed).
void ResetByteSizeUnits();
