// Playback volume and mute of the sound card through the Windows multimedia mixer. Every call
// opens the mixer device, does its work and closes it again on every path; no mixer callback
// is used. The mixer calls go through a MixerApi, which tests replace with a model of a
// sound card. User-interface thread only.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <functional>

// The winmm mixer functions CMixer uses.
class MixerApi {
public:
    virtual ~MixerApi() = default;
    virtual UINT GetNumDevs() = 0;
    virtual MMRESULT GetDevCaps(UINT device, MIXERCAPSA* caps) = 0;
    virtual MMRESULT Open(HMIXER* mixer, UINT device) = 0;
    virtual MMRESULT Close(HMIXER mixer) = 0;
    virtual MMRESULT GetLineInfo(HMIXER mixer, MIXERLINEA* line, DWORD flags) = 0;
    virtual MMRESULT GetLineControls(HMIXER mixer, MIXERLINECONTROLSA* controls, DWORD flags) = 0;
    virtual MMRESULT GetControlDetails(HMIXER mixer, MIXERCONTROLDETAILS* details, DWORD flags) = 0;
    virtual MMRESULT SetControlDetails(HMIXER mixer, MIXERCONTROLDETAILS* details, DWORD flags) = 0;
};
// Null restores the system's mixer.
void SetMixerApi(MixerApi* api);

// Name of a mixer device and which destinations it has.
struct MixerDeviceInfo {
    char name[260];
    DWORD flags;  // kMixerHasSpeakers, kMixerHasWaveIn
};
constexpr DWORD kMixerHasSpeakers = 1;
constexpr DWORD kMixerHasWaveIn = 2;

// Line kind: kMixerPlayback selects the speakers destination, any other value wave-in.
constexpr int kMixerPlayback = 1;

// Volumes are fractions 0.0-1.0 mapped linearly on the control values 0-65535. A source index
// of -1 selects the destination line itself; 0 and up that source line of it. Every method
// returns S_OK or E_FAIL.
class CMixer {
public:
    virtual ~CMixer() = default;
    HRESULT Open(UINT device, HMIXER* mixer);
    HRESULT GetDeviceCount(UINT* count);
    HRESULT GetDeviceInfo(UINT device, MixerDeviceInfo* info);
    HRESULT FindDeviceByName(const char* name, UINT* device);
    HRESULT GetDestinationLine(HMIXER mixer, int kind, MIXERLINEA* line);
    HRESULT GetSourceLine(HMIXER mixer, DWORD destination, DWORD source, MIXERLINEA* line);
    HRESULT GetMuteControl(HMIXER mixer, DWORD lineId, MIXERCONTROLA* control);
    HRESULT GetVolumeControl(HMIXER mixer, DWORD lineId, MIXERCONTROLA* control);
    HRESULT GetMuteValue(HMIXER mixer, const MIXERCONTROLA& control, LONG* value);
    HRESULT SetMuteValue(HMIXER mixer, const MIXERCONTROLA& control, LONG value);
    // Reads the control's uniform value (one channel, one item: never several items into one
    // 4-byte buffer).
    HRESULT GetVolumeValue(HMIXER mixer, const MIXERCONTROLA& control, DWORD* value);
    HRESULT SetVolumeFraction(HMIXER mixer, const MIXERCONTROLA& control, double fraction);
    HRESULT GetVolume(const char* device, int kind, int source, double* fraction);
    HRESULT SetVolume(const char* device, int kind, int source, double fraction);
    HRESULT GetMute(const char* device, int source, LONG* value);
    HRESULT SetMute(const char* device, int source, LONG value);

private:
    HRESULT Details(HMIXER mixer, const MIXERCONTROLA& control, void* value, bool write);
    HRESULT FindControl(HMIXER mixer, DWORD lineId, DWORD type, MIXERCONTROLA* control);
    // Opens `device` and finds the control of `type` on the line of `kind` and `source`; the
    // mixer stays open for the caller, who closes it.
    HRESULT OpenLineControl(const char* device, int kind, int source, DWORD type, HMIXER* mixer,
                            MIXERCONTROLA* control);
    // OpenLineControl, then `work` on the control; the mixer is closed on every path.
    HRESULT WithLineControl(const char* device, int kind, int source, DWORD type,
                            const std::function<HRESULT(HMIXER, const MIXERCONTROLA&)>& work);
};

// S_OK and the name of the first device with a destination in `flags`; E_FAIL when none has,
// when there is no mixer, or when a device's information cannot be read.
HRESULT FindMixerDevice(DWORD flags, char* name, size_t nameSize);
// The speakers destination's volume (0.0-1.0), or -1.0 on failure.
double GetMixerVolume(const char* device);
int SetMixerVolume(const char* device, double fraction);
// Mute of the speakers destination (source -1) or of one of its sources. When `device` fails,
// the first device with a speakers destination is tried once more.
int GetMixerMute(const char* device, int source, LONG* value);
int SetMixerMute(const char* device, int source, LONG value);
