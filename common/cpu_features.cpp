#include "common/cpu_features.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace common {

uint32_t CondenseCpuid(const CpuidQuery& cpuid) {
    CpuidRegs r;
    if (!cpuid(0, &r)) return 0;
    uint32_t word = kCpuidWorks;

    // The vendor text is EBX, EDX, ECX in that order.
    char vendor[12];
    std::memcpy(vendor + 0, &r.ebx, 4);
    std::memcpy(vendor + 4, &r.edx, 4);
    std::memcpy(vendor + 8, &r.ecx, 4);
    const bool amd = std::memcmp(vendor, "AuthenticAMD", 12) == 0;
    if (r.eax == 0) return word;

    word |= kCpuStdLeaves;
    if (!cpuid(1, &r)) return word;
    const uint32_t signature = r.eax;
    const auto bit = [](uint32_t reg, int n) { return ((reg >> n) & 1u) != 0; };
    if (bit(r.ecx, 0)) word |= kCpuSse3;
    if (bit(r.edx, 4)) word |= kCpuTsc;
    if (bit(r.edx, 23)) word |= kCpuMmx;
    if (bit(r.edx, 15)) word |= kCpuCmov;
    if (bit(r.edx, 12)) word |= kCpuMtrr;
    if (bit(r.edx, 25)) word |= kCpuMmxExt | kCpuSse | kCpuSseAlso;
    if (bit(r.edx, 26)) word |= kCpuSse2;

    if (!cpuid(0x80000000u, &r) || r.eax <= 0x80000000u) return word;
    word |= kCpuExtLeaves;
    if (!cpuid(0x80000001u, &r)) return word;
    if (bit(r.edx, 31)) word |= kCpu3dNow;
    if (!amd) return word;

    if (bit(r.edx, 30)) word |= kCpu3dNowExt;
    if (!(word & kCpuMmxExt) && bit(r.edx, 22)) word |= kCpuMmxExt;
    const uint32_t fms = signature & 0xFFFu;
    if (fms >= 0x588u && fms < 0x600u) word |= kCpuAmdK6Late;
    return word;
}

uint32_t DetectCpuFeatures() {
#if defined(__x86_64__) || defined(__i386__)
    return CondenseCpuid([](uint32_t leaf, CpuidRegs* regs) {
        __cpuid(leaf, regs->eax, regs->ebx, regs->ecx, regs->edx);
        return true;
    });
#else
    return 0;
#endif
}

}  // namespace common
