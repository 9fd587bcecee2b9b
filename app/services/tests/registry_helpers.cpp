#include "app/services/tests/registry_helpers.h"

#include <cstdio>

namespace servicestest {

RegistryLock::RegistryLock() : mutex_(CreateMutexA(nullptr, FALSE, "suite_services_registry_tests")) {
    // A test holds it for well under a minute; a holder that died releases it (abandoned).
    if (mutex_) WaitForSingleObject(mutex_, 120000);
}

RegistryLock::~RegistryLock() {
    if (mutex_) {
        ReleaseMutex(mutex_);
        CloseHandle(mutex_);
    }
}

void DeleteKeyTree(HKEY root, const char* subkey) {
    RegDeleteTreeA(root, subkey);
}

void PutRaw(HKEY root, const char* subkey, const char* name, DWORD type, const void* data, DWORD size) {
    HKEY key;
    if (RegCreateKeyExA(root, subkey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS) return;
    RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
}

bool ValueExists(HKEY root, const char* subkey, const char* name) {
    HKEY key;
    if (RegOpenKeyExA(root, subkey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
    const bool found = RegQueryValueExA(key, name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    RegCloseKey(key);
    return found;
}

std::string RegQuery(const std::string& key, const std::string& name) {
    const std::string command = "reg query \"" + key + "\" /v " + name + " 2>nul";
    FILE* pipe = _popen(command.c_str(), "r");
    if (pipe == nullptr) return {};
    std::string out;
    char buffer[256];
    while (fgets(buffer, sizeof buffer, pipe))
        out += buffer;
    _pclose(pipe);
    return out;
}

}  // namespace servicestest
