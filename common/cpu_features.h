// Processor feature detection shared by the cores and the filters: the CPUID answers
// condensed into one 32-bit feature word, from which each core chooses its kernels.
#pragma once

#include <cstdint>
#include <functional>

namespace common {

// Bits of the feature word. Each is set only where the detection step that owns it is
// reached (see CondenseCpuid).
enum CpuFeature : uint32_t {
    kCpuidWorks = 0x0001,    // CPUID executed without a fault
    kCpuStdLeaves = 0x0002,  // leaf 0 reports at least one standard leaf
    kCpuExtLeaves = 0x0004,  // extended leaves beyond 0x80000000 exist
    kCpuTsc = 0x0010,        // leaf 1 EDX bit 4
    kCpuMmx = 0x0020,        // leaf 1 EDX bit 23
    kCpuCmov = 0x0040,       // leaf 1 EDX bit 15
    kCpu3dNow = 0x0080,      // leaf 0x80000001 EDX bit 31
    kCpu3dNowExt = 0x0100,   // AMD only: leaf 0x80000001 EDX bit 30
    kCpuMmxExt = 0x0200,     // MMX extensions: with SSE, or AMD's own (0x80000001 EDX bit 22)
    kCpuSse = 0x0400,        // leaf 1 EDX bit 25
    kCpuAmdK6Late = 0x0800,  // AMD only: signature (family, model, stepping) in 0x588..0x5FF
    kCpuMtrr = 0x1000,       // leaf 1 EDX bit 12
    kCpuSseAlso = 0x2000,    // leaf 1 EDX bit 25 (set together with kCpuSse)
    kCpuSse2 = 0x4000,       // leaf 1 EDX bit 26
    kCpuSse3 = 0x8000,       // leaf 1 ECX bit 0
    kCpuSsse3 = 0x10000,     // leaf 1 ECX bit 9
    kCpuAvx2 = 0x20000,      // leaf 7 EBX bit 5, with AVX (leaf 1 ECX bit 28) and OSXSAVE (bit 27)
};

// Whether the operating system saves the YMM registers across context switches (XCR0
// bits 1 and 2): AVX2 code needs it besides the CPUID bits.
bool OsSavesYmm();

struct CpuidRegs {
    uint32_t eax = 0, ebx = 0, ecx = 0, edx = 0;
};

// A CPUID source: answers one leaf (sub-leaf 0). Returns false if the instruction faulted.
using CpuidQuery = std::function<bool(uint32_t leaf, CpuidRegs* regs)>;

// Condenses a processor's CPUID answers into the feature word. A source whose first
// query faults yields 0.
uint32_t CondenseCpuid(const CpuidQuery& cpuid);

// This processor's CPUID: false on architectures without the instruction.
bool NativeCpuid(uint32_t leaf, CpuidRegs* regs);

// The feature word of the processor this runs on. On x86-64 CPUID always exists; on other
// architectures the word is 0 (portable kernels only).
uint32_t DetectCpuFeatures();

// The general processor-information query over the CPUID answers: vendor, brand, family,
// feature bits and cache descriptions by item number.
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
int32_t ReadCpuId(const CpuidQuery& cpuid, CpuIdInfo* info);

// One item of the query table from filled information; 0 for unknown items and when
// there was no CPUID. Items 2 and 3 answer the addresses of info's strings.
uint64_t QueryCpuInfoFrom(const CpuIdInfo& info, int item);

// The query over this processor, read once per process.
uint64_t QueryCpuInfo(int item);

}  // namespace common
