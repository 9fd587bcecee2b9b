#include "app/profiles/codec_list.h"

#include <cstring>

namespace profiles {
namespace {

constexpr int32_t kOk = 0;
constexpr int32_t kFail = static_cast<int32_t>(0x80004005u);

// The entry list of the process, the platform that opened its codecs, and the lists alive.
std::vector<CodecEntry>& SharedEntries() {
    static std::vector<CodecEntry> entries;
    return entries;
}
CodecPlatform* g_entryPlatform = nullptr;
int g_liveLists = 0;

bool BeginsWithDivX(const std::string& text) {
    return text.compare(0, 4, "DivX") == 0;
}

// The version digit of a DivX name: the character just before its first "."; 0 when the
// name has no "." or begins with one.
char VersionDigit(const std::string& name) {
    const size_t dot = name.find('.');
    if (dot == std::string::npos || dot == 0) return 0;
    return name[dot - 1];
}

// Bound on compressor indices asked of the codec manager: a broken driver list must not
// keep the codec thread going for ever.
constexpr uint32_t kMaxCompressors = 1024;

}  // namespace

#ifndef _WIN32
namespace {
class NoCodecs : public CodecPlatform {
public:
    bool OpenCompressor(uint32_t, std::string*, Handle*) override { return false; }
    void CloseCompressor(Handle) override {}
    bool ListCompressorFilters(std::vector<FoundFilter>*, std::string*) override { return true; }
    void ReleaseFilter(Filter) override {}
    void ShowError(const std::string&) override {}
    bool CanConfigure(Handle) override { return false; }
    void Configure(Handle, uintptr_t) override {}
    uint32_t GetStateSize(Handle) override { return 0; }
    void GetState(Handle, void*, uint32_t) override {}
};
}  // namespace

CodecPlatform& DefaultCodecPlatform() {
    static NoCodecs none;
    return none;
}
#endif

CCodecList::CCodecList(CodecPlatform* platform) : platform_(platform ? *platform : DefaultCodecPlatform()) {
    ++g_liveLists;
}

CCodecList::~CCodecList() {
    --g_liveLists;
    if (g_liveLists == 0) CloseAll();
}

const std::vector<CodecEntry>& CCodecList::Entries() {
    return SharedEntries();
}

int CCodecList::IsNewName(const char* name) const {
    for (const CodecEntry& e : SharedEntries()) {
        if (e.description == name) return 0;
    }
    return 1;
}

int32_t CCodecList::AttachFilter(const char* name, CodecPlatform::Filter filter) {
    const std::string wanted(name);
    for (CodecEntry& e : SharedEntries()) {
        bool match = e.description == wanted;
        if (!match && BeginsWithDivX(wanted) && BeginsWithDivX(e.description)) {
            const char digit = VersionDigit(wanted);
            match = digit != 0 && digit == VersionDigit(e.description);
        }
        if (!match) continue;
        if (e.filter != 0) return kFail;
        e.filterName = wanted;
        e.filter = filter;
        return kOk;
    }
    return kFail;
}

int CCodecList::Enumerate(int divxOnly) {
    std::vector<CodecEntry>& entries = SharedEntries();
    if (!entries.empty()) return 1;
    g_entryPlatform = &platform_;

    // The codec manager's video compressors.
    for (uint32_t index = 0; index < kMaxCompressors; ++index) {
        std::string description;
        CodecPlatform::Handle handle = 0;
        if (!platform_.OpenCompressor(index, &description, &handle)) break;
        if (handle == 0) continue;
        if (description.size() > 259) description.resize(259);
        if (description.empty() || !IsNewName(description.c_str()) || (divxOnly && !BeginsWithDivX(description))) {
            platform_.CloseCompressor(handle);
            continue;
        }
        CodecEntry entry;
        entry.ordinal = static_cast<uint32_t>(entries.size());
        entry.description = description;
        entry.handle = handle;
        entries.push_back(entry);
    }

    // Their DirectShow wrappers.
    std::vector<CodecPlatform::FoundFilter> filters;
    std::string error;
    if (!platform_.ListCompressorFilters(&filters, &error)) {
        platform_.ShowError(error);
        return 0;
    }
    for (const CodecPlatform::FoundFilter& f : filters) {
        std::string name = f.friendlyName.substr(0, 79);
        const bool wanted = f.vfwWrapper && (!divxOnly || BeginsWithDivX(name));
        if (!wanted || AttachFilter(name.c_str(), f.filter) != kOk) platform_.ReleaseFilter(f.filter);
    }

    // Only codecs present both ways stay.
    for (size_t i = entries.size(); i-- > 0;) {
        if (entries[i].filter != 0) continue;
        platform_.CloseCompressor(entries[i].handle);
        entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(i));
    }
    return 1;
}

void CCodecList::CloseAll() {
    if (g_liveLists > 1) return;
    std::vector<CodecEntry>& entries = SharedEntries();
    CodecPlatform& platform = g_entryPlatform ? *g_entryPlatform : platform_;
    for (const CodecEntry& e : entries) {
        if (e.filter) platform.ReleaseFilter(e.filter);
        if (e.handle) platform.CloseCompressor(e.handle);
    }
    entries.clear();
    g_entryPlatform = nullptr;
    selectedFilter_ = 0;
    selectedHandle_ = 0;
}

void CCodecList::Select(const CodecEntry* entry) {
    selectedFilter_ = entry ? entry->filter : 0;
    selectedHandle_ = entry ? entry->handle : 0;
}

void CCodecList::SelectDivX() {
    const std::vector<CodecEntry>& entries = SharedEntries();
    if (entries.empty()) {
        Select(nullptr);
        return;
    }
    for (const CodecEntry& e : entries) {
        if (BeginsWithDivX(e.description)) {
            Select(&e);
            return;
        }
    }
}

void CCodecList::SelectByName(const char* name) {
    const std::vector<CodecEntry>& entries = SharedEntries();
    if (entries.empty()) {
        Select(nullptr);
        return;
    }
    if (name == nullptr) return;
    for (const CodecEntry& e : entries) {
        if (e.description == name || e.filterName == name) {
            Select(&e);
            return;
        }
    }
}

void CCodecList::Configure(uintptr_t parentWindow) {
    if (selectedHandle_ != 0 && platform_.CanConfigure(selectedHandle_))
        platform_.Configure(selectedHandle_, parentWindow);
}

int CCodecList::GetStateSize(uint32_t* size) {
    if (selectedHandle_ != 0 && size != nullptr) *size = platform_.GetStateSize(selectedHandle_);
    return 0;
}

int CCodecList::GetState(void* buffer, uint32_t size) {
    if (selectedHandle_ == 0 || buffer == nullptr) return 0;
    // A codec writes its whole state: a smaller buffer is refused, never overrun.
    if (size < platform_.GetStateSize(selectedHandle_)) return kFail;
    platform_.GetState(selectedHandle_, buffer, size);
    return 0;
}

}  // namespace profiles
