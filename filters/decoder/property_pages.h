// The decoder filter's property pages: settings (decoding level, post-processing, error
// resilience) through IKestruneConfig, and the About page with the library's version.
#pragma once

#include <windows.h>

#include "filters/base/property_page.h"
#include "filters/config/kestrune_config.h"
#include "filters/decoder/decoder_settings.h"

namespace pelldrin {

// Dialog and control identifiers (pelldrin.rc).
enum : int {
    kSettingsDialog = 101,
    kAboutDialog = 102,
    kAboutBitmap = 102,
    kAboutTitle = 3,
    kSettingsTitle = 4,
    kRadioObeyQuality = 1001,
    kRadioReferenceOnly = 1002,
    kRadioDecodeAll = 1003,
    kCheckVerticalFilter = 1004,
    kListErrorResilience = 1006,
    kCheckUpsampleHq = 1007,
    kStaticVersion = 1032,
};

class EPropertyPage final : public CBasePropertyPage {
public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* hr);

    HRESULT OnConnect(IUnknown* object) override;
    HRESULT OnDisconnect() override;
    HRESULT OnActivate() override;
    HRESULT OnDeactivate() override;
    HRESULT OnApplyChanges() override;
    INT_PTR OnReceiveMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam) override;

private:
    explicit EPropertyPage(IUnknown* outer);
    ~EPropertyPage() override;
    // The page's record with the controls' choices over it.
    EConfig FromControls() const;
    void DirtyTest();

    IKestruneConfig* config_ = nullptr;
    EConfig shown_;  // the values read at activation
    bool active_ = false;
};

class EPropertyPageAbout final : public CBasePropertyPage {
public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* hr);
    HRESULT OnActivate() override;

private:
    explicit EPropertyPageAbout(IUnknown* outer);
};

}  // namespace pelldrin
