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
#include "filters/encoder/dialog_controls.h"
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

class CEncoderPropertyPage : public CBasePropertyPage {
public:
    HRESULT OnConnect(IUnknown* object) override;
    HRESULT OnDisconnect() override;
    HRESULT OnActivate() override;
    HRESULT OnDeactivate() override;
    HRESULT OnApplyChanges() override;
    INT_PTR OnReceiveMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam) override;

    // Stores the dirty state and tells the page site.
    virtual void SetDirty(bool dirty);
    // The filter's default values into the page copy and the controls set up again from
    // them; the dirty state is left as it was.
    virtual void LoadDefaults();

protected:
    CEncoderPropertyPage(const wchar_t* name, IUnknown* outer, int dialogId, int titleId, const int* loaded,
                         int loadedCount, const int* written, int writtenCount);
    ~CEncoderPropertyPage() override;

    // Binds and fills the controls from the page copy, then renews their state.
    virtual HRESULT SetupControls() = 0;
    // The controls into the page copy.
    virtual void ReadControls() = 0;
    // The page's words from the filter (its current or its default values).
    virtual void LoadValues(bool defaults);
    // The page's words to the filter (not committed).
    virtual HRESULT WriteValues();
    // Enables and disables controls by the page copy and the filter's state.
    virtual void RenewControlState() = 0;
    // Whether a WM_COMMAND notification from control `id` is one the page handles.
    virtual bool Handles(int id, int code) const = 0;

    // The filter's state value is not 0 (paused or running).
    bool FilterRunning();
    // Binds `control` to the dialog's control `id`.
    void Bind(CDialogControl& control, int id);

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
    HRESULT SetupControls() override;
    void ReadControls() override;
    void RenewControlState() override;
    bool Handles(int id, int code) const override;
    void ShowPreview();

    CComboControl profile_, level_, rateMode_;
    CEditControl gop_, bFrames_, preview_, avgRate_, maxRate_, qualityValue_, targetRate_, fixedRate_;
    CCheckControl scene_, cabac_, cavlc_, interlaced_, deblock_, stamps_, fixedRateOn_;
    CTrackbarControl quality_;
    CRadioGroup entropy_;
};

class CAdvancedSettingsPage final : public CEncoderPropertyPage {
public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* hr);

private:
    explicit CAdvancedSettingsPage(IUnknown* outer);
    HRESULT SetupControls() override;
    void ReadControls() override;
    void RenewControlState() override;
    bool Handles(int id, int code) const override;

    CComboControl rdo_, range_, subpel_;
    CCheckControl motion_, partition_, professional_;
};

class CAboutPage final : public CBasePropertyPage {
public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* hr);
    HRESULT OnActivate() override;

private:
    explicit CAboutPage(IUnknown* outer);
};

}  // namespace ombrisk
