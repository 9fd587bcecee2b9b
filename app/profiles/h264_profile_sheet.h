// The H.264 profile sheet: name, video and audio pages editing a working copy of a class-12
// profile in place. The caller's record receives the working copy only when the sheet ends
// with OK (`Commit`); Cancel leaves it as it was.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "app/profiles/profile_dialog_support.h"
#include "app/profiles/profile_manager.h"
#include "framework/dialog.h"

namespace profiles {

inline constexpr size_t kH264NameLimit = 127, kH264DescriptionLimit = 1023;
// Bit-rate edits of the video page, kbit/s.
inline constexpr int kH264MaxVideoKbps = 10000, kH264MaxPeakKbps = 15000;
// Audio bit-rate codes offered, in combo order.
inline constexpr struct {
    const char* label;
    int64_t code;
} kH264AudioRates[] = {{"96", 0x40},   {"112", 0x80},   {"128", 0x100},  {"160", 0x200}, {"192", 0x400},
                       {"224", 0x800}, {"256", 0x1000}, {"320", 0x4000}, {"384", 0x8000}};

class CH264ProfileSet;

class CH264ProfileNameSet : public CPropertyPage {
public:
    explicit CH264ProfileNameSet(CH264ProfileSet& sheet);
    BOOL OnInitDialog() override;
    BOOL OnKillActive() override;
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;

private:
    uint32_t NameProblem(const std::string& name) const;
    CH264ProfileSet& sheet_;
    CProfilePropertyList list_;
    std::string savedName_;
};

class CH264ProfileVideoSet : public CPropertyPage {
public:
    explicit CH264ProfileVideoSet(CH264ProfileSet& sheet);
    BOOL OnInitDialog() override;
    BOOL OnKillActive() override;
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    int EditNumber(int id) const;
    // The range check of edit `id`; `onChange` for the checks while typing.
    void CheckEdit(int id, bool onChange);
    void UpdatePattern();
    void ApplyEnabling();
    CH264ProfileSet& sheet_;
    bool correcting_ = false;  // the check's own correction is not checked again
};

class CH264ProfileAudioSet : public CPropertyPage {
public:
    explicit CH264ProfileAudioSet(CH264ProfileSet& sheet);
    BOOL OnInitDialog() override;
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;

private:
    CH264ProfileSet& sheet_;
};

class CH264ProfileSet : public CPropertySheet {
public:
    CH264ProfileSet(UINT captionId, CWnd* parent, UINT firstPage = 0);
    // Makes the working record: the caller's profile read again from the store, with the
    // caller's frame rate and, unless user-made, the standard frame size of that rate.
    void Prepare(CProfileManager& store, ProfileRecord& callerRecord, int32_t keepOrgSize);
    void SetNewProfile(bool flag) { newProfile_ = flag; }
    bool NewProfile() const { return newProfile_; }
    int32_t GetKeepOrgSize() const { return keepOrgSize_; }
    void SetKeepOrgSize(int32_t flag) { keepOrgSize_ = flag; }
    ProfileRecord* GetWorkingRecord() { return working_.get(); }
    CProfileManager& Store() { return *store_; }
    // Runs the sheet; on OK the caller's record receives the working record.
    INT_PTR DoModal() override;
    bool IsH264NameHeld(const std::string& name);

private:
    void Commit();
    CH264ProfileNameSet namePage_;
    CH264ProfileVideoSet videoPage_;
    CH264ProfileAudioSet audioPage_;
    CProfileManager* store_ = nullptr;
    ProfileRecord* caller_ = nullptr;
    std::unique_ptr<ProfileRecord> working_;
    int32_t keepOrgSize_ = 0;
    bool newProfile_ = false;
};

}  // namespace profiles
