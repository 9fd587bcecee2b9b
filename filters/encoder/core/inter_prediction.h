// What chroma motion compensation reads of a macroblock's inter prediction: its partition
// shape with the motion of each 4x4 block, and the chroma planes of the reference lists.
#pragma once

#include <cstdint>

namespace ombrisk {

enum PartitionShape : int32_t {
    kPartition16x16 = 0,
    kPartition16x8 = 1,
    kPartition8x16 = 2,
    kPartition8x8 = 3,
};

enum SubPartitionShape : int32_t {
    kSub8x8 = 0,
    kSub8x4 = 1,
    kSub4x8 = 2,
    kSub4x4 = 3,
};

// One 4x4 block's motion in one list: the luma vector in quarter samples (which is the
// chroma vector in eighth samples for 4:2:0) and the reference index, -1 when unused.
struct MotionEntry {
    int16_t mvx, mvy;
    int32_t refIndex;
};

struct PartitionRecord {
    int32_t shape;              // PartitionShape
    int32_t subShape[4];        // SubPartitionShape of each 8x8 block (shape 8x8 only)
    MotionEntry motion[2][16];  // [list][4x4 block in raster order]
};

// Pixel (0, 0) of the Cb and Cr planes of one reference picture.
struct ChromaReference {
    const uint8_t* cb;
    const uint8_t* cr;
};

// The planes are padded: every vector the motion search may choose keeps the 3x3 sample
// footprint of each chroma block inside the padding, so the kernel reads without clamping.
struct ReferenceLists {
    const ChromaReference* list[2];
    int32_t count[2];
    int32_t chromaStride;
};

}  // namespace ombrisk
