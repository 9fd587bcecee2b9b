// Program-stream fixtures made by ffmpeg and the judge's answers about them by ffprobe,
// shared by the parser and probe tests.
#pragma once

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/media_fixture.h"
#include "tests/support/shell.h"

namespace editor_test {

// Two seconds of moving test picture and a tone; `extra` holds the target or codecs.
inline std::string PsCommand(const std::string& size, const std::string& rate, const std::string& extra) {
    return "ffmpeg -f lavfi -i testsrc=size=" + size + ":rate=" + rate +
           " -f lavfi -i sine=frequency=440:sample_rate=48000 -t 2 " + extra + " {out}";
}

inline std::string BaseName(const std::string& path) {
    const size_t at = path.find_last_of("/\\");
    return at == std::string::npos ? path : path.substr(at + 1);
}

// Runs ffprobe with `args` on the fixture file (in the fixture folder) and returns its
// standard output.
inline std::string Ffprobe(const std::string& fixturePath, const std::string& args) {
    const std::string name = BaseName(fixturePath);
    const std::string out = testsupport::UniqueName("probe") + ".txt";
    const int status = testsupport::RunShell("ffprobe -v error " + args + " '" + name + "' > '" + out + "'");
    EXPECT_EQ(status, 0) << "ffprobe " << args << " " << name;
    return testsupport::ReadFixtureFile(out);
}

struct ProbePacket {
    bool hasPts = false;
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
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty()) continue;
        std::vector<std::string> f;
        std::istringstream fields(line);
        std::string x;
        while (std::getline(fields, x, ','))
            f.push_back(x);
        if (f.size() < 4) continue;
        ProbePacket p;
        p.hasPts = f[0] != "N/A";
        if (p.hasPts) p.pts = std::stoll(f[0]);
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
