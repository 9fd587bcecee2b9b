// Dialogs and property sheets from the test resource library: data exchange, modal and
// modeless use, OK and Cancel, the PreTranslateMessage order inside a modal dialog, the
// explorer file dialog, and what the screen shows.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/framework.h"
#include "framework/tests/test_resources.h"
#include "framework/tests/window_helpers.h"

namespace {

std::vector<std::string> trail;
constexpr UINT kScript = WM_APP + 10;

class ColourProbe : public CStatic {
public:
    CBrush red{RGB(255, 0, 0)};
    HBRUSH CtlColor(CDC*, UINT) { return red; }
    DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(ColourProbe, CStatic)
ON_WM_CTLCOLOR_REFLECT()
END_MESSAGE_MAP()

class TestDialog : public CDialog {
public:
    TestDialog() : CDialog(IDD_TEST_DIALOG) {}
    CString name = "initial";
    int enabled = 1;
    int count = 3;
    KeyLoggingEdit edit;
    ColourProbe probe;
    // What the scripted run does once the dialog is up; empty for modeless use.
    std::function<void(TestDialog&)> script;

    explicit TestDialog(std::vector<std::string>* log) : TestDialog() { edit.log = log; }
    void DoDataExchange(CDataExchange* dx) override {
        DDX_Control(dx, IDC_NAME_EDIT, edit);
        DDX_Control(dx, IDC_COLOUR_PROBE, probe);
        DDX_Text(dx, IDC_NAME_EDIT, name);
        DDX_Check(dx, IDC_ENABLE_CHECK, enabled);
        DDX_Text(dx, IDC_COUNT_EDIT, count);
    }
    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        if (script) PostMessage(kScript);
        return TRUE;
    }
    // The dialog colours one of its statics blue; the colour probe colours itself red.
    CBrush blue{RGB(0, 0, 255)};
    HBRUSH OnCtlColor(CDC* dc, CWnd* control, UINT type) {
        if (control->GetDlgCtrlID() == IDC_PARENT_PROBE) return blue;
        return CDialog::OnCtlColor(dc, control, type);
    }
    BOOL PreTranslateMessage(MSG* msg) override {
        if (msg->message == WM_KEYDOWN) trail.push_back("dialog:pre");
        return CDialog::PreTranslateMessage(msg);
    }
    LRESULT OnScript(WPARAM, LPARAM) {
        script(*this);
        return 0;
    }
    DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(TestDialog, CDialog)
ON_MESSAGE(kScript, OnScript)
ON_WM_CTLCOLOR()
END_MESSAGE_MAP()

void Click(HWND dialog, int id) {
    SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

}  // namespace

using DialogTest = TestResources;

TEST_F(DialogTest, ModelessDialogExchangesData) {
    TestDialog dialog;
    ASSERT_TRUE(dialog.Create(IDD_TEST_DIALOG));
    EXPECT_EQ(dialog.GetDlgItemText(IDC_NAME_EDIT), "initial");
    EXPECT_EQ(dialog.IsDlgButtonChecked(IDC_ENABLE_CHECK), 1u);
    EXPECT_EQ(dialog.GetDlgItemText(IDC_COUNT_EDIT), "3");
    EXPECT_EQ(CWnd::FromHandlePermanent(dialog.GetDlgItem(IDC_NAME_EDIT)->m_hWnd), &dialog.edit);

    dialog.SetDlgItemText(IDC_NAME_EDIT, "changed");
    dialog.CheckDlgButton(IDC_ENABLE_CHECK, BST_UNCHECKED);
    dialog.SetDlgItemText(IDC_COUNT_EDIT, "12");
    ASSERT_TRUE(dialog.UpdateData(TRUE));
    EXPECT_EQ(dialog.name, "changed");
    EXPECT_EQ(dialog.enabled, 0);
    EXPECT_EQ(dialog.count, 12);

    // A count that is not a number fails the exchange and leaves the member alone.
    dialog.SetDlgItemText(IDC_COUNT_EDIT, "12x");
    EXPECT_FALSE(dialog.UpdateData(TRUE));
    EXPECT_EQ(dialog.count, 12);
    EXPECT_TRUE(dialog.DestroyWindow());
    EXPECT_EQ(dialog.m_hWnd, nullptr);
    EXPECT_EQ(dialog.edit.m_hWnd, nullptr);
}

TEST_F(DialogTest, ModalDialogShowsItsControlsAndReturnsTheirValuesOnOK) {
    trail.clear();
    TestDialog dialog(&trail);
    testsupport::Rgb blue, red, face;
    dialog.script = [&](TestDialog& d) {
        d.MoveWindow(100, 100, 420, 260);
        d.SetDlgItemText(IDC_NAME_EDIT, "typed");
        Click(d, IDC_ENABLE_CHECK);  // 1 -> 0
        d.edit.SetFocus();
        d.edit.PostMessage(WM_KEYDOWN, VK_END, 1);
        PumpFor(500);
        ASSERT_TRUE(testsupport::CaptureScreen("framework_dialog.png"));
        blue = ProbeControl("framework_dialog.png", d, IDC_PARENT_PROBE);
        red = ProbeControl("framework_dialog.png", d, IDC_COLOUR_PROBE);
        RECT r;
        d.GetWindowRect(&r);
        ASSERT_TRUE(testsupport::PixelAt("framework_dialog.png", r.right - 12, (r.top + r.bottom) / 2, &face));
        Click(d, IDOK);
    };
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_EQ(dialog.m_hWnd, nullptr);
    EXPECT_EQ(dialog.name, "typed");
    EXPECT_EQ(dialog.enabled, 0);
    EXPECT_EQ(blue, (testsupport::Rgb{0, 0, 255}));  // coloured by the dialog's WM_CTLCOLOR
    EXPECT_EQ(red, (testsupport::Rgb{255, 0, 0}));   // coloured by the control's reflected WM_CTLCOLOR
    EXPECT_FALSE(face == blue || face == red) << "the dialog face must be neither probe colour";
    // The dialog saw the key before the focused edit did.
    EXPECT_EQ(trail, (std::vector<std::string>{"pre:edit", "dialog:pre", "keydown:35"}));
}

TEST_F(DialogTest, ModalDialogCancelKeepsTheValues) {
    TestDialog dialog;
    dialog.script = [](TestDialog& d) {
        d.SetDlgItemText(IDC_NAME_EDIT, "discarded");
        Click(d, IDCANCEL);
    };
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_EQ(dialog.name, "initial");
}

TEST_F(DialogTest, MissingTemplateFailsClearly) {
    CDialog dialog(IDD_MISSING);
    EXPECT_EQ(dialog.DoModal(), -1);
    EXPECT_EQ(AfxGetResourceError(), "dialog template 9998 is not in the resource module");
    EXPECT_FALSE(dialog.Create(IDD_MISSING));
}

namespace {

class PageOne : public CPropertyPage {
public:
    PageOne() : CPropertyPage(IDD_PAGE_ONE, IDS_PAGE_ONE_TITLE) {}
    CString text = "first";
    int option = 0;
    std::vector<std::string> calls;
    std::function<void(PageOne&)> script;
    void DoDataExchange(CDataExchange* dx) override {
        DDX_Text(dx, IDC_PAGE_ONE_EDIT, text);
        DDX_Check(dx, IDC_PAGE_ONE_CHECK, option);
    }
    BOOL OnInitDialog() override {
        CPropertyPage::OnInitDialog();
        PostMessage(kScript);
        return TRUE;
    }
    BOOL OnSetActive() override {
        calls.push_back("setactive");
        return CPropertyPage::OnSetActive();
    }
    void OnOK() override { calls.push_back("ok"); }
    void OnCancel() override { calls.push_back("cancel"); }
    LRESULT OnScript(WPARAM, LPARAM) {
        script(*this);
        return 0;
    }
    CBrush green{RGB(0, 255, 0)};
    HBRUSH OnCtlColor(CDC* dc, CWnd* control, UINT type) {
        if (control->GetDlgCtrlID() == IDC_PAGE_ONE_PROBE) return green;
        return CPropertyPage::OnCtlColor(dc, control, type);
    }
    DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(PageOne, CPropertyPage)
ON_MESSAGE(kScript, OnScript)
ON_WM_CTLCOLOR()
END_MESSAGE_MAP()

class PageTwo : public CPropertyPage {
public:
    PageTwo() : CPropertyPage(IDD_PAGE_TWO, IDS_PAGE_TWO_TITLE) {}
    CString text = "second";
    bool ok_called = false;
    void DoDataExchange(CDataExchange* dx) override { DDX_Text(dx, IDC_PAGE_TWO_EDIT, text); }
    void OnOK() override { ok_called = true; }
};

}  // namespace

TEST_F(DialogTest, PropertySheetWithoutApplyReturnsPageValuesOnOK) {
    PageOne one;
    PageTwo two;
    CPropertySheet sheet(IDS_SHEET_TITLE);
    sheet.AddPage(&one);
    sheet.AddPage(&two);
    testsupport::Rgb green;
    bool apply_button = true;
    CString caption;
    one.script = [&](PageOne& page) {
        HWND sheet_window = GetParent(page);
        EXPECT_EQ(CWnd::FromHandlePermanent(sheet_window), &sheet);
        apply_button = IsWindowVisible(GetDlgItem(sheet_window, 0x3021)) != 0;  // the sheet's Apply button id
        caption = sheet.GetWindowText();
        SetWindowPos(sheet_window, nullptr, 100, 100, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        page.SetDlgItemText(IDC_PAGE_ONE_EDIT, "edited");
        Click(page, IDC_PAGE_ONE_CHECK);
        PumpFor(500);
        ASSERT_TRUE(testsupport::CaptureScreen("framework_sheet.png"));
        green = ProbeControl("framework_sheet.png", page, IDC_PAGE_ONE_PROBE);
        PostMessageA(sheet_window, PSM_PRESSBUTTON, PSBTN_OK, 0);
    };
    EXPECT_EQ(sheet.DoModal(), IDOK);
    EXPECT_FALSE(apply_button);
    EXPECT_NE(caption.Find("Test sheet"), -1);
    EXPECT_EQ(green, (testsupport::Rgb{0, 255, 0}));
    EXPECT_EQ(one.text, "edited");
    EXPECT_EQ(one.option, 1);
    EXPECT_EQ(one.calls, (std::vector<std::string>{"setactive", "ok"}));
    EXPECT_FALSE(two.ok_called);  // never shown
    EXPECT_EQ(two.text, "second");
}

TEST_F(DialogTest, PropertySheetCancelReturnsNothing) {
    PageOne one;
    CPropertySheet sheet("Cancelled sheet");
    sheet.AddPage(&one);
    one.script = [](PageOne& page) {
        page.SetDlgItemText(IDC_PAGE_ONE_EDIT, "discarded");
        PostMessageA(GetParent(page), PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
    };
    EXPECT_EQ(sheet.DoModal(), IDCANCEL);
    EXPECT_EQ(one.text, "first");
    EXPECT_EQ(one.calls, (std::vector<std::string>{"setactive", "cancel"}));
}

namespace {

class ScriptedFileDialog : public CFileDialog {
public:
    using CFileDialog::CFileDialog;
    CString folder_at_start;
    int folder_changes = 0;
    int selection_changes = 0;
    CString selection;

protected:
    void OnInitDone() override {
        folder_at_start = GetFolderPath();
        // Type two quoted names into the file-name box (a combo box, cmb13, in newer
        // dialogs; an edit, edt1, in older ones) and press Open.
        for (int box : {0x47c, 0x480})
            SendMessageA(GetExplorerWindow(), CDM_SETCONTROLTEXT, box, reinterpret_cast<LPARAM>("\"a.txt\" \"b.txt\""));
        PostMessageA(GetExplorerWindow(), WM_COMMAND, IDOK, 0);
    }
    void OnFolderChange() override { ++folder_changes; }
    void OnFileNameChange() override { ++selection_changes; }
};

}  // namespace

TEST_F(DialogTest, FileDialogHookSeesTheFolderAndReturnsAMultiSelection) {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    CString folder;
    folder.Format("%sfw_filedialog_%lu", temp, GetCurrentProcessId());
    CreateDirectoryA(folder, nullptr);
    for (const char* n : {"a.txt", "b.txt"}) {
        CFile f(folder + "\\" + n, CFile::modeCreate | CFile::modeWrite);
    }
    ScriptedFileDialog dialog(TRUE, nullptr, nullptr, OFN_FILEMUSTEXIST | OFN_ALLOWMULTISELECT | OFN_HIDEREADONLY,
                              "Text files|*.txt|All files|*.*||");
    dialog.m_ofn.lpstrInitialDir = folder;
    // Should the script not get to press Open, the dialog is closed rather than left open.
    const UINT_PTR guard = SetTimer(nullptr, 0, 30000, [](HWND, UINT, UINT_PTR, DWORD) {
        PostMessageA(GetActiveWindow(), WM_COMMAND, IDCANCEL, 0);
    });
    const INT_PTR result = dialog.DoModal();
    KillTimer(nullptr, guard);
    ASSERT_EQ(result, IDOK) << "error " << dialog.GetExtendedError();
    EXPECT_EQ(dialog.folder_at_start.CompareNoCase(folder), 0) << dialog.folder_at_start.c_str();
    EXPECT_GE(dialog.folder_changes, 1);
    std::vector<std::string> paths;
    for (POSITION pos = dialog.GetStartPosition(); pos && paths.size() < 10;)
        paths.push_back(dialog.GetNextPathName(pos).c_str());
    ASSERT_EQ(paths.size(), 2u);
    EXPECT_EQ(CString(paths[0].c_str()).CompareNoCase(folder + "\\a.txt"), 0) << paths[0];
    EXPECT_EQ(CString(paths[1].c_str()).CompareNoCase(folder + "\\b.txt"), 0) << paths[1];
    for (const char* n : {"a.txt", "b.txt"})
        DeleteFileA(folder + "\\" + n);
    RemoveDirectoryA(folder);
}
