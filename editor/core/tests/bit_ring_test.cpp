#include "editor/core/bit_ring.h"
#include <gtest/gtest.h>
TEST(BitRing, Placeholder) { editor::CBitRing r; EXPECT_TRUE(r.Create(8)); }
