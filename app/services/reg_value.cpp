#include "app/services/reg_value.h"

#include <cstring>

namespace regvalue_detail {
namespace {

void CopyCut(char* out, size_t size, const char* text) {
    const size_t n = text ? strnlen(text, size - 1) : 0;
    if (n) std::memcpy(out, text, n);
    out[n] = '\0';
}

bool QueryUnder(HKEY root, const char* subkey, const char* name, void* data, DWORD size, bool (*accept)(void*, DWORD)) {
    HKEY key;
    if (RegOpenKeyExA(root, subkey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
    // Into a copy of the current data, so a failed or refused read leaves the field as it was
    // and a shorter value only replaces its own bytes.
    BYTE buffer[1024];
    std::memcpy(buffer, data, size);
    DWORD got = size;
    const LONG r = RegQueryValueExA(key, name, nullptr, nullptr, buffer, &got);
    RegCloseKey(key);
    if (r != ERROR_SUCCESS || got > size) return false;
    if (accept && !accept(buffer, got)) return false;
    std::memcpy(data, buffer, size);
    return true;
}

}  // namespace

Location::Location(HKEY r, const char* sub, const char* valueName, int b) : bound(b), root(r) {
    CopyCut(subkey, sizeof subkey, sub);
    CopyCut(name, sizeof name, valueName);
}

bool ReadValue(const Location& at, void* data, DWORD size, bool (*accept)(void*, DWORD)) {
    if (size > 1024) return false;
    if (QueryUnder(at.root, at.subkey, at.name, data, size, accept)) return true;
    return QueryUnder(HKEY_LOCAL_MACHINE, at.subkey, at.name, data, size, accept);
}

bool WriteValue(const Location& at, DWORD type, const void* data, DWORD size) {
    HKEY key;
    if (RegCreateKeyExA(at.root, at.subkey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    const LONG r = RegSetValueExA(key, at.name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
    return r == ERROR_SUCCESS;
}

}  // namespace regvalue_detail

using regvalue_detail::ReadValue;
using regvalue_detail::WriteValue;

int CRegDwordValue::Delete() {
    HKEY key;
    if (RegOpenKeyExA(at_.root, at_.subkey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return 0;
    RegDeleteValueA(key, at_.name);
    RegCloseKey(key);
    return 1;
}

namespace {
// A text that fits 1,024 bytes with its NUL; one stored without a NUL is terminated here.
bool TerminateText(void* data, DWORD got) {
    char* text = static_cast<char*>(data);
    if (got < 1024) {
        text[got] = '\0';
        return true;
    }
    return text[1023] == '\0';
}
}  // namespace

CRegStringValue::CRegStringValue() : at_(HKEY_LOCAL_MACHINE, "", "", 0) {}
CRegStringValue::CRegStringValue(HKEY root, const char* subkey, const char* name, int bound)
    : at_(root, subkey, name, bound) {}
int CRegStringValue::Read() {
    return ReadValue(at_, data_, sizeof data_, TerminateText) ? 1 : 0;
}
int CRegStringValue::Write() {
    return WriteValue(at_, REG_SZ, data_, static_cast<DWORD>(std::strlen(data_) + 1)) ? 1 : 0;
}
CRegStringValue& CRegStringValue::Set(const char* text) {
    const size_t n = text ? strnlen(text, sizeof data_ - 1) : 0;
    if (n) std::memmove(data_, text, n);
    data_[n] = '\0';
    if (at_.bound) Write();
    return *this;
}
