// Fuzz target of the skin layout reader. The input is a program that builds an element tree
// (element names and attribute names drawn mostly from the reader's own keywords, values
// from a short list or raw bytes), which is then read into the layout, walked and freed.
#include <cstdlib>
#include <string>
#include <vector>

#include "app/skin/skin_layout.h"
#include "tests/support/fuzz_driver.h"

namespace {

const char* const kNames[] = {"APP",
                              "xml",
                              "VIEW",
                              "SUBVIEW",
                              "BACKGROUNDIMAGE",
                              "BUTTON",
                              "SLIDER",
                              "STATIC",
                              "EDIT",
                              "COMBOBOX",
                              "SPINTIMEEDIT",
                              "SCROLLBAR",
                              "NEWSCROLLBAR",
                              "SIMPLESLIDER",
                              "SELSLIDER",
                              "SELECTSLIDER",
                              "MAGNIFYSLIDER",
                              "SPINBUTTON",
                              "PROGRESSBAR",
                              "LISTCTRL",
                              "LISTBOX",
                              "DIRWHEEL",
                              "GROUPBOX",
                              "LIGHTANGLE",
                              "NORMALIMAGE",
                              "DOWNIMAGE",
                              "DISABLEIMAGE",
                              "CHECKIMAGE",
                              "SUBREGIONTHUMB",
                              "SUBREGIONLSPIN",
                              "THUMBRELATIVEPOS",
                              "CBOLB",
                              "SBLSPINNORMALIMAGE",
                              "LSPINNORMALIMAGE",
                              "INCNORMALIMAGE",
                              "SELTHUMBIMAGE",
                              "SUBREGIONSELTHUMB",
                              "SUBREGIONBK",
                              "FOREGROUNDIMAGE",
                              "ID",
                              "LEFT",
                              "TOP",
                              "WIDTH",
                              "HEIGHT",
                              "SOURCE",
                              "TOGGLE",
                              "HORIZONTAL",
                              "TYPE",
                              "TEXTALIGN",
                              "SCROLLBARTYPE",
                              "PERMANENT",
                              "POPUP",
                              "HCUT",
                              "VCUT",
                              "ChangeW",
                              "DRAWNUM",
                              "GRABCUROSR",
                              "bogus"};
const char* const kValues[] = {"TRUE",        "true",
                               "FALSE",       "CAPTURE",
                               "CGLEDEDIT",   "STATIC_TEXT_RIGHT",
                               "SBS_VERT",    "CBS_DROPDOWN",
                               "-7",          "2147483647",
                               "99999999999", "  12x",
                               "a.png",       "",
                               "B1"};
constexpr int kNameCount = sizeof kNames / sizeof kNames[0];
constexpr int kValueCount = sizeof kValues / sizeof kValues[0];

struct Builder {
    const uint8_t* data;
    size_t size;
    size_t pos = 0;
    int Next() { return pos < size ? data[pos++] : -1; }
    std::string Text(int selector) {
        if (selector < 0) return {};
        if (selector < 200)
            return (selector & 1) ? kValues[(selector >> 1) % kValueCount] : kNames[(selector >> 1) % kNameCount];
        std::string raw;
        const int length = Next();
        for (int i = 0; i < (length < 0 ? 0 : length % 48); ++i) {
            const int c = Next();
            if (c < 0) break;
            raw += static_cast<char>(c);
        }
        return raw;
    }
    void Fill(SkinXmlNode& node, int depth) {
        while (true) {
            const int op = Next();
            if (op < 0 || op % 6 == 0) return;  // close
            switch (op % 6) {
                case 1:
                case 2:
                    if (depth < 8) {
                        SkinXmlNode child;
                        child.name = Text(Next());
                        Fill(child, depth + 1);
                        node.children.push_back(std::move(child));
                    }
                    break;
                case 3:
                    node.attributes.emplace_back(Text(Next()), Text(Next()));
                    break;
                case 4: {
                    SkinXmlNode comment;
                    comment.type = 8;
                    comment.hasAttributes = false;
                    comment.name = "#comment";
                    node.children.push_back(std::move(comment));
                    break;
                }
                case 5:
                    node.hasAttributes = !node.hasAttributes;
                    break;
            }
        }
    }
};

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Builder builder{data, size};
    SkinXmlNode document;
    document.type = 9;
    builder.Fill(document, 0);
    size_t messages = 0;
    SkinReaderHost host;
    host.showMessage = [&](const std::string&) { ++messages; };
    host.unknownAppAttributeText = [](const std::string& name) { return name; };
    host.checkImageFile = [](const std::string& source) { return source.size() % 5 != 4; };
    const int result = CSkinLayout::ReadDocument(document, host);
    // A failed read has always said why.
    Check(result >= 0 || messages > 0);
    for (SkinView* view = CSkinLayout::Views(); view; view = view->next) {
        Check(view->name.size() <= kSkinNameMax);
        for (SkinSubView* sub = view->subviews; sub; sub = sub->next) {
            Check(sub->permanent == 0 || sub->permanent == 1);
            for (int k = 0; k < kSkinKindCount; ++k)
                for (SkinNode* node = sub->lists[k]; node; node = node->next) {
                    Check(static_cast<int>(node->kind) == k);
                    Check(node->name.size() <= kSkinNameMax);
                    for (SkinImage* image : node->Images())
                        Check(image->source.size() <= kSkinNameMax);
                }
        }
        CSkinLayout::FindView(view->name.c_str());
        for (SkinSubView* sub = FirstSubView(); sub; sub = NextSubView())
            for (SkinButtonNode* b = FirstButton(); b; b = NextButton())
                Check(b->kind == SkinKind::Button);
    }
    CSkinLayout::Free();
    Check(CSkinLayout::Views() == nullptr);
    return 0;
}

fuzzdriver::Options fuzzdriver::TargetOptions() {
    Options options;
    // APP > VIEW > SUBVIEW > BUTTON with an image, and a STATIC with an attribute.
    options.seeds.push_back({1, 0, 3, 78, 13, 1, 4, 1, 6, 3, 78, 15, 1, 10, 3, 78, 1, 1, 48, 3, 96, 59, 0, 0, 0, 0});
    options.seeds.push_back({1, 0, 1, 4, 1, 6, 1, 14, 3, 100, 1, 3, 118, 9, 0, 0, 0, 0});
    options.randomMaxSize = 256;
    return options;
}
