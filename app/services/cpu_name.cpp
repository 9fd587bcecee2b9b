#include "app/services/cpu_name.h"

#include <cstdio>
#include <cstring>

namespace services {
namespace {

bool Bit(uint32_t reg, int n) {
    return ((reg >> n) & 1u) != 0;
}

std::string Format(const char* format, int family) {
    char text[64];
    std::snprintf(text, sizeof text, format, family);
    return text;
}

// Leaves 0x80000002..4: 48 bytes, NUL-terminated at the first zero.
std::string BrandString(const common::CpuidQuery& cpuid) {
    char brand[49] = {};
    for (uint32_t i = 0; i < 3; ++i) {
        common::CpuidRegs r;
        if (!cpuid(0x80000002u + i, &r)) break;
        std::memcpy(brand + i * 16 + 0, &r.eax, 4);
        std::memcpy(brand + i * 16 + 4, &r.ebx, 4);
        std::memcpy(brand + i * 16 + 8, &r.ecx, 4);
        std::memcpy(brand + i * 16 + 12, &r.edx, 4);
    }
    return brand;
}

void Read3DNow(const common::CpuidQuery& cpuid, CpuIdentity* id) {
    common::CpuidRegs r;
    if (!cpuid(0x80000001u, &r)) return;
    id->has3DNow = Bit(r.edx, 31);
    id->has3DNowExt = Bit(r.edx, 30);
}

std::string IntelFamily6Name(const CpuIdentity& id, int cacheKb) {
    switch (id.model) {
        case 5:
            if (cacheKb == 0) return "Intel Celeron";
            return cacheKb < 1000 ? "Intel Pentium II" : "Intel Pentium II Xeon";
        case 6:
            return "Intel Celeron";
        case 7:
            return cacheKb < 1000 ? "Intel Pentium III" : "Intel Pentium III Xeon";
        case 8:
            switch (id.brandIndex) {
                case 1:
                    return "Intel Celeron";
                case 2:
                    return "Intel Pentium III";
                case 3:
                    return "Intel Pentium III Xeon";
                case 8:
                    return "Intel Pentium 4";
                default:
                    return "Intel Processor";
            }
        default:
            return {};
    }
}

// The name of a processor of family 5 or later from a maker other than Intel (whose table is
// in IdentifyCpuFrom); `brand` is the brand string when extended leaves exist.
std::string NameByVendor(const CpuIdentity& id, const std::string& brand) {
    const int family = id.family, model = id.model;
    if (id.vendor == "AuthenticAMD" && family == 5) {
        if (model <= 3) return "AMD K5";
        if (model == 6 || model == 7) return "AMD K6";
        if (model == 8) return "AMD K6-2";
        if (model == 9) return "AMD K6-III";
        return "AMD Processor";
    }
    if (id.vendor == "CentaurHauls") {
        if (family == 5 || (family == 6 && model <= 5)) return "IDT WinChip Processor";
        if (family == 6 && model == 6) return "VIA C3 Samuel";
        if (family == 6 && model == 7) return id.stepping < 8 ? "VIA C3 Samuel 2" : "VIA C3 Ezra";
    }
    if (id.vendor == "CyrixInstead" && family == 5) return "Cyrix MI";
    if (id.vendor == "CyrixInstead" && family == 6) return "Cyrix MII";
    if (id.vendor == "GenuineTMx86" && family == 5) return "Transmeta Crusoe";
    return brand;
}

// The name format of a maker's processors before family 5; null for makers not in the table.
const char* OlderProcessorFormat(const std::string& vendor) {
    if (vendor == "AuthenticAMD") return "AMD 80%d86 Processor";
    if (vendor == "CentaurHauls") return "WinChip 80%d86 Processor";
    if (vendor == "CyrixInstead") return "Cyrix 80%d86 Processor";
    if (vendor == "GenuineTMx86") return "Transmeta 80%d86 Processor";
    return nullptr;
}

}  // namespace

int SecondLevelCacheFromDescriptors(const common::CpuidRegs& leaf2) {
    uint8_t bytes[16];
    std::memcpy(bytes + 0, &leaf2.eax, 4);
    std::memcpy(bytes + 4, &leaf2.ebx, 4);
    std::memcpy(bytes + 8, &leaf2.ecx, 4);
    std::memcpy(bytes + 12, &leaf2.edx, 4);
    // Descriptor and size in KB, in the order of precedence: a later entry that occurs wins.
    static constexpr struct {
        uint8_t descriptor;
        int kb;
    } kTable[] = {{0x40, 0},    {0x79, 128},  {0x7A, 256},  {0x82, 256},  {0x7B, 512},
                  {0x44, 1000}, {0x7C, 1000}, {0x84, 1000}, {0x45, 2000}, {0x85, 2000}};
    int size = 1;
    for (const auto& entry : kTable) {
        for (int i = 1; i < 16; ++i) {
            if (bytes[i] == entry.descriptor) {
                size = entry.kb;
                break;
            }
        }
    }
    return size;
}

std::string TidyProcessorName(const std::string& name) {
    std::string s = name.substr(std::min(name.find_first_not_of(' '), name.size()));
    size_t unit = s.find("MHz");
    if (unit == std::string::npos) unit = s.find("GHz");
    if (unit == std::string::npos) return s;
    size_t keep = unit;
    while (keep > 0 && s[keep - 1] == ' ')
        --keep;  // "600 MHz" as well as "2.80GHz"
    while (keep > 0 && ((s[keep - 1] >= '0' && s[keep - 1] <= '9') || s[keep - 1] == '.'))
        --keep;
    while (keep > 0 && s[keep - 1] == ' ')
        --keep;
    return s.substr(0, keep);
}

int IdentifyCpuFrom(const common::CpuidQuery& cpuid, CpuIdentity* out) {
    *out = CpuIdentity();
    common::CpuidRegs r;
    if (!cpuid(0, &r)) return -1;
    CpuIdentity id;
    char vendor[13] = {};
    std::memcpy(vendor + 0, &r.ebx, 4);
    std::memcpy(vendor + 4, &r.edx, 4);
    std::memcpy(vendor + 8, &r.ecx, 4);
    id.vendor = std::string(vendor, 12);
    const uint32_t maxLeaf = r.eax;

    common::CpuidRegs l1;
    if (maxLeaf >= 1) cpuid(1, &l1);
    id.signature = l1.eax;
    id.leaf1Ebx = l1.ebx;
    id.leaf1Edx = l1.edx;
    id.brandIndex = static_cast<int>(l1.ebx & 0xFF);
    id.mmx = Bit(l1.edx, 23);
    id.sse = Bit(l1.edx, 25);
    id.sse2 = Bit(l1.edx, 26);
    id.tsc = Bit(l1.edx, 4);
    id.stepping = static_cast<int>(l1.eax & 0xF);
    id.model = static_cast<int>((l1.eax >> 4) & 0xF);
    id.family = static_cast<int>((l1.eax >> 8) & 0xF);
    id.extendedFamily = static_cast<int>((l1.eax >> 20) & 0xFF);

    common::CpuidRegs ext;
    const bool extended = cpuid(0x80000000u, &ext) && ext.eax > 0x80000000u;
    const int family = id.family;

    if (id.vendor == "GenuineIntel") {
        id.type = static_cast<int>((l1.eax >> 12) & 0x3);
        id.family += id.extendedFamily;
        id.model += static_cast<int>((l1.eax >> 16) & 0xF) * 16;
        std::string brand;
        if (extended) {
            brand = BrandString(cpuid);
            id.sse3 = Bit(l1.ecx, 0);
            id.monitor = Bit(l1.ecx, 3);
        }
        if (!brand.empty()) {
            id.name = brand;
        } else if (family <= 4) {
            id.name = Format("Intel %d86 Processor", family);
        } else if (family == 5) {
            id.name = "Intel Pentium";
        } else if (family == 6) {
            common::CpuidRegs l2;
            int cacheKb = 1;
            if (maxLeaf >= 2 && cpuid(2, &l2)) cacheKb = SecondLevelCacheFromDescriptors(l2);
            id.name = IntelFamily6Name(id, cacheKb);
        } else if (family == 15) {
            id.name = id.brandIndex >= 8 ? "Intel Pentium 4" : "Intel Processor";
        } else {
            id.name = "Intel Processor";
        }
    } else if (const char* oldName = OlderProcessorFormat(id.vendor)) {
        if (family < 5) {
            id.name = Format(oldName, family);
        } else {
            std::string brand;
            if (extended) {
                Read3DNow(cpuid, &id);
                brand = BrandString(cpuid);
            }
            id.name = NameByVendor(id, brand);
        }
    } else {
        char text[64];
        std::snprintf(text, sizeof text, "%s 80%d86 Processor", id.vendor.c_str(), family);
        id.name = text;
        if (family >= 5 && extended) Read3DNow(cpuid, &id);
    }
    id.name = TidyProcessorName(id.name);
    if (id.name.size() > 48) id.name.resize(48);
    *out = id;
    return 0;
}

bool SpeedRatesAgree(uint32_t newest, uint32_t middle, uint32_t oldest) {
    const int64_t sum = static_cast<int64_t>(newest) + middle + oldest;
    const auto off = [sum](uint32_t rate) {
        const int64_t d = 3 * static_cast<int64_t>(rate) - sum;
        return d < 0 ? -d : d;
    };
    return off(newest) <= 3 && off(middle) <= 3 && off(oldest) < 4;
}

uint32_t NormalizedMhz(uint64_t cycles, uint64_t microseconds) {
    if (microseconds == 0) return 0;
    // cycles x 100 stays within 64 bits for any measurement of this program (seconds at GHz).
    const uint64_t f1 = cycles / microseconds;
    uint64_t f10 = cycles * 10 / microseconds;
    const uint64_t f100 = cycles * 100 / microseconds;
    uint64_t rate = f1;
    if (f100 - 10 * f10 >= 6) ++f10;
    if (f10 - 10 * f1 >= 6) ++rate;
    return static_cast<uint32_t>(rate);
}

int DecideHyperThreading(bool supported, int logicalPerPackage, int processors, bool affinityRestricted,
                         const uint8_t* apicIds, int apicCount, int* logical, int* packages) {
    *packages = processors;
    *logical = 0;
    if (!supported) {
        *logical = 1;
        return kHtNotCapable;
    }
    *logical = logicalPerPackage;
    // Bits of the APIC id that name the package: above one bit per doubling of the logical count.
    uint32_t packageMask = 0xFF;
    for (int n = 1; n < logicalPerPackage && n < 256; n *= 2)
        packageMask = (packageMask << 1) & 0xFF;
    if (affinityRestricted) {
        *packages = -1;
        return kHtCannotDetect;
    }
    bool enabled = false;
    for (int i = 0; i < apicCount; ++i)
        if (apicIds[i] & ~packageMask & 0xFF) enabled = true;
    if (logicalPerPackage <= 1) return kHtDisabled;
    if (!enabled) return kHtSupportedNotEnabled;
    *packages = processors / logicalPerPackage;
    return kHtEnabled;
}

}  // namespace services
