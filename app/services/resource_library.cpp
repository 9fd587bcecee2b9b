#include "app/services/resource_library.h"

#include <string>

#include "app/services/paths.h"

HINSTANCE LoadResourceLibrary(const char* folder) {
    char programFolder[MAX_PATH] = {};
    if (folder == nullptr) {
        GetModuleFolder(nullptr, programFolder, MAX_PATH);
        folder = programFolder;
    }
    std::string path = folder;
    if (path.empty()) return nullptr;
    if (path.back() != '\\') path += '\\';
    path += kResourceLibraryName;
    if (path.size() >= MAX_PATH) return nullptr;
    // A full path: the search order is never consulted for the library itself.
    return LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

void FreeResourceLibrary(HINSTANCE library) {
    if (library) FreeLibrary(library);
}
