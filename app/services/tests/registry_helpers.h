// Registry helpers of the services' Windows tests: clearing keys, writing raw values, and
// the prefix's own `reg query` as the outside judge of what was stored.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace servicestest {

// Held by every test that changes the application's settings keys or the tests' own key:
// CTest runs test processes side by side, and they share the prefix's registry.
class RegistryLock {
public:
    RegistryLock();
    ~RegistryLock();
    RegistryLock(const RegistryLock&) = delete;
    RegistryLock& operator=(const RegistryLock&) = delete;

private:
    HANDLE mutex_;
};

void DeleteKeyTree(HKEY root, const char* subkey);
void PutRaw(HKEY root, const char* subkey, const char* name, DWORD type, const void* data, DWORD size);
bool ValueExists(HKEY root, const char* subkey, const char* name);
// The output of `reg query "<key>" /v <name>` run in the prefix (empty when reg fails).
std::string RegQuery(const std::string& key, const std::string& name);

}  // namespace servicestest
