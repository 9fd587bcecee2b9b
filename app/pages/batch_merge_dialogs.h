// The two small dialogs of the batch capture dialog: the automatic join of scenes (how the
// list joins them, remembered under the recording settings) and the note on batch capture.
#pragma once

#include <windows.h>

#include <cstdint>

#include "framework/dialog.h"

class CAutoMergeDlg : public CDialog {
public:
    // The list's join modes this dialog offers.
    static constexpr DWORD kByTimecode = 0;
    static constexpr DWORD kByRecordingDate = 2;

    // Writes the remembered type (by time code) when there is none yet.
    explicit CAutoMergeDlg(CWnd* parent = nullptr);

    BOOL OnInitDialog() override;
    void OnOK() override;
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;

    // What OK chose: the join mode, and for a join by date the longest gap (100-ns units).
    DWORD Type() const { return type_; }
    int64_t Duration() const { return duration_; }

private:
    void EnableDuration(bool on);
    // The decimal number of the combo box's chosen item; 0 when none is chosen.
    int64_t ChosenNumber(UINT id) const;

    DWORD type_ = kByTimecode;
    int64_t duration_ = 0;
};

class CBatchNoteDlg : public CDialog {
public:
    explicit CBatchNoteDlg(CWnd* parent = nullptr);
    ~CBatchNoteDlg() override;
    BOOL OnInitDialog() override;
    BOOL DestroyWindow() override;
    HFONT TitleFont() const { return bold_; }

private:
    HFONT bold_ = nullptr;
};
