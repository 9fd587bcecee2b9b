// Platform-free parsing of what the system hands the framework: the result buffer of an
// explorer-style file dialog and the string-table blocks of a resource module. Both come
// from outside the program, so every read is bounded by the size given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fwparse {

// Splits "folder\0name\0name\0\0" (several files) or "path\0" (one file) within `size`
// bytes. One file gives an empty folder and the path as the only name. False when the
// buffer holds no name.
bool SplitFileSelection(const char* buffer, size_t size, std::string& folder, std::vector<std::string>& names);

// A string-table block is 16 counted strings of UTF-16 units (a length unit, then that
// many units). Finds string `index` (0-15) of a block of `units` words; false when it
// is empty or the block ends before it.
bool FindBlockString(const uint16_t* block, size_t units, unsigned index, const uint16_t** text, size_t* length);

}  // namespace fwparse
