// Identification of the processor once per process: vendor, family, model and stepping, a
// readable name, the SIMD flags, the clock rate and the Hyper-Threading state, read through
// small getters. The naming and the arithmetic are platform-free (cpu_name.h); this adds the
// clock measurement (time-stamp counter against the performance counter, with the thread's
// priority briefly raised) and the per-processor APIC check (the process briefly moved between
// processors). Process-wide results, guarded by a lock.
#pragma once

#include <windows.h>

#include <cstdint>

#include "app/services/cpu_name.h"

struct CpuSpeed {
    uint64_t cycles = 0;
    uint64_t microseconds = 0;
    uint32_t mhz = 0;
    uint32_t normalizedMhz = 0;
};

class CCpuInfo {
public:
    // Identifies the processor (results reset first): 0, or -1 without CPUID.
    static int Identify();
    static bool IsIdentified();
    // A copy of the results (vendor "------------" before identification).
    static services::CpuIdentity GetIdentity();
    static int HasMMX();
    static int HasSSE();
    static int HasSSE2();
    static int Has3DNow();
    static int Has3DNowExt();
    // Whole MHz from the speed measurement of Identify.
    static uint32_t GetClockRate();
    // The Hyper-Threading state of Identify (services::HyperThreadingState) and its counts.
    static int GetHyperThreading(int* logical, int* packages);

    // Measures the clock rate. Hint 0: the time-stamp counter over about 100 us of the
    // performance counter, up to 20 samples until three agree. Hint 1-150 (or no time-stamp
    // counter): an estimate of hint x 4000 cycles over the shortest of ten counter reads.
    // Larger hints are taken as 0. All zero without a performance counter.
    static CpuSpeed MeasureSpeed(int cyclesHint);
    // Counts logical processors per package and packages (services::DecideHyperThreading).
    static int CountProcessors(int* logical, int* packages);
};
