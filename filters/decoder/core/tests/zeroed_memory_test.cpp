#include "filters/decoder/core/zeroed_memory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace avcdec {
namespace {

bool AllZero(const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (p[i] != 0) return false;
    return true;
}

// A block given back is kept for the next request of its size, which must read as zeros
// like a fresh one: a plane set of a new context must not show the last stream's pictures.
TEST(ZeroedMemory, KeptBlocksComeBackZeroed) {
    for (size_t bytes : {size_t{1}, size_t{4096} + 3, size_t{1} << 20}) {
        SCOPED_TRACE(bytes);
        auto* first = static_cast<uint8_t*>(AllocateZeroed(bytes));
        ASSERT_NE(first, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(first) % 16, 0u);
        EXPECT_TRUE(AllZero(first, bytes));
        std::memset(first, 0xA5, bytes);
        FreeZeroed(first);
        auto* again = static_cast<uint8_t*>(AllocateZeroed(bytes));
        ASSERT_NE(again, nullptr);
        EXPECT_EQ(again, first) << "the kept block is taken again";
        EXPECT_TRUE(AllZero(again, bytes));
        // Another size is not served from it.
        auto* other = static_cast<uint8_t*>(AllocateZeroed(bytes + 16));
        ASSERT_NE(other, nullptr);
        EXPECT_NE(other, again);
        EXPECT_TRUE(AllZero(other, bytes + 16));
        FreeZeroed(other);
        FreeZeroed(again);
    }
    FreeZeroed(nullptr);
    EXPECT_EQ(AllocateZeroedArray<uint64_t>(SIZE_MAX / 4), nullptr);
}

}  // namespace
}  // namespace avcdec
