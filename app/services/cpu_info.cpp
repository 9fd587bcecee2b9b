#include "app/services/cpu_info.h"

#include <intrin.h>

#include <mutex>
#include <vector>

namespace {

std::mutex g_lock;
services::CpuIdentity g_identity;
uint32_t g_clockRate = 0;
int g_htState = 0, g_htLogical = 0, g_htPackages = 0;
bool g_identified = false;

LONGLONG Now() {
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart;
}

}  // namespace

int CCpuInfo::Identify() {
    // On x86-64 the CPUID instruction always exists (the EFLAGS ID test of older processors
    // cannot fail).
    services::CpuIdentity id;
    const int result = services::IdentifyCpuFrom(common::NativeCpuid, &id);
    {
        std::lock_guard<std::mutex> hold(g_lock);
        g_identity = id;
        g_identified = false;
        g_clockRate = 0;
    }
    if (result != 0) return -1;
    const CpuSpeed speed = MeasureSpeed(0);
    int logical = 0, packages = 0;
    const int state = CountProcessors(&logical, &packages);
    std::lock_guard<std::mutex> hold(g_lock);
    g_clockRate = speed.mhz;
    g_htState = state;
    g_htLogical = logical;
    g_htPackages = packages;
    g_identified = true;
    return 0;
}

bool CCpuInfo::IsIdentified() {
    std::lock_guard<std::mutex> hold(g_lock);
    return g_identified;
}

services::CpuIdentity CCpuInfo::GetIdentity() {
    std::lock_guard<std::mutex> hold(g_lock);
    return g_identity;
}

int CCpuInfo::HasMMX() {
    return GetIdentity().mmx ? 1 : 0;
}
int CCpuInfo::HasSSE() {
    return GetIdentity().sse ? 1 : 0;
}
int CCpuInfo::HasSSE2() {
    return GetIdentity().sse2 ? 1 : 0;
}
int CCpuInfo::Has3DNow() {
    return GetIdentity().has3DNow ? 1 : 0;
}
int CCpuInfo::Has3DNowExt() {
    return GetIdentity().has3DNowExt ? 1 : 0;
}

uint32_t CCpuInfo::GetClockRate() {
    std::lock_guard<std::mutex> hold(g_lock);
    return g_clockRate;
}

int CCpuInfo::GetHyperThreading(int* logical, int* packages) {
    std::lock_guard<std::mutex> hold(g_lock);
    *logical = g_htLogical;
    *packages = g_htPackages;
    return g_htState;
}

CpuSpeed CCpuInfo::MeasureSpeed(int cyclesHint) {
    CpuSpeed result;
    LARGE_INTEGER frequency;
    if (!QueryPerformanceFrequency(&frequency) || frequency.QuadPart < 10) return result;
    common::CpuidRegs l1;
    common::NativeCpuid(1, &l1);
    const bool tsc = (l1.edx >> 4) & 1;
    if (cyclesHint < 0 || cyclesHint > 150) cyclesHint = 0;

    if (cyclesHint > 0 || !tsc) {
        const int family = static_cast<int>((l1.eax >> 8) & 0xF);
        if (!tsc && family < 3) return result;
        // The shortest of ten back-to-back counter reads, taken as `units` x 4000 cycles.
        const uint64_t units = cyclesHint > 0 ? static_cast<uint64_t>(cyclesHint) : 1;
        LONGLONG shortest = -1;
        for (int i = 0; i < 10; ++i) {
            const LONGLONG a = Now(), b = Now();
            if (shortest < 0 || b - a < shortest) shortest = b - a;
        }
        if (shortest <= 0) shortest = 1;
        result.cycles = units * 4000;
        result.microseconds = static_cast<uint64_t>(shortest) * 1'000'000 / static_cast<uint64_t>(frequency.QuadPart);
        if (result.microseconds == 0) result.microseconds = 1;
        result.mhz = static_cast<uint32_t>(result.cycles / result.microseconds);
        result.normalizedMhz = services::NormalizedMhz(result.cycles, result.microseconds);
        return result;
    }

    const LONGLONG ticksPer100ms = frequency.QuadPart / 10;
    HANDLE thread = GetCurrentThread();
    uint64_t totalCycles = 0;
    long double totalMicros = 0;
    uint32_t rates[20] = {};
    for (int sample = 0; sample < 20; ++sample) {
        const int priority = GetThreadPriority(thread);
        if (priority != THREAD_PRIORITY_ERROR_RETURN) SetThreadPriority(thread, THREAD_PRIORITY_TIME_CRITICAL);
        LONGLONG start = Now();
        while (Now() - start < 50) {
        }
        const LONGLONG t0 = Now();
        const uint64_t c0 = __rdtsc();
        LONGLONG t1;
        while ((t1 = Now()) - t0 < 1000) {
        }
        const uint64_t c1 = __rdtsc();
        if (priority != THREAD_PRIORITY_ERROR_RETURN) SetThreadPriority(thread, priority);
        const long double micros = static_cast<long double>(t1 - t0) * 100000 / ticksPer100ms;
        const uint64_t cycles = c1 - c0;
        totalCycles += cycles;
        totalMicros += micros;
        rates[sample] = micros > 0 ? static_cast<uint32_t>(cycles / micros + 0.5L) : 0;
        if (sample >= 2 && services::SpeedRatesAgree(rates[sample], rates[sample - 1], rates[sample - 2])) break;
    }
    result.cycles = totalCycles;
    result.microseconds = static_cast<uint64_t>(totalMicros + 0.5L);
    if (result.microseconds == 0) return result;
    result.mhz = static_cast<uint32_t>(totalCycles / result.microseconds);
    result.normalizedMhz = services::NormalizedMhz(totalCycles, result.microseconds);
    return result;
}

int CCpuInfo::CountProcessors(int* logical, int* packages) {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    const int processors = static_cast<int>(info.dwNumberOfProcessors);
    common::CpuidRegs l0, l1;
    common::NativeCpuid(0, &l0);
    common::NativeCpuid(1, &l1);
    char vendor[13] = {};
    memcpy(vendor + 0, &l0.ebx, 4);
    memcpy(vendor + 4, &l0.edx, 4);
    memcpy(vendor + 8, &l0.ecx, 4);
    const int family = static_cast<int>((l1.eax >> 8) & 0xF);
    const int extendedFamily = static_cast<int>((l1.eax >> 20) & 0xFF);
    const bool supported =
        strcmp(vendor, "GenuineIntel") == 0 && (family == 15 || extendedFamily != 0) && ((l1.edx >> 28) & 1);
    const int logicalPerPackage = static_cast<int>((l1.ebx >> 16) & 0xFF);

    DWORD_PTR processMask = 0, systemMask = 0;
    GetProcessAffinityMask(GetCurrentProcess(), &processMask, &systemMask);
    const bool restricted = processMask != systemMask;
    std::vector<uint8_t> apicIds;
    if (supported && !restricted) {
        HANDLE process = GetCurrentProcess();
        for (int bit = 0; bit < static_cast<int>(sizeof(DWORD_PTR) * 8); ++bit) {
            const DWORD_PTR one = static_cast<DWORD_PTR>(1) << bit;
            if (!(processMask & one)) continue;
            SetProcessAffinityMask(process, one);
            Sleep(0);
            common::CpuidRegs r;
            common::NativeCpuid(1, &r);
            apicIds.push_back(static_cast<uint8_t>(r.ebx >> 24));
        }
        SetProcessAffinityMask(process, processMask);
    }
    return services::DecideHyperThreading(supported, logicalPerPackage, processors, restricted, apicIds.data(),
                                          static_cast<int>(apicIds.size()), logical, packages);
}
