// CVrIfo: the management file "VR_MANGR.IFO" of a DVD-VR folder, which records every
// recording ("movie") of the folder's "VR_MOVIE.VRO". Each recording adds one movie
// entry (with its two entry tables), one program and, when its stream attributes are
// new, one attribute record; the tables of an existing file are carried over, so that
// successive recordings into one folder accumulate. All numbers are big-endian.
//
// The existing file is read whole (bounded) and checked table by table. A file that is
// not a management file, or whose tables point outside it, is refused: Build reports why
// and leaves it as it is. The new file is written beside the old one and replaces it only
// once it is complete, so that a failed write loses no earlier recording.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace editor {

// What a recording tells the management file.
struct VrMovieInfo {
    // Audio attribute fields: coding mode (3 bits), a flag (1), two fields of 2 bits (0
    // here), a 4-bit field and an 8-bit field.
    int audioCoding = 0;
    int audioFlag = 1;
    int audioZero1 = 0, audioZero2 = 0;
    int audioField5 = 0, audioField6 = 0;
    // Video attribute fields: three 2-bit fields and a 3-bit field.
    std::array<int, 4> video{};
    // Local time of the recording.
    int year = 2000, month = 1, day = 1, hour = 0, minute = 0, second = 0;
    // Start and end of the recording (90 kHz).
    uint32_t startTime = 0, endTime = 0;
    std::string programText = "This is a DVD-VR Test Program";
    std::vector<uint8_t> tableA;  // 7-byte entries
    std::vector<uint8_t> tableB;  // 3-byte entries: bytes 1-2 hold the size in sectors (low 10 bits)
    // The time-zone bias in minutes (UTC = local time + bias).
    int timeZoneBias = 0;
};

// The file operations of a build, one step each, so that a failure at any step can be
// shown to lose nothing. The default works on the local file system.
class VrFileOps {
public:
    virtual ~VrFileOps() = default;
    // Reads at most `limit` bytes of a file. `exists` tells whether there is one; false
    // when it exists but cannot be read whole within the limit.
    virtual bool Read(const std::string& path, size_t limit, std::vector<uint8_t>* bytes, bool* exists);
    virtual bool MakeFolder(const std::string& path);
    virtual bool Open(const std::string& path);
    virtual bool Write(const uint8_t* data, size_t length);
    virtual bool Close();
    // Puts `from` in the place of `to`, replacing it.
    virtual bool Replace(const std::string& from, const std::string& to);
    virtual void Remove(const std::string& path);

private:
    void* file_ = nullptr;
};

// An existing management file taken apart.
struct VrIfoContents {
    std::vector<uint8_t> header;
    std::vector<std::array<uint8_t, 60>> attributes;
    std::vector<std::vector<uint8_t>> movies;
    std::vector<uint8_t> secondTable;
    std::vector<std::array<uint8_t, 142>> titles;
    std::vector<std::vector<uint8_t>> programs;
    std::array<std::vector<uint8_t>, 3> carried;  // empty when absent
    uint64_t sectors = 0;                         // sectors of VR_MOVIE.VRO that the movie entries account for
};

class CVrIfo {
public:
    static constexpr size_t kMaxFileSize = 16 << 20;

    explicit CVrIfo(VrFileOps* ops = nullptr);

    // Forms the names of the two files in `folder` and reads the existing management
    // file, if there is one.
    void OpenFolder(const std::string& folder);
    const std::string& IfoPath() const { return ifoPath_; }
    const std::string& VroPath() const { return vroPath_; }
    void SetMovie(const VrMovieInfo& movie) { movie_ = movie; }

    // Builds the file with the new movie and writes it in place of the old one. False,
    // with the reason, when the existing file is refused, a counter of the file is full,
    // or a step of writing fails; the old file is then left as it was.
    bool Build(std::string* error);

    // Takes a management file apart; false, with the reason, when it is not one or a
    // table lies outside it.
    static bool Parse(const std::vector<uint8_t>& file, VrIfoContents* out, std::string* error);

private:
    // Writes the file's parts and `padding` zero bytes beside the old file, then puts it
    // in the old one's place.
    bool WriteFile(const std::vector<uint8_t>& header, const std::vector<uint8_t>& movie,
                   const std::vector<uint8_t>& second, const std::vector<uint8_t>& programTable,
                   const std::array<std::vector<uint8_t>, 3>& carried, size_t padding, std::string* error);

    VrFileOps defaultOps_;
    VrFileOps* ops_;
    std::string folder_, ifoPath_, vroPath_;
    bool existing_ = false;     // a management file was there
    bool readable_ = true;      // ... and could be read
    std::vector<uint8_t> old_;  // its bytes
    VrMovieInfo movie_;
};

// What a DVD-VR recording collects while its program stream is written, and the record
// it makes of it in the folder's management file at the end. The stream is cut into
// video object units, each opened by a navigation pack at a sequence header: table B has
// one 3-byte entry per unit (its length in video fields, capped at 255, and its size in
// 2048-byte sectors in the low 10 bits of bytes 1-2); table A one 7-byte entry per ten
// seconds (the 1-based number of the unit holding that time, its distance from the
// unit's start in fields, capped at 255, and the unit's first sector).
class CVrRecorder {
public:
    // A video object unit begins `byteOffset` bytes into the stream.
    void UnitStart(int64_t byteOffset);
    // A video presentation time (90 kHz) written.
    void VideoTime(int64_t ts);
    // The first sequence header gives the video attributes.
    void SequenceHeader(const uint8_t* data, size_t length);
    // The first audio frame gives the audio attributes: kind as the writer's audio kinds
    // (0 LPCM with its format, 1 AC-3, 2 MPEG audio).
    void AudioFrame(int kind, const uint8_t* data, size_t length, int lpcmChannels);
    // Records the stream of `totalBytes` bytes in `folder`'s management file.
    bool Finish(int64_t totalBytes, const std::string& folder, std::string* error, VrFileOps* ops = nullptr);
    // The movie that Finish records (for inspection).
    bool MakeMovie(int64_t totalBytes, VrMovieInfo* movie, std::string* error) const;

private:
    struct Unit {
        int64_t startSector;
        int64_t startTime;  // 90 kHz of its first picture, -1 until known
    };
    std::vector<Unit> units_;
    int64_t firstTime_ = -1, lastTime_ = -1;
    double fieldRate_ = 50.0;
    bool haveVideo_ = false, haveAudio_ = false;
    std::array<int, 4> video_{};
    int audioCoding_ = 2, audioChannels_ = 1;
};

}  // namespace editor
