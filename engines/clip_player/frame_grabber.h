// One frame of a media file at a position, through a DirectShow graph of its own: the
// system's source and decoders feed a sink of ours that takes uncompressed 32-bit RGB and
// keeps the picture showing at the position. The graph runs without a clock, so a frame
// costs the decoding up to it, not real time.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "engines/clip_player/ps_video_source.h"

namespace engines {

struct GrabbedFrame {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint32_t> pixels;  // top-down rows of 0x00RRGGBB
    LONGLONG start = 0;            // the frame's start on the clip's time line, 100-ns units
};

// Decodes the file's frame showing at `position` (100-ns units from the clip's start; past
// the end: its last frame). Waits at most `timeoutMs` for the decoders. Errors: the
// graph's, VFW_E_TIMEOUT, VFW_E_NO_DISPLAY_PALETTE-free sources that carry no video give
// VFW_E_CANNOT_CONNECT. With `video` the file is a program stream whose video is read by
// our source and decoders (AddPsVideoDecoding).
HRESULT GrabFrame(const wchar_t* path, LONGLONG position, DWORD timeoutMs, GrabbedFrame* frame,
                  const PsVideoClip* video = nullptr);

// A DIB section (top-down, 32 bits) holding `frame`, reduced by area averaging to fit
// within `maxWidth` x `maxHeight` when either is not 0 (never enlarged, aspect kept).
HBITMAP FrameToBitmap(const GrabbedFrame& frame, uint32_t maxWidth, uint32_t maxHeight);

}  // namespace engines
