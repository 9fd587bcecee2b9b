// The engine's MPEG-4 encoder offered to the system as a Video for Windows compressor.
#pragma once

#include <windows.h>

namespace fileengine {

// Installs (or removes) the compressor's registration as a codec installation does: the
// driver library file_engine_vidc.dll (beside this one) under the Drivers32 key as
// "vidc.FEM4", and its description under drivers.desc. Removal touches only an entry
// that names our driver.
HRESULT RegisterCompressor(bool install);

// Writes (or removes, when it names our driver library) the value `valueName` under the
// Drivers32 key naming the driver library beside this one, and its description when given.
HRESULT RegisterDriver(const char* valueName, const wchar_t* description, bool install);

}  // namespace fileengine
