#include "filters/base/com_object.h"

namespace {
std::atomic<LONG> liveObjects{0};
std::atomic<LONG> serverLocks{0};
}  // namespace

CUnknown::CUnknown(const wchar_t* name, IUnknown* outer) : name_(name), owner_(outer ? outer : InnerUnknown()) {
    ++liveObjects;
}

CUnknown::~CUnknown() {
    --liveObjects;
}

HRESULT STDMETHODCALLTYPE CUnknown::NonDelegatingQueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown) return GetInterface(InnerUnknown(), out);
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CUnknown::NonDelegatingAddRef() {
    return static_cast<ULONG>(++ref_);
}

ULONG STDMETHODCALLTYPE CUnknown::NonDelegatingRelease() {
    const LONG left = --ref_;
    if (left == 0) {
        ref_ = 1;  // guard: calls on ourselves during destruction must not delete again
        delete this;
        return 0;
    }
    return static_cast<ULONG>(left);
}

HRESULT GetInterface(IUnknown* p, void** out) {
    if (!out) return E_POINTER;
    *out = p;
    p->AddRef();
    return S_OK;
}

LONG ServerObjectCount() {
    return liveObjects.load();
}
LONG ServerLockCount() {
    return serverLocks.load();
}
void ServerLock(bool lock) {
    if (lock) {
        ++serverLocks;
        return;
    }
    // An unbalanced unlock is ignored rather than driving the count negative.
    LONG v = serverLocks.load();
    while (v > 0 && !serverLocks.compare_exchange_weak(v, v - 1)) {
    }
}
