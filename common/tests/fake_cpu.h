// A simulated processor for tests of code that reads CPUID: fixed answers per leaf.
#pragma once

#include <cstdint>
#include <cstring>
#include <map>

#include "common/cpu_features.h"

namespace common::test {

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

// A processor with brand and first-level cache leaves for the information query.
inline FakeCpu MakeCpu(const char* vendor, uint32_t stdEdx, uint32_t extEdx, uint32_t signature = 0x6A7) {
    FakeCpu cpu;
    cpu.leaves[0] = FakeCpu::Vendor(vendor, 1);
    cpu.leaves[1] = {signature, 0, 0, stdEdx};
    cpu.leaves[0x80000000u] = {0x80000006u, 0, 0, 0};
    cpu.leaves[0x80000001u] = {0, 0, 0, extEdx};
    cpu.leaves[0x80000002u] = {0x20656854, 0x74736562, 0x55504320, 0};  // "The best CPU"
    cpu.leaves[0x80000005u] = {0x11223344, 0x55667788, 0x40020140, 0x40020140};
    return cpu;
}

constexpr uint32_t kSse = 1u << 25, kSse2 = 1u << 26, kMmx = 1u << 23, kAmdMmxExt = 1u << 22;

}  // namespace common::test
