// 16-byte aligned allocation for planes and large tables of the encoder core.
#pragma once

#include <cstddef>

namespace ombrisk {

// Returns `size` bytes at a 16-byte aligned address, or nullptr when the allocation fails
// (or the request cannot be represented). The distance from the underlying allocation is
// kept in the byte just before the returned address, so the result is always at least one
// byte past the allocation's start (an already aligned allocation moves on by 16).
void* AlignedAlloc(size_t size);

// Releases a block from AlignedAlloc; nullptr is ignored.
void AlignedFree(void* p);

}  // namespace ombrisk
