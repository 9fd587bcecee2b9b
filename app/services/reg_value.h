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

// 4-byte REG_BINARY on/off switch. Get on a bound object reads the registry first.
class CRegBinValue {
public:
    CRegBinValue(HKEY root, const char* subkey, const char* name, int bound);
    virtual ~CRegBinValue() = default;
    int Read();
    int Write();
    DWORD Get();
    CRegBinValue& Set(DWORD value);

private:
    regvalue_detail::Location at_;
    DWORD data_ = 0;
};

// 4-byte REG_BINARY numeric setting ("TVFormat", "DisplayCurFrame"); as CRegBinValue, with a
// default constructor (HKEY_LOCAL_MACHINE, empty key and name, unbound) for window members.
class CRegBinIntValue {
public:
    CRegBinIntValue();
    CRegBinIntValue(HKEY root, const char* subkey, const char* name, int bound);
    virtual ~CRegBinIntValue() = default;
    int Read();
    int Write();
    DWORD Get();
    CRegBinIntValue& Set(DWORD value);

private:
    regvalue_detail::Location at_;
    DWORD data_ = 0;
};

// REG_DWORD. Get returns what was last read or set, without touching the registry.
class CRegDwordValue {
public:
    CRegDwordValue(HKEY root, const char* subkey, const char* name, int bound);
    virtual ~CRegDwordValue() = default;
    int Read();
    int Write();
    DWORD Get() const { return data_; }
    CRegDwordValue& Set(DWORD value);
    // Deletes the value: 1 when the key could be opened (whether or not the value existed).
    int Delete();

private:
    regvalue_detail::Location at_;
    DWORD data_ = 0;
};

// 8-byte REG_BINARY holding an IEEE double.
class CRegBin8Value {
public:
    CRegBin8Value(HKEY root, const char* subkey, const char* name, int bound);
    virtual ~CRegBin8Value() = default;
    int Read();
    int Write();
    double Get() const { return data_; }
    CRegBin8Value& Set(double value);

private:
    regvalue_detail::Location at_;
    double data_ = 0.0;
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

private:
    regvalue_detail::Location at_;
    char data_[1024] = {};
};
