#include "common/cpu_features.h"

#include <cstring>
#include <mutex>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace common {

namespace {

// The vendor text of leaf 0: EBX, EDX, ECX in that order (12 characters).
void VendorText(const CpuidRegs& leaf0, char* text) {
    std::memcpy(text + 0, &leaf0.ebx, 4);
    std::memcpy(text + 4, &leaf0.edx, 4);
    std::memcpy(text + 8, &leaf0.ecx, 4);
}

}  // namespace

uint32_t CondenseCpuid(const CpuidQuery& cpuid) {
    CpuidRegs r;
    if (!cpuid(0, &r)) return 0;
    uint32_t word = kCpuidWorks;

    char vendor[12];
    VendorText(r, vendor);
    const bool amd = std::memcmp(vendor, "AuthenticAMD", 12) == 0;
    if (r.eax == 0) return word;
    const uint32_t maxLeaf = r.eax;

    word |= kCpuStdLeaves;
    if (!cpuid(1, &r)) return word;
    const uint32_t signature = r.eax;
    const auto bit = [](uint32_t reg, int n) { return ((reg >> n) & 1u) != 0; };
    if (bit(r.ecx, 0)) word |= kCpuSse3;
    if (bit(r.ecx, 9)) word |= kCpuSsse3;
    const bool avx = bit(r.ecx, 27) && bit(r.ecx, 28);
    if (bit(r.edx, 4)) word |= kCpuTsc;
    if (bit(r.edx, 23)) word |= kCpuMmx;
    if (bit(r.edx, 15)) word |= kCpuCmov;
    if (bit(r.edx, 12)) word |= kCpuMtrr;
    if (bit(r.edx, 25)) word |= kCpuMmxExt | kCpuSse | kCpuSseAlso;
    if (bit(r.edx, 26)) word |= kCpuSse2;
    if (avx && maxLeaf >= 7) {
        CpuidRegs leaf7;
        if (cpuid(7, &leaf7) && bit(leaf7.ebx, 5)) word |= kCpuAvx2;
    }

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

bool NativeCpuid(uint32_t leaf, CpuidRegs* regs) {
#if defined(__x86_64__) || defined(__i386__)
    __cpuid_count(leaf, 0, regs->eax, regs->ebx, regs->ecx, regs->edx);
    return true;
#else
    (void)leaf;
    *regs = CpuidRegs{};
    return false;
#endif
}

bool OsSavesYmm() {
#if defined(__x86_64__) || defined(__i386__)
    CpuidRegs r;
    NativeCpuid(1, &r);
    if (((r.ecx >> 27) & 1u) == 0) return false;  // no OSXSAVE: XGETBV would fault
    uint32_t lo, hi;
    __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    return (lo & 6u) == 6u;
#else
    return false;
#endif
}

uint32_t DetectCpuFeatures() {
    const uint32_t word = CondenseCpuid(NativeCpuid);
    return OsSavesYmm() ? word : word & ~uint32_t{kCpuAvx2};
}

namespace {

enum VendorCode : uint64_t { kOther = 0, kAmd = 1, kIntel = 2, kCyrix = 3, kCentaur = 4 };

uint64_t VendorOf(const CpuIdInfo& info) {
    static const char* const names[] = {"AuthenticAMD", "GenuineIntel", "CyrixInstead", "CentaurHauls"};
    for (uint64_t i = 0; i < 4; ++i)
        if (std::memcmp(info.vendor, names[i], 12) == 0) return i + 1;
    return kOther;
}

uint64_t Bit(uint32_t word, int n) {
    return (word >> n) & 1u;
}

void Store(uint32_t* to, const CpuidRegs& r) {
    to[0] = r.eax;
    to[1] = r.ebx;
    to[2] = r.ecx;
    to[3] = r.edx;
}

}  // namespace

int32_t ReadCpuId(const CpuidQuery& cpuid, CpuIdInfo* info) {
    *info = CpuIdInfo{};
    std::memcpy(info->vendor, "UnknownVendr", 12);
    CpuidRegs r;
    if (!cpuid(0, &r)) return info->detection = -1;
    VendorText(r, info->vendor);
    info->detection = 1;
    if (r.eax == 0) return 1;
    if (cpuid(1, &r)) {
        info->signature = r.eax;
        info->stdFeatures = r.edx;
    }
    if (!cpuid(0x80000000u, &r)) return 1;
    const uint32_t maxExt = r.eax;
    if (maxExt >= 0x80000006u && cpuid(0x80000006u, &r)) Store(info->l2, r);
    if (maxExt >= 0x80000005u && cpuid(0x80000005u, &r)) Store(info->l1, r);
    if (maxExt >= 0x80000004u) {
        for (uint32_t i = 0; i < 3; ++i) {
            if (!cpuid(0x80000002u + i, &r)) break;
            std::memcpy(info->brand + 16 * i, &r, 16);  // EAX, EBX, ECX, EDX in order
        }
    }
    if (maxExt >= 0x80000001u && cpuid(0x80000001u, &r)) info->extFeatures = r.edx;
    return 1;
}

uint64_t QueryCpuInfoFrom(const CpuIdInfo& info, int item) {
    if (info.detection != 1) return 0;
    const uint64_t vendor = VendorOf(info);
    const uint32_t std = info.stdFeatures;
    const uint32_t ext = info.extFeatures;
    if (item >= 5 && item <= 19) {
        const int n = item - 5;  // bits 0..9, then 11..15 (bit 10 is reserved)
        return Bit(std, n < 10 ? n : n + 1);
    }
    if (item >= 31 && item <= 46 && vendor == kAmd) {
        // Leaf 0x80000005: one byte per item, EAX..EDX, low byte first (TLB
        // associativity and entries, then L1 data and instruction cache size,
        // associativity, lines per tag and line size).
        const int n = item - 31;
        return (info.l1[n / 4] >> (8 * (n % 4))) & 0xFFu;
    }
    switch (item) {
        case 0:
            return vendor;
        case 1: {
            // Class code: the family, including the extended family, of a known vendor.
            if (vendor == kOther) return 0;
            const uint32_t family = (info.signature >> 8) & 0xF;
            return family == 0xF ? family + ((info.signature >> 20) & 0xFF) : family;
        }
        case 2:
            return reinterpret_cast<uintptr_t>(info.vendor);
        case 3:
            return reinterpret_cast<uintptr_t>(info.brand);
        case 4:
            return 1;
        case 20:
            return Bit(std, 16);
        case 21:
            return Bit(std, 17);
        case 22:
            return Bit(std, 25) | Bit(ext, 22);
        case 23:
            return Bit(std, 23);
        case 24:
            return Bit(std, 24);
        case 25:
            return Bit(ext, 30);
        case 26:
            return Bit(ext, 31);
        case 27:
            return Bit(ext, 22);
        case 28:
            return Bit(std, 25);
        case 29:
            return Bit(std, 26);
        // SSE instructions cannot fault where the SSE bit is set on the processors this
        // builds for (x86-64 requires them, and the operating system enables them).
        case 30:
            return Bit(std, 25);
        default:
            return 0;
    }
}

uint64_t QueryCpuInfo(int item) {
    static CpuIdInfo info;
    static std::once_flag once;
    std::call_once(once, [] { ReadCpuId(NativeCpuid, &info); });
    return QueryCpuInfoFrom(info, item);
}

}  // namespace common
