#include "engines/player/media_probe.h"

#include <cstdio>
#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "common/bitstream/emulation_prevention.h"
#include "common/bitstream/h264_sps.h"
#include "editor/core/clip_probe.h"
#include "engines/player/h264_units.h"
#include "filters/muxer/core/mux_input_parser.h"

namespace engines {
namespace {

// The AVI headers sit in the first chunk list; a file whose headers go past this is refused.
constexpr size_t kHeaderBytes = 1 << 20;
// Wave format tags (RFC 2361) of the sound the probe names.
constexpr uint32_t kWavePcm = 0x0001;
constexpr uint32_t kWaveMpeg = 0x0050;
constexpr uint32_t kWaveMpegLayer3 = 0x0055;
constexpr uint32_t kWaveAc3 = 0x2000;
// Channel modes as the clip query reports them.
constexpr uint32_t kModeMono = 0, kModeStereo = 1, kModeDual = 2, kModeJoint = 3;
// The frame of a stream that states no rate (100-ns units): 25 frames a second.
constexpr int64_t kUnstampedFrame = 400000;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

uint32_t Le32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

bool Tag(const uint8_t* p, const char* tag) {
    return memcmp(p, tag, 4) == 0;
}

std::vector<uint8_t> ReadHead(std::FILE* file, size_t limit) {
    std::vector<uint8_t> bytes(limit);
    bytes.resize(std::fread(bytes.data(), 1, limit, file));
    return bytes;
}

struct AviStream {
    bool video = false;
    bool audio = false;
    bool dv = false;
    bool interleaved = false;  // a type-1 DV stream ("iavs"): picture and sound in one
    uint32_t scale = 0, rate = 0, length = 0;
    uint32_t width = 0, height = 0;
    MediaFacts wave;  // an audio stream's format (its audio fields)
};

// A WAVEFORMATEX of at least 16 bytes: tag, channels, rate, bytes a second, block, bits.
void ReadWaveFormat(const uint8_t* b, MediaFacts* wave) {
    wave->audioFormatTag = b[0] | (b[1] << 8);
    wave->audioChannels = b[2] | (b[3] << 8);
    wave->audioSampleRate = Le32(b + 4);
    wave->audioBitRate = static_cast<uint32_t>(std::min<uint64_t>(uint64_t(Le32(b + 8)) * 8, UINT32_MAX));
    wave->audioBits = b[14] | (b[15] << 8);
    if (wave->audioFormatTag != kWavePcm) wave->audioBits = 0;  // no sample size of its own
    wave->audioChannelMode = wave->audioChannels == 1 ? kModeMono : kModeStereo;
}

// The audio fields of `from` into `to`.
void TakeAudio(const MediaFacts& from, MediaFacts* to) {
    to->audioFormatTag = from.audioFormatTag;
    to->audioSampleRate = from.audioSampleRate;
    to->audioChannels = from.audioChannels;
    to->audioBits = from.audioBits;
    to->audioBitRate = from.audioBitRate;
    to->audioChannelMode = from.audioChannelMode;
}

// Walks the chunks of [p, end) (RIFF chunk framing: tag, little-endian size, body padded to
// an even size), calling `visit` with each tag, body and body size that lie wholly inside.
template <typename Visit>
bool WalkChunks(const uint8_t* p, const uint8_t* end, Visit&& visit) {
    for (int count = 0; end - p >= 8 && count < 4096; ++count) {
        const uint32_t size = Le32(p + 4);
        if (size > static_cast<size_t>(end - p - 8)) return false;
        if (!visit(p, p + 8, size)) return true;
        p += 8 + size + (size & 1);
    }
    return true;
}

ProbeResult ProbeAvi(const std::vector<uint8_t>& head, MediaFacts* facts) {
    const uint8_t* end = head.data() + head.size();
    const uint8_t* hdrl = nullptr;
    uint32_t hdrlSize = 0;
    WalkChunks(head.data() + 12, end, [&](const uint8_t* tag, const uint8_t* body, uint32_t size) {
        if (Tag(tag, "LIST") && size >= 4 && Tag(body, "hdrl")) {
            hdrl = body + 4;
            hdrlSize = size - 4;
            return false;
        }
        return true;
    });
    if (!hdrl) return ProbeResult::kDamaged;
    uint32_t avihWidth = 0, avihHeight = 0;
    std::vector<AviStream> streams;
    WalkChunks(hdrl, hdrl + hdrlSize, [&](const uint8_t* tag, const uint8_t* body, uint32_t size) {
        if (Tag(tag, "avih") && size >= 40) {
            avihWidth = Le32(body + 32);
            avihHeight = Le32(body + 36);
        } else if (Tag(tag, "LIST") && size >= 4 && Tag(body, "strl") && streams.size() < 64) {
            AviStream stream;
            WalkChunks(body + 4, body + size, [&](const uint8_t* t, const uint8_t* b, uint32_t s) {
                if (Tag(t, "strh") && s >= 36) {
                    stream.interleaved = Tag(b, "iavs");
                    stream.video = Tag(b, "vids") || stream.interleaved;
                    stream.audio = Tag(b, "auds");
                    stream.dv = stream.interleaved ||
                                (stream.video && (memcmp(b + 4, "dvsd", 4) == 0 || memcmp(b + 4, "DVSD", 4) == 0));
                    stream.scale = Le32(b + 20);
                    stream.rate = Le32(b + 24);
                    stream.length = Le32(b + 32);
                } else if (Tag(t, "strf") && stream.audio && s >= 16) {
                    ReadWaveFormat(b, &stream.wave);
                } else if (Tag(t, "strf") && stream.video && !stream.interleaved && s >= 16) {
                    // BITMAPINFOHEADER: width at 4, height (negative when top-down) at 8.
                    stream.width = Le32(b + 4);
                    const int32_t height = static_cast<int32_t>(Le32(b + 8));
                    stream.height = static_cast<uint32_t>(height < 0 ? -static_cast<int64_t>(height) : height);
                }
                return true;
            });
            streams.push_back(stream);
        }
        return true;
    });
    facts->formatClass = profiles::kClassAvi;
    const bool sound = std::any_of(streams.begin(), streams.end(), [](const AviStream& s) { return s.audio; });
    for (const AviStream& s : streams)
        if (s.audio) {
            TakeAudio(s.wave, facts);
            break;
        }
    for (const AviStream& s : streams) {
        if (!s.video) continue;
        // One picture and no sound is a still, which does not play.
        facts->kind = s.length == 1 && !sound ? 2 : 1;
        if (s.dv) facts->formatClass = profiles::kClassDv;
        facts->width = s.width ? s.width : avihWidth;
        facts->height = s.height ? s.height : avihHeight;
        if (s.scale && s.rate) {
            facts->frameRate = static_cast<float>(static_cast<double>(s.rate) / s.scale);
            facts->duration = static_cast<int64_t>(static_cast<long double>(s.length) * s.scale * 10000000 / s.rate);
        }
        return ProbeResult::kOk;
    }
    for (const AviStream& s : streams) {
        if (!s.audio) continue;
        facts->kind = 3;
        if (s.scale && s.rate)
            facts->duration = static_cast<int64_t>(static_cast<long double>(s.length) * s.scale * 10000000 / s.rate);
        return ProbeResult::kOk;
    }
    return ProbeResult::kDamaged;
}

// The first MPEG video sequence header in `head` (ISO/IEC 13818-2 6.2.2.1): frame size,
// frame rate and bit rate (units of 400 bit/s).
bool ReadSequenceHeader(const std::vector<uint8_t>& head, MediaFacts* facts) {
    for (size_t i = 0; i + 12 <= head.size(); ++i) {
        if (head[i] != 0 || head[i + 1] != 0 || head[i + 2] != 1 || head[i + 3] != 0xB3) continue;
        const uint8_t* p = head.data() + i + 4;
        facts->width = (p[0] << 4) | (p[1] >> 4);
        facts->height = ((p[1] & 0x0F) << 8) | p[2];
        facts->frameRate = static_cast<float>(editor::FrameRateFromCode(p[3] & 0x0F));
        const uint32_t bitRate = (p[4] << 10) | (p[5] << 2) | (p[6] >> 6);
        facts->videoBitRate = bitRate == 0x3FFFF ? 0 : bitRate * 400;
        return facts->width && facts->height;
    }
    return false;
}

// The first H.264 sequence parameter set in `head` (ITU-T H.264 clauses 7.3.2.1.1 and
// E.1.1): the cropped frame size and, with VUI timing, the frame rate (a frame lasting two
// ticks, clause E.2.1). The set is taken as far as the next start code or the end of the
// head; a set a PES header splits is not read.
bool ReadH264Sps(const std::vector<uint8_t>& head, MediaFacts* facts) {
    for (size_t i = 0; i + 4 < head.size(); ++i) {
        if (head[i] != 0 || head[i + 1] != 0 || head[i + 2] != 1 || (head[i + 3] & 0x1F) != 7) continue;
        const size_t begin = i + 4;
        size_t end = begin;
        while (end + 3 <= head.size() && !(head[end] == 0 && head[end + 1] == 0 && head[end + 2] <= 1))
            ++end;
        if (end + 3 > head.size()) end = head.size();
        std::vector<uint8_t> rbsp(end - begin);
        const common::EscapeResult unescaped =
            common::RemoveEmulationPrevention(std::span<const uint8_t>(head.data() + begin, end - begin), rbsp);
        rbsp.resize(unescaped.written);
        common::H264Sps sps;
        if (common::ParseH264Sps(rbsp, &sps) != common::SpsResult::kOk) continue;
        // Crop units of clause 7.4.2.1.1 for 4:2:0 / 4:2:2 / 4:4:4 and frame or field coding.
        const int chroma = sps.separate_colour_plane_flag ? 0 : sps.chroma_format_idc;
        const uint32_t cropX = chroma == 1 || chroma == 2 ? 2 : 1;
        const uint32_t cropY = (chroma == 1 ? 2 : 1) * (2 - sps.frame_mbs_only_flag);
        const uint32_t width = (sps.pic_width_in_mbs_minus1 + 1) * 16;
        const uint32_t height = (sps.pic_height_in_map_units_minus1 + 1) * 16 * (2 - sps.frame_mbs_only_flag);
        uint32_t cropW = 0, cropH = 0;
        if (sps.frame_cropping_flag) {
            cropW = cropX * (sps.frame_crop_left_offset + sps.frame_crop_right_offset);
            cropH = cropY * (sps.frame_crop_top_offset + sps.frame_crop_bottom_offset);
        }
        if (cropW >= width || cropH >= height) continue;
        facts->width = width - cropW;
        facts->height = height - cropH;
        if (sps.vui_parameters_present_flag && sps.timing_info_present_flag && sps.num_units_in_tick)
            facts->frameRate = static_cast<float>(double(sps.time_scale) / (2.0 * sps.num_units_in_tick));
        return true;
    }
    return false;
}

// Decode times of the H.264 access units in a stretch of a program stream. A PES time
// stamp belongs to the first access unit that begins in its packet (ISO/IEC 13818-1
// 2.4.3.7), and muxers put several small units in one packet, so a unit without a stamp is
// timed one frame after the unit before it.
class H264UnitClock final : public muxer::CMuxInputParser {
public:
    explicit H264UnitClock(int64_t frame) : frame_(frame) { SetH264VideoWanted(true); }

    void Read(const std::vector<uint8_t>& bytes) {
        for (size_t at = 0; at < bytes.size(); at += kPiece) {
            const size_t n = std::min(kPiece, bytes.size() - at);
            if (!Append(bytes.data() + at, static_cast<int32_t>(n))) return;
            Parse();
        }
        Finish();
    }

    // Every unit of a whole file, in blocks; false when the file cannot be read to its end.
    bool ReadAll(std::FILE* file) {
        std::vector<uint8_t> block(kPiece);
        for (;;) {
            const size_t n = std::fread(block.data(), 1, block.size(), file);
            if (n == 0) break;
            if (!Append(block.data(), static_cast<int32_t>(n))) return false;
            Parse();
        }
        Finish();
        return !std::ferror(file);
    }

    std::optional<int64_t> first, last;  // decode times of the first and last unit, 100 ns
    std::optional<int64_t> lowStamp, highStamp;
    int64_t unitCount = 0;  // units begun, stamped or not

protected:
    muxer::MuxStream* OnNewStream(muxer::StreamType type, const muxer::StreamMediaType&) override {
        if (type != muxer::StreamType::H264Video || found_) return nullptr;
        found_ = true;
        return reinterpret_cast<muxer::MuxStream*>(this);  // only handed back: the one stream read
    }
    bool DeliverPayload(muxer::MuxStream*, const uint8_t* data, int32_t size, std::optional<int64_t> pts,
                        std::optional<int64_t> dts) override {
        stamp_ = dts ? dts : pts;
        if (pts) {
            lowStamp = lowStamp ? std::min(*lowStamp, *pts) : *pts;
            highStamp = highStamp ? std::max(*highStamp, *pts) : *pts;
        }
        units_.Feed(data, size, [this](int64_t) { UnitBegins(); });
        return true;
    }

private:
    static constexpr size_t kPiece = 65536;

    void UnitBegins() {
        ++unitCount;
        if (stamp_) {
            last = stamp_;
            stamp_.reset();
        } else if (last && frame_ > 0) {
            *last += frame_;
        } else {
            return;  // a unit before the first stamp: not timed
        }
        if (!first) first = last;
    }

    const int64_t frame_;
    bool found_ = false;
    std::optional<int64_t> stamp_;  // the packet's stamp, until a unit takes it
    H264UnitFinder units_;
};

// H.264 video in an MPEG-2 program stream, which the MPEG scans do not time: from the
// first unit's decode time in the first megabyte to the last unit's in the last, plus one
// frame (a constant frame rate shifts presentation and decode times alike). Without a
// frame rate, the span of the stamps. A stream without any time stamp (a raw stream with
// B pictures copied by a muxer that cannot order them) lasts as many frames as it has
// units, at the stream's rate or at 25 frames a second.
bool ProbeH264ProgramStream(const std::string& path, const std::vector<uint8_t>& head, MediaFacts* facts) {
    MediaFacts found = *facts;
    if (!ReadH264Sps(head, &found)) return false;
    const int64_t frame = found.frameRate > 0 ? static_cast<int64_t>(1e7 / found.frameRate + 0.5) : 0;
    File file(std::fopen(path.c_str(), "rb"));
    if (!file) return false;
    const int64_t tailStart = found.fileBytes > int64_t(kHeaderBytes) ? found.fileBytes - int64_t(kHeaderBytes) : 0;
    if (editor::SeekFile(file.get(), tailStart, SEEK_SET) != tailStart) return false;
    auto start = std::make_unique<H264UnitClock>(frame);
    start->Read(head);
    auto end = std::make_unique<H264UnitClock>(frame);
    end->Read(ReadHead(file.get(), kHeaderBytes));
    if (frame > 0 && start->first && end->last && *end->last >= *start->first) {
        found.duration = *end->last - *start->first + frame;
    } else if (start->lowStamp && end->highStamp && *end->highStamp >= *start->lowStamp) {
        found.duration = *end->highStamp - *start->lowStamp;
    } else if (!start->lowStamp && !end->highStamp) {
        if (editor::SeekFile(file.get(), 0, SEEK_SET) != 0) return false;
        auto all = std::make_unique<H264UnitClock>(frame);
        if (!all->ReadAll(file.get()) || all->lowStamp || all->unitCount == 0) return false;
        found.duration = all->unitCount * (frame > 0 ? frame : kUnstampedFrame);
    } else {
        return false;
    }
    found.kind = 1;
    found.formatClass = profiles::kClassH264;
    *facts = found;
    return true;
}

// An MPEG audio frame header (ISO/IEC 11172-3 2.4.2.3, with the lower rates of ISO/IEC
// 13818-3 and of the 2.5 extension) at `p`: format, rate, channels, bit rate and mode.
bool ReadMpegAudioHeader(const uint8_t* p, MediaFacts* audio) {
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return false;
    const int version = (p[1] >> 3) & 3;  // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    const int layer = 4 - ((p[1] >> 1) & 3);
    const int rateIndex = p[2] >> 4, sampling = (p[2] >> 2) & 3;
    if (version == 1 || layer == 4 || rateIndex == 0 || rateIndex == 15 || sampling == 3) return false;
    static const uint16_t kKbps[2][3][14] = {{{32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
                                              {32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
                                              {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
                                             {{32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
                                              {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
                                              {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};
    static const uint32_t kRates[3] = {44100, 48000, 32000};
    const int mode = p[3] >> 6;  // 0 stereo, 1 joint stereo, 2 dual channel, 3 single channel
    static const uint32_t kModes[4] = {kModeStereo, kModeJoint, kModeDual, kModeMono};
    audio->audioFormatTag = layer == 3 ? kWaveMpegLayer3 : kWaveMpeg;
    audio->audioSampleRate = kRates[sampling] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
    audio->audioChannels = mode == 3 ? 1 : 2;
    audio->audioBits = 0;
    audio->audioBitRate = kKbps[version == 3 ? 0 : 1][layer - 1][rateIndex - 1] * 1000u;
    audio->audioChannelMode = kModes[mode];
    return true;
}

// An AC-3 synchronisation frame's header (ATSC A/52 5.3.1 and 5.4.2) at `p` (8 bytes).
bool ReadAc3Header(const uint8_t* p, MediaFacts* audio) {
    if (p[0] != 0x0B || p[1] != 0x77) return false;
    const int sampling = p[4] >> 6, frameSize = p[4] & 0x3F;
    if (sampling == 3 || frameSize >= 38 || (p[5] >> 3) > 10) return false;  // bsid above 10: not A/52
    static const uint16_t kKbps[19] = {32,  40,  48,  56,  64,  80,  96,  112, 128, 160,
                                       192, 224, 256, 320, 384, 448, 512, 576, 640};
    static const uint32_t kRates[3] = {48000, 44100, 32000};
    static const uint8_t kChannels[8] = {2, 1, 2, 3, 3, 4, 4, 5};
    const int acmod = p[6] >> 5;
    // lfeon follows acmod behind the mixing levels the coding mode carries (2 bits each).
    int bit = 3 + ((acmod & 1) && acmod != 1 ? 2 : 0) + ((acmod & 4) ? 2 : 0) + (acmod == 2 ? 2 : 0);
    const uint16_t rest = static_cast<uint16_t>((p[6] << 8) | p[7]);
    const bool lfe = (rest >> (15 - bit)) & 1;
    audio->audioFormatTag = kWaveAc3;
    audio->audioSampleRate = kRates[sampling];
    audio->audioChannels = kChannels[acmod] + (lfe ? 1 : 0);
    audio->audioBits = 0;
    audio->audioBitRate = kKbps[frameSize / 2] * 1000u;
    audio->audioChannelMode = acmod == 0 ? kModeDual : acmod == 1 ? kModeMono : kModeStereo;
    return true;
}

// The format of a program stream's first audio stream, from the first frame header in the
// packets of `head`: MPEG audio (stream ids 0xC0-0xDF) or AC-3 (private stream 1 behind a
// DVD substream header 0x80-0x87). PES headers of MPEG-1 (ISO/IEC 11172-1 2.4.3.3) and
// MPEG-2 (ISO/IEC 13818-1 2.4.3.6) form; packs and other packets are stepped over by their
// lengths, and damage by a search for the next start code.
bool FindProgramStreamAudio(const std::vector<uint8_t>& head, MediaFacts* audio) {
    const uint8_t* p = head.data();
    const size_t size = head.size();
    int stream = -1;  // the id (or AC-3 substream id) of the stream taken
    for (size_t at = 0; at + 6 <= size;) {
        if (p[at] != 0 || p[at + 1] != 0 || p[at + 2] != 1) {
            ++at;
            continue;
        }
        const uint8_t id = p[at + 3];
        if (id == 0xBA) {  // pack header: MPEG-2 with '01' and a stuffing length, MPEG-1 12 bytes
            if (at + 14 > size) break;
            at += (p[at + 4] & 0xC0) == 0x40 ? 14 + (p[at + 13] & 7) : 12;
            continue;
        }
        if (id < 0xBB) {
            at += 4;
            continue;
        }
        const size_t end = at + 6 + ((size_t(p[at + 4]) << 8) | p[at + 5]);
        if (end > size) break;
        if (id == 0xBD || (id >= 0xC0 && id <= 0xDF)) {
            size_t h = at + 6;
            if (h < end && (p[h] & 0xC0) == 0x80) {
                h = h + 3 <= end ? h + 3 + p[h + 2] : end;
            } else {
                while (h < end && p[h] == 0xFF && h - at < 6 + 16)  // stuffing
                    ++h;
                if (h < end && (p[h] & 0xC0) == 0x40) h += 2;  // STD buffer size
                if (h < end) h += (p[h] & 0xF0) == 0x20 ? 5 : (p[h] & 0xF0) == 0x30 ? 10 : 1;
            }
            int key = id;
            if (id == 0xBD) {
                key = h < end ? p[h] : -1;
                if (key < 0x80 || key > 0x87) key = -1;
                h += 4;  // substream id, frame count, first access unit pointer
            }
            if (key >= 0 && (stream < 0 || stream == key)) {
                for (size_t i = h; i + 8 <= end; ++i) {
                    const bool found =
                        key >= 0x80 && key <= 0x87 ? ReadAc3Header(p + i, audio) : ReadMpegAudioHeader(p + i, audio);
                    if (found) return true;
                }
                stream = key;  // the first audio stream, even where this packet held no header
            }
        }
        at = end;
    }
    return false;
}

ProbeResult ProbeProgramStream(const std::string& path, const std::vector<uint8_t>& head, MediaFacts* facts) {
    const int type = editor::GetMpegFileTypeEx(path);
    switch (type) {
        case editor::kFileMpeg1:
            facts->formatClass = profiles::kClassMpeg1;
            break;
        case editor::kFileMpeg2:
            facts->formatClass = profiles::kClassMpeg2;
            break;
        case editor::kFileVcd:
            facts->formatClass = profiles::kClassVcd;
            break;
        case editor::kFileSvcd:
            facts->formatClass = profiles::kClassSvcd;
            break;
        default:
            return ProbeResult::kUnknownFormat;
    }
    const bool mpeg1 = type == editor::kFileMpeg1 || type == editor::kFileVcd;
    int64_t dataOffset = 0;
    const bool sectors = editor::GetCdxaDataOffset(path, &dataOffset);
    if (!sectors) dataOffset = 0;
    // H.264 first: the MPEG scans need time stamps, which an H.264 stream may lack.
    if (!mpeg1 && !sectors && ProbeH264ProgramStream(path, head, facts)) return ProbeResult::kOk;
    editor::ClipStart start;
    editor::ClipEnd end;
    if (!editor::ScanClipStart(mpeg1, path, sectors, dataOffset, &start) ||
        !editor::ScanClipEnd(mpeg1, path, start, sectors, dataOffset, &end))
        return ProbeResult::kDamaged;
    if (start.firstVideoTime != editor::kNoTime && end.videoEnd > start.firstVideoTime) {
        facts->duration = end.videoEnd - start.firstVideoTime;
        ReadSequenceHeader(head, facts);
        // One picture (a span of at most one frame) and no sound is a still.
        const bool onePicture = facts->frameRate > 0 && facts->duration * facts->frameRate <= 1.5e7;
        facts->kind = onePicture && start.firstAudioTime == editor::kNoTime ? 2 : 1;
    } else if (start.firstAudioTime != editor::kNoTime && end.audioEnd > start.firstAudioTime) {
        facts->kind = 3;
        facts->duration = end.audioEnd - start.firstAudioTime;
    } else {
        return ProbeResult::kDamaged;
    }
    return ProbeResult::kOk;
}

// MPEG-2 transport streams (ISO/IEC 13818-1 2.4.3): 188-byte packets, the program
// association table on PID 0 naming the program map, which names the elementary streams.
constexpr size_t kTsPacket = 188;
// Packet starts that must all hold the sync byte before the bytes are taken as packets.
constexpr size_t kTsSyncRun = 5;
// A PSI section is at most 1024 bytes (2.4.4.3); a longer one is refused.
constexpr size_t kTsMaxSection = 1024;
// PTS and DTS count a 90 kHz clock modulo 2^33 (2.4.3.7).
constexpr int64_t kPtsWrap = int64_t{1} << 33;

// The first offset in `bytes`, among the first packet's worth, from which kTsSyncRun packet
// starts (or as many as the bytes hold, at least two) all hold the sync byte 0x47.
std::optional<size_t> FindTsSync(const std::vector<uint8_t>& bytes, size_t from = 0) {
    for (size_t at = from; at < from + kTsPacket && at < bytes.size(); ++at) {
        const size_t whole = (bytes.size() - at) / kTsPacket;
        if (whole < 2) break;
        const size_t run = std::min(whole, kTsSyncRun);
        size_t k = 0;
        while (k < run && bytes[at + k * kTsPacket] == 0x47)
            ++k;
        if (k == run) return at;
    }
    return std::nullopt;
}

// Calls visit(pid, unitStart, payload, size) for each whole packet with a payload, from the
// first aligned run of sync bytes on; a packet whose sync byte is gone is skipped by
// finding the sync again.
template <typename Visit>
void ForEachTsPacket(const std::vector<uint8_t>& bytes, Visit&& visit) {
    std::optional<size_t> at = FindTsSync(bytes);
    while (at && *at + kTsPacket <= bytes.size()) {
        const uint8_t* p = bytes.data() + *at;
        if (p[0] != 0x47) {
            at = FindTsSync(bytes, *at + 1);
            continue;
        }
        *at += kTsPacket;
        // The adaptation field (2.4.3.4) takes its length byte plus that many bytes.
        const size_t adaptation = (p[3] & 0x20) ? size_t{p[4]} + 1 : 0;
        if (!(p[3] & 0x10) || adaptation > kTsPacket - 5) continue;
        const uint16_t pid = static_cast<uint16_t>(((p[1] & 0x1F) << 8) | p[2]);
        visit(pid, (p[1] & 0x40) != 0, p + 4 + adaptation, kTsPacket - 4 - adaptation);
    }
}

// The first whole section of `table` carried on `pid` (2.4.4): its bytes from table_id to
// the end of section_length, the CRC not checked. Empty when none is whole and sound.
std::vector<uint8_t> ReadTsSection(const std::vector<uint8_t>& bytes, uint16_t pid, uint8_t table) {
    std::vector<uint8_t> section, found;
    ForEachTsPacket(bytes, [&](uint16_t packetPid, bool unitStart, const uint8_t* payload, size_t size) {
        if (packetPid != pid || !found.empty()) return;
        if (unitStart) {
            const size_t pointer = payload[0];
            section.clear();
            if (1 + pointer >= size) return;
            section.assign(payload + 1 + pointer, payload + size);
        } else if (!section.empty()) {
            section.insert(section.end(), payload, payload + size);
        }
        if (section.size() < 3) return;
        const size_t length = ((section[1] & 0x0F) << 8) | section[2];
        // section_syntax_indicator set; the length covers the 5 header bytes and the CRC.
        if (section[0] != table || !(section[1] & 0x80) || length < 9 || 3 + length > kTsMaxSection) {
            section.clear();
            return;
        }
        if (section.size() < 3 + length) return;  // the rest is in the next packets
        section.resize(3 + length);
        found.swap(section);
    });
    return found;
}

struct TsStream {
    uint16_t pid = 0;
    uint8_t type = 0;  // stream_type (Table 2-34)
};

// The stream the probe times: the first video stream of the first program (H.264, MPEG-2
// or MPEG-1 video), else its first audio stream. Type 0 when the tables are missing or
// unsound.
TsStream PickTsStream(const std::vector<uint8_t>& head) {
    const std::vector<uint8_t> pat = ReadTsSection(head, 0, 0x00);
    std::optional<uint16_t> pmtPid;
    // Program loop: program_number, then the PMT's PID; program 0 names the network PID.
    for (size_t at = 8; !pat.empty() && at + 4 <= pat.size() - 4 && !pmtPid; at += 4)
        if ((pat[at] << 8 | pat[at + 1]) != 0) pmtPid = static_cast<uint16_t>((pat[at + 2] & 0x1F) << 8 | pat[at + 3]);
    if (!pmtPid) return {};
    const std::vector<uint8_t> pmt = ReadTsSection(head, *pmtPid, 0x02);
    if (pmt.size() < 16) return {};
    const size_t end = pmt.size() - 4;  // the CRC_32
    TsStream video, audio;
    for (size_t at = 12 + (((pmt[10] & 0x0F) << 8) | pmt[11]); at + 5 <= end;) {
        const TsStream stream{static_cast<uint16_t>((pmt[at + 1] & 0x1F) << 8 | pmt[at + 2]), pmt[at]};
        at += 5 + (((pmt[at + 3] & 0x0F) << 8) | pmt[at + 4]);
        if (at > end) return {};  // the ES_info runs past the section
        const uint8_t t = stream.type;
        if (!video.type && (t == 0x1B || t == 0x02 || t == 0x01)) video = stream;
        // MPEG-1/2 audio, AAC (ADTS, LATM), AC-3 as ATSC codes it.
        if (!audio.type && (t == 0x03 || t == 0x04 || t == 0x0F || t == 0x11 || t == 0x81)) audio = stream;
    }
    return video.type ? video : audio;
}

// The PTS of the PES packets of `pid` in `bytes`, in 90 kHz ticks, and (when `es` is given)
// the stream's payload bytes, PES headers taken out.
void ReadTsPes(const std::vector<uint8_t>& bytes, uint16_t pid, std::vector<int64_t>* stamps,
               std::vector<uint8_t>* es) {
    ForEachTsPacket(bytes, [&](uint16_t packetPid, bool unitStart, const uint8_t* p, size_t size) {
        if (packetPid != pid) return;
        if (unitStart) {
            // PES header (2.4.3.6): start code, stream_id, length, two flag bytes, its length.
            if (size < 9 || p[0] != 0 || p[1] != 0 || p[2] != 1 || (p[6] & 0xC0) != 0x80) return;
            const size_t header = size_t{p[8]} + 9;
            if (header > size) return;
            // PTS_DTS_flags '10' or '11': the PTS's 33 bits with their marker bits.
            if ((p[7] & 0x80) && header >= 14 && (p[11] & 1) && (p[13] & 1))
                stamps->push_back((int64_t{p[9] & 0x0E} << 29) | (p[10] << 22) | ((p[11] >> 1) << 15) | (p[12] << 7) |
                                  (p[13] >> 1));
            p += header;
            size -= header;
        }
        if (es) es->insert(es->end(), p, p + size);
    });
}

// A transport stream: frame size and rate from the first sequence parameter set or
// sequence header in the head, the duration from the earliest PTS in the first megabyte to
// the end of the latest packet in the last.
ProbeResult ProbeTransportStream(const std::string& path, const std::vector<uint8_t>& head, MediaFacts* facts) {
    const TsStream stream = PickTsStream(head);
    if (!stream.type) return ProbeResult::kDamaged;
    std::vector<int64_t> headStamps, tailStamps;
    std::vector<uint8_t> es;
    ReadTsPes(head, stream.pid, &headStamps, &es);
    const bool video = stream.type == 0x1B || stream.type == 0x02 || stream.type == 0x01;
    if (video) {
        if (stream.type == 0x1B ? !ReadH264Sps(es, facts) : !ReadSequenceHeader(es, facts))
            return ProbeResult::kDamaged;
        facts->kind = 1;
        facts->formatClass = stream.type == 0x1B   ? profiles::kClassH264
                             : stream.type == 0x02 ? profiles::kClassMpeg2
                                                   : profiles::kClassMpeg1;
    } else {
        facts->kind = 3;
        facts->formatClass = profiles::kClassMpeg2;
    }
    if (facts->fileBytes > int64_t(kHeaderBytes)) {
        File file(std::fopen(path.c_str(), "rb"));
        const int64_t tailStart = facts->fileBytes - int64_t(kHeaderBytes);
        if (!file || editor::SeekFile(file.get(), tailStart, SEEK_SET) != tailStart) return ProbeResult::kDamaged;
        ReadTsPes(ReadHead(file.get(), kHeaderBytes), stream.pid, &tailStamps, nullptr);
    } else {
        tailStamps = headStamps;
    }
    if (headStamps.empty() || tailStamps.empty()) return ProbeResult::kDamaged;
    // Stamps count from the head's first, across a wrap of the 33-bit clock: near ones
    // (within half the clock) are taken as before or after it, the tail's as after it.
    const int64_t origin = headStamps.front();
    int64_t first = 0, last = 0;
    for (const int64_t t : headStamps) {
        int64_t d = (t - origin + kPtsWrap) % kPtsWrap;
        if (d >= kPtsWrap / 2) d -= kPtsWrap;
        first = std::min(first, d);
    }
    // The last packet lasts a frame of video; of audio (several frames in a packet), as
    // long as the packet before it.
    int64_t beforeLast = -1;
    for (const int64_t t : tailStamps) {
        const int64_t d = (t - origin + kPtsWrap) % kPtsWrap;
        if (d > last)
            beforeLast = std::exchange(last, d);
        else if (d < last && d > beforeLast)
            beforeLast = d;
    }
    if (last < first) return ProbeResult::kDamaged;
    int64_t lastLasts = 0;
    if (video && facts->frameRate > 0)
        lastLasts = static_cast<int64_t>(1e7 / facts->frameRate + 0.5);
    else if (!video && beforeLast >= 0)
        lastLasts = (last - beforeLast) * 1000 / 9;
    facts->duration = (last - first) * 1000 / 9 + lastLasts;
    if (facts->duration <= 0) return ProbeResult::kDamaged;
    return ProbeResult::kOk;
}

}  // namespace

ProbeResult ProbeMedia(const std::string& path, MediaFacts* facts) {
    File file(std::fopen(path.c_str(), "rb"));
    if (!file) return ProbeResult::kCannotOpen;
    MediaFacts found;
    if (editor::SeekFile(file.get(), 0, SEEK_END) < 0) return ProbeResult::kCannotOpen;
    found.fileBytes = editor::SeekFile(file.get(), 0, SEEK_CUR);
    if (found.fileBytes < 0 || editor::SeekFile(file.get(), 0, SEEK_SET) != 0) return ProbeResult::kCannotOpen;
    const std::vector<uint8_t> head = ReadHead(file.get(), kHeaderBytes);
    file.reset();
    ProbeResult result = ProbeResult::kUnknownFormat;
    if (head.size() >= 12 && Tag(head.data(), "RIFF") && Tag(head.data() + 8, "AVI "))
        result = ProbeAvi(head, &found);
    else if (FindTsSync(head))
        result = ProbeTransportStream(path, head, &found);
    else if (head.size() >= 4)
        result = ProbeProgramStream(path, head, &found);
    if (result == ProbeResult::kOk && found.formatClass != profiles::kClassAvi &&
        found.formatClass != profiles::kClassDv) {
        MediaFacts audio;
        if (FindProgramStreamAudio(head, &audio)) TakeAudio(audio, &found);
    }
    if (result == ProbeResult::kOk) *facts = found;
    return result;
}

}  // namespace engines
