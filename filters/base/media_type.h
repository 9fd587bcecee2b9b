// Media types: CMediaType, an AM_MEDIA_TYPE that owns its format block (allocated with
// CoTaskMemAlloc, as every AM_MEDIA_TYPE handed across an interface is), and helpers
// that build and read the format blocks the suite's filters use.
#pragma once

#include <windows.h>
#include <mmreg.h>
#include <strmif.h>
#include <amvideo.h>
#include <dvdmedia.h>

#include <cstdint>

// Frees what a media type owns (format block, pUnk) and clears those fields.
void FreeMediaType(AM_MEDIA_TYPE& type);
// Frees a type allocated with CreateMediaType (or by another component's
// CoTaskMemAlloc), including the structure itself. Null is ignored.
void DeleteMediaType(AM_MEDIA_TYPE* type);
// Deep copy into `target`, which must not own anything. E_OUTOFMEMORY leaves `target`
// with no format block.
HRESULT CopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source);
// A CoTaskMem deep copy of `source` (null when out of memory).
AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* source);

class CMediaType : public AM_MEDIA_TYPE {
public:
    CMediaType();
    explicit CMediaType(const GUID* major);
    CMediaType(const AM_MEDIA_TYPE& other);
    CMediaType(const CMediaType& other);
    ~CMediaType();
    CMediaType& operator=(const AM_MEDIA_TYPE& other);
    CMediaType& operator=(const CMediaType& other);

    // Same major type, subtype, format type and format bytes (the fields that describe
    // the data; sample size and flags are not compared).
    bool operator==(const CMediaType& other) const;
    bool operator!=(const CMediaType& other) const { return !(*this == other); }
    // False when a format type is named but its block is missing or empty.
    bool IsValid() const;
    // True when the major type, subtype or format type is GUID_NULL (a wildcard).
    bool IsPartiallySpecified() const;
    // True when every field that `partial` specifies equals ours.
    bool MatchesPartial(const CMediaType* partial) const;

    void SetType(const GUID* major) { majortype = *major; }
    void SetSubtype(const GUID* sub) { subtype = *sub; }
    void SetFormatType(const GUID* format) { formattype = *format; }
    void SetSampleSize(ULONG size);
    void SetVariableSize() { bFixedSizeSamples = FALSE; }
    void SetTemporalCompression(bool compressed) { bTemporalCompression = compressed; }

    // Replaces the format block with a copy of `length` bytes. False when out of memory
    // (the old block is kept).
    bool SetFormat(const void* format, ULONG length);
    // Replaces the format block with `length` zero bytes; null when out of memory (the
    // old block is kept) or when `length` is 0 (no block).
    BYTE* AllocFormatBuffer(ULONG length);
    // Grows or shrinks the block keeping its first bytes; null when out of memory (the
    // old block is kept).
    BYTE* ReallocFormatBuffer(ULONG length);
    void ResetFormatBuffer();
    BYTE* Format() const { return pbFormat; }
    ULONG FormatLength() const { return cbFormat; }
};

// IMediaSample2 type-specific flags of a video sample (which field or fields it holds,
// which comes first, repetition for pull-down). The toolchain's headers lack them.
#ifndef AM_VIDEO_FLAG_FIELD_MASK
#define AM_VIDEO_FLAG_FIELD_MASK 0x0003L
#define AM_VIDEO_FLAG_INTERLEAVED_FRAME 0x0000L
#define AM_VIDEO_FLAG_FIELD1 0x0001L
#define AM_VIDEO_FLAG_FIELD2 0x0002L
#define AM_VIDEO_FLAG_FIELD1FIRST 0x0004L
#define AM_VIDEO_FLAG_WEAVE 0x0008L
#define AM_VIDEO_FLAG_IPB_MASK 0x0030L
#define AM_VIDEO_FLAG_I_SAMPLE 0x0000L
#define AM_VIDEO_FLAG_P_SAMPLE 0x0010L
#define AM_VIDEO_FLAG_B_SAMPLE 0x0020L
#define AM_VIDEO_FLAG_REPEAT_FIELD 0x0040L
#endif

// FOURCC 'I420' subtype; the SDK headers of this toolchain name IYUV but not I420.
inline constexpr GUID kMediaSubtypeI420 = {
    0x30323449, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

// Video formats the filters take and give, by subtype: bits per pixel and planes.
struct VideoFormatInfo {
    const GUID* subtype;
    DWORD fourcc;   // biCompression (BI_RGB for the RGB types)
    WORD bitCount;  // average bits per pixel
    int planes;     // 1 packed, 3 planar 4:2:0
    bool vBeforeU;  // planar: the V plane precedes U (YV12)
};
// Null for a subtype that is not one of YV12, I420, IYUV, YUY2, YVYU, UYVY, RGB32, RGB24.
const VideoFormatInfo* FindVideoFormat(REFGUID subtype);
// Bytes of one picture: rows of an RGB type are padded to 4 bytes (DIB rule); planar
// 4:2:0 is width × height × 3 / 2 with even dimensions. 0 when the size overflows.
DWORD VideoImageSize(const VideoFormatInfo& info, LONG width, LONG height);

// The bitmap header of a VIDEOINFOHEADER, VIDEOINFOHEADER2, MPEG1VIDEOINFO or
// MPEG2VIDEOINFO type, or null when the type has another format or its block is too
// short to hold the header it names.
const BITMAPINFOHEADER* GetBitmapHeader(const AM_MEDIA_TYPE& type);
// The average frame duration (100 ns) of the same video formats; 0 when unknown.
REFERENCE_TIME GetAvgTimePerFrame(const AM_MEDIA_TYPE& type);

struct VideoTypeParams {
    const GUID* subtype;
    LONG width;
    LONG height;                     // positive: bottom-up for RGB, as DIBs are
    REFERENCE_TIME avgTimePerFrame;  // 100 ns units
    bool videoInfo2 = false;
    DWORD aspectX = 0, aspectY = 0;  // VIDEOINFOHEADER2 picture aspect; 0 means width:height
    DWORD interlaceFlags = 0;        // VIDEOINFOHEADER2 dwInterlaceFlags
};
// Builds an uncompressed video type (MEDIATYPE_Video, FORMAT_VideoInfo or
// FORMAT_VideoInfo2, fixed-size samples). E_INVALIDARG for an unknown subtype or a
// size that is not positive; E_OUTOFMEMORY.
HRESULT BuildVideoType(const VideoTypeParams& params, CMediaType* type);

// Builds a FORMAT_MPEG2Video type with the given subtype and bitmap header, followed by
// `headerLength` bytes of sequence header (the block is sized to hold them).
HRESULT BuildMpeg2VideoType(REFGUID subtype, const MPEG2VIDEOINFO& info, const BYTE* header, DWORD headerLength,
                            CMediaType* type);
// The sequence header bytes of a FORMAT_MPEG2Video type, bounded by the block's length;
// null with length 0 when there are none.
const BYTE* GetMpeg2SequenceHeader(const AM_MEDIA_TYPE& type, DWORD* length);

// Builds an audio type (MEDIATYPE_Audio, FORMAT_WaveFormatEx) whose block is the
// WAVEFORMATEX followed by its cbSize extra bytes taken from `extra`.
HRESULT BuildAudioType(REFGUID subtype, const WAVEFORMATEX& format, const BYTE* extra, CMediaType* type);
// The WAVEFORMATEX of a FORMAT_WaveFormatEx type whose block holds it and its cbSize
// extra bytes, else null.
const WAVEFORMATEX* GetWaveFormat(const AM_MEDIA_TYPE& type);
