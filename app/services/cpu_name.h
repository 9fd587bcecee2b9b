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

// Clock-rate measurement, arithmetic part: three successive rates (whole MHz) agree when three
// times the newest and three times the middle one each differ from their sum by at most 3,
// and three times the oldest by less than 4.
bool SpeedRatesAgree(uint32_t newest, uint32_t middle, uint32_t oldest);
// The rate of `cycles` over `microseconds` in whole MHz, rounded up from .6 at each of the
// hundredths and tenths places (the "normalised" rate); 0 when no time passed.
uint32_t NormalizedMhz(uint64_t cycles, uint64_t microseconds);

// Hyper-Threading states.
enum HyperThreadingState {
    kHtNotCapable = 0,
    kHtEnabled = 1,
    kHtDisabled = 2,
    kHtSupportedNotEnabled = 3,
    kHtCannotDetect = 4,
};
// The state from what the processor says and what the system shows: `supported` (Intel,
// family 15 or an extended family, leaf 1 EDX bit 28), `logicalPerPackage` (leaf 1 EBX bits
// 16-23), `processors` (the system's count), whether the process affinity is restricted, and
// the initial APIC id (leaf 1 EBX bits 24-31) read on each processor. Fills `logical` and
// `packages` as the system's description: packages = processors / logical when enabled, -1
// when it cannot be told.
int DecideHyperThreading(bool supported, int logicalPerPackage, int processors, bool affinityRestricted,
                         const uint8_t* apicIds, int apicCount, int* logical, int* packages);

}  // namespace services
