// Clip probing and time search: what kind of program-stream file a clip is, where its
// video and audio times begin and end, and where in the file a given time lies; plus the
// small MPEG video and audio header routines the editing engines use while cutting.
// Every routine opens the file read-only, reads it in bounded blocks and closes it on
// every path. Times are signed counts of 100 ns (kNoTime when unknown).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "editor/core/ps_parser.h"

namespace editor {

enum MpegFileType : int {
    kFileUnknown = 0,
    kFileMpeg1 = 1,
    kFileMpeg2 = 2,
    kFileVcd = 3,    // MPEG-1 at the VCD mux rate, plain or in a RIFF "CDXA" file
    kFileSvcd = 4,   // MPEG-2 in 2324-byte packs, plain or in a RIFF "CDXA" file
    kFileMpeg4 = 5,  // program stream with MPEG-4 video (refused by the engines)
};

// Raw CD sectors of a "CDXA" file.
constexpr size_t kSectorSize = 2352;
constexpr size_t kSectorUserOffset = 24;
constexpr size_t kSectorUserSize = 2324;
// True when a raw sector carries Form 2 video or audio user data (sync pattern, mode 2,
// submode bits 0x20 and one of 0x06).
bool IsUsableSector(const uint8_t* sector);

// 64-bit seek; the new position, or -1 when the system reports an error.
int64_t SeekFile(std::FILE* file, int64_t distance, int method);

int GetMpegFileType(const std::string& path);
int GetMpegFileTypeEx(const std::string& path);
// True and the byte offset of the "data" chunk's contents when the file is a RIFF form
// of type "CDXA" whose "data" chunk is not empty.
bool GetCdxaDataOffset(const std::string& path, int64_t* offset);
int DetectCdxaKind(const std::string& path);   // 0, kFileVcd or kFileSvcd
int DetectMpeg1Kind(const std::string& path);  // kFileVcd or kFileMpeg1
int DetectMpeg2Kind(const std::string& path);  // kFileSvcd, kFileMpeg2 or kFileMpeg4

// Header routines: each returns false, leaving its outputs unchanged, when too few bytes
// are given or the start code does not match.
double FrameRateFromCode(int code);
bool FrameDurationFromSequenceHeader(const uint8_t* p, size_t n, int64_t* duration);
bool BitRateFromSequenceHeader(const uint8_t* p, size_t n, int64_t* bytesPerSecond);
bool ReadGopFlags(const uint8_t* p, size_t n, bool* closedGop, bool* brokenLink);
bool ReadTemporalReference(const uint8_t* p, size_t n, int* temporalReference);
// picture_coding_type of the picture header at p (1 I, 2 P, 3 B); 0 when it is not there.
int ReadPictureCodingType(const uint8_t* p, size_t n);
bool WriteTemporalReference(uint8_t* p, size_t n, int temporalReference);
// Position of the first 00 00 01 00 in the buffer, or -1.
int64_t FindPictureStartCode(const uint8_t* p, size_t n);
// 12, 76 or 140: bytes of a sequence header from its start code (ISO/IEC 13818-2 6.2.2.1
// quantiser matrix load flags); 0 when the header is not there or cut.
size_t SequenceHeaderLength(const uint8_t* p, size_t n);
// Clears progressive_sequence in the first sequence extension after a sequence header.
bool ClearProgressiveSequence(uint8_t* p, size_t n);
bool CopyIntoBuffer(uint8_t* buffer, size_t size, size_t position, const uint8_t* source, size_t length);
// AC-3 syncframe: duration of its 1536 samples and its bytes.
bool Ac3FrameInfo(const uint8_t* p, size_t n, int64_t* duration, int* frameBytes);
// MPEG audio frame: duration of its samples (384, 1152 or 576) at its sampling rate.
bool MpegAudioFrameDuration(const uint8_t* p, size_t n, int64_t* duration);
// Frame bytes of a 32-bit header (first byte lowest), padding included; 0 when invalid.
int MpegAudioFrameLength(uint32_t header);
int MpegAudioVersionBits(uint32_t header);

struct ClipStart {
    int64_t firstVideoTime = kNoTime;
    int64_t firstAudioTime = kNoTime;
    int64_t frameDuration = -1;  // 0: timed pictures seen, no sequence header yet
    int64_t audioFrameDuration = 0;
    int videoStream = -1;
    int audioStream = -1;  // TakeAudio index of the audio stream the times come from
    int64_t videoByteRate = 0;
};

struct ClipEnd {
    int64_t videoEnd = 0;  // 0 when not found
    int64_t audioEnd = 0;
};

bool ScanClipStart(bool mpeg1, const std::string& path, bool sectorMode, int64_t dataOffset, ClipStart* start);
bool ScanClipEnd(bool mpeg1, const std::string& path, const ClipStart& start, bool sectorMode, int64_t dataOffset,
                 ClipEnd* end);

// Mode 0: the first entry point at or after `target`; mode 1: the last one before it.
// The answer is relative to the clip start; 0 when nothing is found or the file cannot
// be read. A known duration of 0 measures the clip with ScanClipEnd.
int64_t FindVideoTimeInFile(const std::string& path, int fileType, int64_t target, int mode, bool videoOnly,
                            int64_t knownDuration);
int64_t FindAudioTimeInFile(const std::string& path, int fileType, int64_t target, int mode, bool videoOnly,
                            int64_t knownDuration);

}  // namespace editor
