// Picture-level rate control. Constant QP (modes 0 and 1) takes the QP words of the block
// (7-9 for I, P, B). The bit-rate modes (2 variable, 3 constant) choose one base QP per
// picture from a model of each picture type's bits, bits = C x 2^(-QP/6), refreshed after
// every picture, and steer the base so that the bits spent follow the target: slowly
// (about two seconds) for variable bit rate, within half a second for constant bit rate.
#pragma once

#include <cstdint>

#include "filters/encoder/core/encoder_block.h"

namespace ombrisk {

class CRateControl {
public:
    // Reads words 0, 1 (GOP shape), 6 (mode), 7-9 (QPs), 11-13 (bit rates; unset: one
    // bit per 8 samples at the frame rate), 21 (CABAC: QP floor 0, else 5) and 31
    // (frame rate x 100). status() is kCoreUnsupported for a mode above 3 and
    // kCoreBadArgument for a frame rate or a target bit rate of 0 or less.
    explicit CRateControl(const EncoderBlock& block);
    int status() const { return status_; }

    // The QP of the next picture (slice type kSliceI, kSliceP, kSliceB).
    int StartPicture(int32_t sliceType);
    // The bits the picture took, headers included.
    void EndPicture(int64_t bits);

    int64_t targetBitRate() const { return target_; }

private:
    const EncoderBlock& block_;
    int status_;
    int mode_;
    int floor_;
    int64_t target_ = 0;         // bits per second
    double pictureBits_ = 0;     // target bits per picture
    double window_ = 1;          // pictures over which an error is paid back
    double error_ = 0;           // bits spent beyond the target so far
    double complexity_[3] = {};  // C per slice type; 0 until known
    double share_[3] = {};       // the share of each type among the pictures
    double base_ = 26;
    int current_ = 0;  // QP and type of the picture being coded
    int32_t type_ = 0;
    int64_t pictures_ = 0;
};

}  // namespace ombrisk
