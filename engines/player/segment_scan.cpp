#include "engines/player/segment_scan.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "app/profiles/profile_record.h"
#include "editor/core/clip_probe.h"

namespace engines {
namespace {

constexpr size_t kBlockBytes = 1 << 20;
constexpr size_t kOverlap = 32;              // longer than any header read across a block edge
constexpr int64_t kBackJump = 90000;         // 1 s back at 90 kHz: B-picture reordering stays well within
constexpr int64_t kForwardJump = 5 * 90000;  // 5 s ahead: more than any interleaving lag

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// The time stamps of one kind of stream in a segment.
struct Range {
    int64_t low = -1, high = -1, last = -1;
    bool Empty() const { return low < 0; }
    void Add(int64_t t) {
        if (low < 0 || t < low) low = t;
        if (t > high) high = t;
        last = t;
    }
    // Whether `t` continues the stream: near its latest stamp.
    bool Fits(int64_t t) const { return t >= last - kBackJump && t <= last + kForwardJump; }
};

struct Run {
    int64_t firstByte = 0, endByte = 0;
    Range video, audio;
    uint32_t width = 0, height = 0, bitRate = 0;
    double frameRate = 0;
    bool mpeg1 = false;
};

// The PTS of the PES packet at `p` (at least 19 bytes readable), MPEG-2 (ISO/IEC 13818-1
// 2.4.3.7) or MPEG-1 (ISO/IEC 11172-1 2.4.3.3) syntax; -1 without one or with a bad marker.
int64_t PesPts(const uint8_t* p, bool* mpeg1) {
    const uint8_t* t = nullptr;
    if ((p[6] & 0xC0) == 0x80) {
        *mpeg1 = false;
        if (!(p[7] & 0x80) || p[8] < 5) return -1;
        t = p + 9;
    } else {
        *mpeg1 = true;
        size_t i = 6;
        while (i < 6 + 16 && p[i] == 0xFF)
            ++i;
        if ((p[i] & 0xC0) == 0x40) i += 2;
        if (i > 13) return -1;
        t = p + i;
    }
    if ((t[0] & 0xE1) != 0x21 && (t[0] & 0xE1) != 0x31) return -1;
    if (!(t[2] & 1) || !(t[4] & 1)) return -1;
    return (int64_t(t[0] & 0x0E) << 29) | (int64_t(t[1]) << 22) | (int64_t(t[2] >> 1) << 15) | (int64_t(t[3]) << 7) |
           (t[4] >> 1);
}

int64_t Ticks(int64_t pts90k) {
    return pts90k * 1000 / 9;
}

}  // namespace

std::vector<SegmentRecord> ScanSegments(const std::string& path, const std::function<bool(int)>& progress) {
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) return {};
    if (editor::SeekFile(file.get(), 0, SEEK_END) < 0) return {};
    const int64_t size = editor::SeekFile(file.get(), 0, SEEK_CUR);
    if (size <= 0 || editor::SeekFile(file.get(), 0, SEEK_SET) != 0) return {};

    std::vector<Run> runs(1);
    std::vector<uint8_t> block(kBlockBytes + kOverlap);
    size_t carried = 0;   // bytes kept from the previous block's end
    int64_t blockAt = 0;  // file offset of block[0]
    int reported = -1;
    bool stopped = false;
    const auto report = [&](int percent) {
        if (!progress || stopped) return;
        while (reported < percent)
            if (!progress(++reported)) {
                stopped = true;
                return;
            }
    };
    report(0);
    while (!stopped) {
        const size_t got = std::fread(block.data() + carried, 1, kBlockBytes, file.get());
        const size_t total = carried + got;
        const bool last = got == 0 || blockAt + int64_t(total) >= size;
        // Headers are read only where all their bytes are in the block; the rest waits for
        // the next block (or, at the file's end, is cut and ignored).
        const size_t limit = last ? total : total - std::min(total, kOverlap);
        for (size_t i = 0; i + 19 <= total && i < limit; ++i) {
            const uint8_t* p = block.data() + i;
            if (p[0] != 0 || p[1] != 0 || p[2] != 1) continue;
            const uint8_t id = p[3];
            Run& run = runs.back();
            if (id == 0xB3) {  // MPEG video sequence header (ISO/IEC 13818-2 6.2.2.1)
                if (!run.width) {
                    run.width = (p[4] << 4) | (p[5] >> 4);
                    run.height = ((p[5] & 0x0F) << 8) | p[6];
                    run.frameRate = editor::FrameRateFromCode(p[7] & 0x0F);
                    const uint32_t rate = (p[8] << 10) | (p[9] << 2) | (p[10] >> 6);
                    run.bitRate = rate == 0x3FFFF ? 0 : rate * 400;
                }
                continue;
            }
            const bool video = (id & 0xF0) == 0xE0;
            const bool audio = (id & 0xE0) == 0xC0 || id == 0xBD;
            if (!video && !audio) continue;
            bool mpeg1 = false;
            const int64_t pts = PesPts(p, &mpeg1);
            if (pts < 0) continue;
            const int64_t at = blockAt + int64_t(i);
            Range& own = video ? run.video : run.audio;
            const Range& other = video ? run.audio : run.video;
            const bool fits = !own.Empty() ? own.Fits(pts) : other.Empty() || other.Fits(pts);
            if (!fits && runs.size() < kMaxSegments) {
                run.endByte = at;
                runs.emplace_back();
                runs.back().firstByte = at;
            }
            Run& now = runs.back();
            (video ? now.video : now.audio).Add(pts);
            now.mpeg1 = mpeg1;
            now.endByte = at;
        }
        if (last) break;
        carried = total - limit;
        std::copy(block.begin() + limit, block.begin() + total, block.begin());
        blockAt += int64_t(limit);
        report(static_cast<int>(blockAt * 100 / size));
    }
    report(100);
    runs.back().endByte = size;

    std::vector<SegmentRecord> records;
    int64_t timeline = 0;
    for (const Run& run : runs) {
        if (run.video.Empty() && run.audio.Empty()) continue;
        SegmentRecord r{};
        r.index = static_cast<uint32_t>(records.size());
        r.firstByte = run.firstByte;
        r.endByte = run.endByte;
        const int64_t base = run.video.Empty()   ? run.audio.low
                             : run.audio.Empty() ? run.video.low
                                                 : std::min(run.video.low, run.audio.low);
        const int64_t frame = run.frameRate > 0 ? static_cast<int64_t>(1e7 / run.frameRate + 0.5) : 0;
        r.videoStart = r.videoEnd = r.audioStart = r.audioEnd = -1;
        int64_t end = timeline;
        if (!run.video.Empty()) {
            r.videoStart = timeline + Ticks(run.video.low - base);
            r.videoEnd = timeline + Ticks(run.video.high - base) + frame;
            end = std::max(end, r.videoEnd);
        }
        if (!run.audio.Empty()) {
            r.audioStart = timeline + Ticks(run.audio.low - base);
            r.audioEnd = timeline + Ticks(run.audio.high - base);
            end = std::max(end, r.audioEnd);
        }
        r.timelineEnd = end;
        r.formatClass = run.video.Empty() ? 0 : run.mpeg1 ? profiles::kClassMpeg1 : profiles::kClassMpeg2;
        r.width = run.width;
        r.height = run.height;
        r.videoBitRate = run.bitRate;
        r.frameRate = static_cast<float>(run.frameRate);
        records.push_back(r);
        timeline = end;
    }
    return records;
}

}  // namespace engines
