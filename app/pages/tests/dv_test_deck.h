// The tape of the DV page's window tests.
#pragma once

#include <string>

namespace dvtest {

// 40 s of PAL tape from 00:01:00:00 with sound: pictures that move, so that a still preview
// shows.
inline const char* kTape =
    "ffmpeg -f lavfi -i testsrc=s=720x576:r=25:d=40 -f lavfi -i sine=sample_rate=48000:duration=40 "
    "-pix_fmt yuv420p -c:v dvvideo -c:a pcm_s16le -ac 2 -timecode 00:01:00:00 -f dv {out}";

}  // namespace dvtest
