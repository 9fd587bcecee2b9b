#include "app/profiles/profile_manager.h"

#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

#include "app/profiles/builtin_profiles.h"
#include "app/profiles/profile_file.h"

namespace profiles {
namespace {

constexpr const char kProfileFileName[] = "Profile.ini";
// Largest codec state block taken into a record (codec states are a few hundred bytes).
constexpr uint32_t kMaxCompressorState = 1u << 20;
constexpr uint32_t kAviSmallName = 5004, kAviMediumName = 5005, kAviLargeName = 5006;

// The lookup of one profile file walk (the rules continue the built-ins' running index).
// With a `visit` function (by class, no name) every block the lookup would find at its index
// is handed to it in index order, in one walk.
class LookupSink : public ProfileBlockSink {
public:
    using Visit = std::function<bool(const ProfileRecord&)>;

    LookupSink(int32_t cls, int32_t index, const char* name, bool anyClass, uint32_t mask, int32_t& running,
               ProfileRecord& out, const Visit* visit = nullptr)
        : cls_(cls),
          index_(index),
          name_(name),
          anyClass_(anyClass),
          mask_(mask),
          running_(running),
          out_(out),
          visit_(visit) {}

    bool found() const { return found_; }

    void Open(const ProfileBlock&) override { rejected_ = false; }

    void Applied(HeadLine line, const ProfileBlock& b) override {
        if (rejected_) return;
        const ProfileHead& h = b.record.head;
        switch (line) {
            case HeadLine::kName:
                rejected_ = name_ != nullptr && !ProfileBlockHasName(b, name_);
                break;
            case HeadLine::kVideoFormatClass:
                if (!anyClass_) {
                    rejected_ = h.videoFormatClass != cls_;
                } else if (running_ != index_) {
                    ++running_;
                    rejected_ = true;
                }
                break;
            case HeadLine::kAttribute:
                rejected_ = (h.attribute & mask_) == 0;
                break;
            case HeadLine::kOther:
                break;
        }
    }

    bool Close(const ProfileBlock& b) override {
        // A block the file ends in counts as one: it is listed, read and deleted like the
        // others (the next write closes it).
        if (rejected_) return false;
        // A block must show the class asked for and, in a lookup by name, that name.
        if (!anyClass_ && !b.hasClass) return false;
        if (name_ != nullptr) {
            if (!ProfileBlockHasName(b, name_)) return false;
        } else if (running_ != index_) {
            ++running_;
            return false;
        }
        if (visit_ != nullptr) {
            ++running_;
            ++index_;
            return !(*visit_)(b.record);
        }
        std::memcpy(&out_, &b.record, sizeof out_);
        found_ = true;
        return true;
    }

private:
    int32_t cls_, index_;
    const char* name_;
    bool anyClass_;
    uint32_t mask_;
    int32_t& running_;
    ProfileRecord& out_;
    const Visit* visit_;
    bool rejected_ = false;
    bool found_ = false;
};

// Calls `f` for every block of the text, closed or not.
template <typename F>
void ForEachBlock(std::string_view text, F f) {
    struct Sink : ProfileBlockSink {
        explicit Sink(F& fn) : fn(fn) {}
        bool Close(const ProfileBlock& b) override { return fn(b); }
        F& fn;
    } sink(f);
    WalkProfileText(text, sink);
}

// A runtime text in the record's 8-bit texts: Latin-1 characters as they are, others as '?'.
std::string Narrow(const std::wstring& text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t c : text)
        out.push_back(static_cast<uint32_t>(c) < 0x100 && c != 0 ? static_cast<char>(c) : '?');
    return out;
}

std::string Kbit(uint32_t bitRate) {
    return std::to_string((bitRate + 500) / 1000) + " kbit/s";
}

std::string CodecText(const std::wstring& name) {
    return name.empty() ? std::string("unnamed codec") : Narrow(name);
}

}  // namespace

StreamInfoEntry MakeStreamInfoEntry(std::unique_ptr<WMProfileInfo> profile) {
    StreamInfoEntry e{};
    e.name = Narrow(profile->name);
    e.description = Narrow(profile->description);
    uint32_t videoRate = 0;
    for (const WMVideoStreamInfo& v : profile->video) {
        videoRate += v.info.bitRate;
        e.text += "Video " + std::to_string(v.info.streamNumber) + ": " + CodecText(v.codecName) + ", " +
                  std::to_string(v.width) + "x" + std::to_string(v.height) + ", " + std::to_string(v.framesPerSecond) +
                  " fps, " + Kbit(v.info.bitRate) + ", quality " + std::to_string(v.quality) +
                  ", key picture at least every " + std::to_string(v.keyFrameSpacing) + " s\n";
    }
    if (const WMAudioStreamInfo* a = profile->audio.get()) {
        e.text += "Audio " + std::to_string(a->info.streamNumber) + ": " + CodecText(a->codecName) + ", " +
                  std::to_string(a->samplesPerSec) + " Hz, " + std::to_string(a->channels) + " channel(s), " +
                  Kbit(a->info.bitRate) + "\n";
    }
    e.values[0] = profile->version;
    e.values[1] = profile->index;
    e.values[2] = videoRate;
    e.values[3] = profile->audio ? profile->audio->info.bitRate : 0;
    e.profile = std::move(profile);
    return e;
}

CProfileManager::CProfileManager(const ProfileStrings& strings, AppDataFolder& folder, ProfileFileSystem* fs,
                                 CodecPlatform* codecs)
    : strings_(strings),
      folder_(folder),
      fs_(fs ? *fs : DefaultProfileFileSystem()),
      codecs_(std::make_unique<CCodecList>(codecs)) {
    std::string dir;
    if (folder_.Get(dir)) profilePath_ = dir + kProfileFileName;
    slots_.resize(BuiltinProfileCount());
    BuildBuiltinSlots(slots_.data(), slots_.size());
}

CProfileManager::~CProfileManager() {
    // The codec thread may still be adding entries: wait for its done flag.
    while (streamInfo_.done != nullptr && !streamInfo_.done->load(std::memory_order_acquire))
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

ProfileStatus CProfileManager::FileFailure(FileText file) {
    return file == FileText::kTooLarge ? kProfileFileFull : kProfileFail;
}

ProfileStatus CProfileManager::CheckProfileFile() {
    std::string text;
    const FileText file = LoadProfileFile(text, false);
    return file == FileText::kOk || file == FileText::kMissing ? kProfileOk : FileFailure(file);
}

ProfileStatus CProfileManager::SetProfileFileAside(std::string* asidePath) {
    if (profilePath_.empty()) return kProfileFail;
    // The first free name "Profile.ini.kept", "Profile.ini.kept2", ...; a kept file is never
    // overwritten.
    for (int n = 1; n <= 999; ++n) {
        std::string aside = profilePath_ + ".kept";
        if (n > 1) aside += std::to_string(n);
        if (fs_.Exists(aside)) continue;
        if (!fs_.Replace(profilePath_, aside)) return kProfileFail;
        if (asidePath != nullptr) *asidePath = aside;
        return fs_.CreateIfMissing(profilePath_) ? kProfileOk : kProfileFail;
    }
    return kProfileFail;
}

CProfileManager::FileText CProfileManager::LoadProfileFile(std::string& text, bool create) {
    text.clear();
    if (profilePath_.empty()) return FileText::kFailed;
    switch (fs_.ReadAll(profilePath_, kProfileFileLimit, text)) {
        case ProfileFileSystem::ReadResult::kOk:
            return FileText::kOk;
        case ProfileFileSystem::ReadResult::kMissing:
            if (create && !fs_.CreateIfMissing(profilePath_)) return FileText::kFailed;
            return FileText::kMissing;
        case ProfileFileSystem::ReadResult::kTooLarge:
            return FileText::kTooLarge;
        default:
            return FileText::kFailed;
    }
}

bool CProfileManager::SlotTakesPart(const ProfileSlot& slot, uint32_t mask) const {
    return (slot.head.attribute & kAttrHidden) == 0 && (slot.head.attribute & mask) != 0 &&
           slot.head.group != kGroupUser;
}

void CProfileManager::FillFromSlot(const ProfileSlot& slot, ProfileRecord& record) {
    std::memset(&record, 0, sizeof record);
    ProfileHead& h = record.head;
    h = slot.head;
    const std::string name = strings_.Load(slot.head.nameId);
    const std::string description = strings_.Load(slot.head.descId);
    CopyText(h.name, name.data(), name.size());
    CopyText(h.description, description.data(), description.size());
    std::memset(h.outputFileName, 0, sizeof h.outputFileName);
    const ClassBlock& from = slot.block;
    ClassBlock& to = record.block;
    switch (h.videoFormatClass) {
        case kClassAvi:
            to.avi = from.avi;
            break;
        case kClassDv:
            to.dv = from.dv;
            break;
        case kClassMpeg1:
        case kClassMpeg2:
        case kClassVcd:
        case kClassSvcd:
        case kClassDvd:
            to.mpeg = from.mpeg;
            break;
        case kClassReal:
            to.real = from.real;
            break;
        case kClassQuickTime:
            to.quickTime = from.quickTime;
            break;
        case kClassH264:
            to.h264 = from.h264;
            to.h264.keepOrgSize = 0;
            keepOrgSize_ = 0;
            break;
        default:
            break;
    }
}

ProfileStatus CProfileManager::CountProfiles(int32_t cls, uint32_t* count) {
    if (cls == kClassStreamInfo) return CountStreamInfoProfiles(cls, count);
    uint32_t n = 0;
    for (const ProfileSlot& s : slots_) {
        if ((s.head.attribute & kAttrHidden) == 0 && (cls == -1 || s.head.videoFormatClass == cls)) ++n;
    }
    *count = n;
    std::string text;
    const FileText file = LoadProfileFile(text, true);
    if (file != FileText::kOk && file != FileText::kMissing) return FileFailure(file);
    ForEachBlock(text, [&](const ProfileBlock& b) {
        if (cls == -1 || (b.hasClass && b.record.head.videoFormatClass == cls)) ++n;
        return false;
    });
    *count = n;
    return kProfileOk;
}

ProfileStatus CProfileManager::ReadProfile(int32_t cls, int32_t index, ProfileRecord& record, const char* name,
                                           int anyClass) {
    if (cls == kClassStreamInfo) {
        if (name == nullptr || *name == '\0') return ReadStreamInfoProfile(cls, static_cast<uint32_t>(index), record);
        return FindStreamInfoProfile(cls, name, record);
    }
    const uint32_t mask = record.head.attribute;
    if (name != nullptr && *name == '\0') name = nullptr;
    int32_t running = 0;
    for (const ProfileSlot& s : slots_) {
        if (!SlotTakesPart(s, mask)) continue;
        if (name != nullptr) {
            if (s.head.videoFormatClass == cls && strings_.Load(s.head.nameId) == name) {
                FillFromSlot(s, record);
                return kProfileOk;
            }
        } else if (s.head.videoFormatClass == cls || anyClass == 1) {
            if (running == index) {
                FillFromSlot(s, record);
                return kProfileOk;
            }
            ++running;
        }
    }

    std::string text;
    if (LoadProfileFile(text, true) == FileText::kOk) {
        auto found = std::make_unique<ProfileRecord>();
        LookupSink sink(cls, index, name, anyClass == 1, mask, running, *found);
        WalkProfileText(text, sink);
        if (sink.found()) {
            std::memcpy(&record, found.get(), sizeof record);
            if (record.head.videoFormatClass == kClassH264) keepOrgSize_ = record.block.h264.keepOrgSize;
            return kProfileOk;
        }
    }
    record.head.group = kGroupLookupFailed;
    record.head.videoFormatClass = kClassLookupFailed;
    record.head.attribute = mask;
    return kProfileFail;
}

ProfileStatus CProfileManager::ListProfiles(int32_t cls, uint32_t mask, const ProfileVisitor& visit) {
    if (cls == kClassStreamInfo) {
        ProfileRecord record;
        for (const StreamInfoEntry& e : ReadyStreamInfo()) {
            FillFromStreamInfo(e, record);
            if (!visit(record)) return kProfileOk;
        }
        return kProfileOk;
    }
    auto record = std::make_unique<ProfileRecord>();
    int32_t running = 0;
    for (const ProfileSlot& s : slots_) {
        if (!SlotTakesPart(s, mask) || s.head.videoFormatClass != cls) continue;
        const int32_t keep = keepOrgSize_;
        FillFromSlot(s, *record);
        keepOrgSize_ = keep;
        ++running;
        if (!visit(*record)) return kProfileOk;
    }
    std::string text;
    const FileText file = LoadProfileFile(text, true);
    if (file != FileText::kOk && file != FileText::kMissing) return FileFailure(file);
    LookupSink sink(cls, running, nullptr, false, mask, running, *record, &visit);
    WalkProfileText(text, sink);
    return kProfileOk;
}

ProfileStatus CProfileManager::FindGroupProfile(int32_t cls, int32_t group, uint32_t mask, ProfileRecord& record) {
    bool found = false;
    ListProfiles(cls, mask, [&](const ProfileRecord& r) {
        if (r.head.group != group) return true;
        record = r;
        found = true;
        return false;
    });
    return found ? kProfileOk : kProfileFail;
}

ProfileStatus CProfileManager::GetDefaultProfile(int kind, ProfileRecord& record) {
    struct Kind {
        uint32_t nameId;
        uint32_t mask;  // 0: the caller's
        int32_t classes[5];
    };
    static constexpr Kind kKinds[] = {
        {5042, 1, {3, 5, 4, 7, 6}},
        {5045, 2, {3, 5}},
        {5115, 2, {4, 7, 6}},
        {5156, 2, {10}},
        {5163, 2, {9}},
        {5004, 0, {1}},
        {5009, 0, {2}},
        {5084, 2, {5}},
        {5081, 2, {5}},
        {5138, 2, {7}},
        {5085, 2, {7}},
        {5145, 2, {6}},
        {5142, 2, {6}},
    };
    if (kind < 0 || kind >= int(std::size(kKinds))) return kProfileFail;
    const Kind& k = kKinds[kind];
    const std::string name = strings_.Load(k.nameId);
    if (k.mask != 0) record.head.attribute = k.mask;
    for (int32_t cls : k.classes) {
        if (cls == 0) break;
        if (ReadProfile(cls, 0, record, name.c_str(), 0) == kProfileOk) return kProfileOk;
    }
    return kProfileFail;
}

int CProfileManager::ProfileNameExists(int32_t cls, const char* name) {
    if (name == nullptr) return 0;
    // A name the store would not keep exactly is never free: the write refuses it.
    if (!IsStorableProfileName(name)) return 1;
    for (const ProfileSlot& s : slots_) {
        if (s.head.videoFormatClass == cls && strings_.Load(s.head.nameId) == name) return 1;
    }
    std::string text;
    if (LoadProfileFile(text, true) != FileText::kOk) return 0;
    bool exists = false;
    ForEachBlock(text, [&](const ProfileBlock& b) {
        exists = b.hasClass && ProfileBlockHasName(b, name) && b.record.head.videoFormatClass == cls;
        return exists;
    });
    return exists ? 1 : 0;
}

ProfileStatus CProfileManager::WriteProfile(const ProfileRecord& record, const char* file) {
    if (profilePath_.empty()) return kProfileFail;
    if (!fs_.Exists(profilePath_)) {
        std::string dir;
        folder_.Get(dir);
    }
    if ((record.head.attribute & kAttrStorable) == 0) return kProfileFail;
    if (!IsStorableProfileName(
            std::string_view(record.head.name, strnlen(record.head.name, sizeof record.head.name)))) {
        return kProfileBadName;
    }
    const std::string target = file != nullptr ? std::string(file) : profilePath_;
    std::string text;
    const auto read = fs_.ReadAll(target, kProfileFileLimit, text);
    if (read == ProfileFileSystem::ReadResult::kTooLarge) return kProfileFileFull;
    if (read != ProfileFileSystem::ReadResult::kOk && read != ProfileFileSystem::ReadResult::kMissing) {
        return kProfileFail;
    }
    CloseDanglingBlock(text);
    AppendProfileBlock(record, text);
    // A file past the read limit could no longer be read or changed by any operation.
    if (text.size() > kProfileFileLimit) return kProfileFileFull;
    return ReplaceFileContent(fs_, target, text) ? kProfileOk : kProfileFail;
}

ProfileStatus CProfileManager::DeleteProfile(int32_t cls, const char* name) {
    if (name == nullptr) return kProfileFail;
    std::string text;
    const FileText file = LoadProfileFile(text, false);
    switch (file) {
        case FileText::kMissing:
            return kProfileOk;
        case FileText::kFailed:
        case FileText::kTooLarge:
            return FileFailure(file);
        case FileText::kOk:
            break;
    }
    std::string kept;
    if (!CutProfile(text, cls, name, kept)) return kProfileOk;  // nothing of that class and name
    return ReplaceFileContent(fs_, profilePath_, kept) ? kProfileOk : kProfileFail;
}

ProfileStatus CProfileManager::ReplaceProfile(int32_t cls, const char* name, const ProfileRecord& record) {
    if (name == nullptr || profilePath_.empty()) return kProfileFail;
    if ((record.head.attribute & kAttrStorable) == 0) return kProfileFail;
    if (!IsStorableProfileName(
            std::string_view(record.head.name, strnlen(record.head.name, sizeof record.head.name)))) {
        return kProfileBadName;
    }
    std::string text;
    const FileText file = LoadProfileFile(text, false);
    if (file == FileText::kFailed || file == FileText::kTooLarge) return FileFailure(file);
    std::string kept;
    if (!CutProfile(text, cls, name, kept)) kept = std::move(text);
    CloseDanglingBlock(kept);
    AppendProfileBlock(record, kept);
    if (kept.size() > kProfileFileLimit) return kProfileFileFull;
    return ReplaceFileContent(fs_, profilePath_, kept) ? kProfileOk : kProfileFail;
}

bool CProfileManager::CutProfile(const std::string& text, int32_t cls, const char* name, std::string& kept) {
    kept.clear();
    // Cut each matching block together with the empty line the writer puts before it. A kept
    // block that only the cut block's "&" line closed gets its "&&", so it stays readable.
    size_t copied = 0;
    bool keptOpenBefore = false;  // the last block kept ends without "&&" and nothing follows it yet
    ForEachBlock(text, [&](const ProfileBlock& b) {
        const ProfileHead& h = b.record.head;
        if (h.group != kGroupUser || !b.hasClass || h.videoFormatClass != cls || !ProfileBlockHasName(b, name)) {
            keptOpenBefore = b.closedByNext;
            return false;
        }
        size_t begin = b.begin;
        if (begin >= copied + 1 && text[begin - 1] == '\n') {
            size_t prev = begin - 1;
            if (prev >= copied + 1 && text[prev - 1] == '\r') --prev;
            if (prev == copied || (prev > copied && text[prev - 1] == '\n')) begin = prev;
        }
        kept.append(text, copied, begin - copied);
        if (keptOpenBefore) {
            kept.append("&&");
            kept.append(kProfileLineEnd);
            keptOpenBefore = false;
        }
        copied = b.end;
        return false;
    });
    if (copied == 0) return false;
    kept.append(text, copied, std::string::npos);
    return true;
}

ProfileStatus CProfileManager::CountFileProfiles(uint32_t* count) {
    std::string text;
    if (LoadProfileFile(text, false) != FileText::kOk) return kProfileFail;
    uint32_t n = 0;
    ForEachBlock(text, [&](const ProfileBlock&) {
        ++n;
        return false;
    });
    *count = n;
    return kProfileOk;
}

ProfileStatus CProfileManager::GetFileProfileClass(uint32_t n, int32_t* cls) {
    std::string text;
    if (LoadProfileFile(text, false) != FileText::kOk) return kProfileFail;
    uint32_t i = 0;
    bool found = false;
    ForEachBlock(text, [&](const ProfileBlock& b) {
        if (i++ != n) return false;
        *cls = b.record.head.videoFormatClass;
        found = true;
        return true;
    });
    return found ? kProfileOk : kProfileFail;
}

const std::vector<StreamInfoEntry>& CProfileManager::ReadyStreamInfo() const {
    static const std::vector<StreamInfoEntry> kNone;
    if (streamInfo_.done != nullptr && !streamInfo_.done->load(std::memory_order_acquire)) return kNone;
    return streamInfo_.entries;
}

void CProfileManager::LoadStreamInfoProfiles(WMRuntime* runtime) {
    CWMProfileList list(runtime);
    for (std::unique_ptr<WMProfileInfo>& profile : list.TakeProfiles())
        streamInfo_.entries.push_back(MakeStreamInfoEntry(std::move(profile)));
}

ProfileStatus CProfileManager::CountStreamInfoProfiles(int32_t cls, uint32_t* count) {
    *count = cls == kClassStreamInfo ? static_cast<uint32_t>(ReadyStreamInfo().size()) : 0;
    return kProfileOk;
}

void CProfileManager::FillFromStreamInfo(const StreamInfoEntry& entry, ProfileRecord& record) {
    std::memset(&record, 0, sizeof record);
    ProfileHead& h = record.head;
    CopyText(h.className, "WM", 2);
    CopyText(h.name, entry.name.data(), entry.name.size());
    CopyText(h.description, entry.description.data(), entry.description.size());
    h.videoFormatClass = kClassStreamInfo;
    h.streamFlag = 3;
    CopyText(record.block.streamInfo.text, entry.text.data(), entry.text.size());
    std::memcpy(record.block.streamInfo.values, entry.values, sizeof entry.values);
}

ProfileStatus CProfileManager::ReadStreamInfoProfile(int32_t cls, uint32_t index, ProfileRecord& record) {
    if (cls != kClassStreamInfo) return kProfileOk;
    const std::vector<StreamInfoEntry>& entries = ReadyStreamInfo();
    if (index >= entries.size()) return kStreamInfoMissing;
    FillFromStreamInfo(entries[index], record);
    return kProfileOk;
}

ProfileStatus CProfileManager::FindStreamInfoProfile(int32_t cls, const char* name, ProfileRecord& record) {
    if (cls == kClassLookupFailed) return kStreamInfoMissing;
    if (cls != kClassStreamInfo) return kProfileOk;
    for (const StreamInfoEntry& e : ReadyStreamInfo()) {
        if (name != nullptr && e.name == name) {
            FillFromStreamInfo(e, record);
            return kProfileOk;
        }
    }
    return kStreamInfoMissing;
}

ProfileStatus CProfileManager::GetKeepOrgSize(int32_t* value) {
    *value = keepOrgSize_;
    return kProfileOk;
}

ProfileStatus CProfileManager::SetKeepOrgSize(int32_t value) {
    keepOrgSize_ = value;
    return kProfileOk;
}

ProfileStatus CProfileManager::UseAviCompressor(ProfileRecord& record, const char* compressor,
                                                std::vector<uint8_t>& state) {
    bool listed = false;
    for (const CodecEntry& e : CCodecList::Entries())
        listed = listed || e.description == compressor || e.filterName == compressor;
    if (!listed) return kProfileFail;
    codecs_->SelectByName(compressor);
    AviBlock& a = record.block.avi;
    CopyText(a.videoCompressor, compressor, strnlen(compressor, sizeof a.videoCompressor - 1));
    uint32_t size = 0;
    codecs_->GetStateSize(&size);
    if (size > kMaxCompressorState) size = 0;  // no codec keeps that much; not taken
    state.assign(size, 0);
    if (size > 0) codecs_->GetState(state.data(), size);
    a.compressorState = state.empty() ? nullptr : state.data();
    a.compressorStateSize = size;
    uint32_t frame[4] = {};
    if (GetCompressorFrameInfo(a.compressorState, size, frame) == kProfileOk && frame[3] != 0) {
        a.width = static_cast<int32_t>(frame[0]);
        a.height = static_cast<int32_t>(frame[1]);
    }
    return kProfileOk;
}

ProfileStatus CProfileManager::ApplyAviFrameSize(ProfileRecord& record, bool ntsc) {
    const std::string_view name(record.head.name, strnlen(record.head.name, sizeof record.head.name));
    AviBlock& a = record.block.avi;
    if (name == strings_.Load(kAviSmallName)) {
        a.width = 160;
        a.height = 120;
    } else if (name == strings_.Load(kAviMediumName)) {
        a.width = 352;
        a.height = ntsc ? 240 : 288;
    } else if (name == strings_.Load(kAviLargeName)) {
        a.width = 720;
        a.height = ntsc ? 480 : 576;
    } else {
        return kProfileFail;
    }
    return kProfileOk;
}

}  // namespace profiles
