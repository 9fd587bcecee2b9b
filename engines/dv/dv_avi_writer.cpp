#include "engines/dv/dv_avi_writer.h"

#include <cstring>

namespace dv {
namespace {

// Header layout (byte offsets in the file), fixed so that Finish can patch the counts.
constexpr uint64_t kRiffSize = 4;
constexpr uint64_t kHeaderBytes = 2048;  // 'movi' list starts here
constexpr size_t kFrameChunkHeader = 8;

void Put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}
void PutTag(std::vector<uint8_t>& out, const char* tag) {
    for (int i = 0; i < 4; ++i)
        out.push_back(uint8_t(tag[i]));
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

// Where Finish patches the counts.
struct Layout {
    uint64_t totalFrames = 0;
    uint64_t videoLength = 0;
    uint64_t audioLength = 0;  // 0: no audio stream
};

std::vector<uint8_t> Headers(System system, AviType type, const std::vector<uint8_t>& dvinfo, uint32_t sampleRate,
                             Layout* layout) {
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
    // One stream header: type, handler, time base, sample size; its length's offset.
    const auto streamHeader = [&](const char* kind, const char* handler, uint32_t sScale, uint32_t sRate,
                                  uint32_t sampleSize, uint64_t* lengthAt) {
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
        *lengthAt = h.size();
        Put32(h, 0);  // length, patched
        Put32(h, sampleSize ? sampleSize * sRate : frameBytes);
        Put32(h, 0xFFFFFFFF);
        Put32(h, sampleSize);
        Put16(h, 0);
        Put16(h, 0);
        Put16(h, uint16_t(sampleSize ? 0 : width));
        Put16(h, uint16_t(sampleSize ? 0 : height));
    };
    PutTag(h, "RIFF");
    Put32(h, 0);  // patched
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
    layout->totalFrames = h.size();
    Put32(h, 0);  // total frames, patched
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
    streamHeader(two ? "vids" : "iavs", "dvsd", scale, rate, 0, &layout->videoLength);
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
    setSize(strl);
    if (two) {
        PutTag(h, "LIST");
        strl = h.size();
        Put32(h, 0);
        PutTag(h, "strl");
        streamHeader("auds", "\0\0\0\0", 1, sampleRate ? sampleRate : 48000, 4, &layout->audioLength);
        PutTag(h, "strf");
        Put32(h, 18);  // WAVEFORMATEX: PCM, 2 channels, 16 bits
        Put16(h, 1);
        Put16(h, 2);
        Put32(h, sampleRate ? sampleRate : 48000);
        Put32(h, (sampleRate ? sampleRate : 48000) * 4);
        Put16(h, 4);
        Put16(h, 16);
        Put16(h, 0);
        setSize(strl);
    }
    setSize(hdrlSize);
    // Pad to the fixed start of the 'movi' list with a JUNK chunk.
    PutTag(h, "JUNK");
    const uint32_t junk = uint32_t(kHeaderBytes - 12 - h.size() - 4);
    Put32(h, junk);
    h.resize(kHeaderBytes - 12, 0);
    PutTag(h, "LIST");
    Put32(h, 0);  // patched
    PutTag(h, "movi");
    return h;
}

}  // namespace

AviWriter::~AviWriter() {
    if (file_) Finish();
}

bool AviWriter::WriteAt(uint64_t offset, const void* data, size_t bytes) {
    return std::fseek(file_, long(offset), SEEK_SET) == 0 && std::fwrite(data, 1, bytes, file_) == bytes;
}

bool AviWriter::WriteHeaders() {
    Layout layout;
    const std::vector<uint8_t> headers = Headers(system_, type_, dvinfo_, sampleRate_, &layout);
    return WriteAt(0, headers.data(), headers.size());
}

bool AviWriter::Open(const std::string& path, System system, AviType type) {
    if (file_) return false;
    file_ = std::fopen(path.c_str(), "w+b");
    if (!file_) return false;
    path_ = path;
    system_ = system;
    type_ = type;
    frames_ = 0;
    audioSamples_ = 0;
    sampleRate_ = 0;
    index_.clear();
    dvinfo_.assign(32, 0);
    moviEnd_ = kHeaderBytes;
    if (!WriteHeaders()) {
        std::fclose(file_);
        file_ = nullptr;
        return false;
    }
    return true;
}

// Appends a chunk and its index entry (offsets count from the 'movi' tag).
bool AviWriter::WriteChunk(const char* tag, const void* data, size_t bytes) {
    uint8_t header[kFrameChunkHeader];
    memcpy(header, tag, 4);
    const uint32_t size = uint32_t(bytes);
    memcpy(header + 4, &size, 4);
    if (!WriteAt(moviEnd_, header, sizeof header) || (bytes && std::fwrite(data, 1, bytes, file_) != bytes))
        return false;
    PutTag(index_, tag);
    Put32(index_, 0x10);  // AVIIF_KEYFRAME
    Put32(index_, uint32_t(moviEnd_ - (kHeaderBytes - 4)));
    Put32(index_, size);
    moviEnd_ += sizeof header + bytes + (bytes & 1);
    if (bytes & 1) {
        const uint8_t pad = 0;
        if (std::fwrite(&pad, 1, 1, file_) != 1) return false;
    }
    return true;
}

bool AviWriter::AddFrame(std::span<const uint8_t> frame) {
    if (!file_ || frame.size() != FrameBytes(system_)) return false;
    uint32_t rate = 0;
    const bool audio = type_ == AviType::kType2 && DecodeAudio(frame, &rate, &pcm_);
    const size_t audioBytes = audio ? pcm_.size() * 2 : 0;
    if (Bytes() + 2 * (kFrameChunkHeader + 16) + frame.size() + audioBytes > kMaxAviBytes) return false;
    if (frames_ == 0 || (audio && sampleRate_ == 0)) {
        // The stream formats come from the first frame's packs and audio.
        if (frames_ == 0) dvinfo_ = DvInfo(frame, system_);
        if (audio && sampleRate_ == 0) sampleRate_ = rate;
        if (!WriteHeaders()) return false;
    }
    if (!WriteChunk(type_ == AviType::kType2 ? "00dc" : "00__", frame.data(), frame.size())) return false;
    ++frames_;
    // Audio at another rate than the stream's is left out rather than played wrongly.
    if (audio && rate == sampleRate_) {
        if (!WriteChunk("01wb", pcm_.data(), audioBytes)) return false;
        audioSamples_ += pcm_.size() / 2;
    }
    return true;
}

bool AviWriter::Finish() {
    if (!file_) return false;
    bool ok = true;
    Layout layout;
    Headers(system_, type_, dvinfo_, sampleRate_, &layout);
    std::vector<uint8_t> tail;
    PutTag(tail, "idx1");
    Put32(tail, uint32_t(index_.size()));
    ok = ok && WriteAt(moviEnd_, tail.data(), tail.size()) &&
         std::fwrite(index_.data(), 1, index_.size(), file_) == index_.size();
    const uint32_t riff = uint32_t(moviEnd_ + tail.size() + index_.size() - 8);
    const uint32_t movi = uint32_t(moviEnd_ - (kHeaderBytes - 8));
    const uint32_t samples = uint32_t(audioSamples_);
    ok = ok && WriteAt(kRiffSize, &riff, 4);
    ok = ok && WriteAt(kHeaderBytes - 8, &movi, 4);
    ok = ok && WriteAt(layout.totalFrames, &frames_, 4);
    ok = ok && WriteAt(layout.videoLength, &frames_, 4);
    if (layout.audioLength) ok = ok && WriteAt(layout.audioLength, &samples, 4);
    ok = std::fclose(file_) == 0 && ok;
    file_ = nullptr;
    return ok;
}

}  // namespace dv
