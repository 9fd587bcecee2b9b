// Coefficient lists: one quantised residual block as (level, run) pairs for the entropy
// writers, built by the transform pipelines of the kernel table.
#pragma once

#include <cstdint>

namespace ombrisk {

// run is the count of zero coefficients, in scan order, just before this level.
struct CoefficientPair {
    int16_t level;
    int16_t run;
};

// At most 16 coefficients, then the closing pair: level 0, run = the trailing zero count.
// A list never holds more pairs than its block has coefficients plus the closing pair.
constexpr int kCoefficientListPairs = 17;

struct CoefficientList {
    CoefficientPair pairs[kCoefficientListPairs];
};

}  // namespace ombrisk
