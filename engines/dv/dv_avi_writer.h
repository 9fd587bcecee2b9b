// Writes DV frames into a DV AVI file with the legacy index:
// - type 1: one interleaved stream ('iavs', handler 'dvsd'), each frame whole in one chunk
//   (its audio stays in the frame);
// - type 2: a video stream ('vids', 'dvsd') of the whole frames and an audio stream of the
//   16-bit PCM decoded from them, chunk by chunk after each frame.
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

// The largest file written: RIFF AVI 1.0 readers count sizes in 32 bits and many stop at
// 1 GB, so a recording that reaches this ends its file.
inline constexpr uint64_t kMaxAviBytes = 1000u * 1000u * 1000u;

enum class AviType { kType1 = 1, kType2 = 2 };

class AviWriter {
public:
    AviWriter() = default;
    ~AviWriter();
    AviWriter(const AviWriter&) = delete;
    AviWriter& operator=(const AviWriter&) = delete;

    // Creates `path` (replacing a file of that name) for frames of `system`. False when the
    // file cannot be created; the error text then says why.
    bool Open(const std::string& path, System system, AviType type = AviType::kType1);
    // Appends one frame (of the system's size). False when the file cannot take it (a
    // write error, or the frame would pass kMaxAviBytes): the frames before it stay.
    bool AddFrame(std::span<const uint8_t> frame);
    // Writes the index and the final counts and closes the file. False on a write error.
    bool Finish();

    bool IsOpen() const { return file_ != nullptr; }
    uint32_t Frames() const { return frames_; }
    // Bytes the file holds once finished (headers, chunks and index).
    uint64_t Bytes() const { return moviEnd_ + 8 + index_.size(); }
    const std::string& Path() const { return path_; }

private:
    bool WriteAt(uint64_t offset, const void* data, size_t bytes);
    bool WriteHeaders();
    bool WriteChunk(const char* tag, const void* data, size_t bytes);

    std::FILE* file_ = nullptr;
    std::string path_;
    System system_ = System::kPal;
    AviType type_ = AviType::kType1;
    uint32_t frames_ = 0;
    uint64_t moviEnd_ = 0;  // file offset just past the last chunk
    std::vector<uint8_t> dvinfo_;
    uint32_t sampleRate_ = 0;     // type 2: of the first frame with audio
    uint64_t audioSamples_ = 0;   // type 2: sample frames written
    std::vector<uint8_t> index_;  // idx1 entries so far
    std::vector<int16_t> pcm_;
};

}  // namespace dv
