// The DV capture engine: finds DV devices in the video-input category, drives the tape
// through the device's external-transport and time-code interfaces, and records what the
// device sends into DV AVI files, with time and size limits, batches of marked segments
// and a quick scan that reports the tape's scene changes. Recordings of the H.264 type are
// recorded as DV and encoded afterwards into H.264 in a transport stream.
//
// Threads:
// - the caller's thread: the interface;
// - the notice thread (the engine's own): every callback to the application runs on it,
//   in the order the notices were raised;
// - one worker at a time for long operations (seek, batch, quick scan);
// - the encoding thread: encodes finished H.264-type recordings one after another;
// - the graph's streaming thread: the sink hands every DV frame to the recorder.
// Waits on the device are bounded: a deck that never reaches a commanded mode ends the
// wait with VFW_E_TIMEOUT and a WM_DV_ERROR notice.
#include <windows.h>
#include <dshow.h>
#include <edevdefs.h>
#include <vfwmsgs.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "engines/dv/dv_avi_writer.h"
#include "engines/dv/dv_frame.h"
#include "engines/dv_engine/h264_encode.h"
#include "engines/file_engine/capture_plan.h"
#include "engines/file_engine/convert.h"
#include "engines/interfaces.h"
#include "filters/base/filter.h"
#include "filters/base/pins.h"
#include "filters/base/server.h"

namespace {

using engines::SystemLayerCode;

constexpr DWORD kModeWaitMs = 3000;       // a deck answers a transport command within this
constexpr DWORD kSeekLimitMs = 120000;    // a seek across the longest tape at wind speed
constexpr int kUnansweredCommands = 3;    // in a row, each within kModeWaitMs: the deck stopped answering
constexpr double kSceneCut = 8.0;         // signature distance of a cut, in DC steps
constexpr size_t kNameBytes = 128;        // EnumDevice's buffer
constexpr int64_t kTapeEndIdleMs = 3000;  // no frame for this long while playing: the tape ended
constexpr DWORD kEncodeStallMs = 60000;   // an encoding that writes nothing for this long has failed

// {A3C5E1F2-7B4D-4E8A-9C6B-1D2E3F4A5B6C}: the engine's sink, for its filter information.
constexpr CLSID kSinkClsid = {0xA3C5E1F2, 0x7B4D, 0x4E8A, {0x9C, 0x6B, 0x1D, 0x2E, 0x3F, 0x4A, 0x5B, 0x6C}};

template <typename T>
void SafeRelease(T*& p) {
    if (p) p->Release();
    p = nullptr;
}

std::string Narrow(const wchar_t* text) {
    const int n = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(size_t(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, out.data(), n, nullptr, nullptr);
    out.resize(size_t(n - 1));
    return out;
}

std::wstring Widen(const std::string& text) {
    const int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    if (n <= 0) return {};
    std::wstring wide(size_t(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), n);
    wide.resize(size_t(n - 1));
    return wide;
}

// Bounded copy of a NUL-terminated text field of a byte record.
std::string Field(const char* field, size_t bytes) {
    return std::string(field, strnlen(field, bytes));
}

// "name.avi" -> "name-002.avi" (the batch's segment files); a name without an extension
// takes `extension`.
std::string Numbered(const std::string& path, size_t index, const char* extension = ".avi") {
    const size_t slash = path.find_last_of("\\/");
    const size_t dot = path.find_last_of('.');
    const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    char suffix[16];
    snprintf(suffix, sizeof suffix, "-%03u", unsigned(index + 1));
    return hasExtension ? path.substr(0, dot) + suffix + path.substr(dot) : path + suffix + extension;
}

// The 32-byte quick-scan sample.
struct ScanSample {
    uint8_t timecode[4];  // h, m, s, f
    uint8_t stampHigh[3];
    uint8_t unused7;
    uint8_t stampLow[3];
    uint8_t unused11[5];
    int64_t mediaTime;  // in the quick-scan file, 100-ns units
    uint8_t unused24;
    uint8_t queue;
    uint8_t start;
    uint8_t unused27;
    uint32_t scanValue;
};
static_assert(sizeof(ScanSample) == 32);

// The batch segment record's fields the engine reads.
struct BatchSegment {
    dv::Timecode in, out;
    bool inFrameKnown = true, outFrameKnown = true;
    std::string captureFile;
};

class CSystemLayerDV;

// ---- the sink: takes DV frames from the device ----
class CDvSinkPin;
class CDvSink final : public CBaseFilter {
public:
    explicit CDvSink(CSystemLayerDV* engine);
    ~CDvSink() override;
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override;
    IPin* Input();
    bool Ok() const { return pin_ != nullptr; }

private:
    CCritSec lock_;
    CDvSinkPin* pin_ = nullptr;
};

class CDvSinkPin final : public CBaseInputPin {
public:
    CDvSinkPin(CDvSink* sink, CCritSec* lock, CSystemLayerDV* engine)
        : CBaseInputPin(L"DV sink pin", sink, lock, nullptr, L"DV In"), engine_(engine) {}
    HRESULT CheckMediaType(const CMediaType* type) override {
        const bool major = type->majortype == MEDIATYPE_Interleaved || type->majortype == MEDIATYPE_Video;
        return major && type->subtype == MEDIASUBTYPE_dvsd ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override { return S_FALSE; }
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override;

private:
    CSystemLayerDV* engine_;
};

class CSystemLayerDV final : public CUnknown, public ISystemLayerDV {
public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* hr) {
        auto* object = new (std::nothrow) CSystemLayerDV(outer);
        if (!object) *hr = E_OUTOFMEMORY;
        return object;
    }
    ~CSystemLayerDV() override { Uninitialize(); }

    FILTERBASE_DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_ISystemLayerDV) return GetInterface(static_cast<ISystemLayerDV*>(this), out);
        return CUnknown::NonDelegatingQueryInterface(iid, out);
    }

    // ---- life ----
    HRESULT STDMETHODCALLTYPE Initialize() override {
        std::lock_guard<std::mutex> hold(noticeLock_);
        if (noticeThread_.joinable()) return S_FALSE;
        noticeQuit_ = false;
        {
            std::lock_guard<std::mutex> jobs(encodeLock_);
            encodeQuit_ = false;
        }
        encodeCancel_ = false;
        try {
            noticeThread_ = std::thread([this] { NoticeLoop(); });
        } catch (...) {
            return E_OUTOFMEMORY;
        }
        try {
            encodeThread_ = std::thread([this] { EncodeLoop(); });
        } catch (...) {
            // Without it recordings of the H.264 type stay DV (reported so).
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Uninitialize() override {
        OpenDevice(nullptr);
        // An encoding still running is given up; its DV recording is kept and reported.
        {
            std::lock_guard<std::mutex> hold(encodeLock_);
            encodeQuit_ = true;
        }
        encodeCancel_ = true;
        encodeWake_.notify_all();
        if (encodeThread_.joinable()) encodeThread_.join();
        {
            std::lock_guard<std::mutex> hold(noticeLock_);
            noticeQuit_ = true;
        }
        noticeWake_.notify_all();
        if (noticeThread_.joinable()) noticeThread_.join();
        return S_OK;
    }

    // ---- devices ----
    HRESULT STDMETHODCALLTYPE EnumDevice(DWORD index, char* name, DWORD bytes) override {
        if (!name || bytes == 0) return E_POINTER;
        std::vector<std::string> names = DeviceNames();
        if (index >= names.size()) return E_FAIL;
        if (names[index].size() >= std::min<DWORD>(bytes, kNameBytes))
            return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
        memcpy(name, names[index].c_str(), names[index].size() + 1);
        return index + 1 < names.size() ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE OpenDevice(const char* name) override;

    // ---- transport ----
    HRESULT STDMETHODCALLTYPE Play() override { return SetMode(ED_MODE_PLAY); }
    HRESULT STDMETHODCALLTYPE Pause() override { return SetMode(ED_MODE_FREEZE); }
    HRESULT STDMETHODCALLTYPE Stop() override { return SetMode(ED_MODE_STOP); }
    HRESULT STDMETHODCALLTYPE FastForward() override { return SetMode(ED_MODE_FF); }
    HRESULT STDMETHODCALLTYPE Rewind() override { return SetMode(ED_MODE_REW); }
    HRESULT STDMETHODCALLTYPE FastForwardPlay() override { return Shuttle(31); }
    HRESULT STDMETHODCALLTYPE RewindPlay() override { return Shuttle(0); }
    HRESULT STDMETHODCALLTYPE StepForward() override { return SetMode(ED_MODE_STEP_FWD, ED_MODE_FREEZE); }
    HRESULT STDMETHODCALLTYPE StepBackward() override { return SetMode(ED_MODE_STEP_REV, ED_MODE_FREEZE); }
    HRESULT STDMETHODCALLTYPE EndSeek() override {
        cancel_ = true;
        JoinWorker();
        cancel_ = false;
        return S_OK;
    }
    // Seeks on the worker; "seek begun" is noticed at once and the end, reached or not, as
    // WM_DV_ERROR (see engines::kSeekNotOnTape), so that the caller leaves its seeking state.
    HRESULT STDMETHODCALLTYPE SeekTimecode(DWORD timecode) override {
        if (!Transport()) return VFW_E_NOT_CONNECTED;
        const dv::Timecode target = dv::Timecode::Unpack(timecode);
        if (!target.Valid(30)) return E_INVALIDARG;
        return StartWorker([this, target] {
            seeking_ = true;
            Notice(engines::kSeekBegun, 0);
            const HRESULT hr = SeekTo(target);
            seeking_ = false;
            if (hr == E_ABORT) {
                // Ended by the caller: the deck stays where the search left it, paused,
                // not winding on under a page that shows it paused.
                SetMode(ED_MODE_FREEZE, 0, false);
                return;
            }
            const HRESULT end = SUCCEEDED(hr)           ? S_OK
                                : hr == VFW_E_NOT_FOUND ? engines::kSeekNotOnTape
                                                        : engines::kSeekDeckFailed;
            Notice(engines::WM_DV_ERROR, UINT_PTR(ULONG(end)));
        });
    }
    // Step 0-31: 16 holds still, higher runs forwards, lower backwards, half a frame a
    // tick per step.
    HRESULT STDMETHODCALLTYPE Shuttle(DWORD step) override {
        if (step > 31) return E_INVALIDARG;
        IAMExtTransport* transport = Transport();
        if (!transport) return VFW_E_NOT_CONNECTED;
        HRESULT hr = transport->put_Rate((double(step) - 16) / 2);
        if (SUCCEEDED(hr)) hr = transport->put_Mode(ED_MODE_SHUTTLE);
        transport->Release();
        return hr;
    }

    // ---- quick scan ----
    HRESULT STDMETHODCALLTYPE QuickScanMark() override;
    HRESULT STDMETHODCALLTYPE StartQuickScan(const char* path) override;
    HRESULT STDMETHODCALLTYPE StopQuickScan() override;

    // ---- batch ----
    HRESULT STDMETHODCALLTYPE AddBatchSegment(const BYTE* record) override;
    HRESULT STDMETHODCALLTYPE StartBatchCapture() override;
    HRESULT STDMETHODCALLTYPE StopBatchCapture(DWORD) override {
        cancel_ = true;
        JoinWorker();
        cancel_ = false;
        return S_OK;
    }

    // ---- state ----
    HRESULT STDMETHODCALLTYPE GetMediaStatus(DWORD* hasTape, DWORD* status) override {
        if (!hasTape || !status) return E_POINTER;
        IAMExtTransport* transport = Transport();
        if (!transport) return VFW_E_NOT_CONNECTED;
        LONG present = OAFALSE, mode = ED_MODE_STOP;
        HRESULT hr = transport->GetStatus(ED_MEDIA_PRESENT, &present);
        if (SUCCEEDED(hr)) hr = transport->get_Mode(&mode);
        transport->Release();
        if (FAILED(hr)) return hr;
        *hasTape = present == OATRUE ? 1 : 0;
        *status = DWORD(mode);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDeviceMode(DWORD* mode) override {
        if (!mode) return E_POINTER;
        std::lock_guard<std::mutex> hold(deviceLock_);
        if (!device_) return VFW_E_NOT_CONNECTED;
        LONG type = 0;
        IAMExtDevice* info = nullptr;
        if (SUCCEEDED(device_->QueryInterface(IID_IAMExtDevice, reinterpret_cast<void**>(&info)))) {
            info->GetCapability(ED_DEVCAP_DEVICE_TYPE, &type, nullptr);
            info->Release();
        }
        *mode = type == ED_DEVTYPE_VCR ? 2 : 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTimecode(DWORD* timecode) override {
        if (!timecode) return E_POINTER;
        dv::Timecode tc;
        const HRESULT hr = ReadTimecode(&tc);
        if (SUCCEEDED(hr)) *timecode = tc.Packed();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE GetTransportMode(DWORD* mode) override {
        if (!mode) return E_POINTER;
        IAMExtTransport* transport = Transport();
        if (!transport) return VFW_E_NOT_CONNECTED;
        LONG value = 0;
        const HRESULT hr = transport->get_Mode(&value);
        transport->Release();
        if (SUCCEEDED(hr)) *mode = DWORD(value);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE GetFrameRate(float* rate) override {
        if (!rate) return E_POINTER;
        *rate = system_.load() == dv::System::kPal ? 25.0f : 29.97f;
        return S_OK;
    }

    // ---- recording ----
    HRESULT STDMETHODCALLTYPE StartRecord() override;
    HRESULT STDMETHODCALLTYPE StopRecord() override { return EndRecording(true) ? S_OK : S_FALSE; }
    // Ends the recording at once; what was recorded is kept and reported like a stop.
    HRESULT STDMETHODCALLTYPE AbortRecord() override {
        EndRecording(true);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetTimeLimit(DWORD timecode) override {
        const dv::Timecode t = dv::Timecode::Unpack(timecode);
        if (t.hours >= 24 || t.minutes >= 60 || t.seconds >= 60) return E_INVALIDARG;
        std::lock_guard<std::mutex> hold(recordLock_);
        limitSeconds_ = (int64_t(t.hours) * 60 + t.minutes) * 60 + t.seconds;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSizeLimit(DWORD bytes) override {
        std::lock_guard<std::mutex> hold(recordLock_);
        limitBytes_ = bytes;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetPreviewWindow(HWND window, const RECT* rect) override {
        if (window && !IsWindow(window)) return E_INVALIDARG;
        std::lock_guard<std::mutex> hold(recordLock_);
        preview_ = window;
        if (rect) previewRect_ = *rect;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetEncoderType(const engines::CaptureParams* params) override {
        if (!params) return E_POINTER;
        std::lock_guard<std::mutex> hold(recordLock_);
        params_ = *params;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetCallback(SystemLayerCallback callback) override {
        callback_ = callback;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSeekOffset(const float* seconds) override {
        if (!seconds) return E_POINTER;
        if (!(*seconds >= 0 && *seconds <= 60)) return E_INVALIDARG;
        seekOffset_ = *seconds;
        return S_OK;
    }
    // The frames of the H.264 encoding running or last run, and its total (0 and 0 before
    // any: DV is written as it comes).
    HRESULT STDMETHODCALLTYPE GetEncodeProgress(DWORD* done, DWORD* total) override {
        if (!done || !total) return E_POINTER;
        *total = encodeTotal_.load();
        *done = std::min<DWORD>(encodeDone_.load(), *total);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetOptions(DWORD options) override {
        std::lock_guard<std::mutex> hold(recordLock_);
        options_ = options;
        return S_OK;
    }

    // Streaming thread: one DV frame from the device.
    void OnFrame(const uint8_t* data, size_t bytes);

private:
    explicit CSystemLayerDV(IUnknown* outer) : CUnknown(L"DV capture engine", outer) {
        memset(&params_, 0, sizeof params_);
    }

    // ---- notices ----
    // Queues a notice for the notice thread; `text`, when given, is passed as a pointer to
    // a copy that lives for the callback.
    void Notice(UINT_PTR code, UINT_PTR param, std::string text = {}, std::vector<uint8_t> bytes = {}) {
        {
            std::lock_guard<std::mutex> hold(noticeLock_);
            notices_.push_back({code, param, std::move(text), std::move(bytes)});
        }
        noticeWake_.notify_one();
    }
    void NoticeLoop() {
        std::unique_lock<std::mutex> hold(noticeLock_);
        for (;;) {
            noticeWake_.wait(hold, [this] { return noticeQuit_ || !notices_.empty(); });
            if (notices_.empty()) return;  // quitting with nothing left to say
            PendingNotice notice = std::move(notices_.front());
            notices_.pop_front();
            hold.unlock();
            const SystemLayerCallback callback = callback_.load();
            UINT_PTR param = notice.param;
            if (!notice.text.empty()) param = reinterpret_cast<UINT_PTR>(notice.text.c_str());
            if (!notice.bytes.empty()) param = reinterpret_cast<UINT_PTR>(notice.bytes.data());
            if (callback)
                callback(reinterpret_cast<UINT_PTR>(static_cast<ISystemLayerDV*>(this)), notice.code, param, 0);
            hold.lock();
        }
    }

    // ---- worker ----
    HRESULT StartWorker(std::function<void()> job) {
        JoinWorker();
        cancel_ = false;
        std::lock_guard<std::mutex> hold(workerLock_);
        try {
            worker_ = std::thread(std::move(job));
        } catch (...) {
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }
    void JoinWorker() {
        std::lock_guard<std::mutex> hold(workerLock_);
        if (worker_.joinable() && worker_.get_id() != std::this_thread::get_id()) worker_.join();
    }

    // ---- device ----
    static std::vector<std::string> DeviceNames() {
        std::vector<std::string> names;
        ForEachDevice([&](IMoniker*, const std::string& name) {
            names.push_back(name);
            return true;
        });
        return names;
    }
    // Calls visit(moniker, friendly name) for each video-input device until it answers false.
    template <typename Visit>
    static void ForEachDevice(Visit&& visit) {
        ICreateDevEnum* devices = nullptr;
        if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                    reinterpret_cast<void**>(&devices))))
            return;
        IEnumMoniker* monikers = nullptr;
        if (devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0) == S_OK) {
            IMoniker* moniker = nullptr;
            bool more = true;
            for (int guard = 0; more && guard < 256 && monikers->Next(1, &moniker, nullptr) == S_OK; ++guard) {
                IPropertyBag* bag = nullptr;
                if (SUCCEEDED(
                        moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&bag)))) {
                    VARIANT value;
                    VariantInit(&value);
                    if (SUCCEEDED(bag->Read(L"FriendlyName", &value, nullptr)) && value.vt == VT_BSTR)
                        more = visit(moniker, Narrow(value.bstrVal));
                    VariantClear(&value);
                    bag->Release();
                }
                moniker->Release();
            }
            monikers->Release();
        }
        devices->Release();
    }
    void CloseGraph();
    void WatchGraph(HANDLE quit, HANDLE graphEvents, IMediaEvent* events);
    IAMExtTransport* Transport() {
        std::lock_guard<std::mutex> hold(deviceLock_);
        if (transport_) transport_->AddRef();
        return transport_;
    }
    HRESULT ReadTimecode(dv::Timecode* tc) {
        IAMTimecodeReader* reader = nullptr;
        {
            std::lock_guard<std::mutex> hold(deviceLock_);
            if (!timecodes_) return VFW_E_NOT_CONNECTED;
            reader = timecodes_;
            reader->AddRef();
        }
        TIMECODE_SAMPLE sample{};
        const HRESULT hr = reader->GetTimecode(&sample);
        reader->Release();
        if (FAILED(hr)) return hr;
        const DWORD v = sample.timecode.dwFrames;  // BCD 0xHHMMSSFF
        const auto digits = [](DWORD b) { return uint8_t(((b >> 4) & 0xF) * 10 + (b & 0xF)); };
        *tc = {digits(v >> 24), digits(v >> 16), digits(v >> 8), digits(v)};
        return S_OK;
    }
    // Commands a mode and waits, bounded, until the deck reports `expect` (the mode itself
    // when 0). A failure is noticed to the application unless `notify` is false (the seek
    // handles its own).
    // `notify`: the caller's own command, whose failure is noticed as WM_DV_ERROR. While a
    // seek runs, the seek drives the deck and gives again a command that lost to the
    // caller's (the caller pauses when told that the seek began), so the caller's command is
    // given without waiting for the deck to settle in it, and the seek's end is the only
    // WM_DV_ERROR: a pause that lost to the seek's winding is not a failed seek.
    HRESULT SetMode(LONG mode, LONG expect = 0, bool notify = true) {
        IAMExtTransport* transport = Transport();
        if (!transport) return VFW_E_NOT_CONNECTED;
        HRESULT hr = transport->put_Mode(mode);
        if (SUCCEEDED(hr) && !(notify && seeking_)) {
            const LONG wanted = expect ? expect : mode;
            const DWORD until = GetTickCount() + kModeWaitMs;
            LONG now = 0;
            for (;;) {
                hr = transport->get_Mode(&now);
                if (FAILED(hr) || now == wanted) break;
                if (LONG(until - GetTickCount()) <= 0) {
                    hr = VFW_E_TIMEOUT;
                    break;
                }
                Sleep(10);
            }
        }
        transport->Release();
        if (FAILED(hr) && notify && !seeking_) Notice(engines::WM_DV_ERROR, UINT_PTR(hr));
        return hr;
    }
    HRESULT SeekTo(const dv::Timecode& target);
    void RunBatch(std::vector<BatchSegment> segments, bool encode);

    // ---- recording ----
    struct Recording {
        std::string path;
        std::string encodeTo;  // H.264 type: the output the DV recording is encoded into
        dv::AviWriter writer;
        dv::AviType type = dv::AviType::kType1;  // from the DV settings' file format
        int64_t frameLimit = 0;                  // 0: none
        uint64_t byteLimit = 0;                  // 0: none
        bool windowed = false;                   // batch: only frames within [in, out]
        int64_t inFrame = 0, outFrame = 0;
        bool passedOut = false;
        bool tookOut = false;     // the out point's own frame was recorded
        bool background = false;  // batch: its encoding runs while the next segments are captured
    };
    // Opens a recording (the file itself on the first frame, when the system is known).
    HRESULT BeginRecording(const std::string& path, bool windowed, const dv::Timecode& in, const dv::Timecode& out,
                           const std::string& encodeTo = {});
    // Finishes the open recording and reports it: WM_REC_FINISH with the path when frames
    // were written, WM_REC_FAILED otherwise. False when none was open.
    bool EndRecording(bool notify);
    bool EndRecordingLocked(bool notify);  // recordLock_ held
    void PreviewLocked(std::span<const uint8_t> frame);
    void QueueScanSample(const dv::Timecode& t, uint64_t stamp, int64_t time, bool start);

    // ---- encoding after capture (the H.264 and MPEG types) ----
    struct EncodeJob {
        std::string recording;  // the DV AVI file
        std::string output;
        // The conversion of the recording (MPEG kinds, and H.264 with its sound).
        std::shared_ptr<const fileengine::OutputPlan> plan;
        uint32_t frames = 0;
        double rate = 25;
        uint64_t byteLimit = 0;    // the size limit, on the encoded file too (0: none)
        bool nonRealtime = false;  // option bit 2: the application shows it as encoding after capture
        bool background = false;   // announced with WM_POST_ENCODING_START when its capture ended
        UINT_PTR noticeOnly = 0;   // not an encoding: this notice, in turn after the encodings before it
    };
    void QueueEncode(EncodeJob job) {
        {
            std::lock_guard<std::mutex> hold(encodeLock_);
            encodeJobs_.push_back(std::move(job));
        }
        encodeWake_.notify_one();
    }
    void EncodeLoop();
    void RunEncode(const EncodeJob& job);
    HRESULT EncodeRecording(const EncodeJob& job);

    struct PendingNotice {
        UINT_PTR code;
        UINT_PTR param;
        std::string text;
        std::vector<uint8_t> bytes;
    };

    std::atomic<SystemLayerCallback> callback_{nullptr};
    std::mutex noticeLock_;
    std::condition_variable noticeWake_;
    std::deque<PendingNotice> notices_;
    bool noticeQuit_ = false;
    std::thread noticeThread_;

    std::mutex encodeLock_;
    std::condition_variable encodeWake_;
    std::deque<EncodeJob> encodeJobs_;
    bool encodeQuit_ = false;
    std::thread encodeThread_;
    std::atomic<bool> encodeCancel_{false};
    std::atomic<uint32_t> encodeDone_{0};
    std::atomic<uint32_t> encodeTotal_{0};

    std::mutex workerLock_;
    std::thread worker_;
    std::atomic<bool> cancel_{false};
    std::atomic<bool> seeking_{false};  // a time-code seek runs on the worker
    std::atomic<float> seekOffset_{2.0f};

    std::mutex deviceLock_;
    IGraphBuilder* graph_ = nullptr;
    IMediaControl* control_ = nullptr;
    IBaseFilter* device_ = nullptr;
    CDvSink* sink_ = nullptr;
    IAMExtTransport* transport_ = nullptr;
    IAMTimecodeReader* timecodes_ = nullptr;
    HANDLE graphEvents_ = nullptr;
    IMediaEvent* events_ = nullptr;
    std::thread watcher_;
    HANDLE watcherQuit_ = nullptr;

    std::mutex recordLock_;
    engines::CaptureParams params_;
    int64_t limitSeconds_ = 0;
    uint64_t limitBytes_ = 0;
    DWORD options_ = 1;
    HWND preview_ = nullptr;
    RECT previewRect_{};
    std::atomic<dv::System> system_{dv::System::kPal};  // of the frames last received
    std::unique_ptr<Recording> recording_;
    std::vector<uint8_t> latest_;            // the last frame received
    std::atomic<int64_t> lastFrameTick_{0};  // GetTickCount64 of the last frame
    std::condition_variable recordingEnded_;
    std::vector<BatchSegment> segments_;
    // Quick scan.
    std::unique_ptr<dv::AviWriter> scanWriter_;
    std::vector<int16_t> scanSignature_;
    dv::Timecode scanLast_;
    uint64_t scanLastStamp_ = 0;  // 48-bit recording date and time, 0 when the frame has none
    int64_t scanLastTime_ = 0;
    uint32_t scanScenes_ = 0;
};

// ---- sink ----
CDvSink::CDvSink(CSystemLayerDV* engine) : CBaseFilter(L"DV capture sink", nullptr, &lock_, kSinkClsid) {
    pin_ = new (std::nothrow) CDvSinkPin(this, &lock_, engine);
}
CDvSink::~CDvSink() {
    delete pin_;
}
CBasePin* CDvSink::GetPin(int n) {
    return n == 0 ? pin_ : nullptr;
}
IPin* CDvSink::Input() {
    return pin_;
}

HRESULT STDMETHODCALLTYPE CDvSinkPin::Receive(IMediaSample* sample) {
    const HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK) return hr;
    const AM_SAMPLE2_PROPERTIES& props = SampleProps();
    if (props.pbBuffer && props.lActual > 0) engine_->OnFrame(props.pbBuffer, size_t(props.lActual));
    return S_OK;
}

// ---- device ----
HRESULT STDMETHODCALLTYPE CSystemLayerDV::OpenDevice(const char* name) {
    EndSeek();
    EndRecording(true);
    StopQuickScan();
    CloseGraph();
    if (!name) return S_OK;
    IBaseFilter* device = nullptr;
    ForEachDevice([&](IMoniker* moniker, const std::string& friendly) {
        if (friendly != name) return true;
        moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&device));
        return false;
    });
    if (!device) return VFW_E_NOT_FOUND;

    // Everything is made in locals first: a failure releases them and leaves nothing open.
    IGraphBuilder* graph = nullptr;
    IMediaControl* control = nullptr;
    IAMExtTransport* transport = nullptr;
    IAMTimecodeReader* timecodes = nullptr;
    IMediaEvent* events = nullptr;
    HANDLE graphEvents = nullptr;
    auto* sink = new (std::nothrow) CDvSink(this);
    HRESULT hr = sink && sink->Ok() ? S_OK : E_OUTOFMEMORY;
    if (sink) sink->AddRef();
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                              reinterpret_cast<void**>(&graph));
    if (SUCCEEDED(hr)) hr = graph->AddFilter(device, L"DV device");
    if (SUCCEEDED(hr)) hr = graph->AddFilter(sink, L"DV capture sink");
    if (SUCCEEDED(hr)) {
        // The device's first output pin feeds the sink directly.
        hr = VFW_E_CANNOT_CONNECT;
        IEnumPins* pins = nullptr;
        if (SUCCEEDED(device->EnumPins(&pins))) {
            IPin* pin = nullptr;
            for (int guard = 0; guard < 16 && FAILED(hr) && pins->Next(1, &pin, nullptr) == S_OK; ++guard) {
                PIN_DIRECTION direction;
                if (SUCCEEDED(pin->QueryDirection(&direction)) && direction == PINDIR_OUTPUT)
                    hr = graph->ConnectDirect(pin, sink->Input(), nullptr);
                pin->Release();
            }
            pins->Release();
        }
    }
    if (SUCCEEDED(hr)) {
        // The frame size of the connection tells the system before the first frame arrives
        // (IEC 61834: 10 DIF sequences a frame at 525/60, 12 at 625/50), so that the frame
        // rate is right from the opening; the frames themselves decide from then on.
        AM_MEDIA_TYPE connected{};
        if (SUCCEEDED(sink->Input()->ConnectionMediaType(&connected))) {
            if (connected.lSampleSize == dv::kNtscFrameBytes) system_ = dv::System::kNtsc;
            if (connected.lSampleSize == dv::kPalFrameBytes) system_ = dv::System::kPal;
            FreeMediaType(connected);
        }
    }
    if (SUCCEEDED(hr)) hr = graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control));
    if (SUCCEEDED(hr)) hr = device->QueryInterface(IID_IAMExtTransport, reinterpret_cast<void**>(&transport));
    if (SUCCEEDED(hr)) hr = device->QueryInterface(IID_IAMTimecodeReader, reinterpret_cast<void**>(&timecodes));
    if (SUCCEEDED(hr)) hr = graph->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(&events));
    if (SUCCEEDED(hr)) hr = events->GetEventHandle(reinterpret_cast<OAEVENT*>(&graphEvents));
    if (SUCCEEDED(hr)) {
        // A capture graph runs at its device's pace: no clock holds the sink back.
        IMediaFilter* timing = nullptr;
        if (SUCCEEDED(graph->QueryInterface(IID_IMediaFilter, reinterpret_cast<void**>(&timing)))) {
            timing->SetSyncSource(nullptr);
            timing->Release();
        }
        hr = control->Run();
    }
    HANDLE quit = SUCCEEDED(hr) ? CreateEventW(nullptr, TRUE, FALSE, nullptr) : nullptr;
    if (SUCCEEDED(hr) && !quit) hr = E_OUTOFMEMORY;
    if (FAILED(hr)) {
        if (control) control->Stop();
        if (quit) CloseHandle(quit);
        SafeRelease(events);
        SafeRelease(timecodes);
        SafeRelease(transport);
        SafeRelease(control);
        if (graph) {
            graph->RemoveFilter(device);
            graph->RemoveFilter(sink);
        }
        SafeRelease(graph);
        SafeRelease(sink);
        SafeRelease(device);
        return hr;
    }
    {
        std::lock_guard<std::mutex> hold(deviceLock_);
        graph_ = graph;
        control_ = control;
        device_ = device;
        sink_ = sink;
        transport_ = transport;
        timecodes_ = timecodes;
        events_ = events;
        graphEvents_ = graphEvents;
        watcherQuit_ = quit;
        try {
            watcher_ = std::thread([this, quit, graphEvents, events] { WatchGraph(quit, graphEvents, events); });
        } catch (...) {
            hr = E_OUTOFMEMORY;
        }
    }
    if (FAILED(hr)) {
        CloseGraph();
        return hr;
    }
    Notice(engines::WM_DEVICE_CHANGED, 0);
    return S_OK;
}

// The graph's events: the device's removal ends a recording (keeping what was recorded)
// and any worker, and is noticed.
void CSystemLayerDV::WatchGraph(HANDLE quit, HANDLE graphEvents, IMediaEvent* events) {
    const HANDLE handles[2] = {quit, graphEvents};
    while (WaitForMultipleObjects(2, handles, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
        long code = 0;
        LONG_PTR a = 0, b = 0;
        while (events->GetEvent(&code, &a, &b, 0) == S_OK) {
            events->FreeEventParams(code, a, b);
            if (code == EC_DEVICE_LOST && b == 0) {
                cancel_ = true;
                EndRecording(true);
                // A scan ends as if stopped: its open scene is closed at the last frame
                // scanned, before the removal is noticed.
                StopQuickScan();
                Notice(engines::WM_DEVICE_REMOVED, 0);
            }
        }
    }
}

void CSystemLayerDV::CloseGraph() {
    std::thread watcher;
    {
        std::lock_guard<std::mutex> hold(deviceLock_);
        if (watcherQuit_) SetEvent(watcherQuit_);
        watcher = std::move(watcher_);
    }
    if (watcher.joinable()) watcher.join();
    std::lock_guard<std::mutex> hold(deviceLock_);
    if (watcherQuit_) CloseHandle(watcherQuit_);
    watcherQuit_ = nullptr;
    if (control_) control_->Stop();
    if (transport_) transport_->put_Mode(ED_MODE_STOP);
    SafeRelease(transport_);
    SafeRelease(timecodes_);
    SafeRelease(events_);
    graphEvents_ = nullptr;
    SafeRelease(control_);
    if (graph_ && device_) graph_->RemoveFilter(device_);
    if (graph_ && sink_) graph_->RemoveFilter(sink_);
    SafeRelease(graph_);
    SafeRelease(device_);
    SafeRelease(sink_);
}

// ---- seeking ----
// Winds towards the target, watching the time code, runs the last stretch at play speed so
// that a late reading cannot carry it past, then steps to the exact frame.
HRESULT CSystemLayerDV::SeekTo(const dv::Timecode& target) {
    const DWORD until = GetTickCount() + kSeekLimitMs;
    const int fps = dv::FramesPerSecond(system_.load());
    const int64_t want = target.ToFrames(fps);
    const int64_t nearFrames = 4 * int64_t(fps);  // the stretch run at play speed
    dv::Timecode now;
    HRESULT hr = ReadTimecode(&now);
    if (FAILED(hr)) return hr;
    // A command may lose once to the caller's own; a deck that carries out none of several in
    // a row takes commands but no longer moves, and the seek ends rather than waiting out its
    // bound.
    int unanswered = 0;
    const auto gaveUp = [&unanswered](HRESULT result) {
        unanswered = result == VFW_E_TIMEOUT ? unanswered + 1 : 0;
        return unanswered >= kUnansweredCommands;
    };
    for (;;) {
        // Speeds: +-2 winding, +-1 play speed either way, 0 still.
        int moving = 0;
        dv::Timecode stoppedAt{0xFF, 0xFF, 0xFF, 0xFF};
        for (;;) {
            if (cancel_) return E_ABORT;
            if (LONG(until - GetTickCount()) <= 0) return VFW_E_TIMEOUT;
            hr = ReadTimecode(&now);
            if (FAILED(hr)) return hr;
            const int64_t gap = want - now.ToFrames(fps);
            if (gap > -30 && gap < 30) break;  // close: step the rest
            const int direction = gap > 0 ? 1 : -1;
            const int speed = (gap > -nearFrames && gap < nearFrames) ? direction : 2 * direction;
            if (speed != moving) {
                // The application pauses or stops the deck when told that the seek began; a
                // command that lost to it (the deck reports the other mode) is given again in
                // the next round, within the seek's bound. A shuttle rate is given without a
                // wait, so it does not count as answered.
                if (speed == 2 || speed == -2) {
                    hr = SetMode(speed > 0 ? ED_MODE_FF : ED_MODE_REW, 0, false);
                    if (gaveUp(hr)) return VFW_E_TIMEOUT;
                } else {
                    hr = Shuttle(speed > 0 ? 18 : 14);  // rate +-1
                }
                if (hr == VFW_E_TIMEOUT) continue;
                if (FAILED(hr)) return hr;
                moving = speed;
            }
            // A deck paused or stopped from outside (the caller may pause it when the seek
            // begins) is set going again; one that stays stopped at the same place has come
            // to the tape's end and cannot come closer.
            DWORD transport = 0;
            if (SUCCEEDED(GetTransportMode(&transport)) && (transport == ED_MODE_STOP || transport == ED_MODE_FREEZE)) {
                if (transport == ED_MODE_STOP && moving != 0 && (moving > 0) == (direction > 0)) {
                    if (now == stoppedAt) return VFW_E_NOT_FOUND;
                    stoppedAt = now;
                }
                moving = 0;
            }
            Sleep(10);
        }
        hr = SetMode(ED_MODE_FREEZE, 0, false);
        if (gaveUp(hr)) return VFW_E_TIMEOUT;
        if (hr == VFW_E_TIMEOUT) continue;  // stopped from outside meanwhile: run to it again
        if (FAILED(hr)) return hr;
        for (int steps = 0; steps < 64; ++steps) {
            if (cancel_) return E_ABORT;
            hr = ReadTimecode(&now);
            if (FAILED(hr)) return hr;
            const int64_t gap = want - now.ToFrames(fps);
            if (gap == 0) return S_OK;
            // Stopping took the tape too far to step: run to it again.
            if (gap <= -30 || gap >= 30) break;
            hr = SetMode(gap > 0 ? ED_MODE_STEP_FWD : ED_MODE_STEP_REV, ED_MODE_FREEZE, false);
            if (gaveUp(hr)) return VFW_E_TIMEOUT;
            if (hr == VFW_E_TIMEOUT) break;
            if (FAILED(hr)) return hr;
            // A step at either end of the tape does not move it.
            dv::Timecode after;
            if (SUCCEEDED(ReadTimecode(&after)) && after == now) return VFW_E_NOT_FOUND;
        }
        if (LONG(until - GetTickCount()) <= 0) return VFW_E_TIMEOUT;
    }
}

// ---- recording ----
HRESULT STDMETHODCALLTYPE CSystemLayerDV::StartRecord() {
    std::string path;
    uint32_t type = 0;
    {
        std::lock_guard<std::mutex> hold(recordLock_);
        type = params_.encoderType;
        path = Field(params_.outputPath, sizeof params_.outputPath);
        if (path.empty()) path = Field(params_.captureFileName, sizeof params_.captureFileName);
    }
    // DV is recorded as it comes; H.264 and the MPEG kinds are encoded from the DV
    // recording afterwards.
    if (type != engines::kEncoderDv && type != engines::kEncoderH264) {
        fileengine::OutputPlan plan;
        std::string refusal;
        std::lock_guard<std::mutex> hold(recordLock_);
        if (!fileengine::MakeMpegCapturePlan(params_, &plan, &refusal)) return E_NOTIMPL;
    }
    if (path.empty()) return E_INVALIDARG;
    {
        std::lock_guard<std::mutex> hold(deviceLock_);
        if (!graph_) return VFW_E_NOT_CONNECTED;
    }
    if (type == engines::kEncoderDv) return BeginRecording(path, false, {}, {});
    // Without the encoder or the multiplexer nothing is recorded.
    if (type == engines::kEncoderH264) {
        const HRESULT hr = engines::CheckH264EncodingAvailable();
        if (FAILED(hr)) return hr;
    }
    return BeginRecording(path + ".capture.avi", false, {}, {}, path);
}

HRESULT CSystemLayerDV::BeginRecording(const std::string& path, bool windowed, const dv::Timecode& in,
                                       const dv::Timecode& out, const std::string& encodeTo) {
    auto recording = std::make_unique<Recording>();
    recording->path = path;
    recording->encodeTo = encodeTo;
    recording->windowed = windowed;
    std::lock_guard<std::mutex> hold(recordLock_);
    if (recording_) return VFW_E_WRONG_STATE;
    const int fps = dv::FramesPerSecond(system_.load());
    recording->inFrame = in.ToFrames(fps);
    recording->outFrame = out.ToFrames(fps);
    recording->frameLimit = limitSeconds_ * fps;
    recording->byteLimit = limitBytes_;
    recording->writer.SetSizeLimit(limitBytes_);
    // The encoder's input is type 2: its video is a stream of its own for the system's splitter.
    recording->type = params_.dv.fileFormat == 2 || !encodeTo.empty() ? dv::AviType::kType2 : dv::AviType::kType1;
    // The file is made now, so that a path that cannot be written fails here.
    if (!recording->writer.Open(path, system_, recording->type)) return HRESULT_FROM_WIN32(ERROR_CANNOT_MAKE);
    recording_ = std::move(recording);
    Notice(engines::WM_REC_START, 0);
    return S_OK;
}

bool CSystemLayerDV::EndRecording(bool notify) {
    std::lock_guard<std::mutex> hold(recordLock_);
    return EndRecordingLocked(notify);
}

bool CSystemLayerDV::EndRecordingLocked(bool notify) {
    if (!recording_) return false;
    std::unique_ptr<Recording> done = std::move(recording_);
    const uint32_t frames = done->writer.Frames();
    const bool written = done->writer.Finish();
    if (notify) {
        if (written && frames > 0 && !done->encodeTo.empty()) {
            EncodeJob job;
            job.recording = done->path;
            job.output = done->encodeTo;
            job.frames = frames;
            job.rate = system_.load() == dv::System::kPal ? 25.0 : 30000.0 / 1001;
            job.byteLimit = done->byteLimit;
            job.nonRealtime = (options_ & 4) != 0;
            job.background = done->background;
            auto plan = std::make_shared<fileengine::OutputPlan>();
            std::string refusal;
            if (params_.encoderType == engines::kEncoderH264
                    ? fileengine::MakeH264CapturePlan(params_, plan.get(), &refusal)
                    : fileengine::MakeMpegCapturePlan(params_, plan.get(), &refusal))
                job.plan = std::move(plan);
            QueueEncode(std::move(job));
        } else if (written && frames > 0)
            Notice(engines::WM_REC_FINISH, 0, done->path);
        else
            Notice(engines::WM_REC_FAILED, 0, done->path);
    }
    recordingEnded_.notify_all();
    return true;
}

void CSystemLayerDV::EncodeLoop() {
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    std::unique_lock<std::mutex> hold(encodeLock_);
    for (;;) {
        encodeWake_.wait(hold, [this] { return encodeQuit_ || !encodeJobs_.empty(); });
        if (encodeJobs_.empty()) break;
        const EncodeJob job = std::move(encodeJobs_.front());
        encodeJobs_.pop_front();
        hold.unlock();
        RunEncode(job);
        hold.lock();
    }
    if (SUCCEEDED(com)) CoUninitialize();
}

// The DV recording converted with its sound: the MPEG kinds by FFmpeg's MPEG encoders and
// multiplexers, H.264 by our encoder and multiplexer cores. An encoded file past the size
// limit is not kept.
HRESULT CSystemLayerDV::EncodeRecording(const EncodeJob& job) {
    fileengine::ConvertControl control;
    control.cancel = &encodeCancel_;
    control.onProgress = [this, &job](float f) { encodeDone_ = static_cast<uint32_t>(f * float(job.frames)); };
    std::string error;
    const fileengine::ConvertResult r =
        fileengine::Convert({{job.recording, 0, -1}}, *job.plan, job.output, control, &error);
    if (r == fileengine::ConvertResult::kAborted) return E_ABORT;
    if (r != fileengine::ConvertResult::kDone) return E_FAIL;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (job.byteLimit && GetFileAttributesExA(job.output.c_str(), GetFileExInfoStandard, &data) &&
        (uint64_t(data.nFileSizeHigh) << 32 | data.nFileSizeLow) > job.byteLimit) {
        DeleteFileA(job.output.c_str());
        return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
    }
    return S_OK;
}

// Encodes one recording. The clip reported is the encoded file, or, when the encoding
// fails or is given up, the DV recording itself (after WM_DV_ERROR with the reason).
void CSystemLayerDV::RunEncode(const EncodeJob& job) {
    if (job.noticeOnly) {
        Notice(job.noticeOnly, 0);
        return;
    }
    encodeDone_ = 0;
    encodeTotal_ = job.frames;
    if (job.nonRealtime && !job.background) Notice(engines::WM_NON_REALTIME_ENCODE, 0, job.output);
    HRESULT hr = E_ABORT;
    if (!encodeCancel_ && job.plan) {
        hr = EncodeRecording(job);
    } else if (!encodeCancel_) {
        hr = engines::EncodeDvToH264(Widen(job.recording), Widen(job.output), job.rate, encodeCancel_, &encodeDone_,
                                     kEncodeStallMs, job.byteLimit);
    }
    const UINT_PTR finished = job.nonRealtime ? engines::WM_NON_REALTIME_REC_FINISH : engines::WM_REC_FINISH;
    if (SUCCEEDED(hr)) {
        encodeDone_ = job.frames;
        DeleteFileA(job.recording.c_str());  // only the encoder's input; a leftover loses nothing
        Notice(finished, 0, job.output);
    } else {
        Notice(engines::WM_DV_ERROR, UINT_PTR(hr));
        Notice(finished, 0, job.recording);
    }
}

void CSystemLayerDV::OnFrame(const uint8_t* data, size_t bytes) {
    const std::span<const uint8_t> frame(data, bytes);
    const auto system = dv::FrameSystem(frame);
    if (!system || bytes != dv::FrameBytes(*system)) return;
    lastFrameTick_ = int64_t(GetTickCount64());
    std::lock_guard<std::mutex> hold(recordLock_);
    latest_.assign(data, data + bytes);
    const int fps = dv::FramesPerSecond(*system);
    if (*system != system_.load()) {
        system_ = *system;
        // A recording opened before the first frame takes the frame's system.
        if (recording_ && recording_->writer.Frames() == 0) {
            recording_->writer.Finish();
            recording_->writer.Open(recording_->path, *system, recording_->type);
        }
    }
    if (recording_) {
        Recording& r = *recording_;
        bool take = true;
        if (r.windowed) {
            const auto tc = dv::FrameTimecode(frame);
            const int64_t at = tc ? tc->ToFrames(fps) : -1;
            take = at >= r.inFrame && at <= r.outFrame;
            if (at > r.outFrame) r.passedOut = true;
        }
        if (take && r.frameLimit && int64_t(r.writer.Frames()) >= r.frameLimit) take = false, r.passedOut = true;
        if (take && !r.writer.AddFrame(frame))
            r.passedOut = true;  // the file is full or failed
        else if (take && r.windowed && dv::FrameTimecode(frame) &&
                 dv::FrameTimecode(frame)->ToFrames(fps) == r.outFrame)
            r.tookOut = true;
        if (r.passedOut) {
            if (r.windowed)
                recordingEnded_.notify_all();  // the batch worker ends it
            else
                EndRecordingLocked(true);  // a limit ends a plain recording here
        }
    }
    if (scanWriter_) {
        // Quick scan: every frame goes to the scan file; a cut closes the scene before it
        // and opens the next.
        const auto tc = dv::FrameTimecode(frame).value_or(dv::Timecode{});
        const uint64_t stamp = dv::FrameRecordingStamp(frame).value_or(0);
        const int64_t time = int64_t(scanWriter_->Frames()) * (system_.load() == dv::System::kPal ? 400000 : 333667);
        std::vector<int16_t> signature = dv::PictureSignature(frame);
        const bool cut = scanSignature_.empty() || dv::SignatureDistance(scanSignature_, signature) > kSceneCut;
        if (cut) {
            if (!scanSignature_.empty()) QueueScanSample(scanLast_, scanLastStamp_, scanLastTime_, false);
            ++scanScenes_;
            QueueScanSample(tc, stamp, time, true);
        }
        scanWriter_->AddFrame(frame);
        scanSignature_ = std::move(signature);
        scanLast_ = tc;
        scanLastStamp_ = stamp;
        scanLastTime_ = time;
    }
    if (preview_ && (options_ & 1)) PreviewLocked(frame);
}

// A quick-scan sample of the frame with time code `t` at `time` in the scan file: `start`
// opens a scene, else it closes one. Its scan value is the scene's number (recordLock_ held).
void CSystemLayerDV::QueueScanSample(const dv::Timecode& t, uint64_t stamp, int64_t time, bool start) {
    ScanSample s{};
    s.timecode[0] = t.hours;
    s.timecode[1] = t.minutes;
    s.timecode[2] = t.seconds;
    s.timecode[3] = t.frames;
    for (int i = 0; i < 3; ++i) {
        s.stampHigh[i] = uint8_t(stamp >> (40 - 8 * i));  // bytes 5, 4, 3
        s.stampLow[i] = uint8_t(stamp >> (16 - 8 * i));   // bytes 2, 1, 0
    }
    s.mediaTime = time;
    s.queue = 1;
    s.start = start ? 1 : 0;
    s.scanValue = scanScenes_;
    std::vector<uint8_t> raw(sizeof s);
    memcpy(raw.data(), &s, sizeof s);
    Notice(engines::WM_QUICK_SCAN_SAMPLE, 0, {}, std::move(raw));
}

// Draws the frame's DC picture, stretched, into the preview window.
void CSystemLayerDV::PreviewLocked(std::span<const uint8_t> frame) {
    uint32_t width = 0, height = 0;
    const std::vector<uint32_t> picture = dv::DcPicture(frame, &width, &height);
    if (picture.empty() || !IsWindow(preview_)) return;
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), LONG(width), -LONG(height), 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    HDC dc = GetDC(preview_);
    if (!dc) return;
    SetStretchBltMode(dc, HALFTONE);
    StretchDIBits(dc, previewRect_.left, previewRect_.top, previewRect_.right - previewRect_.left,
                  previewRect_.bottom - previewRect_.top, 0, 0, LONG(width), LONG(height), picture.data(), &info,
                  DIB_RGB_COLORS, SRCCOPY);
    ReleaseDC(preview_, dc);
}

// ---- quick scan ----
HRESULT STDMETHODCALLTYPE CSystemLayerDV::StartQuickScan(const char* path) {
    if (!path || !*path) return E_POINTER;
    {
        std::lock_guard<std::mutex> hold(deviceLock_);
        if (!graph_) return VFW_E_NOT_CONNECTED;
    }
    {
        std::lock_guard<std::mutex> hold(recordLock_);
        if (scanWriter_) return VFW_E_WRONG_STATE;
        auto writer = std::make_unique<dv::AviWriter>();
        if (!writer->Open(path, system_)) return HRESULT_FROM_WIN32(ERROR_CANNOT_MAKE);
        scanWriter_ = std::move(writer);
        scanSignature_.clear();
        scanScenes_ = 0;
    }
    return SetMode(ED_MODE_PLAY);
}

HRESULT STDMETHODCALLTYPE CSystemLayerDV::StopQuickScan() {
    std::lock_guard<std::mutex> hold(recordLock_);
    if (!scanWriter_) return S_FALSE;
    // The open scene ends at the last frame scanned.
    if (!scanSignature_.empty()) QueueScanSample(scanLast_, scanLastStamp_, scanLastTime_, false);
    const bool written = scanWriter_->Finish();
    scanWriter_.reset();
    return written ? S_OK : E_FAIL;
}

// The frame last received, at an eighth of its size, on the clipboard as CF_DIB.
HRESULT STDMETHODCALLTYPE CSystemLayerDV::QuickScanMark() {
    std::vector<uint32_t> picture;
    uint32_t width = 0, height = 0;
    {
        std::lock_guard<std::mutex> hold(recordLock_);
        if (latest_.empty()) return VFW_E_WRONG_STATE;
        picture = dv::DcPicture(latest_, &width, &height);
    }
    if (picture.empty()) return VFW_E_INVALID_MEDIA_TYPE;  // not a whole DV frame
    const size_t bits = picture.size() * 4;
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, sizeof(BITMAPINFOHEADER) + bits);
    if (!memory) return E_OUTOFMEMORY;
    auto* header = static_cast<BITMAPINFOHEADER*>(GlobalLock(memory));
    *header = {sizeof(BITMAPINFOHEADER), LONG(width), -LONG(height), 1, 32, BI_RGB, DWORD(bits), 0, 0, 0, 0};
    memcpy(header + 1, picture.data(), bits);
    GlobalUnlock(memory);
    HRESULT hr = S_OK;
    if (!OpenClipboard(nullptr)) {
        GlobalFree(memory);
        return HRESULT_FROM_WIN32(GetLastError());
    }
    EmptyClipboard();
    if (!SetClipboardData(CF_DIB, memory)) {
        hr = HRESULT_FROM_WIN32(GetLastError());
        GlobalFree(memory);
    }
    CloseClipboard();
    return hr;
}

// ---- batch ----
HRESULT STDMETHODCALLTYPE CSystemLayerDV::AddBatchSegment(const BYTE* record) {
    if (!record) return E_POINTER;
    BatchSegment segment;
    segment.in = {record[8], record[9], record[10], record[11]};
    segment.out = {record[40], record[41], record[42], record[43]};
    // An unknown frame (255) means the second's first frame at the start, its last at the end.
    if (segment.in.frames == 255) segment.in.frames = 0, segment.inFrameKnown = false;
    if (segment.out.frames == 255) segment.out.frames = 29, segment.outFrameKnown = false;
    if (!segment.in.Valid(30) || !segment.out.Valid(30)) return E_INVALIDARG;
    // The capture file name sits in the copied batch area, 4 bytes into it.
    const size_t nameAt = engines::kSegmentHeaderBytes + 4;
    segment.captureFile = Field(reinterpret_cast<const char*>(record + nameAt), engines::kCaptureTextBytes);
    if (segment.captureFile.empty()) return E_INVALIDARG;
    std::lock_guard<std::mutex> hold(recordLock_);
    if (segments_.size() >= 1000) return E_OUTOFMEMORY;
    segments_.push_back(std::move(segment));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CSystemLayerDV::StartBatchCapture() {
    bool encode = false;
    {
        std::lock_guard<std::mutex> hold(recordLock_);
        if (segments_.empty()) return E_INVALIDARG;
        encode = params_.encoderType == engines::kEncoderH264;
    }
    IAMExtTransport* transport = Transport();
    if (!transport) return VFW_E_NOT_CONNECTED;
    transport->Release();
    // Without the encoder or the multiplexer nothing is recorded (the segments stay).
    if (encode) {
        const HRESULT hr = engines::CheckH264EncodingAvailable();
        if (FAILED(hr)) return hr;
    }
    std::vector<BatchSegment> segments;
    {
        std::lock_guard<std::mutex> hold(recordLock_);
        segments.swap(segments_);
    }
    if (segments.empty()) return E_INVALIDARG;
    return StartWorker(
        [this, segments = std::move(segments), encode]() mutable { RunBatch(std::move(segments), encode); });
}

// Each segment: seek to its in point less the seek offset, play, record the frames whose
// time codes lie within [in, out], stop. The end of the batch is noticed as finished when
// every segment was captured, else as ended. With `encode` (the H.264 type) each segment is
// recorded as DV and encoded afterwards into a file of its own, like a single recording;
// the end of the batch is then noticed after the last segment's encoding.
void CSystemLayerDV::RunBatch(std::vector<BatchSegment> segments, bool encode) {
    bool complete = true;
    bool backgrounded = false;  // the segment before went to a background encoding
    for (size_t i = 0; i < segments.size() && complete; ++i) {
        const BatchSegment& s = segments[i];
        const int fps = dv::FramesPerSecond(system_.load());
        dv::Timecode out = s.out;
        if (!s.outFrameKnown) out.frames = uint8_t(fps - 1);
        const int64_t preroll = int64_t(seekOffset_.load() * fps);
        const dv::Timecode cue = dv::Timecode::FromFrames(s.in.ToFrames(fps) - preroll, fps);
        HRESULT hr = SeekTo(cue);
        // A segment that opens the tape has no pre-roll before it: the deck stops at the tape's
        // start short of the cue, and the segment is cued at its own first frame instead.
        if (hr == VFW_E_NOT_FOUND && preroll > 0) hr = SeekTo(s.in);
        if (FAILED(hr)) {
            if (hr != E_ABORT) Notice(engines::WM_DV_ERROR, UINT_PTR(hr));
            complete = false;
            break;
        }
        if (encode) {
            // With encoding after capture, the capture clock runs again (the time since the last
            // segment's encoding went to the background is not capture time).
            if (backgrounded) Notice(engines::WM_REC_CLOCK_RESET, 0);
            const std::string clip = Numbered(s.captureFile, i, ".mpg");
            hr = BeginRecording(clip + ".capture.avi", true, s.in, out, clip);
        } else {
            hr = BeginRecording(Numbered(s.captureFile, i), true, s.in, out);
        }
        // The tape's end is judged by frames missing since the play command, not since the
        // last frame before the seek (a deck winds without sending frames).
        lastFrameTick_ = int64_t(GetTickCount64());
        if (SUCCEEDED(hr)) hr = SetMode(ED_MODE_PLAY);
        if (FAILED(hr)) {
            EndRecording(true);
            complete = false;
            break;
        }
        // Wait for the frame after the out point, the tape's end, a stop or a bound.
        const int64_t frames = out.ToFrames(fps) - cue.ToFrames(fps) + 1;
        const auto bound = std::chrono::milliseconds(frames * 1000 / fps + 10000);
        const auto deadline = std::chrono::steady_clock::now() + bound;
        {
            std::unique_lock<std::mutex> hold(recordLock_);
            while (recording_ && !recording_->passedOut && !cancel_) {
                if (recordingEnded_.wait_for(hold, std::chrono::milliseconds(50)) == std::cv_status::timeout) {
                    const int64_t idle = int64_t(GetTickCount64()) - lastFrameTick_.load();
                    if (std::chrono::steady_clock::now() > deadline || idle > kTapeEndIdleMs) break;
                }
            }
            // A segment that ends on the tape's last frame is complete once that frame is in,
            // though no frame after it comes.
            if (cancel_ || !recording_ || !(recording_->passedOut || recording_->tookOut)) complete = false;
            // A segment with more to capture after it: its encoding runs in the background.
            backgrounded = encode && complete && i + 1 < segments.size() && (options_ & 4) && recording_ &&
                           recording_->writer.Frames() > 0;
            if (backgrounded) recording_->background = true;
            EndRecordingLocked(true);
            if (backgrounded) Notice(engines::WM_POST_ENCODING_START, 0);
        }
        SetMode(ED_MODE_STOP);
        if (cancel_) complete = false;
    }
    const UINT_PTR end = complete ? engines::kBatchFinished : engines::kBatchEnded;
    if (encode) {
        EncodeJob last;
        last.noticeOnly = end;
        QueueEncode(std::move(last));
    } else {
        Notice(end, 0);
    }
}

const FactoryTemplate kTemplates[] = {
    {L"DV capture engine", &CLSID_SystemLayerDV, &CSystemLayerDV::CreateInstance, nullptr},
};

}  // namespace

FILTERBASE_DEFINE_SERVER_EXPORTS(kTemplates)
