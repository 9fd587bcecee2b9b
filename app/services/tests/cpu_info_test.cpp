#include "app/services/cpu_info.h"

#include <intrin.h>

#include <gtest/gtest.h>

namespace {

TEST(CpuInfo, IdentifiesThisProcessor) {
    EXPECT_FALSE(CCpuInfo::IsIdentified());
    EXPECT_EQ(CCpuInfo::GetIdentity().vendor, "------------");
    ASSERT_EQ(CCpuInfo::Identify(), 0);
    EXPECT_TRUE(CCpuInfo::IsIdentified());
    const services::CpuIdentity id = CCpuInfo::GetIdentity();
    EXPECT_EQ(id.vendor.size(), 12u);
    EXPECT_NE(id.vendor, "------------");
    // Every x86-64 processor has MMX, SSE and SSE2.
    EXPECT_EQ(CCpuInfo::HasMMX(), 1);
    EXPECT_EQ(CCpuInfo::HasSSE(), 1);
    EXPECT_EQ(CCpuInfo::HasSSE2(), 1);

    // The measured rate against an independent reading of the time-stamp counter over a
    // tenth of a second of the performance counter: within a tenth of each other.
    LARGE_INTEGER f, a, b;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&a);
    const uint64_t c0 = __rdtsc();
    do {
        QueryPerformanceCounter(&b);
    } while (b.QuadPart - a.QuadPart < f.QuadPart / 10);
    const uint64_t c1 = __rdtsc();
    const double reference =
        static_cast<double>(c1 - c0) / (static_cast<double>(b.QuadPart - a.QuadPart) * 1e6 / f.QuadPart);
    const double rate = CCpuInfo::GetClockRate();
    EXPECT_GT(rate, 0);
    EXPECT_NEAR(rate, reference, reference * 0.1);

    // The process may be kept to fewer processors than the machine has (taskset, a
    // container's CPU set): the check must leave the mask as it found it.
    DWORD_PTR before = 0, system = 0;
    ASSERT_TRUE(GetProcessAffinityMask(GetCurrentProcess(), &before, &system));
    int logical = -9, packages = -9;
    const int state = CCpuInfo::GetHyperThreading(&logical, &packages);
    EXPECT_GE(state, services::kHtNotCapable);
    EXPECT_LE(state, services::kHtCannotDetect);
    EXPECT_GE(logical, 1);
    DWORD_PTR after = 0;
    ASSERT_TRUE(GetProcessAffinityMask(GetCurrentProcess(), &after, &system));
    EXPECT_EQ(after, before);
}

TEST(CpuInfo, SpeedEstimatesByHint) {
    const CpuSpeed estimate = CCpuInfo::MeasureSpeed(10);
    EXPECT_EQ(estimate.cycles, 40000u);
    EXPECT_GT(estimate.microseconds, 0u);
    EXPECT_EQ(estimate.mhz, estimate.cycles / estimate.microseconds);
    const CpuSpeed measured = CCpuInfo::MeasureSpeed(0);
    EXPECT_GT(measured.mhz, 0u);
    EXPECT_LE(measured.mhz > measured.normalizedMhz ? measured.mhz - measured.normalizedMhz
                                                    : measured.normalizedMhz - measured.mhz,
              1u);
}

}  // namespace
