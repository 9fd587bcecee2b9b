// The profile selection dialog and the editor sheets under Wine, driven as a user would: a
// user profile made from a built-in one reaches "Profile.ini" exactly as a new store reads it
// back, Cancel leaves the file as it was, held and empty names are refused with their
// message, and a profile file the store refuses is offered to be kept aside.
#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include <gtest/gtest.h>

#include <cstring>
#include <future>
#include <string>
#include <vector>

#include "app/profiles/codec_thread.h"
#include "app/profiles/profile_dialog_support.h"
#include "app/profiles/profile_file.h"
#include "app/profiles/profile_select_dlg.h"
#include "app/profiles/tests/profile_test_support.h"
#include "app/resources/resource_ids.h"
#include "app/services/settings_keys.h"
#include "app/services/tests/registry_helpers.h"
#include "app/tests/dialog_driver.h"
#include "app/skin/tests/window_support.h"
#include "filters/base/tests/com_test_util.h"
#include "tests/support/ffprobe.h"
#include "tests/support/media_fixture.h"
#include "tests/support/screen.h"
#include "tests/support/shell.h"

namespace profiles {
namespace {

class LibraryStrings : public ProfileStrings {
public:
    std::string Load(uint32_t id) const override { return LoadText(id); }
};

HWND CurrentPage(HWND sheet) {
    return reinterpret_cast<HWND>(SendMessageA(sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
}

// Selects row `row` of a combo as the user would (the notification the dialog acts on).
void ChooseRow(HWND dialog, int id, int row, WORD code) {
    HWND combo = GetDlgItem(dialog, id);
    SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(row), 0);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(combo));
}

int RowOf(HWND dialog, int id, const std::string& text) {
    return static_cast<int>(SendDlgItemMessageA(dialog, id, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                                reinterpret_cast<LPARAM>(text.c_str())));
}

// Captures the screen and counts the dark (text) pixels inside control `id` of `dialog`.
int ShotAndInk(HWND dialog, int id, const std::string& png) {
    Pump(150);
    EXPECT_TRUE(testsupport::CaptureScreen(png));
    RECT r;
    GetWindowRect(GetDlgItem(dialog, id), &r);
    return testsupport::CountDarkPixels(png, r.left, r.top, r.right - r.left, r.bottom - r.top, 90);
}

// The value shown in row `row` of the details dialog's list (the list made over the
// placeholder: its rows carry the profile's values).
std::string DetailValue(HWND details, int row) {
    HWND list = FindWindowExA(details, nullptr, WC_LISTVIEWA, nullptr);
    char text[64] = {};
    LVITEMA item{};
    item.iSubItem = 1;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    return text;
}

std::string Stored(const char* name) {
    char text[260] = {};
    DWORD size = sizeof text;
    if (RegGetValueA(HKEY_CURRENT_USER, kRecordingKey, name, RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS)
        return "<none>";
    return text;
}

DWORD StoredNumber(const char* name) {
    DWORD value = 0xFFFFFFFF, size = sizeof value;
    RegGetValueA(HKEY_CURRENT_USER, kRecordingKey, name, RRF_RT_REG_DWORD, nullptr, &value, &size);
    return value;
}

// A record prepared for a profile of class `cls` and read with the mask of both pages.
std::unique_ptr<ProfileRecord> Prepared(int32_t cls) {
    auto r = std::make_unique<ProfileRecord>();
    std::memset(r.get(), 0, sizeof *r);
    if (cls == kClassH264)
        AllocH264Params(*r);
    else
        AllocMpegParams(*r);
    r->head.attribute = 3;
    return r;
}

class ProfileDialogs : public ResourceLibraryTest {
protected:
    void SetUp() override {
        servicestest::DeleteKeyTree(HKEY_CURRENT_USER, kVistrelKey);
        AfxSetMessageBoxHook([this](const MessageBoxRequest& r) {
            messages_.push_back(r.id != 0 ? r.id : 1);
            texts_.push_back(static_cast<const char*>(r.text));
            return answer_;
        });
    }
    void TearDown() override {
        AfxSetMessageBoxHook(nullptr);
        servicestest::DeleteKeyTree(HKEY_CURRENT_USER, kVistrelKey);
    }
    INT_PTR Run(int pageKind, int32_t cls, const std::string& name, int rate) {
        CProfileSelectDlg dialog(nullptr);
        dialog.SetProfileManager(&store_);
        dialog.SetCurrent(pageKind, cls, name.c_str(), rate);
        return dialog.DoModal();
    }
    std::string FileText() { return testing::ReadWhole(store_.ProfilePath()); }

    servicestest::RegistryLock lock_;
    LibraryStrings strings_;
    testing::TempAppFolder folder_;
    CProfileManager store_{strings_, folder_};
    std::vector<uint32_t> messages_;
    std::vector<std::string> texts_;
    int answer_ = IDOK;
    const std::string title_ = LoadText(IDS_PROFILE_LABEL);
};

TEST_F(ProfileDialogs, NewMpegProfileIsStoredAsAFreshStoreReadsIt) {
    const std::string source = LoadText(5046);
    int selectInk = 0, nameInk = 0, videoInk = 0, audioInk = 0;
    std::string proposed, shownAfter, typeAfter;
    DialogDriver driver({
        {title_,
         [&](HWND dlg) {
             ChooseRow(dlg, IDC_PROFILE_RATE, RowOf(dlg, IDC_PROFILE_RATE, LoadText(kRatePal)), CBN_SELENDOK);
             selectInk = ShotAndInk(dlg, IDC_PROFILE_NAME, "profile_select.png");
             DialogDriver::Click(dlg, IDC_PROFILE_NEW);
         }},
        {title_,
         [&](HWND sheet) {
             HWND name = CurrentPage(sheet);
             proposed = DlgText(name, IDC_PROFILE_NAME_EDIT);
             // The source's own name is held: OK is refused with its message.
             SetDlgItemTextA(name, IDC_PROFILE_NAME_EDIT, source.c_str());
             DialogDriver::Click(sheet, IDOK);
         }},
        {title_,
         [&](HWND sheet) {
             HWND name = CurrentPage(sheet);
             SetDlgItemTextA(name, IDC_PROFILE_NAME_EDIT, "");
             DialogDriver::Click(sheet, IDOK);
         }},
        {title_,
         [&](HWND sheet) {
             HWND name = CurrentPage(sheet);
             SetDlgItemTextA(name, IDC_PROFILE_NAME_EDIT, "Club night");
             SetDlgItemTextA(name, IDC_PROFILE_DESCRIPTION_EDIT, "two <lines>\r\n& more");
             nameInk = ShotAndInk(name, IDC_PROFILE_NAME_EDIT, "profile_editor_name.png");
             SendMessageA(sheet, PSM_SETCURSEL, 1, 0);
             HWND video = CurrentPage(sheet);
             SetDlgItemTextA(video, IDC_VIDEO_BITRATE_EDIT, "20000");
             ChooseRow(video, IDC_VIDEO_RESOLUTION, RowOf(video, IDC_VIDEO_RESOLUTION, LoadText(IDS_SIZE_720X576)),
                       CBN_SELCHANGE);
             videoInk = ShotAndInk(video, IDC_VIDEO_RESOLUTION, "profile_editor_video.png");
             SendMessageA(sheet, PSM_SETCURSEL, 2, 0);
             HWND audio = CurrentPage(sheet);
             ChooseRow(audio, IDC_AUDIO_BITRATE, RowOf(audio, IDC_AUDIO_BITRATE, "384"), CBN_SELCHANGE);
             audioInk = ShotAndInk(audio, IDC_AUDIO_BITRATE, "profile_editor_audio.png");
             DialogDriver::Click(sheet, IDOK);
         }},
        {title_,
         [&](HWND dlg) {
             shownAfter = DlgText(dlg, IDC_PROFILE_NAME);
             char type[128] = {};
             GetDlgItemTextA(dlg, IDC_PROFILE_TYPE, type, sizeof type);
             typeAfter = type;
             DialogDriver::Click(dlg, IDOK);
         }},
    });
    ASSERT_EQ(Run(kPageFileConvert, kClassMpeg1, source, 0), IDOK);
    ASSERT_EQ(driver.Done(), 5u);

    EXPECT_EQ(proposed, source + " -1");
    EXPECT_EQ(messages_, (std::vector<uint32_t>{IDS_NAME_HELD, IDS_NAME_EMPTY}));
    EXPECT_EQ(shownAfter, "Club night");
    EXPECT_EQ(typeAfter, LoadText(kTypeUser));
    EXPECT_GT(selectInk, 20);
    EXPECT_GT(nameInk, 20);
    EXPECT_GT(videoInk, 20);
    EXPECT_GT(audioInk, 5);

    // A new store finds it with the page's values, and the file holds exactly its block.
    CProfileManager reopened(strings_, folder_);
    auto r = Prepared(kClassMpeg1);
    ASSERT_EQ(reopened.ReadProfile(kClassMpeg1, 0, *r, "Club night", 0), kProfileOk);
    EXPECT_EQ(r->head.group, kGroupUser);
    EXPECT_NE(r->head.attribute & kAttrUserMade, 0u);
    // Line breaks are stored as the file's own.
    EXPECT_STREQ(r->head.description, "two <lines>\n& more");
    EXPECT_EQ(FindMpegParam(r->block.mpeg, kParamVideoBitRate)->value.i, 10000000);
    EXPECT_EQ(FindMpegParam(r->block.mpeg, kParamWidth)->value.i, 720);
    EXPECT_EQ(FindMpegParam(r->block.mpeg, kParamHeight)->value.i, 576);
    EXPECT_EQ(FindMpegParam(r->block.mpeg, kParamFrameRate)->value.f, 25.0f);
    EXPECT_EQ(r->block.mpeg.streams[0].audio.bitRate, 0x8000);
    std::string block;
    AppendProfileBlock(*r, block);
    EXPECT_EQ(FileText(), block);

    EXPECT_EQ(StoredNumber("FileProfileType"), DWORD(kClassMpeg1));
    EXPECT_EQ(Stored("FileProfileName"), "Club night");
    EXPECT_EQ(StoredNumber("ProfileFrameRate"), 0u);
}

TEST_F(ProfileDialogs, CancelInTheSheetAndTheDialogChangesNothing) {
    auto r = Prepared(kClassMpeg1);
    ASSERT_EQ(store_.ReadProfile(kClassMpeg2, 0, *r, LoadText(5116).c_str(), 0), kProfileOk);
    CopyText(r->head.name, "Mine", 4);
    r->head.group = kGroupUser;
    r->head.attribute |= kAttrUserMade;
    FindMpegParam(r->block.mpeg, kParamFrameRate)->value.f = 29.97f;
    ASSERT_EQ(store_.WriteProfile(*r, nullptr), kProfileOk);
    const std::string before = FileText();
    bool editEnabled = false;
    int detailInk = 0;
    std::string detailWidth;
    DialogDriver driver({
        {title_, [&](HWND dlg) { DialogDriver::Click(dlg, IDC_PROFILE_DETAILS); }},
        {"Profile details",
         [&](HWND details) {
             detailWidth = DetailValue(details, 2);
             detailInk = ShotAndInk(details, IDC_DETAIL_PROPERTIES, "profile_details.png");
             DialogDriver::Click(details, IDOK);
         }},
        {title_,
         [&](HWND dlg) {
             ChooseRow(dlg, IDC_PROFILE_TYPE, RowOf(dlg, IDC_PROFILE_TYPE, LoadText(kTypeUser)), CBN_SELENDOK);
             editEnabled = IsWindowEnabled(GetDlgItem(dlg, IDC_PROFILE_EDIT));
             DialogDriver::Click(dlg, IDC_PROFILE_EDIT);
         }},
        {title_,
         [&](HWND sheet) {
             SendMessageA(sheet, PSM_SETCURSEL, 1, 0);
             SetDlgItemTextA(CurrentPage(sheet), IDC_VIDEO_BITRATE_EDIT, "700");
             DialogDriver::Click(sheet, IDCANCEL);
         }},
        {title_, [&](HWND dlg) { DialogDriver::Click(dlg, IDCANCEL); }},
    });
    EXPECT_EQ(Run(kPageFileConvert, kClassMpeg2, "Mine", 1), IDCANCEL);
    ASSERT_EQ(driver.Done(), 5u);
    EXPECT_TRUE(editEnabled);
    EXPECT_EQ(detailWidth, std::to_string(FindMpegParam(r->block.mpeg, kParamWidth)->value.i));
    EXPECT_GT(detailInk, 20);
    EXPECT_EQ(FileText(), before);
    EXPECT_EQ(Stored("FileProfileName"), "<none>");
}

TEST_F(ProfileDialogs, EditingReplacesTheProfileAndDeleteRemovesIt) {
    auto r = Prepared(kClassMpeg1);
    ASSERT_EQ(store_.ReadProfile(kClassMpeg2, 0, *r, LoadText(5116).c_str(), 0), kProfileOk);
    r->head.group = kGroupUser;
    r->head.attribute |= kAttrUserMade;
    FindMpegParam(r->block.mpeg, kParamFrameRate)->value.f = 29.97f;
    for (const char* name : {"Keep", "Mine"}) {
        CopyText(r->head.name, name, std::strlen(name));
        ASSERT_EQ(store_.WriteProfile(*r, nullptr), kProfileOk);
    }
    std::string afterEdit;
    DialogDriver driver({
        {title_, [&](HWND dlg) { DialogDriver::Click(dlg, IDC_PROFILE_EDIT); }},
        {title_,
         [&](HWND sheet) {
             SendMessageA(sheet, PSM_SETCURSEL, 1, 0);
             SetDlgItemTextA(CurrentPage(sheet), IDC_VIDEO_BITRATE_EDIT, "4500");
             DialogDriver::Click(sheet, IDOK);
         }},
        {title_,
         [&](HWND dlg) {
             afterEdit = FileText();
             ChooseRow(dlg, IDC_PROFILE_NAME, RowOf(dlg, IDC_PROFILE_NAME, "Keep"), CBN_SELENDOK);
             DialogDriver::Click(dlg, IDC_PROFILE_DELETE);
         }},
        {title_, [&](HWND dlg) { DialogDriver::Click(dlg, IDCANCEL); }},
    });
    Run(kPageFileConvert, kClassMpeg2, "Mine", 1);
    ASSERT_EQ(driver.Done(), 4u);
    CProfileManager reopened(strings_, folder_);
    r = Prepared(kClassMpeg2);
    ASSERT_EQ(reopened.ReadProfile(kClassMpeg2, 0, *r, "Mine", 0), kProfileOk);
    EXPECT_EQ(FindMpegParam(r->block.mpeg, kParamVideoBitRate)->value.i, 4500000);
    EXPECT_NE(afterEdit.find("<Name>Keep"), std::string::npos);
    EXPECT_EQ(afterEdit.find("<Name>Mine"), afterEdit.rfind("<Name>Mine")) << "one block of the edited profile";
    EXPECT_EQ(reopened.ReadProfile(kClassMpeg2, 0, *r, "Keep", 0), kProfileFail);
}

TEST_F(ProfileDialogs, AProfileFileTheStoreRefusesIsNamedAndCanBeKeptAside) {
    std::string big(kProfileFileLimit + 10, '\n');
    testing::WriteWhole(store_.ProfilePath(), big);
    answer_ = IDYES;
    size_t listed = 0;
    DialogDriver driver({
        {title_,
         [&](HWND dlg) {
             listed = static_cast<size_t>(SendDlgItemMessageA(dlg, IDC_PROFILE_NAME, CB_GETCOUNT, 0, 0));
             DialogDriver::Click(dlg, IDCANCEL);
         }},
    });
    Run(kPageFileConvert, kClassH264, LoadText(7132), 1);
    ASSERT_EQ(driver.Done(), 1u);
    ASSERT_EQ(messages_.size(), 2u);
    EXPECT_NE(texts_[0].find(store_.ProfilePath()), std::string::npos) << texts_[0];
    EXPECT_NE(texts_[0].find(LoadText(IDS_PROFILE_FILE_TOO_LARGE)), std::string::npos) << texts_[0];
    EXPECT_NE(texts_[1].find(store_.ProfilePath() + ".kept"), std::string::npos) << texts_[1];
    EXPECT_EQ(testing::ReadWhole(store_.ProfilePath() + ".kept"), big);
    EXPECT_EQ(store_.CheckProfileFile(), kProfileOk);
    EXPECT_GT(listed, 0u);
}

// The H.264 sheet's values reach the encoder: a profile made in the sheet and read back by a
// new store converts (through the file conversion engine and our encoder) into a stream
// whose headers and pictures ffprobe shows with that size, rate, GOP and B-frames.
// The Codec button waits for the codec thread with the dialog answering (the driver's own
// steps run inside the wait): once the thread is done the codec's configuration opens; Cancel
// pressed during the wait ends it and closes the dialog. Details of an AVI profile show the
// frame size of the chosen standard.
TEST_F(ProfileDialogs, CodecButtonWaitsForTheCodecThreadAndDetailsSizeTheAviProfile) {
    // The codec entries are the process's: each part empties them again through the
    // fixture's store once its own store is gone.
    testing::GatedMachine machine;
    std::promise<void> open;
    machine.gate = open.get_future().share();
    const std::string avi = LoadText(5006);
    auto run = [&](CProfileManager& store, CodecThread& thread) {
        CProfileSelectDlg dialog(nullptr);
        dialog.SetProfileManager(&store);
        dialog.SetCodecThread(&thread);
        dialog.SetDivxInstalled(true);
        dialog.SetCurrent(kPageFileConvert, kClassAvi, avi.c_str(), 0);
        return dialog.DoModal();
    };
    {
        CProfileManager store(strings_, folder_, nullptr, &machine);
        CodecThread thread;
        thread.Start(store);
        bool codecEnabledDuringWait = true, doneDuringWait = true;
        std::string frameSize;
        DialogDriver driver({
            {title_, [&](HWND dlg) { DialogDriver::Click(dlg, IDC_PROFILE_CODEC); }},
            {title_,
             [&](HWND dlg) {
                 codecEnabledDuringWait = IsWindowEnabled(GetDlgItem(dlg, IDC_PROFILE_CODEC));
                 doneDuringWait = thread.Done();
                 open.set_value();
             }},
            {title_, [&](HWND dlg) { DialogDriver::Click(dlg, IDC_PROFILE_DETAILS); }},
            {"Profile details",
             [&](HWND details) {
                 frameSize = DetailValue(details, 0);
                 DialogDriver::Click(details, IDOK);
             }},
            {title_, [&](HWND dlg) { DialogDriver::Click(dlg, IDOK); }},
        });
        EXPECT_EQ(run(store, thread), IDOK);
        ASSERT_EQ(driver.Done(), 5u);
        EXPECT_FALSE(codecEnabledDuringWait);
        EXPECT_FALSE(doneDuringWait);
        EXPECT_EQ(machine.configured, std::vector<CodecPlatform::Handle>{testing::GatedMachine::kHandle});
        EXPECT_EQ(frameSize, "720x576");
    }
    store_.ReleaseCodecs();

    // Cancel during the wait: the dialog closes and the codec is not configured.
    testing::GatedMachine held;
    std::promise<void> later;
    held.gate = later.get_future().share();
    {
        CProfileManager store(strings_, folder_, nullptr, &held);
        CodecThread slow;
        slow.Start(store);
        DialogDriver cancel({
            {title_, [&](HWND dlg) { DialogDriver::Click(dlg, IDC_PROFILE_CODEC); }},
            {title_, [&](HWND dlg) { DialogDriver::Click(dlg, IDCANCEL); }},
        });
        EXPECT_EQ(run(store, slow), IDCANCEL);
        EXPECT_EQ(cancel.Done(), 2u);
        EXPECT_FALSE(slow.Done());
        later.set_value();
        EXPECT_TRUE(slow.Wait(60000));
    }
    store_.ReleaseCodecs();
    EXPECT_TRUE(held.configured.empty());
}

TEST_F(ProfileDialogs, H264SheetValuesReachTheEncodedStream) {
    const std::string source = LoadText(7132);
    int inks[3] = {};
    std::string correctedB, correctedMax, pattern;
    bool bitRateEnabled = false;
    DialogDriver driver({
        {title_,
         [&](HWND dlg) {
             ChooseRow(dlg, IDC_PROFILE_RATE, RowOf(dlg, IDC_PROFILE_RATE, LoadText(kRatePal)), CBN_SELENDOK);
             DialogDriver::Click(dlg, IDC_PROFILE_NEW);
         }},
        {title_,
         [&](HWND sheet) {
             HWND name = CurrentPage(sheet);
             SetDlgItemTextA(name, IDC_H264_NAME, "Sheet H264");
             inks[0] = ShotAndInk(name, IDC_H264_NAME, "h264_sheet_name.png");
             SendMessageA(sheet, PSM_SETCURSEL, 1, 0);
             HWND video = CurrentPage(sheet);
             auto leave = [&](int id) {
                 SendMessageA(video, WM_COMMAND, MAKEWPARAM(id, EN_KILLFOCUS),
                              reinterpret_cast<LPARAM>(GetDlgItem(video, id)));
             };
             SetDlgItemTextA(video, IDC_H264_GOP, "10");
             leave(IDC_H264_GOP);
             SetDlgItemTextA(video, IDC_H264_BFRAMES, "12");  // above GOP - 1 and 9
             leave(IDC_H264_BFRAMES);
             correctedB = DlgText(video, IDC_H264_BFRAMES);
             SetDlgItemTextA(video, IDC_H264_BFRAMES, "2");
             leave(IDC_H264_BFRAMES);
             pattern = DlgText(video, IDC_H264_PATTERN);
             ChooseRow(video, IDC_H264_RATE_CONTROL, FindRow(kRateControlRows, 1), CBN_SELCHANGE);
             bitRateEnabled = IsWindowEnabled(GetDlgItem(video, IDC_H264_BITRATE));
             SetDlgItemTextA(video, IDC_H264_MAX_BITRATE, "lots");
             leave(IDC_H264_MAX_BITRATE);
             correctedMax = DlgText(video, IDC_H264_MAX_BITRATE);
             SetDlgItemTextA(video, IDC_H264_MAX_BITRATE, "3000");
             SetDlgItemTextA(video, IDC_H264_BITRATE, "1500");
             leave(IDC_H264_BITRATE);
             SendDlgItemMessageA(video, IDC_H264_CHOSEN_SIZE, BM_CLICK, 0, 0);
             ChooseRow(video, IDC_H264_FRAME_SIZE, RowOf(video, IDC_H264_FRAME_SIZE, LoadText(IDS_SIZE_352X288)),
                       CBN_SELCHANGE);
             inks[1] = ShotAndInk(video, IDC_H264_FRAME_SIZE, "h264_sheet_video.png");
             SendMessageA(sheet, PSM_SETCURSEL, 2, 0);
             HWND audio = CurrentPage(sheet);
             ChooseRow(audio, IDC_H264_AUDIO_BITRATE, RowOf(audio, IDC_H264_AUDIO_BITRATE, "192"), CBN_SELCHANGE);
             inks[2] = ShotAndInk(audio, IDC_H264_AUDIO_BITRATE, "h264_sheet_audio.png");
             DialogDriver::Click(sheet, IDOK);
         }},
        {title_, [&](HWND dlg) { DialogDriver::Click(dlg, IDOK); }},
    });
    ASSERT_EQ(Run(kPageFileConvert, kClassH264, source, 0), IDOK);
    ASSERT_EQ(driver.Done(), 3u);
    EXPECT_EQ(correctedB, "9");
    EXPECT_EQ(pattern, "IBBPBBPBBP");
    EXPECT_TRUE(bitRateEnabled);
    EXPECT_EQ(messages_, std::vector<uint32_t>{IDS_NOT_A_NUMBER});
    EXPECT_NE(correctedMax, "lots");
    for (int ink : inks)
        EXPECT_GT(ink, 5);
    EXPECT_EQ(Stored("FileProfileName"), "Sheet H264");

    CProfileManager reopened(strings_, folder_);
    auto r = Prepared(kClassH264);
    ASSERT_EQ(reopened.ReadProfile(kClassH264, 0, *r, "Sheet H264", 0), kProfileOk);
    const H264Block& h = r->block.h264;
    EXPECT_EQ(h.gopLength, 10);
    EXPECT_EQ(h.bFrames, 2);
    EXPECT_EQ(h.width, 352);
    EXPECT_EQ(h.height, 288);
    EXPECT_EQ(h.frameRate, 25.0f);
    EXPECT_EQ(h.videoBitRate, 1500000);
    EXPECT_EQ(h.maxBitRate, 3000000);
    EXPECT_EQ(h.rateControlMode, 1);
    EXPECT_EQ(h.streams[0].audio.bitRate, 0x400);

    // The record as the conversion page hands it to the engine.
    const std::string recordFile = testsupport::FixturePath(testsupport::UniqueName("h264_profile") + ".rec");
    testing::WriteWhole(recordFile, std::string(reinterpret_cast<const char*>(r.get()), sizeof *r));
    std::string input;
    ASSERT_TRUE(testsupport::MediaFixture(
        "ffmpeg -f lavfi -i testsrc2=size=720x576:rate=25 -f lavfi -i sine=sample_rate=48000 -t 4 "
        "-c:v mpeg2video -b:v 6M -c:a mp2 -f vob {out}",
        "mpg", &input));
    const std::string output = testsupport::FixturePath(testsupport::UniqueName("sheet_h264") + ".ts");
    auto wide = [](const std::string& s) { return std::wstring(s.begin(), s.end()); };
    const std::wstring command = L"\"" + comtest::WinePath(FILE_CONVERT_EXE) + L"\" --resources \"" +
                                 comtest::WinePath(TOVRT_DLL) + L"\" --profile-record \"" + wide(recordFile) +
                                 L"\" -o \"" + wide(output) + L"\" \"" + wide(input) + L"\"";
    ASSERT_EQ(comtest::RunProgram(command, 300000), 0);

    std::string stream, frames;
    ASSERT_TRUE(testsupport::Ffprobe(
        output, "-select_streams v:0 -show_entries stream=codec_name,width,height,r_frame_rate -of default=nw=1",
        &stream));
    // A transport stream lists the stream under its program as well: the first four lines.
    auto kv = testsupport::KeyValues(stream);
    kv.resize(std::min<size_t>(kv.size(), 4));
    EXPECT_EQ(kv, (std::vector<std::pair<std::string, std::string>>{
                      {"codec_name", "h264"}, {"width", "352"}, {"height", "288"}, {"r_frame_rate", "25/1"}}));
    ASSERT_TRUE(testsupport::Ffprobe(output, "-select_streams v:0 -show_entries frame=pict_type,key_frame -of csv=p=0",
                                     &frames));
    // Key frames every 10 pictures (display order), and runs of at most two B pictures.
    std::vector<int> keys;
    int index = 0, run = 0, longestRun = 0, bCount = 0;
    for (const auto& row : testsupport::CsvRows(frames)) {
        if (row.size() < 2) continue;
        if (row[0] == "1") keys.push_back(index);
        run = row[1] == "B" ? run + 1 : 0;
        bCount += row[1] == "B";
        longestRun = std::max(longestRun, run);
        ++index;
    }
    EXPECT_EQ(index, 100);
    ASSERT_GE(keys.size(), 2u);
    for (size_t i = 1; i < keys.size(); ++i)
        EXPECT_EQ(keys[i] - keys[i - 1], 10) << i;
    EXPECT_EQ(longestRun, 2);
    EXPECT_GT(bCount, 0);
}

}  // namespace
}  // namespace profiles
