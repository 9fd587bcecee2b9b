// Platform-free readers used to check resources against what their callers expect: the
// printf conversions of a format string, and the control ids of a dialog template. Templates
// come from a module outside the program, so every read is bounded by the size given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace services {

// The conversions of a printf format, in order, each as its length modifier and conversion
// letter ("d", "ld", "ls", "s", "f", "I64d"); "%%" is skipped. False for a malformed
// conversion (one that ends the text, or an unknown letter).
bool ParsePrintfConversions(const std::string& format, std::vector<std::string>* conversions);

// The control ids of a DLGTEMPLATE or DLGTEMPLATEEX resource of `size` bytes. False when the
// template is cut short or malformed.
bool ReadDialogControlIds(const uint8_t* data, size_t size, std::vector<uint32_t>* ids);

}  // namespace services
