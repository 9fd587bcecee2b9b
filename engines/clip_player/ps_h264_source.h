// A source filter for H.264 video in an MPEG-2 program stream that carries no stream map,
// which the system's demultiplexers take for MPEG video: it reads the file, finds the
// H.264 video packets through the multiplexer's input parser and delivers each packet's
// payload as one sample of an H.264 byte stream, stamped with its presentation time from
// the clip's first picture. Our decoder filter takes it from there.
#pragma once

#include <windows.h>
#include <strmif.h>

#include <cstdint>

namespace engines {

// The clip's video as the probe found it.
struct PsH264Clip {
    uint32_t width = 0;
    uint32_t height = 0;
    float frameRate = 0;   // frames a second; 0 when the stream does not say
    int64_t duration = 0;  // 100-ns units; 0 when unknown
};

// A new source over `path`; the caller holds the one reference.
HRESULT CreatePsH264Source(const wchar_t* path, const PsH264Clip& clip, IBaseFilter** filter);

// Adds the source and our registered H.264 decoder filter to `graph`, connected; `decoded`
// receives the decoder's output pin (a reference). Without the decoder registered the
// answer is REGDB_E_CLASSNOTREG.
HRESULT AddPsH264Decoding(IGraphBuilder* graph, const wchar_t* path, const PsH264Clip& clip, IPin** decoded);

}  // namespace engines
