#include "app/profiles/profile_select_model.h"

#include <gtest/gtest.h>

#include <cstring>

#include "app/profiles/tests/profile_test_support.h"

namespace profiles {
namespace {

using Ids = std::vector<uint32_t>;

// A user-made MPEG-class or H.264 profile copied from a built-in one, at `rate` frames/s.
ProfileRecord UserCopy(CProfileManager& store, int32_t cls, const char* from, const char* name, float rate) {
    ProfileRecord r;
    std::memset(&r, 0, sizeof r);
    if (cls == kClassH264)
        AllocH264Params(r);
    else
        AllocMpegParams(r);
    r.head.attribute = 3;
    EXPECT_EQ(store.ReadProfile(cls, 0, r, from, 0), kProfileOk) << from;
    std::strcpy(r.head.name, name);
    r.head.group = kGroupUser;
    r.head.attribute |= kAttrUserMade;
    if (cls == kClassH264)
        r.block.h264.frameRate = rate;
    else
        FindMpegParam(r.block.mpeg, kParamFrameRate)->value.f = rate;
    EXPECT_EQ(store.WriteProfile(r, nullptr), kProfileOk);
    return r;
}

std::vector<std::string> Names(const ProfileSelectModel& m) {
    std::vector<std::string> names;
    for (const ProfileSummary* s : m.Listed())
        names.push_back(s->name);
    return names;
}

class SelectModel : public ::testing::Test {
protected:
    testing::FakeStrings strings;
    testing::TempAppFolder folder;
    CProfileManager store{strings, folder};
};

TEST_F(SelectModel, CategoriesAndTypesFollowThePageAndTheInstalledCodecs) {
    ProfileSelectModel file(&store, strings, kPageFileConvert, false);
    file.Open(kClassH264, "S7132", 29.97f);
    EXPECT_EQ(file.Categories(), (Ids{kCategoryMpeg1, kCategoryMpeg2, kCategoryH264}));
    EXPECT_EQ(file.Category(), kCategoryH264);
    EXPECT_EQ(file.Types(), (Ids{kTypeStandard, kTypeAll}));
    ASSERT_GE(file.Selected(), 0);
    EXPECT_EQ(file.Current().name, "S7132");
    EXPECT_TRUE(file.CanCreate());
    EXPECT_FALSE(file.CanEdit());
    EXPECT_FALSE(file.InformationVisible());

    ProfileSelectModel withDivx(&store, strings, kPageFileConvert, true);
    withDivx.Open(kClassAvi, "S5006", 25.0f);
    EXPECT_EQ(withDivx.Categories().back(), uint32_t(kCategoryAvi));
    EXPECT_EQ(withDivx.Types(), (Ids{kTypeStandard}));  // no "all" for AVI
    EXPECT_TRUE(withDivx.CodecVisible());

    ProfileSelectModel dv(&store, strings, kPageDvCapture, false);
    dv.Open(kClassDv, "", 29.97f);
    EXPECT_EQ(dv.Categories().front(), uint32_t(kCategoryNativeDv));
    EXPECT_TRUE(dv.NativeDv());
    EXPECT_FALSE(dv.RateEnabled());
    EXPECT_TRUE(dv.Listed().empty());
    EXPECT_FALSE(dv.CanCreate());
}

TEST_F(SelectModel, RealTimeTypeKeepsOnlyRealTimeMpegProfiles) {
    ProfileSelectModel m(&store, strings, kPageDvCapture, false);
    m.Open(kClassMpeg1, "S5042", 29.97f);
    ASSERT_EQ(m.Type(), uint32_t(kTypeRealTime));
    ASSERT_FALSE(m.Listed().empty());
    for (const ProfileSummary* s : m.Listed()) {
        EXPECT_EQ(s->speedQuality, 1) << s->name;
        EXPECT_EQ(CategoryOfClass(s->videoFormatClass), uint32_t(kCategoryMpeg1));
    }
    EXPECT_FALSE(m.RateEnabled());
    m.ChooseType(kTypeAll);
    EXPECT_GT(m.Listed().size(), 0u);
}

TEST_F(SelectModel, UserProfilesAreListedByFrameRateAndLeaveWithTheLastOne) {
    UserCopy(store, kClassMpeg1, "S5046", "mine 25", 25.0f);
    UserCopy(store, kClassMpeg1, "S5046", "mine 30", 29.97f);
    UserCopy(store, kClassMpeg1, "S5046", "odd rate", 24.0f);  // sets no flag, never listed as user
    ProfileSelectModel m(&store, strings, kPageFileConvert, false);
    m.Open(kClassMpeg1, "S5046", 29.97f);
    EXPECT_EQ(m.Types(), (Ids{kTypeStandard, kTypeUser, kTypeAll}));
    m.ChooseType(kTypeUser);
    EXPECT_EQ(m.Rates(), (Ids{kRateNtsc, kRatePal}));
    EXPECT_EQ(Names(m), std::vector<std::string>{"mine 30"});
    EXPECT_TRUE(m.CanEdit());
    m.ChooseRate(kRatePal);
    EXPECT_EQ(Names(m), std::vector<std::string>{"mine 25"});
    EXPECT_EQ(m.Current().name, "mine 25");

    ASSERT_EQ(store.DeleteProfile(kClassMpeg1, "mine 25"), kProfileOk);
    m.Removed();
    EXPECT_EQ(m.Types(), (Ids{kTypeStandard, kTypeUser, kTypeAll}));
    m.ChooseType(kTypeUser);
    EXPECT_EQ(m.Rates(), Ids{kRateNtsc});
    EXPECT_EQ(Names(m), std::vector<std::string>{"mine 30"});
    ASSERT_EQ(store.DeleteProfile(kClassMpeg1, "mine 30"), kProfileOk);
    m.Removed();
    EXPECT_EQ(m.Types(), (Ids{kTypeStandard, kTypeAll}));
    EXPECT_FALSE(m.Current().IsUser());
}

TEST_F(SelectModel, AStoredProfileBecomesTheCurrentUserProfile) {
    ProfileSelectModel m(&store, strings, kPageFileConvert, false);
    m.Open(kClassH264, "S7132", 25.0f);
    const ProfileRecord made = UserCopy(store, kClassH264, "S7132", "my h264", 25.0f);
    m.Stored(made, "");
    EXPECT_EQ(m.Type(), uint32_t(kTypeUser));
    EXPECT_EQ(m.Current().name, "my h264");
    EXPECT_EQ(Names(m), std::vector<std::string>{"my h264"});
    ProfileRecord renamed = made;
    std::strcpy(renamed.head.name, "renamed");
    m.Stored(renamed, "my h264");
    EXPECT_EQ(Names(m), std::vector<std::string>{"renamed"});
    // Back to the standard type: the category's default is current again.
    m.ChooseType(kTypeStandard);
    EXPECT_EQ(m.Current().name, "S7132");
}

TEST_F(SelectModel, WithoutAStoreTheListsStayEmpty) {
    ProfileSelectModel m(nullptr, strings, kPageFileConvert, false);
    m.Open(kClassMpeg1, "S5046", 29.97f);
    EXPECT_TRUE(m.Listed().empty());
    EXPECT_FALSE(m.CanCreate());
    EXPECT_FALSE(m.CanDetail());
}

}  // namespace
}  // namespace profiles
