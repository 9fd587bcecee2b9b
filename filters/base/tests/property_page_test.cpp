// The property page base with a real dialog on the test display: page information from
// the resources, activation inside a parent window, messages reaching the page, the
// dirty state through a control change, and deactivation.
#include "filters/base/property_page.h"

#include <gtest/gtest.h>

#include "filters/base/tests/page_site.h"

#include <string>

namespace {

constexpr int kEditId = 1001;
constexpr int kCheckId = 1002;

// A page that fills its edit on activation, becomes dirty when the check box is
// clicked, and reads the edit back on apply.
class EditPage final : public CBasePropertyPage {
public:
    EditPage() : CBasePropertyPage(L"edit page", nullptr, 100, 1) {}
    HRESULT OnActivate() override {
        ++activations;
        SetDlgItemTextW(Window(), kEditId, L"initial");
        return S_OK;
    }
    HRESULT OnDeactivate() override {
        ++deactivations;
        return S_OK;
    }
    HRESULT OnApplyChanges() override {
        wchar_t text[64] = L"";
        GetDlgItemTextW(Window(), kEditId, text, 64);
        applied = text;
        return S_OK;
    }
    INT_PTR OnReceiveMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam) override {
        if (message == WM_COMMAND && LOWORD(wparam) == kCheckId && HIWORD(wparam) == BN_CLICKED) {
            SetDirty(true);
            return TRUE;
        }
        return CBasePropertyPage::OnReceiveMessage(window, message, wparam, lparam);
    }
    int activations = 0, deactivations = 0;
    std::wstring applied;
};

TEST(PropertyPageWindow, ActivateApplyDeactivate) {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    auto* page = new EditPage;
    page->NonDelegatingAddRef();
    IPropertyPage* ipage = page;

    PROPPAGEINFO info{};
    ASSERT_EQ(ipage->GetPageInfo(&info), S_OK);
    EXPECT_STREQ(info.pszTitle, L"Test Settings");
    EXPECT_GT(info.size.cx, 100) << "the template's size in pixels";
    EXPECT_GT(info.size.cy, 50);
    CoTaskMemFree(info.pszTitle);

    comtest::RecordingSite site;
    ASSERT_EQ(ipage->SetPageSite(&site), S_OK);
    IUnknown* object = &site;  // any object: the base page asks nothing of it
    ASSERT_EQ(ipage->SetObjects(1, &object), S_OK);

    HWND parent = CreateWindowExW(0, L"STATIC", L"page host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50, 500, 300,
                                  nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(parent, nullptr);
    RECT rect{10, 10, 10 + info.size.cx, 10 + info.size.cy};
    ASSERT_EQ(ipage->Activate(parent, &rect, FALSE), S_OK);
    EXPECT_EQ(ipage->Activate(parent, &rect, FALSE), E_UNEXPECTED) << "already active";
    HWND window = page->Window();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(GetParent(window), parent);
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_EQ(page->activations, 1);
    wchar_t text[64] = L"";
    GetDlgItemTextW(window, kEditId, text, 64);
    EXPECT_STREQ(text, L"initial");

    // A click on the check box reaches the page and makes it dirty.
    EXPECT_EQ(ipage->IsPageDirty(), S_FALSE);
    SendMessageW(GetDlgItem(window, kCheckId), BM_CLICK, 0, 0);
    EXPECT_EQ(ipage->IsPageDirty(), S_OK);
    EXPECT_EQ(site.dirtyReports, 1);
    SetDlgItemTextW(window, kEditId, L"changed");
    EXPECT_EQ(ipage->Apply(), S_OK);
    EXPECT_EQ(page->applied, L"changed");
    EXPECT_EQ(ipage->IsPageDirty(), S_FALSE);

    EXPECT_EQ(ipage->Show(SW_HIDE), S_OK);
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_EQ(ipage->Show(12345), E_INVALIDARG);
    EXPECT_EQ(ipage->Deactivate(), S_OK);
    EXPECT_FALSE(IsWindow(window)) << "the dialog is destroyed";
    EXPECT_EQ(page->deactivations, 1);
    EXPECT_EQ(ipage->Show(SW_SHOW), E_UNEXPECTED);

    DestroyWindow(parent);
    EXPECT_EQ(ipage->SetObjects(0, nullptr), S_OK);
    EXPECT_EQ(ipage->SetPageSite(nullptr), S_OK);
    EXPECT_EQ(ipage->Release(), 0u);
    EXPECT_EQ(site.refs, 1u);
    CoUninitialize();
}

}  // namespace
