// Test doubles of the outside engines: a clip player that records its calls and answers
// fixed probe values, a conversion engine with or without its control interface, and a
// class factory that publishes one of them under an engine's class for this process, so
// that the creators' CoCreateInstance finds it.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "engines/interfaces.h"

namespace enginetest {

// A COM object whose count the test can read; deletes itself at zero.
template <typename Base>
class Counted : public Base {
public:
    virtual ~Counted() = default;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++count; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --count;
        if (left == 0) {
            ++*released;
            delete this;
        }
        return left;
    }
    ULONG count = 1;
    int dummy = 0;
    int* released = &dummy;  // incremented when the object goes
};

class FakeClipPlayer final : public Counted<IClipPlayer> {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IClipPlayer) {
            *out = static_cast<IClipPlayer*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE SetCallback(ClipPlayerCallback, void*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Initialize(HWND, const RECT*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetDisplayMode(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Open(const char* path, LONGLONG start, LONGLONG end, DWORD flag) override {
        calls.push_back("Open");
        openArgs = {start, end, flag};
        if (failOpen) return E_FAIL;
        file = path;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Close() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE ShowVideo(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetFileName(char* buffer, DWORD bytes) override {
        calls.push_back("GetFileName");
        if (file.empty() || file.size() >= bytes) return E_FAIL;
        strcpy(buffer, file.c_str());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetProperty13(DWORD* v) override { return Get("13", v, 576); }
    HRESULT STDMETHODCALLTYPE GetProperty14(DWORD* v) override { return Get("14", v, 720); }
    HRESULT STDMETHODCALLTYPE GetDuration(LONGLONG* v) override { return Get("16", v, 123456789LL); }
    HRESULT STDMETHODCALLTYPE GetProperty17(LONGLONG* v) override { return Get("17", v, 17LL << 33); }
    HRESULT STDMETHODCALLTYPE GetProperty18(LONGLONG* v) override { return Get("18", v, 18LL << 33); }
    HRESULT STDMETHODCALLTYPE GetProperty19(DWORD* v) override { return Get("19", v, 8000000); }
    HRESULT STDMETHODCALLTYPE GetProperty20(DWORD* v) override { return Get("20", v, 20); }
    HRESULT STDMETHODCALLTYPE GetProperty21(LONGLONG* v) override { return Get("21", v, 5000000000LL); }
    HRESULT STDMETHODCALLTYPE GetMediaInfo(DWORD* v) override { return Get("23", v, 1); }
    HRESULT STDMETHODCALLTYPE GetFormatClass(DWORD* v) override { return Get("24", v, 4); }
    HRESULT STDMETHODCALLTYPE GetProperty25(DWORD* v) override { return Get("25", v, 25); }
    HRESULT STDMETHODCALLTYPE GetProperty26(DWORD* v) override { return Get("26", v, 0x20026); }
    HRESULT STDMETHODCALLTYPE GetProperty27(DWORD* v) override { return Get("27", v, 27); }
    HRESULT STDMETHODCALLTYPE GetProperty28(DWORD* v) override { return Get("28", v, 3); }
    HRESULT STDMETHODCALLTYPE GetProperty29(DWORD* v) override { return Get("29", v, 224000); }
    HRESULT STDMETHODCALLTYPE GetProperty30(DWORD* v) override { return Get("30", v, 30); }
    HRESULT STDMETHODCALLTYPE GetProperty31(float* v) override { return Get("31", v, 25.0f); }
    HRESULT STDMETHODCALLTYPE GetProperty32(DWORD* v) override { return Get("32", v, property32); }
    HRESULT STDMETHODCALLTYPE GetProperty33(DWORD* v) override { return Get("33", v, 33); }
    HRESULT STDMETHODCALLTYPE GetProperty35(DWORD* a, DWORD* b) override {
        *b = 352;
        return Get("35", a, 351);
    }
    LONG STDMETHODCALLTYPE GetProperty38() override {
        calls.push_back("38");
        return 38;
    }
    HRESULT STDMETHODCALLTYPE GetSelection(DWORD*, DWORD*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetOpenOption(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetRate(float) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Pause() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Stop() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetPosition(LONGLONG*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetPlayRange(LONGLONG, LONGLONG) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetFrameBitmap(HBITMAP* bitmap, LONGLONG position, DWORD mode) override {
        calls.push_back("GetFrameBitmap");
        frameArgs = {position, mode};
        *bitmap = reinterpret_cast<HBITMAP>(static_cast<UINT_PTR>(0x4747));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSegmentCount(DWORD*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetSegment(DWORD, BYTE*) override { return S_OK; }

    std::vector<std::string> calls;
    std::string file;
    bool failOpen = false;
    DWORD property32 = 2;
    std::vector<LONGLONG> openArgs;
    std::vector<LONGLONG> frameArgs;

private:
    template <typename T, typename V>
    HRESULT Get(const char* slot, T* out, V value) {
        calls.push_back(slot);
        *out = static_cast<T>(value);
        return S_OK;
    }
};

// The conversion engine's two interfaces on one object; `withControl` false leaves the
// control interface out.
class FakeFileEngine final : public Counted<IFileEngineTimeline>, public IFileEngineControl {
public:
    explicit FakeFileEngine(bool withControl, std::vector<std::string>* log) : withControl_(withControl), log_(log) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IFileEngineTimeline) {
            *out = static_cast<IFileEngineTimeline*>(this);
        } else if (iid == IID_IFileEngineControl && withControl_) {
            *out = static_cast<IFileEngineControl*>(this);
        } else {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        Counted<IFileEngineTimeline>::AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return Counted<IFileEngineTimeline>::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override {
        log_->push_back("Release");
        return Counted<IFileEngineTimeline>::Release();
    }
    HRESULT STDMETHODCALLTYPE EnableUpdates(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Reset() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RemoveClips(DWORD, LONG) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE AddClip(DWORD, DWORD, const BYTE*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetClip(DWORD, DWORD, BYTE*) override { return S_OK; }
    LONG STDMETHODCALLTYPE GetClipCount(DWORD) override { return 0; }
    HRESULT STDMETHODCALLTYPE SetClipRange(DWORD, DWORD, DWORD, LONGLONG, float) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetNotifyWindow(HWND) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetFrameRate(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetPreviewWindow(HWND, LONG, LONG, LONG, LONG) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Prepare(DWORD, DWORD, DWORD, DWORD, DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Close() override {
        log_->push_back("Close");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE EnablePreview(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Play(float) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Pause() override {
        log_->push_back("Pause");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDuration(LONGLONG*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetPosition(LONGLONG*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetRange(LONGLONG, LONGLONG, DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetPreviewDuringConvert(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetProfile(const BYTE*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE StartConvert(DWORD, DWORD, DWORD, DWORD, DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Abort(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetProgress(float*) override { return S_OK; }

private:
    bool withControl_;
    std::vector<std::string>* log_;
};

// Publishes objects made by `make` under `clsid` for this process while it lives.
class ScopedClass final : public IClassFactory {
public:
    ScopedClass(const CLSID& clsid, std::function<IUnknown*()> make) : make_(std::move(make)) {
        CoRegisterClassObject(clsid, this, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie_);
    }
    ~ScopedClass() {
        if (cookie_) CoRevokeClassObject(cookie_);
    }
    bool Registered() const { return cookie_ != 0; }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *out = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        IUnknown* object = make_();
        if (!object) return E_OUTOFMEMORY;
        const HRESULT hr = object->QueryInterface(iid, out);
        object->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    std::function<IUnknown*()> make_;
    DWORD cookie_ = 0;
};

}  // namespace enginetest
