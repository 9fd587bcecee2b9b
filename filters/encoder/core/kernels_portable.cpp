// The portable kernel set: the definition every other set must equal.
#include <cstring>

#include "filters/encoder/core/kernel_table.h"

namespace ombrisk {

void InstallPortableKernels(CKernelTable* table) {
    table->copyBytes = &std::memcpy;
    table->fillBytes = &std::memset;
}

}  // namespace ombrisk
