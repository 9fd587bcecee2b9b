// The main page's command dispatcher and the panel's enable rules, over the command codes,
// the busy states and the shown page, with recording pages in the page slots; and the
// summary of the default profile.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "app/enc_main_page.h"
#include "app/main_panel.h"
#include "app/project_file.h"
#include "app/skin/skin_layout.h"
#include "app/skin/tests/window_support.h"
#include "framework/app.h"

namespace {

// What the recording pages and dialogs were asked to do, in order.
std::vector<std::string> g_log;

void Log(const std::string& entry) {
    g_log.push_back(entry);
}

// A plain child window for a recording page.
CWnd* MakeWindow(CWnd* parent, const RECT& rect, UINT id) {
    auto* w = new CWnd;
    const char* cls = AfxRegisterWndClass(0);
    if (!w->Create(cls, "page", WS_CHILD, rect, parent, id)) {
        delete w;
        return nullptr;
    }
    return w;
}

class RecordingFilePage : public FilePageSlot {
public:
    ~RecordingFilePage() override { delete window_; }
    CWnd* Window() override { return window_; }
    BOOL Create(const RECT& rect, UINT id, CWnd* parent) override {
        window_ = MakeWindow(parent, rect, id);
        return window_ != nullptr;
    }
    void SetProfile(const profiles::ProfileRecord&) override {}
    void SetH264Selection(int32_t) override {}
    void ResetEngine() override { Log("file:reset"); }
    void StopEngine() override { Log("file:stop"); }
    void UpdateControls() override {}
    void Refresh() override { Log("file:refresh"); }
    int GetState() override { return 0; }
    void LoadProjectEntries(const CPtrList&) override { Log("file:load"); }
    void FillProjectEntries(CPtrList&) override { Log("file:fill"); }
    int64_t GetTotalDuration() override { return 0; }
    int IsCommandEnabled(UINT) override { return 1; }
    int IsPrimaryButtonEnabled() override { return 1; }
    LRESULT OnTransportCommand(UINT code) override { return Note("file:transport:", code); }
    LRESULT OnAddCommand(UINT code) override { return Note("file:add:", code); }
    LRESULT OnConvertCommand(UINT code) override { return Note("file:convert:", code); }
    LRESULT OnListCommand(UINT code) override { return Note("file:list:", code); }
    void OnDropFiles(HDROP) override { Log("file:drop"); }

private:
    static LRESULT Note(const char* what, UINT code) {
        Log(what + std::to_string(code));
        return 7;
    }
    CWnd* window_ = nullptr;
};

class RecordingDVPage : public DVPageSlot {
public:
    ~RecordingDVPage() override {
        Log("dv:deleted");
        delete window_;
    }
    CWnd* Window() override { return window_; }
    void SetProfileManager(profiles::CProfileManager*) override {}
    BOOL Create(const RECT& rect, UINT id, CWnd* parent) override {
        Log("dv:create");
        window_ = MakeWindow(parent, rect, id);
        return window_ != nullptr;
    }
    float GetFrameRate() override { return 25.0f; }
    int IsDeviceTypeOne() override { return 0; }
    void SetProfile(const profiles::ProfileRecord&) override {}
    void SetH264Selection(int32_t) override {}
    int64_t GetRecordedSize() override { return 0; }
    int IsSetupEnabled() override { return 1; }
    int IsSecondaryButtonEnabled() override { return 1; }
    int IsCommandEnabled(UINT) override { return 1; }
    LRESULT OnTransportCommand(UINT code) override { return Note("dv:transport:", code); }
    LRESULT OnRecordCommand(UINT code) override { return Note("dv:record:", code); }
    LRESULT SetupIfEnabled() override { return Note("dv:setup", 0); }
    LRESULT OnBatchIfIdle() override { return Note("dv:batch", 0); }

private:
    static LRESULT Note(const char* what, UINT code) {
        Log(code ? what + std::to_string(code) : std::string(what));
        return 7;
    }
    CWnd* window_ = nullptr;
};

class RecordingExportRoom : public ExportRoomSlot {
public:
    ~RecordingExportRoom() override { delete window_; }
    CWnd* Window() override { return window_; }
    BOOL Create(const RECT& rect, CWnd* parent) override {
        window_ = MakeWindow(parent, rect, 1000);
        return window_ != nullptr;
    }
    int GetSelectedCount() override { return 1; }
    void AddFile(const char* path) override { Log(std::string("room:add:") + path); }
    LRESULT ViewSelected() override { return Note("room:view"); }
    LRESULT RenameSelected() override { return Note("room:rename"); }
    LRESULT OpenFile(const char*) override { return Note("room:open"); }

private:
    static LRESULT Note(const char* what) {
        Log(what);
        return 7;
    }
    CWnd* window_ = nullptr;
};

// The main page with its modal steps recorded and cancelled.
class RecordingMainPage : public CEncMainPage {
protected:
    bool RunProjectFileDialog(bool open, CString&) override {
        Log(open ? "dialog:open" : "dialog:save");
        return false;
    }
    bool RunViewFileDialog(CString&) override {
        Log("dialog:view");
        return false;
    }
    INT_PTR RunProfileDialog() override {
        Log("dialog:profile");
        return IDCANCEL;
    }
    int Ask(UINT id, UINT) override {
        Log("ask:" + std::to_string(id));
        return IDOK;
    }
};

// The page's parent: records the close request the page sends it.
class RecordingParent : public CWnd {
public:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == WM_SYSCOMMAND && (wParam & 0xFFF0) == SC_CLOSE) {
            Log("panel:close");
            return 0;
        }
        return CWnd::WindowProc(message, wParam, lParam);
    }
};

PageFactory RecordingFactory(bool withFilePage) {
    PageFactory f;
    if (withFilePage) f.newFilePage = [] { return new RecordingFilePage; };
    f.newDVPage = [] { return new RecordingDVPage; };
    f.newExportRoom = [] { return new RecordingExportRoom; };
    f.checkDVDevice = [] { return S_OK; };
    f.findDVDevice = [] { return 1; };
    return f;
}

// States of the table: the shown page and the busy state.
enum State { FileIdle, DVIdle, FileConverting, DVCapturing, kStates };
const char* const kStateNames[kStates] = {"file page, idle", "DV page, idle", "file page, converting",
                                          "DV page, capturing"};

class MainPageCommandTest : public SkinLayoutTest {
protected:
    void Open(State state, bool withFilePage = true) {
        SetPageFactory(RecordingFactory(withFilePage));
        parent = new RecordingParent;
        ASSERT_TRUE(
            parent->CreateEx(0, AfxRegisterWndClass(0), "parent", WS_POPUP, CRect(0, 0, 1024, 768), nullptr, 0));
        page = new RecordingMainPage;
        ASSERT_TRUE(page->Create(CRect(0, 0, 1024, 768), kIdMainPage, parent));
        if (state == DVIdle || state == DVCapturing) page->ShowDVPage();
        if (state == FileConverting) Notify(page->GetFilePage()->Window(), 3026);
        if (state == DVCapturing) Notify(page->GetDVPage()->Window(), 2026);
        g_log.clear();
    }
    void Notify(CWnd* from, UINT code) {
        PageNotifyRecord record{{from->m_hWnd, static_cast<UINT_PTR>(from->GetDlgCtrlID()), code}, 0};
        page->SendMessage(WM_NOTIFY, record.hdr.idFrom, reinterpret_cast<LPARAM>(&record));
    }
    void TearDown() override { Close(); }
    void Close() {
        if (page) {
            page->DestroyWindow();
            delete page;
        }
        if (parent) {
            parent->DestroyWindow();
            delete parent;
        }
        page = nullptr;
        parent = nullptr;
        SetPageFactory(PageFactory{});
    }
    std::string Joined() const {
        std::string all;
        for (const auto& e : g_log)
            all += (all.empty() ? "" : " ") + e;
        return all;
    }
    RecordingParent* parent = nullptr;
    RecordingMainPage* page = nullptr;
};

// What each command does in each state ("" where it is refused): file page idle, DV page
// idle, file page converting, DV page capturing.
struct CommandRow {
    UINT code;
    const char* effect[kStates];
};
const CommandRow kCommands[] = {
    {4001, {"file:refresh", "file:refresh", "", ""}},
    {4002, {"dialog:open", "dialog:open", "", ""}},
    {4003, {"dialog:save", "dialog:save", "", ""}},
    {4004, {"dialog:save", "dialog:save", "", ""}},
    {4005, {"dialog:view", "dialog:view", "", ""}},
    {4006, {"panel:close", "panel:close", "", ""}},
    {4101, {"dialog:profile", "dialog:profile", "", ""}},
    {4102, {"room:rename", "room:rename", "", ""}},
    {4201, {"", "dv:deleted file:reset", "", ""}},
    {4202, {"file:stop dv:create", "", "", ""}},
    {4203, {"file:refresh", "file:refresh", "", ""}},
    {4204, {"file:add:4204", "", "", ""}},
    {4205, {"file:add:4205", "", "", ""}},
    {4206, {"file:convert:4206", "", "", ""}},
    {4207, {"file:convert:4207", "", "file:convert:4207", ""}},
    {4208, {"", "dv:record:4208", "", ""}},
    {4209, {"", "dv:record:4209", "", "dv:record:4209"}},
    {4210, {"", "dv:setup", "", "dv:setup"}},
    {4301, {"file:transport:4301", "dv:transport:4301", "", ""}},
    {4302, {"file:transport:4302", "dv:transport:4302", "", ""}},
    {4304, {"file:transport:4304", "dv:transport:4304", "", ""}},
    {4305, {"room:view", "room:view", "", ""}},
    {4306, {"file:transport:4306", "dv:transport:4306", "", ""}},
    {4308, {"file:transport:4308", "dv:transport:4308", "file:transport:4308", "dv:transport:4308"}},
    {4309, {"file:transport:4309", "dv:transport:4309", "file:transport:4309", "dv:transport:4309"}},
    {4310, {"file:list:4310", "", "", ""}},
    {4313, {"file:list:4313", "", "", ""}},
    {4103, {"", "", "", ""}},
    {4400, {"", "", "", ""}},
};

// One page for each state, opened again only after a command that left the state (a page
// switch); every other command only asks a recording page or a cancelled dialog.
TEST_F(MainPageCommandTest, EveryCodeReachesItsPageOrIsRefusedByStateAndShownPage) {
    for (int s = 0; s < kStates; ++s) {
        int shown = -1, busy = -1;
        for (const CommandRow& row : kCommands) {
            if (page == nullptr || page->GetShownPage() != shown || page->GetBusyState() != busy) {
                Close();
                Open(static_cast<State>(s));
                shown = page->GetShownPage();
                busy = page->GetBusyState();
            }
            g_log.clear();
            page->SendMessage(WM_ENCMAIN_COMMAND, row.code, 0);
            EXPECT_EQ(Joined(), row.effect[s]) << "command " << row.code << ", " << kStateNames[s];
        }
        Close();
    }
}

TEST_F(MainPageCommandTest, WithoutAFilePageEveryCodeIsIgnored) {
    Open(FileIdle, false);
    ASSERT_EQ(page->GetFilePage(), nullptr);
    for (UINT code : {4001u, 4003u, 4006u, 4201u, 4207u, 4308u, 4309u})
        EXPECT_EQ(page->SendMessage(WM_ENCMAIN_COMMAND, code, 0), 0) << code;
    EXPECT_EQ(Joined(), "");
}

TEST_F(MainPageCommandTest, PagesAnswerReachTheSender) {
    Open(FileIdle);
    EXPECT_EQ(page->SendMessage(WM_ENCMAIN_COMMAND, 4206, 0), 7);
    EXPECT_EQ(page->SendMessage(WM_ENCMAIN_COMMAND, 4208, 0), 0);
}

// The panel's enable rules: 1 enabled, 0 disabled, per state as above.
struct EnableRow {
    UINT code;
    int enabled[kStates];
};
const EnableRow kEnables[] = {
    {4001, {1, 1, 0, 0}}, {4006, {1, 1, 0, 0}}, {4101, {1, 1, 0, 0}}, {4102, {1, 1, 0, 0}}, {4103, {1, 1, 0, 0}},
    {4201, {1, 1, 0, 0}}, {4202, {1, 1, 0, 0}}, {4203, {1, 0, 0, 0}}, {4205, {1, 0, 0, 0}}, {4206, {1, 0, 0, 0}},
    {4207, {0, 0, 1, 0}}, {4208, {0, 1, 0, 0}}, {4209, {0, 0, 0, 1}}, {4210, {0, 1, 0, 0}}, {4301, {1, 1, 0, 0}},
    {4303, {1, 1, 0, 0}}, {4304, {0, 1, 0, 0}}, {4305, {1, 1, 0, 0}}, {4401, {1, 1, 1, 1}}, {4410, {1, 1, 1, 1}},
};

TEST_F(MainPageCommandTest, PanelEnablesCommandsByBusyStateAndShownPage) {
    for (int s = 0; s < kStates; ++s) {
        Open(static_cast<State>(s));
        for (const EnableRow& row : kEnables)
            EXPECT_EQ(IsPanelCommandEnabled(page, row.code) ? 1 : 0, row.enabled[s])
                << "command " << row.code << ", " << kStateNames[s];
        Close();
    }
}

TEST_F(MainPageCommandTest, CaptureAndConversionNotificationsSetAndClearTheBusyState) {
    Open(FileIdle);
    Notify(page->GetFilePage()->Window(), 3026);
    EXPECT_EQ(page->GetBusyState(), kBusyConvert);
    Notify(page->GetFilePage()->Window(), 3027);
    EXPECT_EQ(page->GetBusyState(), kIdle);
    // A notification from a window that is not the sender's page does nothing.
    Notify(page->GetFilePage()->Window(), 2026);
    EXPECT_EQ(page->GetBusyState(), kIdle);
    page->ShowDVPage();
    Notify(page->GetDVPage()->Window(), 2026);
    EXPECT_EQ(page->GetBusyState(), kBusyCapture);
    Notify(page->GetDVPage()->Window(), 2027);
    EXPECT_EQ(page->GetBusyState(), kIdle);
}

TEST_F(MainPageCommandTest, SummaryShowsTheDefaultProfile) {
    HKEY key = nullptr;
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Corvane\\Vistrel\\1.0\\Recording");
    Open(FileIdle);
    (void)key;
    EXPECT_EQ(page->GetRecord().head.videoFormatClass, 12);
    EXPECT_STREQ(page->GetStaticText(1021).c_str(), "H.264");
    EXPECT_STREQ(page->GetStaticText(1023).c_str(), "720x480");
    EXPECT_STREQ(page->GetStaticText(1024).c_str(), "29.97 frames");
    EXPECT_NE(std::string(page->GetStaticText(1022).c_str()).find("kbps"), std::string::npos);
}

TEST(MainPageValues, BitRatesSampleRatesAndClassNames) {
    double value = 0;
    const char* unit = nullptr;
    FormatBitRate(10000, &value, &unit);
    EXPECT_EQ(value, 10000);
    EXPECT_STREQ(unit, "bps");
    FormatBitRate(10001, &value, &unit);
    EXPECT_DOUBLE_EQ(value, 10.001);
    EXPECT_STREQ(unit, "kbps");
    EXPECT_EQ(AudioBitRateOfCode(1), 32000);
    EXPECT_EQ(AudioBitRateOfCode(256), 128000);
    EXPECT_EQ(AudioBitRateOfCode(536870912), 4608000);
    EXPECT_EQ(AudioBitRateOfCode(3), -1);
    EXPECT_EQ(AudioBitRateOfCode(int64_t{1} << 30), -1);
    EXPECT_EQ(SampleRateKhzOfCode(2), 44);
    EXPECT_EQ(SampleRateKhzOfCode(5), 48);
    EXPECT_EQ(ProfileClassNameId(12), 134u);
    EXPECT_EQ(ProfileClassNameId(9), 0u);
}

}  // namespace
