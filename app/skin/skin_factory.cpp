#include "app/skin/skin_factory.h"

#include "app/services/text_fonts.h"
#include "app/resources/program_ids.h"
#include "app/skin/skin_controls.h"
#include "app/skin/skin_edits.h"
#include "app/skin/skin_scrollbar.h"
#include "app/skin/skin_sliders.h"
#include "app/skin/skin_images.h"
#include "app/skin/skin_layout.h"
#include "framework/resources.h"
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

// ---- Edits, time-code edits, scroll bars and sliders ----

namespace {

HCURSOR LibraryCursor(UINT id) {
    return LoadCursorA(AfxGetResourceHandle(), MAKEINTRESOURCEA(id));
}

HBITMAP Bitmap(SkinImage& image) {
    return static_cast<HBITMAP>(image.bitmap);
}

// Creation shared by every kind: find the row's node, load its images, make the control;
// a control that cannot be made gives its images back.
template <class Node, class Make>
int CreateRows(CWnd* parent, const char* view, SkinControlBinding* table, int count, SkinKind kind, Make make) {
    if (!table || count < 1) return 1;
    SkinView* skinView = CSkinLayout::FindView(view);
    for (int i = 0; i < count; ++i) {
        auto* node = static_cast<Node*>(FindNodeInView(skinView, kind, table[i].name));
        if (!node) continue;
        AcquireSkinNodeImages(node);
        CWnd* control = make(parent, *node, table[i]);
        if (!control) {
            ReleaseSkinNodeImages(node);
            continue;
        }
        if (table[i].tooltipId && !LoadText(table[i].tooltipId).IsEmpty()) {
            const CString tip = LoadText(table[i].tooltipId);
            if (auto* field = dynamic_cast<CGLedFieldBase*>(control)) field->SetToolTip(tip, 1);
            if (auto* bar = dynamic_cast<CGNewScrollBar*>(control)) bar->SetToolTip(tip, 1);
        }
        table[i].control = control;
    }
    return 1;
}

int DestroyRows(const char* view, SkinControlBinding* table, int count, SkinKind kind) {
    if (!table || count < 1) return 1;
    SkinView* skinView = CSkinLayout::FindView(view);
    for (int i = 0; i < count; ++i) {
        if (!table[i].control) continue;
        DestroyRowControl(table[i]);
        if (SkinNode* node = FindNodeInView(skinView, kind, table[i].name)) ReleaseSkinNodeImages(node);
    }
    return 1;
}

CRect NodeRect(const SkinNode& node) {
    return CRect(node.left, node.top, node.left + node.width, node.top + node.height);
}

}  // namespace

void AcquireSkinNodeImages(SkinNode* node) {
    if (!node) return;
    for (SkinImage* image : node->Images())
        AcquireSkinImage(image);
}

void ReleaseSkinNodeImages(SkinNode* node) {
    if (!node) return;
    for (SkinImage* image : node->Images())
        ReleaseSkinImageUse(image);
}

int CreateSkinEdits(CWnd* parent, const char* view, SkinControlBinding* table, int count) {
    return CreateRows<SkinEditNode>(parent, view, table, count, SkinKind::Edit,
                                    [](CWnd* owner, SkinEditNode& node, SkinControlBinding& row) -> CWnd* {
                                        const DWORD style = WS_CHILD | WS_VISIBLE;
                                        if (node.editType == 1) {
                                            auto* edit = new CGLEDEdit;
                                            if (!edit->Create(style, NodeRect(node), Bitmap(node.background),
                                                              node.width, node.height, owner, row.id, "", 0, 0)) {
                                                delete edit;
                                                return nullptr;
                                            }
                                            edit->SetLedBitmap(Bitmap(node.ledNumber));
                                            return edit;
                                        }
                                        if (node.editType == 2) {
                                            auto* edit = new CGSimpleTimeEdit;
                                            if (!edit->Create(style, NodeRect(node), Bitmap(node.background),
                                                              node.width, node.height, owner, row.id, "", 0, 0)) {
                                                delete edit;
                                                return nullptr;
                                            }
                                            edit->SetLedBitmap(Bitmap(node.ledNumber));
                                            edit->SetCursor(LibraryCursor(IDC_CURSOR_EDIT));
                                            return edit;
                                        }
                                        return nullptr;  // other edit types get no control
                                    });
}

int DestroySkinEdits(const char* view, SkinControlBinding* table, int count) {
    return DestroyRows(view, table, count, SkinKind::Edit);
}

int CreateSkinTimeCodeEdits(CWnd* parent, const char* view, SkinControlBinding* table, int count) {
    return CreateRows<SkinSpinTimeEditNode>(
        parent, view, table, count, SkinKind::SpinTimeEdit,
        [](CWnd* owner, SkinSpinTimeEditNode& node, SkinControlBinding& row) -> CWnd* {
            auto* edit = new CGTimeCodeEdit;
            const DWORD style = WS_CHILD | WS_VISIBLE;
            const int spinWidth = node.leftSpin.right - node.leftSpin.left;
            const int spinHeight = node.leftSpin.bottom - node.leftSpin.top;
            if (!edit->Create(style, NodeRect(node), node.leftSpin.left - node.width, Bitmap(node.background),
                              node.background.width, node.background.height, owner, row.id, "", style, 0,
                              node.leftSpin.left, node.leftSpin.top, node.rightSpin.left, node.rightSpin.top,
                              Bitmap(node.increment), Bitmap(node.decrement), spinWidth, spinHeight, 0, 0)) {
                delete edit;
                return nullptr;
            }
            edit->SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(GetAppGuiFont()), 1);
            edit->SetLedBitmap(Bitmap(node.ledNumber));
            edit->SetCursor(LibraryCursor(IDC_CURSOR_EDIT));
            return edit;
        });
}

int DestroySkinTimeCodeEdits(const char* view, SkinControlBinding* table, int count) {
    return DestroyRows(view, table, count, SkinKind::SpinTimeEdit);
}

int CreateSkinNewScrollBars(CWnd* parent, const char* view, SkinControlBinding* table, int count) {
    return CreateRows<SkinScrollBarNode>(
        parent, view, table, count, SkinKind::NewScrollBar,
        [](CWnd* owner, SkinScrollBarNode& node, SkinControlBinding& row) -> CWnd* {
            auto* bar = new CGNewScrollBar;
            if (!bar->Create(owner, "", WS_CHILD | WS_VISIBLE, 0, row.id, node.horizontal)) {
                delete bar;
                return nullptr;
            }
            bar->SetWindowRect(node.left, node.top, Bitmap(node.leftSpinImage), Bitmap(node.rightSpinImage),
                               Bitmap(node.thumbImage), Bitmap(node.sliderBackImage),
                               node.leftSpin.right - node.leftSpin.left, node.leftSpin.bottom - node.leftSpin.top,
                               node.thumb.right - node.thumb.left, node.thumb.bottom - node.thumb.top,
                               node.sliderBack.right - node.sliderBack.left,
                               node.sliderBack.bottom - node.sliderBack.top, 0, 0, 0);
            return bar;
        });
}

int DestroySkinNewScrollBars(const char* view, SkinControlBinding* table, int count) {
    return DestroyRows(view, table, count, SkinKind::NewScrollBar);
}

int RepositionSkinNewScrollBars(const char* view, SkinControlBinding* table, int count) {
    if (!table || count < 1) return 1;
    SkinView* skinView = CSkinLayout::FindView(view);
    for (int i = 0; i < count; ++i) {
        auto* bar = dynamic_cast<CGNewScrollBar*>(table[i].control);
        if (!bar) continue;
        if (SkinNode* node = FindNodeInView(skinView, SkinKind::NewScrollBar, table[i].name))
            bar->SetWindowRect(node->left, node->top, node->width, node->height);
    }
    return 1;
}

int CreateSkinSelectSliders(CWnd* parent, const char* view, SkinControlBinding* table, int count) {
    return CreateRows<SkinSelectSliderNode>(
        parent, view, table, count, SkinKind::SelectSlider,
        [](CWnd* owner, SkinSelectSliderNode& node, SkinControlBinding& row) -> CWnd* {
            auto* slider = new CGSelectSlider;
            if (!slider->Create(WS_VISIBLE | TBS_NOTICKS, NodeRect(node), owner, row.id)) {
                delete slider;
                return nullptr;
            }
            slider->SetRange64(0, 500, TRUE);
            slider->SetBackgroundBitmap(Bitmap(node.background));
            slider->SetRegionBitmap(Bitmap(node.sliderSel), node.selectionRelative.top, 0, TRUE);
            slider->SetMarkAndThumbBitmaps(Bitmap(node.leftThumb), Bitmap(node.rightThumb), Bitmap(node.selThumb),
                                           node.thumbRelative.top, node.thumbRelative.bottom);
            slider->SetSelection(0, 100, Bitmap(node.leftMagnify), Bitmap(node.rightMagnify), Bitmap(node.upMagnify),
                                 Bitmap(node.downMagnify), Bitmap(node.handleMagnify));
            slider->SetColorKey(RGB(255, 0, 255));
            slider->SetRegionCount(1);
            slider->SetSelectionCursor(LibraryCursor(IDC_CURSOR_REGION));
            slider->SetMoveCursor(LibraryCursor(IDC_CURSOR_MOVE));
            slider->SetEdgeCursor(LoadCursor(nullptr, IDC_SIZEWE));
            slider->SetThumbCursor(LibraryCursor(IDC_CURSOR_THUMB));
            // Linked regions with marks at the chain's ends (the slider's own defaults).
            slider->SetMoveDragEnabled(TRUE);
            slider->SetRegion(0, -100, -100);
            return slider;
        });
}

CGRegionSlider* CreateSkinProgressSlider(CWnd* parent, const char* view, const char* layout, const char* node, UINT id,
                                         const char* background, const char* fill) {
    SkinSimpleSliderNode* place = CSkinLayout::FindSimpleSlider(view, layout, node);
    if (!place) return nullptr;
    auto* progress = new CGRegionSlider;
    const CRect r(place->left, place->top, place->left + place->width, place->top + place->height);
    if (!progress->Create(WS_VISIBLE | TBS_NOTICKS | TBS_TOP, r, parent, id)) {
        delete progress;
        return nullptr;
    }
    HBITMAP back = LoadSkinBitmap(background);
    HBITMAP region = LoadSkinBitmap(fill);
    progress->SetBackgroundBitmap(back);
    progress->SetRange(0, 100, TRUE);
    progress->SetRegionCount(1);
    progress->SetRegionBitmap(region, 0, FALSE);
    progress->SetEdgeDragEnabled(FALSE);
    progress->SetMoveDragEnabled(FALSE);
    progress->SetRegionEnd(0, 0);
    if (back) DeleteObject(back);
    if (region) DeleteObject(region);
    return progress;
}

int DestroySkinSelectSliders(const char* view, SkinControlBinding* table, int count) {
    return DestroyRows(view, table, count, SkinKind::SelectSlider);
}

int CreateSkinMagnifySliders(CWnd* parent, const char* view, SkinControlBinding* table, int count) {
    return CreateRows<SkinMagnifySliderNode>(
        parent, view, table, count, SkinKind::MagnifySlider,
        [](CWnd* owner, SkinMagnifySliderNode& node, SkinControlBinding& row) -> CWnd* {
            auto* slider = new CGMagnifySlider;
            if (!slider->Create(WS_VISIBLE | TBS_NOTICKS, NodeRect(node), owner, row.id)) {
                delete slider;
                return nullptr;
            }
            slider->SetBackgroundBitmap(Bitmap(node.background));
            slider->SetRegionBitmap(Bitmap(node.sliderSel), node.selectionRelative.top, 0, TRUE);
            slider->SetMarkAndThumbBitmaps(Bitmap(node.leftThumb), Bitmap(node.rightThumb), Bitmap(node.selThumb),
                                           node.thumbRelative.top, node.thumbRelative.bottom);
            slider->SetColorKey(RGB(255, 0, 255));
            slider->SetRegionCount(1);
            slider->SetMoveCursor(LibraryCursor(IDC_CURSOR_MOVE));
            slider->SetEdgeCursor(LoadCursor(nullptr, IDC_SIZEWE));
            slider->SetThumbCursor(LibraryCursor(IDC_CURSOR_THUMB));
            slider->SetRange64(0, 100, TRUE);
            slider->SetRegion(0, 0, 100);
            slider->SetTickRange(0, 100, FALSE);
            slider->SetTickInterval(1'000'000);
            slider->SetPos(0, FALSE);
            slider->ShowBothMarks(FALSE);
            slider->SetSelectionAndPos(0, 500, 0);
            return slider;
        });
}

int DestroySkinMagnifySliders(const char* view, SkinControlBinding* table, int count) {
    return DestroyRows(view, table, count, SkinKind::MagnifySlider);
}
