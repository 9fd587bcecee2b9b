// The Windows Media runtime of this machine, loaded on first use from wmvcore.dll; a machine
// without it has no Windows Media profiles.
#include <windows.h>
#include <dshow.h>
#include <dvdmedia.h>
#include <wmsdkidl.h>

#include "app/profiles/wm_profile_list.h"

namespace profiles {
namespace {

using CreateProfileManager = HRESULT(WINAPI*)(IWMProfileManager**);

// The video-specific properties of a stream configuration, as the Windows Media Format SDK
// documents them (mingw's headers lack this interface): after the three methods of
// IWMMediaProps come the key-picture spacing (100 ns units) and the quality (0-100), each
// as a get and a set.
struct IWMVideoStreamProps : public IWMMediaProps {
    virtual HRESULT STDMETHODCALLTYPE GetMaxKeyFrameSpacing(LONGLONG* time) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetMaxKeyFrameSpacing(LONGLONG time) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetQuality(DWORD* quality) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetQuality(DWORD quality) = 0;
};
constexpr GUID kIidVideoStreamProps = {0x96406bcf, 0x2b2b, 0x11d3, {0xb3, 0x6b, 0x00, 0xc0, 0x4f, 0x61, 0x08, 0xff}};

// The key of a media type's codec: the wave format tag or the bitmap header's compression
// code; 0 when the format block is too short to carry it.
uint32_t CodecKeyOf(const WM_MEDIA_TYPE& mt) {
    if (!mt.pbFormat) return 0;
    if (IsEqualGUID(mt.formattype, FORMAT_WaveFormatEx) && mt.cbFormat >= sizeof(WAVEFORMATEX) - 2)
        return reinterpret_cast<const WAVEFORMATEX*>(mt.pbFormat)->wFormatTag;
    if (IsEqualGUID(mt.formattype, FORMAT_VideoInfo) && mt.cbFormat >= sizeof(VIDEOINFOHEADER))
        return reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat)->bmiHeader.biCompression;
    if (IsEqualGUID(mt.formattype, FORMAT_VideoInfo2) && mt.cbFormat >= sizeof(VIDEOINFOHEADER2))
        return reinterpret_cast<const VIDEOINFOHEADER2*>(mt.pbFormat)->bmiHeader.biCompression;
    return 0;
}

// A media type read in two calls, size then block, bounded.
HRESULT ReadMediaType(IWMMediaProps* props, std::vector<uint8_t>* block) {
    DWORD size = 0;
    HRESULT hr = props->GetMediaType(nullptr, &size);
    if (SUCCEEDED(hr) && (size < sizeof(WM_MEDIA_TYPE) || size > (1u << 20))) hr = E_FAIL;
    if (FAILED(hr)) return hr;
    block->resize(size);
    return props->GetMediaType(reinterpret_cast<WM_MEDIA_TYPE*>(block->data()), &size);
}

// A text of the runtime read in two calls, length then text.
template <typename F>
HRESULT ReadText(F get, std::wstring* out) {
    DWORD length = 0;
    HRESULT hr = get(nullptr, &length);
    if (FAILED(hr)) return hr;
    if (length > 65536) return E_FAIL;  // bounded: no profile text is that long
    std::wstring text(length + 1, L'\0');
    hr = get(text.data(), &length);
    if (FAILED(hr)) return hr;
    text.resize(wcsnlen(text.c_str(), text.size()));
    *out = text;
    return S_OK;
}

WMRawStream::Format FormatOf(const GUID& format) {
    if (IsEqualGUID(format, FORMAT_WaveFormatEx)) return WMRawStream::Format::kWave;
    if (IsEqualGUID(format, FORMAT_VideoInfo)) return WMRawStream::Format::kVideoInfo;
    if (IsEqualGUID(format, FORMAT_VideoInfo2)) return WMRawStream::Format::kVideoInfo2;
    if (IsEqualGUID(format, FORMAT_MPEGVideo)) return WMRawStream::Format::kMpeg1Video;
    if (IsEqualGUID(format, FORMAT_MPEG2Video)) return WMRawStream::Format::kMpeg2Video;
    return WMRawStream::Format::kOther;
}

void ReadStream(IWMStreamConfig* config, WMRawStream* s) {
    GUID type{};
    HRESULT hr = config->GetStreamType(&type);
    if (SUCCEEDED(hr)) {
        s->kind = IsEqualGUID(type, WMMEDIATYPE_Audio)   ? WMRawStream::Kind::kAudio
                  : IsEqualGUID(type, WMMEDIATYPE_Video) ? WMRawStream::Kind::kVideo
                                                         : WMRawStream::Kind::kOther;
    }
    if (SUCCEEDED(hr)) hr = config->GetStreamNumber(&s->info.streamNumber);
    if (SUCCEEDED(hr))
        hr = ReadText([&](WCHAR* t, DWORD* n) { return config->GetStreamName(t, reinterpret_cast<WORD*>(n)); },
                      &s->info.streamName);
    if (SUCCEEDED(hr))
        hr = ReadText([&](WCHAR* t, DWORD* n) { return config->GetConnectionName(t, reinterpret_cast<WORD*>(n)); },
                      &s->info.connectionName);
    DWORD value = 0;
    if (SUCCEEDED(hr) && SUCCEEDED(hr = config->GetBitrate(&value))) s->info.bitRate = value;
    if (SUCCEEDED(hr) && SUCCEEDED(hr = config->GetBufferWindow(&value))) s->info.bufferWindow = value;
    IWMMediaProps* props = nullptr;
    if (SUCCEEDED(hr)) hr = config->QueryInterface(__uuidof(IWMMediaProps), reinterpret_cast<void**>(&props));
    if (SUCCEEDED(hr)) {
        hr = ReadMediaType(props, &s->info.mediaType);
        const auto* mt = reinterpret_cast<const WM_MEDIA_TYPE*>(s->info.mediaType.data());
        if (SUCCEEDED(hr)) {
            s->format = FormatOf(mt->formattype);
            s->codecKey = CodecKeyOf(*mt);
            const BYTE* format = mt->pbFormat;
            const ULONG formatSize = mt->cbFormat;
            if (s->format == WMRawStream::Format::kWave && format && formatSize >= sizeof(WAVEFORMATEX) - 2) {
                const auto* wave = reinterpret_cast<const WAVEFORMATEX*>(format);
                s->samplesPerSec = wave->nSamplesPerSec;
                s->channels = wave->nChannels;
            } else if ((s->format == WMRawStream::Format::kVideoInfo ||
                        s->format == WMRawStream::Format::kMpeg1Video) &&
                       format && formatSize >= sizeof(VIDEOINFOHEADER)) {
                const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(format);
                s->width = vih->bmiHeader.biWidth;
                s->height = vih->bmiHeader.biHeight;
                s->averageTimePerFrame = vih->AvgTimePerFrame;
            } else if ((s->format == WMRawStream::Format::kVideoInfo2 ||
                        s->format == WMRawStream::Format::kMpeg2Video) &&
                       format && formatSize >= sizeof(VIDEOINFOHEADER2)) {
                const auto* vih = reinterpret_cast<const VIDEOINFOHEADER2*>(format);
                s->width = vih->bmiHeader.biWidth;
                s->height = vih->bmiHeader.biHeight;
                s->averageTimePerFrame = vih->AvgTimePerFrame;
            }
        }
    }
    if (props) props->Release();
    if (SUCCEEDED(hr) && s->kind == WMRawStream::Kind::kVideo) {
        IWMVideoStreamProps* video = nullptr;
        hr = config->QueryInterface(kIidVideoStreamProps, reinterpret_cast<void**>(&video));
        DWORD quality = 0;
        LONGLONG spacing = 0;
        if (SUCCEEDED(hr)) hr = video->GetQuality(&quality);
        if (SUCCEEDED(hr)) hr = video->GetMaxKeyFrameSpacing(&spacing);
        if (SUCCEEDED(hr)) {
            s->quality = quality;
            s->maxKeyFrameSpacing = spacing;
        }
        if (video) video->Release();
    }
    s->result = SUCCEEDED(hr) ? kWMOk : static_cast<WMResult>(hr);
}

HRESULT ReadRaw(IWMProfile* profile, WMRawProfile* out) {
    out->profile = std::shared_ptr<void>(profile, [](void* p) { static_cast<IWMProfile*>(p)->Release(); });
    HRESULT hr = ReadText([&](WCHAR* t, DWORD* n) { return profile->GetName(t, n); }, &out->name);
    if (SUCCEEDED(hr))
        hr = ReadText([&](WCHAR* t, DWORD* n) { return profile->GetDescription(t, n); }, &out->description);
    DWORD count = 0;
    if (SUCCEEDED(hr)) hr = profile->GetStreamCount(&count);
    for (DWORD i = 0; SUCCEEDED(hr) && i < count && i < 128; ++i) {
        IWMStreamConfig* config = nullptr;
        WMRawStream s;
        HRESULT got = profile->GetStream(i, &config);
        if (SUCCEEDED(got)) {
            ReadStream(config, &s);
            config->Release();
        } else {
            s.result = static_cast<WMResult>(got);
        }
        out->streams.push_back(std::move(s));
    }
    out->result = SUCCEEDED(hr) ? kWMOk : static_cast<WMResult>(hr);
    return S_OK;
}

class WinWMRuntime : public WMRuntime {
public:
    ~WinWMRuntime() override {
        if (manager2_) manager2_->Release();
        if (manager_) manager_->Release();
    }
    bool Open() override {
        if (manager2_) return true;
        HMODULE module = LoadLibraryW(L"wmvcore.dll");
        if (!module) return false;
        auto create = reinterpret_cast<CreateProfileManager>(
            reinterpret_cast<void*>(GetProcAddress(module, "WMCreateProfileManager")));
        if (!create || FAILED(create(&manager_)) || !manager_) return false;
        return SUCCEEDED(manager_->QueryInterface(__uuidof(IWMProfileManager2), reinterpret_cast<void**>(&manager2_)));
    }
    WMResult SystemProfileCount(uint32_t version, uint32_t* count) override {
        HRESULT hr = manager2_->SetSystemProfileVersion(static_cast<WMT_VERSION>(version));
        DWORD n = 0;
        if (SUCCEEDED(hr)) hr = manager_->GetSystemProfileCount(&n);
        *count = SUCCEEDED(hr) ? n : 0;
        return SUCCEEDED(hr) ? kWMOk : static_cast<WMResult>(hr);
    }
    WMResult LoadSystemProfile(uint32_t, uint32_t index, WMRawProfile* out) override {
        IWMProfile* profile = nullptr;
        const HRESULT hr = manager_->LoadSystemProfile(index, &profile);
        if (FAILED(hr) || !profile) return FAILED(hr) ? static_cast<WMResult>(hr) : kWMFail;
        return ReadRaw(profile, out);
    }
    WMResult LoadProfileText(const std::wstring& text, WMRawProfile* out) override {
        IWMProfile* profile = nullptr;
        const HRESULT hr = manager_->LoadProfileByData(text.c_str(), &profile);
        if (FAILED(hr) || !profile) return FAILED(hr) ? static_cast<WMResult>(hr) : kWMFail;
        return ReadRaw(profile, out);
    }
    bool ListFolder(const std::wstring& folder, std::vector<std::wstring>* files) override {
        WIN32_FIND_DATAW found;
        HANDLE find = FindFirstFileW((folder + L"\\*.*").c_str(), &found);
        if (find == INVALID_HANDLE_VALUE) return false;
        do {
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
            files->push_back(folder + L"\\" + found.cFileName);
        } while (files->size() < 4 * kWMListLimit && FindNextFileW(find, &found));
        FindClose(find);
        return true;
    }
    bool ReadFile(const std::wstring& path, size_t limit, std::vector<uint8_t>* bytes) override {
        HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) return false;
        LARGE_INTEGER size{};
        bool ok = GetFileSizeEx(file, &size) && size.QuadPart >= 0 && static_cast<uint64_t>(size.QuadPart) <= limit;
        DWORD read = 0;
        if (ok) {
            bytes->resize(static_cast<size_t>(size.QuadPart));
            ok = ::ReadFile(file, bytes->data(), static_cast<DWORD>(bytes->size()), &read, nullptr) &&
                 read == bytes->size();
        }
        CloseHandle(file);
        return ok;
    }
    std::wstring ModuleFolder() override {
        wchar_t path[MAX_PATH] = {};
        const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
        std::wstring folder(path, n);
        return folder.substr(0, folder.find_last_of(L"\\/") + 1);
    }

    bool ListCodecs(std::vector<WMRawCodec>* codecs) override {
        if (!Open()) return false;
        // Codec information is offered under the later profile versions only.
        WMT_VERSION version{};
        if (SUCCEEDED(manager2_->GetSystemProfileVersion(&version)) && version == WMT_VER_4_0)
            manager2_->SetSystemProfileVersion(WMT_VER_7_0);
        IWMCodecInfo2* info = nullptr;
        if (FAILED(manager_->QueryInterface(__uuidof(IWMCodecInfo2), reinterpret_cast<void**>(&info)))) return false;
        for (const GUID& type : {WMMEDIATYPE_Audio, WMMEDIATYPE_Video}) {
            DWORD count = 0;
            if (FAILED(info->GetCodecInfoCount(type, &count))) continue;
            for (DWORD i = 0; i < count && i < 256; ++i) {
                DWORD formats = 0;
                if (FAILED(info->GetCodecFormatCount(type, i, &formats)) || formats == 0) continue;
                IWMStreamConfig* config = nullptr;
                if (FAILED(info->GetCodecFormat(type, i, 0, &config)) || !config) continue;
                WMRawCodec codec;
                codec.audio = IsEqualGUID(type, WMMEDIATYPE_Audio);
                IWMMediaProps* props = nullptr;
                std::vector<uint8_t> block;
                if (SUCCEEDED(config->QueryInterface(__uuidof(IWMMediaProps), reinterpret_cast<void**>(&props))) &&
                    SUCCEEDED(ReadMediaType(props, &block)))
                    codec.key = CodecKeyOf(*reinterpret_cast<const WM_MEDIA_TYPE*>(block.data()));
                if (props) props->Release();
                config->Release();
                DWORD length = 0;
                if (FAILED(info->GetCodecName(type, i, nullptr, &length)) || length == 0 || length > 2000) continue;
                std::wstring name(length + 1, L'\0');
                if (FAILED(info->GetCodecName(type, i, name.data(), &length))) continue;
                name.resize(wcsnlen(name.c_str(), name.size()));
                codec.name = name;
                codecs->push_back(std::move(codec));
            }
        }
        info->Release();
        return true;
    }

private:
    IWMProfileManager* manager_ = nullptr;
    IWMProfileManager2* manager2_ = nullptr;
};

}  // namespace

WMRuntime& DefaultWMRuntime() {
    static WinWMRuntime runtime;
    return runtime;
}

}  // namespace profiles
