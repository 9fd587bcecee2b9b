#include "filters/base/com_object.h"

namespace {
std::atomic<LONG> g_objects{0};
std::atomic<LONG> g_locks{0};
}  // namespace

CUnknown::CUnknown(const wchar_t* name, IUnknown* outer) : name_(name), owner_(outer ? outer : InnerUnknown()) {
    ++g_objects;
}

CUnknown::~CUnknown() {
    --g_objects;
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
    return g_objects.load();
}
LONG ServerLockCount() {
    return g_locks.load();
}
void ServerLock(bool lock) {
    if (lock) {
        ++g_locks;
        return;
    }
    // An unbalanced unlock is ignored rather than driving the count negative.
    LONG v = g_locks.load();
    while (v > 0 && !g_locks.compare_exchange_weak(v, v - 1)) {
    }
}
