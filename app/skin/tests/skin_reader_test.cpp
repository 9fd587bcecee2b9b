// The skin reader over files parsed by MSXML: a corpus of one file per error level and per
// element kind, with the exact message texts, and the shipped default skin.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "app/services/resource_library.h"
#include "app/skin/skin_images.h"
#include "app/skin/skin_layout.h"
#include "app/skin/skin_xml.h"
#include "framework/app.h"
#include "framework/resources.h"

namespace {

std::string ProgramFolder() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path);
    return folder.substr(0, folder.rfind('\\'));
}

class SkinReaderTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        library_ = LoadResourceLibrary();
        AfxSetResourceHandle(library_);
    }
    static void TearDownTestSuite() {
        AfxSetResourceHandle(nullptr);
        FreeResourceLibrary(library_);
    }
    void SetUp() override {
        char temp[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, temp);
        folder_ = std::string(temp) + "skin_reader_" + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(folder_.c_str(), nullptr);
        std::ofstream(folder_ + "\\a.png") << "x";
        ASSERT_EQ(SetSkinImageSource(folder_.c_str(), kSkinImageFolder), 1);
        AfxSetMessageBoxHook([this](const MessageBoxRequest& r) {
            messages_.push_back(std::string(r.text.c_str()));
            return IDOK;
        });
    }
    void TearDown() override {
        AfxSetMessageBoxHook(nullptr);
        CSkinLayout::Free();
        DeleteFileA((folder_ + "\\a.png").c_str());
        DeleteFileA((folder_ + "\\case.xml").c_str());
        RemoveDirectoryA(folder_.c_str());
    }
    int Parse(const std::string& text) {
        messages_.clear();
        CSkinLayout::Free();
        const std::string path = folder_ + "\\case.xml";
        std::ofstream(path, std::ios::binary) << text;
        return ParseSkinFile(path.c_str());
    }
    static std::string InSub(const std::string& controls, const std::string& subAttrs = "ID=\"S\"") {
        return "<?xml version=\"1.0\"?>\n<APP ID=\"t\"><VIEW ID=\"V\"><SUBVIEW " + subAttrs + ">" + controls +
               "</SUBVIEW></VIEW></APP>";
    }

    static HINSTANCE library_;
    std::string folder_;
    std::vector<std::string> messages_;
};
HINSTANCE SkinReaderTest::library_ = nullptr;

TEST_F(SkinReaderTest, ErrorCorpusGivesExactMessages) {
    const std::string missing = "\\nothere.png";
    struct Case {
        const char* what;
        std::string file;
        int result;
        std::string message;  // empty: no message
    };
    const std::vector<Case> cases = {
        {"declaration and comments", "<?xml version=\"1.0\"?>\n<!-- c -->\n<APP ID=\"x\"><!-- v --><V ID=\"a\"/></APP>",
         1, ""},
        {"lower-case names",
         "<app id=\"x\"><view id=\"a\" popup=\"true\"><subview id=\"s\"><button id=\"b\"/>"
         "</subview></view></app>",
         1, ""},
        {"unknown top-level element", "<OTHER/>", 1, "NodeName \"OTHER\" is unknown.\n"},
        {"view", "<APP><VIEW ID=\"V\" COLOR=\"1\"/></APP>", 0, "<<VIEWTAG>>  V\nCOLOR is an error!"},
        {"subview", InSub("", "ID=\"S\" SIZE=\"2\""), 0, "<<VIEWTAG>>  V\n<<SUBVIEWTAG>>  S\nSIZE is an error!"},
        {"control", InSub("<BUTTON ID=\"b\" SHAPE=\"round\"/>"), 0,
         "<<VIEWTAG>>  V\n<<SUBVIEWTAG>>  S\n<<CTRL>>  BUTTON\nSHAPE is an error!\n"},
        {"node", InSub("<SCROLLBAR ID=\"s\"><SUBREGIONTHUMB RIGHT=\"3\"/></SCROLLBAR>"), 0,
         "<<VIEWTAG>>  V\n<<SUBVIEWTAG>>  S\n<<CTRL>>  SCROLLBAR\n<<Node>>  SUBREGIONTHUMB\nRIGHT is an error!"},
        {"missing node image", InSub("<BUTTON ID=\"b\"><NORMALIMAGE SOURCE=\"nothere.png\"/></BUTTON>"), 0,
         "<<VIEWTAG>>  V\n<<SUBVIEWTAG>>  S\n<<CTRL>>  BUTTON\n<<Node>>  NORMALIMAGE\n" + folder_ + missing +
             " is an error!"},
        {"missing subview background", InSub("<BACKGROUNDIMAGE SOURCE=\"nothere.png\"/>"), 0,
         "<<VIEWTAG>>  V\n<<SUBVIEWTAG>>  S\n<<CTRL>>  BACKGROUNDIMAGE\n" + folder_ + missing + " is an error!\n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Parse(c.file), c.result) << c.what;
        if (c.message.empty()) {
            EXPECT_TRUE(messages_.empty()) << c.what << ": " << (messages_.empty() ? "" : messages_[0]);
        } else {
            ASSERT_EQ(messages_.size(), 1u) << c.what;
            EXPECT_EQ(messages_[0], c.message) << c.what;
        }
    }
}

TEST_F(SkinReaderTest, AppAttributeAndParseErrorsUseTheResourceTexts) {
    EXPECT_EQ(Parse("<APP ID=\"x\" THEME=\"dark\"><V ID=\"a\"/></APP>"), 1);
    CString expected;
    ASSERT_TRUE(expected.FormatId(2, L"THEME"));
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0], expected.c_str());
    EXPECT_NE(CSkinLayout::FindView("a"), nullptr);

    // A malformed file fails and reads nothing. The message box needs the error's position,
    // which Wine's parser does not give (it reports line and position 0); where it is known,
    // the message names it.
    EXPECT_EQ(Parse("<APP>\n  <VIEW ID=\"a\">\n</APP>"), 0);
    EXPECT_EQ(CSkinLayout::Views(), nullptr);
    ASSERT_LE(messages_.size(), 1u);
    if (!messages_.empty()) {
        EXPECT_NE(messages_[0].find("line 3"), std::string::npos) << messages_[0];
    }
}

TEST_F(SkinReaderTest, OversizedFileIsRefusedWhole) {
    std::string file = "<APP>";
    for (size_t i = 0; i <= kSkinMaxNodes; ++i)
        file += "<V/>";
    file += "</APP>";
    EXPECT_EQ(Parse(file), 0);
    EXPECT_EQ(messages_, std::vector<std::string>{"The skin file holds too many elements."});
    EXPECT_EQ(CSkinLayout::Views(), nullptr);
}

TEST_F(SkinReaderTest, EveryElementKindLandsInItsList) {
    for (int k = 0; k < kSkinKindCount; ++k) {
        const std::string tag = SkinKindTag(static_cast<SkinKind>(k));
        ASSERT_EQ(Parse(InSub("<" + tag + " ID=\"n\" LEFT=\"3\" WIDTH=\"7\"/><" + tag + " ID=\"m\"/>")), 1) << tag;
        SkinSubView* sub = CSkinLayout::Views()->subviews;
        for (int other = 0; other < kSkinKindCount; ++other) {
            SkinNode* head = sub->lists[other];
            if (other != k) {
                EXPECT_EQ(head, nullptr) << tag;
                continue;
            }
            ASSERT_NE(head, nullptr) << tag;
            EXPECT_EQ(head->name, "n");
            EXPECT_EQ(head->left, 3);
            EXPECT_EQ(head->width, 7);
            ASSERT_NE(head->next, nullptr);
            EXPECT_EQ(head->next->name, "m") << "document order";
        }
    }
}

TEST_F(SkinReaderTest, ShippedSkinsLoadWithoutMessages) {
    for (const char* size : {"1024x768", "800x600"}) {
        messages_.clear();
        CSkinLayout::Free();
        SetSkinImageSource((ProgramFolder() + "\\skin\\" + size).c_str(), kSkinImageFolder);
        ASSERT_EQ(CSkinLayout::Load((std::string("skin\\skin") + size + ".xml").c_str()), 1) << size;
        EXPECT_TRUE(messages_.empty()) << messages_[0];
        for (const char* view : {"ENC_MAIN_PAGE", "ENC_DV_PAGE", "ENC_FILE_PAGE", "EXPORT_ROOM"})
            EXPECT_NE(CSkinLayout::FindView(view), nullptr) << view;
        SkinSubView* gallery = FindSubView("SKIN_GALLERY", "ALL");
        ASSERT_NE(gallery, nullptr);
        for (int k = 0; k < kSkinKindCount; ++k)
            EXPECT_NE(gallery->lists[k], nullptr) << k;
    }
    // A missing file fails and leaves an empty tree.
    EXPECT_EQ(CSkinLayout::Load("skin\\none.xml"), 0);
    EXPECT_EQ(CSkinLayout::Views(), nullptr);
}

}  // namespace
