// A simulated DV camcorder: a capture source listed in the video-input device category
// that behaves as a DV deck. Its tape is a raw DV file named in the registry (value "Tape"
// under kSettingsKey); play, pause, stop, wind, rewind, shuttle and frame steps move
// through it in real time, one deck tick a frame period. While the deck plays and the
// filter runs, each tick delivers the frame under the head on the "DV A/V Out" pin as an
// interleaved DV sample. Modes, media status and time codes (read from each frame's
// subcode) are reported through the external-device, external-transport and time-code
// reader interfaces a real deck driver offers. Setting the DWORD "Connected" to 0
// simulates unplugging: the deck stops, reports EC_DEVICE_LOST to its graph once and
// refuses transport commands. Setting the DWORD "Stuck" to 1 simulates a faulty deck: it
// takes transport commands but its mechanism never moves, so it keeps reporting the mode
// it was in. Setting the DWORD "Camera" to 1 (read when the filter is made) switches the
// camcorder to camera mode: it reports itself as a camera and streams its live picture
// (the tape's frames in a loop) whatever the transport mode; play, stop and pause are taken,
// winding, shuttle and frame steps refused.
#include <windows.h>
#include <dshow.h>
#include <edevdefs.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <cstring>
#include <thread>
#include <vector>

#include "engines/dv/dv_frame.h"
#include "engines/dv_camcorder/camcorder_ids.h"
#include "filters/base/filter.h"
#include "filters/base/pins.h"
#include "filters/base/server.h"

namespace {

constexpr HRESULT kUnplugged = HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
// The device type a camcorder in camera mode reports (ED_BASE + 900); mingw-w64's
// edevdefs.h does not define it.
constexpr LONG kDevTypeCamera = 0x1000 + 900;
// Frames a wind tick moves: fast forward and rewind run at 20 times normal speed, the
// picture-search modes (fast forward play, rewind play) at 5.
constexpr double kWindFrames = 20;
constexpr double kCueFrames = 5;

// Reads the deck's settings.
std::wstring TapePath() {
    wchar_t path[MAX_PATH] = {};
    DWORD bytes = sizeof path - sizeof(wchar_t);
    if (RegGetValueW(HKEY_CURRENT_USER, engines::kCamcorderSettingsKey, L"Tape", RRF_RT_REG_SZ, nullptr, path,
                     &bytes) != ERROR_SUCCESS)
        return {};
    return path;
}
// A DWORD of the deck's settings; `fallback` when it is not set.
DWORD Setting(const wchar_t* name, DWORD fallback) {
    DWORD value = 0, bytes = sizeof value;
    if (RegGetValueW(HKEY_CURRENT_USER, engines::kCamcorderSettingsKey, name, RRF_RT_REG_DWORD, nullptr, &value,
                     &bytes) != ERROR_SUCCESS)
        return fallback;
    return value;
}
// A DWORD switch of the deck's settings; `fallback` when it is not set.
bool Switch(const wchar_t* name, bool fallback) {
    return Setting(name, fallback ? 1 : 0) != 0;
}
bool Stuck() {
    return Switch(L"Stuck", false);
}
bool CameraMode() {
    return Switch(L"Camera", false);
}
bool Connected() {
    return Switch(L"Connected", true);
}
// How many times as fast as real time the deck's clock runs (1 to kMaxSpeed).
constexpr DWORD kMaxSpeed = 16;
DWORD Speed() {
    const DWORD value = Setting(L"Speed", 1);
    return value < 1 ? 1 : value > kMaxSpeed ? kMaxSpeed : value;
}

// The tape: a raw DV file read a frame at a time.
class Tape {
public:
    bool Load(const std::wstring& path) {
        file_ = _wfopen(path.c_str(), L"rb");
        if (!file_) return false;
        std::vector<uint8_t> first(dv::kPalFrameBytes);
        const size_t got = std::fread(first.data(), 1, first.size(), file_);
        first.resize(got);
        const auto system = dv::FrameSystem(first);
        if (!system || _fseeki64(file_, 0, SEEK_END) != 0) return Unload();
        const int64_t size = _ftelli64(file_);
        system_ = *system;
        frames_ = size / int64_t(dv::FrameBytes(system_));
        return frames_ > 0 ? true : Unload();
    }
    bool Unload() {
        if (file_) std::fclose(file_);
        file_ = nullptr;
        frames_ = 0;
        return false;
    }
    ~Tape() { Unload(); }
    bool Present() const { return frames_ > 0; }
    int64_t Frames() const { return frames_; }
    dv::System System() const { return system_; }
    size_t FrameBytes() const { return dv::FrameBytes(system_); }
    bool Read(int64_t index, uint8_t* out) {
        if (index < 0 || index >= frames_) return false;
        return _fseeki64(file_, index * int64_t(FrameBytes()), SEEK_SET) == 0 &&
               std::fread(out, 1, FrameBytes(), file_) == FrameBytes();
    }

private:
    std::FILE* file_ = nullptr;
    dv::System system_ = dv::System::kPal;
    int64_t frames_ = 0;
};

class CDvCamcorder;

class CDvOutputPin final : public CBaseOutputPin {
public:
    CDvOutputPin(CDvCamcorder* filter, CCritSec* lock);
    HRESULT CheckMediaType(const CMediaType* type) override;
    HRESULT GetMediaType(int position, CMediaType* type) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
    HRESULT Active() override {
        HRESULT hr = CBaseOutputPin::Active();
        if (SUCCEEDED(hr)) streaming_ = true;
        return hr;
    }
    HRESULT Inactive() override {
        streaming_ = false;
        // Decommitting wakes a delivery waiting for a buffer; then wait for it to end.
        const HRESULT hr = CBaseOutputPin::Inactive();
        std::lock_guard<std::mutex> hold(deliverLock_);
        return hr;
    }
    // Deck thread: sends one frame downstream, stamped with the stream time.
    void DeliverFrame(const std::vector<uint8_t>& frame, REFERENCE_TIME duration);

private:
    CDvCamcorder* deck_;
    std::atomic<bool> streaming_{false};
    std::mutex deliverLock_;
    REFERENCE_TIME sent_ = 0;
};

class CDvCamcorder final : public CBaseFilter, public IAMExtDevice, public IAMExtTransport, public IAMTimecodeReader {
public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* hr) {
        auto* deck = new (std::nothrow) CDvCamcorder(outer);
        if (!deck || !deck->pin_) {
            delete deck;
            *hr = E_OUTOFMEMORY;
            return nullptr;
        }
        return deck;
    }
    ~CDvCamcorder() override {
        quit_ = true;
        if (ticker_.joinable()) ticker_.join();
        delete pin_;
    }

    FILTERBASE_DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IAMExtDevice) return GetInterface(static_cast<IAMExtDevice*>(this), out);
        if (iid == IID_IAMExtTransport) return GetInterface(static_cast<IAMExtTransport*>(this), out);
        if (iid == IID_IAMTimecodeReader) return GetInterface(static_cast<IAMTimecodeReader*>(this), out);
        return CBaseFilter::NonDelegatingQueryInterface(iid, out);
    }

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? pin_ : nullptr; }

    dv::System System() {
        std::lock_guard<std::mutex> hold(deck_);
        return tape_.System();
    }
    std::vector<uint8_t> FirstFrame() {
        std::lock_guard<std::mutex> hold(deck_);
        std::vector<uint8_t> frame(tape_.FrameBytes());
        if (!tape_.Read(0, frame.data())) frame.clear();
        return frame;
    }

    // ---- IAMExtDevice ----
    HRESULT STDMETHODCALLTYPE GetCapability(LONG capability, LONG* value, double*) override {
        if (!value) return E_POINTER;
        switch (capability) {
            case ED_DEVCAP_DEVICE_TYPE:
                *value = camera_ ? kDevTypeCamera : ED_DEVTYPE_VCR;
                return S_OK;
            case ED_DEVCAP_TIMECODE_READ:
                *value = OATRUE;
                return S_OK;
            default:
                return E_NOTIMPL;
        }
    }
    HRESULT STDMETHODCALLTYPE get_ExternalDeviceID(LPOLESTR* id) override { return Text(L"SIMDV-0001", id); }
    HRESULT STDMETHODCALLTYPE get_ExternalDeviceVersion(LPOLESTR* version) override { return Text(L"1.0", version); }
    HRESULT STDMETHODCALLTYPE put_DevicePower(LONG) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE get_DevicePower(LONG* mode) override { return Value(mode, ED_POWER_ON); }
    HRESULT STDMETHODCALLTYPE Calibrate(HEVENT, LONG, LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_DevicePort(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_DevicePort(LONG* port) override { return Value(port, DEV_PORT_1394); }

    // ---- IAMExtTransport ----
    HRESULT STDMETHODCALLTYPE put_MediaState(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_MediaState(LONG* state) override { return Value(state, ED_MEDIA_SPIN_UP); }
    HRESULT STDMETHODCALLTYPE put_LocalControl(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_LocalControl(LONG* state) override { return Value(state, OAFALSE); }
    HRESULT STDMETHODCALLTYPE GetStatus(LONG item, LONG* value) override {
        if (!value) return E_POINTER;
        std::lock_guard<std::mutex> hold(deck_);
        if (unplugged_) return kUnplugged;
        switch (item) {
            case ED_MEDIA_PRESENT:
                *value = tape_.Present() ? OATRUE : OAFALSE;
                return S_OK;
            case ED_MEDIA_TYPE:
                *value = ED_MEDIA_DVC;
                return S_OK;
            case ED_MODE:
                *value = mode_;
                return S_OK;
            default:
                return E_NOTIMPL;
        }
    }
    HRESULT STDMETHODCALLTYPE GetTransportBasicParameters(LONG, LONG*, LPOLESTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetTransportBasicParameters(LONG, LONG, LPCOLESTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTransportVideoParameters(LONG, LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetTransportVideoParameters(LONG, LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTransportAudioParameters(LONG, LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetTransportAudioParameters(LONG, LONG) override { return E_NOTIMPL; }
    // Modes: play, stop, freeze (pause), fast forward, rewind, one-frame steps (which end
    // frozen), and shuttle at the rate of put_Rate. Recording to tape is not offered.
    HRESULT STDMETHODCALLTYPE put_Mode(LONG mode) override {
        std::lock_guard<std::mutex> hold(deck_);
        if (unplugged_) return kUnplugged;
        if (!tape_.Present()) return VFW_E_NOT_FOUND;
        if (Stuck()) return S_OK;  // taken, never carried out
        if (camera_ && mode != ED_MODE_PLAY && mode != ED_MODE_STOP && mode != ED_MODE_FREEZE)
            return HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED);  // no tape to move
        switch (mode) {
            case ED_MODE_PLAY:
            case ED_MODE_STOP:
            case ED_MODE_FREEZE:
            case ED_MODE_FF:
            case ED_MODE_REW:
            case ED_MODE_SHUTTLE:
                mode_ = mode;
                return S_OK;
            case ED_MODE_STEP_FWD:
            case ED_MODE_STEP_REV:
                position_ = Clamp(position_ + (mode == ED_MODE_STEP_FWD ? 1 : -1));
                mode_ = ED_MODE_FREEZE;
                return S_OK;
            default:
                return E_INVALIDARG;
        }
    }
    HRESULT STDMETHODCALLTYPE get_Mode(LONG* mode) override {
        if (!mode) return E_POINTER;
        std::lock_guard<std::mutex> hold(deck_);
        if (unplugged_) return kUnplugged;
        *mode = mode_;
        return S_OK;
    }
    // Shuttle speed in frames a tick (negative backwards), at most 32 either way.
    HRESULT STDMETHODCALLTYPE put_Rate(double rate) override {
        if (!(rate >= -32 && rate <= 32)) return E_INVALIDARG;
        std::lock_guard<std::mutex> hold(deck_);
        if (Stuck()) return S_OK;  // taken, never carried out, as the modes are
        shuttle_ = rate;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Rate(double* rate) override {
        if (!rate) return E_POINTER;
        std::lock_guard<std::mutex> hold(deck_);
        *rate = shuttle_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetChase(LONG*, LONG*, HEVENT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetChase(LONG, LONG, HEVENT) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetBump(LONG*, LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetBump(LONG, LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_AntiClogControl(LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_AntiClogControl(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetEditPropertySet(LONG, LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetEditPropertySet(LONG*, LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetEditProperty(LONG, LONG, LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetEditProperty(LONG, LONG, LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_EditStart(LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_EditStart(LONG) override { return E_NOTIMPL; }

    // ---- IAMTimecodeReader ----
    HRESULT STDMETHODCALLTYPE GetTCRMode(LONG, LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetTCRMode(LONG, LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_VITCLine(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_VITCLine(LONG*) override { return E_NOTIMPL; }
    // The time code of the frame under the head, as binary-coded decimal 0xHHMMSSFF in
    // dwFrames (as DV deck drivers report it); the frame's own subcode time code, else its
    // place on the tape.
    HRESULT STDMETHODCALLTYPE GetTimecode(PTIMECODE_SAMPLE sample) override {
        if (!sample) return E_POINTER;
        std::lock_guard<std::mutex> hold(deck_);
        if (unplugged_) return kUnplugged;
        if (!tape_.Present()) return VFW_E_NOT_FOUND;
        const int64_t index = static_cast<int64_t>(position_);
        std::vector<uint8_t> frame(tape_.FrameBytes());
        std::optional<dv::Timecode> tc;
        if (tape_.Read(index, frame.data())) tc = dv::FrameTimecode(frame);
        if (!tc) tc = dv::Timecode::FromFrames(index, dv::FramesPerSecond(tape_.System()));
        const auto bcd = [](int v) { return DWORD(((v / 10) << 4) | (v % 10)); };
        sample->qwTick = 0;
        sample->timecode.wFrameRate = WORD(dv::FramesPerSecond(tape_.System()));  // nominal frames a second
        sample->timecode.wFrameFract = 0;
        sample->timecode.dwFrames =
            (bcd(tc->hours) << 24) | (bcd(tc->minutes) << 16) | (bcd(tc->seconds) << 8) | bcd(tc->frames);
        sample->dwUser = 0;
        sample->dwFlags = ED_DEVCAP_TIMECODE_READ;
        return S_OK;
    }

private:
    explicit CDvCamcorder(IUnknown* outer)
        : CBaseFilter(L"simulated DV camcorder", outer, &lock_, engines::CLSID_SimulatedDvCamcorder) {
        const std::wstring path = TapePath();
        if (!path.empty()) tape_.Load(path);
        camera_ = CameraMode();
        pin_ = new (std::nothrow) CDvOutputPin(this, &lock_);
        try {
            ticker_ = std::thread([this] { Tick(); });
        } catch (...) {
            delete pin_;
            pin_ = nullptr;
        }
    }

    static HRESULT Text(const wchar_t* text, LPOLESTR* out) {
        if (!out) return E_POINTER;
        const size_t bytes = (wcslen(text) + 1) * sizeof(wchar_t);
        *out = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
        if (!*out) return E_OUTOFMEMORY;
        memcpy(*out, text, bytes);
        return S_OK;
    }
    static HRESULT Value(LONG* out, LONG value) {
        if (!out) return E_POINTER;
        *out = value;
        return S_OK;
    }
    double Clamp(double position) const {
        const double last = double(tape_.Frames() - 1);
        return position < 0 ? 0 : position > last ? last : position;
    }

    // The deck: one tick a frame period, in real time (or `Speed` times as fast). The frames'
    // stamps stay those of real time.
    void Tick() {
        using Clock = std::chrono::steady_clock;
        auto next = Clock::now();
        std::vector<uint8_t> frame;
        while (!quit_) {
            REFERENCE_TIME period = 400000;
            bool deliver = false;
            {
                std::lock_guard<std::mutex> hold(deck_);
                if (tape_.Present()) {
                    period = tape_.System() == dv::System::kPal ? 400000 : 333667;
                    Advance(&deliver, &frame);
                }
                if (!unplugged_ && !Connected()) {
                    unplugged_ = true;
                    mode_ = ED_MODE_STOP;
                    lost_ = true;
                }
            }
            // A deck made while unplugged finds so at its first tick, before it has joined a
            // graph: the loss is told once a graph's event sink takes it.
            if (lost_ &&
                SUCCEEDED(NotifyEvent(EC_DEVICE_LOST, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this)), 0)))
                lost_ = false;
            if (deliver && IsActive() && State() == State_Running) pin_->DeliverFrame(frame, period);
            next += std::chrono::microseconds(period / 10 / Speed());
            const auto now = Clock::now();
            if (next < now) next = now;  // a late tick is not made up
            std::this_thread::sleep_until(next);
        }
    }

    // Moves the tape by one tick of the current mode (deck lock held). Picture modes put
    // the frame under the head into `frame`.
    void Advance(bool* deliver, std::vector<uint8_t>* frame) {
        if (unplugged_) return;
        if (camera_) {
            frame->resize(tape_.FrameBytes());
            *deliver = tape_.Read(static_cast<int64_t>(position_), frame->data());
            position_ = position_ + 1 > double(tape_.Frames() - 1) ? 0 : position_ + 1;
            return;
        }
        double step = 0;
        bool picture = false;
        switch (mode_) {
            case ED_MODE_PLAY:
                step = 1;
                picture = true;
                break;
            case ED_MODE_FF:
                step = kWindFrames;
                break;
            case ED_MODE_REW:
                step = -kWindFrames;
                break;
            case ED_MODE_SHUTTLE:
                step = shuttle_;
                picture = shuttle_ != 0;
                if (shuttle_ > 1 || shuttle_ < -1) step = shuttle_ > 0 ? std::max(shuttle_, kCueFrames) : shuttle_;
                break;
            default:
                return;
        }
        const int64_t index = static_cast<int64_t>(position_);
        if (picture) {
            frame->resize(tape_.FrameBytes());
            *deliver = tape_.Read(index, frame->data());
        }
        const double moved = position_ + step;
        position_ = Clamp(moved);
        // The tape's ends stop the transport.
        if (moved > double(tape_.Frames() - 1) || moved < 0) mode_ = ED_MODE_STOP;
    }

    CCritSec lock_;
    CDvOutputPin* pin_ = nullptr;
    std::mutex deck_;
    Tape tape_;
    double position_ = 0;  // frames from the tape's start
    LONG mode_ = ED_MODE_STOP;
    double shuttle_ = 0;
    bool unplugged_ = false;
    bool camera_ = false;  // camera mode: a live picture, no tape transport
    std::atomic<bool> lost_{false};
    std::atomic<bool> quit_{false};
    std::thread ticker_;
};

CDvOutputPin::CDvOutputPin(CDvCamcorder* filter, CCritSec* lock)
    : CBaseOutputPin(L"DV out", filter, lock, nullptr, L"DV A/V Out"), deck_(filter) {}

HRESULT CDvOutputPin::GetMediaType(int position, CMediaType* type) {
    if (position < 0) return E_INVALIDARG;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    const std::vector<uint8_t> first = deck_->FirstFrame();
    if (first.empty()) return VFW_S_NO_MORE_ITEMS;  // no tape: nothing to offer
    type->majortype = MEDIATYPE_Interleaved;
    type->subtype = MEDIASUBTYPE_dvsd;
    type->bFixedSizeSamples = TRUE;
    type->lSampleSize = ULONG(first.size());
    type->formattype = FORMAT_DvInfo;
    auto* info = reinterpret_cast<DVINFO*>(type->AllocFormatBuffer(sizeof(DVINFO)));
    if (!info) return E_OUTOFMEMORY;
    memset(info, 0, sizeof(DVINFO));
    return S_OK;
}

HRESULT CDvOutputPin::CheckMediaType(const CMediaType* type) {
    CMediaType mine;
    if (GetMediaType(0, &mine) != S_OK) return S_FALSE;
    return type->majortype == mine.majortype && type->subtype == mine.subtype && type->formattype == mine.formattype
               ? S_OK
               : S_FALSE;
}

HRESULT CDvOutputPin::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
    ALLOCATOR_PROPERTIES want = *request;
    want.cBuffers = std::max<long>(want.cBuffers, 8);
    want.cbBuffer = std::max<long>(want.cbBuffer, long(dv::kPalFrameBytes));
    if (want.cbAlign < 1) want.cbAlign = 1;
    ALLOCATOR_PROPERTIES got{};
    const HRESULT hr = allocator->SetProperties(&want, &got);
    if (FAILED(hr)) return hr;
    return got.cbBuffer >= want.cbBuffer ? S_OK : E_FAIL;
}

void CDvOutputPin::DeliverFrame(const std::vector<uint8_t>& frame, REFERENCE_TIME duration) {
    std::lock_guard<std::mutex> hold(deliverLock_);
    if (!streaming_) return;
    IMediaSample* sample = nullptr;
    if (FAILED(GetDeliveryBuffer(&sample, nullptr, nullptr, 0))) return;
    BYTE* data = nullptr;
    if (SUCCEEDED(sample->GetPointer(&data)) && sample->GetSize() >= long(frame.size())) {
        memcpy(data, frame.data(), frame.size());
        sample->SetActualDataLength(long(frame.size()));
        REFERENCE_TIME start = 0;
        if (FAILED(deck_->StreamTime(&start))) start = sent_;
        REFERENCE_TIME stop = start + duration;
        sample->SetTime(&start, &stop);
        sample->SetSyncPoint(TRUE);
        sent_ = stop;
        Deliver(sample);
    }
    sample->Release();
}

const REGPINTYPES kPinTypes[] = {{&MEDIATYPE_Interleaved, &MEDIASUBTYPE_dvsd}};
const REGFILTERPINS kPins[] = {{nullptr, FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, kPinTypes}};
const FilterSetup kSetup = {MERIT_DO_NOT_USE, 1, kPins, &CLSID_VideoInputDeviceCategory};

const FactoryTemplate kTemplates[] = {
    {engines::kCamcorderFriendlyName, &engines::CLSID_SimulatedDvCamcorder, &CDvCamcorder::CreateInstance, &kSetup},
    {engines::kSecondCamcorderFriendlyName, &engines::CLSID_SecondSimulatedDvCamcorder, &CDvCamcorder::CreateInstance,
     &kSetup},
};

// The device interface a deck's driver installation leaves under the capture class: the
// interface key, its "#GLOBAL" reference string with "Control\Linked" and
// "Device Parameters\FriendlyName", so that device searches find the deck as they would a
// real one.
constexpr char kCaptureClassKey[] =
    "System\\CurrentControlSet\\Control\\DeviceClasses\\{65e8773d-8f56-11d0-a3b9-00a0c9223196}";

std::string InterfaceKey(int deck) {
    char key[256];
    std::snprintf(key, sizeof key, "%s\\##?#ROOT#SIMULATEDDV#%04d#{65e8773d-8f56-11d0-a3b9-00a0c9223196}",
                  kCaptureClassKey, deck);
    return key;
}

HRESULT RegisterInterfaces(bool add) {
    for (int deck = 0; deck < int(std::size(kTemplates)); ++deck) {
        const std::string key = InterfaceKey(deck);
        if (!add) {
            const LONG rc = RegDeleteTreeA(HKEY_LOCAL_MACHINE, key.c_str());
            if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) return HRESULT_FROM_WIN32(rc);
            continue;
        }
        char friendly[128] = {};
        WideCharToMultiByte(CP_ACP, 0, kTemplates[deck].name, -1, friendly, sizeof friendly - 1, nullptr, nullptr);
        const DWORD linked = 1;
        HKEY h = nullptr;
        LONG rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, (key + "\\#GLOBAL\\Control").c_str(), 0, nullptr, 0,
                                  KEY_SET_VALUE, nullptr, &h, nullptr);
        if (rc == ERROR_SUCCESS) {
            rc = RegSetValueExA(h, "Linked", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&linked), sizeof linked);
            RegCloseKey(h);
        }
        if (rc == ERROR_SUCCESS)
            rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, (key + "\\#GLOBAL\\Device Parameters").c_str(), 0, nullptr, 0,
                                 KEY_SET_VALUE, nullptr, &h, nullptr);
        if (rc == ERROR_SUCCESS) {
            rc = RegSetValueExA(h, "FriendlyName", 0, REG_SZ, reinterpret_cast<const BYTE*>(friendly),
                                DWORD(strlen(friendly) + 1));
            RegCloseKey(h);
        }
        if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
    }
    return S_OK;
}

}  // namespace

FILTERBASE_DEFINE_SERVER_EXPORTS_WITH(kTemplates, RegisterInterfaces)
