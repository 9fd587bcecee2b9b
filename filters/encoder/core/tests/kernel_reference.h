// The tests' own kernel table: each entry written from the H.264 clauses (and, for the
// encoder's own costs and rules, from their definitions), independently of the kernels
// under test.
#pragma once

#include "filters/encoder/core/kernel_table.h"

namespace ombrisk::kernel_test {

const CKernelTable& ReferenceTable();

// Chroma sample prediction (clause 8.4.2.2.2) of one w x h block whose co-located sample
// is ref[0], at eighth-sample vector (mvx, mvy).
void ReferenceChromaBlock(const uint8_t* ref, int stride, int mvx, int mvy, int w, int h, uint8_t* dst, int dstStride);

}  // namespace ombrisk::kernel_test
