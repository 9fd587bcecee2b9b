#include "engines/dv/dv_avi_writer.h"

#include <cstring>

namespace dv {
namespace {

// The headers take a fixed size, so that they can be written again with the final counts
// and indexes; the first 'movi' list starts here.
constexpr uint64_t kHeaderBytes = 12288;
constexpr size_t kChunkHeader = 8;
// 'indx' and 'ix##' chunks: an 8-byte chunk header and 24 bytes of index header, then
// entries of 16 (super index) or 8 bytes (standard index). OpenDML AVI File Format
// Extensions 1.02, AVISUPERINDEX and AVISTDINDEX.
constexpr size_t kIndexHeader = 32;
constexpr size_t kSuperEntryBytes = 16;
constexpr size_t kStdEntryBytes = 8;
constexpr uint8_t kIndexOfIndexes = 0, kIndexOfChunks = 1;

int Seek(std::FILE* file, uint64_t offset) {
#ifdef _WIN32
    return _fseeki64(file, int64_t(offset), SEEK_SET);
#else
    return fseeko(file, off_t(offset), SEEK_SET);
#endif
}

void Put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}
void Put64(std::vector<uint8_t>& out, uint64_t v) {
    Put32(out, uint32_t(v));
    Put32(out, uint32_t(v >> 32));
}
void PutTag(std::vector<uint8_t>& out, const char* tag) {
    for (int i = 0; i < 4; ++i)
        out.push_back(uint8_t(tag[i]));
}

const char* ChunkTag(AviType type, int stream) {
    if (stream == 1) return "01wb";
    return type == AviType::kType2 ? "00dc" : "00__";
}

// The DVINFO block (AAUX source and control of both audio halves, VAUX source and
// control), from the frame's packs: audio DIF blocks 3 and 4 of the first sequence of each
// half carry the AAUX packs, the VAUX blocks the VAUX packs.
std::vector<uint8_t> DvInfo(std::span<const uint8_t> frame, System system) {
    std::vector<uint8_t> info(32, 0);
    const size_t sequences = system == System::kPal ? 12 : 10;
    const auto pack = [&](size_t offset, uint8_t type, size_t slot) {
        if (offset + 5 <= frame.size() && frame[offset] == type) memcpy(&info[slot * 4], &frame[offset + 1], 4);
    };
    for (size_t half = 0; half < 2; ++half) {
        const size_t seq = half * sequences / 2;
        pack(seq * kSequenceBytes + (6 + 3 * 16) * kDifBlockBytes + 3, 0x50, half * 2);
        pack(seq * kSequenceBytes + (6 + 4 * 16) * kDifBlockBytes + 3, 0x51, half * 2 + 1);
    }
    // VAUX blocks (DIF blocks 3-5) hold 15 packs of 5 bytes each.
    for (size_t p = 0; p < 15; ++p) {
        pack(3 * kDifBlockBytes + 3 + p * 5, 0x60, 4);
        pack(3 * kDifBlockBytes + 3 + p * 5, 0x61, 5);
    }
    return info;
}

// What the headers say beyond the stream formats: zero while the file is being written,
// until Finish (or the close of a RIFF) knows them.
struct HeaderValues {
    uint64_t firstRiffBytes = 0;  // the first RIFF's size field
    uint64_t firstMoviBytes = 0;  // the first 'movi' list's size field
    uint32_t firstRiffFrames = 0;
    uint32_t totalFrames = 0;
    const AviWriter::StreamIndex* streams = nullptr;
};

std::vector<uint8_t> Headers(System system, AviType type, const std::vector<uint8_t>& dvinfo, uint32_t sampleRate,
                             const HeaderValues& v) {
    const bool pal = system == System::kPal;
    const bool two = type == AviType::kType2;
    const uint32_t frameBytes = uint32_t(FrameBytes(system));
    const uint32_t width = 720, height = pal ? 576 : 480;
    const uint32_t scale = pal ? 1 : 1001, rate = pal ? 25 : 30000;
    std::vector<uint8_t> h;
    const auto setSize = [&](size_t at) {
        const uint32_t size = uint32_t(h.size() - at - 4);
        memcpy(&h[at], &size, 4);
    };
    const auto streamHeader = [&](const char* kind, const char* handler, uint32_t sScale, uint32_t sRate,
                                  uint32_t sampleSize, uint64_t length) {
        PutTag(h, "strh");
        Put32(h, 56);
        PutTag(h, kind);
        PutTag(h, handler);
        Put32(h, 0);  // flags
        Put32(h, 0);  // priority, language
        Put32(h, 0);  // initial frames
        Put32(h, sScale);
        Put32(h, sRate);
        Put32(h, 0);  // start
        Put32(h, uint32_t(length));
        Put32(h, sampleSize ? sampleSize * sRate : frameBytes);
        Put32(h, 0xFFFFFFFF);
        Put32(h, sampleSize);
        Put16(h, 0);
        Put16(h, 0);
        Put16(h, uint16_t(sampleSize ? 0 : width));
        Put16(h, uint16_t(sampleSize ? 0 : height));
    };
    // The stream's super index, its unused entries reserved as zeros.
    const auto superIndex = [&](int stream) {
        const AviWriter::StreamIndex& s = v.streams[stream];
        PutTag(h, "indx");
        Put32(h, uint32_t(kIndexHeader - kChunkHeader + kSuperIndexEntries * kSuperEntryBytes));
        Put16(h, kSuperEntryBytes / 4);  // longs per entry
        h.push_back(0);                  // sub type
        h.push_back(kIndexOfIndexes);
        Put32(h, s.superEntries);
        PutTag(h, ChunkTag(type, stream));
        for (int i = 0; i < 3; ++i)
            Put32(h, 0);
        h.insert(h.end(), s.super.begin(), s.super.end());
        h.resize(h.size() + (kSuperIndexEntries - s.superEntries) * kSuperEntryBytes, 0);
    };
    PutTag(h, "RIFF");
    Put32(h, uint32_t(v.firstRiffBytes));
    PutTag(h, "AVI ");
    PutTag(h, "LIST");
    const size_t hdrlSize = h.size();
    Put32(h, 0);
    PutTag(h, "hdrl");
    PutTag(h, "avih");
    Put32(h, 56);
    Put32(h, pal ? 40000 : 33367);  // microseconds per frame
    Put32(h, frameBytes * rate / scale);
    Put32(h, 0);
    Put32(h, 0x10);  // AVIF_HASINDEX
    // AVI 1.0 readers see the first RIFF only; the whole count is in 'dmlh'.
    Put32(h, v.firstRiffFrames);
    Put32(h, 0);
    Put32(h, two ? 2 : 1);  // streams
    Put32(h, frameBytes);
    Put32(h, width);
    Put32(h, height);
    for (int i = 0; i < 4; ++i)
        Put32(h, 0);

    PutTag(h, "LIST");
    size_t strl = h.size();
    Put32(h, 0);
    PutTag(h, "strl");
    streamHeader(two ? "vids" : "iavs", "dvsd", scale, rate, 0, v.streams[0].length);
    PutTag(h, "strf");
    if (two) {
        // BITMAPINFOHEADER of 'dvsd' frames.
        Put32(h, 40);
        Put32(h, 40);
        Put32(h, width);
        Put32(h, height);
        Put16(h, 1);
        Put16(h, 24);
        PutTag(h, "dvsd");
        Put32(h, frameBytes);
        for (int i = 0; i < 4; ++i)
            Put32(h, 0);
    } else {
        Put32(h, uint32_t(dvinfo.size()));
        for (uint8_t b : dvinfo)
            h.push_back(b);
    }
    superIndex(0);
    setSize(strl);
    if (two) {
        PutTag(h, "LIST");
        strl = h.size();
        Put32(h, 0);
        PutTag(h, "strl");
        streamHeader("auds", "\0\0\0\0", 1, sampleRate ? sampleRate : 48000, 4, v.streams[1].length);
        PutTag(h, "strf");
        Put32(h, 18);  // WAVEFORMATEX: PCM, 2 channels, 16 bits
        Put16(h, 1);
        Put16(h, 2);
        Put32(h, sampleRate ? sampleRate : 48000);
        Put32(h, (sampleRate ? sampleRate : 48000) * 4);
        Put16(h, 4);
        Put16(h, 16);
        Put16(h, 0);
        superIndex(1);
        setSize(strl);
    }
    // The extended header: the frames of the whole file.
    PutTag(h, "LIST");
    const size_t odml = h.size();
    Put32(h, 0);
    PutTag(h, "odml");
    PutTag(h, "dmlh");
    Put32(h, 248);
    Put32(h, v.totalFrames);
    h.resize(h.size() + 244, 0);
    setSize(odml);
    setSize(hdrlSize);
    // Pad to the fixed start of the 'movi' list with a JUNK chunk.
    PutTag(h, "JUNK");
    const uint32_t junk = uint32_t(kHeaderBytes - 12 - h.size() - 4);
    Put32(h, junk);
    h.resize(kHeaderBytes - 12, 0);
    PutTag(h, "LIST");
    Put32(h, uint32_t(v.firstMoviBytes));
    PutTag(h, "movi");
    return h;
}

}  // namespace

AviWriter::AviWriter(uint64_t riffBytes) : riffBytes_(riffBytes) {}

AviWriter::~AviWriter() {
    if (file_) Finish();
}

bool AviWriter::WriteAt(uint64_t offset, const void* data, size_t bytes) {
    return Seek(file_, offset) == 0 && std::fwrite(data, 1, bytes, file_) == bytes;
}

bool AviWriter::WriteHeaders() {
    HeaderValues v;
    v.firstRiffBytes = firstRiffBytes_;
    v.firstMoviBytes = firstMoviBytes_;
    v.firstRiffFrames = firstRiffFrames_;
    v.totalFrames = frames_;
    v.streams = streams_;
    const std::vector<uint8_t> headers = Headers(system_, type_, dvinfo_, sampleRate_, v);
    return WriteAt(0, headers.data(), headers.size());
}

bool AviWriter::Open(const std::string& path, System system, AviType type) {
    if (file_) return false;
    file_ = std::fopen(path.c_str(), "w+b");
    if (!file_) return false;
    path_ = path;
    system_ = system;
    type_ = type;
    frames_ = firstRiffFrames_ = 0;
    riffs_ = 1;
    riffStart_ = 0;
    moviList_ = kHeaderBytes - 12;
    moviEnd_ = kHeaderBytes;
    firstMoviBytes_ = firstRiffBytes_ = 0;
    sampleRate_ = 0;
    index_.clear();
    for (StreamIndex& s : streams_)
        s = StreamIndex{};
    dvinfo_.assign(32, 0);
    if (!WriteHeaders()) {
        std::fclose(file_);
        file_ = nullptr;
        return false;
    }
    return true;
}

uint64_t AviWriter::PendingIndexBytes() const {
    uint64_t bytes = 0;
    for (const StreamIndex& s : streams_)
        if (!s.chunks.empty()) bytes += kIndexHeader + s.chunks.size();
    return bytes;
}

// How much a frame's chunks (`chunkBytes`, with their headers) add to the finished file:
// their index entries, a standard index header for a stream's first chunk in its RIFF, and
// the next RIFF's headers when they begin one.
uint64_t AviWriter::Growth(uint64_t chunkBytes, bool audio, bool newRiff) const {
    const int entries = audio ? 2 : 1;
    uint64_t bytes = chunkBytes + entries * kStdEntryBytes;
    if (newRiff) return bytes + 24 + entries * kIndexHeader;  // 'RIFF' size 'AVIX' 'LIST' size 'movi'
    if (riffs_ == 1) bytes += entries * 16;                   // idx1 entries
    if (streams_[0].chunks.empty()) bytes += kIndexHeader;
    if (audio && streams_[1].chunks.empty()) bytes += kIndexHeader;
    return bytes;
}

uint64_t AviWriter::Bytes() const {
    return moviEnd_ + PendingIndexBytes() + (riffs_ == 1 ? kChunkHeader + index_.size() : 0);
}

// Appends a chunk of `stream` and its index entries.
bool AviWriter::WriteChunk(int stream, const char* tag, const void* data, size_t bytes, uint32_t duration) {
    uint8_t header[kChunkHeader];
    memcpy(header, tag, 4);
    const uint32_t size = uint32_t(bytes);
    memcpy(header + 4, &size, 4);
    if (!WriteAt(moviEnd_, header, sizeof header) || (bytes && std::fwrite(data, 1, bytes, file_) != bytes))
        return false;
    if (bytes & 1) {
        const uint8_t pad = 0;
        if (std::fwrite(&pad, 1, 1, file_) != 1) return false;
    }
    if (riffs_ == 1) {
        // idx1 offsets count from the 'movi' tag.
        PutTag(index_, tag);
        Put32(index_, 0x10);  // AVIIF_KEYFRAME
        Put32(index_, uint32_t(moviEnd_ - (moviList_ + 8)));
        Put32(index_, size);
    }
    // Standard index offsets point at the chunk's data, from the 'movi' list; a clear top
    // bit of the size marks a key frame.
    StreamIndex& s = streams_[stream];
    Put32(s.chunks, uint32_t(moviEnd_ + kChunkHeader - moviList_));
    Put32(s.chunks, size);
    s.duration += duration;
    s.length += duration;
    moviEnd_ += sizeof header + bytes + (bytes & 1);
    return true;
}

// Ends the current 'movi' list with its standard indexes and the RIFF holding it (the first
// one with idx1 too), then, unless `last`, begins the next RIFF.
bool AviWriter::CloseRiff(bool last) {
    bool ok = true;
    for (int stream = 0; stream < 2; ++stream) {
        StreamIndex& s = streams_[stream];
        if (s.chunks.empty()) continue;
        std::vector<uint8_t> ix;
        PutTag(ix, stream == 0 ? "ix00" : "ix01");
        Put32(ix, uint32_t(kIndexHeader - kChunkHeader + s.chunks.size()));
        Put16(ix, kStdEntryBytes / 4);
        ix.push_back(0);
        ix.push_back(kIndexOfChunks);
        Put32(ix, uint32_t(s.chunks.size() / kStdEntryBytes));
        PutTag(ix, ChunkTag(type_, stream));
        Put64(ix, moviList_);  // base offset
        Put32(ix, 0);
        ix.insert(ix.end(), s.chunks.begin(), s.chunks.end());
        ok = ok && WriteAt(moviEnd_, ix.data(), ix.size());
        Put64(s.super, moviEnd_);
        Put32(s.super, uint32_t(ix.size()));
        Put32(s.super, s.duration);
        ++s.superEntries;
        moviEnd_ += ix.size();
        s.chunks.clear();
        s.duration = 0;
    }
    const uint32_t movi = uint32_t(moviEnd_ - moviList_ - 8);
    uint64_t end = moviEnd_;
    if (riffs_ == 1) {
        std::vector<uint8_t> idx1;
        PutTag(idx1, "idx1");
        Put32(idx1, uint32_t(index_.size()));
        idx1.insert(idx1.end(), index_.begin(), index_.end());
        ok = ok && WriteAt(end, idx1.data(), idx1.size());
        end += idx1.size();
        firstMoviBytes_ = movi;
        firstRiffBytes_ = end - 8;
        firstRiffFrames_ = frames_;
    } else {
        const uint32_t riff = uint32_t(end - riffStart_ - 8);
        ok = ok && WriteAt(riffStart_ + 4, &riff, 4) && WriteAt(moviList_ + 4, &movi, 4);
    }
    if (!last && ok) {
        std::vector<uint8_t> next;
        PutTag(next, "RIFF");
        Put32(next, 0);  // set when this RIFF closes
        PutTag(next, "AVIX");
        PutTag(next, "LIST");
        Put32(next, 0);
        PutTag(next, "movi");
        ok = WriteAt(end, next.data(), next.size());
        riffStart_ = end;
        moviList_ = end + 12;
        moviEnd_ = end + next.size();
        ++riffs_;
    }
    // The headers now list the indexes written, so an unfinished file reads to here.
    return WriteHeaders() && ok;
}

bool AviWriter::AddFrame(std::span<const uint8_t> frame) {
    if (!file_ || frame.size() != FrameBytes(system_)) return false;
    uint32_t rate = 0;
    bool audio = type_ == AviType::kType2 && DecodeAudio(frame, &rate, &pcm_);
    if (frames_ == 0 || (audio && sampleRate_ == 0)) {
        // The stream formats come from the first frame's packs and audio.
        if (frames_ == 0) dvinfo_ = DvInfo(frame, system_);
        if (audio && sampleRate_ == 0) sampleRate_ = rate;
        if (!WriteHeaders()) return false;
    }
    // Audio at another rate than the stream's is left out rather than played wrongly.
    audio = audio && rate == sampleRate_;
    const size_t audioBytes = audio ? pcm_.size() * 2 : 0;
    const uint64_t chunks = kChunkHeader + frame.size() + (audio ? kChunkHeader + audioBytes : 0);
    const bool newRiff =
        !streams_[0].chunks.empty() && Bytes() - riffStart_ + Growth(chunks, audio, false) > riffBytes_;
    if (limit_ && Bytes() + Growth(chunks, audio, newRiff) > limit_) return false;
    // Closing this RIFF takes a super index entry, the next one another.
    if (newRiff && (streams_[0].superEntries + 2 > kSuperIndexEntries || !CloseRiff(false))) return false;
    if (!WriteChunk(0, ChunkTag(type_, 0), frame.data(), frame.size(), 1)) return false;
    ++frames_;
    if (audio) {
        if (!WriteChunk(1, ChunkTag(type_, 1), pcm_.data(), audioBytes, uint32_t(pcm_.size() / 2))) return false;
    }
    return true;
}

bool AviWriter::Finish() {
    if (!file_) return false;
    bool ok = CloseRiff(true);
    ok = std::fclose(file_) == 0 && ok;
    file_ = nullptr;
    return ok;
}

}  // namespace dv
