#include "framework/resources.h"

#include <atomic>
#include <cstdio>

namespace {
std::atomic<HINSTANCE> resource_module{nullptr};
thread_local std::string resource_error;
}  // namespace

HINSTANCE AfxGetResourceHandle() {
    HINSTANCE m = resource_module.load();
    return m ? m : GetModuleHandleA(nullptr);
}

void AfxSetResourceHandle(HINSTANCE module) {
    resource_module.store(module);
}

const std::string& AfxGetResourceError() {
    return resource_error;
}

void AfxSetResourceError(const char* kind, UINT id) {
    char text[128];
    std::snprintf(text, sizeof text, "%s %u is not in the resource module", kind, id);
    resource_error = text;
    OutputDebugStringA(text);
}

void AfxClearResourceError() {
    resource_error.clear();
}

const void* AfxFindResourceData(UINT id, LPCSTR type, DWORD* size, const char* kind) {
    HINSTANCE module = AfxGetResourceHandle();
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), type);
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data) {
        AfxSetResourceError(kind, id);
        return nullptr;
    }
    if (size) *size = SizeofResource(module, found);
    AfxClearResourceError();
    return data;
}
