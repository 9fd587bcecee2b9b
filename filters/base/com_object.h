// COM object base of the filter libraries: an aggregatable object whose reference count
// lives in a non-delegating IUnknown, in the manner of every in-process server of the
// suite. A class derives from CUnknown, puts FILTERBASE_DECLARE_IUNKNOWN in its public
// section (the delegating IUnknown of its interfaces), and answers its own interfaces in
// NonDelegatingQueryInterface, passing everything else to its base class.
//
// Lifetime rule: an object is created with a count of zero, handed out through
// NonDelegatingQueryInterface (which adds the first reference) and deleted when the
// count falls back to zero. While the destructor runs the count is held at one, so an
// AddRef/Release pair inside the destructor cannot delete the object twice.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <atomic>

// The IUnknown an aggregating outer object holds on us. Its three slots have the same
// order and signatures as IUnknown, so the object's owner pointer can be this interface
// seen as an IUnknown when there is no outer object.
struct INonDelegatingUnknown {
    virtual HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** out) = 0;
    virtual ULONG STDMETHODCALLTYPE NonDelegatingAddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE NonDelegatingRelease() = 0;
};

class CUnknown : public INonDelegatingUnknown {
public:
    // `name` is a debugging name; `outer` is the controlling unknown when aggregated.
    CUnknown(const wchar_t* name, IUnknown* outer);
    virtual ~CUnknown();
    CUnknown(const CUnknown&) = delete;
    CUnknown& operator=(const CUnknown&) = delete;

    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE NonDelegatingAddRef() override;
    ULONG STDMETHODCALLTYPE NonDelegatingRelease() override;

    // The IUnknown that every delegating call goes to: the outer object, or our own
    // non-delegating IUnknown.
    IUnknown* GetOwner() const { return owner_; }
    const wchar_t* ObjectName() const { return name_; }
    // The current count (for tests and assertions; racy by nature between threads).
    LONG RefCount() const { return ref_.load(); }

protected:
    // Our non-delegating IUnknown seen as an IUnknown.
    IUnknown* InnerUnknown() { return reinterpret_cast<IUnknown*>(static_cast<INonDelegatingUnknown*>(this)); }

private:
    const wchar_t* name_;
    IUnknown* owner_;
    std::atomic<LONG> ref_{0};
};

// Hands out `p` through `out` with one reference added. E_POINTER for a null `out`.
HRESULT GetInterface(IUnknown* p, void** out);

// The delegating IUnknown of a CUnknown-derived class.
#define FILTERBASE_DECLARE_IUNKNOWN                                             \
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override { \
        return GetOwner()->QueryInterface(iid, out);                            \
    }                                                                           \
    ULONG STDMETHODCALLTYPE AddRef() override {                                 \
        return GetOwner()->AddRef();                                            \
    }                                                                           \
    ULONG STDMETHODCALLTYPE Release() override {                                \
        return GetOwner()->Release();                                           \
    }

// Counts of the server: live objects (every CUnknown) and IClassFactory::LockServer
// locks. The server may be unloaded only when both are zero.
LONG ServerObjectCount();
LONG ServerLockCount();
void ServerLock(bool lock);
