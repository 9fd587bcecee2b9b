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
    DWORD size = 0;
    if (SUCCEEDED(hr)) hr = props->GetMediaType(nullptr, &size);
    if (SUCCEEDED(hr) && (size < sizeof(WM_MEDIA_TYPE) || size > (1u << 20))) hr = E_FAIL;
    if (SUCCEEDED(hr)) {
        s->info.mediaType.resize(size);
        auto* mt = reinterpret_cast<WM_MEDIA_TYPE*>(s->info.mediaType.data());
        hr = props->GetMediaType(mt, &size);
        if (SUCCEEDED(hr)) {
            s->format = FormatOf(mt->formattype);
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
