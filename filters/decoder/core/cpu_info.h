// General processor-information query over the CPUID answers (the colour converter asks
// it for the MMX instruction-set extensions).
#pragma once

#include <cstdint>

#include "common/cpu_features.h"

namespace avcdec {

struct CpuIdInfo {
    char vendor[13];       // leaf 0 EBX, EDX, ECX
    char brand[49];        // leaves 0x80000002..0x80000004
    uint32_t signature;    // leaf 1 EAX
    uint32_t stdFeatures;  // leaf 1 EDX
    uint32_t extFeatures;  // leaf 0x80000001 EDX
    uint32_t l1[4];        // leaf 0x80000005 EAX..EDX
    uint32_t l2[4];        // leaf 0x80000006 EAX..EDX
    int32_t detection;     // 0 not yet run, -1 no CPUID, 1 done
};

// Fills info from a CPUID source; returns and records -1 when the source has no CPUID.
int32_t ReadCpuId(const common::CpuidQuery& cpuid, CpuIdInfo* info);

// One item of the query table from filled information; 0 for unknown items and when
// there was no CPUID. Items 2 and 3 answer the addresses of info's strings.
uint64_t QueryCpuInfoFrom(const CpuIdInfo& info, int item);

// The query over this processor, read once per process.
uint64_t QueryCpuInfo(int item);

}  // namespace avcdec
