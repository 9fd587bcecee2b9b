// Doubles of the store's surroundings for the profile tests: string texts, a fresh
// application data folder per test, and a file system whose writes can be made to fail.
#pragma once

#include <cstdint>
#include <filesystem>
#include <future>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/profiles/codec_list.h"
#include "app/profiles/profile_file.h"
#include "app/profiles/profile_file_io.h"
#include "app/profiles/profile_services.h"
#include "tests/support/shell.h"

namespace profiles::testing {

// A codec manager with one DivX compressor that opens only once `gate` is ready: the codec
// inventory is held up for as long as a test needs. It records configuration requests.
class GatedMachine : public CodecPlatform {
public:
    static constexpr Handle kHandle = 7;
    std::shared_future<void> gate;
    std::vector<Handle> configured;

    bool OpenCompressor(uint32_t index, std::string* description, Handle* handle) override {
        gate.wait();
        if (index > 0) return false;
        *description = "DivX 5 Codec";
        *handle = kHandle;
        return true;
    }
    void CloseCompressor(Handle) override {}
    bool ListCompressorFilters(std::vector<FoundFilter>* out, std::string*) override {
        out->push_back({"DivX 5 Codec", true, 9});
        return true;
    }
    void ReleaseFilter(Filter) override {}
    void ShowError(const std::string&) override {}
    bool CanConfigure(Handle) override { return true; }
    void Configure(Handle handle, uintptr_t) override { configured.push_back(handle); }
    uint32_t GetStateSize(Handle) override { return 0; }
    void GetState(Handle, void*, uint32_t) override {}
};

// String `id` reads "S<id>".
class FakeStrings : public ProfileStrings {
public:
    std::string Load(uint32_t id) const override { return "S" + std::to_string(id); }
};

// A new, empty folder under the fixture folder.
class TempAppFolder : public AppDataFolder {
public:
    TempAppFolder() : dir_(testsupport::FixturePath(testsupport::UniqueName("profiles")) + "/") {}
    ~TempAppFolder() override {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    bool Get(std::string& folder) override {
        std::error_code ec;
        std::filesystem::create_directories(dir_, ec);
        folder = dir_;
        return !ec;
    }
    const std::string& dir() const { return dir_; }

private:
    std::string dir_;
};

// The process's file system, but the write step numbered `failAt` (counting OpenNew,
// Write, Commit and Replace calls from 0) fails; a failing Write writes half its data.
class FaultyFileSystem : public ProfileFileSystem {
public:
    explicit FaultyFileSystem(int failAt) : failAt_(failAt) {}
    std::FILE* OpenNew(const std::string& path) override {
        return Fails() ? nullptr : ProfileFileSystem::OpenNew(path);
    }
    bool Write(std::FILE* file, std::string_view data) override {
        if (!Fails()) return ProfileFileSystem::Write(file, data);
        ProfileFileSystem::Write(file, data.substr(0, data.size() / 2));
        return false;
    }
    bool Commit(std::FILE* file) override {
        bool fail = Fails();
        return ProfileFileSystem::Commit(file) && !fail;
    }
    bool Replace(const std::string& from, const std::string& to) override {
        return Fails() ? false : ProfileFileSystem::Replace(from, to);
    }
    int steps() const { return step_; }

private:
    bool Fails() { return step_++ == failAt_; }
    int failAt_;
    int step_ = 0;
};

inline std::string ReadWhole(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

inline void WriteWhole(const std::string& path, const std::string& text) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << text;
}

// `text` with every "\n" turned into the file's line end.
inline std::string WithLineEnds(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out.append(kProfileLineEnd);
        else
            out.push_back(c);
    }
    return out;
}

}  // namespace profiles::testing
