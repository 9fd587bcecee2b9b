// The file conversion page under Wine: the list rules, a run of three ffmpeg-made clips
// through the registered conversion engine in separate and merged mode (outputs judged by
// ffprobe), the export room receiving the outputs, the project entries' round trip, and the
// rename dialog renaming a file on the disk.
#include <windows.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/pages/batch_rules.h"
#include "app/pages/export_room.h"
#include "app/pages/file_batch_list.h"
#include "app/pages/file_convert_page.h"
#include "app/project_file.h"
#include "app/profiles/app_data_folder_win.h"
#include "app/profiles/profile_manager.h"
#include "app/profiles/tests/mpeg_test_record.h"
#include "app/resources/resource_ids.h"
#include "app/services/preferences.h"
#include "app/services/text_fonts.h"
#include "app/services/tv_format.h"
#include "app/skin/common_dialogs.h"
#include "app/skin/skin_controls.h"
#include "app/skin/skin_edits.h"
#include "app/skin/skin_layout.h"
#include "app/skin/skin_sliders.h"
#include "app/tests/dialog_driver.h"
#include "app/skin/tests/window_support.h"
#include "engines/tests/registered.h"
#include "filters/base/tests/com_test_util.h"
#include "tests/support/ffprobe.h"
#include "tests/support/media_fixture.h"
#include "tests/support/screen.h"
#include "tests/support/shell.h"

namespace {

using testsupport::FixturePath;
using testsupport::UniqueName;

TEST(FilePageRules, MoveOrdersKeepsTheBlockTogetherAtItsTarget) {
    const std::vector<int32_t> orders{0, 1, 2, 3, 4};
    struct Case {
        std::vector<bool> selected;
        int target;
        std::vector<int32_t> expected;  // the items in their new list order; empty: nothing moves
    } cases[] = {
        // The third of five moved up: 1st, 3rd, 2nd, 4th, 5th.
        {{false, false, true, false, false}, 1, {0, 2, 1, 3, 4}},
        // The second and third moved down past the fourth.
        {{false, true, true, false, false}, 3, {0, 3, 1, 2, 4}},
        // The first two moved to the end.
        {{true, true, false, false, false}, 4, {2, 3, 4, 0, 1}},
        {{false, false, false, false, false}, 1, {}},
        {{false, true, false, false, false}, 1, {}},
        {{false, true, false, false, false}, -1, {}},
    };
    for (const Case& c : cases) {
        std::vector<int32_t> moved = filepage::MoveOrders(orders, c.selected, c.target);
        if (c.expected.empty()) {
            EXPECT_TRUE(moved.empty());
            continue;
        }
        ASSERT_EQ(moved.size(), orders.size());
        // The resulting list order: indices sorted by their new numbers.
        std::vector<int> order(5);
        for (int i = 0; i < 5; ++i)
            order[moved[i]] = i;
        EXPECT_EQ(std::vector<int32_t>(order.begin(), order.end()), c.expected) << "target " << c.target;
    }
}

TEST(FilePageRules, NamesSizesExtensionsAndSegments) {
    int32_t w = 0, h = 0;
    filepage::KeepSizeFrame(1920, 1080, &w, &h);
    EXPECT_EQ(std::make_pair(w, h), std::make_pair(1280, 720));
    filepage::KeepSizeFrame(720, 480, &w, &h);
    EXPECT_EQ(std::make_pair(w, h), std::make_pair(720, 480));
    filepage::KeepSizeFrame(1280, 721, &w, &h);
    EXPECT_EQ(std::make_pair(w, h), std::make_pair(1280, 720));

    EXPECT_STREQ(filepage::OutputExtension(1), ".avi");
    for (uint32_t c : {3u, 4u, 5u, 6u, 7u, 12u})
        EXPECT_STREQ(filepage::OutputExtension(c), ".mpg") << c;
    for (uint32_t c : {2u, 8u, 10u})
        EXPECT_STREQ(filepage::OutputExtension(c), "") << c;

    for (const char* ok : {"a.mpg", "B.MPEG", "c.mpe", "d.AVI", "e.dat", "f.VOB", "g.vro", "C:\\x.y\\h.mpg"})
        EXPECT_EQ(filepage::IsSupportedInputFile(ok), 1) << ok;
    for (const char* no : {"a.m2v", "mpg", "C:\\x.mpg\\clip", "", "a.mpg.txt"})
        EXPECT_EQ(filepage::IsSupportedInputFile(no), 0) << no;

    struct {
        std::string in;
        int valid;
        std::string out;
    } names[] = {{"  clip", 1, "clip"}, {"   ", 0, "   "},        {"", 0, ""}, {"a:b", 0, "a:b"}, {"a\"b", 0, "a\"b"},
                 {"x|y", 0, "x|y"},     {"ok name", 1, "ok name"}};
    for (auto& n : names) {
        std::string name = n.in;
        EXPECT_EQ(filepage::CheckName(&name), n.valid) << n.in;
        EXPECT_EQ(name, n.out);
    }

    // Streams starting 0.5 s apart: the later start, the earlier end, the gap as skew.
    const filepage::SegmentSpan span = filepage::SegmentTimes(5000000, 100000000, 0, 90000000);
    EXPECT_EQ(span.start, 5000000);
    EXPECT_EQ(span.end, 90000000);
    EXPECT_EQ(span.skew, 5000000);
    const filepage::SegmentSpan videoOnly = filepage::SegmentTimes(10, 20, -1, -1);
    EXPECT_EQ(videoOnly.start, 10);
    EXPECT_EQ(videoOnly.end, 20);
    EXPECT_EQ(videoOnly.skew, 0);
}

TEST(FilePageRules, AviFrameValueIsClearedForTheHandOverAndPutBackWhateverTheAnswer) {
    std::vector<uint8_t> state(300, 0);
    const uint32_t kept = 77;
    std::memcpy(state.data() + 264, &kept, 4);
    profiles::ProfileRecord record{};
    record.block.avi.compressorState = state.data();
    record.block.avi.compressorStateSize = static_cast<uint32_t>(state.size());
    const auto frameValue = [&] {
        uint32_t v = 0;
        std::memcpy(&v, state.data() + 264, 4);
        return v;
    };
    struct {
        int32_t videoClass;
        bool engineAccepts;
        uint32_t seenByEngine;
    } cases[] = {{profiles::kClassAvi, true, 0}, {profiles::kClassAvi, false, 0}, {profiles::kClassMpeg2, true, kept}};
    for (const auto& c : cases) {
        record.head.videoFormatClass = c.videoClass;
        uint32_t seen = 12345;
        const bool accepted = filepage::HandOverProfile(record, [&](const profiles::ProfileRecord&) {
            seen = frameValue();
            return c.engineAccepts;
        });
        EXPECT_EQ(accepted, c.engineAccepts);
        EXPECT_EQ(seen, c.seenByEngine) << c.videoClass;
        EXPECT_EQ(frameValue(), kept) << c.videoClass << " accepted " << c.engineAccepts;
    }
    // A state too small for the value is not touched, and the hand-over still happens.
    record.head.videoFormatClass = profiles::kClassAvi;
    record.block.avi.compressorStateSize = 200;
    bool called = false;
    EXPECT_TRUE(filepage::HandOverProfile(record, [&](const profiles::ProfileRecord&) { return called = true; }));
    EXPECT_TRUE(called);
    EXPECT_EQ(frameValue(), kept);
}

// Takes every name MakeUniqueFileName may give "Convert.mpg" in `folder` (relative to the
// fixture folder), made on the Linux side, which is quick.
void CrowdFolder(const std::string& folder) {
    ASSERT_EQ(testsupport::RunShell("cd '" + folder + "' || exit 1; : > Convert.mpg; i=0; while [ $i -lt " +
                                    std::to_string(kMaxUniqueNameTries) +
                                    " ]; do : > \"Convert($i).mpg\" || exit 1; i=$((i+1)); done"),
              0);
}

TEST(FilePageRules, UniqueNameStopsAtItsBoundInACrowdedFolder) {
    const std::string folder = UniqueName("crowded");
    const std::string dir = FixturePath(folder);
    ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
    const std::string base = dir + "\\Convert.mpg";
    ASSERT_NO_FATAL_FAILURE(CrowdFolder(folder));
    EXPECT_TRUE(MakeUniqueFileName(base.c_str()).IsEmpty());
    DeleteFileA((dir + "\\Convert(17).mpg").c_str());
    EXPECT_EQ(std::string(MakeUniqueFileName(base.c_str()).c_str()), dir + "\\Convert(17).mpg");
}

// The main page's stand-in: records the page's notifications and hands finished files to
// the export room, as the main page does.
class Host : public CWnd {
public:
    std::vector<UINT> codes;
    std::vector<std::string> ready;
    int titleRefreshes = 0;  // the page's list changed by the user
    CExportRoom* room = nullptr;
    std::function<void(UINT)> onCode;  // called with each recorded code, after it is recorded
    std::function<void()> onPosted;    // called when kPosted, posted by a test, is dispatched
    static constexpr UINT kPosted = WM_APP + 41;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == kPosted && onPosted) {
            onPosted();
            return 0;
        }
        if (message == WM_ROOMLIST_MODECHANGED && wParam == 2001) ++titleRefreshes;
        if (message == WM_NOTIFY) {
            const auto* record = reinterpret_cast<const PageNotifyRecord*>(lParam);
            if (record->hdr.code >= EPN_FILE_CLIP_READY && record->hdr.code <= EPN_FILE_REFRESH2) {
                codes.push_back(record->hdr.code);
                if (record->hdr.code == EPN_FILE_CLIP_READY) {
                    ready.emplace_back(reinterpret_cast<const char*>(record->data));
                    if (room) room->AddFile(ready.back().c_str());
                }
                if (onCode) onCode(record->hdr.code);
                return 0;
            }
        }
        return CWnd::WindowProc(message, wParam, lParam);
    }
};

std::unique_ptr<profiles::ProfileRecord> Mpeg2Record() {
    return profiles::testing::MpegTestRecord(profiles::kClassMpeg2, 2000000, 4000000, 352, 288);
}

// A built-in profile of the store, read as the profile selection hands it to the page.
std::unique_ptr<profiles::ProfileRecord> BuiltinRecord(HMODULE library, int32_t cls, const char* name) {
    class Strings : public profiles::ProfileStrings {
    public:
        explicit Strings(HMODULE module) : module_(module) {}
        std::string Load(uint32_t id) const override {
            char text[1024] = {};
            const int n = LoadStringA(module_, id, text, sizeof text);
            return std::string(text, n > 0 ? static_cast<size_t>(n) : 0);
        }

    private:
        HMODULE module_;
    } strings(library);
    profiles::WinAppDataFolder folder;
    profiles::CProfileManager store(strings, folder);
    auto record = std::make_unique<profiles::ProfileRecord>();
    std::memset(record.get(), 0, sizeof *record);
    record->head.attribute = profiles::kAttrFileConvertPage;
    if (store.ReadProfile(cls, 0, *record, name, 0) != profiles::kProfileOk) return nullptr;
    return record;
}

std::pair<int, int> ProbeSize(const std::string& path) {
    std::string out;
    if (!testsupport::Ffprobe(path, "-select_streams v:0 -show_entries stream=width,height -of csv=p=0", &out))
        return {-1, -1};
    int w = -1, h = -1;
    std::sscanf(out.c_str(), "%d,%d", &w, &h);
    return {w, h};
}

double ProbeDuration(const std::string& path) {
    std::string out;
    if (!testsupport::Ffprobe(path, "-show_entries format=duration -of csv=p=0", &out)) return -1;
    return std::atof(out.c_str());
}

std::string WindowText(HWND window) {
    char text[512] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

class FilePageTest : public SkinLayoutTest {
protected:
    // The engine and the player are registered once for the suite: each registration and
    // removal is a regsvr32 process, seconds of a loaded machine, and no test changes them.
    static void SetUpTestSuite() {
        SkinLayoutTest::SetUpTestSuite();
        engine_ = std::make_unique<enginetest::Registered>(FILE_ENGINE_DLL);
        player_ = std::make_unique<enginetest::SharedRegistered>(CLIP_PLAYER_DLL);
    }
    static void TearDownTestSuite() {
        player_.reset();
        engine_.reset();
        SkinLayoutTest::TearDownTestSuite();
    }
    void SetUp() override {
        ASSERT_TRUE(engine_->Ok());
        ASSERT_TRUE(player_->Ok());
        outName_ = UniqueName("out");
        outDir_ = FixturePath(outName_);
        ASSERT_TRUE(CreateDirectoryA(outDir_.c_str(), nullptr));
        SetConvertDir(outDir_.c_str());
        SetConvertPrefix("Convert");
        SetMerge(0);
        SetPreviewVideo(0);
        AfxSetMessageBoxHook([this](const MessageBoxRequest& r) {
            boxes_.push_back(r.id);
            return IDNO;
        });
        ASSERT_TRUE(host_.CreateEx(0, AfxRegisterWndClass(0), "Host", WS_POPUP | WS_VISIBLE, CRect(0, 0, 1024, 768),
                                   nullptr, 0));
        SkinView* room = CSkinLayout::FindView("EXPORT_ROOM");
        SkinView* page = CSkinLayout::FindView("ENC_FILE_PAGE");
        ASSERT_TRUE(room && page);
        room_ = new CExportRoom;
        ASSERT_TRUE(
            room_->Create(CRect(room->left, room->top, room->left + room->width, room->top + room->height), &host_));
        host_.room = room_;
        page_ = new CFileConvertPage;
        ASSERT_TRUE(page_->Create(CRect(page->left, page->top, page->left + page->width, page->top + page->height),
                                  2001, &host_));
        page_->ShowWindow(SW_SHOW);
        const char* clips[] = {"-t 1", "-t 1.5", "-t 2"};
        for (const char* length : clips) {
            std::string path;
            ASSERT_TRUE(testsupport::MediaFixture(
                std::string("ffmpeg -f lavfi -i testsrc=size=352x288:rate=25 -f lavfi -i sine=sample_rate=48000 ") +
                    length + " -c:v mpeg2video -b:v 2M -c:a mp2 -f vob {out}",
                "mpg", &path));
            clips_.push_back(path);
        }
    }
    void TearDown() override {
        AfxSetMessageBoxHook({});
        if (page_) {
            page_->DestroyWindow();
            delete page_;
        }
        if (room_) {
            room_->DestroyWindow();
            delete room_;
        }
        host_.DestroyWindow();
    }
    void AddClips() {
        page_->AddFiles(clips_);
        for (int i = 0; i < 600 && page_->WorkerRunning(); ++i)
            Pump(50);
        ASSERT_FALSE(page_->WorkerRunning());
    }
    bool WaitForState(int state, int seconds) {
        for (int i = 0; i < seconds * 20 && page_->PageState() != state; ++i)
            Pump(50);
        return page_->PageState() == state;
    }
    // Converts the first clip alone; its output cannot take its final name, so the user is
    // told `message` and the file is reported, and listed, under its working name.
    void ConvertFirstClipAndExpectItKeptItsFirstName(UINT message) {
        page_->AddFiles({clips_[0]});
        for (int i = 0; i < 200 && page_->WorkerRunning(); ++i)
            Pump(50);
        page_->SetProfile(*Mpeg2Record());
        page_->OnConvertCommand(4206);
        ASSERT_TRUE(WaitForState(CFileConvertPage::kFinished, 300));
        EXPECT_EQ(boxes_, std::vector<UINT>{message});
        ASSERT_EQ(host_.ready.size(), 1u);
        EXPECT_EQ(host_.ready[0], outDir_ + "\\Default.mpg");
        EXPECT_NEAR(ProbeDuration(host_.ready[0]), 1.0, 0.15);
        ASSERT_EQ(room_->Count(), 1);
        EXPECT_STREQ(room_->Entry(0)->path, host_.ready[0].c_str());
    }
    int CountCode(UINT code) const {
        return static_cast<int>(std::count(host_.codes.begin(), host_.codes.end(), code));
    }

    static inline std::unique_ptr<enginetest::Registered> engine_;
    static inline std::unique_ptr<enginetest::SharedRegistered> player_;
    comtest::ComScope com_;
    std::string outName_;  // relative to the fixture folder, for shell scripts
    std::string outDir_;
    std::vector<std::string> clips_;
    std::vector<UINT> boxes_;
    Host host_;
    CExportRoom* room_ = nullptr;
    CFileConvertPage* page_ = nullptr;
};

bool Inside(const RECT& inner, const RECT& outer) {
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
           inner.bottom <= outer.bottom;
}

bool Overlap(const RECT& a, const RECT& b) {
    RECT both;
    return IntersectRect(&both, &a, &b) != 0;
}

CRect Place(int left, int top, int width, int height) {
    return CRect(left, top, left + width, top + height);
}

SkinSubView* FindSubView(const char* view, const char* name) {
    SkinView* v = CSkinLayout::FindView(view);
    for (SkinSubView* sub = v ? v->subviews : nullptr; sub; sub = sub->next)
        if (sub->name == name) return sub;
    return nullptr;
}

// Every node of a subview, with its kind's tag.
std::vector<const SkinNode*> Nodes(const SkinSubView* sub) {
    std::vector<const SkinNode*> nodes;
    for (int kind = 0; sub && kind < kSkinKindCount; ++kind)
        for (const SkinNode* n = sub->lists[kind]; n; n = n->next)
            nodes.push_back(n);
    return nodes;
}

// Every header text and every cell text of the batch list fits its rectangle: headers are
// drawn across theirs, cells 2 pixels in from each edge. The file names may be cut.
void ExpectColumnsShowTheirTexts(CFileBatchList* batch) {
    CGListCtrl* list = batch->List();
    HWND header = reinterpret_cast<HWND>(list->SendMessage(LVM_GETHEADER));
    ASSERT_NE(header, nullptr);
    HDC dc = GetDC(list->m_hWnd);
    const auto extent = [dc](HFONT font, const char* text) {
        HGDIOBJ old = SelectObject(dc, font);
        SIZE size{};
        GetTextExtentPoint32A(dc, text, static_cast<int>(std::strlen(text)), &size);
        SelectObject(dc, old);
        return static_cast<int>(size.cx);
    };
    auto headerFont = reinterpret_cast<HFONT>(SendMessageA(header, WM_GETFONT, 0, 0));
    if (!headerFont) headerFont = GetAppGuiFont();
    int right = 0;
    for (int column = 0; column < 4; ++column) {
        SCOPED_TRACE("column " + std::to_string(column));
        RECT head{};
        ASSERT_TRUE(SendMessageA(header, HDM_GETITEMRECT, column, reinterpret_cast<LPARAM>(&head)));
        char text[64] = {};
        HDITEMA item{};
        item.mask = HDI_TEXT;
        item.pszText = text;
        item.cchTextMax = sizeof text;
        ASSERT_TRUE(SendMessageA(header, HDM_GETITEMA, column, reinterpret_cast<LPARAM>(&item)));
        EXPECT_LE(extent(headerFont, text), head.right - head.left) << text;
        right = head.right;
        for (int i = 0; column > 0 && i < batch->Count(); ++i) {
            RECT cell{};
            cell.top = column;
            cell.left = LVIR_BOUNDS;
            ASSERT_TRUE(list->SendMessage(LVM_GETSUBITEMRECT, i, reinterpret_cast<LPARAM>(&cell)));
            EXPECT_EQ(cell.left, head.left);
            EXPECT_EQ(cell.right, head.right);
        }
        for (int i = 0; column != 1 && i < batch->Count(); ++i) {
            const CString cellText = list->GetItemText(i, column);
            EXPECT_FALSE(cellText.IsEmpty());
            EXPECT_LE(extent(GetAppGuiFont(), cellText) + 4, head.right - head.left) << cellText.c_str();
        }
    }
    ReleaseDC(list->m_hWnd, dc);
    // The columns fill the list and no more: no horizontal scrolling.
    RECT client{};
    list->GetClientRect(&client);
    EXPECT_LE(right, client.right);
}

class ScreenLayoutTest : public ResourceLibraryTest {
protected:
    void TearDown() override {
        CSkinLayout::Free();
        SetSkinImageSource((ProgramFolder() + "\\skin\\1024x768").c_str(), kSkinImageFolder);
    }
};

// On both screens the file page, its batch list and the export room stand inside the main
// page's body, clear of the profile summary and of each other, with every control of the page
// inside the page (the DV page's as well, clear of each other); the room's icon view shows whole rows at
// its top however it was scrolled; on 800x600 the page and the room are built for a look.
TEST_F(ScreenLayoutTest, FilePageAndExportRoomFitBesideTheSummaryOnBothScreens) {
    comtest::ComScope com;
    enginetest::Registered engine{FILE_ENGINE_DLL};
    enginetest::SharedRegistered player{CLIP_PLAYER_DLL};
    ASSERT_TRUE(engine.Ok());
    std::string clip;
    ASSERT_TRUE(
        testsupport::MediaFixture("ffmpeg -f lavfi -i testsrc=size=352x288:rate=25 -f lavfi -i sine=sample_rate=48000 "
                                  "-t 0.4 -c:v mpeg2video -b:v 2M -c:a mp2 -f vob {out}",
                                  "mpg", &clip));
    for (const std::string size : {"1024x768", "800x600"}) {
        SCOPED_TRACE(size);
        CSkinLayout::Free();
        ASSERT_EQ(CSkinLayout::Load(("skin\\skin" + size + ".xml").c_str()), 1);
        SetSkinImageSource((ProgramFolder() + "\\skin\\" + size).c_str(), kSkinImageFolder);
        SkinView* main = CSkinLayout::FindView("ENC_MAIN_PAGE");
        SkinView* pageView = CSkinLayout::FindView("ENC_FILE_PAGE");
        SkinView* roomView = CSkinLayout::FindView("EXPORT_ROOM");
        SkinView* listView = CSkinLayout::FindView("BATCH_LIST");
        const SkinSubView* bodyView = FindSubView("ENC_MAIN_PAGE", "BODY");
        ASSERT_TRUE(main && pageView && roomView && listView && bodyView);
        const CRect body = Place(bodyView->left, bodyView->top, bodyView->width, bodyView->height);
        const CRect page = Place(pageView->left, pageView->top, pageView->width, pageView->height);
        const CRect room = Place(roomView->left, roomView->top, roomView->width, roomView->height);
        EXPECT_TRUE(Inside(page, body));
        EXPECT_TRUE(Inside(room, body));
        EXPECT_FALSE(Overlap(page, room));
        for (const SkinNode* n : Nodes(bodyView)) {
            const CRect r = Place(n->left, n->top, n->width, n->height);
            EXPECT_FALSE(Overlap(r, page)) << n->name;
            EXPECT_FALSE(Overlap(r, room)) << n->name;
        }
        const CRect pageLocal(0, 0, page.Width(), page.Height());
        for (const SkinNode* n : Nodes(FindSubView("ENC_FILE_PAGE", "LAYOUT1")))
            EXPECT_TRUE(Inside(Place(n->left, n->top, n->width, n->height), pageLocal)) << n->name;
        EXPECT_TRUE(Inside(Place(listView->left, listView->top, listView->width, listView->height), pageLocal));
        {
            // The DV page beside the summary too, every control of it inside it and clear of
            // the others.
            SkinView* dvView = CSkinLayout::FindView("ENC_DV_PAGE");
            ASSERT_NE(dvView, nullptr);
            const CRect dv = Place(dvView->left, dvView->top, dvView->width, dvView->height);
            EXPECT_TRUE(Inside(dv, body));
            for (const SkinNode* n : Nodes(bodyView))
                EXPECT_FALSE(Overlap(Place(n->left, n->top, n->width, n->height), dv)) << n->name;
            EXPECT_FALSE(Overlap(dv, room));
            const std::vector<const SkinNode*> controls = Nodes(FindSubView("ENC_DV_PAGE", "LAYOUT1"));
            EXPECT_GE(controls.size(), 30u);
            for (size_t i = 0; i < controls.size(); ++i) {
                const SkinNode* n = controls[i];
                const CRect r = Place(n->left, n->top, n->width, n->height);
                EXPECT_TRUE(Inside(r, CRect(0, 0, dv.Width(), dv.Height()))) << n->name;
                for (size_t j = i + 1; j < controls.size(); ++j) {
                    const SkinNode* m = controls[j];
                    EXPECT_FALSE(Overlap(r, Place(m->left, m->top, m->width, m->height))) << n->name << ", " << m->name;
                }
            }
        }
        const CRect roomLocal(0, 0, room.Width(), room.Height());
        for (const SkinNode* n : Nodes(FindSubView("EXPORT_ROOM", "PAGE")))
            EXPECT_TRUE(Inside(Place(n->left, n->top, n->width, n->height), roomLocal)) << n->name;

        // The windows built from it: every control of the page inside the page.
        Host host;
        ASSERT_TRUE(host.CreateEx(0, AfxRegisterWndClass(0), "Host", WS_POPUP | WS_VISIBLE,
                                  CRect(0, 0, main->width, main->height), nullptr, 0));
        auto* exportRoom = new CExportRoom;
        ASSERT_TRUE(exportRoom->Create(room, &host));
        auto* filePage = new CFileConvertPage;
        ASSERT_TRUE(filePage->Create(page, 2001, &host));
        filePage->ShowWindow(SW_SHOW);
        Pump(300);
        CRect shown;
        filePage->GetWindowRect(&shown);
        int controls = 0;
        for (HWND child = GetWindow(filePage->m_hWnd, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            if (!IsWindowVisible(child)) continue;
            CRect r;
            GetWindowRect(child, &r);
            EXPECT_TRUE(Inside(r, shown)) << GetDlgCtrlID(child);
            ++controls;
        }
        EXPECT_GE(controls, 12);

        // The batch list with the widest texts its columns can hold: a ten-hour clip (the
        // time code's widest form short of a hundred hours) and the longest type names.
        for (const uint32_t formatClass : {10u, 11u, 4u}) {
            auto* entry = new FileBatchEntry{};
            entry->progressMark = -1;
            std::snprintf(entry->path, sizeof entry->path, "C:\\clips\\holiday at the lake %u.mpg", formatClass);
            entry->media.mediaKind = 1;
            entry->media.formatClass = formatClass;
            entry->media.duration = entry->outPoint = 36000LL * 10000000 + formatClass * 10000000LL;
            ASSERT_EQ(filePage->BatchList()->AddEntry(entry), 1);
        }
        ExpectColumnsShowTheirTexts(filePage->BatchList());
        // Three entries fit the list: its bar shows no thumb, only its disabled track.
        Pump(300);
        const std::string shot = "file_page_" + size + ".png";
        ASSERT_TRUE(testsupport::CaptureScreen(shot));
        CRect barRect;
        filePage->BatchList()->ScrollBar()->GetWindowRect(&barRect);
        for (const int at : {barRect.top + 4, barRect.top + (barRect.Height() - 32) / 2, barRect.bottom - 36}) {
            testsupport::Rgb track;
            ASSERT_TRUE(testsupport::PixelAt(shot, barRect.left + 8, at, &track));
            EXPECT_EQ(track, (testsupport::Rgb{0x2A, 0x2A, 0x2A})) << "at " << at - barRect.top;
        }

        // The room's icon view: brought to its last item, or scrolled by its bar, it shows
        // whole rows from its top edge down.
        for (int i = 0; i < 7; ++i)
            exportRoom->AddFile(clip.c_str());
        ASSERT_EQ(exportRoom->Count(), 7);
        const auto expectWholeTopRow = [&](const char* what) {
            SCOPED_TRACE(what);
            bool lastShown = false;
            for (int i = 0; i < exportRoom->Count(); ++i) {
                RECT item{};
                item.left = LVIR_BOUNDS;
                if (!exportRoom->List()->SendMessage(LVM_GETITEMRECT, i, reinterpret_cast<LPARAM>(&item))) {
                    ADD_FAILURE() << "no rectangle of item " << i;
                    continue;
                }
                EXPECT_FALSE(item.top < 0 && item.bottom > 0) << "item " << i << " cut at the top: " << item.top;
                if (i == exportRoom->Count() - 1) lastShown = item.top >= 0 && item.top < item.bottom;
            }
            return lastShown;
        };
        EXPECT_TRUE(expectWholeTopRow("after adding"));
        CGNewScrollBar* bar = exportRoom->ScrollBar();
        ASSERT_NE(bar, nullptr);
        ASSERT_GT(bar->GetPos(), 0) << "seven items overflow the room";
        for (const int step : {-30, -70, 45}) {
            bar->SetPos(bar->GetPos() + step);
            exportRoom->SendMessage(WM_GSCROLLBAR_CHANGED, CExportRoom::kScrollBarId, 0);
            expectWholeTopRow("scrolled by the bar");
        }
        Pump(300);
        EXPECT_TRUE(testsupport::CaptureScreen("file_page_" + size + ".png"));
        filePage->DestroyWindow();
        delete filePage;
        exportRoom->DestroyWindow();
        delete exportRoom;
        host.DestroyWindow();
    }
}

TEST_F(FilePageTest, SeparateRunGivesThreeUniquelyNamedOutputsAndTheirNotifications) {
    ASSERT_NO_FATAL_FAILURE(AddClips());
    ASSERT_EQ(page_->BatchList()->Count(), 3);
    EXPECT_EQ(CountCode(EPN_FILE_REFRESH), 1);
    EXPECT_NEAR(page_->GetTotalDuration() / 1e7, 4.5, 0.1);
    // Adding the first clip again asks; the hook answers No and the list keeps three.
    page_->AddFiles({clips_[0]});
    for (int i = 0; i < 200 && page_->WorkerRunning(); ++i)
        Pump(50);
    EXPECT_EQ(boxes_, std::vector<UINT>{IDS_ALREADY_LISTED});
    EXPECT_EQ(page_->BatchList()->Count(), 3);
    ASSERT_TRUE(testsupport::CaptureScreen("file_page_idle.png"));

    page_->SetProfile(*Mpeg2Record());
    host_.codes.clear();
    page_->OnConvertCommand(4206);
    ASSERT_EQ(page_->PageState(), CFileConvertPage::kConverting);
    Pump(400);
    ASSERT_TRUE(testsupport::CaptureScreen("file_page_converting.png"));
    ASSERT_TRUE(WaitForState(CFileConvertPage::kFinished, 300));

    const std::vector<UINT> run{EPN_FILE_BUSY, EPN_FILE_CLIP_READY, EPN_FILE_IDLE};
    EXPECT_EQ(host_.codes, (std::vector<UINT>{run[0], run[1], run[2], run[0], run[1], run[2], run[0], run[1], run[2]}));
    const std::vector<std::string> names{"Convert.mpg", "Convert(0).mpg", "Convert(1).mpg"};
    ASSERT_EQ(host_.ready.size(), 3u);
    const double lengths[] = {1.0, 1.5, 2.0};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(host_.ready[i], outDir_ + "\\" + names[i]);
        EXPECT_NEAR(ProbeDuration(host_.ready[i]), lengths[i], 0.15) << names[i];
    }
    EXPECT_EQ(room_->Count(), 3);
    for (int i = 0; i < page_->BatchList()->Count(); ++i)
        EXPECT_EQ(page_->BatchList()->Entry(i)->progressMark, -1);
    Pump(200);
    ASSERT_TRUE(testsupport::CaptureScreen("file_page_export_room.png"));

    // Viewing the selected output opens it in the video viewer, titled with its name.
    ASSERT_EQ(room_->SelectRange(1, 1, 0), 1);
    std::string title;
    DialogDriver driver({{"", [&title](HWND viewer) {
                              char text[260] = {};
                              GetWindowTextA(viewer, text, sizeof text);
                              title = text;
                              static_cast<CDialog*>(CWnd::FromHandlePermanent(viewer))->EndDialog(IDCANCEL);
                          }}});
    EXPECT_EQ(room_->ViewSelected(), 1);
    EXPECT_EQ(driver.Done(), 1u);
    EXPECT_NE(title.find(names[1]), std::string::npos) << title;
}

TEST_F(FilePageTest, MergedRunGivesOneOutputOfTheSummedDuration) {
    ASSERT_NO_FATAL_FAILURE(AddClips());
    SetMerge(1);
    page_->SetProfile(*Mpeg2Record());
    host_.codes.clear();
    page_->OnConvertCommand(4206);
    ASSERT_TRUE(WaitForState(CFileConvertPage::kFinished, 300));
    SetMerge(0);
    EXPECT_EQ(host_.codes, (std::vector<UINT>{EPN_FILE_BUSY, EPN_FILE_CLIP_READY, EPN_FILE_IDLE}));
    ASSERT_EQ(host_.ready.size(), 1u);
    EXPECT_EQ(host_.ready[0], outDir_ + "\\Convert.mpg");
    EXPECT_NEAR(ProbeDuration(host_.ready[0]), 4.5, 0.2);
}

TEST_F(FilePageTest, H264OutputsKeepTheirSourceSizeUpTo720p) {
    std::vector<std::string> sources;
    for (const char* size : {"1920x1080", "720x480"}) {
        std::string path;
        ASSERT_TRUE(testsupport::MediaFixture(std::string("ffmpeg -f lavfi -i testsrc=size=") + size +
                                                  ":rate=25 -f lavfi -i sine=sample_rate=48000 -t 0.4 -c:v mpeg2video "
                                                  "-b:v 4M -c:a mp2 -f vob {out}",
                                              "mpg", &path));
        sources.push_back(path);
    }
    page_->AddFiles(sources);
    for (int i = 0; i < 600 && page_->WorkerRunning(); ++i)
        Pump(50);
    ASSERT_EQ(page_->BatchList()->Count(), 2);
    const auto record = BuiltinRecord(library_, profiles::kClassH264, "H.264 Standard");
    ASSERT_TRUE(record);
    page_->SetProfile(*record);
    page_->SetH264Selection(1);
    page_->OnConvertCommand(4206);
    ASSERT_TRUE(WaitForState(CFileConvertPage::kFinished, 300));
    ASSERT_EQ(host_.ready.size(), 2u);
    EXPECT_EQ(ProbeSize(host_.ready[0]), std::make_pair(1280, 720));
    EXPECT_EQ(ProbeSize(host_.ready[1]), std::make_pair(720, 480));
    // The export room lists both (transport streams), read as H.264 at their own size and
    // length.
    ASSERT_EQ(room_->Count(), 2);
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const engines::ClipInfo& media = room_->Entry(i)->media;
        EXPECT_STREQ(room_->Entry(i)->path, host_.ready[i].c_str());
        EXPECT_EQ(media.formatClass, uint32_t{profiles::kClassH264});
        EXPECT_EQ(std::make_pair(int(media.width), int(media.height)), ProbeSize(host_.ready[i]));
        EXPECT_NEAR(media.duration / 1e7, ProbeDuration(host_.ready[i]), 1 / media.frameRate);
    }
}

TEST_F(FilePageTest, WithNoFreeFinalNameTheOutputKeepsItsFirstNameAndIsReportedThere) {
    // Every final name is taken: the finished file stays as the page's working name, the
    // user is told, and the export room gets the path the file really has.
    ASSERT_NO_FATAL_FAILURE(CrowdFolder(outName_));
    ConvertFirstClipAndExpectItKeptItsFirstName(IDS_NO_FREE_NAME);
}

TEST_F(FilePageTest, AFinalRenameThatFailsLeavesTheOutputUnderItsFirstNameAndSaysSo) {
    // The final name lies in a folder that does not exist: the name is free, the move fails.
    SetConvertPrefix("missing\\Convert");
    ConvertFirstClipAndExpectItKeptItsFirstName(IDS_OUTPUT_NOT_RENAMED);
    EXPECT_EQ(host_.codes, (std::vector<UINT>{EPN_FILE_REFRESH, EPN_FILE_BUSY, EPN_FILE_CLIP_READY, EPN_FILE_IDLE}));
}

TEST_F(FilePageTest, ListEditsAndFastForwardRates) {
    ASSERT_NO_FATAL_FAILURE(AddClips());
    CFileBatchList* list = page_->BatchList();
    list->SelectOnly(1);
    page_->UpdateControls();
    EXPECT_EQ(page_->PageState(), CFileConvertPage::kReady);
    EXPECT_EQ(page_->IsCommandEnabled(4301), 1);
    // Fast forward steps through 2, 4, 8, 16 and back to 1.
    for (float rate : {2.0f, 4.0f, 8.0f, 16.0f, 1.0f}) {
        page_->OnTransportCommand(4303);
        EXPECT_EQ(page_->PlayRate(), rate);
    }
    page_->OnTransportCommand(4302);
    EXPECT_EQ(page_->PageState(), CFileConvertPage::kReady);
    // Two selected: no transport.
    list->List()->SetItemState(0, LVIS_SELECTED, LVIS_SELECTED);
    page_->UpdateControls();
    EXPECT_EQ(page_->IsCommandEnabled(4301), 0);
    EXPECT_EQ(page_->IsCommandEnabled(4302), 0);
    // Delete: two entries gone, numbered from 1 again, nothing selected, 3029 sent.
    host_.codes.clear();
    page_->OnListCommand(4311);
    ASSERT_EQ(list->Count(), 1);
    EXPECT_STREQ(list->Entry(0)->path, clips_[2].c_str());
    EXPECT_EQ(std::string(list->List()->GetItemText(0, 0).c_str()), "1");
    EXPECT_EQ(list->GetSelectedCount(), 0);
    EXPECT_EQ(host_.codes, std::vector<UINT>{EPN_FILE_REFRESH2});
    EXPECT_EQ(page_->GetState(), 1);
    EXPECT_EQ(host_.titleRefreshes, 1);
}

// The preview of the third clip (2 s, from 2.5 s on the timeline): frame steps, a slider
// jump and typed jumps move the engine's position within a frame, the slider and the time
// code follow, and playing from a jump draws the clip's pictures into the preview.
TEST_F(FilePageTest, FrameStepsAndJumpsMoveThePreviewAndItsPicture) {
    ASSERT_NO_FATAL_FAILURE(AddClips());
    page_->BatchList()->SelectOnly(2);
    page_->UpdateControls();
    CGSelectSlider* slider = page_->Slider();
    CGTimeCodeEdit* edit = page_->TimeEdit();
    IFileEngineControl* engine = page_->Engine();
    ASSERT_TRUE(slider && edit && engine);
    const FileBatchEntry* clip = page_->BatchList()->Entry(2);
    const int64_t start = clip->timelineStart, end = clip->timelineEnd, frame = FramesToTime(1);
    ASSERT_NEAR(start / 1e7, 2.5, 0.05);
    int64_t low = 0, high = 0;
    slider->GetRange64(&low, &high);
    EXPECT_EQ(low, start);
    EXPECT_EQ(high, end);
    const auto expectAt = [&](int64_t position, const std::string& timeCode, const char* what) {
        SCOPED_TRACE(what);
        LONGLONG at = -1;
        ASSERT_EQ(engine->GetPosition(&at), S_OK);
        EXPECT_NEAR(static_cast<double>(at), static_cast<double>(position), static_cast<double>(frame));
        int64_t shown = -1;
        slider->GetPos(&shown);
        EXPECT_NEAR(static_cast<double>(shown), static_cast<double>(position), static_cast<double>(frame));
        EXPECT_EQ(edit->Model().Display(), timeCode);
    };
    expectAt(start, "00:00:00:00", "selected");
    for (int i = 0; i < 3; ++i)
        page_->OnTransportCommand(4307);
    expectAt(start + 3 * frame, "00:00:00:03", "three frames on");
    for (int i = 0; i < 5; ++i)
        page_->OnTransportCommand(4306);
    expectAt(start, "00:00:00:00", "stepped back past the start");

    // A held frame button steps further on each auto-repeat (1, then x5+1 up to 2000 frames),
    // and its release is one frame again. The repeats are driven here one by one.
    auto* next = dynamic_cast<CGButton*>(page_->Control(2017));
    ASSERT_NE(next, nullptr);
    CRect face;
    next->GetClientRect(&face);
    const LPARAM held = MAKELPARAM(face.Width() / 2, face.Height() / 2);
    const auto runCommands = [&] {
        MSG msg;
        while (PeekMessageA(&msg, page_->m_hWnd, WM_COMMAND, WM_COMMAND, PM_REMOVE))
            DispatchMessageA(&msg);
    };
    next->SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, held);
    EXPECT_EQ(next->RepeatMultiplier(), 1);
    const struct {
        int multiplier;
        int64_t frames;  // stepped from the clip's start so far
    } repeats[] = {{6, 6}, {31, 37}, {156, 193}, {781, 974}, {2000, 2974}, {2000, 4974}};
    for (const auto& r : repeats) {
        SCOPED_TRACE(r.multiplier);
        next->SendMessage(WM_TIMER, 1, 0);
        EXPECT_EQ(next->RepeatMultiplier(), r.multiplier);
        runCommands();
        const int64_t position = std::min(start + r.frames * frame, end);
        if (position < end) {
            expectAt(position, FormatTimeCode(position - start, 0).c_str(), "held");
        } else {
            // Past the end the step stops at the end (the preview itself starts 80 ms before).
            int64_t shown = -1;
            slider->GetPos(&shown);
            EXPECT_EQ(shown, end);
            EXPECT_EQ(edit->Model().Display(), std::string(FormatTimeCode(end - start, 0).c_str()));
        }
    }
    next->SendMessage(WM_LBUTTONUP, 0, held);
    EXPECT_EQ(next->RepeatMultiplier(), 1);
    runCommands();
    page_->OnTransportCommand(4306);
    expectAt(end - frame, FormatTimeCode(end - frame - start, 0).c_str(), "one frame back after the hold");

    slider->SetPos(start + 10000000, FALSE);
    page_->SendMessage(WM_HSCROLL, MAKEWPARAM(SB_THUMBPOSITION, 0), reinterpret_cast<LPARAM>(slider->m_hWnd));
    expectAt(start + 10000000, "00:00:01:00", "slider jump");

    edit->SetText("00:00:01:12");
    page_->SendMessage(WM_GTIMEEDIT_ENTER, 0, 0);
    expectAt(start + 10000000 + 12 * frame, "00:00:01:12", "typed jump");
    // A jump to the very end shows the end but starts the preview 80 ms before it.
    edit->SetText("00:00:02:00");
    page_->SendMessage(WM_GTIMEEDIT_ENTER, 0, 0);
    LONGLONG atEnd = -1;
    engine->GetPosition(&atEnd);
    EXPECT_EQ(atEnd, end - 800000);
    slider->GetPos(&low);
    EXPECT_EQ(low, end);
    EXPECT_EQ(page_->PageState(), CFileConvertPage::kPaused);

    // Play from one second in: the play timer carries the slider along, and the preview
    // shows the test pattern where the page's empty screen is black.
    edit->SetText("00:00:01:00");
    page_->SendMessage(WM_GTIMEEDIT_ENTER, 0, 0);
    page_->OnTransportCommand(4301);
    ASSERT_EQ(page_->PageState(), CFileConvertPage::kPlaying);
    Pump(500);
    LONGLONG playing = 0;
    engine->GetPosition(&playing);
    int64_t shown = 0;
    slider->GetPos(&shown);
    EXPECT_GT(shown, start + 10000000);
    EXPECT_NEAR(static_cast<double>(shown), static_cast<double>(playing), 2000000.0);
    ASSERT_TRUE(testsupport::CaptureScreen("file_page_preview.png"));
    page_->OnTransportCommand(4301);
    EXPECT_EQ(page_->PageState(), CFileConvertPage::kPaused);
    SkinStaticNode* screen = CSkinLayout::FindStatic("ENC_FILE_PAGE", "LAYOUT1", "ORIGIONSCREEN");
    ASSERT_NE(screen, nullptr);
    CRect page;
    page_->GetWindowRect(&page);
    const int area = screen->width * screen->height;
    const int dark = testsupport::CountDarkPixels("file_page_preview.png", page.left + screen->left,
                                                  page.top + screen->top, screen->width, screen->height, 24);
    EXPECT_GE(dark, 0);
    EXPECT_LT(dark, area / 2);
    testsupport::Rgb centre;
    ASSERT_TRUE(testsupport::PixelAt("file_page_preview.png", page.left + screen->left + screen->width / 2,
                                     page.top + screen->top + screen->height / 2, &centre));
    EXPECT_GT(centre.r + centre.g + centre.b, 3 * 24);
}

// A disc file with two titles (dvdauthor, from two ffmpeg-made clips whose time stamps both
// start near 0, so the second title jumps back by 2 s) is listed as one entry
// per title, whatever the case of its extension; an elementary stream is not taken.
TEST_F(FilePageTest, DiscFileIsListedOneEntryPerTitle) {
    const std::string folder = UniqueName("disc");
    const std::string clip =
        "-f lavfi -i testsrc=size=720x576:rate=25 -f lavfi -i sine=sample_rate=48000 -target pal-dvd";
    ASSERT_EQ(testsupport::RunShell(
                  "mkdir '" + folder + "' && cd '" + folder + "' && ffmpeg -loglevel error -y " + clip +
                      " -t 2 a.mpg && ffmpeg -loglevel error -y " + clip +
                      " -t 2.5 b.mpg && echo '<dvdauthor dest=\"dvd\"><vmgm/><titleset><titles><pgc><vob "
                      "file=\"a.mpg\"/></pgc><pgc><vob file=\"b.mpg\"/></pgc></titles></titleset></dvdauthor>' > "
                      "d.xml && VIDEO_FORMAT=PAL dvdauthor -x d.xml && cp dvd/VIDEO_TS/VTS_01_1.VOB small.vob && "
                      "ffmpeg -loglevel error -y -i a.mpg -c:v copy -an -f mpeg2video clip.m2v",
                  folder + ".log"),
              0);
    const std::string dir = FixturePath(folder);
    const std::string upper = dir + "\\dvd\\VIDEO_TS\\VTS_01_1.VOB", lower = dir + "\\small.vob";
    const double lengths[] = {ProbeDuration(dir + "\\a.mpg"), ProbeDuration(dir + "\\b.mpg")};
    ASSERT_GT(lengths[0], 1.9);
    ASSERT_GT(lengths[1], 2.4);

    page_->AddFiles({upper, dir + "\\clip.m2v", lower});
    for (int i = 0; i < 600 && page_->WorkerRunning(); ++i)
        Pump(50);
    CFileBatchList* list = page_->BatchList();
    ASSERT_EQ(list->Count(), 4);
    EXPECT_TRUE(boxes_.empty());
    EXPECT_EQ(list->SegmentScanState(), CSegmentScanProgress::kDone);
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        const FileBatchEntry* entry = list->Entry(i);
        EXPECT_STREQ(entry->path, (i < 2 ? upper : lower).c_str());
        const double length = entry->media.duration / 1e7;
        EXPECT_NEAR(length, lengths[i % 2], 0.1);
        EXPECT_EQ(entry->outPoint - entry->inPoint, entry->media.duration);
        EXPECT_EQ(entry->media.width, 720u);
        EXPECT_EQ(entry->media.height, 576u);
        EXPECT_EQ(entry->progressMark, -1);
    }
    // The second title starts where the first ends in the file.
    EXPECT_NEAR(list->Entry(0)->inPoint / 1e7, 0.0, 0.05);
    EXPECT_NEAR(list->Entry(1)->inPoint / 1e7, lengths[0], 0.1);
    // The export room takes a disc file title by title too, its own dialog showing the scan.
    room_->AddFile(lower.c_str());
    ASSERT_EQ(room_->Count(), 2);
    ASSERT_NE(room_->Progress(), nullptr);
    EXPECT_FALSE(room_->Progress()->IsWindowVisible());
    EXPECT_EQ(WindowText(room_->Progress()->m_hWnd).rfind(AfxLoadString(IDS_READING_SEGMENTS).c_str(), 0), 0u);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(room_->Entry(i)->inPoint, list->Entry(i)->inPoint) << i;
        EXPECT_EQ(room_->Entry(i)->outPoint, list->Entry(i)->outPoint) << i;
    }
    // Each title has its own place on the engine's time line.
    EXPECT_EQ(list->Entry(1)->timelineStart, list->Entry(0)->timelineEnd);
    EXPECT_NEAR(page_->GetTotalDuration() / 1e7, 2 * (lengths[0] + lengths[1]), 0.3);
}

// Viewing a file from outside the list: the room's progress dialog names the file while it is
// probed and is gone when the viewer opens; a disc file is not opened whole.
TEST_F(FilePageTest, ViewingAFileShowsTheRoomsProgressWhileItIsOpened) {
    EXPECT_EQ(room_->OpenFile((outDir_ + "\\title.VRO").c_str()), 0);
    CProgressDialog* progress = room_->Progress();
    ASSERT_NE(progress, nullptr);
    bool hidden = false;
    std::string caption, title;
    const std::string viewerTitle =
        std::string(AfxLoadString(IDS_VIEWER_TITLE).c_str()) + " - " + clips_[1].substr(clips_[1].rfind('\\') + 1);
    DialogDriver driver({{viewerTitle, [&](HWND viewer) {
                              hidden = !progress->IsWindowVisible();
                              caption = WindowText(progress->m_hWnd);
                              title = WindowText(GetDlgItem(progress->m_hWnd, IDC_PROGRESS_TEXT));
                              static_cast<CDialog*>(CWnd::FromHandlePermanent(viewer))->EndDialog(IDCANCEL);
                          }}});
    EXPECT_EQ(room_->OpenFile(clips_[1].c_str()), 1);
    EXPECT_EQ(driver.Done(), 1u);
    EXPECT_TRUE(hidden);
    EXPECT_EQ(caption, std::string(AfxLoadString(IDS_OPENING_FILE).c_str()) + " [100%]");
    EXPECT_EQ(title, clips_[1]);
    EXPECT_EQ(room_->Count(), 0) << "the viewed file is not listed";
}

// The texts of the information dialog `dialog`: its three section values.
std::vector<std::string> InfoTexts(HWND dialog) {
    std::vector<std::string> texts;
    for (int id : {IDC_INFO_VALUE_1, IDC_INFO_VALUE_2, IDC_INFO_VALUE_3}) {
        char text[2048] = {};
        if (IsWindowVisible(GetDlgItem(dialog, id))) GetDlgItemTextA(dialog, id, text, sizeof text);
        texts.emplace_back(text);
    }
    return texts;
}

// The properties of an MPEG-2 output list its bit rate, those of an AVI do not; sizes and
// lengths are ffprobe's; the file page's list menu opens the same dialog, and the export
// room's tip carries the same facts.
TEST_F(FilePageTest, FilePropertiesShowTheFilesFactsAndBitRateOnlyForMpeg) {
    std::string avi, mpeg;
    ASSERT_TRUE(
        testsupport::MediaFixture("ffmpeg -f lavfi -i testsrc=size=320x240:rate=25 -f lavfi -i "
                                  "sine=sample_rate=44100 -t 1 -c:v mpeg4 -c:a mp3 {out}",
                                  "avi", &avi));
    // A constant-rate stream, whose sequence header carries its bit rate.
    ASSERT_TRUE(
        testsupport::MediaFixture("ffmpeg -f lavfi -i testsrc=size=352x288:rate=25 -f lavfi -i "
                                  "sine=sample_rate=48000 -t 2 -c:v mpeg2video -b:v 2M -maxrate 2M "
                                  "-bufsize 1M -c:a mp2 -f vob {out}",
                                  "mpg", &mpeg));
    // 2,000,000 bit/s in the units of byte sizes.
    const std::string rate = "Bit rate: 1.91 MB/s";
    room_->AddFile(mpeg.c_str());
    room_->AddFile(avi.c_str());
    ASSERT_EQ(room_->Count(), 2);
    // Each thumbnail is the room's own poster-sized picture with the whole frame drawn into it
    // (the test pattern's colour bars reach both edges).
    SkinStaticNode* poster = CSkinLayout::FindStatic("EXPORT_ROOM", "LAYOUT1", "IDC_EXPROOM_POSTER");
    ASSERT_NE(poster, nullptr);
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        DIBSECTION dib{};
        ASSERT_EQ(GetObjectA(room_->Entry(i)->thumbnail, sizeof dib, &dib), static_cast<int>(sizeof dib));
        EXPECT_EQ(dib.dsBm.bmWidth, poster->width);
        EXPECT_EQ(std::abs(dib.dsBm.bmHeight), poster->height);
        HDC dc = CreateCompatibleDC(nullptr);
        HGDIOBJ old = SelectObject(dc, room_->Entry(i)->thumbnail);
        std::set<COLORREF> colours;
        int brightest = 0;
        for (int x = 0; x < poster->width; ++x) {
            const COLORREF c = GetPixel(dc, x, poster->height / 3);
            colours.insert(c);
            brightest = std::max(brightest, GetRValue(c) + GetGValue(c) + GetBValue(c));
        }
        SelectObject(dc, old);
        DeleteDC(dc);
        EXPECT_GE(colours.size(), 4u) << "the test pattern's bars, not a plain poster";
        EXPECT_GT(brightest, 3 * 120);
    }
    std::vector<std::vector<std::string>> shown;
    const auto read = [&shown](bool capture) {
        return [&shown, capture](HWND dialog) {
            shown.push_back(InfoTexts(dialog));
            if (capture) {
                UpdateWindow(dialog);
                Pump(200);
                testsupport::CaptureScreen("file_properties.png");
            }
            DialogDriver::Click(dialog, IDOK);
        };
    };
    {
        DialogDriver driver({{"Information", read(true)}, {"Information", read(false)}});
        for (int i = 0; i < 2; ++i) {
            room_->SelectRange(i, i, 0);
            room_->OnCommand(4415);
        }
        EXPECT_EQ(driver.Done(), 2u);
    }
    ASSERT_EQ(shown.size(), 2u);
    const std::pair<int, int> mpegSize = ProbeSize(mpeg), aviSize = ProbeSize(avi);
    const std::string mpegFrame = std::to_string(mpegSize.first) + "x" + std::to_string(mpegSize.second);
    const std::string aviFrame = std::to_string(aviSize.first) + "x" + std::to_string(aviSize.second);
    EXPECT_NE(shown[0][0].find(mpeg), std::string::npos) << shown[0][0];
    EXPECT_NE(shown[0][0].find("MPEG-2"), std::string::npos) << shown[0][0];
    EXPECT_NE(shown[0][1].find("Duration: 00:00:02:00"), std::string::npos) << shown[0][1];
    EXPECT_NE(shown[0][1].find(rate), std::string::npos) << shown[0][1];
    EXPECT_NE(shown[0][1].find("Frame size: " + mpegFrame), std::string::npos) << shown[0][1];
    EXPECT_NE(shown[0][1].find("Frame rate: 25.00 fps"), std::string::npos) << shown[0][1];
    EXPECT_NE(shown[1][0].find("AVI"), std::string::npos) << shown[1][0];
    EXPECT_EQ(shown[1][1].find("Bit rate"), std::string::npos) << shown[1][1];
    EXPECT_NE(shown[1][1].find("Frame size: " + aviFrame), std::string::npos) << shown[1][1];
    // The modification date, as the file system has it.
    char modified[16] = {};
    {
        WIN32_FILE_ATTRIBUTE_DATA facts{};
        FILETIME local{};
        SYSTEMTIME when{};
        ASSERT_TRUE(GetFileAttributesExA(mpeg.c_str(), GetFileExInfoStandard, &facts));
        ASSERT_TRUE(FileTimeToLocalFileTime(&facts.ftLastWriteTime, &local) && FileTimeToSystemTime(&local, &when));
        std::snprintf(modified, sizeof modified, "%04d/%02d/%02d", when.wYear, when.wMonth, when.wDay);
    }
    EXPECT_NE(shown[0][0].find(std::string("Modified: ") + modified), std::string::npos) << shown[0][0];

    const std::string tip = room_->TipText(0).c_str();
    EXPECT_NE(tip.find(rate), std::string::npos) << tip;
    EXPECT_NE(tip.find("Frame size: " + mpegFrame), std::string::npos) << tip;
    EXPECT_EQ(room_->TipText(1).Find("Bit rate"), -1);

    // The file page's list menu: properties of the one selected entry.
    page_->AddFiles({mpeg});
    for (int i = 0; i < 200 && page_->WorkerRunning(); ++i)
        Pump(50);
    page_->BatchList()->SelectOnly(0);
    DialogDriver driver({{"Information", read(false)}});
    page_->SendMessage(WM_COMMAND, MAKEWPARAM(4421, 0), 0);
    EXPECT_EQ(driver.Done(), 1u);
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[2], shown[0]);
}

// Abort while the second of three files converts: the first keeps its final name, the second
// gets none, the third is never started, and the first entry's done mark is cleared.
TEST_F(FilePageTest, AbortStopsAfterTheCurrentFileWithoutFinalNamesAndClearsTheMarks) {
    ASSERT_NO_FATAL_FAILURE(AddClips());
    page_->SetProfile(*Mpeg2Record());
    host_.codes.clear();
    CFileBatchList* list = page_->BatchList();
    // Abort as soon as the page has started the second file: a short clip converts within one
    // pump of the message loop, so waiting for the next pump could find the third file started.
    // The abort is posted so that it comes after the page's own handling of the start.
    int firstMark = 0;
    bool aborted = false;
    host_.onCode = [&](UINT code) {
        if (code == EPN_FILE_BUSY && CountCode(EPN_FILE_BUSY) == 2) host_.PostMessage(Host::kPosted, 0, 0);
    };
    host_.onPosted = [&] {
        aborted = true;
        firstMark = list->Entry(0)->progressMark;
        EXPECT_EQ(page_->PageState(), CFileConvertPage::kConverting);
        page_->OnConvertCommand(4207);
    };
    page_->OnConvertCommand(4206);
    ASSERT_EQ(page_->PageState(), CFileConvertPage::kConverting);
    for (int i = 0; i < 6000 && !aborted; ++i)
        Pump(50);
    host_.onCode = nullptr;
    host_.onPosted = nullptr;
    ASSERT_TRUE(aborted);
    EXPECT_EQ(firstMark, 100) << "the first file is marked done";
    for (int i = 0; i < list->Count(); ++i)
        EXPECT_EQ(list->Entry(i)->progressMark, -1) << i;
    ASSERT_TRUE(WaitForState(CFileConvertPage::kFinished, 120));
    Pump(500);
    EXPECT_EQ(host_.ready, std::vector<std::string>{outDir_ + "\\Convert.mpg"});
    EXPECT_EQ(CountCode(EPN_FILE_BUSY), 2);
    EXPECT_EQ(CountCode(EPN_FILE_CLIP_READY), 1);
    EXPECT_NEAR(ProbeDuration(outDir_ + "\\Convert.mpg"), 1.0, 0.15);
    for (const char* name : {"\\Convert(0).mpg", "\\Convert(1).mpg"})
        EXPECT_EQ(GetFileAttributesA((outDir_ + name).c_str()), INVALID_FILE_ATTRIBUTES) << name;
    EXPECT_EQ(room_->Count(), 1);
    for (int i = 0; i < list->Count(); ++i)
        EXPECT_EQ(list->Entry(i)->progressMark, -1) << i;
    EXPECT_EQ(list->GetSelectedCount(), 0);
}

// The progress tick shows the engine's fraction as a percentage, a slider position out of
// 100 and the time code of that share of the whole length. It is driven once the engine has
// stopped (aborted part-way, or finished when the abort came late on a loaded machine), so
// that the fraction it reports no longer moves.
TEST_F(FilePageTest, ProgressTickShowsTheEnginesFraction) {
    ASSERT_NO_FATAL_FAILURE(AddClips());
    SetMerge(1);
    page_->SetProfile(*Mpeg2Record());
    page_->OnConvertCommand(4206);
    ASSERT_EQ(page_->PageState(), CFileConvertPage::kConverting);
    IFileEngineControl* engine = page_->Engine();
    float fraction = 0;
    for (int i = 0; i < 600 && (engine->GetProgress(&fraction) != S_OK || fraction <= 0.0f); ++i)
        Pump(50);
    page_->OnConvertCommand(4207);
    ASSERT_TRUE(WaitForState(CFileConvertPage::kFinished, 120));
    SetMerge(0);
    ASSERT_EQ(engine->GetProgress(&fraction), S_OK);
    ASSERT_GT(fraction, 0.0f);
    ASSERT_LE(fraction, 1.0f);
    LONGLONG total = 0;
    ASSERT_EQ(engine->GetDuration(&total), S_OK);
    EXPECT_NEAR(total / 1e7, 4.5, 0.1);

    page_->SendMessage(WM_TIMER, 2, 0);
    const int percent = static_cast<int>(fraction * 100);
    char text[32] = {};
    GetWindowTextA(page_->Control(2023)->m_hWnd, text, sizeof text);
    EXPECT_EQ(std::string(text), std::to_string(percent) + "%");
    CGSelectSlider* slider = page_->Slider();
    int64_t low = -1, high = -1, at = -1;
    slider->GetRange64(&low, &high);
    slider->GetPos(&at);
    EXPECT_EQ(std::make_pair(low, high), std::make_pair(int64_t{0}, int64_t{99}));
    EXPECT_EQ(at, percent);
    EXPECT_FALSE(slider->IsWindowEnabled());
    EXPECT_EQ(std::string(page_->TimeEdit()->Model().Display()),
              std::string(FormatTimeCode(static_cast<int64_t>(static_cast<double>(total) * fraction), 0).c_str()));
}

// The list saved as a project file on the disk, as the main page saves it, and opened again:
// the same three entries in the same order, with their lengths, placed on the time line in
// that order.
TEST_F(FilePageTest, ProjectFileWithThreeEntriesReopensToTheSameList) {
    ASSERT_NO_FATAL_FAILURE(AddClips());
    // The third moved up: the saved order is 1st, 3rd, 2nd.
    page_->BatchList()->SelectOnly(2);
    page_->OnListCommand(4312);
    EXPECT_EQ(page_->GetState(), 1);
    std::vector<FileBatchEntry> before;
    for (int i = 0; i < page_->BatchList()->Count(); ++i)
        before.push_back(*page_->BatchList()->Entry(i));
    const std::string path = outDir_ + "\\three.qzt";
    {
        CProjectFile project;
        CPtrList* entries = nullptr;
        ASSERT_EQ(project.GetEntries(&entries), 1);
        page_->FillProjectEntries(*entries);
        ASSERT_EQ(project.Save(path.c_str()), 1);
    }
    page_->Refresh();
    EXPECT_EQ(page_->BatchList()->Count(), 0);
    EXPECT_EQ(page_->GetState(), 0);
    {
        CProjectFile project;
        ASSERT_EQ(project.Load(path.c_str()), 1);
        CPtrList* entries = nullptr;
        ASSERT_EQ(project.GetEntries(&entries), 1);
        page_->LoadProjectEntries(*entries);
    }
    EXPECT_TRUE(boxes_.empty());
    CFileBatchList* list = page_->BatchList();
    ASSERT_EQ(list->Count(), 3);
    const int expected[] = {0, 2, 1};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const FileBatchEntry* entry = list->Entry(i);
        EXPECT_STREQ(entry->path, clips_[expected[i]].c_str());
        EXPECT_EQ(std::string(list->List()->GetItemText(i, 0).c_str()), std::to_string(i + 1));
        EXPECT_EQ(entry->media.duration, before[i].media.duration);
        // Placed on the time line one after another, in the list's order.
        EXPECT_EQ(entry->timelineStart, i ? list->Entry(i - 1)->timelineEnd : 0);
        EXPECT_EQ(entry->timelineEnd - entry->timelineStart, before[i].outPoint - before[i].inPoint);
        EXPECT_EQ(entry->progressMark, -1);
    }
    EXPECT_NEAR(page_->GetTotalDuration() / 1e7, 4.5, 0.1);
    EXPECT_EQ(page_->GetState(), 0) << "an opened project is not a change by the user";
}

TEST_F(FilePageTest, RenameDialogRenamesTheFileAndRefusesBadNames) {
    const std::string file = outDir_ + "\\clip.mpg";
    ASSERT_TRUE(CopyFileA(clips_[0].c_str(), file.c_str(), FALSE));
    std::ofstream(outDir_ + "\\taken.mpg") << "x";
    room_->AddFile(file.c_str());
    ASSERT_EQ(room_->Count(), 1);
    room_->List()->SetItemState(0, LVIS_SELECTED, LVIS_SELECTED);
    const auto type = [](const char* text) {
        return [text](HWND dialog) {
            SetDlgItemTextA(dialog, IDC_RENAME_NAME, text);
            DialogDriver::Click(dialog, IDOK);
        };
    };
    DialogDriver driver({{"Rename", type("bad:name")}, {"Rename", type("taken")}, {"Rename", type("  holiday")}});
    EXPECT_EQ(room_->RenameSelected(), 1);
    EXPECT_EQ(boxes_, (std::vector<UINT>{IDS_RENAME_INVALID, IDS_RENAME_EXISTS}));
    EXPECT_EQ(GetFileAttributesA(file.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(GetFileAttributesA((outDir_ + "\\holiday.mpg").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_STREQ(room_->Entry(0)->path, (outDir_ + "\\holiday.mpg").c_str());
    // Removing from the list keeps the file.
    room_->OnCommand(4413);
    EXPECT_EQ(room_->Count(), 0);
    EXPECT_NE(GetFileAttributesA((outDir_ + "\\holiday.mpg").c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
