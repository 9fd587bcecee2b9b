#include "filters/encoder/core/kernel_table.h"

#include <cstdlib>
#include <cstring>
#include <thread>

#include "common/cpu_features.h"

namespace ombrisk {

void FillKernelTable(CKernelTable* table, uint32_t featureWord, uint32_t processorCount) {
    *table = CKernelTable{};
    // The SIMD set chooses its members by the feature word, so it is stored first.
    table->featureWord = featureWord;
    table->processorCount = processorCount;
    InstallPortableKernels(table);
    if (featureWord & common::kCpuMmxExt) InstallSimdKernels(table);
}

namespace {

struct ProcessKernels {
    CKernelTable table;
    uint32_t setFeatures;  // the word the table was filled with: 0 when forced portable
};

const ProcessKernels& Process() {
    // A function-local static: its initialisation is thread-safe, and every later call costs
    // one load and compare where std::call_once cost a library call (the kernels are looked up
    // per block).
    static const ProcessKernels kernels = [] {
        ProcessKernels k{};
        const unsigned n = std::thread::hardware_concurrency();
        const uint32_t word = common::DetectCpuFeatures();
        // OMBRISK_PORTABLE_KERNELS=1 keeps the portable set (to compare the sets' streams).
        const char* portable = std::getenv("OMBRISK_PORTABLE_KERNELS");
        k.setFeatures = portable && *portable == '1' ? 0 : word;
        FillKernelTable(&k.table, k.setFeatures, n > 0 ? n : 1);
        k.table.featureWord = word;
        return k;
    }();
    return kernels;
}

}  // namespace

const CKernelTable& KernelTable() {
    return Process().table;
}

uint32_t KernelSetFeatures() {
    return Process().setFeatures;
}

}  // namespace ombrisk
