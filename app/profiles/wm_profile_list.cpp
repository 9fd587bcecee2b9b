#include "app/profiles/wm_profile_list.h"

#include <algorithm>

namespace profiles {

#ifndef _WIN32
namespace {
class NoRuntime : public WMRuntime {
public:
    bool Open() override { return false; }
    WMResult SystemProfileCount(uint32_t, uint32_t*) override { return kWMFail; }
    WMResult LoadSystemProfile(uint32_t, uint32_t, WMRawProfile*) override { return kWMFail; }
    WMResult LoadProfileText(const std::wstring&, WMRawProfile*) override { return kWMFail; }
    bool ListFolder(const std::wstring&, std::vector<std::wstring>*) override { return false; }
    bool ReadFile(const std::wstring&, size_t, std::vector<uint8_t>*) override { return false; }
    std::wstring ModuleFolder() override { return L""; }
    bool ListCodecs(std::vector<WMRawCodec>*) override { return false; }
};
}  // namespace

WMRuntime& DefaultWMRuntime() {
    static NoRuntime none;
    return none;
}
#endif

namespace {
constexpr uint32_t FourCC(char a, char b, char c, char d) {
    return static_cast<uint32_t>(static_cast<uint8_t>(a)) | static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24;
}
}  // namespace

size_t WMCodecNameTable::Slot(bool audio, uint32_t key) {
    if (audio) return key == 0x161 ? 0 : key == 0x130 ? 1 : kNone;
    static constexpr uint32_t kVideo[] = {FourCC('M', 'P', '4', '3'), FourCC('M', 'P', '4', 'S'),
                                          FourCC('W', 'M', 'V', '1'), FourCC('W', 'M', 'V', '2'),
                                          FourCC('W', 'M', 'V', '3'), FourCC('M', 'S', 'S', '1')};
    for (size_t i = 0; i < sizeof kVideo / sizeof kVideo[0]; ++i) {
        if (kVideo[i] == key) return 3 + i;
    }
    return kFallback;
}

void WMCodecNameTable::Build(WMRuntime& runtime) {
    if (built_) return;
    std::vector<WMRawCodec> codecs;
    if (!runtime.ListCodecs(&codecs)) return;
    for (const WMRawCodec& c : codecs) {
        const size_t slot = Slot(c.audio, c.key);
        if (slot == kNone || slot == kFallback) continue;
        names_[slot] = c.name.substr(0, std::min(kNameLimit, c.name.find(L'\0')));
    }
    built_ = true;
}

std::wstring WMCodecNameTable::AudioName(uint32_t formatTag) const {
    const size_t slot = Slot(true, formatTag);
    return slot == kNone ? std::wstring() : names_[slot];
}

std::wstring WMCodecNameTable::VideoName(uint32_t compression) const {
    return names_[Slot(false, compression)];
}

WMResult ReadProfileInfo(const WMRawProfile& raw, WMProfileInfo* info, const WMCodecNameTable* names) {
    if (!raw.profile) return static_cast<WMResult>(kWMInvalidParameter);
    info->profile = raw.profile;
    if (raw.result != kWMOk) return raw.result;
    info->name = raw.name;
    info->description = raw.description;
    info->streamCount = static_cast<uint32_t>(raw.streams.size());
    for (const WMRawStream& s : raw.streams) {
        if (s.result != kWMOk) return s.result;
        if (s.kind == WMRawStream::Kind::kAudio) {
            // Only the first audio stream is read; a second one ends the reading.
            if (info->audio) return kWMOk;
            auto audio = std::make_unique<WMAudioStreamInfo>();
            if (names && s.format == WMRawStream::Format::kWave) audio->codecName = names->AudioName(s.codecKey);
            audio->info = s.info;
            if (s.format != WMRawStream::Format::kWave) {
                info->audio = std::move(audio);
                return kWMFail;
            }
            audio->samplesPerSec = s.samplesPerSec;
            audio->channels = s.channels;
            info->audio = std::move(audio);
        } else if (s.kind == WMRawStream::Kind::kVideo) {
            if (s.format == WMRawStream::Format::kWave || s.format == WMRawStream::Format::kOther) return kWMInvalidArg;
            WMVideoStreamInfo v;
            if (names && (s.format == WMRawStream::Format::kVideoInfo || s.format == WMRawStream::Format::kVideoInfo2))
                v.codecName = names->VideoName(s.codecKey);
            v.info = s.info;
            // A format block shorter than a bitmap header gives 0 x 0 (the runtime's reader
            // reports it so).
            v.width = s.width > 0 ? static_cast<uint32_t>(s.width) : 0;
            v.height = s.height > 0 ? static_cast<uint32_t>(s.height)
                                    : (s.height < 0 ? static_cast<uint32_t>(-static_cast<int64_t>(s.height)) : 0);
            v.framesPerSecond = s.averageTimePerFrame > 0 ? static_cast<uint32_t>(10000000 / s.averageTimePerFrame) : 0;
            v.quality = s.quality;
            v.keyFrameSpacing = s.maxKeyFrameSpacing > 0 ? static_cast<uint32_t>(s.maxKeyFrameSpacing / 10000000) : 0;
            info->video.push_back(std::move(v));
        }
    }
    return kWMOk;
}

CWMProfileList::CWMProfileList(WMRuntime* runtime) : runtime_(runtime ? *runtime : DefaultWMRuntime()) {
    if (!runtime_.Open()) return;
    names_.Build(runtime_);
    const std::wstring module = runtime_.ModuleFolder();
    for (uint32_t version : kWMProfileVersions)
        LoadSystemProfiles(version);
    LoadProfileFolder(module + L"Profiles", false, fileCount_);
    LoadProfileFolder(module + L"ScreenCap", true, captureCount_);
    LoadProfileFolder(module + L"ScreenCap\\Profiles", true, captureProfileCount_);
}

CWMProfileList::~CWMProfileList() {
    RemoveAll();
    RemoveAllCapture();
}

void CWMProfileList::LoadSystemProfiles(uint32_t version) {
    uint32_t count = 0;
    // A runtime without system profiles (E_NOTIMPL under Wine) offers none of this version.
    if (runtime_.SystemProfileCount(version, &count) != kWMOk) return;
    for (uint32_t i = 0; i < count && listA_.size() < kWMListLimit; ++i) {
        WMRawProfile raw;
        if (runtime_.LoadSystemProfile(version, i, &raw) != kWMOk) return;
        auto info = std::make_unique<WMProfileInfo>();
        info->version = version;
        info->index = i;
        ReadProfileInfo(raw, info.get(), &names_);
        listA_.insert(listA_.begin() + systemCount_, std::move(info));
        ++systemCount_;
    }
}

void CWMProfileList::LoadProfileFolder(const std::wstring& folder, bool captureList, uint32_t& count) {
    std::vector<std::wstring> files;
    if (!runtime_.ListFolder(folder, &files)) return;
    for (const std::wstring& path : files) {
        if ((captureList ? listB_ : listA_).size() >= kWMListLimit) return;
        if (AddProfileFile(path, captureList) == kWMOk) ++count;
    }
}

WMResult CWMProfileList::AddProfileFile(const std::wstring& path, bool captureList) {
    std::vector<uint8_t> bytes;
    if (!runtime_.ReadFile(path, kWMProfileFileLimit, &bytes)) return kWMFail;
    // The file is UTF-16 text; an odd last byte is no character.
    std::wstring text(bytes.size() / 2, L'\0');
    for (size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<wchar_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    WMRawProfile raw;
    if (runtime_.LoadProfileText(text, &raw) != kWMOk) return kWMFail;
    auto info = std::make_unique<WMProfileInfo>();
    const WMResult result = ReadProfileInfo(raw, info.get(), &names_);
    info->path = path;
    (captureList ? listB_ : listA_).push_back(std::move(info));
    return result;
}

std::vector<std::unique_ptr<WMProfileInfo>> CWMProfileList::TakeProfiles() {
    std::vector<std::unique_ptr<WMProfileInfo>> taken;
    taken.swap(listA_);
    systemCount_ = fileCount_ = 0;
    return taken;
}

uint32_t CWMProfileList::RemoveAt(uint32_t i) {
    if (i >= listA_.size()) return kWMInvalidIndex;
    listA_.erase(listA_.begin() + i);
    if (i < systemCount_) {
        --systemCount_;
    } else if (fileCount_ > 0) {
        --fileCount_;
    }
    return 0;
}

uint32_t CWMProfileList::RemoveCaptureAt(uint32_t i) {
    if (i >= listB_.size()) return kWMInvalidIndex;
    listB_.erase(listB_.begin() + i);
    if (i < captureCount_) {
        --captureCount_;
    } else if (captureProfileCount_ > 0) {
        --captureProfileCount_;
    }
    return 0;
}

void CWMProfileList::RemoveAll() {
    while (!listA_.empty())
        RemoveAt(static_cast<uint32_t>(listA_.size() - 1));
}

void CWMProfileList::RemoveAllCapture() {
    while (!listB_.empty())
        RemoveCaptureAt(static_cast<uint32_t>(listB_.size() - 1));
}

}  // namespace profiles
