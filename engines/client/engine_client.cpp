#include "engines/client/engine_client.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>

#include "app/services/cpu_info.h"

namespace {

template <typename T>
HRESULT CreateEngine(const CLSID& clsid, const IID& iid, T** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    void* object = nullptr;
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, &object))) object = nullptr;
    *out = static_cast<T*>(object);
    return *out ? S_OK : E_FAIL;
}

}  // namespace

HRESULT CreateThumbnailCache(IThumbnailCache** out) {
    return CreateEngine(CLSID_ThumbnailCache, IID_IThumbnailCache, out);
}

HRESULT CreateClipPlayer(IClipPlayer** out) {
    return CreateEngine(CLSID_ClipPlayer, IID_IClipPlayer, out);
}

HRESULT CreateFileEngine(IFileEngineTimeline** timeline, IFileEngineControl** control) {
    if (!timeline || !control) return E_POINTER;
    *control = nullptr;
    CreateEngine(CLSID_FileEngine, IID_IFileEngineTimeline, timeline);
    if (!*timeline) return E_FAIL;
    void* object = nullptr;
    if (FAILED((*timeline)->QueryInterface(IID_IFileEngineControl, &object))) object = nullptr;
    *control = static_cast<IFileEngineControl*>(object);
    if (*control) return S_OK;
    // An engine without its control interface cannot be driven or closed: it is released
    // here rather than left half-made for the caller.
    ReleaseInterface(timeline);
    return E_FAIL;
}

HRESULT ReleaseFileEngine(IFileEngineTimeline** timeline, IFileEngineControl** control) {
    if (!timeline || !control || !*timeline || !*control) return E_FAIL;
    (*control)->Pause();
    (*control)->Close();
    (*control)->Release();
    (*timeline)->Release();
    return S_OK;
}

namespace {

// COM for the calling thread, undone on leaving when this call initialised it.
struct ComOnThisThread {
    HRESULT hr = CoInitialize(nullptr);
    ~ComOnThisThread() {
        if (SUCCEEDED(hr)) CoUninitialize();
    }
};

// Calls one getter on a value seeded from the field (a getter that fails or writes
// nothing leaves the field as it was) and stores what it reports.
template <typename Field, typename Value>
void Fetch(IClipPlayer* player, HRESULT (STDMETHODCALLTYPE IClipPlayer::*getter)(Value*), Field* field) {
    Value value = static_cast<Value>(*field);
    (player->*getter)(&value);
    *field = static_cast<Field>(value);
}

void FillClipInfo(IClipPlayer* player, engines::ClipInfo* info) {
    // The getters' order is part of the contract with the player; their results are not
    // judged here.
    Fetch(player, &IClipPlayer::GetMediaInfo, &info->mediaKind);
    Fetch(player, &IClipPlayer::GetFormatClass, &info->formatClass);
    Fetch(player, &IClipPlayer::GetProperty25, &info->value25);
    Fetch(player, &IClipPlayer::GetProperty14, &info->width);
    Fetch(player, &IClipPlayer::GetProperty13, &info->height);
    Fetch(player, &IClipPlayer::GetProperty21, &info->fileBytes);
    Fetch(player, &IClipPlayer::GetDuration, &info->duration);
    Fetch(player, &IClipPlayer::GetProperty17, &info->inLength);
    Fetch(player, &IClipPlayer::GetProperty18, &info->outLength);
    Fetch(player, &IClipPlayer::GetProperty19, &info->videoBitRate);
    Fetch(player, &IClipPlayer::GetProperty20, &info->value20);
    Fetch(player, &IClipPlayer::GetProperty31, &info->frameRate);
    DWORD value32 = 0;
    player->GetProperty32(&value32);
    info->value32 = value32 == 1 || value32 == 2 ? value32 : 0;
    Fetch(player, &IClipPlayer::GetProperty33, &info->value33);
    DWORD first = info->value35[0], second = info->value35[1];
    player->GetProperty35(&first, &second);
    info->value35[0] = first;
    info->value35[1] = second;
    info->value38 = static_cast<uint32_t>(player->GetProperty38());
    Fetch(player, &IClipPlayer::GetProperty27, &info->value27);
    Fetch(player, &IClipPlayer::GetProperty28, &info->audioChannelMode);
    Fetch(player, &IClipPlayer::GetProperty29, &info->audioBitRate);
    Fetch(player, &IClipPlayer::GetProperty30, &info->value30);
    Fetch(player, &IClipPlayer::GetProperty26, &info->value26);
}

// The player makes a bitmap of its own for the frame. A caller's bitmap gets the frame drawn
// into it, scaled to its size, and keeps its handle (the caller owns and frees it); without
// one the player's bitmap is handed over.
void DrawThumbnail(IClipPlayer* player, LONGLONG position, HBITMAP* bitmap) {
    HBITMAP frame = nullptr;
    if (FAILED(player->GetFrameBitmap(&frame, position, 2)) || !frame) return;
    if (!*bitmap) {
        *bitmap = frame;
        return;
    }
    BITMAP from{}, to{};
    if (GetObjectA(frame, sizeof from, &from) && GetObjectA(*bitmap, sizeof to, &to)) {
        HDC screen = GetDC(nullptr);
        HDC source = CreateCompatibleDC(screen), target = CreateCompatibleDC(screen);
        HGDIOBJ oldSource = SelectObject(source, frame), oldTarget = SelectObject(target, *bitmap);
        SetStretchBltMode(target, HALFTONE);
        SetBrushOrgEx(target, 0, 0, nullptr);
        StretchBlt(target, 0, 0, to.bmWidth, std::abs(to.bmHeight), source, 0, 0, from.bmWidth, std::abs(from.bmHeight),
                   SRCCOPY);
        SelectObject(source, oldSource);
        SelectObject(target, oldTarget);
        DeleteDC(source);
        DeleteDC(target);
        ReleaseDC(nullptr, screen);
    }
    DeleteObject(frame);
}

}  // namespace

int QueryClipInfo(const char* path, engines::ClipInfo* info, IClipPlayer* player, HBITMAP* bitmap, LONGLONG position) {
    if (!path || !info) return 0;
    std::optional<ComOnThisThread> com;
    IClipPlayer* own = nullptr;
    if (!player) {
        com.emplace();
        if (FAILED(CreateClipPlayer(&own))) return 0;
        player = own;
    }
    bool open = false;
    if (!own) {
        char current[MAX_PATH] = {};
        open = SUCCEEDED(player->GetFileName(current, MAX_PATH)) && memchr(current, 0, MAX_PATH) &&
               strcmp(current, path) == 0;
    }
    if (!open && FAILED(player->Open(path, 0, 0, 0))) {
        ReleaseInterface(&own);
        return 0;
    }
    FillClipInfo(player, info);
    if (bitmap) DrawThumbnail(player, position, bitmap);
    ReleaseInterface(&own);
    return 0;
}

int DescribeCpuFeatures(std::string* out) {
    static std::mutex lock;
    static std::string text;
    std::lock_guard<std::mutex> hold(lock);
    if (text.empty()) {
        if (CCpuInfo::Identify() < 0) return 0;
        if (!CCpuInfo::HasMMX())
            text = "CPU that not support";
        else if (CCpuInfo::HasSSE2())
            text = "SSE2, KNI, MMX";
        else if (CCpuInfo::HasSSE())
            text = "KNI, MMX";
        else if (CCpuInfo::Has3DNowExt())
            text = "3DNow Ext, 3DNow, MMX";
        else if (CCpuInfo::Has3DNow())
            text = "3DNow, MMX";
        else
            text = "MMX";
        int logical = 0, packages = 0;
        if (CCpuInfo::GetHyperThreading(&logical, &packages) == services::kHtEnabled)
            text += ", HyperThreading Enabled";
    }
    if (out) *out = text;
    return 1;
}
