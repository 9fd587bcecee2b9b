// Reading DV frames (IEC 61834-2, SMPTE 314M 25 Mbit/s): the system of a frame, its time
// code from the subcode packs, a coarse signature of its picture for scene detection, and
// a picture at one eighth of the size from the DC coefficients. Platform-free;
// nothing is read outside the frame's bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace dv {

inline constexpr size_t kDifBlockBytes = 80;
inline constexpr size_t kSequenceBytes = 150 * kDifBlockBytes;
inline constexpr size_t kPalFrameBytes = 12 * kSequenceBytes;   // 144,000
inline constexpr size_t kNtscFrameBytes = 10 * kSequenceBytes;  // 120,000

enum class System { kNtsc, kPal };

// The system from the header DIF block's DSF bit; nothing when `frame` does not start with
// a header block or is shorter than a frame of its system.
std::optional<System> FrameSystem(std::span<const uint8_t> frame);
inline size_t FrameBytes(System system) {
    return system == System::kPal ? kPalFrameBytes : kNtscFrameBytes;
}
inline int FramesPerSecond(System system) {
    return system == System::kPal ? 25 : 30;  // nominal: time codes count 30 at 29.97
}

// A time code: hours, minutes, seconds, frames.
struct Timecode {
    uint8_t hours = 0, minutes = 0, seconds = 0, frames = 0;
    bool operator==(const Timecode&) const = default;
    // As the engine's DWORD: bytes h, m, s, f from the lowest.
    uint32_t Packed() const { return hours | (minutes << 8) | (seconds << 16) | (uint32_t(frames) << 24); }
    static Timecode Unpack(uint32_t packed) {
        return {uint8_t(packed), uint8_t(packed >> 8), uint8_t(packed >> 16), uint8_t(packed >> 24)};
    }
    // Frames from 00:00:00:00 at `fps` (non-drop counting).
    int64_t ToFrames(int fps) const { return ((int64_t(hours) * 60 + minutes) * 60 + seconds) * fps + frames; }
    static Timecode FromFrames(int64_t count, int fps);
    bool Valid(int fps) const { return hours < 24 && minutes < 60 && seconds < 60 && frames < fps; }
};

// The time code pack (0x13) of the first DIF sequence's subcode, BCD decoded; nothing
// without one or with digits out of range.
std::optional<Timecode> FrameTimecode(std::span<const uint8_t> frame);
// Writes `timecode` into every time code pack of the frame's subcode; false without one.
bool SetFrameTimecode(std::span<uint8_t> frame, const Timecode& timecode);

// The date and time the frame was recorded (the VAUX recording date and time packs, 0x62
// and 0x63, else the subcode's), as a 48-bit tape stamp: from the top byte down, year of
// the century, month, day, hours, minutes, seconds (binary), so that later stamps compare
// greater. Nothing when either pack is missing or a field is unknown or out of range.
std::optional<uint64_t> FrameRecordingStamp(std::span<const uint8_t> frame);

// The luma DC coefficient of each macroblock (mean of its four 8x8 blocks), in storage
// order: a signature that two frames of one scene share closely.
std::vector<int16_t> PictureSignature(std::span<const uint8_t> frame);
// Mean absolute difference of two signatures, in DC steps; a large value between
// consecutive frames is a cut. Signatures of different lengths differ by 1024.
double SignatureDistance(const std::vector<int16_t>& a, const std::vector<int16_t>& b);

// The AAUX source pack (0x50) of the frame's first channel half (audio DIF block 3 of
// its first sequence); nothing without one.
std::optional<std::span<const uint8_t, 5>> AudioSourcePack(std::span<const uint8_t> frame);

// The frame's audio, 16-bit linear, two channels interleaved (left, right), deshuffled
// (IEC 61834-2 audio shuffling for 625/50 and 525/60), with its sample rate. False when the
// frame has no audio source pack or its audio is not 16-bit (12-bit nonlinear audio is not
// handled).
bool DecodeAudio(std::span<const uint8_t> frame, uint32_t* sampleRate, std::vector<int16_t>* pcm);

// The picture at 1/8 size (90 x 72 for 625/50, 90 x 60 for 525/60) from the DC
// coefficients of every 8x8 block, as top-down 0x00RRGGBB (ITU-R BT.601, studio range
// expanded). Empty for a frame of the wrong size.
std::vector<uint32_t> DcPicture(std::span<const uint8_t> frame, uint32_t* width, uint32_t* height);

}  // namespace dv
