// The clip player: opens a media file and reports what it is (kind, container class,
// frame size and rate, duration, bit rate, file size) through its probe getters. Times
// are 100-ns units. Playback into the owner's window, still and thumbnail frames and
// segment probing are not offered by this player: those slots answer E_NOTIMPL.
#include <windows.h>
#include <vfwmsgs.h>

#include <cstring>
#include <mutex>
#include <new>
#include <string>

#include "engines/interfaces.h"
#include "engines/player/media_probe.h"
#include "filters/base/server.h"

namespace {

class CClipPlayer final : public CUnknown, public IClipPlayer {
public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* hr) {
        auto* object = new (std::nothrow) CClipPlayer(outer);
        if (!object) *hr = E_OUTOFMEMORY;
        return object;
    }
    FILTERBASE_DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IClipPlayer) return GetInterface(static_cast<IClipPlayer*>(this), out);
        return CUnknown::NonDelegatingQueryInterface(iid, out);
    }

    HRESULT STDMETHODCALLTYPE SetCallback(ClipPlayerCallback callback, void* context) override {
        std::lock_guard<std::mutex> hold(lock_);
        callback_ = callback;
        context_ = context;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Initialize(HWND owner, const RECT* rect) override {
        if (owner && !IsWindow(owner)) return E_INVALIDARG;
        std::lock_guard<std::mutex> hold(lock_);
        owner_ = owner;
        if (rect) rect_ = *rect;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetDisplayMode(DWORD mode) override {
        std::lock_guard<std::mutex> hold(lock_);
        displayMode_ = mode;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Open(const char* path, LONGLONG start, LONGLONG end, DWORD) override {
        if (!path) return E_POINTER;
        if (strnlen(path, MAX_PATH) == MAX_PATH || start < 0 || end < 0 || (end && end < start)) return E_INVALIDARG;
        engines::MediaFacts facts;
        switch (engines::ProbeMedia(path, &facts)) {
            case engines::ProbeResult::kOk:
                break;
            case engines::ProbeResult::kCannotOpen:
                return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
            case engines::ProbeResult::kUnknownFormat:
                return VFW_E_UNKNOWN_FILE_TYPE;
            case engines::ProbeResult::kDamaged:
                return VFW_E_INVALID_FILE_FORMAT;
        }
        std::lock_guard<std::mutex> hold(lock_);
        facts_ = facts;
        path_ = path;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Close() override {
        std::lock_guard<std::mutex> hold(lock_);
        path_.clear();
        facts_ = {};
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ShowVideo(BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetFileName(char* buffer, DWORD bytes) override {
        if (!buffer) return E_POINTER;
        std::lock_guard<std::mutex> hold(lock_);
        if (path_.empty()) return E_UNEXPECTED;
        if (path_.size() >= bytes) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
        memcpy(buffer, path_.c_str(), path_.size() + 1);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetProperty13(DWORD* v) override { return Report(v, &engines::MediaFacts::height); }
    HRESULT STDMETHODCALLTYPE GetProperty14(DWORD* v) override { return Report(v, &engines::MediaFacts::width); }
    HRESULT STDMETHODCALLTYPE GetDuration(LONGLONG* v) override { return Report(v, &engines::MediaFacts::duration); }
    // The clip's in and out lengths as the conversion engine carries them: the whole clip.
    HRESULT STDMETHODCALLTYPE GetProperty17(LONGLONG* v) override { return Report(v, &engines::MediaFacts::duration); }
    HRESULT STDMETHODCALLTYPE GetProperty18(LONGLONG* v) override { return Report(v, &engines::MediaFacts::duration); }
    HRESULT STDMETHODCALLTYPE GetProperty19(DWORD* v) override { return Report(v, &engines::MediaFacts::videoBitRate); }
    HRESULT STDMETHODCALLTYPE GetProperty20(DWORD* v) override { return Zero(v); }
    HRESULT STDMETHODCALLTYPE GetProperty21(LONGLONG* v) override { return Report(v, &engines::MediaFacts::fileBytes); }
    HRESULT STDMETHODCALLTYPE GetMediaInfo(DWORD* v) override { return Report(v, &engines::MediaFacts::kind); }
    HRESULT STDMETHODCALLTYPE GetFormatClass(DWORD* v) override { return Report(v, &engines::MediaFacts::formatClass); }
    HRESULT STDMETHODCALLTYPE GetProperty25(DWORD* v) override { return Zero(v); }
    HRESULT STDMETHODCALLTYPE GetProperty26(DWORD* v) override { return Zero(v); }
    HRESULT STDMETHODCALLTYPE GetProperty27(DWORD* v) override { return Zero(v); }
    HRESULT STDMETHODCALLTYPE GetProperty28(DWORD* v) override { return Zero(v); }
    HRESULT STDMETHODCALLTYPE GetProperty29(DWORD* v) override { return Zero(v); }
    HRESULT STDMETHODCALLTYPE GetProperty30(DWORD* v) override { return Zero(v); }
    HRESULT STDMETHODCALLTYPE GetProperty31(float* v) override { return Report(v, &engines::MediaFacts::frameRate); }
    HRESULT STDMETHODCALLTYPE GetProperty32(DWORD* v) override { return Zero(v); }
    HRESULT STDMETHODCALLTYPE GetProperty33(DWORD* v) override { return Zero(v); }
    HRESULT STDMETHODCALLTYPE GetProperty35(DWORD* a, DWORD* b) override {
        if (!b) return E_POINTER;
        const HRESULT hr = Zero(a);
        if (SUCCEEDED(hr)) *b = 0;
        return hr;
    }
    LONG STDMETHODCALLTYPE GetProperty38() override { return 0; }
    HRESULT STDMETHODCALLTYPE GetSelection(DWORD*, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetOpenOption(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetRate(float) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Pause() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Stop() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetPosition(LONGLONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetPlayRange(LONGLONG, LONGLONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetFrameBitmap(HBITMAP*, LONGLONG, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSegmentCount(DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSegment(DWORD, BYTE*) override { return E_NOTIMPL; }

private:
    explicit CClipPlayer(IUnknown* outer) : CUnknown(L"clip player", outer) {}

    template <typename Out, typename Field>
    HRESULT Report(Out* out, Field engines::MediaFacts::*field) {
        if (!out) return E_POINTER;
        std::lock_guard<std::mutex> hold(lock_);
        if (path_.empty()) return E_UNEXPECTED;
        *out = static_cast<Out>(facts_.*field);
        return S_OK;
    }
    HRESULT Zero(DWORD* out) {
        if (!out) return E_POINTER;
        std::lock_guard<std::mutex> hold(lock_);
        if (path_.empty()) return E_UNEXPECTED;
        *out = 0;
        return S_OK;
    }

    std::mutex lock_;
    std::string path_;
    engines::MediaFacts facts_;
    ClipPlayerCallback callback_ = nullptr;
    void* context_ = nullptr;
    HWND owner_ = nullptr;
    RECT rect_{};
    DWORD displayMode_ = 0;
};

const FactoryTemplate kTemplates[] = {
    {L"Clip player", &CLSID_ClipPlayer, &CClipPlayer::CreateInstance, nullptr},
};

}  // namespace

FILTERBASE_DEFINE_SERVER_EXPORTS(kTemplates)
