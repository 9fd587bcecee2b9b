// Result codes of the decoder core's operations (the decode steps answer StepCode
// instead). 0 is success; every failure is negative.
#pragma once

namespace avcdec {

enum DecoderResult : int {
    kDecoderOk = 0,
    kDecoderUnsupported = -1,        // unsupported, malformed or out of memory
    kDecoderNoInterPrediction = -2,  // a slice parsed whole whose inter macroblocks this core cannot predict yet
    kDecoderNoContext = -5,          // no context, or no active sequence parameter set
    kDecoderOutOfRange = -8,         // a syntax value out of range, a missing set or a bad reference
};

}  // namespace avcdec
