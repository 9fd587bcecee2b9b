#include "app/profiles/profile_file.h"

#include <charconv>
#include <cstring>
#include <limits>
#include <memory>
#include <type_traits>

namespace profiles {
namespace {

// ---- Writing. Numbers in the C locale's form: decimal, Attribute in hexadecimal, reals
// with six decimals.

class BlockWriter {
public:
    explicit BlockWriter(std::string& out) : out_(out) {}

    void Raw(std::string_view text) {
        out_.append(text);
        out_.append(kProfileLineEnd);
    }
    // A one-line text from a fixed array; a line break would start a line of its own.
    void Text(std::string_view tag, const char* value, size_t capacity) {
        out_.append(tag);
        size_t n = strnlen(value, capacity);
        for (size_t i = 0; i < n; ++i)
            out_.push_back(value[i] == '\r' || value[i] == '\n' ? ' ' : value[i]);
        out_.append(kProfileLineEnd);
    }
    template <typename T>
    void Number(std::string_view tag, T value, int base = 10) {
        char digits[32];
        auto r = std::to_chars(digits, digits + sizeof digits, value, base);
        out_.append(tag);
        out_.append(digits, r.ptr);
        out_.append(kProfileLineEnd);
    }
    void Real(std::string_view tag, double value) {
        char digits[400];
        auto r = std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, 6);
        out_.append(tag);
        out_.append(digits, r.ptr);
        out_.append(kProfileLineEnd);
    }
    // Escapes what would end a description or break a line: "<", "&", and, when
    // `oneLine`, line breaks.
    void Escaped(std::string_view text, bool oneLine) {
        for (char c : text) {
            if (c == '<')
                out_.append("&lt;");
            else if (c == '&')
                out_.append("&amp;");
            else if (oneLine && c == '\n')
                out_.append("&#10;");
            else if (oneLine && c == '\r')
                out_.append("&#13;");
            else
                out_.push_back(c);
        }
    }
    void Description(const char* text, size_t capacity) {
        Raw("<Description>");
        std::string_view rest(text, strnlen(text, capacity));
        while (!rest.empty()) {
            size_t nl = rest.find('\n');
            std::string_view line = rest.substr(0, nl);
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            Escaped(line, false);
            out_.append(kProfileLineEnd);
            if (nl == std::string_view::npos) break;
            rest.remove_prefix(nl + 1);
        }
    }

private:
    std::string& out_;
};

void WriteAudio(BlockWriter& w, const ProfileAudioFormat& a, bool bitRateIsCode) {
    w.Number("<Encoder Type>", a.encoderType);
    w.Number("<Audio Layer>", a.layer);
    w.Number("<Audio Mode>", a.audioMode);
    if (!bitRateIsCode) {
        w.Number("<Audio BitRate>", a.bitRate);
    } else if (int64_t bps; AudioBitRateFromCode(a.bitRate, &bps)) {
        w.Number("<Audio BitRate>", bps);
    }
    w.Number("<Audio Channels>", a.channels);
    w.Number("<Audio SamplesPerSec>", a.samplesPerSecCode);
    w.Number("<Audio BitsPerSample>", a.bitsPerSample);
    w.Number("<Misc>", a.misc);
    w.Number("<SamplesPerFrame>", a.samplesPerFrame);
}

struct MpegTag {
    const char* tag;
    uint32_t id;
};
// The MPEG parameter lines in file order; 0xC115 has none (it follows Field Order).
constexpr MpegTag kMpegTags[] = {
    {"<Video BitRate>", kParamVideoBitRate},
    {"<Min BitRate>", kParamMinBitRate},
    {"<Max BitRate>", kParamMaxBitRate},
    {"<Video Quality>", kParamVideoQuality},
    {"<Video Width>", kParamWidth},
    {"<Video Height>", kParamHeight},
    {"<Frame Rate>", kParamFrameRate},
    {"<Pattern>", kParamPattern},
    {"<Pre Processing>", kParamPreProcessing},
    {"<Resize>", kParamResize},
    {"<Flip Video>", kParamFlipVideo},
    {"<Speed Quality Indicator>", kParamSpeedQuality},
    {"<Interlacing>", kParamInterlacing},
    {"<Active Encoder>", kParamActiveEncoder},
    {"<App Type>", kParamAppType},
    {"<Dynamic GOP>", kParamDynamicGop},
};

void WriteMpeg(BlockWriter& w, const MpegBlock& b) {
    for (const MpegTag& t : kMpegTags) {
        const MpegParam* p = FindMpegParam(b, t.id);
        if (p == nullptr) continue;
        if (t.id == kParamFrameRate)
            w.Real(t.tag, p->value.f);
        else if (t.id == kParamPattern)
            w.Text(t.tag, p->value.text, kPatternSize);
        else
            w.Number(t.tag, p->value.i);
    }
    if (b.streamBlockCount >= 1 && b.streams[0].type == kStreamBlockAudio) WriteAudio(w, b.streams[0].audio, true);
}

// A class line that holds one 32-bit field of a class block.
enum class FieldKind { kSigned, kUnsigned, kReal };
struct FieldTag {
    const char* tag;
    size_t offset;
    FieldKind kind;
};

constexpr FieldTag kDvTags[] = {
    {"<VideoFormat>", offsetof(DvBlock, videoFormat), FieldKind::kUnsigned},
    {"<AudioFormat>", offsetof(DvBlock, audioFormat), FieldKind::kUnsigned},
    {"<Channel>", offsetof(DvBlock, channel), FieldKind::kUnsigned},
    {"<FileFormat>", offsetof(DvBlock, fileFormat), FieldKind::kUnsigned},
};
constexpr FieldTag kRealTags[] = {
    {"<Video Width>", offsetof(RealBlock, width), FieldKind::kUnsigned},
    {"<Video Height>", offsetof(RealBlock, height), FieldKind::kUnsigned},
    {"<Audio Format>", offsetof(RealBlock, audioFormat), FieldKind::kUnsigned},
    {"<Video Quality>", offsetof(RealBlock, videoQuality), FieldKind::kUnsigned},
    {"<Target Audience>", offsetof(RealBlock, targetAudience), FieldKind::kUnsigned},
};
constexpr FieldTag kQuickTimeTags[] = {
    {"<Video Width>", offsetof(QuickTimeBlock, width), FieldKind::kUnsigned},
    {"<Video Height>", offsetof(QuickTimeBlock, height), FieldKind::kUnsigned},
    {"<Compressor Component>", offsetof(QuickTimeBlock, compressorComponent), FieldKind::kUnsigned},
    {"<KeyFrame Rate>", offsetof(QuickTimeBlock, keyFrameRate), FieldKind::kSigned},
    {"<Video Type>", offsetof(QuickTimeBlock, videoType), FieldKind::kSigned},
    {"<Video Quality>", offsetof(QuickTimeBlock, videoQuality), FieldKind::kSigned},
};
// KeepOrgSize travels with the block it belongs to.
constexpr FieldTag kH264Tags[] = {
    {"<Video Width>", offsetof(H264Block, width), FieldKind::kSigned},
    {"<Video Height>", offsetof(H264Block, height), FieldKind::kSigned},
    {"<Frame Rate>", offsetof(H264Block, frameRate), FieldKind::kReal},
    {"<GOPLength>", offsetof(H264Block, gopLength), FieldKind::kSigned},
    {"<BFrames>", offsetof(H264Block, bFrames), FieldKind::kSigned},
    {"<Rate Control Mode>", offsetof(H264Block, rateControlMode), FieldKind::kSigned},
    {"<Video BitRate>", offsetof(H264Block, videoBitRate), FieldKind::kSigned},
    {"<Max BitRate>", offsetof(H264Block, maxBitRate), FieldKind::kSigned},
    {"<CBR Quality>", offsetof(H264Block, cbrQuality), FieldKind::kSigned},
    {"<Use Motion Estimation>", offsetof(H264Block, useMotionEstimation), FieldKind::kSigned},
    {"<Search WRange>", offsetof(H264Block, searchWRange), FieldKind::kSigned},
    {"<Search HRange>", offsetof(H264Block, searchHRange), FieldKind::kSigned},
    {"<SubPixel Accuracy>", offsetof(H264Block, subPixelAccuracy), FieldKind::kSigned},
    {"<Enable Partition>", offsetof(H264Block, enablePartition), FieldKind::kSigned},
    {"<Distortion Opt>", offsetof(H264Block, distortionOpt), FieldKind::kSigned},
    {"<Entropy Coding>", offsetof(H264Block, entropyCoding), FieldKind::kSigned},
    {"<Deblock>", offsetof(H264Block, deblock), FieldKind::kSigned},
    {"<SBDMode>", offsetof(H264Block, sbdMode), FieldKind::kSigned},
    {"<KeepOrgSize>", offsetof(H264Block, keepOrgSize), FieldKind::kSigned},
};

template <size_t N>
void WriteFields(BlockWriter& w, const FieldTag (&tags)[N], const void* block) {
    for (const FieldTag& t : tags) {
        const char* field = static_cast<const char*>(block) + t.offset;
        if (t.kind == FieldKind::kReal) {
            float f;
            std::memcpy(&f, field, 4);
            w.Real(t.tag, f);
        } else if (t.kind == FieldKind::kSigned) {
            int32_t v;
            std::memcpy(&v, field, 4);
            w.Number(t.tag, v);
        } else {
            uint32_t v;
            std::memcpy(&v, field, 4);
            w.Number(t.tag, v);
        }
    }
}

}  // namespace

void AppendProfileBlock(const ProfileRecord& record, std::string& out) {
    const ProfileHead& h = record.head;
    BlockWriter w(out);
    w.Raw("");
    w.Raw("&");
    w.Text("<Class>", h.className, sizeof h.className);
    w.Text("<Name>", h.name, sizeof h.name);
    w.Description(h.description, sizeof h.description);
    w.Raw("<Output FileName> ");
    w.Number("<DescID>", h.descId);
    w.Number("<NameID>", h.nameId);
    w.Number("<Group>", h.group);
    w.Number("<Video Format Class>", h.videoFormatClass);
    w.Number("<Stream Flag>", h.streamFlag);
    w.Number("<Field Order>", h.fieldOrder);
    w.Number("<Attribute>", h.attribute | kAttrDvCapturePage | kAttrFileConvertPage, 16);
    const ClassBlock& b = record.block;
    switch (h.videoFormatClass) {
        case kClassAvi: {
            const AviBlock& a = b.avi;
            w.Text("<Video Compressor Filter>", a.videoCompressor, sizeof a.videoCompressor);
            w.Text("<Audio Compressor Filter>", a.audioCompressor, sizeof a.audioCompressor);
            w.Number("<Key Frame Rate>", a.keyFrameRate);
            w.Real("<Frame Per Second>", a.framesPerSecond);
            w.Real("<Quality>", a.quality);
            w.Number("<Bit Rate>", a.bitRate);
            w.Number("<Width>", a.width);
            w.Number("<Height>", a.height);
            w.Number("<Color Bits>", a.colorBits);
            if (a.hasWave) {
                w.Number("<Format Tag>", int{a.wave.formatTag});
                w.Number("<Channels>", int{a.wave.channels});
                w.Number("<Samples Per Second>", a.wave.samplesPerSec);
                w.Number("<AvgBytes Per Second>", a.wave.avgBytesPerSec);
                w.Number("<Block Align>", int{a.wave.blockAlign});
                w.Number("<Bits Per Sample>", int{a.wave.bitsPerSample});
                w.Number("<cbSize>", int{a.wave.cbSize});
            }
            break;
        }
        case kClassDv:
            WriteFields(w, kDvTags, &b.dv);
            break;
        case kClassMpeg1:
        case kClassMpeg2:
        case kClassVcd:
        case kClassSvcd:
        case kClassDvd:
            WriteMpeg(w, b.mpeg);
            break;
        case kClassStreamInfo:
            out.append("<Stream Info>");
            w.Escaped(std::string_view(b.streamInfo.text, strnlen(b.streamInfo.text, sizeof b.streamInfo.text)), true);
            out.append(kProfileLineEnd);
            break;
        case kClassReal:
            WriteFields(w, kRealTags, &b.real);
            break;
        case kClassQuickTime:
            WriteFields(w, kQuickTimeTags, &b.quickTime);
            break;
        case kClassH264:
            WriteFields(w, kH264Tags, &b.h264);
            if (b.h264.streamBlockCount >= 1 && b.h264.streams[0].type == kStreamBlockAudio) {
                WriteAudio(w, b.h264.streams[0].audio, false);
            }
            break;
        default:
            break;
    }
    w.Raw("&&");
}

// ---- Reading.
namespace {

std::string_view SkipBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    return s;
}

// Scans a number as scanf's %d / %u / %x would: blanks, an optional sign, digits; what
// follows is ignored. A value that does not scan or does not fit leaves `out` unchanged.
template <typename T>
bool ScanInteger(std::string_view s, T& out, int base = 10) {
    s = SkipBlanks(s);
    bool negative = false;
    if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    if (base == 16 && s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) s.remove_prefix(2);
    uint64_t magnitude = 0;
    auto r = std::from_chars(s.data(), s.data() + s.size(), magnitude, base);
    if (r.ec != std::errc()) return false;
    if constexpr (std::is_signed_v<T>) {
        using Limits = std::numeric_limits<T>;
        uint64_t limit = negative ? uint64_t(Limits::max()) + 1 : uint64_t(Limits::max());
        if (magnitude > limit) return false;
        out = negative ? static_cast<T>(-static_cast<int64_t>(magnitude - 1) - 1) : static_cast<T>(magnitude);
    } else {
        if (negative || magnitude > std::numeric_limits<T>::max()) return false;
        out = static_cast<T>(magnitude);
    }
    return true;
}

bool ScanFloat(std::string_view s, float& out) {
    s = SkipBlanks(s);
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    float v;
    auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (r.ec != std::errc()) return false;
    out = v;
    return true;
}

// Undoes the writer's escapes; other text stays as it is, so older files read unchanged.
std::string Unescape(std::string_view s) {
    static constexpr struct {
        std::string_view from;
        char to;
    } kEscapes[] = {{"&lt;", '<'}, {"&amp;", '&'}, {"&#10;", '\n'}, {"&#13;", '\r'}};
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        bool matched = false;
        if (s[i] == '&') {
            for (const auto& e : kEscapes) {
                if (s.substr(i, e.from.size()) == e.from) {
                    out.push_back(e.to);
                    i += e.from.size();
                    matched = true;
                    break;
                }
            }
        }
        if (!matched) out.push_back(s[i++]);
    }
    return out;
}

bool StartsWith(std::string_view line, std::string_view tag, std::string_view& rest) {
    if (line.substr(0, tag.size()) != tag) return false;
    rest = line.substr(tag.size());
    return true;
}

template <size_t N>
void SetText(char (&dst)[N], std::string_view value) {
    CopyText(dst, value.data(), value.size());
}

// A one-line text as the writer gives it back: a carriage return left inside a line (only a
// line feed ends one) reads as the blank the writer puts in its place, so a name read from
// the file is one the writer keeps.
std::string OneLine(std::string_view value) {
    std::string out(value);
    for (char& c : out)
        if (c == '\r') c = ' ';
    return out;
}

template <size_t N>
void SetLine(char (&dst)[N], std::string_view value) {
    SetText(dst, OneLine(value));
}

// Per-block flags of the MPEG lines whose absence the close supplies.
enum : uint32_t {
    kSawMinBitRate = 1,
    kSawMaxBitRate = 2,
    kSawActiveEncoder = 4,
    kSawAppType = 8,
    kSawDynamicGop = 16,
};

class BlockReader {
public:
    explicit BlockReader(ProfileBlock& block) : b_(block) {}

    void Reset(size_t begin) {
        std::memset(&b_.record, 0, sizeof b_.record);
        b_.record.head.attribute = kAttrStorable | kAttrDvCapturePage | kAttrFileConvertPage;
        b_.record.head.videoFormatClass = kClassHeadOnly;
        b_.begin = begin;
        b_.end = begin;
        b_.closed = false;
        b_.closedByNext = false;
        b_.hasClass = false;
        b_.hasName = false;
        b_.name.clear();
        seen_ = 0;
    }

    void Description(std::string_view joined) { SetText(b_.record.head.description, joined); }

    HeadLine Apply(std::string_view line) {
        ProfileHead& h = b_.record.head;
        std::string_view rest;
        if (StartsWith(line, "<Class>", rest)) {
            SetLine(h.className, rest);
        } else if (StartsWith(line, "<Name>", rest)) {
            b_.name = OneLine(rest);
            SetText(h.name, b_.name);
            b_.hasName = true;
            return HeadLine::kName;
        } else if (StartsWith(line, "<Output FileName>", rest)) {
            SetText(h.outputFileName, rest);
        } else if (StartsWith(line, "<DescID>", rest)) {
            ScanInteger(rest, h.descId);
        } else if (StartsWith(line, "<NameID>", rest)) {
            ScanInteger(rest, h.nameId);
        } else if (StartsWith(line, "<Group>", rest)) {
            ScanInteger(rest, h.group);
        } else if (StartsWith(line, "<Stream Flag>", rest)) {
            ScanInteger(rest, h.streamFlag);
        } else if (StartsWith(line, "<Field Order>", rest)) {
            ScanInteger(rest, h.fieldOrder);
        } else if (StartsWith(line, "<Video Format Class>", rest)) {
            int32_t cls;
            if (ScanInteger(rest, cls)) SetClass(cls);
            return HeadLine::kVideoFormatClass;
        } else if (StartsWith(line, "<Attribute>", rest)) {
            ScanInteger(rest, h.attribute, 16);
            return HeadLine::kAttribute;
        } else {
            ApplyClassLine(line);
        }
        return HeadLine::kOther;
    }

    // At "&&": the MPEG defaults and the field-order code.
    void Finish() {
        if (!IsMpegFormatClass(b_.record.head.videoFormatClass)) return;
        MpegBlock& m = b_.record.block.mpeg;
        const int32_t cls = b_.record.head.videoFormatClass;
        auto set = [&](uint32_t id, int32_t v) { FindMpegParam(m, id)->value.i = v; };
        if (!(seen_ & kSawMinBitRate)) set(kParamMinBitRate, cls == kClassDvd ? 1500000 : 0);
        if (!(seen_ & kSawMaxBitRate)) set(kParamMaxBitRate, cls == kClassDvd ? 8300000 : 0);
        if (!(seen_ & kSawActiveEncoder)) {
            // MPEG-2 (class 4) has no default of its own and keeps 0.
            if (cls == kClassMpeg1 || cls == kClassVcd) set(kParamActiveEncoder, 1);
            if (cls == kClassSvcd || cls == kClassDvd) set(kParamActiveEncoder, 2);
        }
        if (!(seen_ & kSawAppType)) set(kParamAppType, 2);
        if (!(seen_ & kSawDynamicGop)) set(kParamDynamicGop, 1);
        set(kParamFieldOrderCode, FieldOrderCode(b_.record.head.fieldOrder));
    }

private:
    // A class line starts a fresh class block of that class.
    void SetClass(int32_t cls) {
        b_.record.head.videoFormatClass = cls;
        b_.hasClass = true;
        std::memset(&b_.record.block, 0, sizeof b_.record.block);
        seen_ = 0;
        if (IsMpegFormatClass(cls)) InitMpegLayout(b_.record.block.mpeg);
        if (cls == kClassH264) {
            b_.record.block.h264.streamBlockCount = 1;
            InitAudioStream(b_.record.block.h264.streams[0]);
        }
    }

    void ApplyClassLine(std::string_view line) {
        ClassBlock& b = b_.record.block;
        switch (b_.record.head.videoFormatClass) {
            case kClassAvi:
                ApplyAvi(line, b.avi);
                break;
            case kClassDv:
                ApplyFields(line, kDvTags, &b.dv);
                break;
            case kClassMpeg1:
            case kClassMpeg2:
            case kClassVcd:
            case kClassSvcd:
            case kClassDvd:
                ApplyMpeg(line, b.mpeg);
                break;
            case kClassStreamInfo: {
                std::string_view rest;
                if (StartsWith(line, "<Stream Info>", rest)) SetText(b.streamInfo.text, Unescape(rest));
                break;
            }
            case kClassReal:
                ApplyFields(line, kRealTags, &b.real);
                break;
            case kClassQuickTime:
                ApplyFields(line, kQuickTimeTags, &b.quickTime);
                break;
            case kClassH264:
                if (!ApplyAudio(line, b.h264.streams[0].audio, false)) ApplyFields(line, kH264Tags, &b.h264);
                break;
            default:
                break;
        }
    }

    // AVI tags are recognised anywhere in the line; the one that starts first wins, so a
    // compressor name that holds a tag's text does not redirect its own line.
    void ApplyAvi(std::string_view line, AviBlock& a) {
        enum Field {
            kVideo,
            kAudio,
            kKey,
            kFps,
            kQuality,
            kBitRate,
            kWidth,
            kHeight,
            kColor,
            kFormatTag,
            kChannels,
            kSamples,
            kAvgBytes,
            kBlockAlign,
            kBitsPerSample,
            kCbSize
        };
        static constexpr std::string_view kTags[] = {"<Video Compressor Filter>",
                                                     "<Audio Compressor Filter>",
                                                     "<Key Frame Rate>",
                                                     "<Frame Per Second>",
                                                     "<Quality>",
                                                     "<Bit Rate>",
                                                     "<Width>",
                                                     "<Height>",
                                                     "<Color Bits>",
                                                     "<Format Tag>",
                                                     "<Channels>",
                                                     "<Samples Per Second>",
                                                     "<AvgBytes Per Second>",
                                                     "<Block Align>",
                                                     "<Bits Per Sample>",
                                                     "<cbSize>"};
        int best = -1;
        size_t bestPos = std::string_view::npos;
        for (int i = 0; i < int(std::size(kTags)); ++i) {
            size_t pos = line.find(kTags[i]);
            if (pos < bestPos) {
                bestPos = pos;
                best = i;
            }
        }
        if (best < 0) return;
        std::string_view rest = line.substr(bestPos + kTags[best].size());
        if (best >= kFormatTag && !a.hasWave) {
            a.hasWave = 1;
            a.wave = ProfileWaveFormat{};
        }
        float f;
        switch (best) {
            case kVideo:
                SetLine(a.videoCompressor, rest);
                break;
            case kAudio:
                SetLine(a.audioCompressor, rest);
                break;
            case kKey:
                ScanInteger(rest, a.keyFrameRate);
                break;
            case kFps:
                if (ScanFloat(rest, f)) a.framesPerSecond = f;
                break;
            case kQuality:
                if (ScanFloat(rest, f)) a.quality = f;
                break;
            case kBitRate:
                ScanInteger(rest, a.bitRate);
                break;
            case kWidth:
                ScanInteger(rest, a.width);
                break;
            case kHeight:
                ScanInteger(rest, a.height);
                break;
            case kColor:
                ScanInteger(rest, a.colorBits);
                break;
            case kFormatTag:
                ScanInteger(rest, a.wave.formatTag);
                break;
            case kChannels:
                ScanInteger(rest, a.wave.channels);
                break;
            case kSamples:
                ScanInteger(rest, a.wave.samplesPerSec);
                break;
            case kAvgBytes:
                ScanInteger(rest, a.wave.avgBytesPerSec);
                break;
            case kBlockAlign:
                ScanInteger(rest, a.wave.blockAlign);
                break;
            case kBitsPerSample:
                ScanInteger(rest, a.wave.bitsPerSample);
                break;
            case kCbSize:
                ScanInteger(rest, a.wave.cbSize);
                break;
        }
    }

    template <size_t N>
    static void ApplyFields(std::string_view line, const FieldTag (&tags)[N], void* block) {
        std::string_view rest;
        for (const FieldTag& t : tags) {
            if (!StartsWith(line, t.tag, rest)) continue;
            char* field = static_cast<char*>(block) + t.offset;
            if (t.kind == FieldKind::kReal) {
                float f;
                if (ScanFloat(rest, f)) std::memcpy(field, &f, 4);
            } else if (t.kind == FieldKind::kSigned) {
                int32_t v;
                if (ScanInteger(rest, v)) std::memcpy(field, &v, 4);
            } else {
                uint32_t v;
                if (ScanInteger(rest, v)) std::memcpy(field, &v, 4);
            }
            return;
        }
    }

    // The audio lines of MPEG and H.264 blocks; `bitRateIsCode` translates bits per second
    // to the bit-rate code (an unknown rate leaves the code as it was).
    bool ApplyAudio(std::string_view line, ProfileAudioFormat& a, bool bitRateIsCode) {
        std::string_view rest;
        if (StartsWith(line, "<Encoder Type>", rest))
            ScanInteger(rest, a.encoderType);
        else if (StartsWith(line, "<Audio Layer>", rest))
            ScanInteger(rest, a.layer);
        else if (StartsWith(line, "<Audio Mode>", rest))
            ScanInteger(rest, a.audioMode);
        else if (StartsWith(line, "<Audio Channels>", rest))
            ScanInteger(rest, a.channels);
        else if (StartsWith(line, "<Audio SamplesPerSec>", rest))
            ScanInteger(rest, a.samplesPerSecCode);
        else if (StartsWith(line, "<Audio BitsPerSample>", rest))
            ScanInteger(rest, a.bitsPerSample);
        else if (StartsWith(line, "<Misc>", rest))
            ScanInteger(rest, a.misc);
        else if (StartsWith(line, "<SamplesPerFrame>", rest))
            ScanInteger(rest, a.samplesPerFrame);
        else if (StartsWith(line, "<Audio BitRate>", rest)) {
            int64_t value;
            if (!ScanInteger(rest, value)) return true;
            if (!bitRateIsCode)
                a.bitRate = value;
            else if (int64_t code; AudioCodeFromBitRate(value, &code))
                a.bitRate = code;
        } else {
            return false;
        }
        return true;
    }

    void ApplyMpeg(std::string_view line, MpegBlock& m) {
        if (ApplyAudio(line, m.streams[0].audio, true)) return;
        std::string_view rest;
        for (const MpegTag& t : kMpegTags) {
            if (!StartsWith(line, t.tag, rest)) continue;
            MpegParam* p = FindMpegParam(m, t.id);
            if (t.id == kParamFrameRate) {
                ScanFloat(rest, p->value.f);
            } else if (t.id == kParamPattern) {
                SetLine(p->value.text, rest);
            } else if (ScanInteger(rest, p->value.i)) {
                if (t.id == kParamInterlacing && p->value.i == 2) p->value.i = 0;
                if (t.id == kParamMinBitRate) seen_ |= kSawMinBitRate;
                if (t.id == kParamMaxBitRate) seen_ |= kSawMaxBitRate;
                if (t.id == kParamActiveEncoder) seen_ |= kSawActiveEncoder;
                if (t.id == kParamAppType) seen_ |= kSawAppType;
                if (t.id == kParamDynamicGop) seen_ |= kSawDynamicGop;
            }
            return;
        }
    }

    ProfileBlock& b_;
    uint32_t seen_ = 0;
};

}  // namespace

std::string_view ListedProfileName(const ProfileBlock& block) {
    const char* name = block.record.head.name;
    return std::string_view(name, strnlen(name, sizeof block.record.head.name));
}

bool ProfileBlockHasName(const ProfileBlock& block, std::string_view name) {
    return block.hasName && (block.name == name || ListedProfileName(block) == name);
}

bool IsStorableProfileName(std::string_view name) {
    return name.size() < sizeof(ProfileHead::name) && name.find_first_of("\r\n") == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
}

namespace {

enum class Mark { kNone, kOpen, kClose };

// "&" or "&&", with any blanks an editor left after it.
Mark BlockMark(std::string_view line) {
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t'))
        line.remove_suffix(1);
    if (line == "&") return Mark::kOpen;
    if (line == "&&") return Mark::kClose;
    return Mark::kNone;
}

// Where a block that the "&" line at `next` closes ends: before that line and before one
// empty line in front of it (the writer's separator belongs to the next block), but never
// before `begin`'s own line.
size_t EndBeforeNextBlock(std::string_view text, size_t begin, size_t next) {
    size_t end = next;
    size_t lineEnd = end;
    if (lineEnd > begin && text[lineEnd - 1] == '\n') {
        size_t prev = text.rfind('\n', lineEnd - 2);
        size_t prevStart = prev == std::string_view::npos ? 0 : prev + 1;
        std::string_view prevLine = text.substr(prevStart, lineEnd - 1 - prevStart);
        if (!prevLine.empty() && prevLine.back() == '\r') prevLine.remove_suffix(1);
        if (prevLine.empty() && prevStart > begin) end = prevStart;
    }
    return end;
}

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

}  // namespace

ProfileTextEnd WalkProfileText(std::string_view text, ProfileBlockSink& sink) {
    auto block = std::make_unique<ProfileBlock>();
    BlockReader reader(*block);
    bool inBlock = false;
    bool inDescription = false;
    std::string description;
    size_t pos = text.substr(0, kUtf8Bom.size()) == kUtf8Bom ? kUtf8Bom.size() : 0;
    while (pos < text.size()) {
        const size_t lineStart = pos;
        size_t nl = text.find('\n', pos);
        std::string_view line = text.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos);
        pos = nl == std::string_view::npos ? text.size() : nl + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const Mark mark = BlockMark(line);

        if (!inBlock) {
            if (mark == Mark::kOpen) {
                inBlock = true;
                reader.Reset(lineStart);
                sink.Open(*block);
            }
            continue;
        }
        if (inDescription) {
            // The description runs to the first line holding "<" (or a block mark); empty
            // lines are skipped.
            if (mark == Mark::kNone && line.find('<') == std::string_view::npos) {
                if (!line.empty() && description.size() <= sizeof block->record.head.description) {
                    if (!description.empty()) description.push_back('\n');
                    description.append(Unescape(line));
                }
                continue;
            }
            inDescription = false;
            reader.Description(description);
        }
        if (mark != Mark::kNone) {
            reader.Finish();
            block->end = mark == Mark::kClose ? pos : EndBeforeNextBlock(text, block->begin, lineStart);
            block->closed = true;
            block->closedByNext = mark == Mark::kOpen;
            inBlock = false;
            if (sink.Close(*block)) return ProfileTextEnd::kStopped;
            if (mark == Mark::kOpen) {
                inBlock = true;
                reader.Reset(lineStart);
                sink.Open(*block);
            }
            continue;
        }
        if (line == "<Description>") {
            inDescription = true;
            description.clear();
            continue;
        }
        sink.Applied(reader.Apply(line), *block);
    }
    if (!inBlock) return ProfileTextEnd::kOutside;
    if (inDescription) reader.Description(description);
    // A block the text ends in is read as if closed there: its class gets its defaults.
    reader.Finish();
    block->end = text.size();
    if (sink.Close(*block)) return ProfileTextEnd::kStopped;
    return inDescription ? ProfileTextEnd::kInDescription : ProfileTextEnd::kInBlock;
}

void CloseDanglingBlock(std::string& text) {
    struct : ProfileBlockSink {
        bool Close(const ProfileBlock&) override { return false; }
    } sink;
    const ProfileTextEnd end = WalkProfileText(text, sink);
    if (end == ProfileTextEnd::kOutside) return;
    if (!text.empty() && text.back() != '\n') text.append(kProfileLineEnd);
    // A line holding "<" ends a description; "<>" is no tag, so it changes no field.
    if (end == ProfileTextEnd::kInDescription) {
        text.append("<>");
        text.append(kProfileLineEnd);
    }
    text.append("&&");
    text.append(kProfileLineEnd);
}

}  // namespace profiles
