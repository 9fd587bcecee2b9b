#include "filters/encoder/core/aligned_alloc.h"

#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

namespace ombrisk {
namespace {

TEST(AlignedAlloc, SixteenByteAlignedAndUsable) {
    std::vector<void*> blocks;
    for (size_t size : {size_t{0}, size_t{1}, size_t{15}, size_t{16}, size_t{17}, size_t{4096}, size_t{1} << 20}) {
        for (int i = 0; i < 8; ++i) {
            void* p = AlignedAlloc(size);
            ASSERT_NE(p, nullptr) << size;
            EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u) << size;
            // The distance byte stands before the block: the block is writable end to end
            // without touching it (ASan reports any overrun).
            std::memset(p, 0xA5, size);
            blocks.push_back(p);
        }
    }
    for (void* p : blocks)
        AlignedFree(p);
    AlignedFree(nullptr);
}

TEST(AlignedAlloc, ImpossibleRequestReturnsNull) {
    EXPECT_EQ(AlignedAlloc(std::numeric_limits<size_t>::max() - 8), nullptr);
    EXPECT_EQ(AlignedAlloc(std::numeric_limits<size_t>::max()), nullptr);
}

}  // namespace
}  // namespace ombrisk
