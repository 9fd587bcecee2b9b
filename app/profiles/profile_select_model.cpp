#include "app/profiles/profile_select_model.h"

#include <cstring>

namespace profiles {
namespace {

// Classes in the order their profiles are listed.
constexpr int32_t kListedClasses[] = {kClassMpeg1, kClassMpeg2, kClassVcd, kClassSvcd,
                                      kClassDvd,   kClassAvi,   kClassH264};

bool IsDiscClass(int32_t cls) {
    return cls == kClassVcd || cls == kClassSvcd || cls == kClassDvd;
}

int FamilyIndex(uint32_t category) {
    switch (category) {
        case kCategoryMpeg1:
            return 0;
        case kCategoryMpeg2:
            return 1;
        case kCategoryH264:
            return 2;
        default:
            return -1;
    }
}

int RateIndex(float rate) {
    if (rate == kRateNtscValue) return 0;
    if (rate == kRatePalValue) return 1;
    return -1;
}

}  // namespace

ProfileSummary SummaryOf(const ProfileRecord& record) {
    ProfileSummary s;
    const ProfileHead& h = record.head;
    s.videoFormatClass = h.videoFormatClass;
    s.name.assign(h.name, strnlen(h.name, sizeof h.name));
    s.attribute = h.attribute;
    s.description.assign(h.description, strnlen(h.description, sizeof h.description));
    if (IsMpegFormatClass(h.videoFormatClass)) {
        if (const MpegParam* p = FindMpegParam(record.block.mpeg, kParamSpeedQuality)) s.speedQuality = p->value.i;
        if (const MpegParam* p = FindMpegParam(record.block.mpeg, kParamFrameRate)) s.frameRate = p->value.f;
    } else if (h.videoFormatClass == kClassH264) {
        s.frameRate = record.block.h264.frameRate;
    }
    return s;
}

uint32_t CategoryOfClass(int32_t cls) {
    switch (cls) {
        case kClassMpeg1:
        case kClassVcd:
            return kCategoryMpeg1;
        case kClassMpeg2:
        case kClassSvcd:
        case kClassDvd:
            return kCategoryMpeg2;
        case kClassH264:
            return kCategoryH264;
        case kClassAvi:
            return kCategoryAvi;
        case kClassDv:
            return kCategoryNativeDv;
        default:
            return 0;
    }
}

ProfileSelectModel::ProfileSelectModel(CProfileManager* store, const ProfileStrings& strings, int pageKind,
                                       bool divxInstalled)
    : store_(store), strings_(strings), pageKind_(pageKind), divx_(divxInstalled) {
    if (pageKind_ == kPageDvCapture) categories_.push_back(kCategoryNativeDv);
    categories_.insert(categories_.end(), {kCategoryMpeg1, kCategoryMpeg2, kCategoryH264});
    if (pageKind_ == kPageFileConvert && divx_) categories_.push_back(kCategoryAvi);
}

void ProfileSelectModel::Open(int32_t cls, const std::string& name, float frameRate) {
    summaries_.clear();
    if (store_ != nullptr) {
        for (int32_t c : kListedClasses) {
            // A profile that cannot be read is left out; the rest are listed.
            store_->ListProfiles(c, static_cast<uint32_t>(pageKind_), [&](const ProfileRecord& r) {
                summaries_.push_back(SummaryOf(r));
                return true;
            });
        }
    }
    UpdateUserFlags();
    frameRate_ = frameRate;
    SetCurrentByName(cls, name);
    if (cls == kClassDv) {
        ApplyCategory(kCategoryNativeDv);
        return;
    }
    uint32_t category = CategoryOfClass(cls);
    bool known = false;
    for (uint32_t c : categories_)
        known = known || c == category;
    if (!known) {
        ApplyCategory(kCategoryH264);
        return;
    }
    category_ = category;
    frameRate_ = current_.frameRate == kRateNtscValue ? kRateNtscValue : kRatePalValue;
    FillTypes();
    FillRates();
    FillProfiles();
}

const ProfileSummary* ProfileSelectModel::Find(int32_t cls, const std::string& name) const {
    for (const ProfileSummary& s : summaries_) {
        if (s.videoFormatClass == cls && s.name == name) return &s;
    }
    return nullptr;
}

void ProfileSelectModel::SetCurrent(const ProfileSummary& summary) {
    current_ = summary;
}

void ProfileSelectModel::SetCurrentByName(int32_t cls, const std::string& name) {
    if (const ProfileSummary* s = Find(cls, name)) {
        current_ = *s;
        return;
    }
    current_ = ProfileSummary{};
    current_.videoFormatClass = cls;
    current_.name = name;
    current_.frameRate = frameRate_;
}

void ProfileSelectModel::UpdateUserFlags() {
    std::memset(userFlags_, 0, sizeof userFlags_);
    for (const ProfileSummary& s : summaries_) {
        const int family = FamilyIndex(CategoryOfClass(s.videoFormatClass));
        const int rate = RateIndex(s.frameRate);
        if (s.IsUser() && family >= 0 && rate >= 0) userFlags_[family][rate] = true;
    }
}

bool ProfileSelectModel::HasUser(uint32_t category, float rate) const {
    const int family = FamilyIndex(category);
    if (family < 0) return false;
    const int r = RateIndex(rate);
    if (r >= 0) return userFlags_[family][r];
    return userFlags_[family][0] || userFlags_[family][1];
}

// The category's default profile, made current; the choices are refilled by the caller.
void ProfileSelectModel::ApplyCategory(uint32_t category) {
    category_ = category;
    const bool file = pageKind_ == kPageFileConvert;
    switch (category) {
        case kCategoryMpeg1:
            SetCurrentByName(kClassMpeg1, strings_.Load(file ? 5046 : 5042));
            break;
        case kCategoryMpeg2:
            SetCurrentByName(kClassMpeg2, strings_.Load(file ? 5116 : 5113));
            break;
        case kCategoryH264:
            SetCurrentByName(kClassH264, strings_.Load(7132));
            break;
        case kCategoryAvi:
            SetCurrentByName(kClassAvi, strings_.Load(5006));
            break;
        default:
            current_ = ProfileSummary{};
            current_.videoFormatClass = kClassDv;
            types_ = {kNativeDvType};
            rates_ = {kRateNtsc, kRatePal};
            rateEnabled_ = false;
            listed_.clear();
            selected_ = -1;
            type_ = kNativeDvType;
            return;
    }
    FillTypes();
    FillRates();
    FillProfiles();
}

void ProfileSelectModel::FillTypes() {
    types_.clear();
    types_.push_back(pageKind_ == kPageFileConvert ? kTypeStandard : kTypeRealTime);
    if (HasUser(category_, 0)) types_.push_back(kTypeUser);
    if (current_.videoFormatClass != kClassAvi) types_.push_back(kTypeAll);
    if (current_.IsUser()) {
        type_ = kTypeUser;
    } else if (pageKind_ == kPageFileConvert) {
        type_ = kTypeStandard;
    } else {
        type_ = current_.speedQuality == 3 ? kTypeHighQuality : kTypeRealTime;
    }
}

void ProfileSelectModel::FillRates() {
    rates_.clear();
    rateEnabled_ = !(pageKind_ == kPageDvCapture && type_ != kTypeUser);
    for (uint32_t r : {kRateNtsc, kRatePal}) {
        const float value = r == kRateNtsc ? kRateNtscValue : kRatePalValue;
        if (type_ != kTypeUser || HasUser(category_, value)) rates_.push_back(r);
    }
    // With only user profiles shown, the choice moves to a rate that has some.
    if (!rates_.empty() && type_ == kTypeUser && !HasUser(category_, frameRate_))
        frameRate_ = rates_.front() == kRateNtsc ? kRateNtscValue : kRatePalValue;
}

bool ProfileSelectModel::Passes(const ProfileSummary& s) const {
    if (CategoryOfClass(s.videoFormatClass) != category_) return false;
    const bool mpeg = IsMpegFormatClass(s.videoFormatClass);
    switch (type_) {
        case kTypeStandard:
            if (s.IsUser()) return false;
            break;
        case kTypeRealTime:
            if (s.IsUser() || (mpeg && s.speedQuality != 1)) return false;
            break;
        case kTypeHighQuality:
            if (s.IsUser() || (mpeg && s.speedQuality != 3)) return false;
            break;
        case kTypeUser:
            if (!s.IsUser()) return false;
            break;
        default:
            break;
    }
    if ((IsDiscClass(s.videoFormatClass) || s.IsUser()) && s.frameRate != frameRate_) return false;
    return true;
}

void ProfileSelectModel::FillProfiles() {
    listed_.clear();
    selected_ = -1;
    for (const ProfileSummary& s : summaries_) {
        if (Passes(s)) listed_.push_back(&s);
    }
    // The current profile: its own entry, else the first whose name begins with its name.
    for (size_t i = 0; i < listed_.size() && selected_ < 0; ++i) {
        if (listed_[i]->videoFormatClass == current_.videoFormatClass && listed_[i]->name == current_.name)
            selected_ = static_cast<int>(i);
    }
    for (size_t i = 0; i < listed_.size() && selected_ < 0; ++i) {
        if (listed_[i]->name.compare(0, current_.name.size(), current_.name) == 0) selected_ = static_cast<int>(i);
    }
    // A profile the list does not show is never the one OK stores.
    if (selected_ < 0 && !listed_.empty()) selected_ = 0;
    if (selected_ >= 0) current_ = *listed_[static_cast<size_t>(selected_)];
}

void ProfileSelectModel::ChooseCategory(uint32_t category) {
    if (category == category_) return;
    ApplyCategory(category);
}

void ProfileSelectModel::ChooseType(uint32_t type) {
    if (type == type_ || NativeDv()) return;
    const bool mpeg = IsMpegFormatClass(current_.videoFormatClass);
    if (type == kTypeUser) {
        const ProfileSummary* keep = current_.IsUser() ? Find(current_.videoFormatClass, current_.name) : nullptr;
        if (keep == nullptr) {
            for (const ProfileSummary& s : summaries_) {
                if (s.IsUser() && CategoryOfClass(s.videoFormatClass) == category_) {
                    keep = &s;
                    break;
                }
            }
        }
        if (keep != nullptr) current_ = *keep;
    } else if ((type == kTypeRealTime || type == kTypeHighQuality) && pageKind_ == kPageDvCapture && mpeg) {
        const int32_t want = type == kTypeRealTime ? 1 : 3;
        if (current_.speedQuality != want) {
            for (const ProfileSummary& s : summaries_) {
                if (!s.IsUser() && s.videoFormatClass == current_.videoFormatClass && s.speedQuality == want) {
                    current_ = s;
                    break;
                }
            }
        }
    } else if ((type == kTypeStandard && pageKind_ == kPageFileConvert && current_.IsUser()) ||
               (pageKind_ == kPageDvCapture && current_.IsUser() && current_.videoFormatClass == kClassH264)) {
        ApplyCategory(category_);
    }
    type_ = type;
    FillRates();
    FillProfiles();
}

void ProfileSelectModel::ChooseRate(uint32_t rate) {
    const float value = rate == kRateNtsc ? kRateNtscValue : kRatePalValue;
    if (value == frameRate_) return;
    frameRate_ = value;
    const uint32_t type = type_;
    if (IsDiscClass(current_.videoFormatClass)) {
        ApplyCategory(current_.videoFormatClass == kClassVcd ? kCategoryMpeg1 : kCategoryMpeg2);
        type_ = type;
    } else if (current_.videoFormatClass == kClassH264 && current_.IsUser() && current_.frameRate != value) {
        ApplyCategory(kCategoryH264);
        type_ = type;
    } else {
        current_.frameRate = value;
    }
    FillRates();
    FillProfiles();
}

void ProfileSelectModel::ChooseProfile(const std::string& name) {
    for (size_t i = 0; i < listed_.size(); ++i) {
        if (listed_[i]->name == name) {
            current_ = *listed_[i];
            selected_ = static_cast<int>(i);
            return;
        }
    }
}

bool ProfileSelectModel::CanCreate() const {
    const int32_t cls = current_.videoFormatClass;
    return (IsMpegFormatClass(cls) || cls == kClassH264) && !listed_.empty() && !NativeDv();
}

void ProfileSelectModel::Stored(const ProfileRecord& record, const std::string& oldName) {
    const ProfileSummary s = SummaryOf(record);
    bool replaced = false;
    if (!oldName.empty()) {
        for (ProfileSummary& old : summaries_) {
            if (old.IsUser() && old.videoFormatClass == s.videoFormatClass && old.name == oldName) {
                old = s;
                replaced = true;
                break;
            }
        }
    }
    if (!replaced) summaries_.push_back(s);
    UpdateUserFlags();
    current_ = s;
    category_ = CategoryOfClass(s.videoFormatClass);
    if (RateIndex(s.frameRate) >= 0) frameRate_ = s.frameRate;
    FillTypes();
    type_ = kTypeUser;
    FillRates();
    FillProfiles();
}

void ProfileSelectModel::Removed() {
    for (size_t i = 0; i < summaries_.size(); ++i) {
        const ProfileSummary& s = summaries_[i];
        if (s.IsUser() && s.videoFormatClass == current_.videoFormatClass && s.name == current_.name) {
            summaries_.erase(summaries_.begin() + static_cast<std::ptrdiff_t>(i));
            break;
        }
    }
    UpdateUserFlags();
    ApplyCategory(category_);
}

}  // namespace profiles
