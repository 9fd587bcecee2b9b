// Motion vector prediction of H.264 frame macroblocks: the neighbour partitions of clause
// 8.4.1.3.2, the median and directional predictors of 8.4.1.3, the P_Skip motion of
// 8.4.1.1 and the spatial direct motion of 8.4.1.2.2 (direct_8x8_inference_flag 1).
#pragma once

#include <cstdint>

#include "filters/encoder/core/mb_record.h"

namespace ombrisk {

struct MotionVector {
    int x = 0, y = 0;  // quarter samples
    bool operator==(const MotionVector&) const = default;
};

// The macroblocks around the current one; null where not available (another slice, or
// outside the picture). Intra neighbours are available and hold no motion.
struct MotionNeighbourhood {
    const MbRecord* left = nullptr;
    const MbRecord* top = nullptr;
    const MbRecord* topRight = nullptr;
    const MbRecord* topLeft = nullptr;
};

// One neighbour partition as the predictor sees it: available (as a partition), its
// reference index (-1: intra, list unused or unavailable) and vector (zero then).
struct NeighbourMotion {
    bool available = false;
    int ref = -1;
    MotionVector mv;
};

bool IsIntraKind(int32_t kind);

// The current macroblock's motion of one list so far: entries of the 4x4 blocks whose bit
// is set in `decoded` are already predicted and count as neighbours.
struct PartialMotion {
    const MotionEntry* entries = nullptr;  // 16, raster
    uint16_t decoded = 0;
};

// The neighbour 4x4 block at (bx, by) in 4x4 units relative to the macroblock's top-left
// (bx -1..4, by -1..3).
NeighbourMotion NeighbourAt(const MotionNeighbourhood& n, const PartialMotion& cur, int list, int bx, int by);

// Shape of the partition being predicted, for the directional rules of 16x8 and 8x16.
enum class PredShape { kOther, k16x8, k8x16 };

// mvpLX of the partition at (bx, by), w x h 4x4 blocks, for reference index `ref` (8.4.1.3).
MotionVector PredictMotionVector(const MotionNeighbourhood& n, const PartialMotion& cur, int list, int ref, int bx,
                                 int by, int w, PredShape shape = PredShape::kOther);

// The P_Skip vector (reference index 0) of clause 8.4.1.1.
MotionVector PredictSkipVector(const MotionNeighbourhood& n);

// The co-located picture (RefPicList1[0]) as spatial direct reads it: its record of the
// current macroblock address, and whether it is a short-term reference.
struct Colocated {
    const MbRecord* record = nullptr;
    bool shortTerm = true;
};

// Spatial direct motion of a whole macroblock: reference indices of both lists (uniform)
// and a vector per list for each 8x8 quadrant (direct_8x8_inference: its corner block).
struct DirectMotion {
    int ref[2] = {-1, -1};
    MotionVector mv[2][4];
    bool Uses(int list) const { return ref[list] >= 0; }
};
DirectMotion PredictSpatialDirect(const MotionNeighbourhood& n, const Colocated& col);

}  // namespace ombrisk
