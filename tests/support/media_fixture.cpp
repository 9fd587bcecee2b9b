#include "tests/support/media_fixture.h"

#include <cstdint>
#include <cstdio>
#include <fstream>

#include "tests/support/shell.h"

namespace testsupport {
namespace {

std::string Hex64(uint64_t v) {
    char buf[17];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(v));
    return buf;
}

// FNV-1a: a stable file name for a command line.
uint64_t Fnv1a(const std::string& s) {
    uint64_t h = 0xcbf29ce484222325ull;
    for (unsigned char c : s) {
        h ^= c;
        h *= 0x100000001b3ull;
    }
    return h;
}

std::string Replace(std::string s, const std::string& from, const std::string& to) {
    for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
        s.replace(at, from.size(), to);
    return s;
}

bool NonEmptyFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    return in && in.tellg() > 0;
}

}  // namespace

::testing::AssertionResult MediaFixture(const std::string& command, const std::string& extension, std::string* path) {
    const std::string tool = command.substr(0, command.find(' '));
    if (tool != "ffmpeg" && tool != "x264")
        return ::testing::AssertionFailure() << "fixture command must start with ffmpeg or x264: " << command;
    if (command.find("{out}") == std::string::npos)
        return ::testing::AssertionFailure() << "fixture command has no {out}: " << command;

    const std::string key = Hex64(Fnv1a(command + '\n' + extension));
    const std::string finalName = key + "." + extension;
    *path = FixturePath(finalName);
    if (NonEmptyFile(*path)) return ::testing::AssertionSuccess();

    // Several tests may ask at once: each writes its own temporary file and renames it into
    // place, so a reader only ever sees a complete fixture.
    const std::string tempName = UniqueName(key) + ".tmp." + extension;
    const std::string logName = key + ".log";
    std::string quiet = command;
    if (tool == "ffmpeg") quiet.insert(tool.size(), " -nostdin -hide_banner -loglevel error -y");
    const std::string script = "command -v " + tool + " >/dev/null 2>&1 || exit 127\n" +
                               Replace(quiet, "{out}", "'" + tempName + "'") + " || { rm -f '" + tempName +
                               "'; exit 1; }\n" + "mv -f '" + tempName + "' '" + finalName + "'";
    const int status = RunShell(script, logName);
    if (status == 127)
        return ::testing::AssertionFailure()
               << tool << " is not installed; it makes this test's fixture (run scripts/setup)";
    if (status != 0 || !NonEmptyFile(*path))
        return ::testing::AssertionFailure() << "fixture command failed (status " << status << "): " << command << "\n"
                                             << ReadFixtureFile(logName);
    return ::testing::AssertionSuccess();
}

}  // namespace testsupport
