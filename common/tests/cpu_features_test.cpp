#include "common/cpu_features.h"

#include <cstring>
#include <map>

#include <gtest/gtest.h>

using namespace common;

namespace {

// A simulated processor: fixed answers per leaf; a leaf it lacks answers zeros.
struct FakeCpu {
    bool faults = false;
    std::map<uint32_t, CpuidRegs> leaves;

    static CpuidRegs Vendor(const char* text, uint32_t maxLeaf) {
        CpuidRegs r;
        r.eax = maxLeaf;
        std::memcpy(&r.ebx, text + 0, 4);
        std::memcpy(&r.edx, text + 4, 4);
        std::memcpy(&r.ecx, text + 8, 4);
        return r;
    }
    CpuidQuery Query() const {
        return [this](uint32_t leaf, CpuidRegs* regs) {
            if (faults) return false;
            auto it = leaves.find(leaf);
            *regs = it == leaves.end() ? CpuidRegs{} : it->second;
            return true;
        };
    }
};

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
