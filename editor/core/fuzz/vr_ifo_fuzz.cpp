// Fuzz target: the DVD-VR management file reader over any bytes. A file it accepts must
// take one more recording: the file built from it reads back with every earlier movie,
// program and sector, plus the new one.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "editor/core/vr_ifo.h"
#include "tests/support/fuzz_driver.h"

namespace {

// Files in memory: the existing management file is the input.
class MemoryOps : public editor::VrFileOps {
public:
    std::map<std::string, std::vector<uint8_t>> files;
    bool Read(const std::string& path, size_t limit, std::vector<uint8_t>* bytes, bool* exists) override {
        const auto it = files.find(path);
        *exists = it != files.end();
        if (!*exists || it->second.size() > limit) return false;
        *bytes = it->second;
        return true;
    }
    bool MakeFolder(const std::string&) override { return true; }
    bool Open(const std::string& path) override {
        open_ = path;
        files[path].clear();
        return true;
    }
    bool Write(const uint8_t* data, size_t length) override {
        files[open_].insert(files[open_].end(), data, data + length);
        return true;
    }
    bool Close() override { return true; }
    bool Replace(const std::string& from, const std::string& to) override {
        files[to] = files[from];
        files.erase(from);
        return true;
    }
    void Remove(const std::string& path) override { files.erase(path); }

private:
    std::string open_;
};

editor::VrMovieInfo SmallMovie() {
    editor::VrMovieInfo m;
    m.tableA = {0, 1, 0, 0, 0, 0, 0};
    m.tableB = {25, 0, 100, 25, 0, 80};
    return m;
}

// A management file with `n` recordings.
std::vector<uint8_t> Built(int n) {
    MemoryOps ops;
    for (int i = 0; i < n; ++i) {
        editor::CVrIfo ifo(&ops);
        ifo.OpenFolder("f");
        editor::VrMovieInfo m = SmallMovie();
        m.audioCoding = i % 3;
        ifo.SetMovie(m);
        if (!ifo.Build(nullptr)) __builtin_trap();
    }
    return ops.files["f/VR_MANGR.IFO"];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> input(data, data + size);
    editor::VrIfoContents before;
    if (!editor::CVrIfo::Parse(input, &before, nullptr)) return 0;
    MemoryOps ops;
    ops.files["f/VR_MANGR.IFO"] = input;
    editor::CVrIfo ifo(&ops);
    ifo.OpenFolder("f");
    ifo.SetMovie(SmallMovie());
    std::string error;
    if (!ifo.Build(&error)) return 0;  // a full counter or size is a refusal, not a fault
    editor::VrIfoContents after;
    if (!editor::CVrIfo::Parse(ops.files["f/VR_MANGR.IFO"], &after, nullptr)) __builtin_trap();
    if (after.movies.size() != before.movies.size() + 1 || after.programs.size() != before.programs.size() + 1 ||
        after.sectors != before.sectors + 180)
        __builtin_trap();
    for (size_t i = 0; i < before.movies.size(); ++i)
        if (after.movies[i] != before.movies[i]) __builtin_trap();
    for (size_t i = 0; i < before.programs.size(); ++i)
        if (after.programs[i] != before.programs[i]) __builtin_trap();
    return 0;
}

fuzzdriver::Options fuzzdriver::TargetOptions() {
    Options o;
    o.seeds = {Built(1), Built(3)};
    o.dictionary = {{0xFF}, {0x80}, {0x40}, {0x20}, {0x00, 0x00}};
    o.maxSize = 64 * 1024;
    return o;
}
