#include "filters/encoder/core/kernel_table.h"

#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "common/cpu_features.h"

namespace ombrisk {
namespace {

TEST(KernelTable, FillingForAnyFlagSubset) {
    for (uint32_t flags : {0u, uint32_t{common::kCpuMmx}, uint32_t{common::kCpuMmxExt}, 0xFFFFu}) {
        CKernelTable t;
        std::memset(&t, 0xCC, sizeof t);
        FillKernelTable(&t, flags, 3);
        EXPECT_EQ(t.featureWord, flags);
        EXPECT_EQ(t.processorCount, 3u);
        uint8_t src[5] = {1, 2, 3, 4, 5}, dst[5] = {};
        ASSERT_NE(t.copyBytes, nullptr);
        t.copyBytes(dst, src, 5);
        EXPECT_EQ(std::memcmp(dst, src, 5), 0);
        ASSERT_NE(t.fillBytes, nullptr);
        t.fillBytes(dst, 7, 3);
        EXPECT_EQ(dst[2], 7);
        EXPECT_EQ(dst[3], 4);
    }
}

TEST(KernelTable, ProcessTableIsFilledOnceFromThisProcessor) {
    std::vector<std::thread> threads;
    std::vector<const CKernelTable*> seen(8);
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&, i] { seen[i] = &KernelTable(); });
    for (auto& t : threads)
        t.join();
    for (auto* p : seen)
        EXPECT_EQ(p, &KernelTable());
    const CKernelTable& t = KernelTable();
    EXPECT_EQ(t.featureWord, common::DetectCpuFeatures());
    const unsigned n = std::thread::hardware_concurrency();
    EXPECT_EQ(t.processorCount, n > 0 ? n : 1u);
}

#if defined(__linux__) && defined(__x86_64__)
// The real feature word against the kernel's own reading of CPUID.
TEST(KernelTable, FeatureWordAgreesWithProcCpuinfo) {
    std::ifstream in("/proc/cpuinfo");
    ASSERT_TRUE(in.is_open());
    std::string line;
    std::set<std::string> flags;
    while (std::getline(in, line)) {
        if (line.rfind("flags", 0) == 0) {
            std::istringstream words(line.substr(line.find(':') + 1));
            for (std::string f; words >> f;)
                flags.insert(f);
            break;
        }
    }
    ASSERT_FALSE(flags.empty());
    const uint32_t word = KernelTable().featureWord;
    const std::pair<const char*, uint32_t> bits[] = {
        {"tsc", common::kCpuTsc}, {"mmx", common::kCpuMmx},   {"cmov", common::kCpuCmov},
        {"sse", common::kCpuSse}, {"sse2", common::kCpuSse2}, {"pni", common::kCpuSse3},
    };
    for (auto [name, bit] : bits)
        EXPECT_EQ((word & bit) != 0, flags.count(name) > 0) << name;
    EXPECT_EQ((word & common::kCpuMmxExt) != 0, flags.count("sse") > 0 || flags.count("mmxext") > 0);
}
#endif

}  // namespace
}  // namespace ombrisk
