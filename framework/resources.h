// The resource handle every load goes through: strings, dialog templates, menus, bitmaps,
// cursors and icons come by id from one module (the resource library once the application
// has loaded it, the program's own module before that).
#pragma once

#include <windows.h>

#include <string>

HINSTANCE AfxGetResourceHandle();
void AfxSetResourceHandle(HINSTANCE module);

// Why the last load by id on this thread failed ("string 4711 is not in the resource
// module"); empty after a successful load.
const std::string& AfxGetResourceError();
void AfxSetResourceError(const char* kind, UINT id);
void AfxClearResourceError();

// The resource of `type` with `id` in the resource module, or null (with the error set).
// The data stays valid while the module is loaded.
const void* AfxFindResourceData(UINT id, LPCSTR type, DWORD* size, const char* kind);
