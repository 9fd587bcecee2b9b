// The application's side of the outside engines: the creators that fix each engine's
// class and interface and what a failed creation returns, the clip query that fills a
// clip information record from a clip player in one pass, and the processor feature text
// of the profile sheets.
#pragma once

#include <windows.h>

#include <string>

#include "engines/clip_info.h"
#include "engines/interfaces.h"

// S_OK when the engine came back non-null, else E_FAIL with *out null. The result is
// judged by the pointer, not by CoCreateInstance's HRESULT.
HRESULT CreateThumbnailCache(IThumbnailCache** out);
HRESULT CreateClipPlayer(IClipPlayer** out);
// Clears both, creates the conversion engine for its timeline interface and queries its
// control interface. S_OK only when both are set; otherwise E_FAIL with both null (an
// engine without the control interface is released again).
HRESULT CreateFileEngine(IFileEngineTimeline** timeline, IFileEngineControl** control);
// With both set: Pause and Close through the control, then releases the control and the
// timeline (the caller's pointers are not cleared). E_FAIL, releasing nothing, when
// either is null.
HRESULT ReleaseFileEngine(IFileEngineTimeline** timeline, IFileEngineControl** control);
// Releases *object and clears it; E_FAIL when it is null.
template <typename T>
HRESULT ReleaseInterface(T** object) {
    if (!object || !*object) return E_FAIL;
    (*object)->Release();
    *object = nullptr;
    return S_OK;
}

// Opens `path` in `player` (or in a player made here when it is null), fills `info` from
// the player's probe getters and, when `bitmap` is given, draws the frame at `position`
// into it as a thumbnail. A player from the caller stays open on the clip; one made here
// is released. Answers 0 in every case; `info` is untouched when the clip cannot be opened.
int QueryClipInfo(const char* path, engines::ClipInfo* info, IClipPlayer* player, HBITMAP* bitmap, LONGLONG position);

// The processor's richest multimedia features as a text, fixed on first use for the
// life of the process. 1, or 0 (out unchanged) when the processor cannot be identified.
int DescribeCpuFeatures(std::string* out);
