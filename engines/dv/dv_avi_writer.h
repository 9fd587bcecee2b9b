// Writes DV frames into a DV AVI file:
// - type 1: one interleaved stream ('iavs', handler 'dvsd'), each frame whole in one chunk
//   (its audio stays in the frame);
// - type 2: a video stream ('vids', 'dvsd') of the whole frames and an audio stream of the
//   16-bit PCM decoded from them, chunk by chunk after each frame.
// Files grow past the 32-bit sizes of RIFF AVI 1.0 as OpenDML AVI 2.0 files: the first
// RIFF ('AVI ') holds the headers, a 'movi' list and the legacy idx1 of its chunks; once a
// RIFF reaches the RIFF size, the next chunks go into a further RIFF ('AVIX') holding one
// 'movi' list. Every 'movi' list ends with one standard index per stream ('ix00', 'ix01'),
// which the stream's super index ('indx', in its header) lists.
// The headers are written at Open with zero counts and completed by Finish, so a file whose
// writer was never finished still holds every frame in order. Platform-free.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "engines/dv/dv_frame.h"

namespace dv {

// Where a RIFF list ends and the next begins: readers of RIFF AVI 1.0 files stop at 1 GiB,
// and each RIFF must stay within 32-bit sizes.
inline constexpr uint64_t kRiffBytes = uint64_t(1) << 30;
// Super index entries reserved per stream: one per RIFF, so 256 GiB of frames at the
// default RIFF size (about 20 hours of DV).
inline constexpr uint32_t kSuperIndexEntries = 256;

enum class AviType { kType1 = 1, kType2 = 2 };

class AviWriter {
public:
    // `riffBytes`: the largest RIFF list written (the default outside tests).
    explicit AviWriter(uint64_t riffBytes = kRiffBytes);
    ~AviWriter();
    AviWriter(const AviWriter&) = delete;
    AviWriter& operator=(const AviWriter&) = delete;

    // Creates `path` (replacing a file of that name) for frames of `system`. False when the
    // file cannot be created.
    bool Open(const std::string& path, System system, AviType type = AviType::kType1);
    // The largest file to write (0: none, the default); kept across Open.
    void SetSizeLimit(uint64_t bytes) { limit_ = bytes; }
    // Appends one frame (of the system's size). False when the file cannot take it (a
    // write error, every super index entry used, or the finished file would pass the size
    // limit): the frames before it stay.
    bool AddFrame(std::span<const uint8_t> frame);
    // Writes the indexes and the final counts and closes the file. False on a write error.
    bool Finish();

    bool IsOpen() const { return file_ != nullptr; }
    uint32_t Frames() const { return frames_; }
    // Bytes the file holds once finished (headers, chunks and indexes).
    uint64_t Bytes() const;
    // RIFF lists begun so far (1 until the file passes the RIFF size).
    uint32_t Riffs() const { return riffs_; }
    const std::string& Path() const { return path_; }

    // One stream's indexes: the open standard index of the current 'movi' list and the
    // super index entries of those already written.
    struct StreamIndex {
        std::vector<uint8_t> chunks;  // (offset from the 'movi' list, size) pairs
        uint32_t duration = 0;        // frames or audio sample frames in `chunks`
        std::vector<uint8_t> super;   // (file offset, bytes, duration) entries
        uint32_t superEntries = 0;
        uint64_t length = 0;  // the stream's whole length, in frames or sample frames
    };

private:
    bool WriteAt(uint64_t offset, const void* data, size_t bytes);
    bool WriteHeaders();
    bool WriteChunk(int stream, const char* tag, const void* data, size_t bytes, uint32_t duration);
    uint64_t PendingIndexBytes() const;
    uint64_t Growth(uint64_t chunkBytes, bool audio, bool newRiff) const;
    bool CloseRiff(bool last);

    uint64_t riffBytes_;
    uint64_t limit_ = 0;
    std::FILE* file_ = nullptr;
    std::string path_;
    System system_ = System::kPal;
    AviType type_ = AviType::kType1;
    uint32_t frames_ = 0;
    uint32_t firstRiffFrames_ = 0;  // frames of the first RIFF, once it is closed
    uint32_t riffs_ = 0;
    uint64_t riffStart_ = 0;                            // file offset of the current 'RIFF' tag
    uint64_t moviList_ = 0;                             // file offset of the current 'movi' list's 'LIST' tag
    uint64_t moviEnd_ = 0;                              // file offset just past the last chunk
    uint64_t firstMoviBytes_ = 0, firstRiffBytes_ = 0;  // sizes of the first RIFF's lists, once closed
    std::vector<uint8_t> dvinfo_;
    uint32_t sampleRate_ = 0;     // type 2: of the first frame with audio
    std::vector<uint8_t> index_;  // idx1 entries of the first RIFF
    StreamIndex streams_[2];
    std::vector<int16_t> pcm_;
};

}  // namespace dv
