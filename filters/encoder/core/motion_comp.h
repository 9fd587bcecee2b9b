// Inter prediction samples exactly as a decoder forms them (H.264 clause 8.4.2.2): luma
// quarter samples from the six-tap half samples, chroma eighth samples bilinearly, with
// reference coordinates clamped to the picture wherever a vector points outside it.
#pragma once

#include <cstdint>

#include "filters/encoder/core/picture_buffer.h"

namespace ombrisk {

// The w x h luma prediction of the block at luma (x, y) displaced by (mvx, mvy) quarter
// samples, into dst (row pitch dstStride). The reference must be padded and carry its
// half-sample plane; blocks whose taps leave the padding are read with clamping.
void PredictLumaBlock(const CRefPictureStore& ref, int x, int y, int mvx, int mvy, int w, int h, uint8_t* dst,
                      int dstStride);

// The SAD between the w x h source block `src` (row pitch srcStride) and the luma
// prediction PredictLumaBlock would form, read straight from the reference planes without
// forming it; false (and *sad untouched) where that prediction needs clamped reads or the
// width has no SAD row, and the caller forms the prediction instead.
bool PredictionSad(const CRefPictureStore& ref, int x, int y, int mvx, int mvy, int w, int h, const uint8_t* src,
                   int srcStride, uint32_t* sad);

// The w x h prediction of one chroma component at chroma (x, y) displaced by the luma
// vector (eighth chroma samples).
void PredictChromaBlock(const CRefPictureStore& ref, int component, int x, int y, int mvx, int mvy, int w, int h,
                        uint8_t* dst, int dstStride);

// Rounded average of two predictions (default weighted bi-prediction, clause 8.4.2.3.1).
void AveragePredictions(uint8_t* dst, const uint8_t* other, int w, int h, int stride);

// Whether the integer block position (x, y) of a w x h block lies where every quarter
// position around it is read from the padding without clamping.
bool InsideSubpelMargin(const CRefPictureStore& ref, int x, int y, int w, int h);

}  // namespace ombrisk
