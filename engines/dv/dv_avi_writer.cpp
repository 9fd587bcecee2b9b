#include "engines/dv/dv_avi_writer.h"

#include <cstring>

namespace dv {
namespace {

// Header layout (byte offsets in the file), fixed so that Finish can patch the counts.
constexpr uint64_t kRiffSize = 4;
constexpr uint64_t kAvihTotalFrames = 12 + 12 + 8 + 16;  // 'avih' body + 16
constexpr uint64_t kHeaderBytes = 2048;                  // 'movi' list starts here
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
// control), from the frame's packs: audio DIF block 0 of the first sequence of each half
// carries the AAUX packs, the VAUX blocks the VAUX packs.
std::vector<uint8_t> DvInfo(std::span<const uint8_t> frame, System system) {
    std::vector<uint8_t> info(32, 0);
    const size_t sequences = system == System::kPal ? 12 : 10;
    const auto pack = [&](size_t offset, uint8_t type, size_t slot) {
        if (offset + 5 <= frame.size() && frame[offset] == type) memcpy(&info[slot * 4], &frame[offset + 1], 4);
    };
    for (size_t half = 0; half < 2; ++half) {
        const size_t seq = half * sequences / 2;
        // Audio blocks sit at DIF blocks 6, 22, ...; the AAUX pack is the first 5 bytes of
        // the block's data, source in the first audio block, control in the second.
        pack(seq * kSequenceBytes + 6 * kDifBlockBytes + 3, 0x50, half * 2);
        pack(seq * kSequenceBytes + 22 * kDifBlockBytes + 3, 0x51, half * 2 + 1);
    }
    // VAUX blocks (DIF blocks 3-5) hold 15 packs of 5 bytes each.
    for (size_t p = 0; p < 15; ++p) {
        pack(3 * kDifBlockBytes + 3 + p * 5, 0x60, 4);
        pack(3 * kDifBlockBytes + 3 + p * 5, 0x61, 5);
    }
    return info;
}

std::vector<uint8_t> Headers(System system, const std::vector<uint8_t>& dvinfo) {
    const bool pal = system == System::kPal;
    const uint32_t frameBytes = uint32_t(FrameBytes(system));
    const uint32_t width = 720, height = pal ? 576 : 480;
    const uint32_t scale = pal ? 1 : 1001, rate = pal ? 25 : 30000;
    std::vector<uint8_t> h;
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
    Put32(h, 0);     // total frames, patched
    Put32(h, 0);
    Put32(h, 1);  // streams
    Put32(h, frameBytes);
    Put32(h, width);
    Put32(h, height);
    for (int i = 0; i < 4; ++i)
        Put32(h, 0);
    PutTag(h, "LIST");
    const size_t strlSize = h.size();
    Put32(h, 0);
    PutTag(h, "strl");
    PutTag(h, "strh");
    Put32(h, 56);
    PutTag(h, "iavs");
    PutTag(h, "dvsd");
    Put32(h, 0);
    Put32(h, 0);
    Put32(h, 0);
    Put32(h, scale);
    Put32(h, rate);
    Put32(h, 0);
    Put32(h, 0);  // length, patched
    Put32(h, frameBytes);
    Put32(h, 0xFFFFFFFF);
    Put32(h, 0);
    Put16(h, 0);
    Put16(h, 0);
    Put16(h, uint16_t(width));
    Put16(h, uint16_t(height));
    PutTag(h, "strf");
    Put32(h, uint32_t(dvinfo.size()));
    for (uint8_t b : dvinfo)
        h.push_back(b);
    const auto setSize = [&](size_t at) {
        const uint32_t size = uint32_t(h.size() - at - 4);
        memcpy(&h[at], &size, 4);
    };
    setSize(strlSize);
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

bool AviWriter::Open(const std::string& path, System system) {
    if (file_) return false;
    file_ = std::fopen(path.c_str(), "w+b");
    if (!file_) return false;
    path_ = path;
    system_ = system;
    frames_ = 0;
    dvinfo_.assign(32, 0);
    const std::vector<uint8_t> headers = Headers(system, dvinfo_);
    moviEnd_ = headers.size();
    if (!WriteAt(0, headers.data(), headers.size())) {
        std::fclose(file_);
        file_ = nullptr;
        return false;
    }
    return true;
}

bool AviWriter::AddFrame(std::span<const uint8_t> frame) {
    if (!file_ || frame.size() != FrameBytes(system_)) return false;
    if (Bytes() + kFrameChunkHeader + frame.size() + 16 > kMaxAviBytes) return false;
    if (frames_ == 0) {
        // The stream format comes from the first frame's packs.
        dvinfo_ = DvInfo(frame, system_);
        const std::vector<uint8_t> headers = Headers(system_, dvinfo_);
        if (!WriteAt(0, headers.data(), headers.size())) return false;
    }
    uint8_t chunk[kFrameChunkHeader] = {'0', '0', '_', '_'};
    const uint32_t size = uint32_t(frame.size());
    memcpy(chunk + 4, &size, 4);
    if (!WriteAt(moviEnd_, chunk, sizeof chunk) || std::fwrite(frame.data(), 1, frame.size(), file_) != frame.size())
        return false;
    moviEnd_ += sizeof chunk + frame.size();
    ++frames_;
    return true;
}

bool AviWriter::Finish() {
    if (!file_) return false;
    bool ok = true;
    // idx1: one entry a frame, offsets from the 'movi' tag.
    std::vector<uint8_t> index;
    index.reserve(8 + 16ull * frames_);
    PutTag(index, "idx1");
    Put32(index, 16 * frames_);
    const uint64_t moviTag = kHeaderBytes - 4;
    for (uint32_t i = 0; i < frames_; ++i) {
        PutTag(index, "00__");
        Put32(index, 0x10);  // AVIIF_KEYFRAME
        Put32(index, uint32_t(kHeaderBytes + i * (kFrameChunkHeader + FrameBytes(system_)) - moviTag));
        Put32(index, uint32_t(FrameBytes(system_)));
    }
    ok = ok && WriteAt(moviEnd_, index.data(), index.size());
    const uint32_t riff = uint32_t(moviEnd_ + index.size() - 8);
    const uint32_t movi = uint32_t(moviEnd_ - (kHeaderBytes - 8));
    ok = ok && WriteAt(kRiffSize, &riff, 4);
    ok = ok && WriteAt(kHeaderBytes - 8, &movi, 4);
    ok = ok && WriteAt(kAvihTotalFrames, &frames_, 4);
    // strh length: 'strl' list at 12 + 12 + 8 + 56 = 88; its strh body at 88 + 12 + 8.
    ok = ok && WriteAt(88 + 12 + 8 + 32, &frames_, 4);
    ok = std::fclose(file_) == 0 && ok;
    file_ = nullptr;
    return ok;
}

}  // namespace dv
