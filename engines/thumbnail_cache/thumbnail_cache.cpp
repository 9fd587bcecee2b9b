// The thumbnail cache: frames of clips already drawn, kept by clip path and time so that a
// list of clips can show them again without opening the clip. Held in memory for the
// life of the object, at most kCapacity frames; the oldest goes first.
#include <windows.h>

#include <cstring>
#include <deque>
#include <mutex>
#include <new>
#include <string>

#include "engines/interfaces.h"
#include "filters/base/server.h"

namespace {

constexpr size_t kCapacity = 512;

struct Entry {
    std::string path;
    LONGLONG time;
    HBITMAP bitmap;
};

HBITMAP CopyBitmap(HBITMAP source) {
    return static_cast<HBITMAP>(CopyImage(source, IMAGE_BITMAP, 0, 0, 0));
}

class CThumbnailCache final : public CUnknown, public IThumbnailCache {
public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* hr) {
        auto* object = new (std::nothrow) CThumbnailCache(outer);
        if (!object) *hr = E_OUTOFMEMORY;
        return object;
    }
    ~CThumbnailCache() override {
        for (Entry& entry : entries_)
            DeleteObject(entry.bitmap);
    }
    FILTERBASE_DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IThumbnailCache) return GetInterface(static_cast<IThumbnailCache*>(this), out);
        return CUnknown::NonDelegatingQueryInterface(iid, out);
    }

    LONG STDMETHODCALLTYPE Lookup(const char* path, LONGLONG time, HBITMAP* bitmap) override {
        if (!path || !bitmap || strnlen(path, MAX_PATH) == MAX_PATH) return 0;
        std::lock_guard<std::mutex> hold(lock_);
        for (const Entry& entry : entries_) {
            if (entry.time != time || entry.path != path) continue;
            HBITMAP copy = CopyBitmap(entry.bitmap);
            if (!copy) return 0;
            *bitmap = copy;
            return 1;
        }
        return 0;
    }

    HRESULT STDMETHODCALLTYPE Store(const char* path, LONGLONG time, HBITMAP bitmap) override {
        if (!path || !bitmap) return E_POINTER;
        if (strnlen(path, MAX_PATH) == MAX_PATH) return E_INVALIDARG;
        HBITMAP copy = CopyBitmap(bitmap);
        if (!copy) return E_INVALIDARG;
        std::lock_guard<std::mutex> hold(lock_);
        for (Entry& entry : entries_) {
            if (entry.time != time || entry.path != path) continue;
            DeleteObject(entry.bitmap);
            entry.bitmap = copy;
            return S_OK;
        }
        if (entries_.size() == kCapacity) {
            DeleteObject(entries_.front().bitmap);
            entries_.pop_front();
        }
        entries_.push_back({path, time, copy});
        return S_OK;
    }

private:
    explicit CThumbnailCache(IUnknown* outer) : CUnknown(L"thumbnail cache", outer) {}

    std::mutex lock_;
    std::deque<Entry> entries_;
};

const FactoryTemplate kTemplates[] = {
    {L"Thumbnail cache", &CLSID_ThumbnailCache, &CThumbnailCache::CreateInstance, nullptr},
};

}  // namespace

FILTERBASE_DEFINE_SERVER_EXPORTS(kTemplates)
