// One enumerator for the lists a filter hands out by position: its pins (IEnumPins)
// and a pin's media types (IEnumMediaTypes). The traits name the interface, the owner
// (held with a reference for the enumerator's life), how the item at a position is
// fetched and freed, and the owner's list version. When the version changes after the
// enumerator was made or reset, Next, Skip and Clone answer VFW_E_ENUM_OUT_OF_SYNC.
#pragma once

#include <windows.h>
#include <vfwmsgs.h>

#include <atomic>
#include <new>

#include "filters/base/com_object.h"

// Traits:
//   using Interface = IEnumXxx; using Owner = ...; using Item = ...;
//   static const IID& Iid();
//   static LONG Version(Owner*);
//   static HRESULT Fetch(Owner*, ULONG position, Item* item);  // S_OK, S_FALSE past the end, or a failure
//   static void Free(Item);
template <class Traits>
class CListEnumerator final : public Traits::Interface {
public:
    using Owner = typename Traits::Owner;
    using Item = typename Traits::Item;

    explicit CListEnumerator(Owner* owner, ULONG position = 0)
        : owner_(owner), position_(position), version_(Traits::Version(owner)) {
        owner_->AddRef();
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IUnknown || iid == Traits::Iid()) return GetInterface(this, out);
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++ref_); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = --ref_;
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

    HRESULT STDMETHODCALLTYPE Next(ULONG count, Item* items, ULONG* fetched) override {
        if (!items) return E_POINTER;
        if (!fetched && count != 1) return E_INVALIDARG;
        if (fetched) *fetched = 0;
        if (version_ != Traits::Version(owner_)) return VFW_E_ENUM_OUT_OF_SYNC;
        ULONG got = 0;
        while (got < count) {
            const HRESULT hr = Traits::Fetch(owner_, position_, &items[got]);
            if (FAILED(hr)) {
                for (ULONG i = 0; i < got; ++i)
                    Traits::Free(items[i]);
                return hr;
            }
            if (hr != S_OK) break;
            ++position_;
            ++got;
        }
        if (fetched) *fetched = got;
        return got == count ? S_OK : S_FALSE;
    }

    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        if (version_ != Traits::Version(owner_)) return VFW_E_ENUM_OUT_OF_SYNC;
        for (ULONG i = 0; i < count; ++i) {
            Item item{};
            const HRESULT hr = Traits::Fetch(owner_, position_, &item);
            if (hr != S_OK) return FAILED(hr) ? hr : S_FALSE;
            Traits::Free(item);
            ++position_;
        }
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Reset() override {
        version_ = Traits::Version(owner_);
        position_ = 0;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Clone(typename Traits::Interface** copy) override {
        if (!copy) return E_POINTER;
        if (version_ != Traits::Version(owner_)) return VFW_E_ENUM_OUT_OF_SYNC;
        *copy = new (std::nothrow) CListEnumerator(owner_, position_);
        return *copy ? S_OK : E_OUTOFMEMORY;
    }

private:
    ~CListEnumerator() { owner_->Release(); }

    std::atomic<LONG> ref_{1};
    Owner* owner_;
    ULONG position_;
    LONG version_;
};
