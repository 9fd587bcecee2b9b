#include "common/cpu_features.h"

#include <cpuid.h>

#include <cstring>
#include <map>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "common/tests/fake_cpu.h"
#include "tests/support/shell.h"

using namespace common;
using namespace common::test;

namespace {

constexpr uint32_t kEdxTsc = 1u << 4, kEdxMmx = 1u << 23, kEdxCmov = 1u << 15, kEdxMtrr = 1u << 12, kEdxSse = 1u << 25,
                   kEdxSse2 = 1u << 26;

FakeCpu Processor(const char* vendor, uint32_t signature, uint32_t edx1, uint32_t ecx1, uint32_t maxExt,
                  uint32_t edxExt) {
    FakeCpu cpu;
    cpu.leaves[0] = FakeCpu::Vendor(vendor, 1);
    cpu.leaves[1] = CpuidRegs{signature, 0, ecx1, edx1};
    cpu.leaves[0x80000000u] = CpuidRegs{maxExt, 0, 0, 0};
    cpu.leaves[0x80000001u] = CpuidRegs{0, 0, 0, edxExt};
    return cpu;
}

}  // namespace

TEST(CpuFeatures, FaultAndEmptyLeafZero) {
    FakeCpu faulting;
    faulting.faults = true;
    EXPECT_EQ(CondenseCpuid(faulting.Query()), 0u);

    FakeCpu noLeaves;
    noLeaves.leaves[0] = FakeCpu::Vendor("GenuineIntel", 0);
    EXPECT_EQ(CondenseCpuid(noLeaves.Query()), 0x0001u);
}

TEST(CpuFeatures, WordForTypicalProcessors) {
    const uint32_t base = kEdxTsc | kEdxMmx | kEdxCmov | kEdxMtrr;
    struct Case {
        const char* what;
        FakeCpu cpu;
        uint32_t word;
    } cases[] = {
        {"SSE without SSE2: MMX extensions come with SSE",
         Processor("GenuineIntel", 0x673, base | kEdxSse, 0, 0x80000004u, 0),
         0x0001 | 0x0002 | 0x0004 | 0x0010 | 0x0020 | 0x0040 | 0x1000 | 0x2600},
        {"SSE2 and SSE3", Processor("GenuineIntel", 0xF29, base | kEdxSse | kEdxSse2, 1, 0x80000008u, 0),
         0x0007 | 0x0070 | 0x1000 | 0x2600 | 0x4000 | 0x8000},
        {"AMD without SSE, with its own MMX extensions, 3DNow! and extended 3DNow!",
         Processor("AuthenticAMD", 0x58C, base, 0, 0x80000005u, (1u << 22) | (1u << 30) | (1u << 31)),
         0x0007 | 0x0070 | 0x0080 | 0x0100 | 0x0200 | 0x0800 | 0x1000},
        {"Extended leaf maximum of exactly 0x80000000 stops before leaf 0x80000001",
         Processor("AuthenticAMD", 0x58C, base, 0, 0x80000000u, 1u << 31), 0x0003 | 0x0070 | 0x1000},
        {"A vendor other than AMD never gets bits 8, 9 (without SSE) or 11",
         Processor("CentaurHauls", 0x58C, base, 0, 0x80000001u, (1u << 22) | (1u << 30) | (1u << 31)),
         0x0007 | 0x0070 | 0x0080 | 0x1000},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CondenseCpuid(c.cpu.Query()), c.word) << c.what;
}

TEST(CpuFeatures, Ssse3AndAvx2) {
    constexpr uint32_t kEcxSsse3 = 1u << 9, kEcxOsxsave = 1u << 27, kEcxAvx = 1u << 28, kEbx7Avx2 = 1u << 5;
    const auto word = [&](uint32_t maxLeaf, uint32_t ecx1, uint32_t ebx7) {
        FakeCpu cpu = Processor("GenuineIntel", 0x306C3, kEdxSse | kEdxSse2, ecx1, 0x80000008u, 0);
        cpu.leaves[0] = FakeCpu::Vendor("GenuineIntel", maxLeaf);
        cpu.leaves[7] = CpuidRegs{0, ebx7, 0, 0};
        return CondenseCpuid(cpu.Query()) & (kCpuSsse3 | kCpuAvx2);
    };
    EXPECT_EQ(word(7, kEcxSsse3 | kEcxOsxsave | kEcxAvx, kEbx7Avx2), kCpuSsse3 | kCpuAvx2);
    EXPECT_EQ(word(7, kEcxSsse3, 0), uint32_t{kCpuSsse3});
    // AVX2 needs the AVX and OSXSAVE bits of leaf 1, and leaf 7 within the leaves reported.
    EXPECT_EQ(word(7, kEcxOsxsave, kEbx7Avx2), 0u);
    EXPECT_EQ(word(7, kEcxAvx, kEbx7Avx2), 0u);
    EXPECT_EQ(word(6, kEcxOsxsave | kEcxAvx, kEbx7Avx2), 0u);
}

TEST(CpuFeatures, AmdSignatureRangeForBit11) {
    for (uint32_t sig : {0x587u, 0x588u, 0x5FFu, 0x600u, 0x1588u}) {
        const uint32_t word = CondenseCpuid(Processor("AuthenticAMD", sig, 0, 0, 0x80000001u, 0).Query());
        const bool inRange = (sig & 0xFFF) >= 0x588 && (sig & 0xFFF) < 0x600;
        EXPECT_EQ((word & kCpuAmdK6Late) != 0, inRange) << std::hex << sig;
    }
}

TEST(CpuFeatures, ThisMachine) {
    const uint32_t word = DetectCpuFeatures();
#if defined(__x86_64__)
    // Every x86-64 processor has CPUID, MMX, SSE and SSE2.
    EXPECT_EQ(word & 0x4623u, 0x4623u) << std::hex << word;
#else
    EXPECT_EQ(word, 0u);
#endif
}

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
    noLeaves.leaves[0] = FakeCpu::Vendor("CentaurHauls", 0);
    ASSERT_EQ(ReadCpuId(noLeaves.Query(), &info), 1);
    EXPECT_EQ(QueryCpuInfoFrom(info, 0), 4u);
    EXPECT_EQ(QueryCpuInfoFrom(info, 23), 0u);
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
    const uint32_t word = DetectCpuFeatures();
    EXPECT_EQ((word & kCpuSse2) != 0, has("sse2") == 1);
    EXPECT_EQ((word & kCpuSse3) != 0, has("pni") == 1);
    EXPECT_EQ((word & kCpuSsse3) != 0, has("ssse3") == 1);
    EXPECT_EQ((word & kCpuAvx2) != 0, has("avx2") == 1);
}
