// Result codes of the encoder core: 0 success, negative failure. The facade turns them
// into HRESULTs for the filter.
#pragma once

namespace ombrisk {

enum CoreResult : int {
    kCoreOk = 0,
    kCoreBadSize = -1,         // picture size outside what the core codes
    kCoreUnsupported = -2,     // a setting the core does not code (chroma format, ...)
    kCoreNoSpace = -3,         // a bounded buffer was too small for the unit being written
    kCoreBadArgument = -4,     // null pointer or out-of-range argument
    kCoreNotInitialised = -5,  // the encoder block was not stored
};

}  // namespace ombrisk
