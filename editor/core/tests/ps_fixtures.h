// Program-stream fixtures made by ffmpeg and the judge's answers about them by ffprobe,
// shared by the parser and probe tests.
#pragma once

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/ffprobe.h"
#include "tests/support/media_fixture.h"
#include "tests/support/shell.h"

namespace editor_test {

// Two seconds of moving test picture and a tone; `extra` holds the target or codecs.
inline std::string PsCommand(const std::string& size, const std::string& rate, const std::string& extra) {
    return "ffmpeg -f lavfi -i testsrc=size=" + size + ":rate=" + rate +
           " -f lavfi -i sine=frequency=440:sample_rate=48000 -t 2 " + extra + " {out}";
}

using testsupport::BaseName;

// Runs ffprobe with `args` on the fixture file (in the fixture folder) and returns its
// standard output.
inline std::string Ffprobe(const std::string& fixture_path, const std::string& args) {
    std::string out;
    EXPECT_TRUE(testsupport::Ffprobe(fixture_path, args, &out));
    return out;
}

struct ProbePacket {
    bool has_pts = false;
    int64_t pts = 0;  // 90 kHz
    int64_t duration = 0;
    int64_t size = 0;
    bool key = false;
};

// Packets of the first stream of `kind` ("v" or "a"), in file order.
inline std::vector<ProbePacket> ProbePackets(const std::string& path, const std::string& kind) {
    const std::string text = Ffprobe(path, "-select_streams " + kind +
                                               ":0 -show_entries packet=pts,duration,size,flags "
                                               "-of csv=p=0");
    std::vector<ProbePacket> out;
    for (const auto& f : testsupport::CsvRows(text)) {
        if (f.size() < 4) continue;
        ProbePacket p;
        p.has_pts = f[0] != "N/A";
        if (p.has_pts) p.pts = std::stoll(f[0]);
        p.duration = f[1] == "N/A" ? 0 : std::stoll(f[1]);
        p.size = std::stoll(f[2]);
        p.key = f[3].find('K') != std::string::npos;
        out.push_back(p);
    }
    return out;
}

// One value of the first stream of `kind` (for example "start_time").
inline std::string ProbeStreamValue(const std::string& path, const std::string& kind, const std::string& entry) {
    std::string text = Ffprobe(path, "-select_streams " + kind + ":0 -show_entries stream=" + entry + " -of csv=p=0");
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

inline int64_t Ticks90kTo100ns(int64_t t) {
    return t * 10000 / 90;
}

}  // namespace editor_test
