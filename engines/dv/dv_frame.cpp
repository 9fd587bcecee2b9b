#include "engines/dv/dv_frame.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace dv {
namespace {

constexpr uint8_t kTimecodePack = 0x13;
constexpr uint8_t kRecDatePack = 0x62, kRecTimePack = 0x63;
constexpr int kVideoBlocks = 135;  // per DIF sequence

size_t Sequences(System system) {
    return system == System::kPal ? 12 : 10;
}

// The byte offsets of the subcode packs (SSYB data) of DIF sequence `seq`: two subcode
// blocks (DIF blocks 1 and 2), each with six 8-byte sync blocks after its 3-byte ID, the
// 5-byte pack following a 3-byte sync-block header.
template <typename Visit>
void ForEachSubcodePack(size_t seq, Visit&& visit) {
    for (size_t block = 1; block <= 2; ++block)
        for (size_t s = 0; s < 6; ++s)
            visit(seq * kSequenceBytes + block * kDifBlockBytes + 3 + s * 8 + 3);
}

// Offset of video DIF block `b` (0..134) of sequence `seq`: after the header, two subcode
// and three VAUX blocks, nine groups of one audio and fifteen video blocks.
size_t VideoBlock(size_t seq, int b) {
    return seq * kSequenceBytes + size_t(6 + (b / 15) * 16 + 1 + b % 15) * kDifBlockBytes;
}

// Offset of audio DIF block `a` (0..8) of sequence `seq`: the first of each group of
// sixteen after the header, subcode and VAUX blocks.
size_t AudioBlock(size_t seq, int a) {
    return seq * kSequenceBytes + size_t(6 + a * 16) * kDifBlockBytes;
}

// The 9-bit signed DC coefficient at the start of a compressed 8x8 block.
int Dc(const uint8_t* p) {
    const int v = (p[0] << 1) | (p[1] >> 7);
    return v >= 256 ? v - 512 : v;
}

// Luma blocks of a 4:2:0 macroblock in a video DIF block: 14 bytes each after the 4-byte
// header; then Cr and Cb, 10 bytes each.
constexpr size_t kLumaAt[4] = {4, 18, 32, 46};
constexpr size_t kCrAt = 60, kCbAt = 70;

int Bcd(uint8_t v) {
    return (v >> 4) * 10 + (v & 0x0F);
}
uint8_t ToBcd(int v) {
    return uint8_t(((v / 10) << 4) | (v % 10));
}

}  // namespace

Timecode Timecode::FromFrames(int64_t count, int fps) {
    if (count < 0) count = 0;
    Timecode t;
    t.frames = uint8_t(count % fps);
    count /= fps;
    t.seconds = uint8_t(count % 60);
    count /= 60;
    t.minutes = uint8_t(count % 60);
    t.hours = uint8_t((count / 60) % 24);
    return t;
}

std::optional<System> FrameSystem(std::span<const uint8_t> frame) {
    // Header DIF block: section type 0 in the upper three bits of byte 0; DSF in byte 3.
    if (frame.size() < kNtscFrameBytes || (frame[0] & 0xE0) != 0) return std::nullopt;
    const System system = (frame[3] & 0x80) ? System::kPal : System::kNtsc;
    if (frame.size() < FrameBytes(system)) return std::nullopt;
    return system;
}

std::optional<Timecode> FrameTimecode(std::span<const uint8_t> frame) {
    const auto system = FrameSystem(frame);
    if (!system) return std::nullopt;
    std::optional<Timecode> found;
    ForEachSubcodePack(0, [&](size_t at) {
        if (found || frame[at] != kTimecodePack) return;
        const uint8_t* p = &frame[at + 1];
        Timecode t{uint8_t(Bcd(p[3] & 0x3F)), uint8_t(Bcd(p[2] & 0x7F)), uint8_t(Bcd(p[1] & 0x7F)),
                   uint8_t(Bcd(p[0] & 0x3F))};
        if (t.Valid(FramesPerSecond(*system))) found = t;
    });
    return found;
}

std::optional<uint64_t> FrameRecordingStamp(std::span<const uint8_t> frame) {
    if (!FrameSystem(frame)) return std::nullopt;
    const uint8_t* date = nullptr;
    const uint8_t* time = nullptr;
    const auto visit = [&](size_t at) {
        if (!date && frame[at] == kRecDatePack) date = &frame[at + 1];
        if (!time && frame[at] == kRecTimePack) time = &frame[at + 1];
    };
    // VAUX DIF blocks 3-5 of the first sequence: 15 packs of 5 bytes after the 3-byte ID each.
    for (size_t block = 3; block <= 5; ++block)
        for (size_t p = 0; p < 15; ++p)
            visit(block * kDifBlockBytes + 3 + p * 5);
    if (!date || !time) ForEachSubcodePack(0, visit);
    if (!date || !time) return std::nullopt;
    // IEC 61834-4 packs, BCD: date = (zone, day, month, year), time = (frames, s, min, h).
    const int day = Bcd(date[1] & 0x3F), month = Bcd(date[2] & 0x1F), year = Bcd(date[3]);
    const int seconds = Bcd(time[1] & 0x7F), minutes = Bcd(time[2] & 0x7F), hours = Bcd(time[3] & 0x3F);
    const bool valid = day >= 1 && day <= 31 && month >= 1 && month <= 12 && year <= 99 && seconds < 60 &&
                       minutes < 60 && hours < 24 && (date[3] & 0x0F) <= 9 && (time[1] & 0x0F) <= 9;
    if (!valid) return std::nullopt;
    return uint64_t(year) << 40 | uint64_t(month) << 32 | uint64_t(day) << 24 | uint64_t(hours) << 16 |
           uint64_t(minutes) << 8 | uint64_t(seconds);
}

bool SetFrameTimecode(std::span<uint8_t> frame, const Timecode& t) {
    const auto system = FrameSystem(frame);
    if (!system) return false;
    bool any = false;
    for (size_t seq = 0; seq < Sequences(*system); ++seq)
        ForEachSubcodePack(seq, [&](size_t at) {
            if (frame[at] != kTimecodePack) return;
            uint8_t* p = &frame[at + 1];
            p[0] = uint8_t((p[0] & 0xC0) | ToBcd(t.frames));
            p[1] = uint8_t((p[1] & 0x80) | ToBcd(t.seconds));
            p[2] = uint8_t((p[2] & 0x80) | ToBcd(t.minutes));
            p[3] = uint8_t((p[3] & 0xC0) | ToBcd(t.hours));
            any = true;
        });
    return any;
}

std::vector<int16_t> PictureSignature(std::span<const uint8_t> frame) {
    const auto system = FrameSystem(frame);
    if (!system) return {};
    std::vector<int16_t> signature;
    signature.reserve(Sequences(*system) * kVideoBlocks);
    for (size_t seq = 0; seq < Sequences(*system); ++seq)
        for (int b = 0; b < kVideoBlocks; ++b) {
            const uint8_t* block = &frame[VideoBlock(seq, b)];
            int sum = 0;
            for (size_t at : kLumaAt)
                sum += Dc(block + at);
            signature.push_back(int16_t(sum / 4));
        }
    return signature;
}

double SignatureDistance(const std::vector<int16_t>& a, const std::vector<int16_t>& b) {
    if (a.size() != b.size() || a.empty()) return 1024;
    int64_t sum = 0;
    for (size_t i = 0; i < a.size(); ++i)
        sum += std::abs(a[i] - b[i]);
    return double(sum) / double(a.size());
}

std::optional<std::span<const uint8_t, 5>> AudioSourcePack(std::span<const uint8_t> frame) {
    if (!FrameSystem(frame)) return std::nullopt;
    const size_t at = AudioBlock(0, 3) + 3;
    if (frame[at] != 0x50) return std::nullopt;
    return std::span<const uint8_t, 5>(&frame[at], 5);
}

bool DecodeAudio(std::span<const uint8_t> frame, uint32_t* sampleRate, std::vector<int16_t>* pcm) {
    const auto system = FrameSystem(frame);
    const auto pack = AudioSourcePack(frame);
    if (!system || !pack) return false;
    const uint8_t* p = pack->data();
    const int smp = (p[4] >> 3) & 7, quantization = p[4] & 7;
    if (quantization != 0 || smp > 2) return false;  // 16-bit linear at 48, 44.1 or 32 kHz only
    const bool pal = *system == System::kPal;
    // The fewest samples a frame holds at each rate (AF_SIZE counts on from there).
    static constexpr uint32_t kRate[3] = {48000, 44100, 32000};
    static constexpr int kMinimum[2][3] = {{1580, 1452, 1053}, {1896, 1742, 1264}};
    const int samples = kMinimum[pal][smp] + (p[1] & 0x3F);
    // With S sequences a channel (6 at 625/50, 5 at 525/60) and R = 18 or 15: sample n of
    // a channel lies in sequence (n / 3 + 2 (n mod 3)) mod S, audio block
    // 3 (n mod 3) + (n mod 3R) / R, bytes 8 + 2 (n / 3R) and the next, most significant
    // first. The second channel takes the second half of the sequences.
    const int sequences = pal ? 6 : 5, perRow = pal ? 18 : 15;
    const int stride = 3 * perRow;
    pcm->resize(size_t(samples) * 2);
    for (int channel = 0; channel < 2; ++channel)
        for (int n = 0; n < samples; ++n) {
            const int seq = (n / 3 + 2 * (n % 3)) % sequences + channel * sequences;
            const int block = 3 * (n % 3) + (n % stride) / perRow;
            const size_t at = AudioBlock(size_t(seq), block) + 8 + size_t(2 * (n / stride));
            (*pcm)[size_t(n) * 2 + size_t(channel)] = int16_t(uint16_t((frame[at] << 8) | frame[at + 1]));
        }
    *sampleRate = kRate[smp];
    return true;
}

std::vector<uint32_t> DcPicture(std::span<const uint8_t> frame, uint32_t* width, uint32_t* height) {
    const auto system = FrameSystem(frame);
    if (!system) return {};
    const bool pal = *system == System::kPal;
    const int rows = pal ? 12 : 10;
    const uint32_t outWidth = 90, outHeight = pal ? 72 : 60;
    std::vector<uint32_t> picture(size_t(outWidth) * outHeight);
    // IEC 61834-2: the picture is rows of 5 superblocks, one row per DIF sequence, each
    // superblock 27 macroblocks. Sequence i holds, in each video segment of five blocks,
    // macroblocks of superblocks (i + 2, 2), (i + 6, 1), (i + 8, 3), (i, 0), (i + 4, 4)
    // (row mod the rows, column). Within a superblock macroblocks run down and up its
    // macroblock columns in turn.
    constexpr int kRowShift[5] = {2, 6, 8, 0, 4};
    constexpr int kColumn[5] = {2, 1, 3, 0, 4};
    const auto clamp = [](double v) { return uint32_t(std::clamp(std::lround(v), 0L, 255L)); };
    for (int seq = 0; seq < rows; ++seq)
        for (int b = 0; b < kVideoBlocks; ++b) {
            const uint8_t* block = &frame[VideoBlock(size_t(seq), b)];
            const int segment = b / 5, position = b % 5;
            const int row = (seq + kRowShift[position]) % rows, column = kColumn[position];
            // Where the macroblock's four luma blocks lie, in eighths of the picture.
            uint32_t x[4], y[4];
            if (pal) {
                // 4:2:0: superblocks of 9 x 3 macroblocks of 16 x 16.
                const int mbColumn = segment / 3;
                const int mbRow = mbColumn % 2 == 0 ? segment % 3 : 2 - segment % 3;
                for (int k = 0; k < 4; ++k) {
                    x[k] = uint32_t(column * 18 + mbColumn * 2 + k % 2);
                    y[k] = uint32_t(row * 6 + mbRow * 2 + k / 2);
                }
            } else {
                // 4:1:1: macroblocks of 32 x 8 (four luma blocks side by side), 22.5 of them
                // across; superblocks are 4.5 macroblock columns of 6 wide, those of odd
                // columns beginning halfway down their first column. The half column at
                // the right edge (from x = 704) holds macroblocks of 16 x 16, 2 x 2 blocks.
                const int k = segment + (column % 2 ? 3 : 0);
                const int mbColumn = column * 9 / 2 + k / 6;
                const int mbRow = (k / 6) % 2 == 0 ? k % 6 : 5 - k % 6;
                for (int n = 0; n < 4; ++n) {
                    if (mbColumn < 22) {
                        x[n] = uint32_t(mbColumn * 4 + n);
                        y[n] = uint32_t(row * 6 + mbRow);
                    } else {
                        x[n] = uint32_t(88 + n % 2);
                        y[n] = uint32_t(row * 6 + mbRow * 2 + n / 2);
                    }
                }
            }
            // A block's mean is DC / 2, luma about 128 (the IDCT's scaling of the DC term).
            const double cr = Dc(block + kCrAt) / 2.0, cb = Dc(block + kCbAt) / 2.0;
            // Studio range (Y 16-235, colour difference 16-240) to full-range RGB.
            for (int k = 0; k < 4; ++k) {
                if (x[k] >= outWidth || y[k] >= outHeight) continue;
                const double luma = 1.164383 * (Dc(block + kLumaAt[k]) / 2.0 + 128 - 16);
                const uint32_t r = clamp(luma + 1.596027 * cr);
                const uint32_t g = clamp(luma - 0.391762 * cb - 0.812968 * cr);
                const uint32_t bl = clamp(luma + 2.017232 * cb);
                picture[size_t(y[k]) * outWidth + x[k]] = (r << 16) | (g << 8) | bl;
            }
        }
    *width = outWidth;
    *height = outHeight;
    return picture;
}

}  // namespace dv
