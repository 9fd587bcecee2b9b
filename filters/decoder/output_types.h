// The decoder filter's output media types: the list its output pin offers (eight
// VIDEOINFOHEADER2 types, then eight VIDEOINFOHEADER types while EnableVideoInfo is on),
// the RGB8 palette, and the reading of a connected type for the colour converter.
#pragma once

#include <windows.h>

#include "filters/base/media_type.h"
#include "filters/decoder/colour_convert.h"

namespace pelldrin {

inline constexpr int kOutputTypeCount = 16;
inline constexpr int kVideoInfo2TypeCount = 8;

// The type at `position` for the output geometry. E_INVALIDARG below 0;
// VFW_S_NO_MORE_ITEMS at 16 and above, and at 8 and above without `enableVideoInfo`;
// E_OUTOFMEMORY.
HRESULT GetOutputMediaType(int position, const OutputGeometry& geometry, bool enableVideoInfo, CMediaType* type);

// Rewrites a VIDEOINFOHEADER or VIDEOINFOHEADER2 type for new geometry: rectangles,
// AvgTimePerFrame, bitmap size and sample size (aspect ratio too for VIDEOINFOHEADER2).
HRESULT ResizeOutputMediaType(const OutputGeometry& geometry, CMediaType* type);

// What the colour converter needs of a video type; false when the type has no bitmap
// header or its block is too short for what it names.
bool ReadOutputFormat(const AM_MEDIA_TYPE& type, OutputFormat* format);

}  // namespace pelldrin
