// The inventory of Windows Media profiles: the runtime's system profiles of four profile
// versions, and the profile files in the folders beside the program ("Profiles" into the
// main list; "ScreenCap" and "ScreenCap\Profiles" into the capture list). The runtime is
// behind `WMRuntime`, so that the rules can be tried against a fake one; a runtime that
// answers a request with an error (Wine's answers E_NOTIMPL for system profiles) yields no
// profiles for that request and never stops the others.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace profiles {

using WMResult = int32_t;
inline constexpr WMResult kWMOk = 0;
inline constexpr WMResult kWMFail = static_cast<int32_t>(0x80004005u);
inline constexpr WMResult kWMInvalidArg = static_cast<int32_t>(0x80070057u);
inline constexpr uint32_t kWMInvalidIndex = 1413;
inline constexpr uint32_t kWMInvalidParameter = 87;
// Profiles a list holds at most.
inline constexpr size_t kWMListLimit = 300;
// Largest profile file read (a profile is a few kilobytes of XML).
inline constexpr size_t kWMProfileFileLimit = 1u << 20;
inline constexpr uint32_t kWMProfileVersions[] = {0x40000, 0x70000, 0x80000, 0x90000};

struct WMStreamInfo {
    uint16_t streamNumber = 0;
    std::wstring streamName, connectionName;
    uint32_t bitRate = 0, bufferWindow = 0;
    std::vector<uint8_t> mediaType;
};

struct WMAudioStreamInfo {
    std::wstring codecName;
    WMStreamInfo info;
    uint32_t samplesPerSec = 0, channels = 0;
};

struct WMVideoStreamInfo {
    std::wstring codecName;
    WMStreamInfo info;
    uint32_t width = 0, height = 0, framesPerSecond = 0, quality = 0, keyFrameSpacing = 0;
};

struct WMProfileInfo {
    uint32_t version = 0, index = 0;
    std::wstring name, description;
    uint32_t streamCount = 0;
    std::unique_ptr<WMAudioStreamInfo> audio;
    std::vector<WMVideoStreamInfo> video;
    std::wstring path;
    std::shared_ptr<void> profile;  // the runtime's loaded profile
};

// One stream of a loaded profile as the runtime reports it.
struct WMRawStream {
    enum class Kind { kAudio, kVideo, kOther } kind = Kind::kOther;
    enum class Format { kWave, kVideoInfo, kVideoInfo2, kMpeg1Video, kMpeg2Video, kOther } format = Format::kOther;
    WMResult result = kWMOk;  // a failing call while reading this stream
    // The codec's key: the wave format tag (audio) or the bitmap header's compression code
    // (video); 0 when the format carries none.
    uint32_t codecKey = 0;
    WMStreamInfo info;
    uint32_t samplesPerSec = 0, channels = 0;
    int32_t width = 0, height = 0;
    int64_t averageTimePerFrame = 0;  // 100 ns
    uint32_t quality = 0;
    int64_t maxKeyFrameSpacing = 0;  // 100 ns
};

struct WMRawProfile {
    WMResult result = kWMOk;  // reading the name, description or stream count failed
    std::wstring name, description;
    std::vector<WMRawStream> streams;
    std::shared_ptr<void> profile;
};

// One codec the runtime can encode with, by the key its first format carries.
struct WMRawCodec {
    bool audio = false;
    uint32_t key = 0;  // wave format tag or compression code (FourCC)
    std::wstring name;
};

class WMRuntime {
public:
    virtual ~WMRuntime() = default;
    // False when the runtime's profile manager cannot be had.
    virtual bool Open() = 0;
    virtual WMResult SystemProfileCount(uint32_t version, uint32_t* count) = 0;
    virtual WMResult LoadSystemProfile(uint32_t version, uint32_t index, WMRawProfile* out) = 0;
    // `text`: a profile file's content as a wide-character string.
    virtual WMResult LoadProfileText(const std::wstring& text, WMRawProfile* out) = 0;
    // Full paths of the plain files of `folder`; false when it cannot be searched.
    virtual bool ListFolder(const std::wstring& folder, std::vector<std::wstring>* files) = 0;
    // The file's bytes, at most `limit`; false when it cannot be read whole within it.
    virtual bool ReadFile(const std::wstring& path, size_t limit, std::vector<uint8_t>* bytes) = 0;
    // The folder of the program, with its trailing separator.
    virtual std::wstring ModuleFolder() = 0;
    // The audio codecs, then the video codecs, that offer at least one format; false when the
    // runtime's codec information cannot be had.
    virtual bool ListCodecs(std::vector<WMRawCodec>* codecs) = 0;
};

// The Windows Media runtime of this machine (Windows only; elsewhere one that has none).
WMRuntime& DefaultWMRuntime();

// The names of the Windows Media codecs a stream can name: two audio format tags and six
// video compression codes; a stream of any other codec has no name. A later codec with the
// same key replaces an earlier one; names are kept to 127 characters.
class WMCodecNameTable {
public:
    // Walks the runtime's codecs once; a runtime without codec information leaves the table
    // unbuilt, so that a later call tries again.
    void Build(WMRuntime& runtime);
    bool Built() const { return built_; }
    std::wstring AudioName(uint32_t formatTag) const;
    std::wstring VideoName(uint32_t compression) const;

    static constexpr size_t kSlots = 9;
    static constexpr size_t kNameLimit = 127;

private:
    // The slot of a key; kFallback (never filled) for a video code of no slot, kNone for an
    // audio tag of no slot.
    static constexpr size_t kFallback = 2, kNone = kSlots;
    static size_t Slot(bool audio, uint32_t key);
    bool built_ = false;
    std::wstring names_[kSlots];
};

// Fills `info` from a loaded profile: the first audio stream, the video streams, and
// nothing past a second audio stream; the first failure ends the reading and is returned.
// Codec names come from `names` (none without it).
WMResult ReadProfileInfo(const WMRawProfile& raw, WMProfileInfo* info, const WMCodecNameTable* names = nullptr);

class CWMProfileList {
public:
    explicit CWMProfileList(WMRuntime* runtime = nullptr);
    virtual ~CWMProfileList();
    CWMProfileList(const CWMProfileList&) = delete;
    CWMProfileList& operator=(const CWMProfileList&) = delete;

    const std::vector<std::unique_ptr<WMProfileInfo>>& Profiles() const { return listA_; }
    const std::vector<std::unique_ptr<WMProfileInfo>>& CaptureProfiles() const { return listB_; }
    uint32_t SystemCount() const { return systemCount_; }
    uint32_t FileCount() const { return fileCount_; }
    uint32_t CaptureFolderCount() const { return captureCount_; }
    uint32_t CaptureProfileFolderCount() const { return captureProfileCount_; }

    // Hands the main list's profiles to the caller; the list is then empty.
    std::vector<std::unique_ptr<WMProfileInfo>> TakeProfiles();

    uint32_t RemoveAt(uint32_t i);
    uint32_t RemoveCaptureAt(uint32_t i);
    void RemoveAll();
    void RemoveAllCapture();

private:
    void LoadSystemProfiles(uint32_t version);
    void LoadProfileFolder(const std::wstring& folder, bool captureList, uint32_t& count);
    WMResult AddProfileFile(const std::wstring& path, bool captureList);

    WMRuntime& runtime_;
    WMCodecNameTable names_;
    std::vector<std::unique_ptr<WMProfileInfo>> listA_, listB_;
    uint32_t systemCount_ = 0, fileCount_ = 0, captureCount_ = 0, captureProfileCount_ = 0;
};

}  // namespace profiles
