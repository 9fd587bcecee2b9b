// The clip record of the file conversion engine's timeline (10,176 bytes, zero-filled
// before use): byte offsets of the fields the engine and its callers exchange.
// Platform-free.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fileengine {

inline constexpr size_t kClipRecordBytes = 10176;
inline constexpr size_t kClipTimelineStart = 0;  // i64, 100-ns units
inline constexpr size_t kClipTimelineEnd = 8;    // i64
inline constexpr size_t kClipKind = 16;          // u32: 1 picture track, 2 sound track
inline constexpr size_t kClipFlag = 20;          // u32: 1
inline constexpr size_t kClipPath = 32;          // char[260], ANSI
inline constexpr size_t kClipPathBytes = 260;
inline constexpr size_t kClipAudioRange = 296;   // sound clips: i64 start, i64 end
inline constexpr size_t kClipInOut = 312;        // picture clips: i64 in point, i64 out point
inline constexpr size_t kClipSourceRange = 328;  // picture clips: i64 start, i64 end in the file
inline constexpr size_t kClipRate = 336;         // sound clips: f32 rate
inline constexpr size_t kClipMedia = 344;        // the 128-byte media block
inline constexpr size_t kClipMediaBytes = 128;

static_assert(kClipPath + kClipPathBytes <= kClipAudioRange);
static_assert(kClipSourceRange + 16 == kClipMedia && kClipMedia + kClipMediaBytes <= kClipRecordBytes);

}  // namespace fileengine
