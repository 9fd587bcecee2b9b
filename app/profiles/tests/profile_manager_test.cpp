#include "app/profiles/profile_manager.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "app/profiles/tests/profile_test_support.h"

namespace profiles {
namespace {

ProfileRecord WithMask(uint32_t mask) {
    ProfileRecord r;
    std::memset(&r, 0, sizeof r);
    r.head.attribute = mask;
    return r;
}

ProfileRecord UserProfile(int32_t cls, const char* name) {
    ProfileRecord r = WithMask(0);
    std::strcpy(r.head.className, "user");
    std::strcpy(r.head.name, name);
    r.head.group = kGroupUser;
    r.head.videoFormatClass = cls;
    r.head.attribute = 0xC3;
    if (IsMpegFormatClass(cls)) InitMpegLayout(r.block.mpeg);
    return r;
}

class ProfileStore : public ::testing::Test {
protected:
    // Identifier of the built-in slot whose values a record carries (by NameID and class).
    uint32_t SlotIdentifier(const ProfileRecord& r) {
        for (uint32_t i = 0; i < store.SlotCount(); ++i) {
            const ProfileSlot& s = store.Slot(i);
            if (s.head.nameId == r.head.nameId && s.head.videoFormatClass == r.head.videoFormatClass &&
                s.head.attribute == r.head.attribute) {
                return s.identifier;
            }
        }
        return 0;
    }
    void Write(const ProfileRecord& r) { ASSERT_EQ(store.WriteProfile(r, nullptr), kProfileOk); }

    testing::FakeStrings strings;
    testing::TempAppFolder folder;
    CProfileManager store{strings, folder};
};

TEST_F(ProfileStore, ProfileFileLivesInTheAppDataFolder) {
    EXPECT_EQ(store.ProfilePath(), folder.dir() + "Profile.ini");
}

TEST_F(ProfileStore, TheMaskPicksAmongBuiltins) {
    ProfileRecord r = WithMask(1);
    ASSERT_EQ(store.ReadProfile(kClassVcd, 0, r, nullptr, 0), kProfileOk);
    EXPECT_EQ(SlotIdentifier(r), 201u);
    r = WithMask(2);
    ASSERT_EQ(store.ReadProfile(kClassVcd, 0, r, nullptr, 0), kProfileOk);
    EXPECT_EQ(SlotIdentifier(r), 205u);
    // MPEG-1 profiles 4 and 7 share their name.
    r = WithMask(1);
    ASSERT_EQ(store.ReadProfile(kClassMpeg1, 0, r, "S5044", 0), kProfileOk);
    EXPECT_EQ(SlotIdentifier(r), 4u);
    r = WithMask(2);
    ASSERT_EQ(store.ReadProfile(kClassMpeg1, 0, r, "S5044", 0), kProfileOk);
    EXPECT_EQ(SlotIdentifier(r), 7u);
}

TEST_F(ProfileStore, IndexContinuesFromBuiltinsIntoTheFile) {
    Write(UserProfile(kClassDv, "first"));
    Write(UserProfile(kClassMpeg1, "other class"));
    Write(UserProfile(kClassDv, "second"));
    // DV built-ins offered to the file page: 701-708.
    ProfileRecord r = WithMask(2);
    ASSERT_EQ(store.ReadProfile(kClassDv, 7, r, nullptr, 0), kProfileOk);
    EXPECT_EQ(SlotIdentifier(r), 708u);
    r = WithMask(2);
    ASSERT_EQ(store.ReadProfile(kClassDv, 8, r, nullptr, 0), kProfileOk);
    EXPECT_STREQ(r.head.name, "first");
    r = WithMask(2);
    ASSERT_EQ(store.ReadProfile(kClassDv, 9, r, nullptr, 0), kProfileOk);
    EXPECT_STREQ(r.head.name, "second");
    r = WithMask(2);
    EXPECT_EQ(store.ReadProfile(kClassDv, 10, r, nullptr, 0), kProfileFail);
    EXPECT_EQ(r.head.videoFormatClass, kClassLookupFailed);
    EXPECT_EQ(r.head.attribute, 2u);
    // No DV built-in is offered to the capture page: index 0 is the first user profile.
    r = WithMask(1);
    ASSERT_EQ(store.ReadProfile(kClassDv, 0, r, nullptr, 0), kProfileOk);
    EXPECT_STREQ(r.head.name, "first");
}

TEST_F(ProfileStore, FileBlocksAreFilteredByMaskAndName) {
    ProfileRecord capture = UserProfile(kClassDv, "cap");
    Write(capture);
    std::string text = testing::ReadWhole(store.ProfilePath());
    // A block stored for the capture page only, and one without a class line.
    text += testing::WithLineEnds(
        "\n&\n<Name>only1\n<Video Format Class>2\n<Attribute>81\n&&\n"
        "\n&\n<Name>classless\n&&\n");
    testing::WriteWhole(store.ProfilePath(), text);
    ProfileRecord r = WithMask(2);
    EXPECT_EQ(store.ReadProfile(kClassDv, 0, r, "only1", 0), kProfileFail);
    r = WithMask(1);
    EXPECT_EQ(store.ReadProfile(kClassDv, 0, r, "only1", 0), kProfileOk);
    r = WithMask(3);
    EXPECT_EQ(store.ReadProfile(kClassDv, 0, r, "classless", 0), kProfileFail);
    EXPECT_EQ(store.ProfileNameExists(kClassDv, "cap"), 1);
    EXPECT_EQ(store.ProfileNameExists(kClassDv, "S5009"), 1);
    EXPECT_EQ(store.ProfileNameExists(kClassAvi, "cap"), 0);
    EXPECT_EQ(store.ProfileNameExists(kClassDv, "classless"), 0);

    uint32_t n = 0;
    ASSERT_EQ(store.CountProfiles(kClassDv, &n), kProfileOk);
    EXPECT_EQ(n, 8u + 2u);
    ASSERT_EQ(store.CountProfiles(-1, &n), kProfileOk);
    EXPECT_EQ(n, 77u + 3u);
    ASSERT_EQ(store.CountFileProfiles(&n), kProfileOk);
    EXPECT_EQ(n, 3u);
    int32_t cls = 0;
    ASSERT_EQ(store.GetFileProfileClass(1, &cls), kProfileOk);
    EXPECT_EQ(cls, kClassDv);
    EXPECT_EQ(store.GetFileProfileClass(3, &cls), kProfileFail);
}

TEST_F(ProfileStore, MissingFileIsCreatedByLookupsOnly) {
    uint32_t n = 0;
    EXPECT_EQ(store.CountFileProfiles(&n), kProfileFail);
    int32_t cls;
    EXPECT_EQ(store.GetFileProfileClass(0, &cls), kProfileFail);
    EXPECT_FALSE(DefaultProfileFileSystem().Exists(store.ProfilePath()));
    ASSERT_EQ(store.CountProfiles(kClassH264, &n), kProfileOk);
    EXPECT_EQ(n, 3u);
    EXPECT_TRUE(DefaultProfileFileSystem().Exists(store.ProfilePath()));
}

TEST_F(ProfileStore, StreamInfoListIsEmpty) {
    uint32_t n = 9;
    EXPECT_EQ(store.CountProfiles(kClassStreamInfo, &n), kProfileOk);
    EXPECT_EQ(n, 0u);
    ProfileRecord r = WithMask(2);
    EXPECT_EQ(store.ReadProfile(kClassStreamInfo, 0, r, nullptr, 0), kStreamInfoMissing);
    EXPECT_EQ(store.ReadProfile(kClassStreamInfo, 0, r, "x", 0), kStreamInfoMissing);
    EXPECT_EQ(store.FindStreamInfoProfile(kClassLookupFailed, "x", r), kStreamInfoMissing);
    EXPECT_EQ(store.CountStreamInfoProfiles(kClassAvi, &n), kProfileOk);
    EXPECT_EQ(n, 0u);

    store.StreamInfo().entries.push_back({"wm", "desc", "<profile/>", {1, 2, 3, 4}, nullptr});
    ASSERT_EQ(store.ReadProfile(kClassStreamInfo, 0, r, "wm", 0), kProfileOk);
    EXPECT_STREQ(r.head.className, "WM");
    EXPECT_EQ(r.head.streamFlag, 3);
    EXPECT_STREQ(r.block.streamInfo.text, "<profile/>");
    EXPECT_EQ(r.block.streamInfo.values[3], 4u);
}

TEST_F(ProfileStore, TheCamcordersProfileIsFoundByItsGroup) {
    ProfileRecord r = WithMask(kAttrDvCapturePage);
    ASSERT_EQ(store.FindGroupProfile(kClassMpeg2, kGroupCamcorder, kAttrDvCapturePage, r), kProfileOk);
    EXPECT_EQ(r.head.group, kGroupCamcorder);
    EXPECT_EQ(r.head.videoFormatClass, kClassMpeg2);
    EXPECT_EQ(r.head.nameId, 5183u);
    EXPECT_EQ(store.FindGroupProfile(kClassMpeg2, 7, kAttrDvCapturePage, r), kProfileFail);
}

TEST_F(ProfileStore, DefaultProfilesOfEveryKind) {
    const uint32_t expected[] = {2, 8, 108, 902, 0, 601, 701, 209, 206, 412, 409, 309, 306};
    for (int kind = 0; kind < 13; ++kind) {
        ProfileRecord r = WithMask(3);
        const ProfileStatus s = store.GetDefaultProfile(kind, r);
        if (expected[kind] == 0) {
            EXPECT_EQ(s, kProfileFail) << kind;
        } else {
            ASSERT_EQ(s, kProfileOk) << kind;
            EXPECT_EQ(SlotIdentifier(r), expected[kind]) << kind;
        }
    }
    // Kind 4 has no built-in; a user Real profile of that name is found.
    ProfileRecord real = UserProfile(kClassReal, "S5163");
    Write(real);
    ProfileRecord r = WithMask(1);
    EXPECT_EQ(store.GetDefaultProfile(4, r), kProfileOk);
    EXPECT_EQ(store.GetDefaultProfile(13, r), kProfileFail);
    EXPECT_EQ(store.GetDefaultProfile(-1, r), kProfileFail);
}

TEST_F(ProfileStore, AviFrameSizeByName) {
    struct Case {
        const char* name;
        bool ntsc;
        int w, h;
    } cases[] = {{"S5004", true, 160, 120},
                 {"S5005", true, 352, 240},
                 {"S5005", false, 352, 288},
                 {"S5006", true, 720, 480},
                 {"S5006", false, 720, 576}};
    for (const Case& c : cases) {
        ProfileRecord r = WithMask(0);
        std::strcpy(r.head.name, c.name);
        EXPECT_EQ(store.ApplyAviFrameSize(r, c.ntsc), kProfileOk);
        EXPECT_EQ(r.block.avi.width, c.w);
        EXPECT_EQ(r.block.avi.height, c.h);
    }
    ProfileRecord r = WithMask(0);
    std::strcpy(r.head.name, "S5007");
    r.block.avi.width = 5;
    const ProfileRecord before = r;
    EXPECT_EQ(store.ApplyAviFrameSize(r, true), kProfileFail);
    EXPECT_EQ(std::memcmp(&r, &before, sizeof r), 0);
}

TEST_F(ProfileStore, TwoAviProfilesKeepTheirOwnAudioFormats) {
    ProfileRecord a = UserProfile(kClassAvi, "pcm");
    a.block.avi.wave = {1, 2, 48000, 192000, 4, 16, 0, 0};
    a.block.avi.hasWave = 1;
    ProfileRecord b = UserProfile(kClassAvi, "mp3");
    b.block.avi.wave = {85, 1, 22050, 4000, 1, 0, 0, 0};
    b.block.avi.hasWave = 1;
    Write(a);
    Write(b);
    ProfileRecord ra = WithMask(2), rb = WithMask(2);
    ASSERT_EQ(store.ReadProfile(kClassAvi, 0, ra, "pcm", 0), kProfileOk);
    ASSERT_EQ(store.ReadProfile(kClassAvi, 0, rb, "mp3", 0), kProfileOk);
    EXPECT_EQ(std::memcmp(&ra.block.avi.wave, &a.block.avi.wave, sizeof a.block.avi.wave), 0);
    EXPECT_EQ(std::memcmp(&rb.block.avi.wave, &b.block.avi.wave, sizeof b.block.avi.wave), 0);
}

TEST_F(ProfileStore, KeepOrgSizeTravelsWithItsProfileInEitherOrder) {
    ProfileRecord keep = UserProfile(kClassH264, "keep");
    AllocH264Params(keep);
    keep.block.h264.keepOrgSize = 1;
    ProfileRecord scale = UserProfile(kClassH264, "scale");
    AllocH264Params(scale);
    Write(keep);
    Write(scale);
    for (bool keepFirst : {true, false}) {
        ProfileRecord first = WithMask(2), second = WithMask(2);
        const char* names[2] = {keepFirst ? "keep" : "scale", keepFirst ? "scale" : "keep"};
        ASSERT_EQ(store.ReadProfile(kClassH264, 0, first, names[0], 0), kProfileOk);
        ASSERT_EQ(store.ReadProfile(kClassH264, 0, second, names[1], 0), kProfileOk);
        EXPECT_EQ(first.block.h264.keepOrgSize, keepFirst ? 1 : 0);
        EXPECT_EQ(second.block.h264.keepOrgSize, keepFirst ? 0 : 1);
        int32_t last = -1;
        store.GetKeepOrgSize(&last);
        EXPECT_EQ(last, keepFirst ? 0 : 1);  // the store answers for the record read last
    }
    ProfileRecord builtin = WithMask(2);
    ASSERT_EQ(store.ReadProfile(kClassH264, 0, builtin, nullptr, 0), kProfileOk);
    int32_t last = -1;
    store.GetKeepOrgSize(&last);
    EXPECT_EQ(last, 0);
    EXPECT_EQ(builtin.block.h264.keepOrgSize, 0);
    store.SetKeepOrgSize(1);
    store.GetKeepOrgSize(&last);
    EXPECT_EQ(last, 1);
}

TEST_F(ProfileStore, DeleteRemovesOnlyThatClassAndNameAndKeepsTheRestByteForByte) {
    Write(UserProfile(kClassDv, "gone"));
    Write(UserProfile(kClassDv, "stay"));
    Write(UserProfile(kClassMpeg1, "gone"));  // same name, other class
    Write(UserProfile(kClassDv, "gone"));
    std::string before = testing::ReadWhole(store.ProfilePath());
    // Blocks the store does not own or cannot read are kept as they are: a built-in group, a
    // block for no page, a hand-edited block, and trailing text outside blocks.
    const std::string foreign = testing::WithLineEnds(
        "\n&\n<Name>gone\n<Group>1\n<Video Format Class>2\n&&\n"
        "\n&\n<Name>gone\n<Group>2\n<Video Format Class>2\n<Attribute>80\n&&\n"
        "\n&\n<Name>odd\n<Video Format Class>2\n<Description>\n  spaced  \n&&\n");
    before += foreign + "tail without line end";
    testing::WriteWhole(store.ProfilePath(), before);

    ASSERT_EQ(store.DeleteProfile(kClassDv, "nobody"), kProfileOk);
    EXPECT_EQ(testing::ReadWhole(store.ProfilePath()), before);

    ASSERT_EQ(store.DeleteProfile(kClassDv, "gone"), kProfileOk);
    std::string expected;
    {
        // What the writer alone makes of the two survivors, then the foreign text.
        testing::TempAppFolder other;
        CProfileManager fresh(strings, other);
        ASSERT_EQ(fresh.WriteProfile(UserProfile(kClassDv, "stay"), nullptr), kProfileOk);
        ASSERT_EQ(fresh.WriteProfile(UserProfile(kClassMpeg1, "gone"), nullptr), kProfileOk);
        expected = testing::ReadWhole(fresh.ProfilePath());
    }
    // The Group 2 block with Attribute 80 is a user profile of that class and name: removed.
    const std::string kept = testing::WithLineEnds(
        "\n&\n<Name>gone\n<Group>1\n<Video Format Class>2\n&&\n"
        "\n&\n<Name>odd\n<Video Format Class>2\n<Description>\n  spaced  \n&&\n");
    EXPECT_EQ(testing::ReadWhole(store.ProfilePath()), expected + kept + "tail without line end");
    ProfileRecord r = WithMask(3);
    EXPECT_EQ(store.ReadProfile(kClassMpeg1, 0, r, "gone", 0), kProfileOk);
}

TEST_F(ProfileStore, DeleteOfAMissingFileChangesNothing) {
    EXPECT_EQ(store.DeleteProfile(kClassDv, "x"), kProfileOk);
    EXPECT_FALSE(DefaultProfileFileSystem().Exists(store.ProfilePath()));
}

// Every step of the replacement made to fail in turn: the old file stays whole and no
// temporary file is left; once no step fails, the change is made. An edit (replace) never
// loses the old profile without the new one written.
TEST_F(ProfileStore, FailedWritesAndDeletesKeepEveryProfile) {
    Write(UserProfile(kClassDv, "a"));
    Write(UserProfile(kClassDv, "b"));
    const std::string original = testing::ReadWhole(store.ProfilePath());
    const std::string temp = store.ProfilePath() + ".new";
    ProfileRecord edited = UserProfile(kClassDv, "a edited");
    std::strcpy(edited.head.description, "changed");
    for (int op = 0; op < 3; ++op) {
        bool succeeded = false;
        for (int failAt = 0; !succeeded && failAt < 10; ++failAt) {
            testing::FaultyFileSystem fs(failAt);
            CProfileManager faulty(strings, folder, &fs);
            const ProfileStatus s = op == 0   ? faulty.DeleteProfile(kClassDv, "a")
                                    : op == 1 ? faulty.WriteProfile(UserProfile(kClassDv, "c"), nullptr)
                                              : faulty.ReplaceProfile(kClassDv, "a", edited);
            SCOPED_TRACE(std::to_string(op) + " fails at " + std::to_string(failAt));
            EXPECT_FALSE(DefaultProfileFileSystem().Exists(temp));
            if (fs.steps() <= failAt) {
                ASSERT_EQ(s, kProfileOk);
                succeeded = true;
                EXPECT_GE(failAt, 4);  // open, write, commit, replace
            } else {
                EXPECT_EQ(s, kProfileFail);
                EXPECT_EQ(testing::ReadWhole(store.ProfilePath()), original);
            }
        }
        ASSERT_TRUE(succeeded);
        uint32_t n = 0;
        ASSERT_EQ(store.CountFileProfiles(&n), kProfileOk);
        EXPECT_EQ(n, op == 0 ? 1u : op == 1 ? 3u : 2u);
        if (op == 2) {
            ProfileRecord r = WithMask(3);
            EXPECT_EQ(store.ReadProfile(kClassDv, 0, r, "a", 0), kProfileFail);
            ASSERT_EQ(store.ReadProfile(kClassDv, 0, r, "a edited", 0), kProfileOk);
            EXPECT_STREQ(r.head.description, "changed");
        }
        testing::WriteWhole(store.ProfilePath(), original);
    }
}

// A DV user profile block as a hand editor may leave it.
std::string DvBlock(const std::string& name, const char* open = "&", const char* close = "&&") {
    std::string b = std::string("\n") + open + "\n<Class>DV\n<Name>" + name + "\n<Description>\nabout " +
                    name.substr(0, 8) +
                    "\n<Output FileName> \n<Group>2\n<Video Format Class>2\n<Attribute>83\n<VideoFormat>2000\n";
    if (close != nullptr) b += std::string(close) + "\n";
    return b;
}

// A file too large to read is never rewritten, every operation says why it fails, and the
// file can be kept aside whole for a new, empty one.
TEST_F(ProfileStore, AFileTooLargeToReadIsReportedAndCanBeKeptAside) {
    std::string big = testing::WithLineEnds(DvBlock("kept"));
    big.resize(kProfileFileLimit + 1, ' ');
    testing::WriteWhole(store.ProfilePath(), big);
    EXPECT_EQ(store.CheckProfileFile(), kProfileFileFull);
    EXPECT_EQ(store.WriteProfile(UserProfile(kClassDv, "x"), nullptr), kProfileFileFull);
    EXPECT_EQ(store.DeleteProfile(kClassDv, "x"), kProfileFileFull);
    uint32_t n = 0;
    EXPECT_EQ(store.CountProfiles(kClassDv, &n), kProfileFileFull);
    EXPECT_EQ(n, 8u);  // the built-in part is counted
    EXPECT_EQ(testing::ReadWhole(store.ProfilePath()), big);

    std::string aside, secondAside;
    ASSERT_EQ(store.SetProfileFileAside(&aside), kProfileOk);
    EXPECT_EQ(testing::ReadWhole(aside), big);
    EXPECT_EQ(store.CheckProfileFile(), kProfileOk);
    EXPECT_EQ(testing::ReadWhole(store.ProfilePath()), "");
    Write(UserProfile(kClassDv, "fresh"));
    // A second set-aside never overwrites the first.
    ASSERT_EQ(store.SetProfileFileAside(&secondAside), kProfileOk);
    EXPECT_NE(secondAside, aside);
    EXPECT_EQ(testing::ReadWhole(aside), big);
    EXPECT_NE(testing::ReadWhole(secondAside).find("<Name>fresh"), std::string::npos);
}

// Damaged and unusual files: every profile readable before an operation is still readable,
// byte for byte, afterwards (but the one deleted), and every one can still be read and
// deleted by the name the list shows.
TEST_F(ProfileStore, DamagedFilesNeverLoseOrLockOutAProfile) {
    const std::string longName = std::string(127, 'L') + "tail";
    struct Case {
        const char* what;
        std::string text;
        std::vector<std::string> names;  // the profiles a user sees in it
    } cases[] = {
        {"unclosed block before the target", DvBlock("lost", "&", nullptr) + DvBlock("target"), {"lost", "target"}},
        {"unclosed target before another", DvBlock("target", "&", nullptr) + DvBlock("after"), {"target", "after"}},
        {"close mark with blanks",
         DvBlock("before", "&", "&& ") + DvBlock("target") + DvBlock("after", "&", "&&\t"),
         {"before", "target", "after"}},
        {"open mark with blanks", DvBlock("target", "& ") + DvBlock("after"), {"target", "after"}},
        {"byte-order mark", "\xEF\xBB\xBF" + DvBlock("bom").substr(1) + DvBlock("target"), {"bom", "target"}},
        {"byte-order mark, no blank line",
         "\xEF\xBB\xBF&\n<Name>first\n<Group>2\n<Video Format Class>2\n&&\n" + DvBlock("target"),
         {"first", "target"}},
        {"unclosed last block", DvBlock("target") + DvBlock("open end", "&", nullptr), {"target", "open end"}},
        {"unclosed last target", DvBlock("before") + DvBlock("target", "&", nullptr), {"before", "target"}},
        {"long name", DvBlock(longName) + DvBlock("target"), {longName.substr(0, 127), "target"}},
        {"NUL in a name", DvBlock(std::string("nul\0byte", 8)) + DvBlock("target"), {"nul", "target"}},
        {"name followed by a stray line",
         "\n&\n<Name>two\nlines\n<Group>2\n<Video Format Class>2\n&&\n" + DvBlock("target"),
         {"two", "target"}},
    };
    for (const Case& c : cases) {
        for (int op = 0; op < 2; ++op) {
            SCOPED_TRACE(std::string(c.what) + (op == 0 ? ", delete" : ", write"));
            testing::WriteWhole(store.ProfilePath(), testing::WithLineEnds(c.text));
            std::vector<std::string> listed;
            store.ListProfiles(kClassDv, 3, [&](const ProfileRecord& r) {
                if (r.head.group == kGroupUser) listed.emplace_back(r.head.name);
                return true;
            });
            EXPECT_EQ(listed, c.names);
            std::map<std::string, std::string> before;
            for (const std::string& name : c.names) {
                ProfileRecord r = WithMask(3);
                ASSERT_EQ(store.ReadProfile(kClassDv, 0, r, name.c_str(), 0), kProfileOk) << name;
                before[name].assign(reinterpret_cast<const char*>(&r), sizeof r);
            }
            if (op == 0) {
                ASSERT_EQ(store.DeleteProfile(kClassDv, "target"), kProfileOk);
            } else {
                Write(UserProfile(kClassDv, "new"));
                ProfileRecord r = WithMask(3);
                EXPECT_EQ(store.ReadProfile(kClassDv, 0, r, "new", 0), kProfileOk);
            }
            for (const auto& [name, bytes] : before) {
                ProfileRecord r = WithMask(3);
                const ProfileStatus s = store.ReadProfile(kClassDv, 0, r, name.c_str(), 0);
                if (op == 0 && name == "target") {
                    EXPECT_EQ(s, kProfileFail);
                    continue;
                }
                ASSERT_EQ(s, kProfileOk) << name;
                EXPECT_EQ(std::string(reinterpret_cast<const char*>(&r), sizeof r), bytes) << name;
            }
            // Nothing is left that the user can neither read nor delete.
            for (const auto& [name, bytes] : before)
                ASSERT_EQ(store.DeleteProfile(kClassDv, name.c_str()), kProfileOk);
            ASSERT_EQ(store.DeleteProfile(kClassDv, "new"), kProfileOk);
            uint32_t dv = 0;
            ASSERT_EQ(store.CountProfiles(kClassDv, &dv), kProfileOk);
            EXPECT_EQ(dv, 8u);
        }
    }
}

// The store never writes a file it could not read back: a write past the read limit is
// refused and the file stays as it was, readable and changeable.
TEST_F(ProfileStore, AWriteThatWouldOutgrowTheReadLimitIsRefused) {
    const std::string block = testing::WithLineEnds(DvBlock("kept"));
    std::string text = block + std::string(kProfileFileLimit - block.size() - 200, ' ');
    testing::WriteWhole(store.ProfilePath(), text);
    EXPECT_EQ(store.WriteProfile(UserProfile(kClassDv, "one too many"), nullptr), kProfileFileFull);
    EXPECT_EQ(testing::ReadWhole(store.ProfilePath()), text);
    ProfileRecord r = WithMask(3);
    EXPECT_EQ(store.ReadProfile(kClassDv, 0, r, "kept", 0), kProfileOk);
    ASSERT_EQ(store.DeleteProfile(kClassDv, "kept"), kProfileOk);
    EXPECT_EQ(store.WriteProfile(UserProfile(kClassDv, "fits now"), nullptr), kProfileOk);
}

// One listing gives what a lookup by each index gives, in the same order, with one read.
TEST_F(ProfileStore, ListingEqualsLookupByEveryIndex) {
    Write(UserProfile(kClassMpeg1, "u1"));
    std::string text = testing::ReadWhole(store.ProfilePath());
    text += testing::WithLineEnds(
        "\n&\n<Name>hidden\n<Group>2\n<Video Format Class>3\n<Attribute>80\n&&\n"
        "\n&\n<Name>no class\n<Group>2\n&&\n"
        "\n&\n<Name>unclosed\n<Group>2\n<Video Format Class>3\n");
    testing::WriteWhole(store.ProfilePath(), text);
    Write(UserProfile(kClassMpeg1, "u2"));
    for (uint32_t mask : {1u, 2u}) {
        std::vector<std::string> listed;
        ASSERT_EQ(store.ListProfiles(kClassMpeg1, mask,
                                     [&](const ProfileRecord& r) {
                                         listed.emplace_back(reinterpret_cast<const char*>(&r), sizeof r);
                                         return true;
                                     }),
                  kProfileOk);
        std::vector<std::string> looked;
        for (int32_t i = 0;; ++i) {
            ProfileRecord r = WithMask(mask);
            if (store.ReadProfile(kClassMpeg1, i, r, nullptr, 0) != kProfileOk) break;
            looked.emplace_back(reinterpret_cast<const char*>(&r), sizeof r);
        }
        EXPECT_EQ(listed, looked) << mask;
        EXPECT_GE(listed.size(), 3u);
    }
    int visited = 0;
    store.ListProfiles(kClassMpeg1, 2, [&](const ProfileRecord&) { return ++visited < 2; });
    EXPECT_EQ(visited, 2);
}

TEST_F(ProfileStore, WriteToANamedFile) {
    const std::string other = folder.dir() + "other.ini";
    ASSERT_EQ(store.WriteProfile(UserProfile(kClassDv, "x"), other.c_str()), kProfileOk);
    ASSERT_EQ(store.WriteProfile(UserProfile(kClassDv, "y"), other.c_str()), kProfileOk);
    const std::string text = testing::ReadWhole(other);
    EXPECT_NE(text.find("<Name>x"), std::string::npos);
    EXPECT_NE(text.find("<Name>y"), std::string::npos);
    EXPECT_FALSE(DefaultProfileFileSystem().Exists(store.ProfilePath()));
}

}  // namespace
}  // namespace profiles
