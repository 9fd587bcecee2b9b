// A model sound card for window tests that reach the audio mixer, set in place of the
// system's with SetMixerApi.
#pragma once

#include <windows.h>

#include "app/services/mixer.h"

// One sound card with a speakers destination (line 10): volume control 20, mute control 21.
class OneCard : public MixerApi {
public:
    DWORD volume = 32768;
    LONG mute = 0;
    int open = 0;
    UINT GetNumDevs() override { return 1; }
    MMRESULT GetDevCaps(UINT device, MIXERCAPSA* caps) override {
        if (device != 0) return MMSYSERR_BADDEVICEID;
        *caps = MIXERCAPSA{};
        lstrcpynA(caps->szPname, "Card", MAXPNAMELEN);
        caps->cDestinations = 1;
        return MMSYSERR_NOERROR;
    }
    MMRESULT Open(HMIXER* mixer, UINT device) override {
        if (device != 0) return MMSYSERR_BADDEVICEID;
        *mixer = reinterpret_cast<HMIXER>(1);
        ++open;
        return MMSYSERR_NOERROR;
    }
    MMRESULT Close(HMIXER) override {
        --open;
        return MMSYSERR_NOERROR;
    }
    MMRESULT GetLineInfo(HMIXER, MIXERLINEA* line, DWORD) override {
        line->dwLineID = 10;
        line->dwDestination = 0;
        line->dwComponentType = MIXERLINE_COMPONENTTYPE_DST_SPEAKERS;
        line->cConnections = 0;
        return MMSYSERR_NOERROR;
    }
    MMRESULT GetLineControls(HMIXER, MIXERLINECONTROLSA* c, DWORD) override {
        c->pamxctrl->dwControlID = c->dwControlType == MIXERCONTROL_CONTROLTYPE_VOLUME ? 20 : 21;
        c->pamxctrl->dwControlType = c->dwControlType;
        c->pamxctrl->fdwControl = MIXERCONTROL_CONTROLF_UNIFORM;
        c->pamxctrl->cMultipleItems = 0;
        return MMSYSERR_NOERROR;
    }
    MMRESULT GetControlDetails(HMIXER, MIXERCONTROLDETAILS* d, DWORD) override {
        if (d->dwControlID == 20)
            static_cast<MIXERCONTROLDETAILS_UNSIGNED*>(d->paDetails)->dwValue = volume;
        else
            static_cast<MIXERCONTROLDETAILS_BOOLEAN*>(d->paDetails)->fValue = mute;
        return MMSYSERR_NOERROR;
    }
    MMRESULT SetControlDetails(HMIXER, MIXERCONTROLDETAILS* d, DWORD) override {
        if (d->dwControlID == 20)
            volume = static_cast<MIXERCONTROLDETAILS_UNSIGNED*>(d->paDetails)->dwValue;
        else
            mute = static_cast<MIXERCONTROLDETAILS_BOOLEAN*>(d->paDetails)->fValue;
        return MMSYSERR_NOERROR;
    }
};
