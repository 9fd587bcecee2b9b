// Test support: a library of the build registered with regsvr32 for the life of a scope.
#pragma once

#include <string>

#include "filters/base/tests/com_test_util.h"

namespace enginetest {

class Registered {
public:
    explicit Registered(const char* path) : dll_(comtest::WinePath(path)) { ok_ = comtest::Regsvr32(dll_, false) == 0; }
    ~Registered() { comtest::Regsvr32(dll_, true); }
    Registered(const Registered&) = delete;
    Registered& operator=(const Registered&) = delete;
    bool Ok() const { return ok_; }
    const std::wstring& Dll() const { return dll_; }

private:
    std::wstring dll_;
    bool ok_ = false;
};

}  // namespace enginetest
