// Typed registry values: one object names one value (root key, subkey, value name), holds a
// copy of its data, and reads, writes and (REG_DWORD) deletes it. Reads fall back from the
// object's root to HKEY_LOCAL_MACHINE, so machine-wide defaults show through until the
// user's own value exists. A bound object writes through on Set; an unbound one is a plain
// holder of a value (Read still reads). Every Read, Write and Delete opens and closes its own
// key; nothing is held open. User-interface thread only.
//
// Usual getter pattern: build a bound object for HKEY_CURRENT_USER, Read; when Read returns
// 0, Set the default (written to HKEY_CURRENT_USER); then Get.
//
// Bounds: the subkey keeps at most 511 characters, the value name 127 and string data 1,023
// (longer input is cut). String data always stays NUL-terminated: a stored value that does
// not fit 1,024 bytes with its NUL fails to read under that root.
#pragma once

#include <windows.h>

#include "framework/string.h"

namespace regvalue_detail {
// The common fields, in the stored order of every class.
struct Location {
    Location(HKEY root, const char* subkey, const char* name, int bound);
    int bound;
    char subkey[512];
    char name[128];
    HKEY root;
};
// Reads up to `size` bytes of the value into `data` (untouched on failure): the object's
// root first, then HKEY_LOCAL_MACHINE. `accept` may refuse what was read (returns false).
bool ReadValue(const Location& at, void* data, DWORD size, bool (*accept)(void* data, DWORD got) = nullptr);
bool WriteValue(const Location& at, DWORD type, const void* data, DWORD size);
}  // namespace regvalue_detail

namespace regvalue_detail {
// The scalar kinds share one shape: data of type T stored as `kType` with sizeof(T) bytes;
// with kLiveGet, Get on a bound object reads the registry first.
template <class Self, class T, DWORD kType, bool kLiveGet>
class Scalar {
public:
    Scalar(HKEY root, const char* subkey, const char* name, int bound) : at_(root, subkey, name, bound) {}
    virtual ~Scalar() = default;
    int Read() { return ReadValue(at_, &data_, sizeof data_) ? 1 : 0; }
    int Write() { return WriteValue(at_, kType, &data_, sizeof data_) ? 1 : 0; }
    T Get() {
        if (kLiveGet && at_.bound) Read();
        return data_;
    }
    Self& Set(T value) {
        data_ = value;
        if (at_.bound) Write();
        return static_cast<Self&>(*this);
    }

protected:
    Location at_;
    T data_{};
};
}  // namespace regvalue_detail

// 4-byte REG_BINARY on/off switch. Get on a bound object reads the registry first.
class CRegBinValue : public regvalue_detail::Scalar<CRegBinValue, DWORD, REG_BINARY, true> {
public:
    using Scalar::Scalar;
};

// 4-byte REG_BINARY numeric setting ("TVFormat", "DisplayCurFrame"); as CRegBinValue, with a
// default constructor (HKEY_LOCAL_MACHINE, empty key and name, unbound) for window members.
class CRegBinIntValue : public regvalue_detail::Scalar<CRegBinIntValue, DWORD, REG_BINARY, true> {
public:
    CRegBinIntValue() : Scalar(HKEY_LOCAL_MACHINE, "", "", 0) {}
    using Scalar::Scalar;
};

// REG_DWORD. Get returns what was last read or set, without touching the registry.
class CRegDwordValue : public regvalue_detail::Scalar<CRegDwordValue, DWORD, REG_DWORD, false> {
public:
    using Scalar::Scalar;
    // Deletes the value: 1 when the key could be opened (whether or not the value existed).
    int Delete();
};

// 8-byte REG_BINARY holding an IEEE double; Get returns the held value.
class CRegBin8Value : public regvalue_detail::Scalar<CRegBin8Value, double, REG_BINARY, false> {
public:
    using Scalar::Scalar;
};

// REG_SZ of up to 1,023 characters.
class CRegStringValue {
public:
    CRegStringValue();
    CRegStringValue(HKEY root, const char* subkey, const char* name, int bound);
    virtual ~CRegStringValue() = default;
    int Read();
    int Write();
    const char* GetString() const { return data_; }
    bool IsEmpty() const { return data_[0] == '\0'; }
    CRegStringValue& Set(const char* text);
    CRegStringValue& Set(const CString& text) { return Set(text.c_str()); }
    CRegStringValue& SetFromCString(const CString& text) { return Set(text.c_str()); }

private:
    regvalue_detail::Location at_;
    char data_[1024] = {};
};
