// A decoder filter for MPEG-1 and MPEG-2 video (ISO/IEC 11172-2, 13818-2) over FFmpeg's
// decoder: it takes the video payloads of a program stream as our program-stream source
// delivers them (time-stamped where a packet carries a stamp) and gives 32-bit RGB
// pictures, each timed from the stamp of the packet its picture began in. Pictures that
// end before time zero (those decoded only to reach a seek's target) are not delivered.
// The graph uses it only where the clip player puts it; it is not registered.
#pragma once

#include <windows.h>
#include <strmif.h>

namespace engines {

// A new decoder; the caller holds the one reference.
HRESULT CreateMpegVideoDecoder(IBaseFilter** filter);

}  // namespace engines
