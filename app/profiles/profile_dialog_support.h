// Small pieces the profile dialogs share: texts by string id, combo boxes filled from
// labelled tables, and the read-only two-column property list.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "app/profiles/profile_manager.h"
#include "app/profiles/profile_sheet_logic.h"
#include "framework/controls.h"
#include "framework/dialog.h"

namespace profiles {

std::string LoadText(uint32_t id);
// Whole number of an edit; `ok` false when the text is none.
std::string DlgText(HWND dialog, int id);
void SetDlgText(HWND dialog, int id, const std::string& text);
// A stored multi-line text as a multi-line edit shows it: each line break as CR LF.
std::string ForEdit(const std::string& text);
void EnableDlgItem(HWND dialog, int id, bool enable);
void ShowDlgItem(HWND dialog, int id, bool show);

// Fills combo `id` with the texts of `labels` and selects row `selected` (-1 none).
void FillCombo(HWND dialog, int id, const std::vector<std::string>& texts, int selected);
int ComboSelection(HWND dialog, int id);
std::string ComboText(HWND dialog, int id);

// Tells the user why the profile store refused a change (the file named, the reason given).
void ReportStoreFailure(CWnd* owner, CProfileManager& store, ProfileStatus status);

// The read-only property list placed over a placeholder control of a dialog.
class CProfilePropertyList : public CListCtrl {
public:
    // Creates the list over control `placeholderId` of `parent` (hidden afterwards) with two
    // columns of half its width each, grid lines and info tips, in the parent's font.
    bool CreateOver(CWnd* parent, int placeholderId);
    void Fill(const std::vector<PropertyRow>& rows);
};

// The rows of a profile's detail list (MPEG classes, AVI, H.264).
std::vector<PropertyRow> DetailRows(const ProfileRecord& record);
// The rows of the MPEG editor's name page: one row of "not available" outside classes 3 to 7.
std::vector<PropertyRow> NamePageRows(const ProfileRecord& record);

// Profile details: the list of a record's properties.
class CProfileDetailDlg : public CDialog {
public:
    CProfileDetailDlg(const ProfileRecord* record, CWnd* parent);
    BOOL OnInitDialog() override;
    void OnOK() override;

private:
    const ProfileRecord* record_;
    CProfilePropertyList list_;
};

}  // namespace profiles
