// The layout reader over element trees: value rules, presets, the toggle button's filled-in
// images, regions in attribute order, error levels and lookups.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/skin/skin_layout.h"

namespace {

using Attrs = std::vector<std::pair<std::string, std::string>>;

SkinXmlNode E(const std::string& name, Attrs attrs = {}, std::vector<SkinXmlNode> children = {}) {
    SkinXmlNode n;
    n.name = name;
    n.attributes = std::move(attrs);
    n.children = std::move(children);
    return n;
}

SkinXmlNode Doc(std::vector<SkinXmlNode> views) {
    return E("#document", {}, {E("xml"), E("APP", {{"ID", "test"}}, std::move(views))});
}

SkinXmlNode OneSub(std::vector<SkinXmlNode> controls, Attrs subAttrs = {{"ID", "S"}}) {
    return Doc({E("VIEW", {{"ID", "V"}}, {E("SUBVIEW", std::move(subAttrs), std::move(controls))})});
}

class SkinLayoutTest : public ::testing::Test {
protected:
    void SetUp() override {
        host.showMessage = [this](const std::string& t) { messages.push_back(t); };
        host.unknownAppAttributeText = [](const std::string& n) { return "bad " + n; };
        host.checkImageFile = [this](const std::string& s) {
            if (s == "missing.png") {
                messages.push_back("missing");
                return false;
            }
            return true;
        };
    }
    void TearDown() override { CSkinLayout::Free(); }
    int Read(const SkinXmlNode& doc) { return CSkinLayout::ReadDocument(doc, host); }
    SkinSubView* Sub() { return CSkinLayout::Views() ? CSkinLayout::Views()->subviews : nullptr; }

    SkinReaderHost host;
    std::vector<std::string> messages;
};

TEST(SkinIntTest, ParsesLikeTheSkinFile) {
    const std::pair<const char*, int32_t> cases[] = {{"12", 12},
                                                     {"  -7", -7},
                                                     {"+5px", 5},
                                                     {"x9", 0},
                                                     {"", 0},
                                                     {"3.9", 3},
                                                     {"99999999999", INT32_MAX},
                                                     {"-99999999999", INT32_MIN}};
    for (const auto& [text, value] : cases)
        EXPECT_EQ(ParseSkinInt(text), value) << text;
}

TEST_F(SkinLayoutTest, FlagsAndDefaults) {
    ASSERT_EQ(
        Read(Doc({E(
            "view", {{"id", "A"}, {"popup", "true"}, {"ABSCOORDINATE", "TRUE"}, {"BASELINE", "CAPTURE"}},
            {E("SUBVIEW", {{"ID", "p1"}}), E("subview", {{"ID", "p2"}, {"PERMANENT", "fAlSe"}}),
             E("SUBVIEW", {{"ID", "p3"}, {"PERMANENT", "no"}, {"ChangeW", "true"}, {"BACKGROUNDTILED", "TRUE"}})})})),
        0);
    EXPECT_TRUE(messages.empty());
    SkinView* v = CSkinLayout::Views();
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->popup, 0) << "view flags compare exactly";
    EXPECT_EQ(v->absoluteCoordinates, 1);
    EXPECT_EQ(v->captureBaseline, 1);
    SkinSubView* s = v->subviews;
    EXPECT_EQ(s->permanent, 1);
    EXPECT_EQ(s->next->permanent, 0);
    EXPECT_EQ(s->next->next->permanent, 1);
    EXPECT_EQ(s->next->next->changeWidth, 1);
    EXPECT_EQ(s->next->next->backgroundTiled, 1);
}

TEST_F(SkinLayoutTest, EnumeratedValuesAndHorizontalDefault) {
    ASSERT_EQ(
        Read(OneSub(
            {E("EDIT", {{"ID", "e1"}, {"TYPE", "cgLedEdit"}}), E("EDIT", {{"ID", "e2"}, {"TYPE", "CGSIMPLETIMEEDIT"}}),
             E("COMBOBOX", {{"ID", "c"}, {"TYPE", "odd"}}), E("COMBOBOX", {{"ID", "c2"}, {"TYPE", "CBS_DROPDOWN"}}),
             E("STATIC", {{"ID", "s"}, {"TEXTALIGN", "STATIC_TEXT_RIGHT"}}),
             E("STATIC", {{"ID", "s2"}, {"TEXTALIGN", "STATIC_TEXT_RIGHT"}, {"TEXTALIGN", "RIGHT"}}),
             E("SCROLLBAR", {{"ID", "sb"}}), E("PROGRESSBAR", {{"ID", "pb"}, {"HORIZONTAL", "false"}})})),
        0);
    auto* e = static_cast<SkinEditNode*>(Sub()->List(SkinKind::Edit));
    EXPECT_EQ(e->editType, 0);
    EXPECT_EQ(static_cast<SkinEditNode*>(e->next)->editType, 2);
    auto* c = static_cast<SkinComboBoxNode*>(Sub()->List(SkinKind::ComboBox));
    EXPECT_EQ(c->comboType, 3);
    EXPECT_EQ(static_cast<SkinComboBoxNode*>(c->next)->comboType, 2);
    auto* s = static_cast<SkinStaticNode*>(Sub()->List(SkinKind::Static));
    EXPECT_EQ(s->textAlign, 2);
    EXPECT_EQ(static_cast<SkinStaticNode*>(s->next)->textAlign, 0);
    EXPECT_EQ(static_cast<SkinScrollBarNode*>(Sub()->List(SkinKind::ScrollBar))->horizontal, 1);
    EXPECT_EQ(static_cast<SkinProgressBarNode*>(Sub()->List(SkinKind::ProgressBar))->horizontal, 0);
}

TEST_F(SkinLayoutTest, RegionsFollowAttributeOrderAndPresetImages) {
    ASSERT_EQ(Read(OneSub({E("SCROLLBAR", {{"ID", "sb"}},
                             {E("SUBREGIONLSPIN", {{"WIDTH", "40"}, {"LEFT", "10"}, {"HEIGHT", "8"}}),
                              E("SUBREGIONRSPIN", {{"LEFT", "10"}, {"WIDTH", "40"}, {"TOP", "2"}, {"HEIGHT", "6"}}),
                              E("SUBREGIONTHUMB", {{"LEFT", "3"}, {"TOP", "4"}, {"HEIGHT", "5"}}),
                              E("LSPINNORMALIMAGE", {{"SOURCE", "a.png"}}),
                              E("RSPINNORMALIMAGE", {{"SOURCE", "a.png"}, {"HEIGHT", "99"}})})})),
              0);
    auto* sb = static_cast<SkinScrollBarNode*>(Sub()->List(SkinKind::ScrollBar));
    EXPECT_EQ(sb->leftSpin.right, 40);
    EXPECT_EQ(sb->rightSpin.right, 50);
    EXPECT_EQ(sb->thumbWork.bottom, 9);
    EXPECT_EQ(sb->thumbWork.left, 0);
    EXPECT_EQ(sb->leftSpinImage.width, 4 * 30);
    EXPECT_EQ(sb->leftSpinImage.height, 8);
    EXPECT_EQ(sb->rightSpinImage.width, 4 * 40);
    EXPECT_EQ(sb->rightSpinImage.height, 99) << "the element's own size overrides the preset";
}

TEST_F(SkinLayoutTest, ToggleButtonFillsAbsentImages) {
    const Attrs geometry = {{"ID", "b"}, {"WIDTH", "30"}, {"HEIGHT", "20"}};
    Attrs toggle = geometry;
    toggle.push_back({"TOGGLE", "True"});
    ASSERT_EQ(
        Read(OneSub({E("BUTTON", toggle,
                       {E("NORMALIMAGE", {{"SOURCE", "n.png"}}), E("DOWNIMAGE", {{"SOURCE", "d.png"}, {"LEFT", "60"}}),
                        E("DISABLEIMAGE", {{"SOURCE", "x.png"}, {"LEFT", "90"}})}),
                     E("BUTTON", geometry, {E("DOWNIMAGE", {{"SOURCE", "d.png"}})})})),
        0);
    auto* t = static_cast<SkinButtonNode*>(Sub()->List(SkinKind::Button));
    EXPECT_EQ(t->toggle, 1);
    EXPECT_EQ(t->normal.width, 30);
    EXPECT_EQ(t->normal.height, 20);
    for (SkinImage* image : {&t->check, &t->hoverDown, &t->downCheck}) {
        EXPECT_EQ(image->source, "d.png");
        EXPECT_EQ(image->left, 60);
    }
    EXPECT_EQ(t->disabledCheck.source, "x.png");
    auto* plain = static_cast<SkinButtonNode*>(t->next);
    EXPECT_TRUE(plain->check.source.empty());
    EXPECT_EQ(plain->check.width, 30) << "every image is preset to the node size";
}

TEST_F(SkinLayoutTest, ErrorLevelsNameWhereTheyStand) {
    struct Case {
        SkinXmlNode doc;
        std::string message;
    };
    const std::vector<Case> cases = {
        {Doc({E("VIEW", {{"ID", "V"}, {"COLOR", "1"}})}), "<<VIEWTAG>>  V\nCOLOR is an error!"},
        {Doc({E("VIEW", {{"ID", "V"}}, {E("PANEL")})}), "<<VIEWTAG>>  V\nPANEL is an error!"},
        {OneSub({}, {{"ID", "S"}, {"SIZE", "1"}}), "<<VIEWTAG>>  V\n<<SUBVIEWTAG>>  S\nSIZE is an error!"},
        {OneSub({E("KNOB")}), "<<VIEWTAG>>  V\n<<SUBVIEWTAG>>  S\nKNOB is an error!"},
        {OneSub({E("BUTTON", {{"ID", "b"}, {"SHAPE", "1"}})}),
         "<<VIEWTAG>>  V\n<<SUBVIEWTAG>>  S\n<<CTRL>>  BUTTON\nSHAPE is an error!\n"},
        {OneSub({E("STATIC", {{"ID", "s"}}, {E("THUMBIMAGE")})}),
         "<<VIEWTAG>>  V\n<<SUBVIEWTAG>>  S\n<<CTRL>>  STATIC\nTHUMBIMAGE is an error!\n"},
        {OneSub({E("SCROLLBAR", {{"ID", "s"}}, {E("SUBREGIONTHUMB", {{"RIGHT", "3"}})})}),
         "<<VIEWTAG>>  V\n<<SUBVIEWTAG>>  S\n<<CTRL>>  SCROLLBAR\n<<Node>>  SUBREGIONTHUMB\nRIGHT is an error!"},
        {OneSub({E("BUTTON", {{"ID", "b"}}, {E("NORMALIMAGE", {{"SRC", "a"}})})}),
         "<<VIEWTAG>>  V\n<<SUBVIEWTAG>>  S\n<<CTRL>>  BUTTON\n<<Node>>  NORMALIMAGE\nSRC is an error!"},
        {OneSub({E("BACKGROUNDIMAGE", {{"SRC", "a"}})}),
         "<<VIEWTAG>>  V\n<<SUBVIEWTAG>>  S\n<<CTRL>>  BACKGROUNDIMAGE\nSRC is an error!\n"},
        {OneSub({E("BUTTON", {{"ID", std::string(40, 'n')}})}),
         "<<VIEWTAG>>  V\n<<SUBVIEWTAG>>  S\n<<CTRL>>  BUTTON\nID is an error!\n"},
    };
    for (const Case& c : cases) {
        messages.clear();
        EXPECT_LT(Read(c.doc), 0) << c.message;
        ASSERT_EQ(messages.size(), 1u) << c.message;
        EXPECT_EQ(messages[0], c.message);
        CSkinLayout::Free();
    }
}

TEST_F(SkinLayoutTest, MissingImageFailsAndOtherTopLevelNodesOnlyWarn) {
    EXPECT_LT(Read(OneSub({E("BUTTON", {{"ID", "b"}}, {E("NORMALIMAGE", {{"SOURCE", "missing.png"}})})})), 0);
    EXPECT_EQ(messages, std::vector<std::string>{"missing"});
    CSkinLayout::Free();
    messages.clear();
    SkinXmlNode doc = Doc({E("V", {{"ID", "one"}})});
    doc.children.push_back(E("EXTRA"));
    doc.children[1].attributes.push_back({"COLOUR", "red"});
    EXPECT_EQ(Read(doc), 0);
    EXPECT_EQ(messages, (std::vector<std::string>{"bad COLOUR", "NodeName \"EXTRA\" is unknown.\n"}));
    ASSERT_NE(CSkinLayout::FindView("one"), nullptr);
}

TEST_F(SkinLayoutTest, LookupsAndWalks) {
    SkinXmlNode doc =
        Doc({E("A", {{"ID", "main"}},
               {E("SUBVIEW", {{"ID", "s1"}}, {E("STATIC", {{"ID", "t"}, {"LEFT", "1"}})}),
                E("SUBVIEW", {{"ID", "s2"}},
                  {E("BUTTON", {{"ID", "go"}, {"LEFT", "5"}}), E("STATIC", {{"ID", "t"}, {"LEFT", "2"}})})}),
             E("B", {{"ID", "main"}, {"LEFT", "9"}}), E("C", {{"ID", "Main"}})});
    doc.children.push_back(E("APP", {}, {E("D", {{"ID", "second"}})}));
    // A second APP starts the view list afresh.
    ASSERT_EQ(Read(doc), 0);
    EXPECT_EQ(CSkinLayout::FindView("main"), nullptr);
    CSkinLayout::Free();
    doc.children.pop_back();
    ASSERT_EQ(Read(doc), 0);
    EXPECT_EQ(CSkinLayout::FindView("main")->left, 0) << "first in file order";
    EXPECT_EQ(CSkinLayout::FindView("Main")->name, "Main");
    EXPECT_EQ(CSkinLayout::FindStatic("main", "s2", "t")->left, 2);
    EXPECT_EQ(CSkinLayout::FindStatic("main", "s3", "t"), nullptr);
    SkinNode* found = FindNodeInView(CSkinLayout::FindView("main"), SkinKind::Static, "t");
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->left, 1) << "first subview wins";
    EXPECT_EQ(FindNodeInView(CSkinLayout::FindView("main"), SkinKind::Button, "go")->left, 5);
    EXPECT_EQ(FindNodeInView(nullptr, SkinKind::Button, "go"), nullptr);
    CSkinLayout::FindView("main");
    int subs = 0;
    for (SkinSubView* s = FirstSubView(); s; s = NextSubView())
        ++subs;
    EXPECT_EQ(subs, 2);
}

}  // namespace
