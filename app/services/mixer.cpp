#include "app/services/mixer.h"

#include <cstring>

#include "app/services/text_core.h"

namespace {

class SystemMixer : public MixerApi {
public:
    UINT GetNumDevs() override { return mixerGetNumDevs(); }
    MMRESULT GetDevCaps(UINT device, MIXERCAPSA* caps) override { return mixerGetDevCapsA(device, caps, sizeof *caps); }
    MMRESULT Open(HMIXER* mixer, UINT device) override { return mixerOpen(mixer, device, 0, 0, 0); }
    MMRESULT Close(HMIXER mixer) override { return mixerClose(mixer); }
    MMRESULT GetLineInfo(HMIXER mixer, MIXERLINEA* line, DWORD flags) override {
        return mixerGetLineInfoA(reinterpret_cast<HMIXEROBJ>(mixer), line, flags);
    }
    MMRESULT GetLineControls(HMIXER mixer, MIXERLINECONTROLSA* controls, DWORD flags) override {
        return mixerGetLineControlsA(reinterpret_cast<HMIXEROBJ>(mixer), controls, flags);
    }
    MMRESULT GetControlDetails(HMIXER mixer, MIXERCONTROLDETAILS* details, DWORD flags) override {
        return mixerGetControlDetailsA(reinterpret_cast<HMIXEROBJ>(mixer), details, flags);
    }
    MMRESULT SetControlDetails(HMIXER mixer, MIXERCONTROLDETAILS* details, DWORD flags) override {
        return mixerSetControlDetails(reinterpret_cast<HMIXEROBJ>(mixer), details, flags);
    }
};

SystemMixer g_systemMixer;
MixerApi* g_mixer = &g_systemMixer;

// One channel, one item, 4-byte details in `value`.
void DescribeDetails(const MIXERCONTROLA& control, void* value, MIXERCONTROLDETAILS* d) {
    std::memset(d, 0, sizeof *d);
    d->cbStruct = sizeof *d;
    d->dwControlID = control.dwControlID;
    d->cChannels = 1;
    d->cMultipleItems = 0;
    d->cbDetails = 4;
    d->paDetails = value;
}

}  // namespace

void SetMixerApi(MixerApi* api) {
    g_mixer = api ? api : &g_systemMixer;
}

HRESULT CMixer::Open(UINT device, HMIXER* mixer) {
    *mixer = nullptr;
    return g_mixer->Open(mixer, device) == MMSYSERR_NOERROR ? S_OK : E_FAIL;
}

HRESULT CMixer::GetDeviceCount(UINT* count) {
    *count = g_mixer->GetNumDevs();
    return *count ? S_OK : E_FAIL;
}

HRESULT CMixer::GetDeviceInfo(UINT device, MixerDeviceInfo* info) {
    std::memset(info, 0, sizeof *info);
    MIXERCAPSA caps{};
    if (g_mixer->GetNumDevs() == 0 || g_mixer->GetDevCaps(device, &caps) != MMSYSERR_NOERROR) return E_FAIL;
    services::CopyTextBounded(info->name, sizeof info->name,
                              std::string(caps.szPname, strnlen(caps.szPname, MAXPNAMELEN)));
    if (caps.cDestinations == 0) return S_OK;
    HMIXER mixer;
    if (Open(device, &mixer) != S_OK) return E_FAIL;
    // Destination counts come from the driver; a mixer has a handful.
    const DWORD count = caps.cDestinations < 64 ? caps.cDestinations : 64;
    for (DWORD i = 0; i < count; ++i) {
        MIXERLINEA line{};
        line.cbStruct = sizeof line;
        line.dwDestination = i;
        if (g_mixer->GetLineInfo(mixer, &line, MIXER_OBJECTF_HMIXER | MIXER_GETLINEINFOF_DESTINATION) !=
            MMSYSERR_NOERROR) {
            g_mixer->Close(mixer);
            return E_FAIL;
        }
        if (line.dwComponentType == MIXERLINE_COMPONENTTYPE_DST_WAVEIN) info->flags |= kMixerHasWaveIn;
        if (line.dwComponentType == MIXERLINE_COMPONENTTYPE_DST_SPEAKERS) info->flags |= kMixerHasSpeakers;
    }
    g_mixer->Close(mixer);
    return S_OK;
}

HRESULT CMixer::FindDeviceByName(const char* name, UINT* device) {
    if (name == nullptr) return E_FAIL;
    const UINT count = g_mixer->GetNumDevs();
    for (UINT i = 0; i < count && i < 256; ++i) {
        MixerDeviceInfo info;
        if (GetDeviceInfo(i, &info) != S_OK) continue;
        if (std::strcmp(info.name, name) == 0) {
            *device = i;
            return S_OK;
        }
    }
    return E_FAIL;
}

HRESULT CMixer::GetDestinationLine(HMIXER mixer, int kind, MIXERLINEA* line) {
    std::memset(line, 0, sizeof *line);
    line->cbStruct = sizeof *line;
    line->dwComponentType =
        kind == kMixerPlayback ? MIXERLINE_COMPONENTTYPE_DST_SPEAKERS : MIXERLINE_COMPONENTTYPE_DST_WAVEIN;
    return g_mixer->GetLineInfo(mixer, line, MIXER_OBJECTF_HMIXER | MIXER_GETLINEINFOF_COMPONENTTYPE) ==
                   MMSYSERR_NOERROR
               ? S_OK
               : E_FAIL;
}

HRESULT CMixer::GetSourceLine(HMIXER mixer, DWORD destination, DWORD source, MIXERLINEA* line) {
    std::memset(line, 0, sizeof *line);
    line->cbStruct = sizeof *line;
    line->dwDestination = destination;
    line->dwSource = source;
    return g_mixer->GetLineInfo(mixer, line, MIXER_OBJECTF_HMIXER | MIXER_GETLINEINFOF_SOURCE) == MMSYSERR_NOERROR
               ? S_OK
               : E_FAIL;
}

HRESULT CMixer::FindControl(HMIXER mixer, DWORD lineId, DWORD type, MIXERCONTROLA* control) {
    std::memset(control, 0, sizeof *control);
    control->cbStruct = sizeof *control;
    MIXERLINECONTROLSA controls{};
    controls.cbStruct = sizeof controls;
    controls.dwLineID = lineId;
    controls.dwControlType = type;
    controls.cControls = 1;
    controls.cbmxctrl = sizeof *control;
    controls.pamxctrl = control;
    return g_mixer->GetLineControls(mixer, &controls, MIXER_OBJECTF_HMIXER | MIXER_GETLINECONTROLSF_ONEBYTYPE) ==
                   MMSYSERR_NOERROR
               ? S_OK
               : E_FAIL;
}

HRESULT CMixer::GetMuteControl(HMIXER mixer, DWORD lineId, MIXERCONTROLA* control) {
    return FindControl(mixer, lineId, MIXERCONTROL_CONTROLTYPE_MUTE, control);
}

HRESULT CMixer::GetVolumeControl(HMIXER mixer, DWORD lineId, MIXERCONTROLA* control) {
    return FindControl(mixer, lineId, MIXERCONTROL_CONTROLTYPE_VOLUME, control);
}

// Reads or writes the 4-byte details of `control` (one channel, one item) through `value`.
HRESULT CMixer::Details(HMIXER mixer, const MIXERCONTROLA& control, void* value, bool write) {
    MIXERCONTROLDETAILS d;
    DescribeDetails(control, value, &d);
    const MMRESULT r =
        write ? g_mixer->SetControlDetails(mixer, &d, MIXER_OBJECTF_HMIXER | MIXER_SETCONTROLDETAILSF_VALUE)
              : g_mixer->GetControlDetails(mixer, &d, MIXER_OBJECTF_HMIXER | MIXER_GETCONTROLDETAILSF_VALUE);
    return r == MMSYSERR_NOERROR ? S_OK : E_FAIL;
}

HRESULT CMixer::GetMuteValue(HMIXER mixer, const MIXERCONTROLA& control, LONG* value) {
    MIXERCONTROLDETAILS_BOOLEAN b{};
    const HRESULT hr = Details(mixer, control, &b, false);
    if (hr == S_OK) *value = b.fValue;
    return hr;
}

HRESULT CMixer::SetMuteValue(HMIXER mixer, const MIXERCONTROLA& control, LONG value) {
    MIXERCONTROLDETAILS_BOOLEAN b{value};
    return Details(mixer, control, &b, true);
}

HRESULT CMixer::GetVolumeValue(HMIXER mixer, const MIXERCONTROLA& control, DWORD* value) {
    MIXERCONTROLDETAILS_UNSIGNED u{};
    const HRESULT hr = Details(mixer, control, &u, false);
    if (hr == S_OK) *value = u.dwValue;
    return hr;
}

HRESULT CMixer::SetVolumeFraction(HMIXER mixer, const MIXERCONTROLA& control, double fraction) {
    // Fractions outside 0-1 are held to the control's range rather than wrapped.
    if (fraction < 0.0) fraction = 0.0;
    if (fraction > 1.0) fraction = 1.0;
    MIXERCONTROLDETAILS_UNSIGNED u{static_cast<DWORD>(fraction * 65535)};
    return Details(mixer, control, &u, true);
}

HRESULT CMixer::OpenLineControl(const char* device, int kind, int source, DWORD type, HMIXER* mixer,
                                MIXERCONTROLA* control) {
    *mixer = nullptr;
    UINT index;
    if (device == nullptr || FindDeviceByName(device, &index) != S_OK || Open(index, mixer) != S_OK) return E_FAIL;
    MIXERLINEA line;
    if (GetDestinationLine(*mixer, kind, &line) != S_OK) return E_FAIL;
    if (source != -1) {
        if (source < 0 || static_cast<DWORD>(source) >= line.cConnections) return E_FAIL;
        const DWORD destination = line.dwDestination;
        if (GetSourceLine(*mixer, destination, static_cast<DWORD>(source), &line) != S_OK) return E_FAIL;
    }
    return FindControl(*mixer, line.dwLineID, type, control);
}

HRESULT CMixer::WithLineControl(const char* device, int kind, int source, DWORD type,
                                const std::function<HRESULT(HMIXER, const MIXERCONTROLA&)>& work) {
    HMIXER mixer;
    MIXERCONTROLA control;
    HRESULT hr = OpenLineControl(device, kind, source, type, &mixer, &control);
    if (hr == S_OK) hr = work(mixer, control);
    if (mixer) g_mixer->Close(mixer);
    return hr;
}

HRESULT CMixer::GetVolume(const char* device, int kind, int source, double* fraction) {
    return WithLineControl(device, kind, source, MIXERCONTROL_CONTROLTYPE_VOLUME,
                           [&](HMIXER mixer, const MIXERCONTROLA& control) {
                               DWORD value = 0;
                               const HRESULT hr = GetVolumeValue(mixer, control, &value);
                               if (hr == S_OK) *fraction = value * (1.0 / 65535);
                               return hr;
                           });
}

HRESULT CMixer::SetVolume(const char* device, int kind, int source, double fraction) {
    return WithLineControl(device, kind, source, MIXERCONTROL_CONTROLTYPE_VOLUME,
                           [&](HMIXER mixer, const MIXERCONTROLA& control) {
                               DWORD value = 0;
                               const HRESULT hr = GetVolumeValue(mixer, control, &value);
                               return hr == S_OK ? SetVolumeFraction(mixer, control, fraction) : hr;
                           });
}

HRESULT CMixer::GetMute(const char* device, int source, LONG* value) {
    return WithLineControl(
        device, kMixerPlayback, source, MIXERCONTROL_CONTROLTYPE_MUTE,
        [&](HMIXER mixer, const MIXERCONTROLA& control) { return GetMuteValue(mixer, control, value); });
}

HRESULT CMixer::SetMute(const char* device, int source, LONG value) {
    return WithLineControl(device, kMixerPlayback, source, MIXERCONTROL_CONTROLTYPE_MUTE,
                           [&](HMIXER mixer, const MIXERCONTROLA& control) {
                               LONG current = 0;
                               const HRESULT hr = GetMuteValue(mixer, control, &current);
                               return hr == S_OK ? SetMuteValue(mixer, control, value) : hr;
                           });
}

HRESULT FindMixerDevice(DWORD flags, char* name, size_t nameSize) {
    CMixer mixer;
    UINT count;
    if (mixer.GetDeviceCount(&count) != S_OK) return E_FAIL;
    for (UINT i = 0; i < count && i < 256; ++i) {
        MixerDeviceInfo info;
        if (mixer.GetDeviceInfo(i, &info) != S_OK) return E_FAIL;
        if (info.flags & flags) {
            services::CopyTextBounded(name, nameSize, info.name);
            return S_OK;
        }
    }
    return E_FAIL;
}

double GetMixerVolume(const char* device) {
    double fraction = 0;
    return CMixer().GetVolume(device, kMixerPlayback, -1, &fraction) == S_OK ? fraction : -1.0;
}

int SetMixerVolume(const char* device, double fraction) {
    return CMixer().SetVolume(device, kMixerPlayback, -1, fraction) == S_OK ? 1 : 0;
}

int GetMixerMute(const char* device, int source, LONG* value) {
    CMixer mixer;
    if (mixer.GetMute(device, source, value) == S_OK) return 1;
    char fallback[260];
    if (FindMixerDevice(kMixerHasSpeakers, fallback, sizeof fallback) != S_OK) return 0;
    return mixer.GetMute(fallback, source, value) == S_OK ? 1 : 0;
}

int SetMixerMute(const char* device, int source, LONG value) {
    CMixer mixer;
    if (mixer.SetMute(device, source, value) == S_OK) return 1;
    char fallback[260];
    if (FindMixerDevice(kMixerHasSpeakers, fallback, sizeof fallback) != S_OK) return 0;
    return mixer.SetMute(fallback, source, value) == S_OK ? 1 : 0;
}
