// Intra prediction sample generators (ITU-T H.264 clause 8.3) for 8-bit 4:2:0 video.
// Each reads the neighbouring samples around dst in the picture (row pitch `pitch`) and
// writes the prediction into pred (row pitch predPitch).
#pragma once

#include <cstdint>

namespace avcdec {

struct IntraAvailability {
    bool left, top, topRight, topLeft;
};

// Modes 0..8 of clause 8.3.1.2; false for another mode.
bool PredictIntra4x4(const uint8_t* src, int pitch, int mode, IntraAvailability a, uint8_t* pred, int predPitch);
// Modes 0..3 of clause 8.3.3; false for another mode.
bool PredictIntra16x16(const uint8_t* src, int pitch, int mode, IntraAvailability a, uint8_t* pred, int predPitch);
// intra_chroma_pred_mode 0..3 of clause 8.3.4 for one 8x8 chroma block; false otherwise.
bool PredictIntraChroma(const uint8_t* src, int pitch, int mode, IntraAvailability a, uint8_t* pred, int predPitch);

}  // namespace avcdec
