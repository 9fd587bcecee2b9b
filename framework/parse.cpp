#include "framework/parse.h"

#include <cstring>

namespace fwparse {

bool SplitFileSelection(const char* buffer, size_t size, std::string& folder, std::vector<std::string>& names) {
    folder.clear();
    names.clear();
    if (!buffer || size == 0) return false;
    const char* end = buffer + size;
    const char* first_end = static_cast<const char*>(std::memchr(buffer, '\0', size));
    if (!first_end || first_end == buffer) return false;
    const char* p = first_end + 1;
    if (p >= end || *p == '\0') {
        names.emplace_back(buffer, first_end);
        return true;
    }
    folder.assign(buffer, first_end);
    // Each name takes at least two bytes, so the walk ends within size / 2 steps.
    while (p < end && *p) {
        const char* name_end = static_cast<const char*>(std::memchr(p, '\0', static_cast<size_t>(end - p)));
        if (!name_end) name_end = end;  // an unterminated last name ends at the buffer's end
        names.emplace_back(p, name_end);
        p = name_end + 1;
    }
    return true;
}

bool FindBlockString(const uint16_t* block, size_t units, unsigned index, const uint16_t** text, size_t* length) {
    if (!block || index > 15) return false;
    size_t at = 0;
    for (unsigned i = 0; i < index; ++i) {
        if (at >= units) return false;
        at += 1 + static_cast<size_t>(block[at]);
    }
    if (at >= units || block[at] == 0 || block[at] > units - at - 1) return false;
    *text = block + at + 1;
    *length = block[at];
    return true;
}

}  // namespace fwparse
