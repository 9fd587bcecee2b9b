#include "app/skin/skin_layout.h"

#include <cctype>
#include <climits>
#include <cstring>

namespace {

// Reader results: 0 success, kFail after a reported error.
constexpr int kOk = 0;
constexpr int kFail = -1;

SkinApp g_app;
SkinView* g_views = nullptr;
SkinReaderState g_state;
SkinBitmapDeleter g_deleter = nullptr;

// Lookup cursors.
SkinView* g_curView = nullptr;
SkinSubView* g_curSubView = nullptr;
SkinNode* g_curNode[kSkinKindCount] = {};

const char* const kKindTags[kSkinKindCount] = {
    "BUTTON",       "SLIDER",       "STATIC",    "EDIT",         "COMBOBOX",      "SPINTIMEEDIT", "SCROLLBAR",
    "NEWSCROLLBAR", "SIMPLESLIDER", "SELSLIDER", "SELECTSLIDER", "MAGNIFYSLIDER", "SPINBUTTON",   "PROGRESSBAR",
    "LISTCTRL",     "LISTBOX",      "DIRWHEEL",  "GROUPBOX",     "LIGHTANGLE"};

bool SameNoCase(const std::string& a, const char* b) {
    const size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

void ReleaseImageBitmap(SkinImage& image) {
    if (image.bitmap) DeleteSkinBitmap(image.bitmap);
    image.bitmap = nullptr;
    image.users = 0;
}

void DestroyView(SkinView* view) {
    ReleaseImageBitmap(view->background);
    while (SkinSubView* sub = view->subviews) {
        ReleaseImageBitmap(sub->background);
        for (auto& head : sub->lists) {
            while (SkinNode* node = head) {
                for (SkinImage* image : node->Images())
                    ReleaseImageBitmap(*image);
                head = node->next;
                delete node;
            }
        }
        view->subviews = sub->next;
        delete sub;
    }
    delete view;
}

void FreeViews() {
    // The head always points at the view about to be destroyed.
    while (SkinView* view = g_views) {
        g_views = view->next;
        DestroyView(view);
    }
    g_curView = nullptr;
    g_curSubView = nullptr;
    for (auto& cursor : g_curNode)
        cursor = nullptr;
}

template <typename T>
void Append(T*& head, T* item) {
    T** link = &head;
    while (*link)
        link = &(*link)->next;
    *link = item;
}

// ---- Per-kind reading rules ----

using IntField = int32_t* (*)(SkinNode&);
using RectField = SkinRect* (*)(SkinNode&);
using ImageField = SkinImage* (*)(SkinNode&);

struct EnumValue {
    const char* text;
    int32_t value;
};

enum class AttrType { Int, FlagTrue, Enum };

struct AttrRule {
    const char* keyword;
    AttrType type;
    IntField field;
    const EnumValue* values = nullptr;  // Enum: terminated by a null text
    bool unknownSets = false;           // Enum: an unlisted value sets `unknownValue`
    int32_t unknownValue = 0;
};

enum class Preset { None, RegionTimes, NodeTimes };

struct ChildRule {
    const char* keyword;
    RectField rect = nullptr;    // a region child
    ImageField image = nullptr;  // an image child
    Preset preset = Preset::None;
    int32_t factor = 1;
    RectField presetRegion = nullptr;
    RectField workRect = nullptr;  // region: a working rectangle whose bottom follows it
};

struct KindRules {
    SkinNode* (*make)();
    IntField designWidth = nullptr;
    IntField designHeight = nullptr;
    std::vector<AttrRule> attrs;
    std::vector<ChildRule> children;
};

#define INT_F(T, m) [](SkinNode& n) -> int32_t* { return &static_cast<T&>(n).m; }
#define RECT_F(T, m) [](SkinNode& n) -> SkinRect* { return &static_cast<T&>(n).m; }
#define IMG_F(T, m) [](SkinNode& n) -> SkinImage* { return &static_cast<T&>(n).m; }
#define REGION(T, kw, m) \
    ChildRule {          \
        kw, RECT_F(T, m) \
    }
#define IMAGE(T, kw, m)          \
    ChildRule {                  \
        kw, nullptr, IMG_F(T, m) \
    }
#define IMAGE_P(T, kw, m, factor, region)                                        \
    ChildRule {                                                                  \
        kw, nullptr, IMG_F(T, m), Preset::RegionTimes, factor, RECT_F(T, region) \
    }

const EnumValue kScrollBarTypes[] = {
    {"SBS_HORZ", 1}, {"SBS_VERT", 2}, {"SBS_HORZ+SBS_VERT", 3}, {"ORG_SBS_HORZ", 4}, {nullptr, 0}};
const EnumValue kEditTypes[] = {{"CGEDIT", 0}, {"CGLEDEDIT", 1}, {"CGSIMPLETIMEEDIT", 2}, {nullptr, 0}};
const EnumValue kTextAligns[] = {
    {"STATIC_TEXT_LEFT", 0}, {"STATIC_TEXT_CENTER", 1}, {"STATIC_TEXT_RIGHT", 2}, {nullptr, 0}};
const EnumValue kComboTypes[] = {{"CBS_DROPDOWNLIST", 3}, {"CBS_DROPDOWN", 2}, {nullptr, 0}};

const KindRules& RulesOf(SkinKind kind) {
    using B = SkinButtonNode;
    using E = SkinEditNode;
    using S = SkinStaticNode;
    using STE = SkinSpinTimeEditNode;
    using SB = SkinScrollBarNode;
    using SS = SkinSimpleSliderNode;
    using SEL = SkinSelectSliderNode;
    using MAG = SkinMagnifySliderNode;
    using SL = SkinSliderNode;
    using CB = SkinComboBoxNode;
    using LA = SkinLightAngleNode;
    using SP = SkinSpinButtonNode;
    using PB = SkinProgressBarNode;
    using SLS = SkinSelSliderNode;
    static const KindRules rules[kSkinKindCount] = {
        // BUTTON
        {[]() -> SkinNode* { return new B; },
         INT_F(B, designWidth),
         INT_F(B, designHeight),
         {{"HCUT", AttrType::Int, INT_F(B, hcut)},
          {"VCUT", AttrType::Int, INT_F(B, vcut)},
          {"TOGGLE", AttrType::FlagTrue, INT_F(B, toggle)}},
         {IMAGE(B, "NORMALIMAGE", normal), IMAGE(B, "HOVERIMAGE", hover), IMAGE(B, "DOWNIMAGE", down),
          IMAGE(B, "DISABLEIMAGE", disabled), IMAGE(B, "CHECKIMAGE", check), IMAGE(B, "HOVERDOWNIMAGE", hoverDown),
          IMAGE(B, "DOWNCHECKIMAGE", downCheck), IMAGE(B, "DISABLECHECKIMAGE", disabledCheck)}},
        // SLIDER
        {[]() -> SkinNode* { return new SL; },
         INT_F(SL, designWidth),
         INT_F(SL, designHeight),
         {{"HCUT", AttrType::Int, INT_F(SL, hcut)}, {"VCUT", AttrType::Int, INT_F(SL, vcut)}},
         {IMAGE(SL, "BACKGROUNDIMAGE", background), IMAGE(SL, "THUMBIMAGE", thumb)}},
        // STATIC
        {[]() -> SkinNode* { return new S; },
         INT_F(S, designWidth),
         INT_F(S, designHeight),
         {{"TEXTALIGN", AttrType::Enum, INT_F(S, textAlign), kTextAligns, true, 0},
          {"HCUT", AttrType::Int, INT_F(S, hcut)},
          {"VCUT", AttrType::Int, INT_F(S, vcut)}},
         {IMAGE(S, "BACKGROUNDIMAGE", background)}},
        // EDIT
        {[]() -> SkinNode* { return new E; },
         nullptr,
         nullptr,
         {{"SCROLLBARTYPE", AttrType::Enum, INT_F(E, scrollBarType), kScrollBarTypes},
          {"TYPE", AttrType::Enum, INT_F(E, editType), kEditTypes}},
         {IMAGE(E, "BACKGROUNDIMAGE", background), IMAGE(E, "LEDNUMBERIMAGE", ledNumber)}},
        // COMBOBOX
        {[]() -> SkinNode* { return new CB; },
         nullptr,
         nullptr,
         {{"TYPE", AttrType::Enum, INT_F(CB, comboType), kComboTypes, true, 3},
          {"SORTDATA", AttrType::FlagTrue, INT_F(CB, sortData)}},
         {REGION(CB, "CBOLB", list), REGION(CB, "CBOSBLSPIN", sbLeftSpin), REGION(CB, "CBOSBRSPIN", sbRightSpin),
          REGION(CB, "CBOSBTHUMB", sbThumb), REGION(CB, "CBOSBBK", sbBack), REGION(CB, "CBOEDIT", edit),
          REGION(CB, "CBOBTN", button), REGION(CB, "CBOSTATIC", staticRegion),
          IMAGE_P(CB, "SBLSPINNORMALIMAGE", sbLeftSpinImage, 4, sbLeftSpin),
          IMAGE_P(CB, "SBRSPINNORMALIMAGE", sbRightSpinImage, 4, sbRightSpin),
          IMAGE(CB, "SBTHUMBNORMALIMAGE", sbThumbImage), IMAGE(CB, "SBBKNORMALIMAGE", sbBackImage),
          IMAGE(CB, "EDITNORMALIMAGE", editImage), IMAGE(CB, "BTNNORMALIMAGE", buttonImage),
          IMAGE(CB, "STATICNORMALIMAGE", staticImage), IMAGE(CB, "LISTITEMIMAGE", listItemImage)}},
        // SPINTIMEEDIT
        {[]() -> SkinNode* { return new STE; },
         nullptr,
         nullptr,
         {},
         {REGION(STE, "SUBREGIONLSPIN", leftSpin), REGION(STE, "SUBREGIONRSPIN", rightSpin),
          IMAGE(STE, "BACKGROUNDIMAGE", background), IMAGE(STE, "LEDNUMBERIMAGE", ledNumber),
          IMAGE_P(STE, "INCNORMALIMAGE", increment, 4, leftSpin),
          IMAGE_P(STE, "DECNORMALIMAGE", decrement, 4, rightSpin)}},
        // SCROLLBAR
        {[]() -> SkinNode* { return new SB(SkinKind::ScrollBar); },
         INT_F(SB, designWidth),
         INT_F(SB, designHeight),
         {{"HCUT", AttrType::Int, INT_F(SB, hcut)},
          {"VCUT", AttrType::Int, INT_F(SB, vcut)},
          {"HORIZONTAL", AttrType::FlagTrue, INT_F(SB, horizontal)}},
         {REGION(SB, "SUBREGIONLSPIN", leftSpin), REGION(SB, "SUBREGIONRSPIN", rightSpin),
          ChildRule{"SUBREGIONTHUMB", RECT_F(SB, thumb), nullptr, Preset::None, 1, nullptr, RECT_F(SB, thumbWork)},
          ChildRule{"SUBREGIONSLIDERBK", RECT_F(SB, sliderBack), nullptr, Preset::None, 1, nullptr,
                    RECT_F(SB, sliderBackWork)},
          IMAGE_P(SB, "LSPINNORMALIMAGE", leftSpinImage, 4, leftSpin),
          IMAGE_P(SB, "RSPINNORMALIMAGE", rightSpinImage, 4, rightSpin), IMAGE(SB, "THUMBNORMALIMAGE", thumbImage),
          IMAGE(SB, "SLIDERBKNORMALIMAGE", sliderBackImage)}},
        // NEWSCROLLBAR: filled below from SCROLLBAR
        {},
        // SIMPLESLIDER
        {[]() -> SkinNode* { return new SS; },
         nullptr,
         nullptr,
         {{"HORIZONTAL", AttrType::FlagTrue, INT_F(SS, horizontal)}},
         {REGION(SS, "THUMBRELATIVEPOS", thumbRelative), REGION(SS, "SUBREGIONBK", backRegion),
          REGION(SS, "SUBREGIONTHUMB", thumbRegion), IMAGE_P(SS, "BACKGROUNDIMAGE", background, 1, backRegion),
          IMAGE_P(SS, "THUMBNORMALIMAGE", thumb, 4, thumbRegion)}},
        // SELSLIDER
        {[]() -> SkinNode* { return new SLS; },
         nullptr,
         nullptr,
         {},
         {IMAGE(SLS, "BACKGROUNDIMAGE", background), IMAGE(SLS, "SELIMAGE", selection),
          IMAGE(SLS, "LTHUMBIMAGE", leftThumb), IMAGE(SLS, "RTHUMBIMAGE", rightThumb)}},
        // SELECTSLIDER
        {[]() -> SkinNode* { return new SEL; },
         INT_F(SEL, designWidth),
         INT_F(SEL, designHeight),
         {{"HCUT", AttrType::Int, INT_F(SEL, hcut)}, {"VCUT", AttrType::Int, INT_F(SEL, vcut)}},
         {REGION(SEL, "THUMBRELATIVEPOS", thumbRelative), REGION(SEL, "SELECTIONRELATIVEPOS", selectionRelative),
          REGION(SEL, "SUBREGIONLTHUMB", leftThumbRegion), REGION(SEL, "SUBREGIONRTHUMB", rightThumbRegion),
          REGION(SEL, "SUBREGIONSELTHUMB", selThumbRegion), IMAGE(SEL, "BACKGROUNDIMAGE", background),
          IMAGE_P(SEL, "LTHUMBIMAGE", leftThumb, 1, leftThumbRegion),
          IMAGE_P(SEL, "RTHUMBIMAGE", rightThumb, 1, rightThumbRegion),
          IMAGE_P(SEL, "SELTHUMBIMAGE", selThumb, 4, selThumbRegion), IMAGE(SEL, "UPMAGNIFYIMAGE", upMagnify),
          IMAGE(SEL, "DOWNMAGNIFYIMAGE", downMagnify), IMAGE(SEL, "LEFTMAGNIFYIMAGE", leftMagnify),
          IMAGE(SEL, "RIGHTMAGNIFYIMAGE", rightMagnify), IMAGE(SEL, "HANDLEMAGNIFYIMAGE", handleMagnify),
          IMAGE(SEL, "SLIDERSELIMAGE", sliderSel)}},
        // MAGNIFYSLIDER
        {[]() -> SkinNode* { return new MAG; },
         INT_F(MAG, designWidth),
         INT_F(MAG, designHeight),
         {{"HCUT", AttrType::Int, INT_F(MAG, hcut)}, {"VCUT", AttrType::Int, INT_F(MAG, vcut)}},
         {REGION(MAG, "THUMBRELATIVEPOS", thumbRelative), REGION(MAG, "SELECTIONRELATIVEPOS", selectionRelative),
          REGION(MAG, "SUBREGIONLTHUMB", leftThumbRegion), REGION(MAG, "SUBREGIONRTHUMB", rightThumbRegion),
          REGION(MAG, "SUBREGIONSELTHUMB", selThumbRegion), IMAGE(MAG, "BACKGROUNDIMAGE", background),
          IMAGE_P(MAG, "LTHUMBIMAGE", leftThumb, 1, leftThumbRegion),
          IMAGE_P(MAG, "RTHUMBIMAGE", rightThumb, 1, rightThumbRegion),
          IMAGE_P(MAG, "SELTHUMBIMAGE", selThumb, 4, selThumbRegion), IMAGE(MAG, "SLIDERSELIMAGE", sliderSel)}},
        // SPINBUTTON
        {[]() -> SkinNode* { return new SP; },
         nullptr,
         nullptr,
         {{"HORIZONTAL", AttrType::FlagTrue, INT_F(SP, horizontal)}},
         {ChildRule{"LSPINNORMALIMAGE", nullptr, IMG_F(SP, leftSpin), Preset::NodeTimes, 4},
          ChildRule{"RSPINNORMALIMAGE", nullptr, IMG_F(SP, rightSpin), Preset::NodeTimes, 4}}},
        // PROGRESSBAR
        {[]() -> SkinNode* { return new PB; },
         nullptr,
         nullptr,
         {{"HORIZONTAL", AttrType::FlagTrue, INT_F(PB, horizontal)}},
         {IMAGE(PB, "BACKGROUNDIMAGE", background), IMAGE(PB, "FOREGROUNDIMAGE", foreground)}},
        // LISTCTRL
        {[]() -> SkinNode* { return new SkinListCtrlNode; },
         nullptr,
         nullptr,
         {},
         {IMAGE(SkinListCtrlNode, "BACKGROUNDIMAGE", background)}},
        // LISTBOX
        {[]() -> SkinNode* { return new SkinListBoxNode; },
         nullptr,
         nullptr,
         {},
         {IMAGE(SkinListBoxNode, "BACKGROUNDIMAGE", background)}},
        // DIRWHEEL
        {[]() -> SkinNode* { return new SkinDirWheelNode; },
         nullptr,
         nullptr,
         {},
         {IMAGE(SkinDirWheelNode, "FOREGROUNDIMAGE", foreground),
          IMAGE(SkinDirWheelNode, "BACKGROUNDIMAGE", background)}},
        // GROUPBOX
        {[]() -> SkinNode* { return new SkinGroupBoxNode; },
         nullptr,
         nullptr,
         {},
         {IMAGE(SkinGroupBoxNode, "CAPTIONIMAGE", caption)}},
        // LIGHTANGLE
        {[]() -> SkinNode* { return new LA; },
         nullptr,
         nullptr,
         {},
         {REGION(LA, "SUBREGIONFR", foreRegion), REGION(LA, "SUBREGIONBK", backRegion),
          IMAGE_P(LA, "BACKGROUNDIMAGE", background, 8, backRegion),
          IMAGE_P(LA, "FOREGROUNDIMAGE", foreground, 8, foreRegion)}},
    };
    if (kind == SkinKind::NewScrollBar) {
        static const KindRules newScrollBar = [] {
            KindRules r = rules[static_cast<int>(SkinKind::ScrollBar)];
            r.make = []() -> SkinNode* { return new SB(SkinKind::NewScrollBar); };
            return r;
        }();
        return newScrollBar;
    }
    return rules[static_cast<int>(kind)];
}

#undef INT_F
#undef RECT_F
#undef IMG_F
#undef REGION
#undef IMAGE
#undef IMAGE_P

// ---- The reader ----

class Reader {
public:
    explicit Reader(const SkinReaderHost& host) : host_(host) {}

    int Document(const SkinXmlNode& document) {
        int result = kOk;
        for (const SkinXmlNode& child : document.children) {
            if (child.type == 8) continue;
            if (SameNoCase(child.name, "XML")) continue;
            if (SameNoCase(child.name, "APP")) {
                result = App(child);
                if (result != kOk) return result;
                continue;
            }
            Show("NodeName \"" + child.name + "\" is unknown.\n");
        }
        return result;
    }

private:
    void Show(const std::string& text) const {
        if (host_.showMessage) host_.showMessage(text);
    }
    int Error(SkinErrorLevel level, const std::string& item) const {
        Show(FormatSkinError(level, item));
        return kFail;
    }
    // A name field: at most kSkinNameMax characters, else an error at `level`.
    bool SetName(std::string& field, const std::string& value, SkinErrorLevel level, const std::string& attribute,
                 int* result) const {
        if (value.size() > kSkinNameMax) {
            *result = Error(level, attribute);
            return false;
        }
        field = value;
        return true;
    }

    int App(const SkinXmlNode& app) {
        FreeViews();
        for (const auto& [name, value] : app.attributes) {
            std::string text = value.substr(0, kSkinAppTextMax);
            if (SameNoCase(name, "ID"))
                g_app.id = text;
            else if (SameNoCase(name, "GRABCUROSR"))
                g_app.grabCursor = text;
            else if (SameNoCase(name, "GRABCLOSECURSOE"))
                g_app.grabCloseCursor = text;
            else
                Show(host_.unknownAppAttributeText ? host_.unknownAppAttributeText(name) : name);
        }
        for (const SkinXmlNode& child : app.children) {
            if (child.type == 8) continue;
            auto* view = new SkinView;
            if (View(child, *view) != kOk) {
                DestroyView(view);
                return kFail;
            }
            Append(g_views, view);
        }
        return kOk;
    }

    int View(const SkinXmlNode& element, SkinView& view) {
        constexpr auto kLevel = SkinErrorLevel::View;
        int result = kOk;
        for (const auto& [name, value] : element.attributes) {
            if (SameNoCase(name, "ID")) {
                if (!SetName(view.name, value, kLevel, name, &result)) return result;
                g_state.viewName = view.name;
            } else if (SameNoCase(name, "LEFT")) {
                view.left = ParseSkinInt(value);
            } else if (SameNoCase(name, "TOP")) {
                view.top = ParseSkinInt(value);
            } else if (SameNoCase(name, "WIDTH")) {
                view.width = view.designWidth = ParseSkinInt(value);
            } else if (SameNoCase(name, "HEIGHT")) {
                view.height = view.designHeight = ParseSkinInt(value);
            } else if (SameNoCase(name, "VCUTCOUNT")) {
                view.vcutCount = ParseSkinInt(value);
            } else if (SameNoCase(name, "HCUTCOUNT")) {
                view.hcutCount = ParseSkinInt(value);
            } else if (SameNoCase(name, "SNAPLEFT")) {
                view.snapLeft = ParseSkinInt(value);
            } else if (SameNoCase(name, "SNAPRIGHT")) {
                view.snapRight = ParseSkinInt(value);
            } else if (SameNoCase(name, "SNAPTOP")) {
                view.snapTop = ParseSkinInt(value);
            } else if (SameNoCase(name, "SNAPBOTTOM")) {
                view.snapBottom = ParseSkinInt(value);
            } else if (SameNoCase(name, "POPUP")) {
                view.popup = value == "TRUE";
            } else if (SameNoCase(name, "ABSCOORDINATE")) {
                view.absoluteCoordinates = value == "TRUE";
            } else if (SameNoCase(name, "BASELINE")) {
                view.captureBaseline = value == "CAPTURE";
            } else {
                return Error(kLevel, name);
            }
        }
        for (const SkinXmlNode& child : element.children) {
            if (child.type == 8) continue;
            if (SameNoCase(child.name, "SUBVIEW")) {
                auto* sub = new SkinSubView;
                if (SubView(child, *sub) != kOk) {
                    DestroySubView(sub);
                    return kFail;
                }
                Append(view.subviews, sub);
            } else if (SameNoCase(child.name, "BACKGROUNDIMAGE")) {
                if (Image(child, view.background) != kOk) return kFail;
            } else {
                return Error(kLevel, child.name);
            }
        }
        return kOk;
    }

    static void DestroySubView(SkinSubView* sub) {
        auto* holder = new SkinView;
        holder->subviews = sub;
        DestroyView(holder);
    }

    int SubView(const SkinXmlNode& element, SkinSubView& sub) {
        constexpr auto kLevel = SkinErrorLevel::SubView;
        int result = kOk;
        for (const auto& [name, value] : element.attributes) {
            if (SameNoCase(name, "ID")) {
                if (!SetName(sub.name, value, kLevel, name, &result)) return result;
                g_state.subViewName = sub.name;
            } else if (SameNoCase(name, "LEFT")) {
                sub.left = ParseSkinInt(value);
            } else if (SameNoCase(name, "TOP")) {
                sub.top = ParseSkinInt(value);
            } else if (SameNoCase(name, "WIDTH")) {
                sub.width = sub.designWidth = ParseSkinInt(value);
            } else if (SameNoCase(name, "HEIGHT")) {
                sub.height = sub.designHeight = ParseSkinInt(value);
            } else if (SameNoCase(name, "PERMANENT")) {
                sub.permanent = SameNoCase(value, "FALSE") ? 0 : 1;
            } else if (SameNoCase(name, "BACKGROUNDTILED")) {
                sub.backgroundTiled = SameNoCase(value, "TRUE") ? 1 : 0;
            } else if (SameNoCase(name, "ChangeW")) {
                if (SameNoCase(value, "TRUE")) sub.changeWidth = 1;
            } else if (SameNoCase(name, "ChangeH")) {
                if (SameNoCase(value, "TRUE")) sub.changeHeight = 1;
            } else if (SameNoCase(name, "DRAWNUM")) {
                sub.drawNumber = ParseSkinInt(value);
            } else {
                return Error(kLevel, name);
            }
        }
        for (const SkinXmlNode& child : element.children) {
            if (child.type == 8) continue;
            if (SameNoCase(child.name, "BACKGROUNDIMAGE")) {
                g_state.controlTag = child.name;
                if (Image(child, sub.background) != kOk) return kFail;
                continue;
            }
            int kind = -1;
            for (int k = 0; k < kSkinKindCount; ++k)
                if (SameNoCase(child.name, kKindTags[k])) kind = k;
            if (kind < 0) return Error(kLevel, child.name);
            g_state.controlTag = child.name;
            SkinNode* node = RulesOf(static_cast<SkinKind>(kind)).make();
            if (Node(child, *node) != kOk) {
                for (SkinImage* image : node->Images())
                    ReleaseImageBitmap(*image);
                delete node;
                return kFail;
            }
            Append(sub.lists[kind], node);
        }
        return kOk;
    }

    int Node(const SkinXmlNode& element, SkinNode& node) {
        constexpr auto kLevel = SkinErrorLevel::Control;
        const KindRules& rules = RulesOf(node.kind);
        int result = kOk;
        for (const auto& [name, value] : element.attributes) {
            if (SameNoCase(name, "ID")) {
                if (!SetName(node.name, value, kLevel, name, &result)) return result;
                continue;
            }
            if (SameNoCase(name, "LEFT")) {
                node.left = ParseSkinInt(value);
                continue;
            }
            if (SameNoCase(name, "TOP")) {
                node.top = ParseSkinInt(value);
                continue;
            }
            if (SameNoCase(name, "WIDTH")) {
                node.width = ParseSkinInt(value);
                if (rules.designWidth) *rules.designWidth(node) = node.width;
                continue;
            }
            if (SameNoCase(name, "HEIGHT")) {
                node.height = ParseSkinInt(value);
                if (rules.designHeight) *rules.designHeight(node) = node.height;
                continue;
            }
            const AttrRule* rule = nullptr;
            for (const AttrRule& r : rules.attrs)
                if (SameNoCase(name, r.keyword)) rule = &r;
            if (!rule) return Error(kLevel, name);
            int32_t* field = rule->field(node);
            switch (rule->type) {
                case AttrType::Int:
                    *field = ParseSkinInt(value);
                    break;
                case AttrType::FlagTrue:
                    *field = SameNoCase(value, "TRUE") ? 1 : 0;
                    break;
                case AttrType::Enum: {
                    bool found = false;
                    for (const EnumValue* v = rule->values; v->text; ++v)
                        if (value == v->text) {
                            *field = v->value;
                            found = true;
                            break;
                        }
                    if (!found && rule->unknownSets) *field = rule->unknownValue;
                    break;
                }
            }
        }
        auto* button = node.kind == SkinKind::Button ? static_cast<SkinButtonNode*>(&node) : nullptr;
        if (button)
            for (SkinImage* image : button->Images()) {
                image->width = node.width;
                image->height = node.height;
            }
        std::vector<bool> present(rules.children.size(), false);
        for (const SkinXmlNode& child : element.children) {
            if (child.type == 8) continue;
            g_state.nodeTag = child.name.substr(0, 159);
            size_t index = rules.children.size();
            for (size_t i = 0; i < rules.children.size(); ++i)
                if (SameNoCase(child.name, rules.children[i].keyword)) index = i;
            if (index == rules.children.size()) return Error(kLevel, child.name);
            const ChildRule& rule = rules.children[index];
            present[index] = true;
            if (rule.rect) {
                SkinRect* rect = rule.rect(node);
                if (Rect(child, *rect) != kOk) return kFail;
                if (rule.workRect) *rule.workRect(node) = SkinRect{0, 0, 0, rect->bottom};
                continue;
            }
            SkinImage* image = rule.image(node);
            if (rule.preset == Preset::RegionTimes) {
                const SkinRect& region = *rule.presetRegion(node);
                image->width = Times(rule.factor, region.right - region.left);
                image->height = region.bottom - region.top;
            } else if (rule.preset == Preset::NodeTimes) {
                image->width = Times(rule.factor, node.width);
                image->height = node.height;
            }
            if (Image(child, *image) != kOk) return kFail;
        }
        if (button && button->toggle) {
            // Absent check images of a toggle button take the down and disabled pictures.
            auto fill = [&](const char* keyword, SkinImage& target, const SkinImage& from) {
                for (size_t i = 0; i < rules.children.size(); ++i)
                    if (std::strcmp(rules.children[i].keyword, keyword) == 0 && !present[i]) target = from;
            };
            fill("CHECKIMAGE", button->check, button->down);
            fill("HOVERDOWNIMAGE", button->hoverDown, button->down);
            fill("DOWNCHECKIMAGE", button->downCheck, button->down);
            fill("DISABLECHECKIMAGE", button->disabledCheck, button->disabled);
        }
        return kOk;
    }

    static int32_t Times(int32_t factor, int32_t value) {
        const int64_t product = static_cast<int64_t>(factor) * value;
        if (product > INT32_MAX) return INT32_MAX;
        if (product < INT32_MIN) return INT32_MIN;
        return static_cast<int32_t>(product);
    }
    static int32_t Plus(int32_t a, int32_t b) {
        const int64_t sum = static_cast<int64_t>(a) + b;
        if (sum > INT32_MAX) return INT32_MAX;
        if (sum < INT32_MIN) return INT32_MIN;
        return static_cast<int32_t>(sum);
    }

    int Rect(const SkinXmlNode& element, SkinRect& rect) {
        if (!element.hasAttributes) return kOk;
        for (const auto& [name, value] : element.attributes) {
            if (SameNoCase(name, "LEFT"))
                rect.left = ParseSkinInt(value);
            else if (SameNoCase(name, "TOP"))
                rect.top = ParseSkinInt(value);
            else if (SameNoCase(name, "WIDTH"))
                rect.right = Plus(rect.left, ParseSkinInt(value));
            else if (SameNoCase(name, "HEIGHT"))
                rect.bottom = Plus(rect.top, ParseSkinInt(value));
            else
                return Error(SkinErrorLevel::Node, name);
        }
        return kOk;
    }

    int Image(const SkinXmlNode& element, SkinImage& image) {
        if (!element.hasAttributes) return kOk;
        const SkinErrorLevel level =
            g_state.controlTag == "BACKGROUNDIMAGE" ? SkinErrorLevel::Control : SkinErrorLevel::Node;
        for (const auto& [name, value] : element.attributes) {
            if (SameNoCase(name, "SOURCE")) {
                if (value.size() > kSkinNameMax) return Error(level, name);
                image.source = value;
            } else if (SameNoCase(name, "LEFT")) {
                image.left = ParseSkinInt(value);
            } else if (SameNoCase(name, "TOP")) {
                image.top = ParseSkinInt(value);
            } else if (SameNoCase(name, "WIDTH")) {
                image.width = ParseSkinInt(value);
            } else if (SameNoCase(name, "HEIGHT")) {
                image.height = ParseSkinInt(value);
            } else {
                return Error(level, name);
            }
        }
        // The existence test reports a missing file itself.
        if (host_.checkImageFile && !host_.checkImageFile(image.source)) return kFail;
        return kOk;
    }

    const SkinReaderHost& host_;
};

}  // namespace

const char* SkinKindTag(SkinKind kind) {
    return kKindTags[static_cast<int>(kind)];
}

SkinReaderState& CurrentSkinReaderState() {
    return g_state;
}

std::string FormatSkinError(SkinErrorLevel level, const std::string& item) {
    const SkinReaderState& s = g_state;
    switch (level) {
        case SkinErrorLevel::View:
            return "<<VIEWTAG>>  " + s.viewName + "\n" + item + " is an error!";
        case SkinErrorLevel::SubView:
            return "<<VIEWTAG>>  " + s.viewName + "\n<<SUBVIEWTAG>>  " + s.subViewName + "\n" + item + " is an error!";
        case SkinErrorLevel::Control:
            return "<<VIEWTAG>>  " + s.viewName + "\n<<SUBVIEWTAG>>  " + s.subViewName + "\n<<CTRL>>  " + s.controlTag +
                   "\n" + item + " is an error!\n";
        case SkinErrorLevel::Node:
            return "<<VIEWTAG>>  " + s.viewName + "\n<<SUBVIEWTAG>>  " + s.subViewName + "\n<<CTRL>>  " + s.controlTag +
                   "\n<<Node>>  " + s.nodeTag + "\n" + item + " is an error!";
    }
    return item;
}

void SetSkinBitmapDeleter(SkinBitmapDeleter deleter) {
    g_deleter = deleter;
}

bool DeleteSkinBitmap(SkinBitmap bitmap) {
    return bitmap && g_deleter && g_deleter(bitmap);
}

int32_t ParseSkinInt(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<int64_t>(INT32_MAX) + 1) value = static_cast<int64_t>(INT32_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT32_MAX) value = INT32_MAX;
    return static_cast<int32_t>(value);
}

int CSkinLayout::ReadDocument(const SkinXmlNode& document, const SkinReaderHost& host) {
    Reader reader(host);
    return reader.Document(document);
}

int CSkinLayout::Free() {
    FreeViews();
    g_app = SkinApp{};
    return 1;
}

const SkinApp& CSkinLayout::App() {
    return g_app;
}

SkinView* CSkinLayout::Views() {
    return g_views;
}

SkinView* CSkinLayout::FindView(const char* viewName) {
    g_curView = nullptr;
    for (SkinView* v = g_views; v; v = v->next)
        if (viewName && v->name == viewName) {
            g_curView = v;
            break;
        }
    return g_curView;
}

SkinSubView* FindSubView(const char* viewName, const char* subViewName) {
    g_curSubView = nullptr;
    SkinView* view = CSkinLayout::FindView(viewName);
    if (!view) return nullptr;
    for (SkinSubView* s = view->subviews; s; s = s->next)
        if (subViewName && s->name == subViewName) {
            g_curSubView = s;
            break;
        }
    return g_curSubView;
}

namespace {
template <typename T>
T* FindInSub(SkinKind kind, const char* view, const char* subView, const char* name) {
    SkinNode*& cursor = g_curNode[static_cast<int>(kind)];
    cursor = nullptr;
    SkinSubView* sub = FindSubView(view, subView);
    if (!sub) return nullptr;
    for (SkinNode* n = sub->List(kind); n; n = n->next)
        if (name && n->name == name) {
            cursor = n;
            break;
        }
    return static_cast<T*>(cursor);
}

SkinNode* FirstOf(SkinKind kind) {
    SkinNode*& cursor = g_curNode[static_cast<int>(kind)];
    cursor = g_curSubView ? g_curSubView->List(kind) : nullptr;
    return cursor;
}
SkinNode* NextOf(SkinKind kind) {
    SkinNode*& cursor = g_curNode[static_cast<int>(kind)];
    if (cursor) cursor = cursor->next;
    return cursor;
}
}  // namespace

SkinStaticNode* CSkinLayout::FindStatic(const char* v, const char* s, const char* n) {
    return FindInSub<SkinStaticNode>(SkinKind::Static, v, s, n);
}
SkinScrollBarNode* CSkinLayout::FindScrollBar(const char* v, const char* s, const char* n) {
    return FindInSub<SkinScrollBarNode>(SkinKind::ScrollBar, v, s, n);
}
SkinSimpleSliderNode* CSkinLayout::FindSimpleSlider(const char* v, const char* s, const char* n) {
    return FindInSub<SkinSimpleSliderNode>(SkinKind::SimpleSlider, v, s, n);
}
SkinSelectSliderNode* CSkinLayout::FindSelectSlider(const char* v, const char* s, const char* n) {
    return FindInSub<SkinSelectSliderNode>(SkinKind::SelectSlider, v, s, n);
}
SkinMagnifySliderNode* CSkinLayout::FindMagnifySlider(const char* v, const char* s, const char* n) {
    return FindInSub<SkinMagnifySliderNode>(SkinKind::MagnifySlider, v, s, n);
}

SkinSubView* FirstSubView() {
    g_curSubView = g_curView ? g_curView->subviews : nullptr;
    return g_curSubView;
}
SkinSubView* NextSubView() {
    if (g_curSubView) g_curSubView = g_curSubView->next;
    return g_curSubView;
}

#define SKIN_WALK(Name, T, Kind)                         \
    T* First##Name() {                                   \
        return static_cast<T*>(FirstOf(SkinKind::Kind)); \
    }                                                    \
    T* Next##Name() {                                    \
        return static_cast<T*>(NextOf(SkinKind::Kind));  \
    }
SKIN_WALK(Static, SkinStaticNode, Static)
SKIN_WALK(Edit, SkinEditNode, Edit)
SKIN_WALK(Button, SkinButtonNode, Button)
SKIN_WALK(SpinTimeEdit, SkinSpinTimeEditNode, SpinTimeEdit)
SKIN_WALK(NewScrollBar, SkinScrollBarNode, NewScrollBar)
SKIN_WALK(SelectSlider, SkinSelectSliderNode, SelectSlider)
SKIN_WALK(MagnifySlider, SkinMagnifySliderNode, MagnifySlider)
#undef SKIN_WALK

SkinNode* FindNodeInView(SkinView* view, SkinKind kind, const char* name) {
    g_curView = view;
    if (!view || !name) return nullptr;
    for (SkinSubView* sub = FirstSubView(); sub; sub = NextSubView())
        for (SkinNode* node = FirstOf(kind); node; node = NextOf(kind))
            if (node->name == name) return node;
    return nullptr;
}
