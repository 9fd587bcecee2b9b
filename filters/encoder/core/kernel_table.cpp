#include "filters/encoder/core/kernel_table.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
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

const CKernelTable& KernelTable() {
    static CKernelTable table;
    static std::once_flag once;
    std::call_once(once, [] {
        const unsigned n = std::thread::hardware_concurrency();
        const uint32_t word = common::DetectCpuFeatures();
        // OMBRISK_PORTABLE_KERNELS=1 keeps the portable set (to compare the sets' streams).
        const char* portable = std::getenv("OMBRISK_PORTABLE_KERNELS");
        FillKernelTable(&table, portable && *portable == '1' ? 0 : word, n > 0 ? n : 1);
        table.featureWord = word;
    });
    return table;
}

}  // namespace ombrisk
