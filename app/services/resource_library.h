// Loading the resource library "Tovrt.dll", the source of every string, dialog template, menu
// and bitmap the application loads by id. It is loaded by its full path in the program's
// folder, never through the DLL search order, so no other module of that name can stand in.
#pragma once

#include <windows.h>

constexpr const char kResourceLibraryName[] = "Tovrt.dll";

// Loads kResourceLibraryName from `folder` (with or without a trailing backslash), or from
// the program's own folder when `folder` is null. Null when it is missing or cannot be loaded.
HINSTANCE LoadResourceLibrary(const char* folder = nullptr);
// Frees a module returned by LoadResourceLibrary (null is ignored).
void FreeResourceLibrary(HINSTANCE library);
