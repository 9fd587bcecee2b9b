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

// A library that test processes running at once in one Wine prefix register for a scope
// each: the first registers it, the last removes it, so that no test pulls it from under
// another. The users are counted in a named semaphore, changed under a named lock.
class SharedRegistered {
public:
    explicit SharedRegistered(const char* path) : dll_(comtest::WinePath(path)) {
        const size_t slash = dll_.find_last_of(L"\\/");
        name_ = L"CaptureSuite.shared." + dll_.substr(slash == std::wstring::npos ? 0 : slash + 1);
        users_ = CreateSemaphoreW(nullptr, 0, 0x7fffffff, (name_ + L".users").c_str());
        comtest::NamedLock lock((name_ + L".lock").c_str(), 300000);
        ok_ = users_ && lock.Held() && comtest::Regsvr32(dll_, false) == 0 && ReleaseSemaphore(users_, 1, nullptr);
    }
    ~SharedRegistered() {
        if (!users_) return;
        {
            comtest::NamedLock lock((name_ + L".lock").c_str(), 300000);
            if (ok_) WaitForSingleObject(users_, 0);  // this user leaves
            // The count is read by adding one and taking it back.
            LONG left = 0;
            if (ReleaseSemaphore(users_, 1, &left)) WaitForSingleObject(users_, 0);
            if (left == 0) comtest::Regsvr32(dll_, true);
        }
        CloseHandle(users_);
    }
    SharedRegistered(const SharedRegistered&) = delete;
    SharedRegistered& operator=(const SharedRegistered&) = delete;
    bool Ok() const { return ok_; }

private:
    std::wstring dll_, name_;
    HANDLE users_ = nullptr;
    bool ok_ = false;
};

// The clip player and our decoder filter registered for a scope, the decoder under the
// filters' registration lock (the decoder's own tests register and remove it too).
class RegisteredPlayback {
public:
    RegisteredPlayback(const char* player, const char* decoder) : server_(player), decoder_(decoder) {}
    bool Ok() const { return server_.Ok() && lock_.Held() && decoder_.Ok(); }

private:
    SharedRegistered server_;
    comtest::RegistrationLock lock_;
    Registered decoder_;
};

// A machine-wide mutex held for a scope: the filters' own tests register and remove
// their libraries under these names, so a test of ours that does the same holds them
// (comtest::RegistrationLock for the decoder and encoder, the multiplexer's own).
using comtest::NamedLock;
inline constexpr wchar_t kMuxerRegistrationLock[] = L"CaptureSuite.varrow.registration";
// Held by tests that register the conversion engine (which also installs its video
// compressor) and by tests that need the system's compressor list without it.
inline constexpr wchar_t kFileEngineRegistrationLock[] = L"CaptureSuite.file_engine.registration";

}  // namespace enginetest
