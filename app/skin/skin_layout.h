// The skin layout: one process-wide tree read once from the skin file. An application
// record, an ordered list of views, each view an ordered list of subviews, and each subview
// nineteen ordered lists of control descriptions (nodes), one per control kind. Lists are
// singly linked in document order. The tree owns every record and every loaded bitmap;
// lookups hand out borrowed pointers that stay valid until Free.
//
// This header and skin_layout.cpp are platform-free: the reader walks an element tree
// (SkinXmlNode) that the Windows layer fills from the XML DOM, and bitmaps are opaque
// handles deleted through a hook the Windows layer installs. User-interface thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Longest name (view, subview, control, image source) a record holds: 39 characters.
constexpr size_t kSkinNameMax = 39;
// Longest text of the application record: 259 characters.
constexpr size_t kSkinAppTextMax = 259;

using SkinBitmap = void*;  // an HBITMAP on Windows

struct SkinImage {
    std::string source;  // empty: no image
    SkinBitmap bitmap = nullptr;
    int32_t left = 0, top = 0, width = 0, height = 0;
    // Controls that hold the loaded bitmap (AcquireSkinImage / ReleaseSkinImageUse): one node
    // bitmap may serve several controls, and is freed only after the last one lets it go.
    int32_t users = 0;
};

struct SkinRect {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
};

struct SkinApp {
    std::string id, grabCursor, grabCloseCursor;
};

// The nineteen control kinds, in the order of a subview's lists.
enum class SkinKind : int {
    Button,
    Slider,
    Static,
    Edit,
    ComboBox,
    SpinTimeEdit,
    ScrollBar,
    NewScrollBar,
    SimpleSlider,
    SelSlider,
    SelectSlider,
    MagnifySlider,
    SpinButton,
    ProgressBar,
    ListCtrl,
    ListBox,
    DirWheel,
    GroupBox,
    LightAngle,
};
constexpr int kSkinKindCount = 19;
// The element tag of a kind ("BUTTON", ...).
const char* SkinKindTag(SkinKind kind);

struct SkinNode {
    explicit SkinNode(SkinKind k) : kind(k) {}
    virtual ~SkinNode() = default;
    SkinNode(const SkinNode&) = delete;
    SkinNode& operator=(const SkinNode&) = delete;
    // Every image of the node, for loading and release.
    virtual std::vector<SkinImage*> Images() { return {}; }

    const SkinKind kind;
    std::string name;
    int32_t left = 0, top = 0, width = 0, height = 0;
    SkinNode* next = nullptr;
};

struct SkinButtonNode : SkinNode {
    SkinButtonNode() : SkinNode(SkinKind::Button) {}
    int32_t hcut = 0, vcut = 0, designWidth = 0, designHeight = 0, toggle = 0;
    SkinImage normal, hover, down, disabled, check, hoverDown, downCheck, disabledCheck;
    std::vector<SkinImage*> Images() override {
        return {&normal, &hover, &down, &disabled, &check, &hoverDown, &downCheck, &disabledCheck};
    }
};
struct SkinEditNode : SkinNode {
    SkinEditNode() : SkinNode(SkinKind::Edit) {}
    int32_t scrollBarType = 0, editType = 0;
    SkinImage background, ledNumber;
    std::vector<SkinImage*> Images() override { return {&background, &ledNumber}; }
};
struct SkinStaticNode : SkinNode {
    SkinStaticNode() : SkinNode(SkinKind::Static) {}
    int32_t textAlign = 0, hcut = 0, vcut = 0, designWidth = 0, designHeight = 0;
    SkinImage background;
    std::vector<SkinImage*> Images() override { return {&background}; }
};
struct SkinSpinTimeEditNode : SkinNode {
    SkinSpinTimeEditNode() : SkinNode(SkinKind::SpinTimeEdit) {}
    SkinRect leftSpin, rightSpin;
    SkinImage background, ledNumber, increment, decrement;
    std::vector<SkinImage*> Images() override { return {&background, &ledNumber, &increment, &decrement}; }
};
struct SkinScrollBarNode : SkinNode {
    explicit SkinScrollBarNode(SkinKind k) : SkinNode(k) {}
    int32_t hcut = 0, vcut = 0, designWidth = 0, designHeight = 0;
    SkinRect leftSpin, rightSpin, thumb, thumbWork, sliderBack, sliderBackWork;
    int32_t horizontal = 1;
    SkinImage leftSpinImage, rightSpinImage, thumbImage, sliderBackImage;
    std::vector<SkinImage*> Images() override {
        return {&leftSpinImage, &rightSpinImage, &thumbImage, &sliderBackImage};
    }
};
struct SkinSimpleSliderNode : SkinNode {
    SkinSimpleSliderNode() : SkinNode(SkinKind::SimpleSlider) {}
    SkinRect thumbRelative, backRegion, thumbRegion;
    int32_t horizontal = 1;
    SkinImage background, thumb;
    std::vector<SkinImage*> Images() override { return {&background, &thumb}; }
};
struct SkinSelectSliderNode : SkinNode {
    SkinSelectSliderNode() : SkinNode(SkinKind::SelectSlider) {}
    int32_t designWidth = 0, designHeight = 0;
    SkinRect thumbRelative, selectionRelative, leftThumbRegion, rightThumbRegion, selThumbRegion;
    int32_t hcut = 0, vcut = 0;
    SkinImage background, leftThumb, rightThumb, selThumb, upMagnify, downMagnify, leftMagnify, rightMagnify,
        handleMagnify, sliderSel;
    std::vector<SkinImage*> Images() override {
        return {&background,  &leftThumb,   &rightThumb,   &selThumb,      &upMagnify,
                &downMagnify, &leftMagnify, &rightMagnify, &handleMagnify, &sliderSel};
    }
};
struct SkinMagnifySliderNode : SkinNode {
    SkinMagnifySliderNode() : SkinNode(SkinKind::MagnifySlider) {}
    SkinRect thumbRelative, selectionRelative, leftThumbRegion, rightThumbRegion, selThumbRegion;
    SkinImage background, leftThumb, rightThumb, selThumb, sliderSel;
    int32_t hcut = 0, vcut = 0, designWidth = 0, designHeight = 0;
    std::vector<SkinImage*> Images() override { return {&background, &leftThumb, &rightThumb, &selThumb, &sliderSel}; }
};
struct SkinSliderNode : SkinNode {
    SkinSliderNode() : SkinNode(SkinKind::Slider) {}
    int32_t hcut = 0, vcut = 0, designWidth = 0, designHeight = 0;
    SkinImage background, thumb;
    std::vector<SkinImage*> Images() override { return {&background, &thumb}; }
};
struct SkinComboBoxNode : SkinNode {
    SkinComboBoxNode() : SkinNode(SkinKind::ComboBox) {}
    int32_t comboType = 3;
    SkinRect list, sbLeftSpin, sbRightSpin, sbThumb, sbBack, edit, button, staticRegion;
    int32_t sortData = 0;
    SkinImage sbLeftSpinImage, sbRightSpinImage, sbThumbImage, sbBackImage, editImage, buttonImage, staticImage,
        listItemImage;
    std::vector<SkinImage*> Images() override {
        return {&sbLeftSpinImage, &sbRightSpinImage, &sbThumbImage, &sbBackImage,
                &editImage,       &buttonImage,      &staticImage,  &listItemImage};
    }
};
struct SkinLightAngleNode : SkinNode {
    SkinLightAngleNode() : SkinNode(SkinKind::LightAngle) {}
    SkinRect foreRegion, backRegion;
    SkinImage background, foreground;
    std::vector<SkinImage*> Images() override { return {&background, &foreground}; }
};
struct SkinSpinButtonNode : SkinNode {
    SkinSpinButtonNode() : SkinNode(SkinKind::SpinButton) {}
    int32_t horizontal = 1;
    SkinImage leftSpin, rightSpin;
    std::vector<SkinImage*> Images() override { return {&leftSpin, &rightSpin}; }
};
struct SkinProgressBarNode : SkinNode {
    SkinProgressBarNode() : SkinNode(SkinKind::ProgressBar) {}
    int32_t horizontal = 1;
    SkinImage background, foreground;
    std::vector<SkinImage*> Images() override { return {&background, &foreground}; }
};
struct SkinSelSliderNode : SkinNode {
    SkinSelSliderNode() : SkinNode(SkinKind::SelSlider) {}
    SkinImage background, selection, leftThumb, rightThumb;
    std::vector<SkinImage*> Images() override { return {&background, &selection, &leftThumb, &rightThumb}; }
};
struct SkinListCtrlNode : SkinNode {
    SkinListCtrlNode() : SkinNode(SkinKind::ListCtrl) {}
    SkinImage background;
    std::vector<SkinImage*> Images() override { return {&background}; }
};
struct SkinListBoxNode : SkinNode {
    SkinListBoxNode() : SkinNode(SkinKind::ListBox) {}
    SkinImage background;
    std::vector<SkinImage*> Images() override { return {&background}; }
};
struct SkinGroupBoxNode : SkinNode {
    SkinGroupBoxNode() : SkinNode(SkinKind::GroupBox) {}
    SkinImage caption;
    std::vector<SkinImage*> Images() override { return {&caption}; }
};
struct SkinDirWheelNode : SkinNode {
    SkinDirWheelNode() : SkinNode(SkinKind::DirWheel) {}
    SkinImage foreground, background;
    std::vector<SkinImage*> Images() override { return {&foreground, &background}; }
};

struct SkinSubView {
    std::string name;
    int32_t left = 0, top = 0, width = 0, height = 0, designWidth = 0, designHeight = 0;
    int32_t drawNumber = 0, changeWidth = 0, changeHeight = 0, backgroundTiled = 0, permanent = 1;
    SkinImage background;
    SkinSubView* next = nullptr;
    SkinNode* lists[kSkinKindCount] = {};
    SkinNode* List(SkinKind kind) const { return lists[static_cast<int>(kind)]; }
};

struct SkinView {
    std::string name;
    int32_t left = 0, top = 0, width = 0, height = 0, designWidth = 0, designHeight = 0;
    int32_t absoluteCoordinates = 0, captureBaseline = 0, popup = 0;
    int32_t vcutCount = 0, hcutCount = 0;
    int32_t snapLeft = 0, snapRight = 0, snapTop = 0, snapBottom = 0;
    SkinImage background;
    SkinView* next = nullptr;
    SkinSubView* subviews = nullptr;
};

// One element of the skin file as the reader sees it: its name, DOM node type (1 element,
// 3 text, 7 processing instruction, 8 comment, ...), attributes in document order (narrow
// text) and children in document order. hasAttributes is false for nodes without an
// attribute map (text, comments).
struct SkinXmlNode {
    std::string name;
    int type = 1;
    bool hasAttributes = true;
    std::vector<std::pair<std::string, std::string>> attributes;
    std::vector<SkinXmlNode> children;
};

// What the reader needs of its surroundings: message boxes, the resource string for an
// unknown APP attribute, and the existence test of image files (CheckSkinImageFile, which
// reports a missing file itself).
struct SkinReaderHost {
    std::function<void(const std::string& text)> showMessage;
    std::function<std::string(const std::string& attribute)> unknownAppAttributeText;
    std::function<bool(const std::string& source)> checkImageFile;
};

// The four levels of skin error messages.
enum class SkinErrorLevel : int { View = 0, SubView = 1, Control = 2, Node = 3 };

// The names the reader last entered, shown in its messages; overwritten as reading
// proceeds and never cleared.
struct SkinReaderState {
    std::string viewName, subViewName, controlTag, nodeTag;
};
SkinReaderState& CurrentSkinReaderState();
// The message text of `level` for `item`, from the current reader state.
std::string FormatSkinError(SkinErrorLevel level, const std::string& item);

// Deletes a loaded bitmap; installed by the Windows layer (DeleteObject). True on success.
using SkinBitmapDeleter = bool (*)(SkinBitmap);
void SetSkinBitmapDeleter(SkinBitmapDeleter deleter);
bool DeleteSkinBitmap(SkinBitmap bitmap);

// Parses a decimal int32 the way the skin file's numbers are read: optional leading blanks
// and sign, digits up to the first other character, 0 without digits; values beyond the
// int32 range saturate.
int32_t ParseSkinInt(const std::string& text);

// The most elements and attributes taken from one skin file, so that a hostile file cannot
// exhaust memory (the DOM conversion stops and the load fails beyond it).
constexpr size_t kSkinMaxNodes = 200000;

class CSkinLayout {
public:
    // Builds the tree from the skin file `fileName` (relative: the program's folder first,
    // then the current directory). 1 on success, 0 on failure. Windows only (skin_xml.cpp).
    static int Load(const char* fileName);
    // Reads a document tree (the element tree of a whole file) into the layout: S_OK-like 0
    // on success, a negative value when reading failed after an error message. What was
    // read before a failure stays in the tree until Free.
    static int ReadDocument(const SkinXmlNode& document, const SkinReaderHost& host);
    // Releases the tree and every loaded bitmap; 1. Freeing an empty tree does nothing.
    static int Free();

    static const SkinApp& App();
    static SkinView* Views();

    // Lookups (names compared byte for byte, first match in file order). Each leaves its
    // cursor on the result.
    static SkinView* FindView(const char* viewName);
    static SkinStaticNode* FindStatic(const char* view, const char* subView, const char* name);
    static SkinScrollBarNode* FindScrollBar(const char* view, const char* subView, const char* name);
    static SkinSimpleSliderNode* FindSimpleSlider(const char* view, const char* subView, const char* name);
    static SkinSelectSliderNode* FindSelectSlider(const char* view, const char* subView, const char* name);
    static SkinMagnifySliderNode* FindMagnifySlider(const char* view, const char* subView, const char* name);
};

SkinSubView* FindSubView(const char* viewName, const char* subViewName);
// Cursor walks over the view under the view cursor and the subview under the subview
// cursor. A first-node walk without a current subview returns none.
SkinSubView* FirstSubView();
SkinSubView* NextSubView();
SkinStaticNode* FirstStatic();
SkinStaticNode* NextStatic();
SkinEditNode* FirstEdit();
SkinEditNode* NextEdit();
SkinButtonNode* FirstButton();
SkinButtonNode* NextButton();
SkinSpinTimeEditNode* FirstSpinTimeEdit();
SkinSpinTimeEditNode* NextSpinTimeEdit();
SkinScrollBarNode* FirstNewScrollBar();
SkinScrollBarNode* NextNewScrollBar();
SkinSelectSliderNode* FirstSelectSlider();
SkinSelectSliderNode* NextSelectSlider();
SkinMagnifySliderNode* FirstMagnifySlider();
SkinMagnifySliderNode* NextMagnifySlider();

// The first node of `kind` named `name` in any subview of `view` (subviews in order), or
// none. Moves the view, subview and kind cursors like the walks above.
SkinNode* FindNodeInView(SkinView* view, SkinKind kind, const char* name);
