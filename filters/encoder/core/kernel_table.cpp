#include "filters/encoder/core/kernel_table.h"

#include <cstring>
#include <mutex>
#include <thread>

#include "common/cpu_features.h"

namespace ombrisk {

void FillKernelTable(CKernelTable* table, uint32_t featureWord, uint32_t processorCount) {
    *table = CKernelTable{};
    InstallPortableKernels(table);
    if (featureWord & common::kCpuMmxExt) InstallSimdKernels(table);
    table->featureWord = featureWord;
    table->processorCount = processorCount;
}

const CKernelTable& KernelTable() {
    static CKernelTable table;
    static std::once_flag once;
    std::call_once(once, [] {
        const unsigned n = std::thread::hardware_concurrency();
        FillKernelTable(&table, common::DetectCpuFeatures(), n > 0 ? n : 1);
    });
    return table;
}

}  // namespace ombrisk
