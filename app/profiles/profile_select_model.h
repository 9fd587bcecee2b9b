// What the profile selection dialog shows and how it answers the user, without the windows:
// the summaries of every profile a page may use, grouped by category (output family), type
// (standard, real-time, user-made, all) and frame rate; the profile list those choices leave;
// and which buttons apply. The dialog fills its combos from here and passes each choice back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/profiles/profile_manager.h"
#include "app/profiles/profile_record.h"
#include "app/profiles/profile_services.h"

namespace profiles {

// String ids of the combo items.
enum SelectItem : uint32_t {
    kCategoryNativeDv = 300,
    kNativeDvType = 301,
    kNativeDvProfile = 302,
    kNativeDvDescription = 303,
    kCategoryMpeg1 = 7019,
    kCategoryMpeg2 = 7020,
    kCategoryH264 = 7021,
    kCategoryAvi = 7022,
    kTypeStandard = 7023,
    kTypeRealTime = 7024,
    kTypeHighQuality = 7025,
    kTypeUser = 7026,
    kTypeAll = 7027,
    kRateNtsc = 7028,
    kRatePal = 7029,
};

enum PageKind : int { kPageDvCapture = 1, kPageFileConvert = 2 };

inline constexpr float kRateNtscValue = 29.97f;
inline constexpr float kRatePalValue = 25.0f;

struct ProfileSummary {
    int32_t videoFormatClass = 0;
    std::string name;
    uint32_t attribute = 0;
    std::string description;
    int32_t speedQuality = -1;  // MPEG classes: the Speed Quality Indicator; -1 otherwise
    float frameRate = 0;        // MPEG classes and H.264; 0 otherwise

    bool IsUser() const { return (attribute & kAttrUserMade) != 0; }
};

ProfileSummary SummaryOf(const ProfileRecord& record);
// The category a class belongs to; 0 for none.
uint32_t CategoryOfClass(int32_t videoFormatClass);

class ProfileSelectModel {
public:
    // `divxInstalled`: whether the AVI category is offered on the file conversion page.
    ProfileSelectModel(CProfileManager* store, const ProfileStrings& strings, int pageKind, bool divxInstalled);

    // Builds the summary list and makes the profile of that class and name current.
    void Open(int32_t videoFormatClass, const std::string& name, float frameRate);

    const std::vector<uint32_t>& Categories() const { return categories_; }
    const std::vector<uint32_t>& Types() const { return types_; }
    const std::vector<uint32_t>& Rates() const { return rates_; }
    // The profiles the choices leave, in list order.
    const std::vector<const ProfileSummary*>& Listed() const { return listed_; }
    uint32_t Category() const { return category_; }
    uint32_t Type() const { return type_; }
    uint32_t Rate() const { return frameRate_ == kRateNtscValue ? kRateNtsc : kRatePal; }
    float FrameRate() const { return frameRate_; }
    bool RateEnabled() const { return rateEnabled_; }
    // Index into Listed() of the current profile; -1 when it is not listed.
    int Selected() const { return selected_; }
    const ProfileSummary& Current() const { return current_; }
    int32_t CurrentClass() const { return current_.videoFormatClass; }
    const std::vector<ProfileSummary>& Summaries() const { return summaries_; }

    void ChooseCategory(uint32_t category);
    void ChooseType(uint32_t type);
    void ChooseRate(uint32_t rate);
    void ChooseProfile(const std::string& name);

    // After New or Edit: adds the summary of `record`, or replaces the one of `oldName` in
    // the record's class; the new profile becomes current, shown as a user profile.
    void Stored(const ProfileRecord& record, const std::string& oldName);
    // After Delete: removes the current user profile's summary and applies the category again.
    void Removed();

    bool NativeDv() const { return category_ == kCategoryNativeDv; }
    bool CanCreate() const;
    bool CanEdit() const { return type_ == kTypeUser && !listed_.empty() && !NativeDv(); }
    bool CanDetail() const { return !listed_.empty() && !NativeDv(); }
    bool InformationVisible() const { return pageKind_ == kPageDvCapture; }
    bool InformationEnabled() const { return !listed_.empty() && !NativeDv(); }
    bool CodecVisible() const { return pageKind_ == kPageFileConvert && current_.videoFormatClass == kClassAvi; }

private:
    const ProfileSummary* Find(int32_t cls, const std::string& name) const;
    void UpdateUserFlags();
    bool HasUser(uint32_t category, float rate) const;
    void ApplyCategory(uint32_t category);
    void SetCurrent(const ProfileSummary& summary);
    void SetCurrentByName(int32_t cls, const std::string& name);
    void FillTypes();
    void FillRates();
    void FillProfiles();
    bool Passes(const ProfileSummary& s) const;

    CProfileManager* store_;
    const ProfileStrings& strings_;
    int pageKind_;
    bool divx_;
    std::vector<ProfileSummary> summaries_;
    std::vector<uint32_t> categories_, types_, rates_;
    std::vector<const ProfileSummary*> listed_;
    ProfileSummary current_;
    uint32_t category_ = 0, type_ = 0;
    float frameRate_ = kRateNtscValue;
    bool rateEnabled_ = true;
    int selected_ = -1;
    // User profiles by category (MPEG-1, MPEG-2, H.264) and rate (29.97, 25).
    bool userFlags_[3][2] = {};
};

}  // namespace profiles
