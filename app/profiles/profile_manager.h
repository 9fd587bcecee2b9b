// CProfileManager: the one profile store. It holds the built-in profiles, knows the user
// profile file "Profile.ini" in the per-user application data folder, and fills callers'
// records by class and index or by name. The file is read whole within each operation and
// replaced atomically when it changes; nothing of it is cached.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/profiles/codec_list.h"
#include "app/profiles/profile_file_io.h"
#include "app/profiles/profile_record.h"
#include "app/profiles/profile_services.h"
#include "app/profiles/wm_profile_list.h"

namespace profiles {

// A Windows Media stream profile offered as class 8.
struct StreamInfoEntry {
    std::string name;
    std::string description;
    std::string text;  // stream information text
    // The profile's version and index, the bit rate of its video streams together and of
    // its audio stream (bit/s).
    uint32_t values[4];
    std::unique_ptr<WMProfileInfo> profile;
};

// The class 8 entries, filled on the codec thread. While that thread runs (`done` set and
// still false) the user-interface thread sees no entries.
struct StreamInfoList {
    const std::atomic<bool>* done = nullptr;
    std::vector<StreamInfoEntry> entries;
};

// The text and values of the Stream Info entry of a Windows Media profile.
StreamInfoEntry MakeStreamInfoEntry(std::unique_ptr<WMProfileInfo> profile);

class CProfileManager {
public:
    // `fs` null: the process's file system; `codecs` null: the machine's codecs.
    CProfileManager(const ProfileStrings& strings, AppDataFolder& folder, ProfileFileSystem* fs = nullptr,
                    CodecPlatform* codecs = nullptr);
    ~CProfileManager();
    CProfileManager(const CProfileManager&) = delete;
    CProfileManager& operator=(const CProfileManager&) = delete;

    ProfileStatus CountProfiles(int32_t videoFormatClass, uint32_t* count);
    // The record's Attribute carries the page mask on entry.
    ProfileStatus ReadProfile(int32_t videoFormatClass, int32_t index, ProfileRecord& record, const char* name,
                              int anyClass);
    // Hands `visit` every profile that ReadProfile(class, 0, 1, 2, ...) without a name finds for
    // the page mask `mask`, in that order, reading the file once; `visit` returns false to stop.
    // KeepOrgSize is left as it is. Fails, after the built-ins, when the file cannot be read.
    using ProfileVisitor = std::function<bool(const ProfileRecord&)>;
    ProfileStatus ListProfiles(int32_t videoFormatClass, uint32_t mask, const ProfileVisitor& visit);
    ProfileStatus GetDefaultProfile(int kind, ProfileRecord& record);
    // The first profile of that class and Group that the page mask `mask` offers (the
    // camcorder's own MPEG-2 profile is the first of Group 3); E_FAIL when there is none.
    ProfileStatus FindGroupProfile(int32_t videoFormatClass, int32_t group, uint32_t mask, ProfileRecord& record);
    int ProfileNameExists(int32_t videoFormatClass, const char* name);
    // Appends the record's block to `file`, or to "Profile.ini" when `file` is null.
    ProfileStatus WriteProfile(const ProfileRecord& record, const char* file);
    // Removes every user profile of that class and name; every other block is kept byte for
    // byte.
    ProfileStatus DeleteProfile(int32_t videoFormatClass, const char* name);
    // Puts `record` in the place of the user profiles of that class and name in one atomic
    // replace of the file: the old profile is never gone without the new one written. With
    // no such profile it is appended.
    ProfileStatus ReplaceProfile(int32_t videoFormatClass, const char* name, const ProfileRecord& record);
    ProfileStatus CountFileProfiles(uint32_t* count);
    // Whether the profile file can be read: 0 when it can (or is missing), kProfileFileFull
    // when it is larger than the store reads, E_FAIL when it cannot be read.
    ProfileStatus CheckProfileFile();
    // Moves a profile file the store refuses aside (under a new name beside it, returned in
    // `asidePath`) and starts an empty one; nothing of the old file is lost.
    ProfileStatus SetProfileFileAside(std::string* asidePath);
    ProfileStatus GetFileProfileClass(uint32_t n, int32_t* videoFormatClass);

    // Fills the Stream Info list from the Windows Media inventory (`runtime` null: the
    // machine's); run on the codec thread before it sets its done flag.
    void LoadStreamInfoProfiles(WMRuntime* runtime = nullptr);
    // The codec thread's done flag; the Stream Info list is read only once it is set, and the
    // destructor waits for it.
    void SetCodecThreadDone(const std::atomic<bool>* done) { streamInfo_.done = done; }
    ProfileStatus CountStreamInfoProfiles(int32_t videoFormatClass, uint32_t* count);
    ProfileStatus ReadStreamInfoProfile(int32_t videoFormatClass, uint32_t index, ProfileRecord& record);
    ProfileStatus FindStreamInfoProfile(int32_t videoFormatClass, const char* name, ProfileRecord& record);

    // KeepOrgSize of the H.264 profile read last (0 for a built-in one).
    ProfileStatus GetKeepOrgSize(int32_t* value);
    ProfileStatus SetKeepOrgSize(int32_t value);

    ProfileStatus ApplyAviFrameSize(ProfileRecord& record, bool ntsc);
    // Makes `compressor` the AVI record's video compressor: selects it in the codec inventory,
    // copies its state into `state` (which the record then points to) and, when the state
    // holds a frame size, takes it as the record's Width and Height. E_FAIL (the record
    // unchanged) when the inventory has no such codec.
    ProfileStatus UseAviCompressor(ProfileRecord& record, const char* compressor, std::vector<uint8_t>& state);

    // The codec inventory (video compressors for AVI profiles). EnumerateCodecs runs on the
    // main page's codec thread; the others on the user-interface thread once it is done.
    int EnumerateCodecs(int divxOnly) { return codecs_->Enumerate(divxOnly); }
    void ReleaseCodecs() { codecs_->CloseAll(); }
    void SelectCodecByName(const char* name) { codecs_->SelectByName(name); }
    void SelectDefaultCodec() { codecs_->SelectDivX(); }
    void ConfigureCodec(uintptr_t parentWindow) { codecs_->Configure(parentWindow); }
    int GetCodecStateSize(uint32_t* size) { return codecs_->GetStateSize(size); }
    int GetCodecState(void* buffer, uint32_t size) { return codecs_->GetState(buffer, size); }
    CCodecList& Codecs() { return *codecs_; }

    // Frame values of an AVI record's compressor state block (bytes 268, 272, 12 and 264);
    // the fourth is saved and cleared around the hand-over of the record to the engine.
    ProfileStatus GetFrameInfo(const void* state, uint32_t size, uint32_t out[4]) {
        return GetCompressorFrameInfo(state, size, out);
    }
    ProfileStatus SetFrameInfo(void* state, uint32_t size, uint32_t value) {
        return SetCompressorFrameValue(state, size, value);
    }

    const std::string& ProfilePath() const { return profilePath_; }
    uint32_t SlotCount() const { return static_cast<uint32_t>(slots_.size()); }
    const ProfileSlot& Slot(uint32_t i) const { return slots_[i]; }
    StreamInfoList& StreamInfo() { return streamInfo_; }

private:
    enum class FileText { kOk, kMissing, kFailed, kTooLarge };
    static ProfileStatus FileFailure(FileText file);
    // The text without the user profiles of that class and name; false when it has none.
    static bool CutProfile(const std::string& text, int32_t videoFormatClass, const char* name, std::string& kept);
    // Reads the profile file; a missing one is created empty when `create`.
    FileText LoadProfileFile(std::string& text, bool create);
    void FillFromSlot(const ProfileSlot& slot, ProfileRecord& record);
    void FillFromStreamInfo(const StreamInfoEntry& entry, ProfileRecord& record);
    bool SlotTakesPart(const ProfileSlot& slot, uint32_t mask) const;
    // The Stream Info entries the user-interface thread may read (none while the codec thread
    // runs).
    const std::vector<StreamInfoEntry>& ReadyStreamInfo() const;

    const ProfileStrings& strings_;
    AppDataFolder& folder_;
    ProfileFileSystem& fs_;
    std::string profilePath_;
    std::vector<ProfileSlot> slots_;
    int32_t keepOrgSize_ = 0;
    StreamInfoList streamInfo_;
    std::unique_ptr<CCodecList> codecs_;
};

}  // namespace profiles
