// Zero-filled blocks for the picture resources (plane sets and macroblock records).
//
// A fresh block comes from calloc, which takes blocks of this size from the operating
// system as zero pages and leaves them alone, so a decoded picture buffer sized by the
// level costs nothing to clear until its pages are written (a 1080p buffer of 18 frames is
// about 60 MB that a value-initialising new[] would write at once).
//
// Freed blocks are kept, up to a bound, for the next context of the process (the next
// stream, file or run): a first write to a fresh page faults, and a fault was measured at
// 20-30 us a 4 KB page on the virtual machines the suite runs on, so a 1280x720 stream of
// 100 pictures spent a third of its processor time faulting in the pages of a context whose
// predecessor had just given the same sizes back. Clearing a kept block costs a tenth of
// a microsecond a page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace avcdec {

// 16-byte aligned zeroed bytes, or null when memory runs out. Freed by FreeZeroed.
void* AllocateZeroed(size_t bytes);

// count zeroed records of a type whose all-zero bytes are a valid value.
template <typename T>
T* AllocateZeroedArray(size_t count) {
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);
    if (count > SIZE_MAX / sizeof(T)) return nullptr;
    return static_cast<T*>(AllocateZeroed(count * sizeof(T)));
}

// Gives a block of AllocateZeroed back (null: nothing); it may be kept for a later
// AllocateZeroed of the same size.
void FreeZeroed(void* p);

}  // namespace avcdec
