#include "app/services/cpu_name.h"

#include <cstring>
#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif
#include <fstream>
#include <map>

#include <gtest/gtest.h>

namespace services {
namespace {

// A processor described by its CPUID answers.
struct FakeCpu {
    const char* vendor = "GenuineIntel";
    int family = 6, model = 0, stepping = 0, extFamily = 0, extModel = 0;
    uint32_t brandIndex = 0;
    uint32_t edx1 = (1u << 23) | (1u << 25) | (1u << 26);  // MMX, SSE, SSE2
    uint32_t ecx1 = 0;
    bool extended = false;
    const char* brand = "";
    uint32_t extEdx = 0;
    uint8_t descriptor = 0;  // one cache descriptor byte in leaf 2, 0 for none

    common::CpuidQuery Query() const {
        return [*this](uint32_t leaf, common::CpuidRegs* r) {
            *r = {};
            if (leaf == 0) {
                r->eax = 2;
                std::memcpy(&r->ebx, vendor + 0, 4);
                std::memcpy(&r->edx, vendor + 4, 4);
                std::memcpy(&r->ecx, vendor + 8, 4);
            } else if (leaf == 1) {
                r->eax = static_cast<uint32_t>(stepping | (model << 4) | (family << 8) | (extModel << 16) |
                                               (extFamily << 20));
                r->ebx = brandIndex;
                r->ecx = ecx1;
                r->edx = edx1;
            } else if (leaf == 2) {
                r->eax = 0x01u | (static_cast<uint32_t>(descriptor) << 8);
            } else if (leaf == 0x80000000u) {
                r->eax = extended ? 0x80000004u : 0x80000000u;
            } else if (leaf == 0x80000001u) {
                r->edx = extEdx;
            } else if (leaf >= 0x80000002u && leaf <= 0x80000004u) {
                char block[16] = {};
                const size_t offset = (leaf - 0x80000002u) * 16;
                const size_t length = std::strlen(brand);
                if (offset < length) std::memcpy(block, brand + offset, std::min<size_t>(16, length - offset));
                std::memcpy(&r->eax, block, 16);
            }
            return true;
        };
    }
};

std::string NameOf(const FakeCpu& cpu) {
    CpuIdentity id;
    EXPECT_EQ(IdentifyCpuFrom(cpu.Query(), &id), 0);
    return id.name;
}

TEST(CpuName, NamingTableByVendorFamilyAndModel) {
    struct Case {
        FakeCpu cpu;
        const char* name;
    } cases[] = {
        {{.family = 4}, "Intel 486 Processor"},
        {{.family = 5}, "Intel Pentium"},
        {{.family = 6, .model = 5, .descriptor = 0x40}, "Intel Celeron"},
        {{.family = 6, .model = 5, .descriptor = 0x7B}, "Intel Pentium II"},
        {{.family = 6, .model = 5, .descriptor = 0x44}, "Intel Pentium II Xeon"},
        {{.family = 6, .model = 5}, "Intel Pentium II"},  // no descriptor: size 1
        {{.family = 6, .model = 6}, "Intel Celeron"},
        {{.family = 6, .model = 7, .descriptor = 0x82}, "Intel Pentium III"},
        {{.family = 6, .model = 7, .descriptor = 0x45}, "Intel Pentium III Xeon"},
        {{.family = 6, .model = 8, .brandIndex = 1}, "Intel Celeron"},
        {{.family = 6, .model = 8, .brandIndex = 2}, "Intel Pentium III"},
        {{.family = 6, .model = 8, .brandIndex = 3}, "Intel Pentium III Xeon"},
        {{.family = 6, .model = 8, .brandIndex = 8}, "Intel Pentium 4"},
        {{.family = 6, .model = 8, .brandIndex = 5}, "Intel Processor"},
        {{.family = 6, .model = 9}, ""},
        {{.family = 15, .brandIndex = 9}, "Intel Pentium 4"},
        {{.family = 15, .brandIndex = 7}, "Intel Processor"},
        {{.family = 7}, "Intel Processor"},
        {{.family = 15, .extended = true, .brand = "  Intel(R) Pentium(R) 4 CPU 2.80GHz"}, "Intel(R) Pentium(R) 4 CPU"},
        {{.family = 6, .model = 8, .extended = true, .brand = "Mobile CPU 600 MHz"}, "Mobile CPU"},
        {{.vendor = "AuthenticAMD", .family = 4}, "AMD 80486 Processor"},
        {{.vendor = "AuthenticAMD", .family = 5, .model = 0}, "AMD K5"},
        {{.vendor = "AuthenticAMD", .family = 5, .model = 3}, "AMD K5"},
        {{.vendor = "AuthenticAMD", .family = 5, .model = 4}, "AMD Processor"},
        {{.vendor = "AuthenticAMD", .family = 5, .model = 6}, "AMD K6"},
        {{.vendor = "AuthenticAMD", .family = 5, .model = 8}, "AMD K6-2"},
        {{.vendor = "AuthenticAMD", .family = 5, .model = 9}, "AMD K6-III"},
        {{.vendor = "AuthenticAMD", .family = 5, .model = 13}, "AMD Processor"},
        {{.vendor = "AuthenticAMD", .family = 6, .extended = true, .brand = "AMD Athlon(tm) XP 2000+"},
         "AMD Athlon(tm) XP 2000+"},
        {{.vendor = "CentaurHauls", .family = 4}, "WinChip 80486 Processor"},
        {{.vendor = "CentaurHauls", .family = 5}, "IDT WinChip Processor"},
        {{.vendor = "CentaurHauls", .family = 6, .model = 5}, "IDT WinChip Processor"},
        {{.vendor = "CentaurHauls", .family = 6, .model = 6}, "VIA C3 Samuel"},
        {{.vendor = "CentaurHauls", .family = 6, .model = 7, .stepping = 7}, "VIA C3 Samuel 2"},
        {{.vendor = "CentaurHauls", .family = 6, .model = 7, .stepping = 8}, "VIA C3 Ezra"},
        {{.vendor = "CentaurHauls", .family = 6, .model = 9, .extended = true, .brand = "VIA Nehemiah"},
         "VIA Nehemiah"},
        {{.vendor = "CyrixInstead", .family = 4}, "Cyrix 80486 Processor"},
        {{.vendor = "CyrixInstead", .family = 5}, "Cyrix MI"},
        {{.vendor = "CyrixInstead", .family = 6}, "Cyrix MII"},
        {{.vendor = "GenuineTMx86", .family = 4}, "Transmeta 80486 Processor"},
        {{.vendor = "GenuineTMx86", .family = 5}, "Transmeta Crusoe"},
        {{.vendor = "NewMakerInc.", .family = 6}, "NewMakerInc. 80686 Processor"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.cpu.vendor << " family " << c.cpu.family << " model " << c.cpu.model);
        EXPECT_EQ(NameOf(c.cpu), c.name);
    }
}

TEST(CpuName, SignatureFieldsAndFlags) {
    FakeCpu intel{.family = 15,
                  .model = 2,
                  .stepping = 9,
                  .extFamily = 1,
                  .extModel = 1,
                  .ecx1 = 0x9,
                  .extended = true,
                  .brand = "X"};
    CpuIdentity id;
    ASSERT_EQ(IdentifyCpuFrom(intel.Query(), &id), 0);
    EXPECT_EQ(id.vendor, "GenuineIntel");
    EXPECT_EQ(id.family, 16);
    EXPECT_EQ(id.model, 18);
    EXPECT_EQ(id.stepping, 9);
    EXPECT_TRUE(id.mmx && id.sse && id.sse2 && id.sse3 && id.monitor);
    EXPECT_FALSE(id.has3DNow);

    // 3DNow! comes from the extended leaf on other vendors; SSE3 is read on Intel only.
    FakeCpu amd{.vendor = "AuthenticAMD",
                .family = 6,
                .edx1 = 1u << 23,
                .ecx1 = 1,
                .extended = true,
                .brand = "Athlon",
                .extEdx = 0xC0000000u};
    ASSERT_EQ(IdentifyCpuFrom(amd.Query(), &id), 0);
    EXPECT_TRUE(id.mmx);
    EXPECT_FALSE(id.sse || id.sse2 || id.sse3);
    EXPECT_TRUE(id.has3DNow && id.has3DNowExt);
    EXPECT_EQ(id.family, 6);

    // No CPUID: -1 and everything reset.
    const common::CpuidQuery none = [](uint32_t, common::CpuidRegs*) { return false; };
    EXPECT_EQ(IdentifyCpuFrom(none, &id), -1);
    EXPECT_EQ(id.vendor, "------------");
    EXPECT_TRUE(id.name.empty());
    EXPECT_FALSE(id.mmx);
}

TEST(CpuName, TidiesBrandStrings) {
    EXPECT_EQ(TidyProcessorName("  Intel(R) Xeon(R) CPU 2.80 GHz"), "Intel(R) Xeon(R) CPU");
    EXPECT_EQ(TidyProcessorName("AMD Athlon 1.2GHz extra"), "AMD Athlon");  // the name ends before the figure
    EXPECT_EQ(TidyProcessorName("Plain name"), "Plain name");
    EXPECT_EQ(TidyProcessorName("   "), "");
    EXPECT_EQ(TidyProcessorName("GHz"), "");
}

#if defined(__x86_64__) || defined(__i386__)
// This host's own processor, against the kernel's description of it.
TEST(CpuName, HostProcessorMatchesProcCpuinfo) {
    std::ifstream in("/proc/cpuinfo");
    ASSERT_TRUE(in) << "no /proc/cpuinfo";
    std::map<std::string, std::string> fields;
    for (std::string line; std::getline(in, line) && !line.empty();) {
        const size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string key = line.substr(0, colon);
        key.erase(key.find_last_not_of(" \t") + 1);
        fields[key] = colon + 2 <= line.size() ? line.substr(colon + 2) : "";
    }
    CpuIdentity id;
    ASSERT_EQ(IdentifyCpuFrom(
                  [](uint32_t leaf, common::CpuidRegs* r) {
                      __cpuid_count(leaf, 0, r->eax, r->ebx, r->ecx, r->edx);
                      return true;
                  },
                  &id),
              0);
    EXPECT_EQ(id.vendor, fields["vendor_id"]);
    // The kernel prints the brand string with its spaces squeezed; ours keeps the text as
    // the processor gives it, cut before a clock figure. A virtual machine's kernel may print
    // a model name of its own, so the brand leaves are read here too and either may match.
    uint32_t leaves[12] = {};
    for (uint32_t i = 0; i < 3; ++i)
        __cpuid(0x80000002u + i, leaves[i * 4], leaves[i * 4 + 1], leaves[i * 4 + 2], leaves[i * 4 + 3]);
    char raw[49] = {};
    std::memcpy(raw, leaves, 48);
    std::string expected = fields["model name"];
    std::string ours;
    for (char c : id.name)
        if (!(c == ' ' && !ours.empty() && ours.back() == ' ')) ours += c;
    while (!ours.empty() && ours.back() == ' ')
        ours.pop_back();
    std::string fromLeaves;
    for (char c : TidyProcessorName(raw))
        if (!(c == ' ' && !fromLeaves.empty() && fromLeaves.back() == ' ')) fromLeaves += c;
    while (!fromLeaves.empty() && fromLeaves.back() == ' ')
        fromLeaves.pop_back();
    EXPECT_FALSE(ours.empty());
    EXPECT_TRUE(ours == TidyProcessorName(expected) || ours == fromLeaves)
        << "ours '" << ours << "', kernel '" << expected << "', leaves '" << fromLeaves << "'";
    // Intel's family already carries the extended family; the kernel adds it on AMD too.
    const bool amdExtended = id.vendor == "AuthenticAMD" && id.family == 15;
    EXPECT_EQ(std::to_string(id.family + (amdExtended ? id.extendedFamily : 0)), fields["cpu family"]);
    EXPECT_EQ(std::to_string(id.stepping), fields["stepping"]);
    const std::string flags = " " + fields["flags"] + " ";
    const auto has = [&](const char* f) { return flags.find(std::string(" ") + f + " ") != std::string::npos; };
    EXPECT_EQ(id.mmx, has("mmx"));
    EXPECT_EQ(id.sse, has("sse"));
    EXPECT_EQ(id.sse2, has("sse2"));
    EXPECT_EQ(id.has3DNow, has("3dnow"));
}
#endif

}  // namespace
}  // namespace services

namespace services {
namespace {

TEST(CpuSpeed, AgreementAndNormalisedRate) {
    EXPECT_TRUE(SpeedRatesAgree(2800, 2800, 2800));
    EXPECT_TRUE(SpeedRatesAgree(2801, 2800, 2800));   // 3n - sum = 2
    EXPECT_FALSE(SpeedRatesAgree(2802, 2800, 2800));  // 4
    EXPECT_TRUE(SpeedRatesAgree(2800, 2800, 2801));   // oldest off by 2 (< 4)
    EXPECT_FALSE(SpeedRatesAgree(2800, 2800, 2803));  // oldest off by 6

    EXPECT_EQ(NormalizedMhz(0, 0), 0u);
    EXPECT_EQ(NormalizedMhz(2'800'000, 1000), 2800u);
    EXPECT_EQ(NormalizedMhz(2'799'600, 1000), 2800u);  // 2799.60: tenths 6 round up
    EXPECT_EQ(NormalizedMhz(2'799'500, 1000), 2799u);  // 2799.50 stays
    EXPECT_EQ(NormalizedMhz(2'799'560, 1000), 2800u);  // hundredths 6 lift the tenths to 6
    EXPECT_EQ(NormalizedMhz(2'799'550, 1000), 2799u);
}

TEST(CpuSpeed, HyperThreadingStates) {
    int logical = -9, packages = -9;
    EXPECT_EQ(DecideHyperThreading(false, 2, 1, false, nullptr, 0, &logical, &packages), kHtNotCapable);
    EXPECT_EQ(logical, 1);  // a single processor without Hyper-Threading support
    EXPECT_EQ(packages, 1);

    const uint8_t pairs[] = {0, 1, 6, 7};  // two packages of two logical processors
    EXPECT_EQ(DecideHyperThreading(true, 2, 4, false, pairs, 4, &logical, &packages), kHtEnabled);
    EXPECT_EQ(logical, 2);
    EXPECT_EQ(packages, 2);

    const uint8_t even[] = {0, 6};  // the second logical processor of each package switched off
    EXPECT_EQ(DecideHyperThreading(true, 2, 2, false, even, 2, &logical, &packages), kHtSupportedNotEnabled);
    EXPECT_EQ(packages, 2);
    EXPECT_EQ(DecideHyperThreading(true, 1, 2, false, even, 2, &logical, &packages), kHtDisabled);
    EXPECT_EQ(DecideHyperThreading(true, 2, 4, true, pairs, 4, &logical, &packages), kHtCannotDetect);
    EXPECT_EQ(packages, -1);
}

}  // namespace
}  // namespace services
