// The portable kernel set: the definition every other set must equal. It fills every
// entry of the table.
#include "filters/encoder/core/kernels_portable.h"

#include <cstring>

namespace ombrisk {

void InstallPortableKernels(CKernelTable* table) {
    table->copyBytes = &std::memcpy;
    table->fillBytes = &std::memset;
    InstallPortableCosts(table);
    InstallPortableFetch(table);
    InstallPortableIntra(table);
    InstallPortableTransforms(table);
    InstallPortableMotion(table);
    common::FillDeblockKernels(&table->deblock, 0);
}

}  // namespace ombrisk
