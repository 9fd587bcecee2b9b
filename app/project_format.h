// The project file's bytes (".qzt"): the batch entry record, the plain chunk layout, and the
// scrambling layer around it. Platform-free, so that the parser builds natively and is fuzzed.
//
// Plain layout (little-endian):
//   offset 0  u16 header tag 0x1000
//   offset 2  u32 number of bytes after the header (plain length - 6)
//   offset 6  chunks, each u16 id, u32 data length, data:
//             0x1001 (4 bytes)   number of entries
//             0x1002 (512 bytes) one FileBatchEntry as held in memory
// A saved file holds one 0x1001 chunk and then one 0x1002 chunk per entry, in list order.
//
// Scrambling layer (the stored file): the 4 bytes "QZT1", the CRC-32 (ISO-HDLC polynomial,
// reflected, as zlib computes it) of the plain bytes as u32, then the plain bytes XORed with a
// key stream: k0 = 0x9E3779B9, k(n+1) = k(n) * 1664525 + 1013904223 (mod 2^32), byte n XORed
// with bits 24-31 of k(n). The stream is its own inverse; the check value lets a damaged file
// be refused before anything in it is used.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engines/clip_info.h"

// One source file of the file conversion page's batch list, as the project file stores it.
struct FileBatchEntry {
    uint8_t reserved0[80];
    int32_t order;          // the list's sort key
    int32_t progressMark;   // -1 none, 100 converted
    int64_t timelineStart;  // 100-ns units on the engine timeline
    int64_t timelineEnd;
    int64_t inPoint;  // 100-ns units within the source
    int64_t outPoint;
    char path[260];  // zero-terminated within its 260 bytes
    uint8_t reserved380[4];
    engines::ClipInfo media;  // the clip probe's information block
};
static_assert(sizeof(FileBatchEntry) == 512);
static_assert(offsetof(FileBatchEntry, order) == 80 && offsetof(FileBatchEntry, progressMark) == 84);
static_assert(offsetof(FileBatchEntry, inPoint) == 104 && offsetof(FileBatchEntry, outPoint) == 112);
static_assert(offsetof(FileBatchEntry, path) == 120 && offsetof(FileBatchEntry, media) == 384);

namespace project {

inline constexpr uint16_t kHeaderTag = 0x1000;
inline constexpr uint16_t kCountChunk = 0x1001;
inline constexpr uint16_t kEntryChunk = 0x1002;
inline constexpr size_t kScrambleHeader = 8;
// A batch list holds at most 2,500 entries; a project may hold no more.
inline constexpr uint32_t kMaxEntries = 2500;
// Upper bound of a stored file: the header, the count and kMaxEntries entry chunks.
inline constexpr size_t kMaxFileBytes = kScrambleHeader + 6 + 10 + kMaxEntries * (6 + sizeof(FileBatchEntry));

// The plain layout of `entries`.
std::vector<uint8_t> BuildPlain(const std::vector<FileBatchEntry>& entries);
// The stored form of the plain bytes, and back. Unscramble fails (false, with the reason)
// on a wrong mark, a short file or a check value that does not match.
std::vector<uint8_t> Scramble(const std::vector<uint8_t>& plain);
bool Unscramble(const uint8_t* data, size_t size, std::vector<uint8_t>* plain, std::string* error);

enum class ParseResult {
    kOk,
    kTooShort,  // not even the 6-byte header
    kDamaged,   // anything else that does not hold together
};
// Reads the plain layout into `entries` (emptied first). Refused, with the reason in `error`
// and `entries` left empty: a header tag or length that disagrees with the bytes, a chunk that
// runs past the end, a count chunk that is not 4 bytes or exceeds kMaxEntries, more entry
// chunks than that, an entry chunk that is not 512 bytes, or an entry whose path is not
// terminated within its 260 bytes. Chunks of other ids are stepped over by their length.
ParseResult ParsePlain(const uint8_t* data, size_t size, std::vector<FileBatchEntry>* entries, std::string* error);
// Unscramble, then ParsePlain; a stored file that fails the layer counts as damaged, one
// shorter than the layer's header as too short.
ParseResult ParseStored(const uint8_t* data, size_t size, std::vector<FileBatchEntry>* entries, std::string* error);

}  // namespace project
