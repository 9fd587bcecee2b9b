// The clip player: opens a media file and reports what it is (kind, container class,
// frame size and rate, duration, bit rate, file size) through its probe getters, plays it
// into the owner's window through a DirectShow graph of the system's splitters and
// decoders, and decodes single frames for stills and thumbnails. Times are 100-ns units.
//
// Notices to the owner window come from a watcher thread of the player, which reads the
// graph's events and posts (never sends) them, so they arrive in order on the owner's
// thread and the player never waits on it.
#include <windows.h>
#include <dshow.h>
#include <vfwmsgs.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "engines/clip_player/frame_grabber.h"
#include "engines/clip_player/ps_video_source.h"
#include "engines/clip_info.h"
#include "engines/interfaces.h"
#include "engines/player/media_probe.h"
#include "engines/player/segment_scan.h"
#include "filters/base/server.h"

namespace {

// Notices posted to the owner window (their parameters are 0).
constexpr UINT kNoticeRangeEnd = 0x800B;      // playback stopped at the end of a play range inside the clip
constexpr UINT kNoticeClipEnd = 0x80C8;       // playback reached the end of the clip
constexpr UINT kNoticeAborted = 0x80CF;       // the graph stopped on an error (EC_ERRORABORT)
constexpr UINT kNoticeStreamError = 0x80D0;   // a stream stopped on an error (EC_STREAM_ERROR_STOPPED)
constexpr UINT kNoticeUserAbort = 0x80D1;     // the video window was closed (EC_USERABORT)
constexpr UINT kNoticeStillPlaying = 0x80D2;  // an error the graph played on through (EC_ERROR_STILLPLAYING)
constexpr UINT kNoticeRunFailed = 0x80D3;     // the graph could not start playing

// Pictures of mode 2 fit within this box.
constexpr uint32_t kThumbnailWidth = 160;
constexpr uint32_t kThumbnailHeight = 120;
// Bound on decoding one frame.
constexpr DWORD kFrameTimeoutMs = 15000;

std::wstring Widen(const std::string& text) {
    const int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    if (n <= 0) return {};
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), n);
    wide.resize(static_cast<size_t>(n - 1));
    return wide;
}

// The video of a program stream that our own source and decoders read: H.264 (the only
// H.264 the probe reports), which the system's demultiplexers take for MPEG video, and
// MPEG-2 video, whose pictures the system's MPEG demultiplexer under Wine times apart from
// its positions (14 frames behind while playing, 8 ahead after a seek).
bool OwnVideoSource(const engines::MediaFacts& facts) {
    return (facts.kind == engines::kClipVideo || facts.kind == engines::kClipStill) &&
           (facts.formatClass == profiles::kClassH264 || facts.formatClass == profiles::kClassMpeg2);
}
engines::PsVideoClip VideoClip(const engines::MediaFacts& facts) {
    return {facts.formatClass != profiles::kClassH264, facts.width, facts.height, facts.frameRate, facts.duration};
}

// Finds `filter`'s first pin of `direction`; a reference or null.
IPin* FirstPin(IBaseFilter* filter, PIN_DIRECTION direction) {
    IEnumPins* pins = nullptr;
    if (FAILED(filter->EnumPins(&pins))) return nullptr;
    IPin* pin = nullptr;
    IPin* found = nullptr;
    while (!found && pins->Next(1, &pin, nullptr) == S_OK) {
        PIN_DIRECTION d;
        if (SUCCEEDED(pin->QueryDirection(&d)) && d == direction)
            found = pin;
        else
            pin->Release();
    }
    pins->Release();
    return found;
}
int CountPins(IBaseFilter* filter, PIN_DIRECTION direction) {
    IEnumPins* pins = nullptr;
    if (FAILED(filter->EnumPins(&pins))) return 0;
    IPin* pin = nullptr;
    int count = 0;
    while (pins->Next(1, &pin, nullptr) == S_OK) {
        PIN_DIRECTION d;
        if (SUCCEEDED(pin->QueryDirection(&d)) && d == direction) ++count;
        pin->Release();
    }
    pins->Release();
    return count;
}

// Whether `graph` holds a renderer (a filter with inputs and no outputs) besides `video`:
// the sound the system built.
bool HasOtherRenderer(IGraphBuilder* graph, IBaseFilter* video) {
    IEnumFilters* filters = nullptr;
    if (FAILED(graph->EnumFilters(&filters))) return false;
    IBaseFilter* filter = nullptr;
    bool found = false;
    while (!found && filters->Next(1, &filter, nullptr) == S_OK) {
        found = filter != video && CountPins(filter, PINDIR_INPUT) > 0 && CountPins(filter, PINDIR_OUTPUT) == 0;
        filter->Release();
    }
    filters->Release();
    return found;
}

// Takes the video branch the system built out of `graph`, up to the filter it splits off
// from: the renderer's input is disconnected and the filters between (one input, one
// output) are removed, so that the demultiplexer's video output is left unconnected and the
// renderer free for our own video. False, with nothing changed, when the graph has no sound
// of its own or the renderer draws nothing of the system's.
bool DetachSystemVideo(IGraphBuilder* graph, IBaseFilter* renderer) {
    if (!HasOtherRenderer(graph, renderer)) return false;
    IPin* in = FirstPin(renderer, PINDIR_INPUT);
    if (!in) return false;
    IPin* upstream = nullptr;
    const bool connected = SUCCEEDED(in->ConnectedTo(&upstream)) && upstream;
    if (connected) {
        graph->Disconnect(upstream);
        graph->Disconnect(in);
    }
    in->Release();
    // The chain is at most a few converters long; the bound keeps a cycle from looping.
    for (int step = 0; upstream && step < 8; ++step) {
        PIN_INFO info{};
        IPin* next = nullptr;
        if (SUCCEEDED(upstream->QueryPinInfo(&info)) && info.pFilter) {
            if (CountPins(info.pFilter, PINDIR_INPUT) == 1 && CountPins(info.pFilter, PINDIR_OUTPUT) == 1) {
                IPin* input = FirstPin(info.pFilter, PINDIR_INPUT);
                if (input) {
                    input->ConnectedTo(&next);
                    input->Release();
                }
                graph->RemoveFilter(info.pFilter);
            }
            info.pFilter->Release();
        }
        upstream->Release();
        upstream = next;
    }
    if (upstream) upstream->Release();
    return connected;
}

// The playback graph of one open clip and the thread that watches its events.
class Playback {
public:
    ~Playback() { Close(); }

    HRESULT Open(const std::wstring& path, const engines::PsVideoClip* video, HWND owner, const RECT& rect,
                 LONGLONG clipEnd) {
        HRESULT hr = BuildGraph(path, video);
        // The system's sound of an MPEG-2 clip could not be kept: its video alone.
        if (FAILED(hr) && video && video->mpegVideo) {
            Close();
            hr = BuildGraph(path, video, false);
        }
        if (SUCCEEDED(hr)) hr = graph_->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control_));
        if (SUCCEEDED(hr)) hr = graph_->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&seeking_));
        if (SUCCEEDED(hr)) hr = graph_->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(&events_));
        HANDLE graphEvent = nullptr;
        if (SUCCEEDED(hr)) hr = events_->GetEventHandle(reinterpret_cast<OAEVENT*>(&graphEvent));
        if (SUCCEEDED(hr)) {
            seeking_->SetTimeFormat(&TIME_FORMAT_MEDIA_TIME);
            LONGLONG duration = 0;
            clipEnd_ = SUCCEEDED(seeking_->GetDuration(&duration)) && duration > 0 ? duration : clipEnd;
            rangeEnd_ = clipEnd_;
            // Audio-only clips have no video window: that is not a failure.
            if (SUCCEEDED(graph_->QueryInterface(IID_IVideoWindow, reinterpret_cast<void**>(&window_)))) {
                long visible = 0;
                if (FAILED(window_->get_Visible(&visible))) {
                    window_->Release();
                    window_ = nullptr;
                } else {
                    window_->put_AutoShow(OAFALSE);
                    if (owner) {
                        window_->put_Owner(reinterpret_cast<OAHWND>(owner));
                        window_->put_WindowStyle(WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN);
                        window_->put_MessageDrain(reinterpret_cast<OAHWND>(owner));
                        window_->SetWindowPosition(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
                    }
                }
            }
            owner_ = owner;
            quit_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
            if (!quit_) hr = HRESULT_FROM_WIN32(GetLastError());
        }
        if (SUCCEEDED(hr)) {
            try {
                watcher_ = std::thread([this, graphEvent] { Watch(graphEvent); });
            } catch (...) {
                hr = E_OUTOFMEMORY;
            }
        }
        if (FAILED(hr)) Close();
        return hr;
    }

    void Close() {
        if (quit_) SetEvent(quit_);
        if (watcher_.joinable()) watcher_.join();
        if (quit_) CloseHandle(quit_);
        quit_ = nullptr;
        if (control_) control_->Stop();
        if (window_) {
            window_->put_Visible(OAFALSE);
            window_->put_Owner(0);
            window_->put_MessageDrain(0);
        }
        for (IUnknown** p : {reinterpret_cast<IUnknown**>(&window_), reinterpret_cast<IUnknown**>(&events_),
                             reinterpret_cast<IUnknown**>(&seeking_), reinterpret_cast<IUnknown**>(&control_),
                             reinterpret_cast<IUnknown**>(&graph_)}) {
            if (*p) (*p)->Release();
            *p = nullptr;
        }
    }

    void Place(const RECT& rect) {
        if (window_) window_->SetWindowPosition(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
    }

    HRESULT Show(BOOL show) {
        if (!window_) return S_FALSE;
        return window_->put_Visible(show ? OATRUE : OAFALSE);
    }

    HRESULT Play(double rate) {
        HRESULT hr = seeking_->SetRate(rate);
        const HRESULT rateResult = hr;
        if (FAILED(hr)) seeking_->SetRate(1.0);  // plays on at normal speed
        hr = control_->Run();
        if (FAILED(hr)) {
            Post(kNoticeRunFailed);
            return hr;
        }
        return FAILED(rateResult) ? rateResult : S_OK;
    }
    // A paused or stopped player holds its position: where it paused, or where a new range
    // or the end of the range put it (the graph's own answer outside running is not kept
    // by every system graph after its end was reached).
    HRESULT Pause() {
        LONGLONG at = 0;
        if (Running() && SUCCEEDED(Position(&at))) held_ = at;
        return control_->Pause();
    }
    HRESULT Stop() {
        const HRESULT hr = control_->Stop();
        LONGLONG start = rangeStart_;
        seeking_->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning);
        held_ = start;
        return hr;
    }
    HRESULT Position(LONGLONG* position) {
        if (!Running()) {
            *position = held_.load();
            return S_OK;
        }
        HRESULT hr = seeking_->GetCurrentPosition(position);
        if (SUCCEEDED(hr) && *position > rangeEnd_.load()) *position = rangeEnd_.load();
        return hr;
    }
    HRESULT SetRange(LONGLONG from, LONGLONG to) {
        if (from < 0 || to < 0) return E_INVALIDARG;
        if (to == 0 || to > clipEnd_) to = clipEnd_;
        if (from > to) return E_INVALIDARG;
        LONGLONG start = from, stop = to;
        const HRESULT hr =
            seeking_->SetPositions(&start, AM_SEEKING_AbsolutePositioning, &stop, AM_SEEKING_AbsolutePositioning);
        // A graph that cannot seek plays the whole clip from its start on every run: that
        // range is granted, no other.
        if (FAILED(hr) && !(from == 0 && to == clipEnd_)) return hr;
        rangeStart_ = from;
        rangeEnd_ = to;
        held_ = from;
        // A stopped graph shows the picture at the new start.
        OAFilterState state = State_Stopped;
        if (SUCCEEDED(control_->GetState(0, &state)) && state == State_Stopped) control_->Pause();
        return S_OK;
    }

private:
    // The graph with the plain GDI renderer, placed first so that rendering uses it: it
    // draws into a child window on any display, where the mixing renderers need DirectDraw
    // or Direct3D. Our own video comes from `video` when given; the sound of an MPEG-2 clip
    // is the system's (its video branch is taken out and the renderer given ours).
    HRESULT BuildGraph(const std::wstring& path, const engines::PsVideoClip* video, bool systemSound = true) {
        HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                      reinterpret_cast<void**>(&graph_));
        if (FAILED(hr)) return hr;
        IBaseFilter* renderer = nullptr;
        if (SUCCEEDED(CoCreateInstance(CLSID_VideoRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                       reinterpret_cast<void**>(&renderer))))
            graph_->AddFilter(renderer, L"Video Renderer");
        if (!video) {
            hr = graph_->RenderFile(path.c_str(), nullptr);
        } else {
            if (video->mpegVideo && systemSound) {
                hr = graph_->RenderFile(path.c_str(), nullptr);
                if (SUCCEEDED(hr) && !(renderer && DetachSystemVideo(graph_, renderer))) hr = E_FAIL;
            }
            IPin* decoded = nullptr;
            if (SUCCEEDED(hr)) hr = engines::AddPsVideoDecoding(graph_, path.c_str(), *video, &decoded);
            if (SUCCEEDED(hr)) {
                IPin* in = renderer ? FirstPin(renderer, PINDIR_INPUT) : nullptr;
                hr = in ? graph_->Connect(decoded, in) : graph_->Render(decoded);
                if (in) in->Release();
                decoded->Release();
            }
        }
        if (renderer) renderer->Release();
        return hr;
    }

    bool Running() {
        OAFilterState state = State_Stopped;
        return SUCCEEDED(control_->GetState(0, &state)) && state == State_Running;
    }
    void Post(UINT message) {
        if (owner_) PostMessageW(owner_, message, 0, 0);
    }

    void Watch(HANDLE graphEvent) {
        const HANDLE handles[] = {quit_, graphEvent};
        while (WaitForMultipleObjects(2, handles, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
            long code = 0;
            LONG_PTR a = 0, b = 0;
            while (events_->GetEvent(&code, &a, &b, 0) == S_OK) {
                events_->FreeEventParams(code, a, b);
                switch (code) {
                    case EC_COMPLETE:
                        // Only a running graph reaches the end of its range; there it pauses,
                        // holding the last picture, so that a new range does not start it.
                        if (!Running()) break;
                        held_ = rangeEnd_.load();
                        control_->Pause();
                        Post(rangeEnd_.load() < clipEnd_ ? kNoticeRangeEnd : kNoticeClipEnd);
                        break;
                    case EC_ERRORABORT:
                        Post(kNoticeAborted);
                        break;
                    case EC_STREAM_ERROR_STOPPED:
                        Post(kNoticeStreamError);
                        break;
                    case EC_USERABORT:
                        Post(kNoticeUserAbort);
                        break;
                    case EC_ERROR_STILLPLAYING:
                        Post(kNoticeStillPlaying);
                        break;
                    default:
                        break;
                }
            }
        }
    }

    IGraphBuilder* graph_ = nullptr;
    IMediaControl* control_ = nullptr;
    IMediaSeeking* seeking_ = nullptr;
    IMediaEvent* events_ = nullptr;
    IVideoWindow* window_ = nullptr;
    HWND owner_ = nullptr;
    HANDLE quit_ = nullptr;
    std::thread watcher_;
    LONGLONG clipEnd_ = 0;
    LONGLONG rangeStart_ = 0;
    std::atomic<LONGLONG> rangeEnd_{0};
    std::atomic<LONGLONG> held_{0};  // the position while not running
};

class CClipPlayer final : public CUnknown, public IClipPlayer {
public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* hr) {
        auto* object = new (std::nothrow) CClipPlayer(outer);
        if (!object) *hr = E_OUTOFMEMORY;
        return object;
    }
    FILTERBASE_DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IClipPlayer) return GetInterface(static_cast<IClipPlayer*>(this), out);
        return CUnknown::NonDelegatingQueryInterface(iid, out);
    }

    HRESULT STDMETHODCALLTYPE SetCallback(ClipPlayerCallback callback, void* context) override {
        std::lock_guard<std::mutex> hold(lock_);
        callback_ = callback;
        context_ = context;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Initialize(HWND owner, const RECT* rect) override {
        if (owner && !IsWindow(owner)) return E_INVALIDARG;
        std::lock_guard<std::mutex> hold(lock_);
        owner_ = owner;
        if (rect) rect_ = *rect;
        // An open clip's picture moves to the new rectangle (its owner stays the one the
        // clip was opened with).
        if (playback_ && rect) playback_->Place(*rect);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetDisplayMode(DWORD mode) override {
        std::lock_guard<std::mutex> hold(lock_);
        displayMode_ = mode;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Open(const char* path, LONGLONG start, LONGLONG end, DWORD) override {
        if (!path) return E_POINTER;
        if (strnlen(path, MAX_PATH) == MAX_PATH || start < 0 || end < 0 || (end && end < start)) return E_INVALIDARG;
        engines::MediaFacts facts;
        switch (engines::ProbeMedia(path, &facts)) {
            case engines::ProbeResult::kOk:
                break;
            case engines::ProbeResult::kCannotOpen:
                return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
            case engines::ProbeResult::kUnknownFormat:
                return VFW_E_UNKNOWN_FILE_TYPE;
            case engines::ProbeResult::kDamaged:
                return VFW_E_INVALID_FILE_FORMAT;
        }
        std::lock_guard<std::mutex> hold(lock_);
        playback_.reset();
        // Playback needs the owner window of Initialize; a player that only probes builds
        // no graph. A still gets one too: paused, it shows the picture.
        if (owner_) {
            auto playback = std::make_unique<Playback>();
            const engines::PsVideoClip video = VideoClip(facts);
            const HRESULT hr =
                playback->Open(Widen(path), OwnVideoSource(facts) ? &video : nullptr, owner_, rect_, facts.duration);
            if (FAILED(hr)) {
                path_.clear();
                facts_ = {};
                // Sound alone with nowhere to play it is told apart from a clip that is
                // damaged or of a kind the system cannot read.
                return facts.kind == engines::kClipAudio && waveOutGetNumDevs() == 0 ? VFW_E_NO_AUDIO_HARDWARE : hr;
            }
            playback_ = std::move(playback);
            if (start || end) playback_->SetRange(start, end);
        }
        facts_ = facts;
        path_ = path;
        segmentsKnown_ = false;
        segments_.clear();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Close() override {
        std::lock_guard<std::mutex> hold(lock_);
        playback_.reset();
        path_.clear();
        facts_ = {};
        segmentsKnown_ = false;
        segments_.clear();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ShowVideo(BOOL show) override {
        std::lock_guard<std::mutex> hold(lock_);
        return playback_ ? playback_->Show(show) : E_UNEXPECTED;
    }
    HRESULT STDMETHODCALLTYPE GetFileName(char* buffer, DWORD bytes) override {
        if (!buffer) return E_POINTER;
        std::lock_guard<std::mutex> hold(lock_);
        if (path_.empty()) return E_UNEXPECTED;
        if (path_.size() >= bytes) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
        memcpy(buffer, path_.c_str(), path_.size() + 1);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetProperty13(DWORD* v) override { return Report(v, &engines::MediaFacts::height); }
    HRESULT STDMETHODCALLTYPE GetProperty14(DWORD* v) override { return Report(v, &engines::MediaFacts::width); }
    HRESULT STDMETHODCALLTYPE GetDuration(LONGLONG* v) override { return Report(v, &engines::MediaFacts::duration); }
    // The clip's in and out lengths as the conversion engine carries them: the whole clip.
    HRESULT STDMETHODCALLTYPE GetProperty17(LONGLONG* v) override { return Report(v, &engines::MediaFacts::duration); }
    HRESULT STDMETHODCALLTYPE GetProperty18(LONGLONG* v) override { return Report(v, &engines::MediaFacts::duration); }
    HRESULT STDMETHODCALLTYPE GetProperty19(DWORD* v) override { return Report(v, &engines::MediaFacts::videoBitRate); }
    HRESULT STDMETHODCALLTYPE GetProperty20(DWORD* v) override { return Zero(v); }
    HRESULT STDMETHODCALLTYPE GetProperty21(LONGLONG* v) override { return Report(v, &engines::MediaFacts::fileBytes); }
    HRESULT STDMETHODCALLTYPE GetMediaInfo(DWORD* v) override { return Report(v, &engines::MediaFacts::kind); }
    HRESULT STDMETHODCALLTYPE GetFormatClass(DWORD* v) override { return Report(v, &engines::MediaFacts::formatClass); }
    // The first audio stream's format (all 0 without audio): 25 its channel count; 26 the
    // channel mode + 1 in the upper 16 bits and the wave format tag in the lower; 27 the
    // sampling rate in Hz; 28 the channel mode (0 mono, 1 stereo, 2 dual channel, 3 joint
    // stereo); 29 the bit rate in bits per second; 30 the bits per sample (0 for
    // compressed sound).
    HRESULT STDMETHODCALLTYPE GetProperty25(DWORD* v) override {
        return Report(v, &engines::MediaFacts::audioChannels);
    }
    HRESULT STDMETHODCALLTYPE GetProperty26(DWORD* v) override {
        if (!v) return E_POINTER;
        std::lock_guard<std::mutex> hold(lock_);
        if (path_.empty()) return E_UNEXPECTED;
        *v = facts_.audioFormatTag ? ((facts_.audioChannelMode + 1) << 16) | (facts_.audioFormatTag & 0xFFFF) : 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetProperty27(DWORD* v) override {
        return Report(v, &engines::MediaFacts::audioSampleRate);
    }
    HRESULT STDMETHODCALLTYPE GetProperty28(DWORD* v) override {
        return Report(v, &engines::MediaFacts::audioChannelMode);
    }
    HRESULT STDMETHODCALLTYPE GetProperty29(DWORD* v) override { return Report(v, &engines::MediaFacts::audioBitRate); }
    HRESULT STDMETHODCALLTYPE GetProperty30(DWORD* v) override { return Report(v, &engines::MediaFacts::audioBits); }
    HRESULT STDMETHODCALLTYPE GetProperty31(float* v) override { return Report(v, &engines::MediaFacts::frameRate); }
    HRESULT STDMETHODCALLTYPE GetProperty32(DWORD* v) override { return Zero(v); }
    HRESULT STDMETHODCALLTYPE GetProperty33(DWORD* v) override { return Zero(v); }
    HRESULT STDMETHODCALLTYPE GetProperty35(DWORD* a, DWORD* b) override {
        if (!b) return E_POINTER;
        const HRESULT hr = Zero(a);
        if (SUCCEEDED(hr)) *b = 0;
        return hr;
    }
    LONG STDMETHODCALLTYPE GetProperty38() override { return 0; }
    // The first value is the selection flag the caller passes in (kept); the second the
    // length of one frame, 100-ns units, truncated.
    HRESULT STDMETHODCALLTYPE GetSelection(DWORD* inOut, DWORD* frameStep) override {
        if (!inOut || !frameStep) return E_POINTER;
        std::lock_guard<std::mutex> hold(lock_);
        if (path_.empty()) return E_UNEXPECTED;
        const float rate = facts_.frameRate > 0 ? facts_.frameRate : 25.0f;
        *frameStep = static_cast<DWORD>(10000000.0 / rate);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetOpenOption(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetRate(float rate) override {
        if (!(rate > 0) || rate > 64) return E_INVALIDARG;
        std::lock_guard<std::mutex> hold(lock_);
        return playback_ ? playback_->Play(rate) : E_UNEXPECTED;
    }
    HRESULT STDMETHODCALLTYPE Pause() override {
        std::lock_guard<std::mutex> hold(lock_);
        return playback_ ? playback_->Pause() : E_UNEXPECTED;
    }
    HRESULT STDMETHODCALLTYPE Stop() override {
        std::lock_guard<std::mutex> hold(lock_);
        return playback_ ? playback_->Stop() : S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPosition(LONGLONG* position) override {
        if (!position) return E_POINTER;
        std::lock_guard<std::mutex> hold(lock_);
        return playback_ ? playback_->Position(position) : E_UNEXPECTED;
    }
    HRESULT STDMETHODCALLTYPE SetPlayRange(LONGLONG from, LONGLONG to) override {
        std::lock_guard<std::mutex> hold(lock_);
        return playback_ ? playback_->SetRange(from, to) : E_UNEXPECTED;
    }
    // Mode 2 gives a thumbnail (the frame reduced to fit 160 x 120), any other mode the
    // frame at its own size. The bitmap is the caller's to delete.
    HRESULT STDMETHODCALLTYPE GetFrameBitmap(HBITMAP* bitmap, LONGLONG position, DWORD mode) override {
        if (!bitmap) return E_POINTER;
        std::wstring path;
        engines::PsVideoClip video;
        bool ownSource = false;
        {
            std::lock_guard<std::mutex> hold(lock_);
            if (path_.empty()) return E_UNEXPECTED;
            if (facts_.kind == engines::kClipAudio) return VFW_E_CANNOT_CONNECT;
            path = Widen(path_);
            video = VideoClip(facts_);
            ownSource = OwnVideoSource(facts_);
        }
        engines::GrabbedFrame frame;
        const HRESULT hr =
            engines::GrabFrame(path.c_str(), position, kFrameTimeoutMs, &frame, ownSource ? &video : nullptr);
        if (FAILED(hr)) return hr;
        HBITMAP made = mode == 2 ? engines::FrameToBitmap(frame, kThumbnailWidth, kThumbnailHeight)
                                 : engines::FrameToBitmap(frame, 0, 0);
        if (!made) return E_OUTOFMEMORY;
        *bitmap = made;
        return S_OK;
    }
    // The segments are found on the first call for the open clip, with the callback's
    // notices: 2 start, 1 progress (percent), 3 finished. A clip that is not a program
    // stream is one segment.
    HRESULT STDMETHODCALLTYPE GetSegmentCount(DWORD* count) override {
        if (!count) return E_POINTER;
        std::string path;
        ClipPlayerCallback callback;
        void* context;
        bool stream;
        {
            std::lock_guard<std::mutex> hold(lock_);
            if (path_.empty()) return E_UNEXPECTED;
            if (segmentsKnown_) {
                *count = static_cast<DWORD>(segments_.size());
                return S_OK;
            }
            path = path_;
            callback = callback_;
            context = context_;
            stream = facts_.formatClass != profiles::kClassAvi && facts_.formatClass != profiles::kClassDv;
        }
        // The scan runs without the lock: the callback may call back into the player.
        if (callback) callback(2, 0, context);
        std::vector<engines::SegmentRecord> found;
        if (stream)
            found = engines::ScanSegments(path, [&](int percent) {
                if (callback) callback(1, static_cast<UINT_PTR>(percent), context);
                return true;
            });
        if (callback) callback(3, 0, context);
        std::lock_guard<std::mutex> hold(lock_);
        if (path_ != path) return E_UNEXPECTED;  // closed or reopened meanwhile
        if (found.empty()) {
            engines::SegmentRecord whole{};
            whole.endByte = facts_.fileBytes;
            whole.videoStart = whole.videoEnd = whole.audioStart = whole.audioEnd = -1;
            if (facts_.kind == engines::kClipAudio) {
                whole.audioStart = 0;
                whole.audioEnd = facts_.duration;
            } else {
                whole.videoStart = 0;
                whole.videoEnd = facts_.duration;
            }
            whole.timelineEnd = facts_.duration;
            whole.formatClass = facts_.formatClass;
            whole.width = facts_.width;
            whole.height = facts_.height;
            whole.videoBitRate = facts_.videoBitRate;
            whole.frameRate = facts_.frameRate;
            found.push_back(whole);
        }
        segments_ = std::move(found);
        segmentsKnown_ = true;
        *count = static_cast<DWORD>(segments_.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSegment(DWORD index, BYTE* record) override {
        if (!record) return E_POINTER;
        std::lock_guard<std::mutex> hold(lock_);
        if (path_.empty() || !segmentsKnown_) return E_UNEXPECTED;
        if (index >= segments_.size()) return E_INVALIDARG;
        memcpy(record, &segments_[index], sizeof(engines::SegmentRecord));
        return S_OK;
    }

private:
    explicit CClipPlayer(IUnknown* outer) : CUnknown(L"clip player", outer) {}

    template <typename Out, typename Field>
    HRESULT Report(Out* out, Field engines::MediaFacts::*field) {
        if (!out) return E_POINTER;
        std::lock_guard<std::mutex> hold(lock_);
        if (path_.empty()) return E_UNEXPECTED;
        *out = static_cast<Out>(facts_.*field);
        return S_OK;
    }
    HRESULT Zero(DWORD* out) {
        if (!out) return E_POINTER;
        std::lock_guard<std::mutex> hold(lock_);
        if (path_.empty()) return E_UNEXPECTED;
        *out = 0;
        return S_OK;
    }

    std::mutex lock_;
    std::unique_ptr<Playback> playback_;
    std::string path_;
    bool segmentsKnown_ = false;
    std::vector<engines::SegmentRecord> segments_;
    engines::MediaFacts facts_;
    ClipPlayerCallback callback_ = nullptr;
    void* context_ = nullptr;
    HWND owner_ = nullptr;
    RECT rect_{};
    DWORD displayMode_ = 0;
};

const FactoryTemplate kTemplates[] = {
    {L"Clip player", &CLSID_ClipPlayer, &CClipPlayer::CreateInstance, nullptr},
};

}  // namespace

FILTERBASE_DEFINE_SERVER_EXPORTS(kTemplates)
