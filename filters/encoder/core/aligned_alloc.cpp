#include "filters/encoder/core/aligned_alloc.h"

#include <cstdint>
#include <cstdlib>
#include <limits>

namespace ombrisk {

void* AlignedAlloc(size_t size) {
    if (size > std::numeric_limits<size_t>::max() - 16) return nullptr;
    auto* raw = static_cast<unsigned char*>(std::malloc(size + 16));
    if (!raw) return nullptr;
    // 1..16 bytes forward: never 0, so there is always room for the distance byte.
    const size_t shift = 16 - (reinterpret_cast<uintptr_t>(raw) & 15u);
    unsigned char* aligned = raw + shift;
    aligned[-1] = static_cast<unsigned char>(shift);
    return aligned;
}

void AlignedFree(void* p) {
    if (!p) return;
    auto* aligned = static_cast<unsigned char*>(p);
    std::free(aligned - aligned[-1]);
}

}  // namespace ombrisk
