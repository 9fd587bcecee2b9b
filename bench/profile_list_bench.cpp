// Listing the user profiles of a large "Profile.ini" (2,510 blocks): by index, one lookup per
// profile as the store's lookup interface allows, against one listing that reads the file once.
#include <benchmark/benchmark.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "app/profiles/profile_manager.h"

namespace {

class Strings : public profiles::ProfileStrings {
public:
    std::string Load(uint32_t id) const override { return "S" + std::to_string(id); }
};

class Folder : public profiles::AppDataFolder {
public:
    Folder() : dir_((std::filesystem::temp_directory_path() / "profile_list_bench").string() + "/") {
        std::filesystem::create_directories(dir_);
    }
    ~Folder() override { std::filesystem::remove_all(dir_); }
    bool Get(std::string& folder) override {
        folder = dir_;
        return true;
    }

private:
    std::string dir_;
};

constexpr int kProfiles = 2510;
constexpr int kListed = 500;

struct Store {
    Strings strings;
    Folder folder;
    profiles::CProfileManager manager{strings, folder};
    Store() {
        std::remove(manager.ProfilePath().c_str());
        for (int i = 0; i < kProfiles; ++i) {
            profiles::ProfileRecord r;
            std::memset(&r, 0, sizeof r);
            std::snprintf(r.head.name, sizeof r.head.name, "user %d", i);
            r.head.group = profiles::kGroupUser;
            r.head.videoFormatClass = profiles::kClassDv;
            r.head.attribute = 0xC3;
            manager.WriteProfile(r, nullptr);
        }
    }
};

Store& TheStore() {
    static Store store;
    return store;
}

void ByIndex(benchmark::State& state) {
    Store& s = TheStore();
    for (auto _ : state) {
        for (int i = 0; i < kListed; ++i) {
            profiles::ProfileRecord r;
            std::memset(&r, 0, sizeof r);
            r.head.attribute = 2;
            benchmark::DoNotOptimize(s.manager.ReadProfile(profiles::kClassDv, i, r, nullptr, 0));
        }
    }
}
BENCHMARK(ByIndex)->Unit(benchmark::kMillisecond);

void OneListing(benchmark::State& state) {
    Store& s = TheStore();
    for (auto _ : state) {
        int n = 0;
        s.manager.ListProfiles(profiles::kClassDv, 2, [&](const profiles::ProfileRecord&) { return ++n < kListed; });
        benchmark::DoNotOptimize(n);
    }
}
BENCHMARK(OneListing)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
