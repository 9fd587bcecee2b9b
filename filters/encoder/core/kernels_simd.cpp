// The SIMD kernel set: each member returns exactly what its portable member returns.
#include "filters/encoder/core/kernel_table.h"

namespace ombrisk {

void InstallSimdKernels(CKernelTable*) {}

}  // namespace ombrisk
