// The MPEG profile editor: a sheet of three pages (name, video, audio) over a copy of a
// record. The pages keep their results in the sheet's result; the profile selection dialog
// puts them into the record after OK.
#pragma once

#include <windows.h>

#include <string>

#include "app/profiles/profile_dialog_support.h"
#include "app/profiles/profile_manager.h"
#include "app/profiles/profile_sheet_logic.h"
#include "framework/dialog.h"

namespace profiles {

// Longest name and description the MPEG editor takes.
inline constexpr size_t kEditorNameLimit = 99, kEditorDescriptionLimit = 255;

class CSetProfileDlg;

class CProfileNamePage : public CPropertyPage {
public:
    explicit CProfileNamePage(CSetProfileDlg& sheet);
    BOOL OnInitDialog() override;
    BOOL OnKillActive() override;
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;

private:
    // The message id that refuses the typed name, 0 when it is fine.
    uint32_t NameProblem() const;
    CSetProfileDlg& sheet_;
    CProfilePropertyList list_;
};

class CProfileVideoPage : public CPropertyPage {
public:
    explicit CProfileVideoPage(CSetProfileDlg& sheet);
    BOOL OnInitDialog() override;
    BOOL OnKillActive() override;
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    CSetProfileDlg& sheet_;
    int32_t kbps_ = 0;
    bool updating_ = false;
};

class CProfileAudioPage : public CPropertyPage {
public:
    explicit CProfileAudioPage(CSetProfileDlg& sheet);
    BOOL OnInitDialog() override;
    BOOL OnKillActive() override;
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;

private:
    CSetProfileDlg& sheet_;
};

class CSetProfileDlg : public CPropertySheet {
public:
    CSetProfileDlg(bool newProfile, CProfileManager& store, const ProfileRecord& record, UINT captionId, CWnd* parent,
                   UINT firstPage = 0);
    const ProfileRecord& Record() const { return *record_; }
    CProfileManager& Store() { return store_; }
    bool NewProfile() const { return newProfile_; }
    // The pages' results; valid after OK.
    MpegEditorResult& Result() { return result_; }
    // True when the store holds `name` in one of the MPEG, QuickTime or Real classes.
    bool NameHeld(const std::string& name);

private:
    bool newProfile_;
    CProfileManager& store_;
    std::unique_ptr<ProfileRecord> record_;
    MpegEditorResult result_;
    CProfileNamePage namePage_;
    CProfileVideoPage videoPage_;
    CProfileAudioPage audioPage_;
};

}  // namespace profiles
