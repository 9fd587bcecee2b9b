// The encoder filter's property pages: About (the library's version), Main settings
// (profile, level, GOP, entropy coder, rate control, frame rates) and Advanced settings
// (macroblock coder, motion search). The settings pages keep a copy of the words they
// edit, read and write them value by value through IKestruneConfig, and apply them with
// Commit.
#pragma once

#include <windows.h>

#include <string>

#include "filters/base/locks.h"
#include "filters/base/property_page.h"
#include "filters/config/kestrune_config.h"
#include "filters/encoder/encoder_settings.h"

namespace ombrisk {

// Dialog, string and control identifiers (ombrisk.rc).
enum : int {
    kAboutDialog = 101,
    kAboutBitmap = 102,
    kMainDialog = 103,
    kAdvancedDialog = 106,
    kMainTitle = 1,
    kAboutTitle = 2,
    kAdvancedTitle = 4,
    kAboutVersion = 1002,
    // Main settings.
    kProfileCombo = 1004,
    kLevelCombo = 1005,
    kGopEdit = 1006,
    kBFramesEdit = 1007,
    kGopPreview = 1008,
    kSceneCheck = 1009,
    kCabacRadio = 1010,
    kCavlcRadio = 1011,
    kRateCombo = 1012,
    kAvgRateEdit = 1013,
    kMaxRateEdit = 1015,
    kQualityTrack = 1016,
    kQualityValue = 1017,
    kInterlacedCheck = 1018,
    kDeblockCheck = 1019,
    kStampsCheck = 1020,
    kTargetRateEdit = 1021,
    kFixedRateEdit = 1022,
    kFixedRateCheck = 1033,
    // Advanced settings.
    kRdoCombo = 1022,
    kMotionCheck = 1023,
    kRangeCombo = 1024,
    kSubpelCombo = 1025,
    kPartitionCheck = 1026,
    kProfessionalCheck = 1032,
};

// The GOP preview text of GOP length `gop` and `bFrames` B pictures.
std::wstring GopPreview(int gop, int bFrames);
// A frame rate x 100 as the edits show it ("%2d.%02d"), and an edit's text back: a
// decimal number read digit by digit (no rounding drift), truncated to hundredths;
// false for text that is not such a number or is 50 characters or longer.
std::wstring FrameRateText(int32_t rate100);
bool ParseFrameRate(const wchar_t* text, int32_t* rate100);

class CEncoderPropertyPage : public CBasePropertyPage {
public:
    HRESULT OnConnect(IUnknown* object) override;
    HRESULT OnDisconnect() override;
    HRESULT OnActivate() override;
    HRESULT OnDeactivate() override;
    HRESULT OnApplyChanges() override;
    INT_PTR OnReceiveMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam) override;

protected:
    CEncoderPropertyPage(const wchar_t* name, IUnknown* outer, int dialogId, int titleId, const int* loaded,
                         int loadedCount, const int* written, int writtenCount);
    ~CEncoderPropertyPage() override;

    virtual void SetupControls() = 0;
    virtual void ReadControls() = 0;
    virtual void RenewControlState() = 0;
    // Whether a WM_COMMAND notification from control `id` is one the page handles.
    virtual bool Handles(int id, int code) const = 0;

    void LoadValues(bool defaults);
    HRESULT WriteValues();
    // The filter's state value is not 0 (paused or running).
    bool FilterRunning();

    // Controls.
    void SetCombo(int id, int index);
    int ComboIndex(int id);
    void SetCheck(int id, bool checked);
    bool Checked(int id);
    void Enable(int id, bool enabled);
    void SetIntEdit(int id, int32_t value);
    void ReadIntEdit(int id, int32_t* word);
    void SetRateEdit(int id, int32_t rate100);
    void ReadRateEdit(int id, int32_t* word);

    EncoderSettings words_;  // the page copy
    IKestruneConfig* config_ = nullptr;
    CCritSec pageLock_;
    bool active_ = false;
    bool loaded_ = false;
    bool updating_ = false;  // the page's own control changes are not user edits

private:
    const int* loadedWords_;
    int loadedCount_;
    const int* writtenWords_;
    int writtenCount_;
};

class CMainSettingsPage final : public CEncoderPropertyPage {
public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* hr);

private:
    explicit CMainSettingsPage(IUnknown* outer);
    void SetupControls() override;
    void ReadControls() override;
    void RenewControlState() override;
    bool Handles(int id, int code) const override;
};

class CAdvancedSettingsPage final : public CEncoderPropertyPage {
public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* hr);

private:
    explicit CAdvancedSettingsPage(IUnknown* outer);
    void SetupControls() override;
    void ReadControls() override;
    void RenewControlState() override;
    bool Handles(int id, int code) const override;
};

class CAboutPage final : public CBasePropertyPage {
public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* hr);
    HRESULT OnActivate() override;

private:
    explicit CAboutPage(IUnknown* outer);
};

}  // namespace ombrisk
