// The profile selection dialog: the user chooses the encoding profile of the DV capture page
// or the file conversion page, and makes, edits and deletes user profiles. OK stores the
// choice under the program's "Recording" settings, from where the main page reads it.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "app/profiles/codec_thread.h"
#include "app/profiles/profile_manager.h"
#include "app/profiles/profile_select_model.h"
#include "framework/dialog.h"

namespace profiles {

class CProfileSelectDlg : public CDialog {
public:
    explicit CProfileSelectDlg(CWnd* parent);
    ~CProfileSelectDlg() override;

    // frameRate: 1 for 29.97, 0 for 25; other values leave the choice.
    void SetCurrent(int pageKind, int32_t videoFormatClass, const char* name, int frameRate);
    void SetProfileManager(CProfileManager* store) { store_ = store; }
    void SetProfileName(const char* name) { name_ = name ? name : ""; }
    void SetDeviceFlag(bool flag) { deviceLock_ = flag; }
    // The thread that lists the codecs; without one the Codec button lists them itself.
    void SetCodecThread(CodecThread* thread) { codecThread_ = thread; }
    // The longest the Codec button waits for the codec thread, the dialog answering meanwhile.
    static constexpr uint32_t kCodecWaitMs = 15000;
    // Whether the AVI category is offered (a DivX video compressor is installed).
    void SetDivxInstalled(bool installed) { divx_ = installed; }

    // What OK stored.
    int32_t ChosenClass() const { return chosenClass_; }
    const std::string& ChosenName() const { return chosenName_; }
    float ChosenFrameRate() const { return frameRate_; }

    BOOL OnInitDialog() override;
    void OnOK() override;
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;

private:
    // Offers to keep a profile file the store refuses aside and start a new one.
    void CheckProfileFile();
    void Refresh();
    // Reads the current profile into `record` (prepared for its class); false when it fails.
    bool ReadCurrent(ProfileRecord& record);
    void OnNew();
    void OnEdit();
    void OnDelete();
    void OnInformation();
    void OnDetails();
    void OnCodecSettings();
    // The codec inventory made, waiting for the codec thread when there is one.
    bool CodecsReady();
    // Waits for the codec thread, at most kCodecWaitMs, keeping the dialog answering; OK or
    // Cancel pressed meanwhile ends the wait and then takes effect. True when it is done.
    bool WaitForCodecs();
    // The MPEG editor or the H.264 sheet on `record`; true on OK with the record updated.
    bool RunEditor(ProfileRecord& record, bool newProfile);
    void Store(ProfileRecord& record, const std::string& oldName);

    CProfileManager* store_ = nullptr;
    std::unique_ptr<ProfileSelectModel> model_;
    int pageKind_ = kPageFileConvert;
    int32_t class_ = kClassH264;
    std::string name_;
    float frameRate_ = kRateNtscValue;
    bool deviceLock_ = false;
    CodecThread* codecThread_ = nullptr;
    bool waitingForCodecs_ = false;
    int closeAfterWait_ = 0;  // IDOK or IDCANCEL pressed during the wait
    bool divx_ = false;
    int32_t chosenClass_ = 0;
    std::string chosenName_;
};

}  // namespace profiles
