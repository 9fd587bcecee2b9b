#include "app/skin/skin_factory.h"

#include "app/services/text_fonts.h"
#include "app/skin/skin_controls.h"
#include "app/skin/skin_images.h"
#include "app/skin/skin_layout.h"
#include "framework/string.h"

namespace {

// Text of string `id`; empty when the string is missing.
CString LoadText(uint32_t id) {
    return id ? AfxLoadString(id) : CString();
}

void DestroyRowControl(SkinControlBinding& row) {
    if (!row.control) return;
    row.control->DestroyWindow();
    delete row.control;
    row.control = nullptr;
}

}  // namespace

int CreateSkinButtons(CWnd* parent, const char* view, SkinControlBinding* table, int count, int visible) {
    if (!table || count < 1) return 1;
    SkinView* skinView = CSkinLayout::FindView(view);
    for (int i = 0; i < count; ++i) {
        auto* node = static_cast<SkinButtonNode*>(FindNodeInView(skinView, SkinKind::Button, table[i].name));
        if (!node) continue;
        auto* button = new CGButton;
        const DWORD style = WS_CHILD | (visible == 1 ? WS_VISIBLE : 0);
        if (!button->Create(parent, "", style, 0, table[i].id, table[i].repeat)) {
            delete button;
            continue;
        }
        HBITMAP strip = BuildButtonStateStrip(node);
        button->SetSkin(node->left, node->top, strip, node->width, node->height, 0, 0, 0, 0, node->toggle,
                        visible == 1 ? 1 : 0, 1);
        if (table[i].tooltipId) button->SetToolTip(LoadText(table[i].tooltipId), 1);
        table[i].control = button;
    }
    return 1;
}

int DestroySkinButtons(SkinControlBinding* table, int count) {
    for (int i = 0; table && i < count; ++i)
        DestroyRowControl(table[i]);
    return 1;
}

int CreateSkinRadioButtons(CWnd* parent, const char* view, SkinControlBinding* table, int count) {
    if (!table || count < 1) return 1;
    SkinView* skinView = CSkinLayout::FindView(view);
    for (int i = 0; i < count; ++i) {
        auto* node = static_cast<SkinButtonNode*>(FindNodeInView(skinView, SkinKind::Button, table[i].name));
        if (!node) continue;
        HBITMAP strip = BuildButtonStateStrip(node);
        auto* radio = new CGRadioButton;
        if (!radio->Create(parent, "", WS_CHILD | WS_VISIBLE | WS_GROUP | BS_RADIOBUTTON, 0, table[i].id, node->left,
                           node->top, strip, node->width, node->height)) {
            delete radio;
            continue;
        }
        if (table[i].tooltipId) radio->SetToolTip(LoadText(table[i].tooltipId), 1);
        table[i].control = radio;
    }
    // A group holds the other members of at most kMaxGroup + 1 rows.
    const int grouped = count < CGRadioButton::kMaxGroup + 1 ? count : CGRadioButton::kMaxGroup + 1;
    for (int i = 0; i < grouped; ++i) {
        auto* radio = static_cast<CGRadioButton*>(table[i].control);
        if (!radio) continue;
        for (int j = 0; j < grouped; ++j)
            if (j != i && table[j].control) radio->AddToGroup(static_cast<CGRadioButton*>(table[j].control));
    }
    return 1;
}

int DestroySkinRadioButtons(SkinControlBinding* table, int count) {
    for (int i = 0; table && i < count; ++i)
        DestroyRowControl(table[i]);
    return 1;
}

int CreateSkinStatics(CWnd* parent, const char* view, SkinControlBinding* table, int count, int visible) {
    if (!table || count < 1) return 1;
    SkinView* skinView = CSkinLayout::FindView(view);
    for (int i = 0; i < count; ++i) {
        auto* node = static_cast<SkinStaticNode*>(FindNodeInView(skinView, SkinKind::Static, table[i].name));
        if (!node) continue;
        HBITMAP background = AcquireSkinImage(&node->background);
        DWORD style = WS_CHILD | (visible == 1 ? WS_VISIBLE : 0);
        if (node->textAlign == 1)
            style |= SS_CENTER;
        else if (node->textAlign == 2)
            style |= SS_RIGHT;
        auto* label = new CGStatic;
        const CRect rect(node->left, node->top, node->left + node->width, node->top + node->height);
        if (!label->Create(LoadText(table[i].id), style, rect, background, node->background.width,
                           node->background.height, parent, table[i].id)) {
            delete label;
            ReleaseSkinImageUse(&node->background);
            continue;
        }
        label->SetFont(GetAppGuiFont(), 1);
        if (table[i].tooltipId) label->SetToolTip(LoadText(table[i].tooltipId), 1);
        table[i].control = label;
    }
    return 1;
}

int DestroySkinStatics(const char* view, SkinControlBinding* table, int count) {
    if (!table || count < 1) return 1;
    SkinView* skinView = CSkinLayout::FindView(view);
    for (int i = 0; i < count; ++i) {
        if (!table[i].control) continue;
        DestroyRowControl(table[i]);
        // The node's bitmap is freed only when no other control still shows it.
        if (auto* node = static_cast<SkinStaticNode*>(FindNodeInView(skinView, SkinKind::Static, table[i].name)))
            ReleaseSkinImageUse(&node->background);
    }
    return 1;
}
