// The file conversion engine: a timeline of clip records (track 0 pictures, track 1 their
// sound), a profile, and a conversion of the timeline into the profile's output on a
// thread of its own. The notify window learns of the end of a preview range (WM_APP+200)
// and of the end of each conversion, finished, failed or aborted (WM_APP+202, whose wParam
// is the conversion's HRESULT). A refused profile's text is left as the thread's COM error
// information.
#include <windows.h>
#include <oleauto.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "app/profiles/profile_record.h"
#include "engines/file_engine/convert.h"
#include "engines/file_engine/file_engine_records.h"
#include "engines/file_engine/mp3_codec.h"
#include "engines/file_engine/mpeg4_compressor.h"
#include "engines/interfaces.h"
#include "filters/base/server.h"

namespace {

using namespace fileengine;

constexpr int kTracks = 4;
// A timeline holds what a user can list; a caller adding more is refused, not obeyed.
constexpr size_t kMaxClipsPerTrack = 10000;
// How long Close waits for the converting thread, which checks the abort flag between
// packets (a few milliseconds apart).
constexpr DWORD kCloseWaitMs = 20000;

void SetErrorText(const std::string& text) {
    ICreateErrorInfo* create = nullptr;
    if (FAILED(CreateErrorInfo(&create))) return;
    std::wstring wide(text.size() + 1, L'\0');
    const int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), static_cast<int>(wide.size()));
    wide.resize(n > 0 ? static_cast<size_t>(n) - 1 : 0);
    create->SetDescription(wide.data());
    create->SetGUID(IID_IFileEngineControl);
    IErrorInfo* info = nullptr;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
        SetErrorInfo(0, info);
        info->Release();
    }
    create->Release();
}

class CFileEngine final : public CUnknown, public IFileEngineTimeline, public IFileEngineControl {
public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* hr) {
        auto* object = new (std::nothrow) CFileEngine(outer);
        if (!object) *hr = E_OUTOFMEMORY;
        return object;
    }
    ~CFileEngine() override {
        StopPreviewClock();
        StopConversion();
    }

    FILTERBASE_DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IFileEngineTimeline) return GetInterface(static_cast<IFileEngineTimeline*>(this), out);
        if (iid == IID_IFileEngineControl) return GetInterface(static_cast<IFileEngineControl*>(this), out);
        return CUnknown::NonDelegatingQueryInterface(iid, out);
    }

    // ---- timeline ----
    HRESULT STDMETHODCALLTYPE EnableUpdates(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Reset() override {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto& t : tracks_)
            t.clear();
        ++timelineVersion_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE RemoveClips(DWORD track, LONG index) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (track >= kTracks) return E_INVALIDARG;
        auto& t = tracks_[track];
        ++timelineVersion_;
        if (index < 0) {
            t.clear();
            return S_OK;
        }
        if (static_cast<size_t>(index) >= t.size()) return E_INVALIDARG;
        t.erase(t.begin() + index);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE AddClip(DWORD track, DWORD number, const BYTE* record) override {
        if (!record) return E_POINTER;
        std::lock_guard<std::mutex> lock(mutex_);
        if (track >= kTracks) return E_INVALIDARG;
        auto& t = tracks_[track];
        if (t.size() >= kMaxClipsPerTrack) return E_OUTOFMEMORY;
        ClipBytes clip;
        std::memcpy(clip.data(), record, clip.size());
        // The number is where the clip goes; past the end it is appended.
        t.insert(t.begin() + std::min<size_t>(number, t.size()), clip);
        ++timelineVersion_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetClip(DWORD track, DWORD index, BYTE* record) override {
        if (!record) return E_POINTER;
        std::lock_guard<std::mutex> lock(mutex_);
        if (track >= kTracks || index >= tracks_[track].size()) return E_INVALIDARG;
        std::memcpy(record, tracks_[track][index].data(), kClipRecordBytes);
        return S_OK;
    }
    LONG STDMETHODCALLTYPE GetClipCount(DWORD track) override {
        std::lock_guard<std::mutex> lock(mutex_);
        return track < kTracks ? static_cast<LONG>(tracks_[track].size()) : 0;
    }
    HRESULT STDMETHODCALLTYPE SetClipRange(DWORD track, DWORD number, DWORD bound, LONGLONG time, float rate) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (track >= kTracks || number >= tracks_[track].size() || bound > 1 || time < 0) return E_INVALIDARG;
        ClipBytes& clip = tracks_[track][number];
        const size_t at = (track == 0 ? kClipSourceRange : kClipAudioRange) + bound * 8;
        std::memcpy(clip.data() + at, &time, 8);
        if (track != 0) std::memcpy(clip.data() + kClipRate, &rate, 4);
        ++timelineVersion_;
        return S_OK;
    }

    // ---- control ----
    HRESULT STDMETHODCALLTYPE SetNotifyWindow(HWND window) override {
        notify_.store(window);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetFrameRate(DWORD framesPer100s) override {
        if (framesPer100s == 0 || framesPer100s > 12000) return E_INVALIDARG;
        previewRate100_ = framesPer100s;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetPreviewWindow(HWND window, LONG left, LONG top, LONG right, LONG bottom) override {
        std::lock_guard<std::mutex> lock(previewMutex_);
        previewWindow_ = window;
        previewRect_ = RECT{left, top, right, bottom};
        UpdatePreviewSize();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Prepare(DWORD, DWORD, DWORD, DWORD, DWORD) override {
        // A finished conversion's thread is joined here; one still running keeps running.
        std::lock_guard<std::mutex> lock(runMutex_);
        if (worker_.joinable() && finished_.load()) worker_.join();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Close() override {
        StopPreviewClock();
        return StopConversion() ? S_OK : E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE EnablePreview(BOOL enable) override {
        // Turning the preview on shows the picture under the position at once.
        const bool was = previewEnabled_.exchange(enable != FALSE);
        if (enable && !was && !(playRate_.load() > 0.0f)) ShowStill();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Play(float rate) override {
        if (!(rate > 0.0f) || rate > 64.0f) return E_INVALIDARG;
        StopPreviewClock();
        std::lock_guard<std::mutex> lock(clockMutex_);
        clockStop_ = false;
        previewStop_.store(false);
        playRate_.store(rate);
        clock_ = std::thread([this, rate] { RunPreviewClock(rate); });
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Pause() override {
        StopPreviewClock();
        playRate_.store(0.0f);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDuration(LONGLONG* duration) override {
        if (!duration) return E_POINTER;
        std::lock_guard<std::mutex> lock(mutex_);
        int64_t end = 0;
        for (const ClipBytes& c : tracks_[0])
            end = std::max(end, ReadI64(c, kClipTimelineEnd));
        *duration = end;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPosition(LONGLONG* position) override {
        if (!position) return E_POINTER;
        *position = position_.load();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetRange(LONGLONG start, LONGLONG end, DWORD) override {
        if (start < 0 || end < start) return E_INVALIDARG;
        rangeStart_.store(start);
        rangeEnd_.store(end);
        position_.store(start);
        // A new range while playing (the slider moved) plays on from its start; otherwise
        // (a frame step, a typed time, a stop) the picture at the start is shown still.
        const float rate = playRate_.load();
        if (rate > 0.0f) return Play(rate);
        ShowStill();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetPreviewDuringConvert(BOOL preview) override {
        previewDuringConvert_.store(preview != FALSE);
        std::lock_guard<std::mutex> lock(previewMutex_);
        UpdatePreviewSize();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetProfile(const BYTE* profile) override {
        if (!profile) return E_POINTER;
        auto record = std::make_unique<profiles::ProfileRecord>();
        std::memcpy(record.get(), profile, sizeof *record);
        OutputPlan plan;
        std::string refusal;
        std::lock_guard<std::mutex> lock(runMutex_);
        hasProfile_ = false;
        if (!MakeOutputPlan(*record, &plan, &refusal)) {
            SetErrorText(refusal);
            return E_FAIL;
        }
        const size_t nameLength = strnlen(record->head.outputFileName, sizeof record->head.outputFileName);
        if (nameLength == 0 || nameLength == sizeof record->head.outputFileName) {
            SetErrorText("The profile carries no output file name.");
            return E_INVALIDARG;
        }
        plan_ = plan;
        output_.assign(record->head.outputFileName, nameLength);
        hasProfile_ = true;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE StartConvert(DWORD, DWORD, DWORD, DWORD, DWORD) override {
        std::lock_guard<std::mutex> lock(runMutex_);
        if (!hasProfile_) {
            SetErrorText("No profile has been given for the conversion.");
            return E_UNEXPECTED;
        }
        if (worker_.joinable()) {
            if (!finished_.load()) return E_UNEXPECTED;  // one conversion at a time
            worker_.join();
        }
        std::vector<SourceClip> clips;
        {
            std::lock_guard<std::mutex> timeline(mutex_);
            for (const ClipBytes& c : tracks_[0]) {
                SourceClip clip;
                const char* path = reinterpret_cast<const char*>(c.data() + kClipPath);
                clip.path.assign(path, strnlen(path, kClipPathBytes));
                clip.in = ReadI64(c, kClipSourceRange);
                clip.out = ReadI64(c, kClipSourceRange + 8);
                if (clip.out <= clip.in) clip.out = -1;
                if (clip.in < 0) clip.in = 0;
                if (!clip.path.empty()) clips.push_back(std::move(clip));
            }
        }
        if (clips.empty()) {
            SetErrorText("The timeline holds no clip to convert.");
            return E_UNEXPECTED;
        }
        control_->abort.store(false);
        control_->fraction.store(0.0f);
        started_ = true;
        {
            std::lock_guard<std::mutex> preview(previewMutex_);
            UpdatePreviewSize();
        }
        finished_.store(false);
        converting_.store(true);
        worker_ = std::thread([this, clips = std::move(clips), plan = plan_, output = output_] {
            std::string error;
            const ConvertResult r = Convert(clips, plan, output, *control_, &error);
            const HRESULT hr = r == ConvertResult::kDone ? S_OK : r == ConvertResult::kAborted ? E_ABORT : E_FAIL;
            if (r == ConvertResult::kFailed) OutputDebugStringA(("file engine: " + error + "\n").c_str());
            converting_.store(false);
            finished_.store(true);
            // Posted, not sent: the window's thread may be waiting in Close for this one.
            if (HWND w = notify_.load()) PostMessageW(w, WM_APP + 202, static_cast<WPARAM>(hr), 0);
        });
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Abort(DWORD) override {
        control_->abort.store(true);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetProgress(float* fraction) override {
        if (!fraction) return E_POINTER;
        std::lock_guard<std::mutex> lock(runMutex_);
        if (!started_) {
            *fraction = 0.0f;
            return S_FALSE;
        }
        *fraction = control_->fraction.load();
        return S_OK;
    }

private:
    explicit CFileEngine(IUnknown* outer)
        : CUnknown(L"file conversion engine", outer), control_(std::make_unique<ConvertControl>()) {
        control_->preview = [this](const uint8_t* bgrx, int w, int h) { DrawPreview(bgrx, w, h); };
    }

    using ClipBytes = std::array<uint8_t, kClipRecordBytes>;

    static int64_t ReadI64(const ClipBytes& c, size_t at) {
        int64_t v = 0;
        std::memcpy(&v, c.data() + at, 8);
        return v;
    }

    // Ends a running conversion (its WM_APP+202 is still posted) and joins its thread.
    bool StopConversion() {
        std::unique_lock<std::mutex> lock(runMutex_);
        control_->abort.store(true);
        if (!worker_.joinable()) return true;
        lock.unlock();
        // The converting thread takes no lock of ours but the preview lock, so waiting
        // here cannot deadlock; the flag makes it end within a packet's work.
        for (DWORD waited = 0; !finished_.load() && waited < kCloseWaitMs; waited += 10)
            Sleep(10);
        lock.lock();
        if (!finished_.load()) return false;
        if (worker_.joinable()) worker_.join();
        return true;
    }

    // Under previewMutex_.
    void UpdatePreviewSize() {
        const bool on = previewDuringConvert_.load() && previewWindow_ != nullptr;
        const int w = on ? std::max<LONG>(0, previewRect_.right - previewRect_.left) & ~1 : 0;
        const int h = on ? std::max<LONG>(0, previewRect_.bottom - previewRect_.top) & ~1 : 0;
        control_->previewWidth.store(w);
        control_->previewHeight.store(h);
    }

    void DrawPreview(const uint8_t* bgrx, int w, int h) {
        std::lock_guard<std::mutex> lock(previewMutex_);
        if (!previewWindow_ || !IsWindow(previewWindow_)) return;
        HDC dc = GetDC(previewWindow_);
        if (!dc) return;
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = w;
        info.bmiHeader.biHeight = -h;  // top-down
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        StretchDIBits(dc, previewRect_.left, previewRect_.top, previewRect_.right - previewRect_.left,
                      previewRect_.bottom - previewRect_.top, 0, 0, w, h, bgrx, &info, DIB_RGB_COLORS, SRCCOPY);
        ReleaseDC(previewWindow_, dc);
    }

    // The preview clock: the position runs from where it is to the range's end at `rate`;
    // reaching the end is told with WM_APP+200. With the preview on, the pictures of the
    // clip under the position are decoded and drawn into the preview rectangle as the
    // position reaches them.
    void RunPreviewClock(float rate) {
        const DWORD started = GetTickCount();
        const int64_t from = position_.load();
        for (;;) {
            const int64_t end = rangeEnd_.load();
            const int64_t now = from + static_cast<int64_t>(double(GetTickCount() - started) * 10000.0 * rate);
            position_.store(std::min(now, end));
            if (previewEnabled_.load()) ShowPictureAt(std::min(now, end), false);
            if (now >= end) {
                playRate_.store(0.0f);
                if (HWND w = notify_.load()) PostMessageW(w, WM_APP + 200, 0, 0);
                return;
            }
            std::unique_lock<std::mutex> lock(clockMutex_);
            if (clockCv_.wait_for(lock, std::chrono::milliseconds(20), [this] { return clockStop_; })) return;
        }
    }

    // What the preview has open: the clip under the position, the picture shown and the
    // next one. Used by one preview thread at a time (each is joined before the next starts).
    struct PreviewPlayback {
        std::unique_ptr<PreviewReader> reader;
        uint64_t timelineVersion = 0;                      // of the timeline the clip was found in
        int64_t clipStart = 0, clipEnd = 0, sourceIn = 0;  // the clip's timeline span and in point
        int64_t failedClipStart = -1;                      // a clip whose file could not be read
        std::vector<uint8_t> next, due;
        int64_t nextAt = 0;         // timeline time of `next`
        int64_t dueAt = INT64_MIN;  // timeline time of `due`; INT64_MIN: none yet
        bool hasNext = false;
        int width = 0, height = 0;
    };

    // Shows the picture under the position on a preview thread of its own, so that a
    // frame step or a slider move does not wait for the decoding. A still asked for while
    // another is being decoded ends that one.
    void ShowStill() {
        if (!previewEnabled_.load() || converting_.load()) return;
        StopPreviewClock();
        std::lock_guard<std::mutex> lock(clockMutex_);
        clockStop_ = false;
        previewStop_.store(false);
        clock_ = std::thread([this] { ShowPictureAt(position_.load(), true); });
    }

    // Draws the picture the timeline shows at `now`, opening the clip under it as needed.
    // Playing draws only when a new picture is due; a still is drawn in any case.
    void ShowPictureAt(int64_t now, bool still) {
        PreviewPlayback* p = &playback_;
        int w = 0, h = 0;
        {
            std::lock_guard<std::mutex> lock(previewMutex_);
            if (!previewWindow_) return;
            w = std::max<LONG>(0, previewRect_.right - previewRect_.left) & ~1;
            h = std::max<LONG>(0, previewRect_.bottom - previewRect_.top) & ~1;
        }
        if (w <= 0 || h <= 0) return;
        const uint64_t version = timelineVersion_.load();
        if (version != p->timelineVersion) {
            p->reader.reset();
            p->failedClipStart = -1;
            p->timelineVersion = version;
        }
        // Reopen where the clip ended, the size changed, the position went back, or
        // decoding fell a second behind.
        const bool behind = p->hasNext && p->nextAt < now - 10000000;
        if (!p->reader || now >= p->clipEnd || now < p->clipStart || now < p->dueAt || w != p->width ||
            h != p->height || behind) {
            p->reader.reset();
            p->hasNext = false;
            p->dueAt = INT64_MIN;
            std::string path;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                for (const ClipBytes& c : tracks_[0]) {
                    const int64_t start = ReadI64(c, kClipTimelineStart), end = ReadI64(c, kClipTimelineEnd);
                    if (now < start || now >= end) continue;
                    const char* text = reinterpret_cast<const char*>(c.data() + kClipPath);
                    path.assign(text, strnlen(text, kClipPathBytes));
                    p->clipStart = start;
                    p->clipEnd = end;
                    p->sourceIn = std::max<int64_t>(0, ReadI64(c, kClipSourceRange));
                    break;
                }
            }
            if (path.empty() || p->clipStart == p->failedClipStart) return;
            auto reader = std::make_unique<PreviewReader>(&previewStop_);
            if (!reader->Open(path, p->sourceIn + (now - p->clipStart))) {
                p->failedClipStart = p->clipStart;
                return;
            }
            p->reader = std::move(reader);
            p->width = w;
            p->height = h;
            p->hasNext = ReadNextPicture(p);
        }
        bool any = false;
        while (p->hasNext && p->nextAt <= now && !previewStop_.load()) {
            p->due.swap(p->next);
            p->dueAt = p->nextAt;
            any = true;
            p->hasNext = ReadNextPicture(p);
        }
        if (previewStop_.load()) {
            // Cut short: what was read is not where the next call expects it.
            p->reader.reset();
            return;
        }
        if (any || (still && p->dueAt != INT64_MIN))
            DrawPreview(p->due.data(), w, h);
        else if (still && p->hasNext)  // the position lies before the clip's first picture
            DrawPreview(p->next.data(), w, h);
    }

    bool ReadNextPicture(PreviewPlayback* p) {
        int64_t t = 0;
        if (!p->reader->Next(p->width, p->height, &p->next, &t)) return false;
        p->nextAt = p->clipStart + (t - p->sourceIn);
        return p->nextAt < p->clipEnd;
    }

    void StopPreviewClock() {
        std::unique_lock<std::mutex> lock(clockMutex_);
        clockStop_ = true;
        previewStop_.store(true);
        clockCv_.notify_all();
        if (!clock_.joinable()) return;
        std::thread t = std::move(clock_);
        lock.unlock();
        t.join();
    }

    std::mutex mutex_;  // the timeline
    std::vector<ClipBytes> tracks_[kTracks];

    std::mutex runMutex_;  // profile, conversion thread and its control block
    OutputPlan plan_;
    std::string output_;
    bool hasProfile_ = false;
    bool started_ = false;  // a conversion has been started: GetProgress has a value
    // One control block for the engine's life: the converting thread and the preview read
    // it without the run lock.
    std::unique_ptr<ConvertControl> control_;
    std::thread worker_;
    std::atomic<bool> finished_{true}, converting_{false};

    std::atomic<HWND> notify_{nullptr};
    std::mutex previewMutex_;
    HWND previewWindow_ = nullptr;
    RECT previewRect_{};
    std::atomic<bool> previewEnabled_{false}, previewDuringConvert_{false};
    DWORD previewRate100_ = 2500;

    std::mutex clockMutex_;
    std::condition_variable clockCv_;
    bool clockStop_ = false;
    std::thread clock_;
    std::atomic<bool> previewStop_{false};  // ends a preview thread's decoding early
    std::atomic<float> playRate_{0.0f};     // the rate of the running playback; 0 when not playing
    std::atomic<int64_t> position_{0}, rangeStart_{0}, rangeEnd_{0};
    std::atomic<uint64_t> timelineVersion_{0};  // counts timeline edits
    PreviewPlayback playback_;
};

const FactoryTemplate kTemplates[] = {
    {L"File conversion engine", &CLSID_FileEngine, &CFileEngine::CreateInstance, nullptr},
};

}  // namespace

namespace {

// The engine's MPEG-4 encoder as a video compressor and its MPEG Layer-3 encoder as an audio
// codec; removal takes both away whatever the first answers.
HRESULT RegisterCodecs(bool install) {
    const HRESULT video = fileengine::RegisterCompressor(install);
    if (install && FAILED(video)) return video;
    const HRESULT audio = fileengine::RegisterAudioCodec(install);
    return FAILED(video) ? video : audio;
}

}  // namespace

// The server's exports; registration also installs the engine's codecs.
FILTERBASE_DEFINE_SERVER_EXPORTS_WITH(kTemplates, RegisterCodecs)
