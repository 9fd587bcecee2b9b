// Processor identification from CPUID answers, platform-free: vendor, signature fields,
// SIMD flags and a readable name by vendor, family and model. The CPUID source is passed
// in (common::CpuidQuery), so any processor can be described from recorded answers; the
// Windows layer (cpu_info.h) adds the clock-rate measurement and the Hyper-Threading check.
#pragma once

#include <cstdint>
#include <string>

#include "common/cpu_features.h"

namespace services {

struct CpuIdentity {
    std::string vendor = "------------";  // 12 characters of leaf 0 (EBX, EDX, ECX)
    uint32_t signature = 0;               // leaf 1 EAX
    int type = 0;                         // signature bits 12-13 (Intel only)
    int family = 0;                       // bits 8-11, plus the extended family on Intel
    int model = 0;                        // bits 4-7, plus 16 x the extended model on Intel
    int stepping = 0;                     // bits 0-3
    int extendedFamily = 0;               // bits 20-27
    int brandIndex = 0;                   // leaf 1 EBX bits 0-7
    uint32_t leaf1Ebx = 0;
    uint32_t leaf1Edx = 0;
    std::string name;  // at most 48 characters
    bool mmx = false, sse = false, sse2 = false, sse3 = false, monitor = false;
    bool has3DNow = false, has3DNowExt = false;
    bool tsc = false;  // leaf 1 EDX bit 4
};

// Fills `out` from the CPUID source. Returns 0, or -1 (out reset) when the source has no
// CPUID at all (its first query fails).
int IdentifyCpuFrom(const common::CpuidQuery& cpuid, CpuIdentity* out);

// Removes leading spaces, then a clock figure at the end ("... 2.80GHz", "... 600 MHz"): the
// digits and dots before "MHz" (else "GHz"), spaces on either side of them, and anything
// after the unit are cut.
std::string TidyProcessorName(const std::string& name);

// The second-level cache size in KB named by the descriptor bytes 1-15 of leaf 2 (EAX bytes
// 1-3, then EBX, ECX, EDX): the last known descriptor of the list that occurs wins; 1 when none.
int SecondLevelCacheFromDescriptors(const common::CpuidRegs& leaf2);

}  // namespace services
