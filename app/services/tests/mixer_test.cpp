#include "app/services/mixer.h"

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

// A model of sound cards: devices with destination lines, their source lines, and a volume
// and a mute control on each line. It checks that no call asks for more than the 4 bytes it
// is given and counts open handles.
class FakeMixer : public MixerApi {
public:
    struct Line {
        DWORD id;
        DWORD componentType;
        std::vector<DWORD> sources;  // line ids
    };
    struct Device {
        std::string name;
        std::vector<Line> destinations;
        bool capsFail = false;
    };
    std::vector<Device> devices;
    std::map<DWORD, DWORD> volume;  // by line id (control id = line id * 2)
    std::map<DWORD, LONG> mute;     // control id = line id * 2 + 1
    int open = 0;
    int oversized = 0;

    const Line* FindLine(DWORD id) const {
        for (const Device& d : devices)
            for (const Line& l : d.destinations) {
                if (l.id == id) return &l;
                for (DWORD s : l.sources)
                    if (s == id) return &l;  // sources share their destination's shape here
            }
        return nullptr;
    }
    const Device& Dev(HMIXER m) const { return devices[reinterpret_cast<uintptr_t>(m) - 1]; }

    UINT GetNumDevs() override { return static_cast<UINT>(devices.size()); }
    MMRESULT GetDevCaps(UINT device, MIXERCAPSA* caps) override {
        if (device >= devices.size() || devices[device].capsFail) return MMSYSERR_BADDEVICEID;
        std::memset(caps, 0, sizeof *caps);
        std::strncpy(caps->szPname, devices[device].name.c_str(), MAXPNAMELEN - 1);
        caps->cDestinations = static_cast<DWORD>(devices[device].destinations.size());
        return MMSYSERR_NOERROR;
    }
    MMRESULT Open(HMIXER* mixer, UINT device) override {
        if (device >= devices.size()) return MMSYSERR_BADDEVICEID;
        *mixer = reinterpret_cast<HMIXER>(static_cast<uintptr_t>(device) + 1);
        ++open;
        return MMSYSERR_NOERROR;
    }
    MMRESULT Close(HMIXER) override {
        --open;
        return MMSYSERR_NOERROR;
    }
    MMRESULT GetLineInfo(HMIXER m, MIXERLINEA* line, DWORD flags) override {
        const Device& d = Dev(m);
        const DWORD query = flags & MIXER_GETLINEINFOF_QUERYMASK;
        if (query == MIXER_GETLINEINFOF_DESTINATION) {
            if (line->dwDestination >= d.destinations.size()) return MIXERR_INVALLINE;
            Fill(line, d.destinations[line->dwDestination], line->dwDestination);
            return MMSYSERR_NOERROR;
        }
        if (query == MIXER_GETLINEINFOF_COMPONENTTYPE) {
            for (DWORD i = 0; i < d.destinations.size(); ++i)
                if (d.destinations[i].componentType == line->dwComponentType) {
                    Fill(line, d.destinations[i], i);
                    return MMSYSERR_NOERROR;
                }
            return MIXERR_INVALLINE;
        }
        if (query == MIXER_GETLINEINFOF_SOURCE) {
            if (line->dwDestination >= d.destinations.size()) return MIXERR_INVALLINE;
            const Line& dst = d.destinations[line->dwDestination];
            if (line->dwSource >= dst.sources.size()) return MIXERR_INVALLINE;
            line->dwLineID = dst.sources[line->dwSource];
            line->cConnections = 0;
            return MMSYSERR_NOERROR;
        }
        return MMSYSERR_INVALFLAG;
    }
    static void Fill(MIXERLINEA* line, const Line& l, DWORD index) {
        line->dwLineID = l.id;
        line->dwDestination = index;
        line->dwComponentType = l.componentType;
        line->cConnections = static_cast<DWORD>(l.sources.size());
    }
    MMRESULT GetLineControls(HMIXER, MIXERLINECONTROLSA* c, DWORD) override {
        if (c->cControls != 1 || c->cbmxctrl < sizeof(MIXERCONTROLA)) return MMSYSERR_INVALPARAM;
        const bool isVolume = c->dwControlType == MIXERCONTROL_CONTROLTYPE_VOLUME;
        const DWORD controlId = c->dwLineID * 2 + (isVolume ? 0 : 1);
        if (isVolume ? !volume.count(controlId) : !mute.count(controlId)) return MIXERR_INVALCONTROL;
        c->pamxctrl->dwControlID = controlId;
        c->pamxctrl->dwControlType = c->dwControlType;
        c->pamxctrl->fdwControl = MIXERCONTROL_CONTROLF_UNIFORM | MIXERCONTROL_CONTROLF_MULTIPLE;
        c->pamxctrl->cMultipleItems = 4;  // a control that would overrun a one-value buffer
        return MMSYSERR_NOERROR;
    }
    bool Sized(const MIXERCONTROLDETAILS* d) {
        const DWORD items = d->cMultipleItems ? d->cMultipleItems : 1;
        if (d->cbDetails * d->cChannels * items > 4) {
            ++oversized;
            return false;
        }
        return true;
    }
    MMRESULT GetControlDetails(HMIXER, MIXERCONTROLDETAILS* d, DWORD) override {
        if (!Sized(d)) return MMSYSERR_INVALPARAM;
        if (d->dwControlID % 2 == 0)
            static_cast<MIXERCONTROLDETAILS_UNSIGNED*>(d->paDetails)->dwValue = volume[d->dwControlID];
        else
            static_cast<MIXERCONTROLDETAILS_BOOLEAN*>(d->paDetails)->fValue = mute[d->dwControlID];
        return MMSYSERR_NOERROR;
    }
    MMRESULT SetControlDetails(HMIXER, MIXERCONTROLDETAILS* d, DWORD) override {
        if (!Sized(d)) return MMSYSERR_INVALPARAM;
        if (d->dwControlID % 2 == 0)
            volume[d->dwControlID] = static_cast<MIXERCONTROLDETAILS_UNSIGNED*>(d->paDetails)->dwValue;
        else
            mute[d->dwControlID] = static_cast<MIXERCONTROLDETAILS_BOOLEAN*>(d->paDetails)->fValue;
        return MMSYSERR_NOERROR;
    }
};

class MixerTest : public testing::Test {
protected:
    void SetUp() override {
        // Device 0 records only; device 1 plays (master line 10 with sources 11 and 12) and
        // records; device 2 has no destinations.
        fake.devices = {
            {"Capture Only", {{20, MIXERLINE_COMPONENTTYPE_DST_WAVEIN, {}}}},
            {"Sound Card",
             {{10, MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, {11, 12}}, {30, MIXERLINE_COMPONENTTYPE_DST_WAVEIN, {}}}},
            {"Empty", {}},
        };
        for (DWORD line : {10, 11, 12, 20, 30}) {
            fake.volume[line * 2] = 1000 * line;
            fake.mute[line * 2 + 1] = 0;
        }
        SetMixerApi(&fake);
    }
    void TearDown() override {
        SetMixerApi(nullptr);
        EXPECT_EQ(fake.open, 0) << "a mixer handle was left open";
        EXPECT_EQ(fake.oversized, 0) << "details asked for more than their buffer";
    }
    FakeMixer fake;
};

TEST_F(MixerTest, FindsDevicesByDestination) {
    CMixer mixer;
    MixerDeviceInfo info;
    ASSERT_EQ(mixer.GetDeviceInfo(1, &info), S_OK);
    EXPECT_STREQ(info.name, "Sound Card");
    EXPECT_EQ(info.flags, kMixerHasSpeakers | kMixerHasWaveIn);
    ASSERT_EQ(mixer.GetDeviceInfo(2, &info), S_OK);
    EXPECT_EQ(info.flags, 0u);  // no destinations: never chosen
    EXPECT_EQ(mixer.GetDeviceInfo(7, &info), E_FAIL);

    char name[260];
    ASSERT_EQ(FindMixerDevice(kMixerHasSpeakers, name, sizeof name), S_OK);
    EXPECT_STREQ(name, "Sound Card");
    ASSERT_EQ(FindMixerDevice(kMixerHasWaveIn, name, sizeof name), S_OK);
    EXPECT_STREQ(name, "Capture Only");
    char tiny[6];
    ASSERT_EQ(FindMixerDevice(kMixerHasSpeakers, tiny, sizeof tiny), S_OK);
    EXPECT_STREQ(tiny, "Sound");

    UINT index = 99;
    EXPECT_EQ(mixer.FindDeviceByName("sound card", &index), E_FAIL);  // case-sensitive
    EXPECT_EQ(mixer.FindDeviceByName("Sound Card", &index), S_OK);
    EXPECT_EQ(index, 1u);
}

TEST_F(MixerTest, VolumeAndMuteOfTheSpeakers) {
    EXPECT_EQ(SetMixerVolume("Sound Card", 0.5), 1);
    EXPECT_EQ(fake.volume[20], 32767u);
    EXPECT_DOUBLE_EQ(GetMixerVolume("Sound Card"), 32767.0 / 65535);
    EXPECT_EQ(SetMixerVolume("Sound Card", 1.0), 1);
    EXPECT_EQ(fake.volume[20], 65535u);

    // A source line of the destination; the index must lie below its connection count.
    CMixer mixer;
    double fraction = 0;
    ASSERT_EQ(mixer.GetVolume("Sound Card", kMixerPlayback, 1, &fraction), S_OK);
    EXPECT_DOUBLE_EQ(fraction, 12000.0 / 65535);
    EXPECT_EQ(mixer.GetVolume("Sound Card", kMixerPlayback, 2, &fraction), E_FAIL);
    EXPECT_EQ(mixer.SetVolume("Sound Card", 2, -1, 0.25), S_OK);  // recording destination
    EXPECT_EQ(fake.volume[60], 16383u);

    LONG muted = -1;
    EXPECT_EQ(SetMixerMute("Sound Card", -1, 1), 1);
    EXPECT_EQ(fake.mute[21], 1);
    EXPECT_EQ(GetMixerMute("Sound Card", -1, &muted), 1);
    EXPECT_EQ(muted, 1);
    EXPECT_EQ(SetMixerMute("Sound Card", 0, 1), 1);
    EXPECT_EQ(fake.mute[23], 1);
}

TEST_F(MixerTest, StaleNamesAndMissingMixers) {
    // A stored name that is gone: mute falls back to the first speakers device, volume fails.
    LONG muted = -1;
    EXPECT_EQ(SetMixerMute("Old Card", -1, 1), 1);
    EXPECT_EQ(fake.mute[21], 1);
    EXPECT_EQ(GetMixerMute("Old Card", -1, &muted), 1);
    EXPECT_EQ(muted, 1);
    EXPECT_EQ(GetMixerVolume("Old Card"), -1.0);
    EXPECT_EQ(SetMixerVolume("Old Card", 0.5), 0);
    EXPECT_EQ(GetMixerVolume(nullptr), -1.0);

    // A device whose information cannot be read ends the search.
    fake.devices[0].capsFail = true;
    char name[260];
    EXPECT_EQ(FindMixerDevice(kMixerHasSpeakers, name, sizeof name), E_FAIL);

    fake.devices.clear();
    EXPECT_EQ(FindMixerDevice(kMixerHasSpeakers, name, sizeof name), E_FAIL);
    EXPECT_EQ(GetMixerVolume("Sound Card"), -1.0);
    EXPECT_EQ(SetMixerVolume("Sound Card", 0.5), 0);
    EXPECT_EQ(GetMixerMute("Sound Card", -1, &muted), 0);
    EXPECT_EQ(SetMixerMute("Sound Card", -1, 0), 0);
}

// The system's own mixer under Wine: whatever devices it has, every call ends cleanly.
TEST(SystemMixer, AnswersWithoutCrashing) {
    char name[260] = {};
    const HRESULT found = FindMixerDevice(kMixerHasSpeakers, name, sizeof name);
    if (found == S_OK) {
        EXPECT_GE(GetMixerVolume(name), 0.0);
    } else {
        EXPECT_EQ(GetMixerVolume("no such card"), -1.0);
    }
}

}  // namespace
