#include "filters/decoder/core/cpu_info.h"

#include <gtest/gtest.h>

#include <cpuid.h>

#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "filters/decoder/core/kernel_table.h"
#include "filters/decoder/core/motion_kernels.h"
#include "tests/support/shell.h"

namespace avcdec {
namespace {

using common::CpuidRegs;

// A CPUID table: leaf -> registers; absent leaves answer zeros.
struct FakeCpu {
    std::map<uint32_t, CpuidRegs> leaves;
    bool faults = false;
    common::CpuidQuery Query() const {
        return [this](uint32_t leaf, CpuidRegs* r) {
            if (faults) return false;
            auto it = leaves.find(leaf);
            *r = it == leaves.end() ? CpuidRegs{} : it->second;
            return true;
        };
    }
};

CpuidRegs Vendor(uint32_t maxLeaf, const char* v) {
    CpuidRegs r;
    r.eax = maxLeaf;
    std::memcpy(&r.ebx, v, 4);
    std::memcpy(&r.edx, v + 4, 4);
    std::memcpy(&r.ecx, v + 8, 4);
    return r;
}

FakeCpu MakeCpu(const char* vendor, uint32_t stdEdx, uint32_t extEdx, uint32_t signature = 0x6A7) {
    FakeCpu cpu;
    cpu.leaves[0] = Vendor(1, vendor);
    cpu.leaves[1] = {signature, 0, 0, stdEdx};
    cpu.leaves[0x80000000u] = {0x80000006u, 0, 0, 0};
    cpu.leaves[0x80000001u] = {0, 0, 0, extEdx};
    cpu.leaves[0x80000002u] = {0x20656854, 0x74736562, 0x55504320, 0};  // "The best CPU"
    cpu.leaves[0x80000005u] = {0x11223344, 0x55667788, 0x40020140, 0x40020140};
    return cpu;
}

constexpr uint32_t kSse = 1u << 25, kSse2 = 1u << 26, kMmx = 1u << 23, kAmdMmxExt = 1u << 22;

TEST(CpuInfo, ItemsFromInjectedTables) {
    CpuIdInfo info;
    const FakeCpu intel = MakeCpu("GenuineIntel", kMmx | kSse | (1u << 15) | (1u << 11) | (1u << 10), 0);
    ASSERT_EQ(ReadCpuId(intel.Query(), &info), 1);
    EXPECT_EQ(QueryCpuInfoFrom(info, 0), 2u);
    EXPECT_STREQ(reinterpret_cast<const char*>(QueryCpuInfoFrom(info, 2)), "GenuineIntel");
    EXPECT_STREQ(reinterpret_cast<const char*>(QueryCpuInfoFrom(info, 3)), "The best CPU");
    EXPECT_EQ(QueryCpuInfoFrom(info, 4), 1u);
    EXPECT_EQ(QueryCpuInfoFrom(info, 1), 6u) << "family 6";
    EXPECT_EQ(QueryCpuInfoFrom(info, 5 + 10), 1u) << "item 15 is bit 11 (bit 10 skipped)";
    EXPECT_EQ(QueryCpuInfoFrom(info, 5 + 14), 1u) << "item 19 is bit 15";
    EXPECT_EQ(QueryCpuInfoFrom(info, 22), 1u) << "SSE brings the MMX extensions";
    EXPECT_EQ(QueryCpuInfoFrom(info, 23), 1u);
    EXPECT_EQ(QueryCpuInfoFrom(info, 28), 1u);
    EXPECT_EQ(QueryCpuInfoFrom(info, 29), 0u);
    EXPECT_EQ(QueryCpuInfoFrom(info, 31), 0u) << "cache items are for AMD only";
    EXPECT_EQ(QueryCpuInfoFrom(info, 99), 0u);

    const FakeCpu amd = MakeCpu("AuthenticAMD", kMmx, kAmdMmxExt | (1u << 31));
    ASSERT_EQ(ReadCpuId(amd.Query(), &info), 1);
    EXPECT_EQ(QueryCpuInfoFrom(info, 0), 1u);
    EXPECT_EQ(QueryCpuInfoFrom(info, 22), 1u) << "AMD's own MMX extensions";
    EXPECT_EQ(QueryCpuInfoFrom(info, 27), 1u);
    EXPECT_EQ(QueryCpuInfoFrom(info, 26), 1u);
    EXPECT_EQ(QueryCpuInfoFrom(info, 28), 0u);
    EXPECT_EQ(QueryCpuInfoFrom(info, 31), 0x44u);
    EXPECT_EQ(QueryCpuInfoFrom(info, 34), 0x11u);

    FakeCpu none;
    none.faults = true;
    EXPECT_EQ(ReadCpuId(none.Query(), &info), -1);
    for (int item = 0; item < 60; ++item)
        EXPECT_EQ(QueryCpuInfoFrom(info, item), 0u) << item;

    FakeCpu noLeaves;
    noLeaves.leaves[0] = Vendor(0, "CentaurHauls");
    ASSERT_EQ(ReadCpuId(noLeaves.Query(), &info), 1);
    EXPECT_EQ(QueryCpuInfoFrom(info, 0), 4u);
    EXPECT_EQ(QueryCpuInfoFrom(info, 23), 0u);
}

// The kernel forms follow the feature word (the word itself is tested with the common
// CPU feature code); the table of the possible combinations.
TEST(MotionKernels, FormsFromTheFeatureWord) {
    using K = KernelForm;
    struct Case {
        const char* what;
        FakeCpu cpu;
        K luma, chroma;
    };
    const FakeCpu faulting = [] {
        FakeCpu c;
        c.faults = true;
        return c;
    }();
    const Case cases[] = {
        {"no CPUID", faulting, K::kPortable, K::kPortable},
        {"MMX only", MakeCpu("GenuineIntel", kMmx, 0), K::kPortable, K::kPortable},
        {"SSE", MakeCpu("GenuineIntel", kMmx | kSse, 0), K::kMmx, K::kMmx},
        {"SSE2", MakeCpu("GenuineIntel", kMmx | kSse | kSse2, 0), K::kSse2, K::kMmx},
        {"AMD MMX extensions", MakeCpu("AuthenticAMD", kMmx, kAmdMmxExt), K::kMmx, K::kMmx},
        {"not AMD, MMX extension bit", MakeCpu("GenuineIntel", kMmx, kAmdMmxExt), K::kPortable, K::kPortable},
        {"SSE2 without SSE", MakeCpu("GenuineIntel", kSse2, 0), K::kSse2, K::kPortable},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const MotionKernelForms f = SelectMotionKernelForms(common::CondenseCpuid(c.cpu.Query()));
        EXPECT_EQ(f.luma, c.luma);
        EXPECT_EQ(f.chroma8, c.chroma);
        EXPECT_EQ(f.chroma4, c.chroma);
        EXPECT_EQ(f.chroma2, c.chroma);
    }
}

TEST(MotionKernels, InstalledOnceForThisProcessor) {
    std::vector<std::thread> threads;
    std::vector<uint32_t> words(8);
    for (size_t i = 0; i < words.size(); ++i)
        threads.emplace_back([&, i] { words[i] = InstallMotionKernels(); });
    for (auto& t : threads)
        t.join();
    const uint32_t expected = common::DetectCpuFeatures();
    for (uint32_t w : words)
        EXPECT_EQ(w, expected);
    EXPECT_EQ(DecoderKernels().featureWord, expected);
    const MotionKernelForms f = DecoderKernels().motionForms;
    EXPECT_EQ(f.luma, SelectMotionKernelForms(expected).luma);
    EXPECT_EQ(f.chroma8, SelectMotionKernelForms(expected).chroma8);
}

// The real answers against the kernel's view in /proc/cpuinfo (copied by the Linux shell,
// so the test reads it the same way natively and under Wine).
TEST(CpuInfo, RealProcessorAgreesWithProcCpuinfo) {
    const std::string copy = testsupport::UniqueName("cpuinfo");
    ASSERT_EQ(testsupport::RunShell("cat /proc/cpuinfo > '" + copy + "'"), 0);
    const std::string text = testsupport::ReadFixtureFile(copy);
    ASSERT_FALSE(text.empty());
    std::map<std::string, std::string> fields;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line) && !line.empty();) {
        const size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string key = line.substr(0, colon);
        key.erase(key.find_last_not_of(" \t") + 1);
        std::string value = colon + 2 <= line.size() ? line.substr(colon + 2) : "";
        fields[key] = value;
    }
    const std::string flags = " " + fields["flags"] + " ";
    const auto has = [&](const char* f) {
        return flags.find(std::string(" ") + f + " ") != std::string::npos ? 1u : 0u;
    };
    EXPECT_STREQ(reinterpret_cast<const char*>(QueryCpuInfo(2)), fields["vendor_id"].c_str());
    // The brand string against the compiler's own CPUID read: a virtual machine's kernel
    // may print a model name of its own instead of the processor's brand leaves.
    uint32_t leaves[12] = {};
    for (uint32_t i = 0; i < 3; ++i)
        __cpuid(0x80000002u + i, leaves[i * 4], leaves[i * 4 + 1], leaves[i * 4 + 2], leaves[i * 4 + 3]);
    char raw[49] = {};
    std::memcpy(raw, leaves, 48);
    std::string expected = raw;
    expected.erase(0, expected.find_first_not_of(' '));
    expected.erase(expected.find_last_not_of(' ') + 1);
    std::string brand = reinterpret_cast<const char*>(QueryCpuInfo(3));
    brand.erase(0, brand.find_first_not_of(' '));
    brand.erase(brand.find_last_not_of(' ') + 1);
    EXPECT_FALSE(brand.empty());
    EXPECT_EQ(brand, expected);
    EXPECT_EQ(QueryCpuInfo(23), has("mmx"));
    EXPECT_EQ(QueryCpuInfo(28), has("sse"));
    EXPECT_EQ(QueryCpuInfo(29), has("sse2"));
    EXPECT_EQ(QueryCpuInfo(5 + 4), has("tsc"));
    EXPECT_EQ(QueryCpuInfo(5 + 14), has("cmov"));
    const uint32_t word = common::DetectCpuFeatures();
    EXPECT_EQ((word & common::kCpuSse2) != 0, has("sse2") == 1);
    EXPECT_EQ((word & common::kCpuSse3) != 0, has("pni") == 1);
}

}  // namespace
}  // namespace avcdec
