// Zero-filled blocks for the picture resources, taken from the C heap's calloc: a fresh
// block of that size comes from the operating system as zero pages, which calloc knows and
// leaves alone, so a decoded picture buffer sized by the level costs nothing to clear
// until its pages are written (a 1080p buffer of 18 frames is about 60 MB that a
// value-initialising new[] would write at once).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <type_traits>

namespace avcdec {

// 16-byte aligned zeroed bytes, or null when memory runs out (or, on a heap that aligns
// less, when the block is not aligned: the caller reports it as out of memory). Freed by
// FreeZeroed.
inline void* AllocateZeroed(size_t bytes) {
    void* p = std::calloc(bytes != 0 ? bytes : 1, 1);
    if (p != nullptr && (reinterpret_cast<uintptr_t>(p) & 15) != 0) {
        std::free(p);
        return nullptr;
    }
    return p;
}

// count zeroed records of a type whose all-zero bytes are a valid value.
template <typename T>
T* AllocateZeroedArray(size_t count) {
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);
    if (count > SIZE_MAX / sizeof(T)) return nullptr;
    return static_cast<T*>(AllocateZeroed(count * sizeof(T)));
}

inline void FreeZeroed(void* p) {
    std::free(p);
}

}  // namespace avcdec
