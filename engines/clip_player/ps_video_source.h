// A source filter for the video of an MPEG-2 program stream: it reads the file, finds the
// video packets through the multiplexer's input parser and delivers their payloads, stamped
// with their presentation times from the clip's first picture. H.264 video (which the
// system's demultiplexers take for MPEG video when no stream map says otherwise) is cut
// into access units for our H.264 decoder filter; MPEG-1/2 video goes whole to our MPEG
// video decoder (the system's MPEG demultiplexer under Wine times its pictures apart from
// its positions).
#pragma once

#include <windows.h>
#include <strmif.h>

#include <cstdint>

namespace engines {

// {6C1F2A94-0E57-4B3D-A8C6-91D4E7B35F02}: MPEG-1/2 video payloads of a program stream, as
// our source gives them to our MPEG video decoder.
inline constexpr GUID MEDIASUBTYPE_ProgramStreamMpegVideo = {
    0x6C1F2A94, 0x0E57, 0x4B3D, {0xA8, 0xC6, 0x91, 0xD4, 0xE7, 0xB3, 0x5F, 0x02}};

// The clip's video as the probe found it.
struct PsVideoClip {
    bool mpegVideo = false;  // MPEG-1/2 video; otherwise H.264
    uint32_t width = 0;
    uint32_t height = 0;
    float frameRate = 0;   // frames a second; 0 when the stream does not say
    int64_t duration = 0;  // 100-ns units; 0 when unknown
};

// A new source over `path`; the caller holds the one reference.
HRESULT CreatePsVideoSource(const wchar_t* path, const PsVideoClip& clip, IBaseFilter** filter);

// Adds the source and its decoder (our registered H.264 decoder filter, or our MPEG video
// decoder) to `graph`, connected; `decoded` receives the decoder's output pin (a
// reference). Without the H.264 decoder registered the answer is REGDB_E_CLASSNOTREG.
HRESULT AddPsVideoDecoding(IGraphBuilder* graph, const wchar_t* path, const PsVideoClip& clip, IPin** decoded);

}  // namespace engines
