// file_convert: converts files with the file conversion engine, driving it through its COM
// interfaces in the order the conversion page does.
//
//   file_convert --profile "NAME" [--range IN OUT] -o OUT IN...
//   file_convert --profile-record FILE [--range IN OUT] -o OUT IN...
//
// NAME is a built-in or user profile's name (built-in names come from the resource library
// Tovrt.dll beside the program, or --resources PATH); FILE holds a whole profile record.
// IN and OUT of --range are seconds of each input. Exit codes: 0 converted, 1 the
// conversion or the profile failed, 2 a bad command line.
#include <windows.h>
#include <oleauto.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/profiles/app_data_folder_win.h"
#include "app/profiles/profile_manager.h"
#include "engines/client/engine_client.h"
#include "engines/clip_info.h"
#include "engines/file_engine/convert.h"
#include "engines/file_engine/file_engine_records.h"
#include "engines/interfaces.h"

namespace {

constexpr UINT kConvertDone = WM_APP + 202;
constexpr UINT kPreviewEnd = WM_APP + 200;

struct Options {
    std::string profileName;
    std::string profileRecord;
    std::string resources;
    std::string output;
    std::vector<std::string> inputs;
    bool ranged = false;
    double rangeIn = 0, rangeOut = 0;
};

int Usage(const char* why) {
    std::fprintf(stderr,
                 "file_convert: %s\nusage: file_convert --profile \"NAME\" | --profile-record FILE [--resources "
                 "Tovrt.dll] [--range IN OUT] -o OUT IN...\n",
                 why);
    return 2;
}

bool ParseSeconds(const char* text, double* out) {
    char* end = nullptr;
    *out = std::strtod(text, &end);
    return end != text && *end == 0 && *out >= 0 && *out < 1e7;
}

class ResourceStrings : public profiles::ProfileStrings {
public:
    explicit ResourceStrings(HMODULE module) : module_(module) {}
    std::string Load(uint32_t id) const override {
        char text[1024] = {};
        const int n = module_ ? LoadStringA(module_, id, text, sizeof text) : 0;
        return std::string(text, n > 0 ? static_cast<size_t>(n) : 0);
    }

private:
    HMODULE module_;
};

std::string ProgramFolder() {
    char path[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path, n);
    const size_t slash = s.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : s.substr(0, slash + 1);
}

bool FindProfile(const Options& o, profiles::ProfileRecord* record, std::string* error) {
    if (!o.profileRecord.empty()) {
        FILE* f = std::fopen(o.profileRecord.c_str(), "rb");
        const bool ok = f && std::fread(record, 1, sizeof *record, f) == sizeof *record;
        if (f) std::fclose(f);
        if (!ok) *error = "cannot read a whole profile record from " + o.profileRecord;
        return ok;
    }
    const std::string library = o.resources.empty() ? ProgramFolder() + "Tovrt.dll" : o.resources;
    HMODULE strings = LoadLibraryExA(library.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!strings) {
        *error = "cannot load the resource library " + library;
        return false;
    }
    ResourceStrings texts(strings);
    profiles::WinAppDataFolder folder;
    auto store = std::make_unique<profiles::CProfileManager>(texts, folder);
    // The classes the conversion page lists, in the order the profile selection shows them.
    const int32_t classes[] = {3, 4, 5, 6, 7, 12, 1, 2, 10, 9};
    bool found = false;
    for (int32_t cls : classes) {
        std::memset(record, 0, sizeof *record);
        // Profiles of either page: the capture page's (MV, say) convert files as well.
        record->head.attribute = profiles::kAttrFileConvertPage | profiles::kAttrDvCapturePage;
        if (store->ReadProfile(cls, 0, *record, o.profileName.c_str(), 0) == profiles::kProfileOk) {
            // Built-in records name their texts by id; the record handed on carries them.
            if (record->head.name[0] == 0)
                profiles::CopyText(record->head.name, o.profileName.c_str(), o.profileName.size());
            found = true;
            break;
        }
    }
    store.reset();
    FreeLibrary(strings);
    if (!found) *error = "no profile is named \"" + o.profileName + "\"";
    return found;
}

std::string ErrorText() {
    IErrorInfo* info = nullptr;
    std::string text;
    if (GetErrorInfo(0, &info) == S_OK && info) {
        BSTR description = nullptr;
        if (SUCCEEDED(info->GetDescription(&description)) && description) {
            char buffer[1024] = {};
            WideCharToMultiByte(CP_ACP, 0, description, -1, buffer, sizeof buffer - 1, nullptr, nullptr);
            text = buffer;
            SysFreeString(description);
        }
        info->Release();
    }
    return text;
}

// The engine: registered, or else the library beside this program loaded directly.
HRESULT CreateEngine(IFileEngineTimeline** timeline, IFileEngineControl** control) {
    if (SUCCEEDED(CreateFileEngine(timeline, control))) return S_OK;
    HMODULE library =
        LoadLibraryExA((ProgramFolder() + "file_engine.dll").c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!library) return E_FAIL;
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto get = reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(library, "DllGetClassObject")));
    IClassFactory* factory = nullptr;
    if (!get || FAILED(get(CLSID_FileEngine, IID_IClassFactory, reinterpret_cast<void**>(&factory)))) return E_FAIL;
    HRESULT hr = factory->CreateInstance(nullptr, IID_IFileEngineTimeline, reinterpret_cast<void**>(timeline));
    factory->Release();
    if (FAILED(hr)) return hr;
    hr = (*timeline)->QueryInterface(IID_IFileEngineControl, reinterpret_cast<void**>(control));
    if (FAILED(hr)) {
        (*timeline)->Release();
        *timeline = nullptr;
    }
    return hr;
}

int Run(const Options& o) {
    profiles::ProfileRecord record{};
    std::string error;
    if (!FindProfile(o, &record, &error)) {
        std::fprintf(stderr, "file_convert: %s\n", error.c_str());
        return 1;
    }
    if (o.output.size() >= sizeof record.head.outputFileName) {
        std::fprintf(stderr, "file_convert: the output name is too long\n");
        return 2;
    }
    std::vector<int64_t> durations;
    for (const std::string& in : o.inputs) {
        fileengine::SourceClip clip{in, 0, -1};
        if (o.ranged) {
            clip.in = static_cast<int64_t>(o.rangeIn * 1e7 + 0.5);
            clip.out = static_cast<int64_t>(o.rangeOut * 1e7 + 0.5);
        }
        const int64_t d = fileengine::ProbeClipDuration(clip);
        if (d <= 0) {
            std::fprintf(stderr, "file_convert: cannot read %s\n", in.c_str());
            return 1;
        }
        durations.push_back(d);
    }

    HWND window =
        CreateWindowExW(0, L"STATIC", L"file_convert", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    IFileEngineTimeline* timeline = nullptr;
    IFileEngineControl* control = nullptr;
    if (!window || FAILED(CreateEngine(&timeline, &control))) {
        std::fprintf(stderr, "file_convert: the file conversion engine cannot be created\n");
        return 1;
    }
    // Set-up, as the page does when it is made.
    timeline->EnableUpdates(FALSE);
    timeline->RemoveClips(1, -1);
    timeline->RemoveClips(2, -1);
    control->SetFrameRate(2500);
    control->SetPreviewWindow(window, 0, 0, 0, 0);
    control->SetNotifyWindow(window);
    control->Prepare(0, 0, 0, 0, 0);
    control->EnablePreview(FALSE);
    timeline->EnableUpdates(TRUE);

    // The timeline: every input, one after another (the page's merged mode).
    timeline->Reset();
    timeline->EnableUpdates(FALSE);
    int64_t position = 0;
    for (size_t i = 0; i < o.inputs.size(); ++i) {
        std::vector<uint8_t> video(fileengine::kClipRecordBytes, 0);
        const int64_t start = position, end = position + durations[i];
        const int64_t in = o.ranged ? static_cast<int64_t>(o.rangeIn * 1e7 + 0.5) : 0;
        const int64_t out = o.ranged ? static_cast<int64_t>(o.rangeOut * 1e7 + 0.5) : durations[i];
        auto put64 = [&](std::vector<uint8_t>& r, size_t at, int64_t v) { std::memcpy(r.data() + at, &v, 8); };
        auto put32 = [&](std::vector<uint8_t>& r, size_t at, uint32_t v) { std::memcpy(r.data() + at, &v, 4); };
        put64(video, fileengine::kClipTimelineStart, start);
        put64(video, fileengine::kClipTimelineEnd, end);
        put32(video, fileengine::kClipKind, 1);
        put32(video, fileengine::kClipFlag, 1);
        std::memcpy(video.data() + fileengine::kClipPath, o.inputs[i].c_str(),
                    std::min(o.inputs[i].size(), fileengine::kClipPathBytes - 1));
        put64(video, fileengine::kClipInOut, in);
        put64(video, fileengine::kClipInOut + 8, out);
        put64(video, fileengine::kClipSourceRange, in);
        put64(video, fileengine::kClipSourceRange + 8, out);
        engines::ClipInfo media{};
        media.mediaKind = engines::kClipVideo;
        media.duration = durations[i];
        std::memcpy(video.data() + fileengine::kClipMedia, &media, sizeof media);
        std::vector<uint8_t> audio = video;
        put32(audio, fileengine::kClipKind, 2);
        std::memset(audio.data() + fileengine::kClipInOut, 0, 32);
        media.mediaKind = engines::kClipAudio;
        std::memcpy(audio.data() + fileengine::kClipMedia, &media, sizeof media);
        const DWORD n = static_cast<DWORD>(timeline->GetClipCount(0));
        timeline->AddClip(0, n, video.data());
        timeline->AddClip(1, n, audio.data());
        timeline->SetClipRange(1, n, 0, 0, 1.0f);
        timeline->SetClipRange(1, n, 1, end - start, 1.0f);
        position = end;
    }
    timeline->EnableUpdates(TRUE);

    profiles::CopyText(record.head.outputFileName, o.output.c_str(), o.output.size());
    int status = 1;
    if (FAILED(control->SetProfile(reinterpret_cast<const BYTE*>(&record)))) {
        const std::string text = ErrorText();
        std::fprintf(stderr, "file_convert: the profile is refused: %s\n",
                     text.empty() ? "no reason given" : text.c_str());
    } else if (control->SetPreviewDuringConvert(FALSE), FAILED(control->StartConvert(0, 0, 0, 0, 0))) {
        const std::string text = ErrorText();
        std::fprintf(stderr, "file_convert: the conversion cannot start: %s\n", text.c_str());
    } else {
        HRESULT result = E_FAIL;
        bool done = false;
        int lastPercent = -1;
        while (!done) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 250, QS_ALLINPUT);
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (msg.message == kConvertDone) {
                    done = true;
                    result = static_cast<HRESULT>(msg.wParam);
                } else if (msg.message != kPreviewEnd) {
                    DispatchMessageW(&msg);
                }
            }
            float fraction = 0;
            if (control->GetProgress(&fraction) == S_OK && static_cast<int>(fraction * 100) / 10 != lastPercent) {
                lastPercent = static_cast<int>(fraction * 100) / 10;
                std::fprintf(stderr, "\r%3d%%", lastPercent * 10);
            }
        }
        std::fprintf(stderr, "\n");
        control->Prepare(0, 0, 0, 0, 0);
        if (SUCCEEDED(result)) {
            status = 0;
        } else {
            std::fprintf(stderr, "file_convert: the conversion failed (0x%08lX)\n", static_cast<unsigned long>(result));
        }
    }
    ReleaseFileEngine(&timeline, &control);
    DestroyWindow(window);
    return status;
}

}  // namespace

// The ANSI form of `wide`, only when the code page holds every character of it.
bool ToAnsiExact(const std::wstring& wide, std::string* out) {
    BOOL lossy = FALSE;
    const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.c_str(), -1, nullptr, 0, nullptr, &lossy);
    if (n <= 0 || lossy) return false;
    std::string text(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.c_str(), -1, text.data(), n, nullptr, &lossy);
    text.resize(static_cast<size_t>(n) - 1);
    *out = std::move(text);
    return !lossy;
}

// A name of the existing file or folder `wide` that the ANSI code page can carry (the
// engine's clip and profile records hold ANSI paths): the name itself, or else its short
// name.
bool AnsiPath(const std::wstring& wide, std::string* out) {
    if (ToAnsiExact(wide, out)) return true;
    const DWORD n = GetShortPathNameW(wide.c_str(), nullptr, 0);
    if (n == 0) return false;
    std::wstring shortName(n, L'\0');
    const DWORD m = GetShortPathNameW(wide.c_str(), shortName.data(), n);
    if (m == 0 || m >= n) return false;
    shortName.resize(m);
    return ToAnsiExact(shortName, out);
}

std::wstring Wide(const std::string& ansi) {
    const int n = MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, nullptr, 0);
    std::wstring w(n > 0 ? static_cast<size_t>(n) : 1, L'\0');
    if (n > 0) MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, w.data(), n);
    w.resize(n > 0 ? static_cast<size_t>(n) - 1 : 0);
    return w;
}

// Where the engine writes when the output's own name is outside the ANSI code page: a
// name of this process in the same folder (by its short name), renamed at the end.
bool StandInOutput(const std::wstring& output, std::string* standIn) {
    const size_t slash = output.find_last_of(L"\\/");
    const std::wstring folder = slash == std::wstring::npos ? L"." : output.substr(0, slash);
    std::string ansiFolder;
    if (!AnsiPath(folder, &ansiFolder)) return false;
    const size_t dot = output.find_last_of(L'.');
    std::string extension;
    if (dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash) &&
        !ToAnsiExact(output.substr(dot), &extension))
        extension.clear();
    *standIn = ansiFolder + "\\file_convert-" + std::to_string(GetCurrentProcessId()) + extension;
    return true;
}

int wmain(int argc, wchar_t** wargv) {
    Options o;
    std::wstring output;
    const auto path = [](const wchar_t* arg, std::string* out) {
        if (AnsiPath(arg, out)) return true;
        std::fprintf(stderr, "file_convert: no name of \"%ls\" fits the system's code page\n", arg);
        return false;
    };
    for (int i = 1; i < argc; ++i) {
        std::string a;
        ToAnsiExact(wargv[i], &a);
        const bool more = i + 1 < argc;
        if (a == "--profile" && more) {
            if (!ToAnsiExact(wargv[++i], &o.profileName)) return Usage("the profile name is outside the code page");
        } else if (a == "--profile-record" && more) {
            if (!path(wargv[++i], &o.profileRecord)) return 1;
        } else if (a == "--resources" && more) {
            if (!path(wargv[++i], &o.resources)) return 1;
        } else if (a == "-o" && more) {
            output = wargv[++i];
        } else if (a == "--range" && i + 2 < argc) {
            std::string in, out;
            if (!ToAnsiExact(wargv[i + 1], &in) || !ToAnsiExact(wargv[i + 2], &out) ||
                !ParseSeconds(in.c_str(), &o.rangeIn) || !ParseSeconds(out.c_str(), &o.rangeOut) ||
                o.rangeOut <= o.rangeIn)
                return Usage("--range takes two times in seconds, the second after the first");
            o.ranged = true;
            i += 2;
        } else if (wargv[i][0] == L'-') {
            return Usage(("unknown option " + a).c_str());
        } else {
            std::string input;
            if (!path(wargv[i], &input)) return 1;
            o.inputs.push_back(input);
        }
    }
    if (o.profileName.empty() == o.profileRecord.empty()) return Usage("give one of --profile and --profile-record");
    if (output.empty() || o.inputs.empty()) return Usage("give an output (-o) and at least one input");
    const bool standIn = !ToAnsiExact(output, &o.output);
    if (standIn && !StandInOutput(output, &o.output)) {
        std::fprintf(stderr, "file_convert: no name of the output's folder fits the system's code page\n");
        return 1;
    }
    if (FAILED(CoInitialize(nullptr))) return 1;
    int status = Run(o);
    CoUninitialize();
    if (status == 0 && standIn) {
        const std::wstring written = Wide(o.output);
        if (!MoveFileExW(written.c_str(), output.c_str(), MOVEFILE_REPLACE_EXISTING)) {
            std::fprintf(stderr, "file_convert: the output stays as %s: it cannot be renamed to \"%ls\" (error %lu)\n",
                         o.output.c_str(), output.c_str(), GetLastError());
            status = 1;
        }
    }
    return status;
}
