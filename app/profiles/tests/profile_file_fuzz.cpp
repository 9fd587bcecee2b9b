// Fuzz target over the profile file reader: the input is the whole "Profile.ini". Every
// store operation that reads the file runs on it, then a delete and a write, whose results
// are read back. Served from memory, so no disk is touched.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "app/profiles/builtin_profiles.h"
#include "app/profiles/profile_file.h"
#include "app/profiles/profile_manager.h"
#include "tests/support/fuzz_driver.h"

namespace {

using namespace profiles;

class MemoryFileSystem : public ProfileFileSystem {
public:
    std::map<std::string, std::string> files;

    ReadResult ReadAll(const std::string& path, size_t limit, std::string& out) override {
        auto it = files.find(path);
        if (it == files.end()) return ReadResult::kMissing;
        if (it->second.size() > limit) return ReadResult::kTooLarge;
        out = it->second;
        return ReadResult::kOk;
    }
    bool Exists(const std::string& path) override { return files.count(path) != 0; }
    bool CreateIfMissing(const std::string& path) override {
        files.emplace(path, std::string());
        return true;
    }
    std::FILE* OpenNew(const std::string& path) override {
        pendingPath_ = path;
        pending_.clear();
        return reinterpret_cast<std::FILE*>(&pending_);  // a token; never used as a FILE
    }
    bool Write(std::FILE*, std::string_view data) override {
        pending_.append(data);
        return true;
    }
    bool Commit(std::FILE*) override {
        files[pendingPath_] = pending_;
        return true;
    }
    bool Replace(const std::string& from, const std::string& to) override {
        auto it = files.find(from);
        if (it == files.end()) return false;
        files[to] = std::move(it->second);
        files.erase(it);
        return true;
    }
    bool Remove(const std::string& path) override { return files.erase(path) != 0; }

private:
    std::string pendingPath_;
    std::string pending_;
};

class Strings : public ProfileStrings {
public:
    std::string Load(uint32_t id) const override { return "S" + std::to_string(id); }
};

class Folder : public AppDataFolder {
public:
    bool Get(std::string& folder) override {
        folder = "mem/";
        return true;
    }
};

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "profile fuzz: %s\n", what);
        std::abort();
    }
}

// File blocks read back per input. Each lookup parses the whole file again, so the cost of
// an input grows with the square of its blocks; later blocks take the same lookups.
constexpr uint32_t kMaxReads = 16;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    MemoryFileSystem fs;
    Strings strings;
    Folder folder;
    CProfileManager store(strings, folder, &fs);
    fs.files[store.ProfilePath()] = std::string(reinterpret_cast<const char*>(data), size);

    uint32_t count = 0, blocks = 0;
    store.CountProfiles(-1, &count);
    Check(store.CountFileProfiles(&blocks) == kProfileOk, "count");
    for (int32_t cls = 1; cls <= 13; ++cls) {
        uint32_t n = 0;
        store.CountProfiles(cls, &n);
        for (uint32_t mask : {1u, 2u}) {
            ProfileRecord r;
            std::memset(&r, 0, sizeof r);
            r.head.attribute = mask;
            store.ReadProfile(cls, static_cast<int32_t>(n) - 1, r, nullptr, 0);
        }
    }
    ProfileRecord victim;
    bool haveVictim = false;
    for (uint32_t i = 0; i < blocks && i < kMaxReads; ++i) {
        ProfileRecord r;
        std::memset(&r, 0, sizeof r);
        r.head.attribute = 3;
        if (store.ReadProfile(0, 77 + static_cast<int32_t>(i), r, nullptr, 1) != kProfileOk) continue;
        int32_t cls = 0;
        Check(store.GetFileProfileClass(i, &cls) == kProfileOk, "class of a block");
        ProfileRecord byName;
        std::memset(&byName, 0, sizeof byName);
        byName.head.attribute = 3;
        store.ReadProfile(r.head.videoFormatClass, 0, byName, r.head.name, 0);
        store.ProfileNameExists(r.head.videoFormatClass, r.head.name);
        if (!haveVictim && r.head.group == kGroupUser) {
            victim = r;
            haveVictim = true;
        }
    }

    // Writing a record read from the file keeps the old text and adds one block that reads
    // back with the record's class, whatever state the old text ended in.
    if (haveVictim) {
        ProfileRecord stored = victim;
        stored.head.attribute |= kAttrStorable;
        const std::string before = fs.files[store.ProfilePath()];
        uint32_t opened = 0;
        Check(store.CountFileProfiles(&opened) == kProfileOk, "count before write");
        Check(store.WriteProfile(stored, nullptr) == kProfileOk, "write");
        Check(fs.files[store.ProfilePath()].compare(0, before.size(), before) == 0, "write kept the old text");
        uint32_t after = 0;
        int32_t cls = 0;
        Check(store.CountFileProfiles(&after) == kProfileOk && after == opened + 1, "one block more");
        Check(store.GetFileProfileClass(after - 1, &cls) == kProfileOk && cls == victim.head.videoFormatClass,
              "written block reads back");
        // Deleting it leaves no user profile of that class and name.
        Check(store.DeleteProfile(victim.head.videoFormatClass, victim.head.name) == kProfileOk, "delete");
        ProfileRecord gone;
        std::memset(&gone, 0, sizeof gone);
        gone.head.attribute = 3;
        if (store.ReadProfile(victim.head.videoFormatClass, 0, gone, victim.head.name, 0) == kProfileOk) {
            Check(gone.head.group != kGroupUser, "deleted profile still found");
        }
    }
    return 0;
}

namespace {

fuzzdriver::Bytes AsBytes(const std::string& s) {
    return fuzzdriver::Bytes(s.begin(), s.end());
}

// Written profiles: each built-in record as a user profile, all of them in one file, and a
// block with an empty description and a full attribute word.
std::vector<fuzzdriver::Bytes> WrittenProfiles() {
    std::vector<ProfileSlot> slots(BuiltinProfileCount());
    BuildBuiltinSlots(slots.data(), slots.size());
    std::vector<fuzzdriver::Bytes> seeds;
    std::string all;
    for (const ProfileSlot& s : slots) {
        ProfileRecord r;
        std::memset(&r, 0, sizeof r);
        r.head = s.head;
        r.block = s.block;
        r.head.group = kGroupUser;
        std::snprintf(r.head.name, sizeof r.head.name, "user %u", s.identifier);
        std::snprintf(r.head.description, sizeof r.head.description, "line one\nline <two> & more");
        std::string one;
        AppendProfileBlock(r, one);
        seeds.push_back(AsBytes(one));
        all += one;
    }
    seeds.push_back(AsBytes(all));
    seeds.push_back(AsBytes(
        "\r\n&\r\n<Name>x\r\n<Video Format Class>7\r\n<Description>\r\n&&\r\n&\r\n<Attribute>ffffffff\r\n&&\r\n"));
    return seeds;
}

}  // namespace

// The mutator writes block marks, keys, entities and edge numbers, and long runs of one
// letter (names and lines past their limits).
fuzzdriver::Options fuzzdriver::TargetOptions() {
    Options o;
    o.seeds = WrittenProfiles();
    for (const char* token : {"\n&\n",
                              "\n&&\n",
                              "<Description>\n",
                              "<Video Format Class>",
                              "<Name>",
                              "<Group>2\n",
                              "<Attribute>",
                              "<Audio BitRate>",
                              "<Pattern>",
                              "<Frame Rate>",
                              "<Stream Info>",
                              "&lt;",
                              "&amp;",
                              "<Width>",
                              "<Format Tag>",
                              "-2147483648",
                              "4294967296",
                              "nan",
                              "1e39",
                              "\r"})
        o.dictionary.push_back(AsBytes(token));
    o.mutateHook = [](Bytes& b, Rng& rng) {
        const Bytes run(rng() % 2000, static_cast<uint8_t>('a' + rng() % 26));
        b.insert(b.begin() + static_cast<std::ptrdiff_t>(rng() % (b.size() + 1)), run.begin(), run.end());
    };
    o.randomOneIn = 16;
    return o;
}
